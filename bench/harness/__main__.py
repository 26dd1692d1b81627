"""bench/run's harness: makes the corpus, measures every figure, writes
bench/results.md and the plots beside it."""
import argparse
import datetime
import os
import platform
import shutil
import subprocess
import sys
import time
import traceback

from . import corpus, importing, measure, overhead, plans, plots, preview, queue, report, sizes, window

BENCH = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
REPO = os.path.dirname(BENCH)
FIGURES = ["overhead", "import", "prediction", "target", "plans", "preview", "window", "queue"]
# Each section's title and what its summary rows are called.
VERDICT_NAMES = {"Program overhead": "Program overhead", "Import speed": "Import speed",
                 "Size prediction (quality mode)": "Size prediction", "Target-size accuracy": "Target size",
                 plans.SECTION: "Smallest plan",
                 "Preview latency": "Preview latency", "Window": "Window", "Queue and length": "Queue"}


class Context:
    def __init__(self, args):
        self.quick = args.quick
        self.build = os.path.abspath(args.build_dir)
        self.work = os.path.abspath(args.work_dir or os.path.join(self.build, "bench-work"))
        self.cli = os.path.join(self.build, "src/cli/slimreel-cli")
        self.bench = os.path.join(self.build, "bench/slimreel-bench")
        self.window = os.path.join(self.build, "src/ui/slimreel")
        self.window_bench = os.path.join(self.build, "bench/slimreel-window-bench")
        self.reps = 3 if args.quick else 5
        self.import_reps = 2 if args.quick else 3
        self.import_count = 50 if args.quick else 200
        self.queue_count = 50 if args.quick else 100   # the window's full queue
        self.startup_reps = 3 if args.quick else 5
        self.window_previews = 4 if args.quick else 10
        self.estimates = {}   # (cli, clip, options): its run, shared by the figures
        self.encoded = {}     # (clip, plan): (folder, output, run) kept for the plans' figure
        self.log = report.Log()
        self.log.name(self.work, "$WORK")
        self.log.name(self.build, "$BUILD")
        self.started = time.monotonic()

    def progress(self, message):
        elapsed = time.monotonic() - self.started
        print(f"[{elapsed / 60:5.1f} min] {message}", file=sys.stderr, flush=True)


def _output(command):
    try:
        return subprocess.run(command, capture_output=True, text=True, check=True).stdout.strip()
    except (OSError, subprocess.CalledProcessError):
        return "unknown"


def machine():
    cpu = "unknown"
    with open("/proc/cpuinfo") as f:
        for line in f:
            if line.startswith("model name"):
                cpu = line.split(":", 1)[1].strip()
                break
    with open("/proc/meminfo") as f:
        memory = int(f.readline().split()[1]) * 1024
    system = "Linux"
    if os.path.exists("/etc/os-release"):
        with open("/etc/os-release") as f:
            for line in f:
                if line.startswith("PRETTY_NAME="):
                    system = line.split("=", 1)[1].strip().strip('"')
    version = lambda package: _output(["dpkg-query", "-W", "-f=${Version}", package])
    return {
        "cpu": f"{cpu}, {os.cpu_count()} cores",
        "memory": f"{memory / 1e9:.1f} GB",
        "system": f"{system}, kernel {platform.release()}",
        "ffmpeg": _output(["ffmpeg", "-hide_banner", "-version"]).splitlines()[0],
        "libraries": f"Qt {version('libqt6core6')}, GStreamer {version('libgstreamer1.0-0')}, "
                     f"x264 {version('libx264-164')}, x265 {version('libx265-199')}",
        "commit": _output(["git", "-C", REPO, "rev-parse", "--short", "HEAD"])
                  + (" (with uncommitted changes)" if _output(["git", "-C", REPO, "status", "--porcelain",
                                                                "--untracked-files=no"]) else ""),
    }


def carried_over(path, measured):
    """From an earlier results file: the sections of the figures not measured now
    (by title), their summary rows (by the title their name starts with) and
    their command blocks."""
    if not os.path.exists(path):
        return None
    with open(path) as f:
        text = f.read()
    parts = text.split("\n## ")
    sections = {part.split("\n", 1)[0]: "## " + part for part in parts[1:]}
    titles = [t for t in sections if t not in ("Summary", "Corpus", "Commands")]
    summary = {}
    for line in sections.get("Summary", "").splitlines()[4:]:
        cells = [c.strip() for c in line.strip().strip("|").split("|")]
        owner = next((t for t in titles if cells[0].split(",")[0] == VERDICT_NAMES.get(t)), None)
        if len(cells) == 4 and owner and owner not in measured:
            met = {"met": True, "**missed**": False}.get(cells[3])
            summary.setdefault(owner, []).append((cells[0], cells[1], cells[2], met))
    blocks = sections.get("Commands", "").split("\n### ")[1:]
    commands = {b.split("\n", 1)[0]: "\n### " + b.rstrip("\n") + "\n" for b in blocks}
    return {"sections": {t: sections[t].rstrip("\n") + "\n" for t in titles if t not in measured},
            "summary": summary, "commands": commands}


def build_type(build):
    try:
        with open(os.path.join(build, "CMakeCache.txt")) as f:
            for line in f:
                if line.startswith("CMAKE_BUILD_TYPE:"):
                    return line.split("=", 1)[1].strip() or "RelWithDebInfo (the project's default)"
    except OSError:
        pass
    return "unknown"


def clip_named(clips, name):
    return next(c for c in clips if c.name == name)


def main():
    parser = argparse.ArgumentParser(prog="bench/run", description=__doc__)
    parser.add_argument("--quick", action="store_true", help="a smaller corpus and fewer repetitions")
    parser.add_argument("--build-dir", default=os.path.join(REPO, "build-bench"))
    parser.add_argument("--work-dir", help="where the corpus and outputs go (default: BUILD/bench-work)")
    parser.add_argument("--only", help="comma-separated figures: " + ",".join(FIGURES))
    parser.add_argument("--output", default=os.path.join(BENCH, "results.md"))
    parser.add_argument("--real-sizes-from", help="size prediction: take the real sizes from these rows of an "
                        "earlier run (its prediction-rows.json) instead of encoding again; only while the encode "
                        "itself is unchanged")
    parser.add_argument("--clips", help="size prediction: only these clips (comma-separated names)")
    parser.add_argument("--baseline-cli", help="size prediction: an earlier slimreel-cli, whose estimates form the "
                        "'before' table (taken from --real-sizes-from where that run made them)")
    args = parser.parse_args()
    chosen = args.only.split(",") if args.only else FIGURES
    unknown = set(chosen) - set(FIGURES)
    if unknown:
        parser.error("unknown figure: " + ", ".join(sorted(unknown)))

    ctx = Context(args)
    ctx.real_sizes = sizes.before(args.real_sizes_from) if args.real_sizes_from else None
    ctx.baseline_cli = os.path.abspath(args.baseline_cli) if args.baseline_cli else None
    if not os.path.exists(ctx.cli) or not os.path.exists(ctx.bench):
        sys.exit(f"bench: build {ctx.cli} and {ctx.bench} first (bench/run does)")
    os.makedirs(ctx.work, exist_ok=True)
    load_before = measure.load_average()
    date = datetime.datetime.now(datetime.timezone.utc).replace(microsecond=0).isoformat()

    ctx.progress("making the corpus")
    clips = corpus.make(os.path.join(ctx.work, "corpus-quick" if ctx.quick else "corpus"), ctx.quick, ctx.log)
    queue_files = []
    if "import" in chosen or "window" in chosen:
        queue_files = corpus.short_files(os.path.join(ctx.work, "import"), ctx.import_count, ctx.log)

    footage = []

    def predict(generated):
        # Real pictures too: the estimate must hold on camera-like footage.
        footage.extend(corpus.make_footage(os.path.join(ctx.work, "footage"), ctx.log))
        chosen_clips = [c for c in generated + footage if not args.clips or c.name in args.clips.split(",")]
        result = sizes.predict(ctx, chosen_clips)
        result["before"] = result["before"] or sizes.before(os.path.join(BENCH, "prediction-before.json"))
        return result

    results, sections, verdicts = {}, [], []
    beside = os.path.dirname(os.path.abspath(args.output))   # the plots go with the results they belong to
    steps = [
        ("overhead", "Program overhead",
         lambda: overhead.run(ctx, clip_named(clips, "pan-720p"), None if ctx.quick else clip_named(clips, "mixed-720p")),
         overhead.markdown, overhead.verdicts),
        ("import", "Import speed", lambda: importing.run(ctx, ctx.import_count), importing.markdown,
         importing.verdicts),
        ("prediction", "Size prediction (quality mode)", lambda: predict(clips),
         sizes.prediction_markdown, lambda r: sizes.verdicts(r, None)),
        ("target", "Target-size accuracy", lambda: sizes.hit_target(ctx, clips), sizes.target_markdown,
         lambda r: sizes.verdicts(None, r)),
        ("plans", plans.SECTION, lambda: plans.run(ctx, clips), plans.markdown, plans.verdicts),
        ("preview", "Preview latency", lambda: preview.run(ctx, clip_named(clips, "grain-1080p")),
         preview.markdown, preview.verdicts),
        ("window", "Window", lambda: window.run(ctx, queue_files[:ctx.queue_count], clip_named(clips, "pan-720p")),
         window.markdown, window.verdicts),
        ("queue", "Queue and length", lambda: queue.run(ctx), queue.markdown, queue.verdicts),
    ]
    # With --only, what the other figures measured before stays as it was.
    kept = carried_over(args.output, [title for key, title, *_ in steps if key in chosen]) if args.only else None
    for key, title, measure_it, describe, judge in steps:
        if key not in chosen:
            if kept and title in kept["sections"]:
                sections.append(kept["sections"][title])
                verdicts.extend(kept["summary"].get(title, []))
            continue
        ctx.progress(f"measuring: {title}")
        try:
            results[key] = measure_it()
        except Exception as error:  # one broken figure must not lose the others
            traceback.print_exc()
            sections.append(f"## {title}\n\nNot measured: the run failed: `{str(error).splitlines()[0]}`\n")
            verdicts.append((title, "run failed", "", None))
            continue
        text = f"## {title}\n\n" + describe(results[key])
        if key == "prediction":
            name = plots.prediction(results[key], os.path.join(beside, "prediction.png"))
            if name:
                text += f"\n![Estimate against real size]({name})\n"
        if key == "target":
            name = plots.target(results[key], os.path.join(beside, "target-size.png"))
            if name:
                text += f"\n![Real size against target]({name})\n"
        if key == "plans":
            name = plots.plans(results[key], os.path.join(beside, "plans.png"))
            if name:
                text += f"\n![Size against SSIM, four plans]({name})\n"
        sections.append(text)
        verdicts.extend(judge(results[key]))

    for folder, _, _ in ctx.encoded.values():   # outputs no figure took over
        shutil.rmtree(folder, ignore_errors=True)
    total = time.monotonic() - ctx.started
    load_after = measure.load_average()
    info = machine()
    lines = [
        "# Slimreel benchmarks",
        "",
        "Written by `bench/run`" + (" --quick" if ctx.quick else "") + "; do not edit by hand. "
        "The README's Benchmarks section says how to run it.",
        "",
        f"- Date: {date}; the whole run took {total / 60:.1f} min",
        f"- Machine: {info['cpu']}, {info['memory']} memory; {info['system']}",
        f"- Load average (1, 5, 15 min) before: {', '.join(f'{v:.2f}' for v in load_before)}; after: "
        f"{', '.join(f'{v:.2f}' for v in load_after)}. Other work shared the machine: wall times are noisy, "
        "so timed pairs are interleaved, medians are given, and CPU times stand beside wall times",
        f"- Tools: {info['ffmpeg']}; {info['libraries']}",
        f"- Build: commit {info['commit']}, CMake build type {build_type(ctx.build)}",
        "- CPU times are user + system from wait4() (what `/usr/bin/time -v` reports); a program's own share is "
        "read from /proc before it is reaped",
        "",
        "## Summary",
        "",
        report.table(["Figure", "Measured", "Goal", "Verdict"],
                     [[name, measured, goal, report.verdict(met)] for name, measured, goal, met in verdicts]),
        "## Corpus",
        "",
        "Generated by `bench/run` with ffmpeg's built-in sources (commands at the end). Camera-like clips are "
        "H.264 at a steady bit rate as phones record, with AAC audio (a chord over pink noise) where marked; the "
        "screen recording is H.264 at a screen recorder's usual rate.",
        "",
        report.table(["Clip", "Content", "Resolution", "Length", "Audio", "Source bit rate", "File size"],
                     [[c.name, c.kind, c.resolution, f"{c.seconds:g} s", "AAC 160 kbit/s" if c.audio else "none",
                       f"{c.rate / 1e6:g} Mbit/s", report.megabytes(os.path.getsize(c.path))] for c in clips]),
    ]
    if footage:
        lines += ["Real footage, for the size prediction: made by `bench/run` from Debian packages "
                  "(mate-backgrounds' photographs, animated; gem-doc's clips as they are).", "",
                  report.table(["Clip", "Content", "File size"],
                               [[c.name, c.describe(), report.megabytes(os.path.getsize(c.path))] for c in footage])]
    lines += sections
    lines += ["## Commands", "",
              f"`$BUILD` is the build folder (`{os.path.relpath(ctx.build, REPO)}`), `$WORK` the work folder "
              f"(`{os.path.relpath(ctx.work, REPO)}`); CLIP and FILE stand for the corpus files above.",
              ctx.log.markdown() + "".join(block for name, block in (kept["commands"] if kept else {}).items()
                                           if name not in ctx.log.sections)]
    with open(args.output, "w") as out:
        out.write("\n".join(lines))
    ctx.progress(f"wrote {args.output}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
