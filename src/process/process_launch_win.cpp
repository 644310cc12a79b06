#include <windows.h>

#include <cwchar>
#include <vector>

#include "log/log.h"
#include "process/launch_job.h"
#include "process/private_temp.h"
#include "process/process_launch.h"
#include "win32/grown_text.h"
#include "win32/text.h"
#include "win32/unique_handle.h"

namespace varnok {
namespace {

// This process's environment with TEMP and TMP set to `temp_folder`, as a block for
// CreateProcessW with CREATE_UNICODE_ENVIRONMENT. Every text came from Windows, so it goes back
// exactly.
std::wstring EnvironmentBlock(const std::string& temp_folder) {
  std::vector<std::string> entries;
  if (wchar_t* strings = ::GetEnvironmentStringsW()) {
    for (const wchar_t* entry = strings; *entry != L'\0'; entry += std::wcslen(entry) + 1) {
      entries.push_back(win32::Utf8(entry));
    }
    ::FreeEnvironmentStringsW(strings);
  }
  std::wstring block;
  for (const std::string& entry : EnvironmentWithTemp(entries, temp_folder)) {
    block += win32::Wide(entry);
    block += L'\0';
  }
  block += L'\0';
  return block;
}

DWORD WaitMilliseconds(unsigned minutes) {
  const unsigned long long ms = static_cast<unsigned long long>(minutes) * 60000ULL;
  return ms >= INFINITE ? INFINITE - 1 : static_cast<DWORD>(ms);
}

}  // namespace

std::string _GetCurrentDirectory() {
  const std::string directory = win32::ReadGrownText(
      [](wchar_t* buffer, DWORD chars) { return ::GetCurrentDirectoryW(chars, buffer); });
  if (!directory.empty()) return directory;
  LogError("operation : _GetCurrentDirectory; status : failure; remarks : \"Failed to get current "
           "directory\"; error_code : %d;",
           static_cast<int>(::GetLastError()));
  return std::string();
}

std::string _SetCurrentDirectory(const std::string& directory) {
  if (directory.empty()) {
    LogError("operation : _SetCurrentDirectory; status : failure; remarks : \"Directory to set "
             "cannot be empty\";");
    return std::string();
  }
  const std::string old_directory = _GetCurrentDirectory();
  if (old_directory.empty()) {
    LogError("operation : _SetCurrentDirectory; status : failure; remarks : \"Failed to get current "
             "directory before setting new directory\";");
    return std::string();
  }
  if (!::SetCurrentDirectoryW(win32::Wide(directory).c_str())) {
    LogError("operation : _SetCurrentDirectory; status : failure; remarks : \"Failed to set current "
             "directory to %s\"; error_code : %d;",
             directory.c_str(), static_cast<int>(::GetLastError()));
    return std::string();
  }
  LogInfo("operation : _SetCurrentDirectory; status : success; current_directory : \"%s\"; "
          "old_directory : \"%s\";",
          directory.c_str(), old_directory.c_str());
  return old_directory;
}

int ExecuteFile(const std::string& command_line, const std::string& executable,
                const std::string& working_directory, unsigned minutes,
                unsigned long stuck_window_ms, std::unique_ptr<LaunchRemains>* remains,
                bool installer_removal, const std::function<void()>& on_created,
                const std::string& temp_folder) {
  if (!ValidateCommandLine(command_line, executable)) {
    LogError("operation : ExecuteFile; status : failure; remarks : \"Invalid commandline or "
             "executable provided\";");
    return 87;
  }
  // Put back exactly once on every path below, whatever happens to the launch.
  struct DirectoryRestore {
    std::string saved;
    bool done = false;
    void Now() {
      if (!done) _SetCurrentDirectory(saved);
      done = true;
    }
    ~DirectoryRestore() { Now(); }
  } restore{_SetCurrentDirectory(working_directory)};

  // No show flag: Windows would hide the program's first window with it, and that is typically
  // its question, which the stuck-window watch must still find. CREATE_NO_WINDOW hides consoles.
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  // Both outlive this call when the launch's remains are kept.
  auto process_owner = std::make_unique<win32::ProcessInformation>();
  win32::ProcessInformation& process = *process_owner;
  BOOL created = FALSE;
  DWORD create_error = 0;
  const JobPlan plan = PlanDirectLaunch(ReadJobFacts());
  // A waited-for launch starts suspended, so that it is in its job before it can start anything.
  const DWORD flags = CREATE_NO_WINDOW | CREATE_UNICODE_ENVIRONMENT |
                      (minutes == 0 ? 0 : CREATE_SUSPENDED) |
                      (plan.break_away ? CREATE_BREAKAWAY_FROM_JOB : 0);
  std::wstring environment;
  if (!temp_folder.empty()) environment = EnvironmentBlock(temp_folder);
  {
    win32::WritableWide exe(executable);
    win32::WritableWide line(command_line);
    win32::WritableWide directory(working_directory);
    if (exe.converted() && line.converted() && directory.converted()) {
      created = ::CreateProcessW(exe.get(), line.get(), nullptr, nullptr, FALSE, flags,
                                 environment.empty() ? nullptr : environment.data(),
                                 directory.get(), &startup, process.put());
      create_error = ::GetLastError();
    } else {
      // Never started in another form than the one the row holds.
      LogError("operation : ExecuteFile; status : failure; remarks : \"Not started: the command "
               "cannot be converted exactly to Windows' text\"; command_line : \"%s\";",
               command_line.c_str());
      create_error = ERROR_NO_UNICODE_TRANSLATION;
    }
  }
  // The image is mapped now: a file held until here may be let go, so that the uninstaller's
  // own copy can delete it.
  if (on_created) on_created();
  // Windows does not delete a folder that is a process's current directory: the uninstaller's
  // own folder is given back before the wait, so that the uninstaller can remove it.
  restore.Now();
  if (!created) {
    LogError("operation : ExecuteFile; remarks : \"Failed to create process for executable (%s) "
             "with commandline (%s)\"; error_code : %d;",
             executable.c_str(), command_line.c_str(), static_cast<int>(create_error));
    return static_cast<int>(create_error);
  }
  if (minutes == 0) {
    LogInfo("operation : ExecuteFile; remarks : \"Process created successfully. No timeout "
            "configured. Hence returning immediately.\";");
    return 0;
  }
  auto job_owner = std::make_unique<LaunchJob>(plan);
  LaunchJob& job = *job_owner;
  if (installer_removal) job.CountInstallerService();
  if (!job.Start(process)) {
    const DWORD error = ::GetLastError();
    ::TerminateProcess(process.process(), kProcessTimedOut);
    LogError("operation : ExecuteFile; remarks : \"Failed to create process for executable (%s) "
             "with commandline (%s)\"; error_code : %d;",
             executable.c_str(), command_line.c_str(), static_cast<int>(error));
    return static_cast<int>(error);
  }
  LogInfo("operation : ExecuteFile; remarks : \"Process created successfully. Waiting for process to "
          "complete with timeout %d minutes.\"; timeout : %d;",
          static_cast<int>(minutes), static_cast<int>(minutes));
  LaunchWindow window;
  DWORD wait = 0;
  switch (WaitForLaunch(job, process, WaitMilliseconds(minutes), stuck_window_ms, &window, &wait)) {
    case LaunchEnd::kStuckWindow:
      LogStuckWindow(window, stuck_window_ms);
      job.End(process, kProcessTimedOut);
      return kProcessTimedOut;
    case LaunchEnd::kTimedOut:
      LogError("operation : ExecuteFile; remarks : \"Process did not complete within the timeout "
               "period. Terminating process.\"; error_code : %d;",
               static_cast<int>(wait));
      job.End(process, kProcessTimedOut);
      return kProcessTimedOut;
    case LaunchEnd::kExited:
      break;
  }
  DWORD exit_code = 0;
  if (!::GetExitCodeProcess(process.process(), &exit_code)) exit_code = ::GetLastError();
  if (remains && job.contained()) {
    *remains = KeepRemains(std::move(job_owner), std::move(process_owner));
  }
  const int result = static_cast<int>(exit_code);
  LogInfo("operation : ExecuteFile; remarks : \"Process exited with exit code %d\"; exit_code : %d;",
          result, result);
  return result;
}

}  // namespace varnok
