// Deciding which Uninstall rows belong to the application named on the command line, and which
// rows belong to the Windows desktop shell and must never be removed.
#pragma once

#include <string_view>

#include "inventory/match_rules.h"

namespace varnok {

// True when `display_name` matches rule.DisplayName under rule.NameMatch: Prefix (the name
// begins with the pattern), Contains (the pattern occurs anywhere), or Exact for every other value
// (the whole name equals the pattern). Only A-Z and a-z are compared without regard to case, every
// other character exactly (UTF-8); no white space is trimmed. An empty name or an empty pattern,
// or one that is not UTF-8, never matches.
bool MatchesDisplayName(std::string_view display_name, const NameRule& rule);

// True when `display_name` begins, without regard to ASCII case, with the name of a Windows shell
// component ("windows explorer", "microsoft windows", "desktop window manager", "windows shell
// experience", "microsoft.windows.shell"). A begins-with test: anything may follow.
bool IsProtectedShellComponent(std::string_view display_name);

}  // namespace varnok
