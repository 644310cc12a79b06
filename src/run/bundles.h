// Treating a product's setup bundle and the Windows Installer packages it installed as one
// product: which rows are main bundles, which rows belong together, and the order in which the
// name hits are processed so that a bundle runs before its nested packages.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "inventory/uninstall_entry.h"

namespace varnok {

// ProductKey -> true when at least one name hit with that key is a main bundle.
using BundleProducts = std::map<std::string, bool>;

// True when `text` is exactly "Python <d>.<d>[.<d>] (32-bit)" or "... (64-bit)", letters in any
// case, <d> one or more ASCII digits. Nothing may follow.
bool IsPythonBundleName(std::string_view text);

// True for the Python installer's own row: its UninstallString runs "python-<digits and
// dots>.exe", or its display name is a Python bundle name.
bool IsPythonBundle(const UninstallEntry& entry);

// True for a product's main bundle: the Python bundle, a ".exe" kept in a "Package Cache\"
// folder, or a setup.exe / installer.exe run with "/uninstall". QuietUninstallString is ignored.
bool IsMainBundle(const UninstallEntry& entry);

// "<name part>|<display_version>". The name part is "Python <digits and dots>" or
// "Camtasia[ <digits>]" (fixed capitalisation) for those products' rows, otherwise the whole
// display name. Rows of one product compare equal byte for byte.
std::string ProductKey(const UninstallEntry& entry);

// For a row that is not a main bundle: 0 (pip, bootstrap), 1 (tests, documentation, path
// setting) or 2 (Tcl/Tk, utility scripts, development libraries) for Python's component rows;
// nullopt for every other row, including Python's core interpreter and launcher.
std::optional<int> PythonComponentRank(const UninstallEntry& entry);

// Processing priority, lower first: 0 main bundle, 10-12 Python components, 40 Windows Installer
// row without a main bundle among the hits, 50 any other row, 80 Windows Installer row whose
// product has a main bundle among the hits.
int OrderPriority(const UninstallEntry& entry, const BundleProducts& bundle_products);

// Builds the BundleProducts of `name_hits` and reorders them, stably, by priority, then
// display_version, then registry_path (both compared as unsigned bytes). Returns the map.
BundleProducts OrderNameHits(std::vector<UninstallEntry>* name_hits);

}  // namespace varnok
