#!/usr/bin/env python3
"""An event handler: made from the inspector's event row, written in the code editor, saved,
and there again (on the surface and in the file) after the application is started anew with
the project's path."""

import sys

import krdesktop as kd

LABEL_AT = (40, 220)
BUTTON_AT = (40, 120)
CODE = "application._pages.page1.label1.setValue('Paid');"


def check_saved(project, step):
    button, label = project.object("button1"), project.object("label1")
    kd.check(button is not None and label is not None, f"{step}: button1 or label1 is missing from project.xml")
    kd.check(kd.ProjectFile.box(button)[:2] == BUTTON_AT, f"{step}: button1 is at {kd.ProjectFile.box(button)[:2]}")
    kd.check(kd.ProjectFile.box(label)[:2] == LABEL_AT, f"{step}: label1 is at {kd.ProjectFile.box(label)[:2]}")
    kd.check(button.get("onClick") == "button1_onClick",
             f"{step}: button1's onClick is {button.get('onClick')!r}, not its new handler")
    handler = project.object("button1_onClick")
    kd.check(handler is not None and handler.tag == "KRFunction", f"{step}: no function button1_onClick in project.xml")
    kd.check(CODE in (handler.text or ""), f"{step}: the handler's code is not saved: {handler.text!r}")


def event_handler_survives_relaunch(desktop):
    desktop.launch()
    untitled = kd.project_window(desktop, "Untitled")
    kd.close_gallery(desktop)
    window, folder = kd.new_project(desktop, untitled, "Handlers")
    surface = kd.design_surface(desktop, window)
    kd.check_page_drawn(desktop, surface)
    kd.drag_from_palette(desktop, window, surface, "KRLabel", *LABEL_AT)
    kd.wait_inspected(desktop, window, "label1")
    kd.drag_from_palette(desktop, window, surface, "JQMButton", *BUTTON_AT)
    kd.wait_inspected(desktop, window, "button1")

    # The event row's arrow makes the handler and opens it in the code editor.
    kd.open_inspector_group(desktop, window, "Events")
    row = kd.inspector_row(desktop, window, "onClick")
    desktop.click(desktop.wait_for(row, "push button", "→", "the onClick row's arrow"))
    editor = kd.code_editor(desktop, window, "function button1_onClick")
    desktop.screenshot("handler-created")
    kd.wait_until(lambda: kd.inspector_value(desktop, window, "onClick") == "button1_onClick",
                  "the onClick row to name the new handler")

    # The editor has the keyboard, its placeholder line selected: typing replaces it.
    kd.wait_until(lambda: "// Your code here" in editor.text(), "the handler's placeholder")
    kd.wait_until(lambda: editor.has_state(kd.state("FOCUSED")), "the code editor to have the keyboard")
    desktop.input.type(CODE)
    kd.wait_until(lambda: CODE in editor.text(), "the typed code in the editor")
    desktop.screenshot("code-typed")
    check_saved(kd.save(desktop, window, folder), "saved")

    status = desktop.quit_app()
    kd.check(status == 0, f"the application quit with status {status}")

    # Not the first run, a project named: its window, and no gallery.
    desktop.launch(folder)
    window = kd.project_window(desktop, "Handlers")
    surface = kd.design_surface(desktop, window)
    kd.check_page_drawn(desktop, surface, points=[(4, 476), (316, 476), (160, 400)])
    kd.wait_until(lambda: kd.element_with_text(surface, "label1"), "label1 on the reopened page")
    kd.wait_until(lambda: kd.element_with_text(surface, "button1"), "button1 on the reopened page")
    kd.check(kd.box_at(surface, *BUTTON_AT) is not None, f"button1 is not drawn at {BUTTON_AT} after the relaunch")
    kd.check(kd.box_at(surface, *LABEL_AT) is not None, f"label1 is not drawn at {LABEL_AT} after the relaunch")
    desktop.screenshot("reopened")

    # The reopened handler: the button's event row names it, and its arrow opens the code that
    # was typed before the quit.
    kd.click_page(desktop, surface, BUTTON_AT[0] + 20, BUTTON_AT[1] + 15)
    kd.wait_inspected(desktop, window, "button1", "a click on button1 to select it after the relaunch")
    kd.open_inspector_group(desktop, window, "Events")
    kd.wait_until(lambda: kd.inspector_value(desktop, window, "onClick") == "button1_onClick",
                  "the reopened onClick row to name the handler")
    row = kd.inspector_row(desktop, window, "onClick")
    desktop.click(desktop.wait_for(row, "push button", "→", "the onClick row's arrow"))
    kd.code_editor(desktop, window, CODE)
    desktop.screenshot("reopened-handler")


if __name__ == "__main__":
    sys.exit(kd.run([event_handler_survives_relaunch]))
