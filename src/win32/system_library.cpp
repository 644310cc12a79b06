#include "win32/system_library.h"

#include <string>

namespace varnok::win32 {

UniqueModule LoadSystemLibrary(const char* name) {
  // Only bare names: a path would bypass the system-directory restriction.
  const std::string text(name ? name : "");
  if (text.empty() || text.find_first_of("\\/:") != std::string::npos) {
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return UniqueModule();
  }
  return UniqueModule(::LoadLibraryExA(text.c_str(), nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32));
}

}  // namespace varnok::win32
