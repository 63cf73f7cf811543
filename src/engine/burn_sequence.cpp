// The burn of one card: preparation and validation with the card untouched,
// then the write phase in its fixed order.
#include <algorithm>
#include <cstdio>

#include "common/debug_log.h"
#include "engine/burn_engine.h"
#include "engine/burn_stages.h"
#include "platform/fs/read_only_file.h"

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
  ReadOnlyFile pack;
  if (SysStatus loaded = OpenCardImages(m_strPackFile, m_op, m_packHeader, images, pack, skipped);
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
  buffers.pack = &pack;
  for (const BurnStageInfo& stage : kBurnStages) {
    if (!stage.image || (skipped & SlotBit(*stage.image)) != 0) continue;
    buffers.streamed.push_back({stage.name, m_packHeader.Offset(*stage.image),
                                m_packHeader.Length(*stage.image),
                                StageRun(regions, *stage.image).count});
  }
  buffers.stream =
      std::make_unique<CImageStream>(pack, m_strPackFile, buffers.streamed, m_streamPool);
  m_nCardBytes = (regions.bootEnv.count + 2 * Fat32FatSectors(m_plan.m_arrTotalSectors[0]) + 16 +
                  1 + kBootInfoCopies + kUBootInfoSectors + 3 + kMiscSectors) *
                 kSectorSize;
  for (const SectorRun& copy : regions.uBootCopies) m_nCardBytes += copy.count * kSectorSize;
  for (const StreamImage& image : buffers.streamed) m_nCardBytes += image.sectors * kSectorSize;

  SetProgress(kProgressCardOpened);
  if (!m_sdReadWrite.OpenDisk(CurrentDevicePath())) {
    DebugLog(1, "BurnToOneSD: OpenDisk failed\n");
    return FailCard("OpenDisk failed: " + m_sdReadWrite.LastOpenError(), false);
  }
  m_bCardOpened = true;
  m_lastRun.opened.push_back(CurrentDevicePath());
  m_opened = std::chrono::steady_clock::now();
  m_status.bytesWritten = 0;
  m_writer.Start(m_bVerifyRun);
  DiskCloser closer(m_sdReadWrite);
  return WritePhase(regions, images, buffers);
}

bool CBurnEngine::WriteRegion(const char* name, uint64_t first, uint64_t count,
                              const uint8_t* buf) {
  // A region cut to nothing (an empty image in an empty room) has no bytes to write.
  m_writer.SetRegion(name);
  if (count == 0 ||
      m_writer.WriteSectors(static_cast<SectorNo>(first), static_cast<uint32_t>(count), buf)) {
    m_status.bytesWritten += count * kSectorSize;
    CardUpdate(CardPhase::Writing, name, false);
    return true;
  }
  DebugLog(1, "BurnToOneSD: Write %s failed\n", name);
  return FailCard(std::string("Write ") + name + " failed", false);
}

// One system write per piece of the stream, each whole sectors and no larger
// than the sector writer's chunk; the buffer goes back to the reader once written.
bool CBurnEngine::WriteImage(const char* name, const SectorRun& run, CImageStream& stream,
                             const StreamImage& source) {
  static_assert(StreamPool{}.bufferBytes <= uint64_t{kMaxChunkSectors} * kSectorSize);
  for (uint64_t done = 0; done < run.count;) {
    const StreamPiece piece = stream.Next();
    const uint64_t at = piece.sector * kSectorSize;
    m_writer.SetPackSource(source.offset + at, at < source.length ? source.length - at : 0);
    if (!WriteRegion(name, run.first + done, piece.sectors, piece.data)) return false;
    stream.Done();
    done += piece.sectors;
  }
  return true;
}

bool CBurnEngine::WritePhase(const CardRegions& r, CardImages& images, WriteBuffers& buffers) {
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

  // The switchable image stages, in their write order, streamed from the pack.
  size_t streamed = 0;
  for (const BurnStageInfo& stage : kBurnStages) {
    if (!stage.image) continue;
    const SectorRun& run = StageRun(r, *stage.image);
    DebugLog(1, "WrtieSector: %s: [0x%x, 0x%x]\n", stage.name, Hex(run.first), Hex(run.count));
    const bool skip = (buffers.skipped & SlotBit(*stage.image)) != 0;
    if (!skip && !WriteImage(stage.name, run, *buffers.stream, buffers.streamed[streamed++])) {
      return false;
    }
    SetProgress(stage.progress);
  }
  buffers.stream->Finish();

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

  m_writer.SetRegion("FAT32");
  if (!FormatFat32(m_fat, m_plan.m_szVolumeLabel, m_writer, zeros)) {
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
  return !m_bVerifyRun || VerifyCard(buffers);
}

// Reads back every sector the card was given, into the stream's buffers.
bool CBurnEngine::VerifyCard(WriteBuffers& buffers) {
  CImageStream& stream = *buffers.stream;
  CardUpdate(CardPhase::Verifying, "", true);
  const size_t half = stream.BufferCount() >= 2 ? stream.BufferBytes() : stream.BufferBytes() / 2;
  const std::span<uint8_t> a(stream.Buffer(0), half);
  const std::span<uint8_t> b(stream.BufferCount() >= 2 ? stream.Buffer(1) : stream.Buffer(0) + half,
                             half);
  const VerifyResult result = VerifyWrites(m_sdReadWrite, *buffers.pack, m_writer.Records(), a, b);
  if (result.ok) {
    DebugLog(1, "BurnToOneSD: Verify ok\n");
    m_status.verify = "ok";
    return true;
  }
  if (result.readFailed) {
    DebugLog(1, "BurnToOneSD: Verify %s failed: %s\n", result.region.c_str(), result.text.c_str());
    m_status.verify = "Verify " + result.region + " failed: " + result.text;
  } else {
    DebugLog(1, "BurnToOneSD: Verify %s failed at sector 0x%x\n", result.region.c_str(),
             Hex(result.sector));
    char sector[24];
    std::snprintf(sector, sizeof sector, "0x%x", Hex(result.sector));
    m_status.verify = "Verify " + result.region + " failed at sector " + sector;
  }
  return FailCard(m_status.verify, false);
}

}  // namespace tarnwick
