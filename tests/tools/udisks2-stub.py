#!/usr/bin/python3
"""A stand-in for udisks2 on a private bus, for tests of the drive access.

    udisks2-stub.py DEVDIR MOUNTINFO MODEFILE

/dev/NAME is DEVDIR/NAME of a drive fixture tree. At start the stub opens every
node there for reading and writing, as the real service does with its rights,
so that the test may then take the rights away from the client. MODEFILE holds
one word, read on every call, that says how to answer:

    ok            grant, unmount
    refused       NotAuthorized                 noagent    NotAuthorizedCanObtain
    dismissed     NotAuthorizedDismissed        busy       opening fails with EBUSY
    unmount-busy  DeviceBusy on unmount         wrongfd    hand over another node
    slow          answer OpenDevice after 3 seconds (a password dialog open)

Every call is logged to MODEFILE.log. Prints "ready" once the name is owned.
"""
import os
import sys
import time

import dbus
import dbus.service
import dbus.mainloop.glib
from gi.repository import GLib

SERVICE = "org.freedesktop.UDisks2"
BLOCKS = "/org/freedesktop/UDisks2/block_devices"
ERROR = "org.freedesktop.UDisks2.Error."

dev_dir, mountinfo, mode_file = sys.argv[1:4]
# Each node as each request may want it, opened now while the rights are there.
nodes = {}
for name in sorted(os.listdir(dev_dir)):
    path = os.path.join(dev_dir, name)
    if os.path.isfile(path):
        nodes[name] = {"rw": os.open(path, os.O_RDWR | os.O_DSYNC | os.O_CLOEXEC),
                       "r": os.open(path, os.O_RDONLY | os.O_CLOEXEC),
                       "plain": os.open(path, os.O_RDWR | os.O_CLOEXEC)}


def mode():
    try:
        with open(mode_file) as f:
            return f.read().strip() or "ok"
    except OSError:
        return "ok"


def log(line):
    with open(mode_file + ".log", "a") as f:
        f.write(line + "\n")


def fail(name, text):
    raise dbus.exceptions.DBusException(text, name=ERROR + name)


def refuse_when_asked():
    answers = {"refused": "NotAuthorized", "noagent": "NotAuthorizedCanObtain",
               "dismissed": "NotAuthorizedDismissed"}
    if mode() in answers:
        fail(answers[mode()], "Not authorized to perform operation")


class Manager(dbus.service.Object):
    @dbus.service.method("org.freedesktop.UDisks2.Manager", in_signature="a{sv}a{sv}", out_signature="ao")
    def ResolveDevice(self, devspec, options):
        path = str(devspec.get("path", ""))
        log("ResolveDevice " + path)
        name = path[len("/dev/"):] if path.startswith("/dev/") else ""
        return [dbus.ObjectPath(BLOCKS + "/" + name)] if name in nodes else []


class Block(dbus.service.FallbackObject):
    @dbus.service.method("org.freedesktop.UDisks2.Block", in_signature="sa{sv}", out_signature="h",
                         rel_path_keyword="rel")
    def OpenDevice(self, access, options, rel):
        name = rel.lstrip("/")
        flags = int(options.get("flags", 0))
        wanted = [flag for flag in ("O_EXCL", "O_DSYNC", "O_CLOEXEC") if flags & getattr(os, flag)]
        log("OpenDevice /dev/%s %s %s interactive=%s" % (name, access, "|".join(wanted),
                                                          not options.get("auth.no_user_interaction", True)))
        if flags & (os.O_WRONLY | os.O_RDWR):
            fail("Failed", "Invalid flags: the access mode goes in the first argument")
        refuse_when_asked()
        if mode() == "slow":
            time.sleep(3)
        if mode() == "busy":
            fail("Failed", "Error opening /dev/%s: Device or resource busy" % name)
        if mode() == "wrongfd":
            name = next(other for other in nodes if other != name)
        kind = {"dropflags": "plain" if access == "rw" else "r", "readonly": "r"}.get(mode(), access)
        return dbus.types.UnixFd(nodes[name][kind])

    @dbus.service.method("org.freedesktop.UDisks2.Filesystem", in_signature="a{sv}", out_signature="",
                         rel_path_keyword="rel")
    def Unmount(self, options, rel):
        device = "/dev/" + rel.lstrip("/")
        log("Unmount " + device)
        refuse_when_asked()
        if mode() == "unmount-busy":
            fail("DeviceBusy", "Error unmounting %s: target is busy" % device)
        with open(mountinfo) as f:
            lines = f.readlines()
        kept = [line for line in lines if line.split(" - ", 1)[-1].split()[1:2] != [device]]
        if len(kept) == len(lines):
            fail("NotMounted", "Not mounted")
        with open(mountinfo, "w") as f:
            f.writelines(kept)


dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
bus = dbus.SystemBus()
name = dbus.service.BusName(SERVICE, bus)
Manager(bus, "/org/freedesktop/UDisks2/Manager")
Block(bus, BLOCKS)  # every block device object below it
print("ready", flush=True)
GLib.MainLoop().run()
