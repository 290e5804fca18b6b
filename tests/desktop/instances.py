#!/usr/bin/env python3
"""One Korvane a session, and no save over changes made elsewhere: `korvane FOLDER` while
Korvane runs opens the project in the running one and ends; a project handed over whose opening
has something to tell (a class not known) is named in the alert, which comes over its window,
brought to the front; saving a project whose project.xml
another program changed asks first, and Cancel leaves that change alone."""

import os
import shutil
import sys

import krdesktop as kd

CHANGED = "changed on disk"
UNKNOWN_TOLD = "not known"


def read(path):
    with open(path, "rb") as f:
        return f.read()


def copy_sample(desktop, name):
    folder = os.path.join(desktop.home, "Documents", name + ".krproj")
    shutil.copytree(os.path.join(desktop.options.source, "resources", "samples", "TipCalculator.krproj"), folder)
    return folder


def handed_over_project_tells_over_its_own_window(desktop, in_use):
    odd = copy_sample(desktop, "Odd")
    path = os.path.join(odd, "project.xml")
    text = read(path)
    anchor = b'<KRLabel id="total"'
    kd.check(anchor in text, "the sample has no label total to put the unknown object before")
    with open(path, "wb") as f:
        f.write(text.replace(anchor, b'<XYZGauge id="gauge1" top="360" left="10" width="100" height="100"/>\n'
                             + anchor, 1))
    desktop.bring_to_front(in_use)
    status = desktop.start_again(odd)
    kd.check(status == 0, f"the start with Odd did not hand over and end (status {status})")
    alert = kd.wait_until(lambda: kd.alert_saying(desktop, UNKNOWN_TOLD), "the alert about the class not known")
    desktop.screenshot("handed-over-alert")
    said = " ".join(n.name for n in alert.find_all("label"))
    kd.check("Odd" in said, f"the alert does not name the project Odd: {said!r}")
    desktop.click(desktop.wait_for(alert, "push button", "OK", "the alert's OK button"))
    kd.wait_until(lambda: not kd.alert_saying(desktop, UNKNOWN_TOLD), "the alert to close")
    window = kd.project_window(desktop, "Odd")
    try:
        desktop.wait_active(window, "the window of Odd in front once its alert was answered")
    finally:
        desktop.screenshot("handed-over-in-front")


def a_second_start_hands_over_and_saving_asks_about_changes_on_disk(desktop):
    tips = copy_sample(desktop, "Tips")
    other = copy_sample(desktop, "Other")
    desktop.launch(tips)
    window = kd.project_window(desktop, "Tips")

    # A second start with another project: the running one opens it, the start ends.
    status = desktop.start_again(other)
    kd.check(status == 0, f"the second start did not hand over and end (status {status})")
    kd.project_window(desktop, "Other")
    desktop.screenshot("other-opened-by-the-running-one")
    # The same project again: still one window for it.
    status = desktop.start_again(os.path.join(tips, "project.xml"))
    kd.check(status == 0, f"the third start did not hand over and end (status {status})")
    titles = [title for _, title in desktop.managed_windows()]
    kd.check(titles.count("Tips") == 1, f"the windows are {titles}, not one for 'Tips'")
    # No project: the running one opens nothing more (it brings a window of its own forward).
    status = desktop.start_again()
    kd.check(status == 0, f"a start without a project did not hand over and end (status {status})")
    titles = sorted(title for _, title in desktop.managed_windows())
    kd.check(titles == ["Other", "Tips"], f"a start without a project left the windows {titles}")
    handed_over_project_tells_over_its_own_window(desktop, window)

    # Another program changes project.xml; Ctrl+S asks, and Cancel keeps that change.
    path = os.path.join(tips, "project.xml")
    theirs = read(path).replace(b"</KRProjectDocument>", b"<!-- edited elsewhere --></KRProjectDocument>")
    kd.check(theirs != read(path), "the sample's project.xml has no end tag to edit before")
    with open(path, "wb") as f:
        f.write(theirs)
    window = kd.project_window(desktop, "Tips")
    desktop.bring_to_front(window)
    desktop.input.key("ctrl+s")
    alert = kd.wait_until(lambda: kd.alert_saying(desktop, CHANGED), f"a question saying {CHANGED!r}")
    desktop.screenshot("changed-on-disk-asked")
    desktop.click(desktop.wait_for(alert, "push button", "Cancel", "the question's Cancel button"))
    kd.wait_until(lambda: not kd.alert_saying(desktop, CHANGED), "the question to close")
    kd.check(read(path) == theirs, "Cancel let the save replace the change made on disk")

    # Save Anyway replaces it; the next save asks no more.
    desktop.input.key("ctrl+s")
    alert = kd.wait_until(lambda: kd.alert_saying(desktop, CHANGED), f"a question saying {CHANGED!r} again")
    desktop.click(desktop.wait_for(alert, "push button", "Save Anyway", "the question's Save Anyway button"))
    kd.wait_until(lambda: read(path) != theirs, "project.xml written by Save Anyway")
    kd.save(desktop, window, tips)
    kd.check(not kd.alert_saying(desktop, CHANGED), "a save right after Save Anyway asked again")


if __name__ == "__main__":
    sys.exit(kd.run([a_second_start_hands_over_and_saving_asks_about_changes_on_disk]))
