#pragma once
// The download object exists before the dialog (it is made before the
// application starts and outlives it), yet it must reach the dialog's
// message boxes. It is given this relay, which the front end points at the
// dialog for the dialog's lifetime. While nothing is attached a box is logged
// and answered Cancel, and everything else is dropped.
#include "engine/operator.h"

namespace tarnwick {

class COperatorRelay final : public IOperator {
 public:
  void Attach(IOperator* target) { m_target = target; }

  MsgAnswer ShowMessage(const std::string& text, MsgButtons buttons) override;
  void SetProgress(int position) override;
  void Refresh() override;
  void EnableControls(bool enable) override;
  void ReportFailedCards(const std::vector<FailedCard>& cards) override;
  void CardUpdate(const CardStatus& status) override;

 private:
  IOperator* m_target = nullptr;
};

}  // namespace tarnwick
