#include "win32/text.h"

#include "common/utf8.h"

namespace varnok::win32 {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows' wide characters are UTF-16 units");

std::string Utf8(std::wstring_view text) {
  return Utf8FromUtf16(
      std::u16string_view(reinterpret_cast<const char16_t*>(text.data()), text.size()));
}

std::string Utf8(const wchar_t* text) { return text ? Utf8(std::wstring_view(text)) : ""; }

bool ToWide(std::string_view text, std::wstring* wide) {
  std::u16string utf16;
  if (!Utf16FromUtf8(text, &utf16)) {
    wide->clear();
    return false;
  }
  wide->assign(reinterpret_cast<const wchar_t*>(utf16.data()), utf16.size());
  return true;
}

std::wstring Wide(std::string_view text) {
  std::wstring wide;
  if (!ToWide(text, &wide)) wide.assign(1, L'\0');
  return wide;
}

WritableWide::WritableWide(std::string_view text)
    : converted_(ToWide(text, &buffer_)), empty_(text.empty()) {
  buffer_.push_back(L'\0');
}

WritableWide::~WritableWide() {
  ::SecureZeroMemory(buffer_.data(), buffer_.size() * sizeof(wchar_t));
}

}  // namespace varnok::win32
