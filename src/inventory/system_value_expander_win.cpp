#include "inventory/system_value_expander.h"

#include <windows.h>

#include <cwchar>

#include "win32/system_library.h"
#include "win32/text.h"
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

ExpandedText ExpandOne(ExpandForUserFn expand, HANDLE token, const std::string& text) {
  std::wstring source;
  if (!win32::ToWide(text, &source)) return {ERROR_NO_UNICODE_TRANSLATION, std::string()};
  if (source.size() >= kMaxExpandedChars) return {kErrorValueTooLarge, std::string()};
  std::vector<wchar_t> buffer(kMaxExpandedChars + 1, L'\0');
  if (!expand(token, source.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()))) {
    const DWORD error = LastFailure();
    return {error == ERROR_INSUFFICIENT_BUFFER ? kErrorValueTooLarge : error, std::string()};
  }
  const size_t length = wcsnlen(buffer.data(), buffer.size());
  if (length >= kMaxExpandedChars) return {kErrorValueTooLarge, std::string()};
  ExpandedText expanded;
  expanded.text = win32::Utf8(std::wstring_view(buffer.data(), length));
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
