"""A thousand queued videos and a three-hour film: the window's memory with 10,
100 and 1,000 queued, the import of 1,000 dropped files against ffprobe on each
in turn and the window's frames meanwhile; a three-hour video's import,
estimate, preview in the window and a cancelled start of every plan, with the
program's peak memory beside a one-minute video's of the same kind."""
import json
import os
import re
import shutil
import signal
import subprocess
import tempfile
import time

from . import corpus, measure, report, window

SECTION = "Queue and length"
QUEUES = [10, 100, 1000]
PLANS = [("fastest", ["--plan", "fastest"]), ("recommended", ["--plan", "recommended"]),
         ("highQuality", ["--plan", "highQuality"]), ("targetSize", ["--mode", "targetSize"])]
RUN_SECONDS = 30  # each plan's start, before the cancel


def _peak_kb(pid):
    try:
        with open(f"/proc/{pid}/status") as f:
            for line in f:
                if line.startswith("VmHWM:"):
                    return int(line.split()[1])
    except OSError:
        pass
    return None


def watched(command, interrupt_after=None):
    """Runs `command`, reading its own peak resident size (VmHWM) until it ends;
    with `interrupt_after`, sends it Ctrl-C then and times how long it takes to
    end. Standard output goes to a file, so that no pipe can fill."""
    with tempfile.TemporaryFile() as out:
        start = time.monotonic()
        process = subprocess.Popen(command, stdout=out, stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL)
        peak, sent = 0, None
        while process.poll() is None:
            peak = max(peak, _peak_kb(process.pid) or 0)
            if interrupt_after is not None and sent is None and time.monotonic() - start >= interrupt_after:
                process.send_signal(signal.SIGINT)
                sent = time.monotonic()
            time.sleep(0.05)
        end = time.monotonic()
        out.seek(0)
        return {"wall": end - start, "cancel": end - sent if sent else None, "peak_kb": peak,
                "returncode": process.returncode, "stdout": out.read().decode(errors="replace")}


def long_video(directory, seconds, log):
    """320×240 at 10 frames a second with mono AAC: quick to make, however long."""
    path = os.path.join(directory, f"long-{seconds}s.mp4")
    corpus._reuse_or_run(["ffmpeg", "-hide_banner", "-loglevel", "error", "-nostdin", "-y",
                          "-f", "lavfi", "-i", f"testsrc2=size=320x240:rate=10:duration={seconds}",
                          "-f", "lavfi", "-i", f"sine=frequency=440:sample_rate=22050:duration={seconds}",
                          "-c:v", "libx264", "-preset", "ultrafast", "-b:v", "200k", "-g", "100",
                          "-c:a", "aac", "-ac", "1", "-b:a", "32k", "-shortest", path], path, log)
    return path


def _minutes(text):
    """The minutes a remaining-time text promises: "剩余约 1 小时 5 分钟" is 65, "剩余不到 1 分钟" 1."""
    match = re.search(r"剩余(?:约 (?:(\d+) 小时)? ?(?:(\d+) 分钟)?|不到 1 分钟)", text)
    if not match:
        return None
    if "不到" in match.group(0):
        return 1
    return int(match.group(1) or 0) * 60 + int(match.group(2) or 0)


def remaining_accuracy(ctx, path):
    """One whole run of the long video: the remaining time slimreel-cli shows at each tenth against the time the run
    really took from that moment."""
    out = os.path.join(ctx.work, "queue-out")
    shutil.rmtree(out, ignore_errors=True)
    command = [ctx.cli, "compress", "--plan", "recommended", "--output", out, path]
    ctx.log.command(SECTION, command[:-1] + [os.path.basename(path)], "a whole run, for the remaining time's accuracy")
    start = time.monotonic()
    process = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL,
                               text=True)
    shown = []
    for line in process.stdout:
        match = re.match(r"\[1/1\] \S+ (\d+)% · (\S.*?)（", line)
        if match:
            shown.append((int(match.group(1)), match.group(2), time.monotonic() - start))
    process.wait()
    end = time.monotonic() - start
    shutil.rmtree(out, ignore_errors=True)
    return {"wall": end, "shown": [{"percent": p, "text": t, "at": at, "minutes": _minutes(t), "really": end - at}
                                   for p, t, at in shown]}


def _film(ctx, path, env, other):
    """One video through the command line's import, estimate and every plan's start, and the window's preview."""
    name = os.path.basename(path)
    ctx.log.command(SECTION, [ctx.cli, "probe", "--json", name], "the import, as the window reads a dropped file")
    ctx.log.command(SECTION, [ctx.cli, "estimate", "--json", name], "the preview sample and its estimate")
    result = {"seconds": float(json.loads(watched([ctx.cli, "probe", "--json", path])["stdout"])["duration"]),
              "bytes": os.path.getsize(path)}
    # Inspection runs in process and starts no child: the kernel's peak is the program's own.
    probe = measure.run([ctx.cli, "probe", "--json", path])
    result["probe"] = {"wall": probe.wall, "peak_kb": probe.max_rss_kb}
    result["estimate"] = watched([ctx.cli, "estimate", "--json", path])
    if result["estimate"]["returncode"] != 0:
        raise measure.Failed(f"estimate of {name} failed")
    result["plans"] = {}
    out = os.path.join(ctx.work, "queue-out")
    for plan, words in PLANS:
        shutil.rmtree(out, ignore_errors=True)
        command = [ctx.cli, "compress", *words, "--output", out, path]
        ctx.log.command(SECTION, command[:-1] + [name], f"Ctrl-C after {RUN_SECONDS} s")
        result["plans"][plan] = watched(command, RUN_SECONDS)
    shutil.rmtree(out, ignore_errors=True)
    if ctx.window_bench and os.path.exists(ctx.window_bench):
        # A short clip queued first, then the video in its place: the video is opened once, as a drop opens it.
        command = [ctx.window_bench, "--sample", path, "--previews", "1", "--settle-ms", "2000", other]
        ctx.log.command(SECTION, command[:2] + [name] + command[3:-1] + ["FILE"],
                        "the window: a short clip queued, then the video in its place and its preview")
        lines = measure.run(command, env=env).stdout.splitlines()
        result["window"] = [json.loads(line) for line in lines if line.startswith("{")][-1]
    return result


def run(ctx):
    if not (ctx.window_bench and os.path.exists(ctx.window_bench)):
        return {"missing": "the window bench was not built"}
    files = corpus.short_files(ctx.work + "/import", max(QUEUES), ctx.log)
    result = {"queues": {}}
    with window.Xvfb() as server:
        env = server.environment()
        ctx.log.command(SECTION, [ctx.window_bench, "--previews", "0", "FILE..."],
                        f"the window with {', '.join(map(str, QUEUES))} files dropped at once")
        for count in QUEUES:
            lines = measure.run([ctx.window_bench, "--previews", "0"] + files[:count], env=env).stdout.splitlines()
            stages = {entry["stage"]: entry for entry in map(json.loads, (l for l in lines if l.startswith("{")))}
            if stages["queued"]["count"] != count:
                raise measure.Failed(f"only {stages['queued']['count']} of {count} files queued")
            result["queues"][count] = stages
        ffprobe = ["ffprobe", "-v", "error", "-show_streams", "-show_format", "-of", "json"]
        ctx.log.command(SECTION, ffprobe + ["FILE"], f"for each of the {max(QUEUES)} files in turn")
        start = time.monotonic()
        for path in files[:max(QUEUES)]:
            measure.run(ffprobe + [path])
        result["bare_wall"] = time.monotonic() - start
        ctx.progress(f"queue: {max(QUEUES)} files in {result['queues'][max(QUEUES)]['queued']['import_wall_s']:.2f} s, "
                     f"ffprobe on each {result['bare_wall']:.1f} s")
        films = os.path.join(ctx.work, "films")
        os.makedirs(films, exist_ok=True)
        result["short"] = _film(ctx, long_video(films, 60, ctx.log), env, files[0])
        result["long"] = _film(ctx, long_video(films, 3 * 3600, ctx.log), env, files[0])
        result["remaining"] = remaining_accuracy(ctx, long_video(films, 3 * 3600, ctx.log))
    ctx.progress("queue: the three-hour video done")
    return result


def _mb(kb):
    return f"{kb / 1024:.1f} MB"


def _per_video(r):
    small, large = r["queues"][100]["queued"], r["queues"][1000]["queued"]
    return (large["rss_kb"] - small["rss_kb"]) / 1024 / 900


def markdown(r):
    if "missing" in r:
        return f"Not measured: {r['missing']}.\n"
    rows = []
    for count in QUEUES:
        q = r["queues"][count]["queued"]
        rows.append([str(count), _mb(q["rss_kb"]), _mb(q["anon_kb"]), report.seconds(q["import_wall_s"]),
                     f"{q['first_ms_per_file']:.1f} ms", f"{q['last_ms_per_file']:.1f} ms",
                     f"{q['longest_unshown_ms']:.0f} ms",
                     f"{q['longest_frame_work_ms']:.1f} ms",
                     f"{q['longest_turn_ms']:.0f} ms", f"{q['after_import_turn_ms']:.0f} ms"])
    big = r["queues"][max(QUEUES)]
    text = ("`slimreel-window-bench --previews 0 FILE...` on Xvfb: the window's views over the controller, the files "
            "dropped at once (one `importVideos` call, as a drop) into the empty window, memory read 2 s after the import "
            "ends. After the first file's frame (which brings the whole workspace in place of the empty window), "
            "*waited for a frame*: the longest a newly queued file waited until a frame showed it; *frame work*: the longest sync and render submission of a frame (the "
            "buffer swap, where Xvfb's software OpenGL rasterizes and copies the whole window, comes after it); *event "
            "loop*: the longest gap between two turns of a 5 ms timer while the import runs; *then*: that gap over the "
            "second after it, when the first video is selected and its inline player opens the file. For "
            "comparison, in the quiet window with 1,000 queued a selection change took up to "
            f"{big['selection']['longest_unshown_ms']:.0f} ms to reach the screen: nearly all of a frame's time here is "
            "the software swap.\n\n")
    text += report.table(["Queued", "RSS", "Anonymous", "Import", "Per file, first tenth", "Per file, last tenth",
                          "Waited for a frame", "Frame work", "Event loop", "Then"], rows)
    q = big["queued"]
    text += (f"\nFrom 100 to 1,000 queued: {_per_video(r) * 1024:.1f} KB per video. {max(QUEUES)} files: "
             f"{q['import_wall_s']:.2f} s through the window against {r['bare_wall']:.1f} s for `ffprobe` on each in "
             f"turn ({q['import_wall_s'] / r['bare_wall']:.3f} ×).\n\n")
    films = []
    for key in ("short", "long"):
        f = r[key]
        row = [f"{f['seconds'] / 60:.0f} min" if f["seconds"] < 3600 else f"{f['seconds'] / 3600:.0f} h",
               report.megabytes(f["bytes"]),
               f"{report.seconds(f['probe']['wall'])}, {_mb(f['probe']['peak_kb'])}",
               f"{report.seconds(f['estimate']['wall'])}, {_mb(f['estimate']['peak_kb'])}"]
        for plan, _ in PLANS:
            p = f["plans"][plan]
            row.append(f"{_mb(p['peak_kb'])}, stopped in {p['cancel']:.2f} s" if p["cancel"] is not None
                       else f"{_mb(p['peak_kb'])}, done in {p['wall']:.1f} s")
        w = f.get("window")
        row.append(f"{_mb(w['rss_kb'])} (peak {_mb(w['peak_kb'])})" if w else "—")
        films.append(row)
    text += ("A one-minute and a three-hour video of the same kind (320×240, 10 frames a second, H.264 at 200 kbit/s, "
             "mono AAC). `slimreel-cli` for the import (`probe`), the preview sample and its estimate (`estimate`) and "
             f"each plan's first {RUN_SECONDS} s, then Ctrl-C (time from the signal to the program's end); every "
             "figure beside it is the program's own peak resident size (VmHWM, its encoder child not counted). "
             "*Window*: `slimreel-window-bench` with a short clip queued, then the queue cleared, the video imported "
             "in its place and its preview made: resident size once the players have opened it, and the peak.\n\n")
    text += report.table(["Video", "File", "Import", "Estimate"] + [p for p, _ in PLANS] + ["Window"], films)
    rem = r.get("remaining")
    if rem and rem["shown"]:
        text += (f"\nThe remaining time against the time it really took: the three-hour video through the recommended "
                 f"plan ({rem['wall'] / 60:.1f} min in all), as `slimreel-cli` shows it at each tenth of the run "
                 "(minutes are rounded up, so a text promises at most that many minutes).\n\n")
        text += report.table(["At", "Shown", "Really left", "Shown ÷ really"],
                             [[f"{s['percent']} %", s["text"], f"{s['really'] / 60:.1f} min",
                               f"{s['minutes'] * 60 / s['really']:.2f}" if s["minutes"] and s["really"] > 0 else "—"]
                              for s in rem["shown"]])
    return text + "\n"


def _peaks(f):
    yield f["probe"]["peak_kb"]
    yield f["estimate"]["peak_kb"]
    for plan, _ in PLANS:
        yield f["plans"][plan]["peak_kb"]
    if f.get("window"):
        yield f["window"]["peak_kb"]


def verdicts(r):
    if "missing" in r:
        return [("Queue", r["missing"], "", None)]
    q = r["queues"][max(QUEUES)]["queued"]
    per_video = _per_video(r)
    ratio = q["import_wall_s"] / r["bare_wall"]
    rise = max(l - s for l, s in zip(_peaks(r["long"]), _peaks(r["short"]))) / 1024
    return [
        ("Queue, memory per video", f"{per_video * 1024:.1f} KB (100 to 1,000 queued)", "≤ 0.02 MB", per_video <= 0.02),
        ("Queue, window with 1,000 queued", f"RSS {_mb(q['rss_kb'])}", "< 328 MB (100 queued before)",
         q["rss_kb"] / 1024 < 328),
        ("Queue, import of 1,000 files", f"{ratio:.3f} × ffprobe on each ({q['import_wall_s']:.2f} s against "
         f"{r['bare_wall']:.1f} s)", "≤ 0.1 ×", ratio <= 0.1),
        ("Queue, longest frame during that import", f"{q['longest_unshown_ms']:.0f} ms until shown (frame work "
         f"{q['longest_frame_work_ms']:.1f} ms, event loop "
         f"{q['longest_turn_ms']:.0f} ms; a quiet window's frame "
         f"{r['queues'][max(QUEUES)]['selection']['longest_unshown_ms']:.0f} ms)", "≤ 100 ms",
         q["longest_unshown_ms"] <= 100),
        ("Queue, three-hour video's peak memory", f"at most {rise:+.1f} MB against a one-minute video's",
         "within 20 MB", rise <= 20),
    ]
