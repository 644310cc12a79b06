#include "win32/registry.h"

#include <cstring>

#include "win32/unique_handle.h"

namespace varnok::win32 {

LONG QueryRegistryValue(HKEY key, const char* value_name, RegistryValue* value, DWORD max_bytes,
                        DWORD* stored_bytes) {
  // One request for the usual short value; under Wine every registry call is a round trip to
  // the server, and asking for the size first doubles them.
  constexpr DWORD kFirstTry = 512;
  std::vector<char> data(kFirstTry < max_bytes ? kFirstTry : max_bytes, '\0');
  DWORD type = REG_NONE;
  // The value can grow between calls; retry a few times while it keeps growing.
  for (int attempt = 0; attempt < 5; ++attempt) {
    DWORD got = static_cast<DWORD>(data.size());
    const LONG rc = ::RegQueryValueExA(key, value_name, nullptr, &type,
                                       data.empty() ? nullptr : reinterpret_cast<BYTE*>(data.data()),
                                       &got);
    if (rc == ERROR_MORE_DATA || (rc == ERROR_SUCCESS && data.empty() && got > 0)) {
      if (got > max_bytes) {
        if (stored_bytes) *stored_bytes = got;
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

LONG ReadRegistryText(HKEY root, const char* key_path, REGSAM view_flag, const char* value_name,
                      std::string* text) {
  UniqueRegKey key;
  LONG rc = ::RegOpenKeyExA(root, key_path, 0, KEY_READ | view_flag, key.put());
  if (rc != ERROR_SUCCESS) return rc;
  RegistryValue value;
  rc = QueryRegistryValue(key.get(), value_name, &value, 65536);
  if (rc != ERROR_SUCCESS) return rc;
  if (value.type != REG_SZ) return ERROR_INVALID_DATATYPE;
  const char* bytes = value.data.data();
  const size_t length = value.data.empty() ? 0 : strnlen(bytes, value.data.size());
  text->assign(bytes, length);
  return ERROR_SUCCESS;
}

}  // namespace varnok::win32
