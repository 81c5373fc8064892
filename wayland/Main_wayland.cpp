// The Wayland back end: the connection, its globals and outputs, the input
// that ends the full-screen saver, and the shared frame loop.
#include <errno.h>
#include <poll.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "animation/Dib.h"
#include "wayland/Events_wayland.h"
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

static const xdg_wm_base_listener WM_BASE_LISTENER = {.ping = OnPing};

// Outputs

static void OnOutputGeometry(void *, wl_output *, int32_t, int32_t, int32_t, int32_t, int32_t,
                             const char *, const char *, int32_t)
{
}

static void OnOutputMode(void *data, wl_output *, uint32_t flags, int32_t width, int32_t height, int32_t)
{
    WaylandOutput *output = (WaylandOutput *)data;
    if (!(flags & WL_OUTPUT_MODE_CURRENT)) return;
    output->modeWidth = width;
    output->modeHeight = height;
}

// A new scale takes effect with the output's next done, as a new layout of
// the windows on that output.
static void OnOutputDone(void *data, wl_output *)
{
    WaylandOutput *output = (WaylandOutput *)data;
    if (output->pendingScale == output->scale) return;
    output->scale = output->pendingScale;
    MarkScaleChanged(&output->window);
    MarkScaleChanged(&Wayland.ownWindow);
}

static void OnOutputScale(void *data, wl_output *, int32_t scale)
{
    ((WaylandOutput *)data)->pendingScale = scale;
}

// The events of versions not bound stay null, here and in the other tables.
static const wl_output_listener OUTPUT_LISTENER = {
    .geometry = OnOutputGeometry,
    .mode = OnOutputMode,
    .done = OnOutputDone,
    .scale = OnOutputScale,
    .name = nullptr,          // version 4
    .description = nullptr,   // version 4
};

// With -fullscreen each output gets a window of its own as it comes, however
// many there are.
static void AddOutput(uint32_t name, uint32_t version)
{
    WaylandOutput *output = (WaylandOutput *)calloc(1, sizeof *output);
    if (!output) return;
    output->globalName = name;
    output->scale = output->pendingScale = 1;
    output->output = (wl_output *)wl_registry_bind(Wayland.registry, name, &wl_output_interface,
                                                   version < OUTPUT_VERSION ? version : OUTPUT_VERSION);
    wl_output_add_listener(output->output, &OUTPUT_LISTENER, output);
    output->next = Wayland.outputs;
    Wayland.outputs = output;
    if (Wayland.started && Wayland.options.fullscreen) CreateSaverWindow(&output->window, output);
}

// Its window goes with it, and the own window's scale no longer counts it.
static void RemoveOutput(WaylandOutput **link)
{
    WaylandOutput *output = *link;
    *link = output->next;
    DestroySaverWindow(&output->window);
    if (wl_output_get_version(output->output) >= 3)
        wl_output_release(output->output);
    else
        wl_output_destroy(output->output);
    free(output);
    MarkScaleChanged(&Wayland.ownWindow);
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
    if (state == WL_KEYBOARD_KEY_STATE_PRESSED) Wayland.player.stopRequested = true;
}

static void OnModifiers(void *, wl_keyboard *, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t)
{
}

static const wl_keyboard_listener KEYBOARD_LISTENER = {
    .keymap = OnKeymap,
    .enter = OnKeyboardEnter,
    .leave = OnKeyboardLeave,
    .key = OnKey,
    .modifiers = OnModifiers,
    .repeat_info = nullptr,   // version 4
};

// The pointer rule reads logical coordinates, the ones wl_pointer reports,
// each surface's own moved to its window's: one logical pixel is one pixel of
// pointer travel at any output scale, as the Windows saver counts in desktop
// pixels. Each output has a window of its own and no coordinates relate two
// of them, so where the pointer enters another window the baseline starts
// again there; crossing from the frame to the black of the same window
// keeps it.
static void OnPointerEnter(void *, wl_pointer *pointer, uint32_t serial, wl_surface *surface,
                           wl_fixed_t x, wl_fixed_t y)
{
    wl_pointer_set_cursor(pointer, serial, nullptr, 0, 0);
    SaverWindow *window;
    if (!WindowOfSurface(surface, &window, &Wayland.pointerX, &Wayland.pointerY)) return;
    if (window != Wayland.pointerWindow) {
        Wayland.pointerWindow = window;
        Wayland.pointerWatch = PointerWatch{};
    }
    if (PointerTravelWakes(&Wayland.pointerWatch, wl_fixed_to_int(x) + Wayland.pointerX,
                           wl_fixed_to_int(y) + Wayland.pointerY))
        Wayland.player.stopRequested = true;
}

static void OnPointerLeave(void *, wl_pointer *, uint32_t, wl_surface *)
{
}

static void OnPointerMotion(void *, wl_pointer *, uint32_t, wl_fixed_t x, wl_fixed_t y)
{
    if (Wayland.pointerWindow &&
        PointerTravelWakes(&Wayland.pointerWatch, wl_fixed_to_int(x) + Wayland.pointerX,
                           wl_fixed_to_int(y) + Wayland.pointerY))
        Wayland.player.stopRequested = true;
}

static void OnButton(void *, wl_pointer *, uint32_t, uint32_t, uint32_t, uint32_t state)
{
    if (state == WL_POINTER_BUTTON_STATE_PRESSED) Wayland.player.stopRequested = true;
}

static void OnAxis(void *, wl_pointer *, uint32_t, uint32_t, wl_fixed_t)
{
}

static const wl_pointer_listener POINTER_LISTENER = {
    .enter = OnPointerEnter,
    .leave = OnPointerLeave,
    .motion = OnPointerMotion,
    .button = OnButton,
    .axis = OnAxis,
    // versions 5 to 8
    .frame = nullptr,
    .axis_source = nullptr,
    .axis_stop = nullptr,
    .axis_discrete = nullptr,
    .axis_value120 = nullptr,
};

// wl_keyboard and wl_pointer have a release request from version 3 of the
// seat; below it they can only be destroyed on this side.
static void ReleaseKeyboard()
{
    if (wl_keyboard_get_version(Wayland.keyboard) >= WL_KEYBOARD_RELEASE_SINCE_VERSION)
        wl_keyboard_release(Wayland.keyboard);
    else
        wl_keyboard_destroy(Wayland.keyboard);
    Wayland.keyboard = nullptr;
}

static void ReleasePointer()
{
    if (wl_pointer_get_version(Wayland.pointer) >= WL_POINTER_RELEASE_SINCE_VERSION)
        wl_pointer_release(Wayland.pointer);
    else
        wl_pointer_destroy(Wayland.pointer);
    Wayland.pointer = nullptr;
    Wayland.pointerWindow = nullptr;
}

// Devices come and go with the seat's capabilities.
static void OnCapabilities(void *, wl_seat *seat, uint32_t capabilities)
{
    bool keyboard = capabilities & WL_SEAT_CAPABILITY_KEYBOARD;
    bool pointer = (capabilities & WL_SEAT_CAPABILITY_POINTER) && Wayland.options.fullscreen;
    if (keyboard && !Wayland.keyboard) {
        Wayland.keyboard = wl_seat_get_keyboard(seat);
        wl_keyboard_add_listener(Wayland.keyboard, &KEYBOARD_LISTENER, nullptr);
    } else if (!keyboard && Wayland.keyboard) {
        ReleaseKeyboard();
    }
    if (pointer && !Wayland.pointer) {
        Wayland.pointer = wl_seat_get_pointer(seat);
        wl_pointer_add_listener(Wayland.pointer, &POINTER_LISTENER, nullptr);
    } else if (!pointer && Wayland.pointer) {
        ReleasePointer();
    }
}

static void OnSeatName(void *, wl_seat *, const char *)
{
}

static const wl_seat_listener SEAT_LISTENER = {.capabilities = OnCapabilities, .name = OnSeatName};

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
    for (WaylandOutput **link = &Wayland.outputs; *link; link = &(*link)->next)
        if ((*link)->globalName == name) {
            RemoveOutput(link);
            return;
        }
}

static const wl_registry_listener REGISTRY_LISTENER = {
    .global = OnGlobal,
    .global_remove = OnGlobalRemove,
};

// The frame loop's hooks

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
    if (Wayland.player.failed) return;
    Wayland.player.failed = true;
    int error = wl_display_get_error(Wayland.display);
    if (error == EPROTO)
        fprintf(stderr, "zembloid: Wayland protocol error: %s\n", LibraryMessage);
    else
        fprintf(stderr, "zembloid: Wayland connection lost: %s\n", strerror(error ? error : EPIPE));
}

// Dispatches what is queued (listeners only note what changed), lays out
// what changed once, then announces the wait for more and sends what is
// pending; a full socket keeps the rest for the next pass.
static void PrepareRead()
{
    do {
        if (wl_display_dispatch_pending(Wayland.display) < 0) {
            ReportConnectionError();
            return;
        }
        LayOutWindows();
    } while (wl_display_prepare_read(Wayland.display) != 0);
    Wayland.readPrepared = true;
    if (wl_display_flush(Wayland.display) < 0 && errno != EAGAIN) ReportConnectionError();
}

static void ReadEvents(bool readable)
{
    if (!Wayland.readPrepared) return;
    if (!ReadAnnouncedEvents(Wayland.display, &Wayland.readPrepared, readable)) ReportConnectionError();
}

// Start and end

static void OnSyncDone(void *data, wl_callback *callback, uint32_t)
{
    *(bool *)data = true;
    wl_callback_destroy(callback);
}

static const wl_callback_listener SYNC_LISTENER = {.done = OnSyncDone};

// wl_display_roundtrip, through the loop's own wait: libwayland's waits in
// poll again after a signal, so a compositor that never answers would hold a
// stop signal back for ever. False when the connection fails or a stop comes
// first.
static bool RoundTrip()
{
    bool done = false;
    wl_callback *sync = wl_display_sync(Wayland.display);
    wl_callback_add_listener(sync, &SYNC_LISTENER, &done);
    struct pollfd connection = {wl_display_get_fd(Wayland.display), POLLIN, 0};
    while (!done && !PlayerStopping(Wayland.player)) {
        PrepareRead();
        if (!Wayland.readPrepared) break;
        int ready = done ? 0 : WaitForEvents(&connection, 1, -1);
        ReadEvents(ready > 0 && (connection.revents & (POLLIN | POLLHUP | POLLERR)));
    }
    if (!done) wl_callback_destroy(sync);
    return done;
}

// The globals, then the outputs' first scales, before any window is made.
static bool ReadGlobals()
{
    Wayland.registry = wl_display_get_registry(Wayland.display);
    wl_registry_add_listener(Wayland.registry, &REGISTRY_LISTENER, nullptr);
    if (!RoundTrip() || !RoundTrip()) return false;
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
    while (Wayland.outputs) RemoveOutput(&Wayland.outputs);
    ReleaseFrameSets();
    if (Wayland.pointer) ReleasePointer();
    if (Wayland.keyboard) ReleaseKeyboard();
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
    // A compositor whose listening socket is full holds connect() up.
    StopExitsAtOnce(true);
    Wayland.display = wl_display_connect(nullptr);
    StopExitsAtOnce(false);
    if (!Wayland.display) return -1;
    bool ready = StartPlayer(&Wayland.player) && ReadGlobals();
    if (ready) {
        Wayland.started = true;
        // With -fullscreen and no output yet, it waits for one, quietly.
        if (options.fullscreen) {
            for (WaylandOutput *output = Wayland.outputs; output; output = output->next)
                CreateSaverWindow(&output->window, output);
        } else {
            CreateSaverWindow(&Wayland.ownWindow, nullptr);
        }
        DisplayLoop loop = {wl_display_get_fd(Wayland.display), PrepareRead, ReadEvents, ShowNextFrames,
                            &Wayland.player};
        RunDisplayLoop(loop, options.redrawSpeed);
    }
    CloseAll();
    bool stopped = StopSignalled() || Wayland.player.stopRequested;
    return Wayland.player.failed || (!ready && !stopped) ? 1 : 0;
}
