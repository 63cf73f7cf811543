// A lack of memory during a burn: the allocation functions of this test
// program can be made to refuse large blocks, and the card in hand must then
// be untouched and listed as failed.
#include <atomic>
#include <cstdlib>
#include <new>

#include "burn_fixture.h"

namespace {

// Blocks of at least this many bytes are refused; 0: none is.
std::atomic<size_t> g_refuseFrom{0};

void* Allocate(size_t size) {
  const size_t limit = g_refuseFrom.load();
  if (limit != 0 && size >= limit) throw std::bad_alloc();
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}

}  // namespace

// Every non-aligned form is replaced, so that blocks are always had and
// handed back through the same pair of functions.
void* operator new(size_t size) {
  return Allocate(size);
}
void* operator new[](size_t size) {
  return Allocate(size);
}
void* operator new(size_t size, const std::nothrow_t&) noexcept {
  try {
    return Allocate(size);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}
void* operator new[](size_t size, const std::nothrow_t&) noexcept {
  return operator new(size, std::nothrow);
}
void operator delete(void* p) noexcept {
  std::free(p);
}
void operator delete[](void* p) noexcept {
  std::free(p);
}
void operator delete(void* p, size_t) noexcept {
  std::free(p);
}
void operator delete[](void* p, size_t) noexcept {
  std::free(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
  std::free(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
  std::free(p);
}

namespace tarnwick::testing {
namespace {

class RefuseLargeBlocks {
 public:
  explicit RefuseLargeBlocks(size_t from) { g_refuseFrom = from; }
  ~RefuseLargeBlocks() { g_refuseFrom = 0; }
  RefuseLargeBlocks(const RefuseLargeBlocks&) = delete;
  RefuseLargeBlocks& operator=(const RefuseLargeBlocks&) = delete;
};

// The zero buffers of Misc, BootEnv and the FATs (a MiB and more; the images
// live in large buffers of their own) cannot be had: the card is never opened,
// the run stops, and the card is listed with the reason.
TEST_F(BurnFixture, MemoryRefusedForTheZeroBuffersLeavesTheCardUntouchedAndListed) {
  FakeCard& card = disks.AddCard("card", kExampleCylinders);
  WriteInputs();
  MakeEngine();
  LogCapture capture;
  {
    RefuseLargeBlocks refuse(1u << 20);
    engine->RunBurn();
  }
  EXPECT_TRUE(disks.events.empty());
  EXPECT_TRUE(card.sectors.empty());
  const RunSummary& run = engine->LastRun();
  EXPECT_TRUE(run.aborted);
  ASSERT_EQ(run.failed.size(), 1u);
  EXPECT_EQ(run.failed[0].device, "card");
  EXPECT_EQ(run.failed[0].reason, "not enough memory to burn the card");
  EXPECT_EQ(run.cardsRefused, 1);
  EXPECT_EQ(op.events, (std::vector<std::string>{"enable 1", "report 1",
                                                 "box not enough memory to burn the card"}));
}

}  // namespace
}  // namespace tarnwick::testing
