#include "run/uninstall_run.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "log/log.h"
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
      {"folder-name version rescues", folder + " 2.3\\Foo.exe", "3.0.0.0", true,
       {"INFO operation : app_varnok; remarks : \"Version from folder name: 2.3;\";",
        "INFO operation : app_varnok; remarks : \"Main EXE version matches the rule. Safe to use uninstall.exe.\";"}},
      {"a folder version outside the rule rescues nothing", folder + " 3.1\\Foo.exe", "", false,
       {"INFO operation : app_varnok; remarks : \"Version from folder name: 3.1;\";"}},
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

TEST(UninstallRun, VerificationWaitsUpToThirtySixtyNinetySecondsAndWakesWhenTheRowLeaves) {
  struct Case {
    long gone_after_ms;
    bool watch_works;
    std::vector<long> other_changes;
    std::vector<unsigned> waits;
    long elapsed_ms;
    const char* word;
    int success, failed;
  };
  const Case cases[] = {
      {40000, true, {}, {30000, 60000}, 40000, "does not exists", 1, 0},
      {1500, true, {}, {30000}, 1500, "does not exists", 1, 0},
      {-1, true, {}, {30000, 60000, 90000}, 180000, "exists", 0, 1},
      {180001, true, {}, {30000, 60000, 90000}, 180000, "exists", 0, 1},
      // Another row's change wakes the wait; it goes on to the same end.
      {40000, true, {10000}, {30000, 20000, 60000}, 40000, "does not exists", 1, 0},
      {-1, true, {100000, 100050}, {30000, 60000, 90000, 80000, 79950}, 180000, "exists", 0, 1},
      // Where the key cannot be watched, each wait runs its whole time.
      {40000, false, {10000}, {30000, 60000}, 90000, "does not exists", 1, 0},
      {10, false, {}, {30000}, 30000, "does not exists", 1, 0},
      {-1, false, {}, {30000, 60000, 90000}, 180000, "exists", 0, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.gone_after_ms) + (c.watch_works ? " watched" : " slept"));
    FakeRunEnvironment env;
    env.key_watch_works = c.watch_works;
    env.other_changes_at = c.other_changes;
    env.inventory = {Row("A", "Foo", "1.0", "\"C:\\a.exe\"")};
    env.outcomes[kU + "A"] = {0, "", c.gone_after_ms};
    const Result r = RunWith(Options("Foo", "Exact", "1.0"), env);
    EXPECT_TRUE(Has(r, "INFO operation : app_varnok; remarks : \"VERIFY: process ok but registry key still present. Check manually.\";"));
    EXPECT_TRUE(Has(r, std::string("INFO operation : app_varnk; remarks : \"Registry after exponential backoff ") + c.word + "\""));
    EXPECT_EQ(env.watched_keys, std::vector<std::string>{kU + "A"});
    EXPECT_EQ(env.sleeps, c.waits);
    EXPECT_EQ(env.clock_ms, c.elapsed_ms);
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

UninstallEntry UserRow(const std::string& sid, const std::string& key, const std::string& name,
                       const std::string& version, const std::string& uninstall) {
  UninstallEntry e = Row(key, name, version, uninstall);
  e.root = RegistryRoot::kUsers;
  e.arch = "per-user (" + sid + ")";
  e.registry_path = sid + "\\" + kU + key;
  return e;
}

RowAccess InSession(const std::string& sid, unsigned long session) {
  RowAccess access;
  access.route = RowAccess::Route::kOwnerSession;
  access.session_id = session;
  access.owner_sid = sid;
  return access;
}

const char kBob[] = "S-1-5-21-7-8-9-1001";
const char kEve[] = "S-1-5-21-7-8-9-1002";

TEST(UninstallRun, APerUserRowIsHandledAsItsOwnerOrNotAtAll) {
  FakeRunEnvironment env;
  const UninstallEntry row = UserRow(kBob, "Mine", "Foo", "1.0", "\"C:\\Users\\bob\\foo\\uninstall.exe\"");
  const UninstallEntry old = UserRow(kBob, "Old", "Foo", "0.9", "\"C:\\Users\\bob\\old\\u.exe\"");
  env.inventory = {row, old};
  RowAccess absent;
  absent.route = RowAccess::Route::kNoOwnerSession;
  absent.owner_sid = kBob;
  env.access[row.registry_path] = absent;
  const Result r = RunWith(Options("Foo", "Exact", "1.0"), env);
  // The owner is looked up once the rule matched, before any file step; a skipped row costs none.
  EXPECT_EQ(env.probes, (std::vector<std::string>{"access " + row.registry_path}));
  EXPECT_TRUE(env.launches.empty());
  const std::vector<std::string> tail = {
      "INFO operation : app_varnok; remarks : \"Version candidate [1.0]: Exact match 1.0 = 1.0\";",
      "ERROR operation : ExecuteUninstallCommand; status : failure; remarks : \"Per-user uninstaller not run: "
      "the owner of the row has no interactive session, and it is never run as SYSTEM\"; sid : \"" +
          std::string(kBob) + "\";",
      "INFO operation : app_varnok; exit_code : 1312;",
      "ERROR operation : app_varnok; remarks : \"VERIFY: uninstall failed. exit_code : 1312; remarks : Owner "
      "of the per-user row is not logged on; uninstaller not run as SYSTEM.\";",
  };
  const auto at = std::find(r.lines.begin(), r.lines.end(), tail[0]);
  ASSERT_NE(at, r.lines.end());
  EXPECT_EQ(std::vector<std::string>(at, at + 4), tail);
  EXPECT_TRUE(Has(r, Summary(2, 1, 1, 0, 1)));
  EXPECT_EQ(r.exit_code, 51006);

  // In the owner's session the row's file steps and its launch carry that session.
  FakeRunEnvironment present;
  present.inventory = {row};
  present.access[row.registry_path] = InSession(kBob, 5);
  present.main_executables["C:\\Users\\bob\\foo"] = "";
  EXPECT_EQ(RunWith(Options("Foo", "Exact", "1.0"), present).exit_code, 0);
  ASSERT_EQ(present.launches.size(), 1u);
  EXPECT_EQ(present.launches[0].target.access.session_id, 5u);
  EXPECT_EQ(present.launches[0].target.file, "C:\\Users\\bob\\foo\\uninstall.exe");
  EXPECT_EQ(present.probes, (std::vector<std::string>{"access " + row.registry_path,
                                                      "locate \"C:\\Users\\bob\\foo\\uninstall.exe\"",
                                                      "prepare C:\\Users\\bob\\foo\\uninstall.exe",
                                                      "main C:\\Users\\bob\\foo",
                                                      "recognize C:\\Users\\bob\\foo\\uninstall.exe"}));
}

// A row whose UninstallString and InstallLocation were stored as REG_EXPAND_SZ.
UninstallEntry ExpandSz(UninstallEntry e) {
  e.uninstall_string = "\"%ProgramFiles%\\C\\uninstall.exe\" /x";
  e.install_location = "%ProgramFiles%\\C";
  e.expand_sz.uninstall_string = e.expand_sz.install_location = true;
  return e;
}

TEST(UninstallRun, ExpandSzValuesAreExpandedAsTheirOwnerSeesThemBeforeAnyPathIsJudged) {
  using Owner = ExpansionEnvironment::Owner;
  RowAccess native;
  native.native_system_folder = true;
  const UninstallEntry machine = ExpandSz(Row("K", "Foo", "1.0", ""));
  UninstallEntry mine = machine;
  mine.root = RegistryRoot::kCurrentUser;
  // `program_files` as handed to the expansion.
  const struct { UninstallEntry row; RowAccess access; Owner owner; unsigned long session; const char* name, *program_files; } cases[] = {
      {machine, RowAccess(), Owner::kSystem, 0, "system", "%ProgramFiles%"},
      {machine, native, Owner::kSystem, 0, "system", "%ProgramW6432%"},  // 64-bit view, WOW64
      {mine, RowAccess(), Owner::kProcessUser, 0, "process user", "%ProgramFiles%"},
      {ExpandSz(UserRow(kBob, "K", "Foo", "1.0", "")), InSession(kBob, 4), Owner::kSessionUser, 4,
       "session user", "%ProgramFiles%"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.name) + " " + c.program_files);
    FakeRunEnvironment env;
    env.inventory = {c.row};
    env.access[c.row.registry_path] = c.access;
    const std::string location = std::string(c.program_files) + "\\C";
    const std::string command = "\"" + location + "\\uninstall.exe\" /x";
    env.expansions[location] = {0, "D:\\C"};
    env.expansions[command] = {0, "\"D:\\C\\uninstall.exe\" /x"};
    const Result r = RunWith(Options("Foo", "Exact", "1.0"), env);
    ASSERT_EQ(env.expansion_requests.size(), 1u);
    EXPECT_EQ(env.expansion_requests[0].environment.owner, c.owner);
    EXPECT_EQ(env.expansion_requests[0].environment.session_id, c.session);
    EXPECT_EQ(env.expansion_requests[0].texts, (std::vector<std::string>{location, command}));
    // The locate step, the guard and the builder see the expansion only.
    EXPECT_EQ(env.probes, (std::vector<std::string>{"access " + c.row.registry_path, "expand",
                                                    "locate \"D:\\C\\uninstall.exe\" /x",
                                                    "prepare D:\\C\\uninstall.exe", "main D:\\C",
                                                    "recognize D:\\C\\uninstall.exe"}));
    EXPECT_EQ(env.located_in, std::vector<std::string>{"D:\\C"});
    EXPECT_TRUE(Has(r, std::string("INFO operation : app_varnok; value_name : \"UninstallString\"; environment : \"") +
                           c.name + "\"; expanded : \"\"D:\\C\\uninstall.exe\" /x\";"));
    ASSERT_EQ(env.launches.size(), 1u);
    EXPECT_EQ(env.launches[0].command.command_line, "\"D:\\C\\uninstall.exe\" /x /S");
  }
}

TEST(UninstallRun, AnExpansionThatCannotBeUsedFailsTheRowBeforeAnythingRuns) {
  const struct { ExpandedText expanded; int code; const char* why; } cases[] = {
      {{1332, ""}, 1332, "could not be expanded"},
      {{kErrorValueTooLarge, ""}, 223, "expands to more than 65536 bytes"},
      {{0, "\"D:\\%NOPE%\\u.exe\""}, 203, "still holds a % once expanded (a variable its environment does not define)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why);
    FakeRunEnvironment env;
    const UninstallEntry row = ExpandSz(Row("K", "Foo", "1.0", ""));
    env.inventory = {row};
    env.expansions[row.install_location] = {0, "D:\\C"};  // usable, yet the row is not used
    env.expansions[row.uninstall_string] = c.expanded;
    const Result r = RunWith(Options("Foo", "Exact", "1.0"), env);
    EXPECT_EQ(env.probes, (std::vector<std::string>{"access " + row.registry_path, "expand"}));
    EXPECT_TRUE(Has(r, std::string("ERROR operation : app_varnok; status : failure; remarks : \"REG_EXPAND_SZ value ") +
                           c.why + "; nothing of the row is run\"; value_name : \"UninstallString\"; stored : "
                           "\"\"%ProgramFiles%\\C\\uninstall.exe\" /x\"; error_code : " + std::to_string(c.code) + ";"));
    EXPECT_TRUE(Has(r, Summary(1, 1, 0, 0, 1)));
  }
}

TEST(UninstallRun, OnlyRowsThatMatchAndMayBeHandledAreExpanded) {
  FakeRunEnvironment env;
  const UninstallEntry absent = ExpandSz(UserRow(kEve, "Eves", "Foo", "1.0", ""));
  const UninstallEntry matching = ExpandSz(Row("Match", "Foo", "1.0", ""));
  env.inventory = {ExpandSz(Row("Other", "Bar", "1.0", "")), ExpandSz(Row("Old", "Foo", "0.9", "")), absent,
                   Row("Plain", "Foo", "1.0", "\"C:\\%Plain%\\remove.exe\""), matching};
  env.access[absent.registry_path].route = RowAccess::Route::kNoOwnerSession;
  env.expansions[matching.install_location] = {0, "D:\\C"};
  env.expansions[matching.uninstall_string] = {0, "\"D:\\C\\uninstall.exe\" /x"};
  const Result r = RunWith(Options("Foo", "Exact", "1.0"), env);
  ASSERT_EQ(env.expansion_requests.size(), 1u);
  EXPECT_EQ(env.expansion_requests[0].texts[1], matching.uninstall_string);
  // A REG_SZ text is used as stored, "%" and all.
  ASSERT_EQ(env.launches.size(), 2u);
  EXPECT_EQ(env.launches[1].command.command_line, "\"C:\\%Plain%\\remove.exe\" /S");
  EXPECT_TRUE(Has(r, Summary(4, 3, 1, 2, 1)));
}

TEST(UninstallRun, MachineWideRowsRunBeforePerUserRows) {
  FakeRunEnvironment env;
  env.inventory = {
      UserRow(kBob, "UserBundle", "Foo", "1.0", "\"C:\\Users\\bob\\setup.exe\" /uninstall"),
      Row("Plain", "Foo", "1.0", "\"C:\\Foo\\remove.exe\""),
      MsiRow("{11111111-2222-3333-4444-555555555555}", "Foo", "1.0"),
      UserRow(kBob, "UserPlain", "Foo", "0.9", "\"C:\\Users\\bob\\remove.exe\""),
  };
  RunOptions o = Options("Foo", "Range", "0", "9");
  RunWith(o, env);
  std::vector<std::string> order;
  for (const auto& launch : env.launches) order.push_back(launch.registry_path);
  EXPECT_EQ(order, (std::vector<std::string>{kU + "{11111111-2222-3333-4444-555555555555}", kU + "Plain",
                                             std::string(kBob) + "\\" + kU + "UserBundle",
                                             std::string(kBob) + "\\" + kU + "UserPlain"}));
}

TEST(UninstallRun, ABundleVouchesOnlyForRowsOfItsOwnOwner) {
  const std::string code = "{11111111-2222-3333-4444-555555555555}";
  const std::string bundle_cmd = "\"C:\\Setup\\setup.exe\" /uninstall";
  struct Case {
    const char* what;
    std::vector<UninstallEntry> inventory;
    std::string bundle_path;
    std::vector<std::string> launched;
  };
  UninstallEntry user_msi = MsiRow(code, "Foo", "1.0");
  user_msi.root = RegistryRoot::kUsers;
  user_msi.registry_path = std::string(kBob) + "\\" + kU + code;
  UninstallEntry eve_msi = user_msi;
  eve_msi.registry_path = std::string(kEve) + "\\" + kU + code;
  const std::string bob_bundle = std::string(kBob) + "\\" + kU + "Bundle";
  UninstallEntry hkcu_msi = MsiRow(code, "Foo", "1.0");
  hkcu_msi.root = RegistryRoot::kCurrentUser;
  const Case cases[] = {
      {"a machine-wide bundle handles machine-wide packages", {Row("Bundle", "Foo", "1.0", bundle_cmd), MsiRow(code, "Foo", "1.0")},
       kU + "Bundle", {kU + "Bundle"}},
      {"a user's bundle never handles the machine-wide package",
       {UserRow(kBob, "Bundle", "Foo", "1.0", bundle_cmd), MsiRow(code, "Foo", "1.0")}, bob_bundle,
       {kU + code, bob_bundle}},
      {"a machine-wide bundle does not speak for a user's package",
       {Row("Bundle", "Foo", "1.0", bundle_cmd), user_msi}, kU + "Bundle", {kU + "Bundle", user_msi.registry_path}},
      {"a user's bundle handles that user's package", {UserRow(kBob, "Bundle", "Foo", "1.0", bundle_cmd), user_msi},
       bob_bundle, {bob_bundle}},
      {"but not another user's", {UserRow(kBob, "Bundle", "Foo", "1.0", bundle_cmd), eve_msi}, bob_bundle,
       {bob_bundle, eve_msi.registry_path}},
      {"a user's package listed before that user's bundle: the bundle runs first",
       {user_msi, UserRow(kBob, "Bundle", "Foo", "1.0", bundle_cmd)}, bob_bundle, {bob_bundle}},
      {"a machine-wide bundle does not speak for the current user's package (a run by hand)",
       {Row("Bundle", "Foo", "1.0", bundle_cmd), hkcu_msi}, kU + "Bundle", {kU + "Bundle", kU + code}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakeRunEnvironment env;
    env.inventory = c.inventory;
    env.outcomes[c.bundle_path] = {0, "", -1};  // exits 0 and keeps its row
    RunWith(Options("Foo", "Exact", "1.0"), env);
    std::vector<std::string> launched;
    for (const auto& launch : env.launches) launched.push_back(launch.registry_path);
    EXPECT_EQ(launched, c.launched);
  }
}

TEST(UninstallRun, OneOwnersRowsShareOneThirtyMinuteTimeout) {
  FakeRunEnvironment env;
  const UninstallEntry first = UserRow(kBob, "A", "Foo", "1.0", "\"C:\\Users\\bob\\a.exe\"");
  const UninstallEntry second = UserRow(kBob, "B", "Foo", "1.0", "\"C:\\Users\\bob\\b.exe\"");
  const UninstallEntry third = UserRow(kBob, "C", "Foo", "1.0", "\"C:\\Users\\bob\\c.exe\"");
  const UninstallEntry eves = UserRow(kEve, "D", "Foo", "1.0", "\"C:\\Users\\eve\\d.exe\"");
  env.inventory = {first, second, third, eves};
  for (const auto* row : {&first, &second, &third}) env.access[row->registry_path] = InSession(kBob, 2);
  env.access[eves.registry_path] = InSession(kEve, 3);
  env.outcomes[first.registry_path] = {0, "", 0, 20 * 60000};
  env.outcomes[second.registry_path] = {258, "", 0, 10 * 60000};  // killed when the budget ran out
  const Result r = RunWith(Options("Foo", "Exact", "1.0"), env);
  ASSERT_EQ(env.launches.size(), 3u);
  EXPECT_EQ(env.launches[0].target.user_timeout_ms, 30 * 60000ul);
  EXPECT_EQ(env.launches[1].target.user_timeout_ms, 10 * 60000ul);
  EXPECT_EQ(env.launches[2].registry_path, eves.registry_path);
  EXPECT_EQ(env.launches[2].target.user_timeout_ms, 30 * 60000ul);  // another user's own budget
  EXPECT_TRUE(Has(r, "ERROR operation : app_varnok; status : failure; remarks : \"Per-user uninstaller not run: "
                     "the uninstallers of this user's rows have used the 30-minute time-out of this run\"; sid : \"" +
                         std::string(kBob) + "\";"));
  EXPECT_TRUE(Has(r, "ERROR operation : app_varnok; remarks : \"VERIFY: uninstall failed. exit_code : 1460; "
                     "remarks : The 30-minute time-out of this user's rows is used up.\";"));
  EXPECT_TRUE(Has(r, Summary(4, 4, 0, 2, 2)));
}

TEST(UninstallRun, AMainProgramWhoseVersionCannotBeReadFailsTheRowAndIsNeverSkipped) {
  // The folder's name holds a version inside the rule: it may stand in only for a file that has
  // no version resource, never for one that could not be read.
  const std::string folder = "C:\\Program Files\\Foo 2.1";
  const std::string main_exe = folder + "\\Foo.exe";
  using Failure = FileVersionInfo::Failure;
  const struct { const char* what; FileVersionInfo read; int code; } cases[] = {
      {"held open without sharing by a user", {"", Failure::kSizeFailed, 32}, 32},
      {"not readable by the account", {"", Failure::kInfoFailed, 5}, 5},
      {"gone since the folder was listed", {"", Failure::kFileMissing, 0}, 2},
      {"a malformed resource", {"", Failure::kQueryFailed, 0}, 13},
      {"no resource section", {"", Failure::kSizeFailed, 1812}, 0},
      {"no version resource", {"", Failure::kSizeFailed, 1813}, 0},
      {"no resource of that name", {"", Failure::kInfoFailed, 1814}, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    FakeRunEnvironment env;
    const UninstallEntry row = Row("Foo", "Foo", "2.1", "\"" + folder + "\\uninstall.exe\"");
    // A user's row of the same name removes itself: it must not turn the run into a success.
    const UninstallEntry mine = UserRow(kBob, "Mine", "Foo", "2.1", "\"C:\\Users\\bob\\remove.exe\"");
    env.inventory = {row, mine};
    env.access[mine.registry_path] = InSession(kBob, 2);
    env.main_executables[folder] = main_exe;
    env.version_failures[main_exe] = c.read;
    const Result r = RunWith(Options("Foo", "Series", "2"), env);
    EXPECT_TRUE(Has(r, "INFO operation : app_varnok; remarks : \"Main EXE: " + main_exe + "; Main EXE version: ;\";"));
    if (c.code == 0) {
      EXPECT_TRUE(Has(r, "INFO operation : app_varnok; remarks : \"Version from folder name: 2.1;\";"));
      EXPECT_EQ(env.launches.size(), 2u);
      EXPECT_EQ(r.exit_code, 0);
      continue;
    }
    const std::string code = std::to_string(c.code);
    EXPECT_TRUE(Has(r, "ERROR operation : app_varnok; status : failure; remarks : \"The main EXE's version could "
                       "not be read, so the guard cannot tell which version this uninstaller would remove; the "
                       "row is not run. Retry later.\"; file_path : \"" + main_exe + "\"; error_code : " + code + ";"));
    EXPECT_TRUE(Has(r, "ERROR operation : app_varnok; remarks : \"VERIFY: uninstall failed. exit_code : " + code +
                       "; remarks : The main EXE's version could not be read (" + main_exe + "); retry later.\";"));
    for (const std::string& line : r.lines) EXPECT_EQ(line.find("SKIP"), std::string::npos) << line;
    ASSERT_EQ(env.launches.size(), 1u);
    EXPECT_EQ(env.launches[0].registry_path, mine.registry_path);
    EXPECT_EQ(r.counters.failed, 1);
    EXPECT_EQ(r.counters.success, 1);
    EXPECT_EQ(r.exit_code, 51006);
  }
}

TEST(UninstallRun, TheFileThatWillRunIsMadeReadyBeforeTheGuardOpensAnythingBesideIt) {
  const std::string folder = "C:\\Program Files\\Foo";
  const std::string exe = folder + "\\unins000.exe";
  const UninstallEntry row = Row("Foo", "Foo", "2.1", "\"" + exe + "\"");
  {  // refused as SYSTEM: nothing beside it is opened, and the row fails
    FakeRunEnvironment env;
    env.inventory = {row};
    env.main_executables[folder] = folder + "\\Foo.exe";
    env.refused_files[exe] = {5, "Uninstaller not run as SYSTEM: Users has add file on " + folder + "."};
    const Result r = RunWith(Options("Foo", "Series", "2"), env);
    EXPECT_EQ(env.probes, (std::vector<std::string>{"access " + row.registry_path, "locate \"" + exe + "\"",
                                                    "prepare " + exe}));
    EXPECT_TRUE(Has(r, "ERROR operation : app_varnok; remarks : \"VERIFY: uninstall failed. exit_code : 5; "
                       "remarks : Uninstaller not run as SYSTEM: Users has add file on " + folder + ".\";"));
    EXPECT_TRUE(env.launches.empty());
    EXPECT_EQ(r.exit_code, 51006);
  }
  {  // held, judged, then the guard; the launch gets the hold, and the row lets it go
    FakeRunEnvironment env;
    env.inventory = {row};
    env.main_executables[folder] = folder + "\\Foo.exe";
    env.file_versions[folder + "\\Foo.exe"] = "2.1.0.0";
    RunWith(Options("Foo", "Series", "2"), env);
    EXPECT_EQ(env.probes, (std::vector<std::string>{"access " + row.registry_path, "locate \"" + exe + "\"",
                                                    "prepare " + exe, "main " + folder,
                                                    "version " + folder + "\\Foo.exe", "recognize " + exe}));
    ASSERT_EQ(env.launches.size(), 1u);
    EXPECT_EQ(env.launches[0].target.held_file, 1u);
    EXPECT_EQ(env.released, std::vector<HeldFileId>{1});
  }
  {  // a row that is not launched does not keep its file held
    FakeRunEnvironment env;
    env.inventory = {row};
    env.main_executables[folder] = folder + "\\Foo.exe";
    env.file_versions[folder + "\\Foo.exe"] = "3.0.0.0";
    EXPECT_EQ(RunWith(Options("Foo", "Series", "2"), env).exit_code, 51002);
    EXPECT_TRUE(env.launches.empty());
    EXPECT_EQ(env.released, std::vector<HeldFileId>{1});
  }
  {  // in the owner's session, the identity the owner read goes with the launch
    FakeRunEnvironment env;
    const UninstallEntry mine = UserRow(kBob, "Mine", "Foo", "2.1", "\"C:\\Users\\bob\\remove.exe\"");
    env.inventory = {mine};
    env.access[mine.registry_path] = InSession(kBob, 2);
    RunWith(Options("Foo", "Series", "2"), env);
    ASSERT_EQ(env.launches.size(), 1u);
    ASSERT_TRUE(env.launches[0].target.identity.has_value());
    EXPECT_EQ(env.launches[0].target.identity->file_index, 1u);
  }
}

TEST(UninstallRun, AMachineWideRowWhoseKeyUsersCanChangeIsNotUsed) {
  FakeRunEnvironment env;
  const UninstallEntry open = Row("Open", "Foo", "1.0", "\"C:\\Foo\\remove.exe\"");
  const UninstallEntry closed = Row("Closed", "Foo", "1.0", "\"C:\\Foo\\remove.exe\"");
  env.inventory = {open, Row("Old", "Foo", "0.9", "\"C:\\Foo\\remove.exe\""), closed};
  env.untrusted_keys[open.registry_path] = "Row not used as SYSTEM: Users has set value on its key.";
  const Result r = RunWith(Options("Foo", "Exact", "1.0"), env);
  // Asked only about rows that matched; nothing of the refused row is expanded, located or run.
  EXPECT_EQ(env.key_checks, (std::vector<std::string>{closed.registry_path, open.registry_path}));
  EXPECT_EQ(std::count(env.probes.begin(), env.probes.end(), "locate \"C:\\Foo\\remove.exe\""), 1);
  ASSERT_EQ(env.launches.size(), 1u);
  EXPECT_EQ(env.launches[0].registry_path, closed.registry_path);
  EXPECT_TRUE(Has(r, "ERROR operation : app_varnok; remarks : \"VERIFY: uninstall failed. exit_code : 5; remarks : "
                     "Row not used as SYSTEM: Users has set value on its key.\";"));
  EXPECT_EQ(r.exit_code, 51006);
}

TEST(UninstallRun, TheGuardJudgesTheFolderOfTheFileThatRuns) {
  // The stored uninstaller is gone; a generic one of the same name lives in InstallLocation,
  // beside the product's 3.0 program. A 2.x rule must not run it.
  FakeRunEnvironment env;
  UninstallEntry row = Row("Foo", "Foo", "2.4", "\"C:\\Old\\uninstall.exe\"");
  row.install_location = "D:\\Foo";
  env.inventory = {row};
  env.found_instead["C:\\Old\\uninstall.exe"] = "D:\\Foo\\uninstall.exe";
  env.main_executables["D:\\Foo"] = "D:\\Foo\\Foo.exe";
  env.file_versions["D:\\Foo\\Foo.exe"] = "3.0.0.0";
  const Result r = RunWith(Options("Foo", "Series", "2"), env);
  EXPECT_TRUE(Has(r, "INFO operation : app_varnok; remarks : \"Shared uninstall.exe folder: D:\\Foo\";"));
  EXPECT_TRUE(Has(r, "INFO operation : app_varnok; remarks : \"SKIP: ARP row matches the rule, but the product in "
                     "this folder is a DIFFERENT version (3.0.0.0). Running uninstall.exe would remove the live "
                     "product. Not proceeding.\";"));
  EXPECT_TRUE(env.launches.empty());
  EXPECT_EQ(r.exit_code, 51002);

  // When the version matches, the file that runs is named after the command.
  env.file_versions["D:\\Foo\\Foo.exe"] = "2.4.0.0";
  const Result ok = RunWith(Options("Foo", "Series", "2"), env);
  const auto command = std::find(ok.lines.begin(), ok.lines.end(),
                                 "INFO operation : app_varnok; installer_type : \"EXE\"; command : "
                                 "\"\"C:\\Old\\uninstall.exe\" /S\";");
  ASSERT_NE(command, ok.lines.end());
  EXPECT_EQ(*(command + 1), "INFO operation : app_varnok; remarks : \"The command's executable is not on disk as "
                            "written; the file found for it runs instead.\"; file_path : \"D:\\Foo\\uninstall.exe\";");
  ASSERT_EQ(env.launches.size(), 1u);
  EXPECT_EQ(env.launches[0].target.file, "D:\\Foo\\uninstall.exe");

  // A file found as written adds no line.
  FakeRunEnvironment plain;
  plain.inventory = {Row("Bar", "Bar", "2.4", "\"C:\\Bar\\remove.exe\"")};
  for (const std::string& line : RunWith(Options("Bar", "Series", "2"), plain).lines) {
    EXPECT_EQ(line.find("runs instead"), std::string::npos);
  }
}

TEST(UninstallRun, APathThatMayNotBeOpenedFailsTheRow) {
  FakeRunEnvironment env;
  env.inventory = {Row("Share", "Foo", "1.0", "\\\\srv\\share\\uninstall.exe /S"),
                   Row("Msi", "Foo", "1.0", "\\\\srv\\share\\uninstall.exe"),
                   Row("Ok", "Foo", "1.0", "\"C:\\Foo\\u.exe\"")};
  env.inventory[1].is_windows_installer = true;
  env.inventory[1].key_name = "{11111111-2222-3333-4444-555555555555}";
  env.refused_paths["\\\\srv\\share\\uninstall.exe"] = "\\\\srv\\share\\uninstall.exe";
  const Result r = RunWith(Options("Foo", "Exact", "1.0"), env);
  const std::string refused =
      "ERROR operation : app_varnok; status : failure; remarks : \"Path refused: only a local absolute path "
      "(X:\\...) is opened or run; UNC, device and relative paths are not\"; file_path : \"";
  EXPECT_TRUE(Has(r, refused + "\\\\srv\\share\\uninstall.exe\";"));
  // The guard of a Windows Installer row does not open the share either.
  EXPECT_TRUE(Has(r, refused + "\\\\srv\\share\";"));
  EXPECT_EQ(std::count(r.lines.begin(), r.lines.end(), "INFO operation : app_varnok; exit_code : 161;"), 2);
  for (const std::string& probe : env.probes) EXPECT_NE(probe, "main \\\\srv\\share");
  ASSERT_EQ(env.launches.size(), 1u);
  EXPECT_EQ(env.launches[0].registry_path, kU + "Ok");
  EXPECT_TRUE(Has(r, Summary(3, 3, 0, 1, 2)));
}

TEST(UninstallRun, WhatIfLocatesTheUninstallerToo) {
  FakeRunEnvironment env;
  env.inventory = {Row("Foo", "Foo", "1.0", "\"C:\\Foo\\uninstall.exe\"")};
  RunOptions o = Options("Foo", "Exact", "1.0");
  o.WhatIf = true;
  RunWith(o, env);
  EXPECT_EQ(env.probes, (std::vector<std::string>{"access " + kU + "Foo", "locate \"C:\\Foo\\uninstall.exe\"",
                                                  "prepare C:\\Foo\\uninstall.exe", "main C:\\Foo",
                                                  "recognize C:\\Foo\\uninstall.exe"}));
  EXPECT_TRUE(env.launches.empty());
}

TEST(UninstallRun, TheRecognisedToolIsNamedBeforeTheCommandItDecides) {
  const std::string nsis = "C:\\Litware\\uninst.exe";
  struct Case {
    const char* what;
    UninstallEntry row;
    InstallerTechnology technology;
    std::string exe_args;
    std::string technology_line;  // empty: none, and nothing is read
    std::string command;
  };
  const std::string shield = "INFO operation : app_varnok; installer_technology : \"InstallShield\"; "
                             "evidence : \"seen\"; remarks : \"No reliable silent switch is known for "
                             "these uninstallers; the generic switch is used.\";";
  const Case cases[] = {
      {"NSIS", Row("Lit", "Litware", "2.4", nsis), InstallerTechnology::kNsis, "",
       "INFO operation : app_varnok; installer_technology : \"NSIS\"; evidence : \"seen\";",
       "\"" + nsis + "\" /S"},
      {"the operator's arguments win", Row("Lit", "Litware", "2.4", nsis), InstallerTechnology::kNsis,
       "/quiet", "", "\"" + nsis + "\" /quiet"},
      {"InstallShield", Row("Lit", "Litware", "2.4", "\"C:\\IS\\setup.exe\" -removeonly"),
       InstallerTechnology::kInstallShield, "", shield, "\"C:\\IS\\setup.exe\" -removeonly /S"},
      {"Windows Installer rows are never asked about",
       MsiRow("{12345678-90AB-CDEF-1234-567890ABCDEF}", "Litware", "2.4"), InstallerTechnology::kNsis,
       "", "", "msiexec.exe /X {12345678-90AB-CDEF-1234-567890ABCDEF} /qn /norestart"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakeRunEnvironment env;
    env.inventory = {c.row};
    env.technologies[c.row.registry_path] = {c.technology, "seen"};
    RunOptions options = Options("Litware", "Exact", "2.4");
    options.ExeArgs = c.exe_args;
    const Result r = RunWith(options, env);
    EXPECT_EQ(r.exit_code, 0);
    const auto recognised = std::find_if(r.lines.begin(), r.lines.end(), [](const std::string& l) {
      return l.find("installer_technology") != std::string::npos;
    });
    const auto installer = std::find_if(r.lines.begin(), r.lines.end(), [](const std::string& l) {
      return l.find("installer_type") != std::string::npos;
    });
    ASSERT_NE(installer, r.lines.end());
    EXPECT_NE(installer->find(c.command), std::string::npos) << *installer;
    EXPECT_EQ(std::count(env.probes.begin(), env.probes.end(), "recognize " + nsis) +
                  std::count(env.probes.begin(), env.probes.end(), "recognize C:\\IS\\setup.exe"),
              c.technology_line.empty() ? 0 : 1);
    if (c.technology_line.empty()) {
      EXPECT_EQ(recognised, r.lines.end());
    } else {
      ASSERT_NE(recognised, r.lines.end());
      EXPECT_EQ(*recognised, c.technology_line);
      EXPECT_EQ(recognised + 1, installer);
    }
  }
}

TEST(UninstallRun, AUsersRowsCannotFloodTheLog) {
  // Bob's 20 rows carry 60 KB of arguments and fail at once; each would log about 33 KB.
  FakeRunEnvironment env;
  env.inventory = {Row("Machine", "Foo", "1.0", "\"C:\\Foo\\remove.exe\"")};
  for (int i = 0; i < 20; ++i) {
    const UninstallEntry row = UserRow(kBob, "F" + std::to_string(i), "Foo", "1.0",
                                       "\"C:\\Users\\bob\\f.exe\" " + std::string(60000, 'a'));
    env.outcomes[row.registry_path] = {2, std::string(60000, 'r')};
    env.inventory.push_back(row);
  }
  env.inventory.push_back(UserRow(kEve, "Eve", "Foo", "1.0", "\"C:\\Users\\eve\\e.exe\""));
  const Result r = RunWith(Options("Foo", "Exact", "1.0"), env);
  size_t bytes = 0;
  for (const std::string& line : r.lines) bytes += line.size() + kLogFrameBytes;
  EXPECT_LT(bytes, 262144u + 8000u);  // Bob's budget, the other rows and the run's own lines
  // Seven of Bob's rows fit whole, the eighth loses its VERIFY line; the other 12 lose all six.
  EXPECT_TRUE(Has(r, "ERROR operation : app_varnok; remarks : \"Lines of this owner's per-user rows not "
                     "written: they passed the 262144 bytes that one owner's rows may write in a run.\"; "
                     "owner : \"" + std::string(kBob) + "\"; rows_summarised : 13; lines_not_written : 73;"));
  EXPECT_EQ(std::count(r.lines.begin(), r.lines.end(),
                       "INFO operation : app_varnok; remarks : \"VERIFY: registry key gone. SUCCESS.\";"),
            2);  // the machine-wide row and Eve's
  EXPECT_TRUE(Has(r, Summary(22, 22, 0, 2, 20)));
}

TEST(UninstallRun, AnOwnersRowsPastFiftyFailWithOneLineEach) {
  FakeRunEnvironment env;
  for (int i = 0; i < 52; ++i) {
    env.inventory.push_back(UserRow(kBob, "B" + std::to_string(i), "Foo", "1.0", "\"C:\\Users\\bob\\b.exe\""));
  }
  env.inventory.push_back(UserRow(kEve, "Eve", "Foo", "1.0", "\"C:\\Users\\eve\\e.exe\""));
  const Result r = RunWith(Options("Foo", "Exact", "1.0"), env);
  EXPECT_EQ(env.launches.size(), 51u);  // fifty of Bob's, and Eve's
  EXPECT_EQ(env.launches.back().registry_path, std::string(kEve) + "\\" + kU + "Eve");
  const std::string refused = "ERROR operation : app_varnok; status : failure; remarks : \"Per-user row not "
                              "handled: this owner's rows passed the 50 that a run takes on\"; owner : \"" +
                              std::string(kBob) + "\"; registry_path : \"" + kBob + "\\" + kU;
  int refusals = 0;
  for (const std::string& line : r.lines) refusals += line.rfind(refused, 0) == 0;
  EXPECT_EQ(refusals, 2);
  EXPECT_TRUE(Has(r, Summary(53, 53, 0, 51, 2)));
  EXPECT_EQ(r.exit_code, 51006);
}

const std::string kBudgetSpent =
    "ERROR operation : app_varnok; status : failure; remarks : \"Per-user uninstaller not run: the "
    "uninstallers of this user's rows have used the 30-minute time-out of this run\"; sid : \"" +
    std::string(kBob) + "\";";

TEST(UninstallRun, OneBudgetPerOwnerCoversFileStepsLaunchesAndVerification) {
  struct Case {
    const char* what;
    bool per_user;
    FakeRunEnvironment::Outcome outcome;
    int rows;
    bool stall;                // the first 40 rows' locate steps give up after 30 s each
    size_t launches;
    long clock_ms;             // when the run ends
    int budget_lines;          // rows failed with the budget's line
    bool cut;                  // a wait for a row stopped when the budget ran out
  };
  const Case cases[] = {
      // Before: 20 rows that exit 0 and stay held the agent 20 x 3 minutes.
      {"rows that stay: the waits for them count", true, {0, "", -1, 0}, 20, false, 10, 1800000, 10,
       false},
      {"slow launches and the wait they leave are cut", true, {0, "", -1, 60000}, 20, false, 8, 1800000,
       12, true},
      // Forty held files cost 20 minutes, so the next row's launch gets the last 10.
      {"held files: each stalled step counts", true, {0, "", 0, 600000}, 45, true, 1, 1800000, 4,
       false},
      {"machine-wide rows keep their own time-outs", false, {0, "", -1, 60000}, 20, false, 20,
       20 * 240000, 0, false},
      // No underflow: the first launch was killed at the budget's end, and the clock woke late.
      {"a clock that wakes late past the budget leaves nothing", true, {258, "", 0, 31 * 60000}, 2,
       false, 1, 31 * 60000, 1, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakeRunEnvironment env;
    for (int i = 0; i < c.rows; ++i) {
      const std::string key = "R" + std::to_string(100 + i);
      const std::string exe = "\"C:\\Users\\bob\\" + key + ".exe\"";
      const UninstallEntry row = c.per_user ? UserRow(kBob, key, "Foo", "1.0", exe) : Row(key, "Foo", "1.0", exe);
      env.inventory.push_back(row);
      if (c.per_user) env.access[row.registry_path] = InSession(kBob, 2);
      env.outcomes[row.registry_path] = c.outcome;
      if (c.stall && i < 40) env.stalls["locate " + exe] = "C:\\Users\\bob\\" + key + ".exe";
    }
    const Result r = RunWith(Options("Foo", "Exact", "1.0"), env);
    EXPECT_EQ(env.launches.size(), c.launches);
    EXPECT_EQ(env.clock_ms, c.clock_ms);
    EXPECT_EQ(std::count(r.lines.begin(), r.lines.end(), kBudgetSpent), c.budget_lines);
    EXPECT_EQ(Has(r, "ERROR operation : app_varnok; status : failure; remarks : \"The wait for the row "
                     "stopped early: this user's rows have used the 30-minute time-out of this run\"; "
                     "sid : \"" + std::string(kBob) + "\";"),
              c.cut);
  }
}

TEST(UninstallRun, AFileStepThatGivesUpFailsOnlyItsRow) {
  const std::string exe = "\"C:\\Foo\\uninstall.exe\"";
  const std::string file = "C:\\Foo\\uninstall.exe";
  struct Case {
    const char* what;
    std::string step;  // empty: none gives up
    bool launched;
    std::string last_read;  // of the row: nothing more is read once a step has given up
  };
  const Case cases[] = {
      {"locating the uninstaller", "locate " + exe, false, "locate " + exe},
      {"listing the folder for the guard", "main C:\\Foo", false, "main C:\\Foo"},
      {"the main program's version", "version C:\\Foo\\foo.exe", false, "version C:\\Foo\\foo.exe"},
      {"reading the uninstaller's head", "recognize " + file, false, "recognize " + file},
      {"nothing held", "", true, "recognize " + file},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakeRunEnvironment env;
    env.inventory = {Row("Held", "Foo", "1.0", exe), Row("Next", "Foo", "1.0", "\"C:\\Next\\u.exe\"")};
    env.main_executables["C:\\Foo"] = "C:\\Foo\\foo.exe";
    env.file_versions["C:\\Foo\\foo.exe"] = "1.0";
    if (!c.step.empty()) env.stalls[c.step] = "C:\\Held\\file";
    const Result r = RunWith(Options("Foo", "Exact", "1.0"), env);
    std::vector<std::string> launched;
    for (const auto& launch : env.launches) launched.push_back(launch.registry_path);
    EXPECT_EQ(launched, c.launched ? (std::vector<std::string>{kU + "Held", kU + "Next"})
                                   : (std::vector<std::string>{kU + "Next"}));
    EXPECT_EQ(Has(r, "ERROR operation : app_varnok; status : failure; remarks : \"A file step did not "
                     "finish within 30 s (another program may hold the file); nothing of the row is "
                     "run. Retry later.\"; file_path : \"C:\\Held\\file\"; error_code : 1460;"),
              !c.launched);
    EXPECT_TRUE(Has(r, c.launched ? Summary(2, 2, 0, 2, 0) : Summary(2, 2, 0, 1, 1)));
    const auto next = std::find(env.probes.begin(), env.probes.end(), "access " + kU + "Next");
    ASSERT_NE(next, env.probes.begin());
    EXPECT_EQ(*(next - 1), c.last_read);
  }
}

TEST(UninstallRun, TheWatchdogIsToldTheWorkOnceTheInventoryIsRead) {
  FakeRunEnvironment env;
  env.system = true;
  env.inventory = {Row("A", "Foo", "1.0", "\"C:\\a.exe\""),
                   UserRow(kBob, "B", "Foo", "1.0", "\"C:\\b.exe\""),
                   UserRow(kBob, "C", "Foo", "1.0", "\"C:\\c.exe\""),
                   Row("D", "Other", "1.0", "\"C:\\d.exe\"")};
  RunWith(Options("Foo", "Exact", "1.0"), env);
  // One machine-wide row (70 minutes), one owner (40), the run's own 15.
  EXPECT_EQ(env.deadlines, (std::vector<unsigned long long>{125 * 60000ULL}));
  FakeRunEnvironment nothing;
  nothing.inventory = {Row("D", "Other", "1.0", "\"C:\\d.exe\"")};
  RunWith(Options("Foo", "Exact", "1.0"), nothing);
  EXPECT_TRUE(nothing.deadlines.empty());  // the start's deadline stays
}

}  // namespace
}  // namespace varnok
