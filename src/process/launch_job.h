// Holding a launched uninstaller and everything it starts in one job object, so that its end at
// the time-out takes its helpers with it, and watching it for a window nobody can answer.
// Windows build only.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "process/stuck_window.h"
#include "win32/unique_handle.h"

namespace varnok {

class LaunchJob {
 public:
  // Nothing ends with the job: closing it, or this program's end, leaves its processes running,
  // so that a copy that finishes a removal in the background keeps working after the run. A
  // program that asks to break away from it may (it means to outlive its parent).
  LaunchJob();
  LaunchJob(const LaunchJob&) = delete;
  LaunchJob& operator=(const LaunchJob&) = delete;

  // Puts a process created suspended into the job and lets it run. When Windows refuses (no job
  // could be made; a job this program runs in forbids it, on Windows 7) it is logged once per
  // run and the process runs uncontained. False when the process could not be resumed.
  bool Start(const win32::ProcessInformation& process);
  // Ends every process of the job, or only the first one when it is not contained.
  void End(const win32::ProcessInformation& process, UINT exit_code) const;
  // What the job's processes (or the first one alone) have done so far; windows aside.
  LaunchActivity ReadActivity(const win32::ProcessInformation& process) const;
  bool contained() const { return contained_; }

 private:
  win32::UniqueHandle job_;
  bool contained_ = false;
};

// The job of a launch whose first process has ended, watched further as LaunchRemains.
std::unique_ptr<LaunchRemains> KeepRemains(std::unique_ptr<LaunchJob> job,
                                           std::unique_ptr<win32::ProcessInformation> process);

enum class LaunchEnd { kExited, kTimedOut, kStuckWindow };

// Waits for the first process (never for the job to be empty) up to `timeout_ms`. With a
// `stuck_window_ms` other than 0, reads the job's activity once a second and stops early when
// StuckWindowCheck says so; `window` then names the window. `wait_result` gets the last result of
// the wait on the process.
LaunchEnd WaitForLaunch(const LaunchJob& job, const win32::ProcessInformation& process,
                        DWORD timeout_ms, unsigned long stuck_window_ms, LaunchWindow* window,
                        DWORD* wait_result);

}  // namespace varnok
