// A fake machine for the run: an inventory, uninstallers with scripted outcomes, rows that leave
// the registry at a scripted time of a fake clock, and a record of what the run asked for.
#pragma once

#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "run/run_environment.h"
#include "uninstall/classify.h"

namespace varnok::testing {

class FakeRunEnvironment : public RunEnvironment {
 public:
  // What happens when a row's command runs: its exit code and remarks, when its row leaves the
  // registry (ms after the launch on the fake clock; -1: never; 0: at once), and how long the
  // launch takes on that clock.
  struct Outcome {
    int exit_code = 0;
    std::string remarks;
    long gone_after_ms = 0;
    unsigned long duration_ms = 0;
  };

  std::vector<UninstallEntry> inventory;
  std::map<std::string, Outcome> outcomes;                 // by registry_path; default: 0, gone
  std::map<std::string, RowAccess> access;                 // by registry_path; default: direct
  std::map<std::string, std::string> main_executables;     // folder -> main executable
  // path -> version; a file without one reads as a file without a version resource (1813)
  // unless `version_failures` says how its read fails.
  std::map<std::string, std::string> file_versions;
  std::map<std::string, FileVersionInfo> version_failures;
  // The files made ready for their launch, and what becomes of them: refused (by path: the
  // row's result and remarks), held (each hold gets the next number from 1), identified.
  std::map<std::string, std::pair<int, std::string>> refused_files;
  std::vector<std::string> prepared;
  std::vector<HeldFileId> released;
  // HKLM rows whose key may not be trusted (by registry_path: the remarks), and every row asked.
  std::map<std::string, std::string> untrusted_keys;
  std::vector<std::string> key_checks;
  // Files missing on disk, and where a missing one is found instead (executable -> file).
  std::vector<std::string> missing_files;
  std::map<std::string, std::string> found_instead;
  std::map<std::string, std::string> refused_paths;        // executable -> path refused
  std::map<std::string, RecognizedTechnology> technologies;  // by registry_path
  // By registry_path: what the row's launch leaves running, watched as in session 0.
  std::map<std::string, std::function<std::unique_ptr<LaunchRemains>()>> remains_of;
  bool system = false;
  // Steps that give up as a held file makes them, by their probe text ("locate <command>",
  // "main <folder>", "version <path>", "recognize <file>"), and the path each one names. Such a
  // step finds nothing, as the platform's do.
  std::map<std::string, std::string> stalls;

  // REG_EXPAND_SZ texts, as handed over, and what their expansion gives; any other text comes
  // back unchanged.
  std::map<std::string, ExpandedText> expansions;

  // Recorded.
  struct Expansion {
    ExpansionEnvironment environment;
    std::vector<std::string> texts;
  };
  std::vector<Expansion> expansion_requests;
  std::vector<std::string> located_in;  // the install location of each locate step
  struct Launch {
    std::string registry_path;
    UninstallCommand command;
    LaunchTarget target;
  };
  std::vector<Launch> launches;
  // "access <path>", "locate <command>", "prepare <file>", "main <folder>", "version <file>", ...
  std::vector<std::string> probes;
  std::vector<unsigned> sleeps;
  int shell_restores = 0;
  std::vector<unsigned long long> deadlines;  // as the run set them
  std::vector<std::string> row_ends;          // "may run" or "done", after each launched row
  int run_ends = 0;
  long clock_ms = 0;

  std::vector<UninstallEntry> GetUninstallEntries() override { return inventory; }
  bool IsRunningAsSystem() override { return system; }
  void SetWorkDeadline(unsigned long long ms) override { deadlines.push_back(ms); }

  bool IsUninstallEntryPresent(const UninstallEntry& entry) override {
    const auto launched = launched_at_.find(entry.registry_path);
    if (launched == launched_at_.end()) return true;
    const Outcome outcome = OutcomeOf(entry.registry_path);
    if (outcome.gone_after_ms < 0) return true;
    return clock_ms - launched->second < outcome.gone_after_ms;
  }

  std::string GetMsiexecPath() override { return "C:\\Windows\\system32\\msiexec.exe"; }

  RowAccess GetRowAccess(const UninstallEntry& entry) override {
    probes.push_back("access " + entry.registry_path);
    const auto it = access.find(entry.registry_path);
    return it == access.end() ? RowAccess() : it->second;
  }

  std::vector<ExpandedText> ExpandValues(const ExpansionEnvironment& environment,
                                         const std::vector<std::string>& texts) override {
    probes.push_back("expand");
    expansion_requests.push_back({environment, texts});
    std::vector<ExpandedText> results;
    for (const std::string& text : texts) {
      const auto it = expansions.find(text);
      results.push_back(it == expansions.end() ? ExpandedText{kErrorSuccess, text} : it->second);
    }
    return results;
  }

  LocatedUninstaller LocateUninstaller(const RowAccess&, std::string_view command,
                                       const std::string& install_location) override {
    probes.push_back("locate " + std::string(command));
    located_in.push_back(install_location);
    LocatedUninstaller located;
    located.executable = GetExecutablePath(command);
    if (Stall("locate " + std::string(command))) return located;
    const auto refused = refused_paths.find(located.executable);
    if (refused != refused_paths.end()) {
      located.refused_path = refused->second;
      return located;
    }
    const auto instead = found_instead.find(located.executable);
    if (instead != found_instead.end()) {
      located.file = instead->second;
    } else if (std::find(missing_files.begin(), missing_files.end(), located.executable) ==
               missing_files.end()) {
      located.file = located.executable;
    }
    return located;
  }

  std::string FindMainExecutable(const RowAccess&, const std::string& folder,
                                 const std::string&) override {
    probes.push_back("main " + folder);
    if (Stall("main " + folder)) return std::string();
    const auto it = main_executables.find(folder);
    return it == main_executables.end() ? std::string() : it->second;
  }
  FileVersionInfo GetFileVersion(const RowAccess&, const std::string& path) override {
    probes.push_back("version " + path);
    FileVersionInfo info;
    if (Stall("version " + path)) {
      info.failure = FileVersionInfo::Failure::kSizeFailed;
      info.error = kFileStepStalled;
      return info;
    }
    const auto failure = version_failures.find(path);
    if (failure != version_failures.end()) return failure->second;
    const auto it = file_versions.find(path);
    if (it != file_versions.end()) info.version = it->second;
    if (info.version.empty()) {
      info.failure = FileVersionInfo::Failure::kSizeFailed;
      info.error = 1813;
    }
    return info;
  }

  FileToRun PrepareFileToRun(const RowAccess& access, const std::string& file) override {
    probes.push_back("prepare " + file);
    prepared.push_back(file);
    FileToRun result;
    const auto refused = refused_files.find(file);
    if (refused != refused_files.end()) {
      result.refused = refused->second.first;
      result.remarks = refused->second.second;
    } else if (access.route == RowAccess::Route::kOwnerSession) {
      result.identity = FileIdentity{7, prepared.size()};
    } else {
      result.held = prepared.size();
    }
    return result;
  }
  void ReleaseFile(HeldFileId held) override { released.push_back(held); }

  std::optional<std::string> CheckRowKey(const UninstallEntry& entry) override {
    key_checks.push_back(entry.registry_path);
    const auto it = untrusted_keys.find(entry.registry_path);
    return it == untrusted_keys.end() ? std::nullopt : std::optional<std::string>(it->second);
  }

  RecognizedTechnology RecognizeTechnology(const RowAccess&, const UninstallEntry& entry,
                                           const std::string& uninstaller) override {
    probes.push_back("recognize " + uninstaller);
    if (Stall("recognize " + uninstaller)) return RecognizedTechnology();
    const auto it = technologies.find(entry.registry_path);
    return it == technologies.end() ? RecognizedTechnology() : it->second;
  }

  int ExecuteUninstallCommand(const UninstallEntry& entry, const UninstallCommand& command,
                              const LaunchTarget& target, std::string* remarks,
                              std::unique_ptr<LaunchRemains>* remains) override {
    launches.push_back({entry.registry_path, command, target});
    const auto left = remains_of.find(entry.registry_path);
    if (remains && left != remains_of.end()) *remains = left->second();
    const std::string& path = entry.registry_path;
    const Outcome outcome = OutcomeOf(path);
    clock_ms += static_cast<long>(outcome.duration_ms);
    if (outcome.exit_code == 0 || outcome.exit_code == 1605 || outcome.exit_code == 3010) {
      launched_at_[path] = clock_ms;
    }
    *remarks = outcome.remarks;
    return outcome.exit_code;
  }

  std::string TakeStalledStep() override { return std::exchange(stalled_, std::string()); }

  void RestoreDesktopShell() override { ++shell_restores; }
  void EndRow(bool launch_may_run) override { row_ends.push_back(launch_may_run ? "may run" : "done"); }
  void EndRun() override { ++run_ends; }

  // Each wait is recorded in `sleeps` with its length; it ends early, at that time on the clock,
  // when the watched row leaves within it or when something else in its key changes (unless
  // the key cannot be watched).
  std::unique_ptr<KeyChangeWatch> WatchUninstallKey(const UninstallEntry& entry) override {
    watched_keys.push_back(entry.registry_path);
    return std::make_unique<Watch>(*this, entry.registry_path);
  }
  std::vector<std::string> watched_keys;
  bool key_watch_works = true;
  std::vector<long> other_changes_at;  // clock times of changes to other rows of the key
  unsigned long long NowMs() override { return static_cast<unsigned long long>(clock_ms); }
  void Sleep(unsigned milliseconds) override {
    sleeps.push_back(milliseconds);
    clock_ms += static_cast<long>(milliseconds);
  }

 private:
  class Watch : public KeyChangeWatch {
   public:
    Watch(FakeRunEnvironment& env, std::string path) : env_(env), path_(std::move(path)) {}
    bool Wait(unsigned long timeout_ms) override {
      env_.sleeps.push_back(static_cast<unsigned>(timeout_ms));
      const long now = env_.clock_ms;
      const long end = now + static_cast<long>(timeout_ms);
      std::vector<long> changes = env_.other_changes_at;
      const auto launched = env_.launched_at_.find(path_);
      const long gone_after = env_.OutcomeOf(path_).gone_after_ms;
      if (launched != env_.launched_at_.end() && gone_after >= 0) {
        changes.push_back(launched->second + gone_after);
      }
      long wake = end;
      for (long change : changes) {
        if (env_.key_watch_works && change > now && change < wake) wake = change;
      }
      env_.clock_ms = wake;
      return wake < end;
    }

   private:
    FakeRunEnvironment& env_;
    std::string path_;
  };

  bool Stall(const std::string& step) {
    const auto it = stalls.find(step);
    if (it == stalls.end()) return false;
    clock_ms += static_cast<long>(kFileStepTimeoutMs);
    stalled_ = it->second;
    return true;
  }

  Outcome OutcomeOf(const std::string& path) const {
    const auto it = outcomes.find(path);
    return it == outcomes.end() ? Outcome{} : it->second;
  }

  std::map<std::string, long> launched_at_;
  std::string stalled_;
};

}  // namespace varnok::testing
