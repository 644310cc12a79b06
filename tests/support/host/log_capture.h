// Host tests' log backend: every line goes to memory instead of the agent's file.
#pragma once

#include <string>
#include <vector>

#include "log/log.h"

namespace varnok::testing {

struct CapturedLine {
  LogLevel level;
  std::string message;
  bool operator==(const CapturedLine& other) const {
    return level == other.level && message == other.message;
  }
};

// Returns the lines written since the last call and forgets them.
std::vector<CapturedLine> TakeLogLines();
std::string LastLogFileName();

}  // namespace varnok::testing
