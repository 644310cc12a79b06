// One row of an Uninstall registry key, as the inventory read it.
#pragma once

#include <string>

namespace varnok {

// The predefined registry root a row was read under.
enum class RegistryRoot { kNone, kLocalMachine, kUsers, kCurrentUser };

// Which of a row's command values were stored as REG_EXPAND_SZ: their fields hold the raw text,
// variables unexpanded, until the run expands them for a row that matched.
struct ExpandSzValues {
  bool install_location = false;
  bool uninstall_string = false;
  bool quiet_uninstall_string = false;
};

// A plain value record. Texts are the registry data as stored (ANSI code page), never trimmed or
// case-folded. `display_name` is never empty in an entry the inventory returns.
struct UninstallEntry {
  RegistryRoot root = RegistryRoot::kNone;
  bool view_64bit = false;       // true: read with KEY_WOW64_64KEY, false: KEY_WOW64_32KEY
  std::string arch;              // "x64/native", "x86-on-x64", "per-user" or "per-user (<SID>)"
  std::string registry_path;     // below root: [<SID>\]SOFTWARE\...\Uninstall\<key_name>
  std::string key_name;
  std::string display_name;            // DisplayName (REG_SZ)
  std::string display_version;         // DisplayVersion (REG_SZ)
  std::string publisher;               // Publisher (REG_SZ)
  std::string install_location;        // InstallLocation (REG_SZ or REG_EXPAND_SZ)
  std::string uninstall_string;        // UninstallString (REG_SZ or REG_EXPAND_SZ)
  std::string quiet_uninstall_string;  // QuietUninstallString (REG_SZ or REG_EXPAND_SZ)
  ExpandSzValues expand_sz;
  bool is_windows_installer = false;   // WindowsInstaller (REG_DWORD) equals 1
};

inline bool IsPerUserRoot(RegistryRoot root) {
  return root == RegistryRoot::kUsers || root == RegistryRoot::kCurrentUser;
}

}  // namespace varnok

namespace varnok {

// The SID of the user hive a per-user row was read from (the first component of its path below
// HKEY_USERS); empty for every other row.
inline std::string OwnerSidOf(const UninstallEntry& entry) {
  if (entry.root != RegistryRoot::kUsers) return std::string();
  const size_t slash = entry.registry_path.find('\\');
  return slash == std::string::npos ? std::string() : entry.registry_path.substr(0, slash);
}

}  // namespace varnok
