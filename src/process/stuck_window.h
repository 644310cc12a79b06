// Telling an uninstaller that waits on a window nobody can see from one that is working. In
// session 0 no person can answer a dialog, so a program that shows one and then does nothing
// would hold the run until its time-out.
#pragma once

#include <string>
#include <vector>

namespace varnok {

// How long a launch may show a window while none of its processes does anything.
constexpr unsigned long kStuckWindowIdleMs = 60000;

// What a launch's processes have done so far, read at one moment.
struct LaunchActivity {
  std::vector<unsigned long> process_ids;  // the processes running now
  unsigned long long cpu_time = 0;         // their CPU time, in 100 ns units
  unsigned long long cpu_cycles = 0;       // their threads' CPU cycles, finer than the clock tick
  unsigned long long io_operations = 0;    // their read, write and other I/O operations
  unsigned long long io_bytes = 0;         // and the bytes these moved
  bool shows_window = false;               // one of them has a dialog (see IsDialogWindow)
};

// A top-level window as the watch reads it.
struct WindowFacts {
  std::string class_name;
  bool has_caption = false;  // WS_CAPTION
  bool enabled = false;
  bool visible = false;
  long left = 0, top = 0, right = 0, bottom = 0;  // its rectangle on the screen
  bool on_monitor = false;  // the rectangle lies (at least partly) on a monitor of its desktop
};

// A window that asks someone something, shown or not (a program started hidden has its first
// window hidden, and that is typically its question): a dialog box (class "#32770"), or an
// enabled window with a caption; either with a non-empty rectangle on a monitor. Zero-size and
// off-screen windows (message-only, IME and tool windows) do not count.
bool IsDialogWindow(const WindowFacts& window);

// A top-level window of a launch, as the log names it.
struct LaunchWindow {
  std::string title;
  std::string class_name;
  std::string process;  // the image path of the process that owns it
  unsigned long process_id = 0;
};

// The stuck-window ERROR line: the window, and how long nothing happened.
void LogStuckWindow(const LaunchWindow& window, unsigned long idle_ms);

// What a watched launch leaves running once its first process has ended: the uninstaller's
// copies and children, found by their membership of its job.
class LaunchRemains {
 public:
  virtual ~LaunchRemains() = default;
  // What they have done so far (`process_ids` holds only those still running); `window` names
  // the window that `shows_window` reports.
  virtual LaunchActivity ReadActivity(LaunchWindow* window) = 0;
  // Ends every one of them.
  virtual void End(unsigned exit_code) = 0;
};

// Fed one reading at a time; says when the launch has shown a window for `idle_limit_ms` in a
// row while its processes neither used CPU, nor did I/O, nor started or ended.
class StuckWindowCheck {
 public:
  explicit StuckWindowCheck(unsigned long idle_limit_ms) : idle_limit_ms_(idle_limit_ms) {}

  bool IsStuck(unsigned long long now_ms, const LaunchActivity& activity);

 private:
  unsigned long idle_limit_ms_;
  bool have_last_ = false;
  LaunchActivity last_;
  bool idle_ = false;
  unsigned long long idle_since_ms_ = 0;
  unsigned long long last_reading_ms_ = 0;
};

}  // namespace varnok
