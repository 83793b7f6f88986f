/* The public header compiled as C99 with every warning an error, which also evaluates its record
 * layout checks, and host callbacks of exactly the documented shapes assigned to its types. */
#include <stddef.h>

#include "pellax.h"

static int HostLog(int level, const char* module, const char* format, ...)
{
    (void)module;
    (void)format;
    return level;
}

static int HostNotify(unsigned int id, unsigned int type, PELLAX_Message* message, void* user)
{
    (void)message;
    (void)user;
    return (int)(id + type);
}

static void* HostAllocate(uint64_t size)
{
    (void)size;
    return NULL;
}

int main(void)
{
    PELLAX_Message message = {0};
    PELLAX_LogCallBack log = HostLog;
    PELLAX_NotifyCallBack notify = HostNotify;

    message.allocator = HostAllocate;
    return log(3, "PELLAX", "%s", "x") != 3 || notify(1, 5, &message, NULL) != 6 || message.allocator(1) != NULL;
}
