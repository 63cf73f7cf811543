#include "gui/cards_window.h"

#include <QHeaderView>
#include <QTableWidget>
#include <QVBoxLayout>

namespace tarnwick::gui {

CCardsWindow::CCardsWindow(QWidget* parent)
    : QWidget(parent, Qt::Window), m_table(new QTableWidget(this)) {
  setObjectName("CardsWindow");
  setWindowTitle(kCardsCaption);
  m_table->setColumnCount(static_cast<int>(CCardsModel::kColumns));
  QStringList titles;
  for (const char* title : CCardsModel::ColumnTitles()) titles << QString::fromUtf8(title);
  m_table->setHorizontalHeaderLabels(titles);
  m_table->verticalHeader()->setVisible(false);
  m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
  m_table->setSelectionMode(QAbstractItemView::NoSelection);
  m_table->setFocusPolicy(Qt::NoFocus);
  m_table->horizontalHeader()->setStretchLastSection(true);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(4, 4, 4, 4);
  layout->addWidget(m_table);
  resize(640, 240);
}

void CCardsWindow::ShowRows(const CCardsModel& model) {
  const std::vector<CardRow>& rows = model.Rows();
  m_table->setRowCount(static_cast<int>(rows.size()));
  for (size_t r = 0; r < rows.size(); ++r) {
    for (size_t c = 0; c < CCardsModel::kColumns; ++c) {
      const QString text = QString::fromStdString(CCardsModel::Cell(rows[r], c));
      QTableWidgetItem* item = m_table->item(static_cast<int>(r), static_cast<int>(c));
      if (!item) {
        item = new QTableWidgetItem;
        m_table->setItem(static_cast<int>(r), static_cast<int>(c), item);
      }
      item->setText(text);
    }
  }
  m_table->resizeColumnsToContents();
}

}  // namespace tarnwick::gui
