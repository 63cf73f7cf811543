#include <QApplication>
#include <QTest>

#include "gui_tests.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  int failures = 0;
  {
    tarnwick::gui::PartsTest parts;
    failures += QTest::qExec(&parts, argc, argv);
  }
  {
    tarnwick::gui::WindowTest window;
    failures += QTest::qExec(&window, argc, argv);
  }
  return failures == 0 ? 0 : 1;
}
