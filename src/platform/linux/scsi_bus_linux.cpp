#include "platform/linux/scsi_bus_linux.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "common/debug_log.h"
#include "platform/linux/disk_instance.h"
#include "platform/linux/errno_status.h"

namespace tarnwick {
namespace fs = std::filesystem;
namespace {

// host_status and driver_status values of the SCSI midlayer.
constexpr unsigned kDidOk = 0x00;
constexpr unsigned kDidNoConnect = 0x01;
constexpr unsigned kDidBusBusy = 0x02;
constexpr unsigned kDidTimeOut = 0x03;
constexpr unsigned kDriverOk = 0x00;
constexpr unsigned kDriverTimeout = 0x06;
constexpr unsigned kDriverSense = 0x08;
constexpr unsigned kDriverStatusMask = 0x0F;  // the upper bits are suggestions

// Device types of the media-types answer.
constexpr uint32_t kFileDeviceCdRom = 2;
constexpr uint32_t kFileDeviceDisk = 7;
constexpr uint8_t kScsiTypeCdRom = 5;

class RealSgCalls final : public ISgCalls {
 public:
  int Open(const std::string& path) override {
    // O_NONBLOCK keeps the open itself from waiting; SG_IO still blocks.
    int fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    return fd >= 0 ? fd : -errno;
  }
  int Close(int fd) override { return ::close(fd) == 0 ? 0 : -errno; }
  int SgIo(int fd, sg_io_hdr_t& header) override {
    return ::ioctl(fd, SG_IO, &header) == 0 ? 0 : -errno;
  }
};

// A sysfs attribute without its line end; empty when it cannot be read.
std::string ReadAttribute(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  while (!text.empty() && (text.back() == '\n' || text.back() == '\0')) text.pop_back();
  return text;
}

bool ReadNumber(const fs::path& file, uint64_t& value) {
  std::string text = ReadAttribute(file);
  if (text.empty()) return false;
  std::istringstream in(text);
  in >> value;
  return !in.fail();
}

// The unit serial number from the cached VPD page 0x80 (4-byte header).
std::string ReadSerial(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::string page((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (page.size() < 4) return {};
  size_t len = std::min<size_t>(static_cast<uint8_t>(page[3]), page.size() - 4);
  std::string serial = page.substr(4, len);
  serial.erase(std::find(serial.begin(), serial.end(), '\0'), serial.end());
  return serial;
}

// Kernel order of disk names: sdb before sdaa.
bool DiskNameLess(const std::string& a, const std::string& b) {
  return a.size() != b.size() ? a.size() < b.size() : a < b;
}

class LinuxInterfaceSet final : public IScsiInterfaceSet {
 public:
  explicit LinuxInterfaceSet(std::vector<std::string> paths) : m_paths(std::move(paths)) {}

  InterfacePath GetInterfacePath(uint32_t index) override {
    if (index >= m_paths.size()) return {InterfaceLookup::NoMoreItems, {}, {}};
    return {InterfaceLookup::Found, m_paths[index], {}};
  }

 private:
  std::vector<std::string> m_paths;
};

SysStatus Errno(int err) {
  return ErrnoStatus(err, std::system_category().message(err));
}

}  // namespace

ISgCalls& SystemSgCalls() {
  static RealSgCalls calls;
  return calls;
}

ScsiResult ClassifySgIo(int ioctlResult, const sg_io_hdr_t& header) {
  ScsiResult result;
  if (ioctlResult < 0) {
    result.error = Errno(-ioctlResult);
    result.outcome =
        result.error.Code() == std::errc::timed_out ? ScsiOutcome::TimedOut : ScsiOutcome::Failed;
    return result;
  }
  unsigned host = header.host_status;
  unsigned driver = header.driver_status & kDriverStatusMask;
  if (host == kDidTimeOut || driver == kDriverTimeout) {
    result.outcome = ScsiOutcome::TimedOut;
    result.error = Errno(ETIMEDOUT);
    return result;
  }
  if (host == kDidOk && (driver == kDriverOk || driver == kDriverSense)) {
    // The device answered: its status and sense are reported, not judged.
    result.outcome = ScsiOutcome::Completed;
    result.scsiStatus = header.status;
    result.senseLength = std::min<uint8_t>(header.sb_len_wr, header.mx_sb_len);
    if (result.senseLength > 0) std::memcpy(result.sense.data(), header.sbp, result.senseLength);
    int resid = std::clamp<int>(header.resid, 0, static_cast<int>(header.dxfer_len));
    result.dataTransferred = header.dxfer_len - static_cast<uint32_t>(resid);
    return result;
  }
  result.outcome = ScsiOutcome::Failed;
  result.error = Errno(host == kDidNoConnect ? ENODEV : host == kDidBusBusy ? EBUSY : EIO);
  return result;
}

LinuxScsiBus::LinuxScsiBus(std::string sysRoot, std::string devDir, ISgCalls& calls)
    : m_sysRoot(std::move(sysRoot)), m_devDir(std::move(devDir)), m_calls(calls) {}

LinuxScsiBus::~LinuxScsiBus() {
  for (auto& [handle, device] : m_open) (void)m_calls.Close(device.fd);
}

SysResult<std::unique_ptr<IScsiInterfaceSet>> LinuxScsiBus::GetInterfaceSet() {
  fs::path blockRoot = fs::path(m_sysRoot) / "sys" / "block";
  std::error_code ec;
  fs::directory_iterator it(blockRoot, ec);
  if (ec) return Errno(ec.value());
  std::vector<std::string> disks;
  for (const fs::directory_entry& entry : it) {
    std::string name = entry.path().filename().string();
    if (name.rfind("sd", 0) == 0) disks.push_back(name);
  }
  std::sort(disks.begin(), disks.end(), DiskNameLess);

  std::vector<std::string> paths;
  for (const std::string& disk : disks) {
    fs::path sgDir = blockRoot / disk / "device" / "scsi_generic";
    std::string node;
    for (const fs::directory_entry& sg : fs::directory_iterator(sgDir, ec)) {
      node = sg.path().filename().string();
    }
    if (node.empty()) {
      DebugLog(1, "%s has no SCSI generic node (is the sg driver loaded?)\n", disk.c_str());
      continue;
    }
    std::string path = (fs::path(m_devDir) / node).string();
    m_blockDirOfPath[path] = (blockRoot / disk).string();
    paths.push_back(path);
  }
  return std::unique_ptr<IScsiInterfaceSet>(std::make_unique<LinuxInterfaceSet>(std::move(paths)));
}

SysResult<ScsiHandle> LinuxScsiBus::Open(const std::string& path) {
  int fd = m_calls.Open(path);
  if (fd < 0) return Errno(-fd);
  auto known = m_blockDirOfPath.find(path);
  const ScsiHandle handle = m_nextHandle++;
  if (m_nextHandle == 0) m_nextHandle = 1;
  m_open[handle] = {fd, known == m_blockDirOfPath.end() ? std::string() : known->second};
  return handle;
}

SysStatus LinuxScsiBus::Close(ScsiHandle handle) {
  auto it = m_open.find(handle);
  if (it == m_open.end()) return Errno(EBADF);
  int rc = m_calls.Close(it->second.fd);
  m_open.erase(it);
  return rc == 0 ? SysStatus::Ok() : Errno(-rc);
}

const LinuxScsiBus::OpenDevice* LinuxScsiBus::Find(ScsiHandle handle) const {
  auto it = m_open.find(handle);
  return it == m_open.end() ? nullptr : &it->second;
}

SysResult<ScsiAdapterProperties> LinuxScsiBus::QueryAdapter(ScsiHandle handle) {
  const OpenDevice* device = Find(handle);
  if (!device) return Errno(EBADF);
  ScsiAdapterProperties properties;
  fs::path queue = fs::path(device->blockDir) / "queue";
  uint64_t maxKb = 0, segments = 0, alignment = 0;
  if (device->blockDir.empty() || !ReadNumber(queue / "max_hw_sectors_kb", maxKb) ||
      !ReadNumber(queue / "max_segments", segments)) {
    return Errno(ENOTTY);
  }
  if (!ReadNumber(queue / "dma_alignment", alignment)) alignment = 0;

  std::error_code ec;
  std::string where = fs::canonical(fs::path(device->blockDir) / "device", ec).string();
  if (where.find("/usb") != std::string::npos) {
    properties.busType = 7;
  } else if (where.find("/ata") != std::string::npos) {
    properties.busType = 3;
  } else {
    properties.busType = 1;
  }
  properties.maxTransferLength = static_cast<uint32_t>(maxKb * 1024);
  properties.maxPhysicalPages = static_cast<uint32_t>(segments);
  properties.alignmentMask = static_cast<uint32_t>(alignment);
  return properties;
}

SysResult<ScsiDeviceProperties> LinuxScsiBus::QueryDevice(ScsiHandle handle) {
  const OpenDevice* device = Find(handle);
  if (!device) return Errno(EBADF);
  ScsiDeviceProperties properties;
  fs::path block(device->blockDir);
  uint64_t type = 0, removable = 0;
  if (device->blockDir.empty() || !ReadNumber(block / "device" / "type", type)) {
    return Errno(ENOTTY);
  }
  if (!ReadNumber(block / "removable", removable)) removable = 0;
  properties.deviceType = static_cast<uint8_t>(type);
  properties.deviceTypeModifier = 0;
  properties.removableMedia = removable != 0;
  properties.vendorId = ReadAttribute(block / "device" / "vendor");
  properties.productId = ReadAttribute(block / "device" / "model");
  properties.productRevision = ReadAttribute(block / "device" / "rev");
  properties.serialNumber = ReadSerial(block / "device" / "vpd_pg80");
  return properties;
}

SysResult<uint32_t> LinuxScsiBus::QueryMediaType(ScsiHandle handle) {
  SysResult<ScsiDeviceProperties> properties = QueryDevice(handle);
  if (!properties) return properties.Status();
  return properties.Value().deviceType == kScsiTypeCdRom ? kFileDeviceCdRom : kFileDeviceDisk;
}

ScsiResult LinuxScsiBus::PassThrough(ScsiHandle handle, const ScsiRequest& request) {
  const OpenDevice* device = Find(handle);
  if (!device) {
    ScsiResult result;
    result.error = Errno(EBADF);
    return result;
  }
  std::array<uint8_t, kMaxCdbLength> cdb = request.cdb;
  std::array<uint8_t, kMaxSenseLength> sense{};
  sg_io_hdr_t header;
  std::memset(&header, 0, sizeof header);
  header.interface_id = 'S';
  switch (request.direction) {
    case ScsiDirection::None:
      header.dxfer_direction = SG_DXFER_NONE;
      break;
    case ScsiDirection::FromDevice:
      header.dxfer_direction = SG_DXFER_FROM_DEV;
      break;
    case ScsiDirection::ToDevice:
      header.dxfer_direction = SG_DXFER_TO_DEV;
      break;
  }
  header.cmd_len = std::min<uint8_t>(request.cdbLength, kMaxCdbLength);
  header.cmdp = cdb.data();
  header.mx_sb_len = std::min<uint8_t>(request.senseLength, kMaxSenseLength);
  header.sbp = sense.data();
  header.dxfer_len = request.dataLength;
  header.dxferp = request.data;
  header.timeout =
      request.timeoutSeconds > UINT32_MAX / 1000 ? UINT32_MAX : request.timeoutSeconds * 1000;
  int rc = m_calls.SgIo(device->fd, header);
  return ClassifySgIo(rc, header);
}

SysResult<std::string> LinuxScsiBus::DiskInstanceOf(ScsiHandle handle) {
  const OpenDevice* device = Find(handle);
  if (!device) return Errno(EBADF);
  if (device->blockDir.empty()) return Errno(ENODEV);
  std::string instance = ReadDiskInstance(device->blockDir);
  if (instance.empty()) return Errno(ENOTSUP);
  return instance;
}

}  // namespace tarnwick
