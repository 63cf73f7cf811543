// Placeholder until the SCSI bus and the arrival source of Windows exist: no
// board is found and no arrival is seen. The simulated board works.
#include "platform/win32/win32_services.h"

namespace tarnwick {
namespace {

SysStatus NotYet() {
  return {std::make_error_code(std::errc::function_not_supported),
          "boards are not supported on Windows yet"};
}

class NoBus final : public IScsiBus {
 public:
  SysResult<std::unique_ptr<IScsiInterfaceSet>> GetInterfaceSet() override { return NotYet(); }
  SysResult<ScsiHandle> Open(const std::string&) override { return NotYet(); }
  SysStatus Close(ScsiHandle) override { return NotYet(); }
  SysResult<ScsiAdapterProperties> QueryAdapter(ScsiHandle) override { return NotYet(); }
  SysResult<ScsiDeviceProperties> QueryDevice(ScsiHandle) override { return NotYet(); }
  SysResult<uint32_t> QueryMediaType(ScsiHandle) override { return NotYet(); }
  ScsiResult PassThrough(ScsiHandle, const ScsiRequest&) override {
    ScsiResult result;
    result.outcome = ScsiOutcome::Failed;
    result.error = NotYet();
    return result;
  }
};

}  // namespace

std::unique_ptr<IScsiBus> MakeWin32ScsiBus() {
  return std::make_unique<NoBus>();
}

SysResult<std::unique_ptr<IDeviceEventSource>> MakeWin32DeviceEvents() {
  return NotYet();
}

}  // namespace tarnwick
