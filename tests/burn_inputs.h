#pragma once
// Inputs of a burn for the suites that link the engine: settings that are all
// zero, deterministic image bytes, and a pack file built from such images.
#include <cstdint>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/burn_engine.h"
#include "engine/pack_file.h"
#include "test_support.h"

namespace tarnwick::testing {

// Every setting reads as 0 (as from a missing settings file).
class ZeroSettings : public ISettingsReader {
 public:
  int ReadInt(const std::string&, const std::string&) override { return 0; }
};

// Bytes of a fixed pattern that differs from seed to seed and never repeats
// within a sector.
inline std::vector<uint8_t> PatternBytes(size_t length, uint32_t seed) {
  std::vector<uint8_t> bytes(length);
  for (size_t i = 0; i < length; ++i) bytes[i] = static_cast<uint8_t>((i * 31 + seed) % 251 + 1);
  return bytes;
}

// Writes each image to its own file in dir and packs them (an empty image
// leaves its slot empty); returns the pack's path, or throws when the pack
// cannot be written.
inline std::string WritePack(const TempDir& dir,
                             const std::map<PackSlot, std::vector<uint8_t>>& images,
                             const std::string& name = "images.pak") {
  PackInputs inputs;
  for (const auto& [slot, bytes] : images) {
    if (bytes.empty()) continue;
    const std::string file = dir.File(std::string(PackSlotName(slot)) + ".img");
    WriteFile(file, bytes);
    inputs.files[static_cast<size_t>(slot)] = file;
  }
  if (const SysStatus written = WritePackFile(dir.File(name), inputs); !written) {
    throw std::runtime_error(written.Text());
  }
  return dir.File(name);
}

}  // namespace tarnwick::testing
