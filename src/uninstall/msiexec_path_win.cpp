#include <windows.h>

#include "uninstall/msiexec_path.h"
#include "win32/grown_text.h"

namespace varnok {

std::string GetMsiexecPath() {
  const std::string directory = win32::ReadGrownText(
      [](wchar_t* buffer, DWORD chars) { return ::GetSystemDirectoryW(buffer, chars); });
  return directory.empty() ? "msiexec.exe" : directory + "\\msiexec.exe";
}

}  // namespace varnok
