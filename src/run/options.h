// The run's command-line options.
#pragma once

#include <string>

#include "inventory/match_rules.h"

namespace varnok {

constexpr int kErrorInvalidParameter = 87;  // ERROR_INVALID_PARAMETER

// Filled once by ProcessArgs and read-only afterwards. Texts are exactly as the runtime split
// them from the command line: no trimming, no case folding. The name and version rules
// (DisplayName, NameMatch; MatchType, ExactVersion, SeriesPrefix, MinVersion, MaxVersion) are the
// inventory's own records.
struct RunOptions : NameRule, VersionRule {
  std::string MatchTypeText;
  std::string NameMatchText = "Exact";
  std::string ExeArgs;
  bool WhatIf = false;
};

// Resets `options`, scans the whole argument vector (program path included), logs the nine
// parameter lines and validates the combination. Returns 0, or 87 after one ERROR line.
int ProcessArgs(int argc, const char* const* argv, RunOptions& options);

}  // namespace varnok
