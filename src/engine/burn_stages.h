#pragma once
// The stages of one card's write phase in their write order: what each
// writes, the "Burn" switch of the settings file that can turn it off, and
// the progress position reached when it is done. The burn and the command
// line's progress sizes both follow this table.
#include <array>
#include <cstddef>
#include <optional>

#include "engine/pack_file.h"

namespace tarnwick {

enum class BurnStage {
  Mbr,
  BootInfo,
  UBootBin,
  UBootInfo,
  BootImg,
  BootRes,
  BootRecover,
  System,
  Cache,
  Data,
  Ebrs,
  Misc,
  BootEnv,
  Fat32,
};

struct BurnStageInfo {
  BurnStage stage;
  const char* name;               // as the write log names it
  const char* settingsKey;        // 2 in section "Burn" skips the stage; nullptr: always written
  std::optional<PackSlot> image;  // the pack image a switchable stage writes
  int progress;                   // the progress position once the stage is done
};

// Progress position once the card is open, before its first write.
inline constexpr int kProgressCardOpened = 1;

inline constexpr std::array<BurnStageInfo, 14> kBurnStages{{
    {BurnStage::Mbr, "MBR", nullptr, std::nullopt, 2},
    {BurnStage::BootInfo, "BootInfo", nullptr, std::nullopt, 3},
    {BurnStage::UBootBin, "UBootBin", nullptr, std::nullopt, 4},
    {BurnStage::UBootInfo, "UBootInfo", nullptr, std::nullopt, 5},
    {BurnStage::BootImg, "BootImg", "BurnBootImg", PackSlot::BootImg, 6},
    {BurnStage::BootRes, "BootRes", "BurnBootRes", PackSlot::BootRes, 7},
    {BurnStage::BootRecover, "BootRecover", "BurnBootRecover", PackSlot::BootRecover, 8},
    {BurnStage::System, "System", "BurnSystem", PackSlot::System, 9},
    // Cache is written before Data.
    {BurnStage::Cache, "Cache", "BurnCache", PackSlot::Cache, 10},
    {BurnStage::Data, "Data", "BurnData", PackSlot::Data, 11},
    {BurnStage::Ebrs, "EBRs", nullptr, std::nullopt, 12},
    {BurnStage::Misc, "Misc", nullptr, std::nullopt, 13},
    {BurnStage::BootEnv, "BootEnv", nullptr, std::nullopt, 14},
    {BurnStage::Fat32, "FAT32", nullptr, std::nullopt, 15},
}};

constexpr const BurnStageInfo& StageInfo(BurnStage stage) {
  return kBurnStages[static_cast<size_t>(stage)];
}

// The table is in enum order, each stage one progress step after the one before.
constexpr bool StagesInOrder() {
  int progress = kProgressCardOpened;
  for (size_t i = 0; i < kBurnStages.size(); ++i) {
    if (static_cast<size_t>(kBurnStages[i].stage) != i || kBurnStages[i].progress != ++progress)
      return false;
    if ((kBurnStages[i].settingsKey == nullptr) != !kBurnStages[i].image.has_value()) return false;
  }
  return true;
}
static_assert(StagesInOrder());

// The last progress position of one card: the file system is written and flushed.
inline constexpr int kProgressCardDone = kBurnStages.back().progress;

}  // namespace tarnwick
