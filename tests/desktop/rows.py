#!/usr/bin/env python3
"""The inspector's rows by mouse and keyboard: a select menu's options get an entry from "+" and
lose one to "−" while their list is open; Tab walks from the id field through the rows of a
button, past its icon row; Ctrl+Z in a field whose edit was committed takes the edit back, in a
box-shadow number box too; the wheel turned over the inspector's pop-ups scrolls and changes none of them."""

import sys
import time

import krdesktop as kd

BUTTON_AT = (40, 120)
SELECT_AT = (40, 220)


def focused(desktop, window):
    """The inspector's control that has the keyboard focus, or None."""
    pane = kd.inspector(window)
    return pane.find(predicate=lambda n: n.has_state(kd.state("FOCUSED")))


def row_of(node):
    """The name of the inspector row holding node: the row's own name, or a field's or check
    box's name in the geometry row."""
    at = node
    while at is not None and at.role != "layered pane":
        if at.role == "filler" and at.name and at.name != "Inspector":
            return at.name
        at = at.parent()
    return node.name or None


def focused_row(desktop, window):
    node = kd.wait_until(lambda: focused(desktop, window), "a focused control in the inspector")
    return row_of(node)


def tab_through_rows(desktop, window):
    """Tab from the id field moves row by row; on the icon row (an editable combo box) the next
    Tab leaves it for the row below, and Shift+Tab comes back into it and leaves it upwards."""
    desktop.click(kd.inspector_field(desktop, window, "id"))
    kd.wait_until(lambda: focused_row(desktop, window) == "id", "the focus in the id field")
    seen = ["id"]
    while seen[-1] != "icon":
        kd.check(len(seen) < 40, f"Tab never reached the icon row: {seen}")
        desktop.input.key("Tab")
        previous = seen[-1]
        seen.append(kd.wait_until(lambda: (lambda r: r if r and r != previous else None)(
            focused_row(desktop, window)), f"Tab to move the focus on from {previous!r} (passed {seen})"))
    desktop.screenshot("tab-on-icon")
    desktop.input.key("Tab")
    try:
        below = kd.wait_until(lambda: (lambda r: r if r and r != "icon" else None)(focused_row(desktop, window)),
                              "Tab to leave the icon row", timeout=5)
    except kd.JourneyFailure:
        desktop.screenshot("tab-stuck-on-icon")
        raise
    desktop.screenshot("tab-past-icon")
    desktop.log(f"Tab order: {' '.join(seen)} {below}")
    desktop.input.key("shift+Tab")
    kd.wait_until(lambda: focused_row(desktop, window) == "icon", "Shift+Tab back into the icon row")
    desktop.input.key("shift+Tab")
    kd.wait_until(lambda: focused_row(desktop, window) == seen[-2],
                  f"Shift+Tab to leave the icon row for {seen[-2]!r}", timeout=5)


def inspector_scrolled(window):
    """How far the inspector's rows are scrolled: the value of the scroll bar at its side (read
    from the bar, since finding a row scrolls it into view)."""
    x, y, w, h = kd.inspector(window).rect
    bar = window.find("scroll bar", predicate=lambda n: x <= n.rect[0] < x + w and n.rect[3] > n.rect[2])
    return bar.acc.queryValue().currentValue if bar else None


def wheel_over_pop_ups(desktop, window):
    """The wheel turned over pop-ups that do not have the keyboard scrolls the inspector and
    leaves their values alone. With every group open the rows are taller than the pane: each
    turn down scrolls the rows, and each turn back brings them where they were."""
    for group in ("Background", "Borders & Padding", "Events"):
        kd.open_inspector_group(desktop, window, group)
    rows = ("shadow", "theme", "mini")
    before = {name: kd.inspector_value(desktop, window, name) for name in rows}
    desktop.screenshot("groups-open")
    for name in rows:
        desktop.input.glide(*kd.inspector_field(desktop, window, name).center)
        top = kd.wait_until(lambda: inspector_scrolled(window) is not None, "the inspector's scroll bar") and \
            inspector_scrolled(window)
        for button, scrolled in ((5, lambda at: at > top), (4, lambda at: at == top)):
            desktop.input.button(True, button)
            desktop.input.button(False, button)
            kd.wait_until(lambda: scrolled(inspector_scrolled(window)),
                          f"the wheel turned {'down' if button == 5 else 'back'} over {name!r} to scroll the inspector",
                          timeout=5)
    after = {name: kd.inspector_value(desktop, window, name) for name in rows}
    kd.check(after == before, f"turning the wheel over the inspector changed {before} to {after}")


def undo_committed_field(desktop, window, surface):
    """Ctrl+Z in the value field once Return stored the text: the old text comes back in the
    field and on the button. Uncommitted typing is undone by the field itself first."""
    old = kd.inspector_value(desktop, window, "value")
    kd.set_inspector_text(desktop, window, "value", "Pay now")
    kd.wait_until(lambda: kd.element_with_text(surface, "Pay now"), "'Pay now' on the button")
    desktop.input.key("End")
    desktop.input.type(" later")
    kd.wait_until(lambda: kd.inspector_value(desktop, window, "value") == "Pay now later", "the typing shown")
    desktop.input.key("ctrl+z")
    kd.wait_until(lambda: kd.inspector_value(desktop, window, "value") == "Pay now",
                  "Ctrl+Z to take back the uncommitted typing")
    desktop.screenshot("typing-undone")
    desktop.input.key("ctrl+z")
    kd.wait_until(lambda: kd.inspector_value(desktop, window, "value") == old,
                  f"Ctrl+Z in the committed field to bring back {old!r}", timeout=5)
    kd.wait_until(lambda: kd.element_with_text(surface, old), f"{old!r} on the button again")
    desktop.screenshot("edit-undone")


def shadow_box(desktop, window, name):
    return kd.wait_until(lambda: kd.inspector_row(desktop, window, "boxShadow").find("spin button", name),
                         f"the shadow's {name!r} box")


def shadow_number(desktop, window, name):
    text = shadow_box(desktop, window, name).text()
    return text[:-2] if text.endswith("px") else text


def undo_stored_shadow_number(desktop, window):
    """The box-shadow row's numbers are stored as they are typed: once Return has ended the
    edit, Ctrl+Z in the box takes the number back (as Edit > Undo does)."""
    row = kd.inspector_row(desktop, window, "boxShadow")
    desktop.click(desktop.wait_for(row, "check box", "Default", "the box shadow's Default box"))
    kd.wait_until(lambda: shadow_number(desktop, window, "x offset") == "2", "the new shadow's x offset of 2")
    box = kd.reveal(desktop, shadow_box(desktop, window, "x offset"), lambda: shadow_box(desktop, window, "x offset"))
    desktop.click(box)
    desktop.input.key("ctrl+a")
    desktop.input.type("7")
    desktop.input.key("Return")
    kd.wait_until(lambda: shadow_number(desktop, window, "x offset") == "7", "the typed x offset of 7")
    desktop.screenshot("shadow-typed")
    desktop.input.key("ctrl+z")
    try:
        kd.wait_until(lambda: shadow_number(desktop, window, "x offset") == "2",
                      "Ctrl+Z in the x offset box to bring back 2", timeout=5)
    finally:
        desktop.screenshot("shadow-undone")


def options_list(desktop, window):
    return kd.wait_until(lambda: kd.inspector_row(desktop, window, "options").find("list"), "the options list")


def option_texts(desktop, window):
    return [n.name for n in options_list(desktop, window).find_all("list item")]


def options_button(desktop, window, text):
    return kd.wait_until(lambda: kd.inspector_row(desktop, window, "options").find("push button", text),
                         f"the options' {text!r} button")


def add_and_remove_options(desktop, window):
    """The options row opens when its list is clicked; "+" adds an entry and starts editing it,
    "−" removes the selected one; the row stays open throughout."""
    start = option_texts(desktop, window)
    kd.check(start == ["Choice 1", "Choice 2", "Choice 3"], f"a new select menu has the options {start}")
    closed = kd.inspector_row(desktop, window, "options").rect[3]
    desktop.click(options_list(desktop, window).find("list item", "Choice 3"))
    kd.wait_until(lambda: kd.inspector_row(desktop, window, "options").rect[3] > closed + 40,
                  "the options row to open")
    opened = kd.inspector_row(desktop, window, "options").rect[3]
    desktop.screenshot("options-open")

    desktop.click(options_button(desktop, window, "+"))
    try:
        kd.wait_until(lambda: len(option_texts(desktop, window)) == 4, "'+' to add an option", timeout=5)
    except kd.JourneyFailure:
        desktop.screenshot("plus-did-nothing")
        raise
    kd.check(kd.inspector_row(desktop, window, "options").rect[3] == opened,
             "the options row closed when '+' was pressed")
    # The new entry is being edited: typing names it.
    desktop.input.key("ctrl+a")
    desktop.input.type("Choice 4")
    desktop.input.key("Return")
    kd.wait_until(lambda: option_texts(desktop, window) == ["Choice 1", "Choice 2", "Choice 3", "Choice 4"],
                  "the new option named 'Choice 4'")
    desktop.screenshot("option-added")

    desktop.click(options_list(desktop, window).find("list item", "Choice 2"))
    desktop.click(options_button(desktop, window, "−"))
    try:
        kd.wait_until(lambda: option_texts(desktop, window) == ["Choice 1", "Choice 3", "Choice 4"],
                      "'−' to remove 'Choice 2'", timeout=5)
    except kd.JourneyFailure:
        desktop.screenshot("minus-did-nothing")
        raise
    kd.check(kd.inspector_row(desktop, window, "options").rect[3] == opened,
             "the options row closed when '−' was pressed")
    desktop.screenshot("option-removed")
    # Each is one step of the document's undo.
    desktop.input.key("ctrl+z")
    kd.wait_until(lambda: option_texts(desktop, window) == ["Choice 1", "Choice 2", "Choice 3", "Choice 4"],
                  "Ctrl+Z to bring 'Choice 2' back")
    desktop.input.key("ctrl+shift+z")
    kd.wait_until(lambda: option_texts(desktop, window) == ["Choice 1", "Choice 3", "Choice 4"],
                  "Ctrl+Shift+Z to remove 'Choice 2' again")


def saved_options(element):
    """A select menu keeps its options as its element's text, one a line."""
    return (element.text or "").strip("\n")


def rows_by_mouse_and_keyboard(desktop):
    desktop.launch()
    untitled = kd.project_window(desktop, "Untitled")
    kd.close_gallery(desktop)
    window, folder = kd.new_project(desktop, untitled, "Rows")
    surface = kd.design_surface(desktop, window)
    kd.check_page_drawn(desktop, surface)

    kd.drag_from_palette(desktop, window, surface, "JQMButton", *BUTTON_AT)
    kd.wait_inspected(desktop, window, "button1")
    kd.wait_until(lambda: kd.element_with_text(surface, "button1"), "button1 on the surface")
    desktop.screenshot("button-dropped")
    # The inspector's fields are announced by the name of the property they hold.
    for name in ("id", "value", "disabled"):
        row = kd.inspector_row(desktop, window, name)
        named = row if row.role == "text" else row.find(predicate=lambda n: n.name == name and n.role != "filler")
        kd.check(named is not None, f"the inspector's field for {name!r} has no name")
    wheel_over_pop_ups(desktop, window)
    undo_committed_field(desktop, window, surface)
    tab_through_rows(desktop, window)
    undo_stored_shadow_number(desktop, window)

    kd.drag_from_palette(desktop, window, surface, "JQMSelect", *SELECT_AT)
    kd.wait_until(lambda: kd.inspected_object(desktop, window) not in ("", "button1"), "the select menu inspected")
    select_id = kd.inspected_object(desktop, window)
    desktop.screenshot("select-dropped")
    add_and_remove_options(desktop, window)

    saved = kd.save(desktop, window, folder)
    element = saved.object(select_id)
    kd.check(element is not None, f"{select_id} is missing from the saved project")
    options = (saved_options(element) or "").split("\n")
    kd.check(options == ["Choice 1", "Choice 3", "Choice 4"], f"project.xml has the options {options}")
    button = saved.object("button1")
    kd.check(button is not None and (button.get("value") or "") != "Pay now",
             "project.xml keeps the undone value 'Pay now'")
    kd.check("2px 2px" in (button.get("boxShadow") or ""),
             f"project.xml has the box shadow {button.get('boxShadow')!r}, not the one Ctrl+Z brought back")


if __name__ == "__main__":
    sys.exit(kd.run([rows_by_mouse_and_keyboard]))
