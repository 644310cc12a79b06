#include "process/launch_job.h"

#include <tlhelp32.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <vector>

#include "log/log.h"
#include "win32/system_library.h"
#include "win32/text.h"

namespace varnok {
namespace {

constexpr DWORD kActivityReadMs = 1000;
constexpr size_t kMaxListedProcesses = 512;
constexpr int kWindowTextChars = 512;

// One line per run, however many launches run without a job of their own.
void LogUncontainedOnce(const std::string& why) {
  static bool logged = false;
  if (logged) return;
  logged = true;
  LogInfo("operation : ExecuteFile; remarks : \"Uninstallers run without a job object of their own "
          "(%s): at the time-out only the first process is ended, and a window is never taken for "
          "a question nobody answers.\";",
          why.c_str());
}

std::string FailedStep(const char* step, DWORD error) {
  return std::string(step) + " failed with " + std::to_string(error);
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
  // Image paths may be long (\\?\ paths); the call says when the buffer is too small.
  std::vector<wchar_t> path(MAX_PATH);
  for (int attempt = 0; attempt < 4; ++attempt) {
    DWORD length = static_cast<DWORD>(path.size());
    if (::QueryFullProcessImageNameW(process, 0, path.data(), &length)) {
      return win32::Utf8(std::wstring_view(path.data(), length));
    }
    if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER) break;
    path.resize(path.size() * 4);
  }
  return std::string();
}

// The job's own accounting: it keeps what processes that have ended and children that are gone
// did, which the live threads no longer show.
void AddJobAccounting(HANDLE job, LaunchActivity* activity) {
  JOBOBJECT_BASIC_AND_IO_ACCOUNTING_INFORMATION accounting{};
  if (!::QueryInformationJobObject(job, JobObjectBasicAndIoAccountingInformation, &accounting,
                                   sizeof accounting, nullptr)) {
    return;
  }
  activity->cpu_time += static_cast<unsigned long long>(
      accounting.BasicInfo.TotalUserTime.QuadPart + accounting.BasicInfo.TotalKernelTime.QuadPart);
  const IO_COUNTERS& io = accounting.IoInfo;
  activity->io_operations += io.ReadOperationCount + io.WriteOperationCount + io.OtherOperationCount;
  activity->io_bytes += io.ReadTransferCount + io.WriteTransferCount + io.OtherTransferCount;
}

// The live threads' times and cycles. Times move in clock ticks (about 15 ms), so a lightly
// animated window can show none from one reading to the next; cycles show any work at all.
// (Process times would do on Windows; Wine answers them for another process with the caller's.)
void AddThreadWork(const std::vector<unsigned long>& ids, LaunchActivity* activity) {
  const win32::UniqueFileHandle threads(::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
  THREADENTRY32 entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = threads && ::Thread32First(threads.get(), &entry); more;
       more = ::Thread32Next(threads.get(), &entry)) {
    if (std::find(ids.begin(), ids.end(), entry.th32OwnerProcessID) == ids.end()) continue;
    const win32::UniqueHandle thread(
        ::OpenThread(THREAD_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ThreadID));
    if (!thread) continue;
    FILETIME created{}, ended{}, kernel{}, user{};
    if (::GetThreadTimes(thread.get(), &created, &ended, &kernel, &user)) {
      activity->cpu_time += Ticks(kernel) + Ticks(user);
    }
    ULONG64 cycles = 0;
    if (::QueryThreadCycleTime(thread.get(), &cycles)) activity->cpu_cycles += cycles;
  }
}

// user32 is loaded only for the watch, from the system directory: a run that never needs a
// window never connects to a window station, and nothing user32 depends on is looked for beside
// the program.
class WindowCalls {
 public:
  WindowCalls()
      : user32_(win32::LoadSystemLibrary("user32.dll")),
        enum_windows_(win32::GetProc<EnumWindowsFn>(user32_, "EnumWindows")),
        is_visible_(win32::GetProc<IsWindowFn>(user32_, "IsWindowVisible")),
        is_enabled_(win32::GetProc<IsWindowFn>(user32_, "IsWindowEnabled")),
        style_of_(win32::GetProc<GetWindowLongWFn>(user32_, "GetWindowLongW")),
        rect_of_(win32::GetProc<GetWindowRectFn>(user32_, "GetWindowRect")),
        monitor_of_(win32::GetProc<MonitorFromRectFn>(user32_, "MonitorFromRect")),
        owner_of_(win32::GetProc<GetWindowThreadProcessIdFn>(user32_, "GetWindowThreadProcessId")),
        text_of_(win32::GetProc<GetWindowTextWFn>(user32_, "GetWindowTextW")),
        class_of_(win32::GetProc<GetClassNameWFn>(user32_, "GetClassNameW")) {}

  // The first dialog (IsDialogWindow), shown or not, on this thread's desktop (the one a launch
  // inherits), of one of `process_ids`; false when there is none.
  bool FindDialog(const std::vector<unsigned long>& process_ids, LaunchWindow* window) const {
    if (!enum_windows_ || !is_visible_ || !is_enabled_ || !style_of_ || !rect_of_ ||
        !monitor_of_ || !owner_of_ || !text_of_ || !class_of_) {
      return false;
    }
    Search search{this, &process_ids, nullptr, 0, std::string()};
    enum_windows_(&Visit, reinterpret_cast<LPARAM>(&search));
    if (!search.found) return false;
    wchar_t text[kWindowTextChars] = {};
    text_of_(search.found, text, kWindowTextChars);  // another process's: read, never asked
    window->title = win32::Utf8(text);
    window->class_name = search.class_name;
    window->process_id = search.owner;
    win32::UniqueHandle owner(
        ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, search.owner));
    window->process = owner ? ImagePath(owner.get()) : std::string();
    return true;
  }

 private:
  using EnumWindowsFn = BOOL(WINAPI*)(WNDENUMPROC, LPARAM);
  using IsWindowFn = BOOL(WINAPI*)(HWND);
  using GetWindowLongWFn = LONG(WINAPI*)(HWND, int);
  using GetWindowRectFn = BOOL(WINAPI*)(HWND, RECT*);
  using MonitorFromRectFn = HMONITOR(WINAPI*)(const RECT*, DWORD);
  using GetWindowThreadProcessIdFn = DWORD(WINAPI*)(HWND, DWORD*);
  using GetWindowTextWFn = int(WINAPI*)(HWND, wchar_t*, int);
  using GetClassNameWFn = int(WINAPI*)(HWND, wchar_t*, int);

  struct Search {
    const WindowCalls* calls;
    const std::vector<unsigned long>* process_ids;
    HWND found = nullptr;
    DWORD owner = 0;
    std::string class_name;
  };

  WindowFacts FactsOf(HWND window) const {
    WindowFacts facts;
    wchar_t class_name[kWindowTextChars] = {};
    class_of_(window, class_name, kWindowTextChars);
    facts.class_name = win32::Utf8(class_name);
    facts.has_caption = (style_of_(window, GWL_STYLE) & WS_CAPTION) == WS_CAPTION;
    facts.enabled = is_enabled_(window) != FALSE;
    facts.visible = is_visible_(window) != FALSE;
    RECT rect{};
    if (rect_of_(window, &rect)) {
      facts.left = rect.left;
      facts.top = rect.top;
      facts.right = rect.right;
      facts.bottom = rect.bottom;
      facts.on_monitor = monitor_of_(&rect, MONITOR_DEFAULTTONULL) != nullptr;
    }
    return facts;
  }

  static BOOL CALLBACK Visit(HWND window, LPARAM context) {
    auto* search = reinterpret_cast<Search*>(context);
    DWORD owner = 0;
    search->calls->owner_of_(window, &owner);
    const auto& ids = *search->process_ids;
    if (std::find(ids.begin(), ids.end(), owner) == ids.end()) return TRUE;
    const WindowFacts facts = search->calls->FactsOf(window);
    if (!IsDialogWindow(facts)) return TRUE;
    search->found = window;
    search->owner = owner;
    search->class_name = facts.class_name;
    return FALSE;
  }

  win32::UniqueModule user32_;
  EnumWindowsFn enum_windows_;
  IsWindowFn is_visible_;
  IsWindowFn is_enabled_;
  GetWindowLongWFn style_of_;
  GetWindowRectFn rect_of_;
  MonitorFromRectFn monitor_of_;
  GetWindowThreadProcessIdFn owner_of_;
  GetWindowTextWFn text_of_;
  GetClassNameWFn class_of_;
};

class JobRemains : public LaunchRemains {
 public:
  JobRemains(std::unique_ptr<LaunchJob> job, std::unique_ptr<win32::ProcessInformation> process)
      : job_(std::move(job)), process_(std::move(process)) {}

  LaunchActivity ReadActivity(LaunchWindow* window) override {
    LaunchActivity activity = job_->ReadActivity(*process_);
    activity.shows_window =
        !activity.process_ids.empty() && windows_.FindDialog(activity.process_ids, window);
    return activity;
  }
  void End(unsigned exit_code) override { job_->End(*process_, exit_code); }

 private:
  std::unique_ptr<LaunchJob> job_;
  std::unique_ptr<win32::ProcessInformation> process_;
  WindowCalls windows_;
};

// The process of the Windows Installer service (msiserver), 0 when it does not run.
DWORD InstallerServiceProcessId() {
  const win32::UniqueServiceHandle manager(
      ::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (!manager) return 0;
  const win32::UniqueServiceHandle service(
      ::OpenServiceW(manager.get(), L"msiserver", SERVICE_QUERY_STATUS));
  SERVICE_STATUS_PROCESS status{};
  DWORD needed = 0;
  if (!service || !::QueryServiceStatusEx(service.get(), SC_STATUS_PROCESS_INFO,
                                          reinterpret_cast<BYTE*>(&status), sizeof status,
                                          &needed)) {
    return 0;
  }
  return status.dwCurrentState == SERVICE_RUNNING ? status.dwProcessId : 0;
}

bool IsWindows8OrLater() {
  OSVERSIONINFOEXW version{};
  version.dwOSVersionInfoSize = sizeof version;
  version.dwMajorVersion = 6;
  version.dwMinorVersion = 2;
  ULONGLONG condition = 0;
  condition = ::VerSetConditionMask(condition, VER_MAJORVERSION, VER_GREATER_EQUAL);
  condition = ::VerSetConditionMask(condition, VER_MINORVERSION, VER_GREATER_EQUAL);
  return ::VerifyVersionInfoW(&version, VER_MAJORVERSION | VER_MINORVERSION, condition) != FALSE;
}

JobFacts ReadJobFactsNow() {
  JobFacts facts;
  BOOL in_job = FALSE;
  facts.in_job = ::IsProcessInJob(::GetCurrentProcess(), nullptr, &in_job) && in_job;
  facts.nested_jobs = IsWindows8OrLater();
  if (!facts.in_job) return facts;
  // A null job handle asks about the job this process runs in (the innermost one).
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
  if (::QueryInformationJobObject(nullptr, JobObjectExtendedLimitInformation, &limits,
                                  sizeof limits, nullptr)) {
    const DWORD flags = limits.BasicLimitInformation.LimitFlags;
    facts.breakaway_allowed = (flags & JOB_OBJECT_LIMIT_BREAKAWAY_OK) != 0;
    facts.silent_breakaway = (flags & JOB_OBJECT_LIMIT_SILENT_BREAKAWAY_OK) != 0;
  }
  return facts;
}

}  // namespace

const JobFacts& ReadJobFacts() {
  static const JobFacts facts = ReadJobFactsNow();
  return facts;
}

std::unique_ptr<LaunchRemains> KeepRemains(std::unique_ptr<LaunchJob> job,
                                           std::unique_ptr<win32::ProcessInformation> process) {
  return std::make_unique<JobRemains>(std::move(job), std::move(process));
}

LaunchJob::LaunchJob(const JobPlan& plan) {
  if (!plan.own_job) {
    LogUncontainedOnce(plan.reason);
    return;
  }
  job_.reset(::CreateJobObjectW(nullptr, nullptr));
  if (!job_) {
    LogUncontainedOnce(FailedStep("CreateJobObject", ::GetLastError()));
    return;
  }
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_BREAKAWAY_OK;
  ::SetInformationJobObject(job_.get(), JobObjectExtendedLimitInformation, &limits, sizeof limits);
}

bool LaunchJob::Start(const win32::ProcessInformation& process) {
  if (job_) {
    contained_ = ::AssignProcessToJobObject(job_.get(), process.process()) != FALSE;
    if (!contained_) LogUncontainedOnce(FailedStep("AssignProcessToJobObject", ::GetLastError()));
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
  }
  std::vector<unsigned long> counted = activity.process_ids;
  // The service may start only once the removal asks for it, so it is looked up each time.
  const DWORD service_id = installer_service_ ? InstallerServiceProcessId() : 0;
  if (service_id != 0) {
    counted.push_back(service_id);
    win32::UniqueHandle service(
        ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, service_id));
    IO_COUNTERS io{};
    if (service && ::GetProcessIoCounters(service.get(), &io)) {
      activity.io_operations += io.ReadOperationCount + io.WriteOperationCount + io.OtherOperationCount;
      activity.io_bytes += io.ReadTransferCount + io.WriteTransferCount + io.OtherTransferCount;
    }
  }
  if (contained_) AddJobAccounting(job_.get(), &activity);
  AddThreadWork(counted, &activity);
  return activity;
}

LaunchEnd WaitForLaunch(const LaunchJob& job, const win32::ProcessInformation& process,
                        DWORD timeout_ms, unsigned long stuck_window_ms, LaunchWindow* window,
                        DWORD* wait_result) {
  // Without a job of its own the launch's helpers and their work cannot be seen, so nothing it
  // shows is taken for a question nobody answers.
  if (stuck_window_ms == 0 || !job.contained()) {
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
    activity.shows_window = windows.FindDialog(activity.process_ids, window);
    if (check.IsStuck(::GetTickCount64(), activity)) {
      return LaunchEnd::kStuckWindow;
    }
  }
}

}  // namespace varnok
