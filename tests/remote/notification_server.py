#!/usr/bin/python3
# A notification service for the tests: owns org.freedesktop.Notifications on the session
# bus and writes to the file given "ready", then per Notify call: replaces_id, the id it
# returned, summary|body.
import sys

import dbus
import dbus.mainloop.glib
import dbus.service
from gi.repository import GLib


class Notifications(dbus.service.Object):
    last = 0

    @dbus.service.method("org.freedesktop.Notifications", in_signature="susssasa{sv}i",
                         out_signature="u")
    def Notify(self, app, replaces, icon, summary, body, actions, hints, timeout):
        self.last += 1
        with open(sys.argv[1], "a") as log:
            log.write(f"{replaces} {self.last} {summary}|{body}\n")
        return self.last


dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
bus = dbus.SessionBus()
service = Notifications(bus, "/org/freedesktop/Notifications")
name = dbus.service.BusName("org.freedesktop.Notifications", bus)
with open(sys.argv[1], "a") as log:
    log.write("ready\n")
GLib.MainLoop().run()
