#include <gtest/gtest.h>

#include <optional>
#include <thread>

#include "log/log.h"
#include "support/host/log_capture.h"

namespace varnok {
namespace {

// One row's lines, by their lengths, written in a scope of `owner` ("" for none).
struct RowLines {
  std::string owner;
  std::vector<size_t> lengths;
};

// The lengths of the lines that reached the log, and the budget lines.
std::vector<std::string> WriteRows(size_t budget, const std::vector<RowLines>& rows) {
  testing::TakeLogLines();
  LogOwnerBudgets budgets(budget);
  for (const RowLines& row : rows) {
    std::optional<LogOwnerScope> scope;
    if (!row.owner.empty()) scope.emplace(budgets, row.owner);
    for (size_t length : row.lengths) LogInfo("%s", std::string(length, 'x').c_str());
  }
  budgets.LogSummaries();
  budgets.LogSummaries();  // each owner is named once
  std::vector<std::string> written;
  for (const auto& line : testing::TakeLogLines()) {
    const bool filler = line.message.find_first_not_of('x') == std::string::npos;
    written.push_back(filler ? std::to_string(line.message.size()) : line.message);
  }
  return written;
}

std::string Summary(const std::string& owner, int rows, int lines) {
  return "operation : app_varnok; remarks : \"Lines of this owner's per-user rows not written: they "
         "passed the 1000 bytes that one owner's rows may write in a run.\"; owner : \"" + owner +
         "\"; rows_summarised : " + std::to_string(rows) + "; lines_not_written : " +
         std::to_string(lines) + ";";
}

TEST(LogOwnerBudget, OneOwnersRowsCannotFloodTheLog) {
  // A line costs its length and 54 bytes of frame; the budget here is 1,000 bytes.
  struct Case {
    const char* what;
    std::vector<RowLines> rows;
    std::vector<std::string> written;
  };
  const Case cases[] = {
      {"a user's ordinary rows are written whole",
       {{"A", {100, 100}}, {"A", {100}}},
       {"100", "100", "100"}},
      {"filling the budget exactly still writes the line",
       {{"A", {446}}, {"A", {446}}},
       {"446", "446"}},
      {"past the budget, no later line of the owner is written, short ones neither",
       {{"A", {300, 300}}, {"A", {300, 10}}, {"A", {1}}},
       {"300", "300", Summary("A", 2, 3)}},
      {"the machine-wide lines and another owner's stay whole",
       {{"", {5000}}, {"A", {2000}}, {"B", {900}}, {"", {5000}}, {"A", {1}}},
       {"5000", "900", "5000", Summary("A", 2, 2)}},
  };
  for (const Case& c : cases) EXPECT_EQ(WriteRows(1000, c.rows), c.written) << c.what;
}

TEST(LogOwnerBudget, AScopeOnlyCountsWhileItLivesAndOnItsOwnThread) {
  testing::TakeLogLines();
  LogOwnerBudgets budgets(100);
  {
    const LogOwnerScope scope(budgets, "A");
    std::thread([] { LogInfo("%s", std::string(500, 'w').c_str()); }).join();  // a watchdog's line
    LogInfo("%s", std::string(500, 'a').c_str());
  }
  LogInfo("%s", std::string(500, 'm').c_str());
  const auto lines = testing::TakeLogLines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].message, std::string(500, 'w'));
  EXPECT_EQ(lines[1].message, std::string(500, 'm'));
}

}  // namespace
}  // namespace varnok
