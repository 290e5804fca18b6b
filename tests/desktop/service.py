#!/usr/bin/env python3
"""What a hosting service sends is kept within bounds. Against a stand-in service on the
loopback: a sample gallery of 9 MB is refused at once and the gallery says why under its lists,
offering the samples that come with the application; then, from Window > Gallery, a gallery
whose sample has a Tutorial link to a local ".desktop" file and an address of a local folder:
the Tutorial link opens nothing (the browser opener is never run) and says why, and Open says
the sample cannot be downloaded and copies nothing. At the next start, a gallery whose entries
are mostly malformed (no object, no name, no address) lists only the well-formed sample, with no
blank rows."""

import json
import os
import sys
import time

import krdesktop as kd
from gallery import drawn_button

SAMPLE = "Borrowed Folder"
BUNDLED = ["Showcase", "TipCalculator"]
TUTORIAL_BLUE = (0x2A, 0x6E, 0xBB)


class StandIn(kd.StandInService):
    """The hosting service at /api.php?method=NAME; `gallery` is what sampleGallery answers
    (bytes), and every call is kept (call name, when it came)."""

    def __init__(self):
        super().__init__(StandInHandler)
        self.gallery = b'{"result": "OK", "samples": []}'


class StandInHandler(kd.StandInHandler):
    def reply(self, path, call):
        if path != "/api.php":
            self.send_error(404)
            return
        body = self.server.gallery if call == "sampleGallery" else json.dumps(
            {"result": "ERR", "errortext": f"unknown method {call!r}"}).encode()
        self.answer(body, "application/json")


def find_alert(desktop, phrase):
    """The shown window with a label that holds phrase, and that label; None when none is."""
    for window in desktop.windows():
        label = window.find("label", predicate=lambda n: phrase in n.name)
        if label is not None:
            return window, label
    return None


def alert_saying(desktop, phrase, what):
    return kd.wait_until(lambda: find_alert(desktop, phrase), what)


def dismiss(desktop, alert):
    desktop.activate_if_needed(alert)
    desktop.click(desktop.wait_for(alert, "push button", "OK", "the alert's OK button"))
    kd.wait_until(lambda: not alert.showing(), "the alert to close")


def row_named(gallery, name):
    return gallery.find("list item", predicate=lambda n: n.name == name)


def tutorial_link(desktop, row):
    """The middle of the blue "Tutorial" text drawn in a gallery row (the widgets drawn in a
    list's rows are not on the accessibility bus)."""
    x, y, w, h = row.rect
    image = desktop.grab(row.rect)
    found = [(px, py) for py in range(y, y + h) for px in range(x, x + w // 2)
             if kd.near(image.pixel(px, py), TUTORIAL_BLUE, 40)]
    if len(found) < 20:
        return None
    return ((min(p[0] for p in found) + max(p[0] for p in found)) // 2,
            (min(p[1] for p in found) + max(p[1] for p in found)) // 2)


def oversized_gallery(desktop, service):
    """A gallery answer of 9 MB (the bound is 8 MB) is refused as it arrives: the gallery says
    so under its lists within seconds and offers the samples that come with the application."""
    entry = {"name": "x" * (9 << 20), "url": "samples/big.zip"}
    service.gallery = json.dumps({"result": "OK", "samples": [entry]}).encode()
    desktop.launch()
    kd.project_window(desktop, "Untitled")
    gallery = desktop.window("Korvane")
    asked = kd.wait_until(lambda: service.calls("sampleGallery"), "the gallery to ask the service for samples")[0]
    notice = kd.wait_until(lambda: gallery.find("label", predicate=lambda n: "could not be listed" in n.name),
                           "the gallery to say why the service's samples are not listed")
    took = time.monotonic() - asked["at"]
    desktop.bring_to_front(gallery)
    desktop.screenshot("oversized-gallery-refused")
    desktop.log(f"the gallery says {notice.name!r} after {took:.1f} s")
    kd.check("larger than 8 MB" in notice.name and "refused" in notice.name,
             f"the gallery says {notice.name!r}, not that the answer was too large")
    kd.check(took < 15, f"the refusal took {took:.1f} s")
    kd.wait_until(lambda: all(row_named(gallery, name) for name in BUNDLED),
                  "the samples that come with the application in the gallery")
    kd.close_gallery(desktop)


def unsafe_addresses(desktop, service, record):
    """The service names a ".desktop" file as a sample's tutorial and a local folder as its
    address: neither is opened nor copied."""
    launcher = os.path.join(desktop.home, "x.desktop")
    with open(launcher, "w") as out:
        out.write("[Desktop Entry]\nType=Application\nName=x\nExec=touch " + os.path.join(desktop.home, "ran") + "\n")
    secret = os.path.join(desktop.home, "private.krproj")
    os.makedirs(secret, exist_ok=True)
    with open(os.path.join(secret, "project.xml"), "w") as out:
        out.write("<KRProject/>\n")
    with open(os.path.join(secret, "notes.txt"), "w") as out:
        out.write("not for the service\n")
    entry = {"name": SAMPLE, "description": "A sample from a local folder.", "isNew": False,
             "url": "file://" + secret, "tutorial": "file://" + launcher,
             "image": "", "imageThumb": ""}
    service.gallery = json.dumps({"result": "OK", "samples": [entry]}).encode()
    calls = len(service.calls("sampleGallery"))

    window = kd.project_window(desktop, "Untitled")
    desktop.menu(window, "Window", "Gallery")
    gallery = desktop.window("Korvane")
    kd.wait_until(lambda: len(service.calls("sampleGallery")) > calls, "the gallery to ask the service again")
    row = kd.wait_until(lambda: row_named(gallery, SAMPLE), f"the sample {SAMPLE!r} in the gallery")
    desktop.bring_to_front(gallery)
    link = kd.wait_until(lambda: tutorial_link(desktop, row), "the Tutorial link drawn in the sample's row")
    desktop.screenshot("unsafe-sample-listed")

    # The Tutorial link: refused with the reason, the opener never run.
    desktop.input.click(*link)
    kd.wait_until(lambda: kd.opened(record) or find_alert(desktop, "tutorial cannot be opened"),
                  "the alert that the tutorial cannot be opened")
    kd.check(not kd.opened(record), f"the opener was run with {kd.opened(record)}")
    alert, label = alert_saying(desktop, "tutorial cannot be opened", "the alert that the tutorial cannot be opened")
    why = alert.find("label", predicate=lambda n: "not a web address" in n.name)
    desktop.screenshot("tutorial-refused")
    kd.check(why is not None, "the alert does not say that the tutorial's address is not a web address")
    kd.check(not kd.opened(record), f"the opener was run with {kd.opened(record)}")
    dismiss(desktop, alert)

    # Open: refused before anything is asked or copied.
    documents = os.path.join(desktop.home, "Documents")
    before = sorted(os.listdir(documents)) if os.path.isdir(documents) else []
    x, y, w, h = row.rect
    desktop.input.click(x + w // 3, y + h // 2)
    kd.wait_until(lambda: row.has_state(kd.state("SELECTED")), f"the sample {SAMPLE!r} selected")
    button = kd.wait_until(lambda: drawn_button(desktop, row), f"the Open button of {SAMPLE!r}")
    desktop.input.click(*button)
    kd.wait_until(lambda: any(w.name == "Save" for w in desktop.windows()) or find_alert(desktop, "cannot be downloaded"),
                  "the alert that the sample cannot be downloaded")
    kd.check(not any(w.name == "Save" for w in desktop.windows()), "a Save dialog opened for the sample from a local folder")
    alert, label = alert_saying(desktop, "cannot be downloaded", "the alert that the sample cannot be downloaded")
    why = alert.find("label", predicate=lambda n: "not a web address" in n.name)
    desktop.screenshot("sample-refused")
    kd.check(why is not None, "the alert does not say that the sample's address is not a web address")
    dismiss(desktop, alert)
    after = sorted(os.listdir(documents)) if os.path.isdir(documents) else []
    kd.check(after == before, f"the documents folder changed from {before} to {after}")
    kd.check(not kd.opened(record), f"the opener was run with {kd.opened(record)}")
    kd.check(not os.path.exists(os.path.join(desktop.home, "ran")), "the .desktop file was run")
    kd.check(sorted(os.listdir(secret)) == ["notes.txt", "project.xml"], "the local folder was changed")


def malformed_entries(desktop, service):
    """Entries without a name or an address, or no entries at all, are left out of the list."""
    entries = [42, "text", None, [], {}, {"name": 7, "url": "samples/a.zip"}, {"name": " ", "url": "samples/a.zip"},
               {"name": "No Address", "description": "Nowhere to download it from."},
               {"name": "Good Sample", "description": "A sample.", "url": "samples/good.zip"},
               {"description": "Only a description.", "url": "samples/b.zip"}]
    service.gallery = json.dumps({"result": "OK", "samples": entries}).encode()
    calls = len(service.calls("sampleGallery"))
    desktop.launch()
    window = kd.project_window(desktop, "Untitled")
    desktop.menu(window, "Window", "Gallery")
    gallery = desktop.window("Korvane")
    kd.wait_until(lambda: len(service.calls("sampleGallery")) > calls, "the gallery to ask the service for samples")
    kd.wait_until(lambda: row_named(gallery, "Good Sample"), "the well-formed sample in the gallery")
    desktop.bring_to_front(gallery)
    time.sleep(0.5)  # every row laid out
    desktop.screenshot("malformed-samples-left-out")
    names = [n.name for n in gallery.find_all("list item")]
    desktop.log(f"the gallery lists {names}")
    kd.check(names == ["Good Sample"], f"the gallery lists {names}, not only the well-formed sample")
    kd.close_gallery(desktop)


def service_bounds(desktop):
    service = StandIn()
    try:
        kd.point_at_service(desktop, service.port)
        record = kd.catch_the_opener(desktop, every_argument=True, runs_desktop_files=True)
        oversized_gallery(desktop, service)
        unsafe_addresses(desktop, service, record)
        kd.check(desktop.quit_app() == 0, "the application did not quit cleanly")
        malformed_entries(desktop, service)
        kd.check(desktop.quit_app() == 0, "the application did not quit cleanly")
    finally:
        service.stop()


if __name__ == "__main__":
    sys.exit(kd.run([service_bounds]))
