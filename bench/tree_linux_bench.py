#!/usr/bin/python3
"""Times `uiglean tree` against a pyatspi walk of the same nodes, on a private desktop.

    bench/tree_linux_bench.py [--build build] [--runs N]

Starts its own desktop (scripts/desktop.sh: Xvfb, session bus, accessibility bus, openbox), then
for each target application:
  - uiglean-gtk-app --big: our test app, whose "Big" window (~5440 objects) takes focus, so the
    snapshot stops at the 4000-node limit;
  - gtk3-demo --run=listbox (Debian package gtk-3-examples): GTK's own demo, its main window and
    the "List Box" demo window (a few thousand objects, within every limit);
  - gedit (Debian package gedit), the GTK 3 editor, with four windows;
  - LibreOffice Writer (libreoffice-writer, libreoffice-gtk3) on a fresh profile, with the
    Format > Character dialog open in front of the document (opened with `uiglean menuclick`).
For each it times N runs (default 5) of two whole processes, interleaved:
  - `uiglean tree`;
  - this file run as `/usr/bin/python3 tree_linux_bench.py --walk PID`, a pyatspi client that
    walks what a snapshot covers (the app's first 6 shown windows, pre-order, at most 96 children
    an object, 14 levels below the window, 4000 nodes) and reads per object: role, name,
    description, state set, extents in screen coordinates (Component), action names (Action);
    the text (Text.getText(0, -1)) of objects with a text role (text, entry, password text,
    editbar, terminal) and the current value (Value) of objects with a value role (slider, spin
    button, scroll bar, progress bar, dial, level bar), the roles uiglean reads those for.
    Interpreter start-up and `import pyatspi` count, as uiglean's start-up counts for it.
Wall time is reported as median [min-max]; client CPU is the client's user+system time, app CPU
what the target application spent serving the run and bus CPU what the accessibility bus's
dbus-daemon spent routing it (medians; the last two read from /proc before and after each run).

Then one more run of each under strace counts the D-Bus messages the client writes, decoded
from the bytes it sends (method calls to the application, to the registry and to the bus
daemon, to the accessibility bus and to the session bus), and divides by the node count.

The node counts of both clients are printed side by side. Both leave out the items of closed
menus (in a window's tree uiglean lists a menu's items only while it is open) and hidden widgets
(a child without the visible and showing states under a visible parent). They differ where
uiglean reshapes menus: it adds an application menu item (and its empty menu) at the start of
each menu bar, and a menu level between each menu-bar entry or submenu item and its items. The walk works out, from
the tree it saw, how many nodes uiglean should show, and that figure is printed too.

Needs: Debian's python3-pyatspi (run with /usr/bin/python3), x11-utils (xprop), strace (message
counts; skipped without it), gtk-3-examples (the second target; skipped without it) and what
scripts/desktop.sh needs. The applications and the desktop it starts are ended on exit.
"""
import os
import sys

MAX_WINDOWS = 6
MAX_CHILDREN = 96
MAX_DEPTH = 14
MAX_NODES = 4000
RUN_TIMEOUT = 60  # seconds one client run may take before it counts as hung


# ---------------------------------------------------------------------------------------------
# The pyatspi client (`--walk PID [--record]`). Kept free of the harness's imports so that its
# start-up is that of a small pyatspi script.

def walk_main(argv):
    import time
    import json
    import pyatspi

    pid = int(argv[0])
    record = "--record" in argv
    started = time.perf_counter()

    text_roles = {pyatspi.ROLE_TEXT, pyatspi.ROLE_ENTRY, pyatspi.ROLE_PASSWORD_TEXT,
                  pyatspi.ROLE_EDITBAR, pyatspi.ROLE_TERMINAL}
    value_roles = {pyatspi.ROLE_SLIDER, pyatspi.ROLE_SPIN_BUTTON, pyatspi.ROLE_SCROLL_BAR,
                   pyatspi.ROLE_PROGRESS_BAR, pyatspi.ROLE_DIAL, pyatspi.ROLE_LEVEL_BAR}

    desktop = pyatspi.Registry.getDesktop(0)
    app = None
    for i in range(desktop.childCount):
        try:
            candidate = desktop.getChildAtIndex(i)
            if candidate is not None and candidate.get_process_id() == pid:
                app = candidate
                break
        except Exception:
            continue
    if app is None:
        print(json.dumps({"error": "no application with pid %d on the accessibility bus" % pid}))
        return 1

    count = 0
    errors = 0

    class Rec:
        __slots__ = ("role", "kids", "wanted")

        def __init__(self, role):
            self.role = role
            self.kids = []   # the children walked, in order
            self.wanted = 0  # how many the walk would have taken (up to 96)

    menu_context = {pyatspi.ROLE_MENU_BAR, pyatspi.ROLE_MENU, pyatspi.ROLE_POPUP_MENU}

    def menu_open(obj, states):
        # As uiglean decides it: the entry selected, armed or expanded; an entry that does not say
        # whether it can expand is also open when one of its items is showing.
        if any(s in states for s in (pyatspi.STATE_SELECTED, pyatspi.STATE_ARMED,
                                     pyatspi.STATE_EXPANDED)):
            return True
        if pyatspi.STATE_EXPANDABLE in states:
            return False
        try:
            for i in range(min(obj.childCount, MAX_CHILDREN)):
                if obj.getChildAtIndex(i).getState().contains(pyatspi.STATE_SHOWING):
                    return True
        except Exception:
            pass
        return False

    HIDDEN = object()

    def visit(obj, depth, parent_role=None, parent_visible=False):
        nonlocal count, errors
        if depth > MAX_DEPTH or count >= MAX_NODES:
            return None
        count += 1
        role = None
        states = []
        try:
            role = obj.getRole()
            obj.name
            obj.description
            states = obj.getState().getStates()
        except Exception:
            errors += 1
        shown = pyatspi.STATE_VISIBLE in states or pyatspi.STATE_SHOWING in states
        # A hidden child of a visible parent is not in uiglean's tree (menus stay, closed).
        if (parent_visible and not shown and role is not None
                and role not in (pyatspi.ROLE_MENU, pyatspi.ROLE_POPUP_MENU)):
            count -= 1
            return HIDDEN
        try:
            obj.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
        except NotImplementedError:
            pass
        except Exception:
            errors += 1
        try:
            action = obj.queryAction()
            [action.getName(i) for i in range(action.nActions)]
        except NotImplementedError:
            pass
        except Exception:
            errors += 1
        if role in text_roles:
            try:
                obj.queryText().getText(0, -1)
            except NotImplementedError:
                pass
            except Exception:
                errors += 1
        elif role in value_roles:
            try:
                obj.queryValue().currentValue
            except NotImplementedError:
                pass
            except Exception:
                errors += 1
        rec = Rec(role) if record else None
        try:
            n = min(obj.childCount, MAX_CHILDREN)
        except Exception:
            errors += 1
            n = 0
        # In a window's tree a closed menu lists no items (uiglean reads them through the menu
        # bar only).
        if role == pyatspi.ROLE_MENU and parent_role in menu_context and not menu_open(obj, states):
            n = 0
        if role == pyatspi.ROLE_POPUP_MENU and depth > 0 and not shown:
            n = 0
        if rec is not None:
            rec.wanted = n
        for i in range(n):
            if depth + 1 > MAX_DEPTH or count >= MAX_NODES:
                break
            try:
                child = obj.getChildAtIndex(i)
            except Exception:
                errors += 1
                child = None
            if child is None:
                continue
            kid = visit(child, depth + 1, role, pyatspi.STATE_VISIBLE in states)
            if kid is HIDDEN:
                if rec is not None:
                    rec.wanted -= 1
                continue
            if rec is not None and kid is not None:
                rec.kids.append(kid)
        return rec

    shown = (pyatspi.STATE_SHOWING, pyatspi.STATE_VISIBLE, pyatspi.STATE_ICONIFIED)
    windows = []
    try:
        tops = [app.getChildAtIndex(i) for i in range(app.childCount)]
    except Exception:
        tops = []
        errors += 1
    for top in tops:
        if len(windows) >= MAX_WINDOWS:
            break
        try:
            states = top.getState()
            if not any(states.contains(s) for s in shown):
                continue
            before = count
            rec = visit(top, 0)
            window = {"nodes": count - before, "rec": rec}
            if record:
                window.update(name=top.name, role=top.getRoleName())
            windows.append(window)
        except Exception:
            errors += 1
    walked = time.perf_counter() - started

    out = {"app": app.name, "pid": app.get_process_id(), "nodes": count, "errors": errors,
           "walkSeconds": walked,
           "windows": [{k: v for k, v in w.items() if k != "rec"} for w in windows]}
    if record:
        out.update(menu_shape([w["rec"] for w in windows], pyatspi))
    print(json.dumps(out))
    return 0


def menu_shape(window_recs, pyatspi):
    """The node count uiglean should show for the walked tree, its menus reshaped.

    A menu whose parent is a menu bar, menu or popup menu becomes an item whose one child is the
    menu (one level more); a menu bar starts with the application's item, whose menu is empty.
    The walk covers every object the reshaped snapshot can reach unless the 4000-node limit cut
    it short; `shapedExact` is false when the reshaped walk needed an object that was not walked.
    """
    menu_context = {pyatspi.ROLE_MENU_BAR, pyatspi.ROLE_MENU, pyatspi.ROLE_POPUP_MENU}
    state = {"count": 0, "exact": True, "menuBars": 0, "menuLevels": 0}

    def children(kind, rec, parent_role):
        if kind == "appItem":
            return [("appMenu", None, None)]
        if kind == "appMenu":
            return []
        if kind == "object" and rec.role == pyatspi.ROLE_MENU and parent_role in menu_context:
            return [("menuOf", rec, parent_role)]
        out = []
        if kind == "object" and rec.role == pyatspi.ROLE_MENU_BAR:
            out.append(("appItem", None, None))
        out += [("object", k, rec.role) for k in rec.kids]
        out += [("missing", None, None)] * (rec.wanted - len(rec.kids))
        return out[:MAX_CHILDREN]

    def dump(kind, rec, parent_role, depth):
        if depth > MAX_DEPTH or state["count"] >= MAX_NODES:
            return
        state["count"] += 1
        if kind == "missing":
            state["exact"] = False
            return
        if kind == "menuOf":
            state["menuLevels"] += 1
        elif kind == "appItem":
            state["menuBars"] += 1
        for k in children(kind, rec, parent_role):
            dump(*k, depth + 1)

    per_window = []
    for rec in window_recs:
        before = state["count"]
        if rec is not None:
            dump("object", rec, None, 0)
        per_window.append(state["count"] - before)
    return {"shaped": state["count"], "shapedWindows": per_window, "shapedExact": state["exact"],
            "menuBars": state["menuBars"], "menuLevels": state["menuLevels"]}


# ---------------------------------------------------------------------------------------------
# The harness.

def bench_main(argv):
    import argparse
    import json
    import re
    import shutil
    import signal
    import statistics
    import subprocess
    import tempfile
    import threading
    import time

    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    self_path = os.path.abspath(__file__)
    parser = argparse.ArgumentParser(description="uiglean tree vs a pyatspi walk, on a private desktop")
    parser.add_argument("--build", default="build", help="build folder, relative to the repository (default: build)")
    parser.add_argument("--runs", type=int, default=5, help="timed runs per client and target (default 5)")
    opts = parser.parse_args(argv)
    if opts.runs < 1:
        parser.error("--runs must be at least 1")
    build = opts.build if os.path.isabs(opts.build) else os.path.join(root, opts.build)
    uiglean = os.path.join(build, "bin", "uiglean")
    gtk_app = os.path.join(build, "bin", "uiglean-gtk-app")
    desktop_sh = os.path.join(root, "scripts", "desktop.sh")
    for path in (uiglean, gtk_app):
        if not os.access(path, os.X_OK):
            sys.exit("missing %s (build first: cmake --build --preset default)" % path)
    if shutil.which("xprop") is None:
        sys.exit("xprop is missing (Debian package x11-utils)")
    strace = shutil.which("strace")
    demo = shutil.which("gtk3-demo")

    state = tempfile.mkdtemp(prefix="uiglean-bench-", dir="/tmp")
    started_groups = []  # process groups we started (each app leads its own)

    def end_group(pgid):
        for sig, wait in ((signal.SIGTERM, 5.0), (signal.SIGKILL, 2.0)):
            try:
                os.killpg(pgid, sig)
            except ProcessLookupError:
                return
            deadline = time.monotonic() + wait
            while time.monotonic() < deadline:
                try:
                    os.killpg(pgid, 0)
                except ProcessLookupError:
                    return
                time.sleep(0.05)

    def on_signal(signum, frame):
        raise KeyboardInterrupt

    signal.signal(signal.SIGTERM, on_signal)

    env = None
    desktop_up = False
    try:
        r = subprocess.run([desktop_sh, "start", state], capture_output=True, text=True)
        if r.returncode != 0:
            sys.stderr.write(r.stderr)
            sys.exit("could not start the private desktop")
        desktop_up = True
        env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"),
               "LANG": os.environ.get("LANG", "C.UTF-8")}
        with open(os.path.join(state, "env")) as f:
            for line in f:
                name, _, value = line.rstrip("\n").partition("=")
                if name:
                    env[name] = value
        logs = os.path.join(state, "bench")
        os.makedirs(logs)

        # -------------------------------------------------------------- helpers on the desktop
        def xprop(*args):
            r = subprocess.run(["xprop", *args], env=env, capture_output=True, text=True)
            return r.stdout if r.returncode == 0 else ""

        def active_window():
            """(pid, title) of the window in _NET_ACTIVE_WINDOW, or None."""
            m = re.search(r"window id # (0x[0-9a-f]+)", xprop("-root", "-notype", "_NET_ACTIVE_WINDOW"))
            if not m or int(m.group(1), 16) == 0:
                return None
            props = xprop("-id", m.group(1), "-notype", "_NET_WM_PID", "_NET_WM_NAME")
            pid = re.search(r"_NET_WM_PID = (\d+)", props)
            name = re.search(r'_NET_WM_NAME = "(.*)"', props)
            return (int(pid.group(1)) if pid else None, name.group(1) if name else None)

        def proc_cpu(pid):
            """utime + stime of a process, in seconds (None once it is gone)."""
            try:
                with open("/proc/%d/stat" % pid) as f:
                    fields = f.read().rsplit(")", 1)[1].split()
                return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")
            except (OSError, IndexError, ValueError):
                return None

        def bus_daemon_pids():
            """The accessibility bus's dbus-daemon: in the group desktop.sh started the launcher in."""
            try:
                with open(os.path.join(state, "pids", "a11y")) as f:
                    pgid = int(f.read().strip())
            except (OSError, ValueError):
                return []
            found = []
            for name in os.listdir("/proc"):
                if not name.isdigit():
                    continue
                try:
                    with open("/proc/%s/stat" % name) as f:
                        stat = f.read()
                except OSError:
                    continue
                comm = stat[stat.find("(") + 1:stat.rfind(")")]
                fields = stat.rsplit(")", 1)[1].split()
                if comm == "dbus-daemon" and int(fields[2]) == pgid:
                    found.append(int(name))
            return found

        bus_pids = bus_daemon_pids()

        def cpu_of(pids):
            values = [proc_cpu(p) for p in pids]
            return None if not values or None in values else sum(values)

        def timed(cmd, app_pid, out_path):
            """Runs cmd to completion: (wall s, client CPU s, app CPU s, bus CPU s, exit status)."""
            app_before = proc_cpu(app_pid)
            bus_before = cpu_of(bus_pids)
            with open(out_path, "wb") as out, open(out_path + ".err", "wb") as err:
                t0 = time.perf_counter()
                p = subprocess.Popen(cmd, env=env, stdout=out, stderr=err, stdin=subprocess.DEVNULL)
                # A client that hangs is killed (and shows as failed) rather than stalling the run.
                lock = threading.Lock()
                reaped = [False]

                def kill_hung():
                    with lock:
                        if not reaped[0]:
                            err.write(b"\n[bench] killed after %d s without finishing\n" % RUN_TIMEOUT)
                            err.flush()
                            p.kill()

                timer = threading.Timer(RUN_TIMEOUT, kill_hung)
                timer.start()
                _, status, usage = os.wait4(p.pid, 0)
                wall = time.perf_counter() - t0
                with lock:
                    reaped[0] = True
                timer.cancel()
            p.returncode = os.waitstatus_to_exitcode(status)
            app_after = proc_cpu(app_pid)
            app_cpu = None if app_before is None or app_after is None else app_after - app_before
            bus_after = cpu_of(bus_pids)
            bus_cpu = None if bus_before is None or bus_after is None else bus_after - bus_before
            return wall, usage.ru_utime + usage.ru_stime, app_cpu, bus_cpu, p.returncode

        def tree_nodes(doc):
            def count(n):
                return 1 + sum(count(c) for c in n.get("children", []))
            return [count(w) for w in doc.get("windows", [])]

        def run_uiglean(app_pid, tag):
            out = os.path.join(logs, "uiglean-%s.json" % tag)
            wall, cpu, app_cpu, bus_cpu, status = timed([uiglean, "tree"], app_pid, out)
            doc = None
            if status == 0:
                try:
                    with open(out, "rb") as f:
                        doc = json.loads(f.read().decode("utf-8"))
                except ValueError:
                    doc = None
            return {"wall": wall, "cpu": cpu, "app_cpu": app_cpu, "bus_cpu": bus_cpu,
                    "status": status, "doc": doc,
                    "out": out}

        def run_walk(app_pid, tag, record=False):
            out = os.path.join(logs, "walk-%s.json" % tag)
            cmd = ["/usr/bin/python3", self_path, "--walk", str(app_pid)]
            if record:
                cmd.append("--record")
            wall, cpu, app_cpu, bus_cpu, status = timed(cmd, app_pid, out)
            doc = None
            try:
                with open(out) as f:
                    doc = json.loads(f.read() or "null")
            except ValueError:
                doc = None
            return {"wall": wall, "cpu": cpu, "app_cpu": app_cpu, "bus_cpu": bus_cpu,
                    "status": status, "doc": doc,
                    "out": out}

        def describe_failure(r):
            with open(r["out"] + ".err", errors="replace") as f:
                err = f.read().strip()
            return "exit status %s%s" % (r["status"], (": " + err[-400:]) if err else "")

        # ---------------------------------------------------------- D-Bus messages via strace
        def strace_messages(cmd, tag):
            """Runs cmd under strace and decodes every D-Bus message it writes."""
            trace = os.path.join(logs, "strace-%s.txt" % tag)
            out = os.path.join(logs, "strace-%s.out" % tag)
            with open(out, "wb") as f:
                # In a group of its own, so that a hung client goes with strace if it is killed.
                p = subprocess.Popen([strace, "-f", "-qq", "-xx", "-s", "1024", "-o", trace,
                                      "-e", "trace=connect,close,sendmsg,sendto,write,writev",
                                      *cmd], env=env, stdout=f, stderr=subprocess.DEVNULL,
                                     stdin=subprocess.DEVNULL, start_new_session=True)
                try:
                    status = p.wait(timeout=RUN_TIMEOUT * 3)
                except subprocess.TimeoutExpired:
                    end_group(p.pid)
                    p.wait()
                    status = "killed after %d s" % (RUN_TIMEOUT * 3)
            return parse_trace(trace, env), status, out

        # ------------------------------------------------------------------ a target's run
        def in_group(pid, pgid):
            try:
                return os.getpgid(pid) == pgid
            except ProcessLookupError:
                return False

        def start_app(label, cmd, title):
            log = open(os.path.join(logs, "app-%s.log" % label), "wb")
            p = subprocess.Popen(cmd, env=env, stdout=log, stderr=subprocess.STDOUT,
                                 stdin=subprocess.DEVNULL, start_new_session=True)
            log.close()
            started_groups.append(p.pid)
            deadline = time.monotonic() + 30
            while time.monotonic() < deadline:
                if p.poll() is not None:
                    raise RuntimeError("%s exited at once (status %s); see %s" % (label, p.returncode, log.name))
                front = active_window()
                if front and front[0] and in_group(front[0], p.pid) and front[1] == title:
                    p.app_pid = front[0]
                    return p
                time.sleep(0.1)
            raise RuntimeError("%s: window %r never became the active window (active: %r)"
                               % (label, title, active_window()))

        def stop_app(p):
            end_group(p.pid)
            try:
                p.wait(timeout=2)
            except subprocess.TimeoutExpired:
                pass
            if p.pid in started_groups:
                started_groups.remove(p.pid)

        def bench_target(label, cmd, title, setup=None, setup_title=None):
            print("\n== %s  (%s)" % (label, " ".join(os.path.basename(c) if i == 0 else c
                                                     for i, c in enumerate(cmd))), flush=True)
            launched = start_app(label, cmd, title)
            result = {"label": label}
            try:
                if setup is not None:
                    setup(launched)
                    if setup_title is not None:
                        deadline = time.monotonic() + 20
                        while time.monotonic() < deadline:
                            front = active_window()
                            if front and front[1] == setup_title:
                                break
                            time.sleep(0.1)
                        else:
                            raise RuntimeError("%s: %r never came to the front (active: %r)"
                                               % (label, setup_title, active_window()))

                class Target:
                    pid = launched.app_pid
                p = Target()
                # Until the app has put its windows on the bus, tree sees it with few nodes; the
                # first full run also makes GTK create its accessible objects (a cold run).
                cold = None
                for attempt in range(40):
                    r = run_uiglean(p.pid, "%s-ready%d" % (label, attempt))
                    if r["status"] == 0 and r["doc"] and r["doc"].get("pid") == p.pid and \
                            sum(tree_nodes(r["doc"])) > 1:
                        cold = r
                        break
                    time.sleep(0.25)
                if cold is None:
                    raise RuntimeError("uiglean tree never showed %s (pid %d): %s"
                                       % (label, p.pid, describe_failure(r)))
                result["cold"] = cold
                check = run_walk(p.pid, label + "-record", record=True)
                if check["status"] != 0 or not check["doc"] or "error" in check["doc"]:
                    raise RuntimeError("the pyatspi walk failed on %s: %s"
                                       % (label, check["doc"] or describe_failure(check)))
                result["check"] = check
                result["check_uiglean"] = run_uiglean(p.pid, label + "-check")

                ours, theirs = [], []
                for i in range(opts.runs):
                    # Alternate who goes first, so that neither always follows the other.
                    order = ("u", "w") if i % 2 == 0 else ("w", "u")
                    for who in order:
                        if who == "u":
                            ours.append(run_uiglean(p.pid, "%s-%d" % (label, i)))
                        else:
                            theirs.append(run_walk(p.pid, "%s-%d" % (label, i)))
                result["ours"], result["theirs"] = ours, theirs

                if strace:
                    result["strace_ours"] = strace_messages([uiglean, "tree"], label + "-uiglean")
                    result["strace_theirs"] = strace_messages(
                        ["/usr/bin/python3", self_path, "--walk", str(p.pid)], label + "-walk")
                    result["strace_base"] = strace_messages(
                        ["/usr/bin/python3", "-c", "import pyatspi; pyatspi.Registry.getDesktop(0).childCount"],
                        label + "-startup")
                result["startup"] = [timed(["/usr/bin/python3", "-c", "import pyatspi"], p.pid,
                                           os.path.join(logs, "startup-%s-%d" % (label, i)))[0]
                                     for i in range(opts.runs)]
                result["pid"] = p.pid
                report(result)
            finally:
                stop_app(launched)
            return result

        # ------------------------------------------------------------------------ printing
        def ms(s):
            return "%.0f" % (s * 1000.0)

        def spread(values):
            values = [v for v in values if v is not None]
            if not values:
                return "n/a"
            return "%s [%s-%s]" % (ms(statistics.median(values)), ms(min(values)), ms(max(values)))

        def med(values):
            values = [v for v in values if v is not None]
            return statistics.median(values) if values else None

        def cpu_ms(runs, key):
            m = med([r[key] for r in runs])
            return "n/a" if m is None else ms(m)

        def report(res):
            ours, theirs = res["ours"], res["theirs"]
            bad = [r for r in ours if r["status"] != 0 or not r["doc"]]
            bad_w = [r for r in theirs if r["status"] != 0 or not r["doc"] or "error" in r["doc"]]
            for r in bad:
                print("  !! uiglean tree failed: %s" % describe_failure(r))
            for r in bad_w:
                print("  !! pyatspi walk failed: %s" % (r["doc"] or describe_failure(r)))
            u_counts = sorted({sum(tree_nodes(r["doc"])) for r in ours if r["doc"]})
            w_counts = sorted({r["doc"]["nodes"] for r in theirs if r["doc"] and "nodes" in r["doc"]})
            u_med = med([r["wall"] for r in ours if r not in bad])
            w_med = med([r["wall"] for r in theirs if r not in bad_w])

            rows = [("", "uiglean tree", "pyatspi walk"),
                    ("wall ms, median [min-max]", spread([r["wall"] for r in ours if r not in bad]),
                     spread([r["wall"] for r in theirs if r not in bad_w])),
                    ("client CPU ms (median)", ms(med([r["cpu"] for r in ours])),
                     ms(med([r["cpu"] for r in theirs]))),
                    ("app CPU ms (median)", cpu_ms(ours, "app_cpu"), cpu_ms(theirs, "app_cpu")),
                    ("a11y bus daemon CPU ms (median)", cpu_ms(ours, "bus_cpu"), cpu_ms(theirs, "bus_cpu")),
                    ("nodes", "/".join(map(str, u_counts)) or "n/a", "/".join(map(str, w_counts)) or "n/a"),
                    ]
            if u_med and u_counts and w_med and w_counts:
                rows.append(("ms per 1000 nodes", "%.1f" % (u_med * 1e6 / u_counts[-1]),
                             "%.1f" % (w_med * 1e6 / w_counts[-1])))
            msgs = {}
            if "strace_ours" in res:
                (o, o_status, _), (t, t_status, _), (b, _, _) = \
                    res["strace_ours"], res["strace_theirs"], res["strace_base"]
                o_nodes = u_counts[-1] if u_counts else None
                t_nodes = w_counts[-1] if w_counts else None
                def calls(m):
                    return m["a11y_calls"] + m["direct_calls"]

                def to_app(m):
                    return m["app_calls"] + m["direct_calls"]

                rows.append(("D-Bus method calls sent", str(calls(o)), str(calls(t))))
                rows.append(("  to the app through the a11y bus", str(o["app_calls"]), str(t["app_calls"])))
                rows.append(("  to the app, direct connection", str(o["direct_calls"]), str(t["direct_calls"])))
                rows.append(("  to the registry / bus daemon", "%d / %d" % (o["registry_calls"], o["daemon_calls"]),
                             "%d / %d" % (t["registry_calls"], t["daemon_calls"])))
                rows.append(("D-Bus messages on the session bus", str(o["session_msgs"]), str(t["session_msgs"])))
                if o_nodes and t_nodes:
                    rows.append(("method calls per node", "%.2f" % (calls(o) / o_nodes),
                                 "%.2f" % (calls(t) / t_nodes)))
                    rows.append(("  to the app only, per node", "%.2f" % (to_app(o) / o_nodes),
                                 "%.2f" % (to_app(t) / t_nodes)))
                msgs = {"ours": o, "theirs": t, "base": b, "o_status": o_status, "t_status": t_status}
            width = max(len(r[0]) for r in rows)
            for r in rows:
                print("  %-*s  %-22s  %s" % (width, r[0], r[1], r[2]))

            if u_med and w_med:
                ratio = w_med / u_med
                print("  pyatspi/uiglean, median wall: %.2fx   (target: uiglean at least 5x faster -> %s)"
                      % (ratio, "met" if ratio >= 5 else "not met"))
            if u_med and u_counts:
                if u_counts[-1] >= MAX_NODES:
                    print("  uiglean for %d nodes: %s ms median   (target: under 1 s for 4000 nodes -> %s)"
                          % (u_counts[-1], ms(u_med), "met" if u_med < 1.0 else "not met"))
                else:
                    print("  uiglean for %d nodes: %s ms median   (the 1 s target is for 4000 nodes;"
                          " this app has fewer)" % (u_counts[-1], ms(u_med)))
            print("  python3 + import pyatspi alone: %s ms median; pyatspi's own walk time (in-process, "
                  "after import): %s ms median"
                  % (ms(statistics.median(res["startup"])),
                     ms(med([r["doc"].get("walkSeconds") for r in theirs if r["doc"] and "walkSeconds" in r["doc"]]) or 0)))
            cold = res["cold"]
            print("  first uiglean run (the app creates its accessible objects): %s ms, %d nodes"
                  % (ms(cold["wall"]), sum(tree_nodes(cold["doc"]))))

            # Same app, same windows?
            check, cu = res["check"]["doc"], res["check_uiglean"]["doc"]
            print("  app seen: uiglean %r pid %s | pyatspi %r pid %s | started pid %d -> %s"
                  % (cu.get("app") if cu else None, cu.get("pid") if cu else None,
                     check.get("app"), check.get("pid"), res["pid"],
                     "same" if cu and cu.get("pid") == check.get("pid") == res["pid"] else "DIFFERENT"))
            u_windows = [(w.get("title", ""), n) for w, n in zip(cu.get("windows", []), tree_nodes(cu))] if cu else []
            w_windows = [(w["name"], w["nodes"], shaped) for w, shaped in
                         zip(check["windows"], check["shapedWindows"])]
            for i in range(max(len(u_windows), len(w_windows))):
                a = u_windows[i] if i < len(u_windows) else ("-", 0)
                b = w_windows[i] if i < len(w_windows) else ("-", 0, 0)
                print("    window %d: uiglean %-20r %5d nodes | pyatspi %-20r %5d nodes (%d in uiglean's"
                      " menu shape)" % (i, a[0], a[1], b[0], b[1], b[2]))
            if [w[0] for w in u_windows] != [w[0] for w in w_windows]:
                print("    !! the window titles differ")
            u_total = sum(n for _, n in u_windows)
            print("  node counts: uiglean %d, pyatspi %d; the walked tree with uiglean's menu shape "
                  "(%d menu bars: +2 each, %d menus one level deeper) gives %d%s -> %s"
                  % (u_total, check["nodes"], check["menuBars"], check["menuLevels"], check["shaped"],
                     "" if check["shapedExact"] else " (approximate: the 4000 limit cut the walk)",
                     "matches" if check["shaped"] == u_total else "DIFFERS by %+d" % (u_total - check["shaped"])))
            if check.get("errors"):
                print("  pyatspi calls that failed during the walk: %d" % check["errors"])
            if msgs:
                o, t, b = msgs["ours"], msgs["theirs"], msgs["base"]
                print("  messages: decoded from the bytes each process writes (strace -f, one more run"
                      " each); uiglean also made %d X11 writes (not D-Bus)." % o["x11_writes"])
                print("  pyatspi's figures include its start-up: python3 + import pyatspi +"
                      " getDesktop(0).childCount alone sends %d method calls (%d to the registry,"
                      " %d to the bus daemon) and %d session-bus messages."
                      % (b["a11y_calls"] + b["direct_calls"], b["registry_calls"], b["daemon_calls"],
                         b["session_msgs"]))
                for who, m in (("uiglean", o), ("pyatspi", t)):
                    top = sorted(m["members"].items(), key=lambda kv: -kv[1])[:8]
                    print("    %-8s %s" % (who, ", ".join("%s %d" % kv for kv in top)))
                if msgs["o_status"] != 0 or msgs["t_status"] != 0:
                    print("  !! a client failed under strace (uiglean %s, pyatspi %s)"
                          % (msgs["o_status"], msgs["t_status"]))
                if o["partial"] or t["partial"]:
                    print("  note: %d/%d writes did not start a message (partial writes, not counted)"
                          % (o["partial"], t["partial"]))
            sys.stdout.flush()

        # ---------------------------------------------------------------------------- main
        print("uiglean tree vs pyatspi walk: %d timed runs each, interleaved; private desktop %s"
              % (opts.runs, env.get("DISPLAY")))
        print("limits: %d windows, %d children an object, %d levels below a window, %d nodes"
              % (MAX_WINDOWS, MAX_CHILDREN, MAX_DEPTH, MAX_NODES))
        print("binary: %s (built %s)" % (os.path.relpath(uiglean, root),
                                         time.strftime("%Y-%m-%d %H:%M:%S", time.localtime(os.path.getmtime(uiglean)))))
        print("machine: %d CPUs, load average %.2f %.2f %.2f (other work on the machine widens the spread)"
              % ((os.cpu_count() or 0,) + os.getloadavg()))
        results = []
        targets = [("uiglean-gtk-app", [gtk_app, "--big"], "Big")]
        if demo:
            targets.append(("gtk3-demo", [demo, "--run=listbox"], "List Box"))
        else:
            print("\n(gtk3-demo not found: install Debian's gtk-3-examples for the second target)")
        targets = [(label, cmd, title, None, None) for label, cmd, title in targets]

        gedit = shutil.which("gedit")
        if gedit:
            def three_more_windows(launched):
                # gedit is one process: each further start opens a window in it and exits.
                for _ in range(3):
                    subprocess.run([gedit, "--new-window"], env=env, stdout=subprocess.DEVNULL,
                                   stderr=subprocess.DEVNULL, timeout=20)
                    time.sleep(0.5)
            targets.append(("gedit, four windows", [gedit, "--new-window"],
                            "Untitled Document 1 - gedit", three_more_windows,
                            "Untitled Document 4 - gedit"))
        else:
            print("\n(gedit not found: install Debian's gedit for the GTK 3 editor target)")

        soffice = shutil.which("soffice")
        if soffice:
            profile = os.path.join(state, "lo")
            os.makedirs(os.path.join(profile, "user"))
            with open(os.path.join(profile, "user", "registrymodifications.xcu"), "w") as f:
                f.write('<?xml version="1.0" encoding="UTF-8"?>\n'
                        '<oor:items xmlns:oor="http://openoffice.org/2001/registry" '
                        'xmlns:xs="http://www.w3.org/2001/XMLSchema" '
                        'xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance">\n'
                        '<item oor:path="/org.openoffice.Office.Common/Misc"><prop '
                        'oor:name="ShowTipOfTheDay" oor:op="fuse"><value>false</value></prop></item>\n'
                        '<item oor:path="/org.openoffice.Setup/Office"><prop '
                        'oor:name="ooSetupInstCompleted" oor:op="fuse"><value>true</value></prop></item>\n'
                        '</oor:items>\n')

            def open_dialog(launched):
                # Format > Character..., chosen through the menus as a caller would.
                for _ in range(40):
                    r = subprocess.run([uiglean, "menuclick", "Format", "Character..."], env=env,
                                       capture_output=True, text=True)
                    if r.returncode == 0 and '"ok":true' in r.stdout:
                        return
                    time.sleep(0.25)
                raise RuntimeError("could not open Format > Character... in Writer: %s%s"
                                   % (r.stdout, r.stderr))
            targets.append(("LibreOffice Writer + dialog",
                            [soffice, "--writer", "--norestore", "--nologo",
                             "-env:UserInstallation=file://" + profile],
                            "Untitled 1 - LibreOffice Writer", open_dialog, "Character"))
        else:
            print("\n(soffice not found: install Debian's libreoffice-writer and libreoffice-gtk3)")

        for label, cmd, title, setup, setup_title in targets:
            try:
                results.append(bench_target(label, cmd, title, setup, setup_title))
            except RuntimeError as e:
                print("  !! %s" % e, flush=True)
        if not strace:
            print("\n(strace not found: install Debian's strace for the message counts)")
        return 0
    except KeyboardInterrupt:
        print("\ninterrupted", file=sys.stderr)
        return 130
    finally:
        for pgid in list(started_groups):
            end_group(pgid)
        if desktop_up:
            subprocess.run([desktop_sh, "stop", state], stdout=subprocess.DEVNULL)
        shutil.rmtree(state, ignore_errors=True)


# ---------------------------------------------------------------------------------------------
# strace output: which socket each write went to, and the D-Bus header of each message.

def unescape(s):
    """The bytes of a string as strace -xx prints it (every byte as \\xNN, "..." when cut)."""
    out = bytearray()
    i = 0
    while i < len(s):
        if s[i] == "\\" and i + 1 < len(s):
            c = s[i + 1]
            if c == "x":
                out.append(int(s[i + 2:i + 4], 16))
                i += 4
                continue
            simple = {"n": 10, "t": 9, "r": 13, "v": 11, "f": 12, "\\": 92, '"': 34}
            if c in simple:
                out.append(simple[c])
                i += 2
                continue
            j = i + 1
            while j < len(s) and j < i + 4 and s[j] in "01234567":
                j += 1
            out.append(int(s[i + 1:j], 8) & 0xFF)
            i = j
            continue
        out.append(ord(s[i]) & 0xFF)
        i += 1
    return bytes(out)


def dbus_header(data):
    """(type, interface, member, destination) of a message's start, or None if it is not one."""
    import struct
    if len(data) < 16 or data[0:1] not in (b"l", b"B") or data[1] not in (1, 2, 3, 4) or data[3] != 1:
        return None
    e = "<" if data[0:1] == b"l" else ">"
    fields_len = struct.unpack_from(e + "I", data, 12)[0]
    end = min(len(data), 16 + fields_len)
    pos = 16
    found = {}
    try:
        while pos < end:
            pos = (pos + 7) & ~7
            if pos >= end:
                break
            code = data[pos]
            siglen = data[pos + 1]
            sig = data[pos + 2:pos + 2 + siglen].decode()
            pos += 3 + siglen
            if sig in ("s", "o"):
                pos = (pos + 3) & ~3
                n = struct.unpack_from(e + "I", data, pos)[0]
                found[code] = data[pos + 4:pos + 4 + n].decode("utf-8", "replace")
                pos += 5 + n
            elif sig == "g":
                n = data[pos]
                pos += 2 + n
            elif sig == "u":
                pos = (pos + 3) & ~3
                pos += 4
            else:
                break
    except (IndexError, struct.error, UnicodeDecodeError):
        pass
    return data[1], found.get(2, ""), found.get(3, ""), found.get(6, "")


def parse_trace(path, env):
    import re
    a11y_path = env.get("AT_SPI_BUS_ADDRESS", "")
    session_path = env.get("DBUS_SESSION_BUS_ADDRESS", "")

    def socket_of(address):
        m = re.search(r"path=([^,;]+)", address)
        return m.group(1) if m else None

    a11y_sock, session_sock = socket_of(a11y_path), socket_of(session_path)
    fds = {}  # fd -> "a11y" | "session" | "x11" | "other"
    res = {"a11y_calls": 0, "app_calls": 0, "registry_calls": 0, "daemon_calls": 0,
           "direct_calls": 0, "other_msgs": 0, "session_msgs": 0, "x11_writes": 0, "partial": 0,
           "members": {}}
    line_re = re.compile(r"^\d+\s+(connect|close|sendmsg|sendto|writev|write)\((\d+)(.*)$")
    with open(path, errors="replace") as f:
        for line in f:
            m = line_re.match(line)
            if not m:
                continue
            call, fd, rest = m.group(1), int(m.group(2)), m.group(3)
            if call == "close":
                fds.pop(fd, None)
                continue
            if call == "connect":
                p = re.search(r'sun_path=(?:@)?"((?:[^"\\]|\\.)*)"', rest)
                where = "unix" if p else "other"
                if p:
                    sock = unescape(p.group(1)).decode("utf-8", "replace")
                    if sock == a11y_sock:
                        where = "a11y"
                    elif sock == session_sock:
                        where = "session"
                    elif "/.X11-unix/" in sock:
                        where = "x11"
                fds[fd] = where
                continue
            where = fds.get(fd)
            if where not in ("a11y", "session", "x11", "unix"):
                continue
            if where == "x11":
                res["x11_writes"] += 1
                continue
            q = re.search(r'"((?:[^"\\]|\\.)*)"', rest)
            if not q:
                continue
            head = dbus_header(unescape(q.group(1)))
            if head is None:
                # SASL lines of the handshake, or the rest of a message a short write cut.
                if not unescape(q.group(1))[:1] in (b"\0", b"A", b"B", b"N", b"D", b"E"):
                    res["partial"] += 1
                continue
            kind, interface, member, dest = head
            if where == "session":
                res["session_msgs"] += 1
                continue
            if kind != 1:
                res["other_msgs"] += 1
                continue
            if where == "unix":
                # libatspi's direct (peer-to-peer) connection to an application's own socket.
                res["direct_calls"] += 1
            else:
                res["a11y_calls"] += 1
            if where == "unix":
                pass
            elif dest == "org.freedesktop.DBus":
                res["daemon_calls"] += 1
            elif dest == "org.a11y.atspi.Registry":
                res["registry_calls"] += 1
            else:
                res["app_calls"] += 1
            key = member
            if member in ("Get", "GetAll") and interface == "org.freedesktop.DBus.Properties":
                key = "Properties." + member
            res["members"][key] = res["members"].get(key, 0) + 1
    return res


if __name__ == "__main__":
    if len(sys.argv) > 1 and sys.argv[1] == "--walk":
        sys.exit(walk_main(sys.argv[2:]))
    sys.exit(bench_main(sys.argv[1:]))
