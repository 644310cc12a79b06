// The shared Win32 helpers against the real API under Wine.
#include <gtest/gtest.h>

#include "common/file_size.h"
#include "support/win/wine_support.h"
#include "win32/registry.h"
#include "win32/system_library.h"
#include "win32/text.h"
#include "win32/unique_handle.h"

namespace varnok {
namespace {

TEST(QueryFileSize, SizesFilesAndRefusesEverythingElse) {
  testing::TempDir dir;
  testing::WriteFileBytes(dir / "empty.bin", "");
  testing::WriteFileBytes(dir / "five.bin", "12345");
  EXPECT_EQ(QueryFileSize(dir / "empty.bin"), 0);
  EXPECT_EQ(QueryFileSize(dir / "five.bin"), 5);
  EXPECT_EQ(QueryFileSize(dir / "missing.bin"), -1);
  EXPECT_EQ(QueryFileSize(dir.path()), -1);  // a folder cannot be opened as a file
  // Other openers keep read, write and delete sharing; an exclusive holder makes sizing fail.
  HANDLE exclusive = CreateFileA((dir / "five.bin").c_str(), GENERIC_READ, 0, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(exclusive, INVALID_HANDLE_VALUE);
  EXPECT_EQ(QueryFileSize(dir / "five.bin"), -1);
  CloseHandle(exclusive);
}

// Values read whole, whatever their size against the buffer of the first request.
TEST(QueryRegistryValue, ReadsEverySizeExactly) {
  testing::ScratchRows rows;
  win32::UniqueRegKey key = rows.Create(HKEY_CURRENT_USER, 0, "sizes");
  ASSERT_TRUE(key);
  const struct {
    const char* name;
    DWORD type;
    size_t size;
  } cases[] = {{"empty", REG_BINARY, 0},      {"one", REG_BINARY, 1},
               {"below", REG_BINARY, 511},    {"exact", REG_BINARY, 512},
               {"above", REG_BINARY, 513},    {"large", REG_BINARY, 65536},
               {"text-above", REG_SZ, 700},   {"text-exact", REG_SZ, 512}};
  for (const auto& c : cases) {
    std::string bytes(c.size, '\0');
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>('a' + i % 26);
    if (c.type == REG_SZ) bytes.back() = '\0';
    testing::ScratchRows::Set(key.get(), c.name, c.type, bytes);
    win32::RegistryValue value;
    ASSERT_EQ(win32::QueryRegistryValue(key.get(), win32::Wide(c.name).c_str(), &value, 65536),
              ERROR_SUCCESS)
        << c.name;
    EXPECT_EQ(value.type, c.type) << c.name;
    // Text is stored in UTF-16, and reaches the inventory's reader as UTF-8.
    const std::vector<char> data =
        c.type == REG_SZ ? win32::TextAsRead(value.data) : value.data;
    EXPECT_EQ(std::string(data.begin(), data.end()), bytes) << c.name;
  }
  win32::RegistryValue untouched;
  untouched.type = REG_DWORD;
  EXPECT_EQ(win32::QueryRegistryValue(key.get(), L"missing", &untouched, 65536), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(untouched.type, static_cast<DWORD>(REG_DWORD));
  // One byte over the limit is not read, and its size is told.
  testing::ScratchRows::Set(key.get(), "over", REG_BINARY, std::string(65537, 'o'));
  DWORD stored = 0;
  EXPECT_EQ(win32::QueryRegistryValue(key.get(), L"over", &untouched, 65536, &stored), ERROR_FILE_TOO_LARGE);
  EXPECT_EQ(stored, 65537u);
  EXPECT_EQ(untouched.type, static_cast<DWORD>(REG_DWORD));
}

TEST(LoadSystemLibrary, LoadsBareNamesFromTheSystemDirectoryOnly) {
  win32::UniqueModule version = win32::LoadSystemLibrary("version.dll");
  ASSERT_TRUE(version);
  EXPECT_NE(win32::GetProc<FARPROC>(version, "GetFileVersionInfoSizeA"), nullptr);
  EXPECT_EQ(win32::GetProc<FARPROC>(version, "NoSuchExport"), nullptr);
  char path[MAX_PATH] = {};
  GetModuleFileNameA(version.get(), path, MAX_PATH);
  char system[MAX_PATH] = {};
  GetSystemDirectoryA(system, MAX_PATH);
  EXPECT_EQ(_strnicmp(path, system, strlen(system)), 0) << path;

  for (const char* bad : {"", "..\\version.dll", "C:\\windows\\system32\\version.dll", "x/y.dll"}) {
    EXPECT_FALSE(win32::LoadSystemLibrary(bad)) << bad;
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER)) << bad;
  }
  EXPECT_FALSE(win32::LoadSystemLibrary("varnok_no_such_library.dll"));
}

}  // namespace
}  // namespace varnok
