#include "support/win/wine_support.h"

#include <sddl.h>
#include <tlhelp32.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>

#include "common/strings.h"
#include "win32/unique_handle.h"

namespace varnok::testing {
namespace {

constexpr char kAgentKey[] = "SOFTWARE\\Orvelle\\Fleetmoor\\FMAgent";

void RemoveTree(const std::string& dir) {
  WIN32_FIND_DATAA data;
  win32::UniqueFindHandle find(FindFirstFileA((dir + "\\*").c_str(), &data));
  if (find) {
    do {
      const std::string name = data.cFileName;
      if (name == "." || name == "..") continue;
      const std::string child = dir + "\\" + name;
      if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        RemoveTree(child);
      } else {
        SetFileAttributesA(child.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(child.c_str());
      }
    } while (FindNextFileA(find.get(), &data));
  }
  RemoveDirectoryA(dir.c_str());
}

}  // namespace

int ProcessCount(const std::string& name) {
  win32::UniqueFileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) return -1;
  int count = 0;
  PROCESSENTRY32 entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32First(snapshot.get(), &entry); more;
       more = Process32Next(snapshot.get(), &entry)) {
    if (entry.th32ProcessID != GetCurrentProcessId() && EqualsNoCase(entry.szExeFile, name)) ++count;
  }
  return count;
}

bool EnsureDesktopShell() {
  // A Child's standard handles are NUL, so the shell never holds the test's output.
  if (ProcessCount("explorer.exe") <= 0) Child shell("explorer.exe /desktop");
  const ULONGLONG deadline = GetTickCount64() + 10000;
  while (ProcessCount("explorer.exe") <= 0) {  // -1: no snapshot
    if (GetTickCount64() > deadline) return false;
    Sleep(25);
  }
  return true;
}

std::string CurrentUserSid() {
  win32::UniqueHandle token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put())) return {};
  alignas(TOKEN_USER) BYTE buffer[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE] = {};
  DWORD returned = 0;
  if (!GetTokenInformation(token.get(), TokenUser, buffer, sizeof buffer, &returned)) return {};
  char* text = nullptr;
  if (!ConvertSidToStringSidA(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, &text)) return {};
  std::string sid(text);
  LocalFree(text);
  return sid;
}

std::string TestBinDir() {
  std::string path(MAX_PATH, '\0');
  const DWORD n = GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
  path.resize(n);
  return GetParentPath(path);
}

std::string ProgramPath() { return TestBinDir() + "\\app_varnok.exe"; }
std::string ToolPath(const std::string& exe_name) { return TestBinDir() + "\\tools\\" + exe_name; }

TempDir::TempDir() {
  char base[MAX_PATH] = {};
  GetTempPathA(MAX_PATH, base);
  static unsigned counter = 0;
  // Names left by an earlier process with the same id are skipped; any other failure is final.
  for (int attempt = 0; attempt < 100; ++attempt) {
    path_ = Trim(std::string(base) + "varnok-" + std::to_string(GetCurrentProcessId()) + "-" +
                 std::to_string(++counter));
    if (CreateDirectoryA(path_.c_str(), nullptr)) return;
    if (GetLastError() != ERROR_ALREADY_EXISTS) break;
  }
  std::fprintf(stderr, "TempDir: cannot create %s (error %lu)\n", path_.c_str(), GetLastError());
  std::abort();
}

TempDir::~TempDir() { RemoveTree(path_); }

AgentInstallDir::AgentInstallDir(const std::string& dir) {
  win32::UniqueRegKey key;
  RegCreateKeyExA(HKEY_LOCAL_MACHINE, kAgentKey, 0, nullptr, 0, KEY_WRITE | KEY_WOW64_32KEY,
                  nullptr, key.put(), nullptr);
  RegSetValueExA(key.get(), "FMAgentInstallDir", 0, REG_SZ,
                 reinterpret_cast<const BYTE*>(dir.c_str()), static_cast<DWORD>(dir.size() + 1));
}

AgentInstallDir::~AgentInstallDir() {
  win32::UniqueRegKey key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kAgentKey, 0, KEY_WRITE | KEY_WOW64_32KEY, key.put()) ==
      ERROR_SUCCESS) {
    RegDeleteValueA(key.get(), "FMAgentInstallDir");
  }
}

Child::Child(const std::string& command_line) {
  std::vector<char> writable(command_line.begin(), command_line.end());
  writable.push_back('\0');
  // Standard handles on NUL: under Wine a child (and a shell it restarts) would otherwise hold
  // the test's own output pipe, which ctest reads to its end.
  SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  win32::UniqueFileHandle nul(CreateFileA("NUL", GENERIC_READ | GENERIC_WRITE,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable,
                                          OPEN_EXISTING, 0, nullptr));
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = startup.hStdOutput = startup.hStdError = nul.get();
  started_ = CreateProcessA(nullptr, writable.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW,
                            nullptr, nullptr, &startup, info_.put()) != FALSE;
}

DWORD Child::Wait(DWORD timeout_ms) {
  if (!started_) return STILL_ACTIVE;
  if (WaitForSingleObject(info_.process(), timeout_ms) != WAIT_OBJECT_0) return STILL_ACTIVE;
  DWORD code = STILL_ACTIVE;
  GetExitCodeProcess(info_.process(), &code);
  return code;
}

void Child::Kill(DWORD exit_code) {
  if (!started_) return;
  TerminateProcess(info_.process(), exit_code);
  WaitForSingleObject(info_.process(), 10000);
}

RunResult RunCommand(const std::string& command_line, DWORD timeout_ms) {
  RunResult result;
  const ULONGLONG start = GetTickCount64();
  Child child(command_line);
  result.exit_code = child.Wait(timeout_ms);
  if (result.exit_code == STILL_ACTIVE) {
    child.Kill(258);
    result.exit_code = 258;
  }
  result.elapsed_ms = GetTickCount64() - start;
  return result;
}

bool WaitForNamedEvent(const char* name, DWORD timeout_ms) {
  const ULONGLONG deadline = GetTickCount64() + timeout_ms;
  while (GetTickCount64() < deadline) {
    win32::UniqueHandle event(OpenEventA(SYNCHRONIZE, FALSE, name));
    if (event) return WaitForSingleObject(event.get(), 
                                          static_cast<DWORD>(deadline - GetTickCount64())) ==
                      WAIT_OBJECT_0;
    Sleep(20);
  }
  return false;
}

bool FileExists(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::string ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFileBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::vector<std::string> ReadCrLfLines(const std::string& path) {
  const std::string text = ReadFileBytes(path);
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    const size_t end = text.find("\r\n", start);
    if (end == std::string::npos) {
      lines.push_back(text.substr(start));
      break;
    }
    lines.push_back(text.substr(start, end - start));
    start = end + 2;
  }
  return lines;
}

}  // namespace varnok::testing
