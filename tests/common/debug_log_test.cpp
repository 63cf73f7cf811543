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

TEST(DebugLog, LongLineIsCutAndKeepsItsLineEnd) {
  LogCapture log;
  std::string longText(300, 'x');
  DebugLog(1, "%s\n", longText.c_str());
  std::string text = log.Text();
  ASSERT_EQ(text.size(), 127u);
  EXPECT_EQ(text.back(), '\n');
  EXPECT_EQ(text.substr(0, 126), std::string(126, 'x'));
}

TEST(DebugLog, LineOfExactly127CharactersIsKept) {
  LogCapture log;
  std::string text(126, 'y');
  DebugLog(1, "%s\n", text.c_str());
  EXPECT_EQ(log.Text(), text + "\n");
}

}  // namespace
}  // namespace tarnwick
