// The dialog's audit log: with "AuditLog" set, every card of a run appends
// one JSON line; a file that cannot take the line is a warning in the log
// and never a failed card.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "burn_inputs.h"
#include "common/debug_log.h"
#include "dialog_fakes.h"
#include "fake_clock.h"
#include "platform/host.h"
#include "platform/sim/image_disk_service.h"
#include "platform/sim/sim_board.h"
#include "test_support.h"
#include "ui/operator_relay.h"
#include "ui/tarnwick_dlg.h"

namespace tarnwick {
namespace {

namespace fs = std::filesystem;

class DialogAudit : public ::testing::Test {
 protected:
  DialogAudit() : oldDir(fs::current_path()), bus(clock), downloader(bus, relay) {
    fs::current_path(dir.path());
    fs::copy_file(fs::path(TARNWICK_SOURCE_DIR) / "examples/board.ini", dir.File("board.ini"));
    testing::WritePack(dir,
                       {{PackSlot::UBootBin, testing::PatternBytes(1000, 1)},
                        {PackSlot::System, testing::PatternBytes(20000, 2)}},
                       "card.pack");
    for (const char* name : {"a.img", "b.img"}) {
      EXPECT_TRUE(CreateCardImage(dir.File(name), 2ull << 30));
      EXPECT_TRUE(disks.AddImage(dir.File(name)));
    }
  }
  ~DialogAudit() override {
    relay.Attach(nullptr);
    fs::current_path(oldDir);
  }

  void BurnWith(const std::string& auditLog) {
    testing::WriteFile(dir.File("Tarnwick.ini"),
                       "[Burn]\nMode=2\nAuditLog=" + auditLog +
                           "\n[ResName]\nCfgFile=board.ini\nPackFile=card.pack\n");
    CTarnwickDlg dlg(view, jobs, disks, downloader, events);
    relay.Attach(&dlg);
    ASSERT_TRUE(dlg.OnInitDialog());
    dlg.OnBurn();
    relay.Attach(nullptr);
  }

  static std::vector<std::string> LinesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }

  testing::TempDir dir;
  fs::path oldDir;
  testing::FakeClock clock;
  SimBoardBus bus;
  COperatorRelay relay;
  CDfuDownloader downloader;
  ImageDiskService disks;
  testing::FakeView view;
  testing::FakeJobs jobs;
  testing::FakeEvents events;
  LogCapture log;
};

TEST_F(DialogAudit, EveryCardOfEveryRunAppendsOneLine) {
  BurnWith("audit.log");
  BurnWith("audit.log");
  const std::vector<std::string> lines = LinesOf(testing::ReadFileText(dir.File("audit.log")));
  ASSERT_EQ(lines.size(), 4u);
  for (size_t i = 0; i < lines.size(); ++i) {
    const std::string& line = lines[i];
    EXPECT_EQ(line.front(), '{');
    EXPECT_EQ(line.back(), '}');
    EXPECT_NE(line.find("\"tool\":\"tarnwick\""), std::string::npos) << line;
    EXPECT_NE(line.find("\"host\":\"" + HostName() + "\""), std::string::npos) << line;
    EXPECT_NE(line.find("\"slot\":" + std::to_string(i % 2)), std::string::npos) << line;
    EXPECT_NE(line.find("\"result\":\"passed\""), std::string::npos) << line;
    EXPECT_NE(line.find("\"Mode\":2"), std::string::npos) << line;
    EXPECT_EQ(line.find("\"bytesWritten\":0,"), std::string::npos) << line;
  }
}

TEST_F(DialogAudit, AnUnwritableAuditLogIsAWarningAndTheCardsStillPass) {
  fs::create_directory(dir.File("folder"));
  BurnWith("folder");
  EXPECT_NE(log.Text().find("AuditLog: warning: cannot append to the audit log folder"),
            std::string::npos)
      << log.Text();
  // No failed-card list: the final message alone.
  EXPECT_EQ(view.BoxTexts(), std::vector<std::string>{"烧写完成"});
  const std::string text = log.Text();
  size_t written = 0;
  for (size_t at = text.find("BurnToOneSD: Write ok"); at != std::string::npos;
       at = text.find("BurnToOneSD: Write ok", at + 1)) {
    ++written;
  }
  EXPECT_EQ(written, 2u);
}

}  // namespace
}  // namespace tarnwick
