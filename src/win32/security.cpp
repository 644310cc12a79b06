#include "win32/security.h"

#include <aclapi.h>
#include <sddl.h>

#include "win32/text.h"
#include "win32/unique_handle.h"

namespace varnok::win32 {
namespace {

// The SID of an object ACE follows its flags and whichever of its two GUIDs are present.
PSID ObjectAceSid(const ACE_HEADER* header) {
  const auto* ace = reinterpret_cast<const ACCESS_ALLOWED_OBJECT_ACE*>(header);
  const BYTE* sid = reinterpret_cast<const BYTE*>(&ace->ObjectType);
  if (ace->Flags & ACE_OBJECT_TYPE_PRESENT) sid += sizeof(GUID);
  if (ace->Flags & ACE_INHERITED_OBJECT_TYPE_PRESENT) sid += sizeof(GUID);
  return const_cast<BYTE*>(sid);
}

AccessEntry ReadAce(const ACE_HEADER* header) {
  AccessEntry entry;
  entry.flags = header->AceFlags;
  // Every known DACL entry type starts with the header and a 32-bit mask.
  entry.mask = reinterpret_cast<const ACCESS_ALLOWED_ACE*>(header)->Mask;
  const auto plain_sid = [&] {
    const auto* ace = reinterpret_cast<const ACCESS_ALLOWED_ACE*>(header);
    return SidText(const_cast<DWORD*>(&ace->SidStart));
  };
  switch (header->AceType) {
    case ACCESS_ALLOWED_ACE_TYPE:
    case ACCESS_ALLOWED_CALLBACK_ACE_TYPE:
      entry.kind = AccessEntry::Kind::kAllow;
      entry.sid = plain_sid();
      break;
    case ACCESS_DENIED_ACE_TYPE:
    case ACCESS_DENIED_CALLBACK_ACE_TYPE:
      entry.kind = AccessEntry::Kind::kDeny;
      entry.sid = plain_sid();
      break;
    case ACCESS_ALLOWED_OBJECT_ACE_TYPE:
    case ACCESS_ALLOWED_CALLBACK_OBJECT_ACE_TYPE:
      entry.kind = AccessEntry::Kind::kAllow;
      entry.sid = SidText(ObjectAceSid(header));
      break;
    case ACCESS_DENIED_OBJECT_ACE_TYPE:
    case ACCESS_DENIED_CALLBACK_OBJECT_ACE_TYPE:
      entry.kind = AccessEntry::Kind::kDeny;
      entry.sid = SidText(ObjectAceSid(header));
      break;
    default:
      entry.kind = AccessEntry::Kind::kOther;
      break;
  }
  return entry;
}

}  // namespace

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

DWORD ReadObjectSecurity(HANDLE object, SE_OBJECT_TYPE type, FileSecurity* security) {
  PSID owner = nullptr;
  PACL dacl = nullptr;
  UniqueLocalMemory descriptor;
  const DWORD rc = ::GetSecurityInfo(object, type,
                                     OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                     &owner, nullptr, &dacl, nullptr, descriptor.put());
  if (rc != ERROR_SUCCESS) return rc;
  FileSecurity result;
  result.is_link = security->is_link;
  result.owner_sid = SidText(owner);
  result.has_dacl = dacl != nullptr;
  if (dacl) {
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
      void* ace = nullptr;
      if (!::GetAce(dacl, i, &ace)) {
        result.dacl.push_back({AccessEntry::Kind::kOther, 0, 0, std::string()});
        continue;
      }
      result.dacl.push_back(ReadAce(static_cast<const ACE_HEADER*>(ace)));
    }
  }
  *security = std::move(result);
  return ERROR_SUCCESS;
}

}  // namespace varnok::win32
