#pragma once

#include <cstdint>
#include <string>

namespace varnok {

// Size of an existing file, opened for reading with read, write and delete sharing; -1 when it
// cannot be opened or sized. Logs nothing.
int64_t QueryFileSize(const std::string& path);

}  // namespace varnok
