#!/usr/bin/env python3
"""The device preview opens over its project window; turned to Landscape the window widens to
hold the whole device, whose screen shows no desktop scroll bar; the page's orientation handler
hears of each turn once; the address field shows another page of the application typed into it and
refuses an address that is not the application's.

Designed for a tall phone, the project opens its next preview on a 1000-pixel screen with the whole
window on the screen, title bar included, and the whole device in it; a tablet turned on its side is shown
smaller so that it fits, a smaller device afterwards makes the window smaller again; "Open in
Browser" opens the page the device shows, at the project's own address under localhost, and
Ctrl+W closes the preview.

A page without the application's scripts typed into the address field, and an address that finds
no page, stay shown: only a page whose script loops is closed, with the alert on its own preview
window even while the user works in the project window. Two projects' previews open at once are
titled with their projects' names, lie apart, and each project is shown at the address it always
has; four projects' previews of a tall phone open one beside the other, none on another, and each
turned to a tablet stays whole on the screen; a preview opened while the window manager is still
framing another one opens whole on the screen. The device pop-up of a new preview, opened before its
page has come (its server slow to answer, as on a busy machine), stays open as the page comes into
the device, and the device is chosen from it."""

import os
import re
import shutil
import signal
import sys
import time

import krdesktop as kd

from windows import check_placed_over

LOW_LABEL_AT = (40, 420)
# The page's orientation handler notes in the label how the device stands each time it is told.
TURN_CODE = "window.turns = (window.turns || 'Turned:') + ' ' + event.orientation; this.label1.setValue(turns);"
# The preview closes a page whose scripts have been silent for 5 s, looked at four times a
# second: a page still shown a second past that was not judged stuck.
STUCK_AFTER = 6


def device_around(desktop, page):
    """The dark frame of the device's picture just outside each side of the page."""
    x, y, w, h = page.rect
    points = [(x + w // 2, y - 12), (x + w // 2, y + h + 12), (x - 12, y + h // 2), (x + w + 12, y + h // 2)]
    image = desktop.grab((x - 20, y - 20, w + 40, h + 40))
    return all(sum(image.pixel(px, py)) / 3 < 90 for px, py in points)


def inside(inner, outer):
    ix, iy, iw, ih = inner
    ox, oy, ow, oh = outer
    return ix >= ox and iy >= oy and ix + iw <= ox + ow and iy + ih <= oy + oh


def answer(desktop, text, button, shot):
    question = kd.wait_until(lambda: next((w for w in desktop.windows() if w.find(
        predicate=lambda n: n.role == "label" and text in n.name)), None), f"the message {text!r}")
    desktop.screenshot(shot)
    desktop.click(desktop.wait_for(question, "push button", button))
    kd.wait_until(lambda: not any(w.find(predicate=lambda n: n.role == "label" and text in n.name)
                                  for w in desktop.windows()), f"the message {text!r} to close")


def device_in_window(view):
    """Whether the device's picture around the page's view lies inside the scroll area's viewport
    (the engine's own rectangle for the page can lag behind a move)."""
    zoom = view.parent()
    viewport = zoom.parent()
    skin = next((n for n in zoom.children() if n.rect != view.rect and inside(view.rect, n.rect)), None)
    return skin is not None and inside(skin.rect, viewport.rect)


def whole_device(desktop, view):
    """The device's picture whole in the window, its frame drawn around the page."""
    return device_in_window(view) and device_around(desktop, view)


def on_screen(desktop, window):
    """Whether the window's frame, title bar included, lies on the screen."""
    (x, y, w, h), _ = desktop.frame(window)
    return x >= 0 and y >= 0 and x + w <= kd.SCREEN_WIDTH and y + h <= kd.SCREEN_HEIGHT


def device_whole_on_screen(desktop, viewer, view, device, **wait):
    """Waits until the window's frame lies on the screen and the device's picture whole in it."""
    zoom = desktop.wait_for(viewer, "combo box", what="the zoom pop-up", predicate=lambda n: n.name.endswith("%"))
    kd.wait_until(lambda: on_screen(desktop, viewer) and device_in_window(view),
                  f"the whole {device} in {viewer.name!r} on the screen (shown at {zoom.name}, "
                  f"the window's frame at {desktop.frame(viewer)})", **wait)


def type_address(desktop, field, address):
    desktop.click(field)
    kd.wait_until(lambda: field.has_state(kd.state("FOCUSED")), "the address field to have the keyboard")
    desktop.input.key("ctrl+a")
    desktop.input.type(address)
    kd.wait_until(lambda: field.text() == address, f"{address!r} typed in the address field")
    desktop.input.key("Return")


def viewer_of(desktop, project):
    viewer = desktop.window(f"{project} — Device Viewer")
    desktop.managed_window(viewer)
    return viewer


def start_page(desktop, viewer, what="the start page in the device preview"):
    """The start page's document in the preview, which tells assistive tools where it lies: a
    screen reader looks at it as the window opens, and one that looked before the page's first
    layout was told that it has no place on the screen, for good."""
    shown = kd.wait_until(lambda: viewer.find("document web", "Page 1"), what)
    kd.wait_until(lambda: shown.rect[2] > 0 and shown.rect[3] > 0, f"{what} to tell where it lies (it says {shown.rect})")
    return shown


def client_log_clean(viewer, what):
    """No script error in the preview's client log: what the page shows the user of its own."""
    logs = [n.text() for n in viewer.find_all("text") if n.name != "Address"]
    errors = [line for log in logs for line in log.splitlines() if "JavaScript error" in line or "Parse failed" in line]
    kd.check(not errors, f"{what}: the client log holds errors of the preview's own making:\n  " + "\n  ".join(errors))


def stays_shown(desktop, viewer, view, field, address, shown, what, shot):
    """Types address in the preview's address field and checks, STUCK_AFTER seconds after the page
    is there, that the page (shown(view) is true) is still in the device, the window open and no
    alert up."""
    type_address(desktop, field, address)
    loaded = re.compile(r"(Finished|Failed) loading: http://\S+/" + re.escape(address))
    kd.wait_until(lambda: any(loaded.search(log.text()) for log in viewer.find_all("text") if log.name != "Address"),
                  f"{what} loaded in the device preview")
    kd.wait_until(lambda: shown(view), f"{what} in the device preview")
    time.sleep(STUCK_AFTER)
    desktop.screenshot(shot)
    alerts = [w.name for w in desktop.windows() if w.find(predicate=lambda n: n.role == "label" and "endless loop" in n.name)]
    kd.check(not alerts, f"{what} was judged stuck: an alert came up ({alerts})")
    kd.check(any(w.name == viewer.name for w in desktop.windows()), f"the preview closed {STUCK_AFTER} s after showing {what}")
    kd.check(shown(view), f"{what} is no longer shown {STUCK_AFTER} s after it was loaded")
    x, y, w, h = view.rect
    lit = kd.grab_count(desktop, (x + 4, y + 4, w - 8, h // 3), lambda c: sum(c) / 3 > 200)
    kd.check(lit > (w - 8) * (h // 3) // 2, f"the device's screen is dark {STUCK_AFTER} s after showing {what} ({lit} light pixels)")


def turns_noted(viewer):
    """What the page's orientation handler has noted in the label ("Turned: portrait ...")."""
    noted = viewer.find(predicate=lambda n: n.name.startswith("Turned:"), showing=False)
    return noted.name if noted else ""


def handler_noting_turns(desktop, window, surface):
    """Makes the page's orientation handler from the inspector's event row and types its code."""
    kd.click_page(desktop, surface, 200, 300)
    kd.wait_inspected(desktop, window, "page1", "a click on an empty place of the page to select the page")
    kd.open_inspector_group(desktop, window, "Events")
    row = kd.inspector_row(desktop, window, "onOrientationChange")
    desktop.click(desktop.wait_for(row, "push button", "→", "the onOrientationChange row's arrow"))
    editor = kd.code_editor(desktop, window, "function page1_onOrientationChange")
    kd.wait_until(lambda: "// Your code here" in editor.text(), "the handler's placeholder")
    kd.wait_until(lambda: editor.has_state(kd.state("FOCUSED")), "the code editor to have the keyboard")
    desktop.input.type(TURN_CODE)
    kd.wait_until(lambda: TURN_CODE in editor.text(), "the typed code in the editor")


def servers_held(desktop):
    """A "node" first on the path that holds each program it is to run while the returned file
    exists, as a busy machine may keep a preview's server from answering for a while, and runs it
    otherwise. Call it before the application starts."""
    node = shutil.which("node")
    kd.check(node, "no node program on the path")
    folder = os.path.join(desktop.home, "held")
    os.makedirs(folder, exist_ok=True)
    hold = os.path.join(folder, "hold")
    script = os.path.join(folder, "node")
    with open(script, "w") as out:
        out.write(f"#!/bin/sh\nwhile [ -e '{hold}' ]; do sleep 0.05; done\nexec '{node}' \"$@\"\n")
    os.chmod(script, 0o755)
    desktop.env["PATH"] = folder + os.pathsep + desktop.env["PATH"]
    return hold


def preview_turns_and_goes_to_another_page(desktop):
    record = kd.catch_the_opener(desktop)
    hold = servers_held(desktop)
    desktop.launch()
    untitled = kd.project_window(desktop, "Untitled")
    kd.close_gallery(desktop)
    window, folder = kd.new_project(desktop, untitled, "Pages")
    surface = kd.design_surface(desktop, window)
    kd.check_page_drawn(desktop, surface)
    # A label low on the page: turned on its side, the page is taller than the phone's screen.
    kd.drag_from_palette(desktop, window, surface, "KRLabel", *LOW_LABEL_AT)
    kd.wait_inspected(desktop, window, "label1")
    handler_noting_turns(desktop, window, surface)
    desktop.click(desktop.wait_for(window, "push button", "New Page"))
    desktop.wait_for(window, "table cell", "page2", "the new page in the outline")
    kd.save(desktop, window, folder)
    second = os.path.join(folder, "kr-web", "page2.html")
    desktop.click(desktop.wait_for(window, "push button", "Build"))
    kd.wait_until(lambda: os.path.exists(second), "the build to write page2.html")

    # Run: the preview opens over the project window with the start page in the device.
    desktop.click(desktop.wait_for(window, "push button", "Run"))
    viewer = viewer_of(desktop, "Pages")
    shown = start_page(desktop, viewer)
    kd.wait_until(lambda: device_around(desktop, shown.parent()), "the device's frame around the previewed page")
    desktop.screenshot("portrait")
    check_placed_over(desktop, viewer, window, "the device preview")

    # Landscape: the window widens and holds the whole device turned on its side (a large
    # phone's, wider than the window made for the first one).
    devices = desktop.wait_for(viewer, "combo box", "iPhone", "the device pop-up")
    kd.choose_in_combo(desktop, devices, "iPhone 6 Plus")
    orientation = desktop.wait_for(viewer, "combo box", "Portrait", "the orientation pop-up")
    kd.choose_in_combo(desktop, orientation, "Landscape")
    kd.wait_until(lambda: shown.rect[2] > shown.rect[3], "the page turned on its side")
    desktop.screenshot("landscape")
    # The page's view lies on the device's picture, both in the zoom view inside the scroll
    # area's viewport (the engine's own rectangle for the page can lag behind a move).
    view = shown.parent()
    zoom = view.parent()
    viewport = zoom.parent()
    skin = kd.wait_until(lambda: next((n for n in zoom.children() if n.rect != view.rect and inside(view.rect, n.rect)),
                                      None), "the device's picture around the page")

    def whole():
        return inside(skin.rect, viewport.rect) and device_around(desktop, view)
    if not whole():
        kd.wait_until(whole, f"the whole device in the window in Landscape (device at {skin.rect}, "
                             f"shown in {viewport.rect} of the window at {desktop.frame(viewer)[0]})")
    desktop.screenshot("landscape-whole")
    client_log_clean(viewer, "the page shown and turned")
    # The page scrolls as on a phone: no desktop scroll bar along the screen's right side.
    x, y, w, h = view.rect
    background = desktop.grab((x + w - 60, y + h // 2, 1, 1)).pixel(x + w - 60, y + h // 2)
    strip = (x + w - 14, y + 4, 12, h - 8)
    marks = kd.grab_count(desktop, strip, lambda c: not kd.near(c, background, 24))
    kd.check(marks <= 10, f"a scroll bar is drawn along the right side of the phone's screen ({marks} pixels "
                          f"unlike the page's background {background} in {strip})")

    # Back to Portrait: once the page has heard of that turn, it has heard all it will of the one
    # before. The handler heard of each once: as the page came, and of each turn.
    kd.choose_in_combo(desktop, desktop.wait_for(viewer, "combo box", "Landscape", "the orientation pop-up"), "Portrait")
    kd.wait_until(lambda: re.search(r"landscape.* portrait", turns_noted(viewer)),
                  f"the page's handler to hear of the turn back to Portrait (it noted {turns_noted(viewer)!r})")
    desktop.screenshot("turned-back")
    kd.check(turns_noted(viewer) == "Turned: portrait landscape portrait",
             f"the page's orientation handler did not hear of each turn once: it noted {turns_noted(viewer)!r}")
    kd.wait_until(lambda: shown.rect[2] < shown.rect[3], "the page upright again")

    # The address field takes another page of the application.
    field = desktop.wait_for(viewer, "text", what="the address field",
                             predicate=lambda n: n.text().startswith("http://pages-") and ".localhost:" in n.text())
    start = field.text()
    kd.check(start.endswith("/page1.html"), f"the address field shows {start!r}")
    other = start[:-len("page1.html")] + "page2.html"
    type_address(desktop, field, other)
    # The second page has no title: the page shown is told by the client log and the view.
    logs = [n for n in viewer.find_all("text") if n.name != "Address"]
    kd.wait_until(lambda: any(f"Finished loading: {other}" in log.text() for log in logs),
                  "the second page loaded in the device preview")
    kd.wait_until(lambda: view.find("document web", "Page 1") is None and view.find("document web"),
                  "the second page in place of the start page")
    kd.wait_until(lambda: field.text() == other, "the second page's address in the field")
    desktop.screenshot("second-page")

    # An address elsewhere is refused: a message, and the page stays.
    type_address(desktop, field, "http://example.com/")
    answer(desktop, "is not an address on its local server", "OK", "address-refused")
    kd.wait_until(lambda: field.text() == other, "the shown page's address back in the field")
    kd.check(view.find("document web", "Page 1") is None and view.find("document web") is not None,
             "the refused address replaced the page")
    kd.check(not any("example.com" in log.text() for log in logs), "the refused address was loaded")
    desktop.screenshot("refused")

    # A plain page put in the web folder, without the application's scripts, stays shown; so
    # does the answer to an address that finds no page.
    with open(os.path.join(folder, "kr-web", "help.html"), "w") as page:
        page.write("<!DOCTYPE html>\n<title>Help</title>\n<h1>How to use the application</h1>\n")
    stays_shown(desktop, viewer, view, field, "help.html", lambda v: v.find("document web", "Help"),
                "the plain page help.html", "plain-page-stays")
    stays_shown(desktop, viewer, view, field, "helpp.html",
                lambda v: v.find(predicate=lambda n: n.role == "document web" and n.name != "Help"
                                 and "Not found" in "".join(c.name + c.text() for c in n.find_all())),
                "the answer to a mistyped address", "not-found-stays")
    desktop.activate_if_needed(viewer)
    desktop.input.key("alt+F4")
    kd.wait_until(lambda: not any(w.name == viewer.name for w in desktop.windows()), "the preview to close")

    address = fits_the_screen_and_opens_the_page_shown(desktop, window, record)
    notes_viewer = two_projects_previewed_at_once(desktop, window, folder, address)
    projects, viewers = four_previews_lie_apart(desktop, window, notes_viewer)
    a_preview_opened_while_another_is_being_framed(desktop, projects, viewers)
    a_pop_up_opened_before_the_page_comes(desktop, window, hold)


def fits_the_screen_and_opens_the_page_shown(desktop, window, record):
    """Designed for the iPhone 6 (taller than a 1000-pixel screen leaves room for at 100 %), the
    project's next run opens a preview that lies on the screen, title bar and all, with the whole
    device in it; then a tablet on its side, a smaller device, Open in Browser and Ctrl+W."""
    kd.choose_in_combo(desktop, desktop.wait_for(window, "combo box", "iPhone", "the design view's device pop-up"),
                       "iPhone 6")
    desktop.click(desktop.wait_for(window, "push button", "Run"))
    viewer = viewer_of(desktop, "Pages")
    shown = start_page(desktop, viewer)
    view = shown.parent()
    desktop.screenshot("iphone6")
    kd.wait_until(lambda: on_screen(desktop, viewer),
                  f"the whole preview window on the screen (its frame at {desktop.frame(viewer)})")
    kd.wait_until(lambda: whole_device(desktop, view), "the whole iPhone 6 in the window")
    zoom = desktop.wait_for(viewer, "combo box", what="the zoom pop-up", predicate=lambda n: n.name.endswith("%"))
    desktop.log(f"the iPhone 6 is shown at {zoom.name}, the window's frame at {desktop.frame(viewer)[0]}")

    # An iPad on its side fits as well.
    kd.choose_in_combo(desktop, desktop.wait_for(viewer, "combo box", "iPhone 6", "the device pop-up"), "iPad")
    kd.choose_in_combo(desktop, desktop.wait_for(viewer, "combo box", "Portrait", "the orientation pop-up"), "Landscape")
    kd.wait_until(lambda: view.rect[2] > view.rect[3], "the page turned on its side")
    kd.wait_until(lambda: on_screen(desktop, viewer) and whole_device(desktop, view),
                  f"the whole iPad in Landscape in the window on the screen (window at {desktop.frame(viewer)[0]})")
    desktop.screenshot("ipad-landscape")
    (_, _, wide, tall), _ = desktop.frame(viewer)

    # A smaller device: the window gets smaller with it.
    kd.choose_in_combo(desktop, desktop.wait_for(viewer, "combo box", "iPad", "the device pop-up"), "iPhone")
    kd.wait_until(lambda: desktop.frame(viewer)[0][2] < wide and desktop.frame(viewer)[0][3] < tall,
                  f"the window smaller than the {wide}x{tall} it had for the iPad (now {desktop.frame(viewer)[0]})")
    kd.wait_until(lambda: on_screen(desktop, viewer) and whole_device(desktop, view), "the whole iPhone in the window")
    desktop.screenshot("iphone-landscape")

    # Open in Browser opens the page shown, at the project's own address.
    field = desktop.wait_for(viewer, "text", what="the address field", predicate=lambda n: ".localhost:" in n.text())
    start = field.text()
    kd.check(start.startswith("http://pages-") and start.endswith("/page1.html"), f"the address field shows {start!r}")
    other = start[:-len("page1.html")] + "page2.html"
    type_address(desktop, field, other)
    logs = [n for n in viewer.find_all("text") if n.name != "Address"]
    kd.wait_until(lambda: any(f"Finished loading: {other}" in log.text() for log in logs),
                  "the second page loaded in the device preview")
    desktop.click(desktop.wait_for(viewer, "push button", "Open in Browser"))
    kd.wait_until(lambda: kd.opened(record), "the browser asked to open a page")
    kd.check(kd.opened(record) == [other], f"Open in Browser opened {kd.opened(record)}, not the page shown, {other}")

    # Ctrl+W closes the preview.
    desktop.activate_if_needed(viewer)
    desktop.input.key("ctrl+w")
    kd.wait_until(lambda: not any(w.name == viewer.name for w in desktop.windows()), "Ctrl+W to close the preview")
    desktop.screenshot("closed")
    return start


def stacking(desktop):
    """The X windows the window manager keeps, bottom to top."""
    from Xlib import X
    d = desktop.display
    clients = d.screen().root.get_full_property(d.intern_atom("_NET_CLIENT_LIST_STACKING"), X.AnyPropertyType)
    return list(clients.value) if clients else []


def two_projects_previewed_at_once(desktop, pages, pages_folder, pages_address):
    """A second project's preview opened while the first project's is: both titled with their
    project's name, apart; the first project is shown at the address it had before. Then a page of
    it whose script loops, while the user works in the project window: the alert comes on that
    preview window, in front, and closes it; the other project's preview stays."""
    notes, _ = kd.new_project(desktop, pages, "Notes")
    kd.build(desktop, notes)
    desktop.click(desktop.wait_for(notes, "push button", "Run"))
    notes_viewer = viewer_of(desktop, "Notes")
    start_page(desktop, notes_viewer, "the Notes start page in its preview")
    desktop.bring_to_front(pages)
    desktop.click(desktop.wait_for(pages, "push button", "Run"))
    pages_viewer = viewer_of(desktop, "Pages")
    start_page(desktop, pages_viewer, "the Pages start page in its preview")
    desktop.screenshot("two-previews")
    notes_frame, pages_frame = desktop.frame(notes_viewer)[0], desktop.frame(pages_viewer)[0]
    desktop.log(f"the Notes preview at {notes_frame}, the Pages preview at {pages_frame}")
    def centre(frame):
        return frame[0] + frame[2] // 2, frame[1] + frame[3] // 2
    (nx, ny), (px, py) = centre(notes_frame), centre(pages_frame)
    kd.check(abs(notes_frame[0] - pages_frame[0]) >= 20 and max(abs(nx - px), abs(ny - py)) >= 20,
             f"the two previews lie one on the other: Notes at {notes_frame}, Pages at {pages_frame}")
    field = desktop.wait_for(pages_viewer, "text", what="the address field",
                             predicate=lambda n: n.text().endswith("/page1.html"))
    notes_field = desktop.wait_for(notes_viewer, "text", what="the Notes address field",
                                   predicate=lambda n: n.text().endswith("/page1.html"))
    origin = re.compile(r"^(http://[^/]+)/")
    kd.check(field.text() == pages_address,
             f"with another project previewed, Pages is shown at {field.text()!r}, not at {pages_address!r} as before")
    kd.check(origin.match(notes_field.text()).group(1) != origin.match(field.text()).group(1),
             f"the two projects are shown at one origin: {notes_field.text()!r}, {field.text()!r}")

    # A page whose script loops once it has shown; meanwhile the user goes back to the project.
    with open(os.path.join(pages_folder, "kr-web", "loop.html"), "w") as page:
        page.write("<!DOCTYPE html>\n<title>Loop</title>\n<h1>Busy</h1>\n"
                   "<script>setTimeout(function () { for (;;) {} }, 3000);</script>\n")
    type_address(desktop, field, "loop.html")
    kd.wait_until(lambda: pages_viewer.find("document web", "Loop"), "the looping page in the preview")
    desktop.bring_to_front(pages)
    alert = kd.wait_until(lambda: next((w for w in desktop.windows() if w.find(
        predicate=lambda n: n.role == "label" and "endless loop detected" in n.name)), None),
        "the alert about the looping page", timeout=30)
    desktop.wait_active(alert, "the alert in front")
    desktop.screenshot("loop-alert")
    alert_x = desktop.managed_window(alert)
    viewer_x = desktop.managed_window(pages_viewer)
    parent = alert_x.get_wm_transient_for()
    kd.check(parent is not None and parent.id == viewer_x.id,
             f"the alert is not on the looping page's preview window (it is on {parent and parent.id}, "
             f"the preview is {viewer_x.id}, the project window {desktop.managed_window(pages).id})")
    order = stacking(desktop)
    kd.check(order.index(alert_x.id) == len(order) - 1, "the alert is not the top window")
    desktop.click(desktop.wait_for(alert, "push button", "Close"))
    kd.wait_until(lambda: not any(w.name == pages_viewer.name for w in desktop.windows()),
                  "the looping page's preview to close")
    kd.check(any(w.name == notes_viewer.name for w in desktop.windows()), "the other project's preview closed")
    desktop.screenshot("loop-closed")
    return notes_viewer


def four_previews_lie_apart(desktop, pages, notes_viewer):
    """With the Notes preview open, Pages runs again and two new projects designed for the tall
    iPhone 6 run: each of the four previews, grown to its device, stands where no other does."""
    desktop.bring_to_front(pages)
    desktop.click(desktop.wait_for(pages, "push button", "Run"))
    viewers = [notes_viewer, viewer_of(desktop, "Pages")]
    projects = []
    for name in ("Third", "Fourth"):
        desktop.bring_to_front(pages)
        project, _ = kd.new_project(desktop, pages, name)
        projects.append(project)
        kd.choose_in_combo(desktop, desktop.wait_for(project, "combo box", "iPhone", "the design view's device pop-up"),
                           "iPhone 6")
        kd.build(desktop, project)
        desktop.click(desktop.wait_for(project, "push button", "Run"))
        viewers.append(viewer_of(desktop, name))
    for viewer in viewers:
        view = start_page(desktop, viewer, f"the start page in {viewer.name!r}").parent()
        # Each first showed whole on the screen's free area, its device whole in it.
        kd.check(on_screen(desktop, viewer), f"{viewer.name!r} reaches off the screen: its frame at {desktop.frame(viewer)}")
        kd.wait_until(lambda: device_in_window(view), f"the whole device in {viewer.name!r}")
        client_log_clean(viewer, viewer.name)
    desktop.screenshot("four-previews")
    frames = [desktop.frame(viewer)[0] for viewer in viewers]
    desktop.log(f"the previews at {frames}")
    for i, (x, y, _, _) in enumerate(frames):
        for other in frames[:i]:
            kd.check(abs(x - other[0]) >= 20 or abs(y - other[1]) >= 20,
                     f"{viewers[i].name!r} stands on another preview: {frames[i]} and {other}")

    # Each turned to a tablet, taller than the screen at 100 %: each window, whose frame the
    # window manager may have been drawing as the preview sized itself, takes the zoom at which
    # the whole tablet fits the screen, its frame whole on the screen.
    for viewer in viewers:
        desktop.bring_to_front(viewer)
        devices = desktop.wait_for(viewer, "combo box", what=f"the device pop-up of {viewer.name!r}",
                                   predicate=lambda n: n.name.startswith("iPhone"))
        view = start_page(desktop, viewer, f"the start page in {viewer.name!r}").parent()
        kd.choose_in_combo(desktop, devices, "iPad")
        device_whole_on_screen(desktop, viewer, view, "iPad")
    desktop.screenshot("four-tablets")
    return projects, viewers


def unmanaged_client(desktop, title):
    """The top-level X window titled title, shown by the application, that the window manager
    does not keep yet."""
    from Xlib import X
    d = desktop.display
    name = d.intern_atom("_NET_WM_NAME")
    for child in d.screen().root.query_tree().children:
        try:
            value = child.get_full_property(name, X.AnyPropertyType)
        except Exception:  # gone since the tree was read
            continue
        if value and value.value.decode("utf-8", "replace") == title:
            return child
    return None


def a_preview_opened_while_another_is_being_framed(desktop, projects, viewers):
    """A busy window manager frames a new window in steps: it puts the window in a frame of one
    pixel, then gives the frame its size, and a loaded machine can keep it between the two. The
    Third project runs (Ctrl+R) and its preview is held there (the window manager stopped, the
    window put in such a frame) while the Fourth project runs (Ctrl+R): the Fourth preview opens
    with its whole device on the screen, as does the Third once it is framed."""
    import pyatspi
    from Xlib import X
    for viewer in viewers:
        desktop.bring_to_front(viewer)
        desktop.input.key("ctrl+w")
        kd.wait_until(lambda: not any(w.name == viewer.name for w in desktop.windows()), f"{viewer.name!r} to close")
    third, fourth = projects
    desktop.bring_to_front(third)
    desktop.wait_active(third)
    fourth_x = desktop.managed_window(fourth)
    manager = next(process for name, process in desktop.processes if name == "openbox")
    d = desktop.display
    root = d.screen().root
    os.kill(manager.pid, signal.SIGSTOP)
    held = frame = None
    try:
        desktop.input.key("ctrl+r")
        held = kd.wait_until(lambda: unmanaged_client(desktop, "Third — Device Viewer"), "the Third preview shown")
        place = held.get_geometry()
        frame = root.create_window(place.x, place.y, 1, 1, 0, X.CopyFromParent, override_redirect=True)
        held.reparent(frame, 0, 0)
        held.configure(x=1, y=1)  # a move inside it, which the application hears of
        d.sync()
        # The keyboard goes to the Fourth project window, as a window manager gives it, and
        # stays there: the new preview's own request for the keyboard waits for the stopped
        # window manager, but the application may take the focus it had back meanwhile, and
        # a window manager would then give it again.
        def fourth_has_the_keyboard():
            fourth_x.set_input_focus(X.RevertToParent, X.CurrentTime)
            d.sync()
            return kd.wait_until(lambda: fourth.has_state(pyatspi.STATE_ACTIVE), "the Fourth project window active",
                                 timeout=2)
        kd.wait_until(fourth_has_the_keyboard, "the Fourth project window to have the keyboard")
        desktop.input.key("ctrl+r")
        kd.wait_until(lambda: unmanaged_client(desktop, "Fourth — Device Viewer"), "the Fourth preview shown")
        time.sleep(1)
    finally:
        if held is not None:
            held.reparent(root, place.x, place.y)
        if frame is not None:
            frame.destroy()
        d.sync()
        os.kill(manager.pid, signal.SIGCONT)
    for name in ("Third", "Fourth"):
        viewer = viewer_of(desktop, name)
        view = start_page(desktop, viewer, f"the start page in {viewer.name!r}").parent()
        device_whole_on_screen(desktop, viewer, view, "device", timeout=10)
    desktop.screenshot("framed-late")


def a_pop_up_opened_before_the_page_comes(desktop, pages, hold):
    """Pages runs again while its server is held: a person opens the device pop-up of the new
    preview as soon as the window is in front, before the page has come. The server is let go:
    the page comes into the device, the pop-up's list stays open meanwhile, and the device is
    chosen from it."""
    desktop.bring_to_front(pages)
    open(hold, "w").close()
    try:
        desktop.click(desktop.wait_for(pages, "push button", "Run"))
        viewer = viewer_of(desktop, "Pages")
        desktop.wait_active(viewer)
        devices = desktop.wait_for(viewer, "combo box", what="the device pop-up",
                                   predicate=lambda n: n.name.startswith("iPhone"))

        def page_comes():
            kd.check(not any("Local server running" in log.text() for log in viewer.find_all("text")),
                     "the server answered while it was held")
            os.remove(hold)
            start_page(desktop, viewer, "the start page in the device preview, its device pop-up open")
            desktop.screenshot("pop-up-open-as-the-page-came")
        kd.choose_in_combo(desktop, devices, "iPad", while_open=page_comes)
    finally:
        if os.path.exists(hold):
            os.remove(hold)


if __name__ == "__main__":
    sys.exit(kd.run([preview_turns_and_goes_to_another_page]))
