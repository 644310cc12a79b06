// Reading an Uninstall row's stored command strings: Windows Installer rows and their product
// codes, the executable and arguments of a command, and the silent switch an executable
// uninstaller needs. Pure functions: nothing is logged and no state is kept.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "inventory/uninstall_entry.h"

namespace varnok {

// Length of a braced product code, "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}".
constexpr size_t kProductCodeLength = 38;

// True only for exactly a braced product code: 38 characters, "{" and "}" at the ends, hyphens at
// 9, 14, 19 and 24, ASCII hexadecimal digits (either case) everywhere else. No blanks, no suffix.
bool IsGuidString(std::string_view text);

// The row's product code in upper case: `key_name` when it is one, otherwise the leftmost code
// written in `uninstall_string`. Empty text when there is none.
std::string GetMsiProductCode(std::string_view key_name, std::string_view uninstall_string);

// True when a "/i" or "/x" switch (any case), after optional spaces or tabs, is followed by "{".
bool HasMsiProductSwitch(std::string_view command);

// True when the row is removed through Windows Installer: the WindowsInstaller flag, "msiexec" in
// the command, or a product code together with an install/remove switch or with no command at all.
bool IsMsiEntry(const UninstallEntry& entry);

// Tells whether a candidate executable path names a file on disk.
using NamesFile = std::function<bool(const std::string& candidate)>;

// Cuts a stored command into its executable (without an opening quote) and trimmed arguments.
// Both outputs are emptied first. Returns false only when the command is empty after trimming;
// true does not promise a non-empty executable, and the executable may still hold a double quote.
// A quoted command ends its executable at the closing quote, an unquoted one at the first ".exe".
// An unquoted command without ".exe" ends it at the first blank, unless `names_file` is given:
// then the candidates are the text before each blank and the whole text, and the longest one
// that `names_file` accepts wins ("C:\My App\remove /q" must not run "C:\My").
bool SplitCommandLine(std::string_view command, std::string* executable, std::string* arguments,
                      const NamesFile& names_file = nullptr);

// The executable of SplitCommandLine, or empty text when there is none.
std::string GetExecutablePath(std::string_view command, const NamesFile& names_file = nullptr);

// The switch to append to `uninstall_string` (as stored) so that its uninstaller runs silently:
// empty when the command already carries one, "/VERYSILENT", "/s" or "/S".
std::string ChooseSilentSwitch(std::string_view uninstall_string);

}  // namespace varnok
