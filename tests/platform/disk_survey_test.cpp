// Card discovery on fake hosts: which disks are listed, accepted and why.
#include <gtest/gtest.h>

#include <functional>

#include "fake_disk_host.h"
#include "platform/linux/linux_disk_service.h"

namespace tarnwick::testing {
namespace {

using Listing = std::vector<std::pair<std::string, DiskVerdict>>;

struct SurveyCase {
  const char* name;
  std::function<void(FakeDiskTree&, FakeDiskSysCalls&, LinuxDiskOptions&)> host;
  Listing expected;
  // "disk: text" where text is part of the named disk's reason.
  std::string reason;
};

constexpr auto kAccepted = DiskVerdict::Accepted;
constexpr auto kSystem = DiskVerdict::SystemDisk;

// A computer whose system lives on an NVMe disk, so sd* disks are free.
void NvmeSystem(FakeDiskTree& t) {
  t.Disk("nvme0n1", "259:0", 1000215216, false);
  t.Partition("nvme0n1", "nvme0n1p2", "259:2");
  t.Mount("259:2", "/", "/dev/nvme0n1p2");
}

const SurveyCase kCases[] = {
    {"RemovableAndFixedSd",
     [](FakeDiskTree& t, FakeDiskSysCalls&, LinuxDiskOptions&) {
       NvmeSystem(t);
       t.Disk("sdb", "8:16", 7744512, true);
       t.Disk("sdc", "8:32", 7744512, false);
     },
     {{"nvme0n1", kSystem}, {"sdb", kAccepted}, {"sdc", DiskVerdict::Fixed}},
     "sdc: fixed disk"},
    {"SdSlotAndEmmcWithHardwareAreas",
     [](FakeDiskTree& t, FakeDiskSysCalls&, LinuxDiskOptions&) {
       NvmeSystem(t);
       t.Mmc("mmcblk0", "179:0", "MMC");
       t.Disk("mmcblk0boot0", "179:8", 8192, false);
       t.Disk("mmcblk0boot1", "179:16", 8192, false);
       t.Disk("mmcblk0rpmb", "179:24", 8192, false);
       t.Mmc("mmcblk1", "179:32", "SD");
     },
     {{"mmcblk0", DiskVerdict::Emmc}, {"mmcblk1", kAccepted}, {"nvme0n1", kSystem}},
     "mmcblk0: eMMC"},
    {"EmptyReader",
     [](FakeDiskTree& t, FakeDiskSysCalls&, LinuxDiskOptions&) {
       NvmeSystem(t);
       t.Disk("sdb", "8:16", 0, true);
     },
     {{"nvme0n1", kSystem}, {"sdb", DiskVerdict::Empty}},
     "sdb: no card"},
    {"RootDirectlyOnRemovableDisk",
     [](FakeDiskTree& t, FakeDiskSysCalls&, LinuxDiskOptions&) {
       t.Disk("sda", "8:0", 7744512, true);
       t.Partition("sda", "sda1", "8:1");
       t.Partition("sda", "sda2", "8:2");
       t.Mount("8:2", "/", "/dev/sda2");
       t.Mount("8:1", "/boot/efi", "/dev/sda1");
       t.Disk("sdb", "8:16", 7744512, true);
     },
     {{"sda", kSystem}, {"sdb", kAccepted}},
     "sda: system disk: holds /, /boot/efi"},
    {"RootThroughLvm",
     [](FakeDiskTree& t, FakeDiskSysCalls&, LinuxDiskOptions&) {
       t.Disk("sda", "8:0", 7744512, true);
       t.Partition("sda", "sda2", "8:2");
       t.Virtual("dm-0", "253:0", {"sda2"}, "vg-root");
       t.Mount("253:0", "/", "/dev/mapper/vg-root");
       t.Disk("sdb", "8:16", 7744512, true);
     },
     {{"sda", kSystem}, {"sdb", kAccepted}},
     "sda: holds /"},
    {"HomeThroughMdMirror",
     [](FakeDiskTree& t, FakeDiskSysCalls&, LinuxDiskOptions&) {
       NvmeSystem(t);
       t.Disk("sda", "8:0", 7744512, true);
       t.Partition("sda", "sda1", "8:1");
       t.Disk("sdb", "8:16", 7744512, true);
       t.Partition("sdb", "sdb1", "8:17");
       t.Virtual("md0", "9:0", {"sda1", "sdb1"});
       t.Mount("9:0", "/home", "/dev/md0");
       t.Disk("sdc", "8:32", 7744512, true);
     },
     {{"nvme0n1", kSystem}, {"sda", kSystem}, {"sdb", kSystem}, {"sdc", kAccepted}},
     "sdb: holds /home"},
    {"ActiveSwapPartitionAndSwapFile",
     [](FakeDiskTree& t, FakeDiskSysCalls&, LinuxDiskOptions&) {
       NvmeSystem(t);
       t.Disk("sdb", "8:16", 7744512, true);
       t.Partition("sdb", "sdb2", "8:18");
       t.Swap("/dev/sdb2", "partition");
       t.Disk("sdc", "8:32", 7744512, true);
       t.Partition("sdc", "sdc1", "8:33");
       t.Mount("8:33", "/data", "/dev/sdc1");
       t.Swap("/data/swap\\040file", "file");
       t.Disk("sdd", "8:48", 7744512, true);
     },
     {{"nvme0n1", kSystem}, {"sdb", kSystem}, {"sdc", kSystem}, {"sdd", kAccepted}},
     "sdc: swap /data/swap file"},
    {"DiskHoldingThePackFile",
     [](FakeDiskTree& t, FakeDiskSysCalls&, LinuxDiskOptions& o) {
       NvmeSystem(t);
       t.Disk("sdb", "8:16", 7744512, true);
       t.Partition("sdb", "sdb1", "8:17");
       t.Mount("8:17", "/media/user/STICK", "/dev/sdb1");
       t.Disk("sdc", "8:32", 7744512, true);
       o.protectedPaths.push_back({"pack file", "/media/user/STICK/board.pack"});
     },
     {{"nvme0n1", kSystem}, {"sdb", kSystem}, {"sdc", kAccepted}},
     "sdb: pack file /media/user/STICK/board.pack"},
    {"DiskHoldingTheWorkingDirectoryByDeviceNumber",
     [](FakeDiskTree& t, FakeDiskSysCalls& sys, LinuxDiskOptions& o) {
       NvmeSystem(t);
       t.Disk("sdb", "8:16", 7744512, true);
       t.Partition("sdb", "sdb1", "8:17");
       t.Disk("sdc", "8:32", 7744512, true);
       sys.RegularFile("/srv/bench", 0, 8, 17);
       o.protectedPaths.push_back({"working directory", "/srv/bench"});
     },
     {{"nvme0n1", kSystem}, {"sdb", kSystem}, {"sdc", kAccepted}},
     "sdb: working directory /srv/bench"},
    {"RootOnFileSystemWithOwnDeviceNumbers",
     [](FakeDiskTree& t, FakeDiskSysCalls&, LinuxDiskOptions&) {
       t.Disk("sda", "8:0", 7744512, true);
       t.Partition("sda", "sda2", "8:2");
       t.Mount("0:45", "/", "/dev/sda2");
       t.Disk("sdb", "8:16", 7744512, true);
     },
     {{"sda", kSystem}, {"sdb", kAccepted}},
     "sda: holds /"},
    {"CardAutomountedUnderRunMedia",
     [](FakeDiskTree& t, FakeDiskSysCalls&, LinuxDiskOptions&) {
       NvmeSystem(t);
       t.Disk("sdb", "8:16", 7744512, true);
       t.Partition("sdb", "sdb1", "8:17");
       t.Mount("8:17", "/run/media/user/BOOT", "/dev/sdb1");
     },
     {{"nvme0n1", kSystem}, {"sdb", kAccepted}},
     "sdb: unmounted before writing: /run/media/user/BOOT"},
    {"CardMountedUnderMnt",
     [](FakeDiskTree& t, FakeDiskSysCalls&, LinuxDiskOptions&) {
       NvmeSystem(t);
       t.Disk("sdb", "8:16", 7744512, true);
       t.Partition("sdb", "sdb1", "8:17");
       t.Mount("8:17", "/mnt/card", "/dev/sdb1");
     },
     {{"nvme0n1", kSystem}, {"sdb", kAccepted}},
     "sdb: refused while mounted at /mnt/card"},
    // Of the virtual devices only a loop device with a file attached is listed, left out:
    // an operator who attached one looks for it.
    {"VirtualDevicesAreNeverCardsAttachedLoopsAreListed",
     [](FakeDiskTree& t, FakeDiskSysCalls&, LinuxDiskOptions&) {
       NvmeSystem(t);
       for (const char* name : {"loop0", "ram0", "zram0", "sr0", "nbd0", "md127"}) {
         t.Disk(name, "1:1", 1000, true);
       }
       t.Virtual("dm-3", "253:3", {});
       t.Disk("vda", "254:0", 1000, false);
     },
     {{"nvme0n1", kSystem}, {"vda", DiskVerdict::NotCardType}, {"loop0", DiskVerdict::NotCardType}},
     "loop0: loop device: a file seen as a disk, never a card"},
};

class SurveyTest : public ::testing::TestWithParam<SurveyCase> {};

TEST_P(SurveyTest, ListsEveryWholeDiskWithItsVerdict) {
  const SurveyCase& c = GetParam();
  FakeDiskTree tree;
  FakeDiskSysCalls sys;
  LinuxDiskOptions options;
  c.host(tree, sys, options);
  options.root = tree.Root();
  options.sys = &sys;
  LinuxDiskService service(options);

  Listing listed;
  const std::string disk = c.reason.substr(0, c.reason.find(':'));
  const std::string reasonPart = c.reason.substr(disk.size() + 2);
  std::string reason;
  std::vector<std::string> accepted;
  for (const DiskReport& r : service.ListDisks()) {
    listed.emplace_back(r.name, r.verdict);
    if (r.name == disk) reason = r.reason;
    if (r.verdict == kAccepted) accepted.push_back(r.devicePath);
  }
  EXPECT_EQ(listed, c.expected);
  EXPECT_NE(reason.find(reasonPart), std::string::npos) << reason;

  std::vector<std::string> slots;
  for (const DiskSlot& s : service.Slots()) slots.push_back(s.path);
  EXPECT_EQ(slots, accepted);
  EXPECT_TRUE(sys.Actions().empty()) << "discovery must not open anything for writing";
}

INSTANTIATE_TEST_SUITE_P(Hosts, SurveyTest, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

// The instance of a disk at a slot's path is its sequence number; a disk the
// kernel gives none (or nonsense) has none, and so has a path that is no disk.
TEST(DiskInstance, IsTheSequenceNumberOfTheDiskAtThePath) {
  FakeDiskTree tree;
  NvmeSystem(tree);
  tree.Disk("sdb", "8:16", 7744512, true);
  WriteFile(tree.Root() + "/sys/block/sdb/diskseq", "17\n");
  tree.Disk("sdc", "8:32", 7744512, true);
  tree.Disk("sdd", "8:48", 7744512, true);
  WriteFile(tree.Root() + "/sys/block/sdd/diskseq", "x1\n");
  FakeDiskSysCalls sys;
  LinuxDiskService service({tree.Root(), {}, &sys});
  EXPECT_EQ(service.DiskInstanceOf("/dev/sdb"), "diskseq 17");
  EXPECT_EQ(service.DiskInstanceOf("/dev/sdc"), "");
  EXPECT_EQ(service.DiskInstanceOf("/dev/sdd"), "");
  EXPECT_EQ(service.DiskInstanceOf("/dev/sdz"), "");
}

TEST(SurveyOrder, KernelNameOrderAndThirteenSlots) {
  FakeDiskTree tree;
  NvmeSystem(tree);
  // sdb..sdn and sdaa: fifteen cards, plus an SD slot that sorts first.
  std::vector<std::string> names;
  for (char c = 'b'; c <= 'n'; ++c) names.push_back(std::string("sd") + c);
  names.push_back("sdaa");
  for (size_t i = 0; i < names.size(); ++i) {
    tree.Disk(names[i], "8:" + std::to_string(16 * (i + 1)), 7744512, true);
  }
  tree.Mmc("mmcblk10", "179:64", "SD");
  tree.Mmc("mmcblk2", "179:32", "SD");
  FakeDiskSysCalls sys;
  LinuxDiskService service({tree.Root(), {}, &sys});

  std::vector<std::string> slots;
  for (const DiskSlot& s : service.Slots()) slots.push_back(s.path);
  const std::vector<std::string> expected = {
      "/dev/mmcblk2", "/dev/mmcblk10", "/dev/sdb", "/dev/sdc", "/dev/sdd", "/dev/sde", "/dev/sdf",
      "/dev/sdg",     "/dev/sdh",      "/dev/sdi", "/dev/sdj", "/dev/sdk", "/dev/sdl"};
  EXPECT_EQ(slots, expected);
  std::vector<std::string> beyond;
  for (const DiskReport& r : service.ListDisks()) {
    if (r.verdict == DiskVerdict::BeyondSlots) beyond.push_back(r.name);
  }
  EXPECT_EQ(beyond, (std::vector<std::string>{"sdm", "sdn", "sdaa"}));
}

struct QueryCase {
  const char* name;
  const char* path;
  int64_t capacity;  // what BLKGETSIZE64 answers; < 0 for an error
  bool opened;
  int64_t cylinders;
  uint32_t mediaType;
  int openError;  // errno of opening the device
};

const QueryCase kQueries[] = {
    // 3,965,190,144 bytes: 482 whole cylinders of 255 x 63 x 512 bytes.
    {"RemovableCard", "/dev/sdb", 3965190144, true, 482, kRemovableMedia, 0},
    {"FixedDisk", "/dev/sdc", 3965190144, true, 482, kFixedMedia, 0},
    {"SystemDiskIsNeverProbed", "/dev/sda", 3965190144, false, 0, 0, 0},
    {"NoMedium", "/dev/sdb", 0, false, 0, 0, 0},
    {"CapacityRefused", "/dev/sdb", -EIO, false, 0, 0, 0},
    {"UnknownDevice", "/dev/loop0", 3965190144, false, 0, 0, 0},
    // A user who may not open the card (udisks2 will open it for writing)
    // has the capacity sysfs reports.
    {"NoRightsCapacityFromSysfs", "/dev/sdb", -EIO, true, 482, kRemovableMedia, EACCES},
    {"NoRightsFixedDisk", "/dev/sdc", -EIO, true, 482, kFixedMedia, EPERM},
    {"OtherOpenFailure", "/dev/sdb", 3965190144, false, 0, 0, ENXIO},
};

class QueryTest : public ::testing::TestWithParam<QueryCase> {};

TEST_P(QueryTest, GeometryIsFormedFromTheCapacity) {
  const QueryCase& c = GetParam();
  FakeDiskTree tree;
  tree.Disk("sda", "8:0", 7744512, true);
  tree.Partition("sda", "sda1", "8:1");
  tree.Mount("8:1", "/", "/dev/sda1");
  tree.Disk("sdb", "8:16", 7744512, true);
  tree.Disk("sdc", "8:32", 7744512, false);
  FakeDiskSysCalls sys;
  sys.deviceBytes[c.path] = c.capacity;
  if (c.openError != 0) sys.openErrors[c.path] = c.openError;
  LinuxDiskService service({tree.Root(), {}, &sys});

  std::unique_ptr<IDiskQuery> query = service.OpenForQuery(c.path);
  ASSERT_EQ(query != nullptr, c.opened);
  if (std::string(c.path) == "/dev/sda") {
    EXPECT_TRUE(sys.calls.empty()) << "a system disk is not even opened read-only";
  }
  if (!query) return;
  DiskGeometry g;
  ASSERT_TRUE(query->GetDriveGeometry(g));
  EXPECT_EQ(g.Cylinders, c.cylinders);
  EXPECT_EQ(g.MediaType, c.mediaType);
  EXPECT_EQ(g.TracksPerCylinder, 255u);
  EXPECT_EQ(g.SectorsPerTrack, 63u);
  EXPECT_EQ(g.BytesPerSector, 512u);
}

INSTANTIATE_TEST_SUITE_P(Probes, QueryTest, ::testing::ValuesIn(kQueries),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tarnwick::testing
