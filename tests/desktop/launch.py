#!/usr/bin/env python3
"""Launch: the untitled project opens with its page drawn on the design surface."""

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


if __name__ == "__main__":
    sys.exit(kd.run([launch_shows_the_page]))
