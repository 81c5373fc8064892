// The Wayland back end: the process-wide state record shared by the
// connection, input and event loop (Main_wayland.cpp) and the windows and
// their frames (Windows_wayland.cpp).
#pragma once

#include <wayland-client.h>

#include "fractional-scale-v1-client-protocol.h"
#include "linux/Saver_linux.h"
#include "viewporter-client-protocol.h"
#include "xdg-shell-client-protocol.h"

struct WaylandOutput;

// One toplevel: a surface the size of its window holding a black buffer, and
// above it a subsurface of the frame's size to which each tick attaches one
// buffer of the frame set at its scale.
struct SaverWindow {
    wl_surface *surface;
    xdg_surface *xdgSurface;
    xdg_toplevel *toplevel;
    wp_viewport *viewport;
    wp_fractional_scale_v1 *fractionalScale;
    wl_surface *frameSurface;
    wl_subsurface *subsurface;
    wp_viewport *frameViewport;
    wl_buffer *background;
    wl_callback *frameCallback;   // the last frame's, until the compositor has shown it
    // With -fullscreen the output it covers; else the output it last entered.
    WaylandOutput *output;
    // Logical size: the toplevel's latest configure (0: the client's choice),
    // and the size acknowledged and laid out.
    int32_t pendingWidth, pendingHeight;
    int32_t width, height;
    uint32_t scale120;            // the compositor's preferred scale x 120, 0 until told
    uint32_t laidOutScale120;     // the scale of the layout in place
    int backgroundWidth, backgroundHeight;
    bool configured;
    FramePlacement placement;
    int set;                      // slot of its frame set, -1 when none
    wl_buffer *cutFrames[FRAME_COUNT];   // where the frame is cut at the window's edges
};

struct WaylandOutput {
    wl_output *output;
    uint32_t globalName;
    int32_t scale, pendingScale;  // wl_output's whole-number scale
    SaverWindow window;           // with -fullscreen
};

// The ten frames at one scale, one after the other in one pool.
struct FrameSet {
    wl_shm_pool *pool;
    wl_buffer *buffers[FRAME_COUNT];
    int width, height;
    int32_t stride;
    size_t frameBytes;
};

struct WaylandSaver {
    SaverOptions options;
    wl_display *display;
    wl_registry *registry;
    wl_compositor *compositor;
    wl_subcompositor *subcompositor;
    wl_shm *shm;
    xdg_wm_base *wmBase;
    wp_viewporter *viewporter;
    wp_fractional_scale_manager_v1 *fractionalScaleManager;
    wl_seat *seat;
    wl_keyboard *keyboard;
    wl_pointer *pointer;
    // The pointer rule, in the logical coordinates of the surface it was
    // first seen on (see Main_wayland.cpp).
    PointerWatch pointerWatch;
    wl_surface *pointerSurface;
    // At most MONITOR_LIMIT outputs; a free slot has no wl_output. Slots never
    // move, as listeners hold their addresses.
    WaylandOutput outputs[MONITOR_LIMIT];
    bool started;                 // initial globals read; windows are made from here on
    SaverWindow ownWindow;        // without -fullscreen
    // The frames, one set per scale in use, and the player's position.
    const void *dibs[FRAME_COUNT];
    uint32_t colours[2];
    int frameWidth, frameHeight;
    FrameSet sets[MONITOR_LIMIT];
    ScaleSets scaleSets;
    int frameIndex, direction;
    int shownIndex;
    bool readPrepared;
    bool stopRequested;
    bool failed;
};

extern WaylandSaver Wayland;

// Windows_wayland.cpp
void CreateSaverWindow(SaverWindow *window, WaylandOutput *fullscreenOutput);
void DestroySaverWindow(SaverWindow *window);
void ArrangeSaverWindow(SaverWindow *window);
void ReleaseFrameSets();
void ShowNextFrames();
