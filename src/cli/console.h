#pragma once
// The command line's printing: every text goes through the host's WriteText,
// so a console shows it in any code page and a redirected stream gets UTF-8.
#include <string>
#include <string_view>

#include "common/printf_format.h"

namespace tarnwick::cli {

void Out(std::string_view text);
void Err(std::string_view text);
std::string Format(const char* format, ...) TW_PRINTF_FORMAT(1, 2);

}  // namespace tarnwick::cli
