// The frames as pixels at a monitor's scale, and which frame sets are kept.
// Platform-free.
#include <string.h>

#include "animation/Dib.h"
#include "linux/Saver_linux.h"

void FrameColours(const void *dib, uint32_t colours[2])
{
    const uint8_t *table = DibColourTable(dib);
    uint32_t entrySize = DibColourEntrySize(dib);
    for (int entry = 0; entry < 2; ++entry) {
        const uint8_t *bgr = table + entry * entrySize;
        colours[entry] = 0xFF000000u | (uint32_t)bgr[2] << 16 | (uint32_t)bgr[1] << 8 | bgr[0];
    }
}

// A 1-bit DIB stores its rows bottom first, each padded to 32 bits, the
// leftmost pixel in the top bit. Each frame row is expanded once and copied
// to the scale - 1 rows under it.
void ExpandFrame(const void *dib, int scale, const uint32_t colours[2], uint32_t *pixels,
                 int stride)
{
    int width = DibWidth(dib), height = DibHeight(dib);
    int rowBytes = (width + 31) / 32 * 4;
    const uint8_t *bits = DibBits(dib);
    for (int y = 0; y < height; ++y) {
        const uint8_t *source = bits + (size_t)(height - 1 - y) * rowBytes;
        uint32_t *row = pixels + (size_t)y * scale * stride;
        for (int x = 0; x < width; ++x) {
            uint32_t colour = colours[(source[x / 8] >> (7 - x % 8)) & 1];
            for (int k = 0; k < scale; ++k) row[x * scale + k] = colour;
        }
        for (int k = 1; k < scale; ++k)
            memcpy(row + (size_t)k * stride, row, (size_t)width * scale * sizeof *row);
    }
}

int LayOutScaledFrames(const MonitorArea *monitors, int count, ScreenRect window, int frameWidth,
                       int frameHeight, int forcedScale, FramePlacement *placements)
{
    int placed = LayOutFrames(monitors, count, window, frameWidth, frameHeight, placements);
    if (forcedScale > 0)
        for (int p = 0; p < placed; ++p) placements[p].scale = forcedScale;
    return placed;
}

int ChosenScale(int forcedScale, int dpi, int frameWidth, int frameHeight, int clientWidth,
                int clientHeight)
{
    if (forcedScale > 0) return forcedScale;
    return FrameScale(dpi, frameWidth, frameHeight, clientWidth, clientHeight);
}

static bool ScalePlaced(const FramePlacement *placements, int count, int scale)
{
    for (int p = 0; p < count; ++p)
        if (placements[p].scale == scale) return true;
    return false;
}

// The slot holding `scale`, or a free one that `build` fills; -1 when there
// is neither or the build fails, so that a full table is never overrun.
static int SetFor(ScaleSets *sets, int scale, bool (*build)(int slot, int scale))
{
    int free = -1;
    for (int s = 0; s < MONITOR_LIMIT; ++s) {
        if (sets->scale[s] == scale) return s;
        if (sets->scale[s] == 0 && free < 0) free = s;
    }
    if (free < 0 || !build(free, scale)) return -1;
    sets->scale[free] = scale;
    return free;
}

void SyncScaleSets(ScaleSets *sets, const FramePlacement *placements, int count,
                   int *placementSets, bool (*build)(int slot, int scale),
                   void (*release)(int slot))
{
    for (int s = 0; s < MONITOR_LIMIT; ++s) {
        if (sets->scale[s] == 0 || ScalePlaced(placements, count, sets->scale[s])) continue;
        release(s);
        sets->scale[s] = 0;
    }
    for (int p = 0; p < count; ++p) placementSets[p] = SetFor(sets, placements[p].scale, build);
}
