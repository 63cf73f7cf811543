#include "common/debug_log.h"

#include <gtest/gtest.h>

#include <string>

namespace tarnwick {
namespace {

TEST(DebugLog, PrintsLevelOneAndBelowOnly) {
  LogCapture log;
  DebugLog(1, "one %d\n", 1);
  DebugLog(2, "two\n");
  DebugLog(3, "three\n");
  DebugLog(0, "zero\n");
  EXPECT_EQ(log.Text(), "one 1\nzero\n");
}

TEST(DebugLog, LinesAreCutTo127CharactersKeepingTheirLineEnd) {
  for (const auto& [length, kept] : {std::pair{126u, 126u}, {127u, 126u}, {300u, 126u}}) {
    LogCapture log;
    DebugLog(1, "%s\n", std::string(length, 'x').c_str());
    EXPECT_EQ(log.Text(), std::string(kept, 'x') + "\n") << length;
  }
}

}  // namespace
}  // namespace tarnwick
