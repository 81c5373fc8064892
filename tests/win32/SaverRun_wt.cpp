// Running a mode: the saver and preview windows with their message loop, the
// dispatch of command tails, and the structured-exception guard.
#include <gtest/gtest.h>

#include <iterator>
#include <string>

#include "host/SaverHost.h"

#if defined(__i386__)
// Unwinds with the system's RtlUnwind, then returns with ebx, esi and edi
// overwritten, as Windows NT's own RtlUnwind may.
extern "C" VOID WINAPI UnwindLosingRegisters(PVOID frame, PVOID ip, EXCEPTION_RECORD *record,
                                             PVOID value);
__asm__(".text\n"
        ".globl _UnwindLosingRegisters@16\n"
        "_UnwindLosingRegisters@16:\n"
        "    pushl 16(%esp)\n"
        "    pushl 16(%esp)\n"
        "    pushl 16(%esp)\n"
        "    pushl 16(%esp)\n"
        "    call *__imp__RtlUnwind@16\n"
        "    movl $-1, %ebx\n"
        "    movl $-1, %esi\n"
        "    movl $-1, %edi\n"
        "    ret $16\n");
#endif

namespace {

const char SAVER_CLASS[] = "WindowsScreenSaverClass";

// Work done from inside the saver's message loop: a thread timer fires
// `script` once, then ends the loop by force if it is still running after
// a few seconds, so that no test can hang.
void (*script)() = nullptr;
int scriptTicks = 0;
bool loopForcedToEnd = false;
const int SCRIPT_PERIOD_MS = 50;
const int WATCHDOG_TICKS = 100;

VOID CALLBACK ScriptTimer(HWND, UINT, UINT_PTR, DWORD)
{
    ++scriptTicks;
    if (scriptTicks == 1 && script != nullptr) script();
    if (scriptTicks == WATCHDOG_TICKS) {
        loopForcedToEnd = true;
        PostQuitMessage(99);
    }
}

void DrainQueue()
{
    MSG m;
    while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
        if (m.message != WM_QUIT) DispatchMessageA(&m);
    }
}

BOOL CALLBACK CountIfSaverClass(HWND window, LPARAM counter)
{
    char name[64] = {};
    GetClassNameA(window, name, sizeof name);
    if (std::string(name) == SAVER_CLASS) ++*(int *)counter;
    return TRUE;
}

int CountSaverClassWindows()
{
    int count = 0;
    EnumWindows(CountIfSaverClass, (LPARAM)&count);
    return count;
}

LRESULT CALLBACK PlainProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    return DefWindowProcA(window, message, wParam, lParam);
}

HWND MakePlainWindow(const char *className, const char *title, DWORD style, int x, int y, int w, int h)
{
    WNDCLASSA plain = {};
    plain.lpfnWndProc = PlainProc;
    plain.hInstance = GetModuleHandleA(nullptr);
    plain.lpszClassName = className;
    RegisterClassA(&plain);
    return CreateWindowExA(0, className, title, style, x, y, w, h, nullptr, nullptr, plain.hInstance, nullptr);
}

class RunMode : public ::testing::Test {
protected:
    UINT_PTR timer = 0;

    void SetUp() override
    {
        SaverState = SaverRecord();
        SaverState.instance = GetModuleHandleA(nullptr);
        script = nullptr;
        scriptTicks = 0;
        loopForcedToEnd = false;
        timer = SetTimer(nullptr, 0, SCRIPT_PERIOD_MS, ScriptTimer);
        ASSERT_NE(0u, timer);
        SetCursorPos(500, 400);
    }

    void TearDown() override
    {
        KillTimer(nullptr, timer);
        if (SaverState.mainWindow != nullptr && IsWindow(SaverState.mainWindow)) {
            SaverState.closing = true;
            DestroyWindow(SaverState.mainWindow);
        }
        DrainQueue();
        UnregisterClassA(SAVER_CLASS, GetModuleHandleA(nullptr));
        EXPECT_FALSE(loopForcedToEnd) << "the message loop had to be ended by the watchdog";
    }
};

struct SaverSeen {
    bool exists;
    std::string className, title;
    LONG style, exStyle;
    RECT rect;
    bool foreground;
    bool cursorHidden;
    DWORD classStyle;
    HBRUSH background;
    HICON icon;
    HCURSOR cursor;
} seen;

void LookAtSaverThenPressKey()
{
    HWND w = SaverState.mainWindow;
    seen.exists = IsWindow(w);
    char text[64] = {};
    GetClassNameA(w, text, sizeof text);
    seen.className = text;
    GetWindowTextA(w, text, sizeof text);
    seen.title = text;
    seen.style = GetWindowLongA(w, GWL_STYLE);
    seen.exStyle = GetWindowLongA(w, GWL_EXSTYLE);
    GetWindowRect(w, &seen.rect);
    seen.foreground = GetForegroundWindow() == w;
    seen.cursorHidden = GetCursor() == nullptr;
    seen.classStyle = GetClassLongA(w, GCL_STYLE);
    seen.background = (HBRUSH)GetClassLongPtrA(w, GCLP_HBRBACKGROUND);
    seen.icon = (HICON)GetClassLongPtrA(w, GCLP_HICON);
    seen.cursor = (HCURSOR)GetClassLongPtrA(w, GCLP_HCURSOR);
    PostMessageA(w, WM_KEYDOWN, VK_SPACE, 0);
}

TEST_F(RunMode, SaverCoversTheScreenTopmostUntilAKey)
{
    seen = SaverSeen();
    script = LookAtSaverThenPressKey;
    SetCursor(LoadCursor(nullptr, IDC_ARROW));
    EXPECT_EQ(0, RunSaverWindow(nullptr));
    ASSERT_TRUE(seen.exists);
    EXPECT_EQ(SAVER_CLASS, seen.className);
    EXPECT_EQ("Screen Saver", seen.title);
    EXPECT_EQ((LONG)0x96000000, seen.style);
    EXPECT_TRUE(seen.exStyle & WS_EX_TOPMOST);
    EXPECT_EQ(GetSystemMetrics(SM_XVIRTUALSCREEN), seen.rect.left);
    EXPECT_EQ(GetSystemMetrics(SM_YVIRTUALSCREEN), seen.rect.top);
    EXPECT_EQ(GetSystemMetrics(SM_CXVIRTUALSCREEN), seen.rect.right - seen.rect.left);
    EXPECT_EQ(GetSystemMetrics(SM_CYVIRTUALSCREEN), seen.rect.bottom - seen.rect.top);
    EXPECT_TRUE(seen.foreground);
    EXPECT_TRUE(seen.cursorHidden);
    EXPECT_EQ(0x2Bu, seen.classStyle);
    EXPECT_EQ(GetStockObject(BLACK_BRUSH), (HGDIOBJ)seen.background);
    EXPECT_EQ(nullptr, seen.icon);
    EXPECT_EQ(nullptr, seen.cursor);
    EXPECT_FALSE(IsWindow(SaverState.mainWindow));
    EXPECT_FALSE(SaverState.preview);
}

TEST_F(RunMode, RunningSaverIsBroughtForwardAndNothingNewIsMade)
{
    HWND running = MakePlainWindow(SAVER_CLASS, "Screen Saver", WS_POPUP | WS_VISIBLE, 0, 0, 200, 200);
    ASSERT_NE(nullptr, running);
    HWND other = MakePlainWindow("RunModeOther", "Other", WS_POPUP | WS_VISIBLE, 300, 300, 100, 100);
    SetForegroundWindow(other);
    ASSERT_EQ(other, GetForegroundWindow());

    EXPECT_EQ(0, RunSaverWindow(nullptr));
    EXPECT_EQ(nullptr, SaverState.mainWindow);
    EXPECT_EQ(1, CountSaverClassWindows());
    EXPECT_EQ(running, GetForegroundWindow());
    EXPECT_EQ(0, scriptTicks) << "no message loop ran";
    DestroyWindow(other);
    DestroyWindow(running);
    UnregisterClassA("RunModeOther", GetModuleHandleA(nullptr));
}

TEST_F(RunMode, UnregisteredClassMeansNoWindowAndNoLoop)
{
    // The class name is taken, with another procedure, and no saver window exists.
    WNDCLASSA taken = {};
    taken.lpfnWndProc = PlainProc;
    taken.hInstance = GetModuleHandleA(nullptr);
    taken.lpszClassName = SAVER_CLASS;
    ASSERT_TRUE(RegisterClassA(&taken));
    EXPECT_EQ(EXIT_NO_WINDOW, RunSaverWindow(nullptr));
    EXPECT_EQ(nullptr, SaverState.mainWindow);
    EXPECT_EQ(0, CountSaverClassWindows());
    EXPECT_EQ(0, scriptTicks);
}

HWND previewParent = nullptr;

struct PreviewSeen {
    bool isChild;
    std::string title;
    LONG style;
    RECT client, parentClient, clientAfterResize;
    HCURSOR cursor;
} previewSeen;

void LookAtPreviewThenDestroyParent()
{
    HWND w = SaverState.mainWindow;
    previewSeen.isChild = IsWindow(w) && GetParent(w) == previewParent;
    char text[64] = {};
    GetWindowTextA(w, text, sizeof text);
    previewSeen.title = text;
    previewSeen.style = GetWindowLongA(w, GWL_STYLE);
    GetClientRect(w, &previewSeen.client);
    GetClientRect(previewParent, &previewSeen.parentClient);
    SetWindowPos(previewParent, nullptr, 0, 0, 500, 400, SWP_NOMOVE | SWP_NOZORDER);
    GetClientRect(w, &previewSeen.clientAfterResize);
    previewSeen.cursor = GetCursor();
    DestroyWindow(previewParent);
}

TEST_F(RunMode, PreviewFillsTheParentAndEndsWithIt)
{
    previewSeen = PreviewSeen();
    previewParent = MakePlainWindow("RunModeParent", "Display", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 40, 40, 237, 181);
    ASSERT_NE(nullptr, previewParent);
    HCURSOR arrow = LoadCursor(nullptr, IDC_ARROW);
    SetCursor(arrow);
    script = LookAtPreviewThenDestroyParent;
    EXPECT_EQ(0, RunSaverWindow(previewParent));
    EXPECT_TRUE(previewSeen.isChild);
    EXPECT_EQ("Preview", previewSeen.title);
    EXPECT_EQ((LONG)0x52000000, previewSeen.style);
    EXPECT_EQ(previewSeen.parentClient.right, previewSeen.client.right);
    EXPECT_EQ(previewSeen.parentClient.bottom, previewSeen.client.bottom);
    EXPECT_GT(previewSeen.parentClient.right, 0);
    EXPECT_EQ(previewSeen.client.right, previewSeen.clientAfterResize.right) << "does not follow resizes";
    EXPECT_EQ(previewSeen.client.bottom, previewSeen.clientAfterResize.bottom);
    EXPECT_EQ(arrow, previewSeen.cursor);
    EXPECT_TRUE(SaverState.preview);
    EXPECT_FALSE(IsWindow(SaverState.mainWindow));
    UnregisterClassA("RunModeParent", GetModuleHandleA(nullptr));
}

void QuitWithFive()
{
    PostQuitMessage(5);
}

TEST_F(RunMode, AfterTheLoopTheWindowIsDestroyedExceptOnWindows9x)
{
    const bool platforms[] = {false, true};
    for (bool win9x : platforms) {
        SaverState = SaverRecord();
        SaverState.instance = GetModuleHandleA(nullptr);
        SaverState.win9x = win9x;
        scriptTicks = 0;
        script = QuitWithFive;
        EXPECT_EQ(5, RunSaverWindow(nullptr)) << "the quit code is the result";
        EXPECT_EQ(win9x, IsWindow(SaverState.mainWindow) != FALSE) << "win9x " << win9x;
        if (IsWindow(SaverState.mainWindow)) {
            SaverState.closing = true;
            DestroyWindow(SaverState.mainWindow);
        }
        DrainQueue();
        UnregisterClassA(SAVER_CLASS, GetModuleHandleA(nullptr));
    }
}

TEST_F(RunMode, PreviewNeedsAnExistingWindow)
{
    HWND gone = MakePlainWindow("RunModeGone", "Gone", WS_POPUP, 0, 0, 10, 10);
    DestroyWindow(gone);
    const std::string texts[] = {"", "0", "abc", "-5", std::to_string((UINT_PTR)gone)};
    for (const std::string &text : texts) {
        EXPECT_EQ(-1, RunPreview(text.c_str())) << "\"" << text << "\"";
        EXPECT_EQ(nullptr, SaverState.mainWindow);
    }
    EXPECT_EQ(0, scriptTicks);
    UnregisterClassA("RunModeGone", GetModuleHandleA(nullptr));
}

TEST_F(RunMode, RefusedTailsReturnMinusOne)
{
    const char *tails[] = {"/x", "/?", "/\ts", "/p", "/p 0", "/p abc", "/p -5", "/a 123", "-a"};
    for (const char *tail : tails) {
        EXPECT_EQ(-1, SaverMain(GetModuleHandleA(nullptr), tail)) << "\"" << tail << "\"";
        EXPECT_EQ(nullptr, SaverState.mainWindow) << tail;
    }
    EXPECT_FALSE(SaverState.win9x) << "the test runs as a Windows NT program";
    EXPECT_EQ(GetModuleHandleA(nullptr), SaverState.instance);
}

TEST_F(RunMode, SaverTailsRunTheSaver)
{
    const char *tails[] = {"/s", "-S", "s", "/ s", "/s /c"};
    for (const char *tail : tails) {
        SaverState = SaverRecord();
        seen = SaverSeen();
        scriptTicks = 0;
        script = LookAtSaverThenPressKey;
        EXPECT_EQ(0, SaverMain(GetModuleHandleA(nullptr), tail)) << tail;
        EXPECT_EQ("Screen Saver", seen.title) << tail;
        DrainQueue();
        UnregisterClassA(SAVER_CLASS, GetModuleHandleA(nullptr));
    }
}

TEST_F(RunMode, PreviewTailsRunThePreview)
{
    const char *formats[] = {"/p %u", "/p%u", "/l %u", "-P   %u"};
    for (const char *format : formats) {
        SaverState = SaverRecord();
        previewSeen = PreviewSeen();
        previewParent = MakePlainWindow("RunModeParent", "Display", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 40, 40, 237, 181);
        char tail[64];
        wsprintfA(tail, format, (unsigned)(UINT_PTR)previewParent);
        scriptTicks = 0;
        script = LookAtPreviewThenDestroyParent;
        EXPECT_EQ(0, SaverMain(GetModuleHandleA(nullptr), tail)) << tail;
        EXPECT_TRUE(previewSeen.isChild) << tail;
        DrainQueue();
        UnregisterClassA(SAVER_CLASS, GetModuleHandleA(nullptr));
        UnregisterClassA("RunModeParent", GetModuleHandleA(nullptr));
    }
}

// The structured-exception guard ---------------------------------------------

// The thread's chain of exception registrations. x86-64 keeps its handlers in
// tables that travel with the code and has no such chain to compare.
void *ExceptionChain()
{
#if defined(__i386__)
    void *record;
    __asm__ __volatile__("movl %%fs:0, %0" : "=r"(record));
    return record;
#else
    return nullptr;
#endif
}

struct FilterScript {
    LONG verdicts[2];
    int calls;
    DWORD codes[2];
} filter;

LONG WINAPI ScriptedFilter(EXCEPTION_POINTERS *pointers)
{
    int call = filter.calls++;
    if (call < 2) filter.codes[call] = pointers->ExceptionRecord->ExceptionCode;
    return filter.verdicts[call < 2 ? call : 1];
}

volatile uintptr_t badAddress = 0x10;
volatile bool bodyFinished = false;

int WriteThroughBadPointer(const char *)
{
    *(volatile int *)badAddress = 1;
    bodyFinished = true;
    return 7;
}

// Overwrites every register a called function must give back (the compiler
// saves them first, as any function would; rbp too, as the tests are built
// optimised, without a frame pointer), then faults: the handler's way back to
// RunGuarded's caller must restore them from where they were saved.
int ClobberThenFault(const char *)
{
#if defined(__i386__)
    __asm__ __volatile__("movl $-1, %%ebx; movl $-1, %%esi; movl $-1, %%edi"
                         : : : "ebx", "esi", "edi");
#else
    __asm__ __volatile__("movq $-1, %%rbx; movq $-1, %%rsi; movq $-1, %%rdi; movq $-1, %%rbp;"
                         "movq $-1, %%r12; movq $-1, %%r13; movq $-1, %%r14; movq $-1, %%r15;"
                         "pcmpeqd %%xmm6, %%xmm6; pcmpeqd %%xmm7, %%xmm7; pcmpeqd %%xmm8, %%xmm8;"
                         "pcmpeqd %%xmm9, %%xmm9; pcmpeqd %%xmm10, %%xmm10;"
                         "pcmpeqd %%xmm11, %%xmm11; pcmpeqd %%xmm12, %%xmm12;"
                         "pcmpeqd %%xmm13, %%xmm13; pcmpeqd %%xmm14, %%xmm14;"
                         "pcmpeqd %%xmm15, %%xmm15"
                         : : : "rbx", "rsi", "rdi", "rbp", "r12", "r13", "r14", "r15", "xmm6",
                           "xmm7", "xmm8", "xmm9", "xmm10", "xmm11", "xmm12", "xmm13", "xmm14",
                           "xmm15");
#endif
    return WriteThroughBadPointer(nullptr);
}

const DWORD SOFT_EXCEPTION = 0xE0005A01;

int RaiseThenFinish(const char *)
{
    RaiseException(SOFT_EXCEPTION, 0, 0, nullptr);
    bodyFinished = true;
    return 42;
}

BOOL ScreenSaverRunning()
{
    BOOL running = FALSE;
    SystemParametersInfoA(SPI_GETSCREENSAVERRUNNING, 0, &running, 0);
    return running;
}

void SetScreenSaverRunning(BOOL on)
{
    BOOL previous;
    SystemParametersInfoA(SPI_SETSCREENSAVERRUNNING, on, &previous, 0);
}

int SevenForX(const char *text)
{
    return text[0] == 'x' ? 7 : 0;
}

class Guard : public ::testing::Test {
protected:
    LPTOP_LEVEL_EXCEPTION_FILTER saved = nullptr;

    void SetUp() override
    {
        SaverState = SaverRecord();
        filter = FilterScript();
        bodyFinished = false;
        saved = SetUnhandledExceptionFilter(ScriptedFilter);
    }

    void TearDown() override
    {
        SetUnhandledExceptionFilter(saved);
        SetScreenSaverRunning(FALSE);
        GuardUnwind = RtlUnwind;
    }
};

// The unwinds the handler must work with: the system's, and on i386 one that
// changes the registers Windows NT's may change.
const GuardUnwindProc UNWINDS[] = {
    RtlUnwind,
#if defined(__i386__)
    UnwindLosingRegisters,
#endif
};

TEST_F(Guard, NormalResultPassesThrough)
{
    void *before = ExceptionChain();
    EXPECT_EQ(7, RunGuarded(SevenForX, "x"));
    EXPECT_EQ(0, RunGuarded(SevenForX, "y"));
    EXPECT_EQ(before, ExceptionChain());
    EXPECT_EQ(0, filter.calls);
}

TEST_F(Guard, HandlerRunsWhenTheFilterSaysSo)
{
    SaverState.win9x = true;
    filter.verdicts[0] = filter.verdicts[1] = EXCEPTION_EXECUTE_HANDLER;
    void *before = ExceptionChain();
    for (GuardUnwindProc unwind : UNWINDS) {
        GuardUnwind = unwind;
        // Twice, to show the guard leaves the thread's exception chain intact.
        for (int round = 0; round < 2; ++round) {
            SetScreenSaverRunning(TRUE);
            ASSERT_TRUE(ScreenSaverRunning());
            EXPECT_EQ((int)EXCEPTION_ACCESS_VIOLATION, RunGuarded(WriteThroughBadPointer, nullptr));
            EXPECT_FALSE(bodyFinished);
            EXPECT_EQ(before, ExceptionChain());
            EXPECT_FALSE(ScreenSaverRunning()) << "the handler clears the running flag";
        }
    }
    EXPECT_EQ(2 * (int)std::size(UNWINDS), filter.calls);
    EXPECT_EQ(EXCEPTION_ACCESS_VIOLATION, filter.codes[0]);
}

TEST_F(Guard, CallerKeepsItsRegistersAfterTheHandler)
{
    filter.verdicts[0] = filter.verdicts[1] = EXCEPTION_EXECUTE_HANDLER;
    volatile int seed = 3;
#if defined(__x86_64__)
    // A value in each register a called function must give back, held there
    // by the asm statements after each call.
    register INT_PTR a asm("rbx") = seed, b asm("rbp") = seed * 5, c asm("rsi") = seed * 7,
        d asm("rdi") = seed * 11, e asm("r12") = seed * 13, f asm("r13") = seed * 17,
        g asm("r14") = seed * 19, h asm("r15") = seed * 23;
    register double x6 asm("xmm6") = seed + 6.5, x7 asm("xmm7") = seed + 7.5,
        x8 asm("xmm8") = seed + 8.5, x9 asm("xmm9") = seed + 9.5, x10 asm("xmm10") = seed + 10.5,
        x11 asm("xmm11") = seed + 11.5, x12 asm("xmm12") = seed + 12.5,
        x13 asm("xmm13") = seed + 13.5, x14 asm("xmm14") = seed + 14.5,
        x15 asm("xmm15") = seed + 15.5;
#else
    // Eight values live across both calls: more than fit in scratch registers.
    INT_PTR a = seed, b = seed * 5, c = seed * 7, d = seed * 11, e = seed * 13, f = seed * 17,
        g = seed * 19, h = seed * 23;
#endif
    for (int round = 0; round < 2; ++round) {
        int result = RunGuarded(ClobberThenFault, nullptr);
#if defined(__x86_64__)
        __asm__ __volatile__("" : "+r"(a), "+r"(b), "+r"(c), "+r"(d), "+r"(e), "+r"(f), "+r"(g),
                                  "+r"(h));
        __asm__ __volatile__("" : "+x"(x6), "+x"(x7), "+x"(x8), "+x"(x9), "+x"(x10), "+x"(x11),
                                  "+x"(x12), "+x"(x13), "+x"(x14), "+x"(x15));
        x6 += result; x7 += result; x8 += result; x9 += result; x10 += result; x11 += result;
        x12 += result; x13 += result; x14 += result; x15 += result;
#endif
        a += result; b += result; c += result; d += result; e += result; f += result; g += result;
        h += result;
    }
    const INT_PTR twice = 2 * (INT_PTR)(int)EXCEPTION_ACCESS_VIOLATION;
    const INT_PTR integers[] = {a, b, c, d, e, f, g, h};
    const int factors[] = {1, 5, 7, 11, 13, 17, 19, 23};
    for (int i = 0; i < 8; ++i) EXPECT_EQ(3 * factors[i] + twice, integers[i]) << "value " << i;
#if defined(__x86_64__)
    const double reals[] = {x6, x7, x8, x9, x10, x11, x12, x13, x14, x15};
    for (int n = 6; n <= 15; ++n) EXPECT_EQ(3.5 + n + twice, reals[n - 6]) << "xmm" << n;
#endif
}

TEST_F(Guard, ContinueExecutionResumesAtTheFault)
{
    SaverState.win9x = true;
    SetScreenSaverRunning(TRUE);
    filter.verdicts[0] = EXCEPTION_CONTINUE_EXECUTION;
    EXPECT_EQ(42, RunGuarded(RaiseThenFinish, nullptr));
    EXPECT_TRUE(bodyFinished);
    EXPECT_EQ(1, filter.calls);
    EXPECT_EQ(SOFT_EXCEPTION, filter.codes[0]);
    EXPECT_TRUE(ScreenSaverRunning()) << "the handler did not run";
}

TEST_F(Guard, OutsideWindows9xTheRunningFlagIsLeftAlone)
{
    SetScreenSaverRunning(TRUE);
    filter.verdicts[0] = EXCEPTION_EXECUTE_HANDLER;
    EXPECT_EQ((int)EXCEPTION_ACCESS_VIOLATION, RunGuarded(WriteThroughBadPointer, nullptr));
    EXPECT_TRUE(ScreenSaverRunning());
}

}  // namespace
