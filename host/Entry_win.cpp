// Process entry and mode dispatch (placeholder until the dispatcher lands).
#include "host/SaverHost.h"

SaverRecord SaverState;

void SaverEntry()
{
    ExitProcess((UINT)SaverMain(GetModuleHandleA(nullptr), ""));
}

int SaverMain(HINSTANCE instance, const char *)
{
    SaverState.instance = instance;
    return RunConfigure(nullptr);
}

int RunPreview(const char *)
{
    return -1;
}

int SetSaverRunning(BOOL)
{
    return 0;
}
