// The pack file's header and image table, read through the loader the burn
// and the download use. A load either refuses the pack with a reason (too
// short for its header, an image past the end) or hands over every image
// exactly as the file holds it, followed by zeros.
#include <algorithm>
#include <string>
#include <vector>

#include "engine/errors.h"
#include "engine/pack_file.h"
#include "fuzz_support.h"

using namespace tarnwick;
using namespace tarnwick::fuzz;

namespace {

// What a correct loader must make of the input for one image.
void CheckImage(const uint8_t* data, size_t size, const PackHeader& header, PackSlot slot,
                const ImageBuffer& image) {
  const uint64_t offset = header.Offset(slot);
  const uint32_t length = header.Length(slot);
  FUZZ_CHECK(image.length == length);
  FUZZ_CHECK(image.data.size() == size_t{length} + 512);
  if (length != 0) {
    FUZZ_CHECK(offset + length <= size);
    FUZZ_CHECK(std::equal(image.data.begin(), image.data.begin() + length, data + offset));
  }
  FUZZ_CHECK(
      std::all_of(image.data.begin() + length, image.data.end(), [](uint8_t b) { return b == 0; }));
}

// Whether the loader must refuse the pack for these images.
bool MustRefuse(const uint8_t* data, size_t size, const std::vector<PackSlot>& slots) {
  if (size < kPackHeaderSize) return true;
  PackHeader header;
  std::copy_n(data, kPackHeaderSize, header.bytes.begin());
  return std::any_of(slots.begin(), slots.end(), [&](PackSlot slot) {
    return header.Length(slot) != 0 && uint64_t{header.Offset(slot)} + header.Length(slot) > size;
  });
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  SilenceDebugLog();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const ScratchFile file("board.pack");
  file.Write(data, size);

  const std::vector<PackSlot> cardSlots{
      PackSlot::UBootBin,    PackSlot::BootImg, PackSlot::BootRes, PackSlot::Cache,
      PackSlot::BootRecover, PackSlot::System,  PackSlot::Data};
  {
    QuietOperator op;
    PackHeader header;
    CardImages images;
    const SysStatus status = LoadCardImages(file.Path(), op, header, images);
    const bool loaded = status.IsOk();
    const std::string refusal = status.Text();
    FUZZ_CHECK(loaded != MustRefuse(data, size, cardSlots));
    if (loaded) {
      FUZZ_CHECK(std::equal(header.bytes.begin(), header.bytes.end(), data));
      const std::pair<PackSlot, const ImageBuffer*> loadedImages[] = {
          {PackSlot::UBootBin, &images.uBootBin},
          {PackSlot::BootImg, &images.bootImg},
          {PackSlot::BootRes, &images.bootRes},
          {PackSlot::Cache, &images.cache},
          {PackSlot::BootRecover, &images.bootRecover},
          {PackSlot::System, &images.system},
          {PackSlot::Data, &images.data}};
      for (const auto& [slot, image] : loadedImages) CheckImage(data, size, header, slot, *image);
    } else {
      FUZZ_CHECK(!refusal.empty() && op.messages == 1 && op.lastMessage == refusal);
    }
  }

  // The download's single image: only its own location counts.
  for (PackSlot slot : {PackSlot::Dfu, PackSlot::Spare}) {
    QuietOperator op;
    PackHeader header;
    ImageBuffer image;
    const bool loaded = LoadPackImage(file.Path(), op, slot, header, image).IsOk();
    FUZZ_CHECK(loaded != MustRefuse(data, size, {slot}));
    if (loaded) CheckImage(data, size, header, slot, image);
  }
  return 0;
}
