#!/usr/bin/python3
# A GTK 3 window showing a file in a scrolled text view or list, for scrolling captures of a real
# toolkit's views. Once it has drawn itself it prints one line:
#   ready window=<X window id> region=<x>,<y>,<width>,<height>
# the region being the scrolled view in root window pixels (a list's column headers included, as a
# person outlining the list would). It quits on "quit" on its standard input or when closed.
#
#   gtk_scroll_view.py text FILE [--wrap] [--size WxH] [--pos X,Y] [--dark] [--floating] [--footer]
#   gtk_scroll_view.py list FILE [--alternate] ...   (FILE: tab-separated rows of three cells)
import argparse
import sys

import gi

gi.require_version("Gtk", "3.0")
gi.require_version("GdkX11", "3.0")
from gi.repository import Gdk, GdkX11, GLib, Gtk  # noqa: E402,F401

parser = argparse.ArgumentParser()
parser.add_argument("mode", choices=["text", "list"])
parser.add_argument("file")
parser.add_argument("--wrap", action="store_true")
parser.add_argument("--alternate", action="store_true")
parser.add_argument("--dark", action="store_true")
parser.add_argument("--floating", action="store_true", help="a round button over the view's corner")
parser.add_argument("--footer", action="store_true", help="a bar fixed over the view's bottom")
parser.add_argument("--size", default="900x800")
parser.add_argument("--pos", default="60,40")
parser.add_argument("--background", default="#fbf8ef")
options = parser.parse_args()

paper, ink, stripe = options.background, "#222222", "#e6edf6"
if options.dark:
    paper, ink, stripe = "#1e1f24", "#e4e4e4", "#2a2d35"
css = Gtk.CssProvider()
css.load_from_data(
    f"""
textview, textview text, treeview.view {{ background-color: {paper}; color: {ink};
    font-family: 'DejaVu Sans'; font-size: 11pt; }}
treeview.view:selected {{ background-color: {paper}; color: {ink}; }}
.floating {{ border-radius: 28px; min-width: 56px; min-height: 56px; padding: 0;
    background: #16a085; border: none; box-shadow: 0 2px 6px rgba(0,0,0,0.35); }}
.footer {{ background: #1e283c; color: #ffffff; padding: 12px; }}
""".encode()
)
Gtk.StyleContext.add_provider_for_screen(
    Gdk.Screen.get_default(), css, Gtk.STYLE_PROVIDER_PRIORITY_APPLICATION
)

width, height = (int(v) for v in options.size.split("x"))
x, y = (int(v) for v in options.pos.split(","))
window = Gtk.Window(title="GTK view")
window.set_default_size(width, height)
window.move(x, y)
overlay = Gtk.Overlay()
window.add(overlay)
scrolled = Gtk.ScrolledWindow()
overlay.add(scrolled)

with open(options.file, encoding="utf-8") as source:
    lines = source.read().splitlines()
if options.mode == "text":
    view = Gtk.TextView(editable=False, cursor_visible=False, left_margin=12, right_margin=12)
    if options.wrap:
        view.set_wrap_mode(Gtk.WrapMode.WORD)
    view.get_buffer().set_text("\n".join(lines))
else:
    store = Gtk.ListStore(str, str, str, str)
    for index, line in enumerate(lines):
        cells = (line.split("\t") + ["", "", ""])[:3]
        store.append(cells + [stripe if options.alternate and index % 2 else paper])
    view = Gtk.TreeView(model=store)
    for column, title in enumerate(["Item", "Status", "Number"]):
        renderer = Gtk.CellRendererText()
        if column == 2:
            renderer.set_property("xalign", 1.0)
        tree_column = Gtk.TreeViewColumn(title, renderer, text=column, cell_background=3)
        tree_column.set_expand(column != 2)
        view.append_column(tree_column)
scrolled.add(view)

if options.floating:
    button = Gtk.Button(label="")
    button.get_style_context().add_class("floating")
    button.set_halign(Gtk.Align.END)
    button.set_valign(Gtk.Align.END)
    button.set_margin_end(48)
    button.set_margin_bottom(48)
    overlay.add_overlay(button)
if options.footer:
    footer = Gtk.Label(label="Subscribe to the newsletter")
    footer.get_style_context().add_class("footer")
    footer.set_valign(Gtk.Align.END)
    footer.set_hexpand(True)
    overlay.add_overlay(footer)

window.connect("destroy", Gtk.main_quit)
reported = False


def report():
    global reported
    if reported:
        return False
    reported = True
    gdk_window = window.get_window()
    origin_x, origin_y = gdk_window.get_origin()[1:]
    allocation = scrolled.get_allocation()
    left, top = scrolled.translate_coordinates(window, 0, 0)
    print(
        "ready window=%d region=%d,%d,%d,%d"
        % (gdk_window.get_xid(), origin_x + left, origin_y + top, allocation.width, allocation.height),
        flush=True,
    )
    return False


def drawn(*_):
    # Once a frame is on screen, and a little later, so the window manager has placed it.
    GLib.timeout_add(200, report)
    return False


window.connect("map-event", drawn)


def command(channel, _condition):
    line = channel.readline()
    if not line or line.strip() == "quit":
        Gtk.main_quit()
        return False
    return True


GLib.io_add_watch(GLib.IOChannel.unix_new(sys.stdin.fileno()), GLib.IO_IN | GLib.IO_HUP, command)
window.show_all()
Gtk.main()
