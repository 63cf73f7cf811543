// The card decoder of `inspect`: MBR, EBR chain, partition plan, BootInfo,
// UBootInfo, boot loader copies and FAT32, read through an in-memory card.
//
// Input: byte 0 chooses the card.
//   bit 0 clear: the rest of the input is the whole card (a small card).
//   bit 0 set:   a sparse card. Bytes 1..8 give its size in sectors (LE; at
//                most 2^40), then, when bit 1 is set, 31 bytes of expected
//                layout (boot, recovery, system, data, cache as LE u32, the
//                11-byte label). The rest is cut into 512-byte sectors that
//                are handed out in the order the decoder first reads
//                sectors, wherever they lie; sectors beyond the input read
//                as zeros. So the card's key sectors follow the decoder
//                wherever the records point.
// With TARNWICK_FUZZ_CARD_SEED=CARD:OUT[:CONFIG] set, the target instead
// writes the sparse input that stands for the card image CARD (with the
// expected layout of CONFIG) to OUT and exits: the corpus's card seeds.
#include <algorithm>
#include <cstring>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "cli/card_inspector.h"
#include "common/le.h"
#include "common/sector.h"
#include "fuzz_support.h"

using namespace tarnwick;
using namespace tarnwick::fuzz;
using tarnwick::cli::ExpectedLayout;

namespace {

constexpr uint64_t kMaxSparseSectors = uint64_t{1} << 40;
constexpr size_t kSparseHeader = 9;
constexpr size_t kLayoutBytes = 31;

// Sectors of a small card; the decoder must never ask for one past its end.
class SmallCard final : public cli::ICardSource {
 public:
  SmallCard(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}
  uint64_t SizeBytes() const override { return m_size; }
  SysStatus ReadSectors(uint64_t first, uint32_t count, std::vector<uint8_t>& out) override {
    FUZZ_CHECK(first <= m_size / kSectorSize && count <= m_size / kSectorSize - first);
    out.assign(m_data + first * kSectorSize, m_data + (first + count) * kSectorSize);
    return SysStatus::Ok();
  }

 private:
  const uint8_t* m_data;
  size_t m_size;
};

// A card of any size whose sectors are the input's, in the order first read.
class SparseCard final : public cli::ICardSource {
 public:
  SparseCard(uint64_t sectors, const uint8_t* data, size_t size)
      : m_sectors(sectors), m_data(data), m_size(size) {}
  uint64_t SizeBytes() const override { return m_sectors * kSectorSize; }
  SysStatus ReadSectors(uint64_t first, uint32_t count, std::vector<uint8_t>& out) override {
    FUZZ_CHECK(first <= m_sectors && count <= m_sectors - first);
    out.assign(size_t{count} * kSectorSize, 0);
    for (uint32_t i = 0; i < count; ++i) {
      auto [it, added] = m_map.try_emplace(first + i, m_next);
      if (added) ++m_next;
      const size_t at = it->second * kSectorSize;
      if (at < m_size) {
        std::memcpy(out.data() + size_t{i} * kSectorSize, m_data + at,
                    std::min<size_t>(kSectorSize, m_size - at));
      }
    }
    return SysStatus::Ok();
  }

 private:
  uint64_t m_sectors;
  const uint8_t* m_data;
  size_t m_size;
  std::map<uint64_t, size_t> m_map;  // card sector -> input sector
  size_t m_next = 0;
};

// A card image file, recording the sectors in the order first read.
class RecordingCard final : public cli::ICardSource {
 public:
  explicit RecordingCard(const std::string& path) : m_in(path, std::ios::binary) {
    m_in.seekg(0, std::ios::end);
    m_bytes = static_cast<uint64_t>(m_in.tellg());
  }
  uint64_t SizeBytes() const override { return m_bytes; }
  SysStatus ReadSectors(uint64_t first, uint32_t count, std::vector<uint8_t>& out) override {
    out.assign(size_t{count} * kSectorSize, 0);
    m_in.seekg(static_cast<std::streamoff>(first * kSectorSize));
    m_in.read(reinterpret_cast<char*>(out.data()), static_cast<std::streamsize>(out.size()));
    m_in.clear();
    for (uint32_t i = 0; i < count; ++i) {
      if (m_seen.insert(first + i).second) {
        recorded.insert(recorded.end(), out.begin() + i * kSectorSize,
                        out.begin() + (i + 1) * kSectorSize);
      }
    }
    return SysStatus::Ok();
  }

  std::vector<uint8_t> recorded;

 private:
  std::ifstream m_in;
  uint64_t m_bytes = 0;
  std::set<uint64_t> m_seen;
};

void PutLayout(uint8_t* p, const ExpectedLayout& layout) {
  const uint32_t sizes[5] = {layout.boot, layout.recovery, layout.system, layout.data,
                             layout.cache};
  for (int i = 0; i < 5; ++i) PutU32(p, 4 * i, sizes[i]);
  std::memcpy(p + 20, layout.label.data(), 11);
}

ExpectedLayout GetLayout(const uint8_t* p) {
  ExpectedLayout layout;
  layout.boot = GetU32(p, 0);
  layout.recovery = GetU32(p, 4);
  layout.system = GetU32(p, 8);
  layout.data = GetU32(p, 12);
  layout.cache = GetU32(p, 16);
  std::memcpy(layout.label.data(), p + 20, 11);
  return layout;
}

// The seed maker: CARD:OUT[:CONFIG].
void MakeSeed(const std::string& recipe) {
  std::vector<std::string> parts;
  for (size_t pos = 0;;) {
    size_t colon = recipe.find(':', pos);
    parts.push_back(recipe.substr(pos, colon - pos));
    if (colon == std::string::npos) break;
    pos = colon + 1;
  }
  FUZZ_CHECK(parts.size() == 2 || parts.size() == 3);
  std::optional<ExpectedLayout> expected;
  if (parts.size() == 3) expected = cli::ReadExpectedLayout(parts[2]);
  RecordingCard card(parts[0]);
  (void)cli::InspectCard(card, expected);
  std::vector<uint8_t> seed(kSparseHeader, 0);
  seed[0] = expected ? 3 : 1;
  PutU64(seed.data(), 1, card.SizeBytes() / kSectorSize);
  if (expected) {
    seed.resize(kSparseHeader + kLayoutBytes);
    PutLayout(seed.data() + kSparseHeader, *expected);
  }
  // Trailing zero sectors read as zeros anyway.
  std::vector<uint8_t>& sectors = card.recorded;
  while (!sectors.empty() &&
         std::all_of(sectors.end() - kSectorSize, sectors.end(), [](uint8_t b) { return b == 0; }))
    sectors.resize(sectors.size() - kSectorSize);
  seed.insert(seed.end(), sectors.begin(), sectors.end());
  std::ofstream out(parts[1], std::ios::binary);
  out.write(reinterpret_cast<const char*>(seed.data()), static_cast<std::streamsize>(seed.size()));
  FUZZ_CHECK(out.good());
}

void CheckResult(const cli::InspectResult& result) {
  if (std::getenv("TARNWICK_FUZZ_LOG") != nullptr) std::fputs(result.report.c_str(), stderr);
  const bool consistent = result.report.find("Result: consistent\n") != std::string::npos;
  FUZZ_CHECK(consistent == result.problems.empty());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  SilenceDebugLog();
  if (const char* recipe = std::getenv("TARNWICK_FUZZ_CARD_SEED")) {
    MakeSeed(recipe);
    std::exit(0);
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const uint8_t mode = data[0];
  if ((mode & 1) == 0) {
    SmallCard card(data + 1, size - 1);
    CheckResult(cli::InspectCard(card, std::nullopt));
    return 0;
  }
  size_t header = kSparseHeader + ((mode & 2) ? kLayoutBytes : 0);
  if (size < header) return 0;
  std::optional<ExpectedLayout> expected;
  if (mode & 2) expected = GetLayout(data + kSparseHeader);
  SparseCard card(std::min(GetU64(data, 1), kMaxSparseSectors), data + header, size - header);
  CheckResult(cli::InspectCard(card, expected));
  return 0;
}
