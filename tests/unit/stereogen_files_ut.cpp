// The stereogram tool's files: the exact layout of the shipped frame bitmaps, the .bmp
// writer on odd sizes, the PGM reader on good and bad input, and the command line.
#include "StereoCheck.h"
#include "Stereogram.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>

using namespace stereocheck;

namespace {

uint16_t Le16(const std::vector<uint8_t> &b, size_t at) { return (uint16_t)(b[at] | b[at + 1] << 8); }

std::vector<uint8_t> Bytes(const std::string &text) { return std::vector<uint8_t>(text.begin(), text.end()); }

std::string TempPath(const std::string &name) { return testing::TempDir() + "stereogen_ut_" + name; }

bool WriteBytes(const std::string &path, const std::vector<uint8_t> &bytes)
{
    FILE *f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}

// Runs the tool with the given arguments (already quoted); returns its exit status.
int RunTool(const std::string &arguments)
{
    std::string command = std::string("'") + ZEMBLOID_STEREOGEN + "' " + arguments + " >/dev/null 2>&1";
    int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace

TEST(StereogramFiles, ShippedFramesHaveTheExactBitmapLayout)
{
    for (int i = 0; i < FRAME_COUNT; ++i) {
        SCOPED_TRACE(i);
        std::vector<uint8_t> file;
        ASSERT_TRUE(ReadBytes(std::string(ZEMBLOID_FRAME_DIR) + "/frame" + std::to_string(106 + i) + ".bmp", &file));
        ASSERT_EQ(14u + 38448u, file.size());
        EXPECT_EQ('B', file[0]);
        EXPECT_EQ('M', file[1]);
        EXPECT_EQ(file.size(), Le32(file, 2));
        EXPECT_EQ(0u, Le32(file, 6));
        EXPECT_EQ(62u, Le32(file, 10));
        // What remains once the resource compiler drops the 14-byte file header.
        const struct {
            size_t at;
            int size;
            uint32_t value;
        } fields[] = {{14, 4, 40},   {18, 4, 640}, {22, 4, 480},   {26, 2, 1}, {28, 2, 1}, {30, 4, 0},
                      {34, 4, 38400}, {38, 4, 0},  {42, 4, 0},     {46, 4, 2}, {50, 4, 2},
                      {54, 4, 0},    {58, 4, 0x00FFFFFF}};
        for (const auto &field : fields) {
            uint32_t value = field.size == 2 ? Le16(file, field.at) : Le32(file, field.at);
            EXPECT_EQ(field.value, value) << "field at " << field.at;
        }
        Dots dots = DotsFromBmp(file);
        ASSERT_EQ(640, dots.width);
        // The marks are solid; the rows just above and below them are not (dots are 23 % black).
        for (int y = 8; y <= 18; ++y) {
            long black = 0;
            for (int x : {276, 376})
                for (int c = x; c < x + 10; ++c) black += dots.black[(size_t)y * 640 + c];
            if (y >= 9 && y <= 17) EXPECT_EQ(20, black) << "row " << y;
            else EXPECT_LT(black, 20) << "row " << y;
        }
        long beside = 0;
        for (int y = 9; y <= 17; ++y) beside += dots.black[(size_t)y * 640 + 275] + dots.black[(size_t)y * 640 + 286];
        EXPECT_LT(beside, 18);
    }
}

TEST(StereogramFiles, BmpWriterPadsRowsAndStoresThemBottomUp)
{
    // 3 x 2: top row black, white, black; bottom row white, black, white.
    DotPicture small = {3, 2, {1, 0, 1, 0, 1, 0}};
    std::vector<uint8_t> file = EncodeBmp(small);
    ASSERT_EQ(62u + 8u, file.size());
    EXPECT_EQ(70u, Le32(file, 2));
    EXPECT_EQ(8u, Le32(file, 34));
    const uint8_t bits[8] = {0xA0, 0, 0, 0, 0x40, 0, 0, 0}; // bottom row first, 1 = white
    EXPECT_TRUE(std::equal(bits, bits + 8, file.begin() + 62));

    // 33 columns need two 32-bit words a row; the decoded picture is what went in.
    DotPicture wide = {33, 3, std::vector<uint8_t>(99, 0)};
    for (size_t i = 0; i < wide.black.size(); i += 4) wide.black[i] = 1;
    file = EncodeBmp(wide);
    EXPECT_EQ(62u + 3 * 8, file.size());
    Dots back = DotsFromBmp(file);
    EXPECT_EQ(wide.black, back.black);
}

TEST(StereogramFiles, PgmReaderTakesGreyscaleAndRefusesTheRest)
{
    DepthMap map;
    std::string error;
    std::vector<uint8_t> binary = Bytes("P5\n# made by hand\n3 2\n255\n");
    for (uint8_t v : {0, 255, 51, 102, 204, 153}) binary.push_back(v);
    ASSERT_TRUE(ParsePgm(binary, &map, &error)) << error;
    EXPECT_EQ(3, map.width);
    EXPECT_EQ(2, map.height);
    const float expected[] = {0.0f, 1.0f, 0.2f, 0.4f, 0.8f, 0.6f};
    for (int i = 0; i < 6; ++i) EXPECT_FLOAT_EQ(expected[i], map.depth[i]) << i;

    ASSERT_TRUE(ParsePgm(Bytes("P2 2 2 15 0 15\n 5 #c\n 10"), &map, &error)) << error;
    EXPECT_FLOAT_EQ(1.0f, map.depth[1]);
    EXPECT_FLOAT_EQ(10.0f / 15.0f, map.depth[3]);

    const struct {
        const char *what;
        std::string file;
    } bad[] = {
        {"empty", ""},
        {"colour PPM", "P6 1 1 255\n\x01\x02\x03"},
        {"no size", "P5\n"},
        {"zero width", "P5 0 4 255\n"},
        {"too wide", "P5 8193 1 255\n" + std::string(8193, '\0')},
        {"huge height", "P5 1 99999999999999999999 255\n"},
        {"16-bit", "P5 1 1 65535\n\0\0"},
        {"maxval zero", "P5 1 1 0\n\0"},
        {"truncated pixels", "P5 4 4 255\n" + std::string(15, '\0')},
        {"no separator", "P5 1 1 255"},
        {"value over maxval", "P5 2 1 100\n\x10\x80"},
        {"plain value over maxval", "P2 2 1 100 5 101"},
        {"plain value missing", "P2 2 2 255 1 2 3"},
    };
    for (const auto &c : bad) {
        map = {7, 7, {}};
        error.clear();
        EXPECT_FALSE(ParsePgm(Bytes(c.file), &map, &error)) << c.what;
        EXPECT_FALSE(error.empty()) << c.what;
        EXPECT_EQ(7, map.width) << c.what;
    }
}

TEST(StereogramFiles, ToolTurnsADepthMapIntoAStereogram)
{
    // A 320 x 240 map: far ground with a raised block and a nearer square on it.
    std::string header = "P5\n320 240\n255\n";
    std::vector<uint8_t> pgm(header.begin(), header.end());
    std::vector<float> depth(320 * 240, 0.0f);
    for (int y = 0; y < 240; ++y)
        for (int x = 0; x < 320; ++x) {
            uint8_t grey = 0;
            if (y >= 40 && y < 200 && x >= 80 && x < 250) grey = 128;
            if (y >= 90 && y < 150 && x >= 130 && x < 200) grey = 255;
            pgm.push_back(grey);
            depth[y * 320 + x] = grey / 255.0f;
        }
    std::string in = TempPath("block.pgm"), out = TempPath("block.bmp"), again = TempPath("again.bmp");
    ASSERT_TRUE(WriteBytes(in, pgm));
    ASSERT_EQ(0, RunTool("--seed 42 '" + in + "' '" + out + "'"));
    ASSERT_EQ(0, RunTool("'" + in + "' --seed 42 '" + again + "'"));
    std::vector<uint8_t> bytes, second;
    ASSERT_TRUE(ReadBytes(out, &bytes));
    ASSERT_TRUE(ReadBytes(again, &second));
    EXPECT_TRUE(bytes == second);
    Dots dots = DotsFromBmp(bytes);
    ASSERT_EQ(320, dots.width);
    ASSERT_EQ(240, dots.height);
    Quality q = Assess(dots, IntentOf(depth, 320, 240), Decode(dots), false);
    EXPECT_GT(q.pairs, 40000);
    EXPECT_EQ(0, q.brokenPairs);
    EXPECT_GE(Share(q.uniformExact, q.uniform), 0.999);
    EXPECT_GE(Share(q.visibleExact, q.visible), 0.96);
    EXPECT_EQ(0, q.farWrong);
    EXPECT_NEAR(0.23, Share(q.blackDots, q.pixels), 0.02);

    // Another seed, another pattern; --density and --marks take effect.
    ASSERT_EQ(0, RunTool("--seed 43 --density 0.5 --marks '" + in + "' '" + again + "'"));
    ASSERT_TRUE(ReadBytes(again, &second));
    Dots other = DotsFromBmp(second);
    ASSERT_EQ(dots.black.size(), other.black.size());
    long black = 0;
    for (uint8_t b : other.black) black += b;
    EXPECT_NEAR(0.5, Share(black, (long)other.black.size()), 0.03);
    // Marks 100 px apart around the middle, rows 9..17.
    for (int y = 9; y <= 17; ++y)
        for (int x : {105, 114, 205, 214}) EXPECT_EQ(1, other.black[(size_t)y * 320 + x]) << x << "," << y;
}

TEST(StereogramFiles, ToolRefusesBadRequestsAndWritesTheFramesAgain)
{
    std::string missing = TempPath("no-such.pgm"), out = TempPath("refused.bmp"), junk = TempPath("junk.pgm");
    std::remove(out.c_str());
    ASSERT_TRUE(WriteBytes(junk, Bytes("P5 10 10 255\nshort")));
    EXPECT_EQ(0, RunTool("--help"));
    EXPECT_EQ(1, RunTool("'" + missing + "' '" + out + "'"));
    EXPECT_EQ(1, RunTool("'" + junk + "' '" + out + "'"));
    EXPECT_EQ(2, RunTool("--density 2 '" + junk + "' '" + out + "'"));
    EXPECT_EQ(2, RunTool("--seed -1 '" + junk + "' '" + out + "'"));
    EXPECT_EQ(2, RunTool("--bogus '" + junk + "' '" + out + "'"));
    EXPECT_EQ(2, RunTool("'" + junk + "'"));
    EXPECT_EQ(2, RunTool(""));
    std::vector<uint8_t> none;
    EXPECT_FALSE(ReadBytes(out, &none));

    std::string dir = TempPath("frames");
    ASSERT_EQ(0, std::system(("mkdir -p '" + dir + "'").c_str()));
    ASSERT_EQ(0, RunTool("frames '" + dir + "'"));
    for (int id = 106; id <= 115; ++id) {
        std::vector<uint8_t> fresh, shipped;
        ASSERT_TRUE(ReadBytes(dir + "/frame" + std::to_string(id) + ".bmp", &fresh));
        ASSERT_TRUE(ReadBytes(std::string(ZEMBLOID_FRAME_DIR) + "/frame" + std::to_string(id) + ".bmp", &shipped));
        EXPECT_TRUE(fresh == shipped) << id;
    }
    EXPECT_EQ(1, RunTool("frames '" + dir + "/no/such/folder'"));
}
