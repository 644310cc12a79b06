// Hostile command lines through ProcessArgs: the agent may pass anything, and the result must
// still be 0 or 87 with the nine parameter lines, and options that only ever hold what was
// actually passed.
//
// Input layout (see make_seeds.py): from the end, one byte with the argument count (mod 41),
// then one byte per argument: below 0x80 picks a known word (low four bits) whose letters are
// case-flipped by bits 4-6, 0x80 and above takes the next text; from the start, those texts,
// each ended by a backslash and one more byte. A text is cut at its first NUL, as argv would be.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <string>
#include <vector>

#include "common/strings.h"
#include "fuzz_check.h"
#include "log/log_format.h"
#include "run/options.h"

namespace varnok::fuzz {
namespace {

constexpr int kMaxArguments = 40;
constexpr size_t kMaxText = 300;

const char* const kWords[16] = {"-displayName",  "-matchType",  "-nameMatch",  "-exactVersion",
                                "-seriesPrefix", "-minVersion", "-maxVersion", "-exeArgs",
                                "-whatIf",       "Exact",       "Series",      "Range",
                                "Prefix",        "Contains",    "2.4.1",       "Contoso Tool"};

std::string FlipCase(std::string word, unsigned mask) {
  for (size_t i = 0; i < word.size(); ++i) {
    if ((mask >> (i % 3)) & 1) {
      word[i] = IsAsciiAlpha(word[i]) ? static_cast<char>(word[i] ^ 0x20) : word[i];
    }
  }
  return word;
}

struct Field {
  const char* option;
  const char* log_name;
  std::string RunOptions::*member;
  const char* unset;
};

const Field kFields[] = {
    {"-displayName", "DisplayName", &RunOptions::DisplayName, ""},
    {"-matchType", "MatchType", &RunOptions::MatchTypeText, ""},
    {"-nameMatch", "NameMatch", &RunOptions::NameMatchText, "Exact"},
    {"-exactVersion", "ExactVersion", &RunOptions::ExactVersion, ""},
    {"-seriesPrefix", "SeriesPrefix", &RunOptions::SeriesPrefix, ""},
    {"-minVersion", "MinVersion", &RunOptions::MinVersion, ""},
    {"-maxVersion", "MaxVersion", &RunOptions::MaxVersion, ""},
    {"-exeArgs", "ExeArgs", &RunOptions::ExeArgs, ""},
};

// True when some argument that follows `option` is exactly `value`.
bool PassedAsValue(const std::vector<std::string>& args, const char* option,
                   const std::string& value) {
  for (size_t i = 1; i < args.size(); ++i) {
    if (EqualsNoCase(args[i - 1], option) && args[i] == value) return true;
  }
  return false;
}

void CheckFields(const std::vector<std::string>& args, const RunOptions& options) {
  for (const Field& field : kFields) {
    const std::string& value = options.*(field.member);
    // A value that nobody passed would come from a previous call or from nowhere.
    if (value != field.unset) {
      FUZZ_CHECK_MSG(PassedAsValue(args, field.option, value),
                     field.log_name + (" " + Show(value)));
    }
  }
  if (options.WhatIf) {
    bool passed = false;
    for (const std::string& arg : args) passed = passed || EqualsNoCase(arg, "-whatIf");
    FUZZ_CHECK(passed);
  }
}

void CheckLines(const RunOptions& options, int result,
                const std::vector<testing::CapturedLine>& lines) {
  FUZZ_CHECK_MSG(lines.size() == (result == 0 ? 9u : 10u), std::to_string(lines.size()));
  for (size_t i = 0; i < 9; ++i) {
    FUZZ_CHECK(lines[i].level == LogLevel::kInfo);
    FUZZ_CHECK_MSG(!HasLineBreak(lines[i].message), Show(lines[i].message));
  }
  for (size_t i = 0; i < 8; ++i) {
    const std::string expected = std::string("param_name : ") + kFields[i].log_name +
                                 "; param_value : \"" +
                                 EscapeLogText(options.*(kFields[i].member)) + "\";";
    FUZZ_CHECK_MSG(lines[i].message == expected, Show(lines[i].message));
  }
  FUZZ_CHECK(lines[8].message == std::string("param_name : WhatIf; param_value : \"") +
                                     (options.WhatIf ? "true" : "false") + "\";");
  FUZZ_CHECK(CountLevel(lines, LogLevel::kError) == (result == 0 ? 0u : 1u));
  if (result != 0) {
    FUZZ_CHECK_MSG(StartsWith(lines[9].message, "operation : ProcessArgs; status : failure; "),
                   Show(lines[9].message));
  }
}

bool ExpectValid(const RunOptions& o) {
  if (o.DisplayName.empty()) return false;
  bool version_rule = false;
  if (EqualsNoCase(o.MatchTypeText, "Exact")) {
    version_rule = !o.ExactVersion.empty() && o.MatchType == VersionMatchKind::kExact;
  } else if (EqualsNoCase(o.MatchTypeText, "Series")) {
    version_rule = !o.SeriesPrefix.empty() && o.MatchType == VersionMatchKind::kSeries;
  } else if (EqualsNoCase(o.MatchTypeText, "Range")) {
    version_rule =
        !o.MinVersion.empty() && !o.MaxVersion.empty() && o.MatchType == VersionMatchKind::kRange;
  }
  const bool name_rule =
      (EqualsNoCase(o.NameMatchText, "Exact") && o.NameMatch == NameMatchKind::kExact) ||
      (EqualsNoCase(o.NameMatchText, "Prefix") && o.NameMatch == NameMatchKind::kPrefix) ||
      (EqualsNoCase(o.NameMatchText, "Contains") && o.NameMatch == NameMatchKind::kContains);
  return version_rule && name_rule;
}

}  // namespace
}  // namespace varnok::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace varnok;
  FuzzedDataProvider input(data, size);
  const int count = input.ConsumeIntegral<uint8_t>() % (fuzz::kMaxArguments + 1);
  std::vector<uint8_t> picks;
  for (int i = 0; i < count; ++i) picks.push_back(input.ConsumeIntegral<uint8_t>());
  std::vector<std::string> args;
  for (uint8_t pick : picks) {
    if (pick < 0x80) {
      args.push_back(fuzz::FlipCase(fuzz::kWords[pick & 15], pick >> 4));
    } else {
      args.push_back(fuzz::CutAtNul(input.ConsumeRandomLengthString(fuzz::kMaxText)));
    }
  }
  std::vector<const char*> argv;
  for (const std::string& arg : args) argv.push_back(arg.c_str());
  argv.push_back(nullptr);

  // Left over from an earlier call: every field must be reset, not merged.
  RunOptions options;
  options.DisplayName = "left over";
  options.MatchTypeText = "Range";
  options.NameMatchText = "Contains";
  options.ExactVersion = options.SeriesPrefix = options.MinVersion = options.MaxVersion = "9";
  options.ExeArgs = "/left-over";
  options.WhatIf = true;
  options.NameMatch = NameMatchKind::kContains;
  options.MatchType = VersionMatchKind::kRange;

  testing::TakeLogLines();
  const int result = ProcessArgs(count, argv.data(), options);
  const std::vector<testing::CapturedLine> lines = testing::TakeLogLines();
  FUZZ_CHECK_MSG(result == 0 || result == kErrorInvalidParameter, std::to_string(result));
  fuzz::CheckLines(options, result, lines);
  fuzz::CheckFields(args, options);
  FUZZ_CHECK((result == 0) == fuzz::ExpectValid(options));
  return 0;
}
