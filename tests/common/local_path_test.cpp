#include "common/local_path.h"

#include <gtest/gtest.h>

namespace varnok {
namespace {

TEST(IsLocalAbsolutePath, OnlyDrivePathsOfOrdinaryNames) {
  const std::pair<const char*, bool> rows[] = {
      {"C:\\Program Files\\Contoso\\uninstall.exe", true},
      {"c:/tools/remove.exe", true},
      {"C:\\", true},
      {"D:\\App\\", true},
      {"C:\\Program Files\\\\Contoso\\u.exe", true},  // a doubled separator is tolerated
      {"C:\\A\"B\\x.exe", true},                      // left for the builder's quote refusal
      {"C:\\App\\setup.exe.bak", true},
      {"C:\\Apps\\CONSOLE.exe", true},  // CON only as a whole base name
      {"\\\\server\\share\\uninstall.exe", false},
      {"//server/share/uninstall.exe", false},
      {"\\\\?\\C:\\Windows\\x.exe", false},
      {"\\\\.\\C:\\x.exe", false},
      {"\\??\\C:\\x.exe", false},
      {"\\Windows\\x.exe", false},
      {"C:x.exe", false},
      {"uninstall.exe", false},
      {"", false},
      {"C:", false},
      {"C:\\Program Files\\..\\ProgramData\\x.exe", false},
      {"C:\\.\\x.exe", false},
      {"C:\\App\\...\\x.exe", false},
      {"C:\\App\\ \\x.exe", false},
      {"C:\\App\\NUL", false},
      {"C:\\App\\con.txt", false},
      {"C:\\App\\COM1.exe", false},
      {"C:\\App\\lpt9", false},
      {"C:\\App\\AUX .exe", false},
      {"C:\\App\\CONOUT$", false},
      {"C:\\App\\COM\xB9.exe", false},
      {"C:\\App\\x.exe:stream", false},
      {"C:\\App\\*.exe", false},
      {"C:\\App\\u?.exe", false},
      {"C:\\App\\<x", false},
      {"C:\\App\\a|b", false},
      {"C:\\App\\a\tb", false},
      {"1:\\x.exe", false},
  };
  for (const auto& [path, local] : rows) {
    EXPECT_EQ(IsLocalAbsolutePath(path), local) << path;
  }
}

TEST(FoldersAbove, NearestFirstDownToTheDriveRoot) {
  const std::pair<const char*, std::vector<std::string>> rows[] = {
      {"C:\\Program Files\\Contoso\\u.exe", {"C:\\Program Files\\Contoso", "C:\\Program Files", "C:\\"}},
      {"c:/a//b/u.exe", {"c:\\a\\b", "c:\\a", "c:\\"}},
      {"C:\\u.exe", {"C:\\"}},
      {"C:\\App\\", {"C:\\"}},  // the trailing separator names the folder App itself
      {"C:\\", {}},
      {"\\\\server\\share\\u.exe", {}},
      {"C:\\a\\..\\u.exe", {}},
  };
  for (const auto& [path, folders] : rows) {
    EXPECT_EQ(FoldersAbove(path), folders) << path;
  }
  EXPECT_EQ(FolderOf("C:\\u.exe"), "C:\\");
  EXPECT_EQ(FolderOf("C:\\App\\u.exe"), "C:\\App");
  EXPECT_EQ(FolderOf("relative\\u.exe"), "relative");
}

TEST(NormalizedLocalPath, TheDotsAndBlanksWindowsWouldDropAreDroppedFromEveryName) {
  const std::pair<const char*, const char*> rows[] = {
      {"C:\\App\\unins000.exe.", "C:\\App\\unins000.exe"},
      {"C:\\App\\unins000.exe . .", "C:\\App\\unins000.exe"},
      {"C:\\App.\\u.exe", "C:\\App\\u.exe"},
      {"C:\\My App \\u.exe", "C:\\My App\\u.exe"},
      {"c:/a../b/u.exe", "c:/a/b/u.exe"},  // separators as written
      {"C:\\App\\", "C:\\App\\"},
      {"C:\\.hidden\\u.exe", "C:\\.hidden\\u.exe"},  // dots at the start are part of the name
      {"C:\\", "C:\\"},
      {"\\\\srv\\share.\\u.exe.", "\\\\srv\\share.\\u.exe."},  // not local: unchanged
  };
  for (const auto& [path, normalized] : rows) {
    EXPECT_EQ(NormalizedLocalPath(path), normalized) << path;
  }
}

}  // namespace
}  // namespace varnok
