// Recognising a generic uninstaller (uninstall.exe, unins000.exe) and the product's main program
// beside it, so that a row of one version never runs an uninstaller that would remove another
// version living in the same folder.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace varnok {

// True when the file name of `executable_path` is "uninstall.exe", or "unins" + only digits (or
// nothing) + ".exe", compared without regard to case.
bool IsSharedUninstallerName(std::string_view executable_path);

// Maximal runs of ASCII letters and digits of at least 4 characters, in order.
std::vector<std::string> NameTokens(std::string_view hint);

// Picks the product's main executable from a folder listing (full paths in listing order): the
// first ".exe" that is no installer helper and whose name (without extension) contains a token of
// the hint; otherwise the strictly largest one by `size_of` (-1 means unreadable and never wins).
// Empty when no candidate qualifies.
std::string SelectMainExecutable(const std::vector<std::string>& listing, std::string_view hint,
                                 const std::function<int64_t(const std::string&)>& size_of);

// The file-system side, for the Windows build.
// Full paths of the plain files directly inside `folder`, in the system's enumeration order.
std::vector<std::string> ListFiles(const std::string& folder);
// SelectMainExecutable over ListFiles, sizes from QueryFileSize; empty for a missing folder.
std::string FindMainExecutable(const std::string& folder, std::string_view hint);
// The file version ("a.b.c.d") of the fixed version resource, or empty. Logs its failures at
// ERROR and its success at INFO.
std::string GetFileVersion(const std::string& path);

}  // namespace varnok
