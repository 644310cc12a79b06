// Real products of each installer technology, removed by the real program without -exeArgs:
// installed silently, removed with a version rule, then checked: exit 0, the row gone, the
// product's folders gone, nothing of its uninstaller still running 10 s after the program ended,
// and the technology named in the log before the command. The NSIS and Windows Installer products
// come from the build (tests/fixtures/real, tinymsi.wxs); the Inno Setup ones are compiled here
// with the pinned compiler (VARNOK_ISCC); WiX Burn and Squirrel, which cannot be built here, are
// laid out by stand_in_setup.exe.
#include <gtest/gtest.h>
#include <windows.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ostream>
#include <string>
#include <vector>

#include "common/strings.h"
#include "support/win/program_test.h"

namespace varnok {
namespace {

using testing::Quote;
using testing::RowExists;
using testing::RunCommand;
using testing::ToolPath;

enum class Setup { kNsis, kInno, kMsi, kStandIn };

struct Product {
  const char* name;  // the test's
  Setup setup;
  // Below tools\: the NSIS setup program, the Inno Setup script, the .msi; or the stand-in's layout.
  const char* source;
  const char* display_name;
  const char* version;
  HKEY root;
  REGSAM view;
  const char* key;
  std::vector<const char*> folders;  // with %VARIABLES%
  const char* technology;            // as installer_technology names it; null: no such line
  // Image names of its uninstaller and of the helpers that the uninstaller starts.
  std::vector<const char*> processes;
};

void PrintTo(const Product& product, std::ostream* out) { *out << product.name; }

// An NSIS stub's architecture follows the build's, and with it the product's view and folder
// (this process's %ProgramFiles% is the stub's $PROGRAMFILES).
const REGSAM kNsisView = sizeof(void*) == 8 ? KEY_WOW64_64KEY : KEY_WOW64_32KEY;
const std::vector<const char*> kInnoProcesses = {"unins000.exe", "_unins.tmp"};

const Product kProducts[] = {
    {"NsisWizardLayout", Setup::kNsis, "real\\nsis-wizard-setup.exe", "Litware Reader 2.4.0",
     "2.4.0", HKEY_LOCAL_MACHINE, kNsisView, "Litware Reader", {"%ProgramFiles%\\Litware Reader"},
     "NSIS", {"uninst.exe", "Un.exe", "Au_.exe"}},
    {"NsisQuotedUninstaller", Setup::kNsis, "real\\nsis-quoted-setup.exe", "Fabrikam Viewer",
     "1.8.0", HKEY_LOCAL_MACHINE, kNsisView, "FabrikamViewer", {"%ProgramFiles%\\Fabrikam Viewer"},
     "NSIS", {"uninstall.exe", "Un.exe", "Au_.exe"}},
    {"NsisPerUser", Setup::kNsis, "real\\nsis-user-setup.exe", "Northwind Notes 4.1.0", "4.1.0",
     HKEY_CURRENT_USER, 0, "NorthwindNotes", {"%LOCALAPPDATA%\\Programs\\Northwind Notes"}, "NSIS",
     {"Uninstall Northwind Notes.exe", "Un.exe", "Au_.exe"}},
    {"InnoPlain", Setup::kInno, "real\\inno-plain.iss", "Tailwind Notes version 3.2.1", "3.2.1",
     HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY, "TailwindNotes_is1", {"%ProgramFiles(x86)%\\Tailwind Notes"},
     "Inno Setup", kInnoProcesses},
    {"InnoQuestionBeforeRemoval", Setup::kInno, "real\\inno-question-pre.iss",
     "Adatum Draw version 5.0.0", "5.0.0", HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY, "AdatumDraw_is1",
     {"%ProgramFiles(x86)%\\Adatum Draw"}, "Inno Setup", kInnoProcesses},
    {"InnoQuestionAfterRemoval", Setup::kInno, "real\\inno-question-post.iss",
     "Adatum Paint version 5.0.0", "5.0.0", HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY, "AdatumPaint_is1",
     {"%ProgramFiles(x86)%\\Adatum Paint"}, "Inno Setup", kInnoProcesses},
    {"InnoPerUser", Setup::kInno, "real\\inno-user.iss", "Adatum Notes version 1.4.0", "1.4.0",
     HKEY_CURRENT_USER, 0, "AdatumNotes_is1", {"%LOCALAPPDATA%\\Programs\\Adatum Notes"},
     "Inno Setup", kInnoProcesses},
    {"MsiMachineWide", Setup::kMsi, "tinymsi.msi", "Varnok Tiny Msi", "2.3.4", HKEY_LOCAL_MACHINE,
     KEY_WOW64_32KEY, "{5A1E0C2B-7D3F-4E8A-9B61-3C2D4F5E6A71}", {"%ProgramFiles(x86)%\\VarnokTinyMsi"},
     nullptr, {"msiexec.exe"}},
    {"BurnBundle", Setup::kStandIn, "burn", "Woodgrove Suite", "7.2.0", HKEY_LOCAL_MACHINE,
     KEY_WOW64_32KEY, "{8F3C6A52-4B1D-4E7A-9C2F-5D6E7A8B9C01}",
     {"%ProgramData%\\Package Cache\\{8F3C6A52-4B1D-4E7A-9C2F-5D6E7A8B9C01}",
      "%ProgramFiles(x86)%\\Woodgrove Suite"},
     "WiX Burn", {"WoodgroveSuite.exe"}},
    {"SquirrelPerUser", Setup::kStandIn, "squirrel", "Proseware Chat", "1.2.0", HKEY_CURRENT_USER,
     0, "ProsewareChat", {"%LOCALAPPDATA%\\ProsewareChat"}, "Squirrel", {"Update.exe"}},
};

std::string Expand(const char* text) {
  char out[MAX_PATH] = {};
  ExpandEnvironmentStringsA(text, out, MAX_PATH);
  return out;
}

bool FolderExists(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// The pinned Inno Setup compiler as a Windows path (VARNOK_ISCC may give the Unix one); empty
// when it is not set.
std::string IsccPath() {
  const char* value = std::getenv("VARNOK_ISCC");
  std::string path = value ? value : "";
  if (!path.empty() && path[0] == '/') {
    std::replace(path.begin(), path.end(), '/', '\\');
    path = "Z:" + path;
  }
  return path;
}

// Runs a command line to its end (at most 2 minutes) with its output in a file: under Wine a pipe
// would be held by the processes it starts. STILL_ACTIVE when it did not end.
DWORD RunWithOutputIn(const std::string& command_line, const std::string& output) {
  SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  win32::UniqueFileHandle file(CreateFileA(output.c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                                           &inheritable, CREATE_ALWAYS, 0, nullptr));
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = startup.hStdError = file.get();
  std::vector<char> writable(command_line.begin(), command_line.end());
  writable.push_back('\0');
  win32::ProcessInformation process;
  if (!CreateProcessA(nullptr, writable.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                      nullptr, &startup, process.put())) {
    return STILL_ACTIVE;
  }
  DWORD code = STILL_ACTIVE;
  if (WaitForSingleObject(process.process(), 120000) == WAIT_OBJECT_0) {
    GetExitCodeProcess(process.process(), &code);
  } else {
    TerminateProcess(process.process(), 258);
  }
  return code;
}

// Ends every process with the image name `name` (a test that failed may leave one waiting on a
// window, which would count against the next product).
void EndProcesses(const std::string& name) {
  win32::UniqueFileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  PROCESSENTRY32 entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32First(snapshot.get(), &entry); more;
       more = Process32Next(snapshot.get(), &entry)) {
    if (!EqualsNoCase(entry.szExeFile, name)) continue;
    win32::UniqueHandle process(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, entry.th32ProcessID));
    if (process && TerminateProcess(process.get(), 1)) WaitForSingleObject(process.get(), 5000);
  }
}

class RealInstallers : public testing::ProgramTest, public ::testing::WithParamInterface<Product> {
 protected:
  void TearDown() override {
    const Product& product = GetParam();
    for (const char* name : product.processes) EndProcesses(name);
    win32::UniqueRegKey uninstall;
    if (RegOpenKeyExA(product.root, testing::kUninstall, 0, KEY_ALL_ACCESS | product.view,
                      uninstall.put()) == ERROR_SUCCESS) {
      RegDeleteKeyExA(uninstall.get(), product.key, product.view, 0);
    }
  }

  // The command line that installs the product silently; empty after a fatal failure or a skip.
  std::string SilentSetup(const Product& product) {
    switch (product.setup) {
      case Setup::kNsis:
        return Quote(ToolPath(product.source)) + " /S";
      case Setup::kMsi: {
        char system[MAX_PATH] = {};
        GetSystemDirectoryA(system, MAX_PATH);
        return Quote(std::string(system) + "\\msiexec.exe") + " /i " + Quote(ToolPath(product.source)) +
               " /qn /norestart";
      }
      case Setup::kStandIn:
        return Quote(ToolPath("stand_in_setup.exe")) + " install " + product.source;
      case Setup::kInno:
        break;
    }
    const std::string iscc = IsccPath();
    if (!testing::FileExists(iscc)) {
      ADD_FAILURE() << "no Inno Setup compiler at VARNOK_ISCC (" << iscc << "): run scripts/bootstrap "
                    << "and configure again, or set it to what scripts/fetch-innosetup --print-iscc says";
      return "";
    }
    // Given no script, ISCC shows its usage and ends with 1: then 32-bit code runs here.
    if (sizeof(void*) == 8 && RunCommand(Quote(iscc) + " /?", 60000).exit_code != 1) {
      skip_reason_ = "Inno Setup's compiler, setup and uninstaller are 32-bit programs, and this "
                     "machine's Wine cannot run 32-bit code (the x86_64 build is tested here)";
      return "";
    }
    const std::string app = ToolPath(std::string("real\\app-") + product.version + ".exe");
    const std::string output = work_ / "iscc.txt";
    const DWORD compiled = RunWithOutputIn(Quote(iscc) + " /Q " + Quote("/O" + work_.path()) +
                                               " /Fsetup " + Quote("/DAppExe=" + app) + " " +
                                               Quote(ToolPath(product.source)),
                                           output);
    if (compiled != 0) {
      ADD_FAILURE() << "ISCC ended with " << compiled << ":\n" << testing::ReadFileBytes(output);
      return "";
    }
    return Quote(work_ / "setup.exe") + " /VERYSILENT /SUPPRESSMSGBOXES /NORESTART";
  }

  // The row and the folders gone, and no process of the uninstaller running.
  bool Settled(const Product& product) const {
    if (RowExists(product.root, product.view, product.key)) return false;
    for (const char* folder : product.folders) {
      if (FolderExists(Expand(folder))) return false;
    }
    for (const char* name : product.processes) {
      if (testing::ProcessCount(name) != 0) return false;
    }
    return true;
  }

  testing::TempDir work_;
  std::string skip_reason_;
};

TEST_P(RealInstallers, RemovedSilentlyWithNothingLeft) {
  const Product& product = GetParam();
  const std::string setup = SilentSetup(product);
  if (!skip_reason_.empty()) GTEST_SKIP() << skip_reason_;
  ASSERT_FALSE(setup.empty());
  ASSERT_EQ(RunCommand(setup).exit_code, 0u) << setup;
  ASSERT_TRUE(RowExists(product.root, product.view, product.key)) << product.key;
  for (const char* folder : product.folders) ASSERT_TRUE(FolderExists(Expand(folder))) << folder;

  // A silent removal takes a few seconds; one that waits on a window is ended after 20.
  const testing::RunResult run = RunProgram("-displayName " + Quote(product.display_name) +
                                                " -matchType Exact -exactVersion " + product.version,
                                            20000);
  // Uninstallers hand their work to helpers that may still be at it when the program ends.
  const ULONGLONG ended = GetTickCount64();
  while (!Settled(product) && GetTickCount64() - ended < 10000) Sleep(100);
  const ULONGLONG settled_ms = GetTickCount64() - ended;

  EXPECT_EQ(run.exit_code, 0u) << log_;
  EXPECT_FALSE(RowExists(product.root, product.view, product.key));
  for (const char* folder : product.folders) EXPECT_FALSE(FolderExists(Expand(folder))) << folder;
  for (const char* name : product.processes) {
    EXPECT_EQ(testing::ProcessCount(name), 0) << name << " still runs";
  }
  if (product.technology != nullptr) {
    const size_t technology =
        log_.find(std::string("operation : app_varnok; installer_technology : \"") +
                  product.technology + "\"; evidence : \"");
    EXPECT_NE(technology, std::string::npos) << log_;
    if (technology != std::string::npos) {
      EXPECT_LT(technology, log_.find("installer_type : "));
    }
  } else {
    EXPECT_EQ(log_.find("installer_technology : "), std::string::npos) << log_;
  }
  std::printf("%s: the program took %llu ms (exit %lu); settled %llu ms after it ended\n",
              product.name, run.elapsed_ms, run.exit_code, settled_ms);
}

INSTANTIATE_TEST_SUITE_P(Corpus, RealInstallers, ::testing::ValuesIn(kProducts),
                         [](const ::testing::TestParamInfo<Product>& info) { return info.param.name; });

}  // namespace
}  // namespace varnok
