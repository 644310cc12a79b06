// Text from the Win32 calls that fill a caller's buffer and, when it is too small, answer the
// size they need (GetCurrentDirectoryW, GetFullPathNameW, GetSystemDirectoryW,
// GetFinalPathNameByHandleW, ...).
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "win32/text.h"

namespace varnok::win32 {

// Calls `fill(buffer, chars)` with MAX_PATH characters, and once more with the size it asked for.
// The text as UTF-8, or empty when the call failed or the text kept growing.
template <typename Fill>
std::string ReadGrownText(Fill fill) {
  std::vector<wchar_t> buffer(MAX_PATH, L'\0');
  DWORD length = fill(buffer.data(), static_cast<DWORD>(buffer.size()));
  if (length >= buffer.size()) {
    buffer.assign(static_cast<size_t>(length) + 1, L'\0');
    length = fill(buffer.data(), static_cast<DWORD>(buffer.size()));
  }
  return length > 0 && length < buffer.size() ? Utf8(std::wstring_view(buffer.data(), length))
                                              : std::string();
}

}  // namespace varnok::win32
