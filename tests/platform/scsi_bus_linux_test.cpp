#include "platform/linux/scsi_bus_linux.h"

#include <fcntl.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <utility>
#include <vector>

#include "common/debug_log.h"
#include "platform/linux/disk_instance.h"
#include "platform/linux/udev_monitor.h"
#include "test_support.h"

namespace tarnwick {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;

std::error_code SystemCode(int err) {
  return {err, std::system_category()};
}

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

  std::vector<std::string> Paths(IScsiInterfaceSet& set, InterfaceLookup& end) {
    std::vector<std::string> paths;
    for (uint32_t i = 0;; ++i) {
      InterfacePath found = set.GetInterfacePath(i);
      end = found.lookup;
      if (found.lookup != InterfaceLookup::Found) break;
      paths.push_back(found.path);
    }
    return paths;
  }

  ScsiHandle OpenPath(LinuxScsiBus& bus, const std::string& path) {
    SysResult<ScsiHandle> handle = bus.Open(path);
    EXPECT_TRUE(handle.IsOk()) << path;
    EXPECT_NE(handle.Value(), 0u);
    return handle.Value();
  }

  LogCapture log;
  TempDir dir;
  fs::path root = dir.path();
  FakeSgCalls calls;
};

TEST_F(LinuxScsiBusTest, InterfacesAreTheGenericNodesOfScsiDisksInKernelOrder) {
  LinuxScsiBus bus(root.string(), "/dev", calls);
  auto set = bus.GetInterfaceSet();
  ASSERT_TRUE(set.IsOk());
  InterfaceLookup end = InterfaceLookup::Found;
  EXPECT_EQ(Paths(*set.Value(), end),
            (std::vector<std::string>{"/dev/sg0", "/dev/sg1", "/dev/sg5"}));
  EXPECT_EQ(end, InterfaceLookup::NoMoreItems);
  EXPECT_NE(log.Text().find("sdc has no SCSI generic node"), std::string::npos);
  EXPECT_TRUE(calls.opened.empty());  // listing opens nothing

  LinuxScsiBus missing((root / "nowhere").string(), "/dev", calls);
  EXPECT_EQ(missing.GetInterfaceSet().Status().Code(), SystemCode(ENOENT));
}

// The board's disk is told by the same number the disk service gives it.
TEST_F(LinuxScsiBusTest, DiskInstanceIsTheSequenceNumberOfTheNodesDisk) {
  Write(root / "sys/block/sda/diskseq", "42\n");
  LinuxScsiBus bus(root.string(), "/dev", calls);
  ASSERT_TRUE(bus.GetInterfaceSet().IsOk());
  ScsiHandle board = OpenPath(bus, "/dev/sg0");
  ScsiHandle other = OpenPath(bus, "/dev/sg1");
  SysResult<std::string> instance = bus.DiskInstanceOf(board);
  ASSERT_TRUE(instance.IsOk()) << instance.Status().Text();
  EXPECT_EQ(instance.Value(), "diskseq 42");
  EXPECT_FALSE(bus.DiskInstanceOf(other).IsOk());  // no sequence number
  EXPECT_EQ(bus.DiskInstanceOf(999).Status().Code(), SystemCode(EBADF));
}

TEST_F(LinuxScsiBusTest, OpenAndCloseGoThroughTheCalls) {
  // The failure carries the system's own code.
  for (const int err : {EACCES, EPERM, ENOENT, ENXIO, EBUSY}) {
    FakeSgCalls failing;
    failing.openResult = -err;
    LinuxScsiBus bus(root.string(), "/dev", failing);
    const SysResult<ScsiHandle> handle = bus.Open("/dev/sg0");
    EXPECT_EQ(handle.Status().Code(), SystemCode(err)) << err;
    EXPECT_EQ(handle.Status().Text(), std::strerror(err));
  }
  {
    LinuxScsiBus bus(root.string(), "/dev", calls);
    ScsiHandle a = OpenPath(bus, "/dev/sg0");
    ScsiHandle b = OpenPath(bus, "/dev/sg1");
    EXPECT_NE(a, b);
    EXPECT_TRUE(bus.Close(a).IsOk());
    EXPECT_EQ(bus.Close(a).Code(), std::errc::bad_file_descriptor);
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
  EXPECT_EQ(closed.error.Code(), std::errc::bad_file_descriptor);
}

TEST(SgIoOutcome, Classification) {
  struct Case {
    const char* name;
    int ioctlResult;
    unsigned host, driver;
    uint8_t status;
    ScsiOutcome outcome;
    int error;  // errno; 0 for success
  };
  const Case cases[] = {
      {"no rights", -EACCES, 0, 0, 0, ScsiOutcome::Failed, EACCES},
      {"device gone", -ENODEV, 0, 0, 0, ScsiOutcome::Failed, ENODEV},
      {"no such address", -ENXIO, 0, 0, 0, ScsiOutcome::Failed, ENXIO},
      {"ioctl timed out", -ETIMEDOUT, 0, 0, 0, ScsiOutcome::TimedOut, ETIMEDOUT},
      {"host time-out", 0, 0x03, 0, 0, ScsiOutcome::TimedOut, ETIMEDOUT},
      {"driver time-out", 0, 0, 0x06, 0, ScsiOutcome::TimedOut, ETIMEDOUT},
      {"good", 0, 0, 0, 0, ScsiOutcome::Completed, 0},
      {"check condition with sense", 0, 0, 0x08, 0x02, ScsiOutcome::Completed, 0},
      {"sense with a retry suggestion", 0, 0, 0x18, 0x02, ScsiOutcome::Completed, 0},
      {"no connection", 0, 0x01, 0, 0, ScsiOutcome::Failed, ENODEV},
      {"bus busy", 0, 0x02, 0, 0, ScsiOutcome::Failed, EBUSY},
      {"host error", 0, 0x07, 0, 0, ScsiOutcome::Failed, EIO},
      {"driver busy", 0, 0, 0x01, 0, ScsiOutcome::Failed, EIO},
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
    EXPECT_EQ(r.error.Code(), c.error == 0 ? std::error_code() : SystemCode(c.error)) << c.name;
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
  ASSERT_TRUE(bus.GetInterfaceSet().IsOk());
  ScsiHandle board = OpenPath(bus, "/dev/sg0");
  SysResult<ScsiAdapterProperties> adapterAnswer = bus.QueryAdapter(board);
  ASSERT_TRUE(adapterAnswer.IsOk());
  ScsiAdapterProperties adapter = adapterAnswer.Value();
  EXPECT_EQ(adapter.busType, 7u);
  EXPECT_EQ(adapter.maxTransferLength, 0x1E000u);
  EXPECT_EQ(adapter.maxPhysicalPages, 2048u);
  EXPECT_EQ(adapter.alignmentMask, 511u);
  SysResult<ScsiDeviceProperties> deviceAnswer = bus.QueryDevice(board);
  ASSERT_TRUE(deviceAnswer.IsOk());
  ScsiDeviceProperties device = deviceAnswer.Value();
  EXPECT_EQ(device.deviceType, 0);
  EXPECT_TRUE(device.removableMedia);
  EXPECT_EQ(device.vendorId, "HALDREN ");
  EXPECT_EQ(device.productId, "RUZUD OVUD      ");
  EXPECT_EQ(device.productRevision, "1.00");
  EXPECT_EQ(device.serialNumber, "SN0042");
  EXPECT_EQ(bus.QueryMediaType(board).Value(), 7u);

  ScsiHandle ata = OpenPath(bus, "/dev/sg1");
  adapterAnswer = bus.QueryAdapter(ata);
  ASSERT_TRUE(adapterAnswer.IsOk());
  EXPECT_EQ(adapterAnswer.Value().busType, 3u);
  EXPECT_EQ(adapterAnswer.Value().alignmentMask, 0u);
  deviceAnswer = bus.QueryDevice(ata);
  ASSERT_TRUE(deviceAnswer.IsOk());
  EXPECT_FALSE(deviceAnswer.Value().removableMedia);
  EXPECT_EQ(deviceAnswer.Value().serialNumber, "");

  // sdaa has no queue attributes, and a node never listed has no sysfs entry.
  ScsiHandle bare = OpenPath(bus, "/dev/sg5");
  EXPECT_EQ(bus.QueryAdapter(bare).Status().Code(), std::errc::inappropriate_io_control_operation);
  ScsiHandle unknown = OpenPath(bus, "/dev/sg9");
  EXPECT_FALSE(bus.QueryDevice(unknown).IsOk());
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
  LogCapture quiet;
  auto set = probe.GetInterfaceSet();
  InterfacePath first;
  if (set) first = set.Value()->GetInterfacePath(0);
  if (!set || first.lookup != InterfaceLookup::Found) {
    GTEST_SKIP() << "no SCSI generic node of a SCSI disk on this machine";
  }
  const std::string& path = first.path;
  ReadOnlySgCalls readOnly;
  LinuxScsiBus bus("/", "/dev", readOnly);
  ASSERT_TRUE(bus.GetInterfaceSet().IsOk());
  SysResult<ScsiHandle> opened = bus.Open(path);
  if (!opened) GTEST_SKIP() << "cannot open " << path << ": " << opened.Status().Text();
  const ScsiHandle handle = opened.Value();
  uint8_t data[192] = {};
  ScsiResult r = bus.PassThrough(handle, Inquiry(data));
  ASSERT_EQ(r.outcome, ScsiOutcome::Completed) << r.error.Text();
  EXPECT_GE(r.dataTransferred, 36u);
  EXPECT_EQ(data[0] & 0x1F, 0);  // a disk
  EXPECT_TRUE(bus.Close(handle).IsOk());
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

// udev's DISKSEQ and sysfs's diskseq name a disk's appearance in one form, so
// an arrival can be matched with the board disk recorded at the download.
TEST(UdevArrival, DiskSequenceAsInstance) {
  for (const auto& [seq, instance] : std::vector<std::pair<std::string, std::string>>{
           {"17", "diskseq 17"}, {"17\n", "diskseq 17"}, {"", ""}, {"-1", ""}, {"1x", ""}}) {
    EXPECT_EQ(tarnwick::DiskInstanceFromSeq(seq), instance) << seq;
  }
}

// A notice handled after its disk has left (or after another disk took the
// name) is not an arrival; one that cannot be checked is.
TEST(UdevArrival, OnlyADiskStillThereAsAnnouncedHasArrived) {
  tarnwick::testing::TempDir sys;
  std::filesystem::create_directories(sys.File("class/block/sda"));
  std::filesystem::create_directories(sys.File("class/block/sdb"));
  tarnwick::testing::WriteFile(sys.File("class/block/sda/diskseq"), "12\n");
  struct Case {
    std::string device, instance;
    bool current;
  };
  for (const Case& c : {Case{"/dev/sda", "diskseq 12", true}, Case{"/dev/sda", "diskseq 11", false},
                        Case{"/dev/sdc", "diskseq 13", false}, Case{"/dev/sdb", "diskseq 4", true},
                        Case{"/dev/sdc", "", true}, Case{"", "diskseq 4", true}}) {
    EXPECT_EQ(tarnwick::ArrivalIsCurrent(sys.path().string(),
                                         {tarnwick::kDeviceArrival, c.device, c.instance}),
              c.current)
        << c.device << " " << c.instance;
  }
}
