// REG_EXPAND_SZ command values of a row: which ones still hold variables, what an expansion must
// look like before anything may judge or run it, and the expansion itself behind a narrow
// interface (the Win32 call in the program, a fake in host tests).
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "inventory/registry_source.h"
#include "inventory/uninstall_entry.h"

namespace varnok {

constexpr unsigned long kErrorEnvvarNotFound = 203;  // ERROR_ENVVAR_NOT_FOUND

// Whose environment a row's variables are expanded in.
struct ExpansionEnvironment {
  enum class Owner {
    kSystem,       // the system's variables only, never a user's
    kProcessUser,  // the user this program runs as
    kSessionUser,  // the user of a session (LocalSystem only)
  };
  Owner owner = Owner::kSystem;
  unsigned long session_id = 0;  // kSessionUser only
};

// One text as the expansion left it.
struct ExpandedText {
  unsigned long error = kErrorSuccess;  // Win32 error; kErrorValueTooLarge: it did not fit
  std::string text;                     // empty unless error is kErrorSuccess
};

class ValueExpander {
 public:
  virtual ~ValueExpander() = default;
  // Each of `texts` (ANSI code page) expanded in `environment`: one result per text, in order.
  // A failed result carries a Win32 error other than 0; a text that cannot be written in the
  // ANSI code page without loss fails rather than coming back altered.
  virtual std::vector<ExpandedText> Expand(const ExpansionEnvironment& environment,
                                           const std::vector<std::string>& texts) = 0;
};

// A command value of a row that still holds its raw REG_EXPAND_SZ text.
struct ExpandSzValue {
  const char* name;    // "InstallLocation", "UninstallString" or "QuietUninstallString"
  std::string* field;  // the entry's field
  bool* expand_sz;     // the entry's flag, to clear once the field holds the expansion
};

// The entry's values still flagged REG_EXPAND_SZ, in the order InstallLocation,
// UninstallString, QuietUninstallString; empty for a row stored as REG_SZ only.
std::vector<ExpandSzValue> ExpandSzValuesOf(UninstallEntry* entry);

enum class ExpansionVerdict {
  kUsable,
  kFailed,        // the expansion reported an error
  kTooLarge,      // with its terminator, more than kMaxRegistryValueBytes
  kVariableLeft,  // still holds a "%"
};

// Whether an expanded text may stand in for its value. A "%" that survives is refused, paired or
// not: Windows leaves an undefined variable in place, and depending on how it pairs the signs
// the remnant keeps one or both of them, so a path with either would be a guess.
ExpansionVerdict JudgeExpansion(const ExpandedText& expanded);

// `text` with the references %ProgramFiles% and %CommonProgramFiles% (names in any case) renamed
// to %ProgramW6432% and %CommonProgramW6432%, the variables that hold the 64-bit folders
// whichever program reads them: this 32-bit program's own names reach the 32-bit folders under
// WOW64, as its System32 does. References pair their signs left to right.
std::string WithNativeProgramFolders(std::string_view text);

}  // namespace varnok
