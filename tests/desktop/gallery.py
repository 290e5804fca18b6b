#!/usr/bin/env python3
"""The first launch on a fresh home with no service address: the gallery lists the samples that
come with the application, one is opened with its Open button and saved where the user types in
a dialog named for the sample that offers its name in the documents folder, and its window shows
its page. Exported to a new folder, its pages name only the pinned https library addresses and
its index.html leads a browser engine to the start page. Preferences closed with the title bar's
close button come back from the menu. A gallery left open lists a project that another start
hands over among its recent projects at once; File ▸ New Project then closes the gallery and the
blank start-up project, untouched, leaving the new project and the one handed over. In File ▸
Open… a folder's name typed with Return walks into the folder, and a double click on a project
there opens it."""

import os
import re
import shutil
import sys

import krdesktop as kd

SAMPLES = ["Showcase", "TipCalculator"]
# The public library addresses as KRProject::publicLibraryURLs gives them, pinned by the test
# ExportedSitesNameOnlyTheHTTPSLibraryAddresses in tests/builder/tst_KRControlProjectBuild.cpp.
PUBLIC_LIBRARIES = [
    "https://ajax.googleapis.com/ajax/libs/jquery/1.9.0/jquery.min.js",
    "https://ajax.aspnetcdn.com/ajax/jquery.mobile/1.4.0",
]
# Any address with a scheme, and an attribute or url() that leaves out the scheme ("//host/…").
ADDRESS = re.compile(r"[A-Za-z][A-Za-z0-9+.-]*://[^\s\"'<>)]+"
                     r"|(?:src|href|action)\s*=\s*[\"']?(//[^\s\"'<>]+)|url\(\s*[\"']?(//[^\s\"'<>)]+)")


def addresses(text):
    for match in ADDRESS.finditer(text):
        yield next((g for g in match.groups() if g), match.group(0))


def public_library(address):
    return any(address == entry or address.startswith(entry + "/") for entry in PUBLIC_LIBRARIES)


def sample_rows(gallery):
    """The rows of the sample list, by name."""
    return {n.name: n for n in gallery.find_all("list item", predicate=lambda n: n.name in SAMPLES)}


def drawn_button(desktop, row):
    """The middle of the button drawn at the bottom right of a gallery row, found on the screen
    (the widgets drawn in a list's rows are not on the accessibility bus): the pixels there that
    differ from the row's background, a gradient from top to bottom, so that each line is
    compared with its own colour at the row's right margin."""
    x, y, w, h = row.rect
    image = desktop.grab(row.rect)
    found = []
    for py in range(y + h // 2, y + h - 2):
        background = image.pixel(x + w - 3, py)
        found += [(px, py) for px in range(x + w * 3 // 4, x + w - 3)
                  if not kd.near(image.pixel(px, py), background, 12)]
    if not found:
        return None
    left, right = min(p[0] for p in found), max(p[0] for p in found)
    top, bottom = min(p[1] for p in found), max(p[1] for p in found)
    if not (30 <= right - left <= w // 4 and 14 <= bottom - top <= h // 2):
        return None
    return ((left + right) // 2, (top + bottom) // 2)


def open_sample_from_gallery(desktop, name, path):
    gallery = desktop.window("Korvane")
    rows = kd.wait_until(lambda: (lambda r: r if len(r) == len(SAMPLES) else None)(sample_rows(gallery)),
                         "the bundled samples in the gallery")
    listed = [n.name for n in rows[SAMPLES[0]].parent().find_all("list item")]
    kd.check(listed == SAMPLES, f"the gallery lists {listed}, expected {SAMPLES}")
    desktop.screenshot("gallery")

    # A click on the row's text selects it; its Open button appears at the row's end.
    row = rows[name]
    x, y, w, h = row.rect
    desktop.input.click(x + w // 3, y + h // 2)
    kd.wait_until(lambda: row.has_state(kd.state("SELECTED")), f"the sample {name} selected")
    button = kd.wait_until(lambda: drawn_button(desktop, row), f"the Open button of {name}")
    desktop.screenshot("sample-selected")
    desktop.input.click(*button)
    # The dialog says what it saves and offers the sample's name in the documents folder.
    title = f"Save the Sample \u201C{name}\u201D As"
    dialog = desktop.window(title)
    field = desktop.wait_for(dialog, "text", re.compile(r"^File name:$"), "the name field")
    look_in = desktop.wait_for(dialog, "combo box", what="the dialog's folder pop-up",
                               predicate=lambda n: n.name.startswith("/"))
    desktop.screenshot("sample-save-dialog")
    documents = os.path.join(desktop.home, "Documents")
    kd.check(field.text() == f"{name}.krproj" and os.path.normpath(look_in.name) == documents,
             f"the dialog offers {field.text()!r} in {look_in.name!r}, not '{name}.krproj' in {documents!r}")
    kd.choose_file(desktop, title, path, "Save")
    return kd.project_window(desktop, os.path.basename(path))


def check_export(desktop, window, project):
    desktop.menu(window, "File", "Export as Web Application…")
    # The sample has server scripts, which an exported site leaves out: the user goes on.
    warning = desktop.window("Korvane")
    desktop.wait_for(warning, "label", re.compile("server-side scripting"), "the warning about server scripts")
    desktop.click(desktop.wait_for(warning, "push button", "Export"))
    kd.choose_file(desktop, "Export as Web Application", "Site", "Export", new_folder=True)
    status = desktop.wait_for(window, "label", "Status", "the status line")
    # The status line tells how the export ended ("Exported to …", "Export to … did not finish.").
    done = kd.wait_until(lambda: (lambda t: t if t.startswith(("Exported to ", "Export ")) else None)(
        status.acc.description), "the status line to tell the export's end")
    kd.check(done.startswith("Exported to "), f"the export did not finish: {done!r}")
    site = done[len("Exported to "):]
    kd.check(os.path.basename(site) == "Site" and os.path.isdir(site),
             f"the export went to {site!r}, not the new folder")
    desktop.screenshot("exported")

    pages = sorted(f for f in os.listdir(site) if f.endswith(".html"))
    kd.check("index.html" in pages, f"the export has no index.html: {pages}")
    for page in pages:
        with open(os.path.join(site, page), encoding="utf-8") as f:
            named = list(addresses(f.read()))
        for address in named:
            kd.check(address.startswith("https://") and public_library(address),
                     f"{page} names {address!r}, which is not one of the public library addresses")
        # Every page links jQuery and jQuery Mobile from their hosts.
        kd.check(page == "index.html" or len(named) >= 2, f"{page} names no library addresses: {named}")

    # In a browser engine, index.html leads to the start page, which jQuery Mobile shows.
    start = project.root.find("KRProject").get("startPage")
    title = project.object(start).get("title")
    report = kd.check_in_browser(desktop, site, "index.html")
    desktop.log(f"index.html: loaded={report['loaded']} ready={report['ready']} title={report['title']!r}")
    kd.check(report["loaded"] and report["ready"], "index.html did not lead to a page that jQuery Mobile showed")
    kd.check(report["title"] == title, f"index.html led to the page {report['title']!r}, not the start page {title!r}")
    kd.check(not report["errors"], "the start page has errors:\n  " + "\n  ".join(report["errors"]))
    requested = [a for a in report["mirrored"] if not public_library(a)]
    kd.check(not requested, "the start page asked other hosts for:\n  " + "\n  ".join(requested))
    kd.check(not report["missing"], "the start page links hosted files that are not the shipped "
             "libraries:\n  " + "\n  ".join(report["missing"]))


def check_preferences_reopen(desktop, window):
    title = re.compile(r"^Preferences\b")
    desktop.menu(window, "Edit", "Preferences…")
    preferences = desktop.window(title)
    desktop.screenshot("preferences")
    desktop.close_by_title_bar(preferences)
    # Closed, not minimised: the window manager keeps no such window.
    kd.wait_until(lambda: not any(title.search(name) for _, name in desktop.managed_windows()),
                  "the preferences to close")

    desktop.menu(window, "Edit", "Preferences…")
    preferences = desktop.window(title)
    kd.wait_until(lambda: preferences.has_state(kd.state("ACTIVE")), "the preferences in front again")
    desktop.wait_for(preferences, name="General", what="the preferences' General pane")
    desktop.screenshot("preferences-again")


def first_launch_gallery(desktop):
    # A fresh home: no settings, so no service address.
    os.remove(os.path.join(desktop.env["XDG_CONFIG_HOME"], "Korvane", "Korvane.conf"))
    desktop.launch()
    path = os.path.join(desktop.home, "My Showcase")
    window = open_sample_from_gallery(desktop, "Showcase", path)
    folder = path + ".krproj"
    project = kd.ProjectFile(folder)
    surface = kd.design_surface(desktop, window)
    kd.check_page_drawn(desktop, surface, min_ink=400)
    kd.check(surface.name == "Showcase", f"the design surface shows {surface.name!r}, not the page 'Showcase'")
    kd.wait_until(lambda: kd.element_with_text(surface, "Korvane sample"), "the page's footer on the surface")
    desktop.screenshot("sample-opened")

    check_export(desktop, window, project)
    check_preferences_reopen(desktop, window)
    desktop.quit_app()
    gallery_follows_the_projects(desktop)


def start_without_the_last_project(desktop):
    """The setting that a start opens the blank project and the gallery rather than the last
    project, written into the settings the application left."""
    path = os.path.join(desktop.env["XDG_CONFIG_HOME"], "Korvane", "Korvane.conf")
    with open(path, encoding="utf-8") as f:
        lines = [line for line in f.read().splitlines() if not line.startswith("openLastProjectOnStartup=")]
    at = lines.index("[General]") + 1 if "[General]" in lines else 0
    if at == 0:
        lines[:0] = ["[General]"]
        at = 1
    lines.insert(at, "openLastProjectOnStartup=false")
    with open(path, "w", encoding="utf-8") as f:
        f.write("\n".join(lines) + "\n")


def gallery_follows_the_projects(desktop):
    tips = os.path.join(desktop.home, "Documents", "Tips.krproj")
    shutil.copytree(os.path.join(desktop.options.source, "resources", "samples", "TipCalculator.krproj"), tips)
    start_without_the_last_project(desktop)
    desktop.launch()
    untitled = kd.project_window(desktop, "Untitled")
    gallery = desktop.window("Korvane")
    kd.wait_until(lambda: gallery.find("label", "Recent Projects"), "the gallery's recent projects")
    desktop.wait_for(gallery, "list item", "My Showcase", "the sample saved before among the recent projects")
    kd.check(gallery.find("list item", "Tips") is None, "the gallery lists Tips before it was opened")

    status = desktop.start_again(tips)
    kd.check(status == 0, f"the second start did not hand Tips over and end (status {status})")
    kd.project_window(desktop, "Tips")
    kd.check(any(title == "Korvane" for _, title in desktop.managed_windows()), "the gallery closed when Tips opened")
    desktop.bring_to_front(gallery)
    try:
        kd.wait_until(lambda: gallery.find("list item", "Tips"), "Tips among the open gallery's recent projects",
                      timeout=10)
    finally:
        desktop.screenshot("gallery-lists-tips")

    # A new project from the blank start-up project's window, in which nothing was done.
    desktop.bring_to_front(untitled)
    window, folder = kd.new_project(desktop, untitled, "Fresh")
    try:
        kd.wait_until(lambda: not any(title in ("Korvane", "Untitled") for _, title in desktop.managed_windows()),
                      "the gallery and the untouched Untitled window to close after New Project", timeout=10)
    finally:
        desktop.screenshot("new-project-alone")
    titles = sorted(title for _, title in desktop.managed_windows())
    kd.check(titles == ["Fresh", "Tips"], f"after New Project the windows are {titles}, not Fresh and Tips")
    open_walks_into_folders_and_opens_projects(desktop, window)
    desktop.quit_app()


def open_walks_into_folders_and_opens_projects(desktop, window):
    """File ▸ Open…: a folder's name typed and Return walks into the folder; a double click on a
    project there opens the project."""
    letters = os.path.join(desktop.home, "Documents", "Letters")
    shutil.copytree(os.path.join(desktop.options.source, "resources", "samples", "TipCalculator.krproj"),
                    os.path.join(letters, "Notes.krproj"))
    desktop.menu(window, "File", "Open…")
    dialog = desktop.window("Open")
    field = desktop.wait_for(dialog, "text", re.compile(r"^(File name|Directory):$"), "the name field")
    desktop.click(field)
    kd.wait_until(lambda: field.has_state(kd.state("FOCUSED")), "the keyboard in the dialog's name field")
    desktop.input.type("Letters")
    kd.wait_until(lambda: field.text() == "Letters", "the typed folder name in the dialog")
    desktop.input.key("Return")
    row = desktop.wait_for(dialog, "table cell", "Notes.krproj", "the project Notes.krproj in the folder Letters")
    desktop.screenshot("open-walked-into-letters")
    desktop.input.double_click(*row.center)
    kd.project_window(desktop, "Notes")
    kd.check(not any(w.name == "Open" for w in desktop.windows()), "the Open dialog stayed after the project opened")


if __name__ == "__main__":
    sys.exit(kd.run([first_launch_gallery]))
