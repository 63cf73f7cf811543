#include "gui/about_dialog.h"

#include <QLabel>
#include <QPushButton>

#include "gui/app_icon.h"
#include "gui/dialog_template.h"

namespace tarnwick::gui {

CAboutDlg::CAboutDlg(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint) {
  setObjectName("IDD_ABOUT");
  setWindowTitle(kAboutCaption);
  setFont(DialogFont(9));
  const DialogBaseUnits units = BaseUnitsOf(font());
  setFixedSize(ToPixels(units, 0, 0, 235, 55).size());

  auto* icon = new QLabel(this);
  const QRect iconRect = ToPixels(units, 11, 17, 20, 20);
  icon->setGeometry(iconRect);
  icon->setPixmap(AppIcon().pixmap(iconRect.size().boundedTo(QSize(32, 32))));

  auto* name = new QLabel(kAboutVersionLine, this);
  name->setTextFormat(Qt::PlainText);  // no prefix processing
  name->setGeometry(ToPixels(units, 40, 10, 119, 8));

  auto* maker = new QLabel(kAboutMakerLine, this);
  maker->setGeometry(ToPixels(units, 39, 25, 119, 8));

  auto* ok = new QPushButton("ok", this);
  ok->setObjectName("IDOK");
  ok->setGeometry(ToPixels(units, 178, 7, 50, 16));
  ok->setDefault(true);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}

}  // namespace tarnwick::gui
