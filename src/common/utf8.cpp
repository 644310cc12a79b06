#include "common/utf8.h"

namespace varnok {
namespace {

bool IsContinuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }
bool IsHighSurrogate(char32_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(char32_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

}  // namespace

void AppendCodePoint(char32_t c, std::string* out) {
  if (c < 0x80) {
    out->push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (c >> 6)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (c >> 12)));
    out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (c >> 18)));
    out->push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

std::string Utf8FromUtf16(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    char32_t c = text[i];
    if (IsHighSurrogate(c) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    }
    AppendCodePoint(c, &out);
  }
  return out;
}

CodePoint DecodeCodePoint(std::string_view text, size_t at) {
  CodePoint point;
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[at + i]); };
  const unsigned char lead = byte(0);
  if (lead < 0x80) return {lead, 1, true};
  size_t length = 0;
  char32_t minimum = 0;
  char32_t value = 0;
  if ((lead & 0xE0) == 0xC0) {
    length = 2, minimum = 0x80, value = lead & 0x1F;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3, minimum = 0x800, value = lead & 0x0F;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4, minimum = 0x10000, value = lead & 0x07;
  } else {
    return point;
  }
  if (at + length > text.size()) return point;
  for (size_t i = 1; i < length; ++i) {
    if (!IsContinuation(byte(i))) return point;
    value = value << 6 | (byte(i) & 0x3F);
  }
  if (value < minimum || value > 0x10FFFF) return point;
  return {value, length, true};
}

bool IsUtf8(std::string_view text) {
  bool last_was_high = false;
  for (size_t i = 0; i < text.size();) {
    const CodePoint point = DecodeCodePoint(text, i);
    if (!point.valid || (last_was_high && IsLowSurrogate(point.value))) return false;
    last_was_high = IsHighSurrogate(point.value);
    i += point.length;
  }
  return true;
}

bool Utf16FromUtf8(std::string_view text, std::u16string* out) {
  out->clear();
  out->reserve(text.size());
  bool last_was_high = false;
  for (size_t i = 0; i < text.size();) {
    const CodePoint point = DecodeCodePoint(text, i);
    if (!point.valid) return false;
    // A high and a low surrogate written one after the other are a pair that was split: the
    // same UTF-16 has one canonical form, so that two texts are equal exactly when they are.
    if (last_was_high && IsLowSurrogate(point.value)) return false;
    last_was_high = IsHighSurrogate(point.value);
    if (point.value >= 0x10000) {
      const char32_t v = point.value - 0x10000;
      out->push_back(static_cast<char16_t>(0xD800 + (v >> 10)));
      out->push_back(static_cast<char16_t>(0xDC00 + (v & 0x3FF)));
    } else {
      out->push_back(static_cast<char16_t>(point.value));
    }
    i += point.length;
  }
  return true;
}

}  // namespace varnok
