// A test that runs the real app_varnok.exe with the agent's log directory in a fresh folder.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "support/win/wine_support.h"

namespace varnok::testing {

inline std::string Quote(const std::string& text) { return "\"" + text + "\""; }

// True while the Uninstall row `key` exists under `root` in `view`.
inline bool RowExists(HKEY root, REGSAM view, const std::string& key) {
  win32::UniqueRegKey opened;
  const std::string path = std::string(kUninstall) + "\\" + key;
  return RegOpenKeyExA(root, path.c_str(), 0, KEY_READ | view, opened.put()) == ERROR_SUCCESS;
}

class ProgramTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(CreateDirectoryA((install_ / "logs").c_str(), nullptr)); }

  // Runs the program with `arguments` and keeps the log it wrote. After timeout_ms it is ended
  // with 258.
  RunResult RunProgram(const std::string& arguments, DWORD timeout_ms = 300000) {
    const RunResult result = RunCommand(Quote(ProgramPath()) + " " + arguments, timeout_ms);
    log_ = ReadFileBytes(log_path_);
    return result;
  }
  bool Logged(const std::string& text) const { return log_.find(text) != std::string::npos; }

  TempDir install_;
  AgentInstallDir agent_{install_.path()};
  std::string log_path_ = install_ / "logs\\fmprereqhandler.log";
  std::string log_;
};

}  // namespace varnok::testing
