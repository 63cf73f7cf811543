#pragma once
// CIOCtrlHelper finds the boards among the host's disk devices: it opens
// every disk interface, asks it for its standard INQUIRY data, keeps open the
// devices that carry the board's identity and closes the others. On the way
// it writes a diagnostic report of every device to the debug log.
#include <array>
#include <cstdint>
#include <string>
#include <system_error>
#include <vector>

#include "platform/scsi_bus.h"
#include "usbdev/inquiry.h"

namespace tarnwick {

inline constexpr size_t kBoardTableSize = 8;

class CIOCtrlHelper {
 public:
  explicit CIOCtrlHelper(IScsiBus& bus);
  // Closes the boards still open.
  virtual ~CIOCtrlHelper();
  CIOCtrlHelper(const CIOCtrlHelper&) = delete;
  CIOCtrlHelper& operator=(const CIOCtrlHelper&) = delete;

  // A fresh search: the previous boards are closed first. True when at least
  // one board was found; then m_arrDevices and the first entries of the board table
  // list them.
  bool EnumerateDevices();
  // Examines interface `index` of the set: handle is the open device when it
  // is a board, 0 otherwise. False when the walk must stop.
  bool ProbeInterface(IScsiInterfaceSet& set, uint32_t index, ScsiHandle& handle);
  // Closes every kept board, in order, and forgets them.
  void CloseAllDevices();
  void SelectDevice(size_t index);

  // The diagnostic report.
  uint32_t QueryMediaType(ScsiHandle handle, std::string& name);
  void DumpInquiry(bool succeeded, uint32_t bytesReturned, const InquiryRecord& record);
  void DumpSense(const InquiryRecord& record);
  static void DumpBytes(const uint8_t* bytes, size_t count);
  // The system's text for a code, at most 79 characters.
  static void TraceSystemError(const std::error_code& code);

  IScsiBus& Bus() { return m_bus; }
  // The boards kept by the last search, in the order they were found.
  const std::vector<ScsiHandle>& Devices() const { return m_arrDevices; }
  // The board chosen by SelectDevice (0: none).
  ScsiHandle CurrentDevice() const { return m_hDevice; }
  // The boards of the last search that found any, in the order they were
  // found. Entries past the last search's count keep what they held. Not owning.
  const std::array<ScsiHandle, kBoardTableSize>& BoardTable() const { return m_ahBoard; }

 private:
  ScsiHandle m_hDevice = 0;
  std::vector<ScsiHandle> m_arrDevices;
  std::array<ScsiHandle, kBoardTableSize> m_ahBoard{};

  void ReportProperties(ScsiHandle handle);

  IScsiBus& m_bus;
};

// Names of the report.
const char* BusTypeName(uint32_t busType);
const char* DeviceTypeName(uint32_t deviceType);

}  // namespace tarnwick
