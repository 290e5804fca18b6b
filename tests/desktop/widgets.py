#!/usr/bin/env python3
"""The design surface draws each jQuery Mobile widget as the built page does, after its
properties change: a filtering list keeps its filter field above its items when it is rebuilt;
a button sized 190x90 is drawn 190x90, so that where a click selects it the button is what
shows; a text area copied and pasted, then shown on another device, is as tall as the one it was
copied from and stays above the switch below it. The project comes from a file, opened from the
command line."""

import os
import shutil
import sys

import krdesktop as kd


def switches(surface):
    """The flip switches the page shows: each has one handle, a slider to assistive tools."""
    return surface.find_all("slider")


LIST_AT = (0, 10)
UNDER_AT = (10, 160)    # a red label, below the button in a built page's order
BUTTON_AT = (10, 170)   # sized 190x90
AREA_AT = (10, 280)
TOGGLE_TOP = 352
RED = (255, 0, 0)

WIDGETS = """<?xml version="1.0" encoding="UTF-8"?>
<KRProjectDocument appVersion="0.1.0">
  <KRProject JQMVersion="1.4" designTarget="iPhone" startPage="page1" showGrid="false" snapGrid="0"/>
  <KRPages>
    <KRPage id="page1" title="Widgets">
      <KRContents>
        <JQMListView id="fruit" top="{list[1]}" left="{list[0]}" width="100%" height="140" filter="true">[{{"label":"Apple"}},{{"label":"Pear"}}]</JQMListView>
        <KRLabel id="under" top="{under[1]}" left="{under[0]}" width="190" height="80" backgroundColor="#ff0000">Under</KRLabel>
        <JQMButton id="big" top="{button[1]}" left="{button[0]}" width="190" height="90" value="Big"/>
        <JQMTextArea id="notes" top="{area[1]}" left="{area[0]}" width="200" height="32" value="Some words"/>
        <JQMSlideToggle id="lights" top="{toggle}" left="10">Off
On</JQMSlideToggle>
      </KRContents>
    </KRPage>
  </KRPages>
</KRProjectDocument>
""".format(list=LIST_AT, under=UNDER_AT, button=BUTTON_AT, area=AREA_AT, toggle=TOGGLE_TOP)


def search_fields(surface, list_rect):
    """The text fields drawn inside the list's box (its filter field)."""
    x, y, w, h = list_rect
    return surface.find_all(predicate=lambda n: n.role in ("entry", "text") and x <= n.rect[0] < x + w
                            and y <= n.rect[1] < y + h and n.rect[3] > 10)


def text_areas(surface):
    return sorted(surface.find_all(predicate=lambda n: n.role in ("entry", "text") and n.rect[1] >= surface.rect[1] + AREA_AT[1]
                                   and n.rect[3] > 20), key=lambda n: n.rect[1])


def widgets_are_drawn_as_built(desktop):
    folder = os.path.join(desktop.home, "Documents", "Widgets.krproj")
    shutil.copytree(os.path.join(desktop.options.source, "resources", "samples", "TipCalculator.krproj"), folder)
    with open(os.path.join(folder, "project.xml"), "w", encoding="utf-8") as out:
        out.write(WIDGETS)
    desktop.launch(folder)
    window = kd.project_window(desktop, "Widgets")
    desktop.activate_if_needed(window)
    surface = kd.design_surface(desktop, window)
    kd.wait_until(lambda: kd.element_with_text(surface, "Apple"), "the list's items on the surface")
    kd.check_page_drawn(desktop, surface)
    list_box = kd.wait_until(lambda: kd.box_at(surface, *LIST_AT), "the list's box")
    kd.wait_until(lambda: search_fields(surface, list_box.rect), "the list's filter field when the page opens")
    desktop.screenshot("widgets-opened")

    # Where the button's box lies over the red label, the button is drawn; a click there
    # selects the button, which is what shows there.
    at = (BUTTON_AT[0] + 90, UNDER_AT[1] + 72)
    x, y = kd.page_point(surface, *at)
    shown = desktop.grab((x, y, 1, 1)).pixel(x, y)
    kd.click_page(desktop, surface, *at)
    kd.wait_inspected(desktop, window, "big", "a click inside the button's box to select the button")
    desktop.screenshot("button-clicked")
    kd.check(not kd.near(shown, RED, 40), f"a click at {at} selects the button, but the screen shows the red label there "
             f"({shown}): the button is drawn smaller than the box that takes its clicks")

    # The list rebuilt (a new placeholder): the field is still there, above the items.
    kd.click_page(desktop, surface, 60, LIST_AT[1] + 70)
    kd.wait_inspected(desktop, window, "fruit", "a click on the list to select it")
    kd.set_inspector_text(desktop, window, "filterPlaceholder", "Find fruit")
    fields = kd.wait_until(lambda: search_fields(surface, list_box.rect), "the list's filter field after a rebuild")
    apple = kd.wait_until(lambda: kd.element_with_text(surface, "Apple"), "the list's items after a rebuild")
    desktop.screenshot("list-rebuilt")
    kd.check(len(fields) == 1, f"{len(fields)} filter fields are drawn in the list, expected one")
    kd.check(apple.rect[1] >= fields[0].rect[1] + fields[0].rect[3],
             f"the first item at {apple.rect} is not below the filter field at {fields[0].rect}")

    # The text area copied and pasted, then another device: the copy is drawn as tall as the
    # original (as a built page draws both), above the switch.
    kd.click_page(desktop, surface, AREA_AT[0] + 100, AREA_AT[1] + 30)
    kd.wait_inspected(desktop, window, "notes", "a click on the text area to select it")
    desktop.input.key("ctrl+c")
    desktop.input.key("ctrl+v")
    kd.wait_inspected(desktop, window, "textarea1", "the pasted text area to be selected")
    kd.choose_in_combo(desktop, desktop.wait_for(window, "combo box", "iPhone", "the design view's device pop-up"),
                       "iPhone 6")
    surface = kd.design_surface(desktop, window)
    kd.wait_until(lambda: len(text_areas(surface)) == 2, "the text area and its copy on the surface")
    switch = kd.wait_until(lambda: switches(surface), "the switch below the text areas")[0]

    def same_height():
        areas = text_areas(surface)
        return len(areas) == 2 and areas[0].rect[3] == areas[1].rect[3]
    try:
        kd.wait_until(same_height, "the pasted text area to be as tall as the original", timeout=10)
    finally:
        desktop.screenshot("area-pasted-other-device")
    areas = text_areas(surface)
    bottom = max(a.rect[1] + a.rect[3] for a in areas)
    kd.check(bottom <= switch.rect[1], f"the text areas reach down to {bottom}, over the switch at {switch.rect}")



if __name__ == "__main__":
    sys.exit(kd.run([widgets_are_drawn_as_built]))
