#!/usr/bin/env python3
"""A returning user who does not reopen the last project: the start gallery comes up in front of
the blank project, active, listing the recent projects with the picture of each that has one
(the launch prepares the pictures while it waits for the gallery) and the gray placeholder for
the one without; a picture that is no picture leaves the placeholder too. A project moved away
since the gallery listed it says, when its row is opened, that it is not there any more, and its
row goes."""

import os
import shutil
import struct
import sys
import zlib

import krdesktop as kd

# Name, colour of its picture (none: no preview.png), most recent first.
PROJECTS = [("Harbour", (200, 40, 40)), ("Orchard", (40, 160, 60)), ("Plain", None),
            ("Lantern", (40, 70, 210)), ("Smudged", "damaged")]
PLACEHOLDER = (0xdd, 0xdd, 0xdd)


def png(width, height, colour):
    """A picture of one colour, as a PNG file's bytes."""
    row = b"\x00" + bytes(colour) * width
    def chunk(kind, payload):
        return struct.pack(">I", len(payload)) + kind + payload + struct.pack(">I", zlib.crc32(kind + payload))
    header = struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(row * height))
            + chunk(b"IEND", b""))


def make_home(desktop):
    documents = os.path.join(desktop.home, "Documents")
    sample = os.path.join(desktop.options.source, "resources", "samples", "TipCalculator.krproj")
    paths = []
    for name, colour in PROJECTS:
        package = os.path.join(documents, name + ".krproj")
        shutil.copytree(sample, package)
        if colour == "damaged":
            with open(os.path.join(package, "preview.png"), "wb") as out:
                out.write(b"\x89PNG\r\n\x1a\nnot a picture")
        elif colour:
            with open(os.path.join(package, "preview.png"), "wb") as out:
                out.write(png(320, 640, colour))  # a phone's shape
        paths.append(package)
    config = os.path.join(desktop.env["XDG_CONFIG_HOME"], "Korvane", "Korvane.conf")
    with open(config, "a") as out:
        out.write("lastExecutedVersion=999\nopenLastProjectOnStartup=false\n")
        out.write("KRRecentDocumentPaths=" + ", ".join(paths) + "\n")


def thumbnail_pixels(desktop, row, colour):
    """How many pixels of the thumbnail's place at the row's left have the colour."""
    x, y, w, h = row.rect
    rect = (x, y, min(w, 130), h)
    return kd.grab_count(desktop, rect, lambda p: kd.near(p, colour, 10))


def returning_user_sees_recent_pictures(desktop):
    make_home(desktop)
    desktop.launch()
    kd.project_window(desktop, "Untitled")
    gallery = desktop.window("Korvane")
    names = [name for name, _ in PROJECTS]
    rows = kd.wait_until(lambda: (lambda r: r if len(r) == len(names) else None)(
        {n.name: n for n in gallery.find_all("list item", predicate=lambda n: n.name in names)}),
        "the recent projects in the gallery")
    listed = [n.name for n in rows[names[0]].parent().find_all("list item")]
    kd.check(listed == names, f"the gallery lists {listed}, expected {names}")
    kd.wait_until(lambda: gallery.has_state(kd.state("ACTIVE")), "the gallery active in front of the blank project")
    desktop.screenshot("gallery")

    # A 320 x 640 picture fits the 96 x 64 thumbnail as 32 x 64.
    for name, colour in PROJECTS:
        row = rows[name]
        if colour and colour != "damaged":
            kd.wait_until(lambda: thumbnail_pixels(desktop, row, colour) >= 32 * 64 * 9 // 10,
                          f"the picture of {name} in its row")
        else:
            kd.check(thumbnail_pixels(desktop, row, PLACEHOLDER) >= 96 * 64 * 9 // 10,
                     f"{name}, which has no picture, does not show the placeholder")
            for _, other in PROJECTS:
                if other and other != "damaged":
                    kd.check(thumbnail_pixels(desktop, row, other) < 50, f"{name} shows another project's picture")

    # A project moved away since the gallery listed it: its row says it is not there any more,
    # and goes.
    documents = os.path.join(desktop.home, "Documents")
    os.rename(os.path.join(documents, "Plain.krproj"), os.path.join(documents, "Moved.krproj"))
    desktop.input.double_click(*rows["Plain"].center)
    alert = kd.wait_until(lambda: next((w for w in desktop.windows() if w.find(
        predicate=lambda n: n.role == "label" and "is not there any more" in n.name)), None),
        "the message that Plain is not there any more")
    desktop.screenshot("moved-away")
    desktop.click(desktop.wait_for(alert, "push button", "OK", "the message's OK button"))
    kd.wait_until(lambda: gallery.find("list item", "Plain") is None and gallery.find("list item", "Harbour"),
                  "the row of the moved project to go")


if __name__ == "__main__":
    sys.exit(kd.run([returning_user_sees_recent_pictures]))
