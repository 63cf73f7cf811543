// The physical-disk service of Windows against a fake of the Windows calls.
#include "platform/win32/win32_disks.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <vector>

#include "common/debug_log.h"
#include "engine/sd_read_write.h"
#include "fake_clock.h"
#include "platform/fs/win32_text.h"
#include "platform_win32/fake_win32_disk_calls.h"

namespace tarnwick {
namespace {

using testing::FakeClock;
using testing::FakeWin32DiskCalls;
using testing::FakeWin32Volume;

constexpr const char* kDisk5 = "\\\\.\\PhysicalDrive5";

class Win32DisksTest : public ::testing::Test {
 protected:
  Win32DisksTest() {
    fake.volumeOfPath["C:\\Windows"] = "\\\\?\\Volume{c}\\";
    fake.volumeOfPath["D:\\work"] = "\\\\?\\Volume{d}\\";
    fake.volumes.push_back({"\\\\?\\Volume{c}\\", {"C:\\"}, {0}});
    fake.volumes.push_back({"\\\\?\\Volume{d}\\", {"D:\\"}, {1}});
    fake.disks[0].geometry.MediaType = kFixedMedia;
    fake.disks[1].geometry.MediaType = kFixedMedia;
    fake.disks[5];
  }
  std::unique_ptr<IDiskService> Service(std::vector<std::string> targets = {},
                                        bool allowFixed = false) {
    Win32DiskOptions options;
    options.targets = std::move(targets);
    options.allowFixed = allowFixed;
    options.protectedPaths = [this] { return protectedPaths; };
    return MakeWin32DiskService(options, fake, clock);
  }

  FakeWin32DiskCalls fake;
  FakeClock clock;
  std::vector<ProtectedPath> protectedPaths;
};

TEST_F(Win32DisksTest, SlotTableIsPhysicalDrive1To13AndProbesReadOnly) {
  auto service = Service();
  const auto slots = service->Slots();
  ASSERT_EQ(slots.size(), 13u);
  EXPECT_EQ(slots.front().path, "\\\\.\\PhysicalDrive1");
  EXPECT_EQ(slots.back().path, "\\\\.\\PhysicalDrive13");
  fake.log.clear();
  CSDReadWrite rw(*service);
  DiskGeometry g;
  ASSERT_TRUE(rw.GetDiskGeometry(kDisk5, g));
  EXPECT_EQ(
      fake.CallsOn("PhysicalDrive"),
      (std::vector<std::string>{"open \\\\.\\PhysicalDrive5 r/rw", "geometry \\\\.\\PhysicalDrive5",
                                "close \\\\.\\PhysicalDrive5"}));
  EXPECT_EQ(g.Cylinders, 482);
  EXPECT_EQ(g.MediaType, kRemovableMedia);
  // Disk 0 and numbers past the table are never probed.
  EXPECT_FALSE(rw.GetDiskGeometry("\\\\.\\PhysicalDrive0", g));
  EXPECT_FALSE(rw.GetDiskGeometry("\\\\.\\PhysicalDrive14", g));
  EXPECT_TRUE(fake.CallsOn("PhysicalDrive0").empty());
  EXPECT_TRUE(fake.CallsOn("PhysicalDrive14").empty());
}

TEST_F(Win32DisksTest, MediaTypesFallback) {
  struct Case {
    const char* name;
    bool mediaOk;
    uint32_t entries;
    bool found;
  };
  for (const Case& c : {Case{"one entry", true, 1, true}, Case{"no entry", true, 0, false},
                        Case{"refused", false, 1, false}}) {
    SCOPED_TRACE(c.name);
    auto& d = fake.disks[5];
    d.geometryOk = false;
    d.mediaOk = c.mediaOk;
    d.mediaEntries = c.entries;
    d.media = {1000, kRemovableMedia, 64, 32, 512};
    auto service = Service();
    service->Slots();
    CSDReadWrite rw(*service);
    DiskGeometry g;
    EXPECT_EQ(rw.GetDiskGeometry(kDisk5, g), c.found);
    if (c.found) {
      EXPECT_EQ(g.Cylinders, 1000);
    }
  }
}

TEST_F(Win32DisksTest, SystemDisksAreNeverOpenedForWriting) {
  fake.pageFiles = {"E:\\pagefile.sys"};
  fake.volumeOfPath["E:\\pagefile.sys"] = "\\\\?\\Volume{e}\\";
  fake.volumes.push_back({"\\\\?\\Volume{e}\\", {"E:\\"}, {2}});
  fake.volumeOfPath["F:\\board.ini"] = "\\\\?\\Volume{f}\\";
  fake.volumes.push_back({"\\\\?\\Volume{f}\\", {"F:\\"}, {3, 4}});  // spans two disks
  protectedPaths = {{"configuration file", "F:\\board.ini"}};
  for (uint32_t n = 0; n <= 5; ++n) fake.disks[n].geometry.MediaType = kRemovableMedia;

  const auto systemDisks = Win32SystemDisks(fake, [this] { return protectedPaths; });
  EXPECT_EQ(systemDisks.at(0), "system disk: holds the Windows folder (C:\\Windows)");
  EXPECT_EQ(systemDisks.at(1), "system disk: holds the working directory (D:\\work)");
  EXPECT_EQ(systemDisks.at(2), "system disk: holds the page file (E:\\pagefile.sys)");
  EXPECT_EQ(systemDisks.at(3), "system disk: holds the configuration file (F:\\board.ini)");
  EXPECT_EQ(systemDisks.count(4), 1u);
  EXPECT_EQ(systemDisks.count(5), 0u);

  auto service = Service();
  service->Slots();
  for (uint32_t n = 1; n <= 4; ++n) {
    const std::string path = Win32DiskPath(n);
    SCOPED_TRACE(path);
    EXPECT_EQ(service->OpenForQuery(path), nullptr);
    auto w = service->OpenForWrite(path);
    ASSERT_FALSE(w);
    EXPECT_NE(w.Status().Text().find("is refused: system disk: holds"), std::string::npos);
    // Named as a target with --allow-fixed, it is refused all the same.
    EXPECT_FALSE(CheckWin32Target(fake, path, true, [this] { return protectedPaths; }));
  }
  for (const std::string& call : fake.log) EXPECT_EQ(call.find(" rw/"), std::string::npos) << call;

  const auto report = ListWin32Disks(fake, [this] { return protectedPaths; });
  ASSERT_EQ(report.size(), 6u);
  EXPECT_EQ(report[0].reason, systemDisks.at(0));
  EXPECT_EQ(report[4].reason, systemDisks.at(4));
  EXPECT_TRUE(report[5].accepted);
  EXPECT_EQ(report[5].bytes, 482ull * 255 * 63 * 512);
}

TEST_F(Win32DisksTest, TargetsFollowTheRemovableRule) {
  fake.disks[6].geometry.MediaType = kFixedMedia;
  fake.disks[7].geometry.TracksPerCylinder = 0;
  struct Case {
    const char* path;
    bool allowFixed;
    const char* refusal;  // empty: accepted
  };
  for (const Case& c : {Case{kDisk5, false, ""},
                        Case{"\\\\.\\PhysicalDrive6", false, "fixed disk, not removable media"},
                        Case{"\\\\.\\PhysicalDrive6", true, ""},
                        Case{"\\\\.\\PhysicalDrive7", true, "no card in the reader"},
                        Case{"\\\\.\\PhysicalDrive1", true, "system disk"},
                        Case{"\\\\.\\PhysicalDrive9", false, "(error 2)"},
                        Case{"Z:\\no\\such.img", false, "neither a physical disk"}}) {
    SCOPED_TRACE(std::string(c.path) + (c.allowFixed ? " --allow-fixed" : ""));
    const SysStatus s = CheckWin32Target(fake, c.path, c.allowFixed, {});
    if (*c.refusal == '\0') {
      EXPECT_TRUE(s) << s.Text();
    } else {
      EXPECT_NE(s.Text().find(c.refusal), std::string::npos) << s.Text();
    }
  }
  // An allowed fixed target is probed as removable media.
  auto service = Service({"\\\\.\\PhysicalDrive6"}, true);
  service->Slots();
  CSDReadWrite rw(*service);
  DiskGeometry g;
  ASSERT_TRUE(rw.GetDiskGeometry("\\\\.\\PhysicalDrive6", g));
  EXPECT_EQ(g.MediaType, kRemovableMedia);
}

TEST_F(Win32DisksTest, OpenLocksAndDismountsEveryVolumeBeforeTheDiskAndReleasesAfterUpdate) {
  fake.volumes.push_back({"\\\\?\\Volume{g}\\", {"G:\\"}, {5}});
  fake.volumes.push_back({"\\\\?\\Volume{h}\\", {"H:\\"}, {5}});
  auto service = Service();
  fake.log.clear();
  auto w = service->OpenForWrite(kDisk5);
  ASSERT_TRUE(w) << w.Status().Text();
  w.Value()->Close();
  std::vector<std::string> calls;
  for (const std::string& l : fake.log) {
    if (l.find("Volume{g}") != std::string::npos || l.find("Volume{h}") != std::string::npos ||
        l.find("PhysicalDrive5") != std::string::npos) {
      calls.push_back(l);
    }
  }
  const std::vector<std::string> expected = {
      "open \\\\?\\Volume{g} /rw",       "extents \\\\?\\Volume{g}",
      "close \\\\?\\Volume{g}",          "open \\\\?\\Volume{g} rw/rw",
      "lock \\\\?\\Volume{g}",           "dismount \\\\?\\Volume{g}",
      "open \\\\?\\Volume{h} /rw",       "extents \\\\?\\Volume{h}",
      "close \\\\?\\Volume{h}",          "open \\\\?\\Volume{h} rw/rw",
      "lock \\\\?\\Volume{h}",           "dismount \\\\?\\Volume{h}",
      "open \\\\.\\PhysicalDrive5 rw/r", "close \\\\.\\PhysicalDrive5",
      "open \\\\.\\PhysicalDrive5 r/rw", "update \\\\.\\PhysicalDrive5",
      "close \\\\.\\PhysicalDrive5",     "close \\\\?\\Volume{g}",
      "close \\\\?\\Volume{h}"};
  EXPECT_EQ(calls, expected);
  // Volumes of other disks are looked at, never locked.
  EXPECT_TRUE(fake.CallsOn("lock \\\\?\\Volume{c}").empty());
}

TEST_F(Win32DisksTest, BusyVolumesAndDisksAreRetriedWithinTheBound) {
  struct Case {
    const char* name;
    int lockRefusals;
    int sharingViolations;
    bool opened;
    const char* log;
    long long sleptMs;
  };
  const Case cases[] = {
      {"free", 0, 0, true, "", 0},
      {"lock obtained", 3, 0, true,
       "OpenDisk: \\\\.\\PhysicalDrive5 busy, waiting\n"
       "OpenDisk: \\\\.\\PhysicalDrive5 obtained after 0.7 s\n",
       700},
      {"disk open obtained", 0, 2, true,
       "OpenDisk: \\\\.\\PhysicalDrive5 busy, waiting\n"
       "OpenDisk: \\\\.\\PhysicalDrive5 obtained after 0.3 s\n",
       300},
      {"lock given up", -1, 0, false,
       "OpenDisk: \\\\.\\PhysicalDrive5 busy, waiting\n"
       "OpenDisk: \\\\.\\PhysicalDrive5 given up after 10.0 s, still busy\n",
       10000},
      {"disk open given up", 0, 1000, false,
       "OpenDisk: \\\\.\\PhysicalDrive5 busy, waiting\n"
       "OpenDisk: \\\\.\\PhysicalDrive5 given up after 10.0 s, still busy\n",
       10000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeWin32DiskCalls calls;
    calls.disks[5].sharingViolations = c.sharingViolations;
    calls.volumes.push_back({"\\\\?\\Volume{g}\\", {"G:\\"}, {5}, c.lockRefusals});
    FakeClock fakeClock;
    Win32DiskOptions options;
    auto service = MakeWin32DiskService(options, calls, fakeClock);
    LogCapture capture;
    auto w = service->OpenForWrite(kDisk5);
    EXPECT_EQ(w.IsOk(), c.opened);
    EXPECT_EQ(capture.Text(), c.log);
    EXPECT_EQ(fakeClock.slept.count(), c.sleptMs);
    if (c.lockRefusals < 0) {
      EXPECT_EQ(w.Status().Text(),
                "\\\\.\\PhysicalDrive5: volume G:\\ is in use and cannot be locked: " +
                    Win32ErrorText("x", 5).substr(3));
      // Nothing stays held after a failure.
      EXPECT_EQ(calls.CallsOn("close \\\\?\\Volume{g}").size(), 2u);
    }
  }
}

TEST_F(Win32DisksTest, WritesAreChunkedPositionedAndAligned) {
  auto service = Service();
  auto w = service->OpenForWrite(kDisk5);
  ASSERT_TRUE(w);
  IDiskWriter& writer = *w.Value();
  // 65,537 sectors at sector 0x800000: a full 32 MiB chunk, then one sector.
  const size_t bytes = (0x10000 + 1) * 512;
  std::vector<uint8_t> data(bytes + 512);
  data[1] = 0xA1;
  data[1 + 0x2000000] = 0xB2;
  fake.log.clear();
  // An odd address: the writer copies through an aligned buffer.
  ASSERT_TRUE(writer.WriteAt(0x100000000ull, data.data() + 1, bytes));
  ASSERT_EQ(fake.writes.size(), 2u);
  EXPECT_EQ(fake.log[0], "seek 0x0 0x1");
  EXPECT_EQ(fake.writes[0].length, 0x2000000u);
  EXPECT_EQ(fake.writes[0].firstByte, 0xA1);
  EXPECT_EQ(fake.writes[1].position, 0x102000000ull);
  EXPECT_EQ(fake.writes[1].length, 512u);
  EXPECT_EQ(fake.writes[1].firstByte, 0xB2);
  EXPECT_TRUE(fake.writes[0].aligned && fake.writes[1].aligned);
  EXPECT_TRUE(writer.Flush());
  EXPECT_EQ(fake.CallsOn("flush").size(), 1u);
  // Positions and lengths off sector boundaries are refused, not rounded.
  EXPECT_FALSE(writer.WriteAt(100, data.data(), 512));
  EXPECT_FALSE(writer.WriteAt(512, data.data(), 100));
}

TEST_F(Win32DisksTest, DiskWrittenUnbufferedAndThroughAndReadBackUnbuffered) {
  auto service = Service();
  auto w = service->OpenForWrite(kDisk5);
  ASSERT_TRUE(w);
  IDiskWriter& writer = *w.Value();
  EXPECT_EQ(fake.openFlags[kDisk5], win32c::kFlagNoBuffering | win32c::kFlagWriteThrough);
  fake.log.clear();
  // A 32 MiB chunk and one sector more, into memory off any sector boundary.
  const size_t bytes = 0x2000000 + 512;
  std::vector<uint8_t> back(bytes + 1);
  ASSERT_TRUE(writer.ReadBackAt(0x400 * 512, back.data() + 1, bytes));
  EXPECT_EQ(fake.openFlags[kDisk5], win32c::kFlagNoBuffering);
  EXPECT_EQ(fake.CallsOn("open").size(), 1u);  // the second handle, opened once
  EXPECT_EQ(fake.CallsOn("open")[0], std::string("open ") + kDisk5 + " r/rw");
  ASSERT_EQ(fake.readsOn.size(), 2u);
  EXPECT_EQ(back[1], 0x00);                  // sector 0x400
  EXPECT_EQ(back[1 + 0x2000000 - 1], 0xFF);  // the last sector of the chunk
  EXPECT_EQ(back[1 + 0x2000000], 0x00);      // sector 0x10400
  ASSERT_TRUE(writer.ReadBackAt(3 * 512, back.data(), 512));
  EXPECT_EQ(back[0], 3);
  EXPECT_EQ(fake.CallsOn("open").size(), 1u);
  // Off sector boundaries: refused; a short read: the card fails.
  EXPECT_FALSE(writer.ReadBackAt(100, back.data(), 512));
  EXPECT_FALSE(writer.ReadBackAt(512, back.data(), 100));
  fake.shortReadAt = static_cast<int>(fake.readsOn.size());
  const SysStatus shortRead = writer.ReadBackAt(0, back.data(), 1024);
  EXPECT_EQ(shortRead.Code().value(), static_cast<int>(win32c::kErrorHandleEof));
  // The reading handle goes with the disk's.
  writer.Close();
  EXPECT_EQ(fake.CallsOn(std::string("close ") + kDisk5).size(), 3u);
}

TEST_F(Win32DisksTest, FailedAndShortWritesFailTheCard) {
  struct Case {
    const char* name;
    int failAt;
    int shortAt;
    bool seekFails;
    const char* text;
    size_t attempted;
  };
  for (const Case& c :
       {Case{"second chunk fails", 1, -1, false, "WriteFile \\\\.\\PhysicalDrive5: ", 2},
        Case{"short write", -1, 0, false, "short write, 16777216 of 33554432 bytes at byte 0", 1},
        Case{"seek refused", -1, -1, true, "SetFilePointer \\\\.\\PhysicalDrive5: ", 0}}) {
    SCOPED_TRACE(c.name);
    fake.writes.clear();
    fake.failWriteAt = c.failAt;
    fake.shortWriteAt = c.shortAt;
    fake.seekFails = c.seekFails;
    auto service = Service();
    auto w = service->OpenForWrite(kDisk5);
    ASSERT_TRUE(w);
    std::vector<uint8_t> data(3 * 0x2000000);
    const SysStatus s = w.Value()->WriteAt(0, data.data(), data.size());
    EXPECT_FALSE(s);
    EXPECT_NE(s.Text().find(c.text), std::string::npos) << s.Text();
    EXPECT_EQ(fake.writes.size(), c.attempted);
  }
  // The system's own text of the code, then the code.
  EXPECT_EQ(Win32ErrorText("WriteFile X", 21),
            "WriteFile X: " + win32::ErrorStatus(21).Text() + " (error 21)");
}

TEST_F(Win32DisksTest, RefusedUpdateIsLoggedNotFailed) {
  fake.disks[5].updateOk = false;
  auto service = Service();
  auto w = service->OpenForWrite(kDisk5);
  ASSERT_TRUE(w);
  LogCapture capture;
  w.Value()->Close();
  EXPECT_EQ(capture.Text(), "CloseDisk: update of the disk properties refused, err = 5\n");
  w.Value()->Close();  // a second close does nothing
  EXPECT_EQ(fake.CallsOn("update").size(), 1u);
}

TEST_F(Win32DisksTest, ReaderReadsWholeSectorsAtAnyOffset) {
  fake.disks[5].length = 1 << 20;
  auto reader = OpenWin32DiskReader(fake, kDisk5);
  ASSERT_TRUE(reader);
  EXPECT_EQ(reader.Value()->SizeBytes(), 1u << 20);
  uint8_t buf[600];
  ASSERT_TRUE(reader.Value()->ReadAt(1000, buf, sizeof buf));
  EXPECT_EQ(buf[0], 1);    // byte 1000 lies in sector 1
  EXPECT_EQ(buf[599], 3);  // byte 1599 in sector 3
  EXPECT_FALSE(reader.Value()->ReadAt((1 << 20) - 10, buf, 20));
}

TEST_F(Win32DisksTest, DiskInstanceIsThatOfTheInterfaceWithTheSameDeviceNumber) {
  const std::string card = "\\\\?\\usbstor#disk&ven_haldren#7&2a1b&0#{53f56307-b6bf-11d0}";
  const std::string system = "\\\\?\\scsi#disk&ven_ata#4&1#{53f56307-b6bf-11d0}";
  const std::string broken = "\\\\?\\usbstor#disk&ven_x#9&9#{53f56307-b6bf-11d0}";
  const std::string cdrom = "\\\\?\\ide#cdrom#5&0#{53f56307-b6bf-11d0}";
  fake.interfaces = {{system, "SCSI\\DISK&VEN_ATA\\4&1", 7, 0},
                     {broken, "USBSTOR\\DISK&VEN_X\\9&9", 7, 5, win32c::kErrorAccessDenied},
                     // Another device type numbers its devices on its own.
                     {cdrom, "IDE\\CDROM\\5&0", 2, 5},
                     {card, "USBSTOR\\Disk&Ven_HALDREN\\7&2a1b&0", 7, 5}};
  struct Case {
    const char* name;
    std::function<void(FakeWin32DiskCalls&)> change;
    std::string path;
    std::string instance;
  };
  const Case cases[] = {
      {"found by type and number, upper case", [](FakeWin32DiskCalls&) {}, kDisk5,
       "USBSTOR\\DISK&VEN_HALDREN\\7&2A1B&0"},
      {"another device under the same number",
       [](FakeWin32DiskCalls& f) { f.interfaces.back().instance = "USBSTOR\\DISK&VEN_Y\\8&1&0"; },
       kDisk5, "USBSTOR\\DISK&VEN_Y\\8&1&0"},
      {"the disk's number refused", [](FakeWin32DiskCalls& f) { f.disks[5].numberOk = false; },
       kDisk5, ""},
      {"no such disk", [](FakeWin32DiskCalls&) {}, "\\\\.\\PhysicalDrive9", ""},
      {"no interface with its number", [](FakeWin32DiskCalls&) {}, "\\\\.\\PhysicalDrive1", ""},
      {"the interface's instance unknown",
       [](FakeWin32DiskCalls& f) { f.interfaces.back().instance.clear(); }, kDisk5, ""},
      {"a card image file", [](FakeWin32DiskCalls&) {}, "D:\\card.img", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeWin32DiskCalls f = fake;
    c.change(f);
    Win32DiskOptions options;
    EXPECT_EQ(MakeWin32DiskService(options, f, clock)->DiskInstanceOf(c.path), c.instance);
  }

  // Handles opened without access rights (a disk in use elsewhere still answers),
  // each closed before the next is opened; the search ends at the match.
  EXPECT_EQ(Service()->DiskInstanceOf(kDisk5), "USBSTOR\\DISK&VEN_HALDREN\\7&2A1B&0");
  EXPECT_EQ(fake.log,
            (std::vector<std::string>{
                "open \\\\.\\PhysicalDrive5 /rw", "number \\\\.\\PhysicalDrive5",
                "close \\\\.\\PhysicalDrive5", "interfaces", "open " + system + " /rw",
                "number " + system, "close " + system, "open " + broken + " /rw",
                "open " + cdrom + " /rw", "number " + cdrom, "close " + cdrom,
                "open " + card + " /rw", "number " + card, "close " + card, "instance " + card}));
}

TEST(Win32DiskPathTest, Numbers) {
  uint32_t n = 0;
  EXPECT_TRUE(Win32DiskNumber("\\\\.\\physicaldrive12", n));
  EXPECT_EQ(n, 12u);
  EXPECT_FALSE(Win32DiskNumber("\\\\.\\PhysicalDrive", n));
  EXPECT_FALSE(Win32DiskNumber("\\\\.\\PhysicalDrive1a", n));
  EXPECT_FALSE(Win32DiskNumber("\\\\.\\PhysicalDrive99999999999", n));
  EXPECT_FALSE(Win32DiskNumber("C:\\card.img", n));
}

}  // namespace
}  // namespace tarnwick
