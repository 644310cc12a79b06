#include "uninstall/installer_technology.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "uninstall/uninstall_command.h"

namespace varnok {
namespace {

// An NSIS data header at the first 512-byte boundary after a stub, as makensis writes it.
std::string NsisBytes(bool uninstaller) {
  std::string bytes = "MZ" + std::string(1022, '\x90');
  bytes += std::string(uninstaller ? "\x01\0\0\0" : "\0\0\0\0", 4);
  bytes += std::string("\xEF\xBE\xAD\xDE" "NullsoftInst", 16);
  return bytes + std::string(100, '\0');
}

class FakeFiles : public UninstallerFiles {
 public:
  std::map<std::string, std::string> files;
  std::vector<std::string> reads;
  bool IsFile(const std::string& path) override {
    reads.push_back("exists " + path);
    return files.count(path) != 0;
  }
  std::string ReadHead(const std::string& path, size_t max_bytes) override {
    reads.push_back("head " + path);
    const auto it = files.find(path);
    return it == files.end() ? std::string() : it->second.substr(0, max_bytes);
  }
};

struct Case {
  const char* what;
  std::string key_name;
  std::vector<std::string> value_names;
  std::string uninstall_string;
  std::string quiet_uninstall_string;
  std::map<std::string, std::string> files;
  std::string uninstaller;  // the file that will run
  // Expected.
  std::string technology;
  std::string evidence;
  std::string command_line;
};

const std::string kPf86 = "C:\\Program Files (x86)";
const std::string kCache = "C:\\ProgramData\\Package Cache\\{0A1B2C3D-1111-2222-3333-444455556666}";
const std::string kBobApps = "C:\\Users\\bob\\AppData\\Local";

TEST(InstallerTechnology, RealWorldRowsGetTheirToolsSilentArguments) {
  const std::string inno = kPf86 + "\\Tailwind Notes\\unins000.exe";
  const std::string wizard = kPf86 + "\\Litware Reader\\uninst.exe";
  const std::string electron = kBobApps + "\\Programs\\chatter\\Uninstall Chatter.exe";
  const std::string shield =
      kPf86 + "\\InstallShield Installation Information\\{9A8B7C6D-1111-2222-3333-444455556666}"
              "\\setup.exe";
  const Case cases[] = {
      {"Inno Setup as it registers itself: its quiet string completed",
       "TailwindNotes_is1", {"DisplayName", "Inno Setup: App Path"}, "\"" + inno + "\"",
       "\"" + inno + "\" /SILENT", {}, inno, "Inno Setup", "the row's key name ends with _is1",
       "\"" + inno + "\" /SILENT /VERYSILENT /SUPPRESSMSGBOXES /NORESTART"},
      {"Inno Setup told by its values", "Tailwind Notes", {"Inno Setup: Setup Version"},
       "\"" + inno + "\" /norestart", "", {}, inno, "Inno Setup", "the row has Inno Setup: values",
       "\"" + inno + "\" /norestart /VERYSILENT /SUPPRESSMSGBOXES"},
      {"Inno Setup told by the log beside its uninstaller", "Tailwind Notes", {},
       "\"" + inno + "\"", "", {{kPf86 + "\\Tailwind Notes\\unins000.dat", ""}}, inno,
       "Inno Setup", "unins000.dat lies beside unins000.exe",
       "\"" + inno + "\" /VERYSILENT /SUPPRESSMSGBOXES /NORESTART"},
      {"the NSIS wizard's layout: unquoted, no quiet string", "Litware Reader", {}, wizard, "",
       {{wizard, NsisBytes(true)}}, wizard, "NSIS", "the uninstaller holds the NSIS marker",
       "\"" + wizard + "\" /S"},
      {"NSIS compares /S case-sensitively", "Litware Reader", {}, "\"" + wizard + "\" /s", "",
       {{wizard, NsisBytes(true)}}, wizard, "NSIS", "the uninstaller holds the NSIS marker",
       "\"" + wizard + "\" /s /S"},
      {"NSIS takes everything after _?= as its folder", "Litware Reader", {},
       "\"" + wizard + "\" _?=" + kPf86 + "\\Litware Reader", "", {{wizard, NsisBytes(true)}},
       wizard, "NSIS", "the uninstaller holds the NSIS marker",
       "\"" + wizard + "\" /S _?=" + kPf86 + "\\Litware Reader"},
      {"electron-builder's per-user NSIS row", "chatter-1234", {},
       "\"" + electron + "\" /currentuser", "\"" + electron + "\" /currentuser /S", {}, electron,
       "NSIS", "the command carries electron-builder's /currentuser",
       "\"" + electron + "\" /currentuser /S"},
      {"a Burn bundle told by its values", "{0A1B2C3D-1111-2222-3333-444455556666}",
       {"BundleCachePath", "BundleProviderKey", "BundleUpgradeCode"},
       "\"" + kCache + "\\contoso.exe\"  /uninstall", "", {}, kCache + "\\contoso.exe", "WiX Burn",
       "the row has a BundleProviderKey value",
       "\"" + kCache + "\\contoso.exe\" /uninstall /quiet /norestart"},
      {"a Burn bundle's own quiet words count", "Contoso", {},
       "\"" + kCache + "\\contoso.exe\" -uninstall -q", "", {}, kCache + "\\contoso.exe",
       "WiX Burn", "the uninstaller lies in a Package Cache folder",
       "\"" + kCache + "\\contoso.exe\" -uninstall -q /norestart"},
      {"Squirrel", "chatter", {}, "\"" + kBobApps + "\\Chatter\\Update.exe\" --uninstall", "", {},
       kBobApps + "\\Chatter\\Update.exe", "Squirrel", "the command is Update.exe --uninstall",
       "\"" + kBobApps + "\\Chatter\\Update.exe\" --uninstall -s"},
      {"InstallShield keeps the generic switch", "{9A8B7C6D-1111-2222-3333-444455556666}", {},
       "\"" + shield + "\" -runfromtemp -l0x0409 -removeonly", "", {}, shield, "InstallShield",
       "the command runs from InstallShield Installation Information",
       "\"" + shield + "\" -runfromtemp -l0x0409 -removeonly /s"},
      {"nothing known: the generic rule", "Contoso", {"DisplayName"},
       "\"C:\\Program Files\\Contoso\\remove.exe\" /x", "",
       {{"C:\\Program Files\\Contoso\\remove.exe", NsisBytes(true).substr(0, 1030)}},
       "C:\\Program Files\\Contoso\\remove.exe", "", "",
       "\"C:\\Program Files\\Contoso\\remove.exe\" /x /S"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    UninstallEntry entry;
    entry.root = RegistryRoot::kLocalMachine;
    entry.key_name = c.key_name;
    entry.display_name = "Product";
    entry.uninstall_string = c.uninstall_string;
    entry.quiet_uninstall_string = c.quiet_uninstall_string;
    FakeFiles files;
    files.files = c.files;
    const RecognizedTechnology found =
        RecognizeTechnology(entry, c.value_names, c.uninstaller, files);
    EXPECT_EQ(TechnologyName(found.technology), c.technology);
    EXPECT_EQ(found.evidence, c.evidence);
    const UninstallCommand command =
        BuildUninstallCommand(entry, "", "C:\\Windows\\system32\\msiexec.exe", nullptr,
                              found.technology);
    EXPECT_EQ(command.command_line, c.command_line);
  }
}

TEST(InstallerTechnology, TheFileIsReadOnlyWhenTheRowSaysNothing) {
  const std::string exe = "C:\\App\\unins000.exe";
  UninstallEntry entry;
  entry.key_name = "App_is1";
  entry.uninstall_string = "\"" + exe + "\"";
  FakeFiles files;
  files.files[exe] = NsisBytes(true);
  EXPECT_EQ(RecognizeTechnology(entry, {}, exe, files).technology,
            InstallerTechnology::kInnoSetup);
  EXPECT_TRUE(files.reads.empty());

  entry.key_name = "App";
  EXPECT_EQ(RecognizeTechnology(entry, {}, exe, files).technology, InstallerTechnology::kNsis);
  EXPECT_EQ(files.reads, (std::vector<std::string>{"exists C:\\App\\unins000.dat", "head " + exe}));
  // With no file found, nothing is read at all.
  files.reads.clear();
  EXPECT_EQ(RecognizeTechnology(entry, {}, "", files).technology, InstallerTechnology::kUnknown);
  EXPECT_TRUE(files.reads.empty());
}

TEST(InstallerTechnology, SilentArgumentsAreAddedOnceAndInTheirPlace) {
  struct Row {
    InstallerTechnology technology;
    std::string stored, expected;
  };
  const Row rows[] = {
      {InstallerTechnology::kInnoSetup, "", "/VERYSILENT /SUPPRESSMSGBOXES /NORESTART"},
      {InstallerTechnology::kInnoSetup, "/verysilent /LOG=\"C:\\x y.txt\"",
       "/verysilent /LOG=\"C:\\x y.txt\" /SUPPRESSMSGBOXES /NORESTART"},
      {InstallerTechnology::kInnoSetup, "-SUPPRESSMSGBOXES -NoRestart -VERYSILENT",
       "-SUPPRESSMSGBOXES -NoRestart -VERYSILENT"},
      {InstallerTechnology::kNsis, "/S", "/S"},
      {InstallerTechnology::kNsis, "/SD", "/SD /S"},
      {InstallerTechnology::kNsis, "_?=C:\\My App", "/S _?=C:\\My App"},
      {InstallerTechnology::kNsis, "/S _?=C:\\My App", "/S _?=C:\\My App"},
      {InstallerTechnology::kNsis, "/D=\"_?=x\"", "/D=\"_?=x\" /S"},
      {InstallerTechnology::kInnoSetup, "/LOG=\"C:\\x /NORESTART", "/VERYSILENT /SUPPRESSMSGBOXES /NORESTART /LOG=\"C:\\x /NORESTART"},
      {InstallerTechnology::kBurn, "/passive", "/passive /uninstall /quiet /norestart"},
      {InstallerTechnology::kBurn, "/UNINSTALL /Quiet", "/UNINSTALL /Quiet /norestart"},
      {InstallerTechnology::kSquirrel, "--uninstall", "--uninstall -s"},
      {InstallerTechnology::kSquirrel, "--uninstall -S", "--uninstall -S -s"},
      {InstallerTechnology::kInstallShield, " -removeonly ", "-removeonly"},
  };
  for (const Row& r : rows) {
    EXPECT_EQ(AddSilentArguments(r.technology, r.stored), r.expected) << r.stored;
  }
}

std::string ReadCorpus(const std::string& relative) {
  std::ifstream in(std::string(VARNOK_CORPUS_DIR) + "/" + relative, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(InstallerTechnology, TheNsisMarkerIsFoundInRealUninstallersOnly) {
  if (ReadCorpus("README.md").empty()) GTEST_SKIP() << "no corpus at " << VARNOK_CORPUS_DIR;
  struct Row {
    const char* file;
    bool nsis;
  };
  const Row rows[] = {
      {"nsis-wizard-x86/installed/uninst.exe", true},
      {"nsis-wizard-amd64/installed/uninst.exe", true},
      {"nsis-wizard-x86/nsis-wizard-x86-unicode-setup.exe", true},
      {"inno-plain/installed/unins000.exe", false},
      {"inno-user/inno-user-setup.exe", false},
      {"src/litware.exe", false},
  };
  for (const Row& r : rows) {
    const std::string bytes = ReadCorpus(r.file);
    ASSERT_FALSE(bytes.empty()) << r.file;
    EXPECT_EQ(HoldsNsisMarker(std::string_view(bytes).substr(0, kUninstallerHeadBytes)), r.nsis)
        << r.file;
  }
}

TEST(InstallerTechnology, TheNsisMarkerCountsOnlyAtItsBoundaries) {
  EXPECT_TRUE(HoldsNsisMarker(NsisBytes(true)));
  EXPECT_TRUE(HoldsNsisMarker(NsisBytes(false)));  // an installer is NSIS's too
  // Off a 512-byte boundary the same bytes are data, not NSIS's header.
  EXPECT_FALSE(HoldsNsisMarker(std::string(3, '\0') + NsisBytes(true)));
  EXPECT_FALSE(HoldsNsisMarker(NsisBytes(true).substr(0, 1040)));  // cut short
}

}  // namespace
}  // namespace varnok
