#include "run/uninstall_run.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "support/host/fake_run_environment.h"
#include "support/host/log_capture.h"

namespace varnok {
namespace {

using testing::FakeRunEnvironment;

const std::string kU = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

UninstallEntry Row(const std::string& key, const std::string& name, const std::string& version,
                   const std::string& uninstall) {
  UninstallEntry e;
  e.root = RegistryRoot::kLocalMachine;
  e.view_64bit = true;
  e.arch = "x64/native";
  e.key_name = key;
  e.registry_path = kU + key;
  e.display_name = name;
  e.display_version = version;
  e.uninstall_string = uninstall;
  return e;
}

UninstallEntry MsiRow(const std::string& code, const std::string& name, const std::string& version) {
  UninstallEntry e = Row(code, name, version, "MsiExec.exe /I" + code);
  e.is_windows_installer = true;
  return e;
}

RunOptions Options(const std::string& name, const std::string& type, const std::string& a,
                   const std::string& b = "") {
  RunOptions o;
  o.DisplayName = name;
  o.MatchTypeText = type;
  if (type == "Exact") {
    o.MatchType = VersionMatchKind::kExact;
    o.ExactVersion = a;
  } else if (type == "Series") {
    o.MatchType = VersionMatchKind::kSeries;
    o.SeriesPrefix = a;
  } else {
    o.MatchType = VersionMatchKind::kRange;
    o.MinVersion = a;
    o.MaxVersion = b;
  }
  return o;
}

struct Result {
  int exit_code;
  RunCounters counters;
  std::vector<std::string> lines;  // "LEVEL message"
};

Result RunWith(const RunOptions& options, FakeRunEnvironment& env) {
  testing::TakeLogLines();
  Result r;
  r.exit_code = RunUninstall(options, env, &r.counters);
  for (const auto& line : testing::TakeLogLines()) {
    r.lines.push_back(std::string(line.level == LogLevel::kError ? "ERROR " : "INFO ") + line.message);
  }
  return r;
}

bool Has(const Result& r, const std::string& line) {
  return std::find(r.lines.begin(), r.lines.end(), line) != r.lines.end();
}

std::string Summary(int names, int versions, int skipped, int success, int failed) {
  return "INFO operation : app_varnok; status : summary; name_hits : " + std::to_string(names) +
         "; version_hits : " + std::to_string(versions) + "; skipped_version : " +
         std::to_string(skipped) + "; success : " + std::to_string(success) +
         "; failed : " + std::to_string(failed) + ";";
}

TEST(UninstallRun, TypicalRangeRunWritesEveryStep) {
  FakeRunEnvironment env;
  env.inventory = {Row("Other", "Other App", "1.0", "\"C:\\O\\o.exe\""),
                   Row("Contoso", "Contoso Tool", "2.4", "\"C:\\Contoso\\remove.exe\" --x")};
  const Result r = RunWith(Options("Contoso Tool", "Range", "1.0", "2.9"), env);
  EXPECT_EQ(r.exit_code, 0);
  const std::vector<std::string> expected = {
      "INFO operation : app_varnok; remarks : \"Name hits (Exact): 1;\";",
      "INFO operation : app_varnok; remarks : \"Order: main bundle/Package Cache EXE first; nested MSI last if a bundle exists.\";",
      "INFO ----------",
      "INFO operation : app_varnok; registry_path : \"" + kU + "Contoso\"; arch : \"x64/native\"; display_name : \"Contoso Tool\"; display_version : \"2.4\";",
      "INFO operation : app_varnok; remarks : \"Version candidate [2.4]: Range match 1.0 <= 2.4 <= 2.9\";",
      "INFO operation : app_varnok; installer_type : \"EXE\"; command : \"\"C:\\Contoso\\remove.exe\" --x /S\";",
      "INFO operation : app_varnok; exit_code : 0;",
      "INFO operation : app_varnok; remarks : \"VERIFY: registry key gone. SUCCESS.\";",
      Summary(1, 1, 0, 1, 0),
      "INFO operation : app_varnok; status : success; return_value : 0;",
  };
  EXPECT_EQ(r.lines, expected);
  ASSERT_EQ(env.launches.size(), 1u);
  EXPECT_EQ(env.launches[0].command.command_line, "\"C:\\Contoso\\remove.exe\" --x /S");
  EXPECT_EQ(env.shell_restores, 1);
  EXPECT_TRUE(env.sleeps.empty());
}

TEST(UninstallRun, NoNameHitListsAtMostEightNearMisses) {
  FakeRunEnvironment env;
  for (int i = 0; i < 10; ++i) {
    env.inventory.push_back(Row("K" + std::to_string(i), "My foo " + std::to_string(i), "1." + std::to_string(i), "u.exe"));
  }
  env.inventory.insert(env.inventory.begin(), Row("Pro", "Foo Pro", "", "u.exe"));
  RunOptions o = Options("Foo", "Exact", "1");
  const Result r = RunWith(o, env);
  EXPECT_EQ(r.exit_code, 51001);
  ASSERT_EQ(r.lines.size(), 9u);
  EXPECT_EQ(r.lines[0], "ERROR operation : app_varnok; status : failure; remarks : \"Application not found (NameMatch=Exact, pattern=[Foo]).\"; return_value : 51001;");
  EXPECT_EQ(r.lines[1], "INFO operation : app_varnok; remarks : \"similar (not used): Foo Pro; version=;\";");
  EXPECT_EQ(r.lines[8], "INFO operation : app_varnok; remarks : \"similar (not used): My foo 6; version=1.6;\";");
  EXPECT_EQ(env.shell_restores, 0);

  FakeRunEnvironment empty;
  const Result none = RunWith(o, empty);
  EXPECT_EQ(none.exit_code, 51001);
  EXPECT_EQ(none.lines.size(), 1u);

  o.NameMatch = NameMatchKind::kContains;
  o.NameMatchText = "Contains";
  const Result contains = RunWith(o, env);
  EXPECT_EQ(contains.counters.name_hits, 11);
  EXPECT_TRUE(Has(contains, "INFO operation : app_varnok; remarks : \"Name hits (Contains): 11;\";"));
}

TEST(UninstallRun, SkipsAndTheirCounters) {
  FakeRunEnvironment env;
  env.inventory = {
      Row("Shell", "Microsoft Windows Desktop Runtime - 6.0.1", "6.0.1", "u.exe"),
      Row("Miss", "Microsoft Windows Thing", "", ""),  // protected before any version test
  };
  RunOptions o = Options("Microsoft Windows", "Exact", "6.0.1");
  o.NameMatch = NameMatchKind::kPrefix;
  o.NameMatchText = "Prefix";
  const Result r = RunWith(o, env);
  EXPECT_EQ(r.exit_code, 51002);
  EXPECT_EQ(std::count(r.lines.begin(), r.lines.end(), "INFO operation : app_varnok; remarks : \"SKIP: protected Windows shell component. Will not uninstall.\";"), 2);
  for (const std::string& line : r.lines) EXPECT_EQ(line.find("Version candidate"), std::string::npos);
  EXPECT_TRUE(Has(r, Summary(2, 0, 2, 0, 0)));
  EXPECT_TRUE(Has(r, "ERROR operation : app_varnok; status : failure; remarks : \"No entries matched the version rule.\"; return_value : 51002;"));
  EXPECT_EQ(env.shell_restores, 1);
}

TEST(UninstallRun, OnlyTheFirstNonEmptyVersionCandidateIsTested) {
  FakeRunEnvironment env;
  env.inventory = {Row("A", "Foo 1.0", "2.0", "\"C:\\a.exe\""),     // DisplayVersion wins and misses
                   Row("B", "Foo 2019", "", "\"C:\\b.exe\""),        // year from the name
                   Row("C", "Foo", "", "\"C:\\c.exe\"")};            // no candidate at all
  RunOptions o = Options("Foo", "Exact", "1.0");
  o.NameMatch = NameMatchKind::kPrefix;
  o.NameMatchText = "Prefix";
  const Result r = RunWith(o, env);
  const std::string skip = "INFO operation : app_varnok; remarks : \"SKIP uninstall (version rule not matched on DisplayVersion or DisplayName).\";";
  EXPECT_TRUE(Has(r, "INFO operation : app_varnok; remarks : \"Version candidate [2.0]: Exact miss: installed=2.0 rule=1.0\";"));
  EXPECT_TRUE(Has(r, "INFO operation : app_varnok; remarks : \"Version candidate [2019]: Exact miss: installed=2019 rule=1.0\";"));
  EXPECT_EQ(std::count(r.lines.begin(), r.lines.end(), skip), 3);
  EXPECT_EQ(r.counters.skipped_version, 3);
  EXPECT_EQ(r.exit_code, 51002);
  EXPECT_TRUE(env.launches.empty());
}

TEST(UninstallRun, SharedUninstallerGuard) {
  struct Row_ {
    const char* what;
    std::string main_exe;
    std::string file_version;
    bool runs;
    std::vector<std::string> lines;
  };
  const std::string folder = "C:\\Program Files\\Foo";
  const Row_ rows[] = {
      {"no second executable", "", "", true,
       {"INFO operation : app_varnok; remarks : \"No second EXE next to Uninstall.exe. Registry version already matched; using Uninstall.exe.\";"}},
      {"file version matches", folder + "\\Foo.exe", "2.5.0.0", true,
       {"INFO operation : app_varnok; remarks : \"Main EXE: " + folder + "\\Foo.exe; Main EXE version: 2.5.0.0;\";",
        "INFO operation : app_varnok; remarks : \"Main EXE version matches the rule. Safe to use uninstall.exe.\";"}},
      {"different version", folder + "\\Foo.exe", "3.0.0.0", false,
       {"INFO operation : app_varnok; remarks : \"SKIP: ARP row matches the rule, but the product in this folder is a DIFFERENT version (3.0.0.0). Running uninstall.exe would remove the live product. Not proceeding.\";"}},
      {"file-name version rescues", folder + "\\Foo 2.7.exe", "3.0.0.0", true,
       {"INFO operation : app_varnok; remarks : \"Version from file name: 2.7;\";"}},
      {"no version anywhere", folder + "\\Foo.exe", "", false,
       {"INFO operation : app_varnok; remarks : \"SKIP: ARP row matches the rule, but the product in this folder is a DIFFERENT version (). Running uninstall.exe would remove the live product. Not proceeding.\";"}},
  };
  for (const Row_& row : rows) {
    SCOPED_TRACE(row.what);
    FakeRunEnvironment env;
    env.inventory = {Row("Foo", "Foo", "2.1", "\"" + folder + "\\uninstall.exe\"")};
    if (!row.main_exe.empty()) env.main_executables[folder] = row.main_exe;
    env.file_versions[row.main_exe] = row.file_version;
    const Result r = RunWith(Options("Foo", "Series", "2"), env);
    EXPECT_TRUE(Has(r, "INFO operation : app_varnok; remarks : \"Shared uninstall.exe folder: " + folder + "\";"));
    for (const std::string& line : row.lines) EXPECT_TRUE(Has(r, line)) << line;
    EXPECT_EQ(env.launches.size(), row.runs ? 1u : 0u);
    EXPECT_EQ(r.counters.version_hits, row.runs ? 1 : 0);
    EXPECT_EQ(r.counters.skipped_version, row.runs ? 0 : 1);
  }
}

TEST(UninstallRun, WhatIfRunsNothingAndSucceeds) {
  FakeRunEnvironment env;
  env.inventory = {Row("A", "Foo", "1.0", "\"C:\\a.exe\""), Row("B", "Foo", "9.0", "\"C:\\b.exe\"")};
  RunOptions o = Options("Foo", "Exact", "1.0");
  o.WhatIf = true;
  const Result r = RunWith(o, env);
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.lines.front(), "INFO operation : app_varnok; remarks : \"WhatIf mode enabled. No uninstall will be executed.\";");
  EXPECT_TRUE(Has(r, "INFO operation : app_varnok; remarks : \"WHATIF: would uninstall Foo.\";"));
  EXPECT_TRUE(Has(r, Summary(2, 1, 1, 1, 0)));
  EXPECT_TRUE(env.launches.empty());
  EXPECT_EQ(env.shell_restores, 1);

  o.ExactVersion = "5";  // nothing passes the rule: still 0 under WhatIf
  EXPECT_EQ(RunWith(o, env).exit_code, 0);
}

TEST(UninstallRun, ExitCodesOfUninstallers) {
  FakeRunEnvironment env;
  env.inventory = {Row("A", "Foo", "1.0", "\"C:\\a.exe\""), Row("B", "Foo", "1.0", "\"C:\\b.exe\""),
                   Row("C", "Foo", "1.0", "\"C:\\c.exe\""), Row("D", "Foo", "1.0", "\"C:\\d.exe\""),
                   Row("E", "Foo", "1.0", "\"C:\\e.exe\"")};
  env.outcomes[kU + "A"] = {1603, "", 0};
  env.outcomes[kU + "B"] = {3010, "", 0};
  env.outcomes[kU + "C"] = {1605, "", 0};
  env.outcomes[kU + "D"] = {51005, "Uninstall executable not found on disk: C:\\d.exe. Files may already be removed; only a leftover registry entry remains.", 0};
  env.outcomes[kU + "E"] = {-1073741819, "", 0};
  const Result r = RunWith(Options("Foo", "Exact", "1.0"), env);
  EXPECT_EQ(env.launches.size(), 5u);  // a failure never stops the loop
  EXPECT_TRUE(Has(r, "ERROR operation : app_varnok; remarks : \"VERIFY: uninstall failed. exit_code : 1603; remarks : \";"));
  EXPECT_TRUE(Has(r, "INFO operation : app_varnok; remarks : \"MSI 1605 = product not installed anymore. Treating as SUCCESS.\";"));
  EXPECT_TRUE(Has(r, "ERROR operation : app_varnok; remarks : \"VERIFY: uninstall failed. exit_code : 51005; remarks : Uninstall executable not found on disk: C:\\d.exe. Files may already be removed; only a leftover registry entry remains.\";"));
  EXPECT_TRUE(Has(r, "INFO operation : app_varnok; exit_code : -1073741819;"));
  EXPECT_TRUE(Has(r, Summary(5, 5, 0, 2, 3)));
  EXPECT_EQ(r.exit_code, 51006);
  EXPECT_EQ(r.lines.back(), "ERROR operation : app_varnok; status : failure; return_value : 51006;");
}

TEST(UninstallRun, VerificationWaitsThirtySixtyNinetySeconds) {
  struct Case {
    long gone_after_ms;
    std::vector<unsigned> sleeps;
    const char* word;
    int success, failed;
  };
  const Case cases[] = {
      {40000, {30000, 60000}, "does not exists", 1, 0},
      {10, {30000}, "does not exists", 1, 0},
      {-1, {30000, 60000, 90000}, "exists", 0, 1},
      {180001, {30000, 60000, 90000}, "exists", 0, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.gone_after_ms);
    FakeRunEnvironment env;
    env.inventory = {Row("A", "Foo", "1.0", "\"C:\\a.exe\"")};
    env.outcomes[kU + "A"] = {0, "", c.gone_after_ms};
    const Result r = RunWith(Options("Foo", "Exact", "1.0"), env);
    EXPECT_TRUE(Has(r, "INFO operation : app_varnok; remarks : \"VERIFY: process ok but registry key still present. Check manually.\";"));
    EXPECT_TRUE(Has(r, std::string("INFO operation : app_varnk; remarks : \"Registry after exponential backoff ") + c.word + "\""));
    EXPECT_EQ(env.sleeps, c.sleeps);
    EXPECT_EQ(r.counters.success, c.success);
    EXPECT_EQ(r.counters.failed, c.failed);
  }
}

TEST(UninstallRun, LeftoverRowAfter1605CostsTheWholeWaitAndFails) {
  FakeRunEnvironment env;
  env.inventory = {MsiRow("{11111111-2222-3333-4444-555555555555}", "Foo", "1.0")};
  env.outcomes[kU + "{11111111-2222-3333-4444-555555555555}"] = {1605, "", -1};
  const Result r = RunWith(Options("Foo", "Exact", "1.0"), env);
  EXPECT_TRUE(Has(r, "INFO operation : app_varnok; remarks : \"MSI 1605 = product not installed anymore. Treating as SUCCESS.\";"));
  EXPECT_EQ(env.sleeps, (std::vector<unsigned>{30000, 60000, 90000}));
  EXPECT_TRUE(Has(r, "INFO operation : app_varnk; remarks : \"Registry after exponential backoff exists\""));
  EXPECT_EQ(r.exit_code, 51006);
}

TEST(UninstallRun, UninstallerKilledAtTheTimeoutIsAFailure) {
  FakeRunEnvironment env;
  env.inventory = {Row("A", "Foo", "1.0", "\"C:\\a.exe\"")};
  env.outcomes[kU + "A"] = {258, "", 0};
  const Result r = RunWith(Options("Foo", "Exact", "1.0"), env);
  EXPECT_TRUE(Has(r, "ERROR operation : app_varnok; remarks : \"VERIFY: uninstall failed. exit_code : 258; remarks : \";"));
  EXPECT_TRUE(env.sleeps.empty());
  EXPECT_EQ(r.exit_code, 51006);
}

TEST(UninstallRun, MainBundleHandlesItsNestedRows) {
  const std::string cache = "\"C:\\ProgramData\\Package Cache\\{B}\\python-3.12.1-amd64.exe\" /uninstall";
  auto bundle = [&](const std::string& key) { return Row(key, "Python 3.12.1 (64-bit)", "3.12.1150.0", cache); };
  auto core = MsiRow("{11111111-2222-3333-4444-555555555555}", "Python 3.12.1 Core Interpreter (64-bit)", "3.12.1150.0");
  auto pip = MsiRow("{21111111-2222-3333-4444-555555555555}", "Python 3.12.1 pip Bootstrap (64-bit)", "3.12.1150.0");
  RunOptions o = Options("Python 3.12.1", "Series", "3.12");
  o.NameMatch = NameMatchKind::kPrefix;
  o.NameMatchText = "Prefix";
  const std::string skip = "INFO operation : app_varnok; remarks : \"SKIP: main bundle already handled this product (Python 3.12.1|3.12.1150.0). Nested MSI/EXE will not run.\";";
  {  // bundle succeeds although its row stays: nested rows are skipped
    FakeRunEnvironment env;
    env.inventory = {core, pip, bundle("Bundle")};
    env.outcomes[kU + "Bundle"] = {0, "", -1};
    const Result r = RunWith(o, env);
    ASSERT_EQ(env.launches.size(), 1u);
    EXPECT_EQ(env.launches[0].registry_path, kU + "Bundle");
    EXPECT_TRUE(Has(r, "INFO operation : app_varnok; remarks : \"VERIFY: bundle process ok but registry key still present. Marking bundle success; nested MSI/EXE will be skipped.\";"));
    EXPECT_EQ(std::count(r.lines.begin(), r.lines.end(), skip), 2);
    EXPECT_TRUE(Has(r, Summary(3, 1, 2, 1, 0)));
    EXPECT_TRUE(env.sleeps.empty());
    EXPECT_EQ(r.exit_code, 0);
  }
  {  // a failed bundle leaves its nested rows to run on their own, pip first
    FakeRunEnvironment env;
    env.inventory = {core, pip, bundle("Bundle")};
    env.outcomes[kU + "Bundle"] = {1603, "", 0};
    const Result r = RunWith(o, env);
    ASSERT_EQ(env.launches.size(), 3u);
    EXPECT_EQ(env.launches[1].command.command_line, "msiexec.exe /X {21111111-2222-3333-4444-555555555555} /qn /norestart");
    EXPECT_EQ(env.launches[2].command.command_line, "msiexec.exe /X {11111111-2222-3333-4444-555555555555} /qn /norestart");
    EXPECT_EQ(r.exit_code, 51006);
  }
  {  // a second main bundle of the same product still runs
    FakeRunEnvironment env;
    env.inventory = {bundle("First"), bundle("Second")};
    const Result r = RunWith(o, env);
    EXPECT_EQ(env.launches.size(), 2u);
    EXPECT_EQ(r.counters.success, 2);
  }
  {  // WhatIf marks the product handled too
    FakeRunEnvironment env;
    env.inventory = {core, bundle("Bundle")};
    RunOptions whatif = o;
    whatif.WhatIf = true;
    const Result r = RunWith(whatif, env);
    EXPECT_EQ(std::count(r.lines.begin(), r.lines.end(), skip), 1);
  }
}

TEST(UninstallRun, RowWithoutCommandFailsWithoutRunning) {
  FakeRunEnvironment env;
  env.inventory = {Row("A", "Foo", "1.0", ""), Row("B", "Foo", "1.0", "\"C:\\b.exe\"")};
  const Result r = RunWith(Options("Foo", "Exact", "1.0"), env);
  EXPECT_TRUE(Has(r, "ERROR operation : BuildUninstallCommand; status : failure; remarks : \"UninstallString is empty for Foo\";"));
  EXPECT_EQ(env.launches.size(), 1u);
  EXPECT_TRUE(Has(r, Summary(2, 2, 0, 1, 1)));
  EXPECT_EQ(r.exit_code, 51006);
  for (const std::string& line : r.lines) EXPECT_NE(line, "INFO operation : app_varnok; installer_type : \"EXE\"; command : \"\";");
}

TEST(UninstallRun, PerUserRowsCarryTheirOwnerToTheLaunch) {
  FakeRunEnvironment env;
  UninstallEntry mine = Row("Mine", "Foo", "1.0", "\"C:\\Users\\bob\\foo\\u.exe\"");
  mine.root = RegistryRoot::kUsers;
  mine.registry_path = "S-1-5-21-7-8-9-1001\\" + kU + "Mine";
  env.inventory = {mine};
  RunWith(Options("Foo", "Exact", "1.0"), env);
  ASSERT_EQ(env.launches.size(), 1u);
  EXPECT_TRUE(env.launches[0].command.per_user);
  EXPECT_EQ(OwnerSidOf(mine), "S-1-5-21-7-8-9-1001");
}

}  // namespace
}  // namespace varnok
