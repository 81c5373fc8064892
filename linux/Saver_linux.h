// What the Linux program's two display back ends share: the command line, the
// embedded frames, the frame clock and event loop with its stop signals, the
// rule that ends the full-screen saver, the scale of each monitor's frame and
// the bookkeeping of one frame set per scale in use.
#pragma once

#include <poll.h>
#include <stdint.h>

#include "animation/FramePlayer.h"

enum TargetKind { TARGET_OWN_WINDOW, TARGET_ROOT, TARGET_WINDOW_ID };

// -scale takes 1 to this.
const int FORCED_SCALE_MAX = 8;
// -idle takes 1 second to a day.
const int32_t IDLE_SECONDS_MAX = 86400;

struct SaverOptions {
    TargetKind target;
    unsigned long windowId;   // for TARGET_WINDOW_ID
    int32_t redrawSpeed;      // 1..30, in 10 ms steps
    bool fullscreen;          // a saver of its own: every monitor, ended by input
    int forcedScale;          // 1..FORCED_SCALE_MAX, or 0 to choose by DPI
    int32_t idleSeconds;      // 1..IDLE_SECONDS_MAX: watch for idleness; 0: draw now
};

extern const char USAGE[];

// Options_linux.cpp. Reads argv into *options; false for any argument it
// does not take, which the caller answers with USAGE and exit code 2.
bool ParseOptions(int argc, char **argv, SaverOptions *options);
// Decimal, or hexadecimal after one 0x; never zero, never beyond 32 bits.
bool ParseWindowId(const char *text, unsigned long *id);

// Frames_linux.cpp. The packed DIB of frame `index` (0..9), embedded in the
// program, or null when it is not a 1-bit bitmap with two colours.
const void *FrameDib(int index);
// All ten frames, checked; false (after one line on stderr) when one is bad.
bool ReadFrameDibs(const void *dibs[FRAME_COUNT]);

// FramePixels.cpp, platform-free. The frame enlarged `scale` times, each of
// its pixels a scale x scale square of colours[0] or colours[1] (its colour
// index), written top row first into `pixels`, `stride` pixels apart.
void ExpandFrame(const void *dib, int scale, const uint32_t colours[2], uint32_t *pixels,
                 int stride);
// The same colours as 0xAARRGGBB, opaque, from the DIB's colour table.
void FrameColours(const void *dib, uint32_t colours[2]);

// FramePixels.cpp. LayOutFrames, each monitor at FrameScale of its DPI with
// the fit rule; then, when a scale is forced, every frame at that scale
// (cut at its monitor's edges where it is larger).
int LayOutScaledFrames(const MonitorArea *monitors, int count, ScreenRect window, int frameWidth,
                       int frameHeight, int forcedScale, FramePlacement *placements);

// FramePixels.cpp. The forced scale where there is one, else FrameScale of
// the DPI with the fit rule: what a window of its own is sized by.
int ChosenScale(int forcedScale, int dpi, int frameWidth, int frameHeight, int clientWidth,
                int clientHeight);

// FramePixels.cpp. The frame sets built so far, one per scale in use, each
// slot holding its scale (0: free). After a new layout, SyncScaleSets calls
// `release` for each set whose scale no placement uses any more, then
// `build` for each scale used that no set has, and writes each placement's
// slot to placementSets. A placement whose set cannot be built (or finds no
// free slot) gets -1 and is not drawn.
struct ScaleSets {
    int scale[MONITOR_LIMIT];
};
void SyncScaleSets(ScaleSets *sets, const FramePlacement *placements, int count,
                   int *placementSets, bool (*build)(int slot, int scale),
                   void (*release)(int slot));

// Wake_linux.cpp: the full-screen saver's pointer rule. The first position
// seen is the baseline; any later one more than WAKE_THRESHOLD pixels of
// travel (|dx| + |dy|) away wakes.
struct PointerWatch {
    bool placed;
    int32_t x, y;
};
bool PointerTravelWakes(PointerWatch *watch, int32_t x, int32_t y);

// Loop_linux.cpp: one loop for both back ends, on the display connection's
// file descriptor. Each pass: prepare (read what is queued, flush), wait in
// ppoll until the connection is readable or the next tick is due, read, and
// tick when it is due; a tick that falls behind is not caught up in a burst.
struct DisplayLoop {
    int fd;
    void (*prepare)();
    void (*read)(bool readable);
    void (*tick)();
    bool (*stopping)();
};
// Called once the display is open: until then SIGTERM and SIGINT keep their
// default action, so a connection that never completes can still be ended.
void InstallStopSignals();
bool StopSignalled();
// CLOCK_MONOTONIC in milliseconds.
int64_t MonotonicMs();
// ppoll on `fds` for up to timeoutMs (-1: no limit), returning at once with
// -1 (EINTR) when a stop signal has come or comes meanwhile. Every loop of
// the program waits here, so none can sleep through a stop.
int WaitForEvents(struct pollfd *fds, int count, int64_t timeoutMs);
void RunDisplayLoop(const DisplayLoop &loop, int32_t redrawSpeed);

// The back ends. Each returns the process's exit code.
int RunX11(const SaverOptions &options);
// -1 when $WAYLAND_DISPLAY is unset or names no compositor that answers.
int RunWayland(const SaverOptions &options);
// idle/Main_idle.cpp: no window; the full-screen saver each time the session
// has been idle for options.idleSeconds.
int RunIdle(const SaverOptions &options);
