// The sector writer: chunking, positions, its log lines, the no-disk states,
// flushing and the geometry probe with its media-types fallback.
#include "engine/sd_read_write.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <functional>
#include <tuple>

#include "common/debug_log.h"
#include "fake_disk_service.h"
#include "test_support.h"

namespace tarnwick::testing {
namespace {

// One write call as the sector writer made it: bufferOffset is where in the
// caller's buffer the call's data began.
struct Call {
  uint64_t offset;
  size_t len;
  size_t bufferOffset;
  bool operator==(const Call&) const = default;
};

std::vector<Call> CallsOf(const FakeCard& card, const void* base) {
  std::vector<Call> calls;
  for (const WriteCall& w : card.calls) {
    calls.push_back({w.offset, w.len,
                     static_cast<size_t>(static_cast<const uint8_t*>(w.data) -
                                         static_cast<const uint8_t*>(base))});
  }
  return calls;
}

// A disk service with one card, "/dev/card", that only records the writes.
struct OneCard {
  OneCard() { card.keepSectors = false; }
  FakeDiskService disks;
  FakeCard& card = disks.AddSlot("/dev/card");
};

// Enough for three full chunks.
const std::vector<uint8_t>& BigBuffer() {
  static const std::vector<uint8_t> buffer(size_t{3} * kMaxChunkSectors * 512);
  return buffer;
}

constexpr uint64_t kChunk = 0x2000000;  // 32 MiB

struct ChunkCase {
  const char* name;
  SectorNo first;
  uint32_t count;
  std::optional<uint64_t> failAt;
  bool result;
  std::vector<Call> calls;
};

const ChunkCase kChunkCases[] = {
    {"ZeroSectorsIsOneEmptyCall", 100, 0, {}, true, {{51200, 0, 0}}},
    {"OneSector", 100, 1, {}, true, {{51200, 512, 0}}},
    {"ExactlyOneChunk", 0, 65536, {}, true, {{0, kChunk, 0}}},
    {"OneMoreThanAChunk", 10, 65537, {}, true, {{5120, kChunk, 0}, {5120 + kChunk, 512, kChunk}}},
    {"TwoFullChunks", 0, 131072, {}, true, {{0, kChunk, 0}, {kChunk, kChunk, kChunk}}},
    {"SecondOfThreeFails", 0, 196608, 65536, false, {{0, kChunk, 0}, {kChunk, kChunk, kChunk}}},
    {"LastSectorOfTheCard", 0xFFFFFFFF, 1, {}, true, {{0x1FFFFFFFE00, 512, 0}}},
};

class ChunkTest : public ::testing::TestWithParam<ChunkCase> {};

TEST_P(ChunkTest, WritesInChunksOfAtMost65536Sectors) {
  const ChunkCase& c = GetParam();
  OneCard one;
  one.card.failAtSector = c.failAt;
  CSDReadWrite writer(one.disks);
  ASSERT_TRUE(writer.OpenDisk("/dev/card"));
  LogCapture log;
  EXPECT_EQ(writer.WriteSectors(c.first, c.count, BigBuffer().data()), c.result);
  EXPECT_EQ(CallsOf(one.card, BigBuffer().data()), c.calls);
  if (c.result) {
    EXPECT_EQ(log.Text(), "");
  }
}

INSTANTIATE_TEST_SUITE_P(Counts, ChunkTest, ::testing::ValuesIn(kChunkCases),
                         [](const auto& info) { return std::string(info.param.name); });

struct LogCase {
  const char* name;
  SectorNo first;
  uint32_t count;
  int err;
  std::string log;
};

const LogCase kLogCases[] = {
    {"FourGiBPosition", 0x800000, 1, EIO,
     "WriteSectorsAux: WriteFile failed, err = 5, numSector = 1, lowaddr = 0x0, highaddr = 0x1\n"},
    {"LowAndHighHalves", 0x1234567, 8, ENOSPC,
     "WriteSectorsAux: WriteFile failed, err = 28, numSector = 8, lowaddr = 0x468ace00, "
     "highaddr = 0x2\n"},
    {"PositionRefused", 0x800000, 1, EINVAL, "WriteSectorsAux: SetFilePointer err = 22\n"},
    // EOVERFLOW is 75 on Linux, not so in every C library.
    {"PositionTooLarge", 0x800000, 1, EOVERFLOW,
     "WriteSectorsAux: SetFilePointer err = " + std::to_string(EOVERFLOW) + "\n"},
};

class LogTest : public ::testing::TestWithParam<LogCase> {};

TEST_P(LogTest, FailedWriteLogsItsLine) {
  const LogCase& c = GetParam();
  OneCard one;
  one.card.failAtSector = c.first;
  one.card.failError = c.err;
  CSDReadWrite writer(one.disks);
  ASSERT_TRUE(writer.OpenDisk("/dev/card"));
  LogCapture log;
  EXPECT_FALSE(writer.WriteSectors(c.first, c.count, BigBuffer().data()));
  EXPECT_EQ(log.Text(), c.log);
  ASSERT_EQ(one.card.calls.size(), 1u);
  EXPECT_EQ(one.card.calls[0].offset, uint64_t{c.first} * 512);
}

INSTANTIATE_TEST_SUITE_P(Lines, LogTest, ::testing::ValuesIn(kLogCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(SectorWriter, NoDiskOpenMeansInvalidHandle) {
  const struct {
    const char* state;
    std::function<void(CSDReadWrite&, OneCard&)> reach;
  } kStates[] = {
      {"never opened", [](CSDReadWrite&, OneCard&) {}},
      {"failed open",
       [](CSDReadWrite& w, OneCard& o) {
         o.card.exists = false;
         EXPECT_FALSE(w.OpenDisk("/dev/card"));
         EXPECT_EQ(w.LastOpenError(), "/dev/card: permission denied");
       }},
      {"closed",
       [](CSDReadWrite& w, OneCard& o) {
         ASSERT_TRUE(w.OpenDisk("/dev/card"));
         EXPECT_TRUE(w.CloseDisk());
         EXPECT_EQ(o.disks.events.back(), "close /dev/card");
       }},
  };
  for (const auto& s : kStates) {
    SCOPED_TRACE(s.state);
    OneCard one;
    CSDReadWrite writer(one.disks);
    LogCapture log;
    s.reach(writer, one);
    EXPECT_EQ(log.Text(), "") << "opening and closing log nothing";
    uint8_t sector[512] = {};
    EXPECT_FALSE(writer.WriteSectors(0, 1, sector));
    EXPECT_FALSE(writer.Flush());
    EXPECT_EQ(log.Text(), "WriteSectorsAux: Invalid Handle\n");
    EXPECT_TRUE(writer.CloseDisk());
    EXPECT_TRUE(one.card.calls.empty());
  }
}

TEST(SectorWriter, FlushReportsTheSystemAnswer) {
  for (const bool fails : {false, true}) {
    OneCard one;
    one.card.failFlush = fails;
    CSDReadWrite writer(one.disks);
    ASSERT_TRUE(writer.OpenDisk("/dev/card"));
    EXPECT_EQ(writer.Flush().IsOk(), !fails);
  }
}

// The geometry probe.
struct GeometryCase {
  const char* name;
  bool opens;
  bool answersGeometry;
  bool answersMediaTypes;
  uint32_t entryCount;
  bool result;
  DiskGeometry expected;  // compared when the probe succeeds
};

const DiskGeometry kUntouched{-1, 99, 99, 99, 99};
const DiskGeometry kDrive{482, kRemovableMedia, 255, 63, 512};
// A first media entry with a 64-bit cylinder count, to prove all 8 bytes are read.
const DiskGeometry kMedia{0x100000001, kFixedMedia, 16, 32, 2048};

const GeometryCase kGeometryCases[] = {
    {"CannotOpen", false, true, true, 1, false, kUntouched},
    {"GeometryAnswered", true, true, true, 1, true, kDrive},
    {"MediaTypesFallback", true, false, true, 1, true, kMedia},
    {"MediaTypesWithoutEntry", true, false, true, 0, false, kUntouched},
    {"NeitherAnswered", true, false, false, 1, false, kUntouched},
};

class GeometryTest : public ::testing::TestWithParam<GeometryCase> {};

TEST_P(GeometryTest, ProbesGeometryThenMediaTypes) {
  const GeometryCase& c = GetParam();
  OneCard one;
  one.card.exists = c.opens;
  one.card.answersGeometry = c.answersGeometry;
  one.card.geometry = kDrive;
  one.card.answersMediaTypes = c.answersMediaTypes;
  one.card.mediaEntries = c.entryCount;
  one.card.mediaGeometry = kMedia;
  CSDReadWrite writer(one.disks);
  DiskGeometry g = kUntouched;
  EXPECT_EQ(writer.GetDiskGeometry("/dev/card", g), c.result);
  const DiskGeometry& want = c.result ? c.expected : kUntouched;
  EXPECT_EQ(
      std::tie(g.Cylinders, g.MediaType, g.TracksPerCylinder, g.SectorsPerTrack, g.BytesPerSector),
      std::tie(want.Cylinders, want.MediaType, want.TracksPerCylinder, want.SectorsPerTrack,
               want.BytesPerSector));
}

INSTANTIATE_TEST_SUITE_P(Probes, GeometryTest, ::testing::ValuesIn(kGeometryCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tarnwick::testing
