#include "uninstall/shared_uninstaller.h"

#include "common/strings.h"
#include "log/log.h"

namespace varnok {
namespace {

// Installer helpers that are never a product's main program.
constexpr const char* kExcludedNames[] = {"uninstall.exe", "setup.exe",   "install.exe",
                                          "_install.exe",  "update.exe",  "updater.exe",
                                          "helper.exe"};
constexpr const char* kExcludedPrefixes[] = {"unins", "vcredist", "vc_redist", "dotnet"};

bool IsCandidate(const std::string& path) {
  if (!EndsWithNoCase(path, ".exe")) return false;
  const std::string name = ToLowerCopy(GetFileName(path));
  for (const char* excluded : kExcludedNames) {
    if (name == excluded) return false;
  }
  for (const char* prefix : kExcludedPrefixes) {
    if (StartsWithNoCase(name, prefix)) return false;
  }
  return true;
}

}  // namespace

bool IsSharedUninstallerName(std::string_view executable_path) {
  if (executable_path.empty()) return false;
  const std::string name = ToLowerCopy(GetFileName(executable_path));
  if (name == "uninstall.exe") return true;
  if (name.size() < 9 || name.compare(0, 5, "unins") != 0 ||
      name.compare(name.size() - 4, 4, ".exe") != 0) {
    return false;
  }
  for (size_t i = 5; i < name.size() - 4; ++i) {
    if (!IsAsciiDigit(name[i])) return false;
  }
  return true;
}

std::vector<std::string> NameTokens(std::string_view hint) {
  std::vector<std::string> tokens;
  size_t i = 0;
  while (i < hint.size()) {
    if (!IsAsciiAlnum(hint[i])) {
      ++i;
      continue;
    }
    const size_t start = i;
    while (i < hint.size() && IsAsciiAlnum(hint[i])) ++i;
    if (i - start >= 4) tokens.emplace_back(hint.substr(start, i - start));
  }
  return tokens;
}

std::string SelectMainExecutable(const std::vector<std::string>& listing, std::string_view hint,
                                 const std::function<int64_t(const std::string&)>& size_of) {
  std::vector<std::string> candidates;
  for (const std::string& path : listing) {
    if (IsCandidate(path)) candidates.push_back(path);
  }
  if (candidates.empty()) return std::string();

  const std::vector<std::string> tokens = NameTokens(hint);
  for (const std::string& candidate : candidates) {
    const std::string stem = RemoveExtension(GetFileName(candidate));
    for (const std::string& token : tokens) {
      if (ContainsNoCase(stem, token)) return candidate;
    }
  }

  std::string largest;
  int64_t largest_size = -1;
  for (const std::string& candidate : candidates) {
    const int64_t size = size_of(candidate);
    if (size > largest_size) {
      largest = candidate;
      largest_size = size;
    }
  }
  return largest;
}

bool VersionUnreadable(const FileVersionInfo& info) {
  if (info.failure == FileVersionInfo::Failure::kNone) return false;
  return info.error < 1812 || info.error > 1814;
}

int VersionErrorCode(const FileVersionInfo& info) {
  if (info.error != 0) return static_cast<int>(info.error);
  return info.failure == FileVersionInfo::Failure::kFileMissing ? 2 : 13;
}

std::string LogFileVersion(const std::string& path, const FileVersionInfo& info) {
  const char* remarks = nullptr;
  switch (info.failure) {
    case FileVersionInfo::Failure::kNone:
      LogInfo("operation : GetFileVersion; file_path : \"%s\"; file_version : \"%s\"; status : "
              "success;",
              path.c_str(), info.version.c_str());
      return info.version;
    case FileVersionInfo::Failure::kFileMissing:
      LogError("operation : GetFileVersion; file_path : \"%s\"; status : failure; remarks : \"File "
               "does not exist\";",
               path.c_str());
      return std::string();
    case FileVersionInfo::Failure::kSizeFailed: remarks = "GetFileVersionInfoSize failed"; break;
    case FileVersionInfo::Failure::kInfoFailed: remarks = "GetFileVersionInfo failed"; break;
    case FileVersionInfo::Failure::kQueryFailed: remarks = "VerQueryValue failed"; break;
  }
  LogError("operation : GetFileVersion; file_path : \"%s\"; status : failure; remarks : \"%s\"; "
           "return_value : %d;",
           path.c_str(), remarks, static_cast<int>(info.error));
  return std::string();
}

}  // namespace varnok
