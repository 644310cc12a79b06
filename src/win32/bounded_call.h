// Calls that may wait for ever on a file another program holds: opening a file that a user can
// read breaks that user's opportunistic lock, and the open waits until the user acknowledges the
// break, which a hostile user never does. Such a call runs on a thread of its own, so that its
// caller waits only as long as it chooses.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "win32/unique_handle.h"

namespace varnok::win32 {

// How many calls may be left behind in one process before every further call gives up at once:
// each one holds a thread, and a machine whose files are held costs the run no more.
constexpr int kMaxLeftBehind = 8;

// Work for another thread. It owns everything it touches: a call that never returns is left
// behind with it.
class BoundedWork {
 public:
  virtual ~BoundedWork() = default;
  virtual void Run() = 0;
};

// Runs `work` on a new thread that acts as the calling thread does (with the caller's
// impersonation token, when it has one) and waits up to `timeout_ms`. True when it finished in
// time; an exception it threw is thrown here. Otherwise its synchronous I/O is cancelled
// (CancelSynchronousIo) and false comes back; a thread that still does not return is left behind
// and never waited for again. False at once, without running it, when the caller's token cannot
// be handed on (the work would run as the process instead), no thread can be made, or
// kMaxLeftBehind calls have been left behind already.
bool RunBounded(const std::shared_ptr<BoundedWork>& work, DWORD timeout_ms);

// How many calls have been left behind so far in this process.
int LeftBehindCount();

// `step`'s result, or nullopt when RunBounded gives up on it.
template <typename Result>
std::optional<Result> CallBounded(std::function<Result()> step, DWORD timeout_ms) {
  struct Work : BoundedWork {
    std::function<Result()> step;
    std::optional<Result> result;
    void Run() override { result = step(); }
  };
  auto work = std::make_shared<Work>();
  work->step = std::move(step);
  if (!RunBounded(work, timeout_ms)) return std::nullopt;
  return std::move(work->result);
}

// CreateFileW (no security attributes, no template) run as RunBounded runs it. An invalid handle
// when it fails, with the error in `error`: ERROR_TIMEOUT when the open did not finish in time (a
// handle it returns later is closed by its own thread).
UniqueFileHandle CreateFileBounded(const std::wstring& path, DWORD access, DWORD share,
                                   DWORD disposition, DWORD flags, DWORD timeout_ms,
                                   DWORD* error);

}  // namespace varnok::win32
