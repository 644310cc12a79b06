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

// The scope of the row this thread is working for, if any (see LogOwnerScope).
thread_local LogOwnerScope* current_owner_scope = nullptr;

void LogV(LogLevel level, const char* format, va_list args) {
  va_list copy;
  va_copy(copy, args);
  const std::string message = FormatMessage(format, &copy);
  va_end(copy);
  const std::string escaped = EscapeLogText(message);
  if (escaped.empty() || !log_internal::AdmitLine(escaped.size())) return;
  log_internal::WriteLine(level, escaped);
}

}  // namespace

namespace log_internal {
bool AdmitLine(size_t bytes) {
  return current_owner_scope == nullptr || current_owner_scope->Admit(bytes);
}
}  // namespace log_internal

LogOwnerScope::LogOwnerScope(LogOwnerBudgets& budgets, const std::string& owner)
    : bytes_per_owner_(budgets.bytes_per_owner_),
      owner_(budgets.owners_[owner]),
      outer_(current_owner_scope) {
  current_owner_scope = this;
}

LogOwnerScope::~LogOwnerScope() { current_owner_scope = outer_; }

bool LogOwnerScope::Admit(size_t bytes) {
  const size_t cost = bytes + kLogFrameBytes;
  if (!owner_.spent && cost <= bytes_per_owner_ - owner_.bytes) {
    owner_.bytes += cost;
    return true;
  }
  owner_.spent = true;
  ++owner_.lines_not_written;
  if (!summarised_) ++owner_.rows_summarised;
  summarised_ = true;
  return false;
}

void LogOwnerBudgets::LogSummaries() {
  for (auto& [name, owner] : owners_) {
    if (!owner.spent || owner.reported) continue;
    owner.reported = true;
    LogError("operation : app_varnok; remarks : \"Lines of this owner's per-user rows not "
             "written: they passed the %zu bytes that one owner's rows may write in a run.\"; "
             "owner : \"%s\"; rows_summarised : %d; lines_not_written : %ld;",
             bytes_per_owner_, name.c_str(), owner.rows_summarised, owner.lines_not_written);
  }
}

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
