// The main dialog's logic against a fake window: start-up from the settings
// file, file picks, mode clicks, the burn in both modes, device arrivals,
// and the one-way path boxes.
#include "ui/tarnwick_dlg.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>

#include "burn_inputs.h"
#include "common/debug_log.h"
#include "dialog_fakes.h"
#include "fake_clock.h"
#include "fake_operator.h"
#include "platform/fs/file_access.h"
#include "platform/sim/image_disk_service.h"
#include "platform/sim/sim_board.h"
#include "test_support.h"
#include "ui/operator_relay.h"

namespace tarnwick {
namespace {

// The path boxes join the working directory and a name with the system's separator.
const std::string kSep(1, static_cast<char>(std::filesystem::path::preferred_separator));

namespace fs = std::filesystem;
using testing::FakeClock;
using testing::FakeEvents;
using testing::FakeJobs;
using testing::FakeView;
using testing::ReadFileText;
using testing::TempDir;
using testing::WriteFile;

constexpr const char* kBurnDone = "烧写完成";
constexpr const char* kNoCard = "No card found: nothing was written.";
constexpr const char* kNoBoard = "Can't find udisk. please make sure udisk is ok.";
const std::vector<ControlId> kInputs = {
    ControlId::CfgBrowse,  ControlId::PackBrowse, ControlId::Burn,    ControlId::ModeBoard,
    ControlId::ModeReader, ControlId::CfgPath,    ControlId::PackPath};

// A dialog in a temporary working directory; the downloader's bus has no
// board on it, and image files make the disk table.
class DialogTest : public ::testing::Test {
 protected:
  DialogTest() : oldDir(fs::current_path()), bus(clock), downloader(bus, relay) {
    fs::current_path(dir.path());
    cwd = fs::current_path().string();
  }
  ~DialogTest() override {
    relay.Attach(nullptr);
    fs::current_path(oldDir);
  }

  void Settings(const std::string& text) { WriteFile(dir.File("Tarnwick.ini"), text); }

  void Open() {
    dlg = std::make_unique<CTarnwickDlg>(view, jobs, disks, downloader, events);
    relay.Attach(dlg.get());
    ASSERT_TRUE(dlg->OnInitDialog());
  }

  // The example board configuration and a pack holding a download program.
  void WriteInputs() {
    fs::copy_file(fs::path(TARNWICK_SOURCE_DIR) / "examples/board.ini", dir.File("board.ini"));
    testing::WritePack(dir, {{PackSlot::Dfu, testing::PatternBytes(3000, 1)}}, "example.pack");
  }

  bool AllInputsEnabled(bool enabled) const {
    for (ControlId c : kInputs) {
      if (view.Enabled(c) != enabled) return false;
    }
    return true;
  }

  TempDir dir;
  fs::path oldDir;
  std::string cwd;
  FakeClock clock;
  SimBoardBus bus;
  COperatorRelay relay;
  CDfuDownloader downloader;
  ImageDiskService disks;
  FakeView view;
  FakeJobs jobs;
  FakeEvents events;
  LogCapture log;
  std::unique_ptr<CTarnwickDlg> dlg;
};

TEST_F(DialogTest, FirstRunCreatesModeOnlyAndPathsEndInSlash) {
  Open();
  EXPECT_EQ(ReadFileText(dir.File("Tarnwick.ini")),
            std::string("[Burn]") + kNativeLineEnding + "Mode=2" + kNativeLineEnding);
  EXPECT_FALSE(view.Enabled(ControlId::ModeBoard));
  EXPECT_TRUE(view.checkedState[ControlId::ModeReader]);
  EXPECT_FALSE(view.checkedState[ControlId::ModeBoard]);
  EXPECT_EQ(view.texts[ControlId::CfgPath], cwd + kSep);
  EXPECT_EQ(view.texts[ControlId::PackPath], cwd + kSep);
  EXPECT_EQ(view.range, std::make_pair(0, 15));
  EXPECT_EQ(view.positions, std::vector<int>{0});
  EXPECT_EQ(view.aboutItem, "Zelmar Flash...");
  EXPECT_EQ(dlg->State(), DialogState::Idle);
  EXPECT_FALSE(dlg->Engine().WaitDevice());
}

struct ModeCase {
  const char* name;
  const char* settings;
  bool permitted;
  bool boardChecked;
};

const ModeCase kModeCases[] = {
    {"permission_5_no_mode", "[Burn]\nCanUseBoardMode=5\n", true, false},
    {"permitted_board", "[Burn]\nCanUseBoardMode=1\nMode=1\n", true, true},
    {"forbidden_board_forced_to_reader", "[Burn]\nCanUseBoardMode=0\nMode=1\n", false, false},
    {"unknown_mode", "[Burn]\nCanUseBoardMode=1\nMode=9\n", true, false},
};

class DialogModes : public DialogTest, public ::testing::WithParamInterface<ModeCase> {};

// The buttons follow the repaired settings, and a burn run gives back the
// board button only where board mode is permitted.
TEST_P(DialogModes, ButtonsFollowSettingsAndSurviveABurn) {
  const ModeCase& c = GetParam();
  Settings(c.settings);
  Open();
  EXPECT_EQ(dlg->BoardModePermitted(), c.permitted);
  EXPECT_EQ(view.Enabled(ControlId::ModeBoard), c.permitted);
  EXPECT_EQ(view.checkedState[ControlId::ModeBoard], c.boardChecked);
  EXPECT_EQ(view.checkedState[ControlId::ModeReader], !c.boardChecked);

  view.checkedState[ControlId::ModeBoard] = false;  // a reader burn whatever the mode
  view.checkedState[ControlId::ModeReader] = true;
  dlg->OnBurn();
  EXPECT_EQ(view.BoxTexts().back(), kBurnDone);
  EXPECT_EQ(view.Enabled(ControlId::ModeBoard), c.permitted);
  EXPECT_TRUE(view.Enabled(ControlId::ModeReader));
}

INSTANTIATE_TEST_SUITE_P(Settings, DialogModes, ::testing::ValuesIn(kModeCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(DialogTest, LongRememberedNameUsesFirst49Characters) {
  const std::string name(60, 'c');
  Settings("[ResName]\nCfgFile=" + name + "\nPackFile=p.pack\n");
  Open();
  EXPECT_EQ(dlg->Engine().CfgFile(), cwd + kSep + name.substr(0, 49));
  EXPECT_EQ(dlg->Engine().PackFile(), cwd + kSep + "p.pack");
}

TEST_F(DialogTest, PickSetsPathAndBareNameCancelChangesNothing) {
  Settings("[ResName]\nCfgFile=old.ini\nPackFile=old.pack\n");
  Open();
  view.pickAnswer = "/elsewhere/boards/my board.ini";
  dlg->OnBrowseCfg();
  view.pickAnswer = std::nullopt;
  dlg->OnBrowsePack();

  ASSERT_EQ(view.picks.size(), 2u);
  EXPECT_EQ(view.picks[0].title, "Select Config file");
  EXPECT_EQ(view.picks[1].title, "Select Bin file");
  EXPECT_EQ(view.picks[0].filter, "All Files (*.*)|*.*|");
  EXPECT_EQ(view.picks[0].initialDir, cwd);
  EXPECT_EQ(dlg->Engine().CfgFile(), "/elsewhere/boards/my board.ini");
  EXPECT_EQ(view.texts[ControlId::CfgPath], "/elsewhere/boards/my board.ini");
  EXPECT_EQ(dlg->Engine().PackFile(), cwd + kSep + "old.pack");
  EXPECT_EQ(dlg->Settings().ReadString("ResName", "CfgFile"), "my board.ini");
  EXPECT_EQ(dlg->Settings().ReadString("ResName", "PackFile"), "old.pack");
}

// A settings file that cannot be read: defaults, and a box at start.
TEST_F(DialogTest, UnreadableSettingsAreNamedAtStart) {
#ifdef _WIN32
  GTEST_SKIP() << "checks the POSIX text of a folder read as a file";
#endif
  fs::create_directory(dir.File("Tarnwick.ini"));
  Open();
  ASSERT_FALSE(view.boxes.empty());
  EXPECT_NE(
      view.boxes[0].text.find(cwd + "/Tarnwick.ini exists but cannot be read (it is a folder"),
      std::string::npos)
      << view.boxes[0].text;
  EXPECT_EQ(view.boxes.size(), 1u);
  EXPECT_TRUE(view.checkedState[ControlId::ModeReader]);
}

// A linked settings file is read but never written: the first choice that
// is not stored says why, once; the linked file stays as it was.
TEST_F(DialogTest, LinkedSettingsAreReadButNeverWritten) {
#ifdef _WIN32
  GTEST_SKIP() << "checks symbolic links (Wine has none)";
#endif
  WriteFile(dir.File("shared.ini"), "[Burn]\nCanUseBoardMode=1\nMode=1\n");
  fs::create_symlink("shared.ini", dir.path() / "Tarnwick.ini");
  Open();
  EXPECT_TRUE(view.checkedState[ControlId::ModeBoard]);
  EXPECT_TRUE(view.boxes.empty());
  view.checkedState[ControlId::ModeBoard] = false;
  view.checkedState[ControlId::ModeReader] = true;
  dlg->OnModeClicked();
  view.pickAnswer = cwd + "/other.ini";
  dlg->OnBrowseCfg();
  ASSERT_EQ(view.boxes.size(), 1u);
  EXPECT_NE(view.boxes[0].text.find("is a symbolic link"), std::string::npos);
  EXPECT_EQ(ReadFileText(dir.File("shared.ini")), "[Burn]\nCanUseBoardMode=1\nMode=1\n");
  EXPECT_TRUE(fs::is_symlink(dir.path() / "Tarnwick.ini"));
}

TEST_F(DialogTest, ModeClickStoresTheCheckedButton) {
  Settings("[Burn]\nCanUseBoardMode=1\nMode=2\n");
  Open();
  for (bool board : {true, false, false}) {
    view.checkedState[ControlId::ModeBoard] = board;
    view.checkedState[ControlId::ModeReader] = !board;
    dlg->OnModeClicked();
    EXPECT_EQ(dlg->Settings().ReadInt("Burn", "Mode"), board ? 1 : 2);
  }
}

struct WarningCase {
  const char* name;
  const char* value;
  MsgAnswer answer;
  bool asked;
  bool burned;
};

const WarningCase kWarningCases[] = {
    {"warning_ok", "1", MsgAnswer::Ok, true, true},
    {"warning_cancel", "1", MsgAnswer::Cancel, true, false},
    {"warning_2_not_asked", "2", MsgAnswer::Cancel, false, true},
};

class DialogWarning : public DialogTest, public ::testing::WithParamInterface<WarningCase> {};

TEST_P(DialogWarning, ConfirmationBeforeBurn) {
  const WarningCase& c = GetParam();
  Settings(std::string("[Burn]\nCanUseBoardMode=1\nMode=2\nWarningBeforeBurn=") + c.value + "\n");
  Open();
  view.okCancelAnswer = c.answer;
  dlg->OnBurn();
  std::vector<std::string> expected;
  if (c.asked) expected.push_back("请拔出不相关USB设备，然后开始烧写");
  if (c.burned) expected.insert(expected.end(), {kNoCard, kBurnDone});
  EXPECT_EQ(view.BoxTexts(), expected);
  if (c.asked) {
    EXPECT_EQ(view.boxes[0].buttons, MsgButtons::OkCancel);
  }
  EXPECT_EQ(jobs.started, c.burned ? 1 : 0);
  EXPECT_TRUE(AllInputsEnabled(true));
  EXPECT_EQ(dlg->State(), DialogState::Idle);
}

INSTANTIATE_TEST_SUITE_P(Burn, DialogWarning, ::testing::ValuesIn(kWarningCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(DialogTest, ReaderBurnWithoutCardDisablesThenEnablesAndCompletes) {
  Settings("[Burn]\nCanUseBoardMode=1\nMode=2\n");
  Open();
  jobs.runAtOnce = false;
  dlg->OnBurn();
  EXPECT_EQ(dlg->State(), DialogState::Burning);
  EXPECT_TRUE(AllInputsEnabled(false));
  EXPECT_FALSE(dlg->CanClose());
  dlg->OnBurn();  // a second press while running starts nothing
  EXPECT_EQ(jobs.started, 1);
  jobs.RunAll();
  EXPECT_TRUE(AllInputsEnabled(true));
  EXPECT_EQ(view.BoxTexts(), (std::vector<std::string>{kNoCard, kBurnDone}));
  EXPECT_EQ(dlg->State(), DialogState::Idle);
  EXPECT_TRUE(dlg->CanClose());
}

TEST_F(DialogTest, BoardModeWithoutBoardWaitsAndFirstArrivalBurns) {
  Settings("[Burn]\nCanUseBoardMode=1\nMode=1\n[ResName]\nPackFile=example.pack\n");
  WriteInputs();
  Open();
  dlg->OnBurn();
  EXPECT_EQ(view.BoxTexts(), std::vector<std::string>{kNoBoard});
  EXPECT_EQ(dlg->State(), DialogState::WaitingForBoard);
  EXPECT_TRUE(dlg->Engine().WaitDevice());
  EXPECT_TRUE(AllInputsEnabled(false));
  EXPECT_TRUE(dlg->CanClose());

  dlg->OnDeviceChange(0x8007, "removal");  // not an arrival
  EXPECT_EQ(jobs.started, 1);
  events.incoming.push_back({kDeviceArrival, "/dev/sdz"});
  events.incoming.push_back({kDeviceArrival, "/dev/sdy"});
  dlg->PollDeviceEvents();
  EXPECT_EQ(jobs.started, 2);  // one run: the second arrival found nothing waiting
  EXPECT_EQ(view.BoxTexts(), (std::vector<std::string>{kNoBoard, kNoCard, kBurnDone}));
  EXPECT_FALSE(dlg->Engine().WaitDevice());
  EXPECT_EQ(dlg->State(), DialogState::Idle);
  EXPECT_TRUE(AllInputsEnabled(true));
}

// Nothing waits while idle nor once a run has begun: an arrival then is ignored.
TEST_F(DialogTest, ArrivalIgnoredWhenNothingWaits) {
  Settings("[Burn]\nCanUseBoardMode=1\nMode=2\n");
  Open();
  EXPECT_TRUE(dlg->OnDeviceChange(kDeviceArrival, "/dev/sdz"));
  EXPECT_EQ(jobs.started, 0);
  jobs.runAtOnce = false;
  dlg->OnBurn();
  EXPECT_TRUE(dlg->OnDeviceChange(kDeviceArrival, "/dev/sdz"));
  jobs.RunAll();
  EXPECT_EQ(jobs.started, 1);
  EXPECT_EQ(view.BoxTexts(), (std::vector<std::string>{kNoCard, kBurnDone}));
}

// A board that shows its card while the download is still going: the notice
// waits until waiting has begun, then starts the run: notices are handled in
// order, never in the middle of a job.
TEST_F(DialogTest, ArrivalDuringDownloadStartsRunOnceWaiting) {
  Settings("[Burn]\nCanUseBoardMode=1\nMode=1\n[ResName]\nPackFile=example.pack\n");
  WriteInputs();
  Open();
  jobs.runAtOnce = false;
  dlg->OnBurn();
  EXPECT_EQ(dlg->State(), DialogState::Downloading);
  EXPECT_FALSE(dlg->CanClose());
  dlg->OnDeviceChange(kDeviceArrival, "/dev/sdz");
  jobs.RunJob();  // the download ends: waiting, and the queued arrival starts the run
  EXPECT_EQ(dlg->State(), DialogState::Burning);
  jobs.RunJob();
  EXPECT_EQ(view.BoxTexts(), (std::vector<std::string>{kNoBoard, kNoCard, kBurnDone}));
  EXPECT_EQ(dlg->State(), DialogState::Idle);
}

// In either mode the boxes show the remembered paths once Burn is pressed; in
// board mode already while the board's card is awaited.
TEST_F(DialogTest, HandTypedPathIsIgnoredAndReplacedAtNextRefresh) {
  for (const char* mode : {"1", "2"}) {
    Settings(std::string("[Burn]\nCanUseBoardMode=1\nMode=") + mode +
             "\n[ResName]\nPackFile=example.pack\nCfgFile=board.ini\n");
    Open();
    view.texts[ControlId::PackPath] = "/typed/by/hand.pack";
    view.texts[ControlId::CfgPath] = "/typed/by/hand.ini";
    dlg->OnBurn();
    EXPECT_EQ(dlg->Engine().PackFile(), cwd + kSep + "example.pack") << mode;
    EXPECT_EQ(view.texts[ControlId::PackPath], cwd + kSep + "example.pack") << mode;
    EXPECT_EQ(view.texts[ControlId::CfgPath], cwd + kSep + "board.ini") << mode;
    relay.Attach(nullptr);
  }
}

TEST_F(DialogTest, FailedCardIsNamedBeforeFinalMessage) {
  Settings("[Burn]\nCanUseBoardMode=1\nMode=2\n[ResName]\nCfgFile=board.ini\nPackFile=none.pack\n");
  WriteInputs();
  const std::string card = dir.File("card.img");
  ASSERT_TRUE(CreateCardImage(card, 2ull << 30));
  ASSERT_TRUE(disks.AddImage(card));
  Open();
  dlg->OnBurn();
  ASSERT_EQ(view.boxes.size(), 3u);
  EXPECT_EQ(view.boxes[0].text, "open file fail!");
  // The pack is at fault, and the list says so rather than blame the card.
  EXPECT_EQ(
      view.boxes[1].text.rfind("Cards not written completely:\nslot 0 " + card + ": pack file " +
                                   cwd + kSep + "none.pack cannot be opened: ",
                               0),
      0u)
      << view.boxes[1].text;
  EXPECT_EQ(view.boxes[2].text, kBurnDone);
}

// The engine's card updates reach the window through the dialog, and
// through the relay the front end points at it.
TEST_F(DialogTest, CardUpdatesGoOnToTheWindow) {
  Open();
  CardStatus status;
  status.device = "/dev/sdb";
  status.phase = CardPhase::Writing;
  dlg->CardUpdate(status);
  status.phase = CardPhase::Done;
  relay.CardUpdate(status);
  ASSERT_EQ(view.cardStatuses.size(), 2u);
  EXPECT_EQ(view.cardStatuses[0].phase, CardPhase::Writing);
  EXPECT_EQ(view.cardStatuses[1].phase, CardPhase::Done);
  EXPECT_EQ(view.cardStatuses[1].device, "/dev/sdb");
}

// A disk table that cannot be read at all.
class BrokenDisks : public IDiskService {
 public:
  std::vector<DiskSlot> Slots() override { throw std::runtime_error("disk table unreadable"); }
  std::unique_ptr<IDiskQuery> OpenForQuery(const std::string&) override { return nullptr; }
  SysResult<std::unique_ptr<IDiskWriter>> OpenForWrite(const std::string&) override {
    return SysStatus::FromCode(std::make_error_code(std::errc::io_error));
  }
};

TEST_F(DialogTest, UnexpectedErrorIsShownAndDialogUsableAgain) {
  BrokenDisks broken;
  CTarnwickDlg dialog(view, jobs, broken, downloader, events);
  ASSERT_TRUE(dialog.OnInitDialog());
  dialog.OnBurn();
  EXPECT_EQ(view.BoxTexts(), std::vector<std::string>{"disk table unreadable"});
  EXPECT_EQ(dialog.State(), DialogState::Idle);
  EXPECT_TRUE(view.Enabled(ControlId::Burn));
}

// "ParallelBurn" and "VerifyAfterBurn" of section "Burn" switch the run's
// parallel burn and read-back on with 1 alone; missing or other values leave
// them off.
struct BurnSwitchCase {
  const char* name;
  const char* keys;
  bool parallel;
  bool verified;
};

class DialogBurnSwitches : public DialogTest,
                           public ::testing::WithParamInterface<BurnSwitchCase> {};

TEST_P(DialogBurnSwitches, ReadFromTheSettingsFileAtEachRun) {
  Settings(std::string("[Burn]\nCanUseBoardMode=1\nMode=2\n") + GetParam().keys);
  Open();
  dlg->OnBurn();
  EXPECT_EQ(dlg->Engine().LastRun().parallel, GetParam().parallel);
  EXPECT_EQ(dlg->Engine().LastRun().verified, GetParam().verified);
  // No card in the fake readers: the run says so before its end.
  EXPECT_EQ(view.BoxTexts(), (std::vector<std::string>{kNoCardFoundText, kBurnDone}));
}

const BurnSwitchCase kBurnSwitchCases[] = {
    {"missing", "", false, false},
    {"zero", "ParallelBurn=0\nVerifyAfterBurn=0\n", false, false},
    {"parallel", "ParallelBurn=1\n", true, false},
    {"verify", "VerifyAfterBurn=1\n", false, true},
    {"both", "ParallelBurn=1\nVerifyAfterBurn=1\n", true, true},
    {"two_is_off", "ParallelBurn=2\nVerifyAfterBurn=2\n", false, false},
};

INSTANTIATE_TEST_SUITE_P(Burn, DialogBurnSwitches, ::testing::ValuesIn(kBurnSwitchCases),
                         [](const auto& info) { return std::string(info.param.name); });

// The relay hands each card's status to the dialog it is attached to.
TEST(OperatorRelay, ForwardsCardUpdatesWhileAttached) {
  testing::FakeOperator target;
  COperatorRelay relay;
  CardStatus status;
  status.slot = 3;
  relay.CardUpdate(status);
  relay.Attach(&target);
  relay.CardUpdate(status);
  ASSERT_EQ(target.cardUpdates.size(), 1u);
  EXPECT_EQ(target.cardUpdates[0].slot, 3);
}

}  // namespace
}  // namespace tarnwick
