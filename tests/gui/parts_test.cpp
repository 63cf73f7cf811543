// The window's pieces that need no window: file-dialog filters, dialog-unit
// conversion, the start-up options and the disk-rights judgement.
#include <QTest>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "gui/app_services.h"
#include "gui/dialog_template.h"
#include "gui/name_filters.h"
#include "gui_tests.h"
#include "platform/linux/disk_rights.h"

using StringVector = std::vector<std::string>;
using IdVector = std::vector<uint32_t>;
Q_DECLARE_METATYPE(StringVector)
Q_DECLARE_METATYPE(IdVector)
Q_DECLARE_METATYPE(std::optional<uint32_t>)

namespace tarnwick::gui {

void PartsTest::nameFilters_data() {
  QTest::addColumn<QString>("filter");
  QTest::addColumn<QStringList>("expected");
  QTest::newRow("all files") << "All Files (*.*)|*.*|" << QStringList{"All Files (*.*) (*)"};
  QTest::newRow("two entries") << "Packs (*.pack)|*.pack;*.bin|All Files (*.*)|*.*|"
                               << QStringList{"Packs (*.pack) (*.pack *.bin)",
                                              "All Files (*.*) (*)"};
  QTest::newRow("no closing bar") << "Packs|*.pack" << QStringList{"Packs (*.pack)"};
  QTest::newRow("empty") << "" << QStringList{};
}

void PartsTest::nameFilters() {
  QFETCH(QString, filter);
  QFETCH(QStringList, expected);
  QCOMPARE(ToQtNameFilters(filter.toStdString()), expected);
}

void PartsTest::dialogUnits_data() {
  QTest::addColumn<int>("cx");
  QTest::addColumn<int>("cy");
  QTest::addColumn<QRect>("du");
  QTest::addColumn<QRect>("px");
  // The classic 8-point base units (6 x 13): the main window is 516 x 224.
  QTest::newRow("window") << 6 << 13 << QRect(0, 0, 344, 138) << QRect(0, 0, 516, 224);
  QTest::newRow("halves round up") << 6 << 13 << QRect(1, 1, 3, 3) << QRect(2, 2, 5, 5);
  QTest::newRow("progress") << 7 << 16 << QRect(15, 105, 304, 14) << QRect(26, 210, 532, 28);
  QTest::newRow("odd units") << 5 << 11 << QRect(64, 20, 184, 14) << QRect(80, 28, 230, 19);
}

void PartsTest::dialogUnits() {
  QFETCH(int, cx);
  QFETCH(int, cy);
  QFETCH(QRect, du);
  QFETCH(QRect, px);
  QCOMPARE(ToPixels({cx, cy}, du.x(), du.y(), du.width(), du.height()), px);
}

void PartsTest::options_data() {
  QTest::addColumn<QStringList>("args");
  QTest::addColumn<QString>("imagesEnv");
  QTest::addColumn<bool>("ok");
  QTest::addColumn<StringVector>("images");
  QTest::addColumn<QString>("board");
  QTest::addColumn<QStringList>("rest");
  QTest::newRow("none") << QStringList{"tarnwick"} << "" << true << StringVector{} << ""
                        << QStringList{"tarnwick"};
  QTest::newRow("options taken out")
      << QStringList{"tarnwick",       "-style",           "fusion", "--card-images",
                     "/a.img::/b.img", "--simulate-board", "/tmp/b"}
      << "" << true << StringVector{"/a.img", "/b.img"} << "/tmp/b"
      << QStringList{"tarnwick", "-style", "fusion"};
  QTest::newRow("environment") << QStringList{"tarnwick"} << "/c.img" << true
                               << StringVector{"/c.img"} << "" << QStringList{"tarnwick"};
  QTest::newRow("option beats environment")
      << QStringList{"tarnwick", "--card-images", "/d.img"} << "/c.img" << true
      << StringVector{"/d.img"} << "" << QStringList{"tarnwick"};
  QTest::newRow("missing value") << QStringList{"tarnwick", "--simulate-board"} << "" << false
                                 << StringVector{} << "" << QStringList{};
  QTest::newRow("fourteen images") << QStringList{"tarnwick"} << "1:2:3:4:5:6:7:8:9:10:11:12:13:14"
                                   << false << StringVector{} << "" << QStringList{};
}

void PartsTest::options() {
  QFETCH(QStringList, args);
  QFETCH(QString, imagesEnv);
  QFETCH(bool, ok);
  QFETCH(StringVector, images);
  QFETCH(QString, board);
  QFETCH(QStringList, rest);
  if (imagesEnv.isEmpty()) {
    qunsetenv(kCardImagesVariable);
  } else {
    qputenv(kCardImagesVariable, imagesEnv.toUtf8());
  }
  qunsetenv(kSimulateBoardVariable);
  std::vector<QByteArray> storage;
  for (const QString& a : args) storage.push_back(a.toUtf8());
  std::vector<char*> argv;
  for (QByteArray& a : storage) argv.push_back(a.data());
  argv.push_back(nullptr);
  int argc = static_cast<int>(storage.size());
  GuiOptions options;
  std::string error;
  const bool parsed = ParseGuiOptions(argc, argv.data(), options, &error);
  qunsetenv(kCardImagesVariable);
  QCOMPARE(parsed, ok);
  if (!ok) {
    QVERIFY(!error.empty());
    return;
  }
  QCOMPARE(options.cardImages, images);
  QCOMPARE(QString::fromStdString(options.simulateBoardDir), board);
  QStringList left;
  for (int i = 0; i < argc; ++i) left << argv[i];
  QCOMPARE(left, rest);
  QVERIFY(argv[argc] == nullptr);
}

void PartsTest::diskRights_data() {
  QTest::addColumn<uint32_t>("euid");
  QTest::addColumn<IdVector>("groups");
  QTest::addColumn<std::optional<uint32_t>>("disk");
  QTest::addColumn<bool>("allowed");
  QTest::newRow("root") << 0u << IdVector{} << std::optional<uint32_t>{} << true;
  QTest::newRow("member of disk") << 1000u << IdVector{1000, 6} << std::optional<uint32_t>{6}
                                  << true;
  QTest::newRow("not a member") << 1000u << IdVector{1000, 27} << std::optional<uint32_t>{6}
                                << false;
  QTest::newRow("no disk group") << 1000u << IdVector{6} << std::optional<uint32_t>{} << false;
}

void PartsTest::diskRights() {
  QFETCH(uint32_t, euid);
  QFETCH(IdVector, groups);
  QFETCH(std::optional<uint32_t>, disk);
  QFETCH(bool, allowed);
  QCOMPARE(JudgeDiskRights(euid, groups, disk), allowed);
}

}  // namespace tarnwick::gui
