#include "uninstall/installer_technology.h"

#include <algorithm>
#include <utility>

#include "common/strings.h"
#include "uninstall/classify.h"

namespace varnok {
namespace {

using Technology = InstallerTechnology;

enum class Clue {
  kKeyNameEnds,        // the row's key name ends with `text`
  kValueNameBegins,    // one of the row's value names begins with `text`
  kValueName,          // the row has a value named `text`
  kExecutableAndWord,  // a stored command runs a file named `text` with the word `word`
  kWord,               // a stored command's arguments carry the word `text`
  kCommandHolds,       // a stored command holds `text`
  kExecutableHolds,    // a stored command's executable path holds `text`
  kDataBeside,         // the uninstaller is unins<digits>.exe with its .dat beside it
  kNsisMarker,         // the uninstaller holds NSIS's marker
};

struct ClueRow {
  Technology technology;
  Clue clue;
  const char* text;
  const char* word;
  const char* evidence;  // nullptr: composed from what was found
};

// Cheapest first: the registry, then the commands, then the disk. Every text compares without
// regard to ASCII case, as Windows compares registry and file names.
constexpr ClueRow kClues[] = {
    {Technology::kInnoSetup, Clue::kKeyNameEnds, "_is1", nullptr,
     "the row's key name ends with _is1"},
    {Technology::kInnoSetup, Clue::kValueNameBegins, "Inno Setup:", nullptr,
     "the row has Inno Setup: values"},
    {Technology::kBurn, Clue::kValueName, "BundleProviderKey", nullptr,
     "the row has a BundleProviderKey value"},
    {Technology::kBurn, Clue::kValueName, "BundleUpgradeCode", nullptr,
     "the row has a BundleUpgradeCode value"},
    {Technology::kBurn, Clue::kValueName, "BundleCachePath", nullptr,
     "the row has a BundleCachePath value"},
    {Technology::kSquirrel, Clue::kExecutableAndWord, "update.exe", "--uninstall",
     "the command is Update.exe --uninstall"},
    {Technology::kInstallShield, Clue::kCommandHolds, "InstallShield Installation Information",
     nullptr, "the command runs from InstallShield Installation Information"},
    {Technology::kInstallShield, Clue::kWord, "-runfromtemp", nullptr,
     "the command carries -runfromtemp"},
    {Technology::kInstallShield, Clue::kWord, "-removeonly", nullptr,
     "the command carries -removeonly"},
    // electron-builder's per-user and per-machine NSIS uninstallers.
    {Technology::kNsis, Clue::kWord, "/currentuser", nullptr,
     "the command carries electron-builder's /currentuser"},
    {Technology::kNsis, Clue::kWord, "/allusers", nullptr,
     "the command carries electron-builder's /allusers"},
    {Technology::kBurn, Clue::kExecutableHolds, "\\Package Cache\\{", nullptr,
     "the uninstaller lies in a Package Cache folder"},
    {Technology::kInnoSetup, Clue::kDataBeside, nullptr, nullptr, nullptr},
    {Technology::kNsis, Clue::kNsisMarker, nullptr, nullptr,
     "the uninstaller holds the NSIS marker"},
};

// One switch and the words an uninstaller takes for it; the first is the one added.
struct SilentSwitch {
  const char* words[6];
  bool exact_case;
};

struct SilentArguments {
  Technology technology;
  SilentSwitch switches[3];
};

constexpr SilentArguments kSilentArguments[] = {
    {Technology::kInnoSetup,
     {{{"/VERYSILENT", "-VERYSILENT"}, false},
      {{"/SUPPRESSMSGBOXES", "-SUPPRESSMSGBOXES"}, false},
      {{"/NORESTART", "-NORESTART"}, false}}},
    // NSIS compares its switch case-sensitively: a stored "/s" is not it.
    {Technology::kNsis, {{{"/S"}, true}}},
    {Technology::kBurn,
     {{{"/uninstall", "-uninstall"}, false},
      {{"/quiet", "-quiet", "/q", "-q", "/silent", "-silent"}, false},
      {{"/norestart", "-norestart"}, false}}},
    {Technology::kSquirrel, {{{"--uninstall"}, false}, {{"-s", "--silent"}, true}}},
};

const SilentArguments* SilentArgumentsOf(Technology technology) {
  for (const SilentArguments& row : kSilentArguments) {
    if (row.technology == technology) return &row;
  }
  return nullptr;
}

// Where each word of `arguments` begins and ends. `open_quote` (when given) is set to where the
// word begins whose quote is never closed, which runs to the end; npos when there is none.
std::vector<std::pair<size_t, size_t>> WordSpans(std::string_view arguments,
                                                 size_t* open_quote = nullptr) {
  std::vector<std::pair<size_t, size_t>> spans;
  if (open_quote) *open_quote = std::string_view::npos;
  size_t i = 0;
  while (i < arguments.size()) {
    while (i < arguments.size() && IsBlank(arguments[i])) ++i;
    if (i == arguments.size()) break;
    const size_t begin = i;
    bool quoted = false;
    for (; i < arguments.size() && (quoted || !IsBlank(arguments[i])); ++i) {
      if (arguments[i] == '"') quoted = !quoted;
    }
    if (quoted && open_quote) *open_quote = begin;
    spans.emplace_back(begin, i);
  }
  return spans;
}

// Without the blanks at either end; any other character belongs to a word.
std::string StripBlanks(std::string_view text) {
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && IsBlank(text[begin])) ++begin;
  while (end > begin && IsBlank(text[end - 1])) --end;
  return std::string(text.substr(begin, end - begin));
}

bool HasWord(const std::vector<std::string>& words, std::string_view wanted, bool exact_case) {
  for (const std::string& word : words) {
    if (exact_case ? word == wanted : EqualsNoCase(word, wanted)) return true;
  }
  return false;
}

// A stored command as the recogniser reads it.
struct StoredCommand {
  std::string text;
  std::string executable;
  std::vector<std::string> words;
};

std::vector<StoredCommand> StoredCommands(const UninstallEntry& entry) {
  std::vector<StoredCommand> commands;
  for (const std::string* text : {&entry.uninstall_string, &entry.quiet_uninstall_string}) {
    if (text->empty()) continue;
    StoredCommand command;
    command.text = *text;
    std::string arguments;
    SplitCommandLine(*text, &command.executable, &arguments);
    command.words = ArgumentWords(arguments);
    commands.push_back(std::move(command));
  }
  return commands;
}

// Inno Setup's uninstaller reads its log, unins000.dat, from beside itself.
std::string InnoDataBeside(const std::string& uninstaller, UninstallerFiles& files) {
  const std::string name = GetFileName(uninstaller);
  if (name.size() < 9 || !StartsWithNoCase(name, "unins") || !EndsWithNoCase(name, ".exe")) {
    return std::string();
  }
  for (size_t i = 5; i + 4 < name.size(); ++i) {
    if (!IsAsciiDigit(name[i])) return std::string();
  }
  const std::string data = uninstaller.substr(0, uninstaller.size() - 4) + ".dat";
  if (!files.IsFile(data)) return std::string();
  return GetFileName(data) + " lies beside " + name;
}

class ClueReader {
 public:
  ClueReader(const UninstallEntry& entry, const std::vector<std::string>& value_names,
             const std::string& uninstaller, UninstallerFiles& files)
      : entry_(entry),
        value_names_(value_names),
        uninstaller_(uninstaller),
        files_(files),
        commands_(StoredCommands(entry)) {}

  // The evidence when the clue holds, else empty.
  std::string Read(const ClueRow& row) {
    return Holds(row) ? (row.evidence ? row.evidence : composed_) : std::string();
  }

 private:
  bool Holds(const ClueRow& row) {
    switch (row.clue) {
      case Clue::kKeyNameEnds: return EndsWithNoCase(entry_.key_name, row.text);
      case Clue::kValueNameBegins:
      case Clue::kValueName:
        for (const std::string& name : value_names_) {
          if (row.clue == Clue::kValueName ? EqualsNoCase(name, row.text)
                                           : StartsWithNoCase(name, row.text)) {
            return true;
          }
        }
        return false;
      case Clue::kExecutableAndWord:
      case Clue::kWord:
      case Clue::kCommandHolds:
      case Clue::kExecutableHolds:
        for (const StoredCommand& command : commands_) {
          if (CommandHolds(row, command)) return true;
        }
        return false;
      case Clue::kDataBeside:
        if (uninstaller_.empty()) return false;
        composed_ = InnoDataBeside(uninstaller_, files_);
        return !composed_.empty();
      case Clue::kNsisMarker:
        return !uninstaller_.empty() &&
               HoldsNsisMarker(files_.ReadHead(uninstaller_, kUninstallerHeadBytes));
    }
    return false;
  }

  static bool CommandHolds(const ClueRow& row, const StoredCommand& command) {
    switch (row.clue) {
      case Clue::kExecutableAndWord:
        return EqualsNoCase(GetFileName(command.executable), row.text) &&
               HasWord(command.words, row.word, false);
      case Clue::kWord: return HasWord(command.words, row.text, false);
      case Clue::kCommandHolds: return ContainsNoCase(command.text, row.text);
      case Clue::kExecutableHolds: return ContainsNoCase(command.executable, row.text);
      default: return false;
    }
  }

  const UninstallEntry& entry_;
  const std::vector<std::string>& value_names_;
  const std::string& uninstaller_;
  UninstallerFiles& files_;
  std::vector<StoredCommand> commands_;
  std::string composed_;
};

}  // namespace

const char* TechnologyName(InstallerTechnology technology) {
  switch (technology) {
    case Technology::kInnoSetup: return "Inno Setup";
    case Technology::kNsis: return "NSIS";
    case Technology::kBurn: return "WiX Burn";
    case Technology::kSquirrel: return "Squirrel";
    case Technology::kInstallShield: return "InstallShield";
    case Technology::kUnknown: break;
  }
  return "";
}

RecognizedTechnology RecognizeTechnology(const UninstallEntry& entry,
                                         const std::vector<std::string>& value_names,
                                         const std::string& uninstaller, UninstallerFiles& files) {
  ClueReader reader(entry, value_names, uninstaller, files);
  for (const ClueRow& row : kClues) {
    std::string evidence = reader.Read(row);
    if (!evidence.empty()) return {row.technology, std::move(evidence)};
  }
  return {};
}

bool HoldsNsisMarker(std::string_view head) {
  constexpr std::string_view kSignature("\xEF\xBE\xAD\xDE" "NullsoftInst", 16);
  constexpr size_t kFlagBytes = 4;
  for (size_t at = 0; at + kFlagBytes + kSignature.size() <= head.size(); at += 512) {
    if (head.substr(at + kFlagBytes, kSignature.size()) == kSignature) return true;
  }
  return false;
}

bool HasSilentArguments(InstallerTechnology technology) {
  return SilentArgumentsOf(technology) != nullptr;
}

std::vector<std::string> ArgumentWords(std::string_view arguments) {
  std::vector<std::string> words;
  for (const auto& [begin, end] : WordSpans(arguments)) {
    words.emplace_back(arguments.substr(begin, end - begin));
  }
  return words;
}

std::string AddSilentArguments(InstallerTechnology technology, std::string_view stored) {
  const SilentArguments* silent = SilentArgumentsOf(technology);
  if (!silent) return StripBlanks(stored);
  // Added words go before a quote that is never closed, which would take them in, and before
  // NSIS's "_?=": NSIS takes everything after it as its folder.
  size_t tail = stored.size();
  for (const auto& [begin, end] : WordSpans(stored, &tail)) {
    if (technology == Technology::kNsis && stored.substr(begin, 3) == "_?=") {
      tail = std::min(tail, begin);
      break;
    }
  }
  if (tail == std::string_view::npos) tail = stored.size();
  const std::vector<std::string> words = ArgumentWords(stored.substr(0, tail));
  std::string added;
  for (const SilentSwitch& option : silent->switches) {
    if (!option.words[0]) continue;
    bool present = false;
    for (const char* word : option.words) {
      if (word && HasWord(words, word, option.exact_case)) present = true;
    }
    if (!present) added += std::string(added.empty() ? "" : " ") + option.words[0];
  }
  std::string result = StripBlanks(stored.substr(0, tail));
  for (const std::string& part : {added, StripBlanks(stored.substr(tail))}) {
    if (!part.empty()) result += (result.empty() ? "" : " ") + part;
  }
  return result;
}

}  // namespace varnok
