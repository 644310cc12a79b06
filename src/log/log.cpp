#include "log/log.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "log/log_format.h"

namespace varnok {
namespace {

// One printf conversion, written with the C library; values of %s are cut first (CutLogValue), so
// that no single registry value can make a record of megabytes.
void AppendConversion(std::string* out, const std::string& spec, char conversion,
                      const std::string& length, va_list* args) {
  char buffer[128];
  int written = 0;
  switch (conversion) {
    case 's': {
      const char* value = va_arg(*args, const char*);
      const std::string cut = CutLogValue(value ? value : "(null)");
      if (spec == "%s") {
        *out += cut;
        return;
      }
      const int size = std::snprintf(nullptr, 0, spec.c_str(), cut.c_str());
      if (size < 0) return;
      std::string formatted(static_cast<size_t>(size) + 1, '\0');
      std::snprintf(formatted.data(), formatted.size(), spec.c_str(), cut.c_str());
      formatted.resize(static_cast<size_t>(size));
      *out += formatted;
      return;
    }
    case 'd':
    case 'i':
      if (length == "ll") {
        written = std::snprintf(buffer, sizeof buffer, spec.c_str(), va_arg(*args, long long));
      } else if (length == "l") {
        written = std::snprintf(buffer, sizeof buffer, spec.c_str(), va_arg(*args, long));
      } else if (length == "z") {
        written = std::snprintf(buffer, sizeof buffer, spec.c_str(), va_arg(*args, size_t));
      } else {
        written = std::snprintf(buffer, sizeof buffer, spec.c_str(), va_arg(*args, int));
      }
      break;
    case 'u':
    case 'x':
    case 'X':
    case 'o':
      if (length == "ll") {
        written =
            std::snprintf(buffer, sizeof buffer, spec.c_str(), va_arg(*args, unsigned long long));
      } else if (length == "l") {
        written = std::snprintf(buffer, sizeof buffer, spec.c_str(), va_arg(*args, unsigned long));
      } else if (length == "z") {
        written = std::snprintf(buffer, sizeof buffer, spec.c_str(), va_arg(*args, size_t));
      } else {
        written = std::snprintf(buffer, sizeof buffer, spec.c_str(), va_arg(*args, unsigned));
      }
      break;
    case 'c':
      written = std::snprintf(buffer, sizeof buffer, spec.c_str(), va_arg(*args, int));
      break;
    case 'p':
      written = std::snprintf(buffer, sizeof buffer, spec.c_str(), va_arg(*args, void*));
      break;
    default:  // floating point: never used in a log line, formatted all the same
      written = std::snprintf(buffer, sizeof buffer, spec.c_str(), va_arg(*args, double));
      break;
  }
  if (written > 0) out->append(buffer, std::min(static_cast<size_t>(written), sizeof buffer - 1));
}

std::string FormatMessage(const char* format, va_list* args) {
  std::string out;
  for (const char* p = format; *p != '\0'; ++p) {
    if (*p != '%') {
      out += *p;
      continue;
    }
    if (p[1] == '%') {
      out += '%';
      ++p;
      continue;
    }
    std::string spec = "%";
    ++p;
    while (*p != '\0' && std::strchr("-+ #0", *p)) spec += *p++;
    while (*p >= '0' && *p <= '9') spec += *p++;
    if (*p == '.') {
      spec += *p++;
      while (*p >= '0' && *p <= '9') spec += *p++;
    }
    std::string length;
    while (*p != '\0' && std::strchr("hlLzjt", *p)) length += *p++;
    if (*p == '\0') break;  // a format cut short: nothing more to take
    spec += length;
    spec += *p;
    AppendConversion(&out, spec, *p, length, args);
  }
  return out;
}

void LogV(LogLevel level, const char* format, va_list args) {
  va_list copy;
  va_copy(copy, args);
  const std::string message = FormatMessage(format, &copy);
  va_end(copy);
  log_internal::WriteLine(level, EscapeLogText(message));
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
