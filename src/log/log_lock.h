// Whose log mutex may this process wait on. Any user can create the agent's mutex name before the
// agent does; waiting on a mutex that a user owns lets that user hold back, and so drop, every
// line of the log.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "process/file_trust.h"

namespace varnok {

// True for the accounts the agent's writers run as: SYSTEM, Administrators, LocalService,
// NetworkService and services' own SIDs (S-1-5-80-...); for the user and the default owner of
// this process's token (`own_sids`: what its own objects are owned by); and for an owner that
// cannot be read. SIDs are compared without regard to case.
bool IsLogMutexOwnerTrusted(std::string_view owner_sid, const std::vector<std::string>& own_sids);

// Who, outside the accounts IsLogMutexOwnerTrusted trusts, may take or change an existing log
// mutex (`security`: its owner and DACL), and through which right: any allow entry that applies
// to the mutex itself (inherit-only ones do not) and grants more than reading its state and its
// permissions (SYNCHRONIZE, GENERIC_EXECUTE, any write right, MAXIMUM_ALLOWED, any other specific
// right); a NULL DACL; an entry of unknown type. An entry whose SID could not be read is nobody
// the agent runs as. A descriptor without an owner is not judged: Wine keeps none for objects
// made without security attributes, and every Windows object has one. nullopt when nobody else.
std::optional<UserControl> FindLogMutexUserControl(const FileSecurity& security,
                                                   const std::vector<std::string>& own_sids);

// The descriptor the mutex is created with: every account IsLogMutexOwnerTrusted trusts by SID
// (services through the group every service's token carries, S-1-5-80-0) and `own_sid` (when
// not empty) may open it, nobody else, and nothing is inherited.
std::string LogMutexSddl(std::string_view own_sid);

// The ERROR line written once when the mutex is not used.
std::string LogLockRefusedNote(std::string_view mutex_name, std::string_view owner_sid);
std::string LogLockUnavailableNote(unsigned long error);
std::string LogLockOpenToOthersNote(std::string_view mutex_name, const UserControl& control);
// The ERROR line written once when only this session's own mutex (`mutex_name`) could be used,
// after the machine-wide one failed with `error`.
std::string LogLockSessionOnlyNote(std::string_view mutex_name, unsigned long error);

}  // namespace varnok
