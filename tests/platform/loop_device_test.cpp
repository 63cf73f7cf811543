// The Linux writer on a real block device: a loop device attached to a file
// this test created, detached again whatever happens. No other block device
// is opened.
#include "loop_device.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "common/debug_log.h"
#include "fake_clock.h"
#include "platform/linux/target_disk_service.h"
#include "platform/sim/image_disk_service.h"
#include "test_support.h"

namespace tarnwick::testing {
namespace {

class LoopDeviceTest : public ::testing::Test {
 protected:
  virtual bool PartitionScan() const { return false; }
  void SetUp() override {
    if (geteuid() != 0) GTEST_SKIP() << "loop devices need root";
    if (!HaveProgram("losetup")) GTEST_SKIP() << "losetup is not installed";
    m_backing = m_dir.File("card.img");
    ASSERT_TRUE(CreateCardImage(m_backing, kBytes));
    m_loop = std::make_unique<LoopDevice>(m_backing, PartitionScan());
    if (m_loop->Path().empty())
      GTEST_SKIP() << "no loop device could be attached: " << m_loop->Error();
  }

  static constexpr uint64_t kBytes = 16u << 20;
  TempDir m_dir;
  std::string m_backing;
  std::unique_ptr<LoopDevice> m_loop;
};

TEST_F(LoopDeviceTest, RefusedAsFixedDiskUnlessFixedDisksAreAllowed) {
  TargetDiskService strict({m_loop->Path()}, false);
  EXPECT_NE(strict.CheckTarget(m_loop->Path()).find("loop device"), std::string::npos);
  EXPECT_FALSE(strict.OpenForWrite(m_loop->Path()).IsOk());

  TargetDiskService allowed({m_loop->Path()}, true);
  EXPECT_EQ(allowed.CheckTarget(m_loop->Path()), "");
  std::unique_ptr<IDiskQuery> query = allowed.OpenForQuery(m_loop->Path());
  ASSERT_NE(query, nullptr);
  DiskGeometry g;
  ASSERT_TRUE(query->GetDriveGeometry(g));
  EXPECT_EQ(g.Cylinders, 2);  // 16 MiB holds two whole 255 x 63 cylinders
  EXPECT_EQ(g.MediaType, kRemovableMedia);
}

TEST_F(LoopDeviceTest, WritesExclusivelyAndOnlyLogsTheRefusedReread) {
  FakeClock clock;
  LinuxDiskOptions options;
  options.clock = &clock;
  TargetDiskService disks({m_loop->Path()}, true, options);
  LogCapture log;
  SysResult<std::unique_ptr<IDiskWriter>> opened = disks.OpenForWrite(m_loop->Path());
  ASSERT_TRUE(opened.IsOk()) << opened.Status().Text();
  std::unique_ptr<IDiskWriter> writer = opened.Take();

  // While the card is held, nobody else gets it exclusively: the second
  // writer waits its time out (on the fake clock) and names the holder, this
  // process, as the real /proc shows it.
  SysResult<std::unique_ptr<IDiskWriter>> second = disks.OpenForWrite(m_loop->Path());
  const std::string& text = second.Status().Text();
  EXPECT_EQ(second.Status().Code(), std::errc::resource_unavailable_try_again);
  EXPECT_NE(text.find("locked by another program"), std::string::npos) << text;
  EXPECT_NE(text.find("still after 10 s"), std::string::npos) << text;
  EXPECT_NE(text.find("(pid " + std::to_string(getpid()) + ") holds a lock on " + m_loop->Path() +
                      " and has " + m_loop->Path() + " open"),
            std::string::npos)
      << text;
  EXPECT_EQ(clock.slept, kBusyCardWait);

  std::vector<uint8_t> data(3 * 512);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i % 255 + 1);
  ASSERT_TRUE(writer->WriteAt(2049 * 512, data.data(), data.size()).IsOk());
  ASSERT_TRUE(writer->Flush().IsOk());
  writer->Close();
  // A loop device without partition scanning refuses the re-read (EINVAL).
  const std::string busy = "OpenDisk: " + m_loop->Path() +
                           " busy, waiting\nOpenDisk: " + m_loop->Path() +
                           " given up after 10.0 s, still busy\n";
  EXPECT_NE(log.Text().find(busy + "CloseDisk: re-read of the partition table refused, err = 22\n"),
            std::string::npos)
      << log.Text();

  const std::vector<uint8_t> image = ReadFileBytes(m_backing);
  ASSERT_EQ(image.size(), kBytes);
  EXPECT_TRUE(std::equal(data.begin(), data.end(), image.begin() + 2049 * 512));
  EXPECT_EQ(std::count(image.begin(), image.end(), 0), static_cast<long>(kBytes - data.size()))
      << "nothing else was written";

  // Closed: the device is free again.
  EXPECT_TRUE(disks.OpenForWrite(m_loop->Path()).IsOk());
}

class PartitionedLoopDeviceTest : public LoopDeviceTest {
 protected:
  bool PartitionScan() const override { return true; }
};

TEST_F(PartitionedLoopDeviceTest, NewPartitionTableIsReadWhenTheCardIsClosed) {
  TargetDiskService disks({m_loop->Path()}, true);
  SysResult<std::unique_ptr<IDiskWriter>> opened = disks.OpenForWrite(m_loop->Path());
  ASSERT_TRUE(opened.IsOk()) << opened.Status().Text();
  std::unique_ptr<IDiskWriter> writer = opened.Take();
  // One FAT32 partition of 8,192 sectors from sector 2,048.
  uint8_t mbr[512] = {};
  const uint8_t entry[16] = {0, 0, 0, 0, 0x0C, 0, 0, 0, 0x00, 0x08, 0, 0, 0x00, 0x20, 0, 0};
  std::copy(std::begin(entry), std::end(entry), mbr + 446);
  mbr[510] = 0x55;
  mbr[511] = 0xAA;
  ASSERT_TRUE(writer->WriteAt(0, mbr, sizeof mbr).IsOk());
  LogCapture log;
  writer->Close();
  EXPECT_EQ(log.Text(), "") << "the re-read is accepted while the card is held exclusively";

  const std::string name = m_loop->Path().substr(5);
  const std::string partition = "/sys/block/" + name + "/" + name + "p1/size";
  std::string config;
  if (!std::filesystem::exists(partition) &&
      (RunCommand("zcat /proc/config.gz", &config) != 0 ||
       config.find("CONFIG_MSDOS_PARTITION=y") == std::string::npos)) {
    GTEST_SKIP() << "this kernel reads no MBR partition tables (CONFIG_MSDOS_PARTITION)";
  }
  EXPECT_EQ(ReadFileText(partition), "8192\n");
}

}  // namespace
}  // namespace tarnwick::testing
