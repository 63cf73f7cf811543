// The calls to udisks2 over the system bus, made with sd-bus of libsystemd.
#include <fcntl.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "platform/linux/udisks_open.h"

namespace tarnwick {

namespace {

constexpr const char* kBlockInterface = "org.freedesktop.UDisks2.Block";
// polkit holds OpenDevice until the user has typed the password or dismissed
// the prompt.
constexpr uint64_t kAuthorizationWaitUsec = 5ull * 60 * 1000 * 1000;

struct Bus {
  sd_bus* bus = nullptr;
  ~Bus() { sd_bus_flush_close_unref(bus); }
};

struct Reply {
  sd_bus_message* message = nullptr;
  ~Reply() { sd_bus_message_unref(message); }
};

struct CallError {
  sd_bus_error error = SD_BUS_ERROR_NULL;
  ~CallError() { sd_bus_error_free(&error); }
};

// A connection to the system bus. An interactive one lets the service ask
// the user for authorization and waits for the user's answer; the others
// keep sd-bus's default time-out.
bool Connect(Bus& bus, BusError& error, bool interactive = false) {
  if (const int r = sd_bus_open_system(&bus.bus); r < 0) {
    error = {"", std::string("cannot connect to the system bus: ") + std::strerror(-r)};
    return false;
  }
  if (interactive) {
    (void)sd_bus_set_allow_interactive_authorization(bus.bus, 1);
    (void)sd_bus_set_method_call_timeout(bus.bus, kAuthorizationWaitUsec);
  }
  return true;
}

// The error of a failed call: the bus's answer, or a local failure, which
// counts as the bus being out of reach.
void Failed(const CallError& call, int r, BusError& error) {
  if (sd_bus_error_is_set(&call.error)) {
    error = {call.error.name, call.error.message ? call.error.message : ""};
  } else {
    error = {"", std::strerror(-r)};
  }
}

void Malformed(BusError& error, int r) {
  error = {"org.freedesktop.DBus.Error.InvalidArgs",
           std::string("unexpected answer: ") + std::strerror(-r)};
}

class SdBusUdisks final : public IUdisksBus {
 public:
  bool ResolveDevice(const std::string& devicePath, std::vector<std::string>& objects,
                     BusError& error) override {
    Bus bus;
    if (!Connect(bus, error)) return false;
    CallError call;
    Reply reply;
    int r = sd_bus_call_method(bus.bus, kUdisksService, "/org/freedesktop/UDisks2/Manager",
                               "org.freedesktop.UDisks2.Manager", "ResolveDevice", &call.error,
                               &reply.message, "a{sv}a{sv}", 1, "path", "s", devicePath.c_str(), 0);
    if (r < 0) {
      Failed(call, r, error);
      return false;
    }
    objects.clear();
    if ((r = sd_bus_message_enter_container(reply.message, 'a', "o")) < 0) {
      Malformed(error, r);
      return false;
    }
    const char* object = nullptr;
    while ((r = sd_bus_message_read(reply.message, "o", &object)) > 0) objects.push_back(object);
    if (r < 0) {
      Malformed(error, r);
      return false;
    }
    return true;
  }

  bool OpenDevice(const std::string& object, int& fd, BusError& error) override {
    Bus bus;
    if (!Connect(bus, error, true)) return false;
    CallError call;
    Reply reply;
    int r =
        sd_bus_call_method(bus.bus, kUdisksService, object.c_str(), kBlockInterface, "OpenDevice",
                           &call.error, &reply.message, "sa{sv}", "rw", 2, "flags", "i",
                           static_cast<int32_t>(O_EXCL), "auth.no_user_interaction", "b", 0);
    if (r < 0) {
      Failed(call, r, error);
      return false;
    }
    int passed = -1;
    if ((r = sd_bus_message_read(reply.message, "h", &passed)) < 0) {
      Malformed(error, r);
      return false;
    }
    // The descriptor belongs to the message: keep a copy of our own.
    fd = ::fcntl(passed, F_DUPFD_CLOEXEC, 3);
    if (fd < 0) {
      error = {"org.freedesktop.DBus.Error.Failed",
               std::string("cannot keep the descriptor: ") + std::strerror(errno)};
      return false;
    }
    return true;
  }

  bool Rescan(const std::string& object, BusError& error) override {
    Bus bus;
    if (!Connect(bus, error, true)) return false;
    CallError call;
    const int r =
        sd_bus_call_method(bus.bus, kUdisksService, object.c_str(), kBlockInterface, "Rescan",
                           &call.error, nullptr, "a{sv}", 1, "auth.no_user_interaction", "b", 0);
    if (r < 0) {
      Failed(call, r, error);
      return false;
    }
    return true;
  }

  bool ServiceReachable() override {
    Bus bus;
    BusError error;
    if (!Connect(bus, error)) return false;
    CallError call;
    Reply reply;
    int owned = 0;
    if (sd_bus_call_method(bus.bus, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                           "org.freedesktop.DBus", "NameHasOwner", &call.error, &reply.message, "s",
                           kUdisksService) >= 0 &&
        sd_bus_message_read(reply.message, "b", &owned) > 0 && owned) {
      return true;
    }
    CallError listCall;
    Reply list;
    char** names = nullptr;
    if (sd_bus_call_method(bus.bus, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                           "org.freedesktop.DBus", "ListActivatableNames", &listCall.error,
                           &list.message, "") < 0 ||
        sd_bus_message_read_strv(list.message, &names) < 0 || !names) {
      return false;
    }
    bool activatable = false;
    for (char** n = names; *n; ++n) {
      activatable = activatable || std::strcmp(*n, kUdisksService) == 0;
      std::free(*n);
    }
    std::free(names);
    return activatable;
  }
};

}  // namespace

IUdisksBus& SystemUdisksBus() {
  static SdBusUdisks bus;
  return bus;
}

}  // namespace tarnwick
