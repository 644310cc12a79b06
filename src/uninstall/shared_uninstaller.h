// Recognising a generic uninstaller (uninstall.exe, unins000.exe) and the product's main program
// beside it, so that a row of one version never runs an uninstaller that would remove another
// version living in the same folder.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace varnok {

// True when the file name of `executable_path` is "uninstall.exe", or "unins" + only digits (or
// nothing) + ".exe", compared without regard to case.
bool IsSharedUninstallerName(std::string_view executable_path);

// Maximal runs of ASCII letters and digits of at least 4 characters, in order.
std::vector<std::string> NameTokens(std::string_view hint);

// Picks the product's main executable from a folder listing (full paths in listing order): the
// first ".exe" that is no installer helper and whose name (without extension) contains a token of
// the hint; otherwise the strictly largest one by `size_of` (-1 means unreadable and never wins).
// Empty when no candidate qualifies.
std::string SelectMainExecutable(const std::vector<std::string>& listing, std::string_view hint,
                                 const std::function<int64_t(const std::string&)>& size_of);

// What reading a file's version resource gave: the file version ("a.b.c.d"), or the step that
// failed and its Win32 error.
struct FileVersionInfo {
  enum class Failure { kNone, kFileMissing, kSizeFailed, kInfoFailed, kQueryFailed };
  std::string version;
  Failure failure = Failure::kNone;
  unsigned long error = 0;
};

// True when reading the version failed for any reason other than the file having no version
// resource (ERROR_RESOURCE_DATA_NOT_FOUND, ERROR_RESOURCE_TYPE_NOT_FOUND or
// ERROR_RESOURCE_NAME_NOT_FOUND: 1812 to 1814): a file held open without sharing (32), one the
// account may not read (5), one gone since it was listed, a malformed resource.
bool VersionUnreadable(const FileVersionInfo& info);

// The Win32 error of a failed read, never 0: a file gone since it was listed is 2
// (ERROR_FILE_NOT_FOUND), any other failure without an error 13 (ERROR_INVALID_DATA).
int VersionErrorCode(const FileVersionInfo& info);

// Writes the GetFileVersion line for `path` (INFO on success, ERROR naming the failed step) and
// returns the version, empty on failure.
std::string LogFileVersion(const std::string& path, const FileVersionInfo& info);

// The file-system side, for the Windows build.
// Full paths of the plain files directly inside `folder`, in the system's enumeration order.
std::vector<std::string> ListFiles(const std::string& folder);
// The file version of the fixed version resource; logs nothing.
FileVersionInfo ReadFileVersion(const std::string& path);
// Loads version.dll for ReadFileVersion now, in the program's own context; call it before acting
// as another user.
void PreloadVersionLibrary();
// ReadFileVersion, logged.
std::string GetFileVersion(const std::string& path);

}  // namespace varnok
