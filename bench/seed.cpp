// seed.exe rows <N> | clear <N>
// Writes (or deletes again) N Uninstall rows spread over the 64-bit and 32-bit views of
// HKEY_LOCAL_MACHINE and over HKEY_CURRENT_USER. Row i is a pure function of i, so `clear N`
// removes exactly what `rows N` wrote and nothing that was there before. Exactly one row is the
// benchmark's target: "Contoso Bench Tool" 2.4, a Windows Installer row in the 32-bit view.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr char kUninstall[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

struct Location {
  HKEY root;
  REGSAM view;
  const char* program_files;
};

// 2 of 5 rows in each machine view, 1 of 5 per user: machine-wide installs dominate real hosts.
const Location kLocations[] = {
    {HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, "C:\\Program Files"},
    {HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, "C:\\Program Files"},
    {HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY, "C:\\Program Files (x86)"},
    {HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY, "C:\\Program Files (x86)"},
    {HKEY_CURRENT_USER, 0, "C:\\Users\\bench\\AppData\\Local\\Programs"},
};

const char* const kVendors[] = {"Fabrikam",      "Northwind Traders", "Adventure Works",
                                "Tailspin Toys", "Wingtip",           "Litware",
                                "Proseware",     "Woodgrove",         "Lucerne Publishing",
                                "Coho Vineyard", "Alpine Ski House",  "Contoso"};
const char* const kProducts[] = {"Photo Studio",   "PDF Reader",       "Backup Agent",
                                 "VPN Client",     "Runtime",          "Driver Package",
                                 "SDK",            "Update Helper",    "Office Connector",
                                 "Media Player",   "Remote Assistant", "Print Manager",
                                 "Sync Service",   "Code Editor",      "Database Tools"};

uint64_t Mix(uint64_t x) {  // splitmix64: a cheap, well-spread function of the row index
  x += 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

struct Row {
  const Location* location = nullptr;
  std::string key_name;
  std::string display_name;
  std::string display_version;
  std::string publisher;
  std::string install_location;
  std::string uninstall_string;
  std::string quiet_uninstall_string;  // empty: not written
  bool windows_installer = false;
};

std::string Guid(uint32_t index, uint64_t bits) {
  char text[64];
  // The first field is a bijection of the index, so product codes never collide.
  std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%04X-%012llX}",
                static_cast<unsigned>(index * 2654435761u), static_cast<unsigned>(bits & 0xFFFF),
                static_cast<unsigned>((bits >> 16) & 0xFFFF),
                static_cast<unsigned>((bits >> 32) & 0xFFFF),
                static_cast<unsigned long long>(Mix(bits) & 0xFFFFFFFFFFFFull));
  return text;
}

size_t TargetIndex(size_t count) { return (count / 2) / 5 * 5 + 2; }  // a 32-bit-view slot

Row MakeRow(size_t index, size_t count) {
  Row row;
  row.location = &kLocations[index % 5];
  const uint64_t r = Mix(index);
  if (index == TargetIndex(count)) {
    row.key_name = Guid(static_cast<uint32_t>(index), r);
    row.display_name = "Contoso Bench Tool";
    row.display_version = "2.4";
    row.publisher = "Contoso Ltd.";
    row.install_location = "C:\\Program Files (x86)\\Contoso\\Bench Tool\\";
    row.uninstall_string = "MsiExec.exe /X" + row.key_name;
    row.windows_installer = true;
    return row;
  }
  const std::string vendor = kVendors[r % 12];
  const std::string product = kProducts[(r >> 8) % 15];
  // The index keeps names unique; real hosts have many editions of one product side by side.
  row.display_name = vendor + " " + product + " " + std::to_string(1000 + index);
  row.display_version = std::to_string((r >> 16) % 30) + "." + std::to_string((r >> 24) % 20) +
                        "." + std::to_string((r >> 32) % 9000 + 100);
  row.publisher = vendor + ((r >> 40) % 2 ? " Inc." : " Corporation");
  const std::string folder =
      std::string(row.location->program_files) + "\\" + vendor + "\\" + product;
  if ((r >> 44) % 3 == 0) {
    row.windows_installer = true;
    row.key_name = Guid(static_cast<uint32_t>(index), r);
    // Windows Installer leaves InstallLocation empty unless the package sets ARPINSTALLLOCATION.
    if ((r >> 48) % 2) row.install_location = folder + "\\";
    row.uninstall_string = "MsiExec.exe /X" + row.key_name;
    return row;
  }
  row.install_location = folder;
  switch ((r >> 50) % 5) {
    case 0:  // NSIS
      row.key_name = row.display_name;
      row.uninstall_string = "\"" + folder + "\\Uninstall.exe\"";
      row.quiet_uninstall_string = row.uninstall_string + " /S";
      break;
    case 1:  // Inno Setup
      row.key_name = row.display_name + "_is1";
      row.uninstall_string = "\"" + folder + "\\unins000.exe\"";
      row.quiet_uninstall_string = row.uninstall_string + " /SILENT";
      break;
    case 2:  // InstallShield
      row.key_name = Guid(static_cast<uint32_t>(index), r);
      row.uninstall_string = "\"C:\\Program Files (x86)\\InstallShield Installation Information\\" +
                             row.key_name + "\\setup.exe\" -runfromtemp -l0x0409 -removeonly";
      break;
    case 3: {  // a bundle in the package cache
      row.key_name = Guid(static_cast<uint32_t>(index), Mix(r));
      const std::string exe = "\"C:\\ProgramData\\Package Cache\\" + row.key_name + "\\" +
                              vendor.substr(0, vendor.find(' ')) + "Setup.exe\"";
      row.uninstall_string = exe + " /uninstall";
      row.quiet_uninstall_string = exe + " /uninstall /quiet";
      break;
    }
    default:  // a vendor's own uninstaller
      row.key_name = row.display_name;
      row.uninstall_string = "\"" + folder + "\\uninst.exe\" --uninstall";
      break;
  }
  return row;
}

std::string RowPath(const Row& row) { return std::string(kUninstall) + "\\" + row.key_name; }

bool SetText(HKEY key, const char* name, const std::string& text) {
  return RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                        static_cast<DWORD>(text.size() + 1)) == ERROR_SUCCESS;
}

bool WriteRow(const Row& row) {
  HKEY key = nullptr;
  if (RegCreateKeyExA(row.location->root, RowPath(row).c_str(), 0, nullptr, 0,
                      KEY_SET_VALUE | row.location->view, nullptr, &key,
                      nullptr) != ERROR_SUCCESS) {
    return false;
  }
  bool ok = SetText(key, "DisplayName", row.display_name) &&
            SetText(key, "DisplayVersion", row.display_version) &&
            SetText(key, "Publisher", row.publisher) &&
            SetText(key, "InstallLocation", row.install_location) &&
            SetText(key, "UninstallString", row.uninstall_string);
  if (ok && !row.quiet_uninstall_string.empty()) {
    ok = SetText(key, "QuietUninstallString", row.quiet_uninstall_string);
  }
  if (ok && row.windows_installer) {
    const DWORD one = 1;
    ok = RegSetValueExA(key, "WindowsInstaller", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one),
                        sizeof one) == ERROR_SUCCESS;
  }
  RegCloseKey(key);
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3 || (std::strcmp(argv[1], "rows") != 0 && std::strcmp(argv[1], "clear") != 0)) {
    std::fprintf(stderr, "usage: seed.exe rows|clear <count>\n");
    return 2;
  }
  const bool clear = std::strcmp(argv[1], "clear") == 0;
  const size_t count = std::strtoul(argv[2], nullptr, 10);
  size_t done = 0;
  size_t msi = 0;
  size_t per_location[3] = {0, 0, 0};
  for (size_t i = 0; i < count; ++i) {
    const Row row = MakeRow(i, count);
    bool ok;
    if (clear) {
      ok = RegDeleteKeyExA(row.location->root, RowPath(row).c_str(), row.location->view, 0) ==
           ERROR_SUCCESS;
    } else {
      ok = WriteRow(row);
    }
    if (!ok) {
      std::fprintf(stderr, "seed: %s failed for row %zu (%s)\n", argv[1], i, row.key_name.c_str());
      return 1;
    }
    ++done;
    msi += row.windows_installer ? 1 : 0;
    ++per_location[i % 5 < 2 ? 0 : i % 5 < 4 ? 1 : 2];
  }
  std::printf("%s=%zu hklm64=%zu hklm32=%zu hkcu=%zu windows_installer=%zu\n",
              clear ? "cleared" : "seeded", done, per_location[0], per_location[1],
              per_location[2], msi);
  return 0;
}
