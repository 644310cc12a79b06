// paramstr.exe: a stand-in uninstaller that reads its command line the way Delphi's ParamStr and
// many hand-written parsers do: skip the blanks, drop the first word (its own name), and take the
// next word as its first argument. When that argument is "/S" (silent) it removes the Uninstall
// row named as itself (its file name without ".exe"; HKLM in both views and HKCU), appends
// "silent" to <its own path>.log and exits 0; otherwise it exits 1, as an uninstaller that would
// have asked its user does.
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

// One word: blanks end it, except inside double quotes, which are not part of it.
const char* NextWord(const char* p, std::string* word) {
  while (*p == ' ' || *p == '\t') ++p;
  bool quoted = false;
  for (; *p != '\0' && (quoted || (*p != ' ' && *p != '\t')); ++p) {
    if (*p == '"') {
      quoted = !quoted;
    } else {
      *word += *p;
    }
  }
  return p;
}

void DeleteRowsNamed(const std::string& name) {
  const char* uninstall = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
  const struct {
    HKEY root;
    REGSAM view;
  } places[] = {{HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY},
                {HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY},
                {HKEY_CURRENT_USER, 0}};
  for (const auto& place : places) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(place.root, uninstall, 0, KEY_ALL_ACCESS | place.view, &key) == 0) {
      RegDeleteKeyExA(key, name.c_str(), place.view, 0);
      RegCloseKey(key);
    }
  }
}

}  // namespace

int main() {
  std::string own_name;
  std::string first;
  NextWord(NextWord(GetCommandLineA(), &own_name), &first);
  if (first != "/S") return 1;
  char self[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, self, MAX_PATH);
  std::string name = self;
  name = name.substr(name.find_last_of('\\') + 1);
  DeleteRowsNamed(name.substr(0, name.size() - 4));
  if (FILE* f = std::fopen((std::string(self) + ".log").c_str(), "ab")) {
    std::fputs("silent\n", f);
    std::fclose(f);
  }
  return 0;
}
