#include "cli/card_compare.h"

#include <algorithm>
#include <cstring>
#include <map>

#include "common/debug_log.h"
#include "common/le.h"
#include "common/sector.h"
#include "engine/burn_stages.h"
#include "platform/disk_geometry.h"

namespace tarnwick::cli {
namespace {

// The slot of the card in the comparison's one-slot table.
constexpr char kCardSlot[] = "card";

// FAT32 boot sector fields that place the FATs and the root directory.
constexpr size_t kBpbReserved = 14;
constexpr size_t kBpbFatSize32 = 36;
constexpr uint64_t kFsInfoSector = 1;
constexpr uint64_t kBackupBootSector = 6;

// Sets of sectors kept as runs: a region of gigabytes is one run, and a
// zeroed partition one run of differences.
class CSectorRuns {
 public:
  void Add(uint64_t first, uint64_t end) {
    auto it = m_runs.upper_bound(first);
    if (it != m_runs.begin() && std::prev(it)->second >= first) {
      --it;
      first = it->first;
      end = std::max(end, it->second);
      it = m_runs.erase(it);
    }
    while (it != m_runs.end() && it->first <= end) {
      end = std::max(end, it->second);
      it = m_runs.erase(it);
    }
    m_runs[first] = end;
  }
  void Remove(uint64_t first, uint64_t end) {
    auto it = m_runs.upper_bound(first);
    if (it != m_runs.begin() && std::prev(it)->second > first) --it;
    while (it != m_runs.end() && it->first < end) {
      const uint64_t runFirst = it->first, runEnd = it->second;
      it = m_runs.erase(it);
      if (runFirst < first) m_runs[runFirst] = first;
      if (runEnd > end) m_runs[end] = runEnd;
    }
  }
  bool Empty() const { return m_runs.empty(); }
  uint64_t First() const { return m_runs.begin()->first; }
  uint64_t Count() const {
    uint64_t n = 0;
    for (const auto& [first, end] : m_runs) n += end - first;
    return n;
  }

 private:
  std::map<uint64_t, uint64_t> m_runs;  // first -> end (exclusive)
};

// Names each sector the burn writes and keeps, per region, which of its
// sectors the card holds differently. A sector written twice (the file
// system's first sectors over the zeros of the FATs) counts as last written.
class CRegionTally {
 public:
  // The progress position the engine reports tells which stage comes next.
  void Progress(int position) {
    if (position < kProgressCardOpened) return;
    const size_t next = static_cast<size_t>(position - kProgressCardOpened);
    if (next != m_stage) m_writeInStage = 0;
    m_stage = next;
  }

  void Compare(uint64_t firstSector, const uint8_t* expected, const uint8_t* actual,
               uint64_t sectors) {
    if (m_stage < kBurnStages.size() && kBurnStages[m_stage].stage == BurnStage::Fat32 &&
        m_writeInStage == 0) {
      // The first write of the file system is its boot sector: it places the rest.
      m_fatStart = firstSector;
      m_fat1 = firstSector + GetU16(expected, kBpbReserved);
      m_fatSize = GetU32(expected, kBpbFatSize32);
    }
    // Runs of sectors with one name and one verdict.
    uint64_t runFirst = firstSector;
    std::string runName;
    bool runSame = true;
    for (uint64_t i = 0; i <= sectors; ++i) {
      const uint64_t sector = firstSector + i;
      std::string name;
      bool same = true;
      if (i < sectors) {
        name = NameOf(sector);
        same = actual &&
               std::memcmp(expected + i * kSectorSize, actual + i * kSectorSize, kSectorSize) == 0;
      }
      if (i > 0 && (i == sectors || name != runName || same != runSame)) {
        Record(runName, runFirst, sector, runSame);
        runFirst = sector;
      }
      runName = std::move(name);
      runSame = same;
    }
    ++m_writeInStage;
  }

  std::vector<ComparedRegion> Regions() const {
    std::vector<ComparedRegion> regions;
    for (const Region& r : m_regions) {
      if (r.written.Empty()) continue;
      ComparedRegion out{r.name, r.written.First(), r.written.Count(), !r.differing.Empty(), 0};
      if (out.differs) out.firstDifferent = r.differing.First();
      regions.push_back(std::move(out));
    }
    return regions;
  }

 private:
  struct Region {
    std::string name;
    CSectorRuns written, differing;
  };

  std::string NameOf(uint64_t sector) const {
    if (m_stage >= kBurnStages.size()) return "after the burn";
    const BurnStageInfo& stage = kBurnStages[m_stage];
    const std::string index = std::to_string(m_writeInStage);
    switch (stage.stage) {
      case BurnStage::BootInfo:
        return "BootInfo copy " + index;
      case BurnStage::UBootBin:
        return "boot loader copy " + index;
      case BurnStage::Ebrs: {
        static const char* const kEbrs[] = {"System EBR", "Data EBR", "Cache EBR"};
        return m_writeInStage < 3 ? kEbrs[m_writeInStage] : "EBR";
      }
      case BurnStage::Fat32:
        return FatName(sector);
      default:
        return stage.name;
    }
  }

  std::string FatName(uint64_t sector) const {
    const uint64_t rel = sector - m_fatStart;
    const uint64_t fat2 = m_fat1 + m_fatSize;
    const uint64_t dir = fat2 + m_fatSize;
    if (rel == 0) return "FAT32 boot sector";
    if (rel == kFsInfoSector) return "FAT32 FSInfo";
    if (rel == kBackupBootSector) return "FAT32 backup boot sector";
    if (rel == kBackupBootSector + kFsInfoSector) return "FAT32 backup FSInfo";
    if (sector < m_fat1) return "FAT32 reserved sectors";
    if (sector < fat2) return "first FAT";
    if (sector < dir) return "second FAT";
    if (sector == dir) return "root directory";
    return "root directory cluster";
  }

  void Record(const std::string& name, uint64_t first, uint64_t end, bool same) {
    // What was written there before no longer counts.
    for (Region& r : m_regions) {
      r.written.Remove(first, end);
      r.differing.Remove(first, end);
    }
    auto [it, added] = m_index.try_emplace(name, m_regions.size());
    if (added) m_regions.push_back({name, {}, {}});
    Region& region = m_regions[it->second];
    region.written.Add(first, end);
    if (!same) region.differing.Add(first, end);
  }

  size_t m_stage = 0;
  size_t m_writeInStage = 0;
  uint64_t m_fatStart = 0, m_fat1 = 0, m_fatSize = 0;
  std::map<std::string, size_t> m_index;
  std::vector<Region> m_regions;
};

// Takes every write of the burn as a sector run to compare with the card.
class CompareWriter final : public IDiskWriter {
 public:
  CompareWriter(ICardReader& card, CRegionTally& tally) : m_card(card), m_tally(tally) {}
  SysStatus WriteAt(uint64_t byteOffset, const void* data, size_t len) override {
    m_actual.resize(len);
    // A range the card cannot give differs as a whole.
    const bool read = m_card.ReadAt(byteOffset, m_actual.data(), len).IsOk();
    m_tally.Compare(byteOffset / kSectorSize, static_cast<const uint8_t*>(data),
                    read ? m_actual.data() : nullptr, len / kSectorSize);
    return SysStatus::Ok();
  }
  SysStatus Flush() override { return SysStatus::Ok(); }
  void Close() override {}

 private:
  ICardReader& m_card;
  CRegionTally& m_tally;
  std::vector<uint8_t> m_actual;
};

class CompareDisks final : public IDiskService {
 public:
  CompareDisks(ICardReader& card, CRegionTally& tally) : m_card(card), m_tally(tally) {}
  std::vector<DiskSlot> Slots() override { return {{kCardSlot}}; }
  std::unique_ptr<IDiskQuery> OpenForQuery(const std::string&) override {
    return std::make_unique<CapacityQuery>(m_card.SizeBytes());
  }
  SysResult<std::unique_ptr<IDiskWriter>> OpenForWrite(const std::string&) override {
    return std::unique_ptr<IDiskWriter>(std::make_unique<CompareWriter>(m_card, m_tally));
  }

 private:
  ICardReader& m_card;
  CRegionTally& m_tally;
};

// The burn's operator: its progress names the stages; its boxes (the pack
// refused, the final message) are kept, not shown.
class CompareOperator final : public IOperator {
 public:
  explicit CompareOperator(CRegionTally& tally) : m_tally(tally) {}
  MsgAnswer ShowMessage(const std::string& text, MsgButtons) override {
    messages.push_back(text);
    return MsgAnswer::Ok;
  }
  void SetProgress(int position) override { m_tally.Progress(position); }
  void Refresh() override {}
  void EnableControls(bool) override {}
  void ReportFailedCards(const std::vector<FailedCard>&) override {}

  std::vector<std::string> messages;

 private:
  CRegionTally& m_tally;
};

}  // namespace

const ComparedRegion* CardComparison::FirstDifference() const {
  for (const ComparedRegion& region : regions) {
    if (region.differs) return &region;
  }
  return nullptr;
}

CardComparison CompareCardWithPack(ICardReader& card, const std::string& cfgPath,
                                   const std::string& packPath, ISettingsReader& settings) {
  CardComparison result;
  for (const BurnStageInfo& stage : kBurnStages) {
    if (stage.settingsKey && settings.ReadInt("Burn", stage.settingsKey) == 2) {
      result.skipped.push_back(std::string(stage.name) + ": not compared, \"" + stage.settingsKey +
                               "\"=2 in the settings switches its stage off");
    }
  }
  // The burn's log says nothing here: the comparison reports itself.
  const LogSink previous = SetLogSink([](std::string_view) {});
  CRegionTally tally;
  CompareDisks disks(card, tally);
  CompareOperator op(tally);
  CBurnEngine engine(disks, op, settings);
  engine.SetCfgFile(cfgPath);
  engine.SetPackFile(packPath);
  engine.RunBurn();
  SetLogSink(previous);
  const RunSummary& run = engine.LastRun();
  if (run.cardsFound == 0) {
    result.refused = "the card is smaller than one cylinder: no burn would write it";
  } else if (!run.failed.empty() && run.opened.empty()) {
    result.refused = run.failed.front().reason;
  } else if (run.aborted) {
    result.refused = run.abortReason;
  }
  result.regions = tally.Regions();
  return result;
}

}  // namespace tarnwick::cli
