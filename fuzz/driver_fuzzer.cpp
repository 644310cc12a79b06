// Whole runs over random inventories, options and uninstaller outcomes: whatever the machine holds
// and however its uninstallers behave, the run only launches commands the builder built for rows
// that passed every check, keeps its counters and exit code consistent, bounds its waits, and
// never runs a nested package after its bundle has removed the product.
//
// Input layout (see make_seeds.py): all choice bytes come from the end, in the order they are
// read below; the texts of "any text" choices come from the start, each ended by a backslash and
// one more byte.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "common/strings.h"
#include "fuzz_check.h"
#include "log/log_format.h"
#include "reference.h"
#include "run/bundles.h"
#include "run/uninstall_run.h"
#include "support/host/fake_run_environment.h"
#include "uninstall/uninstall_command.h"

namespace varnok::fuzz {
namespace {

constexpr size_t kMaxText = 200;
constexpr int kMaxEntries = 12;
constexpr char kMsiexecPath[] = "C:\\Windows\\system32\\msiexec.exe";
constexpr char kUninstallKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
constexpr unsigned kWaitSteps[] = {30000, 60000, 90000};
constexpr long kWaitLimitMs = 180000;

const std::vector<std::string> kPatterns = {"Contoso Tool", "contoso",       "Python 3.8",
                                            "Python",       "Camtasia",      "Windows Explorer",
                                            "Office",       "Contoso Tool 2"};
const std::vector<std::string> kVersions = {
    "2.4.1",  "2.4.1.0", "2.4",  "2",    "1.0",          "3.8.10", "3.8.10150.0", "21.0.2",
    "v2.4.1", "",        "beta", "2016", "2147483648.1", "10.0",   " 2.4.1 ",     "3"};
const std::vector<std::string> kNames = {"Contoso Tool",
                                         "CONTOSO TOOL",
                                         "Contoso Tool 2.4.1",
                                         "Contoso Tool Helper",
                                         "Python 3.8.10 (64-bit)",
                                         "Python 3.8.10 Core Interpreter (64-bit)",
                                         "Python 3.8.10 pip Bootstrap (64-bit)",
                                         "Python 3.8.10 Tcl/Tk Support (64-bit)",
                                         "Python Launcher",
                                         "Camtasia 2021",
                                         "Camtasia",
                                         "Windows Explorer Contoso",
                                         "Microsoft Windows Contoso Tool",
                                         "Office 2016",
                                         "Contoso Tool (x64)",
                                         ""};
const std::vector<std::string> kUninstallStrings = {
    "MsiExec.exe /I{1B2C3D4E-5F60-4172-8394-A5B6C7D8E9F0}",
    "MsiExec.exe /X{1B2C3D4E-5F60-4172-8394-A5B6C7D8E9F0}",
    "\"C:\\ProgramData\\Package "
    "Cache\\{0D5B7A1C-0C83-4C2E-9F1B-0A7B3D0E1E11}\\contoso_bundle.exe\" "
    "/uninstall",
    "\"C:\\Users\\u\\AppData\\Local\\Package Cache\\{7E6F1A2B-3C4D-4E5F-8A9B-0C1D2E3F4A5B}\\"
    "python-3.8.10-amd64.exe\"  /uninstall",
    "\"C:\\Program Files\\Contoso\\unins000.exe\"",
    "C:\\Program Files\\Contoso\\uninstall.exe",
    "\"C:\\Program Files (x86)\\Contoso\\Uninstall.exe\" /S",
    "\"C:\\Program Files\\Contoso\\setup.exe\" /uninstall",
    "C:\\Program Files (x86)\\InstallShield Installation Information\\"
    "{9A8B7C6D-5E4F-4A3B-2C1D-0E9F8A7B6C5D}\\setup.exe -runfromtemp -l0x0409 -removeonly",
    "\"C:\\Program\"Files\\evil.exe\" /S",
    "\"\" /S",
    "rundll32.exe advpack.dll,LaunchINFSection C:\\Windows\\INF\\contoso.inf,Uninstall",
    "",
    "C:\\Program Files\\TechSmith\\Camtasia 2021\\uninstall.exe /S",
    "\"C:\\Program Files\\Contoso 2.4.1\\unins001.exe\" /SILENT",
    "   "};
const std::vector<std::string> kQuietStrings = {
    "",
    "",
    "",
    "",
    "\"C:\\Program Files\\Contoso\\unins000.exe\" /VERYSILENT /SUPPRESSMSGBOXES",
    "\"C:\\Program Files\\Contoso\\uninstall.exe\" /S",
    "MsiExec.exe /X{1B2C3D4E-5F60-4172-8394-A5B6C7D8E9F0} /qn",
    "\"C:\\Program\"Files\\evil.exe\" /S"};
const std::vector<std::string> kKeyNames = {"{1B2C3D4E-5F60-4172-8394-A5B6C7D8E9F0}",
                                            "{1b2c3d4e-5f60-4172-8394-a5b6c7d8e9f0}",
                                            "Contoso Tool",
                                            "Contoso Tool_is1",
                                            "{0D5B7A1C-0C83-4C2E-9F1B-0A7B3D0E1E11}",
                                            "Python 3.8.10",
                                            "{1B2C3D4E-5F60-4172-8394-A5B6C7D8E9F0}.KB1",
                                            ""};
const std::vector<std::string> kLocations = {"", "C:\\Program Files\\Contoso",
                                             "C:\\Program Files\\Contoso\\",
                                             "C:\\Program Files (x86)\\Contoso"};
const std::vector<std::string> kExeArgs = {"/S", "/quiet /norestart", "  ", "--mode unattended"};
// Folders of the shared uninstallers above, and what may live beside them.
const std::vector<std::string> kFolders = {
    "C:\\Program Files\\Contoso", "C:\\Program Files (x86)\\Contoso",
    "C:\\Program Files\\Contoso 2.4.1", "C:\\Program Files\\TechSmith\\Camtasia 2021"};
const std::vector<std::string> kMainExecutables = {"contoso.exe", "Contoso Tool 2.4.1.exe",
                                                   "CamtasiaStudio.exe", "tool-3.0.exe"};
const int kExitCodes[8] = {0, 0, 0, 1605, 3010, 1603, 51005, 1};
const long kGoneAfterMs[16] = {0,     0,     -1,     1,      29999,  30000, 30001,   60000,
                               90000, 90001, 150000, 180000, 180001, -1,    1000000, 0};

// Choice bytes first, then the texts: a choice byte below 0x80 picks from a list, from 0x80 on
// the target takes the next text of the input.
class Plan {
 public:
  explicit Plan(FuzzedDataProvider& input) : input_(input) {}

  uint8_t Byte() { return input_.ConsumeIntegral<uint8_t>(); }

  void Choose(const std::vector<std::string>& list, std::string* target) {
    const uint8_t pick = Byte();
    if (pick < 0x80) {
      *target = list[pick % list.size()];
    } else {
      deferred_.push_back(target);
    }
  }

  void ReadTexts() {
    for (std::string* target : deferred_) *target = input_.ConsumeRandomLengthString(kMaxText);
  }

 private:
  FuzzedDataProvider& input_;
  std::vector<std::string*> deferred_;
};

// Marks where each launch falls in the sequence of sleeps, so that every wait can be charged to
// the row that caused it.
class RecordingEnvironment : public testing::FakeRunEnvironment {
 public:
  std::vector<size_t> sleeps_before_launch;
  int ExecuteUninstallCommand(const UninstallEntry& entry, const UninstallCommand& command,
                              const LaunchTarget& target, std::string* remarks,
                              std::unique_ptr<LaunchRemains>* remains) override {
    sleeps_before_launch.push_back(sleeps.size());
    return FakeRunEnvironment::ExecuteUninstallCommand(entry, command, target, remarks, remains);
  }
};

bool SameCommand(const UninstallCommand& a, const UninstallCommand& b) {
  return a.is_msi == b.is_msi && a.per_user == b.per_user && a.command_line == b.command_line &&
         a.executable == b.executable && a.arguments == b.arguments &&
         a.product_code == b.product_code && a.search_folders == b.search_folders;
}

bool ProcessOk(int exit_code) { return exit_code == 0 || exit_code == 1605 || exit_code == 3010; }

struct Tally {
  int success = 0;
  int failed = 0;
};

// Replays the launches against the fake's scripted outcomes: what each one must have counted and
// how long the run may have waited for it.
Tally CheckLaunches(const RecordingEnvironment& env, const RunOptions& options,
                    const std::map<std::string, UninstallEntry>& by_path) {
  Tally tally;
  std::set<std::string> launched;
  // A bundle vouches only for rows of its own owner: machine-wide, or one user's hive.
  std::set<std::pair<RegistryRoot, std::string>> removed_products;
  bool past_bundles = false;
  bool in_user_rows = false;
  FUZZ_CHECK(env.sleeps_before_launch.size() == env.launches.size());
  FUZZ_CHECK(env.launches.empty() ? env.sleeps.empty() : env.sleeps_before_launch[0] == 0);
  for (size_t i = 0; i < env.launches.size(); ++i) {
    const testing::FakeRunEnvironment::Launch& launch = env.launches[i];
    const auto found = by_path.find(launch.registry_path);
    FUZZ_CHECK_MSG(found != by_path.end(), Show(launch.registry_path));
    const UninstallEntry& entry = found->second;
    FUZZ_CHECK_MSG(launched.insert(launch.registry_path).second, Show(launch.registry_path));
    const UninstallCommand built = BuildUninstallCommand(entry, options.ExeArgs, kMsiexecPath);
    FUZZ_CHECK_MSG(!launch.command.command_line.empty() && SameCommand(launch.command, built),
                   Show(launch.command.command_line) + " vs built " + Show(built.command_line));

    const bool bundle = IsMainBundle(entry);
    const bool user_row = IsPerUserRoot(entry.root);
    // Machine-wide rows first, then the users' rows, each group bundles first.
    FUZZ_CHECK_MSG(!(in_user_rows && !user_row), "machine-wide row after a user's row");
    if (user_row && !in_user_rows) {
      in_user_rows = true;
      past_bundles = false;
    }
    const std::pair<RegistryRoot, std::string> product{entry.root, ProductKey(entry)};
    if (!bundle) {
      past_bundles = true;
      FUZZ_CHECK_MSG(removed_products.count(product) == 0,
                     "nested row " + Show(entry.registry_path) + " of removed " + Show(product.second));
    }
    FUZZ_CHECK_MSG(!(bundle && past_bundles),
                   "bundle after a nested row: " + Show(entry.registry_path));

    const testing::FakeRunEnvironment::Outcome outcome = env.outcomes.at(launch.registry_path);
    const size_t first = env.sleeps_before_launch[i];
    const size_t end =
        i + 1 < env.launches.size() ? env.sleeps_before_launch[i + 1] : env.sleeps.size();
    size_t expected_sleeps = 0;
    bool success = false;
    if (!ProcessOk(outcome.exit_code)) {
      // Counted as failed, without waiting for the row.
    } else if (bundle) {
      success = true;
      removed_products.insert(product);
    } else {
      const long gone = outcome.gone_after_ms;
      success = gone >= 0 && gone <= kWaitLimitMs;
      // The row is looked at after 0, 30, 90 and 180 s on the fake clock.
      if (gone < 0 || gone > 90000) {
        expected_sleeps = 3;
      } else if (gone > 30000) {
        expected_sleeps = 2;
      } else if (gone > 0) {
        expected_sleeps = 1;
      }
    }
    long waited = 0;
    FUZZ_CHECK_MSG(end - first == expected_sleeps,
                   std::to_string(end - first) + " waits for " + Show(entry.registry_path));
    for (size_t s = first; s < end; ++s) {
      FUZZ_CHECK(env.sleeps[s] == kWaitSteps[s - first]);
      waited += env.sleeps[s];
    }
    FUZZ_CHECK_MSG(waited <= kWaitLimitMs, std::to_string(waited));
    (success ? tally.success : tally.failed) += 1;
  }
  return tally;
}

// Whether a name hit passes the shell, version and shared-uninstaller checks, decided by the
// reference alone. `refused` is set for a row whose shared-uninstaller folder may not be opened.
bool ReferenceEligible(const UninstallEntry& entry, const RunOptions& options,
                       const RecordingEnvironment& env, bool* refused) {
  *refused = false;
  if (reference::IsShellComponent(entry.display_name)) return false;
  const std::string candidate = !entry.display_version.empty()
                                    ? entry.display_version
                                    : reference::VersionInText(entry.display_name);
  if (candidate.empty() || !reference::RuleHolds(candidate, options)) return false;
  const std::string& source = options.ExeArgs.empty() && !entry.quiet_uninstall_string.empty()
                                  ? entry.quiet_uninstall_string
                                  : entry.uninstall_string;
  const std::string executable = reference::ExecutableOf(source);
  if (!reference::IsGenericUninstaller(executable)) return true;
  const std::string folder = reference::IsLocalPath(executable)
                                 ? reference::FolderOfLocal(executable)
                                 : reference::ParentOf(executable);
  if (!reference::IsLocalPath(folder)) {
    *refused = true;
    return false;
  }
  const auto main = env.main_executables.find(folder);
  if (main == env.main_executables.end() || main->second.empty()) return true;
  const auto version = env.file_versions.find(main->second);
  const std::string candidates[] = {
      version == env.file_versions.end() ? std::string() : version->second,
      reference::VersionInText(reference::ParentOf(main->second)),
      reference::VersionInText(reference::FileNameOf(main->second))};
  for (const std::string& c : candidates) {
    if (!c.empty() && reference::RuleHolds(c, options)) return true;
  }
  return false;
}

// The lines of each row, in the order the run took the rows: from its "----------" line to the
// next one or to the summary.
std::vector<std::vector<std::string>> RowSegments(const std::vector<testing::CapturedLine>& lines) {
  std::vector<std::vector<std::string>> segments;
  for (const testing::CapturedLine& line : lines) {
    if (line.message == "----------") {
      segments.emplace_back();
    } else if (StartsWith(line.message, "operation : app_varnok; status : summary;")) {
      break;
    } else if (!segments.empty()) {
      segments.back().push_back(line.message);
    }
  }
  return segments;
}

// The hit a segment is about: the longest registry path that its header names.
const UninstallEntry* SegmentRow(const std::vector<std::string>& segment,
                                 const std::map<std::string, UninstallEntry>& by_path) {
  if (segment.empty()) return nullptr;
  const UninstallEntry* row = nullptr;
  for (const auto& [path, entry] : by_path) {
    const std::string start =
        "operation : app_varnok; registry_path : \"" + EscapeLogText(path) + "\"; arch : \"";
    if (StartsWith(segment[0], start) && (!row || path.size() > row->registry_path.size())) {
      row = &entry;
    }
  }
  return row;
}

bool SegmentHas(const std::vector<std::string>& segment, const std::string& start) {
  for (const std::string& line : segment) {
    if (StartsWith(line, start)) return true;
  }
  return false;
}

// Replays the run with the reference: every hit that the reference finds eligible, and that its
// product's bundle has not handled, is launched (or reported under WhatIf) unless its command
// cannot be built; no other hit is. Returns the number of rows the reference expects to run, and
// in `refusals` those that failed before the guard because a path was refused.
int CheckAgainstReference(const RecordingEnvironment& env, const RunOptions& options,
                          const std::vector<testing::CapturedLine>& lines,
                          const std::map<std::string, UninstallEntry>& by_path, int* refusals) {
  *refusals = 0;
  std::set<std::string> launched;
  for (const auto& launch : env.launches) launched.insert(launch.registry_path);
  std::set<std::pair<std::string, std::string>> handled;  // (owner, product)
  int expected_runs = 0;
  for (const std::vector<std::string>& segment : RowSegments(lines)) {
    const UninstallEntry* row = SegmentRow(segment, by_path);
    FUZZ_CHECK_MSG(row != nullptr, segment.empty() ? std::string("empty row") : Show(segment[0]));
    const UninstallEntry& entry = *row;
    FUZZ_CHECK_MSG(reference::NameMatches(entry.display_name, options), Show(entry.display_name));
    const bool bundle = IsMainBundle(entry);
    const std::string owner =
        entry.root == RegistryRoot::kUsers ? "user" : entry.root == RegistryRoot::kCurrentUser ? "hkcu" : "";
    const std::pair<std::string, std::string> product{owner, ProductKey(entry)};
    bool refused = false;
    const bool eligible = ReferenceEligible(entry, options, env, &refused);
    const bool handled_skip = !bundle && handled.count(product) != 0;
    const bool run_expected = eligible && !handled_skip;
    const bool build_failed =
        SegmentHas(segment, "operation : BuildUninstallCommand; status : failure;");
    const bool ran = options.WhatIf ? SegmentHas(segment, "operation : app_varnok; remarks : \"WHATIF:")
                                    : launched.count(entry.registry_path) != 0;
    const std::string what = Show(entry.registry_path) + " " + Show(entry.display_name) + " " +
                             Show(entry.display_version) + " " + Show(entry.uninstall_string);
    FUZZ_CHECK_MSG(SegmentHas(segment, "operation : app_varnok; status : failure; remarks : \"Path refused:") ==
                       (refused && !handled_skip),
                   what);
    if (refused && !handled_skip) ++*refusals;
    if (!run_expected) {
      FUZZ_CHECK_MSG(!ran && !build_failed, "ran although not eligible: " + what);
      continue;
    }
    ++expected_runs;
    FUZZ_CHECK_MSG(ran != build_failed, "eligible but " + std::string(ran ? "also failed to build: " : "not run: ") + what);
    if (bundle && ran) {
      const auto outcome = env.outcomes.find(entry.registry_path);
      if (options.WhatIf || (outcome != env.outcomes.end() && ProcessOk(outcome->second.exit_code))) {
        handled.insert(product);
      }
    }
  }
  return expected_runs;
}

void CheckLines(const std::vector<testing::CapturedLine>& lines, int exit_code,
                const RunCounters& c) {
  FUZZ_CHECK(!lines.empty());
  for (const testing::CapturedLine& line : lines) {
    FUZZ_CHECK_MSG(!HasLineBreak(line.message), Show(line.message));
  }
  // Only a line's start is the program's own: a row's texts can spell any field after it.
  const std::string summary_start = "operation : app_varnok; status : summary;";
  size_t summaries = 0;
  const std::string summary =
      "operation : app_varnok; status : summary; name_hits : " + std::to_string(c.name_hits) +
      "; version_hits : " + std::to_string(c.version_hits) +
      "; skipped_version : " + std::to_string(c.skipped_version) +
      "; success : " + std::to_string(c.success) + "; failed : " + std::to_string(c.failed) + ";";
  for (const testing::CapturedLine& line : lines) {
    if (StartsWith(line.message, summary_start)) {
      ++summaries;
      FUZZ_CHECK_MSG(line.message == summary, Show(line.message));
    }
  }
  const std::string return_value = "return_value : " + std::to_string(exit_code) + ";";
  if (exit_code == kExitApplicationNotFound) {
    FUZZ_CHECK(summaries == 0);
    FUZZ_CHECK(CountLevel(lines, LogLevel::kError) == 1);
    return;
  }
  FUZZ_CHECK(summaries == 1);
  FUZZ_CHECK_MSG(EndsWith(lines.back().message, return_value), Show(lines.back().message));
  FUZZ_CHECK(lines.back().level ==
             (exit_code == kExitSuccess ? LogLevel::kInfo : LogLevel::kError));
}

size_t CountBuilderFailures(const std::vector<testing::CapturedLine>& lines) {
  size_t count = 0;
  for (const testing::CapturedLine& line : lines) {
    if (line.level == LogLevel::kError &&
        StartsWith(line.message, "operation : BuildUninstallCommand; status : failure;")) {
      ++count;
    }
  }
  return count;
}

// Options: flags byte (bit 0 WhatIf, bits 1-2 name match, bits 3-4 match type, bit 5 ExeArgs),
// then the pattern, ExactVersion, SeriesPrefix, MinVersion, MaxVersion and ExeArgs choices.
RunOptions PlanOptions(Plan& plan) {
  const uint8_t flags = plan.Byte();
  RunOptions options;
  options.WhatIf = flags & 1;
  options.NameMatch = static_cast<NameMatchKind>(((flags >> 1) & 3) % 3);
  options.NameMatchText =
      std::vector<std::string>{"Exact", "Prefix", "Contains"}[static_cast<int>(options.NameMatch)];
  options.MatchType = static_cast<VersionMatchKind>(((flags >> 3) & 3) % 3);
  options.MatchTypeText =
      std::vector<std::string>{"Exact", "Series", "Range"}[static_cast<int>(options.MatchType)];
  plan.Choose(kPatterns, &options.DisplayName);
  plan.Choose(kVersions, &options.ExactVersion);
  plan.Choose(kVersions, &options.SeriesPrefix);
  plan.Choose(kVersions, &options.MinVersion);
  plan.Choose(kVersions, &options.MaxVersion);
  if (flags & 0x20) plan.Choose(kExeArgs, &options.ExeArgs);
  return options;
}

// Rows: a count, then per row a shape byte (bits 0-1 root, bit 2 64-bit view, bit 3
// WindowsInstaller), the name, version, uninstall, quiet, key and location choices, and the
// outcome byte (bits 0-2 exit code, from bit 7 on any code; bits 3-6 when the row leaves). Then
// the main executables beside the shared uninstallers: per folder bit 0 present, bits 1-2 which,
// bits 3-6 its file version. Returns the outcome bytes.
std::vector<uint8_t> PlanMachine(Plan& plan, RecordingEnvironment* env) {
  env->inventory.resize(plan.Byte() % (kMaxEntries + 1));
  std::vector<uint8_t> outcome_picks;
  for (UninstallEntry& entry : env->inventory) {
    const uint8_t shape = plan.Byte();
    entry.root = static_cast<RegistryRoot>(shape & 3);
    entry.view_64bit = (shape & 4) != 0;
    entry.is_windows_installer = (shape & 8) != 0;
    plan.Choose(kNames, &entry.display_name);
    plan.Choose(kVersions, &entry.display_version);
    plan.Choose(kUninstallStrings, &entry.uninstall_string);
    plan.Choose(kQuietStrings, &entry.quiet_uninstall_string);
    plan.Choose(kKeyNames, &entry.key_name);
    plan.Choose(kLocations, &entry.install_location);
    outcome_picks.push_back(plan.Byte());
  }
  for (const std::string& folder : kFolders) {
    const uint8_t pick = plan.Byte();
    if (!(pick & 1)) continue;
    const std::string path = folder + "\\" + kMainExecutables[(pick >> 1) & 3];
    env->main_executables[folder] = path;
    env->file_versions[path] = kVersions[(pick >> 3) & 15];
  }
  return outcome_picks;
}

// Gives every row the path and arch its root implies and scripts its uninstaller; returns the
// rows by path.
std::map<std::string, UninstallEntry> PlaceRows(const std::vector<uint8_t>& outcome_picks,
                                                RecordingEnvironment* env) {
  std::map<std::string, UninstallEntry> by_path;
  for (size_t i = 0; i < env->inventory.size(); ++i) {
    UninstallEntry& entry = env->inventory[i];
    const bool user_hive = entry.root == RegistryRoot::kUsers;
    entry.arch = user_hive                                  ? "per-user (S-1-5-21-1-2-3-1001)"
                 : entry.root == RegistryRoot::kCurrentUser ? "per-user"
                 : entry.view_64bit                         ? "x64/native"
                                                            : "x86-on-x64";
    // A registry key name holds no NUL: the ANSI registry functions end it there.
    entry.key_name = CutAtNul(entry.key_name);
    entry.registry_path =
        (user_hive ? "S-1-5-21-1-2-3-1001\\" : "") + std::string(kUninstallKey) + entry.key_name;
    // The fake keys its outcomes by path, and the 64- and 32-bit views hold the same paths.
    while (by_path.count(entry.registry_path) != 0) {
      entry.registry_path += " (" + std::to_string(i) + ")";
    }
    by_path[entry.registry_path] = entry;
    const uint8_t pick = outcome_picks[i];
    testing::FakeRunEnvironment::Outcome outcome;
    outcome.exit_code =
        pick & 0x80 ? static_cast<int>(pick) * 7919 - 1000000 : kExitCodes[pick & 7];
    outcome.gone_after_ms = kGoneAfterMs[(pick >> 3) & 15];
    outcome.remarks = "scripted\r\noutcome";
    env->outcomes[entry.registry_path] = outcome;
  }
  return by_path;
}

std::string Describe(const RunCounters& c, int exit_code) {
  return std::to_string(c.name_hits) + "/" + std::to_string(c.version_hits) + "/" +
         std::to_string(c.skipped_version) + "/" + std::to_string(c.success) + "/" +
         std::to_string(c.failed) + " exit " + std::to_string(exit_code);
}

void CheckCounters(const RecordingEnvironment& env, const RunOptions& options, int exit_code,
                   const RunCounters& c) {
  int name_hits = 0;
  for (const UninstallEntry& entry : env.inventory) {
    name_hits += reference::NameMatches(entry.display_name, options) ? 1 : 0;
  }
  const std::string counters = Describe(c, exit_code);
  FUZZ_CHECK_MSG(c.name_hits == name_hits, counters);
  FUZZ_CHECK_MSG(c.name_hits == c.skipped_version + c.version_hits, counters);
  FUZZ_CHECK_MSG(c.version_hits == c.success + c.failed, counters);
  FUZZ_CHECK_MSG(c.version_hits >= 0 && c.skipped_version >= 0 && c.success >= 0 && c.failed >= 0,
                 counters);
  int expected_exit = kExitNoVersionMatched;
  if (c.name_hits == 0) {
    expected_exit = kExitApplicationNotFound;
  } else if (c.failed > 0) {
    expected_exit = kExitUninstallFailed;
  } else if (c.version_hits > 0 || options.WhatIf) {
    expected_exit = kExitSuccess;
  }
  FUZZ_CHECK_MSG(exit_code == expected_exit, counters);
  FUZZ_CHECK(env.shell_restores == (c.name_hits == 0 ? 0 : 1));
  FUZZ_CHECK(env.run_ends == env.shell_restores);
  FUZZ_CHECK(env.deadlines.size() == (c.name_hits == 0 ? 0u : 1u));
}

}  // namespace
}  // namespace varnok::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace varnok;
  using namespace varnok::fuzz;
  FuzzedDataProvider input(data, size);
  Plan plan(input);
  const RunOptions options = PlanOptions(plan);
  RecordingEnvironment env;
  const std::vector<uint8_t> outcome_picks = PlanMachine(plan, &env);
  plan.ReadTexts();
  const std::map<std::string, UninstallEntry> by_path = PlaceRows(outcome_picks, &env);

  testing::TakeLogLines();
  RunCounters c;
  const int exit_code = RunUninstall(options, env, &c);
  const std::vector<testing::CapturedLine> lines = testing::TakeLogLines();
  CheckCounters(env, options, exit_code, c);
  CheckLines(lines, exit_code, c);

  const std::string counters = Describe(c, exit_code);
  const int builder_failures = static_cast<int>(CountBuilderFailures(lines));
  // A row that failed before it could run (a path refused) is a version hit that failed.
  int refusals = 0;
  const int expected_runs = CheckAgainstReference(env, options, lines, by_path, &refusals);
  FUZZ_CHECK_MSG(expected_runs - builder_failures ==
                     (options.WhatIf ? c.success : static_cast<int>(env.launches.size())),
                 counters + " expected " + std::to_string(expected_runs));
  if (options.WhatIf) {
    FUZZ_CHECK_MSG(env.launches.empty() && env.sleeps.empty(), counters);
    FUZZ_CHECK_MSG(c.failed == builder_failures + refusals, counters);
    return 0;
  }
  FUZZ_CHECK_MSG(
      static_cast<int>(env.launches.size()) == c.version_hits - builder_failures - refusals,
      counters + " launches " + std::to_string(env.launches.size()));
  const Tally tally = CheckLaunches(env, options, by_path);
  FUZZ_CHECK_MSG(
      c.success == tally.success && c.failed == builder_failures + refusals + tally.failed,
      counters + " replayed " + std::to_string(tally.success) + "/" + std::to_string(tally.failed));
  return 0;
}
