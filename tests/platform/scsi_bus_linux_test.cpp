#include "platform/linux/scsi_bus_linux.h"

#include <fcntl.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "common/debug_log.h"
#include "platform/linux/udev_monitor.h"
#include "platform/system_error_codes.h"
#include "test_support.h"

namespace tarnwick {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;

// Records what the bus asks of the system and answers as told.
class FakeSgCalls : public ISgCalls {
 public:
  int Open(const std::string& path) override {
    opened.push_back(path);
    return openResult != 0 ? openResult : nextFd++;
  }
  int Close(int fd) override {
    closed.push_back(fd);
    return 0;
  }
  int SgIo(int fd, sg_io_hdr_t& header) override {
    lastFd = fd;
    sent = header;
    cdb.assign(header.cmdp, header.cmdp + header.cmd_len);
    header.status = answer.status;
    header.host_status = answer.host_status;
    header.driver_status = answer.driver_status;
    header.resid = answer.resid;
    size_t senseBytes = std::min<size_t>(sense.size(), header.mx_sb_len);
    if (senseBytes > 0) std::memcpy(header.sbp, sense.data(), senseBytes);
    header.sb_len_wr = static_cast<unsigned char>(senseBytes);
    return ioctlResult;
  }

  int openResult = 0;  // -errno to fail
  int nextFd = 10;
  int ioctlResult = 0;
  sg_io_hdr_t answer{};
  std::vector<uint8_t> sense;
  std::vector<std::string> opened;
  std::vector<int> closed;
  sg_io_hdr_t sent{};
  std::vector<uint8_t> cdb;
  int lastFd = -1;
};

// The INQUIRY a board search sends, into data (192 bytes).
ScsiRequest Inquiry(uint8_t* data) {
  return {{0x12, 0, 0, 0, 0xC0, 0}, 6, ScsiDirection::FromDevice, data, 192, 24, 2};
}

void Write(const fs::path& file, const std::string& text) {
  fs::create_directories(file.parent_path());
  testing::WriteFile(file.string(), text);
}

// A disk tree: sda (USB board), sdb (ATA disk), sdaa, sdc without a generic
// node, and a loop device that is not a SCSI disk.
class LinuxScsiBusTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::path devices = root /
                       "sys/devices/pci0000:00/0000:00:14.0/usb2/2-1/2-1:1.0/host6/"
                       "target6:0:0/6:0:0:0";
    AddDisk("sda", "sg0", devices);
    Write(devices / "vendor", "HALDREN \n");
    Write(devices / "model", "RUZUD OVUD      \n");
    Write(devices / "rev", "1.00\n");
    Write(devices / "type", "0\n");
    Write(devices / "vpd_pg80", std::string("\0\x80\0\x06SN0042", 10));
    Write(root / "sys/block/sda/removable", "1\n");
    Write(root / "sys/block/sda/queue/max_hw_sectors_kb", "120\n");
    Write(root / "sys/block/sda/queue/max_segments", "2048\n");
    Write(root / "sys/block/sda/queue/dma_alignment", "511\n");

    fs::path ata = root / "sys/devices/pci0000:00/0000:00:17.0/ata1/host0/target0:0:0/0:0:0:0";
    AddDisk("sdb", "sg1", ata);
    Write(ata / "type", "0\n");
    Write(ata / "vendor", "ATA     \n");
    Write(root / "sys/block/sdb/queue/max_hw_sectors_kb", "32767\n");
    Write(root / "sys/block/sdb/queue/max_segments", "168\n");

    AddDisk("sdaa", "sg5", root / "sys/devices/virtual/host9/target9:0:0/9:0:0:0");
    fs::create_directories(root / "sys/block/sdc/device");
    fs::create_directories(root / "sys/block/loop0");
  }

  void AddDisk(const std::string& name, const std::string& sg, const fs::path& device) {
    fs::create_directories(device / "scsi_generic" / sg);
    fs::create_directories(root / "sys/block" / name);
    fs::create_directory_symlink(device, root / "sys/block" / name / "device");
  }

  std::vector<std::string> Paths(IScsiInterfaceSet& set, uint32_t& endError) {
    std::vector<std::string> paths;
    for (uint32_t i = 0;; ++i) {
      std::string path;
      if (set.GetInterfacePath(i, path, endError) != InterfaceLookup::Found) break;
      paths.push_back(path);
    }
    return paths;
  }

  ScsiHandle OpenPath(LinuxScsiBus& bus, const std::string& path) {
    uint32_t error = 0;
    ScsiHandle handle = 0;
    EXPECT_TRUE(bus.Open(path, handle, error)) << path;
    EXPECT_NE(handle, 0u);
    return handle;
  }

  LogCapture log;
  TempDir dir;
  fs::path root = dir.path();
  FakeSgCalls calls;
};

TEST_F(LinuxScsiBusTest, InterfacesAreTheGenericNodesOfScsiDisksInKernelOrder) {
  LinuxScsiBus bus(root.string(), "/dev", calls);
  uint32_t error = 0;
  auto set = bus.GetInterfaceSet(error);
  ASSERT_TRUE(set);
  uint32_t endError = 0;
  EXPECT_EQ(Paths(*set, endError), (std::vector<std::string>{"/dev/sg0", "/dev/sg1", "/dev/sg5"}));
  EXPECT_EQ(endError, kErrorNoMoreItems);
  EXPECT_NE(log.Text().find("sdc has no SCSI generic node"), std::string::npos);
  EXPECT_TRUE(calls.opened.empty());  // listing opens nothing

  LinuxScsiBus missing((root / "nowhere").string(), "/dev", calls);
  EXPECT_FALSE(missing.GetInterfaceSet(error));
  EXPECT_EQ(error, kErrorFileNotFound);
}

TEST_F(LinuxScsiBusTest, OpenAndCloseGoThroughTheCalls) {
  struct Case {
    int openResult;
    uint32_t error;
  };
  for (const Case& c : {Case{-EACCES, kErrorAccessDenied}, Case{-EPERM, kErrorAccessDenied},
                        Case{-ENOENT, kErrorFileNotFound}, Case{-ENXIO, kErrorDeviceNotConnected},
                        Case{-EBUSY, kErrorBusy}}) {
    FakeSgCalls failing;
    failing.openResult = c.openResult;
    LinuxScsiBus bus(root.string(), "/dev", failing);
    ScsiHandle handle = 0;
    uint32_t error = 0;
    EXPECT_FALSE(bus.Open("/dev/sg0", handle, error));
    EXPECT_EQ(error, c.error) << c.openResult;
  }
  {
    LinuxScsiBus bus(root.string(), "/dev", calls);
    ScsiHandle a = OpenPath(bus, "/dev/sg0");
    ScsiHandle b = OpenPath(bus, "/dev/sg1");
    EXPECT_NE(a, b);
    EXPECT_TRUE(bus.Close(a));
    EXPECT_FALSE(bus.Close(a));
    EXPECT_EQ(calls.closed, std::vector<int>{10});
  }
  // The bus closes what is still open when it goes away.
  EXPECT_EQ(calls.closed, (std::vector<int>{10, 11}));
}

TEST_F(LinuxScsiBusTest, RequestsAreBuiltByteForByte) {
  LinuxScsiBus bus(root.string(), "/dev", calls);
  ScsiHandle handle = OpenPath(bus, "/dev/sg0");
  uint8_t data[192];
  const ScsiRequest inquiry = Inquiry(data);
  (void)bus.PassThrough(handle, inquiry);
  EXPECT_EQ(calls.lastFd, 10);
  EXPECT_EQ(calls.sent.interface_id, 'S');
  EXPECT_EQ(calls.sent.dxfer_direction, SG_DXFER_FROM_DEV);
  EXPECT_EQ(calls.cdb, (std::vector<uint8_t>{0x12, 0, 0, 0, 0xC0, 0}));
  EXPECT_EQ(calls.sent.mx_sb_len, 24);
  EXPECT_EQ(calls.sent.dxfer_len, 192u);
  EXPECT_EQ(calls.sent.dxferp, data);
  EXPECT_EQ(calls.sent.timeout, 2000u);
  EXPECT_EQ(calls.sent.iovec_count, 0);

  uint8_t block[512];
  (void)bus.PassThrough(handle, {{0xCF, 0x12, 1}, 16, ScsiDirection::ToDevice, block, 512, 14, 60});
  std::vector<uint8_t> cdb(16, 0);
  cdb[0] = 0xCF, cdb[1] = 0x12, cdb[2] = 1;
  EXPECT_EQ(calls.cdb, cdb);
  EXPECT_EQ(calls.sent.dxfer_direction, SG_DXFER_TO_DEV);
  EXPECT_EQ(calls.sent.dxferp, block);
  EXPECT_EQ(calls.sent.mx_sb_len, 14);
  EXPECT_EQ(calls.sent.timeout, 60000u);

  ScsiResult closed = bus.PassThrough(handle + 100, inquiry);
  EXPECT_EQ(closed.outcome, ScsiOutcome::Failed);
  EXPECT_EQ(closed.error, kErrorInvalidHandle);
}

TEST(SgIoOutcome, Classification) {
  struct Case {
    const char* name;
    int ioctlResult;
    unsigned host, driver;
    uint8_t status;
    ScsiOutcome outcome;
    uint32_t error;
  };
  const Case cases[] = {
      {"no rights", -EACCES, 0, 0, 0, ScsiOutcome::Failed, kErrorAccessDenied},
      {"device gone", -ENODEV, 0, 0, 0, ScsiOutcome::Failed, kErrorDeviceNotConnected},
      {"no such address", -ENXIO, 0, 0, 0, ScsiOutcome::Failed, kErrorDeviceNotConnected},
      {"ioctl timed out", -ETIMEDOUT, 0, 0, 0, ScsiOutcome::TimedOut, kErrorSemTimeout},
      {"host time-out", 0, 0x03, 0, 0, ScsiOutcome::TimedOut, kErrorSemTimeout},
      {"driver time-out", 0, 0, 0x06, 0, ScsiOutcome::TimedOut, kErrorSemTimeout},
      {"good", 0, 0, 0, 0, ScsiOutcome::Completed, 0},
      {"check condition with sense", 0, 0, 0x08, 0x02, ScsiOutcome::Completed, 0},
      {"sense with a retry suggestion", 0, 0, 0x18, 0x02, ScsiOutcome::Completed, 0},
      {"no connection", 0, 0x01, 0, 0, ScsiOutcome::Failed, kErrorDeviceNotConnected},
      {"bus busy", 0, 0x02, 0, 0, ScsiOutcome::Failed, kErrorBusy},
      {"host error", 0, 0x07, 0, 0, ScsiOutcome::Failed, kErrorIoDevice},
      {"driver busy", 0, 0, 0x01, 0, ScsiOutcome::Failed, kErrorIoDevice},
  };
  for (const Case& c : cases) {
    uint8_t sense[32] = {0x70, 0, 0x05, 0, 0, 0, 0, 0x0A, 0, 0, 0, 0, 0x20};
    sg_io_hdr_t header{};
    header.host_status = static_cast<unsigned short>(c.host);
    header.driver_status = static_cast<unsigned short>(c.driver);
    header.status = c.status;
    header.sbp = sense;
    header.mx_sb_len = 14;
    header.sb_len_wr = c.status ? 18 : 0;
    header.dxfer_len = 512;
    header.resid = 12;
    ScsiResult r = ClassifySgIo(c.ioctlResult, header);
    EXPECT_EQ(r.outcome, c.outcome) << c.name;
    EXPECT_EQ(r.error, c.error) << c.name;
    if (r.outcome == ScsiOutcome::Completed) {
      EXPECT_EQ(r.scsiStatus, c.status) << c.name;
      EXPECT_EQ(r.dataTransferred, 500u) << c.name;
      // The kernel's count is capped by the room asked for.
      EXPECT_EQ(r.senseLength, c.status ? 14 : 0) << c.name;
      EXPECT_EQ(std::memcmp(r.sense.data(), sense, r.senseLength), 0) << c.name;
    }
  }
}

TEST_F(LinuxScsiBusTest, PropertiesComeFromSysfs) {
  LinuxScsiBus bus(root.string(), "/dev", calls);
  uint32_t error = 0;
  auto set = bus.GetInterfaceSet(error);
  ASSERT_TRUE(set);
  ScsiHandle board = OpenPath(bus, "/dev/sg0");
  ScsiAdapterProperties adapter;
  ASSERT_TRUE(bus.QueryAdapter(board, adapter, error));
  EXPECT_EQ(adapter.busType, 7u);
  EXPECT_EQ(adapter.maxTransferLength, 0x1E000u);
  EXPECT_EQ(adapter.maxPhysicalPages, 2048u);
  EXPECT_EQ(adapter.alignmentMask, 511u);
  ScsiDeviceProperties device;
  ASSERT_TRUE(bus.QueryDevice(board, device, error));
  EXPECT_EQ(device.deviceType, 0);
  EXPECT_TRUE(device.removableMedia);
  EXPECT_EQ(device.vendorId, "HALDREN ");
  EXPECT_EQ(device.productId, "RUZUD OVUD      ");
  EXPECT_EQ(device.productRevision, "1.00");
  EXPECT_EQ(device.serialNumber, "SN0042");
  uint32_t mediaType = 0;
  ASSERT_TRUE(bus.QueryMediaType(board, mediaType, error));
  EXPECT_EQ(mediaType, 7u);

  ScsiHandle ata = OpenPath(bus, "/dev/sg1");
  ASSERT_TRUE(bus.QueryAdapter(ata, adapter, error));
  EXPECT_EQ(adapter.busType, 3u);
  EXPECT_EQ(adapter.alignmentMask, 0u);
  ASSERT_TRUE(bus.QueryDevice(ata, device, error));
  EXPECT_FALSE(device.removableMedia);
  EXPECT_EQ(device.serialNumber, "");

  // sdaa has no queue attributes, and a node never listed has no sysfs entry.
  ScsiHandle bare = OpenPath(bus, "/dev/sg5");
  EXPECT_FALSE(bus.QueryAdapter(bare, adapter, error));
  EXPECT_EQ(error, kErrorInvalidFunction);
  ScsiHandle unknown = OpenPath(bus, "/dev/sg9");
  EXPECT_FALSE(bus.QueryDevice(unknown, device, error));
}

// Opens generic nodes read-only: the real-node check only sends INQUIRY.
class ReadOnlySgCalls : public ISgCalls {
 public:
  int Open(const std::string& path) override {
    int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    return fd >= 0 ? fd : -errno;
  }
  int Close(int fd) override { return SystemSgCalls().Close(fd); }
  int SgIo(int fd, sg_io_hdr_t& header) override { return SystemSgCalls().SgIo(fd, header); }
};

TEST(LinuxScsiBusRealNode, InquiryOfTheFirstGenericNode) {
  LinuxScsiBus probe;
  uint32_t error = 0;
  LogCapture quiet;
  auto set = probe.GetInterfaceSet(error);
  std::string path;
  if (!set || set->GetInterfacePath(0, path, error) != InterfaceLookup::Found) {
    GTEST_SKIP() << "no SCSI generic node of a SCSI disk on this machine";
  }
  ReadOnlySgCalls readOnly;
  LinuxScsiBus bus("/", "/dev", readOnly);
  ASSERT_TRUE(bus.GetInterfaceSet(error));
  ScsiHandle handle = 0;
  if (!bus.Open(path, handle, error)) GTEST_SKIP() << "cannot open " << path << ": " << error;
  uint8_t data[192] = {};
  ScsiResult r = bus.PassThrough(handle, Inquiry(data));
  ASSERT_EQ(r.outcome, ScsiOutcome::Completed) << r.error;
  EXPECT_GE(r.dataTransferred, 36u);
  EXPECT_EQ(data[0] & 0x1F, 0);  // a disk
  EXPECT_TRUE(bus.Close(handle));
}

TEST(UdevArrival, WhichEventsAreArrivals) {
  struct Case {
    const char* action;
    const char* mediaChange;
    bool arrival;
  };
  for (const Case& c :
       {Case{"add", nullptr, true}, Case{"change", "1", true}, Case{"change", nullptr, false},
        Case{"change", "0", false}, Case{"remove", nullptr, false}, Case{"remove", "1", false},
        Case{"bind", nullptr, false}}) {
    EXPECT_EQ(IsArrivalEvent(c.action, c.mediaChange), c.arrival)
        << c.action << " " << (c.mediaChange ? c.mediaChange : "-");
  }
}

TEST(UdevArrival, MonitorStartsAndDoesNotBlock) {
  UdevMonitor monitor;
  EXPECT_EQ(monitor.Watch([] {}), nullptr) << "nothing to watch before Start";
  const SysStatus started = monitor.Start();
  if (!started) GTEST_SKIP() << "no udev monitor here: " << started.Text();
  monitor.Wait(std::chrono::milliseconds(0));
  DeviceEventQueue queue;
  monitor.Collect(queue);  // returns at once whatever came in
  // A watch runs on its own thread and ends when it is destroyed, also
  // while collecting goes on meanwhile.
  for (int i = 0; i < 3; ++i) {
    std::unique_ptr<DeviceWatch> watch = monitor.Watch([] {});
    ASSERT_NE(watch, nullptr);
    monitor.Collect(queue);
  }
  SUCCEED();
}

}  // namespace
}  // namespace tarnwick
