// Windows 9x password lock and password change (placeholder: no password in use).
#include "host/SaverHost.h"

void LoadPasswordVerifier()
{
}

void UnloadPasswordVerifier()
{
}

int RunChangePassword(const char *)
{
    return 0;
}

void ChangeSaverPassword(HWND)
{
}
