// A parallel run burns every card at the same time: each card as a
// sequential run burns it, its log lines in one block, a failing card
// leaving the others alone.
#include <algorithm>
#include <mutex>

#include "burn_fixture.h"
#include "common/le.h"
#include "engine/burn_stages.h"
#include "platform/fs/read_only_file.h"

namespace tarnwick::testing {
namespace {

const std::string kDone = "烧写完成";

// The log cut into the blocks of its cards (each starts with the plan's line), sorted.
std::vector<std::string> CardBlocks(const std::string& log) {
  std::vector<std::string> blocks;
  size_t at = 0;
  while ((at = log.find("m_arrStartSector", at)) != std::string::npos) {
    const size_t next = log.find("m_arrStartSector", at + 1);
    blocks.push_back(log.substr(at, next == std::string::npos ? std::string::npos : next - at));
    at = next;
  }
  std::sort(blocks.begin(), blocks.end());
  return blocks;
}

class ParallelTest : public BurnFixture {
 protected:
  // Cards of different sizes; the second fails in System.
  static void AddCards(FakeDiskService& service) {
    service.AddCard("small", kExampleCylinders);
    service.AddCard("failing", 600).failAtSector = 7'672'983 + 100;  // in its System
    service.AddSlot("empty").exists = false;
    service.AddCard("large", 700);
  }
  // The same cards burned one after another.
  void RunSequential(FakeDiskService& service, std::string& text) {
    FakeOperator sequentialOp;
    CBurnEngine burn(service, sequentialOp, settings);
    burn.SetCfgFile(cfgFile);
    burn.SetPackFile(packFile);
    LogCapture capture;
    burn.RunBurn();
    text = capture.Text();
    sequential = burn.LastRun();
  }
  RunSummary sequential;
};

TEST_F(ParallelTest, EveryCardIsWrittenAsOneAfterAnotherWouldWriteIt) {
  images[PackSlot::System] = PatternBytes(3'000'000, 4);
  AddCards(disks);
  settings.values["ParallelBurn"] = 1;
  Run();
  FakeDiskService alone;
  AddCards(alone);
  std::string sequentialLog;
  settings.values["ParallelBurn"] = 0;
  RunSequential(alone, sequentialLog);

  const RunSummary& run = engine->LastRun();
  EXPECT_EQ(run.cardsFound, 3);
  EXPECT_EQ(run.cardsWritten, 2);
  ASSERT_EQ(run.failed.size(), 1u);
  EXPECT_EQ(run.failed[0].device, "failing");
  EXPECT_EQ(run.failed[0].reason, sequential.failed[0].reason);
  EXPECT_FALSE(run.aborted);
  for (size_t card : {0u, 3u}) {
    EXPECT_TRUE(disks.Card(card).sectors == alone.Card(card).sectors) << card;
  }
  // Each card's lines in one block, each block as the sequential run wrote it,
  // and nothing else.
  EXPECT_EQ(CardBlocks(log), CardBlocks(sequentialLog));
  EXPECT_EQ(log.size(), sequentialLog.size());
  EXPECT_EQ(CardBlocks(log).size(), 3u);
  EXPECT_EQ(op.events, (std::vector<std::string>{"enable 1", "report 1", "box " + kDone}));
  // The bar follows the least advanced card: it never goes back and ends full.
  EXPECT_TRUE(std::is_sorted(op.progress.begin(), op.progress.end()));
  EXPECT_EQ(op.progress.back(), kProgressCardDone);
}

// A pack read error ends only the card that meets it: the other cards are
// written and the run ends with the error, as a sequential run does.
TEST_F(ParallelTest, PackReadErrorEndsTheRunOnceEveryCardHasEnded) {
  disks.AddCard("first", kExampleCylinders);
  disks.AddCard("second", 600);
  settings.values["ParallelBurn"] = 1;
  WriteInputs();
  // Both cards read the same System bytes: the second read of them fails,
  // whichever card makes it.
  int systemReads = 0;
  const std::vector<uint8_t> header = ReadFileBytes(packFile);
  const uint64_t system = GetU32(header.data(), PackSlotOffset(PackSlot::System));
  std::mutex mutex;
  const ReadFault previous = SetReadFault([&](uint64_t offset, size_t) {
    std::lock_guard<std::mutex> lock(mutex);
    if (offset == system && ++systemReads == 2) {
      return SysStatus(std::make_error_code(std::errc::io_error), "I/O error");
    }
    return SysStatus::Ok();
  });
  MakeEngine();
  {
    LogCapture capture;
    engine->RunBurn();
    log = capture.Text();
  }
  SetReadFault(previous);
  const RunSummary& run = engine->LastRun();
  EXPECT_EQ(run.cardsWritten, 1);
  ASSERT_EQ(run.failed.size(), 1u);
  EXPECT_TRUE(run.aborted);
  EXPECT_EQ(run.failed[0].reason, run.abortReason);
  EXPECT_NE(run.abortReason.find("System image at offset"), std::string::npos);
  EXPECT_EQ(op.events,
            (std::vector<std::string>{"enable 1", "report 1", "box " + run.abortReason}));
  EXPECT_EQ(Count("BurnToOneSD: Write ok\n"), 1u);
}

}  // namespace
}  // namespace tarnwick::testing
