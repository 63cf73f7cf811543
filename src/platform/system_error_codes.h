#pragma once
// The Windows system error codes that the board search and the download use,
// and their translation from and to POSIX errno values, so that every backend
// reports its failures in the same terms.
#include <cstdint>
#include <string>

namespace tarnwick {

inline constexpr uint32_t kErrorInvalidFunction = 1;
inline constexpr uint32_t kErrorFileNotFound = 2;
inline constexpr uint32_t kErrorAccessDenied = 5;
inline constexpr uint32_t kErrorInvalidHandle = 6;
inline constexpr uint32_t kErrorNotEnoughMemory = 8;
inline constexpr uint32_t kErrorGenFailure = 31;
inline constexpr uint32_t kErrorInvalidParameter = 87;
inline constexpr uint32_t kErrorSemTimeout = 121;
inline constexpr uint32_t kErrorInsufficientBuffer = 122;
inline constexpr uint32_t kErrorBusy = 170;
inline constexpr uint32_t kErrorNoMoreItems = 259;
inline constexpr uint32_t kErrorMessageNotFound = 317;
inline constexpr uint32_t kErrorOperationAborted = 995;
inline constexpr uint32_t kErrorIoDevice = 1117;
inline constexpr uint32_t kErrorDeviceNotConnected = 1167;

// The code for an errno value (ERROR_GEN_FAILURE for one without a better match).
uint32_t ErrorCodeFromErrno(int err);

// The system's message text for a code, cut to at most maxChars - 1
// characters. False when the code has no text.
[[nodiscard]] bool SystemErrorText(uint32_t code, size_t maxChars, std::string& text);

}  // namespace tarnwick
