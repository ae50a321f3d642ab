#!/usr/bin/python3
"""Types keys on a GNOME session through org.gnome.Mutter.RemoteDesktop, as a user's keyboard would.

usage: gnome_keys.py CHORD...   each chord is keysyms in hex joined by '+', pressed in order and
                                released in reverse ("ff1b" is Escape, "ffeb+68" Super+H)
"""
import sys
import time

from gi.repository import Gio, GLib

RD = 'org.gnome.Mutter.RemoteDesktop'
bus = Gio.bus_get_sync(Gio.BusType.SESSION, None)


def call(path, interface, method, args=None):
    return bus.call_sync(RD, path, interface, method, args, None, 0, 5000, None).unpack()


# The session belongs to this connection: Mutter takes input only from the peer that created it.
session = call('/org/gnome/Mutter/RemoteDesktop', RD, 'CreateSession')[0]
call(session, RD + '.Session', 'Start')
try:
    for chord in sys.argv[1:]:
        keysyms = [int(k, 16) for k in chord.split('+')]
        for pressed in [(k, True) for k in keysyms] + [(k, False) for k in reversed(keysyms)]:
            call(session, RD + '.Session', 'NotifyKeyboardKeysym', GLib.Variant('(ub)', pressed))
        time.sleep(0.2)
finally:
    call(session, RD + '.Session', 'Stop')
