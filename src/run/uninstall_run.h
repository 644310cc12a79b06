// One uninstall run, after the options: inventory, name filter, ordering, per-row decisions,
// removal and verification, shell restore, summary and exit code.
#pragma once

#include "run/options.h"
#include "run/run_environment.h"

namespace varnok {

constexpr int kExitSuccess = 0;
constexpr int kExitApplicationNotFound = 51001;
constexpr int kExitNoVersionMatched = 51002;
constexpr int kExitUninstallFailed = 51006;

// The run's counters, as the summary line names them.
struct RunCounters {
  int name_hits = 0;
  int version_hits = 0;
  int skipped_version = 0;  // every kind of skip
  int success = 0;
  int failed = 0;
};

// Returns 0, 51001, 51002 or 51006. `counters` (optional) receives the final counters.
int RunUninstall(const RunOptions& options, RunEnvironment& environment,
                 RunCounters* counters = nullptr);

}  // namespace varnok
