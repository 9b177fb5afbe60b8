#!/usr/bin/python3
"""A GlobalShortcuts backend for the portal frontend in tests, on the bus name given.

It grants what it is asked (the preferred trigger is the trigger) unless told otherwise
through com.velmora.TonvaleTest: Refuse() answers every bind with 2, Assign() reports another
trigger for one id, Activate() and Change() send the signals to the last session, Bound() tells
the preferred triggers of the last bind as "id=trigger" lines.
"""
import sys

import dbus
import dbus.service
from dbus.mainloop.glib import DBusGMainLoop
from gi.repository import GLib

IMPL = "org.freedesktop.impl.portal.GlobalShortcuts"
TEST = "com.velmora.TonvaleTest"


class Backend(dbus.service.Object):
    def __init__(self, bus):
        super().__init__(bus, "/org/freedesktop/portal/desktop")
        self.session, self.bound, self.assigned, self.refuse = "/", {}, {}, False

    @dbus.service.method(IMPL, in_signature="oosa{sv}", out_signature="ua{sv}")
    def CreateSession(self, handle, session, app_id, options):
        self.session = session
        return 0, {"session_id": dbus.String(session)}

    @dbus.service.method(IMPL, in_signature="ooa(sa{sv})sa{sv}", out_signature="ua{sv}")
    def BindShortcuts(self, handle, session, shortcuts, parent, options):
        if self.refuse:
            return 2, {}
        self.bound = {str(i): str(p.get("preferred_trigger", "")) for i, p in shortcuts}
        return 0, {"shortcuts": dbus.Array(
            [(i, {"trigger_description": self.assigned.get(i, t)}) for i, t in self.bound.items()],
            signature="(sa{sv})")}

    @dbus.service.signal(IMPL, signature="osta{sv}")
    def Activated(self, session, shortcut, timestamp, options):
        pass

    @dbus.service.signal(IMPL, signature="oa(sa{sv})")
    def ShortcutsChanged(self, session, shortcuts):
        pass

    @dbus.service.method(TEST, in_signature="")
    def Refuse(self):
        self.refuse = True

    @dbus.service.method(TEST, in_signature="ss")
    def Assign(self, shortcut, trigger):
        self.assigned[shortcut] = trigger

    @dbus.service.method(TEST, in_signature="s")
    def Activate(self, shortcut):
        self.Activated(self.session, shortcut, dbus.UInt64(0), {})

    @dbus.service.method(TEST, in_signature="ss")
    def Change(self, shortcut, trigger):
        self.ShortcutsChanged(self.session, [(shortcut, {"trigger_description": trigger})])

    @dbus.service.method(TEST, out_signature="s")
    def Bound(self):
        return "".join(f"{i}={t}\n" for i, t in sorted(self.bound.items()))


DBusGMainLoop(set_as_default=True)
bus = dbus.SessionBus()
backend = Backend(bus)
name = dbus.service.BusName(sys.argv[1], bus)
GLib.MainLoop().run()
