/* The Wayland bench's floor: the least a client can do to play ten frames.
 * One full-screen xdg_toplevel whose one surface gets, at each tick, one of
 * ten 640 x 480 buffers made once, with its whole damage and a frame
 * callback; a tick whose last frame the compositor has not shown yet is
 * passed over, as the saver does. The compositor fills around it as it
 * likes. Command line: floor_wayland PERIOD_MS. */
#define _GNU_SOURCE
#include <poll.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/timerfd.h>
#include <unistd.h>
#include <wayland-client.h>

#include "xdg-shell-client-protocol.h"

enum { WIDTH = 640, HEIGHT = 480, FRAMES = 10 };

static struct wl_compositor *compositor;
static struct wl_shm *shm;
static struct xdg_wm_base *wm_base;
static struct wl_callback *frame_callback;
static int configured, closed;

static void on_ping(void *data, struct xdg_wm_base *base, uint32_t serial)
{
    (void)data;
    xdg_wm_base_pong(base, serial);
}

static const struct xdg_wm_base_listener wm_base_listener = {.ping = on_ping};

static void on_global(void *data, struct wl_registry *registry, uint32_t name, const char *interface,
                      uint32_t version)
{
    (void)data, (void)version;
    if (strcmp(interface, wl_compositor_interface.name) == 0)
        compositor = wl_registry_bind(registry, name, &wl_compositor_interface, 4);
    else if (strcmp(interface, wl_shm_interface.name) == 0)
        shm = wl_registry_bind(registry, name, &wl_shm_interface, 1);
    else if (strcmp(interface, xdg_wm_base_interface.name) == 0) {
        wm_base = wl_registry_bind(registry, name, &xdg_wm_base_interface, 1);
        xdg_wm_base_add_listener(wm_base, &wm_base_listener, NULL);
    }
}

static void on_global_remove(void *data, struct wl_registry *registry, uint32_t name)
{
    (void)data, (void)registry, (void)name;
}

static const struct wl_registry_listener registry_listener = {.global = on_global,
                                                              .global_remove = on_global_remove};

static void on_configure(void *data, struct xdg_surface *xdg_surface, uint32_t serial)
{
    (void)data;
    xdg_surface_ack_configure(xdg_surface, serial);
    configured = 1;
}

static const struct xdg_surface_listener xdg_surface_listener = {.configure = on_configure};

static void on_toplevel_configure(void *data, struct xdg_toplevel *toplevel, int32_t width,
                                  int32_t height, struct wl_array *states)
{
    (void)data, (void)toplevel, (void)width, (void)height, (void)states;
}

static void on_close(void *data, struct xdg_toplevel *toplevel)
{
    (void)data, (void)toplevel;
    closed = 1;
}

static const struct xdg_toplevel_listener toplevel_listener = {.configure = on_toplevel_configure,
                                                               .close = on_close};

static void on_frame_shown(void *data, struct wl_callback *callback, uint32_t time)
{
    (void)data, (void)time;
    wl_callback_destroy(callback);
    frame_callback = NULL;
}

static const struct wl_callback_listener frame_listener = {.done = on_frame_shown};

/* Ten frames of black and white dots. */
static int make_buffers(struct wl_buffer *buffers[FRAMES])
{
    size_t frame_bytes = (size_t)WIDTH * HEIGHT * 4, size = frame_bytes * FRAMES;
    int fd = memfd_create("floor", MFD_CLOEXEC);
    if (fd < 0 || ftruncate(fd, (off_t)size) != 0) return 0;
    uint32_t *pixels = mmap(NULL, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (pixels == MAP_FAILED) return 0;
    uint32_t seed = 2463534242u;
    for (size_t i = 0; i < size / 4; ++i) {
        seed ^= seed << 13, seed ^= seed >> 17, seed ^= seed << 5;
        pixels[i] = seed & 1 ? 0xFFFFFFFFu : 0xFF000000u;
    }
    munmap(pixels, size);
    struct wl_shm_pool *pool = wl_shm_create_pool(shm, fd, (int32_t)size);
    for (int i = 0; i < FRAMES; ++i)
        buffers[i] = wl_shm_pool_create_buffer(pool, (int32_t)(i * frame_bytes), WIDTH, HEIGHT,
                                               WIDTH * 4, WL_SHM_FORMAT_XRGB8888);
    wl_shm_pool_destroy(pool);
    close(fd);
    return 1;
}

int main(int argc, char **argv)
{
    int period = argc > 1 ? atoi(argv[1]) : 10;
    struct wl_display *display = wl_display_connect(NULL);
    if (!display || period <= 0) {
        fprintf(stderr, "floor_wayland: no Wayland display, or no period\n");
        return 1;
    }
    wl_registry_add_listener(wl_display_get_registry(display), &registry_listener, NULL);
    wl_display_roundtrip(display);
    struct wl_buffer *buffers[FRAMES];
    if (!compositor || !shm || !wm_base || !make_buffers(buffers)) {
        fprintf(stderr, "floor_wayland: the compositor lacks what it needs\n");
        return 1;
    }
    struct wl_surface *surface = wl_compositor_create_surface(compositor);
    struct xdg_surface *xdg_surface = xdg_wm_base_get_xdg_surface(wm_base, surface);
    xdg_surface_add_listener(xdg_surface, &xdg_surface_listener, NULL);
    struct xdg_toplevel *toplevel = xdg_surface_get_toplevel(xdg_surface);
    xdg_toplevel_add_listener(toplevel, &toplevel_listener, NULL);
    xdg_toplevel_set_app_id(toplevel, "floor");
    xdg_toplevel_set_fullscreen(toplevel, NULL);
    wl_surface_commit(surface);
    while (!configured && wl_display_dispatch(display) >= 0) {
    }
    int timer = timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC);
    struct itimerspec every = {{period / 1000, (period % 1000) * 1000000L},
                               {period / 1000, (period % 1000) * 1000000L}};
    timerfd_settime(timer, 0, &every, NULL);
    int index = 0;
    while (!closed) {
        while (wl_display_prepare_read(display) != 0) wl_display_dispatch_pending(display);
        wl_display_flush(display);
        struct pollfd fds[2] = {{wl_display_get_fd(display), POLLIN, 0}, {timer, POLLIN, 0}};
        if (poll(fds, 2, -1) < 0) {
            wl_display_cancel_read(display);
            break;
        }
        if (fds[0].revents & POLLIN) {
            if (wl_display_read_events(display) < 0) break;
        } else {
            wl_display_cancel_read(display);
        }
        if (wl_display_dispatch_pending(display) < 0) break;
        uint64_t expirations;
        if ((fds[1].revents & POLLIN) && read(timer, &expirations, sizeof expirations) > 0 &&
            !frame_callback) {
            wl_surface_attach(surface, buffers[index], 0, 0);
            wl_surface_damage_buffer(surface, 0, 0, WIDTH, HEIGHT);
            frame_callback = wl_surface_frame(surface);
            wl_callback_add_listener(frame_callback, &frame_listener, NULL);
            wl_surface_commit(surface);
            index = (index + 1) % FRAMES;
        }
    }
    wl_display_disconnect(display);
    return 0;
}
