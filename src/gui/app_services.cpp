#include "gui/app_services.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "platform/clock.h"
#include "platform/linux/disk_rights.h"
#include "platform/linux/linux_disk_service.h"
#include "platform/linux/scsi_bus_linux.h"
#include "platform/linux/udev_monitor.h"
#include "platform/sim/image_disk_service.h"
#include "platform/sim/sim_board.h"

namespace tarnwick::gui {

namespace {

namespace fs = std::filesystem;

std::vector<std::string> SplitPaths(const std::string& list) {
  std::vector<std::string> paths;
  size_t start = 0;
  while (start <= list.size()) {
    size_t end = list.find(':', start);
    if (end == std::string::npos) end = list.size();
    if (end > start) paths.push_back(list.substr(start, end - start));
    start = end + 1;
  }
  return paths;
}

// The host's card readers; the protected paths are asked for again at the
// start of every run, since the operator may have picked other files.
class CDialogDiskService final : public IDiskService {
 public:
  explicit CDialogDiskService(std::function<std::vector<ProtectedPath>()>& protectedPaths)
      : m_protectedPaths(protectedPaths) {}

  std::vector<DiskSlot> Slots() override {
    LinuxDiskOptions options;
    if (m_protectedPaths) options.protectedPaths = m_protectedPaths();
    m_survey = std::make_unique<LinuxDiskService>(options);
    return m_survey->Slots();
  }
  std::unique_ptr<IDiskQuery> OpenForQuery(const std::string& path) override {
    return Current().OpenForQuery(path);
  }
  std::unique_ptr<IDiskWriter> OpenForWrite(const std::string& path,
                                            std::string* errorText) override {
    return Current().OpenForWrite(path, errorText);
  }

 private:
  LinuxDiskService& Current() {
    if (!m_survey) (void)Slots();
    return *m_survey;
  }

  std::function<std::vector<ProtectedPath>()>& m_protectedPaths;
  std::unique_ptr<LinuxDiskService> m_survey;
};

}  // namespace

bool ParseGuiOptions(int& argc, char** argv, GuiOptions& options, std::string* error) {
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
    if (i + 1 >= argc) {
      *error = std::string(argv[i]) + " needs a value";
      return false;
    }
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
  options.cardImages = SplitPaths(cardImages);
  if (options.cardImages.size() > kMaxDiskSlots) {
    *error = "at most 13 card images can stand for disks";
    return false;
  }
  options.simulateBoardDir = simulate;
  return true;
}

std::string MissingRightsNotice() {
  return "Tarnwick runs neither as root nor as a member of the group \"disk\", so it cannot "
         "write cards or reach boards.\n\n"
         "To fix it, add your user to the group (members of \"disk\" can write every disk of "
         "this machine, as root can):\n    sudo usermod -aG disk $USER\n"
         "then log out and in again. Or start tarnwick with sudo.\n\n"
         "The dialog starts all the same.";
}

CAppServices::CAppServices(const GuiOptions& options) {
  if (!options.simulateBoardDir.empty()) {
    UseCardImages(options.cardImages);
    UseSimulatedBoard(options.simulateBoardDir);
  } else {
    if (!options.cardImages.empty()) {
      UseCardImages(options.cardImages);
    } else {
      m_disks = std::make_unique<CDialogDiskService>(m_protected);
    }
    m_linuxBus = std::make_unique<LinuxScsiBus>();
    m_udev = std::make_unique<UdevMonitor>();
    std::string error;
    if (!m_udev->Start(&error)) {
      m_notices.push_back("Device arrivals cannot be watched (" + error +
                          "): in board mode no burn will start after the download.");
    }
    m_events = m_udev.get();
    if (!m_bSimulated && !HasRawDiskRights()) m_notices.push_back(MissingRightsNotice());
  }
  IScsiBus& bus = m_simBus ? static_cast<IScsiBus&>(*m_simBus) : *m_linuxBus;
  m_downloader = std::make_unique<CDfuDownloader>(bus, m_relay);
}

CAppServices::~CAppServices() = default;

void CAppServices::UseCardImages(const std::vector<std::string>& paths) {
  m_bSimulated = true;
  for (const std::string& path : paths) {
    std::error_code ec;
    if (fs::exists(path, ec)) continue;
    std::string error;
    if (!CreateCardImage(path, kNewCardImageBytes, &error)) {
      m_notices.push_back("Card image " + path + " could not be made: " + error);
    }
  }
  auto images = std::make_unique<ImageDiskService>(paths);
  m_images = images.get();
  m_disks = std::move(images);
}

void CAppServices::UseSimulatedBoard(const std::string& dir) {
  std::error_code ec;
  fs::create_directories(dir, ec);
  m_simBus = std::make_unique<SimBoardBus>(SystemClock());
  SimDeviceConfig board;
  board.cardPath = (fs::path(dir) / "card.img").string();
  board.receivedPath = (fs::path(dir) / "received.bin").string();
  m_simBus->AddDevice(board);
  // The board's card joins the disk table once, the first time it shows.
  m_simBus->SetCardPresenter([this](const std::string& path) {
    for (const DiskSlot& slot : m_images->Slots()) {
      if (slot.path == path) return;
    }
    (void)m_images->AddImage(path);
  });
  m_events = m_simBus.get();
}

int CAppServices::EventFd() const {
  return m_udev ? m_udev->Fd() : -1;
}

void CAppServices::SetProtectedPaths(std::function<std::vector<ProtectedPath>()> source) {
  m_protected = std::move(source);
}

}  // namespace tarnwick::gui
