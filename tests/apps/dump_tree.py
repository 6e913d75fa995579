#!/usr/bin/python3
"""Prints the accessible tree of an application on the accessibility bus (a diagnostic).

    tests/apps/dump_tree.py [--depth N] [--max N] [--wait S] [--details] [--count] [APP]

APP is an application's name on the bus (e.g. uiglean-gtk-app) or a pid; without APP the
applications on the bus are listed. One line per object: indentation, role, quoted name, then
the states worth seeing (focused, checked, insensitive, invisible, ...). --details adds the
actions (with their key bindings), the text, the value, and the child count the object reports.
--count prints only the number of objects reached and the time it took.

Run it inside the private desktop, with Debian's python3 (which has pyatspi):
    scripts/desktop.sh run -- sh -c 'build/bin/uiglean-gtk-app & sleep 2; tests/apps/dump_tree.py uiglean-gtk-app'
"""
import argparse
import signal
import sys
import time

import pyatspi

# States printed by name; the common ones (enabled, sensitive, visible, showing) are printed only
# when they are missing.
EXPECTED = ["enabled", "sensitive", "visible", "showing"]
INTERESTING = ["focused", "focusable", "checked", "pressed", "selected", "expanded", "expandable",
               "active", "editable", "modal", "iconified", "defunct", "indeterminate", "checkable"]


def state_words(obj):
    try:
        states = obj.getState()
    except Exception as e:  # a stale object
        return ["<state error: %s>" % type(e).__name__]
    names = set(pyatspi.stateToString(s) if hasattr(pyatspi, "stateToString") else str(s)
                for s in states.getStates())
    names = set(n.lower().replace("state_", "").replace("_", "-") for n in names)
    words = [n for n in INTERESTING if n in names]
    words += ["!" + n for n in EXPECTED if n not in names]
    return words


def details(obj):
    parts = []
    try:
        action = obj.queryAction()
        acts = []
        for i in range(action.nActions):
            name = action.getName(i)
            key = action.getKeyBinding(i)
            acts.append(name + ("[" + key + "]" if key else ""))
        parts.append("actions=" + ",".join(acts))
    except NotImplementedError:
        pass
    except Exception as e:
        parts.append("actions=<%s>" % type(e).__name__)
    try:
        value = obj.queryValue()
        parts.append("value=%g [%g..%g]" % (value.currentValue, value.minimumValue,
                                            value.maximumValue))
    except NotImplementedError:
        pass
    except Exception as e:
        parts.append("value=<%s>" % type(e).__name__)
    try:
        text = obj.queryText()
        content = text.getText(0, min(text.characterCount, 60))
        parts.append("text=%r" % content)
    except NotImplementedError:
        pass
    except Exception as e:
        parts.append("text=<%s>" % type(e).__name__)
    try:
        parts.append("children=%d" % obj.childCount)
    except Exception:
        pass
    return parts


def walk(obj, depth, limit, out, counter, with_details, count_only):
    counter[0] += 1
    if not count_only:
        try:
            role = obj.getRoleName()
            name = obj.name
        except Exception as e:
            out.write("%s<error: %s>\n" % ("  " * depth, e))
            return
        line = "%s%s %r" % ("  " * depth, role, name)
        words = state_words(obj)
        if words:
            line += " {" + " ".join(words) + "}"
        if with_details:
            line += " " + " ".join(details(obj))
        out.write(line + "\n")
    if depth >= limit.depth or counter[0] >= limit.max:
        return
    try:
        n = obj.childCount
    except Exception:
        return
    for i in range(n):
        if counter[0] >= limit.max:
            if not count_only:
                out.write("%s... (stopped at %d objects)\n" % ("  " * (depth + 1), limit.max))
            return
        try:
            child = obj.getChildAtIndex(i)
        except Exception as e:
            out.write("%s<child %d: %s>\n" % ("  " * (depth + 1), i, e))
            continue
        if child is None:
            continue
        walk(child, depth + 1, limit, out, counter, with_details, count_only)


def app_pid(app):
    try:
        return app.get_process_id()
    except Exception:
        return -1


def find_app(key, wait):
    deadline = time.monotonic() + wait
    while True:
        desktop = pyatspi.Registry.getDesktop(0)
        for i in range(desktop.childCount):
            app = desktop.getChildAtIndex(i)
            if app is None:
                continue
            if key.isdigit() and app_pid(app) == int(key):
                return app
            if not key.isdigit() and app.name == key:
                return app
        if time.monotonic() >= deadline:
            return None
        time.sleep(0.2)


def main():
    signal.signal(signal.SIGPIPE, signal.SIG_DFL)  # quiet when piped into head
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("app", nargs="?", help="application name on the bus, or pid")
    parser.add_argument("--depth", type=int, default=30, help="depth limit (default 30)")
    parser.add_argument("--max", type=int, default=20000, help="object limit (default 20000)")
    parser.add_argument("--wait", type=float, default=0,
                        help="seconds to wait for the application to appear")
    parser.add_argument("--details", action="store_true", help="actions, key bindings, values, text")
    parser.add_argument("--count", action="store_true", help="print only the object count")
    args = parser.parse_args()

    if args.app is None:
        desktop = pyatspi.Registry.getDesktop(0)
        for i in range(desktop.childCount):
            app = desktop.getChildAtIndex(i)
            if app is None:
                continue
            print("%s pid=%d windows=%d" % (app.name, app_pid(app), app.childCount))
        return 0
    app = find_app(args.app, args.wait)
    if app is None:
        print("dump_tree: no application %r on the accessibility bus" % args.app, file=sys.stderr)
        return 1
    counter = [0]
    started = time.monotonic()
    walk(app, 0, args, sys.stdout, counter, args.details, args.count)
    elapsed = time.monotonic() - started
    if args.count:
        print("%d objects in %.2fs" % (counter[0], elapsed))
    return 0


if __name__ == "__main__":
    sys.exit(main())
