#!/usr/bin/python3
"""beam-tailor end to end, read by AT-SPI; driven by xdotool on X11, by AT-SPI on Wayland. Args: PROGRAM x11|wayland"""

import contextlib
import os
import signal
import subprocess
import sys
import tempfile
import time
import unittest
from pathlib import Path

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi, GLib  # noqa: E402

PROGRAM = os.path.abspath(sys.argv.pop(1))
WAYLAND = sys.argv.pop(1) == "wayland"
CREDIT = "Beam Tailor for GV 1.0,1.1 and 2.0 by Kestrel" + " " * 25 + "https://grimvolt.example.org/"
# Roles by their values: AT-SPI 2.56 renamed some (a "push button" is a "button" there).
LABEL, FIELD, BUTTON = Atspi.Role.LABEL, Atspi.Role.TEXT, Atspi.Role.PUSH_BUTTON
# Each window: caption, client width and height in twips, and its controls' roles, names and boxes.
PROMPT = "Please enter Quake 3 Path"  # the label's text, and the field's name, which it takes from the label
WINDOWS = [("Note", 4380, 2085, [(LABEL, PROMPT, 240, 240, 3615, 495),
                                 (FIELD, PROMPT, 240, 720, 3135, 375), (BUTTON, "ok", 240, 1320, 1095, 375)]),
           ("Beam Tailor", 5535, 2610, [(BUTTON, "Old Q3 Skin", 240, 120, 1455, 495),
                                        (BUTTON, "GV skin", 240, 720, 1455, 495),
                                        (LABEL, CREDIT, 2160, 240, 2775, 1095),
                                        (BUTTON, "Metal Skin", 240, 1320, 1455, 495)])]
CHOOSER_TABS = ["GV skin", "Metal Skin", "Old Q3 Skin"]  # from "Old Q3 Skin", which has the focus first
CONFIRMATIONS = {1: "Old Q3 Skin selected", 2: "Gv Skin selected", 3: "Metal Skins selected"}


def poll(what, probe):
    """probe()'s first true answer within 15 s; a program ending meanwhile may leave an accessible that errs."""
    deadline = time.monotonic() + 15
    while time.monotonic() < deadline:
        with contextlib.suppress(GLib.Error):
            if answer := probe():
                return answer
        time.sleep(0.05)
        Atspi.get_desktop(0).clear_cache()
    raise AssertionError(f"timed out waiting for {what}")


def xdotool(*arguments):
    return subprocess.run(["xdotool", *arguments], capture_output=True, text=True).stdout.strip()


def has(accessible, state):
    accessible.clear_cache()
    return accessible.get_state_set().contains(state)


def children(accessible):
    accessible.clear_cache()
    return [accessible.get_child_at_index(index) for index in range(accessible.get_child_count())]


def descendants(accessible):
    for child in children(accessible):
        yield child
        yield from descendants(child)


def controls(window):
    """A window's controls by name, the field, named as its label, as "text"; on Wayland the title bar comes first."""
    return {"text" if control.get_role() == FIELD else control.get_name(): control
            for control in children(children(window)[-1])}


def pixels(twips, text_scale):
    """Twips in logical pixels at the font resolution, 96 times the text scale, rounded."""
    return int(twips * 96 * text_scale / 1440 + 0.5)


def layout(window):
    """The client area's size, and each control's role, name and box in it, in logical pixels."""
    area = children(window)[-1].get_extents(Atspi.CoordType.WINDOW)
    return (area.width, area.height), sorted(
        (control.get_role(), control.get_name(), box.x - area.x, box.y - area.y, box.width, box.height)
        for control in controls(window).values() for box in [control.get_extents(Atspi.CoordType.WINDOW)])


def lines(label):
    found, offset = [], 0
    while offset < label.get_character_count():
        line = label.get_string_at_offset(offset, Atspi.TextGranularity.LINE)
        found.append(line.content)
        offset = line.end_offset + 1  # a line's end offset still answers that line
    return found


def text_of(accessible):
    """Its whole text, from the Text interface: under AT-SPI 2.56 an accessible's own get_text takes no arguments."""
    return Atspi.Text.get_text(accessible, 0, -1)


def set_text_scaling(factor):
    """The desktop's text scaling: GNOME's text-scaling-factor on Wayland; on X11 Xft/DPI, once the XSETTINGS
    daemon has loaded it."""
    if WAYLAND:
        SETTINGS.write_text(f"[org/gnome/desktop/interface]\ntext-scaling-factor={factor}\n")
        return
    SETTINGS.write_text(f"Xft/DPI {round(96 * factor * 1024)}\n")
    loads = XSETTINGSD_LOG.read_text().count("Loaded")
    XSETTINGSD.send_signal(signal.SIGHUP)
    poll("xsettingsd's new settings", lambda: XSETTINGSD_LOG.read_text().count("Loaded") > loads)


def setUpModule():
    """The desktop's settings, in a folder of the test's own: on X11 served by an XSETTINGS daemon; on Wayland
    read by GTK from a key file, beside a headless mutter of the test's own (no seat: no input, no active window)."""
    global SETTINGS, XSETTINGSD, XSETTINGSD_LOG
    runtime = unittest.enterModuleContext(tempfile.TemporaryDirectory(prefix="beam-tailor-"))
    if WAYLAND:
        os.environ.update(XDG_RUNTIME_DIR=runtime, WAYLAND_DISPLAY="beam-tailor", XDG_CONFIG_HOME=runtime,
                          GSETTINGS_BACKEND="keyfile")
        SETTINGS = Path(runtime, "glib-2.0", "settings", "keyfile")
        SETTINGS.parent.mkdir(parents=True)
        set_text_scaling(1)
        mutter = subprocess.Popen(["mutter", "--headless", "--wayland", "--no-x11", "--wayland-display=beam-tailor",
                                   "--virtual-monitor=1600x1200"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        unittest.addModuleCleanup(lambda: (mutter.kill(), mutter.wait()))
        poll("mutter", lambda: os.path.exists(f"{runtime}/beam-tailor"))
    else:
        SETTINGS, XSETTINGSD_LOG = Path(runtime, "xsettingsd.conf"), Path(runtime, "xsettingsd.log")
        SETTINGS.write_text(f"Xft/DPI {96 * 1024}\n")
        XSETTINGSD = subprocess.Popen(["xsettingsd", "-c", SETTINGS], stderr=XSETTINGSD_LOG.open("w"))
        unittest.addModuleCleanup(lambda: (XSETTINGSD.kill(), XSETTINGSD.wait()))
        poll("xsettingsd", lambda: "Took ownership" in XSETTINGSD_LOG.read_text())


class EndToEnd(unittest.TestCase):
    def setUp(self):
        self.scratch = Path(self.enterContext(tempfile.TemporaryDirectory(prefix="beam-tailor-gtk-")))
        self.home, self.game = self.scratch / "home", self.scratch / "quake 3"
        self.path_file, self.mod = self.home / ".q3path.cfg", self.game / "grimvolt"
        self.mod.mkdir(parents=True)
        self.home.mkdir()
        (self.mod / "pakskin.pk3").write_bytes(b"PK\x03\x04 original pack\r\n\x00\xff")
        for row in (1, 2, 3):
            (self.mod / f"skindata{row}.ncx").write_bytes(bytes([row, 0, 13, 10, 255]) * (1000 * row))

    def mod_folder(self):
        return {path.name: path.read_bytes() for path in self.mod.iterdir()}

    def start(self, scale=1, path_file=None, captions=("Note", "Beam Tailor"), text_scale=1):
        """Starts the program; waits for its X windows, and unless it shows an error, their accessibles."""
        if path_file is not None:
            self.path_file.write_bytes(path_file + b"\r\n")
        self.scale = scale
        env = dict(os.environ, HOME=str(self.home), GDK_BACKEND="wayland" if WAYLAND else "x11", GDK_SCALE=str(scale),
                   GDK_DPI_SCALE=str(text_scale))
        self.process = subprocess.Popen([PROGRAM], env=env, stdin=subprocess.DEVNULL)
        self.addCleanup(self.process.kill)
        if not WAYLAND:
            self.x_ids = poll("the windows", lambda: sorted(self.x_windows()) == sorted(captions) and self.x_windows())
        self.app = poll("the program's accessible", lambda: next(
            (app for app in children(Atspi.get_desktop(0)) if app and app.get_process_id() == self.process.pid), None))
        return [poll(caption, lambda: next((window for window in children(self.app) if window.get_name() == caption
                                            and has(window, Atspi.StateType.SHOWING)), None))
                for caption in captions if len(captions) == 2]

    def x_windows(self):
        ids = xdotool("search", "--onlyvisible", "--pid", str(self.process.pid)).split()
        return {xdotool("getwindowname", x_id): x_id for x_id in ids}

    def focus(self, control):
        poll(f"the focus on {control.get_name()!r}", lambda: has(control, Atspi.StateType.FOCUSED))

    def click(self, control):
        """A real mouse click; on Wayland, which has no pointer here, the control's own action."""
        if WAYLAND:
            return control.do_action(0)
        box = control.get_extents(Atspi.CoordType.SCREEN)
        x, y = self.scale * (box.x + box.width // 2), self.scale * (box.y + box.height // 2)
        xdotool("mousemove", "--sync", str(x), str(y), "click", "1")

    def close(self, window):
        """The close box: its command on X11, its button in the window's own title bar on Wayland."""
        (next(child for child in descendants(window) if child.get_name() == "Close").do_action(0) if WAYLAND
         else xdotool("windowactivate", "--sync", self.x_ids[window.get_name()], "key", "alt+F4"))
        poll("the window closed", lambda: self.process.poll() is not None or not has(window, Atspi.StateType.SHOWING))

    def answer_box(self, message, window_under_it=None):
        """The message box: the title and message, while a click on the window under it does nothing; OK."""
        box = poll("a message box", lambda: next((window for window in children(self.app) if has(
            window, Atspi.StateType.SHOWING) and window.get_role() == Atspi.Role.ALERT), None))
        self.assertEqual(box.get_name(), "Beam Tailor")
        poll("the box active", lambda: WAYLAND or has(box, Atspi.StateType.ACTIVE))
        labels = [text_of(child) for child in descendants(box) if child.get_role() == LABEL]
        self.assertIn(message, labels)
        if window_under_it and not WAYLAND:  # AT-SPI's press is no input, which a modal box holds back
            self.click(controls(window_under_it)["ok"])
        self.click(next(child for child in descendants(box) if child.get_name() == "OK"))
        poll("the box gone", lambda: not has(box, Atspi.StateType.SHOWING))

    def check_layout(self, windows, text_scale):
        """Waits for each window's size and boxes at the text scale; returns each label's lines."""
        label_lines = {}
        for (caption, width, height, controls_in_twips), window in zip(WINDOWS, windows):
            expected = ((pixels(width, text_scale), pixels(height, text_scale)),
                        sorted((role, name, *(pixels(twips, text_scale) for twips in box))
                               for role, name, *box in controls_in_twips))
            poll(f"{caption!r} at text scale {text_scale}: {expected}", lambda: layout(window) == expected)
            label_lines.update((label.get_name(), lines(label)) for label in controls(window).values()
                               if label.get_role() == LABEL)
        return label_lines

    def check_windows(self, scale, text_scale=1, desktop_text_scaling=1):
        """Checks both windows, with the desktop's text scaling changed while they are shown, and closes them;
        returns each label's lines."""
        prompt, chooser = self.start(scale, text_scale=text_scale)
        if not WAYLAND:  # the prompt shown last, so active and on top, with the caret in its field
            self.assertEqual(xdotool("getactivewindow"), self.x_ids["Note"])
            self.focus(controls(prompt)["text"])
        self.assertEqual(text_of(controls(prompt)["text"]), f"{self.home}/.q3a")

        label_lines = self.check_layout((prompt, chooser), text_scale)
        if desktop_text_scaling != 1:  # every box follows the text
            set_text_scaling(desktop_text_scaling)
            self.addCleanup(set_text_scaling, 1)  # at the test's end
            text_scale *= desktop_text_scaling
            label_lines = self.check_layout((prompt, chooser), text_scale)
        for (caption, width, height, controls_in_twips), window in [] if WAYLAND else zip(WINDOWS, (prompt, chooser)):
            width, height = pixels(width, text_scale), pixels(height, text_scale)
            boxes = layout(window)[1]
            self.assertIn(f"WIDTH={scale * width}\nHEIGHT={scale * height}",
                          xdotool("getwindowgeometry", "--shell", self.x_ids[caption]))
            xdotool("windowsize", self.x_ids[caption], str(scale * width * 3 // 2), str(scale * height // 2))
            poll("the new size", lambda: window.get_extents(Atspi.CoordType.WINDOW).width > width)
            self.assertEqual(layout(window)[1], boxes, "after a resize")
        # The web address is not broken after "https://".
        self.assertIn("https://grimvolt.example.org/", [line.strip() for line in label_lines[CREDIT]])

        # Tab goes round the field and "ok", and down the chooser's buttons and round (no focus on Wayland here).
        for window, names in [] if WAYLAND else [(prompt, ["ok", "text"]), (chooser, CHOOSER_TABS)]:
            xdotool("windowactivate", "--sync", self.x_ids[window.get_name()])
            for name in names:
                xdotool("key", "Tab")
                self.focus(controls(window)[name])
        self.close(prompt)  # its close box saves nothing; the chooser's ends the program
        self.close(chooser)
        self.assertEqual(self.process.wait(15), 0)
        self.assertEqual(self.path_file.read_bytes(), f"{self.home}/.q3a\r\n".encode())
        return label_lines

    def test_windows_layout_focus_and_close_boxes_at_text_scales_1_to_2_and_scale_2(self):
        """Every box grows with the text size, so that no label needs more lines than at text scale 1."""
        at_scale_1 = self.check_windows(1)
        for scale, text_scale, desktop_text_scaling in ((2, 1, 1), (1, 1.5, 4 / 3)):
            with self.subTest(scale=scale, text_scale=text_scale, desktop_text_scaling=desktop_text_scaling):
                self.path_file.unlink()
                for label, shown in self.check_windows(scale, text_scale, desktop_text_scaling).items():
                    self.assertLessEqual(len(shown), len(at_scale_1[label]), label)

    def test_keys_and_clicks_swap_and_confirm_while_neither_window_takes_input(self):
        prompt, chooser = self.start(path_file=bytes(self.game))
        if not WAYLAND:  # Enter in the field presses nothing: once a Tab has moved the focus on, nothing is saved
            self.focus(controls(prompt)["text"])
            xdotool("key", "Return", "Tab")
            self.focus(controls(prompt)["ok"])
        self.assertEqual(self.path_file.read_bytes(), f"{self.game}\r\n{self.home}/.q3a\r\n".encode())
        # Clicks, then Space on the button clicked last, and Enter on the next, reached by Tab.
        before = self.mod_folder()
        presses = ((3, "Metal Skin"), (1, "Old Q3 Skin"), (2, "GV skin"), (2, ["space"]), (3, ["Tab", "Return"]))
        for row, press in presses[:3] if WAYLAND else presses:
            self.click(controls(chooser)[press]) if isinstance(press, str) else xdotool("key", *press)
            self.answer_box(CONFIRMATIONS[row], window_under_it=prompt)
            self.assertEqual(self.mod_folder(), dict(before, **{"pakskin.pk3": before[f"skindata{row}.ncx"]}))
        # The chooser closed first leaves the prompt, whose "ok" saves exactly what the field holds.
        self.close(chooser)
        Atspi.EditableText.set_text_contents(controls(prompt)["text"], " /srv/Quake III, Arena ")
        self.click(controls(prompt)["ok"])
        self.assertEqual(self.process.wait(15), 0)
        self.assertEqual(self.path_file.read_bytes(), b" /srv/Quake III, Arena \r\n")

    def test_a_folder_named_in_other_bytes_than_utf8_is_kept_as_it_is(self):
        latin1 = bytes(self.scratch) + b"/spi\xe9le"  # "spiele" with an e-acute in Latin-1
        os.rename(bytes(self.game), latin1)
        prompt, chooser = self.start(path_file=latin1)
        self.assertEqual(text_of(controls(prompt)["text"]), f"{self.scratch}/spi\ufffdle")
        self.click(controls(chooser)["Metal Skin"])
        self.answer_box(CONFIRMATIONS[3])
        mod = Path(os.fsdecode(latin1), "grimvolt")
        self.assertEqual((mod / "pakskin.pk3").read_bytes(), (mod / "skindata3.ncx").read_bytes())
        self.click(controls(prompt)["ok"])  # the field as shown saves the folder's own bytes
        poll("the prompt closed", lambda: not has(prompt, Atspi.StateType.SHOWING))
        self.assertEqual(self.path_file.read_bytes(), latin1 + b"\r\n")

    def test_a_failed_swap_and_a_failed_start_report_the_error_and_end_the_program(self):
        (self.mod / "skindata2.ncx").unlink()
        prompt, chooser = self.start(path_file=bytes(self.game))
        self.click(controls(chooser)["GV skin"])
        self.answer_box(f"Error 2: No such file or directory\n{self.mod}/skindata2.ncx")
        self.assertEqual(self.process.wait(15), 0)
        self.home = self.scratch / "no such home"  # so no path file: only the report shows
        self.start(captions=("Beam Tailor",))
        self.answer_box(f"Error 2: No such file or directory\n{self.home}/.q3path.cfg")
        self.assertEqual(self.process.wait(15), 0)


if __name__ == "__main__":
    unittest.main()
