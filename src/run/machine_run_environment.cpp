#include "run/machine_run_environment.h"

#include "inventory/inventory.h"

namespace varnok {

std::vector<UninstallEntry> MachineRunEnvironment::GetUninstallEntries() {
  return varnok::GetUninstallEntries(registry_, platform_.IsRunningAsSystem(),
                                     !platform_.IsWindows64Bit());
}

bool MachineRunEnvironment::IsRunningAsSystem() { return platform_.IsRunningAsSystem(); }

void MachineRunEnvironment::SetWorkDeadline(unsigned long long ms) {
  if (deadline_) deadline_->Set(ms);
}

bool MachineRunEnvironment::IsUninstallEntryPresent(const UninstallEntry& entry) {
  return varnok::IsUninstallEntryPresent(registry_, entry);
}

std::string MachineRunEnvironment::GetMsiexecPath() { return platform_.GetMsiexecPath(); }

RowAccess MachineRunEnvironment::GetRowAccess(const UninstallEntry& entry) {
  return ResolveRowAccess(platform_, entry);
}

std::vector<ExpandedText> MachineRunEnvironment::ExpandValues(
    const ExpansionEnvironment& environment, const std::vector<std::string>& texts) {
  return expander_.Expand(environment, texts);
}

LocatedUninstaller MachineRunEnvironment::LocateUninstaller(const RowAccess& access,
                                                            std::string_view command,
                                                            const std::string& install_location) {
  RowFiles files(platform_, access);
  return varnok::LocateUninstaller(files, command, {install_location});
}

std::string MachineRunEnvironment::FindMainExecutable(const RowAccess& access,
                                                      const std::string& folder,
                                                      const std::string& hint) {
  RowFiles files(platform_, access);
  return varnok::FindMainExecutable(files, folder, hint);
}

FileVersionInfo MachineRunEnvironment::GetFileVersion(const RowAccess& access,
                                                      const std::string& path) {
  RowFiles files(platform_, access);
  return varnok::GetFileVersion(files, path);
}

FileToRun MachineRunEnvironment::PrepareFileToRun(const RowAccess& access,
                                                  const std::string& file) {
  return varnok::PrepareFileToRun(platform_, access, file);
}

void MachineRunEnvironment::ReleaseFile(HeldFileId held) { platform_.ReleaseFile(held); }

std::optional<std::string> MachineRunEnvironment::CheckRowKey(const UninstallEntry& entry) {
  // A user's own rows are handled as that user; only a machine-wide row is trusted for more.
  if (entry.root != RegistryRoot::kLocalMachine || !platform_.IsRunningAsSystem()) {
    return std::nullopt;
  }
  FileSecurity security;
  const unsigned long error = ReadRowKeySecurity(registry_, entry, &security);
  const std::string key = "HKEY_LOCAL_MACHINE\\" + entry.registry_path + " (" + entry.arch + ")";
  return JudgeRowKey(platform_, key, error, security);
}

RecognizedTechnology MachineRunEnvironment::RecognizeTechnology(const RowAccess& access,
                                                                const UninstallEntry& entry,
                                                                const std::string& uninstaller) {
  RowFiles files(platform_, access);
  return varnok::RecognizeTechnology(entry, GetRowValueNames(registry_, entry), uninstaller, files);
}

std::string MachineRunEnvironment::TakeStalledStep() { return platform_.TakeStalledStep(); }

int MachineRunEnvironment::ExecuteUninstallCommand(const UninstallEntry&,
                                                   const UninstallCommand& command,
                                                   const LaunchTarget& target,
                                                   std::string* remarks,
                                                   std::unique_ptr<LaunchRemains>* remains) {
  return varnok::ExecuteUninstallCommand(platform_, shells_, installer_, temps_, command, target,
                                         remarks, remains);
}

void MachineRunEnvironment::RestoreDesktopShell() { shells_.AtRunEnd(); }

void MachineRunEnvironment::EndRow(bool launch_may_run) { temps_.AfterRow(launch_may_run); }

void MachineRunEnvironment::EndRun() { temps_.AtRunEnd(); }

namespace {

// Where the key cannot be watched, each wait runs its whole time.
class SleepOnly : public KeyChangeWatch {
 public:
  explicit SleepOnly(LaunchPlatform& platform) : platform_(platform) {}
  bool Wait(unsigned long timeout_ms) override {
    platform_.Sleep(timeout_ms);
    return false;
  }

 private:
  LaunchPlatform& platform_;
};

}  // namespace

std::unique_ptr<KeyChangeWatch> MachineRunEnvironment::WatchUninstallKey(
    const UninstallEntry& entry) {
  const size_t last = entry.registry_path.rfind('\\');
  if (last != std::string::npos) {
    if (std::unique_ptr<KeyChangeWatch> watch = registry_.WatchKey(
            entry.root, ViewOf(entry.view_64bit), entry.registry_path.substr(0, last))) {
      return watch;
    }
  }
  return std::make_unique<SleepOnly>(platform_);
}

unsigned long long MachineRunEnvironment::NowMs() { return platform_.NowMs(); }

void MachineRunEnvironment::Sleep(unsigned milliseconds) { platform_.Sleep(milliseconds); }

}  // namespace varnok
