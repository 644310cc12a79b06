// A hostile registry through GetUninstallEntries: any local user can write the rows of their own
// hive (and installers write HKEY_LOCAL_MACHINE), so value types, sizes, missing terminators,
// embedded NULs, over-long names and failing keys must never crash the inventory, leak a key or
// produce a row the registry does not hold.
//
// The expected inventory is derived from a mirror of what the input stored, walked the way the
// inventory's contract describes, and compared with the real result field by field.
//
// Input layout (see make_seeds.py): all choice bytes come from the end, in the order they are
// read below; all texts (user hive names, row names, value names, value data) come from the
// start, each ended by a backslash and one more byte.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "common/strings.h"
#include "fuzz_check.h"
#include "inventory/inventory.h"
#include "support/host/fake_registry.h"

namespace varnok::fuzz {
namespace {

constexpr size_t kMaxText = 300;
constexpr size_t kHugeValue = 1u << 20;
// The inventory's enumeration buffers, terminator included: a registry key name has at most 255
// characters, and a longer row name is what a broken or hostile registry view would return.
constexpr size_t kRowNameBufferChars = 260;
constexpr size_t kUserNameBufferChars = 256;

const unsigned long kErrors[8] = {kErrorNoMoreItems,          kErrorMoreData,
                                  kErrorAccessDenied,         kErrorFileNotFound,
                                  kErrorInvalidHandle,        1018 /* key deleted */,
                                  kErrorInvalidParameterCode, 1450 /* no system resources */};
const unsigned long kTypes[8] = {kRegSz,       kRegSz,     kRegSz,    kRegSz,
                                 kRegExpandSz, kRegBinary, kRegDword, 7 /* REG_MULTI_SZ */};
const char* const kValueNames[7] = {"DisplayName",     "DisplayVersion",  "Publisher",
                                    "InstallLocation", "UninstallString", "QuietUninstallString",
                                    "WindowsInstaller"};
const std::string kSids[8] = {
    "S-1-5-21-1004336348-1177238915-682003330-1001",
    "S-1-5-21-1004336348-1177238915-682003330-1001_Classes",
    "s-1-5-21-7-8-9-500",
    "S-1-12-1-1234-5678-91011-1213",
    ".DEFAULT",
    "S-1-5-18",
    "S-1-5-21-" + std::string(kUserNameBufferChars - 1 - 9, '1'),  // fills the name buffer
    "S-1-5-21-" + std::string(kUserNameBufferChars - 9, '1'),      // one character too long
};
const char* const kRowNames[4] = {"{1B2C3D4E-5F60-4172-8394-A5B6C7D8E9F0}", "Contoso Tool",
                                  "Contoso Tool_is1", ""};

// The fake's addressing and key creation, repeated here so that the expectation never reads the
// registry through the code under test.
class Mirror {
 public:
  struct Value {
    unsigned long type;
    std::string bytes;
  };
  struct Key {
    std::vector<std::string> subkeys;
    std::map<std::string, Value> values;
    std::map<unsigned long, unsigned long> enum_errors;
  };
  using Address = std::tuple<RegistryRoot, RegistryView, std::string>;

  static Address Normalize(RegistryRoot root, RegistryView view, const std::string& path) {
    if (root != RegistryRoot::kLocalMachine || view == RegistryView::kDefault) {
      view = RegistryView::k64;
    }
    return {root, view, path};
  }

  Key& AddKey(RegistryRoot root, RegistryView view, const std::string& path) {
    const Address address = Normalize(root, view, path);
    if (keys_.count(address) == 0 && !path.empty()) {
      const size_t slash = path.rfind('\\');
      Key& parent = AddKey(root, view, slash == std::string::npos ? "" : path.substr(0, slash));
      parent.subkeys.push_back(slash == std::string::npos ? path : path.substr(slash + 1));
    }
    return keys_[address];
  }

  void FailOpen(RegistryRoot root, RegistryView view, const std::string& path,
                unsigned long error) {
    failures_[Normalize(root, view, path)] = error;
  }

  // Null when the key cannot be opened.
  const Key* Open(RegistryRoot root, RegistryView view, const std::string& path) const {
    const Address address = Normalize(root, view, path);
    if (failures_.count(address) != 0) return nullptr;
    const auto it = keys_.find(address);
    return it == keys_.end() ? nullptr : &it->second;
  }

 private:
  std::map<Address, Key> keys_;
  std::map<Address, unsigned long> failures_;
};

// Subkey names as an enumeration with a name buffer of `buffer_chars` returns them: a name that
// does not fit and an injected error skip one index; "no more items" ends the walk.
std::vector<std::string> Enumerate(const Mirror::Key& key, size_t buffer_chars, size_t* skipped) {
  std::vector<std::string> names;
  for (unsigned long index = 0;; ++index) {
    const auto error = key.enum_errors.find(index);
    if (error != key.enum_errors.end()) {
      if (error->second == kErrorNoMoreItems) break;
      ++*skipped;
      continue;
    }
    if (index >= key.subkeys.size()) break;
    if (key.subkeys[index].size() + 1 > buffer_chars) {
      ++*skipped;
      continue;
    }
    names.push_back(key.subkeys[index]);
  }
  return names;
}

// A value of more than 64 KiB is never read, whatever its type; the inventory names it in one
// INFO line.
bool TooLarge(const Mirror::Key& key, const char* name) {
  const auto it = key.values.find(name);
  return it != key.values.end() && it->second.bytes.size() > 65536;
}

// REG_SZ, and REG_EXPAND_SZ as well where `expand_sz` is given (set to whether it was one); the
// last stored byte is the terminator's place and the text ends at a NUL.
bool ExpectString(const Mirror::Key& key, const char* name, std::string* text,
                  bool* expand_sz = nullptr) {
  const auto it = key.values.find(name);
  if (it == key.values.end() || TooLarge(key, name)) return false;
  const unsigned long type = it->second.type;
  if (type != kRegSz && !(expand_sz && type == kRegExpandSz)) return false;
  if (expand_sz) *expand_sz = type == kRegExpandSz;
  const std::string& bytes = it->second.bytes;
  const size_t limit = bytes.empty() ? 0 : bytes.size() - 1;
  *text = bytes.substr(0, std::min(limit, bytes.find('\0')));
  return true;
}

bool ExpectPresent(const Mirror& mirror, const UninstallEntry& entry) {
  const Mirror::Key* row = mirror.Open(entry.root, ViewOf(entry.view_64bit), entry.registry_path);
  std::string display_name;
  return row && ExpectString(*row, "DisplayName", &display_name) && !display_name.empty();
}

bool ExpectWindowsInstaller(const Mirror::Key& key) {
  const auto it = key.values.find("WindowsInstaller");
  if (it == key.values.end() || TooLarge(key, "WindowsInstaller") || it->second.type != kRegDword) {
    return false;
  }
  const std::string& bytes = it->second.bytes;
  if (bytes.size() > 4) return false;
  unsigned long number = 0;
  for (size_t i = 0; i < bytes.size(); ++i) {
    number |= static_cast<unsigned long>(static_cast<unsigned char>(bytes[i])) << (8 * i);
  }
  return number == 1;
}

struct Location {
  RegistryRoot root;
  bool view_64bit;
  std::string arch;
  std::string prefix;
};

struct Expectation {
  std::vector<std::string> sids;
  std::vector<UninstallEntry> entries;
  size_t info_lines = 1;  // the entry-count line
};

std::vector<std::string> ExpectSids(const Mirror& mirror) {
  std::vector<std::string> sids;
  const Mirror::Key* users = mirror.Open(RegistryRoot::kUsers, RegistryView::kDefault, "");
  if (!users) return sids;
  size_t ignored = 0;
  for (const std::string& name : Enumerate(*users, kUserNameBufferChars, &ignored)) {
    const bool user = StartsWithNoCase(name, "S-1-5-21-") || StartsWithNoCase(name, "S-1-12-1-");
    if (user && name.find("_Classes") == std::string::npos) sids.push_back(name);
  }
  return sids;
}

void ExpectRows(const Mirror& mirror, const Location& location, Expectation* expected) {
  const std::string path = location.prefix + kUninstallKeyPath;
  const RegistryView view = ViewOf(location.view_64bit);
  const Mirror::Key* uninstall = mirror.Open(location.root, view, path);
  if (!uninstall) {
    ++expected->info_lines;
    return;
  }
  for (const std::string& name :
       Enumerate(*uninstall, kRowNameBufferChars, &expected->info_lines)) {
    // An empty name opens no row: Windows would reopen the Uninstall key itself.
    const Mirror::Key* row = name.empty() ? nullptr : mirror.Open(location.root, view, path + "\\" + name);
    if (!row) continue;
    UninstallEntry entry;
    if (TooLarge(*row, "DisplayName")) {
      ++expected->info_lines;
      continue;
    }
    if (!ExpectString(*row, "DisplayName", &entry.display_name) || entry.display_name.empty()) {
      continue;
    }
    for (const char* value : {"DisplayVersion", "Publisher", "InstallLocation", "UninstallString",
                              "QuietUninstallString", "WindowsInstaller"}) {
      expected->info_lines += TooLarge(*row, value) ? 1 : 0;
    }
    entry.root = location.root;
    entry.view_64bit = location.view_64bit;
    entry.arch = location.arch;
    entry.registry_path = path + "\\" + name;
    entry.key_name = name;
    ExpectString(*row, "DisplayVersion", &entry.display_version);
    ExpectString(*row, "Publisher", &entry.publisher);
    ExpectString(*row, "InstallLocation", &entry.install_location,
                 &entry.expand_sz.install_location);
    ExpectString(*row, "UninstallString", &entry.uninstall_string,
                 &entry.expand_sz.uninstall_string);
    ExpectString(*row, "QuietUninstallString", &entry.quiet_uninstall_string,
                 &entry.expand_sz.quiet_uninstall_string);
    entry.is_windows_installer = ExpectWindowsInstaller(*row);
    expected->entries.push_back(std::move(entry));
  }
}

Expectation Expect(const Mirror& mirror, bool running_as_system) {
  Expectation expected;
  expected.sids = ExpectSids(mirror);
  std::vector<Location> locations = {{RegistryRoot::kLocalMachine, true, "x64/native", ""},
                                     {RegistryRoot::kLocalMachine, false, "x86-on-x64", ""}};
  if (running_as_system) {
    for (const std::string& sid : expected.sids) {
      locations.push_back({RegistryRoot::kUsers, true, "per-user (" + sid + ")", sid + "\\"});
    }
  } else {
    locations.push_back({RegistryRoot::kCurrentUser, true, "per-user", ""});
  }
  for (const Location& location : locations) ExpectRows(mirror, location, &expected);
  return expected;
}

// Every write goes to the fake and to the mirror alike.
class Builder {
 public:
  testing::FakeRegistry fake;
  Mirror mirror;

  void AddKey(RegistryRoot root, RegistryView view, const std::string& path) {
    fake.AddKey(root, view, path);
    mirror.AddKey(root, view, path);
  }
  void SetRaw(RegistryRoot root, RegistryView view, const std::string& path,
              const std::string& name, unsigned long type, const std::string& bytes) {
    fake.SetRaw(root, view, path, name, type, bytes);
    mirror.AddKey(root, view, path).values[name] = Mirror::Value{type, bytes};
  }
  void FailOpen(RegistryRoot root, RegistryView view, const std::string& path,
                unsigned long error) {
    fake.FailOpen(root, view, path, error);
    mirror.FailOpen(root, view, path, error);
  }
  void FailEnum(RegistryRoot root, RegistryView view, const std::string& path, unsigned long index,
                unsigned long error) {
    fake.AddKey(root, view, path).enum_errors[index] = error;
    mirror.AddKey(root, view, path).enum_errors[index] = error;
  }
};

std::string Describe(const UninstallEntry& e) {
  return "root " + std::to_string(static_cast<int>(e.root)) + (e.view_64bit ? " 64 " : " 32 ") +
         Show(e.arch) + " " + Show(e.registry_path) + " name " + Show(e.display_name) +
         " version " + Show(e.display_version) + " publisher " + Show(e.publisher) + " location " +
         Show(e.install_location) + " uninstall " + Show(e.uninstall_string) + " quiet " +
         Show(e.quiet_uninstall_string) + " expand_sz " +
         std::to_string(e.expand_sz.install_location) +
         std::to_string(e.expand_sz.uninstall_string) +
         std::to_string(e.expand_sz.quiet_uninstall_string) + " msi " +
         std::to_string(e.is_windows_installer);
}

bool SameEntry(const UninstallEntry& a, const UninstallEntry& b) {
  return a.root == b.root && a.view_64bit == b.view_64bit && a.arch == b.arch &&
         a.registry_path == b.registry_path && a.key_name == b.key_name &&
         a.display_name == b.display_name && a.display_version == b.display_version &&
         a.publisher == b.publisher && a.install_location == b.install_location &&
         a.uninstall_string == b.uninstall_string &&
         a.quiet_uninstall_string == b.quiet_uninstall_string &&
         a.expand_sz.install_location == b.expand_sz.install_location &&
         a.expand_sz.uninstall_string == b.expand_sz.uninstall_string &&
         a.expand_sz.quiet_uninstall_string == b.expand_sz.quiet_uninstall_string &&
         a.is_windows_installer == b.is_windows_installer;
}

// What the input asks for, read in two passes: every choice byte first (from the end), then
// every text (from the start), so that a seed is readable text followed by its choices.
struct ValuePlan {
  uint8_t name_pick, type_pick, data_mode;
  std::string name, text;
};
struct RowPlan {
  uint8_t pick;
  std::vector<ValuePlan> values;
  std::string name;
};
struct LocationPlan {
  RegistryRoot root = RegistryRoot::kNone;
  bool view_64bit = false;
  bool hive = false;
  uint8_t pick = 0;  // bit 0 create, bits 1-3 open error, bit 4 enum error, bits 5-7 row count
  uint8_t sid_pick = 0, enum_index = 0, enum_error = 0;
  std::string sid;
  std::vector<RowPlan> rows;
};

LocationPlan PlanLocation(FuzzedDataProvider& input, RegistryRoot root, bool view_64bit,
                          bool hive) {
  LocationPlan plan;
  plan.root = root;
  plan.view_64bit = view_64bit;
  plan.hive = hive;
  plan.pick = input.ConsumeIntegral<uint8_t>();
  if (hive) plan.sid_pick = input.ConsumeIntegral<uint8_t>();
  if (plan.pick & 0x10) {
    plan.enum_index = input.ConsumeIntegral<uint8_t>();
    plan.enum_error = input.ConsumeIntegral<uint8_t>();
  }
  for (int r = 0; r < (plan.pick >> 5); ++r) {
    RowPlan row{input.ConsumeIntegral<uint8_t>(), {}, {}};
    for (int v = 0; v < (row.pick >> 5); ++v) {
      ValuePlan value{input.ConsumeIntegral<uint8_t>(),
                      input.ConsumeIntegral<uint8_t>(),
                      input.ConsumeIntegral<uint8_t>(),
                      {},
                      {}};
      row.values.push_back(value);
    }
    plan.rows.push_back(std::move(row));
  }
  return plan;
}

std::string Text(FuzzedDataProvider& input) { return input.ConsumeRandomLengthString(kMaxText); }

void ReadTexts(FuzzedDataProvider& input, LocationPlan* plan) {
  if (plan->hive) plan->sid = plan->sid_pick & 0x80 ? Text(input) : kSids[plan->sid_pick & 7];
  for (RowPlan& row : plan->rows) {
    // Bits 0-1: a known name, any text, or a name of 258 to 261 characters (bits 2-3) around
    // the end of the enumeration buffer.
    switch (row.pick & 3) {
      case 0:
        row.name = kRowNames[(row.pick >> 2) & 3];
        break;
      case 2:
        row.name = std::string(kRowNameBufferChars - 2 + ((row.pick >> 2) & 3), 'R');
        break;
      default:
        row.name = Text(input);
        break;
    }
    for (ValuePlan& value : row.values) {
      if ((value.name_pick & 7) == 7) value.name = Text(input);
      const int mode = value.data_mode & 7;
      if (mode != 2 && mode != 3) value.text = Text(input);
    }
  }
}

// Bits 0-2 of the mode: text with a terminator, without one, no bytes at all, a lone NUL, text
// padded to a megabyte (only with bits 4-7 all set; bit 3: terminated), or the text alone for
// the other modes. One megabyte value per input at most, and rarely, to keep the runs fast.
std::string ValueBytes(const ValuePlan& value, bool* huge_left) {
  switch (value.data_mode & 7) {
    case 0:
      return value.text + std::string(1, '\0');
    case 2:
      return std::string();
    case 3:
      return std::string(1, '\0');
    case 4: {
      if (!*huge_left || (value.data_mode & 0xF0) != 0xF0) return value.text + std::string(1, '\0');
      *huge_left = false;
      std::string bytes(kHugeValue, 'H');
      bytes.replace(0, value.text.size(), value.text);
      if (value.data_mode & 8) bytes += '\0';
      return bytes;
    }
    default:
      return value.text;
  }
}

void Apply(const LocationPlan& plan, Builder* builder, bool* huge_left) {
  const RegistryView view = ViewOf(plan.view_64bit);
  const std::string prefix = plan.hive ? plan.sid + "\\" : std::string();
  // A loaded hive is listed under HKEY_USERS even when it holds no Uninstall key.
  if (plan.hive) builder->AddKey(RegistryRoot::kUsers, RegistryView::kDefault, plan.sid);
  if (!(plan.pick & 1)) return;
  const std::string path = prefix + kUninstallKeyPath;
  builder->AddKey(plan.root, view, path);
  for (const RowPlan& row : plan.rows) {
    const std::string row_path = path + "\\" + row.name;
    builder->AddKey(plan.root, view, row_path);
    for (const ValuePlan& value : row.values) {
      const std::string name =
          (value.name_pick & 7) == 7 ? value.name : kValueNames[value.name_pick & 7];
      const unsigned long type =
          value.type_pick & 0x80 ? value.type_pick : kTypes[value.type_pick & 7];
      builder->SetRaw(plan.root, view, row_path, name, type, ValueBytes(value, huge_left));
    }
    if (row.pick & 0x10) builder->FailOpen(plan.root, view, row_path, kErrors[row.pick & 7]);
  }
  if (plan.pick & 0x10) {
    builder->FailEnum(plan.root, view, path, plan.enum_index & 15, kErrors[plan.enum_error & 7]);
  }
  // 0 would claim success without a key; every other code is a failure.
  if (plan.pick & 0x0E) builder->FailOpen(plan.root, view, path, kErrors[(plan.pick >> 1) & 7]);
}

void CheckLines(const Expectation& expected, size_t count) {
  const std::vector<testing::CapturedLine> lines = testing::TakeLogLines();
  FUZZ_CHECK_MSG(
      lines.size() == expected.info_lines,
      std::to_string(lines.size()) + " lines, expected " + std::to_string(expected.info_lines));
  FUZZ_CHECK(CountLevel(lines, LogLevel::kError) == 0);
  // Counted by the record's own key, which starts the line: a hive or row name may hold any
  // text, "entry_count" included, inside its quotes.
  const std::string closing =
      "operation : GetUninstallEntries; remarks : \"Registry uninstall entries loaded.\"; "
      "entry_count : ";
  size_t count_lines = 0;
  for (const testing::CapturedLine& line : lines) {
    FUZZ_CHECK_MSG(!HasLineBreak(line.message), Show(line.message));
    count_lines += StartsWith(line.message, closing) ? 1 : 0;
  }
  FUZZ_CHECK(count_lines == 1);
  FUZZ_CHECK_MSG(lines.back().message ==
                     "operation : GetUninstallEntries; remarks : \"Registry uninstall entries "
                     "loaded.\"; entry_count : " +
                         std::to_string(count) + ";",
                 Show(lines.back().message));
}

// Flags byte: bit 0 running as LocalSystem, bits 1-2 how many user hives. After the locations,
// the HKEY_USERS byte: bit 0 an enumeration error at index bits 1-3, bit 7 opening fails; bits
// 4-6 pick the error. Returns whether the run is LocalSystem's.
bool BuildRegistry(FuzzedDataProvider& input, Builder* builder) {
  const uint8_t flags = input.ConsumeIntegral<uint8_t>();
  std::vector<LocationPlan> plans;
  plans.push_back(PlanLocation(input, RegistryRoot::kLocalMachine, true, false));
  plans.push_back(PlanLocation(input, RegistryRoot::kLocalMachine, false, false));
  plans.push_back(PlanLocation(input, RegistryRoot::kCurrentUser, true, false));
  for (int i = 0; i < ((flags >> 1) & 3); ++i) {
    plans.push_back(PlanLocation(input, RegistryRoot::kUsers, true, true));
  }
  const uint8_t users_pick = input.ConsumeIntegral<uint8_t>();
  for (LocationPlan& plan : plans) ReadTexts(input, &plan);

  bool huge_left = true;
  for (const LocationPlan& plan : plans) Apply(plan, builder, &huge_left);
  const unsigned long users_error = kErrors[(users_pick >> 4) & 7];
  if (users_pick & 1) {
    builder->FailEnum(RegistryRoot::kUsers, RegistryView::kDefault, "", (users_pick >> 1) & 7,
                      users_error);
  }
  if (users_pick & 0x80) {
    builder->FailOpen(RegistryRoot::kUsers, RegistryView::kDefault, "", users_error);
  }
  return flags & 1;
}

void CheckEntries(const std::vector<UninstallEntry>& entries, const Expectation& expected,
                  bool running_as_system) {
  for (const UninstallEntry& entry : entries) {
    FUZZ_CHECK_MSG(!entry.display_name.empty(), Describe(entry));
    for (const std::string* text :
         {&entry.display_name, &entry.display_version, &entry.publisher, &entry.install_location,
          &entry.uninstall_string, &entry.quiet_uninstall_string}) {
      FUZZ_CHECK_MSG(text->find('\0') == std::string::npos, Describe(entry));
    }
    FUZZ_CHECK_MSG(running_as_system ? entry.root != RegistryRoot::kCurrentUser
                                     : entry.root != RegistryRoot::kUsers,
                   Describe(entry));
  }
  FUZZ_CHECK_MSG(entries.size() == expected.entries.size(),
                 std::to_string(entries.size()) + " rows, expected " +
                     std::to_string(expected.entries.size()));
  for (size_t i = 0; i < entries.size(); ++i) {
    FUZZ_CHECK_MSG(SameEntry(entries[i], expected.entries[i]),
                   "row " + std::to_string(i) + ": " + Describe(entries[i]) + "\n  expected " +
                       Describe(expected.entries[i]));
  }
}

// A row just read is still there; the same row one level deeper is there only when that key has
// a DisplayName of its own; a row without a root never is.
void CheckPresence(Builder& builder, const std::vector<UninstallEntry>& entries) {
  testing::FakeRegistry& fake = builder.fake;
  for (const UninstallEntry& entry : entries) {
    FUZZ_CHECK_MSG(IsUninstallEntryPresent(fake, entry), Describe(entry));
    UninstallEntry deeper = entry;
    deeper.registry_path += "\\" + entry.key_name;
    FUZZ_CHECK_MSG(IsUninstallEntryPresent(fake, deeper) == ExpectPresent(builder.mirror, deeper),
                   Describe(deeper));
  }
  UninstallEntry rootless;
  rootless.registry_path =
      entries.empty() ? std::string(kUninstallKeyPath) : entries[0].registry_path;
  FUZZ_CHECK(!IsUninstallEntryPresent(fake, rootless));
}

}  // namespace
}  // namespace varnok::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace varnok;
  using namespace varnok::fuzz;
  FuzzedDataProvider input(data, size);
  Builder builder;
  const bool running_as_system = BuildRegistry(input, &builder);
  const Expectation expected = Expect(builder.mirror, running_as_system);

  testing::TakeLogLines();
  FUZZ_CHECK(GetUserProfileSids(builder.fake) == expected.sids);
  FUZZ_CHECK(builder.fake.open_keys() == 0);
  const std::vector<UninstallEntry> entries = GetUninstallEntries(builder.fake, running_as_system);
  FUZZ_CHECK_MSG(builder.fake.open_keys() == 0, std::to_string(builder.fake.open_keys()));
  CheckLines(expected, entries.size());
  CheckEntries(entries, expected, running_as_system);
  CheckPresence(builder, entries);
  FUZZ_CHECK(builder.fake.open_keys() == 0);
  testing::TakeLogLines();
  return 0;
}
