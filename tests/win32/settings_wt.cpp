// The redraw-speed entry in control.ini and the configure dialog, run against
// the platform's real profile functions and dialog manager. Each dialog test
// runs RunConfigure modally and drives the dialog from a thread timer that
// fires inside the modal loop, using the messages a user's actions produce.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "host/SaverHost.h"
#include "resources/resource.h"
#include "settings/Settings_win.h"

namespace {

const char INI_NAME[] = "control.ini";
const char ABOUT_TITLE[] = "ＺＥＭＢＬＯＩＤのバージョン情報";
const int NOT_ENDED = -2;

std::string IniPath()
{
    char dir[MAX_PATH];
    GetWindowsDirectoryA(dir, sizeof dir);
    return std::string(dir) + "\\" + INI_NAME;
}

// Drops the profile functions' cached copy, so they see direct file changes.
void FlushProfileCache()
{
    WritePrivateProfileStringA(nullptr, nullptr, nullptr, INI_NAME);
}

void RemoveIni()
{
    DeleteFileA(IniPath().c_str());
    FlushProfileCache();
}

void WriteIni(const std::string &text)
{
    HANDLE file = CreateFileA(IniPath().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    WriteFile(file, text.data(), (DWORD)text.size(), &written, nullptr);
    CloseHandle(file);
    ASSERT_EQ(written, text.size());
    FlushProfileCache();
}

// The file's bytes, or "<missing>" when there is no file.
std::string ReadIni()
{
    FlushProfileCache();
    HANDLE file = CreateFileA(IniPath().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return "<missing>";
    std::string text;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) text.append(buffer, got);
    CloseHandle(file);
    return text;
}

// The stored text of the speed entry, or "<none>".
std::string StoredSpeed()
{
    FlushProfileCache();
    char text[64];
    GetPrivateProfileStringA("ZEMBLOID", "Redraw Speed", "<none>", text, sizeof text, INI_NAME);
    return text;
}

std::string SpeedIni(const char *value)
{
    return std::string("[ZEMBLOID]\r\nRedraw Speed=") + value + "\r\n";
}

class Settings : public ::testing::Test {
protected:
    void SetUp() override
    {
        SaverState.instance = GetModuleHandleA(nullptr);
        RemoveIni();
    }
    void TearDown() override { RemoveIni(); }
};

// ---------------------------------------------------------------------------
// Driving the modal dialog.

struct DriveRecord {
    std::function<void(HWND)> script;
    HWND dialog = nullptr;
    bool ran = false;
    bool timedOut = false;
};

DriveRecord Drive;

BOOL CALLBACK FindConfigureWindow(HWND window, LPARAM found)
{
    if (IsWindowVisible(window) && GetDlgItem(window, IDC_SPEED_SCROLL)) {
        *(HWND *)found = window;
        return FALSE;
    }
    return TRUE;
}

HWND FindConfigureDialog()
{
    HWND found = nullptr;
    EnumThreadWindows(GetCurrentThreadId(), FindConfigureWindow, (LPARAM)&found);
    return found;
}

BOOL CALLBACK EndOwnedDialog(HWND window, LPARAM owner)
{
    if (GetWindow(window, GW_OWNER) == (HWND)owner) EndDialog(window, 0);
    return TRUE;
}

// Ends a dialog the test failed to end, and any box still open over it.
void CALLBACK GiveUpTick(HWND, UINT, UINT_PTR id, DWORD)
{
    KillTimer(nullptr, id);
    Drive.timedOut = true;
    HWND dialog = FindConfigureDialog();
    if (!dialog) return;
    EnumThreadWindows(GetCurrentThreadId(), EndOwnedDialog, (LPARAM)dialog);
    EndDialog(dialog, NOT_ENDED);
}

void CALLBACK DriveTick(HWND, UINT, UINT_PTR id, DWORD)
{
    HWND dialog = FindConfigureDialog();
    if (!dialog) return;
    KillTimer(nullptr, id);
    Drive.dialog = dialog;
    Drive.ran = true;
    Drive.script(dialog);
}

// Runs the configure dialog as the dispatcher does and hands the open dialog to
// `script`. Returns the dialog's result; a dialog the script leaves open is
// ended after a while with NOT_ENDED.
int RunDriven(HWND owner, std::function<void(HWND)> script)
{
    Drive = DriveRecord();
    Drive.script = std::move(script);
    UINT_PTR tick = SetTimer(nullptr, 0, 20, DriveTick);
    UINT_PTR giveUp = SetTimer(nullptr, 0, 15000, GiveUpTick);
    int result = RunConfigure(owner);
    KillTimer(nullptr, tick);
    KillTimer(nullptr, giveUp);
    EXPECT_TRUE(Drive.ran) << "the dialog never appeared";
    EXPECT_FALSE(Drive.timedOut) << "the dialog did not end";
    return result;
}

HWND Scroll(HWND dialog)
{
    return GetDlgItem(dialog, IDC_SPEED_SCROLL);
}

int Thumb(HWND dialog)
{
    return GetScrollPos(Scroll(dialog), SB_CTL);
}

void SendScroll(HWND dialog, WORD code, WORD position = 0)
{
    SendMessageA(dialog, WM_HSCROLL, MAKEWPARAM(code, position), (LPARAM)Scroll(dialog));
}

void Command(HWND dialog, WORD id, WORD notification = BN_CLICKED)
{
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, notification),
                 (LPARAM)GetDlgItem(dialog, id));
}

// Posts a key press to the window with the focus (or the dialog), as the
// keyboard would; the modal loop's dialog manager handles it.
void PostKey(HWND dialog, WPARAM key)
{
    HWND target = GetFocus();
    if (!target || (target != dialog && !IsChild(dialog, target))) target = dialog;
    PostMessageA(target, WM_KEYDOWN, key, 1);
    PostMessageA(target, WM_KEYUP, key, 0xC0000001);
}

// ---------------------------------------------------------------------------
// The profile entry.

TEST_F(Settings, NamesComeFromTheStringTable)
{
    LoadSettingNames();
    EXPECT_STREQ(SettingSection, "ZEMBLOID");
    EXPECT_STREQ(SettingFile, "control.ini");
}

TEST_F(Settings, MissingFileSectionOrKeyReadsDefault)
{
    const char *files[] = {
        nullptr,
        "[Other]\r\nRedraw Speed=3\r\n",
        "[ZEMBLOID]\r\nSpeed=3\r\n",
        "",
    };
    for (const char *text : files) {
        if (text)
            WriteIni(text);
        else
            RemoveIni();
        LoadSettingNames();
        RedrawSpeed = 99;
        EXPECT_EQ(ReadRedrawSpeed(), 15) << (text ? text : "no file");
        EXPECT_EQ(RedrawSpeed, 15);
    }
}

TEST_F(Settings, ReadTakesStoredValueWithoutRangeCheck)
{
    const struct {
        const char *stored;
        LONG read;
    } cases[] = {{"1", 1}, {"30", 30}, {"7", 7}, {"0", 0}, {"31", 31}, {"100", 100}};
    for (const auto &c : cases) {
        WriteIni(SpeedIni(c.stored));
        LoadSettingNames();
        EXPECT_EQ(ReadRedrawSpeed(), c.read) << c.stored;
        EXPECT_EQ(RedrawSpeed, c.read) << c.stored;
    }
}

TEST_F(Settings, WriteStoresPlainDecimalText)
{
    const struct {
        LONG value;
        const char *text;
    } cases[] = {{7, "7"}, {30, "30"}, {1, "1"}, {15, "15"}};
    for (const auto &c : cases) {
        RemoveIni();
        LoadSettingNames();
        RedrawSpeed = c.value;
        WriteRedrawSpeed();
        EXPECT_EQ(ReadIni(), SpeedIni(c.text)) << c.value;
        RedrawSpeed = 0;
        EXPECT_EQ(ReadRedrawSpeed(), c.value);
    }
}

TEST_F(Settings, WriteLeavesRestOfFileAlone)
{
    const std::string before =
        "[Desktop]\r\nWallpaper=(none)\r\nPattern=0 0 0 0 0 0 0 0\r\n"
        "[ZEMBLOID]\r\nOther Key=abc\r\nRedraw Speed=3\r\nLast=zz\r\n"
        "[Zzz]\r\nRedraw Speed=12\r\n";
    std::string after = before;
    after.replace(after.find("Redraw Speed=3"), 14, "Redraw Speed=7");
    WriteIni(before);
    LoadSettingNames();
    RedrawSpeed = 7;
    WriteRedrawSpeed();
    EXPECT_EQ(ReadIni(), after);

    // A file without the section gains it at the end; the rest stays.
    const std::string other = "[Desktop]\r\nWallpaper=(none)\r\n";
    WriteIni(other);
    RedrawSpeed = 30;
    WriteRedrawSpeed();
    std::string text = ReadIni();
    EXPECT_EQ(text.substr(0, other.size()), other);
    EXPECT_EQ(StoredSpeed(), "30");
}

// ---------------------------------------------------------------------------
// The configure dialog.

TEST_F(Settings, DialogOpensAtStoredValueOrDefault)
{
    const struct {
        const char *stored;
        int shown;
    } cases[] = {{nullptr, 15}, {"1", 1}, {"30", 30}, {"7", 7},
                 {"0", 15},     {"31", 15}, {"100", 15}, {"-3", 15}};
    for (const auto &c : cases) {
        if (c.stored)
            WriteIni(SpeedIni(c.stored));
        else
            RemoveIni();
        const std::string before = ReadIni();
        int shownThumb = -1, low = -1, high = -1;
        LONG shownValue = -1;
        int result = RunDriven(nullptr, [&](HWND dialog) {
            shownThumb = Thumb(dialog);
            shownValue = RedrawSpeed;
            GetScrollRange(Scroll(dialog), SB_CTL, &low, &high);
            Command(dialog, IDC_CONFIG_CANCEL);
        });
        const char *label = c.stored ? c.stored : "no file";
        EXPECT_EQ(result, 0) << label;
        EXPECT_EQ(shownThumb, c.shown) << label;
        EXPECT_EQ(shownValue, c.shown) << label;
        EXPECT_EQ(low, 1);
        EXPECT_EQ(high, 30);
        EXPECT_EQ(ReadIni(), before) << "Cancel wrote to the file; stored " << label;
    }
}

TEST_F(Settings, OkReplacesOutOfRangeValueWithDefault)
{
    for (const char *stored : {"0", "31", "100"}) {
        WriteIni("[Desktop]\r\nA=1\r\n" + SpeedIni(stored));
        int result = RunDriven(nullptr, [](HWND dialog) { Command(dialog, IDC_CONFIG_OK); });
        EXPECT_EQ(result, 1) << stored;
        EXPECT_EQ(ReadIni(), "[Desktop]\r\nA=1\r\n" + SpeedIni("15")) << stored;
    }
}

// Each step sends one scroll code and checks the value and the thumb after it.
TEST_F(Settings, ScrollCodesMoveValueAndThumb)
{
    const struct {
        WORD code;
        WORD position;
        int expected;
    } steps[] = {
        {SB_LINELEFT, 0, 14},      {SB_LINERIGHT, 0, 15},   {SB_PAGELEFT, 0, 14},
        {SB_PAGERIGHT, 0, 15},     {SB_THUMBTRACK, 3, 15},  {SB_THUMBPOSITION, 3, 3},
        {SB_THUMBTRACK, 25, 3},    {SB_ENDSCROLL, 0, 3},    {SB_LINELEFT, 0, 2},
        {SB_LINELEFT, 0, 1},       {SB_LINELEFT, 0, 1},     {SB_PAGELEFT, 0, 1},
        {SB_LEFT, 0, 30},          {SB_LINERIGHT, 0, 30},   {SB_PAGERIGHT, 0, 30},
        {SB_RIGHT, 0, 1},          {9, 20, 1},              {SB_THUMBPOSITION, 40, 30},
        {SB_THUMBPOSITION, 0, 1},  {SB_THUMBPOSITION, 22, 22},
    };
    std::string trail;
    int result = RunDriven(nullptr, [&](HWND dialog) {
        for (const auto &s : steps) {
            SendScroll(dialog, s.code, s.position);
            EXPECT_EQ(RedrawSpeed, s.expected) << "code " << s.code << " position " << s.position;
            EXPECT_EQ(Thumb(dialog), s.expected) << "code " << s.code;
        }
        Command(dialog, IDC_CONFIG_OK);
    });
    EXPECT_EQ(result, 1);
    EXPECT_EQ(ReadIni(), SpeedIni("22"));
}

// Whatever its notification code, a command from the OK button is OK.
TEST_F(Settings, OkWritesChosenValueWhateverTheNotification)
{
    for (WORD notification : {(WORD)BN_CLICKED, (WORD)1, (WORD)0x1234}) {
        RemoveIni();
        int result = RunDriven(nullptr, [&](HWND dialog) {
            SendScroll(dialog, SB_THUMBPOSITION, 7);
            Command(dialog, IDC_CONFIG_OK, notification);
        });
        EXPECT_EQ(result, 1) << notification;
        EXPECT_EQ(ReadIni(), SpeedIni("7")) << notification;
    }
}

// The ways out that discard: the Cancel button, Escape and the close box (both
// arrive as IDCANCEL). Those that keep: the OK button, and Enter, which the
// dialog manager turns into a click on the focused button or, with none, IDOK.
TEST_F(Settings, WaysOutOfTheDialog)
{
    const struct {
        const char *name;
        std::function<void(HWND)> leave;
        int result;
    } ways[] = {
        {"Cancel button", [](HWND d) { Command(d, IDC_CONFIG_CANCEL); }, 0},
        {"Cancel, other notification", [](HWND d) { Command(d, IDC_CONFIG_CANCEL, 7); }, 0},
        {"Escape", [](HWND d) { PostKey(d, VK_ESCAPE); }, 0},
        {"close box", [](HWND d) { PostMessageA(d, WM_SYSCOMMAND, SC_CLOSE, 0); }, 0},
        {"WM_CLOSE", [](HWND d) { PostMessageA(d, WM_CLOSE, 0, 0); }, 0},
        {"IDCANCEL", [](HWND d) { SendMessageA(d, WM_COMMAND, IDCANCEL, 0); }, 0},
        {"Enter", [](HWND d) { PostKey(d, VK_RETURN); }, 1},
        {"IDOK", [](HWND d) { SendMessageA(d, WM_COMMAND, IDOK, 0); }, 1},
        {"OK button", [](HWND d) { Command(d, IDC_CONFIG_OK); }, 1},
    };
    const std::string before = "[Desktop]\r\nA=1\r\n" + SpeedIni("12");
    for (const auto &way : ways) {
        WriteIni(before);
        int result = RunDriven(nullptr, [&](HWND dialog) {
            SendScroll(dialog, SB_LINERIGHT);
            SendScroll(dialog, SB_LINERIGHT);
            way.leave(dialog);
        });
        EXPECT_EQ(result, way.result) << way.name;
        if (way.result == 1)
            EXPECT_EQ(ReadIni(), "[Desktop]\r\nA=1\r\n" + SpeedIni("14")) << way.name;
        else
            EXPECT_EQ(ReadIni(), before) << way.name;
    }
}

TEST_F(Settings, OtherCommandsKeepDialogOpen)
{
    bool openAfter = false;
    int result = RunDriven(nullptr, [&](HWND dialog) {
        SendScroll(dialog, SB_THUMBPOSITION, 9);
        for (WORD id : {(WORD)0, (WORD)3, (WORD)IDC_FAST_LABEL, (WORD)IDC_SPEED_SCROLL, (WORD)4000})
            Command(dialog, id);
        openAfter = IsWindowVisible(dialog) && RedrawSpeed == 9 && Thumb(dialog) == 9;
        Command(dialog, IDC_CONFIG_CANCEL);
    });
    EXPECT_TRUE(openAfter);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(ReadIni(), "<missing>");
}

// The product's manifest makes the process aware of each monitor's DPI, and
// the system would then leave the dialog at the primary monitor's size
// everywhere. The dialog asks to be scaled to its own monitor: laid out anew
// where the system can (Windows 10 1703 on), stretched where it cannot.
TEST_F(Settings, DialogIsScaledToItsMonitor)
{
    DPI_AWARENESS_CONTEXT before = SetThreadDpiAwarenessContext(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE);
    ASSERT_TRUE(before);
    DPI_AWARENESS_CONTEXT context = nullptr;
    RunDriven(nullptr, [&](HWND dialog) {
        context = GetWindowDpiAwarenessContext(dialog);
        Command(dialog, IDC_CONFIG_CANCEL);
    });
    SetThreadDpiAwarenessContext(before);
    EXPECT_TRUE(AreDpiAwarenessContextsEqual(context, DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2) ||
                AreDpiAwarenessContextsEqual(context, DPI_AWARENESS_CONTEXT_SYSTEM_AWARE));
}

// The dispatcher passes the foreground window as owner for /c, none otherwise.
TEST_F(Settings, DialogIsOwnedByGivenWindow)
{
    HWND owner = CreateWindowExA(0, "STATIC", "owner", WS_POPUP | WS_VISIBLE, 0, 0, 50, 50,
                                 nullptr, nullptr, nullptr, nullptr);
    ASSERT_TRUE(owner);
    HWND seenOwner = nullptr;
    BOOL ownerEnabled = TRUE;
    int result = RunDriven(owner, [&](HWND dialog) {
        seenOwner = GetWindow(dialog, GW_OWNER);
        ownerEnabled = IsWindowEnabled(owner);
        Command(dialog, IDC_CONFIG_CANCEL);
    });
    EXPECT_EQ(result, 0);
    EXPECT_EQ(seenOwner, owner);
    EXPECT_FALSE(ownerEnabled);
    EXPECT_TRUE(IsWindowEnabled(owner));
    DestroyWindow(owner);

    seenOwner = owner;
    RunDriven(nullptr, [&](HWND dialog) {
        seenOwner = GetWindow(dialog, GW_OWNER);
        Command(dialog, IDC_CONFIG_CANCEL);
    });
    EXPECT_EQ(seenOwner, nullptr);
}

// ---------------------------------------------------------------------------
// The About box.

struct AboutRecord {
    HWND configure = nullptr;
    std::function<void(HWND)> close;
    HWND about = nullptr;
    std::string title;
    HWND owner = nullptr;
    BOOL configureEnabled = TRUE;
    int focusId = 0;
    bool closeIssued = false;
};

AboutRecord About;

BOOL CALLBACK FindAboutWindow(HWND window, LPARAM found)
{
    if (IsWindowVisible(window) && GetWindow(window, GW_OWNER) == About.configure) {
        *(HWND *)found = window;
        return FALSE;
    }
    return TRUE;
}

void CALLBACK AboutTick(HWND, UINT, UINT_PTR id, DWORD)
{
    HWND about = nullptr;
    EnumThreadWindows(GetCurrentThreadId(), FindAboutWindow, (LPARAM)&about);
    if (!about) return;
    KillTimer(nullptr, id);
    char title[128] = "";
    GetWindowTextA(about, title, sizeof title);
    About.about = about;
    About.title = title;
    About.owner = GetWindow(about, GW_OWNER);
    About.configureEnabled = IsWindowEnabled(About.configure);
    About.focusId = GetFocus() ? GetDlgCtrlID(GetFocus()) : 0;
    About.closeIssued = true;
    About.close(about);
}

TEST_F(Settings, AboutBoxClosesEveryWayLeavingValueAlone)
{
    const struct {
        const char *name;
        std::function<void(HWND)> close;
    } ways[] = {
        {"its OK button", [](HWND a) { SendMessageA(GetDlgItem(a, IDOK), BM_CLICK, 0, 0); }},
        {"Enter", [](HWND a) { PostKey(a, VK_RETURN); }},
        {"Escape", [](HWND a) { PostKey(a, VK_ESCAPE); }},
        {"close box", [](HWND a) { PostMessageA(a, WM_SYSCOMMAND, SC_CLOSE, 0); }},
    };
    for (const auto &way : ways) {
        WriteIni(SpeedIni("12"));
        bool aboutGone = false, stillOpen = false;
        LONG valueAfter = -1;
        int thumbAfter = -1;
        int result = RunDriven(nullptr, [&](HWND dialog) {
            SendScroll(dialog, SB_THUMBPOSITION, 23);
            About = AboutRecord();
            About.configure = dialog;
            About.close = way.close;
            UINT_PTR tick = SetTimer(nullptr, 0, 20, AboutTick);
            Command(dialog, IDC_CONFIG_ABOUT);  // returns when the box has closed
            KillTimer(nullptr, tick);
            aboutGone = About.about && !IsWindow(About.about);
            stillOpen = IsWindowVisible(dialog) && IsWindowEnabled(dialog);
            valueAfter = RedrawSpeed;
            thumbAfter = Thumb(dialog);
            Command(dialog, IDC_CONFIG_CANCEL);
        });
        EXPECT_TRUE(About.closeIssued) << way.name << ": the About box never appeared";
        EXPECT_EQ(About.title, ABOUT_TITLE) << way.name;
        EXPECT_EQ(About.owner, About.configure) << way.name;
        EXPECT_FALSE(About.configureEnabled) << way.name << ": not modal over the dialog";
        EXPECT_EQ(About.focusId, IDOK) << way.name;
        EXPECT_TRUE(aboutGone) << way.name;
        EXPECT_TRUE(stillOpen) << way.name;
        EXPECT_EQ(valueAfter, 23) << way.name;
        EXPECT_EQ(thumbAfter, 23) << way.name;
        EXPECT_EQ(result, 0) << way.name;
        EXPECT_EQ(ReadIni(), SpeedIni("12")) << way.name;
    }
}

}  // namespace
