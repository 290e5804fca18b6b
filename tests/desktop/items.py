#!/usr/bin/env python3
"""The page's own editors: a list view's items edited in their table (a theme and a new event
handler chosen in pop-up cells take effect the moment they are chosen; Page Down on a closed
pop-up cell opens its list and chooses nothing), a box's content switched
from Markdown to HTML and the switch undone by its name from the Edit menu, and the page listed
first, with its own icon, in the object browser and the inspector's header pop-up. A project
whose list items nest a hundred thousand levels deep, opened from the File menu, is refused with
a message while the open window keeps its unsaved work."""

import os
import re
import sys

import krdesktop as kd

LIST_AT = (20, 60)
DIV_AT = (40, 330)
UNSAVED_LABEL_AT = (200, 250)
DEEP_ITEMS = "DeepItems"
ITEMS_DEPTH = 100000


def new_project(desktop, name):
    desktop.launch()
    untitled = kd.project_window(desktop, "Untitled")
    kd.close_gallery(desktop)
    window, folder = kd.new_project(desktop, untitled, name)
    surface = kd.design_surface(desktop, window)
    kd.check_page_drawn(desktop, surface)
    return window, folder, surface


def item_table(window):
    """The table of the item editor that is showing: the one with a "theme" column."""
    return kd.wait_until(lambda: window.find("table", predicate=lambda n: n.find("table column header", "theme")),
                         "the item editor's table")


def cell(table, column, row_label):
    """The cell of a column (by its header) on the row whose label cell reads row_label: found by
    position, as pop-up cells are named by what they show."""
    header = table.find("table column header", column)
    label = table.find("table cell", row_label)
    if header is None or label is None:
        return None
    x = header.center[0]
    y = label.center[1]
    for node in table.find_all("table cell"):
        nx, ny, nw, nh = node.rect
        if nx <= x < nx + nw and ny <= y < ny + nh:
            return node
    return None


def choose_in_cell(desktop, table, column, row_label, entry, downs):
    """Opens a pop-up cell's editor with a double click, opens its list with a click and picks
    the entry `downs` rows below the current one with the keys. The editor and its list are no
    part of the accessible tree: the cell's place tells where the editor is, the X server when
    its list is up."""
    target = kd.wait_until(lambda: cell(table, column, row_label), f"the {column} cell of {row_label!r}")
    desktop.input.double_click(*target.center)
    # The editor covers the cell; a click on it opens its list.
    x, y, w, h = target.rect
    before = desktop.override_windows()
    desktop.input.click(x + w // 2, y + h // 2)
    shown = kd.wait_until(lambda: desktop.override_windows() - before, f"the list of the {column} cell")
    desktop.screenshot(f"{column}-list-open")
    for _ in range(downs):
        desktop.input.key("Down")
    desktop.log(f"choosing {entry!r} in the {column} cell")
    desktop.input.key("Return")
    kd.wait_until(lambda: not (shown & desktop.override_windows()), f"the list of the {column} cell to close")


def paging_opens_the_list(desktop, table, column, row_label):
    """Opens a pop-up cell's editor with a double click and presses Page Down on it: its list
    opens, and Escape closes the list and then the editor."""
    target = kd.wait_until(lambda: cell(table, column, row_label), f"the {column} cell of {row_label!r}")
    desktop.input.double_click(*target.center)
    before = desktop.override_windows()
    kd.press(desktop, "Page_Down")
    shown = kd.wait_until(lambda: desktop.override_windows() - before,
                          f"Page Down on the closed {column} cell to open its list")
    desktop.screenshot(f"{column}-list-opened-by-page-down")
    desktop.input.key("Escape")
    kd.wait_until(lambda: not (shown & desktop.override_windows()), f"the list of the {column} cell to close")
    desktop.input.key("Escape")


def list_items_take_choices_at_once(desktop, window, folder, surface):
    kd.drag_from_palette(desktop, window, surface, "JQMListView", *LIST_AT)
    kd.wait_inspected(desktop, window, "listview1")
    kd.wait_until(lambda: kd.element_with_text(surface, "Item #1"), "the list's first item on the surface")

    row = kd.inspector_row(desktop, window, "items")
    desktop.click(desktop.wait_for(row, "push button", "Edit…", "the items row's Edit button"))
    desktop.wait_for(window, "push button", "List View: listview1", "the list view's item tab")
    table = item_table(window)
    kd.wait_until(lambda: cell(table, "label", "Item #1"), "Item #1 in the item table")
    desktop.screenshot("item-table")

    # A theme chosen in the pop-up is the item's theme at once: the table and the saved file
    # show it while the cell still has the keyboard.
    choose_in_cell(desktop, table, "theme", "Item #1", "b", 2)
    kd.wait_until(lambda: cell(table, "theme", "Item #1").name == "b", "the theme cell to read 'b'")
    desktop.screenshot("theme-chosen")
    items = kd.save(desktop, window, folder).object("listview1").text or ""
    kd.check(re.search(r'"theme"\s*:\s*"b"', items), f"the saved items have no theme b: {items!r}")

    # Keys that would step the closed pop-up to another entry open its list instead: Page Down
    # passes over "Create New Event Handler..." and makes no handler.
    paging_opens_the_list(desktop, table, "onClick", "Item #1")

    # "Create New Event Handler..." makes the handler and opens it, as the inspector's event
    # rows do.
    choose_in_cell(desktop, table, "onClick", "Item #1", "Create New Event Handler...", 1)
    editor = kd.code_editor(desktop, window, "function listview1_onClick")
    desktop.screenshot("handler-created")
    kd.wait_until(lambda: "// Your code here" in editor.text(), "the new handler's placeholder")
    saved = kd.save(desktop, window, folder)
    items = saved.object("listview1").text or ""
    kd.check(re.search(r'"onClick"\s*:\s*"listview1_onClick"', items),
             f"the saved first item does not call its new handler: {items!r}")
    handler = saved.object("listview1_onClick")
    kd.check(handler is not None and handler.tag == "KRFunction", "no function listview1_onClick in project.xml")
    kd.check(saved.root.find(".//KRFunction[@id='listview1_onClick2']") is None,
             "two handlers were made for one choice")


def content_mode_change_is_undone_by_name(desktop, window, folder, surface):
    desktop.click(desktop.wait_for(window, "push button", "Design", "the page's Design tab"))
    kd.drag_from_palette(desktop, window, surface, "KRDiv", *DIV_AT)
    div = kd.wait_until(lambda: (lambda i: i if i.startswith("div") else None)(kd.inspected_object(desktop, window)),
                        "the dropped box in the inspector")
    row = kd.inspector_row(desktop, window, "content")
    desktop.click(desktop.wait_for(row, "push button", "Edit…", "the content row's Edit button"))
    desktop.wait_for(window, "push button", f"Content: {div}", "the box's content tab")
    popup = desktop.wait_for(window, "combo box", "Markdown", "the content mode pop-up")
    # The editor: the wide text below the pop-up.
    editor = kd.wait_until(lambda: window.find("text", predicate=lambda n: n.rect[2] > 200 and n.rect[1] > popup.rect[1]),
                           "the content editor")
    desktop.click(editor)
    desktop.input.type("# Hi")
    kd.wait_until(lambda: "# Hi" in editor.text(), "the typed heading in the content editor")

    # Non-empty content: the switch asks, and deleting the content is one undo step named for
    # it (the menu item is picked by its full title).
    desktop.click(popup)
    desktop.click(kd.wait_until(lambda: popup.find("list item", "HTML"), "HTML in the mode pop-up"))
    question = kd.wait_until(lambda: next((w for w in desktop.windows() if w.find(
        "label", "Delete this object's content and change editing mode?")), None), "the question before the switch")
    desktop.screenshot("mode-question")
    desktop.click(desktop.wait_for(question, "push button", "Delete Content"))
    kd.wait_until(lambda: popup.name == "HTML" and editor.text() == "", "HTML mode with the content emptied")
    desktop.menu(window, "Edit", "Undo Edit Mode Change")
    kd.wait_until(lambda: popup.name == "Markdown" and editor.text() == "# Hi",
                  "the undo to bring back Markdown and the heading")
    desktop.screenshot("mode-change-undone")

    # Emptied by hand, the content switches without a question; the switch is still the step the
    # Edit menu offers to undo, before the deletion, so that the text comes back in its own mode.
    desktop.click(editor)
    desktop.input.key("ctrl+a")
    desktop.input.key("BackSpace")
    kd.wait_until(lambda: editor.text() == "", "the content deleted")
    desktop.click(popup)
    desktop.click(kd.wait_until(lambda: popup.find("list item", "HTML"), "HTML in the mode pop-up"))
    kd.wait_until(lambda: popup.name == "HTML", "HTML mode for the empty content")
    desktop.screenshot("empty-mode-changed")
    desktop.menu(window, "Edit", "Undo Edit Mode Change")
    kd.wait_until(lambda: popup.name == "Markdown", "the undo to bring back Markdown")
    desktop.menu(window, "Edit", "Undo Typing")
    kd.wait_until(lambda: editor.text() == "# Hi", "the second undo to bring back the heading")
    desktop.screenshot("deletion-undone")
    stored = kd.save(desktop, window, folder).object(div)
    kd.check(stored is not None and (stored.text or "") == "markdown:# Hi",
             f"the saved box does not hold its Markdown heading: {stored.text if stored is not None else None!r}")


def green_tile(colour):
    r, g, b = colour
    return g > r + 40 and g > b + 20


def page_heads_the_object_lists(desktop, window):
    """The object browser lists the page first with its own (green) icon; the inspector's
    header pop-up does too."""
    desktop.click(desktop.wait_for(window, "push button", "Objects", "the page's Objects tab"))
    browser = kd.wait_until(lambda: window.find("list", predicate=lambda n: n.find("list item", "page1")),
                            "the object browser")
    kd.wait_until(lambda: [n.name for n in browser.find_all("list item")][:1] == ["page1"],
                  "page1 first in the object browser")
    page = browser.find("list item", "page1")
    x, y, w, h = page.rect
    kd.wait_until(lambda: kd.grab_count(desktop, (x, y, w, h), green_tile) >= 100,
                  "the page's green icon in the object browser")
    desktop.screenshot("object-browser")

    header = kd.inspector(window)
    popup = kd.wait_until(lambda: header.find("combo box", predicate=lambda n: n.find("list item", "page1", showing=False)),
                          "the inspector's header pop-up")
    desktop.click(popup)
    first = kd.wait_until(lambda: popup.find_all("list item")[:1], "the header pop-up's list")[0]
    kd.check(first.name == "page1", f"the header pop-up lists {first.name!r} first, not the page")
    # The entry as wide as its list (its own box runs past it).
    x, y, _, h = first.rect
    w = first.parent().rect[2]
    kd.wait_until(lambda: kd.grab_count(desktop, (x, y, w, h), green_tile) >= 60,
                  "the page's green icon in the header pop-up")
    desktop.screenshot("header-popup")
    desktop.input.key("Escape")


def deep_items_project(desktop):
    """A package whose list view holds items nested ITEMS_DEPTH arrays deep (200 KB of JSON in
    a well-formed project.xml)."""
    folder = os.path.join(desktop.home, "Documents", DEEP_ITEMS + ".krproj")
    os.makedirs(os.path.join(folder, "kr-web"))
    items = "[" * ITEMS_DEPTH + "]" * ITEMS_DEPTH
    with open(os.path.join(folder, "project.xml"), "w", encoding="utf-8") as f:
        f.write('<?xml version="1.0" encoding="UTF-8"?>\n<KRProjectDocument appVersion="0.1.0">'
                '<KRProject JQMVersion="1.4" designTarget="iPhone" startPage="page1"/><KRPages>'
                '<KRPage id="page1" title="Page 1"><KRContents>\n'
                f'<JQMListView id="deeplist" top="20" left="20" width="280">{items}</JQMListView>\n'
                '</KRContents></KRPage></KRPages></KRProjectDocument>\n')
    return folder


def deep_items_refused_and_unsaved_work_kept(desktop, window):
    """File > Open... on a project whose list items nest 100,000 levels deep: the project is
    refused with a message naming the list, its items and their depth, the application goes on,
    and the open window keeps the label dropped on its page and not saved."""
    desktop.click(desktop.wait_for(window, "push button", "Design", "the page's Design tab"))
    surface = kd.design_surface(desktop, window)
    kd.drag_from_palette(desktop, window, surface, "KRLabel", *UNSAVED_LABEL_AT)
    kd.wait_inspected(desktop, window, "label1", "the dropped label in the inspector")
    kd.wait_until(lambda: kd.box_at(surface, *UNSAVED_LABEL_AT), "the dropped label on the design surface")
    desktop.screenshot("unsaved-label-before-deep-items")

    deep_items_project(desktop)
    # File > Open... chooses a folder: a click on the package in the list names it, and the
    # dialog's button opens it (typed, its name would bring up the completion list instead).
    desktop.menu(window, "File", "Open…")
    dialog = desktop.window("Open")
    package = DEEP_ITEMS + ".krproj"
    desktop.click(desktop.wait_for(dialog, "table cell", package, "the deep project in the dialog's list"))
    field = desktop.wait_for(dialog, "text", re.compile(r"^(File name|Directory):$"), "the dialog's name field")
    kd.wait_until(lambda: field.text() == package, "the clicked package named in the dialog")
    desktop.click(desktop.wait_for(dialog, "push button", re.compile(r"^(Choose|Open)$"), "the dialog's Choose button"))
    refused = f"The project \u201c{DEEP_ITEMS}.krproj\u201d could not be opened."
    alert = kd.wait_until(lambda: kd.alert_saying(desktop, refused), "the message that the deep project is refused",
                          kd.LAUNCH_TIMEOUT)
    text = " ".join(n.name for n in alert.find_all("label"))
    desktop.screenshot("deep-items-refused")
    for expected in ("\u201citems\u201d", "JQMListView \u201cdeeplist\u201d", f"{ITEMS_DEPTH} levels deep",
                     "at most 512 levels deep"):
        kd.check(expected in text, f"the message does not say {expected!r}: {text!r}")
    desktop.activate_if_needed(alert)
    desktop.click(desktop.wait_for(alert, "push button", "OK", "the message's OK button"))
    kd.wait_until(lambda: kd.alert_saying(desktop, refused) is None, "the message to close")

    kd.check(desktop.app_running(), "the application ended on the deep list items")
    kd.check(not any(title == DEEP_ITEMS for _, title in desktop.managed_windows()),
             "a window opened for the project of deep list items")
    window = kd.project_window(desktop, "Items")
    desktop.bring_to_front(window)
    surface = kd.design_surface(desktop, window)
    kd.check(kd.box_at(surface, *UNSAVED_LABEL_AT) is not None, "the unsaved label left the open window")
    kd.wait_inspected(desktop, window, "label1", "the unsaved label still inspected")
    desktop.screenshot("unsaved-label-kept")


def item_editors_and_content(desktop):
    window, folder, surface = new_project(desktop, "Items")
    list_items_take_choices_at_once(desktop, window, folder, surface)
    content_mode_change_is_undone_by_name(desktop, window, folder, surface)
    page_heads_the_object_lists(desktop, window)
    deep_items_refused_and_unsaved_work_kept(desktop, window)


if __name__ == "__main__":
    sys.exit(kd.run([item_editors_and_content]))
