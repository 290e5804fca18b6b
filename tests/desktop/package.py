#!/usr/bin/env python3
"""A project from anyone whose web folder holds a style sheet that is a link to /dev/zero and
another that is a pipe (git, tar and zip all carry such things): opened from the command line,
its window shows, the user is told which files are not read, and Build finishes. A resource
named like a hidden file is refused in the New Resource sheet, so nothing is made that the
Resources list would never show."""

import os
import shutil
import sys

import krdesktop as kd
from panes import style_sheet_named_in_the_sheet

NAME = "Pipes"
LINK = "theme.css"  # a link to /dev/zero, and the project's default theme
PIPE = "feed.css"   # a named pipe nobody writes to
TOLD = "Some files of this project are not read"
HIDDEN = ".hidden.css"


def sample_copy(desktop, name):
    folder = os.path.join(desktop.home, "Documents", name + ".krproj")
    shutil.copytree(os.path.join(desktop.options.source, "resources", "samples", "TipCalculator.krproj"), folder)
    return folder


def project_with_special_files(desktop):
    folder = sample_copy(desktop, NAME)
    path = os.path.join(folder, "project.xml")
    with open(path, encoding="utf-8") as f:
        text = f.read()
    kd.check('defaultTheme=""' in text, "the sample names a default theme already")
    with open(path, "w", encoding="utf-8") as f:
        f.write(text.replace('defaultTheme=""', f'defaultTheme="{LINK[:-4]}"'))
    web = os.path.join(folder, "kr-web")
    os.symlink("/dev/zero", os.path.join(web, LINK))
    os.mkfifo(os.path.join(web, PIPE))
    return folder


def labels(window):
    return " ".join(n.name for n in window.find_all("label"))


def the_warning(desktop):
    for window in desktop.windows():
        if window.find("label", predicate=lambda n: TOLD in n.name):
            return window
    return None


def package_files(desktop):
    folder = project_with_special_files(desktop)
    web = os.path.join(folder, "kr-web")
    desktop.launch(folder)
    # Reading the link or the pipe would never end: the window would never show.
    window = kd.project_window(desktop, NAME)
    alert = kd.wait_until(lambda: the_warning(desktop), "the warning naming the files that are not read")
    text = labels(alert)
    desktop.screenshot("skipped-files-told")
    for expected in (f"kr-web/{LINK} is a link to a device", f"kr-web/{PIPE} is a pipe"):
        kd.check(expected in text, f"the warning does not say {expected!r}: {text!r}")
    desktop.activate_if_needed(alert)
    desktop.click(desktop.wait_for(alert, "push button", "OK", "the warning's OK button"))
    kd.wait_until(lambda: the_warning(desktop) is None, "the warning to close")

    desktop.activate_if_needed(window)
    surface = kd.design_surface(desktop, window)
    kd.check_page_drawn(desktop, surface)
    for name in (LINK, PIPE):
        kd.check(window.find("table cell", name) is None, f"{name} is listed among the resources")
    desktop.screenshot("opened")

    hidden_resource_name_refused(desktop, window, folder)

    desktop.activate_if_needed(window)
    page = os.path.join(web, "tips.html")
    kd.check(not os.path.exists(page), "the sample holds a built page already")
    desktop.click(desktop.wait_for(window, "push button", "Build"))
    # The list of generated files is written last, when the build has finished.
    listed = os.path.join(web, ".kr-generated")
    kd.wait_until(lambda: os.path.isfile(page) and os.path.isfile(listed), "the build to finish",
                  timeout=kd.LAUNCH_TIMEOUT)
    desktop.screenshot("built")
    # Nothing of the user's is touched, and nothing is made of what was not read.
    kd.check(os.path.islink(os.path.join(web, LINK)) and os.readlink(os.path.join(web, LINK)) == "/dev/zero",
             f"{LINK} is no longer the link it was")
    kd.check(os.path.exists(os.path.join(web, PIPE)) and not os.path.isfile(os.path.join(web, PIPE)),
             f"{PIPE} is no longer the pipe it was")
    kd.check(not os.path.exists(os.path.join(web, "__" + LINK)), "the build wrote a theme made of the link")
    kd.check(desktop.app_running(), "the application ended after the build")


def hidden_resource_name_refused(desktop, window, folder):
    desktop.activate_if_needed(window)
    sheet = style_sheet_named_in_the_sheet(desktop, window, HIDDEN)
    desktop.click(desktop.wait_for(sheet, "push button", "Add"))
    refusal = kd.wait_until(
        lambda: next((w for w in desktop.windows()
                      if w.find("label", predicate=lambda n: "is not a valid file name" in n.name)), None),
        f"the refusal of {HIDDEN!r}")
    text = labels(refusal)
    desktop.screenshot("hidden-name-refused")
    kd.check("hidden" in text, f"the refusal does not say the name is hidden: {text!r}")
    desktop.click(desktop.wait_for(refusal, "push button", "OK", "the refusal's OK button"))
    kd.wait_until(lambda: refusal.find("push button", "OK") is None or not refusal.showing(), "the refusal to close")
    kd.check(not os.path.lexists(os.path.join(folder, "kr-web", HIDDEN)), f"{HIDDEN} was made all the same")
    # The sheet stays up with the name as typed, to be corrected; here it is cancelled.
    sheet = desktop.window("New Resource")
    desktop.click(desktop.wait_for(sheet, "push button", "Cancel", "the sheet's Cancel button"))
    kd.wait_until(lambda: not any(w.name == "New Resource" for w in desktop.windows()), "the sheet to close")
    kd.check(not os.path.lexists(os.path.join(folder, "kr-web", HIDDEN)), f"{HIDDEN} was made all the same")


if __name__ == "__main__":
    sys.exit(kd.run([package_files]))
