// The Linux program's frames as pixels at a scale, and its frame sets per scale.
#include <gtest/gtest.h>
#include <vector>

#include "linux/Saver_linux.h"
#include "tests/unit/DibImage.h"

// A 3 x 2 frame whose bottom row (stored first) is 1 0 1 and top row 0 1 1,
// each row padded to 4 bytes; the last byte of the padding is set, which
// must not show.
static std::vector<uint8_t> SmallFrame()
{
    std::vector<uint8_t> dib = MakeDib({40, 3, 2, 1, 0, 2});
    const uint8_t rows[8] = {0xA0, 0, 0, 0xFF, 0x60, 0, 0, 0xFF};
    dib.insert(dib.end(), rows, rows + 8);
    return dib;
}

TEST(FramePixels, EachPixelBecomesASquareTopRowFirst)
{
    std::vector<uint8_t> dib = SmallFrame();
    uint32_t colours[2];
    FrameColours(dib.data(), colours);
    // MakeDib's entries: blue i, green 255 - i, red i ^ 0x5A.
    EXPECT_EQ(colours[0], 0xFF5AFF00u);
    EXPECT_EQ(colours[1], 0xFF5BFE01u);
    const uint32_t a = 10, b = 11, pad = 99;
    const uint32_t ink[2] = {a, b};
    struct Case {
        int scale, stride;
        std::vector<uint32_t> pixels;
    };
    const Case cases[] = {
        {1, 3, {a, b, b,  b, a, b}},
        {1, 4, {a, b, b, pad,  b, a, b, pad}},   // the stride's spare pixel is left alone
        {2, 6, {a, a, b, b, b, b,  a, a, b, b, b, b,
                b, b, a, a, b, b,  b, b, a, a, b, b}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.scale);
        std::vector<uint32_t> out(c.pixels.size(), pad);
        ExpandFrame(dib.data(), c.scale, ink, out.data(), c.stride);
        EXPECT_EQ(out, c.pixels);
    }
}

static std::vector<int> Built, Released;
static bool BuildSet(int slot, int scale)
{
    Built.push_back(slot * 100 + scale);
    return scale != 7;   // a set too large to be made
}
static void ReleaseSet(int slot)
{
    Released.push_back(slot);
}

TEST(FramePixels, OneSetPerScaleInUseNeverPastTheTable)
{
    ScaleSets sets = {};
    int placementSets[MONITOR_LIMIT];
    auto sync = [&](std::vector<int> scales) {
        std::vector<FramePlacement> placements;
        for (int scale : scales) placements.push_back({{0, 0, 1, 1}, scale});
        Built.clear();
        Released.clear();
        SyncScaleSets(&sets, placements.data(), (int)placements.size(), placementSets, BuildSet,
                      ReleaseSet);
        return std::vector<int>(placementSets, placementSets + placements.size());
    };
    EXPECT_EQ(sync({2, 1, 2}), std::vector<int>({0, 1, 0}));
    EXPECT_EQ(Built, std::vector<int>({2, 101}));
    EXPECT_EQ(sync({1, 3}), std::vector<int>({1, 0}));   // 2 released, its slot reused
    EXPECT_EQ(Released, std::vector<int>({0}));
    EXPECT_EQ(Built, std::vector<int>({3}));
    EXPECT_EQ(sync({7, 1}), std::vector<int>({-1, 1}));  // a set that cannot be made
    EXPECT_EQ(sets.scale[0], 0);
    // Every slot taken by a scale in use, and one scale more: that one gets
    // no set, and nothing is written past the table.
    ScaleSets full = {};
    for (int s = 0; s < MONITOR_LIMIT; ++s) full.scale[s] = 20 + s;
    std::vector<FramePlacement> many;
    for (int s = 0; s <= MONITOR_LIMIT; ++s) many.push_back({{0, 0, 1, 1}, 20 + s});
    std::vector<int> slots(many.size(), -2);
    SyncScaleSets(&full, many.data(), (int)many.size(), slots.data(), BuildSet, ReleaseSet);
    EXPECT_EQ(slots.back(), -1);
    EXPECT_EQ(slots[MONITOR_LIMIT - 1], MONITOR_LIMIT - 1);
}
