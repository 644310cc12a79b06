#include "process/launch_job_plan.h"

namespace varnok {

JobPlan PlanDirectLaunch(const JobFacts& facts) {
  JobPlan plan;
  plan.own_job = true;
  // Nested inside the agent's job, its limits still apply; leaving it is the second choice.
  if (!facts.in_job || facts.silent_breakaway || facts.nested_jobs) return plan;
  if (facts.breakaway_allowed) {
    plan.break_away = true;
    return plan;
  }
  plan.own_job = false;
  plan.reason = "this program runs in a job that lets no process leave it, and this Windows "
                "cannot put a job inside another";
  return plan;
}

JobPlan PlanUserSessionLaunch(const JobFacts& facts) {
  JobPlan plan;
  plan.reason = "a process in a user's session cannot join a job of this program's session";
  if (!facts.in_job || facts.silent_breakaway) return plan;
  if (facts.breakaway_allowed) {
    plan.break_away = true;
    return plan;
  }
  plan.refused = true;
  plan.reason = "this program runs in a job that lets no process leave it, and a process in a "
                "user's session cannot stay in a job of this program's session";
  return plan;
}

}  // namespace varnok
