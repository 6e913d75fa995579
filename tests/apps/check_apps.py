#!/usr/bin/python3
"""Checks that the test applications work on the private desktop, through the accessibility bus.

    scripts/desktop.sh run -- tests/apps/check_apps.py BIN_DIR [gtk] [qt] [web]

Starts each application, finds it on the accessibility bus, checks the shape of its tree (the
objects the desktop tests rely on, with their roles, names and key bindings), drives a few
controls through AT-SPI's Action, EditableText and Value interfaces and checks that the change
reached the application: on screen (the tree) and in the application's --log file. For the web
page it checks that the page's content is exposed once an accessibility client asks for an
object's attributes. Prints one line per check; exits 1 if any failed.
"""
import os
import signal
import subprocess
import sys
import tempfile
import time

import pyatspi

HERE = os.path.dirname(os.path.abspath(__file__))
failures = []


def check(ok, what):
    print("%s %s" % ("ok  " if ok else "FAIL", what))
    if not ok:
        failures.append(what)
    return ok


def wait_for(predicate, timeout, step=0.05):
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() >= deadline:
            return value
        time.sleep(step)


def app_by_pid(pid):
    desktop = pyatspi.Registry.getDesktop(0)
    for i in range(desktop.childCount):
        app = desktop.getChildAtIndex(i)
        try:
            if app is not None and app.get_process_id() == pid:
                return app
        except Exception:
            pass
    return None


def find(node, role, name=None, depth=0, max_depth=20):
    try:
        if node.getRoleName() == role and (name is None or node.name == name):
            return node
        count = node.childCount
    except Exception:
        return None
    if depth >= max_depth:
        return None
    for i in range(count):
        child = node.getChildAtIndex(i)
        if child is not None:
            found = find(child, role, name, depth + 1, max_depth)
            if found is not None:
                return found
    return None


def count_tree(node, depth=0, stats=None):
    if stats is None:
        stats = {"nodes": 0, "depth": 0, "children": 0}
    stats["nodes"] += 1
    stats["depth"] = max(stats["depth"], depth)
    n = node.childCount
    stats["children"] = max(stats["children"], n)
    for i in range(n):
        child = node.getChildAtIndex(i)
        if child is not None:
            count_tree(child, depth + 1, stats)
    return stats


def actions(obj):
    try:
        action = obj.queryAction()
    except NotImplementedError:
        return []
    return [(action.getName(i), action.getKeyBinding(i)) for i in range(action.nActions)]


def do_action(obj, name):
    action = obj.queryAction()
    for i in range(action.nActions):
        if action.getName(i) == name:
            return action.doAction(i)
    raise LookupError("no action %r on %s %r" % (name, obj.getRoleName(), obj.name))


def has_state(obj, state):
    return obj.getState().contains(state)


class Log:
    def __init__(self, path):
        self.path = path

    def lines(self):
        try:
            with open(self.path, encoding="utf-8") as f:
                return f.read().splitlines()
        except FileNotFoundError:
            return []

    def wait_line(self, line, timeout=5):
        return wait_for(lambda: line in self.lines(), timeout)


class Started:
    """A test application in a process group of its own, ended on exit."""

    def __init__(self, argv):
        self.proc = subprocess.Popen(argv, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                     start_new_session=True)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        try:
            os.killpg(self.proc.pid, signal.SIGTERM)
        except ProcessLookupError:
            pass
        try:
            self.proc.wait(timeout=10)
        except subprocess.TimeoutExpired:
            os.killpg(self.proc.pid, signal.SIGKILL)
            self.proc.wait()


def check_gtk(bin_dir, tmp):
    log = Log(os.path.join(tmp, "gtk.log"))
    with Started([os.path.join(bin_dir, "uiglean-gtk-app"), "--log", log.path]) as app_proc:
        app = wait_for(lambda: app_by_pid(app_proc.proc.pid), 15)
        if not check(app is not None, "gtk: the application is on the accessibility bus"):
            return
        check(app.name == "uiglean-gtk-app", "gtk: application name %r" % app.name)
        frame = wait_for(lambda: find(app, "frame", "uiglean test", max_depth=1), 5)
        check(frame is not None, "gtk: frame 'uiglean test'")
        check(log.wait_line("window uiglean test opened"), "gtk: log has the window")

        bar = find(app, "menu bar")
        if check(bar is not None, "gtk: menu bar"):
            menus = [bar.getChildAtIndex(i) for i in range(bar.childCount)]
            check([(m.getRoleName(), m.name) for m in menus] ==
                  [("menu", "File"), ("menu", "View"), ("menu", "Dialog")],
                  "gtk: menu bar holds the menus File, View, Dialog")
            file_menu = menus[0]
            items = [(c.getRoleName(), c.name) for c in file_menu]
            check(items == [("menu item", "New"), ("menu item", "Open…"), ("menu", "Open Recent"),
                            ("menu item", "Save As…"), ("separator", ""),
                            ("menu item", "New Window"), ("menu item", "Quit")],
                  "gtk: File menu items %r" % items)
            new = find(file_menu, "menu item", "New")
            check(actions(new) == [("click", "n;<Alt>f:n;<Primary>n")],
                  "gtk: New's action and key binding %r" % actions(new))
            new_window = find(file_menu, "menu item", "New Window")
            check(actions(new_window) and actions(new_window)[0][1].endswith(";<Primary><Shift>n"),
                  "gtk: New Window's accelerator %r" % actions(new_window))
            save_as = find(file_menu, "menu item", "Save As…")
            check(not has_state(save_as, pyatspi.STATE_SENSITIVE), "gtk: Save As… is insensitive")
            recent = find(file_menu, "menu", "Open Recent")
            check([c.name for c in recent] == ["notes.txt", "todo.txt"], "gtk: Open Recent submenu")
            help_item = find(app, "menu item", "Help")
            check(actions(help_item) and actions(help_item)[0][1].endswith(";F1"),
                  "gtk: Help's accelerator %r" % actions(help_item))
            show_status = find(app, "check menu item", "Show Status")
            check(show_status is not None and has_state(show_status, pyatspi.STATE_CHECKED),
                  "gtk: Show Status is a checked check menu item")
            large = find(app, "radio menu item", "Large")
            check(large is not None and not has_state(large, pyatspi.STATE_CHECKED),
                  "gtk: Large is an unchecked radio menu item")

        status = find(app, "label", "Status: idle")
        check(status is not None, "gtk: status label")
        hello = find(app, "push button", "Say Hello")
        if check(hello is not None and actions(hello) == [("click", "")], "gtk: Say Hello button"):
            do_action(hello, "click")
            do_action(hello, "click")
            check(log.wait_line("button Say Hello") and log.wait_line("status Hello pressed 2"),
                  "gtk: pressing Say Hello twice reached the application")
            check(wait_for(lambda: status.name == "Hello pressed 2", 5),
                  "gtk: the status label reads %r" % status.name)

        name = find(app, "text", "Name")
        if check(name is not None, "gtk: entry 'Name'"):
            name.queryEditableText().setTextContents("Ada Lovelace")
            check(log.wait_line("entry Name=Ada Lovelace"), "gtk: setting Name's text was logged")
            check(name.queryText().getText(0, -1) == "Ada Lovelace", "gtk: Name reads back")
        password = find(app, "password text", "Password")
        check(password is not None, "gtk: password entry 'Password'")
        notes = find(app, "text", "Notes")
        check(notes is not None and notes.queryText().getText(0, -1) == "first line",
              "gtk: text view holds 'first line'")

        feature = find(app, "check box", "Enable feature")
        if check(feature is not None, "gtk: check box"):
            do_action(feature, "click")
            check(log.wait_line("check Enable feature=1"), "gtk: clicking the check box was logged")
            check(wait_for(lambda: has_state(feature, pyatspi.STATE_CHECKED), 5),
                  "gtk: the check box is checked")
        bold = find(app, "toggle button", "Bold")
        if check(bold is not None, "gtk: toggle button"):
            do_action(bold, "click")
            check(log.wait_line("toggle Bold=1"), "gtk: clicking Bold was logged")
        volume = find(app, "slider", "Volume")
        if check(volume is not None and volume.queryValue().currentValue == 30, "gtk: slider at 30"):
            volume.queryValue().currentValue = 42
            check(log.wait_line("slider Volume=42"), "gtk: setting the slider was logged")
        check(find(app, "spin button", "Count") is not None, "gtk: spin button")

        new = find(app, "menu item", "New")
        if check(new is not None, "gtk: menu item New"):
            do_action(new, "click")
            check(log.wait_line("menu New"), "gtk: clicking New in the closed menu was logged")

        do_action(find(app, "push button", "Open Dialog"), "click")
        dialog = wait_for(lambda: find(app, "dialog", "Confirm", max_depth=1), 5)
        if check(dialog is not None and has_state(dialog, pyatspi.STATE_MODAL),
                 "gtk: the modal dialog Confirm opened"):
            check(find(dialog, "label", "Are you sure?") is not None, "gtk: dialog's question")
            do_action(find(dialog, "push button", "OK"), "click")
            check(log.wait_line("dialog Confirm OK"), "gtk: OK answered the dialog")
            check(wait_for(lambda: find(app, "dialog", "Confirm", max_depth=1) is None, 5),
                  "gtk: the dialog went away")

        remove = find(app, "push button", "Remove Me")
        do_action(remove, "click")
        check(wait_for(lambda: find(app, "push button", "Remove Me") is None, 5),
              "gtk: Remove Me removed itself")

    big_log = Log(os.path.join(tmp, "big.log"))
    started = time.monotonic()
    with Started([os.path.join(bin_dir, "uiglean-gtk-app"), "--big", "--title", "Big Test",
                  "--log", big_log.path]) as app_proc:
        check(big_log.wait_line("window Big opened", 15), "big: the window Big opened")
        app = wait_for(lambda: app_by_pid(app_proc.proc.pid), 15)
        elapsed = time.monotonic() - started
        if not check(app is not None, "big: the application is on the bus (%.1fs)" % elapsed):
            return
        check(elapsed < 10, "big: started within 10 s (%.1fs)" % elapsed)
        check(find(app, "frame", "Big Test", max_depth=1) is not None, "big: --title names the window")
        stats = count_tree(app)
        check(stats["nodes"] > 5000, "big: %d objects" % stats["nodes"])
        check(stats["depth"] <= 12, "big: depth %d" % stats["depth"])
        check(stats["children"] <= 96, "big: at most %d children an object" % stats["children"])


def check_qt(bin_dir, tmp):
    exe = os.path.join(bin_dir, "uiglean-qt-app")
    if not os.path.exists(exe):
        check(False, "qt: %s was not built" % exe)
        return
    log = Log(os.path.join(tmp, "qt.log"))
    with Started([exe, "--log", log.path]) as app_proc:
        app = wait_for(lambda: app_by_pid(app_proc.proc.pid), 15)
        if not check(app is not None, "qt: the application is on the accessibility bus"):
            return
        frame = wait_for(lambda: find(app, "frame", "uiglean qt test", max_depth=1), 5)
        check(frame is not None, "qt: frame 'uiglean qt test'")
        file_menu = find(app, "menu item", "File")
        if check(file_menu is not None and file_menu.parent.getRoleName() == "menu bar",
                 "qt: the menu bar's File is a menu item"):
            popup = file_menu.getChildAtIndex(0)
            check(popup is not None and popup.getRoleName() == "popup menu", "qt: File holds a popup menu")
            new = find(popup, "menu item", "New")
            check(new is not None and actions(new) == [("Press", "Ctrl+N")],
                  "qt: New's action %r" % (actions(new) if new else None))
        status = find(app, "label", "Status: idle")
        hello = find(app, "push button", "Say Hello")
        if check(status is not None and hello is not None, "qt: status label and Say Hello"):
            do_action(hello, "Press")
            check(log.wait_line("status Hello pressed 1"), "qt: pressing Say Hello was logged")
            check(wait_for(lambda: status.name == "Hello pressed 1", 5), "qt: the label changed")
        name = find(app, "text", "Name")
        if check(name is not None, "qt: line edit 'Name'"):
            name.queryEditableText().setTextContents("Grace")
            check(log.wait_line("entry Name=Grace"), "qt: setting Name's text was logged")
        feature = find(app, "check box", "Enable feature")
        if check(feature is not None, "qt: check box"):
            do_action(feature, "Toggle")
            check(log.wait_line("check Enable feature=1"), "qt: toggling was logged")


def check_web(tmp):
    if not os.path.exists("/usr/bin/chromium"):
        check(False, "web: /usr/bin/chromium is missing (Debian package chromium)")
        return
    script = os.path.join(HERE, "web", "run-chromium.sh")
    with Started([script, os.path.join(HERE, "web", "page.html")]) as browser:
        app = wait_for(lambda: app_by_pid(browser.proc.pid), 30)
        if not check(app is not None, "web: chromium (by the launcher's pid) is on the bus"):
            return
        frame = wait_for(lambda: find(app, "frame", "uiglean web test - Chromium", max_depth=1), 30)
        check(frame is not None, "web: window titled after the page")
        app.getAttributes()  # what switches the browser's accessibility on
        doc = wait_for(lambda: find(app, "document web", "uiglean web test"), 15)
        if not check(doc is not None, "web: the page's document is exposed after GetAttributes"):
            return
        heading = wait_for(lambda: find(doc, "heading", "Test Page"), 10)
        check(heading is not None, "web: heading 'Test Page'")
        check(find(doc, "link", "More info") is not None, "web: link 'More info'")
        check(find(doc, "entry", "Name") is not None, "web: entry 'Name'")
        check(find(doc, "check box", "Subscribe") is not None, "web: check box 'Subscribe'")
        button = find(doc, "push button", "Change Title")
        if check(button is not None, "web: button 'Change Title'"):
            do_action(button, "press")
            check(wait_for(lambda: find(app, "frame", "uiglean web clicked - Chromium", max_depth=1), 10),
                  "web: pressing the button changed the title")
            check(wait_for(lambda: find(app, "static", "Clicked 1"), 10), "web: 'Clicked 1' appeared")


def main():
    if len(sys.argv) < 2:
        print(__doc__, file=sys.stderr)
        return 2
    bin_dir = sys.argv[1]
    which = set(sys.argv[2:]) or {"gtk", "qt", "web"}
    with tempfile.TemporaryDirectory() as tmp:
        if "gtk" in which:
            check_gtk(bin_dir, tmp)
        if "qt" in which:
            check_qt(bin_dir, tmp)
        if "web" in which:
            check_web(tmp)
    print("%d failed" % len(failures) if failures else "all passed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
