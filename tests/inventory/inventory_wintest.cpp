// The inventory against the real registry of the Wine prefix (both views and HKEY_CURRENT_USER).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <memory>

#include "inventory/inventory.h"
#include "inventory/system_registry.h"
#include "process/user_session.h"
#include "support/win/wine_support.h"

namespace varnok {
namespace {

const std::string kU = kUninstallKeyPath;

const UninstallEntry* Find(const std::vector<UninstallEntry>& entries, const std::string& key,
                           const std::string& arch) {
  for (const UninstallEntry& e : entries) {
    if (e.key_name == key && e.arch == arch) return &e;
  }
  return nullptr;
}

TEST(InventoryUnderWine, ReadsRowsOfBothViewsAndTheCurrentUser) {
  testing::ScratchRows rows;
  {
    auto native = rows.Create(HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, "native");
    testing::ScratchRows::SetText(native.get(), "DisplayName", "Varnok Native");
    testing::ScratchRows::SetText(native.get(), "DisplayVersion", "1.2.3");
    DWORD one = 1;
    testing::ScratchRows::Set(native.get(), "WindowsInstaller", REG_DWORD,
                     std::string(reinterpret_cast<const char*>(&one), 4));
    auto wow = rows.Create(HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY, "wow");
    testing::ScratchRows::SetText(wow.get(), "DisplayName", "Varnok Wow");
    // "1.1X" with a counted length of 3 stores "1.1" without its terminator.
    EXPECT_EQ(RegSetValueExA(wow.get(), "DisplayVersion", 0, REG_SZ,
                             reinterpret_cast<const BYTE*>("1.1X"), 3),
              0L);
    auto user = rows.Create(HKEY_CURRENT_USER, 0, "user");
    testing::ScratchRows::SetText(user.get(), "DisplayName", "Varnok User");
    testing::ScratchRows::SetText(user.get(), "UninstallString", "\"C:\\u\\uninst.exe\" /x");
    auto expand = rows.Create(HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, "expand");
    testing::ScratchRows::Set(expand.get(), "DisplayName", REG_EXPAND_SZ, std::string("%Name%\0", 7));
  }
  EXPECT_FALSE(IsRunningAsSystem());  // Wine never runs a process as LocalSystem

  const auto entries = GetUninstallEntries(SystemRegistry(), false);
  const UninstallEntry* native = Find(entries, rows.Name("native"), "x64/native");
  const UninstallEntry* wow = Find(entries, rows.Name("wow"), "x86-on-x64");
  const UninstallEntry* user = Find(entries, rows.Name("user"), "per-user");
  ASSERT_NE(native, nullptr);
  ASSERT_NE(wow, nullptr);
  ASSERT_NE(user, nullptr);
  EXPECT_EQ(Find(entries, rows.Name("native"), "x86-on-x64"), nullptr);  // views are distinct
  EXPECT_EQ(Find(entries, rows.Name("wow"), "x64/native"), nullptr);
  for (const UninstallEntry& e : entries) EXPECT_NE(e.key_name, rows.Name("expand"));

  EXPECT_EQ(native->registry_path, kU + "\\" + rows.Name("native"));
  EXPECT_EQ(native->root, RegistryRoot::kLocalMachine);
  EXPECT_TRUE(native->view_64bit);
  EXPECT_EQ(native->display_version, "1.2.3");
  EXPECT_TRUE(native->is_windows_installer);
  EXPECT_FALSE(wow->view_64bit);
  EXPECT_EQ(wow->display_version, "1.");  // the unterminated value lost its last byte
  EXPECT_EQ(user->root, RegistryRoot::kCurrentUser);
  EXPECT_EQ(user->uninstall_string, "\"C:\\u\\uninst.exe\" /x");

  EXPECT_TRUE(IsUninstallEntryPresent(SystemRegistry(), *wow));
  win32::UniqueRegKey uninstall;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kU.c_str(), 0, KEY_ALL_ACCESS | KEY_WOW64_32KEY,
                          uninstall.put()),
            0L);
  ASSERT_EQ(RegDeleteKeyExA(uninstall.get(), rows.Name("wow").c_str(), KEY_WOW64_32KEY, 0), 0L);
  EXPECT_FALSE(IsUninstallEntryPresent(SystemRegistry(), *wow));
  EXPECT_TRUE(IsUninstallEntryPresent(SystemRegistry(), *native));
}

TEST(InventoryUnderWine, AKeyWatchWakesWhenARowLeavesAndOtherwiseAtTheEndOfItsWait) {
  testing::ScratchRows rows;
  struct Where {
    const char* what;
    HKEY root;
    REGSAM view;
    RegistryRoot watched_root;
    RegistryView watched_view;
  };
  const Where places[] = {
      {"HKLM32", HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY, RegistryRoot::kLocalMachine, RegistryView::k32},
      {"HKCU", HKEY_CURRENT_USER, 0, RegistryRoot::kCurrentUser, RegistryView::k64},
  };
  for (const Where& where : places) {
    SCOPED_TRACE(where.what);
    const std::string first = std::string("watched-") + where.what;
    const std::string second = first + "-2";
    rows.Create(where.root, where.view, first);
    rows.Create(where.root, where.view, second);
    const std::unique_ptr<KeyChangeWatch> watch =
        SystemRegistry().WatchKey(where.watched_root, where.watched_view, kU);
    ASSERT_NE(watch, nullptr);
    ULONGLONG start = GetTickCount64();
    EXPECT_FALSE(watch->Wait(700));
    EXPECT_GE(GetTickCount64() - start, 650u);

    // Each wake arms the watch again: the second row's leaving wakes it too.
    for (const std::string& row : {first, second}) {
      testing::Child remover("\"" + testing::ToolPath("exit_with.exe") + "\" 0 --sleep 1000 " +
                             "--delete-row " + where.what + " " + rows.Name(row));
      start = GetTickCount64();
      EXPECT_TRUE(watch->Wait(20000)) << row;
      const ULONGLONG woke = GetTickCount64() - start;
      EXPECT_GE(woke, 800u);
      EXPECT_LT(woke, 10000u);
      remover.Wait(10000);
    }
  }
}

TEST(InventoryUnderWine, TwoThousandRowsAreReadAndCounted) {
  testing::TempDir install;
  ASSERT_TRUE(CreateDirectoryA((install / "logs").c_str(), nullptr));
  testing::AgentInstallDir agent(install.path());
  const size_t before = GetUninstallEntries(SystemRegistry(), false).size();

  testing::ScratchRows rows;
  const struct {
    HKEY root;
    REGSAM view;
  } locations[] = {{HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY},
                   {HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY},
                   {HKEY_CURRENT_USER, 0}};
  for (int i = 0; i < 2000; ++i) {
    const auto& where = locations[i % 3];
    auto key = rows.Create(where.root, where.view, "bulk-" + std::to_string(i));
    testing::ScratchRows::SetText(key.get(), "DisplayName", "Bulk Product " + std::to_string(i));
    testing::ScratchRows::SetText(key.get(), "DisplayVersion", "1.0." + std::to_string(i));
    testing::ScratchRows::SetText(key.get(), "Publisher", "Contoso");
    testing::ScratchRows::SetText(key.get(), "UninstallString",
                         "\"C:\\Program Files\\Bulk " + std::to_string(i) + "\\uninstall.exe\"");
  }

  const ULONGLONG start = GetTickCount64();
  const auto entries = GetUninstallEntries(SystemRegistry(), false);
  const ULONGLONG elapsed = GetTickCount64() - start;
  std::printf("inventory of %zu rows took %llu ms\n", entries.size(), elapsed);
  EXPECT_EQ(entries.size(), before + 2000);
  EXPECT_LT(elapsed, 60000u);

  // The count line, as a process of its own writes it to the agent's log.
  ASSERT_EQ(testing::RunCommand("\"" + testing::ToolPath("log_probe.exe") + "\" inventory").exit_code, 0u);
  const std::string log = testing::ReadFileBytes(install / "logs\\fmprereqhandler.log");
  const std::string count_line = "remarks : \"Registry uninstall entries loaded.\"; entry_count : " +
                                 std::to_string(before + 2000) + ";";
  EXPECT_NE(log.find(count_line), std::string::npos) << count_line;
}

TEST(AccountUnderWine, TheProcessAndEverySessionAreTheCurrentUser) {
  const std::string me = testing::CurrentUserSid();
  ASSERT_EQ(me.rfind("S-1-5-21-", 0), 0u) << me;
  EXPECT_EQ(ProcessUserSid(), me);
  // Wine never runs a process as LocalSystem; the decision itself is IsLocalSystemSid's.
  EXPECT_FALSE(IsRunningAsSystem());
  // Wine hands out the current user's token for any session: what a per-user row is matched on.
  EXPECT_EQ(GetSessionUserSid(1), me);
  EXPECT_EQ(GetSessionUserSid(7), me);
}

}  // namespace
}  // namespace varnok
