#include "process/file_trust.h"

#include <gtest/gtest.h>

namespace varnok {
namespace {

TEST(AdministratorAnswers, EachSidIsAskedOncePerRun) {
  AdministratorAnswers answers;
  std::vector<std::string> asked;
  const IsAdministratorFn ask = [&](const std::string& sid) {
    asked.push_back(sid);
    return sid == "S-1-5-21-1-2-3-500";
  };
  EXPECT_TRUE(answers.Get("S-1-5-21-1-2-3-500", ask));
  EXPECT_FALSE(answers.Get("S-1-5-21-1-2-3-1001", ask));
  EXPECT_TRUE(answers.Get("s-1-5-21-1-2-3-500", ask));  // the same SID spelt otherwise
  // A "no" is kept as well: an unreachable domain controller's time-out is paid once.
  EXPECT_FALSE(answers.Get("S-1-5-21-1-2-3-1001", ask));
  EXPECT_EQ(asked, (std::vector<std::string>{"S-1-5-21-1-2-3-500", "S-1-5-21-1-2-3-1001"}));
}

TEST(GatherAdministratorFacts, AsksTheAdministratorsGroupForItsMembersAndOnlyThenForGroups) {
  std::vector<std::string> groups_asked;
  std::vector<std::string> members_asked;
  const LocalGroupMembersFn members_of = [&](const std::string& group) {
    members_asked.push_back(group);
    return std::vector<std::string>{"S-1-5-21-1-2-3-500", "S-1-5-21-1-2-3-512"};
  };
  const EffectiveGroupsFn groups_of = [&](const std::string& sid, std::vector<GroupMembership>* groups) {
    groups_asked.push_back(sid);
    groups->push_back({"S-1-5-32-544", kGroupEnabled});
    return 0ul;
  };
  const AdministratorFacts member = GatherAdministratorFacts("s-1-5-21-1-2-3-512", members_of, groups_of);
  EXPECT_TRUE(member.direct_member);
  EXPECT_TRUE(member.groups.empty());
  const AdministratorFacts other = GatherAdministratorFacts("S-1-5-21-1-2-3-1001", members_of, groups_of);
  EXPECT_FALSE(other.direct_member);
  EXPECT_EQ(other.groups.size(), 1u);
  EXPECT_EQ(members_asked, (std::vector<std::string>{"S-1-5-32-544", "S-1-5-32-544"}));
  EXPECT_EQ(groups_asked, std::vector<std::string>{"S-1-5-21-1-2-3-1001"});
}

}  // namespace
}  // namespace varnok
