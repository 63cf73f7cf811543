#pragma once
// Disks that lie about what they hold, for verification tests: each card
// answers the geometry of its advertised size and takes every write without
// complaint, but keeps only realSectors sectors, as counterfeit cards do.
//   DropsBeyond: a write past the real capacity is lost; reading there gives
//                zeros, or the sector's stale contents (the pattern byte of a
//                card never written).
//   Wraps:       the card stores sector s at s modulo the real capacity (its
//                controller ignores the high address bits), so a late write
//                overwrites an early region and reads follow the same rule.
// ReadBackAt answers from what the card really keeps, and records every
// range read so that a test can tell whether verification read every written
// sector. Everything lives in memory, in sparse sector maps.
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/disk_geometry.h"
#include "platform/disk_service.h"

namespace tarnwick::testing {

enum class Counterfeit { DropsBeyond, Wraps };
enum class LostReads { Zeros, Stale };

struct SectorRange {
  uint64_t first;
  uint64_t count;
  bool operator==(const SectorRange&) const = default;
};

struct CounterfeitCard {
  static constexpr uint8_t kStaleByte = 0xA5;  // what a sector never written holds
  using Sector = std::array<uint8_t, 512>;

  std::string path;
  uint64_t advertisedSectors = 0;  // the geometry's size; writes past it fail with ENOSPC
  uint64_t realSectors = 0;        // what the card really keeps
  Counterfeit kind = Counterfeit::DropsBeyond;
  LostReads lostReads = LostReads::Zeros;
  std::optional<uint64_t> failReadAtSector;  // a read back covering it fails with EIO
  std::map<uint64_t, Sector> stored;         // by real sector
  std::vector<SectorRange> writes;           // as asked, in advertised sectors
  std::vector<SectorRange> reads;            // ReadBackAt calls, in advertised sectors
  int flushes = 0;

  // The sector as a read of advertised sector s answers it.
  Sector Read(uint64_t s) const {
    Sector out;
    if (kind == Counterfeit::DropsBeyond && s >= realSectors) {
      out.fill(lostReads == LostReads::Zeros ? 0 : kStaleByte);
      return out;
    }
    auto it = stored.find(kind == Counterfeit::Wraps ? s % realSectors : s);
    if (it != stored.end()) return it->second;
    out.fill(kStaleByte);
    return out;
  }
  void Write(uint64_t s, const uint8_t* bytes) {
    if (kind == Counterfeit::DropsBeyond && s >= realSectors) return;
    std::memcpy(stored[kind == Counterfeit::Wraps ? s % realSectors : s].data(), bytes, 512);
  }
  // Sectors written at least once that no ReadBackAt covered.
  uint64_t WrittenButNotReadBack() const {
    std::map<uint64_t, bool> seen;  // written sector -> read back
    for (const SectorRange& w : writes)
      for (uint64_t s = w.first; s < w.first + w.count; ++s) seen.emplace(s, false);
    for (const SectorRange& r : reads) {
      for (auto it = seen.lower_bound(r.first); it != seen.end() && it->first < r.first + r.count;
           ++it)
        it->second = true;
    }
    uint64_t n = 0;
    for (const auto& [sector, read] : seen) n += read ? 0 : 1;
    return n;
  }
};

class CounterfeitDiskService : public IDiskService {
 public:
  // A removable card advertising cylinders x 255 x 63 sectors that keeps
  // realSectors of them.
  CounterfeitCard& AddCard(const std::string& path, uint64_t cylinders, uint64_t realSectors,
                           Counterfeit kind, LostReads lostReads = LostReads::Zeros) {
    m_cards.push_back(std::make_unique<CounterfeitCard>());
    CounterfeitCard& card = *m_cards.back();
    card.path = path;
    card.advertisedSectors = cylinders * 255 * 63;
    card.realSectors = realSectors;
    card.kind = kind;
    card.lostReads = lostReads;
    m_geometry[path] = {static_cast<int64_t>(cylinders), kRemovableMedia, 255, 63, 512};
    return card;
  }
  CounterfeitCard& Card(size_t i) { return *m_cards[i]; }

  std::vector<DiskSlot> Slots() override {
    std::vector<DiskSlot> slots;
    for (const auto& c : m_cards) slots.push_back({c->path});
    return slots;
  }
  std::unique_ptr<IDiskQuery> OpenForQuery(const std::string& path) override {
    if (!Find(path)) return nullptr;
    return std::make_unique<FixedGeometryQuery>(m_geometry[path]);
  }
  SysResult<std::unique_ptr<IDiskWriter>> OpenForWrite(const std::string& path) override {
    CounterfeitCard* card = Find(path);
    if (!card) return Failure(ENOENT);
    return std::unique_ptr<IDiskWriter>(std::make_unique<Writer>(*card));
  }

 private:
  static SysStatus Failure(int err) {
    return SysStatus::FromCode(std::error_code(err, std::generic_category()));
  }
  CounterfeitCard* Find(const std::string& path) {
    for (auto& c : m_cards)
      if (c->path == path) return c.get();
    return nullptr;
  }

  class Writer : public IDiskWriter {
   public:
    explicit Writer(CounterfeitCard& card) : m_card(card) {}
    SysStatus WriteAt(uint64_t byteOffset, const void* data, size_t len) override {
      if (byteOffset % 512 != 0 || len % 512 != 0) return Failure(EINVAL);
      const uint64_t first = byteOffset / 512, count = len / 512;
      if (first + count > m_card.advertisedSectors) return Failure(ENOSPC);
      m_card.writes.push_back({first, count});
      const auto* bytes = static_cast<const uint8_t*>(data);
      for (uint64_t i = 0; i < count; ++i) m_card.Write(first + i, bytes + i * 512);
      return SysStatus::Ok();
    }
    SysStatus ReadBackAt(uint64_t byteOffset, void* data, size_t len) override {
      if (byteOffset % 512 != 0 || len % 512 != 0) return Failure(EINVAL);
      const uint64_t first = byteOffset / 512, count = len / 512;
      if (first + count > m_card.advertisedSectors) return Failure(EIO);
      if (m_card.failReadAtSector && *m_card.failReadAtSector >= first &&
          *m_card.failReadAtSector < first + count)
        return Failure(EIO);
      m_card.reads.push_back({first, count});
      auto* out = static_cast<uint8_t*>(data);
      for (uint64_t i = 0; i < count; ++i) {
        const CounterfeitCard::Sector s = m_card.Read(first + i);
        std::memcpy(out + i * 512, s.data(), 512);
      }
      return SysStatus::Ok();
    }
    SysStatus Flush() override {
      ++m_card.flushes;
      return SysStatus::Ok();
    }
    void Close() override {}

   private:
    CounterfeitCard& m_card;
  };

  std::vector<std::unique_ptr<CounterfeitCard>> m_cards;
  std::map<std::string, DiskGeometry> m_geometry;
};

}  // namespace tarnwick::testing
