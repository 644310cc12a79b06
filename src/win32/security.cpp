#include "win32/security.h"

#include <sddl.h>

#include "win32/text.h"
#include "win32/unique_handle.h"

namespace varnok::win32 {

std::string SidText(PSID sid) {
  wchar_t* text = nullptr;
  if (!sid || !::IsValidSid(sid) || !::ConvertSidToStringSidW(sid, &text)) return std::string();
  const UniqueLocalMemory owner(text);
  return Utf8(text);
}

std::string TokenSidText(HANDLE token, TOKEN_INFORMATION_CLASS which) {
  if (which != TokenUser && which != TokenOwner) return std::string();
  // Either record followed by room for the largest SID.
  alignas(TOKEN_USER) BYTE buffer[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE] = {};
  DWORD returned = 0;
  if (!::GetTokenInformation(token, which, buffer, sizeof buffer, &returned)) return std::string();
  return SidText(which == TokenUser ? reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid
                                    : reinterpret_cast<TOKEN_OWNER*>(buffer)->Owner);
}

std::string ProcessTokenSidText(TOKEN_INFORMATION_CLASS which) {
  UniqueHandle token;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.put())) return std::string();
  return TokenSidText(token.get(), which);
}

}  // namespace varnok::win32
