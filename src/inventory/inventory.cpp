#include "inventory/inventory.h"

#include <cstring>

#include "common/strings.h"
#include "log/log.h"

namespace varnok {
namespace {

constexpr size_t kRowNameBufferChars = 260;
constexpr size_t kUserNameBufferChars = 256;

std::vector<UninstallView> BuildLocations(RegistrySource& registry, bool running_as_system,
                                          bool one_machine_view) {
  std::vector<UninstallView> views = {{RegistryRoot::kLocalMachine, true, "x64/native", ""}};
  // Without WOW64 both flags open the one machine-wide key: reading it twice would run and count
  // every machine-wide row twice.
  if (!one_machine_view) views.push_back({RegistryRoot::kLocalMachine, false, "x86-on-x64", ""});
  if (running_as_system) {
    for (const std::string& sid : GetUserProfileSids(registry)) {
      views.push_back({RegistryRoot::kUsers, true, "per-user (" + sid + ")", sid + "\\"});
    }
  } else {
    views.push_back({RegistryRoot::kCurrentUser, true, "per-user", ""});
  }
  return views;
}

// A value too large to read is named once in the log; its field stays empty.
void LogValueTooLarge(const std::string& row_path, const char* value_name,
                      unsigned long stored_bytes) {
  LogInfo("operation : GetUninstallEntries; registry_path : \"%s\"; value_name : \"%s\"; "
          "value_size : %lu; remarks : \"Value larger than %lu bytes not read.\";",
          row_path.c_str(), value_name, stored_bytes, kMaxRegistryValueBytes);
}

// `expand_sz` given: REG_EXPAND_SZ is read as well, and it tells which type the value had.
unsigned long ReadField(RegistryKey& key, const std::string& row_path, const char* value_name,
                        std::string* field, bool* expand_sz = nullptr) {
  unsigned long stored_bytes = 0;
  const unsigned long rc =
      expand_sz ? ReadRegistryCommandString(key, value_name, field, expand_sz, &stored_bytes)
                : ReadRegistryString(key, value_name, field, &stored_bytes);
  if (rc == kErrorValueTooLarge) LogValueTooLarge(row_path, value_name, stored_bytes);
  return rc;
}

// The stored bytes of a string value as text: the final byte is taken for the terminator whether
// or not it is one. An embedded NUL ends the text as well: the C APIs that later see the text
// would stop there, and the program must log and act on the same text.
void TextOfStoredBytes(const std::vector<char>& data, std::string* text) {
  if (data.empty()) {
    text->clear();
    return;
  }
  text->assign(data.data(), strnlen(data.data(), data.size() - 1));
}

// Reads one row; false when it has no usable DisplayName and is dropped. The row's key is opened
// once for all of its values.
bool ReadRow(RegistryKey& uninstall, const UninstallView& view, const std::string& row_path,
             const std::string& key_name, UninstallEntry* entry) {
  std::unique_ptr<RegistryKey> key;
  if (uninstall.OpenSubkey(key_name, &key) != kErrorSuccess) return false;
  std::string display_name;
  if (ReadField(*key, row_path, "DisplayName", &display_name) != kErrorSuccess ||
      display_name.empty()) {
    return false;
  }
  entry->root = view.root;
  entry->view_64bit = view.view_64bit;
  entry->arch = view.arch;
  entry->registry_path = row_path;
  entry->key_name = key_name;
  entry->display_name = std::move(display_name);
  // Absent, retyped or unreadable values leave their field empty.
  ReadField(*key, row_path, "DisplayVersion", &entry->display_version);
  ReadField(*key, row_path, "Publisher", &entry->publisher);
  // The command values may hold variables (Windows Installer itself writes UninstallString as
  // REG_EXPAND_SZ); they are expanded later, for the rows that match only.
  ReadField(*key, row_path, "InstallLocation", &entry->install_location,
            &entry->expand_sz.install_location);
  ReadField(*key, row_path, "UninstallString", &entry->uninstall_string,
            &entry->expand_sz.uninstall_string);
  ReadField(*key, row_path, "QuietUninstallString", &entry->quiet_uninstall_string,
            &entry->expand_sz.quiet_uninstall_string);
  unsigned long flag = 0;
  unsigned long stored_bytes = 0;
  if (ReadWindowsInstallerFlag(*key, &flag, &stored_bytes) == kErrorValueTooLarge) {
    LogValueTooLarge(row_path, "WindowsInstaller", stored_bytes);
  }
  entry->is_windows_installer = flag == 1;
  return true;
}

void ReadLocation(RegistrySource& registry, const UninstallView& view,
                  std::vector<UninstallEntry>* entries) {
  const std::string path = view.subkey_prefix + kUninstallKeyPath;
  std::unique_ptr<RegistryKey> uninstall;
  const unsigned long rc = registry.OpenKey(view.root, ViewOf(view.view_64bit), path, &uninstall);
  if (rc != kErrorSuccess) {
    LogInfo("operation : GetUninstallEntries; arch : \"%s\"; remarks : \"Uninstall registry path "
            "not accessible.\"; error_code : %d;",
            view.arch.c_str(), static_cast<int>(rc));
    return;
  }
  for (unsigned long index = 0;; ++index) {
    std::string name;
    const unsigned long enum_rc = uninstall->EnumSubkey(index, kRowNameBufferChars, &name);
    if (enum_rc == kErrorNoMoreItems) break;
    if (enum_rc != kErrorSuccess) {
      LogInfo("operation : GetUninstallEntries; arch : \"%s\"; remarks : \"Skipping subkey at "
              "index %lu.\"; error_code : %d;",
              view.arch.c_str(), index, static_cast<int>(enum_rc));
      continue;
    }
    UninstallEntry entry;
    if (ReadRow(*uninstall, view, path + "\\" + name, name, &entry)) {
      entries->push_back(std::move(entry));
    }
  }
}

}  // namespace

std::vector<UninstallEntry> GetUninstallEntries(RegistrySource& registry, bool running_as_system,
                                                bool one_machine_view) {
  std::vector<UninstallEntry> entries;
  for (const UninstallView& view :
       BuildLocations(registry, running_as_system, one_machine_view)) {
    ReadLocation(registry, view, &entries);
  }
  LogInfo("operation : GetUninstallEntries; remarks : \"Registry uninstall entries loaded.\"; "
          "entry_count : %zu;",
          entries.size());
  return entries;
}

std::vector<std::string> GetUserProfileSids(RegistrySource& registry) {
  std::vector<std::string> sids;
  std::unique_ptr<RegistryKey> users;
  if (registry.OpenKey(RegistryRoot::kUsers, RegistryView::kDefault, "", &users) != kErrorSuccess) {
    return sids;
  }
  for (unsigned long index = 0;; ++index) {
    std::string name;
    const unsigned long rc = users->EnumSubkey(index, kUserNameBufferChars, &name);
    if (rc == kErrorNoMoreItems) break;
    if (rc != kErrorSuccess) continue;
    // Domain and local accounts carry S-1-5-21- SIDs; accounts of a cloud directory S-1-12-1-.
    const bool user_sid = StartsWithNoCase(name, "S-1-5-21-") || StartsWithNoCase(name, "S-1-12-1-");
    if (user_sid && name.find("_Classes") == std::string::npos) sids.push_back(name);
  }
  return sids;
}

unsigned long ReadRegistryString(RegistryKey& key, const std::string& value_name,
                                 std::string* text, unsigned long* stored_bytes) {
  unsigned long type = 0;
  std::vector<char> data;
  const unsigned long rc = key.QueryValue(value_name, &type, &data, stored_bytes);
  if (rc != kErrorSuccess) return rc;
  if (type != kRegSz) return kErrorInvalidDatatype;
  TextOfStoredBytes(data, text);
  return kErrorSuccess;
}

unsigned long ReadRegistryCommandString(RegistryKey& key, const std::string& value_name,
                                        std::string* text, bool* expand_sz,
                                        unsigned long* stored_bytes) {
  unsigned long type = 0;
  std::vector<char> data;
  const unsigned long rc = key.QueryValue(value_name, &type, &data, stored_bytes);
  if (rc != kErrorSuccess) return rc;
  if (type != kRegSz && type != kRegExpandSz) return kErrorInvalidDatatype;
  TextOfStoredBytes(data, text);
  *expand_sz = type == kRegExpandSz;
  return kErrorSuccess;
}

unsigned long ReadWindowsInstallerFlag(RegistryKey& key, unsigned long* number,
                                       unsigned long* stored_bytes) {
  *number = 0;
  unsigned long type = 0;
  std::vector<char> data;
  const unsigned long rc = key.QueryValue("WindowsInstaller", &type, &data, stored_bytes);
  if (rc != kErrorSuccess) return rc;
  if (data.size() > 4) return kErrorMoreData;
  if (type != kRegDword) return kErrorInvalidDatatype;
  unsigned char bytes[4] = {0, 0, 0, 0};
  if (!data.empty()) std::memcpy(bytes, data.data(), data.size());  // a 0-byte DWORD reads as 0
  *number = static_cast<unsigned long>(bytes[0]) | (static_cast<unsigned long>(bytes[1]) << 8) |
            (static_cast<unsigned long>(bytes[2]) << 16) |
            (static_cast<unsigned long>(bytes[3]) << 24);
  return kErrorSuccess;
}

bool IsLocalSystemSid(std::string_view sid) { return EqualsNoCase(sid, "S-1-5-18"); }

std::vector<std::string> GetRowValueNames(RegistrySource& registry, const UninstallEntry& entry) {
  std::vector<std::string> names;
  std::unique_ptr<RegistryKey> key;
  if (entry.root == RegistryRoot::kNone || entry.registry_path.empty() ||
      registry.OpenKey(entry.root, ViewOf(entry.view_64bit), entry.registry_path, &key) !=
          kErrorSuccess) {
    return names;
  }
  for (unsigned long index = 0; index < kMaxRowValueNames; ++index) {
    std::string name;
    const unsigned long rc = key->EnumValueName(index, &name);
    if (rc == kErrorNoMoreItems) break;
    if (rc == kErrorSuccess) names.push_back(std::move(name));
  }
  return names;
}

unsigned long ReadRowKeySecurity(RegistrySource& registry, const UninstallEntry& entry,
                                 FileSecurity* security) {
  if (entry.root == RegistryRoot::kNone || entry.registry_path.empty()) return kErrorFileNotFound;
  std::unique_ptr<RegistryKey> key;
  const unsigned long rc =
      registry.OpenKey(entry.root, ViewOf(entry.view_64bit), entry.registry_path, &key);
  if (rc != kErrorSuccess) return rc;
  return key->ReadSecurity(security);
}

bool IsUninstallEntryPresent(RegistrySource& registry, const UninstallEntry& entry) {
  if (entry.root == RegistryRoot::kNone || entry.registry_path.empty()) return false;
  std::unique_ptr<RegistryKey> key;
  if (registry.OpenKey(entry.root, ViewOf(entry.view_64bit), entry.registry_path, &key) !=
      kErrorSuccess) {
    return false;
  }
  std::string display_name;
  return ReadRegistryString(*key, "DisplayName", &display_name) == kErrorSuccess &&
         !display_name.empty();
}

}  // namespace varnok
