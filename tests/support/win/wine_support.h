// Helpers for tests that run under Wine against the real Win32 API.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "win32/unique_handle.h"

namespace varnok::testing {

// Folder of the running test executable; the program under test sits there and the test tools
// in its tools\ subfolder.
std::string TestBinDir();
std::string ProgramPath();
std::string ToolPath(const std::string& exe_name);

// A fresh folder below %TEMP%, removed with its content at destruction.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "\\" + name; }

 private:
  std::string path_;
};

// Points the agent's install-directory value (32-bit view) at `dir` for the test's lifetime.
class AgentInstallDir {
 public:
  explicit AgentInstallDir(const std::string& dir);
  ~AgentInstallDir();
  AgentInstallDir(const AgentInstallDir&) = delete;
  AgentInstallDir& operator=(const AgentInstallDir&) = delete;
};

// A started process with both handles owned.
class Child {
 public:
  explicit Child(const std::string& command_line);
  bool started() const { return started_; }
  // Waits up to timeout_ms; returns the exit code, or STILL_ACTIVE when it is still running.
  DWORD Wait(DWORD timeout_ms);
  void Kill(DWORD exit_code);

 private:
  win32::ProcessInformation info_;
  bool started_ = false;
};

struct RunResult {
  DWORD exit_code = 0;
  ULONGLONG elapsed_ms = 0;
};
// Runs a command line to its end (at most timeout_ms, then it is killed with 258).
RunResult RunCommand(const std::string& command_line, DWORD timeout_ms = 120000);

// Waits until the named manual-reset event exists and is set.
bool WaitForNamedEvent(const char* name, DWORD timeout_ms);

bool FileExists(const std::string& path);
std::string ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const std::string& bytes);
// The file split at CR LF; a final line without CR LF is returned as well.
std::vector<std::string> ReadCrLfLines(const std::string& path);

}  // namespace varnok::testing
