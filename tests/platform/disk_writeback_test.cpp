// The disk writer starts the writeback of every completed write at once, so
// the disk works while the next buffer is copied; a failed write starts none.
#include <gtest/gtest.h>
#include <unistd.h>

#include "fake_disk_host.h"
#include "platform/linux/disk_writer.h"
#include "test_support.h"

namespace tarnwick::testing {
namespace {

// The fake system calls, with the writeback requests recorded too.
class WritebackSysCalls : public FakeDiskSysCalls {
 public:
  void StartWriteback(int, uint64_t offset, uint64_t len) override {
    calls.push_back("writeback " + std::to_string(offset) + " " + std::to_string(len));
  }
};

struct WritebackCase {
  const char* name;
  size_t len;
  uint64_t offset;
  std::vector<int64_t> answers;  // successive answers of the system write; then the full rest
  std::vector<std::string> calls;
};

const WritebackCase kWritebackCases[] = {
    {"WholeRequestAfterItsLastCall",
     (80u << 20),
     512,
     {},
     {"write 512 33554432", "write 33554944 33554432", "write 67109376 16777216",
      "writeback 512 83886080"}},
    {"ShortTransferCompletedFirst",
     4096,
     0x100000000,
     {1000},
     {"write 4294967296 4096", "write 4294968296 3096", "writeback 4294967296 4096"}},
    {"FailedWriteStartsNothing", 4096, 0, {1000, -EIO}, {"write 0 4096", "write 1000 3096"}},
    {"NoSpaceStartsNothing", 4096, 0, {0}, {"write 0 4096"}},
    {"ZeroLengthHasNothingToStart", 0, 0x2000, {}, {"write 8192 0"}},
};

class WritebackTest : public ::testing::TestWithParam<WritebackCase> {};

TEST_P(WritebackTest, StartsOnceThePositionedWriteIsComplete) {
  const WritebackCase& c = GetParam();
  WritebackSysCalls sys;
  size_t next = 0;
  sys.write = [&](size_t len, uint64_t) -> int64_t {
    return next < c.answers.size() ? c.answers[next++] : static_cast<int64_t>(len);
  };
  LinuxDiskWriter writer(sys, 7, true);
  static const std::vector<uint8_t> data(80u << 20);
  static_cast<void>(writer.WriteAt(c.offset, data.data(), c.len));
  EXPECT_EQ(sys.calls, c.calls);
}

INSTANTIATE_TEST_SUITE_P(Writes, WritebackTest, ::testing::ValuesIn(kWritebackCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(RealDiskSysCalls, WritebackOfAnyRangeLeavesTheFileAsWritten) {
  TempDir dir;
  const std::string path = dir.File("card.img");
  WriteFile(path, std::string(8192, 'x'));
  DiskSysCalls& sys = RealDiskSysCalls();
  const int fd = sys.Open(path, DiskOpenMode::ReadWrite);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(sys.WriteAt(fd, "abc", 3, 4096), 3);
  // Ranges the system cannot represent are passed over, not refused.
  for (const auto& [offset, len] : std::vector<std::pair<uint64_t, uint64_t>>{
           {4096, 3}, {0, 0}, {UINT64_MAX, 1}, {1, UINT64_MAX}, {uint64_t{1} << 62, 1}}) {
    sys.StartWriteback(fd, offset, len);
  }
  EXPECT_EQ(sys.Sync(fd), 0);
  EXPECT_EQ(sys.Close(fd), 0);
  std::string expected(8192, 'x');
  expected.replace(4096, 3, "abc");
  EXPECT_EQ(ReadFileText(path), expected);
}

}  // namespace
}  // namespace tarnwick::testing
