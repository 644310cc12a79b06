#include <windows.h>

#include "inventory/inventory.h"
#include "inventory/system_registry.h"
#include "process/shell_restore.h"
#include "process/system_launch_platform.h"
#include "process/uninstall_execution.h"
#include "run/system_run_environment.h"
#include "uninstall/msiexec_path.h"
#include "uninstall/shared_uninstaller.h"

namespace varnok {
namespace {

class Win32RunEnvironment : public RunEnvironment {
 public:
  std::vector<UninstallEntry> GetUninstallEntries() override {
    return varnok::GetUninstallEntries(SystemRegistry(), IsRunningAsSystem());
  }
  bool IsUninstallEntryPresent(const UninstallEntry& entry) override {
    return varnok::IsUninstallEntryPresent(SystemRegistry(), entry);
  }
  std::string FindMainExecutable(const std::string& folder, const std::string& hint) override {
    return varnok::FindMainExecutable(folder, hint);
  }
  std::string GetFileVersion(const std::string& path) override {
    return varnok::GetFileVersion(path);
  }
  std::string GetMsiexecPath() override { return varnok::GetMsiexecPath(); }
  int ExecuteUninstallCommand(const UninstallEntry& entry, const UninstallCommand& command,
                              std::string* remarks) override {
    return varnok::ExecuteUninstallCommand(SystemLaunchPlatform(), command, OwnerSidOf(entry),
                                           remarks);
  }
  void RestoreDesktopShell() override { varnok::RestoreDesktopShell(); }
  void Sleep(unsigned milliseconds) override { ::Sleep(milliseconds); }
};

}  // namespace

RunEnvironment& SystemRunEnvironment() {
  static Win32RunEnvironment environment;
  return environment;
}

}  // namespace varnok
