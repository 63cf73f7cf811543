#include "engine/card_regions.h"

#include <gtest/gtest.h>

#include <optional>

#include "common/debug_log.h"
#include "common/le.h"
#include "layout/mbr.h"
#include "test_support.h"

namespace tarnwick::testing {
namespace {

constexpr uint64_t kExampleCard = 7'743'330;

struct Partitions {
  uint32_t boot = 65'536, recovery = 65'536, system = 524'288, data = 1'048'576, cache = 262'144;
};

struct Card {
  uint64_t sectors = kExampleCard;
  Partitions partitions;
  CardImageLengths lengths{1000, 4096, 300'000, 0, 5000, 1024, 700};
  uint32_t copies = 2;
  std::vector<uint32_t> addresses;  // empty: back to back from 16
};

struct Outcome {
  bool ok = false;
  std::string reason;
  std::string advice;  // the size that would be needed
  CardRegions regions;
};

Outcome Build(const Card& card) {
  const Partitions& p = card.partitions;
  LogCapture quiet;
  PartitionPlan plan;
  plan.m_nCardSize = card.sectors;
  plan.ComputePartitionPlan({p.boot, p.recovery, p.system, p.data, p.cache, ""});
  SectorBytes mbr = MbrTemplate();
  Fat32Layout fat;
  fat.m_tDBR = Fat32BootSectorTemplate();
  (void)BuildMBR(mbr, plan);
  (void)PrepareFat32(fat, mbr);

  // The boot loader copy table as the configuration reader leaves it.
  BootInfo bootInfo{};
  const uint32_t rounded = (card.lengths.uBootBin + 511) / 512 * 512;
  PutU32(bootInfo.data(), bootinfo::kImageLen, rounded);
  PutU8(bootInfo.data(), bootinfo::kImageStoreNum, card.copies);
  for (uint32_t i = 0; i < card.copies && i < 8; ++i) {
    const uint32_t at =
        card.addresses.empty() ? kFirstCopySector + i * rounded / 512 : card.addresses[i];
    PutU32(bootInfo.data(), bootinfo::kImageStoreCoreAddr + 4 * i, at);
  }
  Outcome out;
  SysResult<CardRegions> built =
      BuildCardRegions(plan, card.lengths, bootInfo, fat, 0, &out.advice);
  out.ok = built.IsOk();
  out.reason = built.Status().Text();
  if (built) out.regions = built.Value();
  return out;
}

struct RegionCase {
  const char* what;
  Card card;
  const char* reason;  // expected start of the refusal; nullptr: accepted
  // For accepted cards: a region and the count written there.
  SectorRun CardRegions::*run = nullptr;
  uint64_t count = 0;
};

void PrintTo(const RegionCase& c, std::ostream* os) {
  *os << c.what;
}

Card With(std::function<void(Card&)> change) {
  Card card;
  change(card);
  return card;
}

constexpr uint64_t k2TiB = uint64_t{1} << 32;
constexpr uint64_t kSystemRoomBytes = 524'225ull * 512;

class CardRegionCheck : public ::testing::TestWithParam<RegionCase> {};

TEST_P(CardRegionCheck, RefusesWhatWouldCorruptTheCard) {
  const RegionCase& c = GetParam();
  const Outcome out = Build(c.card);
  if (c.reason == nullptr) {
    ASSERT_TRUE(out.ok) << out.reason;
    if (c.run) {
      EXPECT_EQ((out.regions.*c.run).count, c.count);
    }
  } else {
    EXPECT_FALSE(out.ok);
    EXPECT_EQ(out.reason.rfind(c.reason, 0), 0u) << out.reason;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Burn, CardRegionCheck,
    ::testing::Values(
        RegionCase{"card too small", With([](Card& c) { c.sectors = 160'650; }),
                   "card of 160650 sectors is too small for the configured partitions"},
        RegionCase{"FAT32 partition of 10 sectors", With([](Card& c) { c.sectors = 1'966'408; }),
                   "FAT32 partition of 10 sectors is too small for its file system"},
        RegionCase{"System slot inside its EBR track",
                   With([](Card& c) { c.partitions.system = 56; }),
                   "System slot of 56 sectors leaves no room after its 63-sector EBR track "
                   "(\"Partition_System\" of section \"PARTITION_SECTORS\")"},
        RegionCase{"slots wrapping 32 bits",
                   With([](Card& c) { c.partitions.system = 0xFFFFFF00; }),
                   "partition plan does not fit a card of 7743330 sectors"},
        RegionCase{"card of 2 TiB", With([](Card& c) { c.sectors = k2TiB + 16'065 * 100; }),
                   "card of 4296573796 sectors needs sector numbers beyond 32 bits"},
        RegionCase{"card just under 2 TiB", With([](Card& c) { c.sectors = 267'349ull * 16'065; }),
                   nullptr},
        RegionCase{"System filling its room",
                   With([](Card& c) { c.lengths.system = kSystemRoomBytes; }), nullptr,
                   &CardRegions::system, 524'225},
        RegionCase{"System one byte over",
                   With([](Card& c) { c.lengths.system = kSystemRoomBytes + 1; }),
                   "System of 268403201 bytes at 0x582698 does not fit its room [0x582698, "
                   "0x602659)"},
        RegionCase{"empty BootRecover, no Recovery partition",
                   With([](Card& c) { c.partitions.recovery = 0; }), nullptr,
                   &CardRegions::bootRecover, 0},
        RegionCase{"Boot partition without room for BootEnv",
                   With([](Card& c) { c.partitions.boot = 10'000; }), "BootEnv of 1048576 bytes"},
        RegionCase{"BootImg past the Boot partition", With([](Card& c) {
                     c.partitions.boot = 10'300;
                     c.lengths.bootRes = 0;
                     c.lengths.bootImg = 30'000;
                   }),
                   "BootImg of 30000 bytes"},
        RegionCase{"BootImg ending with the Boot partition", With([](Card& c) {
                     c.partitions.boot = 10'256;
                     c.lengths.bootRes = 0;
                   }),
                   nullptr, &CardRegions::bootImg, 8},
        RegionCase{"copies at 20, 0, 0", With([](Card& c) {
                     c.copies = 3;
                     c.addresses = {20, 0, 0};
                   }),
                   "UBootBin copy 1 at Boot sector 0x0 (0x2 sectors) lies outside sectors 16 to "
                   "8191"},
        RegionCase{"overlapping copies", With([](Card& c) {
                     c.addresses = {16, 17};
                   }),
                   "UBootBin copies 0 and 1 overlap"},
        RegionCase{"eight copies too large for the area", With([](Card& c) {
                     c.copies = 8;
                     c.lengths.uBootBin = 614'400;
                   }),
                   "UBootBin copy 6 at Boot sector 0x1c30 (0x4b0 sectors)"},
        RegionCase{"one copy filling sectors 16 to 8191", With([](Card& c) {
                     c.copies = 1;
                     c.lengths.uBootBin = 8176 * 512;
                   }),
                   nullptr},
        RegionCase{"copies never written are not checked", With([](Card& c) {
                     c.copies = 0;
                     c.addresses = {0};
                   }),
                   nullptr}));

// The size a refusal names is the smallest card the burn accepts: one
// cylinder less is refused again.
TEST(NeededCardSize, IsTheSmallestCardThatIsAccepted) {
  constexpr uint64_t kCylinder = 255 * 63;
  const Partitions kPartitionSets[] = {
      {},
      {65'536, 65'536, 1'048'576, 1'048'576, 262'144},
      {12'345, 2'001, 4'000, 2'100, 1'000},
      {16'384, 0, 128, 128, 128},
  };
  for (const Partitions& partitions : kPartitionSets) {
    Card card;
    card.partitions = partitions;
    card.sectors = kCylinder;
    const Outcome refused = Build(card);
    ASSERT_FALSE(refused.ok);
    const std::string prefix = "; the card would need at least ";
    ASSERT_EQ(refused.advice.rfind(prefix, 0), 0u) << refused.reason << refused.advice;
    const uint64_t needed = std::stoull(refused.advice.substr(prefix.size()));
    EXPECT_EQ(needed % kCylinder, 0u);
    EXPECT_NE(refused.advice.find("sectors (" + std::to_string(needed * 512) + " bytes)"),
              std::string::npos)
        << refused.advice;
    card.sectors = needed;
    const Outcome accepted = Build(card);
    EXPECT_TRUE(accepted.ok) << needed << ": " << accepted.reason;
    EXPECT_TRUE(accepted.advice.empty());
    card.sectors = needed - kCylinder;
    const Outcome smaller = Build(card);
    EXPECT_FALSE(smaller.ok) << needed - kCylinder;
    EXPECT_EQ(smaller.advice, refused.advice);
  }
}

TEST(NeededCardSize, AnImageOverItsRoomNamesTheSectorsItNeeds) {
  Card card;
  card.lengths.system = kSystemRoomBytes + 1;
  const Outcome out = Build(card);
  ASSERT_FALSE(out.ok);
  EXPECT_EQ(out.advice, "; it needs 524226 sectors from 0x582698, where the room holds 524225");
}

}  // namespace
}  // namespace tarnwick::testing
