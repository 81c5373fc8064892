// The toplevels on Wayland and their frames: each is laid out at its scale in
// physical pixels, the ten frames of each scale in use are wl_shm buffers
// made once, holding only what some window shows, and each tick attaches one
// of them per window.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <unistd.h>

#include "linux/FrameSpans.h"
#include "wayland/Saver_wayland.h"

// The window's scale in 120ths: the compositor's preferred fractional scale
// where it tells one and a viewport can carry it; else the whole-number
// scale of the output it covers or, for the own window, the highest among
// the outputs it is on. A window on none keeps the scale it has.
static uint32_t WindowScale120(const SaverWindow *window)
{
    if (window->scale120 && Wayland.viewporter) return window->scale120;
    int32_t scale = 0;
    if (window->fullscreenOutput) {
        scale = window->fullscreenOutput->scale;
    } else {
        for (const WaylandOutput *output = Wayland.outputs; output; output = output->next)
            if (output->ownWindowSurfaces > 0 && output->scale > scale) scale = output->scale;
    }
    if (scale <= 0) return window->laidOutScale120 ? window->laidOutScale120 : WHOLE_SCALE;
    return (uint32_t)scale * WHOLE_SCALE;
}

static bool FractionalLayout(uint32_t scale120)
{
    return scale120 % WHOLE_SCALE != 0;
}

// The dots per inch the frame's enlargement is chosen by: round(96 x scale),
// so that 1.5 gives 144 and with it 2, as on Windows.
static int ScaleDpi(uint32_t scale120)
{
    return (int)(((int64_t)STANDARD_DPI * scale120 * 2 + WHOLE_SCALE) / (2 * WHOLE_SCALE));
}

// A buffer of black pixels: a fresh memfd reads as zeros, which is black in
// XRGB8888, so it is never mapped or written here. Null when it cannot be
// made.
static wl_buffer *MakeBlackBuffer(int width, int height)
{
    int64_t stride = (int64_t)width * 4, size = stride * height;
    if (width <= 0 || height <= 0 || size > INT32_MAX) return nullptr;
    int fd = memfd_create("zembloid-black", MFD_CLOEXEC);
    if (fd < 0) return nullptr;
    if (ftruncate(fd, (off_t)size) != 0) {
        close(fd);
        return nullptr;
    }
    wl_shm_pool *pool = wl_shm_create_pool(Wayland.shm, fd, (int32_t)size);
    wl_buffer *buffer =
        wl_shm_pool_create_buffer(pool, 0, width, height, (int32_t)stride, WL_SHM_FORMAT_XRGB8888);
    wl_shm_pool_destroy(pool);
    close(fd);
    return buffer;
}

// The ten frames' `part` at `scale` in one memfd pool. The pixels are
// written once; the mapping is dropped straight after, as the compositor
// reads them through its own. Each window makes its buffers in the pool (see
// CutFrames). Called from the loop's prepare step, never from a listener, so
// that the compositor's pings are answered around it; a stop signal ends it
// between two frames.
static bool BuildFrameSet(int slot, int scale, const FramePart &part)
{
    FrameSet &set = Wayland.sets[slot];
    set.stride = part.width * 4;
    set.frameBytes = (size_t)set.stride * part.height;
    // One row more than the frames: the compositor wants a whole stride for
    // every row of a buffer, and the last row of a cut frame that starts to
    // the right of column 0 reaches past the last frame's end.
    size_t size = set.frameBytes * FRAME_COUNT + set.stride;
    if (size > INT32_MAX) return false;
    int fd = memfd_create("zembloid-frames", MFD_CLOEXEC);
    if (fd < 0) return false;
    void *pixels = MAP_FAILED;
    if (ftruncate(fd, (off_t)size) == 0)
        pixels = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (pixels == MAP_FAILED) {
        // Said once: each new layout tries again, and may fail again.
        static bool told;
        if (!told) fprintf(stderr, "zembloid: no memory for the frames at %dx\n", scale);
        told = true;
        close(fd);
        return false;
    }
    const LinuxPlayer &player = Wayland.player;
    int i = 0;
    for (; i < FRAME_COUNT && !StopSignalled(); ++i)
        ExpandFrame(player.dibs[i], scale, part, player.colours,
                    (uint32_t *)((char *)pixels + i * set.frameBytes), part.width);
    munmap(pixels, size);
    if (i < FRAME_COUNT) {
        close(fd);
        return false;
    }
    set.pool = wl_shm_create_pool(Wayland.shm, fd, (int32_t)size);
    close(fd);
    set.generation = ++Wayland.setGenerations;
    return true;
}

static void ReleaseFrameSet(int slot)
{
    FrameSet &set = Wayland.sets[slot];
    if (set.pool) wl_shm_pool_destroy(set.pool);
    set = FrameSet{};
}

void ReleaseFrameSets()
{
    for (int slot = 0; slot < MONITOR_LIMIT; ++slot)
        if (Wayland.scaleSets.scale[slot]) ReleaseFrameSet(slot);
    Wayland.scaleSets = ScaleSets{};
}

// `visit` for the own window, then each output's.
static void EachWindow(void (*visit)(SaverWindow *window, void *data), void *data)
{
    if (Wayland.ownWindow.surface) visit(&Wayland.ownWindow, data);
    for (WaylandOutput *output = Wayland.outputs; output; output = output->next)
        if (output->window.surface) visit(&output->window, data);
}

static void OnFrameShown(void *data, wl_callback *callback, uint32_t)
{
    SaverWindow *window = (SaverWindow *)data;
    wl_callback_destroy(callback);
    window->frameCallback = nullptr;
}

static const wl_callback_listener FRAME_LISTENER = {.done = OnFrameShown};

// One attach, damage and commit of the surface that holds the frame, asking
// to be told when the compositor shows it: the window's own, whose tiles have
// nothing new to apply, or the desynchronized frame subsurface, whose commit
// alone shows the frame.
static void ShowFrame(SaverWindow *window, int index)
{
    wl_surface *surface = window->frameOnOwnSurface ? window->surface : window->frameSurface;
    wl_surface_attach(surface, window->cutFrames[index], 0, 0);
    wl_surface_damage_buffer(surface, 0, 0, INT32_MAX, INT32_MAX);
    if (!window->frameCallback) {
        window->frameCallback = wl_surface_frame(surface);
        wl_callback_add_listener(window->frameCallback, &FRAME_LISTENER, window);
    }
    wl_surface_commit(surface);
}

static void DropCutFrames(SaverWindow *window)
{
    for (wl_buffer *&buffer : window->cutFrames) {
        if (buffer) wl_buffer_destroy(buffer);
        buffer = nullptr;
    }
}

// Buffers of the part of each frame that shows in the window: views into the
// set's pool, starting inside each frame and keeping its row stride, so
// nothing is copied and the surface never reaches past the window (a
// viewport's crop would do the same, but not every compositor's renderer
// honours its offset).
static void CutFrames(SaverWindow *window, int x, int y, int width, int height)
{
    const FrameSet &set = Wayland.sets[window->set];
    DropCutFrames(window);
    if (width <= 0 || height <= 0) return;
    size_t corner = (size_t)y * set.stride + (size_t)x * 4;
    for (int i = 0; i < FRAME_COUNT; ++i)
        window->cutFrames[i] =
            wl_shm_pool_create_buffer(set.pool, (int32_t)(i * set.frameBytes + corner), width, height,
                                      set.stride, WL_SHM_FORMAT_XRGB8888);
}

// Where a surface of `width` x `height` logical pixels at (x, y) in the
// window gets a buffer of its physical size: at a whole-number scale the
// buffer carries the scale itself, which needs no viewport; at a fractional
// one a viewport maps its buffer pixels one to one onto physical pixels.
static void SetSurfaceScale(wl_surface *surface, wp_viewport *viewport, uint32_t scale120,
                            int32_t width, int32_t height)
{
    bool fractional = FractionalLayout(scale120);
    wl_surface_set_buffer_scale(surface, fractional ? 1 : (int32_t)(scale120 / WHOLE_SCALE));
    if (viewport) wp_viewport_set_destination(viewport, fractional ? width : -1, fractional ? height : -1);
}

static void DropBlackBuffer(BlackBuffer *black)
{
    if (black->buffer) wl_buffer_destroy(black->buffer);
    *black = BlackBuffer{};
}

// A black buffer of `width` x `height` physical pixels in *buffer, remade
// only when its size changes; one that cannot be made leaves the last.
static void KeepBlackBuffer(BlackBuffer *black, int width, int height)
{
    if (black->buffer && width == black->width && height == black->height) return;
    wl_buffer *buffer = MakeBlackBuffer(width, height);
    if (!buffer) return;
    DropBlackBuffer(black);
    *black = {buffer, width, height};
}

// The window's own surface: black, the whole window.
static void PlaceWindowSurface(SaverWindow *window)
{
    uint32_t scale120 = window->laidOutScale120;
    int32_t width = window->width, height = window->height;
    KeepBlackBuffer(&window->black, PhysicalEdge(width, scale120), PhysicalEdge(height, scale120));
    SetSurfaceScale(window->surface, window->viewport, scale120, width, height);
    xdg_surface_set_window_geometry(window->xdgSurface, 0, 0, window->width, window->height);
    wl_surface_attach(window->surface, window->black.buffer, 0, 0);
    wl_surface_damage_buffer(window->surface, 0, 0, INT32_MAX, INT32_MAX);
    wl_surface_commit(window->surface);
}

// A commit of a subsurface's new state, then one with nothing new: sway 1.7
// adds each surface's last damage again at every commit of the window's own
// surface, so a tile left holding its first damage would be redrawn whole at
// every tick.
static void CommitSubsurface(wl_surface *surface)
{
    wl_surface_commit(surface);
    wl_surface_commit(surface);
}

static void DestroyTiles(SaverWindow *window)
{
    for (int i = 0; i < window->tileCount; ++i) {
        BlackTile &tile = window->tiles[i];
        if (tile.viewport) wp_viewport_destroy(tile.viewport);
        wl_subsurface_destroy(tile.subsurface);
        wl_surface_destroy(tile.surface);
        DropBlackBuffer(&tile.black);
    }
    free(window->tiles);
    window->tiles = nullptr;
    window->tileCount = 0;
}

// `count` tiles, those in place kept when there are as many; false when they
// cannot be made. They stay synchronized: what changes in them shows with
// the window's next commit.
static bool KeepTiles(SaverWindow *window, int count)
{
    if (window->tileCount == count) return true;
    DestroyTiles(window);
    if (count == 0) return true;
    window->tiles = (BlackTile *)calloc(count, sizeof *window->tiles);
    if (!window->tiles) return false;
    window->tileCount = count;
    for (int i = 0; i < count; ++i) {
        BlackTile &tile = window->tiles[i];
        tile.surface = wl_compositor_create_surface(Wayland.compositor);
        tile.subsurface = wl_subcompositor_get_subsurface(Wayland.subcompositor, tile.surface, window->surface);
        if (Wayland.viewporter) tile.viewport = wp_viewporter_get_viewport(Wayland.viewporter, tile.surface);
    }
    return true;
}

// A rectangle of the window in logical pixels.
struct WindowBox {
    int x, y, width, height;
};

// A black tile over `box` of the window, placed relative to the frame, the
// window's own surface.
static void PlaceTile(SaverWindow *window, BlackTile *tile, WindowBox box)
{
    uint32_t scale120 = window->laidOutScale120;
    tile->x = box.x;
    tile->y = box.y;
    KeepBlackBuffer(&tile->black, PhysicalEdge(box.x + box.width, scale120) - PhysicalEdge(box.x, scale120),
                    PhysicalEdge(box.y + box.height, scale120) - PhysicalEdge(box.y, scale120));
    SetSurfaceScale(tile->surface, tile->viewport, scale120, box.width, box.height);
    wl_subsurface_set_position(tile->subsurface, box.x - window->frameX, box.y - window->frameY);
    wl_surface_attach(tile->surface, tile->black.buffer, 0, 0);
    wl_surface_damage_buffer(tile->surface, 0, 0, INT32_MAX, INT32_MAX);
    CommitSubsurface(tile->surface);
}

// With -fullscreen: the frame, `width` x `height` at (frameX, frameY), as
// the window's own surface, and the grid of tiles around it (AxisCells).
// False when the tiles cannot be made, or would be more than a frame much
// smaller than its output calls for (a forced 1x frame on an 8K output
// takes 116).
static bool PlaceFrameOnOwnSurface(SaverWindow *window, int width, int height)
{
    const int TILE_LIMIT = 256;
    int columns = AxisCells(window->frameX, width, window->width);
    int rows = AxisCells(window->frameY, height, window->height);
    if (columns * rows - 1 > TILE_LIMIT || !KeepTiles(window, columns * rows - 1)) return false;
    int placed = 0;
    for (int row = 0; row < rows; ++row)
        for (int column = 0; column < columns; ++column) {
            WindowBox box;
            AxisCell(window->frameX, width, window->width, column, &box.x, &box.width);
            AxisCell(window->frameY, height, window->height, row, &box.y, &box.height);
            if (box.x != window->frameX || box.y != window->frameY) PlaceTile(window, &window->tiles[placed++], box);
        }
    wl_surface_attach(window->frameSurface, nullptr, 0, 0);
    CommitSubsurface(window->frameSurface);
    SetSurfaceScale(window->surface, window->viewport, window->laidOutScale120, width, height);
    xdg_surface_set_window_geometry(window->xdgSurface, -window->frameX, -window->frameY, window->width,
                                    window->height);
    window->frameOnOwnSurface = true;
    return true;
}

// The frame subsurface, `width` x `height` at (frameX, frameY), over the
// window's own surface, black.
static void PlaceFrameSubsurface(SaverWindow *window, int width, int height)
{
    KeepTiles(window, 0);
    window->frameOnOwnSurface = false;
    SetSurfaceScale(window->frameSurface, window->frameViewport, window->laidOutScale120, width, height);
    wl_subsurface_set_position(window->frameSubsurface, window->frameX, window->frameY);
}

// The frame, centred on the window and cut at its edges, its ends on
// physical pixel edges (MapSpan), and the black around it. False when no
// part of the frame shows.
static bool PlaceFrame(SaverWindow *window, int physicalWidth, int physicalHeight)
{
    const LinuxPlayer &player = Wayland.player;
    uint32_t scale120 = window->laidOutScale120;
    FrameCopy copy = PartFrameCopy(window->placement, player.frameWidth, player.frameHeight,
                                   window->placement.scale, Wayland.scaleSets.part[window->set]);
    Span across = MapSpan(copy.x, copy.width, physicalWidth, scale120);
    Span down = MapSpan(copy.y, copy.height, physicalHeight, scale120);
    CutFrames(window, copy.sourceX + across.source, copy.sourceY + down.source, across.sourceLength,
              down.sourceLength);
    if (!window->cutFrames[0]) return false;
    window->frameX = across.logical;
    window->frameY = down.logical;
    bool onOwnSurface = window->fullscreenOutput &&
                        PlaceFrameOnOwnSurface(window, across.logicalLength, down.logicalLength);
    if (!onOwnSurface) PlaceFrameSubsurface(window, across.logicalLength, down.logicalLength);
    ShowFrame(window, player.shownIndex < 0 ? 0 : player.shownIndex);
    // A window that was black before (its set could not be made, or no part
    // of the frame showed) has a window-sized black buffer, no longer
    // attached once the frame is its own surface; kept, it would hold 33 MB
    // on a 3840 x 2160 output for as long as the saver runs.
    if (onOwnSurface) DropBlackBuffer(&window->black);
    else PlaceWindowSurface(window);
    return true;
}

// A window without a frame (its set could not be made, or it is too small
// for a physical pixel of it) is its own surface, black.
static void PlaceBlack(SaverWindow *window)
{
    DropCutFrames(window);
    KeepTiles(window, 0);
    window->frameOnOwnSurface = false;
    wl_surface_attach(window->frameSurface, nullptr, 0, 0);
    wl_surface_commit(window->frameSurface);
    window->frameX = window->frameY = 0;
    PlaceWindowSurface(window);
}

// The logical size of a window that the compositor leaves to the client, on
// each axis it leaves: the enlarged frame's, but no larger than the largest
// output, so that a large forced scale shows the frame cut at the window's
// edges rather than ask for frame sets no output can show.
static void DefaultSize(SaverWindow *window)
{
    uint32_t scale120 = WindowScale120(window);
    const LinuxPlayer &player = Wayland.player;
    const int UNBOUNDED = 1 << 20;
    int k = ChosenScale(Wayland.options.forcedScale, ScaleDpi(scale120), player.frameWidth,
                        player.frameHeight, UNBOUNDED, UNBOUNDED);
    int width = NearestLogical(player.frameWidth * k, scale120);
    int height = NearestLogical(player.frameHeight * k, scale120);
    int widest = 0, tallest = 0;
    for (const WaylandOutput *output = Wayland.outputs; output; output = output->next) {
        int32_t scale = output->scale > 0 ? output->scale : 1;
        if (output->modeWidth / scale > widest) widest = output->modeWidth / scale;
        if (output->modeHeight / scale > tallest) tallest = output->modeHeight / scale;
    }
    if (widest > 0 && width > widest) width = widest;
    if (tallest > 0 && height > tallest) height = tallest;
    if (window->width <= 0) window->width = width;
    if (window->height <= 0) window->height = height;
}

static void PhysicalSize(const SaverWindow *window, int *width, int *height)
{
    *width = PhysicalEdge(window->width, window->laidOutScale120);
    *height = PhysicalEdge(window->height, window->laidOutScale120);
}

// The frame's scale from the window's physical size and DPI with the fit
// rule.
static void PlaceWindowFrame(SaverWindow *window, void *)
{
    if (!window->dirty) return;
    window->laidOutScale120 = WindowScale120(window);
    int physicalWidth, physicalHeight;
    PhysicalSize(window, &physicalWidth, &physicalHeight);
    MonitorArea monitor = {{0, 0, physicalWidth, physicalHeight}, ScaleDpi(window->laidOutScale120)};
    LayOutScaledFrames(&monitor, 1, monitor.area, Wayland.player.frameWidth, Wayland.player.frameHeight,
                       Wayland.options.forcedScale, &window->placement);
}

struct LaidOut {
    FramePlacement *placements;
    SaverWindow **windows;
    int count;
};

static void ListWindow(SaverWindow *window, void *data)
{
    LaidOut *list = (LaidOut *)data;
    if (!window->configured) return;
    if (list->placements) {
        list->placements[list->count] = window->placement;
        list->windows[list->count] = window;
    }
    ++list->count;
}

// A window's surfaces at its layout. A window whose frames could not be
// made stays black.
static void ShowWindow(SaverWindow *window, int set, bool setChanged)
{
    bool dirty = window->dirty;
    window->dirty = false;
    if (!dirty && !setChanged) return;
    window->set = set;
    window->setGeneration = set >= 0 ? Wayland.sets[set].generation : 0;
    int physicalWidth, physicalHeight;
    PhysicalSize(window, &physicalWidth, &physicalHeight);
    if (set < 0 || !PlaceFrame(window, physicalWidth, physicalHeight)) PlaceBlack(window);
}

// The loop's prepare step, once per pass: each window whose size or scale
// changed takes its frame's scale, then one frame set per scale in use is
// kept (a set rebuilt for a new visible part changes under every window that
// uses it, so those are placed again too).
void LayOutWindows()
{
    if (!Wayland.layoutDirty) return;
    Wayland.layoutDirty = false;
    EachWindow(PlaceWindowFrame, nullptr);
    LaidOut list = {};
    EachWindow(ListWindow, &list);
    if (list.count == 0) {
        ReleaseFrameSets();
        return;
    }
    list.placements = (FramePlacement *)calloc(list.count, sizeof *list.placements);
    list.windows = (SaverWindow **)calloc(list.count, sizeof *list.windows);
    int *slots = (int *)calloc(list.count, sizeof *slots);
    if (list.placements && list.windows && slots) {
        list.count = 0;
        EachWindow(ListWindow, &list);
        const LinuxPlayer &player = Wayland.player;
        SyncScaleSets(&Wayland.scaleSets, list.placements, list.count, player.frameWidth,
                      player.frameHeight, slots, BuildFrameSet, ReleaseFrameSet);
        for (int i = 0; i < list.count; ++i) {
            SaverWindow *window = list.windows[i];
            int slot = slots[i];
            bool setChanged = slot != window->set ||
                              (slot >= 0 && Wayland.sets[slot].generation != window->setGeneration);
            ShowWindow(window, slot, setChanged);
        }
    } else {
        Wayland.player.failed = true;
        fprintf(stderr, "zembloid: out of memory\n");
    }
    free(list.placements);
    free(list.windows);
    free(slots);
}

static void MarkWindowDirty(SaverWindow *window)
{
    if (!window->configured) return;
    window->dirty = true;
    Wayland.layoutDirty = true;
}

// Acknowledged at once; the size is laid out at the next pass.
static void OnConfigure(void *data, xdg_surface *xdgSurface, uint32_t serial)
{
    SaverWindow *window = (SaverWindow *)data;
    xdg_surface_ack_configure(xdgSurface, serial);
    int32_t width = window->width, height = window->height;
    window->width = window->pendingWidth;
    window->height = window->pendingHeight;
    DefaultSize(window);
    if (window->configured && window->width == width && window->height == height) return;
    window->configured = true;
    MarkWindowDirty(window);
}

static const xdg_surface_listener XDG_SURFACE_LISTENER = {.configure = OnConfigure};

static void OnToplevelConfigure(void *data, xdg_toplevel *, int32_t width, int32_t height, wl_array *)
{
    SaverWindow *window = (SaverWindow *)data;
    window->pendingWidth = width;
    window->pendingHeight = height;
}

static void OnToplevelClose(void *, xdg_toplevel *)
{
    Wayland.player.stopRequested = true;
}

static const xdg_toplevel_listener TOPLEVEL_LISTENER = {
    .configure = OnToplevelConfigure,
    .close = OnToplevelClose,
    .configure_bounds = nullptr,   // version 4
    .wm_capabilities = nullptr,    // version 5
};

void MarkScaleChanged(SaverWindow *window)
{
    if (window->configured && WindowScale120(window) != window->laidOutScale120) MarkWindowDirty(window);
}

static void OnPreferredScale(void *data, wp_fractional_scale_v1 *, uint32_t scale120)
{
    SaverWindow *window = (SaverWindow *)data;
    window->scale120 = scale120;
    MarkScaleChanged(window);
}

static const wp_fractional_scale_v1_listener FRACTIONAL_SCALE_LISTENER = {
    .preferred_scale = OnPreferredScale,
};

// The output record of a wl_output; null for one already released, which an
// event can still name.
static WaylandOutput *FindOutput(wl_output *output)
{
    if (!output) return nullptr;
    for (WaylandOutput *known = Wayland.outputs; known; known = known->next)
        if (known->output == output) return known;
    return nullptr;
}

// The own window's scale follows the outputs it is on: those where any of
// its surfaces is.
static void OnSurfaceEnter(void *, wl_surface *, wl_output *output)
{
    WaylandOutput *entered = FindOutput(output);
    if (!entered) return;
    ++entered->ownWindowSurfaces;
    MarkScaleChanged(&Wayland.ownWindow);
}

static void OnSurfaceLeave(void *, wl_surface *, wl_output *output)
{
    WaylandOutput *left = FindOutput(output);
    if (!left || left->ownWindowSurfaces == 0) return;
    --left->ownWindowSurfaces;
    MarkScaleChanged(&Wayland.ownWindow);
}

static const wl_surface_listener SURFACE_LISTENER = {
    .enter = OnSurfaceEnter,
    .leave = OnSurfaceLeave,
};

void CreateSaverWindow(SaverWindow *window, WaylandOutput *fullscreenOutput)
{
    *window = SaverWindow{};
    window->set = -1;
    window->fullscreenOutput = fullscreenOutput;
    window->surface = wl_compositor_create_surface(Wayland.compositor);
    if (!fullscreenOutput) wl_surface_add_listener(window->surface, &SURFACE_LISTENER, window);
    if (Wayland.viewporter) window->viewport = wp_viewporter_get_viewport(Wayland.viewporter, window->surface);
    window->frameSurface = wl_compositor_create_surface(Wayland.compositor);
    if (!fullscreenOutput) wl_surface_add_listener(window->frameSurface, &SURFACE_LISTENER, window);
    window->frameSubsurface =
        wl_subcompositor_get_subsurface(Wayland.subcompositor, window->frameSurface, window->surface);
    wl_subsurface_set_desync(window->frameSubsurface);
    if (Wayland.viewporter)
        window->frameViewport = wp_viewporter_get_viewport(Wayland.viewporter, window->frameSurface);
    if (Wayland.fractionalScaleManager) {
        window->fractionalScale =
            wp_fractional_scale_manager_v1_get_fractional_scale(Wayland.fractionalScaleManager, window->surface);
        wp_fractional_scale_v1_add_listener(window->fractionalScale, &FRACTIONAL_SCALE_LISTENER, window);
    }
    window->xdgSurface = xdg_wm_base_get_xdg_surface(Wayland.wmBase, window->surface);
    xdg_surface_add_listener(window->xdgSurface, &XDG_SURFACE_LISTENER, window);
    window->toplevel = xdg_surface_get_toplevel(window->xdgSurface);
    xdg_toplevel_add_listener(window->toplevel, &TOPLEVEL_LISTENER, window);
    xdg_toplevel_set_title(window->toplevel, "ZEMBLOID");
    xdg_toplevel_set_app_id(window->toplevel, "zembloid");
    if (fullscreenOutput) xdg_toplevel_set_fullscreen(window->toplevel, fullscreenOutput->output);
    wl_surface_commit(window->surface);
}

bool WindowOfSurface(wl_surface *surface, SaverWindow **found, int32_t *x, int32_t *y)
{
    struct Search {
        wl_surface *surface;
        SaverWindow *window;
        int32_t x, y;
    } search = {surface, nullptr, 0, 0};
    EachWindow([](SaverWindow *window, void *data) {
        Search *search = (Search *)data;
        if (window->surface == search->surface) {
            search->window = window;
            if (window->frameOnOwnSurface) {
                search->x = window->frameX;
                search->y = window->frameY;
            }
        }
        for (int i = 0; i < window->tileCount; ++i)
            if (window->tiles[i].surface == search->surface) {
                search->window = window;
                search->x = window->tiles[i].x;
                search->y = window->tiles[i].y;
            }
        if (window->frameSurface == search->surface) {
            search->window = window;
            search->x = window->frameX;
            search->y = window->frameY;
        }
    }, &search);
    *found = search.window;
    *x = search.x;
    *y = search.y;
    return search.window != nullptr;
}

// The frame sets it used are released at the next pass, when no other window
// needs them.
void DestroySaverWindow(SaverWindow *window)
{
    if (!window->surface) return;
    if (Wayland.pointerWindow == window) Wayland.pointerWindow = nullptr;
    if (window->frameCallback) wl_callback_destroy(window->frameCallback);
    if (window->fractionalScale) wp_fractional_scale_v1_destroy(window->fractionalScale);
    DestroyTiles(window);
    if (window->frameViewport) wp_viewport_destroy(window->frameViewport);
    wl_subsurface_destroy(window->frameSubsurface);
    wl_surface_destroy(window->frameSurface);
    if (window->viewport) wp_viewport_destroy(window->viewport);
    xdg_toplevel_destroy(window->toplevel);
    xdg_surface_destroy(window->xdgSurface);
    wl_surface_destroy(window->surface);
    DropBlackBuffer(&window->black);
    DropCutFrames(window);
    *window = SaverWindow{};
    window->set = -1;
    Wayland.layoutDirty = true;
}

// An output whose last frame the compositor has not shown yet (hidden,
// asleep or slow) is passed over, so it costs nothing until it catches up.
static void ShowTickFrame(SaverWindow *window, void *data)
{
    if (window->configured && window->cutFrames[0] && !window->frameCallback)
        ShowFrame(window, *(int *)data);
}

void ShowNextFrames()
{
    int index = PlayerStep(&Wayland.player);
    EachWindow(ShowTickFrame, &index);
}
