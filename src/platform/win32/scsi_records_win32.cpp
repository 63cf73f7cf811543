#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>
// The SDK headers below need <windows.h> first.
#include <ntddscsi.h>
#include <setupapi.h>
#include <winioctl.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "common/le.h"
#include "platform/win32/scsi_records_win32.h"

namespace tarnwick::win32 {

// Our layouts are the SDK's.
static_assert(sizeof(SP_DEVICE_INTERFACE_DATA) == ifdata::kSize);
static_assert(offsetof(SP_DEVICE_INTERFACE_DATA, cbSize) == ifdata::kCbSize);
static_assert(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) == ifdetail::kFixedSize);
static_assert(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath) == ifdetail::kDevicePath);

static_assert(sizeof(SCSI_PASS_THROUGH) == spt::kSize);
static_assert(sizeof(SCSI_PASS_THROUGH_DIRECT) == spt::kSize);
static_assert(offsetof(SCSI_PASS_THROUGH, Length) == spt::kLength);
static_assert(offsetof(SCSI_PASS_THROUGH, ScsiStatus) == spt::kScsiStatus);
static_assert(offsetof(SCSI_PASS_THROUGH, PathId) == spt::kPathId);
static_assert(offsetof(SCSI_PASS_THROUGH, TargetId) == spt::kTargetId);
static_assert(offsetof(SCSI_PASS_THROUGH, Lun) == spt::kLun);
static_assert(offsetof(SCSI_PASS_THROUGH, CdbLength) == spt::kCdbLength);
static_assert(offsetof(SCSI_PASS_THROUGH, SenseInfoLength) == spt::kSenseInfoLength);
static_assert(offsetof(SCSI_PASS_THROUGH, DataIn) == spt::kDataIn);
static_assert(offsetof(SCSI_PASS_THROUGH, DataTransferLength) == spt::kDataTransferLength);
static_assert(offsetof(SCSI_PASS_THROUGH, TimeOutValue) == spt::kTimeOutValue);
static_assert(offsetof(SCSI_PASS_THROUGH, DataBufferOffset) == spt::kDataBuffer);
static_assert(sizeof(SCSI_PASS_THROUGH::DataBufferOffset) == 8);
static_assert(offsetof(SCSI_PASS_THROUGH, SenseInfoOffset) == spt::kSenseInfoOffset);
static_assert(offsetof(SCSI_PASS_THROUGH, Cdb) == spt::kCdb);
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, DataTransferLength) == spt::kDataTransferLength);
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, TimeOutValue) == spt::kTimeOutValue);
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, DataBuffer) == spt::kDataBuffer);
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, SenseInfoOffset) == spt::kSenseInfoOffset);
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, Cdb) == spt::kCdb);
static_assert(SCSI_IOCTL_DATA_OUT == spt::kDirectionOut &&
              SCSI_IOCTL_DATA_IN == spt::kDirectionIn &&
              SCSI_IOCTL_DATA_UNSPECIFIED == spt::kDirectionUnspecified);
static_assert(IOCTL_SCSI_PASS_THROUGH == kIoctlScsiPassThrough);
static_assert(IOCTL_SCSI_PASS_THROUGH_DIRECT == kIoctlScsiPassThroughDirect);
static_assert(IOCTL_STORAGE_QUERY_PROPERTY == kIoctlStorageQueryProperty);
static_assert(IOCTL_STORAGE_GET_MEDIA_TYPES_EX == kIoctlStorageGetMediaTypesEx);
static_assert(ERROR_INSUFFICIENT_BUFFER == kErrorInsufficientBuffer &&
              ERROR_SEM_TIMEOUT == kErrorSemTimeout && ERROR_NO_MORE_ITEMS == kErrorNoMoreItems &&
              ERROR_INVALID_DATA == kErrorInvalidData &&
              ERROR_INVALID_HANDLE == kErrorInvalidHandle);

static_assert(sizeof(STORAGE_PROPERTY_QUERY) == propquery::kSize);
static_assert(offsetof(STORAGE_PROPERTY_QUERY, PropertyId) == propquery::kPropertyId);
static_assert(offsetof(STORAGE_PROPERTY_QUERY, QueryType) == propquery::kQueryType);
static_assert(StorageDeviceProperty == propquery::kStorageDeviceProperty &&
              StorageAdapterProperty == propquery::kStorageAdapterProperty);
static_assert(offsetof(STORAGE_ADAPTER_DESCRIPTOR, MaximumTransferLength) ==
              adapterdesc::kMaximumTransferLength);
static_assert(offsetof(STORAGE_ADAPTER_DESCRIPTOR, MaximumPhysicalPages) ==
              adapterdesc::kMaximumPhysicalPages);
static_assert(offsetof(STORAGE_ADAPTER_DESCRIPTOR, AlignmentMask) == adapterdesc::kAlignmentMask);
static_assert(offsetof(STORAGE_ADAPTER_DESCRIPTOR, BusType) == adapterdesc::kBusType);
static_assert(offsetof(STORAGE_DEVICE_DESCRIPTOR, DeviceType) == devicedesc::kDeviceType);
static_assert(offsetof(STORAGE_DEVICE_DESCRIPTOR, DeviceTypeModifier) ==
              devicedesc::kDeviceTypeModifier);
static_assert(offsetof(STORAGE_DEVICE_DESCRIPTOR, RemovableMedia) == devicedesc::kRemovableMedia);
static_assert(offsetof(STORAGE_DEVICE_DESCRIPTOR, VendorIdOffset) == devicedesc::kVendorIdOffset);
static_assert(offsetof(STORAGE_DEVICE_DESCRIPTOR, ProductIdOffset) == devicedesc::kProductIdOffset);
static_assert(offsetof(STORAGE_DEVICE_DESCRIPTOR, ProductRevisionOffset) ==
              devicedesc::kProductRevisionOffset);
static_assert(offsetof(STORAGE_DEVICE_DESCRIPTOR, SerialNumberOffset) ==
              devicedesc::kSerialNumberOffset);
static_assert(offsetof(STORAGE_DEVICE_DESCRIPTOR, RawDeviceProperties) ==
              devicedesc::kRawDeviceProperties);
static_assert(offsetof(GET_MEDIA_TYPES, DeviceType) == mediatypes::kDeviceType);
static_assert(offsetof(GET_MEDIA_TYPES, MediaInfoCount) == mediatypes::kMediaInfoCount);

namespace {

uint8_t DirectionOf(const ScsiRequest& request) {
  if (request.dataLength == 0) return spt::kDirectionUnspecified;
  switch (request.direction) {
    case ScsiDirection::FromDevice:
      return spt::kDirectionIn;
    case ScsiDirection::ToDevice:
      return spt::kDirectionOut;
    case ScsiDirection::None:
      break;
  }
  return spt::kDirectionUnspecified;
}

// The fields both kinds share; the caller sets the data buffer field.
void EncodeRecord(uint8_t* record, const ScsiRequest& request) {
  const uint8_t cdbLength = std::min<uint8_t>(request.cdbLength, kMaxCdbLength);
  PutU16(record, spt::kLength, spt::kSize);
  PutU8(record, spt::kPathId, 0);
  PutU8(record, spt::kTargetId, spt::kRequestTargetId);
  PutU8(record, spt::kLun, 0);
  PutU8(record, spt::kCdbLength, cdbLength);
  PutU8(record, spt::kSenseInfoLength, std::min<uint8_t>(request.senseLength, kSenseAreaLength));
  PutU8(record, spt::kDataIn, DirectionOf(request));
  PutU32(record, spt::kDataTransferLength, request.dataLength);
  PutU32(record, spt::kTimeOutValue, request.timeoutSeconds);
  PutU32(record, spt::kSenseInfoOffset, kSenseAreaOffset);
  std::copy_n(request.cdb.begin(), cdbLength, record + spt::kCdb);
}

uint32_t U32Within(const uint8_t* answer, size_t returned, size_t offset) {
  return offset + 4 <= returned ? GetU32(answer, offset) : 0;
}

uint8_t U8Within(const uint8_t* answer, size_t returned, size_t offset) {
  return offset < returned ? answer[offset] : 0;
}

std::string TextAt(const uint8_t* answer, size_t returned, size_t offsetField) {
  const uint32_t offset = U32Within(answer, returned, offsetField);
  if (offset == 0 || offset >= returned) return {};
  const uint8_t* begin = answer + offset;
  const uint8_t* end = std::find(begin, answer + returned, 0);
  return std::string(begin, end);
}

}  // namespace

std::vector<uint8_t> EncodeBufferedRequest(const ScsiRequest& request) {
  std::vector<uint8_t> buffer(kDataAreaOffset + request.dataLength, 0);
  EncodeRecord(buffer.data(), request);
  PutU64(buffer.data(), spt::kDataBuffer, kDataAreaOffset);
  return buffer;
}

std::array<uint8_t, kDirectRequestSize> EncodeDirectRequest(const ScsiRequest& request,
                                                            const uint8_t* data) {
  std::array<uint8_t, kDirectRequestSize> buffer{};
  EncodeRecord(buffer.data(), request);
  PutU64(buffer.data(), spt::kDataBuffer, reinterpret_cast<uintptr_t>(data));
  return buffer;
}

ScsiResult DecodeCompletedRequest(const uint8_t* request, size_t size, const ScsiRequest& sent) {
  ScsiResult result;
  result.outcome = ScsiOutcome::Completed;
  if (size < kDirectRequestSize) return result;
  result.scsiStatus = GetU8(request, spt::kScsiStatus);
  const uint8_t asked = std::min<uint8_t>(sent.senseLength, kSenseAreaLength);
  result.senseLength = std::min<uint8_t>(GetU8(request, spt::kSenseInfoLength), asked);
  std::copy_n(request + kSenseAreaOffset, result.senseLength, result.sense.begin());
  result.dataTransferred = std::min(GetU32(request, spt::kDataTransferLength), sent.dataLength);
  return result;
}

std::array<uint8_t, propquery::kSize> EncodePropertyQuery(uint32_t propertyId) {
  std::array<uint8_t, propquery::kSize> query{};
  PutU32(query.data(), propquery::kPropertyId, propertyId);
  PutU32(query.data(), propquery::kQueryType, 0);  // the standard answer
  return query;
}

ScsiAdapterProperties DecodeAdapterDescriptor(const uint8_t* answer, size_t returned) {
  ScsiAdapterProperties properties;
  properties.busType = U8Within(answer, returned, adapterdesc::kBusType);
  properties.maxTransferLength = U32Within(answer, returned, adapterdesc::kMaximumTransferLength);
  properties.maxPhysicalPages = U32Within(answer, returned, adapterdesc::kMaximumPhysicalPages);
  properties.alignmentMask = U32Within(answer, returned, adapterdesc::kAlignmentMask);
  return properties;
}

ScsiDeviceProperties DecodeDeviceDescriptor(const uint8_t* answer, size_t returned) {
  ScsiDeviceProperties properties;
  properties.deviceType = U8Within(answer, returned, devicedesc::kDeviceType);
  properties.deviceTypeModifier = U8Within(answer, returned, devicedesc::kDeviceTypeModifier);
  properties.removableMedia = U8Within(answer, returned, devicedesc::kRemovableMedia) != 0;
  properties.vendorId = TextAt(answer, returned, devicedesc::kVendorIdOffset);
  properties.productId = TextAt(answer, returned, devicedesc::kProductIdOffset);
  properties.productRevision = TextAt(answer, returned, devicedesc::kProductRevisionOffset);
  properties.serialNumber = TextAt(answer, returned, devicedesc::kSerialNumberOffset);
  return properties;
}

}  // namespace tarnwick::win32
