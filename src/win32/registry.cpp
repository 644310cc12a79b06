#include "win32/registry.h"

#include <cstring>

#include "common/utf8.h"
#include "win32/unique_handle.h"

namespace varnok::win32 {
namespace {

bool IsText(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ; }

// How the limit counts a value of `bytes` stored bytes.
DWORD SizeOf(DWORD type, DWORD bytes) { return IsText(type) ? bytes / 2 : bytes; }

std::u16string Units(const std::vector<char>& stored, size_t count) {
  std::u16string utf16(count, u'\0');
  if (count > 0) std::memcpy(utf16.data(), stored.data(), count * 2);
  return utf16;
}

}  // namespace

std::vector<char> TextAsRead(const std::vector<char>& stored) {
  const size_t units = stored.size() / 2;
  const std::string utf8 = Utf8FromUtf16(Units(stored, units > 0 ? units - 1 : 0));
  std::vector<char> data(utf8.begin(), utf8.end());
  if (units > 0) data.push_back('\0');
  return data;
}

LONG QueryRegistryValue(HKEY key, const wchar_t* value_name, RegistryValue* value, DWORD max_size,
                        DWORD* stored_size) {
  // One request for the usual short value; under Wine every registry call is a round trip to
  // the server, and asking for the size first doubles them.
  constexpr DWORD kFirstTry = 1024;
  std::vector<char> data(kFirstTry, '\0');
  DWORD type = REG_NONE;
  // The value can grow between calls; retry a few times while it keeps growing.
  for (int attempt = 0; attempt < 5; ++attempt) {
    DWORD got = static_cast<DWORD>(data.size());
    const LONG rc = ::RegQueryValueExW(key, value_name, nullptr, &type,
                                       reinterpret_cast<BYTE*>(data.data()), &got);
    if (rc == ERROR_MORE_DATA || (rc == ERROR_SUCCESS && SizeOf(type, got) > max_size)) {
      if (SizeOf(type, got) > max_size) {
        if (stored_size) *stored_size = SizeOf(type, got);
        return ERROR_FILE_TOO_LARGE;
      }
      data.assign(got > data.size() ? got : data.size() * 2, '\0');
      continue;
    }
    if (rc != ERROR_SUCCESS) return rc;
    data.resize(got < data.size() ? got : data.size());
    value->type = type;
    value->data = std::move(data);
    return ERROR_SUCCESS;
  }
  return ERROR_MORE_DATA;
}

LONG ReadRegistryText(HKEY root, const wchar_t* key_path, REGSAM view_flag,
                      const wchar_t* value_name, std::string* text) {
  UniqueRegKey key;
  LONG rc = ::RegOpenKeyExW(root, key_path, 0, KEY_READ | view_flag, key.put());
  if (rc != ERROR_SUCCESS) return rc;
  RegistryValue value;
  rc = QueryRegistryValue(key.get(), value_name, &value, 65536);
  if (rc != ERROR_SUCCESS) return rc;
  if (value.type != REG_SZ) return ERROR_INVALID_DATATYPE;
  std::u16string units = Units(value.data, value.data.size() / 2);
  const size_t end = units.find(u'\0');
  if (end != std::u16string::npos) units.resize(end);
  *text = Utf8FromUtf16(units);
  return ERROR_SUCCESS;
}

}  // namespace varnok::win32
