// What one uninstall run needs from the machine. The Windows build passes the real operations;
// host tests pass a fake, so that every branch of the run (including the waits) runs in
// milliseconds.
#pragma once

#include <string>
#include <vector>

#include "inventory/uninstall_entry.h"
#include "uninstall/uninstall_command.h"

namespace varnok {

class RunEnvironment {
 public:
  virtual ~RunEnvironment() = default;
  virtual std::vector<UninstallEntry> GetUninstallEntries() = 0;
  virtual bool IsUninstallEntryPresent(const UninstallEntry& entry) = 0;
  virtual std::string FindMainExecutable(const std::string& folder, const std::string& hint) = 0;
  virtual std::string GetFileVersion(const std::string& path) = 0;
  virtual std::string GetMsiexecPath() = 0;
  // Runs the command built for `entry`; returns the exit code and fills `remarks` (see
  // ExecuteUninstallCommand).
  virtual int ExecuteUninstallCommand(const UninstallEntry& entry, const UninstallCommand& command,
                                      std::string* remarks) = 0;
  virtual void RestoreDesktopShell() = 0;
  virtual void Sleep(unsigned milliseconds) = 0;
};

}  // namespace varnok
