#!/usr/bin/python3
"""The real window and the real tools driven as a screen reader user drives them, over AT-SPI and without a mouse:
`--by actions` presses the controls through the accessibility interface, `--by keys` types every step on the keyboard.
Run it inside `dbus-run-session` on a display: screen_reader.py --by actions|keys APP CLIP"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import time

import pyatspi

KEY = {"Tab": 0xFF09, "Return": 0xFF0D, "space": 0x20, "Left": 0xFF51, "Right": 0xFF53, "Down": 0xFF54}
CONTROL = 1 << 2


def wait_for(what, condition, timeout=60):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        try:
            value = condition()
            if value:
                return value
        except Exception:  # the tree changes under the walk
            pass
        time.sleep(0.1)
    sys.exit(f"FAILED: {what} within {timeout} s")


def check(what, ok):
    print(("ok: " if ok else "FAILED: ") + what, flush=True)
    if not ok:
        sys.exit(1)


def has(node, state=pyatspi.STATE_SHOWING):
    return node.getState().contains(state)


class Window:
    def __init__(self, app):
        self.app = app

    def all(self, predicate):
        return pyatspi.findAllDescendants(self.app, lambda n: n is not None and predicate(n))

    # The control a user hears as `name`, of this role, shown now.
    def find(self, name, role=None):
        def wanted(n):
            return (n.name == name if isinstance(name, str) else name(n.name)) and \
                (role is None or n.getRoleName() == role) and has(n)
        return wait_for(f"{role or 'an object'} named {name!r} shown", lambda: self.all(wanted)[0])

    def focused(self):
        found = self.all(lambda n: has(n, pyatspi.STATE_FOCUSED) and has(n))
        return found[-1] if found else None

    def act(self, node, action):
        interface = node.queryAction()
        names = [interface.getName(i) for i in range(interface.nActions)]
        check(f"{node.getRoleName()} {node.name!r} offers {action}", action in names)
        interface.doAction(names.index(action))

    def press(self, name, role="push button"):
        self.act(self.find(name, role), "Press")


def key(name, control=False):
    if control:
        pyatspi.Registry.generateKeyboardEvent(CONTROL, None, pyatspi.KEY_LOCKMODIFIERS)
    pyatspi.Registry.generateKeyboardEvent(KEY[name], None, pyatspi.KEY_SYM)
    if control:
        pyatspi.Registry.generateKeyboardEvent(CONTROL, None, pyatspi.KEY_UNLOCKMODIFIERS)
    time.sleep(0.25)


def tab_to(window, name, role, limit=40):
    """Tabs forward until `name` has focus; returns the names passed on the way."""
    passed = []
    for _ in range(limit):
        now = window.focused()
        if now is not None and now.name == name and now.getRoleName() == role:
            return passed
        if now is not None:
            passed.append(now.name)
        key("Tab")
    sys.exit(f"FAILED: Tab never reached {role} {name!r}; passed {passed}")


def run(by, app, clip):
    work = tempfile.mkdtemp(prefix="slimreel-a11y-")
    source = os.path.join(work, os.path.basename(clip))
    shutil.copy(clip, source)
    for folder in ("archive", "out"):
        os.mkdir(os.path.join(work, folder))
    # The program copied beside a helper ffmpeg, where it looks first, that reads the video of a run at twice its pace:
    # the 20 s run then lasts long enough (10 s) for the remaining time to show (after 5 s).
    programs = tempfile.mkdtemp(prefix="slimreel-a11y-program-")
    app = shutil.copy(app, programs)
    pacer = os.path.join(programs, "helpers", "ffmpeg")
    os.mkdir(os.path.dirname(pacer))
    with open(pacer, "w") as script:
        script.write('#!/bin/sh\ncase " $* " in *" -ss "*) exec /usr/bin/ffmpeg "$@" ;; esac\n'
                     'exec /usr/bin/ffmpeg -readrate 2 "$@"\n')
    os.chmod(pacer, 0o755)
    environment = dict(os.environ, QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1", QT_QPA_PLATFORM="xcb")
    bus = subprocess.Popen(["/usr/libexec/at-spi-bus-launcher", "--launch-immediately"])
    # The program looks for the accessibility bus once, as it starts.
    wait_for("the accessibility bus", lambda: "true" in subprocess.run(
        ["dbus-send", "--session", "--print-reply", "--dest=org.freedesktop.DBus", "/org/freedesktop/DBus",
         "org.freedesktop.DBus.NameHasOwner", "string:org.a11y.Bus"], capture_output=True, text=True).stdout)
    program = subprocess.Popen([app, source], cwd=work, env=environment)
    try:
        def started():
            if program.poll() is not None:
                sys.exit(f"FAILED: the program ended at its start, status {program.returncode}")
            return next(a for a in pyatspi.Registry.getDesktop(0) if a is not None and a.name == "Slimreel")
        window = Window(wait_for("Slimreel on the accessibility bus", started))
        name = os.path.basename(clip)
        window.find(name + "，等待", "list item")
        preview = window.find("生成 5 秒预览", "push button")

        if by == "actions":
            window.act(preview, "Press")
        else:
            # Reading order: the header's buttons, the queue, the video, the preview, the settings.
            passed = tab_to(window, "生成 5 秒预览", "push button")
            check(f"Tab follows the reading order: {passed}", passed == [
                "添加视频", "更换视频", "清空", "添加", name + "，等待", "移除视频（Delete）"])
            key("Return")
        window.find("放大对比", "push button")
        estimate = window.find(lambda text: text.startswith("约 "), "label").name
        check(f"the estimate is read out: {estimate}", "MB" in estimate or "KB" in estimate)

        # The mode picker and back, then the plan.
        if by == "actions":
            window.act(window.find("指定大小", "page tab"), "Press")
            window.find("目标体积（MB）", "text")
            window.act(window.find("智能压缩", "page tab"), "Press")
            for plan in ("极速", "高质量"):  # a pressed row must follow the choice again
                window.act(window.find(plan, "radio button"), "Press")
        else:
            tab_to(window, "智能压缩", "page tab")
            key("Right")
            window.find("目标体积（MB）", "text")
            key("Left")
            tab_to(window, "推荐", "radio button")
            key("Down")
        plans = {n: has(window.find(n, "radio button"), pyatspi.STATE_CHECKED) for n in ("极速", "推荐", "高质量")}
        check(f"the chosen plan alone reports checked ({plans})", plans == {n: n == "高质量" for n in plans})
        check("the old sample is gone with the change",
              not window.all(lambda n: n.name == "放大对比" and n.getRoleName() == "push button" and has(n)))

        if by == "actions":
            window.press("开始压缩")
        else:
            key("Return", control=True)
        dialog = wait_for("the folder dialog", lambda: window.all(lambda n: n.getRoleName() == "dialog" and has(n))[0])
        folders = [n for n in pyatspi.findAllDescendants(dialog, lambda n: n.getRoleName() == "list item")]
        check("the dialog lists the two folders", [f[0].name for f in folders] == ["archive", "out"])
        # The dialog is Qt's own: its entries offer no action, so the reader's user walks the
        # list with the arrow keys, as in any list, and Open takes the current entry.
        if by == "actions":
            folders[0].queryComponent().grabFocus()
        key("Down")
        if by == "actions":
            window.press("Open")
        else:
            tab_to(window, "Open", "push button")
            key("space")  # Qt's own buttons take only Space
        # While it runs, both bars say how far it is.
        for bar in ("总进度", "本视频进度"):
            node = window.find(bar, "progress bar")
            wait_for(f"{bar} read out above 0 %", lambda: node.description not in ("", "0%"))
        left = window.find(lambda text: text.startswith("本视频剩余"), "label").name
        total = window.find(lambda text: text.startswith("总进度 ") and "全部剩余" in text, "label").name
        check(f"the time left is read out: {left}; {total}", "分钟" in left and "分钟" in total)
        # The result as it is read out: the row, the completion block, the announcement.
        window.find(name + "，完成", "list item")
        window.find("批量压缩完成", "label")
        announced = window.find(lambda text: text.startswith(name + "："), "alert").name
        check(f"the queue's change is announced: {announced}", announced == name + "：完成")
        output = os.path.join(work, "out", os.path.splitext(name)[0] + "-compressed.mp4")
        check("the output is in the folder chosen in the dialog", os.path.getsize(output) > 0)
        check("nothing went into the other folder", os.listdir(os.path.join(work, "archive")) == [])
        window.find("打开输出文件夹", "push button")
    finally:
        program.terminate()
        program.wait(30)
        bus.terminate()
        shutil.rmtree(work, ignore_errors=True)
        shutil.rmtree(programs, ignore_errors=True)


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--by", choices=["actions", "keys"], required=True)
    parser.add_argument("app")
    parser.add_argument("clip")
    run(**vars(parser.parse_args()))
