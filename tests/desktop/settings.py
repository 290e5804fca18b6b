#!/usr/bin/env python3
"""Project Settings: opened from the toolbar and with Ctrl+,, the objects switched to
per-device customizations and back, the question that switch asks answered with Cancel and
with Discard Customizations while the pop-over stays up; then a device added in the
preferences shows in the design surface's device pop-up and, chosen in Project Settings, is
the one that pop-up names. Each choice is read back from the saved project.xml."""

import re
import sys

import krdesktop as kd

OBJECTS_FIXED = "Fixed, regardless of device"
OBJECTS_CUSTOMIZED = "Customized for each device type"
QUESTION = "Switch to fixed objects?"
DEVICE_NAME = "Kiosk"
# Pop-ups this size or smaller (tool tips and the like) are not the Project Settings pop-over.
POP_OVER_SMALLEST = 200


def setting(project, key):
    """A setting's value in the saved project.xml (None when the file has none)."""
    for element in project.root.iter():
        if key in element.attrib:
            return element.get(key)
    return None


def open_settings(desktop, window, how):
    """Opens Project Settings with the toolbar button or with Ctrl+,; returns the pop-over's
    rectangle. The pop-over is no accessible window: it is found as the pop-up that came up."""
    desktop.activate_if_needed(window)

    def bring_up():
        if how == "toolbar":
            desktop.click(desktop.wait_for(window, "push button", "Settings", "the toolbar's Settings button"))
        else:
            desktop.input.key("ctrl+comma")
    _, rect = kd.popup_brought_up(desktop, bring_up, f"the Project Settings pop-over ({how})", POP_OVER_SMALLEST)
    # Drawn: its body is light, its text dark.
    x, y, w, h = rect
    kd.wait_until(lambda: kd.grab_count(desktop, (x + 20, y + 10, w - 40, 60), lambda c: sum(c) / 3 < 90) >= 30,
                  "the settings drawn in the pop-over")
    return rect


def settings_shown(desktop, rect):
    """Whether a pop-up covers the pop-over's place (the same pop-over, or it shown again)."""
    return any(r == rect for r in kd.big_popups(desktop, POP_OVER_SMALLEST).values())


def top_strip(rect):
    """The pop-over's first row (the design target): above any alert, which opens in the middle
    of the window, and the same whatever the objects row shows."""
    x, y, w, _ = rect
    return (x, y, w, 40)


def same_picture(desktop, strip, picture):
    """Whether the screen shows picture (a grab of strip) there still, to a few pixels."""
    now = desktop.grab(strip)
    x, y, w, h = strip
    differing = sum(1 for py in range(y, y + h, 2) for px in range(x, x + w, 2) if now.pixel(px, py) != picture.pixel(px, py))
    return differing <= (w // 2) * (h // 2) // 50


def focus_row(desktop, rows_down):
    """Moves the keyboard to a control of the pop-over by Tab, from the first one: the design
    target is the first control that takes the keyboard, the objects pop-up the second."""
    for _ in range(rows_down + 1):
        desktop.input.key("Tab")


def question(desktop):
    """The alert the switch to fixed objects asks, once shown."""
    def found():
        for w in desktop.windows():
            if w.find("label", QUESTION) or w.find(name=QUESTION):
                return w
        return None
    return kd.wait_until(found, f"the alert {QUESTION!r}")


def answer(desktop, alert, button):
    desktop.screenshot(f"question-before-{button}")
    desktop.click(desktop.wait_for(alert, "push button", button, f"the alert's {button!r} button"))
    kd.wait_until(lambda: not desktop.app_running() or not any(w.find(name=QUESTION) or w.find("label", QUESTION)
                                                               for w in desktop.windows()), "the alert to close")
    kd.check(desktop.app_running(), f"the application ended (status {desktop.app.returncode}) after {button!r} "
             "was clicked in the alert")


def close_settings(desktop, rect):
    desktop.input.key("Escape")
    kd.wait_until(lambda: not settings_shown(desktop, rect), "the Project Settings pop-over to close")


def switch_and_answer(desktop, window, folder, how, button, expected):
    rect = open_settings(desktop, window, how)
    desktop.screenshot(f"settings-open-{how}")
    strip = top_strip(rect)
    opened = desktop.grab(strip)
    focus_row(desktop, 1)
    x, y, w, _ = rect
    objects_row = (x, y + 40, w, 30)
    customized = None
    if how == "toolbar":
        # Down: the second entry, per-device customizations; no question asked.
        before = desktop.grab(objects_row)
        desktop.input.key("Down")
        kd.wait_until(lambda: not same_picture(desktop, objects_row, before), "the objects pop-up to change")
        desktop.screenshot("objects-customized")
        customized = desktop.grab(objects_row)
    # Up: back to fixed objects, which asks first.
    desktop.input.key("Up")
    alert = question(desktop)
    # The pop-over stays up under the question.
    kd.check(same_picture(desktop, strip, opened), "the Project Settings pop-over went away under the question")
    answer(desktop, alert, button)
    kd.wait_until(lambda: settings_shown(desktop, rect), f"the Project Settings pop-over back after {button!r}")
    desktop.screenshot(f"answered-{button}")
    if customized is not None and button == "Cancel":
        kd.wait_until(lambda: same_picture(desktop, objects_row, customized),
                      "the objects pop-up to show per-device customizations again after Cancel")
    close_settings(desktop, rect)
    kd.check(desktop.app_running(), "the application ended")
    saved = kd.save(desktop, window, folder)
    value = setting(saved, "autoAdjustObjects")
    kd.check(value == expected, f"after {button!r} project.xml has autoAdjustObjects={value!r}, expected {expected!r}")
    desktop.log(f"{button}: autoAdjustObjects={value} saved")


def add_device(desktop, window):
    """Edit > Preferences…, Devices: a new device, renamed; the preferences closed again."""
    title = re.compile(r"^Preferences\b")
    desktop.menu(window, "Edit", "Preferences…")
    preferences = desktop.window(title)
    # The pane items sit on a toolbar that assistive tools announce by a readable name.
    bar = desktop.wait_for(preferences, "tool bar", what="the preferences' toolbar")
    kd.check(bar.name == "Preference Panes", f"the preferences' toolbar is announced as {bar.name!r}")
    desktop.click(desktop.wait_for(bar, "check box", "Devices", "the preferences' Devices item"))
    table = desktop.wait_for(preferences, "table", what="the devices table")
    desktop.click(desktop.wait_for(preferences, "push button", "+", "the add-device button"))
    cell = kd.wait_until(lambda: table.find("table cell", "Device"), "the new device's row")
    desktop.input.double_click(*cell.center)
    desktop.input.key("ctrl+a")
    desktop.input.type(DEVICE_NAME)
    desktop.input.key("Return")
    kd.wait_until(lambda: table.find("table cell", DEVICE_NAME), f"the device named {DEVICE_NAME!r}")
    desktop.screenshot("device-added")
    desktop.close_by_title_bar(preferences)
    kd.wait_until(lambda: not any(title.search(name) for _, name in desktop.managed_windows()),
                  "the preferences to close")


def device_popup(window):
    canvas = kd.wait_until(lambda: window.find(name="Design Surface"), "the design surface")
    # The header's first pop-up names the device; the other one is the zoom.
    return kd.wait_until(lambda: canvas.find("combo box", predicate=lambda n: not n.name.endswith("%")),
                         "the device pop-up")


def devices_listed(desktop, window):
    popup = device_popup(window)
    desktop.click(popup)
    names = kd.wait_until(lambda: [n.name for n in popup.find_all("list item")], "the device pop-up's entries")
    desktop.screenshot("device-popup-open")
    desktop.input.key("Escape")
    return names


def settings_alerts_and_devices(desktop):
    desktop.launch()
    untitled = kd.project_window(desktop, "Untitled")
    kd.close_gallery(desktop)
    window, folder = kd.new_project(desktop, untitled, "Settings")
    surface = kd.design_surface(desktop, window)
    kd.check_page_drawn(desktop, surface)

    # Customized, then back to fixed: Cancel keeps the customizations.
    switch_and_answer(desktop, window, folder, "toolbar", "Cancel", "true")
    # Ctrl+, opens it again (customized still); back to fixed, discarding them this time.
    switch_and_answer(desktop, window, folder, "key", "Discard Customizations", "false")

    # A device of the user's own is offered on the design surface.
    add_device(desktop, window)
    desktop.activate_if_needed(window)
    names = devices_listed(desktop, window)
    kd.check(DEVICE_NAME in names, f"the device pop-up lists {names}, not the added device {DEVICE_NAME!r}")

    # Chosen in Project Settings (the last design target), the pop-up names it.
    rect = open_settings(desktop, window, "key")
    focus_row(desktop, 0)
    desktop.input.key("End")
    kd.wait_until(lambda: device_popup(window).name == DEVICE_NAME,
                  f"the device pop-up to name {DEVICE_NAME!r}")
    desktop.screenshot("device-chosen")
    close_settings(desktop, rect)
    saved = kd.save(desktop, window, folder)
    target = setting(saved, "designTarget")
    kd.check(target == "device1", f"project.xml has designTarget={target!r}, not the added device1")


if __name__ == "__main__":
    sys.exit(kd.run([settings_alerts_and_devices]))
