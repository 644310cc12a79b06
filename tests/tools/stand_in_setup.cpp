// stand_in_setup.exe: setup and uninstaller of the products whose installer technology cannot be
// built here, a WiX Burn bundle and a Squirrel app, for the Wine tests and the bench.
//   stand_in_setup.exe install burn|squirrel
//       Lays the product out as that technology does: a copy of this program as its uninstaller,
//       the product's files, and its Uninstall row. The uninstaller's settings go beside it, in
//       stand-in.txt.
//   <uninstaller> <arguments>
//       With all of the technology's silent arguments, hands the removal to a copy of itself in
//       %TEMP% and returns 0 at once (a program cannot delete its own folder while it runs); the
//       copy waits until it has ended, then removes the row and the product's folders. Without
//       them, it asks in a message box, as the real uninstallers show their windows, and waits.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace {

constexpr char kSettings[] = "stand-in.txt";
constexpr char kUninstall[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

std::string Expand(const char* text) {
  char out[MAX_PATH] = {};
  ExpandEnvironmentStringsA(text, out, MAX_PATH);
  return out;
}

std::string Self() {
  char path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  return path;
}

std::string FolderOf(const std::string& path) { return path.substr(0, path.find_last_of('\\')); }
std::string NameOf(const std::string& path) { return path.substr(path.find_last_of('\\') + 1); }

// Creates every missing folder of `path`.
void MakeFolders(const std::string& path) {
  for (size_t at = path.find('\\', 3); at != std::string::npos; at = path.find('\\', at + 1)) {
    CreateDirectoryA(path.substr(0, at).c_str(), nullptr);
  }
  CreateDirectoryA(path.c_str(), nullptr);
}

void RemoveTree(const std::string& dir) {
  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA((dir + "\\*").c_str(), &data);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      const std::string name = data.cFileName;
      if (name == "." || name == "..") continue;
      const std::string child = dir + "\\" + name;
      if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        RemoveTree(child);
      } else {
        DeleteFileA(child.c_str());
      }
    } while (FindNextFileA(find, &data));
    FindClose(find);
  }
  RemoveDirectoryA(dir.c_str());
}

struct Row {
  HKEY root;
  REGSAM view;
  std::string key;
};

Row ParseRow(const std::string& text) {  // "<HKLM32|HKLM64|HKCU> <key>"
  const std::string where = text.substr(0, text.find(' '));
  const HKEY root = where == "HKCU" ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
  const REGSAM view = where == "HKLM64" ? KEY_WOW64_64KEY : where == "HKLM32" ? KEY_WOW64_32KEY : 0;
  return {root, view, text.substr(text.find(' ') + 1)};
}

// stand-in.txt: one "<word> <value>" a line: name, silent (the arguments that must all be
// given), row, remove (a folder; any number).
struct Settings {
  std::string name;
  std::vector<std::string> silent;
  std::string row;
  std::vector<std::string> remove;
};

bool ReadSettings(const std::string& path, Settings* settings) {
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    const size_t blank = line.find(' ');
    if (blank == std::string::npos) continue;
    const std::string word = line.substr(0, blank);
    const std::string value = line.substr(blank + 1);
    if (word == "name") settings->name = value;
    if (word == "row") settings->row = value;
    if (word == "remove") settings->remove.push_back(value);
    if (word == "silent") {
      for (size_t start = 0; start < value.size();) {
        size_t end = value.find(' ', start);
        if (end == std::string::npos) end = value.size();
        if (end > start) settings->silent.push_back(value.substr(start, end - start));
        start = end + 1;
      }
    }
  }
  return !settings->name.empty() && !settings->row.empty();
}

struct Value {
  const char* name;
  DWORD type;
  std::string data;  // REG_SZ: the text; REG_MULTI_SZ: the strings, each followed by a NUL
};

bool Install(const std::string& settings_text, const std::string& uninstaller,
             const std::vector<std::string>& files, const Row& row, const std::vector<Value>& values) {
  MakeFolders(FolderOf(uninstaller));
  bool ok = CopyFileA(Self().c_str(), uninstaller.c_str(), FALSE) != FALSE;
  for (const std::string& file : files) {
    MakeFolders(FolderOf(file));
    ok = CopyFileA(Self().c_str(), file.c_str(), FALSE) && ok;
  }
  std::ofstream(FolderOf(uninstaller) + "\\" + kSettings) << settings_text;
  HKEY key = nullptr;
  const std::string path = std::string(kUninstall) + "\\" + row.key;
  if (RegCreateKeyExA(row.root, path.c_str(), 0, nullptr, 0, KEY_WRITE | row.view, nullptr, &key,
                      nullptr) != ERROR_SUCCESS) {
    return false;
  }
  for (const Value& value : values) {
    const std::string data = value.data + std::string(1, '\0');
    ok = RegSetValueExA(key, value.name, 0, value.type, reinterpret_cast<const BYTE*>(data.data()),
                        static_cast<DWORD>(data.size())) == ERROR_SUCCESS && ok;
  }
  RegCloseKey(key);
  return ok;
}

// A per-machine bundle: its engine cached under Package Cache\{bundle id}, its row named by the
// bundle id in the 32-bit view, UninstallString "<cached engine>"  /uninstall. (Burn writes a
// quiet command as well; a row without one is what the program has to complete.)
bool InstallBurn() {
  const std::string id = "{8F3C6A52-4B1D-4E7A-9C2F-5D6E7A8B9C01}";
  const std::string cache = Expand("%ProgramData%\\Package Cache\\") + id;
  const std::string engine = cache + "\\WoodgroveSuite.exe";
  const std::string product = Expand("%ProgramFiles(x86)%\\Woodgrove Suite");
  const std::string settings = "name Woodgrove Suite\nsilent /uninstall /quiet /norestart\nrow HKLM32 " +
                               id + "\nremove " + cache + "\nremove " + product + "\n";
  return Install(settings, engine, {product + "\\suite.exe"}, {HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY, id},
                 {{"DisplayName", REG_SZ, "Woodgrove Suite"},
                  {"DisplayVersion", REG_SZ, "7.2.0"},
                  {"Publisher", REG_SZ, "Woodgrove Bank"},
                  {"BundleVersion", REG_SZ, "7.2.0.0"},
                  {"BundleProviderKey", REG_SZ, id},
                  {"BundleUpgradeCode", REG_MULTI_SZ,
                   std::string("{2E4B7D19-6C3A-4F58-B0E1-9A7C5D3F1E24}") + '\0'},
                  {"BundleCachePath", REG_SZ, engine},
                  {"UninstallString", REG_SZ, "\"" + engine + "\"  /uninstall"}});
}

// A Squirrel app: Update.exe at the top of its folder in %LOCALAPPDATA%, the app in app-<version>,
// the row in HKCU under the app's id. (Squirrel writes a quiet command as well; a row without one is
// what the program has to complete.)
bool InstallSquirrel() {
  const std::string root = Expand("%LOCALAPPDATA%\\ProsewareChat");
  const std::string update = root + "\\Update.exe";
  const std::string settings = "name Proseware Chat\nsilent --uninstall -s\nrow HKCU ProsewareChat\nremove " +
                               root + "\n";
  return Install(settings, update, {root + "\\ProsewareChat.exe", root + "\\app-1.2.0\\ProsewareChat.exe"},
                 {HKEY_CURRENT_USER, 0, "ProsewareChat"},
                 {{"DisplayName", REG_SZ, "Proseware Chat"},
                  {"DisplayVersion", REG_SZ, "1.2.0"},
                  {"Publisher", REG_SZ, "Proseware"},
                  {"InstallLocation", REG_SZ, root},
                  {"DisplayIcon", REG_SZ, root + "\\app.ico"},
                  {"UninstallString", REG_SZ, "\"" + update + "\" --uninstall"}});
}

// The copy in %TEMP%: once the uninstaller that started it has ended, removes the product.
int Finish(DWORD parent_id, const std::string& settings_path) {
  Settings settings;
  if (!ReadSettings(settings_path, &settings)) return 2;
  if (HANDLE parent = OpenProcess(SYNCHRONIZE, FALSE, parent_id)) {
    WaitForSingleObject(parent, 10000);
    CloseHandle(parent);
  }
  const Row row = ParseRow(settings.row);
  HKEY uninstall = nullptr;
  if (RegOpenKeyExA(row.root, kUninstall, 0, KEY_ALL_ACCESS | row.view, &uninstall) == ERROR_SUCCESS) {
    RegDeleteKeyExA(uninstall, row.key.c_str(), row.view, 0);
    RegCloseKey(uninstall);
  }
  for (const std::string& folder : settings.remove) RemoveTree(folder);
  return 0;
}

int Uninstall(int argc, char** argv) {
  const std::string self = Self();
  const std::string settings_path = FolderOf(self) + "\\" + kSettings;
  Settings settings;
  if (!ReadSettings(settings_path, &settings)) return 2;
  for (const std::string& word : settings.silent) {
    bool given = false;
    for (int i = 1; i < argc; ++i) given = given || word == argv[i];
    if (!given) {
      const std::string question = "Do you want to remove " + settings.name + "?";
      MessageBoxA(nullptr, question.c_str(), settings.name.c_str(), MB_YESNO | MB_ICONQUESTION);
      return 1602;
    }
  }
  char temp[MAX_PATH] = {};
  GetTempPathA(MAX_PATH, temp);
  const std::string folder = std::string(temp) + "stand-in-" + std::to_string(GetCurrentProcessId());
  const std::string copy = folder + "\\" + NameOf(self);
  CreateDirectoryA(folder.c_str(), nullptr);
  if (!CopyFileA(self.c_str(), copy.c_str(), FALSE)) return 3;
  std::string line = "\"" + copy + "\" --finish " + std::to_string(GetCurrentProcessId()) + " \"" +
                     settings_path + "\"";
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                      folder.c_str(), &startup, &process)) {
    return 4;
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string first = argc > 1 ? argv[1] : "";
  if (first == "install" && argc > 2) {
    const std::string technology = argv[2];
    if (technology == "burn") return InstallBurn() ? 0 : 1;
    if (technology == "squirrel") return InstallSquirrel() ? 0 : 1;
    return 2;
  }
  if (first == "--finish" && argc > 3) {
    return Finish(static_cast<DWORD>(std::strtoul(argv[2], nullptr, 10)), argv[3]);
  }
  return Uninstall(argc, argv);
}
