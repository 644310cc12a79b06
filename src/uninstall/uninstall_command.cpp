#include "uninstall/uninstall_command.h"

#include "common/strings.h"
#include "log/log.h"
#include "uninstall/classify.h"

namespace varnok {
namespace {

// Which stored value a command was read from; it names the value in the failure lines.
enum class StoredCommand { kUninstallString, kQuietUninstallString };

void LogNoExecutable(StoredCommand source, const std::string& display_name) {
  if (source == StoredCommand::kUninstallString) {
    LogError("operation : BuildUninstallCommand; status : failure; remarks : \"Could not read "
             "executable path from UninstallString for %s\";",
             display_name.c_str());
  } else {
    LogError("operation : BuildUninstallCommand; status : failure; remarks : \"Could not read "
             "executable path from QuietUninstallString for %s\";",
             display_name.c_str());
  }
}

void LogQuoteInExecutable(StoredCommand source, const std::string& display_name) {
  if (source == StoredCommand::kUninstallString) {
    LogError("operation : BuildUninstallCommand; status : failure; remarks : \"UninstallString "
             "executable path for %s contains an embedded quote character and cannot be safely "
             "quoted\";",
             display_name.c_str());
  } else {
    LogError("operation : BuildUninstallCommand; status : failure; remarks : "
             "\"QuietUninstallString executable path for %s contains an embedded quote character "
             "and cannot be safely quoted\";",
             display_name.c_str());
  }
}

// Splits a stored command and checks that its executable can be put between double quotes.
// Logs and returns false otherwise.
bool SplitStoredCommand(const UninstallEntry& entry, StoredCommand source,
                        const NamesFile& names_file, std::string* executable,
                        std::string* arguments) {
  const std::string& stored = source == StoredCommand::kUninstallString
                                  ? entry.uninstall_string
                                  : entry.quiet_uninstall_string;
  SplitCommandLine(stored, executable, arguments, names_file);
  if (executable->empty()) {
    LogNoExecutable(source, entry.display_name);
    return false;
  }
  // The line is rebuilt with the executable in quotes; a quote inside the path would end the
  // quoted part early and let the rest of the path run as separate words.
  if (executable->find('"') != std::string::npos) {
    LogQuoteInExecutable(source, entry.display_name);
    return false;
  }
  return true;
}

std::string QuotedCommandLine(const std::string& executable, const std::string& arguments) {
  return Trim("\"" + executable + "\" " + arguments);
}

// Windows Installer rows are always removed quietly and without a restart by product code,
// whatever the stored commands or the operator ask: the stored command of such a row is often
// the interactive "/I" maintenance dialogue.
void BuildMsiCommand(const UninstallEntry& entry, std::string_view msiexec_path,
                     UninstallCommand* command) {
  const std::string code = GetMsiProductCode(entry.key_name, entry.uninstall_string);
  if (code.empty()) {
    LogError("operation : BuildUninstallCommand; status : failure; remarks : \"MSI product "
             "code not found for %s\";",
             entry.display_name.c_str());
    return;
  }
  command->is_msi = true;
  command->product_code = code;
  command->executable = std::string(msiexec_path);
  command->arguments = "/X " + code + " /qn /norestart";
  command->command_line = "msiexec.exe " + command->arguments;
}

void BuildExecutableCommand(const UninstallEntry& entry, std::string_view exe_args,
                            const NamesFile& names_file, InstallerTechnology technology,
                            UninstallCommand* command) {
  std::string executable;
  std::string arguments;
  if (!exe_args.empty()) {
    // The operator's arguments replace the stored ones and belong to UninstallString's program,
    // even when a quiet command exists.
    if (!SplitStoredCommand(entry, StoredCommand::kUninstallString, names_file, &executable,
                            &arguments)) {
      return;
    }
    arguments = Trim(exe_args);
  } else if (HasSilentArguments(technology)) {
    // The publisher's own command, quiet one first, completed with what the tool that built the
    // uninstaller needs to stay silent.
    const StoredCommand source = entry.quiet_uninstall_string.empty()
                                     ? StoredCommand::kUninstallString
                                     : StoredCommand::kQuietUninstallString;
    if (!SplitStoredCommand(entry, source, names_file, &executable, &arguments)) return;
    arguments = AddSilentArguments(technology, arguments);
  } else if (!entry.quiet_uninstall_string.empty()) {
    if (!SplitStoredCommand(entry, StoredCommand::kQuietUninstallString, names_file, &executable,
                            &arguments)) {
      return;
    }
    // The publisher's quiet command is run as stored; it is only checked, never rebuilt.
    command->executable = executable;
    command->arguments = arguments;
    command->command_line = Trim(entry.quiet_uninstall_string);
    return;
  } else {
    if (!SplitStoredCommand(entry, StoredCommand::kUninstallString, names_file, &executable,
                            &arguments)) {
      return;
    }
    arguments = Trim(arguments + " " + ChooseSilentSwitch(entry.uninstall_string));
  }
  command->executable = executable;
  command->arguments = arguments;
  command->command_line = QuotedCommandLine(executable, arguments);
}

}  // namespace

UninstallCommand BuildUninstallCommand(const UninstallEntry& entry, std::string_view exe_args,
                                       std::string_view msiexec_path, const NamesFile& names_file,
                                       InstallerTechnology technology) {
  UninstallCommand command;
  command.per_user = IsPerUserRoot(entry.root);
  if (IsMsiEntry(entry)) {
    BuildMsiCommand(entry, msiexec_path, &command);
    return command;
  }
  if (entry.uninstall_string.empty() && entry.quiet_uninstall_string.empty()) {
    LogError("operation : BuildUninstallCommand; status : failure; remarks : \"UninstallString "
             "is empty for %s\";",
             entry.display_name.c_str());
    return command;
  }
  command.search_folders.push_back(entry.install_location);
  BuildExecutableCommand(entry, exe_args, names_file, technology, &command);
  return command;
}

}  // namespace varnok
