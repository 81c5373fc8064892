// Where a frame's physical pixels land on a surface that is placed in logical
// coordinates at a scale given in 120ths, as on Wayland: the frame subsurface's
// position and size, and the run of buffer pixels it shows. Platform-free.
#pragma once

#include <stdint.h>

// One whole scale in 120ths, the unit of wp_fractional_scale_v1.
const uint32_t WHOLE_SCALE = 120;

// The physical pixel edge of logical coordinate `logical` at `scale120`,
// rounded to the nearest (halves up) as compositors map surface edges, and
// its inverse.
int PhysicalEdge(int logical, uint32_t scale120);
int NearestLogical(int physical, uint32_t scale120);

// One axis of the frame subsurface: where it starts and how long it is in
// logical coordinates, and the run of buffer pixels it shows, from the start
// of the frame's part in the window, one buffer pixel per physical pixel.
struct Span {
    int logical, logicalLength;
    int source, sourceLength;
};

// The frame's part that shows, `length` physical pixels from `start` in a
// window `size` physical pixels long. Both ends of the subsurface fall on
// physical pixel edges that logical coordinates reach, so the compositor
// never stretches or squeezes the frame: where a start up to 4 logical
// pixels off the centre puts both ends on such edges, the whole part shows
// from there; else the part between the edges just inside it, which leaves
// off less than a logical pixel's worth at either end. At a whole-number
// scale the source length is then always a multiple of the scale, as a
// buffer scale needs.
Span MapSpan(int start, int length, int size, uint32_t scale120);

// The black around a frame on one axis of a window, as a grid's cells: the
// frame's span (`start`, `length`) in a window `size` long is one cell, and
// the margins before and after it are each cut into the fewest equal cells
// no longer than the frame (mutter 43 places a full-screen window's surfaces
// by the largest of them, which must be the frame). All logical pixels.
int AxisCells(int start, int length, int size);
// Cell `index` of AxisCells' count: where it starts and how long it is.
void AxisCell(int start, int length, int size, int index, int *cellStart, int *cellLength);
