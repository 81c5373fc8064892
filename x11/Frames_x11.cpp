// The frames on X11: the ten embedded bitmaps become server-side pixmaps once,
// at start; each tick copies one of them to the centre of the window.
#include <X11/Xutil.h>
#include <stdio.h>

#include "animation/Dib.h"
#include "x11/Saver_x11.h"

// The frame files are linked in whole (see x11/CMakeLists.txt); the packed DIB
// starts after the 14-byte file header.
extern "C" const unsigned char zembloid_frame106[], zembloid_frame107[], zembloid_frame108[],
    zembloid_frame109[], zembloid_frame110[], zembloid_frame111[], zembloid_frame112[],
    zembloid_frame113[], zembloid_frame114[], zembloid_frame115[];
static const unsigned char *const FRAME_FILES[FRAME_COUNT] = {
    zembloid_frame106, zembloid_frame107, zembloid_frame108, zembloid_frame109,
    zembloid_frame110, zembloid_frame111, zembloid_frame112, zembloid_frame113,
    zembloid_frame114, zembloid_frame115,
};
static const int BMP_FILE_HEADER_SIZE = 14;

enum { PIXEL_BACKGROUND, PIXEL_ENTRY0, PIXEL_ENTRY1 };

static const void *FrameDib(int index)
{
    const unsigned char *file = FRAME_FILES[index];
    if (file[0] != 'B' || file[1] != 'M') return nullptr;
    const void *dib = file + BMP_FILE_HEADER_SIZE;
    if (DibBitCount(dib) != 1 || DibColourTableCount(dib) < 2) return nullptr;
    return dib;
}

// A pixel value for the colour in the window's colormap, whatever its visual.
// When the colormap is full, the screen's black or white stands in.
static void AllocPixel(int slot, uint8_t red, uint8_t green, uint8_t blue)
{
    XColor colour = {};
    colour.red = red * 257;
    colour.green = green * 257;
    colour.blue = blue * 257;
    colour.flags = DoRed | DoGreen | DoBlue;
    if (XAllocColor(Saver.display, Saver.colormap, &colour)) {
        Saver.pixels[slot] = colour.pixel;
        Saver.pixelAllocated[slot] = true;
        return;
    }
    bool light = red + green + blue >= 3 * 128;
    Saver.pixels[slot] = light ? WhitePixelOfScreen(Saver.screen) : BlackPixelOfScreen(Saver.screen);
}

// Table entries are stored blue, green, red. All frames share one table, so
// the first frame's colours serve them all.
static void AllocFrameColours(const void *dib)
{
    const uint8_t *table = DibColourTable(dib);
    uint32_t entrySize = DibColourEntrySize(dib);
    for (int entry = 0; entry < 2; ++entry) {
        const uint8_t *bgr = table + entry * entrySize;
        AllocPixel(PIXEL_ENTRY0 + entry, bgr[2], bgr[1], bgr[0]);
    }
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
    XGCValues values = {};
    values.graphics_exposures = False;
    Saver.gc = XCreateGC(Saver.display, Saver.window, GCGraphicsExposures, &values);
    AllocPixel(PIXEL_BACKGROUND, 0, 0, 0);
    for (int i = 0; i < FRAME_COUNT; ++i) {
        const void *dib = FrameDib(i);
        if (!dib) {
            fprintf(stderr, "zembloid: frame %d is not a 1-bit bitmap\n", FIRST_FRAME_ID + i);
            return false;
        }
        if (i == 0) AllocFrameColours(dib);
        XSetForeground(Saver.display, Saver.gc, Saver.pixels[PIXEL_ENTRY1]);
        XSetBackground(Saver.display, Saver.gc, Saver.pixels[PIXEL_ENTRY0]);
        UploadFrame(i, dib);
    }
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
        if (Saver.pixelAllocated[slot]) XFreeColors(Saver.display, Saver.colormap, &Saver.pixels[slot], 1, 0);
        Saver.pixelAllocated[slot] = false;
    }
    if (Saver.gc) XFreeGC(Saver.display, Saver.gc);
    Saver.gc = nullptr;
}

static void CopyFrame(int index)
{
    XCopyArea(Saver.display, Saver.framePixmap[index], Saver.window, Saver.gc, 0, 0,
              Saver.frameWidth, Saver.frameHeight,
              FrameOrigin(Saver.windowWidth, Saver.frameWidth),
              FrameOrigin(Saver.windowHeight, Saver.frameHeight));
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
