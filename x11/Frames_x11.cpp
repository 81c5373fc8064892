// The frames on X11: the ten embedded bitmaps become server-side pixmaps once,
// at start; each tick copies one of them to the centre of the window, or of
// each monitor on the root.
#include <X11/Xutil.h>
#include <X11/extensions/Xinerama.h>
#include <stdio.h>

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

// One 1-bit image over the DIB's own bits, uploaded row by row because the
// DIB stores its bottom row first. Set bits take the foreground (entry 1).
static void UploadFrame(int index, const void *dib)
{
    XImage image = {};
    image.width = DibWidth(dib);
    image.height = DibHeight(dib);
    image.format = XYBitmap;
    image.data = (char *)DibBits(dib);
    image.byte_order = MSBFirst;
    image.bitmap_unit = 8;
    image.bitmap_bit_order = MSBFirst;
    image.bitmap_pad = 32;
    image.depth = 1;
    image.bits_per_pixel = 1;
    image.bytes_per_line = (image.width + 31) / 32 * 4;
    XInitImage(&image);

    Pixmap pixmap = XCreatePixmap(Saver.display, Saver.window, image.width, image.height, Saver.depth);
    for (int row = 0; row < image.height; ++row)
        XPutImage(Saver.display, pixmap, Saver.gc, &image, 0, row, 0, image.height - 1 - row,
                  image.width, 1);
    Saver.framePixmap[index] = pixmap;
    Saver.frameWidth = image.width;
    Saver.frameHeight = image.height;
}

bool LoadFramePixmaps()
{
    const void *dibs[FRAME_COUNT];
    if (!ReadFrameDibs(dibs)) return false;
    XGCValues values = {};
    values.graphics_exposures = False;
    Saver.gc = XCreateGC(Saver.display, Saver.window, GCGraphicsExposures, &values);
    AllocColours(dibs[0]);
    XSetForeground(Saver.display, Saver.gc, Saver.pixels[PIXEL_ENTRY1]);
    XSetBackground(Saver.display, Saver.gc, Saver.pixels[PIXEL_ENTRY0]);
    for (int i = 0; i < FRAME_COUNT; ++i) UploadFrame(i, dibs[i]);
    XSetForeground(Saver.display, Saver.gc, Saver.pixels[PIXEL_BACKGROUND]);
    Saver.frameIndex = 0;
    Saver.direction = +1;
    Saver.shownIndex = -1;
    return true;
}

void ReleaseFramePixmaps()
{
    for (int i = 0; i < FRAME_COUNT; ++i) {
        if (Saver.framePixmap[i]) XFreePixmap(Saver.display, Saver.framePixmap[i]);
        Saver.framePixmap[i] = 0;
    }
    for (int slot = 0; slot < 3; ++slot) {
        unsigned long pixel = Saver.pixels[slot] & ~Saver.alphaBits;
        if (Saver.pixelAllocated[slot]) XFreeColors(Saver.display, Saver.colormap, &pixel, 1, 0);
        Saver.pixelAllocated[slot] = false;
    }
    if (Saver.gc) XFreeGC(Saver.display, Saver.gc);
    Saver.gc = nullptr;
}

// The monitors in root coordinates, at most MONITOR_LIMIT: on the real root
// the Xinerama heads (which current servers also derive from their RandR
// monitors); in any other window, or without heads, the whole window. This
// mode draws at 1x, so every monitor counts as STANDARD_DPI.
static int ReadMonitors(MonitorArea *monitors)
{
    int count = 0;
    int eventBase, errorBase, heads = 0;
    if (Saver.target == TARGET_ROOT && XineramaQueryExtension(Saver.display, &eventBase, &errorBase)) {
        XineramaScreenInfo *screens = XineramaQueryScreens(Saver.display, &heads);
        for (int i = 0; i < heads && count < MONITOR_LIMIT; ++i) {
            const XineramaScreenInfo &head = screens[i];
            monitors[count++] = {{head.x_org, head.y_org, head.width, head.height}, STANDARD_DPI};
        }
        if (screens) XFree(screens);
    }
    if (count == 0) monitors[count++] = {{0, 0, Saver.windowWidth, Saver.windowHeight}, STANDARD_DPI};
    return count;
}

// At start and whenever the window changes size, which on the root is how a
// change of monitors usually shows.
void PlaceFrames()
{
    MonitorArea monitors[MONITOR_LIMIT];
    int count = ReadMonitors(monitors);
    ScreenRect window = {0, 0, Saver.windowWidth, Saver.windowHeight};
    Saver.placementCount =
        LayOutFrames(monitors, count, window, Saver.frameWidth, Saver.frameHeight, Saver.placements);
}

// The frame on each monitor; at STANDARD_DPI every scale is 1.
static void CopyFrame(int index)
{
    for (int i = 0; i < Saver.placementCount; ++i) {
        FrameCopy copy = CentreFrameCopy(Saver.placements[i], Saver.frameWidth, Saver.frameHeight, 1);
        if (copy.width == 0 || copy.height == 0) continue;
        XCopyArea(Saver.display, Saver.framePixmap[index], Saver.window, Saver.gc, copy.sourceX,
                  copy.sourceY, copy.width, copy.height, copy.x, copy.y);
    }
    Saver.shownIndex = index;
}

// After an exposure or a new size: black everywhere, and the frame last shown
// at the (new) centre.
void DrawWholeWindow()
{
    XFillRectangle(Saver.display, Saver.window, Saver.gc, 0, 0, Saver.windowWidth, Saver.windowHeight);
    if (Saver.shownIndex >= 0) CopyFrame(Saver.shownIndex);
    XFlush(Saver.display);
}

void DrawNextFrame()
{
    CopyFrame(Saver.frameIndex);
    StepFrame(&Saver.frameIndex, &Saver.direction);
    XFlush(Saver.display);
}
