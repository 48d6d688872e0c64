#!/usr/bin/python3
# A client with one GTK window for the desktop tests: window-client.py TITLE [PROGRAM-NAME].
# The program name becomes the window's Wayland app_id (and its class). It prints "ready" once the
# window is shown and ends when its standard input closes.
import sys

import gi

gi.require_version("Gtk", "3.0")
from gi.repository import GLib, Gtk  # noqa: E402

if len(sys.argv) > 2:
    GLib.set_prgname(sys.argv[2])
window = Gtk.Window(title=sys.argv[1])
window.set_default_size(240, 160)
window.connect("destroy", Gtk.main_quit)


def on_input(*_):
    Gtk.main_quit()
    return False


GLib.io_add_watch(0, GLib.IO_IN | GLib.IO_HUP | GLib.IO_ERR, on_input)
window.show_all()
print("ready", flush=True)
Gtk.main()
