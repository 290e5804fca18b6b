#!/usr/bin/env python3
"""A sample the hosting service offers is downloaded: against a stand-in service on the
loopback, the gallery lists the service's sample beside those that come with the application;
it shows no Tutorial link and fetches no picture for the empty addresses it gives, while a
second sample of the service's shows its link and has its picture fetched; its Open
button asks where to save it, the archive is fetched from the address the service
gave, and the project opens in a window of its own with its page drawn. The folder holds the
sample as it was packed, and nothing of the download is left in the temporary folder."""

import io
import json
import os
import sys
import time
import zipfile

import krdesktop as kd
from gallery import drawn_button
from service import row_named, tutorial_link

SAMPLE = "Hosted Tips"
ARCHIVE = "/samples/tips.zip"
# A second sample with a tutorial and a picture: once its link is drawn and its picture asked
# for, the gallery has done for the rows what it does, and the first row is looked at then.
GUIDED = "Hosted Guide"
GUIDED_PICTURE = "/samples/guide.png"


def packed_sample(source):
    """The tip calculator sample packed as the service packs a sample: one ".krproj" folder."""
    folder = os.path.join(source, "resources", "samples", "TipCalculator.krproj")
    data = io.BytesIO()
    files = {}
    with zipfile.ZipFile(data, "w", zipfile.ZIP_DEFLATED) as archive:
        for top, _, names in os.walk(folder):
            for name in sorted(names):
                path = os.path.join(top, name)
                inside = os.path.relpath(path, folder)
                with open(path, "rb") as f:
                    files[inside] = f.read()
                archive.writestr("Tips.krproj/" + inside, files[inside])
    return data.getvalue(), files


class StandIn(kd.StandInService):
    """The hosting service: sampleGallery lists one sample, whose archive it serves."""

    def __init__(self, archive):
        super().__init__(StandInHandler)
        self.archive = archive
        site = f"http://127.0.0.1:{self.port}"
        entry = {"name": SAMPLE, "description": "The tip calculator, from the service.", "isNew": True,
                 "url": site + ARCHIVE, "tutorial": "", "image": "", "imageThumb": ""}
        guided = {"name": GUIDED, "description": "A sample with a tutorial.", "url": site + "/samples/guide.zip",
                  "tutorial": site + "/guide.html", "image": site + GUIDED_PICTURE,
                  "imageThumb": site + GUIDED_PICTURE}
        self.gallery = json.dumps({"result": "OK", "samples": [entry, guided]}).encode()


class StandInHandler(kd.StandInHandler):
    def reply(self, path, call):
        if path == ARCHIVE:
            self.answer(self.server.archive, "application/zip")
        elif path == "/api.php" and call == "sampleGallery":
            self.answer(self.server.gallery, "application/json")
        else:
            self.send_error(404)


def leftovers(desktop):
    """What a download left in the application's temporary folder."""
    folder = os.path.join(desktop.env["XDG_RUNTIME_DIR"], "Korvane")
    names = os.listdir(folder) if os.path.isdir(folder) else []
    return [n for n in names if n.startswith(("Korvane-Sample-", "Korvane-Unzipped-Sample-"))]


def hosted_sample_downloaded(desktop):
    archive, files = packed_sample(desktop.options.source)
    service = StandIn(archive)
    try:
        kd.point_at_service(desktop, service.port)
        desktop.launch()
        kd.project_window(desktop, "Untitled")
        gallery = desktop.window("Korvane")
        row = kd.wait_until(lambda: row_named(gallery, SAMPLE), f"the service's sample {SAMPLE!r} in the gallery")
        desktop.bring_to_front(gallery)
        desktop.screenshot("hosted-sample-listed")
        # Its tutorial and picture addresses are empty: no Tutorial link, and the site is not
        # fetched in their place; looked at once the other sample's link and picture have come,
        # and for a while after.
        guided = kd.wait_until(lambda: row_named(gallery, GUIDED), f"the service's sample {GUIDED!r} in the gallery")
        kd.wait_until(lambda: tutorial_link(desktop, guided), f"the Tutorial link of {GUIDED!r}")
        kd.wait_until(lambda: service.fetched(GUIDED_PICTURE), f"the picture of {GUIDED!r} asked for")
        desktop.screenshot("hosted-samples-drawn")
        deadline = time.monotonic() + 2
        while True:
            kd.check(tutorial_link(desktop, row) is None, "the sample without a tutorial shows a Tutorial link")
            kd.check(not service.fetched("/"), "the gallery fetched the service's site for a picture")
            if time.monotonic() > deadline:
                break
            time.sleep(0.2)

        x, y, w, h = row.rect
        desktop.input.click(x + w // 3, y + h // 2)
        kd.wait_until(lambda: row.has_state(kd.state("SELECTED")), f"the sample {SAMPLE!r} selected")
        button = kd.wait_until(lambda: drawn_button(desktop, row), f"the Open button of {SAMPLE!r}")
        desktop.input.click(*button)
        path = os.path.join(desktop.home, "Documents", "Downloaded")
        kd.choose_file(desktop, f"Save the Sample \u201C{SAMPLE}\u201D As", path, "Save")

        window = kd.project_window(desktop, "Downloaded")
        kd.check(len(service.fetched(ARCHIVE)) == 1, f"the archive was fetched {len(service.fetched(ARCHIVE))} times")
        surface = kd.design_surface(desktop, window)
        kd.check_page_drawn(desktop, surface)
        desktop.screenshot("hosted-sample-opened")

        folder = path + ".krproj"
        for inside, data in files.items():
            with open(os.path.join(folder, inside), "rb") as f:
                kd.check(f.read() == data, f"{inside} in the saved sample is not as it was packed")
        kd.wait_until(lambda: not leftovers(desktop), "the download's temporary files to go")
        kd.check(desktop.quit_app() == 0, "the application did not quit cleanly")
    finally:
        service.stop()


if __name__ == "__main__":
    sys.exit(kd.run([hosted_sample_downloaded]))
