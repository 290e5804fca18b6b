#!/usr/bin/env python3
"""The online paths against a stand-in hosting service the journey runs itself on the loopback,
with the service address on "localhost" and its port: the news feed it names arrives and shows
at a readable size, its unread badge inside the News button; the preferences' help buttons
stand by their settings and show their help; "Forgot Password" opens the service's password
page; a problem report reaches the service. Then, without a service address, reports that
cannot be sent say why and are kept."""

import base64
import io
import json
import os
import re
import sys
import urllib.parse
import zipfile

import krdesktop as kd

NEWS_TITLES = ["Spring release", "Faster builds", "New controls"]
# The badge's fill (KRBadgeView), and how far from it a drawn pixel may be.
BADGE_RED = (224, 84, 69)
PROBLEM = "The palette shows no controls after a rebuild."


def rss():
    items = "".join(
        f"<item><title>{title}</title><description>&lt;p&gt;About {title.lower()}.&lt;/p&gt;</description>"
        f"<published>Tue Dec 01 10:30:00 +0000 2026</published>"
        f"<link>https://news.example.invalid/{n}</link></item>"
        for n, title in enumerate(NEWS_TITLES))
    return ("<?xml version=\"1.0\"?><rss version=\"2.0\"><channel><title>News</title>"
            f"<link>https://news.example.invalid/</link>{items}</channel></rss>").encode()


class StandIn(kd.StandInService):
    """The hosting service: the JSON calls at /api.php?method=NAME and the news feed at
    /feed.xml, every request kept (method, path, call name, body)."""

    def __init__(self):
        super().__init__(StandInHandler)


class StandInHandler(kd.StandInHandler):
    def reply(self, path, call):
        if path == "/api.php":
            replies = {
                "feedURL": {"result": "OK", "feedURL": "feed.xml"},
                "sampleGallery": {"result": "OK", "samples": []},
                "crashReport": {"result": "OK"},
            }
            reply = replies.get(call, {"result": "ERR", "errortext": f"unknown method {call!r}"})
            self.answer(json.dumps(reply).encode(), "application/json")
        elif path == "/feed.xml":
            self.answer(rss(), "application/rss+xml")
        else:
            self.send_error(404)


def reddish(colour):
    return kd.near(colour, BADGE_RED, 40)


def badge_inside_the_news_button(desktop, window):
    """Once the feed has arrived the News button carries the unread count as a red badge, drawn
    whole inside the button: none of its red lies outside the button, next to it or above it."""
    button = desktop.wait_for(window, "push button", "News", "the toolbar's News button")
    x, y, w, h = button.rect
    around = (x - 30, y - 20, w + 60, h + 40)

    def badge_box():
        image = desktop.grab(around)  # cut to the screen
        points = [(px, py) for py in range(image.y, image.y + image.height)
                  for px in range(image.x, image.x + image.width) if reddish(image.pixel(px, py))]
        if len(points) < 20:
            return None
        xs, ys = [p[0] for p in points], [p[1] for p in points]
        return (min(xs), min(ys), max(xs) - min(xs) + 1, max(ys) - min(ys) + 1)
    bx, by, bw, bh = kd.wait_until(badge_box, "the unread badge on the News button")
    desktop.screenshot("news-badge")
    desktop.log(f"News button {button.rect}, badge {(bx, by, bw, bh)}")
    kd.check(bw >= 10 and bh >= 8, f"the badge is cut to {bw}x{bh} px")
    kd.check(x <= bx and bx + bw <= x + w and y <= by and by + bh <= y + h,
             f"the badge {(bx, by, bw, bh)} runs outside its button {button.rect}")
    return button


def news_popover(desktop, window, button):
    """The news opens under the button at a readable size and shows the feed's items."""
    desktop.activate_if_needed(window)
    number, (x, y, w, h) = kd.popup_brought_up(desktop, lambda: desktop.click(button), "the news pop-over", 20)
    desktop.log(f"news pop-over {w}x{h} at {(x, y)}")
    kd.wait_until(lambda: kd.grab_count(desktop, (x + 10, y + 10, w - 20, h - 20), lambda c: sum(c) / 3 < 100) >= 40,
                  "the news drawn in the pop-over")
    desktop.screenshot("news-popover")
    kd.check(w >= 300 and h >= 250, f"the news pop-over is {w}x{h} px, too small to read")
    # A click on the page gives it the keyboard; Escape still closes the pop-over.
    desktop.input.click(x + w // 2, y + h * 3 // 4)
    desktop.input.key("Escape")
    kd.wait_until(lambda: number not in desktop.override_windows(), "the news pop-over to close")


def preferences_pane(desktop, window, pane):
    title = re.compile(r"^Preferences\b")
    if not any(title.search(name) for _, name in desktop.managed_windows()):
        desktop.menu(window, "Edit", "Preferences…")
    preferences = desktop.window(title)
    desktop.activate_if_needed(preferences)
    desktop.click(desktop.wait_for(preferences, "check box", pane, f"the preferences' {pane} item"))
    desktop.window(re.compile(rf"^Preferences : {pane}$"))
    return desktop.window(title)


def text_lines(desktop, rect):
    """The lines of dark text drawn in rect: (top, bottom, left, right) of each band of rows
    holding dark pixels, relative to rect."""
    image = desktop.grab(rect)
    lines, current = [], None
    for row in range(image.height):
        xs = [column for column in range(image.width)
              if sum(image.pixel(image.x + column, image.y + row)) / 3 < 110]
        if xs:
            if current is None:
                current = [row, row, min(xs), max(xs)]
            else:
                current[1], current[2], current[3] = row, min(current[2], min(xs)), max(current[3], max(xs))
        elif current is not None:
            lines.append(tuple(current))
            current = None
    if current is not None:
        lines.append(tuple(current))
    return lines


def open_help(desktop, preferences, setting_name):
    """Rests the pointer on a setting, clicks the help button that shows on its row, and returns
    the lines of the help shown (see text_lines); the help is closed again."""
    setting = desktop.wait_for(preferences, "check box", setting_name)
    sx, sy, sw, sh = setting.rect
    desktop.input.glide(sx + 30, sy + sh // 2)

    def help_button():
        return preferences.find("push button", "Help", predicate=lambda n: n.rect[0] > sx
                                and sy <= n.center[1] < sy + sh)
    button = kd.wait_until(help_button, f"a help button on the row of {setting_name!r}")
    bx, by = button.center
    desktop.input.glide(bx, by)
    number, (x, y, w, h) = kd.popup_brought_up(desktop, lambda: desktop.input.click(bx, by),
                                               f"the help of {setting_name!r}")
    # The help's text: a heading and at least one line under it, the same in two looks.
    body = (x + 12, y + 12, w - 24, h - 24)
    kd.wait_until(lambda: (lambda a: len(a) >= 2 and a == text_lines(desktop, body))(text_lines(desktop, body)),
                  f"the help of {setting_name!r} drawn")
    lines = text_lines(desktop, body)
    desktop.screenshot(f"help {setting_name}")
    desktop.log(f"help of {setting_name!r}: lines {lines}")
    desktop.input.key("Escape")
    kd.wait_until(lambda: number not in desktop.override_windows(), "the help to close")
    return lines


def help_by_setting(desktop, window):
    """The help buttons stand on their settings' rows, show while the pointer rests there, and
    each shows its own setting's help: that of "Check the syntax before building" is not the one
    of "Minify the generated script" (before, every button sat in the pane's corner, and the one
    clicked there was always the last one's)."""
    preferences = preferences_pane(desktop, window, "JavaScript")
    syntax = open_help(desktop, preferences, "Check the syntax before building")
    minify = open_help(desktop, preferences, "Minify the generated script")
    kd.check(syntax != minify, "the two settings show the same help")
    # Each help's heading names its topic: "Check Syntax" is half as long again as "Minimize".
    def width(line):
        return line[3] - line[2] + 1
    kd.check(width(syntax[0]) > 1.3 * width(minify[0]),
             f"the heading of the syntax help is {width(syntax[0])} px wide, the minifier's {width(minify[0])} px: "
             "the syntax setting does not show its own help")


def forgot_password(desktop, window, service, record):
    """"Forgot Password" in Preferences, Hosting opens the service's password page."""
    preferences = preferences_pane(desktop, window, "Hosting")
    button = desktop.wait_for(preferences, "push button", "Forgot Password")
    desktop.screenshot("hosting")
    desktop.click(button)
    pages = kd.wait_until(lambda: kd.opened(record), "the browser to be asked for the password page")
    desktop.log(f"opened {pages}")
    page = urllib.parse.urlsplit(pages[-1])
    kd.check(page.scheme == "http" and page.hostname == "localhost" and page.port == service.port
             and "password" in page.path, f"\"Forgot Password\" opened {pages[-1]!r}, not the service's password page")
    desktop.close_by_title_bar(preferences)
    title = re.compile(r"^Preferences\b")
    kd.wait_until(lambda: not any(title.search(name) for _, name in desktop.managed_windows()),
                  "the preferences to close")


def problem_report(desktop, window, service):
    """Help > Send Problem Report…: the description typed reaches the service inside the report."""
    desktop.menu(window, "Help", "Send Problem Report…")
    report = desktop.window("Send Report")
    desktop.activate_if_needed(report)
    text = desktop.wait_for(report, "text", what="the description field",
                            predicate=lambda n: n.rect[3] > 60)
    desktop.click(text)
    desktop.input.type(PROBLEM)
    desktop.click(desktop.wait_for(report, "push button", "Send"))
    call = kd.wait_until(lambda: service.calls("crashReport"), "the problem report at the service")[-1]
    arguments = json.loads(call["body"])
    kd.check(arguments.get("problemReportMode") == "true", f"the report is not marked a problem report: {arguments.keys()}")
    archive = zipfile.ZipFile(io.BytesIO(base64.b64decode(arguments["crashReportBase64"])))
    information = archive.read("user-information.txt").decode()
    kd.check(PROBLEM in information, f"the report says {information!r}")
    # The thanks stay a second before the window closes: a slow look may find it closed already,
    # which counts only when the run log says that the report went out.
    kd.wait_until(lambda: report.find("label", "Thanks!")
                  or (not report.showing() and "Problem report sent" in run_log(desktop)), "the thanks for the report")
    kd.check("The report could not be sent" not in run_log(desktop), "the run log says that the report could not be sent")
    desktop.screenshot("report-sent")
    kd.wait_until(lambda: not any(w.name == "Send Report" for w in desktop.windows()), "the report window to close")


def online(desktop):
    service = StandIn()
    try:
        kd.point_at_service(desktop, service.port)
        record = kd.catch_the_opener(desktop)
        desktop.launch()
        window = kd.project_window(desktop, "Untitled")
        kd.close_gallery(desktop)
        # The service address keeps its port: the feed it names is fetched from the stand-in.
        kd.wait_until(lambda: service.calls("feedURL"), "the news controller to ask for the feed's address")
        kd.wait_until(lambda: service.fetched("/feed.xml"), "the feed fetched from the stand-in at localhost")
        button = badge_inside_the_news_button(desktop, window)
        news_popover(desktop, window, button)
        help_by_setting(desktop, window)
        forgot_password(desktop, window, service, record)
        problem_report(desktop, window, service)
        kd.check(desktop.quit_app() == 0, "the application did not quit cleanly")
    finally:
        service.stop()
    unsent_reports(desktop)


class Titled:
    """A top-level window known only by its title (as the window manager knows it)."""

    def __init__(self, name):
        self.name = name


def run_log(desktop):
    folder = os.path.join(desktop.env["XDG_STATE_HOME"], "Korvane")
    text = ""
    for name in sorted(os.listdir(folder)) if os.path.isdir(folder) else []:
        if name.endswith(".log") and not name.endswith(".old.log"):
            with open(os.path.join(folder, name), errors="replace") as log:
                text += log.read()
    return text


def label_saying(window, phrase):
    return window.find("label", predicate=lambda n: phrase in n.name)


def unsent_reports(desktop):
    """Then, with the service address taken away: the crash report of the last run, offered at start, cannot be
    sent; the window stays, and closed it keeps the report without offering it again at the next
    start. A problem report that cannot be sent says that no service address is set and where to
    set one, instead of blaming the connection, and keeps the description typed."""
    config = os.path.join(desktop.env["XDG_CONFIG_HOME"], "Korvane", "Korvane.conf")
    with open(config, "w") as out:
        out.write("[General]\napiURL=\n")
    reports = os.path.join(desktop.env["XDG_DATA_HOME"], "Korvane", "CrashReports")
    os.makedirs(reports, exist_ok=True)
    pending = os.path.join(reports, "pending.krcrash")
    with open(pending, "w") as out:
        out.write("KRCRASH 1\nSignal: 11 SIGSEGV\nBacktrace:\nMaps:\nEnd\n")

    # The report window comes up before the application's windows: it is found through the
    # window manager and worked with the mouse.
    desktop.app = desktop._spawn("korvane", [desktop.app_path], cwd=desktop.home)
    crash = Titled("Korvane Crash Report")
    kd.wait_until(lambda: any(title == crash.name for _, title in desktop.managed_windows()),
                  "the crash report offered at start", kd.LAUNCH_TIMEOUT)
    kd.wait_until(lambda: desktop.app_root(), "the application on the accessibility bus", kd.LAUNCH_TIMEOUT)
    (x, y, w, h), (left, right, top, bottom) = desktop.frame(crash)
    client = (x + left, y + top, w - left - right, h - top - bottom)
    kd.wait_until(lambda: kd.grab_count(desktop, (client[0] + client[2] - 120, client[1] + client[3] - 40, 110, 30),
                                        lambda c: sum(c) / 3 < 90) >= 10, "the report window's buttons drawn")
    # Send is the last of the buttons, at the window's bottom right corner.
    desktop.input.click(client[0] + client[2] - 45, client[1] + client[3] - 24)
    kd.wait_until(lambda: "The report could not be sent" in run_log(desktop), "the report to fail to go out")
    desktop.screenshot("crash-report-not-sent")
    # Closing the window keeps the report for later: only Discard throws it away.
    desktop.close_by_title_bar(crash)
    window = kd.project_window(desktop, "Untitled")
    kd.check(os.path.exists(pending), "the crash report kept for later is gone")
    kd.close_gallery(desktop)

    desktop.menu(window, "Help", "Send Problem Report…")
    report = desktop.window("Send Report")
    desktop.activate_if_needed(report)
    text = desktop.wait_for(report, "text", what="the description field", predicate=lambda n: n.rect[3] > 60)
    desktop.click(text)
    desktop.input.type(PROBLEM)
    desktop.click(desktop.wait_for(report, "push button", "Send"))
    said = kd.wait_until(lambda: label_saying(report, "could not be sent"), "the problem report's failure")
    desktop.screenshot("problem-report-not-sent")
    kd.check("no service address is set" in said.name and "connection" not in said.name,
             f"the problem report window says {said.name!r}")
    kd.check(report.find("text", predicate=lambda n: PROBLEM in n.text()) is not None,
             "the description typed is gone")
    desktop.click(desktop.wait_for(report, "push button", "Cancel"))
    kd.wait_until(lambda: not any(w.name == "Send Report" for w in desktop.windows()), "the report window to close")
    kd.check(desktop.quit_app() == 0, "the application did not quit cleanly")

    # The next start goes straight to the project window; the report is still kept.
    desktop.app = desktop._spawn("korvane", [desktop.app_path], cwd=desktop.home)
    first = kd.wait_until(lambda: next((title for _, title in desktop.managed_windows()
                                        if title in (crash.name, "Untitled")), None),
                          "the next start's first window", kd.LAUNCH_TIMEOUT)
    kd.check(first == "Untitled", "the crash report kept for later is offered again at the next start")
    kd.wait_until(lambda: desktop.app_root(), "the application on the accessibility bus", kd.LAUNCH_TIMEOUT)
    kd.project_window(desktop, "Untitled")
    kd.check(os.path.exists(pending), "the crash report kept for later is gone")
    desktop.screenshot("next-start")
    kd.check(desktop.quit_app() == 0, "the application did not quit cleanly")


if __name__ == "__main__":
    sys.exit(kd.run([online]))
