// Descriptors for the tests written the way Windows prints them (Get-Acl's Sddl, icacls /save):
// "O:<owner>D:<flags>(<ace>)(<ace>)...". Only what file and registry key DACLs use: the ACE types A, D, XA, XD,
// OA, OD (others parse as unknown), the flags OI CI NP IO ID, rights in hex or as the two-letter
// codes, and SIDs written out or as the usual aliases. Test code only.
#pragma once

#include <stdexcept>
#include <string>

#include "process/file_trust.h"

namespace varnok::testing {

inline std::string SidOfAlias(const std::string& text) {
  static const std::pair<const char*, const char*> kAliases[] = {
      {"SY", "S-1-5-18"},     {"BA", "S-1-5-32-544"}, {"BU", "S-1-5-32-545"},
      {"PU", "S-1-5-32-547"}, {"CO", "S-1-3-0"},      {"OW", "S-1-3-4"},
      {"WD", "S-1-1-0"},      {"AU", "S-1-5-11"},     {"IU", "S-1-5-4"},
      {"LS", "S-1-5-19"},     {"NS", "S-1-5-20"},     {"AC", "S-1-15-2-1"}};
  for (const auto& [alias, sid] : kAliases) {
    if (text == alias) return sid;
  }
  if (text.rfind("S-1-", 0) == 0) return text;
  throw std::invalid_argument("unknown SID alias " + text);
}

inline unsigned long RightsOf(const std::string& text) {
  if (text.rfind("0x", 0) == 0) return std::stoul(text, nullptr, 16);
  static const std::pair<const char*, unsigned long> kCodes[] = {
      {"GA", 0x10000000}, {"GR", 0x80000000}, {"GW", 0x40000000}, {"GX", 0x20000000},
      {"FA", 0x1F01FF},   {"FR", 0x120089},   {"FW", 0x120116},   {"FX", 0x1200A0},
      {"SD", 0x10000},    {"RC", 0x20000},    {"WD", 0x40000},    {"WO", 0x80000},
      {"CC", 0x1},        {"DC", 0x2},        {"LC", 0x4},        {"SW", 0x8},
      {"RP", 0x10},       {"WP", 0x20},       {"DT", 0x40},       {"LO", 0x80},
      {"CR", 0x100},      {"KA", 0xF003F},    {"KR", 0x20019},    {"KW", 0x20006}};
  unsigned long mask = 0;
  for (size_t i = 0; i < text.size(); i += 2) {
    const std::string code = text.substr(i, 2);
    bool known = false;
    for (const auto& [name, bits] : kCodes) {
      if (code == name) {
        mask |= bits;
        known = true;
      }
    }
    if (!known) throw std::invalid_argument("unknown right " + code);
  }
  return mask;
}

inline unsigned FlagsOf(const std::string& text) {
  unsigned flags = 0;
  for (size_t i = 0; i < text.size(); i += 2) {
    const std::string code = text.substr(i, 2);
    if (code == "OI") flags |= 0x01;
    else if (code == "CI") flags |= 0x02;
    else if (code == "NP") flags |= 0x04;
    else if (code == "IO") flags |= 0x08;
    else if (code == "ID") flags |= 0x10;
    else throw std::invalid_argument("unknown ACE flag " + code);
  }
  return flags;
}

inline FileSecurity ParseSddl(const std::string& sddl) {
  FileSecurity security;
  size_t owner = sddl.find("O:");
  size_t dacl = sddl.find("D:");
  if (owner != std::string::npos) {
    size_t end = sddl.find_first_of(":", owner + 2);
    end = end == std::string::npos ? sddl.size() : end - 1;  // up to the next "X:"
    security.owner_sid = SidOfAlias(sddl.substr(owner + 2, end - owner - 2));
  }
  if (dacl == std::string::npos) throw std::invalid_argument("no DACL in " + sddl);
  if (sddl.compare(dacl + 2, 17, "NO_ACCESS_CONTROL") == 0) {
    security.has_dacl = false;
    return security;
  }
  for (size_t open = sddl.find('(', dacl); open != std::string::npos;
       open = sddl.find('(', open + 1)) {
    const size_t close = sddl.find(')', open);
    std::string fields[6];
    size_t start = open + 1;
    for (int f = 0; f < 6; ++f) {
      const size_t stop = f == 5 ? close : sddl.find(';', start);
      fields[f] = sddl.substr(start, stop - start);
      start = stop + 1;
    }
    AccessEntry entry;
    const std::string& type = fields[0];
    if (type == "A" || type == "XA" || type == "OA") entry.kind = AccessEntry::Kind::kAllow;
    else if (type == "D" || type == "XD" || type == "OD") entry.kind = AccessEntry::Kind::kDeny;
    else entry.kind = AccessEntry::Kind::kOther;
    entry.flags = FlagsOf(fields[1]);
    entry.mask = RightsOf(fields[2]);
    entry.sid = SidOfAlias(fields[5]);
    security.dacl.push_back(entry);
  }
  return security;
}

}  // namespace varnok::testing
