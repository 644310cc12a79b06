#include "common/file_size.h"

#include "win32/unique_handle.h"

namespace varnok {

int64_t QueryFileSize(const std::string& path) {
  win32::UniqueFileHandle file(::CreateFileA(
      path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return -1;
  LARGE_INTEGER size{};
  if (!::GetFileSizeEx(file.get(), &size)) return -1;
  return size.QuadPart;
}

}  // namespace varnok
