// The host on Linux: block devices surveyed through sysfs, SCSI generic
// nodes, the udev monitor; card image files and the simulated board for
// trying the tool without hardware.
#include <unistd.h>

#include <filesystem>
#include <system_error>

#include "platform/host.h"
#include "platform/linux/card_reader.h"
#include "platform/linux/linux_disk_service.h"
#include "platform/linux/scsi_bus_linux.h"
#include "platform/linux/target_disk_service.h"
#include "platform/linux/udev_monitor.h"
#include "platform/sim/image_disk_service.h"
#include "platform/sim/sim_board.h"

namespace tarnwick {
namespace {

namespace fs = std::filesystem;

// The host's card readers. The protected paths are asked for again at the
// start of every run, since the operator may have picked other files.
class DiscoveryDiskService final : public IDiskService {
 public:
  DiscoveryDiskService(std::string root, std::function<std::vector<ProtectedPath>()> paths)
      : m_root(std::move(root)), m_protectedPaths(std::move(paths)) {}

  std::vector<DiskSlot> Slots() override {
    m_survey = std::make_unique<LinuxDiskService>(Options());
    return m_survey->Slots();
  }
  std::unique_ptr<IDiskQuery> OpenForQuery(const std::string& path) override {
    return Current().OpenForQuery(path);
  }
  SysResult<std::unique_ptr<IDiskWriter>> OpenForWrite(const std::string& path) override {
    return Current().OpenForWrite(path);
  }
  std::string DiskInstanceOf(const std::string& path) override {
    return Current().DiskInstanceOf(path);
  }

 private:
  LinuxDiskOptions Options() const {
    LinuxDiskOptions options;
    if (!m_root.empty()) options.root = m_root;
    if (m_protectedPaths) options.protectedPaths = m_protectedPaths();
    return options;
  }

  LinuxDiskService& Current() {
    if (!m_survey) (void)Slots();
    return *m_survey;
  }

  std::string m_root;
  std::function<std::vector<ProtectedPath>()> m_protectedPaths;
  std::unique_ptr<LinuxDiskService> m_survey;
};

// Discovery over a disk tree read from a test folder: it must never lead to
// writing this machine's real disks, so every open for writing is refused.
class ReadOnlyDiskService final : public IDiskService {
 public:
  explicit ReadOnlyDiskService(IDiskService& inner) : m_inner(inner) {}
  std::vector<DiskSlot> Slots() override { return m_inner.Slots(); }
  std::unique_ptr<IDiskQuery> OpenForQuery(const std::string& path) override {
    return m_inner.OpenForQuery(path);
  }
  SysResult<std::unique_ptr<IDiskWriter>> OpenForWrite(const std::string& path) override {
    return SysStatus(std::make_error_code(std::errc::operation_not_permitted),
                     path + " is refused: disks found under --sys-root are never written");
  }
  std::string DiskInstanceOf(const std::string& path) override {
    return m_inner.DiskInstanceOf(path);
  }

 private:
  IDiskService& m_inner;
};

class LinuxHost final : public IHost {
 public:
  explicit LinuxHost(HostOptions options) : m_options(std::move(options)) {
    if (!m_options.simulateBoardDir.empty() || !m_options.cardImages.empty()) {
      m_bSimulated = true;
      auto images = std::make_unique<ImageDiskService>(m_options.cardImages);
      if (m_options.protectedPaths) images->SetProtectedPaths(m_options.protectedPaths);
      m_images = images.get();
      m_disks = std::move(images);
      if (!m_options.simulateBoardDir.empty()) UseSimulatedBoard();
    } else if (!m_options.targets.empty()) {
      auto targets = std::make_unique<TargetDiskService>(m_options.targets, m_options.allowFixed,
                                                         DiskOptions(m_options.sysRoot));
      m_targets = targets.get();
      m_disks = std::move(targets);
    } else {
      m_discovery =
          std::make_unique<DiscoveryDiskService>(m_options.sysRoot, m_options.protectedPaths);
      if (!m_options.sysRoot.empty()) {
        m_disks = std::make_unique<ReadOnlyDiskService>(*m_discovery);
      }
    }
    if (!m_simBus) {
      m_bus = std::make_unique<LinuxScsiBus>();
      if (m_options.watchArrivals) {
        auto monitor = std::make_unique<UdevMonitor>();
        m_eventsStatus = monitor->Start();
        m_events = std::move(monitor);
      } else {
        m_events = std::make_unique<NoDeviceEvents>();
      }
    }
  }

  IDiskService& Disks() override { return m_disks ? *m_disks : *m_discovery; }
  IScsiBus& Bus() override { return m_simBus ? static_cast<IScsiBus&>(*m_simBus) : *m_bus; }
  IDeviceEventSource& Events() override {
    return m_simBus ? static_cast<IDeviceEventSource&>(*m_simBus) : *m_events;
  }
  const SysStatus& EventsStatus() const override { return m_eventsStatus; }
  bool Simulated() const override { return m_bSimulated; }

  SysStatus CheckTarget(const std::string& path) override {
    if (!m_targets) {
      return {std::make_error_code(std::errc::invalid_argument),
              path + " is not one of the named targets"};
    }
    std::string refusal = m_targets->CheckTarget(path);
    if (refusal.empty()) return SysStatus::Ok();
    return {std::make_error_code(std::errc::operation_not_permitted), std::move(refusal)};
  }

  std::vector<HostDisk> ListDisks() override {
    std::vector<HostDisk> disks;
    LinuxDiskService service(DiskOptions(m_options.sysRoot));
    for (const DiskReport& r : service.ListDisks()) {
      disks.push_back({r.devicePath, r.sysfsBytes, r.verdict == DiskVerdict::Accepted, r.reason,
                       r.vendor, r.model, r.serial});
    }
    return disks;
  }

 private:
  LinuxDiskOptions DiskOptions(const std::string& root) const {
    LinuxDiskOptions options;
    if (!root.empty()) options.root = root;
    if (m_options.protectedPaths) options.protectedPaths = m_options.protectedPaths();
    return options;
  }

  void UseSimulatedBoard() {
    m_simBus = MakeSimulatedBoard(m_options.simulateBoardDir, m_options.simulatedCardBytes,
                                  *m_images, m_options.onNoFreeSlot);
  }

  HostOptions m_options;
  bool m_bSimulated = false;
  std::unique_ptr<DiscoveryDiskService> m_discovery;
  std::unique_ptr<IDiskService> m_disks;  // null: the discovery service itself
  ImageDiskService* m_images = nullptr;
  TargetDiskService* m_targets = nullptr;
  std::unique_ptr<SimBoardBus> m_simBus;
  std::unique_ptr<IScsiBus> m_bus;
  std::unique_ptr<IDeviceEventSource> m_events;
  SysStatus m_eventsStatus;
};

}  // namespace

std::string HostName() {
  char name[256] = {};
  if (::gethostname(name, sizeof name - 1) != 0) return {};
  return name;
}

SysResult<std::unique_ptr<ICardReader>> OpenCardReader(const std::string& path) {
  SysResult<std::unique_ptr<CCardReader>> reader = CCardReader::Open(path);
  if (!reader) return reader.Status();
  return std::unique_ptr<ICardReader>(reader.Take());
}

std::unique_ptr<IHost> MakeHost(HostOptions options) {
  return std::make_unique<LinuxHost>(std::move(options));
}

}  // namespace tarnwick
