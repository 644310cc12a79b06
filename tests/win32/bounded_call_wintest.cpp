// Calls on a thread of their own, with the real threads, tokens and I/O under Wine. Wine has no
// opportunistic locks: a read of a pipe that nobody writes to blocks the same way.
#include <gtest/gtest.h>

#include <stdexcept>

#include "support/win/wine_support.h"
#include "win32/bounded_call.h"

namespace varnok {
namespace {

struct Outcome {
  bool finished;
  int left_behind;  // calls left behind by this one
  ULONGLONG ms;
};

Outcome Bounded(std::function<bool()> step, DWORD timeout_ms) {
  const int before = win32::LeftBehindCount();
  const ULONGLONG start = GetTickCount64();
  const std::optional<bool> result = win32::CallBounded<bool>(std::move(step), timeout_ms);
  return {result.has_value() && *result, win32::LeftBehindCount() - before,
          GetTickCount64() - start};
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
    const Outcome outcome = Bounded(c.step, 1000);
    EXPECT_EQ(outcome.finished, c.finished);
    EXPECT_EQ(outcome.left_behind, c.left_behind);
    EXPECT_LT(outcome.ms, 1000u + 2000u + 500u);  // the time-out and the cancel's grace
  }
}

TEST(CallBounded, TheStepActsAsItsCallerAndItsExceptionReachesTheCaller) {
  const auto impersonating = [] {
    win32::UniqueHandle token;
    return OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, token.put()) != FALSE;
  };
  EXPECT_FALSE(Bounded(impersonating, 5000).finished);
  ASSERT_TRUE(ImpersonateSelf(SecurityImpersonation));
  const Outcome as_caller = Bounded(impersonating, 5000);
  ASSERT_TRUE(RevertToSelf());
  EXPECT_TRUE(as_caller.finished);
  EXPECT_THROW(win32::CallBounded<bool>([]() -> bool { throw std::runtime_error("x"); }, 5000),
               std::runtime_error);
}

}  // namespace
}  // namespace varnok
