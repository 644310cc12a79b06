// What one uninstall run needs from the machine. The program passes MachineRunEnvironment over
// the real registry and platform; host tests of the driver pass a fake, so that every branch of
// the run (including the waits) runs in milliseconds.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "inventory/registry_source.h"
#include "inventory/uninstall_entry.h"
#include "inventory/value_expansion.h"
#include "process/row_files.h"
#include "process/uninstall_execution.h"
#include "uninstall/installer_technology.h"
#include "uninstall/uninstall_command.h"

namespace varnok {

class RunEnvironment {
 public:
  virtual ~RunEnvironment() = default;
  virtual std::vector<UninstallEntry> GetUninstallEntries() = 0;
  virtual bool IsRunningAsSystem() = 0;
  // The run must have ended `ms` from now (see RunDeadline); the inventory has been read.
  virtual void SetWorkDeadline(unsigned long long ms) = 0;
  virtual bool IsUninstallEntryPresent(const UninstallEntry& entry) = 0;
  virtual std::string GetMsiexecPath() = 0;

  // Whose row it is and how it is handled (see ResolveRowAccess).
  virtual RowAccess GetRowAccess(const UninstallEntry& entry) = 0;
  // The REG_EXPAND_SZ texts of one row expanded in `environment` (see ValueExpander::Expand).
  virtual std::vector<ExpandedText> ExpandValues(const ExpansionEnvironment& environment,
                                                 const std::vector<std::string>& texts) = 0;
  // The file-system steps of a row, done as `access` says (see RowFiles).
  virtual LocatedUninstaller LocateUninstaller(const RowAccess& access, std::string_view command,
                                               const std::string& install_location) = 0;
  virtual std::string FindMainExecutable(const RowAccess& access, const std::string& folder,
                                         const std::string& hint) = 0;
  // Read and logged (see GetFileVersion).
  virtual FileVersionInfo GetFileVersion(const RowAccess& access, const std::string& path) = 0;
  // The file a row will run, made ready for its launch (see PrepareFileToRun), and a file it held
  // released again (once the launch has released it, or when it is not launched).
  virtual FileToRun PrepareFileToRun(const RowAccess& access, const std::string& file) = 0;
  virtual void ReleaseFile(HeldFileId held) = 0;
  // Under LocalSystem, for a machine-wide row: why its registry key may not be trusted (logged,
  // see JudgeRowKey); nullopt for every other row.
  virtual std::optional<std::string> CheckRowKey(const UninstallEntry& entry) = 0;
  // The tool that built the row's uninstaller `uninstaller` (the file that will run, or empty),
  // from the row's values and, read as `access` says, its file (see RecognizeTechnology).
  virtual RecognizedTechnology RecognizeTechnology(const RowAccess& access,
                                                   const UninstallEntry& entry,
                                                   const std::string& uninstaller) = 0;
  // The path of a file step above that gave up since the last call, or empty (see
  // LaunchPlatform::TakeStalledStep).
  virtual std::string TakeStalledStep() = 0;

  // Runs the command built for `entry` (see ExecuteUninstallCommand); returns the exit code and
  // fills `remarks`, and `remains` with what a launch watched in session 0 left running.
  virtual int ExecuteUninstallCommand(const UninstallEntry& entry, const UninstallCommand& command,
                                      const LaunchTarget& target, std::string* remarks,
                                      std::unique_ptr<LaunchRemains>* remains) = 0;
  virtual void RestoreDesktopShell() = 0;
  // After a row that was launched: its launches' private temporary folders are removed unless
  // something they started may still run (see PrivateTempFolders).
  virtual void EndRow(bool launch_may_run) = 0;
  // At the end of the run: the private temporary folders left are removed as far as possible.
  virtual void EndRun() = 0;
  // Wakes when the Uninstall key that holds `entry` changes (or, where that cannot be watched,
  // only at the end of each wait). Watching starts here, so a row that leaves after this call
  // is never missed.
  virtual std::unique_ptr<KeyChangeWatch> WatchUninstallKey(const UninstallEntry& entry) = 0;
  virtual unsigned long long NowMs() = 0;
  virtual void Sleep(unsigned milliseconds) = 0;
};

}  // namespace varnok
