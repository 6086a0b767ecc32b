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


def descendant(accessible, name):
    for child in children(accessible):
        found = child if child.get_name() == name else descendant(child, name)
        if found:
            return found


def controls(window):
    """A window's controls by name, the field as "text"; on Wayland the title bar comes before the form."""
    form = children(window)[-1]
    return {"text" if control.get_role() == FIELD else control.get_name(): control for control in children(form)}


def pixels(twips, text_scale):
    """Twips in logical pixels at the font resolution, 96 times the text scale, rounded."""
    return int(twips * 96 * text_scale / 1440 + 0.5)


def layout(window):
    """The form's size, and each control's role, name and box in it, in logical pixels."""
    form = children(window)[-1].get_extents(Atspi.CoordType.WINDOW)
    boxes = []
    for control in controls(window).values():
        box = control.get_extents(Atspi.CoordType.WINDOW)
        boxes.append((control.get_role(), control.get_name(), box.x - form.x, box.y - form.y, box.width, box.height))
    return (form.width, form.height), sorted(boxes)


def setUpModule():
    """On Wayland, a headless mutter of the test's own (no seat: no input, no active window), in a runtime folder."""
    if WAYLAND:
        runtime = unittest.enterModuleContext(tempfile.TemporaryDirectory(prefix="beam-tailor-"))
        os.environ.update(XDG_RUNTIME_DIR=runtime, WAYLAND_DISPLAY="beam-tailor")
        mutter = subprocess.Popen(["mutter", "--headless", "--wayland", "--no-x11", "--wayland-display=beam-tailor",
                                   "--virtual-monitor=1600x1200"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        unittest.addModuleCleanup(mutter.wait)  # after the kill: cleanups run last first
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

    def start(self, path_file=None, scale=1, text_scale=1):
        if path_file is not None:
            self.path_file.write_bytes(path_file + b"\r\n")
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

    def start_windows(self, path_file=None, scale=1, text_scale=1):  # the prompt and the chooser, once shown
        self.start(path_file, scale, text_scale)
        return self.window("Note"), self.window("Beam Tailor")

    def x_window(self, caption):
        return poll(f"the X window {caption!r}", lambda: xdotool(
            "search", "--all", "--onlyvisible", "--pid", str(self.process.pid), "--name", f"^{caption}$"))

    def focus(self, control):
        poll(f"the focus on {control.get_name()!r}", lambda: has(control, Atspi.StateType.FOCUSED))

    def click(self, control):
        """A real mouse click; on Wayland, which has no pointer here, the control's own action."""
        if WAYLAND:
            control.do_action(0)
            return
        box = control.get_extents(Atspi.CoordType.SCREEN)
        x, y = self.scale * (box.x + box.width // 2), self.scale * (box.y + box.height // 2)
        xdotool("mousemove", str(x), str(y), "click", "1")  # in order: no --sync, which waits for a move

    def close(self, window):
        """The close box: its command on X11, its button in the window's own title bar on Wayland."""
        if WAYLAND:
            descendant(window, "Close").do_action(0)
        else:
            xdotool("windowactivate", "--sync", self.x_window(window.get_name()), "key", "alt+F4")
        poll("the window closed", lambda: self.process.poll() is not None or not has(window, Atspi.StateType.SHOWING))

    def answer_box(self, message, window_under_it=None):
        """The message box and its message, while a click on the window under it does nothing; then its OK."""
        box = self.window("Beam Tailor", Atspi.Role.ALERT)
        self.assertTrue(descendant(box, message), message)
        if not WAYLAND:  # AT-SPI's press is no input, which a modal box holds back
            poll("the box active", lambda: has(box, Atspi.StateType.ACTIVE))
            if window_under_it:
                self.click(controls(window_under_it)["ok"])
        self.click(descendant(box, "OK"))
        poll("the box gone", lambda: not has(box, Atspi.StateType.SHOWING))

    def change_text_scaling(self, factor):
        """The desktop's text scaling until the test's end, as Xft/DPI of an XSETTINGS daemon started now."""
        settings = self.scratch / "xsettingsd.conf"
        settings.write_text(f"Xft/DPI {round(96 * factor * 1024)}\n")
        daemon = subprocess.Popen(["xsettingsd", "-c", settings], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.addCleanup(daemon.wait)
        self.addCleanup(daemon.kill)

    def check_layout(self, windows, scale, text_scale):
        """Waits for each window's size and boxes at the text scale; on X11 then resizes it, which moves nothing."""
        for (caption, width, height, controls_in_twips), window in zip(WINDOWS, windows):
            width, height = pixels(width, text_scale), pixels(height, text_scale)
            boxes = sorted((role, name, *(pixels(twips, text_scale) for twips in box))
                           for role, name, *box in controls_in_twips)
            poll(f"{caption!r} at text scale {text_scale}: {boxes}", lambda: layout(window) == ((width, height), boxes))
            if not WAYLAND:  # where a window's size is seen and set from outside
                x_window = self.x_window(caption)
                self.assertIn(f"WIDTH={scale * width}\nHEIGHT={scale * height}",
                              xdotool("getwindowgeometry", "--shell", x_window))
                xdotool("windowsize", x_window, str(scale * width * 3 // 2), str(scale * height // 2))
                poll("the new size", lambda: window.get_extents(Atspi.CoordType.WINDOW).width > width)
                self.assertEqual(layout(window)[1], boxes, "after a resize")

    def test_windows_layout_and_close_boxes_at_text_scales_1_to_2_and_scale_2(self):
        """Every box grows with the text, on X11 also when the desktop's text scaling changes while it is shown."""
        for scale, text_scale, desktop_text_scaling in [(1, 1, 1), (2, 1, 1), (1, 1.5, 4 / 3)]:
            with self.subTest(scale=scale, text_scale=text_scale, desktop_text_scaling=desktop_text_scaling):
                self.path_file.unlink(missing_ok=True)
                prompt, chooser = self.start_windows(scale=scale, text_scale=text_scale)
                # Read through the Text interface: under AT-SPI 2.56 an accessible's own get_text takes no arguments.
                self.assertEqual(Atspi.Text.get_text(controls(prompt)["text"], 0, -1), f"{self.home}/.q3a")
                self.check_layout((prompt, chooser), scale, text_scale)
                if desktop_text_scaling != 1 and not WAYLAND:  # GTK takes it from an XSETTINGS daemon on X11
                    self.change_text_scaling(desktop_text_scaling)
                    self.check_layout((prompt, chooser), scale, text_scale * desktop_text_scaling)
                # The web address's host is on one line with its scheme: not broken after "https://".
                line = controls(chooser)[CREDIT].get_string_at_offset(CREDIT.index("grim"), Atspi.TextGranularity.LINE)
                self.assertIn("https://grimvolt.example.org/", line.content)
                self.close(prompt)  # its close box saves nothing; the chooser's ends the program
                self.close(chooser)
                self.assertEqual(self.process.wait(15), 0)
                self.assertEqual(self.path_file.read_bytes(), f"{self.home}/.q3a\r\n".encode())

    def test_keys_and_clicks_swap_and_confirm_while_neither_window_takes_input(self):
        prompt, chooser = self.start_windows(path_file=bytes(self.game))
        if not WAYLAND:  # the prompt shown last, active, with the caret in its field, where Enter presses nothing
            poll("the prompt active", lambda: xdotool("getactivewindow") == self.x_window("Note"))
            self.focus(controls(prompt)["text"])
            xdotool("key", "Return", "Tab")  # once a Tab has moved the focus on, nothing is saved
            self.focus(controls(prompt)["ok"])
            xdotool("key", "Tab")
            self.focus(controls(prompt)["text"])
        self.assertEqual(self.path_file.read_bytes(), bytes(self.game) + f"\r\n{self.home}/.q3a\r\n".encode())
        shown = bytes(self.game).decode(errors="replace")  # the bytes that are not UTF-8 as replacement characters
        self.assertEqual(Atspi.Text.get_text(controls(prompt)["text"], 0, -1), shown)
        before = self.mod_folder()
        presses = [("Metal Skin", 3), ("Old Q3 Skin", 1), ("GV skin", 2)]  # clicks
        if not WAYLAND:  # Space on the button clicked last, and Enter on the next one
            presses += [("key space", 2), ("key Tab Return", 3)]
        for press, row in presses:
            with self.subTest(press=press):
                if press.startswith("key "):
                    xdotool(*press.split())
                else:
                    self.click(controls(chooser)[press])
                self.answer_box(CONFIRMATIONS[row], window_under_it=prompt)
                self.assertEqual(self.mod_folder(), dict(before, **{"pakskin.pk3": before[f"skindata{row}.ncx"]}))
        if not WAYLAND:  # Tab goes on round the buttons from "Metal Skin", focused again after its box
            for name in ["Old Q3 Skin", "GV skin"]:
                xdotool("key", "Tab")
                self.focus(controls(chooser)[name])
        # The chooser closed first leaves the prompt, whose "ok" saves exactly what the field holds.
        self.close(chooser)
        Atspi.EditableText.set_text_contents(controls(prompt)["text"], " /srv/Quake III, Arena ")
        self.click(controls(prompt)["ok"])
        self.assertEqual(self.process.wait(15), 0)
        self.assertEqual(self.path_file.read_bytes(), b" /srv/Quake III, Arena \r\n")

    def test_the_folder_saved_by_its_own_bytes_a_failed_swap_and_a_failed_start(self):
        """The field as shown saves the folder's own bytes; a failure is reported and ends the program."""
        prompt, chooser = self.start_windows(path_file=bytes(self.game))
        self.click(controls(prompt)["ok"])
        poll("the prompt closed", lambda: not has(prompt, Atspi.StateType.SHOWING))
        self.assertEqual(self.path_file.read_bytes(), bytes(self.game) + b"\r\n")
        (self.mod / "skindata2.ncx").unlink()
        self.click(controls(chooser)["GV skin"])
        self.answer_box(f"Error 2: No such file or directory\n{bytes(self.mod).decode(errors='replace')}/skindata2.ncx")
        self.assertEqual(self.process.wait(15), 0)
        self.home = self.scratch / "no such home"  # so no path file: only the report shows
        self.start()
        self.answer_box(f"Error 2: No such file or directory\n{self.home}/.q3path.cfg")
        self.assertEqual(self.process.wait(15), 0)


if __name__ == "__main__":
    unittest.main()
