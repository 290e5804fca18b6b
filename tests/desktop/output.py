#!/usr/bin/env python3
"""A built and exported project copied with cp -r: the copy's Resources list shows the user's
own file and none of the build's output, when it opens and when read again after it is built
again, and the rebuild leaves no stale index page behind. Three controls deleted together and brought back with
Ctrl+Z keep their order in the saved project.xml.

The Showcase sample previewed with Ctrl+R and exported with Ctrl+E into a new folder meanwhile: the
export leaves the web folder the preview serves as the build made it, and the same preview still
shows the start page without a script error and the server page its server answers; the export had
been built in that folder, which then held no server page and linked the hosted libraries."""

import os
import subprocess
import sys

import krdesktop as kd
from viewer import client_log_clean, type_address, viewer_of

# (palette entry, id, page position) of the controls, in the order they are dropped.
CONTROLS = [
    ("JQMButton", "button1", (30, 100)),
    ("KRLabel", "label1", (30, 180)),
    ("KRPhotoSwipe", "photoswipe1", (30, 260)),
]
USER_FILE = "notes.txt"
# What a build or an export writes or copies into the web folder.
BUILD_OUTPUT = ["page1.html", "KR-user-scripts.js", "KRObjects-min.js", "index.html", "photoswipe-3.0.5",
                "cache.manifest"]


def outline_names(window):
    """The names of the project outline's rows."""
    return {n.name for n in window.find_all("table cell")}


def built_and_exported_project(desktop):
    """A new project with three controls, saved, built and exported; returns its folder."""
    desktop.launch()
    untitled = kd.project_window(desktop, "Untitled")
    kd.close_gallery(desktop)
    window, folder = kd.new_project(desktop, untitled, "Shop")
    surface = kd.design_surface(desktop, window)
    kd.check_page_drawn(desktop, surface)
    for class_name, object_id, at in CONTROLS:
        kd.drag_from_palette(desktop, window, surface, class_name, *at)
        kd.wait_inspected(desktop, window, object_id, f"the dropped {class_name} ({object_id}) in the inspector")
    kd.save(desktop, window, folder)
    kd.build(desktop, window)
    web = os.path.join(folder, "kr-web")
    kd.wait_until(lambda: os.path.isdir(os.path.join(web, "photoswipe-3.0.5")), "the gallery's library in the build")
    desktop.menu(window, "File", "Export as Web Application…")
    kd.choose_file(desktop, "Export as Web Application", "Site", "Export", new_folder=True)
    kd.wait_until(lambda: os.path.exists(os.path.join(desktop.home, "Documents", "Site", "page1.html")),
                  "the exported start page")
    kd.check(not os.path.exists(os.path.join(web, "index.html")), "the export wrote its index page into the web folder")
    desktop.screenshot("built-and-exported")
    desktop.activate_if_needed(window)
    desktop.quit_app()
    return folder


def open_copy(desktop, folder, name):
    """Copies the project folder with cp -r (marks and dates are not kept), adds a file of the
    user's to the copy's web folder and opens the copy; returns its window and folder."""
    copy = os.path.join(os.path.dirname(folder), name + ".krproj")
    subprocess.run(["cp", "-r", folder, copy], check=True)
    with open(os.path.join(copy, "kr-web", USER_FILE), "w") as notes:
        notes.write("to do\n")
    desktop.launch(copy)
    window = kd.project_window(desktop, name)
    desktop.activate_if_needed(window)
    return window, copy


def resources_without_build_output(desktop, window, step, user_file=USER_FILE):
    """What the Resources list shows of the build's output (empty when nothing), once it shows
    user_file (a file of the user's it has read)."""
    desktop.wait_for(window, "table cell", user_file, f"{user_file} among the Resources ({step})")
    shown = sorted(outline_names(window) & set(BUILD_OUTPUT))
    desktop.screenshot(f"resources-{step}")
    return [f"{step}: the Resources list shows the build's output: {', '.join(shown)}"] if shown else []


def page_order(project):
    return [e.get("id") for e in project.objects()]


def undone_delete_order(desktop, window, folder):
    """Selects the three controls with a click and two shift-clicks, deletes them with the Delete
    key and undoes that with Ctrl+Z; what differs in project.xml's order (empty when nothing)."""
    surface = kd.design_surface(desktop, window)
    kd.wait_until(lambda: kd.element_with_text(surface, "button1"), "button1 on the design surface")
    before = page_order(kd.ProjectFile(folder))
    ids = [object_id for _, object_id, _ in CONTROLS]
    kd.check([i for i in before if i in ids] == ids, f"the controls are not in the order dropped: {before}")
    for i, (_, object_id, (left, top)) in enumerate(CONTROLS):
        kd.click_page(desktop, surface, left + 20, top + 12, modifiers=("shift",) if i else ())
        if i == 0:
            kd.wait_inspected(desktop, window, object_id, f"a click on {object_id} to select it")
    desktop.screenshot("three-selected")
    desktop.input.key("Delete")
    kd.wait_until(lambda: not kd.element_with_text(surface, "button1"), "the controls to leave the surface")
    deleted = page_order(kd.save(desktop, window, folder))
    kd.check(not set(ids) & set(deleted), f"the controls are still in project.xml after Delete: {deleted}")

    desktop.activate_if_needed(window)
    desktop.input.key("ctrl+z")
    kd.wait_until(lambda: kd.element_with_text(surface, "button1"), "the controls back on the surface")
    desktop.screenshot("delete-undone")
    after = page_order(kd.save(desktop, window, folder))
    if after != before:
        return [f"project.xml has the objects in another order after the undo:\n"
                f"  before: {before}\n  after:  {after}"]
    return []


def copied_project(desktop):
    folder = built_and_exported_project(desktop)
    window, copy = open_copy(desktop, folder, "Copy")
    # The two faults are independent: each is looked for whatever the other shows.
    faults = resources_without_build_output(desktop, window, "copy-opened")

    kd.build(desktop, window)
    # The index page was the export's: a build of the copy removes it, as it would in the original.
    index = os.path.join(copy, "kr-web", "index.html")
    if os.path.exists(index):
        faults.append("the export's index page is still in the copy's web folder after a build")
    # The list is read again when the project is saved: a file of the user's added after the
    # build shows that what it lists now was read after the build.
    later = "later.txt"
    with open(os.path.join(copy, "kr-web", later), "w") as notes:
        notes.write("after the build\n")
    kd.save(desktop, window, copy)
    faults += resources_without_build_output(desktop, window, "copy-rebuilt", later)

    faults += undone_delete_order(desktop, window, copy)
    kd.check(not faults, "\n".join(faults))
    desktop.activate_if_needed(window)
    desktop.quit_app()
    export_while_previewed(desktop)


def shows_page(desktop, viewer, field, address, title, text, what):
    """Types the address in the preview's address field and waits for its load to end, loaded,
    and for the page titled title, showing text, in the device."""
    logs = [n for n in viewer.find_all("text") if n.name != "Address"]

    def ended(how):
        return sum(log.text().count(f"{how} loading: {address}") for log in logs)
    finished, failed = ended("Finished"), ended("Failed")
    type_address(desktop, field, address)
    kd.wait_until(lambda: ended("Finished") > finished or ended("Failed") > failed, f"{what} to load in the preview")
    if ended("Finished") == finished:
        desktop.screenshot(f"{title}-not-loaded")
        shown = viewer.find("document web")
        raise kd.JourneyFailure(f"{what} did not load in the preview; it shows "
                                f"{' '.join(n.name for n in shown.find_all()) if shown else 'nothing'!r}")
    return kd.wait_until(lambda: (page := viewer.find("document web", title)) and kd.element_with_text(page, text),
                         f"{what} in the device, showing {text!r}")


def export_while_previewed(desktop):
    window, folder = kd.open_sample_copy(desktop, "Showcase", "Showcase")
    kd.check_page_drawn(desktop, kd.design_surface(desktop, window), min_ink=400)

    # Ctrl+R builds and opens the preview; its server answers the server page.
    desktop.input.key("ctrl+r")
    viewer = viewer_of(desktop, "Showcase")
    field = desktop.wait_for(viewer, "text", what="the address field", predicate=lambda n: n.text().endswith("/home.html"))
    start = field.text()
    result = start[:-len("home.html")] + "result.krml"
    kd.wait_until(lambda: viewer.find("document web", "Showcase"), "the start page in the preview")
    shows_page(desktop, viewer, field, result, "Result", "The server received:", "the server page")
    desktop.screenshot("server-page-previewed")
    web = os.path.join(folder, "kr-web")
    served = {name: open(os.path.join(web, name), "rb").read()
              for name in ("home.html", "result.krml", "KR-user-scripts.js")}

    # Ctrl+E, told that the server's scripts stay behind, into a new folder. The preview lies
    # over the project window's title bar: the window is brought to the front as a task bar does.
    desktop.bring_to_front(window)
    desktop.input.key("ctrl+e")
    told = kd.wait_until(lambda: kd.alert_saying(desktop, "server-side scripting"), "the note on server-side scripts")
    desktop.click(desktop.wait_for(told, "push button", "Export", "the note's Export button"))
    kd.choose_file(desktop, "Export as Web Application", "ShowcaseSite", "Export", new_folder=True)
    site = os.path.join(desktop.home, "Documents", "ShowcaseSite")
    status = desktop.wait_for(window, "label", "Status", "the status line")
    kd.wait_until(lambda: (status.acc.description or "").startswith("Exported to"), "the status line to say exported",
                  kd.LAUNCH_TIMEOUT)
    kd.check(os.path.exists(os.path.join(site, "result.html")) and os.path.exists(os.path.join(site, "index.html")),
             f"the export holds no plain result page or no index page: {sorted(os.listdir(site))}")
    desktop.screenshot("exported-while-previewed")
    changed = [name for name, data in served.items()
               if not os.path.exists(os.path.join(web, name)) or open(os.path.join(web, name), "rb").read() != data]
    kd.check(not changed, f"the export changed what the preview serves: {', '.join(changed)}")
    kd.check(not os.path.exists(os.path.join(web, "index.html")), "the export wrote its index page into the web folder")

    # The same preview: the start page as it was, and the server page still answered.
    desktop.bring_to_front(viewer)
    shows_page(desktop, viewer, field, start, "Showcase", "Welcome", "the start page again")
    shows_page(desktop, viewer, field, result, "Result", "The server received:", "the server page again")
    desktop.screenshot("server-page-after-export")
    client_log_clean(viewer, "the preview after the export")


if __name__ == "__main__":
    sys.exit(kd.run([copied_project]))
