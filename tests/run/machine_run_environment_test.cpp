// The run as the program wires it: registry rows in, through the driver and the row's access,
// file steps and launch decisions, out to the platform's launch calls.
#include "run/machine_run_environment.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "inventory/inventory.h"
#include "run/uninstall_run.h"
#include "support/host/fake_launch_platform.h"
#include "support/host/fake_registry.h"
#include "support/host/log_capture.h"

namespace varnok {
namespace {

using testing::FakeLaunchPlatform;
using testing::FakeRegistry;

const std::string kU = kUninstallKeyPath;
const char kBob[] = "S-1-5-21-7-8-9-1001";
const char kEve[] = "S-1-5-21-7-8-9-1002";
const std::string kMsiexec = "C:\\Windows\\system32\\msiexec.exe";

// Gives every text back as it came: these rows hold no REG_EXPAND_SZ values.
struct Unexpanded : ValueExpander {
  std::vector<ExpandedText> Expand(const ExpansionEnvironment&, const std::vector<std::string>& texts) override {
    std::vector<ExpandedText> same;
    for (const std::string& text : texts) same.push_back({0, text});
    return same;
  }
};

// A machine under LocalSystem with Bob logged on in session 2, as the program wires it.
class WiredMachine {
 public:
  WiredMachine() {
    platform_.system = true;
    platform_.sessions = {{"bob", {2, kBob}}};
    registry_.AddKey(RegistryRoot::kUsers, RegistryView::kDefault, kBob);
    registry_.AddKey(RegistryRoot::kUsers, RegistryView::kDefault, kEve);
  }

  // A row of `sid`'s hive, or a machine-wide one (64-bit view) when sid is empty.
  std::string AddRow(const std::string& sid, const std::string& key, const std::string& uninstall,
                     const std::string& version = "2.4") {
    const RegistryRoot root = sid.empty() ? RegistryRoot::kLocalMachine : RegistryRoot::kUsers;
    const RegistryView view = sid.empty() ? RegistryView::k64 : RegistryView::kDefault;
    const std::string path = (sid.empty() ? "" : sid + "\\") + kU + "\\" + key;
    registry_.SetString(root, view, path, "DisplayName", "Contoso Tool");
    registry_.SetString(root, view, path, "DisplayVersion", version);
    registry_.SetString(root, view, path, "UninstallString", uninstall);
    rows_[key] = {root, view, path};
    return path;
  }
  void SetMsi(const std::string& key) {
    const auto& [root, view, path] = rows_[key];
    registry_.SetDword(root, view, path, "WindowsInstaller", 1);
  }
  // The uninstaller `file` removes row `key` when it runs.
  void Removes(const std::string& file, const std::string& key) { removes_[file] = key; }
  void AddFile(const std::string& path) {
    platform_.files.insert(path);
    platform_.directories.insert(path.substr(0, path.rfind('\\')));
  }

  int Run(const std::string& rule = "2") {
    platform_.on_launch = [this](const std::string& executable) {
      const auto it = removes_.find(executable);
      if (it != removes_.end()) {
        const auto& [root, view, path] = rows_[it->second];
        registry_.DeleteKey(root, view, path);
      }
      return 0;
    };
    RunOptions options;
    options.DisplayName = "Contoso Tool";
    options.MatchTypeText = "Series";
    options.MatchType = VersionMatchKind::kSeries;
    options.SeriesPrefix = rule;
    MachineRunEnvironment environment(registry_, platform_, expander_);
    testing::TakeLogLines();
    const int exit_code = RunUninstall(options, environment);
    for (const auto& line : testing::TakeLogLines()) log_.push_back(line.message);
    return exit_code;
  }
  bool Logged(const std::string& text) const {
    return std::any_of(log_.begin(), log_.end(),
                       [&](const std::string& line) { return line.find(text) != std::string::npos; });
  }

  FakeRegistry registry_;
  FakeLaunchPlatform platform_;
  Unexpanded expander_;
  std::map<std::string, std::tuple<RegistryRoot, RegistryView, std::string>> rows_;
  std::map<std::string, std::string> removes_;
  std::vector<std::string> log_;
};

class WiredRun : public ::testing::Test, protected WiredMachine {
 protected:
  using WiredMachine::Run;
};

TEST_F(WiredRun, LegitimateRowsStillRun) {
  const std::string pf = "C:\\Program Files\\Contoso\\remove.exe";
  AddRow("", "ProgramFiles", "\"" + pf + "\" /x");
  AddFile(pf);
  Removes(pf, "ProgramFiles");
  const std::string cache = "C:\\ProgramData\\Package Cache\\{B1}\\contoso_setup.exe";
  AddRow("", "Bundle", "\"" + cache + "\" /uninstall", "2.5");
  AddFile(cache);
  Removes(cache, "Bundle");
  // ProgramData lets users add files, but the bundle cache below it is the installer's own.
  platform_.sddl["C:\\ProgramData"] =
      "O:SYD:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICIIO;GA;;;CO)(A;OICI;0x1200a9;;;BU)(A;CI;DCLCRPCR;;;BU)";
  platform_.sddl["C:\\ProgramData\\Package Cache"] = "O:BAD:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;WD)";
  AddRow("", "{11111111-2222-3333-4444-555555555555}", "MsiExec.exe /I{11111111-2222-3333-4444-555555555555}");
  SetMsi("{11111111-2222-3333-4444-555555555555}");
  Removes(kMsiexec, "{11111111-2222-3333-4444-555555555555}");
  const std::string nsis = "C:\\Users\\bob\\AppData\\Local\\Programs\\Contoso\\Uninstall.exe";
  AddRow(kBob, "Nsis", "\"" + nsis + "\" /S");
  AddFile(nsis);
  platform_.listings["C:\\Users\\bob\\AppData\\Local\\Programs\\Contoso"] = {nsis};
  Removes(nsis, "Nsis");

  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(platform_.calls,
            (std::vector<std::string>{
                // A WiX Burn bundle, told by its Package Cache folder, is told to be quiet.
                "direct [\"" + cache + "\" /uninstall /quiet /norestart] [" + cache +
                    "] in [C:\\ProgramData\\Package Cache\\{B1}] 30",
                                "direct [\"" + kMsiexec + "\" /X {11111111-2222-3333-4444-555555555555} /qn /norestart] [" +
                    kMsiexec + "] in [C:\\Windows\\system32] 30 installer",
                                "direct [\"" + pf + "\" /x /S] [" + pf + "] in [C:\\Program Files\\Contoso] 30",                 // The user's own row: in the user's session, with the user's token.
                "session 2 [" + nsis + "] [\"" + nsis + "\" /S] 1800000"}));
  EXPECT_TRUE(Logged("status : summary; name_hits : 4; version_hits : 4; skipped_version : 0; success : 4; failed : 0;"));
  // Each uninstaller started as SYSTEM had a temporary folder of its own, gone by the run's end.
  const std::string temp = "C:\\Windows\\Temp\\private-";
  EXPECT_EQ(platform_.launch_temps, (std::vector<std::string>{temp + "1", temp + "2", temp + "3"}));
  EXPECT_EQ(platform_.temp_folders,
            (std::vector<std::string>{"made " + temp + "1", "made " + temp + "2", "made " + temp + "3",
                                      "removed " + temp + "1", "removed " + temp + "2",
                                      "removed " + temp + "3"}));
  // Every file step of the user's row was done as the user.
  for (const std::string& probe : platform_.probes) {
    if (probe.find("C:\\Users\\bob") != std::string::npos) {
      EXPECT_NE(probe.find(" as 2"), std::string::npos) << probe;
    }
  }
  // Only the machine-wide executables were judged: the file and its folders down to C:\.
  EXPECT_EQ(platform_.security_reads.size(), 5u + 4u);
}

TEST_F(WiredRun, TheToolIsToldFromTheRowsValuesAndFromTheUsersFileReadAsTheUser) {
  const std::string inno = "C:\\Program Files\\Tailwind\\unins000.exe";
  const std::string path = AddRow("", "Tailwind", "\"" + inno + "\"");
  registry_.SetString(RegistryRoot::kLocalMachine, RegistryView::k64, path, "Inno Setup: App Path",
                      "C:\\Program Files\\Tailwind");
  AddFile(inno);
  Removes(inno, "Tailwind");
  const std::string nsis = "C:\\Users\\bob\\AppData\\Local\\Programs\\Litware\\uninst.exe";
  AddRow(kBob, "Litware", nsis);
  AddFile(nsis);
  platform_.contents[nsis] = std::string(512, 'x') + std::string("\x01\0\0\0\xEF\xBE\xAD\xDENullsoftInst", 20);
  Removes(nsis, "Litware");

  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(platform_.calls,
            (std::vector<std::string>{
                "direct [\"" + inno + "\" /VERYSILENT /SUPPRESSMSGBOXES /NORESTART] [" + inno +
                    "] in [C:\\Program Files\\Tailwind] 30",
                "session 2 [" + nsis + "] [\"" + nsis + "\" /S] 1800000"}));
  EXPECT_TRUE(Logged("installer_technology : \"Inno Setup\"; evidence : \"the row has Inno Setup: values\";"));
  EXPECT_TRUE(Logged("installer_technology : \"NSIS\"; evidence : \"the uninstaller holds the NSIS marker\";"));
  EXPECT_NE(std::find(platform_.probes.begin(), platform_.probes.end(), "head " + nsis + " as 2"),
            platform_.probes.end());
}

TEST_F(WiredRun, AUsersRowsNeverReachSystem) {
  // Bob is logged on, Eve is not. Eve's rows claim a machine-wide product's code and a share.
  AddRow(kEve, "{22222222-2222-3333-4444-555555555555}", "MsiExec.exe /X{AAAAAAAA-2222-3333-4444-555555555555}");
  SetMsi("{22222222-2222-3333-4444-555555555555}");
  AddRow(kEve, "Share", "\\\\eve-pc\\share\\uninstall.exe /S");
  // Bob's bundle-shaped row exits 0 and keeps its row; the machine-wide product must still go.
  AddRow(kBob, "FakeBundle", "\"C:\\Users\\bob\\setup.exe\" /uninstall");
  AddFile("C:\\Users\\bob\\setup.exe");
  const std::string real = "C:\\Program Files\\Contoso\\remove.exe";
  AddRow("", "Real", "\"" + real + "\"");
  AddFile(real);
  Removes(real, "Real");
  // A machine-wide row whose uninstaller sits where users may add files.
  const std::string writable = "C:\\ProgramData\\Contoso\\remove.exe";
  AddRow("", "Writable", "\"" + writable + "\"");
  AddFile(writable);
  platform_.sddl["C:\\ProgramData\\Contoso"] =
      "O:BAD:AI(A;OICIID;FA;;;SY)(A;OICIID;FA;;;BA)(A;OICIIOID;GA;;;CO)(A;OICIID;0x1200a9;;;BU)(A;CIID;DCLCRPCR;;;BU)";

  EXPECT_EQ(Run(), 51006);
  EXPECT_EQ(platform_.calls,
            (std::vector<std::string>{"direct [\"" + real + "\" /S] [" + real + "] in [C:\\Program Files\\Contoso] 30",
                                      "session 2 [C:\\Users\\bob\\setup.exe] [\"C:\\Users\\bob\\setup.exe\" /uninstall] 1800000"}));
  for (const std::string& probe : platform_.probes) {
    EXPECT_EQ(probe.find("eve"), std::string::npos) << probe;  // nothing of Eve's rows was opened
  }
  EXPECT_TRUE(Logged("right : \"add file\";"));
  EXPECT_TRUE(Logged("sid : \"" + std::string(kEve) + "\";"));
  EXPECT_TRUE(Logged("status : summary; name_hits : 5; version_hits : 5; skipped_version : 0; success : 2; failed : 3;"));
}

TEST(WiredAttacks, EachFailsItsRowAndLegitimateRowsStillRun) {
  const std::string pf = "C:\\Program Files\\Contoso";
  const std::string unins = pf + "\\unins000.exe";
  const std::string main_exe = pf + "\\Contoso Tool.exe";
  const std::string bobs = "C:\\Users\\bob\\AppData\\Local\\Contoso\\remove.exe";
  const std::string direct = "direct [\"" + unins + "\" /VERYSILENT] [" + unins + "] in [" + pf + "] 30";
  // A generic uninstaller beside the product's main program, of `version`.
  const auto generic = [&](WiredMachine& m, const std::string& written, const std::string& version) {
    m.AddRow("", "Generic", "\"" + written + "\" /VERYSILENT");
    m.AddFile(unins);
    m.AddFile(main_exe);
    m.platform_.listings[pf] = {unins, main_exe};
    m.platform_.versions[main_exe] = version;
    m.Removes(unins, "Generic");
  };
  struct Case {
    const char* what;
    std::function<void(WiredMachine&)> set_up;
    int exit_code;
    std::vector<std::string> calls;
    std::string logged;
  };
  const Case cases[] = {
      {"legitimate: a generic uninstaller beside its product of the rule's version",
       [&](WiredMachine& m) { generic(m, unins, "2.4.0.0"); }, 0, {direct},
       "Main EXE version matches the rule. Safe to use uninstall.exe."},
      {"legitimate: a user's own uninstaller, run as the file the user's path named",
       [&](WiredMachine& m) {
         m.AddRow(kBob, "Mine", "\"" + bobs + "\"");
         m.AddFile(bobs);
         m.Removes(bobs, "Mine");
       },
       0, {"session 2 [" + bobs + "] [\"" + bobs + "\" /S] 1800000"}, "VERIFY: registry key gone. SUCCESS."},
      {"F1: a user holds the main program open without sharing",
       [&](WiredMachine& m) {
         generic(m, unins, "2.4.0.0");
         m.platform_.version_errors[main_exe] = 32;
       },
       51006, {}, "the row is not run. Retry later.\"; file_path : \"" + main_exe + "\"; error_code : 32;"},
      {"F5: a folder of the user's path is swapped between the probe and the launch",
       [&](WiredMachine& m) {
         m.AddRow(kBob, "Mine", "\"" + bobs + "\"");
         m.AddFile(bobs);
         m.Removes(bobs, "Mine");
         m.platform_.launched_images[bobs] = FileIdentity{0x5A, 1};
       },
       51006, {"session 2 [" + bobs + "] [\"" + bobs + "\" /S] 1800000"}, "exit_code : 1006;"},
      {"F6: users may set values in a machine-wide row's key",
       [&](WiredMachine& m) {
         generic(m, unins, "2.4.0.0");
         m.registry_.AddKey(RegistryRoot::kLocalMachine, RegistryView::k64, kU + "\\Generic").sddl =
             "O:BAD:(A;CI;KA;;;SY)(A;CI;KA;;;BA)(A;CI;KR;;;BU)(A;;0x2;;;BU)";
       },
       51006, {},
       "registry_path : \"HKEY_LOCAL_MACHINE\\" + kU + "\\Generic (x64/native)\"; account : \"S-1-5-32-545\"; "
       "right : \"set value\";"},
      {"F8: an NTFS stick with administrators' permissions, at a drive letter the row names",
       [&](WiredMachine& m) {
         m.AddRow("", "Stick", "\"E:\\Contoso\\remove.exe\"");
         m.AddFile("E:\\Contoso\\remove.exe");
         m.platform_.volumes["E:\\"] = VolumeFacts{3, 0, false, 7};
       },
       51006, {}, "file_path : \"E:\\\"; reason : \"a device on an external bus (bus type 7)\";"},
      {"F9: users may add a subfolder beside the uninstaller",
       [&](WiredMachine& m) {
         generic(m, unins, "2.4.0.0");
         m.platform_.sddl[pf] = "O:BAD:(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x1200a9;;;BU)(A;;0x4;;;BU)";
       },
       51006, {}, "right : \"add subfolder\";"},
      {"F3: a user's opportunistic lock on the uninstaller, never acknowledged",
       [&](WiredMachine& m) {
         generic(m, unins, "2.4.0.0");
         m.platform_.stalled_paths.insert(unins);
       },
       51006, {}, "nothing of the row is run. Retry later.\"; file_path : \"" + unins + "\"; error_code : 1460;"},
      {"F10: a generic uninstaller written with a trailing dot, beside another version",
       [&](WiredMachine& m) { generic(m, unins + ".", "3.0.0.0"); }, 51002, {},
       "SKIP: ARP row matches the rule, but the product in this folder is a DIFFERENT version (3.0.0.0)."},
      {"legitimate: the same with the rule's version runs the file it judged",
       [&](WiredMachine& m) { generic(m, unins + ".", "2.4.0.0"); }, 0,
       {"direct [\"" + unins + "\" /VERYSILENT] [" + unins + "] in [" + pf + "] 30"},
       "the file found for it runs instead.\"; file_path : \"" + unins + "\";"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    WiredMachine machine;
    c.set_up(machine);
    EXPECT_EQ(machine.Run(), c.exit_code);
    EXPECT_EQ(machine.platform_.calls, c.calls);
    EXPECT_TRUE(machine.Logged(c.logged)) << c.logged;
    // A launch as SYSTEM started the file it held; nothing stays held after the run.
    for (const std::string& held : machine.platform_.held_at_launch) EXPECT_EQ(held, unins);
    EXPECT_TRUE(machine.platform_.held().empty());
  }
}

TEST_F(WiredRun, APlantedPrefixIsNeverRun) {
  AddRow("", "Unquoted", "C:\\ProgramData\\My App\\remove /q");
  AddFile("C:\\ProgramData\\My.exe");  // planted by a user
  AddFile("C:\\ProgramData\\My App\\remove.exe");
  Removes("C:\\ProgramData\\My App\\remove.exe", "Unquoted");
  platform_.sddl["C:\\ProgramData"] =
      "O:SYD:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICIIO;GA;;;CO)(A;OICI;0x1200a9;;;BU)(A;CI;DCLCRPCR;;;BU)";
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(platform_.calls,
            (std::vector<std::string>{"direct [\"C:\\ProgramData\\My App\\remove.exe\" /q /S] "
                                      "[C:\\ProgramData\\My App\\remove.exe] in [C:\\ProgramData\\My App] 30"}));
  EXPECT_TRUE(Logged("command : \"\"C:\\ProgramData\\My App\\remove\" /q /S\";"));
  EXPECT_TRUE(Logged("file_path : \"C:\\ProgramData\\My App\\remove.exe\";"));
}

}  // namespace
}  // namespace varnok
