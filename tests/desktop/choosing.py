#!/usr/bin/env python3
"""Choosing with the mouse alone. In the Project Settings pop-over, opened from the toolbar and
from the project outline's gear, each pop-up is found by its label, as a screen reader finds it,
opened with a click and an entry clicked (a list taken back with Escape leaves the pop-over up).
In the item editors of a list view and of a footer's navigation bar, a pop-up cell's list is
opened and an entry clicked the same way. Each choice shows on the design surface and is read
back from the saved project.xml."""

import re
import sys
import xml.etree.ElementTree as ElementTree

import krdesktop as kd

LIST_AT = (20, 60)
FOOTER_AT = (20, 380)


def setting(project, key):
    for element in project.root.iter():
        if key in element.attrib:
            return element.get(key)
    return None


def open_settings(desktop, window, how):
    """Opens Project Settings with a click on the toolbar's button or on the project outline's
    gear; returns the pop-over's body, reached through a pop-up of it that came into view."""
    desktop.activate_if_needed(window)
    if how == "toolbar":
        button = desktop.wait_for(window, "push button", "Settings", "the toolbar's Settings button")
    else:
        button = desktop.wait_for(window, "push button", "Project Settings", "the project outline's settings button")
    first = kd.shown_after(desktop, lambda: desktop.click(button), f"the Project Settings pop-over ({how})",
                           lambda n: n.role == "combo box" and "Design target:" in kd.labels_of(n))
    return kd.top_of(first)


def close_settings(desktop, body):
    desktop.input.key("Escape")
    kd.wait_until(lambda: not body.showing(), "the Project Settings pop-over to close")


def device_popup(window):
    """The design surface's device pop-up (its other pop-up is the zoom)."""
    canvas = kd.wait_until(lambda: window.find(name="Design Surface"), "the design surface")
    return kd.wait_until(lambda: canvas.find("combo box", predicate=lambda n: not n.name.endswith("%")),
                         "the surface's device pop-up")


def project_settings_by_mouse(desktop, window, folder, surface):
    before = setting(kd.save(desktop, window, folder), "designTarget")
    body = open_settings(desktop, window, "toolbar")
    desktop.screenshot("settings-open")
    target = kd.labelled(body, "combo box", "Design target:")
    desktop.click(target)
    devices = kd.wait_until(lambda: [n.name for n in target.find_all("list item")], "the design targets listed")
    desktop.screenshot("design-targets")
    # Escape takes back the list only; the pop-over stays.
    desktop.input.key("Escape")
    kd.wait_until(lambda: not target.find("list item"), "the design target list to close")
    kd.check(body.showing(), "Escape on the design target list closed the Project Settings pop-over too")
    others = [d for d in devices if d != target.name]
    kd.check(others, f"the design target pop-up offers only {devices}")
    # A phone: the page stays whole in view, for the footer below.
    device = others[0]
    choices = [("Design target:", device), ("Objects:", "Customized for each device type"),
               ("Deploy:", "All pages in one file")]
    for label, entry in choices:
        popup = kd.labelled(body, "combo box", label)
        kd.click_entry(desktop, popup, entry)
        kd.wait_until(lambda: popup.name == entry, f"the {label!r} pop-up to show {entry!r}")
        desktop.screenshot(f"chosen-{label.strip(':').replace(' ', '-')}")
    # The surface shows the chosen device while the pop-over is still up.
    kd.wait_until(lambda: device_popup(window).name == device, f"the surface's device pop-up to name {device!r}")
    close_settings(desktop, body)
    saved = kd.save(desktop, window, folder)
    found = {key: setting(saved, key) for key in ("autoAdjustObjects", "singlePageDeploy")}
    kd.check(found == {"autoAdjustObjects": "true", "singlePageDeploy": "true"}, f"project.xml has {found}")
    kd.check(setting(saved, "designTarget") not in (None, before),
             f"project.xml keeps the design target {before!r} after {device!r} was chosen")

    # Opened again from the project outline, the pop-over shows what was chosen.
    body = open_settings(desktop, window, "outline")
    for label, entry in choices:
        popup = kd.labelled(body, "combo box", label)
        kd.check(popup.name == entry, f"the reopened {label!r} pop-up shows {popup.name!r}, not {entry!r}")
    desktop.screenshot("settings-reopened")
    close_settings(desktop, body)


def item_table(window):
    return kd.wait_until(lambda: window.find("table", predicate=lambda n: n.find("table column header", "theme")),
                         "the item editor's table")


def choose_in_cell(desktop, table, column, row_label, entry):
    """A double click puts the cell's pop-up in it; a click opens its list, another picks the
    entry."""
    target = kd.wait_until(lambda: kd.table_cell(table, column, row_label), f"the {column} cell of {row_label!r}")
    popup = kd.shown_after(desktop, lambda: desktop.input.double_click(*target.center),
                           f"the pop-up of the {column} cell", lambda n: n.role == "combo box")
    kd.click_entry(desktop, popup, entry)


def dark(colour):
    return sum(colour) / 3 < 110


def drawn_dark(desktop, surface, text):
    """Whether the page's element reading text is drawn mostly dark (the "b" theme)."""
    node = kd.element_with_text(surface, text)
    if node is None:
        return False
    x, y, w, h = node.rect
    on_screen = x >= 0 and y >= 0 and x + w <= kd.SCREEN_WIDTH and y + h <= kd.SCREEN_HEIGHT
    return w > 0 and h > 0 and on_screen and kd.grab_count(desktop, node.rect, dark) > w * h // 3


def list_items_by_mouse(desktop, window, folder, surface):
    kd.drag_from_palette(desktop, window, surface, "JQMListView", *LIST_AT)
    kd.wait_inspected(desktop, window, "listview1")
    kd.wait_until(lambda: kd.element_with_text(surface, "Item #2"), "the list's second item on the surface")
    row = kd.inspector_row(desktop, window, "items")
    desktop.click(desktop.wait_for(row, "push button", "Edit…", "the items row's Edit button"))
    table = item_table(window)
    kd.wait_until(lambda: kd.table_cell(table, "label", "Item #2"), "Item #2 in the item table")
    choose_in_cell(desktop, table, "theme", "Item #2", "b")
    kd.wait_until(lambda: (kd.table_cell(table, "theme", "Item #2") or table).name == "b", "the theme cell to read 'b'")
    desktop.screenshot("item-theme-chosen")
    items = kd.save(desktop, window, folder).object("listview1").text or ""
    kd.check(re.search(r'"theme"\s*:\s*"b"', items), f"the saved items have no theme b: {items!r}")

    # On the surface the second item is dark, the first is not.
    desktop.click(desktop.wait_for(window, "push button", "Design", "the page's Design tab"))
    kd.wait_until(lambda: drawn_dark(desktop, surface, "Item #2") and not drawn_dark(desktop, surface, "Item #1"),
                  "Item #2 drawn dark on the surface")
    desktop.screenshot("item-dark-on-surface")


def navbar_items_by_mouse(desktop, window, folder, surface):
    kd.drag_from_palette(desktop, window, surface, "JQMFooterToolbar", *FOOTER_AT)
    footer = kd.wait_until(
        lambda: (lambda i: i if i.startswith("footer") else None)(kd.inspected_object(desktop, window)),
        "the dropped footer in the inspector")
    row = kd.inspector_row(desktop, window, "navbarItems")
    desktop.click(desktop.wait_for(row, "push button", "Edit…", "the navbarItems row's Edit button"))
    table = item_table(window)
    desktop.screenshot("navbar-table")
    # A new item, its label typed into the cell that opens for it.
    x, y, w, h = table.rect
    add = desktop.wait_for(window, "push button", "+", "the item editor's add button",
                           predicate=lambda n: y + h - 4 <= n.rect[1] <= y + h + 40 and x <= n.rect[0] <= x + 60)
    desktop.click(add)
    kd.wait_until(lambda: table.find("table cell", "(default)"), "the new item's row")
    label = "Home"
    desktop.input.type(label)
    desktop.input.key("Return")
    kd.wait_until(lambda: kd.table_cell(table, "theme", label), f"the item {label!r} in the table")
    choose_in_cell(desktop, table, "theme", label, "b")
    kd.wait_until(lambda: (kd.table_cell(table, "theme", label) or table).name == "b",
                  f"the theme cell of {label!r} to read 'b'")
    desktop.screenshot("navbar-theme-chosen")
    desktop.click(desktop.wait_for(window, "push button", "Design", "the page's Design tab"))
    kd.wait_until(lambda: drawn_dark(desktop, surface, label),
                  f"the navigation bar's {label!r} drawn dark on the surface")
    desktop.screenshot("navbar-dark-on-surface")
    stored = kd.save(desktop, window, folder).object(footer)
    text = ElementTree.tostring(stored, encoding="unicode") if stored is not None else ""
    kd.check(re.search(r'theme(&quot;|")\s*:\s*(&quot;|")b', text),
             f"the saved footer's items have no theme b: {text!r}")


def choosing_by_mouse(desktop):
    desktop.launch()
    untitled = kd.project_window(desktop, "Untitled")
    kd.close_gallery(desktop)
    window, folder = kd.new_project(desktop, untitled, "Choosing")
    surface = kd.design_surface(desktop, window)
    kd.check_page_drawn(desktop, surface)
    project_settings_by_mouse(desktop, window, folder, surface)
    list_items_by_mouse(desktop, window, folder, surface)
    navbar_items_by_mouse(desktop, window, folder, surface)


if __name__ == "__main__":
    sys.exit(kd.run([choosing_by_mouse]))
