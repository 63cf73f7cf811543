#pragma once
// The failure of a system call on Linux: errno in the system category, with
// the operator's text.
#include <string>
#include <system_error>

#include "common/sys_status.h"

namespace tarnwick {

inline SysStatus ErrnoStatus(int err, std::string text) {
  return {std::error_code(err, std::system_category()), std::move(text)};
}

// A refusal that is not the system's (a rule of this tool), in terms of a
// portable condition.
inline SysStatus Refusal(std::errc condition, std::string text) {
  return {std::make_error_code(condition), std::move(text)};
}

}  // namespace tarnwick
