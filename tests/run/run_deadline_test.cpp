#include "run/run_deadline.h"

#include <gtest/gtest.h>

namespace varnok {
namespace {

UninstallEntry Hit(RegistryRoot root, const std::string& path) {
  UninstallEntry entry;
  entry.root = root;
  entry.registry_path = path;
  return entry;
}

TEST(RunDeadline, TheWorkDecidesHowLongARunMayTake) {
  const UninstallEntry machine = Hit(RegistryRoot::kLocalMachine, "SOFTWARE\\A");
  const UninstallEntry bob1 = Hit(RegistryRoot::kUsers, "S-1-5-21-1-1001\\SOFTWARE\\B");
  const UninstallEntry bob2 = Hit(RegistryRoot::kUsers, "S-1-5-21-1-1001\\SOFTWARE\\C");
  const UninstallEntry eve = Hit(RegistryRoot::kUsers, "S-1-5-21-1-1002\\SOFTWARE\\D");
  const UninstallEntry mine = Hit(RegistryRoot::kCurrentUser, "SOFTWARE\\E");
  struct Case {
    const char* what;
    std::vector<UninstallEntry> hits;
    bool local_system;
    unsigned long long minutes;
  };
  const Case cases[] = {
      {"nothing to do: the run's own end", {}, true, 15},
      {"one machine-wide row", {machine}, true, 85},
      {"three machine-wide rows", {machine, machine, machine}, true, 225},
      {"one user's rows share the user's time", {bob1, bob2}, true, 55},
      {"two users", {bob1, bob2, eve, machine}, true, 165},
      {"a run outside LocalSystem: every row has its own time-outs", {bob1, bob2, mine}, false, 225},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(WorkDeadlineMs(WorkOf(c.hits, c.local_system)), c.minutes * 60000);
  }
}

}  // namespace
}  // namespace varnok
