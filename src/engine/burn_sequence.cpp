// The burn of one card: preparation and validation with the card untouched,
// then the write phase in its fixed order.
#include <algorithm>

#include "common/debug_log.h"
#include "engine/burn_engine.h"
#include "engine/burn_stages.h"

namespace tarnwick {

namespace {

// Card-reader mode: BootInfo carries the addresses of section "AddrInfo".
constexpr int kCardMode = 1;
constexpr size_t kMiscBytes = kMiscSectors * kSectorSize;
// The boot environment area and the zero sector after it.
constexpr size_t kBootEnvBufferBytes = kBootEnvBytes + kSectorSize;

unsigned Hex(uint64_t sector) {
  return static_cast<unsigned>(sector);
}

const SectorRun& StageRun(const CardRegions& r, PackSlot slot) {
  switch (slot) {
    case PackSlot::BootImg:
      return r.bootImg;
    case PackSlot::BootRes:
      return r.bootRes;
    case PackSlot::BootRecover:
      return r.bootRecover;
    case PackSlot::System:
      return r.system;
    case PackSlot::Cache:
      return r.cache;
    default:
      return r.data;
  }
}

ImageBuffer& StageImage(CardImages& images, PackSlot slot) {
  switch (slot) {
    case PackSlot::BootImg:
      return images.bootImg;
    case PackSlot::BootRes:
      return images.bootRes;
    case PackSlot::BootRecover:
      return images.bootRecover;
    case PackSlot::System:
      return images.system;
    case PackSlot::Cache:
      return images.cache;
    default:
      return images.data;
  }
}

// Closes the card on every way out of the write phase.
class DiskCloser {
 public:
  explicit DiskCloser(CSDReadWrite& writer) : m_writer(writer) {}
  ~DiskCloser() { m_writer.CloseDisk(); }
  DiskCloser(const DiskCloser&) = delete;
  DiskCloser& operator=(const DiskCloser&) = delete;

 private:
  CSDReadWrite& m_writer;
};

}  // namespace

bool CBurnEngine::BurnToOneSD() {
  m_strCardFailure.clear();
  m_bCardRefused = false;

  BuildMBR(m_tMBR, m_plan);
  BuildEBRs(m_arrEBR, m_plan);
  PrepareFat32(m_fat, m_tMBR);
  m_uBootInfo.fill(0);
  ReadDdrClkTables(m_uBootInfo, m_boardConfig);

  // The "Burn" switches are read once per card, before anything is checked:
  // an image whose stage is switched off is neither checked nor written.
  PackSlotSet skipped = 0;
  for (const BurnStageInfo& stage : kBurnStages) {
    if (stage.image && m_settings.ReadInt("Burn", stage.settingsKey) == 2) {
      skipped |= SlotBit(*stage.image);
    }
  }

  CardImages images;
  if (SysStatus loaded = LoadCardImages(m_strPackFile, m_op, m_packHeader, images, skipped);
      !loaded) {
    // The operator has seen why in a message box.
    return FailCard(loaded.Text(), true);
  }

  // BootInfo is built here rather than after the MBR is written: its boot
  // loader copy table has to be checked before the first write, and the
  // record checked is the record written.
  BuildBootInfo(m_bootInfo, m_crc, m_boardConfig, images.uBootBin.length,
                images.uBootBin.data.data(), kCardMode);
  FillUBootInfoHeader(m_uBootInfo, m_crc, EntryFirstSector(m_tMBR, 3), images.bootRes.length,
                      images.bootImg.length);

  const CardImageLengths lengths{images.uBootBin.length, images.bootImg.length,
                                 images.bootRes.length,  images.bootRecover.length,
                                 images.system.length,   images.data.length,
                                 images.cache.length};
  std::string needed;
  SysResult<CardRegions> built =
      BuildCardRegions(m_plan, lengths, m_bootInfo, m_fat, skipped, &needed);
  if (!built) {
    DebugLog(1, "BurnToOneSD: %s\n", built.Status().Text().c_str());
    return FailCard(built.Status().Text() + needed + "; configuration file " + m_strCfgFile, true);
  }
  const CardRegions& regions = built.Value();

  // Every buffer of the write phase is had before the card is opened: a lack
  // of memory then ends the run with the card untouched, never half-way.
  WriteBuffers buffers;
  buffers.uBootInfoSectors.assign(kUBootInfoSectorBytes, 0);
  std::copy(m_uBootInfo.begin(), m_uBootInfo.end(), buffers.uBootInfoSectors.begin());
  buffers.zeros.assign(std::max(kBootEnvBufferBytes, Fat32ZeroBytes(m_fat)), 0);
  buffers.skipped = skipped;

  SetProgress(kProgressCardOpened);
  if (!m_sdReadWrite.OpenDisk(CurrentDevicePath())) {
    DebugLog(1, "BurnToOneSD: OpenDisk failed\n");
    return FailCard("OpenDisk failed: " + m_sdReadWrite.LastOpenError(), false);
  }
  m_bCardOpened = true;
  m_lastRun.opened.push_back(CurrentDevicePath());
  DiskCloser closer(m_sdReadWrite);
  return WritePhase(regions, images, buffers);
}

bool CBurnEngine::WriteRegion(const char* name, uint64_t first, uint64_t count,
                              const uint8_t* buf) {
  // A region cut to nothing (an empty image in an empty room) has no bytes to write.
  if (count == 0 ||
      m_sdReadWrite.WriteSectors(static_cast<SectorNo>(first), static_cast<uint32_t>(count), buf)) {
    return true;
  }
  DebugLog(1, "BurnToOneSD: Write %s failed\n", name);
  return FailCard(std::string("Write ") + name + " failed", false);
}

// One system write per piece, as the sector writer would split the region;
// each piece's memory goes back once written, for the system's cache that
// takes the writes to reuse: memory the system must first provide costs
// more, markedly so in virtual machines.
bool CBurnEngine::WriteImage(const char* name, const SectorRun& run, ImageBuffer& image) {
  uint64_t done = 0;
  do {
    const uint64_t piece = std::min<uint64_t>(run.count - done, kMaxChunkSectors);
    uint8_t* bytes = image.data.data() + done * kSectorSize;
    if (!WriteRegion(name, run.first + done, piece, bytes)) return false;
    ReleaseLargeBufferPages(bytes, piece * kSectorSize);
    done += piece;
  } while (done < run.count);
  return true;
}

bool CBurnEngine::WritePhase(const CardRegions& r, CardImages& images,
                             const WriteBuffers& buffers) {
  DebugLog(1, "WriteSector: MBR: [0x0, 0x1]\n");
  if (!WriteRegion("MBR", 0, 1, m_tMBR.data())) return false;
  SetProgress(StageInfo(BurnStage::Mbr).progress);

  for (uint64_t j = 0; j < kBootInfoCopies; ++j) {
    DebugLog(1, "WrtieSector: BootInfo[0x%x]: [0x%x, 0x1]\n", Hex(j), Hex(r.P + j));
    if (!WriteRegion("BootInfo", r.P + j, 1, m_bootInfo.data())) return false;
  }
  SetProgress(StageInfo(BurnStage::BootInfo).progress);

  for (size_t i = 0; i < r.uBootCopies.size(); ++i) {
    const SectorRun& copy = r.uBootCopies[i];
    DebugLog(1, "WrtieSector: UBootBin[0x%x]: [0x%x, 0x%x]\n", Hex(i), Hex(copy.first),
             Hex(copy.count));
    if (!WriteRegion("UBootBin", copy.first, copy.count, images.uBootBin.data.data())) {
      return false;
    }
  }
  SetProgress(StageInfo(BurnStage::UBootBin).progress);

  DebugLog(1, "WrtieSector: UBootInfo: [0x%x, 0x4]\n", Hex(r.P + kUBootInfoOffset));
  if (!WriteRegion("UBootInfo", r.P + kUBootInfoOffset, kUBootInfoSectors,
                   buffers.uBootInfoSectors.data())) {
    return false;
  }
  SetProgress(StageInfo(BurnStage::UBootInfo).progress);

  // The switchable image stages, in their write order.
  for (const BurnStageInfo& stage : kBurnStages) {
    if (!stage.image) continue;
    const SectorRun& run = StageRun(r, *stage.image);
    ImageBuffer& image = StageImage(images, *stage.image);
    DebugLog(1, "WrtieSector: %s: [0x%x, 0x%x]\n", stage.name, Hex(run.first), Hex(run.count));
    const bool skip = (buffers.skipped & SlotBit(*stage.image)) != 0;
    if (!skip && !WriteImage(stage.name, run, image)) return false;
    // This card never needs the image again.
    image.data = LargeBytes();
    SetProgress(stage.progress);
  }

  DebugLog(1, "WrtieSector: EBRSystem: [0x%x, 1]\n", Hex(r.X));
  if (!WriteRegion("EBRSystem", r.X, 1, m_arrEBR[0].data())) return false;
  DebugLog(1, "WrtieSector: EBRData: [0x%x, 1]\n", Hex(r.X + r.L1));
  if (!WriteRegion("EBRData", r.X + r.L1, 1, m_arrEBR[1].data())) return false;
  DebugLog(1, "WrtieSector: EBRCache: [0x%x, 1]\n", Hex(r.X + r.L2));
  if (!WriteRegion("EBRCache", r.X + r.L2, 1, m_arrEBR[2].data())) return false;
  SetProgress(StageInfo(BurnStage::Ebrs).progress);

  const std::vector<uint8_t>& zeros = buffers.zeros;
  static_assert(kMiscBytes <= kBootEnvBufferBytes);
  DebugLog(1, "WrtieSector: Misc: [0x%x, 8]\n", Hex(r.P + kMiscOffset));
  if (!WriteRegion("Misc", r.P + kMiscOffset, kMiscSectors, zeros.data())) return false;
  SetProgress(StageInfo(BurnStage::Misc).progress);

  DebugLog(1, "WrtieSector: BootEnv: [0x%x, 0x%x]\n", Hex(r.bootEnv.first), Hex(r.bootEnv.count));
  if (!WriteRegion("BootEnv", r.bootEnv.first, r.bootEnv.count, zeros.data())) return false;
  SetProgress(StageInfo(BurnStage::BootEnv).progress);

  if (!FormatFat32(m_fat, m_plan.m_szVolumeLabel, m_sdReadWrite, zeros)) {
    DebugLog(1, "BurnToOneSD: Format FAT32 failed\n");
    return FailCard("Format FAT32 failed", false);
  }
  SetProgress(StageInfo(BurnStage::Fat32).progress);

  // "Write ok" only once the card holds everything.
  if (!m_sdReadWrite.Flush()) {
    DebugLog(1, "BurnToOneSD: Flush failed\n");
    return FailCard("Flush failed", false);
  }
  if (const SysStatus same = m_sdReadWrite.CheckStillTarget(); !same) {
    DebugLog(1, "BurnToOneSD: %s\n", same.Text().c_str());
    return FailCard(same.Text(), false);
  }
  DebugLog(1, "BurnToOneSD: Write ok\n");
  return true;
}

}  // namespace tarnwick
