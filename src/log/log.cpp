#include "log/log.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

#include "log/log_format.h"

namespace varnok {
namespace {

void LogV(LogLevel level, const char* format, va_list args) {
  va_list measure;
  va_copy(measure, args);
  const int length = std::vsnprintf(nullptr, 0, format, measure);
  va_end(measure);
  if (length < 0) return;
  std::vector<char> buffer(static_cast<size_t>(length) + 1, '\0');
  if (std::vsnprintf(buffer.data(), buffer.size(), format, args) < 0) return;
  log_internal::WriteLine(level, EscapeLineBreaks(std::string_view(buffer.data(), length)));
}

}  // namespace

void SetLogFileName(std::string_view name) { log_internal::SetFileName(name); }

void LogInfo(const char* format, ...) {
  va_list args;
  va_start(args, format);
  LogV(LogLevel::kInfo, format, args);
  va_end(args);
}

void LogError(const char* format, ...) {
  va_list args;
  va_start(args, format);
  LogV(LogLevel::kError, format, args);
  va_end(args);
}

}  // namespace varnok
