#pragma once
// CDfuDownloader sends the board's download program: it wraps the pack
// file's DFU image behind a BootInfo sector, finds the boards and sends the
// package to each of them in 512-byte blocks, one vendor SCSI command per
// block. Nothing here waits for the board to come back with its card.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "bootcfg/board_config.h"
#include "bootcfg/crc32.h"
#include "engine/operator.h"
#include "engine/pack_file.h"
#include "platform/scsi_bus.h"
#include "usbdev/io_ctrl_helper.h"

namespace tarnwick {

inline constexpr uint32_t kDownloadBlockSize = 512;
inline constexpr uint32_t kFirstBlockTimeoutSeconds = 60;
inline constexpr uint32_t kBlockTimeoutSeconds = 10;
inline constexpr uint8_t kVendorSenseLength = 14;
inline constexpr int kSendBlockFailed = 0x7FFFFFFF;

// The vendor command for one block: CDB CF 12 <last> 00 ... (16 bytes),
// length bytes from host to device, 60 s for the first block, else 10 s.
ScsiRequest MakeVendorRequest(uint8_t* block, uint32_t length, bool first, bool last);

// The sense key, ASC and ASCQ of sense data in fixed (0x70, 0x71) or
// descriptor (0x72, 0x73) format; nothing when the data is shorter or of
// another format.
struct SenseCodes {
  uint8_t key = 0;
  uint8_t asc = 0;
  uint8_t ascq = 0;
};
std::optional<SenseCodes> DecodeSense(const uint8_t* sense, size_t length);

inline constexpr uint8_t kScsiStatusGood = 0;

// Sends one block to a board. 1 when the command was carried out; 0 after
// telling the operator why not. A command carried out with a status other
// than GOOD still counts as carried out: the status and its sense are
// written to the debug log, and *notGood (when given) is set.
int DownBootloader(IScsiBus& bus, IOperator& op, ScsiHandle handle, uint8_t* block, uint32_t length,
                   bool first, bool last, bool* notGood = nullptr);

// What the last download achieved; the front ends turn it into an exit status.
struct DownloadSummary {
  bool packLoaded = false;  // false: the pack was refused and nothing was sent
  int boardsFound = 0;
  int boardsServed = 0;  // boards that received every block
  // Per board found, in order: the blocks it answered with a SCSI status
  // other than GOOD.
  std::vector<int> blocksNotGood;
  // The boards' own disks as they were when the download started (the bus's
  // DiskInstanceOf), where the system can tell.
  std::vector<std::string> boardDisks;
};

class CDfuDownloader {
 public:
  CDfuDownloader(IScsiBus& bus, IOperator& op);
  ~CDfuDownloader();
  CDfuDownloader(const CDfuDownloader&) = delete;
  CDfuDownloader& operator=(const CDfuDownloader&) = delete;

  // Builds the package from the pack file's DFU image (BootInfo from section
  // "DfuAddrInfo" of cfgFile, read once the image is loaded) and sends it with
  // DownloadDfu. A pack that
  // cannot be opened or whose DFU image lies outside it is refused with a
  // message before any board is searched. headerCopy receives the pack header.
  void LoadPackForBoard(const std::string& packFile, const std::string& cfgFile, const CCrc32& crc,
                        PackHeader& headerCopy);
  // A fresh search; m_nBoardCount is the number of boards kept.
  void FindBoards();
  // Sends length bytes (a multiple of 512) to every board found.
  void DownloadDfu(uint8_t* buffer, uint32_t length);
  void SelectBoard(int index);
  // 0 on success; kSendBlockFailed after telling the operator.
  int SendBlock(uint8_t* block, uint32_t length, bool first, bool last);

  const DownloadSummary& LastDownload() const { return m_summary; }
  // The number of boards the last search kept.
  int BoardCount() const { return m_nBoardCount; }

 private:
  int m_nBoardCount = 0;
  std::unique_ptr<CIOCtrlHelper> m_pIoCtrl;
  IScsiBus& m_bus;
  IOperator& m_op;
  DownloadSummary m_summary;
  int m_nBoard = 0;  // the board selected
};

// The package for a DFU image: BootInfo (mode 0) in the first 512 bytes, the
// image from byte 512, zeros after it; image.length + 1024 bytes in all. Only
// the first (image.length + 1024) & ~511 bytes are sent.
std::vector<uint8_t> BuildDownloadPackage(const ImageBuffer& image, const BoardConfig& config,
                                          const CCrc32& crc);
uint32_t DownloadLength(uint32_t imageLength);

}  // namespace tarnwick
