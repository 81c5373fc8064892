// The Linux program's command line, shared by both display back ends.
#include <errno.h>
#include <stdlib.h>
#include <string.h>

#include "linux/Saver_linux.h"
#include "settings/Settings.h"

const char USAGE[] =
    "usage: zembloid [-root | -window-id ID | -fullscreen | -idle SECONDS] [-speed 1..30]"
    " [-scale 1..8]\n";

// strtoull alone would take a sign, spaces, or a second 0x, hence the check
// that nothing but digits of the base follow.
bool ParseWindowId(const char *text, unsigned long *id)
{
    int base = 10;
    if (text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text += 2;
    }
    const char *digits = base == 16 ? "0123456789abcdefABCDEF" : "0123456789";
    if (!text[0] || text[strspn(text, digits)]) return false;
    errno = 0;
    char *end = nullptr;
    unsigned long long value = strtoull(text, &end, base);
    if (errno || *end || value == 0 || value > 0xFFFFFFFFull) return false;
    *id = (unsigned long)value;
    return true;
}

// Any integer is accepted; one outside 1..30 plays at the default speed.
static bool ParseSpeed(const char *text, int32_t *speed)
{
    errno = 0;
    char *end = nullptr;
    long long value = strtoll(text, &end, 10);
    if (end == text || *end) return false;
    if (errno == ERANGE || value < INT32_MIN || value > INT32_MAX) value = 0;
    *speed = ApplySpeedRange((int32_t)value);
    return true;
}

// Unlike the speed, a scale is asked for on purpose: one outside 1..8 is refused.
static bool ParseScale(const char *text, int *scale)
{
    if (text[0] < '1' || text[0] > '0' + FORCED_SCALE_MAX || text[1]) return false;
    *scale = text[0] - '0';
    return true;
}

// Whole seconds, 1 to a day; digits only, so no sign, space or fraction.
static bool ParseIdleSeconds(const char *text, int32_t *seconds)
{
    if (!text[0] || text[strspn(text, "0123456789")] || strlen(text) > 5) return false;
    long value = strtol(text, nullptr, 10);
    if (value < 1 || value > IDLE_SECONDS_MAX) return false;
    *seconds = (int32_t)value;
    return true;
}

// XScreenSaver's own display modes are also run with double-dash options,
// so "--speed" means "-speed". -root, -window-id, -fullscreen and -idle each
// name where to draw (-idle: full screen, each time the session is idle), so
// at most one of them is given.
bool ParseOptions(int argc, char **argv, SaverOptions *options)
{
    *options = SaverOptions{TARGET_OWN_WINDOW, 0, REDRAW_SPEED_DEFAULT, false, 0, 0};
    bool targetGiven = false;
    for (int i = 1; i < argc; ++i) {
        const char *option = argv[i];
        if (option[0] == '-' && option[1] == '-') ++option;
        bool hasValue = i + 1 < argc;
        if (strcmp(option, "-root") == 0 && !targetGiven) {
            options->target = TARGET_ROOT;
            targetGiven = true;
        } else if (strcmp(option, "-window-id") == 0 && !targetGiven && hasValue &&
                   ParseWindowId(argv[++i], &options->windowId)) {
            options->target = TARGET_WINDOW_ID;
            targetGiven = true;
        } else if (strcmp(option, "-fullscreen") == 0 && !targetGiven) {
            options->fullscreen = true;
            targetGiven = true;
        } else if (strcmp(option, "-idle") == 0 && !targetGiven && hasValue &&
                   ParseIdleSeconds(argv[++i], &options->idleSeconds)) {
            targetGiven = true;
        } else if (strcmp(option, "-speed") == 0 && hasValue &&
                   ParseSpeed(argv[++i], &options->redrawSpeed)) {
        } else if (strcmp(option, "-scale") == 0 && hasValue &&
                   ParseScale(argv[++i], &options->forcedScale)) {
        } else {
            return false;
        }
    }
    return true;
}

bool ApplyEnvironmentWindow(SaverOptions *options, const char *named)
{
    if (options->fullscreen || options->target == TARGET_WINDOW_ID || !named || !*named) return true;
    if (!ParseWindowId(named, &options->windowId)) return false;
    options->target = TARGET_WINDOW_ID;
    return true;
}
