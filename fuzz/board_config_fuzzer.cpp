// The board configuration: the file's values as the burn and the download
// read them, and everything computed from them for cards of several sizes:
// the partition plan, MBR, EBRs, FAT32 layout, BootInfo, UBootInfo, the
// regions of the burn, and the download package. Whatever the file says, a
// plan the burn accepts keeps every region on the card, inside its
// partition and clear of every other region, and the records carry the
// configured values.
#include <algorithm>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "bootcfg/board_config.h"
#include "bootcfg/boot_info.h"
#include "bootcfg/config_fields.h"
#include "bootcfg/crc32.h"
#include "cli/card_inspector.h"
#include "common/le.h"
#include "engine/card_regions.h"
#include "fuzz_support.h"
#include "layout/fat32.h"
#include "layout/mbr.h"
#include "usbdev/dfu_downloader.h"

using namespace tarnwick;
using namespace tarnwick::fuzz;

namespace {

// Card sizes in sectors as discovery reports them (whole cylinders of 255 x
// 63 sectors), from too small for anything to past the 32-bit limit.
constexpr uint64_t kCardSizes[] = {0, 16065, 8'385'930, 62'332'200, 4'294'961'685, 4'294'977'750};
constexpr uint64_t kSectorsPerCylinder = 255 * 63;
constexpr uint64_t kRoundTripSectors = uint64_t{1} << 24;

uint32_t GetField(const uint8_t* p, size_t offset, unsigned width) {
  return width == 1 ? GetU8(p, offset) : width == 2 ? GetU16(p, offset) : GetU32(p, offset);
}

uint32_t LowBits(uint32_t v, unsigned width) {
  return width >= 4 ? v : v & ((uint32_t{1} << (8 * width)) - 1);
}

// Every key of the sections lands in its field (imageStoreInfor is limited
// and computed, and checked on its own).
void CheckFields(const uint8_t* record, const std::vector<ConfigSection>& sections,
                 const BoardConfig& config) {
  for (const ConfigSection& section : sections) {
    if (section.name == "imageStoreInfor") continue;
    for (const ConfigField& f : section.fields) {
      FUZZ_CHECK(GetField(record, f.offset, f.width) ==
                 LowBits(config.Value(section.name, f.key), f.width));
    }
  }
}

struct NamedRun {
  const char* name;
  SectorRun run;
};

void CheckRegions(const PartitionPlan& plan, const CardRegions& r) {
  const uint64_t card = plan.m_nCardSize;
  const uint64_t bootEnd = r.P + plan.m_arrTotalSectors[3];
  const uint64_t recoveryEnd = r.R + plan.m_arrTotalSectors[2];
  std::vector<NamedRun> runs = {
      {"MBR", {0, 1}},
      {"FAT32", {plan.m_arrStartSector[0], plan.m_arrTotalSectors[0]}},
      {"System EBR", {r.X, 1}},
      {"Data EBR", {r.X + r.L1, 1}},
      {"Cache EBR", {r.X + r.L2, 1}},
      {"BootInfo", {r.P, kBootInfoCopies}},
      {"UBootInfo", {r.P + kUBootInfoOffset, kUBootInfoSectors}},
      {"misc", {r.P + kMiscOffset, kMiscSectors}},
      {"BootEnv", r.bootEnv},
      {"BootRes", r.bootRes},
      {"BootImg", r.bootImg},
      {"BootRecover", r.bootRecover},
      {"System", r.system},
      {"Data", r.data},
      {"Cache", r.cache},
  };
  for (const SectorRun& copy : r.uBootCopies) runs.push_back({"UBootBin copy", copy});
  for (const NamedRun& n : runs) {
    FUZZ_CHECK(n.run.first + n.run.count <= card);
    FUZZ_CHECK(n.run.first + n.run.count <= (uint64_t{1} << 32));
  }
  // Each image stays inside its own partition.
  auto inside = [](const SectorRun& run, uint64_t first, uint64_t end) {
    return run.count == 0 || (run.first >= first && run.first + run.count <= end);
  };
  for (const SectorRun* run : {&r.bootEnv, &r.bootRes, &r.bootImg}) {
    FUZZ_CHECK(inside(*run, r.P, bootEnd));
  }
  for (const SectorRun& copy : r.uBootCopies) FUZZ_CHECK(inside(copy, r.P, bootEnd));
  FUZZ_CHECK(inside(r.bootRecover, r.R, recoveryEnd));
  FUZZ_CHECK(inside(r.system, r.X + kEbrTrack, r.X + r.L1));
  FUZZ_CHECK(inside(r.data, r.X + r.L1 + kEbrTrack, r.X + r.L2));
  FUZZ_CHECK(inside(r.cache, r.X + r.L2 + kEbrTrack, r.X + r.L2 + plan.m_arrSlotSize[2]));
  // No two regions share a sector.
  for (size_t i = 0; i < runs.size(); ++i) {
    for (size_t j = i + 1; j < runs.size(); ++j) {
      const SectorRun& a = runs[i].run;
      const SectorRun& b = runs[j].run;
      if (a.count == 0 || b.count == 0) continue;
      if (a.first < b.first + b.count && b.first < a.first + a.count) {
        std::fprintf(stderr, "%s and %s overlap\n", runs[i].name, runs[j].name);
        FUZZ_CHECK(false);
      }
    }
  }
}

// The sectors a burn writes (zero sectors left out), read back as a card.
class MemoryCard final : public ISectorWriter, public cli::ICardSource {
 public:
  explicit MemoryCard(uint64_t sectors) : m_sectors(sectors) {}

  bool WriteSectors(SectorNo first, uint32_t count, const uint8_t* buf) override {
    FUZZ_CHECK(uint64_t{first} + count <= m_sectors);
    if (count == 0) return true;
    const size_t bytes = size_t{count} * kSectorSize;
    if (buf[0] == 0 && std::memcmp(buf, buf + 1, bytes - 1) == 0) {  // the FATs' zeros
      m_written.erase(m_written.lower_bound(first), m_written.lower_bound(uint64_t{first} + count));
      return true;
    }
    for (uint32_t i = 0; i < count; ++i) {
      const uint8_t* sector = buf + size_t{i} * kSectorSize;
      if (std::all_of(sector, sector + kSectorSize, [](uint8_t b) { return b == 0; })) {
        m_written.erase(uint64_t{first} + i);
      } else {
        m_written[uint64_t{first} + i].assign(sector, sector + kSectorSize);
      }
    }
    return true;
  }
  uint64_t SizeBytes() const override { return m_sectors * kSectorSize; }
  SysStatus ReadSectors(uint64_t first, uint32_t count, std::vector<uint8_t>& out) override {
    FUZZ_CHECK(first <= m_sectors && count <= m_sectors - first);
    out.assign(size_t{count} * kSectorSize, 0);
    for (auto it = m_written.lower_bound(first); it != m_written.end() && it->first < first + count;
         ++it) {
      std::copy(it->second.begin(), it->second.end(),
                out.begin() + (it->first - first) * kSectorSize);
    }
    return SysStatus::Ok();
  }

 private:
  uint64_t m_sectors;
  std::map<uint64_t, std::vector<uint8_t>> m_written;
};

// The records of a card: BootInfo and the DDR and clock tables of UBootInfo
// hold the configured values whatever the card's size.
void BuildRecords(const BoardConfig& config, const CardImageLengths& lengths,
                  const std::vector<uint8_t>& uBootBin, const CCrc32& crc, BootInfo& bootInfo,
                  UBootInfo& uBootInfo) {
  BuildBootInfo(bootInfo, crc, config, lengths.uBootBin, uBootBin.data(), 1);
  CheckFields(bootInfo.data(), BootInfoSections(1), config);
  FUZZ_CHECK(ImageStoreNum(bootInfo) <= kMaxImageStore);
  FUZZ_CHECK(GetU32(bootInfo.data(), bootinfo::kInfoCrc) ==
             crc.Compute(bootInfo.data(), bootinfo::kInfoCrc));
  uBootInfo.fill(0);
  FUZZ_CHECK(ReadDdrClkTables(uBootInfo, config));
  CheckFields(uBootInfo.data(), DdrClkSections(), config);
}

// The burn's preparation of one card.
void CheckCard(const BoardConfig& config, uint64_t cardSize, const CardImageLengths& lengths,
               const std::vector<uint8_t>& uBootBin, const BootInfo& bootInfo, UBootInfo uBootInfo,
               const CCrc32& crc) {
  PartitionPlan plan;
  plan.Initialise();
  plan.m_nCardSize = cardSize;
  plan.ComputePartitionPlan(config.Partition());
  SectorBytes mbr = MbrTemplate();
  std::array<SectorBytes, 3> ebrs{};
  Fat32Layout fat;
  FUZZ_CHECK(BuildMBR(mbr, plan) && BuildEBRs(ebrs, plan) && PrepareFat32(fat, mbr));
  FillUBootInfoHeader(uBootInfo, crc, EntryFirstSector(mbr, 3), lengths.bootRes, lengths.bootImg);
  FUZZ_CHECK(GetU32(uBootInfo.data(), ubootinfo::kUBootInfoCrc) ==
             crc.Compute(uBootInfo.data(), ubootinfo::kUBootInfoCrc));

  const SysResult<CardRegions> built = BuildCardRegions(plan, lengths, bootInfo, fat);
  if (!built) {
    FUZZ_CHECK(!built.Status().Text().empty());
    return;
  }
  const CardRegions& regions = built.Value();
  CheckRegions(plan, regions);
  FUZZ_CHECK(EntryFirstSector(mbr, 3) == regions.P);
  // (Cards up to 8 GiB: formatting a larger one costs too much time per input.)
  if (cardSize % kSectorsPerCylinder != 0 || cardSize > kRoundTripSectors) return;

  // The records as the burn writes them must read back as a consistent card
  // of exactly the configured layout.
  MemoryCard card(cardSize);
  std::vector<uint8_t> uBootInfoSectors(kUBootInfoSectorBytes, 0);
  std::copy(uBootInfo.begin(), uBootInfo.end(), uBootInfoSectors.begin());
  bool written = card.WriteSectors(0, 1, mbr.data());
  for (uint64_t j = 0; j < kBootInfoCopies; ++j) {
    written &= card.WriteSectors(static_cast<SectorNo>(regions.P + j), 1, bootInfo.data());
  }
  for (const SectorRun& copy : regions.uBootCopies) {
    FUZZ_CHECK(copy.count * kSectorSize <= uBootBin.size());
    written &= card.WriteSectors(static_cast<SectorNo>(copy.first),
                                 static_cast<uint32_t>(copy.count), uBootBin.data());
  }
  written &= card.WriteSectors(static_cast<SectorNo>(regions.P + kUBootInfoOffset),
                               kUBootInfoSectors, uBootInfoSectors.data());
  written &= card.WriteSectors(static_cast<SectorNo>(regions.X), 1, ebrs[0].data());
  written &= card.WriteSectors(static_cast<SectorNo>(regions.X + regions.L1), 1, ebrs[1].data());
  written &= card.WriteSectors(static_cast<SectorNo>(regions.X + regions.L2), 1, ebrs[2].data());
  written &= FormatFat32(fat, plan.m_szVolumeLabel, card);
  FUZZ_CHECK(written);

  const PartitionConfig& p = config.Partition();
  cli::ExpectedLayout expected{p.boot, p.recovery, p.system, p.data, p.cache, {}};
  expected.label.fill(' ');
  std::copy_n(p.label.begin(), std::min<size_t>(p.label.size(), 11), expected.label.begin());
  const cli::InspectResult result = cli::InspectCard(card, expected);
  if (!result.problems.empty()) {
    std::fprintf(stderr, "%s", result.report.c_str());
    FUZZ_CHECK(result.problems.empty());
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  SilenceDebugLog();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const ScratchFile file("board.ini");
  static const CCrc32 crc;
  file.Write(data, size);

  const BoardConfig config = ReadBoardConfig(file.Path());
  FUZZ_CHECK(config.Partition().label.size() <= 11);

  // A small boot loader with the zero sector the pack loader puts after it.
  const CardImageLengths lengths{1000, 3000, 700, 0, 4096, 0, 100};
  std::vector<uint8_t> uBootBin(1024 + 512, 0);
  for (size_t i = 0; i < lengths.uBootBin; ++i) uBootBin[i] = static_cast<uint8_t>(i * 7);
  BootInfo bootInfo{};
  UBootInfo uBootInfo{};
  BuildRecords(config, lengths, uBootBin, crc, bootInfo, uBootInfo);
  for (uint64_t cardSize : kCardSizes) {
    CheckCard(config, cardSize, lengths, uBootBin, bootInfo, uBootInfo, crc);
  }
  // Cards just about large enough for the configured rooms: the edges of the
  // plan's FAT32 length and of the burn's checks.
  const PartitionConfig& p = config.Partition();
  auto room = [](uint64_t sectors) { return (sectors + 7) / 8 * 8; };
  const uint64_t used = room(p.boot) + room(p.recovery) +
                        room(room(p.system) + room(p.data) + room(p.cache) + 3 * kEbrTrack);
  for (uint64_t extra : {0, 133, 142, 143, 150, 2200, 20000}) {
    CheckCard(config, used + extra, lengths, uBootBin, bootInfo, uBootInfo, crc);
  }

  // The download package: BootInfo of section "DfuAddrInfo", then the image.
  for (uint32_t length : {0u, 1000u}) {
    ImageBuffer image;
    image.length = length;
    image.data = LargeBytes(size_t{length} + 512);
    std::fill(image.data.begin(), image.data.end(), uint8_t{0});
    std::copy_n(uBootBin.begin(), length, image.data.begin());
    const std::vector<uint8_t> package = BuildDownloadPackage(image, config, crc);
    FUZZ_CHECK(package.size() == size_t{length} + 1024);
    FUZZ_CHECK(DownloadLength(length) % 512 == 0 && DownloadLength(length) <= package.size());
    FUZZ_CHECK(std::equal(package.begin() + 512, package.begin() + 512 + length, uBootBin.begin()));
    if (length != 0) CheckFields(package.data(), BootInfoSections(0), config);
  }
  return 0;
}
