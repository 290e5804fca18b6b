#!/usr/bin/env python3
"""Two things a project must not do to the person opening it. A 0.9 KB project.xml from anyone
whose DOCTYPE declares entities nested nine levels deep, used in a page's title, opened from the
command line, is refused at once with a message saying why (it stood for gigabytes of text: the
application took minutes and gigabytes and showed no window); a folder named after it that holds
no project is said to be no Korvane project, and the project named after that opens. Exporting
that project into its own package folder, where its web folder holds a file named "project.xml",
is refused with a message, and the package stays as it was."""

import hashlib
import os
import shutil
import sys

import krdesktop as kd

BOMB = "Bomb"
NAME = "Pipes"
NOTES = "Notes"
REFUSED = "declares the entity"
EXPORT_REFUSED = "exported into its own package"


def bomb_project(desktop):
    """A package whose project.xml declares lol0 .. lol9, each ten of the one before."""
    folder = os.path.join(desktop.home, "Documents", BOMB + ".krproj")
    os.makedirs(os.path.join(folder, "kr-web"))
    declarations = '<!ENTITY lol0 "lol">\n'
    for level in range(1, 10):
        declarations += f'<!ENTITY lol{level} "{f"&lol{level - 1};" * 10}">\n'
    text = ('<?xml version="1.0" encoding="UTF-8"?>\n<!DOCTYPE KRProjectDocument [\n' + declarations + ']>\n'
            '<KRProjectDocument appVersion="1.0.0"><KRProject/><KRPages>'
            '<KRPage id="page1" title="&lol9;"/></KRPages></KRProjectDocument>\n')
    kd.check(len(text) < 1024, f"the project file is {len(text)} bytes")
    with open(os.path.join(folder, "project.xml"), "w", encoding="utf-8") as f:
        f.write(text)
    return folder


def sample_copy(desktop):
    """The tip calculator sample as a project of the user's, whose web folder holds a file of the
    user's named "project.xml"."""
    folder = os.path.join(desktop.home, "Documents", NAME + ".krproj")
    shutil.copytree(os.path.join(desktop.options.source, "resources", "samples", "TipCalculator.krproj"), folder)
    with open(os.path.join(folder, "kr-web", "project.xml"), "w", encoding="utf-8") as f:
        f.write("<notes>not the project</notes>\n")
    return folder


def fingerprint(package):
    """What an export must leave as it is: the entries of the package folder and the bytes of its
    project.xml and of the user's files in the web folder (the build before the export writes
    its pages there, as every build does)."""
    listing = sorted(os.listdir(package))
    for name in ("project.xml", os.path.join("kr-web", "project.xml")):
        path = os.path.join(package, name)
        if os.path.isfile(path):
            with open(path, "rb") as f:
                listing.append(f"{name} {hashlib.sha1(f.read()).hexdigest()}")
    return listing


def labels(window):
    return " ".join(n.name for n in window.find_all("label"))


def alert_saying(desktop, text):
    for window in desktop.windows():
        if window.find("label", predicate=lambda n: text in n.name):
            return window
    return None


def dismiss(desktop, alert, text, what):
    desktop.activate_if_needed(alert)
    desktop.click(desktop.wait_for(alert, "push button", "OK", f"the {what}'s OK button"))
    kd.wait_until(lambda: alert_saying(desktop, text) is None, f"the {what} to close")


def entity_declarations_refused(desktop):
    bomb = bomb_project(desktop)
    package = sample_copy(desktop)
    # A folder of the user's that is no project at all.
    notes = os.path.join(desktop.home, "Documents", NOTES)
    os.makedirs(notes)
    with open(os.path.join(notes, "todo.txt"), "w", encoding="utf-8") as f:
        f.write("buy milk\n")
    desktop.launch(bomb, notes, package)
    # Expanded, the title is three gigabytes of text: the message would never come.
    alert = kd.wait_until(lambda: alert_saying(desktop, REFUSED), "the message that the project is refused",
                          kd.LAUNCH_TIMEOUT)
    text = labels(alert)
    desktop.screenshot("bomb-refused")
    for expected in (f"The project \u201c{BOMB}.krproj\u201d could not be opened.", "\u201clol0\u201d",
                     "documents that declare entities are not read"):
        kd.check(expected in text, f"the message does not say {expected!r}: {text!r}")
    dismiss(desktop, alert, REFUSED, "message")
    kd.check(desktop.app_running(), "the application ended after refusing the project")

    # The folder that is no project: said so in a sentence, naming the folder and what it lacks.
    alert = kd.wait_until(lambda: alert_saying(desktop, f"\u201c{NOTES}\u201d"),
                          "the message that the folder is no project", kd.LAUNCH_TIMEOUT)
    text = labels(alert)
    desktop.screenshot("not-a-project")
    expected = f"\u201c{NOTES}\u201d is not a Korvane project: the folder has no project.xml."
    kd.check(expected in text, f"the message does not say {expected!r}: {text!r}")
    dismiss(desktop, alert, f"\u201c{NOTES}\u201d", "message")
    kd.check(sorted(os.listdir(notes)) == ["todo.txt"],
             f"the folder that is no project was changed: {os.listdir(notes)}")

    window = kd.project_window(desktop, NAME)
    desktop.activate_if_needed(window)
    surface = kd.design_surface(desktop, window)
    kd.check_page_drawn(desktop, surface)
    desktop.screenshot("sample-opened")
    export_into_the_package_refused(desktop, window, package)


def choose_folder(desktop, title, folder, accept):
    """Answers a folder dialog: from the folder it opens in (beside the project), goes into the
    folder's parent with a double click on each folder on the way and selects the folder with a
    click, as a person does (a typed path brings up the completion list, which takes the click
    on the dialog's button)."""
    dialog = desktop.window(title)
    look_in = desktop.wait_for(dialog, "combo box", what="the dialog's folder pop-up",
                               predicate=lambda n: n.name.startswith("/"))
    way = os.path.relpath(os.path.dirname(folder), os.path.normpath(look_in.name))
    kd.check(not way.startswith(".."), f"the dialog opens in {look_in.name!r}, not on the way to {folder!r}")
    for name in [] if way == "." else way.split(os.sep):
        cell = desktop.wait_for(dialog, "table cell", name, f"the folder {name!r} in the list")
        desktop.input.double_click(*cell.center)
    cell = desktop.wait_for(dialog, "table cell", os.path.basename(folder), f"{os.path.basename(folder)!r} in the list")
    desktop.click(cell)
    desktop.wait_for(dialog, "table cell", os.path.basename(folder), "the folder selected",
                     predicate=lambda n: n.has_state(kd.state("SELECTED")))
    desktop.click(desktop.wait_for(dialog, "push button", accept))
    kd.wait_until(lambda: not any(w.name == title for w in desktop.windows()), f"the dialog {title!r} to close")


def export_into_the_package_refused(desktop, window, package):
    before = fingerprint(package)
    desktop.activate_if_needed(window)
    desktop.menu(window, "File", "Export as Web Application…")
    choose_folder(desktop, "Export as Web Application", package, "Export")
    # Without the refusal the export asked whether to replace project.xml, and replaced it.
    alert = kd.wait_until(lambda: alert_saying(desktop, EXPORT_REFUSED) or alert_saying(desktop, "replace"),
                          "the message that the export is refused", kd.LAUNCH_TIMEOUT)
    text = labels(alert)
    desktop.screenshot("export-refused")
    kd.check(EXPORT_REFUSED in text, f"the export into the package is not refused: {text!r}")
    kd.check(os.path.basename(package) in text, f"the message does not name the package: {text!r}")
    dismiss(desktop, alert, EXPORT_REFUSED, "refusal")
    after = fingerprint(package)
    changed = sorted(set(before) ^ set(after))
    kd.check(not changed, "the export changed the package:\n  " + "\n  ".join(changed))
    kd.check(desktop.app_running(), "the application ended after refusing the export")


if __name__ == "__main__":
    sys.exit(kd.run([entity_declarations_refused]))
