#include "win32/system_library.h"

#include <string>

#include "common/system_library_load.h"
#include "win32/grown_text.h"
#include "win32/text.h"

namespace varnok::win32 {
namespace {

class Win32Steps : public SystemLibrarySteps {
 public:
  void* LoadSearchingSystem32(const std::string& name, unsigned long* error) override {
    HMODULE module = ::LoadLibraryExW(Wide(name).c_str(), nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (!module) *error = ::GetLastError();
    return reinterpret_cast<void*>(module);
  }
  std::string SystemDirectory() override {
    return ReadGrownText(
        [](wchar_t* buffer, DWORD chars) { return ::GetSystemDirectoryW(buffer, chars); });
  }
  void* LoadFullPath(const std::string& path) override {
    // The DLL's own imports are then looked for beside it, in the system directory.
    return reinterpret_cast<void*>(
        ::LoadLibraryExW(Wide(path).c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
  }
};

}  // namespace

void RestrictDllSearchToSystem() {
  using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
  const HMODULE kernel32 = ::GetModuleHandleW(L"kernel32.dll");
  if (!kernel32) return;
  const auto set_default = reinterpret_cast<SetDefaultDllDirectoriesFn>(
      reinterpret_cast<void*>(::GetProcAddress(kernel32, "SetDefaultDllDirectories")));
  if (set_default) set_default(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

UniqueModule LoadSystemLibrary(const char* name) {
  Win32Steps steps;
  unsigned long error = 0;
  void* module = LoadSystemLibraryBy(steps, name ? name : "", &error);
  if (!module) ::SetLastError(error);
  return UniqueModule(reinterpret_cast<HMODULE>(module));
}

}  // namespace varnok::win32
