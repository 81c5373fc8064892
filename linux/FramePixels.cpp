// The frames as pixels at a monitor's scale, and the scale of each placement.
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
// leftmost pixel in the top bit. Each frame row that reaches the part is
// expanded once and copied to the rows under it that show the same row.
void ExpandFrame(const void *dib, int scale, const FramePart &part, const uint32_t colours[2],
                 uint32_t *pixels, int stride)
{
    int height = DibHeight(dib);
    int rowBytes = (DibWidth(dib) + 31) / 32 * 4;
    const uint8_t *bits = DibBits(dib);
    for (int y = 0; y < part.height; ++y) {
        uint32_t *row = pixels + (size_t)y * stride;
        int frameY = (part.y + y) / scale;
        if (y > 0 && frameY == (part.y + y - 1) / scale) {
            memcpy(row, row - stride, (size_t)part.width * sizeof *row);
            continue;
        }
        const uint8_t *source = bits + (size_t)(height - 1 - frameY) * rowBytes;
        for (int x = 0; x < part.width; ++x) {
            int frameX = (part.x + x) / scale;
            row[x] = colours[(source[frameX / 8] >> (7 - frameX % 8)) & 1];
        }
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
