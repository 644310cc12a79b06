// A temporary folder of its own for every uninstaller started as SYSTEM. The system's temporary
// folder (<windir>\Temp) lets users add files: an uninstaller that copies itself there and loads
// DLLs beside its copy would load one a user planted. Its own folder, with a random name, created
// only where nothing existed, that only SYSTEM and administrators can use, leaves users nothing
// to plant.
#pragma once

#include <string>
#include <vector>

#include "process/launch_platform.h"

namespace varnok {

// `environment` ("NAME=value" entries, as Windows lists them) with TEMP and TMP (whatever their
// case) replaced by `folder`, sorted by name without regard to case as Windows keeps a block.
std::vector<std::string> EnvironmentWithTemp(const std::vector<std::string>& environment,
                                             const std::string& folder);

// Windows build only.
// A new folder `<windows_directory>\Temp\varnok-<32 random hex digits>` whose protected DACL
// lets only SYSTEM and Administrators in (see LaunchPlatform::CreatePrivateTempFolder).
unsigned long CreatePrivateTempFolder(const std::string& windows_directory, std::string* folder);
// See LaunchPlatform::RemoveFolderTree. Folders deeper than 64 levels are left.
unsigned long RemoveFolderTree(const std::string& folder);

// The private temporary folders of one run's launches.
class PrivateTempFolders {
 public:
  explicit PrivateTempFolders(LaunchPlatform& platform) : platform_(platform) {}

  // A fresh folder for one launch, named in an INFO line; the Win32 error, logged at ERROR, when
  // it cannot be made (the launch must then not run as SYSTEM).
  unsigned long ForLaunch(std::string* folder);
  // After a row: the folders of its launches are removed when nothing they started still runs;
  // otherwise (`launch_may_run`: still running, or not known) they wait for the end of the run.
  void AfterRow(bool launch_may_run);
  // At the end of the run: every folder left is removed as far as possible; one that cannot be
  // (an uninstaller's copy still runs from it) is named in a line and left.
  void AtRunEnd();

 private:
  LaunchPlatform& platform_;
  std::vector<std::string> row_;
  std::vector<std::string> later_;
};

}  // namespace varnok
