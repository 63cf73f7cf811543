#pragma once
// The x86 boot code of the MBR (bytes 0..439, message offsets included) and
// of the FAT32 boot sector (bytes 90..509), assembled from the .S files here.
#include <cstdint>

namespace tarnwick {

extern const uint8_t kMbrBootCode[440];
extern const uint8_t kFat32BootCode[420];

}  // namespace tarnwick
