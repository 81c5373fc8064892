// Header fields, colour-table size and pixel-bits offset of packed DIBs.
#include "animation/Dib.h"

#include <gtest/gtest.h>

#include "DibImage.h"

namespace {

struct AccessorCase {
    const char *name;
    DibLayout dib;
    uint16_t width, height, bitCount;
    uint32_t tableCount;
    size_t bitsOffset;
};

const AccessorCase ACCESSOR_CASES[] = {
    // {header size, width, height, bit count, colours used, stored entries},
    // then the expected width, height, bit count, table count and bits offset.
    {"frame format",              {40, 640, 480, 1, 2, 2},                       640, 480, 1, 2, 48},
    {"1 bit, no count",           {40, 640, 480, 1, 0, 2},                       640, 480, 1, 2, 48},
    {"4 bit, count 16",           {40, 32, 16, 4, 16, 16},                       32, 16, 4, 16, 104},
    {"8 bit, no count",           {40, 100, 50, 8, 0, 256},                      100, 50, 8, 256, 1064},
    {"8 bit, count 3",            {40, 100, 50, 8, 3, 3},                        100, 50, 8, 3, 52},
    {"24 bit, no count",          {40, 320, 200, 24, 0, 0},                      320, 200, 24, 0, 40},
    {"24 bit, count 16",          {40, 320, 200, 24, 16, 16},                    320, 200, 24, 16, 104},
    {"core 1 bit",                {12, 640, 480, 1, 0, 2},                       640, 480, 1, 2, 18},
    {"core 4 bit",                {12, 0x1234, 0x0201, 4, 0, 16},                0x1234, 0x0201, 4, 16, 60},
    {"core 8 bit",                {12, 8, 8, 8, 0, 256},                         8, 8, 8, 256, 780},
    {"core 24 bit",               {12, 8, 8, 24, 0, 0},                          8, 8, 24, 0, 12},
    {"width, height low halves",  {40, 65536 + 640, 0x7FFF0000u + 480, 1, 2, 2}, 640, 480, 1, 2, 48},
    {"108-byte header, 8 bit",    {108, 64, 64, 8, 0, 256},                      64, 64, 8, 256, 1132},
    {"13-byte header",            {13, 64, 48, 4, 0, 0},                         64, 48, 4, 16, 77},
    {"16-byte header, no count",  {16, 64, 48, 4, 2, 16},                        64, 48, 4, 16, 80},
    {"36-byte header, count",     {36, 64, 48, 4, 3, 3},                         64, 48, 4, 3, 48},
    {"16 bit, no table",          {40, 64, 48, 16, 0, 0},                        64, 48, 16, 0, 40},
    {"32 bit, count 2",           {40, 64, 48, 32, 2, 2},                        64, 48, 32, 2, 48},
    {"core 16 bit",               {12, 64, 48, 16, 0, 0},                        64, 48, 16, 0, 12},
    {"bit count 0",               {40, 64, 48, 0, 0, 0},                         64, 48, 0, 0, 40},
};

TEST(DibAccessors, ReadHeaderFieldsAndLocateBits)
{
    for (const AccessorCase &c : ACCESSOR_CASES) {
        SCOPED_TRACE(c.name);
        std::vector<uint8_t> bytes = MakeDib(c.dib);
        const void *dib = bytes.data();
        EXPECT_EQ(c.dib.headerSize, DibHeaderSize(dib));
        EXPECT_EQ(c.width, DibWidth(dib));
        EXPECT_EQ(c.height, DibHeight(dib));
        EXPECT_EQ(c.bitCount, DibBitCount(dib));
        EXPECT_EQ(c.tableCount, DibColourTableCount(dib));
        EXPECT_EQ(bytes.data() + c.bitsOffset, DibBits(dib));
    }
}

TEST(DibAccessors, HeaderSizeIsLittleEndian)
{
    std::vector<uint8_t> bytes = {0x0C, 0x00, 0x00, 0x01, 0, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(0x0100000Cu, DibHeaderSize(bytes.data()));
}

TEST(DibAccessors, CoreOffsetsOnlyForSizeTwelve)
{
    // Same bytes, read as core header (height at 6, bits at 10) or info header.
    std::vector<uint8_t> bytes(40, 0);
    PutLE(bytes, 4, 300, 2);
    PutLE(bytes, 6, 111, 2);
    PutLE(bytes, 8, 222, 2);
    PutLE(bytes, 10, 4, 2);
    PutLE(bytes, 14, 8, 2);
    const struct { uint32_t size; uint16_t height, bitCount; } cases[] = {
        {12, 111, 4}, {11, 222, 8}, {13, 222, 8}, {16, 222, 8}, {40, 222, 8}, {0x100000C, 222, 8},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.size);
        PutLE(bytes, 0, c.size, 4);
        EXPECT_EQ(c.size > 5 ? 300 : 0, DibWidth(bytes.data()));
        EXPECT_EQ(c.height, DibHeight(bytes.data()));
        EXPECT_EQ(c.bitCount, DibBitCount(bytes.data()));
    }
}

TEST(DibAccessors, NeverReadPastTheFieldsTheyUse)
{
    // Each bitmap ends right after its header, or right after the bit count
    // when the stated header is shorter: a read beyond it would fault.
    const struct { uint32_t size; uint16_t bitCount; uint32_t used; } cases[] = {
        {12, 24, 0}, {13, 24, 0}, {15, 24, 0}, {16, 24, 0}, {35, 24, 0}, {36, 24, 5}, {40, 24, 5},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.size);
        std::vector<uint8_t> bytes = MakeDib({c.size, 8, 9, 24, 5, 0});
        bytes.resize(c.size < 16 ? 16 : c.size);
        GuardedBytes guarded(bytes);
        const void *dib = guarded.data();
        EXPECT_EQ(8, DibWidth(dib));
        EXPECT_EQ(9, DibHeight(dib));
        EXPECT_EQ(c.bitCount, DibBitCount(dib));
        EXPECT_EQ(c.used, DibColoursUsed(dib));
        EXPECT_EQ(guarded.data() + c.size + 4 * c.used, DibBits(dib));
    }
}

} // namespace
