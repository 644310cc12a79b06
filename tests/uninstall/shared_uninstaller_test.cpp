#include "uninstall/shared_uninstaller.h"

#include <gtest/gtest.h>

#include <map>

namespace varnok {
namespace {

TEST(IsSharedUninstallerName, GenericUninstallersOnly) {
  struct Row {
    const char* path;
    bool shared;
  };
  const Row rows[] = {
      {"C:\\App\\Uninstall.exe", true},   {"C:\\App\\unins000.exe", true},
      {"C:\\App\\UNINS.EXE", true},       {"C:/App/unins12.exe", true},
      {"uninstall.exe", true},            {"C:\\App\\uninst.exe", false},
      {"C:\\App\\unins00a.exe", false},   {"C:\\App\\uninstall.exe.bak", false},
      {"C:\\App\\uninstaller.exe", false}, {"C:\\App\\unins.ex", false},
      {"C:\\uninstall.exe\\app.exe", false}, {"", false},
      {"C:\\App\\unins\xB2.exe", false},  // superscript two is no ASCII digit
  };
  for (const Row& r : rows) EXPECT_EQ(IsSharedUninstallerName(r.path), r.shared) << r.path;
}

TEST(NameTokens, RunsOfFourOrMoreLettersAndDigits) {
  using V = std::vector<std::string>;
  EXPECT_EQ(NameTokens("App Studio 2019"), (V{"Studio", "2019"}));
  EXPECT_EQ(NameTokens("QA"), V{});
  EXPECT_EQ(NameTokens("Contoso-Tool_x64 (Beta)"), (V{"Contoso", "Tool", "Beta"}));
  EXPECT_EQ(NameTokens("Caf\xE9" "Bar abc\xE9" "defg"), (V{"defg"}));  // high bytes split runs
}

TEST(SelectMainExecutable, NameMatchBeatsSizeAndHelpersAreNeverChosen) {
  const std::map<std::string, int64_t> sizes = {
      {"C:\\A\\Launcher Tool.exe", 900}, {"C:\\A\\App Studio.exe", 100},
      {"C:\\A\\uninstall.exe", 5000},    {"C:\\A\\Unins001.exe", 5000},
      {"C:\\A\\vc_redist.x64.exe", 9000}, {"C:\\A\\dotnetfx.exe", 9000},
      {"C:\\A\\setup.exe", 9000},        {"C:\\A\\readme.txt", 99999},
      {"C:\\A\\Studio.Launcher.exe", 10}, {"C:\\A\\big.exe", 900},
      {"C:\\A\\locked.exe", -1},
  };
  const auto size_of = [&](const std::string& p) { return sizes.at(p); };
  using V = std::vector<std::string>;
  struct Row {
    V listing;
    const char* hint;
    const char* chosen;
  };
  const Row rows[] = {
      {{"C:\\A\\Launcher Tool.exe", "C:\\A\\App Studio.exe"}, "App Studio 2019", "C:\\A\\App Studio.exe"},
      // First candidate in listing order that holds any token wins.
      {{"C:\\A\\Studio.Launcher.exe", "C:\\A\\App Studio.exe"}, "App Studio", "C:\\A\\Studio.Launcher.exe"},
      {{"C:\\A\\uninstall.exe", "C:\\A\\setup.exe", "C:\\A\\vc_redist.x64.exe",
        "C:\\A\\dotnetfx.exe", "C:\\A\\Unins001.exe"}, "Setup Tool", ""},
      // No token: the strictly largest, the first of equal sizes.
      {{"C:\\A\\App Studio.exe", "C:\\A\\Launcher Tool.exe", "C:\\A\\big.exe"}, "QA", "C:\\A\\Launcher Tool.exe"},
      {{"C:\\A\\readme.txt", "C:\\A\\App Studio.exe"}, "QA", "C:\\A\\App Studio.exe"},
      {{"C:\\A\\locked.exe"}, "QA", ""},
      {{}, "App", ""},
  };
  for (const Row& r : rows) EXPECT_EQ(SelectMainExecutable(r.listing, r.hint, size_of), r.chosen) << r.hint;
}

}  // namespace
}  // namespace varnok
