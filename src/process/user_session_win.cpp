#include <windows.h>

#include <vector>

#include "common/local_path.h"
#include "log/log.h"
#include "process/launch_job.h"
#include "process/launched_file.h"
#include "process/session_list.h"
#include "process/user_session.h"
#include "win32/security.h"
#include "win32/system_library.h"
#include "win32/text.h"
#include "win32/unique_handle.h"

namespace varnok {
namespace {

// mingw-w64's headers lack the level-1 session enumeration.
struct WtsSessionInfo1W {
  DWORD ExecEnvId;
  DWORD State;  // WTS_CONNECTSTATE_CLASS
  DWORD SessionId;
  LPWSTR pSessionName;
  LPWSTR pHostName;
  LPWSTR pUserName;
  LPWSTR pDomainName;
  LPWSTR pFarmName;
};
constexpr int kWtsTypeSessionInfoLevel1 = 2;  // WTS_TYPE_CLASS

using WTSEnumerateSessionsExWFn = BOOL(WINAPI*)(HANDLE, DWORD*, DWORD, WtsSessionInfo1W**, DWORD*);
using WTSFreeMemoryExWFn = BOOL(WINAPI*)(int, PVOID, ULONG);
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

// Waited for launches only: one line per run, for the first.
void LogWithoutJobOnce(const char* why) {
  static bool logged = false;
  if (logged) return;
  logged = true;
  LogInfo("operation : CreateProcessInUserSession; remarks : \"Per-user uninstallers run without a "
          "job object (%s): at the time-out only the first process is ended.\";",
          why);
}

int WaitForUserProcess(const win32::ProcessInformation& launched, unsigned long session_id,
                       unsigned long timeout_ms) {
  const int sid = static_cast<int>(session_id);
  const HANDLE process = launched.process();
  if (::WaitForSingleObject(process, WaitMilliseconds(timeout_ms)) != WAIT_OBJECT_0) {
    LogError("operation : CreateProcessInUserSession; session_id : %d; status : failure; remarks : "
             "\"Process did not complete within the timeout period. Terminating process.\"; "
             "return_value : %d;",
             sid, 258);
    ::TerminateProcess(process, 258);
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
      win32::GetProc<WTSEnumerateSessionsExWFn>(wtsapi, "WTSEnumerateSessionsExW");
  const auto free_memory = win32::GetProc<WTSFreeMemoryExWFn>(wtsapi, "WTSFreeMemoryExW");
  DWORD level = 1;
  WtsSessionInfo1W* info = nullptr;
  DWORD count = 0;
  if (!enumerate || !free_memory ||
      !enumerate(nullptr /* current server */, &level, 0, &info, &count)) {
    LogError("operation : GetActiveUserSessions; status : failure; remarks : "
             "\"WTSEnumerateSessionsEx failed\"; return_value : %d;",
             static_cast<int>(::GetLastError()));
    return SessionList();
  }
  std::vector<std::string> names(count);
  std::vector<SessionRecord> records;
  for (DWORD i = 0; i < count; ++i) {
    const WtsSessionInfo1W& r = info[i];
    const bool wanted = r.pUserName && r.SessionId != 0;  // only these need their user's SID
    names[i] = win32::Utf8(r.pUserName);
    records.push_back({r.pUserName ? names[i].c_str() : nullptr, r.SessionId, r.State,
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
                               const std::string& desktop,
                               const std::optional<FileIdentity>& image) {
  const int sid = static_cast<int>(session_id);
  const JobPlan plan = PlanUserSessionLaunch(ReadJobFacts());
  if (plan.refused) {
    LogError("operation : CreateProcessInUserSession; session_id : %d; status : failure; remarks : "
             "\"Not started: %s.\"; return_value : %d;",
             sid, plan.reason, static_cast<int>(ERROR_ACCESS_DENIED));
    return ERROR_ACCESS_DENIED;
  }
  win32::UniqueHandle token;
  if (!QuerySessionUserToken(session_id, &token)) {
    const int error = static_cast<int>(::GetLastError());
    LogError("operation : CreateProcessInUserSession; session_id : %d; status : failure; remarks : "
             "\"WTSQueryUserToken failed\"; return_value : %d;",
             sid, error);
    return error;
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
  win32::WritableWide exe(executable);
  win32::WritableWide line(command_line);
  // Without a desktop, a process started from session 0 gets a new, invisible window station:
  // any prompt it shows could never be answered.
  win32::WritableWide desktop_name(desktop);
  // The program's own folder, not this process's current directory.
  win32::WritableWide directory(FolderOf(executable));
  if (!exe.converted() || !line.converted() || !directory.converted()) {
    // Never started in another form than the one the row holds.
    LogError("operation : CreateProcessInUserSession; session_id : %d; status : failure; remarks : "
             "\"Not started: the command cannot be converted exactly to Windows' text\"; "
             "command_line : \"%s\";",
             sid, command_line.c_str());
    return ERROR_NO_UNICODE_TRANSLATION;
  }
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.lpDesktop = desktop_name.get();
  win32::ProcessInformation process;
  // Bound to a file, it runs only once its image has been compared with that file.
  const DWORD flags = kUserSessionCreationFlags |
                      (plan.break_away ? CREATE_BREAKAWAY_FROM_JOB : 0) |
                      (image ? CREATE_SUSPENDED : 0);
  if (!::CreateProcessAsUserW(token.get(), exe.get(), line.get(), nullptr, nullptr, FALSE, flags,
                              environment.get(), directory.get(), &startup, process.put())) {
    const int error = static_cast<int>(::GetLastError());
    LogError("operation : CreateProcessInUserSession; session_id : %d; status : failure; remarks : "
             "\"CreateProcessAsUser failed\"; return_value : %d;",
             sid, error);
    return error;
  }
  if (image) {
    const int verdict = ResumeIfImageIs(process, *image, executable, session_id);
    if (verdict != 0) return verdict;
  }
  if (timeout_ms == 0) {
    LogInfo("operation : CreateProcessInUserSession; session_id : %d; process_id : %d; remarks : "
            "\"Process created successfully. Not waited for.\";",
            sid, static_cast<int>(process.process_id()));
    return 0;
  }
  LogWithoutJobOnce(plan.reason);
  LogInfo("operation : CreateProcessInUserSession; session_id : %d; process_id : %d; remarks : "
          "\"Process created successfully. Waiting for completion.\";",
          sid, static_cast<int>(process.process_id()));
  return WaitForUserProcess(process, session_id, timeout_ms);
}

}  // namespace varnok
