#pragma once
// What a front end may have from the operating system, built in one place
// from the front end's options: the disk service (the host's disks, named
// targets, card image files or a test tree), the SCSI bus, the device-arrival
// source, the disks report and the target checks. Alongside: the clock, the
// terminal, the rights check, the card reader that the inspector reads
// through, and the list separator of the system's path lists. One .cpp per
// operating system implements it (host_linux.cpp); nothing outside platform/
// reaches a backend directly.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "common/sys_status.h"
#include "platform/clock.h"
#include "platform/device_events.h"
#include "platform/disk_service.h"
#include "platform/scsi_bus.h"

namespace tarnwick {

// The separator of a list of paths in one string: ':' on Linux, ';' on
// Windows (where ':' belongs to a drive letter).
#ifdef _WIN32
inline constexpr char kPathListSeparator = ';';
#else
inline constexpr char kPathListSeparator = ':';
#endif

// The non-empty paths of a path list.
std::vector<std::string> SplitPathList(const std::string& list,
                                       char separator = kPathListSeparator);

// The terminal: whether a standard stream is attached to one, and the width
// of the one on standard error (80 when it cannot be told).
enum class StdStream { Input, Output, Error };
bool IsTerminal(StdStream stream);
int TerminalColumns();

// Writes UTF-8 text to standard output or standard error. A console gets it
// as characters (on Windows in UTF-16, whatever the console's code page);
// a file or pipe gets the bytes unchanged, line ends included.
void WriteText(StdStream stream, std::string_view text);

// The program's arguments as UTF-8 (on Windows taken from the wide command
// line, so that paths outside the ANSI code page arrive intact).
std::vector<std::string> CommandLineArguments(int argc, char** argv);

// Whether this process may write whole disks and talk to boards.
bool HasRawDiskRights();

// The system's service that opens cards for a user without raw disk rights
// (udisks2 on Linux, which asks for the user's authorization); Windows has
// none.
enum class UserDiskService { Reachable, NotRunning, NotInstalled, None };
UserDiskService UserDiskServiceState();

// This computer's name, for the audit log; empty when it cannot be had.
std::string HostName();

// Read-only access to a card: a card image file or a whole disk. The
// inspector reads a burned card through it; it never writes.
class ICardReader {
 public:
  virtual ~ICardReader() = default;
  // Capacity in bytes.
  virtual uint64_t SizeBytes() const = 0;
  // Reads exactly len bytes at byteOffset; a range past the end fails.
  virtual SysStatus ReadAt(uint64_t byteOffset, void* buffer, size_t len) = 0;
};

SysResult<std::unique_ptr<ICardReader>> OpenCardReader(const std::string& path);

// Creates a card image of the given size as a sparse file. Fails when the
// file already exists or cannot be made.
SysStatus CreateCardImage(const std::string& path, uint64_t bytes);

// One whole disk of the host as the disks report shows it.
struct HostDisk {
  std::string devicePath;
  uint64_t bytes = 0;
  bool accepted = false;  // a card discovery burns
  std::string reason;     // why accepted or left out, for the operator
  // What the device says it is, where the system can tell (Linux: sysfs and
  // udev); empty otherwise.
  std::string vendor, model, serial;
};

// The maker and model a disk reports, for the operator; empty when the
// system does not tell (a card image file).
struct DiskIdentity {
  std::string vendor;
  std::string model;
};
DiskIdentity IdentifyDisk(const std::string& devicePath);

inline constexpr uint64_t kDefaultSimulatedCardBytes = 4ull << 30;

struct HostOptions {
  // Card image files stand for the disks (at most 13); nothing of the host's
  // is written.
  std::vector<std::string> cardImages;
  // A simulated board replaces the SCSI bus and the arrivals; it keeps its
  // files in this folder and its card joins the card images.
  std::string simulateBoardDir;
  uint64_t simulatedCardBytes = kDefaultSimulatedCardBytes;
  // Called when the simulated board's card finds no free slot.
  std::function<void(const std::string& card)> onNoFreeSlot;
  // Targets named explicitly (card image files and block devices), in order.
  std::vector<std::string> targets;
  bool allowFixed = false;  // lifts the removable rule for targets, never the system-disk rule
  // Discovery over a disk tree (sys/block, proc) under this folder: a test
  // tree, whose disks are never written.
  std::string sysRoot;
  // The files whose disks are never written, asked for at each burn run.
  std::function<std::vector<ProtectedPath>()> protectedPaths;
  // Open the arrival source of the host (needed for board mode).
  bool watchArrivals = false;
};

class IHost {
 public:
  virtual ~IHost() = default;
  virtual IDiskService& Disks() = 0;
  virtual IScsiBus& Bus() = 0;
  virtual IDeviceEventSource& Events() = 0;
  // Why arrivals cannot be watched; success when they can.
  virtual const SysStatus& EventsStatus() const = 0;
  // True when no real disk or board is reached: no rights are needed.
  virtual bool Simulated() const = 0;
  // Why a named target would be refused; success when it is accepted.
  virtual SysStatus CheckTarget(const std::string& path) = 0;
  // Every whole disk with the verdict of discovery, for the disks report.
  virtual std::vector<HostDisk> ListDisks() = 0;
};

// Builds the services for a front end: card images (and a simulated board)
// when named, else targets when named, else the host's disks (or the test
// tree); the host's SCSI bus unless a board is simulated.
std::unique_ptr<IHost> MakeHost(HostOptions options);

}  // namespace tarnwick
