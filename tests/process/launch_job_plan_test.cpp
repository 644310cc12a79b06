#include "process/launch_job_plan.h"

#include <gtest/gtest.h>

namespace varnok {
namespace {

TEST(LaunchJobPlan, EveryPlaceInTheAgentsJob) {
  struct Case {
    const char* what;
    JobFacts facts;
    // Expected: direct launch (break away, own job); user-session launch (break away, refused).
    bool direct_break_away, direct_own_job, user_break_away, user_refused;
  };
  // in_job, breakaway_allowed, silent_breakaway, nested_jobs
  const Case cases[] = {
      {"in no job", {false, false, false, true}, false, true, false, false},
      {"in no job, Windows 7", {false, false, false, false}, false, true, false, false},
      {"Windows 8 and later nest, whatever the agent's job allows", {true, false, false, true},
       false, true, false, true},
      {"Windows 8, breakaway allowed: nested still", {true, true, false, true}, false, true, true,
       false},
      {"Windows 7, breakaway allowed", {true, true, false, false}, true, true, true, false},
      {"Windows 7, children leave silently", {true, false, true, false}, false, true, false, false},
      {"Windows 7, no way out: uncontained", {true, false, false, false}, false, false, false,
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const JobPlan direct = PlanDirectLaunch(c.facts);
    EXPECT_EQ(direct.break_away, c.direct_break_away);
    EXPECT_EQ(direct.own_job, c.direct_own_job);
    EXPECT_FALSE(direct.refused);
    const JobPlan user = PlanUserSessionLaunch(c.facts);
    EXPECT_EQ(user.break_away, c.user_break_away);
    EXPECT_EQ(user.refused, c.user_refused);
    EXPECT_FALSE(user.own_job);  // never a job of this program's session
    // Every launch that is not the usual case says why.
    if (!direct.own_job) {
      EXPECT_STRNE(direct.reason, "");
    }
    EXPECT_STRNE(user.reason, "");
  }
}

}  // namespace
}  // namespace varnok
