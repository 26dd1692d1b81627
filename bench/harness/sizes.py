"""Size prediction (quality mode: the estimate's range against the real
output) and target-size accuracy (the output against the target)."""
import json
import os
import shutil

from . import measure, report

PREDICTION = "Size prediction"
TARGET = "Target-size accuracy"
PLANS = ["fastest", "recommended", "highQuality", "smallest"]
TARGET_SHARES = [0.5, 0.25]


def _compress(ctx, section, clip, options, slug):
    """Compresses `clip` into a fresh folder; the output's size, or the failure text."""
    out = os.path.join(ctx.work, "sizes", slug)
    shutil.rmtree(out, ignore_errors=True)
    command = [ctx.cli, "compress"] + options + ["-o", out, clip.path]
    ctx.log.command(section, [ctx.cli, "compress"] + options + ["-o", "OUT", "CLIP"], "for each clip")
    run = measure.run(command, check=False)
    outputs = os.listdir(out) if os.path.isdir(out) else []
    size = os.path.getsize(os.path.join(out, outputs[0])) if outputs else None
    failure = None if size else (run.stdout.strip().splitlines() or ["no output"])[-1]
    seconds = video_bytes_per_second(os.path.join(out, outputs[0])) if size else None
    if section == PREDICTION and "--plan" in options:
        # The plans' figure measures this same encode (SSIM): it takes the output over.
        ctx.encoded[(clip.name, options[options.index("--plan") + 1])] = (out, outputs[0] if outputs else None, run)
    else:
        shutil.rmtree(out, ignore_errors=True)
    return size, failure, run, seconds


def video_bytes_per_second(path):
    """The video stream's packet bytes in each second: where in a video its bytes go."""
    lines = measure.run(["ffprobe", "-v", "error", "-select_streams", "v:0", "-show_entries",
                         "packet=pts_time,size", "-of", "csv=p=0", path], check=False).stdout.splitlines()
    seconds = []
    for line in lines:
        fields = line.split(",")
        try:
            second, size = int(float(fields[0])), int(fields[1])
        except (ValueError, IndexError):
            continue
        seconds.extend([0] * (second + 1 - len(seconds)))
        seconds[second] += size
    return seconds


def estimate(ctx, section, clip, options, cli=None):
    command = [cli or ctx.cli, "estimate", "--json"] + options + [clip.path]
    ctx.log.command(section, [cli or ctx.cli, "estimate", "--json"] + options + ["CLIP"],
                    "the earlier model, for each clip" if cli else "for each clip")
    # One estimate per clip and plan in a run: the plans' figure shows the prediction's.
    key = (command[0], clip.name, tuple(options))
    if key not in ctx.estimates:
        ctx.estimates[key] = measure.run(command, check=False)
    run = ctx.estimates[key]
    lines = run.stdout.strip().splitlines()
    bounds = json.loads(lines[-1]) if lines else {}
    return bounds.get("lowerBound"), bounds.get("upperBound"), run


def _judge(row):
    if row["lower"] is not None and row["actual"]:
        middle = (row["lower"] + row["upper"]) / 2
        row["inside"] = row["lower"] <= row["actual"] <= row["upper"]
        row["middle_error"] = (middle - row["actual"]) / row["actual"]
    return row


def predict(ctx, clips):
    rows = []
    # The earlier model's rows: those of the run that recorded the real sizes, and,
    # with --baseline-cli, that model's estimate made now for any pair that run lacks.
    earlier = {(r["clip"], r["plan"]): r for r in (ctx.real_sizes or [])}
    before_rows = []
    for clip in clips:
        for plan in PLANS:
            options = ["--plan", plan]
            lower, upper, estimate_run = estimate(ctx, PREDICTION, clip, options)
            recorded = _recorded(ctx, clip, plan)
            if recorded:
                actual, failure, encode, seconds = recorded
            else:
                actual, failure, encode, seconds = _compress(ctx, PREDICTION, clip, options, f"{clip.name}-{plan}")
            row = {"clip": clip, "plan": plan, "source": os.path.getsize(clip.path), "lower": lower,
                   "upper": upper, "actual": actual, "failure": failure, "estimate_wall": estimate_run.wall,
                   "encode_wall": encode.wall, "encode_cpu": encode.cpu,
                   "output_seconds": seconds}
            _judge(row)
            row["recorded"] = bool(recorded)
            rows.append(row)
            _save(ctx, rows, "prediction-rows.json")
            if ctx.baseline_cli:
                old = earlier.get((clip.name, plan))
                if old is None or abs(old["source"] - row["source"]) > 0.01 * row["source"]:
                    old_lower, old_upper, _ = estimate(ctx, PREDICTION, clip, options, ctx.baseline_cli)
                    old = {"clip": clip.name, "plan": plan, "source": row["source"], "lower": old_lower,
                           "upper": old_upper}
                before_rows.append(_judge(dict(old, actual=actual, failure=failure)))
                _save(ctx, before_rows, "prediction-before-rows.json")
            ctx.progress(f"prediction {clip.name} {plan}: range {report.megabytes(lower)}–"
                         f"{report.megabytes(upper)}, actual {report.megabytes(actual)}")
    return {"rows": rows, "before": before_rows or None}


class _Recorded:
    def __init__(self, row):
        # Rows measured again by hand carry the size alone.
        self.wall = row.get("encode_wall")
        self.cpu = row.get("encode_cpu")


def _recorded(ctx, clip, plan):
    """With --real-sizes-from: the real size an earlier run measured for this clip and plan,
    instead of encoding again (only while the encode itself is unchanged)."""
    if not ctx.real_sizes:
        return None
    row = next((r for r in ctx.real_sizes if r["clip"] == clip.name and r["plan"] == plan), None)
    # The clip made again by the same command differs by a fraction of a percent (x264's threads).
    if row is None or abs(os.path.getsize(clip.path) - row["source"]) > 0.01 * row["source"]:
        return None
    return row["actual"], row["failure"], _Recorded(row), row.get("output_seconds")


def _save(ctx, rows, name):
    """The raw rows, so that a later model can be compared with this one (see `before`)."""
    plain = [dict(r, clip=r["clip"] if isinstance(r["clip"], str) else r["clip"].name) for r in rows]
    with open(os.path.join(ctx.work, name), "w") as out:
        json.dump(plain, out, indent=1)


def _width(row):
    middle = (row["lower"] + row["upper"]) / 2
    return (row["upper"] - row["lower"]) / middle if middle > 0 else None


def per_plan(rows):
    """Coverage, median width of the range (÷ its middle) and median error of the middle, per plan."""
    out = []
    for plan in PLANS:
        judged = [r for r in rows if r["plan"] == plan and "inside" in r]
        if judged:
            inside = sum(1 for r in judged if r["inside"])
            out.append([plan, f"{inside} of {len(judged)} ({report.percent(inside / len(judged))})",
                        report.percent(measure.median([_width(r) for r in judged])),
                        report.percent(measure.median([abs(r["middle_error"]) for r in judged])),
                        report.percent(measure.median([r["actual"] / r["upper"] for r in judged]))])
    return out


PLAN_HEADERS = ["Plan", "Inside the range", "Median width of the range", "Median error of the middle",
                "Median real ÷ upper bound"]


def before(path):
    """Rows written by `_save` in an earlier run (the model before this one), if kept beside the results."""
    if not os.path.exists(path):
        return None
    with open(path) as f:
        return json.load(f)


def hit_target(ctx, clips):
    rows = []
    for clip in clips:
        source = os.path.getsize(clip.path)
        for share in TARGET_SHARES:
            target_mb = source * share / 1e6
            options = ["--mode", "targetSize", "--target-mb", f"{target_mb:.6f}"]
            planned, _, _ = estimate(ctx, TARGET, clip, options)
            actual, failure, encode, _ = _compress(ctx, TARGET, clip, options, f"{clip.name}-target-{share}")
            target = target_mb * 1e6
            rows.append({"clip": clip, "share": share, "source": source, "target": target, "planned": planned,
                         "actual": actual, "failure": failure, "encode_wall": encode.wall,
                         "encode_cpu": encode.cpu, "of_target": actual / target if actual else None})
            ctx.progress(f"target {clip.name} {int(share * 100)} %: {report.megabytes(actual)} of "
                         f"{report.megabytes(target)}")
    return {"rows": rows}


def prediction_summary(result):
    judged = [r for r in result["rows"] if "inside" in r]
    inside = sum(1 for r in judged if r["inside"])
    errors = [abs(r["middle_error"]) for r in judged]
    return {
        "pairs": len(result["rows"]),
        "judged": len(judged),
        "inside": inside,
        "share_inside": inside / len(judged) if judged else None,
        "median_error": measure.median(errors),
        "above": sum(1 for r in judged if r["actual"] > r["upper"]),
        "below": sum(1 for r in judged if r["actual"] < r["lower"]),
    }


def prediction_markdown(result):
    rows = []
    for r in result["rows"]:
        clip = r["clip"]
        where = "—"
        if "inside" in r:
            where = "inside" if r["inside"] else ("**above**" if r["actual"] > r["upper"] else "**below**")
        rows.append([clip.name, clip.describe(), r["plan"], report.megabytes(r["source"]),
                     report.megabytes(r["lower"]), report.megabytes(r["upper"]),
                     report.megabytes(r["actual"]) if r["actual"] else f"failed: {r['failure']}", where,
                     report.percent(r.get("middle_error")),
                     report.percent(_width(r) if r["lower"] is not None else None),
                     report.seconds(r["estimate_wall"], 1), report.seconds(r["encode_wall"], 1),
                     report.seconds(r["encode_cpu"], 1)])
    s = prediction_summary(result)
    text = ("`slimreel-cli estimate --json` (a five-second sample and its packets, as the window's preview) "
            "against the size of `slimreel-cli compress` with the same plan. Error of the middle = "
            "(middle of the range − real size) ÷ real size; width of the range = (upper − lower) ÷ middle.")
    recorded = sum(1 for r in result["rows"] if r.get("recorded"))
    if recorded:
        text += (f" For {recorded} of {len(result['rows'])} pairs the real size (and its encode times) is the one "
                 "an earlier run measured with the same encode of the clip made by the same command (`--real-sizes-from`; "
                 "a clip made again differs from it by under 0.3 % in size); only the estimate ran anew.")
    text += "\n\n"
    text += report.table(["Clip", "Content", "Plan", "Source", "Range from", "Range to", "Real size", "Real size is",
                          "Error of the middle", "Width of the range", "Estimate wall", "Encode wall", "Encode CPU"],
                         rows)
    text += (f"\nReal size inside the range for {s['inside']} of {s['judged']} pairs "
             f"({report.percent(s['share_inside'])}); {s['above']} above the range, {s['below']} below it. "
             f"Median absolute error of the middle: {report.percent(s['median_error'])}.\n")
    text += "\n" + report.table(PLAN_HEADERS, per_plan(result["rows"]))
    earlier = result.get("before")
    if earlier:
        text += ("\nBefore: the previous model on the same corpus and the same encodes' sizes "
                 "(`bench/prediction-before.json`, measured with it):\n\n" + report.table(PLAN_HEADERS, per_plan(earlier)))
        rows = [[r["clip"], r["plan"], report.megabytes(r["lower"]), report.megabytes(r["upper"]),
                 report.megabytes(r["actual"]), "—" if "inside" not in r else ("inside" if r["inside"] else "outside"),
                 report.percent(r.get("middle_error"))] for r in earlier]
        text += "\n" + report.table(["Clip", "Plan", "Range from", "Range to", "Real size", "Real size is",
                                     "Error of the middle"], rows)
    return text


def target_markdown(result):
    rows = []
    for r in result["rows"]:
        clip = r["clip"]
        rows.append([clip.name, clip.describe(), f"{int(r['share'] * 100)} %", report.megabytes(r["source"]),
                     report.megabytes(r["target"]), report.megabytes(r["planned"]),
                     report.megabytes(r["actual"]) if r["actual"] else f"failed: {r['failure']}",
                     report.percent(r["of_target"]),
                     "—" if r["actual"] is None else ("yes" if r["actual"] <= r["target"] else "**no**"),
                     report.seconds(r["encode_wall"], 1)])
    text = ("`slimreel-cli compress --mode targetSize --target-mb T` with T = 50 % and 25 % of the source file's "
            "size (two x264 passes). \"Planned\" is what the settings panel shows for that target "
            "(`estimate --json`, no sample needed).\n\n")
    return text + report.table(["Clip", "Content", "Target", "Source", "Target size", "Planned", "Real size",
                                "Real ÷ target", "Within target", "Encode wall"], rows)


def target_summary(result):
    done = [r for r in result["rows"] if r["actual"]]
    long_clips = [r for r in done if r["clip"].seconds >= 10]
    return {
        "runs": len(result["rows"]),
        "done": len(done),
        "above": sum(1 for r in done if r["actual"] > r["target"]),
        "low": sum(1 for r in long_clips if r["of_target"] < 0.85),
        "long": len(long_clips),
        "lowest": min((r["of_target"] for r in long_clips), default=None),
        "highest": max((r["of_target"] for r in done), default=None),
    }


def verdicts(prediction, target):
    out = []
    if prediction:
        # Per plan: the real size inside the range, a narrow range, a middle near the real size.
        for plan in PLANS:
            judged = [r for r in prediction["rows"] if r["plan"] == plan and "inside" in r]
            if not judged:
                continue
            share = sum(1 for r in judged if r["inside"]) / len(judged)
            width = measure.median([_width(r) for r in judged])
            error = measure.median([abs(r["middle_error"]) for r in judged])
            out.append((f"Size prediction, {plan}: real size in range", f"{sum(1 for r in judged if r['inside'])} "
                        f"of {len(judged)} ({report.percent(share)})", "≥ 90 %", share >= 0.9))
            out.append((f"Size prediction, {plan}: range width", f"median {report.percent(width)} of its middle",
                        "≤ 20 %", width <= 0.2))
            out.append((f"Size prediction, {plan}: error of the middle", f"median {report.percent(error)}", "≤ 7 %",
                        error <= 0.07))
    if target:
        s = target_summary(target)
        failed = s["runs"] - s["done"]
        out.append(("Target size, never above", f"{s['above']} of {s['done']} above (highest "
                    f"{report.percent(s['highest'])} of target)" + (f"; {failed} failed" if failed else ""),
                    "never above", s["above"] == 0 and failed == 0))
        out.append(("Target size, ≥ 85 % (clips ≥ 10 s)", f"{s['long'] - s['low']} of {s['long']} reach it "
                    f"(lowest {report.percent(s['lowest'])})", "≥ 85 %", s["low"] == 0 and s["long"] > 0))
    return out
