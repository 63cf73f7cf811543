// Card images burned by tarnwick-cli read back by tools we did not write:
// sfdisk, blkid, mtools and fsck.fat. Images are sparse files.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <iterator>
#include <sstream>

#include "cli_fixture.h"
#include "layout/card_layout.h"

namespace tarnwick::testing {
namespace {

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

// The lines fsck.fat -n prints for every card of this format by design: the
// FSInfo sector carries its lead signature only, the free count is not
// initialised, and the boot sector's label field reads "NO NAME" while the
// root directory holds the label (an eleven-space one when there is none).
std::vector<std::string> ByDesignFsckLines(const std::string& part, const std::string& label,
                                           uint64_t clusters) {
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
  if (!label.empty()) {
    lines.push_back("There is no label in boot sector, but there is volume label '" + label +
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
  uint64_t cardBytes;
  const char* label;
};

void PrintTo(const ToolCase& c, std::ostream* os) {
  *os << c.name;
}

class CardTools : public CliTest, public ::testing::WithParamInterface<ToolCase> {};

TEST_P(CardTools, ReadBackThePlannedLayout) {
  for (const char* tool : {"sfdisk", "blkid", "mlabel", "fsck.fat"}) {
    if (!HaveProgram(tool)) GTEST_SKIP() << tool << " is missing (util-linux, mtools, dosfstools)";
  }
  const ToolCase& tc = GetParam();
  setup = {65536, 65536, 524288, 1048576, 262144, tc.label, 2};
  WriteConfig();
  ASSERT_EQ(Burn("--target card.img --size " + std::to_string(tc.cardBytes)).status, 0);
  EXPECT_EQ(Cli("inspect card.img --config board.ini").status, 0);
  const std::string image = dir.File("card.img");
  const Plan p = PlanFor(tc.cardBytes, setup);
  const uint64_t clusters = (p.total[0] - 34 - 2 * Fat32FatSectors(p.total[0])) / 8;
  ASSERT_GE(clusters, 65'525u);

  std::string out;
  ASSERT_EQ(RunCommand("sfdisk --json " + image, &out), 0) << out;
  // Nothing but the table: a warning of sfdisk would come first.
  EXPECT_EQ(out.rfind("{", 0), 0u) << out;
  std::string json;
  std::copy_if(out.begin(), out.end(), std::back_inserter(json),
               [](char ch) { return !std::isspace(static_cast<unsigned char>(ch)); });
  auto expectPartition = [&](int number, uint64_t start, uint64_t size, const char* type) {
    std::ostringstream s;
    s << "{\"node\":\"" << image << number << "\",\"start\":" << start << ",\"size\":" << size
      << ",\"type\":\"" << type << "\"}";
    EXPECT_NE(json.find(s.str()), std::string::npos) << "partition " << number << "\n" << out;
  };
  expectPartition(1, 63, p.total[0], "b");
  expectPartition(2, p.X(), p.total[1], "5");
  expectPartition(3, p.R(), p.total[2], "bb");
  expectPartition(4, p.P(), p.total[3], "bb");
  expectPartition(5, p.X() + 63, 524'225, "83");
  expectPartition(6, p.X() + 524'288 + 63, 1'048'513, "83");
  expectPartition(7, p.X() + 1'572'864 + 63, 262'081, "83");
  EXPECT_EQ(json.find("\"node\":\"" + image + "8\""), std::string::npos) << out;

  const std::string offset = std::to_string(63 * 512);
  ASSERT_EQ(RunCommand("blkid -p -O " + offset + " " + image, &out), 0) << out;
  EXPECT_NE(out.find("TYPE=\"vfat\""), std::string::npos) << out;
  const std::string label = tc.label;
  if (!label.empty()) {
    EXPECT_NE(out.find("LABEL=\"" + label + "\""), std::string::npos) << out;
    ASSERT_EQ(RunCommand("MTOOLS_SKIP_CHECK=0 mlabel -s -i " + image + "@@" + offset + " ::", &out),
              0)
        << out;
    EXPECT_NE(out.find("Volume label is " + label), std::string::npos) << out;
  }

  const std::string part = dir.File("part.img");
  ASSERT_TRUE(SparseCopy(image, 63 * 512, p.total[0] * 512, part));
  // fsck.fat exits 1 for the by-design remarks: judge its lines instead.
  RunCommand("fsck.fat -n " + part, &out);
  const std::vector<std::string> allowed = ByDesignFsckLines(part, label, clusters);
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
    Burn, CardTools,
    ::testing::Values(ToolCase{"WorkedExampleWithLabel", 3'964'584'960, "TARNWICK"},
                      // 156 cylinders: just over 65,525 clusters in the FAT32 partition.
                      ToolCase{"SmallCardWithoutLabel", 156ull * 16'065 * 512, ""}),
    [](const ::testing::TestParamInfo<ToolCase>& info) { return info.param.name; });

}  // namespace
}  // namespace tarnwick::testing
