// What the Linux program's two display back ends share: the command line and
// the XScreenSaver window rule, the embedded frames and the player that steps
// through them, the frame clock and event loop with its stop signals, the
// rule that ends the full-screen saver and the scale of each monitor's frame.
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

// Options.cpp. Reads argv into *options; false for any argument it
// does not take, which the caller answers with USAGE and exit code 2.
bool ParseOptions(int argc, char **argv, SaverOptions *options);
// Decimal, or hexadecimal after one 0x; never zero, never beyond 32 bits.
bool ParseWindowId(const char *text, unsigned long *id);
// Options.cpp. The window XScreenSaver hands over in $XSCREENSAVER_WINDOW
// (`named`, may be null) becomes the target, unless -window-id names one or
// -fullscreen asks for a saver of its own; with -root too, since the daemon
// covers the screen with that window and its programs: lines carry -root.
// Such a target is an X11 window, so it forces the X11 back end. False when
// it applies but is not a window id.
bool ApplyEnvironmentWindow(SaverOptions *options, const char *named);

// The player both back ends run (Frames_linux.cpp, Loop_linux.cpp): the
// embedded frames, their colours as 0xAARRGGBB and size, the frame the next
// tick shows and the one shown last (-1 before the first), and why the loop
// ends besides a stop signal: a key, a button, pointer travel, a close
// request or a window gone (stopRequested), or a fault (failed).
struct LinuxPlayer {
    const void *dibs[FRAME_COUNT];
    uint32_t colours[2];
    int frameWidth, frameHeight;
    int frameIndex, direction;
    int shownIndex;
    bool stopRequested;
    bool failed;
};
// Reads and checks the frames (false after one line on stderr) and sets the
// player at frame 0, moving forward, nothing shown yet.
bool StartPlayer(LinuxPlayer *player);
// The per-tick step: the frame this tick shows, noted as shown, the player
// moved on to the next.
int PlayerStep(LinuxPlayer *player);
// The one stop check of every loop: a stop signal, or a reason of the player's.
bool PlayerStopping(const LinuxPlayer &player);

// FramePixels.cpp, platform-free. The `part` of the frame enlarged `scale`
// times, each frame pixel a scale x scale square of colours[0] or colours[1]
// (its colour index), written top row first into `pixels`, `stride` pixels
// apart: part.width x part.height pixels.
void ExpandFrame(const void *dib, int scale, const FramePart &part, const uint32_t colours[2],
                 uint32_t *pixels, int stride);
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

// Wake.cpp: the full-screen saver's pointer rule. The first position
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
    const LinuxPlayer *player;   // whose PlayerStopping ends the loop
};
// Called first thing in main: from then on a SIGTERM or SIGINT is noted and
// every wait (WaitForEvents) and every long step (building frame sets, the
// grab retries) checks for it, so the program ends on one at any moment,
// connecting included, with exit code 0.
void InstallStopSignals();
bool StopSignalled();
// While on, a stop signal ends the process at once with exit code 0: for a
// step that waits inside a library where no flag can be checked (a connection
// that is accepted and never answered, a round trip, closing the display).
// Turned on after a stop signal has already come, it ends the process there.
void StopExitsAtOnce(bool atOnce);
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
