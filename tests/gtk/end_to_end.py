#!/usr/bin/python3
"""The Linux program end to end: the real beam-tailor on the session's X server and window
manager, in a throwaway home folder, read through the accessibility bus and X properties and
driven with real mouse clicks and key presses (xdotool).

Usage: end_to_end.py PROGRAM ICON_FOLDER [unittest arguments]"""

import os
import subprocess
import sys
import tempfile
import time
import unittest
from typing import NamedTuple

import gi

gi.require_version("Atspi", "2.0")
gi.require_version("GdkPixbuf", "2.0")
from gi.repository import Atspi, GdkPixbuf, GLib  # noqa: E402

PROGRAM = os.path.abspath(sys.argv.pop(1))
ICON_FOLDER = os.path.abspath(sys.argv.pop(1))
TIMEOUT = 15.0

CREDIT = "Beam Tailor for GV 1.0,1.1 and 2.0 by Kestrel" + " " * 25 + "https://grimvolt.example.org/"
# The windows as the user is promised them: caption, client size and controls in twips
# (15 to a logical pixel), each control as its accessible role, its name and its box.
PROMPT = ("Note", 4380, 2085, [
    ("label", "Please enter Quake 3 Path", (240, 240, 3615, 495)),
    ("text", "", (240, 720, 3135, 375)),
    ("push button", "ok", (240, 1320, 1095, 375)),
])
CHOOSER = ("Beam Tailor", 5535, 2610, [
    ("push button", "Old Q3 Skin", (240, 120, 1455, 495)),
    ("push button", "GV skin", (240, 720, 1455, 495)),
    ("label", CREDIT, (2160, 240, 2775, 1095)),
    ("push button", "Metal Skin", (240, 1320, 1455, 495)),
])
SKINS = [("Old Q3 Skin", "skindata1.ncx", "Old Q3 Skin selected"),
         ("GV skin", "skindata2.ncx", "Gv Skin selected"),
         ("Metal Skin", "skindata3.ncx", "Metal Skins selected")]


def poll(what, probe, timeout=TIMEOUT):
    """The first answer of probe() that is not None or False; fails after timeout seconds."""
    deadline = time.monotonic() + timeout
    while True:
        # What the accessibility bus reported earlier may have changed since.
        Atspi.get_desktop(0).clear_cache()
        answer = probe()
        if answer is not None and answer is not False:
            return answer
        if time.monotonic() > deadline:
            raise AssertionError(f"timed out waiting for {what}")
        time.sleep(0.05)


def run_tool(*command):
    return subprocess.run(command, check=True, capture_output=True, text=True).stdout


def pixels(twips):
    return twips // 15


def read_bytes(path):
    with open(path, "rb") as file:
        return file.read()


def write_bytes(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as file:
        file.write(data)


class XWindow(NamedTuple):
    id: str
    title: str
    is_dialog: bool


class Geometry(NamedTuple):
    left: int
    top: int
    width: int
    height: int


def geometry(window):
    """Where a window's client area is on the screen, in device pixels."""
    fields = {}
    for line in run_tool("xwininfo", "-id", window.id).splitlines():
        name, _, value = line.strip().partition(":")
        fields[name] = value.strip()
    return Geometry(int(fields["Absolute upper-left X"]), int(fields["Absolute upper-left Y"]),
                    int(fields["Width"]), int(fields["Height"]))


def window_icons(window):
    """The window's _NET_WM_ICON images, by size, as ARGB numbers."""
    text = run_tool("xprop", "-len", "10000000", "-id", window.id, "-f", "_NET_WM_ICON", "32c", "=$0+", "_NET_WM_ICON")
    numbers = [int(value) for value in text.partition("=")[2].split(",")]
    icons = {}
    while numbers:
        width, height = numbers[0], numbers[1]
        icons[width] = numbers[2:2 + width * height]
        numbers = numbers[2 + width * height:]
    return icons


def png_argb(path):
    image = GdkPixbuf.Pixbuf.new_from_file(path)
    data, channels, stride = image.get_pixels(), image.get_n_channels(), image.get_rowstride()
    argb = []
    for y in range(image.get_height()):
        for x in range(image.get_width()):
            r, g, b, *a = data[y * stride + x * channels:y * stride + (x + 1) * channels]
            argb.append((a[0] if a else 255) << 24 | r << 16 | g << 8 | b)
    return argb


def fresh(accessible):
    """The accessible, with what was cached of it forgotten: the program may have changed it."""
    accessible.clear_cache()
    return accessible


def has_state(accessible, state):
    return fresh(accessible).get_state_set().contains(state)


def descendants(accessible):
    for index in range(fresh(accessible).get_child_count()):
        child = accessible.get_child_at_index(index)
        if child is not None:
            yield child
            yield from descendants(child)


def controls_of(toplevel):
    """A window's controls: the children of its one form, in the order they were placed."""
    form = fresh(toplevel).get_child_at_index(0)
    return [form.get_child_at_index(index) for index in range(form.get_child_count())]


def control_named(toplevel, name):
    return next(control for control in controls_of(toplevel) if control.get_name() == name)


def field_of(toplevel):
    return next(control for control in controls_of(toplevel) if control.get_role_name() == "text")


def text_of(accessible):
    return fresh(accessible).get_text(0, -1)


def extents(accessible):
    """A control's box in its window, in logical pixels."""
    box = fresh(accessible).get_extents(Atspi.CoordType.WINDOW)
    return (box.x, box.y, box.width, box.height)


class Run:
    """One run of the program, with home as its home folder and the desktop's scale factor."""

    def __init__(self, home, log_path, scale=1):
        self.home = home
        self.scale = scale
        env = dict(os.environ, HOME=home, GDK_BACKEND="x11", GDK_SCALE=str(scale))
        with open(log_path, "ab") as log:
            self.process = subprocess.Popen([PROGRAM], env=env, stdin=subprocess.DEVNULL, stdout=log,
                                            stderr=subprocess.STDOUT)
        self._application = None

    def stop(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()

    def wait_for_end(self):
        """The program's exit status, once it has ended by itself."""
        return self.process.wait(timeout=TIMEOUT)

    # What X shows of the program.

    def x_windows(self):
        """The program's windows on screen, in no particular order."""
        found = subprocess.run(["xdotool", "search", "--onlyvisible", "--pid", str(self.process.pid)],
                               capture_output=True, text=True).stdout.split()
        windows = []
        for window_id in found:
            title = subprocess.run(["xdotool", "getwindowname", window_id], capture_output=True, text=True)
            kind = subprocess.run(["xprop", "-id", window_id, "_NET_WM_WINDOW_TYPE"], capture_output=True, text=True)
            if title.returncode == 0:
                windows.append(XWindow(window_id, title.stdout.rstrip("\n"),
                                       "_NET_WM_WINDOW_TYPE_DIALOG" in kind.stdout))
        return windows

    def x_window(self, title):
        """The program's main window with that title, once it is on screen."""
        return poll(f"the window {title!r}", lambda: next(
            (window for window in self.x_windows() if window.title == title and not window.is_dialog), None))

    def titles_on_screen(self):
        return sorted(window.title for window in self.x_windows())

    def active_window_id(self):
        return str(int(run_tool("xdotool", "getactivewindow").strip()))

    # What the accessibility bus shows of it.

    def application(self):
        if self._application is None:
            self._application = poll("the program on the accessibility bus", self._find_application)
        return self._application

    def _find_application(self):
        desktop = Atspi.get_desktop(0)
        for index in range(desktop.get_child_count()):
            application = desktop.get_child_at_index(index)
            try:
                if application is not None and application.get_process_id() == self.process.pid:
                    return application
            except GLib.Error:
                pass  # an application that has just gone
        return None

    def toplevel(self, title, roles=("frame",)):
        def find():
            application = self.application()
            for index in range(application.get_child_count()):
                child = application.get_child_at_index(index)
                if child is not None and child.get_role_name() in roles and child.get_name() == title:
                    return child
            return None
        return poll(f"the accessible window {title!r}", find)

    # Input, as the user gives it.

    def click(self, window, control):
        """A left click in the middle of a control of window."""
        origin = geometry(window)
        left, top, width, height = extents(control)
        x = origin.left + self.scale * (left + width // 2)
        y = origin.top + self.scale * (top + height // 2)
        run_tool("xdotool", "mousemove", "--sync", str(x), str(y), "click", "1")

    def keys(self, *keys):
        run_tool("xdotool", "key", "--delay", "20", *keys)

    def type_text(self, text):
        run_tool("xdotool", "type", "--delay", "20", text)

    def activate(self, window):
        run_tool("xdotool", "windowactivate", "--sync", window.id)
        poll(f"{window.title!r} active", lambda: self.active_window_id() == window.id)

    def close(self, window):
        """Closes a window with the window manager's close command, as its close box does."""
        self.activate(window)
        self.keys("alt+F4")
        poll(f"{window.title!r} closed", lambda: all(shown.id != window.id for shown in self.x_windows()))

    def wait_for_focus(self, what, control):
        poll(f"the focus on {what}", lambda: has_state(control, Atspi.StateType.FOCUSED))

    # Message boxes.

    def message_box(self):
        """The message box on screen: its X window and its accessible."""
        window = poll("a message box", lambda: next((shown for shown in self.x_windows() if shown.is_dialog), None))
        accessible = poll("the message box's accessible", lambda: next(
            (child for child in descendants(self.application())
             if child.get_role_name() in ("alert", "dialog") and has_state(child, Atspi.StateType.SHOWING)),
            None))
        return window, accessible

    def message_text(self, box):
        labels = [child for child in descendants(box)
                  if child.get_role_name() == "label" and has_state(child, Atspi.StateType.SHOWING)]
        return "\n".join(text_of(label) for label in labels if text_of(label))

    def dismiss(self, window, box):
        """Presses the message box's OK with the mouse and waits until it has gone."""
        buttons = [child for child in descendants(box)
                   if child.get_role_name() == "push button" and has_state(child, Atspi.StateType.SHOWING)]
        self.click(window, buttons[0])
        poll("the message box to go", lambda: all(shown.id != window.id for shown in self.x_windows()))


class EndToEnd(unittest.TestCase):
    def setUp(self):
        scratch = tempfile.TemporaryDirectory(prefix="beam-tailor-gtk-")
        self.addCleanup(scratch.cleanup)
        self.scratch = scratch.name
        self.home = os.path.join(self.scratch, "home")
        os.mkdir(self.home)
        self.path_file = os.path.join(self.home, ".q3path.cfg")
        self.log = os.path.join(self.scratch, "program.log")
        self.addCleanup(self.show_program_output)

    def show_program_output(self):
        if os.path.exists(self.log) and os.path.getsize(self.log):
            with open(self.log, encoding="utf-8", errors="replace") as log:
                sys.stderr.write("Program output:\n" + log.read())

    def start(self, scale=1):
        run = Run(self.home, self.log, scale)
        self.addCleanup(run.stop)
        return run

    def game_folder(self):
        """A game folder with the mod's active pack and its three skins, each with bytes of its own."""
        game = os.path.join(self.scratch, "games", "quake 3")
        write_bytes(os.path.join(game, "grimvolt", "pakskin.pk3"), b"PK\x03\x04 original pack\r\n\x00\xff")
        for number in (1, 2, 3):
            write_bytes(os.path.join(game, "grimvolt", f"skindata{number}.ncx"),
                        bytes([number, 0, 13, 10, 255]) * (1000 * number))
        return game

    def mod_folder_contents(self, game):
        folder = os.path.join(game, "grimvolt")
        return {name: read_bytes(os.path.join(folder, name)) for name in sorted(os.listdir(folder))}

    # Windows, layout, focus and the close boxes.

    def check_windows(self, scale):
        run = self.start(scale)
        chooser, prompt = run.x_window("Beam Tailor"), run.x_window("Note")
        default_folder = self.home + "/.q3a"
        self.assertEqual(read_bytes(self.path_file), default_folder.encode() + b"\r\n")

        # The chooser is shown first; the prompt last, active, with the caret in its field.
        clients = run_tool("xprop", "-root", "_NET_CLIENT_LIST").partition("#")[2].replace(",", " ").split()
        ids = [str(int(client, 16)) for client in clients]
        self.assertLess(ids.index(chooser.id), ids.index(prompt.id))
        poll("the prompt active", lambda: run.active_window_id() == prompt.id)
        prompt_accessible = run.toplevel("Note")
        chooser_accessible = run.toplevel("Beam Tailor")
        run.wait_for_focus("the prompt's field", field_of(prompt_accessible))
        self.assertEqual(text_of(field_of(prompt_accessible)), default_folder)

        def layout(accessible):
            return sorted((control.get_role_name(), control.get_name(), extents(control))
                          for control in controls_of(accessible))

        for window, accessible, (caption, width, height, controls) in (
                (prompt, prompt_accessible, PROMPT), (chooser, chooser_accessible, CHOOSER)):
            with self.subTest(window=caption):
                self.assertEqual(geometry(window)[2:], (scale * pixels(width), scale * pixels(height)))
                expected = sorted((role, name, tuple(pixels(twips) for twips in box)) for role, name, box in controls)
                self.assertEqual(layout(accessible), expected)

                # The one icon of the program, in every size drawn for it.
                icons = window_icons(window)
                self.assertEqual(sorted(icons), [16, 32, 48, 64, 128, 256])
                for size, argb in icons.items():
                    self.assertEqual(argb, png_argb(os.path.join(ICON_FOLDER, f"beam-tailor-{size}.png")), size)

                # A resize, larger or smaller, moves and grows no control.
                for new_width, new_height in ((scale * (pixels(width) * 3 // 2), scale * pixels(height) * 2),
                                              (scale * (pixels(width) // 2), scale * (pixels(height) // 2))):
                    run_tool("xdotool", "windowsize", window.id, str(new_width), str(new_height))
                    poll(f"the new size {new_width}x{new_height}", lambda: geometry(window)[2:] == (new_width, new_height))
                    self.assertEqual(layout(accessible), expected)

        # Labels wrap at word boundaries within their width.
        credit = control_named(chooser_accessible, CREDIT)
        left, _, width, _ = extents(credit)
        characters = [credit.get_character_extents(offset, Atspi.CoordType.WINDOW) for offset in range(len(CREDIT))]
        tops = [box.y for box in characters]
        self.assertGreater(len(set(tops)), 2)
        self.assertEqual(tops, sorted(tops))
        for offset, (character, box) in enumerate(zip(CREDIT, characters)):
            if not character.isspace():
                self.assertLessEqual(box.x + box.width, left + width, f"{character!r} at {offset} beyond the label")
            if offset > 0 and CREDIT[offset - 1].isalnum() and character.isalnum():
                self.assertEqual(tops[offset - 1], box.y, f"a word split before {offset}")

        # Tab goes round the prompt's field and "ok"; the label takes no focus.
        run.activate(prompt)
        run.wait_for_focus("the prompt's field", field_of(prompt_accessible))
        run.keys("Tab")
        run.wait_for_focus("ok", control_named(prompt_accessible, "ok"))
        run.keys("Tab")
        run.wait_for_focus("the prompt's field", field_of(prompt_accessible))

        # The prompt's close box closes it alone and saves nothing; the chooser keeps its focus
        # on "Old Q3 Skin", and Tab goes down its buttons and round.
        run.close(prompt)
        self.assertEqual(run.titles_on_screen(), ["Beam Tailor"])
        run.activate(chooser)
        for name in ("Old Q3 Skin", "GV skin", "Metal Skin", "Old Q3 Skin"):
            run.wait_for_focus(name, control_named(chooser_accessible, name))
            run.keys("Tab")
        self.assertEqual(read_bytes(self.path_file), default_folder.encode() + b"\r\n")

        # The program ends with its last window.
        run.close(chooser)
        self.assertEqual(run.wait_for_end(), 0)
        self.assertEqual(read_bytes(self.path_file), default_folder.encode() + b"\r\n")

    def test_windows_layout_focus_and_close_boxes_at_scale_1(self):
        self.check_windows(scale=1)

    def test_windows_layout_focus_and_close_boxes_at_scale_2(self):
        self.check_windows(scale=2)

    # The prompt's field and "ok".

    def test_enter_presses_nothing_and_ok_saves_the_exact_text(self):
        keyed, inserted = "/srv/Spiele/Quake III, Arena/", "Jörð"
        typed = keyed + inserted
        run = self.start()
        prompt_accessible = run.toplevel("Note")
        field = field_of(prompt_accessible)
        run.wait_for_focus("the prompt's field", field)
        run.keys("ctrl+a", "BackSpace")
        # Real keys for the ASCII part, the rest through the field's accessible text, since
        # xdotool types a character missing from the keyboard map by remapping a key for a moment,
        # which the program may read after the moment has passed.
        run.type_text(keyed)
        poll("the typed text", lambda: text_of(field) == keyed)
        field.insert_text(len(keyed), inserted, -1)
        poll("the whole text", lambda: text_of(field) == typed)

        # Enter in the field presses nothing: once the Tab after it has moved the focus, the
        # prompt is still there and nothing was saved.
        run.keys("Return", "Tab")
        ok = control_named(prompt_accessible, "ok")
        run.wait_for_focus("ok", ok)
        self.assertIn("Note", run.titles_on_screen())
        self.assertEqual(read_bytes(self.path_file), (self.home + "/.q3a\r\n").encode())

        # Space presses the focused "ok": the text is saved, exactly, and the prompt closes.
        run.keys("space")
        poll("the prompt to close", lambda: run.titles_on_screen() == ["Beam Tailor"])
        self.assertEqual(read_bytes(self.path_file), typed.encode() + b"\r\n")
        run.close(run.x_window("Beam Tailor"))
        self.assertEqual(run.wait_for_end(), 0)
        self.assertEqual(read_bytes(self.path_file), typed.encode() + b"\r\n")

        # The next start shows the saved text, and seeds the default behind it.
        again = self.start()
        again.x_window("Note")
        self.assertEqual(text_of(field_of(again.toplevel("Note"))), "/srv/Spiele/Quake III")  # up to the comma
        self.assertEqual(read_bytes(self.path_file), (typed + "\r\n" + self.home + "/.q3a\r\n").encode())

    def test_a_folder_named_in_other_bytes_than_utf8_is_kept_as_it_is(self):
        game = self.game_folder()
        latin1 = os.fsencode(self.scratch) + b"/spi\xe9le"  # "spiele" with an e-acute in Latin-1
        os.rename(game, latin1)
        write_bytes(self.path_file, latin1 + b"\r\n")
        run = self.start()
        prompt_accessible = run.toplevel("Note")
        self.assertEqual(text_of(field_of(prompt_accessible)), self.scratch + "/spi\ufffdle")

        # A skin button reaches the folder by its own bytes.
        chooser = run.x_window("Beam Tailor")
        run.click(chooser, control_named(run.toplevel("Beam Tailor"), "Metal Skin"))
        window, box = run.message_box()
        self.assertEqual(run.message_text(box), "Metal Skins selected")
        run.dismiss(window, box)
        self.assertEqual(read_bytes(latin1 + b"/grimvolt/pakskin.pk3"), read_bytes(latin1 + b"/grimvolt/skindata3.ncx"))

        # "ok" on the field as shown saves the folder's own bytes, not the stand-in.
        run.click(run.x_window("Note"), control_named(prompt_accessible, "ok"))
        poll("the prompt to close", lambda: run.titles_on_screen() == ["Beam Tailor"])
        self.assertEqual(read_bytes(self.path_file), latin1 + b"\r\n")

    def test_closing_the_chooser_first_leaves_the_prompt_whose_ok_ends_the_program(self):
        run = self.start()
        prompt = run.x_window("Note")
        run.close(run.x_window("Beam Tailor"))
        self.assertEqual(run.titles_on_screen(), ["Note"])
        run.activate(prompt)
        prompt_accessible = run.toplevel("Note")
        run.wait_for_focus("the prompt's field", field_of(prompt_accessible))
        run.keys("ctrl+a", "BackSpace")
        poll("an empty field", lambda: text_of(field_of(prompt_accessible)) == "")
        run.click(prompt, control_named(prompt_accessible, "ok"))
        self.assertEqual(run.wait_for_end(), 0)
        self.assertEqual(read_bytes(self.path_file), b"\r\n")

    # The skin buttons.

    def test_each_skin_button_swaps_the_pack_and_confirms_while_the_prompt_stays(self):
        game = self.game_folder()
        write_bytes(self.path_file, game.encode() + b"\r\n")
        before = self.mod_folder_contents(game)
        run = self.start()
        chooser, prompt = run.x_window("Beam Tailor"), run.x_window("Note")
        chooser_accessible, prompt_accessible = run.toplevel("Beam Tailor"), run.toplevel("Note")
        for caption, source, confirmation in SKINS:
            with self.subTest(button=caption):
                run.click(chooser, control_named(chooser_accessible, caption))
                window, box = run.message_box()
                self.assertEqual(window.title, "Beam Tailor")
                self.assertEqual(run.message_text(box), confirmation)
                self.assertTrue(has_state(box, Atspi.StateType.MODAL))
                shown = [child.get_role_name() for child in descendants(box) if has_state(child, Atspi.StateType.SHOWING)]
                self.assertNotIn("icon", shown)
                self.assertNotIn("image", shown)
                self.assertEqual([child.get_name() for child in descendants(box)
                                  if child.get_role_name() == "push button"], ["OK"])
                self.assertEqual(self.mod_folder_contents(game), dict(before, **{"pakskin.pk3": before[source]}))

                # While the box is up the prompt takes no click: its "ok" stays unpressed.
                ok_box = geometry(window)
                ok = control_named(prompt_accessible, "ok")
                origin, (left, top, width, height) = geometry(prompt), extents(ok)
                x, y = origin.left + left + width // 2, origin.top + top + height // 2
                self.assertFalse(ok_box.left <= x < ok_box.left + ok_box.width
                                 and ok_box.top <= y < ok_box.top + ok_box.height, "the box hides ok")
                run.click(prompt, ok)
                run.dismiss(window, box)

        # The prompt was left alone all along: still open, its field and the path file unchanged.
        self.assertEqual(run.titles_on_screen(), ["Beam Tailor", "Note"])
        self.assertEqual(text_of(field_of(prompt_accessible)), game)
        self.assertEqual(read_bytes(self.path_file), (game + "\r\n" + self.home + "/.q3a\r\n").encode())
        run.close(prompt)
        run.close(chooser)
        self.assertEqual(run.wait_for_end(), 0)

    # Failures.

    def test_a_failed_swap_reports_the_error_and_ends_with_nothing_lost(self):
        game = self.game_folder()
        os.remove(os.path.join(game, "grimvolt", "skindata2.ncx"))
        write_bytes(self.path_file, game.encode() + b"\r\n")
        before = self.mod_folder_contents(game)
        run = self.start()
        chooser = run.x_window("Beam Tailor")
        run.click(chooser, control_named(run.toplevel("Beam Tailor"), "GV skin"))
        window, box = run.message_box()
        self.assertEqual(window.title, "Beam Tailor")
        self.assertEqual(run.message_text(box),
                         f"Error 2: No such file or directory\n{game}/grimvolt/skindata2.ncx")
        run.dismiss(window, box)
        self.assertEqual(run.wait_for_end(), 0)
        self.assertEqual(self.mod_folder_contents(game), before)

    def test_a_start_that_cannot_write_the_path_file_shows_only_the_report(self):
        self.home = os.path.join(self.scratch, "no such home")
        run = self.start()
        window, box = run.message_box()
        self.assertEqual(window.title, "Beam Tailor")
        self.assertEqual(run.message_text(box),
                         f"Error 2: No such file or directory\n{self.home}/.q3path.cfg")
        self.assertEqual([shown.is_dialog for shown in run.x_windows()], [True])
        run.dismiss(window, box)
        self.assertEqual(run.wait_for_end(), 0)
        self.assertFalse(os.path.exists(os.path.join(self.home, ".q3path.cfg")))


if __name__ == "__main__":
    unittest.main()
