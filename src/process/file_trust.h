// May LocalSystem run this file? Not when an account that is not an administrator could have
// replaced it, or could drop a DLL beside it: such a file runs with SYSTEM's rights whatever its
// author wrote into the registry. The platform reads owners and DACLs into plain records; the
// judgement over them is a pure function here.
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace varnok {

constexpr char kLocalSystemSid[] = "S-1-5-18";
constexpr char kAdministratorsSid[] = "S-1-5-32-544";
constexpr char kTrustedInstallerSid[] =
    "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";

// Access-mask bits and ACE flags that the judgement looks at (winnt.h values).
constexpr unsigned long kFileWriteData = 0x0002;   // on a folder: add file
constexpr unsigned long kFileAppendData = 0x0004;  // on a folder: add subfolder
constexpr unsigned long kKeySetValue = 0x0002;
constexpr unsigned long kKeyCreateSubKey = 0x0004;
constexpr unsigned long kFileDeleteChild = 0x0040;
constexpr unsigned long kDelete = 0x00010000;
constexpr unsigned long kWriteDac = 0x00040000;
constexpr unsigned long kWriteOwner = 0x00080000;
constexpr unsigned long kMaximumAllowed = 0x02000000;
constexpr unsigned long kGenericAll = 0x10000000;
constexpr unsigned long kGenericWrite = 0x40000000;
constexpr unsigned kInheritOnlyAce = 0x08;

// One entry of a DACL. Allow covers the plain, callback and object "allowed" types; Other is any
// type the reader does not know, which is never taken as harmless.
struct AccessEntry {
  enum class Kind { kAllow, kDeny, kOther };
  Kind kind = Kind::kAllow;
  unsigned flags = 0;  // ACE flags
  unsigned long mask = 0;
  std::string sid;  // "S-1-..."
};

struct FileSecurity {
  std::string owner_sid;  // empty when it could not be read
  bool has_dacl = true;   // false: a NULL DACL, which grants everyone everything
  std::vector<AccessEntry> dacl;
  bool is_link = false;   // the object is a reparse point (junction, symbolic link, ...)
};

// Where an object stands relative to the file about to run, or a machine-wide row's registry
// key; each role has its own dangerous rights (see FindUserControl).
enum class SecuredObject { kFile, kFolder, kFolderAbove, kRegistryKey };

// Who, other than an administrator, controls an object, and through which right ("owner",
// "write", "add file", ...).
struct UserControl {
  std::string sid;
  std::string right;
};

// SYSTEM, the Administrators group and TrustedInstaller (SIDs compared without regard to case).
bool IsBuiltInAdministratorSid(std::string_view sid);

using IsAdministratorFn = std::function<bool(const std::string& sid)>;

// One of the groups an account holds, with its SE_GROUP_* attributes.
struct GroupMembership {
  std::string sid;
  unsigned long attributes = 0;
};
constexpr unsigned long kGroupEnabled = 0x04;         // SE_GROUP_ENABLED
constexpr unsigned long kGroupUseForDenyOnly = 0x10;  // SE_GROUP_USE_FOR_DENY_ONLY

// What the machine says about a SID and the local Administrators group.
struct AdministratorFacts {
  bool direct_member = false;  // the group lists the SID itself (an account or a group)
  // The groups a logon of the SID would hold, nested groups included; `groups_error` is the Win32
  // error of reading them, 0 on success. Not read for a direct member.
  unsigned long groups_error = 0;
  std::vector<GroupMembership> groups;
};

// An administrator by effective membership: the Administrators group lists the SID itself, or
// the SID's groups hold it enabled (a group held only for deny grants nothing). Groups that could
// not be read answer false.
bool IsAdministratorByMembership(const AdministratorFacts& facts);

// The direct members of a local group, given by the group's SID; and the groups a logon of a SID
// would hold (returns the Win32 error, 0 on success).
using LocalGroupMembersFn = std::function<std::vector<std::string>(const std::string& group_sid)>;
using EffectiveGroupsFn =
    std::function<unsigned long(const std::string& sid, std::vector<GroupMembership>* groups)>;

// The facts about `sid`: the members of the local Administrators group (S-1-5-32-544) are asked
// for first; a SID they do not list (compared without regard to case) has its groups read.
AdministratorFacts GatherAdministratorFacts(const std::string& sid,
                                            const LocalGroupMembersFn& members_of,
                                            const EffectiveGroupsFn& groups_of);

// Answers about SIDs kept for the run (SIDs compared without regard to case): the same few
// owners recur on every folder, and one answer may cost a round trip to a domain controller, or
// its time-out.
class AdministratorAnswers {
 public:
  bool Get(const std::string& sid, const IsAdministratorFn& ask);

 private:
  std::map<std::string, bool> answers_;
};

// The first reason, in DACL order after the owner, why an account for which `is_administrator`
// is false controls the object (asked only about the owner and accounts an entry grants a
// dangerous right): it owns it; the DACL is NULL; or an allow entry that applies to
// the object itself (inherit-only entries grant nothing on it, CREATOR OWNER's included) grants
// it, on the file: write, append, delete, change permissions or take ownership; on its folder:
// add file, add subfolder, delete child, delete, change permissions or take ownership; on a
// folder above: delete, delete child, change permissions or take ownership; on a registry key:
// set value, create subkey, delete, change permissions or take ownership. Generic write, generic
// all and MAXIMUM_ALLOWED count as all of them. Deny entries are never relied on (a later or
// inherited allow, or a change of order, would undo them). An entry of unknown type refuses as
// well.
// nullopt when only administrators control the object.
std::optional<UserControl> FindUserControl(const FileSecurity& security, SecuredObject object,
                                           const IsAdministratorFn& is_administrator);

// Which file a path named when it was opened: the serial number of its volume and its file index
// (GetFileInformationByHandle), which together name one file of the machine while it exists.
struct FileIdentity {
  unsigned long volume_serial = 0;
  unsigned long long file_index = 0;
};
inline bool operator==(const FileIdentity& a, const FileIdentity& b) {
  return a.volume_serial == b.volume_serial && a.file_index == b.file_index;
}
inline bool operator!=(const FileIdentity& a, const FileIdentity& b) { return !(a == b); }

// What Windows says about the volume of a drive root: its drive type (GetDriveType), and, for a
// fixed one, its device's storage property (`device_error` 0 when it was read) and hot-plug
// information (`hotplug_read`).
struct VolumeFacts {
  static constexpr unsigned kDriveFixed = 3;  // DRIVE_FIXED
  unsigned drive_type = 0;
  unsigned long device_error = 0;
  bool removable_media = false;  // STORAGE_DEVICE_DESCRIPTOR.RemovableMedia
  int bus_type = 0;              // STORAGE_BUS_TYPE
  bool hotplug_read = false;
  bool media_removable = false;  // STORAGE_HOTPLUG_INFO.MediaRemovable
  bool device_hotplug = false;   // STORAGE_HOTPLUG_INFO.DeviceHotplug
};

// Why the owners and DACLs on a volume prove nothing about who can change its files: a drive
// that is not fixed (removable, network, optical, RAM disk, none), removable media, a device
// that can be unplugged while Windows runs, one on a USB, IEEE 1394, SD or MMC bus, or a device
// that could not be asked. Such a volume may have been written elsewhere, by anyone, with any
// owner. nullopt for a fixed local disk.
std::optional<std::string> UntrustedVolume(const VolumeFacts& facts);

// Windows build only: the owner and DACL of a local file or folder itself: a link is not
// followed (its own owner and DACL are read, and `is_link` is set), and a named pipe reached
// through one can only identify the caller, never act as it. Returns the Win32 error, 0 on
// success; `security` is set only on success.
unsigned long ReadFileSecurity(const std::string& path, FileSecurity* security);
// Windows build only: the facts of the volume of drive root `root` ("C:\"). The Win32 error of
// opening its device, 0 otherwise (a device that cannot be asked is `device_error`).
unsigned long ReadVolumeFacts(const std::string& root, VolumeFacts* facts);
// Windows build only: the SIDs of the direct members of the local group `group_sid`; empty when
// they cannot be read.
std::vector<std::string> GetLocalGroupMembers(const std::string& group_sid);
// Windows build only: the facts above (GatherAdministratorFacts over GetLocalGroupMembers); the
// groups from Authz, which asks a domain controller about a domain account. A group is asked
// about as an account is: the group list covers a group placed in Administrators itself, and a
// group Authz cannot answer for (it builds logons of accounts) counts as not an administrator. A
// failure to read the groups is logged.
AdministratorFacts ReadAdministratorFacts(const std::string& sid);
// Windows build only: "DOMAIN\name" of a SID, or empty when it cannot be looked up.
std::string LookupAccountNameOfSid(const std::string& sid);

}  // namespace varnok
