#pragma once
// Shared helpers of the layout tests: plans computed from partition sizes,
// and a sector writer that records what it is given.
#include <algorithm>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "common/sector.h"
#include "layout/partition_plan.h"
#include "test_support.h"

namespace tarnwick::testing {

// The sizes of section "PARTITION_SECTORS" and the card size.
struct PlanInput {
  uint64_t cardSize = 0;
  uint32_t boot = 0;
  uint32_t recovery = 0;
  uint32_t system = 0;
  uint32_t data = 0;
  uint32_t cache = 0;
  std::optional<std::string> label;  // no LABEL key when empty
};

// The board configuration used throughout the examples.
inline PlanInput ExampleInput(uint64_t cardSize) {
  return {cardSize, 65'536, 65'536, 524'288, 1'048'576, 262'144, std::nullopt};
}

inline PartitionConfig PlanConfig(const PlanInput& in) {
  return {in.boot, in.recovery, in.system, in.data, in.cache, in.label.value_or("")};
}

// Computes a plan for in.
inline PartitionPlan ComputePlan(const PlanInput& in, PartitionPlan plan = PartitionPlan{}) {
  plan.m_nCardSize = in.cardSize;
  plan.ComputePartitionPlan(PlanConfig(in));
  return plan;
}

inline std::string LabelText(const std::array<char, 11>& label) {
  return std::string(label.begin(), label.end());
}

// One WriteSectors call as the recording writer saw it.
struct RecordedWrite {
  SectorNo first = 0;
  uint32_t count = 0;
  bool allZero = true;
  std::vector<uint8_t> head;  // the first sector's bytes (empty for a count of 0)
};

// Records every call; the calls whose index is in failAt report failure.
class RecordingWriter : public ISectorWriter {
 public:
  std::vector<RecordedWrite> writes;
  std::set<size_t> failAt;

  bool WriteSectors(SectorNo first, uint32_t count, const uint8_t* buf) override {
    RecordedWrite w{first, count, true, {}};
    const size_t len = size_t{count} * kSectorSize;
    w.allZero = std::all_of(buf, buf + len, [](uint8_t b) { return b == 0; });
    if (count > 0) w.head.assign(buf, buf + kSectorSize);
    const bool ok = failAt.count(writes.size()) == 0;
    writes.push_back(std::move(w));
    return ok;
  }
};

}  // namespace tarnwick::testing
