/* A minimal server host: answers every request (even command) with command + 1, the same sequence
 * and "pong: " before the body. Usage: pellax_example_server PORT [REQUESTS]
 * With REQUESTS it stops after answering that many; without, it runs until killed. */
#define _POSIX_C_SOURCE 200809L /* nanosleep */

#include <pellax.h>
#include <stdatomic.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

static atomic_int answered;

static int on_notify(unsigned int id, unsigned int type, PELLAX_Message* message, void* user)
{
    (void)user;
    if (type == 1) {
        printf("client %u joined\n", id);
    } else if (type == 4) {
        printf("client %u left\n", id);
    } else if (type == 5) {
        printf("client %u registered: %.*s\n", id, message->dataLength, (const char*)message->data);
    } else if (type == 0 && message->command % 2 == 0) {
        unsigned char body[512];
        int length = message->dataLength < 500 ? message->dataLength : 500;
        memcpy(body, "pong: ", 6);
        memcpy(body + 6, message->data, (size_t)length);
        PELLAX_Message answer;
        memset(&answer, 0, sizeof(answer));
        answer.command = message->command + 1;
        answer.sequence = message->sequence; /* the caller waits for this sequence */
        answer.data = body;
        answer.dataLength = length + 6;
        PELLAX_SERVER_Send(id, &answer);
        atomic_fetch_add(&answered, 1);
    }
    fflush(stdout);
    return 0;
}

int main(int argc, char** argv)
{
    if (argc < 2) {
        fprintf(stderr, "usage: %s PORT [REQUESTS]\n", argv[0]);
        return 2;
    }
    int requests = argc > 2 ? atoi(argv[2]) : 0;
    PELLAX_Init(NULL);
    PELLAX_SERVER_SetNotifyCallBack(on_notify, NULL);
    if (PELLAX_SERVER_CreateSession("127.0.0.1", atoi(argv[1]), "{\"keepalive-interval\":5}") != 0) {
        fprintf(stderr, "cannot listen on port %s\n", argv[1]);
        PELLAX_Uninit();
        return 1;
    }
    printf("listening on 127.0.0.1:%s\n", argv[1]);
    fflush(stdout);
    struct timespec pause = {0, 50 * 1000 * 1000};
    while (requests == 0 || atomic_load(&answered) < requests) {
        nanosleep(&pause, NULL);
    }
    nanosleep(&pause, NULL); /* let the last answer leave */
    PELLAX_SERVER_DestroySession();
    PELLAX_Uninit();
    return 0;
}
