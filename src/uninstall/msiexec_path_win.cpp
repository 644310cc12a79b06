#include <windows.h>

#include "uninstall/msiexec_path.h"

namespace varnok {

std::string GetMsiexecPath() {
  char directory[MAX_PATH] = {};
  const UINT length = ::GetSystemDirectoryA(directory, MAX_PATH);
  if (length > 0 && length < MAX_PATH) return std::string(directory, length) + "\\msiexec.exe";
  return "msiexec.exe";
}

}  // namespace varnok
