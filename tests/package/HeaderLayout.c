/* The public header compiled as C99 with every warning an error, and the record layout as C sees it:
 * a negative array size fails the build. */
#include <stddef.h>
#include <stdio.h>

#include "pellax.h"

#define LAYOUT_CHECK(name, condition) typedef char layout_check_##name[(condition) ? 1 : -1]

LAYOUT_CHECK(message_size, sizeof(PELLAX_Message) == 320);
LAYOUT_CHECK(command, offsetof(PELLAX_Message, command) == 0);
LAYOUT_CHECK(data, offsetof(PELLAX_Message, data) == 8);
LAYOUT_CHECK(data_length, offsetof(PELLAX_Message, dataLength) == 16);
LAYOUT_CHECK(ext, offsetof(PELLAX_Message, ext) == 24);
LAYOUT_CHECK(sequence, offsetof(PELLAX_Message, sequence) == 32);
LAYOUT_CHECK(timestamp, offsetof(PELLAX_Message, timestamp) == 40);
LAYOUT_CHECK(allocator, offsetof(PELLAX_Message, allocator) == 48);
LAYOUT_CHECK(flag, offsetof(PELLAX_Message, flag) == 56);
LAYOUT_CHECK(reserved, offsetof(PELLAX_Message, reserved) == 60);
LAYOUT_CHECK(reserved_size, sizeof(((PELLAX_Message*)0)->reserved) == 260);
LAYOUT_CHECK(ext_size, sizeof(PELLAX_MessageExt) == 24);
LAYOUT_CHECK(ext_next, offsetof(PELLAX_MessageExt, next) == 16);

/* The callback types must accept host functions of exactly these shapes. */
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
    if (log(3, "PELLAX", "%s", "x") != 3 || notify(1, 5, &message, NULL) != 6 || message.allocator(1) != NULL) {
        printf("a callback of the header's shape did not run as written\n");
        return 1;
    }
    return 0;
}
