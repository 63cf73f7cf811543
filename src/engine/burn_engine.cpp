#include "engine/burn_engine.h"

#include <algorithm>
#include <new>

#include "engine/errors.h"

namespace tarnwick {

namespace {
constexpr const char* kBurnDone = "烧写完成";
}  // namespace

CBurnEngine::CBurnEngine(IDiskService& disks, IOperator& op, ISettingsReader& settings)
    : m_disks(disks), m_op(op), m_settings(settings), m_sdReadWrite(disks), m_tMBR(MbrTemplate()) {
  m_plan.Initialise();
  m_fat.m_tDBR = Fat32BootSectorTemplate();
}

void CBurnEngine::RunBurn() {
  m_lastRun = RunSummary{};
  try {
    DetectCards();
    m_op.Refresh();
    m_bVerifyRun = m_bVerify || m_settings.ReadInt("Burn", "VerifyAfterBurn") == 1;
    const bool parallel = m_bParallel || m_settings.ReadInt("Burn", "ParallelBurn") == 1;
    m_lastRun.verified = m_bVerifyRun;
    m_lastRun.parallel = parallel;
    m_bCardOpened = false;
    for (int k = 0; k < static_cast<int>(kMaxDiskSlots); ++k) {
      if (!m_arrCards[k].present) continue;
      m_nCurrentSlot = k;
      m_status = CardStatus{};
      CardUpdate(CardPhase::Waiting, "", true);
    }
    if (parallel) {
      RunParallel();
      return;
    }
    for (int k = 0; k < static_cast<int>(kMaxDiskSlots); ++k) {
      if (m_arrCards[k].present) BurnSlot(k);
    }
  } catch (const FileError& e) {
    AbortRun(e.what());
    return;
  } catch (const MemoryError& e) {
    AbortRun(e.what());
    return;
  } catch (const std::bad_alloc&) {
    AbortRun("not enough memory to burn the card");
    return;
  }
  EndRun();
}

void CBurnEngine::BurnSlot(int k) {
  m_nCurrentSlot = k;
  ++m_lastRun.cardsFound;
  m_bCardInHand = true;
  m_bCardOpened = false;
  m_status = CardStatus{};
  m_plan.m_nCardSize = m_arrCards[k].size;
  // The configuration is read afresh for every card: an edit between two
  // cards is seen by the second.
  m_boardConfig = ReadBoardConfig(m_strCfgFile);
  m_plan.ComputePartitionPlan(m_boardConfig.Partition());
  // A failed card never stops the run: the next present slot is burned all the same.
  if (BurnToOneSD()) {
    ++m_lastRun.cardsWritten;
    m_status.percent = 100;
    CardUpdate(CardPhase::Done, "", true);
  } else {
    m_lastRun.failed.push_back({k, CurrentDevicePath(), m_strCardFailure});
    if (m_bCardRefused) ++m_lastRun.cardsRefused;
    m_status.reason = m_strCardFailure;
    CardUpdate(CardPhase::Failed, "", true);
  }
  m_bCardInHand = false;
}

void CBurnEngine::CardUpdate(CardPhase phase, const std::string& stage, bool force) {
  const auto now = std::chrono::steady_clock::now();
  // About ten updates a second while a card is written; every change of phase.
  if (!force && phase == m_status.phase && now - m_lastUpdate < std::chrono::milliseconds(100)) {
    return;
  }
  m_lastUpdate = now;
  m_status.phase = phase;
  m_status.stage = stage;
  m_status.slot = m_nCurrentSlot;
  m_status.device = CurrentDevicePath();
  m_status.sizeBytes = m_arrCards[m_nCurrentSlot].size * kSectorSize;
  if (phase == CardPhase::Writing && m_nCardBytes != 0) {
    m_status.percent =
        static_cast<int>(std::min<uint64_t>(100, m_status.bytesWritten * 100 / m_nCardBytes));
  }
  m_status.seconds = m_bCardOpened ? std::chrono::duration<double>(now - m_opened).count() : 0.0;
  m_op.CardUpdate(m_status);
}

// The dialog goes back to the operator: controls first, then the failed
// cards (if any) or the news that there was no card at all, then the final
// message, which alone would read as a success.
void CBurnEngine::EndRun() {
  m_op.EnableControls(true);
  if (!m_lastRun.failed.empty()) m_op.ReportFailedCards(m_lastRun.failed);
  if (m_lastRun.cardsFound == 0) m_op.ShowMessage(kNoCardFoundText, MsgButtons::Ok);
  m_op.ShowMessage(kBurnDone, MsgButtons::Ok);
  m_bWaitDevice = false;
}

// A pack read the system refused, or memory that could not be had, ends the
// run at once. The controls are given back so that the dialog stays usable,
// the cards that failed earlier in the run and the card in hand are listed,
// and the error is shown instead of the final message.
void CBurnEngine::EndRunOnCardInHand(int slot, const std::string& error) {
  if (m_bCardInHand) {
    m_lastRun.failed.push_back({slot, CurrentDevicePath(), error});
    if (!m_bCardOpened) ++m_lastRun.cardsRefused;
    m_bCardInHand = false;
    m_status.reason = error;
    CardUpdate(CardPhase::Failed, "", true);
  }
  m_lastRun.aborted = true;
  m_lastRun.abortReason = error;
}

void CBurnEngine::AbortRun(const std::string& error) {
  // The card in hand is listed too: it was not written, or not completely.
  EndRunOnCardInHand(m_nCurrentSlot, error);
  m_op.EnableControls(true);
  if (!m_lastRun.failed.empty()) m_op.ReportFailedCards(m_lastRun.failed);
  m_op.ShowMessage(error, MsgButtons::Ok);
  m_bWaitDevice = false;
}

std::string CBurnEngine::CurrentDevicePath() const {
  const size_t index = m_arrCards[m_nCurrentSlot].index;
  return index < m_slotPaths.size() ? m_slotPaths[index].path : std::string();
}

bool CBurnEngine::FailCard(const std::string& reason, bool refused) {
  m_strCardFailure = reason;
  m_bCardRefused = refused;
  return false;
}

void CBurnEngine::SetProgress(int position) {
  m_op.SetProgress(position);
  m_op.Refresh();
}

}  // namespace tarnwick
