#pragma once
// The pack file: a 392-byte header with nine location slots, 32 bytes apart
// from 0x78, and the images wherever the slots say.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "common/sys_status.h"
#include "engine/operator.h"
#include "platform/fs/large_buffer.h"

namespace tarnwick {

class ReadOnlyFile;

inline constexpr size_t kPackHeaderSize = 392;

enum class PackSlot : int {
  Dfu = 0,
  UBootBin = 1,
  BootImg = 2,
  BootRecover = 3,
  System = 4,
  Data = 5,
  Cache = 6,
  Spare = 7,  // never looked at
  BootRes = 8,
};
inline constexpr int kPackSlotCount = 9;

// Byte offset of a slot's (offset, length) pair in the header.
constexpr size_t PackSlotOffset(PackSlot slot) {
  return 0x78 + 0x20 * static_cast<size_t>(slot);
}

const char* PackSlotName(PackSlot slot);

struct PackHeader {
  std::array<uint8_t, kPackHeaderSize> bytes{};
  uint32_t Offset(PackSlot slot) const;
  uint32_t Length(PackSlot slot) const;
};

// One loaded image: its length and a buffer of length + 512 bytes, zero after the image.
struct ImageBuffer {
  uint32_t length = 0;
  LargeBytes data;
};

// A set of pack slots, one bit per slot.
using PackSlotSet = uint32_t;
constexpr PackSlotSet SlotBit(PackSlot slot) {
  return PackSlotSet{1} << static_cast<int>(slot);
}

// The seven card images of one burn.
struct CardImages {
  ImageBuffer uBootBin, bootImg, bootRes, cache, bootRecover, system, data;
};

// Loads the header (into headerCopy) and the seven card images. When the file
// cannot be opened the operator sees "open file fail!"; a file too short for its
// header or an image past the file's end is refused with a message naming it.
// Both fail with the refusal's text. A read the system refuses throws
// FileError; memory that cannot be had throws MemoryError. The images of the
// slots in skipped are not written by this burn: they keep their lengths from
// the header (which place the others) but are neither checked against the
// file's end nor read.
SysStatus LoadCardImages(const std::string& packFile, IOperator& op, PackHeader& headerCopy,
                         CardImages& images, PackSlotSet skipped = 0);

// Checks the pack as LoadCardImages does, with the same messages and
// refusals, but reads only the boot loader image (it is small, and the
// BootInfo record holds its CRC): the other images keep their lengths and are
// streamed from pack, left open here, while the card is written.
SysStatus OpenCardImages(const std::string& packFile, IOperator& op, PackHeader& headerCopy,
                         CardImages& images, ReadOnlyFile& pack, PackSlotSet skipped = 0);

// Loads the header and one image (the DFU image for the board download), with
// the same rules; only that image's location is checked.
SysStatus LoadPackImage(const std::string& packFile, IOperator& op, PackSlot slot,
                        PackHeader& headerCopy, ImageBuffer& image);

// Builds a pack file from image files (empty path = empty image); each image
// starts at a multiple of 512.
struct PackInputs {
  std::array<std::string, kPackSlotCount> files;  // indexed by PackSlot
};
SysStatus WritePackFile(const std::string& packFile, const PackInputs& inputs);

}  // namespace tarnwick
