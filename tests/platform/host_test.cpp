// The host factory: which services a front end's options choose, and the
// system's path-list separator.
#include "platform/host.h"

#include <gtest/gtest.h>

#include "fake_disk_tree.h"
#include "test_support.h"

namespace tarnwick::testing {
namespace {

TEST(PathList, SplitsOnTheSystemSeparatorAndKeepsDriveLetters) {
  const struct {
    const char* list;
    char separator;
    std::vector<std::string> paths;
  } kCases[] = {
      {"", ':', {}},
      {"/a.img", ':', {"/a.img"}},
      {"/a.img::/b.img:", ':', {"/a.img", "/b.img"}},
      {"C:\\cards\\a.img;D:\\b.img", ';', {"C:\\cards\\a.img", "D:\\b.img"}},
      {";;", ';', {}},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(SplitPathList(c.list, c.separator), c.paths) << c.list;
  }
  EXPECT_EQ(kPathListSeparator, ':');  // this suite is built on Linux only
}

TEST(MakeHost, CardImagesStandForTheDisksAndNeedNoRights) {
  TempDir dir;
  const std::string a = dir.File("a.img"), b = dir.File("b.img");
  ASSERT_TRUE(CreateCardImage(a, 1 << 20));
  ASSERT_TRUE(CreateCardImage(b, 1 << 20));
  HostOptions options;
  options.cardImages = {a, b};
  std::unique_ptr<IHost> host = MakeHost(options);
  EXPECT_TRUE(host->Simulated());
  ASSERT_EQ(host->Disks().Slots().size(), 2u);
  EXPECT_EQ(host->Disks().Slots()[1].path, b);
  EXPECT_TRUE(host->Disks().OpenForWrite(a).IsOk());
  EXPECT_FALSE(host->Disks().OpenForWrite(dir.File("other.img")).IsOk());
}

TEST(MakeHost, SimulatedBoardIsTheBusAndItsCardJoinsTheImages) {
  TempDir dir;
  HostOptions options;
  options.simulateBoardDir = dir.File("board");
  options.watchArrivals = true;  // a simulated board brings its own arrivals
  std::unique_ptr<IHost> host = MakeHost(options);
  EXPECT_TRUE(host->Simulated());
  EXPECT_TRUE(host->EventsStatus().IsOk());
  EXPECT_TRUE(host->Disks().Slots().empty());
  SysResult<std::unique_ptr<IScsiInterfaceSet>> set = host->Bus().GetInterfaceSet();
  ASSERT_TRUE(set.IsOk());
  EXPECT_EQ(set.Value()->GetInterfacePath(0).lookup, InterfaceLookup::Found);
  EXPECT_EQ(host->Events().Watch([] {}), nullptr) << "collected after each download";
}

TEST(MakeHost, NamedTargetsAreTheSlotsAndAreChecked) {
  TempDir dir;
  const std::string card = dir.File("card.img");
  ASSERT_TRUE(CreateCardImage(card, 1 << 20));
  HostOptions options;
  options.targets = {card, dir.File("missing.img")};
  std::unique_ptr<IHost> host = MakeHost(options);
  EXPECT_FALSE(host->Simulated());
  ASSERT_EQ(host->Disks().Slots().size(), 2u);
  EXPECT_TRUE(host->CheckTarget(card).IsOk());
  const SysStatus missing = host->CheckTarget(dir.File("missing.img"));
  EXPECT_FALSE(missing.IsOk());
  EXPECT_NE(missing.Text().find("No such file"), std::string::npos) << missing.Text();
}

TEST(MakeHost, TestTreeIsDiscoveredAndListedButNeverWritten) {
  FakeDiskTree tree;
  tree.Disk("sdzz", "65:160", 7744512, true);
  tree.Disk("sdzy", "65:144", 7744512, false);
  int asked = 0;
  HostOptions options;
  options.sysRoot = tree.Root();
  options.protectedPaths = [&asked] {
    ++asked;
    return std::vector<ProtectedPath>{};
  };
  std::unique_ptr<IHost> host = MakeHost(options);
  EXPECT_FALSE(host->Simulated());
  ASSERT_EQ(host->Disks().Slots().size(), 1u);
  EXPECT_EQ(host->Disks().Slots()[0].path, "/dev/sdzz");
  EXPECT_EQ(asked, 2) << "the protected paths are asked for at every discovery";
  const auto opened = host->Disks().OpenForWrite("/dev/sdzz");
  EXPECT_EQ(opened.Status().Text(),
            "/dev/sdzz is refused: disks found under --sys-root are never written");
  EXPECT_FALSE(host->CheckTarget("/dev/sdzz").IsOk()) << "no targets were named";

  const std::vector<HostDisk> disks = host->ListDisks();
  ASSERT_EQ(disks.size(), 2u);
  EXPECT_EQ(disks[0].devicePath, "/dev/sdzy");
  EXPECT_FALSE(disks[0].accepted);
  EXPECT_TRUE(disks[1].accepted);
  EXPECT_EQ(disks[1].bytes, uint64_t{7744512} * 512);
}

TEST(CardReader, ReadsACardImageAndSaysWhyItCannot) {
  TempDir dir;
  const std::string card = dir.File("card.img");
  WriteFile(card, std::string(1024, 'x'));
  SysResult<std::unique_ptr<ICardReader>> reader = OpenCardReader(card);
  ASSERT_TRUE(reader.IsOk()) << reader.Status().Text();
  EXPECT_EQ(reader.Value()->SizeBytes(), 1024u);
  char buffer[512] = {};
  EXPECT_TRUE(reader.Value()->ReadAt(512, buffer, sizeof buffer).IsOk());
  EXPECT_EQ(buffer[511], 'x');
  EXPECT_EQ(reader.Value()->ReadAt(513, buffer, sizeof buffer).Text(),
            "read past the end of the card");

  const std::string missing = dir.File("missing.img");
  const SysStatus notThere = OpenCardReader(missing).Status();
  EXPECT_EQ(notThere.Code(), std::errc::no_such_file_or_directory);
  EXPECT_EQ(notThere.Text(), "cannot open " + missing + ": No such file or directory");
  EXPECT_EQ(OpenCardReader(dir.path().string()).Status().Text(),
            dir.path().string() + " is a folder: neither a card image file nor a block device");
}

}  // namespace
}  // namespace tarnwick::testing
