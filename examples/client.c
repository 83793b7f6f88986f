/* A minimal client host: connects, waits for the registration, sends one synchronous request and
 * prints the answer. Usage: pellax_example_client PORT [TEXT] */
#define _POSIX_C_SOURCE 200809L /* nanosleep */

#include <pellax.h>
#include <stdatomic.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

static atomic_int last_event = -1;

static int on_notify(unsigned int handle, unsigned int type, PELLAX_Message* message, void* user)
{
    (void)handle;
    (void)user;
    if (type == 5) {
        printf("registered: %.*s\n", message->dataLength, (const char*)message->data);
    }
    if (type <= 5) {
        atomic_store(&last_event, (int)type);
    }
    return 0;
}

/* Waits up to ten seconds for registration (event 5); gives up on a failed connection (event 2). */
static int wait_registered(void)
{
    struct timespec pause = {0, 20 * 1000 * 1000};
    for (int i = 0; i < 500; ++i) {
        int event = atomic_load(&last_event);
        if (event == 5 || event == 2) {
            return event == 5;
        }
        nanosleep(&pause, NULL);
    }
    return 0;
}

int main(int argc, char** argv)
{
    if (argc < 2) {
        fprintf(stderr, "usage: %s PORT [TEXT]\n", argv[0]);
        return 2;
    }
    const char* text = argc > 2 ? argv[2] : "ping";
    PELLAX_Init(NULL);
    PELLAX_CLIENT_SetNotifyCallBack(on_notify, NULL);
    int handle = PELLAX_CLIENT_CreateSession("127.0.0.1", atoi(argv[1]), "{\"connect-timeout\":3}");
    int ok = handle >= 0 && wait_registered();

    PELLAX_Message request, response;
    memset(&request, 0, sizeof(request));
    memset(&response, 0, sizeof(response));
    request.command = 1000;
    request.data = (unsigned char*)text;
    request.dataLength = (int32_t)strlen(text);
    if (ok && PELLAX_CLIENT_SynSend((unsigned int)handle, &request, &response, 5) == 0) {
        printf("answer (command %u): %.*s\n", response.command, response.dataLength, (const char*)response.data);
        PELLAX_FreeBuffer(response.data);
    } else {
        printf("no answer\n");
        ok = 0;
    }
    if (handle >= 0) {
        PELLAX_CLIENT_DestroySession((unsigned int)handle);
    }
    PELLAX_Uninit();
    return ok ? 0 : 1;
}
