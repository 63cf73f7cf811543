#pragma once
// What the engine and the downloader need from the operator. The dialog and
// the command line each implement it; tests fake it.
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
};

}  // namespace tarnwick
