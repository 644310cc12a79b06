// Shared pieces of the fuzz targets: invariant checks that abort with a readable message, and the
// captured log lines of one input.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "log/log.h"
#include "support/host/log_capture.h"

namespace varnok::fuzz {

// Non-printable bytes as \xNN and long texts cut, so that a failure message stays one readable
// line even when the input is binary or a megabyte long.
inline std::string Show(std::string_view text) {
  constexpr size_t kShown = 200;
  std::string out = "\"";
  for (size_t i = 0; i < text.size() && i < kShown; ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c >= 0x20 && c < 0x7F && c != '\\' && c != '"') {
      out += static_cast<char>(c);
    } else {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
      out += escaped;
    }
  }
  out += "\"";
  if (text.size() > kShown) out += "... (" + std::to_string(text.size()) + " bytes)";
  return out;
}

// abort() rather than a return value: libFuzzer keeps the input as a crash artifact only when
// the target dies.
[[noreturn]] inline void FailCheck(const char* file, int line, const char* condition,
                                   const std::string& detail) {
  std::fprintf(stderr, "\n%s:%d: invariant broken: %s\n", file, line, condition);
  if (!detail.empty()) std::fprintf(stderr, "  %s\n", detail.c_str());
  std::fflush(stderr);
  std::abort();
}

#define FUZZ_CHECK(condition) FUZZ_CHECK_MSG(condition, std::string())
#define FUZZ_CHECK_MSG(condition, detail)                                                  \
  do {                                                                                     \
    if (!(condition)) ::varnok::fuzz::FailCheck(__FILE__, __LINE__, #condition, (detail)); \
  } while (0)

inline bool HasLineBreak(std::string_view text) {
  return text.find('\r') != std::string_view::npos || text.find('\n') != std::string_view::npos;
}

inline bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

inline bool EndsWith(std::string_view text, std::string_view suffix) {
  return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

inline size_t CountLevel(const std::vector<testing::CapturedLine>& lines, LogLevel level) {
  size_t count = 0;
  for (const testing::CapturedLine& line : lines) count += line.level == level ? 1 : 0;
  return count;
}

// The C-string view of a text: what a %s argument or a Win32 API would see of it.
inline std::string CutAtNul(const std::string& text) { return std::string(text.c_str()); }

}  // namespace varnok::fuzz
