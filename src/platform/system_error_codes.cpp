#include "platform/system_error_codes.h"

#include <system_error>

namespace tarnwick {
namespace {

struct ErrnoCode {
  std::errc err;
  uint32_t code;
};

// The first entry for a code gives its text.
constexpr ErrnoCode kErrnoCodes[] = {
    {std::errc::function_not_supported, kErrorInvalidFunction},
    {std::errc::inappropriate_io_control_operation, kErrorInvalidFunction},
    {std::errc::operation_not_supported, kErrorInvalidFunction},
    {std::errc::no_such_file_or_directory, kErrorFileNotFound},
    {std::errc::permission_denied, kErrorAccessDenied},
    {std::errc::operation_not_permitted, kErrorAccessDenied},
    {std::errc::bad_file_descriptor, kErrorInvalidHandle},
    {std::errc::not_enough_memory, kErrorNotEnoughMemory},
    {std::errc::invalid_argument, kErrorInvalidParameter},
    {std::errc::timed_out, kErrorSemTimeout},
    {std::errc::device_or_resource_busy, kErrorBusy},
    {std::errc::resource_unavailable_try_again, kErrorBusy},
    {std::errc::interrupted, kErrorOperationAborted},
    {std::errc::io_error, kErrorIoDevice},
    {std::errc::no_such_device, kErrorDeviceNotConnected},
    {std::errc::no_such_device_or_address, kErrorDeviceNotConnected},
};

// Codes that no errno value stands for.
struct CodeText {
  uint32_t code;
  const char* text;
};
constexpr CodeText kCodeTexts[] = {
    {kErrorGenFailure, "A device attached to the system is not functioning."},
    {kErrorInsufficientBuffer, "The data area passed to a system call is too small."},
    {kErrorNoMoreItems, "No more data is available."},
};

}  // namespace

uint32_t ErrorCodeFromErrno(int err) {
  for (const ErrnoCode& e : kErrnoCodes) {
    if (static_cast<int>(e.err) == err) return e.code;
  }
  return kErrorGenFailure;
}

bool SystemErrorText(uint32_t code, size_t maxChars, std::string& text) {
  if (maxChars == 0) return false;
  bool found = false;
  for (const ErrnoCode& e : kErrnoCodes) {
    if (e.code == code) {
      text = std::make_error_code(e.err).message();
      found = true;
      break;
    }
  }
  for (const CodeText& t : kCodeTexts) {
    if (!found && t.code == code) {
      text = t.text;
      found = true;
    }
  }
  if (found && text.size() > maxChars - 1) text.resize(maxChars - 1);
  return found;
}

}  // namespace tarnwick
