#!/usr/bin/env python3
"""The code editors: a style sheet with CRLF line endings opened from the project outline, a line
typed into it and saved, and the file still ends every line with CRLF, then Text > Line Endings >
Unix (LF) and it is saved with LF; in a new function a word found and found again with F3 and the
find bar's named arrows, the find bar closed with Escape, the code typed over and commented out
from the Text menu, and the function saved; then every "total" replaced at once with the find
bar's Replace All, taken back whole with one Ctrl+Z and brought back with Ctrl+Shift+Z; and in a
style sheet of 40,000 rules, Replace All of its 80,000 "color", its Ctrl+Z and its Ctrl+Shift+Z
each show on screen within a person's patience, and the file is saved with the replacements; and
in a style sheet holding a picture, a line of 200,000 characters without a space, a word typed at
a person's pace is in place and on screen within a person's patience, and saved. After the
keys walk through Edit and Text and leave them, the menus opened with the mouse offer what the
user works on: Copy for a selected label, Line Endings for the style sheet."""

import os
import shutil
import sys
import time

import krdesktop as kd

# The function's body, typed line by line; "amount" is looked for.
LINES = ["var amount = 2;", "var total = amount * 3;", "return total;"]
STYLE_SHEET = b"body {\r\n  color: red;\r\n}\r\n"
STYLE_SHEET_EDITED = b"body {\r\n  color: red;\r\n  background: white;\r\n}\r\n"
# A long style sheet: 40,000 rules, two "color" each.
RULES = "".join(f".rule{i} {{ color: #{i % 4096:03x}; border-color: #fff; }}\n" for i in range(40000))
# A style sheet with a picture written into it: one line of 200,000 characters without a space.
PICTURE = ".logo {\n  background: url(data:image/png;base64," + "iVBORw0KGgoAAAANSUhEUgAAAAEAAAAB" * 6250 + ");\n}\n"
# Where the sample's label "tip" lies on its page.
TIP_LABEL_AT = (30, 295)
# How long a person waits for a command to show its result before thinking the window hung.
PATIENCE = 3.0


def open_sample_with_style_sheet(desktop, style_sheet=STYLE_SHEET, others=None):
    """The tip calculator sample with a style sheet written on another system (style.css holds
    the bytes style_sheet) and the files of others ({name: bytes}) in its web folder, opened
    from the command line; returns its window and folder."""
    folder = os.path.join(desktop.home, "Documents", "Tips.krproj")
    shutil.copytree(os.path.join(desktop.options.source, "resources", "samples", "TipCalculator.krproj"), folder)
    for name, data in {"style.css": style_sheet, **(others or {})}.items():
        with open(os.path.join(folder, "kr-web", name), "wb") as out:
            out.write(data)
    desktop.launch(folder)
    window = kd.project_window(desktop, "Tips")
    desktop.activate_if_needed(window)
    return window, folder


def read(path):
    with open(path, "rb") as f:
        return f.read()


def selection(editor):
    """The (start, end) character offsets of the editor's selection, or None."""
    text = editor.acc.queryText()
    return tuple(text.getSelection(0)) if text.getNSelections() > 0 else None


def labelled_field(window, label_text):
    """The text field on the row of the find bar's label."""
    label = window.find("label", label_text)
    if not label:
        return None
    _, y, _, h = label.rect
    return label.parent().find("text", predicate=lambda n: abs(n.center[1] - (y + h // 2)) <= 4)


def fill_find_bar(desktop, window, find, replace):
    """Opens the find bar with Ctrl+F and types `find` and `replace` into its two fields."""
    desktop.input.key("ctrl+f")
    field = kd.wait_until(lambda: find_field(window), "the find bar's search field")
    kd.wait_until(lambda: field.has_state(kd.state("FOCUSED")), "the keyboard in the search field")
    desktop.input.key("ctrl+a")
    desktop.input.type(find)
    kd.wait_until(lambda: field.text() == find, f"{find!r} in the search field")
    replacement = kd.wait_until(lambda: labelled_field(window, "Replace:"), "the find bar's replace field")
    desktop.click(replacement)
    kd.wait_until(lambda: replacement.has_state(kd.state("FOCUSED")), "the keyboard in the replace field")
    desktop.input.key("ctrl+a")
    desktop.input.type(replace)
    kd.wait_until(lambda: replacement.text() == replace, f"{replace!r} in the replace field")


def find_field(window):
    """The search field of the find bar."""
    return labelled_field(window, "Find:")


def check_code(code, step):
    """The total line is commented out, the others are as typed, "price" typed over the second
    "amount"."""
    lines = [line.strip() for line in code.splitlines()]
    kd.check("var amount = 2;" in lines, f"{step}: the first line is not as typed:\n{code}")
    kd.check("return total;" in lines, f"{step}: the last line is not as typed:\n{code}")
    commented = [line for line in lines if "var total" in line]
    kd.check(len(commented) == 1 and commented[0].startswith("//")
             and commented[0][2:].strip() == "var total = price * 3;",
             f"{step}: the line found with F3 is not 'var total = price * 3;' commented out:\n{code}")


def walk_menus_with_the_keys(desktop, window, rights):
    """Alt, Right as often as rights (to the menu), Down (it opens), Down (its next item),
    Escape (back to its title), Escape (out of the bar), at a person's pace: the keyboard
    walks through the menus, and goes back where it was."""
    bar = desktop.wait_for(window, "menu bar", what="the menu bar")
    desktop.input.key("Alt_L")
    kd.wait_until(lambda: bar.has_state(kd.state("FOCUSED")), "the menu bar to take the keyboard")
    kd.press(desktop, *["Right"] * rights, "Down")
    kd.wait_until(lambda: bar.find("popup menu", into_menus=True), "the menu to open")
    kd.press(desktop, "Down", "Escape")
    kd.wait_until(lambda: not bar.find("popup menu", into_menus=True), "Escape to close the menu")
    desktop.input.key("Escape")
    kd.wait_until(lambda: not bar.has_state(kd.state("FOCUSED")), "Escape to leave the menu bar")


def enabled_after_opening(desktop, window, title, item):
    """Opens the menu with a click on its title, as a person does with the mouse; whether the
    item is enabled in it. The menu is closed again."""
    bar = desktop.wait_for(window, "menu bar", what="the menu bar")
    heading = kd.wait_until(lambda: next((n for n in bar.children() if n.name == title), None),
                            f"the title of the {title} menu")
    desktop.click(heading)
    menu = kd.wait_until(lambda: bar.find("popup menu", into_menus=True), f"the {title} menu to open")
    entry = kd.wait_until(lambda: menu.find("menu item", item), f"{item!r} in the {title} menu")
    # What the open menu shows, once it has settled.
    time.sleep(0.5)
    enabled = entry.has_state(kd.state("SENSITIVE"))
    desktop.screenshot(f"{title}-menu-opened-with-the-mouse")
    # Escape closes the menu and leaves its title highlighted; the second leaves the bar.
    desktop.input.key("Escape")
    kd.wait_until(lambda: not bar.find("popup menu", into_menus=True), f"the {title} menu to close")
    desktop.input.key("Escape")
    kd.wait_until(lambda: not bar.has_state(kd.state("FOCUSED")), "the keyboard to leave the menu bar")
    return enabled


def copy_offered_after_walking_the_menus(desktop, window):
    """With a label of the page selected, Edit walked with the keys and left: Edit opened with
    the mouse offers Copy for the label."""
    surface = kd.design_surface(desktop, window)
    kd.check_page_drawn(desktop, surface)
    kd.click_page(desktop, surface, *TIP_LABEL_AT)
    kd.wait_inspected(desktop, window, "tip", "a click on the label tip to select it")
    walk_menus_with_the_keys(desktop, window, 1)
    kd.check(enabled_after_opening(desktop, window, "Edit", "Copy"),
             "after a walk through Edit with the keys, Edit offers no Copy for the selected label")


def style_sheet_keeps_crlf(desktop, window, folder):
    path = os.path.join(folder, "kr-web", "style.css")
    outline = desktop.wait_for(window, "table cell", "style.css", "style.css in the project outline")
    desktop.input.double_click(*outline.center)
    editor = kd.code_editor(desktop, window, "color: red;")
    # The bar under the text tells the file's line endings, and what it tells.
    desktop.wait_for(window, "push button", "Line Endings: CRLF", "the line endings (CRLF) under the style sheet")
    kd.wait_until(lambda: editor.has_state(kd.state("FOCUSED")), "the style sheet's editor to have the keyboard")

    # A line after the colour: the new line takes the indentation of the one before.
    desktop.input.key("ctrl+Home")
    desktop.input.key("Down")
    desktop.input.key("End")
    desktop.input.key("Return")
    desktop.input.type("background: white;")
    kd.wait_until(lambda: "  color: red;\n  background: white;\n" in editor.text(), "the typed line in the style sheet")
    desktop.screenshot("style-sheet-edited")

    kd.save(desktop, window, folder)
    try:
        kd.wait_until(lambda: read(path) == STYLE_SHEET_EDITED, "the edited style sheet on disk")
    except kd.JourneyFailure:
        data = read(path)
        kd.check(data.count(b"\r\n") == data.count(b"\n") == data.count(b"\r"),
                 f"style.css does not end every line with CRLF: {data!r}")
        raise kd.JourneyFailure(f"style.css is {data!r}, expected {STYLE_SHEET_EDITED!r}")

    # The line endings are also a menu of the Text menu, offered when it is opened with the
    # mouse after a walk through it with the keys, and walked with the keys: Unix (LF), the
    # first of its styles, is what the bar then says, and what the file is saved with.
    kd.wait_until(lambda: editor.has_state(kd.state("FOCUSED")), "the keyboard back in the style sheet")
    walk_menus_with_the_keys(desktop, window, 2)
    kd.wait_until(lambda: editor.has_state(kd.state("FOCUSED")), "the keyboard back in the style sheet")
    kd.check(enabled_after_opening(desktop, window, "Text", "Line Endings"),
             "after a walk through Text with the keys, Text offers no Line Endings for the style sheet")
    desktop.menu(window, "Text", "Line Endings")
    kd.press(desktop, "Down", "Return")
    desktop.wait_for(window, "push button", "Line Endings: LF", "Text > Line Endings > Unix (LF) to change the bar")
    kd.save(desktop, window, folder)
    kd.wait_until(lambda: read(path) == STYLE_SHEET_EDITED.replace(b"\r\n", b"\n"), "style.css saved with LF")


def find_and_comment_in_a_function(desktop, window, folder):
    desktop.click(desktop.wait_for(window, "push button", "New Function"))
    editor = kd.code_editor(desktop, window, "function function1")
    kd.wait_until(lambda: "// Your code here" in editor.text(), "the new function's placeholder")
    kd.wait_until(lambda: editor.has_state(kd.state("FOCUSED")), "the code editor to have the keyboard")
    desktop.input.type("\n".join(LINES))
    kd.wait_until(lambda: all(line in editor.text() for line in LINES), "the typed code in the editor")

    # Ctrl+F opens the find bar with the keyboard in its field. Return finds the first "amount"
    # (the search goes on from the caret at the end and starts again at the top), F3 the next.
    desktop.input.key("ctrl+f")
    field = kd.wait_until(lambda: find_field(window), "the find bar's search field")
    kd.wait_until(lambda: field.has_state(kd.state("FOCUSED")), "the keyboard in the search field")
    desktop.input.type("amount")
    kd.wait_until(lambda: field.text() == "amount", "'amount' in the search field")
    text = editor.text()
    first = text.index("amount")
    second = text.index("amount", first + 1)
    desktop.input.key("Return")
    kd.wait_until(lambda: selection(editor) == (first, first + 6), "Return to select the first 'amount'")
    desktop.input.key("F3")
    kd.wait_until(lambda: selection(editor) == (second, second + 6), "F3 to select the next 'amount'")
    desktop.screenshot("found-next")
    # The bar's arrows do the same, found by what they say to a screen reader.
    desktop.click(desktop.wait_for(window, "push button", "Find Previous"))
    kd.wait_until(lambda: selection(editor) == (first, first + 6), "Find Previous to select the first 'amount'")
    desktop.click(desktop.wait_for(window, "push button", "Find Next"))
    kd.wait_until(lambda: selection(editor) == (second, second + 6), "Find Next to select the next 'amount'")
    desktop.wait_for(window, "push button", "Close Find Bar", "the find bar's close button")

    # Escape closes the bar and gives the keyboard back to the code, the match still selected.
    desktop.input.key("Escape")
    kd.wait_until(lambda: find_field(window) is None, "the find bar to close")
    kd.wait_until(lambda: editor.has_state(kd.state("FOCUSED")), "the keyboard back in the code")
    desktop.input.type("price")
    kd.wait_until(lambda: "var total = price * 3;" in editor.text(), "'price' typed over the found 'amount'")

    desktop.menu(window, "Text", "Comment or Uncomment")
    kd.wait_until(lambda: any(line.strip().startswith("//") and "var total" in line
                              for line in editor.text().splitlines()), "the found line commented out")
    check_code(editor.text(), "in the editor")
    desktop.screenshot("commented")

    function = kd.save(desktop, window, folder).object("function1")
    kd.check(function is not None and function.tag == "KRFunction", "no function function1 in project.xml")
    check_code(function.text or "", "in project.xml")


def replace_all_and_undo(desktop, window, folder):
    """Replace All changes every match in one step: one Ctrl+Z in the code brings back the whole
    text, Ctrl+Shift+Z the replacements, and the function is saved with them."""
    editor = kd.code_editor(desktop, window, "function function1")
    before = editor.text()
    kd.check(before.count("total") == 2, f"the function does not name 'total' twice:\n{before}")
    fill_find_bar(desktop, window, "total", "sum")
    desktop.click(desktop.wait_for(window, "push button", "Replace All"))
    replaced = before.replace("total", "sum")
    kd.wait_until(lambda: editor.text() == replaced, "every 'total' replaced with 'sum'")
    desktop.screenshot("replaced-all")

    desktop.input.key("Escape")
    kd.wait_until(lambda: find_field(window) is None, "the find bar to close")
    kd.wait_until(lambda: editor.has_state(kd.state("FOCUSED")), "the keyboard back in the code")
    desktop.input.key("ctrl+z")
    kd.wait_until(lambda: editor.text() == before, "one Ctrl+Z to bring back every 'total'")
    desktop.screenshot("replace-all-undone")
    desktop.input.key("ctrl+shift+z")
    kd.wait_until(lambda: editor.text() == replaced, "Ctrl+Shift+Z to replace them again")
    function = kd.save(desktop, window, folder).object("function1")
    kd.check(function is not None and "total" not in (function.text or "") and (function.text or "").count("sum") == 2,
             f"project.xml holds the function as {function.text if function is not None else None!r}")


def changed_rows(before, after):
    """How many pixel rows differ between two pictures of the same rectangle."""
    stride = before.width * 4
    a, b = before.bgrx, after.bgrx
    return sum(1 for row in range(min(before.height, after.height))
               if a[row * stride:(row + 1) * stride] != b[row * stride:(row + 1) * stride])


def shows_within_patience(desktop, editor, act, expected, what):
    """Runs act (a click or a key) and waits until the editor holds the expected text (which
    it tells only once the command is done) and most of the code in view has been drawn
    anew; fails when that takes longer than a person waits."""
    rect = editor.rect
    shots = [desktop.grab(rect)]

    def settled():
        time.sleep(0.2)
        shots.append(desktop.grab(rect))
        return changed_rows(shots[-2], shots[-1]) < rect[3] // 10

    kd.wait_until(settled, "the code in view to stay still")
    before = shots[-1]

    def shown():
        return editor.text() == expected and changed_rows(before, desktop.grab(rect)) > rect[3] // 3

    started = time.monotonic()
    act()
    elapsed = kd.wait_within_patience(shown, what, PATIENCE, started)
    kd.check(elapsed <= PATIENCE, f"{what} took {elapsed:.1f} s, longer than {PATIENCE:.0f} s")
    desktop.log(f"{what}: {elapsed:.2f} s")


def replace_all_in_a_long_style_sheet(desktop, window, folder):
    """Replace All of 80,000 matches, its undo and its redo each show their result within a
    person's patience, and the saved file holds the replacements."""
    path = os.path.join(folder, "kr-web", "rules.css")
    outline = desktop.wait_for(window, "table cell", "rules.css", "rules.css in the project outline")
    desktop.input.double_click(*outline.center)
    editor = kd.code_editor(desktop, window, ".rule0 { color: #000; border-color: #fff; }")
    kd.wait_until(lambda: editor.has_state(kd.state("FOCUSED")), "the keyboard in the long style sheet")
    fill_find_bar(desktop, window, "color", "background")
    replace_all = desktop.wait_for(window, "push button", "Replace All")
    replaced = RULES.replace("color", "background")

    shows_within_patience(desktop, editor, lambda: desktop.click(replace_all), replaced,
                          "Replace All of 80,000 'color' shown")
    desktop.screenshot("long-replaced-all")

    desktop.input.key("Escape")
    kd.wait_until(lambda: find_field(window) is None, "the find bar to close")
    kd.wait_until(lambda: editor.has_state(kd.state("FOCUSED")), "the keyboard back in the long style sheet")
    shows_within_patience(desktop, editor, lambda: desktop.input.key("ctrl+z"), RULES,
                          "one Ctrl+Z bringing back every 'color' shown")
    desktop.screenshot("long-replace-all-undone")
    shows_within_patience(desktop, editor, lambda: desktop.input.key("ctrl+shift+z"), replaced,
                          "Ctrl+Shift+Z replacing them again shown")
    desktop.screenshot("long-replace-all-redone")

    kd.save(desktop, window, folder)
    kd.wait_until(lambda: read(path) == replaced.encode("utf-8"), "rules.css saved with the replacements")


def typing_on_a_line_without_spaces(desktop, window, folder):
    """A word typed at a person's pace into a line of 200,000 characters without a space keeps
    up with the keys: it is in place and on screen within a person's patience after the last
    key, and the file is saved with it."""
    path = os.path.join(folder, "kr-web", "picture.css")
    outline = desktop.wait_for(window, "table cell", "picture.css", "picture.css in the project outline")
    desktop.input.double_click(*outline.center)
    editor = kd.code_editor(desktop, window, ".logo {")
    kd.wait_until(lambda: editor.has_state(kd.state("FOCUSED")), "the keyboard in the style sheet with the picture")
    desktop.click(editor)  # into the long line, which fills the view
    text = editor.acc.queryText()
    kd.wait_until(lambda: PICTURE.index("base64,") + 7 < text.caretOffset < len(PICTURE) - 10,
                  "the caret in the line of the picture")
    caret = text.caretOffset
    rect = editor.rect
    before = desktop.grab(rect)
    word = "abcdefghij"
    expected = PICTURE[:caret] + word + PICTURE[caret:]
    desktop.input.type(word)
    started = time.monotonic()

    def shown():
        return editor.text() == expected and changed_rows(before, desktop.grab(rect)) > 0

    elapsed = kd.wait_within_patience(shown, "the word typed into the long line, from its last key", PATIENCE, started)
    desktop.log(f"word typed into the long line shown {elapsed:.2f} s after its last key")
    desktop.screenshot("typed-into-long-line")
    kd.save(desktop, window, folder)
    kd.wait_until(lambda: read(path) == expected.encode("utf-8"), "picture.css saved with the word")


def code_editors(desktop):
    others = {"rules.css": RULES.encode("utf-8"), "picture.css": PICTURE.encode("utf-8")}
    window, folder = open_sample_with_style_sheet(desktop, others=others)
    copy_offered_after_walking_the_menus(desktop, window)
    style_sheet_keeps_crlf(desktop, window, folder)
    find_and_comment_in_a_function(desktop, window, folder)
    replace_all_and_undo(desktop, window, folder)
    replace_all_in_a_long_style_sheet(desktop, window, folder)
    typing_on_a_line_without_spaces(desktop, window, folder)


if __name__ == "__main__":
    sys.exit(kd.run([code_editors]))
