// What a burn leaves for scripts: the --report document, the audit log's
// lines, disks --json; each checked against its schema.
#include <filesystem>
#include <regex>

#include "cli_fixture.h"
#include "json_check.h"
#include "platform/fake_disk_tree.h"

namespace tarnwick::testing {
namespace {

using RecordsCli = CliTest;

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// The value of a JSON member "key": as the text after it, up to the next comma or brace.
std::vector<std::string> Members(const std::string& json, const std::string& key) {
  std::vector<std::string> values;
  const std::regex member("\"" + key + "\": ?(\"[^\"]*\"|[^,}\\n]*)");
  for (auto it = std::sregex_iterator(json.begin(), json.end(), member);
       it != std::sregex_iterator(); ++it) {
    values.push_back((*it)[1]);
  }
  return values;
}

std::string Sha256Sum(const std::string& path) {
  std::string out;
  if (RunCommand("sha256sum '" + path + "'", &out) != 0) return "sha256sum failed: " + out;
  return out.substr(0, 64);
}

TEST_F(RecordsCli, ReportNamesEveryCardItsResultAndTheInputsDigests) {
  PatternCard("a.img", 16 * kMiB);
  PatternCard("b.img", 24 * kMiB);
  PatternCard("small.img", 8 * kMiB);  // one cylinder: less than the partitions need
  CliRun run = Burn("--target a.img --target small.img --target b.img --report run.json");
  EXPECT_EQ(run.status, 1) << run.err;
  ExpectBurned("a.img");
  ExpectBurned("b.img");
  const std::string report = ReadFileText(dir.File("run.json"));
  ExpectValidJson("report.schema.json", dir.File("run.json"));
  EXPECT_EQ(Members(report, "device"),
            (std::vector<std::string>{"\"a.img\"", "\"small.img\"", "\"b.img\""}));
  EXPECT_EQ(Members(report, "result"),
            (std::vector<std::string>{"\"passed\"", "\"refused\"", "\"passed\""}));
  EXPECT_EQ(Members(report, "sizeBytes"),
            (std::vector<std::string>{"16450560", "8225280", "24675840"}));
  const std::vector<std::string> bytes = Members(report, "bytesWritten");
  ASSERT_EQ(bytes.size(), 3u);
  EXPECT_GT(std::stoull(bytes[0]), 20000u + 5000 + 3000);  // at least the images
  EXPECT_EQ(bytes[1], "0");
  EXPECT_EQ(Members(report, "verify")[0], "\"not verified\"");
  EXPECT_NE(report.find("would need at least"), std::string::npos) << report;
  EXPECT_EQ(Members(report, "sha256"),
            (std::vector<std::string>{"\"" + Sha256Sum(dir.File("board.pack")) + "\"",
                                      "\"" + Sha256Sum(dir.File("board.ini")) + "\""}));
  EXPECT_EQ(Members(report, "cardsFound"), std::vector<std::string>{"3"});
  EXPECT_EQ(Members(report, "cardsWritten"), std::vector<std::string>{"2"});
}

TEST_F(RecordsCli, AuditLogKeepsEveryRunsLinesFromOptionAndSettings) {
  PatternCard("a.img", 16 * kMiB);
  PatternCard("b.img", 16 * kMiB);
  ASSERT_EQ(Burn("--target a.img --target b.img --audit audit.log").status, 0);
  // The settings name the same file when --audit is not given.
  WriteSettings("[Burn]\nBurnData=2\nAuditLog=audit.log\n");
  ASSERT_EQ(Burn("--target b.img").status, 0);
  const std::vector<std::string> lines = Lines(ReadFileText(dir.File("audit.log")));
  ASSERT_EQ(lines.size(), 3u);
  ExpectValidJson("audit.schema.json", dir.File("audit.log"), true);
  EXPECT_EQ(Members(lines[0], "device"), std::vector<std::string>{"\"a.img\""});
  EXPECT_EQ(Members(lines[1], "device"), std::vector<std::string>{"\"b.img\""});
  EXPECT_EQ(Members(lines[2], "device"), std::vector<std::string>{"\"b.img\""});
  EXPECT_EQ(Members(lines[0], "BurnData"), std::vector<std::string>{"0"});
  EXPECT_EQ(Members(lines[2], "BurnData"), std::vector<std::string>{"2"});
  EXPECT_FALSE(Members(lines[0], "host")[0].empty());
}

TEST_F(RecordsCli, AnAuditLogThatCannotBeWrittenIsAWarningAndTheCardsPass) {
  PatternCard("card.img", 16 * kMiB);
  std::filesystem::create_directory(dir.File("folder"));
  struct Case {
    const char* what;
    const char* settings;
    std::string args;
  };
  const Case cases[] = {
      {"option, folder missing", "", "--audit missing/audit.log"},
      {"settings, a folder", "[Burn]\nAuditLog=folder\n", ""},
  };
  for (const Case& c : cases) {
    WriteSettings(c.settings);
    CliRun run = Burn("--target card.img " + c.args);
    EXPECT_EQ(run.status, 0) << c.what << ": " << run.err;
    EXPECT_NE(run.err.find("warning: cannot append to the audit log"), std::string::npos)
        << c.what << ": " << run.err;
    EXPECT_NE(run.err.find("1 of 1 card(s) written completely"), std::string::npos) << run.err;
    ExpectBurned("card.img");
  }
}

TEST_F(RecordsCli, ReportOrAuditOptionThatIsNoFileIsRefusedBeforeWriting) {
  PatternCard("card.img", 16 * kMiB);
  std::filesystem::create_directory(dir.File("folder"));
  for (const char* option : {"--report", "--audit"}) {
    CliRun run = Burn(std::string("--target new.img --size 16M ") + option + " folder");
    EXPECT_EQ(run.status, 2) << option;
    EXPECT_NE(run.err.find("folder is a folder, not a file"), std::string::npos) << run.err;
    EXPECT_FALSE(std::filesystem::exists(dir.File("new.img"))) << option;
  }
}

TEST_F(RecordsCli, CardsOfTheHostCarryVendorModelAndSerial) {
  FakeDiskTree tree;
  tree.Disk("sda", "8:0", 500118192, false);
  tree.Partition("sda", "sda1", "8:1");
  tree.Mount("8:1", "/", "/dev/sda1");
  tree.Disk("sdb", "8:16", 7744512, true);
  tree.Put("sys/block/sdb/device/vendor", "Generic ");
  tree.Put("sys/block/sdb/device/model", "SD/MMC Reader");
  tree.Put("run/udev/data/b8:16", "S:disk/by-id/usb-x\nE:ID_SERIAL_SHORT=000000001206\nG:systemd");
  tree.Mmc("mmcblk0", "179:0", "SD");
  tree.Put("sys/block/mmcblk0/device/manfid", "0x000003");
  tree.Put("sys/block/mmcblk0/device/oemid", "0x5344");
  tree.Put("sys/block/mmcblk0/device/name", "SC16G");
  tree.Put("sys/block/mmcblk0/device/serial", "0x7a3c10de");
  tree.Put("sys/block/mmcblk0/removable", "0");
  tree.Disk("loop0", "7:0", 32768, false);
  tree.Put("sys/block/loop0/loop/backing_file", "/srv/card.img");
  tree.Disk("loop1", "7:1", 0, false);  // nothing attached: not listed

  CliRun text = Cli("disks --sys-root " + tree.Root());
  ASSERT_EQ(text.status, 0) << text.err;
  EXPECT_NE(text.out.find("/dev/loop0"), text.out.find("Left out:")) << text.out;
  EXPECT_GT(text.out.find("/dev/loop0"), text.out.find("Left out:")) << text.out;
  EXPECT_NE(text.out.find("loop device of /srv/card.img"), std::string::npos) << text.out;
  EXPECT_EQ(text.out.find("loop1"), std::string::npos) << text.out;

  CliRun json = Cli("disks --json --sys-root " + tree.Root());
  ASSERT_EQ(json.status, 0) << json.err;
  WriteFile(dir.File("disks.json"), json.out);
  ExpectValidJson("disks.schema.json", dir.File("disks.json"));
  EXPECT_EQ(Members(json.out, "device"),
            (std::vector<std::string>{"\"/dev/mmcblk0\"", "\"/dev/sdb\"", "\"/dev/sda\"",
                                      "\"/dev/loop0\""}));
  EXPECT_EQ(Members(json.out, "serial"),
            (std::vector<std::string>{"\"0x7a3c10de\"", "\"000000001206\"", "\"\"", "\"\""}));
  EXPECT_EQ(Members(json.out, "model"),
            (std::vector<std::string>{"\"SC16G\"", "\"SD/MMC Reader\"", "\"\"", "\"\""}));
  EXPECT_EQ(Members(json.out, "vendor")[0], "\"0x000003/0x5344\"");
  EXPECT_EQ(Members(json.out, "vendor")[1], "\"Generic\"");
}

}  // namespace
}  // namespace tarnwick::testing
