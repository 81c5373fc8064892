// The windows on Wayland and their frames: each toplevel is laid out at its
// output's scale in physical pixels, the ten frames of each scale in use are
// wl_shm buffers made once, and each tick attaches one of them per window.
#include <stdint.h>
#include <stdio.h>
#include <sys/mman.h>
#include <unistd.h>

#include "wayland/Saver_wayland.h"

static const uint32_t WHOLE_SCALE = 120;   // wp_fractional_scale_v1 counts in 120ths

// a / b rounded to the nearest, halves up, for a >= 0 and b > 0.
static int RoundedDivision(int64_t a, int64_t b)
{
    return (int)((2 * a + b) / (2 * b));
}

// The physical pixel edge of logical coordinate `logical` at `scale120`,
// rounded to the nearest as compositors map surface edges, and its inverse.
static int PhysicalEdge(int logical, uint32_t scale120)
{
    return RoundedDivision((int64_t)logical * scale120, WHOLE_SCALE);
}

static int NearestLogical(int physical, uint32_t scale120)
{
    return RoundedDivision((int64_t)physical * WHOLE_SCALE, scale120);
}

// One axis of the frame subsurface in logical coordinates, where it starts
// and how long it is, and the run of buffer pixels it shows: one buffer pixel
// per physical pixel.
struct Span {
    int logical, logicalLength;
    int source, sourceLength;
};

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

// The frame's part that shows, `length` physical pixels from `start` in a
// window `size` physical pixels long, as CentreFrameCopy places it. A
// subsurface edge sits on a logical coordinate, so the frame's ends must fall
// on physical edges that logical coordinates reach: a start a few logical
// pixels off the centre that puts both ends on such edges where one does (at
// a whole-number scale the nearest start does whenever the scale divides the
// length); else the edges just inside the frame, which leaves off about
// a logical pixel's worth at either end rather than have the compositor
// stretch it.
static Span MapSpan(int start, int length, int size, uint32_t scale120)
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
    int from = PhysicalEdge(first, scale120), to = PhysicalEdge(last, scale120);
    return Span{first, last - first, from - start, to - from};
}

// The window's scale in 120ths: the compositor's preferred fractional scale
// where it tells one and a viewport can carry it, else its output's
// whole-number scale.
static uint32_t WindowScale120(const SaverWindow *window)
{
    if (window->scale120 && Wayland.viewporter) return window->scale120;
    int32_t scale = window->output && window->output->scale > 0 ? window->output->scale : 1;
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
    return RoundedDivision((int64_t)STANDARD_DPI * scale120, WHOLE_SCALE);
}

// A buffer of black pixels: a fresh memfd reads as zeros, which is black in
// XRGB8888, so it is never mapped or written here.
static wl_buffer *BlackBuffer(int width, int height)
{
    int fd = memfd_create("zembloid-black", MFD_CLOEXEC);
    if (fd < 0) return nullptr;
    int32_t stride = width * 4;
    if (ftruncate(fd, (off_t)stride * height) != 0) {
        close(fd);
        return nullptr;
    }
    wl_shm_pool *pool = wl_shm_create_pool(Wayland.shm, fd, stride * height);
    wl_buffer *buffer =
        wl_shm_pool_create_buffer(pool, 0, width, height, stride, WL_SHM_FORMAT_XRGB8888);
    wl_shm_pool_destroy(pool);
    close(fd);
    return buffer;
}

// The ten frames enlarged `scale` times in one memfd pool. The pixels are
// written once; the mapping is dropped straight after, as the compositor
// reads them through its own. The pool stays for the windows that show a
// frame cut at their edges (see CutFrames).
static bool BuildFrameSet(int slot, int scale)
{
    FrameSet &set = Wayland.sets[slot];
    set.width = Wayland.frameWidth * scale;
    set.height = Wayland.frameHeight * scale;
    set.stride = set.width * 4;
    set.frameBytes = (size_t)set.stride * set.height;
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
        fprintf(stderr, "zembloid: no memory for the frames at %dx\n", scale);
        close(fd);
        return false;
    }
    for (int i = 0; i < FRAME_COUNT; ++i)
        ExpandFrame(Wayland.dibs[i], scale, Wayland.colours,
                    (uint32_t *)((char *)pixels + i * set.frameBytes), set.width);
    munmap(pixels, size);
    set.pool = wl_shm_create_pool(Wayland.shm, fd, (int32_t)size);
    close(fd);
    for (int i = 0; i < FRAME_COUNT; ++i)
        set.buffers[i] = wl_shm_pool_create_buffer(set.pool, (int32_t)(i * set.frameBytes), set.width,
                                                   set.height, set.stride, WL_SHM_FORMAT_XRGB8888);
    return true;
}

static void ReleaseFrameSet(int slot)
{
    FrameSet &set = Wayland.sets[slot];
    for (wl_buffer *&buffer : set.buffers) {
        if (buffer) wl_buffer_destroy(buffer);
        buffer = nullptr;
    }
    if (set.pool) wl_shm_pool_destroy(set.pool);
    set.pool = nullptr;
}

void ReleaseFrameSets()
{
    for (int slot = 0; slot < MONITOR_LIMIT; ++slot)
        if (Wayland.scaleSets.scale[slot]) ReleaseFrameSet(slot);
    Wayland.scaleSets = ScaleSets{};
}

// Every window laid out so far, in one list.
static int LaidOutWindows(SaverWindow **windows)
{
    int count = 0;
    if (Wayland.ownWindow.configured) windows[count++] = &Wayland.ownWindow;
    for (WaylandOutput &output : Wayland.outputs)
        if (output.output && output.window.configured) windows[count++] = &output.window;
    return count;
}

// After a layout changes: one frame set per scale the windows use.
static void SyncFrameSets()
{
    SaverWindow *windows[MONITOR_LIMIT + 1];
    FramePlacement placements[MONITOR_LIMIT + 1] = {};
    int slots[MONITOR_LIMIT + 1];
    int count = LaidOutWindows(windows);
    for (int i = 0; i < count; ++i) placements[i] = windows[i]->placement;
    SyncScaleSets(&Wayland.scaleSets, placements, count, slots, BuildFrameSet, ReleaseFrameSet);
    for (int i = 0; i < count; ++i) windows[i]->set = slots[i];
}

static void OnFrameShown(void *data, wl_callback *callback, uint32_t)
{
    SaverWindow *window = (SaverWindow *)data;
    wl_callback_destroy(callback);
    window->frameCallback = nullptr;
}

static const wl_callback_listener FRAME_LISTENER = {OnFrameShown};

// One attach, damage and commit of the frame surface, asking to be told when
// the compositor shows it.
static void ShowFrame(SaverWindow *window, int index)
{
    wl_buffer *const *frames = window->cutFrames[0] ? window->cutFrames : Wayland.sets[window->set].buffers;
    wl_surface_attach(window->frameSurface, frames[index], 0, 0);
    wl_surface_damage_buffer(window->frameSurface, 0, 0, INT32_MAX, INT32_MAX);
    if (!window->frameCallback) {
        window->frameCallback = wl_surface_frame(window->frameSurface);
        wl_callback_add_listener(window->frameCallback, &FRAME_LISTENER, window);
    }
    wl_surface_commit(window->frameSurface);
}

static void DropCutFrames(SaverWindow *window)
{
    for (wl_buffer *&buffer : window->cutFrames) {
        if (buffer) wl_buffer_destroy(buffer);
        buffer = nullptr;
    }
}

// Where the frame is larger than the window, buffers of the part that shows:
// views into the set's pool, starting inside each frame and keeping its row
// stride, so nothing is copied and the subsurface never reaches past the
// window (a viewport's crop would do the same, but not every compositor's
// renderer honours its offset).
static void CutFrames(SaverWindow *window, const FrameCopy &copy)
{
    const FrameSet &set = Wayland.sets[window->set];
    DropCutFrames(window);
    if (copy.width == set.width && copy.height == set.height) return;
    size_t corner = (size_t)copy.sourceY * set.stride + (size_t)copy.sourceX * 4;
    for (int i = 0; i < FRAME_COUNT; ++i)
        window->cutFrames[i] =
            wl_shm_pool_create_buffer(set.pool, (int32_t)(i * set.frameBytes + corner), copy.width,
                                      copy.height, set.stride, WL_SHM_FORMAT_XRGB8888);
}

// The frame subsurface, centred on the window and cut at its edges. At a
// whole-number scale that divides the frame's size the buffer carries the
// scale itself; otherwise a viewport maps its buffer pixels one to one onto
// physical pixels.
static void PlaceFrameSurface(SaverWindow *window, uint32_t scale120, int physicalWidth,
                              int physicalHeight)
{
    FrameCopy copy = CentreFrameCopy(window->placement, Wayland.frameWidth, Wayland.frameHeight,
                                     window->placement.scale);
    CutFrames(window, copy);
    int32_t whole = (int32_t)(scale120 / WHOLE_SCALE);
    bool divisible = !FractionalLayout(scale120) && copy.width % whole == 0 && copy.height % whole == 0;
    if (!divisible && window->frameViewport) {
        Span across = MapSpan(copy.x, copy.width, physicalWidth, scale120);
        Span down = MapSpan(copy.y, copy.height, physicalHeight, scale120);
        wl_surface_set_buffer_scale(window->frameSurface, 1);
        wp_viewport_set_source(window->frameViewport, wl_fixed_from_int(across.source),
                               wl_fixed_from_int(down.source), wl_fixed_from_int(across.sourceLength),
                               wl_fixed_from_int(down.sourceLength));
        wp_viewport_set_destination(window->frameViewport, across.logicalLength, down.logicalLength);
        wl_subsurface_set_position(window->subsurface, across.logical, down.logical);
    } else {
        int32_t bufferScale = divisible ? whole : 1;
        wl_surface_set_buffer_scale(window->frameSurface, bufferScale);
        if (window->frameViewport) {
            wl_fixed_t unset = wl_fixed_from_int(-1);
            wp_viewport_set_source(window->frameViewport, unset, unset, unset, unset);
            wp_viewport_set_destination(window->frameViewport, -1, -1);
        }
        wl_subsurface_set_position(window->subsurface, copy.x / bufferScale, copy.y / bufferScale);
    }
    ShowFrame(window, Wayland.shownIndex);
}

// The black window surface, its buffer at the physical size: with a
// fractional scale buffer scale 1 and a viewport back to the logical size,
// else the whole-number buffer scale.
static void PlaceBackground(SaverWindow *window, uint32_t scale120, int physicalWidth,
                            int physicalHeight)
{
    if (physicalWidth != window->backgroundWidth || physicalHeight != window->backgroundHeight) {
        if (window->background) wl_buffer_destroy(window->background);
        window->background = BlackBuffer(physicalWidth, physicalHeight);
        window->backgroundWidth = physicalWidth;
        window->backgroundHeight = physicalHeight;
    }
    bool fractional = FractionalLayout(scale120);
    wl_surface_set_buffer_scale(window->surface, fractional ? 1 : (int32_t)(scale120 / WHOLE_SCALE));
    if (window->viewport)
        wp_viewport_set_destination(window->viewport, fractional ? window->width : -1,
                                    fractional ? window->height : -1);
    wl_surface_attach(window->surface, window->background, 0, 0);
    wl_surface_damage_buffer(window->surface, 0, 0, INT32_MAX, INT32_MAX);
    wl_surface_commit(window->surface);
}

// The logical size of a window that the compositor leaves to the client: the
// enlarged frame's.
static void DefaultSize(SaverWindow *window)
{
    uint32_t scale120 = WindowScale120(window);
    const int UNBOUNDED = 1 << 20;
    int k = ChosenScale(Wayland.options.forcedScale, ScaleDpi(scale120), Wayland.frameWidth,
                        Wayland.frameHeight, UNBOUNDED, UNBOUNDED);
    window->width = NearestLogical(Wayland.frameWidth * k, scale120);
    window->height = NearestLogical(Wayland.frameHeight * k, scale120);
}

// At the first configure and at each change of size or scale: the frame's
// scale from the window's physical size and DPI with the fit rule, then the
// frame and the background at that size. A window whose frames could not be
// made stays black.
void ArrangeSaverWindow(SaverWindow *window)
{
    uint32_t scale120 = WindowScale120(window);
    window->laidOutScale120 = scale120;
    int physicalWidth = PhysicalEdge(window->width, scale120);
    int physicalHeight = PhysicalEdge(window->height, scale120);
    MonitorArea monitor = {{0, 0, physicalWidth, physicalHeight}, ScaleDpi(scale120)};
    ScreenRect area = monitor.area;
    LayOutScaledFrames(&monitor, 1, area, Wayland.frameWidth, Wayland.frameHeight,
                       Wayland.options.forcedScale, &window->placement);
    window->configured = true;
    SyncFrameSets();
    if (window->set >= 0) {
        PlaceFrameSurface(window, scale120, physicalWidth, physicalHeight);
    } else {
        DropCutFrames(window);
        wl_surface_attach(window->frameSurface, nullptr, 0, 0);
        wl_surface_commit(window->frameSurface);
    }
    xdg_surface_set_window_geometry(window->xdgSurface, 0, 0, window->width, window->height);
    PlaceBackground(window, scale120, physicalWidth, physicalHeight);
}

static void OnConfigure(void *data, xdg_surface *xdgSurface, uint32_t serial)
{
    SaverWindow *window = (SaverWindow *)data;
    xdg_surface_ack_configure(xdgSurface, serial);
    int32_t width = window->width, height = window->height;
    window->width = window->pendingWidth;
    window->height = window->pendingHeight;
    if (window->width <= 0 || window->height <= 0) DefaultSize(window);
    if (!window->configured || window->width != width || window->height != height ||
        WindowScale120(window) != window->laidOutScale120)
        ArrangeSaverWindow(window);
}

static const xdg_surface_listener XDG_SURFACE_LISTENER = {OnConfigure};

static void OnToplevelConfigure(void *data, xdg_toplevel *, int32_t width, int32_t height, wl_array *)
{
    SaverWindow *window = (SaverWindow *)data;
    window->pendingWidth = width;
    window->pendingHeight = height;
}

static void OnToplevelClose(void *, xdg_toplevel *)
{
    Wayland.stopRequested = true;
}

static const xdg_toplevel_listener TOPLEVEL_LISTENER = {OnToplevelConfigure, OnToplevelClose,
                                                        nullptr, nullptr};   // versions 4 and 5

static void OnPreferredScale(void *data, wp_fractional_scale_v1 *, uint32_t scale120)
{
    SaverWindow *window = (SaverWindow *)data;
    window->scale120 = scale120;
    if (window->configured && WindowScale120(window) != window->laidOutScale120) ArrangeSaverWindow(window);
}

static const wp_fractional_scale_v1_listener FRACTIONAL_SCALE_LISTENER = {OnPreferredScale};

static WaylandOutput *FindOutput(wl_output *output)
{
    for (WaylandOutput &known : Wayland.outputs)
        if (known.output == output) return &known;
    return nullptr;
}

// The own window takes the whole-number scale of the output it shows on.
static void OnSurfaceEnter(void *data, wl_surface *, wl_output *output)
{
    SaverWindow *window = (SaverWindow *)data;
    WaylandOutput *entered = FindOutput(output);
    if (!entered || entered == window->output) return;
    window->output = entered;
    if (window->configured && WindowScale120(window) != window->laidOutScale120) ArrangeSaverWindow(window);
}

static void OnSurfaceLeave(void *, wl_surface *, wl_output *)
{
}

static const wl_surface_listener SURFACE_LISTENER = {OnSurfaceEnter, OnSurfaceLeave};

void CreateSaverWindow(SaverWindow *window, WaylandOutput *fullscreenOutput)
{
    *window = SaverWindow{};
    window->set = -1;
    window->output = fullscreenOutput;
    window->surface = wl_compositor_create_surface(Wayland.compositor);
    if (!fullscreenOutput) wl_surface_add_listener(window->surface, &SURFACE_LISTENER, window);
    window->frameSurface = wl_compositor_create_surface(Wayland.compositor);
    window->subsurface =
        wl_subcompositor_get_subsurface(Wayland.subcompositor, window->frameSurface, window->surface);
    // Each tick commits the frame surface alone, without its parent; the
    // pointer always meets the window surface, whose coordinates the pointer
    // rule reads.
    wl_subsurface_set_desync(window->subsurface);
    wl_region *nowhere = wl_compositor_create_region(Wayland.compositor);
    wl_surface_set_input_region(window->frameSurface, nowhere);
    wl_region_destroy(nowhere);
    if (Wayland.viewporter) {
        window->viewport = wp_viewporter_get_viewport(Wayland.viewporter, window->surface);
        window->frameViewport = wp_viewporter_get_viewport(Wayland.viewporter, window->frameSurface);
    }
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

void DestroySaverWindow(SaverWindow *window)
{
    if (!window->surface) return;
    if (window->frameCallback) wl_callback_destroy(window->frameCallback);
    if (window->fractionalScale) wp_fractional_scale_v1_destroy(window->fractionalScale);
    if (window->frameViewport) wp_viewport_destroy(window->frameViewport);
    if (window->viewport) wp_viewport_destroy(window->viewport);
    xdg_toplevel_destroy(window->toplevel);
    xdg_surface_destroy(window->xdgSurface);
    wl_subsurface_destroy(window->subsurface);
    wl_surface_destroy(window->frameSurface);
    wl_surface_destroy(window->surface);
    if (window->background) wl_buffer_destroy(window->background);
    DropCutFrames(window);
    *window = SaverWindow{};
    window->set = -1;
    SyncFrameSets();
}

// An output whose last frame the compositor has not shown yet (hidden,
// asleep or slow) is passed over, so it costs nothing until it catches up.
void ShowNextFrames()
{
    SaverWindow *windows[MONITOR_LIMIT + 1];
    int count = LaidOutWindows(windows);
    for (int i = 0; i < count; ++i)
        if (windows[i]->set >= 0 && !windows[i]->frameCallback) ShowFrame(windows[i], Wayland.frameIndex);
    Wayland.shownIndex = Wayland.frameIndex;
    StepFrame(&Wayland.frameIndex, &Wayland.direction);
}
