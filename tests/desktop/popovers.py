#!/usr/bin/env python3
"""What a window opened goes with it: Ctrl+Q quits while Project Settings is open, and Ctrl+Q and
Alt+F4 still work once one of its pop-up lists has been used (the list's control keeping the
keyboard); the window
closed from the window manager with "Don't Save" takes the colour panel it opened along, and
the Project Settings pop-over does not come back over what is behind; the gallery comes back
once the last project window has closed."""

import sys
import time

import krdesktop as kd

SAVE_QUESTION = "Do you want to save the changes"
# Pop-ups this size or smaller (tool tips and the like) are not the Project Settings pop-over.
POP_OVER_SMALLEST = 200


def close_by_window_manager(desktop, window):
    """Asks the window manager to close a window, as a task bar's Close does
    (_NET_CLOSE_WINDOW): no input, so a pop-up that holds the mouse and keys does not stop it."""
    from Xlib import X, protocol
    d = desktop.display
    target = desktop.managed_window(window)
    message = protocol.event.ClientMessage(window=target, client_type=d.intern_atom("_NET_CLOSE_WINDOW"),
                                           data=(32, [X.CurrentTime, 2, 0, 0, 0]))
    d.screen().root.send_event(message, event_mask=X.SubstructureRedirectMask | X.SubstructureNotifyMask)
    d.sync()


def close_without_saving(desktop, project):
    """Closes the project window from the window manager and answers "Don't Save"; waits for the
    gallery, which comes back once the last project window has gone."""
    close_by_window_manager(desktop, project)
    question = kd.wait_until(lambda: kd.alert_saying(desktop, SAVE_QUESTION), "the question to save the changes")
    desktop.screenshot("closing-asks")
    desktop.click(desktop.wait_for(question, "push button", "Don’t Save", "the Don't Save button"))
    kd.wait_until(lambda: not any(title == "Untitled" for _, title in desktop.managed_windows()),
                  "the project window to close")
    gallery = desktop.window("Korvane")
    kd.wait_until(lambda: gallery.find("label", "Sample Gallery"), "the gallery after the last project closed")
    desktop.screenshot("gallery-back")


def open_settings(desktop, window):
    desktop.activate_if_needed(window)
    _, rect = kd.popup_brought_up(desktop, lambda: desktop.input.key("ctrl+comma"),
                                  "the Project Settings pop-over", POP_OVER_SMALLEST)
    x, y, w, h = rect
    kd.wait_until(lambda: kd.grab_count(desktop, (x + 20, y + 10, w - 40, 60), lambda c: sum(c) / 3 < 90) >= 30,
                  "the settings drawn in the pop-over")
    return rect


def use_a_popup_list(desktop, rect):
    """Opens the design target's pop-up list from the keyboard and chooses the entry it shows
    (nothing changes); the list's control keeps the keyboard."""
    desktop.input.key("Tab")  # the design target, the first control that takes the keyboard
    before = set(kd.big_popups(desktop, 20))
    desktop.input.key("alt+Down")
    shown = kd.wait_until(lambda: set(kd.big_popups(desktop, 20)) - before, "the design target's list")
    desktop.screenshot("popover-list-open")
    desktop.input.key("Return")
    kd.wait_until(lambda: not (shown & set(kd.big_popups(desktop, 20))), "the list to close")
    kd.check(settings_up(desktop, rect), "choosing in the list closed Project Settings")


def settings_up(desktop, rect):
    return any(r == rect for r in kd.big_popups(desktop, POP_OVER_SMALLEST).values())


def settings_after_a_popup_list(desktop):
    """Starts Korvane and opens Project Settings with one of its pop-up lists used; the settings'
    place on screen."""
    desktop.launch()
    project = kd.project_window(desktop, "Untitled")
    kd.close_gallery(desktop)
    kd.check_page_drawn(desktop, kd.design_surface(desktop, project))
    rect = open_settings(desktop, project)
    use_a_popup_list(desktop, rect)
    return rect


def command_keys_after_a_popup_list(desktop):
    """Ctrl+Q quits, and Alt+F4 closes the window, while Project Settings is open with the
    keyboard in a control whose list has been used."""
    settings_after_a_popup_list(desktop)
    status = desktop.quit_app()
    kd.check(status == 0, f"the application quit with status {status} on Ctrl+Q after a pop-up list was used")

    rect = settings_after_a_popup_list(desktop)
    desktop.input.key("alt+F4")
    kd.wait_until(lambda: not any(title == "Untitled" for _, title in desktop.managed_windows()),
                  "Alt+F4 to close the project window after a pop-up list was used")
    kd.check(not settings_up(desktop, rect), "Project Settings stayed up after its window closed")
    gallery = desktop.window("Korvane")
    kd.wait_until(lambda: gallery.find("label", "Sample Gallery"), "the gallery after the project window closed")
    desktop.screenshot("alt-f4-closed-window")
    desktop.quit_app()


def popovers_go_with_their_window(desktop):
    desktop.launch()
    project = kd.project_window(desktop, "Untitled")
    kd.close_gallery(desktop)
    kd.check_page_drawn(desktop, kd.design_surface(desktop, project))

    # Ctrl+Q quits while Project Settings is open.
    open_settings(desktop, project)
    desktop.screenshot("settings-open-before-quit")
    status = desktop.quit_app()
    kd.check(status == 0, f"the application quit with status {status}")
    command_keys_after_a_popup_list(desktop)

    # The colour panel open for the page's colour (an unsaved change); the window closed from
    # the window manager with "Don't Save": the panel goes with it.
    desktop.launch()
    project = kd.project_window(desktop, "Untitled")
    kd.close_gallery(desktop)
    kd.check_page_drawn(desktop, kd.design_surface(desktop, project))
    row = kd.inspector_row(desktop, project, "color")
    desktop.click(desktop.wait_for(row, "check box", "Default", "the page colour's Default box"))
    well = kd.wait_until(lambda: kd.inspector_row(desktop, project, "color").find(
        "push button", predicate=lambda n: n.rect[2] > 30), "the colour well")
    desktop.click(well)
    desktop.window("Colors")
    close_without_saving(desktop, project)
    kd.check(not any(title == "Colors" for _, title in desktop.managed_windows()),
             "the colour panel stayed after its window closed")
    desktop.quit_app()

    # An unsaved change made in Project Settings; the window closed from the window manager
    # with "Don't Save": the pop-over does not come back.
    desktop.launch()
    project = kd.project_window(desktop, "Untitled")
    kd.close_gallery(desktop)
    kd.check_page_drawn(desktop, kd.design_surface(desktop, project))
    rect = open_settings(desktop, project)
    before = desktop.grab((rect[0], rect[1] + 40, rect[2], 30))
    for _ in range(2):  # the objects pop-up, the second control that takes the keyboard
        desktop.input.key("Tab")
    desktop.input.key("Down")
    kd.wait_until(lambda: desktop.grab((rect[0], rect[1] + 40, rect[2], 30)).bgrx != before.bgrx,
                  "the objects pop-up to change")
    close_without_saving(desktop, project)
    deadline = time.monotonic() + 3
    while time.monotonic() < deadline:
        shown = kd.big_popups(desktop, POP_OVER_SMALLEST)
        if shown:
            desktop.screenshot("popover-came-back")
        kd.check(not shown, f"a pop-over shows after its window closed: {shown}")
        time.sleep(0.1)
    desktop.screenshot("closed-without-popover")


if __name__ == "__main__":
    sys.exit(kd.run([popovers_go_with_their_window]))
