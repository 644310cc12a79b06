#include "support/host/log_capture.h"

#include <utility>

#include "log/log_format.h"

namespace varnok {
namespace {

// Windows-1252, as a Western machine's ANSI code page converts: what the host tests' log is
// written in, so that the escapes of characters outside it can be seen.
class Windows1252 : public LogCodePage {
 public:
  std::string Encode(char32_t c) override {
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return std::string(1, static_cast<char>(c));
    for (unsigned i = 0; i < 32; ++i) {
      if (kHigh[i] == c) return std::string(1, static_cast<char>(0x80 + i));
    }
    return std::string();
  }

 private:
  // 0x80 to 0x9F; the five bytes 1252 leaves undefined convert to the control of the same value.
  static constexpr char32_t kHigh[32] = {
      0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
      0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
      0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
};

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
LogCodePage& CodePage() {
  static Windows1252 code_page;
  return code_page;
}
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
