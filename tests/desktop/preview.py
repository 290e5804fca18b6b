#!/usr/bin/env python3
"""Build, Run and Export: the device preview shows the controls where they were placed and runs
the button's handler; Run in Browser hands the browser the application's address, which the
Local Server window gives; the exported start page loads in a browser engine without errors. A
folder named by typing a new name in the Export dialog is made and exported into; an export whose
resource folder is named like a Korvane project in the chosen folder is refused with a message, and
that project stays as it was."""

import hashlib
import os
import signal
import sys

import krdesktop as kd

LABEL_AT = (40, 220)
BUTTON_AT = (40, 120)
CODE = "application._pages.page1.label1.setValue('Paid');"


def device_around(desktop, page):
    """The dark frame of the device's picture just above, below and beside the page."""
    x, y, w, h = page.rect
    points = [(x + w // 2, y - 20), (x + w // 2, y + h + 20), (x - 12, y + h // 2), (x + w + 12, y + h // 2)]
    image = desktop.grab((x - 20, y - 30, w + 40, h + 60))
    return all(sum(image.pixel(px, py)) / 3 < 90 for px, py in points)


def run_and_export(desktop):
    record = kd.catch_the_opener(desktop)
    desktop.launch()
    untitled = kd.project_window(desktop, "Untitled")
    kd.close_gallery(desktop)
    window, folder = kd.new_project(desktop, untitled, "Preview")
    surface = kd.design_surface(desktop, window)
    kd.check_page_drawn(desktop, surface)
    kd.drag_from_palette(desktop, window, surface, "KRLabel", *LABEL_AT)
    kd.wait_inspected(desktop, window, "label1")
    kd.drag_from_palette(desktop, window, surface, "JQMButton", *BUTTON_AT)
    kd.wait_inspected(desktop, window, "button1")
    kd.open_inspector_group(desktop, window, "Events")
    row = kd.inspector_row(desktop, window, "onClick")
    desktop.click(desktop.wait_for(row, "push button", "→", "the onClick row's arrow"))
    editor = kd.code_editor(desktop, window, "function button1_onClick")
    kd.wait_until(lambda: editor.has_state(kd.state("FOCUSED")), "the code editor to have the keyboard")
    desktop.input.type(CODE)
    kd.wait_until(lambda: CODE in editor.text(), "the typed code in the editor")
    kd.save(desktop, window, folder)

    # Build: the page and the scripts are written into the project's web folder.
    page = os.path.join(folder, "kr-web", "page1.html")
    before = os.stat(page).st_mtime_ns if os.path.exists(page) else 0
    desktop.click(desktop.wait_for(window, "push button", "Build"))
    kd.wait_until(lambda: os.path.exists(page) and os.stat(page).st_mtime_ns != before, "the build to write page1.html")
    scripts = os.path.join(folder, "kr-web", "KR-user-scripts.js")
    # The handler's own code, not a name every label writes there.
    kd.wait_until(lambda: os.path.exists(scripts) and "button1_onClick" in (text := open(scripts).read())
                  and "Paid" in text, "the handler in the built scripts")

    # Run: the device preview shows the page with the controls in their places.
    desktop.click(desktop.wait_for(window, "push button", "Run"))
    viewer = desktop.window("Preview — Device Viewer")
    shown = kd.wait_until(lambda: viewer.find("document web", "Page 1"), "the page in the device preview")
    kd.check_page_drawn(desktop, shown, points=[(4, 476), (316, 476), (160, 400)])
    kd.wait_until(lambda: device_around(desktop, shown), "the device's frame around the previewed page")
    kd.wait_until(lambda: kd.box_at(shown, *BUTTON_AT), f"the button in the preview at {BUTTON_AT}")
    kd.wait_until(lambda: kd.box_at(shown, *LABEL_AT), f"the label in the preview at {LABEL_AT}")
    kd.wait_until(lambda: kd.element_with_text(shown, "label1"), "the label's text in the preview")
    desktop.screenshot("preview")

    # A click on the button there runs the handler: the label changes.
    label_box = kd.box_at(shown, *LABEL_AT).rect
    before_pixels = list(desktop.grab(label_box).pixels(*label_box))
    desktop.click(kd.element_with_text(shown, "button1"))
    kd.wait_until(lambda: kd.element_with_text(shown, "Paid"), "'Paid' in the preview's label")
    kd.wait_until(lambda: sum(1 for a, b in zip(before_pixels, desktop.grab(label_box).pixels(*label_box))
                              if not kd.near(a, b, 24)) >= 20, "the label's new text drawn")
    desktop.screenshot("preview-clicked")
    desktop.activate_if_needed(viewer)
    desktop.input.key("alt+F4")
    kd.wait_until(lambda: not any(w.name == viewer.name for w in desktop.windows()), "the preview to close")
    a_preview_that_comes_while_a_menu_is_open(desktop, window, editor)

    # Run in Browser: the browser is handed the application's address, and the Local Server
    # window says which it is (selectable) and what the browser must do with its name.
    desktop.menu(window, "Project", "Run in Browser")
    url = kd.wait_until(lambda: next(iter(kd.opened(record)), None), "the application handed to the browser")
    server = desktop.window("Preview — Local Server")
    line = kd.wait_until(lambda: server.find("label", predicate=lambda n: "browser" in n.name),
                         "the Local Server window's line about the browser")
    desktop.screenshot("local-server")
    text = line.name
    desktop.log(f"opened {url!r}; the Local Server window says {text!r}")
    kd.check(url.startswith("http://") and ".localhost:" in url, f"the browser was handed {url!r}")
    kd.check(url in text, f"the Local Server window does not give the address {url!r}: {text!r}")
    kd.check("\u201clocalhost\u201d for this computer" in text,
             f"the Local Server window does not say the browser must take names under localhost: {text!r}")
    # Text that can be selected from the keyboard takes the keyboard (a plain label does not).
    kd.check(line.has_state(kd.state("FOCUSABLE")), "the address in the Local Server window cannot be selected")
    desktop.activate_if_needed(server)
    desktop.input.key("alt+F4")
    kd.wait_until(lambda: not any(w.name == "Preview — Local Server" for w in desktop.windows()),
                  "the Local Server window to close")

    # Export to a new folder in the documents folder.
    desktop.menu(window, "File", "Export as Web Application…")
    kd.choose_file(desktop, "Export as Web Application", "Site", "Export", new_folder=True)
    site = os.path.join(desktop.home, "Documents", "Site")
    start_page = os.path.join(site, "page1.html")
    kd.wait_until(lambda: os.path.exists(start_page) and os.path.exists(os.path.join(site, "KR-user-scripts.js")),
                  "the exported start page")
    desktop.screenshot("exported")
    report = kd.check_in_browser(desktop, site, "page1.html")
    desktop.log(f"exported page: loaded={report['loaded']} ready={report['ready']} title={report['title']!r}")
    kd.check(report["loaded"], "the exported start page did not load")
    kd.check(not report["errors"], "the exported start page has errors:\n  " + "\n  ".join(report["errors"]))
    kd.check(not report["missing"], "the exported start page links hosted files that are not the shipped "
             "libraries:\n  " + "\n  ".join(report["missing"]))
    kd.check(report["ready"], "jQuery Mobile did not show the exported page")
    kd.check("button1" in report["text"] and "label1" in report["text"],
             f"the exported page does not show its controls: {report['text']!r}")
    export_to_a_typed_folder_and_past_a_project(desktop, window, folder)


def servers(desktop):
    """The process ids of the local runtime servers the application runs: its own, which checks
    the scripts of a build, and its previews'."""
    found = []
    for entry in os.listdir("/proc"):
        try:
            with open(f"/proc/{entry}/stat") as stat, open(f"/proc/{entry}/cmdline", "rb") as command:
                fields, words = stat.read(), command.read()
        except (OSError, ValueError):  # not a process, or gone meanwhile
            continue
        if int(fields[fields.rindex(")") + 2:].split()[1]) == desktop.app.pid and b"kr-local-runtime.js" in words:
            found.append(int(entry))
    return found


def stacking(desktop):
    """The X windows the window manager keeps, bottom to top."""
    from Xlib import X
    d = desktop.display
    clients = d.screen().root.get_full_property(d.intern_atom("_NET_CLIENT_LIST_STACKING"), X.AnyPropertyType)
    return list(clients.value) if clients else []


def a_preview_that_comes_while_a_menu_is_open(desktop, window, editor):
    """The preview comes while the user has gone on into the menus: with the preview open behind the
    project window, Run chosen from the Project menu with the mouse, then the View menu opened
    while the project builds; with no preview open, Ctrl+R, then the Edit menu opened so. Each build
    is held at the syntax check of the handler, changed just before (the application's servers
    stopped, as a busy machine may keep them from answering), until the menu is open. The preview
    comes in front, the active window, and stays there once the menu has closed: one that was open
    already came behind the project window, which took the keyboard back as the menu closed."""
    bar = desktop.wait_for(window, "menu bar", what="the menu bar")
    name = "Preview — Device Viewer"

    def open_menu(title):
        """Opens the menu with a click on its title; returns it and its X windows."""
        # The bars share their menus' titles (see krdesktop's menu()); this window's lie where
        # the first window's did.
        entry = desktop.wait_for(bar, "menu item", title, f"the {title} menu's title", predicate=lambda n: (
            lambda x, y, bx, by, bw, bh: bx <= x < bx + bw and by <= y < by + bh)(*n.center, *bar.rect))
        before = desktop.override_windows()
        desktop.click(entry)
        menu = kd.wait_until(lambda: next(iter(bar.find_all("popup menu", into_menus=True)), None),
                             f"the {title} menu open")
        return menu, kd.wait_until(lambda: desktop.override_windows() - before, f"the {title} menu on the screen")

    def run_from_the_project_menu():
        menu, shown = open_menu("Project")
        desktop.click(desktop.wait_for(menu, "menu item", "Run", "Run in the Project menu"))
        kd.wait_until(lambda: not shown & desktop.override_windows(), "the Project menu to close")

    # The preview open behind the project window, where the user goes back to work.
    desktop.activate_if_needed(window)
    desktop.input.key("ctrl+r")
    desktop.wait_active(desktop.window(name), "the preview in front")
    desktop.bring_to_front(window)
    for number, (start, browsed) in enumerate([(run_from_the_project_menu, "View"),
                                               (lambda: desktop.input.key("ctrl+r"), "Edit")]):
        # A changed handler, which the build has the application's server check.
        desktop.activate_if_needed(window)
        desktop.click(editor)
        kd.wait_until(lambda: editor.has_state(kd.state("FOCUSED")), "the code editor to have the keyboard")
        kd.press(desktop, "ctrl+Home", "End", "Return")
        comment = f"// run {number + 1}"
        desktop.input.type(comment)
        kd.wait_until(lambda: comment in editor.text(), f"{comment!r} typed in the handler")
        status = desktop.wait_for(window, "label", "Status", "the status line")
        built = kd.finished_build(status)
        held = servers(desktop)
        kd.check(held, "no local runtime server runs")
        for pid in held:
            os.kill(pid, signal.SIGSTOP)
        try:
            start()
            _, shown = open_menu(browsed)
            kd.check(kd.finished_build(status) <= built, "the build finished before its script was checked")
        finally:
            for pid in held:
                os.kill(pid, signal.SIGCONT)
        # The build says it has finished as it brings the preview up.
        kd.wait_until(lambda: kd.finished_build(status) > built, f"build {built + 1} to finish")
        viewer = desktop.window(name)
        target = desktop.managed_window(viewer)
        desktop.screenshot(f"preview-while-the-{browsed}-menu-is-open")
        # A person closes the menu left open.
        if shown & desktop.override_windows():
            desktop.input.key("Escape")
            kd.wait_until(lambda: not shown & desktop.override_windows(), f"the {browsed} menu to close")
        desktop.wait_active(viewer, f"the preview in front once the {browsed} menu has closed")
        kd.check(stacking(desktop)[-1] == target.id, "the preview is not the top window")
        desktop.screenshot(f"preview-in-front-after-the-{browsed}-menu")
        desktop.input.key("alt+F4")
        kd.wait_until(lambda: not any(w.name == name for w in desktop.windows()), "the preview to close")


def tree_of(folder):
    """The paths below folder, with the bytes of each file."""
    found = []
    for root, dirs, files in os.walk(folder):
        found += [os.path.relpath(os.path.join(root, d), folder) + "/" for d in dirs]
        for name in files:
            with open(os.path.join(root, name), "rb") as f:
                found.append(f"{os.path.relpath(os.path.join(root, name), folder)} {hashlib.sha1(f.read()).hexdigest()}")
    return sorted(found)


def export_to_a_typed_folder_and_past_a_project(desktop, window, folder):
    # A new folder's name typed in the dialog: it was refused as a folder not found.
    documents = os.path.join(desktop.home, "Documents")
    desktop.activate_if_needed(window)
    desktop.menu(window, "File", "Export as Web Application…")
    kd.choose_file(desktop, "Export as Web Application", "TypedSite", "Export")
    kd.wait_until(lambda: os.path.exists(os.path.join(documents, "TypedSite", "page1.html")),
                  "the start page exported into the typed new folder", kd.LAUNCH_TIMEOUT)
    desktop.screenshot("exported-to-a-typed-folder")

    # A resource folder named like a project in the chosen folder: it was asked about, then
    # replaced the project.
    shelf = os.path.join(documents, "Shelf")
    tips = os.path.join(shelf, "Tips.krproj")
    os.makedirs(os.path.join(tips, "kr-web"))
    with open(os.path.join(tips, "project.xml"), "w", encoding="utf-8") as f:
        f.write('<?xml version="1.0" encoding="UTF-8"?>\n<KRProjectDocument appVersion="1.0.0"><KRProject/>'
                '<KRPages><KRPage id="page1"/></KRPages></KRProjectDocument>\n')
    os.makedirs(os.path.join(folder, "kr-web", "Tips.krproj"))
    with open(os.path.join(folder, "kr-web", "Tips.krproj", "note.txt"), "w", encoding="utf-8") as f:
        f.write("a resource\n")
    before = tree_of(shelf)
    desktop.activate_if_needed(window)
    desktop.menu(window, "File", "Export as Web Application…")
    dialog = desktop.window("Export as Web Application")
    cell = desktop.wait_for(dialog, "table cell", "Shelf", "the folder Shelf in the dialog's list")
    desktop.click(cell)
    desktop.wait_for(dialog, "table cell", "Shelf", "the folder Shelf selected",
                     predicate=lambda n: n.has_state(kd.state("SELECTED")))
    desktop.click(desktop.wait_for(dialog, "push button", "Export"))
    refused = "never replaces a project"
    alert = kd.wait_until(lambda: kd.alert_saying(desktop, refused) or kd.alert_saying(desktop, "replace it"),
                          "the message that the export is refused", kd.LAUNCH_TIMEOUT)
    text = " ".join(n.name for n in alert.find_all("label"))
    desktop.screenshot("export-past-a-project-refused")
    kd.check(refused in text, f"the export does not say it leaves the project alone: {text!r}")
    kd.check("Tips.krproj" in text, f"the message does not name the project: {text!r}")
    desktop.activate_if_needed(alert)
    desktop.click(desktop.wait_for(alert, "push button", "OK", "the message's OK button"))
    kd.wait_until(lambda: kd.alert_saying(desktop, refused) is None, "the message to close")
    kd.check(tree_of(shelf) == before, "the export changed the project beside it:\n  "
             + "\n  ".join(sorted(set(before) ^ set(tree_of(shelf)))))


if __name__ == "__main__":
    sys.exit(kd.run([run_and_export]))
