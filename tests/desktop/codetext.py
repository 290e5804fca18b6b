#!/usr/bin/env python3
"""Text in the code editors, character by character: a style sheet whose lines end in different
ways says so under the text, a selection shifted right and left stays on the same words, an emoji
with a skin tone goes whole with one Backspace and one Delete, and the saved file is UTF-8 with
each untouched line's own ending; in a new function an emoji line is transposed and trimmed the
same way, a syntax error found by Build loses its red line and its outline entry as soon as it is
mended, and project.xml holds the emoji as typed."""

import os
import sys
import time

import krdesktop as kd
from editors import open_sample_with_style_sheet, read, selection

GRIN, THUMB, TONE = "\U0001F600", "\U0001F44D", "\U0001F3FD"
# A style sheet written on two systems: most lines end with CR LF, the colour line with LF.
STYLE_SHEET = b"body {\r\n  color: red;\n}\r\n"
# The comment typed after "body {": one grinning face and two thumbs with a skin tone; the last
# thumb goes with Backspace, the one before it with Delete.
COMMENT_TYPED = f" /* {GRIN}{THUMB}{TONE}{THUMB}{TONE} */"
COMMENT_KEPT = f" /* {GRIN} */"
# The colour line keeps its LF; the new margin line ends as most lines do, with CR LF.
STYLE_SHEET_SAVED = ("body {" + COMMENT_KEPT + "\r\n  color: red;\n  margin: 0;\r\n}\r\n").encode("utf-8")

BROKEN = "var total = (1 + 2;"
MENDED = "var total = (1 + 2);"
BROKEN_LINE = 4
FACE_TYPED = f'var face = "{GRIN}{GRIN}{THUMB}{TONE}x";'
FACE_KEPT = f'var face = "{GRIN}x";'


def map_characters(desktop, characters):
    """Gives each character a key of its own on the X keyboard (keys no symbol is on), before
    the application starts and reads the keyboard; returns {character: keycode}."""
    display = desktop.display
    first = display.display.info.min_keycode
    count = display.display.info.max_keycode - first + 1
    mapping = display.get_keyboard_mapping(first, count)
    free = [first + i for i, symbols in enumerate(mapping) if not any(symbols)]
    kd.check(len(free) >= len(characters), "the X keyboard has no free keys for the emoji")
    keys = {}
    for character, code in zip(characters, reversed(free)):
        keysym = 0x01000000 | ord(character)
        display.change_keyboard_mapping(code, [(keysym,) * len(mapping[code - first])])
        keys[character] = code
    display.sync()
    return keys


def type_text(desktop, keys, text):
    """Types text at a person's pace, the emoji on the keys map_characters gave them."""
    for character in text:
        if character in keys:
            desktop.input._key_event(keys[character], True)
            time.sleep(desktop.input.press_time())
            desktop.input._key_event(keys[character], False)
            time.sleep(0.03)
        else:
            desktop.input.type(character)


def style_sheet(desktop, keys, window, folder):
    path = os.path.join(folder, "kr-web", "style.css")
    outline = desktop.wait_for(window, "table cell", "style.css", "style.css in the project outline")
    desktop.input.double_click(*outline.center)
    editor = kd.code_editor(desktop, window, "color: red;")
    kd.wait_until(lambda: editor.has_state(kd.state("FOCUSED")), "the style sheet's editor to have the keyboard")
    # The bar under the text tells that the lines end in different ways.
    desktop.wait_for(window, "push button", "Line Endings: Mixed line endings",
                     "'Mixed line endings' under the style sheet")
    desktop.screenshot("mixed-line-endings")

    # "color: red;" selected, then shifted right (a tab before the line) and back: the selection
    # stays on the same words.
    kd.press(desktop, "ctrl+Home", "Down", "Home", "Right", "Right", "shift+End")
    start = editor.text().index("color")
    words = (start, start + len("color: red;"))
    kd.wait_until(lambda: selection(editor) == words, "'color: red;' selected")
    desktop.input.key("ctrl+bracketright")
    kd.wait_until(lambda: "\n\t  color: red;\n" in editor.text(), "Shift Right to put a tab before the colour line")
    kd.wait_until(lambda: selection(editor) == (words[0] + 1, words[1] + 1),
                  "the selection to stay on 'color: red;' after Shift Right",
                  timeout=5)
    desktop.screenshot("shifted-right")
    desktop.input.key("ctrl+bracketleft")
    kd.wait_until(lambda: "\n  color: red;\n" in editor.text(), "Shift Left to take the tab away")
    kd.wait_until(lambda: selection(editor) == words, "the selection to stay on 'color: red;' after Shift Left",
                  timeout=5)

    # The comment after "body {"; Backspace takes the last thumb with its skin tone, and Delete,
    # with the caret moved before the other thumb, takes that one.
    kd.press(desktop, "ctrl+Home", "End")
    type_text(desktop, keys, COMMENT_TYPED)
    kd.wait_until(lambda: editor.text().startswith("body {" + COMMENT_TYPED + "\n"), "the typed comment")
    kd.press(desktop, "Left", "Left", "Left", "BackSpace", "Left", "Delete")
    # A new line after the colour line.
    kd.press(desktop, "Down", "End", "Return")
    desktop.input.type("margin: 0;")
    expected = STYLE_SHEET_SAVED.decode("utf-8").replace("\r\n", "\n")
    kd.wait_until(lambda: editor.text() == expected,
                  "the comment to keep only the grinning face, whole, and the margin line to follow the colour")
    desktop.screenshot("style-sheet-edited")

    kd.save(desktop, window, folder)
    try:
        kd.wait_until(lambda: read(path) == STYLE_SHEET_SAVED, "the edited style sheet on disk", timeout=10)
    except kd.JourneyFailure:
        raise kd.JourneyFailure(f"style.css is {read(path)!r}, expected {STYLE_SHEET_SAVED!r}")
    desktop.wait_for(window, "push button", "Line Endings: Mixed line endings", "'Mixed line endings' after the save")


def red_row(desktop, editor):
    """The longest run of the editor's rows in the colour of a line the syntax check marked: a
    marked line is red across its text, where a red glyph (the emoji in a string) is a few
    pixels wide."""
    left, top, width, height = editor.rect
    image = desktop.grab(editor.rect)
    def red(p):
        return p[0] >= 245 and 185 <= p[1] <= 220 and abs(p[1] - p[2]) <= 6
    return max(image.count((left, y, width, 1), red) for y in range(top, top + height, 2))


def lines(editor):
    return [line.strip() for line in editor.text().splitlines()]


def caret_line(editor):
    text = editor.acc.queryText()
    return text.getText(0, text.caretOffset).count("\n") + 1


def function_mended(desktop, keys, window, folder):
    desktop.click(desktop.wait_for(window, "push button", "New Function"))
    editor = kd.code_editor(desktop, window, "function function1")
    kd.wait_until(lambda: "// Your code here" in editor.text(), "the new function's placeholder")
    kd.wait_until(lambda: editor.has_state(kd.state("FOCUSED")), "the code editor to have the keyboard")
    desktop.input.type(BROKEN + "\n")
    type_text(desktop, keys, FACE_TYPED)
    kd.wait_until(lambda: FACE_TYPED in editor.text(), "the face line typed")
    # Ctrl+T swaps the thumb and the x, Backspace takes the thumb whole, Delete the second face.
    kd.press(desktop, "Left", "Left", "Left", "ctrl+t")
    kd.wait_until(lambda: f'"{GRIN}{GRIN}x{THUMB}{TONE}"' in editor.text(), "Ctrl+T to swap the thumb and the x")
    kd.press(desktop, "BackSpace", "Left", "Left", "Delete")
    kd.wait_until(lambda: FACE_KEPT in lines(editor), "the face line to keep one whole face and the x")
    desktop.screenshot("face-line")

    # Build finds the error and marks its line.
    desktop.click(desktop.wait_for(window, "push button", "Build"))
    desktop.wait_for(window, "table cell", "JavaScript Syntax Errors", "the syntax errors in the outline", timeout=60)
    kd.wait_until(lambda: red_row(desktop, editor) > 100, "the error's line marked red")
    kd.wait_until(lambda: caret_line(editor) == BROKEN_LINE, f"the insertion point on line {BROKEN_LINE}")
    desktop.screenshot("error-marked")

    # The closing parenthesis typed before the semicolon mends it: a moment later the mark and the
    # outline's entry are gone, without another build.
    if not editor.has_state(kd.state("FOCUSED")):
        desktop.click(editor)
        desktop.input.key("ctrl+Home")
    kd.wait_until(lambda: editor.has_state(kd.state("FOCUSED")), "the code editor to have the keyboard again")
    kd.press(desktop, "End", "Left")
    desktop.input.type(")")
    kd.wait_until(lambda: lines(editor)[BROKEN_LINE - 1] == MENDED, "the mended line")
    kd.wait_until(lambda: window.find("table cell", "JavaScript Syntax Errors") is None,
                  "the syntax errors to leave the outline once the error is mended", timeout=15)
    kd.wait_until(lambda: red_row(desktop, editor) < 30, "the red line to go once the error is mended")
    desktop.screenshot("error-mended")

    function = kd.save(desktop, window, folder).object("function1")
    kd.check(function is not None and function.tag == "KRFunction", "no function function1 in project.xml")
    code = function.text or ""
    kd.check(FACE_KEPT in code and MENDED in code, f"function1 is not saved as typed: {code!r}")
    kd.check("?" not in code, f"function1 was saved with a '?' in it: {code!r}")


def code_text(desktop):
    keys = map_characters(desktop, [GRIN, THUMB, TONE])
    window, folder = open_sample_with_style_sheet(desktop, STYLE_SHEET)
    style_sheet(desktop, keys, window, folder)
    function_mended(desktop, keys, window, folder)


if __name__ == "__main__":
    sys.exit(kd.run([code_text]))
