// The process entry of zembloid.scr. The program links no C run-time library
// and no start-up code, so that it loads on every Windows from 95 on: the
// loader calls SaverStart directly, and SaverEntry reads the command line
// itself and ends the process with ExitProcess. Nothing has to run before it:
// every global record is declared __constinit, so the compiler refuses one
// that would need a constructor at run time.
#include "host/SaverHost.h"

extern "C" void WINAPI SaverStart()
{
    SaverEntry();
}
