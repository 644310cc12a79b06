// What an uninstaller leaves running after its first process ends: watched while its row is
// still there, and never left behind with a window nobody in session 0 can answer.
#include "run/row_verification.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>

#include "run/uninstall_run.h"
#include "support/host/fake_run_environment.h"
#include "support/host/log_capture.h"

namespace varnok {
namespace {

using testing::FakeRunEnvironment;

// A launch's helpers, scripted on the fake clock: what they do from which time on.
struct Script {
  long window_from = -1;  // -1: never shows a window
  long busy_until = 0;    // their CPU time grows until then
  long exit_at = -1;      // all of them end then (-1: never on their own)
  long ended_at = -1;     // when the program ended them
};

class ScriptedRemains : public LaunchRemains {
 public:
  ScriptedRemains(FakeRunEnvironment& env, std::shared_ptr<Script> script)
      : env_(env), script_(std::move(script)) {}
  LaunchActivity ReadActivity(LaunchWindow* window) override {
    const long now = env_.clock_ms;
    LaunchActivity activity;
    const bool running =
        script_->ended_at < 0 && (script_->exit_at < 0 || now < script_->exit_at);
    if (!running) return activity;
    activity.process_ids = {4242};
    activity.cpu_time = static_cast<unsigned long long>(std::min(now, script_->busy_until));
    activity.shows_window = script_->window_from >= 0 && now >= script_->window_from;
    if (activity.shows_window) *window = {"Question", "#32770", "C:\\Temp\\_unins.tmp", 4242};
    return activity;
  }
  void End(unsigned) override { script_->ended_at = env_.clock_ms; }

 private:
  FakeRunEnvironment& env_;
  std::shared_ptr<Script> script_;
};

struct Outcome {
  int exit_code;
  long end_ms;
  std::vector<std::string> lines;
};

Outcome RunRow(FakeRunEnvironment& env, long gone_after_ms, const std::shared_ptr<Script>& script) {
  UninstallEntry row;
  row.root = RegistryRoot::kLocalMachine;
  row.registry_path = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Adatum";
  row.key_name = "Adatum";
  row.display_name = "Adatum Paint";
  row.display_version = "5.0";
  row.uninstall_string = "\"C:\\Adatum\\unins000.exe\"";
  env.inventory = {row};
  env.outcomes[row.registry_path].gone_after_ms = gone_after_ms;
  env.remains_of[row.registry_path] = [&env, script] {
    return std::make_unique<ScriptedRemains>(env, script);
  };
  RunOptions options;
  options.DisplayName = "Adatum Paint";
  options.MatchTypeText = "Exact";
  options.ExactVersion = "5.0";
  testing::TakeLogLines();
  Outcome outcome{RunUninstall(options, env), env.clock_ms, {}};
  for (const auto& line : testing::TakeLogLines()) outcome.lines.push_back(line.message);
  return outcome;
}

bool Has(const Outcome& outcome, const std::string& text) {
  return std::any_of(outcome.lines.begin(), outcome.lines.end(),
                     [&](const std::string& line) { return line.find(text) != std::string::npos; });
}

const char kStuckLine[] =
    "operation : ExecuteFile; status : failure; remarks : \"The uninstaller shows a window in "
    "session 0, where nobody can answer it, and has done nothing for 60 s. Ending it.\"; "
    "window_title : \"Question\"; window_class : \"#32770\"; process : \"C:\\Temp\\_unins.tmp\"; "
    "process_id : 4242;";
const char kOrphanLine[] =
    "operation : app_varnok; remarks : \"The row is gone, but a process its uninstaller left "
    "shows a window in session 0 and has done nothing for 60 s. Ending it.\"; window_title : "
    "\"Question\"; window_class : \"#32770\"; process : \"C:\\Temp\\_unins.tmp\"; process_id : "
    "4242;";

TEST(HelperWatch, AQuestionAskedWhileTheRowStaysEndsTheJobAndFailsTheRowWithin90Seconds) {
  FakeRunEnvironment env;
  auto script = std::make_shared<Script>();
  script->window_from = 5000;  // the copy asks before it removes anything
  const Outcome outcome = RunRow(env, -1, script);
  EXPECT_EQ(outcome.exit_code, 51006);
  ASSERT_GE(script->ended_at, 65000);
  EXPECT_LE(script->ended_at, 5000 + 90000);
  EXPECT_EQ(outcome.end_ms, script->ended_at);  // the wait stops there, not after 180 s
  EXPECT_TRUE(Has(outcome, kStuckLine));
  EXPECT_TRUE(Has(outcome, "Registry after exponential backoff exists"));
}

TEST(HelperWatch, HelpersAtWorkOrGoneAreNeverEnded) {
  struct Case {
    const char* what;
    long gone_after_ms;
    Script script;
    long max_end_ms;
  };
  const Case cases[] = {
      {"a progress window while the copy works; the row leaves at 100 s", 100000,
       {0, 99000, 100000, -1}, 100000},
      {"the copy asks nothing, works 20 s and ends; the row leaves at 40 s", 40000,
       {-1, 20000, 20000, -1}, 40000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakeRunEnvironment env;
    auto script = std::make_shared<Script>(c.script);
    const Outcome outcome = RunRow(env, c.gone_after_ms, script);
    EXPECT_EQ(outcome.exit_code, 0);
    EXPECT_EQ(script->ended_at, -1);
    EXPECT_EQ(outcome.end_ms, c.max_end_ms);
    EXPECT_TRUE(Has(outcome, "Registry after exponential backoff does not exists"));
  }
}

TEST(HelperWatch, OnceTheirHelpersAreGoneTheWaitStopsLookingEverySecond) {
  FakeRunEnvironment env;
  env.key_watch_works = false;
  auto script = std::make_shared<Script>();
  script->exit_at = 3000;
  RunRow(env, -1, script);
  ASSERT_GE(env.sleeps.size(), 3u);
  EXPECT_EQ(std::count(env.sleeps.begin(), env.sleeps.end(), 1000u), 3);
  EXPECT_EQ(env.sleeps.back(), 90000u);
}

TEST(OrphanWindows, AWindowLeftBehindByAGoneRowIsEndedAfterAMinuteOfNothing) {
  struct Case {
    const char* what;
    Script script;
    bool ended;
    long end_ms;  // on the clock, after the launch at 0 and the row gone at once
    const char* row_end;  // whether the launch's private temporary folder may go now
  };
  const Case cases[] = {
      {"an idle question after the files are gone", {0, 0, -1, -1}, true, 60000, "done"},
      {"a helper without a window is left alone after a look of 3 s", {-1, 0, -1, -1}, false, 3000,
       "may run"},
      {"a helper that ends costs nothing more", {-1, 0, 500, -1}, false, 500, "done"},
      {"a question that comes a moment after the row left", {1500, 0, -1, -1}, true, 61500, "done"},
      {"a window at work is left to finish after a minute", {0, 600000, -1, -1}, false, 65000,
       "may run"},
      {"a question whose first seconds are work", {0, 4000, -1, -1}, true, 64000, "done"},
      {"a window that closes ends the watch", {0, 0, 7000, -1}, false, 7000, "done"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakeRunEnvironment env;
    auto script = std::make_shared<Script>(c.script);
    const Outcome outcome = RunRow(env, 0, script);
    EXPECT_EQ(outcome.exit_code, 0);  // the row stays a success
    EXPECT_TRUE(Has(outcome, "VERIFY: registry key gone. SUCCESS."));
    EXPECT_EQ(script->ended_at >= 0, c.ended);
    EXPECT_EQ(Has(outcome, kOrphanLine), c.ended);
    EXPECT_EQ(outcome.end_ms, c.end_ms);
    EXPECT_EQ(env.row_ends, std::vector<std::string>{c.row_end});
  }
}

}  // namespace
}  // namespace varnok
