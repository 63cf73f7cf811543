#include "cli/pack_check.h"

#include "engine/burn_stages.h"
#include "platform/fs/read_only_file.h"

namespace tarnwick::cli {

PackSlotSet CardImagesBurned(ISettingsReader& settings) {
  PackSlotSet slots = SlotBit(PackSlot::UBootBin);
  for (const BurnStageInfo& stage : kBurnStages) {
    if (stage.image && settings.ReadInt("Burn", stage.settingsKey) != 2) {
      slots |= SlotBit(*stage.image);
    }
  }
  return slots;
}

SysStatus CheckPackHeader(const std::string& path, PackSlotSet slots) {
  auto notAPack = [&path](const std::string& why) {
    return SysStatus(std::make_error_code(std::errc::invalid_argument),
                     "the pack file " + path + " is not a pack, or is cut short: " + why);
  };
  ReadOnlyFile file;
  if (SysStatus opened = file.Open(path); !opened) {
    return {opened.Code(), "cannot open the pack file " + path + ": " + opened.Text()};
  }
  const SysResult<uint64_t> sized = file.Size();
  if (!sized) return {sized.Status().Code(), "cannot read the pack file " + path};
  const uint64_t size = sized.Value();
  PackHeader header;
  if (size < kPackHeaderSize) {
    return notAPack("too short: it holds " + std::to_string(size) + " bytes, less than its " +
                    std::to_string(kPackHeaderSize) + "-byte header");
  }
  const SysResult<size_t> read = file.ReadAt(0, header.bytes.data(), kPackHeaderSize);
  if (!read || read.Value() != kPackHeaderSize) {
    return {std::make_error_code(std::errc::io_error), "cannot read the pack file " + path};
  }
  std::string problems;
  for (int i = 0; i < kPackSlotCount; ++i) {
    const auto slot = static_cast<PackSlot>(i);
    if ((slots & SlotBit(slot)) == 0) continue;
    const uint64_t offset = header.Offset(slot);
    const uint64_t length = header.Length(slot);
    // An empty image lies nowhere.
    if (length == 0) continue;
    std::string problem;
    if (offset >= size) {
      problem = std::string("its ") + PackSlotName(slot) + " image starts at offset " +
                std::to_string(offset) + ", past the end of the file";
    } else if (offset + length > size) {
      problem = std::string("its ") + PackSlotName(slot) + " image (offset " +
                std::to_string(offset) + ", length " + std::to_string(length) +
                ") ends past the end of the file";
    }
    if (problem.empty()) continue;
    problems += (problems.empty() ? "" : "; ") + problem;
  }
  if (problems.empty()) return SysStatus::Ok();
  return notAPack(problems + " (" + std::to_string(size) + " bytes)");
}

}  // namespace tarnwick::cli
