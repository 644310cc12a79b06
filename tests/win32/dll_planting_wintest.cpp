// DLLs that Windows does not protect against planting, dropped beside the program (which is
// also its working directory), must never be loaded. The test bed makes Wine prefer such copies,
// as Windows does for a DLL that is no KnownDLL (see scripts/wine-env.sh).
#include <gtest/gtest.h>

#include "support/win/program_test.h"

namespace varnok {
namespace {

using testing::ToolPath;

using testing::Quote;

class DllPlanting : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* dll : {"version.dll", "wtsapi32.dll", "userenv.dll"}) {
      ASSERT_TRUE(CopyFileA((testing::TestBinDir() + "\\tools\\planted\\" + dll).c_str(),
                            (dir_ / dll).c_str(), FALSE));
    }
    for (const char* exe : {"naive_import.exe", "log_probe.exe", "exit_with.exe"}) {
      ASSERT_TRUE(CopyFileA(ToolPath(exe).c_str(), (dir_ / exe).c_str(), FALSE));
    }
    ASSERT_TRUE(CopyFileA(testing::ProgramPath().c_str(), (dir_ / "app_varnok.exe").c_str(), FALSE));
    SetEnvironmentVariableA("VARNOK_PLANT_MARK", dir_.path().c_str());
    SetCurrentDirectoryA(dir_.path().c_str());
  }
  void TearDown() override {
    SetCurrentDirectoryA(testing::TestBinDir().c_str());
    SetEnvironmentVariableA("VARNOK_PLANT_MARK", nullptr);
  }
  bool Loaded(const char* dll) const { return testing::FileExists(dir_ / ("loaded-" + std::string(dll) + ".txt")); }

  testing::TempDir dir_;
};

TEST_F(DllPlanting, TheProgramNeverLoadsAPlantedCopy) {
  // Control: a load-time import picks up the planted copy, so a load would be seen.
  testing::RunCommand(Quote(dir_ / "naive_import.exe"));
  ASSERT_TRUE(Loaded("version.dll")) << "the test bed cannot see a planted DLL";
  DeleteFileA((dir_ / "loaded-version.dll.txt").c_str());

  // The program reads a file version (version.dll) for the shared-uninstaller guard.
  testing::TempDir product;
  ASSERT_TRUE(CopyFileA(ToolPath("versioned.exe").c_str(), (product / "Planted Tool.exe").c_str(), FALSE));
  ASSERT_TRUE(CopyFileA(ToolPath("exit_with.exe").c_str(), (product / "uninstall.exe").c_str(), FALSE));
  testing::ScratchRows rows;
  auto key = rows.Create(HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, "planted");
  testing::ScratchRows::SetText(key.get(), "DisplayName", "Varnok Planted Tool");
  testing::ScratchRows::SetText(key.get(), "DisplayVersion", "10.0");
  testing::ScratchRows::SetText(key.get(), "UninstallString", Quote(product / "uninstall.exe"));
  testing::TempDir install;
  CreateDirectoryA((install / "logs").c_str(), nullptr);
  testing::AgentInstallDir agent(install.path());
  EXPECT_EQ(testing::RunCommand(Quote(dir_ / "app_varnok.exe") +
                                " -displayName \"Varnok Planted Tool\" -matchType Series -seriesPrefix 10 -whatIf")
                .exit_code,
            0u);
  const std::string log = testing::ReadFileBytes(install / "logs\\fmprereqhandler.log");
  EXPECT_NE(log.find("file_version : \"10.0.19041.1\"; status : success;"), std::string::npos) << log;

  // The session launch path reaches wtsapi32.dll and userenv.dll.
  EXPECT_EQ(testing::RunCommand(Quote(dir_ / "log_probe.exe") + " sessions " + Quote(dir_ / "exit_with.exe") ).exit_code, 2u);

  EXPECT_FALSE(Loaded("version.dll"));
  EXPECT_FALSE(Loaded("wtsapi32.dll"));
  EXPECT_FALSE(Loaded("userenv.dll"));
}

}  // namespace
}  // namespace varnok
