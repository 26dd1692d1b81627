"""The window under Xvfb: start to first frame, resident memory idle and with
a full queue, and over ten preview samples in a row."""
import json
import os
import selectors
import signal
import subprocess
import threading
import time

from . import measure, report

SECTION = "Window"


class Xvfb:
    """A private virtual X server for the window's runs."""

    def __enter__(self):
        for number in range(90, 200):
            if not os.path.exists(f"/tmp/.X11-unix/X{number}") and not os.path.exists(f"/tmp/.X{number}-lock"):
                break
        self.display = f":{number}"
        self.command = ["Xvfb", self.display, "-screen", "0", "1920x1080x24", "-nolisten", "tcp"]
        self.process = subprocess.Popen(self.command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.monotonic() + 15
        while not os.path.exists(f"/tmp/.X11-unix/X{number}"):
            if time.monotonic() > deadline or self.process.poll() is not None:
                raise measure.Failed("Xvfb did not start")
            time.sleep(0.05)
        return self

    def __exit__(self, *_):
        self.process.terminate()
        self.process.wait(timeout=10)

    def environment(self):
        env = dict(os.environ, DISPLAY=self.display, QT_QPA_PLATFORM="xcb", SLIMREEL_REPORT_STARTUP="1")
        env.pop("WAYLAND_DISPLAY", None)
        return env


def memory(pid):
    """Resident size and its parts, in KiB, from /proc."""
    fields = {}
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            name, _, value = line.partition(":")
            if name in ("VmRSS", "RssAnon", "RssFile", "RssShmem", "VmHWM"):
                fields[name] = int(value.split()[0])
    with open(f"/proc/{pid}/smaps_rollup") as f:
        for line in f:
            if line.startswith("Pss:"):
                fields["Pss"] = int(line.split()[1])
    return fields


def _cpu(pid):
    with open(f"/proc/{pid}/stat") as f:
        text = f.read()
    fields = text[text.rindex(")") + 2:].split()
    return (int(fields[11]) + int(fields[12])) / measure.TICKS


class Window:
    """One run of the window program, until stopped."""

    def __init__(self, program, arguments, env):
        self.start = time.monotonic()
        self.process = subprocess.Popen([program] + arguments, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                                        stdin=subprocess.DEVNULL, env=env, text=True)
        self.lines = []
        self.first_frame = None       # seconds from exec to the line, as seen from outside
        self.first_frame_inside = None  # milliseconds from main(), as the window reports it
        selector = selectors.DefaultSelector()
        selector.register(self.process.stderr, selectors.EVENT_READ)
        deadline = self.start + 60
        while self.first_frame is None and time.monotonic() < deadline:
            if not selector.select(timeout=1):
                continue
            line = self.process.stderr.readline()
            if not line:
                break
            self.lines.append(line)
            if line.startswith("first frame after"):
                self.first_frame = time.monotonic() - self.start
                self.first_frame_inside = int(line.split()[3])
        selector.close()
        # Keep draining, so that the window never blocks on a full pipe.
        self.drain = threading.Thread(target=lambda: self.lines.extend(self.process.stderr), daemon=True)
        self.drain.start()
        if self.first_frame is None:
            self.stop()
            raise measure.Failed("the window drew no frame:\n" + "".join(self.lines[-20:]))

    def settle(self, quiet=1.0, limit=60):
        """Waits until the window has used no CPU to speak of for `quiet`
        seconds, or `limit` seconds have passed."""
        deadline = time.monotonic() + limit
        before = _cpu(self.process.pid)
        while time.monotonic() < deadline:
            time.sleep(quiet)
            now = _cpu(self.process.pid)
            if now - before < 0.03 * quiet:
                return
            before = now

    def cpu_share(self, seconds):
        """The window's CPU use over the next `seconds`, as a share of one core."""
        before = _cpu(self.process.pid)
        time.sleep(seconds)
        return (_cpu(self.process.pid) - before) / seconds

    def stop(self):
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
            try:
                self.process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()


def _empty_window(ctx, env):
    command = [ctx.window_bench, "--empty-window"]
    process = measure.run(command, env=env)
    line = json.loads(process.stdout.splitlines()[-1])
    return {"outside": process.wall, "inside": line["first_frame_ms"] / 1000, "rss": line["rss_kb"]}


def run(ctx, queue_files, sample_clip):
    if not (ctx.window and os.path.exists(ctx.window)):
        return {"missing": "the window program was not built"}
    has_bench = bool(ctx.window_bench and os.path.exists(ctx.window_bench))
    result = {"startups": [], "empty": [], "queue": len(queue_files), "sample": sample_clip}
    with Xvfb() as server:
        env = server.environment()
        ctx.log.command(SECTION, server.command, "a private X server")
        ctx.log.command(SECTION, ["env", "SLIMREEL_REPORT_STARTUP=1", f"DISPLAY={server.display}", ctx.window],
                        f"{ctx.startup_reps} times: time to the first frame, CPU over the next 5 s, memory")
        if has_bench:
            ctx.log.command(SECTION, ["env", f"DISPLAY={server.display}", ctx.window_bench, "--empty-window"],
                            "interleaved with those: a bare Qt Quick window, for comparison")
        for _ in range(ctx.startup_reps):
            window = Window(ctx.window, [], env)
            time.sleep(1)
            cpu = window.cpu_share(5)
            result["startups"].append({"outside": window.first_frame, "inside": window.first_frame_inside / 1000,
                                       "memory": memory(window.process.pid), "cpu": cpu})
            window.stop()
            if has_bench:
                result["empty"].append(_empty_window(ctx, env))

        # What the window's own views and data cost, apart from the OpenGL
        # rasteriser: Qt Quick's software renderer draws the same views (but
        # no video, so it is no option for the program).
        software = dict(env, QT_QUICK_BACKEND="software")
        ctx.log.command(SECTION, ["env", "QT_QUICK_BACKEND=software", f"DISPLAY={server.display}", ctx.window],
                        "once, for attribution: the same window without OpenGL")
        window = Window(ctx.window, [], software)
        time.sleep(6)
        result["software_memory"] = memory(window.process.pid)
        window.stop()

        ctx.log.command(SECTION, ["env", f"DISPLAY={server.display}", ctx.window, "FILE..."],
                        f"the {len(queue_files)} import files given at start, as a drop; memory once it is quiet")
        window = Window(ctx.window, queue_files, env)
        window.settle()
        result["queued_memory"] = memory(window.process.pid)
        window.stop()

        if has_bench:
            command = [ctx.window_bench, "--sample", sample_clip.path, "--previews", str(ctx.window_previews),
                       "--plan", "fastest"] + queue_files
            ctx.log.command(SECTION, command[:-len(queue_files)] + ["FILE..."],
                            "the window's views over the controller: idle, queued, then samples in a row")
            process = measure.run(command, env=env)
            result["series"] = [json.loads(line) for line in process.stdout.splitlines() if line.startswith("{")]
    medians = lambda key: measure.median([s[key] for s in result["startups"]])
    result["startup_outside"] = medians("outside")
    result["startup_inside"] = medians("inside")
    result["idle_cpu"] = medians("cpu")
    result["idle_rss"] = measure.median([s["memory"]["VmRSS"] for s in result["startups"]])
    result["idle_anon"] = measure.median([s["memory"]["RssAnon"] for s in result["startups"]])
    result["idle_pss"] = measure.median([s["memory"]["Pss"] for s in result["startups"]])
    if result["empty"]:
        result["empty_outside"] = measure.median([e["outside"] for e in result["empty"]])
        result["empty_inside"] = measure.median([e["inside"] for e in result["empty"]])
        result["empty_rss"] = measure.median([e["rss"] for e in result["empty"]])
    ctx.progress(f"window: first frame {result['startup_outside']:.2f} s, idle "
                 f"{report.resident(result['idle_rss'])}, queued {report.resident(result['queued_memory']['VmRSS'])}")
    return result


def _growth(series):
    """Resident growth per sample over the samples after the second, in KiB
    (least squares), and the rise from the second to the last."""
    previews = [s for s in series if s["stage"] == "preview"]
    later = previews[1:]
    if len(later) < 2:
        return None, None
    xs = [s["count"] for s in later]
    ys = [s["rss_kb"] for s in later]
    mean_x, mean_y = sum(xs) / len(xs), sum(ys) / len(ys)
    slope = sum((x - mean_x) * (y - mean_y) for x, y in zip(xs, ys)) / sum((x - mean_x) ** 2 for x in xs)
    return slope, ys[-1] - ys[0]


def markdown(r):
    if "missing" in r:
        return f"Not measured: {r['missing']}.\n"
    rows = [[i + 1, report.seconds(s["outside"]), report.seconds(s["inside"]), report.resident(s["memory"]["VmRSS"]),
             report.resident(s["memory"]["RssAnon"]), report.resident(s["memory"]["RssFile"]),
             report.resident(s["memory"]["Pss"]), report.percent(s["cpu"], 0)] for i, s in enumerate(r["startups"])]
    text = ("`build/src/ui/slimreel` on Xvfb (1920×1080, 24 bit; Qt Quick draws through Mesa's software "
            "OpenGL there). *To first frame, outside*: from starting the process to reading the window's "
            "`first frame after N ms` line (environment variable `SLIMREEL_REPORT_STARTUP`, printed on the "
            "first `frameSwapped`); *inside*: the N the window reports, counted from the start of `main()`. "
            "Memory is read from /proc 6 s after the first frame: resident size (RSS), its anonymous and "
            "file-backed parts, and the proportional size (PSS, shared pages divided among their users). *CPU "
            "idle*: the window's CPU use over the 5 s before that reading, as a share of one core.\n\n")
    text += report.table(["Start", "To first frame, outside", "Inside", "RSS idle", "Anonymous", "File-backed",
                          "PSS", "CPU idle"], rows)
    if r.get("empty"):
        text += (f"\nA bare Qt Quick window (one line of text, same size, same X server), started in between: first "
                 f"frame {r['empty_outside']:.2f} s after exec including its exit ({r['empty_inside']:.2f} s from "
                 f"main()), RSS {report.resident(r['empty_rss'])}.\n")
    sw = r["software_memory"]
    text += (f"\nThe same idle window drawn by Qt Quick's software renderer instead of OpenGL (for attribution "
             f"only; it cannot show video): RSS {report.resident(sw['VmRSS'])}, anonymous "
             f"{report.resident(sw['RssAnon'])}, file-backed {report.resident(sw['RssFile'])}.\n")
    q = r["queued_memory"]
    text += (f"\nWith {r['queue']} videos given at start (queued as a drop), once the window is quiet: RSS "
             f"{report.resident(q['VmRSS'])} (anonymous {report.resident(q['RssAnon'])}, file-backed "
             f"{report.resident(q['RssFile'])}, PSS {report.resident(q['Pss'])}).\n")
    series = r.get("series")
    if series:
        slope, rise = _growth(series)
        text += (f"\n`slimreel-window-bench` (the same views and controller in one process; the sample clip "
                 f"`{r['sample'].name}`, plan fastest; each reading 2 s after the step, once the preview players "
                 f"have opened the new sample):\n\n")
        text += report.table(["Step", "Queue", "RSS", "Anonymous", "Peak RSS so far"],
                             [[s["stage"] + (f" {s['count']}" if s["stage"] == "preview" else ""),
                               s["count"] if s["stage"] != "preview" else 1, report.resident(s["rss_kb"]),
                               report.resident(s.get("anon_kb")), report.resident(s["peak_kb"])] for s in series])
        if slope is not None:
            text += (f"\nFrom the second sample to the last: {rise * 1024 / 1e6:+.1f} MB; least-squares growth "
                     f"{slope * 1024 / 1e6:+.2f} MB per sample.\n")
    return text


def verdicts(r):
    if "missing" in r:
        return [("Window", r["missing"], "", None)]
    out = [
        ("Window, start to first frame", f"{r['startup_outside']:.2f} s from exec ({r['startup_inside']:.2f} s "
         "from main())", "≤ 0.4 s", r["startup_outside"] <= 0.4),
        ("Window, memory idle", f"RSS {report.resident(r['idle_rss'])} (software renderer: "
         f"{report.resident(r['software_memory']['VmRSS'])})", "≤ 120 MB",
         r["idle_rss"] * 1024 <= 120e6),
        (f"Window, memory with {r['queue']} queued", f"RSS {report.resident(r['queued_memory']['VmRSS'])}",
         "≤ 150 MB",
         r["queued_memory"]["VmRSS"] * 1024 <= 150e6),
    ]
    series = r.get("series")
    if series:
        slope, rise = _growth(series)
        if slope is not None:
            # Allocator noise aside: less than half a megabyte per sample.
            previews = sum(1 for s in series if s["stage"] == "preview")
            out.append((f"Window, {previews} previews in a row", f"{slope * 1024 / 1e6:+.2f} MB per sample "
                        f"({rise * 1024 / 1e6:+.1f} MB from the 2nd to the last)", "no growth",
                        slope * 1024 <= 0.5e6))
    return out
