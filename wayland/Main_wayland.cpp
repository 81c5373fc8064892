// The Wayland back end: the connection, its globals and outputs, the input
// that ends the full-screen saver, and the shared frame loop.
#include <errno.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "animation/Dib.h"
#include "wayland/Saver_wayland.h"

WaylandSaver Wayland;

// Bound at most at these versions: damage_buffer is wl_compositor 4, release
// is wl_seat, wl_keyboard, wl_pointer and wl_output 3.
static const uint32_t COMPOSITOR_VERSION = 4;
static const uint32_t SEAT_VERSION = 3;
static const uint32_t OUTPUT_VERSION = 3;

static void OnPing(void *, xdg_wm_base *wmBase, uint32_t serial)
{
    xdg_wm_base_pong(wmBase, serial);
}

static const xdg_wm_base_listener WM_BASE_LISTENER = {OnPing};

// Outputs

static void OnOutputGeometry(void *, wl_output *, int32_t, int32_t, int32_t, int32_t, int32_t,
                             const char *, const char *, int32_t)
{
}

static void OnOutputMode(void *, wl_output *, uint32_t, int32_t, int32_t, int32_t)
{
}

// A new scale takes effect with the output's next done, as a new layout of
// the windows on that output.
static void OnOutputDone(void *data, wl_output *)
{
    WaylandOutput *output = (WaylandOutput *)data;
    if (output->pendingScale == output->scale) return;
    output->scale = output->pendingScale;
    if (output->window.configured) ArrangeSaverWindow(&output->window);
    if (Wayland.ownWindow.configured && Wayland.ownWindow.output == output) ArrangeSaverWindow(&Wayland.ownWindow);
}

static void OnOutputScale(void *data, wl_output *, int32_t scale)
{
    ((WaylandOutput *)data)->pendingScale = scale;
}

// Each listener table ends with nulls for the events of versions not bound.
static const wl_output_listener OUTPUT_LISTENER = {OnOutputGeometry, OnOutputMode, OnOutputDone,
                                                   OnOutputScale, nullptr, nullptr};

static void AddOutput(uint32_t name, uint32_t version)
{
    for (WaylandOutput &output : Wayland.outputs) {
        if (output.output) continue;
        output = WaylandOutput{};
        output.globalName = name;
        output.scale = output.pendingScale = 1;
        output.output = (wl_output *)wl_registry_bind(Wayland.registry, name, &wl_output_interface,
                                                      version < OUTPUT_VERSION ? version : OUTPUT_VERSION);
        wl_output_add_listener(output.output, &OUTPUT_LISTENER, &output);
        if (Wayland.started && Wayland.options.fullscreen) CreateSaverWindow(&output.window, &output);
        return;
    }
}

static void RemoveOutput(WaylandOutput *output)
{
    DestroySaverWindow(&output->window);
    if (Wayland.ownWindow.output == output) Wayland.ownWindow.output = nullptr;
    if (wl_output_get_version(output->output) >= 3)
        wl_output_release(output->output);
    else
        wl_output_destroy(output->output);
    *output = WaylandOutput{};
}

// Input. The keyboard ends the saver in either mode; the pointer only the
// full-screen saver, which also hides it.

static void OnKeymap(void *, wl_keyboard *, uint32_t, int32_t fd, uint32_t)
{
    close(fd);
}

static void OnKeyboardEnter(void *, wl_keyboard *, uint32_t, wl_surface *, wl_array *)
{
}

static void OnKeyboardLeave(void *, wl_keyboard *, uint32_t, wl_surface *)
{
}

static void OnKey(void *, wl_keyboard *, uint32_t, uint32_t, uint32_t, uint32_t state)
{
    if (state == WL_KEYBOARD_KEY_STATE_PRESSED) Wayland.stopRequested = true;
}

static void OnModifiers(void *, wl_keyboard *, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t)
{
}

static const wl_keyboard_listener KEYBOARD_LISTENER = {OnKeymap, OnKeyboardEnter, OnKeyboardLeave,
                                                       OnKey, OnModifiers, nullptr};

// The pointer rule reads surface-local logical coordinates, the ones
// wl_pointer reports: one logical pixel is one pixel of pointer travel at any
// output scale, as the Windows saver counts in desktop pixels. Each output has
// a surface of its own and no coordinates relate two of them, so where the
// pointer enters another output's surface the baseline starts again there.
static void WatchPointer(wl_surface *surface, wl_fixed_t x, wl_fixed_t y)
{
    if (surface != Wayland.pointerSurface) {
        Wayland.pointerSurface = surface;
        Wayland.pointerWatch = PointerWatch{};
    }
    if (PointerTravelWakes(&Wayland.pointerWatch, wl_fixed_to_int(x), wl_fixed_to_int(y)))
        Wayland.stopRequested = true;
}

static void OnPointerEnter(void *, wl_pointer *pointer, uint32_t serial, wl_surface *surface,
                           wl_fixed_t x, wl_fixed_t y)
{
    wl_pointer_set_cursor(pointer, serial, nullptr, 0, 0);
    WatchPointer(surface, x, y);
}

static void OnPointerLeave(void *, wl_pointer *, uint32_t, wl_surface *)
{
}

static void OnPointerMotion(void *, wl_pointer *, uint32_t, wl_fixed_t x, wl_fixed_t y)
{
    WatchPointer(Wayland.pointerSurface, x, y);
}

static void OnButton(void *, wl_pointer *, uint32_t, uint32_t, uint32_t, uint32_t state)
{
    if (state == WL_POINTER_BUTTON_STATE_PRESSED) Wayland.stopRequested = true;
}

static void OnAxis(void *, wl_pointer *, uint32_t, uint32_t, wl_fixed_t)
{
}

static const wl_pointer_listener POINTER_LISTENER = {OnPointerEnter, OnPointerLeave, OnPointerMotion,
                                                     OnButton, OnAxis, nullptr, nullptr,
                                                     nullptr, nullptr, nullptr};

// Devices come and go with the seat's capabilities.
static void OnCapabilities(void *, wl_seat *seat, uint32_t capabilities)
{
    bool keyboard = capabilities & WL_SEAT_CAPABILITY_KEYBOARD;
    bool pointer = (capabilities & WL_SEAT_CAPABILITY_POINTER) && Wayland.options.fullscreen;
    if (keyboard && !Wayland.keyboard) {
        Wayland.keyboard = wl_seat_get_keyboard(seat);
        wl_keyboard_add_listener(Wayland.keyboard, &KEYBOARD_LISTENER, nullptr);
    } else if (!keyboard && Wayland.keyboard) {
        wl_keyboard_release(Wayland.keyboard);
        Wayland.keyboard = nullptr;
    }
    if (pointer && !Wayland.pointer) {
        Wayland.pointer = wl_seat_get_pointer(seat);
        wl_pointer_add_listener(Wayland.pointer, &POINTER_LISTENER, nullptr);
    } else if (!pointer && Wayland.pointer) {
        wl_pointer_release(Wayland.pointer);
        Wayland.pointer = nullptr;
    }
}

static void OnSeatName(void *, wl_seat *, const char *)
{
}

static const wl_seat_listener SEAT_LISTENER = {OnCapabilities, OnSeatName};

// Globals

static void *Bind(uint32_t name, const wl_interface *interface, uint32_t version, uint32_t highest)
{
    return wl_registry_bind(Wayland.registry, name, interface, version < highest ? version : highest);
}

static void OnGlobal(void *, wl_registry *, uint32_t name, const char *interface, uint32_t version)
{
    if (strcmp(interface, wl_compositor_interface.name) == 0 && version >= COMPOSITOR_VERSION) {
        Wayland.compositor = (wl_compositor *)Bind(name, &wl_compositor_interface, version, COMPOSITOR_VERSION);
    } else if (strcmp(interface, wl_subcompositor_interface.name) == 0) {
        Wayland.subcompositor = (wl_subcompositor *)Bind(name, &wl_subcompositor_interface, version, 1);
    } else if (strcmp(interface, wl_shm_interface.name) == 0) {
        Wayland.shm = (wl_shm *)Bind(name, &wl_shm_interface, version, 1);
    } else if (strcmp(interface, xdg_wm_base_interface.name) == 0) {
        Wayland.wmBase = (xdg_wm_base *)Bind(name, &xdg_wm_base_interface, version, 1);
        xdg_wm_base_add_listener(Wayland.wmBase, &WM_BASE_LISTENER, nullptr);
    } else if (strcmp(interface, wp_viewporter_interface.name) == 0) {
        Wayland.viewporter = (wp_viewporter *)Bind(name, &wp_viewporter_interface, version, 1);
    } else if (strcmp(interface, wp_fractional_scale_manager_v1_interface.name) == 0) {
        Wayland.fractionalScaleManager = (wp_fractional_scale_manager_v1 *)Bind(
            name, &wp_fractional_scale_manager_v1_interface, version, 1);
    } else if (strcmp(interface, wl_seat_interface.name) == 0 && !Wayland.seat) {
        Wayland.seat = (wl_seat *)Bind(name, &wl_seat_interface, version, SEAT_VERSION);
        wl_seat_add_listener(Wayland.seat, &SEAT_LISTENER, nullptr);
    } else if (strcmp(interface, wl_output_interface.name) == 0 && version >= 2) {
        AddOutput(name, version);
    }
}

static void OnGlobalRemove(void *, wl_registry *, uint32_t name)
{
    for (WaylandOutput &output : Wayland.outputs)
        if (output.output && output.globalName == name) RemoveOutput(&output);
}

static const wl_registry_listener REGISTRY_LISTENER = {OnGlobal, OnGlobalRemove};

// The frame loop's hooks

static bool Stopping()
{
    return Wayland.stopRequested || Wayland.failed;
}

// libwayland's own messages (a protocol error's text among them) are kept,
// not printed, so that a failure is one line on stderr.
static char LibraryMessage[256];

static void KeepLibraryMessage(const char *format, va_list arguments)
{
    vsnprintf(LibraryMessage, sizeof LibraryMessage, format, arguments);
    LibraryMessage[strcspn(LibraryMessage, "\n")] = '\0';
}

static void ReportConnectionError()
{
    if (Wayland.failed) return;
    Wayland.failed = true;
    int error = wl_display_get_error(Wayland.display);
    if (error == EPROTO)
        fprintf(stderr, "zembloid: Wayland protocol error: %s\n", LibraryMessage);
    else
        fprintf(stderr, "zembloid: Wayland connection lost: %s\n", strerror(error ? error : EPIPE));
}

// Dispatches what is queued, then announces the wait for more and sends what
// is pending; a full socket keeps the rest for the next pass.
static void PrepareRead()
{
    while (wl_display_prepare_read(Wayland.display) != 0)
        if (wl_display_dispatch_pending(Wayland.display) < 0) {
            ReportConnectionError();
            return;
        }
    Wayland.readPrepared = true;
    if (wl_display_flush(Wayland.display) < 0 && errno != EAGAIN) ReportConnectionError();
}

static void ReadEvents(bool readable)
{
    if (!Wayland.readPrepared) return;
    Wayland.readPrepared = false;
    if (readable) {
        if (wl_display_read_events(Wayland.display) < 0) {
            ReportConnectionError();
            return;
        }
    } else {
        wl_display_cancel_read(Wayland.display);
    }
    if (wl_display_dispatch_pending(Wayland.display) < 0) ReportConnectionError();
}

// Start and end

static bool ReadFrames()
{
    if (!ReadFrameDibs(Wayland.dibs)) return false;
    FrameColours(Wayland.dibs[0], Wayland.colours);
    Wayland.frameWidth = DibWidth(Wayland.dibs[0]);
    Wayland.frameHeight = DibHeight(Wayland.dibs[0]);
    Wayland.direction = +1;
    return true;
}

// The globals, then the outputs' first scales, before any window is made.
static bool ReadGlobals()
{
    Wayland.registry = wl_display_get_registry(Wayland.display);
    wl_registry_add_listener(Wayland.registry, &REGISTRY_LISTENER, nullptr);
    if (wl_display_roundtrip(Wayland.display) < 0 || wl_display_roundtrip(Wayland.display) < 0) {
        ReportConnectionError();
        return false;
    }
    if (!Wayland.wmBase) {
        fprintf(stderr, "zembloid: the Wayland compositor offers no xdg_wm_base\n");
        return false;
    }
    if (!Wayland.compositor || !Wayland.subcompositor || !Wayland.shm) {
        fprintf(stderr, "zembloid: the Wayland compositor lacks wl_compositor 4, wl_subcompositor or wl_shm\n");
        return false;
    }
    return true;
}

static void CloseAll()
{
    if (Wayland.readPrepared) wl_display_cancel_read(Wayland.display);
    DestroySaverWindow(&Wayland.ownWindow);
    for (WaylandOutput &output : Wayland.outputs)
        if (output.output) RemoveOutput(&output);
    ReleaseFrameSets();
    if (Wayland.pointer) wl_pointer_release(Wayland.pointer);
    if (Wayland.keyboard) wl_keyboard_release(Wayland.keyboard);
    if (Wayland.seat) wl_seat_destroy(Wayland.seat);
    if (Wayland.fractionalScaleManager) wp_fractional_scale_manager_v1_destroy(Wayland.fractionalScaleManager);
    if (Wayland.viewporter) wp_viewporter_destroy(Wayland.viewporter);
    if (Wayland.wmBase) xdg_wm_base_destroy(Wayland.wmBase);
    if (Wayland.shm) wl_shm_destroy(Wayland.shm);
    if (Wayland.subcompositor) wl_subcompositor_destroy(Wayland.subcompositor);
    if (Wayland.compositor) wl_compositor_destroy(Wayland.compositor);
    if (Wayland.registry) wl_registry_destroy(Wayland.registry);
    wl_display_flush(Wayland.display);
    wl_display_disconnect(Wayland.display);
}

int RunWayland(const SaverOptions &options)
{
    const char *socketName = getenv("WAYLAND_DISPLAY");
    if (!socketName || !*socketName) return -1;
    Wayland.options = options;
    wl_log_set_handler_client(KeepLibraryMessage);
    Wayland.display = wl_display_connect(nullptr);
    if (!Wayland.display) return -1;
    InstallStopSignals();
    bool ready = ReadFrames() && ReadGlobals();
    if (ready) {
        Wayland.started = true;
        if (options.fullscreen) {
            for (WaylandOutput &output : Wayland.outputs)
                if (output.output) CreateSaverWindow(&output.window, &output);
        } else {
            CreateSaverWindow(&Wayland.ownWindow, nullptr);
        }
        DisplayLoop loop = {wl_display_get_fd(Wayland.display), PrepareRead, ReadEvents, ShowNextFrames,
                            Stopping};
        RunDisplayLoop(loop, options.redrawSpeed);
    }
    CloseAll();
    return ready && !Wayland.failed ? 0 : 1;
}
