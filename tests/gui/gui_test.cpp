// The Qt front end: the window clicked through as an operator would
// (card-reader and board-mode burns onto card images, closing while a burn
// runs, the keys that end the dialog, message boxes, the About box), and its
// window-free pieces (file-dialog filters, dialog units, options, rights).
#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <thread>

#include "burn_inputs.h"
#include "gui/cards_window.h"
#include "gui/dialog_template.h"
#include "gui/main_window.h"
#include "gui/name_filters.h"
#include "gui/screenshot_mode.h"
#include "platform/linux/disk_rights.h"
#include "test_support.h"
#include "ui/app_services.h"

using StringVector = std::vector<std::string>;
Q_DECLARE_METATYPE(StringVector)

namespace tarnwick::gui {

class GuiTest : public QObject {
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
  void cardsWindowFromF2FollowsUpdates();
  void cardsWindowAtStartWhenSet();
  void nameFilters_data();
  void nameFilters();
  void dialogUnits_data();
  void dialogUnits();
  void options_data();
  void options();
  void diskRights();
  void rightsNoticeSaysWhatToStartOrInstall();
  void screenshotOnlyOnSimulatedDisks_data();
  void screenshotOnlyOnSimulatedDisks();
};

namespace {

namespace fs = std::filesystem;
using testing::ReadFileText;
using testing::TempDir;
using testing::WriteFile;

constexpr int kBurnTimeoutMs = 120000;
const std::string kBurnDone = "烧写完成";

// A working directory with the example configuration and a pack, and a
// window over services made from the options.
struct Fixture {
  Fixture() : oldDir(fs::current_path()) {
    fs::current_path(dir.path());
    cfg = dir.File("board.ini");
    fs::copy_file(fs::path(TARNWICK_SOURCE_DIR) / "examples/board.ini", cfg);
    pack = testing::WritePack(dir,
                              {{PackSlot::Dfu, testing::PatternBytes(3000, 1)},
                               {PackSlot::UBootBin, testing::PatternBytes(1000, 2)},
                               {PackSlot::BootImg, testing::PatternBytes(4096, 3)},
                               {PackSlot::System, testing::PatternBytes(5000, 4)}},
                              "example.pack");
  }
  ~Fixture() {
    window.reset();
    services.reset();
    fs::current_path(oldDir);
  }

  void Settings(const std::string& text) { WriteFile(dir.File("Tarnwick.ini"), text); }

  void Open(const GuiOptions& options) {
    services = std::make_unique<CAppServices>(options);
    window = std::make_unique<CMainWindow>(*services);
    window->SetMessageHandler([this](const std::string& text, MsgButtons) {
      messages.push_back(text);
      return MsgAnswer::Ok;
    });
    window->show();
  }

  QWidget* Control(ControlId id) const { return window->Control(id); }
  bool Finished() const {
    return !messages.empty() && messages.back() == kBurnDone &&
           window->Dialog().State() == DialogState::Idle;
  }

  TempDir dir;
  fs::path oldDir;
  std::string cfg, pack;
  std::vector<std::string> messages;
  std::unique_ptr<CAppServices> services;
  std::unique_ptr<CMainWindow> window;
};

std::unique_ptr<Fixture> f;

uint32_t Le32(const unsigned char* p) {
  return p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24;
}

// The MBR is in place and the FAT32 boot sector, the last thing a burn
// writes, sits where the MBR's first entry says.
bool CardComplete(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  unsigned char mbr[512] = {}, boot[512] = {};
  if (!in.read(reinterpret_cast<char*>(mbr), 512)) return false;
  if (mbr[510] != 0x55 || mbr[511] != 0xAA) return false;
  in.seekg(static_cast<std::streamoff>(Le32(mbr + 446 + 8)) * 512);
  if (!in.read(reinterpret_cast<char*>(boot), 512)) return false;
  return std::string(reinterpret_cast<char*>(boot) + 82, 8) == "FAT32   " && boot[510] == 0x55;
}

}  // namespace

void GuiTest::init() {
  f = std::make_unique<Fixture>();
}

void GuiTest::cleanup() {
  f.reset();
}

void GuiTest::layoutFollowsTemplate() {
  f->Settings("[Burn]\nCanUseBoardMode=1\nMode=1\n");
  f->Open(GuiOptions{{f->dir.File("card.img")}, {}});
  CMainWindow& w = *f->window;
  QCOMPARE(w.windowTitle(), QString("Flash Tool V1.4"));
  QVERIFY(!w.windowIcon().isNull());
  QVERIFY(!(w.windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
  const DialogBaseUnits units = BaseUnitsOf(w.font());
  QVERIFY(units.cx > 0 && units.cy > 0);
  QCOMPARE(w.size(), ToPixels(units, 0, 0, 344, 138).size());

  struct Expected {
    ControlId id;
    QRect du;
    QString caption;
  };
  const Expected controls[] = {
      {ControlId::CfgPath, {64, 20, 184, 14}, ""},
      {ControlId::CfgBrowse, {272, 20, 42, 14}, "..."},
      {ControlId::PackPath, {64, 55, 184, 14}, ""},
      {ControlId::PackBrowse, {270, 55, 44, 14}, "..."},
      {ControlId::ModeBoard, {85, 81, 64, 10}, "板载方式烧写"},
      {ControlId::ModeReader, {177, 81, 72, 10}, "读卡器方式烧写"},
      {ControlId::Burn, {269, 81, 45, 14}, "烧写"},
      {ControlId::Progress, {15, 105, 304, 14}, ""},
  };
  for (const Expected& e : controls) {
    QWidget* widget = f->Control(e.id);
    QCOMPARE(widget->geometry(), ToPixels(units, e.du.x(), e.du.y(), e.du.width(), e.du.height()));
    if (auto* button = qobject_cast<QAbstractButton*>(widget)) QCOMPARE(button->text(), e.caption);
  }
  QStringList labels;
  for (QLabel* label : w.findChildren<QLabel*>()) labels << label->text();
  QVERIFY(labels.contains("配置文件"));
  QVERIFY(labels.contains("打包文件123"));

  // Tab order: the seven input controls in template order, and back.
  QWidget* next = f->Control(ControlId::CfgPath);
  for (ControlId id : {ControlId::CfgBrowse, ControlId::PackPath, ControlId::PackBrowse,
                       ControlId::ModeBoard, ControlId::ModeReader, ControlId::Burn}) {
    do next = next->nextInFocusChain();
    while (next->focusPolicy() == Qt::NoFocus);
    QCOMPARE(next, f->Control(id));
  }
  // What the dialog logic sets (ranges, checks, paths) is tested on it; here
  // that the window shows it.
  QCOMPARE(w.Progress()->maximum(), 15);
  QVERIFY(static_cast<QAbstractButton*>(f->Control(ControlId::ModeBoard))->isChecked());
}

void GuiTest::readerBurnOntoCardImages() {
  f->Settings("[Burn]\nCanUseBoardMode=1\nMode=2\n");
  const std::string card1 = f->dir.File("card1.img"), card2 = f->dir.File("card2.img");
  f->Open(GuiOptions{{card1, card2}, {}});
  QVERIFY(fs::file_size(card1) == kNewCardImageBytes);  // made when missing
  f->window->SetPickHandler([&](const FilePickRequest& request) -> std::optional<std::string> {
    return request.title == "Select Config file" ? f->cfg : f->pack;
  });
  QTest::mouseClick(f->Control(ControlId::CfgBrowse), Qt::LeftButton);
  QTest::mouseClick(f->Control(ControlId::PackBrowse), Qt::LeftButton);
  QCOMPARE(static_cast<QLineEdit*>(f->Control(ControlId::PackPath))->text(),
           QString::fromStdString(f->pack));

  QTest::mouseClick(f->Control(ControlId::Burn), Qt::LeftButton);
  QVERIFY(!f->Control(ControlId::Burn)->isEnabled());
  QTRY_VERIFY_WITH_TIMEOUT(f->Finished(), kBurnTimeoutMs);
  QCOMPARE(f->messages, std::vector<std::string>{kBurnDone});
  QCOMPARE(f->window->Progress()->value(), 15);
  QVERIFY(f->Control(ControlId::Burn)->isEnabled());
  QVERIFY(f->Control(ControlId::ModeBoard)->isEnabled());
  QVERIFY(CardComplete(card1));
  QVERIFY(CardComplete(card2));
  QVERIFY(ReadFileText(f->dir.File("Tarnwick.ini")).find("PackFile=example.pack") !=
          std::string::npos);
}

void GuiTest::boardBurnWithSimulatedBoard() {
  f->Settings(
      "[Burn]\nCanUseBoardMode=1\nMode=1\n[ResName]\nCfgFile=board.ini\nPackFile=example.pack\n");
  const std::string boardDir = f->dir.File("board");
  f->Open(GuiOptions{{}, boardDir});
  QTest::mouseClick(f->Control(ControlId::Burn), Qt::LeftButton);
  QTRY_VERIFY_WITH_TIMEOUT(f->Finished(), kBurnTimeoutMs);
  QCOMPARE(f->messages, std::vector<std::string>{kBurnDone});
  QCOMPARE(f->window->Progress()->value(), 15);
  QVERIFY(fs::file_size(boardDir + "/received.bin") > 512);
  QVERIFY(CardComplete(boardDir + "/card.img"));
  QVERIFY(!f->window->Dialog().Engine().WaitDevice());
}

// Closing mid-burn would destroy the engine under the worker: every way of
// closing is refused until the run is over, and the card ends up complete.
void GuiTest::closeDuringBurnIsIgnored() {
  f->Settings(
      "[Burn]\nCanUseBoardMode=1\nMode=2\n[ResName]\nCfgFile=board.ini\nPackFile=example.pack\n");
  const std::string card = f->dir.File("card.img");
  f->Open(GuiOptions{{card}, {}});
  bool tried = false, visibleAfter = false;
  QObject::connect(f->window->Progress(), &QProgressBar::valueChanged, f->window.get(),
                   [&](int value) {
                     if (tried || value < 5) return;
                     tried = true;
                     f->window->close();
                     QTest::keyClick(f->window.get(), Qt::Key_Escape);
                     QTest::keyClick(f->Control(ControlId::CfgPath), Qt::Key_Return);
                     f->window->reject();
                     visibleAfter = f->window->isVisible();
                   });
  QTest::mouseClick(f->Control(ControlId::Burn), Qt::LeftButton);
  QTRY_VERIFY_WITH_TIMEOUT(f->Finished(), kBurnTimeoutMs);
  QVERIFY(tried);
  QVERIFY(visibleAfter);
  QVERIFY(f->window->isVisible());
  QVERIFY(CardComplete(card));
  f->window->close();
  QVERIFY(!f->window->isVisible());
}

void GuiTest::enterAndEscapeCloseWhenIdle() {
  f->Settings("[Burn]\nCanUseBoardMode=1\nMode=2\n");
  f->Open(GuiOptions{{f->dir.File("card.img")}, {}});
  // Enter on a focused push button presses it (a burn with no card found).
  f->Control(ControlId::Burn)->setFocus();
  QTest::keyClick(f->Control(ControlId::Burn), Qt::Key_Return);
  QTRY_VERIFY_WITH_TIMEOUT(f->Finished(), kBurnTimeoutMs);
  QVERIFY(f->window->isVisible());
  // Enter in a path box ends the dialog, as does Escape.
  f->Control(ControlId::CfgPath)->setFocus();
  QTest::keyClick(f->Control(ControlId::CfgPath), Qt::Key_Return);
  QVERIFY(!f->window->isVisible());
  QCOMPARE(f->window->result(), int(QDialog::Accepted));
  f->window->show();
  QTest::keyClick(f->window.get(), Qt::Key_Escape);
  QVERIFY(!f->window->isVisible());
}

void GuiTest::messageBoxHasTitleIconAndButtons() {
  f->Settings("[Burn]\nCanUseBoardMode=1\nMode=2\n");
  f->Open(GuiOptions{{f->dir.File("card.img")}, {}});
  f->window->SetMessageHandler(nullptr);
  for (MsgButtons buttons : {MsgButtons::Ok, MsgButtons::OkCancel}) {
    QString title;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons shown;
    QTimer::singleShot(50, [&] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      QVERIFY(box);
      title = box->windowTitle();
      icon = box->icon();
      shown = box->standardButtons();
      box->button(buttons == MsgButtons::Ok ? QMessageBox::Ok : QMessageBox::Cancel)->click();
    });
    const MsgAnswer answer = f->window->ShowMessage("请拔出不相关USB设备，然后开始烧写", buttons);
    QCOMPARE(title, QString("Tarnwick"));
    QCOMPARE(icon, QMessageBox::Warning);
    if (buttons == MsgButtons::Ok) {
      QCOMPARE(shown, QMessageBox::StandardButtons(QMessageBox::Ok));
      QCOMPARE(answer, MsgAnswer::Ok);
    } else {
      QCOMPARE(shown, QMessageBox::Ok | QMessageBox::Cancel);
      QCOMPARE(answer, MsgAnswer::Cancel);
    }
  }
}

void GuiTest::aboutBoxFromF1() {
  f->Open(GuiOptions{{f->dir.File("card.img")}, {}});
  QAction* about = nullptr;
  for (QAction* action : f->window->actions()) {
    if (action->text() == "Zelmar Flash...") about = action;
  }
  QVERIFY(about);
  QCOMPARE(about->shortcut(), QKeySequence(Qt::Key_F1));
  QString caption;
  QStringList texts;
  QTimer::singleShot(50, [&] {
    QWidget* box = QApplication::activeModalWidget();
    QVERIFY(box);
    caption = box->windowTitle();
    for (QLabel* label : box->findChildren<QLabel*>()) texts << label->text();
    auto* ok = box->findChild<QPushButton*>("IDOK");
    QVERIFY(ok && ok->text() == "ok" && ok->isDefault());
    ok->click();
  });
  f->window->activateWindow();
  QVERIFY(QTest::qWaitForWindowActive(f->window.get()));
  QTest::keyClick(f->window.get(), Qt::Key_F1);
  QCOMPARE(caption, QString("Zelmar Flash Tool"));
  QVERIFY(texts.contains("Flash Tool V1.4"));
  QVERIFY(f->window->isVisible());
}

// F2 opens the cards window over the card image table (a missing image is
// an empty reader); the updates of a run that writes two cards at once,
// coming from another thread, show in order. TARNWICK_CARDS_PICTURE names a
// file to save the window in (docs/cards.png).
void GuiTest::cardsWindowFromF2FollowsUpdates() {
  const std::string card1 = f->dir.File("card1.img"), card2 = f->dir.File("card2.img");
  f->Open(GuiOptions{{card1, card2, f->dir.File("card3.img")}, {}});
  fs::remove(f->dir.File("card3.img"));
  QVERIFY(!f->window->CardsWindow());
  f->window->activateWindow();
  QVERIFY(QTest::qWaitForWindowActive(f->window.get()));
  QTest::keyClick(f->window.get(), Qt::Key_F2);
  CCardsWindow* cards = f->window->CardsWindow();
  QVERIFY(cards && cards->isVisible());
  QTableWidget* table = cards->Table();
  QCOMPARE(table->rowCount(), 3);
  QCOMPARE(table->item(0, 3)->text(), QString("waiting"));
  QCOMPARE(table->item(2, 3)->text(), QString("left out: no card image file"));

  auto status = [](int slot, const std::string& device, CardPhase phase, int percent,
                   const char* stage) {
    CardStatus s;
    s.slot = slot;
    s.device = device;
    s.sizeBytes = 4ull << 30;
    s.phase = phase;
    s.stage = stage;
    s.percent = percent;
    s.bytesWritten = static_cast<uint64_t>(percent) * 2'000'000;
    s.seconds = percent / 10.0;
    return s;
  };
  std::thread burner([&] {
    f->window->Dialog().CardUpdate(status(0, card1, CardPhase::Writing, 10, "BootImg"));
    f->window->Dialog().CardUpdate(status(1, card2, CardPhase::Writing, 5, "MBR"));
    f->window->Dialog().CardUpdate(status(0, card1, CardPhase::Writing, 62, "System"));
    f->window->Dialog().CardUpdate(status(1, card2, CardPhase::Verifying, 40, ""));
  });
  burner.join();
  QTRY_COMPARE(table->item(1, 3)->text(), QString("verifying 40%, 20.0 MB/s"));
  QCOMPARE(table->item(0, 3)->text(), QString("writing System 62%, 20.0 MB/s"));
  QCOMPARE(table->item(0, 1)->text(), QString("4.0 GiB"));
  if (const QString picture = qEnvironmentVariable("TARNWICK_CARDS_PICTURE"); !picture.isEmpty()) {
    cards->grab().save(picture);
  }
  // The context menu offers the window beside the About box.
  QStringList menu;
  for (QAction* action : f->window->actions()) menu << action->text();
  QVERIFY(menu.contains("Cards"));
}

void GuiTest::cardsWindowAtStartWhenSet() {
  f->Settings("[Burn]\nShowCards=1\n");
  f->Open(GuiOptions{{f->dir.File("card.img")}, {}});
  QTRY_VERIFY(f->window->CardsWindow() && f->window->CardsWindow()->isVisible());
  QCOMPARE(f->window->CardsWindow()->windowTitle(), QString("Cards"));
}

void GuiTest::nameFilters_data() {
  QTest::addColumn<QString>("filter");
  QTest::addColumn<QStringList>("expected");
  QTest::newRow("all files") << "All Files (*.*)|*.*|" << QStringList{"All Files (*.*) (*)"};
  QTest::newRow("two entries") << "Packs (*.pack)|*.pack;*.bin|All Files (*.*)|*.*|"
                               << QStringList{"Packs (*.pack) (*.pack *.bin)",
                                              "All Files (*.*) (*)"};
}

void GuiTest::nameFilters() {
  QFETCH(QString, filter);
  QFETCH(QStringList, expected);
  QCOMPARE(ToQtNameFilters(filter.toStdString()), expected);
}

void GuiTest::dialogUnits_data() {
  QTest::addColumn<int>("cx");
  QTest::addColumn<int>("cy");
  QTest::addColumn<QRect>("du");
  QTest::addColumn<QRect>("px");
  // The classic 8-point base units (6 x 13): the main window is 516 x 224.
  QTest::newRow("window") << 6 << 13 << QRect(0, 0, 344, 138) << QRect(0, 0, 516, 224);
  QTest::newRow("progress") << 7 << 16 << QRect(15, 105, 304, 14) << QRect(26, 210, 532, 28);
  QTest::newRow("odd units") << 5 << 11 << QRect(64, 20, 184, 14) << QRect(80, 28, 230, 19);
}

void GuiTest::dialogUnits() {
  QFETCH(int, cx);
  QFETCH(int, cy);
  QFETCH(QRect, du);
  QFETCH(QRect, px);
  QCOMPARE(ToPixels({cx, cy}, du.x(), du.y(), du.width(), du.height()), px);
}

void GuiTest::options_data() {
  QTest::addColumn<QStringList>("args");
  QTest::addColumn<QString>("imagesEnv");
  QTest::addColumn<bool>("ok");
  QTest::addColumn<StringVector>("images");
  QTest::addColumn<QString>("board");
  QTest::addColumn<QStringList>("rest");
  QTest::newRow("options taken out")
      << QStringList{"tarnwick",       "-style",           "fusion", "--card-images",
                     "/a.img::/b.img", "--simulate-board", "/tmp/b"}
      << "" << true << StringVector{"/a.img", "/b.img"} << "/tmp/b"
      << QStringList{"tarnwick", "-style", "fusion"};
  QTest::newRow("environment") << QStringList{"tarnwick"} << "/c.img" << true
                               << StringVector{"/c.img"} << "" << QStringList{"tarnwick"};
  QTest::newRow("missing value") << QStringList{"tarnwick", "--simulate-board"} << "" << false
                                 << StringVector{} << "" << QStringList{};
}

void GuiTest::options() {
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
  const SysStatus parsed = ParseGuiOptions(argc, argv.data(), options);
  qunsetenv(kCardImagesVariable);
  QCOMPARE(parsed.IsOk(), ok);
  if (!ok) {
    QVERIFY(!parsed.Text().empty());
    return;
  }
  QCOMPARE(options.cardImages, images);
  QCOMPARE(QString::fromStdString(options.simulateBoardDir), board);
  QStringList left;
  for (int i = 0; i < argc; ++i) left << argv[i];
  QCOMPARE(left, rest);
  QVERIFY(argv[argc] == nullptr);
}

void GuiTest::diskRights() {
  QVERIFY(JudgeDiskRights(0, {}, std::nullopt));
  QVERIFY(JudgeDiskRights(1000, {1000, 6}, 6u));
  QVERIFY(!JudgeDiskRights(1000, {1000, 27}, 6u));
  QVERIFY(!JudgeDiskRights(1000, {6}, std::nullopt));
}

void GuiTest::rightsNoticeSaysWhatToStartOrInstall() {
  const std::string stopped = MissingRightsNotice(UserDiskService::NotRunning);
  const std::string missing = MissingRightsNotice(UserDiskService::NotInstalled);
  QVERIFY(stopped.find("udisks2 service, through which it writes cards as the desktop user after "
                       "a password prompt, is not running") != std::string::npos);
  QVERIFY(stopped.find("To fix it, start udisks2:\n    sudo systemctl start udisks2\n") !=
          std::string::npos);
  QVERIFY(missing.find("is not installed") != std::string::npos);
  QVERIFY(missing.find("To fix it, install udisks2:\n    sudo apt install udisks2\n") !=
          std::string::npos);
  for (const std::string& notice : {stopped, missing}) {
    QVERIFY(notice.rfind("Tarnwick runs neither as root nor as a member of the group \"disk\"",
                         0) == 0);
    QVERIFY(notice.find("    sudo usermod -aG disk $USER\n") != std::string::npos);
    QVERIFY(notice.find("\n\nThe dialog starts all the same.") != std::string::npos);
  }
}

void GuiTest::screenshotOnlyOnSimulatedDisks_data() {
  QTest::addColumn<QString>("variable");
  QTest::addColumn<bool>("simulated");
  QTest::addColumn<QString>("folder");
  QTest::addColumn<bool>("noted");
  QTest::newRow("unset, real disks") << "" << false << "" << false;
  QTest::newRow("unset, simulated") << "" << true << "" << false;
  QTest::newRow("set, simulated") << "/tmp/shots" << true << "/tmp/shots" << false;
  QTest::newRow("set, real disks") << "/tmp/shots" << false << "" << true;
}

void GuiTest::screenshotOnlyOnSimulatedDisks() {
  QFETCH(QString, variable);
  QFETCH(bool, simulated);
  QFETCH(QString, folder);
  QFETCH(bool, noted);
  std::string ignored;
  QCOMPARE(ScreenshotFolder(variable, simulated, &ignored), folder);
  QCOMPARE(!ignored.empty(), noted);
  if (noted) QVERIFY(ignored.find(kScreenshotVariable) != std::string::npos);
}

}  // namespace tarnwick::gui

QTEST_MAIN(tarnwick::gui::GuiTest)
#include "gui_test.moc"
