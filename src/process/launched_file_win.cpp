#include "process/launched_file.h"

#include <vector>

#include "log/log.h"
#include "process/launch_platform.h"
#include "win32/security.h"
#include "win32/text.h"

namespace varnok {
namespace {

FileIdentity IdentityOf(const BY_HANDLE_FILE_INFORMATION& information) {
  FileIdentity identity;
  identity.volume_serial = information.dwVolumeSerialNumber;
  identity.file_index = (static_cast<unsigned long long>(information.nFileIndexHigh) << 32) |
                        information.nFileIndexLow;
  return identity;
}

// The longest path Windows gives a process image, in characters.
constexpr DWORD kMaxImagePath = 32768;

}  // namespace

DWORD ReadHandleIdentity(HANDLE file, FileIdentity* identity) {
  BY_HANDLE_FILE_INFORMATION information{};
  if (!::GetFileInformationByHandle(file, &information)) return ::GetLastError();
  *identity = IdentityOf(information);
  return ERROR_SUCCESS;
}

unsigned long ReadFileIdentity(const std::string& path, FileIdentity* identity) {
  win32::UniqueFileHandle file(::CreateFileW(
      win32::Wide(path).c_str(), FILE_READ_DATA | FILE_EXECUTE | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
      SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr));
  if (!file) return ::GetLastError();
  return ReadHandleIdentity(file.get(), identity);
}

DWORD HoldFileToRun(const std::string& path, win32::UniqueFileHandle* held,
                    FileSecurity* security, FileIdentity* identity) {
  win32::UniqueFileHandle file(::CreateFileW(
      win32::Wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
      FILE_FLAG_OPEN_REPARSE_POINT | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr));
  if (!file) return ::GetLastError();
  BY_HANDLE_FILE_INFORMATION information{};
  if (!::GetFileInformationByHandle(file.get(), &information)) return ::GetLastError();
  FileSecurity read;
  read.is_link = (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  const DWORD rc = win32::ReadObjectSecurity(file.get(), SE_FILE_OBJECT, &read);
  if (rc != ERROR_SUCCESS) return rc;
  *security = std::move(read);
  *identity = IdentityOf(information);
  *held = std::move(file);
  return ERROR_SUCCESS;
}

DWORD ReadProcessImage(HANDLE process, std::string* image_path, FileIdentity* identity) {
  std::vector<wchar_t> buffer(kMaxImagePath, L'\0');
  DWORD chars = kMaxImagePath;
  if (!::QueryFullProcessImageNameW(process, 0, buffer.data(), &chars)) return ::GetLastError();
  *image_path = win32::Utf8(std::wstring_view(buffer.data(), chars));
  // The name is the image's final one: a link met on the way was resolved when the image was
  // opened, so one found here again is not the image.
  win32::UniqueFileHandle file(::CreateFileW(
      buffer.data(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
      nullptr, OPEN_EXISTING,
      FILE_FLAG_OPEN_REPARSE_POINT | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr));
  if (!file) return ::GetLastError();
  return ReadHandleIdentity(file.get(), identity);
}

int ResumeIfImageIs(const win32::ProcessInformation& process, const FileIdentity& expected,
                    const std::string& executable, unsigned long session_id) {
  std::string image;
  FileIdentity actual;
  const DWORD error = ReadProcessImage(process.process(), &image, &actual);
  if (error == ERROR_SUCCESS && actual == expected) {
    if (::ResumeThread(process.thread()) != static_cast<DWORD>(-1)) return 0;
    const DWORD resume_error = ::GetLastError();
    ::TerminateProcess(process.process(), resume_error);
    return static_cast<int>(resume_error);
  }
  ::TerminateProcess(process.process(), kLaunchedFileChanged);
  LogError("operation : CreateProcessInUserSession; session_id : %d; status : failure; remarks : "
           "\"The new process was not created from the file the row's owner checked (a folder "
           "on its path was changed in between): it was ended before it ran.\"; file_path : "
           "\"%s\"; image_path : \"%s\"; error_code : %d; return_value : %d;",
           static_cast<int>(session_id), executable.c_str(), image.c_str(),
           static_cast<int>(error), kLaunchedFileChanged);
  return kLaunchedFileChanged;
}

}  // namespace varnok
