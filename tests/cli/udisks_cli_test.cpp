// tarnwick-cli burn as the user nobody, who may not open the card: udisks2 (a
// stand-in on a private bus, tests/cli/udisks_standin.py) opens the test's
// own loop device and hands the descriptor over. The card comes out byte for
// byte as a root burn makes it; a refused authorization, or no udisks2 on the
// bus, fails the card and leaves it untouched.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <thread>

#include "cli_fixture.h"
#include "loop_device.h"

namespace tarnwick::testing {
namespace {

namespace fs = std::filesystem;

constexpr const char* kPython = "/usr/bin/python3";
constexpr uint64_t kCardBytes = 16 * kMiB;

std::string Quoted(const std::string& text) {
  return "'" + text + "'";
}

class UdisksCli : public CliTest {
 protected:
  void SetUp() override {
    if (::geteuid() != 0) {
      GTEST_SKIP() << "needs root: attaches loop devices and burns as the user nobody";
    }
    for (const char* tool : {"losetup", "setpriv", "dbus-daemon", "sha256sum"}) {
      if (!HaveProgram(tool)) GTEST_SKIP() << tool << " is not installed";
    }
    if (RunCommand(std::string(kPython) + " -c 'import dbus.mainloop.glib, gi.repository.GLib'",
                   nullptr) != 0) {
      GTEST_SKIP() << "the udisks2 stand-in needs python3-dbus and python3-gi";
    }
    CliTest::SetUp();
    // nobody reads the inputs; no file here is writable by nobody, the cards'
    // backing files included.
    ASSERT_EQ(RunCommand("chmod -R u=rwX,go=rX " + Quoted(dir.path().string()), nullptr), 0);
    StartBus();
  }

  void TearDown() override {
    Stop(m_standin);
    Stop(m_daemon);
  }

  // A loop device on a pattern-filled backing file that only root may open.
  std::string Card(const std::string& backing) {
    auto loop = std::make_unique<LoopDevice>(PatternCard(backing, kCardBytes), false);
    if (loop->Path().empty()) {
      ADD_FAILURE() << "no loop device could be attached: " << loop->Error();
      return {};
    }
    ::chmod(dir.File(backing).c_str(), 0644);
    ::chmod(loop->Path().c_str(), 0600);
    m_loops.push_back(std::move(loop));
    return m_loops.back()->Path();
  }

  void StartBus() {
    const std::string socket = dir.File("system_bus_socket");
    WriteFile(dir.File("bus.conf"),
              "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
              " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
              "<busconfig>\n"
              "  <listen>unix:path=" +
                  socket +
                  "</listen>\n"
                  "  <auth>EXTERNAL</auth>\n"
                  "  <policy context=\"default\">\n"
                  "    <allow user=\"*\"/>\n"
                  "    <allow own=\"*\"/>\n"
                  "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
                  "    <allow eavesdrop=\"true\"/>\n"
                  "  </policy>\n"
                  "</busconfig>\n");
    std::string out;
    ASSERT_EQ(RunCommand("dbus-daemon --config-file=" + Quoted(dir.File("bus.conf")) +
                             " --fork --print-pid=1",
                         &out),
              0)
        << out;
    m_daemon = std::atoi(out.c_str());
    ASSERT_GT(m_daemon, 0) << out;
    ::chmod(socket.c_str(), 0666);
    m_address = "unix:path=" + socket;
  }

  // Starts the stand-in serving device by opening target; waits until it
  // owns its name.
  void StartStandIn(const std::string& device, const std::string& target,
                    const std::string& refuse = "") {
    std::string out;
    ASSERT_EQ(
        RunCommand(std::string(kPython) + " " +
                       Quoted(TARNWICK_SOURCE_DIR "/tests/cli/udisks_standin.py") + " --bus " +
                       Quoted(m_address) + " --device " + device + " --open " + target + " --log " +
                       Quoted(CallLog()) + (refuse.empty() ? "" : " --refuse " + refuse) + " >" +
                       Quoted(dir.File("standin.out")) + " 2>&1 & echo $!",
                   &out),
        0);
    m_standin = std::atoi(out.c_str());
    for (int i = 0; i < 100 && ReadCalls().find("ready") == std::string::npos; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ASSERT_NE(ReadCalls().find("ready"), std::string::npos)
        << ReadFileText(dir.File("standin.out"));
  }

  std::string CallLog() { return dir.File("udisks-calls.log"); }
  std::string ReadCalls() {
    std::error_code ec;
    return fs::exists(CallLog(), ec) ? ReadFileText(CallLog()) : std::string();
  }

  CliRun BurnAsNobody(const std::string& device) {
    CliRun run;
    const std::string errFile = dir.File("stderr-nobody.txt");
    run.status = RunCommand(
        "( cd " + Quoted(dir.path().string()) + " && DBUS_SYSTEM_BUS_ADDRESS=" + Quoted(m_address) +
            " setpriv --reuid=nobody --regid=nogroup --clear-groups " + Quoted(Binary()) +
            " burn --config board.ini --pack board.pack --yes --allow-fixed --target " + device +
            " </dev/null 2>" + Quoted(errFile) + " )",
        &run.out);
    run.err = ReadFileText(errFile);
    return run;
  }

  std::string Sha256(const std::string& name) {
    std::string out;
    EXPECT_EQ(RunCommand("sha256sum " + Quoted(dir.File(name)), &out), 0);
    return out.substr(0, out.find(' '));
  }

  static void Stop(pid_t& pid) {
    if (pid > 0) ::kill(pid, SIGTERM);
    pid = 0;
  }

  std::vector<std::unique_ptr<LoopDevice>> m_loops;
  std::string m_address;
  pid_t m_daemon = 0;
  pid_t m_standin = 0;
};

TEST_F(UdisksCli, NobodyWritesTheCardThroughUdisksAsRootWritesIt) {
  const std::string rootCard = Card("root-backing.img");
  const std::string userCard = Card("nobody-backing.img");
  ASSERT_FALSE(rootCard.empty() || userCard.empty());

  CliRun root = Burn("--allow-fixed --target " + rootCard);
  ASSERT_EQ(root.status, 0) << root.err;

  StartStandIn(userCard, userCard);
  CliRun user = BurnAsNobody(userCard);
  ASSERT_EQ(user.status, 0) << user.err << user.out;
  EXPECT_NE(user.out.find("OpenDisk: " + userCard + " opened through udisks2\n"), std::string::npos)
      << user.out;
  EXPECT_EQ(CountLines(user.out, "BurnToOneSD: Write ok"), 1u) << user.out;
  // The descriptor was asked for writing, exclusively, with a password
  // prompt allowed; the re-read the kernel refused nobody went to udisks2.
  EXPECT_EQ(ReadCalls(), "ready\nResolveDevice " + userCard +
                             "\nOpenDevice rw flags=" + std::to_string(O_EXCL) +
                             " interactive=True\nResolveDevice " + userCard + "\nRescan\n");

  const std::string rootSum = Sha256("root-backing.img");
  const std::string userSum = Sha256("nobody-backing.img");
  RecordProperty("sha256_root", rootSum);
  RecordProperty("sha256_nobody", userSum);
  std::cout << "root burn sha256 " << rootSum << "\nnobody burn sha256 " << userSum << "\n";
  EXPECT_EQ(userSum, rootSum);
  ExpectBurned("nobody-backing.img");
}

struct RefusalCase {
  const char* name;
  const char* refuse;  // the stand-in's error; nullptr: no udisks2 on the bus
  const char* errorPart;
  bool handsOverTheFile = false;  // the stand-in opens the backing file, not the device
};

const RefusalCase kRefusals[] = {
    {"AuthorizationDismissed", "org.freedesktop.UDisks2.Error.NotAuthorizedDismissed",
     ": authorization to write the card was refused (Not authorized to perform operation)"},
    {"AuthorizationRefused", "org.freedesktop.UDisks2.Error.NotAuthorized",
     ": authorization to write the card was refused"},
    {"NoUdisksOnTheBus", nullptr,
     ": permission denied; writing a disk needs root, or membership of the disk group (which is "
     "as powerful as root); or "},
    {"HandsOverSomethingElse", "", ": udisks2 handed over something other than a block device",
     true},
};

class UdisksRefusal : public UdisksCli, public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(UdisksRefusal, FailsTheCardAndLeavesItUntouched) {
  const RefusalCase& c = GetParam();
  const std::string card = Card("card-backing.img");
  ASSERT_FALSE(card.empty());
  if (c.refuse)
    StartStandIn(card, c.handsOverTheFile ? dir.File("card-backing.img") : card, c.refuse);
  CliRun run = BurnAsNobody(card);
  EXPECT_EQ(run.status, 1) << run.err << run.out;
  EXPECT_NE(run.err.find(card + c.errorPart), std::string::npos) << run.err;
  EXPECT_EQ(ReadFileBytes(dir.File("card-backing.img")), Bytes(kCardBytes, kPattern));
}

INSTANTIATE_TEST_SUITE_P(Cards, UdisksRefusal, ::testing::ValuesIn(kRefusals),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tarnwick::testing
