#!/usr/bin/env python3
"""The inspector: the text, colour and font of a jQuery Mobile button, set in its rows, show on
the design surface and are saved; a row's help opens beside it, and the colour panel beside the
button being coloured, leaving it in view. An id that, as the button's field name, is that of a
member of the page's form that jQuery relies on is said to be so when typed, and by the build."""

import sys

import krdesktop as kd

# High on the page, where a colour panel over the window's right edge would cover it.
BUTTON_AT = (100, 40)
CRIMSON = (0xDC, 0x14, 0x3C)


def crimson_like(colour):
    r, g, b = colour
    return r > 150 and g < 90 and b < 110 and r - g > 90


def dark(colour):
    return sum(colour) / 3 < 140


def button_face(surface):
    """The button's drawn box on the page, inside its border."""
    box = kd.box_at(surface, *BUTTON_AT)
    kd.check(box is not None, f"no button drawn at {BUTTON_AT}")
    x, y, w, h = box.rect
    return (x + 5, y + 5, w - 10, h - 10)


def button_box(surface):
    """The screen rectangle of the selected button with its selection box around it."""
    x, y, w, h = kd.box_at(surface, *BUTTON_AT).rect
    return (x - 4, y - 4, w + 8, h + 8)


def overlap(a, b):
    ax, ay, aw, ah = a
    bx, by, bw, bh = b
    return ax < bx + bw and bx < ax + aw and ay < by + bh and by < ay + ah


def text_ink(desktop, surface):
    """The bounding box of the button's text: its pixels that are dark or crimson."""
    face = button_face(surface)
    image = desktop.grab(face)
    xs, ys = [], []
    for py in range(face[1], face[1] + face[3]):
        for px in range(face[0], face[0] + face[2]):
            c = image.pixel(px, py)
            if dark(c) or crimson_like(c):
                xs.append(px)
                ys.append(py)
    kd.check(xs, "the button shows no text")
    return (min(xs), min(ys), max(xs) - min(xs) + 1, max(ys) - min(ys) + 1)


def face_pixels(desktop, surface):
    face = button_face(surface)
    image = desktop.grab(face)
    return list(image.pixels(*face))


def changed_pixels(before, after):
    return sum(1 for a, b in zip(before, after) if not kd.near(a, b, 24))


def open_row_help(desktop, window, name):
    """Opens a row's help from the button that shows while the pointer is over the row's label;
    returns the pop-over's X window and its rectangle on the screen."""
    row = kd.inspector_row(desktop, window, name)
    x, y, w, h = row.rect
    desktop.input.glide(x + 60, y + h // 2)
    pane = kd.inspector(window)

    def button():
        return pane.find("push button", predicate=lambda n: n.rect[2] <= 24 and x <= n.rect[0] < x + 30
                         and y <= n.center[1] < y + h)
    before = desktop.override_windows()
    desktop.click(kd.wait_until(button, f"the help button of {name!r}"))
    shown = kd.wait_until(lambda: desktop.override_windows() - before, f"the help of {name!r}")
    popover = desktop.display.create_resource_object("window", next(iter(shown)))
    size = popover.get_geometry()
    at = popover.translate_coords(desktop.display.screen().root, 0, 0)  # the screen's corner in it
    return popover, (-at.x, -at.y, size.width, size.height)


def help_beside_its_row(desktop, window):
    """The help opens to the left of the inspector, pointing at its row with an arrow. Where the
    window manager blends no windows (as here), a window's transparent pixels show black: the
    pop-over is cut to its outline, so that the inspector shows beside the arrow."""
    popover, (x, y, w, h) = open_row_help(desktop, window, "value")
    arrow_length = 9
    body = (x + w // 2, y + h - 4)  # between the help's text and its outline
    kd.wait_until(lambda: sum(desktop.grab((*body, 1, 1)).pixel(*body)) / 3 > 200, "the help's body drawn")
    text = (x + 20, y + 20, w - 40, 40)
    kd.wait_until(lambda: kd.grab_count(desktop, text, lambda c: sum(c) / 3 < 100) >= 20, "the help's text")
    desktop.screenshot("row-help")
    image = desktop.grab((x, y, w, h))
    for corner in ((x + w - 2, y + 1), (x + w - 2, y + h - 2), (x + w - arrow_length + 1, y)):
        colour = image.pixel(*corner)
        kd.check(max(colour) > 60, f"beside the help's arrow the screen shows {colour} at {corner}, "
                 "not what lies below")
    desktop.input.key("Escape")
    kd.wait_until(lambda: popover.id not in desktop.override_windows(), "the help to close")


def button_text_colour_and_font(desktop):
    desktop.launch()
    untitled = kd.project_window(desktop, "Untitled")
    kd.close_gallery(desktop)
    window, folder = kd.new_project(desktop, untitled, "Styles")
    surface = kd.design_surface(desktop, window)
    kd.check_page_drawn(desktop, surface)
    kd.drag_from_palette(desktop, window, surface, "JQMButton", *BUTTON_AT)
    kd.wait_inspected(desktop, window, "button1")
    kd.wait_until(lambda: kd.element_with_text(surface, "button1"), "button1 on the surface")
    kd.wait_until(lambda: kd.box_at(surface, *BUTTON_AT), f"the button drawn at {BUTTON_AT}")
    plain = face_pixels(desktop, surface)
    desktop.screenshot("button-dropped")

    # Text: the value row.
    kd.set_inspector_text(desktop, window, "value", "Pay now")
    kd.wait_until(lambda: kd.element_with_text(surface, "Pay now"), "'Pay now' on the button")
    kd.wait_until(lambda: changed_pixels(plain, face_pixels(desktop, surface)) >= 40,
                  "the new text drawn on the button")
    desktop.screenshot("text-set")
    help_beside_its_row(desktop, window)

    # Colour: the colour row leaves its default, its well opens the colour panel.
    row = kd.inspector_row(desktop, window, "color")
    desktop.click(desktop.wait_for(row, "check box", "Default"))
    well = kd.wait_until(lambda: kd.inspector_row(desktop, window, "color").find(
        "push button", predicate=lambda n: n.rect[2] > 30), "the colour well")
    selected = button_box(surface)
    desktop.click(well)
    panel = desktop.window("Colors")
    # On the screen, beside the button being coloured, which stays in view (the window fills the
    # screen: over the window's right edge the panel covered it).
    (px, py, pw, ph), _ = desktop.frame(panel)
    (wx, wy, ww, wh), _ = desktop.frame(window)
    desktop.log(f"the colour panel at {(px, py, pw, ph)}, its window at {(wx, wy, ww, wh)}, "
                f"the selected button at {selected}")
    # (The window manager's frame may reach a few pixels past the screen's edge.)
    kd.check(px >= -4 and py >= -4 and px + pw <= kd.SCREEN_WIDTH + 4 and py + ph <= kd.SCREEN_HEIGHT + 4,
             f"the colour panel opens at {(px, py, pw, ph)}, off the screen")
    kd.check(not overlap((px, py, pw, ph), selected),
             f"the colour panel at {(px, py, pw, ph)} covers the selected button at {selected}")
    desktop.click(kd.wait_until(lambda: panel.find("list item", "crimson"), "crimson in the HTML colours"))
    desktop.screenshot("colour-panel")
    desktop.activate_if_needed(panel)
    desktop.input.key("alt+F4")
    kd.wait_until(lambda: not any(w.name == "Colors" for w in desktop.windows()), "the colour panel to close")
    kd.wait_until(lambda: kd.grab_count(desktop, button_face(surface), crimson_like) >= 20,
                  "crimson text on the button")
    desktop.screenshot("colour-set")

    # Font: a larger size draws taller text, another family draws other shapes.
    before_size = text_ink(desktop, surface)
    kd.set_inspector_text(desktop, window, "fontSize", "24")
    kd.wait_until(lambda: text_ink(desktop, surface)[3] >= before_size[3] * 1.3,
                  "the 24-pixel text drawn taller on the button")
    desktop.screenshot("font-size-set")
    before_family = face_pixels(desktop, surface)
    combo = kd.inspector_field(desktop, window, "fontFamily")
    kd.choose_in_combo(desktop, combo, "Courier New")
    kd.wait_until(lambda: changed_pixels(before_family, face_pixels(desktop, surface)) >= 40,
                  "the button's text drawn in Courier New")
    desktop.screenshot("font-family-set")

    saved = kd.save(desktop, window, folder).object("button1")
    kd.check(saved is not None, "button1 is missing from the saved project")
    for key, want in (("value", "Pay now"), ("color", "#dc143c"), ("fontSize", "24")):
        got = (saved.get(key) or "")
        kd.check(got.lower() == want.lower(), f"project.xml has {key}={got!r}, expected {want!r}")
    # The family is kept as the font list the row offers for it.
    family = saved.get("fontFamily") or ""
    kd.check("courier new" in family.lower(), f"project.xml has fontFamily={family!r}, not Courier New")

    # "parentNode" as the id names the button's field like a member of its form that jQuery
    # relies on: said when typed, kept, and named with its page by the build. An ordinary
    # member's name ("submit") stands as written, with no word.
    kd.set_inspector_text(desktop, window, "id", "parentNode")
    alert = kd.wait_until(lambda: kd.alert_saying(desktop, "\u201CparentNode\u201D is that of a member of the page"),
                          "the warning about the field name parentNode")
    desktop.screenshot("field-name-of-a-form-property")
    desktop.click(desktop.wait_for(alert, "push button", "OK", "the warning's OK button"))
    kd.wait_until(lambda: not kd.alert_saying(desktop, "is that of a member of the page"), "the warning to close")
    kd.check(kd.inspector_value(desktop, window, "id") == "parentNode", "the id parentNode was not kept")
    kd.wait_until(lambda: kd.element_with_text(surface, "Pay now"), "the button renamed parentNode on the surface")
    desktop.screenshot("field-name-kept")
    status = kd.build(desktop, window)
    kd.check("\u201CparentNode\u201D" in status and "\u201Cpage1\u201D" in status,
             f"the build does not name parentNode and its page: {status!r}")

if __name__ == "__main__":
    sys.exit(kd.run([button_text_colour_and_font]))
