// Opening real cards for writing: unmounting, refusals, exclusive opens and
// locks, and the writer's transfers, all through fake system calls.
#include <gtest/gtest.h>

#include "common/debug_log.h"
#include "fake_clock.h"
#include "fake_disk_host.h"
#include "fake_udisks_bus.h"
#include "platform/linux/disk_writer.h"
#include "platform/linux/linux_disk_service.h"
#include "platform/linux/target_disk_service.h"

namespace tarnwick::testing {
namespace {

// A fake clock that lets a test change the host while the code under test
// sleeps.
class HookedClock : public FakeClock {
 public:
  void SleepFor(std::chrono::milliseconds duration) override {
    FakeClock::SleepFor(duration);
    if (onSleep) onSleep();
  }
  std::function<void()> onSleep;
};

// sda holds the system; sdb is a card with two partitions; sdc is fixed.
class CardHost {
 public:
  CardHost() {
    tree.Disk("sda", "8:0", 7744512, false);
    tree.Partition("sda", "sda1", "8:1");
    tree.Mount("8:1", "/", "/dev/sda1");
    tree.Disk("sdb", "8:16", 7744512, true);
    tree.Partition("sdb", "sdb1", "8:17");
    tree.Partition("sdb", "sdb2", "8:18");
    tree.Disk("sdc", "8:32", 7744512, false);
    tree.Disk("loop3", "7:3", 16384, false);
    tree.Virtual("dm-1", "253:1", {"sdc"});
    sys.BlockNode("/dev/sda", 8, 0);
    sys.BlockNode("/dev/sdb", 8, 16);
    sys.BlockNode("/dev/sdb1", 8, 17);
    sys.BlockNode("/dev/sdc", 8, 32);
    sys.BlockNode("/dev/loop3", 7, 3);
    sys.BlockNode("/dev/dm-1", 253, 1);
    sys.RegularFile("/tmp/card.img", 3965190144);
  }
  LinuxDiskOptions Options() { return {tree.Root(), {}, &sys, &clock}; }

  FakeDiskTree tree;
  FakeDiskSysCalls sys;
  HookedClock clock;
};

// The calls that changed something, joined by "; ".
std::string Actions(const FakeDiskSysCalls& sys) {
  std::string joined;
  for (const std::string& a : sys.Actions()) joined += (joined.empty() ? "" : "; ") + a;
  return joined;
}

struct OpenCase {
  const char* name;
  std::function<void(CardHost&)> setup;
  const char* path;
  bool opened;
  const char* actions;
  const char* errorPart;
};

const auto kAsIs = [](CardHost&) {};
const auto kBootMounted = [](CardHost& h) {
  h.tree.Mount("8:17", "/media/user/BOOT", "/dev/sdb1");
};
constexpr const char* kOpened = "lock /dev/sdb; open /dev/sdb excl";

const OpenCase kOpenCases[] = {
    {"UnmountedCard", kAsIs, "/dev/sdb", true, kOpened, ""},
    {"AutomountsUnmountedByRootDeepestFirst",
     [](CardHost& h) {
       kBootMounted(h);
       h.tree.Mount("8:18", "/media/user/BOOT/data", "/dev/sdb2");
     },
     "/dev/sdb", true,
     "umount /media/user/BOOT/data; umount /media/user/BOOT; lock /dev/sdb; open /dev/sdb excl",
     ""},
    {"AutomountUnmountedThroughUdisksWithoutRoot",
     [](CardHost& h) {
       h.sys.root = false;
       h.tree.Mount("8:17", "/run/media/user/BOOT", "/dev/sdb1");
     },
     "/dev/sdb", true,
     "run udisksctl unmount --block-device /dev/sdb1; lock /dev/sdb; open /dev/sdb excl", ""},
    {"MountedElsewhereRefusedBeforeAnyUnmount",
     [](CardHost& h) {
       kBootMounted(h);
       h.tree.Mount("8:18", "/mnt/data", "/dev/sdb2");
     },
     "/dev/sdb", false, "", "/dev/sdb2 is mounted at /mnt/data"},
    {"UnmountRefused",
     [](CardHost& h) {
       kBootMounted(h);
       h.sys.unmountErrors["/media/user/BOOT"] = EBUSY;
     },
     "/dev/sdb", false, "umount /media/user/BOOT",
     "cannot unmount /dev/sdb1 from /media/user/BOOT"},
    {"UdisksRefused",
     [](CardHost& h) {
       kBootMounted(h);
       h.sys.root = false;
       h.sys.runStatus = 1;
     },
     "/dev/sdb", false, "run udisksctl unmount --block-device /dev/sdb1",
     "udisksctl: Error unmounting: target is busy"},
    {"SystemDiskNeverOpened", kAsIs, "/dev/sda", false, "", "system disk: holds /"},
    {"FixedDiskRefused", kAsIs, "/dev/sdc", false, "", "fixed disk"},
    {"LoopDeviceIsNoDiscoveredCard", kAsIs, "/dev/loop3", false, "", "not a card reader"},
    {"NoRights", [](CardHost& h) { h.sys.openErrors["/dev/sdb"] = EACCES; }, "/dev/sdb", false, "",
     "membership of the disk group"},
    {"ReadableButNotWritable", [](CardHost& h) { h.sys.openAnswer = [] { return EACCES; }; },
     "/dev/sdb", false, "lock /dev/sdb; open /dev/sdb excl; close /dev/sdb",
     "membership of the disk group"},
};

class DiscoveryOpenTest : public ::testing::TestWithParam<OpenCase> {};

TEST_P(DiscoveryOpenTest, OpensOnlySafeCards) {
  const OpenCase& c = GetParam();
  CardHost host;
  c.setup(host);
  LinuxDiskService service(host.Options());
  LogCapture log;
  SysResult<std::unique_ptr<IDiskWriter>> opened = service.OpenForWrite(c.path);
  const std::string error = opened.Status().Text();
  EXPECT_EQ(opened.IsOk() && opened.Value() != nullptr, c.opened) << error;
  EXPECT_EQ(Actions(host.sys), c.actions);
  EXPECT_NE(error.find(c.errorPart), std::string::npos) << error;
  if (!c.opened) {
    EXPECT_NE(error.find(c.path), std::string::npos) << "names the disk: " << error;
  }
  EXPECT_EQ(host.clock.slept.count(), 0) << "nothing here is worth waiting for";
}

INSTANTIATE_TEST_SUITE_P(Cards, DiscoveryOpenTest, ::testing::ValuesIn(kOpenCases),
                         [](const auto& info) { return std::string(info.param.name); });

// A card that another program holds for the moment is waited for, within
// bounds; the fake clock moves only when the open sleeps on it.
struct BusyCase {
  const char* name;
  std::function<void(CardHost&)> setup;
  bool opened;
  int64_t sleptMs;
  const char* log;
  const char* errorPart;
};

// Answers busy until the fake clock reaches the given time.
std::function<int()> BusyUntil(CardHost& h, int64_t ms, int err) {
  const auto start = h.clock.Now();
  return [&h, start, ms, err] {
    return h.clock.Now() - start < std::chrono::milliseconds(ms) ? err : 0;
  };
}

const BusyCase kBusyCases[] = {
    // A first retry after 50 ms, then one every 100 ms: the lock is free at 750 ms.
    {"LockHeldForAWhile", [](CardHost& h) { h.sys.lockAnswer = BusyUntil(h, 700, EWOULDBLOCK); },
     true, 750, "OpenDisk: /dev/sdb busy, waiting\nOpenDisk: /dev/sdb obtained after 0.8 s\n", ""},
    {"ExclusiveOpenRefusedForAWhile",
     [](CardHost& h) { h.sys.openAnswer = BusyUntil(h, 100, EBUSY); }, true, 150,
     "OpenDisk: /dev/sdb busy, waiting\nOpenDisk: /dev/sdb obtained after 0.1 s\n", ""},
    {"HeldLongerThanTheBoundNamesTheHolders",
     [](CardHost& h) {
       h.sys.lockError = EWOULDBLOCK;
       h.tree.Put("proc/locks",
                  "1: FLOCK  ADVISORY  WRITE 212 00:05:1016 0 EOF\n"
                  "1: -> FLOCK  ADVISORY  WRITE 300 00:05:1016 0 EOF\n"
                  "2: POSIX  ADVISORY  WRITE 77 00:05:1032 0 EOF");
       h.tree.Process(212, "systemd-udevd", {"/dev/null", "/dev/sdb"});
       h.tree.Process(300, "blkid", {"/dev/sdb1", "/dev/sdb1"});
       h.tree.Process(77, "cat", {"/dev/sdc", "/dev/sdb10"});
     },
     false, 10000,
     "OpenDisk: /dev/sdb busy, waiting\nOpenDisk: /dev/sdb given up after 10.0 s, still busy\n",
     "/dev/sdb is locked by another program, still after 10 s: systemd-udevd (pid 212) holds a "
     "lock on /dev/sdb and has /dev/sdb open; blkid (pid 300) has /dev/sdb1 open"},
    {"ManyHoldersAreCounted",
     [](CardHost& h) {
       h.sys.lockError = EWOULDBLOCK;
       for (int pid = 401; pid <= 408; ++pid) h.tree.Process(pid, "probe", {"/dev/sdb2"});
     },
     false, 10000,
     "OpenDisk: /dev/sdb busy, waiting\nOpenDisk: /dev/sdb given up after 10.0 s, still busy\n",
     "probe (pid 405) has /dev/sdb2 open; probe (pid 406) has /dev/sdb2 open; and 2 more"},
    {"ExclusiveOpenRefusedLongerThanTheBoundNamesKernelHolders",
     [](CardHost& h) {
       h.sys.openErrors["/dev/sdb"] = EBUSY;
       h.tree.Put("sys/block/sdb/sdb2/holders/dm-3", "");
     },
     false, 10000,
     "OpenDisk: /dev/sdb busy, waiting\nOpenDisk: /dev/sdb given up after 10.0 s, still busy\n",
     "is in use: a partition is mounted or another program holds it, still after 10 s: dm-3 is "
     "built on /dev/sdb2"},
    {"BusyThenAnotherFailureEndsTheWait",
     [](CardHost& h) {
       h.sys.openAnswer = [&h] { return h.clock.slept.count() == 0 ? EBUSY : ENOMEDIUM; };
     },
     false, 50,
     "OpenDisk: /dev/sdb busy, waiting\nOpenDisk: /dev/sdb given up after 0.1 s, err = 123\n",
     "no card in the reader"},
    {"MountedCardRefusedAtOnce",
     [](CardHost& h) {
       // Mounted again under /media after the unmount (a desktop's automounter).
       h.tree.Mount("8:17", "/media/user/BOOT", "/dev/sdb1");
       h.sys.openErrors["/dev/sdb"] = EBUSY;
     },
     false, 0, "OpenForWrite: unmounted /dev/sdb1 from /media/user/BOOT\n",
     "/dev/sdb is in use: /dev/sdb1 is mounted at /media/user/BOOT"},
    {"MountedElsewhereRefusedBeforeAnyOpen",
     [](CardHost& h) { h.tree.Mount("8:18", "/mnt/data", "/dev/sdb2"); }, false, 0, "",
     "/dev/sdb2 is mounted at /mnt/data"},
    {"UdevStillProcessingTheNewCard",
     [](CardHost& h) {
       h.tree.Put("run/udev/control", "");
       h.tree.Put("run/udev/data/b8:17", "");  // another device's entry
       h.clock.onSleep = [&h] {
         if (h.clock.slept == std::chrono::milliseconds(300)) h.tree.Put("run/udev/data/b8:16", "");
       };
     },
     true, 300,
     "OpenDisk: /dev/sdb not yet initialized by udev, waiting\n"
     "OpenDisk: /dev/sdb initialized by udev after 0.3 s\n",
     ""},
    {"UdevNeverDoneGoesOnAfterTheBound", [](CardHost& h) { h.tree.Put("run/udev/control", ""); },
     true, 10000,
     "OpenDisk: /dev/sdb not yet initialized by udev, waiting\n"
     "OpenDisk: /dev/sdb still not initialized by udev after 10.0 s, going on\n",
     ""},
    {"NoUdevOnTheHostNoWait", [](CardHost&) {}, true, 0, "", ""},
};

class BusyCardTest : public ::testing::TestWithParam<BusyCase> {};

TEST_P(BusyCardTest, WaitsWithinBounds) {
  const BusyCase& c = GetParam();
  CardHost host;
  c.setup(host);
  LinuxDiskService service(host.Options());
  LogCapture log;
  SysResult<std::unique_ptr<IDiskWriter>> opened = service.OpenForWrite("/dev/sdb");
  const std::string error = opened.Status().Text();
  EXPECT_EQ(opened.IsOk(), c.opened) << error;
  EXPECT_EQ(host.clock.slept.count(), c.sleptMs);
  EXPECT_EQ(log.Text(), c.log);
  if (!c.opened) {
    EXPECT_NE(error.find(c.errorPart), std::string::npos) << error;
  }
  // Every attempt that took the device but not its lock let it go again.
  const auto count = [&](const std::string& call) {
    return std::count(host.sys.calls.begin(), host.sys.calls.end(), call);
  };
  EXPECT_EQ(count("lock /dev/sdb") - count("close /dev/sdb"), c.opened ? 1 : 0);
  // While the lock is taken, no descriptor for writing is opened (closing one
  // makes udev probe the card again).
  if (host.sys.lockAnswer || host.sys.lockError) {
    EXPECT_EQ(count("open /dev/sdb excl"), c.opened ? 1 : 0);
  }
  if (c.opened) {
    // The writing descriptor is closed first, then the one holding the lock.
    opened.Value()->Close();
    const std::vector<std::string> tail(host.sys.calls.end() - 4, host.sys.calls.end());
    EXPECT_EQ(tail, (std::vector<std::string>{"fsync /dev/sdb", "reread /dev/sdb", "close /dev/sdb",
                                              "close /dev/sdb"}));
  }
}

INSTANTIATE_TEST_SUITE_P(Cards, BusyCardTest, ::testing::ValuesIn(kBusyCases),
                         [](const auto& info) { return std::string(info.param.name); });

// A user other than root who may not open a card has udisks2 open it; the
// bus calls are recorded among the system calls.
struct UdisksCase {
  const char* name;
  std::function<void(CardHost&, FakeUdisksBus&)> setup;
  bool opened;
  const char* actions;
  const char* errorPart;
};

// udisks2 hands over the card that was checked, 8:16.
const auto kNoRights = [](CardHost& h, FakeUdisksBus&) {
  h.sys.root = false;
  h.sys.openErrors["/dev/sdb"] = EACCES;
  h.sys.descriptorDevice = [](int, uint32_t& major, uint32_t& minor) {
    major = 8;
    minor = 16;
    return 0;
  };
};
constexpr const char* kAskedUdisks =
    "ResolveDevice /dev/sdb; OpenDevice /org/freedesktop/UDisks2/block_devices/sdb";

const UdisksCase kUdisksCases[] = {
    {"NoRightsOpenedAndLockedThroughUdisks", kNoRights, true,
     "ResolveDevice /dev/sdb; OpenDevice /org/freedesktop/UDisks2/block_devices/sdb; lock ", ""},
    {"ReadableButNotWritable",
     [](CardHost& h, FakeUdisksBus&) {
       h.sys.root = false;
       h.sys.openAnswer = [] { return EACCES; };
     },
     true,
     "lock /dev/sdb; open /dev/sdb excl; close /dev/sdb; ResolveDevice /dev/sdb; OpenDevice "
     "/org/freedesktop/UDisks2/block_devices/sdb; lock ",
     ""},
    {"RootIsNeverHelped",
     [](CardHost& h, FakeUdisksBus&) { h.sys.openErrors["/dev/sdb"] = EACCES; }, false, "",
     "/dev/sdb: permission denied; writing a disk needs root, or membership of the disk group "
     "(which is as powerful as root)"},
    {"OtherFailuresAreNotRights",
     [](CardHost& h, FakeUdisksBus&) {
       h.sys.root = false;
       h.sys.openErrors["/dev/sdb"] = ENOMEDIUM;
     },
     false, "", "/dev/sdb: no card in the reader"},
    {"UdisksNotInstalled",
     [](CardHost& h, FakeUdisksBus& bus) {
       kNoRights(h, bus);
       bus.resolveError = BusError{"org.freedesktop.DBus.Error.ServiceUnknown", "no"};
       bus.reachable = false;
     },
     false, "ResolveDevice /dev/sdb",
     "/dev/sdb: permission denied; writing a disk needs root, or membership of the disk group "
     "(which is as powerful as root); or install udisks2 (sudo apt install udisks2)"},
    {"AuthorizationRefused",
     [](CardHost& h, FakeUdisksBus& bus) {
       kNoRights(h, bus);
       bus.openError = BusError{"org.freedesktop.UDisks2.Error.NotAuthorizedDismissed",
                                "Authentication dialog was dismissed"};
     },
     false, kAskedUdisks,
     "/dev/sdb: authorization to write the card was refused (Authentication dialog was "
     "dismissed)"},
    {"HandedOverAnotherDeviceIsNotWritten",
     [](CardHost& h, FakeUdisksBus& bus) {
       kNoRights(h, bus);
       h.sys.descriptorDevice = [](int, uint32_t& major, uint32_t& minor) {
         major = 8;
         minor = 32;
         return 0;
       };
     },
     false, "ResolveDevice /dev/sdb; OpenDevice /org/freedesktop/UDisks2/block_devices/sdb; close ",
     "/dev/sdb: udisks2 handed over another device (8:32); nothing is written"},
    {"AutomountUnmountedFirst",
     [](CardHost& h, FakeUdisksBus& bus) {
       kNoRights(h, bus);
       h.tree.Mount("8:17", "/media/user/BOOT", "/dev/sdb1");
     },
     true,
     "run udisksctl unmount --block-device /dev/sdb1; ResolveDevice /dev/sdb; OpenDevice "
     "/org/freedesktop/UDisks2/block_devices/sdb; lock ",
     ""},
};

class UdisksOpenTest : public ::testing::TestWithParam<UdisksCase> {};

TEST_P(UdisksOpenTest, AsksUdisksOnlyForWantOfRights) {
  const UdisksCase& c = GetParam();
  CardHost host;
  FakeUdisksBus bus;
  bus.calls = &host.sys.calls;
  c.setup(host, bus);
  LinuxDiskOptions options = host.Options();
  options.udisks = &bus;
  LinuxDiskService service(options);
  LogCapture log;
  SysResult<std::unique_ptr<IDiskWriter>> opened = service.OpenForWrite("/dev/sdb");
  const std::string error = opened.Status().Text();
  EXPECT_EQ(opened.IsOk(), c.opened) << error;
  EXPECT_EQ(Actions(host.sys), c.actions);
  EXPECT_NE(error.find(c.errorPart), std::string::npos) << error;
  if (c.opened) {
    EXPECT_NE(log.Text().find("OpenDisk: /dev/sdb opened through udisks2\n"), std::string::npos)
        << log.Text();
  } else {
    EXPECT_EQ(error.rfind("/dev/sdb", 0), 0u) << "names the card: " << error;
  }
}

INSTANTIATE_TEST_SUITE_P(Cards, UdisksOpenTest, ::testing::ValuesIn(kUdisksCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(UdisksCard, IsWrittenThroughTheDescriptorAndRereadByUdisksAfterTheClose) {
  CardHost host;
  FakeUdisksBus bus;
  bus.calls = &host.sys.calls;
  kNoRights(host, bus);
  host.sys.rereadError = EACCES;
  LinuxDiskOptions options = host.Options();
  options.udisks = &bus;
  LinuxDiskService service(options);
  LogCapture log;
  SysResult<std::unique_ptr<IDiskWriter>> opened = service.OpenForWrite("/dev/sdb");
  ASSERT_TRUE(opened.IsOk()) << opened.Status().Text();
  host.sys.calls.clear();
  ASSERT_TRUE(opened.Value()->WriteAt(512, "card", 4).IsOk());
  opened.Value()->Close();
  EXPECT_EQ(host.sys.calls,
            (std::vector<std::string>{"write 512 4", "fsync ", "reread ", "close ",
                                      "ResolveDevice /dev/sdb",
                                      "Rescan /org/freedesktop/UDisks2/block_devices/sdb"}));
  EXPECT_EQ(log.Text(), "OpenDisk: /dev/sdb opened through udisks2\n");
}

// The card udisks2 hands over is locked as one opened here: a passing
// holder is waited for within the same bound, and a card still held is let
// go again.
TEST(UdisksCard, LockOfTheHandedOverCardIsWaitedForWithinBounds) {
  for (const bool freed : {true, false}) {
    CardHost host;
    FakeUdisksBus bus;
    kNoRights(host, bus);
    if (freed) {
      host.sys.lockAnswer = BusyUntil(host, 700, EWOULDBLOCK);
    } else {
      host.sys.lockError = EWOULDBLOCK;
    }
    LinuxDiskOptions options = host.Options();
    options.udisks = &bus;
    LinuxDiskService service(options);
    LogCapture log;
    SysResult<std::unique_ptr<IDiskWriter>> opened = service.OpenForWrite("/dev/sdb");
    EXPECT_EQ(opened.IsOk(), freed) << opened.Status().Text();
    EXPECT_EQ(log.Text(), std::string("OpenDisk: /dev/sdb opened through udisks2\n"
                                      "OpenDisk: /dev/sdb busy, waiting\n") +
                              (freed ? "OpenDisk: /dev/sdb obtained after 0.8 s\n"
                                     : "OpenDisk: /dev/sdb given up after 10.0 s, still busy\n"));
    EXPECT_EQ(host.clock.slept.count(), freed ? 750 : 10000);
    if (!freed) {
      EXPECT_EQ(opened.Status().Text(), "/dev/sdb is locked by another program");
      EXPECT_EQ(host.sys.calls.back(), "close ") << "the handed-over descriptor is let go";
    }
  }
}

struct TargetCase {
  const char* name;
  const char* path;
  bool allowFixed;
  std::string refusalPart;  // empty: accepted
  const char* actions;
};

const TargetCase kTargetCases[] = {
    {"ImageFile", "/tmp/card.img", false, "", "open /tmp/card.img rw; lock /tmp/card.img"},
    {"RemovableCard", "/dev/sdb", false, "", kOpened},
    {"FixedDiskRefused", "/dev/sdc", false, "fixed disk", ""},
    {"FixedDiskAllowed", "/dev/sdc", true, "", "lock /dev/sdc; open /dev/sdc excl"},
    {"LoopDeviceRefused", "/dev/loop3", false, "a loop device", ""},
    {"LoopDeviceAllowed", "/dev/loop3", true, "", "lock /dev/loop3; open /dev/loop3 excl"},
    {"SystemDiskRefusedEvenWhenFixedAllowed", "/dev/sda", true, "system disk: holds /", ""},
    {"PartitionRefused", "/dev/sdb1", true, "a partition", ""},
    {"DeviceMapperRefused", "/dev/dm-1", true, "not a disk that holds a card", ""},
    {"MissingPath", "/tmp/none.img", true, "No such file", ""},
};

class TargetTest : public ::testing::TestWithParam<TargetCase> {};

TEST_P(TargetTest, AppliesTheDiscoveryRuleToNamedTargets) {
  const TargetCase& c = GetParam();
  CardHost host;
  TargetDiskService service({c.path}, c.allowFixed, host.Options());
  const std::string refusal = service.CheckTarget(c.path);
  SysResult<std::unique_ptr<IDiskWriter>> opened = service.OpenForWrite(c.path);
  const std::string& error = opened.Status().Text();
  if (c.refusalPart.empty()) {
    EXPECT_EQ(refusal, "");
    ASSERT_TRUE(opened.IsOk()) << error;
    EXPECT_NE(opened.Value(), nullptr);
  } else {
    EXPECT_NE(refusal.find(c.refusalPart), std::string::npos) << refusal;
    EXPECT_EQ(error, refusal);
    EXPECT_FALSE(opened.IsOk());
  }
  EXPECT_EQ(Actions(host.sys), c.actions);
}

INSTANTIATE_TEST_SUITE_P(Targets, TargetTest, ::testing::ValuesIn(kTargetCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(TargetService, SlotsAreTheTargetsInOrderAndImagesAreRemovable) {
  CardHost host;
  TargetDiskService service({"/tmp/card.img", "/dev/sdb"}, false, host.Options());
  ASSERT_EQ(service.Slots().size(), 2u);
  EXPECT_EQ(service.Slots()[0].path, "/tmp/card.img");
  EXPECT_EQ(service.Slots()[1].path, "/dev/sdb");

  std::unique_ptr<IDiskQuery> query = service.OpenForQuery("/tmp/card.img");
  ASSERT_NE(query, nullptr);
  DiskGeometry g;
  ASSERT_TRUE(query->GetDriveGeometry(g));
  EXPECT_EQ(g.Cylinders, 482);
  EXPECT_EQ(g.MediaType, kRemovableMedia);

  SysResult<std::unique_ptr<IDiskWriter>> opened = service.OpenForWrite("/dev/sdc");
  EXPECT_FALSE(opened.IsOk()) << "not a named target";
  EXPECT_NE(opened.Status().Text().find("not one of the named targets"), std::string::npos);
}

TEST(TargetService, MountedOutsideAutomountIsRefusedBeforeWriting) {
  CardHost host;
  host.tree.Mount("8:17", "/mnt/card", "/dev/sdb1");
  TargetDiskService service({"/dev/sdb"}, false, host.Options());
  EXPECT_NE(service.CheckTarget("/dev/sdb").find("mounted at /mnt/card"), std::string::npos);
  EXPECT_TRUE(host.sys.Actions().empty());
}

TEST(TestTree, DisksOfAFakeTreeAreNeverOpenedWithTheRealCalls) {
  // The fake disk's name exists on no host, so even a faulty open finds nothing.
  FakeDiskTree tree;
  tree.Disk("sdzz", "65:160", 7744512, true);
  LinuxDiskService service({tree.Root(), {}, nullptr});
  ASSERT_EQ(service.Slots().size(), 1u);
  SysResult<std::unique_ptr<IDiskWriter>> opened = service.OpenForWrite("/dev/sdzz");
  EXPECT_FALSE(opened.IsOk());
  EXPECT_NE(opened.Status().Text().find("never opened"), std::string::npos);
  EXPECT_EQ(service.OpenForQuery("/dev/sdzz"), nullptr);
}

// Writer transfers: what the system takes per call and how failures map.
struct WriteCase {
  const char* name;
  size_t len;
  uint64_t offset;
  std::vector<int64_t> answers;  // successive answers of the system write; then the full rest
  int expected;
  std::vector<std::string> writes;
};

const WriteCase kWriteCases[] = {
    {"OneCall", 4096, 0x100000000, {}, 0, {"write 4294967296 4096"}},
    {"SplitIntoThirtyTwoMiBCalls",
     (80u << 20),
     512,
     {},
     0,
     {"write 512 33554432", "write 33554944 33554432", "write 67109376 16777216"}},
    {"ShortTransferContinued", 4096, 0, {1000}, 0, {"write 0 4096", "write 1000 3096"}},
    {"InterruptedCallContinued", 512, 0, {-EINTR}, 0, {"write 0 512", "write 0 512"}},
    {"NothingWrittenIsNoSpace", 4096, 0, {1024, 0}, ENOSPC, {"write 0 4096", "write 1024 3072"}},
    {"ErrorReported", 512, 0, {-EIO}, EIO, {"write 0 512"}},
    {"PositionRefused", 512, 0, {-EINVAL}, EINVAL, {"write 0 512"}},
    {"ZeroLengthStillAsked", 0, 0x2000, {}, 0, {"write 8192 0"}},
};

class WriterTest : public ::testing::TestWithParam<WriteCase> {};

TEST_P(WriterTest, ContinuesPartialTransfersAndReportsErrno) {
  const WriteCase& c = GetParam();
  FakeDiskSysCalls sys;
  size_t next = 0;
  sys.write = [&](size_t len, uint64_t) -> int64_t {
    return next < c.answers.size() ? c.answers[next++] : static_cast<int64_t>(len);
  };
  LinuxDiskWriter writer(sys, 7, true);
  static const std::vector<uint8_t> data(80u << 20);
  const SysStatus status = writer.WriteAt(c.offset, data.data(), c.len);
  // The code is the system's own errno.
  EXPECT_EQ(status.Code(), c.expected == 0 ? std::error_code()
                                           : std::error_code(c.expected, std::system_category()));
  EXPECT_EQ(sys.calls, c.writes);
}

INSTANTIATE_TEST_SUITE_P(Transfers, WriterTest, ::testing::ValuesIn(kWriteCases),
                         [](const auto& info) { return std::string(info.param.name); });

struct CloseCase {
  const char* name;
  bool blockDevice;
  int syncError;
  int rereadError;
  std::vector<std::string> calls;
  std::string log;
};

const CloseCase kCloseCases[] = {
    {"BlockDeviceReread", true, 0, 0, {"fsync /dev/sdb", "reread /dev/sdb", "close /dev/sdb"}, ""},
    {"RereadRefusedIsOnlyLogged",
     true,
     0,
     EINVAL,
     {"fsync /dev/sdb", "reread /dev/sdb", "close /dev/sdb"},
     "CloseDisk: re-read of the partition table refused, err = 22\n"},
    {"ImageFileHasNoPartitionTableToReread", false, 0, 0, {"fsync /dev/sdb", "close /dev/sdb"}, ""},
    {"FailedSyncLogged",
     false,
     EIO,
     0,
     {"fsync /dev/sdb", "close /dev/sdb"},
     "CloseDisk: fsync failed, err = 5\n"},
};

class CloseTest : public ::testing::TestWithParam<CloseCase> {};

TEST_P(CloseTest, SyncsRereadsAndCloses) {
  const CloseCase& c = GetParam();
  FakeDiskSysCalls sys;
  sys.syncError = c.syncError;
  sys.rereadError = c.rereadError;
  const int fd = sys.Open("/dev/sdb", DiskOpenMode::ReadWriteExclusive);
  sys.calls.clear();
  LogCapture log;
  {
    LinuxDiskWriter writer(sys, fd, c.blockDevice);
    writer.Close();
    writer.Close();  // a second close does nothing
    EXPECT_EQ(writer.WriteAt(0, "x", 1).Code(), std::errc::bad_file_descriptor);
  }
  EXPECT_EQ(sys.calls, c.calls);
  EXPECT_EQ(log.Text(), c.log);
}

INSTANTIATE_TEST_SUITE_P(Closes, CloseTest, ::testing::ValuesIn(kCloseCases),
                         [](const auto& info) { return std::string(info.param.name); });

// A re-read the kernel refuses for lack of rights goes to udisks2 once the
// disk is closed (udisks2 could not claim it before); any other refusal, or
// a failed rescan, is only logged.
TEST(CloseTest, RereadWithoutRightsGoesToUdisksAfterTheClose) {
  struct Case {
    int rereadError;
    const char* rescanFailure;  // empty: the rescan succeeds
    bool rescanned;
    const char* log;
  };
  const Case cases[] = {
      {EACCES, "", true, ""},
      {EPERM, "/dev/sdb: udisks2 could not re-read the partition table", true,
       "CloseDisk: /dev/sdb: udisks2 could not re-read the partition table\n"},
      {EINVAL, "", false, "CloseDisk: re-read of the partition table refused, err = 22\n"},
  };
  for (const Case& c : cases) {
    FakeDiskSysCalls sys;
    sys.rereadError = c.rereadError;
    const int fd = sys.Open("/dev/sdb", DiskOpenMode::ReadWriteExclusive);
    sys.calls.clear();
    LogCapture log;
    LinuxDiskWriter writer(sys, fd, true);
    writer.RereadThrough([&sys, &c] {
      sys.calls.push_back("rescan");
      return *c.rescanFailure
                 ? SysStatus(std::make_error_code(std::errc::io_error), c.rescanFailure)
                 : SysStatus::Ok();
    });
    writer.Close();
    std::vector<std::string> expected{"fsync /dev/sdb", "reread /dev/sdb", "close /dev/sdb"};
    if (c.rescanned) expected.push_back("rescan");
    EXPECT_EQ(sys.calls, expected) << c.rereadError;
    EXPECT_EQ(log.Text(), c.log);
  }
}

}  // namespace
}  // namespace tarnwick::testing
