#include "run/bundles.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace varnok {
namespace {

const std::string kPyVersion = "3.12.1150.0";
const std::string kPyBundleCommand =
    "\"C:\\ProgramData\\Package Cache\\{0A1B2C3D-0000-1111-2222-333344445555}\\"
    "python-3.12.1-amd64.exe\" /uninstall";
const std::string kUninstallKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

UninstallEntry Row(const std::string& name, const std::string& version,
                   const std::string& uninstall_string, bool msi = false,
                   const std::string& key_name = "Contoso") {
  UninstallEntry entry;
  entry.root = RegistryRoot::kLocalMachine;
  entry.key_name = key_name;
  entry.registry_path = kUninstallKey + key_name;
  entry.display_name = name;
  entry.display_version = version;
  entry.uninstall_string = uninstall_string;
  entry.is_windows_installer = msi;
  return entry;
}

// A Windows Installer component row of the Python product, under its own subkey.
UninstallEntry PyComponent(const std::string& words, const std::string& key_name) {
  return Row("Python 3.12.1 " + words + " (64-bit)", kPyVersion, "MsiExec.exe /X" + key_name,
             true, key_name);
}

std::vector<std::string> Names(const std::vector<UninstallEntry>& entries) {
  std::vector<std::string> names;
  for (const UninstallEntry& e : entries) names.push_back(e.display_name);
  return names;
}

TEST(IsPythonBundleName, WholeNameOnly) {
  struct Case {
    std::string text;
    bool bundle;
  };
  const Case cases[] = {
      {"Python 3.11.4 (64-bit)", true},
      {"python 3.8 (32-BIT)", true},
      {"PYTHON 10.0.100 (64-bit)", true},
      {"Python 3.11.4 Core Interpreter (64-bit)", false},
      {"Python 3.11.4", false},
      {"Python 3 (64-bit)", false},
      {"Python 3.11.4.1 (64-bit)", false},
      {"Python 3. (64-bit)", false},
      {"Python 3.11. (64-bit)", false},  // the dot without digits is left to the rest
      {"Python .11 (64-bit)", false},
      {"Python3.11 (64-bit)", false},
      {"Python 3.11.4(64-bit)", false},
      {"Python 3.11.4 (64-bit) ", false},
      {"Python 3.11.4 (64-bit", false},
      {"Python 3.11.4 (128-bit)", false},
      {"Python 3.11.4 (64-bit)\xA0", false},
      {"Python 3.11.", false},
      {"Python ", false},
      {"", false},
  };
  for (const Case& c : cases) EXPECT_EQ(IsPythonBundleName(c.text), c.bundle) << c.text;
}

TEST(IsPythonBundle, InstallerFileNameOrBundleName) {
  struct Case {
    std::string name, uninstall_string;
    bool bundle;
  };
  const Case cases[] = {
      {"Contoso", "\"C:\\Cache\\python-3.8.10.exe\" /uninstall", true},
      {"Contoso", "C:\\Cache\\PYTHON-3.8.10.EXE", true},
      {"Contoso", "C:\\Cache\\python-3.exe", true},
      {"Contoso", "C:\\Cache\\python-3.8.10-amd64.exe", false},
      {"Contoso", "C:\\Cache\\python-.exe", false},
      {"Contoso", "C:\\Cache\\python-3.8.ex", false},
      {"Contoso", "C:\\Cache\\python-3.8.", false},
      {"Contoso", "C:\\python-x\\python-3.8.exe", false},  // only the first "python-" counts
      {"Contoso", "python-", false},
      {"Contoso", "", false},
      {"Python 3.12.1 (64-bit)", kPyBundleCommand, true},  // by its name
      {"Python 3.12.1 (64-bit)", "", true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IsPythonBundle(Row(c.name, "1", c.uninstall_string)), c.bundle)
        << c.name << " / " << c.uninstall_string;
  }
}

TEST(IsMainBundle, PackageCacheSetupUninstallOrPython) {
  struct Case {
    std::string uninstall_string, quiet;
    bool bundle;
  };
  const Case cases[] = {
      {"\"C:\\ProgramData\\Package Cache\\{X}\\Bundle.EXE\" /modify", "", true},
      {"C:\\ProgramData\\package cache\\{X}\\bundle.exe", "", true},
      {"\"C:\\ProgramData\\Package Cache\\{X}\\bundle.msi\"", "", false},
      {"\"C:\\ProgramData\\Package Cache\\{X}\\bundle.exe.bak\"", "", false},
      {"C:/ProgramData/Package Cache/{X}/bundle.exe", "", false},  // backslash required
      {"C:\\Package Cachex\\bundle.exe", "", false},
      {"C:\\App\\u.exe C:\\ProgramData\\Package Cache\\b.exe", "", false},  // only in arguments
      {"C:\\Program Files\\Contoso\\setup.exe /uninstall /quiet", "", true},
      {"C:\\Program Files\\Contoso\\setup.exe /quiet", "", false},
      {"C:\\Program Files\\Contoso\\uninstall.exe /uninstall", "", false},
      {"\"C:\\App\\MyInstaller.EXE\" /UNINSTALL", "", true},
      {"C:\\App\\u.exe /uninstall C:\\setup.exe", "", true},  // anywhere in the string
      {"C:\\App\\u.exe", "C:\\App\\setup.exe /uninstall", false},  // quiet command ignored
      {"C:\\Cache\\python-3.8.10.exe", "", true},
      {"", "", false},
  };
  for (const Case& c : cases) {
    UninstallEntry entry = Row("Contoso", "1", c.uninstall_string);
    entry.quiet_uninstall_string = c.quiet;
    EXPECT_EQ(IsMainBundle(entry), c.bundle) << c.uninstall_string;
  }
}

TEST(ProductKey, PythonAndCamtasiaNamePartsElseWholeName) {
  struct Case {
    std::string name, version, key;
  };
  const Case cases[] = {
      {"Python 3.11.4 Core Interpreter (64-bit)", "3.11.4150.0", "Python 3.11.4|3.11.4150.0"},
      {"Python 3.11.4 (64-bit)", "3.11.4150.0", "Python 3.11.4|3.11.4150.0"},
      {"PYTHON 3.12 pip", "3.12", "Python 3.12|3.12"},
      {"Python .5x", "1", "Python .5|1"},
      {"Python Launcher", kPyVersion, "Python Launcher|" + kPyVersion},
      {"Python ", "1", "Python |1"},
      {"Python", "1", "Python|1"},
      {"Camtasia 2023", "23.4.1", "Camtasia 2023|23.4.1"},
      {"CAMTASIA Studio", "9.1", "Camtasia|9.1"},
      {"camtasia 2023.1 x", "23.1", "Camtasia 2023|23.1"},
      {"Camtasia2023", "1", "Camtasia|1"},
      {"Camtasia  2023", "1", "Camtasia|1"},
      {"Camtasia ", "1", "Camtasia|1"},
      {"Camtasia", "", "Camtasia|"},
      {"Contoso Tool", "1.2", "Contoso Tool|1.2"},
      {"Contoso Tool", "", "Contoso Tool|"},
      {"contoso tool ", "1.2.0", "contoso tool |1.2.0"},  // stored text, case and blanks kept
      {"Caf\xE9", "1", "Caf\xE9|1"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ProductKey(Row(c.name, c.version, "")), c.key) << c.name;
  }
}

TEST(PythonComponentRank, FirstGroupWithAWordWins) {
  const std::optional<int> none;
  struct Case {
    std::string name;
    std::optional<int> rank;
  };
  const Case cases[] = {
      {"Python 3.12.1 pip Bootstrap (64-bit)", 0},
      {"PYTHON 3 PIP", 0},
      {"Python 3.12.1 Bootstrap", 0},
      {"Python 3.12.1 Test Suite (64-bit)", 1},
      {"Python 3.12.1 Documentation (64-bit)", 1},
      {"Python 3.12.1 Docs", 1},
      {"Python 3.12.1 Add to Path (64-bit)", 1},
      {"Python 3.12.1 Tcl/Tk Support (64-bit)", 2},
      {"Python 3.12.1 Tkinter", 2},
      {"Python 3.12.1 Utility Scripts (64-bit)", 2},
      {"Python 3.12.1 Development Libraries (64-bit)", 2},
      {"Python 3.12.1 Tcl/Tk and Test Suite", 1},  // group order, not position in the name
      {"Python 3.12.1 Tkinter pip", 0},
      {"Python 3.12.1 Core Interpreter (64-bit)", none},
      {"Python 3.12.1 Standard Library (64-bit)", none},
      {"Python 3.12.1 Executables (64-bit)", none},
      {"Python Launcher", none},
      {"Contoso pip bootstrap", none},
      {"Python", none},
      {"", none},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(PythonComponentRank(Row(c.name, "1", "")), c.rank) << c.name;
  }
}

TEST(OrderPriority, BundleThenComponentsThenInstallerRows) {
  const BundleProducts products = {
      {"Contoso Suite|1.0", true}, {"Contoso Lite|1.0", false}, {"Python 3.12.1|1", true}};
  struct Case {
    UninstallEntry entry;
    int priority;
  };
  const Case cases[] = {
      {Row("Contoso Suite", "1.0", "C:\\App\\setup.exe /uninstall", true), 0},
      {Row("Contoso Suite", "1.0", "MsiExec.exe /X{A}", true), 80},
      {Row("Contoso Suite", "1.1", "MsiExec.exe /X{A}", true), 40},  // other version
      {Row("Contoso Lite", "1.0", "MsiExec.exe /X{A}", true), 40},
      {Row("Contoso Other", "1.0", "MsiExec.exe /X{A}"), 40},         // not in the map
      {Row("Contoso Suite", "1.0", "C:\\App\\u.exe"), 50},           // bundle key, no installer
      {Row("Python 3.12.1 pip", "1", "MsiExec.exe /X{A}", true), 10},
      {Row("Python 3.12.1 Test Suite", "1", "C:\\x.exe"), 11},
      {Row("Python 3.12.1 Tcl/Tk", "1", "MsiExec.exe /X{A}", true), 12},
      {Row("Python 3.12.1 Core", "1", "MsiExec.exe /X{A}", true), 80},
      {Row("Python 3.12.1 pip", "1", "C:\\Cache\\python-3.12.1.exe"), 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(OrderPriority(c.entry, products), c.priority)
        << c.entry.display_name << " / " << c.entry.uninstall_string;
  }
}

TEST(OrderNameHits, PythonBundleBeforeItsComponents) {
  std::vector<UninstallEntry> hits = {
      PyComponent("Core Interpreter", "{C0000000-0000-0000-0000-000000000001}"),
      PyComponent("Tcl/Tk Support", "{C0000000-0000-0000-0000-000000000002}"),
      Row("Python Launcher", kPyVersion, "MsiExec.exe /X{C0000000-0000-0000-0000-000000000009}",
          true, "{C0000000-0000-0000-0000-000000000009}"),
      Row("Python 3.12.1 (64-bit)", kPyVersion, kPyBundleCommand, false,
          "{0A1B2C3D-0000-1111-2222-333344445555}"),
      PyComponent("Test Suite", "{C0000000-0000-0000-0000-000000000003}"),
      PyComponent("pip Bootstrap", "{C0000000-0000-0000-0000-000000000004}"),
  };
  const BundleProducts products = OrderNameHits(&hits);
  EXPECT_EQ(products, (BundleProducts{{"Python 3.12.1|" + kPyVersion, true},
                                      {"Python Launcher|" + kPyVersion, false}}));
  EXPECT_EQ(Names(hits), (std::vector<std::string>{
                             "Python 3.12.1 (64-bit)",
                             "Python 3.12.1 pip Bootstrap (64-bit)",
                             "Python 3.12.1 Test Suite (64-bit)",
                             "Python 3.12.1 Tcl/Tk Support (64-bit)",
                             "Python Launcher",
                             "Python 3.12.1 Core Interpreter (64-bit)",
                         }));
}

TEST(OrderNameHits, PythonComponentsWithoutTheirBundle) {
  std::vector<UninstallEntry> hits = {
      PyComponent("Core Interpreter", "{C0000000-0000-0000-0000-000000000001}"),
      Row("Contoso Tool", "1.0", "C:\\App\\u.exe"),
      PyComponent("Tcl/Tk Support", "{C0000000-0000-0000-0000-000000000002}"),
      PyComponent("Test Suite", "{C0000000-0000-0000-0000-000000000003}"),
      Row("Python 3.12.1 Utility Scripts (64-bit)", "0", "C:\\Py\\u.exe"),
      PyComponent("pip Bootstrap", "{C0000000-0000-0000-0000-000000000004}"),
  };
  const BundleProducts products = OrderNameHits(&hits);
  EXPECT_FALSE(products.at("Python 3.12.1|" + kPyVersion));
  EXPECT_EQ(Names(hits), (std::vector<std::string>{
                             "Python 3.12.1 pip Bootstrap (64-bit)",
                             "Python 3.12.1 Test Suite (64-bit)",
                             "Python 3.12.1 Utility Scripts (64-bit)",  // version "0" sorts first
                             "Python 3.12.1 Tcl/Tk Support (64-bit)",
                             "Python 3.12.1 Core Interpreter (64-bit)",
                             "Contoso Tool",
                         }));
}

TEST(OrderNameHits, BundleKeyIsTrueWhereverTheBundleStands) {
  struct Case {
    std::vector<UninstallEntry> hits;
    BundleProducts products;
    std::vector<std::string> paths;  // last subkey of each row, in processing order
  };
  const UninstallEntry msi = Row("Contoso Suite", "1.2", "MsiExec.exe /X{A}", true, "msi");
  const UninstallEntry msi_other_version =
      Row("Contoso Suite", "1.2.0", "MsiExec.exe /X{A}", true, "msi2");
  const UninstallEntry setup =
      Row("Contoso Suite", "1.2", "C:\\Contoso\\setup.exe /uninstall /quiet", false, "setup");
  const UninstallEntry cache_exe = Row(
      "Contoso Suite", "1.2", "\"C:\\ProgramData\\Package Cache\\{X}\\Suite.EXE\"", false, "cache");
  const UninstallEntry cache_msi = Row(
      "Contoso Suite", "1.2", "\"C:\\ProgramData\\Package Cache\\{X}\\Suite.msi\"", false, "cmsi");
  const UninstallEntry no_switch =
      Row("Contoso Suite", "1.2", "C:\\Contoso\\setup.exe /quiet", false, "plain");
  const Case cases[] = {
      {{msi, setup}, {{"Contoso Suite|1.2", true}}, {"setup", "msi"}},
      {{setup, msi}, {{"Contoso Suite|1.2", true}}, {"setup", "msi"}},
      {{msi, cache_exe}, {{"Contoso Suite|1.2", true}}, {"cache", "msi"}},
      // Without a main bundle the installer row runs before plain executables.
      {{cache_msi, msi}, {{"Contoso Suite|1.2", false}}, {"msi", "cmsi"}},
      {{no_switch, msi}, {{"Contoso Suite|1.2", false}}, {"msi", "plain"}},
      // Another DisplayVersion is another product: its installer row keeps priority 40.
      {{msi_other_version, no_switch, setup},
       {{"Contoso Suite|1.2", true}, {"Contoso Suite|1.2.0", false}},
       {"setup", "msi2", "plain"}},
  };
  for (const Case& c : cases) {
    std::vector<UninstallEntry> hits = c.hits;
    EXPECT_EQ(OrderNameHits(&hits), c.products);
    std::vector<std::string> keys;
    for (const UninstallEntry& e : hits) keys.push_back(e.key_name);
    EXPECT_EQ(keys, c.paths);
  }
}

TEST(OrderNameHits, EqualPrioritiesByVersionThenPathAsUnsignedBytes) {
  struct Case {
    std::vector<std::pair<std::string, std::string>> version_and_key;  // input order
    std::vector<std::string> keys;                                     // processing order
  };
  const Case cases[] = {
      {{{"9.0", "a"}, {"10.0", "b"}}, {"b", "a"}},
      {{{"a", "x"}, {"B", "y"}}, {"y", "x"}},
      {{{"1.2.0", "x"}, {"1.2", "y"}, {"", "z"}}, {"z", "y", "x"}},
      {{{"\xE9", "x"}, {"z", "y"}}, {"y", "x"}},  // high bytes after ASCII
      {{{"1", "b"}, {"1", "B"}, {"1", "a"}}, {"B", "a", "b"}},
      {{{"1", "ab"}, {"1", "a"}}, {"a", "ab"}},
      {{{"1", "\xC0"}, {"1", "~"}}, {"~", "\xC0"}},
  };
  for (const Case& c : cases) {
    std::vector<UninstallEntry> hits;
    for (const auto& [version, key] : c.version_and_key) {
      hits.push_back(Row("Contoso " + key, version, "C:\\App\\u.exe", false, key));
    }
    OrderNameHits(&hits);
    std::vector<std::string> keys;
    for (const UninstallEntry& e : hits) keys.push_back(e.key_name);
    EXPECT_EQ(keys, c.keys);
  }
}

TEST(OrderNameHits, PriorityBeforeVersion) {
  std::vector<UninstallEntry> hits = {
      Row("Contoso Tool", "1", "C:\\App\\u.exe", false, "exe"),
      Row("Contoso Tool", "2", "MsiExec.exe /X{A}", true, "msi"),
      Row("Contoso Suite", "9", "C:\\App\\setup.exe /uninstall", false, "bundle"),
  };
  OrderNameHits(&hits);
  std::vector<std::string> keys;
  for (const UninstallEntry& e : hits) keys.push_back(e.key_name);
  EXPECT_EQ(keys, (std::vector<std::string>{"bundle", "msi", "exe"}));
}

TEST(OrderNameHits, SameKeyInBothViewsKeepsInventoryOrder) {
  for (const bool first_64 : {true, false}) {
    UninstallEntry a = Row("Contoso Tool", "1.0", "C:\\App\\u.exe", false, "Tool");
    UninstallEntry b = a;
    a.view_64bit = first_64;
    b.view_64bit = !first_64;
    std::vector<UninstallEntry> hits = {a, Row("Contoso Tool", "1.0", "C:\\u.exe", false, "A"),
                                        b};
    OrderNameHits(&hits);
    ASSERT_EQ(hits.size(), 3u);
    EXPECT_EQ(hits[0].key_name, "A");
    EXPECT_EQ(hits[1].view_64bit, first_64);
    EXPECT_EQ(hits[2].view_64bit, !first_64);
    EXPECT_EQ(hits[1].uninstall_string, "C:\\App\\u.exe");  // entries moved whole
  }
}

TEST(OrderNameHits, ManyEqualRowsKeepTheirOrderAmongOthers) {
  // Enough rows that an unstable sort would move equal ones about.
  std::vector<UninstallEntry> hits;
  for (int i = 0; i < 64; ++i) {
    UninstallEntry row = Row("Contoso Tool", i % 2 ? "1.0" : "0.9", "C:\\App\\u.exe", false,
                             i % 3 ? "Tool" : "Old");
    row.arch = std::to_string(i);
    hits.push_back(row);
  }
  OrderNameHits(&hits);
  ASSERT_EQ(hits.size(), 64u);
  std::vector<int> expected;
  for (const char* version : {"0.9", "1.0"}) {
    for (const char* key : {"Old", "Tool"}) {
      for (int i = 0; i < 64; ++i) {
        if ((i % 2 ? "1.0" : "0.9") == std::string(version) &&
            (i % 3 ? "Tool" : "Old") == std::string(key)) {
          expected.push_back(i);
        }
      }
    }
  }
  std::vector<int> order;
  for (const UninstallEntry& e : hits) order.push_back(std::stoi(e.arch));
  EXPECT_EQ(order, expected);
}

TEST(OrderNameHits, NoHits) {
  std::vector<UninstallEntry> hits;
  EXPECT_TRUE(OrderNameHits(&hits).empty());
  EXPECT_TRUE(hits.empty());
}

}  // namespace
}  // namespace varnok
