#include "log/log_lock.h"

#include <gtest/gtest.h>

#include "support/host/sddl.h"

namespace varnok {
namespace {

TEST(LogMutexOwner, OnlyTheAgentsAccountsAreWaitedFor) {
  const char kOwn[] = "S-1-5-21-1-2-3-1500";
  const std::vector<std::string> own = {kOwn, "S-1-5-21-1-2-3-513"};  // token user, default owner
  const std::pair<const char*, bool> rows[] = {
      {"S-1-5-18", true},                      // SYSTEM
      {"S-1-5-32-544", true},                  // Administrators
      {"S-1-5-19", true},                      // LocalService
      {"S-1-5-20", true},                      // NetworkService
      {"S-1-5-80-123-456-789-10-11", true},    // a service's own SID
      {"s-1-5-18", true},
      {kOwn, true},                            // whoever this process runs as
      {"S-1-5-21-1-2-3-513", true},            // and its token's default owner
      {"", true},                              // no owner to read (Wine)
      {"S-1-5-21-1-2-3-1001", false},          // an ordinary user
      {"S-1-5-32-545", false},                 // Users
      {"S-1-1-0", false},                      // Everyone
      {"S-1-5-11", false},                     // Authenticated Users
      {"S-1-5-80", false},                     // not a service's SID
      {"S-1-5-180", false},
  };
  for (const auto& [owner, trusted] : rows) {
    EXPECT_EQ(IsLogMutexOwnerTrusted(owner, own), trusted) << owner;
  }
  EXPECT_FALSE(IsLogMutexOwnerTrusted("S-1-5-21-1-2-3-1001", {"", ""}));  // unread own SIDs match nothing
  EXPECT_EQ(LogLockRefusedNote("Global\\fmprereq", "S-1-5-21-1-2-3-1001"),
            "operation : LogFile; status : failure; remarks : \"The log mutex is owned by an account "
            "the agent does not run as; lines are written without it.\"; mutex : \"Global\\fmprereq\"; "
            "owner : \"S-1-5-21-1-2-3-1001\";");
}

TEST(LogMutexDacl, OnlyTheAgentsAccountsMayTakeOrChangeTheMutex) {
  const std::vector<std::string> own = {"S-1-5-21-1-2-3-1500", "S-1-5-21-1-2-3-513"};
  struct Row {
    std::string sddl;
    std::string account, right;  // empty: the mutex is used
  };
  const Row rows[] = {
      // What the program creates, and what the agent's services make: used.
      {"O:SYD:P(A;;GA;;;SY)(A;;GA;;;BA)(A;;GA;;;LS)(A;;GA;;;NS)(A;;GA;;;S-1-5-80-0)(A;;GA;;;S-1-5-21-1-2-3-1500)", "", ""},
      {"O:BAD:(A;;0x20001;;;WD)(A;;GR;;;BU)(D;;0x100000;;;AU)", "", ""},  // read state and permissions only
      {"O:SYD:(A;OICIIO;GA;;;WD)", "", ""},                               // inherit-only: not on the mutex
      {"D:(A;;GA;;;WD)", "", ""},                                          // no owner: Wine's, not judged
      // Anyone else may wait on it, hold it or change it: refused.
      {"O:SYD:(A;;0x100000;;;WD)", "S-1-1-0", "synchronize"},
      {"O:SYD:(A;;GX;;;AU)", "S-1-5-11", "generic execute"},
      {"O:SYD:(A;;0x1F0001;;;BU)", "S-1-5-32-545", "full control"},
      {"O:SYD:(A;;GA;;;S-1-5-21-1-2-3-1001)", "S-1-5-21-1-2-3-1001", "full control"},
      {"O:SYD:(A;;GW;;;IU)", "S-1-5-4", "generic write"},
      {"O:SYD:(A;;WD;;;BU)", "S-1-5-32-545", "change permissions"},
      {"O:SYD:(A;;WO;;;BU)", "S-1-5-32-545", "take ownership"},
      {"O:SYD:(A;;SD;;;BU)", "S-1-5-32-545", "delete"},
      {"O:SYD:(A;;0x2000000;;;BU)", "S-1-5-32-545", "maximum allowed"},
      {"O:SYD:(A;;0x2;;;BU)", "S-1-5-32-545", "other rights"},
      {"O:SYD:(D;;GA;;;BU)(A;;0x100000;;;BU)", "S-1-5-32-545", "synchronize"},  // a deny is not relied on
      {"O:SYD:NO_ACCESS_CONTROL", "S-1-1-0", "full control (no DACL)"},
      {"O:SYD:(A;;GA;;;SY)(AU;;GA;;;WD)", "S-1-1-0", "unrecognised entry"},
  };
  for (const Row& r : rows) {
    const std::optional<UserControl> control = FindLogMutexUserControl(testing::ParseSddl(r.sddl), own);
    EXPECT_EQ(control ? control->sid : "", r.account) << r.sddl;
    EXPECT_EQ(control ? control->right : "", r.right) << r.sddl;
  }
  FileSecurity unread_sid = testing::ParseSddl("O:SYD:(A;;0x100000;;;SY)");
  unread_sid.dacl[0].sid.clear();
  EXPECT_TRUE(FindLogMutexUserControl(unread_sid, own).has_value());
  EXPECT_EQ(LogLockOpenToOthersNote("Global\\fmprereq", {"S-1-1-0", "synchronize"}),
            "operation : LogFile; status : failure; remarks : \"The log mutex lets an account the agent "
            "does not run as take or change it; lines are written without it.\"; mutex : "
            "\"Global\\fmprereq\"; account : \"S-1-1-0\"; right : \"synchronize\";");
}

TEST(LogMutexSddl, EveryTrustedOwnerCanOpenTheMutexWeCreateAndNobodyElse) {
  const char kOwn[] = "S-1-5-21-1-2-3-1500";
  // ALL SERVICES (S-1-5-80-0) is in every service's token.
  const std::pair<const char*, bool> rows[] = {
      {"S-1-5-18", true},     {"S-1-5-32-544", true}, {"S-1-5-19", true}, {"S-1-5-20", true},
      {"S-1-5-80-0", true},   {kOwn, true},           {"S-1-5-32-545", false},
      {"S-1-1-0", false},     {"S-1-5-11", false},    {"S-1-5-4", false}};
  const std::string sddl = LogMutexSddl(kOwn);
  EXPECT_EQ(sddl.rfind("D:P(", 0), 0u) << sddl;  // protected: nothing inherited
  const FileSecurity security = testing::ParseSddl(sddl);
  for (const auto& [sid, granted] : rows) {
    bool found = false;
    for (const AccessEntry& entry : security.dacl) {
      found |= entry.kind == AccessEntry::Kind::kAllow && entry.sid == sid && entry.mask == 0x10000000;
    }
    EXPECT_EQ(found, granted) << sid;
  }
  EXPECT_EQ(testing::ParseSddl(LogMutexSddl("")).dacl.size(), security.dacl.size() - 1);
}

}  // namespace
}  // namespace varnok
