// The real system-call layer, on files in a temporary folder only.
#include "platform/linux/disk_sys_calls.h"

#include <gtest/gtest.h>

#include <cerrno>

#include "test_support.h"

namespace tarnwick::testing {
namespace {

TEST(RealDiskSysCalls, RunsProgramsWithoutShellAndReportsTheirStatus) {
  const struct {
    std::vector<std::string> argv;
    int status;
    std::string output;
  } kRuns[] = {
      {{"sh", "-c", "echo out; echo err >&2; exit 3"}, 3, "out\nerr\n"},
      {{"echo", "a;", "$HOME"}, 0, "a; $HOME\n"},  // arguments reach the program untouched
      {{"/nonexistent/program"}, -1, ""},
  };
  for (const auto& r : kRuns) {
    std::string output = "stale";
    EXPECT_EQ(RealDiskSysCalls().Run(r.argv, &output), r.status) << r.argv[0];
    EXPECT_EQ(output, r.output) << r.argv[0];
  }
}

TEST(RealDiskSysCalls, FilesAreLockedExclusivelyAndWrittenAtPositions) {
  DiskSysCalls& sys = RealDiskSysCalls();
  TempDir dir;
  const std::string path = dir.File("card.img");
  WriteFile(path, std::string(8, '.'));

  DiskFileInfo info;
  ASSERT_EQ(sys.Stat(path, info), 0);
  EXPECT_TRUE(info.isRegularFile);
  EXPECT_FALSE(info.isBlockDevice);
  EXPECT_EQ(info.size, 8u);
  EXPECT_EQ(sys.Stat(dir.File("none"), info), ENOENT);
  EXPECT_EQ(sys.Open(dir.File("none"), DiskOpenMode::ReadWrite), -ENOENT);

  const int fd = sys.Open(path, DiskOpenMode::ReadWrite);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(sys.LockExclusive(fd), 0);
  const int second = sys.Open(path, DiskOpenMode::ReadOnly);
  ASSERT_GE(second, 0);
  EXPECT_EQ(sys.LockExclusive(second), EWOULDBLOCK) << "a second writer waits for nobody";
  EXPECT_EQ(sys.WriteAt(fd, "AB", 2, 3), 2);
  EXPECT_EQ(sys.Sync(fd), 0);
  EXPECT_EQ(sys.DeviceBytes(fd), -ENOTTY) << "a file has no block-device capacity";
  EXPECT_EQ(sys.RereadPartitionTable(fd), ENOTTY);
  EXPECT_EQ(sys.Close(second), 0);
  EXPECT_EQ(sys.Close(fd), 0);
  EXPECT_EQ(ReadFileText(path), "...AB...");
}

}  // namespace
}  // namespace tarnwick::testing
