// The run's command-line options.
#pragma once

#include <string>

namespace varnok {

constexpr int kErrorInvalidParameter = 87;  // ERROR_INVALID_PARAMETER

enum class NameMatchKind : int { kExact = 0, kPrefix = 1, kContains = 2 };
enum class VersionMatchKind : int { kExact = 0, kSeries = 1, kRange = 2 };

// Filled once by ProcessArgs and read-only afterwards. Texts are exactly as the runtime split
// them from the command line: no trimming, no case folding.
struct RunOptions {
  std::string DisplayName;
  std::string MatchTypeText;
  std::string NameMatchText = "Exact";
  std::string ExactVersion;
  std::string SeriesPrefix;
  std::string MinVersion;
  std::string MaxVersion;
  std::string ExeArgs;
  bool WhatIf = false;
  NameMatchKind NameMatch = NameMatchKind::kExact;
  VersionMatchKind MatchType = VersionMatchKind::kExact;
};

// Resets `options`, scans the whole argument vector (program path included), logs the nine
// parameter lines and validates the combination. Returns 0, or 87 after one ERROR line.
int ProcessArgs(int argc, const char* const* argv, RunOptions& options);

}  // namespace varnok
