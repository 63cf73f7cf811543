#pragma once
// An in-memory disk service for engine tests: each slot is a card with a
// geometry answer and a sparse map of written sectors (sectors never written
// read back as a pattern byte, as on a card pre-filled with it). Writes can be
// made to fail at a chosen sector, as can opening and flushing; every open,
// flush and close is recorded in one event list across all cards, and every
// write call in the card's own list.
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "common/le.h"
#include "platform/disk_service.h"

namespace tarnwick::testing {

inline constexpr uint8_t kPatternByte = 0xA5;
using Sector = std::array<uint8_t, 512>;

// One WriteAt call as the card received it.
struct WriteCall {
  uint64_t offset;
  size_t len;
  const void* data;
  bool operator==(const WriteCall&) const = default;
};

struct FakeCard {
  std::string path;
  bool exists = true;  // false: the path cannot be opened at all
  bool answersGeometry = true;
  DiskGeometry geometry;
  bool answersMediaTypes = false;
  DiskGeometry mediaGeometry;            // the first media entry of the media-types answer
  uint32_t mediaEntries = 1;             // the entry count of the media-types answer
  uint64_t sectorCount = 0;              // writes past it fail with ENOSPC (0: no limit)
  std::optional<uint64_t> failAtSector;  // a write covering it fails with failError
  int failError = EIO;
  bool failFlush = false;
  bool deletedWhileWritten = false;  // the image file is gone once written
  std::string instance;              // what DiskInstanceOf answers
  bool keepSectors = true;           // false: writes are only recorded in calls
  // Counterfeit cards: sectors from dropFrom on (to dropTo) are never
  // stored, though their writes succeed; with wrapAt, sector s is stored at
  // s % wrapAt.
  std::optional<uint64_t> dropFrom;
  uint64_t dropTo = UINT64_MAX;
  std::optional<uint64_t> wrapAt;
  bool readsBack = true;  // false: ReadBackAt is not supported
  int readBacks = 0;
  std::map<uint64_t, Sector> sectors;
  std::vector<WriteCall> calls;
  int queries = 0;

  bool Written(uint64_t sector) const { return sectors.count(sector) != 0; }
  Sector Read(uint64_t sector) const {
    auto it = sectors.find(sector);
    if (it != sectors.end()) return it->second;
    Sector s;
    s.fill(kPatternByte);
    return s;
  }
  // Bytes [0, len) of the sectors from first on.
  std::vector<uint8_t> ReadBytes(uint64_t first, size_t len) const {
    std::vector<uint8_t> out;
    for (uint64_t s = first; out.size() < len; ++s) {
      const Sector sec = Read(s);
      out.insert(out.end(), sec.begin(), sec.end());
    }
    out.resize(len);
    return out;
  }
  // How many sectors of [first, first + count) were written.
  uint64_t WrittenIn(uint64_t first, uint64_t count) const {
    auto it = sectors.lower_bound(first);
    uint64_t n = 0;
    for (; it != sectors.end() && it->first < first + count; ++it) ++n;
    return n;
  }
};

class FakeDiskService : public IDiskService {
 public:
  // Cards live in slots in the order added; a removable card of a given size
  // in sectors (cylinders of 255 x 63 sectors, so sizes must be multiples of 16065).
  FakeCard& AddCard(const std::string& path, uint64_t cylinders) {
    FakeCard& card = AddSlot(path);
    card.geometry = {static_cast<int64_t>(cylinders), kRemovableMedia, 255, 63, 512};
    card.sectorCount = cylinders * 255 * 63;
    return card;
  }
  FakeCard& AddSlot(const std::string& path) {
    cards.push_back(std::make_unique<FakeCard>());
    cards.back()->path = path;
    return *cards.back();
  }
  FakeCard& Card(size_t i) { return *cards[i]; }

  std::vector<DiskSlot> Slots() override {
    std::vector<DiskSlot> slots;
    for (const auto& c : cards) slots.push_back({c->path});
    return slots;
  }

  std::unique_ptr<IDiskQuery> OpenForQuery(const std::string& path) override {
    FakeCard* card = Find(path);
    if (!card || !card->exists) return nullptr;
    ++card->queries;
    return std::make_unique<Query>(*card);
  }

  SysResult<std::unique_ptr<IDiskWriter>> OpenForWrite(const std::string& path) override {
    FakeCard* card = Find(path);
    AddEvent("open " + path);
    if (!card || !card->exists) {
      return SysStatus(std::make_error_code(std::errc::permission_denied),
                       path + ": permission denied");
    }
    return std::unique_ptr<IDiskWriter>(std::make_unique<Writer>(*this, *card));
  }

  std::string DiskInstanceOf(const std::string& path) override {
    FakeCard* card = Find(path);
    return card ? card->instance : std::string();
  }

  std::vector<std::unique_ptr<FakeCard>> cards;
  std::vector<std::string> events;

  // Cards written at the same time record their events one at a time.
  void AddEvent(const std::string& event) {
    std::lock_guard<std::mutex> lock(m_eventsMutex);
    events.push_back(event);
  }

 private:
  std::mutex m_eventsMutex;
  FakeCard* Find(const std::string& path) {
    for (auto& c : cards)
      if (c->path == path) return c.get();
    return nullptr;
  }

  class Query : public IDiskQuery {
   public:
    explicit Query(FakeCard& card) : m_card(card) {}
    bool GetDriveGeometry(DiskGeometry& geometry) override {
      if (!m_card.answersGeometry) return false;
      geometry = m_card.geometry;
      return true;
    }
    bool GetMediaTypes(uint8_t (&answer)[kMediaTypesAnswerSize]) override {
      if (!m_card.answersMediaTypes) return false;
      std::memset(answer, 0, sizeof answer);
      const DiskGeometry& g = m_card.mediaGeometry;
      PutU32(answer, 4, m_card.mediaEntries);
      PutU64(answer, 8, static_cast<uint64_t>(g.Cylinders));
      PutU32(answer, 16, g.MediaType);
      PutU32(answer, 20, g.TracksPerCylinder);
      PutU32(answer, 24, g.SectorsPerTrack);
      PutU32(answer, 28, g.BytesPerSector);
      PutU32(answer, 32, 0xDEADBEEF);  // past the first entry: never read
      return true;
    }

   private:
    FakeCard& m_card;
  };

  class Writer : public IDiskWriter {
   public:
    Writer(FakeDiskService& service, FakeCard& card) : m_service(service), m_card(card) {}
    SysStatus WriteAt(uint64_t byteOffset, const void* data, size_t len) override {
      m_card.calls.push_back({byteOffset, len, data});
      if (byteOffset % 512 != 0 || len % 512 != 0) return Failure(EINVAL);
      const uint64_t first = byteOffset / 512;
      const uint64_t count = len / 512;
      if (m_card.failAtSector && *m_card.failAtSector >= first &&
          *m_card.failAtSector < first + count) {
        return Failure(m_card.failError);
      }
      if (m_card.sectorCount != 0 && first + count > m_card.sectorCount) return Failure(ENOSPC);
      if (!m_card.keepSectors) return SysStatus::Ok();
      const auto* bytes = static_cast<const uint8_t*>(data);
      for (uint64_t i = 0; i < count; ++i) {
        const uint64_t at = Stored(first + i);
        if (m_card.dropFrom && at >= *m_card.dropFrom && at < m_card.dropTo) continue;
        std::memcpy(m_card.sectors[at].data(), bytes + i * 512, 512);
      }
      return SysStatus::Ok();
    }
    SysStatus ReadBackAt(uint64_t byteOffset, void* data, size_t len) override {
      if (!m_card.readsBack) return IDiskWriter::ReadBackAt(byteOffset, data, len);
      ++m_card.readBacks;
      if (byteOffset % 512 != 0 || len % 512 != 0) return Failure(EINVAL);
      auto* bytes = static_cast<uint8_t*>(data);
      for (uint64_t i = 0; i < len / 512; ++i) {
        const Sector s = m_card.Read(Stored(byteOffset / 512 + i));
        std::memcpy(bytes + i * 512, s.data(), 512);
      }
      return SysStatus::Ok();
    }
    SysStatus Flush() override {
      m_service.AddEvent("flush " + m_card.path);
      return m_card.failFlush ? Failure(EIO) : SysStatus::Ok();
    }
    SysStatus CheckStillTarget() override {
      return m_card.deletedWhileWritten ? CardImageStillWhole(0, 0, 0) : SysStatus::Ok();
    }
    void Close() override { m_service.AddEvent("close " + m_card.path); }

   private:
    uint64_t Stored(uint64_t sector) const {
      return m_card.wrapAt ? sector % *m_card.wrapAt : sector;
    }
    // The fake stands for the platform: its codes are errno values.
    static SysStatus Failure(int err) {
      return SysStatus::FromCode(std::error_code(err, std::generic_category()));
    }

    FakeDiskService& m_service;
    FakeCard& m_card;
  };
};

}  // namespace tarnwick::testing
