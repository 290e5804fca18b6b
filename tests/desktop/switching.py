#!/usr/bin/env python3
"""Window switching keys: Alt+Tab that reaches the application leaves the design surface alone."""

import sys

import krdesktop as kd


def window_switch_keys_leave_the_page(desktop):
    """Alt+Tab that reaches the application (its window manager has not taken the keys yet, or
    binds other ones) leaves the page's selection alone; Tab alone walks the controls."""
    desktop.launch()
    window = kd.project_window(desktop, "Untitled")
    kd.close_gallery(desktop)
    surface = kd.design_surface(desktop, window)
    kd.check_page_drawn(desktop, surface)
    kd.drag_from_palette(desktop, window, surface, "KRLabel", 40, 120)
    kd.wait_inspected(desktop, window, "label1")
    kd.drag_from_palette(desktop, window, surface, "KRLabel", 40, 220)
    kd.wait_inspected(desktop, window, "label2")
    kd.click_page(desktop, surface, 50, 130)
    kd.wait_inspected(desktop, window, "label1", "a click on label1 to select it")
    for combo in ("alt+Tab", "alt+shift+Tab"):
        desktop.input.key(combo)
        # Tab alone then walks on from the same object: had the combination walked the page,
        # Tab would land elsewhere.
        desktop.input.key("Tab")
        kd.wait_inspected(desktop, window, "label2", f"Tab after {combo} to select label2")
        desktop.input.key("shift+Tab")
        kd.wait_inspected(desktop, window, "label1", f"Shift+Tab after {combo} to select label1")
    desktop.screenshot("selection-kept")


window_switch_keys_leave_the_page.window_manager_keys = False


if __name__ == "__main__":
    sys.exit(kd.run([window_switch_keys_leave_the_page]))
