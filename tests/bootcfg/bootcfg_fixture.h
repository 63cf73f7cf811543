#pragma once
// Helpers for the boot record tests: a configuration setting every key of a
// field list (as a value and as the text of a file), and field values read
// back at any width.
#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "bootcfg/board_config.h"
#include "bootcfg/config_fields.h"
#include "common/le.h"

namespace tarnwick::testing {

inline uint32_t GetField(const uint8_t* record, size_t offset, unsigned width) {
  return width == 1   ? GetU8(record, offset)
         : width == 2 ? GetU16(record, offset)
                      : GetU32(record, offset);
}

inline uint32_t ZlibComplement(const uint8_t* bytes, size_t length) {
  return ~static_cast<uint32_t>(crc32(0L, bytes, static_cast<uInt>(length)));
}

struct ExpectedField {
  size_t offset;
  unsigned width;
  uint32_t value;
};

// A configuration as file text and as value and, per key in read order, the
// key's whole value and the field that must hold its low bits.
struct AllKeys {
  std::string ini;
  BoardConfig config;
  std::vector<ExpectedField> expected;
  std::vector<uint32_t> values;
};

// Sets every key of the sections to its own value: distinct in its low 8 and
// 16 bits, with a top byte that makes it wider than any narrow field; every
// other value is written in hexadecimal. `extra` lines are appended to each
// section of the text (keys that must never be read). `fixed` overrides
// chosen keys.
inline AllKeys AllKeysIni(const std::vector<ConfigSection>& sections, const std::string& extra = "",
                          const std::map<std::string, uint32_t>& fixed = {}) {
  AllKeys all;
  uint32_t n = 0;
  for (const ConfigSection& section : sections) {
    all.ini += "[" + section.name + "]\n";
    for (const ConfigField& field : section.fields) {
      ++n;
      const uint32_t k = n % 251 + 1;
      uint32_t value = 0xC3000000u | (n / 251) << 16 | (k * 7 & 0xFF) << 8 | k;
      if (fixed.count(field.key)) value = fixed.at(field.key);
      char text[16];
      std::snprintf(text, sizeof text, n % 2 ? "%u" : "0x%X", value);
      all.ini += field.key + "=" + text + "\n";
      all.config.Set(section.name, field.key, value);
      all.values.push_back(value);
      const uint32_t mask = field.width == 4 ? 0xFFFFFFFFu : (1u << (8 * field.width)) - 1;
      all.expected.push_back({field.offset, field.width, value & mask});
    }
    all.ini += extra;
  }
  return all;
}

}  // namespace tarnwick::testing
