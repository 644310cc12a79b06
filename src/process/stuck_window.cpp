#include "process/stuck_window.h"

#include <algorithm>

#include "log/log.h"

namespace varnok {
namespace {

bool SameWork(const LaunchActivity& a, const LaunchActivity& b) {
  std::vector<unsigned long> a_ids = a.process_ids;
  std::vector<unsigned long> b_ids = b.process_ids;
  std::sort(a_ids.begin(), a_ids.end());
  std::sort(b_ids.begin(), b_ids.end());
  return a_ids == b_ids && a.cpu_time == b.cpu_time && a.cpu_cycles == b.cpu_cycles &&
         a.io_operations == b.io_operations && a.io_bytes == b.io_bytes;
}

}  // namespace

bool IsDialogWindow(const WindowFacts& window) {
  if (window.right <= window.left || window.bottom <= window.top || !window.on_monitor) {
    return false;
  }
  return window.class_name == "#32770" || (window.has_caption && window.enabled);
}

void LogStuckWindow(const LaunchWindow& window, unsigned long idle_ms) {
  LogError("operation : ExecuteFile; status : failure; remarks : \"The uninstaller shows a window "
           "in session 0, where nobody can answer it, and has done nothing for %d s. Ending "
           "it.\"; window_title : \"%s\"; window_class : \"%s\"; process : \"%s\"; process_id : "
           "%d;",
           static_cast<int>(idle_ms / 1000), window.title.c_str(), window.class_name.c_str(),
           window.process.c_str(), static_cast<int>(window.process_id));
}

bool StuckWindowCheck::IsStuck(unsigned long long now_ms, const LaunchActivity& activity) {
  // Idle only between two equal readings that both show a window: a window that comes and goes
  // is someone's progress, not a question.
  const bool idle = have_last_ && activity.shows_window && last_.shows_window &&
                    SameWork(activity, last_);
  if (!idle) {
    idle_ = false;
  } else if (!idle_) {
    idle_ = true;
    idle_since_ms_ = last_reading_ms_;
  }
  have_last_ = true;
  last_ = activity;
  last_reading_ms_ = now_ms;
  return idle_ && now_ms - idle_since_ms_ >= idle_limit_ms_;
}

}  // namespace varnok
