#pragma once
// What the window works with, made before the application starts and
// destroyed after it: the SCSI bus and the download object, the disk table,
// the source of device arrivals. On a real machine these are the host's (see
// platform/host.h); for trying the tool without hardware, card image files
// replace the disk table and a simulated board replaces the bus.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/sys_status.h"
#include "platform/host.h"
#include "ui/cards_model.h"
#include "ui/operator_relay.h"
#include "usbdev/dfu_downloader.h"

namespace tarnwick {

inline constexpr char kCardImagesVariable[] = "TARNWICK_CARD_IMAGES";
inline constexpr char kSimulateBoardVariable[] = "TARNWICK_SIMULATE_BOARD";
// A card image named but missing is made this large (sparse).
inline constexpr uint64_t kNewCardImageBytes = 4ull << 30;

struct GuiOptions {
  std::vector<std::string> cardImages;  // replace the disk table
  std::string simulateBoardDir;         // a simulated board keeps its files here
};

// Takes "--card-images PATH[:PATH...]" (the system's path-list separator)
// and "--simulate-board DIR" out of the arguments; the environment variables
// of the same meaning are read when the options are absent. Fails for a bad
// command line.
SysStatus ParseGuiOptions(int& argc, char** argv, GuiOptions& options);

class CAppServices {
 public:
  explicit CAppServices(const GuiOptions& options);
  ~CAppServices();
  CAppServices(const CAppServices&) = delete;
  CAppServices& operator=(const CAppServices&) = delete;

  IDiskService& Disks() { return m_host->Disks(); }
  CDfuDownloader& Downloader() { return *m_downloader; }
  COperatorRelay& Relay() { return m_relay; }
  // Arrivals; Watch() on it tells when to collect (nothing when notices are
  // collected only after each download: the simulated board).
  IDeviceEventSource& Events() { return m_host->Events(); }
  // True when no real disk or board is reached: no rights are needed.
  bool Simulated() const { return m_host->Simulated(); }
  // Every disk with the verdict of discovery, maker and model, for the cards
  // window; with card images, the images (a missing one is an empty reader).
  std::vector<SurveyedDisk> SurveyDisks();
  // The files whose disks are never written (the window's two paths and the
  // settings file), asked for at each burn run.
  void SetProtectedPaths(std::function<std::vector<ProtectedPath>()> source);
  // What the operator is told once at start-up: missing rights, arrivals
  // that cannot be watched, card images that could not be made.
  const std::vector<std::string>& StartupNotices() const { return m_notices; }

 private:
  void MakeCardImages(const std::vector<std::string>& paths);

  std::vector<std::string> m_notices;
  COperatorRelay m_relay;
  std::function<std::vector<ProtectedPath>()> m_protected;
  std::unique_ptr<IHost> m_host;
  std::unique_ptr<CDfuDownloader> m_downloader;
};

// The start-up notice for a process without raw disk rights, when the
// system's service that would open cards for the user is in the given state.
std::string MissingRightsNotice(UserDiskService service);

}  // namespace tarnwick
