#!/usr/bin/env python3
"""The project outline and the editor tabs: a resource shown in the file manager (a stand-in
answering the desktop's FileManager1 interface on the session bus) and opened with its default
application (a stand-in xdg-open that records what it is given), the folder opened once no file
manager answers, a script with the executable bit refused; three resources opened in tabs and
the others closed from a tab's context menu; the arrow keys moving the outline's selection
three rows with the keyboard staying in the outline, and Return giving it to the editor; a click
on a file open in a tab showing it with the keyboard left in the outline, so that Return shows
the file and types nothing into it; a click on the page's row, selected already, showing the
page in the inspector in place of the control chosen on it; the object browser's scope bar with
no separator before its first group; Return in the question Delete Resource asks keeps the
file; a folder dropped from the file manager below the outline's rows is imported."""

import os
import shutil
import sys
import time
import urllib.parse

import krdesktop as kd

# Four text resources; tool.js carries the executable bit. File-system order decides theirs in
# the outline, so the journey reads the rows' order from the screen.
RESOURCES = {
    "a.css": "/* sheet a */\n",
    "b.css": "/* sheet b */\n",
    "c.js": "// script c\n",
    "tool.js": "// tool\n",
}
FAKE_OPENER = """#!/bin/sh
# Records what the application asks the desktop to open, one argument a line.
for argument in "$@"; do printf '%s\\n' "$argument" >> "$KR_OPENED_LOG"; done
"""

# A file manager on the session bus: it owns org.freedesktop.FileManager1 and records each
# ShowItems call as "ShowItems <uri> ..." on a line of its own.
FILE_MANAGER = r"""
import sys
from gi.repository import Gio, GLib

log = sys.argv[1]
xml = '''<node><interface name="org.freedesktop.FileManager1">
<method name="ShowItems"><arg type="as" name="URIs" direction="in"/><arg type="s" name="StartupId" direction="in"/></method>
<method name="ShowFolders"><arg type="as" name="URIs" direction="in"/><arg type="s" name="StartupId" direction="in"/></method>
</interface></node>'''

def called(connection, sender, path, interface, method, parameters, invocation):
    uris, _ = parameters.unpack()
    with open(log, "a") as out:
        out.write(" ".join([method] + list(uris)) + "\n")
    invocation.return_value(None)

def acquired(connection, name):
    with open(log, "a") as out:
        out.write("ready\n")

bus = Gio.bus_get_sync(Gio.BusType.SESSION, None)
info = Gio.DBusNodeInfo.new_for_xml(xml).interfaces[0]
bus.register_object("/org/freedesktop/FileManager1", info, called, None, None)
Gio.bus_own_name_on_connection(bus, "org.freedesktop.FileManager1", Gio.BusNameOwnerFlags.NONE, acquired, None)
GLib.MainLoop().run()
"""


def lines(path):
    if not os.path.exists(path):
        return []
    with open(path, encoding="utf-8") as f:
        return [line.rstrip("\n") for line in f]


def file_url(path):
    return "file://" + urllib.parse.quote(os.path.realpath(path))


def open_project(desktop):
    """The tip calculator sample with four text resources, opened with a stand-in xdg-open first
    on the path; returns the window, the web folder and the logs of the opener and file manager."""
    folder = os.path.join(desktop.home, "Documents", "Tips.krproj")
    shutil.copytree(os.path.join(desktop.options.source, "resources", "samples", "TipCalculator.krproj"), folder)
    web = os.path.join(folder, "kr-web")
    for name, text in RESOURCES.items():
        with open(os.path.join(web, name), "w", encoding="utf-8") as out:
            out.write(text)
    os.chmod(os.path.join(web, "tool.js"), 0o755)

    bin_folder = os.path.join(desktop.home, "bin")
    os.makedirs(bin_folder)
    opener = os.path.join(bin_folder, "xdg-open")
    with open(opener, "w") as out:
        out.write(FAKE_OPENER)
    os.chmod(opener, 0o755)
    opened_log = os.path.join(desktop.home, "opened.log")
    shown_log = os.path.join(desktop.home, "shown.log")
    desktop.env["PATH"] = bin_folder + os.pathsep + desktop.env.get("PATH", "/usr/bin:/bin")
    desktop.env["KR_OPENED_LOG"] = opened_log

    script = os.path.join(desktop.home, "file-manager.py")
    with open(script, "w") as out:
        out.write(FILE_MANAGER)
    file_manager = desktop._spawn("file-manager", ["/usr/bin/python3", script, shown_log])
    kd.wait_until(lambda: "ready" in lines(shown_log), "the stand-in file manager on the session bus")

    desktop.launch(folder)
    window = kd.project_window(desktop, "Tips")
    desktop.activate_if_needed(window)
    return window, web, opened_log, shown_log, file_manager


def context_menu(desktop, window, row_name, keys, what):
    """Right-clicks a row of the outline and picks an entry of its menu with the keys (the menu
    is no part of the accessible tree)."""
    row = desktop.wait_for(window, "table cell", row_name, f"{row_name!r} in the project outline")
    before = desktop.override_windows()
    desktop.click(row, button=3)
    shown = kd.wait_until(lambda: desktop.override_windows() - before, f"the context menu of {row_name!r}")
    desktop.screenshot(f"menu-{row_name}-{what}")
    for key in keys:
        desktop.input.key(key)
    desktop.input.key("Return")
    kd.wait_until(lambda: not (shown & desktop.override_windows()), "the context menu to close")


# The resource menu: Open Resource, a separator, Open With Default Application, Show in File
# Manager, Delete Resource.
OPEN_WITH = ["Down", "Down"]
SHOW_IN_FILE_MANAGER = ["Down", "Down", "Down"]


def resources_handed_to_the_desktop(desktop, window, web, opened_log, shown_log, file_manager):
    sheet = os.path.join(web, "a.css")
    context_menu(desktop, window, "a.css", SHOW_IN_FILE_MANAGER, "show")
    kd.wait_until(lambda: f"ShowItems {file_url(sheet)}" in lines(shown_log),
                  f"the file manager asked to show a.css (it heard {lines(shown_log)})")
    kd.check(lines(opened_log) == [], f"the opener was run as well: {lines(opened_log)}")

    context_menu(desktop, window, "a.css", OPEN_WITH, "open")
    kd.wait_until(lambda: lines(opened_log) == [file_url(sheet)],
                  f"xdg-open run on a.css (it got {lines(opened_log)})")

    # A file with the executable bit is never handed to the opener.
    context_menu(desktop, window, "tool.js", OPEN_WITH, "open-program")
    refusal = "\u201Ctool.js\u201D is not opened because it is a program."
    question = kd.wait_until(lambda: next((w for w in desktop.windows() if w.find(
        predicate=lambda n: n.role == "label" and refusal in n.name)), None), f"the message {refusal!r}")
    desktop.screenshot("program-refused")
    desktop.click(desktop.wait_for(question, "push button", "OK"))
    kd.wait_until(lambda: not any(w.find(predicate=lambda n: n.role == "label" and refusal in n.name)
                                  for w in desktop.windows()), "the message to close")
    kd.check(lines(opened_log) == [file_url(sheet)], f"the program went to the opener: {lines(opened_log)}")

    # Without a file manager on the bus the folder opens instead.
    desktop._stop(file_manager)
    context_menu(desktop, window, "b.css", SHOW_IN_FILE_MANAGER, "show-without-file-manager")
    kd.wait_until(lambda: lines(opened_log) == [file_url(sheet), file_url(web)],
                  f"xdg-open run on the web folder (it got {lines(opened_log)})")


def tab(window, name):
    return window.find("push button", name)


def outline_rows(desktop, window):
    """The page's and the resources' rows of the outline, top to bottom."""
    def rows():
        found = window.find_all("table cell", predicate=lambda n: n.name in ["tips", *RESOURCES])
        return sorted(found, key=lambda n: n.center[1])
    ordered = kd.wait_until(lambda: (lambda r: r if len(r) == 5 else None)(rows()),
                            "the page and resources in the outline")
    kd.check(ordered[0].name == "tips", f"the outline lists {[r.name for r in ordered]}, not the page first")
    return ordered


def other_tabs_closed_from_a_tab_menu(desktop, window, opened, kept):
    for name in opened:
        row = desktop.wait_for(window, "table cell", name, f"{name!r} in the project outline")
        desktop.input.double_click(*row.center)
        kd.code_editor(desktop, window, RESOURCES[name].strip())
        desktop.wait_for(window, "push button", name, f"the tab of {name}")
    desktop.screenshot("three-tabs")

    before = desktop.override_windows()
    desktop.click(tab(window, kept), button=3)
    shown = kd.wait_until(lambda: desktop.override_windows() - before, f"the context menu of the tab {kept}")
    desktop.screenshot("tab-menu")
    desktop.input.key("Down")
    desktop.input.key("Return")  # Close Other Tabs, the only entry
    kd.wait_until(lambda: not (shown & desktop.override_windows()), "the tab's menu to close")
    closed = [name for name in opened if name != kept]
    kd.wait_until(lambda: all(tab(window, name) is None for name in closed), f"the tabs of {closed} to close")
    kd.check(tab(window, kept) is not None, f"the tab of {kept} closed as well")
    desktop.screenshot("other-tabs-closed")


def selected(row):
    return row.has_state(kd.state("SELECTED"))


def arrows_move_the_selection_and_return_edits(desktop, window, ordered):
    # A click on the page chooses it (and gives its design the keyboard); a click on the
    # PAGES heading, which is never selected, gives the keyboard to the outline.
    page = ordered[0]
    desktop.click(page)
    kd.wait_until(lambda: selected(page), "the page tips selected")
    desktop.click(desktop.wait_for(window, "table cell", "PAGES", "the PAGES heading"))
    outline = page.parent()
    kd.wait_until(lambda: outline.has_state(kd.state("FOCUSED")), "the outline to have the keyboard")
    kd.check(selected(page), "the click on the heading changed the selection")

    # Three steps down, over the RESOURCES heading, to the third resource. The second one is
    # open in a tab: choosing it must not take the keyboard into its editor.
    for step in range(1, 4):
        desktop.input.key("Down")
        expected = ordered[step]
        kd.wait_until(lambda: selected(expected), f"Down number {step} to select {expected.name}")
        kd.wait_until(lambda: outline.has_state(kd.state("FOCUSED")),
                      f"the keyboard to stay in the outline after Down number {step} ({expected.name})")
    kd.check(all(not selected(r) for r in ordered if r is not ordered[3]),
             f"more than {ordered[3].name} is selected")
    desktop.screenshot("three-rows-down")

    desktop.input.key("Return")
    name = ordered[3].name
    editor = kd.code_editor(desktop, window, RESOURCES[name].strip())
    kd.wait_until(lambda: editor.showing() and editor.has_state(kd.state("FOCUSED")),
                  f"Return to give {name}'s editor the keyboard")
    desktop.screenshot("return-edits")


def click_then_return_types_nothing(desktop, window, web, row):
    """A click on a file open in a tab shows its tab and leaves the keyboard in the outline; the
    Return that follows gives the editor the keyboard and puts no line break in the file."""
    name = row.name
    marker = RESOURCES[name].strip()
    outline = row.parent()
    desktop.click(row)
    kd.wait_until(lambda: selected(row), f"the click to select {name}")
    editor = kd.code_editor(desktop, window, marker)
    kd.wait_until(lambda: editor.showing(), f"the click to show {name}'s tab")
    text = editor.text()
    kd.wait_until(lambda: outline.has_state(kd.state("FOCUSED")), f"the keyboard in the outline after a click on {name}")
    time.sleep(0.3)
    kd.check(outline.has_state(kd.state("FOCUSED")) and not editor.has_state(kd.state("FOCUSED")),
             f"the click on {name} gave its editor the keyboard")
    desktop.screenshot("click-keeps-keyboard")
    desktop.input.key("Return")
    kd.wait_until(lambda: editor.has_state(kd.state("FOCUSED")), f"Return to give {name}'s editor the keyboard")
    time.sleep(0.3)
    kd.check(editor.text() == text, f"Return after the click typed into {name}: {editor.text()!r}, was {text!r}")
    # What is saved is what was there.
    desktop.input.key("ctrl+s")
    time.sleep(1)
    with open(os.path.join(web, name), encoding="utf-8") as f:
        on_disk = f.read()
    kd.check(on_disk == RESOURCES[name], f"{name} reads {on_disk!r} on disk after the click and Return")
    desktop.screenshot("click-return-typed-nothing")


def click_on_the_chosen_page_inspects_it(desktop, window):
    """A click on the page's row chooses the page, also when the row is the one selected already
    (the selection does not change): a control selected on the page, the inspector shows the
    page again."""
    page = desktop.wait_for(window, "table cell", "tips", "the page tips in the outline")
    desktop.click(page)
    kd.wait_until(lambda: selected(page), "the page tips selected")
    surface = kd.design_surface(desktop, window)
    kd.check_page_drawn(desktop, surface, min_ink=400)
    kd.wait_inspected(desktop, window, "tips", "a click on the page's row to show the page in the inspector")
    left, top, _, height = 10, 220, 300, 50  # computeButton in the sample
    kd.wait_until(lambda: kd.box_at(surface, left, top), "computeButton drawn on the page")
    kd.click_page(desktop, surface, left + 30, top + height / 2)
    kd.wait_inspected(desktop, window, "computeButton", "a click on Compute to select it")
    kd.check(selected(page), "the click on Compute changed the outline's selection")
    desktop.click(page)
    kd.wait_inspected(desktop, window, "tips", "a click on the page's row, still selected, to show the page in the "
                                               "inspector again")
    desktop.screenshot("chosen-page-inspected")


def scope_bar_starts_with_its_first_group(desktop, window):
    """The object browser's scope bar, over its list of the page's objects: the first group's
    buttons start at the bar's left end, with no separator before them (one stands only
    between two groups)."""
    desktop.click(desktop.wait_for(window, "table cell", "tips", "the page tips in the outline"))
    desktop.click(desktop.wait_for(window, "push button", "Objects", "the page's Objects tab"))
    item = desktop.wait_for(window, "list item", "computeButton",
                            "computeButton in the object browser",
                            predicate=lambda n: n.parent() is not None and n.parent().rect[2] > 300)
    browser = item.parent().parent().parent()
    bar = browser.children()[0]
    x, y, w, h = bar.rect
    kd.check(h > 15 and abs((y + h) - item.parent().rect[1]) <= 2, f"no scope bar above the object list: {bar.rect}")
    desktop.screenshot("scope-bar")
    image = desktop.grab((x, y, w, h))
    middle = y + h // 2
    background = image.pixel(x + w - 2, middle)  # the bar's gradient at the right end, past every button
    first = next((i for i in range(x, x + w) if sum(image.pixel(i, middle)) < sum(background) - 3 * 60), None)
    kd.check(first is not None and first < x + w // 3, "no button at the scope bar's left end")
    # The "List" button is on: the first dark line is its border, with its dark fill behind it.
    # A separator is a line of one pixel with the bar's light gradient behind it.
    behind = [sum(image.pixel(i, middle)) / 3 for i in range(first + 3, first + 9)]
    kd.check(max(behind) < sum(background) / 3 - 25,
             f"a separator at x {first - x} before the scope bar's first group: behind it {behind}, "
             f"the bar is {[round(c) for c in background]}")

    # Its buttons are named for assistive tools, say whether they are on, and a click on one
    # (found by its name) filters the list.
    def button(name):
        return bar.find(predicate=lambda n: n.name == name and n.role in ("push button", "toggle button"))
    titles = ["List", "Icons", "All Objects", "Nonvisual Objects", "Visual Objects"]
    kd.wait_until(lambda: all(button(t) for t in titles), f"the scope bar's buttons {titles} by name")
    kd.check(button("All Objects").has_state(kd.state("CHECKED")), "the scope bar does not tell that All Objects is on")
    desktop.click(button("Nonvisual Objects"))
    kd.wait_until(lambda: button("Nonvisual Objects").has_state(kd.state("CHECKED"))
                  and not button("All Objects").has_state(kd.state("CHECKED")), "Nonvisual Objects on alone")
    kd.wait_until(lambda: not window.find("list item", "computeButton"), "the button to leave the nonvisual list")
    kd.check(window.find("list item", "compute") is not None, "the function left the nonvisual list")
    desktop.screenshot("scope-bar-nonvisual")
    desktop.click(button("All Objects"))
    kd.wait_until(lambda: window.find("list item", "computeButton"), "All Objects to list the button again")


DELETE_RESOURCE = ["Down", "Down", "Down", "Down"]
DELETE_QUESTION = "delete the project resource"


def return_does_not_delete(desktop, window, web):
    """Delete Resource asks first; Return, the key a person presses to go on, keeps the file."""
    path = os.path.join(web, "b.css")  # open in no tab: one that is cannot be deleted
    context_menu(desktop, window, "b.css", DELETE_RESOURCE, "delete")

    def question():
        return next((w for w in desktop.windows()
                     if w.find("label", predicate=lambda n: DELETE_QUESTION in n.name)), None)
    kd.wait_until(question, "the question before deleting b.css")
    desktop.screenshot("delete-asked")
    desktop.input.key("Return")
    kd.wait_until(lambda: not question(), "the question to close on Return")
    kd.check(os.path.exists(path), "Return answered 'Delete Project Resource' by deleting b.css")


def folder_dropped_below_the_rows(desktop, window, web):
    """A folder dragged in from the file manager and dropped on the outline below its rows goes
    into the project's resources, as one dropped on RESOURCES does."""
    folder = os.path.join(desktop.home, "Pictures", "icons")
    os.makedirs(folder)
    with open(os.path.join(folder, "logo.svg"), "w", encoding="utf-8") as out:
        out.write('<svg xmlns="http://www.w3.org/2000/svg"/>\n')
    group = desktop.wait_for(window, "table cell", "RESOURCES", "the RESOURCES group of the outline")
    outline = group.parent()
    x, y, w, h = outline.rect
    lowest = max(cell.rect[1] + cell.rect[3] for cell in outline.find_all("table cell"))
    point = (x + w // 2, y + h - 20)
    kd.check(point[1] > lowest + 20, f"no empty part below the outline's rows (they end at {lowest}, it at {y + h})")
    kd.check(kd.drop_files(desktop, window, [folder], *point, "a folder dropped below the outline's rows"),
             "the outline refused a folder dropped below its rows")
    desktop.wait_for(window, "table cell", "icons", "the dropped folder in the outline")
    kd.wait_until(lambda: os.path.isfile(os.path.join(web, "icons", "logo.svg")), "the folder's file in the project")
    desktop.screenshot("folder-dropped")


def outline_and_tabs(desktop):
    window, web, opened_log, shown_log, file_manager = open_project(desktop)
    resources_handed_to_the_desktop(desktop, window, web, opened_log, shown_log, file_manager)
    ordered = outline_rows(desktop, window)
    resources = [row.name for row in ordered[1:]]
    # The tab kept open is the second resource's, which the arrow keys then pass over.
    other_tabs_closed_from_a_tab_menu(desktop, window, resources[:3], resources[1])
    arrows_move_the_selection_and_return_edits(desktop, window, ordered)
    click_then_return_types_nothing(desktop, window, web, ordered[2])
    click_on_the_chosen_page_inspects_it(desktop, window)
    scope_bar_starts_with_its_first_group(desktop, window)
    return_does_not_delete(desktop, window, web)
    folder_dropped_below_the_rows(desktop, window, web)


if __name__ == "__main__":
    sys.exit(kd.run([outline_and_tabs]))
