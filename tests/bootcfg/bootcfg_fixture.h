#pragma once
// Helpers for the boot record tests: configuration files written from the
// field lists, and field values read back at any width.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "bootcfg/config_fields.h"
#include "common/le.h"

namespace tarnwick::testing {

inline uint32_t GetField(const uint8_t* record, size_t offset, unsigned width) {
  switch (width) {
    case 1:
      return GetU8(record, offset);
    case 2:
      return GetU16(record, offset);
    default:
      return GetU32(record, offset);
  }
}

inline uint32_t LowBits(uint32_t value, unsigned width) {
  return width == 4 ? value : value & ((1u << (8 * width)) - 1);
}

// A distinct value for the n-th key: its low byte and low 16 bits differ from
// those of the other keys (n < 255), and its top byte makes it wider than
// any 8- or 16-bit field.
inline uint32_t DistinctValue(size_t n) {
  const uint32_t k = static_cast<uint32_t>(n + 1);
  return 0xC3000000u | ((k & 0xFFu) << 16) | ((k * 7u & 0xFFu) << 8) | (k & 0xFFu);
}

// Every other value in hexadecimal, the others in decimal.
inline std::string Notation(size_t n, uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, n % 2 ? "%u" : "0x%X", value);
  return text;
}

struct KeyValue {
  std::string section;
  std::string key;
  std::string value;
};

inline std::string IniText(const std::vector<KeyValue>& entries) {
  std::string text;
  std::string section;
  bool first = true;
  for (const KeyValue& e : entries) {
    if (first || e.section != section) text += "[" + e.section + "]\n";
    first = false;
    section = e.section;
    text += e.key + "=" + e.value + "\n";
  }
  return text;
}

}  // namespace tarnwick::testing
