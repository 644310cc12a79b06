// String and path helpers on narrow (ANSI code page) text. Character classes and case folding are
// ASCII only: bytes of 128 and above are never letters, digits or white space and never change.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace varnok {

bool IsAsciiDigit(char c);
bool IsAsciiAlpha(char c);
bool IsAsciiAlnum(char c);
bool IsAsciiHexDigit(char c);
// Space, tab, line feed, vertical tab, form feed, carriage return.
bool IsAsciiSpace(char c);
// Space or tab.
bool IsBlank(char c);
char ToLowerAscii(char c);
char ToUpperAscii(char c);

std::string ToLowerCopy(std::string_view text);
std::string ToUpperCopy(std::string_view text);
std::string Trim(std::string_view text);

bool EqualsNoCase(std::string_view a, std::string_view b);
// True when text begins with prefix (counted comparison, A-Z equal to a-z).
bool StartsWithNoCase(std::string_view text, std::string_view prefix);
bool EndsWithNoCase(std::string_view text, std::string_view suffix);
// Position of the first occurrence of needle in haystack ignoring ASCII case, or npos. An empty
// needle is found at 0.
size_t FindNoCase(std::string_view haystack, std::string_view needle);
bool ContainsNoCase(std::string_view haystack, std::string_view needle);

// Text before the last backslash or slash; the whole text when there is none.
std::string GetParentPath(std::string_view path);
// Text after the last backslash or slash (empty when the text ends with one); the whole text
// when there is none.
std::string GetFileName(std::string_view path);
// Text before the last "."; the whole text when there is none.
std::string RemoveExtension(std::string_view path);
// Text after the last "."; empty when there is none.
std::string GetExtension(std::string_view path);

// The non-empty pieces of text between any of the delimiter characters, in order.
std::vector<std::string> SplitAny(std::string_view text, std::string_view delimiters);

}  // namespace varnok
