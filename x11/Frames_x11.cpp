// The frames on X11: the ten embedded bitmaps become server-side pixmaps, one
// frame set per scale in use, each only the part of the enlarged frame that
// scale shows, built at start and when the layout changes; each tick copies
// one of them to the centre of the window, or of each monitor.
#include <X11/Xutil.h>
#include <stdlib.h>

#include "animation/Dib.h"
#include "x11/Saver_x11.h"

enum { PIXEL_BACKGROUND, PIXEL_ENTRY0, PIXEL_ENTRY1 };

// TrueColor and DirectColor: a pixel is separate red, green and blue fields.
static bool Decomposed(const Visual *visual)
{
    return visual->c_class == TrueColor || visual->c_class == DirectColor;
}

// The pixel value of colormap entry `entry`: the entry itself, or on a visual
// with separate red, green and blue fields, that entry in every field.
static unsigned long EntryPixel(unsigned long entry)
{
    const Visual *visual = Saver.visual;
    if (!Decomposed(visual)) return entry;
    const unsigned long masks[3] = {visual->red_mask, visual->green_mask, visual->blue_mask};
    unsigned long pixel = 0;
    for (unsigned long mask : masks) pixel |= (entry * (mask & -mask)) & mask;
    return pixel;
}

// For each colour XAllocColor could not give (the colormap is full or
// read-write), the entry of the window's own colormap nearest to it by
// squared RGB distance. The entries are read once, in batches.
static void UseNearestEntries(const XColor *wanted)
{
    const int BATCH = 256;
    XColor entries[BATCH];
    uint64_t best[3] = {UINT64_MAX, UINT64_MAX, UINT64_MAX};
    int count = Saver.visual->map_entries;
    for (int first = 0; first < count; first += BATCH) {
        int n = count - first < BATCH ? count - first : BATCH;
        for (int i = 0; i < n; ++i) entries[i].pixel = EntryPixel(first + i);
        XQueryColors(Saver.display, Saver.colormap, entries, n);
        for (int slot = 0; slot < 3; ++slot) {
            if (Saver.pixelAllocated[slot]) continue;
            for (int i = 0; i < n; ++i) {
                int64_t red = (int64_t)entries[i].red - wanted[slot].red;
                int64_t green = (int64_t)entries[i].green - wanted[slot].green;
                int64_t blue = (int64_t)entries[i].blue - wanted[slot].blue;
                uint64_t distance = red * red + green * green + blue * blue;
                if (distance >= best[slot]) continue;
                best[slot] = distance;
                Saver.pixels[slot] = entries[i].pixel;
            }
        }
    }
}

// On a visual with red, green and blue fields, the pixel bits outside them:
// alpha on a depth-32 visual, which XAllocColor may leave clear (transparent;
// Xorg 21 sets it, but a server need not).
static unsigned long AlphaBits()
{
    const Visual *visual = Saver.visual;
    if (!Decomposed(visual)) return 0;
    unsigned long all = Saver.depth >= 32 ? 0xFFFFFFFFul : (1ul << Saver.depth) - 1;
    return all & ~(visual->red_mask | visual->green_mask | visual->blue_mask);
}

// Pixel values for black (the background) and the frames' two colour-table
// entries, stored blue, green, red. All frames share one table, so the first
// frame's colours serve them all.
static void AllocColours(const void *dib)
{
    XColor wanted[3] = {};
    const uint8_t *table = DibColourTable(dib);
    uint32_t entrySize = DibColourEntrySize(dib);
    for (int entry = 0; entry < 2; ++entry) {
        const uint8_t *bgr = table + entry * entrySize;
        XColor &colour = wanted[PIXEL_ENTRY0 + entry];
        colour.red = bgr[2] * 257;
        colour.green = bgr[1] * 257;
        colour.blue = bgr[0] * 257;
    }
    bool missing = false;
    for (int slot = 0; slot < 3; ++slot) {
        XColor colour = wanted[slot];
        colour.flags = DoRed | DoGreen | DoBlue;
        Saver.pixelAllocated[slot] = XAllocColor(Saver.display, Saver.colormap, &colour);
        Saver.pixels[slot] = colour.pixel;
        if (!Saver.pixelAllocated[slot]) missing = true;
    }
    if (missing) UseNearestEntries(wanted);
    Saver.alphaBits = AlphaBits();
    for (int slot = 0; slot < 3; ++slot) Saver.pixels[slot] |= Saver.alphaBits;
}

// Whether an image's 32-bit pixels lie in memory as this machine's own
// uint32_t values, so that the expanded frame can be handed over as it is.
static bool NativeWords(const XImage *image)
{
    const uint16_t probe = 1;
    int hostOrder = *(const uint8_t *)&probe ? LSBFirst : MSBFirst;
    return image->bits_per_pixel == 32 && image->byte_order == hostOrder &&
           image->bytes_per_line == image->width * 4;
}

// A ZPixmap image of the window's visual for frames at `expanded`'s size:
// over `expanded` itself where its pixels are 32-bit words in this machine's
// order, else over a buffer of its own, filled through XPutPixel.
static XImage *FrameImage(uint32_t *expanded, int width, int height, bool *direct)
{
    XImage *image = XCreateImage(Saver.display, Saver.visual, Saver.depth, ZPixmap, 0, nullptr,
                                 width, height, 32, 0);
    if (!image) return nullptr;
    *direct = NativeWords(image);
    image->data = *direct ? (char *)expanded : (char *)malloc((size_t)image->bytes_per_line * height);
    if (image->data) return image;
    XDestroyImage(image);
    return nullptr;
}

static void ReleaseFrameSet(int slot)
{
    for (int i = 0; i < FRAME_COUNT; ++i) {
        if (Saver.framePixmap[slot][i]) XFreePixmap(Saver.display, Saver.framePixmap[slot][i]);
        Saver.framePixmap[slot][i] = 0;
    }
}

// The ten pixmaps of a set, made together so that one failure can be caught:
// a pixmap the server has no room for (BadAlloc) leaves the set unmade.
static bool CreateSetPixmaps(int slot, int width, int height)
{
    CatchXErrors();
    for (int i = 0; i < FRAME_COUNT; ++i)
        Saver.framePixmap[slot][i] = XCreatePixmap(Saver.display, Saver.window, width, height, Saver.depth);
    if (!CaughtXError()) return true;
    CatchXErrors();   // freeing the pixmaps that were not made fails too
    ReleaseFrameSet(slot);
    CaughtXError();
    return false;
}

// The ten frames at `scale`, as pixmaps of the window's depth that hold the
// `part` of each enlarged frame that is seen: each frame's part is expanded
// into a temporary buffer of pixel values (the allocated pixels, alpha bits
// included) and put into its pixmap through one image. A stop signal ends
// the build between frames; a set that cannot be made leaves its monitors
// black.
static bool BuildFrameSet(int slot, int scale, const FramePart &part)
{
    Display *display = Saver.display;
    int width = part.width, height = part.height;
    uint32_t *expanded = (uint32_t *)malloc((size_t)width * height * sizeof *expanded);
    bool direct = false;
    XImage *image = expanded ? FrameImage(expanded, width, height, &direct) : nullptr;
    bool made = image && CreateSetPixmaps(slot, width, height);
    const uint32_t colours[2] = {(uint32_t)Saver.pixels[PIXEL_ENTRY0],
                                 (uint32_t)Saver.pixels[PIXEL_ENTRY1]};
    for (int i = 0; made && i < FRAME_COUNT; ++i) {
        if (StopSignalled()) {
            ReleaseFrameSet(slot);
            made = false;
            break;
        }
        ExpandFrame(Saver.player.dibs[i], scale, part, colours, expanded, width);
        if (!direct)
            for (int y = 0; y < height; ++y)
                for (int x = 0; x < width; ++x) XPutPixel(image, x, y, expanded[(size_t)y * width + x]);
        XPutImage(display, Saver.framePixmap[slot][i], Saver.gc, image, 0, 0, 0, 0, width, height);
    }
    if (image && direct) image->data = nullptr;   // freed below with the rest of the buffer
    if (image) XDestroyImage(image);
    free(expanded);
    return made;
}

// The GC and the pixel values; the frame sets follow with the first layout.
void PrepareDrawing()
{
    XGCValues values = {};
    values.graphics_exposures = False;
    Saver.gc = XCreateGC(Saver.display, Saver.window, GCGraphicsExposures, &values);
    AllocColours(Saver.player.dibs[0]);
    XSetForeground(Saver.display, Saver.gc, Saver.pixels[PIXEL_BACKGROUND]);
}

void ReleaseDrawing()
{
    for (int slot = 0; slot < MONITOR_LIMIT; ++slot)
        if (Saver.sets.scale[slot]) ReleaseFrameSet(slot);
    Saver.sets = ScaleSets{};
    for (int slot = 0; slot < 3; ++slot) {
        unsigned long pixel = Saver.pixels[slot] & ~Saver.alphaBits;
        if (Saver.pixelAllocated[slot]) XFreeColors(Saver.display, Saver.colormap, &pixel, 1, 0);
        Saver.pixelAllocated[slot] = false;
    }
    if (Saver.gc) XFreeGC(Saver.display, Saver.gc);
    Saver.gc = nullptr;
}

// At start, whenever the window changes size (which on the root is how a
// change of monitors usually shows) and when RandR reports a new screen
// configuration: the monitors read again, each one's scale, and the frame
// sets those scales need.
void RelayOutFrames()
{
    MonitorArea monitors[MONITOR_LIMIT];
    int count = ReadMonitors(monitors);
    ScreenRect window = {0, 0, Saver.windowWidth, Saver.windowHeight};
    const LinuxPlayer &player = Saver.player;
    Saver.placementCount = LayOutScaledFrames(monitors, count, window, player.frameWidth,
                                              player.frameHeight, Saver.options.forcedScale, Saver.placements);
    SyncScaleSets(&Saver.sets, Saver.placements, Saver.placementCount, player.frameWidth,
                  player.frameHeight, Saver.placementSets, BuildFrameSet, ReleaseFrameSet);
}

// The frame on each monitor, from the set of that monitor's scale.
static void CopyFrame(int index)
{
    for (int i = 0; i < Saver.placementCount; ++i) {
        int slot = Saver.placementSets[i];
        if (slot < 0) continue;
        FrameCopy copy = PartFrameCopy(Saver.placements[i], Saver.player.frameWidth,
                                       Saver.player.frameHeight, Saver.sets.scale[slot],
                                       Saver.sets.part[slot]);
        if (copy.width == 0 || copy.height == 0) continue;
        XCopyArea(Saver.display, Saver.framePixmap[slot][index], Saver.window, Saver.gc,
                  copy.sourceX, copy.sourceY, copy.width, copy.height, copy.x, copy.y);
    }
}

// After an exposure or a new size: black everywhere, and the frame last shown
// at the (new) centre.
void DrawWholeWindow()
{
    XFillRectangle(Saver.display, Saver.window, Saver.gc, 0, 0, Saver.windowWidth, Saver.windowHeight);
    if (Saver.player.shownIndex >= 0) CopyFrame(Saver.player.shownIndex);
    XFlush(Saver.display);
}

void DrawNextFrame()
{
    CopyFrame(PlayerStep(&Saver.player));
    XFlush(Saver.display);
}
