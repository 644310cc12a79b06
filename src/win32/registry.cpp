#include "win32/registry.h"

#include <cstring>

#include "win32/unique_handle.h"

namespace varnok::win32 {

LONG QueryRegistryValue(HKEY key, const char* value_name, RegistryValue* value) {
  DWORD type = REG_NONE;
  DWORD size = 0;
  LONG rc = ::RegQueryValueExA(key, value_name, nullptr, &type, nullptr, &size);
  // The value can change between the two calls; retry a few times while it keeps growing.
  for (int attempt = 0; rc == ERROR_SUCCESS && attempt < 4; ++attempt) {
    std::vector<char> data(size, '\0');
    DWORD got = size;
    rc = ::RegQueryValueExA(key, value_name, nullptr, &type,
                            reinterpret_cast<BYTE*>(data.data()), &got);
    if (rc == ERROR_MORE_DATA) {
      size = got;
      rc = ERROR_SUCCESS;
      continue;
    }
    if (rc != ERROR_SUCCESS) break;
    data.resize(got);
    value->type = type;
    value->data = std::move(data);
    return ERROR_SUCCESS;
  }
  return rc == ERROR_SUCCESS ? ERROR_MORE_DATA : rc;
}

LONG ReadRegistryText(HKEY root, const char* key_path, REGSAM view_flag, const char* value_name,
                      std::string* text) {
  UniqueRegKey key;
  LONG rc = ::RegOpenKeyExA(root, key_path, 0, KEY_READ | view_flag, key.put());
  if (rc != ERROR_SUCCESS) return rc;
  RegistryValue value;
  rc = QueryRegistryValue(key.get(), value_name, &value);
  if (rc != ERROR_SUCCESS) return rc;
  if (value.type != REG_SZ) return ERROR_INVALID_DATATYPE;
  const char* bytes = value.data.data();
  const size_t length = value.data.empty() ? 0 : strnlen(bytes, value.data.size());
  text->assign(bytes, length);
  return ERROR_SUCCESS;
}

}  // namespace varnok::win32
