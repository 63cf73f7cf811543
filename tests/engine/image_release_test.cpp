// The burn hands each image's memory back once its stage is done, so that
// the images of a card are not all held until the card is finished.
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

// A disk service whose writers show every write to a watcher first.
class WatchedDisks : public FakeDiskService {
 public:
  std::function<void(uint64_t byteOffset, const void* data)> watch;

  std::unique_ptr<IDiskWriter> OpenForWrite(const std::string& path,
                                            std::string* errorText) override {
    std::unique_ptr<IDiskWriter> inner = FakeDiskService::OpenForWrite(path, errorText);
    if (!inner) return nullptr;
    return std::make_unique<Watched>(std::move(inner), watch);
  }

 private:
  class Watched : public IDiskWriter {
   public:
    Watched(std::unique_ptr<IDiskWriter> inner, std::function<void(uint64_t, const void*)>& watch)
        : m_inner(std::move(inner)), m_watch(watch) {}
    int WriteAt(uint64_t byteOffset, const void* data, size_t len) override {
      m_watch(byteOffset, data);
      return m_inner->WriteAt(byteOffset, data, len);
    }
    int Flush() override { return m_inner->Flush(); }
    void Close() override { m_inner->Close(); }

   private:
    std::unique_ptr<IDiskWriter> m_inner;
    std::function<void(uint64_t, const void*)>& m_watch;
  };
};

TEST_F(BurnFixture, EachImageIsReleasedOnceItsStageIsDone) {
  // Written in this order: System, Cache, Data.
  const uint64_t systemAt = (kX + 63) * 512;
  const uint64_t cacheAt = (kX + kL2 + 63) * 512;
  const uint64_t dataAt = (kX + kL1 + 63) * 512;
  const void* system = nullptr;
  const void* cache = nullptr;
  std::vector<std::string> seen;
  WatchedDisks watched;
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
  watched.AddCard("card", kExampleCylinders);
  WriteInputs();
  CBurnEngine burn(watched, op, settings);
  burn.m_strCfgFile = cfgFile;
  burn.m_strPackFile = packFile;
  burn.m_bWaitDevice = true;
  LogCapture capture;
  burn.RunBurn();
  ASSERT_EQ(burn.LastRun().cardsWritten, 1);
  EXPECT_EQ(seen,
            (std::vector<std::string>{"System mapped: yes", "System mapped at Cache: no",
                                      "System mapped at Data: no", "Cache mapped at Data: no"}));
}

}  // namespace
}  // namespace tarnwick::testing
