#pragma once
// A simulated SCSI bus with boards on it, for tests and demos. A board answers
// INQUIRY with its identity and takes the download in 512-byte vendor blocks.
// When the last block has come it checks the package (a BootInfo sector with
// magic "KDFUUFDK" and a valid infoCrc, whose imageLen and imageCrc match the
// image that follows), keeps what it received in a file, and then presents
// its card: it creates a card image file, hands it to the card presenter (the
// simulated disk service's slot table) and posts a device arrival.
// Faults can be set per device: a time-out or a failure on block k, a device
// that cannot be opened, a failing INQUIRY, a board that never shows its card;
// a device can be unplugged at any time.
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "bootcfg/crc32.h"
#include "platform/clock.h"
#include "platform/device_events.h"
#include "platform/scsi_bus.h"
#include "platform/sim/image_disk_service.h"

namespace tarnwick {

enum class SimFault { None, TimeOut, Failure };

struct SimDeviceConfig {
  // The INQUIRY identity, blank-padded or cut to 8, 16 and 4 characters.
  std::string vendor = "HALDREN";
  std::string product = "RUZUD OVUD";
  std::string revision = "1.00";
  std::string serial;
  bool acceptsDownload = true;  // false: the vendor command ends in CHECK CONDITION
  uint32_t busType = 7;         // USB
  bool removable = true;

  // Faults.
  std::optional<uint32_t> faultBlock;  // the block (0 = first) that meets `fault`
  SimFault fault = SimFault::None;
  std::optional<std::errc> openError;  // the device cannot be opened
  SimFault inquiryFault = SimFault::None;
  bool propertiesFail = false;  // the report's property queries fail
  bool presentsCard = true;
  std::string diskInstance;  // what DiskInstanceOf answers (empty: cannot tell)

  // Where the received package and the presented card go (empty: nowhere).
  std::string receivedPath;
  std::string cardPath;
  uint64_t cardBytes = 4ull << 30;
};

// A device that is not a board: an internal disk.
SimDeviceConfig SimInternalDisk();

// One command as the bus saw it.
struct SimCommand {
  size_t device = 0;
  std::array<uint8_t, kMaxCdbLength> cdb{};
  uint8_t cdbLength = 0;
  ScsiDirection direction = ScsiDirection::None;
  uint32_t dataLength = 0;
  uint8_t senseLength = 0;
  uint32_t timeoutSeconds = 0;
  std::vector<uint8_t> data;  // what went to the device
};

class SimBoardBus final : public IScsiBus, public IDeviceEventSource {
 public:
  // Time-outs pass on the clock: a test's fake clock only moves forward.
  explicit SimBoardBus(IClock& clock);
  ~SimBoardBus() override;

  size_t AddDevice(SimDeviceConfig config);
  SimDeviceConfig& Device(size_t index) { return m_devices.at(index).config; }
  // The device disappears: it is no longer listed and commands to it fail.
  void Unplug(size_t index);

  using CardPresenter = std::function<void(const std::string& cardPath)>;
  void SetCardPresenter(CardPresenter presenter) { m_presenter = std::move(presenter); }

  // Failure injection for the interface list.
  void FailInterfaceSet(std::errc error) { m_interfaceSetError = error; }
  void FailLookup(uint32_t index, InterfaceLookup step, std::errc error);

  const std::vector<SimCommand>& Commands() const { return m_commands; }
  // The vendor commands only.
  std::vector<SimCommand> VendorCommands() const;
  // The package of the last complete download, and why it was refused (empty when accepted).
  const std::vector<uint8_t>& Received(size_t index) const { return m_devices.at(index).received; }
  const std::string& Refusal(size_t index) const { return m_devices.at(index).refusal; }
  bool CardPresented(size_t index) const { return m_devices.at(index).presented; }
  size_t OpenHandleCount() const { return m_handles.size(); }
  bool IsOpen(ScsiHandle handle) const { return m_handles.count(handle) != 0; }
  // The device behind a handle that is open.
  std::optional<size_t> DeviceOf(ScsiHandle handle) const;

  // IScsiBus
  SysResult<std::unique_ptr<IScsiInterfaceSet>> GetInterfaceSet() override;
  SysResult<ScsiHandle> Open(const std::string& path) override;
  SysStatus Close(ScsiHandle handle) override;
  SysResult<ScsiAdapterProperties> QueryAdapter(ScsiHandle handle) override;
  SysResult<ScsiDeviceProperties> QueryDevice(ScsiHandle handle) override;
  SysResult<uint32_t> QueryMediaType(ScsiHandle handle) override;
  ScsiResult PassThrough(ScsiHandle handle, const ScsiRequest& request) override;
  SysResult<std::string> DiskInstanceOf(ScsiHandle handle) override;

  // IDeviceEventSource
  void Collect(DeviceEventQueue& queue) override;
  void Wait(std::chrono::milliseconds limit) override;

  static std::string PathOf(size_t index);

 private:
  struct SimDevice {
    SimDeviceConfig config;
    bool plugged = true;
    std::vector<uint8_t> incoming;  // blocks of the download in progress
    std::vector<uint8_t> received;  // the last complete download
    std::string refusal;
    bool presented = false;
  };

  SysResult<SimDevice*> DeviceFor(ScsiHandle handle);
  // A device whose property queries answer.
  SysResult<SimDevice*> QueryableDevice(ScsiHandle handle);
  ScsiResult Inquiry(SimDevice& device, const ScsiRequest& request);
  ScsiResult VendorBlock(SimDevice& device, const ScsiRequest& request);
  void FinishDownload(SimDevice& device);
  std::string CheckPackage(const std::vector<uint8_t>& package) const;

  IClock& m_clock;
  CCrc32 m_crc;
  std::vector<SimDevice> m_devices;
  std::map<ScsiHandle, size_t> m_handles;
  ScsiHandle m_nextHandle = 1;
  std::vector<SimCommand> m_commands;
  std::mutex m_pendingMutex;  // the front end may collect while a download runs elsewhere
  std::vector<DeviceNotice> m_pending;
  CardPresenter m_presenter;
  std::optional<std::errc> m_interfaceSetError;
  std::map<uint32_t, std::pair<InterfaceLookup, std::errc>> m_lookupFailures;
};

// The simulated board of a front end: it keeps its files in folder (made when
// missing: received.bin, what it got; card.img, its card of cardBytes) and,
// the first time its card shows, adds the card to images; onNoFreeSlot (when
// given) hears of a card that found no free slot.
std::unique_ptr<SimBoardBus> MakeSimulatedBoard(
    const std::string& folder, uint64_t cardBytes, ImageDiskService& images,
    std::function<void(const std::string&)> onNoFreeSlot);

}  // namespace tarnwick
