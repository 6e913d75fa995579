#!/usr/bin/python3
"""Snapshot sizes and speed of uiglean-mcp against the `uiglean tree` process, on a private desktop.

    bench/mcp_bench.py [--build build] [--runs N]

Starts its own desktop (scripts/desktop.sh), then for each target application:
  - uiglean-gtk-app: our GTK 3 test application;
  - gedit (Debian package gedit, GTK 3) with four windows;
  - LibreOffice Writer (libreoffice-writer, libreoffice-gtk3) with a new document, on a fresh
    profile.
For each it prints the bytes of one snapshot through the server as `tree` gives it by default
and with maxNodes 4000 (the command line's limit), as JSON, in the text form and in the
interactive text form (bytes / 4 as a rough token count), and the bytes of `uiglean tree`.
Then it times N (default 10) `uiglean tree` processes against N `tree` calls to one server
started before (its later calls, which take what earlier calls kept), with maxNodes 4000 (the
process's snapshot) and with the default 400 nodes (JSON), and against the first call of N
servers started just then (nothing kept yet), interleaved, and prints the medians and their
ratios. A
target whose program is not installed is skipped. Everything it starts is ended on exit.
"""
import argparse
import json
import os
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


class Server:
    """One uiglean-mcp process, spoken to over pipes."""

    def __init__(self, binary, env):
        # Buffered: an unbuffered pipe would read a long reply one byte per call.
        self.p = subprocess.Popen([binary], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                  env=env)
        self.next_id = 0
        self.request("initialize", {"protocolVersion": "2025-11-25", "capabilities": {},
                                    "clientInfo": {"name": "bench", "version": "1"}})

    def request(self, method, params):
        self.next_id += 1
        msg = {"jsonrpc": "2.0", "id": self.next_id, "method": method, "params": params}
        self.p.stdin.write((json.dumps(msg) + "\n").encode())
        self.p.stdin.flush()
        while True:
            line = self.p.stdout.readline()
            if not line:
                raise RuntimeError("the server ended")
            reply = json.loads(line)
            if reply.get("id") == self.next_id:
                return reply

    def tool(self, name, arguments):
        return self.request("tools/call", {"name": name, "arguments": arguments})["result"]

    def close(self):
        self.p.stdin.close()
        self.p.wait(timeout=20)


def desktop_env(state):
    env = {"PATH": os.environ["PATH"], "HOME": os.environ.get("HOME", "/tmp")}
    with open(os.path.join(state, "env")) as f:
        for line in f:
            name, _, value = line.rstrip("\n").partition("=")
            if name and name != "AT_SPI_BUS_ADDRESS":
                env[name] = value
    return env


def wait_front(server, pids, expect_windows=1, timeout=60):
    end = time.time() + timeout
    while time.time() < end:
        r = server.tool("windows", {})
        sc = r.get("structuredContent") or {}
        tree = server.tool("tree", {"maxNodes": 1})
        pid = (tree.get("structuredContent") or {}).get("pid")
        if not r.get("isError") and pid in pids and len(sc.get("windows", [])) >= expect_windows:
            return True
        time.sleep(0.3)
    return False


def first_call(binary, env):
    """The first `tree` (maxNodes 4000) of a server started just now: nothing kept yet."""
    fresh = Server(binary, env)
    try:
        t = time.perf_counter()
        fresh.tool("tree", {"maxNodes": 4000})
        return time.perf_counter() - t
    finally:
        fresh.close()


def measure(name, server, uiglean, env, runs, server_binary):
    print(f"\n== {name}")
    for label, args in [("default (maxNodes 400), json", {}),
                        ("maxNodes 4000, json", {"maxNodes": 4000}),
                        ("maxNodes 4000, text", {"maxNodes": 4000, "format": "text"}),
                        ("maxNodes 4000, interactive text",
                         {"maxNodes": 4000, "format": "text", "interactive": True})]:
        r = server.tool("tree", args)
        text = "".join(c.get("text", "") for c in r["content"])
        size = len(text.encode())
        cut = (r.get("structuredContent") or {}).get("truncated")
        note = f", cut: {cut['omittedNodes']} left out" if cut else ""
        print(f"  {label:34s} {size:8d} bytes  ~{size // 4:6d} tokens{note}")
    out = subprocess.run([uiglean, "tree"], env=env, capture_output=True, timeout=60).stdout
    print(f"  {'uiglean tree (process)':34s} {len(out):8d} bytes  ~{len(out) // 4:6d} tokens")
    proc, full, small, cold = [], [], [], []
    for _ in range(runs):
        cold.append(first_call(server_binary, env))
        t = time.perf_counter()
        subprocess.run([uiglean, "tree"], env=env, capture_output=True, timeout=60)
        proc.append(time.perf_counter() - t)
        t = time.perf_counter()
        server.tool("tree", {"maxNodes": 4000})
        full.append(time.perf_counter() - t)
        t = time.perf_counter()
        server.tool("tree", {})
        small.append(time.perf_counter() - t)

    def ms(xs):
        return f"{statistics.median(xs) * 1000:.0f} ms [{min(xs) * 1000:.0f}-{max(xs) * 1000:.0f}]"
    p = statistics.median(proc)
    print(f"  tree x{runs}, medians [min-max]: `uiglean tree` process {ms(proc)}")
    print(f"    server's first call, maxNodes 4000: {ms(cold)}, {p / statistics.median(cold):.2f}x the process's speed")
    print(f"    server, later calls, maxNodes 4000: {ms(full)}, {p / statistics.median(full):.2f}x the process's speed")
    print(f"    server, later calls, default (400): {ms(small)}, {p / statistics.median(small):.2f}x the process's speed")


def end(proc):
    if proc and proc.poll() is None:
        try:
            os.killpg(proc.pid, signal.SIGTERM)
        except ProcessLookupError:
            return
        try:
            proc.wait(timeout=10)
        except subprocess.TimeoutExpired:
            os.killpg(proc.pid, signal.SIGKILL)
            proc.wait()


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", default=os.path.join(ROOT, "build"))
    ap.add_argument("--runs", type=int, default=10)
    a = ap.parse_args()
    bin_dir = os.path.join(a.build, "bin")
    uiglean = os.path.join(bin_dir, "uiglean")
    work = tempfile.mkdtemp(prefix="mcp-bench-")
    state = os.path.join(work, "desktop")
    subprocess.run(["bash", os.path.join(ROOT, "scripts/desktop.sh"), "start", state], check=True,
                   stdout=subprocess.DEVNULL)
    started = []
    server = None
    try:
        env = desktop_env(state)
        server_binary = os.path.join(bin_dir, "uiglean-mcp")
        server = Server(server_binary, env)

        def spawn(argv):
            p = subprocess.Popen(argv, env=env, stdout=subprocess.DEVNULL,
                                 stderr=subprocess.DEVNULL, start_new_session=True)
            started.append(p)
            return p

        app = spawn([os.path.join(bin_dir, "uiglean-gtk-app")])
        if wait_front(server, {app.pid}):
            measure("uiglean-gtk-app", server, uiglean, env, a.runs, server_binary)
        end(app)

        if shutil.which("gedit"):
            first = spawn(["gedit", "--new-window"])
            time.sleep(2)
            for _ in range(3):
                subprocess.run(["gedit", "--new-window"], env=env, timeout=30,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
                time.sleep(1)
            if wait_front(server, {first.pid}, expect_windows=4):
                measure("gedit, four windows", server, uiglean, env, a.runs, server_binary)
            else:
                print("\n== gedit: did not come up with four windows", file=sys.stderr)
            end(first)
        if shutil.which("soffice"):
            profile = "file://" + os.path.join(work, "lo-profile")
            office = spawn(["soffice", "--writer", "--norestore", "--nologo",
                            f"-env:UserInstallation={profile}"])
            # LibreOffice runs as a child of the launcher: any pid of its session counts.
            deadline = time.time() + 90
            while time.time() < deadline:
                tree = server.tool("tree", {"maxNodes": 1})
                if "soffice" in json.dumps(tree.get("structuredContent", {})).lower():
                    break
                time.sleep(1)
            time.sleep(3)
            measure("LibreOffice Writer", server, uiglean, env, a.runs, server_binary)
            end(office)
    finally:
        if server:
            server.close()
        for p in started:
            end(p)
        subprocess.run(["bash", os.path.join(ROOT, "scripts/desktop.sh"), "stop", state],
                       stdout=subprocess.DEVNULL)
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
