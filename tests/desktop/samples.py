#!/usr/bin/env python3
"""The samples: both opened from the command line show their pages; an object of each is
selected with a click and edited in the inspector, on the surface and in the saved file."""

import os
import shutil
import sys

import krdesktop as kd

PAGE_WIDTH = 320
# (project, control clicked, its text, inspector row, new text)
EDITS = [
    ("TipCalculator", "computeButton", "Compute", "value", "Calculate"),
    ("Showcase", "greeting", "Welcome", "value", "Hello there"),
]


def control_box(project, object_id):
    left, top, width, height = kd.ProjectFile.box(project.object(object_id))
    return left or 0, top, width if width is not None else PAGE_WIDTH, height


def samples_open_and_edit(desktop):
    samples = os.path.join(desktop.options.source, "resources", "samples")
    folders = []
    for name, *_ in EDITS:
        target = os.path.join(desktop.home, "Samples", name + ".krproj")
        shutil.copytree(os.path.join(samples, name + ".krproj"), target)
        folders.append(target)
    desktop.launch(*folders)
    windows = {name: kd.project_window(desktop, name) for name, *_ in EDITS}
    # The project opened last comes to the front by itself; the journey then picks each in turn.
    desktop.wait_active(windows[EDITS[-1][0]], "the last project opened in front")

    for (name, object_id, shown, row, text), folder in zip(EDITS, folders):
        window = windows[name]
        desktop.bring_to_front(window)
        project = kd.ProjectFile(folder)
        surface = kd.design_surface(desktop, window)
        kd.check_page_drawn(desktop, surface, min_ink=400)
        kd.wait_until(lambda: kd.element_with_text(surface, shown), f"{shown!r} on the page of {name}")
        left, top, width, height = control_box(project, object_id)
        kd.wait_until(lambda: kd.box_at(surface, left, top), f"{object_id} drawn at ({left:.0f}, {top:.0f})")
        desktop.screenshot(f"{name}-drawn")

        kd.click_page(desktop, surface, left + min(width, 60) / 2, top + height / 2)
        kd.wait_inspected(desktop, window, object_id, f"a click on {object_id} to select it")
        kd.set_inspector_text(desktop, window, row, text)
        kd.wait_until(lambda: kd.element_with_text(surface, text), f"{text!r} on the surface")
        desktop.screenshot(f"{name}-edited")
        saved = kd.save(desktop, window, folder).object(object_id)
        value = saved.get(row) if saved.get(row) is not None else (saved.text or "")
        kd.check(value == text, f"{name}: project.xml has {object_id}.{row} = {value!r}, expected {text!r}")


if __name__ == "__main__":
    sys.exit(kd.run([samples_open_and_edit]))
