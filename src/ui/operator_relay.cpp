#include "ui/operator_relay.h"

#include "common/debug_log.h"

namespace tarnwick {

MsgAnswer COperatorRelay::ShowMessage(const std::string& text, MsgButtons buttons) {
  if (m_target) return m_target->ShowMessage(text, buttons);
  DebugLog(1, "No window for the message: %s\n", text.c_str());
  return MsgAnswer::Cancel;
}

void COperatorRelay::SetProgress(int position) {
  if (m_target) m_target->SetProgress(position);
}

void COperatorRelay::Refresh() {
  if (m_target) m_target->Refresh();
}

void COperatorRelay::EnableControls(bool enable) {
  if (m_target) m_target->EnableControls(enable);
}

void COperatorRelay::ReportFailedCards(const std::vector<FailedCard>& cards) {
  if (m_target) m_target->ReportFailedCards(cards);
}

void COperatorRelay::CardUpdate(const CardStatus& status) {
  if (m_target) m_target->CardUpdate(status);
}

}  // namespace tarnwick
