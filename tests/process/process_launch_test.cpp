#include "process/process_launch.h"

#include <gtest/gtest.h>

#include "support/host/log_capture.h"

namespace varnok {
namespace {

TEST(ValidateCommandLine, QuoteRequiredOnlyWithoutExecutable) {
  const std::string empty_line =
      "operation : ValidateCommandLine; status : failure; remarks : \"Commandline cannot be empty\";";
  const std::string unquoted =
      "operation : ValidateCommandLine; status : failure; remarks : \"Commandline must start with a "
      "quote (\" or ')\";";
  struct Row {
    std::string command_line, executable;
    bool accepted;
    std::string error;
  };
  const Row rows[] = {
      {"", "C:\\x.exe", true, ""},
      {"anything at all", " C:\\x.exe ", true, ""},
      {"\"C:\\x.exe\" /S", "", true, ""},
      {"'C:\\x.exe' /S", "", true, ""},
      {" \t\"C:\\x.exe\"", " ", true, ""},  // leading blanks before the quote are accepted
      {"", "", false, empty_line},
      {" \r\n", "\t", false, empty_line},
      {"C:\\x.exe /S", "", false, unquoted},
      {"\xE2\x80\x9C" "C:\\x.exe\xE2\x80\x9D", "", false, unquoted},  // typographic quotes
  };
  for (const Row& r : rows) {
    testing::TakeLogLines();
    EXPECT_EQ(ValidateCommandLine(r.command_line, r.executable), r.accepted) << r.command_line;
    const auto lines = testing::TakeLogLines();
    if (r.accepted) {
      EXPECT_TRUE(lines.empty());
    } else {
      ASSERT_EQ(lines.size(), 1u);
      EXPECT_EQ(lines[0].message, r.error);
      EXPECT_EQ(lines[0].level, LogLevel::kError);
    }
  }
}

}  // namespace
}  // namespace varnok
