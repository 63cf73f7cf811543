#include "platform/linux/udisks_open.h"

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "platform/linux/errno_status.h"

namespace tarnwick {

namespace {

namespace fs = std::filesystem;

bool StartsWith(const std::string& text, const char* prefix) {
  return text.rfind(prefix, 0) == 0;
}

// Answers that mean udisks2 is not there to ask: no system bus (a local
// failure of the connection, which sd-bus names System.Error.<errno>),
// nobody owning the name and nothing to start, or a start that failed.
bool MeansUnavailable(const BusError& error) {
  return error.name.empty() || StartsWith(error.name, "System.Error.") ||
         error.name == "org.freedesktop.DBus.Error.ServiceUnknown" ||
         error.name == "org.freedesktop.DBus.Error.NameHasNoOwner" ||
         error.name == "org.freedesktop.DBus.Error.NoServer" ||
         error.name == "org.freedesktop.DBus.Error.Disconnected" ||
         StartsWith(error.name, "org.freedesktop.DBus.Error.Spawn.") ||
         StartsWith(error.name, "org.freedesktop.systemd1.");
}

bool MeansRefused(const BusError& error) {
  return StartsWith(error.name, "org.freedesktop.UDisks2.Error.NotAuthorized") ||
         error.name == "org.freedesktop.DBus.Error.AccessDenied" ||
         error.name == "org.freedesktop.DBus.Error.InteractiveAuthorizationRequired";
}

std::string Described(const BusError& error) {
  if (error.message.empty()) return error.name;
  return error.message;
}

// The failure of a call that udisks2 answered.
SysStatus CardFailure(const std::string& path, const BusError& error) {
  if (MeansRefused(error)) {
    return ErrnoStatus(
        EACCES, path + ": authorization to write the card was refused (" + Described(error) + ")");
  }
  if (error.name == "org.freedesktop.UDisks2.Error.DeviceBusy") {
    return ErrnoStatus(EBUSY, path + " is in use: udisks2: " + Described(error));
  }
  if (error.name == "org.freedesktop.DBus.Error.NoReply" ||
      error.name == "org.freedesktop.DBus.Error.Timeout") {
    return ErrnoStatus(ETIMEDOUT,
                       path + ": udisks2 did not answer in time (" + Described(error) + ")");
  }
  return ErrnoStatus(EIO,
                     path + ": udisks2 could not open it: " + error.name + ": " + Described(error));
}

// udisks2 names a block device's object after the kernel's name of the
// device, every character but letters and digits written as _ and two hex
// digits.
std::string ObjectOfNode(const std::string& path) {
  std::error_code ec;
  const fs::path node = fs::canonical(path, ec);
  const std::string name = (ec ? fs::path(path) : node).filename().string();
  std::string escaped;
  for (const unsigned char c : name) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) {
      escaped += static_cast<char>(c);
    } else {
      char hex[4];
      std::snprintf(hex, sizeof hex, "_%02x", c);
      escaped += hex;
    }
  }
  return "/org/freedesktop/UDisks2/block_devices/" + escaped;
}

// The block device object of path; false with *error when udisks2 answered
// with an error other than not having ResolveDevice (before udisks2 2.7.3,
// where the object's name is formed from the node's).
bool FindObject(IUdisksBus& bus, const std::string& path, std::string& object, BusError& error) {
  std::vector<std::string> objects;
  if (bus.ResolveDevice(path, objects, error)) {
    if (objects.empty()) {
      error = {"org.freedesktop.UDisks2.Error.NotFound", "udisks2 does not know the device"};
      return false;
    }
    object = objects.front();
    return true;
  }
  if (error.name != "org.freedesktop.DBus.Error.UnknownMethod") return false;
  object = ObjectOfNode(path);
  return true;
}

}  // namespace

UdisksState ProbeUdisks(IUdisksBus& bus, const std::string& root) {
  if (bus.ServiceReachable()) return UdisksState::Reachable;
  static const char* const kInstalled[] = {
      "usr/libexec/udisks2/udisksd",
      "usr/share/dbus-1/system-services/org.freedesktop.UDisks2.service",
      "lib/systemd/system/udisks2.service", "usr/lib/systemd/system/udisks2.service"};
  for (const char* file : kInstalled) {
    std::error_code ec;
    if (fs::exists(fs::path(root) / file, ec)) return UdisksState::NotRunning;
  }
  return UdisksState::NotInstalled;
}

UdisksOpen OpenThroughUdisks(IUdisksBus& bus, const std::string& path) {
  UdisksOpen result;
  std::string object;
  BusError error;
  int fd = -1;
  if (FindObject(bus, path, object, error) && bus.OpenDevice(object, fd, error)) {
    result.fd = fd;
    return result;
  }
  if (MeansUnavailable(error)) {
    result.unavailable = true;
    return result;
  }
  result.failure = CardFailure(path, error);
  return result;
}

SysStatus RescanThroughUdisks(IUdisksBus& bus, const std::string& path) {
  std::string object;
  BusError error;
  if (FindObject(bus, path, object, error) && bus.Rescan(object, error)) return SysStatus::Ok();
  return ErrnoStatus(MeansRefused(error) ? EACCES : EIO,
                     path + ": udisks2 could not re-read the partition table: " +
                         (error.name.empty() ? "no system bus" : error.name) + ": " +
                         Described(error));
}

std::string UdisksAdvice(UdisksState state) {
  switch (state) {
    case UdisksState::Reachable:
      break;
    case UdisksState::NotRunning:
      return "; or start the udisks2 service (sudo systemctl start udisks2), which writes cards "
             "as the desktop user after a password prompt";
    case UdisksState::NotInstalled:
      return "; or install udisks2 (sudo apt install udisks2), which writes cards as the "
             "desktop user after a password prompt";
  }
  return {};
}

}  // namespace tarnwick
