#!/usr/bin/env python3
"""The samples: both opened from the command line show their pages; an object of each is
selected with a click and edited in the inspector, on the surface and in the saved file."""

import os
import shutil
import sys

import krdesktop as kd

PAGE_WIDTH, PAGE_HEIGHT = 320, 480
# (project, control clicked, inspector row, new text)
EDITS = [
    ("TipCalculator", "computeButton", "value", "Calculate"),
    ("Showcase", "greeting", "value", "Hello there"),
]


def free_points(project):
    """Page positions that no control of the start page covers (nor its tool bars)."""
    page = next(e for e in project.root.iter("KRPage") if e.get("id") == project.root.find("KRProject").get("startPage"))
    boxes = []
    for element in page.iter():
        left, top, width, height = kd.ProjectFile.box(element)
        if top is None or height is None:
            continue
        boxes.append((left or 0, top, width if width is not None else PAGE_WIDTH, height))
    points = []
    for y in range(70, PAGE_HEIGHT - 60, 10):
        for x in (4, PAGE_WIDTH // 2, PAGE_WIDTH - 4):
            if not any(l - 8 <= x <= l + w + 8 and t - 8 <= y <= t + h + 8 for l, t, w, h in boxes):
                points.append((x, y))
    kd.check(len(points) >= 3, "the sample's page has no free place to look at its background")
    return points[:: max(1, len(points) // 4)][:4]


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
    kd.close_gallery(desktop)

    for (name, object_id, row, text), folder in zip(EDITS, folders):
        window = windows[name]
        desktop.bring_to_front(window)
        project = kd.ProjectFile(folder)
        surface = kd.design_surface(desktop, window)
        kd.check_page_drawn(desktop, surface, points=free_points(project))
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
