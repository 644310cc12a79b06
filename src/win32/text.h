// The one place where the program's text meets Windows': UTF-8 inside (see common/utf8.h), UTF-16
// for every W function. Nothing is converted through the ANSI code page, which cannot hold every
// name and would hand back "?" or a look-alike.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace varnok::win32 {

// Exact for any UTF-16 Windows gives, unpaired surrogates included.
std::string Utf8(std::wstring_view text);
// A NUL-terminated text; empty for a null pointer.
std::string Utf8(const wchar_t* text);

// The UTF-16 of the program's text. False when it is not UTF-8 (only text that never came from
// Windows can be); `wide` is then empty.
[[nodiscard]] bool ToWide(std::string_view text, std::wstring* wide);

// ToWide for text that the program read from Windows or made itself. Text that is not UTF-8 gives
// a string no Windows name can equal (a NUL alone), so that it never opens or finds anything.
std::wstring Wide(std::string_view text);

// A writable, NUL-terminated UTF-16 copy for CreateProcessW and CreateProcessAsUserW (which may
// write into the command line), wiped before it is freed. An empty text is passed as no text.
class WritableWide {
 public:
  explicit WritableWide(std::string_view text);
  ~WritableWide();
  WritableWide(const WritableWide&) = delete;
  WritableWide& operator=(const WritableWide&) = delete;
  // False when the text is not UTF-8: it must then not be used at all.
  bool converted() const { return converted_; }
  wchar_t* get() { return empty_ ? nullptr : buffer_.data(); }

 private:
  std::wstring buffer_;
  bool converted_;
  bool empty_;
};

}  // namespace varnok::win32
