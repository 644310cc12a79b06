#include "run/uninstall_run.h"

#include <algorithm>
#include <map>
#include <set>

#include "common/local_path.h"
#include "common/strings.h"
#include "inventory/name_match.h"
#include "inventory/value_expansion.h"
#include "inventory/version_rules.h"
#include "log/log.h"
#include "process/uninstall_execution.h"
#include "run/bundles.h"
#include "run/row_verification.h"
#include "run/run_deadline.h"
#include "uninstall/classify.h"
#include "uninstall/shared_uninstaller.h"
#include "uninstall/uninstall_command.h"

namespace varnok {
namespace {

constexpr int kMaxNearMisses = 8;
// Per-user rows of one owner handled in a run; the owner's further rows fail with one line each.
constexpr int kMaxRowsPerOwner = 50;

void ReportNotFound(const RunOptions& options, const std::vector<UninstallEntry>& inventory) {
  LogError("operation : app_varnok; status : failure; remarks : \"Application not found "
           "(NameMatch=%s, pattern=[%s]).\"; return_value : %d;",
           options.NameMatchText.c_str(), options.DisplayName.c_str(), kExitApplicationNotFound);
  int listed = 0;
  for (const UninstallEntry& entry : inventory) {
    if (listed == kMaxNearMisses) break;
    if (!ContainsNoCase(entry.display_name, options.DisplayName)) continue;
    LogInfo("operation : app_varnok; remarks : \"similar (not used): %s; version=%s;\";",
            entry.display_name.c_str(), entry.display_version.c_str());
    ++listed;
  }
}

void LogSkipVersion() {
  LogInfo("operation : app_varnok; remarks : \"SKIP uninstall (version rule not matched on "
          "DisplayVersion or DisplayName).\";");
}

// The rows whose bundle has been handled. A per-user bundle row was written by a user: it may
// vouch only for its own owner's rows, and machine-wide rows only for machine-wide rows.
using HandledProduct = std::pair<std::string, std::string>;  // owner scope, ProductKey

// "" for machine-wide rows; the hive's SID, or "HKCU", for per-user rows.
std::string OwnerScope(const UninstallEntry& entry) {
  if (entry.root == RegistryRoot::kUsers) return OwnerSidOf(entry);
  if (entry.root == RegistryRoot::kCurrentUser) return "HKCU";
  return std::string();
}

// Machine-wide rows first, then per-user rows, each group in bundle order: a user's rows can
// neither delay nor precede the removal that the administrator asked for.
void OrderByOwnerThenBundle(std::vector<UninstallEntry>* hits) {
  std::vector<UninstallEntry> machine;
  std::vector<UninstallEntry> per_user;
  for (UninstallEntry& entry : *hits) {
    (IsPerUserRoot(entry.root) ? per_user : machine).push_back(std::move(entry));
  }
  OrderNameHits(&machine);
  OrderNameHits(&per_user);
  hits->clear();
  for (UninstallEntry& entry : machine) hits->push_back(std::move(entry));
  for (UninstallEntry& entry : per_user) hits->push_back(std::move(entry));
}

// The command whose executable the guard and the search look at: the one the builder will use.
const std::string& CommandSource(const UninstallEntry& entry, const RunOptions& options) {
  return options.ExeArgs.empty() && !entry.quiet_uninstall_string.empty()
             ? entry.quiet_uninstall_string
             : entry.uninstall_string;
}

// Whose variables a row's REG_EXPAND_SZ values are expanded with: the system's for a
// machine-wide row, whoever runs the program, so that no user's variable can steer it; the
// owner's for a per-user row (under LocalSystem the user of the owner's session).
ExpansionEnvironment ExpansionEnvironmentFor(const UninstallEntry& entry, const RowAccess& access) {
  ExpansionEnvironment environment;
  if (!IsPerUserRoot(entry.root)) return environment;
  if (access.route == RowAccess::Route::kOwnerSession) {
    environment.owner = ExpansionEnvironment::Owner::kSessionUser;
    environment.session_id = access.session_id;
  } else {
    environment.owner = ExpansionEnvironment::Owner::kProcessUser;
  }
  return environment;
}

const char* EnvironmentName(const ExpansionEnvironment& environment) {
  switch (environment.owner) {
    case ExpansionEnvironment::Owner::kSystem:
      return "system";
    case ExpansionEnvironment::Owner::kProcessUser:
      return "process user";
    case ExpansionEnvironment::Owner::kSessionUser:
      return "session user";
  }
  return "";
}

// Releases the row's held file, if any, when the row is done with: a launch releases it as soon
// as the program has started, and a row that is not launched must not keep it.
class HeldFileRelease {
 public:
  HeldFileRelease(RunEnvironment& env, const HeldFileId* held) : env_(env), held_(held) {}
  ~HeldFileRelease() {
    if (*held_ != 0) env_.ReleaseFile(*held_);
  }
  HeldFileRelease(const HeldFileRelease&) = delete;
  HeldFileRelease& operator=(const HeldFileRelease&) = delete;

 private:
  RunEnvironment& env_;
  const HeldFileId* held_;
};

class Run {
 public:
  Run(const RunOptions& options, RunEnvironment& environment)
      : options_(options), env_(environment) {}

  int Execute();
  const RunCounters& counters() const { return counters_; }

 private:
  void HandleRow(const UninstallEntry& entry);
  void ProcessEntry(UninstallEntry entry);
  void ProcessPerUserEntry(const UninstallEntry& entry);
  bool PassesVersionRule(const UninstallEntry& entry);
  bool AccessRefused(const RowAccess& access);
  unsigned long long OwnerTimeLeft();
  bool OwnerTimeSpent(const RowAccess& access);
  bool StepStalled();
  bool ExpandValues(const RowAccess& access, UninstallEntry* entry);
  void RefuseExpansion(const ExpandSzValue& value, const ExpandedText& expanded);
  bool PassesSharedUninstallerGuard(const UninstallEntry& entry, const RowAccess& access,
                                    const LocatedUninstaller& located, bool* refused);
  bool MainVersionUnreadable(const std::string& main_exe, const FileVersionInfo& read);
  void RunAndVerify(const UninstallEntry& entry, const UninstallCommand& command,
                    const LaunchTarget& target, const HandledProduct& product, bool main_bundle);
  void LaunchAndVerify(const UninstallEntry& entry, const UninstallCommand& command,
                       const LaunchTarget& target, const HandledProduct& product, bool main_bundle,
                       std::unique_ptr<LaunchRemains>* remains);
  InstallerTechnology RecognizeTechnology(const UninstallEntry& entry, const RowAccess& access,
                                          const LocatedUninstaller& located);
  void FailRow(int code, const std::string& remarks);
  void RefusePath(const std::string& path);
  int ChooseExitCode();

  const RunOptions& options_;
  RunEnvironment& env_;
  RunCounters counters_;
  std::set<HandledProduct> handled_products_;
  // Time each owner's per-user rows have taken in this run, in ms: everything done for them
  // (file steps, lock waits, launches, verification), so that one user's rows cannot hold the
  // agent for more than one time-out.
  std::map<std::string, unsigned long long> owner_time_spent_;
  // What each owner's per-user rows have written to the log, and how many were taken on.
  LogOwnerBudgets log_budgets_;
  std::map<std::string, int> owner_rows_;
  // The row being handled: its owner (empty unless it runs in its owner's session) and when it
  // began.
  std::string row_owner_;
  unsigned long long row_started_ = 0;
};

int Run::Execute() {
  if (options_.WhatIf) {
    LogInfo("operation : app_varnok; remarks : \"WhatIf mode enabled. No uninstall will be "
            "executed.\";");
  }
  const std::vector<UninstallEntry> inventory = env_.GetUninstallEntries();
  std::vector<UninstallEntry> hits;
  for (const UninstallEntry& entry : inventory) {
    if (MatchesDisplayName(entry.display_name, options_)) hits.push_back(entry);
  }
  if (hits.empty()) {
    ReportNotFound(options_, inventory);
    return kExitApplicationNotFound;
  }
  counters_.name_hits = static_cast<int>(hits.size());
  LogInfo("operation : app_varnok; remarks : \"Name hits (%s): %d;\";",
          options_.NameMatchText.c_str(), counters_.name_hits);
  env_.SetWorkDeadline(WorkDeadlineMs(WorkOf(hits, env_.IsRunningAsSystem())));
  OrderByOwnerThenBundle(&hits);
  LogInfo("operation : app_varnok; remarks : \"Order: main bundle/Package Cache EXE first; nested "
          "MSI last if a bundle exists.\";");
  for (const UninstallEntry& entry : hits) HandleRow(entry);
  log_budgets_.LogSummaries();

  env_.RestoreDesktopShell();
  env_.EndRun();
  // Every name hit is skipped or handled, and every handled row succeeded or failed: a row that
  // failed before the guard (a path refused, an owner without a session, a spent budget) passed
  // the version rule and counts as a version hit that failed.
  counters_.version_hits = counters_.success + counters_.failed;
  LogInfo("operation : app_varnok; status : summary; name_hits : %d; version_hits : %d; "
          "skipped_version : %d; success : %d; failed : %d;",
          counters_.name_hits, counters_.version_hits, counters_.skipped_version,
          counters_.success, counters_.failed);
  return ChooseExitCode();
}

// Charges everything done for a row in its owner's session to that owner.
void Run::HandleRow(const UninstallEntry& entry) {
  row_owner_.clear();
  row_started_ = env_.NowMs();
  (void)env_.TakeStalledStep();  // a step of an earlier row, which has failed already
  if (IsPerUserRoot(entry.root)) {
    ProcessPerUserEntry(entry);
  } else {
    ProcessEntry(entry);
  }
  if (row_owner_.empty()) return;
  const unsigned long long ended = std::max(row_started_, env_.NowMs());
  owner_time_spent_[row_owner_] += ended - row_started_;
}

void Run::ProcessEntry(UninstallEntry entry) {
  LogInfo("----------");
  LogInfo("operation : app_varnok; registry_path : \"%s\"; arch : \"%s\"; display_name : \"%s\"; "
          "display_version : \"%s\";",
          entry.registry_path.c_str(), entry.arch.c_str(), entry.display_name.c_str(),
          entry.display_version.c_str());
  const std::string key = ProductKey(entry);
  const HandledProduct product{OwnerScope(entry), key};
  const bool main_bundle = IsMainBundle(entry);
  if (handled_products_.count(product) != 0 && !main_bundle) {
    LogInfo("operation : app_varnok; remarks : \"SKIP: main bundle already handled this product "
            "(%s). Nested MSI/EXE will not run.\";",
            key.c_str());
    ++counters_.skipped_version;
    return;
  }
  if (IsProtectedShellComponent(entry.display_name)) {
    LogInfo("operation : app_varnok; remarks : \"SKIP: protected Windows shell component. Will not "
            "uninstall.\";");
    ++counters_.skipped_version;
    return;
  }
  if (!PassesVersionRule(entry)) {
    ++counters_.skipped_version;
    return;
  }
  // Nothing below touches the machine before the row's owner is known: a per-user row under
  // LocalSystem is handled as its owner or not at all.
  const RowAccess access = env_.GetRowAccess(entry);
  if (AccessRefused(access)) return;
  if (OwnerTimeSpent(access)) return;
  // A machine-wide row is trusted for what it says only while users cannot write its key.
  if (const std::optional<std::string> refusal = env_.CheckRowKey(entry)) {
    FailRow(kUntrustedUninstaller, *refusal);
    return;
  }
  // From here on every rule judges the paths the variables stand for.
  if (!ExpandValues(access, &entry)) return;

  // Where the uninstaller really is, before the guard judges its folder (WhatIf too: read-only).
  LocatedUninstaller located;
  if (!IsMsiEntry(entry)) {
    located = env_.LocateUninstaller(access, CommandSource(entry, options_), entry.install_location);
    if (StepStalled()) return;
    if (!located.refused_path.empty()) {
      RefusePath(located.refused_path);
      return;
    }
  }
  // The file that will run is judged (and, as SYSTEM, held unchanged until it has started)
  // before the guard opens anything beside it.
  FileToRun prepared;
  const HeldFileRelease release(env_, &prepared.held);
  if (!IsMsiEntry(entry) && !located.file.empty()) {
    prepared = env_.PrepareFileToRun(access, located.file);
    if (StepStalled()) return;
    if (prepared.refused != 0) {
      FailRow(prepared.refused, prepared.remarks);
      return;
    }
  }
  bool refused = false;
  if (!PassesSharedUninstallerGuard(entry, access, located, &refused)) {
    if (!refused) ++counters_.skipped_version;
    return;
  }

  // The builder splits the stored command where the search did.
  const std::string chosen = located.executable;
  const NamesFile split_as_located = [&chosen](const std::string& candidate) {
    return !chosen.empty() && candidate == chosen;
  };
  const InstallerTechnology technology = RecognizeTechnology(entry, access, located);
  if (StepStalled()) return;
  const UninstallCommand command = BuildUninstallCommand(
      entry, options_.ExeArgs, env_.GetMsiexecPath(), split_as_located, technology);
  if (command.command_line.empty()) {
    ++counters_.failed;  // the builder has logged why
    return;
  }
  LogInfo("operation : app_varnok; installer_type : \"%s\"; command : \"%s\";",
          command.is_msi ? "MSI" : "EXE", command.command_line.c_str());
  if (!command.is_msi && !located.file.empty() && located.file != command.executable) {
    LogInfo("operation : app_varnok; remarks : \"The command's executable is not on disk as "
            "written; the file found for it runs instead.\"; file_path : \"%s\";",
            located.file.c_str());
  }
  if (options_.WhatIf) {
    LogInfo("operation : app_varnok; remarks : \"WHATIF: would uninstall %s.\";",
            entry.display_name.c_str());
    ++counters_.success;
    if (main_bundle) handled_products_.insert(product);
    return;
  }
  LaunchTarget target;
  target.access = access;
  target.file = located.file;
  target.windows_installer = entry.is_windows_installer;
  target.held_file = prepared.held;
  target.identity = prepared.identity;
  RunAndVerify(entry, command, target, product, main_bundle);
}

// A user decides how many per-user rows there are and how much each one logs: the owner's rows
// share one log budget, and those past kMaxRowsPerOwner fail with one line and are not looked at.
void Run::ProcessPerUserEntry(const UninstallEntry& entry) {
  std::string owner = OwnerScope(entry);
  if (owner.empty()) owner = "HKU";  // a hive path without a SID: still a user's
  const LogOwnerScope log_scope(log_budgets_, owner);
  if (++owner_rows_[owner] > kMaxRowsPerOwner) {
    LogError("operation : app_varnok; status : failure; remarks : \"Per-user row not handled: "
             "this owner's rows passed the %d that a run takes on\"; owner : \"%s\"; "
             "registry_path : \"%s\";",
             kMaxRowsPerOwner, owner.c_str(), entry.registry_path.c_str());
    ++counters_.failed;
    return;
  }
  ProcessEntry(entry);
}

// The tool that built an executable uninstaller decides its silent arguments, unless the operator
// gave the arguments: then nothing is read and the command stays the operator's.
InstallerTechnology Run::RecognizeTechnology(const UninstallEntry& entry, const RowAccess& access,
                                             const LocatedUninstaller& located) {
  if (IsMsiEntry(entry) || !options_.ExeArgs.empty()) return InstallerTechnology::kUnknown;
  const RecognizedTechnology found = env_.RecognizeTechnology(access, entry, located.file);
  if (found.technology == InstallerTechnology::kUnknown) return found.technology;
  if (HasSilentArguments(found.technology)) {
    LogInfo("operation : app_varnok; installer_technology : \"%s\"; evidence : \"%s\";",
            TechnologyName(found.technology), found.evidence.c_str());
  } else {
    LogInfo("operation : app_varnok; installer_technology : \"%s\"; evidence : \"%s\"; remarks : "
            "\"No reliable silent switch is known for these uninstallers; the generic switch is "
            "used.\";",
            TechnologyName(found.technology), found.evidence.c_str());
  }
  return found.technology;
}

// A per-user row under LocalSystem whose owner cannot be acted as: nothing of it is run or read
// as SYSTEM, and the run reports it so that the agent retries once the user is logged on.
bool Run::AccessRefused(const RowAccess& access) {
  switch (access.route) {
    case RowAccess::Route::kDirect:
    case RowAccess::Route::kOwnerSession:
      return false;
    case RowAccess::Route::kNoOwnerSession:
      LogNoOwnerSession(access.owner_sid);
      FailRow(kNoOwnerSession, kNoOwnerSessionRemarks);
      return true;
    case RowAccess::Route::kOwnerUnavailable:
      LogError("operation : ExecuteUninstallCommand; status : failure; remarks : \"Per-user "
               "uninstaller not run: the session token of the row's owner could not be used, and "
               "nothing of the row is done as SYSTEM\"; sid : \"%s\"; session_id : %d;",
               access.owner_sid.c_str(), static_cast<int>(access.session_id));
      FailRow(kNoOwnerSession,
              "The owner's session token could not be used; uninstaller not run as SYSTEM.");
      return true;
  }
  return true;
}

// Replaces the row's REG_EXPAND_SZ texts by their expansion (one request for the row), each named
// in an INFO line. False, the row failed and nothing of it replaced, when one of them cannot be
// used. Under WOW64 a row of the 64-bit view means the 64-bit program folders, as it means the
// 64-bit System32.
bool Run::ExpandValues(const RowAccess& access, UninstallEntry* entry) {
  const std::vector<ExpandSzValue> values = ExpandSzValuesOf(entry);
  if (values.empty()) return true;
  const ExpansionEnvironment environment = ExpansionEnvironmentFor(*entry, access);
  std::vector<std::string> texts;
  for (const ExpandSzValue& value : values) {
    texts.push_back(access.native_system_folder ? WithNativeProgramFolders(*value.field)
                                                : *value.field);
  }
  const std::vector<ExpandedText> expanded = env_.ExpandValues(environment, texts);
  const ExpandedText missing{kErrorInvalidParameterCode, std::string()};
  for (size_t i = 0; i < values.size(); ++i) {
    const ExpandedText& result = i < expanded.size() ? expanded[i] : missing;
    if (JudgeExpansion(result) != ExpansionVerdict::kUsable) {
      RefuseExpansion(values[i], result);
      return false;
    }
    LogInfo("operation : app_varnok; value_name : \"%s\"; environment : \"%s\"; expanded : "
            "\"%s\";",
            values[i].name, EnvironmentName(environment), result.text.c_str());
  }
  for (size_t i = 0; i < values.size(); ++i) {
    *values[i].field = expanded[i].text;
    *values[i].expand_sz = false;
  }
  return true;
}

void Run::RefuseExpansion(const ExpandSzValue& value, const ExpandedText& expanded) {
  const char* why = "could not be expanded";
  int code = static_cast<int>(expanded.error);
  switch (JudgeExpansion(expanded)) {
    case ExpansionVerdict::kTooLarge:
      why = "expands to more than 65536 bytes";
      code = static_cast<int>(kErrorValueTooLarge);
      break;
    case ExpansionVerdict::kVariableLeft:
      why = "still holds a % once expanded (a variable its environment does not define)";
      code = static_cast<int>(kErrorEnvvarNotFound);
      break;
    case ExpansionVerdict::kFailed:
    case ExpansionVerdict::kUsable:
      break;
  }
  LogError("operation : app_varnok; status : failure; remarks : \"REG_EXPAND_SZ value %s; nothing "
           "of the row is run\"; value_name : \"%s\"; stored : \"%s\"; error_code : %d;",
           why, value.name, value.field->c_str(), code);
  FailRow(code, std::string("REG_EXPAND_SZ value ") + value.name + " " + why + ".");
}

// The row ends before a launch, reported as a failed uninstall so that every failed row carries
// the same VERIFY line.
void Run::FailRow(int code, const std::string& remarks) {
  LogInfo("operation : app_varnok; exit_code : %d;", code);
  LogError("operation : app_varnok; remarks : \"VERIFY: uninstall failed. exit_code : %d; "
           "remarks : %s\";",
           code, remarks.c_str());
  ++counters_.failed;
}

// What is left of the 30 minutes of the row's owner, the row in progress included.
unsigned long long Run::OwnerTimeLeft() {
  const unsigned long long spent = owner_time_spent_[row_owner_] +
                                   (std::max(row_started_, env_.NowMs()) - row_started_);
  return spent >= kUninstallTimeoutMs ? 0 : kUninstallTimeoutMs - spent;
}

// A row in its owner's session, once that owner's rows have used their time: failed with the
// budget's line, before anything of it is done.
bool Run::OwnerTimeSpent(const RowAccess& access) {
  if (access.route != RowAccess::Route::kOwnerSession) return false;
  row_owner_ = access.owner_sid;
  if (OwnerTimeLeft() > 0) return false;
  LogError("operation : app_varnok; status : failure; remarks : \"Per-user uninstaller not "
           "run: the uninstallers of this user's rows have used the 30-minute time-out of "
           "this run\"; sid : \"%s\";",
           access.owner_sid.c_str());
  FailRow(kOwnerBudgetSpent, "The 30-minute time-out of this user's rows is used up.");
  return true;
}

// A file step of the row that gave up (a file held open by an opportunistic lock, say): what it
// would have told the run is not known, so the row fails, and the agent tries again later.
bool Run::StepStalled() {
  const std::string path = env_.TakeStalledStep();
  if (path.empty()) return false;
  LogError("operation : app_varnok; status : failure; remarks : \"A file step did not finish "
           "within %d s (another program may hold the file); nothing of the row is run. Retry "
           "later.\"; file_path : \"%s\"; error_code : %d;",
           static_cast<int>(kFileStepTimeoutMs / 1000), path.c_str(),
           static_cast<int>(kFileStepStalled));
  FailRow(static_cast<int>(kFileStepStalled), "A file step did not finish in time: " + path + ".");
  return true;
}

void Run::RefusePath(const std::string& path) {
  LogError("operation : app_varnok; status : failure; remarks : \"Path refused: only a local "
           "absolute path (X:\\...) is opened or run; UNC, device and relative paths are not\"; "
           "file_path : \"%s\";",
           path.c_str());
  FailRow(kPathRefused, "Path refused: " + path + " is not a local absolute path.");
}

// Only the first non-empty candidate is tested: a DisplayVersion that fails is not retried with
// the version in the display name.
bool Run::PassesVersionRule(const UninstallEntry& entry) {
  const std::string candidate = !entry.display_version.empty()
                                    ? entry.display_version
                                    : ExtractVersionFromText(entry.display_name);
  if (candidate.empty()) {
    LogSkipVersion();
    return false;
  }
  std::string reason;
  const bool matched = EvaluateVersionRule(candidate, options_, reason);
  LogInfo("operation : app_varnok; remarks : \"Version candidate [%s]: %s\";", candidate.c_str(),
          reason.c_str());
  if (!matched) LogSkipVersion();
  return matched;
}

// A generic uninstaller removes whatever product lives in its folder now, which may be another
// version than the row names: run it only when that product's version satisfies the rule too.
// The folder is the one of the file that will run. `refused` is set when the folder may not be
// opened, or the main program's version could not be read (the row has then failed).
bool Run::PassesSharedUninstallerGuard(const UninstallEntry& entry, const RowAccess& access,
                                       const LocatedUninstaller& located, bool* refused) {
  std::string executable = located.file.empty() ? located.executable : located.file;
  if (executable.empty()) executable = GetExecutablePath(CommandSource(entry, options_));
  if (!IsSharedUninstallerName(executable)) return true;
  const std::string folder = FolderOf(executable);
  LogInfo("operation : app_varnok; remarks : \"Shared uninstall.exe folder: %s\";", folder.c_str());
  if (!IsLocalAbsolutePath(folder)) {
    RefusePath(folder);
    *refused = true;
    return false;
  }
  const std::string main_exe = env_.FindMainExecutable(access, folder, entry.display_name);
  if (StepStalled()) {
    *refused = true;
    return false;
  }
  if (main_exe.empty()) {
    LogInfo("operation : app_varnok; remarks : \"No second EXE next to Uninstall.exe. Registry "
            "version already matched; using Uninstall.exe.\";");
    return true;
  }
  const FileVersionInfo read = env_.GetFileVersion(access, main_exe);
  if (StepStalled()) {
    *refused = true;
    return false;
  }
  const std::string& file_version = read.version;
  const std::string folder_version = ExtractVersionFromText(GetParentPath(main_exe));
  const std::string name_version = ExtractVersionFromText(GetFileName(main_exe));
  LogInfo("operation : app_varnok; remarks : \"Main EXE: %s; Main EXE version: %s;\";",
          main_exe.c_str(), file_version.c_str());
  if (MainVersionUnreadable(main_exe, read)) {
    *refused = true;
    return false;
  }
  if (!folder_version.empty()) {
    LogInfo("operation : app_varnok; remarks : \"Version from folder name: %s;\";",
            folder_version.c_str());
  }
  if (!name_version.empty()) {
    LogInfo("operation : app_varnok; remarks : \"Version from file name: %s;\";",
            name_version.c_str());
  }
  for (const std::string* candidate : {&file_version, &folder_version, &name_version}) {
    std::string reason;
    if (!candidate->empty() && EvaluateVersionRule(*candidate, options_, reason)) {
      LogInfo("operation : app_varnok; remarks : \"Main EXE version matches the rule. Safe to use "
              "uninstall.exe.\";");
      return true;
    }
  }
  LogInfo("operation : app_varnok; remarks : \"SKIP: ARP row matches the rule, but the product in "
          "this folder is a DIFFERENT version (%s). Running uninstall.exe would remove the live "
          "product. Not proceeding.\";",
          file_version.c_str());
  return false;
}

// A version that could not be read says nothing about the product in the folder: the row is not
// run, and fails rather than being skipped, so that the agent tries again (anyone who may read
// the main program can hold it open without sharing). A file without a version resource still
// leaves the decision to the folder and file names.
bool Run::MainVersionUnreadable(const std::string& main_exe, const FileVersionInfo& read) {
  if (!VersionUnreadable(read)) return false;
  const int code = VersionErrorCode(read);
  LogError("operation : app_varnok; status : failure; remarks : \"The main EXE's version could "
           "not be read, so the guard cannot tell which version this uninstaller would remove; "
           "the row is not run. Retry later.\"; file_path : \"%s\"; error_code : %d;",
           main_exe.c_str(), code);
  FailRow(code, "The main EXE's version could not be read (" + main_exe + "); retry later.");
  return true;
}

// The row's private temporary folders go as soon as nothing its launch started still runs.
void Run::RunAndVerify(const UninstallEntry& entry, const UninstallCommand& command,
                       const LaunchTarget& target, const HandledProduct& product,
                       bool main_bundle) {
  std::unique_ptr<LaunchRemains> remains;
  LaunchAndVerify(entry, command, target, product, main_bundle, &remains);
  LaunchWindow window;
  env_.EndRow(!remains || !remains->ReadActivity(&window).process_ids.empty());
}

void Run::LaunchAndVerify(const UninstallEntry& entry, const UninstallCommand& command,
                          const LaunchTarget& launch, const HandledProduct& product,
                          bool main_bundle, std::unique_ptr<LaunchRemains>* remains) {
  LaunchTarget target = launch;
  const bool owner_session = target.access.route == RowAccess::Route::kOwnerSession;
  if (owner_session) {
    if (OwnerTimeSpent(target.access)) return;
    target.user_timeout_ms = static_cast<unsigned long>(OwnerTimeLeft());
  }
  std::string remarks;
  const int exit_code = env_.ExecuteUninstallCommand(entry, command, target, &remarks, remains);
  LogInfo("operation : app_varnok; exit_code : %d;", exit_code);
  if (exit_code == 1605) {
    LogInfo("operation : app_varnok; remarks : \"MSI 1605 = product not installed anymore. "
            "Treating as SUCCESS.\";");
  }
  const bool process_ok = exit_code == 0 || exit_code == 1605 || exit_code == 3010;
  if (!process_ok) {
    LogError("operation : app_varnok; remarks : \"VERIFY: uninstall failed. exit_code : %d; "
             "remarks : %s\";",
             exit_code, remarks.c_str());
    ++counters_.failed;
    return;
  }
  if (!env_.IsUninstallEntryPresent(entry)) {
    LogInfo("operation : app_varnok; remarks : \"VERIFY: registry key gone. SUCCESS.\";");
    ++counters_.success;
    if (main_bundle) handled_products_.insert(product);
    EndOrphanWindows(env_, remains->get());
    return;
  }
  if (main_bundle) {
    LogInfo("operation : app_varnok; remarks : \"VERIFY: bundle process ok but registry key still "
            "present. Marking bundle success; nested MSI/EXE will be skipped.\";");
    ++counters_.success;
    handled_products_.insert(product);
    EndOrphanWindows(env_, remains->get());
    return;
  }
  LogInfo("operation : app_varnok; remarks : \"VERIFY: process ok but registry key still present. "
          "Check manually.\";");
  // An owner's row is waited for only within what is left of the owner's time.
  const unsigned long long limit = owner_session ? OwnerTimeLeft() : kNoVerificationLimit;
  if (WaitUntilGone(env_, entry, remains->get(), limit)) {
    ++counters_.success;
    EndOrphanWindows(env_, remains->get());
    return;
  }
  if (limit < kVerificationWaitMs) {
    LogError("operation : app_varnok; status : failure; remarks : \"The wait for the row stopped "
             "early: this user's rows have used the 30-minute time-out of this run\"; sid : "
             "\"%s\";",
             target.access.owner_sid.c_str());
  }
  ++counters_.failed;
}

int Run::ChooseExitCode() {
  if (counters_.failed > 0) {
    LogError("operation : app_varnok; status : failure; return_value : %d;", kExitUninstallFailed);
    return kExitUninstallFailed;
  }
  if (counters_.version_hits > 0 || options_.WhatIf) {
    LogInfo("operation : app_varnok; status : success; return_value : %d;", kExitSuccess);
    return kExitSuccess;
  }
  LogError("operation : app_varnok; status : failure; remarks : \"No entries matched the version "
           "rule.\"; return_value : %d;",
           kExitNoVersionMatched);
  return kExitNoVersionMatched;
}

}  // namespace

int RunUninstall(const RunOptions& options, RunEnvironment& environment, RunCounters* counters) {
  Run run(options, environment);
  const int exit_code = run.Execute();
  if (counters) *counters = run.counters();
  return exit_code;
}

}  // namespace varnok
