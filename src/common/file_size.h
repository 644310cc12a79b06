#pragma once

#include <cstdint>
#include <string>

namespace varnok {

// Size of an existing file, opened for reading with read, write and delete sharing; -1 when it
// cannot be opened or sized. Logs nothing.
int64_t QueryFileSize(const std::string& path);

// At most `max_bytes` from the start of an existing file, opened as QueryFileSize does. Returns the
// Win32 error, 0 on success; `bytes` is set only on success. Logs nothing.
unsigned long ReadFileHead(const std::string& path, size_t max_bytes, std::string* bytes);

}  // namespace varnok
