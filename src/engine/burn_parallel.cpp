// The parallel run: every present card is burned at the same time, each by an
// engine of its own (its own plan, records, sector writer and failure) on a
// thread of its own. The engines share the run's disk service, settings and
// operator through the locked stand-ins below; the operator's progress shows
// the least advanced card.
#include <algorithm>
#include <mutex>
#include <new>
#include <thread>

#include "common/debug_log.h"
#include "engine/burn_engine.h"
#include "engine/errors.h"

namespace tarnwick {

namespace {

// Each card's own pool: 3 x 4 MiB, well within 16 MiB a card.
constexpr StreamPool kParallelPool{3, size_t{4} << 20};

// What the card engines share, one call at a time.
struct SharedRun {
  std::mutex mutex;
  IDiskService& disks;
  ISettingsReader& settings;
  IOperator& op;
  std::array<int, kMaxDiskSlots> positions{};  // each card's progress; -1: not in the run
  int shown = -1;
};

class LockedDisks final : public IDiskService {
 public:
  explicit LockedDisks(SharedRun& run) : m_run(run) {}
  std::vector<DiskSlot> Slots() override {
    std::lock_guard<std::mutex> lock(m_run.mutex);
    return m_run.disks.Slots();
  }
  std::unique_ptr<IDiskQuery> OpenForQuery(const std::string& path) override {
    std::lock_guard<std::mutex> lock(m_run.mutex);
    return m_run.disks.OpenForQuery(path);
  }
  SysResult<std::unique_ptr<IDiskWriter>> OpenForWrite(const std::string& path) override {
    std::lock_guard<std::mutex> lock(m_run.mutex);
    return m_run.disks.OpenForWrite(path);
  }
  std::string DiskInstanceOf(const std::string& path) override {
    std::lock_guard<std::mutex> lock(m_run.mutex);
    return m_run.disks.DiskInstanceOf(path);
  }

 private:
  SharedRun& m_run;
};

class LockedSettings final : public ISettingsReader {
 public:
  explicit LockedSettings(SharedRun& run) : m_run(run) {}
  int ReadInt(const std::string& section, const std::string& key) override {
    std::lock_guard<std::mutex> lock(m_run.mutex);
    return m_run.settings.ReadInt(section, key);
  }

 private:
  SharedRun& m_run;
};

// The operator of one card. The run's end (controls, failed cards, final
// message) is the parent engine's, so a card engine never reaches it.
class CardOperator final : public IOperator {
 public:
  CardOperator(SharedRun& run, int slot) : m_run(run), m_slot(slot) {}
  MsgAnswer ShowMessage(const std::string& text, MsgButtons buttons) override {
    std::lock_guard<std::mutex> lock(m_run.mutex);
    return m_run.op.ShowMessage(text, buttons);
  }
  void SetProgress(int position) override {
    std::lock_guard<std::mutex> lock(m_run.mutex);
    m_run.positions[m_slot] = position;
    int least = kProgressMax;
    for (int p : m_run.positions)
      if (p >= 0) least = std::min(least, p);
    if (least != m_run.shown) {
      m_run.shown = least;
      m_run.op.SetProgress(least);
    }
  }
  void Refresh() override {
    std::lock_guard<std::mutex> lock(m_run.mutex);
    m_run.op.Refresh();
  }
  void EnableControls(bool /*enable*/) override {}
  void ReportFailedCards(const std::vector<FailedCard>& /*cards*/) override {}
  void CardUpdate(const CardStatus& status) override {
    std::lock_guard<std::mutex> lock(m_run.mutex);
    m_run.op.CardUpdate(status);
  }

  // The card has ended: the progress follows the cards still being burned.
  void Ended() {
    std::lock_guard<std::mutex> lock(m_run.mutex);
    bool others = false;
    for (size_t k = 0; k < m_run.positions.size(); ++k)
      others |= static_cast<int>(k) != m_slot && m_run.positions[k] >= 0;
    if (others) m_run.positions[m_slot] = -1;
  }

  static constexpr int kProgressMax = 1 << 30;

 private:
  SharedRun& m_run;
  int m_slot;
};

}  // namespace

void CBurnEngine::RunParallel() {
  SharedRun shared{{}, m_disks, m_settings, m_op};
  shared.positions.fill(-1);
  LockedDisks disks(shared);
  LockedSettings settings(shared);
  std::vector<std::unique_ptr<CardOperator>> operators;
  std::vector<std::unique_ptr<CBurnEngine>> engines;
  for (int k = 0; k < static_cast<int>(kMaxDiskSlots); ++k) {
    if (!m_arrCards[k].present) continue;
    shared.positions[k] = 0;
    operators.push_back(std::make_unique<CardOperator>(shared, k));
    std::unique_ptr<CBurnEngine> engine;
    {
      // The run's own engine has logged the plan's construction lines already.
      LogBlock construction;
      engine = std::make_unique<CBurnEngine>(disks, *operators.back(), settings);
      construction.Discard();
    }
    engine->m_strCfgFile = m_strCfgFile;
    engine->m_strPackFile = m_strPackFile;
    engine->m_arrCards = m_arrCards;
    engine->m_slotPaths = m_slotPaths;
    engine->m_bVerifyRun = m_bVerifyRun;
    engine->m_streamPool = kParallelPool;
    engine->m_nCurrentSlot = k;
    engines.push_back(std::move(engine));
  }
  {
    std::vector<std::thread> threads;
    threads.reserve(engines.size());
    for (size_t i = 0; i < engines.size(); ++i) {
      CBurnEngine* card = engines[i].get();
      CardOperator* cardOp = operators[i].get();
      threads.emplace_back([card, cardOp] {
        card->BurnParallelSlot(card->m_nCurrentSlot);
        cardOp->Ended();
      });
    }
    for (std::thread& thread : threads) thread.join();
  }
  // The cards' outcomes in slot order, as a sequential run counts them.
  for (const auto& engine : engines) {
    const RunSummary& card = engine->m_lastRun;
    m_lastRun.cardsFound += card.cardsFound;
    m_lastRun.cardsWritten += card.cardsWritten;
    m_lastRun.cardsRefused += card.cardsRefused;
    m_lastRun.failed.insert(m_lastRun.failed.end(), card.failed.begin(), card.failed.end());
    m_lastRun.opened.insert(m_lastRun.opened.end(), card.opened.begin(), card.opened.end());
    if (card.aborted && !m_lastRun.aborted) {
      m_lastRun.aborted = true;
      m_lastRun.abortReason = card.abortReason;
    }
  }
  if (m_lastRun.aborted) {
    // A pack read error or a lack of memory ends the run as it does one card
    // after another: the error is shown instead of the final message.
    const std::string error = m_lastRun.abortReason;
    m_bCardInHand = false;
    AbortRun(error);
  } else {
    EndRun();
  }
}

void CBurnEngine::BurnParallelSlot(int k) {
  LogBlock block;
  std::string error;
  try {
    BurnSlot(k);
    return;
  } catch (const FileError& e) {
    error = e.what();
  } catch (const MemoryError& e) {
    error = e.what();
  } catch (const std::bad_alloc&) {
    error = "not enough memory to burn the card";
  }
  // This card alone ends; the others go on.
  EndRunOnCardInHand(k, error);
}

}  // namespace tarnwick
