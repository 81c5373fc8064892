// Saver host: the process-wide framework record and the procedures that make up
// entry, the saver window, its message chain and the close rules.
#pragma once

#include <windows.h>
#include <imm.h>

#include "host/CloseRules.h"
#include "host/CommandLine.h"

typedef BOOL(WINAPI *VerifyScreenSavePwdProc)(HWND window);
typedef HIMC(WINAPI *ImmAssociateContextProc)(HWND window, HIMC context);

// Everything the framework knows about this process. One instance, zeroed at
// start except for lastVerifyTick, whose "no verification yet" value is all ones.
struct SaverRecord {
    // Entry and mode dispatch.
    HINSTANCE instance = nullptr;
    bool win9x = false;
    // Saver window and message chain.
    HWND mainWindow = nullptr;
    bool preview = false;
    HMODULE imeModule = nullptr;
    ImmAssociateContextProc imeAssociate = nullptr;
    HIMC savedInputContext = nullptr;
    // Close rules.
    bool closing = false;
    bool checking = false;
    DWORD lastVerifyTick = 0xFFFFFFFF;
    POINT mouseBaseline = {0, 0};
    // Windows 9x password lock.
    HMODULE passwordModule = nullptr;
    VerifyScreenSavePwdProc verifyPassword = nullptr;
};

extern SaverRecord SaverState;

// The verify-password request the saver window sends to itself.
const UINT WM_VERIFY_PASSWORD = WM_APP;

// Entry and mode dispatch.
void SaverEntry();
int SaverMain(HINSTANCE instance, const char *tail);
int RunPreview(const char *text);
int SetSaverRunning(BOOL on);

// Runs body(text) under the structured-exception guard of the mode dispatch.
typedef int (*GuardedProc)(const char *text);
int RunGuarded(GuardedProc body, const char *text);

// The unwind the guard's handler calls: the system's RtlUnwind. On i386 tests
// put a stand-in here that changes the registers Windows NT's own may change.
typedef VOID(WINAPI *GuardUnwindProc)(PVOID targetFrame, PVOID targetIp, EXCEPTION_RECORD *record,
                                      PVOID returnValue);
extern GuardUnwindProc GuardUnwind;

// Exit code of saver and preview mode when the window class could not be
// registered or the window could not be created: the same code as every other
// refused request.
const int EXIT_NO_WINDOW = -1;

// Saver window and message chain.
int RunSaverWindow(HWND parent);
LRESULT CALLBACK SaverOuterProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// The steps of RunSaverWindow that make the window: the class (procedure
// SaverOuterProc), and the full-screen window (no parent) or the preview
// child, covering `area` (desktop or parent client coordinates). Set
// SaverState.preview before creating a preview.
BOOL RegisterSaverClass();
HWND CreateSaverWindow(HWND parent, RECT area);

// The desktop area the full-screen window covers: every monitor.
RECT SaverScreenArea();

// The stage the outer procedure hands messages on to. Always SaverFrameProc in
// the product; tests put a recorder in front of it to see what gets through.
extern WNDPROC SaverMiddleStage;

// Close rules: the last stage of the chain.
LRESULT WINAPI SaverDefaultProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
BOOL CheckCloseAllowed(HWND window);

// Windows 9x password lock and password change.
void LoadPasswordVerifier();
void UnloadPasswordVerifier();
int RunChangePassword(const char *text);
void ChangeSaverPassword(HWND owner);

// Hooks the saver itself fills: its window procedure (the middle stage of the
// chain), configure mode, and the dialog-class registration hook.
LRESULT WINAPI SaverFrameProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
int RunConfigure(HWND owner);
BOOL RegisterSaverDialogClasses(HINSTANCE instance);
