/* Input for headless KWin, which has no devices: one connection to KWin's
 * org_kde_kwin_fake_input for as long as it runs, acting on lines from stdin:
 *   "move DX DY"  relative pointer motion
 *   "button BTN"  press and release of evdev button BTN (BTN_LEFT is 272)
 *   "key CODE"    press and release of evdev key CODE (KEY_A is 30)
 *   "press CODE"  press only; "release CODE" release only
 * Prints "ready" once the interface is bound, "ok" after each line KWin has
 * taken and "unknown" after any other line. KWin honours the interface only
 * with its permission checks off (KWIN_WAYLAND_NO_PERMISSION_CHECKS=1). */
#include <stdio.h>
#include <string.h>
#include <wayland-client.h>

#include "fake-input-client-protocol.h"

static const uint32_t RELEASED = 0, PRESSED = 1;

static struct org_kde_kwin_fake_input *fake_input;

static void on_global(void *data, struct wl_registry *registry, uint32_t name,
                      const char *interface, uint32_t version)
{
    (void)data;
    if (strcmp(interface, org_kde_kwin_fake_input_interface.name) == 0 && version >= 4)
        fake_input = wl_registry_bind(registry, name, &org_kde_kwin_fake_input_interface, 4);
}

static void on_global_remove(void *data, struct wl_registry *registry, uint32_t name)
{
    (void)data, (void)registry, (void)name;
}

static const struct wl_registry_listener registry_listener = {on_global, on_global_remove};

/* One line's requests; false for a line that is none of the above. */
static int act(const char *line)
{
    double dx, dy;
    unsigned int code;
    if (sscanf(line, "move %lf %lf", &dx, &dy) == 2) {
        org_kde_kwin_fake_input_pointer_motion(fake_input, wl_fixed_from_double(dx),
                                               wl_fixed_from_double(dy));
    } else if (sscanf(line, "button %u", &code) == 1) {
        org_kde_kwin_fake_input_button(fake_input, code, PRESSED);
        org_kde_kwin_fake_input_button(fake_input, code, RELEASED);
    } else if (sscanf(line, "key %u", &code) == 1) {
        org_kde_kwin_fake_input_keyboard_key(fake_input, code, PRESSED);
        org_kde_kwin_fake_input_keyboard_key(fake_input, code, RELEASED);
    } else if (sscanf(line, "press %u", &code) == 1) {
        org_kde_kwin_fake_input_keyboard_key(fake_input, code, PRESSED);
    } else if (sscanf(line, "release %u", &code) == 1) {
        org_kde_kwin_fake_input_keyboard_key(fake_input, code, RELEASED);
    } else {
        return 0;
    }
    return 1;
}

int main(void)
{
    struct wl_display *display = wl_display_connect(NULL);
    if (!display) {
        fprintf(stderr, "fake_input: no Wayland display\n");
        return 1;
    }
    wl_registry_add_listener(wl_display_get_registry(display), &registry_listener, NULL);
    wl_display_roundtrip(display);
    if (!fake_input) {
        fprintf(stderr, "fake_input: no org_kde_kwin_fake_input version 4\n");
        return 1;
    }
    org_kde_kwin_fake_input_authenticate(fake_input, "zembloid tests",
                                         "input for a headless session");
    if (wl_display_roundtrip(display) < 0) return 1;
    printf("ready\n");
    fflush(stdout);
    char line[128];
    while (fgets(line, sizeof line, stdin)) {
        if (!act(line)) {
            printf("unknown\n");
        } else {
            if (wl_display_roundtrip(display) < 0) return 1;
            printf("ok\n");
        }
        fflush(stdout);
    }
    wl_display_disconnect(display);
    return 0;
}
