#include "engine/card_discovery.h"

#include <gtest/gtest.h>

#include <functional>

#include "burn_inputs.h"
#include "common/debug_log.h"
#include "engine/burn_engine.h"
#include "fake_disk_service.h"
#include "fake_operator.h"

namespace tarnwick::testing {
namespace {

struct DiscoveryCase {
  const char* what;
  std::function<void(FakeCard&)> setUp;
  bool present;
  uint64_t size;  // when present
};

void PrintTo(const DiscoveryCase& c, std::ostream* os) {
  *os << c.what;
}

DiskGeometry Removable(int64_t cylinders, uint32_t tracks, uint32_t sectors, uint32_t bytes) {
  return {cylinders, kRemovableMedia, tracks, sectors, bytes};
}

class Discovery : public ::testing::TestWithParam<DiscoveryCase> {};

TEST_P(Discovery, AcceptsRemovableDisksWithAUsableGeometry) {
  FakeDiskService disks;
  FakeCard& card = disks.AddSlot("drive");
  card.geometry = Removable(482, 255, 63, 512);
  GetParam().setUp(card);
  FakeOperator op;
  ZeroSettings settings;
  LogCapture quiet;
  CBurnEngine engine(disks, op, settings);
  engine.DetectCards();
  const CardSlot& slot = engine.Cards()[0];
  EXPECT_EQ(slot.present, GetParam().present ? 1u : 0u);
  EXPECT_EQ(slot.index, 0);
  if (GetParam().present) {
    EXPECT_EQ(slot.size, GetParam().size);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Burn, Discovery,
    ::testing::Values(
        DiscoveryCase{"removable", [](FakeCard&) {}, true, 7'743'330},
        DiscoveryCase{"fixed media", [](FakeCard& c) { c.geometry.MediaType = kFixedMedia; }, false,
                      0},
        DiscoveryCase{"no tracks", [](FakeCard& c) { c.geometry.TracksPerCylinder = 0; }, false, 0},
        DiscoveryCase{"probe fails", [](FakeCard& c) { c.exists = false; }, false, 0},
        // The probe's fallback answer is judged like any other.
        DiscoveryCase{"media types answer fixed media",
                      [](FakeCard& c) {
                        c.answersGeometry = false;
                        c.answersMediaTypes = true;
                        c.mediaGeometry = Removable(100, 255, 63, 512);
                        c.mediaGeometry.MediaType = kFixedMedia;
                      },
                      false, 0},
        // Sizes count 512-byte sectors whatever the disk's own sector size.
        DiscoveryCase{"4096-byte sectors",
                      [](FakeCard& c) { c.geometry = Removable(482, 255, 63, 4096); }, true,
                      61'946'640},
        // The product is formed in 64 bits: 2^32 sectors do not wrap.
        DiscoveryCase{"2 TiB", [](FakeCard& c) { c.geometry = Removable(1 << 17, 256, 64, 1024); },
                      true, uint64_t{1} << 32}));

TEST(DiscoveryTable, ThirteenSlotsInOrderAndNothingBeyond) {
  FakeDiskService disks;
  for (int k = 0; k < 14; ++k) {
    FakeCard& c = disks.AddSlot("drive" + std::to_string(k + 1));
    c.geometry = Removable(10 + k, 255, 63, 512);
    if (k != 2 && k != 6 && k != 13) c.geometry.MediaType = kFixedMedia;
  }
  FakeOperator op;
  ZeroSettings settings;
  LogCapture quiet;
  CBurnEngine engine(disks, op, settings);
  engine.DetectCards();
  for (int k = 0; k < static_cast<int>(kMaxDiskSlots); ++k) {
    EXPECT_EQ(engine.Cards()[k].index, k);
    EXPECT_EQ(engine.Cards()[k].present, (k == 2 || k == 6) ? 1u : 0u) << k;
  }
  EXPECT_EQ(engine.Cards()[6].size, 16u * 16'065);
  EXPECT_EQ(disks.Card(13).queries, 0);  // a fourteenth disk is never probed

  // A slot not accepted keeps the size of an earlier run; it is never read.
  disks.Card(6).geometry.MediaType = kFixedMedia;
  engine.DetectCards();
  EXPECT_EQ(engine.Cards()[6].present, 0u);
  EXPECT_EQ(engine.Cards()[6].size, 16u * 16'065);
}

}  // namespace
}  // namespace tarnwick::testing
