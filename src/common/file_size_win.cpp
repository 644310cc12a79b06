#include "common/file_size.h"

#include <algorithm>

#include "win32/text.h"
#include "win32/unique_handle.h"

namespace varnok {

namespace {

win32::UniqueFileHandle OpenForReading(const std::string& path) {
  return win32::UniqueFileHandle(::CreateFileW(
      win32::Wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      // A named pipe reached through a link may identify the caller but never act as it.
      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION,
      nullptr));
}

}  // namespace

unsigned long ReadFileHead(const std::string& path, size_t max_bytes, std::string* bytes) {
  const win32::UniqueFileHandle file = OpenForReading(path);
  if (!file) return ::GetLastError();
  std::string head(max_bytes, '\0');
  size_t filled = 0;
  while (filled < head.size()) {
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(head.size() - filled, 1 << 20));
    DWORD got = 0;
    if (!::ReadFile(file.get(), head.data() + filled, chunk, &got, nullptr)) return ::GetLastError();
    if (got == 0) break;
    filled += got;
  }
  head.resize(filled);
  *bytes = std::move(head);
  return 0;
}

int64_t QueryFileSize(const std::string& path) {
  const win32::UniqueFileHandle file = OpenForReading(path);
  if (!file) return -1;
  LARGE_INTEGER size{};
  if (!::GetFileSizeEx(file.get(), &size)) return -1;
  return size.QuadPart;
}

}  // namespace varnok
