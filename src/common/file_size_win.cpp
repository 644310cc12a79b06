#include "common/file_size.h"

#include "win32/unique_handle.h"

namespace varnok {

int64_t QueryFileSize(const std::string& path) {
  win32::UniqueFileHandle file(::CreateFileA(
      path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      // A named pipe reached through a link may identify the caller but never act as it.
      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION,
      nullptr));
  if (!file) return -1;
  LARGE_INTEGER size{};
  if (!::GetFileSizeEx(file.get(), &size)) return -1;
  return size.QuadPart;
}

}  // namespace varnok
