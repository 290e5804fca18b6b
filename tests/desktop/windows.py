#!/usr/bin/env python3
"""Project windows: a project saved under a new name is the one that opens at the next start and
heads Open Recent, where the blank start-up project never shows; a missing project named on the
command line is reported and nothing opens in its place; the Window menu lists the open projects
and brings the chosen one to the front; Preferences opens over the project window, Project
Settings under its toolbar button, and Import in the folder that holds the project (in the
documents folder for the blank start-up project)."""

import os
import re
import sys

import krdesktop as kd
from settings import close_settings, open_settings

MENU_ROLES = ("menu item", "check menu item", "menu")


def first_popup(root):
    for popup in root.find_all("popup menu", into_menus=True):
        return popup
    return None


def entries(popup):
    return [n for n in popup.children() if n.role in MENU_ROLES]


def names(popup):
    return tuple(n.name for n in entries(popup))


def open_menu_holding(desktop, window, marker):
    """Opens, from the keyboard, the menu of the window's menu bar that holds the item marker
    and returns (menu bar, open menu); the menu stays open."""
    desktop.activate_if_needed(window)
    bar = desktop.wait_for(window, "menu bar", what="the menu bar")
    desktop.input.key("Alt_L")
    kd.wait_until(lambda: bar.has_state(kd.state("FOCUSED")), "the menu bar to take the keyboard")
    desktop.input.key("Down")
    previous = None
    for _ in range(12):
        popup = kd.wait_until(lambda: (lambda p: p if p and names(p) != previous else None)(first_popup(bar)),
                              "the next menu to open")
        previous = names(popup)
        if marker in previous:
            return bar, popup
        desktop.input.key("Escape")
        kd.wait_until(lambda: first_popup(bar) is None and bar.has_state(kd.state("FOCUSED")),
                      "the menu to close back to its title")
        desktop.input.key("Right")
        desktop.input.key("Down")
    raise kd.JourneyFailure(f"no menu holds {marker!r}")


def open_popups(desktop):
    return len(desktop.app_root().find_all("popup menu", into_menus=True))


def close_menus(desktop, bar):
    """Escape, one menu at a time, until no menu is open and the bar has let the keyboard go."""
    for _ in range(5):
        shown = open_popups(desktop)
        if not shown and not bar.has_state(kd.state("FOCUSED")):
            return
        desktop.input.key("Escape")
        kd.wait_until(lambda: open_popups(desktop) < shown or (not shown and not bar.has_state(kd.state("FOCUSED"))),
                      "a menu to close")
    raise kd.JourneyFailure("the menus do not close")


def open_recent_entries(desktop, window):
    """The names in File ▸ Open Recent, in order."""
    bar, file_menu = open_menu_holding(desktop, window, "Open Recent")
    item = kd.wait_until(lambda: next((n for n in entries(file_menu) if n.name == "Open Recent"), None),
                         "the Open Recent item")
    desktop.click(item)
    submenu = kd.wait_until(
        lambda: next((p for p in desktop.app_root().find_all("popup menu", into_menus=True)
                      if "Clear Menu" in names(p)), None), "the Open Recent submenu")
    desktop.screenshot("open-recent")
    listed = [n for n in names(submenu) if n and n != "Clear Menu"]
    close_menus(desktop, bar)
    return listed


def window_menu_projects(desktop, window, choose=None):
    """The project windows listed in the Window menu, (name, checked), after its own commands;
    with choose, the entry of that name is clicked."""
    bar, popup = open_menu_holding(desktop, window, "Gallery")
    desktop.screenshot("window-menu")
    # The projects come last, after a separator.
    children = popup.children()
    last_separator = max((i for i, n in enumerate(children) if n.role == "separator"), default=-1)
    found = [n for n in children[last_separator + 1:] if n.role in MENU_ROLES]
    listed = [(n.name, n.has_state(kd.state("CHECKED"))) for n in found]
    chosen = next((n for n in found if n.name == choose), None)
    if chosen is not None:
        desktop.click(chosen)
        kd.wait_until(lambda: not open_popups(desktop), "the Window menu to close")
    else:
        close_menus(desktop, bar)
    return listed


def centre(rect):
    x, y, w, h = rect
    return x + w / 2, y + h / 2


def check_placed_over(desktop, child, parent, what):
    """The child window's frame is centred on the parent's (as far as the screen lets it)."""
    (cx, cy, cw, ch), _ = desktop.frame(child)
    (px, py, pw, ph), _ = desktop.frame(parent)
    desktop.log(f"{what} at {(cx, cy, cw, ch)}, its project window at {(px, py, pw, ph)}")
    kd.check((cx, cy) != (0, 0), f"{what} opened at the screen's top-left corner")
    want_x, want_y = centre((px, py, pw, ph))
    # Centred, or pushed back inside the screen.
    want_x = min(max(want_x, cw / 2), kd.SCREEN_WIDTH - cw / 2)
    want_y = min(max(want_y, ch / 2), kd.SCREEN_HEIGHT - ch / 2)
    got_x, got_y = centre((cx, cy, cw, ch))
    kd.check(abs(got_x - want_x) <= 30 and abs(got_y - want_y) <= 30,
             f"{what} is not centred on its project window: its centre is {(got_x, got_y)}, "
             f"the project window's {(want_x, want_y)}")


def project_windows(desktop):
    return [w for w in desktop.windows() if w.find("push button", "Build")]


def import_dialog_folder(desktop, window, label):
    """The folder the Import dialog opens in, from the window's toolbar button; the dialog is
    closed again."""
    desktop.activate_if_needed(window)
    desktop.click(desktop.wait_for(window, "push button", "Import", "the toolbar's Import button"))
    dialog = desktop.window("Import Resource into Project")
    look_in = desktop.wait_for(dialog, "combo box", what="the dialog's folder pop-up",
                               predicate=lambda n: n.name.startswith("/"))
    desktop.screenshot(label)
    folder = os.path.normpath(look_in.name)
    desktop.input.key("Escape")
    kd.wait_until(lambda: not any(w.name == "Import Resource into Project" for w in desktop.windows()),
                  "the Import dialog to close")
    return folder


def saved_as_reopens_and_heads_the_recent_list(desktop):
    documents = os.path.join(desktop.home, "Documents")
    copy = os.path.join(documents, "Copy.krproj")

    # First start: the blank project and the gallery; a new project, then Save As elsewhere.
    desktop.launch()
    untitled = kd.project_window(desktop, "Untitled")
    kd.close_gallery(desktop)
    # Import for the blank project starts in the documents folder, as the other dialogs do,
    # not in the application's hidden folder that holds the project.
    start = import_dialog_folder(desktop, untitled, "import-dialog-untitled")
    kd.check(start == documents, f"the Import dialog of the blank project opens in {start!r}, not {documents!r}")
    # A page added to the blank project and saved where it is kept: its window stays open when
    # the new project opens (only an untouched one goes).
    desktop.click(desktop.wait_for(untitled, "push button", "New Page", "the New Page button"))
    desktop.wait_for(untitled, "table cell", "page2", "the new page in the outline")
    kd.save(desktop, untitled, os.path.join(desktop.env["XDG_DATA_HOME"], "Korvane", "Untitled.krproj"))
    original, original_folder = kd.new_project(desktop, untitled, "Original")
    kd.save(desktop, original, original_folder)
    desktop.menu(original, "File", "Save As…")
    kd.choose_file(desktop, "Save As", copy, "Save")
    kd.wait_until(lambda: os.path.isfile(os.path.join(copy, "project.xml")), "the copy saved")
    saved = kd.project_window(desktop, "Copy")
    desktop.screenshot("saved-as")

    # The Window menu lists both open projects, the one in front checked; choosing the other
    # brings it to the front.
    listed = window_menu_projects(desktop, saved)
    kd.check(sorted(listed) == [("Copy", True), ("Untitled", False)],
             f"the Window menu lists {listed}, not Copy (checked) and Untitled")
    window_menu_projects(desktop, saved, choose="Untitled")
    desktop.wait_active(untitled, "the Untitled window in front after choosing it in the Window menu")
    listed = window_menu_projects(desktop, untitled)
    kd.check(sorted(listed) == [("Copy", False), ("Untitled", True)],
             f"after choosing Untitled the Window menu lists {listed}")

    # Preferences opens over the project window, not in the screen's corner.
    desktop.bring_to_front(saved)
    desktop.menu(saved, "Edit", "Preferences…")
    preferences = desktop.window(re.compile("^Preferences"))
    desktop.managed_window(preferences)
    desktop.screenshot("preferences")
    check_placed_over(desktop, preferences, saved, "Preferences")
    desktop.close_by_title_bar(preferences)
    kd.wait_until(lambda: not any(w.name.startswith("Preferences") for w in desktop.windows()),
                  "Preferences to close")

    # Project Settings drops from the toolbar's Settings button, clear of the menu bar.
    button = desktop.wait_for(saved, "push button", "Settings", "the toolbar's Settings button")
    rect = open_settings(desktop, saved, "toolbar")
    desktop.screenshot("project-settings")
    _, button_y, _, button_h = button.rect
    desktop.log(f"Project Settings at {rect}, its button at {button.rect}")
    kd.check(rect[1] >= button_y + button_h - 4,
             f"Project Settings opens at {rect}, over the title and menu bars, not under its button at {button.rect}")
    close_settings(desktop, rect)

    recent = open_recent_entries(desktop, saved)
    desktop.log(f"Open Recent: {recent}")
    kd.check(recent and recent[0] == "Copy", f"Open Recent does not start with the copy: {recent}")
    kd.check("Untitled" not in recent, f"the blank start-up project is in Open Recent: {recent}")
    desktop.quit_app()

    # Second start, no argument: the copy is what opens, and it heads Open Recent.
    desktop.launch()
    opened = kd.wait_until(lambda: project_windows(desktop) or None, "a project window at the second start",
                           kd.LAUNCH_TIMEOUT)
    desktop.screenshot("second-start")
    kd.check([w.name for w in opened] == ["Copy"],
             f"the second start opened {[w.name for w in opened]}, not the project saved as Copy")
    reopened = kd.project_window(desktop, "Copy")
    recent = open_recent_entries(desktop, reopened)
    desktop.log(f"Open Recent: {recent}")
    kd.check(recent[:2] == ["Copy", "Original"], f"Open Recent lists {recent}, not Copy then Original")
    kd.check("Untitled" not in recent, f"the blank start-up project is in Open Recent: {recent}")

    # Import starts in the folder that holds the project (no file dialog has been used since
    # the start, so none has a folder to remember).
    start = import_dialog_folder(desktop, reopened, "import-dialog")
    kd.check(start == documents, f"the Import dialog opens in {start!r}, not {documents!r} where the project is")
    desktop.quit_app()

    # Third start with a folder that is not there: the user is told so, and no other project
    # opens in its place (the gallery offers the recent ones).
    missing = os.path.join(documents, "Gone.krproj")
    desktop.launch(missing)
    message = kd.wait_until(lambda: next((w for w in desktop.windows() if w.find(
        predicate=lambda n: n.role == "label" and "Gone.krproj" in n.name and "is not there any more" in n.name)), None),
        "a message that the folder Gone.krproj is not there any more")
    desktop.screenshot("missing-project")
    desktop.click(desktop.wait_for(message, "push button", "OK"))
    gallery = desktop.window("Korvane")
    kd.wait_until(lambda: gallery.find("label", "Sample Gallery"), "the gallery's contents")
    desktop.screenshot("gallery-after-missing")
    opened = [w.name for w in project_windows(desktop)]
    kd.check(not opened, f"a missing project on the command line opened {opened} in its place")
    # The gallery's recent projects: the copy first, the blank project nowhere.
    copy_entry = desktop.wait_for(gallery, "list item", "Copy", "the copy among the gallery's recent projects")
    original_entry = desktop.wait_for(gallery, "list item", "Original", "the original among the gallery's recent projects")
    kd.check(copy_entry.rect[1] < original_entry.rect[1], "the gallery lists the original above the copy")
    kd.check(gallery.find("list item", "Untitled") is None, "the gallery lists the blank start-up project")


if __name__ == "__main__":
    sys.exit(kd.run([saved_as_reopens_and_heads_the_recent_list]))
