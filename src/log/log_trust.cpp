#include "log/log_trust.h"

#include "common/local_path.h"
#include "common/strings.h"
#include "log/log_lock.h"

namespace varnok {
namespace {

constexpr unsigned long kFileNotFound = 2;   // ERROR_FILE_NOT_FOUND
constexpr unsigned long kPathNotFound = 3;   // ERROR_PATH_NOT_FOUND
constexpr unsigned kObjectInheritAce = 0x01;
constexpr unsigned kInheritFlags = 0x0F;     // object, container, no-propagate, inherit-only
constexpr unsigned kInheritedAce = 0x10;
constexpr char kCreatorOwnerSid[] = "S-1-3-0";

bool IsMissing(unsigned long error) { return error == kFileNotFound || error == kPathNotFound; }

// Why an object that was read may not be used; nullopt when it may.
std::optional<LogPathRefusal> Judge(const std::string& path, const FileSecurity& security,
                                    SecuredObject role, const IsAdministratorFn& trusted) {
  if (security.is_link) return LogPathRefusal{path, "", "a link (reparse point)", 0};
  if (const std::optional<UserControl> control = FindUserControl(security, role, trusted)) {
    return LogPathRefusal{path, control->sid, control->right, 0};
  }
  return std::nullopt;
}

// What a file created in the folder gets: the folder's entries for files, as inherited entries.
FileSecurity NewFileSecurity(const FileSecurity& folder, const std::string& creator_sid) {
  FileSecurity file;
  file.owner_sid = creator_sid;
  file.has_dacl = folder.has_dacl;
  for (AccessEntry entry : folder.dacl) {
    if (entry.kind == AccessEntry::Kind::kOther) {
      file.dacl.push_back(entry);  // not known, so not known to stay off the file
      continue;
    }
    if (!(entry.flags & kObjectInheritAce)) continue;
    entry.flags = (entry.flags & ~kInheritFlags) | kInheritedAce;
    if (EqualsNoCase(entry.sid, kCreatorOwnerSid)) entry.sid = creator_sid;
    file.dacl.push_back(entry);
  }
  return file;
}

}  // namespace

bool IsLogAccountTrusted(const std::string& sid, const std::vector<std::string>& own_sids,
                         const std::vector<std::string>& administrators) {
  if (sid.empty()) return false;
  if (IsBuiltInAdministratorSid(sid) || IsLogMutexOwnerTrusted(sid, own_sids)) return true;
  for (const std::string& member : administrators) {
    if (EqualsNoCase(member, sid)) return true;
  }
  return false;
}

LogFolderState CheckLogFolder(const std::string& folder, const ReadSecurityFn& read,
                              const IsAdministratorFn& trusted, FileSecurity* folder_security,
                              LogPathRefusal* refusal) {
  std::vector<std::string> chain = FoldersAbove(folder);
  if (chain.empty()) {
    *refusal = {folder, "", "not a local absolute path", 0};
    return LogFolderState::kRefused;
  }
  chain.insert(chain.begin(), folder);
  // From the drive root down: nothing inside a folder a user controls is read.
  for (auto path = chain.rbegin(); path != chain.rend(); ++path) {
    const bool logs_folder = path + 1 == chain.rend();
    FileSecurity security;
    const unsigned long error = read(*path, &security);
    if (IsMissing(error)) return LogFolderState::kMissing;
    if (error != 0) {
      *refusal = {*path, "", "unreadable", error};
      return LogFolderState::kRefused;
    }
    const std::optional<LogPathRefusal> refused = Judge(
        *path, security, logs_folder ? SecuredObject::kFolder : SecuredObject::kFolderAbove, trusted);
    if (refused) {
      *refusal = *refused;
      return LogFolderState::kRefused;
    }
    if (logs_folder) *folder_security = std::move(security);
  }
  return LogFolderState::kUsable;
}

std::optional<LogPathRefusal> CheckLogFile(const std::string& file,
                                           const FileSecurity& folder_security,
                                           const std::string& creator_sid,
                                           const ReadSecurityFn& read,
                                           const IsAdministratorFn& trusted, bool* exists) {
  FileSecurity security;
  const unsigned long error = read(file, &security);
  *exists = error == 0;
  if (IsMissing(error)) {
    return Judge(file, NewFileSecurity(folder_security, creator_sid), SecuredObject::kFile, trusted);
  }
  if (error != 0) return LogPathRefusal{file, "", "unreadable", error};
  return Judge(file, security, SecuredObject::kFile, trusted);
}

std::string LogFileRefusedNote(const LogPathRefusal& refusal) {
  std::string note =
      "operation : LogFile; status : failure; remarks : \"A log file is neither created nor "
      "written: an account that is neither an administrator nor one the agent runs as can change "
      "it, or it could not be judged.\"; file_path : \"" + refusal.path + "\"; account : \"" +
      refusal.account + "\"; right : \"" + refusal.reason + "\";";
  if (refusal.error != 0) note += " error_code : " + std::to_string(refusal.error) + ";";
  return note;
}

}  // namespace varnok
