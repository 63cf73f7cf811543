#pragma once
// Where every configuration key lands in the boot records: the sections and
// keys in the order they are read, each with the byte offset and width of
// its field. The builders and the tests are both driven by these lists.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tarnwick {

class BoardConfig;

struct ConfigField {
  std::string key;
  size_t offset = 0;   // in the record the section is read into
  unsigned width = 4;  // 1, 2 or 4 bytes; a wider value keeps its low bits
};

struct ConfigSection {
  std::string name;
  std::vector<ConfigField> fields;  // in read order
};

inline constexpr unsigned kDdrcRegPairs = 39;  // ddrcRegAddr[i] / ddrcRegVal[i], i = 0..38
inline constexpr unsigned kDdrClkTables = 4;   // "DDRInfo0".."DDRInfo3", "CLKInfo0".."CLKInfo3"

// Address section of BuildBootInfo: "AddrInfo" for mode 1, "DfuAddrInfo" otherwise.
// BootInfoSections(mode) begins with it.
const char* AddrSectionName(int mode);

// The sections BuildBootInfo reads, in order, with BootInfo offsets.
std::vector<ConfigSection> BootInfoSections(int mode);

// The sections ReadDdrClkTables reads, in order (DDR k, then clock k, for
// k = 0..3), with UBootInfo offsets.
std::vector<ConfigSection> DdrClkSections();

// Stores every key of the section from the configuration value into its
// field of record.
void ReadSection(uint8_t* record, const ConfigSection& section, const BoardConfig& config);

}  // namespace tarnwick
