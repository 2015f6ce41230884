#!/usr/bin/python3
# Screens of real GTK 3 widgets and of xterm, grabbed from an X server of this script's own, each
# beside the text a reader would type from it (rows top to bottom, cells left to right; nothing for
# arrows, circles, switches and avatars). The OCR benchmark scores them; run again, it draws the same
# screens on the same fonts.
#
#   widget_screens.py FOLDER        writes FOLDER/<nn>-<name>.png and FOLDER/<nn>-<name>.txt
import atexit
import os
import random
import re
import shutil
import subprocess
import sys
import tempfile
import time

folder = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "data", "widget-screens"))
os.makedirs(folder, exist_ok=True)
work = tempfile.mkdtemp(prefix="widget-screens.")
os.chmod(work, 0o700)

# A private X server: nothing of the desktop this runs in (its theme, its window manager) takes part.
display_file = os.path.join(work, "display")
with open(display_file, "w") as out:
    xvfb = subprocess.Popen(
        ["Xvfb", "-displayfd", str(out.fileno()), "-screen", "0", "1600x1000x24", "-nolisten", "tcp"],
        pass_fds=(out.fileno(),), stderr=subprocess.DEVNULL)


# However this ends, early on a missing module or a widget that will not come up included, the
# server and the folder go with it.
def clean_up():
    if xvfb.poll() is None:
        xvfb.terminate()
        xvfb.wait()
    shutil.rmtree(work, ignore_errors=True)


atexit.register(clean_up)
for _ in range(200):
    if os.path.getsize(display_file) > 0:
        break
    time.sleep(0.05)
os.environ["DISPLAY"] = ":" + open(display_file).read().strip()
for name in ("DBUS_SESSION_BUS_ADDRESS", "WAYLAND_DISPLAY", "GTK_MODULES", "XDG_CONFIG_HOME"):
    os.environ.pop(name, None)
os.environ.update(GDK_BACKEND="x11", GDK_SCALE="1", GTK_THEME="Adwaita", NO_AT_BRIDGE="1",
                  XDG_RUNTIME_DIR=work, XDG_CONFIG_HOME=os.path.join(work, "config"))

import gi  # noqa: E402

gi.require_version("Gtk", "3.0")
gi.require_version("Gdk", "3.0")
from gi.repository import Gdk, GdkPixbuf, GLib, Gtk  # noqa: E402

settings = Gtk.Settings.get_default()
settings.set_property("gtk-xft-antialias", 1)
settings.set_property("gtk-xft-hinting", 1)
settings.set_property("gtk-xft-hintstyle", "hintslight")
settings.set_property("gtk-xft-rgba", "none")
settings.set_property("gtk-font-name", "DejaVu Sans 10")

screens = []  # (name, png path, truth)


# Style rules of the screen being built: a class per styled widget, installed for the whole screen
# (a provider on one widget does not reach its inner nodes).
rules = []


def styled(widget, declarations, classes=()):
    name = "s%d" % len(rules)
    rules.append(".%s, .%s text { %s }" % (name, name, declarations))
    for each in (name,) + tuple(classes):
        widget.get_style_context().add_class(each)
    return widget


def pump(seconds):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        while Gtk.events_pending():
            Gtk.main_iteration_do(False)
        time.sleep(0.01)


def stable_grab(gdk_window, width, height):
    # The same picture twice in a row: everything is drawn.
    last = None
    for _ in range(100):
        pump(0.08)
        Gdk.Display.get_default().sync()
        pixbuf = Gdk.pixbuf_get_from_window(gdk_window, 0, 0, width, height)
        data = pixbuf.get_pixels() if pixbuf else None
        if data is not None and data == last:
            return pixbuf
        last = data
    raise RuntimeError("the window never settled")


def save(name, pixbuf, truth):
    index = len(screens) + 1
    path = os.path.join(folder, "%02d-%s.png" % (index, name))
    pixbuf.savev(path, "png", [], [])
    lines = [line.rstrip() for line in truth.strip("\n").split("\n")]
    with open(os.path.join(folder, "%02d-%s.txt" % (index, name)), "w", encoding="utf-8") as out:
        out.write("\n".join(lines) + "\n")
    screens.append(name)


def gtk_screen(name, child, truth, page="#ffffff", font="DejaVu Sans", size=13, padding=14):
    window = Gtk.Window(title=name)
    provider = Gtk.CssProvider()
    provider.load_from_data(("* { font-family: '%s'; font-size: %dpx; } window { background: %s; }\n"
                             % (font, size, page) + "\n".join(rules)).encode())
    rules.clear()
    screen = Gdk.Screen.get_default()
    Gtk.StyleContext.add_provider_for_screen(screen, provider, Gtk.STYLE_PROVIDER_PRIORITY_APPLICATION)
    child.set_margin_start(padding)
    child.set_margin_end(padding)
    child.set_margin_top(padding)
    child.set_margin_bottom(padding)
    window.add(child)
    window.move(0, 0)
    window.show_all()
    pump(0.3)
    allocation = window.get_allocation()
    pixbuf = stable_grab(window.get_window(), allocation.width, allocation.height)
    window.destroy()
    Gtk.StyleContext.remove_provider_for_screen(screen, provider)
    pump(0.05)
    save(name, pixbuf, truth)


def label(text, markup=False, xalign=0.0, classes=(), style=""):
    widget = Gtk.Label()
    if markup:
        widget.set_markup(text)
    else:
        widget.set_text(text)
    widget.set_xalign(xalign)
    if style or classes:
        styled(widget, style, classes)
    return widget


def grid(rows, column_spacing=18, row_spacing=10):
    table = Gtk.Grid(column_spacing=column_spacing, row_spacing=row_spacing)
    for r, cells in enumerate(rows):
        for c, cell in enumerate(cells):
            if cell is None:
                continue
            table.attach(label(cell) if isinstance(cell, str) else cell, c, r, 1, 1)
    return table


def column(*children, spacing=10):
    box = Gtk.Box(orientation=Gtk.Orientation.VERTICAL, spacing=spacing)
    for child in children:
        box.pack_start(child, False, False, 0)
    return box


def row(*children, spacing=10):
    box = Gtk.Box(orientation=Gtk.Orientation.HORIZONTAL, spacing=spacing)
    for child in children:
        box.pack_start(child, False, False, 0)
    return box


def tree(headers, rows, right=(), grid_lines=False, widths=None):
    store = Gtk.ListStore(*([str] * len(headers)))
    for cells in rows:
        store.append(cells)
    view = Gtk.TreeView(model=store)
    if grid_lines:
        view.set_grid_lines(Gtk.TreeViewGridLines.BOTH)
    for index, title in enumerate(headers):
        renderer = Gtk.CellRendererText()
        if index in right:
            renderer.set_property("xalign", 1.0)
        tree_column = Gtk.TreeViewColumn(title, renderer, text=index)
        if index in right:
            tree_column.set_alignment(1.0)
        if widths:
            tree_column.set_min_width(widths[index])
        view.append_column(tree_column)
    view.get_selection().set_mode(Gtk.SelectionMode.NONE)
    return view


def noise_pixbuf(width, height, mean, spread, seed):
    generator = random.Random(seed)
    pixels = bytearray()
    for _ in range(width * height):
        v = max(0, min(255, int(generator.gauss(mean, spread))))
        pixels += bytes((v, v, v))
    return GdkPixbuf.Pixbuf.new_from_bytes(GLib.Bytes.new(bytes(pixels)), GdkPixbuf.Colorspace.RGB,
                                           False, 8, width, height, width * 3)


def table_truth(rows):
    return "\n".join(" ".join(cell for cell in cells if cell) for cells in rows)


# --- GTK 3 widgets --------------------------------------------------------------------------------

# A confirmation dialog: heading, body, rounded buttons.
buttons = row(Gtk.Button(label="Cancel"), styled(Gtk.Button(label="Move to Trash"), "", ("destructive-action",)))
buttons.set_halign(Gtk.Align.END)
gtk_screen("dialog", column(
    label("<b>Move 3 items to the Trash?</b>", markup=True, style="font-size: 15px;"),
    label("report_2024-03.ods, scan-0412.pdf and notes.txt will be removed."),
    label("Free space after this: 118.4 GB of 512 GB"),
    buttons, spacing=12),
    "Move 3 items to the Trash?\nreport_2024-03.ods, scan-0412.pdf and notes.txt will be removed.\n"
    "Free space after this: 118.4 GB of 512 GB\nCancel Move to Trash")

# A preferences form: combo boxes, spin buttons, switches, radio and check buttons. Only the labels
# and values are text.
combo = Gtk.ComboBoxText()
for choice in ("Medium", "Large"):
    combo.append_text(choice)
combo.set_active(0)
spin = Gtk.SpinButton.new(Gtk.Adjustment(value=-71.2, lower=-500, upper=500, step_increment=0.1), 0.1, 1)
offset = Gtk.SpinButton.new(Gtk.Adjustment(value=-4.1, lower=-50, upper=50, step_increment=0.1), 0.1, 1)
switch = Gtk.Switch(active=True, halign=Gtk.Align.START)
switch_off = Gtk.Switch(active=False, halign=Gtk.Align.START)
first = Gtk.RadioButton.new_with_label(None, "Celsius")
second = Gtk.RadioButton.new_with_label_from_widget(first, "Fahrenheit")
gtk_screen("preferences", grid([
    ["Text size", combo],
    ["Temperature offset", spin],
    ["Calibration", offset],
    ["Sync over mobile data", switch],
    ["Show seconds", switch_off],
    ["Units", row(first, second)],
    [None, Gtk.CheckButton(label="Round to 0.5 degrees", active=True)],
], row_spacing=8),
    "Text size Medium\nTemperature offset -71.2\nCalibration -4.1\nSync over mobile data\nShow seconds\n"
    "Units Celsius Fahrenheit\nRound to 0.5 degrees")

# A list of accounts with right-aligned signed amounts.
ledger = [["Groceries", "2024-03-02", "-71.20"], ["Salary", "2024-03-01", "2,450.00"],
          ["Refund #4471", "2024-02-28", "+13.75"], ["Bank fee", "2024-02-27", "-4.10"],
          ["Interest", "2024-02-26", "0.05"], ["Transfer to savings", "2024-02-25", "-1,000.00"],
          ["Coffee", "2024-02-24", "-3.5"]]
gtk_screen("ledger", tree(["Description", "Date", "Amount"], ledger, right=(2,)),
           table_truth([["Description", "Date", "Amount"]] + ledger), padding=0)

# A spreadsheet-like grid: column letters, row numbers, decimals and signs.
sheet_rows = [["1", "Station", "Min", "Max", "Delta"], ["2", "Oslo", "-12.5", "4.0", "16.5"],
              ["3", "Tromso", "-18.25", "-2.75", "15.5"], ["4", "Bergen", "1.5", "7.8", "6.3"],
              ["5", "Average", "-9.75", "3.02", "12.77"]]
gtk_screen("sheet", tree(["", "A", "B", "C", "D"], sheet_rows, right=(0, 2, 3, 4), grid_lines=True,
                         widths=[28, 90, 70, 70, 70]),
           table_truth([["A", "B", "C", "D"]] + sheet_rows), padding=0)

# Links and e-mail addresses as labels show them: underlined, coloured.
gtk_screen("links", column(
    label("Mirror: <a href='ftp://mirror.example.org/pub/linux/6.6.12/'>ftp://mirror.example.org/pub/linux/6.6.12/</a>", markup=True),
    label("Merge request: <a href='https://git.example.io/team/app/-/merge_requests/418'>https://git.example.io/team/app/-/merge_requests/418</a>", markup=True),
    label("Contact <a href='mailto:maria.lopez@example.com'>maria.lopez@example.com</a> or ops-team+alerts@mail.example.net", markup=True),
    label("Docs: https://docs.example.org/v2/api_reference#get_user_by_id", markup=False),
    spacing=8),
    "Mirror: ftp://mirror.example.org/pub/linux/6.6.12/\n"
    "Merge request: https://git.example.io/team/app/-/merge_requests/418\n"
    "Contact maria.lopez@example.com or ops-team+alerts@mail.example.net\n"
    "Docs: https://docs.example.org/v2/api_reference#get_user_by_id")

# Rounded tag chips beside a title.
chip_style = "background: %s; color: %s; border-radius: 9px; padding: 2px 8px;"
chips = row(*[styled(label(text), chip_style % colours) for text, colours in (
    ("ci/cd", ("#dbeafe", "#1e40af")), ("k8s", ("#dcfce7", "#166534")),
    ("v2.4.0-rc3", ("#fef3c7", "#92400e")), ("needs-review", ("#fee2e2", "#991b1b")))], spacing=6)
gtk_screen("chips", column(label("<b>Deploy pipeline for staging</b>", markup=True), chips,
                           label("Updated 3 min ago by build_bot"), spacing=8),
           "Deploy pipeline for staging\nci/cd k8s v2.4.0-rc3 needs-review\nUpdated 3 min ago by build_bot")

# Dark-themed chips, rounded buttons.
dark_chips = row(*[styled(label(text), chip_style % ("#374151", "#e5e7eb")) for text in
                   ("bug", "p1", "linux-6.6", "wontfix?")], spacing=6)
gtk_screen("chips-dark", column(label("Issue #5120: crash on resume", style="color: #f3f4f6;"), dark_chips,
                                row(styled(Gtk.Button(label="Close issue"), "border-radius: 14px;"),
                                    styled(Gtk.Button(label="Comment"), "border-radius: 14px;")),
                                spacing=8),
           "Issue #5120: crash on resume\nbug p1 linux-6.6 wontfix?\nClose issue Comment", page="#111827")

# 9 and 10 px interface text.
small = [["Name", "Size", "Kind", "Modified"], ["backup_2024-03-12.tar.gz", "1.2 GB", "Archive", "12:04"],
         ["IMG_0412.jpg", "3.4 MB", "Image", "Yesterday"], ["notes-v2.md", "14 kB", "Text", "Mon 09:15"],
         ["build.log", "221 kB", "Log", "Sun 23:59"]]
for px in (9, 10):
    gtk_screen("small-%dpx" % px, grid(small, column_spacing=16, row_spacing=4), table_truth(small), size=px,
               padding=8)
gtk_screen("status-9px", column(
    label("Ln 214, Col 37 | Spaces: 4 | UTF-8 | LF | C++"),
    label("3 errors, 12 warnings - last build 00:41:07 (-2.3 s)"), spacing=4),
    "Ln 214, Col 37 | Spaces: 4 | UTF-8 | LF | C++\n3 errors, 12 warnings - last build 00:41:07 (-2.3 s)",
    size=9, padding=6, page="#f0f0f0")

# Light text on dark grey noise, and a stretch of noise with nothing on it.
noise = Gtk.Overlay()
noise.add(Gtk.Image.new_from_pixbuf(noise_pixbuf(520, 150, 62, 16, 7)))
words = column(label("Night build finished in 4 min 12 s", style="color: #eeeeee;"),
               label("Artifacts: 38 files, 1.7 GB", style="color: #eeeeee;"), spacing=10)
words.set_margin_start(16)
words.set_margin_top(16)
words.set_halign(Gtk.Align.START)
words.set_valign(Gtk.Align.START)
noise.add_overlay(words)
gtk_screen("dark-noise", noise, "Night build finished in 4 min 12 s\nArtifacts: 38 files, 1.7 GB", padding=0)
gtk_screen("noise-only", Gtk.Image.new_from_pixbuf(noise_pixbuf(300, 90, 70, 22, 11)), "", padding=0)

# Faint grey text beside dark text.
gtk_screen("faint", grid([
    [label("Release", style="color: #222;"), label("v3.8.1-rc3, built 2024-03-12 04:17 UTC", style="color: #a8a8a8;")],
    [label("Commit", style="color: #222;"), label("9f3c2e1 #4471: fix race in cache.flush()", style="color: #a8a8a8;")],
    [label("Path", style="color: #222;"), label("/srv/builds/app/release_3.8/", style="color: #a8a8a8;")],
    [label("Mirror", style="color: #222;"), label("user@mirror.example.org:22", style="color: #a8a8a8;")],
], row_spacing=6),
    "Release v3.8.1-rc3, built 2024-03-12 04:17 UTC\nCommit 9f3c2e1 #4471: fix race in cache.flush()\n"
    "Path /srv/builds/app/release_3.8/\nMirror user@mirror.example.org:22")

# Bright coloured text on a cream ground: readable, nearly no contrast in brightness.
gtk_screen("cyan-on-cream", column(
    label("Status: <span foreground='#4fd6e0'>connected (HEAD -&gt; main, origin/main)</span>", markup=True),
    label("<span foreground='#f5c400'>Warning: disk 91% full</span>", markup=True),
    label("<span foreground='#7ee081'>Passed: 412 of 415 tests</span>", markup=True), spacing=8),
    "Status: connected (HEAD -> main, origin/main)\nWarning: disk 91% full\nPassed: 412 of 415 tests",
    page="#fdf6e3")

# A list with avatars and radio buttons.
def person(colour, name, mail):
    avatar = styled(Gtk.Box(), "background: %s; border-radius: 16px; min-width: 32px; min-height: 32px;"
                    % colour)
    return row(avatar, column(label("<b>%s</b>" % name, markup=True), label(mail), spacing=2), spacing=10)


gtk_screen("people", column(person("radial-gradient(circle, #f6ad55, #c05621)", "Maria Lopez", "maria.lopez@example.com"),
                            person("#4299e1", "Jonas Berg", "j.berg@example.org"),
                            person("radial-gradient(circle, #9ae6b4, #2f855a)", "Erik Svensson", "erik_s@mail.example.net"),
                            spacing=10),
           "Maria Lopez\nmaria.lopez@example.com\nJonas Berg\nj.berg@example.org\nErik Svensson\n"
           "erik_s@mail.example.net")

radio_a = Gtk.RadioButton.new_with_label(None, "Every 15 minutes")
radio_b = Gtk.RadioButton.new_with_label_from_widget(radio_a, "Hourly")
radio_c = Gtk.RadioButton.new_with_label_from_widget(radio_a, "Daily at 02:00")
gtk_screen("radios", column(label("<b>Back up</b>", markup=True), radio_a, radio_b, radio_c,
                            Gtk.CheckButton(label="Skip on battery"), Gtk.CheckButton(label="Keep 7 copies", active=True),
                            spacing=4),
           "Back up\nEvery 15 minutes\nHourly\nDaily at 02:00\nSkip on battery\nKeep 7 copies")

# Code in a text view.
code = ("def scale(values, factor=-0.5):\n"
        "    total = sum(v * factor for v in values)\n"
        "    if total <= -1e-3 or total >= 1_000:\n"
        "        return round(total / len(values), 2)\n"
        "    return max_value - min_value  # a_b, x/y\n")
view = Gtk.TextView(editable=False, cursor_visible=False, monospace=True)
view.get_buffer().set_text(code)
styled(view, "font-family: 'DejaVu Sans Mono'; font-size: 12px; background: #fafafa;")
gtk_screen("code", view, code, padding=0)

# A header bar with a search entry and a notebook of settings.
notebook = Gtk.Notebook()
for title, body in (("General", "Proxy: http://10.0.0.12:3128/"), ("Network", ""), ("About", "")):
    notebook.append_page(label(body) if body else Gtk.Box(), Gtk.Label(label=title))
entry = Gtk.Entry(text="status:open label:bug -author:bot")
gtk_screen("tabs-entry", column(entry, notebook, spacing=8),
           "status:open label:bug -author:bot\nGeneral Network About\nProxy: http://10.0.0.12:3128/")


# --- xterm ----------------------------------------------------------------------------------------

def xterm_screen(name, text, columns=80, font="DejaVu Sans Mono", size=10, background="#ffffff",
                 foreground="#1e1e1e", colours=None):
    content = os.path.join(work, "content")
    marker = os.path.join(work, "marker")
    if os.path.exists(marker):
        os.remove(marker)
    with open(content, "w", encoding="utf-8") as out:
        out.write("\033[?25l" + text.rstrip("\n"))
    rows = text.rstrip("\n").count("\n") + 1
    resources = []
    for index, colour in (colours or {}).items():
        resources += ["-xrm", "XTerm*color%d: %s" % (index, colour)]
    terminal = subprocess.Popen(
        ["xterm", "-geometry", "%dx%d+0+0" % (columns, rows), "-fa", font, "-fs", str(size), "-bg", background,
         "-fg", foreground, "+sb", "-b", "6", "-bw", "0", "-xrm", "XTerm*renderFont: true",
         "-xrm", "XTerm*boldMode: false"] + resources +
        ["-e", "sh", "-c", 'cat "$0"; echo "$WINDOWID" > "$1"; exec sleep 600', content, marker],
        stderr=subprocess.DEVNULL)
    for _ in range(400):
        if os.path.exists(marker) and open(marker).read().strip():
            break
        time.sleep(0.025)
    # The terminal sits at the screen's corner (no window manager moves it): its part of the screen.
    info = subprocess.run(["xwininfo", "-id", open(marker).read().strip()], capture_output=True, text=True).stdout
    width = int(re.search(r"Width: (\d+)", info).group(1))
    height = int(re.search(r"Height: (\d+)", info).group(1))
    pixbuf = stable_grab(Gdk.get_default_root_window(), width, height)
    terminal.terminate()
    terminal.wait()
    save(name, pixbuf, re.sub(r"\033\[[0-9;?]*[A-Za-z]", "", text))


E = "\033["
xterm_screen("git-log", "".join("%s33m%s%sm %s\n" % (E, sha, E, rest) for sha, rest in (
    ("a1b2c3d", "%s1;96m(HEAD -> main, origin/main)%s0m Fix rounding of -0.5 in totals" % (E, E)),
    ("e4f5a6b", "Merge branch 'feature/k8s-probes' into main"),
    ("0c9d8e7", "%s1;96m(tag: v2.4.0-rc3)%s0m Bump version to 2.4.0-rc3" % (E, E)),
    ("77f10aa", "docs: link https://example.org/guide#setup_1"),
)), columns=78, background="#fdf6e3", foreground="#403c32", colours={3: "#b58900", 14: "#5ee7f0"})

xterm_screen("diff-9px", (
    "%s1mdiff --git a/src/cache.c b/src/cache.c%s0m\n"
    "%s36m@@ -12,7 +12,7 @@%s0m static int flush(void)\n"
    "   int count = 0;\n"
    "%s31m-  double limit = -71.2;%s0m\n"
    "%s31m-  size_t max_len = 4096;%s0m\n"
    "%s32m+  double limit = -4.1;%s0m\n"
    "%s32m+  size_t max_len = 8192;%s0m\n"
    "   return count - 1;\n") % ((E, E) * 6), columns=60, size=7)

xterm_screen("ls-dark", (
    "$ ls -l --color /srv/data\n"
    "total 24\n"
    "drwxr-xr-x 2 maria staff 4096 Mar 12 10:14 %s1;34mbackups%s0m\n"
    "-rw-r--r-- 1 maria staff 8133 Mar 12 10:14 build_2024-03.log\n"
    "-rwxr-xr-x 1 maria staff  912 Mar  2 09:58 %s1;32mdeploy.sh%s0m\n"
    "lrwxrwxrwx 1 maria staff   18 Feb 28 17:30 %s1;36mcurrent%s0m -> releases/v2.4.0\n"
    "-rw------- 1 maria staff  226 Jan 31 23:59 .env.local\n") % ((E, E) * 3),
    columns=70, background="#1c1c1c", foreground="#d0d0d0")

xterm_screen("compiler", (
    "src/net/http_client.cpp:214:37: %s1;35mwarning:%s0m unused variable 'retry_count'\n"
    "src/net/http_client.cpp:301:5: %s1;31merror:%s0m expected ';' before '}' token\n"
    "In file included from include/app/config.h:12,\n"
    "                 from src/main.cpp:3:\n"
    "ninja: build stopped: subcommand failed (exit 1).\n") % ((E, E) * 2),
    columns=84, size=9)

xterm_screen("numbers", (
    "  region        q1        q2      change\n"
    "  north     1204.50    980.25     -18.6%\n"
    "  south       71.20    -71.20    -200.0%\n"
    "  east        -4.10      3.75    +191.5%\n"
    "  west         0.05      0.50    +900.0%\n"
    "  total     1275.65    913.30     -28.4%\n"), columns=44)

xterm_screen("urls", (
    "Cloning into 'app'...\n"
    "remote: See https://git.example.io/team/app/-/merge_requests/418\n"
    "Downloading ftp://mirror.example.org/pub/linux/6.6.12/linux-6.6.12.tar.xz\n"
    "Report bugs to <bugs@example.org> or ops-team+alerts@mail.example.net.\n"), columns=76)

xterm_screen("dim-json", (
    '%s2m# response in 0.042 s%s0m\n'
    '{"id": 4471, "ok": true, "delta": -0.25, "tags": ["ci/cd", "k8s"],\n'
    ' "owner": "maria_lopez", "url": "https://api.example.com/v1/items?page=2"}\n') % (E, E),
    columns=74, background="#ffffff", foreground="#222222")

xterm_screen("prompt-dark", (
    "%s1;32mmaria@build-01%s0m:%s1;34m~/src/app%s0m$ make test -j4\n"
    "[ 42%%] Building CXX object src/CMakeFiles/core.dir/parser.cpp.o\n"
    "[100%%] Linking CXX executable bin/app_tests\n"
    "Ran 128 tests in 3.071 s: 127 passed, 1 failed (-1 since last run)\n") % ((E, E) * 2),
    columns=70, background="#282c34", foreground="#abb2bf")

# Selected text as a browser and GTK show it: white on the selection's blue, starting and ending
# within lines, beside dark text on white on the same lines.
def selected_text(text, start, end, font, size):
    view = Gtk.TextView(editable=False, cursor_visible=False, left_margin=12, right_margin=12,
                        top_margin=10, bottom_margin=10)
    buffer = view.get_buffer()
    buffer.set_text(text)
    selection = buffer.create_tag("selection", background="#3584e4", foreground="#ffffff")
    buffer.apply_tag(selection, buffer.get_iter_at_offset(text.index(start)),
                     buffer.get_iter_at_offset(text.index(end) + len(end)))
    styled(view, "font-family: '%s'; font-size: %dpx; background: #ffffff; color: #1f1f1f;" % (font, size))
    return view


page_text = ("Release notes for version 2.4.0-rc3, published 2024-03-12 by maria_lopez.\n"
             "The cache is flushed every 15 s; a limit of -71.2 MB no longer wraps to 4096.\n"
             "Downloads moved to https://git.example.io/team/app/-/releases (see #4471).\n"
             "Report problems to bugs@example.org, or read the guide's setup_1 section.\n"
             "Average latency fell from 221 ms to 3.4 ms (-98.5%) on the test machine.\n")
gtk_screen("selected-page", selected_text(page_text, "published", "(see #4471)", "DejaVu Serif", 15),
           page_text, padding=0)
gtk_screen("selected-lines", selected_text(page_text, "The cache", "guide's", "DejaVu Sans", 13),
           page_text, padding=0)

selected_rows = [["report_2024-03.ods", "118.4 kB", "-4.10"], ["scan-0412.pdf", "3.4 MB", "+13.75"],
                 ["notes.txt", "221 kB", "0.05"], ["build_2024-03.log", "8.1 kB", "-1,000.00"]]
selected_tree = tree(["Name", "Size", "Change"], selected_rows, right=(1, 2))
selected_tree.get_selection().set_mode(Gtk.SelectionMode.MULTIPLE)
for index in (1, 2):
    selected_tree.get_selection().select_path(Gtk.TreePath.new_from_indices([index]))
rules.append("treeview.view:selected, treeview.view:selected:backdrop, treeview.view:selected:focus "
             "{ background-color: #3584e4; color: #ffffff; }")
gtk_screen("selected-rows", selected_tree, table_truth([["Name", "Size", "Change"]] + selected_rows), padding=0)

# The same kinds again at other sizes, fonts and colours, so that the set is not read to itself.
gtk_screen("people-noto-15", column(person("#805ad5", "Ana Costa", "a.costa@example.net"),
                                    person("radial-gradient(circle, #fbd38d, #dd6b20)", "Kenji Ito", "k.ito@mail.example.jp"),
                                    person("#38a169", "Dev Ops", "dev_ops@example.org"), spacing=10),
           "Ana Costa\na.costa@example.net\nKenji Ito\nk.ito@mail.example.jp\nDev Ops\ndev_ops@example.org",
           font="Noto Sans", size=15)

code_14 = ("MAX_RETRY_COUNT = 1_000_000\n"
           "def load_config(path, *, strict=False):\n"
           "    x_1 = y_2 - 0.25 * z__3\n"
           "    return {\"owner\": \"dev_ops\", \"limit\": -4096}\n")
view_14 = Gtk.TextView(editable=False, cursor_visible=False, monospace=True)
view_14.get_buffer().set_text(code_14)
styled(view_14, "font-family: 'Liberation Mono'; font-size: 14px; background: #272822; color: #f8f8f2;")
gtk_screen("code-dark-14", view_14, code_14, padding=0)

xterm_screen("numbers-12", (
    "  item        before     after    change\n"
    "  disk         512.0     498.5     -2.6%%\n"
    "  memory        0.75      6.90   +820.0%%\n"
    "  swap         -1.00      0.00   +100.0%%\n"
    "  load          3.60      0.09    -97.5%%\n") % (), columns=42, font="Liberation Mono", size=12)

xterm_screen("mail-13", (
    "Send patches to <patches@lists.example.org> or help_desk@example.net.\n"
    "See %s4mhttps://example.net/docs/setup_2#install_steps%s0m for j.doe@example.com\n") % (E, E),
    columns=74, font="Noto Mono", size=13, background="#eef2f7", foreground="#2d3748")

xterm_screen("diff-8px", (
    "%s36m@@ -40,6 +40,6 @@%s0m\n"
    "   int total = 0;\n"
    "%s31m-  float ratio = 0.5;%s0m\n"
    "%s32m+  float ratio = -0.25;%s0m\n"
    "   return total + 60;\n") % ((E, E) * 3), columns=40, size=8)

print("%d screens in %s" % (len(screens), folder))
