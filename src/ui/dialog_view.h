#pragma once
// What the main dialog needs from its window: the controls' states and
// texts, message boxes, the file-open dialog and the progress bar. The Qt
// window implements it; tests fake it. Calls may come from the thread that
// runs a download or a burn: the window carries them over to its own thread
// and waits for them there.
#include <optional>
#include <string>

#include "engine/operator.h"

namespace tarnwick {

// The controls of the main window, with their resource numbers.
enum class ControlId : int {
  CfgPath = 1006,     // IDC_CFG_PATH
  CfgBrowse = 1026,   // IDC_CFG_BROWSE
  PackPath = 1002,    // IDC_PACK_PATH
  PackBrowse = 1028,  // IDC_PACK_BROWSE
  ModeBoard = 1036,   // IDC_MODE_BOARD
  ModeReader = 1037,  // IDC_MODE_READER
  Burn = 1015,        // IDC_BURN
  Progress = 1027,    // IDC_PROGRESS
};

// What the file-open dialog is opened with. The filter is written as
// "description|patterns|" pairs; the picked file must exist.
struct FilePickRequest {
  std::string title;
  std::string filter;
  std::string defaultExtension;
  std::string initialDir;
};

class IDialogView {
 public:
  virtual ~IDialogView() = default;

  virtual void SetEnabled(ControlId control, bool enable) = 0;
  virtual void SetChecked(ControlId control, bool checked) = 0;
  virtual bool IsChecked(ControlId control) = 0;
  virtual void SetText(ControlId control, const std::string& text) = 0;

  // An application-modal box with the application's title and the
  // exclamation icon.
  virtual MsgAnswer ShowMessage(const std::string& text, MsgButtons buttons) = 0;
  // The full path of the file picked; nothing when the operator cancels.
  virtual std::optional<std::string> PickFile(const FilePickRequest& request) = 0;

  virtual void SetProgressRange(int low, int high) = 0;
  virtual void SetProgressPos(int position) = 0;

  // Offers the About box under that text (the window's own menu).
  virtual void AddAboutItem(const std::string& text) = 0;

  // A card of a run changed (from the burning thread; see IOperator::CardUpdate).
  // A window with a cards view carries it over to its own thread without
  // waiting; one without ignores it.
  virtual void ShowCardStatus(const CardStatus& status) { (void)status; }
};

}  // namespace tarnwick
