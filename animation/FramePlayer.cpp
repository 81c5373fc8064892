// The frame player's arithmetic: stepping, centring, scale and the timer period.
#include "animation/FramePlayer.h"
#include "settings/Settings.h"

void StepFrame(int *frameIndex, int *direction)
{
    *frameIndex += *direction;
    if (*frameIndex > FRAME_COUNT - 2) *direction = -1;
    if (*frameIndex <= 0) *direction = +1;
}

int FrameOrigin(int displaySize, int frameSize)
{
    return (displaySize - frameSize) / 2;
}

int FrameScale(int dpi, int frameWidth, int frameHeight, int clientWidth, int clientHeight)
{
    int64_t scale = ((int64_t)dpi + STANDARD_DPI / 2) / STANDARD_DPI;
    // Counting down from the DPI's scale stops at the largest one that fits.
    if (frameWidth > 0 && scale > clientWidth / frameWidth) scale = clientWidth / frameWidth;
    if (frameHeight > 0 && scale > clientHeight / frameHeight) scale = clientHeight / frameHeight;
    return scale < 1 ? 1 : (int)scale;
}

static int64_t RectArea(const ScreenRect &r)
{
    return (int64_t)r.width * r.height;
}

static bool RectsOverlap(const ScreenRect &a, const ScreenRect &b)
{
    return a.left < b.left + b.width && b.left < a.left + a.width && a.top < b.top + b.height &&
           b.top < a.top + a.height;
}

// Whether monitor i comes before monitor j in keeping its frame: the larger
// one first, and of two of the same size the one listed first.
static bool RanksAbove(const MonitorArea *monitors, int i, int j)
{
    int64_t areaI = RectArea(monitors[i].area), areaJ = RectArea(monitors[j].area);
    return areaI > areaJ || (areaI == areaJ && i < j);
}

// Which monitors get a frame of their own. Overlapping monitors share one
// picture: a clone at one origin, a monitor inside another, or two that
// overlap in part. Two frames there would overlap and scramble both
// stereograms, so of overlapping monitors only the largest keeps a frame,
// and the others show what falls on them of its picture. Monitors are
// decided from the largest down, so only a monitor that kept its frame can
// cost another one its own.
static void ChooseFramedMonitors(const MonitorArea *monitors, int count, bool *framed)
{
    bool decided[MONITOR_LIMIT] = {};
    for (int round = 0; round < count; ++round) {
        int next = -1;
        for (int i = 0; i < count; ++i)
            if (!decided[i] && (next < 0 || RanksAbove(monitors, i, next))) next = i;
        decided[next] = true;
        framed[next] = true;
        for (int j = 0; j < count; ++j)
            if (j != next && decided[j] && framed[j] && RectsOverlap(monitors[j].area, monitors[next].area))
                framed[next] = false;
    }
}

int LayOutFrames(const MonitorArea *monitors, int count, ScreenRect window, int frameWidth,
                 int frameHeight, FramePlacement *placements)
{
    if (count > MONITOR_LIMIT) count = MONITOR_LIMIT;
    bool framed[MONITOR_LIMIT] = {};
    ChooseFramedMonitors(monitors, count, framed);
    int placed = 0;
    for (int i = 0; i < count; ++i) {
        if (!framed[i]) continue;
        ScreenRect area = monitors[i].area;
        area.left -= window.left;
        area.top -= window.top;
        // The frame must fit where it is seen: on the monitor, and inside a
        // window smaller than the monitor (a preview).
        int fitWidth = area.width < window.width ? area.width : window.width;
        int fitHeight = area.height < window.height ? area.height : window.height;
        placements[placed++] = FramePlacement{
            area, FrameScale(monitors[i].dpi, frameWidth, frameHeight, fitWidth, fitHeight)};
    }
    return placed;
}

// The part of [start, start + size) that lies in [low, high): its start, and
// its size (0 when none does).
static void ClipSpan(int start, int size, int low, int high, int *clippedStart, int *clippedSize)
{
    int from = start > low ? start : low;
    int to = start + size < high ? start + size : high;
    *clippedStart = from;
    *clippedSize = to > from ? to - from : 0;
}

FrameCopy CentreFrameCopy(const FramePlacement &placement, int frameWidth, int frameHeight, int scale)
{
    const ScreenRect &area = placement.area;
    int width = frameWidth * scale;
    int height = frameHeight * scale;
    int x = area.left + FrameOrigin(area.width, width);
    int y = area.top + FrameOrigin(area.height, height);
    FrameCopy copy;
    ClipSpan(x, width, area.left, area.left + area.width, &copy.x, &copy.width);
    ClipSpan(y, height, area.top, area.top + area.height, &copy.y, &copy.height);
    copy.sourceX = copy.x - x;
    copy.sourceY = copy.y - y;
    return copy;
}

FramePart VisibleFramePart(const FramePlacement *placements, int count, int frameWidth,
                           int frameHeight, int scale)
{
    int left = 0, top = 0, right = 0, bottom = 0;
    bool any = false;
    for (int p = 0; p < count; ++p) {
        if (placements[p].scale != scale) continue;
        FrameCopy copy = CentreFrameCopy(placements[p], frameWidth, frameHeight, scale);
        if (copy.width == 0 || copy.height == 0) continue;
        if (!any || copy.sourceX < left) left = copy.sourceX;
        if (!any || copy.sourceY < top) top = copy.sourceY;
        if (!any || copy.sourceX + copy.width > right) right = copy.sourceX + copy.width;
        if (!any || copy.sourceY + copy.height > bottom) bottom = copy.sourceY + copy.height;
        any = true;
    }
    return FramePart{left, top, right - left, bottom - top};
}

FrameCopy PartFrameCopy(const FramePlacement &placement, int frameWidth, int frameHeight, int scale,
                        const FramePart &part)
{
    FrameCopy copy = CentreFrameCopy(placement, frameWidth, frameHeight, scale);
    copy.sourceX -= part.x;
    copy.sourceY -= part.y;
    return copy;
}

static bool SamePart(const FramePart &a, const FramePart &b)
{
    return a.x == b.x && a.y == b.y && a.width == b.width && a.height == b.height;
}

// The slot holding `scale`, or a free one that `build` fills; -1 when there
// is neither or the build fails, so that a full table is never overrun.
static int SetFor(ScaleSets *sets, int scale, const FramePart &part,
                  bool (*build)(int slot, int scale, const FramePart &part))
{
    int free = -1;
    for (int s = 0; s < MONITOR_LIMIT; ++s) {
        if (sets->scale[s] == scale) return s;
        if (sets->scale[s] == 0 && free < 0) free = s;
    }
    if (free < 0 || part.width == 0 || !build(free, scale, part)) return -1;
    sets->scale[free] = scale;
    sets->part[free] = part;
    return free;
}

// Sets no longer needed are released first, so that the sets in use never
// outnumber the placements and a free slot is there for each new scale.
void SyncScaleSets(ScaleSets *sets, const FramePlacement *placements, int count, int frameWidth,
                   int frameHeight, int *placementSets,
                   bool (*build)(int slot, int scale, const FramePart &part),
                   void (*release)(int slot))
{
    for (int s = 0; s < MONITOR_LIMIT; ++s) {
        if (sets->scale[s] == 0) continue;
        FramePart needed = VisibleFramePart(placements, count, frameWidth, frameHeight, sets->scale[s]);
        if (needed.width > 0 && SamePart(needed, sets->part[s])) continue;
        release(s);
        sets->scale[s] = 0;
        sets->part[s] = FramePart{};
    }
    for (int p = 0; p < count; ++p) {
        int scale = placements[p].scale;
        FramePart part = VisibleFramePart(placements, count, frameWidth, frameHeight, scale);
        placementSets[p] = SetFor(sets, scale, part, build);
    }
}

uint32_t FramePeriodMs(int32_t redrawSpeed)
{
    if (redrawSpeed <= 0) return FRAME_PERIOD_MIN_MS;
    int64_t period = (int64_t)redrawSpeed * REDRAW_SPEED_STEP_MS;
    if (period > FRAME_PERIOD_MAX_MS) return FRAME_PERIOD_MAX_MS;
    return (uint32_t)period;
}
