"""Program overhead: slimreel-cli compress against the very ffmpeg command lines
it runs (as --verbose prints them), run directly, interleaved, median of N."""
import os
import shlex
import shutil

from . import measure, report

SECTION = "Program overhead"


def plans(clip, longer):
    """(label, options, clip) for every plan on `clip`, and the fastest plan
    (the shortest encode, where a fixed cost shows most) on a `longer` clip."""
    half = os.path.getsize(clip.path) * 0.5 / 1e6
    rows = [
        ("fastest", ["--plan", "fastest"], clip),
        ("recommended", ["--plan", "recommended"], clip),
        ("highQuality", ["--plan", "highQuality"], clip),
        ("targetSize, 50 %", ["--mode", "targetSize", "--target-mb", f"{half:.6f}"], clip),
    ]
    if longer is not None:
        rows.append((f"fastest, {longer.seconds:g} s clip", ["--plan", "fastest"], longer))
    return rows


def encode_start(run):
    """Seconds from the program's start to the launch of its first encode."""
    for at, line in run.stderr_lines:
        if line.startswith("$ ") and "-progress" in line:
            return at
    return None


def encode_commands(verbose_stderr):
    """The ffmpeg runs that write the output (one, or two passes); the one-frame
    encoder trials are left to the program's side."""
    commands = []
    for line in verbose_stderr.splitlines():
        if not line.startswith("$ "):
            continue
        words = shlex.split(line[2:])
        if os.path.basename(words[0]) == "ffmpeg" and "-progress" in words:
            commands.append(words)
    return commands


def direct_version(words, destination, pass_directory):
    words = list(words)
    if "-passlogfile" in words:
        at = words.index("-passlogfile") + 1
        words[at] = os.path.join(pass_directory, os.path.basename(words[at]))
    if words[-1] != "/dev/null":
        words[-1] = destination
    return words


def _fresh(directory):
    shutil.rmtree(directory, ignore_errors=True)
    os.makedirs(directory)


def run(ctx, clip, longer=None):
    rows = []
    for label, options, source in plans(clip, longer):
        slug = label.split(",")[0] + ("" if source is clip else "-" + source.name)
        out = os.path.join(ctx.work, "overhead", slug)
        direct_out = os.path.join(ctx.work, "overhead", slug + "-direct")
        pass_directory = os.path.join(ctx.work, "overhead", slug + "-pass")
        cli = [ctx.cli, "compress"] + options + ["--verbose", "-o", out, source.path]

        # One run names the commands (and warms the caches); not timed.
        _fresh(out)
        encodes = encode_commands(measure.run(cli).stderr)
        destination = os.path.join(direct_out, os.path.basename(encodes[-1][-1]))
        direct = [direct_version(words, destination, pass_directory) for words in encodes]
        ctx.log.command(SECTION, cli, f"once untimed to read the command lines, then {ctx.reps} times, "
                                      "interleaved with the direct run below")
        for words in direct:
            ctx.log.command(SECTION, words, "direct run (the command lines printed by --verbose)")

        program, bare = [], []
        for repetition in range(ctx.reps):
            order = ["program", "direct"] if repetition % 2 == 0 else ["direct", "program"]
            for kind in order:
                if kind == "program":
                    _fresh(out)
                    program.append(measure.run(cli, timestamps=True))
                else:
                    _fresh(direct_out)
                    _fresh(pass_directory)
                    runs = [measure.run(words) for words in direct]
                    bare.append(_sum(runs))
        shutil.rmtree(pass_directory, ignore_errors=True)
        rows.append(_row(label, source, program, bare))
        ctx.progress(f"overhead {label}: ratio {rows[-1]['wall_ratio']:.3f}, "
                     f"own CPU {100 * rows[-1]['own_share']:.2f} % of children's")
    return {"clip": clip, "rows": rows}


class _Total:
    def __init__(self, wall, cpu, load):
        self.wall = wall
        self.cpu = cpu
        self.load = load


def _sum(runs):
    return _Total(sum(r.wall for r in runs), sum(r.cpu for r in runs), runs[0].load)


def _row(label, clip, program, bare):
    wall_program = measure.median([r.wall for r in program])
    wall_bare = measure.median([r.wall for r in bare])
    paired = [p.wall / b.wall for p, b in zip(program, bare)]
    own = measure.median([r.cpu_self for r in program])
    children = measure.median([r.cpu_children for r in program])
    return {
        "plan": label,
        "clip": clip,
        "runs": len(program),
        "program_walls": [r.wall for r in program],
        "direct_walls": [r.wall for r in bare],
        "to_encode": measure.median([encode_start(r) for r in program]),
        "wall_program": wall_program,
        "wall_direct": wall_bare,
        "wall_ratio": wall_program / wall_bare,
        "paired_ratio": measure.median(paired),
        "cpu_program": measure.median([r.cpu for r in program]),
        "cpu_direct": measure.median([r.cpu for r in bare]),
        "own_cpu": own,
        "children_cpu": children,
        "own_share": measure.median([r.cpu_self / r.cpu_children for r in program if r.cpu_children > 0]),
        "load": (min(r.load for r in program + bare), max(r.load for r in program + bare)),
    }


def markdown(result):
    clip = result["clip"]
    rows, every = [], []
    for r in result["rows"]:
        rows.append([r["plan"], r["runs"], report.seconds(r["wall_program"]), report.seconds(r["wall_direct"]),
                     report.ratio(r["wall_ratio"]), report.ratio(r["paired_ratio"]), report.seconds(r["to_encode"]),
                     report.seconds(r["cpu_program"]), report.seconds(r["cpu_direct"]),
                     report.seconds(r["own_cpu"], 3), report.percent(r["own_share"], 2),
                     f"{r['load'][0]:.1f}–{r['load'][1]:.1f}"])
        every.append([r["plan"], ", ".join(f"{w:.2f}" for w in r["program_walls"]),
                      ", ".join(f"{w:.2f}" for w in r["direct_walls"])])
    text = (f"Clip: `{clip.name}` ({clip.describe()}); the last row, if any, names its own. Each plan: one "
            "untimed `--verbose` run to read the ffmpeg command lines, then "
            f"{result['rows'][0]['runs']} runs of `slimreel-cli compress --verbose` interleaved with the same "
            "ffmpeg command lines run directly (A B, B A, ...). Medians. *To encode start*: from starting the "
            "program to its printing the encode's command line (the import and the encoder choice come first). "
            "*Own CPU*: the program's own user + system time, read from /proc while it is a zombie; its children "
            "are the encodes (and the hardware-encoder trials, where a device exists).\n\n")
    text += report.table(["Plan", "Runs", "Wall, program", "Wall, ffmpeg direct", "Ratio of medians",
                          "Median of paired ratios", "To encode start", "CPU, program (all)", "CPU, ffmpeg direct",
                          "Own CPU", "Own CPU ÷ children's", "Load"], rows)
    text += "\nEvery run, in order (seconds):\n\n" + report.table(["Plan", "Program", "ffmpeg direct"], every)
    return text


def verdicts(result):
    worst_wall = max(result["rows"], key=lambda r: r["wall_ratio"])
    worst_share = max(result["rows"], key=lambda r: r["own_share"])
    fixed = max(r["to_encode"] for r in result["rows"] if r["to_encode"] is not None)
    return [
        ("Program overhead, wall time", f"ratio {worst_wall['wall_ratio']:.3f} ({worst_wall['plan']}, the worst "
         f"median); {fixed:.2f} s at most from start to the encode", "≤ 1.02", worst_wall["wall_ratio"] <= 1.02),
        ("Program overhead, own CPU", f"{100 * worst_share['own_share']:.2f} % of children's "
         f"({worst_share['plan']}, {worst_share['own_cpu']:.2f} s)", "≤ 1 %", worst_share["own_share"] <= 0.01),
    ]
