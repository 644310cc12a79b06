#include "inventory/value_expansion.h"

#include <gtest/gtest.h>

namespace varnok {
namespace {

TEST(JudgeExpansion, OnlyAWholeTextWithoutAPercentSignIsUsable) {
  const struct { const char* what; ExpandedText expanded; ExpansionVerdict verdict; } cases[] = {
      {"a path", {0, "\"C:\\Program Files\\A\\u.exe\" /x"}, ExpansionVerdict::kUsable},
      {"the largest text", {0, std::string(65535, 'a')}, ExpansionVerdict::kUsable},
      {"no room for the terminator", {0, std::string(65536, 'a')}, ExpansionVerdict::kTooLarge},
      {"reported too large", {kErrorValueTooLarge, ""}, ExpansionVerdict::kTooLarge},
      {"an error", {1332, ""}, ExpansionVerdict::kFailed},
      {"an undefined variable", {0, "C:\\%NOPE%\\u.exe"}, ExpansionVerdict::kVariableLeft},
      {"one sign left", {0, "%AC:\\Program Files\\u.exe"}, ExpansionVerdict::kVariableLeft},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(JudgeExpansion(c.expanded), c.verdict);
  }
}

TEST(WithNativeProgramFolders, RenamesTheProgramFolderVariablesOnly) {
  const std::pair<const char*, const char*> cases[] = {
      {"\"%ProgramFiles%\\A\\u.exe\" /S", "\"%ProgramW6432%\\A\\u.exe\" /S"},
      {"%programfiles%", "%ProgramW6432%"},
      {"%CommonProgramFiles%\\A", "%CommonProgramW6432%\\A"},
      {"%SystemRoot%\\%ProgramFiles%", "%SystemRoot%\\%ProgramW6432%"},
      {"%ProgramFiles(x86)%\\A", "%ProgramFiles(x86)%\\A"},
      {"C:\\ProgramFiles\\A", "C:\\ProgramFiles\\A"},
      // Signs pair left to right: here "% %" is one pair and "ProgramFiles%" no variable.
      {"50% %ProgramFiles%", "50% %ProgramFiles%"},
      {"%ProgramFiles", "%ProgramFiles"},
  };
  for (const auto& [text, expected] : cases) {
    EXPECT_EQ(WithNativeProgramFolders(text), expected) << text;
  }
}

}  // namespace
}  // namespace varnok
