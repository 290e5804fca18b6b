#!/usr/bin/env python3
"""Three things a project must not do to the person opening it. A 0.9 KB project.xml from anyone
whose DOCTYPE declares entities nested nine levels deep, used in a page's title, opened from the
command line, is refused at once with a message saying why (it stood for gigabytes of text: the
application took minutes and gigabytes and showed no window); a folder named after it that holds
no project is said to be no Korvane project, and the project named after that opens. Exporting
that project into its own package folder, where its web folder holds a file named "project.xml",
is refused with a message, and the package stays as it was. A project whose page nests 15,000
divs one inside the other, handed to the running Korvane by a second start, is refused with a
message naming the depth and the element (it overflowed the stack and ended every window with
its unsaved work), and the open window keeps its unsaved label; one nested exactly as deep as a
project may be opens, its page's document tells assistive tools where it lies as the window
opens, its page is drawn, its objects are listed, its innermost label is
selected by a press, its outermost div is deleted and brought back by Undo, and saved and
exported it loads."""

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
DEEP = "Deep"
AT_BOUND = "Bound"
TOO_DEEP = "levels deep"
# How deep a document's elements may nest, and how deep a page's own contents lie in it
# (KRProjectDocument, KRPages, KRPage, KRContents): a div and its contents take two levels.
DEPTH_BOUND = 1024
CONTENTS_DEPTH = 4
UNSAVED_LABEL_AT = (20, 420)


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


def nested_project(desktop, name, levels, spare=False):
    """A package whose page holds `levels` divs nested one inside the other, the label "Bottom"
    in the innermost; with spare, an empty div beside that label as well."""
    folder = os.path.join(desktop.home, "Documents", name + ".krproj")
    os.makedirs(os.path.join(folder, "kr-web"))
    bottom = '<KRLabel id="bottom" top="60" left="20" width="200" height="30">Bottom</KRLabel>\n'
    if spare:
        bottom = (f'<KRDiv id="div{levels + 1}" top="10" left="10" width="20" height="20"><KRContents/></KRDiv>\n'
                  + bottom)
    with open(os.path.join(folder, "project.xml"), "w", encoding="utf-8") as f:
        f.write('<?xml version="1.0" encoding="UTF-8"?>\n<KRProjectDocument appVersion="0.1.0">'
                '<KRProject JQMVersion="1.4" designTarget="iPhone" startPage="page1"/><KRPages>'
                '<KRPage id="page1" title="Page 1"><KRContents>\n')
        for n in range(1, levels + 1):
            f.write(f'<KRDiv id="div{n}" top="0" left="0" width="300" height="400"><KRContents>\n')
        f.write(bottom + "</KRContents></KRDiv>" * levels)
        f.write("\n</KRContents></KRPage></KRPages></KRProjectDocument>\n")
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


def dismiss(desktop, alert, text, what):
    desktop.activate_if_needed(alert)
    desktop.click(desktop.wait_for(alert, "push button", "OK", f"the {what}'s OK button"))
    kd.wait_until(lambda: kd.alert_saying(desktop, text) is None, f"the {what} to close")


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
    alert = kd.wait_until(lambda: kd.alert_saying(desktop, REFUSED), "the message that the project is refused",
                          kd.LAUNCH_TIMEOUT)
    text = labels(alert)
    desktop.screenshot("bomb-refused")
    for expected in (f"The project \u201c{BOMB}.krproj\u201d could not be opened.", "\u201clol0\u201d",
                     "documents that declare entities are not read"):
        kd.check(expected in text, f"the message does not say {expected!r}: {text!r}")
    dismiss(desktop, alert, REFUSED, "message")
    kd.check(desktop.app_running(), "the application ended after refusing the project")

    # The folder that is no project: said so in a sentence, naming the folder and what it lacks.
    alert = kd.wait_until(lambda: kd.alert_saying(desktop, f"\u201c{NOTES}\u201d"),
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
    deep_nesting_refused_and_the_others_kept(desktop, window)


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
    alert = kd.wait_until(lambda: kd.alert_saying(desktop, EXPORT_REFUSED) or kd.alert_saying(desktop, "replace"),
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


def deep_nesting_refused_and_the_others_kept(desktop, window):
    """A project nested 15,000 divs deep, handed to the running Korvane, is refused with a
    message naming the depth and the element, before any window is touched: the open window
    and its unsaved label stay. A project nested exactly as deep as a document may opens and
    its page is drawn."""
    desktop.bring_to_front(window)
    surface = kd.design_surface(desktop, window)
    kd.drag_from_palette(desktop, window, surface, "KRLabel", *UNSAVED_LABEL_AT)
    kd.wait_inspected(desktop, window, "label1", "the dropped label in the inspector")
    kd.wait_until(lambda: kd.box_at(surface, *UNSAVED_LABEL_AT), "the dropped label on the design surface")
    desktop.screenshot("unsaved-label-dropped")

    deep = nested_project(desktop, DEEP, 15000)
    status = desktop.start_again(deep)
    kd.check(status == 0, f"the second start did not hand over and end (status {status})")
    alert = kd.wait_until(lambda: kd.alert_saying(desktop, TOO_DEEP), "the message that the project is refused",
                          kd.LAUNCH_TIMEOUT)
    text = labels(alert)
    desktop.screenshot("deep-project-refused")
    for expected in (f"The project \u201c{DEEP}.krproj\u201d could not be opened.", "\u201cKRDiv\u201d",
                     f"nested {DEPTH_BOUND + 1} levels deep", f"at most {DEPTH_BOUND} levels deep"):
        kd.check(expected in text, f"the message does not say {expected!r}: {text!r}")
    dismiss(desktop, alert, TOO_DEEP, "message")
    kd.check(desktop.app_running(), "the application ended on the deep project")
    kd.check(not any(title == DEEP for _, title in desktop.managed_windows()), "a window opened for the deep project")
    window = kd.project_window(desktop, NAME)
    desktop.bring_to_front(window)
    surface = kd.design_surface(desktop, window)
    kd.check(kd.box_at(surface, *UNSAVED_LABEL_AT) is not None, "the unsaved label left the open window")
    kd.wait_inspected(desktop, window, "label1", "the unsaved label still inspected")
    desktop.screenshot("open-window-kept")

    # At the bound: the deepest element (an empty div's contents beside the label) lies exactly
    # as deep as a document may nest.
    levels = (DEPTH_BOUND - CONTENTS_DEPTH) // 2 - 1
    bound = nested_project(desktop, AT_BOUND, levels, spare=True)
    status = desktop.start_again(bound)
    kd.check(status == 0, f"the start with the project at the bound did not hand over and end (status {status})")
    window = kd.project_window(desktop, AT_BOUND)
    # As the window opens, its page's document tells assistive tools where it lies on the screen
    # (one looked at in the moment before the page's first layout there kept no place for good).
    kd.design_surface(desktop, window)
    desktop.bring_to_front(window)
    # The page and its innermost label, which lies deeper than the accessible tree is walked,
    # are looked for on the screen, as a person sees them.
    _, (left, top) = kd.page_on_screen(desktop, window, "the page at the bound drawn", kd.LAUNCH_TIMEOUT)
    label_drawn = lambda: kd.grab_count(desktop, (left + 20, top + 60, 200, 30), kd.ink) >= 40
    kd.wait_until(label_drawn, "the innermost label's text on the design surface", kd.LAUNCH_TIMEOUT)
    desktop.screenshot("project-at-the-bound-drawn")
    # The page's object browser lists the objects of every level.
    desktop.click(desktop.wait_for(window, "push button", "Objects", "the page's Objects tab"))
    desktop.wait_for(window, "list item", "div1", "the outermost div in the object browser", kd.LAUNCH_TIMEOUT)
    desktop.screenshot("project-at-the-bound-objects")
    kd.check(desktop.app_running(), "the application ended showing the objects of the project at the bound")
    desktop.click(desktop.wait_for(window, "push button", "Design", "the page's Design tab"))
    # A press on the innermost label selects it.
    kd.wait_until(label_drawn, "the innermost label on the design surface again")
    desktop.input.click(left + 30, top + 70)
    kd.wait_inspected(desktop, window, "bottom", "the innermost label in the inspector")
    desktop.screenshot("innermost-label-selected")
    # The outermost div, deleted with all it holds and brought back by Undo, then saved.
    desktop.click(desktop.wait_for(window, "push button", "Objects", "the page's Objects tab"))
    desktop.click(desktop.wait_for(window, "list item", "div1", "the outermost div in the object browser"))
    kd.wait_inspected(desktop, window, "div1", "the outermost div in the inspector")
    desktop.input.key("Delete")
    kd.wait_until(lambda: not window.find("list item", "div1"), "the outermost div deleted")
    desktop.click(desktop.wait_for(window, "push button", "Design", "the page's Design tab"))
    kd.page_on_screen(desktop, window, "the page on the design surface again")
    kd.wait_until(lambda: not label_drawn(), "the innermost label to leave with the outermost div")
    desktop.screenshot("outermost-div-deleted")
    desktop.input.key("ctrl+z")
    kd.wait_until(label_drawn, "the innermost label back after Undo", kd.LAUNCH_TIMEOUT)
    desktop.screenshot("outermost-div-undone")
    saved = kd.save(desktop, window, bound)
    kd.check(saved.object("bottom") is not None, "the saved project lost the innermost label")
    # Exported, the page loads and shows the label in a browser too.
    desktop.menu(window, "File", "Export as Web Application\u2026")
    kd.choose_file(desktop, "Export as Web Application", "BoundSite", "Export", new_folder=True)
    site = os.path.join(desktop.home, "Documents", "BoundSite")
    kd.wait_until(lambda: os.path.exists(os.path.join(site, "page1.html"))
                  and os.path.exists(os.path.join(site, "KR-user-scripts.js")), "the exported page", kd.LAUNCH_TIMEOUT)
    report = kd.check_in_browser(desktop, site, "page1.html")
    kd.check(report["loaded"] and report["ready"], f"the built page at the bound did not show: {report}")
    kd.check(not report["errors"], "the built page at the bound has errors:\n  " + "\n  ".join(report["errors"]))
    kd.check("Bottom" in report["text"], f"the built page does not show its innermost label: {report['text']!r}")


if __name__ == "__main__":
    sys.exit(kd.run([entity_declarations_refused]))
