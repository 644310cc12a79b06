#include "common/utf8.h"

#include <gtest/gtest.h>

namespace varnok {
namespace {

TEST(Utf8, EveryWindowsTextConvertsExactlyBothWays) {
  struct Case {
    const char* what;
    std::u16string utf16;
    std::string utf8;
  };
  const Case cases[] = {
      {"ASCII", u"Contoso Tool 2.4", "Contoso Tool 2.4"},
      {"Western", u"Caf\u00E9 \u20AC", "Caf\xC3\xA9 \xE2\x82\xAC"},
      {"Cyrillic and Chinese", u"\u041F\u0440\u043E \u4E2D\u6587", "\xD0\x9F\xD1\x80\xD0\xBE \xE4\xB8\xAD\xE6\x96\x87"},
      {"katakana so, whose code page 932 trail byte is a backslash", u"\u30BD\\x", "\xE3\x82\xBD\\x"},
      {"a surrogate pair", u"\U0001F600", "\xF0\x9F\x98\x80"},
      {"an unpaired high surrogate in a name", std::u16string(u"a") + char16_t(0xD800) + u"b",
       "a\xED\xA0\x80" "b"},
      {"an unpaired low surrogate", std::u16string(1, char16_t(0xDC01)), "\xED\xB0\x81"},
      {"a NUL inside", std::u16string(u"a\0b", 3), std::string("a\0b", 3)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(Utf8FromUtf16(c.utf16), c.utf8);
    std::u16string back;
    ASSERT_TRUE(Utf16FromUtf8(c.utf8, &back));
    EXPECT_EQ(back, c.utf16);
  }
}

TEST(Utf8, TextThatIsNotUtf8IsRefusedNeverGuessed) {
  const std::string cases[] = {
      "\xE9",                  // a code page byte
      "\xC3",                  // cut short
      "\x80",                  // a continuation alone
      "\xC0\xAF",              // an overlong "/"
      "\xE0\x80\xAF",          // another
      "\xF4\x90\x80\x80",      // past U+10FFFF
      "\xED\xA0\x80\xED\xB0\x80",  // a pair written as two halves: not the one form of U+10000
      "ok\xFF",
  };
  for (const std::string& text : cases) {
    std::u16string out;
    EXPECT_FALSE(Utf16FromUtf8(text, &out)) << testing::PrintToString(text);
  }
}

}  // namespace
}  // namespace varnok
