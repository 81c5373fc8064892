// CreateDibPalette against the real GDI: the palette made from a frame
// bitmap, and the warning and clean-up when no palette can be made.
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "animation/Dib.h"
#include "animation/Palette_win.h"

namespace {

const int FIRST_FRAME_RESOURCE = 106;

// Message boxes seen by this thread: each is counted, read and dismissed.
struct BoxLog {
    int count;
    HWND owner;
    std::string caption;
    std::string text;
    HICON icon;
};
BoxLog Boxes;

BOOL CALLBACK ReadBoxText(HWND child, LPARAM)
{
    char className[32] = {}, text[256] = {};
    GetClassNameA(child, className, sizeof className);
    GetWindowTextA(child, text, sizeof text);
    if (lstrcmpiA(className, "Static") != 0)
        return TRUE;
    if (text[0] != '\0')
        Boxes.text = text;
    HICON icon = reinterpret_cast<HICON>(SendMessageA(child, STM_GETICON, 0, 0));
    if (icon != NULL)
        Boxes.icon = icon;
    return TRUE;
}

bool IsDialogBox(HWND window)
{
    char className[32] = {};
    GetClassNameA(window, className, sizeof className);
    return strcmp(className, "#32770") == 0;
}

LRESULT CALLBACK WatchBoxes(int code, WPARAM wParam, LPARAM lParam)
{
    HWND window = reinterpret_cast<HWND>(wParam);
    if (code == HCBT_CREATEWND && IsDialogBox(window))
        ++Boxes.count;
    if (code == HCBT_ACTIVATE && IsDialogBox(window)) {
        char caption[64] = {};
        GetWindowTextA(window, caption, sizeof caption);
        Boxes.caption = caption;
        Boxes.owner = GetWindow(window, GW_OWNER);
        EnumChildWindows(window, ReadBoxText, 0);
        PostMessageA(window, WM_COMMAND, IDOK, 0);
    }
    return CallNextHookEx(NULL, code, wParam, lParam);
}

// Stand-ins for the system calls, recording what CreateDibPalette hands them.
struct CallLog {
    int allocations;
    int creations;
    int frees;
    const void *created;
    WORD createdVersion;
    WORD createdEntries;
    const void *freed;
};
CallLog Calls;

HLOCAL WINAPI FailingAlloc(UINT, SIZE_T)
{
    ++Calls.allocations;
    return NULL;
}

HPALETTE WINAPI FailingCreate(const LOGPALETTE *block)
{
    ++Calls.creations;
    Calls.created = block;
    Calls.createdVersion = block->palVersion;
    Calls.createdEntries = block->palNumEntries;
    return NULL;
}

HLOCAL WINAPI RecordingFree(HLOCAL block)
{
    ++Calls.frees;
    Calls.freed = block;
    return LocalFree(block);
}

class PaletteTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        saved = PaletteCalls;
        Boxes = BoxLog();
        Calls = CallLog();
        hook = SetWindowsHookExA(WH_CBT, WatchBoxes, NULL, GetCurrentThreadId());
        ASSERT_NE(nullptr, hook);
        owner = CreateWindowExA(0, "STATIC", "owner", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100,
                                NULL, NULL, GetModuleHandleA(NULL), NULL);
        ASSERT_NE(nullptr, owner);
    }
    void TearDown() override
    {
        PaletteCalls = saved;
        DestroyWindow(owner);
        UnhookWindowsHookEx(hook);
    }

    const void *FrameResource()
    {
        HRSRC found = FindResourceA(NULL, MAKEINTRESOURCEA(FIRST_FRAME_RESOURCE), MAKEINTRESOURCEA(2));
        HGLOBAL loaded = found ? LoadResource(NULL, found) : NULL;
        return loaded ? LockResource(loaded) : nullptr;
    }

    std::vector<PALETTEENTRY> Entries(HPALETTE palette)
    {
        UINT count = GetPaletteEntries(palette, 0, 0, NULL);
        std::vector<PALETTEENTRY> entries(count);
        if (count != 0)
            GetPaletteEntries(palette, 0, count, entries.data());
        return entries;
    }

    PaletteCallTable saved;
    HHOOK hook;
    HWND owner;
};

TEST_F(PaletteTest, FrameBitmapGivesBlackAndWhitePalette)
{
    const void *dib = FrameResource();
    ASSERT_NE(nullptr, dib);
    ASSERT_EQ(40u, DibHeaderSize(dib));
    ASSERT_EQ(1, DibBitCount(dib));

    PaletteCalls.localFree = RecordingFree;
    HPALETTE palette = CreateDibPalette(owner, dib, 0);
    ASSERT_NE(nullptr, palette);
    std::vector<PALETTEENTRY> entries = Entries(palette);
    ASSERT_EQ(2u, entries.size());
    EXPECT_EQ(0, entries[0].peRed);
    EXPECT_EQ(0, entries[0].peGreen);
    EXPECT_EQ(0, entries[0].peBlue);
    EXPECT_EQ(0, entries[0].peFlags);
    EXPECT_EQ(255, entries[1].peRed);
    EXPECT_EQ(255, entries[1].peGreen);
    EXPECT_EQ(255, entries[1].peBlue);
    EXPECT_EQ(0, entries[1].peFlags);
    EXPECT_EQ(1, Calls.frees);
    EXPECT_EQ(0, Boxes.count);
    EXPECT_TRUE(DeleteObject(palette));
}

TEST_F(PaletteTest, DeepBitmapGivesBuiltInColours)
{
    // A 24-bit bitmap without a colour count: 224 built-in colours.
    BITMAPINFOHEADER header = {};
    header.biSize = sizeof header;
    header.biWidth = 4;
    header.biHeight = 4;
    header.biPlanes = 1;
    header.biBitCount = 24;
    HPALETTE palette = CreateDibPalette(owner, &header, PC_NOCOLLAPSE);
    ASSERT_NE(nullptr, palette);
    std::vector<PALETTEENTRY> entries = Entries(palette);
    ASSERT_EQ(224u, entries.size());
    EXPECT_EQ(0xFF, entries[1].peRed);
    EXPECT_EQ(0xB9, entries[223].peRed);
    EXPECT_EQ(0xB9, entries[223].peGreen);
    EXPECT_EQ(0x00, entries[223].peBlue);
    EXPECT_EQ(PC_NOCOLLAPSE, entries[223].peFlags);
    EXPECT_TRUE(DeleteObject(palette));
}

TEST_F(PaletteTest, FailedCreationWarnsOnceAndFreesTheBlock)
{
    const void *dib = FrameResource();
    ASSERT_NE(nullptr, dib);
    PaletteCalls.createPalette = FailingCreate;
    PaletteCalls.localFree = RecordingFree;

    EXPECT_EQ(nullptr, CreateDibPalette(owner, dib, 0));
    EXPECT_EQ(1, Boxes.count);
    EXPECT_EQ("PAL2", Boxes.caption);
    EXPECT_EQ("パレットができませんでした。", Boxes.text);
    EXPECT_EQ(owner, Boxes.owner);
    EXPECT_EQ(LoadIconA(NULL, IDI_WARNING), Boxes.icon);
    ASSERT_EQ(1, Calls.creations);
    EXPECT_EQ(0x300, Calls.createdVersion);
    EXPECT_EQ(2, Calls.createdEntries);
    EXPECT_EQ(1, Calls.frees);
    EXPECT_EQ(Calls.created, Calls.freed);
}

TEST_F(PaletteTest, FailedAllocationGivesNullWithoutWarning)
{
    const void *dib = FrameResource();
    ASSERT_NE(nullptr, dib);
    PaletteCalls.localAlloc = FailingAlloc;
    PaletteCalls.createPalette = FailingCreate;
    PaletteCalls.localFree = RecordingFree;

    EXPECT_EQ(nullptr, CreateDibPalette(owner, dib, 0));
    EXPECT_EQ(1, Calls.allocations);
    EXPECT_EQ(0, Calls.creations);
    EXPECT_EQ(0, Calls.frees);
    EXPECT_EQ(0, Boxes.count);
}

} // namespace
