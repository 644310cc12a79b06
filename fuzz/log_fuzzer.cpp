// Logged values are registry data and command lines that anyone can write: one record must stay
// one physical line whatever they hold, and the log's path must stay well-formed whatever the
// agent's install directory holds.
//
// Input layout (see make_seeds.py): from the end, a flags byte (bit 0 ERROR level, bits 1-4 how
// many times the message is doubled when bits 5-7 are all set; 15 lets it reach a megabyte),
// year (int16), month, day, hour, minute, second (int8 each), millisecond (int16), thread id
// (uint32), rotation calls (uint16); from the start, the texts message, install_dir, file_name
// and path, each ended by a backslash and one more byte.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <string>

#include "fuzz_check.h"
#include "log/log.h"
#include "log/log_format.h"

namespace varnok::fuzz {
namespace {

constexpr size_t kMaxText = 2048;
constexpr size_t kWindow = 4096;
constexpr size_t kLongMessage = 16u << 10;
constexpr size_t kMaxMessage = 1u << 20;

// The reverse of EscapeLineBreaks: what a log reader makes of a line.
std::string Unescape(std::string_view escaped) {
  std::string out;
  for (size_t i = 0; i < escaped.size(); ++i) {
    if (escaped[i] == '\\' && i + 1 < escaped.size() &&
        (escaped[i + 1] == 'r' || escaped[i + 1] == 'n')) {
      out += escaped[i + 1] == 'r' ? '\r' : '\n';
      ++i;
    } else {
      out += escaped[i];
    }
  }
  return out;
}

// Through find (memchr), not a comparison per byte: a message may be a megabyte long.
size_t Count(std::string_view text, char c) {
  size_t count = 0;
  for (size_t at = text.find(c); at != std::string_view::npos; at = text.find(c, at + 1)) ++count;
  return count;
}

void CheckEscape(const std::string& message) {
  const std::string escaped = EscapeLineBreaks(message);
  FUZZ_CHECK_MSG(!HasLineBreak(escaped), Show(escaped));
  FUZZ_CHECK(escaped.size() == message.size() + Count(message, '\r') + Count(message, '\n'));
  FUZZ_CHECK(EscapeLineBreaks(Unescape(escaped)) == escaped);
  // A literal backslash-r in the data reads back as a line break: the escape is lossless only
  // for data without those two-character sequences.
  if (message.find("\\r") == std::string::npos && message.find("\\n") == std::string::npos) {
    FUZZ_CHECK_MSG(Unescape(escaped) == message, Show(message));
  }
  if (!HasLineBreak(message)) FUZZ_CHECK(escaped == message);
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
  const std::string escaped = EscapeLineBreaks(message);
  const std::string line = FormatLogLine(timestamp, thread, level, escaped);
  FUZZ_CHECK_MSG(!HasLineBreak(line), Show(line));
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
  const std::string& logged = lines[0].message;
  if (seen.size() <= 2 * kWindow) {
    FUZZ_CHECK_MSG(logged == EscapeLineBreaks(seen), Show(logged));
    return;
  }
  // A long message is compared at both ends and by length: escaping it whole a second time would
  // cost more than everything else the run does.
  FUZZ_CHECK_MSG(!HasLineBreak(logged), Show(logged));
  FUZZ_CHECK(logged.size() == seen.size() + Count(seen, '\r') + Count(seen, '\n'));
  FUZZ_CHECK(StartsWith(logged, EscapeLineBreaks(std::string_view(seen).substr(0, kWindow))));
  FUZZ_CHECK(
      EndsWith(logged, EscapeLineBreaks(std::string_view(seen).substr(seen.size() - kWindow))));
}

std::string WithoutSeparators(std::string_view path) {
  std::string out;
  for (char c : path) {
    if (c != '\\' && c != '/') out += c;
  }
  return out;
}

void CheckPath(const std::string& path) {
  const std::string normalized = NormalizeLogPath(path);
  FUZZ_CHECK_MSG(normalized.find("\\\\") == std::string::npos, Show(normalized));
  FUZZ_CHECK_MSG(normalized.find('/') == std::string::npos, Show(normalized));
  FUZZ_CHECK_MSG(normalized.find('\\') != std::string::npos, Show(normalized));
  // Only separators may change: a dropped or invented path byte would log somewhere else.
  FUZZ_CHECK_MSG(WithoutSeparators(normalized) == WithoutSeparators(path), Show(normalized));
  FUZZ_CHECK_MSG(NormalizeLogPath(normalized) == normalized, Show(normalized));
}

void CheckResolve(const std::string& install_dir, const std::string& file_name) {
  const std::string resolved = ResolveLogPath(install_dir, file_name);
  FUZZ_CHECK_MSG(resolved.find("\\\\") == std::string::npos, Show(resolved));
  FUZZ_CHECK_MSG(resolved.find('/') == std::string::npos, Show(resolved));
  if (file_name.find_first_of("\\/") == std::string::npos) {
    const std::string leaf = file_name.empty() ? std::string(kLogFileName) : file_name;
    FUZZ_CHECK_MSG(EndsWith(resolved, "logs\\" + leaf), Show(resolved));
  }
  const std::string active = ResolveLogPath(install_dir, "");
  FUZZ_CHECK_MSG(LogBackupPath(active, 0) == active, Show(active));
  const std::string stem = active.substr(0, active.size() - 4);
  for (int n = 1; n <= kLogBackupCount; ++n) {
    FUZZ_CHECK_MSG(LogBackupPath(active, n) == stem + std::to_string(n) + ".log",
                   Show(LogBackupPath(active, n)));
  }
}

void CheckRotation(int calls) {
  RotationCounter counter;
  for (int i = 0; i < calls; ++i) {
    FUZZ_CHECK_MSG(counter.NextLineChecksSize() == (i % kLogSizeCheckInterval == 0),
                   std::to_string(i));
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
  fuzz::CheckRotation(rotation_calls);
  return 0;
}
