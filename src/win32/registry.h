// Thin helpers over the ANSI registry functions.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace varnok::win32 {

struct RegistryValue {
  DWORD type = REG_NONE;
  std::vector<char> data;  // exactly the bytes stored, no terminator added
};

// Reads one value of an open key, growing the buffer while the value grows, up to `max_bytes`.
// Returns the Win32 error (0 on success); `value` is set only on success. A larger value is not
// read: ERROR_FILE_TOO_LARGE, with `stored_bytes` (when given) set to its size.
LONG QueryRegistryValue(HKEY key, const char* value_name, RegistryValue* value, DWORD max_bytes,
                        DWORD* stored_bytes = nullptr);

// The text of a REG_SZ value up to its first NUL (or all bytes when it has none). Returns the
// Win32 error; ERROR_INVALID_DATATYPE when the value has another type.
LONG ReadRegistryText(HKEY root, const char* key_path, REGSAM view_flag, const char* value_name,
                      std::string* text);

}  // namespace varnok::win32
