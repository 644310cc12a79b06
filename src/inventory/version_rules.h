// Version numbers: reading them from text, comparing them, and deciding whether a candidate
// version satisfies the run's version rule (Exact, Series or Range).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "inventory/match_rules.h"

namespace varnok {

// The components of a version text. White space around the text and one leading "v" or "V" are
// ignored; reading stops at the first byte that is neither a digit nor "."; empty pieces between
// dots add nothing; components above 2147483647 count as 2147483647. Empty when no component is
// readable.
std::vector<int32_t> ParseVersion(std::string_view text);

// -1, 0 or 1 as `a` is below, equal to or above `b`; a missing component counts as 0, so 10.0
// equals 10.
int CompareVersions(const std::vector<int32_t>& a, const std::vector<int32_t>& b);

// True when both the candidate and rule.SeriesPrefix hold a readable version and every
// component of the prefix equals the candidate's component at that position (0 where the
// candidate is shorter). The series boundary is a whole component: 1.2 does not match 1.20.
bool MatchesSeries(std::string_view candidate, const VersionRule& rule);

// True when the candidate satisfies the rule selected by rule.MatchType. `reason` is always
// replaced with a one-line explanation for the log, quoting the candidate and the settings as
// given (not as parsed). An unreadable candidate fails before the rule is looked at.
[[nodiscard]] bool EvaluateVersionRule(std::string_view candidate, const VersionRule& rule,
                                       std::string& reason);

// The first dotted number in free text ("Runtime 3.11.4 (x64)" gives "3.11.4"); failing that, the
// first stand-alone run of exactly four digits ("Office 2016" gives "2016"); otherwise empty.
std::string ExtractVersionFromText(std::string_view text);

}  // namespace varnok
