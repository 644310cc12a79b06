#include "process/row_files.h"

#include <gtest/gtest.h>

#include "support/host/fake_launch_platform.h"
#include "support/host/log_capture.h"

namespace varnok {
namespace {

using testing::FakeLaunchPlatform;
using Route = RowAccess::Route;

const char kOwner[] = "S-1-5-21-1-2-3-1002";
const std::string kU = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

UninstallEntry UserRow(const std::string& sid) {
  UninstallEntry e;
  e.root = RegistryRoot::kUsers;
  e.registry_path = sid + "\\" + kU + "Foo";
  e.display_name = "Foo";
  return e;
}

UninstallEntry MachineRow() {
  UninstallEntry e;
  e.root = RegistryRoot::kLocalMachine;
  e.registry_path = kU + "Foo";
  e.display_name = "Foo";
  return e;
}

TEST(ResolveRowAccess, PerUserRowsUnderSystemBelongToTheirOwnersSession) {
  struct Case {
    const char* what;
    bool system;
    UninstallEntry entry;
    SessionList sessions;
    std::set<unsigned long> unusable;
    Route route;
    unsigned long session;
    bool asked;
  };
  UninstallEntry hkcu = MachineRow();
  hkcu.root = RegistryRoot::kCurrentUser;
  const SessionList two = {{"Alice", {2, "S-1-5-21-1-2-3-1001"}}, {"bob", {3, kOwner}}};
  const Case cases[] = {
      {"machine-wide row under SYSTEM", true, MachineRow(), two, {}, Route::kDirect, 0, false},
      {"per-user row of a normal user's run", false, UserRow(kOwner), two, {}, Route::kDirect, 0, false},
      {"HKCU row of a normal user's run", false, hkcu, two, {}, Route::kDirect, 0, false},
      {"owner's session, not the first name's", true, UserRow(kOwner), two, {}, Route::kOwnerSession, 3, true},
      {"owner not logged on", true, UserRow(kOwner), {{"Alice", {2, "S-1-5-21-1-2-3-1001"}}}, {},
       Route::kNoOwnerSession, 0, true},
      {"nobody logged on", true, UserRow(kOwner), {}, {}, Route::kNoOwnerSession, 0, true},
      {"owner's token unusable", true, UserRow(kOwner), two, {3}, Route::kOwnerUnavailable, 3, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakeLaunchPlatform platform;
    platform.system = c.system;
    platform.sessions = c.sessions;
    platform.unusable_sessions = c.unusable;
    const RowAccess access = ResolveRowAccess(platform, c.entry);
    EXPECT_EQ(access.route, c.route);
    EXPECT_EQ(access.session_id, c.session);
    EXPECT_EQ(platform.session_queries > 0, c.asked);
    EXPECT_FALSE(platform.acting_as_owner());  // never left acting as the owner
    if (c.asked) {
      EXPECT_EQ(access.owner_sid, kOwner);
    }
  }
}

RowAccess OwnerAccess(unsigned long session) {
  RowAccess access;
  access.route = Route::kOwnerSession;
  access.session_id = session;
  access.owner_sid = kOwner;
  return access;
}

TEST(RowFiles, EveryStepOfAnOwnersRowIsDoneAsTheOwnerAndNothingLeavesTheMachine) {
  FakeLaunchPlatform platform;
  platform.files = {"C:\\Users\\bob\\App\\u.exe"};
  platform.directories = {"C:\\Users\\bob\\App"};
  platform.listings["C:\\Users\\bob\\App"] = {"C:\\Users\\bob\\App\\u.exe"};
  RowFiles owner(platform, OwnerAccess(3));
  EXPECT_TRUE(owner.IsFile("C:\\Users\\bob\\App\\u.exe"));
  EXPECT_TRUE(owner.IsDirectory("C:\\Users\\bob\\App"));
  EXPECT_EQ(owner.ListFiles("C:\\Users\\bob\\App").size(), 1u);
  owner.FileSize("C:\\Users\\bob\\App\\u.exe");
  owner.ReadFileVersion("C:\\Users\\bob\\App\\u.exe");
  // Never opened, whoever asks: a share, a device, a relative path.
  EXPECT_FALSE(owner.IsFile("\\\\attacker\\share\\u.exe"));
  EXPECT_TRUE(owner.ListFiles("\\\\?\\C:\\Users").empty());
  EXPECT_EQ(owner.FileSize("u.exe"), -1);
  RowFiles direct(platform, RowAccess());
  EXPECT_FALSE(direct.IsDirectory("//attacker/share"));
  EXPECT_TRUE(direct.IsFile("C:\\Users\\bob\\App\\u.exe"));
  EXPECT_EQ(platform.probes, (std::vector<std::string>{
                                 "file C:\\Users\\bob\\App\\u.exe as 3", "dir C:\\Users\\bob\\App as 3",
                                 "list C:\\Users\\bob\\App as 3", "size C:\\Users\\bob\\App\\u.exe as 3",
                                 "version C:\\Users\\bob\\App\\u.exe as 3", "file C:\\Users\\bob\\App\\u.exe"}));
  EXPECT_FALSE(platform.acting_as_owner());

  // A row that may not be acted on, or whose owner's token fails now, touches nothing.
  platform.probes.clear();
  RowAccess refused = OwnerAccess(3);
  refused.route = Route::kNoOwnerSession;
  EXPECT_FALSE(RowFiles(platform, refused).IsFile("C:\\Users\\bob\\App\\u.exe"));
  platform.unusable_sessions = {3};
  EXPECT_FALSE(RowFiles(platform, OwnerAccess(3)).IsFile("C:\\Users\\bob\\App\\u.exe"));
  EXPECT_TRUE(platform.probes.empty());
}

TEST(LocateUninstaller, FindsTheFileThatWillRun) {
  struct Case {
    const char* what;
    std::string command;
    std::vector<std::string> search_folders;
    std::set<std::string> files;
    std::set<std::string> directories;
    std::map<std::string, std::vector<std::string>> listings;
    std::string executable, file, refused;
  };
  const std::string pd = "C:\\ProgramData";
  const Case cases[] = {
      {"present as written", "\"C:\\App\\u.exe\" /S", {""}, {"C:\\App\\u.exe"}, {}, {}, "C:\\App\\u.exe",
       "C:\\App\\u.exe", ""},
      {"a planted prefix never wins over the real path", pd + "\\My App\\remove /q", {""},
       {pd + "\\My.exe", pd + "\\My App\\remove.exe"}, {}, {}, pd + "\\My App\\remove",
       pd + "\\My App\\remove.exe", ""},
      {"with .exe added", "\"C:\\App\\remove\" /q", {""}, {"C:\\App\\remove.exe"}, {}, {}, "C:\\App\\remove",
       "C:\\App\\remove.exe", ""},
      {"no .exe added to a name with an extension", "\"C:\\App\\remove.cmd\"", {""},
       {"C:\\App\\remove.cmd.exe"}, {"C:\\App"}, {}, "C:\\App\\remove.cmd", "", ""},
      {"moved into InstallLocation", "\"C:\\Old\\unins000.exe\"", {"D:\\App"}, {}, {"D:\\App"},
       {{"D:\\App", {"D:\\App\\readme.txt", "D:\\App\\UNINS000.EXE"}}}, "C:\\Old\\unins000.exe",
       "D:\\App\\UNINS000.EXE", ""},
      {"found nowhere", "\"C:\\Old\\u.exe\"", {"D:\\Empty"}, {}, {"D:\\Empty", "C:\\Old"}, {},
       "C:\\Old\\u.exe", "", ""},
      {"the root's own folder is C:\\", "\"C:\\u.exe\"", {""}, {}, {"C:\\"}, {{"C:\\", {"C:\\U.EXE"}}},
       "C:\\u.exe", "C:\\U.EXE", ""},
      {"an uninstaller on a share is not probed", "\\\\srv\\share\\uninstall.exe /S", {""}, {}, {}, {},
       "\\\\srv\\share\\uninstall.exe", "", "\\\\srv\\share\\uninstall.exe"},
      {"a relative command is not searched for", "rundll32.exe x.dll,Remove", {""}, {}, {}, {},
       "rundll32.exe", "", "rundll32.exe"},
      {"an InstallLocation on a share stops the search", "\"C:\\Old\\u.exe\"", {"\\\\srv\\apps"}, {}, {},
       {}, "C:\\Old\\u.exe", "", "\\\\srv\\apps"},
      {"a device path", "\"\\\\.\\pipe\\x\"", {""}, {}, {}, {}, "\\\\.\\pipe\\x", "", "\\\\.\\pipe\\x"},
      {"no executable at all", "\"\" /S", {""}, {}, {}, {}, "", "", ""},
      // Windows opens "unins000.exe." as unins000.exe: that name is judged and run.
      {"a trailing dot", "\"C:\\App.\\unins000.exe.\" /S", {""}, {"C:\\App\\unins000.exe"}, {}, {},
       "C:\\App.\\unins000.exe.", "C:\\App\\unins000.exe", ""},
      {"trailing blanks inside quotes", "\"C:\\App\\remove  \"", {""}, {"C:\\App\\remove.exe"}, {}, {},
       "C:\\App\\remove  ", "C:\\App\\remove.exe", ""},
      {"an unquoted candidate with a trailing dot", "C:\\My App\\remove. /q", {""}, {"C:\\My App\\remove.exe"},
       {}, {}, "C:\\My App\\remove.", "C:\\My App\\remove.exe", ""},
      {"moved, into an InstallLocation with a trailing dot", "\"C:\\Old\\u.exe\"", {"D:\\App."}, {},
       {"D:\\App"}, {{"D:\\App", {"D:\\App\\U.EXE"}}}, "C:\\Old\\u.exe", "D:\\App\\U.EXE", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakeLaunchPlatform platform;
    platform.files = c.files;
    platform.directories = c.directories;
    platform.listings = c.listings;
    RowFiles files(platform, RowAccess());
    const LocatedUninstaller located = LocateUninstaller(files, c.command, c.search_folders);
    EXPECT_EQ(located.executable, c.executable);
    EXPECT_EQ(located.file, c.file);
    EXPECT_EQ(located.refused_path, c.refused);
    for (const std::string& probe : platform.probes) {
      EXPECT_EQ(probe.find("\\\\"), std::string::npos) << probe;  // no share was ever opened
      EXPECT_EQ(probe.find(". "), std::string::npos) << probe;     // nor a name as Windows reads it
      EXPECT_NE(probe.back(), '.') << probe;
    }
  }
}

TEST(LocateUninstaller, TheSixtyFourBitSystemFolderUnderWow64) {
  struct Case {
    const char* what;
    bool wow64, view_64bit;
    std::string command, file;
    RegistryRoot root = RegistryRoot::kLocalMachine;
  };
  const Case cases[] = {
      {"a 64-bit row's System32 tool, from the 32-bit program", true, true,
       "C:\\Windows\\System32\\tool.exe /u", "C:\\Windows\\Sysnative\\tool.exe"},
      {"a user's hive is one key for both views: its rows mean no view", true, true,
       "C:\\Windows\\System32\\tool.exe", "C:\\Windows\\System32\\tool.exe",
       RegistryRoot::kCurrentUser},
      {"any case", true, true, "c:\\WINDOWS\\system32\\tool.exe", "C:\\Windows\\Sysnative\\tool.exe"},
      {"a 32-bit row keeps the redirected meaning", true, false, "C:\\Windows\\System32\\tool.exe",
       "C:\\Windows\\System32\\tool.exe"},
      {"a 64-bit program needs nothing", false, true, "C:\\Windows\\System32\\tool.exe",
       "C:\\Windows\\System32\\tool.exe"},
      {"only the folder itself", true, true, "C:\\Windows\\System32x\\tool.exe", "C:\\Windows\\System32x\\tool.exe"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakeLaunchPlatform platform;
    platform.wow64 = c.wow64;
    platform.files = {c.file};
    UninstallEntry entry = MachineRow();
    entry.view_64bit = c.view_64bit;
    entry.root = c.root;
    RowFiles files(platform, ResolveRowAccess(platform, entry));
    EXPECT_EQ(LocateUninstaller(files, c.command, {""}).file, c.file);
    EXPECT_EQ(platform.probes.front(), "file " + c.file);  // the path the author meant is the one probed
  }
}

TEST(AsStartedProgramSeesIt, SysnativeIsTheStartedProgramsSystem32) {
  const std::string windows = "C:\\Windows";
  const std::pair<std::string, std::string> cases[] = {
      {"C:\\Windows\\Sysnative\\tool.exe", "C:\\Windows\\System32\\tool.exe"},
      {"c:\\windows\\SYSNATIVE\\x\\tool.exe", "C:\\Windows\\System32\\x\\tool.exe"},
      {"C:\\Windows\\Sysnativex\\tool.exe", "C:\\Windows\\Sysnativex\\tool.exe"},
      {"C:\\Windows\\Sysnative", "C:\\Windows\\Sysnative"},
      {"D:\\App\\Sysnative\\tool.exe", "D:\\App\\Sysnative\\tool.exe"},
  };
  for (const auto& [path, seen] : cases) EXPECT_EQ(AsStartedProgramSeesIt(path, windows), seen);
  EXPECT_EQ(AsStartedProgramSeesIt(cases[0].first, ""), cases[0].first);
}

TEST(RowFiles, AThreadThatCannotStopActingAsTheOwnerEndsTheRun) {
  FakeLaunchPlatform platform;
  platform.system = true;
  platform.sessions = {{"bob", {2, "S-1-5-21-1-2-3-1001"}}};
  platform.revert_fails = true;
  UninstallEntry entry = MachineRow();
  entry.root = RegistryRoot::kUsers;
  entry.registry_path = "S-1-5-21-1-2-3-1001\\" + entry.registry_path;
  EXPECT_THROW(ResolveRowAccess(platform, entry), RevertFailed);
  RowAccess access;
  access.route = RowAccess::Route::kOwnerSession;
  access.session_id = 2;
  RowFiles files(platform, access);
  EXPECT_THROW(files.IsFile("C:\\Users\\bob\\u.exe"), RevertFailed);
}

TEST(FindMainExecutable, ListsAndSizesAsTheOwnerAndLogsTheVersionAfterwards) {
  FakeLaunchPlatform platform;
  platform.directories = {"C:\\Users\\bob\\Foo"};
  platform.listings["C:\\Users\\bob\\Foo"] = {"C:\\Users\\bob\\Foo\\uninstall.exe", "C:\\Users\\bob\\Foo\\a.exe",
                                              "C:\\Users\\bob\\Foo\\b.exe"};
  platform.sizes = {{"C:\\Users\\bob\\Foo\\a.exe", 10}, {"C:\\Users\\bob\\Foo\\b.exe", 20}};
  platform.versions["C:\\Users\\bob\\Foo\\b.exe"] = "3.0.0.0";
  RowFiles files(platform, OwnerAccess(4));
  EXPECT_EQ(FindMainExecutable(files, "C:\\Users\\bob\\Foo", "QA"), "C:\\Users\\bob\\Foo\\b.exe");
  testing::TakeLogLines();
  EXPECT_EQ(GetFileVersion(files, "C:\\Users\\bob\\Foo\\b.exe").version, "3.0.0.0");
  EXPECT_EQ(testing::TakeLogLines().back().message,
            "operation : GetFileVersion; file_path : \"C:\\Users\\bob\\Foo\\b.exe\"; file_version : "
            "\"3.0.0.0\"; status : success;");
  for (const std::string& probe : platform.probes) {
    EXPECT_NE(probe.find(" as 4"), std::string::npos) << probe;
  }
  EXPECT_EQ(platform.probes.size(), 5u);  // dir, list, two sizes, version
  EXPECT_EQ(FindMainExecutable(files, "C:\\Users\\bob\\Gone", "QA"), "");
}

}  // namespace
}  // namespace varnok
