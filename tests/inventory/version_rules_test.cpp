#include "inventory/version_rules.h"

#include <gtest/gtest.h>

namespace varnok {
namespace {

using V = std::vector<int32_t>;
constexpr int32_t kMax = 2147483647;

// A view of exactly the text's bytes on the heap, with no terminator after them, so that the
// address sanitizer reports any read past the end.
std::string_view Unterminated(const std::string& text, std::vector<char>& storage) {
  storage.assign(text.begin(), text.end());
  return std::string_view(storage.data(), storage.size());
}

std::string Repeat(std::string_view piece, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) out.append(piece);
  return out;
}

TEST(ParseVersion, ReadsLeadingDigitsAndDots) {
  struct Row {
    std::string text;
    V version;
  };
  const Row rows[] = {
      {"10.0", {10, 0}}, {"10", {10}}, {" \t1.2\r\n", {1, 2}}, {" v1.2 ", {1, 2}},
      {"1.2a", {1, 2}}, {"1.2-beta3", {1, 2}}, {"V1.2", {1, 2}}, {"1,5", {1}},
      {"1..2", {1, 2}}, {".5", {5}}, {"010.2", {10, 2}}, {"V 1.2", {}}, {"vv1", {}},
      {"abc", {}}, {".", {}}, {"...", {}}, {"", {}}, {"1.2\xB3", {1, 2}}, {"\xB9.2", {}},
      {"2147483646", {kMax - 1}}, {"2147483647", {kMax}}, {"2147483648", {kMax}},
      {"99999999999", {kMax}}, {"000000000000000000007.1", {7, 1}},  // zeros never saturate
      {Repeat("9", 5000), {kMax}}, {Repeat(".", 5000), {}}, {Repeat("1.", 2500), V(2500, 1)},
  };
  std::vector<char> buffer;
  for (const Row& r : rows) {
    EXPECT_EQ(ParseVersion(Unterminated(r.text, buffer)), r.version) << "[" << r.text << "]";
  }
}

TEST(ParseVersion, KeepsEveryOneOfManyComponents) {
  std::string text = "0";
  V expected = {0};
  for (int i = 1; i < 300; ++i) {
    text += "." + std::to_string(i);
    expected.push_back(i);
  }
  EXPECT_EQ(ParseVersion(text), expected);
}

TEST(CompareVersions, MissingComponentsCountAsZero) {
  struct Row {
    std::string a, b;
    int result;
  };
  const Row rows[] = {
      {"10.0", "10", 0},        {"1.2", "1.10", -1},          {"2", "1.99", 1},
      {"1.0.0.1", "1", 1},      {"", "0.0", 0},               {"", "0.1", -1},
      {"99999999999", "2147483647", 0}, {"2147483648", "2147483646", 1},
      {Repeat("1.", 299) + "2", Repeat("1.", 300), 1},
  };
  for (const Row& r : rows) {
    const V a = ParseVersion(r.a), b = ParseVersion(r.b);
    EXPECT_EQ(CompareVersions(a, b), r.result) << r.a << " ? " << r.b;
    EXPECT_EQ(CompareVersions(b, a), -r.result) << r.b << " ? " << r.a;
  }
}

TEST(VersionSeries, BoundaryIsAWholeComponent) {
  struct Row {
    std::string prefix, candidate;
    bool match;
  };
  const Row rows[] = {
      {"10", "10", true},        {"10", "10.0", true},     {"10", "10.5.1", true},
      {"10", "100.1", false},    {"10", "1.0", false},     {"1.2", "1.20", false},
      {"10.0", "10", true},      {"10.0.0", "10", true},   {"3.11", "3.110", false},
      {"abc", "1", false},       {"", "1", false},         {"1", "n/a", false},
  };
  VersionRule options;
  for (const Row& r : rows) {
    options.SeriesPrefix = r.prefix;
    EXPECT_EQ(MatchesSeries(r.candidate, options), r.match) << r.prefix << " / " << r.candidate;
  }
}

TEST(EvaluateVersionRule, DecidesAndExplains) {
  const auto kExact = VersionMatchKind::kExact, kSeries = VersionMatchKind::kSeries,
             kRange = VersionMatchKind::kRange, kOther = static_cast<VersionMatchKind>(3);
  struct Row {
    VersionMatchKind kind;
    std::string setting1, setting2, candidate;  // Exact/Series: setting1; Range: min, max
    bool result;
    std::string reason;
  };
  const Row rows[] = {
      {kExact, "10", "", "10.0.0", true, "Exact match 10.0.0 = 10"},
      {kExact, "10", "", " V10 ", true, "Exact match  V10  = 10"},
      {kExact, "10", "", "10.0.1", false, "Exact miss: installed=10.0.1 rule=10"},
      {kExact, "10", "", "1.0", false, "Exact miss: installed=1.0 rule=10"},
      {kExact, "10.0", "", "10.0.19041", false, "Exact miss: installed=10.0.19041 rule=10.0"},
      {kExact, "1.2a", "", "1.2", true, "Exact match 1.2 = 1.2a"},
      {kExact, "99999999999", "", "4000000000", true, "Exact match 4000000000 = 99999999999"},
      {kExact, "abc", "", "1", false, "ExactVersion missing in configuration"},
      {kSeries, "3.11", "", "3.11.4", true, "Series match 3.11.4 starts with 3.11"},
      {kSeries, "3.11", "", "3.1", false, "Series miss: installed=3.1 prefix=3.11"},
      {kSeries, "3.0", "", "3", true, "Series match 3 starts with 3.0"},
      {kSeries, "abc", "", "1", false, "Series miss: installed=1 prefix=abc"},
      {kSeries, "", "", "1", false, "SeriesPrefix missing in configuration"},
      {kRange, "1.0", "2.0", "1.0", true, "Range match 1.0 <= 1.0 <= 2.0"},
      {kRange, "1.0", "2.0", "1.5.7", true, "Range match 1.0 <= 1.5.7 <= 2.0"},
      {kRange, "1.0", "2.0", "2.0.0", true, "Range match 1.0 <= 2.0.0 <= 2.0"},
      {kRange, "1.0", "2.0", "2.0.1", false, "Range miss: installed=2.0.1 not in 1.0 - 2.0"},
      {kRange, "1.0", "2.0", "0.9", false, "Range miss: installed=0.9 not in 1.0 - 2.0"},
      {kRange, "5", "1", "5", false, "Range miss: installed=5 not in 5 - 1"},
      {kRange, "5", "1", "1", false, "Range miss: installed=1 not in 5 - 1"},
      {kRange, "1", "x", "1", false, "MinVersion or MaxVersion missing in configuration"},
      {kRange, "", "2", "1", false, "MinVersion or MaxVersion missing in configuration"},
      {kOther, "1", "2", "1", false, "Unknown MatchType"},
      {static_cast<VersionMatchKind>(-1), "1", "2", "1", false, "Unknown MatchType"},
  };
  std::string reason = "left over";  // reused across rows: every call must replace it
  for (const Row& r : rows) {
    VersionRule options;
    options.MatchType = r.kind;
    options.ExactVersion = options.SeriesPrefix = options.MinVersion = r.setting1;
    options.MaxVersion = r.setting2;
    EXPECT_EQ(EvaluateVersionRule(r.candidate, options, reason), r.result) << r.reason;
    EXPECT_EQ(reason, r.reason);
  }
}

TEST(EvaluateVersionRule, UnreadableCandidateFailsUnderEveryRule) {
  std::string reason;
  for (int kind = 0; kind <= 3; ++kind) {
    VersionRule options;
    options.MatchType = static_cast<VersionMatchKind>(kind);
    for (const char* candidate : {"", "N/A", "beta", "..."}) {
      EXPECT_FALSE(EvaluateVersionRule(candidate, options, reason));
      EXPECT_EQ(reason, std::string("DisplayVersion empty or unreadable: [") + candidate + "]");
    }
  }
}

TEST(ExtractVersionFromText, DottedFormFirstThenFourDigits) {
  struct Row {
    std::string text, version;
  };
  const Row rows[] = {
      {"Example Runtime 3.11.4 (64-bit)", "3.11.4"},
      {"Redistributable (x64) - 14.29.30133", "14.29.30133"},
      {"Tool V2.0b", "2.0"}, {"Name 1.", ""}, {"Office 2016", "2016"}, {"Build 12345", ""},
      {"Version 1.2.3.", "1.2.3"}, {"Product 2019 10.3", "10.3"}, {"Office 2016 (x86)", "2016"},
      {"Tool 12 v34 56789", ""}, {"1..2 2.x 3.4", "3.4"}, {"12345 2016", "2016"},
      {"x\xB2.3 4.5", "4.5"}, {"7.8", "7.8"}, {"", ""}, {Repeat(".", 5000), ""},
      {Repeat("9", 5000), ""}, {"a" + Repeat("12.", 300) + "z", Repeat("12.", 299) + "12"},
  };
  std::vector<char> buffer;
  for (const Row& r : rows) {
    EXPECT_EQ(ExtractVersionFromText(Unterminated(r.text, buffer)), r.version) << r.text;
  }
}

}  // namespace
}  // namespace varnok
