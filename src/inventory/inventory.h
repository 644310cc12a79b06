// Reading the rows of the Windows Uninstall registry key.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "inventory/registry_source.h"
#include "inventory/uninstall_entry.h"

namespace varnok {

constexpr char kUninstallKeyPath[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

// One location to enumerate.
struct UninstallView {
  RegistryRoot root;
  bool view_64bit;
  std::string arch;           // label carried by every entry read there
  std::string subkey_prefix;  // put in front of kUninstallKeyPath
};

// Every row with a non-empty REG_SZ DisplayName of at most kMaxRegistryValueBytes, in location
// order (64-bit view, 32-bit view, then HKEY_CURRENT_USER, or every user hive under LocalSystem)
// and enumeration order within a location; no de-duplication. On 32-bit Windows
// (`one_machine_view`) both view flags reach the same key, so the machine-wide key is read once,
// as the 64-bit view's location. Never fails as a whole: unreadable locations and indexes are
// logged at INFO and skipped; ends with the entry-count line.
std::vector<UninstallEntry> GetUninstallEntries(RegistrySource& registry, bool running_as_system,
                                                bool one_machine_view = false);

// HKEY_USERS subkeys that are loaded user profiles ("S-1-5-21-" or "S-1-12-1-", any case; never
// a "_Classes" hive), in enumeration order. Empty when HKEY_USERS cannot be opened.
std::vector<std::string> GetUserProfileSids(RegistrySource& registry);

// A REG_SZ value of an open key, as text: the stored bytes minus the final one (taken for the
// terminator), and never past an embedded NUL. Returns the Win32 error (kErrorInvalidDatatype
// for any other type, REG_EXPAND_SZ included; kErrorValueTooLarge, with `stored_bytes` set, for
// a value of more than kMaxRegistryValueBytes); `text` is set only on success.
unsigned long ReadRegistryString(RegistryKey& key, const std::string& value_name, std::string* text,
                                 unsigned long* stored_bytes = nullptr);

// As ReadRegistryString, but a REG_EXPAND_SZ value is read too, as its raw text (nothing is
// expanded); `expand_sz` is set with the text, to whether it was REG_EXPAND_SZ.
unsigned long ReadRegistryCommandString(RegistryKey& key, const std::string& value_name,
                                        std::string* text, bool* expand_sz,
                                        unsigned long* stored_bytes = nullptr);

// The WindowsInstaller value: 0 and `number` set when it is a REG_DWORD of at most 4 bytes.
// `number` is 0 unless it succeeds.
unsigned long ReadWindowsInstallerFlag(RegistryKey& key, unsigned long* number,
                                       unsigned long* stored_bytes = nullptr);

// True for the SID of the LocalSystem account, "S-1-5-18" ("s-1-5-18" too): the account whose
// runs read every user's hive and must never act on what a user wrote.
bool IsLocalSystemSid(std::string_view sid);

// The most value names of one row that are read.
constexpr unsigned long kMaxRowValueNames = 512;

// The names of the row's values, in enumeration order, at most kMaxRowValueNames of them; empty
// when its key cannot be opened. An index that fails is skipped.
std::vector<std::string> GetRowValueNames(RegistrySource& registry, const UninstallEntry& entry);

// The owner and DACL of the row's own key, read in its root and view. Returns the Win32 error
// (of opening the key or reading its security); `security` is set only on success.
unsigned long ReadRowKeySecurity(RegistrySource& registry, const UninstallEntry& entry,
                                 FileSecurity* security);

// True while the row's key still has a non-empty REG_SZ DisplayName; a deleted key or value, an
// emptied or retyped DisplayName and an access failure all count as gone.
bool IsUninstallEntryPresent(RegistrySource& registry, const UninstallEntry& entry);

}  // namespace varnok
