// The idle watcher's choice of watcher and its rule for showing the saver.
#include <gtest/gtest.h>

#include <string>

#include "idle/IdleWatch.h"

namespace {

struct ChoiceCase {
    const char *name;
    IdleCapabilities offered;   // mutter, wayland, ext, kde, x11, x11ScreenSaver
    IdleWatcherKind chosen;
    const char *missingNames;   // for WATCHER_NONE: a word the line must hold
};

TEST(ChooseIdleWatcher, ByWhatTheSessionOffers)
{
    const ChoiceCase cases[] = {
        {"GNOME on Wayland, Xwayland too", {true, true, false, false, true, true}, WATCHER_MUTTER, nullptr},
        {"GNOME on X11", {true, false, false, false, true, true}, WATCHER_MUTTER, nullptr},
        {"KWin: both idle protocols", {false, true, true, true, false, false}, WATCHER_EXT_IDLE, nullptr},
        {"sway 1.7", {false, true, false, true, true, true}, WATCHER_KDE_IDLE, nullptr},
        {"X11 window manager", {false, false, false, false, true, true}, WATCHER_X11, nullptr},
        {"compositor without idle protocol: its Xwayland timer is not used",
         {false, true, false, false, true, true}, WATCHER_NONE, "ext_idle_notifier_v1"},
        {"X server without the extension", {false, false, false, false, true, false}, WATCHER_NONE,
         "MIT-SCREEN-SAVER"},
        {"nothing", {}, WATCHER_NONE, "Mutter"},
    };
    for (const ChoiceCase &c : cases) {
        EXPECT_EQ(c.chosen, ChooseIdleWatcher(c.offered)) << c.name;
        if (!c.missingNames) continue;
        std::string line = MissingWatcherMessage(c.offered);
        EXPECT_NE(std::string::npos, line.find(c.missingNames)) << c.name;
        EXPECT_EQ(line.find('\n'), line.size() - 1) << c.name;
        EXPECT_NE(std::string::npos, line.find("README")) << c.name;
    }
}

struct Step {
    int64_t at;
    IdleNotice notice;
    bool shows;
    int64_t waitMs;   // IdleRuleWaitMs after the step
};

struct RuleCase {
    const char *name;
    Step steps[8];
};

const Step END = {-1, NOTICE_TIME, false, 0};

TEST(IdleRuleShows, IdleAndNotInhibitedWithTheFullTimeAfterAnInhibitor)
{
    // The idle time is 2000 ms throughout.
    const RuleCase cases[] = {
        {"idle shows; another idle period after the saver shows again",
         {{0, NOTICE_IDLE, true, -1}, {100, NOTICE_IDLE, false, -1}, {500, NOTICE_SAVER_ENDED, false, -1},
          {600, NOTICE_ACTIVE, false, -1}, {2600, NOTICE_IDLE, true, -1}, END}},
        {"the saver's end counts as input: a late idle report is needed again",
         {{0, NOTICE_IDLE, true, -1}, {500, NOTICE_SAVER_ENDED, false, -1}, {510, NOTICE_TIME, false, -1},
          {2500, NOTICE_IDLE, true, -1}, END}},
        {"input before idle: nothing",
         {{0, NOTICE_ACTIVE, false, -1}, {100, NOTICE_TIME, false, -1}, END}},
        {"held: idle does not show; released: the full time from then",
         {{0, NOTICE_HELD, false, -1}, {2000, NOTICE_IDLE, false, -1}, {5000, NOTICE_RELEASED, false, 2000},
          {6999, NOTICE_TIME, false, 1}, {7000, NOTICE_TIME, true, -1}, END}},
        {"released, then input: the watcher's next idle shows",
         {{0, NOTICE_HELD, false, -1}, {100, NOTICE_RELEASED, false, 2000}, {500, NOTICE_ACTIVE, false, 1600},
          {2100, NOTICE_TIME, false, -1}, {2500, NOTICE_IDLE, true, -1}, END}},
        {"an idle report inside the time after release waits for its end",
         {{0, NOTICE_HELD, false, -1}, {100, NOTICE_RELEASED, false, 2000}, {1000, NOTICE_IDLE, false, 1100},
          {2100, NOTICE_TIME, true, -1}, END}},
        {"held again before the time ran out: nothing until released",
         {{0, NOTICE_IDLE, true, -1}, {10, NOTICE_SAVER_ENDED, false, -1}, {20, NOTICE_HELD, false, -1},
          {30, NOTICE_RELEASED, false, 2000}, {40, NOTICE_HELD, false, -1}, {9000, NOTICE_IDLE, false, -1},
          {20000, NOTICE_TIME, false, -1}, END}},
        {"held while the saver shows: it stays; nothing more until released and idle",
         {{0, NOTICE_IDLE, true, -1}, {100, NOTICE_HELD, false, -1}, {200, NOTICE_SAVER_ENDED, false, -1},
          {2200, NOTICE_IDLE, false, -1}, {3000, NOTICE_RELEASED, false, 2000}, {5000, NOTICE_TIME, true, -1},
          END}},
    };
    for (const RuleCase &c : cases) {
        IdleRule rule;
        StartIdleRule(&rule, 2000);
        for (const Step *step = c.steps; step->at >= 0; ++step) {
            EXPECT_EQ(step->shows, IdleRuleShows(&rule, step->notice, step->at))
                << c.name << " at " << step->at;
            EXPECT_EQ(step->waitMs, IdleRuleWaitMs(&rule, step->at)) << c.name << " at " << step->at;
        }
    }
}

}  // namespace
