// org.freedesktop.ScreenSaver where nobody serves it (sway, other wlroots
// compositors, bare X11 window managers): browsers and players call Inhibit
// there, and without an owner their request is lost. The name is taken only
// when free and never from an owner. Each cookie follows its holder on the
// bus, so a holder that leaves without UnInhibit drops its cookies.
#include <systemd/sd-bus.h>

#include "idle/Idle_linux.h"

// Inhibitors held at once; a further Inhibit is refused.
const int COOKIE_LIMIT = 64;

struct Cookie {
    uint32_t cookie;          // 0: free slot
    sd_bus_track *holder;     // empties when the holder leaves the bus
};

static struct {
    sd_bus *bus;
    sd_bus_slot *objects[2];
    Cookie cookies[COOKIE_LIMIT];
    int held;
    uint32_t lastCookie;
    bool owned;
} Name;

static const char NAME[] = "org.freedesktop.ScreenSaver";
// Players call either path.
static const char *const PATHS[2] = {"/org/freedesktop/ScreenSaver", "/ScreenSaver"};

static void DropCookie(Cookie *cookie)
{
    sd_bus_track_unref(cookie->holder);
    *cookie = Cookie{0, nullptr};
    if (--Name.held == 0) IdleNoticed(NOTICE_RELEASED);
}

static int OnHolderGone(sd_bus_track *, void *userdata)
{
    DropCookie((Cookie *)userdata);
    return 0;
}

static Cookie *FreeSlot()
{
    for (Cookie &cookie : Name.cookies)
        if (!cookie.cookie) return &cookie;
    return nullptr;
}

static int OnInhibit(sd_bus_message *message, void *, sd_bus_error *error)
{
    const char *application, *reason;
    int result = sd_bus_message_read(message, "ss", &application, &reason);
    if (result < 0) return result;
    Cookie *slot = FreeSlot();
    if (!slot) return sd_bus_error_set_const(error, SD_BUS_ERROR_LIMITS_EXCEEDED, "too many inhibitors");
    result = sd_bus_track_new(Name.bus, &slot->holder, OnHolderGone, slot);
    if (result >= 0) result = sd_bus_track_add_sender(slot->holder, message);
    if (result < 0) {
        slot->holder = sd_bus_track_unref(slot->holder);
        return result;
    }
    if (++Name.lastCookie == 0) ++Name.lastCookie;
    slot->cookie = Name.lastCookie;
    if (++Name.held == 1) IdleNoticed(NOTICE_HELD);
    return sd_bus_reply_method_return(message, "u", slot->cookie);
}

// Only the holder that took a cookie can give it back; an unknown cookie is
// let pass, as other owners of the name do.
static int OnUnInhibit(sd_bus_message *message, void *, sd_bus_error *)
{
    uint32_t value;
    int result = sd_bus_message_read(message, "u", &value);
    if (result < 0) return result;
    const char *sender = sd_bus_message_get_sender(message);
    for (Cookie &cookie : Name.cookies)
        if (value && cookie.cookie == value && sender &&
            sd_bus_track_count_name(cookie.holder, sender) > 0) {
            DropCookie(&cookie);
            break;
        }
    return sd_bus_reply_method_return(message, "");
}

static const sd_bus_vtable VTABLE[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_METHOD("Inhibit", "ss", "u", OnInhibit, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("UnInhibit", "u", "", OnUnInhibit, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_VTABLE_END};

// Without SD_BUS_NAME_QUEUE the request is DO_NOT_QUEUE: a name that has an
// owner is left to it, and this instance serves no inhibitors.
bool OwnScreenSaverName(sd_bus *bus)
{
    Name.bus = bus;
    for (int i = 0; i < 2; ++i)
        if (sd_bus_add_object_vtable(bus, &Name.objects[i], PATHS[i], NAME, VTABLE, nullptr) < 0) {
            ReleaseScreenSaverName();
            return false;
        }
    Name.owned = sd_bus_request_name(bus, NAME, 0) >= 0;
    if (!Name.owned) ReleaseScreenSaverName();
    return Name.owned;
}

void ReleaseScreenSaverName()
{
    if (Name.owned) sd_bus_release_name(Name.bus, NAME);
    Name.owned = false;
    for (sd_bus_slot *&object : Name.objects) object = sd_bus_slot_unref(object);
    for (Cookie &cookie : Name.cookies)
        if (cookie.cookie) {
            sd_bus_track_unref(cookie.holder);
            cookie = Cookie{0, nullptr};
        }
    Name.held = 0;
}
