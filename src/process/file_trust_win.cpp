#include <windows.h>
#include <winioctl.h>
#include <aclapi.h>
#include <authz.h>
#include <lm.h>
#include <sddl.h>

#include <cstddef>
#include <vector>

#include "common/strings.h"
#include "log/log.h"
#include "process/file_trust.h"
#include "win32/security.h"
#include "win32/system_library.h"
#include "win32/text.h"
#include "win32/unique_handle.h"

namespace varnok {
namespace {

using NetLocalGroupGetMembersFn = DWORD(WINAPI*)(LPCWSTR, LPCWSTR, DWORD, LPBYTE*, DWORD, LPDWORD,
                                                 LPDWORD, PDWORD_PTR);
using NetApiBufferFreeFn = DWORD(WINAPI*)(LPVOID);

// The last error of a call that failed, never 0.
DWORD FailureCode() {
  const DWORD error = ::GetLastError();
  return error != ERROR_SUCCESS ? error : ERROR_GEN_FAILURE;
}

// An Authz handle, freed by the function of the authz.dll that made it (the module outlives it).
template <typename Handle>
class AuthzHandle {
 public:
  using Free = BOOL(WINAPI*)(Handle);
  explicit AuthzHandle(Free free) : free_(free) {}
  ~AuthzHandle() {
    if (handle_) free_(handle_);
  }
  AuthzHandle(const AuthzHandle&) = delete;
  AuthzHandle& operator=(const AuthzHandle&) = delete;
  Handle get() const { return handle_; }
  Handle* put() { return &handle_; }

 private:
  Free free_;
  Handle handle_ = nullptr;
};

// The groups of an Authz client context.
DWORD ReadContextGroups(decltype(&::AuthzGetInformationFromContext) get_information,
                        AUTHZ_CLIENT_CONTEXT_HANDLE context, std::vector<GroupMembership>* groups) {
  DWORD size = 0;
  if (get_information(context, AuthzContextInfoGroupsSids, 0, &size, nullptr)) {
    return ERROR_GEN_FAILURE;  // an empty answer where a size was asked for
  }
  if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER) return FailureCode();
  // TOKEN_GROUPS holds pointers: a buffer of pointer-sized elements keeps them aligned.
  std::vector<ULONG_PTR> buffer(size / sizeof(ULONG_PTR) + 1);
  if (!get_information(context, AuthzContextInfoGroupsSids,
                       static_cast<DWORD>(buffer.size() * sizeof(ULONG_PTR)), &size,
                       buffer.data())) {
    return FailureCode();
  }
  const auto* list = reinterpret_cast<const TOKEN_GROUPS*>(buffer.data());
  for (DWORD i = 0; i < list->GroupCount; ++i) {
    groups->push_back({win32::SidText(list->Groups[i].Sid), list->Groups[i].Attributes});
  }
  return ERROR_SUCCESS;
}

// The groups a logon of `sid` would hold, as Authz computes them: nested domain groups, and the
// local groups that list the account or any of its groups. The Win32 error, 0 on success.
DWORD ReadEffectiveGroups(PSID sid, std::vector<GroupMembership>* groups) {
  const win32::UniqueModule authz = win32::LoadSystemLibrary("authz.dll");
  if (!authz) return FailureCode();
  const auto initialize_manager = win32::GetProc<decltype(&::AuthzInitializeResourceManager)>(
      authz, "AuthzInitializeResourceManager");
  const auto free_manager =
      win32::GetProc<decltype(&::AuthzFreeResourceManager)>(authz, "AuthzFreeResourceManager");
  const auto initialize_context = win32::GetProc<decltype(&::AuthzInitializeContextFromSid)>(
      authz, "AuthzInitializeContextFromSid");
  const auto free_context = win32::GetProc<decltype(&::AuthzFreeContext)>(authz, "AuthzFreeContext");
  const auto get_information = win32::GetProc<decltype(&::AuthzGetInformationFromContext)>(
      authz, "AuthzGetInformationFromContext");
  if (!initialize_manager || !free_manager || !initialize_context || !free_context ||
      !get_information) {
    return ERROR_PROC_NOT_FOUND;
  }
  AuthzHandle<AUTHZ_RESOURCE_MANAGER_HANDLE> manager(free_manager);
  // Only membership is asked for: nothing is audited, so no audit privilege is needed.
  if (!initialize_manager(AUTHZ_RM_FLAG_NO_AUDIT, nullptr, nullptr, nullptr, nullptr,
                          manager.put())) {
    return FailureCode();
  }
  AuthzHandle<AUTHZ_CLIENT_CONTEXT_HANDLE> context(free_context);
  const LUID no_identifier{};
  if (!initialize_context(0, sid, manager.get(), nullptr, no_identifier, nullptr,
                          context.put())) {
    return FailureCode();
  }
  return ReadContextGroups(get_information, context.get(), groups);
}

}  // namespace

unsigned long ReadFileSecurity(const std::string& path, FileSecurity* security) {
  win32::UniqueFileHandle object(::CreateFileW(
      win32::Wide(path).c_str(), READ_CONTROL | FILE_READ_ATTRIBUTES,
      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
      FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT | SECURITY_SQOS_PRESENT |
          SECURITY_IDENTIFICATION,
      nullptr));
  if (!object) return ::GetLastError();
  BY_HANDLE_FILE_INFORMATION information{};
  if (!::GetFileInformationByHandle(object.get(), &information)) return ::GetLastError();
  FileSecurity result;
  const DWORD rc = win32::ReadObjectSecurity(object.get(), SE_FILE_OBJECT, &result);
  if (rc != ERROR_SUCCESS) return rc;
  result.is_link = (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  *security = std::move(result);
  return ERROR_SUCCESS;
}

unsigned long ReadVolumeFacts(const std::string& root, VolumeFacts* facts) {
  VolumeFacts read;
  read.drive_type = ::GetDriveTypeW(win32::Wide(root).c_str());
  if (read.drive_type == DRIVE_FIXED) {
    // No access is needed to ask a volume's device what it is.
    win32::UniqueFileHandle volume(::CreateFileW(
        win32::Wide("\\\\.\\" + root.substr(0, 2)).c_str(), 0,
        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0,
        nullptr));
    if (!volume) return ::GetLastError();
    STORAGE_PROPERTY_QUERY query{};
    query.PropertyId = StorageDeviceProperty;
    query.QueryType = PropertyStandardQuery;
    // Room for the vendor strings after the fixed part, which some drivers will not leave out.
    std::vector<ULONGLONG> buffer(128);
    DWORD returned = 0;
    const auto* device = reinterpret_cast<const STORAGE_DEVICE_DESCRIPTOR*>(buffer.data());
    if (!::DeviceIoControl(volume.get(), IOCTL_STORAGE_QUERY_PROPERTY, &query, sizeof query,
                           buffer.data(), static_cast<DWORD>(buffer.size() * sizeof(ULONGLONG)),
                           &returned, nullptr)) {
      read.device_error = FailureCode();
    } else if (returned < offsetof(STORAGE_DEVICE_DESCRIPTOR, BusType) + sizeof device->BusType) {
      read.device_error = ERROR_INVALID_DATA;
    } else {
      read.removable_media = device->RemovableMedia != FALSE;
      read.bus_type = static_cast<int>(device->BusType);
    }
    STORAGE_HOTPLUG_INFO hotplug{};
    read.hotplug_read = ::DeviceIoControl(volume.get(), IOCTL_STORAGE_GET_HOTPLUG_INFO, nullptr, 0,
                                          &hotplug, sizeof hotplug, &returned, nullptr) != FALSE;
    read.media_removable = read.hotplug_read && hotplug.MediaRemovable;
    read.device_hotplug = read.hotplug_read && hotplug.DeviceHotplug;
  }
  *facts = read;
  return ERROR_SUCCESS;
}

std::vector<std::string> GetLocalGroupMembers(const std::string& group_sid) {
  std::vector<std::string> members;
  // The group's name is localised; look it up from its SID.
  win32::UniqueLocalMemory group;
  if (!::ConvertStringSidToSidW(win32::Wide(group_sid).c_str(), group.put())) return members;
  wchar_t name[256] = {};
  wchar_t domain[256] = {};
  DWORD name_chars = 256;
  DWORD domain_chars = 256;
  SID_NAME_USE use;
  if (!::LookupAccountSidW(nullptr, group.get(), name, &name_chars, domain, &domain_chars, &use)) {
    return members;
  }
  const win32::UniqueModule netapi = win32::LoadSystemLibrary("netapi32.dll");
  const auto get_members =
      win32::GetProc<NetLocalGroupGetMembersFn>(netapi, "NetLocalGroupGetMembers");
  const auto free_buffer = win32::GetProc<NetApiBufferFreeFn>(netapi, "NetApiBufferFree");
  if (!get_members || !free_buffer) return members;
  BYTE* buffer = nullptr;
  DWORD read = 0;
  DWORD total = 0;
  if (get_members(nullptr, name, 0, &buffer, MAX_PREFERRED_LENGTH, &read, &total, nullptr) !=
      NERR_Success) {
    if (buffer) free_buffer(buffer);
    return members;
  }
  const auto* info = reinterpret_cast<const LOCALGROUP_MEMBERS_INFO_0*>(buffer);
  for (DWORD i = 0; i < read; ++i) {
    const std::string sid = win32::SidText(info[i].lgrmi0_sid);
    if (!sid.empty()) members.push_back(sid);
  }
  free_buffer(buffer);
  return members;
}

AdministratorFacts ReadAdministratorFacts(const std::string& sid) {
  const auto groups_of = [](const std::string& asked, std::vector<GroupMembership>* groups) {
    win32::UniqueLocalMemory binary;
    return ::ConvertStringSidToSidW(win32::Wide(asked).c_str(), binary.put())
               ? ReadEffectiveGroups(binary.get(), groups)
               : FailureCode();
  };
  const AdministratorFacts facts = GatherAdministratorFacts(sid, GetLocalGroupMembers, groups_of);
  if (!facts.direct_member && facts.groups_error != ERROR_SUCCESS) {
    LogInfo("operation : ExecuteUninstallCommand; remarks : \"The groups of an account could not "
            "be read; it counts as not an administrator\"; sid : \"%s\"; error_code : %d;",
            sid.c_str(), static_cast<int>(facts.groups_error));
  }
  return facts;
}

std::string LookupAccountNameOfSid(const std::string& sid) {
  win32::UniqueLocalMemory binary;
  if (!::ConvertStringSidToSidW(win32::Wide(sid).c_str(), binary.put())) return std::string();
  // Account and domain names have at most 256 characters; the call says when that is not enough.
  std::wstring name(257, L'\0');
  std::wstring domain(257, L'\0');
  DWORD name_chars = static_cast<DWORD>(name.size());
  DWORD domain_chars = static_cast<DWORD>(domain.size());
  SID_NAME_USE use;
  if (!::LookupAccountSidW(nullptr, binary.get(), name.data(), &name_chars, domain.data(),
                           &domain_chars, &use)) {
    return std::string();
  }
  name.resize(name_chars);
  domain.resize(domain_chars);
  return domain.empty() ? win32::Utf8(name) : win32::Utf8(domain) + "\\" + win32::Utf8(name);
}

}  // namespace varnok
