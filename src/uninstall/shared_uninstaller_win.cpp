#include <cstdio>

#include "common/file_size.h"
#include "log/log.h"
#include "uninstall/shared_uninstaller.h"
#include "win32/system_library.h"
#include "win32/unique_handle.h"

namespace varnok {
namespace {

bool IsDirectory(const std::string& path) {
  const DWORD attributes = ::GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

using GetFileVersionInfoSizeAFn = DWORD(WINAPI*)(LPCSTR, LPDWORD);
using GetFileVersionInfoAFn = BOOL(WINAPI*)(LPCSTR, DWORD, DWORD, LPVOID);
using VerQueryValueAFn = BOOL(WINAPI*)(LPCVOID, LPCSTR, LPVOID*, PUINT);

void LogVersionFailure(const std::string& path, const char* remarks, DWORD error) {
  LogError("operation : GetFileVersion; file_path : \"%s\"; status : failure; remarks : \"%s\"; "
           "return_value : %d;",
           path.c_str(), remarks, static_cast<int>(error));
}

}  // namespace

std::vector<std::string> ListFiles(const std::string& folder) {
  std::vector<std::string> files;
  if (folder.empty() || !IsDirectory(folder)) return files;
  WIN32_FIND_DATAA data;
  win32::UniqueFindHandle find(::FindFirstFileA((folder + "\\*").c_str(), &data));
  if (!find) return files;
  do {
    if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
      files.push_back(folder + "\\" + data.cFileName);
    }
  } while (::FindNextFileA(find.get(), &data));
  return files;
}

std::string FindMainExecutable(const std::string& folder, std::string_view hint) {
  if (folder.empty() || !IsDirectory(folder)) return std::string();
  return SelectMainExecutable(ListFiles(folder), hint, QueryFileSize);
}

std::string GetFileVersion(const std::string& path) {
  const DWORD attributes = ::GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    LogError("operation : GetFileVersion; file_path : \"%s\"; status : failure; remarks : \"File "
             "does not exist\";",
             path.c_str());
    return std::string();
  }
  const win32::UniqueModule version = win32::LoadSystemLibrary("version.dll");
  const auto get_size = win32::GetProc<GetFileVersionInfoSizeAFn>(version, "GetFileVersionInfoSizeA");
  const auto get_info = win32::GetProc<GetFileVersionInfoAFn>(version, "GetFileVersionInfoA");
  const auto query = win32::GetProc<VerQueryValueAFn>(version, "VerQueryValueA");
  if (!get_size || !get_info || !query) {
    LogVersionFailure(path, "GetFileVersionInfoSize failed", ::GetLastError());
    return std::string();
  }
  DWORD handle = 0;
  const DWORD size = get_size(path.c_str(), &handle);
  if (size == 0) {
    LogVersionFailure(path, "GetFileVersionInfoSize failed", ::GetLastError());
    return std::string();
  }
  std::vector<char> block(size, '\0');
  if (!get_info(path.c_str(), handle, size, block.data())) {
    LogVersionFailure(path, "GetFileVersionInfo failed", ::GetLastError());
    return std::string();
  }
  void* fixed = nullptr;
  UINT length = 0;
  // A short block from a malformed resource would be read past its end.
  if (!query(block.data(), "\\", &fixed, &length) || length < sizeof(VS_FIXEDFILEINFO) || !fixed) {
    LogVersionFailure(path, "VerQueryValue failed", ::GetLastError());
    return std::string();
  }
  const auto* info = static_cast<const VS_FIXEDFILEINFO*>(fixed);
  char text[128];
  std::snprintf(text, sizeof text, "%d.%d.%d.%d", static_cast<int>(HIWORD(info->dwFileVersionMS)),
                static_cast<int>(LOWORD(info->dwFileVersionMS)),
                static_cast<int>(HIWORD(info->dwFileVersionLS)),
                static_cast<int>(LOWORD(info->dwFileVersionLS)));
  LogInfo("operation : GetFileVersion; file_path : \"%s\"; file_version : \"%s\"; status : success;",
          path.c_str(), text);
  return text;
}

}  // namespace varnok
