#include "process/session_list.h"

#include "log/log.h"

namespace varnok {
namespace {

const char* StateText(unsigned long state) {
  switch (state) {
    case 0: return "Active";
    case 1: return "Connected";
    case 4: return "Disconnected";
    default: return nullptr;
  }
}

}  // namespace

SessionList BuildSessionList(const std::vector<SessionRecord>& records) {
  SessionList sessions;
  for (const SessionRecord& record : records) {
    const char* state = StateText(record.state);
    if (!record.user_name || record.session_id == 0 || !state) continue;
    sessions[record.user_name] = UserSession{record.session_id, record.sid};
    LogInfo("operation : GetActiveUserSessions; user_name : \"%s\"; session_id : %d; state : "
            "\"%s\";",
            record.user_name, static_cast<int>(record.session_id), state);
  }
  LogInfo("operation : GetActiveUserSessions; status : success; session_count : %d;",
          static_cast<int>(sessions.size()));
  return sessions;
}

}  // namespace varnok
