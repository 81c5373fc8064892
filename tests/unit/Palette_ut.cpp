// Palette counts, the filled LOGPALETTE block and the built-in colour table.
#include "animation/Palette.h"

#include <cmath>
#include <set>

#include <gtest/gtest.h>

#include "DibImage.h"
#include "animation/Dib.h"

namespace {

uint32_t Rgb(uint8_t red, uint8_t green, uint8_t blue)
{
    return uint32_t(red) << 16 | uint32_t(green) << 8 | blue;
}

uint32_t BuiltIn(uint32_t i)
{
    return Rgb(BuiltInPalette.red[i], BuiltInPalette.green[i], BuiltInPalette.blue[i]);
}

// The colour MakeDib stores as table entry i.
uint32_t Stored(uint32_t i)
{
    return Rgb(uint8_t(i ^ 0x5A), uint8_t(255 - i), uint8_t(i));
}

// Fills a block with room to spare and checks the spare bytes stay untouched.
struct FilledBlock {
    std::vector<uint8_t> bytes;
    uint32_t count;

    FilledBlock(const void *dib, uint8_t flags) : count(DibPaletteCount(dib))
    {
        bytes.assign(LogPaletteBytes(count) + 16, 0xA5);
        FillLogPalette(bytes.data(), dib, flags);
        for (size_t i = LogPaletteBytes(count); i < bytes.size(); ++i)
            EXPECT_EQ(0xA5, bytes[i]) << "written past the block at " << i;
    }
    uint32_t Colour(uint32_t i) const
    {
        const uint8_t *e = &bytes[4 + 4 * i];
        return Rgb(e[0], e[1], e[2]);
    }
    uint8_t Flags(uint32_t i) const { return bytes[4 + 4 * i + 3]; }
};

enum Source { TABLE, BUILT_IN };

struct PaletteCase {
    const char *name;
    DibLayout dib;
    uint32_t count;
    Source source;
};

const PaletteCase PALETTE_CASES[] = {
    {"frame format",             {40, 640, 480, 1, 2, 2},            2, TABLE},
    {"1 bit, no count",          {40, 640, 480, 1, 0, 2},            2, TABLE},
    {"4 bit, count 16",          {40, 8, 8, 4, 16, 16},              16, TABLE},
    {"8 bit, no count",          {40, 8, 8, 8, 0, 256},              256, TABLE},
    {"8 bit, count 3",           {40, 8, 8, 8, 3, 3},                3, TABLE},
    {"8 bit, count 300",         {40, 8, 8, 8, 300, 300},            256, TABLE},
    {"core 4 bit",               {12, 8, 8, 4, 0, 16},               16, TABLE},
    {"core 8 bit",               {12, 8, 8, 8, 0, 256},              256, TABLE},
    {"108-byte header, 4 bit",   {108, 8, 8, 4, 0, 16},              16, TABLE},
    {"20-byte header, 1 bit",    {20, 8, 8, 1, 7, 2},                2, TABLE},
    {"24 bit, no count",         {40, 8, 8, 24, 0, 0},               224, BUILT_IN},
    {"core 24 bit",              {12, 8, 8, 24, 0, 0},               224, BUILT_IN},
    {"24 bit, count 16",         {40, 8, 8, 24, 16, 16},             16, BUILT_IN},
    {"24 bit, count 256",        {40, 8, 8, 24, 256, 256},           256, BUILT_IN},
    {"24 bit, count 1000",       {40, 8, 8, 24, 1000, 0},            256, BUILT_IN},
    {"24 bit, count 2^32 - 1",   {40, 8, 8, 24, 0xFFFFFFFF, 0},      256, BUILT_IN},
    {"16 bit, no count",         {40, 8, 8, 16, 0, 0},               224, BUILT_IN},
    {"32 bit, count 2",          {40, 8, 8, 32, 2, 2},               2, BUILT_IN},
    {"core 16 bit",              {12, 8, 8, 16, 0, 0},               224, BUILT_IN},
    {"bit count 0",              {40, 8, 8, 0, 0, 0},                224, BUILT_IN},
    {"13-byte header, 24 bit",   {13, 8, 8, 24, 0, 0},               224, BUILT_IN},
};

TEST(DibPalette, CountsAndSourcesOfEntries)
{
    for (const PaletteCase &c : PALETTE_CASES) {
        SCOPED_TRACE(c.name);
        std::vector<uint8_t> bytes = MakeDib(c.dib);
        ASSERT_EQ(c.count, DibPaletteCount(bytes.data()));
        FilledBlock block(bytes.data(), 0);
        EXPECT_EQ(0x00, block.bytes[0]);
        EXPECT_EQ(0x03, block.bytes[1]);
        EXPECT_EQ(c.count & 0xFF, block.bytes[2]);
        EXPECT_EQ(c.count >> 8, block.bytes[3]);
        for (uint32_t i = 0; i < c.count; ++i) {
            uint32_t expected = c.source == TABLE ? Stored(i) : BuiltIn(i);
            ASSERT_EQ(expected, block.Colour(i)) << "entry " << i;
            ASSERT_EQ(0, block.Flags(i)) << "entry " << i;
        }
    }
}

TEST(DibPalette, FrameFormatBlockBytes)
{
    // 40-byte header, 640 x 480, 1 bit, colours used 2, black then white.
    std::vector<uint8_t> bytes = MakeDib({40, 640, 480, 1, 2, 2});
    const uint8_t table[] = {0x00, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0x00};
    std::copy(table, table + 8, bytes.begin() + 40);
    FilledBlock block(bytes.data(), 0);
    const std::vector<uint8_t> expected = {
        0x00, 0x03, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0x00};
    EXPECT_EQ(expected, std::vector<uint8_t>(block.bytes.begin(), block.bytes.begin() + 12));
}

TEST(DibPalette, ReservedByteIgnoredAndFlagsOnEveryEntry)
{
    std::vector<uint8_t> white = MakeDib({40, 8, 8, 1, 2, 2});
    const uint8_t table[] = {0xFF, 0xFF, 0xFF, 0x01, 0x10, 0x20, 0x30, 0x04};
    std::copy(table, table + 8, white.begin() + 40);
    std::vector<uint8_t> deep = MakeDib({40, 8, 8, 24, 0, 0});
    const struct { const void *dib; uint8_t flags; } cases[] = {
        {white.data(), 0}, {white.data(), 4}, {deep.data(), 0}, {deep.data(), 4}, {deep.data(), 0xFF},
    };
    for (const auto &c : cases) {
        FilledBlock block(c.dib, c.flags);
        for (uint32_t i = 0; i < block.count; ++i)
            ASSERT_EQ(c.flags, block.Flags(i)) << "entry " << i;
    }
    FilledBlock block(white.data(), 0);
    EXPECT_EQ(0xFFFFFFu, block.Colour(0));
    EXPECT_EQ(0x302010u, block.Colour(1));
}

TEST(DibPalette, NeverReadsPastTheStoredTable)
{
    // Each bitmap ends with its colour table: reading beyond it would fault.
    const DibLayout cases[] = {
        {40, 8, 8, 8, 2, 2},
        {40, 8, 8, 8, 300, 300},
        {12, 8, 8, 4, 0, 16},
        {20, 8, 8, 4, 0, 16},
        {13, 8, 8, 24, 0, 0},
        {40, 8, 8, 24, 0, 0},
        {40, 8, 8, 32, 0xFFFFFFFF, 0},
    };
    for (const DibLayout &layout : cases) {
        SCOPED_TRACE(layout.headerSize);
        std::vector<uint8_t> bytes = MakeDib(layout);
        // A header shorter than 16 bytes still has its bit count at offset 14.
        size_t end = layout.headerSize + (layout.headerSize == 12 ? 3 : 4) * layout.tableEntries;
        bytes.resize(end < 16 ? 16 : end);
        GuardedBytes guarded(bytes);
        FilledBlock block(guarded.data(), 0);
        EXPECT_GT(block.count, 0u);
    }
}

TEST(BuiltInPalette, AllColoursDistinct)
{
    std::set<uint32_t> colours;
    for (uint32_t i = 0; i < 256; ++i)
        colours.insert(BuiltIn(i));
    EXPECT_EQ(256u, colours.size());
}

TEST(BuiltInPalette, StaticColoursAtBothEnds)
{
    const uint32_t low[] = {0x000000, 0xFFFFFF, 0x800000, 0x008000, 0x808000, 0x000080,
                            0x800080, 0x008080, 0xC0C0C0, 0xC0DCC0, 0xA6CAF0};
    const uint32_t high[] = {0xFFFBF0, 0xA0A0A4, 0x808080, 0xFF0000, 0x00FF00,
                             0xFFFF00, 0x0000FF, 0xFF00FF, 0x00FFFF};
    for (uint32_t i = 0; i < 11; ++i)
        EXPECT_EQ(low[i], BuiltIn(i)) << "entry " << i;
    for (uint32_t i = 0; i < 9; ++i)
        EXPECT_EQ(high[i], BuiltIn(247 + i)) << "entry " << 247 + i;
}

TEST(BuiltInPalette, GreyRampFromF2Down)
{
    for (uint32_t k = 0; k < 20; ++k) {
        uint8_t level = uint8_t(242 - 12 * k);
        EXPECT_EQ(Rgb(level, level, level), BuiltIn(227 + k)) << "entry " << 227 + k;
    }
}

TEST(BuiltInPalette, DefaultPaletteEndsWithSecondYellowShade)
{
    EXPECT_EQ(0xB9B900u, BuiltIn(PALETTE_DEFAULT_ENTRIES - 1));
}

TEST(BuiltInPalette, PureFamiliesUseLevelFE)
{
    const struct { uint32_t entry, colour; } pure[] = {
        {41, 0xFE0000}, {77, 0xFE00FE}, {113, 0x0000FE},
        {149, 0x00FEFE}, {185, 0x00FE00}, {221, 0xFEFE00},
    };
    for (const auto &p : pure)
        EXPECT_EQ(p.colour, BuiltIn(p.entry)) << "entry " << p.entry;
}

double Hue(uint32_t rgb)
{
    double r = rgb >> 16, g = (rgb >> 8) & 0xFF, b = rgb & 0xFF;
    double high = std::fmax(r, std::fmax(g, b)), low = std::fmin(r, std::fmin(g, b));
    double span = high - low;
    double hue = high == r ? (g - b) / span : high == g ? 2 + (b - r) / span : 4 + (r - g) / span;
    return std::fmod(hue * 60 + 360, 360);
}

TEST(BuiltInPalette, HueFamiliesLightToDark)
{
    // 18 families of 12 from entry 11, hue 40 degrees first, 20 degrees apart
    // going down, each entry nearer its own family than a neighbour; within a
    // family every entry is darker than the one before.
    for (uint32_t f = 0; f < 18; ++f) {
        double hue = std::fmod(40.0 - 20.0 * f + 360, 360);
        int lastSum = 3 * 255 + 1;
        for (uint32_t k = 0; k < 12; ++k) {
            uint32_t i = 11 + 12 * f + k;
            uint32_t c = BuiltIn(i);
            double off = std::fabs(Hue(c) - hue);
            EXPECT_LT(std::fmin(off, 360 - off), 10.0) << "entry " << i;
            int sum = int(c >> 16) + int((c >> 8) & 0xFF) + int(c & 0xFF);
            EXPECT_LT(sum, lastSum) << "entry " << i;
            lastSum = sum;
        }
        uint32_t pure = BuiltIn(11 + 12 * f + 6);
        int zeros = ((pure >> 16) == 0) + (((pure >> 8) & 0xFF) == 0) + ((pure & 0xFF) == 0);
        EXPECT_GE(zeros, 1) << "family " << f;
    }
}

} // namespace
