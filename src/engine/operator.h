#pragma once
// What the engine and the downloader need from the operator. The dialog and
// the command line each implement it; tests fake it.
#include <cstdint>
#include <string>
#include <vector>

namespace tarnwick {

enum class MsgButtons { Ok, OkCancel };
enum class MsgAnswer { Ok, Cancel };

// A card of a run that failed or was refused, and why.
struct FailedCard {
  int slot = 0;        // discovery slot 0..12
  std::string device;  // its device path
  std::string reason;  // for the operator
};

// Where one card of a run stands, for the front ends' per-card views (the
// cards window, the terminal's per-card lines, reports and the audit log).
enum class CardPhase { Waiting, Writing, Verifying, Done, Failed, Interrupted };

struct CardStatus {
  int slot = 0;            // discovery slot 0..12
  std::string device;      // its device path
  uint64_t sizeBytes = 0;  // the card's size
  CardPhase phase = CardPhase::Waiting;
  std::string stage;          // the stage being written or verified ("System", ...)
  int percent = 0;            // of this card's bytes, 0..100
  uint64_t bytesWritten = 0;  // so far
  double seconds = 0;         // since the card was opened
  std::string reason;         // Failed or Interrupted: why, as in the failed-card list
  std::string verify;         // "" (not verified), "ok", or the mismatch found
};

class IOperator {
 public:
  virtual ~IOperator() = default;
  // A message box with the application's title and the exclamation icon.
  virtual MsgAnswer ShowMessage(const std::string& text, MsgButtons buttons) = 0;
  // Absolute position of the progress bar, range 0..15.
  virtual void SetProgress(int position) = 0;
  // Copies the dialog's data (the two paths) into its controls.
  virtual void Refresh() = 0;
  // Enables or disables the input controls.
  virtual void EnableControls(bool enable) = 0;
  // Called once at the end of a run in which some card failed or was refused,
  // before the final message.
  virtual void ReportFailedCards(const std::vector<FailedCard>& cards) = 0;
  // A card of the run changed phase or advanced (at most every piece written).
  // Called from the thread that burns the card; an implementation that shows
  // it elsewhere marshals it itself.
  virtual void CardUpdate(const CardStatus& status) { (void)status; }
};

}  // namespace tarnwick
