// The result lines of a run: each card told once, whether its end comes as
// a card update (from the engine's threads) or from the run's summary.
#include "cli/card_lines.h"

#include <gtest/gtest.h>

#include <thread>

namespace tarnwick::cli {
namespace {

CardStatus Ended(const std::string& device, CardPhase phase, uint64_t bytes, double seconds,
                 const std::string& reason = "") {
  CardStatus s;
  s.device = device;
  s.sizeBytes = 16450560;
  s.phase = phase;
  s.bytesWritten = bytes;
  s.seconds = seconds;
  s.reason = reason;
  return s;
}

TEST(CardResults, UpdatesFromSeveralThreadsAndTheSummaryTellEachCardOnce) {
  std::vector<std::string> lines;
  CCardResults results([&](const std::string& line) { lines.push_back(line); });
  results.StartRun({{"a.img", 16450560, {}}, {"b.img", 24675840, {"Acme", "Reader"}}});
  std::thread first([&] { results.OnCardUpdate(Ended("a.img", CardPhase::Done, 20'000'000, 2)); });
  std::thread second([&] {
    results.OnCardUpdate(Ended("b.img", CardPhase::Writing, 1000, 1));
    results.OnCardUpdate(Ended("b.img", CardPhase::Failed, 1000, 1, "Write MBR failed"));
  });
  first.join();
  second.join();
  RunSummary run;
  run.opened = {"a.img", "b.img", "d.img"};
  run.failed = {{1, "b.img", "Write MBR failed"}, {2, "c.img", "too small"}};
  results.FinishRun(run, false);
  std::sort(lines.begin(), lines.end());
  EXPECT_EQ(lines, (std::vector<std::string>{
                       "a.img, 15.7 MiB: written completely in 2.0 s, 10.0 MB/s\n",
                       "b.img, 23.5 MiB, Acme Reader: FAILED, write failed: Write MBR failed\n",
                       "c.img: FAILED, not written: too small\n", "d.img: written completely\n"}));
  EXPECT_EQ(results.Passed(), 2);
  EXPECT_EQ(results.Failed(), 2);
}

TEST(CardResults, CtrlCMakesTheCardInHandInterruptedAndTheRestNotWritten) {
  std::vector<std::string> lines;
  CCardResults results([&](const std::string& line) { lines.push_back(line); });
  results.StartRun({});
  RunSummary run;
  run.opened = {"a.img", "b.img"};
  run.failed = {{1, "b.img", "Write System failed"},
                {2, "c.img", std::string("OpenDisk failed: c.img: ") + kStoppedByInterrupt}};
  results.FinishRun(run, true);
  EXPECT_EQ(lines,
            (std::vector<std::string>{"a.img: written completely\n",
                                      "b.img: INTERRUPTED, incomplete: stopped by Ctrl-C (Write "
                                      "System failed)\n",
                                      "c.img: INTERRUPTED, not written: stopped by Ctrl-C\n"}));
  EXPECT_EQ(results.Passed(), 1);
  EXPECT_EQ(results.Interrupted(), 2);
  // A new run tells its cards afresh (a card inserted again).
  results.StartRun({});
  RunSummary again;
  again.opened = {"a.img"};
  results.FinishRun(again, false);
  EXPECT_EQ(lines.back(), "a.img: written completely\n");
  EXPECT_EQ(results.Passed(), 2);
}

}  // namespace
}  // namespace tarnwick::cli
