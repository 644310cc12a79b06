// Calls on a thread of their own, with the real threads, tokens and I/O under Wine. Wine has no
// opportunistic locks: a read of a pipe that nobody writes to blocks the same way.
#include <gtest/gtest.h>

#include <stdexcept>
#include <utility>

#include "support/win/wine_support.h"
#include "win32/bounded_call.h"

namespace varnok {
namespace {

// Whether `step` finished in time, and how many calls it left behind.
std::pair<bool, int> Bounded(std::function<bool()> step, DWORD timeout_ms) {
  const int before = win32::LeftBehindCount();
  const std::optional<bool> result = win32::CallBounded<bool>(std::move(step), timeout_ms);
  return {result.has_value() && *result, win32::LeftBehindCount() - before};
}

TEST(CallBounded, AStepThatBlocksCostsItsCallerOnlyTheTimeOut) {
  // A pipe with a writer that never writes: the read waits in the I/O system.
  HANDLE read_end = nullptr;
  HANDLE write_end = nullptr;
  ASSERT_TRUE(CreatePipe(&read_end, &write_end, nullptr, 0));
  const win32::UniqueHandle reader(read_end), writer(write_end);
  const win32::UniqueHandle never(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  struct Case {
    const char* what;
    std::function<bool()> step;
    bool finished;
    int left_behind;
  };
  const Case cases[] = {
      {"a read that never completes is cancelled",
       [read = reader.get()] {
         char byte = 0;
         DWORD got = 0;
         return ReadFile(read, &byte, 1, &got, nullptr) != FALSE;
       },
       false, 0},
      {"a wait that no cancel reaches is left behind",
       [event = never.get()] { return WaitForSingleObject(event, INFINITE) == WAIT_OBJECT_0; }, false,
       1},
      {"a step that ends in time", [] { return true; }, true, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const ULONGLONG start = GetTickCount64();
    EXPECT_EQ(Bounded(c.step, 1000), std::make_pair(c.finished, c.left_behind));
    EXPECT_LT(GetTickCount64() - start, 1000u + 2000u + 500u);  // the time-out, the cancel's grace
  }
}

TEST(CallBounded, TheStepActsAsItsCallerAndItsExceptionReachesTheCaller) {
  const auto impersonating = [] {
    win32::UniqueHandle token;
    return OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, token.put()) != FALSE;
  };
  EXPECT_FALSE(Bounded(impersonating, 5000).first);
  ASSERT_TRUE(ImpersonateSelf(SecurityImpersonation));
  const bool as_caller = Bounded(impersonating, 5000).first;
  ASSERT_TRUE(RevertToSelf());
  EXPECT_TRUE(as_caller);
  EXPECT_THROW(win32::CallBounded<bool>([]() -> bool { throw std::runtime_error("x"); }, 5000),
               std::runtime_error);
  // The open the log can use: its own error when it fails in time.
  DWORD error = 0;
  EXPECT_FALSE(win32::CreateFileBounded(L"C:\\varnok-nowhere\\x.log", FILE_APPEND_DATA, 0,
                                        OPEN_EXISTING, 0, 5000, &error));
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
}

}  // namespace
}  // namespace varnok
