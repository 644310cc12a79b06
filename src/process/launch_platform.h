// What running an uninstaller needs from the machine. The Windows build passes the real calls;
// host tests pass a fake, because LocalSystem, other users' sessions and their tokens cannot be
// shown under Wine.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace varnok {

// One logged-on user's session.
struct UserSession {
  unsigned long session_id = 0;
  std::string sid;  // the user token's SID ("S-1-5-21-..."); empty when it could not be read
};

// Keyed by user name, in byte order (upper case before lower case); one entry per user name,
// holding the session enumerated last.
using SessionList = std::map<std::string, UserSession>;

class LaunchPlatform {
 public:
  virtual ~LaunchPlatform() = default;

  virtual bool IsRunningAsSystem() = 0;
  virtual SessionList GetActiveUserSessions() = 0;
  virtual int CreateProcessInUserSession(const std::string& command_line, unsigned minutes,
                                         unsigned long session_id, const std::string& executable,
                                         bool elevate) = 0;
  virtual int ExecuteFile(const std::string& command_line, const std::string& executable,
                          const std::string& working_directory, unsigned minutes) = 0;
  virtual void RestoreDesktopShell() = 0;
  virtual std::string GetMsiexecPath() = 0;

  // The file system, for finding an uninstaller that was moved.
  virtual bool IsExistingFile(const std::string& path) = 0;
  virtual bool IsExistingDirectory(const std::string& path) = 0;
  virtual std::vector<std::string> ListFiles(const std::string& folder) = 0;
};

}  // namespace varnok
