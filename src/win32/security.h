// Security identifiers as the program logs and compares them: "S-1-5-..." text.
#pragma once

#include <windows.h>
#include <accctrl.h>

#include <string>

#include "process/file_trust.h"

namespace varnok::win32 {

// The text of a SID ("S-1-5-18"), or empty for a null or malformed one.
std::string SidText(PSID sid);

// The SID a token names as its user (TokenUser) or as the default owner of what it creates
// (TokenOwner); empty when it cannot be read.
std::string TokenSidText(HANDLE token, TOKEN_INFORMATION_CLASS which);

// The same for this process's own token.
std::string ProcessTokenSidText(TOKEN_INFORMATION_CLASS which);

// The owner and DACL of an open file or registry key (`type` SE_FILE_OBJECT or SE_REGISTRY_KEY),
// as the trust judgement reads them; `is_link` is left as it is. Needs READ_CONTROL. Returns the
// Win32 error, 0 on success; `security` is set only on success.
DWORD ReadObjectSecurity(HANDLE object, SE_OBJECT_TYPE type, FileSecurity* security);

}  // namespace varnok::win32
