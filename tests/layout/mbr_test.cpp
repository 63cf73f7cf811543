#include "layout/mbr.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "layout_fixture.h"

namespace tarnwick {
namespace {

using testing::ComputePlan;
using testing::ExampleInput;

using Entry = std::array<uint8_t, 16>;

Entry EntryBytes(const SectorBytes& record, int i) {
  Entry e;
  std::copy_n(record.begin() + 446 + 16 * i, 16, e.begin());
  return e;
}

bool ZeroOutsideEntries(const SectorBytes& record, int entries) {
  for (size_t i = 0; i < 510; ++i) {
    if (i >= 446 && i < 446 + 16u * entries) continue;
    if (record[i] != 0) return false;
  }
  return record[510] == 0x55 && record[511] == 0xAA;
}

struct Records {
  SectorBytes mbr;
  std::array<SectorBytes, 3> ebrs;
  PartitionPlan plan;
};

Records BuildFor(uint64_t cardSize) {
  Records r{MbrTemplate(), {}, ComputePlan(ExampleInput(cardSize))};
  EXPECT_TRUE(BuildMBR(r.mbr, r.plan));
  EXPECT_TRUE(BuildEBRs(r.ebrs, r.plan));
  return r;
}

struct EntryCase {
  const char* record;  // "MBR", "System", "Data", "Cache"
  int entry;
  Entry bytes;
};

void PrintTo(const EntryCase& c, std::ostream* os) {
  *os << c.record << " entry " << c.entry;
}

class WorkedExampleRecords : public ::testing::TestWithParam<EntryCase> {};

TEST_P(WorkedExampleRecords, EntryBytesAreExact) {
  const EntryCase& c = GetParam();
  const Records r = BuildFor(7'743'330);
  const std::string name = c.record;
  const SectorBytes& record = name == "MBR"      ? r.mbr
                              : name == "System" ? r.ebrs[0]
                              : name == "Data"   ? r.ebrs[1]
                                                 : r.ebrs[2];
  EXPECT_EQ(EntryBytes(record, c.entry), c.bytes);
}

INSTANTIATE_TEST_SUITE_P(
    Layout, WorkedExampleRecords,
    ::testing::Values(
        // MBR: FAT32 at 63 keeps its template CHS bytes; the others have none.
        EntryCase{
            "MBR",
            0,
            {0x00, 0x01, 0x01, 0x00, 0x0B, 0xFE, 0xFF, 0xFF, 0x3F, 0, 0, 0, 0x1A, 0x26, 0x58, 0}},
        EntryCase{"MBR", 1, {0, 0, 0, 0, 0x05, 0, 0, 0, 0x59, 0x26, 0x58, 0, 0xBD, 0x00, 0x1C, 0}},
        EntryCase{"MBR", 2, {0, 0, 0, 0, 0xBB, 0, 0, 0, 0x58, 0x27, 0x74, 0, 0x00, 0x00, 0x01, 0}},
        EntryCase{"MBR", 3, {0, 0, 0, 0, 0xBB, 0, 0, 0, 0x58, 0x27, 0x75, 0, 0x00, 0x00, 0x01, 0}},
        // EBRs: the partition 63 sectors after the EBR; the link relative to the extended start.
        EntryCase{"System", 0, {0, 0, 0, 0, 0x83, 0, 0, 0, 0x3F, 0, 0, 0, 0xC1, 0xFF, 0x07, 0}},
        EntryCase{
            "System", 1, {0, 0, 0, 0, 0x05, 0, 0, 0, 0x00, 0x00, 0x08, 0, 0x00, 0x00, 0x10, 0}},
        EntryCase{"Data", 0, {0, 0, 0, 0, 0x83, 0, 0, 0, 0x3F, 0, 0, 0, 0xC1, 0xFF, 0x0F, 0}},
        EntryCase{"Data", 1, {0, 0, 0, 0, 0x05, 0, 0, 0, 0x00, 0x00, 0x18, 0, 0x00, 0x00, 0x04, 0}},
        EntryCase{"Cache", 0, {0, 0, 0, 0, 0x83, 0, 0, 0, 0x3F, 0, 0, 0, 0xC1, 0xFF, 0x03, 0}},
        EntryCase{"Cache", 1, {}}),
    [](const ::testing::TestParamInfo<EntryCase>& info) {
      return std::string(info.param.record) + "Entry" + std::to_string(info.param.entry);
    });

TEST(BuildEBRs, ChainPlacesEachEbrAtTheWorkedExampleSectors) {
  const Records r = BuildFor(7'743'330);
  const uint32_t extendedStart = EntryFirstSector(r.mbr, 1);
  EXPECT_EQ(extendedStart, 5'776'985u);
  EXPECT_EQ(extendedStart + EntryFirstSector(r.ebrs[0], 1), 6'301'273u);
  EXPECT_EQ(extendedStart + EntryFirstSector(r.ebrs[1], 1), 7'349'849u);
  for (const SectorBytes& ebr : r.ebrs) {
    EXPECT_EQ(EntryFirstSector(ebr, 0), 63u);  // data never starts at the EBR itself
    EXPECT_TRUE(ZeroOutsideEntries(ebr, 2));
  }
  EXPECT_EQ(EntryType(r.ebrs[0], 1), 0x05);
  EXPECT_EQ(EntryType(r.ebrs[1], 1), 0x05);
}

TEST(BuildEBRs, ClearsWhateverTheRecordsHeldBefore) {
  const PartitionPlan plan = ComputePlan(ExampleInput(7'743'330));
  std::array<SectorBytes, 3> ebrs;
  for (SectorBytes& e : ebrs) e.fill(0xEE);
  ASSERT_TRUE(BuildEBRs(ebrs, plan));
  for (const SectorBytes& e : ebrs) EXPECT_TRUE(ZeroOutsideEntries(e, 2));
  EXPECT_EQ(EntryBytes(ebrs[2], 1), Entry{});
}

TEST(BuildMBR, CardsOfDifferentSizesDifferOnlyInEntryPositionsAndCounts) {
  const Records a = BuildFor(7'743'330);
  const Records b = BuildFor(31'116'288);
  std::vector<size_t> differing;
  for (size_t i = 0; i < 512; ++i) {
    if (a.mbr[i] != b.mbr[i]) differing.push_back(i);
  }
  ASSERT_FALSE(differing.empty());
  for (size_t off : differing) {
    ASSERT_GE(off, 446u);
    ASSERT_LT(off, 510u);
    EXPECT_GE((off - 446) % 16, 8u) << "byte " << off << " is not a first-sector or count field";
  }
  // The EBRs depend on the configured sizes only.
  EXPECT_EQ(a.ebrs, b.ebrs);
}

TEST(BuildMBR, EmptyRecoveryAndBootStillGetTypedEntries) {
  testing::PlanInput in = ExampleInput(7'743'330);
  in.recovery = 0;
  in.boot = 0;
  const PartitionPlan plan = ComputePlan(in);
  SectorBytes mbr = MbrTemplate();
  ASSERT_TRUE(BuildMBR(mbr, plan));
  for (int i : {2, 3}) {
    EXPECT_EQ(EntryType(mbr, i), 0xBB);
    EXPECT_EQ(EntrySectorCount(mbr, i), 0u);
    EXPECT_EQ(EntryFirstSector(mbr, i), plan.m_arrStartSector[i]);
  }
  EXPECT_EQ(EntryFirstSector(mbr, 2), EntryFirstSector(mbr, 3));
}

}  // namespace
}  // namespace tarnwick
