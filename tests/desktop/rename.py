#!/usr/bin/env python3
"""A function renamed in the inspector: on a copy of the tip calculator, the Compute button is
clicked (its inspector shown), the function compute is chosen in the object browser and given
the id calc with Return. Every control that called compute calls calc in the saved file and in
the built page, whichever of them had its inspector shown, and Ctrl+Z brings back the name
and every link in one step. A list view whose item calls compute has its item editor open
all along: its row names calc after the rename and compute again after Ctrl+Z. A style class
renamed in the inspector keeps the label that uses it drawn with it, under its new name in the
saved file, and a label of it and of a class whose rule comes later stays drawn by the later one. A new page renamed in the inspector moves to its place in the
outline at once. A new function with a syntax error stops the build; deleting the function
takes its error out of the errors pane and the outline."""

import os
import re
import shutil
import sys
import time

import krdesktop as kd

# The controls of the sample that call compute, and the event each calls it from.
CALLERS = {"bill": "onChange", "percent": "onChange", "computeButton": "onClick"}
# A list view added to the sample, whose one item calls compute.
LIST_VIEW = ('<JQMListView id="choices" top="360" left="10" width="300" height="60">'
             '[{"label":"Again","onClick":"compute"}]</JQMListView>')
LIST_AT = (100, 380)
# A style class the label total uses, drawn red; the label tip uses it and hush, which comes
# later and so draws tip blue.
STYLE_CLASS = '<KRStyleClass id="loud" color="#c00000"/><KRStyleClass id="hush" color="#0000c0"/>'
TOTAL = (10, 320, 300, 32)
TIP = (10, 285, 300, 32)


def open_sample(desktop):
    folder = os.path.join(desktop.home, "Documents", "Tips.krproj")
    shutil.copytree(os.path.join(desktop.options.source, "resources", "samples", "TipCalculator.krproj"), folder)
    path = os.path.join(folder, "project.xml")
    with open(path, encoding="utf-8") as f:
        text = f.read()
    anchor = "<KRLabel id=\"total\""
    kd.check(anchor in text, "the sample has no label total to put the list view after")
    text = text.replace(anchor, LIST_VIEW + "\n        " + STYLE_CLASS + "\n        " + anchor + ' styleClass="loud"', 1)
    kd.check('<KRLabel id="tip"' in text, "the sample has no label tip")
    text = text.replace('<KRLabel id="tip"', '<KRLabel id="tip" styleClass="loud hush"', 1)
    with open(path, "w", encoding="utf-8") as f:
        f.write(text)
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
    items = project.object("choices").text or ""
    kd.check(re.search(r'"onClick"\s*:\s*"%s"' % name, items), f"{step}: the list view's item does not call {name}: {items!r}")


def item_table(window):
    """The item editor's table: the one with an onClick column."""
    return kd.wait_until(lambda: window.find("table", predicate=lambda n: n.find("table column header", "onClick")),
                         "the item editor's table")


def item_handler(table):
    """What the onClick cell of the item Again shows."""
    node = kd.table_cell(table, "onClick", "Again")
    return node.name if node is not None else None


def open_item_editor(desktop, window, surface):
    """The list view chosen on the page and its items opened in their editor (a tab of its own,
    which stays open while the page's other tabs show)."""
    kd.click_page(desktop, surface, *LIST_AT)
    kd.wait_inspected(desktop, window, "choices", "a click on the list view to select it")
    row = kd.inspector_row(desktop, window, "items")
    desktop.click(desktop.wait_for(row, "push button", "Edit…", "the items row's Edit button"))
    table = item_table(window)
    kd.wait_until(lambda: item_handler(table) == "compute", "the item editor's row to name compute")
    desktop.screenshot("item-editor-open")


def item_editor_names(desktop, window, name, step):
    desktop.click(desktop.wait_for(window, "push button", "List View: choices", "the list view's item tab"))
    table = item_table(window)
    try:
        kd.wait_until(lambda: item_handler(table) == name,
                      f"the item editor's row to name {name} {step} (it shows {item_handler(table)!r})", timeout=5)
    finally:
        desktop.screenshot(f"item-editor-{name}")


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
    open_item_editor(desktop, window, surface)
    desktop.click(desktop.wait_for(window, "push button", "Design", "the page's Design tab"))

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
    item_editor_names(desktop, window, "calc", "after the rename")
    desktop.click(desktop.wait_for(window, "push button", "Objects", "the page's Objects tab"))
    desktop.click(desktop.wait_for(window, "list item", "calc", "calc in the object browser"))
    kd.wait_inspected(desktop, window, "calc", "a click on calc to select it")

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
    item_editor_names(desktop, window, "compute", "after Ctrl+Z")

    # The button's row names the function again.
    desktop.click(desktop.wait_for(window, "push button", "Design", "the page's Design tab"))
    surface = kd.design_surface(desktop, window)
    kd.wait_until(lambda: kd.box_at(surface, left, top), "computeButton drawn on the page again")
    kd.click_page(desktop, surface, left + 30, top + height / 2)
    kd.wait_inspected(desktop, window, "computeButton", "a click on Compute to select it again")
    kd.wait_until(lambda: kd.inspector_value(desktop, window, "onClick") == "compute",
                  "the onClick row to name compute after Ctrl+Z")
    desktop.screenshot("button-after-undo")

    renamed_class_keeps_its_controls(desktop, window, folder)
    renamed_page_moves_in_the_outline(desktop, window)
    deleted_function_takes_its_errors_along(desktop, window)


def red_in_total(desktop, surface, label=TOTAL):
    """How many pixels of the label total (or another) are drawn in its class's red."""
    x, y = kd.page_point(surface, label[0], label[1])
    return kd.grab_count(desktop, (x, y, label[2], label[3]), lambda p: p[0] > 150 and p[1] < 80 and p[2] < 80)


def blue_in_tip(desktop, surface):
    """How many pixels of the label tip are drawn in the blue of the class hush."""
    x, y = kd.page_point(surface, TIP[0], TIP[1])
    return kd.grab_count(desktop, (x, y, TIP[2], TIP[3]), lambda p: p[2] > 150 and p[0] < 80 and p[1] < 80)


def renamed_class_keeps_its_controls(desktop, window, folder):
    """The style class renamed in the inspector: the label that uses it stays drawn with it and
    names it by its new name in the saved file. The label tip, of loud and of hush (whose rule
    comes later), stays drawn blue by hush: the renamed class keeps its rule's place."""
    surface = kd.design_surface(desktop, window)
    kd.wait_until(lambda: red_in_total(desktop, surface) > 40, "the label total drawn red by its class")
    kd.wait_until(lambda: blue_in_tip(desktop, surface) > 40, "the label tip drawn blue by hush, the later class")
    desktop.click(desktop.wait_for(window, "push button", "Objects", "the page's Objects tab"))
    desktop.click(desktop.wait_for(window, "list item", "loud", "the class loud in the object browser"))
    kd.wait_inspected(desktop, window, "loud", "a click on loud to select it")
    kd.set_inspector_text(desktop, window, "id", "shout")
    desktop.click(desktop.wait_for(window, "push button", "Design", "the page's Design tab"))
    surface = kd.design_surface(desktop, window)
    try:
        kd.wait_until(lambda: red_in_total(desktop, surface) > 40, "the label total still red after the rename",
                      timeout=10)
        # Looked at once the label total is drawn after the rename, and again a moment later.
        for _ in range(2):
            kd.wait_until(lambda: blue_in_tip(desktop, surface) > 40 and red_in_total(desktop, surface, TIP) == 0,
                          "the label tip still blue, not red, after the rename", timeout=10)
            time.sleep(1)
    finally:
        desktop.screenshot("class-renamed")
    project = kd.save(desktop, window, folder)
    total = project.object("total")
    kd.check(total.get("styleClass") == "shout", f"the label total names the class {total.get('styleClass')!r}")
    tip = project.object("tip")
    kd.check(tip.get("styleClass") == "shout hush", f"the label tip names the classes {tip.get('styleClass')!r}")


def outline_pages(window):
    """The names of the outline's page rows, top to bottom."""
    heading = window.find("table cell", "PAGES")
    below = window.find("table cell", "RESOURCES")
    if heading is None or below is None:
        return []
    top, bottom = heading.center[1], below.center[1]
    rows = [n for n in window.find_all("table cell") if top < n.center[1] < bottom and n.name]
    return [n.name for n in sorted(rows, key=lambda n: n.center[1])]


def renamed_page_moves_in_the_outline(desktop, window):
    desktop.click(desktop.wait_for(window, "push button", "New Page", "the New Page button"))
    kd.wait_until(lambda: len(outline_pages(window)) == 2, "the new page in the outline")
    made = next(name for name in outline_pages(window) if name != "tips")
    kd.check(outline_pages(window) == sorted([made, "tips"]), f"the outline lists the pages {outline_pages(window)}")
    kd.wait_inspected(desktop, window, made, f"the new page {made} in the inspector")
    kd.set_inspector_text(desktop, window, "id", "zeta")
    try:
        kd.wait_until(lambda: outline_pages(window) == ["tips", "zeta"], "zeta after tips in the outline", timeout=5)
    finally:
        desktop.screenshot("page-renamed")


def error_rows(window):
    """The errors pane's cells that name the function broken (shown or not)."""
    return [n for n in window.find_all("table cell", "broken", showing=False)]


def deleted_function_takes_its_errors_along(desktop, window):
    desktop.click(desktop.wait_for(window, "push button", "New Function", "the New Function button"))
    editor = kd.code_editor(desktop, window, "// Your code here")
    kd.wait_until(lambda: editor.has_state(kd.state("FOCUSED")), "the code editor to have the keyboard")
    made = kd.inspected_object(desktop, window)
    kd.set_inspector_text(desktop, window, "id", "broken")
    desktop.click(editor)
    desktop.input.key("ctrl+a")
    desktop.input.type("var x = (;")
    kd.wait_until(lambda: "var x = (;" in editor.text(), "the broken code in the editor")
    status = desktop.wait_for(window, "label", "Status", "the status line")
    desktop.input.key("ctrl+b")
    kd.wait_until(lambda: (status.acc.description or "").startswith("Build stopped"),
                  f"the build to stop at the syntax error (of {made}, now broken)", timeout=60)
    kd.wait_until(lambda: window.find("table cell", "SYNTAX ERRORS"), "the outline's syntax errors group")
    desktop.click(desktop.wait_for(window, "table cell", "JavaScript Syntax Errors", "the outline's errors row"))
    kd.wait_until(lambda: error_rows(window), "the error of broken in the errors pane")
    desktop.screenshot("syntax-error")

    # Back to the page zeta (chosen already in the outline: another page first).
    desktop.click(desktop.wait_for(window, "table cell", "tips", "the page tips in the outline"))
    desktop.click(desktop.wait_for(window, "table cell", "zeta", "the page zeta in the outline"))
    desktop.click(desktop.wait_for(window, "push button", "Objects", "the page's Objects tab"))
    desktop.click(desktop.wait_for(window, "list item", "broken", "broken in the object browser"))
    kd.wait_inspected(desktop, window, "broken", "a click on broken to select it")
    desktop.menu(window, "Edit", "Delete")
    kd.wait_until(lambda: not window.find("list item", "broken"), "broken to leave the object browser")
    try:
        kd.wait_until(lambda: not window.find("table cell", "SYNTAX ERRORS", showing=False),
                      "the outline's syntax errors group to go with the function", timeout=5)
        kd.wait_until(lambda: not error_rows(window), "the errors pane to forget the deleted function", timeout=5)
    finally:
        desktop.screenshot("function-deleted")


if __name__ == "__main__":
    sys.exit(kd.run([renamed_function_keeps_its_callers]))
