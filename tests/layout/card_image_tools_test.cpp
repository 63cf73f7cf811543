// Card images laid out by the layout code and read back by tools we did not
// write: sfdisk, blkid, mtools and fsck.fat. Images are sparse files.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "common/le.h"
#include "layout/fat32.h"
#include "layout/mbr.h"
#include "layout_fixture.h"

namespace tarnwick {
namespace {

using testing::ComputePlan;
using testing::ExampleInput;
using testing::HaveProgram;
using testing::PlanInput;
using testing::RunCommand;
using testing::TempDir;

// Writes sectors into an image file with pwrite.
class ImageFileWriter : public ISectorWriter {
 public:
  explicit ImageFileWriter(const std::string& path) : m_fd(open(path.c_str(), O_RDWR)) {}
  ~ImageFileWriter() override {
    if (m_fd >= 0) close(m_fd);
  }
  bool is_open() const { return m_fd >= 0; }

  bool WriteSectors(SectorNo first, uint32_t count, const uint8_t* buf) override {
    size_t len = size_t{count} * kSectorSize;
    off_t pos = static_cast<off_t>(SectorToByte(first));
    while (len > 0) {
      const ssize_t n = pwrite(m_fd, buf, len, pos);
      if (n <= 0) return false;
      buf += n;
      pos += n;
      len -= static_cast<size_t>(n);
    }
    return true;
  }

 private:
  int m_fd;
};

// Copies len bytes from offset of src into a new sparse file dst, reading
// only the data extents of src.
bool SparseCopy(const std::string& src, uint64_t offset, uint64_t len, const std::string& dst) {
  const int in = open(src.c_str(), O_RDONLY);
  const int out = open(dst.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
  bool ok = in >= 0 && out >= 0 && ftruncate(out, static_cast<off_t>(len)) == 0;
  const off_t end = static_cast<off_t>(offset + len);
  off_t pos = static_cast<off_t>(offset);
  std::vector<char> buf(1 << 20);
  while (ok && pos < end) {
    const off_t data = lseek(in, pos, SEEK_DATA);
    if (data < 0 || data >= end) break;  // only holes remain
    off_t hole = lseek(in, data, SEEK_HOLE);
    if (hole < 0 || hole > end) hole = end;
    for (pos = data; ok && pos < hole;) {
      const size_t want = static_cast<size_t>(std::min<off_t>(hole - pos, buf.size()));
      const ssize_t n = pread(in, buf.data(), want, pos);
      ok = n > 0 &&
           pwrite(out, buf.data(), static_cast<size_t>(n), pos - static_cast<off_t>(offset)) == n;
      pos += n;
    }
  }
  if (in >= 0) close(in);
  if (out >= 0) close(out);
  return ok;
}

struct Card {
  std::string image;
  PartitionPlan plan;
  SectorBytes mbr;
  std::array<SectorBytes, 3> ebrs;
  Fat32Layout fat;
};

// Lays out a whole card image: MBR, the three EBRs and the FAT32 partition.
Card BurnLayout(const TempDir& dir, const PlanInput& in) {
  Card c;
  c.image = dir.File("card.img");
  testing::WriteFile(c.image, std::string());
  EXPECT_EQ(truncate(c.image.c_str(), static_cast<off_t>(SectorToByte(in.cardSize))), 0);
  c.plan = ComputePlan(dir, in);
  c.mbr = MbrTemplate();
  EXPECT_TRUE(BuildMBR(c.mbr, c.plan));
  EXPECT_TRUE(BuildEBRs(c.ebrs, c.plan));
  EXPECT_TRUE(PrepareFat32(c.fat, c.mbr));

  ImageFileWriter w(c.image);
  EXPECT_TRUE(w.is_open());
  EXPECT_TRUE(w.WriteSectors(0, 1, c.mbr.data()));
  const SectorNo extended = EntryFirstSector(c.mbr, 1);
  EXPECT_TRUE(w.WriteSectors(extended, 1, c.ebrs[0].data()));
  EXPECT_TRUE(w.WriteSectors(extended + EntryFirstSector(c.ebrs[0], 1), 1, c.ebrs[1].data()));
  EXPECT_TRUE(w.WriteSectors(extended + EntryFirstSector(c.ebrs[1], 1), 1, c.ebrs[2].data()));
  EXPECT_TRUE(FormatFat32(c.fat, c.plan.m_szVolumeLabel, w));
  return c;
}

bool HaveTools() {
  for (const char* tool : {"sfdisk", "blkid", "mlabel", "fsck.fat"}) {
    if (!HaveProgram(tool)) return false;
  }
  return true;
}

// The lines fsck.fat -n prints for every card of this format by design: the
// FSInfo sector carries its lead signature only, the free count is not
// initialised, and the boot sector's label field reads "NO NAME" while the
// root directory holds the label (an eleven-space one when there is none).
std::vector<std::string> ByDesignFsckLines(const std::string& part,
                                           const std::optional<std::string>& label,
                                           uint32_t clusters) {
  std::vector<std::string> lines = {
      "FSINFO sector has bad magic number(s):",
      "  Offset 484: 0x00000000 != expected 0x61417272",
      "  Offset 508: 0x00000000 != expected 0xaa550000",
      "  Auto-correcting it.",
      "Free cluster summary uninitialized (should be " + std::to_string(clusters - 1) + ")",
      "",
      "Leaving filesystem unchanged.",
      // The label entry counts as one file; cluster 2 is the root directory.
      part + ": 1 files, 1/" + std::to_string(clusters) + " clusters",
  };
  if (label) {
    lines.push_back("There is no label in boot sector, but there is volume label '" + *label +
                    "' stored in root directory");
    lines.push_back("  Auto-copying volume label from root directory to boot sector.");
  } else {
    lines.push_back("Volume label '' stored in root directory is not valid.");
    lines.push_back("  Auto-removing label.");
  }
  return lines;
}

struct ToolCase {
  const char* name;
  uint64_t cardSize;
  std::optional<std::string> label;
};

void PrintTo(const ToolCase& c, std::ostream* os) {
  *os << c.name;
}

class CardImageTools : public ::testing::TestWithParam<ToolCase> {};

TEST_P(CardImageTools, ReadBackThePlannedLayout) {
  if (!HaveTools())
    GTEST_SKIP() << "sfdisk, blkid, mlabel or fsck.fat missing (util-linux, mtools, dosfstools)";
  const ToolCase& tc = GetParam();
  TempDir dir;
  PlanInput in = ExampleInput(tc.cardSize);
  in.label = tc.label;
  const Card card = BurnLayout(dir, in);
  const PartitionPlan& p = card.plan;
  const uint32_t clusters = static_cast<uint32_t>(
      (p.m_arrTotalSectors[0] - 34 - 2 * GetU32(card.fat.m_tDBR.data(), 36)) / 8);
  ASSERT_GE(clusters, 65'525u);

  std::string out;
  ASSERT_EQ(RunCommand("sfdisk --json " + card.image, &out), 0) << out;
  // Nothing but the table: a warning of sfdisk would come first.
  EXPECT_EQ(out.rfind("{", 0), 0u) << out;
  std::string json;
  std::copy_if(out.begin(), out.end(), std::back_inserter(json),
               [](char ch) { return !std::isspace(static_cast<unsigned char>(ch)); });
  auto expectPartition = [&](int number, uint64_t start, uint64_t size, const char* type) {
    std::ostringstream s;
    s << "{\"node\":\"" << card.image << number << "\",\"start\":" << start << ",\"size\":" << size
      << ",\"type\":\"" << type << "\"}";
    EXPECT_NE(json.find(s.str()), std::string::npos) << "partition " << number << "\n" << out;
  };
  const uint64_t x = p.m_arrStartSector[1];
  expectPartition(1, 63, p.m_arrTotalSectors[0], "b");
  expectPartition(2, x, p.m_arrTotalSectors[1], "5");
  expectPartition(3, p.m_arrStartSector[2], p.m_arrTotalSectors[2], "bb");
  expectPartition(4, p.m_arrStartSector[3], p.m_arrTotalSectors[3], "bb");
  expectPartition(5, x + 63, 524'225, "83");
  expectPartition(6, x + 524'288 + 63, 1'048'513, "83");
  expectPartition(7, x + 1'572'864 + 63, 262'081, "83");
  EXPECT_EQ(json.find("\"node\":\"" + card.image + "8\""), std::string::npos) << out;

  const std::string offset = std::to_string(SectorToByte(63));
  ASSERT_EQ(RunCommand("blkid -p -O " + offset + " " + card.image, &out), 0) << out;
  EXPECT_NE(out.find("TYPE=\"vfat\""), std::string::npos) << out;
  if (tc.label) {
    EXPECT_NE(out.find("LABEL=\"" + *tc.label + "\""), std::string::npos) << out;
  }

  if (tc.label) {
    ASSERT_EQ(
        RunCommand("MTOOLS_SKIP_CHECK=0 mlabel -s -i " + card.image + "@@" + offset + " ::", &out),
        0)
        << out;
    EXPECT_NE(out.find("Volume label is " + *tc.label), std::string::npos) << out;
  }

  const std::string part = dir.File("part.img");
  ASSERT_TRUE(SparseCopy(card.image, SectorToByte(63), SectorToByte(p.m_arrTotalSectors[0]), part));
  // fsck.fat exits 1 for the by-design remarks: judge its lines instead.
  RunCommand("fsck.fat -n " + part, &out);
  const std::vector<std::string> allowed = ByDesignFsckLines(part, tc.label, clusters);
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("fsck.fat ", 0) == 0) continue;  // the version line
    EXPECT_NE(std::find(allowed.begin(), allowed.end(), line), allowed.end())
        << "unexpected fsck.fat line: " << line << "\n"
        << out;
  }
  EXPECT_NE(out.find(allowed[7]), std::string::npos) << out;
}

INSTANTIATE_TEST_SUITE_P(
    Layout, CardImageTools,
    ::testing::Values(ToolCase{"WorkedExampleWithLabel", 7'743'330, "TARNWICK"},
                      // About 1.2 GiB: just over 65,525 clusters in the FAT32 partition.
                      ToolCase{"SmallCardWithoutLabel", 2'500'000, std::nullopt}),
    [](const ::testing::TestParamInfo<ToolCase>& info) { return info.param.name; });

}  // namespace
}  // namespace tarnwick
