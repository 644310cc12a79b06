#include "inventory/version_rules.h"

#include <algorithm>
#include <initializer_list>
#include <limits>

#include "common/strings.h"

namespace varnok {
namespace {

constexpr int32_t kComponentMax = std::numeric_limits<int32_t>::max();

// Decimal value of a digit run, saturating instead of overflowing: version texts come from
// registry data and file names that anyone can write.
int32_t ParseComponent(std::string_view digits) {
  int64_t value = 0;
  for (char c : digits) {
    value = value * 10 + (c - '0');
    if (value > kComponentMax) return kComponentMax;
  }
  return static_cast<int32_t>(value);
}

std::string Concat(std::initializer_list<std::string_view> pieces) {
  std::string out;
  for (std::string_view piece : pieces) out.append(piece);
  return out;
}

size_t DigitRunEnd(std::string_view text, size_t pos) {
  while (pos < text.size() && IsAsciiDigit(text[pos])) ++pos;
  return pos;
}

// The dotted number whose first digit is at `start`, or empty when it has a single part.
std::string DottedNumberAt(std::string_view text, size_t start) {
  size_t end = DigitRunEnd(text, start);
  size_t parts = 1;
  while (end + 1 < text.size() && text[end] == '.' && IsAsciiDigit(text[end + 1])) {
    end = DigitRunEnd(text, end + 1);
    ++parts;
  }
  return parts >= 2 ? std::string(text.substr(start, end - start)) : std::string();
}

bool ExactRule(std::string_view candidate, const VersionRule& options, std::string& reason) {
  const std::vector<int32_t> exact = ParseVersion(options.ExactVersion);
  if (exact.empty()) {
    reason = "ExactVersion missing in configuration";
    return false;
  }
  if (CompareVersions(ParseVersion(candidate), exact) == 0) {
    reason = Concat({"Exact match ", candidate, " = ", options.ExactVersion});
    return true;
  }
  reason = Concat({"Exact miss: installed=", candidate, " rule=", options.ExactVersion});
  return false;
}

bool SeriesRule(std::string_view candidate, const VersionRule& options, std::string& reason) {
  // Only an absent prefix counts as missing; an unreadable one is simply a prefix nothing matches.
  if (options.SeriesPrefix.empty()) {
    reason = "SeriesPrefix missing in configuration";
    return false;
  }
  if (MatchesSeries(candidate, options)) {
    reason = Concat({"Series match ", candidate, " starts with ", options.SeriesPrefix});
    return true;
  }
  reason = Concat({"Series miss: installed=", candidate, " prefix=", options.SeriesPrefix});
  return false;
}

bool RangeRule(std::string_view candidate, const VersionRule& options, std::string& reason) {
  const std::vector<int32_t> min = ParseVersion(options.MinVersion);
  const std::vector<int32_t> max = ParseVersion(options.MaxVersion);
  if (min.empty() || max.empty()) {
    reason = "MinVersion or MaxVersion missing in configuration";
    return false;
  }
  const std::vector<int32_t> version = ParseVersion(candidate);
  if (CompareVersions(version, min) >= 0 && CompareVersions(version, max) <= 0) {
    reason = Concat({"Range match ", options.MinVersion, " <= ", candidate, " <= ",
                     options.MaxVersion});
    return true;
  }
  reason = Concat({"Range miss: installed=", candidate, " not in ", options.MinVersion, " - ",
                   options.MaxVersion});
  return false;
}

}  // namespace

std::vector<int32_t> ParseVersion(std::string_view text) {
  const std::string trimmed = Trim(text);
  std::string_view rest = trimmed;
  if (!rest.empty() && (rest.front() == 'v' || rest.front() == 'V')) rest.remove_prefix(1);
  size_t keep = 0;
  while (keep < rest.size() && (IsAsciiDigit(rest[keep]) || rest[keep] == '.')) ++keep;
  std::vector<int32_t> version;
  for (const std::string& piece : SplitAny(rest.substr(0, keep), ".")) {
    version.push_back(ParseComponent(piece));
  }
  return version;
}

int CompareVersions(const std::vector<int32_t>& a, const std::vector<int32_t>& b) {
  const size_t count = std::max(a.size(), b.size());
  for (size_t i = 0; i < count; ++i) {
    const int32_t left = i < a.size() ? a[i] : 0;
    const int32_t right = i < b.size() ? b[i] : 0;
    if (left != right) return left < right ? -1 : 1;
  }
  return 0;
}

bool MatchesSeries(std::string_view candidate, const VersionRule& options) {
  const std::vector<int32_t> prefix = ParseVersion(options.SeriesPrefix);
  const std::vector<int32_t> version = ParseVersion(candidate);
  if (prefix.empty() || version.empty()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    if ((i < version.size() ? version[i] : 0) != prefix[i]) return false;
  }
  return true;
}

bool EvaluateVersionRule(std::string_view candidate, const VersionRule& options,
                         std::string& reason) {
  // Every path below assigns `reason`, so a text left from an earlier row never survives.
  // Checked before the rule: the candidate may also come from a display name, but the log
  // wording stays the same so that one search finds every unreadable row.
  if (ParseVersion(candidate).empty()) {
    reason = Concat({"DisplayVersion empty or unreadable: [", candidate, "]"});
    return false;
  }
  switch (options.MatchType) {
    case VersionMatchKind::kExact:
      return ExactRule(candidate, options, reason);
    case VersionMatchKind::kSeries:
      return SeriesRule(candidate, options, reason);
    case VersionMatchKind::kRange:
      return RangeRule(candidate, options, reason);
  }
  reason = "Unknown MatchType";
  return false;
}

std::string ExtractVersionFromText(std::string_view text) {
  // A dotted number anywhere beats a year-like number before it ("Product 2019 10.3").
  for (size_t i = 0; i < text.size(); ++i) {
    if (!IsAsciiDigit(text[i]) || (i > 0 && IsAsciiDigit(text[i - 1]))) continue;
    std::string dotted = DottedNumberAt(text, i);
    if (!dotted.empty()) return dotted;
  }
  for (size_t i = 0; i < text.size();) {
    if (!IsAsciiDigit(text[i])) {
      ++i;
      continue;
    }
    const size_t end = DigitRunEnd(text, i);
    if (end - i == 4) return std::string(text.substr(i, 4));
    i = end;
  }
  return std::string();
}

}  // namespace varnok
