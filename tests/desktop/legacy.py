#!/usr/bin/env python3
"""Projects written for jQuery Mobile 1.3, or naming no version: opened from the command line,
their page is drawn on the design surface with the shipped 1.4 library, the user is told so once
per project (and the run log at every opening), the exported page links the shipped library and
jQuery Mobile shows it, and a save keeps the version the file named. A project holding objects
of classes that are not known tells so in one alert naming each class once, and keeps them in
its file."""

import os
import re
import sys
import time

import krdesktop as kd

TOLD = re.compile(r"runs on jQuery Mobile 1\.4")
LOG_NAME = os.path.join(".local", "state", "Korvane", "com.korvane.Korvane.log")

PROJECT = """<?xml version="1.0" encoding="UTF-8"?>
<KRProjectDocument>
  <KRProject {version}designTarget="iPhone" startPage="home"/>
  <KRPages>
    <KRPage id="home" title="Old Home">
      <KRContents>
        <JQMButton id="goButton" top="80" left="10" width="300" height="50" value="Go ahead" theme="b"/>
        <KRLabel id="note" top="150" left="10" width="300" height="32">Written long ago</KRLabel>
      </KRContents>
    </KRPage>
  </KRPages>
</KRProjectDocument>
"""


def make_project(desktop, name, version):
    """A project folder in the documents folder whose KRProject names version (None: none)."""
    folder = os.path.join(desktop.home, "Documents", name + ".krproj")
    os.makedirs(os.path.join(folder, "kr-web"))
    attribute = f'JQMVersion="{version}" ' if version is not None else ""
    with open(os.path.join(folder, "project.xml"), "w", encoding="utf-8") as out:
        out.write(PROJECT.format(version=attribute))
    return folder


def notice(desktop):
    """The shown alert that tells which jQuery Mobile the project runs on, or None."""
    for window in desktop.windows():
        if window.find("label", TOLD):
            return window
    return None


def run_log(desktop):
    path = os.path.join(desktop.home, LOG_NAME)
    if not os.path.exists(path):
        return ""
    with open(path, encoding="utf-8", errors="replace") as f:
        return f.read()


def told_in_log(desktop, folder):
    return run_log(desktop).count(f"{folder}: This project ")


def open_project(desktop, folder, told):
    """Launches the application on the project; with told, the user is told of the version in an
    alert, which is answered; without, no alert comes. Returns the window once its page is drawn."""
    name = os.path.basename(folder)[:-len(".krproj")]
    logged = told_in_log(desktop, folder)
    desktop.launch(folder)
    window = kd.project_window(desktop, name)
    if told:
        alert = kd.wait_until(lambda: notice(desktop), "the alert telling that the project runs on jQuery Mobile 1.4")
        text = " ".join(n.name for n in alert.find_all("label"))
        kd.check("not shipped" in text, f"the alert does not say that the version is not shipped: {text!r}")
        desktop.screenshot(f"{name}-told")
        desktop.click(desktop.wait_for(alert, "push button", "OK", "the alert's OK button"))
        kd.wait_until(lambda: not notice(desktop), "the alert to close")
    desktop.activate_if_needed(window)
    surface = kd.design_surface(desktop, window)
    kd.check_page_drawn(desktop, surface)
    kd.wait_until(lambda: kd.element_with_text(surface, "Go ahead"), "the button drawn on the design surface")
    desktop.screenshot(f"{name}-drawn")
    kd.wait_until(lambda: told_in_log(desktop, folder) == logged + 1, "the run log line about the version")
    kd.check(not notice(desktop), "the user was told about the version again")
    return window


def check_export(desktop, window, site_name):
    """Exports the project and checks its page in a browser engine: it links the shipped
    jQuery Mobile, which shows it."""
    desktop.menu(window, "File", "Export as Web Application…")
    kd.choose_file(desktop, "Export as Web Application", site_name, "Export", new_folder=True)
    status = desktop.wait_for(window, "label", "Status", "the status line")
    done = kd.wait_until(lambda: (lambda t: t if t.startswith(("Exported to ", "Export ")) else None)(
        status.acc.description), "the status line to tell the export's end")
    kd.check(done.startswith("Exported to "), f"the export did not finish: {done!r}")
    site = done[len("Exported to "):]
    kd.check(os.path.basename(site) == site_name, f"the export went to {site!r}, not the new folder")
    page = os.path.join(site, "home.html")
    kd.check(os.path.exists(page), f"the export has no home.html: {os.listdir(site)}")
    desktop.screenshot(f"exported-{site_name}")
    with open(page, encoding="utf-8") as f:
        html = f.read()
    links = re.findall(r"""(?:src|href)="([^"]*jquery\.mobile[^"]*)\"""", html)
    kd.check(links and all("/1.4.0/" in link for link in links),
             f"the exported page does not link the shipped jQuery Mobile 1.4.0: {links}")
    report = kd.check_in_browser(desktop, site, "home.html")
    desktop.log(f"exported page: loaded={report['loaded']} ready={report['ready']} title={report['title']!r}")
    kd.check(not report["missing"], "the exported page links library files that are not shipped:\n  "
             + "\n  ".join(report["missing"]))
    kd.check(report["loaded"] and report["ready"], "jQuery Mobile did not show the exported page")
    kd.check(not report["errors"], "the exported page has errors:\n  " + "\n  ".join(report["errors"]))
    kd.check("Go ahead" in report["text"], f"the exported page does not show its button: {report['text']!r}")


def check_saved_version(desktop, window, folder, version):
    saved = kd.save(desktop, window, folder).root.find("KRProject").get("JQMVersion")
    kd.check(saved == version, f"the saved project.xml names JQMVersion {saved!r}, not {version!r} as before")


def legacy_projects(desktop):
    old = make_project(desktop, "Old13", "1.3")
    unnamed = make_project(desktop, "Unnamed", None)

    window = open_project(desktop, old, told=True)
    check_export(desktop, window, "Site13")
    check_saved_version(desktop, window, old, "1.3")
    desktop.quit_app()

    # Told once: the second opening only writes the run log.
    window = open_project(desktop, old, told=False)
    check_saved_version(desktop, window, old, "1.3")
    desktop.quit_app()

    window = open_project(desktop, unnamed, told=True)
    check_export(desktop, window, "SiteUnnamed")
    check_saved_version(desktop, window, unnamed, None)
    desktop.quit_app()

    unknown_classes_told_once(desktop)


UNKNOWN = """<?xml version="1.0" encoding="UTF-8"?>
<KRProjectDocument>
  <KRProject JQMVersion="1.4" designTarget="iPhone" startPage="home"/>
  <KRPages>
    <KRPage id="home" title="Home">
      <KRContents>
        <JQMButton id="goButton" top="80" left="10" width="300" height="50" value="Go ahead" theme="b"/>
        <XYZGauge id="gauge1" top="150" left="10" width="100" height="100"/>
        <XYZGauge id="gauge2" top="150" left="120" width="100" height="100"/>
        <XYZGauge id="gauge3" top="150" left="230" width="80" height="100"/>
        <KRControl id="base" top="380" left="10" width="80" height="20"/>
        <KRDiv id="box" top="260" left="10" width="300" height="100"><KRContents>
          <PlugInDial id="dial1" top="10" left="10" width="50" height="50"/>
        </KRContents></KRDiv>
      </KRContents>
    </KRPage>
  </KRPages>
</KRProjectDocument>
"""
UNKNOWN_TOLD = "not known"


def unknown_classes_alert(desktop):
    return next((w for w in desktop.windows() if w.find("label", predicate=lambda n: UNKNOWN_TOLD in n.name)), None)


def unknown_classes_told_once(desktop):
    folder = os.path.join(desktop.home, "Documents", "Gauges.krproj")
    os.makedirs(os.path.join(folder, "kr-web"))
    with open(os.path.join(folder, "project.xml"), "w", encoding="utf-8") as out:
        out.write(UNKNOWN)
    desktop.launch(folder)
    window = kd.project_window(desktop, "Gauges")
    alert = kd.wait_until(lambda: unknown_classes_alert(desktop), "the alert naming the unknown classes")
    text = " ".join(n.name for n in alert.find_all("label"))
    desktop.screenshot("unknown-classes-told")
    kd.check(text.count("XYZGauge") == 1 and text.count("PlugInDial") == 1,
             f"the alert does not name each unknown class once: {text!r}")
    kd.check("KRControl" not in text, f"the alert names the known base class KRControl: {text!r}")
    desktop.click(desktop.wait_for(alert, "push button", "OK", "the alert's OK button"))
    kd.wait_until(lambda: not unknown_classes_alert(desktop), "the alert to close")
    desktop.activate_if_needed(window)
    surface = kd.design_surface(desktop, window)
    kd.wait_until(lambda: kd.element_with_text(surface, "Go ahead"), "the button drawn on the design surface")
    time.sleep(1)  # a second alert (one per object) would be up by now
    kd.check(not unknown_classes_alert(desktop), "the user was told about the unknown classes again")
    saved = kd.save(desktop, window, folder)
    kept = [object_id for object_id in ("gauge1", "gauge2", "gauge3", "dial1") if saved.object(object_id) is not None]
    kd.check(len(kept) == 4, f"the save kept only {kept} of the objects of unknown classes")


if __name__ == "__main__":
    sys.exit(kd.run([legacy_projects]))
