#pragma once
// The "Cards" window: one row per card slot (device, size, maker and model,
// state), from the toolkit-free CCardsModel. Non-modal: it follows a run
// beside the main dialog, which stays as it is.
#include <QWidget>

#include "ui/cards_model.h"

class QTableWidget;

namespace tarnwick::gui {

inline constexpr char kCardsCaption[] = "Cards";

class CCardsWindow final : public QWidget {
  Q_OBJECT
 public:
  explicit CCardsWindow(QWidget* parent);

  // Shows the model's rows as they are now.
  void ShowRows(const CCardsModel& model);
  QTableWidget* Table() const { return m_table; }

 private:
  QTableWidget* m_table;
};

}  // namespace tarnwick::gui
