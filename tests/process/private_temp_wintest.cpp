// The private temporary folder of a launch as SYSTEM, for real under Wine. Wine runs nothing as
// SYSTEM, and it keeps no DACL given to a new folder (it reads one back made from the Unix
// permissions), so the folder is made and used here as the user and its DACL is not checked.
#include <windows.h>

#include <gtest/gtest.h>

#include "process/private_temp.h"
#include "process/process_launch.h"
#include "process/shell_restore.h"
#include "support/win/wine_support.h"

namespace varnok {
namespace {

TEST(PrivateTempUnderWine, ALaunchSeesItsOwnFolderAsTempAndTmpAndTheFolderGoesWithItsContent) {
  const std::string windows = RealWindowsDirectory();
  std::string folder;
  std::string other;
  ASSERT_EQ(CreatePrivateTempFolder(windows, &folder), 0u);
  ASSERT_EQ(CreatePrivateTempFolder(windows, &other), 0u);
  EXPECT_NE(folder, other);
  EXPECT_EQ(folder.rfind(windows + "\\Temp\\varnok-", 0), 0u);
  EXPECT_EQ(folder.size(), windows.size() + 13 + 32);

  testing::TempDir dir;
  const std::string exe = dir / "remove.exe";
  ASSERT_TRUE(CopyFileA(testing::ToolPath("exit_with.exe").c_str(), exe.c_str(), FALSE));
  const std::string command = "\"" + exe + "\" 0 --env TEMP \"" + (dir / "temp.txt") +
                              "\" --env TMP \"" + (dir / "tmp.txt") + "\"";
  ASSERT_EQ(ExecuteFile(command, exe, dir.path(), 1, 0, nullptr, false, nullptr, folder), 0);
  EXPECT_EQ(testing::ReadFileBytes(dir / "temp.txt"), folder);
  EXPECT_EQ(testing::ReadFileBytes(dir / "tmp.txt"), folder);
  ASSERT_EQ(ExecuteFile(command, exe, dir.path(), 1), 0);  // without one: the program's own
  EXPECT_NE(testing::ReadFileBytes(dir / "temp.txt"), folder);

  // What an uninstaller's copy leaves there, nested and read-only, goes with the folder.
  ASSERT_TRUE(CreateDirectoryA((folder + "\\~nsu1.tmp").c_str(), nullptr));
  ASSERT_TRUE(CopyFileA(exe.c_str(), (folder + "\\~nsu1.tmp\\Un.exe").c_str(), FALSE));
  ASSERT_TRUE(CreateDirectoryA((folder + "\\~nsu1.tmp\\plugins").c_str(), nullptr));
  testing::WriteFileBytes(folder + "\\~nsu1.tmp\\plugins\\System.dll", "x");
  SetFileAttributesA((folder + "\\~nsu1.tmp\\plugins\\System.dll").c_str(), FILE_ATTRIBUTE_READONLY);
  EXPECT_EQ(RemoveFolderTree(folder), 0u);
  EXPECT_EQ(GetFileAttributesA(folder.c_str()), INVALID_FILE_ATTRIBUTES);

  // A file in use keeps its folder: it is left, and goes once it is closed.
  HANDLE busy = CreateFileA((other + "\\busy.txt").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(busy, INVALID_HANDLE_VALUE);
  EXPECT_NE(RemoveFolderTree(other), 0u);
  EXPECT_NE(GetFileAttributesA(other.c_str()), INVALID_FILE_ATTRIBUTES);
  CloseHandle(busy);
  EXPECT_EQ(RemoveFolderTree(other), 0u);
}

}  // namespace
}  // namespace varnok
