#!/usr/bin/env python3
"""Quitting leaves no question answered for the user: Ctrl+Q in the project window while the
preferences ask "Remove Device?" quits without removing the device; Return and Escape answer
that question with "Keep Device", only its button removes the device."""

import os
import re
import sys
import time

import krdesktop as kd

PREFERENCES = re.compile(r"^Preferences\b")
REMOVE_QUESTION = "Remove Device?"


def stored_devices(desktop):
    """The devices line of the settings file the application wrote, or None."""
    path = os.path.join(desktop.env["XDG_CONFIG_HOME"], "Korvane", "Korvane.conf")
    with open(path, encoding="utf-8") as settings:
        return next((line for line in settings if line.startswith("userDevices=")), None)


def open_devices(desktop, window):
    desktop.menu(window, "Edit", "Preferences…")
    preferences = desktop.window(PREFERENCES)
    desktop.click(desktop.wait_for(preferences, "check box", "Devices", "the preferences' Devices item"))
    table = desktop.wait_for(preferences, "table", what="the devices table")
    return preferences, table


def ask_to_remove(desktop, preferences, table):
    """Selects the device and clicks the remove button; returns the question."""
    cell = kd.wait_until(lambda: table.find("table cell", "Device"), "the device's row")
    desktop.click(cell)
    desktop.click(desktop.wait_for(preferences, "push button", "−", "the remove-device button"))
    return kd.wait_until(lambda: kd.alert_saying(desktop, REMOVE_QUESTION), f"the question {REMOVE_QUESTION!r}")


def questions_are_not_answered_by_quitting(desktop):
    desktop.launch()
    project = kd.project_window(desktop, "Untitled")
    kd.close_gallery(desktop)
    preferences, table = open_devices(desktop, project)
    desktop.click(desktop.wait_for(preferences, "push button", "+", "the add-device button"))
    kd.wait_until(lambda: table.find("table cell", "Device"), "the new device's row")
    kd.wait_until(lambda: stored_devices(desktop), "the new device stored")

    # The question is up on the preferences; Ctrl+Q in the project window quits without
    # removing the device.
    ask_to_remove(desktop, preferences, table)
    desktop.screenshot("remove-device-asked")
    desktop.bring_to_front(project)
    status = desktop.quit_app()
    kd.check(status == 0, f"the application quit with status {status}")
    kd.check(stored_devices(desktop), "quitting while 'Remove Device?' was open removed the device")

    # Return and Escape keep the device; only the button removes it.
    desktop.launch()
    project = kd.project_window(desktop, "Untitled")
    kd.close_gallery(desktop)
    preferences, table = open_devices(desktop, project)
    for key in ("Return", "Escape"):
        question = ask_to_remove(desktop, preferences, table)
        desktop.screenshot(f"remove-device-{key}")
        desktop.input.key(key)
        kd.wait_until(lambda: not kd.alert_saying(desktop, REMOVE_QUESTION), f"the question to close on {key}")
        time.sleep(0.3)
        kd.check(table.find("table cell", "Device") and stored_devices(desktop),
                 f"{key} answered 'Remove Device?' by removing the device")
    question = ask_to_remove(desktop, preferences, table)
    desktop.click(desktop.wait_for(question, "push button", "Remove Device", "the Remove Device button"))
    kd.wait_until(lambda: not stored_devices(desktop), "the device removed by its button")
    desktop.close_by_title_bar(preferences)
    desktop.bring_to_front(project)
    desktop.quit_app()


if __name__ == "__main__":
    sys.exit(kd.run([questions_are_not_answered_by_quitting]))
