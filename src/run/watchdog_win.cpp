#include <windows.h>

#include <algorithm>
#include <atomic>

#include "log/log.h"
#include "run/watchdog.h"
#include "win32/unique_handle.h"

namespace varnok {

struct Watchdog::State {
  unsigned time_divisor = 1;
  std::atomic<unsigned long long> due_tick{0};     // GetTickCount64 at the deadline
  std::atomic<unsigned long long> deadline_ms{0};  // as set, for the last line
  std::atomic<bool> work_deadline{false};          // set once the inventory was read
  win32::UniqueHandle run_thread;
  win32::UniqueHandle changed;  // auto-reset: a new deadline
  win32::UniqueHandle stop;     // manual-reset: the watchdog is no longer needed
  win32::UniqueHandle speak;    // manual-reset: the last line is due
  win32::UniqueHandle spoken;   // manual-reset: the last line has been written
  win32::UniqueHandle watch_thread;
  win32::UniqueHandle line_thread;
};

namespace {

constexpr SIZE_T kWatchStack = 64 * 1024;
constexpr SIZE_T kLineStack = 256 * 1024;

// Once the watchdog has fired, whatever happens on the way out still ends with its exit code.
LONG WINAPI EndStopped(EXCEPTION_POINTERS*) {
  ::TerminateProcess(::GetCurrentProcess(), kExitStoppedByWatchdog);
  return EXCEPTION_EXECUTE_HANDLER;
}

// Made before anything can stall, so that no thread has to be started (and no loader lock
// taken) once the run is stuck.
DWORD WINAPI LastLine(void* parameter) {
  const auto* state = static_cast<const Watchdog::State*>(parameter);
  const HANDLE events[] = {state->stop.get(), state->speak.get()};
  if (::WaitForMultipleObjects(2, events, FALSE, INFINITE) != WAIT_OBJECT_0 + 1) return 0;
  const unsigned long long seconds = state->deadline_ms.load() / 1000;
  if (state->work_deadline.load()) {
    LogError("operation : app_varnok; status : failure; remarks : \"The run was stopped by its "
             "watchdog: it had not ended within %llu s of reading the inventory, the longest its "
             "rows may take. Retry later.\"; return_value : %d;",
             seconds, kExitStoppedByWatchdog);
  } else {
    LogError("operation : app_varnok; status : failure; remarks : \"The run was stopped by its "
             "watchdog: it had not read the inventory within %llu s of its start. Retry "
             "later.\"; return_value : %d;",
             seconds, kExitStoppedByWatchdog);
  }
  ::SetEvent(state->spoken.get());
  return 0;
}

// The run is stopped where it is, so that its log is no longer written meanwhile; a lock it holds
// costs the last line at most kLastLineWaitMs.
[[noreturn]] void Fire(const Watchdog::State& state) {
  ::SetUnhandledExceptionFilter(&EndStopped);
  if (state.run_thread) ::SuspendThread(state.run_thread.get());
  if (state.line_thread) {
    ::SetEvent(state.speak.get());
    ::WaitForSingleObject(state.spoken.get(), kLastLineWaitMs);
  }
  ::TerminateProcess(::GetCurrentProcess(), kExitStoppedByWatchdog);
  for (;;) ::Sleep(INFINITE);  // TerminateProcess on itself does not return
}

DWORD WINAPI Watch(void* parameter) {
  const auto* state = static_cast<const Watchdog::State*>(parameter);
  const HANDLE events[] = {state->stop.get(), state->changed.get()};
  for (;;) {
    const unsigned long long now = ::GetTickCount64();
    const unsigned long long due = state->due_tick.load();
    if (now >= due) Fire(*state);
    const DWORD wait = static_cast<DWORD>(std::min<unsigned long long>(due - now, INFINITE - 1));
    if (::WaitForMultipleObjects(2, events, FALSE, wait) == WAIT_OBJECT_0) return 0;
  }
}

HANDLE NewThread(LPTHREAD_START_ROUTINE routine, Watchdog::State* state, SIZE_T stack) {
  return ::CreateThread(nullptr, stack, routine, state, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
}

}  // namespace

Watchdog::Watchdog(unsigned long long first_ms, unsigned time_divisor)
    : state_(std::make_shared<State>()) {
  State& state = *state_;
  state.time_divisor = std::max(time_divisor, 1u);
  state.deadline_ms = first_ms;
  state.due_tick = ::GetTickCount64() + first_ms / state.time_divisor;
  ::DuplicateHandle(::GetCurrentProcess(), ::GetCurrentThread(), ::GetCurrentProcess(),
                    state.run_thread.put(), THREAD_SUSPEND_RESUME, FALSE, 0);
  state.changed.reset(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
  state.stop.reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  state.speak.reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  state.spoken.reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!state.changed || !state.stop || !state.speak || !state.spoken) return;
  state.line_thread.reset(NewThread(&LastLine, &state, kLineStack));
  state.watch_thread.reset(NewThread(&Watch, &state, kWatchStack));
}

Watchdog::~Watchdog() {
  if (!state_->stop) return;
  ::SetEvent(state_->stop.get());
  // Both return at once, unless the watchdog is firing: then the process ends within
  // kLastLineWaitMs anyway.
  for (const win32::UniqueHandle* thread : {&state_->watch_thread, &state_->line_thread}) {
    if (*thread) ::WaitForSingleObject(thread->get(), INFINITE);
  }
}

void Watchdog::Set(unsigned long long ms) {
  State& state = *state_;
  state.deadline_ms = ms;
  state.work_deadline = true;
  state.due_tick = ::GetTickCount64() + ms / state.time_divisor;
  if (state.changed) ::SetEvent(state.changed.get());
}

}  // namespace varnok
