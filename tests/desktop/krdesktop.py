"""Drives the built application as a person does.

A private X display (Xvfb) with a small window manager (openbox) and a session D-Bus, a fresh
home folder, the application started from its binary; widgets found through the accessibility
bus (AT-SPI), input sent as real X events (XTest) at a person's pace, results read from the
screen and from the files the application writes. Every wait polls a condition with a generous
limit; nothing waits a fixed time for the machine to catch up.
"""

import http.server
import json
import os
import random
import re
import shutil
import signal
import struct
import subprocess
import tempfile
import threading
import time
import traceback
import urllib.parse
import xml.etree.ElementTree as ElementTree
import zlib

SCREEN_WIDTH, SCREEN_HEIGHT = 1600, 1000
# Generous limits: a loaded two-core machine is slow, a fault is not.
LAUNCH_TIMEOUT = 60
STEP_TIMEOUT = 30
# The page background of jQuery Mobile's default theme ("a"), #f9f9f9.
JQM_PAGE_BACKGROUND = (249, 249, 249)


class JourneyFailure(AssertionError):
    pass


def wait_until(condition, what, timeout=STEP_TIMEOUT, interval=0.05):
    """Polls condition() until it returns something true; returns it, or fails naming what."""
    deadline = time.monotonic() + timeout
    last_error = None
    while True:
        try:
            value = condition()
            if value:
                return value
        except Exception as error:  # the tree changes under us while the application works
            last_error = error
        if time.monotonic() > deadline:
            detail = f" (last error: {last_error!r})" if last_error else ""
            raise JourneyFailure(f"timed out after {timeout} s waiting for {what}{detail}")
        time.sleep(interval)


def check(condition, message):
    if not condition:
        raise JourneyFailure(message)


def wait_within_patience(condition, what, patience, started):
    """Waits for condition as a person waits for a command, `patience` seconds from `started`
    (time.monotonic() when the command was given), not from this call: whatever the journey did
    since counts; returns the seconds since `started`. When it takes longer, waits on (up to
    three minutes) to report how long it took, then fails."""
    try:
        wait_until(condition, what, timeout=max(0.0, started + patience - time.monotonic()))
    except JourneyFailure:
        try:
            wait_until(condition, what, timeout=180)
        except JourneyFailure:
            pass
        raise JourneyFailure(f"{what} took {time.monotonic() - started:.1f} s, longer than {patience:.0f} s")
    return time.monotonic() - started


# --- Images ---------------------------------------------------------------------------------

class Image:
    """An RGB picture of a part of the screen, read from the X server."""

    def __init__(self, x, y, width, height, bgrx):
        self.x, self.y, self.width, self.height = x, y, width, height
        self._data = bgrx

    @property
    def bgrx(self):
        """The picture's bytes as the X server sends them: blue, green, red and padding, row by row."""
        return self._data

    def pixel(self, x, y):
        """The colour at screen point (x, y), as (r, g, b)."""
        lx, ly = int(x) - self.x, int(y) - self.y
        if not (0 <= lx < self.width and 0 <= ly < self.height):
            raise ValueError(f"({x}, {y}) is outside the picture")
        i = (ly * self.width + lx) * 4
        b, g, r = self._data[i], self._data[i + 1], self._data[i + 2]
        return (r, g, b)

    def pixels(self, x, y, width, height, step=1):
        for py in range(int(y), int(y + height), step):
            for px in range(int(x), int(x + width), step):
                yield self.pixel(px, py)

    def count(self, rect, predicate, step=1):
        x, y, w, h = rect
        return sum(1 for p in self.pixels(x, y, w, h, step) if predicate(p))

    def save_png(self, path):
        rows = []
        for row in range(self.height):
            start = row * self.width * 4
            line = self._data[start:start + self.width * 4]
            rgb = bytearray(self.width * 3)
            rgb[0::3] = line[2::4]
            rgb[1::3] = line[1::4]
            rgb[2::3] = line[0::4]
            rows.append(b"\x00" + bytes(rgb))
        raw = zlib.compress(b"".join(rows), 3)

        def chunk(kind, payload):
            body = kind + payload
            return struct.pack(">I", len(payload)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

        header = struct.pack(">IIBBBBB", self.width, self.height, 8, 2, 0, 0, 0)
        with open(path, "wb") as out:
            out.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", raw) + chunk(b"IEND", b""))


def near(colour, expected, tolerance=6):
    return all(abs(a - b) <= tolerance for a, b in zip(colour, expected))


# --- Real input -----------------------------------------------------------------------------

class Input:
    """XTest input at a person's pace: presses of 80-150 ms, drags of many small steps."""

    MODIFIERS = {"ctrl": "Control_L", "shift": "Shift_L", "alt": "Alt_L", "super": "Super_L"}
    KEY_NAMES = {"\n": "Return", "\t": "Tab", " ": "space", "esc": "Escape", "enter": "Return",
                 "del": "Delete", "backspace": "BackSpace"}

    def __init__(self, display):
        from Xlib import X, XK
        from Xlib.ext import xtest
        self._X, self._XK, self._xtest = X, XK, xtest
        self.display = display
        self.random = random.Random(4711)
        self.position = (SCREEN_WIDTH // 2, SCREEN_HEIGHT // 2)

    def _sync(self):
        self.display.sync()

    def press_time(self):
        return self.random.uniform(0.08, 0.15)

    def move(self, x, y):
        self._xtest.fake_input(self.display, self._X.MotionNotify, x=int(round(x)), y=int(round(y)))
        self._sync()
        self.position = (int(round(x)), int(round(y)))

    def glide(self, x, y, steps=6, duration=0.12):
        """Moves the pointer there in a few steps, as a hand does."""
        x0, y0 = self.position
        for i in range(1, steps + 1):
            t = i / steps
            self.move(x0 + (x - x0) * t, y0 + (y - y0) * t)
            time.sleep(duration / steps)

    def button(self, down, button=1):
        self._xtest.fake_input(self.display, self._X.ButtonPress if down else self._X.ButtonRelease, button)
        self._sync()

    def _stroke(self, down, up, detail, hold):
        """A press and its release, sent to the X server together, the release delayed there by
        `hold` seconds: the server stamps them at a person's pace however late this process runs
        on a busy machine. A release sent late is a key or button held down: a held key repeats,
        and a button held on an opened list chooses the entry under it and closes the list.
        Returns once the server has taken the release."""
        self._xtest.fake_input(self.display, down, detail)
        self._xtest.fake_input(self.display, up, detail, time=int(hold * 1000))
        self._sync()

    def click(self, x, y, button=1, modifiers=()):
        self.glide(x, y)
        time.sleep(0.05)
        with self.held(modifiers):
            self._stroke(self._X.ButtonPress, self._X.ButtonRelease, button, self.press_time())
        time.sleep(0.05)

    def double_click(self, x, y):
        """Two short presses a moment apart, well inside the desktop's double-click time. The
        four button events go to the X server at once, each with its delay after the one before,
        so that the server stamps them at a person's pace however late this process runs on a
        busy machine (two clicks sent one by one can arrive as two single clicks)."""
        self.glide(x, y)
        time.sleep(0.05)
        delays = [0, self.random.randint(50, 80), 60, self.random.randint(50, 80)]
        for down, delay in zip((True, False, True, False), delays):
            self._xtest.fake_input(self.display, self._X.ButtonPress if down else self._X.ButtonRelease, 1,
                                   time=delay)
        self._sync()
        time.sleep(sum(delays) / 1000 + 0.06)

    def drag(self, start, end, steps=20, duration=0.5, modifiers=(), before_release=None, after_release=None):
        """Press at start, move to end in `steps` motions over `duration` seconds, release.

        before_release and after_release are called just before and just after the release
        reaches the X server."""
        self.glide(*start)
        time.sleep(0.05)
        with self.held(modifiers):
            self.button(True)
            time.sleep(self.press_time())
            (x0, y0), (x1, y1) = start, end
            for i in range(1, steps + 1):
                t = i / steps
                self.move(x0 + (x1 - x0) * t, y0 + (y1 - y0) * t)
                time.sleep(duration / steps)
            time.sleep(0.1)
            if before_release:
                before_release()
            self.button(False)
            if after_release:
                after_release()
        time.sleep(0.05)

    def _keycode(self, name):
        keysym = self._XK.string_to_keysym(name)
        if keysym == 0 and len(name) == 1:
            keysym = ord(name)
        code = self.display.keysym_to_keycode(keysym)
        if not code:
            raise JourneyFailure(f"no key for {name!r} on this keyboard")
        shifted = self.display.keycode_to_keysym(code, 0) != keysym and self.display.keycode_to_keysym(code, 1) == keysym
        return code, shifted

    def _key_event(self, code, down):
        self._xtest.fake_input(self.display, self._X.KeyPress if down else self._X.KeyRelease, code)
        self._sync()

    class _Held:
        def __init__(self, owner, names):
            self.owner, self.codes = owner, [owner._keycode(owner.MODIFIERS[n])[0] for n in names]

        def __enter__(self):
            for code in self.codes:
                self.owner._key_event(code, True)
                time.sleep(0.03)

        def __exit__(self, *exc):
            for code in reversed(self.codes):
                time.sleep(0.03)
                self.owner._key_event(code, False)

    def held(self, modifiers):
        return Input._Held(self, list(modifiers))

    def key(self, combo):
        """A shortcut such as "ctrl+shift+z", "Return" or "alt+F4"."""
        parts = combo.split("+")
        modifiers, name = parts[:-1], self.KEY_NAMES.get(parts[-1], parts[-1])
        code, shifted = self._keycode(name)
        if shifted and "shift" not in modifiers:
            modifiers = modifiers + ["shift"]
        with self.held(modifiers):
            self._stroke(self._X.KeyPress, self._X.KeyRelease, code, self.press_time())
        time.sleep(0.05)

    def key_down(self, name):
        """Presses one unshifted key and leaves it down (key_up releases it): for timing what a
        key press does."""
        self._key_event(self._keycode(self.KEY_NAMES.get(name, name))[0], True)

    def key_up(self, name):
        self._key_event(self._keycode(self.KEY_NAMES.get(name, name))[0], False)

    def type(self, text, quick=False):
        """Types text key by key; quick, as a practised typist runs through a long name (presses
        of 30-50 ms)."""
        for ch in text:
            name = self.KEY_NAMES.get(ch, ch)
            code, shifted = self._keycode(name)
            with self.held(["shift"] if shifted else []):
                self._stroke(self._X.KeyPress, self._X.KeyRelease, code,
                             self.random.uniform(0.03, 0.05) if quick else self.press_time())
            time.sleep(0.02 if quick else 0.03)


# --- Accessibility --------------------------------------------------------------------------

def _rect(accessible):
    import pyatspi
    e = accessible.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
    return (e.x, e.y, e.width, e.height)


class Node:
    """An accessible object with the questions the journeys ask of it."""

    def __init__(self, accessible):
        self.acc = accessible

    # A widget the application replaces while it is read (a row redrawn, a pane rebuilt) is a
    # defunct object on the bus: it reads as nothing, so that the caller goes on looking for the
    # widget that took its place instead of failing on the one that left.
    @property
    def role(self):
        try:
            return self.acc.getRoleName()
        except Exception:
            return ""

    @property
    def name(self):
        try:
            return self.acc.name or ""
        except Exception:
            return ""

    @property
    def rect(self):
        try:
            return _rect(self.acc)
        except Exception:
            return (0, 0, 0, 0)

    @property
    def center(self):
        x, y, w, h = self.rect
        return (x + w // 2, y + h // 2)

    def showing(self):
        import pyatspi
        try:
            s = self.acc.getState()
            if not (s.contains(pyatspi.STATE_SHOWING) and s.contains(pyatspi.STATE_VISIBLE)):
                return False
            x, y, w, h = self.rect
            return w > 0 and h > 0
        except Exception:
            return False

    def has_state(self, state):
        try:
            return self.acc.getState().contains(state)
        except Exception:
            return False

    def text(self):
        try:
            t = self.acc.queryText()
            return t.getText(0, -1)
        except NotImplementedError:
            return self.name
        except Exception:
            return ""

    def parent(self):
        try:
            p = self.acc.parent
        except Exception:
            return None
        return Node(p) if p is not None else None

    def children(self):
        found = []
        try:
            for i in range(self.acc.childCount):
                child = self.acc.getChildAtIndex(i)
                if child is not None:
                    found.append(Node(child))
        except Exception:
            pass
        return found

    def walk(self, depth=0, max_depth=60, into_menus=False, showing=False):
        """The node and its descendants, depth first; with showing, hidden branches are left out."""
        if showing:
            import pyatspi
            try:
                state = self.acc.getState()
                if not (state.contains(pyatspi.STATE_SHOWING) and state.contains(pyatspi.STATE_VISIBLE)):
                    return
            except Exception:
                return
        yield self
        if depth >= max_depth:
            return
        # A menu bar's titles are read only by menu(): the windows share their menus, and the
        # first window to have its titles read keeps them (see menu()).
        if not into_menus and depth > 0 and self.role == "menu bar":
            return
        try:
            count = self.acc.childCount
        except Exception:
            return
        for i in range(count):
            try:
                child = self.acc.getChildAtIndex(i)
            except Exception:
                continue
            if child is not None:
                yield from Node(child).walk(depth + 1, max_depth, into_menus, showing)

    @staticmethod
    def _matches(n, role, name, showing, predicate):
        try:
            if role is not None and n.role != role:
                return False
            if name is not None:
                if isinstance(name, re.Pattern):
                    if not name.search(n.name):
                        return False
                elif n.name != name:
                    return False
            if showing:
                _, _, w, h = n.rect
                if w <= 0 or h <= 0:
                    return False
            return not predicate or predicate(n)
        except Exception:
            return False

    def find_all(self, role=None, name=None, showing=True, predicate=None, into_menus=False):
        return [n for n in self.walk(into_menus=into_menus, showing=showing)
                if self._matches(n, role, name, showing, predicate)]

    def find(self, role=None, name=None, showing=True, predicate=None, into_menus=False):
        """The first match, depth first, or None."""
        for n in self.walk(into_menus=into_menus, showing=showing):
            if self._matches(n, role, name, showing, predicate):
                return n
        return None

    def dump(self, out, depth=0, max_depth=40):
        try:
            r = self.rect
        except Exception:
            r = None
        out.write("  " * depth + f"{self.role} {self.name!r} {r}\n")
        if depth < max_depth:
            for c in self.children():
                c.dump(out, depth + 1, max_depth)

    def __repr__(self):
        return f"<{self.role} {self.name!r}>"


# --- Projects on disk -----------------------------------------------------------------------

class ProjectFile:
    """The saved project.xml of a project folder."""

    def __init__(self, folder):
        self.folder = folder
        self.path = os.path.join(folder, "project.xml")
        self.root = ElementTree.parse(self.path).getroot()

    def objects(self):
        return [e for e in self.root.iter() if e.get("id") is not None and e.tag not in ("KRPage",)]

    def object(self, object_id):
        for e in self.root.iter():
            if e.get("id") == object_id:
                return e
        return None

    @staticmethod
    def box(element):
        def number(key):
            v = element.get(key) or ""
            try:
                return float(v)
            except ValueError:
                return None
        return tuple(number(k) for k in ("left", "top", "width", "height"))


# --- The desktop session --------------------------------------------------------------------

class Desktop:
    """One private desktop: display, window manager, session bus, home folder and the app."""

    def __init__(self, app_path, artifacts, journey, window_manager_keys=True):
        self.window_manager_keys = window_manager_keys
        self.app_path = os.path.abspath(app_path)
        self.artifacts = os.path.join(os.path.abspath(artifacts), journey)
        self.journey = journey
        self.home = tempfile.mkdtemp(prefix=f"kr-e2e-{journey}-")
        self.processes = []  # (name, Popen) to stop, in reverse order
        self.app = None
        self.shot_number = 0
        self.started = time.monotonic()

    # Session

    def __enter__(self):
        shutil.rmtree(self.artifacts, ignore_errors=True)
        os.makedirs(self.artifacts, exist_ok=True)
        self.env = self._environment()
        self._start_display()
        self._start_bus()
        self._start_window_manager()
        # The accessibility library reads the session bus and display when it loads.
        os.environ.update({k: self.env[k] for k in ("DISPLAY", "DBUS_SESSION_BUS_ADDRESS", "XDG_RUNTIME_DIR")})
        os.environ.pop("AT_SPI_BUS_ADDRESS", None)
        import pyatspi  # noqa: F401  (binds to this session now)
        self.log(f"desktop {self.env['DISPLAY']} ready, home {self.home}")
        return self

    def __exit__(self, kind, error, tb):
        if error is not None:
            try:
                self.screenshot("FAILED")
            except Exception:
                pass
            try:
                if self.app_running():
                    with open(os.path.join(self.artifacts, "accessible-tree.txt"), "w") as out:
                        self.app_root().dump(out)
            except Exception:
                pass
        self.stop_app()
        for name, process in reversed(self.processes):
            self._stop(process)
        if error is None or os.environ.get("KR_E2E_KEEP_HOME") != "1":
            shutil.rmtree(self.home, ignore_errors=True)
        return False

    def _environment(self):
        h = self.home
        env = {k: v for k, v in os.environ.items()
               if not k.startswith(("XDG_", "QT_", "DBUS_", "AT_SPI", "QTWEBENGINE", "WAYLAND", "DISPLAY"))}
        folders = {
            "HOME": h,
            "XDG_CONFIG_HOME": f"{h}/.config",
            "XDG_DATA_HOME": f"{h}/.local/share",
            "XDG_STATE_HOME": f"{h}/.local/state",
            "XDG_CACHE_HOME": f"{h}/.cache",
            "XDG_RUNTIME_DIR": f"{h}/.run",
            "XDG_DATA_DIRS": "/usr/local/share:/usr/share",
            "XDG_CONFIG_DIRS": "/etc/xdg",
        }
        for key in ("XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_STATE_HOME", "XDG_CACHE_HOME", "XDG_RUNTIME_DIR"):
            os.makedirs(folders[key], mode=0o700, exist_ok=True)
        env.update(folders)
        # A person's home has a documents folder; new projects are offered a place there.
        os.makedirs(os.path.join(h, "Documents"), exist_ok=True)
        env.update({
            "LANG": "C.UTF-8",
            "QT_QPA_PLATFORM": "xcb",
            "QT_LINUX_ACCESSIBILITY_ALWAYS_ON": "1",
            "QT_ACCESSIBILITY": "1",
            "QTWEBENGINE_DISABLE_SANDBOX": "1",
            # The journeys are an assistive tool, which the accessibility bridge always answers:
            # the pages are described to them as to a screen reader, by the application itself.
            "NO_AT_BRIDGE": "0",
        })
        # Only the loopback: the service address points at a closed port there.
        config = os.path.join(folders["XDG_CONFIG_HOME"], "Korvane")
        os.makedirs(config, exist_ok=True)
        with open(os.path.join(config, "Korvane.conf"), "w") as out:
            out.write("[General]\napiURL=http://127.0.0.1:9/\ninsecureSiteURL=http://127.0.0.1:9/\n")
        for key in [k for k in env if k.lower().endswith("_proxy") or k.startswith("LC_")]:
            env.pop(key)
        return env

    def _spawn(self, name, args, **kwargs):
        log = open(os.path.join(self.artifacts, f"{name}.log"), "ab")
        process = subprocess.Popen(args, env=self.env, stdout=log, stderr=subprocess.STDOUT,
                                   start_new_session=True, **kwargs)
        log.close()
        self.processes.append((name, process))
        return process

    def _start_display(self):
        read_end, write_end = os.pipe()
        self._spawn("xvfb", ["Xvfb", "-displayfd", str(write_end), "-screen", "0",
                             f"{SCREEN_WIDTH}x{SCREEN_HEIGHT}x24", "-nolisten", "tcp", "-noreset", "+extension", "XTEST"],
                    pass_fds=(write_end,))
        os.close(write_end)
        number = b""
        with os.fdopen(read_end, "rb") as pipe:
            deadline = time.monotonic() + LAUNCH_TIMEOUT
            while not number.endswith(b"\n") and time.monotonic() < deadline:
                chunk = pipe.read(1)
                if not chunk:
                    break
                number += chunk
        check(number.strip().isdigit(), "Xvfb did not start")
        self.env["DISPLAY"] = f":{number.strip().decode()}"
        from Xlib import X, display as xdisplay
        self.display = xdisplay.Display(self.env["DISPLAY"])
        # A loaded machine can hold a key down past the repeat delay; keys here never repeat.
        self.display.change_keyboard_control(auto_repeat_mode=X.AutoRepeatModeOff)
        self.display.sync()
        self.input = Input(self.display)

    def _start_bus(self):
        read_end, write_end = os.pipe()
        self._spawn("dbus", ["dbus-daemon", "--session", "--nofork", f"--print-address={write_end}"],
                    pass_fds=(write_end,))
        os.close(write_end)
        with os.fdopen(read_end, "rb") as pipe:
            address = pipe.readline().decode().strip()
        check(address, "the session bus did not start")
        self.env["DBUS_SESSION_BUS_ADDRESS"] = address

    def _start_window_manager(self):
        arguments = ["openbox", "--sm-disable"]
        if not self.window_manager_keys:
            # A window manager that binds no keys, as one does before it has taken them: every
            # key reaches the application.
            config = os.path.join(self.home, "openbox-rc.xml")
            with open(config, "w") as out:
                out.write('<?xml version="1.0"?>\n<openbox_config xmlns="http://openbox.org/3.4/rc">'
                          '<keyboard></keyboard></openbox_config>\n')
            arguments += ["--config-file", config]
        self._spawn("openbox", arguments)
        root = self.display.screen().root
        atom = self.display.intern_atom("_NET_SUPPORTING_WM_CHECK")
        wait_until(lambda: root.get_full_property(atom, 0) is not None, "the window manager", LAUNCH_TIMEOUT)

    @staticmethod
    def _stop(process, grace=10):
        if process.poll() is not None:
            return
        try:
            os.killpg(process.pid, signal.SIGTERM)
        except ProcessLookupError:
            return
        try:
            process.wait(grace)
        except subprocess.TimeoutExpired:
            try:
                os.killpg(process.pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
            process.wait(grace)

    # Logging and pictures

    def log(self, message):
        print(f"[{time.monotonic() - self.started:6.1f}s] {self.journey}: {message}", flush=True)

    def grab(self, rect=None):
        from Xlib import X
        x, y, w, h = rect or (0, 0, SCREEN_WIDTH, SCREEN_HEIGHT)
        x, y = max(0, int(x)), max(0, int(y))
        w, h = min(int(w), SCREEN_WIDTH - x), min(int(h), SCREEN_HEIGHT - y)
        reply = self.display.screen().root.get_image(x, y, w, h, X.ZPixmap, 0xFFFFFFFF)
        return Image(x, y, w, h, reply.data)

    def screenshot(self, label):
        self.shot_number += 1
        safe = re.sub(r"[^A-Za-z0-9_.-]+", "-", label).strip("-")
        path = os.path.join(self.artifacts, f"{self.shot_number:02d}-{safe}.png")
        image = self.grab()
        image.save_png(path)
        self.log(f"screenshot {os.path.basename(path)}")
        return image

    # The application

    def launch(self, *args):
        check(not self.app_running(), "the application is running already")
        self.app = self._spawn("korvane", [self.app_path, *args], cwd=self.home)
        self.log("launched " + " ".join([os.path.basename(self.app_path), *args]))
        wait_until(lambda: self.app_root(), "the application on the accessibility bus", LAUNCH_TIMEOUT)
        return self.app

    def start_again(self, *args):
        """Starts the program a second time, as a person does from a terminal or the file manager;
        returns its exit status (None: still running after 30 seconds, as its screenshot
        "second-start-still-running" shows)."""
        process = subprocess.Popen([self.app_path, *args], env=self.env, cwd=self.home,
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True)
        try:
            return process.wait(30)
        except subprocess.TimeoutExpired:
            self.screenshot("second-start-still-running")
            self._stop(process)
            return None

    def app_running(self):
        return self.app is not None and self.app.poll() is None

    def app_root(self):
        import pyatspi
        check(self.app is not None, "the application was not started")
        if self.app.poll() is not None:
            raise JourneyFailure(f"the application ended (exit status {self.app.returncode})")
        desktop = pyatspi.Registry.getDesktop(0)
        for i in range(desktop.childCount):
            a = desktop.getChildAtIndex(i)
            try:
                if a is not None and a.get_process_id() == self.app.pid:
                    return Node(a)
            except Exception:
                continue
        return None

    def quit_app(self, how="ctrl+q"):
        self.input.key(how)
        try:
            wait_until(lambda: self.app.poll() is not None, "the application to quit", LAUNCH_TIMEOUT)
        finally:
            if self.app.poll() is None:
                self._stop(self.app)
        self.log(f"the application quit with status {self.app.returncode}")
        return self.app.returncode

    def stop_app(self):
        if self.app is not None and self.app.poll() is None:
            self._stop(self.app)

    # Windows and widgets

    def window(self, name, timeout=LAUNCH_TIMEOUT):
        """The shown top-level window (frame or dialog) whose title is name (a string or pattern)."""
        def found():
            root = self.app_root()
            for c in root.children() if root else []:
                if c.showing():
                    if (name.search(c.name) if isinstance(name, re.Pattern) else c.name == name):
                        return c
            return None
        return wait_until(found, f"the window {name!r}", timeout)

    def windows(self):
        root = self.app_root()
        return [c for c in root.children() if c.showing()] if root else []

    def wait_for(self, within, role=None, name=None, what=None, timeout=STEP_TIMEOUT, predicate=None, showing=True):
        return wait_until(lambda: within.find(role, name, predicate=predicate, showing=showing),
                          what or f"{role or 'a widget'} {name!r}", timeout)

    def click(self, node, button=1, modifiers=()):
        x, y = node.center
        self.input.click(x, y, button, modifiers)

    def activate_if_needed(self, window):
        import pyatspi
        if not window.has_state(pyatspi.STATE_ACTIVE):
            self.activate_window(window)
            wait_until(lambda: window.has_state(pyatspi.STATE_ACTIVE), f"the window {window.name!r} in front")

    def bring_to_front(self, window):
        """Asks the window manager to activate window, as a pager or task bar does
        (_NET_ACTIVE_WINDOW), and waits until it is the active one. Keys would depend on when the
        window manager has taken them: an Alt+Tab pressed before that reaches the application."""
        import pyatspi
        from Xlib import X, protocol
        target = self.managed_window(window)
        d = self.display
        root = d.screen().root
        active_atom = d.intern_atom("_NET_ACTIVE_WINDOW")
        active_client = self.active_client
        # The window manager's word, not the accessible state: a window the manager has just
        # mapped and focused may not have told the application yet.
        if active_client() != target.id:
            # Source 2: a request from a pager, which the window manager does not weigh against
            # focus stealing.
            message = protocol.event.ClientMessage(window=target, client_type=active_atom,
                                                   data=(32, [2, X.CurrentTime, 0, 0, 0]))
            root.send_event(message, event_mask=X.SubstructureRedirectMask | X.SubstructureNotifyMask)
            d.sync()
            wait_until(lambda: active_client() == target.id, f"the window manager to activate {window.name!r}")
        wait_until(lambda: window.has_state(pyatspi.STATE_ACTIVE), f"the window {window.name!r} in front")

    def active_client(self):
        """The X window the window manager has made the active one, or None."""
        from Xlib import X
        d = self.display
        value = d.screen().root.get_full_property(d.intern_atom("_NET_ACTIVE_WINDOW"), X.AnyPropertyType)
        return value.value[0] if value and len(value.value) else None

    def wait_active(self, window, what=None):
        """Waits until the window manager and the application both have window as the active one."""
        import pyatspi
        target = self.managed_window(window)
        wait_until(lambda: self.active_client() == target.id and window.has_state(pyatspi.STATE_ACTIVE),
                   what or f"the window {window.name!r} in front")

    def managed_window(self, window):
        """The X window of a shown top-level window, once the window manager keeps it (it then has
        mapped and, if it gives new windows the focus, focused it)."""
        def client():
            return next((c for c, title in self.managed_windows() if title == window.name), None)
        return wait_until(client, f"the window manager keeping {window.name!r}", LAUNCH_TIMEOUT)

    def activate_window(self, window):
        """Clicks the title bar of a window, as a person does to bring it to the front."""
        x, y, w, h = window.rect
        self.input.click(x + w // 2, max(2, y - 8))

    def override_windows(self):
        """The shown top-level X windows that no window manager frames: menus, tool tips and the
        window manager's own pop-ups, such as its window switcher."""
        from Xlib import X
        shown = set()
        for child in self.display.screen().root.query_tree().children:
            try:
                attributes = child.get_attributes()
            except Exception:  # gone since the tree was read
                continue
            if attributes.override_redirect and attributes.map_state == X.IsViewable:
                shown.add(child.id)
        return shown

    def managed_windows(self):
        """The top-level X windows the window manager keeps (shown or minimised), with their titles."""
        from Xlib import X
        d = self.display
        clients = d.screen().root.get_full_property(d.intern_atom("_NET_CLIENT_LIST"), X.AnyPropertyType)
        found = []
        for number in clients.value if clients else []:
            client = d.create_resource_object("window", number)
            title = client.get_full_property(d.intern_atom("_NET_WM_NAME"), X.AnyPropertyType)
            found.append((client, title.value.decode("utf-8", "replace") if title else ""))
        return found

    def frame(self, window):
        """The window manager's frame around a top-level window, read from X: its rectangle and
        the extents (left, right, top, bottom) of its border and title bar."""
        from Xlib import X
        d = self.display
        for client, title in self.managed_windows():
            if title != window.name:
                continue
            left, right, top, bottom = client.get_full_property(d.intern_atom("_NET_FRAME_EXTENTS"),
                                                                X.AnyPropertyType).value
            size = client.get_geometry()
            origin = client.translate_coords(d.screen().root, 0, 0)  # the screen's corner in the window
            return ((-origin.x - left, -origin.y - top, size.width + left + right, size.height + top + bottom),
                    (left, right, top, bottom))
        raise JourneyFailure(f"no X window is titled {window.name!r}")

    def close_by_title_bar(self, window):
        """Clicks the close button of a window's title bar: the last of the bar's buttons, squares
        as tall as the bar, at its right end."""
        (x, y, w, _), (_, _, top, _) = self.frame(window)
        self.input.click(x + w - top // 2, y + top // 2)

    def menu(self, window, *path):
        """Chooses a menu item, e.g. menu(w, "Edit", "Align Left").

        The menu bar is opened from the keyboard (Alt, then Down) and walked with the keys
        (Escape, Right, Down) to the menu that holds the item, which is then clicked: the
        windows' menu bars share their menus, and the accessible titles of one bar are those of
        the first window whose titles were read, which may have closed since; the open menu's
        items are always right. The titles in path document the way; the item decides.
        """
        import pyatspi
        *titles, item = path
        self.activate_if_needed(window)
        bar = self.wait_for(window, "menu bar", what="the menu bar")
        for _ in range(4):  # a menu left open, or the bar left in keyboard mode
            if not bar.has_state(pyatspi.STATE_FOCUSED):
                break
            self.input.key("Escape")
            time.sleep(0.2)
        self.input.key("Alt_L")
        wait_until(lambda: bar.has_state(pyatspi.STATE_FOCUSED), "the menu bar to take the keyboard")
        self.input.key("Down")

        def keyboard_holder():
            # Said when a menu does not come: the keys go to the window the window manager has
            # made the active one, which may have changed since the menu bar took them.
            active = self.active_client()
            titles = [title for client, title in self.managed_windows() if client.id == active]
            return f" (the window manager has {titles[0]!r} in front)" if titles else " (no window is in front)"

        def waited(predicate, what):
            try:
                return wait_until(predicate, what)
            except JourneyFailure as failure:
                raise JourneyFailure(str(failure) + keyboard_holder()) from None

        def open_menu():
            for popup in bar.find_all("popup menu", into_menus=True):
                return popup
            return None

        def matches(name):
            return bool(item.search(name)) if isinstance(item, re.Pattern) else name == item

        def names(popup):
            return tuple(n.name for n in popup.find_all("menu item", showing=False))
        previous = None
        for _ in range(12):
            popup = waited(lambda: (lambda p: p if p and names(p) != previous else None)(open_menu()),
                           "the next menu to open")
            previous = names(popup)
            if any(matches(n) for n in previous):
                entry = waited(lambda: popup.find("menu item", predicate=lambda n: matches(n.name)),
                               f"the menu item {item!r}")
                if not entry.has_state(pyatspi.STATE_SENSITIVE):
                    self.screenshot(f"{entry.name} disabled")
                    for _ in range(2):
                        self.input.key("Escape")
                    raise JourneyFailure(f"the menu item {entry.name!r} is disabled")
                # The title as chosen: an Undo item names the next step once it has run.
                chosen = entry.name
                self.click(entry)
                return chosen
            # Back to the bar's titles and on to the next menu: Right in the open menu would
            # enter a submenu when its item is the one highlighted (View's first active item).
            self.input.key("Escape")
            wait_until(lambda: open_menu() is None and bar.has_state(pyatspi.STATE_FOCUSED),
                       "the menu to close back to its title")
            self.input.key("Right")
            self.input.key("Down")
        self.input.key("Escape")
        self.input.key("Escape")
        raise JourneyFailure(f"no menu holds {item!r}")

# --- The application's windows ---------------------------------------------------------------

def project_window(desktop, title, timeout=LAUNCH_TIMEOUT):
    """The window of a project, by its title (the project's name)."""
    window = desktop.window(title, timeout)
    desktop.wait_for(window, "push button", "Build", "the project window's toolbar", timeout)
    desktop.managed_window(window)
    return window


def open_sample_copy(desktop, sample, name):
    """Copies the sample project into the documents folder as name.krproj, starts the
    application on it and brings its window forward; returns the window and the folder."""
    folder = os.path.join(desktop.home, "Documents", f"{name}.krproj")
    shutil.copytree(os.path.join(desktop.options.source, "resources", "samples", f"{sample}.krproj"), folder)
    desktop.launch(folder)
    window = project_window(desktop, name)
    desktop.activate_if_needed(window)
    return window, folder


def close_gallery(desktop):
    """Closes the start gallery that comes up at launch with its title bar's close button, once
    the window manager has brought it in front (a project window that was slower to come up may
    cover it whole)."""
    gallery = desktop.window("Korvane")
    wait_until(lambda: gallery.find("label", "Sample Gallery"), "the gallery's contents")
    desktop.bring_to_front(gallery)
    desktop.close_by_title_bar(gallery)
    wait_until(lambda: not any(w.name == "Korvane" for w in desktop.windows()), "the gallery to close")


def choose_file(desktop, title, name, accept, new_folder=False, quick=False):
    """Answers a file dialog: types a name in the documents folder it opens in and accepts it.

    With new_folder the dialog's "Create New Folder" button makes the folder first; with quick
    the name is typed quickly (see Input.type).
    """
    dialog = desktop.window(title)
    # A person waits for the dialog to come to the front before clicking into it: on a busy
    # display the application describes it as shown before the window manager has mapped and
    # activated it, and a click then lands in the window behind.
    desktop.wait_active(dialog, f"the dialog {title!r} in front")
    if new_folder:
        desktop.click(desktop.wait_for(dialog, "push button", "Create New Folder"))
        # The new folder shows in the list with its name open for editing.
        desktop.wait_for(dialog, "table cell", "New Folder", "the new folder in the list")
        desktop.input.key("ctrl+a")
        desktop.input.type(name)
        desktop.input.key("Return")
        # The renamed folder stays selected, which is the choice (typing its name as well would
        # open the completion list over the dialog's buttons).
        desktop.wait_for(dialog, "table cell", name, f"the folder {name!r} in the list",
                         predicate=lambda n: n.has_state(state("SELECTED")))
    else:
        field = desktop.wait_for(dialog, "text", re.compile(r"^(File name|Directory):$"), "the name field")
        desktop.click(field)
        # The keys go where the keyboard is: a dialog the window manager has not yet made the
        # active window on a busy machine would let the first of them reach the window behind.
        wait_until(lambda: field.has_state(state("FOCUSED")), "the keyboard in the dialog's name field")
        desktop.input.key("ctrl+a")
        desktop.input.type(name, quick)
        wait_until(lambda: field.text() == name, "the typed name in the dialog")
    desktop.click(desktop.wait_for(dialog, "push button", accept))
    wait_until(lambda: not any(w.name == title for w in desktop.windows()), f"the dialog {title!r} to close")


def new_project(desktop, window, name):
    """File > New Project..., saved as name in the documents folder; returns the new window."""
    desktop.menu(window, "File", "New Project…")
    choose_file(desktop, "Create", name, "Create")
    project = project_window(desktop, name)
    return project, os.path.join(desktop.home, "Documents", name + ".krproj")


def save(desktop, window, folder):
    """Ctrl+S, then waits for project.xml to be written; returns the parsed file."""
    path = os.path.join(folder, "project.xml")
    before = os.stat(path).st_mtime_ns if os.path.exists(path) else 0
    desktop.activate_if_needed(window)
    desktop.input.key("ctrl+s")
    wait_until(lambda: os.path.exists(path) and os.stat(path).st_mtime_ns != before, "project.xml to be written")
    # The file is written in one go; read it once it parses.
    return wait_until(lambda: ProjectFile(folder), "a complete project.xml")


BUILD_FINISHED = re.compile(r"^Build (\d+) finished at ")


def finished_build(status):
    """The number of the build the status line says has finished, or 0."""
    match = BUILD_FINISHED.match(status.acc.description or "")
    return int(match.group(1)) if match else 0


def build(desktop, window, timeout=LAUNCH_TIMEOUT):
    """The Build button; waits for the status line to say that this build has finished (its
    pages, scripts and the list of what it made all written), and returns that line."""
    status = desktop.wait_for(window, "label", "Status", "the status line")
    before = finished_build(status)
    desktop.activate_if_needed(window)
    desktop.click(desktop.wait_for(window, "push button", "Build"))
    wait_until(lambda: finished_build(status) > before, f"build {before + 1} to finish", timeout)
    return status.acc.description


# Design surface

def design_surface(desktop, window, timeout=STEP_TIMEOUT):
    """The web document of the page shown on the project window's design surface."""
    def found():
        canvas = window.find(name="Design Surface")
        return canvas.find("document web") if canvas else None
    return wait_until(found, "the page's web document on the design surface", timeout)


def page_point(surface, left, top):
    """The screen point of a page position (CSS pixels at zoom 100%)."""
    x, y, _, _ = surface.rect
    return (x + left, y + top)


def ink(colour):
    """A pixel the grey loading picture never has: dark or coloured."""
    return sum(colour) / 3 < 120 or max(colour) - min(colour) > 40


def check_page_drawn(desktop, surface, timeout=STEP_TIMEOUT, background=JQM_PAGE_BACKGROUND, points=None,
                     min_ink=None):
    """The page's document has content, and the page, not the loading picture, shows.

    The loading picture is a grey radial gradient. An empty page shows jQuery Mobile's flat
    background at points (page positions; default: the corners and the middle of the sides);
    a page full of controls is recognised by min_ink dark or coloured pixels instead.
    """
    wait_until(lambda: surface.acc.childCount > 0, "the page's accessible content", timeout)

    def drawn():
        x, y, w, h = surface.rect
        image = desktop.grab((x, y, w, h))
        if min_ink:
            return image.count((x, y, w, h), ink, step=2) >= min_ink
        chosen = points or [(4, h - 4), (w - 4, h - 4), (w // 2, h - 30), (4, h // 2), (w - 4, h // 2)]
        return all(near(image.pixel(x + px, y + py), background, 3) for px, py in chosen)
    wait_until(drawn, "the page (not the loading picture) on the surface", timeout)


def page_origin(image, min_text=0):
    """The screen point of the page's top left corner in a picture of the design surface, as a
    person finds the page: the first run of jQuery Mobile's light page background as wide as a
    phone's screen (the bar above the surface is wider, the grey loading picture has none), with
    at least min_text dark pixels of text (counted every other pixel) below its corner; None
    before."""
    data, width = image.bgrx, image.width

    def light(i):
        return all(abs(data[i + k] - JQM_PAGE_BACKGROUND[2 - k]) <= 2 for k in range(3))

    for row in range(0, image.height, 2):
        start, run = 0, 0
        for column in range(width + 1):
            if column < width and light((row * width + column) * 4):
                start, run = (column, 1) if run == 0 else (start, run + 1)
                continue
            if 250 <= run <= 420:
                left, top = image.x + start, image.y + row
                box = (left, top, run, min(300, image.y + image.height - top))
                text = image.count(box, lambda c: sum(c) / 3 < 120, step=2) if min_text else 0
                return (left, top) if text >= min_text else None
            run = 0
    return None


def page_on_screen(desktop, window, what, timeout=STEP_TIMEOUT, min_text=0, picture=None):
    """Waits until the project window's design surface shows its page (see page_origin), and
    returns the rectangle of the design surface and the screen point of the page's top left
    corner. picture(desktop, rect) takes the picture looked at (default: one grab)."""
    rect = wait_until(lambda: window.find(name="Design Surface"), "the design surface", timeout).rect
    take = picture or (lambda d, r: d.grab(r))
    origin = wait_until(lambda: page_origin(take(desktop, rect), min_text), what, timeout)
    return rect, origin


def element_with_text(surface, text):
    """The innermost element of the page whose accessible text is text."""
    return surface.find(predicate=lambda n: n.name == text and n.role in ("label", "push button", "static", "text", "section", "paragraph", "heading", "link", "list item"))


def box_at(surface, left, top, tolerance=1):
    """The smallest element of the page (over 12 pixels each way) whose top-left corner is at
    page position (left, top): a control's own box, not what encloses it."""
    x, y = page_point(surface, left, top)
    found = surface.find_all(predicate=lambda n: n.role == "section" and abs(n.rect[0] - x) <= tolerance
                             and abs(n.rect[1] - y) <= tolerance and n.rect[2] > 12 and n.rect[3] > 12)
    return min(found, key=lambda n: n.rect[2] * n.rect[3]) if found else None


# The mark of a selection box's handle: a blue square with a white rim in the middle of each
# handle (#2f6fd6); the box is drawn for the eye only, not described to assistive tools.
HANDLE_MARK = (0x2f, 0x6f, 0xd6)


class Mark:
    """A handle's mark found on the screen: its rectangle and centre, in screen pixels."""

    def __init__(self, points):
        xs = [p[0] for p in points]
        ys = [p[1] for p in points]
        self.rect = (min(xs), min(ys), max(xs) - min(xs) + 1, max(ys) - min(ys) + 1)
        self.center = ((min(xs) + max(xs)) // 2, (min(ys) + max(ys)) // 2)


def selection_handles(desktop, surface):
    """The resize handles of the selection box, as a person finds them on the screen:
    {"bottom": mark, "right": mark, "top-left": mark, ...}, each mark with its centre.

    The box draws a 6-pixel mark in the middle of the 8-pixel square at each corner and of the
    8-pixel strip along each edge."""
    x, y, w, h = surface.rect
    image = desktop.grab((x, y, w, h))
    clusters = []
    data, width = image.bgrx, image.width
    wanted = bytes((HANDLE_MARK[2], HANDLE_MARK[1], HANDLE_MARK[0]))
    at = data.find(wanted)
    while at >= 0:
        if at % 4:
            at = data.find(wanted, at + 1)
            continue
        px, py = image.x + (at // 4) % width, image.y + (at // 4) // width
        at = data.find(wanted, at + 4)
        for cluster in clusters:
            cx, cy = cluster[0]
            if abs(px - cx) <= 8 and abs(py - cy) <= 8:
                cluster.append((px, py))
                break
        else:
            clusters.append([(px, py)])
    marks = [Mark(c) for c in clusters if len(c) >= 16]
    marks = [m for m in marks if m.rect[2] <= 8 and m.rect[3] <= 8]
    handles = {}
    if len(marks) < 3:  # a box shows its marks at three corners at least
        return handles
    left = min(m.center[0] for m in marks)
    right = max(m.center[0] for m in marks)
    top = min(m.center[1] for m in marks)
    bottom = max(m.center[1] for m in marks)
    middle_x, middle_y = (left + right) / 2, (top + bottom) / 2

    def nearest(px, py):
        return min(marks, key=lambda m: abs(m.center[0] - px) + abs(m.center[1] - py))
    handles["top"] = nearest(middle_x, top)
    handles["bottom"] = nearest(middle_x, bottom)
    handles["left"] = nearest(left, middle_y)
    handles["right"] = nearest(right, middle_y)
    handles["top-left"] = nearest(left, top)
    handles["bottom-right"] = nearest(right, bottom)
    return handles


def drag_from_palette(desktop, window, surface, class_name, left, top):
    """Drags a palette entry onto the page so that it is dropped at page position (left, top)."""
    palette = desktop.wait_for(window, "list", "Object Palette", "the object palette")
    entry = desktop.wait_for(palette, "list item", class_name, f"the palette entry {class_name}", showing=False)
    entry = reveal(desktop, entry, lambda: palette.find("list item", class_name, showing=False))
    desktop.input.drag(entry.center, page_point(surface, left, top), steps=20, duration=0.5)


def click_page(desktop, surface, left, top, modifiers=()):
    x, y = page_point(surface, left, top)
    desktop.input.click(x, y, modifiers=modifiers)


def grab_count(desktop, rect, predicate):
    """How many pixels of a screen rectangle satisfy predicate."""
    return desktop.grab(rect).count(rect, predicate)


def alert_saying(desktop, text):
    """The shown window one of whose labels holds text, or None."""
    for window in desktop.windows():
        if window.find("label", predicate=lambda n: text in n.name):
            return window
    return None


# Inspector

def reveal(desktop, node, refind, max_steps=40):
    """Scrolls the wheel over node's scrolled pane until node is wholly in view."""
    pane = node.parent()
    while pane is not None and pane.role not in ("layered pane", "scroll pane", "viewport", "list"):
        pane = pane.parent()
    if pane is None:
        return node
    for _ in range(max_steps):
        node = refind()
        px, py, pw, ph = pane.rect
        x, y, w, h = node.rect
        if y >= py and y + h <= py + ph and h > 0:
            return node
        # Near the pane's left edge: over the inspector's row names, not a field or a pop-up
        # that would take the wheel for itself.
        desktop.input.glide(px + min(16, pw // 4), py + ph // 2)
        desktop.input.button(True, 5 if y + h > py + ph else 4)
        desktop.input.button(False, 5 if y + h > py + ph else 4)
        time.sleep(0.05)
    raise JourneyFailure(f"could not scroll {node} into view")


def state(name):
    import pyatspi
    return getattr(pyatspi, "STATE_" + name)


def open_inspector_group(desktop, window, title):
    """Opens a closed group of inspector rows ("Events", "Background", ...) by its disclosure."""
    pane = inspector(window)

    def header():
        label = pane.find("label", title)
        return label.parent() if label else None
    head = reveal(desktop, wait_until(header, f"the inspector group {title!r}"), header)
    toggle = desktop.wait_for(head, "check box", what=f"the disclosure of {title!r}")
    if not toggle.has_state(state("CHECKED")):
        desktop.click(toggle)
        wait_until(lambda: toggle.has_state(state("CHECKED")), f"the group {title!r} to open")


def table_cell(table, column, row_label):
    """The cell of a table's column (by its header) on the row whose label cell reads row_label
    (found by place: pop-up cells are named by what they show)."""
    header = table.find("table column header", column)
    label = table.find("table cell", row_label)
    if header is None or label is None:
        return None
    x, y = header.center[0], label.center[1]
    for node in table.find_all("table cell"):
        nx, ny, nw, nh = node.rect
        if nx <= x < nx + nw and ny <= y < ny + nh:
            return node
    return None


def code_editor(desktop, window, marker):
    """The code editor showing a text that contains marker."""
    return wait_until(lambda: window.find("text", predicate=lambda n: marker in n.text()),
                      f"a code editor showing {marker!r}")


def inspector(window):
    return wait_until(lambda: window.find(name="Inspector"), "the inspector")


def inspector_row(desktop, window, name):
    """The inspector's row (or field) for a property, scrolled into view."""
    pane = inspector(window)

    def find():
        return pane.find(predicate=lambda n: n.name == name and (n.role == "filler" or n.role == "text"))
    row = wait_until(find, f"the inspector row {name!r}")
    return reveal(desktop, row, find)


def inspector_field(desktop, window, name):
    row = inspector_row(desktop, window, name)
    if row.role == "text":
        return row
    return wait_until(lambda: inspector_row(desktop, window, name).find(
        predicate=lambda n: n.role in ("text", "combo box")), f"the field of {name!r}")


def inspector_value(desktop, window, name):
    field = inspector_field(desktop, window, name)
    return field.text() if field.role == "text" else field.name


def inspected_object(desktop, window):
    """The id the inspector shows (the selected object's)."""
    return inspector_value(desktop, window, "id")


def wait_inspected(desktop, window, object_id, what=None):
    wait_until(lambda: inspected_object(desktop, window) == object_id,
               what or f"the inspector to show {object_id}")


def set_inspector_text(desktop, window, name, text):
    field = inspector_field(desktop, window, name)
    desktop.click(field)
    desktop.input.key("ctrl+a")
    desktop.input.type(text)
    desktop.input.key("Return")
    wait_until(lambda: inspector_value(desktop, window, name) == text, f"{name!r} to read {text!r}")


def offer_clipboard(desktop, text):
    """Puts text on the desktop's clipboard, as another program that copied it would: a window of
    its own owns the selection and answers requests for it, as UTF-8, until the journey ends or
    another program takes the clipboard. For text no key types (a character the keyboard has no
    key for, or one a field would not take typed), pasted with Ctrl+V."""
    from Xlib import X, Xatom, display as xdisplay, protocol
    connection = xdisplay.Display(desktop.env["DISPLAY"])
    owner = connection.screen().root.create_window(0, 0, 1, 1, 0, X.CopyFromParent)
    clipboard, targets, utf8 = (connection.intern_atom(n) for n in ("CLIPBOARD", "TARGETS", "UTF8_STRING"))
    plain = connection.intern_atom("text/plain;charset=utf-8")
    data = text.encode("utf-8", "surrogatepass")
    owner.set_selection_owner(clipboard, X.CurrentTime)
    connection.sync()
    check(connection.get_selection_owner(clipboard) == owner, "the journey could not take the clipboard")

    def serve():
        while True:
            event = connection.next_event()
            if event.type == X.SelectionClear:
                return
            if event.type != X.SelectionRequest:
                continue
            prop = event.property or event.target
            if event.target == targets:
                event.requestor.change_property(prop, Xatom.ATOM, 32, [targets, utf8, plain])
            elif event.target in (utf8, plain):
                event.requestor.change_property(prop, event.target, 8, data)
            else:
                prop = X.NONE
            event.requestor.send_event(protocol.event.SelectionNotify(
                time=event.time, requestor=event.requestor, selection=event.selection, target=event.target,
                property=prop))
            connection.flush()
    threading.Thread(target=serve, daemon=True).start()


def choose_in_combo(desktop, combo, item, while_open=None):
    """Opens a combo box with a click and clicks one of its entries; while_open, if given, is
    called once the list shows the entry, which must still be shown after it."""
    desktop.click(combo)
    entry = wait_until(lambda: combo.find("list item", item), f"the entry {item!r}")
    if while_open:
        while_open()
        entry = combo.find("list item", item)
        check(entry is not None, f"the list of {combo.name!r} closed before {item!r} was chosen")
    desktop.click(entry)
    wait_until(lambda: combo.name == item, f"{item!r} chosen")


# --- Exported sites -----------------------------------------------------------------------------

VERSION = re.compile(r"^\d+(\.\d+)+$")


class SiteServer(http.server.ThreadingHTTPServer):
    """Serves an exported folder on the loopback. The page checker sends the page's requests to
    other hosts here under /__hosted/<host>/<path>; the jQuery and jQuery Mobile files among
    them are answered from the copies the product ships (folders "jquery-<v>" and
    "jquery.mobile-<v>") when the version asked for is one shipped, anything else is missing
    and noted."""

    def __init__(self, site, libraries):
        self.site, self.libraries, self.missing = site, libraries, []
        super().__init__(("127.0.0.1", 0), SiteHandler)

    def hosted(self, parts):
        for i in range(len(parts) - 2):
            if parts[i] in ("jquery.mobile", "mobile", "jquery") and VERSION.match(parts[i + 1]):
                prefix = "jquery-" if parts[i] == "jquery" else "jquery.mobile-"
                folder = os.path.join(self.libraries, prefix + parts[i + 1])
                if os.path.isdir(folder):
                    return os.path.join(folder, *parts[i + 2:])
        return None


class SiteHandler(http.server.SimpleHTTPRequestHandler):
    def translate_path(self, path):
        path = urllib.parse.unquote(urllib.parse.urlsplit(path).path)
        parts = [p for p in path.split("/") if p not in ("", ".", "..")]
        if parts[:1] == ["__hosted"]:
            found = self.server.hosted(parts[2:])
            if found and os.path.isfile(found):
                return found
            self.server.missing.append("/".join(parts[1:]))
            return os.path.join(self.server.site, "__missing__")
        return os.path.join(self.server.site, *parts)

    def log_message(self, *args):
        pass


def check_in_browser(desktop, site, page):
    """Loads a page of an exported site through the page checker; returns its report, with
    "missing" the hosted files that are not the shipped libraries."""
    libraries = os.path.join(desktop.options.source, "resources", "local-server")
    server = SiteServer(site, libraries)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    try:
        base = f"http://127.0.0.1:{server.server_address[1]}"
        env = dict(desktop.env)
        env["QT_QPA_PLATFORM"] = "offscreen"
        env.pop("QTWEBENGINE_CHROMIUM_FLAGS", None)
        done = subprocess.run([desktop.options.helper, "--timeout", "60", "--mirror", f"{base}/__hosted",
                               f"{base}/{page}"], env=env, capture_output=True, text=True, timeout=120)
        with open(os.path.join(desktop.artifacts, f"exported-{page}-check.txt"), "w") as out:
            out.write(done.stdout + done.stderr)
        lines = [line for line in done.stdout.splitlines() if line.startswith("{")]
        check(done.returncode == 0 and lines, f"the page checker failed: {done.stderr[-2000:]}")
        report = json.loads(lines[-1])
        report["missing"] = list(server.missing)
        return report
    finally:
        server.shutdown()


# --- Journeys -------------------------------------------------------------------------------

def run(journeys):
    """The command line of a journey file: --app PATH --artifacts DIR [--source DIR] [--helper PATH].

    Each journey gets a desktop of its own; the exit status is 1 when one failed."""
    import argparse
    source = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
    parser = argparse.ArgumentParser()
    parser.add_argument("--app", required=True, help="the korvane program")
    parser.add_argument("--artifacts", required=True, help="the folder for screenshots and logs")
    parser.add_argument("--source", default=source, help="the source tree (samples, staged libraries)")
    parser.add_argument("--helper", default="", help="the kr_page_check program")
    options = parser.parse_args()
    failures = 0
    for journey in journeys:
        name = journey.__name__
        start = time.monotonic()
        try:
            with Desktop(options.app, options.artifacts, name,
                         window_manager_keys=getattr(journey, "window_manager_keys", True)) as desktop:
                desktop.options = options
                journey(desktop)
            print(f"PASS {name} ({time.monotonic() - start:.1f} s)", flush=True)
        except Exception as error:
            failures += 1
            traceback.print_exc()
            print(f"FAIL {name} ({time.monotonic() - start:.1f} s): {error}", flush=True)
    return 1 if failures else 0


# --- A stand-in hosting service and desktop opener, for the journeys of the online paths

def point_at_service(desktop, port):
    """The settings the application starts with: only the service address, on "localhost" with
    the stand-in's port; the site address is left for the application to derive from it."""
    path = os.path.join(desktop.env["XDG_CONFIG_HOME"], "Korvane", "Korvane.conf")
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w") as out:
        out.write(f"[General]\napiURL=http://localhost:{port}/api.php\n")


def catch_the_opener(desktop, every_argument=False, runs_desktop_files=False):
    """An "xdg-open" first on the path that writes down what it was asked to open (its first
    argument, or all of them) and opens nothing; returns the file it writes to. Call it before
    the application starts.

    With runs_desktop_files it also does what a careless opener would with a desktop entry (a
    path or file: address ending in ".desktop"): runs its Exec line, so that a journey can tell
    from the entry's effect that it was handed over."""
    folder = os.path.join(desktop.home, "opener")
    os.makedirs(folder, exist_ok=True)
    record = os.path.join(folder, "opened.txt")
    script = os.path.join(folder, "xdg-open")
    argument = '"$*"' if every_argument else '"$1"'
    run = ""
    if runs_desktop_files:
        run = ('for a in "$@"; do\n  case "$a" in *.desktop)\n'
               '    f="${a#file://}"; cmd=$(sed -n "s/^Exec=//p" "$f" | head -n 1)\n'
               '    [ -n "$cmd" ] && sh -c "$cmd";;\n  esac\ndone\n')
    with open(script, "w") as out:
        out.write(f"#!/bin/sh\nprintf '%s\\n' {argument} >> '{record}'\n{run}")
    os.chmod(script, 0o755)
    desktop.env["PATH"] = folder + os.pathsep + desktop.env.get("PATH", "/usr/bin:/bin")
    desktop.env.pop("BROWSER", None)
    return record


def opened(record):
    """What the stand-in opener was asked to open so far, one entry a call."""
    try:
        with open(record) as lines:
            return [line.strip() for line in lines if line.strip()]
    except FileNotFoundError:
        return []


def big_popups(desktop, smallest=60):
    """The shown override-redirect windows (pop-ups) larger than a tool tip: id -> rectangle."""
    found = {}
    for number in desktop.override_windows():
        window = desktop.display.create_resource_object("window", number)
        try:
            size = window.get_geometry()
            at = window.translate_coords(desktop.display.screen().root, 0, 0)
        except Exception:  # gone since it was listed
            continue
        if size.width > smallest and size.height > smallest:
            found[number] = (-at.x, -at.y, size.width, size.height)
    return found


def popup_brought_up(desktop, bring_up, what, smallest=60):
    """Calls bring_up (a click, a shortcut) and waits for a pop-up larger than smallest both ways
    that was not up before it (as a pop-up larger than a tool tip); returns its id and rectangle."""
    before = set(big_popups(desktop))
    bring_up()
    shown = wait_until(lambda: {k: v for k, v in big_popups(desktop, smallest).items() if k not in before}, what)
    return next(iter(shown.items()))


class StandInService(http.server.ThreadingHTTPServer):
    """A stand-in hosting service on the loopback, served from a thread of its own with the
    journey's handler class; every request its handler records is kept (dictionaries with at
    least "path" and "call", the JSON method's name)."""

    daemon_threads = True

    def __init__(self, handler):
        super().__init__(("127.0.0.1", 0), handler)
        self.requests = []
        self.lock = threading.Lock()
        self.thread = threading.Thread(target=self.serve_forever, daemon=True)
        self.thread.start()

    @property
    def port(self):
        return self.server_address[1]

    def record(self, entry):
        with self.lock:
            self.requests.append(entry)

    def calls(self, name):
        with self.lock:
            return [r for r in self.requests if r.get("call") == name]

    def fetched(self, path):
        with self.lock:
            return [r for r in self.requests if r.get("path") == path]

    def stop(self):
        self.shutdown()
        self.server_close()


class StandInHandler(http.server.BaseHTTPRequestHandler):
    """The request handler of a stand-in service: every GET and POST is recorded on its server
    (verb, path, query, call: the JSON method's name, body, and "at", when it came, on the
    monotonic clock), then answered by the journey's subclass in reply(path, call)."""

    def handle_any(self):
        url = urllib.parse.urlsplit(self.path)
        call = urllib.parse.parse_qs(url.query).get("method", [""])[0]
        length = int(self.headers.get("Content-Length") or 0)
        body = self.rfile.read(length) if length else b""
        self.server.record({"verb": self.command, "path": url.path, "query": url.query, "call": call, "body": body,
                            "at": time.monotonic()})
        self.reply(url.path, call)

    do_GET = handle_any
    do_POST = handle_any

    def reply(self, path, call):
        self.send_error(404)

    def answer(self, body, kind, headers=()):
        """Answers 200 with the body, of the content type kind, and the extra headers given as
        (name, value) pairs."""
        self.send_response(200)
        self.send_header("Content-Type", kind)
        self.send_header("Content-Length", str(len(body)))
        for name, value in headers:
            self.send_header(name, value)
        self.end_headers()
        try:
            self.wfile.write(body)
        except (BrokenPipeError, ConnectionResetError):
            pass  # the application stopped reading: a refusal of a long answer does

    def log_message(self, *args):
        pass


def press(desktop, *combos):
    """Presses each key or shortcut ("Left", "ctrl+Home") in turn, at a person's pace."""
    for combo in combos:
        desktop.input.key(combo)


# --- Files dragged in from another program -----------------------------------------------------

def drop_files(desktop, window, paths, x, y, what):
    """Drops files and folders onto window at the screen point (x, y) as a file manager does,
    through the X drag-and-drop protocol (XDND 5), the journey standing in for the file manager:
    the pointer goes to the point, the window is offered the paths as text/uri-list and is given
    them when it asks. Returns whether the window accepted the drop and said it was done."""
    from Xlib import X, Xatom, display as xdisplay
    from Xlib.protocol import event
    desktop.input.glide(x, y)
    d = xdisplay.Display(desktop.env["DISPLAY"])
    try:
        atom = {name: d.intern_atom(name) for name in (
            "XdndAware", "XdndEnter", "XdndPosition", "XdndStatus", "XdndDrop", "XdndFinished", "XdndLeave",
            "XdndSelection", "XdndActionCopy", "TARGETS", "text/uri-list")}
        target = d.create_resource_object("window", desktop.managed_window(window).id)
        check(target.get_full_property(atom["XdndAware"], X.AnyPropertyType) is not None,
              f"{window.name!r} takes no dropped files (no XdndAware)")
        source = d.screen().root.create_window(-10, -10, 1, 1, 0, X.CopyFromParent)
        source.set_selection_owner(atom["XdndSelection"], X.CurrentTime)
        uris = "".join(file_url_of(path) + "\r\n" for path in paths).encode("utf-8")

        def send(kind, *data):
            target.send_event(event.ClientMessage(window=target, client_type=atom[kind],
                                                  data=(32, [source.id, *data, 0, 0, 0, 0][:5])))
            d.flush()

        def answer(request):
            kind = request.target
            if kind == atom["text/uri-list"]:
                request.requestor.change_property(request.property, kind, 8, uris)
            elif kind == atom["TARGETS"]:
                request.requestor.change_property(request.property, Xatom.ATOM, 32, [atom["text/uri-list"]])
            prop = request.property if kind in (atom["text/uri-list"], atom["TARGETS"]) else X.NONE
            request.requestor.send_event(event.SelectionNotify(
                time=request.time, requestor=request.requestor, selection=request.selection, target=kind,
                property=prop))
            d.flush()

        def next_message(kind):
            deadline = time.monotonic() + STEP_TIMEOUT
            while time.monotonic() < deadline:
                while d.pending_events():
                    e = d.next_event()
                    if e.type == X.SelectionRequest:
                        answer(e)
                    elif e.type == X.ClientMessage and e.client_type == atom[kind]:
                        return e.data[1]
                time.sleep(0.02)
            raise JourneyFailure(f"timed out after {STEP_TIMEOUT} s waiting for {kind} from {window.name!r}: {what}")

        send("XdndEnter", 5 << 24, atom["text/uri-list"])
        send("XdndPosition", 0, (int(x) << 16) | int(y), X.CurrentTime, atom["XdndActionCopy"])
        accepted = bool(next_message("XdndStatus")[1] & 1)
        time.sleep(desktop.input.press_time())
        if not accepted:
            send("XdndLeave")
            return False
        send("XdndDrop", 0, X.CurrentTime)
        return bool(next_message("XdndFinished")[1] & 1)
    finally:
        d.close()


def file_url_of(path):
    return "file://" + urllib.parse.quote(os.path.realpath(path))


# --- Pop-ups the window list leaves out --------------------------------------------------------

def shown_after(desktop, act, what, predicate=None):
    """Does act (a click, a shortcut) and returns a widget that came into view with it, as the
    accessibility bus reports it: the way to the controls of a pop-over or of a table cell's
    editor, which are in no window of the application's list. predicate picks among them."""
    import pyatspi
    from gi.repository import GLib
    event_name = "object:state-changed:showing"
    shown = []

    def listener(event):
        if event.detail1:
            shown.append(event.source)

    pyatspi.Registry.registerEventListener(listener, event_name)
    try:
        act()

        def found():
            context = GLib.MainContext.default()
            while context.pending():
                context.iteration(False)
            for source in shown:
                node = Node(source)
                if node.showing() and (predicate is None or predicate(node)):
                    return node
            return None
        return wait_until(found, what)
    finally:
        pyatspi.Registry.deregisterEventListener(listener, event_name)


def top_of(node):
    """The outermost widget above node that is still on the bus (the pop-over's body)."""
    while True:
        parent = node.parent()
        if parent is None or parent.role in ("application", "") or parent.role == "desktop frame":
            return node
        node = parent


def labels_of(node):
    """The names of the labels a control is labelled by, as a screen reader reads them."""
    import pyatspi
    names = []
    try:
        for relation in node.acc.getRelationSet():
            if relation.getRelationType() == pyatspi.RELATION_LABELLED_BY:
                names += [relation.getTarget(i).name for i in range(relation.getNTargets())]
    except Exception:
        pass
    return names


def labelled(within, role, label, what=None):
    """The control of that role under within whose label reads label."""
    return wait_until(lambda: within.find(role, predicate=lambda n: label in labels_of(n)),
                      what or f"the {role} labelled {label!r}")


def click_entry(desktop, combo, entry):
    """Opens a pop-up (combo box) with a click and clicks the entry named entry in its list."""
    desktop.click(combo)
    item = wait_until(lambda: combo.find("list item", entry), f"the entry {entry!r} in the list")
    desktop.log(f"clicking {entry!r}")
    desktop.click(item)
    wait_until(lambda: not combo.find("list item", entry), f"the list to close after {entry!r} was clicked")
