// The command line: program-name skipping, mode selection and window handles.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "host/CommandLine.h"

namespace {

struct TailCase {
    const char *commandLine;
    const char *tail;
};

TEST(CommandTail, SkipsProgramNameAndWhatFollowsIt)
{
    const TailCase cases[] = {
        {"zembloid.scr /s", "/s"},
        {"C:\\WINDOWS\\ZEMBLOID.SCR /p 123", "/p 123"},
        {"\"C:\\Program Files\\zembloid.scr\" /s", "/s"},
        {"\"C:\\Program Files\\zembloid.scr\"/c", "/c"},
        {"zembloid.scr \t\r\n /s", "/s"},  // blanks, tabs and control characters
        {"\"unterminated quote /s", ""},
        {"zembloid.scr", ""},
        {"\"\" /s", "/s"},
        {"", ""},
        {"a.scr\x01\x1F/s", "/s"},
        // Bytes from 0x80 up belong to the program name (Shift-JIS path).
        {"\x83X\x83N\x83\x8A\x81[\x83\x93.scr /s", "/s"},
    };
    for (const TailCase &c : cases)
        EXPECT_STREQ(c.tail, CommandTail(c.commandLine, NextSingleByte)) << "line: " << c.commandLine;
}

// A two-byte step for lead bytes 0x81..0x9F, like the system's CharNextA for
// code page 932; it never steps past the terminating zero.
const char *NextDoubleByteAware(const char *text)
{
    unsigned char c = (unsigned char)*text;
    if (c == 0) return text;
    if (c >= 0x81 && c <= 0x9F && text[1] != '\0') return text + 2;
    return text + 1;
}

TEST(CommandTail, StepsDoubleByteCharactersWhole)
{
    // Inside quotes a byte pair is stepped whole, so a second byte that looks
    // like a quote does not end the name.
    EXPECT_STREQ("/s", CommandTail("\"\x81\"x y\" /s", NextDoubleByteAware));
    EXPECT_STREQ("x y\" /s", CommandTail("\"\x81\"x y\" /s", NextSingleByte));
    // A lead byte right before the end does not run past the terminating zero.
    EXPECT_STREQ("", CommandTail("\"abc\x81", NextDoubleByteAware));
    EXPECT_STREQ("", CommandTail("abc\x81", NextDoubleByteAware));
}

struct ModeCase {
    const char *tail;
    SaverMode mode;
    const char *rest;  // nullptr: not checked
};

TEST(ScanCommandTail, FirstSignificantCharacterPicksTheMode)
{
    const ModeCase cases[] = {
        {"/s", MODE_SAVER, nullptr},
        {"-S", MODE_SAVER, nullptr},
        {"s", MODE_SAVER, nullptr},
        {"/ s", MODE_SAVER, nullptr},
        {"/s /c", MODE_SAVER, " /c"},
        {"--//  S", MODE_SAVER, nullptr},
        {"/p 123", MODE_PREVIEW, "123"},
        {"/p123", MODE_PREVIEW, "123"},
        {"/l 123", MODE_PREVIEW, "123"},
        {"/L    77 x", MODE_PREVIEW, "77 x"},
        {"/p", MODE_PREVIEW, ""},
        {"/p\t5", MODE_PREVIEW, "\t5"},  // only blanks are skipped
        {"/c", MODE_CONFIGURE_OWNED, nullptr},
        {"/c:123", MODE_CONFIGURE_OWNED, ":123"},
        {"C", MODE_CONFIGURE_OWNED, nullptr},
        {"", MODE_CONFIGURE, ""},
        {"/", MODE_CONFIGURE, ""},
        {"-", MODE_CONFIGURE, ""},
        {"/ - // --  ", MODE_CONFIGURE, ""},
        {"/a 123", MODE_CHANGE_PASSWORD, "123"},
        {"A", MODE_CHANGE_PASSWORD, ""},
        {"/x", MODE_REFUSED, nullptr},
        {"/?", MODE_REFUSED, nullptr},
        {"/\ts", MODE_REFUSED, nullptr},
        {"\x82\x72", MODE_REFUSED, nullptr},  // a double-byte letter is not a switch
        {"1", MODE_REFUSED, nullptr},
    };
    for (const ModeCase &c : cases) {
        ModeRequest request = ScanCommandTail(c.tail);
        EXPECT_EQ(c.mode, request.mode) << "tail: \"" << c.tail << "\"";
        if (c.rest != nullptr) {
            EXPECT_STREQ(c.rest, request.rest) << "tail: \"" << c.tail << "\"";
        }
    }
    // Every letter in both cases: five give a mode, all others are refused.
    const struct {
        char letter;
        SaverMode mode;
    } modeLetters[] = {{'a', MODE_CHANGE_PASSWORD}, {'c', MODE_CONFIGURE_OWNED},
                       {'l', MODE_PREVIEW}, {'p', MODE_PREVIEW}, {'s', MODE_SAVER}};
    for (char lower = 'a'; lower <= 'z'; ++lower) {
        SaverMode mode = MODE_REFUSED;
        for (const auto &m : modeLetters)
            if (m.letter == lower) mode = m.mode;
        for (char letter : {lower, (char)(lower - 'a' + 'A')}) {
            const char tail[] = {'/', letter, '\0'};
            EXPECT_EQ(mode, ScanCommandTail(tail).mode) << "tail: \"" << tail << "\"";
        }
    }
}

TEST(ScanCommandTail, RestPointsIntoTheGivenText)
{
    const char tail[] = "  /p  42";
    ModeRequest request = ScanCommandTail(tail);
    EXPECT_EQ(tail + std::strlen("  /p  "), request.rest);
}

struct HandleCase {
    const char *text;
    uint32_t value;
};

TEST(ParseWindowHandle, ReadsLeadingDecimalDigits)
{
    const HandleCase cases[] = {
        {"123", 123},
        {"0", 0},
        {"", 0},
        {"abc", 0},
        {"-5", 0},
        {"+5", 0},
        {" 5", 0},
        {"65572 trailing", 65572},
        {"12abc", 12},
        {"007", 7},
        {"4294967295", 0xFFFFFFFFu},
        {"4294967296", 0},   // wraps at 32 bits
        {"4294967301", 5},
        {"99999999999", (uint32_t)(99999999999ull % 4294967296ull)},
    };
    for (const HandleCase &c : cases)
        EXPECT_EQ(c.value, ParseWindowHandle(c.text)) << "text: \"" << c.text << "\"";
}

}  // namespace
