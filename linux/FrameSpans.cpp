// The frame subsurface's span on each axis at a whole or fractional scale.
// Platform-free.
#include "linux/FrameSpans.h"

// a / b rounded to the nearest, halves up, for a >= 0 and b > 0.
static int RoundedDivision(int64_t a, int64_t b)
{
    return (int)((2 * a + b) / (2 * b));
}

int PhysicalEdge(int logical, uint32_t scale120)
{
    return RoundedDivision((int64_t)logical * scale120, WHOLE_SCALE);
}

int NearestLogical(int physical, uint32_t scale120)
{
    return RoundedDivision((int64_t)physical * WHOLE_SCALE, scale120);
}

// Whether logical coordinate `logical` falls exactly halfway between two
// physical pixels at a scale that floating point does not hold exactly
// (1.25, 1.5 and 1.75 it does), where the compositor's rounding may go
// either way.
static bool UncertainEdge(int logical, uint32_t scale120)
{
    // scale120 / 120 has a power of two below the line exactly when 15 divides scale120.
    bool exact = scale120 % 15 == 0;
    return !exact && (int64_t)logical * scale120 % WHOLE_SCALE == WHOLE_SCALE / 2;
}

Span MapSpan(int start, int length, int size, uint32_t scale120)
{
    static const int NUDGES[] = {0, -1, 1, -2, 2, -3, 3, -4, 4};
    for (int nudge : NUDGES) {
        int first = NearestLogical(start, scale120) + nudge;
        if (first < 0) continue;
        int from = PhysicalEdge(first, scale120), to = from + length;
        int last = NearestLogical(to, scale120);
        if (to <= size && PhysicalEdge(last, scale120) == to && !UncertainEdge(first, scale120) &&
            !UncertainEdge(last, scale120))
            return Span{first, last - first, 0, length};
    }
    int first = NearestLogical(start, scale120);
    while (PhysicalEdge(first, scale120) < start || UncertainEdge(first, scale120)) ++first;
    int last = NearestLogical(start + length, scale120);
    while (PhysicalEdge(last, scale120) > start + length || UncertainEdge(last, scale120)) --last;
    if (last < first) last = first;
    int from = PhysicalEdge(first, scale120), to = PhysicalEdge(last, scale120);
    return Span{first, last - first, from - start, to - from};
}

// How many cells no longer than `most` a margin of `length` takes.
static int MarginCells(int length, int most)
{
    return length <= 0 ? 0 : (length + most - 1) / most;
}

int AxisCells(int start, int length, int size)
{
    if (length <= 0) return 0;
    return MarginCells(start, length) + 1 + MarginCells(size - start - length, length);
}

void AxisCell(int start, int length, int size, int index, int *cellStart, int *cellLength)
{
    int before = MarginCells(start, length);
    int from = 0, margin = start, cells = before, part = index;
    if (index == before) {
        *cellStart = start;
        *cellLength = length;
        return;
    }
    if (index > before) {
        from = start + length;
        margin = size - from;
        cells = MarginCells(margin, length);
        part = index - before - 1;
    }
    int begin = from + (int)((int64_t)margin * part / cells);
    int end = from + (int)((int64_t)margin * (part + 1) / cells);
    *cellStart = begin;
    *cellLength = end - begin;
}
