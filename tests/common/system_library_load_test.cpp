#include "common/system_library_load.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace varnok {
namespace {

class RecordingSteps : public SystemLibrarySteps {
 public:
  unsigned long search_error = 0;  // 0: the first attempt loads the DLL
  std::string system_directory = "C:\\Windows\\system32";
  bool full_path_loads = true;
  std::vector<std::string> calls;

  void* LoadSearchingSystem32(const std::string& name, unsigned long* error) override {
    calls.push_back("system32 " + name);
    if (search_error == 0) return this;
    *error = search_error;
    return nullptr;
  }
  std::string SystemDirectory() override {
    calls.push_back("directory");
    return system_directory;
  }
  void* LoadFullPath(const std::string& path) override {
    calls.push_back("path " + path);
    return full_path_loads ? this : nullptr;
  }
};

TEST(LoadSystemLibraryBy, TheSystemDirectoryOnlyAndByFullPathOnlyOnWindows7) {
  struct Case {
    const char* what;
    std::string name;
    unsigned long search_error;
    std::string system_directory;
    bool full_path_loads;
    bool loaded;
    unsigned long error;
    std::vector<std::string> calls;
  };
  const std::string dir = "C:\\Windows\\system32";
  const Case cases[] = {
      {"the flag is known", "version.dll", 0, dir, true, true, 0, {"system32 version.dll"}},
      {"Windows 7 without KB2533623: the full path", "version.dll", 87, dir, true, true, 0,
       {"system32 version.dll", "directory", "path C:\\Windows\\system32\\version.dll"}},
      {"the full path fails too", "wtsapi32.dll", 87, dir, false, false, 126,
       {"system32 wtsapi32.dll", "directory", "path C:\\Windows\\system32\\wtsapi32.dll"}},
      {"a missing DLL is not looked for anywhere else", "userenv.dll", 126, dir, true, false, 126,
       {"system32 userenv.dll"}},
      {"no system directory: no bare-name load", "version.dll", 87, "", true, false, 87,
       {"system32 version.dll", "directory"}},
      {"a path is refused before any attempt", "..\\version.dll", 0, dir, true, false, 87, {}},
      {"a drive-relative name too", "C:version.dll", 0, dir, true, false, 87, {}},
      {"an empty name", "", 0, dir, true, false, 87, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    RecordingSteps steps;
    steps.search_error = c.search_error;
    steps.system_directory = c.system_directory;
    steps.full_path_loads = c.full_path_loads;
    unsigned long error = 12345;
    void* module = LoadSystemLibraryBy(steps, c.name, &error);
    EXPECT_EQ(module != nullptr, c.loaded);
    EXPECT_EQ(error, c.error);
    EXPECT_EQ(steps.calls, c.calls);
  }
}

}  // namespace
}  // namespace varnok
