#include "usbdev/io_ctrl_helper.h"

#include <algorithm>
#include <memory>

#include "common/debug_log.h"

namespace tarnwick {

CIOCtrlHelper::CIOCtrlHelper(IScsiBus& bus) : m_bus(bus) {}

CIOCtrlHelper::~CIOCtrlHelper() {
  CloseAllDevices();
}

bool CIOCtrlHelper::EnumerateDevices() {
  SysResult<std::unique_ptr<IScsiInterfaceSet>> interfaces = m_bus.GetInterfaceSet();
  if (!interfaces) {
    DebugLog(1, "SetupDiGetClassDevs failed with error: %d\n", interfaces.Status().Code().value());
    return false;
  }
  std::unique_ptr<IScsiInterfaceSet> set = interfaces.Take();
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
  std::copy(m_arrDevices.begin(), m_arrDevices.end(), m_ahBoard.begin());
  return true;
}

bool CIOCtrlHelper::ProbeInterface(IScsiInterfaceSet& set, uint32_t index, ScsiHandle& handle) {
  const InterfacePath found = set.GetInterfacePath(index);
  const int error = found.error.Code().value();
  switch (found.lookup) {
    case InterfaceLookup::Found:
      break;
    case InterfaceLookup::NoMoreItems:
      DebugLog(2, "\nNo more interfaces\n");
      return false;
    case InterfaceLookup::EnumFailed:
      DebugLog(1, "SetupDiEnumDeviceInterfaces failed with error: %d\n", error);
      return false;
    case InterfaceLookup::DetailSizeFailed:
      DebugLog(1, "SetupDiGetDeviceInterfaceDetail failed with error: %d\n", error);
      return false;
    case InterfaceLookup::DetailFailed:
      DebugLog(1, "Error in SetupDiGetDeviceInterfaceDetail failed with error: %d\n", error);
      return false;
  }

  const std::string& path = found.path;
  DebugLog(2, "Interface: %s\n", path.c_str());
  SysResult<ScsiHandle> opened = m_bus.Open(path);
  if (!opened) {
    DebugLog(1, "CreateFile failed with error: %d\n", opened.Status().Code().value());
    return true;
  }
  const ScsiHandle device = opened.Value();

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
  m_hDevice = index < m_ahBoard.size() ? m_ahBoard[index] : 0;
}

}  // namespace tarnwick
