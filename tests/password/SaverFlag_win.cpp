// Prints the system's screen-saver-running flag as "running=N"; with an
// argument of 0 or 1 it first sets the flag to that value.
#include <windows.h>
#include <cstdio>
#include <cstdlib>

int main(int argc, char **argv)
{
    if (argc > 1) {
        UINT previous = 0;
        if (!SystemParametersInfoA(SPI_SCREENSAVERRUNNING, atoi(argv[1]) ? TRUE : FALSE,
                                   &previous, 0))
            return 1;
    }
    BOOL running = FALSE;
    if (!SystemParametersInfoA(SPI_GETSCREENSAVERRUNNING, 0, &running, 0)) return 1;
    printf("running=%d\n", running ? 1 : 0);
    return 0;
}
