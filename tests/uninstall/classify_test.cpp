#include "uninstall/classify.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace varnok {
namespace {

const std::string kCode = "{12345678-90AB-CDEF-1234-567890ABCDEF}";
const std::string kMixedCode = "{12345678-90AB-cdef-1234-567890ABCDEF}";

TEST(IsGuidString, ExactlyOneBracedCode) {
  struct Row {
    std::string text;
    bool guid;
  };
  const Row rows[] = {
      {kCode, true},
      {kMixedCode, true},
      {"{00000000-0000-0000-0000-000000000000}", true},
      {"", false},
      {"{}", false},
      {kCode.substr(0, 37), false},                         // 37 characters
      {kCode + "}", false},                                 // 39 characters
      {kCode + ".KB123", false},                            // suffix after the brace
      {" " + kCode, false},                                 // surrounding blank
      {"(12345678-90AB-CDEF-1234-567890ABCDEF)", false},    // parentheses
      {"12345678-90AB-CDEF-1234-567890ABCDEF00", false},    // no braces, right length
      {"{12345678-90AB-CDEF-1234-567890ABCDEG}", false},    // G is no hex digit
      {"{12345678-90AB-CDEF-1234-567890ABCDE\xC1}", false}, // byte >= 128
      {"{1234567-890AB-CDEF-1234-567890ABCDEF}", false},    // hyphen moved
      {"{12345678-90AB-CDEF-1234-567890ABCDEF-", false},    // no closing brace
      {"{12345678090AB0CDEF012340567890ABCDEF}", false},    // digits where hyphens belong
      {"{12345678-90AB-CDEF-1234-567890ABC-EF}", false},    // hyphen where a digit belongs
  };
  for (const Row& r : rows) EXPECT_EQ(IsGuidString(r.text), r.guid) << r.text;
}

TEST(GetMsiProductCode, SubkeyNameFirstThenLeftmostCodeInCommand) {
  const std::string other = "{AAAAAAAA-BBBB-CCCC-DDDD-EEEEEEEEEEEE}";
  struct Row {
    std::string key_name, uninstall_string, code;
  };
  const Row rows[] = {
      {kMixedCode, "", kCode},
      {kMixedCode, "MsiExec.exe /X" + other, kCode},  // the subkey name wins
      {"Contoso", "MsiExec.exe /I{12345678-90ab-cdef-1234-567890abcdef}", kCode},
      {"Contoso", "x /x " + kCode + " /x " + other, kCode},  // leftmost wins
      {kCode + ".KB123", "MsiExec.exe /X" + other, other},
      {kCode + ".KB123", "", ""},
      {"Contoso", "{" + kCode, kCode},          // a stray brace before the code
      {"Contoso", kCode, kCode},                // the code is the whole command
      {"Contoso", kCode.substr(0, 37), ""},     // too short to be scanned
      {"Contoso", "MsiExec.exe /X" + kCode.substr(0, 37), ""},
      {"Contoso", "MsiExec.exe /X{12345678-90AB-CDEF-1234-567890ABCDEZ}", ""},
      {"", "", ""},
      {"Contoso", "MsiExec.exe /X" + std::string(32 * 1024, '{') + kCode, kCode},
      {"Contoso", std::string(32 * 1024, '{') + kCode.substr(0, 37), ""},
  };
  for (const Row& r : rows) {
    EXPECT_EQ(GetMsiProductCode(r.key_name, r.uninstall_string), r.code)
        << r.key_name << " / " << r.uninstall_string.substr(0, 80);
  }
}

TEST(HasMsiProductSwitch, SwitchThenBlanksThenBrace) {
  struct Row {
    std::string command;
    bool has_switch;
  };
  const Row rows[] = {
      {"MsiExec.exe /X" + kCode, true},
      {"setup.exe /x " + kCode, true},
      {"setup.exe /I\t" + kCode, true},
      {"setup.exe /i \t " + kCode, true},
      {"setup.exe /x {", true},  // only the brace is looked at
      {"setup.exe /x 12345678-90AB-CDEF-1234-567890ABCDEF", false},
      {"setup.exe /install " + kCode, false},
      {"setup.exe " + kCode, false},
      {"setup.exe /x\n" + kCode, false},  // only spaces and tabs are skipped
      {"setup.exe /x", false},            // switch at the very end
      {"setup.exe /x ", false},
      {"/i", false},
      {"", false},
      {"/x /x /i /X{", true},          // later occurrences are searched too
      {"C:\\/xtools\\a.exe /i {", true},
  };
  for (const Row& r : rows) EXPECT_EQ(HasMsiProductSwitch(r.command), r.has_switch) << r.command;
}

TEST(IsMsiEntry, RulesInOrder) {
  struct Row {
    std::string key_name, uninstall_string;
    bool flag;
    bool msi;
  };
  const Row rows[] = {
      {kMixedCode, "", false, true},  // product-code subkey without a command
      {"Contoso", "", true, true},    // the flag alone, no code anywhere
      {"Contoso", "C:\\App\\u.exe", true, true},
      {"Contoso", "MsiExec.exe /I" + kCode, false, true},
      {"Contoso", "C:\\MSIEXEC\\u.exe /S", false, true},  // "msiexec" anywhere
      {"Contoso", "setup.exe /x " + kCode, false, true},
      {"Contoso", "setup.exe " + kCode, false, false},
      {kCode, "C:\\App\\uninstall.exe", false, false},  // own command, no switch
      {kCode, " ", false, false},                       // blanks are a command
      {kCode + ".KB123", "", false, false},
      {"Contoso", "", false, false},
      {"Contoso", "setup.exe /x", false, false},
  };
  for (const Row& r : rows) {
    UninstallEntry entry;
    entry.key_name = r.key_name;
    entry.uninstall_string = r.uninstall_string;
    entry.is_windows_installer = r.flag;
    EXPECT_EQ(IsMsiEntry(entry), r.msi) << r.key_name << " / " << r.uninstall_string;
  }
}

TEST(SplitCommandLine, QuotedExeSuffixAndBlankForms) {
  struct Row {
    std::string command;
    bool ok;
    std::string executable, arguments;
  };
  const Row rows[] = {
      {"\"C:\\Program Files\\App\\unins000.exe\" /SILENT", true,
       "C:\\Program Files\\App\\unins000.exe", "/SILENT"},
      {"C:\\Program Files\\App\\uninst.exe /S", true, "C:\\Program Files\\App\\uninst.exe", "/S"},
      {"C:\\App\\remove /q", true, "C:\\App\\remove", "/q"},
      {"C:\\App\\remove\t/q  /r ", true, "C:\\App\\remove", "/q  /r"},
      {"C:\\App\\remove", true, "C:\\App\\remove", ""},
      {"\"C:\\App\\x.exe", true, "C:\\App\\x.exe", ""},             // unclosed quote
      {"\"C:\\App\\x.exe /S", true, "C:\\App\\x.exe", "/S"},
      {"\"C:\\App\\remove /q", true, "C:\\App\\remove", "/q"},      // unclosed, no ".exe"
      {"\"", true, "", ""},                                          // lone quote
      {"\"\"", true, "", ""},                                        // two quotes
      {"\"\" /S", true, "", "/S"},
      {"  \" C:\\x.exe \"  /a  ", true, " C:\\x.exe ", "/a"},       // quoted part kept as is
      {"\"C:\\A\"B\\x.exe\" /S", true, "C:\\A", "B\\x.exe\" /S"},
      {"C:\\A\"B\\x.exe /S", true, "C:\\A\"B\\x.exe", "/S"},        // quote survives
      {"C:\\My.exe tools\\run.exe /S", true, "C:\\My.exe", "tools\\run.exe /S"},
      {"C:\\Apps.exe\\u.exe /S", true, "C:\\Apps.exe", "\\u.exe /S"},  // first ".exe" wins
      {"C:\\APP\\U.EXE/S", true, "C:\\APP\\U.EXE", "/S"},
      {"C:/Tools/x.exe -q", true, "C:/Tools/x.exe", "-q"},
      {".exe", true, ".exe", ""},
      {"\xC4\xD6\\\xDC.exe \xE9", true, "\xC4\xD6\\\xDC.exe", "\xE9"},
      {"\xA0" "C:\\x.exe", true, "\xA0" "C:\\x.exe", ""},  // 0xA0 is no white space
      {"", false, "", ""},
      {"  \t\r\n\v\f", false, "", ""},
  };
  for (const Row& r : rows) {
    std::string executable = "stale";
    std::string arguments = "stale";
    EXPECT_EQ(SplitCommandLine(r.command, &executable, &arguments), r.ok) << r.command;
    EXPECT_EQ(executable, r.executable) << r.command;
    EXPECT_EQ(arguments, r.arguments) << r.command;
    EXPECT_EQ(GetExecutablePath(r.command), r.executable) << r.command;
  }
}

TEST(SplitCommandLine, UnquotedPathWithoutExeEndsAtTheLongestFile) {
  struct Row {
    const char* what;
    std::string command;
    std::set<std::string> on_disk;  // candidates that name a file
    std::string executable, arguments;
  };
  const Row rows[] = {
      {"a planted prefix loses to the real, longer path", "C:\\ProgramData\\My App\\remove /q",
       {"C:\\ProgramData\\My", "C:\\ProgramData\\My App\\remove"}, "C:\\ProgramData\\My App\\remove", "/q"},
      {"the whole text when it names a file", "C:\\My Tools\\remove now",
       {"C:\\My", "C:\\My Tools\\remove now"}, "C:\\My Tools\\remove now", ""},
      {"nothing on disk keeps the first-blank split", "C:\\ProgramData\\My App\\remove /q", {},
       "C:\\ProgramData\\My", "App\\remove /q"},
      {"a shorter candidate when only it exists", "C:\\My App\\remove /q", {"C:\\My"}, "C:\\My",
       "App\\remove /q"},
      {"blanks inside the arguments", "C:\\A B\\rm  -x  -y", {"C:\\A B\\rm"}, "C:\\A B\\rm", "-x  -y"},
      {"an unclosed quote is dropped from candidates", "\"C:\\My App\\remove /q", {"C:\\My App\\remove"},
       "C:\\My App\\remove", "/q"},
      {"quoted commands never ask", "\"C:\\My App\\remove\" /q", {"C:\\My"}, "C:\\My App\\remove", "/q"},
      {"a .exe command never asks", "C:\\My App\\u.exe /q", {"C:\\My"}, "C:\\My App\\u.exe", "/q"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    const NamesFile names_file = [&](const std::string& candidate) {
      return r.on_disk.count(candidate) != 0;
    };
    std::string executable, arguments;
    ASSERT_TRUE(SplitCommandLine(r.command, &executable, &arguments, names_file));
    EXPECT_EQ(executable, r.executable);
    EXPECT_EQ(arguments, r.arguments);
    EXPECT_EQ(GetExecutablePath(r.command, names_file), r.executable);
  }
  // Longest first: the first candidate asked is the whole text.
  std::vector<std::string> asked;
  std::string executable, arguments;
  SplitCommandLine("C:\\A B\\c d", &executable, &arguments, [&](const std::string& c) {
    asked.push_back(c);
    return false;
  });
  EXPECT_EQ(asked, (std::vector<std::string>{"C:\\A B\\c d", "C:\\A B\\c", "C:\\A"}));

  // No path CreateProcess could start is longer than 259 characters: longer candidates are never
  // asked about, however many blanks a command holds.
  asked.clear();
  const std::string many = "C:\\" + std::string(300, 'a') + std::string(100000, ' ') + "x";
  SplitCommandLine("C:\\a b" + std::string(400, ' ') + "c" + std::string(50000, ' ') + "d", &executable,
                   &arguments, [&](const std::string& c) {
                     asked.push_back(c);
                     return false;
                   });
  EXPECT_EQ(asked, (std::vector<std::string>{"C:\\a b", "C:\\a"}));
  asked.clear();
  SplitCommandLine(many, &executable, &arguments, [&](const std::string& c) {
    asked.push_back(c);
    return false;
  });
  EXPECT_TRUE(asked.empty());
  // Exactly 259 characters is still a path CreateProcess can start, and is asked about; 260 is not.
  const std::string longest = "C:\\" + std::string(256, 'a');
  asked.clear();
  for (const std::string& candidate : {longest, longest + "b"}) {
    SplitCommandLine(candidate + " /q", &executable, &arguments, [&](const std::string& c) {
      asked.push_back(c);
      return false;
    });
  }
  EXPECT_EQ(asked, std::vector<std::string>{longest});
}

TEST(SplitCommandLine, LongInputs) {
  const std::string folder(32 * 1024, 'a');
  std::string executable;
  std::string arguments;
  ASSERT_TRUE(SplitCommandLine("\"C:\\" + folder + "\\u.exe\" /S", &executable, &arguments));
  EXPECT_EQ(executable, "C:\\" + folder + "\\u.exe");
  EXPECT_EQ(arguments, "/S");
  ASSERT_TRUE(SplitCommandLine("\"" + folder, &executable, &arguments));
  EXPECT_EQ(executable, folder);
  EXPECT_EQ(arguments, "");
}

TEST(ChooseSilentSwitch, FirstMatchingRuleWins) {
  struct Row {
    std::string uninstall_string, silent_switch;
  };
  const Row rows[] = {
      {"C:\\App\\unins000.exe", "/VERYSILENT"},
      {"\"C:\\App\\unins000.exe\"", "/S"},  // ends with the quote
      {"C:\\App\\Uninstall.exe", "/VERYSILENT"},
      {"C:\\App\\UNINS000.EXE", "/VERYSILENT"},
      {"\"C:\\App\\uninstall.exe\" /S", ""},
      {"\"C:\\App\\uninstall.exe\" /u", ""},
      {"C:\\App\\remove.exe /s ", "/S"},  // not trimmed: no longer ends with "/s"
      {"C:\\Windows\\IsUninst.exe -f\"C:\\App\\Uninst.isu\"", "/s"},
      {"C:\\Program Files\\InstallShield Installation Information\\setup.exe -remove", "/s"},
      {"\"C:\\App\\uninst.exe\" /quiet", ""},
      {"C:\\App\\u.exe /VERYSILENT", ""},
      {"C:\\App\\u.exe /Silent /NoRestart", ""},
      {"C:\\App\\u.exe /qn", ""},
      {"C:\\App\\u.exe /passive", ""},
      {"C:\\App\\setup.exe /UNINSTALL", ""},
      {"C:/Tools/quiet/x.exe", ""},     // the path itself contains "/quiet"
      {"C:\\App\\unins000.exe /quiet", ""},  // row 1 before row 3
      {"C:\\InstallShield\\unins.exe", "/VERYSILENT"},  // row 3 before row 4
      {"C:\\App\\remove.exe /x", "/S"},
      {"C:\\App\\remove.exe", "/S"},
      {"C:\\App\\unins000.exe.bak", "/S"},
      {"", "/S"},
      {"   ", "/S"},
      {"C:\\\xC9unins\xC9.exe", "/VERYSILENT"},
  };
  for (const Row& r : rows) {
    EXPECT_EQ(ChooseSilentSwitch(r.uninstall_string), r.silent_switch) << r.uninstall_string;
  }
}

}  // namespace
}  // namespace varnok
