#include "log/log_format.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "common/strings.h"
#include "common/utf8.h"

namespace varnok {

const char* LogLevelWord(LogLevel level) { return level == LogLevel::kError ? "ERROR" : "INFO"; }

namespace {

std::string ByteEscape(unsigned char byte) {
  char escaped[8];
  std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
  return escaped;
}

std::string CodePointEscape(char32_t c) {
  char escaped[16];
  std::snprintf(escaped, sizeof escaped, "\\u{%04X}", static_cast<unsigned>(c));
  return escaped;
}

// Characters that some readers take for the end of a line, whatever the code page.
bool IsLineBreak(char32_t c) { return c == 0x85 || c == 0x2028 || c == 0x2029; }

// How one character of `text` at `at` is written, and how many bytes of `text` it takes.
std::string WrittenAs(std::string_view text, size_t at, LogCodePage& code_page, size_t* taken) {
  const unsigned char byte = static_cast<unsigned char>(text[at]);
  *taken = 1;
  if (byte == '\r') return "\\r";
  if (byte == '\n') return "\\n";
  if ((byte < 0x20 && byte != '\t') || byte == 0x7F) return ByteEscape(byte);
  if (byte < 0x80) return std::string(1, static_cast<char>(byte));
  const CodePoint point = DecodeCodePoint(text, at);
  if (!point.valid) return ByteEscape(byte);
  *taken = point.length;
  if (IsLineBreak(point.value)) return CodePointEscape(point.value);
  std::string encoded = code_page.Encode(point.value);
  return encoded.empty() ? CodePointEscape(point.value) : encoded;
}

// The length of WrittenAs, without writing it.
size_t WrittenWidth(std::string_view text, size_t at, LogCodePage& code_page, size_t* taken) {
  const unsigned char byte = static_cast<unsigned char>(text[at]);
  *taken = 1;
  if (byte < 0x80) return 1;  // as it always has counted, control characters included
  const CodePoint point = DecodeCodePoint(text, at);
  if (!point.valid) return 4;  // \xNN
  *taken = point.length;
  const size_t escape = 4 + (point.value > 0xFFFFF ? 6 : point.value > 0xFFFF ? 5 : 4);
  if (IsLineBreak(point.value)) return escape;
  const size_t encoded = code_page.Encode(point.value).size();
  return encoded == 0 ? escape : encoded;
}

}  // namespace

std::string EscapeLogText(std::string_view message, LogCodePage& code_page) {
  std::string out;
  out.reserve(message.size());
  for (size_t at = 0; at < message.size();) {
    // Printable ASCII is the same in every code page the log is written in.
    const unsigned char byte = static_cast<unsigned char>(message[at]);
    if (byte >= 0x20 && byte < 0x7F) {
      out += static_cast<char>(byte);
      ++at;
      continue;
    }
    size_t taken = 1;
    out += WrittenAs(message, at, code_page, &taken);
    at += taken;
  }
  return out;
}

std::string EscapeLogText(std::string_view message) {
  return EscapeLogText(message, log_internal::CodePage());
}

// True when every byte is ASCII; eight at a time, as values of megabytes are common.
bool IsAscii(std::string_view text) {
  size_t at = 0;
  for (; at + 8 <= text.size(); at += 8) {
    uint64_t word = 0;
    std::memcpy(&word, text.data() + at, 8);
    if (word & 0x8080808080808080ULL) return false;
  }
  for (; at < text.size(); ++at) {
    if (static_cast<unsigned char>(text[at]) >= 0x80) return false;
  }
  return true;
}

std::string CutLogValue(std::string_view value, LogCodePage& code_page) {
  // A character's escape takes at most four times its UTF-8 bytes.
  if (value.size() * 4 <= kLogValueLimit) return std::string(value);
  if (IsAscii(value)) {  // one byte each, as written
    if (value.size() <= kLogValueLimit) return std::string(value);
    return std::string(value.substr(0, kLogValueLimit)) + "...[cut: " +
           std::to_string(value.size()) + " bytes in all]";
  }
  size_t counted = 0;
  size_t end = std::string_view::npos;
  for (size_t at = 0; at < value.size();) {
    size_t taken = 1;
    const size_t weight = WrittenWidth(value, at, code_page, &taken);
    if (counted + weight > kLogValueLimit && end == std::string_view::npos) end = at;
    counted += weight;
    at += taken;
  }
  if (end == std::string_view::npos) return std::string(value);
  std::string out(value.substr(0, end));
  out += "...[cut: " + std::to_string(counted) + " bytes in all]";
  return out;
}

std::string CutLogValue(std::string_view value) {
  return CutLogValue(value, log_internal::CodePage());
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

namespace {

bool BeginsAsShare(std::string_view path) {
  return path.size() >= 2 && (path[0] == '\\' || path[0] == '/') &&
         (path[1] == '\\' || path[1] == '/');
}

// The pieces between separators joined by single backslashes, after "\\" for a share.
std::string JoinPieces(std::string_view path, bool share) {
  std::string out = share ? "\\\\" : "";
  bool first = true;
  for (const std::string& piece : SplitAny(path, "\\/")) {
    if (!first) out += '\\';
    out += piece;
    first = false;
  }
  if (out.find('\\', share ? 2 : 0) == std::string::npos) out += '\\';
  return out;
}

}  // namespace

std::string NormalizeLogPath(std::string_view path) { return JoinPieces(path, BeginsAsShare(path)); }

std::string ResolveLogPath(std::string_view install_dir, std::string_view file_name,
                           std::string_view current_directory) {
  const std::string_view directory = install_dir.empty() ? current_directory : install_dir;
  std::string path(directory);
  path += "\\logs\\";
  if (file_name.empty()) {
    path += kLogFileName;
  } else {
    path.append("\\").append(file_name);
  }
  // Only the directory itself can name a share; separators added after it never do.
  return JoinPieces(path, BeginsAsShare(directory));
}

std::string LogBackupPath(std::string_view active_path, int n) {
  std::string path = RemoveExtension(active_path);
  if (n > 0) path += std::to_string(n);
  return path + "." + GetExtension(active_path);
}

bool LogSizeTracker::SizeReadDue() const {
  return !known_ || bytes_since_read_ >= kLogSizeCheckBytes ||
         lines_since_read_ >= kLogSizeCheckInterval || RotationDue();
}

void LogSizeTracker::Reset(long long size) {
  known_ = true;
  size_ = size < 0 ? 0 : size;
  bytes_since_read_ = 0;
  lines_since_read_ = 0;
}

void LogSizeTracker::Wrote(size_t bytes) {
  size_ += static_cast<long long>(bytes);
  bytes_since_read_ += static_cast<long long>(bytes);
  ++lines_since_read_;
}

}  // namespace varnok
