#include "uninstall/uninstall_command.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/host/log_capture.h"

namespace varnok {
namespace {

const std::string kCode = "{12345678-90AB-CDEF-1234-567890ABCDEF}";
const std::string kMsiexec = "C:\\Windows\\system32\\msiexec.exe";
const std::string kName = "Contoso Tool";
const std::string kFolder = "C:\\Program Files\\Contoso";

std::string Failure(const std::string& remarks) {
  return "operation : BuildUninstallCommand; status : failure; remarks : \"" + remarks + "\";";
}
const std::string kNoCode = Failure("MSI product code not found for Contoso Tool");
const std::string kNoCommand = Failure("UninstallString is empty for Contoso Tool");
const std::string kNoExe =
    Failure("Could not read executable path from UninstallString for Contoso Tool");
const std::string kNoQuietExe =
    Failure("Could not read executable path from QuietUninstallString for Contoso Tool");
const std::string kQuote = Failure(
    "UninstallString executable path for Contoso Tool contains an embedded quote character and "
    "cannot be safely quoted");
const std::string kQuietQuote = Failure(
    "QuietUninstallString executable path for Contoso Tool contains an embedded quote character "
    "and cannot be safely quoted");

struct Input {
  std::string key_name, uninstall_string, quiet_uninstall_string;
  bool windows_installer;
  std::string exe_args;
};

UninstallEntry MakeEntry(const Input& in) {
  UninstallEntry entry;
  entry.root = RegistryRoot::kLocalMachine;
  entry.key_name = in.key_name;
  entry.display_name = kName;
  entry.install_location = kFolder;
  entry.uninstall_string = in.uninstall_string;
  entry.quiet_uninstall_string = in.quiet_uninstall_string;
  entry.is_windows_installer = in.windows_installer;
  return entry;
}

TEST(BuildUninstallCommand, WindowsInstallerRowsAlwaysRemoveQuietlyByCode) {
  struct Row {
    Input in;
    std::string code;
  };
  const Row rows[] = {
      {{kCode, "MsiExec.exe /I" + kCode, "", true, ""}, kCode},
      {{"Contoso", "MsiExec.exe /I{12345678-90ab-cdef-1234-567890abcdef}", "", false, ""}, kCode},
      {{"{12345678-90ab-cdef-1234-567890abcdef}", "", "", false, ""}, kCode},
      // Neither the operator's arguments nor a quiet command replace the removal by code.
      {{kCode, "MsiExec.exe /X" + kCode, "\"C:\\q.exe\" /S", true, "--mode unattended"}, kCode},
      {{"Contoso", "setup.exe /x " + kCode + " /passive", "", false, ""}, kCode},
  };
  for (const Row& r : rows) {
    testing::TakeLogLines();
    const UninstallCommand c = BuildUninstallCommand(MakeEntry(r.in), r.in.exe_args, kMsiexec);
    EXPECT_TRUE(testing::TakeLogLines().empty());
    EXPECT_TRUE(c.is_msi) << r.in.uninstall_string;
    EXPECT_EQ(c.command_line, "msiexec.exe /X " + r.code + " /qn /norestart");
    EXPECT_EQ(c.arguments, "/X " + r.code + " /qn /norestart");
    EXPECT_EQ(c.executable, kMsiexec);
    EXPECT_EQ(c.product_code, r.code);
    EXPECT_TRUE(c.search_folders.empty());
  }
}

TEST(BuildUninstallCommand, ExecutableCommandShapes) {
  struct Row {
    Input in;
    std::string command_line, executable, arguments;
  };
  const Row rows[] = {
      {{"Contoso", "\"C:\\Program Files\\App\\uninstall.exe\"", "", false, ""},
       "\"C:\\Program Files\\App\\uninstall.exe\" /S", "C:\\Program Files\\App\\uninstall.exe",
       "/S"},
      {{"Contoso", "C:\\App\\unins000.exe", "", false, ""},
       "\"C:\\App\\unins000.exe\" /VERYSILENT", "C:\\App\\unins000.exe", "/VERYSILENT"},
      {{"Contoso", "\"C:\\App\\setup.exe\" /uninstall", "", false, ""},
       "\"C:\\App\\setup.exe\" /uninstall", "C:\\App\\setup.exe", "/uninstall"},
      {{"Contoso", "C:\\Program Files\\App\\u.exe /remove  /log x", "", false, ""},
       "\"C:\\Program Files\\App\\u.exe\" /remove  /log x /S", "C:\\Program Files\\App\\u.exe",
       "/remove  /log x /S"},
      {{"Contoso", "C:\\App\\remove /q", "", false, ""}, "\"C:\\App\\remove\" /q /S",
       "C:\\App\\remove", "/q /S"},
      // The end tests see the stored text: a trailing tab hides the "/S" already there.
      {{"Contoso", "  C:\\App\\u.exe\t/S\t", "", false, ""}, "\"C:\\App\\u.exe\" /S /S",
       "C:\\App\\u.exe", "/S /S"},
      {{"Contoso", "\"C:\\App\\x.exe", "", false, ""}, "\"C:\\App\\x.exe\" /S", "C:\\App\\x.exe",
       "/S"},
      // A code in the command without an install/remove switch is no Windows Installer row.
      {{"Contoso", "C:\\App\\setup.exe " + kCode, "", false, ""},
       "\"C:\\App\\setup.exe\" " + kCode + " /S", "C:\\App\\setup.exe", kCode + " /S"},
      // The quiet command wins over UninstallString and runs as stored, only trimmed.
      {{"Contoso", "C:\\App\\u.exe", "  \"C:\\App\\u.exe\" /S  ", false, ""},
       "\"C:\\App\\u.exe\" /S", "C:\\App\\u.exe", "/S"},
      {{"Contoso", "", "C:\\App\\u.exe /quiet", false, ""}, "C:\\App\\u.exe /quiet",
       "C:\\App\\u.exe", "/quiet"},
      // The operator's arguments replace the stored ones; no switch, no quiet command.
      {{"Contoso", "\"C:\\App\\u.exe\" /X", "\"C:\\App\\q.exe\" /S", false, "--mode unattended"},
       "\"C:\\App\\u.exe\" --mode unattended", "C:\\App\\u.exe", "--mode unattended"},
      {{"Contoso", "C:\\App\\unins000.exe", "", false, " \t/LOG=x "},
       "\"C:\\App\\unins000.exe\" /LOG=x", "C:\\App\\unins000.exe", "/LOG=x"},
      {{"Contoso", "\"C:\\App\\u.exe\" /X", "", false, "   "}, "\"C:\\App\\u.exe\"",
       "C:\\App\\u.exe", ""},
      {{"Contoso", "\"C:\\\xC9t\xE9\\u.exe\"", "", false, ""}, "\"C:\\\xC9t\xE9\\u.exe\" /S",
       "C:\\\xC9t\xE9\\u.exe", "/S"},
  };
  for (const Row& r : rows) {
    testing::TakeLogLines();
    const UninstallCommand c = BuildUninstallCommand(MakeEntry(r.in), r.in.exe_args, kMsiexec);
    EXPECT_TRUE(testing::TakeLogLines().empty()) << r.in.uninstall_string;
    EXPECT_FALSE(c.is_msi);
    EXPECT_EQ(c.command_line, r.command_line) << r.in.uninstall_string;
    EXPECT_EQ(c.executable, r.executable) << r.in.uninstall_string;
    EXPECT_EQ(c.arguments, r.arguments) << r.in.uninstall_string;
    EXPECT_EQ(c.product_code, "");
    EXPECT_EQ(c.search_folders, std::vector<std::string>{kFolder});
  }
}

TEST(BuildUninstallCommand, UnusableRowsGiveNoCommandAndOneErrorLine) {
  const std::string long_folder(32 * 1024, 'x');
  struct Row {
    Input in;
    std::string error;
  };
  const Row rows[] = {
      {{"Contoso", "", "", true, ""}, kNoCode},
      {{kCode + ".KB123", "MsiExec.exe /X", "", false, ""}, kNoCode},
      {{"Contoso", "MsiExec.exe /X{12345678-90AB-CDEF-1234-567890ABCDEZ}", "", false, ""},
       kNoCode},
      {{kCode + ".KB123", "", "", false, ""}, kNoCommand},
      {{"Contoso", "", "", false, "--mode unattended"}, kNoCommand},
      {{"Contoso", "", "\"C:\\App\\q.exe\" /S", false, "--mode unattended"}, kNoExe},
      {{"Contoso", "\"\"", "", false, ""}, kNoExe},
      {{"Contoso", "\"\" /S", "", false, ""}, kNoExe},
      {{"Contoso", "\"", "", false, ""}, kNoExe},
      {{"Contoso", " \t ", "", false, ""}, kNoExe},
      {{"Contoso", "\"\"", "", false, "/S"}, kNoExe},
      {{"Contoso", "C:\\A\"B\\x.exe /S", "", false, ""}, kQuote},
      {{"Contoso", "C:\\A\"B\\x.exe /S", "", false, "/S"}, kQuote},
      {{"Contoso", "C:\\A\"B\\x.exe /S", "C:\\A\\q.exe /S", false, "/S"}, kQuote},
      {{"Contoso", "C:\\" + long_folder + "\"B\\x.exe /S", "", false, ""}, kQuote},
      {{"Contoso", "C:\\App\\u.exe", "\"\"", false, ""}, kNoQuietExe},
      {{"Contoso", "", "\t", false, ""}, kNoQuietExe},
      {{"Contoso", "C:\\App\\u.exe", "C:\\A\"B\\q.exe /S", false, ""}, kQuietQuote},
      {{"Contoso", "", "C:\\Program Files\\A\"pp\\q.exe /S", false, ""}, kQuietQuote},
  };
  for (const Row& r : rows) {
    testing::TakeLogLines();
    const UninstallCommand c = BuildUninstallCommand(MakeEntry(r.in), r.in.exe_args, kMsiexec);
    EXPECT_EQ(c.command_line, "") << r.in.uninstall_string << " / " << r.in.quiet_uninstall_string;
    EXPECT_FALSE(c.is_msi);
    const auto lines = testing::TakeLogLines();
    ASSERT_EQ(lines.size(), 1u) << r.in.uninstall_string;
    EXPECT_EQ(lines[0].level, LogLevel::kError);
    EXPECT_EQ(lines[0].message, r.error) << r.in.uninstall_string;
  }
}

TEST(BuildUninstallCommand, DisplayNameIsDataNotFormat) {
  UninstallEntry entry = MakeEntry({"Contoso", "", "", false, ""});
  entry.display_name = "100%s %n %d";
  testing::TakeLogLines();
  EXPECT_EQ(BuildUninstallCommand(entry, "", kMsiexec).command_line, "");
  const auto lines = testing::TakeLogLines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].message, Failure("UninstallString is empty for 100%s %n %d"));
}

TEST(BuildUninstallCommand, PerUserFollowsTheRootWhateverTheInstaller) {
  struct Row {
    RegistryRoot root;
    std::string key_name, uninstall_string;
    bool per_user;
  };
  const Row rows[] = {
      {RegistryRoot::kUsers, kCode, "", true},
      {RegistryRoot::kUsers, "Contoso", "C:\\App\\u.exe", true},
      {RegistryRoot::kCurrentUser, "Contoso", "C:\\App\\u.exe", true},
      {RegistryRoot::kUsers, "Contoso", "", true},  // failed build keeps the flag
      {RegistryRoot::kLocalMachine, kCode, "", false},
      {RegistryRoot::kLocalMachine, "Contoso", "C:\\App\\u.exe", false},
      {RegistryRoot::kNone, "Contoso", "C:\\App\\u.exe", false},
  };
  for (const Row& r : rows) {
    UninstallEntry entry = MakeEntry({r.key_name, r.uninstall_string, "", false, ""});
    entry.root = r.root;
    EXPECT_EQ(BuildUninstallCommand(entry, "", kMsiexec).per_user, r.per_user)
        << r.key_name << " / " << r.uninstall_string;
  }
  testing::TakeLogLines();
}

TEST(BuildUninstallCommand, EmptyInstallLocationIsStillTheOneSearchFolder) {
  UninstallEntry entry = MakeEntry({"Contoso", "C:\\App\\u.exe", "", false, ""});
  entry.install_location.clear();
  EXPECT_EQ(BuildUninstallCommand(entry, "", kMsiexec).search_folders,
            std::vector<std::string>{""});
}

}  // namespace
}  // namespace varnok
