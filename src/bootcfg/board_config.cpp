#include "bootcfg/board_config.h"

#include "bootcfg/config_fields.h"
#include "common/profile.h"

namespace tarnwick {
namespace {

constexpr const char* kPartitionSection = "PARTITION_SECTORS";
// The label is read with a 12-character buffer: at most 11 characters survive.
constexpr size_t kLabelBufferSize = 12;

void ReadSections(BoardConfig& config, const std::vector<ConfigSection>& sections,
                  const profile::Snapshot& file) {
  for (const ConfigSection& section : sections) {
    for (const ConfigField& f : section.fields)
      config.Set(section.name, f.key, file.ReadInt(section.name, f.key, 0));
  }
}

}  // namespace

uint32_t BoardConfig::Value(const std::string& section, const std::string& key) const {
  auto found = m_values.find({section, key});
  return found == m_values.end() ? 0 : found->second;
}

// Only keys other than 0 are kept, so that two configurations that read alike compare equal.
void BoardConfig::Set(const std::string& section, const std::string& key, uint32_t value) {
  if (value == 0) {
    m_values.erase({section, key});
  } else {
    m_values[{section, key}] = value;
  }
}

BoardConfig ReadBoardConfig(const std::string& cfgFile) {
  const profile::Snapshot file(cfgFile);
  BoardConfig config;
  PartitionConfig p;
  p.boot = file.ReadInt(kPartitionSection, "Partition_Boot", 0);
  p.recovery = file.ReadInt(kPartitionSection, "Partition_Recovery", 0);
  p.system = file.ReadInt(kPartitionSection, "Partition_System", 0);
  p.data = file.ReadInt(kPartitionSection, "Partition_Data", 0);
  p.cache = file.ReadInt(kPartitionSection, "Partition_Cache", 0);
  p.label = file.ReadString(kPartitionSection, "LABEL", "", kLabelBufferSize);
  config.SetPartition(p);
  // Card mode's sections, then the download's address section (the others it shares).
  ReadSections(config, BootInfoSections(1), file);
  ReadSections(config, {BootInfoSections(0).front()}, file);
  ReadSections(config, DdrClkSections(), file);
  return config;
}

}  // namespace tarnwick
