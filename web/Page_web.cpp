// The page's WebAssembly module: what the other hosts decide with the
// platform-free core, decided here by the same code. The scale with its fit
// rule, the frames expanded at that scale, centred and cut at the canvas's
// edges, the back-and-forth stepping, the speed's range and the pointer rule.
// web/zembloid.js calls these exports and draws the images they prepare.
#include <stdlib.h>

#include "animation/Dib.h"
#include "animation/FramePlayer.h"
#include "linux/Saver_linux.h"
#include "settings/Settings.h"

#define PAGE_EXPORT(name) extern "C" __attribute__((export_name(#name)))

// The ten frames as packed DIBs, written by web/build_page.py.
extern "C" const unsigned char *const ZEMBLOID_FRAME_DIBS[FRAME_COUNT];

// What the script reads back after a layout, as consecutive 32-bit integers:
// the scale, where the frame goes on the canvas (device pixels), how much of
// it shows and from which point of the expanded part, and that part's width.
struct PageLayout {
    int32_t scale;
    FrameCopy copy;
    int32_t stride;
};

static struct PageState {
    int32_t redrawSpeed;
    int forcedScale;   // 0: by the pixel ratio
    int frameIndex, direction;
    PageLayout layout;
    FramePart part;   // what of the enlarged frame the canvas shows
    // One expanded frame, in the byte order of a canvas's ImageData (R, G, B, A).
    uint32_t *pixels;
    size_t pixelCount;
    PointerWatch pointer;
} page = {REDRAW_SPEED_DEFAULT, 0, 0, +1, {}, {}, nullptr, 0, {}};

// The frame `index`, or null when it is not a 1-bit bitmap with two colours;
// then the page stays black.
static const void *PageFrame(int index)
{
    const void *dib = ZEMBLOID_FRAME_DIBS[index];
    if (DibBitCount(dib) != 1 || DibColourTableCount(dib) < 2) return nullptr;
    return dib;
}

// The speed and the forced scale from the page's address, read by the script
// as integers (0 for a missing or malformed value). A speed outside 1..30
// plays at the default, as on Linux; a scale outside 1..8 is not forced.
// Returns the time between frames in milliseconds.
PAGE_EXPORT(PageStart) uint32_t PageStart(int32_t speed, int32_t scale)
{
    page.redrawSpeed = ApplySpeedRange(speed);
    page.forcedScale = scale >= 1 && scale <= FORCED_SCALE_MAX ? scale : 0;
    return FramePeriodMs(page.redrawSpeed);
}

// Lays the frame out on a canvas of width x height device pixels whose
// pixel ratio makes `dpi` (96 x the ratio, rounded): the forced scale, else
// the DPI's scale lowered until the frame fits. Returns the layout's address,
// or 0 when the frames are unusable.
PAGE_EXPORT(PageLayOut) const PageLayout *PageLayOut(int32_t width, int32_t height, int32_t dpi)
{
    const void *dib = PageFrame(0);
    if (!dib) return nullptr;
    int frameWidth = DibWidth(dib), frameHeight = DibHeight(dib);
    int scale = ChosenScale(page.forcedScale, dpi, frameWidth, frameHeight, width, height);
    FramePlacement placement = {{0, 0, width, height}, scale};
    page.part = VisibleFramePart(&placement, 1, frameWidth, frameHeight, scale);
    page.layout = PageLayout{scale, PartFrameCopy(placement, frameWidth, frameHeight, scale, page.part),
                             page.part.width};
    return &page.layout;
}

// A DIB colour as 0xAARRGGBB read back as the bytes R, G, B, A in the
// little-endian memory of WebAssembly.
static uint32_t CanvasOrder(uint32_t argb)
{
    return (argb & 0xFF00FF00u) | (argb >> 16 & 0xFFu) | (argb & 0xFFu) << 16;
}

// The part of frame `index` that the last layout shows, expanded at its
// scale, with the row stride of the part's width, so that the buffer holds
// at most the canvas's pixels at any scale. Returns its address, or 0 when
// it is unusable or there is no memory for it. The buffer is reused by the
// next call and grows only with the canvas.
PAGE_EXPORT(PageExpand) const uint32_t *PageExpand(int32_t index)
{
    const void *dib = index >= 0 && index < FRAME_COUNT ? PageFrame(index) : nullptr;
    if (!dib) return nullptr;
    size_t count = (size_t)page.part.width * page.part.height;
    if (!count) return nullptr;
    if (count > page.pixelCount) {
        free(page.pixels);
        page.pixels = (uint32_t *)malloc(count * sizeof *page.pixels);
        page.pixelCount = page.pixels ? count : 0;
        if (!page.pixels) return nullptr;
    }
    uint32_t colours[2];
    FrameColours(dib, colours);
    for (uint32_t &colour : colours) colour = CanvasOrder(colour);
    ExpandFrame(dib, page.layout.scale, page.part, colours, page.pixels, page.part.width);
    return page.pixels;
}

PAGE_EXPORT(PageFrameCount) int32_t PageFrameCount()
{
    return FRAME_COUNT;
}

// The order repeats after this many steps: 0 up to 9 and back down to 1.
static const int STEPS_PER_CYCLE = 2 * (FRAME_COUNT - 1);

// Takes `steps` steps of the back-and-forth order (the ticks that fell due
// since the last animation frame) and returns the frame to show.
PAGE_EXPORT(PageAdvance) int32_t PageAdvance(uint32_t steps)
{
    for (steps %= STEPS_PER_CYCLE; steps > 0; --steps) StepFrame(&page.frameIndex, &page.direction);
    return page.frameIndex;
}

// Full screen begins: the next pointer position is the baseline.
PAGE_EXPORT(PageWatchPointer) void PageWatchPointer()
{
    page.pointer = PointerWatch{};
}

// True when the pointer at (x, y), in CSS pixels, has travelled far enough
// from the baseline to end full screen.
PAGE_EXPORT(PagePointerWakes) bool PagePointerWakes(int32_t x, int32_t y)
{
    return PointerTravelWakes(&page.pointer, x, y);
}
