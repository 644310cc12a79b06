#include "support/host/log_capture.h"

#include <utility>

namespace varnok {
namespace {
std::vector<testing::CapturedLine>& Lines() {
  static std::vector<testing::CapturedLine> lines;
  return lines;
}
std::string& FileName() {
  static std::string name;
  return name;
}
}  // namespace

namespace log_internal {
void SetFileName(std::string_view name) { FileName().assign(name); }
// Empty messages are dropped, as the file backend drops them.
void WriteLine(LogLevel level, std::string_view message) {
  if (!message.empty()) Lines().push_back({level, std::string(message)});
}
}  // namespace log_internal

namespace testing {
std::vector<CapturedLine> TakeLogLines() { return std::exchange(Lines(), {}); }
std::string LastLogFileName() { return FileName(); }
}  // namespace testing

}  // namespace varnok
