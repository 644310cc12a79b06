#include "process/private_temp.h"

#include <algorithm>

#include "common/strings.h"
#include "log/log.h"

namespace varnok {
namespace {

// The name of an entry; a name may begin with "=" ("=C:=C:\work"), so the search starts after it.
std::string_view NameOf(std::string_view entry) {
  return entry.substr(0, std::min(entry.find('=', 1), entry.size()));
}

void LogRemoved(const std::string& folder) {
  LogInfo("operation : app_varnok; remarks : \"The uninstaller's private temporary folder was "
          "removed.\"; temp_folder : \"%s\";",
          folder.c_str());
}

}  // namespace

std::vector<std::string> EnvironmentWithTemp(const std::vector<std::string>& environment,
                                             const std::string& folder) {
  std::vector<std::string> result;
  for (const std::string& entry : environment) {
    const std::string_view name = NameOf(entry);
    if (!EqualsNoCase(name, "TEMP") && !EqualsNoCase(name, "TMP")) result.push_back(entry);
  }
  result.push_back("TEMP=" + folder);
  result.push_back("TMP=" + folder);
  std::stable_sort(result.begin(), result.end(), [](const std::string& a, const std::string& b) {
    return ToUpperCopy(NameOf(a)) < ToUpperCopy(NameOf(b));
  });
  return result;
}

unsigned long PrivateTempFolders::ForLaunch(std::string* folder) {
  const unsigned long error = platform_.CreatePrivateTempFolder(folder);
  if (error != 0) {
    LogError("operation : ExecuteUninstallCommand; status : failure; remarks : \"Uninstaller not "
             "run as SYSTEM: its private temporary folder could not be created\"; error_code : "
             "%lu;",
             error);
    return error;
  }
  row_.push_back(*folder);
  LogInfo("operation : ExecuteUninstallCommand; remarks : \"TEMP and TMP of the uninstaller: a "
          "new folder that only SYSTEM and administrators can use.\"; temp_folder : \"%s\";",
          folder->c_str());
  return 0;
}

void PrivateTempFolders::AfterRow(bool launch_may_run) {
  for (const std::string& folder : row_) {
    if (!launch_may_run && platform_.RemoveFolderTree(folder) == 0) {
      LogRemoved(folder);
    } else {
      later_.push_back(folder);
    }
  }
  row_.clear();
}

void PrivateTempFolders::AtRunEnd() {
  AfterRow(true);
  for (const std::string& folder : later_) {
    const unsigned long error = platform_.RemoveFolderTree(folder);
    if (error == 0) {
      LogRemoved(folder);
      continue;
    }
    LogInfo("operation : app_varnok; remarks : \"A private temporary folder could not be removed "
            "(an uninstaller's copy may still run from it). It is left; only SYSTEM and "
            "administrators can use it.\"; temp_folder : \"%s\"; error_code : %lu;",
            folder.c_str(), error);
  }
  later_.clear();
}

}  // namespace varnok
