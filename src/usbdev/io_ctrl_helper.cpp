#include "usbdev/io_ctrl_helper.h"

#include <algorithm>
#include <memory>

#include "common/debug_log.h"
#include "platform/system_error_codes.h"

namespace tarnwick {

std::array<ScsiHandle, kBoardTableSize> g_ahBoard{};

CIOCtrlHelper::CIOCtrlHelper(IScsiBus& bus) : m_bus(bus) {}

CIOCtrlHelper::~CIOCtrlHelper() {
  CloseAllDevices();
}

bool CIOCtrlHelper::EnumerateDevices() {
  uint32_t error = 0;
  std::unique_ptr<IScsiInterfaceSet> set = m_bus.GetInterfaceSet(error);
  if (!set) {
    DebugLog(1, "SetupDiGetClassDevs failed with error: %d\n", static_cast<int>(error));
    return false;
  }
  CloseAllDevices();
  for (uint32_t index = 0;; ++index) {
    ScsiHandle handle = 0;
    if (!ProbeInterface(*set, index, handle)) break;
    if (handle == 0) continue;
    if (m_arrDevices.size() == kBoardTableSize) {
      // The board table has room for eight; a further board is not kept open.
      DebugLog(1, "More than %u boards: the board at interface %u is closed and not used.\n",
               static_cast<unsigned>(kBoardTableSize), index);
      if (!m_bus.Close(handle)) DebugLog(2, "Failed to close device.\n");
      continue;
    }
    m_arrDevices.push_back(handle);
  }
  set.reset();
  if (m_arrDevices.empty()) return false;
  std::copy(m_arrDevices.begin(), m_arrDevices.end(), g_ahBoard.begin());
  return true;
}

bool CIOCtrlHelper::ProbeInterface(IScsiInterfaceSet& set, uint32_t index, ScsiHandle& handle) {
  std::string path;
  uint32_t error = 0;
  switch (set.GetInterfacePath(index, path, error)) {
    case InterfaceLookup::Found:
      break;
    case InterfaceLookup::EnumFailed:
      if (error == kErrorNoMoreItems) {
        DebugLog(2, "\nNo more interfaces\n");
      } else {
        DebugLog(1, "SetupDiEnumDeviceInterfaces failed with error: %d\n", static_cast<int>(error));
      }
      return false;
    case InterfaceLookup::DetailSizeFailed:
      DebugLog(1, "SetupDiGetDeviceInterfaceDetail failed with error: %d\n",
               static_cast<int>(error));
      return false;
    case InterfaceLookup::DetailFailed:
      DebugLog(1, "Error in SetupDiGetDeviceInterfaceDetail failed with error: %d\n",
               static_cast<int>(error));
      return false;
  }

  DebugLog(2, "Interface: %s\n", path.c_str());
  ScsiHandle device = 0;
  if (!m_bus.Open(path, device, error)) {
    DebugLog(1, "CreateFile failed with error: %d\n", static_cast<int>(error));
    return true;
  }

  ReportProperties(device);

  InquiryRecord record;
  record.result = m_bus.PassThrough(device, MakeInquiryRequest(record.data.data()));
  bool succeeded = record.result.outcome == ScsiOutcome::Completed;
  // A request that did not complete leaves no data, so it never matches.
  if (!succeeded) record.data.fill(0);
  // As the pass-through answer counts it: the 80-byte request area, then the data.
  constexpr uint32_t kDataBufferOffset = 80;
  DumpInquiry(succeeded, succeeded ? kDataBufferOffset + record.result.dataTransferred : 0, record);

  if (IsBoardIdentity(record.data)) {
    handle = device;
  } else if (!m_bus.Close(device)) {
    DebugLog(2, "Failed to close device.\n");
  }
  return true;
}

void CIOCtrlHelper::CloseAllDevices() {
  for (ScsiHandle handle : m_arrDevices) {
    if (!m_bus.Close(handle)) DebugLog(2, "Failed to close device.\n");
  }
  m_arrDevices.clear();
}

void CIOCtrlHelper::SelectDevice(size_t index) {
  m_hDevice = index < g_ahBoard.size() ? g_ahBoard[index] : 0;
}

}  // namespace tarnwick
