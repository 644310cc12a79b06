#include "common/strings.h"

#include <gtest/gtest.h>

namespace varnok {
namespace {

TEST(CaseFolding, OnlyAsciiLettersChange) {
  const std::string high = "\x80\xC4\xE4\xFF";  // bytes of 128 and above stay as they are
  EXPECT_EQ(ToLowerCopy("AbC-Z@[`{" + high), "abc-z@[`{" + high);
  EXPECT_EQ(ToUpperCopy("aBc-z@[`{" + high), "ABC-Z@[`{" + high);
  EXPECT_TRUE(EqualsNoCase("Program Files\xC4", "PROGRAM files\xC4"));
  EXPECT_FALSE(EqualsNoCase("\xC4", "\xE4"));  // Latin-1 A-umlaut vs a-umlaut differ
}

TEST(Trim, RemovesTheSixWhiteSpaceCharactersAtBothEnds) {
  struct Row {
    std::string in, out;
  };
  const Row rows[] = {
      {"", ""},
      {" \t\n\v\f\r", ""},
      {" \t a b \r\n", "a b"},
      {"\xA0x\xA0", "\xA0x\xA0"},  // a non-breaking space byte is not white space
      {std::string("x\0", 2), std::string("x\0", 2)},
  };
  for (const Row& r : rows) EXPECT_EQ(Trim(r.in), r.out) << "[" << r.in << "]";
}

TEST(NoCaseComparisons, CountedAndBounded) {
  EXPECT_TRUE(EndsWithNoCase("C:\\App\\SETUP.EXE", ".exe"));
  EXPECT_FALSE(EndsWithNoCase("exe", ".exe"));
  EXPECT_TRUE(EndsWithNoCase("x", ""));
  EXPECT_TRUE(StartsWithNoCase("Python 3", "python "));
  EXPECT_FALSE(StartsWithNoCase("Pyt", "python"));
  EXPECT_EQ(FindNoCase("Hello World", "WORLD"), 6u);
  EXPECT_EQ(FindNoCase("abc", "abcd"), std::string::npos);
  EXPECT_EQ(FindNoCase("abc", ""), 0u);
  EXPECT_FALSE(ContainsNoCase("", "a"));
}

TEST(PathHelpers, SplitAtLastSeparator) {
  struct Row {
    std::string path, parent, file, no_ext, ext;
  };
  const Row rows[] = {
      {"C:\\App\\u.exe", "C:\\App", "u.exe", "C:\\App\\u", "exe"},
      {"C:/App/sub\\x", "C:/App/sub", "x", "C:/App/sub\\x", ""},
      {"C:\\App\\", "C:\\App", "", "C:\\App\\", ""},
      {"plain", "plain", "plain", "plain", ""},
      {"", "", "", "", ""},
      {"a.b\\c.tar.gz", "a.b", "c.tar.gz", "a.b\\c.tar", "gz"},
      {".\\logs\\fmprereqhandler.log", ".\\logs", "fmprereqhandler.log", ".\\logs\\fmprereqhandler",
       "log"},
  };
  for (const Row& r : rows) {
    EXPECT_EQ(GetParentPath(r.path), r.parent) << r.path;
    EXPECT_EQ(GetFileName(r.path), r.file) << r.path;
    EXPECT_EQ(RemoveExtension(r.path), r.no_ext) << r.path;
    EXPECT_EQ(GetExtension(r.path), r.ext) << r.path;
  }
}

TEST(SplitAny, KeepsNonEmptyPiecesInOrder) {
  using V = std::vector<std::string>;
  EXPECT_EQ(SplitAny("", "."), V{});
  EXPECT_EQ(SplitAny("...", "."), V{});
  EXPECT_EQ(SplitAny(".1..2.", "."), (V{"1", "2"}));
  EXPECT_EQ(SplitAny("\\\\srv/share\\\\x", "\\/"), (V{"srv", "share", "x"}));
  EXPECT_EQ(SplitAny("abc", ""), V{"abc"});
}

}  // namespace
}  // namespace varnok
