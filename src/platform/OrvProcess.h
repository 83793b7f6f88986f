// The calling process's identifier, as the operating system numbers it.
#ifndef PELLAX_PLATFORM_ORV_PROCESS_H
#define PELLAX_PLATFORM_ORV_PROCESS_H

unsigned int OrvCurrentProcessId();

#endif
