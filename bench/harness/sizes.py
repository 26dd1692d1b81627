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
    shutil.rmtree(out, ignore_errors=True)
    return size, failure, run


def _estimate(ctx, section, clip, options):
    command = [ctx.cli, "estimate", "--json"] + options + [clip.path]
    ctx.log.command(section, [ctx.cli, "estimate", "--json"] + options + ["CLIP"], "for each clip")
    run = measure.run(command, check=False)
    lines = run.stdout.strip().splitlines()
    estimate = json.loads(lines[-1]) if lines else {}
    return estimate.get("lowerBound"), estimate.get("upperBound"), run


def predict(ctx, clips):
    rows = []
    for clip in clips:
        for plan in PLANS:
            options = ["--plan", plan]
            lower, upper, estimate_run = _estimate(ctx, PREDICTION, clip, options)
            actual, failure, encode = _compress(ctx, PREDICTION, clip, options, f"{clip.name}-{plan}")
            row = {"clip": clip, "plan": plan, "source": os.path.getsize(clip.path), "lower": lower,
                   "upper": upper, "actual": actual, "failure": failure, "estimate_wall": estimate_run.wall,
                   "encode_wall": encode.wall, "encode_cpu": encode.cpu}
            if lower is not None and actual:
                middle = (lower + upper) / 2
                row["inside"] = lower <= actual <= upper
                row["middle_error"] = (middle - actual) / actual
            rows.append(row)
            ctx.progress(f"prediction {clip.name} {plan}: range {report.megabytes(lower)}–"
                         f"{report.megabytes(upper)}, actual {report.megabytes(actual)}")
    return {"rows": rows}


def hit_target(ctx, clips):
    rows = []
    for clip in clips:
        source = os.path.getsize(clip.path)
        for share in TARGET_SHARES:
            target_mb = source * share / 1e6
            options = ["--mode", "targetSize", "--target-mb", f"{target_mb:.6f}"]
            planned, _, _ = _estimate(ctx, TARGET, clip, options)
            actual, failure, encode = _compress(ctx, TARGET, clip, options, f"{clip.name}-target-{share}")
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
                     report.percent(r.get("middle_error")), report.seconds(r["encode_wall"], 1),
                     report.seconds(r["encode_cpu"], 1)])
    s = prediction_summary(result)
    text = ("`slimreel-cli estimate --json` (a five-second sample and its packets, as the window's preview) "
            "against the size of `slimreel-cli compress` with the same plan. Error of the middle = "
            "(middle of the range − real size) ÷ real size.\n\n")
    text += report.table(["Clip", "Content", "Plan", "Source", "Range from", "Range to", "Real size", "Real size is",
                          "Error of the middle", "Encode wall", "Encode CPU"], rows)
    text += (f"\nReal size inside the range for {s['inside']} of {s['judged']} pairs "
             f"({report.percent(s['share_inside'])}); {s['above']} above the range, {s['below']} below it. "
             f"Median absolute error of the middle: {report.percent(s['median_error'])}.\n")
    per_plan = []
    for plan in PLANS:
        judged = [r for r in result["rows"] if r["plan"] == plan and "inside" in r]
        if judged:
            per_plan.append([plan, f"{sum(1 for r in judged if r['inside'])} of {len(judged)}",
                             report.percent(measure.median([abs(r["middle_error"]) for r in judged])),
                             report.percent(measure.median([r["actual"] / r["upper"] for r in judged]))])
    text += "\n" + report.table(["Plan", "Inside the range", "Median error of the middle",
                                 "Median real ÷ upper bound"], per_plan)
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
        s = prediction_summary(prediction)
        out.append(("Size prediction, real size in range", f"{s['inside']} of {s['judged']} pairs "
                    f"({report.percent(s['share_inside'])})", "≥ 80 %",
                    s["share_inside"] is not None and s["share_inside"] >= 0.8))
        out.append(("Size prediction, error of the middle", f"median {report.percent(s['median_error'])}",
                    "≤ 15 %", s["median_error"] is not None and s["median_error"] <= 0.15))
    if target:
        s = target_summary(target)
        failed = s["runs"] - s["done"]
        out.append(("Target size, never above", f"{s['above']} of {s['done']} above (highest "
                    f"{report.percent(s['highest'])} of target)" + (f"; {failed} failed" if failed else ""),
                    "never above", s["above"] == 0 and failed == 0))
        out.append(("Target size, ≥ 85 % (clips ≥ 10 s)", f"{s['long'] - s['low']} of {s['long']} reach it "
                    f"(lowest {report.percent(s['lowest'])})", "≥ 85 %", s["low"] == 0 and s["long"] > 0))
    return out
