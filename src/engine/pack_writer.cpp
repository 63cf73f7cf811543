// Building a pack file from image files (the command line's mkpack, tests).
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <limits>

#include "common/le.h"
#include "common/sector.h"
#include "engine/pack_file.h"
#include "platform/fs/read_only_file.h"

namespace tarnwick {
namespace {

constexpr size_t kCopyChunk = size_t{1} << 20;

uint64_t AlignUp(uint64_t n) {
  return (n + kSectorSize - 1) / kSectorSize * kSectorSize;
}

bool SameFile(const std::string& a, const std::string& b) {
  std::error_code ec;
  return std::filesystem::equivalent(a, b, ec) && !ec;
}

void WriteZeros(std::ofstream& out, uint64_t count) {
  static const std::vector<char> zeros(kSectorSize, 0);
  while (count > 0 && out) {
    const uint64_t n = std::min<uint64_t>(count, zeros.size());
    out.write(zeros.data(), static_cast<std::streamsize>(n));
    count -= n;
  }
}

}  // namespace

SysStatus WritePackFile(const std::string& packFile, const PackInputs& inputs) {
  // The file layer reports its failures as text only.
  auto fail = [](const std::string& text) {
    return SysStatus(std::make_error_code(std::errc::io_error), text);
  };
  if (!inputs.files[static_cast<size_t>(PackSlot::Spare)].empty())
    return fail("The spare slot of a pack file takes no image");

  // Every input is opened and placed before the pack is created, so a bad
  // input leaves no half-made pack behind.
  std::array<ReadOnlyFile, kPackSlotCount> files;
  PackHeader header;
  uint64_t next = AlignUp(kPackHeaderSize);
  for (int s = 0; s < kPackSlotCount; ++s) {
    const std::string& path = inputs.files[s];
    const PackSlot slot = static_cast<PackSlot>(s);
    if (path.empty()) continue;
    if (SameFile(path, packFile))
      return fail("The pack file " + packFile + " cannot also be its " + PackSlotName(slot) +
                  " image");
    const SysStatus opened = files[s].Open(path);
    const SysResult<uint64_t> sized = opened ? files[s].Size() : SysResult<uint64_t>(opened);
    if (!sized)
      return fail("Cannot read the " + std::string(PackSlotName(slot)) + " image " + path + ": " +
                  sized.Status().Text());
    const uint64_t length = sized.Value();
    if (next + length > std::numeric_limits<uint32_t>::max())
      return fail("The pack file would exceed 4 GiB at its " + std::string(PackSlotName(slot)) +
                  " image " + path);
    PutU32(header.bytes.data(), PackSlotOffset(slot), static_cast<uint32_t>(next));
    PutU32(header.bytes.data(), PackSlotOffset(slot) + 4, static_cast<uint32_t>(length));
    next = AlignUp(next + length);
  }

  std::ofstream out(packFile, std::ios::binary | std::ios::trunc);
  if (!out) return fail("Cannot create the pack file " + packFile);
  auto abandon = [&](const std::string& text) {
    out.close();
    std::error_code ec;
    std::filesystem::remove(packFile, ec);
    return fail(text);
  };

  out.write(reinterpret_cast<const char*>(header.bytes.data()), kPackHeaderSize);
  uint64_t written = kPackHeaderSize;
  std::vector<uint8_t> chunk(kCopyChunk);
  for (int s = 0; s < kPackSlotCount; ++s) {
    if (!files[s].IsOpen()) continue;
    const PackSlot slot = static_cast<PackSlot>(s);
    const uint64_t offset = header.Offset(slot);
    WriteZeros(out, offset - written);
    uint64_t done = 0;
    while (done < header.Length(slot) && out) {
      const size_t want =
          static_cast<size_t>(std::min<uint64_t>(chunk.size(), header.Length(slot) - done));
      const SysResult<size_t> read = files[s].ReadAt(done, chunk.data(), want);
      if (!read)
        return abandon("Cannot read the " + std::string(PackSlotName(slot)) + " image " +
                       inputs.files[s] + ": " + read.Status().Text());
      const size_t got = read.Value();
      if (got < want)
        return abandon("The " + std::string(PackSlotName(slot)) + " image " + inputs.files[s] +
                       " shrank while the pack file was written");
      out.write(reinterpret_cast<const char*>(chunk.data()), static_cast<std::streamsize>(got));
      done += got;
    }
    written = offset + done;
  }
  WriteZeros(out, next - written);
  out.close();
  if (!out) return abandon("Cannot write the pack file " + packFile);
  return SysStatus::Ok();
}

}  // namespace tarnwick
