// The sector writer: chunking, positions, its log lines, the no-disk states,
// flushing and the geometry probe with its media-types fallback.
#include "engine/sd_read_write.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fstream>

#include "common/debug_log.h"
#include "common/le.h"
#include "platform/fake_disk_host.h"
#include "platform/linux/disk_writer.h"
#include "platform/linux/target_disk_service.h"
#include "platform/sim/image_disk_service.h"
#include "test_support.h"

namespace tarnwick::testing {
namespace {

struct WriteCall {
  uint64_t offset;
  size_t len;
  size_t bufferOffset;  // where in the caller's buffer the call's data began
  bool operator==(const WriteCall&) const = default;
};

// A writer that records every call and fails the n-th one (1-based) on demand.
class RecordingWriter : public IDiskWriter {
 public:
  RecordingWriter(std::vector<WriteCall>& calls, const uint8_t* base, int failCall, int failErr,
                  int flushErr, bool& closed)
      : m_calls(calls),
        m_base(base),
        m_failCall(failCall),
        m_failErr(failErr),
        m_flushErr(flushErr),
        m_closed(closed) {}
  int WriteAt(uint64_t offset, const void* data, size_t len) override {
    m_calls.push_back(
        {offset, len, static_cast<size_t>(static_cast<const uint8_t*>(data) - m_base)});
    return static_cast<int>(m_calls.size()) == m_failCall ? m_failErr : 0;
  }
  int Flush() override { return m_flushErr; }
  void Close() override { m_closed = true; }

 private:
  std::vector<WriteCall>& m_calls;
  const uint8_t* m_base;
  int m_failCall, m_failErr, m_flushErr;
  bool& m_closed;
};

// A disk service with one disk, "/dev/card", and a scripted probe.
class ScriptedService : public IDiskService {
 public:
  explicit ScriptedService(const uint8_t* base = nullptr) : m_base(base) {}

  std::vector<WriteCall> calls;
  int failCall = 0;
  int failErr = EIO;
  int flushErr = 0;
  bool closed = false;
  bool openFails = false;
  std::unique_ptr<IDiskWriter> nextWriter;  // replaces the recording writer when set
  // The probe.
  bool queryOpens = true;
  bool answersGeometry = false;
  DiskGeometry geometry;
  bool answersMediaTypes = false;
  uint8_t mediaTypes[kMediaTypesAnswerSize] = {};

  std::vector<DiskSlot> Slots() override { return {{"/dev/card"}}; }
  std::unique_ptr<IDiskQuery> OpenForQuery(const std::string&) override;
  std::unique_ptr<IDiskWriter> OpenForWrite(const std::string&, std::string* errorText) override {
    if (openFails) {
      if (errorText) *errorText = "/dev/card is in use";
      return nullptr;
    }
    if (nextWriter) return std::move(nextWriter);
    return std::make_unique<RecordingWriter>(calls, m_base, failCall, failErr, flushErr, closed);
  }

 private:
  const uint8_t* m_base;
};

class ScriptedQuery : public IDiskQuery {
 public:
  explicit ScriptedQuery(ScriptedService& s) : m_s(s) {}
  bool GetDriveGeometry(DiskGeometry& g) override {
    if (m_s.answersGeometry) g = m_s.geometry;
    return m_s.answersGeometry;
  }
  bool GetMediaTypes(uint8_t (&answer)[kMediaTypesAnswerSize]) override {
    if (m_s.answersMediaTypes)
      std::copy(std::begin(m_s.mediaTypes), std::end(m_s.mediaTypes), answer);
    return m_s.answersMediaTypes;
  }

 private:
  ScriptedService& m_s;
};

std::unique_ptr<IDiskQuery> ScriptedService::OpenForQuery(const std::string&) {
  return queryOpens ? std::make_unique<ScriptedQuery>(*this) : nullptr;
}

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
  int failCall;  // 0: none
  bool result;
  std::vector<WriteCall> calls;
};

const ChunkCase kChunkCases[] = {
    {"ZeroSectorsIsOneEmptyCall", 100, 0, 0, true, {{51200, 0, 0}}},
    {"OneSector", 100, 1, 0, true, {{51200, 512, 0}}},
    {"ExactlyOneChunk", 0, 65536, 0, true, {{0, kChunk, 0}}},
    {"OneSectorMoreThanAChunk",
     10,
     65537,
     0,
     true,
     {{5120, kChunk, 0}, {5120 + kChunk, 512, kChunk}}},
    {"TwoFullChunks", 0, 131072, 0, true, {{0, kChunk, 0}, {kChunk, kChunk, kChunk}}},
    {"SecondOfThreeFailsAndThirdIsNotTried",
     0,
     196608,
     2,
     false,
     {{0, kChunk, 0}, {kChunk, kChunk, kChunk}}},
    {"LastSectorOfTheCard", 0xFFFFFFFF, 1, 0, true, {{0x1FFFFFFFE00, 512, 0}}},
};

class ChunkTest : public ::testing::TestWithParam<ChunkCase> {};

TEST_P(ChunkTest, WritesInChunksOfAtMost65536Sectors) {
  const ChunkCase& c = GetParam();
  ScriptedService disks(BigBuffer().data());
  disks.failCall = c.failCall;
  CSDReadWrite writer(disks);
  ASSERT_TRUE(writer.OpenDisk("/dev/card"));
  LogCapture log;
  EXPECT_EQ(writer.WriteSectors(c.first, c.count, BigBuffer().data()), c.result);
  EXPECT_EQ(disks.calls, c.calls);
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
    {"PositionTooLarge", 0x800000, 1, EOVERFLOW, "WriteSectorsAux: SetFilePointer err = 75\n"},
};

class LogTest : public ::testing::TestWithParam<LogCase> {};

TEST_P(LogTest, FailedWriteLogsItsLine) {
  const LogCase& c = GetParam();
  ScriptedService disks(BigBuffer().data());
  disks.failCall = 1;
  disks.failErr = c.err;
  CSDReadWrite writer(disks);
  ASSERT_TRUE(writer.OpenDisk("/dev/card"));
  LogCapture log;
  EXPECT_FALSE(writer.WriteSectors(c.first, c.count, BigBuffer().data()));
  EXPECT_EQ(log.Text(), c.log);
  ASSERT_EQ(disks.calls.size(), 1u);
  EXPECT_EQ(disks.calls[0].offset, uint64_t{c.first} * 512);
}

INSTANTIATE_TEST_SUITE_P(Lines, LogTest, ::testing::ValuesIn(kLogCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(SectorWriter, NoDiskOpenMeansInvalidHandle) {
  const struct {
    const char* state;
    std::function<void(CSDReadWrite&, ScriptedService&)> reach;
  } kStates[] = {
      {"never opened", [](CSDReadWrite&, ScriptedService&) {}},
      {"failed open",
       [](CSDReadWrite& w, ScriptedService& d) {
         d.openFails = true;
         EXPECT_FALSE(w.OpenDisk("/dev/card"));
         EXPECT_EQ(w.LastOpenError(), "/dev/card is in use");
       }},
      {"closed",
       [](CSDReadWrite& w, ScriptedService& d) {
         ASSERT_TRUE(w.OpenDisk("/dev/card"));
         EXPECT_TRUE(w.CloseDisk());
         EXPECT_TRUE(d.closed);
       }},
  };
  for (const auto& s : kStates) {
    SCOPED_TRACE(s.state);
    ScriptedService disks;
    CSDReadWrite writer(disks);
    LogCapture log;
    s.reach(writer, disks);
    EXPECT_EQ(log.Text(), "") << "opening and closing log nothing";
    uint8_t sector[512] = {};
    EXPECT_FALSE(writer.WriteSectors(0, 1, sector));
    EXPECT_FALSE(writer.Flush());
    EXPECT_EQ(log.Text(), "WriteSectorsAux: Invalid Handle\n");
    EXPECT_TRUE(writer.CloseDisk());
    EXPECT_TRUE(disks.calls.empty());
  }
}

TEST(SectorWriter, FlushReportsTheSystemAnswer) {
  for (const int err : {0, EIO}) {
    ScriptedService disks;
    disks.flushErr = err;
    CSDReadWrite writer(disks);
    ASSERT_TRUE(writer.OpenDisk("/dev/card"));
    EXPECT_EQ(writer.Flush(), err == 0);
  }
}

TEST(SectorWriter, ShortTransferEndingInNothingIsAFailedWrite) {
  FakeDiskSysCalls sys;
  int answer = 0;
  // The system takes half, then nothing: the write fails with ENOSPC.
  sys.write = [&](size_t len, uint64_t) -> int64_t {
    return answer++ == 0 ? static_cast<int64_t>(len / 2) : 0;
  };
  ScriptedService disks;
  disks.nextWriter = std::make_unique<LinuxDiskWriter>(sys, 5, false);
  CSDReadWrite writer(disks);
  ASSERT_TRUE(writer.OpenDisk("/dev/card"));
  LogCapture log;
  uint8_t sectors[1024] = {};
  EXPECT_FALSE(writer.WriteSectors(0x800000, 2, sectors));
  EXPECT_EQ(log.Text(),
            "WriteSectorsAux: WriteFile failed, err = 28, numSector = 2, lowaddr = 0x0, highaddr = "
            "0x1\n");
}

TEST(SectorWriter, PositionsPastTwoAndFourGiBOnASparseImage) {
  TempDir dir;
  const std::string image = dir.File("card.img");
  ASSERT_TRUE(CreateCardImage(image, uint64_t{5} << 30));
  TargetDiskService disks({image}, false);
  CSDReadWrite writer(disks);
  ASSERT_TRUE(writer.OpenDisk(image)) << writer.LastOpenError();

  const struct {
    SectorNo first;
    uint8_t fill;
  } kWrites[] = {{0x3FFFFF, 0x11}, {0x7FFFFF, 0x22}, {0x900001, 0x33}};
  for (const auto& w : kWrites) {
    const std::vector<uint8_t> data(1024, w.fill);  // two sectors, across the boundary
    ASSERT_TRUE(writer.WriteSectors(w.first, 2, data.data()));
  }
  ASSERT_TRUE(writer.Flush());
  EXPECT_TRUE(writer.CloseDisk());

  std::ifstream in(image, std::ios::binary);
  for (const auto& w : kWrites) {
    std::vector<char> got(1536);
    in.seekg(static_cast<std::streamoff>(uint64_t{w.first} * 512));
    in.read(got.data(), static_cast<std::streamsize>(got.size()));
    ASSERT_TRUE(in) << "sector " << w.first;
    for (size_t i = 0; i < 1024; ++i) ASSERT_EQ(static_cast<uint8_t>(got[i]), w.fill) << i;
    for (size_t i = 1024; i < got.size(); ++i) ASSERT_EQ(got[i], 0) << "written too much";
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
  ScriptedService disks;
  disks.queryOpens = c.opens;
  disks.answersGeometry = c.answersGeometry;
  disks.geometry = kDrive;
  disks.answersMediaTypes = c.answersMediaTypes;
  PutU32(disks.mediaTypes, 0, 7);  // device type: not read
  PutU32(disks.mediaTypes, 4, c.entryCount);
  PutU64(disks.mediaTypes, 8, static_cast<uint64_t>(kMedia.Cylinders));
  PutU32(disks.mediaTypes, 16, kMedia.MediaType);
  PutU32(disks.mediaTypes, 20, kMedia.TracksPerCylinder);
  PutU32(disks.mediaTypes, 24, kMedia.SectorsPerTrack);
  PutU32(disks.mediaTypes, 28, kMedia.BytesPerSector);
  PutU32(disks.mediaTypes, 32, 0xDEADBEEF);  // past the disk information

  CSDReadWrite writer(disks);
  DiskGeometry g = kUntouched;
  EXPECT_EQ(writer.GetDiskGeometry("/dev/card", g), c.result);
  const DiskGeometry& want = c.result ? c.expected : kUntouched;
  EXPECT_EQ(g.Cylinders, want.Cylinders);
  EXPECT_EQ(g.MediaType, want.MediaType);
  EXPECT_EQ(g.TracksPerCylinder, want.TracksPerCylinder);
  EXPECT_EQ(g.SectorsPerTrack, want.SectorsPerTrack);
  EXPECT_EQ(g.BytesPerSector, want.BytesPerSector);
}

INSTANTIATE_TEST_SUITE_P(Probes, GeometryTest, ::testing::ValuesIn(kGeometryCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tarnwick::testing
