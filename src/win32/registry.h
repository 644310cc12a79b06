// Thin helpers over the registry's W functions.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace varnok::win32 {

struct RegistryValue {
  DWORD type = REG_NONE;
  std::vector<char> data;  // exactly the bytes stored (UTF-16 for the text types)
};

// REG_SZ and REG_EXPAND_SZ data as the inventory's reader takes it: the stored UTF-16 units but
// the last, as UTF-8, then one NUL byte (the reader drops the last character, terminator or not,
// as it always has). An odd last byte is no character.
std::vector<char> TextAsRead(const std::vector<char>& stored);

// Reads one value of an open key, growing the buffer while the value grows, up to `max_size`
// (characters of a text, bytes of anything else). Returns the Win32 error (0 on success); `value`
// is set only on success. A larger value is not read: ERROR_FILE_TOO_LARGE, with `stored_size`
// (when given) set to its size.
LONG QueryRegistryValue(HKEY key, const wchar_t* value_name, RegistryValue* value, DWORD max_size,
                        DWORD* stored_size = nullptr);

// The text of a REG_SZ value up to its first NUL (or all of it when it has none), as UTF-8.
// Returns the Win32 error; ERROR_INVALID_DATATYPE when the value has another type.
LONG ReadRegistryText(HKEY root, const wchar_t* key_path, REGSAM view_flag,
                      const wchar_t* value_name, std::string* text);

}  // namespace varnok::win32
