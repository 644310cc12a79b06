#include <cstdio>

#include "log/log.h"
#include "uninstall/shared_uninstaller.h"
#include "win32/system_library.h"
#include "win32/text.h"
#include "win32/unique_handle.h"

namespace varnok {
namespace {

bool IsDirectory(const std::string& path) {
  const DWORD attributes = ::GetFileAttributesW(win32::Wide(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

using GetFileVersionInfoSizeWFn = DWORD(WINAPI*)(LPCWSTR, LPDWORD);
using GetFileVersionInfoWFn = BOOL(WINAPI*)(LPCWSTR, DWORD, DWORD, LPVOID);
using VerQueryValueWFn = BOOL(WINAPI*)(LPCVOID, LPCWSTR, LPVOID*, PUINT);

// Loaded once and kept for the process: a version may be read while acting as a row's owner, and
// a DLL is never loaded under a user's token, where that user's own drive letters would apply.
const win32::UniqueModule& VersionLibrary() {
  static const win32::UniqueModule library = win32::LoadSystemLibrary("version.dll");
  return library;
}

FileVersionInfo Failed(FileVersionInfo::Failure failure, DWORD error) {
  FileVersionInfo info;
  info.failure = failure;
  info.error = error;
  return info;
}

}  // namespace

void PreloadVersionLibrary() { VersionLibrary(); }

std::vector<std::string> ListFiles(const std::string& folder) {
  std::vector<std::string> files;
  if (folder.empty() || !IsDirectory(folder)) return files;
  WIN32_FIND_DATAW data;
  win32::UniqueFindHandle find(::FindFirstFileW(win32::Wide(folder + "\\*").c_str(), &data));
  if (!find) return files;
  do {
    if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
      files.push_back(folder + "\\" + win32::Utf8(data.cFileName));
    }
  } while (::FindNextFileW(find.get(), &data));
  return files;
}

FileVersionInfo ReadFileVersion(const std::string& path) {
  using Failure = FileVersionInfo::Failure;
  const std::wstring wide = win32::Wide(path);
  const DWORD attributes = ::GetFileAttributesW(wide.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    return Failed(Failure::kFileMissing, 0);
  }
  const win32::UniqueModule& version = VersionLibrary();
  const auto get_size = win32::GetProc<GetFileVersionInfoSizeWFn>(version, "GetFileVersionInfoSizeW");
  const auto get_info = win32::GetProc<GetFileVersionInfoWFn>(version, "GetFileVersionInfoW");
  const auto query = win32::GetProc<VerQueryValueWFn>(version, "VerQueryValueW");
  if (!get_size || !get_info || !query) return Failed(Failure::kSizeFailed, ::GetLastError());
  DWORD handle = 0;
  const DWORD size = get_size(wide.c_str(), &handle);
  if (size == 0) return Failed(Failure::kSizeFailed, ::GetLastError());
  std::vector<char> block(size, '\0');
  if (!get_info(wide.c_str(), handle, size, block.data())) {
    return Failed(Failure::kInfoFailed, ::GetLastError());
  }
  void* fixed = nullptr;
  UINT length = 0;
  // A short block from a malformed resource would be read past its end.
  if (!query(block.data(), L"\\", &fixed, &length) || length < sizeof(VS_FIXEDFILEINFO) || !fixed) {
    return Failed(Failure::kQueryFailed, ::GetLastError());
  }
  const auto* fixed_info = static_cast<const VS_FIXEDFILEINFO*>(fixed);
  char text[128];
  std::snprintf(text, sizeof text, "%d.%d.%d.%d",
                static_cast<int>(HIWORD(fixed_info->dwFileVersionMS)),
                static_cast<int>(LOWORD(fixed_info->dwFileVersionMS)),
                static_cast<int>(HIWORD(fixed_info->dwFileVersionLS)),
                static_cast<int>(LOWORD(fixed_info->dwFileVersionLS)));
  FileVersionInfo info;
  info.version = text;
  return info;
}

std::string GetFileVersion(const std::string& path) {
  return LogFileVersion(path, ReadFileVersion(path));
}

}  // namespace varnok
