#include <windows.h>

#include <vector>

#include "log/log.h"
#include "process/launch_job.h"
#include "process/session_list.h"
#include "process/user_session.h"
#include "win32/security.h"
#include "win32/system_library.h"
#include "win32/unique_handle.h"

namespace varnok {
namespace {

// mingw-w64's headers lack the level-1 session enumeration.
struct WtsSessionInfo1A {
  DWORD ExecEnvId;
  DWORD State;  // WTS_CONNECTSTATE_CLASS
  DWORD SessionId;
  LPSTR pSessionName;
  LPSTR pHostName;
  LPSTR pUserName;
  LPSTR pDomainName;
  LPSTR pFarmName;
};
constexpr int kWtsTypeSessionInfoLevel1 = 2;  // WTS_TYPE_CLASS

using WTSEnumerateSessionsExAFn = BOOL(WINAPI*)(HANDLE, DWORD*, DWORD, WtsSessionInfo1A**, DWORD*);
using WTSFreeMemoryExAFn = BOOL(WINAPI*)(int, PVOID, ULONG);
using WTSQueryUserTokenFn = BOOL(WINAPI*)(ULONG, PHANDLE);
using CreateEnvironmentBlockFn = BOOL(WINAPI*)(LPVOID*, HANDLE, BOOL);
using DestroyEnvironmentBlockFn = BOOL(WINAPI*)(LPVOID);

constexpr DWORD kUserSessionCreationFlags =
    CREATE_UNICODE_ENVIRONMENT | NORMAL_PRIORITY_CLASS | CREATE_NEW_CONSOLE;  // 0x430

DWORD WaitMilliseconds(unsigned long timeout_ms) {
  return timeout_ms >= INFINITE ? INFINITE - 1 : static_cast<DWORD>(timeout_ms);
}

// The primary token of a session's user; false (GetLastError tells why) when it cannot be had.
bool QuerySessionUserToken(unsigned long session_id, win32::UniqueHandle* token) {
  DWORD error = 0;
  {
    const win32::UniqueModule wtsapi = win32::LoadSystemLibrary("wtsapi32.dll");
    const auto query_token = win32::GetProc<WTSQueryUserTokenFn>(wtsapi, "WTSQueryUserToken");
    if (query_token && query_token(session_id, token->put())) return true;
    error = ::GetLastError();
  }
  ::SetLastError(error);  // unloading wtsapi32 may have changed it
  return false;
}

// Returns the linked (elevated) token of a split token.
bool GetLinkedToken(HANDLE token, win32::UniqueHandle* linked) {
  TOKEN_LINKED_TOKEN info{};
  DWORD returned = 0;
  if (!::GetTokenInformation(token, TokenLinkedToken, &info, sizeof info, &returned)) {
    LogError("operation : GetLinkedToken; status : failure; remarks : \"GetTokenInformation "
             "failed\"; return_value : %d;",
             static_cast<int>(::GetLastError()));
    return false;
  }
  linked->reset(info.LinkedToken);
  return true;
}

// A new primary token of the user (its elevated linked token when it is split) that carries the
// user's session identifier; empty on failure.
win32::UniqueHandle EscalateTokenToAdmin(HANDLE user_token) {
  DWORD elevation_type = TokenElevationTypeDefault;
  DWORD returned = 0;
  if (!::GetTokenInformation(user_token, TokenElevationType, &elevation_type, sizeof elevation_type,
                             &returned)) {
    LogError("operation : GetTokenElevationType; status : failure; remarks : \"GetTokenInformation "
             "failed\"; return_value : %d;",
             static_cast<int>(::GetLastError()));
    return {};
  }
  win32::UniqueHandle linked;
  HANDLE work = user_token;
  if (elevation_type != TokenElevationTypeDefault) {
    if (!GetLinkedToken(user_token, &linked) || !linked) {
      LogError("operation : EscalateTokenToAdmin; status : failure; remarks : \"Failed to retrieve "
               "the elevated linked token\";");
      return {};
    }
    work = linked.get();
  }
  DWORD session_id = 0;
  if (!::GetTokenInformation(work, TokenSessionId, &session_id, sizeof session_id, &returned)) {
    LogError("operation : GetTokenSessionId; status : failure; remarks : \"GetTokenInformation "
             "failed\"; return_value : %d;",
             static_cast<int>(::GetLastError()));
    return {};
  }
  win32::UniqueHandle primary;
  const BOOL duplicated = ::DuplicateTokenEx(work, MAXIMUM_ALLOWED, nullptr, SecurityImpersonation,
                                             TokenPrimary, primary.put());
  const DWORD duplicate_error = ::GetLastError();
  linked.reset();
  if (!duplicated) {
    LogError("operation : EscalateTokenToAdmin; status : failure; remarks : \"DuplicateTokenEx "
             "failed\"; return_value : %d;",
             static_cast<int>(duplicate_error));
    return {};
  }
  if (!::SetTokenInformation(primary.get(), TokenSessionId, &session_id, sizeof session_id)) {
    LogError("operation : EscalateTokenToAdmin; session_id : %d; status : failure; remarks : "
             "\"Failed to set session ID on the duplicated elevated token\"; return_value : %d;",
             static_cast<int>(session_id), static_cast<int>(::GetLastError()));
    return {};
  }
  LogInfo("operation : EscalateTokenToAdmin; session_id : %d; status : success; remarks : "
          "\"Elevated token prepared successfully\";",
          static_cast<int>(session_id));
  return primary;
}

// The user's environment block, destroyed with the object.
class EnvironmentBlock {
 public:
  EnvironmentBlock(HANDLE token, DestroyEnvironmentBlockFn destroy, CreateEnvironmentBlockFn create)
      : destroy_(destroy) {
    if (!create || !destroy || !create(&block_, token, FALSE)) block_ = nullptr;
  }
  ~EnvironmentBlock() {
    if (block_) destroy_(block_);
  }
  EnvironmentBlock(const EnvironmentBlock&) = delete;
  EnvironmentBlock& operator=(const EnvironmentBlock&) = delete;
  void* get() const { return block_; }

 private:
  DestroyEnvironmentBlockFn destroy_;
  void* block_ = nullptr;
};

int WaitForUserProcess(const win32::ProcessInformation& launched, const LaunchJob& job,
                       unsigned long session_id, unsigned long timeout_ms) {
  const int sid = static_cast<int>(session_id);
  const HANDLE process = launched.process();
  if (::WaitForSingleObject(process, WaitMilliseconds(timeout_ms)) != WAIT_OBJECT_0) {
    LogError("operation : CreateProcessInUserSession; session_id : %d; status : failure; remarks : "
             "\"Process did not complete within the timeout period. Terminating process.\"; "
             "return_value : %d;",
             sid, 258);
    job.End(launched, 258);
    return 258;
  }
  DWORD exit_code = 0;
  if (!::GetExitCodeProcess(process, &exit_code)) {
    const int error = static_cast<int>(::GetLastError());
    LogError("operation : CreateProcessInUserSession; session_id : %d; status : failure; remarks : "
             "\"GetExitCodeProcess failed\"; return_value : %d;",
             sid, error);
    return error;
  }
  LogInfo("operation : CreateProcessInUserSession; session_id : %d; exit_code : %d; status : "
          "success;",
          sid, static_cast<int>(exit_code));
  return static_cast<int>(exit_code);
}

}  // namespace

SessionList GetActiveUserSessions() {
  const win32::UniqueModule wtsapi = win32::LoadSystemLibrary("wtsapi32.dll");
  const auto enumerate =
      win32::GetProc<WTSEnumerateSessionsExAFn>(wtsapi, "WTSEnumerateSessionsExA");
  const auto free_memory = win32::GetProc<WTSFreeMemoryExAFn>(wtsapi, "WTSFreeMemoryExA");
  DWORD level = 1;
  WtsSessionInfo1A* info = nullptr;
  DWORD count = 0;
  if (!enumerate || !free_memory ||
      !enumerate(nullptr /* current server */, &level, 0, &info, &count)) {
    LogError("operation : GetActiveUserSessions; status : failure; remarks : "
             "\"WTSEnumerateSessionsEx failed\"; return_value : %d;",
             static_cast<int>(::GetLastError()));
    return SessionList();
  }
  std::vector<SessionRecord> records;
  for (DWORD i = 0; i < count; ++i) {
    const WtsSessionInfo1A& r = info[i];
    const bool wanted = r.pUserName && r.SessionId != 0;  // only these need their user's SID
    records.push_back({r.pUserName, r.SessionId, r.State,
                       wanted ? GetSessionUserSid(r.SessionId) : std::string()});
  }
  SessionList sessions = BuildSessionList(records);
  free_memory(kWtsTypeSessionInfoLevel1, info, count);
  return sessions;
}

std::string GetSessionUserSid(unsigned long session_id) {
  win32::UniqueHandle token;
  if (!QuerySessionUserToken(session_id, &token)) return {};
  return win32::TokenSidText(token.get(), TokenUser);
}

bool ImpersonateSessionUser(unsigned long session_id) {
  win32::UniqueHandle token;
  if (!QuerySessionUserToken(session_id, &token)) return false;
  // The thread keeps its own impersonation token; the primary one is closed here.
  return ::ImpersonateLoggedOnUser(token.get()) != FALSE;
}

int CreateProcessInUserSession(const std::string& command_line, unsigned long timeout_ms,
                               unsigned long session_id, const std::string& executable,
                               bool elevate, const std::string& desktop) {
  const int sid = static_cast<int>(session_id);
  win32::UniqueHandle token;
  if (!QuerySessionUserToken(session_id, &token)) {
    const int error = static_cast<int>(::GetLastError());
    LogError("operation : CreateProcessInUserSession; session_id : %d; status : failure; remarks : "
             "\"WTSQueryUserToken failed\"; return_value : %d;",
             sid, error);
    return error;
  }
  if (elevate) {
    token = EscalateTokenToAdmin(token.get());
    if (!token) {
      LogError("operation : CreateProcessInUserSession; session_id : %d; status : failure; remarks "
               ": \"EscalateTokenToAdmin failed to produce an elevated token\"; return_value : %d;",
               sid, 6);
      return 6;
    }
  }
  const win32::UniqueModule userenv = win32::LoadSystemLibrary("userenv.dll");
  EnvironmentBlock environment(
      token.get(), win32::GetProc<DestroyEnvironmentBlockFn>(userenv, "DestroyEnvironmentBlock"),
      win32::GetProc<CreateEnvironmentBlockFn>(userenv, "CreateEnvironmentBlock"));
  if (!environment.get()) {
    LogError("operation : CreateProcessInUserSession; session_id : %d; remarks : "
             "\"CreateEnvironmentBlock failed. Proceeding without a custom environment block\"; "
             "return_value : %d;",
             sid, static_cast<int>(::GetLastError()));
  }
  std::vector<char> exe(executable.begin(), executable.end());
  exe.push_back('\0');
  std::vector<char> line(command_line.begin(), command_line.end());
  line.push_back('\0');
  // Without a desktop, a process started from session 0 gets a new, invisible window station:
  // any prompt it shows could never be answered.
  std::vector<char> desktop_name(desktop.begin(), desktop.end());
  desktop_name.push_back('\0');
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.lpDesktop = desktop.empty() ? nullptr : desktop_name.data();
  win32::ProcessInformation process;
  // A waited-for launch starts suspended, so that it is in its job before it can start anything.
  const DWORD flags = kUserSessionCreationFlags | (timeout_ms == 0 ? 0 : CREATE_SUSPENDED);
  if (!::CreateProcessAsUserA(token.get(), executable.empty() ? nullptr : exe.data(),
                              command_line.empty() ? nullptr : line.data(), nullptr, nullptr, FALSE,
                              flags, environment.get(), nullptr, &startup, process.put())) {
    const int error = static_cast<int>(::GetLastError());
    LogError("operation : CreateProcessInUserSession; session_id : %d; status : failure; remarks : "
             "\"CreateProcessAsUser failed\"; return_value : %d;",
             sid, error);
    return error;
  }
  if (timeout_ms == 0) {
    LogInfo("operation : CreateProcessInUserSession; session_id : %d; process_id : %d; remarks : "
            "\"Process created successfully. Not waited for.\";",
            sid, static_cast<int>(process.process_id()));
    return 0;
  }
  LaunchJob job;
  if (!job.Start(process)) {
    const int error = static_cast<int>(::GetLastError());
    ::TerminateProcess(process.process(), 258);
    LogError("operation : CreateProcessInUserSession; session_id : %d; status : failure; remarks : "
             "\"CreateProcessAsUser failed\"; return_value : %d;",
             sid, error);
    return error;
  }
  LogInfo("operation : CreateProcessInUserSession; session_id : %d; process_id : %d; remarks : "
          "\"Process created successfully. Waiting for completion.\";",
          sid, static_cast<int>(process.process_id()));
  return WaitForUserProcess(process, job, session_id, timeout_ms);
}

}  // namespace varnok
