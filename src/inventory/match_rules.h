// The two rules a run applies to Uninstall rows, as the inventory's matching needs them: how a
// display name is compared, and which versions count. The run's options carry both.
#pragma once

#include <string>

namespace varnok {

enum class NameMatchKind : int { kExact = 0, kPrefix = 1, kContains = 2 };
enum class VersionMatchKind : int { kExact = 0, kSeries = 1, kRange = 2 };

// The display name looked for, and how it is compared.
struct NameRule {
  std::string DisplayName;
  NameMatchKind NameMatch = NameMatchKind::kExact;
};

// Which versions satisfy the run. Texts exactly as given, parsed again on every evaluation.
struct VersionRule {
  VersionMatchKind MatchType = VersionMatchKind::kExact;
  std::string ExactVersion;
  std::string SeriesPrefix;
  std::string MinVersion;
  std::string MaxVersion;
};

}  // namespace varnok
