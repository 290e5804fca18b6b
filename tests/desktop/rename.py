#!/usr/bin/env python3
"""A function renamed in the inspector: on a copy of the tip calculator, the Compute button is
clicked (its inspector shown), the function compute is chosen in the object browser and given
the id calc with Return. Every control that called compute calls calc in the saved file and in
the built page, whichever of them had its inspector shown, and Ctrl+Z brings back the name
and every link in one step."""

import os
import re
import shutil
import sys

import krdesktop as kd

# The controls of the sample that call compute, and the event each calls it from.
CALLERS = {"bill": "onChange", "percent": "onChange", "computeButton": "onClick"}


def open_sample(desktop):
    folder = os.path.join(desktop.home, "Documents", "Tips.krproj")
    shutil.copytree(os.path.join(desktop.options.source, "resources", "samples", "TipCalculator.krproj"), folder)
    desktop.launch(folder)
    window = kd.project_window(desktop, "Tips")
    desktop.activate_if_needed(window)
    return window, folder


def check_links(project, name, step):
    function = project.object(name)
    kd.check(function is not None and function.tag == "KRFunction", f"{step}: no function {name} in project.xml")
    wrong = {object_id: project.object(object_id).get(event) for object_id, event in CALLERS.items()
             if project.object(object_id).get(event) != name}
    kd.check(not wrong, f"{step}: these controls do not call {name}: {wrong}")


def build(desktop, window, folder):
    """Ctrl+B; waits for the page's file to be written again and returns the built page and
    scripts as one text."""
    web = os.path.join(folder, "kr-web")
    status = desktop.wait_for(window, "label", "Status", "the status line")
    desktop.activate_if_needed(window)
    desktop.input.key("ctrl+b")
    finished = kd.wait_until(lambda: re.match(r"^Build \d+ finished", status.acc.description or ""),
                             "the build to finish", timeout=60)
    desktop.log(f"build: {finished.string}")
    text = ""
    for name in ("tips.html", "KR-user-scripts.js"):
        path = os.path.join(web, name)
        if os.path.exists(path):
            with open(path, encoding="utf-8") as f:
                text += f.read()
    return text


def renamed_function_keeps_its_callers(desktop):
    window, folder = open_sample(desktop)
    surface = kd.design_surface(desktop, window)
    kd.check_page_drawn(desktop, surface, min_ink=400)
    project = kd.ProjectFile(folder)
    left, top, _, height = kd.ProjectFile.box(project.object("computeButton"))
    kd.wait_until(lambda: kd.box_at(surface, left, top), "computeButton drawn on the page")

    # The button's inspector, with its onClick row, is shown first.
    kd.click_page(desktop, surface, left + 30, top + height / 2)
    kd.wait_inspected(desktop, window, "computeButton", "a click on Compute to select it")
    kd.open_inspector_group(desktop, window, "Events")
    kd.wait_until(lambda: kd.inspector_value(desktop, window, "onClick") == "compute",
                  "the onClick row to name compute")
    desktop.screenshot("button-inspected")

    # The function, chosen in the object browser, renamed in its inspector.
    desktop.click(desktop.wait_for(window, "push button", "Objects", "the page's Objects tab"))
    entry = desktop.wait_for(window, "list item", "compute", "compute in the object browser")
    desktop.click(entry)
    kd.wait_inspected(desktop, window, "compute", "a click on compute to select it")
    kd.set_inspector_text(desktop, window, "id", "calc")
    kd.wait_until(lambda: window.find("list item", "calc"), "calc in the object browser")
    desktop.screenshot("renamed")

    check_links(kd.save(desktop, window, folder), "calc", "saved after the rename")

    built = build(desktop, window, folder)
    kd.check("_events.compute" not in built, "the built page still calls compute")
    kd.check(re.search(r"_events\.calc\s*=\s*function", built), "the built page defines no calc")
    calls = len(re.findall(r"_events\.calc\b(?!\s*=)", built))
    kd.check(calls >= len(CALLERS), f"the built page calls calc {calls} times, not from each of {list(CALLERS)}")
    desktop.screenshot("built")

    # One Ctrl+Z takes the rename back: the name and every link.
    desktop.activate_if_needed(window)
    desktop.input.key("ctrl+z")
    kd.wait_until(lambda: kd.inspector_value(desktop, window, "id") == "compute",
                  "Ctrl+Z to bring back the name compute")
    desktop.screenshot("undone")
    check_links(kd.save(desktop, window, folder), "compute", "saved after Ctrl+Z")

    # The button's row names the function again.
    desktop.click(desktop.wait_for(window, "push button", "Design", "the page's Design tab"))
    surface = kd.design_surface(desktop, window)
    kd.wait_until(lambda: kd.box_at(surface, left, top), "computeButton drawn on the page again")
    kd.click_page(desktop, surface, left + 30, top + height / 2)
    kd.wait_inspected(desktop, window, "computeButton", "a click on Compute to select it again")
    kd.wait_until(lambda: kd.inspector_value(desktop, window, "onClick") == "compute",
                  "the onClick row to name compute after Ctrl+Z")
    desktop.screenshot("button-after-undo")


if __name__ == "__main__":
    sys.exit(kd.run([renamed_function_keeps_its_callers]))
