#include "platform/sim/sim_board.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "bootcfg/boot_info.h"
#include "common/debug_log.h"
#include "common/le.h"
#include "platform/clock.h"
#include "platform/fs/file_access.h"

namespace tarnwick {
namespace {

constexpr uint8_t kOpInquiry = 0x12;
constexpr uint8_t kOpVendor = 0xCF;
constexpr uint8_t kVendorSubcode = 0x12;
constexpr uint32_t kBlockSize = 512;
constexpr uint8_t kCheckCondition = 0x02;
constexpr uint32_t kFileDeviceDisk = 7;
constexpr size_t kInquiryAnswerLength = 56;
constexpr char kPathPrefix[] = "sim:disk";

// Blank-padded or cut to width.
void PutField(uint8_t* out, const std::string& text, size_t width) {
  for (size_t i = 0; i < width; ++i) out[i] = i < text.size() ? text[i] : ' ';
}

// The simulated bus answers in portable conditions.
SysStatus Error(std::errc condition) {
  return SysStatus::FromCode(std::make_error_code(condition));
}

ScsiResult Failure(SysStatus error) {
  ScsiResult result;
  result.outcome = ScsiOutcome::Failed;
  result.error = std::move(error);
  return result;
}

ScsiResult TimedOut() {
  ScsiResult result;
  result.outcome = ScsiOutcome::TimedOut;
  result.error = Error(std::errc::timed_out);
  return result;
}

// Fixed-format sense: ILLEGAL REQUEST, INVALID COMMAND OPERATION CODE.
ScsiResult InvalidCommand(uint8_t senseWanted) {
  ScsiResult result;
  result.outcome = ScsiOutcome::Completed;
  result.scsiStatus = kCheckCondition;
  const uint8_t sense[] = {0x70, 0, 0x05, 0, 0, 0, 0, 0x0A, 0, 0, 0, 0, 0x20, 0x00};
  result.senseLength =
      static_cast<uint8_t>(std::min<size_t>({sizeof sense, senseWanted, kMaxSenseLength}));
  std::memcpy(result.sense.data(), sense, result.senseLength);
  return result;
}

class SimInterfaceSet final : public IScsiInterfaceSet {
 public:
  SimInterfaceSet(std::vector<std::string> paths,
                  std::map<uint32_t, std::pair<InterfaceLookup, std::errc>> failures)
      : m_paths(std::move(paths)), m_failures(std::move(failures)) {}

  InterfacePath GetInterfacePath(uint32_t index) override {
    auto failure = m_failures.find(index);
    if (failure != m_failures.end()) {
      return {failure->second.first, {}, Error(failure->second.second)};
    }
    if (index >= m_paths.size()) return {InterfaceLookup::NoMoreItems, {}, {}};
    return {InterfaceLookup::Found, m_paths[index], {}};
  }

 private:
  std::vector<std::string> m_paths;
  std::map<uint32_t, std::pair<InterfaceLookup, std::errc>> m_failures;
};

}  // namespace

SimDeviceConfig SimInternalDisk() {
  SimDeviceConfig config;
  config.vendor = "ATA";
  config.product = "Internal SSD";
  config.revision = "2.1";
  config.acceptsDownload = false;
  config.busType = 3;
  config.removable = false;
  return config;
}

SimBoardBus::SimBoardBus(IClock& clock) : m_clock(clock) {}

SimBoardBus::~SimBoardBus() = default;

std::string SimBoardBus::PathOf(size_t index) {
  return kPathPrefix + std::to_string(index);
}

size_t SimBoardBus::AddDevice(SimDeviceConfig config) {
  SimDevice device;
  device.config = std::move(config);
  m_devices.push_back(std::move(device));
  return m_devices.size() - 1;
}

void SimBoardBus::Unplug(size_t index) {
  m_devices.at(index).plugged = false;
}

void SimBoardBus::FailLookup(uint32_t index, InterfaceLookup step, std::errc error) {
  m_lookupFailures[index] = {step, error};
}

std::vector<SimCommand> SimBoardBus::VendorCommands() const {
  std::vector<SimCommand> vendor;
  std::copy_if(m_commands.begin(), m_commands.end(), std::back_inserter(vendor),
               [](const SimCommand& c) { return c.cdb[0] == kOpVendor; });
  return vendor;
}

std::optional<size_t> SimBoardBus::DeviceOf(ScsiHandle handle) const {
  auto it = m_handles.find(handle);
  if (it == m_handles.end()) return std::nullopt;
  return it->second;
}

SysResult<std::unique_ptr<IScsiInterfaceSet>> SimBoardBus::GetInterfaceSet() {
  if (m_interfaceSetError) return Error(*m_interfaceSetError);
  std::vector<std::string> paths;
  for (size_t i = 0; i < m_devices.size(); ++i) {
    if (m_devices[i].plugged) paths.push_back(PathOf(i));
  }
  return std::unique_ptr<IScsiInterfaceSet>(
      std::make_unique<SimInterfaceSet>(std::move(paths), m_lookupFailures));
}

SysResult<ScsiHandle> SimBoardBus::Open(const std::string& path) {
  size_t index = m_devices.size();
  if (path.rfind(kPathPrefix, 0) == 0) {
    index = std::strtoul(path.c_str() + std::strlen(kPathPrefix), nullptr, 10);
  }
  if (index >= m_devices.size() || !m_devices[index].plugged) {
    return Error(std::errc::no_such_file_or_directory);
  }
  if (m_devices[index].config.openError) return Error(*m_devices[index].config.openError);
  const ScsiHandle handle = m_nextHandle++;
  m_handles[handle] = index;
  return handle;
}

SysStatus SimBoardBus::Close(ScsiHandle handle) {
  return m_handles.erase(handle) == 1 ? SysStatus::Ok() : Error(std::errc::bad_file_descriptor);
}

SysResult<SimBoardBus::SimDevice*> SimBoardBus::DeviceFor(ScsiHandle handle) {
  auto it = m_handles.find(handle);
  if (it == m_handles.end()) return Error(std::errc::bad_file_descriptor);
  SimDevice& device = m_devices[it->second];
  if (!device.plugged) return Error(std::errc::no_such_device);
  return &device;
}

SysResult<SimBoardBus::SimDevice*> SimBoardBus::QueryableDevice(ScsiHandle handle) {
  SysResult<SimDevice*> device = DeviceFor(handle);
  if (device && device.Value()->config.propertiesFail) {
    return Error(std::errc::inappropriate_io_control_operation);
  }
  return device;
}

SysResult<ScsiAdapterProperties> SimBoardBus::QueryAdapter(ScsiHandle handle) {
  SysResult<SimDevice*> found = QueryableDevice(handle);
  if (!found) return found.Status();
  const SimDevice* device = found.Value();
  ScsiAdapterProperties properties;
  properties.busType = device->config.busType;
  properties.maxTransferLength = 0x10000;
  properties.maxPhysicalPages = 0x11;
  properties.alignmentMask = 0;
  return properties;
}

SysResult<ScsiDeviceProperties> SimBoardBus::QueryDevice(ScsiHandle handle) {
  SysResult<SimDevice*> found = QueryableDevice(handle);
  if (!found) return found.Status();
  const SimDevice* device = found.Value();
  ScsiDeviceProperties properties;
  properties.deviceType = 0;
  properties.deviceTypeModifier = 0;
  properties.removableMedia = device->config.removable;
  properties.vendorId = device->config.vendor;
  properties.productId = device->config.product;
  properties.productRevision = device->config.revision;
  properties.serialNumber = device->config.serial;
  return properties;
}

SysResult<std::string> SimBoardBus::DiskInstanceOf(ScsiHandle handle) {
  SysResult<SimDevice*> found = QueryableDevice(handle);
  if (!found) return found.Status();
  if (found.Value()->config.diskInstance.empty()) return Error(std::errc::not_supported);
  return found.Value()->config.diskInstance;
}

SysResult<uint32_t> SimBoardBus::QueryMediaType(ScsiHandle handle) {
  SysResult<SimDevice*> found = QueryableDevice(handle);
  if (!found) return found.Status();
  return kFileDeviceDisk;
}

ScsiResult SimBoardBus::PassThrough(ScsiHandle handle, const ScsiRequest& request) {
  SimCommand command;
  auto known = m_handles.find(handle);
  command.device = known == m_handles.end() ? m_devices.size() : known->second;
  command.cdb = request.cdb;
  command.cdbLength = request.cdbLength;
  command.direction = request.direction;
  command.dataLength = request.dataLength;
  command.senseLength = request.senseLength;
  command.timeoutSeconds = request.timeoutSeconds;
  if (request.direction == ScsiDirection::ToDevice && request.data) {
    command.data.assign(request.data, request.data + request.dataLength);
  }
  m_commands.push_back(std::move(command));

  SysResult<SimDevice*> found = DeviceFor(handle);
  if (!found) return Failure(found.Status());
  SimDevice* device = found.Value();
  if (request.cdb[0] == kOpInquiry) return Inquiry(*device, request);
  if (request.cdb[0] == kOpVendor && request.cdb[1] == kVendorSubcode &&
      device->config.acceptsDownload) {
    return VendorBlock(*device, request);
  }
  return InvalidCommand(request.senseLength);
}

ScsiResult SimBoardBus::Inquiry(SimDevice& device, const ScsiRequest& request) {
  switch (device.config.inquiryFault) {
    case SimFault::TimeOut:
      m_clock.SleepFor(std::chrono::seconds(request.timeoutSeconds));
      return TimedOut();
    case SimFault::Failure:
      return Failure(Error(std::errc::io_error));
    case SimFault::None:
      break;
  }
  uint8_t answer[kInquiryAnswerLength] = {};
  answer[0] = 0x00;  // direct-access device
  answer[1] = device.config.removable ? 0x80 : 0x00;
  answer[2] = 0x02;
  answer[3] = 0x02;
  answer[4] = kInquiryAnswerLength - 5;
  PutField(answer + 8, device.config.vendor, 8);
  PutField(answer + 16, device.config.product, 16);
  PutField(answer + 32, device.config.revision, 4);
  ScsiResult result;
  result.outcome = ScsiOutcome::Completed;
  result.dataTransferred = std::min<uint32_t>(request.dataLength, kInquiryAnswerLength);
  if (request.data) std::memcpy(request.data, answer, result.dataTransferred);
  return result;
}

ScsiResult SimBoardBus::VendorBlock(SimDevice& device, const ScsiRequest& request) {
  const uint32_t block = static_cast<uint32_t>(device.incoming.size() / kBlockSize);
  if (device.config.faultBlock && *device.config.faultBlock == block) {
    if (device.config.fault == SimFault::TimeOut) {
      m_clock.SleepFor(std::chrono::seconds(request.timeoutSeconds));
      return TimedOut();
    }
    if (device.config.fault == SimFault::Failure) return Failure(Error(std::errc::no_such_device));
  }
  if (request.direction != ScsiDirection::ToDevice || request.dataLength != kBlockSize ||
      !request.data) {
    return InvalidCommand(request.senseLength);
  }
  device.incoming.insert(device.incoming.end(), request.data, request.data + kBlockSize);
  ScsiResult result;
  result.outcome = ScsiOutcome::Completed;
  result.dataTransferred = kBlockSize;
  if (request.cdb[2] == 1) FinishDownload(device);
  return result;
}

std::string SimBoardBus::CheckPackage(const std::vector<uint8_t>& package) const {
  if (package.size() < kBootInfoSize) return "package shorter than its BootInfo sector";
  if (std::memcmp(package.data() + bootinfo::kMagic, kBootInfoMagic, 8) != 0) {
    return "BootInfo magic is not KDFUUFDK";
  }
  if (m_crc.Compute(package.data(), bootinfo::kInfoCrc) !=
      GetU32(package.data(), bootinfo::kInfoCrc)) {
    return "BootInfo infoCrc does not match";
  }
  const uint64_t imageLen = GetU32(package.data(), bootinfo::kImageLen);
  if (kBootInfoSize + imageLen > package.size()) {
    return "imageLen reaches past the end of the package";
  }
  if (m_crc.Compute(package.data() + kBootInfoSize, imageLen) !=
      GetU32(package.data(), bootinfo::kImageCrc)) {
    return "imageCrc does not match the image";
  }
  return {};
}

void SimBoardBus::FinishDownload(SimDevice& device) {
  device.received = std::move(device.incoming);
  device.incoming.clear();
  if (!device.config.receivedPath.empty()) {
    std::ofstream out(device.config.receivedPath, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(device.received.data()),
              static_cast<std::streamsize>(device.received.size()));
    if (!out) DebugLog(1, "Simulated board: cannot write %s\n", device.config.receivedPath.c_str());
  }
  device.refusal = CheckPackage(device.received);
  if (!device.refusal.empty()) {
    // A board does not start a program whose records do not check out.
    DebugLog(1, "Simulated board: download refused: %s\n", device.refusal.c_str());
    return;
  }
  if (!device.config.presentsCard || device.config.cardPath.empty()) return;

  std::error_code ec;
  { std::ofstream card(device.config.cardPath, std::ios::binary | std::ios::trunc); }
  std::filesystem::resize_file(device.config.cardPath, device.config.cardBytes, ec);
  if (ec) {
    DebugLog(1, "Simulated board: cannot create card %s\n", device.config.cardPath.c_str());
    return;
  }
  device.presented = true;
  if (m_presenter) m_presenter(device.config.cardPath);
  std::lock_guard<std::mutex> lock(m_pendingMutex);
  m_pending.push_back({kDeviceArrival, device.config.cardPath});
}

void SimBoardBus::Collect(DeviceEventQueue& queue) {
  std::lock_guard<std::mutex> lock(m_pendingMutex);
  for (DeviceNotice& notice : m_pending) queue.Post(std::move(notice));
  m_pending.clear();
}

void SimBoardBus::Wait(std::chrono::milliseconds limit) {
  m_clock.SleepFor(limit);
}

std::unique_ptr<SimBoardBus> MakeSimulatedBoard(
    const std::string& folder, uint64_t cardBytes, ImageDiskService& images,
    std::function<void(const std::string&)> onNoFreeSlot) {
  std::error_code ec;
  std::filesystem::create_directories(
      std::filesystem::path(std::u8string(folder.begin(), folder.end())), ec);
  auto bus = std::make_unique<SimBoardBus>(SystemClock());
  SimDeviceConfig board;
  board.cardPath = PathInFolder(folder, "card.img");
  board.receivedPath = PathInFolder(folder, "received.bin");
  board.cardBytes = cardBytes;
  bus->AddDevice(board);
  // The board's card joins the disk table once, the first time it shows.
  bus->SetCardPresenter([&images, onNoFreeSlot](const std::string& path) {
    for (const DiskSlot& slot : images.Slots()) {
      if (slot.path == path) return;
    }
    if (!images.AddImage(path) && onNoFreeSlot) onNoFreeSlot(path);
  });
  return bus;
}

}  // namespace tarnwick
