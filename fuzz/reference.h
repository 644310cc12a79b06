// The program's contract restated for the fuzz targets' expectations, written apart from the code
// under test and in another way (decimal texts, regular expressions, lower-cased copies), so
// that a fault in the product cannot also be in the expectation it is checked against.
#pragma once

#include <algorithm>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "run/options.h"

namespace varnok::fuzz::reference {

inline std::string Lower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

// A version as decimal texts: leading zeros dropped, anything above 2147483647 held there.
inline std::vector<std::string> Components(const std::string& text) {
  const char* const kSpace = " \t\n\v\f\r";
  const size_t first = text.find_first_not_of(kSpace);
  if (first == std::string::npos) return {};
  std::string rest = text.substr(first, text.find_last_not_of(kSpace) - first + 1);
  if (rest[0] == 'v' || rest[0] == 'V') rest.erase(0, 1);
  rest = rest.substr(0, rest.find_first_not_of("0123456789."));
  std::vector<std::string> components;
  std::string piece;
  for (size_t i = 0; i <= rest.size(); ++i) {
    if (i < rest.size() && rest[i] != '.') {
      piece += rest[i];
      continue;
    }
    if (!piece.empty()) {
      piece.erase(0, std::min(piece.find_first_not_of('0'), piece.size() - 1));
      const std::string kMax = "2147483647";
      if (piece.size() > kMax.size() || (piece.size() == kMax.size() && piece > kMax)) piece = kMax;
      components.push_back(piece);
    }
    piece.clear();
  }
  return components;
}

// By length, then digit by digit; missing components count as 0.
inline int Compare(std::vector<std::string> a, std::vector<std::string> b) {
  while (a.size() < b.size()) a.push_back("0");
  while (b.size() < a.size()) b.push_back("0");
  for (size_t i = 0; i < a.size(); ++i) {
    if (a[i].size() != b[i].size()) return a[i].size() < b[i].size() ? -1 : 1;
    if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
  }
  return 0;
}

inline std::string Join(const std::vector<std::string>& parts) {
  std::string out;
  for (const std::string& part : parts) out += (out.empty() ? "" : ".") + part;
  return out;
}

// Whether `candidate` satisfies the options' rule.
inline bool RuleHolds(const std::string& candidate, const RunOptions& options) {
  const auto version = Components(candidate);
  if (version.empty()) return false;
  switch (options.MatchType) {
    case VersionMatchKind::kExact: {
      const auto exact = Components(options.ExactVersion);
      return !exact.empty() && Compare(version, exact) == 0;
    }
    case VersionMatchKind::kSeries: {
      const auto prefix = Components(options.SeriesPrefix);
      auto padded = version;
      while (padded.size() < prefix.size()) padded.push_back("0");
      return !options.SeriesPrefix.empty() && !prefix.empty() &&
             std::equal(prefix.begin(), prefix.end(), padded.begin());
    }
    case VersionMatchKind::kRange: {
      const auto min = Components(options.MinVersion);
      const auto max = Components(options.MaxVersion);
      return !min.empty() && !max.empty() && Compare(min, version) <= 0 &&
             Compare(version, max) <= 0;
    }
  }
  return false;
}

// The first dotted number that no digit precedes, else the first run of exactly four digits.
inline std::string VersionInText(const std::string& text) {
  static const std::regex dotted("(^|[^0-9])([0-9]+(\\.[0-9]+)+)");
  static const std::regex year("(^|[^0-9])([0-9]{4})([^0-9]|$)");
  std::smatch match;
  if (std::regex_search(text, match, dotted)) return match[2];
  if (std::regex_search(text, match, year)) return match[2];
  return std::string();
}

// Text Windows could have given: UTF-8 by the ranges of its standard (RFC 3629, table 3-7 of
// Unicode) with surrogates also allowed (a lone one is a Windows name's own), but never a high
// surrogate directly followed by a low one, which would be a pair in two halves.
inline bool IsWindowsText(const std::string& text) {
  struct Range {
    unsigned char lead_low, lead_high, second_low, second_high;
    int length;
  };
  static const Range kRanges[] = {{0xC2, 0xDF, 0x80, 0xBF, 2}, {0xE0, 0xE0, 0xA0, 0xBF, 3},
                                  {0xE1, 0xEF, 0x80, 0xBF, 3}, {0xF0, 0xF0, 0x90, 0xBF, 4},
                                  {0xF1, 0xF3, 0x80, 0xBF, 4}, {0xF4, 0xF4, 0x80, 0x8F, 4}};
  bool after_high = false;
  for (size_t i = 0; i < text.size();) {
    const auto b = [&](size_t k) { return static_cast<unsigned char>(text[i + k]); };
    if (b(0) < 0x80) {
      ++i, after_high = false;
      continue;
    }
    const Range* range = nullptr;
    for (const Range& r : kRanges) {
      if (b(0) >= r.lead_low && b(0) <= r.lead_high) range = &r;
    }
    if (!range || i + range->length > text.size()) return false;
    if (b(1) < range->second_low || b(1) > range->second_high) return false;
    for (int k = 2; k < range->length; ++k) {
      if (b(k) < 0x80 || b(k) > 0xBF) return false;
    }
    const bool high = b(0) == 0xED && b(1) >= 0xA0 && b(1) <= 0xAF;
    const bool low = b(0) == 0xED && b(1) >= 0xB0;
    if (after_high && low) return false;
    after_high = high;
    i += static_cast<size_t>(range->length);
  }
  return true;
}

inline bool NameMatches(const std::string& name, const RunOptions& options) {
  if (name.empty() || options.DisplayName.empty()) return false;
  if (!IsWindowsText(name) || !IsWindowsText(options.DisplayName)) return false;
  const std::string n = Lower(name);
  const std::string p = Lower(options.DisplayName);
  switch (options.NameMatch) {
    case NameMatchKind::kExact: return n == p;
    case NameMatchKind::kPrefix: return n.compare(0, p.size(), p) == 0;
    case NameMatchKind::kContains: return n.find(p) != std::string::npos;
  }
  return false;
}

inline bool IsShellComponent(const std::string& name) {
  const std::string n = Lower(name);
  for (const char* shell : {"windows explorer", "microsoft windows", "desktop window manager",
                            "windows shell experience", "microsoft.windows.shell"}) {
    if (n.rfind(shell, 0) == 0) return true;
  }
  return false;
}

// The executable of a stored command: inside the quotes of a quoted one, else up to the first
// ".exe", else up to the first blank.
inline std::string ExecutableOf(const std::string& command) {
  static const std::regex trimmed("^[ \\t\\n\\v\\f\\r]*([\\s\\S]*?)[ \\t\\n\\v\\f\\r]*$");
  std::smatch m;
  std::regex_match(command, m, trimmed);
  const std::string s = m[1];
  static const std::regex quoted("^\"([^\"]*)\"");
  if (std::regex_search(s, m, quoted)) return m[1];
  const size_t exe = Lower(s).find(".exe");
  std::string executable = exe != std::string::npos ? s.substr(0, exe + 4)
                                                     : s.substr(0, s.find_first_of(" \t"));
  std::regex_match(executable, m, trimmed);
  executable = m[1];
  if (!executable.empty() && executable[0] == '"') executable.erase(0, 1);
  return executable;
}

inline std::string FileNameOf(const std::string& path) {
  const size_t slash = path.find_last_of("\\/");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

inline std::string ParentOf(const std::string& path) {
  const size_t slash = path.find_last_of("\\/");
  return slash == std::string::npos ? path : path.substr(0, slash);
}

inline bool IsGenericUninstaller(const std::string& executable) {
  static const std::regex generic("^(uninstall|unins[0-9]*)\\.exe$");
  return !executable.empty() && std::regex_match(Lower(FileNameOf(executable)), generic);
}

// A drive-letter path of ordinary names (no share, device, relative or dot-only component).
inline bool IsLocalPath(const std::string& path) {
  static const std::regex shape("^[A-Za-z]:[\\\\/][^:*?<>|\\x01-\\x1f]*$");
  if (path.find('\0') != std::string::npos || !std::regex_match(path, shape)) return false;
  static const std::regex device(
      "^(con|prn|aux|nul|conin\\$|conout\\$|(com|lpt)[0-9\\xb9\\xb2\\xb3]) *(\\..*)?$");
  static const std::regex dots_only("^[. ]+$");
  size_t start = 3;
  while (start <= path.size()) {
    const size_t end = std::min(path.find_first_of("\\/", start), path.size());
    const std::string name = path.substr(start, end - start);
    if (!name.empty() && (std::regex_match(name, dots_only) || std::regex_match(Lower(name), device))) {
      return false;
    }
    start = end + 1;
  }
  return true;
}

// The folder of a local path as the program names it: drive root "X:\", then each component
// joined by one backslash.
inline std::string FolderOfLocal(const std::string& path) {
  std::vector<std::string> parts;
  size_t start = 3;
  while (start <= path.size()) {
    const size_t end = std::min(path.find_first_of("\\/", start), path.size());
    if (end > start) parts.push_back(path.substr(start, end - start));
    start = end + 1;
  }
  std::string folder = path.substr(0, 2) + "\\";
  for (size_t i = 0; i + 1 < parts.size(); ++i) folder += (i == 0 ? "" : "\\") + parts[i];
  return folder;
}

}  // namespace varnok::fuzz::reference
