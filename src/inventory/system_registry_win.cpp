#include "inventory/system_registry.h"

#include <windows.h>

#include "inventory/inventory.h"

#include "win32/registry.h"
#include "win32/security.h"
#include "win32/text.h"
#include "win32/unique_handle.h"

namespace varnok {
namespace {

HKEY RootHandle(RegistryRoot root) {
  switch (root) {
    case RegistryRoot::kLocalMachine: return HKEY_LOCAL_MACHINE;
    case RegistryRoot::kUsers: return HKEY_USERS;
    case RegistryRoot::kCurrentUser: return HKEY_CURRENT_USER;
    case RegistryRoot::kNone: break;
  }
  return nullptr;
}

REGSAM ViewFlag(RegistryView view) {
  switch (view) {
    case RegistryView::k64: return KEY_WOW64_64KEY;
    case RegistryView::k32: return KEY_WOW64_32KEY;
    case RegistryView::kDefault: break;
  }
  return 0;
}

class Win32Key : public RegistryKey {
 public:
  Win32Key(win32::UniqueRegKey key, REGSAM view) : key_(std::move(key)), view_(view) {}

  unsigned long EnumSubkey(unsigned long index, size_t buffer_chars, std::string* name) override {
    std::wstring buffer(buffer_chars, L'\0');
    DWORD length = static_cast<DWORD>(buffer_chars);
    const LONG rc = ::RegEnumKeyExW(key_.get(), index, buffer.data(), &length, nullptr, nullptr,
                                    nullptr, nullptr);
    if (rc != ERROR_SUCCESS) return static_cast<unsigned long>(rc);
    buffer.resize(length < buffer_chars ? length : buffer_chars);
    *name = win32::Utf8(buffer);
    return kErrorSuccess;
  }

  unsigned long QueryValue(const std::string& value_name, unsigned long* type,
                           std::vector<char>* data, unsigned long* stored_bytes) override {
    win32::RegistryValue value;
    DWORD stored = 0;
    const LONG rc = win32::QueryRegistryValue(key_.get(), win32::Wide(value_name).c_str(), &value,
                                              kMaxRegistryValueBytes, &stored);
    if (rc == ERROR_FILE_TOO_LARGE && stored_bytes) *stored_bytes = stored;
    if (rc != ERROR_SUCCESS) return static_cast<unsigned long>(rc);
    *type = value.type;
    *data = value.type == REG_SZ || value.type == REG_EXPAND_SZ ? win32::TextAsRead(value.data)
                                                                 : std::move(value.data);
    return kErrorSuccess;
  }

  unsigned long EnumValueName(unsigned long index, std::string* name) override {
    // A value name has at most 16,383 characters.
    std::wstring buffer(16384, L'\0');
    DWORD length = static_cast<DWORD>(buffer.size());
    const LONG rc = ::RegEnumValueW(key_.get(), index, buffer.data(), &length, nullptr, nullptr,
                                    nullptr, nullptr);
    if (rc != ERROR_SUCCESS) return static_cast<unsigned long>(rc);
    buffer.resize(length < buffer.size() ? length : buffer.size());
    *name = win32::Utf8(buffer);
    return kErrorSuccess;
  }

  unsigned long ReadSecurity(FileSecurity* security) override {
    return win32::ReadObjectSecurity(key_.get(), SE_REGISTRY_KEY, security);
  }

  // Relative to this key: opening by the full path again costs a walk from the root per row.
  unsigned long OpenSubkey(const std::string& name, std::unique_ptr<RegistryKey>* key) override {
    if (name.empty()) return kErrorFileNotFound;  // would open this key itself
    return Open(key_.get(), win32::Wide(name).c_str(), view_, key);
  }

  static unsigned long Open(HKEY parent, const wchar_t* path, REGSAM view,
                            std::unique_ptr<RegistryKey>* key) {
    win32::UniqueRegKey opened;
    const LONG rc = ::RegOpenKeyExW(parent, path, 0, KEY_READ | view, opened.put());
    if (rc != ERROR_SUCCESS) return static_cast<unsigned long>(rc);
    if (!opened) return kErrorInvalidHandle;
    *key = std::make_unique<Win32Key>(std::move(opened), view);
    return kErrorSuccess;
  }

 private:
  win32::UniqueRegKey key_;
  REGSAM view_;
};

// One RegNotifyChangeKeyValue at a time, armed again at every wake. The thread that armed it
// must live while it is armed (Windows 7): the run's only thread does both.
class Win32KeyWatch : public KeyChangeWatch {
 public:
  Win32KeyWatch(win32::UniqueRegKey key, win32::UniqueHandle event)
      : key_(std::move(key)), event_(std::move(event)) {}

  bool Arm() {
    armed_ = ::RegNotifyChangeKeyValue(key_.get(), TRUE,
                                       REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET,
                                       event_.get(), TRUE) == ERROR_SUCCESS;
    return armed_;
  }

  bool Wait(unsigned long timeout_ms) override {
    if (armed_) {
      const DWORD result = ::WaitForSingleObject(event_.get(), timeout_ms);
      if (result == WAIT_TIMEOUT) return false;
      if (result == WAIT_OBJECT_0) {
        Arm();  // fails once the key itself is deleted; the waits then only sleep
        Pace(timeout_ms);
        return true;
      }
      armed_ = false;
    }
    ::Sleep(timeout_ms);
    return false;
  }

 private:
  // Anyone can change the keys of their own hive without pause; at most ten looks a second.
  void Pace(unsigned long timeout_ms) {
    const ULONGLONG since = ::GetTickCount64() - last_wake_;
    if (since < kMinWakeGapMs) {
      const ULONGLONG pause = kMinWakeGapMs - since;
      ::Sleep(static_cast<DWORD>(pause < timeout_ms ? pause : timeout_ms));
    }
    last_wake_ = ::GetTickCount64();
  }

  static constexpr ULONGLONG kMinWakeGapMs = 100;
  win32::UniqueRegKey key_;
  win32::UniqueHandle event_;
  bool armed_ = false;
  ULONGLONG last_wake_ = 0;
};

class Win32Registry : public RegistrySource {
 public:
  std::unique_ptr<KeyChangeWatch> WatchKey(RegistryRoot root, RegistryView view,
                                           const std::string& path) override {
    const HKEY root_handle = RootHandle(root);
    if (!root_handle || path.empty()) return nullptr;
    win32::UniqueRegKey key;
    if (::RegOpenKeyExW(root_handle, win32::Wide(path).c_str(), 0, KEY_NOTIFY | ViewFlag(view),
                        key.put()) !=
        ERROR_SUCCESS) {
      return nullptr;
    }
    win32::UniqueHandle event(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
    if (!event) return nullptr;
    auto watch = std::make_unique<Win32KeyWatch>(std::move(key), std::move(event));
    if (!watch->Arm()) return nullptr;
    return watch;
  }

  unsigned long OpenKey(RegistryRoot root, RegistryView view, const std::string& path,
                        std::unique_ptr<RegistryKey>* key) override {
    const HKEY root_handle = RootHandle(root);
    if (!root_handle) return kErrorInvalidHandle;
    const std::wstring wide = win32::Wide(path);
    return Win32Key::Open(root_handle, path.empty() ? nullptr : wide.c_str(), ViewFlag(view), key);
  }
};

}  // namespace

RegistrySource& SystemRegistry() {
  static Win32Registry registry;
  return registry;
}

std::string ProcessUserSid() { return win32::ProcessTokenSidText(TokenUser); }

bool IsRunningAsSystem() { return IsLocalSystemSid(ProcessUserSid()); }

}  // namespace varnok
