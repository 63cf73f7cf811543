#pragma once
// The QtTest classes of test_gui; test_main.cpp runs them all.
#include <QObject>

namespace tarnwick::gui {

// The window driven by clicks: burns onto card images in both modes.
class WindowTest : public QObject {
  Q_OBJECT
 private slots:
  void init();
  void cleanup();
  void layoutFollowsTemplate();
  void readerBurnOntoCardImages();
  void boardBurnWithSimulatedBoard();
  void closeDuringBurnIsIgnored();
  void enterAndEscapeCloseWhenIdle();
  void messageBoxHasTitleIconAndButtons();
  void aboutBoxFromF1();
};

// The pieces without a window: filters, dialog units, options, rights.
class PartsTest : public QObject {
  Q_OBJECT
 private slots:
  void nameFilters_data();
  void nameFilters();
  void dialogUnits_data();
  void dialogUnits();
  void options_data();
  void options();
  void diskRights_data();
  void diskRights();
};

}  // namespace tarnwick::gui
