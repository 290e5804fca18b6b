#!/usr/bin/env python3
"""The panes around the pages: a style sheet made in the New Resource sheet, opened and deleted
from the project outline's context menu; a new page that a button goes to deleted from its
context menu, the question naming the button, and a build then warning of its link; a function
with a syntax error stopping the build, listed in the syntax-error pane and shown at its line
from there."""

import os
import sys

import krdesktop as kd

RESOURCE = "extra.css"
# Typed over the placeholder on line 4 of a new function: a parenthesis left open.
BROKEN = "var total = (1 + 2;"
BROKEN_LINE = 4
# The sample's button, and a point on it (page pixels).
BUTTON = "computeButton"
BUTTON_AT = (40, 235)


def open_sample(desktop):
    return kd.open_sample_copy(desktop, "TipCalculator", "Tips")


def outline_row(window, name):
    return window.find("table cell", name)


def context_menu(desktop, window, row_name, keys):
    """Right-clicks a row of the project outline and picks an entry of its menu with the keys
    (the menu is no part of the accessible tree): Down from the top, Up from the bottom."""
    row = desktop.wait_for(window, "table cell", row_name, f"{row_name!r} in the project outline")
    before = desktop.override_windows()
    desktop.click(row, button=3)
    shown = kd.wait_until(lambda: desktop.override_windows() - before, f"the context menu of {row_name!r}")
    desktop.screenshot(f"menu-{row_name}")
    for key in keys:
        desktop.input.key(key)
    desktop.input.key("Return")
    kd.wait_until(lambda: not (shown & desktop.override_windows()), "the context menu to close")


def answer(desktop, text, button, shot=None, also=None):
    """Answers the question window that shows text with one of its buttons; also: a text the
    question must show as well."""
    question = kd.wait_until(lambda: next((w for w in desktop.windows() if w.find(
        predicate=lambda n: n.role == "label" and text in n.name)), None), f"the question {text!r}")
    if shot:
        desktop.screenshot(shot)
    if also:
        said = " ".join(n.name for n in question.find_all("label"))
        kd.check(also in said, f"the question does not say {also!r}: {said!r}")
    desktop.click(desktop.wait_for(question, "push button", button))
    kd.wait_until(lambda: not any(w.find(predicate=lambda n: n.role == "label" and text in n.name)
                                  for w in desktop.windows()), f"the question {text!r} to close")


def style_sheet_named_in_the_sheet(desktop, window, name):
    """File ▸ New Resource…, a style sheet, and name typed for it; returns the sheet, not yet
    confirmed."""
    desktop.menu(window, "File", "New Resource…")
    sheet = desktop.window("New Resource")
    kd.choose_in_combo(desktop, desktop.wait_for(sheet, "combo box", what="the resource type pop-up"),
                       "Cascading Style Sheet")
    field = desktop.wait_for(sheet, "text", what="the file name field")
    kd.wait_until(lambda: field.text().endswith(".css"), "a .css name offered for a style sheet")
    desktop.click(field)
    desktop.input.key("ctrl+a")
    desktop.input.type(name)
    kd.wait_until(lambda: field.text() == name, "the typed file name")
    return sheet


def new_resource_from_the_sheet(desktop, window, folder):
    path = os.path.join(folder, "kr-web", RESOURCE)
    sheet = style_sheet_named_in_the_sheet(desktop, window, RESOURCE)
    desktop.screenshot("new-resource-sheet")
    desktop.click(desktop.wait_for(sheet, "push button", "Add"))
    kd.wait_until(lambda: not any(w.name == "New Resource" for w in desktop.windows()), "the sheet to close")
    # A style sheet is offered to the project's style sheet includes.
    answer(desktop, "Add to cssIncludes?", "Add")
    desktop.wait_for(window, "table cell", RESOURCE, f"{RESOURCE} in the project outline")
    kd.wait_until(lambda: os.path.isfile(path), f"{RESOURCE} in the project's web folder")
    desktop.screenshot("resource-added")
    includes = kd.save(desktop, window, folder).root.find("KRProject").get("cssIncludes") or ""
    kd.check(RESOURCE in includes, f"the project's style sheet includes are {includes!r}, without {RESOURCE}")


def resource_opened_and_deleted_from_the_outline(desktop, window, folder):
    path = os.path.join(folder, "kr-web", RESOURCE)
    with open(path, encoding="utf-8") as f:
        template = f.read().strip()
    kd.check(template, f"the new {RESOURCE} is empty")
    context_menu(desktop, window, RESOURCE, ["Down"])  # Open Resource, the first entry
    first_line = template.splitlines()[0]
    editor = kd.code_editor(desktop, window, first_line)
    desktop.screenshot("resource-opened")

    # An open resource is deleted only once its tab is closed.
    tab = desktop.wait_for(window, "push button", RESOURCE, f"the tab of {RESOURCE}")
    x, y, w, h = tab.rect
    desktop.input.click(x + 10, y + h // 2)  # its close mark, at the tab's left end
    kd.wait_until(lambda: not window.find("push button", RESOURCE) and not editor.showing(),
                  f"the tab of {RESOURCE} to close")
    context_menu(desktop, window, RESOURCE, ["Up"])  # Delete Resource, the last entry
    answer(desktop, f'Do you wish to delete the project resource "{RESOURCE}"?', "Delete", "delete-resource-question")
    answer(desktop, f'The resource "{RESOURCE}" is also present in the project\'s cssIncludes', "Remove")
    kd.wait_until(lambda: outline_row(window, RESOURCE) is None, f"{RESOURCE} gone from the outline")
    kd.wait_until(lambda: not os.path.exists(path), f"{RESOURCE} gone from the web folder")
    desktop.screenshot("resource-deleted")
    includes = kd.save(desktop, window, folder).root.find("KRProject").get("cssIncludes") or ""
    kd.check(RESOURCE not in includes, f"the deleted {RESOURCE} is still included: {includes!r}")


def page_deleted_from_the_outline(desktop, window, folder):
    desktop.click(desktop.wait_for(window, "push button", "New Page"))
    desktop.wait_for(window, "table cell", "page1", "the new page in the outline")
    kd.check("page1" in pages(kd.save(desktop, window, folder)), "the new page is not saved")
    # The button of the first page goes to the new one (its gotoPage row).
    desktop.click(desktop.wait_for(window, "table cell", "tips", "tips in the project outline"))
    surface = kd.wait_until(lambda: (lambda s: s if s.name == "Tip Calculator" else None)(
        kd.design_surface(desktop, window)), "the page tips on the design surface")
    kd.check_page_drawn(desktop, surface)
    desktop.input.click(*kd.page_point(surface, *BUTTON_AT))
    kd.wait_inspected(desktop, window, BUTTON)
    kd.choose_in_combo(desktop, kd.inspector_field(desktop, window, "gotoPage"), "page1")
    desktop.screenshot("button-goes-to-page1")
    saved = kd.save(desktop, window, folder)
    linked = [e.get("gotoPage") for e in saved.root.iter("JQMButton") if e.get("id") == BUTTON]
    kd.check(linked == ["page1"], f"the saved button goes to {linked}, not to page1")

    # The question names the control that links to the page, which keeps its link.
    context_menu(desktop, window, "page1", ["Down"])  # Delete Page, the only entry
    answer(desktop, 'Do you want to delete the page "page1" from this project?', "Delete Page", "delete-page-question",
           also=f"The control {BUTTON} on the page \u201ctips\u201d links to it")
    kd.wait_until(lambda: outline_row(window, "page1") is None, "page1 gone from the outline")
    saved = pages(kd.save(desktop, window, folder))
    kd.check(saved == ["tips"], f"the saved project has the pages {saved}, not only 'tips'")
    desktop.screenshot("page-deleted")

    # A build says which control links to a page that is not there, and goes on.
    status = kd.build(desktop, window)
    desktop.screenshot("build-warns")
    warning = f"{BUTTON} on the page \u201ctips\u201d links to the page \u201cpage1\u201d, which does not exist."
    kd.check(warning in status, f"the build does not warn {warning!r}: {status!r}")
    kd.check(os.path.isfile(os.path.join(folder, "kr-web", "tips.html")), "the build with the warning wrote no page")


def pages(project):
    return [e.get("id") for e in project.root.iter("KRPage")]


def caret_line(editor):
    text = editor.acc.queryText()
    return text.getText(0, text.caretOffset).count("\n") + 1


def syntax_error_listed_and_shown(desktop, window, folder):
    desktop.click(desktop.wait_for(window, "push button", "New Function"))
    editor = kd.code_editor(desktop, window, "function function1")
    kd.wait_until(lambda: "// Your code here" in editor.text(), "the new function's placeholder")
    kd.wait_until(lambda: editor.has_state(kd.state("FOCUSED")), "the code editor to have the keyboard")
    desktop.input.type(BROKEN)
    kd.wait_until(lambda: editor.text().splitlines()[BROKEN_LINE - 1].strip() == BROKEN,
                  f"the broken line typed on line {BROKEN_LINE}")
    # The insertion point away from the error, to see it taken there; then back on the design,
    # Build checks the scripts and stops at the error.
    desktop.input.key("ctrl+Home")
    kd.wait_until(lambda: caret_line(editor) < BROKEN_LINE, "the insertion point above the error")
    desktop.click(desktop.wait_for(window, "push button", "Design", "the page's Design tab"))
    desktop.click(desktop.wait_for(window, "push button", "Build"))
    desktop.wait_for(window, "table cell", "JavaScript Syntax Errors", "the syntax errors in the outline",
                     timeout=60)
    row = desktop.wait_for(window, "table cell", "function1", "function1 listed in the syntax-error pane",
                           predicate=lambda n: n.parent() is not None and n.parent().find("table column header",
                                                                                         "Problem"))
    table = row.parent()
    line = kd.wait_until(lambda: table.find("table cell", str(BROKEN_LINE)), f"line {BROKEN_LINE} in the pane")
    kd.check(abs(line.center[1] - row.center[1]) <= 2, "the line listed is not on function1's row")
    desktop.screenshot("syntax-errors")

    desktop.input.double_click(*row.center)
    editor = kd.code_editor(desktop, window, BROKEN)
    kd.wait_until(lambda: editor.showing() and editor.has_state(kd.state("FOCUSED")),
                  "function1's editor shown with the keyboard")
    kd.wait_until(lambda: caret_line(editor) == BROKEN_LINE,
                  f"the insertion point on line {BROKEN_LINE}")
    desktop.screenshot("error-shown")


def panes_around_the_pages(desktop):
    window, folder = open_sample(desktop)
    new_resource_from_the_sheet(desktop, window, folder)
    resource_opened_and_deleted_from_the_outline(desktop, window, folder)
    page_deleted_from_the_outline(desktop, window, folder)
    syntax_error_listed_and_shown(desktop, window, folder)


if __name__ == "__main__":
    sys.exit(kd.run([panes_around_the_pages]))
