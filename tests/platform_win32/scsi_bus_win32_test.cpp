#include "platform/win32/scsi_bus_win32.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <map>

#include "common/le.h"
#include "platform/fs/win32_text.h"
#include "platform/win32/device_instance_win32.h"
#include "platform/win32/scsi_records_win32.h"
#include "platform/win32/win32_disks.h"
#include "platform_win32/fake_win32_disk_calls.h"
#include "usbdev/dfu_downloader.h"
#include "usbdev/inquiry.h"

namespace tarnwick {
namespace {

using namespace win32;

Win32Handle FakeHandle(uintptr_t n) {
  return reinterpret_cast<Win32Handle>(n);
}

const Win32Handle kSet = FakeHandle(0x5E7);
// ERROR_NO_SUCH_DEVICE_INTERFACE, as SetupAPI answers a path it does not know.
constexpr uint32_t kErrorNoSuchDeviceInterface = 0xE000020Bu;

struct FakeInterface {
  std::string path;
  uint32_t enumError = 0;
  uint32_t sizeError = 0;  // 0: the expected ERROR_INSUFFICIENT_BUFFER
  uint32_t detailError = 0;
};

// One DeviceIoControl as the bus made it.
struct IoCall {
  Win32Handle handle;
  uint32_t code;
  std::vector<uint8_t> in;
  uint32_t outSize;
  bool sameBuffer;  // input and output are one buffer
};

// Answers an IoControl: writes into `out`, sets `returned`; 0 or the error.
using IoAnswer = std::function<uint32_t(uint8_t* out, uint32_t outSize, uint32_t& returned)>;

// Records what the bus asks of Windows and answers as told.
class FakeScsiCalls : public IWin32ScsiCalls {
 public:
  uint32_t LastError() override { return lastError; }

  Win32Handle GetDiskInterfaces() override {
    if (setError) return Fail(setError), nullptr;
    return kSet;
  }

  bool EnumInterface(Win32Handle set, uint32_t index, uint8_t* data) override {
    EXPECT_EQ(set, kSet);
    EXPECT_EQ(GetU32(data, 0), 32u) << "cbSize of SP_DEVICE_INTERFACE_DATA";
    enumerated.push_back(index);
    if (index >= interfaces.size()) return Fail(kErrorNoMoreItems);
    if (interfaces[index].enumError) return Fail(interfaces[index].enumError);
    PutU32(data, 4, index);  // which interface, as the system keeps it in the record
    return true;
  }

  bool GetInterfaceDetail(Win32Handle set, uint8_t* data, uint8_t* detail, uint32_t detailSize,
                          uint32_t& requiredSize) override {
    EXPECT_EQ(set, kSet);
    const FakeInterface& found = interfaces.at(GetU32(data, 4));
    const uint32_t needed = static_cast<uint32_t>(4 + found.path.size() + 1);
    if (!detail) {
      EXPECT_EQ(detailSize, 0u);
      requiredSize = needed;
      return Fail(found.sizeError ? found.sizeError : kErrorInsufficientBuffer);
    }
    EXPECT_EQ(GetU32(detail, 0), 8u) << "cbSize of SP_DEVICE_INTERFACE_DETAIL_DATA_A";
    EXPECT_EQ(detailSize, needed);
    if (found.detailError) return Fail(found.detailError);
    std::memcpy(detail + 4, found.path.c_str(), found.path.size() + 1);
    return true;
  }

  bool DestroyInterfaces(Win32Handle set) override {
    EXPECT_EQ(set, kSet);
    ++destroyed;
    return true;
  }

  Win32Handle OpenDevice(const std::string& path, uint32_t access, uint32_t share) override {
    opened.push_back(path);
    lastAccess = access;
    lastShare = share;
    if (openError) return Fail(openError), nullptr;
    return FakeHandle(nextHandle++);
  }

  bool CloseDevice(Win32Handle handle) override {
    closed.push_back(handle);
    return true;
  }

  bool IoControl(Win32Handle handle, uint32_t code, const void* in, uint32_t inSize, void* out,
                 uint32_t outSize, uint32_t& returned) override {
    const auto* bytes = static_cast<const uint8_t*>(in);
    calls.push_back(
        {handle, code, std::vector<uint8_t>(bytes, bytes + inSize), outSize, in == out});
    returned = 0;
    auto answer = answers.find(code);
    if (answer == answers.end()) return Fail(1);  // ERROR_INVALID_FUNCTION
    const uint32_t error = answer->second(static_cast<uint8_t*>(out), outSize, returned);
    return error ? Fail(error) : true;
  }

  bool GetInterfaceInstance(const std::string& path, std::string& instance) override {
    instanceAsked.push_back(path);
    auto found = instances.find(path);
    if (found == instances.end()) return Fail(kErrorNoSuchDeviceInterface);
    instance = found->second;
    return true;
  }

  std::vector<IoCall> CallsOf(uint32_t code) const {
    std::vector<IoCall> found;
    for (const IoCall& call : calls) {
      if (call.code == code) found.push_back(call);
    }
    return found;
  }

  std::vector<FakeInterface> interfaces;
  uint32_t setError = 0;
  uint32_t openError = 0;
  std::map<uint32_t, IoAnswer> answers;
  std::map<std::string, std::string> instances;  // interface path -> device instance ID

  uint32_t lastError = 0;
  std::vector<uint32_t> enumerated;
  int destroyed = 0;
  std::vector<std::string> opened;
  uint32_t lastAccess = 0, lastShare = 0;
  uintptr_t nextHandle = 0x100;
  std::vector<Win32Handle> closed;
  std::vector<IoCall> calls;
  std::vector<std::string> instanceAsked;

 private:
  bool Fail(uint32_t error) {
    lastError = error;
    return false;
  }
};

// An adapter descriptor with the given alignment mask, bus type USB.
IoAnswer AdapterAnswer(uint32_t alignmentMask) {
  return [alignmentMask](uint8_t* out, uint32_t, uint32_t& returned) -> uint32_t {
    PutU32(out, 0, 32);  // Version
    PutU32(out, 4, 32);  // Size
    PutU32(out, 8, 0x20000);
    PutU32(out, 12, 0x21);
    PutU32(out, 16, alignmentMask);
    out[24] = 7;  // USB
    returned = 32;
    return 0;
  };
}

class Win32ScsiBusTest : public ::testing::Test {
 protected:
  ScsiHandle OpenDevice(Win32ScsiBus& bus) {
    SysResult<ScsiHandle> handle = bus.Open("\\\\?\\usbstor#disk#1#{53f56307}");
    EXPECT_TRUE(handle.IsOk());
    return handle.Value();
  }

  FakeScsiCalls calls;
};

TEST_F(Win32ScsiBusTest, WalkListsTheInterfacesThenEndsAndReleasesTheSet) {
  calls.interfaces = {{"\\\\?\\scsi#disk&ven_ata#1"}, {"\\\\?\\usbstor#disk&ven_haldren#2"}};
  Win32ScsiBus bus(calls);
  {
    auto set = bus.GetInterfaceSet();
    ASSERT_TRUE(set.IsOk());
    std::vector<std::string> paths;
    InterfacePath found;
    for (uint32_t i = 0;
         (found = set.Value()->GetInterfacePath(i)).lookup == InterfaceLookup::Found; ++i) {
      paths.push_back(found.path);
    }
    EXPECT_EQ(paths,
              (std::vector<std::string>{calls.interfaces[0].path, calls.interfaces[1].path}));
    EXPECT_EQ(found.lookup, InterfaceLookup::NoMoreItems);
    EXPECT_TRUE(found.error.IsOk());
    EXPECT_EQ(calls.destroyed, 0);
  }
  EXPECT_EQ(calls.destroyed, 1);
  EXPECT_TRUE(calls.opened.empty());  // listing opens nothing

  calls.setError = 5;
  SysStatus refused = bus.GetInterfaceSet().Status();
  EXPECT_EQ(refused.Code(), std::error_code(5, std::system_category()));
  EXPECT_EQ(refused.Text(), ErrorStatus(5).Text());
}

TEST_F(Win32ScsiBusTest, EachLookupStepFailsWithItsKindAndCode) {
  struct Case {
    FakeInterface fake;
    InterfaceLookup lookup;
    uint32_t code;
  };
  const Case cases[] = {
      {{"p", 1784, 0, 0}, InterfaceLookup::EnumFailed, 1784},
      {{"p", 0, 87, 0}, InterfaceLookup::DetailSizeFailed, 87},
      {{"p", 0, 0, 1784}, InterfaceLookup::DetailFailed, 1784},
  };
  for (const Case& c : cases) {
    FakeScsiCalls fake;
    fake.interfaces = {c.fake};
    Win32ScsiBus bus(fake);
    auto set = bus.GetInterfaceSet();
    ASSERT_TRUE(set.IsOk());
    const InterfacePath found = set.Value()->GetInterfacePath(0);
    EXPECT_EQ(found.lookup, c.lookup) << c.code;
    EXPECT_EQ(found.error.Code().value(), static_cast<int>(c.code));
    EXPECT_EQ(found.error.Text(), ErrorStatus(c.code).Text());
    EXPECT_TRUE(found.path.empty());
  }
}

TEST_F(Win32ScsiBusTest, OpenAsksForReadWriteSharedAndCloseAndTheBusRelease) {
  auto bus = std::make_unique<Win32ScsiBus>(calls);
  const ScsiHandle first = OpenDevice(*bus);
  EXPECT_NE(first, 0u);
  EXPECT_NE(first, OpenDevice(*bus));
  EXPECT_EQ(calls.lastAccess, 0xC0000000u);  // GENERIC_READ | GENERIC_WRITE
  EXPECT_EQ(calls.lastShare, 3u);            // FILE_SHARE_READ | FILE_SHARE_WRITE

  EXPECT_TRUE(bus->Close(first).IsOk());
  EXPECT_EQ(bus->Close(first).Code().value(), 6);  // ERROR_INVALID_HANDLE: not open any more
  calls.openError = 5;
  SysResult<ScsiHandle> refused = bus->Open("\\\\?\\x");
  EXPECT_EQ(refused.Status().Code().value(), 5);
  EXPECT_EQ(refused.Status().Text(), ErrorStatus(5).Text());
  bus.reset();  // closes what is still open
  EXPECT_EQ(calls.closed, (std::vector<Win32Handle>{FakeHandle(0x100), FakeHandle(0x101)}));
}

TEST_F(Win32ScsiBusTest, DiskInstanceIsThatOfTheInterfaceEachHandleWasOpenedOn) {
  const std::string board = "\\\\?\\usbstor#disk&ven_haldren#7&2a1b&0#{53f56307}";
  const std::string reader = "\\\\?\\usbstor#disk&ven_generic#8&11&0#{53f56307}";
  const std::string blank = "\\\\?\\usbstor#disk&ven_blank#9&1&0#{53f56307}";
  const std::string unknown = "\\\\?\\usbstor#disk&ven_gone#1&0#{53f56307}";
  calls.instances[board] = "USBSTOR\\DISK&VEN_HALDREN\\7&2a1b&0";
  calls.instances[reader] = "USBSTOR\\DISK&VEN_GENERIC\\8&11&0";
  calls.instances[blank] = "";
  Win32ScsiBus bus(calls);
  struct Case {
    std::string path;
    std::string instance;  // empty: a failure with `code`
    std::error_code code;
  };
  const Case cases[] = {
      {board, "USBSTOR\\DISK&VEN_HALDREN\\7&2A1B&0", {}},
      {reader, "USBSTOR\\DISK&VEN_GENERIC\\8&11&0", {}},
      {blank, "", std::make_error_code(std::errc::not_supported)},
      {unknown, "",
       std::error_code(static_cast<int>(kErrorNoSuchDeviceInterface), std::system_category())},
  };
  std::vector<ScsiHandle> handles;
  for (const Case& c : cases) handles.push_back(bus.Open(c.path).Value());
  for (int pass = 0; pass < 2; ++pass) {
    for (size_t i = 0; i < std::size(cases); ++i) {
      SCOPED_TRACE(cases[i].path);
      SysResult<std::string> instance = bus.DiskInstanceOf(handles[i]);
      if (cases[i].instance.empty()) {
        ASSERT_FALSE(instance.IsOk());
        EXPECT_EQ(instance.Status().Code(), cases[i].code);
      } else {
        ASSERT_TRUE(instance.IsOk()) << instance.Status().Text();
        EXPECT_EQ(instance.Value(), cases[i].instance);
      }
    }
  }
  // An instance once told is kept with its handle; a failed lookup is tried again.
  EXPECT_EQ(calls.instanceAsked,
            (std::vector<std::string>{board, reader, blank, unknown, blank, unknown}));

  // A handle that is not open has none.
  ASSERT_TRUE(bus.Close(handles[0]).IsOk());
  EXPECT_EQ(bus.DiskInstanceOf(handles[0]).Status().Code().value(), 6);  // ERROR_INVALID_HANDLE
  EXPECT_EQ(bus.DiskInstanceOf(0).Status().Code().value(), 6);
}

TEST_F(Win32ScsiBusTest, AdapterPropertiesComeFromTheAdapterDescriptor) {
  calls.answers[kIoctlStorageQueryProperty] = AdapterAnswer(0x1FF);
  Win32ScsiBus bus(calls);
  const ScsiHandle handle = OpenDevice(bus);
  SysResult<ScsiAdapterProperties> adapter = bus.QueryAdapter(handle);
  ASSERT_TRUE(adapter.IsOk());
  EXPECT_EQ(adapter.Value().busType, 7u);
  EXPECT_EQ(adapter.Value().maxTransferLength, 0x20000u);
  EXPECT_EQ(adapter.Value().maxPhysicalPages, 0x21u);
  EXPECT_EQ(adapter.Value().alignmentMask, 0x1FFu);

  ASSERT_EQ(calls.calls.size(), 1u);
  const IoCall& query = calls.calls[0];
  EXPECT_EQ(query.code, 0x2D1400u);
  EXPECT_EQ(query.in, (std::vector<uint8_t>{1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(query.outSize, 512u);

  // The media type is the first word of the media-types answer.
  calls.answers[kIoctlStorageGetMediaTypesEx] = [](uint8_t* out, uint32_t, uint32_t& returned) {
    PutU32(out, 0, 0x33);
    returned = 8;
    return 0u;
  };
  EXPECT_EQ(bus.QueryMediaType(handle).Value(), 0x33u);
  EXPECT_TRUE(calls.calls.back().in.empty());
  EXPECT_EQ(calls.calls.back().outSize, 2048u);
  calls.answers.clear();
  EXPECT_EQ(bus.QueryMediaType(handle).Status().Code().value(), 1);  // ERROR_INVALID_FUNCTION
  EXPECT_EQ(bus.QueryDevice(999).Status().Code().value(), 6);        // not open
}

TEST_F(Win32ScsiBusTest, DevicePropertiesReadTheTextsAtTheirOffsetsWithinTheAnswer) {
  // The descriptor: fixed part, then the texts. `returned` limits what counts.
  auto descriptor = [](uint32_t returnedBytes, uint32_t serialOffset) {
    return [=](uint8_t* out, uint32_t, uint32_t& returned) -> uint32_t {
      out[8] = 0x00;  // direct access
      out[9] = 0x80;  // modifier
      out[10] = 1;    // removable
      PutU32(out, 12, 40);
      PutU32(out, 16, 49);
      PutU32(out, 20, 66);
      PutU32(out, 24, serialOffset);
      std::memcpy(out + 40, "HALDREN ", 9);
      std::memcpy(out + 49, "RUZUD OVUD      ", 17);
      std::memcpy(out + 66, "1.00", 5);
      std::memcpy(out + 71, "SN0042", 6);  // the answer may end inside it
      returned = returnedBytes;
      return 0;
    };
  };
  struct Case {
    uint32_t returned;
    uint32_t serialOffset;
    const char* serial;
  };
  const Case cases[] = {
      {77, 71, "SN0042"},  // whole answer
      {75, 71, "SN00"},    // the answer ends inside the text
      {77, 0, ""},         // no serial number
      {60, 71, ""},        // the offset lies past the answer
  };
  for (const Case& c : cases) {
    FakeScsiCalls fake;
    fake.answers[kIoctlStorageQueryProperty] = descriptor(c.returned, c.serialOffset);
    Win32ScsiBus bus(fake);
    SysResult<ScsiDeviceProperties> device = bus.QueryDevice(OpenDevice(bus));
    ASSERT_TRUE(device.IsOk());
    const ScsiDeviceProperties& p = device.Value();
    EXPECT_EQ(p.deviceType, 0);
    EXPECT_EQ(p.deviceTypeModifier, 0x80);
    EXPECT_TRUE(p.removableMedia);
    EXPECT_EQ(p.vendorId, "HALDREN ");
    EXPECT_EQ(p.productId, c.returned > 66 ? "RUZUD OVUD      " : "RUZUD OVUD ");
    EXPECT_EQ(p.serialNumber, c.serial) << c.returned << " " << c.serialOffset;
    ASSERT_EQ(fake.calls.size(), 1u);
    EXPECT_EQ(GetU32(fake.calls[0].in.data(), 0), 0u);  // StorageDeviceProperty
  }
}

// The first bytes of a pass-through record, up to and including the CDB.
std::vector<uint8_t> RecordBytes(const std::vector<uint8_t>& in) {
  return std::vector<uint8_t>(in.begin(), in.begin() + 52);
}

TEST_F(Win32ScsiBusTest, InquiryGoesBufferedWithItsRecordSenseAndDataAreas) {
  calls.answers[kIoctlScsiPassThrough] = [](uint8_t* out, uint32_t outSize,
                                            uint32_t& returned) -> uint32_t {
    std::memcpy(out + 92 + 8, "HALDREN RUZUD OVUD      ", 24);
    PutU32(out, 12, 36);  // bytes transferred
    returned = outSize;
    return 0;
  };
  Win32ScsiBus bus(calls);
  InquiryRecord record;
  record.result = bus.PassThrough(OpenDevice(bus), MakeInquiryRequest(record.data.data()));

  ASSERT_EQ(calls.calls.size(), 1u);
  const IoCall& call = calls.calls[0];
  EXPECT_EQ(call.code, 0x4D004u);
  EXPECT_TRUE(call.sameBuffer);
  EXPECT_EQ(call.in.size(), 56u);      // the record goes in
  EXPECT_EQ(call.outSize, 92u + 192);  // record, 4 spare bytes, sense, data come back
  const std::vector<uint8_t> expected = {
      56,   0,                        // Length
      0,                              // ScsiStatus
      0,    1,  0,                    // PathId, TargetId, Lun
      6,    24, 1,                    // CdbLength, SenseInfoLength, DataIn (from the device)
      0,    0,  0,                    // padding
      192,  0,  0, 0,                 // DataTransferLength
      2,    0,  0, 0,                 // TimeOutValue, seconds
      0,    0,  0, 0,                 // padding
      92,   0,  0, 0, 0,    0, 0, 0,  // DataBufferOffset
      60,   0,  0, 0,                 // SenseInfoOffset
      0x12, 0,  0, 0, 0xC0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};  // Cdb
  EXPECT_EQ(RecordBytes(call.in), expected);

  EXPECT_EQ(record.result.outcome, ScsiOutcome::Completed);
  EXPECT_EQ(record.result.dataTransferred, 36u);
  EXPECT_TRUE(IsBoardIdentity(record.data));
}

TEST_F(Win32ScsiBusTest, VendorBlockGoesDirectFromTheCallersBuffer) {
  calls.answers[kIoctlStorageQueryProperty] = AdapterAnswer(3);
  std::vector<uint8_t> seen;
  calls.answers[kIoctlScsiPassThroughDirect] = [&](uint8_t* out, uint32_t,
                                                   uint32_t& returned) -> uint32_t {
    const auto* data = reinterpret_cast<const uint8_t*>(GetU64(out, 24));
    seen.assign(data, data + GetU32(out, 12));
    returned = 92;
    return 0;
  };
  Win32ScsiBus bus(calls);
  const ScsiHandle handle = OpenDevice(bus);
  alignas(16) std::array<uint8_t, 1536> payload{};
  for (size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<uint8_t>(i * 7);

  struct Block {
    size_t offset;
    bool first, last;
    uint8_t timeout, lastFlag;
  };
  for (const Block& b : {Block{0, true, false, 60, 0}, Block{512, false, false, 10, 0},
                         Block{1024, false, true, 10, 1}}) {
    uint8_t* block = payload.data() + b.offset;
    ScsiResult result = bus.PassThrough(handle, MakeVendorRequest(block, 512, b.first, b.last));
    EXPECT_EQ(result.outcome, ScsiOutcome::Completed);
    const IoCall& call = calls.calls.back();
    EXPECT_EQ(call.code, 0x4D014u);
    EXPECT_EQ(call.in.size(), 92u);
    EXPECT_EQ(call.outSize, 92u);
    EXPECT_TRUE(call.sameBuffer);
    std::vector<uint8_t> expected = {
        56, 0, 0, 0, 1,         0, 16, 14, 0, 0, 0, 0,  // to the device
        0,  2, 0, 0, b.timeout, 0, 0,  0,  0, 0, 0, 0};
    const auto address = reinterpret_cast<uintptr_t>(block);  // in place, no copy
    for (int i = 0; i < 8; ++i) expected.push_back(static_cast<uint8_t>(address >> (8 * i)));
    for (uint8_t byte : {60, 0, 0, 0, 0xCF, 0x12}) expected.push_back(byte);
    expected.push_back(b.lastFlag);
    expected.resize(52, 0);
    EXPECT_EQ(RecordBytes(call.in), expected) << b.offset;
    EXPECT_EQ(seen, std::vector<uint8_t>(block, block + 512));
  }
  // The adapter is asked for its alignment once.
  EXPECT_EQ(calls.CallsOf(kIoctlStorageQueryProperty).size(), 1u);
}

TEST_F(Win32ScsiBusTest, MisalignedDataGoesThroughAnAlignedCopy) {
  struct Case {
    bool adapterAnswers;
    uint32_t mask;
    uintptr_t alignment;  // what the data must then meet
  };
  for (const Case& c : {Case{true, 0x1FF, 512}, Case{true, 0x7, 8}, Case{false, 0, 4096}}) {
    FakeScsiCalls fake;
    if (c.adapterAnswers) fake.answers[kIoctlStorageQueryProperty] = AdapterAnswer(c.mask);
    uintptr_t sentAt = 0;
    fake.answers[kIoctlScsiPassThroughDirect] = [&](uint8_t* out, uint32_t,
                                                    uint32_t& returned) -> uint32_t {
      sentAt = static_cast<uintptr_t>(GetU64(out, 24));
      auto* data = reinterpret_cast<uint8_t*>(sentAt);
      const uint32_t length = GetU32(out, 12);
      EXPECT_EQ(data[0], 0xA5);  // the copy holds the caller's bytes
      EXPECT_EQ(data[length - 1], 0x5A);
      returned = 92;
      return 0;
    };
    Win32ScsiBus bus(fake);
    const ScsiHandle handle = OpenDevice(bus);
    std::vector<uint8_t> storage(4096 * 4);
    const auto base = reinterpret_cast<uintptr_t>(storage.data());
    uint8_t* data = storage.data() + (4096 - base % 4096) + 1;  // misaligned for every case

    data[0] = 0xA5;
    data[511] = 0x5A;
    (void)bus.PassThrough(handle, MakeVendorRequest(data, 512, true, false));
    EXPECT_NE(sentAt, reinterpret_cast<uintptr_t>(data));
    EXPECT_EQ(sentAt % c.alignment, 0u) << c.mask;
  }
}

TEST_F(Win32ScsiBusTest, OutcomesReportStatusAndSenseOrTheSystemsCode) {
  struct Case {
    uint32_t error;  // of DeviceIoControl; 0 when it succeeds
    uint8_t scsiStatus;
    uint8_t senseWritten;  // as the system reports in SenseInfoLength
    ScsiOutcome outcome;
    uint8_t senseLength;  // what the result reports
  };
  const Case cases[] = {
      {0, 0, 0, ScsiOutcome::Completed, 0},
      {0, 2, 18, ScsiOutcome::Completed, 14},  // CHECK CONDITION; no more sense than asked
      {0, 2, 12, ScsiOutcome::Completed, 12},
      {121, 0, 0, ScsiOutcome::TimedOut, 0},  // ERROR_SEM_TIMEOUT
      {1167, 0, 0, ScsiOutcome::Failed, 0},   // ERROR_DEVICE_NOT_CONNECTED
      {5, 0, 0, ScsiOutcome::Failed, 0},
  };
  for (const Case& c : cases) {
    FakeScsiCalls fake;
    fake.answers[kIoctlStorageQueryProperty] = AdapterAnswer(0);
    fake.answers[kIoctlScsiPassThroughDirect] = [&](uint8_t* out, uint32_t,
                                                    uint32_t& returned) -> uint32_t {
      if (c.error) return c.error;
      out[2] = c.scsiStatus;
      out[7] = c.senseWritten;
      for (uint8_t i = 0; i < c.senseWritten; ++i) out[60 + i] = static_cast<uint8_t>(0x70 + i);
      returned = 92;
      return 0;
    };
    Win32ScsiBus bus(fake);
    std::array<uint8_t, 512> block{};
    const ScsiResult result =
        bus.PassThrough(OpenDevice(bus), MakeVendorRequest(block.data(), 512, false, false));
    EXPECT_EQ(result.outcome, c.outcome) << c.error;
    EXPECT_EQ(result.scsiStatus, c.scsiStatus);
    ASSERT_EQ(result.senseLength, c.senseLength);
    for (uint8_t i = 0; i < c.senseLength; ++i) EXPECT_EQ(result.sense[i], 0x70 + i);
    if (c.error) {
      EXPECT_EQ(result.error.Code(),
                std::error_code(static_cast<int>(c.error), std::system_category()));
      EXPECT_EQ(result.error.Text(), ErrorStatus(c.error).Text());
    } else {
      EXPECT_TRUE(result.error.IsOk());
    }
  }
}

// The board's disk as the bus saw it during the download, the physical drive
// discovery finds later and the interface an arrival notice names are the same
// identity, whatever case each source answers in.
TEST(Win32DiskInstanceTest, BusDiskServiceAndArrivalNoticeAgreeOnOneDisk) {
  const std::string path =
      "\\\\?\\USBSTOR#Disk&Ven_HALDREN&Prod_X#7&2a1b&0#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";
  FakeScsiCalls scsi;
  scsi.instances[path] = "USBSTOR\\Disk&Ven_HALDREN&Prod_X\\7&2a1b&0";
  Win32ScsiBus bus(scsi);
  SysResult<std::string> fromBus = bus.DiskInstanceOf(bus.Open(path).Value());
  ASSERT_TRUE(fromBus.IsOk()) << fromBus.Status().Text();

  testing::FakeWin32DiskCalls disks;
  disks.disks[3];
  disks.interfaces = {{path, "USBSTOR\\DISK&VEN_HALDREN&PROD_X\\7&2A1B&0", 7, 3}};
  const std::string fromService = Win32DiskInstance(disks, "\\\\.\\PhysicalDrive3");

  EXPECT_EQ(fromBus.Value(), "USBSTOR\\DISK&VEN_HALDREN&PROD_X\\7&2A1B&0");
  EXPECT_EQ(fromService, fromBus.Value());
  EXPECT_EQ(DeviceInstanceOfInterfacePath(path), fromBus.Value());
}

// The real calls, as far as Wine has them: it lists the disk interfaces it
// knows (none on a machine without disks for it) and refuses a path that
// names no device.
TEST(Win32ScsiBusSystemTest, RealCallsListInterfacesAndRefuseAnUnknownPath) {
  Win32ScsiBus bus;
  auto set = bus.GetInterfaceSet();
  ASSERT_TRUE(set.IsOk()) << set.Status().Text();
  InterfacePath found;
  for (uint32_t i = 0; i < 64; ++i) {
    found = set.Value()->GetInterfacePath(i);
    if (found.lookup != InterfaceLookup::Found) break;
    EXPECT_FALSE(found.path.empty());
  }
  EXPECT_EQ(found.lookup, InterfaceLookup::NoMoreItems) << found.error.Text();

  SysResult<ScsiHandle> missing = bus.Open("\\\\?\\no-such-device#{53f56307-b6bf-11d0}");
  EXPECT_FALSE(missing.IsOk());
  EXPECT_FALSE(missing.Status().Text().empty());
}

}  // namespace
}  // namespace tarnwick
