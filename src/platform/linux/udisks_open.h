#pragma once
// Cards opened for the desktop user by udisks2, the system's disk service on
// the D-Bus system bus: the block device object's OpenDevice hands back a
// descriptor opened for writing once polkit has the user's authorization, and
// its Rescan re-reads the partition table, which the user has no rights to
// ask of the kernel. The bus calls sit behind IUdisksBus so that what their
// answers mean for a card is tested with fakes.
#include <string>
#include <vector>

#include "common/sys_status.h"

namespace tarnwick {

// The bus name of udisks2.
inline constexpr const char* kUdisksService = "org.freedesktop.UDisks2";

// An error answer of a method call: the D-Bus error name and its message. The
// name is empty when the system bus itself could not be reached.
struct BusError {
  std::string name;
  std::string message;
};

// The method calls made to udisks2. Each answers true on success, or false
// with *error filled.
class IUdisksBus {
 public:
  virtual ~IUdisksBus() = default;
  // Manager.ResolveDevice({"path": devicePath}): the block device objects of
  // a device node.
  [[nodiscard]] virtual bool ResolveDevice(const std::string& devicePath,
                                           std::vector<std::string>& objects, BusError& error) = 0;
  // Block.OpenDevice("rw", {"flags": O_EXCL, "auth.no_user_interaction":
  // false}) on a block device object: a descriptor the caller then owns.
  [[nodiscard]] virtual bool OpenDevice(const std::string& object, int& fd, BusError& error) = 0;
  // Block.Rescan({}) on a block device object.
  [[nodiscard]] virtual bool Rescan(const std::string& object, BusError& error) = 0;
  // Whether the service has an owner on the bus or can be started by the bus.
  [[nodiscard]] virtual bool ServiceReachable() = 0;
};

// udisks2 on the system bus (DBUS_SYSTEM_BUS_ADDRESS when set). Every call
// makes its own connection, so the one object serves every burning thread.
IUdisksBus& SystemUdisksBus();

// What udisks2 is to this host, for the start-up notice.
enum class UdisksState { Reachable, NotRunning, NotInstalled };
UdisksState ProbeUdisks(IUdisksBus& bus, const std::string& root = "/");

// The outcome of asking udisks2 for a card.
struct UdisksOpen {
  int fd = -1;  // >= 0: the card, opened for writing
  // udisks2 is not on the bus: the caller's own failure to open the card
  // stands.
  bool unavailable = false;
  SysStatus failure;  // otherwise: the card's failure, naming the device
};

// Asks udisks2 to open the card whose device node is path.
UdisksOpen OpenThroughUdisks(IUdisksBus& bus, const std::string& path);

// Asks udisks2 to re-read the partition table of the card at path.
SysStatus RescanThroughUdisks(IUdisksBus& bus, const std::string& path);

// The advice added to a rights failure when udisks2 cannot serve: which
// service to install or start.
std::string UdisksAdvice(UdisksState state);

}  // namespace tarnwick
