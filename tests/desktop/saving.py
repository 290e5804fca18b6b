#!/usr/bin/env python3
"""Saving keeps what the user made: a project.xml the user made read-only is not replaced by
Ctrl+S, which tells why; the temporary copies that killed saves left are removed when the
project opens, and Save As never carries one along; a web folder replaced by a link while the
project is open is not built into."""

import os
import shutil
import stat
import sys

import krdesktop as kd


def alert_saying(desktop, text):
    """The shown alert window one of whose labels holds text, or None."""
    for window in desktop.windows():
        if window.find("label", predicate=lambda n: text in n.name):
            return window
    return None


def answer_alert(desktop, text, label):
    alert = kd.wait_until(lambda: alert_saying(desktop, text), f"an alert saying {text!r}")
    message = " ".join(n.name for n in alert.find_all("label"))
    desktop.screenshot(label)
    desktop.click(desktop.wait_for(alert, "push button", "OK", "the alert's OK button"))
    kd.wait_until(lambda: not alert_saying(desktop, text), "the alert to close")
    return message


def read(path):
    with open(path, "rb") as f:
        return f.read()


def plant_temporary(folder, name, old):
    """A temporary file as a killed save leaves it; old: dated long before this run."""
    path = os.path.join(folder, name)
    with open(path, "wb") as f:
        f.write(b"<?xml version='1.0'?><KRProjectDocument/>")
    if old:
        os.utime(path, (1000000000, 1000000000))
    return path


def saving_keeps_what_the_user_made(desktop):
    documents = os.path.join(desktop.home, "Documents")
    folder = os.path.join(documents, "Tips.krproj")
    shutil.copytree(os.path.join(desktop.options.source, "resources", "samples", "TipCalculator.krproj"), folder)
    # A link inside the project, and the temporary copies of project.xml that killed saves left.
    os.symlink("project.xml", os.path.join(folder, "alias.xml"))
    stale = [plant_temporary(folder, ".kr-write-5eed", True),
             plant_temporary(os.path.join(folder, "kr-web"), ".kr-write-c0ffee", True)]

    desktop.launch(folder)
    window = kd.project_window(desktop, "Tips")
    desktop.activate_if_needed(window)
    kd.check_page_drawn(desktop, kd.design_surface(desktop, window))
    # Opening the project removes what killed saves left.
    kd.wait_until(lambda: not any(os.path.exists(p) for p in stale), "the stale temporary files removed")

    # A project.xml the user made read-only: Ctrl+S tells why and leaves the file as it was.
    path = os.path.join(folder, "project.xml")
    os.chmod(path, 0o444)
    before = read(path)
    inode = os.stat(path).st_ino
    desktop.activate_if_needed(window)
    desktop.input.key("ctrl+s")
    message = answer_alert(desktop, "could not be saved", "read-only-refused")
    kd.check("read-only" in message, f"the error does not say the file is read-only: {message!r}")
    kd.check(read(path) == before and os.stat(path).st_ino == inode, "the read-only project.xml was replaced")
    kd.check(not [n for n in os.listdir(folder) if n.startswith(".kr-write-")], "a temporary file was left behind")

    # Writable again, the project saves under a new name; a temporary file of a save still
    # going on (as far as this process can tell) is not carried along.
    os.chmod(path, 0o644)
    plant_temporary(folder, ".kr-write-abc123", False)
    copy = os.path.join(documents, "Copy.krproj")
    desktop.menu(window, "File", "Save As…")
    kd.choose_file(desktop, "Save As", copy, "Save")
    kd.wait_until(lambda: os.path.isfile(os.path.join(copy, "project.xml")), "the copy saved")
    kd.project_window(desktop, "Copy")
    desktop.screenshot("saved-as")
    kd.check(os.path.islink(os.path.join(copy, "alias.xml")), "the link inside the project was not copied")
    carried = [n for n in os.listdir(copy) if n.startswith(".kr-write-")]
    kd.check(not carried, f"Save As carried temporary files along: {carried}")

    # The web folder replaced by a link while the project is open: Build is refused and
    # writes nothing where the link leads.
    outside = os.path.join(desktop.home, "Elsewhere")
    os.makedirs(outside)
    web = os.path.join(copy, "kr-web")
    os.rename(web, web + ".moved")
    os.symlink(outside, web)
    window = kd.project_window(desktop, "Copy")
    desktop.activate_if_needed(window)
    desktop.click(desktop.wait_for(window, "push button", "Build"))
    message = answer_alert(desktop, "could not be built", "build-refused")
    kd.check("is a link" in message, f"the build error does not say the web folder is a link: {message!r}")
    kd.check(not os.listdir(outside), f"the build wrote where the link leads: {os.listdir(outside)}")


if __name__ == "__main__":
    sys.exit(kd.run([saving_keeps_what_the_user_made]))
