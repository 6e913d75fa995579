#!/usr/bin/python3
"""Text recognition on interface screenshots: uiglean's recogniser against the tesseract program.

Two kinds of pages, each with its text lines and their boxes known:

  * synthetic interface pages drawn with Pillow: dialogs with rows of outlined and rounded
    buttons, numbered lists, lines sharing a left-aligned prefix ("Line 4: ..."), label/value forms
    with the values in a column far away, menus with shortcuts, in DejaVu Sans, Liberation Sans and
    Nimbus Sans at 11-16 px, light and dark;
  * screenshots of real applications on a private desktop (scripts/desktop.sh): our GTK and Qt
    test applications (light and dark, with a menu open), Debian's gtk3-widget-factory and
    gtk3-demo, and Debian's Chromium showing bench/ocr_ui_page.html (a settings page: sidebar with
    a selected entry, coloured and disabled buttons, a form, a table, a notice, a dark footer),
    with the truth taken from the accessibility tree (`uiglean tree`: every label, button, menu
    and check box with its name and frame; square buttons are taken for icon buttons and left
    out).

Each page is read by uiglean's recogniser (build/bin/uiglean-ocr-tesseract, the ocr subcommand
without the accessibility check) and by the tesseract program on one thread (OMP_THREAD_LIMIT=1,
its lines from the TSV output), one process per page, and scored against the known lines:

  * whole: one reported line lies over the known line and reads it with a character error rate
    of at most 5%;
  * CER: character errors (edit distance against the reported lines over the known line, their
    best single line or all of them in a row) over the known characters;
  * order: of consecutive known lines in reading order (rows top to bottom, left to right in a
    row), the share whose reported lines come in the same order;
  * time: wall seconds per page.

Needs /usr/bin/python3 with python3-pil, fonts-dejavu-core, fonts-liberation2, fonts-urw-base35,
tesseract-ocr, and for the screenshots xvfb, imagemagick, chromium and the desktop packages.

  bench/ocr_ui_bench.py [--uiglean CMD] [--no-desktop] [--keep DIR] [--repeat R] [--pages N]
"""

import argparse
import json
import os
import random
import shlex
import shutil
import subprocess
import sys
import tempfile
import time

from PIL import Image, ImageDraw, ImageFont

from ocr_bench import edit_distance

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)

FONTS = {
    "DejaVu": "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf",
    "Liberation": "/usr/share/fonts/truetype/liberation2/LiberationSans-Regular.ttf",
    "Nimbus": "/usr/share/fonts/opentype/urw-base35/NimbusSans-Regular.otf",
}
THEMES = {
    # background, text, dim text, panel, border
    "light": ("#ffffff", "#202020", "#5f6368", "#f2f2f2", "#9a9a9a"),
    "dark": ("#242424", "#e8e8e8", "#a0a0a0", "#303030", "#6a6a6a"),
}
SENTENCES = [
    "Do you want to save the changes you made to the document?",
    "Your changes will be lost if you don't save them.",
    "The file could not be opened because it is in use by another program.",
    "Check the network connection and try again in a few minutes.",
    "A newer version of this application is available for download.",
]
LIST_ITEMS = [
    "Attachment download finished for report.pdf", "Meeting notes shared with the team",
    "Invoice 2024-17 approved by Carol", "Backup of Documents completed", "Reply from Bob received",
    "Calendar invite for Friday at 10:30", "Storage is 82% full", "Build 1.4.2 is ready to test",
    "Password changed on May 3", "New sign-in from Berlin", "Printer queue is empty",
    "Sync paused while offline",
]
BUTTONS = [["Don't Save", "Cancel", "Save"], ["Retry", "Ignore", "Abort"], ["Back", "Next", "Finish"],
           ["Open", "Cancel"], ["Yes", "No"], ["Apply", "Reset", "Close", "Help"]]
FORM = [("Name", "Alice Carol"), ("Email", "alice@example.com"), ("Phone", "+44 20 7946 0958"),
        ("Country", "United Kingdom"), ("Plan", "Team (12 seats)"), ("Renews", "2025-03-01"),
        ("Storage", "1.2 TB of 2 TB")]
MENU_BAR = ["File", "Edit", "View", "Go", "Window", "Help"]
MENU_ITEMS = [("New Window", "Ctrl+N"), ("Open File…", "Ctrl+O"), ("Save As…", "Shift+Ctrl+S"),
              ("Print", "Ctrl+P"), ("Close Tab", "Ctrl+W"), ("Quit", "Ctrl+Q")]
FOX = "The quick brown fox jumps over the lazy dog"


class Page:
    def __init__(self, width, height, theme, font_path, size):
        self.theme = THEMES[theme]
        self.image = Image.new("RGB", (width, height), self.theme[0])
        self.draw = ImageDraw.Draw(self.image)
        self.font = ImageFont.truetype(font_path, size)
        self.size = size
        self.lines = []  # (text, [x, y, w, h])

    def text(self, x, y, text, dim=False):
        colour = self.theme[2] if dim else self.theme[1]
        self.draw.text((x, y), text, font=self.font, fill=colour)
        left, top, right, bottom = self.draw.textbbox((x, y), text, font=self.font)
        self.lines.append((normal(text), [left, top, right - left, bottom - top]))
        return right

    def width(self, text):
        left, _, right, _ = self.draw.textbbox((0, 0), text, font=self.font)
        return right - left

    def button(self, x, y, label, rounded):
        w = self.width(label) + 2 * self.size + 8
        h = int(self.size * 2.2)
        box = [x, y, x + w, y + h]
        if rounded:
            self.draw.rounded_rectangle(box, radius=h // 3, fill=self.theme[3],
                                        outline=self.theme[4])
        else:
            self.draw.rectangle(box, fill=self.theme[3], outline=self.theme[4])
        tw = self.width(label)
        self.text(x + (w - tw) // 2, y + (h - self.size) // 2 - self.size // 8, label)
        return x + w


def synthetic_page(index):
    rng = random.Random(7000 + index)
    font = list(FONTS)[index % len(FONTS)]
    size = 11 + (index // len(FONTS)) % 6
    theme = "dark" if index % 2 else "light"
    page = Page(1024, 768, theme, FONTS[font], size)
    step = int(size * 1.9)
    # A menu bar.
    x = 12
    for item in MENU_BAR:
        x = page.text(x, 6, item) + 2 * size
    y = 6 + step + 10
    kind = index % 4
    if kind == 0:
        # A dialog: two sentences, then a row of buttons.
        for sentence in rng.sample(SENTENCES, 2):
            page.text(40, y, sentence)
            y += step
        y += size
        x = 40
        for label in rng.choice(BUTTONS[:3]):
            x = page.button(x, y, label, rounded=index % 8 == 0) + size
        y += 3 * size + 16
        x = 40
        for label in rng.choice(BUTTONS[3:]):
            x = page.button(x, y, label, rounded=index % 8 != 0) + size
        y += 3 * size + 16
    elif kind == 1:
        # A numbered list.
        for n, item in enumerate(rng.sample(LIST_ITEMS, 10), 1):
            page.text(40, y, f"{n}. {item}")
            y += step
    elif kind == 2:
        # Lines sharing a prefix.
        for n in range(1, 11):
            page.text(40, y, f"Line {n}: {FOX} {rng.randint(2, 99)} times.")
            y += step
    else:
        # A form: labels in one column, values far away in another; then a menu with shortcuts.
        for label, value in FORM:
            page.text(40, y, label + ":", dim=True)
            page.text(40 + 16 * size, y, value)
            y += step
        y += size
        page.draw.rectangle([36, y - 6, 40 + 26 * size, y + step * len(MENU_ITEMS) + 2],
                            fill=page.theme[3], outline=page.theme[4])
        for item, shortcut in MENU_ITEMS:
            page.text(48, y, item)
            page.text(40 + 26 * size - 8 - page.width(shortcut), y, shortcut, dim=True)
            y += step
    # Body text under it all.
    y += size
    while y < 768 - 2 * step:
        page.text(40, y, rng.choice(SENTENCES))
        y += step
    return f"synthetic-{index:02d}-{font}-{size}px-{theme}", page


def normal(text):
    """Text as compared: an ellipsis and three full stops look alike on screen."""
    return text.replace("\u2026", "...").strip()


def over(found_box, truth_box):
    """Whether a reported line lies over a known one: its vertical middle within the known box
    (a little widened) and some horizontal overlap."""
    fx, fy, fw, fh = found_box
    tx, ty, tw, th = truth_box
    middle = fy + fh / 2
    slack = max(3, th * 0.35)
    return ty - slack <= middle <= ty + th + slack and fx < tx + tw and tx < fx + fw


def reading_order(boxes):
    """Indices of `boxes` in reading order: rows top to bottom, left to right in a row."""
    order = sorted(range(len(boxes)), key=lambda i: boxes[i][1] + boxes[i][3] / 2)
    rows, current, bottom = [], [], None
    for i in order:
        x, y, w, h = boxes[i]
        if current and y + h / 2 > bottom:
            rows.append(current)
            current = []
        if not current:
            bottom = y + h
        current.append(i)
    if current:
        rows.append(current)
    return [i for row in rows for i in sorted(row, key=lambda i: boxes[i][0])]


def score(truth, found):
    """whole, errors, characters, ordered pairs, pairs of one page."""
    whole = errors = chars = 0
    matched = []  # (truth index, found index) of lines read whole
    for t, (text, box) in enumerate(truth):
        chars += len(text)
        candidates = [i for i, (_, fbox) in enumerate(found) if over(fbox, box)]
        best, best_index = len(text), None
        for i in candidates:
            d = edit_distance(text, found[i][0])
            if d < best:
                best, best_index = d, i
        joined = " ".join(found[i][0] for i in sorted(candidates, key=lambda i: found[i][1][0]))
        if len(candidates) > 1:
            best = min(best, edit_distance(text, joined))
        errors += best
        if best_index is not None and edit_distance(text, found[best_index][0]) <= 0.05 * len(text):
            whole += 1
            matched.append((t, best_index))
    position = {t: f for t, f in matched}
    in_order = [t for t in reading_order([box for _, box in truth]) if t in position]
    pairs = max(0, len(in_order) - 1)
    ordered = sum(1 for a, b in zip(in_order, in_order[1:]) if position[a] < position[b])
    return whole, errors, chars, ordered, pairs


def run_ours(cmd, path):
    start = time.perf_counter()
    proc = subprocess.run(cmd + [path], stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    wall = time.perf_counter() - start
    if proc.returncode != 0:
        sys.exit(f"ocr_ui_bench: {' '.join(cmd)} {path} failed: {proc.stderr.decode().strip()}")
    lines = json.loads(proc.stdout)["lines"]
    return wall, [(normal(line["text"]), line["box"]) for line in lines]


def run_tesseract(path):
    env = dict(os.environ, OMP_THREAD_LIMIT="1")
    start = time.perf_counter()
    proc = subprocess.run(["tesseract", path, "stdout", "tsv"], stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, env=env)
    wall = time.perf_counter() - start
    lines, order = {}, []
    for row in proc.stdout.decode("utf-8", errors="replace").split("\n")[1:]:
        cells = row.split("\t")
        if len(cells) < 12 or cells[0] != "5" or not cells[11].strip():
            continue
        key = tuple(cells[1:5])
        x, y, w, h = (int(c) for c in cells[6:10])
        if key not in lines:
            lines[key] = [[], [x, y, x + w, y + h]]
            order.append(key)
        words, box = lines[key]
        words.append(cells[11])
        box[0], box[1] = min(box[0], x), min(box[1], y)
        box[2], box[3] = max(box[2], x + w), max(box[3], y + h)
    found = []
    for key in order:
        words, (x0, y0, x1, y1) = lines[key]
        found.append((normal(" ".join(words)), [x0, y0, x1 - x0, y1 - y0]))
    return wall, found


# --- screenshots of real applications -----------------------------------------------------

TEXT_ROLES = {"AXButton", "AXMenuBarItem", "AXCheckBox", "AXRadioButton", "AXPopUpButton",
              "AXStaticText", "AXMenuButton", "AXMenuItem"}


def tree_truth(tree, window_frame):
    """(text, box in window pixels) of the snapshot's visible labels, buttons and menus."""
    wx, wy, ww, wh = window_frame
    out = []

    def walk(node):
        role = node.get("role", "")
        text = node.get("value") if role == "AXStaticText" else node.get("title")
        x, y, w, h = node.get("frame", [0, 0, 0, 0])
        # A square button shows an icon, whatever its name says (Close, Minimize, Menu).
        icon = role != "AXStaticText" and w <= 1.3 * h
        if (role in TEXT_ROLES and not icon and isinstance(text, str) and text.strip()
                and "\n" not in text
                and w > 0 and 6 <= h <= 60 and x >= wx and y >= wy and x + w <= wx + ww
                and y + h <= wy + wh and node.get("enabled", True)):
            out.append((normal(text), [x - wx, y - wy, w, h]))
        for child in node.get("children", []):
            walk(child)

    walk(tree)
    # A text shown twice (a button and the label inside it) counts once.
    unique = []
    for text, box in out:
        if not any(t == text and abs(b[1] - box[1]) < 8 for t, b in unique):
            unique.append((text, box))
    return unique


def is_menu_item(tree, text, box):
    found = []

    def walk(node):
        if node.get("role") == "AXMenuItem" and node.get("title") == text:
            found.append(node["frame"][:2] == box[:2])
        for child in node.get("children", []):
            walk(child)

    for w in tree["windows"]:
        walk(w)
    return any(found)


def find_role(node, role):
    if node.get("role") == role and node.get("title") not in (None, "") and node["frame"][2] > 0:
        if node.get("ref", "").count(".") > 0 and node.get("children"):
            return node
    for child in node.get("children", []):
        hit = find_role(child, role)
        if hit is not None:
            return hit
    return None


def desktop_pages(folder, build):
    """(name, path, truth) of screenshots of applications on a private desktop."""
    state = tempfile.mkdtemp(prefix="uiglean-ocr-desk-")
    script = os.path.join(ROOT, "scripts", "desktop.sh")
    subprocess.run(["bash", script, "start", state], check=True, stdout=subprocess.DEVNULL)
    env = dict(os.environ)
    for line in open(os.path.join(state, "env")):
        name, _, value = line.rstrip("\n").partition("=")
        if name and name != "AT_SPI_BUS_ADDRESS":
            env[name] = value
    uiglean = os.path.join(build, "bin", "uiglean")
    chromium = [os.path.join(ROOT, "tests", "apps", "web", "run-chromium.sh"),
                os.path.join(HERE, "ocr_ui_page.html")]
    # (name, command, environment, a text the snapshot holds once the window is drawn)
    apps = [
        ("gtk-light", [os.path.join(build, "bin", "uiglean-gtk-app")], {}, None),
        ("gtk-dark", [os.path.join(build, "bin", "uiglean-gtk-app")], {"GTK_THEME": "Adwaita:dark"},
         None),
        ("qt", [os.path.join(build, "bin", "uiglean-qt-app")], {}, None),
        ("gtk3-widget-factory", ["/usr/bin/gtk3-widget-factory"], {}, None),
        ("gtk3-demo", ["/usr/bin/gtk3-demo"], {}, None),
        ("chromium", ["/bin/bash"] + chromium, {}, "Delete account"),
    ]
    pages = []
    try:
        for name, argv, extra, ready in apps:
            proc = subprocess.Popen(argv, env=dict(env, **extra), stdout=subprocess.DEVNULL,
                                    stderr=subprocess.DEVNULL, start_new_session=True)
            try:
                tree = None
                for _ in range(300):
                    time.sleep(0.1)
                    r = subprocess.run([uiglean, "tree"], env=env, stdout=subprocess.PIPE,
                                       stderr=subprocess.DEVNULL)
                    if r.returncode == 0:
                        t = json.loads(r.stdout)
                        text = json.dumps(t)
                        if (t.get("pid") == proc.pid and t["windows"] and len(text) > 500
                                and (ready is None or ready in text)):
                            tree = t
                            break
                if tree is None:
                    print(f"ocr_ui_bench: {name} did not come up; left out", file=sys.stderr)
                    continue
                time.sleep(0.5)  # the first frame drawn
                tree = json.loads(subprocess.run([uiglean, "tree"], env=env, check=True,
                                                 stdout=subprocess.PIPE).stdout)
                window = tree["windows"][0]
                x, y, w, h = window["frame"]
                path = os.path.join(folder, f"app-{name}.png")
                subprocess.run(["import", "-window", "root", "-crop", f"{w}x{h}+{x}+{y}",
                                "+repage", path], env=env, check=True)
                pages.append((f"app-{name}", path, tree_truth(window, window["frame"])))
                # The same application with its first menu open, read from the whole screen.
                bar = find_role(window, "AXMenuBarItem")
                if bar is not None and name != "gtk3-widget-factory":
                    subprocess.run([uiglean, "press", bar["ref"]], env=env,
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
                    time.sleep(0.6)
                    tree = json.loads(subprocess.run([uiglean, "tree"], env=env, check=True,
                                                     stdout=subprocess.PIPE).stdout)
                    path = os.path.join(folder, f"app-{name}-menu.png")
                    subprocess.run(["import", "-window", "root", path], env=env, check=True)
                    screen = [0, 0] + [int(v) for v in subprocess.run(
                        ["identify", "-format", "%w %h", path], check=True,
                        stdout=subprocess.PIPE).stdout.split()]
                    truth = []
                    for w in tree["windows"]:
                        truth += tree_truth(w, screen)
                    # What the open menu covers is not on screen.
                    items = [box for text, box in truth if is_menu_item(tree, text, box)]
                    if items:
                        x0 = min(b[0] for b in items)
                        y0 = min(b[1] for b in items)
                        x1 = max(b[0] + b[2] for b in items)
                        y1 = max(b[1] + b[3] for b in items)
                        truth = [(t, b) for t, b in truth if b in items or
                                 b[0] >= x1 or b[0] + b[2] <= x0 or b[1] >= y1 or b[1] + b[3] <= y0]
                    pages.append((f"app-{name}-menu", path, truth))
            finally:
                os.killpg(proc.pid, 15)
                proc.wait()
    finally:
        subprocess.run(["bash", script, "stop", state], stdout=subprocess.DEVNULL)
        shutil.rmtree(state, ignore_errors=True)
    return pages


def main():
    build = os.path.join(ROOT, "build")
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--uiglean", default=os.path.join(build, "bin", "uiglean-ocr-tesseract"),
                        help="command that prints the ocr result for an image path appended")
    parser.add_argument("--pages", type=int, default=24, help="synthetic pages")
    parser.add_argument("--repeat", type=int, default=1, help="runs per page and program")
    parser.add_argument("--no-desktop", action="store_true", help="no application screenshots")
    parser.add_argument("--keep", help="keep the pages in this folder")
    parser.add_argument("--show", action="store_true", help="print the lines not read whole")
    opts = parser.parse_args()
    ours = shlex.split(opts.uiglean)

    folder = opts.keep or tempfile.mkdtemp(prefix="uiglean-ocr-ui-")
    os.makedirs(folder, exist_ok=True)
    pages = []
    for i in range(opts.pages):
        name, page = synthetic_page(i)
        path = os.path.join(folder, name + ".png")
        page.image.save(path)
        pages.append((name, path, page.lines))
    if not opts.no_desktop:
        pages += desktop_pages(folder, build)

    programs = {"uiglean": lambda p: run_ours(ours, p), "tesseract-1t": run_tesseract}
    totals = {n: [0, 0, 0, 0, 0, 0.0] for n in programs}
    kinds = {}
    print(f"{'page':<36}{'lines':>6}" + "".join(f"  {n:>12} {'whole':>6} {'CER':>6} {'order':>6}"
                                                 for n in programs))
    for name, path, truth in pages:
        cells = []
        for prog, run in programs.items():
            wall = 0.0
            for _ in range(opts.repeat):
                seconds, found = run(path)
                wall += seconds
            wall /= opts.repeat
            whole, errors, chars, ordered, pairs = score(truth, found)
            for bucket in (totals[prog], kinds.setdefault((name.split("-")[0], prog),
                                                          [0, 0, 0, 0, 0, 0.0])):
                for k, v in enumerate((whole, errors, chars, ordered, pairs, wall)):
                    bucket[k] += v
            cells.append(f"  {wall:>11.3f}s {whole / max(1, len(truth)):>6.1%} "
                         f"{errors / max(1, chars):>6.2%} {ordered / max(1, pairs):>6.1%}")
            if opts.show and prog == "uiglean":
                for text, box in truth:
                    hits = [f for f in found if over(f[1], box)]
                    if not any(edit_distance(text, f[0]) <= 0.05 * len(text) for f in hits):
                        print(f"    missed {text!r} {box}: {[f[0] for f in hits]}")
        print(f"{name:<36}{len(truth):>6}{''.join(cells)}")

    lines = sum(len(t) for _, _, t in pages)
    print(f"\npages {len(pages)}, known lines {lines}")
    for (kind, prog), t in sorted(kinds.items()):
        known = sum(len(tr) for n, _, tr in pages if n.split("-")[0] == kind)
        print(f"  {kind:<10} {prog:<13} whole {t[0] / known:6.1%}  CER {t[1] / t[2]:6.2%}  "
              f"order {t[3] / max(1, t[4]):6.1%}  time {t[5]:7.2f} s")
    for prog, t in totals.items():
        print(f"{prog:<13}: whole {t[0] / lines:6.1%}  CER {t[1] / t[2]:6.2%}  "
              f"order {t[3] / max(1, t[4]):6.1%}  time {t[5]:7.2f} s")
    ratio = totals["uiglean"][5] / totals["tesseract-1t"][5]
    print(f"time uiglean / tesseract-1t: {ratio:.2f} (target <= 1.5); "
          "targets: whole >= 97%, CER < 1%")
    if not opts.keep:
        shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    main()
