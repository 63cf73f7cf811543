// What udisks2's answers mean for a card: a descriptor, udisks2 not being
// there (the caller's own rights failure stands), or the card's failure
// naming the device; and whether the service is there at all.
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>

#include "fake_udisks_bus.h"
#include "test_support.h"

namespace tarnwick::testing {
namespace {

struct AnswerCase {
  const char* name;
  const char* errorName;  // OpenDevice's error; nullptr: it hands over the descriptor
  bool unavailable;
  int err;                // the failure's errno
  const char* errorPart;  // found in the failure's text
};

const AnswerCase kAnswers[] = {
    {"Opened", nullptr, false, 0, ""},
    {"NoSystemBus", "", true, 0, ""},
    {"ConnectionFailedLocally", "System.Error.ENOTCONN", true, 0, ""},
    {"NobodyOwnsTheName", "org.freedesktop.DBus.Error.ServiceUnknown", true, 0, ""},
    {"ActivationFailed", "org.freedesktop.DBus.Error.Spawn.ChildExited", true, 0, ""},
    {"UnitMasked", "org.freedesktop.systemd1.UnitMasked", true, 0, ""},
    {"NotAuthorized", "org.freedesktop.UDisks2.Error.NotAuthorized", false, EACCES,
     "/dev/sdb: authorization to write the card was refused (no)"},
    {"PromptDismissed", "org.freedesktop.UDisks2.Error.NotAuthorizedDismissed", false, EACCES,
     "/dev/sdb: authorization to write the card was refused (no)"},
    {"CouldHaveAskedButMayNot", "org.freedesktop.UDisks2.Error.NotAuthorizedCanObtain", false,
     EACCES, "/dev/sdb: authorization to write the card was refused"},
    {"BusPolicyDenies", "org.freedesktop.DBus.Error.AccessDenied", false, EACCES,
     "authorization to write the card was refused"},
    {"DeviceBusy", "org.freedesktop.UDisks2.Error.DeviceBusy", false, EBUSY,
     "/dev/sdb is in use: udisks2: no"},
    {"PromptNeverAnswered", "org.freedesktop.DBus.Error.NoReply", false, ETIMEDOUT,
     "/dev/sdb: udisks2 did not answer in time (no)"},
    {"OtherFailure", "org.freedesktop.UDisks2.Error.Failed", false, EIO,
     "/dev/sdb: udisks2 could not open it: org.freedesktop.UDisks2.Error.Failed: no"},
    {"NoSuchObject", "org.freedesktop.DBus.Error.UnknownObject", false, EIO,
     "udisks2 could not open it: org.freedesktop.DBus.Error.UnknownObject"},
};

class AnswerTest : public ::testing::TestWithParam<AnswerCase> {};

TEST_P(AnswerTest, MapsOpenDeviceAnswers) {
  const AnswerCase& c = GetParam();
  FakeUdisksBus bus;
  if (c.errorName) bus.openError = BusError{c.errorName, "no"};
  const UdisksOpen open = OpenThroughUdisks(bus, "/dev/sdb");
  EXPECT_EQ(open.unavailable, c.unavailable);
  const bool opened = !c.errorName;
  EXPECT_EQ(open.fd, opened ? 42 : -1);
  if (opened || c.unavailable) {
    EXPECT_TRUE(open.failure.IsOk()) << open.failure.Text();
  } else {
    EXPECT_EQ(open.failure.Code().value(), c.err);
    EXPECT_NE(open.failure.Text().find(c.errorPart), std::string::npos) << open.failure.Text();
  }
  EXPECT_EQ(bus.own,
            (std::vector<std::string>{"ResolveDevice /dev/sdb",
                                      "OpenDevice /org/freedesktop/UDisks2/block_devices/sdb"}));
}

INSTANTIATE_TEST_SUITE_P(Answers, AnswerTest, ::testing::ValuesIn(kAnswers),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(UdisksObject, ResolvedByTheManagerOrFormedFromTheNodeName) {
  struct Case {
    std::optional<BusError> resolveError;
    std::vector<std::string> objects;
    const char* path;
    const char* call;  // the second call, empty when there is none
    const char* errorPart;
  };
  const Case cases[] = {
      {std::nullopt, {"/org/x/first", "/org/x/second"}, "/dev/sdb", "OpenDevice /org/x/first", ""},
      // Before ResolveDevice existed the object is named after the node,
      // characters other than letters and digits escaped.
      {BusError{"org.freedesktop.DBus.Error.UnknownMethod", ""},
       {},
       "/dev/mmcblk0",
       "OpenDevice /org/freedesktop/UDisks2/block_devices/mmcblk0",
       ""},
      {BusError{"org.freedesktop.DBus.Error.UnknownMethod", ""},
       {},
       "/nonexistent/dm-0",
       "OpenDevice /org/freedesktop/UDisks2/block_devices/dm_2d0",
       ""},
      {std::nullopt, {}, "/dev/sdq", "", "/dev/sdq: udisks2 could not open it: "},
      {BusError{"org.freedesktop.UDisks2.Error.NotAuthorized", "denied"},
       {},
       "/dev/sdb",
       "",
       "/dev/sdb: authorization to write the card was refused (denied)"},
  };
  for (const Case& c : cases) {
    FakeUdisksBus bus;
    bus.resolveError = c.resolveError;
    bus.objects = c.objects;
    const UdisksOpen open = OpenThroughUdisks(bus, c.path);
    std::vector<std::string> expected{std::string("ResolveDevice ") + c.path};
    if (*c.call) expected.push_back(c.call);
    EXPECT_EQ(bus.own, expected) << c.path;
    EXPECT_EQ(open.fd >= 0, *c.call != '\0') << c.path;
    EXPECT_NE(open.failure.Text().find(c.errorPart), std::string::npos) << open.failure.Text();
  }
}

TEST(UdisksRescan, ReportsWhatKeptTheRereadFromHappening) {
  FakeUdisksBus bus;
  EXPECT_TRUE(RescanThroughUdisks(bus, "/dev/sdb").IsOk());
  EXPECT_EQ(bus.own.back(), "Rescan /org/freedesktop/UDisks2/block_devices/sdb");

  bus.rescanError = BusError{"org.freedesktop.UDisks2.Error.NotAuthorizedCanObtain", "no"};
  SysStatus refused = RescanThroughUdisks(bus, "/dev/sdb");
  EXPECT_EQ(refused.Code().value(), EACCES);
  EXPECT_EQ(refused.Text(),
            "/dev/sdb: udisks2 could not re-read the partition table: "
            "org.freedesktop.UDisks2.Error.NotAuthorizedCanObtain: no");

  bus.resolveError = BusError{"", "cannot connect to the system bus: No such file or directory"};
  EXPECT_EQ(RescanThroughUdisks(bus, "/dev/sdb").Text(),
            "/dev/sdb: udisks2 could not re-read the partition table: no system bus: cannot "
            "connect to the system bus: No such file or directory");
}

TEST(UdisksProbe, SaysWhetherToStartOrInstallIt) {
  TempDir root;
  FakeUdisksBus bus;
  EXPECT_EQ(ProbeUdisks(bus, root.path().string()), UdisksState::Reachable);
  bus.reachable = false;
  EXPECT_EQ(ProbeUdisks(bus, root.path().string()), UdisksState::NotInstalled);
  std::filesystem::create_directories(root.path() / "usr/libexec/udisks2");
  WriteFile((root.path() / "usr/libexec/udisks2/udisksd").string(), "");
  EXPECT_EQ(ProbeUdisks(bus, root.path().string()), UdisksState::NotRunning);

  EXPECT_EQ(UdisksAdvice(UdisksState::Reachable), "");
  EXPECT_NE(UdisksAdvice(UdisksState::NotRunning).find("sudo systemctl start udisks2"),
            std::string::npos);
  EXPECT_NE(UdisksAdvice(UdisksState::NotInstalled).find("sudo apt install udisks2"),
            std::string::npos);
}

}  // namespace
}  // namespace tarnwick::testing
