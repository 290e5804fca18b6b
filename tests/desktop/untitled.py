#!/usr/bin/env python3
"""The blank start-up project is kept where logging out does not empty it: one an earlier
version kept in the runtime folder is moved there, Ctrl+S saves it there without a panel, and
the next start, after the runtime folder was emptied, reopens it."""

import os
import shutil
import sys

import krdesktop as kd


def read(path):
    with open(path, "rb") as f:
        return f.read()


def shows_the_kept_work(desktop, window, step):
    """The window shows the user's work (the tip calculator's page), not a fresh blank project
    (whose page is page1): the file on disk alone does not tell which one is open."""
    desktop.wait_for(window, "table cell", "tips", f"the kept page tips in the outline {step}")
    kd.check(window.find("table cell", "page1") is None, f"the blank project's page1 is in the outline {step}")


def the_blank_project_outlives_the_session(desktop):
    runtime = os.path.join(desktop.env["XDG_RUNTIME_DIR"], "Korvane")
    kept = os.path.join(desktop.env["XDG_DATA_HOME"], "Korvane", "Untitled.krproj")
    # An earlier version's blank project, in the runtime folder, with the user's work in it.
    old = os.path.join(runtime, "Untitled.krproj")
    os.makedirs(runtime, mode=0o700)
    shutil.copytree(os.path.join(desktop.options.source, "resources", "samples", "TipCalculator.krproj"), old)
    work = read(os.path.join(old, "project.xml"))

    desktop.launch()
    window = kd.project_window(desktop, "Untitled")
    kd.close_gallery(desktop)
    shows_the_kept_work(desktop, window, "after the move")
    kd.check(os.path.isfile(os.path.join(kept, "project.xml")), f"the blank project was not moved to {kept}")
    kd.check(read(os.path.join(kept, "project.xml")) == work, "the moved blank project lost the user's work")
    kd.check(not os.path.exists(old), "the blank project was left in the runtime folder as well")

    # Ctrl+S saves it where it is kept, without a panel.
    kd.save(desktop, window, kept)
    kd.check(not any(w.name == "Save As" for w in desktop.windows()), "Ctrl+S asked where to save")
    kd.check(not os.path.exists(old), "Ctrl+S wrote the blank project into the runtime folder")
    saved = read(os.path.join(kept, "project.xml"))
    desktop.screenshot("blank-project-saved")
    desktop.quit_app()

    # Logging out empties the runtime folder; the next start reopens the same project.
    shutil.rmtree(runtime)
    desktop.launch()
    window = kd.project_window(desktop, "Untitled")
    kd.close_gallery(desktop)
    shows_the_kept_work(desktop, window, "at the next start")
    kd.check(read(os.path.join(kept, "project.xml")) == saved, "the blank project changed at the next start")
    desktop.screenshot("blank-project-after-logout")
    desktop.quit_app()


if __name__ == "__main__":
    sys.exit(kd.run([the_blank_project_outlives_the_session]))
