#include "process/file_trust.h"

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
constexpr Right kFolderRights[] = {{kFileWriteData, "add file"},
                                   {kFileDeleteChild, "delete child"},
                                   {kDelete, "delete"},
                                   {kWriteDac, "change permissions"},
                                   {kWriteOwner, "take ownership"}};
constexpr Right kFolderAboveRights[] = {{kDelete, "delete"},
                                        {kFileDeleteChild, "delete child"},
                                        {kWriteDac, "change permissions"},
                                        {kWriteOwner, "take ownership"}};

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

}  // namespace varnok
