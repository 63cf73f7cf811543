// The simulated disk service: card image files as removable disks.
#include "platform/sim/image_disk_service.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <functional>

#include "platform/linux/target_disk_service.h"
#include "test_support.h"

namespace tarnwick::testing {
namespace {

struct ImageCase {
  const char* name;
  uint64_t bytes;
  int64_t cylinders;
};

const ImageCase kImages[] = {
    {"WorkedExampleCard", 3965190144, 482},  // 482 cylinders: 7,743,330 sectors
    {"JustBelowOneCylinder", 8225279, 0},
    {"ExactlyOneCylinder", 8225280, 1},
    {"SixteenGiB", uint64_t{16} << 30, 2088},
};

class ImageGeometryTest : public ::testing::TestWithParam<ImageCase> {};

TEST_P(ImageGeometryTest, RemovableMediaOfWholeCylinders) {
  const ImageCase& c = GetParam();
  TempDir dir;
  const std::string path = dir.File("card.img");
  ASSERT_TRUE(CreateCardImage(path, c.bytes));
  struct stat st {};
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(static_cast<uint64_t>(st.st_size), c.bytes);
  EXPECT_LT(static_cast<uint64_t>(st.st_blocks) * 512, uint64_t{1} << 20) << "sparse";

  ImageDiskService disks({path});
  std::unique_ptr<IDiskQuery> query = disks.OpenForQuery(path);
  ASSERT_NE(query, nullptr);
  DiskGeometry g;
  ASSERT_TRUE(query->GetDriveGeometry(g));
  EXPECT_EQ(g.Cylinders, c.cylinders);
  EXPECT_EQ(g.MediaType, kRemovableMedia);
  EXPECT_EQ(g.TracksPerCylinder, 255u);
  EXPECT_EQ(g.SectorsPerTrack, 63u);
  EXPECT_EQ(g.BytesPerSector, 512u);
}

INSTANTIATE_TEST_SUITE_P(Sizes, ImageGeometryTest, ::testing::ValuesIn(kImages),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ImageDiskService, SlotTableHoldsAtMostThirteenImages) {
  std::vector<std::string> paths;
  for (int i = 1; i <= 14; ++i) paths.push_back("/tmp/card" + std::to_string(i) + ".img");
  ImageDiskService disks({paths.begin(), paths.begin() + 12});
  EXPECT_TRUE(disks.AddImage(paths[12]));
  EXPECT_FALSE(disks.AddImage(paths[13]));
  const std::vector<DiskSlot> slots = disks.Slots();
  ASSERT_EQ(slots.size(), 13u);
  for (size_t i = 0; i < slots.size(); ++i) EXPECT_EQ(slots[i].path, paths[i]);
  EXPECT_EQ(ImageDiskService(paths).Slots().size(), 13u);
}

TEST(ImageDiskService, WritesOnlyExistingImagesOfItsSlots) {
  TempDir dir;
  const std::string card = dir.File("card.img");
  const std::string other = dir.File("other.img");
  ASSERT_TRUE(CreateCardImage(card, 1 << 20));
  ASSERT_TRUE(CreateCardImage(other, 1 << 20));
  ImageDiskService disks({card, dir.File("missing.img"), dir.path().string()});

  const struct {
    std::string path;
    std::string errorPart;
  } kRefused[] = {
      {other, "not a card image of the slot table"},
      {dir.File("missing.img"), "No such file"},
      {dir.path().string(), "not a card image file"},
  };
  for (const auto& r : kRefused) {
    SysResult<std::unique_ptr<IDiskWriter>> refused = disks.OpenForWrite(r.path);
    EXPECT_FALSE(refused.IsOk()) << r.path;
    EXPECT_NE(refused.Status().Text().find(r.errorPart), std::string::npos)
        << refused.Status().Text();
    EXPECT_EQ(disks.OpenForQuery(r.path), nullptr) << r.path;
  }

  SysResult<std::unique_ptr<IDiskWriter>> opened = disks.OpenForWrite(card);
  ASSERT_TRUE(opened.IsOk()) << opened.Status().Text();
  std::unique_ptr<IDiskWriter> writer = opened.Take();
  const std::vector<uint8_t> data(1024, 0x5A);
  EXPECT_TRUE(writer->WriteAt(4096, data.data(), data.size()).IsOk());
  std::vector<uint8_t> back(1536);
  EXPECT_TRUE(writer->ReadBackAt(3584, back.data(), back.size()).IsOk());
  EXPECT_TRUE(std::equal(data.begin(), data.end(), back.begin() + 512));
  EXPECT_TRUE(writer->Flush().IsOk());
  writer->Close();
  EXPECT_EQ(writer->WriteAt(0, data.data(), 1).Code(), std::errc::bad_file_descriptor);
  const std::vector<uint8_t> image = ReadFileBytes(card);
  ASSERT_EQ(image.size(), 1u << 20) << "writing never changes the image's size";
  EXPECT_TRUE(std::equal(data.begin(), data.end(), image.begin() + 4096));
}

// A card image that is the pack or the configuration, under its own name or
// another, is never opened for writing: the dialog's card images too.
TEST(ImageDiskService, NeverWritesAProtectedFile) {
  TempDir dir;
  const std::string pack = dir.File("board.pack"), config = dir.File("board.ini");
  for (const std::string& p : {pack, config}) ASSERT_TRUE(CreateCardImage(p, 16450560));
  std::filesystem::create_hard_link(config, dir.File("second-name.img"));
  std::filesystem::create_symlink("board.pack", dir.path() / "link.img");
  ASSERT_TRUE(CreateCardImage(dir.File("card.img"), 16450560));
  const std::vector<std::string> images = {pack, dir.File("second-name.img"), dir.File("link.img"),
                                           dir.File("card.img")};
  ImageDiskService disks(images);
  disks.SetProtectedPaths([&] {
    return std::vector<ProtectedPath>{{"pack file", pack}, {"configuration file", config}};
  });
  const char* refusals[] = {"is the pack file", "is the configuration file", "is the pack file",
                            nullptr};
  for (size_t i = 0; i < images.size(); ++i) {
    SysResult<std::unique_ptr<IDiskWriter>> writer = disks.OpenForWrite(images[i]);
    if (!refusals[i]) {
      EXPECT_TRUE(writer.IsOk()) << writer.Status().Text();
      continue;
    }
    ASSERT_FALSE(writer.IsOk()) << images[i];
    EXPECT_NE(writer.Status().Text().find(refusals[i]), std::string::npos)
        << writer.Status().Text();
  }
}

TEST(CreateCardImage, NeverReplacesAnExistingFile) {
  TempDir dir;
  const std::string path = dir.File("card.img");
  WriteFile(path, "precious");
  const SysStatus exists = CreateCardImage(path, 1 << 20);
  EXPECT_EQ(exists.Code(), std::errc::file_exists);
  EXPECT_NE(exists.Text().find("File exists"), std::string::npos) << exists.Text();
  EXPECT_EQ(ReadFileText(path), "precious");
  EXPECT_EQ(CreateCardImage(dir.File("no/such/folder.img"), 1 << 20).Code(),
            std::errc::no_such_file_or_directory);
}

// A card image file that is deleted, cut or grown while it is written is no
// longer the card: both writers of image files say so before "Write ok".
TEST(CardImageWriter, MustStillBeTheFileOpenedWithItsSize) {
  struct Case {
    const char* name;
    std::function<void(const std::string& path)> meanwhile;
    const char* says;  // empty: still the card
  };
  const Case cases[] = {
      {"unchanged", [](const std::string&) {}, ""},
      {"deleted", [](const std::string& p) { std::filesystem::remove(p); }, "deleted"},
      {"truncated", [](const std::string& p) { std::filesystem::resize_file(p, 8225280); },
       "changed size while it was written (16450560 bytes when opened, 8225280 now)"},
      {"grown", [](const std::string& p) { std::filesystem::resize_file(p, 16450560 + 512); },
       "changed size"},
  };
  using MakeService = std::function<std::unique_ptr<IDiskService>(const std::string& path)>;
  const std::pair<const char*, MakeService> services[] = {
      {"image files",
       [](const std::string& p) {
         return std::make_unique<ImageDiskService>(std::vector<std::string>{p});
       }},
      {"named targets",
       [](const std::string& p) {
         return std::make_unique<TargetDiskService>(std::vector<std::string>{p}, false,
                                                    LinuxDiskOptions{});
       }},
  };
  for (const auto& [kind, make] : services) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(kind) + ", " + c.name);
      TempDir dir;
      const std::string path = dir.File("card.img");
      ASSERT_TRUE(CreateCardImage(path, 16450560));
      std::unique_ptr<IDiskService> disks = make(path);
      SysResult<std::unique_ptr<IDiskWriter>> writer = disks->OpenForWrite(path);
      ASSERT_TRUE(writer.IsOk()) << writer.Status().Text();
      const std::vector<uint8_t> sector(512, 0x5A);
      ASSERT_TRUE(writer.Value()->WriteAt(0, sector.data(), sector.size()).IsOk());
      c.meanwhile(path);
      ASSERT_TRUE(writer.Value()->Flush().IsOk());
      const SysStatus still = writer.Value()->CheckStillTarget();
      EXPECT_EQ(still.IsOk(), *c.says == '\0') << still.Text();
      EXPECT_NE(still.Text().find(c.says), std::string::npos) << still.Text();
      writer.Value()->Close();
    }
  }
}

}  // namespace
}  // namespace tarnwick::testing
