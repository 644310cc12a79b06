#include "log/log_trust.h"

#include <gtest/gtest.h>

#include <map>

#include "support/host/sddl.h"

namespace varnok {
namespace {

constexpr char kUser[] = "S-1-5-21-1-2-3-1001";
constexpr char kAdmin[] = "S-1-5-21-1-2-3-500";  // a member of the Administrators group

// A disk of descriptors: a path's SDDL ("L:" before it for a link), or a read error.
struct Disk {
  std::map<std::string, std::string> sddl;
  std::map<std::string, unsigned long> errors;
  unsigned long Read(const std::string& path, FileSecurity* security) const {
    if (errors.count(path)) return errors.at(path);
    if (!sddl.count(path)) return 2;
    const std::string& text = sddl.at(path);
    const bool link = text.rfind("L:", 0) == 0;
    *security = testing::ParseSddl(link ? text.substr(2) : text);
    security->is_link = link;
    return 0;
  }
};

const IsAdministratorFn kTrusted = [](const std::string& sid) {
  return IsLogAccountTrusted(sid, {"S-1-5-18", "S-1-5-32-544"}, {kAdmin});
};

// Default Windows: users may make folders in the root; the agent's folders are the admins'.
const std::string kRoot = "O:SYD:(A;;0x4;;;AU)(A;OICIIO;SDGXGWGR;;;AU)(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FR;;;BU)";
const std::string kAdmins = "O:BAD:(A;OICIID;FA;;;SY)(A;OICIID;FA;;;BA)(A;OICIIOID;GA;;;CO)(A;OICIID;FX;;;BU)";

std::string Describe(LogFolderState state, const LogPathRefusal& r) {
  if (state == LogFolderState::kMissing) return "missing";
  if (state == LogFolderState::kUsable) return "usable";
  return r.path + " | " + r.account + " | " + r.reason + " | " + std::to_string(r.error);
}

TEST(LogAccountTrust, TheAgentsAccountsAndTheAdministratorsOnly) {
  const std::pair<std::string, bool> rows[] = {
      {"S-1-5-18", true},  {"S-1-5-32-544", true}, {"S-1-5-19", true}, {"S-1-5-20", true},
      {"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464", true},  // TrustedInstaller
      {kAdmin, true},      {"S-1-5-21-1-2-3-1500", true},                          // a member; this process
      {kUser, false},      {"S-1-5-32-545", false}, {"S-1-1-0", false}, {"", false},
  };
  for (const auto& [sid, trusted] : rows) {
    EXPECT_EQ(IsLogAccountTrusted(sid, {"S-1-5-21-1-2-3-1500"}, {kAdmin}), trusted) << sid;
  }
}

TEST(LogFolderTrust, TheLogsFolderAndTheFoldersAboveItAreTheAdministratorsOrNotUsed) {
  struct Row {
    const char* what;
    std::string agent, logs;  // SDDL of C:\Agent and C:\Agent\logs ("" missing; "E5" error 5)
    std::string verdict;
  };
  const Row rows[] = {
      {"the agent's folders as installed", kAdmins, kAdmins, "usable"},
      {"owned by an administrator, LocalService", "O:" + std::string(kAdmin) + "D:(A;;FA;;;SY)", "O:LSD:(A;;FA;;;LS)", "usable"},
      {"users may add files above: nothing there is the log's", kAdmins + "(A;;0x2;;;BU)", kAdmins, "usable"},
      {"the logs folder owned by a user", kAdmins, "O:" + std::string(kUser) + "D:(A;;FA;;;SY)",
       "C:\\Agent\\logs | " + std::string(kUser) + " | owner | 0"},
      {"users may add files to the logs folder", kAdmins, kAdmins + "(A;;0x2;;;BU)",
       "C:\\Agent\\logs | S-1-5-32-545 | add file | 0"},
      {"users may empty the folder above", kAdmins + "(A;;0x40;;;AU)", kAdmins,
       "C:\\Agent | S-1-5-11 | delete child | 0"},
      {"users may change the logs folder's permissions", kAdmins, kAdmins + "(A;;WD;;;BU)",
       "C:\\Agent\\logs | S-1-5-32-545 | change permissions | 0"},
      {"no DACL", kAdmins, "O:SYD:NO_ACCESS_CONTROL", "C:\\Agent\\logs | S-1-1-0 | full control (no DACL) | 0"},
      {"the logs folder is a link", kAdmins, "L:" + kAdmins, "C:\\Agent\\logs |  | a link (reparse point) | 0"},
      {"a folder above is a link", "L:" + kAdmins, kAdmins, "C:\\Agent |  | a link (reparse point) | 0"},
      {"a folder above cannot be read", "E5", kAdmins, "C:\\Agent |  | unreadable | 5"},
      {"no logs folder", kAdmins, "", "missing"},
  };
  for (const Row& r : rows) {
    Disk disk;
    disk.sddl["C:\\"] = kRoot;
    for (const auto& [path, text] : {std::pair{"C:\\Agent", r.agent}, std::pair{"C:\\Agent\\logs", r.logs}}) {
      if (text == "E5") disk.errors[path] = 5;
      else if (!text.empty()) disk.sddl[path] = text;
    }
    const ReadSecurityFn read = [&](const std::string& p, FileSecurity* s) { return disk.Read(p, s); };
    FileSecurity folder;
    LogPathRefusal refusal;
    const LogFolderState state = CheckLogFolder("C:\\Agent\\logs", read, kTrusted, &folder, &refusal);
    EXPECT_EQ(Describe(state, refusal), r.verdict) << r.what;
    if (state == LogFolderState::kUsable) {
      EXPECT_EQ(folder.owner_sid, testing::ParseSddl(r.logs).owner_sid) << r.what;
    }
  }
  LogPathRefusal refusal;
  FileSecurity folder;
  const ReadSecurityFn none = [](const std::string&, FileSecurity*) { return 0ul; };
  EXPECT_EQ(Describe(CheckLogFolder("\\\\server\\share\\logs", none, kTrusted, &folder, &refusal), refusal),
            "\\\\server\\share\\logs |  | not a local absolute path | 0");
}

TEST(LogFileTrust, AFileUsersCouldChangeIsNeitherCreatedNorWritten) {
  struct Row {
    const char* what;
    std::string folder, file;  // the logs folder's SDDL; the file's ("" missing, "E5" error 5)
    std::string verdict;       // "" usable
  };
  const std::string kFile = "O:SYD:(A;ID;FA;;;SY)(A;ID;FA;;;BA)(A;ID;FX;;;BU)";
  const Row rows[] = {
      {"the agent's file", kAdmins, kFile, ""},
      {"a new file in the agent's folder (CREATOR OWNER is SYSTEM)", kAdmins, "", ""},
      {"a new file where users may only make folders", kAdmins + "(A;CIIO;FW;;;BU)", "", ""},
      {"a file a user created first", kAdmins, "O:" + std::string(kUser) + "D:(A;;FA;;;SY)", std::string(kUser) + " | owner"},
      {"a file users may write", kAdmins, kFile + "(A;;FW;;;BU)", "S-1-5-32-545 | write"},
      {"a file users may append to", kAdmins, kFile + "(A;;0x4;;;IU)", "S-1-5-4 | append"},
      {"a file users may delete", kAdmins, kFile + "(A;;SD;;;BU)", "S-1-5-32-545 | delete"},
      {"a file that is a link", kAdmins, "L:" + kFile, " | a link (reparse point)"},
      {"a file that cannot be read", kAdmins, "E5", " | unreadable"},
      {"a new file would inherit users' write", kAdmins + "(A;OIIO;FW;;;BU)", "", "S-1-5-32-545 | write"},
  };
  for (const Row& r : rows) {
    Disk disk;
    if (r.file == "E5") disk.errors["C:\\Agent\\logs\\f.log"] = 5;
    else if (!r.file.empty()) disk.sddl["C:\\Agent\\logs\\f.log"] = r.file;
    const ReadSecurityFn read = [&](const std::string& p, FileSecurity* s) { return disk.Read(p, s); };
    bool exists = false;
    const std::optional<LogPathRefusal> refused = CheckLogFile(
        "C:\\Agent\\logs\\f.log", testing::ParseSddl(r.folder), "S-1-5-18", read, kTrusted, &exists);
    EXPECT_EQ(refused ? refused->account + " | " + refused->reason : "", r.verdict) << r.what;
    EXPECT_EQ(exists, !r.file.empty() && r.file != "E5") << r.what;
  }
  EXPECT_EQ(LogFileRefusedNote({"C:\\Agent\\logs\\fmprereqhandler2.log", kUser, "owner", 0}),
            "operation : LogFile; status : failure; remarks : \"A log file is neither created nor written: an "
            "account that is neither an administrator nor one the agent runs as can change it, or it could not "
            "be judged.\"; file_path : \"C:\\Agent\\logs\\fmprereqhandler2.log\"; account : \"" + std::string(kUser) +
                "\"; right : \"owner\";");
}

}  // namespace
}  // namespace varnok
