#!/usr/bin/env python3
"""Times brindlehq-cloudkit put and get as whole processes, beside a plain
file copy of the same bytes, on the embedded store and on PostgreSQL.

Prints wall time and peak resident memory of each run (the best wall time
and the highest peak of --repeat runs).

  bench/cloudkit_bench.py [--binary build/bin/brindlehq-cloudkit]
                          [--sizes 1,64,256] [--repeat 3] [--no-postgres]

PostgreSQL runs on a throw-away server started with scripts/pg-server.sh
(fsync on, as on a real server) unless --postgres-url names one.
"""
import argparse
import os
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
MIB = 1 << 20


GNU_TIME = "/usr/bin/time"


def timed(argv, env):
    """Runs argv; returns (wall seconds, peak RSS in bytes).

    The peak comes from GNU time (Debian package "time") when it is there:
    a child forked straight from this interpreter would count the
    interpreter's own memory in its peak.
    """
    report = None
    if os.access(GNU_TIME, os.X_OK):
        report = tempfile.NamedTemporaryFile(prefix="cloudkit-bench-rss-", delete=False)
        report.close()
        argv = [GNU_TIME, "-f", "%M", "-o", report.name] + argv
    start = time.perf_counter()
    process = subprocess.Popen(argv, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    _, status, usage = os.wait4(process.pid, 0)
    wall = time.perf_counter() - start
    process.returncode = os.waitstatus_to_exitcode(status)
    error = process.stderr.read().decode(errors="replace")
    process.stderr.close()
    peak = usage.ru_maxrss * 1024
    if report is not None:
        with open(report.name) as f:
            lines = [line for line in f.read().splitlines() if line.strip().isdigit()]
        os.remove(report.name)
        if lines:
            peak = int(lines[-1]) * 1024
    if process.returncode != 0:
        sys.exit(f"{' '.join(argv[:2])} failed with status {process.returncode}: {error}")
    return wall, peak


def measure(argv, env, repeat, before=None):
    best, peak = None, 0
    for _ in range(repeat):
        if before:
            before()
        wall, rss = timed(argv, env)
        best = wall if best is None else min(best, wall)
        peak = max(peak, rss)
    return best, peak


def make_blob(path, size):
    block = os.urandom(MIB)
    with open(path, "wb") as out:
        for _ in range(size // MIB):
            out.write(block if size > 8 * MIB else os.urandom(MIB))
        out.write(os.urandom(size % MIB))


def drop(path):
    if os.path.exists(path):
        os.remove(path)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--binary", default=os.path.join(ROOT, "build", "bin", "brindlehq-cloudkit"))
    parser.add_argument("--sizes", default="1,64,256", help="blob sizes in MiB")
    parser.add_argument("--repeat", type=int, default=3)
    parser.add_argument("--no-postgres", action="store_true")
    parser.add_argument("--postgres-url")
    args = parser.parse_args()
    if not os.access(args.binary, os.X_OK):
        sys.exit(f"no binary at {args.binary}: build it first (cmake --build build --target brindlehq-cloudkit)")

    work = tempfile.mkdtemp(prefix="cloudkit-bench-")
    env = dict(os.environ, XDG_DATA_HOME=os.path.join(work, "data"))
    stores = [("sqlite", "bench.cloudkit")]
    server_state = None
    if not args.no_postgres:
        url = args.postgres_url
        if url is None:
            server_state = os.path.join(work, "pg")
            subprocess.run(["bash", os.path.join(ROOT, "scripts", "pg-server.sh"), "start", server_state], check=True,
                           env=dict(os.environ, PG_FSYNC="on"), stdout=subprocess.DEVNULL)
            with open(os.path.join(server_state, "url")) as f:
                url = f.read().strip()
        stores.append(("postgres", url))

    rows = []
    try:
        for size_mib in [int(s) for s in args.sizes.split(",")]:
            size = size_mib * MIB
            blob = os.path.join(work, "blob")
            copy = os.path.join(work, "copy")
            out = os.path.join(work, "out")
            make_blob(blob, size)
            copy_wall, copy_rss = measure(["cp", blob, copy], env, args.repeat, lambda: drop(copy))
            rows.append((size_mib, "copy", "cp", copy_wall, copy_rss, None, None))
            for store, container in stores:
                for command in ("put", "get"):
                    path = blob if command == "put" else out
                    wall, rss = measure([args.binary, command, "bench", f"blob{size_mib}", path, container], env,
                                        args.repeat, (lambda: drop(out)) if command == "get" else None)
                    rows.append((size_mib, store, command, wall, rss, wall / copy_wall, rss / size))
                if command == "get" and not filecmp(blob, out):
                    sys.exit(f"{store}: get returned other bytes than put stored")
                subprocess.run([args.binary, "delete", "bench", f"blob{size_mib}", container], env=env, check=True)
            drop(blob), drop(copy), drop(out)
    finally:
        if server_state:
            subprocess.run(["bash", os.path.join(ROOT, "scripts", "pg-server.sh"), "stop", server_state],
                           stdout=subprocess.DEVNULL)
        subprocess.run(["rm", "-rf", work])

    print(f"{'blob':>8} {'store':<9} {'op':<4} {'wall s':>8} {'peak MiB':>9} {'x copy':>7} {'x blob':>7}")
    for size_mib, store, op, wall, rss, vs_copy, vs_blob in rows:
        ratio = f"{vs_copy:7.2f}" if vs_copy is not None else f"{'':7}"
        mem = f"{vs_blob:7.2f}" if vs_blob is not None else f"{'':7}"
        print(f"{size_mib:>5} MiB {store:<9} {op:<4} {wall:8.3f} {rss / MIB:9.1f} {ratio} {mem}")
    print("targets: put and get within 2.00 x copy time; peak memory within 2.50 x blob size")
    if not os.access(GNU_TIME, os.X_OK):
        print("note: /usr/bin/time is missing (apt-get install time); peaks include the interpreter's memory")


def filecmp(a, b):
    with open(a, "rb") as fa, open(b, "rb") as fb:
        while True:
            x, y = fa.read(MIB), fb.read(MIB)
            if x != y:
                return False
            if not x:
                return True


if __name__ == "__main__":
    main()
