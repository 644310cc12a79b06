// Where LocalSystem writes the log. The logs folder lies below the agent's install directory, which
// a vendor or an administrator may have left open to users: a user who can replace the folder, or
// change or create a log file first, could have SYSTEM write or truncate a file of the user's
// choosing, or rewrite what the log says. The log backend reads owners and DACLs; the judgement is
// here, with the same evaluator that judges the uninstallers SYSTEM runs (FindUserControl).
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "process/file_trust.h"

namespace varnok {

// Reads the owner and DACL of a path itself, never through a link (as ReadFileSecurity does): the
// Win32 error, 0 on success.
using ReadSecurityFn = std::function<unsigned long(const std::string& path, FileSecurity* security)>;

// Why the logs folder or a log file is not used.
struct LogPathRefusal {
  std::string path;
  std::string account;       // the SID that controls it; empty when no account is to blame
  std::string reason;        // FindUserControl's right, or why it could not be judged
  unsigned long error = 0;   // the error of a read that failed
};

// The accounts trusted with the log's folder and files under LocalSystem: those the log mutex's
// owner check trusts (SYSTEM, Administrators, LocalService, NetworkService, services and this
// process's own `own_sids`), TrustedInstaller (a service), and `administrators`, the direct members
// of the local Administrators group. Never an empty SID.
bool IsLogAccountTrusted(const std::string& sid, const std::vector<std::string>& own_sids,
                         const std::vector<std::string>& administrators);

enum class LogFolderState { kUsable, kMissing, kRefused };

// Judges the logs folder `folder` and every folder above it, drive root first, in the roles an
// uninstaller's folder and the folders above it have: refused when an account that `trusted`
// does not answer for controls one of them, when one is a link, when a descriptor cannot be read,
// or when `folder` is not a local absolute path; kMissing, with nothing refused, when one of them
// does not exist. On kUsable `folder_security` receives the logs folder's owner and DACL; on
// kRefused `refusal` says why.
LogFolderState CheckLogFolder(const std::string& folder, const ReadSecurityFn& read,
                              const IsAdministratorFn& trusted, FileSecurity* folder_security,
                              LogPathRefusal* refusal);

// Judges a file of the logs folder before it is opened: an existing one as the file an
// uninstaller is (a link refuses as well); a missing one as the file it would become, owned by
// `creator_sid` with the entries of the folder (`folder_security`) that files inherit, CREATOR
// OWNER standing for the creator. `exists` receives whether it exists. nullopt when it may be used.
std::optional<LogPathRefusal> CheckLogFile(const std::string& file,
                                           const FileSecurity& folder_security,
                                           const std::string& creator_sid,
                                           const ReadSecurityFn& read,
                                           const IsAdministratorFn& trusted, bool* exists);

// The ERROR line written, when the active log file can still be written, for a refused file.
std::string LogFileRefusedNote(const LogPathRefusal& refusal);

}  // namespace varnok
