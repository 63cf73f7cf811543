#pragma once
// The SCSI bus on Linux. Every SCSI disk (/sys/block/sdX) is reached through
// its SCSI generic node (/dev/sgN), never through /dev/sdX: opening the block
// device sends media commands of its own and can hang for minutes on a board
// that does not answer them. Commands go through the SG_IO ioctl; the report's
// properties come from sysfs.
#include <scsi/sg.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/scsi_bus.h"

namespace tarnwick {

// The system calls the bus makes, so tests can drive request building and the
// outcome classification without a device. Results: >= 0 success, else -errno.
class ISgCalls {
 public:
  virtual ~ISgCalls() = default;
  virtual int Open(const std::string& path) = 0;  // read-write, returns the fd
  virtual int Close(int fd) = 0;
  virtual int SgIo(int fd, sg_io_hdr_t& header) = 0;
};

// The real calls.
ISgCalls& SystemSgCalls();

// How an SG_IO request ended, in the bus's terms.
ScsiResult ClassifySgIo(int ioctlResult, const sg_io_hdr_t& header);

class LinuxScsiBus final : public IScsiBus {
 public:
  // sysRoot is where sys/block lives ("/" on a real system; a fake tree in
  // tests); devDir holds the sg nodes.
  explicit LinuxScsiBus(std::string sysRoot = "/", std::string devDir = "/dev",
                        ISgCalls& calls = SystemSgCalls());
  ~LinuxScsiBus() override;

  SysResult<std::unique_ptr<IScsiInterfaceSet>> GetInterfaceSet() override;
  SysResult<ScsiHandle> Open(const std::string& path) override;
  SysStatus Close(ScsiHandle handle) override;
  SysResult<ScsiAdapterProperties> QueryAdapter(ScsiHandle handle) override;
  SysResult<ScsiDeviceProperties> QueryDevice(ScsiHandle handle) override;
  SysResult<uint32_t> QueryMediaType(ScsiHandle handle) override;
  ScsiResult PassThrough(ScsiHandle handle, const ScsiRequest& request) override;
  SysResult<std::string> DiskInstanceOf(ScsiHandle handle) override;

 private:
  struct OpenDevice {
    int fd = -1;
    std::string blockDir;  // sys/block/sdX of the disk, empty when unknown
  };

  const OpenDevice* Find(ScsiHandle handle) const;

  std::string m_sysRoot;
  std::string m_devDir;
  ISgCalls& m_calls;
  std::map<std::string, std::string> m_blockDirOfPath;  // sg node -> sys/block/sdX
  std::map<ScsiHandle, OpenDevice> m_open;
  ScsiHandle m_nextHandle = 1;
};

}  // namespace tarnwick
