#include "usbdev/io_ctrl_helper.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <string>
#include <system_error>

#include "common/debug_log.h"
#include "fake_clock.h"
#include "platform/sim/sim_board.h"

namespace tarnwick {
namespace {

using testing::FakeClock;

std::array<uint8_t, kInquiryDataLength> InquiryData(const char* vendor, size_t vendorLen,
                                                    const char* product, size_t productLen) {
  std::array<uint8_t, kInquiryDataLength> data{};
  std::memcpy(&data[inquiry::kVendorId], vendor, vendorLen);
  std::memcpy(&data[inquiry::kProductId], product, productLen);
  return data;
}

TEST(BoardIdentity, MatchingRule) {
  struct Case {
    const char* name;
    const char* vendor;
    size_t vendorLen;
    const char* product;
    size_t productLen;
    bool matches;
  };
  const Case cases[] = {
      {"padded with a blank", "HALDREN ", 8, "RUZUD OVUD      ", 16, true},
      {"other characters before", "HALDREN ", 8, "XYRUZUD OVUD    ", 16, true},
      {"vendor in lower case", "haldren ", 8, "RUZUD OVUD      ", 16, false},
      {"product without the blank", "HALDREN ", 8, "RUZUDOVUD       ", 16, false},
      {"vendor cut by a zero byte", "HALD\0REN", 8, "RUZUD OVUD      ", 16, false},
      {"product after a zero byte", "HALDREN ", 8, "\0RUZUD OVUD     ", 16, false},
      {"vendor shifted past its field", " HALDRE", 7, "NRUZUD OVUD     ", 16, false},
      {"product filling its field", "XHALDREN", 8, "ABCDEFRUZUD OVUD", 16, true},
      {"product cut at the field's end", "HALDREN ", 8, "ABCDEFGRUZUD OVU", 16, false},
      {"empty fields", "", 0, "", 0, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IsBoardIdentity(InquiryData(c.vendor, c.vendorLen, c.product, c.productLen)),
              c.matches)
        << c.name;
  }
}

TEST(BoardIdentity, ProductFieldIsNotReadPastByte31) {
  // "RUZUD OVUD" split across the product field and the revision field.
  auto data = InquiryData("HALDREN ", 8, "ABCDEFGHIJRUZUD ", 16);
  std::memcpy(&data[inquiry::kProductRevision], "OVUD", 4);
  EXPECT_FALSE(IsBoardIdentity(data));
}

TEST(InquiryRequest, IsByteExact) {
  uint8_t buffer[kInquiryDataLength];
  ScsiRequest r = MakeInquiryRequest(buffer);
  const std::array<uint8_t, kMaxCdbLength> cdb = {0x12, 0x00, 0x00, 0x00, 0xC0, 0x00};
  EXPECT_EQ(r.cdb, cdb);
  EXPECT_EQ(r.cdbLength, 6);
  EXPECT_EQ(r.direction, ScsiDirection::FromDevice);
  EXPECT_EQ(r.data, buffer);
  EXPECT_EQ(r.dataLength, 192u);
  EXPECT_EQ(r.senseLength, 24);
  EXPECT_EQ(r.timeoutSeconds, 2u);
}

class IoCtrlHelperTest : public ::testing::Test {
 protected:
  LogCapture quiet;
  FakeClock clock;
  SimBoardBus bus{clock};
};

TEST_F(IoCtrlHelperTest, InternalDisksOnlyAreOpenedAndClosedAgain) {
  bus.AddDevice(SimInternalDisk());
  bus.AddDevice(SimInternalDisk());
  CIOCtrlHelper helper(bus);
  EXPECT_FALSE(helper.EnumerateDevices());
  EXPECT_TRUE(helper.Devices().empty());
  EXPECT_EQ(bus.OpenHandleCount(), 0u);
  EXPECT_EQ(bus.Commands().size(), 2u);  // one INQUIRY each, nothing else
  for (const SimCommand& c : bus.Commands()) EXPECT_EQ(c.cdb[0], 0x12);
}

TEST_F(IoCtrlHelperTest, BoardsAreKeptOpenInInterfaceOrder) {
  bus.AddDevice(SimInternalDisk());
  bus.AddDevice({});
  bus.AddDevice(SimInternalDisk());
  bus.AddDevice({});
  CIOCtrlHelper helper(bus);
  ASSERT_TRUE(helper.EnumerateDevices());
  ASSERT_EQ(helper.Devices().size(), 2u);
  EXPECT_EQ(bus.OpenHandleCount(), 2u);
  EXPECT_EQ(bus.DeviceOf(helper.Devices()[0]), 1u);
  EXPECT_EQ(bus.DeviceOf(helper.Devices()[1]), 3u);
  EXPECT_EQ(helper.BoardTable()[0], helper.Devices()[0]);
  EXPECT_EQ(helper.BoardTable()[1], helper.Devices()[1]);
  EXPECT_EQ(helper.BoardTable()[2], 0u);
  helper.SelectDevice(1);
  EXPECT_EQ(helper.CurrentDevice(), helper.Devices()[1]);
}

TEST_F(IoCtrlHelperTest, HandlesAreClosedAtTheNextSearchAndAtExit) {
  size_t board = bus.AddDevice({});
  {
    CIOCtrlHelper helper(bus);
    ASSERT_TRUE(helper.EnumerateDevices());
    const ScsiHandle first = helper.Devices()[0];
    ASSERT_TRUE(helper.EnumerateDevices());
    EXPECT_FALSE(bus.IsOpen(first));
    EXPECT_EQ(bus.OpenHandleCount(), 1u);

    // Unplugged: the old handle is closed, the search fails and the table keeps its stale entry.
    const ScsiHandle second = helper.Devices()[0];
    bus.Unplug(board);
    EXPECT_FALSE(helper.EnumerateDevices());
    EXPECT_FALSE(bus.IsOpen(second));
    EXPECT_TRUE(helper.Devices().empty());
    EXPECT_EQ(helper.BoardTable()[0], second);

    bus.AddDevice({});
    ASSERT_TRUE(helper.EnumerateDevices());
    EXPECT_EQ(bus.OpenHandleCount(), 1u);
  }
  EXPECT_EQ(bus.OpenHandleCount(), 0u);
}

TEST_F(IoCtrlHelperTest, NinthBoardIsClosedAndLogged) {
  for (int i = 0; i < 10; ++i) bus.AddDevice({});
  CIOCtrlHelper helper(bus);
  LogCapture log;
  ASSERT_TRUE(helper.EnumerateDevices());
  EXPECT_EQ(helper.Devices().size(), kBoardTableSize);
  EXPECT_EQ(bus.OpenHandleCount(), kBoardTableSize);
  for (size_t i = 0; i < kBoardTableSize; ++i)
    EXPECT_EQ(helper.BoardTable()[i], helper.Devices()[i]);
  EXPECT_NE(
      log.Text().find("More than 8 boards: the board at interface 8 is closed and not used.\n"),
      std::string::npos);
  EXPECT_NE(
      log.Text().find("More than 8 boards: the board at interface 9 is closed and not used.\n"),
      std::string::npos);
}

TEST_F(IoCtrlHelperTest, RefusedInterfaceSetKeepsThePreviousBoards) {
  bus.AddDevice({});
  CIOCtrlHelper helper(bus);
  ASSERT_TRUE(helper.EnumerateDevices());
  const ScsiHandle kept = helper.Devices()[0];
  bus.FailInterfaceSet(std::errc::permission_denied);
  LogCapture log;
  EXPECT_FALSE(helper.EnumerateDevices());
  EXPECT_EQ(log.Text(), "SetupDiGetClassDevs failed with error: " +
                            std::to_string(static_cast<int>(std::errc::permission_denied)) + "\n");
  ASSERT_EQ(helper.Devices().size(), 1u);
  EXPECT_EQ(helper.Devices()[0], kept);
  EXPECT_TRUE(bus.IsOpen(kept));
}

// A time-out's line ends with the C library's description of ETIMEDOUT
// ("Connection timed out" on Linux).
// The C library's own text for the code (mingw's has none for ETIMEDOUT).
const std::string kTimeOutLine =
    "Error: " + std::to_string(static_cast<int>(std::errc::timed_out)) + " " +
    std::make_error_code(std::errc::timed_out).message() + "\n";

TEST(IoCtrlHelperWalk, FailuresOnTheSecondOfThreeBoards) {
  struct Case {
    const char* name;
    std::function<void(SimBoardBus&)> setup;
    std::vector<size_t> boardsKept;
    std::string logLine;  // printed at level 1, or empty
  };
  // The lines show the system's own codes (the simulated bus uses std::errc).
  const auto code = [](std::errc e) { return std::to_string(static_cast<int>(e)); };
  const Case cases[] = {
      {"enumeration error ends the walk",
       [](SimBoardBus& b) { b.FailLookup(1, InterfaceLookup::EnumFailed, std::errc::io_error); },
       {0},
       "SetupDiEnumDeviceInterfaces failed with error: " + code(std::errc::io_error) + "\n"},
      {"detail size error ends the walk",
       [](SimBoardBus& b) {
         b.FailLookup(1, InterfaceLookup::DetailSizeFailed, std::errc::invalid_argument);
       },
       {0},
       "SetupDiGetDeviceInterfaceDetail failed with error: " + code(std::errc::invalid_argument) +
           "\n"},
      {"detail error ends the walk",
       [](SimBoardBus& b) { b.FailLookup(1, InterfaceLookup::DetailFailed, std::errc::io_error); },
       {0},
       "Error in SetupDiGetDeviceInterfaceDetail failed with error: " + code(std::errc::io_error) +
           "\n"},
      {"a device that cannot be opened is skipped",
       [](SimBoardBus& b) { b.Device(1).openError = std::errc::permission_denied; },
       {0, 2},
       "CreateFile failed with error: " + code(std::errc::permission_denied) + "\n"},
      {"a failed INQUIRY never matches",
       [](SimBoardBus& b) { b.Device(1).inquiryFault = SimFault::Failure; },
       {0, 2},
       "Error: " + code(std::errc::io_error) + " Input/output error\n"},
      {"an INQUIRY that times out never matches",
       [](SimBoardBus& b) { b.Device(1).inquiryFault = SimFault::TimeOut; },
       {0, 2},
       kTimeOutLine.c_str()},
      {"failed property queries change only the report",
       [](SimBoardBus& b) { b.Device(1).propertiesFail = true; },
       {0, 1, 2},
       "IOCTL failed with error code" + code(std::errc::inappropriate_io_control_operation) +
           ".\n\n"},
  };
  for (const Case& c : cases) {
    FakeClock clock;
    SimBoardBus bus(clock);
    for (int i = 0; i < 3; ++i) bus.AddDevice({});
    c.setup(bus);
    CIOCtrlHelper helper(bus);
    LogCapture log;
    EXPECT_TRUE(helper.EnumerateDevices()) << c.name;
    std::vector<size_t> kept;
    for (ScsiHandle h : helper.Devices()) kept.push_back(*bus.DeviceOf(h));
    EXPECT_EQ(kept, c.boardsKept) << c.name;
    EXPECT_EQ(bus.OpenHandleCount(), c.boardsKept.size()) << c.name;
    if (!c.logLine.empty()) {
      EXPECT_NE(log.Text().find(c.logLine), std::string::npos) << c.name;
    }
  }
}

TEST(IoCtrlHelperWalk, InquiryTimeOutWaitsItsTwoSecondsOnTheClock) {
  FakeClock clock;
  SimBoardBus bus(clock);
  bus.AddDevice({});
  bus.Device(0).inquiryFault = SimFault::TimeOut;
  CIOCtrlHelper helper(bus);
  EXPECT_FALSE(helper.EnumerateDevices());
  EXPECT_EQ(clock.slept, std::chrono::seconds(2));
}

TEST(DeviceReport, LinesForOneBoardAtLevelOne) {
  FakeClock clock;
  SimBoardBus bus(clock);
  SimDeviceConfig board;
  board.serial = "SN42";
  bus.AddDevice(board);
  CIOCtrlHelper helper(bus);
  LogCapture log;
  ASSERT_TRUE(helper.EnumerateDevices());
  const std::string expected =
      "\nAdapter Properties\n"
      "------------------\n"
      "Bus Type       : USB\n"
      "Max. Tr. Length: 0x10000\n"
      "Max. Phy. Pages: 0x11\n"
      "Alignment Mask : 0x0\n"
      "\nDevice Properties\n"
      "-----------------\n"
      "SCSI Device Type: Direct Access Device (0x0)\n"
      "Media Type      : Unknown (0x7)\n"
      "Removable Media : Yes\n"
      "Vendor ID       : HALDREN\n"
      "Product ID      : RUZUD OVUD\n"
      "Product Revision: 1.00\n"
      "Serial Number   : SN42\n"
      "\nInquiry Data from Pass Through\n"
      "------------------------------\n"
      "Device Type: Direct Access Device (0x0)\n"
      "Vendor ID  : HALDREN \n"
      "Product ID : RUZUD OVUD      \n"
      "Product Rev: 1.00\n"
      "Vendor Str : " +
      std::string(20, '\0') + "\n\n";
  // Interface paths (level 2) and the hex dump (level 3) are not printed.
  EXPECT_EQ(log.Text(), expected);
}

// Error categories whose texts the report must cope with: none, and one too long.
const std::error_category& TextlessCategory() {
  static const struct : std::error_category {
    const char* name() const noexcept override { return "textless"; }
    std::string message(int) const override { return {}; }
  } category;
  return category;
}

const std::error_category& LongTextCategory() {
  static const struct : std::error_category {
    const char* name() const noexcept override { return "long"; }
    std::string message(int) const override {
      return "The system's text of this error is far longer than the seventy-nine characters "
             "the report keeps.";
    }
  } category;
  return category;
}

TEST(DeviceReport, SenseAndErrorLines) {
  FakeClock clock;
  SimBoardBus bus(clock);
  CIOCtrlHelper helper(bus);
  struct Case {
    const char* name;
    bool succeeded;
    uint8_t status;
    uint8_t senseLength;
    std::error_code error;
    std::string expected;
  };
  // The system's own text of code 13 (EACCES on Linux, ERROR_INVALID_DATA on Windows).
  const std::string refused = "Error: 13 " + std::system_category().message(13) + "\n";
  const std::string head = "\nInquiry Data from Pass Through\n------------------------------\n";
  const Case cases[] = {
      {"check condition with sense", true, 0x02, 14, {}, "Scsi status: 02h\n\n\n\n"},
      {"busy without sense", true, 0x08, 0, {}, "Scsi status: 08h\n\n"},
      {"a sense count past the sense area", true, 0x02, 255, {}, "Scsi status: 02h\n\n\n\n"},
      {"request refused", false, 0, 0, {13, std::system_category()}, refused},
      {"error without a text",
       false,
       0,
       0,
       {4242, TextlessCategory()},
       "Error: 4242 Format message failed.  Error: 317\n"},
      {"a long text is cut to 79 characters",
       false,
       0,
       0,
       {7, LongTextCategory()},
       "Error: 7 The system's text of this error is far longer than the seventy-nine characters "
       "\n"},
  };
  for (const Case& c : cases) {
    InquiryRecord record;
    record.result.scsiStatus = c.status;
    record.result.senseLength = c.senseLength;
    if (c.error) record.result.error = SysStatus::FromCode(c.error);
    LogCapture log;
    helper.DumpInquiry(c.succeeded, 0, record);
    EXPECT_EQ(log.Text(), head + c.expected) << c.name;
  }
}

TEST(DeviceReport, OutOfRangeCodesAndErrorTexts) {
  EXPECT_STREQ(BusTypeName(9), "UNKNOWN");
  EXPECT_STREQ(DeviceTypeName(31), "Unknown Device");
}

TEST(DeviceReport, HexDumpIsLevelThree) {
  const uint8_t bytes[20] = {1, 2, 3};
  LogCapture log;
  CIOCtrlHelper::DumpBytes(bytes, sizeof bytes);
  EXPECT_EQ(log.Text(), "");
}

}  // namespace
}  // namespace tarnwick
