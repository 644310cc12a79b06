#include "inventory/inventory.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "support/host/fake_registry.h"
#include "support/host/log_capture.h"

namespace varnok {
namespace {

using testing::CapturedLine;
using testing::FakeRegistry;
using testing::TakeLogLines;

constexpr RegistryRoot kHklm = RegistryRoot::kLocalMachine;
constexpr RegistryRoot kHku = RegistryRoot::kUsers;
constexpr RegistryRoot kHkcu = RegistryRoot::kCurrentUser;
constexpr RegistryView k64 = RegistryView::k64;
constexpr RegistryView k32 = RegistryView::k32;
const std::string kU = kUninstallKeyPath;

void AddRow(FakeRegistry& reg, RegistryRoot root, RegistryView view, const std::string& prefix,
            const std::string& key, const std::string& name) {
  reg.SetString(root, view, prefix + kU + "\\" + key, "DisplayName", name);
}

std::string LoadedLine(size_t count) {
  return "operation : GetUninstallEntries; remarks : \"Registry uninstall entries loaded.\"; "
         "entry_count : " + std::to_string(count) + ";";
}

TEST(GetUninstallEntries, ReadsBothViewsThenTheCurrentUserInOrder) {
  FakeRegistry reg;
  AddRow(reg, kHklm, k64, "", "B64", "Native B");
  AddRow(reg, kHklm, k64, "", "A64", "Native A");
  const std::string full = kU + "\\{11111111-2222-3333-4444-555555555555}";
  reg.SetString(kHklm, k32, full, "DisplayName", "Tiny");
  reg.SetString(kHklm, k32, full, "DisplayVersion", "2.3.4");
  reg.SetString(kHklm, k32, full, "Publisher", "Contoso");
  reg.SetString(kHklm, k32, full, "InstallLocation", "C:\\Tiny");
  reg.SetString(kHklm, k32, full, "UninstallString", "MsiExec.exe /I{x}");
  reg.SetString(kHklm, k32, full, "QuietUninstallString", "q");
  reg.SetDword(kHklm, k32, full, "WindowsInstaller", 1);
  AddRow(reg, kHkcu, k64, "", "Mine", "Per User");
  AddRow(reg, kHku, k64, "S-1-5-21-9-9-9-1000\\", "Other", "Not read as a normal user");
  TakeLogLines();

  const auto entries = GetUninstallEntries(reg, /*running_as_system=*/false);
  ASSERT_EQ(entries.size(), 4u);
  EXPECT_EQ(entries[0].display_name, "Native B");  // enumeration order, not sorted
  EXPECT_EQ(entries[1].display_name, "Native A");
  EXPECT_EQ(entries[0].arch, "x64/native");
  EXPECT_TRUE(entries[0].view_64bit);
  EXPECT_EQ(entries[0].registry_path, kU + "\\B64");

  const UninstallEntry& msi = entries[2];
  EXPECT_EQ(msi.root, kHklm);
  EXPECT_FALSE(msi.view_64bit);
  EXPECT_EQ(msi.arch, "x86-on-x64");
  EXPECT_EQ(msi.registry_path, full);
  EXPECT_EQ(msi.key_name, "{11111111-2222-3333-4444-555555555555}");
  EXPECT_EQ(msi.display_version, "2.3.4");
  EXPECT_EQ(msi.publisher, "Contoso");
  EXPECT_EQ(msi.install_location, "C:\\Tiny");
  EXPECT_EQ(msi.uninstall_string, "MsiExec.exe /I{x}");
  EXPECT_EQ(msi.quiet_uninstall_string, "q");
  EXPECT_TRUE(msi.is_windows_installer);

  EXPECT_EQ(entries[3].root, kHkcu);
  EXPECT_EQ(entries[3].arch, "per-user");
  EXPECT_EQ(entries[3].registry_path, kU + "\\Mine");

  EXPECT_EQ(TakeLogLines(), (std::vector<CapturedLine>{{LogLevel::kInfo, LoadedLine(4)}}));
  EXPECT_EQ(reg.open_keys(), 0);
  EXPECT_EQ(reg.opens(), 3 + 4);  // each location once, each row once
}

TEST(GetUninstallEntries, LocalSystemReadsEveryLoadedUserHiveInsteadOfItsOwn) {
  FakeRegistry reg;
  for (const char* hive : {"S-1-5-18", "S-1-5-19", ".DEFAULT", "S-1-5-21-1-2-3-1001",
                           "S-1-5-21-1-2-3-1001_Classes", "S-1-12-1-11-22-33-44",
                           "s-1-5-21-1-2-3-1002"}) {
    AddRow(reg, kHku, k64, std::string(hive) + "\\", "Row", std::string("Row of ") + hive);
  }
  reg.AddKey(kHku, RegistryView::kDefault, "S-1-5-21-1-2-3-1003");  // loaded, no Uninstall key
  AddRow(reg, kHkcu, k64, "", "System", "HKCU of SYSTEM");
  TakeLogLines();

  const auto entries = GetUninstallEntries(reg, /*running_as_system=*/true);
  std::vector<std::string> labels;
  for (const auto& e : entries) {
    EXPECT_EQ(e.root, kHku);
    labels.push_back(e.arch + " " + e.registry_path);
  }
  EXPECT_EQ(labels, (std::vector<std::string>{
                        "per-user (S-1-5-21-1-2-3-1001) S-1-5-21-1-2-3-1001\\" + kU + "\\Row",
                        "per-user (S-1-12-1-11-22-33-44) S-1-12-1-11-22-33-44\\" + kU + "\\Row",
                        "per-user (s-1-5-21-1-2-3-1002) s-1-5-21-1-2-3-1002\\" + kU + "\\Row",
                    }));
  const auto lines = TakeLogLines();
  // Neither machine view holds the Uninstall key in this fake, nor does hive 1003.
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[2].message,
            "operation : GetUninstallEntries; arch : \"per-user (S-1-5-21-1-2-3-1003)\"; remarks : "
            "\"Uninstall registry path not accessible.\"; error_code : 2;");
  EXPECT_EQ(lines[3].message, LoadedLine(3));
  EXPECT_EQ(reg.open_keys(), 0);
}

TEST(GetUninstallEntries, UnreadableLocationsAndIndexesAreLoggedAndSkipped) {
  FakeRegistry reg;
  AddRow(reg, kHklm, k64, "", "Hidden", "Hidden");
  reg.FailOpen(kHklm, k64, kU, 5);
  AddRow(reg, kHklm, k32, "", "R0", "Zero");
  AddRow(reg, kHklm, k32, "", "R1", "One");
  AddRow(reg, kHklm, k32, "", "R2", "Two");
  reg.AddKey(kHklm, k32, kU).enum_errors[1] = 1018;
  TakeLogLines();

  const auto entries = GetUninstallEntries(reg, false);
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].display_name, "Zero");
  EXPECT_EQ(entries[1].display_name, "Two");
  const std::vector<CapturedLine> expected = {
      {LogLevel::kInfo, "operation : GetUninstallEntries; arch : \"x64/native\"; remarks : "
                        "\"Uninstall registry path not accessible.\"; error_code : 5;"},
      {LogLevel::kInfo, "operation : GetUninstallEntries; arch : \"x86-on-x64\"; remarks : "
                        "\"Skipping subkey at index 1.\"; error_code : 1018;"},
      {LogLevel::kInfo, "operation : GetUninstallEntries; arch : \"per-user\"; remarks : "
                        "\"Uninstall registry path not accessible.\"; error_code : 2;"},
      {LogLevel::kInfo, LoadedLine(2)},
  };
  EXPECT_EQ(TakeLogLines(), expected);
}

TEST(GetUninstallEntries, ValueTypeAndTerminatorRules) {
  struct Row {
    const char* what;
    unsigned long type;
    std::string bytes;
    bool kept;
    std::string display_name;
  };
  const std::string big(5000, 'N');
  const Row rows[] = {
      {"terminated", kRegSz, std::string("Foo\0", 4), true, "Foo"},
      {"unterminated loses its last byte", kRegSz, "Foo", true, "Fo"},
      {"expand string", kRegExpandSz, std::string("Foo\0", 4), false, ""},
      {"binary", kRegBinary, "Foo", false, ""},
      {"zero bytes", kRegSz, "", false, ""},
      {"one zero byte", kRegSz, std::string("\0", 1), false, ""},
      {"embedded NUL", kRegSz, std::string("Foo\0Bar\0", 8), true, "Foo"},
      {"high bytes", kRegSz, std::string("Caf\xE9 \x80\xFF\0", 8), true, "Caf\xE9 \x80\xFF"},
      {"5000 bytes", kRegSz, big + std::string(1, '\0'), true, big},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    FakeRegistry reg;
    reg.SetRaw(kHklm, k64, kU + "\\K", "DisplayName", row.type, row.bytes);
    const auto entries = GetUninstallEntries(reg, false);
    ASSERT_EQ(entries.size(), row.kept ? 1u : 0u);
    if (row.kept) {
      EXPECT_EQ(entries[0].display_name, row.display_name);
    }
  }
  TakeLogLines();
}

TEST(GetUninstallEntries, OtherValuesOfTheWrongTypeStayEmpty) {
  FakeRegistry reg;
  const std::string key = kU + "\\K";
  reg.SetString(kHklm, k64, key, "DisplayName", "Name");
  reg.SetRaw(kHklm, k64, key, "UninstallString", kRegBinary, std::string("u.exe\0", 6));
  reg.SetDword(kHklm, k64, key, "DisplayVersion", 5);
  const std::string huge(1 << 20, 'u');
  reg.SetString(kHklm, k64, key, "QuietUninstallString", huge);
  const auto entries = GetUninstallEntries(reg, false);
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].uninstall_string, "");
  EXPECT_EQ(entries[0].display_version, "");
  EXPECT_EQ(entries[0].quiet_uninstall_string, "");  // too large: never read
  TakeLogLines();
}

TEST(GetUninstallEntries, OnlyTheCommandValuesMayBeExpandSzAndTheyKeepTheirRawText) {
  const std::string raw = "%V%\\x";
  // `flags`: REG_EXPAND_SZ was read for InstallLocation, UninstallString, QuietUninstallString.
  const struct { const char* value; unsigned long type; std::string UninstallEntry::*field; bool read; const char* flags; } cases[] = {
      {"InstallLocation", kRegExpandSz, &UninstallEntry::install_location, true, "100"},
      {"UninstallString", kRegExpandSz, &UninstallEntry::uninstall_string, true, "010"},
      {"QuietUninstallString", kRegExpandSz, &UninstallEntry::quiet_uninstall_string, true, "001"},
      {"UninstallString", kRegSz, &UninstallEntry::uninstall_string, true, "000"},
      {"DisplayVersion", kRegExpandSz, &UninstallEntry::display_version, false, "000"},
      {"Publisher", kRegExpandSz, &UninstallEntry::publisher, false, "000"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.value) + " of type " + std::to_string(c.type));
    FakeRegistry reg;
    reg.SetString(kHklm, k64, kU + "\\K", "DisplayName", "Name");
    reg.SetRaw(kHklm, k64, kU + "\\K", c.value, c.type, raw + '\0');
    const UninstallEntry e = GetUninstallEntries(reg, false).at(0);
    EXPECT_EQ(e.*c.field, c.read ? raw : "");
    const ExpandSzValues& f = e.expand_sz;
    EXPECT_EQ(std::string({"01"[f.install_location], "01"[f.uninstall_string], "01"[f.quiet_uninstall_string]}),
              c.flags);
  }
  TakeLogLines();
}

TEST(GetUninstallEntries, ValuesOverSixtyFourKibibytesAreNotRead) {
  struct Row {
    const char* what;
    const char* value;
    size_t stored;  // bytes stored, terminator included
    bool row_kept;
    bool field_read;
  };
  const Row rows[] = {
      {"the largest value read", "UninstallString", 65536, true, true},
      {"one byte more", "UninstallString", 65537, true, false},
      {"a megabyte", "Publisher", 1 << 20, true, false},
      {"a huge name drops the row", "DisplayName", 65537, false, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    FakeRegistry reg;
    const std::string key = kU + "\\K";
    reg.SetString(kHklm, k64, key, "DisplayName", "Name");
    reg.SetString(kHklm, k64, key, row.value, std::string(row.stored - 1, 'v'));
    TakeLogLines();
    const auto entries = GetUninstallEntries(reg, false);
    ASSERT_EQ(entries.size(), row.row_kept ? 1u : 0u);
    const auto lines = TakeLogLines();
    const std::string told = "operation : GetUninstallEntries; registry_path : \"" + key + "\"; value_name : \"" +
                             row.value + "\"; value_size : " + std::to_string(row.stored) +
                             "; remarks : \"Value larger than 65536 bytes not read.\";";
    EXPECT_EQ(std::count(lines.begin(), lines.end(), CapturedLine{LogLevel::kInfo, told}), row.field_read ? 0 : 1);
    if (!row.row_kept) continue;
    const std::string& field = std::string(row.value) == "Publisher" ? entries[0].publisher : entries[0].uninstall_string;
    EXPECT_EQ(field.size(), row.field_read ? row.stored - 1 : 0u);
  }
}

TEST(GetUninstallEntries, WindowsInstallerFlagMustBeTheDword1) {
  struct Row {
    const char* what;
    unsigned long type;
    std::string bytes;
    bool flag;
  };
  const Row rows[] = {
      {"dword 1", kRegDword, std::string("\x01\0\0\0", 4), true},
      {"dword 2", kRegDword, std::string("\x02\0\0\0", 4), false},
      {"dword 0x101", kRegDword, std::string("\x01\x01\0\0", 4), false},
      {"text 1", kRegSz, std::string("1\0", 2), false},
      {"qword 1", 11, std::string("\x01\0\0\0\0\0\0\0", 8), false},
      {"short dword", kRegDword, std::string("\x01", 1), true},
      {"empty dword", kRegDword, "", false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    FakeRegistry reg;
    reg.SetString(kHklm, k64, kU + "\\K", "DisplayName", "Name");
    reg.SetRaw(kHklm, k64, kU + "\\K", "WindowsInstaller", row.type, row.bytes);
    const auto entries = GetUninstallEntries(reg, false);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].is_windows_installer, row.flag);
  }
  TakeLogLines();
}

TEST(GetUninstallEntries, LongestKeyNamesFitTheNameBuffer) {
  FakeRegistry reg;
  const std::string longest(255, 'k');  // the registry's limit for a key name
  AddRow(reg, kHklm, k64, "", longest, "Long Key");
  AddRow(reg, kHklm, k64, "", std::string(260, 'x'), "Too Long");  // cannot exist; must not crash
  TakeLogLines();
  const auto entries = GetUninstallEntries(reg, false);
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].key_name, longest);
  EXPECT_EQ(entries[0].registry_path, kU + "\\" + longest);
  const auto lines = TakeLogLines();
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines[0].message, "operation : GetUninstallEntries; arch : \"x64/native\"; remarks : "
                              "\"Skipping subkey at index 1.\"; error_code : 234;");
}

TEST(GetUninstallEntries, OneKeyReachedThroughBothViewsIsListedTwice) {
  FakeRegistry reg;  // as on 32-bit Windows, where the view flags reach the same key
  AddRow(reg, kHklm, k64, "", "Same", "Same Product");
  AddRow(reg, kHklm, k32, "", "Same", "Same Product");
  const auto entries = GetUninstallEntries(reg, false);
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].arch, "x64/native");
  EXPECT_EQ(entries[1].arch, "x86-on-x64");
  EXPECT_EQ(entries[0].registry_path, entries[1].registry_path);
  TakeLogLines();
}

TEST(GetUserProfileSids, KeepsUserProfilesOnly) {
  FakeRegistry reg;
  for (const char* name : {"S-1-5-18", ".DEFAULT", "S-1-5-21-1-2-3-500", "S-1-5-21-1-2-3-500_Classes",
                           "s-1-5-21-4", "S-1-5-21", "S-1-5-21-", "S-1-12-1-5-6-7-8",
                           "S-1-12-1-5-6-7-8_Classes", "S-1-12-2-1", "S-1-5-211-1",
                           "S-1-5-21-1_classes"}) {
    reg.AddKey(kHku, RegistryView::kDefault, name);
  }
  reg.AddKey(kHku, RegistryView::kDefault, "").enum_errors[0] = 5;  // S-1-5-18 unreadable
  EXPECT_EQ(GetUserProfileSids(reg),
            (std::vector<std::string>{"S-1-5-21-1-2-3-500", "s-1-5-21-4", "S-1-5-21-",
                                      "S-1-12-1-5-6-7-8", "S-1-5-21-1_classes"}));
  reg.FailOpen(kHku, RegistryView::kDefault, "", 5);
  EXPECT_TRUE(GetUserProfileSids(reg).empty());
  EXPECT_EQ(reg.open_keys(), 0);
}

TEST(IsUninstallEntryPresent, RowIsGoneUnlessItStillHasADisplayName) {
  FakeRegistry reg;
  const std::string path = "S-1-5-21-1\\" + kU + "\\App";
  reg.SetString(kHku, k64, path, "DisplayName", "App");
  UninstallEntry entry;
  entry.root = kHku;
  entry.view_64bit = true;
  entry.registry_path = path;
  EXPECT_TRUE(IsUninstallEntryPresent(reg, entry));

  UninstallEntry no_root = entry;
  no_root.root = RegistryRoot::kNone;
  EXPECT_FALSE(IsUninstallEntryPresent(reg, no_root));

  reg.SetString(kHku, k64, path, "DisplayName", "");
  EXPECT_FALSE(IsUninstallEntryPresent(reg, entry));
  reg.SetRaw(kHku, k64, path, "DisplayName", kRegExpandSz, std::string("App\0", 4));
  EXPECT_FALSE(IsUninstallEntryPresent(reg, entry));
  reg.SetString(kHku, k64, path, "DisplayName", "App");
  reg.FailOpen(kHku, k64, path, 5);
  EXPECT_FALSE(IsUninstallEntryPresent(reg, entry));

  FakeRegistry other;
  other.SetString(kHklm, k64, kU + "\\X", "DisplayName", "X");
  UninstallEntry machine;
  machine.root = kHklm;
  machine.registry_path = kU + "\\X";
  EXPECT_FALSE(IsUninstallEntryPresent(other, machine));  // the 32-bit view has no such row
  machine.view_64bit = true;
  EXPECT_TRUE(IsUninstallEntryPresent(other, machine));
  other.DeleteKey(kHklm, k64, kU + "\\X");
  EXPECT_FALSE(IsUninstallEntryPresent(other, machine));
  EXPECT_EQ(other.open_keys(), 0);
}

TEST(GetUninstallEntries, EmptyRegistryReportsZero) {
  FakeRegistry reg;
  TakeLogLines();
  EXPECT_TRUE(GetUninstallEntries(reg, true).empty());
  const auto lines = TakeLogLines();
  ASSERT_EQ(lines.size(), 3u);  // both machine views inaccessible, then the count
  EXPECT_EQ(lines.back().message, LoadedLine(0));
}

TEST(GetUninstallEntries, ThirtyTwoBitWindowsReadsItsOneMachineKeyOnce) {
  // On 32-bit Windows both view flags reach the same key; the fake stands for it with one row in
  // each view, so that a second read would show.
  FakeRegistry reg;
  AddRow(reg, kHklm, k64, "", "Tool", "Contoso Tool");
  AddRow(reg, kHklm, k32, "", "Tool", "Contoso Tool");
  AddRow(reg, kHkcu, k64, "", "Mine", "Per User");
  TakeLogLines();
  const auto once = GetUninstallEntries(reg, false, /*one_machine_view=*/true);
  ASSERT_EQ(once.size(), 2u);
  EXPECT_EQ(once[0].arch, "x64/native");
  EXPECT_EQ(once[1].arch, "per-user");
  EXPECT_EQ(GetUninstallEntries(reg, false, false).size(), 3u);
  TakeLogLines();
}

TEST(IsLocalSystemSid, OnlyTheLocalSystemAccount) {
  const std::pair<const char*, bool> rows[] = {
      {"S-1-5-18", true},        {"s-1-5-18", true},     {"S-1-5-19", false},  // LocalService
      {"S-1-5-20", false},       {"S-1-5-32-544", false}, {"S-1-5-18-1", false},
      {"S-1-5-21-1-2-3-18", false}, {"", false},          {" S-1-5-18", false},
  };
  for (const auto& [sid, system] : rows) EXPECT_EQ(IsLocalSystemSid(sid), system) << sid;
}

}  // namespace
}  // namespace varnok
