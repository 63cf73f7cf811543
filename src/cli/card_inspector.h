#pragma once
// Decodes a burned card and checks that every record on it is consistent:
// MBR, EBR chain, partition plan, BootInfo, UBootInfo, the boot loader
// copies and the FAT32 structures. It only reads.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/sys_status.h"

namespace tarnwick::cli {

// Where the inspector reads the card from.
class ICardSource {
 public:
  virtual ~ICardSource() = default;
  virtual uint64_t SizeBytes() const = 0;
  // Reads count sectors from the absolute sector first into out (resized).
  // False with *error when they cannot be read.
  virtual SysStatus ReadSectors(uint64_t first, uint32_t count, std::vector<uint8_t>& out) = 0;
};

// What a configuration file says the card should hold ("PARTITION_SECTORS").
struct ExpectedLayout {
  uint32_t boot = 0, recovery = 0, system = 0, data = 0, cache = 0;
  std::array<char, 11> label{};  // space-padded
};

// Reads section "PARTITION_SECTORS" of a configuration file.
ExpectedLayout ReadExpectedLayout(const std::string& cfgFile);

struct InspectResult {
  std::string report;                 // readable, one item per line
  std::vector<std::string> problems;  // empty when the card is consistent
};

InspectResult InspectCard(ICardSource& card, const std::optional<ExpectedLayout>& expected);

// Text read from a card, safe to print on a terminal: printable ASCII as it
// is, a backslash doubled, every other byte (control characters, escape
// sequences, bytes of 0x80 and above) as \xNN.
std::string PrintableText(const void* bytes, size_t length);

}  // namespace tarnwick::cli
