#pragma once
// What the terminal says about each card: its description (device, size,
// maker and model) for the question before a burn, and one result line per
// card once it is over, with running counts for watch mode.
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "engine/burn_engine.h"
#include "platform/disk_service.h"
#include "platform/host.h"

namespace tarnwick::cli {

// Why a card was not written when Ctrl-C stopped the run before it.
inline constexpr char kStoppedByInterrupt[] = "stopped by Ctrl-C";

struct CardDescription {
  std::string device;
  uint64_t bytes = 0;
  DiskIdentity id;
};

// "64.0 MiB", "3.7 GiB": powers of 1024, as --size takes them.
std::string SizeText(uint64_t bytes);
// "/dev/sdb, 3.7 GiB, Generic STORAGE DEVICE" (the size, maker and model when known).
std::string DescribeCard(const CardDescription& card);

// The cards that discovery would burn now, in slot order. The probe goes
// past the debug log: the run that follows logs its own discovery.
std::vector<CardDescription> SurveyCards(IDiskService& disks);

// The question asked before a burn, followed by the cards it would erase.
std::string WarningWithCards(const std::string& question,
                             const std::vector<CardDescription>& cards);

class CCardResults {
 public:
  using Writer = std::function<void(const std::string&)>;
  explicit CCardResults(Writer write) : m_write(std::move(write)) {}

  // A run begins; the cards it may burn, for their descriptions.
  void StartRun(std::vector<CardDescription> cards);
  // A card's status from the engine (any thread): a card that ended is told.
  void OnCardUpdate(const CardStatus& status);
  // Tells every card of the run not told yet, from the run's summary. A
  // card that failed while Ctrl-C stopped the run is interrupted, not failed.
  void FinishRun(const RunSummary& run, bool interrupted);

  int Passed() const { return m_passed; }
  int Failed() const { return m_failed; }
  int Interrupted() const { return m_interrupted; }

 private:
  enum class Outcome { Written, Failed, Interrupted };
  void Tell(const std::string& device, Outcome outcome, const std::string& detail);
  CardDescription Description(const std::string& device) const;

  Writer m_write;
  std::mutex m_mutex;
  std::vector<CardDescription> m_cards;
  std::set<std::string> m_told;
  int m_passed = 0, m_failed = 0, m_interrupted = 0;
};

}  // namespace tarnwick::cli
