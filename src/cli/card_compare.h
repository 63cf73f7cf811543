#pragma once
// Compares a card with what a burn of a configuration and a pack would write
// on it. The burn itself is run, with the card's settings, against a disk
// that reads the card instead of writing it: every region is then the
// engine's own, in its own order, and no region is held whole (each write is
// compared as it comes, at most 32 MiB at a time).
#include <cstdint>
#include <string>
#include <vector>

#include "engine/burn_engine.h"
#include "platform/host.h"

namespace tarnwick::cli {

struct ComparedRegion {
  std::string name;      // "MBR", "BootInfo copy 2", "System", "first FAT", ...
  uint64_t first = 0;    // its first sector
  uint64_t sectors = 0;  // how many sectors the burn writes there
  bool differs = false;
  uint64_t firstDifferent = 0;  // the first sector that differs
};

struct CardComparison {
  std::vector<ComparedRegion> regions;  // in the order the burn writes them
  std::vector<std::string> skipped;     // stages switched off, as sentences
  // Why the burn would not write this card at all (too small, a pack that
  // cannot be read, ...); nothing was compared then.
  std::string refused;
  // The first region that differs, in write order; nullptr when none does.
  const ComparedRegion* FirstDifference() const;
};

// Runs the comparison of the card read through card (its capacity decides
// the plan, as for a burn) with the configuration and pack files, under the
// "Burn" switches of settings.
CardComparison CompareCardWithPack(ICardReader& card, const std::string& cfgPath,
                                   const std::string& packPath, ISettingsReader& settings);

}  // namespace tarnwick::cli
