#!/usr/bin/python3
# SPDX-License-Identifier: Apache-2.0
"""Drives the real viewer in an X server: keys go in through xdotool as a
person's would, and what the windows show is read back from the accessibility
tree (window captions, the record text, the texts of message boxes and dialog
fields). Run by run_end_to_end.sh inside xvfb-run and a private D-Bus session.

usage: viewer_end_to_end.py VIEWER CLI SCREENSHOT
"""

import os
import shutil
import socket
import subprocess
import sys
import tempfile
import time

import pyatspi

VIEWER, CLI, SCREENSHOT = sys.argv[1:4]
WAIT_SECONDS = 20


# --- record files -----------------------------------------------------------

def record(fields, field_terminator=b"\x1e"):
    """One ISO 2709 record from (tag, body) pairs; bodies carry their own
    subfield delimiters."""
    directory, data = b"", b""
    for tag, body in fields:
        body += field_terminator
        directory += tag + b"%04d%05d" % (len(body), len(data))
        data += body
    directory += field_terminator
    base = 24 + len(directory)
    leader = b"%05dnam0 22%05d   450 " % (base + len(data) + 1, base)
    return leader + directory + data + b"\x1d"


AUTHOR = "张三".encode("gbk")
A_RECORDS = [
    record([(b"001", b"e2e-a1"), (b"200", b"1 \x1faAlpha common title\x1ff" + AUTHOR),
            (b"330", b"  \x1fa" + b"long note " * 12)]),
    record([(b"001", b"e2e-a2"), (b"200", b"1 \x1faBeta common title")]),
    record([(b"001", b"e2e-a3"), (b"200", b"1 \x1faGamma common title")]),
]
# The second file uses the delimiter variant 1 ('#' and '$') and has line ends
# between its records.
B_RECORDS = [
    record([(b"001", b"e2e-b1"), (b"200", b"1 $aDelta in variant one")], b"#") + b"\r\n",
    record([(b"001", b"e2e-b2"), (b"200", b"1 $aEpsilon in variant one")], b"#") + b"\r\n",
]

# A CNMARC record in GBK (100 $a says so) that lacks the 801 its format wants.
CNMARC_RECORD = record([
    (b"001", b"e2e-cn1"), (b"100", b"  \x1fa20240101d2024    em y0chiy0121    ea"), (b"101", b"0 \x1fachi"),
    (b"200", b"1 \x1fa" + "中文题名".encode("gbk") + b"\x1ff" + AUTHOR)])


# --- steps and checks -------------------------------------------------------

# 记录 → 抽取纪录->文件 has no mnemonic: it is the seventh item from the top,
# whatever comes after it.
EXTRACT_MENU_KEYS = ("alt+r", "Home") + ("Down",) * 6 + ("Return",)


class Failure(Exception):
    pass


def step(text):
    print("e2e:", text, flush=True)


def check(condition, message):
    if not condition:
        raise Failure(message)


def wait_for(what, probe, timeout=WAIT_SECONDS):
    """Polls probe until it returns something true; returns that."""
    deadline = time.monotonic() + timeout
    last_error = ""
    while True:
        try:
            value = probe()
        except Exception as error:  # the tree changes under us while windows come and go
            value, last_error = None, " (last error: %r)" % error
        if value:
            return value
        if time.monotonic() > deadline:
            raise Failure("timed out waiting for " + what + last_error)
        time.sleep(0.1)


def keys(*names):
    for name in names:
        subprocess.run(["xdotool", "key", "--clearmodifiers", name], check=True)
        time.sleep(0.15)


MAIN_WINDOW = None  # the X window of the main window


def x_windows(title):
    """Visible X windows of that exact title: [(area, id)]."""
    ids = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "^%s$" % title],
                         capture_output=True, text=True).stdout.split()
    found = []
    for window in ids:
        shape = dict(line.split("=", 1) for line in subprocess.run(
            ["xdotool", "getwindowgeometry", "--shell", window], capture_output=True, text=True).stdout.split())
        found.append((int(shape.get("WIDTH", 0)) * int(shape.get("HEIGHT", 0)), window))
    return sorted(found)


def focus(window):
    subprocess.run(["xdotool", "windowfocus", "--sync", window], check=True)


def focus_main_window():
    """Without a window manager nobody gives the focus back when a dialog
    closes, nor to a new window: give it, as a desktop would. The main window
    is the largest one titled Veltrane (message boxes have the same title)."""
    global MAIN_WINDOW
    if MAIN_WINDOW is None:
        MAIN_WINDOW = wait_for("the main window", lambda: x_windows("Veltrane"))[-1][1]
    focus(MAIN_WINDOW)


def focus_dialog(title):
    """Focuses the newest-looking window of that title that is not the main one."""
    def probe():
        return [w for _, w in x_windows(title) if w != MAIN_WINDOW]
    focus(wait_for("the X window %r" % title, probe)[0])


def dialog_closed(title, text=None):
    """Waits until no dialog of that title (showing that text, when given) is up."""
    def gone():
        return not any(name == title and (text is None or text in labels(node)) for name, node in dialogs())
    wait_for("the dialog %r to close" % title, gone)
    focus_main_window()


def type_text(text):
    subprocess.run(["xdotool", "type", "--delay", "30", text], check=True)
    time.sleep(0.15)


# --- the accessibility tree -------------------------------------------------

VIEWER_PID = None  # the viewer being driven; an earlier one may linger in the tree


def application():
    desktop = pyatspi.Registry.getDesktop(0)
    for i in range(desktop.childCount):
        app = desktop.getChildAtIndex(i)
        if app is not None and app.name == "Veltrane" and app.get_process_id() == VIEWER_PID:
            return app
    return None


def start_viewer(arguments, cwd, env):
    """Each start has a settings folder of its own beside cwd: no run reads
    what another left, nor the user's settings."""
    global VIEWER_PID, MAIN_WINDOW
    config = os.path.join(os.path.dirname(cwd), "config-" + os.path.basename(cwd))
    env = dict(env, XDG_CONFIG_HOME=config)
    viewer = subprocess.Popen([VIEWER] + arguments, cwd=cwd, env=env)
    VIEWER_PID, MAIN_WINDOW = viewer.pid, None
    return viewer


def quit_viewer(viewer):
    """文件 → 退出: the viewer ends, with exit status 0."""
    keys("alt+f", "x")
    code = viewer.wait(timeout=WAIT_SECONDS)
    check(code == 0, "exit status %d" % code)


def stop_viewer(viewer, screenshot=False):
    """A viewer still running once a run has failed is stopped, after a
    picture of the screen when one is asked for."""
    if viewer.poll() is None:
        if screenshot:
            subprocess.run(["import", "-window", "root", SCREENSHOT], check=False)
        viewer.kill()
        viewer.wait()


def descendants(node, depth=0):
    yield node
    if depth > 14:
        return
    for i in range(node.childCount):
        child = node.getChildAtIndex(i)
        if child is not None:
            yield from descendants(child, depth + 1)


def text_of(node):
    text = node.queryText()
    return text.getText(0, text.characterCount)


def main_frame():
    app = application()
    for i in range(app.childCount):
        child = app.getChildAtIndex(i)
        if child.getRoleName() == "frame" and child.name.startswith("Veltrane"):
            return child
    return None


def documents():
    """The document windows: caption -> the window's accessible node."""
    result = {}
    frame = main_frame()
    for node in descendants(frame):
        if node.getRoleName() == "frame" and node is not frame and " 纪录号：" in node.name:
            result[node.name] = node
    return result


def caption(path, number):
    return "%s 纪录号：%d" % (path, number)


def memo_node(path):
    """The record text of the document window of path (its accessible node)."""
    for name, node in documents().items():
        if name.startswith(path + " "):
            for child in descendants(node):
                if child.getRoleName() == "text" and child.name != "筛选":  # not the record list's filter
                    return child
    return None


def memo_text(path):
    """The text shown by the document window of path."""
    node = memo_node(path)
    return text_of(node) if node is not None else None


def memo_selection(path):
    """The text selected in the record text of path ("" when none)."""
    text = memo_node(path).queryText()
    if text.getNSelections() == 0:
        return ""
    start, end = text.getSelection(0)
    return text.getText(start, end)


def memo_caret(path):
    """Where the cursor stands in the record text of path, and the text's length."""
    text = memo_node(path).queryText()
    return text.caretOffset, text.characterCount


def dialogs():
    """Top-level dialogs and message boxes: (title, node)."""
    app = application()
    found = []
    for i in range(app.childCount):
        child = app.getChildAtIndex(i)
        is_main = child.getRoleName() == "frame" and child.name.startswith("Veltrane") and child.childCount > 1
        if not is_main and child.getState().contains(pyatspi.STATE_VISIBLE):
            found.append((child.name, child))
    return found


def labels(node):
    return [n.name for n in descendants(node) if n.getRoleName() == "label" and n.name]


def fields(node):
    return [text_of(n) for n in descendants(node) if n.getRoleName() == "text"]


def status_panels():
    """The two status bar panels: (file text, record text) and their boxes."""
    panels = [n for n in descendants(main_frame()) if n.name.startswith(("文件名：", "纪录号："))]
    panels.sort(key=lambda n: not n.name.startswith("文件名："))
    return panels


def expect_status(path, number):
    wanted = ["文件名：%s" % path, "纪录号：%d" % number]
    panels = wait_for("status %s" % wanted, lambda: (lambda p: p if [n.name for n in p] == wanted else None)(status_panels()))
    check(not overlap(extents(panels[0]), extents(panels[1])), "the status panels overlap")


def expect_captions(*expected):
    wait_for("captions %s" % (expected,), lambda: all(c in documents() for c in expected))


def expect_message(text, title="Veltrane"):
    """Waits for a message box showing text, then answers it with Enter."""
    def probe():
        for name, node in dialogs():
            if name == title and text in labels(node):
                return True
        return False
    wait_for("the message %r" % text, probe)
    focus_dialog(title)
    keys("Return")
    dialog_closed(title, text)


def open_dialog(title, *menu_keys):
    keys(*menu_keys)
    dialog = wait_for("the dialog %r" % title, lambda: next((n for t, n in dialogs() if t == title), None))
    focus_dialog(title)
    return dialog


def expect_display(path, number, mode):
    """The window of path shows record number as the command-line tool renders it."""
    shown = subprocess.run([CLI, "show", "--mode", str(mode), path, str(number)],
                           check=True, capture_output=True).stdout
    expected = shown.decode("gbk", errors="replace").replace("\r\n", "\n").rstrip()
    wait_for("record %d of %s in variant %d" % (number, os.path.basename(path), mode),
             lambda: (memo_text(path) or "").replace("\r\n", "\n").rstrip() == expected)


def record_list(path):
    """The record list of the document window of path (its accessible table)."""
    for name, node in documents().items():
        if name.startswith(path + " "):
            for child in descendants(node):
                if child.getRoleName() == "table" and child.name == "记录列表":
                    return child
    return None


def list_column(path, column):
    """The cells of one column of the record list of path, row by row."""
    table = record_list(path).queryTable()
    return [table.getAccessibleAt(row, column).name for row in range(table.nRows)]


def click(what, find):
    """Clicks near the left end of the node find() gives; the tree changes while
    the list fills, so a node gone meanwhile is looked up again."""
    def probe():
        x, y, width, height = extents(find())
        subprocess.run(["xdotool", "mousemove", "--sync", str(x + min(width // 2, 12)), str(y + height // 2),
                        "click", "1"], check=True)
        return True
    wait_for(what, probe)
    time.sleep(0.15)


def extents(node):
    box = node.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
    return box.x, box.y, box.width, box.height


def overlap(a, b):
    ax, ay, aw, ah = a
    bx, by, bw, bh = b
    return ax < bx + bw and bx < ax + aw and ay < by + bh and by < ay + ah



def tooltip_text():
    """The text of the tooltip on screen, or None: Qt gives a shown tooltip
    window its own top-level accessible node (role "tool tip")."""
    app = application()
    for i in range(app.childCount):
        child = app.getChildAtIndex(i)
        if child is None or not child.getState().contains(pyatspi.STATE_SHOWING):
            continue
        for node in descendants(child):
            if node.getRoleName() == "tool tip" or (node is child and child.getRoleName() == "tool tip"):
                return node.name or text_of(node)
    return None


def hover_text(path, offset):
    """Rests the mouse on the character at offset of the record text of path."""
    box = memo_node(path).queryText().getCharacterExtents(offset, pyatspi.DESKTOP_COORDS)
    subprocess.run(["xdotool", "mousemove", "--sync", str(box[0] + max(box[2] // 2, 1)), str(box[1] + box[3] // 2)],
                   check=True)


def table_cells(node):
    """The rows of an accessible table or tree, each a list of its cells' texts."""
    table = node.queryTable()
    return [[table.getAccessibleAt(row, column).name for column in range(table.nColumns)]
            for row in range(table.nRows)]


# --- the run ----------------------------------------------------------------

def run(work):
    data, cwd, tmp, out = (os.path.join(work, d) for d in ("data", "cwd", "tmp", "out"))
    for d in (data, cwd, tmp, out):
        os.mkdir(d)
    a, b = os.path.join(data, "a.mrc"), os.path.join(data, "b.mrc")
    with open(a, "wb") as f:
        f.write(b"".join(A_RECORDS))
    with open(b, "wb") as f:
        f.write(b"".join(B_RECORDS))
    a_bytes = b"".join(A_RECORDS)

    env = dict(os.environ, TMP=tmp, TMPDIR=tmp, QT_QPA_PLATFORM="xcb",
               QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1", QT_ACCESSIBILITY="1")
    step("start the viewer with two record files")
    viewer = start_viewer([a, b], cwd, env)
    try:
        expect_captions(caption(a, 1), caption(b, 1))
        check(len(os.listdir(tmp)) == 2, "two index files in TMP, found %s" % os.listdir(tmp))
        expect_display(a, 1, 0)
        focus_main_window()

        step("F8 and F7 step through the active window (the file opened last)")
        keys("F8")
        expect_captions(caption(b, 2), caption(a, 1))
        expect_status(b, 2)
        keys("F8")
        expect_message("  最后一条记录!  ")
        keys("F7")
        expect_captions(caption(b, 1))
        keys("F7")
        expect_message("  第一条记录!  ")

        step("the window menu activates the first file")
        keys("alt+w", "1")
        keys("F8")
        expect_captions(caption(a, 2), caption(b, 1))

        step("go to a record")
        dialog = open_dialog("到纪录", "alt+r", "g")
        check(fields(dialog) == [""], "the go-to field starts empty, found %r" % fields(dialog))
        type_text("3")
        keys("Return")
        dialog_closed("到纪录")
        expect_captions(caption(a, 3))
        expect_display(a, 3, 0)
        open_dialog("到纪录", "alt+r", "g")
        type_text("9")
        keys("Return")
        expect_message("Value is not in legal range")
        expect_captions(caption(a, 3))
        open_dialog("到纪录", "alt+r", "g")
        type_text("1")
        keys("Return")
        dialog_closed("到纪录")
        expect_captions(caption(a, 1))

        step("Alt+End and Alt+Home show the last and the first record; Ctrl+End stays in the text")
        keys("alt+End")
        expect_captions(caption(a, 3))
        keys("alt+Home")
        expect_captions(caption(a, 1))
        expect_display(a, 1, 0)
        keys("ctrl+End")
        wait_for("the cursor at the end of the record text",
                 lambda: (lambda caret: caret[0] > 0 and caret[0] == caret[1])(memo_caret(a)))
        keys("ctrl+Home")
        wait_for("the cursor at the start of the record text", lambda: memo_caret(a)[0] == 0)
        expect_captions(caption(a, 1))

        step("find and find next")
        open_dialog("查找", "ctrl+f")
        type_text("COMMON")
        keys("Return")
        dialog_closed("查找")
        expect_captions(caption(a, 2))
        wait_for("the match selected", lambda: memo_selection(a) == "common")
        keys("F3")
        expect_captions(caption(a, 3))
        wait_for("the next match selected", lambda: memo_selection(a) == "common")
        keys("F3")
        expect_message("    没有找到纪录！    ")
        expect_captions(caption(a, 3))

        step("record count")
        keys("alt+r", "t")
        expect_message("    纪录总数是: 3    ", title="Information")

        step("delimiter variant 1, then back to 0: every window shows its record again")
        open_dialog("修改MARC显示格式", "alt+v", "d")
        keys("Down", "Return")
        dialog_closed("修改MARC显示格式")
        expect_display(b, 1, 1)
        check("2001 $aDelta in variant one" in memo_text(b).splitlines(), "variant 1 shows the subfields")
        expect_display(a, 3, 1)
        open_dialog("修改MARC显示格式", "alt+v", "d")
        keys("Up", "Return")
        dialog_closed("修改MARC显示格式")
        expect_display(b, 1, 0)
        expect_display(a, 3, 0)

        step("extract records 1 to 2 into a new file")
        target = os.path.join(out, "extracted.mrc")
        dialog = open_dialog("抽取MARC记录", *EXTRACT_MENU_KEYS)
        check(fields(dialog)[:2] == ["3", "3"], "from and to start at the current record: %r" % fields(dialog))
        keys("ctrl+a")
        type_text("1")
        keys("Tab", "ctrl+a")
        type_text("2")
        keys("Tab", "ctrl+a")
        type_text(target)
        keys("Return")
        dialog_closed("抽取MARC记录")
        expected = a_bytes[:len(A_RECORDS[0]) + len(A_RECORDS[1])]
        wait_for("the extracted file", lambda: os.path.exists(target) and open(target, "rb").read() == expected)

        step("extract record 3 onto it and append")
        dialog = open_dialog("抽取MARC记录", *EXTRACT_MENU_KEYS)
        check(fields(dialog) == ["3", "3", target], "the dialog keeps the last target: %r" % fields(dialog))
        keys("Return")
        open_dialog("保存文件")
        keys("Return")  # append has the focus
        dialog_closed("保存文件")
        wait_for("the appended file", lambda: open(target, "rb").read() == a_bytes)

        step("tile horizontally and vertically")
        keys("alt+w", "h")
        wait_for("horizontal tiling", lambda: len(documents()) == 2 and not overlap(
            *[extents(n) for n in documents().values()]))
        boxes = [extents(n) for n in documents().values()]
        check(boxes[0][0] == boxes[1][0] and boxes[0][1] != boxes[1][1], "horizontal tiling stacks: %r" % boxes)
        keys("alt+w", "v")
        wait_for("vertical tiling", lambda: len({extents(n)[0] for n in documents().values()}) == 2)
        boxes = [extents(n) for n in documents().values()]
        check(not overlap(*boxes) and boxes[0][1] == boxes[1][1], "vertical tiling sets side by side: %r" % boxes)
        subprocess.run(["import", "-window", "root", SCREENSHOT], check=False)
        check(os.path.exists(os.path.join(cwd, "tempdisp.mrc")), "the scratch file lives in the current folder")

        step("find in all windows: the hit list, then a hit opened by keyboard")
        open_dialog("在所有窗口中查找", "ctrl+shift+f")
        type_text("e2e-")
        keys("Tab", "Tab")
        type_text("001")
        keys("Return")
        dialog_closed("在所有窗口中查找")
        wait_for("five hits", lambda: "命中：5" in labels(main_frame()))
        expect_captions(caption(a, 3), caption(b, 1))
        keys("Down", "Return")  # the list starts on its first row: a1, then a2
        expect_captions(caption(a, 2), caption(b, 1))
        expect_status(a, 2)
        expect_display(a, 2, 0)

        step("F9 shows the record list: sort it, filter it, open a record from it by keyboard")
        keys("F9")
        wait_for("the list of a.mrc, a row per record", lambda: list_column(a, 1) == ["e2e-a1", "e2e-a2", "e2e-a3"])
        def header():
            return next(n for n in descendants(record_list(a)) if n.getRoleName().endswith("column header")
                        and n.name == "纪录号")
        click("the 纪录号 header", header)
        click("the 纪录号 header again", header)  # a second click reverses
        wait_for("the list sorted down by number", lambda: list_column(a, 0) == ["3", "2", "1"])
        click("the filter line", lambda: next(
            n for n in descendants(record_list(a).parent) if n.name == "筛选" and n.getRoleName() == "text"))
        type_text("A2")
        wait_for("one row kept", lambda: list_column(a, 0) == ["2"] and "显示 1 / 共 3 条" in labels(main_frame()))
        keys("ctrl+a", "BackSpace")
        wait_for("every row again", lambda: list_column(a, 0) == ["3", "2", "1"])
        keys("Tab", "Tab")  # past the column chooser into the list
        keys("End")
        expect_captions(caption(a, 1))
        expect_display(a, 1, 0)
        keys("Home")
        expect_captions(caption(a, 3))
        expect_status(a, 3)

        step("close the active window, then exit")
        keys("alt+f", "c")
        wait_for("one window left", lambda: len(documents()) == 1)
        check(len(os.listdir(tmp)) == 1, "closing a window deletes its index: %s" % os.listdir(tmp))
        quit_viewer(viewer)
    finally:
        stop_viewer(viewer, screenshot=True)
    check(os.listdir(cwd) == [], "files left in the current folder: %s" % os.listdir(cwd))
    check(os.listdir(tmp) == [], "files left in TMP: %s" % os.listdir(tmp))
    check(open(a, "rb").read() == a_bytes, "the record file is unchanged")


def run_cnmarc_notes(work):
    """A CNMARC file: a tooltip over a tag and a subfield code, and 检查纪录's
    findings list, read through the accessibility tree. A shown tooltip is a
    top-level accessible node of its own, reachable headless."""
    data, cwd, tmp = (os.path.join(work, d) for d in ("cn-data", "cn-cwd", "cn-tmp"))
    for d in (data, cwd, tmp):
        os.mkdir(d)
    path = os.path.join(data, "cnmarc.mrc")
    with open(path, "wb") as f:
        f.write(CNMARC_RECORD)
    env = dict(os.environ, TMP=tmp, TMPDIR=tmp, QT_QPA_PLATFORM="xcb",
               QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1", QT_ACCESSIBILITY="1")
    step("a CNMARC file: tooltips over a tag and a subfield code; 检查纪录 lists its content findings")
    viewer = start_viewer([path], cwd, env)
    try:
        expect_captions(caption(path, 1))
        expect_display(path, 1, 0)
        focus_main_window()
        line_200 = memo_text(path).index("\n2001 ") + 1
        for offset, wanted in ((1, "200 题名与责任说明"), (5, "200 $a：正题名")):
            subprocess.run(["xdotool", "mousemove", "--sync", "0", "0"], check=True)
            wait_for("no tooltip", lambda: tooltip_text() is None)
            hover_text(path, line_200 + offset)
            tip = wait_for("a tooltip at %r" % wanted, lambda: tooltip_text() or None)
            check(tip.startswith(wanted), "the tooltip at %r: %r" % (wanted, tip))
        subprocess.run(["xdotool", "mousemove", "--sync", "0", "0"], check=True)
        dialog = open_dialog("检查纪录", "alt+r", "k")
        findings = wait_for("the findings list", lambda: next(
            (n for n in descendants(dialog) if n.name.startswith("按 ") and n.getRoleName() != "label"), None))
        rows = table_cells(findings)
        check(rows and all(len(row) == 4 and row[0] and row[2] for row in rows), "the findings' rows: %r" % rows)
        check(any(row[1].startswith("801") for row in rows), "the missing 801 is a finding: %r" % rows)
        keys("Escape")
        dialog_closed("检查纪录")
        expect_display(path, 1, 0)
        quit_viewer(viewer)
    finally:
        stop_viewer(viewer)

def run_without_temporary_folder(work):
    """TMP names a folder that does not exist: the file cannot get an index, the
    user is told so, no window stays open and nothing is left behind."""
    data, cwd = os.path.join(work, "data2"), os.path.join(work, "cwd2")
    os.mkdir(data)
    os.mkdir(cwd)
    a = os.path.join(data, "a.mrc")
    with open(a, "wb") as f:
        f.write(b"".join(A_RECORDS))
    missing = os.path.join(work, "missing-tmp")
    env = dict(os.environ, TMP=missing, TMPDIR=missing, QT_QPA_PLATFORM="xcb",
               QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1", QT_ACCESSIBILITY="1")
    step("start the viewer with TMP naming a missing folder")
    viewer = start_viewer([a], cwd, env)
    try:
        expect_message("tempnam couldn't create name")
        expect_message("Index file open error!")
        expect_message("Not marc format file!")
        check(documents() == {}, "no document window stays open")
        quit_viewer(viewer)
    finally:
        stop_viewer(viewer)
    left = os.listdir(cwd)
    check(left == [], "files left in the current folder: %s" % left)
    check(not os.path.exists(missing), "the missing TMP folder was made")


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def online_results():
    """The hit list of 联机检索 (its accessible table)."""
    for node in descendants(main_frame()):
        if node.getRoleName() == "table" and node.name == "检索结果":
            return node
    return None


def table_rows(node):
    table = node.queryTable()
    return [[table.getAccessibleAt(row, column).name for column in range(table.nColumns)]
            for row in range(table.nRows)]


def run_online_search(work):
    """文件 → 联机检索 by keyboard against a yaz-ztest of the test's own, which
    gives as many hits as a number asks for."""
    if shutil.which("yaz-ztest") is None:
        step("yaz-ztest is missing (Debian package yaz): the online search is not driven")
        return
    cwd, tmp = os.path.join(work, "online-cwd"), os.path.join(work, "online-tmp")
    for d in (cwd, tmp):
        os.mkdir(d)
    port = free_port()
    ztest = subprocess.Popen(["yaz-ztest", "-l", os.devnull, "tcp:127.0.0.1:%d" % port],
                             stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True)
    config = os.path.join(os.path.dirname(cwd), "config-" + os.path.basename(cwd), "Veltrane")
    os.makedirs(config)
    with open(os.path.join(config, "veltrane.conf"), "w") as f:
        f.write("[Servers]\nyaz\\address=127.0.0.1:%d/Default\n" % port)
    env = dict(os.environ, TMP=tmp, TMPDIR=tmp, QT_QPA_PLATFORM="xcb",
               QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1", QT_ACCESSIBILITY="1")
    step("联机检索 by keyboard: a search of yaz-ztest fills the list under its status row")
    viewer = start_viewer([], cwd, env)
    try:
        focus_main_window()
        keys("alt+f", "z")
        wait_for("the online search window", online_results)
        keys("alt+y")
        type_text("3")
        keys("Return")
        rows = wait_for("three hits in the list",
                        lambda: (lambda r: r if len(r) == 4 and r[0][0] == "命中 3 条，已取 3 条" else None)(
                            table_rows(online_results())))
        check(rows[0][5] == "yaz", "the status row names the server, found %r" % rows[0])
        check(all(row[5] == "yaz" and row[0] for row in rows[1:]), "each hit has a title and its server: %r" % rows)
    finally:
        for process in (viewer, ztest):
            if process.poll() is None:
                process.kill()
                process.wait()
    check(os.listdir(tmp) == [], "files left in TMP: %s" % os.listdir(tmp))


def main():
    work = tempfile.mkdtemp(prefix="veltrane-e2e-")
    try:
        run_cnmarc_notes(work)
        run(work)
        run_without_temporary_folder(work)
        run_online_search(work)
    except Failure as failure:
        print("e2e: FAILED:", failure, flush=True)
        app = application()
        if app is not None:
            for node in descendants(app):
                print("   [%s] %r" % (node.getRoleName(), node.name))
        return 1
    finally:
        shutil.rmtree(work, ignore_errors=True)
    print("e2e: passed; screenshot in", SCREENSHOT)
    return 0


if __name__ == "__main__":
    sys.exit(main())
