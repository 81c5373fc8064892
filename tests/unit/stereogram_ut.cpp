// The stereogram frames and renderer, judged by an independent blind decoder: every pair
// the geometry demands is equal, the depth reads back, nothing echoes, and the animation
// changes its dots but not its unchanged depths from frame to frame.
#include "StereoCheck.h"
#include "Stereogram.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

using namespace stereocheck;

namespace {

std::string FramePath(int index)
{
    return std::string(ZEMBLOID_FRAME_DIR) + "/frame" + std::to_string(106 + index) + ".bmp";
}

Dots LoadShippedFrame(int index)
{
    std::vector<uint8_t> bytes;
    EXPECT_TRUE(ReadBytes(FramePath(index), &bytes)) << FramePath(index);
    return DotsFromBmp(bytes);
}

Dots FromPicture(const DotPicture &picture)
{
    Dots dots;
    dots.width = picture.width;
    dots.height = picture.height;
    dots.black = picture.black;
    return dots;
}

// Test scenes, 640 x 480, drawn here rather than taken from the generator.
DepthMap FlatStep()
{
    DepthMap map = {640, 480, std::vector<float>(640 * 480, 0.0f)};
    for (int y = 40; y < 440; ++y)
        for (int x = 320; x < 600; ++x) map.depth[y * 640 + x] = 0.8f;
    return map;
}

DepthMap HollowFrame()
{
    DepthMap map = {640, 480, std::vector<float>(640 * 480, 0.0f)};
    for (int y = 80; y < 400; ++y)
        for (int x = 120; x < 520; ++x) {
            bool hole = y >= 160 && y < 320 && x >= 200 && x < 440;
            if (!hole) map.depth[y * 640 + x] = 1.0f;
        }
    return map;
}

// A cap of a sphere of radius 300 px, 170 px across its base, rising from the far plane
// to the near plane.
DepthMap Sphere()
{
    const double sphere = 300.0, base = 170.0;
    double rim = std::sqrt(sphere * sphere - base * base);
    DepthMap map = {640, 480, std::vector<float>(640 * 480, 0.0f)};
    for (int y = 0; y < 480; ++y)
        for (int x = 0; x < 640; ++x) {
            double d2 = (x - 320.0) * (x - 320.0) + (y - 240.0) * (y - 240.0);
            if (d2 < base * base) map.depth[y * 640 + x] = (float)((std::sqrt(sphere * sphere - d2) - rim) / (sphere - rim));
        }
    return map;
}

// Checks one picture against its depth map; returns its blind decoding.
std::vector<int> ExpectFaithful(const std::string &name, const Dots &dots, const Intent &intent, bool marks)
{
    SCOPED_TRACE(name);
    EXPECT_EQ(640, dots.width);
    EXPECT_EQ(480, dots.height);
    std::vector<int> decoded = Decode(dots);
    Quality q = Assess(dots, intent, decoded, marks);
    double density = Share(q.blackDots, q.pixels);
    std::printf("%-13s density %.4f  pairs %ld broken %ld  one-depth exact %.5f (%ld)  "
                "all exact %.4f within1 %.4f (%ld)  far echoes %ld/%ld\n",
                name.c_str(), density, q.pairs, q.brokenPairs, Share(q.uniformExact, q.uniform), q.uniform,
                Share(q.visibleExact, q.visible), Share(q.visibleNear, q.visible), q.visible, q.farWrong,
                q.farUniform);
    EXPECT_GT(q.pairs, 100000);
    EXPECT_EQ(0, q.brokenPairs);
    EXPECT_NEAR(0.23, density, 0.01);
    EXPECT_GT(q.uniform, 50000);
    EXPECT_GE(Share(q.uniformExact, q.uniform), 0.999);
    EXPECT_GE(Share(q.visibleExact, q.visible), 0.96);
    EXPECT_GE(Share(q.visibleNear, q.visible), 0.985);
    EXPECT_GT(q.farUniform, 10000);
    EXPECT_EQ(0, q.farWrong);
    return decoded;
}

} // namespace

TEST(Stereogram, TestScenesHoldTheirDepthAndDecodeBlind)
{
    const struct {
        const char *name;
        DepthMap (*make)();
    } scenes[] = {{"flat step", FlatStep}, {"hollow frame", HollowFrame}, {"sphere", Sphere}};
    uint32_t seed = 7;
    for (const auto &scene : scenes) {
        DepthMap depth = scene.make();
        Dots dots = FromPicture(RenderStereogram(depth, seed++, 0.23));
        ExpectFaithful(scene.name, dots, IntentOf(depth.depth, 640, 480), false);
    }
}

// Each shipped frame on its own, then each pair of neighbours: the dots are drawn afresh
// (changed share near 2p(1-p)) while the depth that did not move reads back the same.
TEST(Stereogram, ShippedFramesDecodeBlindAndChangeOnlyWhereTheSceneMoves)
{
    Dots previous;
    Intent previousIntent;
    std::vector<int> previousDecoded;
    for (int i = 0; i < FRAME_COUNT; ++i) {
        Dots current = LoadShippedFrame(i);
        Intent intent = IntentOf(FrameDepth(i).depth, 640, 480);
        std::vector<int> decoded = ExpectFaithful("frame " + std::to_string(i), current, intent, true);
        if (i > 0) {
            SCOPED_TRACE("frames " + std::to_string(i - 1) + " and " + std::to_string(i));
            ASSERT_EQ(previous.black.size(), current.black.size());
            long changed = 0, blackBoth = 0;
            for (size_t j = 0; j < current.black.size(); ++j) {
                changed += current.black[j] != previous.black[j];
                blackBoth += previous.black[j] + current.black[j];
            }
            double p = Share(blackBoth, 2 * (long)current.black.size());
            double changedShare = Share(changed, (long)current.black.size());
            long steady = 0, drifted = 0;
            for (int y = 0; y < 480; ++y)
                for (int x = 0; x < 640; ++x) {
                    size_t j = (size_t)y * 640 + x;
                    if (!intent.paired[j] || !previousIntent.paired[j] || NearMarks(x, y)) continue;
                    if (intent.separation[j] != previousIntent.separation[j]) continue;
                    if (!WindowFits(x, intent.separation[j], 640)) continue;
                    ++steady;
                    drifted += decoded[j] != previousDecoded[j];
                }
            std::printf("frames %d-%d changed %.4f (2p(1-p) %.4f)  decoded depth changed at %.5f of %ld steady points\n",
                        i - 1, i, changedShare, 2 * p * (1 - p), Share(drifted, steady), steady);
            EXPECT_NEAR(2 * p * (1 - p), changedShare, 0.01);
            EXPECT_GT(steady, 100000);
            EXPECT_LT(Share(drifted, steady), 0.01);
        }
        previous = current;
        previousIntent = intent;
        previousDecoded = decoded;
    }
}

TEST(Stereogram, FramesAreTheSameBytesEveryTime)
{
    for (int i = 0; i < FRAME_COUNT; ++i) {
        std::vector<uint8_t> shipped;
        ASSERT_TRUE(ReadBytes(FramePath(i), &shipped));
        std::vector<uint8_t> first = EncodeBmp(RenderFrame(i));
        std::vector<uint8_t> second = EncodeBmp(RenderFrame(i));
        EXPECT_TRUE(first == second) << "frame " << i;
        EXPECT_TRUE(first == shipped) << "frame " << i;
    }
}

// The animation's stage: a quiet far band along the top for the marks, objects away from
// the sides, and a scene that moves by small steps.
TEST(Stereogram, SceneKeepsClearOfTopBandAndSides)
{
    for (int i = 0; i < FRAME_COUNT; ++i) {
        SCOPED_TRACE(i);
        DepthMap map = FrameDepth(i);
        ASSERT_EQ(640 * 480, (int)map.depth.size());
        int nearLeft = 640, nearRight = -1;
        for (int y = 0; y < 480; ++y)
            for (int x = 0; x < 640; ++x) {
                float z = map.depth[y * 640 + x];
                ASSERT_TRUE(z >= 0.0f && z <= 1.0f);
                if (z == 0.0f) continue;
                ASSERT_GT(y, 30) << "x " << x;
                nearLeft = std::min(nearLeft, x);
                nearRight = std::max(nearRight, x);
            }
        EXPECT_GE(nearLeft, 60);
        EXPECT_LE(nearRight, 580);
        if (i > 0) {
            // Nearest point per frame moves sideways little and in depth by at most 3 px.
            DepthMap before = FrameDepth(i - 1);
            auto nearest = [](const DepthMap &m, int *column) {
                int best = 0;
                for (int j = 1; j < (int)m.depth.size(); ++j)
                    if (m.depth[j] > m.depth[best]) best = j;
                *column = best % m.width;
                return m.depth[best];
            };
            int columnBefore = 0, columnNow = 0;
            double sBefore = SeparationForDepth(nearest(before, &columnBefore));
            double sNow = SeparationForDepth(nearest(map, &columnNow));
            EXPECT_LE(std::abs(columnNow - columnBefore), 32);
            EXPECT_LE(std::fabs(sNow - sBefore), 3.0);
        }
    }
}

TEST(Stereogram, SeedsAndDensityShapeTheDots)
{
    DepthMap depth = FlatStep();
    DotPicture a = RenderStereogram(depth, 1, 0.23);
    DotPicture b = RenderStereogram(depth, 2, 0.23);
    long differ = 0;
    for (size_t i = 0; i < a.black.size(); ++i) differ += a.black[i] != b.black[i];
    EXPECT_NEAR(2 * 0.23 * 0.77, Share(differ, (long)a.black.size()), 0.01);
    const double densities[] = {0.05, 0.5, 0.9};
    for (double p : densities) {
        DotPicture picture = RenderStereogram(depth, 3, p);
        long black = 0;
        for (uint8_t dot : picture.black) black += dot;
        EXPECT_NEAR(p, Share(black, (long)picture.black.size()), 0.01) << p;
    }
}
