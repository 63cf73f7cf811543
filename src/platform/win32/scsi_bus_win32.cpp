#include "platform/win32/scsi_bus_win32.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <vector>

#include "common/le.h"
#include "platform/fs/win32_text.h"
#include "platform/win32/device_instance_win32.h"
#include "platform/win32/scsi_records_win32.h"

namespace tarnwick {
namespace {

using namespace win32;

// A device path longer than this is not a device path.
constexpr uint32_t kMaxDetailSize = 32 * 1024;
// The alignment used when the adapter does not say (a page serves every
// adapter), and the largest one honoured.
constexpr size_t kUnknownAlignment = 4096;
constexpr size_t kMaxAlignment = 64 * 1024;

class Win32InterfaceSet final : public IScsiInterfaceSet {
 public:
  Win32InterfaceSet(IWin32ScsiCalls& calls, Win32Handle set) : m_calls(calls), m_set(set) {}
  ~Win32InterfaceSet() override { (void)m_calls.DestroyInterfaces(m_set); }
  Win32InterfaceSet(const Win32InterfaceSet&) = delete;
  Win32InterfaceSet& operator=(const Win32InterfaceSet&) = delete;

  InterfacePath GetInterfacePath(uint32_t index) override {
    std::array<uint8_t, ifdata::kSize> data{};
    PutU32(data.data(), ifdata::kCbSize, ifdata::kSize);
    if (!m_calls.EnumInterface(m_set, index, data.data())) {
      const uint32_t error = m_calls.LastError();
      if (error == kErrorNoMoreItems) return {InterfaceLookup::NoMoreItems, {}, {}};
      return {InterfaceLookup::EnumFailed, {}, ErrorStatus(error)};
    }

    // The size first: without a buffer the call fails, saying how much it needs.
    uint32_t required = 0;
    if (!m_calls.GetInterfaceDetail(m_set, data.data(), nullptr, 0, required)) {
      const uint32_t error = m_calls.LastError();
      if (error != kErrorInsufficientBuffer) {
        return {InterfaceLookup::DetailSizeFailed, {}, ErrorStatus(error)};
      }
    }
    if (required <= ifdetail::kDevicePath || required > kMaxDetailSize) {
      return {InterfaceLookup::DetailSizeFailed, {}, ErrorStatus(kErrorInvalidData)};
    }

    std::vector<uint8_t> detail(required, 0);
    PutU32(detail.data(), ifdetail::kCbSize, ifdetail::kFixedSize);
    uint32_t unused = 0;
    if (!m_calls.GetInterfaceDetail(m_set, data.data(), detail.data(), required, unused)) {
      return {InterfaceLookup::DetailFailed, {}, ErrorStatus(m_calls.LastError())};
    }
    const auto path = detail.begin() + ifdetail::kDevicePath;
    return {InterfaceLookup::Found, std::string(path, std::find(path, detail.end(), 0)), {}};
  }

 private:
  IWin32ScsiCalls& m_calls;
  Win32Handle m_set;
};

// An area of `length` bytes whose start is a multiple of `alignment`.
class AlignedBuffer {
 public:
  AlignedBuffer(size_t length, size_t alignment) : m_storage(length + alignment - 1) {
    const auto address = reinterpret_cast<uintptr_t>(m_storage.data());
    m_data = m_storage.data() + ((alignment - address % alignment) % alignment);
  }
  uint8_t* Data() { return m_data; }

 private:
  std::vector<uint8_t> m_storage;
  uint8_t* m_data;
};

ScsiResult Failure(uint32_t error) {
  ScsiResult result;
  result.outcome = error == kErrorSemTimeout ? ScsiOutcome::TimedOut : ScsiOutcome::Failed;
  result.error = ErrorStatus(error);
  return result;
}

}  // namespace

Win32ScsiBus::Win32ScsiBus(IWin32ScsiCalls& calls) : m_calls(calls) {}

Win32ScsiBus::~Win32ScsiBus() {
  for (auto& [id, device] : m_open) (void)m_calls.CloseDevice(device.handle);
}

SysResult<std::unique_ptr<IScsiInterfaceSet>> Win32ScsiBus::GetInterfaceSet() {
  Win32Handle set = m_calls.GetDiskInterfaces();
  if (!set) return ErrorStatus(m_calls.LastError());
  return std::unique_ptr<IScsiInterfaceSet>(std::make_unique<Win32InterfaceSet>(m_calls, set));
}

SysResult<ScsiHandle> Win32ScsiBus::Open(const std::string& path) {
  Win32Handle handle = m_calls.OpenDevice(path, kGenericReadWrite, kShareReadWrite);
  if (!handle) return ErrorStatus(m_calls.LastError());
  const ScsiHandle id = m_nextHandle++;
  if (m_nextHandle == 0) m_nextHandle = 1;
  m_open[id] = {handle, std::nullopt, path, {}};
  return id;
}

SysStatus Win32ScsiBus::Close(ScsiHandle handle) {
  auto it = m_open.find(handle);
  if (it == m_open.end()) return ErrorStatus(kErrorInvalidHandle);
  const bool closed = m_calls.CloseDevice(it->second.handle);
  m_open.erase(it);
  return closed ? SysStatus::Ok() : ErrorStatus(m_calls.LastError());
}

Win32ScsiBus::OpenDevice* Win32ScsiBus::Find(ScsiHandle handle) {
  auto it = m_open.find(handle);
  return it == m_open.end() ? nullptr : &it->second;
}

SysResult<std::vector<uint8_t>> Win32ScsiBus::QueryProperty(Win32Handle device,
                                                            uint32_t propertyId) {
  const std::array<uint8_t, propquery::kSize> query = EncodePropertyQuery(propertyId);
  std::vector<uint8_t> answer(kPropertyAnswerSize, 0);
  uint32_t returned = 0;
  if (!m_calls.IoControl(device, kIoctlStorageQueryProperty, query.data(), propquery::kSize,
                         answer.data(), kPropertyAnswerSize, returned)) {
    return ErrorStatus(m_calls.LastError());
  }
  answer.resize(std::min<size_t>(returned, kPropertyAnswerSize));
  return answer;
}

SysResult<ScsiAdapterProperties> Win32ScsiBus::QueryAdapter(ScsiHandle handle) {
  OpenDevice* device = Find(handle);
  if (!device) return ErrorStatus(kErrorInvalidHandle);
  SysResult<std::vector<uint8_t>> answer =
      QueryProperty(device->handle, propquery::kStorageAdapterProperty);
  if (!answer) return answer.Status();
  const ScsiAdapterProperties properties =
      DecodeAdapterDescriptor(answer.Value().data(), answer.Value().size());
  device->alignmentMask = properties.alignmentMask;
  return properties;
}

SysResult<ScsiDeviceProperties> Win32ScsiBus::QueryDevice(ScsiHandle handle) {
  OpenDevice* device = Find(handle);
  if (!device) return ErrorStatus(kErrorInvalidHandle);
  SysResult<std::vector<uint8_t>> answer =
      QueryProperty(device->handle, propquery::kStorageDeviceProperty);
  if (!answer) return answer.Status();
  return DecodeDeviceDescriptor(answer.Value().data(), answer.Value().size());
}

SysResult<uint32_t> Win32ScsiBus::QueryMediaType(ScsiHandle handle) {
  OpenDevice* device = Find(handle);
  if (!device) return ErrorStatus(kErrorInvalidHandle);
  std::vector<uint8_t> answer(mediatypes::kAnswerSize, 0);
  uint32_t returned = 0;
  if (!m_calls.IoControl(device->handle, kIoctlStorageGetMediaTypesEx, nullptr, 0, answer.data(),
                         mediatypes::kAnswerSize, returned)) {
    return ErrorStatus(m_calls.LastError());
  }
  return returned >= 4 ? GetU32(answer.data(), mediatypes::kDeviceType) : 0u;
}

SysResult<std::string> Win32ScsiBus::DiskInstanceOf(ScsiHandle handle) {
  OpenDevice* device = Find(handle);
  if (!device) return ErrorStatus(kErrorInvalidHandle);
  if (device->instance.empty()) {
    std::string instance;
    if (!m_calls.GetInterfaceInstance(device->path, instance)) {
      return ErrorStatus(m_calls.LastError());
    }
    if (instance.empty()) {
      return SysStatus(std::make_error_code(std::errc::not_supported),
                       "the disk instance cannot be told");
    }
    device->instance = NormalDeviceInstance(instance);
  }
  return device->instance;
}

ScsiResult Win32ScsiBus::PassThrough(ScsiHandle handle, const ScsiRequest& request) {
  OpenDevice* device = Find(handle);
  if (!device) return Failure(kErrorInvalidHandle);
  if (request.dataLength > 0 && !request.data) return Failure(kErrorInvalidData);
  if (request.direction == ScsiDirection::ToDevice) return Direct(*device, request);
  return Buffered(device->handle, request);
}

ScsiResult Win32ScsiBus::Buffered(Win32Handle device, const ScsiRequest& request) {
  std::vector<uint8_t> buffer = EncodeBufferedRequest(request);
  const auto size = static_cast<uint32_t>(buffer.size());
  uint32_t returned = 0;
  // The record goes in; the record, its sense and the data come back.
  if (!m_calls.IoControl(device, kIoctlScsiPassThrough, buffer.data(), spt::kSize, buffer.data(),
                         size, returned)) {
    return Failure(m_calls.LastError());
  }
  if (request.direction == ScsiDirection::FromDevice && request.dataLength > 0) {
    std::copy_n(buffer.begin() + kDataAreaOffset, request.dataLength, request.data);
  }
  return DecodeCompletedRequest(buffer.data(), buffer.size(), request);
}

ScsiResult Win32ScsiBus::Direct(OpenDevice& device, const ScsiRequest& request) {
  if (!device.alignmentMask) {
    SysResult<std::vector<uint8_t>> answer =
        QueryProperty(device.handle, propquery::kStorageAdapterProperty);
    if (answer) {
      device.alignmentMask =
          DecodeAdapterDescriptor(answer.Value().data(), answer.Value().size()).alignmentMask;
    }
  }
  const size_t alignment =
      device.alignmentMask
          ? std::min(std::bit_ceil(static_cast<size_t>(*device.alignmentMask) + 1), kMaxAlignment)
          : kUnknownAlignment;

  // The adapter refuses a misaligned buffer: such data goes through an aligned copy.
  uint8_t* data = request.dataLength > 0 ? request.data : nullptr;
  std::optional<AlignedBuffer> copy;
  if (data && reinterpret_cast<uintptr_t>(data) % alignment != 0) {
    copy.emplace(request.dataLength, alignment);
    std::copy_n(request.data, request.dataLength, copy->Data());
    data = copy->Data();
  }

  std::array<uint8_t, kDirectRequestSize> buffer = EncodeDirectRequest(request, data);
  uint32_t returned = 0;
  if (!m_calls.IoControl(device.handle, kIoctlScsiPassThroughDirect, buffer.data(),
                         kDirectRequestSize, buffer.data(), kDirectRequestSize, returned)) {
    return Failure(m_calls.LastError());
  }
  return DecodeCompletedRequest(buffer.data(), buffer.size(), request);
}

}  // namespace tarnwick
