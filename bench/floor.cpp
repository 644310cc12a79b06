// floor.exe: the least work that reading the same Uninstall rows can take, the yardstick for
// app_varnok's inventory. Enumerates the three locations the program reads as an ordinary user,
// opens each row once (relative to its Uninstall key) and reads the same seven values with one
// RegQueryValueExA each into a reused buffer, keeping every row in memory as the program does.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr char kUninstall[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

struct Row {
  std::string key_name;
  std::string display_name;
  std::string display_version;
  std::string publisher;
  std::string install_location;
  std::string uninstall_string;
  std::string quiet_uninstall_string;
  bool windows_installer = false;
};

// One call per value; a second only for a value larger than the buffer, which then grows.
LONG Query(HKEY key, const char* name, std::vector<char>* buffer, DWORD* type, DWORD* size) {
  *size = static_cast<DWORD>(buffer->size());
  LONG rc = RegQueryValueExA(key, name, nullptr, type, reinterpret_cast<BYTE*>(buffer->data()),
                             size);
  if (rc == ERROR_MORE_DATA) {
    buffer->resize(*size);
    rc = RegQueryValueExA(key, name, nullptr, type, reinterpret_cast<BYTE*>(buffer->data()),
                          size);
  }
  return rc;
}

void ReadText(HKEY key, const char* name, std::vector<char>* buffer, std::string* text) {
  DWORD type = 0;
  DWORD size = 0;
  if (Query(key, name, buffer, &type, &size) != ERROR_SUCCESS || type != REG_SZ) return;
  text->assign(buffer->data(), strnlen(buffer->data(), size));
}

void ReadLocation(HKEY root, REGSAM view, std::vector<Row>* rows) {
  HKEY uninstall = nullptr;
  if (RegOpenKeyExA(root, kUninstall, 0, KEY_READ | view, &uninstall) != ERROR_SUCCESS) return;
  std::vector<char> buffer(1024);
  char name[260];
  for (DWORD index = 0;; ++index) {
    DWORD length = sizeof name;
    const LONG rc = RegEnumKeyExA(uninstall, index, name, &length, nullptr, nullptr, nullptr,
                                  nullptr);
    if (rc == ERROR_NO_MORE_ITEMS) break;
    if (rc != ERROR_SUCCESS) continue;
    HKEY key = nullptr;
    if (RegOpenKeyExA(uninstall, name, 0, KEY_QUERY_VALUE | view, &key) != ERROR_SUCCESS) continue;
    Row row;
    row.key_name.assign(name, length);
    ReadText(key, "DisplayName", &buffer, &row.display_name);
    ReadText(key, "DisplayVersion", &buffer, &row.display_version);
    ReadText(key, "Publisher", &buffer, &row.publisher);
    ReadText(key, "InstallLocation", &buffer, &row.install_location);
    ReadText(key, "UninstallString", &buffer, &row.uninstall_string);
    ReadText(key, "QuietUninstallString", &buffer, &row.quiet_uninstall_string);
    DWORD type = 0;
    DWORD size = 0;
    if (Query(key, "WindowsInstaller", &buffer, &type, &size) == ERROR_SUCCESS &&
        type == REG_DWORD && size == sizeof(DWORD)) {
      DWORD flag = 0;
      std::memcpy(&flag, buffer.data(), sizeof flag);
      row.windows_installer = flag == 1;
    }
    RegCloseKey(key);
    if (!row.display_name.empty()) rows->push_back(std::move(row));
  }
  RegCloseKey(uninstall);
}

}  // namespace

int main() {
  std::vector<Row> rows;
  ReadLocation(HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, &rows);
  ReadLocation(HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY, &rows);
  ReadLocation(HKEY_CURRENT_USER, 0, &rows);
  // Uses what was read, so that none of it is optimised away, and lets the caller check the data.
  size_t matches = 0;
  size_t windows_installer = 0;
  for (const Row& row : rows) {
    matches += _stricmp(row.display_name.c_str(), "Contoso Bench Tool") == 0 ? 1 : 0;
    windows_installer += row.windows_installer ? 1 : 0;
  }
  std::printf("rows=%zu matches=%zu windows_installer=%zu\n", rows.size(), matches,
              windows_installer);
  return 0;
}
