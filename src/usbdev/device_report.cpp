// The diagnostic report that the board search writes for every disk device.
#include <algorithm>

#include "common/debug_log.h"
#include "usbdev/io_ctrl_helper.h"

namespace tarnwick {
namespace {

constexpr const char* kBusTypeNames[] = {"UNKNOWN", "SCSI",  "ATAPI", "ATA", "IEEE 1394",
                                         "SSA",     "FIBRE", "USB",   "RAID"};

constexpr const char* kDeviceTypeNames[] = {
    "Direct Access Device", "Tape Device",      "Printer Device", "Processor Device",
    "WORM Device",          "CDROM Device",     "Scanner Device", "Optical Disk",
    "Media Changer",        "Comm. Device",     "ASCIT8",         "ASCIT8",
    "Array Device",         "Enclosure Device", "RBC Device",     "Unknown Device"};

constexpr uint32_t kMediaCdRom = 2;
constexpr uint32_t kMediaDvd = 0x33;
constexpr size_t kErrorTextChars = 80;
// The code the system's message lookup fails with when a code has no text.
constexpr int kMessageNotFound = 317;

void LogChars(const uint8_t* bytes, size_t count) {
  for (size_t i = 0; i < count; ++i) DebugLog(1, "%c", bytes[i]);
}

void LogText(const char* label, const std::string& text) {
  if (text.empty()) return;
  DebugLog(1, "%s", label);
  LogChars(reinterpret_cast<const uint8_t*>(text.data()), text.size());
  DebugLog(1, "\n");
}

}  // namespace

const char* BusTypeName(uint32_t busType) {
  // Bus types past the table have no name of their own.
  return busType < std::size(kBusTypeNames) ? kBusTypeNames[busType] : kBusTypeNames[0];
}

const char* DeviceTypeName(uint32_t deviceType) {
  return kDeviceTypeNames[std::min<uint32_t>(deviceType, 15)];
}

void CIOCtrlHelper::ReportProperties(ScsiHandle handle) {
  ScsiDeviceProperties device;
  uint32_t mediaType = 0;
  std::string mediaName;
  SysResult<ScsiAdapterProperties> adapterAnswer = m_bus.QueryAdapter(handle);
  SysStatus status = adapterAnswer.Status();
  if (status) {
    const ScsiAdapterProperties& adapter = adapterAnswer.Value();
    DebugLog(1, "\nAdapter Properties\n");
    DebugLog(1, "------------------\n");
    DebugLog(1, "Bus Type       : %s\n", BusTypeName(adapter.busType));
    DebugLog(1, "Max. Tr. Length: 0x%x\n", adapter.maxTransferLength);
    DebugLog(1, "Max. Phy. Pages: 0x%x\n", adapter.maxPhysicalPages);
    DebugLog(1, "Alignment Mask : 0x%x\n", adapter.alignmentMask);
    mediaType = QueryMediaType(handle, mediaName);
    SysResult<ScsiDeviceProperties> deviceAnswer = m_bus.QueryDevice(handle);
    status = deviceAnswer.Status();
    if (status) device = deviceAnswer.Take();
  }
  if (!status) {
    DebugLog(1, "IOCTL failed with error code%d.\n\n", status.Code().value());
    return;
  }
  DebugLog(1, "\nDevice Properties\n");
  DebugLog(1, "-----------------\n");
  DebugLog(1, "SCSI Device Type: %s (0x%X)\n", DeviceTypeName(device.deviceType),
           device.deviceType);
  if (mediaType != 0) DebugLog(1, "Media Type      : %s (0x%x)\n", mediaName.c_str(), mediaType);
  if (device.deviceTypeModifier != 0) {
    DebugLog(1, "Device Modifier : 0x%x\n", device.deviceTypeModifier);
  }
  DebugLog(1, "Removable Media : %s\n", device.removableMedia ? "Yes" : "No");
  LogText("Vendor ID       : ", device.vendorId);
  LogText("Product ID      : ", device.productId);
  LogText("Product Revision: ", device.productRevision);
  LogText("Serial Number   : ", device.serialNumber);
}

uint32_t CIOCtrlHelper::QueryMediaType(ScsiHandle handle, std::string& name) {
  SysResult<uint32_t> answer = m_bus.QueryMediaType(handle);
  if (!answer) {
    DebugLog(2, "IOCTL_STORAGE_GET_MEDIA_TYPES_EX failed with error code%d.\n\n",
             answer.Status().Code().value());
    return 0;
  }
  const uint32_t deviceType = answer.Value();
  name = deviceType == kMediaCdRom ? "CD-ROM" : deviceType == kMediaDvd ? "DVD" : "Unknown";
  return deviceType;
}

void CIOCtrlHelper::DumpInquiry(bool succeeded, uint32_t bytesReturned,
                                const InquiryRecord& record) {
  DebugLog(1, "\nInquiry Data from Pass Through\n");
  DebugLog(1, "------------------------------\n");
  if (!succeeded) {
    DebugLog(1, "Error: %d ", record.result.error.Code().value());
    TraceSystemError(record.result.error.Code());
    return;
  }
  if (record.result.scsiStatus != 0) {
    DumpSense(record);
    return;
  }
  const uint8_t* data = record.data.data();
  uint32_t type = data[0] & 0x1F;
  DebugLog(1, "Device Type: %s (0x%X)\n", DeviceTypeName(type), type);
  DebugLog(1, "Vendor ID  : ");
  LogChars(data + inquiry::kVendorId, inquiry::kVendorIdLength);
  DebugLog(1, "\nProduct ID : ");
  LogChars(data + inquiry::kProductId, inquiry::kProductIdLength);
  DebugLog(1, "\nProduct Rev: ");
  LogChars(data + inquiry::kProductRevision, inquiry::kProductRevisionLength);
  DebugLog(1, "\nVendor Str : ");
  LogChars(data + inquiry::kVendorSpecific, inquiry::kVendorSpecificLength);
  DebugLog(1, "\n\n");

  DebugLog(3, "Scsi status: %02Xh, Bytes returned: %Xh, ", record.result.scsiStatus, bytesReturned);
  DebugLog(3, "Data buffer length: %Xh\n\n\n", record.result.dataTransferred);
  DumpBytes(data, record.data.size());
}

void CIOCtrlHelper::DumpSense(const InquiryRecord& record) {
  DebugLog(1, "Scsi status: %02Xh\n\n", record.result.scsiStatus);
  if (record.result.senseLength == 0) return;
  DebugLog(3, "Sense Info -- consult SCSI spec for details\n");
  DebugLog(3, "-------------------------------------------------------------\n");
  // Never more than the sense area holds, whatever count the bus reports.
  const size_t senseBytes = std::min<size_t>(record.result.senseLength, record.result.sense.size());
  for (size_t i = 0; i < senseBytes; ++i) {
    DebugLog(3, "%02X ", record.result.sense[i]);
  }
  DebugLog(1, "\n\n");
}

void CIOCtrlHelper::DumpBytes(const uint8_t* bytes, size_t count) {
  DebugLog(3, "      00  01  02  03  04  05  06  07   08  09  0A  0B  0C  0D  0E  0F\n");
  DebugLog(3, "      ---------------------------------------------------------------\n");
  for (size_t i = 0; i < count; ++i) {
    if (i % 16 == 0) DebugLog(3, " %03X  ", static_cast<unsigned>(i));
    DebugLog(3, "%02X  ", bytes[i]);
    if (i % 16 == 7) DebugLog(3, " ");
    if (i % 16 == 15) DebugLog(3, "\n");
  }
  DebugLog(3, "\n\n");
}

void CIOCtrlHelper::TraceSystemError(const std::error_code& code) {
  std::string text = code.message();
  if (text.empty()) {
    DebugLog(1, "Format message failed.  Error: %d\n", kMessageNotFound);
    return;
  }
  if (text.size() > kErrorTextChars - 1) text.resize(kErrorTextChars - 1);
  DebugLog(1, "%s\n", text.c_str());
}

}  // namespace tarnwick
