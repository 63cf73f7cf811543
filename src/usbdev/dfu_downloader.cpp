#include "usbdev/dfu_downloader.h"

#include <algorithm>
#include <new>

#include "bootcfg/boot_info.h"
#include "common/debug_log.h"
#include "engine/errors.h"

namespace tarnwick {
namespace {

// Room after the image: the BootInfo sector and at least one sector of zeros.
constexpr uint32_t kPackageExtra = 1024;

}  // namespace

ScsiRequest MakeVendorRequest(uint8_t* block, uint32_t length, bool first, bool last) {
  ScsiRequest request;
  request.cdb = {0xCF, 0x12, static_cast<uint8_t>(last ? 1 : 0)};
  request.cdbLength = 16;
  request.direction = ScsiDirection::ToDevice;
  request.data = block;
  request.dataLength = length;
  request.senseLength = kVendorSenseLength;
  request.timeoutSeconds = first ? kFirstBlockTimeoutSeconds : kBlockTimeoutSeconds;
  return request;
}

std::optional<SenseCodes> DecodeSense(const uint8_t* sense, size_t length) {
  if (length < 1) return std::nullopt;
  const uint8_t format = sense[0] & 0x7F;
  if ((format == 0x70 || format == 0x71) && length >= 14) {
    return SenseCodes{static_cast<uint8_t>(sense[2] & 0x0F), sense[12], sense[13]};
  }
  if ((format == 0x72 || format == 0x73) && length >= 4) {
    return SenseCodes{static_cast<uint8_t>(sense[1] & 0x0F), sense[2], sense[3]};
  }
  return std::nullopt;
}

int DownBootloader(IScsiBus& bus, IOperator& op, ScsiHandle handle, uint8_t* block, uint32_t length,
                   bool first, bool last, bool* notGood) {
  ScsiResult result = bus.PassThrough(handle, MakeVendorRequest(block, length, first, last));
  if (result.outcome == ScsiOutcome::Completed) {
    // The board's answer does not change the flow; it is kept in the log.
    if (result.scsiStatus != kScsiStatusGood) {
      const size_t senseLength = std::min<size_t>(result.senseLength, result.sense.size());
      if (std::optional<SenseCodes> codes = DecodeSense(result.sense.data(), senseLength)) {
        DebugLog(1, "DownBootloader: SCSI status 0x%02x, sense key 0x%x, ASC 0x%02x, ASCQ 0x%02x\n",
                 result.scsiStatus, codes->key, codes->asc, codes->ascq);
      } else {
        DebugLog(1, "DownBootloader: SCSI status 0x%02x, no sense data\n", result.scsiStatus);
      }
      if (notGood) *notGood = true;
    }
    return 1;
  }
  if (result.outcome == ScsiOutcome::TimedOut || result.error.Code() == std::errc::timed_out) {
    op.ShowMessage("DownBootloader: Timeout", MsgButtons::Ok);
  } else {
    op.ShowMessage("DownBootloader: failed\n", MsgButtons::Ok);
  }
  return 0;
}

uint32_t DownloadLength(uint32_t imageLength) {
  return (imageLength + kPackageExtra) & ~(kDownloadBlockSize - 1);
}

std::vector<uint8_t> BuildDownloadPackage(const ImageBuffer& image, const BoardConfig& config,
                                          const CCrc32& crc) {
  std::vector<uint8_t> package;
  try {
    package.assign(static_cast<size_t>(image.length) + kPackageExtra, 0);
  } catch (const std::bad_alloc&) {
    throw MemoryError("not enough memory for the download package");
  }
  std::copy_n(image.data.begin(), std::min<size_t>(image.length, image.data.size()),
              package.begin() + kBootInfoSize);
  BootInfo info{};
  BuildBootInfo(info, crc, config, image.length, package.data() + kBootInfoSize, 0);
  std::copy(info.begin(), info.end(), package.begin());
  return package;
}

CDfuDownloader::CDfuDownloader(IScsiBus& bus, IOperator& op)
    : m_pIoCtrl(std::make_unique<CIOCtrlHelper>(bus)), m_bus(bus), m_op(op) {}

CDfuDownloader::~CDfuDownloader() = default;

void CDfuDownloader::LoadPackForBoard(const std::string& packFile, const std::string& cfgFile,
                                      const CCrc32& crc, PackHeader& headerCopy) {
  m_summary = {};
  ImageBuffer image;
  if (!LoadPackImage(packFile, m_op, PackSlot::Dfu, headerCopy, image)) return;  // told already
  if (image.length > UINT32_MAX - kPackageExtra) {
    // The package length would not fit the 32-bit lengths of the download.
    m_op.ShowMessage("The download program in the pack file is too large.", MsgButtons::Ok);
    return;
  }
  std::vector<uint8_t> package = BuildDownloadPackage(image, ReadBoardConfig(cfgFile), crc);
  m_summary.packLoaded = true;
  DownloadDfu(package.data(), DownloadLength(image.length));
}

void CDfuDownloader::FindBoards() {
  m_nBoardCount = m_pIoCtrl->EnumerateDevices() ? static_cast<int>(m_pIoCtrl->Devices().size()) : 0;
  if (m_nBoardCount == 0) {
    m_op.ShowMessage("Can't find udisk. please make sure udisk is ok.", MsgButtons::Ok);
  }
}

void CDfuDownloader::DownloadDfu(uint8_t* buffer, uint32_t length) {
  FindBoards();
  m_summary.boardsFound = m_nBoardCount;
  m_summary.boardsServed = 0;
  m_summary.blocksNotGood.assign(static_cast<size_t>(m_nBoardCount), 0);
  const uint32_t blocks = length / kDownloadBlockSize;
  for (int board = 0; board < m_nBoardCount; ++board) {
    SelectBoard(board);
    if (SysResult<std::string> disk = m_bus.DiskInstanceOf(m_pIoCtrl->CurrentDevice()); disk.IsOk()) {
      DebugLog(2, "DownloadDfu: board %d is disk %s\n", board, disk.Value().c_str());
      m_summary.boardDisks.push_back(disk.Value());
    }
    bool complete = true;
    for (uint32_t k = 0; k < blocks; ++k) {
      if (SendBlock(buffer + static_cast<size_t>(k) * kDownloadBlockSize, kDownloadBlockSize,
                    k == 0, k + 1 == blocks) != 0) {
        m_op.ShowMessage("Download DFU failed", MsgButtons::Ok);
        complete = false;
        break;
      }
    }
    if (complete) ++m_summary.boardsServed;
  }
}

void CDfuDownloader::SelectBoard(int index) {
  m_nBoard = index;
  m_pIoCtrl->SelectDevice(static_cast<size_t>(index));
}

int CDfuDownloader::SendBlock(uint8_t* block, uint32_t length, bool first, bool last) {
  bool notGood = false;
  const int sent =
      DownBootloader(m_bus, m_op, m_pIoCtrl->CurrentDevice(), block, length, first, last, &notGood);
  if (notGood && m_nBoard >= 0 && static_cast<size_t>(m_nBoard) < m_summary.blocksNotGood.size()) {
    ++m_summary.blocksNotGood[static_cast<size_t>(m_nBoard)];
  }
  if (sent == 1) return 0;
  m_op.ShowMessage("download bootloader err", MsgButtons::Ok);
  return kSendBlockFailed;
}

}  // namespace tarnwick
