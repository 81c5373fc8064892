// Windows 9x password lock: the system's verifier held for the life of the
// saver window, and change-password mode handed to the system's service.
#include "host/SaverHost.h"
#include "host/CommandLine.h"

typedef DWORD(WINAPI *PwdChangePasswordProc)(LPCSTR provider, HWND owner, DWORD reserved1,
                                             DWORD reserved2);

// True when the user has enabled the screen-saver password. The value is read
// into four zeroed bytes without asking for its type: shorter values fill only
// the first bytes, text counts by its bytes, and a longer value fails the read.
static bool PasswordEnabled(HKEY desktop)
{
    DWORD value = 0;
    DWORD size = sizeof value;
    LONG result = RegQueryValueExA(desktop, "ScreenSaveUsePassword", nullptr, nullptr,
                                   reinterpret_cast<BYTE *>(&value), &size);
    return result == ERROR_SUCCESS && value != 0;
}

// Loads the system's verifier when the password is in use and tells the
// system a saver is running for as long as the verifier stays loaded.
void LoadPasswordVerifier()
{
    if (!SaverState.win9x) return;
    if (SaverState.passwordModule) UnloadPasswordVerifier();
    HKEY desktop = nullptr;
    if (RegOpenKeyA(HKEY_CURRENT_USER, "Control Panel\\Desktop", &desktop) != ERROR_SUCCESS)
        return;
    if (PasswordEnabled(desktop)) {
        SaverState.passwordModule = LoadLibraryA("PASSWORD.CPL");
        if (SaverState.passwordModule) {
            SaverState.verifyPassword = reinterpret_cast<VerifyScreenSavePwdProc>(
                reinterpret_cast<void *>(GetProcAddress(SaverState.passwordModule,
                                                        "VerifyScreenSavePwd")));
            if (SaverState.verifyPassword)
                SetSaverRunning(TRUE);
            else
                UnloadPasswordVerifier();
        }
    }
    RegCloseKey(desktop);
}

// Releases the verifier; the running flag is cleared only if it was set.
void UnloadPasswordVerifier()
{
    if (!SaverState.win9x || !SaverState.passwordModule) return;
    HMODULE module = SaverState.passwordModule;
    SaverState.passwordModule = nullptr;
    bool hadVerifier = SaverState.verifyPassword != nullptr;
    SaverState.verifyPassword = nullptr;
    FreeLibrary(module);
    if (hadVerifier) SetSaverRunning(FALSE);
}

// Change-password mode: the owner is the window named on the command line,
// or the foreground window when that names none. Always succeeds.
int RunChangePassword(const char *text)
{
    HWND owner = reinterpret_cast<HWND>(static_cast<UINT_PTR>(ParseWindowHandle(text)));
    if (!owner || !IsWindow(owner)) owner = GetForegroundWindow();
    ChangeSaverPassword(owner);
    return 0;
}

// Asks the system's password-change service to change the saver's password.
void ChangeSaverPassword(HWND owner)
{
    HMODULE module = LoadLibraryA("MPR.DLL");
    if (!module) return;
    PwdChangePasswordProc change = reinterpret_cast<PwdChangePasswordProc>(
        reinterpret_cast<void *>(GetProcAddress(module, "PwdChangePasswordA")));
    if (change) change("SCRSAVE", owner, 0, 0);
    FreeLibrary(module);
}
