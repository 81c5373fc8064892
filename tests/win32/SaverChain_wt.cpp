// The saver window's message chain and close rules, driven on real windows.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "animation/FramePlayer_win.h"
#include "host/SaverHost.h"

namespace {

const int START_X = 400;
const int START_Y = 300;

// Messages that got past the outer stage, in order.
std::vector<UINT> reachedSaver;

LRESULT CALLBACK RecordingStage(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    reachedSaver.push_back(message);
    return SaverFrameProc(window, message, wParam, lParam);
}

bool Reached(UINT message)
{
    for (UINT m : reachedSaver)
        if (m == message) return true;
    return false;
}

// What the test's stand-in for the display settings window received.
std::vector<MSG> parentReceived;

LRESULT CALLBACK ParentProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_HELP || message == WM_CONTEXTMENU) {
        MSG m = {};
        m.hwnd = window;
        m.message = message;
        m.wParam = wParam;
        m.lParam = lParam;
        parentReceived.push_back(m);
        return 1;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

// Removes one posted WM_CLOSE for the window; true if there was one.
bool TakeClose(HWND window)
{
    MSG m;
    return PeekMessageA(&m, window, WM_CLOSE, WM_CLOSE, PM_REMOVE) != 0;
}

int CountAndRemove(HWND window, UINT message)
{
    MSG m;
    int count = 0;
    while (PeekMessageA(&m, window, message, message, PM_REMOVE)) ++count;
    return count;
}

void DrainQueue()
{
    MSG m;
    while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
        if (m.message != WM_QUIT) DispatchMessageA(&m);
    }
}

// The move is asked for again on every try: the first test of a fresh session
// can run while Wine's desktop is still coming up, and a move asked for then
// is lost.
void MoveCursorTo(int x, int y)
{
    POINT at = {};
    for (int i = 0; i < 300; ++i) {
        SetCursorPos(x, y);
        GetCursorPos(&at);
        if (at.x == x && at.y == y) return;
        Sleep(10);
    }
    FAIL() << "cursor did not reach " << x << "," << y;
}

class SaverChain : public ::testing::Test {
protected:
    HWND saver = nullptr;
    HWND parent = nullptr;

    void SetUp() override
    {
        SaverState = SaverRecord();
        SaverState.instance = GetModuleHandleA(nullptr);
        SaverMiddleStage = RecordingStage;
        reachedSaver.clear();
        parentReceived.clear();
        MoveCursorTo(START_X, START_Y);
        ASSERT_TRUE(RegisterSaverClass());
    }

    void TearDown() override
    {
        if (saver != nullptr && IsWindow(saver)) {
            SaverState.closing = true;
            DestroyWindow(saver);
        }
        if (parent != nullptr) DestroyWindow(parent);
        DrainQueue();
        UnregisterClassA("WindowsScreenSaverClass", SaverState.instance);
        UnregisterClassA("SaverChainParent", SaverState.instance);
        SaverMiddleStage = SaverFrameProc;
        SetCursor(LoadCursor(nullptr, IDC_ARROW));
    }

    void CreateFullScreen()
    {
        saver = CreateSaverWindow(nullptr, SaverScreenArea());
        ASSERT_NE(nullptr, saver);
        SaverState.mainWindow = saver;
    }

    void CreatePreview()
    {
        WNDCLASSA parentClass = {};
        parentClass.lpfnWndProc = ParentProc;
        parentClass.hInstance = SaverState.instance;
        parentClass.lpszClassName = "SaverChainParent";
        RegisterClassA(&parentClass);
        parent = CreateWindowExA(0, "SaverChainParent", "Display", WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                                 50, 50, 300, 240, nullptr, nullptr, SaverState.instance, nullptr);
        ASSERT_NE(nullptr, parent);
        SaverState.preview = true;
        saver = CreateSaverWindow(parent, RECT{0, 0, 152, 112});
        ASSERT_NE(nullptr, saver);
        SaverState.mainWindow = saver;
    }
};

TEST_F(SaverChain, SaverHidesTheCursorOnCreationCursorRequestAndPaint)
{
    HCURSOR arrow = LoadCursor(nullptr, IDC_ARROW);
    SetCursor(arrow);
    CreateFullScreen();
    EXPECT_EQ(nullptr, GetCursor());

    SetCursor(arrow);
    EXPECT_EQ(1, SendMessageA(saver, WM_SETCURSOR, (WPARAM)saver, MAKELPARAM(HTCLIENT, WM_MOUSEMOVE)));
    EXPECT_EQ(nullptr, GetCursor());

    SetCursor(arrow);
    SendMessageA(saver, WM_PAINT, 0, 0);
    EXPECT_EQ(nullptr, GetCursor()) << "painting hides it again";
}

TEST_F(SaverChain, PreviewLeavesTheCursorAlone)
{
    HCURSOR arrow = LoadCursor(nullptr, IDC_ARROW);
    SetCursor(arrow);
    CreatePreview();
    EXPECT_EQ(arrow, GetCursor());
    SendMessageA(saver, WM_SHOWWINDOW, TRUE, 0);
    SendMessageA(saver, WM_PAINT, 0, 0);
    EXPECT_EQ(arrow, GetCursor());
}

TEST_F(SaverChain, CreationRecordsTheMouseBaseline)
{
    CreateFullScreen();
    EXPECT_EQ(START_X, SaverState.mouseBaseline.x);
    EXPECT_EQ(START_Y, SaverState.mouseBaseline.y);
}

TEST_F(SaverChain, TitleNeverChanges)
{
    CreateFullScreen();
    reachedSaver.clear();
    EXPECT_EQ(0, SendMessageA(saver, WM_SETTEXT, 0, (LPARAM) "Something else"));
    SetWindowTextA(saver, "Another title");
    char title[64] = {};
    GetWindowTextA(saver, title, sizeof title);
    EXPECT_STREQ("Screen Saver", title);
    EXPECT_FALSE(Reached(WM_SETTEXT));
}

struct SysCommandCase {
    WPARAM command;
    bool swallowedBySaver;
};

const SysCommandCase SYS_COMMANDS[] = {
    {SC_SCREENSAVE, true},
    {SC_NEXTWINDOW, true},
    {SC_PREVWINDOW, true},
    {SC_NEXTWINDOW | 1, false},  // compared whole: the low bits make it another command
};

TEST_F(SaverChain, SaverSwallowsTaskSwitchAndScreenSaveCommands)
{
    CreateFullScreen();
    for (const SysCommandCase &c : SYS_COMMANDS) {
        reachedSaver.clear();
        LRESULT result = SendMessageA(saver, WM_SYSCOMMAND, c.command, 0);
        if (c.swallowedBySaver) {
            EXPECT_EQ(0, result) << std::hex << c.command;
        }
        EXPECT_EQ(!c.swallowedBySaver, Reached(WM_SYSCOMMAND)) << std::hex << c.command;
    }
    EXPECT_TRUE(IsWindow(saver));
}

TEST_F(SaverChain, PreviewPassesSystemCommandsOn)
{
    CreatePreview();
    for (const SysCommandCase &c : SYS_COMMANDS) {
        reachedSaver.clear();
        SendMessageA(saver, WM_SYSCOMMAND, c.command, 0);
        EXPECT_TRUE(Reached(WM_SYSCOMMAND)) << std::hex << c.command;
    }
}

TEST_F(SaverChain, PreviewHandsHelpAndContextMenuToItsParent)
{
    CreatePreview();
    HELPINFO help = {};
    help.cbSize = sizeof help;
    help.iContextType = HELPINFO_WINDOW;
    help.hItemHandle = saver;
    reachedSaver.clear();
    EXPECT_EQ(1, SendMessageA(saver, WM_HELP, 0, (LPARAM)&help));
    EXPECT_EQ(1, SendMessageA(saver, WM_CONTEXTMENU, (WPARAM)saver, MAKELPARAM(70, 80)));
    DrainQueue();
    EXPECT_FALSE(Reached(WM_HELP));
    EXPECT_FALSE(Reached(WM_CONTEXTMENU));
    ASSERT_EQ(2u, parentReceived.size());
    for (const MSG &m : parentReceived) {
        EXPECT_EQ(parent, m.hwnd);
        EXPECT_EQ((WPARAM)parent, m.wParam);
        EXPECT_EQ(m.message == WM_HELP ? (LPARAM)&help : MAKELPARAM(70, 80), m.lParam);
    }
}

TEST_F(SaverChain, SaverPassesHelpAndContextMenuOn)
{
    CreateFullScreen();
    reachedSaver.clear();
    SendMessageA(saver, WM_CONTEXTMENU, (WPARAM)saver, MAKELPARAM(70, 80));
    HELPINFO help = {};
    help.cbSize = sizeof help;
    SendMessageA(saver, WM_HELP, 0, (LPARAM)&help);
    EXPECT_TRUE(Reached(WM_CONTEXTMENU));
    EXPECT_TRUE(Reached(WM_HELP));
}

struct InputCase {
    const char *name;
    UINT message;
    WPARAM wParam;
    bool closes;
};

const InputCase INPUTS[] = {
    {"key", WM_KEYDOWN, VK_SPACE, true},
    {"system key", WM_SYSKEYDOWN, VK_MENU, true},
    {"left button", WM_LBUTTONDOWN, MK_LBUTTON, true},
    {"right button", WM_RBUTTONDOWN, MK_RBUTTON, true},
    {"middle button", WM_MBUTTONDOWN, MK_MBUTTON, true},
    {"activation lost", WM_ACTIVATEAPP, FALSE, true},
    {"activation gained", WM_ACTIVATEAPP, TRUE, false},
    {"key released", WM_KEYUP, VK_SPACE, false},
    {"button released", WM_LBUTTONUP, 0, false},
    {"mouse without travel", WM_MOUSEMOVE, 0, false},
};

TEST_F(SaverChain, KeysButtonsAndActivationLossAskToClose)
{
    CreateFullScreen();
    for (const InputCase &c : INPUTS) {
        SendMessageA(saver, c.message, c.wParam, 0);
        EXPECT_EQ(c.closes, TakeClose(saver)) << c.name;
        EXPECT_FALSE(TakeClose(saver)) << c.name << ": posted once only";
    }
    EXPECT_TRUE(IsWindow(saver));
}

TEST_F(SaverChain, PreviewIgnoresAllInput)
{
    CreatePreview();
    MoveCursorTo(START_X + 50, START_Y + 50);
    for (const InputCase &c : INPUTS) {
        SendMessageA(saver, c.message, c.wParam, 0);
        EXPECT_FALSE(TakeClose(saver)) << c.name;
    }
    SendMessageA(saver, WM_MOUSEMOVE, 0, 0);
    EXPECT_FALSE(TakeClose(saver));
    EXPECT_TRUE(IsWindow(saver));
}

TEST_F(SaverChain, MouseTravelOfMoreThanFourPixelsClosesAndMovesTheBaseline)
{
    CreateFullScreen();
    struct Step {
        int dx, dy;
        bool closes;
    } const steps[] = {
        {0, 0, false},
        {2, 2, false},   // travel 4 keeps the saver
        {-2, -2, false},
        {3, 2, true},    // travel 5 closes it
    };
    for (const Step &s : steps) {
        MoveCursorTo(START_X + s.dx, START_Y + s.dy);
        SendMessageA(saver, WM_MOUSEMOVE, 0, MAKELPARAM(0, 0));
        EXPECT_EQ(s.closes, TakeClose(saver)) << s.dx << "," << s.dy;
    }
    EXPECT_EQ(START_X + 3, SaverState.mouseBaseline.x);
    EXPECT_EQ(START_Y + 2, SaverState.mouseBaseline.y);
    // Measured from the new baseline, the same position is no travel at all.
    SendMessageA(saver, WM_MOUSEMOVE, 0, 0);
    EXPECT_FALSE(TakeClose(saver));
}

TEST_F(SaverChain, SmallMovesAddUp)
{
    CreateFullScreen();
    const bool closesAfter[] = {false, false, true};
    for (int i = 0; i < 3; ++i) {
        MoveCursorTo(START_X + 2 * (i + 1), START_Y);
        // The message's own coordinates are not what counts.
        SendMessageA(saver, WM_MOUSEMOVE, 0, MAKELPARAM(START_X, START_Y));
        EXPECT_EQ(closesAfter[i], TakeClose(saver)) << "move " << i + 1;
    }
}

// What the system may suggest with a DPI change: a window on one monitor only.
RECT suggestedByDpiChange = {10, 20, 310, 220};

struct LayoutChangeCase {
    const char *name;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    bool cursorMoved;  // the system moves the cursor off a monitor that goes away
};

const LayoutChangeCase LAYOUT_CHANGES[] = {
    {"display change", WM_DISPLAYCHANGE, 32, MAKELPARAM(1024, 768), true},
    {"dpi change", WM_DPICHANGED, MAKEWPARAM(192, 192), (LPARAM)&suggestedByDpiChange, false},
};

// This test's desktop is one monitor: whether the screen area spans several
// is for the end-to-end tests to see.
TEST_F(SaverChain, DisplayAndDpiChangesPutTheWindowBackOnTheScreenAreaAndLayTheFramesOutAgain)
{
    CreateFullScreen();
    RECT area = SaverScreenArea();
    for (const LayoutChangeCase &c : LAYOUT_CHANGES) {
        SetWindowPos(saver, nullptr, 10, 20, 300, 200, SWP_NOZORDER | SWP_NOACTIVATE);
        Frames.placementCount = 0;
        if (c.cursorMoved) MoveCursorTo(START_X + 50, START_Y + 40);
        SendMessageA(saver, c.message, c.wParam, c.lParam);
        RECT rect;
        GetWindowRect(saver, &rect);
        EXPECT_TRUE(EqualRect(&rect, &area)) << c.name;
        EXPECT_TRUE(GetWindowLongA(saver, GWL_EXSTYLE) & WS_EX_TOPMOST) << c.name;
        ASSERT_EQ(1, Frames.placementCount) << c.name;
        EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), Frames.placements[0].area.width) << c.name;
        EXPECT_EQ(GetSystemMetrics(SM_CYSCREEN), Frames.placements[0].area.height) << c.name;
        if (c.cursorMoved) {
            SendMessageA(saver, WM_MOUSEMOVE, 0, 0);
            EXPECT_FALSE(TakeClose(saver)) << "travel counts from where the cursor is after the change";
        }
        EXPECT_TRUE(IsWindow(saver)) << c.name;
    }
}

TEST_F(SaverChain, CloseDestroysAtOnceOutsideWindows9x)
{
    CreateFullScreen();
    SendMessageA(saver, WM_CLOSE, 0, 0);
    EXPECT_FALSE(IsWindow(saver));
    EXPECT_FALSE(SaverState.closing);
    MSG quit;
    EXPECT_TRUE(PeekMessageA(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(0u, quit.wParam);
}

TEST_F(SaverChain, VerifyRequestIsNotOursOutsideWindows9x)
{
    CreateFullScreen();
    EXPECT_EQ(0, SendMessageA(saver, WM_VERIFY_PASSWORD, 0, 0));
    SaverState.win9x = true;
    EXPECT_EQ(1, SendMessageA(saver, WM_VERIFY_PASSWORD, 0, 0)) << "no verifier loaded: accepted";
}

TEST_F(SaverChain, WithoutVerifierWindows9xClosesOnFirstRequest)
{
    SaverState.win9x = true;
    CreateFullScreen();
    SendMessageA(saver, WM_CLOSE, 0, 0);
    EXPECT_FALSE(IsWindow(saver));
    EXPECT_TRUE(SaverState.closing);
}

TEST_F(SaverChain, OnceClosingTimerPaintAndInputStopReachingTheSaver)
{
    CreateFullScreen();
    const UINT stopped[] = {WM_TIMER,       WM_PAINT,       WM_KEYDOWN,     WM_SYSKEYDOWN,
                            WM_MOUSEMOVE,   WM_LBUTTONDOWN, WM_RBUTTONDOWN, WM_MBUTTONDOWN};
    reachedSaver.clear();
    SendMessageA(saver, WM_TIMER, 77, 0);
    EXPECT_TRUE(Reached(WM_TIMER)) << "before closing, ticks reach the saver";

    SaverState.closing = true;
    reachedSaver.clear();
    for (UINT message : stopped) SendMessageA(saver, message, 0, 0);
    EXPECT_TRUE(reachedSaver.empty()) << reachedSaver.size() << " messages got through, first "
                                      << (reachedSaver.empty() ? 0 : reachedSaver[0]);
    // Other messages still reach it, and input no longer closes anything.
    SendMessageA(saver, WM_ERASEBKGND, (WPARAM)GetDC(saver), 0);
    EXPECT_TRUE(Reached(WM_ERASEBKGND));
    SendMessageA(saver, WM_ACTIVATEAPP, FALSE, 0);
    EXPECT_FALSE(TakeClose(saver));
}

// A stand-in for the system's password verifier with scripted answers.
struct VerifierScript {
    std::vector<BOOL> answers;
    int calls = 0;
    int depth = 0;
    int maxDepth = 0;
    bool checkingSeen = false;
    int timersDuringCheck = 0;
    bool closeDuringCheckRefused = false;
    bool inputDuringCheckPosted = false;
} verifier;

BOOL WINAPI TestVerifier(HWND window)
{
    ++verifier.depth;
    if (verifier.depth > verifier.maxDepth) verifier.maxDepth = verifier.depth;
    verifier.checkingSeen = SaverState.checking;
    // While the dialog is up: input posts nothing, a close request is
    // refused without a second check, and ticks still reach the saver.
    SendMessageA(window, WM_KEYDOWN, VK_SPACE, 0);
    SendMessageA(window, WM_LBUTTONDOWN, MK_LBUTTON, 0);
    verifier.inputDuringCheckPosted = TakeClose(window);
    verifier.closeDuringCheckRefused = SendMessageA(window, WM_CLOSE, 0, 0) == 0 && IsWindow(window);
    size_t before = reachedSaver.size();
    SendMessageA(window, WM_TIMER, 1, 0);
    for (size_t i = before; i < reachedSaver.size(); ++i)
        if (reachedSaver[i] == WM_TIMER) ++verifier.timersDuringCheck;
    BOOL answer = verifier.calls < (int)verifier.answers.size() ? verifier.answers[verifier.calls] : FALSE;
    ++verifier.calls;
    --verifier.depth;
    return answer;
}

class PasswordChain : public SaverChain {
protected:
    void SetUp() override
    {
        SaverChain::SetUp();
        verifier = VerifierScript();
        SaverState.win9x = true;
        SaverState.verifyPassword = TestVerifier;
    }
};

TEST_F(PasswordChain, RejectedThenAccepted)
{
    verifier.answers = {FALSE, TRUE};
    CreateFullScreen();
    SendMessageA(saver, WM_CLOSE, 0, 0);
    EXPECT_EQ(1, verifier.calls);
    EXPECT_TRUE(IsWindow(saver)) << "a rejected password keeps the saver";
    EXPECT_FALSE(SaverState.closing);
    EXPECT_FALSE(SaverState.checking);
    EXPECT_NE(0xFFFFFFFFu, SaverState.lastVerifyTick);

    Sleep(VERIFY_RETRY_MS + 50);
    SendMessageA(saver, WM_CLOSE, 0, 0);
    EXPECT_EQ(2, verifier.calls);
    EXPECT_FALSE(IsWindow(saver)) << "an accepted password closes it";
    EXPECT_TRUE(SaverState.closing);
}

TEST_F(PasswordChain, SecondCloseWithinTheRetryWindowIsRefused)
{
    verifier.answers = {FALSE, FALSE};
    CreateFullScreen();
    SendMessageA(saver, WM_CLOSE, 0, 0);
    ASSERT_EQ(1, verifier.calls);
    DWORD ended = GetTickCount();
    SendMessageA(saver, WM_KEYDOWN, VK_SPACE, 0);
    ASSERT_TRUE(TakeClose(saver));
    EXPECT_EQ(0, SendMessageA(saver, WM_CLOSE, 0, 0));
    if (GetTickCount() - ended < VERIFY_RETRY_MS) {
        EXPECT_EQ(1, verifier.calls) << "no check within 200 ms";
    }
    EXPECT_TRUE(IsWindow(saver));

    Sleep(VERIFY_RETRY_MS + 50);
    SendMessageA(saver, WM_CLOSE, 0, 0);
    EXPECT_EQ(2, verifier.calls) << "after 200 ms the check runs again";
}

TEST_F(PasswordChain, NoReentryWhileChecking)
{
    verifier.answers = {FALSE};
    CreateFullScreen();
    SendMessageA(saver, WM_CLOSE, 0, 0);
    EXPECT_EQ(1, verifier.calls);
    EXPECT_EQ(1, verifier.maxDepth);
    EXPECT_TRUE(verifier.checkingSeen);
    EXPECT_FALSE(verifier.inputDuringCheckPosted);
    EXPECT_TRUE(verifier.closeDuringCheckRefused);
    EXPECT_EQ(1, verifier.timersDuringCheck) << "the animation keeps running behind the dialog";
}

TEST_F(PasswordChain, RejectionHidesTheCursorAndMovesTheBaseline)
{
    verifier.answers = {FALSE};
    CreateFullScreen();
    MoveCursorTo(START_X + 40, START_Y + 30);
    SetCursor(LoadCursor(nullptr, IDC_ARROW));
    SendMessageA(saver, WM_CLOSE, 0, 0);
    EXPECT_EQ(nullptr, GetCursor());
    EXPECT_EQ(START_X + 40, SaverState.mouseBaseline.x);
    EXPECT_EQ(START_Y + 30, SaverState.mouseBaseline.y);
    SendMessageA(saver, WM_MOUSEMOVE, 0, 0);
    EXPECT_FALSE(TakeClose(saver)) << "travel counts from where the check ended";
}

TEST_F(PasswordChain, QueuedTicksAreDroppedBeforeTheCheck)
{
    verifier.answers = {FALSE};
    CreateFullScreen();
    KillTimer(saver, 1);  // only the ticks posted here are in the queue
    CountAndRemove(saver, WM_TIMER);
    for (int i = 0; i < 3; ++i) PostMessageA(saver, WM_TIMER, 1, 0);
    SendMessageA(saver, WM_CLOSE, 0, 0);
    EXPECT_EQ(1, CountAndRemove(saver, WM_TIMER)) << "two of three queued ticks dropped";
}

}  // namespace
