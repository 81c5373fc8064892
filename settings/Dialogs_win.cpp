// Configure mode and its dialogs (placeholder).
#include "host/SaverHost.h"

BOOL RegisterSaverDialogClasses(HINSTANCE)
{
    return TRUE;
}

int RunConfigure(HWND)
{
    return 0;
}
