// The dot renderer: symmetric pairing around each surface point, hidden-surface
// removal and linked same-colour constraints (Thimbleby, Inglis and Witten, 1994).
#include "Stereogram.h"

#include <cmath>
#include <random>

int SeparationForDepth(double z)
{
    double near = DEPTH_OF_FIELD * z;
    return (int)std::floor((1.0 - near) * EYE_SEPARATION / (2.0 - near) + 0.5);
}

bool SeenByBothEyes(const float *depthRow, int width, int x)
{
    double z = depthRow[x];
    // Depth gained by a line of sight from the point towards either eye per pixel of picture.
    double rise = 2.0 * (2.0 - DEPTH_OF_FIELD * z) / (DEPTH_OF_FIELD * EYE_SEPARATION);
    for (int t = 1;; ++t) {
        double sight = z + rise * t;
        if (x - t >= 0 && depthRow[x - t] >= sight) return false;
        if (x + t < width && depthRow[x + t] >= sight) return false;
        if (sight >= 1.0) return true;
    }
}

// Records that columns left and right must share a colour. `same[x]` names a column to the
// right of x with x's colour (or x itself); the walk keeps every earlier constraint by
// splicing the new pair into the existing chain instead of overwriting a link.
static void LinkColumns(std::vector<int> &same, int left, int right)
{
    for (int k = same[left]; k != left && k != right; k = same[left]) {
        if (k < right) {
            left = k;
        } else {
            same[left] = right;
            left = right;
            right = k;
        }
    }
    same[left] = right;
}

DotPicture RenderStereogram(const DepthMap &depthMap, uint32_t seed, double density)
{
    int width = depthMap.width;
    int height = depthMap.height;
    DotPicture picture = {width, height, std::vector<uint8_t>((size_t)width * height, 0)};
    std::mt19937 random(seed);
    // Raw 32-bit draws below this value become black dots.
    uint32_t threshold = 0;
    if (density >= 1.0) threshold = 0xFFFFFFFFu;
    else if (density > 0.0) threshold = (uint32_t)std::floor(density * 4294967296.0);
    std::vector<int> same(width);
    for (int y = 0; y < height; ++y) {
        const float *row = &depthMap.depth[(size_t)y * width];
        uint8_t *dots = &picture.black[(size_t)y * width];
        for (int x = 0; x < width; ++x) same[x] = x;
        for (int x = 0; x < width; ++x) {
            int s = SeparationForDepth(row[x]);
            // An odd separation cannot centre on x; alternate the spare pixel by row.
            int left = x - (s + (s & y & 1)) / 2;
            int right = left + s;
            if (left < 0 || right >= width) continue;
            if (!SeenByBothEyes(row, width, x)) continue;
            LinkColumns(same, left, right);
        }
        for (int x = width - 1; x >= 0; --x) {
            if (same[x] == x) dots[x] = random() < threshold ? 1 : 0;
            else dots[x] = dots[same[x]];
        }
    }
    return picture;
}

void DrawViewingMarks(DotPicture *picture, int leftColumn)
{
    for (int y = MARK_TOP; y <= MARK_BOTTOM && y < picture->height; ++y) {
        for (int mark = 0; mark < 2; ++mark) {
            int first = leftColumn + mark * EYE_SEPARATION / 2;
            for (int x = first; x < first + MARK_WIDTH; ++x) {
                if (x >= 0 && x < picture->width) picture->black[(size_t)y * picture->width + x] = 1;
            }
        }
    }
}
