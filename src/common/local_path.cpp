#include "common/local_path.h"

#include "common/strings.h"

namespace varnok {
namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

std::vector<std::string_view> Components(std::string_view path) {
  std::vector<std::string_view> parts;
  size_t start = 0;
  for (size_t i = 0; i <= path.size(); ++i) {
    if (i == path.size() || IsSeparator(path[i])) {
      if (i > start) parts.push_back(path.substr(start, i - start));
      start = i + 1;
    }
  }
  return parts;
}

// Windows opens the device, not a file, for these names in any folder and with any extension.
bool IsDosDeviceName(std::string_view component) {
  std::string base = ToUpperCopy(component.substr(0, component.find('.')));
  while (!base.empty() && base.back() == ' ') base.pop_back();
  for (const char* device : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"}) {
    if (base == device) return true;
  }
  if (base.size() == 4 && (base.compare(0, 3, "COM") == 0 || base.compare(0, 3, "LPT") == 0)) {
    const unsigned char last = static_cast<unsigned char>(base[3]);
    // Digits, and the superscripts one to three of the Western code page.
    return IsAsciiDigit(base[3]) || last == 0xB9 || last == 0xB2 || last == 0xB3;
  }
  return false;
}

bool IsOrdinaryName(std::string_view component) {
  // ".", ".." and names of only dots and blanks: Windows strips trailing dots and blanks, so
  // these would walk up the tree or name the folder itself.
  if (component.find_first_not_of(". ") == std::string_view::npos) return false;
  return !IsDosDeviceName(component);
}

}  // namespace

bool IsLocalAbsolutePath(std::string_view path) {
  if (path.size() < 3 || !IsAsciiAlpha(path[0]) || path[1] != ':' || !IsSeparator(path[2])) {
    return false;
  }
  for (size_t i = 0; i < path.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(path[i]);
    if (c < 0x20 || c == '*' || c == '?' || c == '<' || c == '>' || c == '|') return false;
    if (c == ':' && i != 1) return false;
  }
  for (std::string_view component : Components(path.substr(3))) {
    if (!IsOrdinaryName(component)) return false;
  }
  return true;
}

std::string NormalizedLocalPath(std::string_view path) {
  if (!IsLocalAbsolutePath(path)) return std::string(path);
  std::string normalized(path.substr(0, 3));
  size_t start = 3;
  for (size_t i = 3; i <= path.size(); ++i) {
    if (i < path.size() && !IsSeparator(path[i])) continue;
    std::string_view name = path.substr(start, i - start);
    // Every name holds something other than dots and blanks (IsLocalAbsolutePath).
    while (!name.empty() && (name.back() == '.' || name.back() == ' ')) name.remove_suffix(1);
    normalized.append(name);
    if (i < path.size()) normalized.push_back(path[i]);
    start = i + 1;
  }
  return normalized;
}

std::vector<std::string> FoldersAbove(std::string_view path) {
  std::vector<std::string> folders;
  if (!IsLocalAbsolutePath(path)) return folders;
  const std::vector<std::string_view> parts = Components(path.substr(3));
  std::string folder = std::string(path.substr(0, 2)) + "\\";
  std::vector<std::string> downward = {folder};
  for (size_t i = 0; i + 1 < parts.size(); ++i) {
    folder += (i == 0 ? "" : "\\") + std::string(parts[i]);
    downward.push_back(folder);
  }
  if (parts.empty()) return folders;  // the root itself has nothing above it
  folders.assign(downward.rbegin(), downward.rend());
  return folders;
}

std::string FolderOf(std::string_view path) {
  const std::vector<std::string> folders = FoldersAbove(path);
  return folders.empty() ? GetParentPath(path) : folders.front();
}

bool HasExtension(std::string_view path) {
  return GetFileName(path).find('.') != std::string::npos;
}

}  // namespace varnok
