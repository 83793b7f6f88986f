// Lets the compiler check the arguments of printf-like functions against their format. The C++
// runtime formats the C99 way here, not as the system's msvcrt does, so the checks must too.
#ifndef PELLAX_PLATFORM_ORV_PRINTF_FORMAT_H
#define PELLAX_PLATFORM_ORV_PRINTF_FORMAT_H

#define ORV_PRINTF_FORMAT(formatIndex, firstArgument) __attribute__((format(gnu_printf, formatIndex, firstArgument)))

#endif
