#!/usr/bin/python3
"""A stand-in for udisks2 on a private D-Bus bus, for the tests of writing
cards without root.

It owns org.freedesktop.UDisks2 on the bus at --bus and serves the manager
object (ResolveDevice) and one block device object for --device, whose
OpenDevice hands out a descriptor of --open (the test's own loop device or
card image, opened by this process) and whose Rescan is recorded. With
--refuse NAME every OpenDevice is answered with that D-Bus error, as udisks2
answers when polkit refuses the authorization. Every call is appended to
--log as one line; "ready" is written there once the name is owned.
"""
import argparse
import os

import dbus
import dbus.mainloop.glib
import dbus.service
from gi.repository import GLib

MANAGER = "org.freedesktop.UDisks2.Manager"
BLOCK = "org.freedesktop.UDisks2.Block"
ALLOWED_FLAGS = os.O_EXCL | os.O_SYNC | os.O_DIRECT | os.O_CLOEXEC | os.O_NONBLOCK


def object_path(device):
    name = os.path.basename(device)
    escaped = "".join(c if c.isalnum() else "_%02x" % ord(c) for c in name)
    return "/org/freedesktop/UDisks2/block_devices/" + escaped


class CallLog:
    def __init__(self, path):
        self.path = path

    def write(self, line):
        with open(self.path, "a", encoding="utf-8") as f:
            f.write(line + "\n")


def bus_error(name, message):
    error = dbus.exceptions.DBusException(message)
    error._dbus_error_name = name
    return error


class Manager(dbus.service.Object):
    def __init__(self, bus, device, log):
        super().__init__(bus, "/org/freedesktop/UDisks2/Manager")
        self.device = device
        self.log = log

    @dbus.service.method(MANAGER, in_signature="a{sv}a{sv}", out_signature="ao")
    def ResolveDevice(self, devspec, options):
        path = str(devspec.get("path", ""))
        self.log.write("ResolveDevice " + path)
        if os.path.realpath(path) == os.path.realpath(self.device):
            return dbus.Array([object_path(self.device)], signature="o")
        return dbus.Array([], signature="o")


class Block(dbus.service.Object):
    def __init__(self, bus, device, target, refuse, log):
        super().__init__(bus, object_path(device))
        self.target = target
        self.refuse = refuse
        self.log = log

    @dbus.service.method(BLOCK, in_signature="sa{sv}", out_signature="h")
    def OpenDevice(self, mode, options):
        flags = int(options.get("flags", 0))
        interactive = not bool(options.get("auth.no_user_interaction", False))
        self.log.write("OpenDevice %s flags=%d interactive=%s" % (mode, flags, interactive))
        if self.refuse:
            raise bus_error(self.refuse, "Not authorized to perform operation")
        if mode not in ("r", "w", "rw"):
            raise bus_error("org.freedesktop.UDisks2.Error.Failed", "Unknown mode " + mode)
        if flags & ~ALLOWED_FLAGS:
            raise bus_error("org.freedesktop.UDisks2.Error.Failed", "Unsupported flags")
        access = {"r": os.O_RDONLY, "w": os.O_WRONLY, "rw": os.O_RDWR}[mode]
        try:
            fd = os.open(self.target, access | flags | os.O_CLOEXEC)
        except OSError as e:
            raise bus_error("org.freedesktop.UDisks2.Error.Failed",
                            "Error opening device %s: %s" % (self.target, e.strerror))
        try:
            return dbus.types.UnixFd(fd)
        finally:
            os.close(fd)

    @dbus.service.method(BLOCK, in_signature="a{sv}", out_signature="")
    def Rescan(self, options):
        self.log.write("Rescan")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--bus", required=True)
    parser.add_argument("--device", required=True)
    parser.add_argument("--open", required=True)
    parser.add_argument("--log", required=True)
    parser.add_argument("--refuse", default="")
    args = parser.parse_args()

    dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
    bus = dbus.bus.BusConnection(args.bus)
    log = CallLog(args.log)
    keep = [Manager(bus, args.device, log), Block(bus, args.device, args.open, args.refuse, log)]
    bus.request_name("org.freedesktop.UDisks2", dbus.bus.NAME_FLAG_DO_NOT_QUEUE)
    log.write("ready")
    GLib.MainLoop().run()
    del keep


if __name__ == "__main__":
    main()
