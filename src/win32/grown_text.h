// Text from the Win32 calls that fill a caller's buffer and, when it is too small, answer the
// size they need (GetCurrentDirectory, GetFullPathName, GetSystemDirectory,
// GetFinalPathNameByHandle, ...).
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace varnok::win32 {

// Calls `fill(buffer, chars)` with MAX_PATH characters, and once more with the size it asked for.
// The text, or empty when the call failed or the text kept growing.
template <typename Fill>
std::string ReadGrownText(Fill fill) {
  std::vector<char> buffer(MAX_PATH, '\0');
  DWORD length = fill(buffer.data(), static_cast<DWORD>(buffer.size()));
  if (length >= buffer.size()) {
    buffer.assign(static_cast<size_t>(length) + 1, '\0');
    length = fill(buffer.data(), static_cast<DWORD>(buffer.size()));
  }
  return length > 0 && length < buffer.size() ? std::string(buffer.data(), length) : std::string();
}

}  // namespace varnok::win32
