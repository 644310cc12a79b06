#include "run/run_deadline.h"

#include <set>
#include <string>

namespace varnok {

RunWork WorkOf(const std::vector<UninstallEntry>& hits, bool local_system) {
  RunWork work;
  std::set<std::string> owners;
  for (const UninstallEntry& entry : hits) {
    if (local_system && IsPerUserRoot(entry.root)) {
      owners.insert(entry.root == RegistryRoot::kUsers ? OwnerSidOf(entry) : "HKCU");
    } else {
      ++work.rows;
    }
  }
  work.owners = static_cast<int>(owners.size());
  return work;
}

unsigned long long WorkDeadlineMs(const RunWork& work) {
  return static_cast<unsigned long long>(work.rows) * kRowDeadlineMs +
         static_cast<unsigned long long>(work.owners) * kOwnerDeadlineMs + kRunOverheadDeadlineMs;
}

}  // namespace varnok
