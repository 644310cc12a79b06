// Helpers for tests that run under Wine against the real Win32 API.
#pragma once

#include <windows.h>

#include <string>
#include <tuple>
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

constexpr char kUninstall[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

// Rows this test writes; removed again at the end of the test.
class ScratchRows {
 public:
  ScratchRows() : tag_("VarnokTest-" + std::to_string(GetCurrentProcessId()) + "-") {}
  ~ScratchRows() {
    for (const auto& [root, view, name] : created_) {
      win32::UniqueRegKey uninstall;
      if (RegOpenKeyExA(root, kUninstall, 0, KEY_ALL_ACCESS | view, uninstall.put()) == 0) {
        RegDeleteKeyExA(uninstall.get(), name.c_str(), view, 0);
      }
    }
  }
  std::string Name(const std::string& suffix) const { return tag_ + suffix; }

  // Creates the row key and returns it open for writing values.
  win32::UniqueRegKey Create(HKEY root, REGSAM view, const std::string& suffix) {
    win32::UniqueRegKey key;
    const std::string path = std::string(kUninstall) + "\\" + Name(suffix);
    RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | view, nullptr, key.put(),
                    nullptr);
    created_.push_back({root, view, Name(suffix)});
    return key;
  }
  static void Set(HKEY key, const char* name, DWORD type, const std::string& bytes) {
    RegSetValueExA(key, name, 0, type, reinterpret_cast<const BYTE*>(bytes.data()),
                   static_cast<DWORD>(bytes.size()));
  }
  static void SetText(HKEY key, const char* name, const std::string& text) {
    Set(key, name, REG_SZ, text + std::string(1, '\0'));
  }

 private:
  std::string tag_;
  std::vector<std::tuple<HKEY, REGSAM, std::string>> created_;
};

// How many processes other than this one have the image name `name` (ignoring case), from a
// process snapshot of the test's own: code under test that looks for processes is judged by it.
int ProcessCount(const std::string& name);

// Makes sure a desktop shell runs, as on a real machine, and waits (up to 10 s) until it shows.
// Wine's own shell comes and goes with the programs that use the desktop, and starts late.
bool EnsureDesktopShell();

// The SID of this process's user, read from its token by the test itself.
std::string CurrentUserSid();

bool FileExists(const std::string& path);
std::string ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const std::string& bytes);
// The file split at CR LF; a final line without CR LF is returned as well.
std::vector<std::string> ReadCrLfLines(const std::string& path);

}  // namespace varnok::testing
