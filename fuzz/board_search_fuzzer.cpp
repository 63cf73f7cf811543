// The board search: INQUIRY answers and the device report, from a SCSI bus
// whose every answer (interfaces, properties, command outcomes, status,
// sense, data) comes from the input. An answer goes either straight to the
// search, as any back end may hand it over, or first through the Linux
// back end's classification of an SG_IO header filled in by the "kernel".
// The search must keep exactly the devices that answered with the board's
// identity (at most eight), close every other device once, and close the
// kept ones when it is done.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <set>
#include <vector>

#include "fuzz_support.h"
#include "platform/linux/scsi_bus_linux.h"
#include "usbdev/io_ctrl_helper.h"

using namespace tarnwick;
using namespace tarnwick::fuzz;

namespace {

constexpr uint32_t kMaxInterfaces = 24;

SysStatus ErrorFrom(FuzzedDataProvider& in) {
  const int codes[] = {EIO, ENODEV, EBUSY, ETIMEDOUT, EACCES, ENOTTY, EBADF, 0, 12345};
  return SysStatus::FromCode(std::error_code(in.PickValueInArray(codes), std::system_category()));
}

class InputInterfaceSet final : public IScsiInterfaceSet {
 public:
  explicit InputInterfaceSet(FuzzedDataProvider& in) : m_in(in) {}
  InterfacePath GetInterfacePath(uint32_t index) override {
    InterfacePath path;
    if (index >= kMaxInterfaces || m_in.remaining_bytes() == 0) {
      path.lookup = InterfaceLookup::NoMoreItems;
      return path;
    }
    const uint8_t kind = m_in.ConsumeIntegral<uint8_t>();
    path.lookup = kind < 240 ? InterfaceLookup::Found : static_cast<InterfaceLookup>(kind % 5);
    path.path = m_in.ConsumeRandomLengthString(40);
    if (path.lookup != InterfaceLookup::Found) path.error = ErrorFrom(m_in);
    return path;
  }

 private:
  FuzzedDataProvider& m_in;
};

class InputBus final : public IScsiBus {
 public:
  explicit InputBus(FuzzedDataProvider& in) : m_in(in) {}

  SysResult<std::unique_ptr<IScsiInterfaceSet>> GetInterfaceSet() override {
    setFailed = m_in.ConsumeIntegral<uint8_t>() == 0xFF;
    if (setFailed) return ErrorFrom(m_in);
    return std::unique_ptr<IScsiInterfaceSet>(std::make_unique<InputInterfaceSet>(m_in));
  }
  SysResult<ScsiHandle> Open(const std::string&) override {
    if (m_in.ConsumeIntegral<uint8_t>() >= 0xF0) return ErrorFrom(m_in);
    const ScsiHandle handle = m_next++;
    open.insert(handle);
    return handle;
  }
  SysStatus Close(ScsiHandle handle) override {
    FUZZ_CHECK(open.erase(handle) == 1);  // never a handle that is not open
    return m_in.ConsumeIntegral<uint8_t>() >= 0xF0 ? ErrorFrom(m_in) : SysStatus::Ok();
  }
  SysResult<ScsiAdapterProperties> QueryAdapter(ScsiHandle handle) override {
    FUZZ_CHECK(open.count(handle) == 1);
    if (m_in.ConsumeBool()) return ErrorFrom(m_in);
    ScsiAdapterProperties p;
    p.busType = m_in.ConsumeIntegral<uint32_t>();
    p.maxTransferLength = m_in.ConsumeIntegral<uint32_t>();
    p.maxPhysicalPages = m_in.ConsumeIntegral<uint32_t>();
    p.alignmentMask = m_in.ConsumeIntegral<uint32_t>();
    return p;
  }
  SysResult<ScsiDeviceProperties> QueryDevice(ScsiHandle handle) override {
    FUZZ_CHECK(open.count(handle) == 1);
    if (m_in.ConsumeBool()) return ErrorFrom(m_in);
    ScsiDeviceProperties p;
    p.deviceType = m_in.ConsumeIntegral<uint8_t>();
    p.deviceTypeModifier = m_in.ConsumeIntegral<uint8_t>();
    p.removableMedia = m_in.ConsumeBool();
    p.vendorId = m_in.ConsumeRandomLengthString(300);
    p.productId = m_in.ConsumeRandomLengthString(300);
    p.productRevision = m_in.ConsumeRandomLengthString(300);
    p.serialNumber = m_in.ConsumeRandomLengthString(300);
    return p;
  }
  SysResult<uint32_t> QueryMediaType(ScsiHandle handle) override {
    FUZZ_CHECK(open.count(handle) == 1);
    if (m_in.ConsumeBool()) return ErrorFrom(m_in);
    return m_in.ConsumeIntegral<uint32_t>();
  }
  ScsiResult PassThrough(ScsiHandle handle, const ScsiRequest& request) override {
    FUZZ_CHECK(open.count(handle) == 1);
    FUZZ_CHECK(request.data != nullptr && request.dataLength == kInquiryDataLength);
    FUZZ_CHECK(request.direction == ScsiDirection::FromDevice && request.cdb[0] == 0x12);
    std::array<uint8_t, kInquiryDataLength> written{};
    std::memcpy(written.data(), request.data, written.size());
    const std::vector<uint8_t> answer =
        m_in.ConsumeBytes<uint8_t>(m_in.ConsumeIntegralInRange<size_t>(0, request.dataLength));
    std::copy(answer.begin(), answer.end(), written.begin());
    std::memcpy(request.data, written.data(), written.size());
    const ScsiResult result = m_in.ConsumeBool() ? RawResult() : KernelResult(request);
    if (result.outcome == ScsiOutcome::Completed && IsBoardIdentity(written))
      boards.push_back(handle);
    return result;
  }

  std::set<ScsiHandle> open;
  bool setFailed = false;
  std::vector<ScsiHandle> boards;  // in the order they answered

 private:
  // An answer as a back end might hand it over, whatever its fields say.
  ScsiResult RawResult() {
    ScsiResult r;
    r.outcome = static_cast<ScsiOutcome>(m_in.ConsumeIntegralInRange<int>(0, 2));
    if (r.outcome != ScsiOutcome::Completed) r.error = ErrorFrom(m_in);
    r.scsiStatus = m_in.ConsumeIntegral<uint8_t>();
    r.senseLength = m_in.ConsumeIntegral<uint8_t>();
    const std::vector<uint8_t> sense = m_in.ConsumeBytes<uint8_t>(r.sense.size());
    std::copy(sense.begin(), sense.end(), r.sense.begin());
    r.dataTransferred = m_in.ConsumeIntegral<uint32_t>();
    return r;
  }

  // The Linux back end's reading of what the kernel filled in.
  ScsiResult KernelResult(const ScsiRequest& request) {
    std::array<uint8_t, kMaxSenseLength> sense{};
    sg_io_hdr_t header;
    std::memset(&header, 0, sizeof header);
    header.dxfer_len = request.dataLength;
    header.mx_sb_len = std::min<uint8_t>(request.senseLength, kMaxSenseLength);
    header.sbp = sense.data();
    const std::vector<uint8_t> written = m_in.ConsumeBytes<uint8_t>(header.mx_sb_len);
    std::copy(written.begin(), written.end(), sense.begin());
    header.status = m_in.ConsumeIntegral<uint8_t>();
    header.host_status = m_in.ConsumeIntegral<uint16_t>();
    header.driver_status = m_in.ConsumeIntegral<uint16_t>();
    header.sb_len_wr = m_in.ConsumeIntegral<uint8_t>();
    header.resid = m_in.ConsumeIntegral<int>();
    const int ioctlResult = m_in.ConsumeBool() ? 0 : -m_in.ConsumeIntegralInRange<int>(1, 200);
    ScsiResult r = ClassifySgIo(ioctlResult, header);
    FUZZ_CHECK(r.senseLength <= header.mx_sb_len);
    FUZZ_CHECK(r.dataTransferred <= request.dataLength);
    return r;
  }

  FuzzedDataProvider& m_in;
  ScsiHandle m_next = 1;
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  SilenceDebugLog();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  InputBus bus(in);
  {
    CIOCtrlHelper helper(bus);
    for (int search = 0; search < 2; ++search) {
      bus.boards.clear();
      const bool found = helper.EnumerateDevices();
      std::vector<ScsiHandle> kept(
          bus.boards.begin(), bus.boards.begin() + std::min(bus.boards.size(), kBoardTableSize));
      // A search without the interface list keeps what the last one found.
      FUZZ_CHECK(found == !kept.empty());
      if (!bus.setFailed) FUZZ_CHECK(helper.Devices() == kept);
      FUZZ_CHECK(bus.open ==
                 std::set<ScsiHandle>(helper.Devices().begin(), helper.Devices().end()));
      if (found) {
        FUZZ_CHECK(std::equal(kept.begin(), kept.end(), helper.BoardTable().begin()));
      }
      if (in.remaining_bytes() == 0) break;
    }
  }
  FUZZ_CHECK(bus.open.empty());
  return 0;
}
