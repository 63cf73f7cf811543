#include "ui/app_services.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace tarnwick {

namespace {

namespace fs = std::filesystem;

SysStatus BadCommandLine(std::string text) {
  return {std::make_error_code(std::errc::invalid_argument), std::move(text)};
}

}  // namespace

SysStatus ParseGuiOptions(int& argc, char** argv, GuiOptions& options) {
  std::string cardImages, simulate;
  bool haveImages = false, haveSimulate = false;
  int out = 1;
  for (int i = 1; i < argc; ++i) {
    const bool images = std::strcmp(argv[i], "--card-images") == 0;
    const bool board = std::strcmp(argv[i], "--simulate-board") == 0;
    if (!images && !board) {
      argv[out++] = argv[i];
      continue;
    }
    if (i + 1 >= argc) return BadCommandLine(std::string(argv[i]) + " needs a value");
    (images ? cardImages : simulate) = argv[++i];
    (images ? haveImages : haveSimulate) = true;
  }
  argc = out;
  argv[argc] = nullptr;
  if (!haveImages) {
    if (const char* env = std::getenv(kCardImagesVariable)) cardImages = env;
  }
  if (!haveSimulate) {
    if (const char* env = std::getenv(kSimulateBoardVariable)) simulate = env;
  }
  options.cardImages = SplitPathList(cardImages);
  if (options.cardImages.size() > kMaxDiskSlots) {
    return BadCommandLine("at most 13 card images can stand for disks");
  }
  options.simulateBoardDir = simulate;
  return SysStatus::Ok();
}

std::string MissingRightsNotice([[maybe_unused]] UserDiskService service) {
#ifdef _WIN32
  return "Tarnwick does not run with administrator rights, so it cannot write cards or reach "
         "boards.\n\n"
         "To fix it, start tarnwick.exe with \"Run as administrator\".\n\n"
         "The dialog starts all the same.";
#else
  const bool installed = service == UserDiskService::NotRunning;
  return std::string(
             "Tarnwick runs neither as root nor as a member of the group \"disk\", and "
             "the udisks2 service, through which it writes cards as the desktop user "
             "after a password prompt, is ") +
         (installed ? "not running" : "not installed") +
         ", so it cannot write cards or reach boards.\n\n"
         "To fix it, " +
         (installed ? "start udisks2:\n    sudo systemctl start udisks2\n"
                    : "install udisks2:\n    sudo apt install udisks2\n") +
         "Or add your user to the group (members of \"disk\" can write every disk of "
         "this machine, as root can):\n    sudo usermod -aG disk $USER\n"
         "then log out and in again. Or start tarnwick with sudo.\n\n"
         "The dialog starts all the same.";
#endif
}

CAppServices::CAppServices(const GuiOptions& options) {
  MakeCardImages(options.cardImages);
  HostOptions host;
  host.cardImages = options.cardImages;
  host.simulateBoardDir = options.simulateBoardDir;
  host.protectedPaths = [this] {
    return m_protected ? m_protected() : std::vector<ProtectedPath>{};
  };
  host.watchArrivals = true;
  m_host = MakeHost(std::move(host));
  if (const SysStatus& watching = m_host->EventsStatus(); !watching) {
    m_notices.push_back("Device arrivals cannot be watched (" + watching.Text() +
                        "): in board mode no burn will start after the download.");
  }
  // Without rights of its own the tool has cards opened by the system's disk
  // service; the notice says what is missing when that cannot serve either.
  if (!m_host->Simulated() && !HasRawDiskRights()) {
    if (const UserDiskService service = UserDiskServiceState();
        service != UserDiskService::Reachable) {
      m_notices.push_back(MissingRightsNotice(service));
    }
  }
  m_downloader = std::make_unique<CDfuDownloader>(m_host->Bus(), m_relay);
}

CAppServices::~CAppServices() = default;

void CAppServices::MakeCardImages(const std::vector<std::string>& paths) {
  for (const std::string& path : paths) {
    std::error_code ec;
    if (fs::exists(path, ec)) continue;
    if (SysStatus made = CreateCardImage(path, kNewCardImageBytes); !made) {
      m_notices.push_back("Card image " + path + " could not be made: " + made.Text());
    }
  }
}

std::vector<SurveyedDisk> CAppServices::SurveyDisks() {
  std::vector<SurveyedDisk> disks;
  if (m_host->Simulated()) {
    for (const DiskSlot& slot : m_host->Disks().Slots()) {
      SurveyedDisk disk{slot.path, 0, false, "no card image file", {}};
      DiskGeometry geometry;
      if (auto query = m_host->Disks().OpenForQuery(slot.path);
          query && query->GetDriveGeometry(geometry)) {
        disk.bytes = static_cast<uint64_t>(geometry.Cylinders) * geometry.TracksPerCylinder *
                     geometry.SectorsPerTrack * geometry.BytesPerSector;
        disk.accepted = true;
        disk.reason.clear();
      }
      disks.push_back(std::move(disk));
    }
    return disks;
  }
  for (const HostDisk& d : m_host->ListDisks()) {
    disks.push_back({d.devicePath, d.bytes, d.accepted, d.reason, IdentifyDisk(d.devicePath)});
  }
  return disks;
}

void CAppServices::SetProtectedPaths(std::function<std::vector<ProtectedPath>()> source) {
  m_protected = std::move(source);
}

}  // namespace tarnwick
