#include "inventory/name_match.h"

#include <gtest/gtest.h>

namespace varnok {
namespace {

TEST(MatchesDisplayName, ModesCaseFoldingAndEmptyTexts) {
  const auto kExact = NameMatchKind::kExact, kPrefix = NameMatchKind::kPrefix,
             kContains = NameMatchKind::kContains, kOther = static_cast<NameMatchKind>(9);
  struct Row {
    NameMatchKind mode;
    std::string pattern, name;
    bool match;
  };
  const Row rows[] = {
      {kExact, "Acme Tool", "ACME TOOL", true},    {kExact, "Acme Tool", "Acme Tool 2", false},
      {kExact, "Acme Tool", "Acme Tool ", false},  {kExact, "Acme Tool ", "Acme Tool", false},
      {kExact, "Acme Tool", "Acme", false},        {kExact, "2019", "2019", true},
      {kExact, "Caf\u00C9", "caf\u00C9", true},    {kExact, "Caf\u00C9", "Caf\u00E9", false},
      // Names in scripts no code page holds: exactly themselves, only ASCII letters folded.
      {kExact, "\u041F\u043E\u0447\u0442\u0430", "\u041F\u043E\u0447\u0442\u0430", true},
      {kExact, "\u041F\u043E\u0447\u0442\u0430", "\u041A\u0430\u0440\u0442\u0430", false},
      {kExact, "\u043F\u043E\u0447\u0442\u0430", "\u041F\u043E\u0447\u0442\u0430", false},
      {kContains, "\u6D4F\u89C8", "Contoso \u6D4F\u89C8\u5668", true},
      {kContains, "\u6D4F", "\u89C8\u5668", false},
      {kPrefix, "caf", "CAF\u00C9 2", true},
      // Bytes that are not UTF-8 never came from Windows: never a match, not even with themselves.
      {kExact, "Caf\xE9", "Caf\xE9", false},     {kContains, "Acme", "Acme \xFF", false},
      {kPrefix, "Acme", "Acme Tool 2", true},      {kPrefix, "Acme", "ACME", true},
      {kPrefix, "Acme", "Acm", false},             {kPrefix, "Acme", " Acme", false},
      {kPrefix, "20", "2019", true},               {kContains, "tool", "Acme Tool 2", true},
      {kContains, "tool", "Acme", false},          {kContains, "01", "2019", true},
      {kContains, "TOOL 2", "acme tool 2", true},  {kOther, "Acme", "aCME", true},
      {kOther, "Acme", "Acme Tool", false},
  };
  for (const Row& r : rows) {
    NameRule options;
    options.NameMatch = r.mode;
    options.DisplayName = r.pattern;
    EXPECT_EQ(MatchesDisplayName(r.name, options), r.match) << r.pattern << " / " << r.name;
  }
  for (NameMatchKind mode : {kExact, kPrefix, kContains, kOther}) {
    NameRule options;
    options.NameMatch = mode;
    options.DisplayName = "Acme";
    EXPECT_FALSE(MatchesDisplayName("", options));
    options.DisplayName.clear();
    EXPECT_FALSE(MatchesDisplayName("Acme", options));
    EXPECT_FALSE(MatchesDisplayName("", options));
  }
}

TEST(IsProtectedShellComponent, BeginsWithAShellName) {
  struct Row {
    std::string name;
    bool is_protected;
  };
  const Row rows[] = {
      {"Windows Explorer Tools", true},   {"Microsoft Windows Desktop Runtime - 8.0.1 (x64)", true},
      {"DESKTOP WINDOW MANAGER", true},   {"Windows Shell Experience Host", true},
      {"microsoft windows", true},        {"Microsoft.Windows.ShellExperienceHost", true},
      {"Explorer for Windows", false},    {"Microsoft Window", false},
      {" Microsoft Windows", false},      {"Microsoft\xA0Windows", false},
      {"Microsoft Office", false},        {"", false},
  };
  for (const Row& r : rows) EXPECT_EQ(IsProtectedShellComponent(r.name), r.is_protected) << r.name;
}

}  // namespace
}  // namespace varnok
