// Starting a program in this process's own context, hidden, with a time-out in minutes.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "process/stuck_window.h"

namespace varnok {

constexpr int kProcessTimedOut = 258;  // WAIT_TIMEOUT; also the exit code given to a killed process

// Accepts any pair with a non-blank executable; otherwise the trimmed command line must be
// non-empty and begin with a double quote or an apostrophe. Logs why it rejects.
bool ValidateCommandLine(const std::string& command_line, const std::string& executable);

// Windows build only.
// Starts the program with CREATE_NO_WINDOW in `working_directory` (switching the process's current
// directory for the launch and back on every path) and waits up to `minutes` (0: no wait). A
// waited-for program runs in a job (see LaunchJob): at the time-out everything it started ends
// with it. With a `stuck_window_ms` other than 0, a program that shows a window and does nothing
// for that long is ended as at the time-out (see StuckWindowCheck). With `remains` given, a
// program that exited on its own hands over its job, so that what it left running can still be
// watched (set only when the program ran in a job of its own). For an `installer_removal`, the
// Windows Installer service's work counts as the program's own. The program gets
// `working_directory` as its current directory; this process's own is given back as soon as the
// program has been created. Where this process runs in a job, the launch is placed as
// PlanDirectLaunch says. With a `temp_folder`, the program gets this process's environment with
// TEMP and TMP set to it (see EnvironmentWithTemp); otherwise it inherits the environment.
// `on_created` (when given) is called as soon as CreateProcess has returned, whether it started the
// program or not.
// Returns 87 for rejected input, the Win32 error when it cannot start, 0 when not waited for, 258
// when ended at the time-out or at a stuck window, else the exit code.
int ExecuteFile(const std::string& command_line, const std::string& executable,
                const std::string& working_directory, unsigned minutes,
                unsigned long stuck_window_ms = 0,
                std::unique_ptr<LaunchRemains>* remains = nullptr, bool installer_removal = false,
                const std::function<void()>& on_created = nullptr,
                const std::string& temp_folder = std::string());
// The current directory, or empty (logged) on failure.
std::string _GetCurrentDirectory();
// Changes the current directory; returns the previous one, or empty (logged) when nothing changed.
std::string _SetCurrentDirectory(const std::string& directory);

}  // namespace varnok
