// Where a launch's processes live when this program itself runs in a job, as agents often run
// their handlers. A child of a process in a job joins that job; a job's processes must all be in
// one session; and Windows 7 cannot put a job inside another.
#pragma once

namespace varnok {

// This program's own place, read once.
struct JobFacts {
  bool in_job = false;             // it runs in a job (the agent's)
  bool breakaway_allowed = false;  // that job lets a child ask to leave it
  bool silent_breakaway = false;   // that job's children leave it without asking
  bool nested_jobs = false;        // Windows 8 and later: a job can hold a job
};

struct JobPlan {
  bool break_away = false;  // create the process with CREATE_BREAKAWAY_FROM_JOB
  bool own_job = false;     // hold it in a job of this program's, to end or watch all it starts
  bool refused = false;     // it cannot run: it would have to stay in a job of another session
  const char* reason = "";  // why it runs as it does, for the log; empty for the usual case
};

// A launch in this program's own session. Where no job of its own can hold it, it runs in the
// agent's job uncontained: only its first process can be ended, and it is never taken for stuck.
JobPlan PlanDirectLaunch(const JobFacts& facts);

// A launch in a user's session, an uninstaller's or the shell's: never in a job of this
// program's (a process of a user's session cannot join a job of session 0), and out of the
// agent's job, or not at all.
JobPlan PlanUserSessionLaunch(const JobFacts& facts);

}  // namespace varnok
