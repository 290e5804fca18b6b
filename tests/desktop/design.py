#!/usr/bin/env python3
"""Designing a page: controls dragged from the palette, selected, moved, resized and aligned,
every step undone and redone, the positions read back from the saved project."""

import re
import sys

import krdesktop as kd

# Page positions (CSS pixels) where the controls are dropped.
BUTTON_AT = (30, 280)
LABEL_AT = (200, 300)
LIST_AT = (20, 60)
MOVE_BY = (40, 80)
SHRINK_BY = 200


def boxes(project):
    """id -> (left, top, width, height) of the page's controls in the saved file."""
    return {e.get("id"): kd.ProjectFile.box(e) for e in project.objects()
            if e.tag in ("JQMButton", "KRLabel", "JQMListView")}


def check_state(desktop, window, folder, expected, step):
    """Saves and compares the controls' places in project.xml with expected (id -> box or None)."""
    saved = boxes(kd.save(desktop, window, folder))
    for object_id, box in expected.items():
        if box is None:
            kd.check(object_id not in saved, f"{step}: {object_id} is still in the saved project")
            continue
        kd.check(object_id in saved, f"{step}: {object_id} is missing from the saved project")
        for key, want, got in zip(("left", "top", "width", "height"), box, saved[object_id]):
            if want is not None:
                kd.check(got == want, f"{step}: {object_id} {key} is {got} in project.xml, expected {want}")
    desktop.log(f"{step}: project.xml as expected")


def place(desktop, window, surface, class_name, at, object_id):
    kd.drag_from_palette(desktop, window, surface, class_name, *at)
    kd.wait_inspected(desktop, window, object_id, f"the dropped {class_name} ({object_id}) in the inspector")
    return wait_text(desktop, surface, object_id)


def wait_text(desktop, surface, text):
    return kd.wait_until(lambda: kd.element_with_text(surface, text), f"{text!r} on the design surface")


def geometry(desktop, window):
    return tuple(kd.inspector_value(desktop, window, k) for k in ("left", "top", "width", "height"))


def placing_moving_aligning_with_undo(desktop):
    desktop.launch()
    untitled = kd.project_window(desktop, "Untitled")
    kd.close_gallery(desktop)
    window, folder = kd.new_project(desktop, untitled, "Layout")
    surface = kd.design_surface(desktop, window)
    kd.check_page_drawn(desktop, surface)

    # A list view dropped on the page covers the drop point (list views span the page's width).
    kd.drag_from_palette(desktop, window, surface, "JQMListView", *LIST_AT)
    kd.wait_inspected(desktop, window, "listview1")
    wait_text(desktop, surface, "Item #1")
    list_box = tuple(float(v) if re.fullmatch(r"\d+(\.\d+)?", v) else None for v in geometry(desktop, window))
    list_rect = kd.box_at(surface, list_box[0], list_box[1])
    kd.check(list_rect is not None, f"no list drawn at its place {list_box[:2]}")
    x, y, w, h = list_rect.rect
    px, py = kd.page_point(surface, *LIST_AT)
    kd.check(x <= px < x + w and y <= py < y + h, f"the list {list_rect.rect} does not cover the drop point")
    desktop.screenshot("list-dropped")

    # Resize it by the bottom handle of its selection box.
    bottom = kd.wait_until(lambda: kd.selection_handles(desktop, surface).get("bottom"), "the selection box's bottom handle")
    bx, by = bottom.center
    desktop.input.drag((bx, by), (bx, by - SHRINK_BY), steps=20, duration=0.5)
    list_height = list_box[3] - SHRINK_BY
    kd.wait_until(lambda: kd.inspector_value(desktop, window, "height") == f"{list_height:.0f}",
                  f"the list's height to become {list_height:.0f}")
    desktop.screenshot("list-resized")

    place(desktop, window, surface, "JQMButton", BUTTON_AT, "button1")
    kd.check(geometry(desktop, window)[:2] == tuple(str(v) for v in BUTTON_AT),
             f"button1 dropped at {BUTTON_AT} shows {geometry(desktop, window)[:2]}")
    kd.check(kd.box_at(surface, *BUTTON_AT) is not None, f"no button drawn at {BUTTON_AT}")
    place(desktop, window, surface, "KRLabel", LABEL_AT, "label1")
    kd.check(geometry(desktop, window)[:2] == tuple(str(v) for v in LABEL_AT),
             f"label1 dropped at {LABEL_AT} shows {geometry(desktop, window)[:2]}")
    kd.check(kd.box_at(surface, *LABEL_AT) is not None, f"no label drawn at {LABEL_AT}")
    desktop.screenshot("three-controls")

    # A click on each shows it in the inspector.
    for object_id, (left, top) in (("button1", BUTTON_AT), ("label1", LABEL_AT), ("listview1", LIST_AT)):
        kd.click_page(desktop, surface, left + 20, top + 12)
        kd.wait_inspected(desktop, window, object_id, f"a click on {object_id} to select it")
    desktop.screenshot("clicked-list")

    # Move the button by dragging it.
    kd.click_page(desktop, surface, BUTTON_AT[0] + 20, BUTTON_AT[1] + 12)
    kd.wait_inspected(desktop, window, "button1")
    start = kd.page_point(surface, BUTTON_AT[0] + 60, BUTTON_AT[1] + 25)
    desktop.input.drag(start, (start[0] + MOVE_BY[0], start[1] + MOVE_BY[1]), steps=20, duration=0.5)
    moved = (BUTTON_AT[0] + MOVE_BY[0], BUTTON_AT[1] + MOVE_BY[1])
    kd.wait_until(lambda: geometry(desktop, window)[:2] == tuple(str(v) for v in moved),
                  f"button1 to move to {moved}")
    kd.wait_until(lambda: kd.box_at(surface, *moved), f"button1 drawn at {moved}")
    desktop.screenshot("button-moved")

    # Shift-click the label to add it to the selection, then Edit > Align Left.
    kd.click_page(desktop, surface, moved[0] + 20, moved[1] + 12)
    kd.wait_inspected(desktop, window, "button1")
    kd.click_page(desktop, surface, LABEL_AT[0] + 20, LABEL_AT[1] + 12, modifiers=("shift",))
    desktop.menu(window, "Edit", "Align Left")
    aligned_label = (moved[0], LABEL_AT[1])
    kd.wait_until(lambda: kd.box_at(surface, *aligned_label), f"label1 aligned to the left at {aligned_label}")
    desktop.screenshot("aligned-left")

    final = {"listview1": (list_box[0], list_box[1], None, list_height),
             "button1": (moved[0], moved[1], None, None),
             "label1": (aligned_label[0], aligned_label[1], None, None)}
    check_state(desktop, window, folder, final, "after aligning")

    # Every step undone, in turn: from the Edit menu first, then with Ctrl+Z.
    listed = (list_box[0], list_box[1], None, list_height)
    button = (BUTTON_AT[0], BUTTON_AT[1], None, None)
    label = (LABEL_AT[0], LABEL_AT[1], None, None)
    states = [  # the whole page after each undo
        ("undo Align Left", {"listview1": listed, "button1": final["button1"], "label1": label}),
        ("undo the move", {"listview1": listed, "button1": button, "label1": label}),
        ("undo the label's creation", {"listview1": listed, "button1": button, "label1": None}),
        ("undo the button's creation", {"listview1": listed, "button1": None, "label1": None}),
        ("undo the resize", {"listview1": (list_box[0], list_box[1], None, list_box[3]), "button1": None,
                             "label1": None}),
        ("undo the list's creation", {"listview1": None, "button1": None, "label1": None}),
    ]
    for i, (step, expected) in enumerate(states):
        if i == 0:
            name = desktop.menu(window, "Edit", re.compile(r"^Undo\b"))
            desktop.log(f"Edit menu: {name}")
        else:
            desktop.activate_if_needed(window)
            desktop.input.key("ctrl+z")
        check_state(desktop, window, folder, expected, step)
    desktop.screenshot("all-undone")

    # And redone: the Edit menu once, then Ctrl+Shift+Z.
    redo_states = [s for _, s in states[:-1]][::-1] + [final]
    for i, expected in enumerate(redo_states):
        if i == 0:
            desktop.menu(window, "Edit", re.compile(r"^Redo\b"))
        else:
            desktop.activate_if_needed(window)
            desktop.input.key("ctrl+shift+z")
        check_state(desktop, window, folder, expected, f"redo {i + 1}")
    wait_text(desktop, surface, "button1")
    kd.wait_until(lambda: kd.box_at(surface, *aligned_label), "label1 back at its aligned place")
    desktop.screenshot("all-redone")


if __name__ == "__main__":
    sys.exit(kd.run([placing_moving_aligning_with_undo]))
