#include "process/session_list.h"

#include <gtest/gtest.h>

#include "support/host/log_capture.h"

namespace varnok {
namespace {

std::vector<std::pair<std::string, unsigned long>> Entries(const SessionList& list) {
  std::vector<std::pair<std::string, unsigned long>> out;
  for (const auto& [name, session] : list) out.emplace_back(name, session.session_id);
  return out;
}

TEST(BuildSessionList, LoggedOnUsersInByteOrderOneEntryEach) {
  using E = std::vector<std::pair<std::string, unsigned long>>;
  struct Row {
    const char* what;
    std::vector<SessionRecord> records;
    E expected;
  };
  const Row rows[] = {
      {"services only", {{"", 0, 0, ""}, {"SYSTEM", 0, 0, ""}}, E{}},
      {"upper case sorts first", {{"bob", 2, 0, ""}, {"Alice", 3, 0, ""}}, E{{"Alice", 3}, {"bob", 2}}},
      {"and again", {{"alice", 2, 0, ""}, {"Bob", 3, 0, ""}}, E{{"Bob", 3}, {"alice", 2}}},
      {"disconnected and connected count", {{"d", 5, 4, ""}, {"c", 6, 1, ""}}, E{{"c", 6}, {"d", 5}}},
      {"other states do not", {{"listen", 7, 6, ""}, {"down", 8, 8, ""}, {"shadow", 9, 3, ""}}, E{}},
      {"last session of a user wins", {{"ann", 2, 0, ""}, {"ann", 9, 4, ""}}, E{{"ann", 9}}},
      {"missing name skipped, empty kept", {{nullptr, 4, 0, ""}, {"", 5, 0, ""}}, E{{"", 5}}},
      {"high bytes after ASCII", {{"\xC3\x89mile", 2, 0, ""}, {"zed", 3, 0, ""}}, E{{"zed", 3}, {"\xC3\x89mile", 2}}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    testing::TakeLogLines();
    const SessionList list = BuildSessionList(row.records);
    EXPECT_EQ(Entries(list), row.expected);
    const auto lines = testing::TakeLogLines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back().message, "operation : GetActiveUserSessions; status : success; "
                                    "session_count : " + std::to_string(row.expected.size()) + ";");
  }
}

TEST(BuildSessionList, KeepsEachSessionsSidAndLogsItsState) {
  testing::TakeLogLines();
  const SessionList list = BuildSessionList({{"Ann", 3, 4, "S-1-5-21-1-2-3-1001"}});
  ASSERT_EQ(list.count("Ann"), 1u);
  EXPECT_EQ(list.at("Ann").sid, "S-1-5-21-1-2-3-1001");
  const auto lines = testing::TakeLogLines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].message, "operation : GetActiveUserSessions; user_name : \"Ann\"; session_id "
                              ": 3; state : \"Disconnected\";");
}

}  // namespace
}  // namespace varnok
