#include "common/system_library_load.h"

namespace varnok {

void* LoadSystemLibraryBy(SystemLibrarySteps& steps, const std::string& name,
                          unsigned long* error) {
  constexpr unsigned long kInvalidParameter = 87;
  // Only bare names: a path would bypass the system-directory restriction.
  if (name.empty() || name.find_first_of("\\/:") != std::string::npos) {
    *error = kInvalidParameter;
    return nullptr;
  }
  *error = 0;
  if (void* module = steps.LoadSearchingSystem32(name, error)) return module;
  if (*error != kInvalidParameter) return nullptr;
  const std::string directory = steps.SystemDirectory();
  if (directory.empty()) return nullptr;
  void* module = steps.LoadFullPath(directory + "\\" + name);
  *error = module ? 0 : 126;  // ERROR_MOD_NOT_FOUND
  return module;
}

}  // namespace varnok
