/* Starts the library, draws sequence numbers, sees an argument refused, stops it again. */
#include <pellax.h>
#include <stdio.h>

int main(void)
{
    int first;
    int second;

    if (PELLAX_Init(NULL) != 0) {
        return 1;
    }
    first = PELLAX_GenerateSequence();
    second = PELLAX_GenerateSequence();
    if (first < 0 || second < 0 || (((unsigned int)second - (unsigned int)first) & 0x7FFFFFFFu) != 1u) {
        printf("bad sequence numbers %d %d\n", first, second);
        return 2;
    }
    if (PELLAX_SERVER_CreateSession(NULL, 7000, NULL) != -4) {
        return 3;
    }
    PELLAX_FreeBuffer(NULL);
    if (PELLAX_Uninit() != 0) {
        return 4;
    }
    printf("pellax consumer ok\n");
    return 0;
}
