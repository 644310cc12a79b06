#include "inventory/name_match.h"

#include "common/strings.h"
#include "common/utf8.h"

namespace varnok {

bool MatchesDisplayName(std::string_view display_name, const NameRule& rule) {
  const std::string& pattern = rule.DisplayName;
  // An empty pattern would otherwise be "contained" in every name and select the whole inventory.
  if (display_name.empty() || pattern.empty()) return false;
  // Text that is not what Windows gave (every name converts exactly) is never acted on.
  if (!IsUtf8(display_name) || !IsUtf8(pattern)) return false;
  switch (rule.NameMatch) {
    case NameMatchKind::kPrefix:
      return StartsWithNoCase(display_name, pattern);
    case NameMatchKind::kContains:
      return ContainsNoCase(display_name, pattern);
    case NameMatchKind::kExact:
      break;
  }
  return EqualsNoCase(display_name, pattern);
}

bool IsProtectedShellComponent(std::string_view display_name) {
  // Begins-with on purpose: shell rows carry varying suffixes, and a false hit only skips one
  // removal, whereas a miss could uninstall part of the desktop.
  static constexpr std::string_view kProtectedNames[] = {
      "windows explorer", "microsoft windows", "desktop window manager",
      "windows shell experience", "microsoft.windows.shell"};
  for (std::string_view name : kProtectedNames) {
    if (StartsWithNoCase(display_name, name)) return true;
  }
  return false;
}

}  // namespace varnok
