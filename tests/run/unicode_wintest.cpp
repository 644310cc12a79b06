// Product names and paths in scripts that the machine's ANSI code page (1252 in this test bed,
// which Wine takes from the locale) cannot hold, for real under Wine: the rows are written and
// the program is started through the W functions, as an agent and an installer would.
#include <gtest/gtest.h>

#include "support/win/program_test.h"

namespace varnok {
namespace {

using testing::ToolPath;

const wchar_t kUninstallW[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

class UnicodeRows : public testing::ProgramTest {
 protected:
  ~UnicodeRows() override {
    for (const std::wstring& key : keys_) {
      win32::UniqueRegKey uninstall;
      if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kUninstallW, 0, KEY_ALL_ACCESS | KEY_WOW64_32KEY,
                        uninstall.put()) == 0) {
        RegDeleteKeyExW(uninstall.get(), key.c_str(), KEY_WOW64_32KEY, 0);
      }
    }
  }
  // A machine-wide row (32-bit view) named `key`, whose values are UTF-16 as Windows keeps them.
  void AddRow(const std::wstring& key, const std::wstring& name, const std::wstring& uninstall,
              const std::wstring& location = L"") {
    win32::UniqueRegKey row;
    const std::wstring path = std::wstring(kUninstallW) + L"\\" + key;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0,
                              KEY_ALL_ACCESS | KEY_WOW64_32KEY, nullptr, row.put(), nullptr),
              ERROR_SUCCESS);
    keys_.push_back(key);
    for (const auto& [value, text] : {std::pair<const wchar_t*, std::wstring>{L"DisplayName", name},
                                      {L"DisplayVersion", L"1.0"},
                                      {L"UninstallString", uninstall},
                                      {L"InstallLocation", location}}) {
      if (text.empty()) continue;
      RegSetValueExW(row.get(), value, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                     static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
    }
  }
  bool RowLeft(const std::wstring& key) const {
    win32::UniqueRegKey row;
    const std::wstring path = std::wstring(kUninstallW) + L"\\" + key;
    return RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ | KEY_WOW64_32KEY,
                         row.put()) != ERROR_SUCCESS;
  }
  // The program started through CreateProcessW, as an agent passes a name in any script.
  DWORD RunProgramW(const std::wstring& arguments) {
    wchar_t program[MAX_PATH] = {};
    MultiByteToWideChar(CP_ACP, 0, testing::ProgramPath().c_str(), -1, program, MAX_PATH);
    std::wstring line = L"\"" + std::wstring(program) + L"\" " + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    win32::ProcessInformation process;
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                        nullptr, &startup, process.put())) {
      return GetLastError();
    }
    WaitForSingleObject(process.process(), 120000);
    DWORD exit_code = 0;
    GetExitCodeProcess(process.process(), &exit_code);
    log_ = testing::ReadFileBytes(log_path_);
    return exit_code;
  }
  std::wstring Tag(const wchar_t* suffix) const {
    return L"VarnokUnicode-" + std::to_wstring(GetCurrentProcessId()) + L"-" + suffix;
  }
  // A copy of the stand-in uninstaller that removes the row `key` of the 32-bit view.
  std::wstring Remover(const std::wstring& folder, const std::wstring& key) {
    const std::wstring exe = folder + L"\\uninstall.exe";
    wchar_t tool[MAX_PATH] = {};
    MultiByteToWideChar(CP_ACP, 0, ToolPath("exit_with.exe").c_str(), -1, tool, MAX_PATH);
    CopyFileW(tool, exe.c_str(), FALSE);
    return L"\"" + exe + L"\" 0 --delete-row HKLM32 " + key;
  }

  std::vector<std::wstring> keys_;
};

std::wstring TempFolderW() {
  wchar_t temp[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, temp);
  return temp;
}

TEST_F(UnicodeRows, OnlyTheNamedProductGoesAmongNamesTheCodePageCannotHold) {
  // Two Cyrillic names of one length and a Chinese one: all read as "?????" or "???" through the
  // code page, and as themselves here.
  const std::wstring mail = L"\u041F\u043E\u0447\u0442\u0430";  // Pochta
  const std::wstring map = L"\u041A\u0430\u0440\u0442\u0430";   // Karta
  const std::wstring browser = L"\u6D4F\u89C8\u5668";
  const std::wstring folder = TempFolderW() + Tag(L"apps");
  ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
  AddRow(Tag(L"mail"), mail, Remover(folder, Tag(L"mail")));
  AddRow(Tag(L"map"), map, Remover(folder, Tag(L"map")));
  AddRow(Tag(L"browser"), browser, Remover(folder, Tag(L"browser")));

  EXPECT_EQ(RunProgramW(L"-displayName " + mail + L" -matchType Exact -exactVersion 1.0"), 0u)
      << log_;
  EXPECT_TRUE(RowLeft(Tag(L"mail")));
  EXPECT_FALSE(RowLeft(Tag(L"map")));
  EXPECT_FALSE(RowLeft(Tag(L"browser")));
  // The name, in the log, as its code points: never "?".
  EXPECT_TRUE(Logged("param_name : DisplayName; param_value : "
                     "\"\\u{041F}\\u{043E}\\u{0447}\\u{0442}\\u{0430}\";"))
      << log_;
  EXPECT_TRUE(Logged("display_name : \"\\u{041F}\\u{043E}\\u{0447}\\u{0442}\\u{0430}\"; "
                     "display_version : \"1.0\";"));
  EXPECT_TRUE(Logged("status : summary; name_hits : 1; version_hits : 1; skipped_version : 0; "
                     "success : 1; failed : 0;"));
  EXPECT_EQ(log_.find('?'), std::string::npos) << log_;
}

TEST_F(UnicodeRows, AnUninstallerInAFolderNamedInCyrillicIsFoundGuardedRunAndVerified) {
  const std::wstring folder = TempFolderW() + Tag(L"\u041F\u0440\u043E\u0433\u0440\u0430\u043C\u043C\u0430");
  ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
  AddRow(Tag(L"tool"), L"Varnok Cyrillic Folder", Remover(folder, Tag(L"tool")), folder);
  EXPECT_EQ(RunProgramW(L"-displayName \"Varnok Cyrillic Folder\" -matchType Exact "
                        L"-exactVersion 1.0"),
            0u)
      << log_;
  EXPECT_TRUE(RowLeft(Tag(L"tool")));
  EXPECT_TRUE(Logged("No second EXE next to Uninstall.exe.")) << log_;  // the guard looked there
  EXPECT_TRUE(Logged("\\u{041F}\\u{0440}\\u{043E}\\u{0433}\\u{0440}\\u{0430}\\u{043C}\\u{043C}"
                     "\\u{0430}\\uninstall.exe\" 0 --delete-row HKLM32"));
  EXPECT_TRUE(Logged("VERIFY: registry key gone. SUCCESS."));
}

TEST_F(UnicodeRows, CodePageTextIsWrittenAsItAlwaysWas) {
  // Western names are in code page 1252: their lines are the same bytes as ever.
  const std::wstring cafe = L"Caf\u00E9 Outil \u00C0 \u20AC";
  AddRow(Tag(L"cafe"), cafe, L"\"C:\\Nowhere\\remove.exe\"");
  EXPECT_EQ(RunProgramW(L"-displayName \"" + cafe + L"\" -matchType Exact -exactVersion 1.0 -whatIf"),
            0u)
      << log_;
  EXPECT_TRUE(Logged("param_name : DisplayName; param_value : \"Caf\xE9 Outil \xC0 \x80\";")) << log_;
  EXPECT_TRUE(Logged("remarks : \"WHATIF: would uninstall Caf\xE9 Outil \xC0 \x80.\";"));
  EXPECT_EQ(log_.find("\\u{"), std::string::npos);
}

}  // namespace
}  // namespace varnok
