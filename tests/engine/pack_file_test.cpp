#include "engine/pack_file.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "common/debug_log.h"
#include "common/le.h"
#include "fake_operator.h"
#include "test_support.h"

namespace tarnwick {
namespace {

using testing::FakeOperator;

// Image bytes recognisable by slot and position.
std::vector<uint8_t> Pattern(size_t length, uint8_t seed) {
  std::vector<uint8_t> bytes(length);
  for (size_t i = 0; i < length; ++i) bytes[i] = static_cast<uint8_t>(seed + i * 7);
  return bytes;
}

// A pack file made by hand: a header whose slots are set one by one, and
// the file's bytes after it.
class HandPack {
 public:
  explicit HandPack(size_t size) : m_bytes(size, 0) {}
  void Slot(PackSlot slot, uint32_t offset, uint32_t length) {
    PutU32(m_bytes.data(), PackSlotOffset(slot), offset);
    PutU32(m_bytes.data(), PackSlotOffset(slot) + 4, length);
  }
  // Places the bytes at offset and points the slot at them.
  void Image(PackSlot slot, uint32_t offset, const std::vector<uint8_t>& bytes) {
    std::copy(bytes.begin(), bytes.end(), m_bytes.begin() + offset);
    Slot(slot, offset, static_cast<uint32_t>(bytes.size()));
  }
  void Write(const std::string& path) const { testing::WriteFile(path, m_bytes); }

 private:
  std::vector<uint8_t> m_bytes;
};

// The card images and where a load puts them.
const std::pair<PackSlot, ImageBuffer CardImages::*> kCardSlots[] = {
    {PackSlot::UBootBin, &CardImages::uBootBin},
    {PackSlot::BootImg, &CardImages::bootImg},
    {PackSlot::BootRes, &CardImages::bootRes},
    {PackSlot::Cache, &CardImages::cache},
    {PackSlot::BootRecover, &CardImages::bootRecover},
    {PackSlot::System, &CardImages::system},
    {PackSlot::Data, &CardImages::data},
};

// The buffer holds the image and then at least 512 zero bytes.
void ExpectImage(const ImageBuffer& image, const std::vector<uint8_t>& bytes,
                 const std::string& what) {
  ASSERT_EQ(image.length, bytes.size()) << what;
  ASSERT_EQ(image.data.size(), bytes.size() + 512) << what;
  EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), image.data.begin())) << what;
  EXPECT_TRUE(std::all_of(image.data.begin() + bytes.size(), image.data.end(), [](uint8_t b) {
    return b == 0;
  })) << what;
}

class PackFileTest : public ::testing::Test {
 protected:
  bool Load(std::string* refusal = nullptr) {
    SysStatus loaded = LoadCardImages(m_pack, m_op, m_header, m_images);
    if (refusal) *refusal = loaded.Text();
    return loaded.IsOk();
  }

  testing::TempDir m_dir;
  std::string m_pack = m_dir.File("card.pack");
  LogCapture m_log;
  FakeOperator m_op;
  PackHeader m_header;
  CardImages m_images;
};

// The spare slot and the DFU slot (which a card load does not read) hold
// pairs far past the end: they do not matter.
TEST_F(PackFileTest, EachCardImageComesFromItsOwnSlot) {
  HandPack pack(16384);
  uint32_t offset = 512;
  for (const auto& [slot, member] : kCardSlots) {
    pack.Image(slot, offset, Pattern(1000 + static_cast<size_t>(slot), static_cast<uint8_t>(slot)));
    offset += 2048;
  }
  pack.Slot(PackSlot::Spare, 0xFFFFFFF0u, 100);
  pack.Slot(PackSlot::Dfu, 0xFFFFFFF0u, 0x1000);
  pack.Write(m_pack);
  ASSERT_TRUE(Load());
  for (const auto& [slot, member] : kCardSlots)
    ExpectImage(m_images.*member,
                Pattern(1000 + static_cast<size_t>(slot), static_cast<uint8_t>(slot)),
                PackSlotName(slot));
  EXPECT_EQ(m_header.Offset(PackSlot::Data), 512u + 6 * 2048u);
  EXPECT_TRUE(m_op.messages.empty());
}

TEST_F(PackFileTest, EmptyImagesAreNeverRefusedWhateverTheirOffset) {
  HandPack pack(kPackHeaderSize);
  for (const auto& [slot, member] : kCardSlots)
    pack.Slot(slot, 0xFFFFFF00u + static_cast<uint32_t>(slot), 0);
  pack.Write(m_pack);
  ASSERT_TRUE(Load());
  for (const auto& [slot, member] : kCardSlots)
    ExpectImage(m_images.*member, {}, PackSlotName(slot));
}

TEST_F(PackFileTest, IdenticalLocationPairsLoadTheSameBytes) {
  HandPack pack(4096);
  pack.Image(PackSlot::BootImg, 1024, Pattern(700, 3));
  pack.Slot(PackSlot::BootRes, 1024, 700);
  pack.Write(m_pack);
  ASSERT_TRUE(Load());
  ExpectImage(m_images.bootImg, Pattern(700, 3), "BootImg");
  ExpectImage(m_images.bootRes, Pattern(700, 3), "BootRes");
}

TEST_F(PackFileTest, PackTooShortForItsHeaderIsRefused) {
  for (size_t size : {0u, 1u, 391u}) {
    testing::WriteFile(m_pack, std::vector<uint8_t>(size, 0));
    m_op.messages.clear();
    std::string refusal;
    EXPECT_FALSE(Load(&refusal)) << size;
    ASSERT_EQ(m_op.messages.size(), 1u) << size;
    EXPECT_EQ(m_op.messages[0].buttons, MsgButtons::Ok);
    EXPECT_EQ(m_op.messages[0].text, refusal);
    EXPECT_NE(refusal.find("too short"), std::string::npos) << refusal;
    EXPECT_NE(refusal.find(m_pack), std::string::npos) << refusal;
  }
  EXPECT_EQ(m_log.Text(),
            "LoadCardImages: pack file shorter than its header\n"
            "LoadCardImages: pack file shorter than its header\n"
            "LoadCardImages: pack file shorter than its header\n");
  testing::WriteFile(m_pack, std::vector<uint8_t>(kPackHeaderSize, 0));
  EXPECT_TRUE(Load());
}

// An image reaching past the end is refused, naming it, before anything is
// loaded; the sum is taken in 64 bits, so a wrapping pair is caught too.
TEST_F(PackFileTest, ImagePastTheEndIsRefusedNamingIt) {
  constexpr uint32_t kSize = 8192;
  struct Case {
    PackSlot slot;
    uint32_t offset, length;
    bool refused;
  };
  const Case cases[] = {
      {PackSlot::UBootBin, 4096, 4096, false},      {PackSlot::UBootBin, 4096, 4097, true},
      {PackSlot::BootImg, kSize, 1, true},          {PackSlot::BootRes, 0, kSize + 1, true},
      {PackSlot::Cache, 0xFFFFFFFFu, 2, true},      {PackSlot::BootRecover, 1, 0xFFFFFFFFu, true},
      {PackSlot::System, 0xFFFFFF00u, 0x200, true}, {PackSlot::Data, 8000, 193, true},
  };
  for (const Case& c : cases) {
    HandPack pack(kSize);
    pack.Image(PackSlot::BootImg, 512, Pattern(100, 1));
    pack.Slot(c.slot, c.offset, c.length);
    pack.Write(m_pack);
    m_op.messages.clear();
    m_log.Clear();
    CardImages before;
    before.system.length = 77;
    m_images = before;
    std::string refusal;
    EXPECT_EQ(Load(&refusal), !c.refused) << PackSlotName(c.slot) << " " << c.length;
    if (!c.refused) continue;
    ASSERT_EQ(m_op.Texts(), std::vector<std::string>{refusal});
    EXPECT_NE(refusal.find(std::string(PackSlotName(c.slot)) + " image"), std::string::npos)
        << refusal;
    EXPECT_EQ(m_images.system.length, 77u) << "images kept on refusal";
    EXPECT_EQ(m_log.Text(), "LoadCardImages: image past the end of the pack file\n");
  }
}

TEST_F(PackFileTest, PackThatCannotBeOpenedShowsOpenFileFail) {
#ifdef _WIN32
  GTEST_SKIP() << "checks the POSIX texts of the refusals";
#endif
  const std::string lockedPack = m_dir.File("locked.pack");
  HandPack(kPackHeaderSize).Write(lockedPack);
  testing::ExclusiveFileHold holder(lockedPack);

  // The box is the system's; the refusal names the file and what is wrong.
  for (const auto& [path, why] : {std::pair{m_dir.File("missing.pack"), "No such file"},
                                  std::pair{m_dir.path().string(), "Is a directory"},
                                  std::pair{lockedPack, "locked by another program"}}) {
    m_op.messages.clear();
    SysStatus loaded = LoadCardImages(path, m_op, m_header, m_images);
    const std::string refusal = loaded.Text();
    EXPECT_FALSE(loaded) << path;
    ASSERT_EQ(m_op.messages.size(), 1u) << path;
    EXPECT_EQ(m_op.messages[0].text, "open file fail!");
    EXPECT_EQ(m_op.messages[0].buttons, MsgButtons::Ok);
    EXPECT_EQ(refusal.rfind("pack file " + path + " cannot be opened: ", 0), 0u) << refusal;
    EXPECT_NE(refusal.find(why), std::string::npos) << refusal;
  }
  holder.Release();
  m_op.messages.clear();
  EXPECT_TRUE(LoadCardImages(lockedPack, m_op, m_header, m_images).IsOk()) << "lock released";
}

// The board download reads the DFU image alone: the card slots may be broken.
TEST_F(PackFileTest, PackImageChecksOnlyItsOwnSlot) {
  HandPack pack(4096);
  pack.Image(PackSlot::Dfu, 1536, Pattern(1000, 4));
  pack.Slot(PackSlot::System, 0xFFFF0000u, 0x10000);
  pack.Write(m_pack);
  ImageBuffer dfu;
  ASSERT_TRUE(LoadPackImage(m_pack, m_op, PackSlot::Dfu, m_header, dfu).IsOk());
  ExpectImage(dfu, Pattern(1000, 4), "DFU");
  EXPECT_FALSE(Load());

  pack.Slot(PackSlot::Dfu, 4000, 97);
  pack.Write(m_pack);
  m_op.messages.clear();
  SysStatus loaded = LoadPackImage(m_pack, m_op, PackSlot::Dfu, m_header, dfu);
  const std::string refusal = loaded.Text();
  EXPECT_FALSE(loaded);
  EXPECT_NE(refusal.find("DFU image"), std::string::npos) << refusal;
  EXPECT_EQ(m_op.Texts(), std::vector<std::string>{refusal});
}

TEST_F(PackFileTest, WrittenPackLoadsBackWithAlignedImages) {
  // Sizes of the DFU image and then of the card images in kCardSlots order;
  // Data has no file (an empty image).
  const size_t sizes[] = {1000, 1, 512, 0, 511, 513, 70000};
  PackInputs inputs;
  std::vector<PackSlot> slots{PackSlot::Dfu};
  for (const auto& [slot, member] : kCardSlots) slots.push_back(slot);
  for (size_t i = 0; i < std::size(sizes); ++i) {
    const std::string file = m_dir.File(std::string(PackSlotName(slots[i])) + ".img");
    testing::WriteFile(file, Pattern(sizes[i], static_cast<uint8_t>(i * 31)));
    inputs.files[static_cast<size_t>(slots[i])] = file;
  }
  const SysStatus written = WritePackFile(m_pack, inputs);
  ASSERT_TRUE(written.IsOk()) << written.Text();
  ASSERT_TRUE(Load());
  ImageBuffer dfu;
  ASSERT_TRUE(LoadPackImage(m_pack, m_op, PackSlot::Dfu, m_header, dfu).IsOk());
  ExpectImage(dfu, Pattern(1000, 0), "DFU");
  for (size_t i = 0; i < std::size(sizes); ++i) {
    EXPECT_EQ(m_header.Offset(slots[i]) % 512, 0u) << PackSlotName(slots[i]);
    EXPECT_GE(m_header.Offset(slots[i]), 512u) << PackSlotName(slots[i]);
    if (i == 0) continue;
    ExpectImage(m_images.*kCardSlots[i - 1].second, Pattern(sizes[i], static_cast<uint8_t>(i * 31)),
                PackSlotName(slots[i]));
  }
  ExpectImage(m_images.data, {}, "Data");
  EXPECT_EQ(m_header.Length(PackSlot::Spare), 0u);
  EXPECT_EQ(std::filesystem::file_size(m_pack) % 512, 0u);
}

TEST_F(PackFileTest, WriterRefusesBadInputsAndLeavesNoPack) {
  const std::string image = m_dir.File("boot.img");
  testing::WriteFile(image, Pattern(100, 1));
  struct Case {
    const char* name;
    PackSlot slot;
    std::string file;
    std::string out;
  };
  const Case cases[] = {
      {"missing input", PackSlot::BootImg, m_dir.File("none.img"), m_pack},
      {"spare slot", PackSlot::Spare, image, m_pack},
      {"output is an input", PackSlot::BootImg, image, image},
  };
  for (const Case& c : cases) {
    PackInputs inputs;
    inputs.files[static_cast<size_t>(c.slot)] = c.file;
    const SysStatus written = WritePackFile(c.out, inputs);
    EXPECT_FALSE(written.IsOk()) << c.name;
    EXPECT_FALSE(written.Text().empty()) << c.name;
    EXPECT_FALSE(std::filesystem::exists(m_pack)) << c.name;
  }
  EXPECT_EQ(testing::ReadFileBytes(image), Pattern(100, 1)) << "input untouched";
}

}  // namespace
}  // namespace tarnwick
