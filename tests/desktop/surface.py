#!/usr/bin/env python3
"""The design surface and what it holds: a div with a label inside it copied and pasted, then
cut and pasted, with Ctrl+C, Ctrl+X and Ctrl+V, the saved file holding every copy whole and no
id twice; a click on the nested label selects the label, not its div; a list view dropped at a
place stays there, and a click on the label it overlaps, which a built page draws above it,
reaches the label. The nested label's context menu is its own: its Delete leaves the div. After a
click on the grid beside the phone Ctrl+V pastes, and after a choice in the inspector's list of
the page's objects Delete deletes; Down on that list, closed, selects the next object each time
and moves none.
The div and its label come from a project file (the palette drops controls on the page itself,
never into a div), opened from the command line.

On a page of 600 labels, in a second project handed to the running application, Select All,
Delete, Undo and Redo each show within a person's patience, and the saved file holds every
label, in its order, or none, after each.

A third project, whose div holds 2.2 MB of HTML nested as deep as the page reader keeps it
(200,000 divs), is drawn or its loading picture says what takes the time within a person's
patience; it is then drawn, and a click on one of its labels selects it. How soon it is drawn
is speed, measured in bench_designsurface (BM_DeepContentPageShown), not here.
"""

import os
import re
import shutil
import sys
import time

import krdesktop as kd

# The div "box" (whose id sorts before its label's) holds the label "inner"; "target" lies
# where the list view will be dropped.
BOX_AT = (20, 40)
INNER_IN_BOX = (30, 30)
TARGET_AT = (40, 330)
LIST_AT = (10, 300)
EMPTY_AT = (200, 220)
# A control's context menu, from the top.
CONTEXT_MENU = ["Cut", "Copy", "Delete"]

PROJECT = """<?xml version="1.0" encoding="UTF-8"?>
<KRProjectDocument appVersion="0.1.0">
  <KRProject JQMVersion="1.4" designTarget="iPhone" startPage="page1" showGrid="false" snapGrid="0"/>
  <KRPages>
    <KRPage id="page1" title="Surface">
      <KRContents>
        <KRDiv id="box" top="{box[1]}" left="{box[0]}" width="220" height="100" backgroundColor="#f0d060">
          <KRContents>
            <KRLabel id="inner" top="{inner[1]}" left="{inner[0]}" width="120" height="30">Inner</KRLabel>
          </KRContents>
        </KRDiv>
        <KRLabel id="target" top="{target[1]}" left="{target[0]}" width="160" height="40">Target</KRLabel>
      </KRContents>
    </KRPage>
  </KRPages>
</KRProjectDocument>
""".format(box=BOX_AT, inner=INNER_IN_BOX, target=TARGET_AT)


# A page of many labels, four to a row.
MANY = 600


def page_of_labels(prefix, count, after=""):
    """PROJECT with its page holding count labels named prefix0, prefix1, … four to a row, then
    after."""
    labels = "".join(
        f'        <KRLabel id="{prefix.lower()}{i}" top="{20 + (i // 4) * 24}" left="{10 + (i % 4) * 75}" width="70" '
        f'height="20">{prefix}{i}</KRLabel>\n' for i in range(count))
    return (PROJECT.split("<KRContents>")[0] + "<KRContents>\n" + labels + after
            + "      </KRContents>\n    </KRPage>\n  </KRPages>\n</KRProjectDocument>\n")


MANY_PROJECT = page_of_labels("L", MANY)
# How long a person waits for a command to show its result before thinking the window hung.
PATIENCE = 5.0

# Labels above a div of deeply nested HTML: every "<div>" left open, so that the page reader
# nests them to its deepest level and puts the rest side by side there.
DEEP_DIVS = 200000
DEEP_PROJECT = page_of_labels("D", 40, '        <KRDiv id="deep" top="280" left="10" width="300" height="100">'
                              + "&lt;div&gt;" * DEEP_DIVS + "</KRDiv>\n")
# The engine lays out and jQuery Mobile enhances so many elements in several seconds, on the
# surface as in a browser, and in many more on a busy machine: until then the loading picture
# says what takes the time. Past this the page is not coming at all.
DEEP_HANG = 180
TAKES_TIME = re.compile(r"^The page is still being drawn: it holds \S+ elements, \S+ of them in \u201Cdeep\u201D")


def open_project(desktop, name="Surface", text=PROJECT):
    """A project of the given project.xml, opened from the command line (handed to the running
    application when there is one)."""
    folder = os.path.join(desktop.home, "Documents", name + ".krproj")
    shutil.copytree(os.path.join(desktop.options.source, "resources", "samples", "TipCalculator.krproj"), folder)
    with open(os.path.join(folder, "project.xml"), "w", encoding="utf-8") as out:
        out.write(text)
    if desktop.app_running():
        kd.check(desktop.start_again(folder) == 0, f"{name} was not handed to the running application")
    else:
        desktop.launch(folder)
    window = kd.project_window(desktop, name)
    desktop.activate_if_needed(window)
    return window, folder


def texts(surface, text):
    return surface.find_all(predicate=lambda n: n.name == text and n.role in ("label", "static", "section",
                                                                             "paragraph"))


def wait_texts(surface, text, count):
    kd.wait_until(lambda: len(texts(surface, text)) == count, f"{count} × {text!r} on the design surface")


def nested(project):
    """div id -> ids of the objects in its KRContents, for every div of the saved file."""
    return {div.get("id"): [e.get("id") for e in (div.find("KRContents") if div.find("KRContents") is not None else [])]
            for div in project.root.iter("KRDiv")}


def check_file(desktop, window, folder, step, expected):
    """Saves, and checks that no id is there twice and that the divs hold what is expected
    (div id -> number of nested objects, or None for a div that must be gone)."""
    project = kd.save(desktop, window, folder)
    ids = [e.get("id") for e in project.root.iter() if e.get("id") is not None]
    twice = sorted({i for i in ids if ids.count(i) > 1})
    kd.check(not twice, f"{step}: project.xml holds the ids {twice} more than once")
    divs = nested(project)
    for div, count in expected.items():
        if count is None:
            kd.check(div not in divs, f"{step}: the div {div} is still in project.xml")
        else:
            kd.check(div in divs, f"{step}: no div {div} in project.xml (divs: {divs})")
            kd.check(len(divs[div]) == count, f"{step}: the div {div} holds {divs[div]}, expected {count} object(s)")
    desktop.log(f"{step}: project.xml as expected ({divs})")
    return divs


def click_inner(desktop, surface, box_at=BOX_AT):
    kd.click_page(desktop, surface, box_at[0] + INNER_IN_BOX[0] + 15, box_at[1] + INNER_IN_BOX[1] + 12)


def click_box(desktop, surface, box_at=BOX_AT):
    kd.click_page(desktop, surface, box_at[0] + 190, box_at[1] + 85)


def choose_from_context_menu(desktop, at, index):
    """Opens the context menu at the screen point with the right button and chooses its
    index-th item with the arrow keys and Return (the menu is not on the accessibility bus)."""
    before = desktop.override_windows()
    desktop.input.click(*at, button=3)
    shown = kd.wait_until(lambda: desktop.override_windows() - before, "the context menu to open")
    for _ in range(index + 1):
        desktop.input.key("Down")
    desktop.input.key("Return")
    kd.wait_until(lambda: not (desktop.override_windows() & shown), "the context menu to close")


def deselect(desktop, window, surface):
    kd.click_page(desktop, surface, *EMPTY_AT)
    kd.wait_inspected(desktop, window, "page1", "a click on the empty page to select the page")


def pasting_nested_clicking_and_stacking(desktop):
    window, folder = open_project(desktop)
    surface = kd.design_surface(desktop, window)
    wait_texts(surface, "Inner", 1)
    wait_texts(surface, "Target", 1)
    # The page's text is there before the loading picture over it goes: a person clicks on what
    # shows, the page.
    kd.check_page_drawn(desktop, surface)
    desktop.screenshot("opened")

    # A click on the label inside the div selects the label.
    click_inner(desktop, surface)
    kd.wait_inspected(desktop, window, "inner", "a click on the nested label to select it")
    # Its context menu is the label's: Delete there deletes the label and leaves the div.
    deselect(desktop, window, surface)
    x, y = kd.page_point(surface, BOX_AT[0] + INNER_IN_BOX[0] + 15, BOX_AT[1] + INNER_IN_BOX[1] + 12)
    choose_from_context_menu(desktop, (x, y), CONTEXT_MENU.index("Delete"))
    wait_texts(surface, "Inner", 0)
    check_file(desktop, window, folder, "after deleting the nested label from its context menu", {"box": 0})
    desktop.activate_if_needed(window)
    desktop.input.key("ctrl+z")
    wait_texts(surface, "Inner", 1)
    check_file(desktop, window, folder, "after undoing the deletion", {"box": 1})
    click_box(desktop, surface)
    kd.wait_inspected(desktop, window, "box", "a click on the div beside its label to select the div")

    # Copy and paste the div: the copy holds a copy of the label, under ids of their own.
    desktop.input.key("ctrl+c")
    desktop.input.key("ctrl+v")
    pasted = "div1"  # "box" is taken: the first free id of a div
    kd.wait_inspected(desktop, window, pasted, "the pasted div to be selected")
    wait_texts(surface, "Inner", 2)
    desktop.screenshot("copy-pasted")
    divs = check_file(desktop, window, folder, "after copy and paste", {"box": 1, pasted: 1})
    kd.check(divs["box"] == ["inner"], f"the original div holds {divs['box']}, not its own label")
    kd.check(divs[pasted][0] != "inner", "the pasted label kept the original's id")
    # The pasted label is an object of its own: a click selects it (once its div's selection
    # box, which takes the clicks inside it, is gone).
    copy_at = tuple(int(float(kd.ProjectFile(folder).object(pasted).get(k))) for k in ("left", "top"))
    deselect(desktop, window, surface)
    click_inner(desktop, surface, copy_at)
    kd.wait_inspected(desktop, window, divs[pasted][0], "a click on the pasted label to select it")

    # Undo takes the whole paste back.
    desktop.activate_if_needed(window)
    desktop.input.key("ctrl+z")
    wait_texts(surface, "Inner", 1)
    check_file(desktop, window, folder, "after undoing the paste", {"box": 1, pasted: None})

    # Cut and paste: the div and its label come back, under their own ids.
    click_box(desktop, surface)
    kd.wait_inspected(desktop, window, "box")
    desktop.input.key("ctrl+x")
    wait_texts(surface, "Inner", 0)
    check_file(desktop, window, folder, "after the cut", {"box": None})
    desktop.input.key("ctrl+v")
    kd.wait_inspected(desktop, window, "box", "the pasted div to be selected")
    wait_texts(surface, "Inner", 1)
    desktop.screenshot("cut-pasted")
    divs = check_file(desktop, window, folder, "after cut and paste", {"box": 1})
    kd.check(divs["box"] == ["inner"], f"the pasted div holds {divs['box']}, not its label 'inner'")
    deselect(desktop, window, surface)
    click_inner(desktop, surface)
    kd.wait_inspected(desktop, window, "inner", "a click on the label of the pasted div to select it")
    page_commands_beside_the_page(desktop, window, surface)
    object_list_stepped_with_the_keys(desktop, window, folder)

    # A list view stays where it is dropped; "target", below its top edge, is drawn above it
    # as in the built page, and a click there selects the label.
    kd.drag_from_palette(desktop, window, surface, "JQMListView", *LIST_AT)
    kd.wait_inspected(desktop, window, "listview1")
    kd.wait_until(lambda: texts(surface, "Item #1") or surface.find(predicate=lambda n: n.name == "Item #1"),
                  "the list's items on the surface")
    place = tuple(kd.inspector_value(desktop, window, k) for k in ("left", "top"))
    kd.check(place == tuple(str(v) for v in LIST_AT), f"the list dropped at {LIST_AT} stands at {place}")
    kd.wait_until(lambda: kd.box_at(surface, *LIST_AT), f"the list drawn at {LIST_AT}")
    desktop.screenshot("list-dropped")
    kd.click_page(desktop, surface, TARGET_AT[0] + 30, TARGET_AT[1] + 15)
    kd.wait_inspected(desktop, window, "target", "a click on the label over the list to select the label")
    desktop.screenshot("target-clicked")
    project = kd.save(desktop, window, folder)
    listed = project.object("listview1")
    kd.check(listed is not None and (listed.get("left"), listed.get("top")) == tuple(str(v) for v in LIST_AT),
             f"the list's place in project.xml is {None if listed is None else (listed.get('left'), listed.get('top'))}")

    many_labels_selected_deleted_and_back(desktop)


def page_commands_beside_the_page(desktop, window, surface):
    """After a click on the grid beside the phone, Ctrl+V pastes on the page; after an object is
    chosen in the inspector's list of the page's objects, Delete deletes it."""
    x, y, w, h = kd.wait_until(lambda: window.find(name="Design Surface"), "the design surface").rect
    desktop.input.click(x + 12, y + h // 2)
    kd.wait_inspected(desktop, window, "page1", "a click on the grid beside the phone to select the page")
    desktop.input.key("ctrl+v")
    kd.wait_until(lambda: re.match(r"div\d+$", kd.inspected_object(desktop, window)),
                  "Ctrl+V after a click beside the phone to paste the div")
    wait_texts(surface, "Inner", 2)
    objects = kd.wait_until(lambda: min(kd.inspector(window).find_all("combo box"), key=lambda n: n.rect[1]),
                            "the inspector's list of the page's objects")
    kd.choose_in_combo(desktop, objects, "box")
    kd.wait_inspected(desktop, window, "box", "the div chosen in the inspector's list")
    desktop.input.key("Delete")
    wait_texts(surface, "Inner", 1)
    desktop.screenshot("deleted-from-the-object-list")


def object_list_stepped_with_the_keys(desktop, window, folder):
    """The inspector's list of the page's objects, opened with a click and closed with Escape:
    each Down on the closed list selects the next object, the keyboard stays on the list, and
    no object moves."""
    def places(project):
        return {e.get("id"): (e.get("left"), e.get("top")) for e in project.root.iter() if e.get("top") is not None}
    before = places(kd.save(desktop, window, folder))
    objects = kd.wait_until(lambda: min(kd.inspector(window).find_all("combo box"), key=lambda n: n.rect[1]),
                            "the inspector's list of the page's objects")
    names = [n.name for n in objects.find_all("list item", showing=False)]
    start = names.index(kd.inspected_object(desktop, window))
    steps = min(3, len(names) - 1 - start)
    kd.check(steps >= 2, f"the list {names} holds too few objects after {names[start]!r} to step through")
    desktop.click(objects)
    kd.wait_until(lambda: objects.find("list item"), "the list of the page's objects to open")
    desktop.input.key("Escape")
    kd.wait_until(lambda: not objects.find("list item"), "Escape to close the list")
    for step in range(1, steps + 1):
        desktop.input.key("Down")
        kd.wait_inspected(desktop, window, names[start + step],
                          f"Down {step}\u00D7 on the closed list to select {names[start + step]!r}")
    kd.check(objects.has_state(kd.state("FOCUSED")), "the keyboard left the list of objects as Down stepped through it")
    desktop.screenshot("object-list-stepped")
    moved = {i: (p, q) for i, q in places(kd.save(desktop, window, folder)).items() if (p := before.get(i)) != q}
    kd.check(not moved, f"Down on the list of objects moved objects (id: (left, top) before, after): {moved}")


def still(desktop, rect):
    """Waits until the rectangle shows the same twice, 0.3 s apart; returns that picture."""
    shots = [desktop.grab(rect)]

    def settled():
        time.sleep(0.3)
        shots.append(desktop.grab(rect))
        return shots[-1].bgrx == shots[-2].bgrx

    kd.wait_until(settled, "the design surface to stay still")
    return shots[-1]


def shows_within_patience(desktop, rect, key, what):
    """Presses the key and fails when the rectangle takes longer than a person waits to change;
    then waits for it to stay still."""
    before = still(desktop, rect)
    started = time.monotonic()
    desktop.input.key(key)

    def changed():
        return desktop.grab(rect).bgrx != before.bgrx

    elapsed = kd.wait_within_patience(changed, f"{what} shown", PATIENCE, started)
    desktop.log(f"{what}: shown {elapsed:.2f} s after its key")
    still(desktop, rect)


def saved_labels(desktop, window, folder):
    return [e.get("id") for e in kd.save(desktop, window, folder).root.iter("KRLabel")]


def many_labels_selected_deleted_and_back(desktop):
    """In a project of many labels opened beside the first, Select All, Delete, Undo and Redo
    each show within a person's patience, and the file holds all the labels in their order, or
    none, after each."""
    window, folder = open_project(desktop, "Many", MANY_PROJECT)
    # Read from the screen: the page's web document, with hundreds of nodes, is slow to come
    # onto the accessibility bus of a busy machine.
    rect, origin = kd.page_on_screen(desktop, window, "the page of labels drawn", min_text=300, picture=still)
    desktop.input.click(origin[0] + 10 + 30, origin[1] + 20 + 10)
    kd.wait_inspected(desktop, window, "l0", "a click on the first label to select it")
    shows_within_patience(desktop, rect, "ctrl+a", f"Select All of {MANY} labels")
    desktop.screenshot("many-selected")
    shows_within_patience(desktop, rect, "Delete", f"Delete of {MANY} labels")
    desktop.screenshot("many-deleted")
    kd.check(saved_labels(desktop, window, folder) == [], "labels left in project.xml after Delete")
    everyone = [f"l{i}" for i in range(MANY)]
    shows_within_patience(desktop, rect, "ctrl+z", f"Undo of the Delete of {MANY} labels")
    desktop.screenshot("many-undone")
    labels = saved_labels(desktop, window, folder)
    kd.check(labels == everyone, f"after Undo project.xml holds {len(labels)} labels, "
                                 f"{'in another order' if sorted(labels) == sorted(everyone) else 'not all of them'}")
    shows_within_patience(desktop, rect, "ctrl+shift+z", f"Redo of the Delete of {MANY} labels")
    kd.check(saved_labels(desktop, window, folder) == [], "labels left in project.xml after Redo")

    deep_content_drawn_in_time(desktop)


def deep_content_drawn_in_time(desktop):
    """A project whose div holds deeply nested HTML, handed to the running application: within
    a person's patience its page shows, or the loading picture says what takes the time, and the
    page then shows (how soon is measured in bench_designsurface); its labels are selected by a
    click as on any page."""
    started = time.monotonic()
    window, _ = open_project(desktop, "Deep", DEEP_PROJECT)
    canvas = kd.wait_until(lambda: window.find(name="Design Surface"), "the design surface")
    rect = canvas.rect
    shown = time.monotonic()
    said = []

    def drawn_or_said():
        if kd.page_origin(desktop.grab(rect)):
            return True
        said[:] = [n.name for n in canvas.find_all(name=TAKES_TIME)]
        return said
    kd.wait_within_patience(drawn_or_said, "the page of deep content drawn, or what takes the time said", PATIENCE,
                            shown)
    if said:
        desktop.log(f"the loading picture says: {said[0]}")
        desktop.screenshot("deep-loading")
    kd.wait_until(lambda: kd.page_origin(desktop.grab(rect)), "the page of deep content drawn", DEEP_HANG)
    elapsed = time.monotonic() - started
    desktop.log(f"the page of {DEEP_DIVS} nested divs: drawn {elapsed:.2f} s after it was opened")
    origin = kd.page_origin(still(desktop, rect))
    desktop.screenshot("deep-drawn")
    desktop.input.click(origin[0] + 10 + 30, origin[1] + 20 + 10)
    kd.wait_inspected(desktop, window, "d0", "a click on the first label above the deep div to select it")
    desktop.screenshot("deep-selected")


if __name__ == "__main__":
    sys.exit(kd.run([pasting_nested_clicking_and_stacking]))
