// Hostile Uninstall rows through the command builder: whatever a row stores, the program either
// refuses it with one ERROR line or builds a command whose executable is exactly what it will
// start and quote.
//
// Input layout (see make_seeds.py): one flags byte at the very end (bits 0-1 root, bit 2 64-bit
// view, bit 3 WindowsInstaller flag); from the start, the texts key_name, display_name,
// display_version, install_location, uninstall_string, quiet_uninstall_string and exe_args, each
// ended by a backslash and one more byte (a backslash inside a text is written twice).
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <string>
#include <vector>

#include "common/strings.h"
#include "fuzz_check.h"
#include "inventory/uninstall_entry.h"
#include "uninstall/classify.h"
#include "uninstall/installer_technology.h"
#include "uninstall/uninstall_command.h"

namespace varnok::fuzz {
namespace {

constexpr size_t kMaxText = 512;
constexpr char kMsiexecPath[] = "C:\\Windows\\system32\\msiexec.exe";

void CheckSplit(const std::string& command) {
  std::string executable = "stale";
  std::string arguments = "stale";
  const bool split = SplitCommandLine(command, &executable, &arguments);
  const std::string trimmed = Trim(command);
  FUZZ_CHECK_MSG(split == !trimmed.empty(), Show(command));
  if (!split) FUZZ_CHECK(executable.empty() && arguments.empty());
  FUZZ_CHECK_MSG(executable.empty() || executable.front() != '"', Show(executable));
  FUZZ_CHECK_MSG(Trim(arguments) == arguments, Show(arguments));
  // Both pieces are cut out of the command, never invented or overlapping.
  FUZZ_CHECK_MSG(trimmed.find(executable) != std::string::npos, Show(executable));
  FUZZ_CHECK_MSG(arguments.empty() || EndsWith(trimmed, arguments), Show(arguments));
  FUZZ_CHECK(executable.size() + arguments.size() <= trimmed.size());
  FUZZ_CHECK_MSG(GetExecutablePath(command) == executable, Show(command));
}

void CheckSilentSwitch(const std::string& command) {
  const std::string chosen = ChooseSilentSwitch(command);
  FUZZ_CHECK_MSG(chosen.empty() || chosen == "/VERYSILENT" || chosen == "/s" || chosen == "/S",
                 Show(chosen));
  // A second silent switch can make an uninstaller reject its whole command line.
  for (const char* silent : {"/verysilent", "/silent", "/quiet", "/qn", "/passive", "/uninstall"}) {
    if (ContainsNoCase(command, silent)) FUZZ_CHECK_MSG(chosen.empty(), Show(command));
  }
  if (EndsWithNoCase(command, "/s")) FUZZ_CHECK_MSG(chosen.empty(), Show(command));
}

// A tool's silent arguments keep every stored word in its order, are added once (a second pass
// adds nothing), and NSIS's "/S" never follows its "_?=" folder.
void CheckSilentArguments(const std::string& stored) {
  for (InstallerTechnology technology :
       {InstallerTechnology::kInnoSetup, InstallerTechnology::kNsis, InstallerTechnology::kBurn,
        InstallerTechnology::kSquirrel, InstallerTechnology::kInstallShield}) {
    const std::string added = AddSilentArguments(technology, stored);
    FUZZ_CHECK_MSG(AddSilentArguments(technology, added) == added, Show(added));
    // The blanks at the ends of the stored text are dropped, as the contract says.
    const size_t first = stored.find_first_not_of(" \t");
    const size_t last = stored.find_last_not_of(" \t");
    const std::vector<std::string> before = ArgumentWords(
        first == std::string::npos ? std::string() : stored.substr(first, last - first + 1));
    const std::vector<std::string> after = ArgumentWords(added);
    size_t next = 0;
    for (const std::string& word : after) {
      if (next < before.size() && word == before[next]) ++next;
    }
    FUZZ_CHECK_MSG(next == before.size(), Show(stored) + " gives " + Show(added));
    if (technology == InstallerTechnology::kNsis) {
      const size_t folder = added.find(" _?=");
      const size_t silent = added.find("/S");
      FUZZ_CHECK_MSG(folder == std::string::npos || silent < folder || stored.find("_?=") != 0,
                     Show(added));
    }
  }
}

// Independent of the builder's own branches: which stored text an executable command comes from,
// and whether that text yields an executable that can be quoted safely.
bool ExpectBuilt(const UninstallEntry& entry, const std::string& exe_args) {
  if (IsMsiEntry(entry)) return !GetMsiProductCode(entry.key_name, entry.uninstall_string).empty();
  if (entry.uninstall_string.empty() && entry.quiet_uninstall_string.empty()) return false;
  const std::string& source = !exe_args.empty() || entry.quiet_uninstall_string.empty()
                                  ? entry.uninstall_string
                                  : entry.quiet_uninstall_string;
  const std::string executable = GetExecutablePath(source);
  return !executable.empty() && executable.find('"') == std::string::npos;
}

void CheckMsiCommand(const UninstallEntry& entry, const UninstallCommand& command) {
  const std::string& code = command.product_code;
  FUZZ_CHECK_MSG(code.size() == kProductCodeLength && IsGuidString(code), Show(code));
  FUZZ_CHECK_MSG(code == ToUpperCopy(code), Show(code));
  FUZZ_CHECK_MSG(command.command_line == "msiexec.exe /X " + code + " /qn /norestart",
                 Show(command.command_line));
  FUZZ_CHECK(command.arguments == "/X " + code + " /qn /norestart");
  FUZZ_CHECK_MSG(command.executable == kMsiexecPath, Show(command.executable));
  FUZZ_CHECK(command.search_folders.empty());
  // The code must be the row's own, never one assembled from pieces.
  FUZZ_CHECK_MSG(
      ContainsNoCase(entry.key_name, code) || ContainsNoCase(entry.uninstall_string, code),
      Show(code));
  if (IsGuidString(entry.key_name)) FUZZ_CHECK(code == ToUpperCopy(entry.key_name));
}

void CheckExecutableCommand(const UninstallEntry& entry, const std::string& exe_args,
                            const UninstallCommand& command) {
  FUZZ_CHECK(command.product_code.empty());
  FUZZ_CHECK(command.search_folders.size() == 1 &&
             command.search_folders[0] == entry.install_location);
  FUZZ_CHECK_MSG(!command.executable.empty(), Show(command.command_line));
  FUZZ_CHECK_MSG(command.executable.find('"') == std::string::npos, Show(command.executable));
  // What the launcher will split from the logged line is exactly what was built.
  std::string executable;
  std::string arguments;
  SplitCommandLine(command.command_line, &executable, &arguments);
  FUZZ_CHECK_MSG(executable == command.executable,
                 Show(command.command_line) + " gives " + Show(executable));
  FUZZ_CHECK_MSG(arguments == command.arguments,
                 Show(command.command_line) + " gives " + Show(arguments));

  const bool as_stored = exe_args.empty() && !entry.quiet_uninstall_string.empty();
  if (as_stored) {
    FUZZ_CHECK_MSG(command.command_line == Trim(entry.quiet_uninstall_string),
                   Show(command.command_line));
    FUZZ_CHECK(command.executable == GetExecutablePath(entry.quiet_uninstall_string));
    return;
  }
  FUZZ_CHECK(command.executable == GetExecutablePath(entry.uninstall_string));
  const std::string quoted = "\"" + command.executable + "\"";
  FUZZ_CHECK_MSG(
      command.command_line == quoted + (command.arguments.empty() ? "" : " " + command.arguments),
      Show(command.command_line));
  if (!exe_args.empty()) {
    FUZZ_CHECK_MSG(command.arguments == Trim(exe_args), Show(command.arguments));
  } else {
    std::string stored_executable;
    std::string stored_arguments;
    SplitCommandLine(entry.uninstall_string, &stored_executable, &stored_arguments);
    FUZZ_CHECK_MSG(command.arguments ==
                       Trim(stored_arguments + " " + ChooseSilentSwitch(entry.uninstall_string)),
                   Show(command.arguments));
  }
}

void CheckBuild(const UninstallEntry& entry, const std::string& exe_args) {
  testing::TakeLogLines();
  const UninstallCommand command = BuildUninstallCommand(entry, exe_args, kMsiexecPath);
  const std::vector<testing::CapturedLine> lines = testing::TakeLogLines();
  const bool built = !command.command_line.empty();
  FUZZ_CHECK_MSG(built == ExpectBuilt(entry, exe_args), Show(command.command_line));
  if (!built) {
    FUZZ_CHECK_MSG(lines.size() == 1 && lines[0].level == LogLevel::kError,
                   std::to_string(lines.size()) + " lines");
    FUZZ_CHECK_MSG(
        StartsWith(lines[0].message, "operation : BuildUninstallCommand; status : failure; "),
        Show(lines[0].message));
    return;
  }
  FUZZ_CHECK_MSG(lines.empty(), Show(lines[0].message));
  FUZZ_CHECK(command.per_user == IsPerUserRoot(entry.root));
  FUZZ_CHECK(command.is_msi == IsMsiEntry(entry));
  if (command.is_msi) {
    CheckMsiCommand(entry, command);
  } else {
    CheckExecutableCommand(entry, exe_args, command);
  }
}

}  // namespace
}  // namespace varnok::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace varnok;
  FuzzedDataProvider input(data, size);
  const uint8_t flags = input.ConsumeIntegral<uint8_t>();
  UninstallEntry entry;
  entry.root = static_cast<RegistryRoot>(flags & 3);
  entry.view_64bit = (flags & 4) != 0;
  entry.is_windows_installer = (flags & 8) != 0;
  entry.key_name = input.ConsumeRandomLengthString(fuzz::kMaxText);
  entry.display_name = input.ConsumeRandomLengthString(fuzz::kMaxText);
  entry.display_version = input.ConsumeRandomLengthString(fuzz::kMaxText);
  entry.install_location = input.ConsumeRandomLengthString(fuzz::kMaxText);
  entry.uninstall_string = input.ConsumeRandomLengthString(fuzz::kMaxText);
  entry.quiet_uninstall_string = input.ConsumeRandomLengthString(fuzz::kMaxText);
  const std::string exe_args = input.ConsumeRandomLengthString(fuzz::kMaxText);

  for (const std::string* command : {&entry.uninstall_string, &entry.quiet_uninstall_string}) {
    fuzz::CheckSplit(*command);
  }
  fuzz::CheckSplit(exe_args);
  fuzz::CheckSilentArguments(exe_args);
  fuzz::CheckSilentSwitch(entry.uninstall_string);
  if (entry.is_windows_installer || ContainsNoCase(entry.uninstall_string, "msiexec")) {
    FUZZ_CHECK(IsMsiEntry(entry));
  }
  fuzz::CheckBuild(entry, exe_args);
  // Operator arguments hide the stored commands' own paths; every row takes those paths too.
  if (!exe_args.empty()) fuzz::CheckBuild(entry, std::string());
  return 0;
}
