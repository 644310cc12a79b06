// The run's environment over a registry and a platform: what the program uses, with the Win32
// registry and platform, and what host tests use with fakes of both, so that the way from an
// inventory row to a launch is tested as it is wired.
#pragma once

#include "inventory/registry_source.h"
#include "inventory/value_expansion.h"
#include "process/launch_platform.h"
#include "process/private_temp.h"
#include "process/shell_watch.h"
#include "run/run_deadline.h"
#include "run/run_environment.h"

namespace varnok {

class MachineRunEnvironment : public RunEnvironment {
 public:
  // `deadline`, when given, is told the run's deadline once the inventory has been read.
  MachineRunEnvironment(RegistrySource& registry, LaunchPlatform& platform,
                        ValueExpander& expander, RunDeadline* deadline = nullptr)
      : registry_(registry),
        platform_(platform),
        expander_(expander),
        deadline_(deadline),
        shells_(platform),
        installer_(platform),
        temps_(platform) {}

  std::vector<UninstallEntry> GetUninstallEntries() override;
  bool IsRunningAsSystem() override;
  void SetWorkDeadline(unsigned long long ms) override;
  bool IsUninstallEntryPresent(const UninstallEntry& entry) override;
  std::string GetMsiexecPath() override;
  RowAccess GetRowAccess(const UninstallEntry& entry) override;
  std::vector<ExpandedText> ExpandValues(const ExpansionEnvironment& environment,
                                         const std::vector<std::string>& texts) override;
  LocatedUninstaller LocateUninstaller(const RowAccess& access, std::string_view command,
                                       const std::string& install_location) override;
  std::string FindMainExecutable(const RowAccess& access, const std::string& folder,
                                 const std::string& hint) override;
  FileVersionInfo GetFileVersion(const RowAccess& access, const std::string& path) override;
  FileToRun PrepareFileToRun(const RowAccess& access, const std::string& file) override;
  void ReleaseFile(HeldFileId held) override;
  std::optional<std::string> CheckRowKey(const UninstallEntry& entry) override;
  RecognizedTechnology RecognizeTechnology(const RowAccess& access, const UninstallEntry& entry,
                                           const std::string& uninstaller) override;
  std::string TakeStalledStep() override;
  int ExecuteUninstallCommand(const UninstallEntry& entry, const UninstallCommand& command,
                              const LaunchTarget& target, std::string* remarks,
                              std::unique_ptr<LaunchRemains>* remains) override;
  void RestoreDesktopShell() override;
  void EndRow(bool launch_may_run) override;
  void EndRun() override;
  std::unique_ptr<KeyChangeWatch> WatchUninstallKey(const UninstallEntry& entry) override;
  unsigned long long NowMs() override;
  void Sleep(unsigned milliseconds) override;

 private:
  RegistrySource& registry_;
  LaunchPlatform& platform_;
  ValueExpander& expander_;
  RunDeadline* deadline_;
  ShellWatch shells_;
  InstallerLockWait installer_;
  PrivateTempFolders temps_;
};

}  // namespace varnok
