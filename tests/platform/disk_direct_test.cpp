// The disk writer's direct transfers: which writes go past the page cache,
// the fall-back to the cache where the device refuses them, and reading back
// from the device; with fake calls, then on a card image file and a loop
// device this test attached.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "fake_disk_host.h"
#include "loop_device.h"
#include "platform/linux/disk_writer.h"
#include "test_support.h"

namespace tarnwick::testing {
namespace {

// Memory aligned for direct transfers (aligned_alloc wants whole units).
struct AlignedBytes {
  explicit AlignedBytes(size_t n)
      : bytes(static_cast<uint8_t*>(std::aligned_alloc(
            kDirectAlignBytes,
            (n + kDirectAlignBytes - 1) / kDirectAlignBytes * kDirectAlignBytes))),
        size(n) {}
  ~AlignedBytes() { std::free(bytes); }
  AlignedBytes(const AlignedBytes&) = delete;
  AlignedBytes& operator=(const AlignedBytes&) = delete;
  uint8_t* bytes;
  size_t size;
};

// Fake calls that record the direct switch, the reads and the cache hints.
class DirectSysCalls : public FakeDiskSysCalls {
 public:
  int64_t logicalBlock = -ENOTTY;                 // LogicalBlockBytes' answer
  int directError = 0;                            // SetDirect's answer when switching on
  std::function<int64_t(size_t, uint64_t)> read;  // default: the whole request
  bool direct = false;

  int64_t LogicalBlockBytes(int) override { return logicalBlock; }
  int SetDirect(int, bool on) override {
    calls.push_back(on ? "direct on" : "direct off");
    if (on && directError != 0) return directError;
    direct = on;
    return 0;
  }
  int64_t WriteAt(int fd, const void* data, size_t len, uint64_t offset) override {
    calls.push_back(std::string(direct ? "direct " : "") + "write " + std::to_string(offset) + " " +
                    std::to_string(len));
    (void)fd;
    (void)data;
    return write ? write(len, offset) : static_cast<int64_t>(len);
  }
  int64_t ReadAt(int, void*, size_t len, uint64_t offset) override {
    calls.push_back(std::string(direct ? "direct " : "") + "read " + std::to_string(offset) + " " +
                    std::to_string(len));
    return read ? read(len, offset) : static_cast<int64_t>(len);
  }
  void StartWriteback(int, uint64_t offset, uint64_t len) override {
    calls.push_back("writeback " + std::to_string(offset) + " " + std::to_string(len));
  }
  void DropCached(int, uint64_t offset, uint64_t len) override {
    calls.push_back("drop " + std::to_string(offset) + " " + std::to_string(len));
  }
};

constexpr size_t kMiB = 1u << 20;

struct WriteCase {
  const char* name;
  bool blockDevice;
  uint64_t offset;
  size_t len;
  size_t misalign;  // bytes the memory lies past an aligned address
  int directError;
  std::vector<int64_t> answers;  // successive answers of the system write; then the full rest
  bool ok;
  std::vector<std::string> calls;
};

const WriteCase kWriteCases[] = {
    {"AlignedImagePieceGoesDirect",
     true,
     8 * kMiB,
     4 * kMiB,
     0,
     0,
     {},
     true,
     {"direct on", "direct write 8388608 4194304"}},
    {"TailOfSectorsGoesThroughTheCache",
     true,
     8 * kMiB,
     4 * kMiB + 512,
     0,
     0,
     {},
     true,
     {"direct on", "direct write 8388608 4194304", "direct off", "write 12582912 512",
      "writeback 12582912 512"}},
    {"PositionOffTheBlockGoesThroughTheCache",
     true,
     8 * kMiB + 512,
     4 * kMiB,
     0,
     0,
     {},
     true,
     {"write 8389120 4194304", "writeback 8389120 4194304"}},
    {"UnalignedMemoryGoesThroughTheCache",
     true,
     8 * kMiB,
     4 * kMiB,
     16,
     0,
     {},
     true,
     {"write 8388608 4194304", "writeback 8388608 4194304"}},
    {"RecordSectorGoesThroughTheCache",
     true,
     0,
     512,
     0,
     0,
     {},
     true,
     {"write 0 512", "writeback 0 512"}},
    {"ImageFileAlwaysThroughTheCache",
     false,
     8 * kMiB,
     4 * kMiB,
     0,
     0,
     {},
     true,
     {"write 8388608 4194304", "writeback 8388608 4194304"}},
    {"DirectRefusedBySwitch",
     true,
     8 * kMiB,
     4 * kMiB,
     0,
     EINVAL,
     {},
     true,
     {"direct on", "write 8388608 4194304", "writeback 8388608 4194304"}},
    {"DirectWriteRefusedRetriedThroughTheCache",
     true,
     8 * kMiB,
     4 * kMiB,
     0,
     0,
     {-EINVAL},
     true,
     {"direct on", "direct write 8388608 4194304", "direct off", "write 8388608 4194304",
      "writeback 8388608 4194304"}},
    {"DirectWriteErrorFailsWithoutACachedCopy",
     true,
     8 * kMiB,
     4 * kMiB,
     0,
     0,
     {-EIO},
     false,
     {"direct on", "direct write 8388608 4194304"}},
    {"DirectShortTransferContinued",
     true,
     0,
     4 * kMiB,
     0,
     0,
     {kMiB},
     true,
     {"direct on", "direct write 0 4194304", "direct write 1048576 3145728"}},
    {"DirectNoSpaceFails",
     true,
     0,
     4 * kMiB,
     0,
     0,
     {0},
     false,
     {"direct on", "direct write 0 4194304"}},
    {"LargeDirectWriteInSystemChunks",
     true,
     0,
     40 * kMiB,
     0,
     0,
     {},
     true,
     {"direct on", "direct write 0 33554432", "direct write 33554432 8388608"}},
};

class DirectWriteTest : public ::testing::TestWithParam<WriteCase> {};

TEST_P(DirectWriteTest, TakesTheWayItsAlignmentAllows) {
  const WriteCase& c = GetParam();
  DirectSysCalls sys;
  sys.directError = c.directError;
  size_t next = 0;
  sys.write = [&](size_t len, uint64_t) -> int64_t {
    return next < c.answers.size() ? c.answers[next++] : static_cast<int64_t>(len);
  };
  LinuxDiskWriter writer(sys, 7, c.blockDevice);
  sys.calls.clear();
  static AlignedBytes data(41 * kMiB);
  EXPECT_EQ(writer.WriteAt(c.offset, data.bytes + c.misalign, c.len).IsOk(), c.ok);
  EXPECT_EQ(sys.calls, c.calls);
}

INSTANTIATE_TEST_SUITE_P(Writes, DirectWriteTest, ::testing::ValuesIn(kWriteCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(DirectWrite, RefusedOnceNeverAskedAgain) {
  DirectSysCalls sys;
  sys.directError = EINVAL;
  LinuxDiskWriter writer(sys, 7, true);
  static AlignedBytes data(4 * kMiB);
  ASSERT_TRUE(writer.WriteAt(0, data.bytes, data.size).IsOk());
  ASSERT_TRUE(writer.WriteAt(4 * kMiB, data.bytes, data.size).IsOk());
  EXPECT_EQ(std::count(sys.calls.begin(), sys.calls.end(), "direct on"), 1);
}

// The device's logical block is the unit of direct positions and lengths;
// an answer that is no block size leaves the unit at a page.
TEST(DirectWrite, PositionsInTheDevicesOwnBlocks) {
  const struct {
    int64_t block;
    std::vector<std::string> calls;
  } kCases[] = {
      {512, {"direct on", "direct write 8389120 4194816"}},
      {4096, {"write 8389120 4194816", "writeback 8389120 4194816"}},
      {-ENOTTY, {"write 8389120 4194816", "writeback 8389120 4194816"}},
      {768, {"write 8389120 4194816", "writeback 8389120 4194816"}},
      {8192, {"write 8389120 4194816", "writeback 8389120 4194816"}},
  };
  static AlignedBytes data(5 * kMiB);
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.block);
    DirectSysCalls sys;
    sys.logicalBlock = c.block;
    LinuxDiskWriter writer(sys, 7, true);
    ASSERT_TRUE(writer.WriteAt(8 * kMiB + 512, data.bytes, 4 * kMiB + 512).IsOk());
    EXPECT_EQ(sys.calls, c.calls);
    if (c.block == 512) {
      sys.calls.clear();
      ASSERT_TRUE(writer.ReadBackAt(512, data.bytes, 1024).IsOk());
      EXPECT_EQ(sys.calls, std::vector<std::string>{"direct read 512 1024"});
    }
  }
}

struct ReadCase {
  const char* name;
  bool blockDevice;
  bool cachedWrite;  // a record sector was written through the cache before
  int directError;
  std::vector<int64_t> answers;
  bool ok;
  std::vector<std::string> calls;
};

const ReadCase kReadCases[] = {
    {"DeviceReadDirectly", true, true, 0, {}, true, {"direct on", "direct read 4096 8192"}},
    {"DeviceWithoutDirectReadsSyncsDropsAndReads",
     true,
     true,
     EINVAL,
     {},
     true,
     {"direct on", "fsync ", "drop 4096 8192", "read 4096 8192"}},
    {"DirectReadRefusedFallsBackToTheCache",
     true,
     false,
     0,
     {-EINVAL},
     true,
     {"direct on", "direct read 4096 8192", "direct off", "drop 4096 8192", "read 4096 8192"}},
    {"ImageFileSyncedOnlyWhenWritten",
     false,
     false,
     0,
     {},
     true,
     {"drop 4096 8192", "read 4096 8192"}},
    {"ImageFileAfterAWrite",
     false,
     true,
     0,
     {},
     true,
     {"fsync ", "drop 4096 8192", "read 4096 8192"}},
    {"ShortReadContinued",
     true,
     false,
     0,
     {512},
     true,
     {"direct on", "direct read 4096 8192", "direct read 4608 7680"}},
    {"EndOfDeviceFails",
     true,
     false,
     0,
     {512, 0},
     false,
     {"direct on", "direct read 4096 8192", "direct read 4608 7680"}},
    {"ReadErrorFails", false, false, 0, {-EIO}, false, {"drop 4096 8192", "read 4096 8192"}},
};

class ReadBackTest : public ::testing::TestWithParam<ReadCase> {};

TEST_P(ReadBackTest, ComesFromTheDevice) {
  const ReadCase& c = GetParam();
  DirectSysCalls sys;
  sys.directError = c.directError;
  size_t next = 0;
  sys.read = [&](size_t len, uint64_t) -> int64_t {
    return next < c.answers.size() ? c.answers[next++] : static_cast<int64_t>(len);
  };
  LinuxDiskWriter writer(sys, 7, c.blockDevice);
  static AlignedBytes data(8192);
  if (c.cachedWrite) {
    ASSERT_TRUE(writer.WriteAt(0, data.bytes, 512).IsOk());
  }
  sys.calls.clear();
  EXPECT_EQ(writer.ReadBackAt(4096, data.bytes, 8192).IsOk(), c.ok);
  EXPECT_EQ(sys.calls, c.calls);
}

INSTANTIATE_TEST_SUITE_P(Reads, ReadBackTest, ::testing::ValuesIn(kReadCases),
                         [](const auto& info) { return std::string(info.param.name); });

// Overwrites bytes of a file in place, as another program would.
void WriteFileAt(const std::string& path, uint64_t offset, const std::string& bytes) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::pwrite(fd, bytes.data(), bytes.size(), static_cast<off_t>(offset)),
            static_cast<ssize_t>(bytes.size()));
  ASSERT_EQ(::fsync(fd), 0);
  ::close(fd);
}

// Writes a piece directly and a record through the cache, flushes, and reads
// both back through the writer and through the file underneath.
void WriteAndReadBack(LinuxDiskWriter& writer, const std::string& backing) {
  AlignedBytes piece(2 * kMiB);
  for (size_t i = 0; i < piece.size; ++i) piece.bytes[i] = static_cast<uint8_t>(i * 7 + 3);
  AlignedBytes record(512);
  std::memset(record.bytes, 0x5A, 512);
  ASSERT_TRUE(writer.WriteAt(4 * kMiB, piece.bytes, piece.size).IsOk());
  ASSERT_TRUE(writer.WriteAt(512, record.bytes, 512).IsOk());
  ASSERT_TRUE(writer.Flush().IsOk());

  AlignedBytes back(2 * kMiB);
  ASSERT_TRUE(writer.ReadBackAt(4 * kMiB, back.bytes, back.size).IsOk());
  EXPECT_EQ(std::memcmp(back.bytes, piece.bytes, piece.size), 0);
  ASSERT_TRUE(writer.ReadBackAt(0, back.bytes, 1024).IsOk());
  EXPECT_EQ(std::string(reinterpret_cast<char*>(back.bytes) + 512, 512), std::string(512, 'Z'));
  // Past the end: a failure, not a short answer.
  EXPECT_FALSE(writer.ReadBackAt(16 * kMiB - 512, back.bytes, 1024).IsOk());

  const std::string file = ReadFileText(backing);
  EXPECT_EQ(file.compare(4 * kMiB, piece.size,
                         std::string(reinterpret_cast<char*>(piece.bytes), piece.size)),
            0);
  EXPECT_EQ(file.substr(512, 512), std::string(512, 'Z'));
}

TEST(DirectOnRealFiles, CardImageFileWrittenAndReadBack) {
  TempDir dir;
  const std::string path = dir.File("card.img");
  WriteFile(path, std::string(16 * kMiB, '\0'));
  DiskSysCalls& sys = RealDiskSysCalls();
  const int fd = sys.Open(path, DiskOpenMode::ReadWrite);
  ASSERT_GE(fd, 0);
  LinuxDiskWriter writer(sys, fd, false);
  WriteAndReadBack(writer, path);
  writer.Close();
}

TEST(DirectOnRealFiles, LoopDeviceWrittenDirectlyAndReadBack) {
  if (geteuid() != 0) GTEST_SKIP() << "loop devices need root";
  if (!HaveProgram("losetup")) GTEST_SKIP() << "losetup is not installed";
  TempDir dir;
  const std::string backing = dir.File("card.img");
  WriteFile(backing, std::string(16 * kMiB, '\0'));
  LoopDevice loop(backing, false);
  if (loop.Path().empty()) GTEST_SKIP() << "no loop device could be attached: " << loop.Error();
  DiskSysCalls& sys = RealDiskSysCalls();
  const int fd = sys.Open(loop.Path(), DiskOpenMode::ReadWriteExclusive);
  ASSERT_GE(fd, 0);
  LinuxDiskWriter writer(sys, fd, true);
  WriteAndReadBack(writer, backing);

  // The loop device's own page cache holds the record sector written through
  // it; the backing file now changes beneath it. Reading back must show the
  // device's bytes, not the cached ones.
  WriteFileAt(backing, 512, std::string(512, 'n'));
  WriteFileAt(backing, 4 * kMiB, std::string(4096, 'd'));
  AlignedBytes back(4096);
  ASSERT_TRUE(writer.ReadBackAt(0, back.bytes, 1024).IsOk());
  EXPECT_EQ(std::string(reinterpret_cast<char*>(back.bytes) + 512, 512), std::string(512, 'n'));
  ASSERT_TRUE(writer.ReadBackAt(4 * kMiB, back.bytes, 4096).IsOk());
  EXPECT_EQ(std::string(reinterpret_cast<char*>(back.bytes), 4096), std::string(4096, 'd'));
  writer.Close();
}

}  // namespace
}  // namespace tarnwick::testing
