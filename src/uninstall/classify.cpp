#include "uninstall/classify.h"

#include <algorithm>

#include "common/strings.h"

namespace varnok {
namespace {

bool IsHyphenPosition(size_t i) { return i == 9 || i == 14 || i == 19 || i == 24; }

}  // namespace

bool IsGuidString(std::string_view text) {
  if (text.size() != kProductCodeLength) return false;
  if (text.front() != '{' || text.back() != '}') return false;
  for (size_t i = 1; i + 1 < kProductCodeLength; ++i) {
    const bool ok = IsHyphenPosition(i) ? text[i] == '-' : IsAsciiHexDigit(text[i]);
    if (!ok) return false;
  }
  return true;
}

std::string GetMsiProductCode(std::string_view key_name, std::string_view uninstall_string) {
  // The subkey name is what Windows Installer itself registered; a code in the command may
  // belong to a bootstrapper or another product, so it only stands in when the name is no code.
  if (IsGuidString(key_name)) return ToUpperCopy(key_name);
  for (size_t i = 0; i + kProductCodeLength <= uninstall_string.size(); ++i) {
    if (uninstall_string[i] != '{') continue;
    const std::string_view candidate = uninstall_string.substr(i, kProductCodeLength);
    if (IsGuidString(candidate)) return ToUpperCopy(candidate);
  }
  return std::string();
}

bool HasMsiProductSwitch(std::string_view command) {
  const std::string lower = ToLowerCopy(command);
  for (const char* option : {"/i", "/x"}) {
    for (size_t hit = lower.find(option); hit != std::string::npos;
         hit = lower.find(option, hit + 1)) {
      size_t next = hit + 2;
      while (next < lower.size() && IsBlank(lower[next])) ++next;
      if (next < lower.size() && lower[next] == '{') return true;
    }
  }
  return false;
}

bool IsMsiEntry(const UninstallEntry& entry) {
  if (entry.is_windows_installer) return true;
  if (ContainsNoCase(entry.uninstall_string, "msiexec")) return true;
  if (GetMsiProductCode(entry.key_name, entry.uninstall_string).empty()) return false;
  if (HasMsiProductSwitch(entry.uninstall_string)) return true;
  // A product-code subkey without any command of its own can only be removed by its code.
  return entry.uninstall_string.empty();
}

namespace {

// Longer than this, a path cannot be started by CreateProcess, so it is never asked about; this
// also bounds the disk probes a command of many blanks can cause.
constexpr size_t kMaxCandidateLength = 259;

// Without ".exe" the command does not say where its path ends. Ends of candidates, longest first:
// the whole text, then each blank from the last to the first.
bool SplitAtLongestFile(const std::string& s, const NamesFile& names_file, std::string* executable,
                        std::string* arguments) {
  // Only the first blank of a run ends a new candidate; a later end gives a candidate over the
  // limit, or the same text as the first blank of its run.
  for (size_t end = std::min(s.size(), kMaxCandidateLength + 1);; --end) {
    if (end == s.size() || (IsBlank(s[end]) && end > 0 && !IsBlank(s[end - 1]))) {
      std::string candidate = Trim(std::string_view(s).substr(0, end));
      if (!candidate.empty() && candidate.front() == '"') candidate.erase(0, 1);
      if (!candidate.empty() && candidate.size() <= kMaxCandidateLength && names_file(candidate)) {
        *executable = candidate;
        *arguments = Trim(std::string_view(s).substr(end));
        return true;
      }
    }
    if (end == 0) return false;
  }
}

}  // namespace

bool SplitCommandLine(std::string_view command, std::string* executable, std::string* arguments,
                      const NamesFile& names_file) {
  executable->clear();
  arguments->clear();
  const std::string s = Trim(command);
  if (s.empty()) return false;

  if (s.front() == '"') {
    const size_t close = s.find('"', 1);
    if (close != std::string::npos) {
      *executable = s.substr(1, close - 1);
      *arguments = Trim(std::string_view(s).substr(close + 1));
      return true;
    }
    // An unclosed quote is read as if it were not there.
  }

  // Unquoted paths often hold blanks ("C:\Program Files\..."), so the first ".exe" marks the end
  // of the executable better than the first blank does.
  const size_t exe = ToLowerCopy(s).find(".exe");
  if (exe != std::string::npos) {
    *executable = Trim(std::string_view(s).substr(0, exe + 4));
    *arguments = Trim(std::string_view(s).substr(exe + 4));
  } else if (names_file && SplitAtLongestFile(s, names_file, executable, arguments)) {
    return true;
  } else {
    const size_t blank = s.find_first_of(" \t");
    if (blank == std::string::npos) {
      *executable = s;
    } else {
      *executable = s.substr(0, blank);
      *arguments = Trim(std::string_view(s).substr(blank + 1));
    }
  }
  if (!executable->empty() && executable->front() == '"') executable->erase(0, 1);
  return true;
}

std::string GetExecutablePath(std::string_view command, const NamesFile& names_file) {
  std::string executable;
  std::string arguments;
  if (!SplitCommandLine(command, &executable, &arguments, names_file)) return std::string();
  return executable;
}

std::string ChooseSilentSwitch(std::string_view uninstall_string) {
  const std::string lower = ToLowerCopy(uninstall_string);
  for (const char* silent :
       {"/verysilent", "/silent", "/quiet", "/qn", "/passive", "/uninstall"}) {
    if (lower.find(silent) != std::string::npos) return std::string();
  }
  // A trailing "/S" or "/U" is taken as the uninstaller's own silent or uninstall switch.
  if (EndsWithNoCase(uninstall_string, "/s") || EndsWithNoCase(uninstall_string, "/u")) {
    return std::string();
  }
  // Inno Setup's unins000.exe; only when the stored command ends with the bare ".exe".
  if (lower.find("unins") != std::string::npos && EndsWithNoCase(uninstall_string, ".exe")) {
    return "/VERYSILENT";
  }
  if (lower.find("installshield") != std::string::npos ||
      lower.find("isuninst") != std::string::npos) {
    return "/s";
  }
  return "/S";
}

}  // namespace varnok
