// Security identifiers as the program logs and compares them: "S-1-5-..." text.
#pragma once

#include <windows.h>

#include <string>

namespace varnok::win32 {

// The text of a SID ("S-1-5-18"), or empty for a null or malformed one.
std::string SidText(PSID sid);

// The SID a token names as its user (TokenUser) or as the default owner of what it creates
// (TokenOwner); empty when it cannot be read.
std::string TokenSidText(HANDLE token, TOKEN_INFORMATION_CLASS which);

// The same for this process's own token.
std::string ProcessTokenSidText(TOKEN_INFORMATION_CLASS which);

}  // namespace varnok::win32
