#!/usr/bin/python3
"""Pointer clicks and key presses injected through org.gnome.Mutter.RemoteDesktop, as a person
would give them (used to answer the desktop's consent dialog in the portal test).

usage: mutter_input.py click X,Y [X,Y ...]    left clicks at absolute positions on the monitor
       mutter_input.py key KEYSYM             press and release one keysym (hex, e.g. ff1b)
"""
import sys
import time

from gi.repository import Gio, GLib

RD, SC = 'org.gnome.Mutter.RemoteDesktop', 'org.gnome.Mutter.ScreenCast'
BTN_LEFT = 0x110
bus = Gio.bus_get_sync(Gio.BusType.SESSION, None)


def call(dest, path, iface, method, fmt=None, args=None):
    params = GLib.Variant(fmt, args) if fmt else None
    return bus.call_sync(dest, path, iface, method, params, None, 0, 5000, None).unpack()


session = call(RD, '/org/gnome/Mutter/RemoteDesktop', RD, 'CreateSession')[0]
stream = None
if sys.argv[1] == 'click':
    # Absolute pointer positions are relative to a stream of the same remote-desktop session.
    session_id = call(RD, session, 'org.freedesktop.DBus.Properties', 'Get', '(ss)', (RD + '.Session', 'SessionId'))[0]
    cast = call(SC, '/org/gnome/Mutter/ScreenCast', SC, 'CreateSession', '(a{sv})',
                ({'remote-desktop-session-id': GLib.Variant('s', session_id)},))[0]
    stream = call(SC, cast, SC + '.Session', 'RecordMonitor', '(sa{sv})', ('', {}))[0]
call(RD, session, RD + '.Session', 'Start')
time.sleep(0.5)
try:
    if sys.argv[1] == 'click':
        for position in sys.argv[2:]:
            x, y = map(float, position.split(','))
            call(RD, session, RD + '.Session', 'NotifyPointerMotionAbsolute', '(sdd)', (stream, x, y))
            time.sleep(0.2)
            for pressed in (True, False):
                call(RD, session, RD + '.Session', 'NotifyPointerButton', '(ib)', (BTN_LEFT, pressed))
            print('clicked', x, y, flush=True)
            time.sleep(0.8)
    else:
        for pressed in (True, False):
            call(RD, session, RD + '.Session', 'NotifyKeyboardKeysym', '(ub)', (int(sys.argv[2], 16), pressed))
        time.sleep(0.3)
finally:
    call(RD, session, RD + '.Session', 'Stop')
