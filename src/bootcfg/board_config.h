#pragma once
// The board configuration file as one value. A burn reads it once per card,
// where it first needs it, and computes the partition plan, BootInfo,
// UBootInfo and the download package from that value; reading it again for
// the next card sees any edit made meanwhile.
#include <cstdint>
#include <map>
#include <string>
#include <utility>

#include "layout/partition_plan.h"

namespace tarnwick {

class BoardConfig {
 public:
  // Section "PARTITION_SECTORS".
  const PartitionConfig& Partition() const { return m_partition; }
  void SetPartition(const PartitionConfig& partition) { m_partition = partition; }

  // The value of a key of the boot-information sections (both address
  // sections, "AddrInfo" and "DfuAddrInfo", and the USB section among them)
  // and of the DDR and clock tables, under the section and key names of the
  // file; 0 for a key that is not set.
  uint32_t Value(const std::string& section, const std::string& key) const;
  void Set(const std::string& section, const std::string& key, uint32_t value);

  bool operator==(const BoardConfig&) const = default;

 private:
  PartitionConfig m_partition;
  std::map<std::pair<std::string, std::string>, uint32_t> m_values;
};

// Reads the file once: every key of the field lists (config_fields.h) and of
// section "PARTITION_SECTORS" as the profile service reads it, an integer
// with default 0 and the label with a 12-character buffer. A missing file,
// section or key reads as 0 or "".
BoardConfig ReadBoardConfig(const std::string& cfgFile);

}  // namespace tarnwick
