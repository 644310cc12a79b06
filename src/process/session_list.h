#pragma once

#include <string>
#include <vector>

#include "process/launch_platform.h"

namespace varnok {

// One record of the system's session enumeration.
struct SessionRecord {
  const char* user_name;  // may be null
  unsigned long session_id;
  unsigned long state;  // WTS_CONNECTSTATE_CLASS
  std::string sid;
};

// Keeps the records of logged-on users: a user name present, not session 0, and the state
// Active (0), Connected (1) or Disconnected (4). One entry per user name, the last enumerated
// winning; logs each kept record and then the count of users.
SessionList BuildSessionList(const std::vector<SessionRecord>& records);

}  // namespace varnok
