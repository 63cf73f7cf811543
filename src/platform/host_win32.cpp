// The host on Windows. Card image files and the simulated board work as on
// every system; the host's own disks, SCSI bus and arrivals come from
// platform/win32 through the factories of win32_services.h.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <filesystem>
#include <system_error>
#include <vector>

#include "platform/fs/read_only_file.h"
#include "platform/fs/win32_text.h"
#include "platform/host.h"
#include "platform/sim/image_disk_service.h"
#include "platform/sim/sim_board.h"
#include "platform/win32/win32_services.h"

namespace tarnwick {
namespace {

namespace fs = std::filesystem;

// A card image read through the read-only file of the pack reader.
class FileCardReader final : public ICardReader {
 public:
  FileCardReader(std::unique_ptr<ReadOnlyFile> file, uint64_t size)
      : m_file(std::move(file)), m_size(size) {}
  uint64_t SizeBytes() const override { return m_size; }
  SysStatus ReadAt(uint64_t byteOffset, void* buffer, size_t len) override {
    if (byteOffset > m_size || len > m_size - byteOffset) {
      return {std::make_error_code(std::errc::invalid_argument), "read past the end of the card"};
    }
    SysResult<size_t> got = m_file->ReadAt(byteOffset, static_cast<uint8_t*>(buffer), len);
    if (!got) return got.Status();
    if (got.Value() != len) {
      return {std::make_error_code(std::errc::io_error), "short read from the card"};
    }
    return SysStatus::Ok();
  }

 private:
  std::unique_ptr<ReadOnlyFile> m_file;
  uint64_t m_size;
};

class Win32Host final : public IHost {
 public:
  explicit Win32Host(HostOptions options) : m_options(std::move(options)) {
    if (!m_options.simulateBoardDir.empty() || !m_options.cardImages.empty()) {
      m_bSimulated = true;
      auto images = std::make_unique<ImageDiskService>(m_options.cardImages);
      m_images = images.get();
      m_disks = std::move(images);
      if (!m_options.simulateBoardDir.empty()) UseSimulatedBoard();
    } else {
      Win32DiskOptions disk;
      disk.targets = m_options.targets;
      disk.allowFixed = m_options.allowFixed;
      disk.protectedPaths = m_options.protectedPaths;
      m_disks = MakeWin32DiskService(disk);
    }
    if (!m_simBus) {
      m_bus = MakeWin32ScsiBus();
      if (m_options.watchArrivals) {
        SysResult<std::unique_ptr<IDeviceEventSource>> events = MakeWin32DeviceEvents();
        m_eventsStatus = events.Status();
        if (events) m_events = events.Take();
      }
      if (!m_events) m_events = std::make_unique<NoDeviceEvents>();
    }
  }

  IDiskService& Disks() override { return *m_disks; }
  IScsiBus& Bus() override { return m_simBus ? static_cast<IScsiBus&>(*m_simBus) : *m_bus; }
  IDeviceEventSource& Events() override {
    return m_simBus ? static_cast<IDeviceEventSource&>(*m_simBus) : *m_events;
  }
  const SysStatus& EventsStatus() const override { return m_eventsStatus; }
  bool Simulated() const override { return m_bSimulated; }

  SysStatus CheckTarget(const std::string& path) override {
    if (m_bSimulated || m_options.targets.empty()) {
      return {std::make_error_code(std::errc::invalid_argument),
              path + " is not one of the named targets"};
    }
    return CheckWin32Target(path, m_options.allowFixed, m_options.protectedPaths);
  }

  std::vector<HostDisk> ListDisks() override { return ListWin32Disks(m_options.protectedPaths); }

 private:
  void UseSimulatedBoard() {
    m_simBus = MakeSimulatedBoard(m_options.simulateBoardDir, m_options.simulatedCardBytes,
                                  *m_images, m_options.onNoFreeSlot);
  }

  HostOptions m_options;
  bool m_bSimulated = false;
  std::unique_ptr<IDiskService> m_disks;
  ImageDiskService* m_images = nullptr;
  std::unique_ptr<SimBoardBus> m_simBus;
  std::unique_ptr<IScsiBus> m_bus;
  std::unique_ptr<IDeviceEventSource> m_events;
  SysStatus m_eventsStatus;
};

}  // namespace

bool IsTerminal(StdStream stream) {
  FILE* f = stream == StdStream::Input ? stdin : stream == StdStream::Output ? stdout : stderr;
  return _isatty(_fileno(f)) != 0;
}

std::vector<std::string> CommandLineArguments(int argc, char** argv) {
  std::vector<std::string> args = Win32CommandLine();
  if (args.size() != static_cast<size_t>(argc)) args.assign(argv, argv + argc);
  return args;
}

void WriteText(StdStream stream, std::string_view text) {
  Win32WriteText(stream == StdStream::Error, text);
}

int TerminalColumns() {
  return Win32ConsoleColumns();
}

bool HasRawDiskRights() {
  return Win32IsElevated();
}

UserDiskService UserDiskServiceState() {
  return UserDiskService::None;
}

std::string HostName() {
  wchar_t name[256] = {};
  DWORD length = 256;
  if (!GetComputerNameExW(ComputerNameDnsHostname, name, &length)) return {};
  return win32::Narrow(std::wstring(name, length));
}

SysResult<std::unique_ptr<ICardReader>> OpenCardReader(const std::string& path) {
  if (IsWin32DiskPath(path)) return OpenWin32DiskReader(path);
  auto file = std::make_unique<ReadOnlyFile>();
  if (SysStatus opened = file->Open(path); !opened) return opened;
  SysResult<uint64_t> size = file->Size();
  if (!size) return size.Status();
  return std::unique_ptr<ICardReader>(
      std::make_unique<FileCardReader>(std::move(file), size.Value()));
}

std::unique_ptr<IHost> MakeHost(HostOptions options) {
  return std::make_unique<Win32Host>(std::move(options));
}

}  // namespace tarnwick
