#include "process/launch_job.h"

#include <tlhelp32.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <vector>

#include "log/log.h"
#include "win32/system_library.h"

namespace varnok {
namespace {

constexpr DWORD kActivityReadMs = 1000;
constexpr size_t kMaxListedProcesses = 512;
constexpr int kWindowTextChars = 512;

// One line per run, however many launches Windows refuses a job.
void LogUncontainedOnce(const char* step, DWORD error) {
  static bool logged = false;
  if (logged) return;
  logged = true;
  LogInfo("operation : ExecuteFile; remarks : \"Uninstallers run without a job object (%s "
          "failed): at the time-out only the first process is ended.\"; error_code : %d;",
          step, static_cast<int>(error));
}

std::vector<DWORD> JobProcessIds(HANDLE job) {
  // The list's header is two DWORDs, then ULONG_PTR identifiers; read it as bytes.
  constexpr size_t kListOffset = offsetof(JOBOBJECT_BASIC_PROCESS_ID_LIST, ProcessIdList);
  std::vector<unsigned char> buffer(kListOffset + kMaxListedProcesses * sizeof(ULONG_PTR));
  if (!::QueryInformationJobObject(job, JobObjectBasicProcessIdList, buffer.data(),
                                   static_cast<DWORD>(buffer.size()), nullptr) &&
      ::GetLastError() != ERROR_MORE_DATA) {
    return {};
  }
  DWORD listed = 0;
  std::memcpy(&listed, buffer.data() + sizeof(DWORD), sizeof listed);
  if (listed > kMaxListedProcesses) listed = kMaxListedProcesses;
  std::vector<DWORD> ids;
  for (DWORD i = 0; i < listed; ++i) {
    ULONG_PTR id = 0;
    std::memcpy(&id, buffer.data() + kListOffset + i * sizeof(ULONG_PTR), sizeof id);
    ids.push_back(static_cast<DWORD>(id));
  }
  return ids;
}

unsigned long long Ticks(const FILETIME& time) {
  return static_cast<unsigned long long>(time.dwHighDateTime) << 32 | time.dwLowDateTime;
}

std::string ImagePath(HANDLE process) {
  char path[MAX_PATH] = {};
  DWORD length = MAX_PATH;
  return ::QueryFullProcessImageNameA(process, 0, path, &length) ? std::string(path, length)
                                                                 : std::string();
}

// user32 is loaded only for the watch, from the system directory: a run that never needs a
// window never connects to a window station, and nothing user32 depends on is looked for beside
// the program.
class WindowCalls {
 public:
  WindowCalls()
      : user32_(win32::LoadSystemLibrary("user32.dll")),
        enum_windows_(win32::GetProc<EnumWindowsFn>(user32_, "EnumWindows")),
        is_visible_(win32::GetProc<IsWindowVisibleFn>(user32_, "IsWindowVisible")),
        owner_of_(win32::GetProc<GetWindowThreadProcessIdFn>(user32_, "GetWindowThreadProcessId")),
        text_of_(win32::GetProc<GetWindowTextAFn>(user32_, "GetWindowTextA")),
        class_of_(win32::GetProc<GetClassNameAFn>(user32_, "GetClassNameA")) {}

  // The first visible top-level window, on this thread's desktop (the one a launch inherits),
  // of one of `process_ids`; false when there is none.
  bool FindShown(const std::vector<DWORD>& process_ids, LaunchWindow* window) const {
    if (!enum_windows_ || !is_visible_ || !owner_of_ || !text_of_ || !class_of_) return false;
    Search search{this, &process_ids};
    enum_windows_(&Visit, reinterpret_cast<LPARAM>(&search));
    if (!search.found) return false;
    char text[kWindowTextChars] = {};
    text_of_(search.found, text, kWindowTextChars);  // another process's: read, never asked
    char class_name[kWindowTextChars] = {};
    class_of_(search.found, class_name, kWindowTextChars);
    window->title = text;
    window->class_name = class_name;
    window->process_id = search.owner;
    win32::UniqueHandle owner(
        ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, search.owner));
    window->process = owner ? ImagePath(owner.get()) : std::string();
    return true;
  }

 private:
  using EnumWindowsFn = BOOL(WINAPI*)(WNDENUMPROC, LPARAM);
  using IsWindowVisibleFn = BOOL(WINAPI*)(HWND);
  using GetWindowThreadProcessIdFn = DWORD(WINAPI*)(HWND, DWORD*);
  using GetWindowTextAFn = int(WINAPI*)(HWND, char*, int);
  using GetClassNameAFn = int(WINAPI*)(HWND, char*, int);

  struct Search {
    const WindowCalls* calls;
    const std::vector<DWORD>* process_ids;
    HWND found = nullptr;
    DWORD owner = 0;
  };

  static BOOL CALLBACK Visit(HWND window, LPARAM context) {
    auto* search = reinterpret_cast<Search*>(context);
    if (!search->calls->is_visible_(window)) return TRUE;
    DWORD owner = 0;
    search->calls->owner_of_(window, &owner);
    const auto& ids = *search->process_ids;
    if (std::find(ids.begin(), ids.end(), owner) == ids.end()) return TRUE;
    search->found = window;
    search->owner = owner;
    return FALSE;
  }

  win32::UniqueModule user32_;
  EnumWindowsFn enum_windows_;
  IsWindowVisibleFn is_visible_;
  GetWindowThreadProcessIdFn owner_of_;
  GetWindowTextAFn text_of_;
  GetClassNameAFn class_of_;
};

class JobRemains : public LaunchRemains {
 public:
  JobRemains(std::unique_ptr<LaunchJob> job, std::unique_ptr<win32::ProcessInformation> process)
      : job_(std::move(job)), process_(std::move(process)) {}

  LaunchActivity ReadActivity(LaunchWindow* window) override {
    LaunchActivity activity = job_->ReadActivity(*process_);
    activity.shows_window =
        !activity.process_ids.empty() && windows_.FindShown(activity.process_ids, window);
    return activity;
  }
  void End(unsigned exit_code) override { job_->End(*process_, exit_code); }

 private:
  std::unique_ptr<LaunchJob> job_;
  std::unique_ptr<win32::ProcessInformation> process_;
  WindowCalls windows_;
};

}  // namespace

std::unique_ptr<LaunchRemains> KeepRemains(std::unique_ptr<LaunchJob> job,
                                           std::unique_ptr<win32::ProcessInformation> process) {
  return std::make_unique<JobRemains>(std::move(job), std::move(process));
}

LaunchJob::LaunchJob() : job_(::CreateJobObjectA(nullptr, nullptr)) {
  if (!job_) {
    LogUncontainedOnce("CreateJobObject", ::GetLastError());
    return;
  }
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_BREAKAWAY_OK;
  ::SetInformationJobObject(job_.get(), JobObjectExtendedLimitInformation, &limits, sizeof limits);
}

bool LaunchJob::Start(const win32::ProcessInformation& process) {
  if (job_) {
    contained_ = ::AssignProcessToJobObject(job_.get(), process.process()) != FALSE;
    if (!contained_) LogUncontainedOnce("AssignProcessToJobObject", ::GetLastError());
  }
  return ::ResumeThread(process.thread()) != static_cast<DWORD>(-1);
}

void LaunchJob::End(const win32::ProcessInformation& process, UINT exit_code) const {
  if (!contained_ || !::TerminateJobObject(job_.get(), exit_code)) {
    ::TerminateProcess(process.process(), exit_code);
  }
}

LaunchActivity LaunchJob::ReadActivity(const win32::ProcessInformation& process) const {
  LaunchActivity activity;
  std::vector<DWORD> ids;
  if (contained_) ids = JobProcessIds(job_.get());
  if (ids.empty()) ids.push_back(process.process_id());
  for (DWORD id : ids) {
    // The first process by its own handle: its identifier could be reused once it has ended.
    win32::UniqueHandle opened;
    HANDLE handle = process.process();
    if (id != process.process_id()) {
      opened.reset(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id));
      if (!opened) continue;
      handle = opened.get();
    }
    DWORD exit_code = 0;
    if (::GetExitCodeProcess(handle, &exit_code) && exit_code != STILL_ACTIVE) continue;
    activity.process_ids.push_back(id);
    IO_COUNTERS io{};
    if (::GetProcessIoCounters(handle, &io)) {
      activity.io_operations +=
          io.ReadOperationCount + io.WriteOperationCount + io.OtherOperationCount;
      activity.io_bytes += io.ReadTransferCount + io.WriteTransferCount + io.OtherTransferCount;
    }
  }
  // CPU from the live threads' own times: a thread that uses the CPU, starts or ends changes
  // the sum. (Process times would do on Windows; Wine answers them for another process with the
  // caller's own.)
  const win32::UniqueFileHandle threads(::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
  THREADENTRY32 entry{};
  entry.dwSize = sizeof entry;
  const auto& ids_now = activity.process_ids;
  for (BOOL more = threads && ::Thread32First(threads.get(), &entry); more;
       more = ::Thread32Next(threads.get(), &entry)) {
    if (std::find(ids_now.begin(), ids_now.end(), entry.th32OwnerProcessID) == ids_now.end()) {
      continue;
    }
    const win32::UniqueHandle thread(
        ::OpenThread(THREAD_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ThreadID));
    FILETIME created{}, ended{}, kernel{}, user{};
    if (thread && ::GetThreadTimes(thread.get(), &created, &ended, &kernel, &user)) {
      activity.cpu_time += Ticks(kernel) + Ticks(user);
    }
  }
  return activity;
}

LaunchEnd WaitForLaunch(const LaunchJob& job, const win32::ProcessInformation& process,
                        DWORD timeout_ms, unsigned long stuck_window_ms, LaunchWindow* window,
                        DWORD* wait_result) {
  if (stuck_window_ms == 0) {
    *wait_result = ::WaitForSingleObject(process.process(), timeout_ms);
    return *wait_result == WAIT_OBJECT_0 ? LaunchEnd::kExited : LaunchEnd::kTimedOut;
  }
  StuckWindowCheck check(stuck_window_ms);
  const WindowCalls windows;
  const ULONGLONG deadline = ::GetTickCount64() + timeout_ms;
  for (;;) {
    const ULONGLONG now = ::GetTickCount64();
    const DWORD slice = now >= deadline ? 0
                        : deadline - now < kActivityReadMs ? static_cast<DWORD>(deadline - now)
                                                            : kActivityReadMs;
    *wait_result = ::WaitForSingleObject(process.process(), slice);
    if (*wait_result == WAIT_OBJECT_0) return LaunchEnd::kExited;
    if (*wait_result != WAIT_TIMEOUT || slice == 0) return LaunchEnd::kTimedOut;
    LaunchActivity activity = job.ReadActivity(process);
    activity.shows_window = windows.FindShown(activity.process_ids, window);
    if (check.IsStuck(::GetTickCount64(), activity)) {
      return LaunchEnd::kStuckWindow;
    }
  }
}

}  // namespace varnok
