// The platform's GUI entry point. Everything happens in SaverEntry, which
// reads the command line itself and never returns.
#include "host/SaverHost.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    SaverEntry();
    return 0;
}
