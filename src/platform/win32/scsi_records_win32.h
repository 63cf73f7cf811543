#pragma once
// The records the SCSI bus exchanges with the Windows storage stack, as the
// 64-bit system lays them out: offsets and sizes as constants, every field
// encoded and decoded explicitly (little-endian). scsi_records_win32.cpp
// checks the offsets against the SDK's structures at compile time.
#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/scsi_bus.h"

namespace tarnwick::win32 {

static_assert(sizeof(void*) == 8, "the records below are the 64-bit layouts");

// DeviceIoControl codes.
inline constexpr uint32_t kIoctlStorageQueryProperty = 0x2D1400;
inline constexpr uint32_t kIoctlStorageGetMediaTypesEx = 0x2D0C04;
inline constexpr uint32_t kIoctlScsiPassThrough = 0x4D004;
inline constexpr uint32_t kIoctlScsiPassThroughDirect = 0x4D014;

// Error codes the bus tells apart.
inline constexpr uint32_t kErrorInvalidData = 13;
inline constexpr uint32_t kErrorInsufficientBuffer = 122;
inline constexpr uint32_t kErrorSemTimeout = 121;
inline constexpr uint32_t kErrorNoMoreItems = 259;
inline constexpr uint32_t kErrorInvalidHandle = 6;

// SP_DEVICE_INTERFACE_DATA: cbSize, the class GUID, flags, a reserved pointer.
namespace ifdata {
inline constexpr size_t kCbSize = 0;
inline constexpr size_t kSize = 32;
}  // namespace ifdata

// SP_DEVICE_INTERFACE_DETAIL_DATA_A: cbSize (the size of the fixed part, not
// of the buffer), then the device path as zero-terminated text.
namespace ifdetail {
inline constexpr size_t kCbSize = 0;
inline constexpr size_t kDevicePath = 4;
inline constexpr uint32_t kFixedSize = 8;
}  // namespace ifdetail

// SCSI_PASS_THROUGH and SCSI_PASS_THROUGH_DIRECT. They differ only in the
// pointer-sized field at kDataBuffer: the data area's offset from the record's
// start (buffered) or the data's address (direct).
namespace spt {
inline constexpr size_t kLength = 0;  // 16 bits: the record's size
inline constexpr size_t kScsiStatus = 2;
inline constexpr size_t kPathId = 3;
inline constexpr size_t kTargetId = 4;
inline constexpr size_t kLun = 5;
inline constexpr size_t kCdbLength = 6;
inline constexpr size_t kSenseInfoLength = 7;
inline constexpr size_t kDataIn = 8;
inline constexpr size_t kDataTransferLength = 12;
inline constexpr size_t kTimeOutValue = 16;
inline constexpr size_t kDataBuffer = 24;  // 64 bits
inline constexpr size_t kSenseInfoOffset = 32;
inline constexpr size_t kCdb = 36;  // 16 bytes
inline constexpr size_t kSize = 56;

// Values of DataIn.
inline constexpr uint8_t kDirectionOut = 0;  // host to device
inline constexpr uint8_t kDirectionIn = 1;   // device to host
inline constexpr uint8_t kDirectionUnspecified = 2;

// The target as the request names it (the port driver addresses the device
// of the handle whatever these say).
inline constexpr uint8_t kRequestTargetId = 1;
}  // namespace spt
static_assert(spt::kCdb + kMaxCdbLength <= spt::kSize);

// A request in one buffer: the record, 4 unused bytes, the sense area, then
// (buffered only) the data area.
inline constexpr size_t kSenseAreaOffset = spt::kSize + 4;
inline constexpr size_t kSenseAreaLength = kMaxSenseLength;
inline constexpr size_t kDataAreaOffset = kSenseAreaOffset + kSenseAreaLength;
inline constexpr size_t kDirectRequestSize = kDataAreaOffset;

// A buffered pass-through, for data from the device (or none): the whole
// request (kDataAreaOffset + data length bytes), zero but for the record.
std::vector<uint8_t> EncodeBufferedRequest(const ScsiRequest& request);
// A direct pass-through whose data lies at `data`.
std::array<uint8_t, kDirectRequestSize> EncodeDirectRequest(const ScsiRequest& request,
                                                            const uint8_t* data);
// The answer the system wrote back into a request of either kind: SCSI
// status, sense bytes (no more than were asked for) and the data length.
ScsiResult DecodeCompletedRequest(const uint8_t* request, size_t size, const ScsiRequest& sent);

// STORAGE_PROPERTY_QUERY: PropertyId, QueryType (0: the standard answer),
// one byte of parameters, padded.
namespace propquery {
inline constexpr size_t kPropertyId = 0;
inline constexpr size_t kQueryType = 4;
inline constexpr size_t kSize = 12;
inline constexpr uint32_t kStorageDeviceProperty = 0;
inline constexpr uint32_t kStorageAdapterProperty = 1;
}  // namespace propquery
// Room for the answer of either query.
inline constexpr size_t kPropertyAnswerSize = 512;

std::array<uint8_t, propquery::kSize> EncodePropertyQuery(uint32_t propertyId);

// STORAGE_ADAPTER_DESCRIPTOR.
namespace adapterdesc {
inline constexpr size_t kMaximumTransferLength = 8;
inline constexpr size_t kMaximumPhysicalPages = 12;
inline constexpr size_t kAlignmentMask = 16;
inline constexpr size_t kBusType = 24;  // 8 bits
}  // namespace adapterdesc

// STORAGE_DEVICE_DESCRIPTOR; the texts lie at their offsets from its start.
namespace devicedesc {
inline constexpr size_t kDeviceType = 8;
inline constexpr size_t kDeviceTypeModifier = 9;
inline constexpr size_t kRemovableMedia = 10;
inline constexpr size_t kVendorIdOffset = 12;
inline constexpr size_t kProductIdOffset = 16;
inline constexpr size_t kProductRevisionOffset = 20;
inline constexpr size_t kSerialNumberOffset = 24;
inline constexpr size_t kRawDeviceProperties = 36;
}  // namespace devicedesc

// Fields past the `returned` bytes of the answer read as zero; a text whose
// offset is zero or past them is left empty, and ends at its zero byte or at
// the end of the answer.
ScsiAdapterProperties DecodeAdapterDescriptor(const uint8_t* answer, size_t returned);
ScsiDeviceProperties DecodeDeviceDescriptor(const uint8_t* answer, size_t returned);

// GET_MEDIA_TYPES: the device type first.
namespace mediatypes {
inline constexpr size_t kDeviceType = 0;
inline constexpr size_t kMediaInfoCount = 4;
inline constexpr size_t kAnswerSize = 2048;
}  // namespace mediatypes

}  // namespace tarnwick::win32
