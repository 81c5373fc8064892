// The Wayland back end: the process-wide state record shared by the
// connection, input and event loop (Main_wayland.cpp) and the toplevels and
// their frames (Toplevels_wayland.cpp).
#pragma once

#include <wayland-client.h>

#include "fractional-scale-v1-client-protocol.h"
#include "linux/Saver_linux.h"
#include "viewporter-client-protocol.h"
#include "xdg-shell-client-protocol.h"

struct WaylandOutput;

// A buffer of black pixels and its size in physical pixels.
struct BlackBuffer {
    wl_buffer *buffer;
    int width, height;
};

// A black rectangle of a window beside its frame: a subsurface of the
// window's surface, at (x, y) in the window in logical pixels.
struct BlackTile {
    wl_surface *surface;
    wl_subsurface *subsurface;
    wp_viewport *viewport;
    BlackBuffer black;
    int32_t x, y;
};

// One toplevel. A full-screen window's own surface is its frame, cut to what
// shows, to which each tick attaches one buffer of the frame set at its
// scale; the black around it is a grid of tiles, its subsurfaces, and the
// window geometry starts left of and above the frame, at the window's
// corner. Nothing lies under the frame, so a tick costs the compositor what
// one surface does (sway redraws every surface under a frame's damage: a
// black surface under the frame cost it 1.2 to 1.3 times the floor). No tile
// is larger than the frame: mutter 43 moves a full-screen window's surfaces
// by half of what the largest of them exceeds its own surface by, and drew
// the window out of place when its own surface was the strip above the
// frame, or the frame with strips wider than it. The own window's surface
// is black and the size of the window, with the frame as a desynchronized
// subsurface over it, as is a full-screen window whose tiles cannot be made:
// sway 1.7 cuts a tiled or floating window's surfaces short where its
// geometry starts left of or above its own surface. A window without a
// frame is its own surface, black.
struct SaverWindow {
    wl_surface *surface;
    xdg_surface *xdgSurface;
    xdg_toplevel *toplevel;
    wp_viewport *viewport;
    wp_fractional_scale_v1 *fractionalScale;
    BlackBuffer black;            // the window surface's buffer, when it is black
    wl_surface *frameSurface;
    wl_subsurface *frameSubsurface;
    wp_viewport *frameViewport;
    BlackTile *tiles;             // the black around the frame, with -fullscreen
    int tileCount;
    bool frameOnOwnSurface;       // the frame is the window's surface, with tiles around it
    int32_t frameX, frameY;       // where the frame is in the window, logical
    wl_callback *frameCallback;   // the last frame's, until the compositor has shown it
    WaylandOutput *fullscreenOutput;   // with -fullscreen, the output it covers
    // Logical size: the toplevel's latest configure (0: the client's choice),
    // and the size acknowledged and laid out.
    int32_t pendingWidth, pendingHeight;
    int32_t width, height;
    uint32_t scale120;            // the compositor's preferred scale x 120, 0 until told
    uint32_t laidOutScale120;     // the scale of the layout in place
    bool configured;              // a configure has been acknowledged
    bool dirty;                   // its size or scale changed: laid out at the next pass
    FramePlacement placement;
    int set;                      // slot of its frame set, -1 when none
    unsigned setGeneration;       // the build of that set its cut frames come from
    wl_buffer *cutFrames[FRAME_COUNT];   // the part of each frame that shows, or none
};

// Each output is allocated when it is announced and freed when it goes, in a
// list, so that any number of outputs is covered and listeners can hold
// their addresses.
struct WaylandOutput {
    wl_output *output;
    uint32_t globalName;
    int32_t scale, pendingScale;  // wl_output's whole-number scale
    int32_t modeWidth, modeHeight;   // its current mode, in physical pixels
    int ownWindowSurfaces;        // how many of the own window's surfaces are on it
    SaverWindow window;           // with -fullscreen
    WaylandOutput *next;
};

// The ten frames at one scale, as much of each as shows (its ScaleSets part),
// one after the other in one pool.
struct FrameSet {
    wl_shm_pool *pool;
    int32_t stride;
    size_t frameBytes;
    unsigned generation;          // which build this is: windows cut from it keep the number
};

struct WaylandSaver {
    SaverOptions options;
    LinuxPlayer player;
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
    // The pointer rule, in the logical coordinates of the window the pointer
    // is on (see Main_wayland.cpp), and where the surface it is on lies in
    // that window; pointerWindow is null when it has been on none yet.
    PointerWatch pointerWatch;
    SaverWindow *pointerWindow;
    int32_t pointerX, pointerY;
    WaylandOutput *outputs;
    bool started;                 // initial globals read; windows are made from here on
    SaverWindow ownWindow;        // without -fullscreen
    FrameSet sets[MONITOR_LIMIT];
    ScaleSets scaleSets;
    unsigned setGenerations;      // frame sets built so far
    bool layoutDirty;             // some window waits to be laid out
    bool readPrepared;
};

extern WaylandSaver Wayland;

// Toplevels_wayland.cpp
void CreateSaverWindow(SaverWindow *window, WaylandOutput *fullscreenOutput);
void DestroySaverWindow(SaverWindow *window);
// Notes that `window` needs laying out when the scale it should have is not
// the one laid out; LayOutWindows, the loop's prepare step, lays out every
// window so marked once per pass, never a listener.
void MarkScaleChanged(SaverWindow *window);
void LayOutWindows();
// The window that `surface` belongs to, and where that surface lies in it.
bool WindowOfSurface(wl_surface *surface, SaverWindow **window, int32_t *x, int32_t *y);
void ReleaseFrameSets();
void ShowNextFrames();
