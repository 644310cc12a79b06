// Listing folders, choosing the main executable and reading file versions with the real API.
#include <gtest/gtest.h>

#include <algorithm>

#include "process/row_files.h"
#include "process/system_launch_platform.h"
#include "support/win/wine_support.h"
#include "uninstall/shared_uninstaller.h"

namespace varnok {
namespace {

// The search as the run does it: through the real platform, as the program itself.
std::string FindMainExecutable(const std::string& folder, std::string_view hint) {
  RowFiles files(SystemLaunchPlatform(), RowAccess());
  return varnok::FindMainExecutable(files, folder, hint);
}

void Copy(const std::string& from, const std::string& to) {
  ASSERT_TRUE(CopyFileA(from.c_str(), to.c_str(), FALSE)) << to;
}

TEST(SharedUninstallerFiles, ListsPlainFilesAndPicksTheMainExecutable) {
  testing::TempDir dir;
  testing::WriteFileBytes(dir / "uninstall.exe", std::string(4000, 'u'));
  testing::WriteFileBytes(dir / "First Tie.exe", std::string(300, 'a'));
  testing::WriteFileBytes(dir / "Second Tie.exe", std::string(300, 'b'));
  testing::WriteFileBytes(dir / "notes.txt", "n");
  ASSERT_TRUE(CreateDirectoryA((dir / "sub.exe").c_str(), nullptr));

  std::vector<std::string> files = ListFiles(dir.path());
  std::sort(files.begin(), files.end());
  EXPECT_EQ(files, (std::vector<std::string>{dir / "First Tie.exe", dir / "Second Tie.exe",
                                             dir / "notes.txt", dir / "uninstall.exe"}));
  EXPECT_TRUE(ListFiles(dir / "missing").empty());
  EXPECT_TRUE(ListFiles(dir / "notes.txt").empty());
  EXPECT_TRUE(ListFiles("").empty());

  // A size tie goes to the first file in the system's listing order.
  const std::string tie_winner = FindMainExecutable(dir.path(), "QA");
  std::string first_listed;
  for (const std::string& f : ListFiles(dir.path())) {
    if (f.find("Tie.exe") != std::string::npos) {
      first_listed = f;
      break;
    }
  }
  EXPECT_EQ(tie_winner, first_listed);
  EXPECT_EQ(FindMainExecutable(dir.path(), "Product Second"), dir / "Second Tie.exe");
  EXPECT_EQ(FindMainExecutable(dir / "missing", "Second"), "");
}

TEST(SharedUninstallerFiles, ReadsTheFixedFileVersion) {
  testing::TempDir dir;
  Copy(testing::ToolPath("versioned.exe"), dir / "Contoso Studio.exe");
  Copy(testing::ToolPath("plain.exe"), dir / "noversion.exe");
  EXPECT_EQ(GetFileVersion(dir / "Contoso Studio.exe"), "10.0.19041.1");  // not the product version
  EXPECT_EQ(GetFileVersion(dir / "noversion.exe"), "");
  EXPECT_EQ(GetFileVersion(dir.path()), "");
  EXPECT_EQ(GetFileVersion(dir / "missing.exe"), "");
  EXPECT_EQ(FindMainExecutable(dir.path(), "Contoso Studio 10"), dir / "Contoso Studio.exe");
}

TEST(SharedUninstallerFiles, FileVersionLinesInTheLog) {
  testing::TempDir install;
  ASSERT_TRUE(CreateDirectoryA((install / "logs").c_str(), nullptr));
  testing::AgentInstallDir agent(install.path());
  testing::TempDir dir;
  Copy(testing::ToolPath("versioned.exe"), dir / "v.exe");
  Copy(testing::ToolPath("plain.exe"), dir / "p.exe");
  const std::string probe = "\"" + testing::ToolPath("log_probe.exe") + "\" file-version ";
  ASSERT_EQ(testing::RunCommand(probe + "\"" + (dir / "v.exe") + "\"").exit_code, 0u);
  ASSERT_EQ(testing::RunCommand(probe + "\"" + (dir / "p.exe") + "\"").exit_code, 0u);
  ASSERT_EQ(testing::RunCommand(probe + "\"" + dir.path() + "\"").exit_code, 0u);
  const std::string log = testing::ReadFileBytes(install / "logs\\fmprereqhandler.log");
  const std::string v = dir / "v.exe";
  const std::string p = dir / "p.exe";
  EXPECT_NE(log.find("operation : GetFileVersion; file_path : \"" + v +
                     "\"; file_version : \"10.0.19041.1\"; status : success;"),
            std::string::npos);
  // Wine answers 1812 (no resource section); Windows documents 1813 for a file without one.
  const std::string no_resource = "operation : GetFileVersion; file_path : \"" + p +
                                  "\"; status : failure; remarks : \"GetFileVersionInfoSize failed\"; return_value : ";
  const size_t at = log.find(no_resource);
  ASSERT_NE(at, std::string::npos) << log;
  const std::string code = log.substr(at + no_resource.size(), 4);
  EXPECT_TRUE(code == "1812" || code == "1813") << code;
  EXPECT_NE(log.find("operation : GetFileVersion; file_path : \"" + dir.path() +
                     "\"; status : failure; remarks : \"File does not exist\";"),
            std::string::npos);
}

}  // namespace
}  // namespace varnok
