// Which paths the program may touch on disk. Everything it probes or starts comes from registry
// text that an installer or a user wrote, and a path that leaves the machine (UNC), names a device
// or depends on the current directory would let that text decide what LocalSystem opens or runs.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace varnok {

// True only for a drive-letter path with a separator after the colon ("C:\..." or "C:/..."),
// whose components are ordinary names: no ".", ".." or other all-dot or blank component, no DOS
// device name (CON, NUL, COM1, ... also with an extension), no further colon (alternate data
// streams), no wildcard or control character. UNC ("\\server\share"), "\\?\", "\\.\", "\??\",
// root-relative ("\x") and drive-relative ("C:x") paths are false.
bool IsLocalAbsolutePath(std::string_view path);

// `path` with the blanks and dots at the end of each of its names removed, separators and all
// else as written; any other text unchanged. Windows drops a final dot of a name and the dots
// and blanks at the end of a path when it opens one ("unins000.exe." opens unins000.exe), so the
// program judges and starts a path only in this form: what it judged is then what runs.
std::string NormalizedLocalPath(std::string_view path);

// The folders that hold `path`, nearest first and ending with the drive root: "C:\A\B\u.exe" gives
// "C:\A\B", "C:\A", "C:\". Separators come out as backslashes and empty components are dropped.
// Empty when `path` is not a local absolute path.
std::vector<std::string> FoldersAbove(std::string_view path);

// The folder that holds `path`: FoldersAbove's first entry for a local absolute path (so "C:\"
// for "C:\u.exe", where GetParentPath gives "C:"), GetParentPath otherwise.
std::string FolderOf(std::string_view path);

// True when the file name of `path` holds a ".".
bool HasExtension(std::string_view path);

}  // namespace varnok
