#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <sstream>
#include <thread>
#include <vector>

#include "platform/fs/file_access.h"
#include "test_support.h"

namespace tarnwick {
namespace {

TEST(AppendToFile, MakesTheFileThenAddsAtItsEnd) {
  testing::TempDir dir;
  const std::string path = dir.File("audit.log");
  ASSERT_TRUE(AppendToFile(path, "first\n"));
  ASSERT_TRUE(AppendToFile(path, "second\n"));
  EXPECT_EQ(testing::ReadFileText(path), "first\nsecond\n");
}

TEST(AppendToFile, FailsWhereNoFileCanTakeTheBytes) {
  testing::TempDir dir;
  std::filesystem::create_directory(dir.File("folder"));
  for (const std::string& path : {dir.File("folder"), dir.File("missing/audit.log")}) {
    const SysStatus appended = AppendToFile(path, "line\n");
    EXPECT_FALSE(appended) << path;
    EXPECT_FALSE(appended.Text().empty()) << path;
  }
}

// Lines appended by several writers at once arrive whole, each once.
TEST(AppendToFile, LinesOfWritersAtOnceNeverMix) {
  testing::TempDir dir;
  const std::string path = dir.File("audit.log");
  constexpr int kWriters = 4, kLines = 200;
  std::vector<std::thread> writers;
  for (int w = 0; w < kWriters; ++w) {
    writers.emplace_back([&path, w] {
      for (int i = 0; i < kLines; ++i) {
        const std::string line =
            std::to_string(w) + ":" + std::to_string(i) + ":" + std::string(300, 'a' + w) + "\n";
        EXPECT_TRUE(AppendToFile(path, line));
      }
    });
  }
  for (std::thread& t : writers) t.join();
  std::istringstream in(testing::ReadFileText(path));
  std::set<std::string> seen;
  for (std::string line; std::getline(in, line);) {
    const size_t colon = line.find(':', line.find(':') + 1);
    ASSERT_NE(colon, std::string::npos) << line;
    const char fill = static_cast<char>('a' + std::stoi(line));
    EXPECT_EQ(line.substr(colon + 1), std::string(300, fill)) << line.substr(0, 20);
    EXPECT_TRUE(seen.insert(line.substr(0, colon)).second) << line.substr(0, colon);
  }
  EXPECT_EQ(seen.size(), size_t{kWriters * kLines});
}

}  // namespace
}  // namespace tarnwick
