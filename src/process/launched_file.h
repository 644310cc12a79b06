// Binding a launch to the file that was checked: a file run as SYSTEM is held open so that
// nobody can change it before it has started, and a process created in a user's session runs
// only when it was created from the file the user's path named when it was checked.
// Windows build only.
#pragma once

#include <windows.h>

#include <string>

#include "process/file_trust.h"
#include "win32/unique_handle.h"

namespace varnok {

// Which file an open handle refers to. The Win32 error, 0 on success.
DWORD ReadHandleIdentity(HANDLE file, FileIdentity* identity);

// Which file `path` names now, links followed as a launch follows them, opened as a launch opens
// it (to read and execute): an account that could not start the file itself gets no identity for
// it, so a link to a file only SYSTEM may read is refused. A named pipe reached through a link
// may only identify the caller. The Win32 error, 0 on success.
unsigned long ReadFileIdentity(const std::string& path, FileIdentity* identity);

// Opens a file to be run as SYSTEM for reading, sharing reading only: until `held` is closed,
// nobody can open it to write, delete or rename it (an open for reading is what makes the share
// mode count), and a program started from it still can. A link is not followed (`is_link` is
// set). Its owner, DACL and identity are read through that handle. The Win32 error, 0 on success;
// the outputs are set only on success.
DWORD HoldFileToRun(const std::string& path, win32::UniqueFileHandle* held,
                    FileSecurity* security, FileIdentity* identity);

// The path and identity of the file a process was created from: the path Windows keeps for its
// image (the one it opened, links already resolved), opened again for its attributes. The
// Win32 error, 0 on success.
DWORD ReadProcessImage(HANDLE process, std::string* image_path, FileIdentity* identity);

// For a process created suspended in session `session_id`: lets it run when its image is
// `expected` and returns 0; otherwise ends it before it ran, logs an ERROR line naming both files,
// and returns kLaunchedFileChanged (or the Win32 error of resuming it).
int ResumeIfImageIs(const win32::ProcessInformation& process, const FileIdentity& expected,
                    const std::string& executable, unsigned long session_id);

}  // namespace varnok
