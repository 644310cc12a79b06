#include "log/log_lock.h"

#include "common/strings.h"

namespace varnok {

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

std::string LogLockSessionOnlyNote(std::string_view mutex_name, unsigned long error) {
  return "operation : LogFile; status : failure; remarks : \"The machine-wide log mutex could not "
         "be opened; lines are kept apart only from this session's writers.\"; mutex : \"" +
         std::string(mutex_name) + "\"; error_code : " + std::to_string(error) + ";";
}

}  // namespace varnok
