// The silent command that removes one Uninstall row, built as a pure function of the row.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "inventory/uninstall_entry.h"
#include "uninstall/classify.h"
#include "uninstall/installer_technology.h"

namespace varnok {

// An empty record (flags false, texts and list empty) means "no command".
struct UninstallCommand {
  bool is_msi = false;                      // a Windows Installer removal ("msiexec.exe /X")
  bool per_user = false;                    // the row lives in a user's hive
  std::string command_line;                 // the whole command as logged; empty: no safe command
  std::string executable;                   // the program to start, never quoted
  std::string arguments;                    // everything after the executable
  std::string product_code;                 // Windows Installer only: upper-case braced code
  std::vector<std::string> search_folders;  // executables only: {install_location}
};

// Builds the silent removal command for `entry`. `exe_args` is the operator's replacement for an
// executable's stored arguments (empty when not given); `msiexec_path` is the full path of
// msiexec.exe to start for Windows Installer rows. Precedence: Windows Installer removal by
// product code, then `exe_args`, then, for an uninstaller of a `technology` with silent arguments
// of its own, QuietUninstallString (else UninstallString) with those it lacks added (see
// AddSilentArguments), then QuietUninstallString as stored, then UninstallString plus a silent
// switch. The executable is re-quoted, and a path holding a double quote is refused. `names_file`
// decides where an unquoted command without ".exe" ends its executable (see SplitCommandLine).
// On failure writes one ERROR line and returns a record whose `command_line` is empty (its other
// fields then carry no meaning); on success logs nothing.
UninstallCommand BuildUninstallCommand(
    const UninstallEntry& entry, std::string_view exe_args, std::string_view msiexec_path,
    const NamesFile& names_file = nullptr,
    InstallerTechnology technology = InstallerTechnology::kUnknown);

}  // namespace varnok
