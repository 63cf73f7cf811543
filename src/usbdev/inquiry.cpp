#include "usbdev/inquiry.h"

#include <string_view>

namespace tarnwick {
namespace {

// The text of a fixed-width field: its bytes up to the first zero.
std::string_view FieldText(const uint8_t* field, size_t width) {
  std::string_view text(reinterpret_cast<const char*>(field), width);
  return text.substr(0, text.find('\0'));
}

}  // namespace

ScsiRequest MakeInquiryRequest(uint8_t* data) {
  ScsiRequest request;
  request.cdb = {0x12, 0x00, 0x00, 0x00, static_cast<uint8_t>(kInquiryDataLength), 0x00};
  request.cdbLength = 6;
  request.direction = ScsiDirection::FromDevice;
  request.data = data;
  request.dataLength = kInquiryDataLength;
  request.senseLength = kInquirySenseLength;
  request.timeoutSeconds = kInquiryTimeoutSeconds;
  return request;
}

bool IsBoardIdentity(const std::array<uint8_t, kInquiryDataLength>& data) {
  std::string_view vendor = FieldText(&data[inquiry::kVendorId], inquiry::kVendorIdLength);
  std::string_view product = FieldText(&data[inquiry::kProductId], inquiry::kProductIdLength);
  return vendor.find(kBoardVendor) != std::string_view::npos &&
         product.find(kBoardProduct) != std::string_view::npos;
}

}  // namespace tarnwick
