// The log is written in the machine's ANSI code page, which the agent's other writers use.
#include <windows.h>

#include <unordered_map>

#include "common/utf8.h"
#include "log/log.h"
#include "log/log_format.h"

namespace varnok::log_internal {
namespace {

class AnsiCodePage : public LogCodePage {
 public:
  AnsiCodePage() : code_page_(::GetACP()) {}

  std::string Encode(char32_t c) override {
    const auto cached = cache_.find(c);
    if (cached != cache_.end()) return cached->second;
    std::string bytes = Convert(c);
    cache_.emplace(c, bytes);
    return bytes;
  }

 private:
  // Only a character that comes back as itself: best-fit look-alikes ("a" for "\u0101") and the
  // default character ("?") would make two names read the same.
  std::string Convert(char32_t c) const {
    std::string utf8;
    AppendCodePoint(c, &utf8);
    std::u16string utf16;
    if (!Utf16FromUtf8(utf8, &utf16)) return std::string();
    const auto* wide = reinterpret_cast<const wchar_t*>(utf16.data());
    const int units = static_cast<int>(utf16.size());
    if (code_page_ == CP_UTF8) return (c >= 0xD800 && c <= 0xDFFF) ? std::string() : utf8;
    char bytes[8] = {};
    BOOL used_default = FALSE;
    const int length = ::WideCharToMultiByte(code_page_, WC_NO_BEST_FIT_CHARS, wide, units, bytes,
                                             sizeof bytes, nullptr, &used_default);
    if (length <= 0 || used_default) return std::string();
    wchar_t back[4] = {};
    const int back_units =
        ::MultiByteToWideChar(code_page_, MB_ERR_INVALID_CHARS, bytes, length, back, 4);
    if (back_units != units || std::char_traits<wchar_t>::compare(back, wide, units) != 0) {
      return std::string();
    }
    return std::string(bytes, static_cast<size_t>(length));
  }

  UINT code_page_;
  std::unordered_map<char32_t, std::string> cache_;
};

}  // namespace

LogCodePage& CodePage() {
  static AnsiCodePage code_page;
  return code_page;
}

}  // namespace varnok::log_internal
