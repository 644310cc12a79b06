// Version texts come from registry data and file names that anyone can write: reading them must
// never fail, comparing them must be a consistent order, and the rule decision must agree with
// that order.
//
// Input layout (see make_seeds.py): one byte at the very end selects the match type (value mod
// 3); from the start, the texts a, b, c, candidate, ExactVersion, SeriesPrefix, MinVersion,
// MaxVersion, display_name and display_version, each ended by a backslash and one more byte.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "common/strings.h"
#include "fuzz_check.h"
#include "reference.h"
#include "inventory/uninstall_entry.h"
#include "inventory/version_rules.h"
#include "run/bundles.h"

namespace varnok::fuzz {
namespace {

constexpr size_t kMaxText = 256;

std::string Join(const std::vector<int32_t>& version) {
  std::string out;
  for (int32_t component : version) {
    if (!out.empty()) out += '.';
    out += std::to_string(component);
  }
  return out;
}

std::vector<int32_t> CheckParse(const std::string& text) {
  const std::vector<int32_t> version = ParseVersion(text);
  for (int32_t component : version) FUZZ_CHECK_MSG(component >= 0, Show(text));
  FUZZ_CHECK(version.size() <= text.size());
  bool has_digit = false;
  for (char c : text) has_digit = has_digit || IsAsciiDigit(c);
  if (!has_digit) FUZZ_CHECK_MSG(version.empty(), Show(text));
  // Printing the components and reading them again loses nothing (saturation included).
  FUZZ_CHECK_MSG(ParseVersion(Join(version)) == version, Show(text) + " -> " + Join(version));
  FUZZ_CHECK_MSG(ParseVersion(" \t" + text + " \r\n") == version, Show(text));
  FUZZ_CHECK_MSG(Join(version) == reference::Join(reference::Components(text)),
                 Show(text) + " -> " + Join(version) + " expected " + reference::Join(reference::Components(text)));
  return version;
}

void CheckOrder(const std::string& text_a, const std::string& text_b, const std::string& text_c) {
  const std::vector<int32_t> a = ParseVersion(text_a);
  const std::vector<int32_t> b = ParseVersion(text_b);
  const std::vector<int32_t> c = ParseVersion(text_c);
  const int ab = CompareVersions(a, b);
  FUZZ_CHECK_MSG(ab == reference::Compare(reference::Components(text_a), reference::Components(text_b)),
                 Join(a) + " vs " + Join(b) + " gave " + std::to_string(ab));
  // One more component makes a version greater, whatever came before.
  std::vector<int32_t> longer = a;
  longer.push_back(1);
  FUZZ_CHECK_MSG(CompareVersions(a, longer) == -1 && CompareVersions(longer, a) == 1, Join(a));
  FUZZ_CHECK_MSG(CompareVersions(b, a) == -ab, Join(a) + " vs " + Join(b));
  FUZZ_CHECK(CompareVersions(a, a) == 0);
  std::vector<int32_t> padded = a;
  padded.push_back(0);
  FUZZ_CHECK_MSG(CompareVersions(a, padded) == 0, Join(a));
  if (ab <= 0 && CompareVersions(b, c) <= 0) {
    FUZZ_CHECK_MSG(CompareVersions(a, c) <= 0, Join(a) + " " + Join(b) + " " + Join(c));
  }
}

void CheckExtract(const std::string& text) {
  const std::string found = ExtractVersionFromText(text);
  FUZZ_CHECK_MSG(found == reference::VersionInText(text),
                 Show(text) + " gave " + Show(found) + " expected " + Show(reference::VersionInText(text)));
  if (found.empty()) return;
  FUZZ_CHECK_MSG(text.find(found) != std::string::npos, Show(text) + " gave " + Show(found));
  FUZZ_CHECK_MSG(!ParseVersion(found).empty(), Show(found));
  for (char c : found) FUZZ_CHECK_MSG(IsAsciiDigit(c) || c == '.', Show(found));
  FUZZ_CHECK_MSG(IsAsciiDigit(found.front()) && IsAsciiDigit(found.back()), Show(found));
}

void CheckProductKey(const UninstallEntry& entry) {
  const std::string key = ProductKey(entry);
  FUZZ_CHECK(key.find('|') != std::string::npos);
  FUZZ_CHECK_MSG(EndsWith(key, "|" + entry.display_version), Show(key));
  if (!StartsWithNoCase(entry.display_name, "Python ") &&
      !StartsWithNoCase(entry.display_name, "Camtasia")) {
    FUZZ_CHECK_MSG(key == entry.display_name + "|" + entry.display_version, Show(key));
  }
  // Rows of one product are recognised by name and version alone.
  UninstallEntry other;
  other.display_name = entry.display_name;
  other.display_version = entry.display_version;
  other.uninstall_string = "MsiExec.exe /X{00000000-0000-0000-0000-000000000000}";
  other.is_windows_installer = true;
  FUZZ_CHECK(ProductKey(other) == key);
}

void CheckRule(const std::string& candidate, const RunOptions& options) {
  const std::string stale = "\x01stale reason";
  std::string reason = stale;
  const bool matched = EvaluateVersionRule(candidate, options, reason);
  FUZZ_CHECK(!reason.empty() && reason != stale);
  const std::vector<int32_t> version = ParseVersion(candidate);
  if (version.empty()) {
    FUZZ_CHECK_MSG(!matched, Show(candidate));
    return;
  }
  if (matched) FUZZ_CHECK_MSG(reason.find(candidate) != std::string::npos, Show(reason));
  FUZZ_CHECK_MSG(matched == reference::RuleHolds(candidate, options),
                 Show(candidate) + " " + Show(options.ExactVersion) + " " + Show(options.SeriesPrefix) +
                     " " + Show(options.MinVersion) + " " + Show(options.MaxVersion));
  if (options.MatchType == VersionMatchKind::kSeries) {
    RunOptions itself = options;
    itself.SeriesPrefix = candidate;
    FUZZ_CHECK_MSG(MatchesSeries(candidate, itself), Show(candidate));
  }
}

}  // namespace
}  // namespace varnok::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace varnok;
  FuzzedDataProvider input(data, size);
  const uint8_t kind = input.ConsumeIntegral<uint8_t>();
  const std::string a = input.ConsumeRandomLengthString(fuzz::kMaxText);
  const std::string b = input.ConsumeRandomLengthString(fuzz::kMaxText);
  const std::string c = input.ConsumeRandomLengthString(fuzz::kMaxText);
  const std::string candidate = input.ConsumeRandomLengthString(fuzz::kMaxText);
  RunOptions options;
  options.MatchType = static_cast<VersionMatchKind>(kind % 3);
  options.ExactVersion = input.ConsumeRandomLengthString(fuzz::kMaxText);
  options.SeriesPrefix = input.ConsumeRandomLengthString(fuzz::kMaxText);
  options.MinVersion = input.ConsumeRandomLengthString(fuzz::kMaxText);
  options.MaxVersion = input.ConsumeRandomLengthString(fuzz::kMaxText);
  UninstallEntry entry;
  entry.display_name = input.ConsumeRandomLengthString(fuzz::kMaxText);
  entry.display_version = input.ConsumeRandomLengthString(fuzz::kMaxText);

  for (const std::string* text : {&a, &b, &c}) fuzz::CheckParse(*text);
  fuzz::CheckOrder(a, b, c);
  fuzz::CheckOrder(b, c, a);
  fuzz::CheckOrder(c, a, b);
  for (const std::string* text : {&a, &b, &candidate}) fuzz::CheckExtract(*text);
  fuzz::CheckExtract(entry.display_name);
  fuzz::CheckProductKey(entry);
  fuzz::CheckRule(candidate, options);
  // The run falls back to the display name's version when DisplayVersion is empty.
  const std::string from_name = ExtractVersionFromText(entry.display_name);
  if (!from_name.empty()) fuzz::CheckRule(from_name, options);
  return 0;
}
