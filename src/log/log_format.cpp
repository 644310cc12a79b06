#include "log/log_format.h"

#include <cstdio>

#include "common/strings.h"

namespace varnok {

const char* LogLevelWord(LogLevel level) { return level == LogLevel::kError ? "ERROR" : "INFO"; }

std::string EscapeLineBreaks(std::string_view message) {
  std::string out;
  out.reserve(message.size());
  for (char c : message) {
    if (c == '\r') {
      out += "\\r";
    } else if (c == '\n') {
      out += "\\n";
    } else {
      out += c;
    }
  }
  return out;
}

std::string FormatLogDate(int year, int month, int day) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d", year, month, day);
  return buffer;
}

std::string FormatLogTime(int hour, int minute, int second, int millisecond) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%02d:%02d:%02d:%03d", hour, minute, second, millisecond);
  return buffer;
}

std::string FormatTimestampText(std::string_view date, std::string_view time) {
  std::string out = "[ ";
  out.append(date).append(" ").append(time).append(" ]");
  return out;
}

std::string FormatThreadText(unsigned long thread_id) {
  return "[ " + std::to_string(thread_id) + " ]";
}

std::string FormatLogLine(std::string_view timestamp_text, std::string_view thread_text,
                          LogLevel level, std::string_view message) {
  std::string line;
  line.reserve(timestamp_text.size() + thread_text.size() + message.size() + 12);
  line.append(timestamp_text).append(thread_text).append(" [ ");
  line.append(LogLevelWord(level)).append(" ] ").append(message);
  return line;
}

std::string NormalizeLogPath(std::string_view path) {
  std::string out;
  for (const std::string& piece : SplitAny(path, "\\/")) {
    if (!out.empty()) out += '\\';
    out += piece;
  }
  if (out.find('\\') == std::string::npos) out += '\\';
  return out;
}

std::string ResolveLogPath(std::string_view install_dir, std::string_view file_name) {
  std::string path = install_dir.empty() ? std::string(".\\") : std::string(install_dir);
  path += "\\logs\\";
  if (file_name.empty()) {
    path += kLogFileName;
  } else {
    path.append("\\").append(file_name);
  }
  return NormalizeLogPath(path);
}

std::string LogBackupPath(std::string_view active_path, int n) {
  std::string path = RemoveExtension(active_path);
  if (n > 0) path += std::to_string(n);
  return path + "." + GetExtension(active_path);
}

bool RotationCounter::NextLineChecksSize() {
  const bool was_zero = count_ == 0;
  if (++count_ >= kLogSizeCheckInterval) count_ = 0;
  return was_zero;
}

}  // namespace varnok
