#!/usr/bin/env python3
"""Times `uiglean-scripted tree` as a whole process on large generated scenes.

Prints, per scene: its element count and file size, the median and best wall time of the run
(scene loading included), the median CPU time (user + system, less sensitive to other load on the
machine) and the peak resident memory of the process.

Usage: bench/tree_bench.py [path/to/uiglean-scripted] [runs]
"""
import json
import os
import resource
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BIN = sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "build", "bin", "uiglean-scripted")
RUNS = int(sys.argv[2]) if len(sys.argv) > 2 else 15


def element(i, depth, kids):
    e = {"AXRole": "AXButton" if not kids else "AXGroup",
         "AXTitle": f"Item {i}", "AXDescription": f"element number {i}",
         "AXEnabled": True, "AXFocused": False, "AXIdentifier": f"id-{i}",
         "AXPosition": {"point": [i % 1000, depth * 10.5]}, "AXSize": {"size": [120, 24]},
         "actions": ["AXPress", "AXShowMenu", "AXRaise"]}
    if kids:
        e["AXChildren"] = kids
    return e


def wide_tree(fanout, levels, counter):
    """A tree `levels` deep with `fanout` children per inner node."""
    def build(depth):
        counter[0] += 1
        i = counter[0]
        kids = [build(depth + 1) for _ in range(fanout)] if depth < levels else []
        return element(i, depth, kids)
    return build(0)


def scene_of(windows):
    return {"frontmost": 1, "apps": [{"pid": 1, "name": "Bench", "bundleId": "com.example.bench",
            "element": {"AXRole": "AXApplication", "AXWindows": windows}}]}


def scenes():
    # 4000+ nodes within every limit: 2 windows of 1 + 16 + 16*16*... (fanout 16, 2 levels = 273)
    out = []
    c = [0]
    wins = [wide_tree(15, 2, c) for _ in range(18)]  # 18 windows * 241 = 4338 elements, 6 dumped
    c2 = [0]
    wins2 = [wide_tree(20, 2, c2) for _ in range(6)]  # 6 * 421 = 2526
    out.append(("4000+ nodes, 6 windows of fanout 15-20", scene_of(wins2 + [wide_tree(40, 2, c2)])))
    out.append(("18 windows (6 dumped)", scene_of(wins)))
    c3 = [0]
    out.append(("wider than 96 (200 x 30)", scene_of([wide_tree(200, 1, c3), wide_tree(30, 2, c3)])))

    def deep(n):
        node = element(0, n, [])
        for d in range(n):
            node = element(d, n - d, [node, element(d + 1000, n - d, [])])
        return node
    out.append(("deeper than 14 (depth 40) plus 4000-node window",
                scene_of([deep(40), wide_tree(64, 2, [0])])))
    return out


def count(node):
    return 1 + sum(count(k) for k in node.get("AXChildren", []))


def main():
    if not os.path.exists("/usr/bin/time"):
        sys.exit("needs /usr/bin/time (Debian package time)")
    if not os.path.exists(BIN):
        sys.exit(f"build {BIN} first (cmake --build --preset default)")
    print(f"binary: {BIN}; {RUNS} runs per scene; times are whole-process wall clock")
    print(f"{'scene':<50} {'elements':>8} {'file':>8} {'nodes out':>9} {'median ms':>9} {'best ms':>8} {'cpu ms':>7} {'peak MiB':>8}")
    with tempfile.TemporaryDirectory() as tmp:
        for name, scene in scenes():
            path = os.path.join(tmp, "scene.json")
            with open(path, "w") as f:
                json.dump(scene, f)
            elements = sum(count(w) for w in scene["apps"][0]["element"]["AXWindows"])
            env = dict(os.environ, UIGLEAN_SCENE=path)
            env.pop("UIGLEAN_JOURNAL", None)
            times, cpu, peak, nodes = [], [], 0, 0
            for _ in range(RUNS):
                before = resource.getrusage(resource.RUSAGE_CHILDREN)
                t0 = time.perf_counter()
                p = subprocess.run([BIN, "tree"], env=env, capture_output=True)
                times.append((time.perf_counter() - t0) * 1000)
                after = resource.getrusage(resource.RUSAGE_CHILDREN)
                cpu.append((after.ru_utime + after.ru_stime - before.ru_utime - before.ru_stime) * 1000)
                if p.returncode != 0:
                    sys.exit(f"tree failed: {p.stderr.decode()}")
            # Peak memory of the tool alone, measured by time(1) rather than this process's
            # children (which would count the forked interpreter too).
            rss = os.path.join(tmp, "rss")
            subprocess.run(["/usr/bin/time", "-f", "%M", "-o", rss, BIN, "tree"], env=env,
                           capture_output=True, check=True)
            with open(rss) as f:
                peak = int(f.read().split()[-1])
            out = json.loads(p.stdout)
            nodes = sum(count_out(w) for w in out["windows"])
            print(f"{name:<50} {elements:>8} {os.path.getsize(path) // 1024:>7}K {nodes:>9} "
                  f"{statistics.median(times):>9.1f} {min(times):>8.1f} {statistics.median(cpu):>7.1f} "
                  f"{peak / 1024:>8.1f}")


def count_out(n):
    return 1 + sum(count_out(c) for c in n["children"])


if __name__ == "__main__":
    main()
