#!/usr/bin/python3
"""Pointer clicks and keys injected through org.gnome.Mutter.RemoteDesktop, as a person would
give them (the keys of the GNOME test, the answers to the consent dialog in the portal test).

usage: mutter_input.py STEP...   run in order, where a STEP is one of
  click:X,Y       a left click at an absolute position on the primary monitor
  key:KEYSYM      press and release one keysym (hex, e.g. ff1b for Escape)
  press:KEYSYM    hold a key (e.g. ffe3, Control_L, for a control-click)
  release:KEYSYM  let it go
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


def keysym(session, code, pressed):
    call(RD, session, RD + '.Session', 'NotifyKeyboardKeysym', '(ub)', (int(code, 16), pressed))


session = call(RD, '/org/gnome/Mutter/RemoteDesktop', RD, 'CreateSession')[0]
stream = None
if any(step.startswith('click:') for step in sys.argv[1:]):
    # Absolute pointer positions are relative to a stream of the same remote-desktop session.
    session_id = call(RD, session, 'org.freedesktop.DBus.Properties', 'Get', '(ss)', (RD + '.Session', 'SessionId'))[0]
    cast = call(SC, '/org/gnome/Mutter/ScreenCast', SC, 'CreateSession', '(a{sv})',
                ({'remote-desktop-session-id': GLib.Variant('s', session_id)},))[0]
    stream = call(SC, cast, SC + '.Session', 'RecordMonitor', '(sa{sv})', ('', {}))[0]
call(RD, session, RD + '.Session', 'Start')
time.sleep(0.5)
try:
    for step in sys.argv[1:]:
        kind, _, value = step.partition(':')
        if kind == 'click':
            x, y = map(float, value.split(','))
            call(RD, session, RD + '.Session', 'NotifyPointerMotionAbsolute', '(sdd)', (stream, x, y))
            time.sleep(0.2)
            for pressed in (True, False):
                call(RD, session, RD + '.Session', 'NotifyPointerButton', '(ib)', (BTN_LEFT, pressed))
            time.sleep(0.8)
        elif kind == 'key':
            keysym(session, value, True)
            keysym(session, value, False)
            time.sleep(0.3)
        elif kind in ('press', 'release'):
            keysym(session, value, kind == 'press')
            time.sleep(0.1)
        else:
            sys.exit('unknown step %r' % step)
        print('done', step, flush=True)
finally:
    call(RD, session, RD + '.Session', 'Stop')
