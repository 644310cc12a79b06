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

}  // namespace
}  // namespace varnok
