#include "process/file_trust.h"

#include <string>

#include "common/strings.h"

namespace varnok {
namespace {

struct Right {
  unsigned long mask;
  const char* name;
};

constexpr Right kFileRights[] = {{kFileWriteData, "write"},
                                 {kFileAppendData, "append"},
                                 {kDelete, "delete"},
                                 {kWriteDac, "change permissions"},
                                 {kWriteOwner, "take ownership"}};
// Adding a subfolder lets a user create "<uninstaller>.exe.local" (the loader then takes DLLs
// from it) or a plugin folder the uninstaller loads from.
constexpr Right kFolderRights[] = {{kFileWriteData, "add file"},
                                   {kFileAppendData, "add subfolder"},
                                   {kFileDeleteChild, "delete child"},
                                   {kDelete, "delete"},
                                   {kWriteDac, "change permissions"},
                                   {kWriteOwner, "take ownership"}};
constexpr Right kFolderAboveRights[] = {{kDelete, "delete"},
                                        {kFileDeleteChild, "delete child"},
                                        {kWriteDac, "change permissions"},
                                        {kWriteOwner, "take ownership"}};
// A row's values decide what runs. Its subkeys are never read, but a key that lets users add
// them was left open by mistake and is not trusted either.
constexpr Right kRegistryKeyRights[] = {{kKeySetValue, "set value"},
                                        {kKeyCreateSubKey, "create subkey"},
                                        {kDelete, "delete"},
                                        {kWriteDac, "change permissions"},
                                        {kWriteOwner, "take ownership"}};

// STORAGE_BUS_TYPE values of devices that are plugged in from outside the machine.
constexpr int kRemovableBuses[] = {0x4 /* 1394 */, 0x7 /* USB */, 0xC /* SD */, 0xD /* MMC */};

template <size_t N>
const char* DangerousRight(unsigned long mask, const Right (&rights)[N]) {
  if (mask & kGenericAll) return "full control";
  if (mask & kGenericWrite) return "generic write";
  if (mask & kMaximumAllowed) return "maximum allowed";
  for (const Right& right : rights) {
    if (mask & right.mask) return right.name;
  }
  return nullptr;
}

const char* DangerousRight(unsigned long mask, SecuredObject object) {
  switch (object) {
    case SecuredObject::kFile: return DangerousRight(mask, kFileRights);
    case SecuredObject::kFolder: return DangerousRight(mask, kFolderRights);
    case SecuredObject::kFolderAbove: return DangerousRight(mask, kFolderAboveRights);
    case SecuredObject::kRegistryKey: return DangerousRight(mask, kRegistryKeyRights);
  }
  return "unknown";
}

}  // namespace

bool IsBuiltInAdministratorSid(std::string_view sid) {
  return EqualsNoCase(sid, kLocalSystemSid) || EqualsNoCase(sid, kAdministratorsSid) ||
         EqualsNoCase(sid, kTrustedInstallerSid);
}

bool IsAdministratorByMembership(const AdministratorFacts& facts) {
  if (facts.direct_member) return true;
  if (facts.groups_error != 0) return false;
  for (const GroupMembership& group : facts.groups) {
    if (EqualsNoCase(group.sid, kAdministratorsSid) && (group.attributes & kGroupEnabled) &&
        !(group.attributes & kGroupUseForDenyOnly)) {
      return true;
    }
  }
  return false;
}

AdministratorFacts GatherAdministratorFacts(const std::string& sid,
                                            const LocalGroupMembersFn& members_of,
                                            const EffectiveGroupsFn& groups_of) {
  AdministratorFacts facts;
  for (const std::string& member : members_of(kAdministratorsSid)) {
    facts.direct_member = facts.direct_member || EqualsNoCase(member, sid);
  }
  if (facts.direct_member) return facts;
  facts.groups_error = groups_of(sid, &facts.groups);
  return facts;
}

bool AdministratorAnswers::Get(const std::string& sid, const IsAdministratorFn& ask) {
  const std::string key = ToUpperCopy(sid);
  const auto known = answers_.find(key);
  if (known != answers_.end()) return known->second;
  const bool answer = ask(sid);
  answers_.emplace(key, answer);
  return answer;
}

std::optional<UserControl> FindUserControl(const FileSecurity& security, SecuredObject object,
                                           const IsAdministratorFn& is_administrator) {
  // The owner can always rewrite the DACL, whatever it says.
  if (security.owner_sid.empty()) return UserControl{"", "owner unreadable"};
  if (!is_administrator(security.owner_sid)) return UserControl{security.owner_sid, "owner"};
  if (!security.has_dacl) return UserControl{"S-1-1-0", "full control (no DACL)"};
  for (const AccessEntry& entry : security.dacl) {
    if (entry.kind == AccessEntry::Kind::kDeny) continue;
    if (entry.kind == AccessEntry::Kind::kOther) return UserControl{entry.sid, "unrecognised entry"};
    if (entry.flags & kInheritOnlyAce) continue;
    const char* right = DangerousRight(entry.mask, object);
    if (right && !is_administrator(entry.sid)) return UserControl{entry.sid, right};
  }
  return std::nullopt;
}

std::optional<std::string> UntrustedVolume(const VolumeFacts& facts) {
  if (facts.drive_type != VolumeFacts::kDriveFixed) {
    return "not a fixed disk (drive type " + std::to_string(facts.drive_type) + ")";
  }
  if (facts.device_error != 0) {
    return "its device could not be asked what it is (error " +
           std::to_string(facts.device_error) + ")";
  }
  if (facts.removable_media) return "removable media";
  for (int bus : kRemovableBuses) {
    if (facts.bus_type == bus) {
      return "a device on an external bus (bus type " + std::to_string(bus) + ")";
    }
  }
  if (facts.hotplug_read && (facts.media_removable || facts.device_hotplug)) {
    return "a device that can be unplugged while Windows runs";
  }
  return std::nullopt;
}

}  // namespace varnok
