#!/usr/bin/env python3
"""jQuery Mobile widgets on the design surface: a flip toggle dragged from the palette shows one
switch, and still one after its value and label are changed in the inspector; it is saved with
its default height, and grows by its label's line only once the label shows. A function dropped
from the palette is selected where the Edit commands act: Ctrl+C and Ctrl+V copy it and Edit ▸
Delete deletes the copy, with no click on it first."""

import sys

import krdesktop as kd

TOGGLE_AT = (30, 120)
DEFAULT_HEIGHT = 42  # the flip toggle's height when it is made


def switches(surface):
    """The flip switches the page shows: each has one handle, a slider to assistive tools."""
    return surface.find_all("slider")


def one_switch(desktop, surface, step):
    found = kd.wait_until(lambda: switches(surface), f"{step}: a switch on the design surface")
    desktop.screenshot(step)
    kd.check(len(found) == 1, f"{step}: {len(found)} switches are drawn, expected one: "
             + ", ".join(str(n.rect) for n in found))
    return found[0]


def saved_height(desktop, window, folder, step):
    toggle = kd.save(desktop, window, folder).object("toggle1")
    kd.check(toggle is not None, f"{step}: toggle1 is missing from the saved project")
    desktop.log(f"{step}: toggle1 saved with height {toggle.get('height')!r}")
    return toggle.get("height")


def flip_toggle_draws_one_switch(desktop):
    desktop.launch()
    untitled = kd.project_window(desktop, "Untitled")
    kd.close_gallery(desktop)
    window, folder = kd.new_project(desktop, untitled, "Toggles")
    surface = kd.design_surface(desktop, window)
    kd.check_page_drawn(desktop, surface)

    kd.drag_from_palette(desktop, window, surface, "JQMSlideToggle", *TOGGLE_AT)
    kd.wait_inspected(desktop, window, "toggle1", "the dropped flip toggle in the inspector")
    handle = one_switch(desktop, surface, "toggle-dropped")
    # The switch is drawn where it was dropped.
    x, y = kd.page_point(surface, *TOGGLE_AT)
    _, hy, _, _ = handle.rect
    kd.check(abs(hy - y) < DEFAULT_HEIGHT, f"the switch's handle at {handle.rect} is not near the drop point {x, y}")
    height = saved_height(desktop, window, folder, "after the drop")
    kd.check(height == str(DEFAULT_HEIGHT), f"the dropped flip toggle is saved with height {height!r}, "
             f"expected its default {DEFAULT_HEIGHT}")

    # Its value changed in the inspector rebuilds it: the switch shows "On" (its handle at the
    # right end), still one switch, the same size.
    off_x = handle.rect[0]
    kd.set_inspector_text(desktop, window, "value", "On")
    kd.wait_until(lambda: any(n.rect[0] > off_x + 40 for n in switches(surface)), "the switch to show 'On'")
    one_switch(desktop, surface, "toggle-value-changed")
    height = saved_height(desktop, window, folder, "after the value")
    kd.check(height == str(DEFAULT_HEIGHT), f"the flip toggle is saved with height {height!r} after its value "
             f"changed, expected {DEFAULT_HEIGHT}")

    # A label shows above the switch: the toggle grows to hold the label and one switch.
    kd.set_inspector_text(desktop, window, "label", "Lights")
    kd.wait_until(lambda: kd.element_with_text(surface, "Lights"), "the label 'Lights' on the design surface")
    one_switch(desktop, surface, "toggle-label-changed")
    height = saved_height(desktop, window, folder, "after the label")
    drawn = kd.wait_until(lambda: kd.box_at(surface, *TOGGLE_AT), "the flip toggle's box on the page")
    kd.check(height is not None and DEFAULT_HEIGHT < int(height) < 2 * DEFAULT_HEIGHT,
             f"the flip toggle with a label is saved with height {height!r}, expected a label's line more "
             f"than {DEFAULT_HEIGHT}")
    kd.check(drawn.rect[3] == int(height), f"the flip toggle is drawn {drawn.rect[3]} pixels high, saved {height}")

    dropped_function_takes_edit_commands(desktop, window, folder, surface)


def functions(window):
    return sorted(n.name for n in window.find_all("list item", predicate=lambda n: n.name.startswith("function")))


def dropped_function_takes_edit_commands(desktop, window, folder, surface):
    """A function dropped from the palette (the object browser shows while it is dragged), then
    copied and pasted with the keys and the copy deleted from the Edit menu, without a click."""
    kd.drag_from_palette(desktop, window, surface, "KRFunction", 100, 200)
    kd.wait_until(lambda: functions(window) == ["function1"], "function1 in the object browser after the drop")
    kd.wait_inspected(desktop, window, "function1", "the dropped function in the inspector")
    desktop.screenshot("function-dropped")
    desktop.input.key("ctrl+c")
    desktop.input.key("ctrl+v")
    kd.wait_until(lambda: len(functions(window)) == 2,
                  f"Ctrl+C and Ctrl+V to copy the dropped function (the browser lists {functions(window)})")
    copy = next(name for name in functions(window) if name != "function1")
    kd.wait_inspected(desktop, window, copy, "the pasted function in the inspector")
    desktop.screenshot("function-pasted")
    desktop.menu(window, "Edit", "Delete")
    kd.wait_until(lambda: functions(window) == ["function1"], f"Edit > Delete to delete {copy}")
    saved = kd.save(desktop, window, folder)
    kd.check(saved.object("function1") is not None and saved.object(copy) is None,
             f"the saved project does not hold function1 alone")


if __name__ == "__main__":
    sys.exit(kd.run([flip_toggle_draws_one_switch]))
