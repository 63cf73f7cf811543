#pragma once
// The standard INQUIRY that identifies a board, and the identity it must carry.
#include <array>
#include <cstddef>
#include <cstdint>

#include "platform/scsi_bus.h"

namespace tarnwick {

inline constexpr uint32_t kInquiryDataLength = 192;
inline constexpr uint8_t kInquirySenseLength = 24;
inline constexpr uint32_t kInquiryTimeoutSeconds = 2;

// Fields of the standard INQUIRY data.
namespace inquiry {
inline constexpr size_t kVendorId = 8;  // 8 bytes
inline constexpr size_t kVendorIdLength = 8;
inline constexpr size_t kProductId = 16;  // 16 bytes
inline constexpr size_t kProductIdLength = 16;
inline constexpr size_t kProductRevision = 32;  // 4 bytes
inline constexpr size_t kProductRevisionLength = 4;
inline constexpr size_t kVendorSpecific = 36;  // 20 bytes
inline constexpr size_t kVendorSpecificLength = 20;
static_assert(kVendorId + kVendorIdLength == kProductId);
static_assert(kProductId + kProductIdLength == kProductRevision);
static_assert(kProductRevision + kProductRevisionLength == kVendorSpecific);
static_assert(kVendorSpecific + kVendorSpecificLength <= kInquiryDataLength);
}  // namespace inquiry

// What the board's identity must contain (case-sensitive).
inline constexpr char kBoardVendor[] = "HALDREN";
inline constexpr char kBoardProduct[] = "RUZUD OVUD";

// An INQUIRY as sent and as answered: the outcome with status and sense, and
// the data area (zero where the device wrote nothing).
struct InquiryRecord {
  ScsiResult result;
  std::array<uint8_t, kInquiryDataLength> data{};
};

// The request: CDB 12 00 00 00 C0 00, 192 bytes from the device, 24 sense
// bytes, 2 seconds.
ScsiRequest MakeInquiryRequest(uint8_t* data);

// True when the vendor field contains kBoardVendor and the product field
// kBoardProduct; a zero byte ends a field's text early.
bool IsBoardIdentity(const std::array<uint8_t, kInquiryDataLength>& data);

}  // namespace tarnwick
