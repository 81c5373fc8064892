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

uint32_t FramePeriodMs(int32_t redrawSpeed)
{
    if (redrawSpeed <= 0) return FRAME_PERIOD_MIN_MS;
    int64_t period = (int64_t)redrawSpeed * REDRAW_SPEED_STEP_MS;
    if (period > FRAME_PERIOD_MAX_MS) return FRAME_PERIOD_MAX_MS;
    return (uint32_t)period;
}
