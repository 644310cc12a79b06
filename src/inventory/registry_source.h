// The registry as the inventory sees it: a narrow interface of our own, so that the inventory's
// logic runs against the real Win32 registry on Windows and against a small fake in host tests.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "inventory/uninstall_entry.h"

namespace varnok {

struct FileSecurity;  // process/file_trust.h

// Win32 error numbers and registry value types the inventory relies on.
constexpr unsigned long kErrorSuccess = 0;
constexpr unsigned long kErrorFileNotFound = 2;
constexpr unsigned long kErrorAccessDenied = 5;
constexpr unsigned long kErrorInvalidHandle = 6;
constexpr unsigned long kErrorInvalidParameterCode = 87;
constexpr unsigned long kErrorValueTooLarge = 223;  // ERROR_FILE_TOO_LARGE
constexpr unsigned long kErrorMoreData = 234;
constexpr unsigned long kErrorNoMoreItems = 259;
constexpr unsigned long kErrorInvalidDatatype = 1804;

constexpr unsigned long kRegSz = 1;
constexpr unsigned long kRegExpandSz = 2;
constexpr unsigned long kRegBinary = 3;
constexpr unsigned long kRegDword = 4;

// Largest registry value the program reads. Anyone can write values of megabytes into the rows of
// their own hive; a row's fields never need more.
constexpr unsigned long kMaxRegistryValueBytes = 65536;

// Which registry view a key is opened in: KEY_WOW64_64KEY, KEY_WOW64_32KEY, or neither.
enum class RegistryView { kDefault, k64, k32 };

inline RegistryView ViewOf(bool view_64bit) {
  return view_64bit ? RegistryView::k64 : RegistryView::k32;
}

// An open key; closed when the object is destroyed.
class RegistryKey {
 public:
  virtual ~RegistryKey() = default;
  // Name of the subkey at `index` (name buffer of `buffer_chars` characters including its
  // terminator). kErrorNoMoreItems ends an enumeration; any other error concerns this index only.
  virtual unsigned long EnumSubkey(unsigned long index, size_t buffer_chars, std::string* name) = 0;
  // Type and stored bytes of a value, REG_SZ and REG_EXPAND_SZ as UTF-8 text with one final byte
  // a reader drops (the Windows build's are the stored UTF-16 characters but the last, then a
  // NUL); `type` and `data` are set only on success. A value of more than
  // kMaxRegistryValueBytes (characters of a text, bytes of anything else) is not read:
  // kErrorValueTooLarge, with `stored_bytes` (when given) set to its size.
  virtual unsigned long QueryValue(const std::string& value_name, unsigned long* type,
                                   std::vector<char>* data, unsigned long* stored_bytes) = 0;
  // Opens the direct subkey `name` for reading, in this key's view. `key` is set only on success.
  virtual unsigned long OpenSubkey(const std::string& name, std::unique_ptr<RegistryKey>* key) = 0;
  // Name of the value at `index`; kErrorNoMoreItems ends an enumeration.
  virtual unsigned long EnumValueName(unsigned long index, std::string* name) = 0;
  // The key's own owner and DACL (the key was opened for reading, which includes reading its
  // security). `security` is set only on success.
  virtual unsigned long ReadSecurity(FileSecurity* security) = 0;
};

// Wakes when a watched key changes: a subkey comes or goes, or a value in it or below it is set
// or deleted.
class KeyChangeWatch {
 public:
  virtual ~KeyChangeWatch() = default;
  // True when the key changed since the watch was made or last woke (it is watched again before
  // this returns, so no later change is missed); false after `timeout_ms` without a change.
  virtual bool Wait(unsigned long timeout_ms) = 0;
};

class RegistrySource {
 public:
  virtual ~RegistrySource() = default;
  // Watches root\path in `view`, from now on; nullptr when it cannot.
  virtual std::unique_ptr<KeyChangeWatch> WatchKey(RegistryRoot, RegistryView, const std::string&) {
    return nullptr;
  }
  // Opens root\path for reading in `view` (an empty path opens the root itself). `key` is set
  // only on success.
  virtual unsigned long OpenKey(RegistryRoot root, RegistryView view, const std::string& path,
                                std::unique_ptr<RegistryKey>* key) = 0;
};

}  // namespace varnok
