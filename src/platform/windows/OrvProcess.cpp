#include "platform/OrvProcess.h"

#include <windows.h>

unsigned int OrvCurrentProcessId()
{
    // Read from the thread's own environment block: no system call, and no fork to forget it across.
    return static_cast<unsigned int>(GetCurrentProcessId());
}
