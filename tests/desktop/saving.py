#!/usr/bin/env python3
"""Saving keeps what the user made: Export and Save As start beside the project (Save As
offering a name for a copy that nothing there has yet, selected for typing), and Open Resource
hands a picture to the desktop's application; a project.xml the user made read-only is not
replaced by Ctrl+S, which tells why; the temporary copies that killed saves left are removed
when the project opens, and Save As never carries one along, while a file of the user's that
merely has such a name stays; a file whose name is not UTF-8 is named when the project opens
and carried by Save As; a Save As into a folder nothing can be made in says where and why; a
web folder replaced by a link while the project is open is not built into; a Save As under a
name of 240 bytes saves there; a character no project file can hold, pasted into a label, is
replaced as the project saves, the user told where; a project whose label would carry more
attributes once saved than a project may is refused as it opens, saying which and what to do."""

import base64
import os
import re
import shutil
import stat
import subprocess
import sys
import urllib.parse
import xml.etree.ElementTree as ElementTree

import krdesktop as kd

# The most attributes an element of a project may carry when it is read.
ELEMENT_ATTRIBUTES = 1024
# A project whose one label carries the attributes given.
CROWDED = """<?xml version="1.0" encoding="UTF-8"?>
<KRProjectDocument appVersion="1.0.0">
<KRProject JQMVersion="1.4"/>
<KRPages>
<KRPage id="page1" title="Page 1"><KRContents>
<KRLabel id="crowded" top="40" left="20" width="200" height="30" {attributes}>Crowded</KRLabel>
</KRContents></KRPage>
</KRPages>
</KRProjectDocument>
"""

# A picture of one pixel.
PHOTO = base64.b64decode("iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAYAAAAfFcSJAAAADUlEQVR42mP8z8DwHwAFBQIAX8jx0gAAAABJRU5ErkJggg==")


def answer_alert(desktop, text, label):
    alert = kd.wait_until(lambda: kd.alert_saying(desktop, text), f"an alert saying {text!r}")
    message = " ".join(n.name for n in alert.find_all("label"))
    desktop.screenshot(label)
    desktop.click(desktop.wait_for(alert, "push button", "OK", "the alert's OK button"))
    kd.wait_until(lambda: not kd.alert_saying(desktop, text), "the alert to close")
    return message


def read(path):
    with open(path, "rb") as f:
        return f.read()


def plant_temporary(folder, name, old, marked=True):
    """A temporary file as a killed save leaves it (marked as the application's own, unless
    marked is false: then it is the user's, with such a name); old: dated long before this run."""
    path = os.path.join(folder, name)
    with open(path, "wb") as f:
        f.write(b"<?xml version='1.0'?><KRProjectDocument/>")
    if marked:
        os.setxattr(path, "user.com.korvane.temporaryWrite", b"1")
    if old:
        os.utime(path, (1000000000, 1000000000))
    return path


def dialog_folder(desktop, dialog):
    """The folder a file dialog shows (its folder pop-up)."""
    look_in = desktop.wait_for(dialog, "combo box", what="the dialog's folder pop-up",
                               predicate=lambda n: n.name.startswith("/"))
    return os.path.normpath(look_in.name)


def saving_keeps_what_the_user_made(desktop):
    documents = os.path.join(desktop.home, "Documents")
    # Neither the working folder nor the documents folder: the dialogs start beside it.
    work = os.path.join(desktop.home, "Work")
    folder = os.path.join(work, "Tips.krproj")
    shutil.copytree(os.path.join(desktop.options.source, "resources", "samples", "TipCalculator.krproj"), folder)
    photo = os.path.join(folder, "kr-web", "photo.png")
    with open(photo, "wb") as f:
        f.write(PHOTO)
    record = kd.catch_the_opener(desktop)
    # A link inside the project, and the temporary copies of project.xml that killed saves left.
    os.symlink("project.xml", os.path.join(folder, "alias.xml"))
    stale = [plant_temporary(folder, ".kr-write-5eed", True),
             plant_temporary(os.path.join(folder, "kr-web"), ".kr-write-c0ffee", True)]
    users = plant_temporary(folder, ".kr-write-0dd", True, marked=False)
    # A picture from an old archive whose name is Latin-1, not UTF-8.
    odd = os.path.join(folder, "kr-web", "caf\udce9.png")
    with open(odd, "wb") as f:
        f.write(b"\x89PNG from an old archive")

    desktop.launch(folder)
    window = kd.project_window(desktop, "Tips")
    # The file that no resource path can reach is named, not hidden.
    message = answer_alert(desktop, "not UTF-8", "odd-name-told")
    kd.check("caf\\xE9.png" in message, f"the alert does not name the file: {message!r}")
    desktop.activate_if_needed(window)
    kd.check_page_drawn(desktop, kd.design_surface(desktop, window))
    # Opening the project removes what killed saves left, and nothing of the user's.
    kd.wait_until(lambda: not any(os.path.exists(p) for p in stale), "the stale temporary files removed")
    kd.check(os.path.exists(users), "a file of the user's named like a temporary file was removed")

    # Export starts beside the project.
    desktop.input.key("ctrl+e")
    dialog = desktop.window("Export as Web Application")
    desktop.screenshot("export-dialog")
    start = dialog_folder(desktop, dialog)
    kd.check(start == work, f"Export opens in {start!r}, not {work!r} beside the project")
    desktop.input.key("Escape")
    kd.wait_until(lambda: not any(w.name == "Export as Web Application" for w in desktop.windows()),
                  "the Export dialog to close")

    # Open Resource on a picture hands it to the desktop's application for it.
    row = desktop.wait_for(window, "table cell", "photo.png", "photo.png in the project outline")
    before = desktop.override_windows()
    desktop.click(row, button=3)
    shown = kd.wait_until(lambda: desktop.override_windows() - before, "the context menu of photo.png")
    desktop.input.key("Down")  # Open Resource, the first entry
    desktop.input.key("Return")
    kd.wait_until(lambda: not (shown & desktop.override_windows()), "the context menu to close")
    url = "file://" + urllib.parse.quote(os.path.realpath(photo))
    kd.wait_until(lambda: kd.opened(record) == [url], f"the picture handed to the desktop (it got {kd.opened(record)})")

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
    left = [n for n in os.listdir(folder) if n.startswith(".kr-write-") and n != os.path.basename(users)]
    kd.check(not left, f"a temporary file was left behind: {left}")

    # Writable again. A character no project file can hold, pasted into the label's text: Ctrl+S
    # saves without a word against it, the status line says where the value changed, and the
    # file is XML that opens again, the character replaced.
    os.chmod(path, 0o644)
    desktop.activate_if_needed(window)
    kd.click_page(desktop, kd.design_surface(desktop, window), 150, 300)
    kd.wait_inspected(desktop, window, "tip")
    field = kd.inspector_field(desktop, window, "value")
    desktop.click(field)
    desktop.input.key("ctrl+a")
    kd.offer_clipboard(desktop, "Tip \uffff due")
    desktop.input.key("ctrl+v")
    desktop.input.key("Return")
    status = desktop.wait_for(window, "label", "Status", "the status line")
    kd.wait_until(lambda: "cannot hold" in (status.acc.description or ""), "the status line to say a character was replaced")
    told = status.acc.description
    kd.check("\u201cvalue\u201d of the KRLabel \u201ctip\u201d on the page \u201ctips\u201d" in told,
             f"the status line does not say where the value changed: {told!r}")
    desktop.input.key("ctrl+s")
    kd.wait_until(lambda: "Tip \ufffd due".encode() in read(path), "the project saved with the character replaced")
    desktop.screenshot("unstorable-character-saved")
    kd.check(not kd.alert_saying(desktop, "could not"), "saving the replaced character was refused")
    try:
        ElementTree.fromstring(read(path))
    except ElementTree.ParseError as error:
        kd.check(False, f"the saved project.xml is no XML that opens again: {error}")

    # A temporary file of a save still going on (as far as this process can tell) is not
    # carried along when the project saves under a new name.
    plant_temporary(folder, ".kr-write-abc123", False)
    copy = os.path.join(documents, "Copy.krproj")
    # A copy made before is there already.
    os.makedirs(os.path.join(work, "Tips copy.krproj"))
    desktop.menu(window, "File", "Save As…")
    # Beside the project, a name offered that nothing there has yet (the project's own would
    # make the button "Open" and Return go into the package), ready to be typed over but for
    # the suffix.
    dialog = desktop.window("Save As")
    name = desktop.wait_for(dialog, "text", re.compile(r"^File name:$"), "the name field")
    start = dialog_folder(desktop, dialog)
    desktop.screenshot("save-as-dialog")
    kd.check(start == work and name.text() == "Tips copy 2.krproj",
             f"Save As opens in {start!r} offering {name.text()!r}, not in {work!r} offering 'Tips copy 2.krproj'")
    kd.check(dialog.find("push button", "Save") and not dialog.find("push button", "Open"),
             "the Save As dialog's button does not read Save")
    kd.wait_until(lambda: name.has_state(kd.state("FOCUSED")), "the keyboard in the name field")
    desktop.input.type("Draft")
    kd.wait_until(lambda: name.text() == "Draft.krproj",
                  f"the typed name in place of the offered one ({name.text()!r})")
    desktop.screenshot("save-as-typed")
    kd.choose_file(desktop, "Save As", copy, "Save")
    kd.wait_until(lambda: os.path.isfile(os.path.join(copy, "project.xml")), "the copy saved")
    kd.project_window(desktop, "Copy")
    desktop.screenshot("saved-as")
    kd.check(os.path.islink(os.path.join(copy, "alias.xml")), "the link inside the project was not copied")
    carried = [n for n in os.listdir(copy) if n.startswith(".kr-write-")]
    kd.check(carried == [".kr-write-0dd"], f"Save As carried temporary files along, or left the user's: {carried}")
    copied = os.path.join(copy, "kr-web", "caf\udce9.png")
    kd.check(os.path.isfile(copied) and read(copied) == read(odd), "Save As left out the file whose name is not UTF-8")

    # Save As into a folder nothing can be made in: the error says where and why.
    locked = os.path.join(documents, "Locked")
    os.makedirs(locked)
    immutable = subprocess.run(["chattr", "+i", locked], capture_output=True).returncode == 0
    if not immutable:
        os.chmod(locked, 0o555)
    try:
        window = kd.project_window(desktop, "Copy")
        desktop.activate_if_needed(window)
        desktop.menu(window, "File", "Save As…")
        kd.choose_file(desktop, "Save As", os.path.join(locked, "Other.krproj"), "Save")
        message = answer_alert(desktop, "could not be saved", "locked-folder")
    finally:
        if immutable:
            subprocess.run(["chattr", "-i", locked])
        os.chmod(locked, 0o755)
    kd.check(locked in message and ("Operation not permitted" in message or "Permission denied" in message),
             f"the error does not say where and why: {message!r}")
    kd.check("read-only" not in message, f"the error calls the folder a read-only file: {message!r}")
    kd.check(not os.listdir(locked), f"the failed Save As left {os.listdir(locked)}")

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

    # A name of 240 bytes, as long as the user may choose: Save As builds the package beside
    # its place under a hidden name that still fits, and the project is then at that place.
    os.remove(web)
    os.rename(web + ".moved", web)
    long_name = "Long" + "g" * 229 + ".krproj"
    long_copy = os.path.join(documents, long_name)
    window = kd.project_window(desktop, "Copy")
    desktop.activate_if_needed(window)
    desktop.menu(window, "File", "Save As…")
    # Typed quickly: what counts is the name's length, not how long it takes to type.
    kd.choose_file(desktop, "Save As", long_name, "Save", quick=True)
    kd.wait_until(lambda: os.path.isfile(os.path.join(long_copy, "project.xml"))
                  or kd.alert_saying(desktop, "could not be saved"), "the project saved under the long name, or an error")
    if kd.alert_saying(desktop, "could not be saved"):
        message = answer_alert(desktop, "could not be saved", "long-name-refused")
        kd.check(False, f"Save As refused a name of {len(long_name.encode())} bytes: {message!r}")
    window = kd.project_window(desktop, long_name[:-len(".krproj")])
    desktop.screenshot("saved-as-long-name")
    kd.check_page_drawn(desktop, kd.design_surface(desktop, window))
    kd.check(b"<KRProjectDocument" in read(os.path.join(long_copy, "project.xml")), "the long-named package holds no project")
    kd.check(os.path.isfile(os.path.join(long_copy, "kr-web", "photo.png")), "the long-named package lacks the project's files")
    hidden = [n for n in os.listdir(documents) if n.startswith(".")]
    kd.check(not hidden, f"the save left {hidden} beside the package")

    # A project whose label carries as many attributes as an element may (a thousand and more,
    # none of them its own properties) would carry more once saved with the label's own: it is
    # refused as it opens, the message naming the label and its page and what to do, before the
    # user works on it; the file stays as it was.
    crowded = os.path.join(documents, "Crowded.krproj")
    os.makedirs(os.path.join(crowded, "kr-web"))
    path = os.path.join(crowded, "project.xml")
    with open(path, "w", encoding="utf-8") as out:
        # With its id, place and size, as many as an element may carry.
        out.write(CROWDED.format(attributes=" ".join(f'x{n}="1"' for n in range(1, ELEMENT_ATTRIBUTES - 4))))
    before = read(path)
    status = desktop.start_again(crowded)
    kd.check(status == 0, f"the second start did not hand over and end (status {status})")
    message = answer_alert(desktop, "could not be opened", "crowded-open-refused")
    for expected in ("\u201cKRLabel\u201d with the id \u201ccrowded\u201d carries", f"at most {ELEMENT_ATTRIBUTES}",
                     "That is the KRLabel \u201ccrowded\u201d on the page \u201cpage1\u201d",
                     "remove attributes that Korvane does not use from it"):
        kd.check(expected in message, f"the message does not say {expected!r}: {message!r}")
    kd.check(not any(w.name.startswith("Crowded") for w in desktop.windows()), "the refused project opened a window")
    kd.check(read(path) == before, "the refused project.xml was changed")


if __name__ == "__main__":
    sys.exit(kd.run([saving_keeps_what_the_user_made]))
