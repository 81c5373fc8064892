// Stand-in for the system's password-change service ("MPR.DLL"). It records
// what it was asked into the file named by ZEMBLOID_MPR_LOG, together with
// what it sees of the owner window, and changes nothing.
#include "DoubleLog_win.h"

static const char LOG[] = "ZEMBLOID_MPR_LOG";

extern "C" __declspec(dllexport) DWORD WINAPI PwdChangePasswordA(LPCSTR provider, HWND owner,
                                                                DWORD reserved1, DWORD reserved2)
{
    char ownerClass[64] = "";
    if (owner && IsWindow(owner)) GetClassNameA(owner, ownerClass, sizeof ownerClass);
    DoubleLog(LOG, "change provider [%s] owner %lu reserved %lu %lu", provider ? provider : "(null)",
              (unsigned long)(UINT_PTR)owner, reserved1, reserved2);
    DoubleLog(LOG, "owner class [%s] foreground %lu desktop %lu", ownerClass,
              (unsigned long)(UINT_PTR)GetForegroundWindow(),
              (unsigned long)(UINT_PTR)GetDesktopWindow());
    return 0;
}

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved)
{
    DoubleLogAttachment(LOG, reason, reserved);
    return TRUE;
}
