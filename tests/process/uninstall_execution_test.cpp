#include "process/uninstall_execution.h"

#include <gtest/gtest.h>

#include <set>

#include "support/host/log_capture.h"

namespace varnok {
namespace {

// A machine as the launch sees it, recording every launch.
class FakeLaunchPlatform : public LaunchPlatform {
 public:
  bool system = false;
  SessionList sessions;
  std::set<std::string> files;
  std::set<std::string> directories;
  std::map<std::string, std::vector<std::string>> listings;
  int result = 0;

  std::vector<std::string> calls;
  int session_queries = 0;

  bool IsRunningAsSystem() override { return system; }
  SessionList GetActiveUserSessions() override {
    ++session_queries;
    return sessions;
  }
  int CreateProcessInUserSession(const std::string& command_line, unsigned minutes,
                                 unsigned long session_id, const std::string& executable,
                                 bool elevate) override {
    calls.push_back("session " + std::to_string(session_id) + " [" + executable + "] [" + command_line +
                    "] " + std::to_string(minutes) + (elevate ? " elevated" : ""));
    return result;
  }
  int ExecuteFile(const std::string& command_line, const std::string& executable,
                  const std::string& working_directory, unsigned minutes) override {
    calls.push_back("direct [" + command_line + "] [" + executable + "] in [" + working_directory +
                    "] " + std::to_string(minutes));
    return result;
  }
  void RestoreDesktopShell() override { calls.push_back("shell"); }
  std::string GetMsiexecPath() override { return "C:\\Windows\\system32\\msiexec.exe"; }
  bool IsExistingFile(const std::string& path) override { return files.count(path) != 0; }
  bool IsExistingDirectory(const std::string& path) override { return directories.count(path) != 0; }
  std::vector<std::string> ListFiles(const std::string& folder) override {
    const auto it = listings.find(folder);
    return it == listings.end() ? std::vector<std::string>() : it->second;
  }
};

const char kCode[] = "{12345678-90AB-CDEF-1234-567890ABCDEF}";
const char kOwner[] = "S-1-5-21-1-2-3-1002";

UninstallCommand Msi(bool per_user) {
  UninstallCommand c;
  c.is_msi = true;
  c.per_user = per_user;
  c.product_code = kCode;
  c.command_line = std::string("msiexec.exe /X ") + kCode + " /qn /norestart";
  c.executable = "C:\\Windows\\system32\\msiexec.exe";
  c.arguments = std::string("/X ") + kCode + " /qn /norestart";
  return c;
}

UninstallCommand Exe(bool per_user, const std::string& exe, const std::string& args) {
  UninstallCommand c;
  c.per_user = per_user;
  c.executable = exe;
  c.arguments = args;
  c.command_line = "\"" + exe + "\"" + (args.empty() ? "" : " " + args);
  c.search_folders = {""};
  return c;
}

SessionList TwoUsers() {
  // "Alice" sorts first but does not own the row.
  return {{"Alice", {2, "S-1-5-21-1-2-3-1001"}}, {"bob", {3, kOwner}}};
}

TEST(ExecuteUninstallCommand, RoutesEachKindOfRow) {
  const std::string msi_direct = std::string("direct [\"C:\\Windows\\system32\\msiexec.exe\" /X ") + kCode +
                                 " /qn /norestart] [] in [C:\\Windows\\system32] 30";
  struct Row {
    const char* what;
    bool system;
    SessionList sessions;
    UninstallCommand command;
    int result;
    std::vector<std::string> calls;
    bool asked_for_sessions;
  };
  const Row rows[] = {
      {"machine-wide MSI under SYSTEM with users logged on", true, TwoUsers(), Msi(false), 0,
       {msi_direct, "shell"}, false},
      {"per-user MSI in its owner's session, not the first name's", true, TwoUsers(), Msi(true), 0,
       {std::string("session 3 [C:\\Windows\\system32\\msiexec.exe] [ /X ") + kCode + " /qn /norestart] 30", "shell"},
       true},
      {"per-user MSI whose owner is absent falls back to msiexec", true,
       {{"Alice", {2, "S-1-5-21-1-2-3-1001"}}}, Msi(true), 0, {msi_direct, "shell"}, true},
      {"per-user row of a normal user runs directly", false, TwoUsers(), Exe(true, "C:\\u.exe", "/S"), 0,
       {"direct [\"C:\\u.exe\" /S] [] in [C:] 30", "shell"}, false},
      {"machine-wide EXE under SYSTEM", true, TwoUsers(), Exe(false, "C:\\App\\u.exe", ""), 0,
       {"direct [\"C:\\App\\u.exe\"] [] in [C:\\App] 30", "shell"}, false},
      {"per-user EXE in its owner's session", true, TwoUsers(), Exe(true, "C:\\u.exe", "/S"), 0,
       {"session 3 [C:\\u.exe] [ /S] 30", "shell"}, true},
      {"per-user EXE without arguments gets no command line", true, TwoUsers(), Exe(true, "C:\\u.exe", ""), 0,
       {"session 3 [C:\\u.exe] [] 30", "shell"}, true},
      {"per-user EXE whose owner is absent is refused", true, {{"Alice", {2, "S-1-5-21-1-2-3-1001"}}},
       Exe(true, "C:\\u.exe", "/S"), 1312, {}, true},
      {"per-user EXE with nobody logged on is refused", true, {}, Exe(true, "C:\\u.exe", "/S"), 1312, {}, true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    FakeLaunchPlatform platform;
    platform.system = row.system;
    platform.sessions = row.sessions;
    platform.files = {"C:\\u.exe", "C:\\App\\u.exe"};
    std::string remarks = "stale";
    EXPECT_EQ(ExecuteUninstallCommand(platform, row.command, kOwner, &remarks), row.result);
    EXPECT_EQ(platform.calls, row.calls);
    EXPECT_EQ(platform.session_queries > 0, row.asked_for_sessions);
    EXPECT_EQ(remarks, row.result == 1312
                           ? "Owner of the per-user row is not logged on; uninstaller not run as SYSTEM."
                           : "");
  }
}

TEST(ExecuteUninstallCommand, RefusalIsLoggedWithTheOwner) {
  FakeLaunchPlatform platform;
  platform.system = true;
  platform.files = {"C:\\u.exe"};
  std::string remarks;
  testing::TakeLogLines();
  ExecuteUninstallCommand(platform, Exe(true, "C:\\u.exe", ""), kOwner, &remarks);
  const auto lines = testing::TakeLogLines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].message, "operation : ExecuteUninstallCommand; command_line : \"\"C:\\u.exe\"\";");
  EXPECT_EQ(lines[1].level, LogLevel::kError);
  EXPECT_EQ(lines[1].message,
            "operation : ExecuteUninstallCommand; status : failure; remarks : \"Per-user uninstaller not "
            "run: the owner of the row has no interactive session, and it is never run as SYSTEM\"; sid : "
            "\"S-1-5-21-1-2-3-1002\";");
}

TEST(ExecuteUninstallCommand, FindsAMovedUninstallerOrGivesUp) {
  FakeLaunchPlatform platform;
  platform.directories = {"D:\\App", "C:\\Old", "E:\\Empty"};
  platform.files = {"C:\\Old"};  // never consulted as a file: it is a folder
  platform.listings["D:\\App"] = {"D:\\App\\readme.txt", "D:\\App\\UNINS000.EXE"};
  UninstallCommand moved = Exe(false, "C:\\Old\\unins000.exe", "/VERYSILENT");
  moved.search_folders = {"", "E:\\Missing", "E:\\Empty", "D:\\App"};
  std::string remarks;
  EXPECT_EQ(ExecuteUninstallCommand(platform, moved, "", &remarks), 0);
  EXPECT_EQ(platform.calls, (std::vector<std::string>{
                                "direct [\"D:\\App\\UNINS000.EXE\" /VERYSILENT] [] in [D:\\App] 30", "shell"}));

  FakeLaunchPlatform nowhere;
  nowhere.directories = {"C:\\Old"};  // the executable path names a folder: it counts as missing
  UninstallCommand gone = Exe(false, "C:\\Old", "");
  gone.search_folders = {"C:\\Nope"};
  EXPECT_EQ(ExecuteUninstallCommand(nowhere, gone, "", &remarks), 51005);
  EXPECT_EQ(remarks, "Uninstall executable not found on disk: C:\\Old. Files may already be removed; only "
                     "a leftover registry entry remains.");
  EXPECT_TRUE(nowhere.calls.empty());

  UninstallCommand empty;
  testing::TakeLogLines();
  EXPECT_EQ(ExecuteUninstallCommand(nowhere, empty, "", &remarks), 87);
  EXPECT_EQ(remarks, "Uninstall command could not be constructed");
  EXPECT_TRUE(testing::TakeLogLines().empty());
}

TEST(FindOwnerSession, NameOrderDecidesAmongTheOwnersSessions) {
  const SessionList sessions = {{"Bob", {7, "s-1-5-21-9"}}, {"bob", {8, "S-1-5-21-9"}}, {"ann", {9, "S-1-5-21-8"}}};
  ASSERT_NE(FindOwnerSession(sessions, "S-1-5-21-9"), nullptr);
  EXPECT_EQ(FindOwnerSession(sessions, "S-1-5-21-9")->session_id, 7u);
  EXPECT_EQ(FindOwnerSession(sessions, "S-1-5-21-7"), nullptr);
  EXPECT_EQ(FindOwnerSession(sessions, ""), nullptr);
  EXPECT_EQ(FindOwnerSession({{"x", {4, ""}}}, ""), nullptr);  // an unread SID never matches
}

}  // namespace
}  // namespace varnok
