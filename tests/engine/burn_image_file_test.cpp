// The burn on card image files through the simulated disk service: every
// sector the burn writes holds what the in-memory burn of the same card holds,
// and every other sector still holds the pattern the image was filled with.
#include <algorithm>

#include "burn_fixture.h"
#include "platform/sim/image_disk_service.h"

namespace tarnwick::testing {
namespace {

constexpr uint64_t kCylinders = 4;  // 64,260 sectors, a 32 MiB image
constexpr uint64_t kImageBytes = 32ull << 20;

class ImageFileBurn : public BurnFixture {
 protected:
  ImageFileBurn() {
    config["PARTITION_SECTORS"] = {{"Partition_Boot", "12288"},  {"Partition_Recovery", "2048"},
                                   {"Partition_System", "8192"}, {"Partition_Data", "8192"},
                                   {"Partition_Cache", "4096"},  {"LABEL", "SMALL"}};
    images[PackSlot::BootRes] = PatternImage(3000, 3);
    images[PackSlot::BootRecover] = PatternImage(512, 7);
  }
};

TEST_F(ImageFileBurn, WritesExactlyTheRegionsOfTheBurn) {
  // The reference: the same card burned on the in-memory disk.
  disks.AddCard("card", kCylinders);
  Run();
  ASSERT_EQ(engine->LastRun().cardsWritten, 1);
  const std::string referenceLog = log;
  const FakeCard& reference = disks.Card(0);

  const std::string path = dir.File("card.img");
  WriteFile(path, std::vector<uint8_t>(kImageBytes, kPatternByte));
  ImageDiskService imageDisks({path});
  RecordingOperator imageOp;
  LogCapture capture;
  CBurnEngine imageEngine(imageDisks, imageOp, settings);
  imageEngine.m_strCfgFile = cfgFile;
  imageEngine.m_strPackFile = packFile;
  capture.Clear();
  imageEngine.RunBurn();
  EXPECT_EQ(capture.Text(), referenceLog);
  EXPECT_EQ(imageEngine.LastRun().cardsWritten, 1);

  const std::vector<uint8_t> card = ReadFileBytes(path);
  ASSERT_EQ(card.size(), kImageBytes);
  uint64_t mismatches = 0;
  for (uint64_t s = 0; s < kImageBytes / 512; ++s) {
    const Sector expected = reference.Read(s);
    if (!std::equal(expected.begin(), expected.end(), card.begin() + s * 512)) ++mismatches;
  }
  EXPECT_EQ(mismatches, 0u);
  EXPECT_GT(reference.sectors.size(), 2049u);  // at least the boot environment
}

}  // namespace
}  // namespace tarnwick::testing
