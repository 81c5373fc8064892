// The frame player's arithmetic: which frame comes next, where a frame sits on
// the display, how many times larger it is drawn, and how often the frame
// timer ticks. Platform-free.
#pragma once

#include <cstdint>

const int FRAME_COUNT = 10;
const int FIRST_FRAME_ID = 106;
const unsigned FRAME_TIMER_ID = 1;

// Bounds of a timer period in milliseconds: the platform's USER_TIMER_MINIMUM
// and USER_TIMER_MAXIMUM.
const uint32_t FRAME_PERIOD_MIN_MS = 10;
const uint32_t FRAME_PERIOD_MAX_MS = 0x7FFFFFFF;

// Moves *frameIndex one step in *direction and turns at the ends, so that the
// frames play 0, 1, ..., 9, 8, ..., 1, 0, 1, ... with each end frame once.
void StepFrame(int *frameIndex, int *direction);

// Where a frame of frameSize pixels starts so that it is centred on a display
// of displaySize pixels; negative when the display is the smaller.
int FrameOrigin(int displaySize, int frameSize);

// Logical dots per inch of a display that the system does not scale.
const int STANDARD_DPI = 96;

// The whole number by which a frame of frameWidth x frameHeight pixels is
// enlarged, each pixel drawn as a square of that side, in a client area of
// clientWidth x clientHeight on a display of `dpi` logical dots per inch:
// dpi / 96 rounded half up, at least 1, and lowered while a frame that many
// times larger would not fit inside the client area.
int FrameScale(int dpi, int frameWidth, int frameHeight, int clientWidth, int clientHeight);

// At most this many monitors get a frame of their own; further ones stay black.
const int MONITOR_LIMIT = 16;

// A rectangle of the desktop or of a window: origin and size in pixels.
struct ScreenRect {
    int left, top, width, height;
};

// One monitor as the system reports it: its whole rectangle (not its work
// area) in desktop coordinates, which are negative left of or above the
// primary monitor, and its logical dots per inch.
struct MonitorArea {
    ScreenRect area;
    int dpi;
};

// Where one monitor's frame goes in the window that covers the monitors: the
// monitor's rectangle in the window's client coordinates, and the whole
// number the frame is enlarged by there.
struct FramePlacement {
    ScreenRect area;
    int scale;
};

// Lays one frame of frameWidth x frameHeight pixels out on each of `count`
// monitors for a window whose client area covers `window` (desktop
// coordinates): each monitor gets FrameScale of its DPI and size, or of the
// window's size where that is smaller (a preview). Of monitors that overlap
// (mirrored, one inside another, or in part) only the largest gets a
// placement, and of equal ones the first listed; at most MONITOR_LIMIT are
// looked at. Fills `placements` (room for `count` entries, in the monitors'
// order) and returns how many it wrote.
int LayOutFrames(const MonitorArea *monitors, int count, ScreenRect window, int frameWidth,
                 int frameHeight, FramePlacement *placements);

// One copy of a frame into the window: the rectangle it fills and the point
// of the (enlarged) frame it starts from.
struct FrameCopy {
    int x, y, width, height;
    int sourceX, sourceY;
};

// A frame of frameWidth x frameHeight pixels enlarged `scale` times (the
// placement's scale, or 1 where the enlarged image could not be made),
// centred on the placement's monitor and cut at the monitor's edges, so that
// a frame larger than its monitor never spills onto the next one. Width or
// height is 0 when nothing of it shows.
FrameCopy CentreFrameCopy(const FramePlacement &placement, int frameWidth, int frameHeight, int scale);

// The part of a frame enlarged `scale` times that a frame set holds, in the
// enlarged frame's pixels: left and top edge, width and height.
struct FramePart {
    int x, y, width, height;
};

// The part of the frame enlarged `scale` times that some placement at that
// scale shows: frames are centred and cut at their monitor's (or window's)
// edges, so only this much of a large scale ever reaches the screen. A set
// that holds just this part costs at most about the pixels of the largest
// monitor at that scale, whatever the scale. Width 0 when no placement has
// that scale.
FramePart VisibleFramePart(const FramePlacement *placements, int count, int frameWidth,
                           int frameHeight, int scale);

// CentreFrameCopy from a frame set that holds only `part` of the enlarged
// frame: the source point is the part's own.
FrameCopy PartFrameCopy(const FramePlacement &placement, int frameWidth, int frameHeight, int scale,
                        const FramePart &part);

// The frame sets (the ten frames at one scale) built so far, one per scale in
// use, slot by slot: each slot's scale (0: free) and the part it holds.
// After a new layout, SyncScaleSets calls `release` for each set whose scale
// no placement uses any more, or whose part is no longer the visible one,
// then `build` for each scale used that no set has, and writes each
// placement's slot to placementSets. A placement whose set cannot be built
// (or finds no free slot) gets -1 and stays black: a set of another scale
// would show at the wrong size, and no stereogram is better than a wrong one.
struct ScaleSets {
    int scale[MONITOR_LIMIT];
    FramePart part[MONITOR_LIMIT];
};
void SyncScaleSets(ScaleSets *sets, const FramePlacement *placements, int count, int frameWidth,
                   int frameHeight, int *placementSets,
                   bool (*build)(int slot, int scale, const FramePart &part),
                   void (*release)(int slot));

// The timer period for a redraw speed in units of 10 ms. The product is taken
// in 64 bits and capped at FRAME_PERIOD_MAX_MS; a speed of zero or below
// gives the shortest period, FRAME_PERIOD_MIN_MS, the same as a speed of 1.
uint32_t FramePeriodMs(int32_t redrawSpeed);
