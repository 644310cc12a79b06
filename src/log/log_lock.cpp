#include "log/log_lock.h"

#include "common/strings.h"

namespace varnok {
namespace {

// Mutex rights (winnt.h values) that let an account hold the lock or change who may.
constexpr unsigned long kMutantQueryState = 0x0001;
constexpr unsigned long kReadControl = 0x00020000;
constexpr unsigned long kSynchronize = 0x00100000;
constexpr unsigned long kGenericRead = 0x80000000;
constexpr unsigned long kGenericExecute = 0x20000000;  // SYNCHRONIZE, for a mutex
constexpr unsigned long kMutantAllAccess = 0x001F0001;

struct MutexRight {
  unsigned long mask;
  const char* name;
};
constexpr MutexRight kMutexRights[] = {
    {kGenericAll, "full control"},       {kMaximumAllowed, "maximum allowed"},
    {kGenericWrite, "generic write"},    {kGenericExecute, "generic execute"},
    {kSynchronize, "synchronize"},       {kWriteDac, "change permissions"},
    {kWriteOwner, "take ownership"},     {kDelete, "delete"}};

const char* DangerousMutexRight(unsigned long mask) {
  if ((mask & kMutantAllAccess) == kMutantAllAccess) return "full control";
  for (const MutexRight& right : kMutexRights) {
    if (mask & right.mask) return right.name;
  }
  return (mask & ~(kMutantQueryState | kReadControl | kGenericRead)) ? "other rights" : nullptr;
}

}  // namespace

bool IsLogMutexOwnerTrusted(std::string_view owner_sid, const std::vector<std::string>& own_sids) {
  if (owner_sid.empty()) return true;
  for (std::string_view agent : {"S-1-5-18", "S-1-5-32-544", "S-1-5-19", "S-1-5-20"}) {
    if (EqualsNoCase(owner_sid, agent)) return true;
  }
  for (const std::string& own : own_sids) {
    if (!own.empty() && EqualsNoCase(owner_sid, own)) return true;
  }
  return StartsWithNoCase(owner_sid, "S-1-5-80-");
}

std::optional<UserControl> FindLogMutexUserControl(const FileSecurity& security,
                                                   const std::vector<std::string>& own_sids) {
  if (security.owner_sid.empty()) return std::nullopt;
  if (!security.has_dacl) return UserControl{"S-1-1-0", "full control (no DACL)"};
  for (const AccessEntry& entry : security.dacl) {
    if (entry.kind == AccessEntry::Kind::kDeny) continue;
    if (entry.kind == AccessEntry::Kind::kOther) return UserControl{entry.sid, "unrecognised entry"};
    if (entry.flags & kInheritOnlyAce) continue;
    const char* right = DangerousMutexRight(entry.mask);
    if (right && (entry.sid.empty() || !IsLogMutexOwnerTrusted(entry.sid, own_sids))) {
      return UserControl{entry.sid, right};
    }
  }
  return std::nullopt;
}

std::string LogMutexSddl(std::string_view own_sid) {
  std::string sddl = "D:P(A;;GA;;;SY)(A;;GA;;;BA)(A;;GA;;;LS)(A;;GA;;;NS)(A;;GA;;;S-1-5-80-0)";
  if (!own_sid.empty()) sddl += "(A;;GA;;;" + std::string(own_sid) + ")";
  return sddl;
}

std::string LogLockRefusedNote(std::string_view mutex_name, std::string_view owner_sid) {
  return "operation : LogFile; status : failure; remarks : \"The log mutex is owned by an account "
         "the agent does not run as; lines are written without it.\"; mutex : \"" +
         std::string(mutex_name) + "\"; owner : \"" + std::string(owner_sid) + "\";";
}

std::string LogLockUnavailableNote(unsigned long error) {
  return "operation : LogFile; status : failure; remarks : \"The log mutex could not be opened; "
         "lines are written without it.\"; error_code : " + std::to_string(error) + ";";
}

std::string LogLockOpenToOthersNote(std::string_view mutex_name, const UserControl& control) {
  return "operation : LogFile; status : failure; remarks : \"The log mutex lets an account the "
         "agent does not run as take or change it; lines are written without it.\"; mutex : \"" +
         std::string(mutex_name) + "\"; account : \"" + control.sid + "\"; right : \"" +
         control.right + "\";";
}

std::string LogLockSessionOnlyNote(std::string_view mutex_name, unsigned long error) {
  return "operation : LogFile; status : failure; remarks : \"The machine-wide log mutex could not "
         "be opened; lines are kept apart only from this session's writers.\"; mutex : \"" +
         std::string(mutex_name) + "\"; error_code : " + std::to_string(error) + ";";
}

}  // namespace varnok
