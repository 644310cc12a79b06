#include "run/options.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <new>

#include "run/run_start.h"
#include "support/host/fake_run_environment.h"
#include "support/host/log_capture.h"

namespace varnok {
namespace {

using testing::CapturedLine;
using testing::TakeLogLines;

const char kNoName[] = "Display name not provided. Use -displayName <displayName> parameter.";
const char kBadType[] =
    "MatchType must be one of Exact, Series or Range. Use -matchType <matchType> parameter.";
const char kNoExact[] = "MatchType=Exact requires -exactVersion <version> parameter.";
const char kNoSeries[] = "MatchType=Series requires -seriesPrefix <prefix> parameter.";
const char kNoRange[] =
    "MatchType=Range requires both -minVersion <version> and -maxVersion <version> parameters.";
const char kBadName[] =
    "NameMatch must be one of Exact, Prefix or Contains. Use -nameMatch <nameMatch> parameter.";

std::string FailureLine(const std::string& remarks) {
  return "operation : ProcessArgs; status : failure; remarks : \"" + remarks +
         "\"; return_value : ERROR_INVALID_PARAMETER;";
}

struct Parsed {
  int result;
  RunOptions options;
  std::vector<CapturedLine> lines;
};

Parsed Parse(std::vector<std::string> args) {
  args.insert(args.begin(), "C:\\agent\\app_varnok.exe");
  std::vector<const char*> argv;
  for (const std::string& a : args) argv.push_back(a.c_str());
  TakeLogLines();
  Parsed p;
  p.result = ProcessArgs(static_cast<int>(argv.size()), argv.data(), p.options);
  p.lines = TakeLogLines();
  return p;
}

TEST(ProcessArgs, ValidationOrderAndFailureLines) {
  struct Row {
    std::vector<std::string> args;
    const char* failure;  // nullptr: valid
    // What a valid line parses to.
    VersionMatchKind match = VersionMatchKind::kExact;
    NameMatchKind name = NameMatchKind::kExact;
  };
  const Row rows[] = {
      {{}, kNoName},
      {{"-matchType", "bogus", "-nameMatch", "bogus"}, kNoName},
      {{"-displayName", "Foo"}, kBadType},
      {{"-displayName", "Foo", "-exactVersion", "1.0"}, kBadType},
      {{"-displayName", "Foo", "-matchType", ""}, kBadType},
      {{"-displayName", "Foo", "-matchType", "Exact", "-exactVersion"}, kNoExact},
      {{"-displayName", "Foo", "-matchType", "series", "-nameMatch", "x"}, kNoSeries},
      {{"-displayName", "Foo", "-matchType", "Range", "-minVersion", "1"}, kNoRange},
      {{"-displayName", "Foo", "-matchType", "Range", "-maxVersion", "1"}, kNoRange},
      {{"-displayName", "Foo", "-matchType", "Exact", "-exactVersion", "1", "-nameMatch", "Regex"},
       kBadName},
      {{"-displayName", "Foo", "-matchType", "Exact", "-exactVersion", "1.0"}, nullptr},
      {{"-DISPLAYNAME", "Foo", "-MatchType", "range", "-MINVERSION", "1", "-maxversion", "2"},
       nullptr, VersionMatchKind::kRange},
      {{"-displayName", "Foo", "-matchType", "SERIES", "-seriesPrefix", "abc", "-nameMatch",
        "contains"},
       nullptr, VersionMatchKind::kSeries, NameMatchKind::kContains},
      {{"-displayName", "Foo", "-matchType", "Exact", "-exactVersion", "1", "-nameMatch", "PREFIX"},
       nullptr, VersionMatchKind::kExact, NameMatchKind::kPrefix},
      {{"-displayName", "Foo", "-matchType", "exact", "-exactVersion", "1", "-nameMatch", "Exact"},
       nullptr, VersionMatchKind::kExact, NameMatchKind::kExact},
  };
  for (const Row& row : rows) {
    const Parsed p = Parse(row.args);
    ASSERT_EQ(p.lines.size(), row.failure ? 10u : 9u);
    if (row.failure) {
      EXPECT_EQ(p.result, 87);
      EXPECT_EQ(p.lines.back(), (CapturedLine{LogLevel::kError, FailureLine(row.failure)}));
    } else {
      EXPECT_EQ(p.result, 0);
      EXPECT_EQ(p.options.MatchType, row.match) << row.args[3];
      EXPECT_EQ(p.options.NameMatch, row.name) << row.args[3];
    }
  }
}

TEST(ProcessArgs, ScanRules) {
  {
    const Parsed p = Parse({"-displayName", "A", "-displayName", "B"});
    EXPECT_EQ(p.options.DisplayName, "B");
  }
  {  // a value option takes the next word whatever it is
    const Parsed p = Parse({"-displayName", "-whatIf"});
    EXPECT_EQ(p.options.DisplayName, "-whatIf");
    EXPECT_FALSE(p.options.WhatIf);
  }
  {  // -whatIf anywhere, takes no value; unrecognised words are ignored
    const Parsed p = Parse({"-WHATIF", "true", "foo", "/x", "-displayName", "Foo Bar \"q\"",
                            "-matchType", "Range", "-minVersion", "1", "-maxVersion", "2",
                            "-exeArgs", "--mode unattended", "-nameMatch", "Prefix"});
    EXPECT_EQ(p.result, 0);
    EXPECT_TRUE(p.options.WhatIf);
    EXPECT_EQ(p.options.DisplayName, "Foo Bar \"q\"");
    EXPECT_EQ(p.options.ExeArgs, "--mode unattended");
    EXPECT_EQ(p.options.MatchType, VersionMatchKind::kRange);
    EXPECT_EQ(p.options.NameMatch, NameMatchKind::kPrefix);
    EXPECT_EQ(p.options.NameMatchText, "Prefix");
  }
  {  // a value option at the very end stops the scan; what came before stays
    const Parsed p = Parse({"-displayName", "Foo", "-whatIf", "-exeArgs"});
    EXPECT_EQ(p.options.DisplayName, "Foo");
    EXPECT_TRUE(p.options.WhatIf);
    EXPECT_EQ(p.options.ExeArgs, "");
  }
  {  // options are reset on every call
    Parse({"-displayName", "Old", "-whatIf"});
    const Parsed p = Parse({});
    EXPECT_EQ(p.options.DisplayName, "");
    EXPECT_FALSE(p.options.WhatIf);
    EXPECT_EQ(p.options.NameMatchText, "Exact");
  }
}

TEST(ProcessArgs, ParameterLinesShowValuesAsReceived) {
  // Arguments arrive as UTF-8; the log writes the code page's bytes (1252 in the host tests).
  const std::string odd = "a \"b\" \u00E9\t;";
  const Parsed p = Parse({"-displayName", odd, "-matchType", "Exact", "-exactVersion", " 1 ",
                          "-whatIf"});
  const std::vector<std::string> expected = {
      "param_name : DisplayName; param_value : \"a \"b\" \xE9\t;\";",
      "param_name : MatchType; param_value : \"Exact\";",
      "param_name : NameMatch; param_value : \"Exact\";",
      "param_name : ExactVersion; param_value : \" 1 \";",
      "param_name : SeriesPrefix; param_value : \"\";",
      "param_name : MinVersion; param_value : \"\";",
      "param_name : MaxVersion; param_value : \"\";",
      "param_name : ExeArgs; param_value : \"\";",
      "param_name : WhatIf; param_value : \"true\";",
  };
  ASSERT_EQ(p.lines.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(p.lines[i], (CapturedLine{LogLevel::kInfo, expected[i]}));
  }
}

TEST(RunStart, InvalidOptionsEndWithTheirLineAndCode87) {
  TakeLogLines();
  const char* argv[] = {"app_varnok.exe"};
  testing::FakeRunEnvironment environment;
  EXPECT_EQ(RunApplication(1, argv, environment), 87);
  EXPECT_EQ(environment.shell_restores, 0);  // nothing else happens in such a run
  const auto lines = TakeLogLines();
  EXPECT_EQ(testing::LastLogFileName(), "fmprereqhandler.log");
  ASSERT_EQ(lines.size(), 12u);
  EXPECT_EQ(lines.front(), (CapturedLine{LogLevel::kInfo, "app_varnok_version : 2026.09.15;"}));
  EXPECT_EQ(lines[10], (CapturedLine{LogLevel::kError, FailureLine(kNoName)}));
  EXPECT_EQ(lines[11],
            (CapturedLine{LogLevel::kError,
                          "operation : app_varnok; status : failure; exit_code : 87; remarks : "
                          "\"Invalid arguments provided. Exiting with error code : "
                          "ERROR_INVALID_PARAMETER.\";"}));
}

TEST(RunStart, AnAllocationThatFailsEndsTheRunWithOneLineAnd51006) {
  struct Exhausted : testing::FakeRunEnvironment {
    std::vector<UninstallEntry> GetUninstallEntries() override { throw std::bad_alloc(); }
  };
  Exhausted environment;
  const char* argv[] = {"app_varnok.exe", "-displayName", "Foo", "-matchType", "Exact",
                        "-exactVersion", "1"};
  TakeLogLines();
  EXPECT_EQ(RunApplication(7, argv, environment), 51006);
  const auto lines = TakeLogLines();
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back(), (CapturedLine{LogLevel::kError,
                                        "operation : app_varnok; status : failure; remarks : \"The run "
                                        "stopped on an unexpected error: std::bad_alloc\"; return_value : 51006;"}));
  EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                          [](const CapturedLine& l) { return l.level == LogLevel::kError; }),
            1);
}

}  // namespace
}  // namespace varnok
