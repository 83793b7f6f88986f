/* The public header compiled as C99 with every warning an error, which also evaluates its record
 * layout checks; the C++ tests use its callback and allocator types with host functions. */
#include "pellax.h"

int main(void)
{
    PELLAX_Message message = {0};
    PELLAX_MessageExt ext = {0, 0, NULL, NULL};

    message.ext = &ext;
    return (int)message.command + (int)message.ext->type;
}
