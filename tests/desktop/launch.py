#!/usr/bin/env python3
"""Launch: the untitled project opens with its page drawn on the design surface."""

import os
import sys

import krdesktop as kd


def launch_shows_the_page(desktop):
    desktop.launch()
    project = kd.project_window(desktop, "Untitled")
    kd.close_gallery(desktop)
    desktop.screenshot("untitled-window")
    # Within ten seconds of the window: the page's document and its background, not the
    # loading picture.
    surface = kd.design_surface(desktop, project, timeout=10)
    kd.check_page_drawn(desktop, surface, timeout=10)
    kd.check(surface.name == "Page 1", f"the design surface shows {surface.name!r}, not the page 'Page 1'")
    desktop.screenshot("untitled-page-drawn")
    # This display renders OpenGL on the CPU: the design surface is drawn like the other
    # widgets, so a window does not go through OpenGL whole each time a key is typed.
    log = os.path.join(desktop.env["XDG_STATE_HOME"], "Korvane", "com.korvane.Korvane.log")
    with open(log, encoding="utf-8", errors="replace") as lines:
        kd.check(any("Web views are drawn like the other widgets" in line for line in lines),
                 f"the run log {log} does not say how web views are drawn")


if __name__ == "__main__":
    sys.exit(kd.run([launch_shows_the_page]))
