#include "inventory/value_expansion.h"

#include "common/strings.h"

namespace varnok {

std::vector<ExpandSzValue> ExpandSzValuesOf(UninstallEntry* entry) {
  std::vector<ExpandSzValue> values;
  if (entry->expand_sz.install_location) {
    values.push_back(
        {"InstallLocation", &entry->install_location, &entry->expand_sz.install_location});
  }
  if (entry->expand_sz.uninstall_string) {
    values.push_back(
        {"UninstallString", &entry->uninstall_string, &entry->expand_sz.uninstall_string});
  }
  if (entry->expand_sz.quiet_uninstall_string) {
    values.push_back({"QuietUninstallString", &entry->quiet_uninstall_string,
                      &entry->expand_sz.quiet_uninstall_string});
  }
  return values;
}

ExpansionVerdict JudgeExpansion(const ExpandedText& expanded) {
  if (expanded.error == kErrorValueTooLarge) return ExpansionVerdict::kTooLarge;
  if (expanded.error != kErrorSuccess) return ExpansionVerdict::kFailed;
  if (expanded.text.size() >= kMaxRegistryValueBytes) return ExpansionVerdict::kTooLarge;
  if (expanded.text.find('%') != std::string::npos) return ExpansionVerdict::kVariableLeft;
  return ExpansionVerdict::kUsable;
}

std::string WithNativeProgramFolders(std::string_view text) {
  std::string out;
  size_t at = 0;
  while (at < text.size()) {
    const size_t open = text.find('%', at);
    const size_t close = open == std::string_view::npos ? open : text.find('%', open + 1);
    if (close == std::string_view::npos) break;
    const std::string_view name = text.substr(open + 1, close - open - 1);
    out.append(text.substr(at, open - at));
    if (EqualsNoCase(name, "ProgramFiles")) {
      out += "%ProgramW6432%";
    } else if (EqualsNoCase(name, "CommonProgramFiles")) {
      out += "%CommonProgramW6432%";
    } else {
      out.append(text.substr(open, close - open + 1));
    }
    at = close + 1;
  }
  out.append(text.substr(at));
  return out;
}

}  // namespace varnok
