// Logged values are registry data and command lines that anyone can write: one record must stay
// one bounded physical line without control bytes whatever they hold, the log's path must stay
// well-formed and absolute whatever the agent's install directory holds, and rotation must keep
// the file within its bound.
//
// Input layout (see make_seeds.py): from the end, a flags byte (bit 0 ERROR level, bits 1-4 how
// many times the message is doubled when bits 5-7 are all set; 15 lets it reach a megabyte),
// year (int16), month, day, hour, minute, second (int8 each), millisecond (int16), thread id
// (uint32), rotation calls (uint16), line-size seed (uint32); from the start, the texts message, install_dir, file_name
// and path, each ended by a backslash and one more byte.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "log/log.h"
#include "log/log_format.h"

namespace varnok::fuzz {
namespace {

constexpr size_t kMaxText = 2048;
constexpr size_t kWindow = 4096;
constexpr size_t kLongMessage = 16u << 10;
constexpr size_t kMaxMessage = 1u << 20;

// One character of UTF-8 (an unpaired surrogate in its three-byte form included) at `at`, decoded
// apart from the product: its code point and length, or 0 for a byte that starts none.
size_t DecodeAt(std::string_view text, size_t at, char32_t* code) {
  const unsigned char lead = static_cast<unsigned char>(text[at]);
  const size_t length = lead >= 0xF0 && lead <= 0xF4 ? 4 : lead >= 0xE0 && lead <= 0xEF ? 3
                        : lead >= 0xC2 && lead <= 0xDF                            ? 2
                                                                                  : 0;
  if (length == 0 || at + length > text.size()) return 0;
  char32_t value = lead & (0x7F >> length);
  for (size_t i = 1; i < length; ++i) {
    const unsigned char next = static_cast<unsigned char>(text[at + i]);
    if ((next & 0xC0) != 0x80) return 0;
    value = value << 6 | (next & 0x3F);
  }
  const char32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
  if (value < least[length] || value > 0x10FFFF) return 0;
  *code = value;
  return length;
}

// How one character at `at` is written, and how many bytes it takes: CR and LF as \r and \n,
// other control bytes (but tab), DEL and bytes that are not UTF-8 as \xNN in capitals; U+0085,
// U+2028, U+2029 and characters the code page cannot hold as \u{XXXX}; the rest in the code page.
std::string ExpectOne(std::string_view text, size_t at, size_t* taken) {
  static const char kHex[] = "0123456789ABCDEF";
  const unsigned char b = static_cast<unsigned char>(text[at]);
  *taken = 1;
  if (b == '\r') return "\\r";
  if (b == '\n') return "\\n";
  if ((b < 0x20 && b != '\t') || b == 0x7F) return {'\\', 'x', kHex[b >> 4], kHex[b & 15]};
  if (b < 0x80) return std::string(1, static_cast<char>(b));
  char32_t code = 0;
  const size_t length = DecodeAt(text, at, &code);
  if (length == 0) return {'\\', 'x', kHex[b >> 4], kHex[b & 15]};
  *taken = length;
  const std::string in_code_page =
      code == 0x85 || code == 0x2028 || code == 0x2029 ? "" : log_internal::CodePage().Encode(code);
  if (!in_code_page.empty()) return in_code_page;
  char escape[16];
  std::snprintf(escape, sizeof escape, "\\u{%04X}", static_cast<unsigned>(code));
  return escape;
}

std::string ExpectEscaped(std::string_view text) {
  std::string out;
  for (size_t at = 0, taken = 0; at < text.size(); at += taken) out += ExpectOne(text, at, &taken);
  return out;
}

// A value as the log writes it, cut when it takes more than 16 KiB (ASCII counting one byte each,
// as it always has; anything else its written bytes), with the length it takes in all.
std::string ExpectCut(std::string_view text) {
  size_t counted = 0;
  size_t end = std::string_view::npos;
  for (size_t at = 0, taken = 0; at < text.size(); at += taken) {
    char32_t code = 0;
    taken = static_cast<unsigned char>(text[at]) < 0x80 ? 1 : DecodeAt(text, at, &code);
    size_t width = 1;
    if (taken == 0) {
      taken = 1, width = 4;  // \xNN
    } else if (taken > 1) {
      const size_t escape = code > 0xFFFFF ? 10 : code > 0xFFFF ? 9 : 8;  // \u{XXXX}
      const bool breaks = code == 0x85 || code == 0x2028 || code == 0x2029;
      const size_t encoded = breaks ? 0 : log_internal::CodePage().Encode(code).size();
      width = encoded == 0 ? escape : encoded;
    }
    if (counted + width > 16384 && end == std::string_view::npos) end = at;
    counted += width;
  }
  if (end == std::string_view::npos) return ExpectEscaped(text);
  return ExpectEscaped(text.substr(0, end)) + "...[cut: " + std::to_string(counted) +
         " bytes in all]";
}

// What a log reader makes of an escaped line.
std::string Unescape(std::string_view escaped) {
  std::string out;
  for (size_t i = 0; i < escaped.size(); ++i) {
    if (escaped[i] == '\\' && i + 1 < escaped.size() &&
        (escaped[i + 1] == 'r' || escaped[i + 1] == 'n')) {
      out += escaped[i + 1] == 'r' ? '\r' : '\n';
      ++i;
    } else if (escaped[i] == '\\' && i + 3 < escaped.size() && escaped[i + 1] == 'x') {
      out += static_cast<char>(std::stoi(std::string(escaped.substr(i + 2, 2)), nullptr, 16));
      i += 3;
    } else {
      out += escaped[i];
    }
  }
  return out;
}

bool HasControl(std::string_view text) {
  for (char c : text) {
    const unsigned char b = static_cast<unsigned char>(c);
    if ((b < 0x20 && c != '\t') || b == 0x7F) return true;
  }
  return false;
}

bool IsPlainAscii(std::string_view text) {
  for (char c : text) {
    const unsigned char b = static_cast<unsigned char>(c);
    if (b >= 0x80 || (b < 0x20 && c != '\t') || b == 0x7F) return false;
  }
  return true;
}

void CheckEscape(const std::string& message) {
  const std::string escaped = EscapeLogText(message);
  FUZZ_CHECK_MSG(escaped == ExpectEscaped(message), Show(escaped));
  FUZZ_CHECK_MSG(!HasControl(escaped), Show(escaped));
  // A literal "\r", "\n" or "\x" in ASCII data reads back as an escape: the escape is lossless
  // only for data without those sequences.
  if (IsPlainAscii(message) && message.find("\\r") == std::string::npos &&
      message.find("\\n") == std::string::npos && message.find("\\x") == std::string::npos) {
    FUZZ_CHECK_MSG(Unescape(escaped) == message, Show(message));
  }
  if (IsPlainAscii(message)) FUZZ_CHECK(escaped == message);
}

void CheckFrame(const std::string& message, LogLevel level, int year, int month, int day, int hour,
                int minute, int second, int millisecond, unsigned long thread_id) {
  const std::string date = FormatLogDate(year, month, day);
  const std::string time = FormatLogTime(hour, minute, second, millisecond);
  if (year >= 0 && year <= 9999 && month >= 0 && month <= 99 && day >= 0 && day <= 99) {
    FUZZ_CHECK_MSG(date.size() == 10, Show(date));
  }
  if (hour >= 0 && hour <= 99 && minute >= 0 && minute <= 99 && second >= 0 && second <= 99 &&
      millisecond >= 0 && millisecond <= 999) {
    FUZZ_CHECK_MSG(time.size() == 12, Show(time));
  }
  const std::string timestamp = FormatTimestampText(date, time);
  const std::string thread = FormatThreadText(thread_id);
  const std::string escaped = EscapeLogText(message);
  const std::string line = FormatLogLine(timestamp, thread, level, escaped);
  FUZZ_CHECK_MSG(!HasControl(line), Show(line));
  FUZZ_CHECK_MSG(StartsWith(line, timestamp + thread), Show(line));
  FUZZ_CHECK_MSG(EndsWith(line, std::string(" [ ") + LogLevelWord(level) + " ] " + escaped),
                 Show(line));
}

void CheckLogCall(const std::string& message, LogLevel level) {
  testing::TakeLogLines();
  if (level == LogLevel::kError) {
    LogError("%s", message.c_str());
  } else {
    LogInfo("%s", message.c_str());
  }
  const std::vector<testing::CapturedLine> lines = testing::TakeLogLines();
  const std::string seen = CutAtNul(message);
  if (seen.empty()) {
    FUZZ_CHECK(lines.empty());
    return;
  }
  FUZZ_CHECK_MSG(lines.size() == 1, std::to_string(lines.size()));
  FUZZ_CHECK(lines[0].level == level);
  // A value longer than 16 KiB is written cut, with its full length: a record stays bounded.
  const std::string expected = ExpectCut(seen);
  FUZZ_CHECK_MSG(lines[0].message == expected, Show(lines[0].message));
}

std::string WithoutSeparators(std::string_view path) {
  std::string out;
  for (char c : path) {
    if (c != '\\' && c != '/') out += c;
  }
  return out;
}

bool IsShare(std::string_view path) {
  return path.size() >= 2 && (path[0] == '\\' || path[0] == '/') &&
         (path[1] == '\\' || path[1] == '/');
}

void CheckPath(const std::string& path) {
  const std::string normalized = NormalizeLogPath(path);
  // A share keeps its leading "\\"; no other doubled separator survives.
  FUZZ_CHECK_MSG(StartsWith(normalized, "\\\\") == IsShare(path), Show(normalized));
  FUZZ_CHECK_MSG(normalized.find("\\\\", IsShare(path) ? 2 : 0) == std::string::npos,
                 Show(normalized));
  FUZZ_CHECK_MSG(normalized.find('/') == std::string::npos, Show(normalized));
  FUZZ_CHECK_MSG(normalized.find('\\') != std::string::npos, Show(normalized));
  // Only separators may change: a dropped or invented path byte would log somewhere else.
  FUZZ_CHECK_MSG(WithoutSeparators(normalized) == WithoutSeparators(path), Show(normalized));
  FUZZ_CHECK_MSG(NormalizeLogPath(normalized) == normalized, Show(normalized));
}

void CheckResolve(const std::string& install_dir, const std::string& file_name) {
  const std::string current = "C:\\Work Dir";
  const std::string resolved = ResolveLogPath(install_dir, file_name, current);
  FUZZ_CHECK_MSG(resolved.find('/') == std::string::npos, Show(resolved));
  // Never relative: below the install directory, or below the current one when there is none.
  const std::string base = install_dir.empty() ? current : install_dir;
  FUZZ_CHECK_MSG(WithoutSeparators(resolved).rfind(WithoutSeparators(base), 0) == 0, Show(resolved));
  FUZZ_CHECK_MSG(StartsWith(resolved, "\\\\") == IsShare(base), Show(resolved));
  if (file_name.find_first_of("\\/") == std::string::npos) {
    const std::string leaf = file_name.empty() ? std::string(kLogFileName) : file_name;
    FUZZ_CHECK_MSG(EndsWith(resolved, "logs\\" + leaf), Show(resolved));
  }
  const std::string active = ResolveLogPath(install_dir, "", current);
  FUZZ_CHECK_MSG(LogBackupPath(active, 0) == active, Show(active));
  const std::string stem = active.substr(0, active.size() - 4);
  for (int n = 1; n <= kLogBackupCount; ++n) {
    FUZZ_CHECK_MSG(LogBackupPath(active, n) == stem + std::to_string(n) + ".log",
                   Show(LogBackupPath(active, n)));
  }
}

// Lines of the given sizes written by one process that follows the tracker: the file never holds
// more than 3 MiB plus one line, and its real size is read at least every 64 KiB or 500 lines.
void CheckRotation(const std::vector<size_t>& line_sizes) {
  LogSizeTracker tracker;
  long long file = 0;
  long long since_read = 0;
  int lines_since_read = 0;
  for (size_t size : line_sizes) {
    if (tracker.SizeReadDue()) {
      tracker.Reset(file);
      since_read = 0;
      lines_since_read = 0;
    }
    if (tracker.RotationDue()) {
      file = 0;
      tracker.Reset(0);
    }
    FUZZ_CHECK_MSG(since_read < 65536 && lines_since_read < 500,
                   std::to_string(since_read) + " bytes, " + std::to_string(lines_since_read) + " lines");
    file += static_cast<long long>(size);
    since_read += static_cast<long long>(size);
    ++lines_since_read;
    tracker.Wrote(size);
    FUZZ_CHECK_MSG(file < 3145728 + static_cast<long long>(size), std::to_string(file));
  }
}

}  // namespace
}  // namespace varnok::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace varnok;
  FuzzedDataProvider input(data, size);
  const uint8_t flags = input.ConsumeIntegral<uint8_t>();
  const int year = input.ConsumeIntegral<int16_t>();
  const int month = input.ConsumeIntegral<int8_t>();
  const int day = input.ConsumeIntegral<int8_t>();
  const int hour = input.ConsumeIntegral<int8_t>();
  const int minute = input.ConsumeIntegral<int8_t>();
  const int second = input.ConsumeIntegral<int8_t>();
  const int millisecond = input.ConsumeIntegral<int16_t>();
  const unsigned long thread_id = input.ConsumeIntegral<uint32_t>();
  const int rotation_calls = input.ConsumeIntegral<uint16_t>() % 1201;
  const uint32_t size_seed = input.ConsumeIntegral<uint32_t>();
  std::string message = input.ConsumeRandomLengthString(fuzz::kMaxText);
  const std::string install_dir = input.ConsumeRandomLengthString(fuzz::kMaxText);
  const std::string file_name = input.ConsumeRandomLengthString(fuzz::kMaxText);
  const std::string path = input.ConsumeRandomLengthString(fuzz::kMaxText);

  const LogLevel level = (flags & 1) ? LogLevel::kError : LogLevel::kInfo;
  // Doubling reaches the megabyte-long values a hostile registry row can hold. Only one flags
  // value in 128 grows past 16 KiB, and without a branch of its own: a new branch would count as
  // new coverage and fill the corpus with megabyte inputs, each far slower than the short ones.
  const int doublings = (flags & 0xE0) == 0xE0 ? (flags >> 1) & 15 : 0;
  const size_t limit = fuzz::kLongMessage << (6 * static_cast<int>(doublings == 15));
  static_assert((fuzz::kLongMessage << 6) == fuzz::kMaxMessage);
  for (int i = 0; i < doublings && !message.empty(); ++i) {
    if (message.size() * 2 > limit) break;
    message += message;
  }

  // Escaping and framing work byte by byte and a long message repeats itself, so its start is
  // enough for those checks; the whole message goes through the log call.
  fuzz::CheckEscape(message.substr(0, fuzz::kWindow));
  fuzz::CheckFrame(message.substr(0, fuzz::kWindow), level, year, month, day, hour, minute, second,
                   millisecond, thread_id);
  fuzz::CheckLogCall(message, level);
  fuzz::CheckPath(path);
  fuzz::CheckPath(install_dir);
  fuzz::CheckResolve(install_dir, file_name);
  // Line sizes from a small generator, to reach 3 MiB in a few hundred lines now and then.
  std::vector<size_t> line_sizes;
  uint32_t state = size_seed | 1;
  for (int i = 0; i < rotation_calls; ++i) {
    state = state * 1664525u + 1013904223u;
    line_sizes.push_back((state >> 8) % ((size_seed & 1) ? 70000 : 300) + 1);
  }
  fuzz::CheckRotation(line_sizes);
  return 0;
}
