// The sector writer through the Linux disk service on a sparse card image:
// positions past 2 and 4 GiB reach the image where they should.
#include <gtest/gtest.h>

#include <fstream>
#include <vector>

#include "engine/sd_read_write.h"
#include "platform/linux/target_disk_service.h"
#include "platform/sim/image_disk_service.h"
#include "test_support.h"

namespace tarnwick::testing {
namespace {

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

}  // namespace
}  // namespace tarnwick::testing
