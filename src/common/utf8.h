// The program's text is UTF-8 in std::string, converted to and from Windows' UTF-16 only at the
// Win32 boundary. Windows names (registry keys, values, files) are UTF-16 units that need not be
// well-formed: an unpaired surrogate is kept as its own three-byte sequence (the generalised
// UTF-8 known as WTF-8), so that every name converts exactly both ways and is reopened, matched
// and launched as itself. Well-formed text is plain UTF-8, byte for byte.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace varnok {

// Exact for any UTF-16 text, unpaired surrogates included.
std::string Utf8FromUtf16(std::u16string_view text);

// False when `text` is not UTF-8 in the form above (a stray or truncated byte, an overlong form,
// a code point past U+10FFFF, or two surrogates that should have been one pair); `out` is then
// left holding what came before the fault. Never lossy when it returns true.
bool Utf16FromUtf8(std::string_view text, std::u16string* out);

// True when `text` is UTF-8 in the form above, so that it converts to UTF-16 exactly.
bool IsUtf8(std::string_view text);

// One code point of `text` at byte `at`: its value and length in bytes. A byte that does not
// start a valid sequence gives `valid` false and a length of 1.
struct CodePoint {
  char32_t value = 0;
  size_t length = 1;
  bool valid = false;
};
CodePoint DecodeCodePoint(std::string_view text, size_t at);

// Appends the UTF-8 (or, for a surrogate, generalised UTF-8) bytes of one code point.
void AppendCodePoint(char32_t code_point, std::string* out);

}  // namespace varnok
