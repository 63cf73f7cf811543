#include "engine/pack_file.h"

#include <algorithm>
#include <limits>
#include <new>
#include <vector>

#include "common/debug_log.h"
#include "common/le.h"
#include "common/sector.h"
#include "engine/errors.h"
#include "platform/fs/read_only_file.h"

namespace tarnwick {

static_assert(kPackHeaderSize == 0x188);
static_assert(PackSlotOffset(PackSlot::Dfu) == 0x78);
static_assert(PackSlotOffset(PackSlot::Cache) == 0x138);
static_assert(PackSlotOffset(PackSlot::BootRes) == 0x178);
static_assert(PackSlotOffset(PackSlot::BootRes) + 8 + 8 == kPackHeaderSize);

namespace {

constexpr const char* kOpenFail = "open file fail!";

// Where a load puts one image.
struct WantedImage {
  PackSlot slot;
  ImageBuffer* out;
  bool read = true;   // false: only its length is wanted
  bool check = true;  // its location is checked against the file's size
};

bool Refuse(IOperator& op, std::string* refusal, const std::string& text) {
  op.ShowMessage(text, MsgButtons::Ok);
  if (refusal) *refusal = text;
  return false;
}

[[noreturn]] void ThrowReadError(const std::string& path, const SysStatus& error) {
  throw FileError("Cannot read the pack file " + path + ": " + error.Text());
}

// A buffer of length + 512 bytes, so that a sector's worth of zeros can
// follow the image. Its contents are left to the caller.
LargeBytes ImageBufferFor(PackSlot slot, uint32_t length) {
  const uint64_t bytes = uint64_t{length} + kSectorSize;
  try {
    if (bytes <= std::numeric_limits<size_t>::max()) return LargeBytes(static_cast<size_t>(bytes));
  } catch (const std::bad_alloc&) {
  }
  throw MemoryError(std::string("Out of memory: the ") + PackSlotName(slot) +
                    " image of the pack file needs " + std::to_string(bytes) + " bytes");
}

// The images whose bytes lie (in part) past the end of a file of fileSize
// bytes, one sentence each. An empty image lies nowhere and is never named.
std::string ImagesPastEnd(const PackHeader& header, const std::vector<WantedImage>& wanted,
                          uint64_t fileSize) {
  std::string text;
  for (const WantedImage& w : wanted) {
    const uint64_t offset = header.Offset(w.slot);
    const uint64_t length = header.Length(w.slot);
    if (!w.check || length == 0 || offset + length <= fileSize) continue;
    if (!text.empty()) text += "\n";
    text += std::string("Its ") + PackSlotName(w.slot) + " image (offset " +
            std::to_string(offset) + ", length " + std::to_string(length) +
            ") ends past the end of the file.";
  }
  return text;
}

// Opens the pack, reads its header and the wanted images in the order given.
// Every wanted location is checked against the file's size before anything
// is allocated, so a truncated pack never reaches a card.
// The file is left open in file, for the images that are streamed later.
bool LoadImages(const char* caller, const std::string& path, IOperator& op,
                const std::vector<WantedImage>& wanted, PackHeader& headerCopy,
                std::string* refusal, ReadOnlyFile& file) {
  if (const SysStatus opened = file.Open(path); !opened) {
    // The operator sees the system's box; the failed-card list says which
    // file and why.
    op.ShowMessage(kOpenFail, MsgButtons::Ok);
    if (refusal) *refusal = "pack file " + path + " cannot be opened: " + opened.Text();
    return false;
  }

  const SysResult<uint64_t> sized = file.Size();
  if (!sized) ThrowReadError(path, sized.Status());
  const uint64_t size = sized.Value();
  PackHeader header;
  size_t got = 0;
  if (size >= kPackHeaderSize) {
    const SysResult<size_t> read = file.ReadAt(0, header.bytes.data(), kPackHeaderSize);
    if (!read) ThrowReadError(path, read.Status());
    got = read.Value();
  }
  if (got < kPackHeaderSize) {
    DebugLog(1, "%s: pack file shorter than its header\n", caller);
    return Refuse(op, refusal,
                  "The pack file " + path + " is too short: it holds " +
                      std::to_string(size < kPackHeaderSize ? size : got) +
                      " bytes, less than its " + std::to_string(kPackHeaderSize) + "-byte header.");
  }
  headerCopy = header;

  const std::string pastEnd = ImagesPastEnd(header, wanted, size);
  if (!pastEnd.empty()) {
    DebugLog(1, "%s: image past the end of the pack file\n", caller);
    return Refuse(op, refusal,
                  "The pack file " + path + " is truncated or damaged (" + std::to_string(size) +
                      " bytes).\n" + pastEnd);
  }

  for (const WantedImage& w : wanted) {
    ImageBuffer image;
    image.length = header.Length(w.slot);
    if (!w.read) {
      *w.out = std::move(image);
      continue;
    }
    image.data = ImageBufferFor(w.slot, image.length);
    size_t read = 0;
    if (image.length != 0) {
      const SysResult<size_t> done =
          file.ReadAt(header.Offset(w.slot), image.data.data(), image.length);
      if (!done) ThrowReadError(path, done.Status());
      read = done.Value();
    }
    // Zeros after the bytes read: the sector after the image, and the rest of
    // an image whose read ended early (the file shrank meanwhile).
    std::fill(image.data.begin() + read, image.data.end(), uint8_t{0});
    *w.out = std::move(image);
  }
  return true;
}

// A refused pack; the operator has been told why in a message box.
SysStatus Refusal(const std::string& text) {
  return {std::make_error_code(std::errc::invalid_argument), text.empty() ? kOpenFail : text};
}

}  // namespace

const char* PackSlotName(PackSlot slot) {
  switch (slot) {
    case PackSlot::Dfu:
      return "DFU";
    case PackSlot::UBootBin:
      return "UBootBin";
    case PackSlot::BootImg:
      return "BootImg";
    case PackSlot::BootRecover:
      return "BootRecover";
    case PackSlot::System:
      return "System";
    case PackSlot::Data:
      return "Data";
    case PackSlot::Cache:
      return "Cache";
    case PackSlot::Spare:
      return "spare";
    case PackSlot::BootRes:
      return "BootRes";
  }
  return "unknown";
}

uint32_t PackHeader::Offset(PackSlot slot) const {
  return GetU32(bytes.data(), PackSlotOffset(slot));
}

uint32_t PackHeader::Length(PackSlot slot) const {
  return GetU32(bytes.data(), PackSlotOffset(slot) + 4);
}

SysStatus LoadCardImages(const std::string& packFile, IOperator& op, PackHeader& headerCopy,
                         CardImages& images, PackSlotSet skipped) {
  CardImages loaded;
  std::vector<WantedImage> wanted{
      {PackSlot::UBootBin, &loaded.uBootBin},
      {PackSlot::BootImg, &loaded.bootImg},
      {PackSlot::BootRes, &loaded.bootRes},
      {PackSlot::Cache, &loaded.cache},
      {PackSlot::BootRecover, &loaded.bootRecover},
      {PackSlot::System, &loaded.system},
      {PackSlot::Data, &loaded.data},
  };
  for (WantedImage& w : wanted) w.read = w.check = (skipped & SlotBit(w.slot)) == 0;
  std::string refusal;
  ReadOnlyFile file;
  if (!LoadImages("LoadCardImages", packFile, op, wanted, headerCopy, &refusal, file)) {
    return Refusal(refusal);
  }
  images = std::move(loaded);
  return SysStatus::Ok();
}

SysStatus OpenCardImages(const std::string& packFile, IOperator& op, PackHeader& headerCopy,
                         CardImages& images, ReadOnlyFile& pack, PackSlotSet skipped) {
  CardImages checked;
  std::vector<WantedImage> wanted{
      {PackSlot::UBootBin, &checked.uBootBin},
      {PackSlot::BootImg, &checked.bootImg},
      {PackSlot::BootRes, &checked.bootRes},
      {PackSlot::Cache, &checked.cache},
      {PackSlot::BootRecover, &checked.bootRecover},
      {PackSlot::System, &checked.system},
      {PackSlot::Data, &checked.data},
  };
  for (WantedImage& w : wanted) {
    w.check = (skipped & SlotBit(w.slot)) == 0;
    w.read = w.slot == PackSlot::UBootBin && w.check;
  }
  std::string refusal;
  if (!LoadImages("LoadCardImages", packFile, op, wanted, headerCopy, &refusal, pack)) {
    pack.Close();
    return Refusal(refusal);
  }
  images = std::move(checked);
  return SysStatus::Ok();
}

SysStatus LoadPackImage(const std::string& packFile, IOperator& op, PackSlot slot,
                        PackHeader& headerCopy, ImageBuffer& image) {
  ImageBuffer loaded;
  std::string refusal;
  ReadOnlyFile file;
  if (!LoadImages("LoadPackImage", packFile, op, {{slot, &loaded}}, headerCopy, &refusal, file)) {
    return Refusal(refusal);
  }
  image = std::move(loaded);
  return SysStatus::Ok();
}

}  // namespace tarnwick
