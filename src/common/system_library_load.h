// Loading a DLL that Windows does not protect against planting (version.dll, wtsapi32.dll,
// userenv.dll, netapi32.dll): from the system directory only, never by a search that includes the
// program's folder or the current directory. The Windows calls are steps the caller supplies,
// so that the order of the attempts is the same on Windows and in the host tests.
#pragma once

#include <string>

namespace varnok {

class SystemLibrarySteps {
 public:
  virtual ~SystemLibrarySteps() = default;
  // LoadLibraryExA(name, NULL, LOAD_LIBRARY_SEARCH_SYSTEM32): the module, or null with the error.
  virtual void* LoadSearchingSystem32(const std::string& name, unsigned long* error) = 0;
  // The system directory, or empty when it cannot be read.
  virtual std::string SystemDirectory() = 0;
  // LoadLibraryExA(path, NULL, LOAD_WITH_ALTERED_SEARCH_PATH): the module or null.
  virtual void* LoadFullPath(const std::string& path) = 0;
};

// The module of `name`, a bare file name, from the system directory, or null with `error` set
// (87 for a name that is not bare). Windows 7 without KB2533623 does not know the system-directory
// flag and answers 87: then, and only then, the DLL is loaded by its full path in the system
// directory. It is never loaded by its bare name.
void* LoadSystemLibraryBy(SystemLibrarySteps& steps, const std::string& name, unsigned long* error);

}  // namespace varnok
