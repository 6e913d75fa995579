#!/usr/bin/env python3
"""Text recognition benchmark: uiglean's recogniser against the tesseract program.

Renders screenshot-like 1920x1080 images (menu bar, sidebar, heading, body text, status bar; light
and dark themes; several font sizes) with known text, then runs, one process per image as uiglean
is run, both

  * uiglean's "ocr" (by default build/bin/uiglean-ocr-tesseract, else build-h4/bin/..., the ocr
    subcommand over the Linux recogniser; any command that takes the image path and prints the OcrPayload works, for
    example "build/bin/uiglean ocr"), and
  * the tesseract program ("tesseract IMAGE stdout", its defaults),

(the latter also on a single OpenMP thread), and prints side by side the wall time and, against the known lines, the share of lines read
exactly and the character error rate (edit distance over the known characters).

Needs ImageMagick's convert, the DejaVu fonts and tesseract (Debian: imagemagick, fonts-dejavu,
tesseract-ocr, tesseract-ocr-eng).

  bench/ocr_bench.py [--uiglean "CMD ..."] [--images N] [--repeat R] [--keep DIR]
"""

import argparse
import json
import os
import random
import resource
import shlex
import shutil
import subprocess
import sys
import tempfile
import time

WIDTH, HEIGHT = 1920, 1080

THEMES = [
    # (name, background, text, dim text)
    ("light", "#ffffff", "#1f1f1f", "#5f6368"),
    ("dark", "#1e1e1e", "#d4d4d4", "#9d9d9d"),
    ("paper", "#f4f1ea", "#2b2b2b", "#6b6b6b"),
    ("night", "#282c34", "#abb2bf", "#7f848e"),
]

MENU = ["File", "Edit", "View", "History", "Bookmarks", "Window", "Help", "Tools", "Go", "Run"]
SIDEBAR = ["Inbox", "Drafts", "Sent Items", "Archive", "Downloads", "Documents", "Recent Files",
           "Shared with me", "Starred", "Trash", "Settings", "Accounts", "Calendar", "Contacts",
           "Notes", "Projects 2024", "Invoices", "Reports Q3"]
WORDS = ("the quick brown fox jumps over lazy dog open save close print export import "
         "select all copy paste undo redo search replace find next previous window tab "
         "message reply forward delete move folder label filter sort by date name size "
         "upload sync status ready connected offline update available install restart "
         "version build release notes preview share link invite team member project "
         "budget meeting agenda today tomorrow yesterday review approve reject pending").split()
CAPITALISED = ("Monday Tuesday Friday January March October Alice Bob Carol Berlin London "
               "Paris Tokyo Server Client Account Network Storage Display Keyboard").split()
TOKENS = ["12:45", "3.2 MB", "v1.4.2", "2024-05-17", "#1287", "(draft)", "$19.99", "42",
          "100", "7/10", "8 GB", "v2", "x64", "OK", "ID-5531"]


def sentence(rng, words):
    out = []
    for i in range(words):
        r = rng.random()
        if r < 0.12:
            out.append(rng.choice(TOKENS))
        elif r < 0.25 or i == 0:
            out.append(rng.choice(CAPITALISED))
        else:
            out.append(rng.choice(WORDS))
    text = " ".join(out)
    if rng.random() < 0.5:
        text += rng.choice([".", ",", ":", "?", "!"])
    return text


def layout(index):
    """The known lines of image `index`: a list of (pointsize, x, baseline, text, dim)."""
    rng = random.Random(1000 + index)
    body = [12, 13, 14, 16, 18, 20, 22, 24][index % 8]
    lines = []
    menu = " ".join(rng.sample(MENU, 6))
    lines.append((13, 16, 22, menu, False))
    y = 80
    side = 13 + index % 3
    for item in rng.sample(SIDEBAR, 12):
        lines.append((side, 24, y, item, False))
        y += int(side * 2.4)
    lines.append((30, 360, 96, sentence(rng, 4), False))
    y = 96 + 2 * body + 24
    while y < HEIGHT - 80:
        lines.append((body, 360, y, sentence(rng, rng.randint(5, 11)), rng.random() < 0.2))
        y += int(body * 1.6)
        if rng.random() < 0.15:
            y += body  # paragraph break
    lines.append((11, 1420, HEIGHT - 16, "Ready " + rng.choice(TOKENS) + " Ln 12, Col 40", True))
    return lines


def render(path, index):
    theme = THEMES[index % len(THEMES)]
    _, background, ink, dim = theme
    cmd = ["convert", "-size", f"{WIDTH}x{HEIGHT}", f"xc:{background}", "-font", "DejaVu-Sans"]
    # A sidebar panel a shade away from the background, as applications draw it.
    cmd += ["-fill", dim, "-draw", f"line 330,40 330,{HEIGHT - 40}"]
    for size, x, baseline, text, is_dim in layout(index):
        cmd += ["-fill", dim if is_dim else ink, "-pointsize", str(size),
                "-annotate", f"+{x}+{baseline}", text]
    cmd += ["-alpha", "off", path]
    subprocess.run(cmd, check=True)
    return theme[0]


def edit_distance(a, b):
    if len(a) < len(b):
        a, b = b, a
    previous = list(range(len(b) + 1))
    for i, ca in enumerate(a, 1):
        current = [i]
        for j, cb in enumerate(b, 1):
            current.append(min(previous[j] + 1, current[j - 1] + 1,
                               previous[j - 1] + (ca != cb)))
        previous = current
    return previous[-1]


def score(truth, found):
    """(exact lines, character errors, known characters) of `found` lines against `truth`."""
    exact = errors = chars = 0
    found = [f for f in found if f.strip()]
    for line in truth:
        chars += len(line)
        if line in found:
            exact += 1
            continue
        errors += min([edit_distance(line, f) for f in found] + [len(line)])
    return exact, errors, chars


def run_timed(cmd, env=None):
    """(wall seconds, CPU seconds, completed process) of one run of `cmd`."""
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.perf_counter()
    proc = subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=env)
    wall = time.perf_counter() - start
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    return wall, cpu, proc


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    default = next((path for path in (os.path.join(os.path.dirname(here), build, "bin",
                                                   "uiglean-ocr-tesseract")
                                      for build in ("build", "build-h4")) if os.path.exists(path)),
                   "uiglean-ocr-tesseract")
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--uiglean", default=default,
                        help="command that runs the ocr subcommand (the image path is appended)")
    parser.add_argument("--tesseract", default="tesseract")
    parser.add_argument("--images", type=int, default=8)
    parser.add_argument("--repeat", type=int, default=3)
    parser.add_argument("--keep", help="render the images into this folder and keep them")
    opts = parser.parse_args()

    ours = shlex.split(opts.uiglean)
    for tool in ("convert", opts.tesseract, ours[0]):
        if shutil.which(tool) is None:
            sys.exit(f"ocr_bench: {tool} not found")

    folder = opts.keep or tempfile.mkdtemp(prefix="uiglean-ocr-bench-")
    os.makedirs(folder, exist_ok=True)
    images = []
    for i in range(opts.images):
        path = os.path.join(folder, f"screen{i:02d}.png")
        theme = render(path, i)
        images.append((path, theme, [line[3] for line in layout(i)]))

    # The tesseract program as installed runs on four OpenMP threads; it is also timed on one
    # thread (OMP_THREAD_LIMIT=1), which is how uiglean's recogniser runs it.
    programs = {
        "uiglean": (lambda path: ours + [path], None),
        "tesseract": (lambda path: [opts.tesseract, path, "stdout"], None),
        "tesseract-1t": (lambda path: [opts.tesseract, path, "stdout"],
                         dict(os.environ, OMP_THREAD_LIMIT="1")),
    }
    names = list(programs)
    totals = {name: {"wall": 0.0, "cpu": 0.0, "exact": 0, "errors": 0, "chars": 0}
              for name in names}
    header = "".join(f"  {name + ' s':>15} {'exact':>6} {'CER':>6}" for name in names)
    print(f"{'image':<14}{'theme':<7}{'lines':>6}{header}")
    for path, theme, truth in images:
        wall = {name: 0.0 for name in names}
        cpu = {name: 0.0 for name in names}
        output = {}
        for rep in range(opts.repeat):
            # Rotate which program goes first so that none profits from a warm cache.
            order = names[rep % len(names):] + names[:rep % len(names)]
            for name in order:
                make, env = programs[name]
                seconds, cpu_seconds, proc = run_timed(make(path), env)
                if proc.returncode != 0:
                    sys.exit(f"ocr_bench: {' '.join(make(path))} failed ({proc.returncode}): "
                             f"{proc.stderr.decode(errors='replace').strip()}")
                wall[name] += seconds
                cpu[name] += cpu_seconds
                output[name] = proc.stdout
        found = {name: output[name].decode("utf-8", errors="replace").split("\n")
                 for name in names if name != "uiglean"}
        found["uiglean"] = [line["text"] for line in json.loads(output["uiglean"])["lines"]]
        cells = []
        for name in names:
            exact, errors, chars = score(truth, found[name])
            t = totals[name]
            t["wall"] += wall[name] / opts.repeat
            t["cpu"] += cpu[name] / opts.repeat
            t["exact"] += exact
            t["errors"] += errors
            t["chars"] += chars
            cells.append(f"  {wall[name] / opts.repeat:>15.3f} {exact / len(truth):>6.1%} "
                         f"{errors / chars:>6.2%}")
        print(f"{os.path.basename(path):<14}{theme:<7}{len(truth):>6}{''.join(cells)}")

    lines = sum(len(t) for _, _, t in images)
    print()
    print(f"images {len(images)} ({WIDTH}x{HEIGHT}), known lines {lines}, "
          f"runs per image and program {opts.repeat}; times are means of one pass over all images")
    for name in names:
        t = totals[name]
        print(f"{name:<13}: wall {t['wall']:7.3f} s  cpu {t['cpu']:7.3f} s  "
              f"lines exact {t['exact'] / lines:6.1%}  CER {t['errors'] / t['chars']:6.2%}")
    u = totals["uiglean"]["wall"]
    print(f"wall time ratio uiglean / tesseract: {u / totals['tesseract']['wall']:.3f}, "
          f"uiglean / tesseract-1t: {u / totals['tesseract-1t']['wall']:.3f} (target <= 1.1)")
    if not opts.keep:
        shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    main()
