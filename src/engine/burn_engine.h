#pragma once
// CBurnEngine owns the burn state that the dialog and the command line share:
// the two input paths, the sector writer, the partition plan, the records and
// the pack header copy. It keeps the operation names of the burn.
#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "bootcfg/board_config.h"
#include "bootcfg/boot_info.h"
#include "bootcfg/crc32.h"
#include "engine/burn_verify.h"
#include "engine/card_regions.h"
#include "engine/image_stream.h"
#include "engine/operator.h"
#include "engine/pack_file.h"
#include "engine/sd_read_write.h"
#include "layout/card_layout.h"
#include "layout/fat32.h"
#include "layout/mbr.h"
#include "layout/partition_plan.h"
#include "platform/disk_service.h"

namespace tarnwick {

// The question asked before a burn when "WarningBeforeBurn" is 1.
inline constexpr char kWarningBeforeBurnText[] = "请拔出不相关USB设备，然后开始烧写";
// Shown before the final message of a run that found no card.
inline constexpr char kNoCardFoundText[] = "No card found: nothing was written.";

// The settings the burn reads at each stage ("Burn" section switches).
class ISettingsReader {
 public:
  virtual ~ISettingsReader() = default;
  virtual int ReadInt(const std::string& section, const std::string& key) = 0;
};

// One slot of the discovery result.
struct CardSlot {
  uint32_t present = 0;
  uint8_t index = 0;
  uint64_t size = 0;  // sectors
};

// How a run ended, for the front ends (exit status, final report).
struct RunSummary {
  int cardsFound = 0;
  int cardsWritten = 0;             // completely written and flushed
  std::vector<FailedCard> failed;   // failed or refused cards, in slot order
  int cardsRefused = 0;             // of those, refused before anything was written
  std::vector<std::string> opened;  // the devices opened for writing, in order
  bool aborted = false;             // ended by a pack read error or lack of memory
  std::string abortReason;
  bool parallel = false;  // the cards were written at the same time
  bool verified = false;  // each card written was read back
};

class CBurnEngine {
 public:
  CBurnEngine(IDiskService& disks, IOperator& op, ISettingsReader& settings);

  // The two input paths (full paths) and whether a board-mode burn waits
  // for the device-arrival notice.
  const std::string& CfgFile() const { return m_strCfgFile; }
  void SetCfgFile(std::string path) { m_strCfgFile = std::move(path); }
  const std::string& PackFile() const { return m_strPackFile; }
  void SetPackFile(std::string path) { m_strPackFile = std::move(path); }
  bool WaitDevice() const { return m_bWaitDevice; }
  void SetWaitDevice(bool wait) { m_bWaitDevice = wait; }
  // Switched on for every run whatever the settings say ("VerifyAfterBurn"
  // and "ParallelBurn" of section "Burn", read at the start of each run).
  void SetVerify(bool verify) { m_bVerify = verify; }
  void SetParallel(bool parallel) { m_bParallel = parallel; }
  // The buffers each card's images stream through (one after another; a
  // parallel run gives each card a smaller pool of its own).
  void SetStreamPool(StreamPool pool) { m_streamPool = pool; }

  // Discovery, then every present slot in order, then the final message.
  // Toolkit errors (FileError, MemoryError, and std::bad_alloc) are caught
  // here: the run ends, the controls are re-enabled and the operator sees the
  // error instead of the final message.
  void RunBurn();
  void DetectCards();
  // Disk instances (the disk service's DiskInstanceOf) that the next
  // discovery leaves out: the boards' own disks, recorded when the download
  // started, may still be there when the arrival notice comes. Only those
  // appearances are left out, and only by the next discovery.
  void LeaveOutOfNextDiscovery(std::vector<std::string> instances) {
    m_leaveOut = std::move(instances);
  }
  const std::vector<std::string>& LeftOutOfNextDiscovery() const { return m_leaveOut; }
  // Whether an arriving disk is one the next discovery leaves out: a board's
  // own disk whose arrival notice comes only after its download (udev tells a
  // busy system's arrivals late) is not the card the board shows next.
  bool IsLeftOutOfNextDiscovery(const std::string& instance) const {
    return !instance.empty() &&
           std::find(m_leaveOut.begin(), m_leaveOut.end(), instance) != m_leaveOut.end();
  }
  // Burns the current card (set by RunBurn, which has read the board
  // configuration for it); returns true when it was written
  // completely and flushed. A card whose regions do not fit is refused before
  // anything is written to it.
  [[nodiscard]] bool BurnToOneSD();

  const std::array<CardSlot, kMaxDiskSlots>& Cards() const { return m_arrCards; }
  const RunSummary& LastRun() const { return m_lastRun; }
  const PartitionPlan& Plan() const { return m_plan; }
  // The board configuration as read for the current card.
  const BoardConfig& Config() const { return m_boardConfig; }
  const CCrc32& Crc() const { return m_crc; }
  const UBootInfo& UBootInfoRecord() const { return m_uBootInfo; }
  PackHeader& HeaderCopy() { return m_packHeader; }
  BootInfo& BootInfoRecord() { return m_bootInfo; }
  IOperator& Operator() { return m_op; }

 private:
  std::string m_strCfgFile;
  std::string m_strPackFile;
  bool m_bWaitDevice = false;
  IDiskService& m_disks;
  IOperator& m_op;
  ISettingsReader& m_settings;
  CSDReadWrite m_sdReadWrite;
  CCrc32 m_crc;
  BoardConfig m_boardConfig;
  PartitionPlan m_plan;
  SectorBytes m_tMBR;
  std::array<SectorBytes, 3> m_arrEBR{};
  Fat32Layout m_fat;
  BootInfo m_bootInfo{};
  PackHeader m_packHeader;
  std::array<CardSlot, kMaxDiskSlots> m_arrCards{};
  std::vector<DiskSlot> m_slotPaths;
  std::vector<std::string> m_leaveOut;
  int m_nCurrentSlot = 0;
  RunSummary m_lastRun;
  UBootInfo m_uBootInfo{};
  // Why the current card failed, and whether it was refused untouched.
  std::string m_strCardFailure;
  bool m_bCardRefused = false;
  // A card of the run is being burned; it has been opened.
  bool m_bCardInHand = false;
  bool m_bCardOpened = false;

  // Verify what is written, burn the cards at the same time: forced on, and
  // as the run found the settings.
  bool m_bVerify = false;
  bool m_bParallel = false;
  bool m_bVerifyRun = false;
  // The buffers each card's images are streamed through.
  StreamPool m_streamPool;
  // Every write of the card in hand goes through it; it keeps the records
  // that verification reads back.
  CWriteRecorder m_writer{m_sdReadWrite};
  // Where the card in hand stands, for the operator's per-card view.
  CardStatus m_status;
  uint64_t m_nCardBytes = 0;  // what the card in hand is to receive
  std::chrono::steady_clock::time_point m_opened{}, m_lastUpdate{};

  std::string CurrentDevicePath() const;
  bool FailCard(const std::string& reason, bool refused);
  void SetProgress(int position);
  // The loop body of a run: burns slot k and counts it in m_lastRun.
  void BurnSlot(int k);
  // Every present card at once, each by an engine of its own on a thread of its own.
  void RunParallel();
  // One card of a parallel run, on its own thread: its log lines come out as
  // one block when it ends, a toolkit error ends this card only.
  void BurnParallelSlot(int k);
  void CardUpdate(CardPhase phase, const std::string& stage, bool force);
  [[nodiscard]] bool WriteRegion(const char* name, uint64_t first, uint64_t count,
                                 const uint8_t* buf);
  [[nodiscard]] bool WriteImage(const char* name, const SectorRun& run, CImageStream& stream,
                                const StreamImage& source);
  // What the write phase writes besides the boot loader, made before the card is opened.
  struct WriteBuffers {
    std::vector<uint8_t> uBootInfoSectors;
    std::vector<uint8_t> zeros;  // Misc, BootEnv and the FATs are written from it
    PackSlotSet skipped = 0;     // the images whose stage is switched off
    ReadOnlyFile* pack = nullptr;
    std::vector<StreamImage> streamed;     // in write order
    std::unique_ptr<CImageStream> stream;  // already reading ahead
  };
  [[nodiscard]] bool WritePhase(const CardRegions& regions, CardImages& images,
                                WriteBuffers& buffers);
  [[nodiscard]] bool VerifyCard(WriteBuffers& buffers);
  void EndRun();
  // A run-ending error: the card in hand (slot) is listed as failed with it,
  // and the run is marked as ended by it.
  void EndRunOnCardInHand(int slot, const std::string& error);
  void AbortRun(const std::string& error);
};

}  // namespace tarnwick
