// Which tool built an executable uninstaller, told from its row and its file, and the silent
// arguments that tool's uninstallers take. A generic switch guessed from the command's shape is
// ignored by most of them: NSIS wants "/S" and nothing else, Inno Setup still asks its vendor's
// questions unless message boxes are suppressed, and a WiX Burn bundle shows its full interface
// unless told to be quiet.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "inventory/uninstall_entry.h"

namespace varnok {

enum class InstallerTechnology { kUnknown, kInnoSetup, kNsis, kBurn, kSquirrel, kInstallShield };

// "Inno Setup", "NSIS", "WiX Burn", "Squirrel", "InstallShield"; empty for kUnknown.
const char* TechnologyName(InstallerTechnology technology);

// The uninstaller's side of the disk, read-only, reached as the row's files are.
class UninstallerFiles {
 public:
  virtual ~UninstallerFiles() = default;
  virtual bool IsFile(const std::string& path) = 0;
  // At most `max_bytes` from the start of the file; empty when it cannot be read.
  virtual std::string ReadHead(const std::string& path, size_t max_bytes) = 0;
};

struct RecognizedTechnology {
  InstallerTechnology technology = InstallerTechnology::kUnknown;
  std::string evidence;  // what gave it away, as the log says it
};

// The longest start of an uninstaller that is read for its marker.
constexpr size_t kUninstallerHeadBytes = 4 * 1024 * 1024;

// Walks the clues in order, cheapest first: the row's key name and value names (`value_names`),
// then its stored commands, then the file that will run (`uninstaller`, empty when none was
// found), which is read only when nothing before has decided. The first clue that holds decides.
RecognizedTechnology RecognizeTechnology(const UninstallEntry& entry,
                                         const std::vector<std::string>& value_names,
                                         const std::string& uninstaller, UninstallerFiles& files);

// True when `head` holds NSIS's data header at a 512-byte boundary, where its loader looks for
// it: four flag bytes, 0xDEADBEEF and "NullsoftInst".
bool HoldsNsisMarker(std::string_view head);

// True when the technology's uninstallers have silent arguments of their own.
bool HasSilentArguments(InstallerTechnology technology);

// `stored` (blanks at its ends dropped) with the technology's silent arguments that it lacks
// appended (NSIS's "/S" goes before
// a "_?=" argument, which must come last); what it carries stays and nothing is doubled. Unchanged
// for a technology without silent arguments.
std::string AddSilentArguments(InstallerTechnology technology, std::string_view stored);

// The arguments' words: blank-separated, a double-quoted stretch staying within its word.
std::vector<std::string> ArgumentWords(std::string_view arguments);

}  // namespace varnok
