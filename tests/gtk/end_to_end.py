#!/usr/bin/python3
"""beam-tailor end to end, read by AT-SPI; driven by xdotool on X11, by AT-SPI on Wayland. Args: PROGRAM x11|wayland"""

import contextlib
import os
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
PROMPT = "Please enter Quake 3 Path"  # the label's text, and the field's name, which it takes from the label
# Each window: caption, client width and height in twips, and its controls' roles, names and boxes.
WINDOWS = [("Note", 4380, 2085, [(LABEL, PROMPT, 240, 240, 3615, 495),
                                 (FIELD, PROMPT, 240, 720, 3135, 375), (BUTTON, "ok", 240, 1320, 1095, 375)]),
           ("Beam Tailor", 5535, 2610, [(BUTTON, "Old Q3 Skin", 240, 120, 1455, 495),
                                        (BUTTON, "GV skin", 240, 720, 1455, 495),
                                        (LABEL, CREDIT, 2160, 240, 2775, 1095),
                                        (BUTTON, "Metal Skin", 240, 1320, 1455, 495)])]
CONFIRMATIONS = {1: "Old Q3 Skin selected", 2: "Gv Skin selected", 3: "Metal Skins selected"}


def poll(what, probe):  # probe()'s first true answer in 15 s; an accessible of a program that ended errs
    for _ in range(300):
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


def descendant(accessible, name, role=None):  # the first of that name, and role if one is given
    for child in children(accessible):
        if child.get_name() == name and role in (None, child.get_role()):
            return child
        if found := descendant(child, name, role):
            return found


def layout(window):  # the form's size, and each control's role, name and box in it, in logical pixels
    form = children(window)[-1]  # on Wayland after GTK's own title bar
    origin = form.get_extents(Atspi.CoordType.WINDOW)
    boxes = []
    for child in children(form):
        box = child.get_extents(Atspi.CoordType.WINDOW)
        boxes.append((child.get_role(), child.get_name(), box.x - origin.x, box.y - origin.y, box.width, box.height))
    return (origin.width, origin.height), sorted(boxes)


def pixels(twips, text_scale):  # at the font resolution, 96 times the text scale, rounded
    return int(twips * 96 * text_scale / 1440 + 0.5)


def setUpModule():
    if WAYLAND:  # a headless mutter of the test's own (no seat: no input, no active window), in a runtime folder
        runtime = unittest.enterModuleContext(tempfile.TemporaryDirectory(prefix="beam-tailor-"))
        os.environ.update(XDG_RUNTIME_DIR=runtime, WAYLAND_DISPLAY="beam-tailor")
        mutter = unittest.enterModuleContext(subprocess.Popen(  # which waits for it once killed
            ["mutter", "--headless", "--wayland", "--no-x11", "--wayland-display=beam-tailor",
             "--virtual-monitor=1600x1200"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))
        unittest.addModuleCleanup(mutter.kill)
        poll("mutter", lambda: os.path.exists(f"{runtime}/beam-tailor"))


class EndToEnd(unittest.TestCase):
    def setUp(self):
        self.scratch = Path(self.enterContext(tempfile.TemporaryDirectory(prefix="beam-tailor-gtk-")))
        # The game folder named in Latin-1, which GTK cannot show: "quäke 3" with a-umlaut as the byte E4.
        self.home, self.game = self.scratch / "home", self.scratch / os.fsdecode(b"qu\xe4ke 3")
        self.path_file, self.mod = self.home / ".q3path.cfg", self.game / "grimvolt"
        self.mod.mkdir(parents=True)
        self.home.mkdir()
        (self.mod / "pakskin.pk3").write_bytes(b"PK\x03\x04 original pack\r\n\x00\xff")
        for row in (1, 2, 3):
            (self.mod / f"skindata{row}.ncx").write_bytes(bytes([row, 0, 13, 10, 255]) * (1000 * row))

    def mod_folder(self):
        return {path.name: path.read_bytes() for path in self.mod.iterdir()}

    def start(self, scale=1, text_scale=1):
        self.scale = scale
        env = dict(os.environ, HOME=str(self.home), GDK_BACKEND="wayland" if WAYLAND else "x11", GDK_SCALE=str(scale),
                   GDK_DPI_SCALE=str(text_scale))
        self.process = subprocess.Popen([PROGRAM], env=env, stdin=subprocess.DEVNULL)
        self.addCleanup(self.process.kill)
        self.app = poll("the program's accessible", lambda: [app for app in children(Atspi.get_desktop(0))
                                                             if app and app.get_process_id() == self.process.pid])[0]

    def window(self, caption, role=Atspi.Role.FRAME):
        return poll(caption, lambda: [window for window in children(self.app) if window.get_name() == caption
                                      and window.get_role() == role and has(window, Atspi.StateType.SHOWING)])[0]

    def x_window(self, caption):
        return poll(f"the X window {caption!r}", lambda: xdotool(
            "search", "--all", "--onlyvisible", "--pid", str(self.process.pid), "--name", f"^{caption}$"))

    def focus(self, control):
        poll(f"the focus on {control.get_name()!r}", lambda: has(control, Atspi.StateType.FOCUSED))

    def click(self, control):  # a real mouse click; on Wayland, which has no pointer here, the control's action
        if WAYLAND:
            control.do_action(0)
        else:
            box = control.get_extents(Atspi.CoordType.SCREEN)
            x, y = self.scale * (box.x + box.width // 2), self.scale * (box.y + box.height // 2)
            xdotool("mousemove", str(x), str(y), "click", "1")  # in order: no --sync, which waits for a move

    def close(self, window):  # its close box: on X11 the command, on Wayland the button of GTK's own title bar
        if WAYLAND:
            descendant(window, "Close").do_action(0)
        else:
            xdotool("windowactivate", "--sync", self.x_window(window.get_name()), "key", "alt+F4")
        poll("the window closed", lambda: self.process.poll() is not None or not has(window, Atspi.StateType.SHOWING))

    def answer_box(self, message):  # modal: neither window takes input until its OK
        box = self.window("Beam Tailor", Atspi.Role.ALERT)
        self.assertTrue(descendant(box, message), message)
        self.assertTrue(has(box, Atspi.StateType.MODAL))
        if not WAYLAND:  # where the window shown last is active
            poll("the box active", lambda: has(box, Atspi.StateType.ACTIVE))
        self.click(descendant(box, "OK"))
        poll("the box gone", lambda: not has(box, Atspi.StateType.SHOWING))

    def check_layout(self, windows, text_scale):  # at the text scale; on X11 then resized, which moves nothing
        for (caption, width, height, controls_in_twips), window in zip(WINDOWS, windows):
            width, height = pixels(width, text_scale), pixels(height, text_scale)
            boxes = sorted((role, name, *(pixels(twips, text_scale) for twips in box))
                           for role, name, *box in controls_in_twips)
            poll(f"{caption!r} at text scale {text_scale}: {boxes}", lambda: layout(window) == ((width, height), boxes))
            if not WAYLAND:  # where a window's size is seen and set from outside
                x_window = self.x_window(caption)
                xdotool("windowsize", x_window, str(self.scale * width * 3 // 2), str(self.scale * height // 2))
                poll("the new size", lambda: window.get_extents(Atspi.CoordType.WINDOW).width > width)
                self.assertEqual(layout(window)[1], boxes, "after a resize")

    def test_layout_at_each_scale_and_both_close_orders(self):
        typed = " /srv/Quake III, Arena "
        cases = [  # name, GDK_SCALE, GDK_DPI_SCALE, the desktop's text scaling changed while shown, window closed first
            ("scale 2, the chooser closed first", 2, 1, None, "Beam Tailor"),
            ("text scale 1.5, the desktop's 4/3 meanwhile (X11)", 1, 1.5, 4 / 3, "Note"),
        ]
        for name, scale, text_scale, desktop_text_scaling, closed_first in cases:
            with self.subTest(name):
                self.path_file.unlink(missing_ok=True)
                self.start(scale, text_scale)
                prompt, chooser = self.window("Note"), self.window("Beam Tailor")
                self.check_layout((prompt, chooser), text_scale)
                if desktop_text_scaling and not WAYLAND:  # as Xft/DPI of an XSETTINGS daemon started now
                    settings = self.scratch / "xsettingsd.conf"
                    settings.write_text(f"Xft/DPI {round(96 * desktop_text_scaling * 1024)}\n")
                    daemon = self.enterContext(subprocess.Popen(["xsettingsd", "-c", settings]))
                    self.addCleanup(daemon.kill)  # before the context's wait
                    self.check_layout((prompt, chooser), text_scale * desktop_text_scaling)
                Atspi.EditableText.set_text_contents(descendant(prompt, PROMPT, FIELD), typed)
                if closed_first == "Note":  # its close box saves nothing; the chooser's then ends the program
                    self.close(prompt)
                    self.close(chooser)
                    saved = f"{self.home}/.q3a"  # the start's default
                else:  # the prompt stays, and its "ok" (pressed by its action: the resize hid it) saves the field
                    self.close(chooser)
                    descendant(prompt, "ok").do_action(0)
                    saved = typed
                self.assertEqual(self.process.wait(15), 0)
                self.assertEqual(self.path_file.read_bytes(), saved.encode() + b"\r\n")

    def test_presses_saves_and_failures(self):
        self.path_file.write_bytes(bytes(self.game) + b"\r\n")
        self.start()
        prompt, chooser = self.window("Note"), self.window("Beam Tailor")
        field = descendant(prompt, PROMPT, FIELD)
        if not WAYLAND:  # the prompt shown last, active, with the caret in its field, where Enter presses nothing
            self.focus(field)
            xdotool("key", "Return", "Tab")  # once a Tab has moved the focus on, nothing is saved
            self.focus(descendant(prompt, "ok"))
            xdotool("key", "Tab")
            self.focus(field)
        self.assertEqual(self.path_file.read_bytes(), bytes(self.game) + f"\r\n{self.home}/.q3a\r\n".encode())
        shown = Atspi.Text.get_text(field, 0, -1)  # an accessible's own get_text differs in 2.56
        self.assertEqual(shown, bytes(self.game).decode(errors="replace"))  # not UTF-8: replacement characters
        presses = [("click", "Metal Skin", 3), ("click", "Old Q3 Skin", 1), ("click", "GV skin", 2)]
        if not WAYLAND:  # keys: Space on the button clicked last, then Tab and Enter on the next one
            presses += [("keys", "space", 2), ("keys", "Tab Return", 3)]
        before = self.mod_folder()
        for how, what, row in presses:
            if how == "click":
                self.click(descendant(chooser, what))
            else:
                xdotool("key", *what.split())
            self.answer_box(CONFIRMATIONS[row])
            self.assertEqual(self.mod_folder(), dict(before, **{"pakskin.pk3": before[f"skindata{row}.ncx"]}), what)
        # "ok" with the field as shown saves the folder's own bytes.
        self.click(descendant(prompt, "ok"))
        poll("the prompt closed", lambda: not has(prompt, Atspi.StateType.SHOWING))
        self.assertEqual(self.path_file.read_bytes(), bytes(self.game) + b"\r\n")
        # A failure is reported, and ends the program: here a skin missing.
        (self.mod / "skindata2.ncx").unlink()
        self.click(descendant(chooser, "GV skin"))
        self.answer_box(f"Error 2: No such file or directory\n{bytes(self.mod).decode(errors='replace')}/skindata2.ncx")
        self.assertEqual(self.process.wait(15), 0)


if __name__ == "__main__":
    unittest.main()
