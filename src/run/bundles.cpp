#include "run/bundles.h"

#include <algorithm>
#include <utility>

#include "common/strings.h"
#include "uninstall/classify.h"

namespace varnok {
namespace {

constexpr std::string_view kPythonPrefix = "Python ";
constexpr std::string_view kCamtasiaPrefix = "Camtasia";

bool IsDigitOrDot(char c) { return IsAsciiDigit(c) || c == '.'; }

// Index just past the run of ASCII digits that starts at `from`.
size_t SkipDigits(std::string_view text, size_t from) {
  while (from < text.size() && IsAsciiDigit(text[from])) ++from;
  return from;
}

size_t SkipDigitsAndDots(std::string_view text, size_t from) {
  while (from < text.size() && IsDigitOrDot(text[from])) ++from;
  return from;
}

// The installer's file name "python-3.8.10.exe": "python-", digits or dots, then ".exe".
bool RunsPythonInstaller(const std::string& uninstall_string) {
  const std::string lower = ToLowerCopy(uninstall_string);
  const size_t hit = lower.find("python-");
  if (hit == std::string::npos) return false;
  const size_t start = hit + 7;
  const size_t end = SkipDigitsAndDots(lower, start);
  // The dot of ".exe" is itself a digit-or-dot, so the run may have swallowed it.
  for (size_t dot = start + 1; dot <= end; ++dot) {
    if (lower.compare(dot, 4, ".exe") == 0) return true;
  }
  return false;
}

// Unsigned byte order; a prefix sorts first.
bool ByteLess(const std::string& a, const std::string& b) {
  return std::lexicographical_compare(
      a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return static_cast<unsigned char>(x) < static_cast<unsigned char>(y);
      });
}

BundleProducts BuildBundleProducts(const std::vector<UninstallEntry>& name_hits) {
  BundleProducts products;
  for (const UninstallEntry& entry : name_hits) {
    const std::string key = ProductKey(entry);
    if (IsMainBundle(entry)) {
      products[key] = true;
    } else {
      products.emplace(key, false);  // keeps a true set by an earlier bundle
    }
  }
  return products;
}

}  // namespace

bool IsPythonBundleName(std::string_view text) {
  if (!StartsWithNoCase(text, kPythonPrefix)) return false;
  size_t pos = kPythonPrefix.size();
  size_t next = SkipDigits(text, pos);
  if (next == pos || next >= text.size() || text[next] != '.') return false;
  pos = next + 1;
  next = SkipDigits(text, pos);
  if (next == pos) return false;
  pos = next;
  // A third number only counts when digits follow its dot.
  if (pos + 1 < text.size() && text[pos] == '.' && IsAsciiDigit(text[pos + 1])) {
    pos = SkipDigits(text, pos + 1);
  }
  const std::string_view rest = text.substr(pos);
  return EqualsNoCase(rest, " (32-bit)") || EqualsNoCase(rest, " (64-bit)");
}

bool IsPythonBundle(const UninstallEntry& entry) {
  return RunsPythonInstaller(entry.uninstall_string) || IsPythonBundleName(entry.display_name);
}

bool IsMainBundle(const UninstallEntry& entry) {
  if (IsPythonBundle(entry)) return true;
  const std::string executable = GetExecutablePath(entry.uninstall_string);
  if (ContainsNoCase(executable, "Package Cache\\") && EndsWithNoCase(executable, ".exe")) {
    return true;
  }
  const std::string& command = entry.uninstall_string;
  return (ContainsNoCase(command, "installer.exe") || ContainsNoCase(command, "setup.exe")) &&
         ContainsNoCase(command, "/uninstall");
}

std::string ProductKey(const UninstallEntry& entry) {
  const std::string& name = entry.display_name;
  std::string name_part;
  const size_t after_python = kPythonPrefix.size();
  const size_t after_camtasia = kCamtasiaPrefix.size();
  if (StartsWithNoCase(name, kPythonPrefix) && name.size() > after_python &&
      IsDigitOrDot(name[after_python])) {
    // Python's package rows add words ("Core Interpreter") that its bundle row lacks.
    name_part = std::string(kPythonPrefix) +
                name.substr(after_python, SkipDigitsAndDots(name, after_python) - after_python);
  } else if (StartsWithNoCase(name, kCamtasiaPrefix)) {
    name_part = std::string(kCamtasiaPrefix);
    if (name.size() > after_camtasia + 1 && name[after_camtasia] == ' ' &&
        IsAsciiDigit(name[after_camtasia + 1])) {
      const size_t digits = after_camtasia + 1;
      name_part += ' ' + name.substr(digits, SkipDigits(name, digits) - digits);
    }
  } else {
    name_part = name;
  }
  return name_part + "|" + entry.display_version;
}

std::optional<int> PythonComponentRank(const UninstallEntry& entry) {
  if (!StartsWithNoCase(entry.display_name, kPythonPrefix)) return std::nullopt;
  static const std::vector<std::vector<const char*>> kWordsByRank = {
      {"pip bootstrap", "pip", "bootstrap"},
      {"test suite", "test", "documentation", "docs", "add to path"},
      {"tcl", "tkinter", "utility scripts", "development libraries"},
  };
  const std::string lower = ToLowerCopy(entry.display_name);
  for (size_t rank = 0; rank < kWordsByRank.size(); ++rank) {
    for (const char* word : kWordsByRank[rank]) {
      if (lower.find(word) != std::string::npos) return static_cast<int>(rank);
    }
  }
  return std::nullopt;
}

int OrderPriority(const UninstallEntry& entry, const BundleProducts& bundle_products) {
  if (IsMainBundle(entry)) return 0;
  if (const std::optional<int> rank = PythonComponentRank(entry)) return 10 + *rank;
  if (IsMsiEntry(entry)) {
    const auto product = bundle_products.find(ProductKey(entry));
    // A package whose bundle is among the hits goes last: the bundle normally removes it.
    return product != bundle_products.end() && product->second ? 80 : 40;
  }
  return 50;
}

BundleProducts OrderNameHits(std::vector<UninstallEntry>* name_hits) {
  BundleProducts products = BuildBundleProducts(*name_hits);
  std::vector<std::pair<int, UninstallEntry>> ranked;
  ranked.reserve(name_hits->size());
  for (UninstallEntry& entry : *name_hits) {
    const int priority = OrderPriority(entry, products);
    ranked.emplace_back(priority, std::move(entry));
  }
  std::stable_sort(ranked.begin(), ranked.end(), [](const auto& a, const auto& b) {
    if (a.first != b.first) return a.first < b.first;
    if (a.second.display_version != b.second.display_version) {
      return ByteLess(a.second.display_version, b.second.display_version);
    }
    return ByteLess(a.second.registry_path, b.second.registry_path);
  });
  name_hits->clear();
  for (auto& pair : ranked) name_hits->push_back(std::move(pair.second));
  return products;
}

}  // namespace varnok
