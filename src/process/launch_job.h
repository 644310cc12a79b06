// Holding a launched uninstaller and everything it starts in one job object, so that its end at
// the time-out takes its helpers with it, and watching it for a window nobody can answer.
// Windows build only.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "process/launch_job_plan.h"
#include "process/stuck_window.h"
#include "win32/unique_handle.h"

namespace varnok {

// This program's own place in a job, read once (see PlanDirectLaunch).
const JobFacts& ReadJobFacts();

class LaunchJob {
 public:
  // A job when `plan.own_job`, else none. Nothing ends with the job: closing it, or this
  // program's end, leaves its processes running, so that a copy that finishes a removal in the
  // background keeps working after the run. A program that asks to break away from it may (it
  // means to outlive its parent).
  explicit LaunchJob(const JobPlan& plan);
  LaunchJob(const LaunchJob&) = delete;
  LaunchJob& operator=(const LaunchJob&) = delete;

  // Puts a process created suspended into the job and lets it run. Without a job, or when
  // Windows refuses, it is logged once per run and the process runs uncontained. False when the
  // process could not be resumed.
  bool Start(const win32::ProcessInformation& process);
  // Ends every process of the job, or only the first one when it is not contained.
  void End(const win32::ProcessInformation& process, UINT exit_code) const;
  // The Windows Installer service, working for a removal from outside the job: its work counts
  // as the launch's (it is never ended, and never watched for windows).
  void CountInstallerService() { installer_service_ = true; }
  // What the job's processes (or the first one alone) have done so far: the job's accounting,
  // their live threads' times and cycles, and those of the installer service when it counts;
  // windows aside.
  LaunchActivity ReadActivity(const win32::ProcessInformation& process) const;
  bool contained() const { return contained_; }

 private:
  win32::UniqueHandle job_;
  bool contained_ = false;
  bool installer_service_ = false;
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
