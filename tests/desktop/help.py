#!/usr/bin/env python3
"""Every topic of the Help menu: with a service address set, Korvane Documentation (also F1),
Korvane Blog, Version History, Follow Korvane News and Check for Updates each open their own
page of the service's site in the browser; Inspiration and About Korvane show their window with
its text, which Escape and Ctrl+W close. Without a service address, each site topic says that
none is set and opens nothing."""

import os
import sys
import urllib.parse

import krdesktop as kd
from service import alert_saying, dismiss

# The Help menu's site topics and the page of the site each opens.
SITE_TOPICS = [
    ("Korvane Documentation", "/docs"),
    ("Korvane Blog", "/blog"),
    ("Version History", "/blog/version-history.html"),
    ("Follow Korvane News", "/news"),
    ("Check for Updates…", "/download"),
]


class StandIn(kd.StandInService):
    def __init__(self):
        super().__init__(kd.StandInHandler)


def opened_page(desktop, record, count, what):
    """Waits for the opener's next address and returns it parsed."""
    address = kd.wait_until(lambda: (lambda o: o[count] if len(o) > count else None)(kd.opened(record)), what)
    return urllib.parse.urlsplit(address)


def html_window(desktop, title):
    """The application's page window titled title, once its page shows text."""
    window = desktop.window(title)
    kd.wait_until(lambda: window.find("label", predicate=lambda n: len(n.name) > 20), f"the text of {title!r}")
    desktop.screenshot(title.lower().replace(" ", "-"))
    return window


def help_topics(desktop):
    service = StandIn()
    try:
        kd.point_at_service(desktop, service.port)
        record = kd.catch_the_opener(desktop)
        desktop.launch()
        window = kd.project_window(desktop, "Untitled")
        kd.close_gallery(desktop)
        site = f"localhost:{service.port}"
        for count, (topic, page) in enumerate(SITE_TOPICS):
            desktop.menu(window, "Help", topic)
            url = opened_page(desktop, record, count, f"{topic!r} to open its page")
            kd.check(url.scheme in ("http", "https") and url.netloc == site and url.path == page,
                     f"{topic!r} opened {urllib.parse.urlunsplit(url)!r}, not {page} on {site}")
        desktop.activate_if_needed(window)
        desktop.input.key("F1")
        url = opened_page(desktop, record, len(SITE_TOPICS), "F1 to open the documentation")
        kd.check(url.path == "/docs", f"F1 opened {urllib.parse.urlunsplit(url)!r}")

        # Each closes from the keyboard, as a window that only shows something does.
        for topic, close in (("Inspiration", "Escape"), ("About Korvane", "ctrl+w")):
            desktop.menu(window, "Help", topic)
            shown = html_window(desktop, topic)
            desktop.activate_if_needed(shown)
            desktop.input.key(close)
            kd.wait_until(lambda: not any(w.name == topic for w in desktop.windows()), f"{close} to close {topic!r}")
        kd.check(desktop.quit_app() == 0, "the application did not quit cleanly")

        # Without a service address the site topics say so and open nothing.
        os.remove(os.path.join(desktop.env["XDG_CONFIG_HOME"], "Korvane", "Korvane.conf"))
        desktop.launch()
        window = kd.project_window(desktop, "Untitled")
        kd.close_gallery(desktop)
        before = len(kd.opened(record))
        for topic, _ in SITE_TOPICS:
            desktop.menu(window, "Help", topic)
            alert, _ = alert_saying(desktop, "No service address is set", f"{topic!r} to say that no service address is set")
            dismiss(desktop, alert)
        desktop.screenshot("no-service-address")
        kd.check(len(kd.opened(record)) == before, f"the opener was run with {kd.opened(record)[before:]}")
    finally:
        service.stop()


if __name__ == "__main__":
    sys.exit(kd.run([help_topics]))
