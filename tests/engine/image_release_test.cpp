// The burn hands each image's memory back as it goes: every piece once it is
// written, the whole buffer once its stage is done.
#include <sys/mman.h>

#include <functional>

#include "burn_fixture.h"

namespace tarnwick::testing {
namespace {

// True when the page holding address is mapped in this process.
bool Mapped(const void* address) {
  const auto page = reinterpret_cast<uintptr_t>(address) & ~uintptr_t{4095};
  unsigned char resident = 0;
  return ::mincore(reinterpret_cast<void*>(page), 1, &resident) == 0;
}

// True when the page holding address is in memory.
bool Resident(const void* address) {
  const auto page = reinterpret_cast<uintptr_t>(address) & ~uintptr_t{4095};
  unsigned char resident = 0;
  return ::mincore(reinterpret_cast<void*>(page), 1, &resident) == 0 && (resident & 1) != 0;
}

// A disk service whose writers show every write to a watcher first.
class WatchedDisks : public FakeDiskService {
 public:
  std::function<void(uint64_t byteOffset, const void* data)> watch;

  SysResult<std::unique_ptr<IDiskWriter>> OpenForWrite(const std::string& path) override {
    SysResult<std::unique_ptr<IDiskWriter>> inner = FakeDiskService::OpenForWrite(path);
    if (!inner) return inner;
    return std::unique_ptr<IDiskWriter>(std::make_unique<Watched>(inner.Take(), watch));
  }

 private:
  class Watched : public IDiskWriter {
   public:
    Watched(std::unique_ptr<IDiskWriter> inner, std::function<void(uint64_t, const void*)>& watch)
        : m_inner(std::move(inner)), m_watch(watch) {}
    SysStatus WriteAt(uint64_t byteOffset, const void* data, size_t len) override {
      m_watch(byteOffset, data);
      return m_inner->WriteAt(byteOffset, data, len);
    }
    SysStatus Flush() override { return m_inner->Flush(); }
    void Close() override { m_inner->Close(); }

   private:
    std::unique_ptr<IDiskWriter> m_inner;
    std::function<void(uint64_t, const void*)>& m_watch;
  };
};

class ImageReleaseTest : public BurnFixture {
 protected:
  // Burns the worked example's card through the watched disks.
  void BurnWatchedCard() {
    watched.AddCard("card", kExampleCylinders).keepSectors = keepSectors;
    WriteInputs();
    CBurnEngine burn(watched, op, settings);
    burn.SetCfgFile(cfgFile);
    burn.SetPackFile(packFile);
    burn.SetWaitDevice(true);
    LogCapture capture;
    burn.RunBurn();
    EXPECT_EQ(burn.LastRun().cardsWritten, 1);
  }

  WatchedDisks watched;
  bool keepSectors = true;
};

TEST_F(ImageReleaseTest, EachImageIsReleasedOnceItsStageIsDone) {
  // Written in this order: System, Cache, Data.
  const uint64_t systemAt = (kX + 63) * 512;
  const uint64_t cacheAt = (kX + kL2 + 63) * 512;
  const uint64_t dataAt = (kX + kL1 + 63) * 512;
  const void* system = nullptr;
  const void* cache = nullptr;
  std::vector<std::string> seen;
  watched.watch = [&](uint64_t at, const void* data) {
    if (at == systemAt) {
      system = data;
      seen.push_back(std::string("System mapped: ") + (Mapped(system) ? "yes" : "no"));
    } else if (at == cacheAt) {
      cache = data;
      seen.push_back(std::string("System mapped at Cache: ") + (Mapped(system) ? "yes" : "no"));
    } else if (at == dataAt) {
      seen.push_back(std::string("System mapped at Data: ") + (Mapped(system) ? "yes" : "no"));
      seen.push_back(std::string("Cache mapped at Data: ") + (Mapped(cache) ? "yes" : "no"));
    }
  };
  BurnWatchedCard();
  EXPECT_EQ(seen,
            (std::vector<std::string>{"System mapped: yes", "System mapped at Cache: no",
                                      "System mapped at Data: no", "Cache mapped at Data: no"}));
}

TEST_F(ImageReleaseTest, EachPieceOfAnImageIsReleasedOnceWritten) {
  // Two system writes for System: 32 MiB, then the rest with the zero sector.
  images[PackSlot::System] = PatternBytes((32u << 20) + 1000, 4);
  const uint64_t systemAt = (kX + 63) * 512;
  const uint64_t secondAt = systemAt + (32u << 20);
  const uint8_t* first = nullptr;
  std::vector<std::string> seen;
  watched.watch = [&](uint64_t at, const void* data) {
    const auto* bytes = static_cast<const uint8_t*>(data);
    if (at == systemAt) {
      first = bytes;
      seen.push_back(std::string("first piece in memory: ") + (Resident(first) ? "yes" : "no"));
    } else if (at == secondAt) {
      seen.push_back(std::string("at the second, first piece in memory: ") +
                     (Resident(first) || Resident(first + (32u << 20) - 1) ? "yes" : "no"));
      seen.push_back(std::string("second piece in memory: ") + (Resident(bytes) ? "yes" : "no"));
    }
  };
  keepSectors = false;
  BurnWatchedCard();
  EXPECT_EQ(seen, (std::vector<std::string>{"first piece in memory: yes",
                                            "at the second, first piece in memory: no",
                                            "second piece in memory: yes"}));
}

}  // namespace
}  // namespace tarnwick::testing
