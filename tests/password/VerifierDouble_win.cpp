// Stand-in for the system's screen-saver password verifier ("PASSWORD.CPL").
// A test steers it through the environment:
//   ZEMBLOID_PWD_LOG      file that receives one line per event
//   ZEMBLOID_PWD_ANSWERS  the answers of successive calls, '1' accept and '0'
//                         reject; the last one repeats (default: reject)
//   ZEMBLOID_PWD_ANSWER_FILE  when set, each call answers with the first
//                         character of this file instead, so that a test can
//                         change its mind while the saver runs
//   ZEMBLOID_PWD_HOLD_MS  how long each call keeps dispatching messages before
//                         it answers, as the system's modal dialog would
//   ZEMBLOID_PWD_KEYS_MS  comma-separated delays after the first call returns
//                         at which a key is pressed (space), timed from here
//                         because a test driving the display cannot be so
//                         exact; the cursor shown at each press is logged
// Built once with the verifier entry and once without it.
#include "DoubleLog_win.h"

#include <cstdlib>

static const char LOG[] = "ZEMBLOID_PWD_LOG";

#ifndef WITHOUT_VERIFIER
static long callCount = 0;

static DWORD EnvironmentNumber(const char *variable, DWORD fallback)
{
    char text[32];
    DWORD length = GetEnvironmentVariableA(variable, text, sizeof text);
    if (length == 0 || length >= sizeof text) return fallback;
    return strtoul(text, nullptr, 10);
}

static bool AnswerFromFile(bool *answer)
{
    char path[MAX_PATH];
    DWORD length = GetEnvironmentVariableA("ZEMBLOID_PWD_ANSWER_FILE", path, sizeof path);
    if (length == 0 || length >= sizeof path) return false;
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    char first = '0';
    DWORD read = 0;
    if (file != INVALID_HANDLE_VALUE) {
        ReadFile(file, &first, 1, &read, nullptr);
        CloseHandle(file);
    }
    *answer = read == 1 && first == '1';
    return true;
}

static bool AnswerForCall(long call)
{
    bool fromFile = false;
    if (AnswerFromFile(&fromFile)) return fromFile;
    char answers[64];
    DWORD length = GetEnvironmentVariableA("ZEMBLOID_PWD_ANSWERS", answers, sizeof answers);
    if (length == 0 || length >= sizeof answers) return false;
    long index = call - 1 < (long)length ? call - 1 : (long)length - 1;
    return answers[index] == '1';
}

// Keeps the caller's messages flowing for the given time, as a modal dialog does.
static void DispatchFor(DWORD milliseconds)
{
    DWORD start = GetTickCount();
    for (;;) {
        DWORD elapsed = GetTickCount() - start;
        if (elapsed >= milliseconds) return;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, milliseconds - elapsed, QS_ALLINPUT);
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
    }
}

struct KeyPlan {
    DWORD returnTick;
    char delays[128];
};

static KeyPlan keyPlan;

static DWORD WINAPI PressKeys(LPVOID)
{
    const char *next = keyPlan.delays;
    while (*next) {
        char *end = nullptr;
        DWORD delay = strtoul(next, &end, 10);
        if (end == next) break;
        DWORD elapsed = GetTickCount() - keyPlan.returnTick;
        if (delay > elapsed) Sleep(delay - elapsed);
        CURSORINFO cursor = {};
        cursor.cbSize = sizeof cursor;
        GetCursorInfo(&cursor);
        DWORD pressed = GetTickCount();
        keybd_event(VK_SPACE, 0x39, 0, 0);
        keybd_event(VK_SPACE, 0x39, KEYEVENTF_KEYUP, 0);
        DoubleLog(LOG, "key %lu after %lu cursor %lu", pressed, pressed - keyPlan.returnTick,
                  (unsigned long)(UINT_PTR)cursor.hCursor);
        next = *end == ',' ? end + 1 : end;
    }
    return 0;
}

static void StartKeyPlan(DWORD returnTick)
{
    DWORD length = GetEnvironmentVariableA("ZEMBLOID_PWD_KEYS_MS", keyPlan.delays,
                                           sizeof keyPlan.delays);
    if (length == 0 || length >= sizeof keyPlan.delays) return;
    keyPlan.returnTick = returnTick;
    HANDLE thread = CreateThread(nullptr, 0, PressKeys, nullptr, 0, nullptr);
    if (thread) CloseHandle(thread);
}

extern "C" __declspec(dllexport) BOOL WINAPI VerifyScreenSavePwd(HWND owner)
{
    long call = ++callCount;
    BOOL running = FALSE;
    SystemParametersInfoA(SPI_GETSCREENSAVERRUNNING, 0, &running, 0);
    DoubleLog(LOG, "verify %ld owner %lu visible %d running %d start %lu", call,
              (unsigned long)(UINT_PTR)owner, IsWindowVisible(owner) ? 1 : 0, running ? 1 : 0,
              GetTickCount());
    // The system's dialog shows the arrow; the saver must hide it again.
    SetCursor(LoadCursorA(nullptr, IDC_ARROW));
    DispatchFor(EnvironmentNumber("ZEMBLOID_PWD_HOLD_MS", 0));
    bool accept = AnswerForCall(call);
    DWORD end = GetTickCount();
    DoubleLog(LOG, "answer %ld %d end %lu", call, accept ? 1 : 0, end);
    if (call == 1) StartKeyPlan(end);
    return accept ? TRUE : FALSE;
}
#endif

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved)
{
    DoubleLogAttachment(LOG, reason, reserved);
    return TRUE;
}
