/* A Wayland idle inhibitor, as a video player holds one: a small grey
 * toplevel with a zwp_idle_inhibitor_v1 on its surface. Compositors honour an
 * inhibitor only while its surface is shown, so it prints "ready" once the
 * compositor has drawn the surface (its first frame callback), and holds the
 * inhibitor until it is killed; SIGTERM ends it with its default action. */
#define _GNU_SOURCE
#include <stdio.h>
#include <string.h>
#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>

#include "idle-inhibit-unstable-v1-client-protocol.h"
#include "xdg-shell-client-protocol.h"

enum { SIZE = 64, STRIDE = SIZE * 4 };
static const uint32_t GREY = 0xFF808080;

static struct wl_compositor *compositor;
static struct wl_shm *shm;
static struct xdg_wm_base *wm_base;
static struct zwp_idle_inhibit_manager_v1 *inhibit_manager;
static struct wl_surface *surface;
static int shown;

static void on_global(void *data, struct wl_registry *registry, uint32_t name,
                      const char *interface, uint32_t version)
{
    (void)data, (void)version;
    if (strcmp(interface, wl_compositor_interface.name) == 0)
        compositor = wl_registry_bind(registry, name, &wl_compositor_interface, 1);
    else if (strcmp(interface, wl_shm_interface.name) == 0)
        shm = wl_registry_bind(registry, name, &wl_shm_interface, 1);
    else if (strcmp(interface, xdg_wm_base_interface.name) == 0)
        wm_base = wl_registry_bind(registry, name, &xdg_wm_base_interface, 1);
    else if (strcmp(interface, zwp_idle_inhibit_manager_v1_interface.name) == 0)
        inhibit_manager =
            wl_registry_bind(registry, name, &zwp_idle_inhibit_manager_v1_interface, 1);
}

static void on_global_remove(void *data, struct wl_registry *registry, uint32_t name)
{
    (void)data, (void)registry, (void)name;
}

static const struct wl_registry_listener registry_listener = {on_global, on_global_remove};

static void on_ping(void *data, struct xdg_wm_base *base, uint32_t serial)
{
    (void)data;
    xdg_wm_base_pong(base, serial);
}

static const struct xdg_wm_base_listener wm_base_listener = {on_ping};

static void on_frame_done(void *data, struct wl_callback *callback, uint32_t time)
{
    (void)data, (void)time;
    wl_callback_destroy(callback);
    shown = 1;
}

static const struct wl_callback_listener frame_listener = {on_frame_done};

/* A grey buffer in shared memory; null when memory cannot be had. */
static struct wl_buffer *grey_buffer(void)
{
    int fd = memfd_create("idle_inhibitor", MFD_CLOEXEC);
    if (fd < 0 || ftruncate(fd, STRIDE * SIZE) < 0) return NULL;
    uint32_t *pixels = mmap(NULL, STRIDE * SIZE, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (pixels == MAP_FAILED) return NULL;
    for (int i = 0; i < SIZE * SIZE; ++i) pixels[i] = GREY;
    struct wl_shm_pool *pool = wl_shm_create_pool(shm, fd, STRIDE * SIZE);
    struct wl_buffer *buffer =
        wl_shm_pool_create_buffer(pool, 0, SIZE, SIZE, STRIDE, WL_SHM_FORMAT_ARGB8888);
    wl_shm_pool_destroy(pool);
    close(fd);
    return buffer;
}

/* Each configure is acknowledged and answered with the same small picture. */
static void on_configure(void *data, struct xdg_surface *xdg_surface, uint32_t serial)
{
    (void)data;
    xdg_surface_ack_configure(xdg_surface, serial);
    static struct wl_buffer *buffer;
    if (!buffer) {
        buffer = grey_buffer();
        if (!buffer) return;
        wl_callback_add_listener(wl_surface_frame(surface), &frame_listener, NULL);
    }
    wl_surface_attach(surface, buffer, 0, 0);
    wl_surface_damage(surface, 0, 0, SIZE, SIZE);
    wl_surface_commit(surface);
}

static const struct xdg_surface_listener xdg_surface_listener = {on_configure};

int main(void)
{
    struct wl_display *display = wl_display_connect(NULL);
    if (!display) {
        fprintf(stderr, "idle_inhibitor: no Wayland display\n");
        return 1;
    }
    wl_registry_add_listener(wl_display_get_registry(display), &registry_listener, NULL);
    wl_display_roundtrip(display);
    if (!compositor || !shm || !wm_base || !inhibit_manager) {
        fprintf(stderr, "idle_inhibitor: the compositor lacks xdg_wm_base, wl_shm "
                        "or zwp_idle_inhibit_manager_v1\n");
        return 1;
    }
    xdg_wm_base_add_listener(wm_base, &wm_base_listener, NULL);
    surface = wl_compositor_create_surface(compositor);
    struct xdg_surface *xdg_surface = xdg_wm_base_get_xdg_surface(wm_base, surface);
    xdg_surface_add_listener(xdg_surface, &xdg_surface_listener, NULL);
    struct xdg_toplevel *toplevel = xdg_surface_get_toplevel(xdg_surface);
    xdg_toplevel_set_title(toplevel, "idle inhibitor");
    zwp_idle_inhibit_manager_v1_create_inhibitor(inhibit_manager, surface);
    wl_surface_commit(surface);
    while (!shown)
        if (wl_display_dispatch(display) < 0) return 1;
    printf("ready\n");
    fflush(stdout);
    while (wl_display_dispatch(display) >= 0) {
    }
    return 1;
}
