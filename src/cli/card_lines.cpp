#include "cli/card_lines.h"

#include <algorithm>
#include <cstdio>

#include "common/debug_log.h"
#include "engine/card_discovery.h"
#include "engine/sd_read_write.h"
#include "platform/interrupt.h"

namespace tarnwick::cli {

std::string SizeText(uint64_t bytes) {
  char text[32];
  const double value = static_cast<double>(bytes);
  if (bytes >= (uint64_t{1} << 30)) {
    std::snprintf(text, sizeof text, "%.1f GiB", value / (1u << 30));
  } else {
    std::snprintf(text, sizeof text, "%.1f MiB", value / (1u << 20));
  }
  return text;
}

std::string DescribeCard(const CardDescription& card) {
  std::string text = card.device;
  if (card.bytes != 0) text += ", " + SizeText(card.bytes);
  std::string name = card.id.vendor;
  if (!card.id.model.empty()) name += (name.empty() ? "" : " ") + card.id.model;
  if (!name.empty()) text += ", " + name;
  return text;
}

std::vector<CardDescription> SurveyCards(IDiskService& disks) {
  const LogSink previous = SetLogSink([](std::string_view) {});
  std::vector<CardDescription> cards;
  CSDReadWrite probe(disks);
  std::vector<DiskSlot> slots = disks.Slots();
  if (slots.size() > kMaxDiskSlots) slots.resize(kMaxDiskSlots);
  for (const DiskSlot& slot : slots) {
    DiskGeometry geometry;
    if (!probe.GetDiskGeometry(slot.path, geometry) || !IsBurnableCard(geometry)) continue;
    cards.push_back({slot.path, CardSectors(geometry) * kSectorSize, IdentifyDisk(slot.path)});
  }
  SetLogSink(previous);
  return cards;
}

std::string WarningWithCards(const std::string& question,
                             const std::vector<CardDescription>& cards) {
  std::string text = question + "\nThese cards will be erased:";
  if (cards.empty()) text += "\n  (no card found now)";
  for (const CardDescription& card : cards) text += "\n  " + DescribeCard(card);
  return text;
}

void CCardResults::StartRun(std::vector<CardDescription> cards) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_cards = std::move(cards);
  m_told.clear();
}

CardDescription CCardResults::Description(const std::string& device) const {
  auto it = std::find_if(m_cards.begin(), m_cards.end(),
                         [&](const CardDescription& c) { return c.device == device; });
  return it != m_cards.end() ? *it : CardDescription{device, 0, {}};
}

void CCardResults::Tell(const std::string& device, Outcome outcome, const std::string& detail) {
  if (!m_told.insert(device).second) return;
  std::string text = DescribeCard(Description(device)) + ": ";
  switch (outcome) {
    case Outcome::Written:
      ++m_passed;
      text += "written completely";
      break;
    case Outcome::Failed:
      ++m_failed;
      text += "FAILED, ";
      break;
    case Outcome::Interrupted:
      ++m_interrupted;
      text += "INTERRUPTED, ";
      break;
  }
  m_write(text + detail + "\n");
}

void CCardResults::OnCardUpdate(const CardStatus& status) {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (status.sizeBytes != 0 &&
      std::none_of(m_cards.begin(), m_cards.end(),
                   [&](const CardDescription& c) { return c.device == status.device; })) {
    m_cards.push_back({status.device, status.sizeBytes, IdentifyDisk(status.device)});
  }
  switch (status.phase) {
    case CardPhase::Done: {
      char rate[64] = "";
      if (status.seconds > 0) {
        std::snprintf(rate, sizeof rate, " in %.1f s, %.1f MB/s", status.seconds,
                      static_cast<double>(status.bytesWritten) / status.seconds / 1e6);
      }
      std::string detail = rate;
      if (!status.verify.empty()) detail += ", verified " + status.verify;
      Tell(status.device, Outcome::Written, detail);
      break;
    }
    case CardPhase::Failed:
      // A card whose write was refused because Ctrl-C came is interrupted,
      // not faulty.
      if (InterruptRequested()) {
        Tell(status.device, Outcome::Interrupted,
             status.bytesWritten == 0
                 ? std::string("not written: ") + kStoppedByInterrupt
                 : std::string("incomplete: ") + kStoppedByInterrupt + " (" + status.reason + ")");
      } else {
        Tell(status.device, Outcome::Failed,
             (status.bytesWritten == 0 ? "not written: " : "write failed: ") + status.reason);
      }
      break;
    case CardPhase::Interrupted:
      Tell(status.device, Outcome::Interrupted, "incomplete: " + status.reason);
      break;
    default:
      break;
  }
}

void CCardResults::FinishRun(const RunSummary& run, bool interrupted) {
  std::lock_guard<std::mutex> lock(m_mutex);
  const std::string inHand = interrupted && !run.opened.empty() ? run.opened.back() : "";
  for (const std::string& device : run.opened) {
    const bool failed = std::any_of(run.failed.begin(), run.failed.end(),
                                    [&](const FailedCard& f) { return f.device == device; });
    if (!failed) Tell(device, Outcome::Written, "");
  }
  for (const FailedCard& card : run.failed) {
    if (card.device == inHand) {
      Tell(card.device, Outcome::Interrupted,
           std::string("incomplete: ") + kStoppedByInterrupt + " (" + card.reason + ")");
    } else if (interrupted && card.reason.find(kStoppedByInterrupt) != std::string::npos) {
      Tell(card.device, Outcome::Interrupted, std::string("not written: ") + kStoppedByInterrupt);
    } else if (std::find(run.opened.begin(), run.opened.end(), card.device) == run.opened.end()) {
      // Refused before its first write (the pack, the configuration, its size):
      // the card is as it was.
      Tell(card.device, Outcome::Failed, "not written: " + card.reason);
    } else {
      Tell(card.device, Outcome::Failed, "write failed: " + card.reason);
    }
  }
}

}  // namespace tarnwick::cli
