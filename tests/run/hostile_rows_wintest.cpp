// Rows written to steer what the program opens or runs, against the real program: it refuses
// paths that leave the machine, never lets a user's bundle speak for a machine-wide product, judges
// the folder of the uninstaller that really runs, and never runs a planted prefix of an unquoted
// path. Wine runs the program as an ordinary user, so the current user's rows are the per-user
// rows here.
#include <gtest/gtest.h>

#include "support/win/program_test.h"

namespace varnok {
namespace {

using testing::Quote;
using testing::ScratchRows;
using testing::ToolPath;

class HostileRows : public testing::ProgramTest {
 protected:
  void Copy(const std::string& tool, const std::string& to) {
    ASSERT_TRUE(CopyFileA(ToolPath(tool).c_str(), to.c_str(), FALSE)) << to;
  }
  void AddRow(HKEY root, REGSAM view, const std::string& suffix, const std::string& name,
              const std::string& version, const std::string& uninstall,
              const std::string& install_location = "") {
    auto key = rows_.Create(root, view, suffix);
    ScratchRows::SetText(key.get(), "DisplayName", name);
    ScratchRows::SetText(key.get(), "DisplayVersion", version);
    ScratchRows::SetText(key.get(), "UninstallString", uninstall);
    if (!install_location.empty()) ScratchRows::SetText(key.get(), "InstallLocation", install_location);
  }

  ScratchRows rows_;
  testing::TempDir apps_;
};

TEST_F(HostileRows, PathsThatLeaveTheMachineAreNeitherOpenedNorRun) {
  // A share, and a local file behind the "\\?\" prefix that would remove its row if it ran.
  const std::string exe = apps_ / "exit_with.exe";
  Copy("exit_with.exe", exe);
  AddRow(HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, "share", "Varnok Far Away", "1.0",
         "\\\\fileserver\\apps\\uninstall.exe /S");
  AddRow(HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, "device", "Varnok Far Away", "1.0",
         Quote("\\\\?\\" + exe) + " 0 --delete-row HKLM64 " + rows_.Name("device"));
  const testing::RunResult run =
      RunProgram("-displayName \"Varnok Far Away\" -matchType Exact -exactVersion 1.0");
  EXPECT_EQ(run.exit_code, 51006u) << log_;
  const std::string refused = "status : failure; remarks : \"Path refused: only a local absolute path (X:\\...) "
                              "is opened or run; UNC, device and relative paths are not\"; file_path : \"";
  EXPECT_TRUE(Logged(refused + "\\\\fileserver\\apps\\uninstall.exe\";")) << log_;
  EXPECT_TRUE(Logged(refused + "\\\\?\\" + exe + "\";")) << log_;
  EXPECT_TRUE(Logged("VERIFY: uninstall failed. exit_code : 161;"));
  EXPECT_TRUE(Logged("status : summary; name_hits : 2; version_hits : 2; skipped_version : 0; success : 0; failed : 2;"));
  EXPECT_TRUE(testing::RowExists(HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, rows_.Name("device")));
}

TEST_F(HostileRows, AUsersBundleRowCannotVouchForTheMachineWideProduct) {
  // The user's row looks like the product's bundle: it exits 0 and keeps its row. The
  // machine-wide product with the same name and version must still be removed.
  Copy("exit_with.exe", apps_ / "setup.exe");
  Copy("exit_with.exe", apps_ / "remove.exe");
  AddRow(HKEY_CURRENT_USER, 0, "fake-bundle", "Varnok Vouched", "3.1", Quote(apps_ / "setup.exe") + " /uninstall");
  AddRow(HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, "product", "Varnok Vouched", "3.1",
         Quote(apps_ / "remove.exe") + " 0 --delete-row HKLM64 " + rows_.Name("product"));
  const testing::RunResult run = RunProgram("-displayName \"Varnok Vouched\" -matchType Series -seriesPrefix 3");
  EXPECT_EQ(run.exit_code, 0u) << log_;
  EXPECT_FALSE(Logged("SKIP: main bundle already handled")) << log_;
  EXPECT_FALSE(testing::RowExists(HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, rows_.Name("product")));
  // The machine-wide row ran first.
  EXPECT_LT(log_.find("display_name : \"Varnok Vouched\"; display_version : \"3.1\";\r\n"),
            log_.find("per-user"));
}

TEST_F(HostileRows, TheGuardJudgesTheFolderWhereTheUninstallerWasFound) {
  // The row's own uninstaller is gone; a generic one lives in InstallLocation beside the
  // product's 10.0 program. A rule for the 2 series must not run it.
  const std::string product = apps_ / "Product";
  ASSERT_TRUE(CreateDirectoryA(product.c_str(), nullptr));
  Copy("exit_with.exe", product + "\\uninstall.exe");
  Copy("versioned.exe", product + "\\Varnok Guarded.exe");  // file version 10.0.19041.1
  AddRow(HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, "guarded", "Varnok Guarded", "2.4",
         Quote(apps_ / "Old\\uninstall.exe") + " 0 --delete-row HKLM64 " + rows_.Name("guarded"), product);
  const testing::RunResult run = RunProgram("-displayName \"Varnok Guarded\" -matchType Series -seriesPrefix 2");
  EXPECT_EQ(run.exit_code, 51002u) << log_;
  EXPECT_TRUE(Logged("remarks : \"Shared uninstall.exe folder: " + product + "\";")) << log_;
  EXPECT_TRUE(Logged("SKIP: ARP row matches the rule, but the product in this folder is a DIFFERENT version (10.0.19041.1)."));
  EXPECT_TRUE(testing::RowExists(HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, rows_.Name("guarded")));
}

TEST_F(HostileRows, AMainProgramHeldOpenWithoutSharingFailsTheRunInsteadOfSkippingTheRow) {
  // Anyone who may read the product's main program may hold it open without sharing. Its
  // version then cannot be read: the row must fail (the agent retries), not count as "another
  // version" while the user's own row of the same name removes itself and makes the run a
  // success.
  const std::string product = apps_ / "Product";
  ASSERT_TRUE(CreateDirectoryA(product.c_str(), nullptr));
  Copy("exit_with.exe", product + "\\unins000.exe");
  const std::string main_exe = product + "\\Varnok Held.exe";
  Copy("versioned.exe", main_exe);  // file version 10.0.19041.1
  AddRow(HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, "held", "Varnok Held", "10.0",
         Quote(product + "\\unins000.exe") + " 0 --delete-row HKLM64 " + rows_.Name("held"));
  Copy("exit_with.exe", apps_ / "mine.exe");
  AddRow(HKEY_CURRENT_USER, 0, "mine", "Varnok Held", "10.0",
         Quote(apps_ / "mine.exe") + " 0 --delete-row HKCU " + rows_.Name("mine"));
  const std::string arguments = "-displayName \"Varnok Held\" -matchType Series -seriesPrefix 10";
  testing::Child holder(Quote(ToolPath("log_probe.exe")) + " lock-file " + Quote(main_exe));
  ASSERT_TRUE(testing::WaitForNamedEvent("varnok_probe_ready", 10000));
  const testing::RunResult held = RunProgram(arguments);
  holder.Kill(0);
  EXPECT_EQ(held.exit_code, 51006u) << log_;
  EXPECT_TRUE(Logged("file_path : \"" + main_exe + "\"; status : failure; remarks : \"GetFileVersionInfoSize "
                     "failed\"; return_value : 32;")) << log_;
  EXPECT_TRUE(Logged("the row is not run. Retry later.\"; file_path : \"" + main_exe + "\"; error_code : 32;"));
  EXPECT_FALSE(Logged("SKIP"));
  EXPECT_TRUE(testing::RowExists(HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, rows_.Name("held")));
  EXPECT_FALSE(testing::RowExists(HKEY_CURRENT_USER, 0, rows_.Name("mine")));
  // Once the file is let go, the agent's next try removes the product.
  EXPECT_EQ(holder.Wait(5000), 0u);
  const testing::RunResult retry = RunProgram(arguments);
  EXPECT_EQ(retry.exit_code, 0u) << log_;
  EXPECT_FALSE(testing::RowExists(HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, rows_.Name("held")));
}

TEST_F(HostileRows, AGenericUninstallerWrittenWithATrailingDotIsStillGuarded) {
  // "unins000.exe." starts unins000.exe; judged by its written name it would escape the guard
  // and remove the product of another version that lives in its folder.
  const std::string product = apps_ / "Product";
  ASSERT_TRUE(CreateDirectoryA(product.c_str(), nullptr));
  Copy("exit_with.exe", product + "\\unins000.exe");
  Copy("versioned.exe", product + "\\Varnok Dotted.exe");  // file version 10.0.19041.1
  AddRow(HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, "dotted", "Varnok Dotted", "2.4",
         Quote(product + "\\unins000.exe.") + " 0 --delete-row HKLM64 " + rows_.Name("dotted"));
  const testing::RunResult run = RunProgram("-displayName \"Varnok Dotted\" -matchType Series -seriesPrefix 2");
  EXPECT_EQ(run.exit_code, 51002u) << log_;
  EXPECT_TRUE(Logged("remarks : \"Shared uninstall.exe folder: " + product + "\";")) << log_;
  EXPECT_TRUE(Logged("SKIP: ARP row matches the rule, but the product in this folder is a DIFFERENT version (10.0.19041.1)."));
  EXPECT_TRUE(testing::RowExists(HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, rows_.Name("dotted")));
}

TEST_F(HostileRows, APlantedPrefixOfAnUnquotedPathNeverRuns) {
  // "<apps>\My App\remove ..." unquoted: the planted "<apps>\My" and "<apps>\My.exe" end with an
  // error code, the real "<apps>\My App\remove.exe" removes the row.
  const std::string real = apps_ / "My App";
  ASSERT_TRUE(CreateDirectoryA(real.c_str(), nullptr));
  Copy("exit_with.exe", real + "\\remove.exe");
  Copy("log_probe.exe", apps_ / "My");
  Copy("log_probe.exe", apps_ / "My.exe");
  AddRow(HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, "unquoted", "Varnok Unquoted", "5.0",
         real + "\\remove 0 --delete-row HKLM64 " + rows_.Name("unquoted"));
  const testing::RunResult run = RunProgram("-displayName \"Varnok Unquoted\" -matchType Exact -exactVersion 5.0");
  EXPECT_EQ(run.exit_code, 0u) << log_;
  EXPECT_TRUE(Logged("installer_type : \"EXE\"; command : \"" + Quote(real + "\\remove") + " 0 --delete-row HKLM64 " +
                     rows_.Name("unquoted") + " /S\";"))
      << log_;
  EXPECT_TRUE(Logged("the file found for it runs instead.\"; file_path : \"" + real + "\\remove.exe\";"));
  EXPECT_TRUE(Logged("VERIFY: registry key gone. SUCCESS."));
  EXPECT_FALSE(testing::RowExists(HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, rows_.Name("unquoted")));
}

}  // namespace
}  // namespace varnok
