#include "inventory/system_value_expander.h"

#include <windows.h>

#include <cwchar>

#include "win32/system_library.h"
#include "win32/unique_handle.h"

namespace varnok {
namespace {

using ExpandForUserFn = BOOL(WINAPI*)(HANDLE, LPCWSTR, LPWSTR, DWORD);
using WTSQueryUserTokenFn = BOOL(WINAPI*)(ULONG, PHANDLE);

// Windows expands within one UNICODE_STRING: 32767 characters with the terminator. Wine cuts a
// longer source or result there and still reports success, so a text that reaches the limit
// may have been cut and is refused as too large.
constexpr size_t kMaxExpandedChars = 32766;

// The error of the call that just failed; never 0, so that a failure never reads as success.
DWORD LastFailure() {
  const DWORD error = ::GetLastError();
  return error != ERROR_SUCCESS ? error : ERROR_GEN_FAILURE;
}

// The token whose user's environment `environment` names; none for the system's variables,
// which the expansion then uses alone. Returns the Win32 error.
DWORD OpenEnvironmentToken(const ExpansionEnvironment& environment, win32::UniqueHandle* token) {
  switch (environment.owner) {
    case ExpansionEnvironment::Owner::kSystem:
      return ERROR_SUCCESS;
    case ExpansionEnvironment::Owner::kProcessUser:
      // The access ExpandEnvironmentStringsForUser needs (TOKEN_DUPLICATE since Windows 7).
      return ::OpenProcessToken(::GetCurrentProcess(),
                                TOKEN_QUERY | TOKEN_IMPERSONATE | TOKEN_DUPLICATE, token->put())
                 ? ERROR_SUCCESS
                 : LastFailure();
    case ExpansionEnvironment::Owner::kSessionUser: {
      const win32::UniqueModule wtsapi = win32::LoadSystemLibrary("wtsapi32.dll");
      const auto query = win32::GetProc<WTSQueryUserTokenFn>(wtsapi, "WTSQueryUserToken");
      if (!query) return LastFailure();
      return query(environment.session_id, token->put()) ? ERROR_SUCCESS : LastFailure();
    }
  }
  return ERROR_INVALID_PARAMETER;
}

// Text of the ANSI code page as UTF-16; false for bytes that are not valid there.
bool ToWide(const std::string& text, std::wstring* wide) {
  wide->clear();
  if (text.empty()) return true;
  const int bytes = static_cast<int>(text.size());
  const int chars =
      ::MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, text.data(), bytes, nullptr, 0);
  if (chars <= 0) return false;
  wide->resize(static_cast<size_t>(chars));
  return ::MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, text.data(), bytes, wide->data(),
                               chars) == chars;
}

// UTF-16 in the ANSI code page, exactly or not at all: a best-fit or default character ("Ł" as
// "L") could name another user's folder.
bool ToAnsi(const wchar_t* wide, size_t length, std::string* text) {
  text->clear();
  if (length == 0) return true;
  // UTF-8 as the ANSI code page takes neither flag nor default-character report.
  const bool utf8 = ::GetACP() == CP_UTF8;
  const DWORD flags = utf8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
  BOOL used_default = FALSE;
  BOOL* report = utf8 ? nullptr : &used_default;
  const int chars = static_cast<int>(length);
  const int bytes = ::WideCharToMultiByte(CP_ACP, flags, wide, chars, nullptr, 0, nullptr, report);
  if (bytes <= 0 || used_default) return false;
  text->resize(static_cast<size_t>(bytes));
  return ::WideCharToMultiByte(CP_ACP, flags, wide, chars, text->data(), bytes, nullptr,
                               report) == bytes &&
         !used_default;
}

ExpandedText ExpandOne(ExpandForUserFn expand, HANDLE token, const std::string& text) {
  std::wstring source;
  if (!ToWide(text, &source)) return {LastFailure(), std::string()};
  if (source.size() >= kMaxExpandedChars) return {kErrorValueTooLarge, std::string()};
  std::vector<wchar_t> buffer(kMaxExpandedChars + 1, L'\0');
  if (!expand(token, source.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()))) {
    const DWORD error = LastFailure();
    return {error == ERROR_INSUFFICIENT_BUFFER ? kErrorValueTooLarge : error, std::string()};
  }
  const size_t length = wcsnlen(buffer.data(), buffer.size());
  if (length >= kMaxExpandedChars) return {kErrorValueTooLarge, std::string()};
  ExpandedText expanded;
  if (!ToAnsi(buffer.data(), length, &expanded.text)) {
    return {ERROR_NO_UNICODE_TRANSLATION, std::string()};
  }
  return expanded;
}

class Win32ValueExpander : public ValueExpander {
 public:
  std::vector<ExpandedText> Expand(const ExpansionEnvironment& environment,
                                   const std::vector<std::string>& texts) override {
    win32::UniqueHandle token;
    DWORD error = OpenEnvironmentToken(environment, &token);
    const win32::UniqueModule userenv = win32::LoadSystemLibrary("userenv.dll");
    const auto expand =
        win32::GetProc<ExpandForUserFn>(userenv, "ExpandEnvironmentStringsForUserW");
    if (error == ERROR_SUCCESS && !expand) error = LastFailure();
    std::vector<ExpandedText> results;
    for (const std::string& text : texts) {
      results.push_back(error != ERROR_SUCCESS ? ExpandedText{error, std::string()}
                                               : ExpandOne(expand, token.get(), text));
    }
    return results;
  }
};

}  // namespace

ValueExpander& SystemValueExpander() {
  static Win32ValueExpander expander;
  return expander;
}

}  // namespace varnok
