#include "run/row_verification.h"

#include <algorithm>

#include "log/log.h"
#include "process/process_launch.h"

namespace varnok {
namespace {

constexpr unsigned kVerifyStepMs = 30000;
constexpr unsigned kVerifyLimitMs = 90000;
// How long, and how often, the processes a gone row left are looked at for a window to come.
constexpr unsigned kOrphanGraceMs = 3000;
constexpr unsigned kOrphanLookMs = 250;
// A window's first moments (drawing, a sound) are work; its idle minute starts after them, so the
// watch of such a window ends this long after the row was found gone.
constexpr unsigned kOrphanWatchMs = kStuckWindowIdleMs + 5000;

// The helpers of a launch during the wait for its row: watched until they are stuck or gone.
class HelperWatch {
 public:
  explicit HelperWatch(LaunchRemains* remains)
      : remains_(remains), check_(kStuckWindowIdleMs) {}

  bool active() const { return remains_ != nullptr; }

  // One reading; true when they were stuck and have been ended.
  bool EndIfStuck(unsigned long long now_ms) {
    LaunchWindow window;
    const LaunchActivity activity = remains_->ReadActivity(&window);
    if (activity.process_ids.empty()) {
      remains_ = nullptr;  // nothing left to watch; the wait goes on as for any row
      return false;
    }
    if (!check_.IsStuck(now_ms, activity)) return false;
    LogStuckWindow(window, kStuckWindowIdleMs);
    remains_->End(kProcessTimedOut);
    remains_ = nullptr;
    return true;
  }

 private:
  LaunchRemains* remains_;
  StuckWindowCheck check_;
};

// Whether a process of `remains` shows a window now, or does within kOrphanGraceMs while any of
// them still runs: a question asked after the removal comes a moment after the row has gone.
bool WindowAppears(RunEnvironment& env, LaunchRemains& remains, LaunchWindow* window,
                   LaunchActivity* activity) {
  const unsigned long long start = env.NowMs();
  for (;;) {
    *activity = remains.ReadActivity(window);
    if (activity->shows_window) return true;
    if (activity->process_ids.empty() || env.NowMs() - start >= kOrphanGraceMs) return false;
    env.Sleep(kOrphanLookMs);
  }
}

}  // namespace

bool WaitUntilGone(RunEnvironment& env, const UninstallEntry& entry, LaunchRemains* remains,
                   unsigned long long limit_ms) {
  const std::unique_ptr<KeyChangeWatch> watch = env.WatchUninstallKey(entry);
  HelperWatch helpers(remains);
  const unsigned long long started = env.NowMs();
  const unsigned long long stop = limit_ms > ~0ULL - started ? ~0ULL : started + limit_ms;
  bool present = env.IsUninstallEntryPresent(entry);
  bool stuck = false;
  unsigned step = 0;
  while (present && !stuck && step < kVerifyLimitMs && env.NowMs() < stop) {
    step += kVerifyStepMs;
    const unsigned long long deadline = std::min(env.NowMs() + step, stop);
    for (unsigned long long now = env.NowMs(); present && !stuck && now < deadline;
         now = env.NowMs()) {
      unsigned long long slice = deadline - now;
      if (helpers.active() && slice > kRemainsReadMs) slice = kRemainsReadMs;
      watch->Wait(static_cast<unsigned long>(slice));
      present = env.IsUninstallEntryPresent(entry);
      stuck = present && helpers.active() && helpers.EndIfStuck(env.NowMs());
    }
  }
  // Log readers match this line as it has always been written.
  LogInfo("operation : app_varnk; remarks : \"Registry after exponential backoff %s\"",
          present ? "exists" : "does not exists");
  return !present;
}

void EndOrphanWindows(RunEnvironment& env, LaunchRemains* remains) {
  if (!remains) return;
  const unsigned long long start = env.NowMs();
  LaunchWindow window;
  LaunchActivity activity;
  if (!WindowAppears(env, *remains, &window, &activity)) return;
  StuckWindowCheck check(kStuckWindowIdleMs);
  check.IsStuck(env.NowMs(), activity);
  // A window that is still at work after this is someone's progress; it is left to finish.
  while (env.NowMs() - start < kOrphanWatchMs) {
    env.Sleep(kRemainsReadMs);
    activity = remains->ReadActivity(&window);
    if (!activity.shows_window) return;
    if (check.IsStuck(env.NowMs(), activity)) {
      LogInfo("operation : app_varnok; remarks : \"The row is gone, but a process its uninstaller "
              "left shows a window in session 0 and has done nothing for %d s. Ending it.\"; "
              "window_title : \"%s\"; window_class : \"%s\"; process : \"%s\"; process_id : %d;",
              static_cast<int>(kStuckWindowIdleMs / 1000), window.title.c_str(),
              window.class_name.c_str(), window.process.c_str(),
              static_cast<int>(window.process_id));
      remains->End(kProcessTimedOut);
      return;
    }
  }
}

}  // namespace varnok
