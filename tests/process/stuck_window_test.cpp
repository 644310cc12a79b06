#include "process/stuck_window.h"

#include <gtest/gtest.h>

namespace varnok {
namespace {

LaunchActivity Reading(bool window, unsigned long long cpu = 100, unsigned long long io = 7,
                       std::vector<unsigned long> ids = {10, 11}) {
  LaunchActivity activity;
  activity.process_ids = std::move(ids);
  activity.cpu_time = cpu;
  activity.io_operations = io;
  activity.io_bytes = io * 512;
  activity.shows_window = window;
  return activity;
}

TEST(StuckWindowCheck, EndsOnlyAWindowShownForTheWholeIdleTime) {
  struct Case {
    const char* what;
    std::vector<LaunchActivity> readings;  // one a second, from 0 s
    int stuck_at;                          // index of the first "stuck" reading; -1: never
  };
  auto idle_window = [](int seconds) { return std::vector<LaunchActivity>(seconds + 1, Reading(true)); };
  auto with = [](std::vector<LaunchActivity> readings, size_t at, LaunchActivity changed) {
    readings[at] = std::move(changed);
    return readings;
  };
  const Case cases[] = {
      {"a dialog and nothing else for 60 s", idle_window(70), 60},
      {"busy with CPU at 30 s: the minute starts again", with(idle_window(100), 30, Reading(true, 101)), 91},
      {"I/O at 30 s", with(idle_window(100), 30, Reading(true, 100, 8)), 91},
      {"a helper started at 30 s", with(idle_window(100), 30, Reading(true, 100, 7, {10, 11, 12})), 91},
      {"the same processes listed in another order are no change",
       with(idle_window(70), 30, Reading(true, 100, 7, {11, 10})), 60},
      {"the window went away for a moment", with(idle_window(100), 20, Reading(false)), 81},
      {"idle without any window", std::vector<LaunchActivity>(200, Reading(false)), -1},
      {"59 s are not enough", idle_window(59), -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    StuckWindowCheck check(kStuckWindowIdleMs);
    int stuck_at = -1;
    for (size_t i = 0; i < c.readings.size() && stuck_at < 0; ++i) {
      if (check.IsStuck(1000000 + i * 1000, c.readings[i])) stuck_at = static_cast<int>(i);
    }
    EXPECT_EQ(stuck_at, c.stuck_at);
  }
}

TEST(IsDialogWindow, AQuestionCountsShownOrNotButNothingWithoutASizeOnTheScreen) {
  struct Case {
    const char* what;
    WindowFacts window;
    bool dialog;
  };
  const auto at = [](WindowFacts w, long left, long top, long right, long bottom, bool on) {
    w.left = left, w.top = top, w.right = right, w.bottom = bottom, w.on_monitor = on;
    return w;
  };
  const WindowFacts box{"#32770", true, true, true, 0, 0, 0, 0, false};
  const WindowFacts hidden_box{"#32770", true, true, false, 0, 0, 0, 0, false};
  const WindowFacts wizard{"TWizardForm", true, true, true, 0, 0, 0, 0, false};
  const WindowFacts disabled{"TWizardForm", true, false, true, 0, 0, 0, 0, false};
  const WindowFacts tool{"IME", false, true, false, 0, 0, 0, 0, false};
  const Case cases[] = {
      {"a message box", at(box, 100, 100, 400, 250, true), true},
      {"a message box never shown: the launch's hidden first window", at(hidden_box, 100, 100, 400, 250, true), true},
      {"a captioned, enabled window", at(wizard, 0, 0, 500, 400, true), true},
      {"a disabled one waits on another window", at(disabled, 0, 0, 500, 400, true), false},
      {"no caption: an IME or message window", at(tool, 0, 0, 200, 20, true), false},
      {"a zero-size dialog", at(box, 100, 100, 100, 250, true), false},
      {"an upside-down rectangle", at(box, 100, 250, 400, 100, true), false},
      {"off every monitor", at(box, -32000, -32000, -31700, -31850, false), false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IsDialogWindow(c.window), c.dialog) << c.what;
  }
}

}  // namespace
}  // namespace varnok
