#pragma once
// Windows only: UTF-8 paths to the UTF-16 the wide API takes, and a failed
// call's GetLastError code to the one error type.
#include <string>

#include "common/sys_status.h"

namespace tarnwick::win32 {

// The UTF-16 form of UTF-8 text (invalid sequences become U+FFFD).
std::wstring Widen(const std::string& utf8);
// The UTF-8 form of UTF-16 text.
std::string Narrow(const std::wstring& utf16);

// A failure with the system code and the system's own description of it
// (without its final line break).
SysStatus ErrorStatus(unsigned long code);
// The same for the calling thread's GetLastError().
SysStatus LastErrorStatus();

}  // namespace tarnwick::win32
