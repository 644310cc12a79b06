#include <windows.h>
#include <sddl.h>

#include <cstdio>
#include <string>

#include "process/private_temp.h"
#include "win32/system_library.h"
#include "win32/text.h"
#include "win32/unique_handle.h"

namespace varnok {
namespace {

// Full control for SYSTEM and Administrators, inherited by all that is made inside; nothing
// inherited from <windir>\Temp, whose DACL lets users add files.
constexpr wchar_t kPrivateTempSddl[] = L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
constexpr ULONG kSystemPreferredRng = 0x00000002;  // BCRYPT_USE_SYSTEM_PREFERRED_RNG
constexpr int kMaxDepth = 64;

// 32 hex digits from the system's random number generator; empty when it cannot be had.
std::string RandomHex() {
  using BCryptGenRandomFn = LONG(WINAPI*)(void*, PUCHAR, ULONG, ULONG);
  const win32::UniqueModule bcrypt = win32::LoadSystemLibrary("bcrypt.dll");
  const auto generate = win32::GetProc<BCryptGenRandomFn>(bcrypt, "BCryptGenRandom");
  unsigned char bytes[16] = {};
  if (!generate || generate(nullptr, bytes, sizeof bytes, kSystemPreferredRng) != 0) {
    return std::string();
  }
  std::string hex;
  for (unsigned char byte : bytes) {
    char digits[3];
    std::snprintf(digits, sizeof digits, "%02x", byte);
    hex += digits;
  }
  return hex;
}

bool IsDotEntry(const wchar_t* name) {
  return name[0] == L'.' && (name[1] == L'\0' || (name[1] == L'.' && name[2] == L'\0'));
}

// Removes one entry of a folder being removed: a link by itself, a folder with its content.
DWORD RemoveEntry(const std::wstring& path, DWORD attributes, int depth);

DWORD RemoveTree(const std::wstring& folder, int depth) {
  DWORD first_error = ERROR_SUCCESS;
  WIN32_FIND_DATAW data;
  win32::UniqueFindHandle find;
  if (depth < kMaxDepth) {
    find.reset(::FindFirstFileExW((folder + L"\\*").c_str(), FindExInfoBasic, &data,
                                  FindExSearchNameMatch, nullptr, 0));
  }
  for (BOOL more = static_cast<bool>(find); more; more = ::FindNextFileW(find.get(), &data)) {
    if (IsDotEntry(data.cFileName)) continue;
    const DWORD error = RemoveEntry(folder + L"\\" + data.cFileName, data.dwFileAttributes, depth);
    if (first_error == ERROR_SUCCESS) first_error = error;
  }
  find.reset();
  if (!::RemoveDirectoryW(folder.c_str()) && first_error == ERROR_SUCCESS) {
    first_error = ::GetLastError();
  }
  return first_error;
}

DWORD RemoveEntry(const std::wstring& path, DWORD attributes, int depth) {
  BOOL removed = FALSE;
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    // The link itself, never what it points to.
    removed = (attributes & FILE_ATTRIBUTE_DIRECTORY) ? ::RemoveDirectoryW(path.c_str())
                                                      : ::DeleteFileW(path.c_str());
  } else if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
    return RemoveTree(path, depth + 1);
  } else {
    if (attributes & FILE_ATTRIBUTE_READONLY) {
      ::SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    }
    removed = ::DeleteFileW(path.c_str());
  }
  return removed ? ERROR_SUCCESS : ::GetLastError();
}

}  // namespace

unsigned long CreatePrivateTempFolder(const std::string& windows_directory, std::string* folder) {
  if (windows_directory.empty()) return ERROR_PATH_NOT_FOUND;
  const std::string random = RandomHex();
  if (random.empty()) return ERROR_INTERNAL_ERROR;
  const std::string path = windows_directory + "\\Temp\\varnok-" + random;
  win32::UniqueLocalMemory descriptor;
  if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(kPrivateTempSddl, SDDL_REVISION_1,
                                                              descriptor.put(), nullptr)) {
    return ::GetLastError();
  }
  SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor.get(), FALSE};
  // Fails when anything has the name already, a link included: nothing prepared is ever used.
  if (!::CreateDirectoryW(win32::Wide(path).c_str(), &attributes)) return ::GetLastError();
  *folder = path;
  return ERROR_SUCCESS;
}

unsigned long RemoveFolderTree(const std::string& folder) {
  // The long form: an uninstaller's copies may nest deeper than MAX_PATH.
  return RemoveTree(L"\\\\?\\" + win32::Wide(folder), 0);
}

}  // namespace varnok
