// The shipped animation: a ball floating over a raised panel between two rails,
// gliding from left to right and drifting nearer over the ten frames.
#include "Stereogram.h"

#include <cmath>

// Eased progress of frame k, (1 - cos(pi k / 9)) / 2, written out so that no maths
// library rounding can change a pixel: the motion starts and ends at rest, so playing
// the frames forwards and backwards turns smoothly at both ends.
static const double FRAME_PROGRESS[FRAME_COUNT] = {
    0.0, 0.030153689607045842, 0.116977778440511, 0.25, 0.41317591116653485,
    0.5868240888334652, 0.75, 0.883022221559489, 0.9698463103929542, 1.0};

// Flat parts of the scene: left, top, right, bottom (exclusive) and depth.
struct Slab {
    int left, top, right, bottom;
    float depth;
};

static const Slab SCENE_SLABS[] = {
    {96, 56, 544, 436, 0.45f},   // the panel
    {150, 84, 490, 120, 0.75f},  // upper rail
    {150, 376, 490, 412, 0.75f}, // lower rail
};

// The ball is a low dome (a cap cut from a sphere BALL_SPHERE times its radius) standing
// out from the panel by a clear step at its rim, so its slope stays gentle everywhere.
const int BALL_RADIUS = 64;
const int BALL_CENTRE_Y = 248;
const double BALL_FIRST_X = 244.0;
const double BALL_TRAVEL = 152.0;
const double BALL_FIRST_RIM = 0.68;
const double BALL_RIM_DRIFT = 0.07;
const double BALL_HEIGHT = 0.16;
const double BALL_SPHERE = 2.0;

static void RaiseTo(DepthMap *map, int x, int y, float depth)
{
    float &cell = map->depth[(size_t)y * map->width + x];
    if (depth > cell) cell = depth;
}

DepthMap FrameDepth(int index)
{
    DepthMap map = {FRAME_WIDTH, FRAME_HEIGHT, std::vector<float>((size_t)FRAME_WIDTH * FRAME_HEIGHT, 0.0f)};
    for (const Slab &slab : SCENE_SLABS) {
        for (int y = slab.top; y < slab.bottom; ++y)
            for (int x = slab.left; x < slab.right; ++x) RaiseTo(&map, x, y, slab.depth);
    }
    double progress = FRAME_PROGRESS[index];
    double centreX = BALL_FIRST_X + BALL_TRAVEL * progress;
    double rim = BALL_FIRST_RIM + BALL_RIM_DRIFT * progress;
    double r2 = (double)BALL_RADIUS * BALL_RADIUS;
    double sphere2 = r2 * BALL_SPHERE * BALL_SPHERE;
    double rimHeight = std::sqrt(sphere2 - r2);
    double capHeight = std::sqrt(sphere2) - rimHeight;
    for (int y = BALL_CENTRE_Y - BALL_RADIUS; y <= BALL_CENTRE_Y + BALL_RADIUS; ++y) {
        for (int x = (int)centreX - BALL_RADIUS - 1; x <= (int)centreX + BALL_RADIUS + 1; ++x) {
            double dx = x + 0.5 - centreX;
            double dy = y + 0.5 - BALL_CENTRE_Y;
            double d2 = dx * dx + dy * dy;
            if (d2 >= r2) continue;
            RaiseTo(&map, x, y, (float)(rim + BALL_HEIGHT * (std::sqrt(sphere2 - d2) - rimHeight) / capHeight));
        }
    }
    return map;
}

DotPicture RenderFrame(int index)
{
    DotPicture picture = RenderStereogram(FrameDepth(index), 0x5A4D0000u + (uint32_t)index, DEFAULT_DENSITY);
    DrawViewingMarks(&picture, FRAME_MARK_COLUMN);
    return picture;
}
