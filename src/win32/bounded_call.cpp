#include "win32/bounded_call.h"

#include <atomic>
#include <exception>

namespace varnok::win32 {
namespace {

// How long a call whose I/O has been cancelled is given to return, and how often the cancel is
// repeated meanwhile (a thread that had not reached its I/O yet has nothing to cancel).
constexpr DWORD kCancelGraceMs = 2000;
constexpr DWORD kCancelRepeatMs = 100;
// Enough for the file, version and security calls, far less than the default megabyte.
constexpr SIZE_T kStackReserve = 256 * 1024;

std::atomic<int> left_behind{0};

// Shared by the caller and the thread: whichever lets go last frees it.
struct Call {
  std::shared_ptr<BoundedWork> work;
  UniqueHandle token;  // the caller's impersonation token; empty when it had none
  UniqueHandle done;
  bool ran = false;
  std::exception_ptr error;
};

DWORD WINAPI CallThread(void* parameter) {
  const std::unique_ptr<std::shared_ptr<Call>> owned(static_cast<std::shared_ptr<Call>*>(parameter));
  Call& call = **owned;
  // Never as the process when the caller acted as someone else.
  if (!call.token || ::SetThreadToken(nullptr, call.token.get())) {
    call.ran = true;
    try {
      call.work->Run();
    } catch (...) {
      call.error = std::current_exception();  // thrown again in the caller's thread
    }
  }
  ::SetEvent(call.done.get());
  return 0;
}

// The calling thread's impersonation token, or an empty owner when it acts as the process. False
// when it acts as someone else and the token cannot be had.
bool CallerToken(UniqueHandle* token) {
  if (::OpenThreadToken(::GetCurrentThread(), TOKEN_IMPERSONATE, TRUE, token->put())) return true;
  return ::GetLastError() == ERROR_NO_TOKEN;
}

}  // namespace

bool RunBounded(const std::shared_ptr<BoundedWork>& work, DWORD timeout_ms) {
  if (left_behind.load() >= kMaxLeftBehind) return false;
  auto call = std::make_shared<Call>();
  call->work = work;
  if (!CallerToken(&call->token)) return false;
  call->done.reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!call->done) return false;
  auto* handed = new std::shared_ptr<Call>(call);
  UniqueHandle thread(::CreateThread(nullptr, kStackReserve, &CallThread, handed,
                                     STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr));
  if (!thread) {
    delete handed;
    return false;
  }
  if (::WaitForSingleObject(call->done.get(), timeout_ms) == WAIT_OBJECT_0) {
    if (call->error) std::rethrow_exception(call->error);
    return call->ran;
  }
  for (DWORD waited = 0; waited < kCancelGraceMs; waited += kCancelRepeatMs) {
    ::CancelSynchronousIo(thread.get());
    if (::WaitForSingleObject(call->done.get(), kCancelRepeatMs) == WAIT_OBJECT_0) return false;
  }
  ++left_behind;
  return false;
}

int LeftBehindCount() { return left_behind.load(); }

UniqueFileHandle CreateFileBounded(const std::wstring& path, DWORD access, DWORD share,
                                   DWORD disposition, DWORD flags, DWORD timeout_ms,
                                   DWORD* error) {
  struct Open {
    UniqueFileHandle handle;
    DWORD error = 0;
  };
  std::optional<std::shared_ptr<Open>> opened = CallBounded<std::shared_ptr<Open>>(
      [=] {
        auto open = std::make_shared<Open>();
        open->handle.reset(
            ::CreateFileW(path.c_str(), access, share, nullptr, disposition, flags, nullptr));
        open->error = open->handle ? ERROR_SUCCESS : ::GetLastError();
        return open;
      },
      timeout_ms);
  if (!opened) {
    *error = ERROR_TIMEOUT;
    return UniqueFileHandle();
  }
  *error = (*opened)->error;
  return std::move((*opened)->handle);
}

}  // namespace varnok::win32
