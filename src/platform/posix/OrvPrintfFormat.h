// Lets the compiler check the arguments of printf-like functions against their format.
#ifndef PELLAX_PLATFORM_ORV_PRINTF_FORMAT_H
#define PELLAX_PLATFORM_ORV_PRINTF_FORMAT_H

#define ORV_PRINTF_FORMAT(formatIndex, firstArgument) __attribute__((format(printf, formatIndex, firstArgument)))

#endif
