// The Linux program's frames as pixels at a scale, whole or only the part that is seen.
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
        int scale;
        FramePart part;
        int stride;
        std::vector<uint32_t> pixels;
    };
    const Case cases[] = {
        {1, {0, 0, 3, 2}, 3, {a, b, b,  b, a, b}},
        {1, {0, 0, 3, 2}, 4, {a, b, b, pad,  b, a, b, pad}},   // the stride's spare pixel is left alone
        {2, {0, 0, 6, 4}, 6, {a, a, b, b, b, b,  a, a, b, b, b, b,
                              b, b, a, a, b, b,  b, b, a, a, b, b}},
        // Only the part: from the middle of one enlarged pixel to the middle of another.
        {2, {1, 1, 3, 2}, 3, {a, b, b,  b, a, a}},
        {3, {4, 2, 2, 3}, 2, {b, b,  a, a,  a, a}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.scale);
        std::vector<uint32_t> out(c.pixels.size(), pad);
        ExpandFrame(dib.data(), c.scale, c.part, ink, out.data(), c.stride);
        EXPECT_EQ(out, c.pixels);
    }
}
