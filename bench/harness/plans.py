"""The four plans side by side: size, SSIM and encode time of each on every
clip, and whether the estimate's range holds the real size."""
import os
import re
import shutil

from . import measure, report, sizes

SECTION = "The four plans"
PLANS = ["fastest", "recommended", "highQuality", "smallest"]
SSIM_SLACK = 0.01   # how far below the recommended plan the smallest may fall


def _ssim(output, source):
    """At the output's size, against the source scaled the same way."""
    height = measure.run(["ffprobe", "-v", "error", "-select_streams", "v:0", "-show_entries", "stream=height",
                          "-of", "default=nw=1:nk=1", output]).stdout.strip()
    run = measure.run(["ffmpeg", "-hide_banner", "-nostdin", "-i", output, "-i", source, "-lavfi",
                       f"[1:v]scale=-2:{height}[ref];[0:v][ref]ssim", "-f", "null", "-"])
    match = re.search(r"All:([0-9.]+)", run.stderr)
    return (float(match.group(1)) if match else None), int(height)


def _one(ctx, clip, plan):
    options = ["--plan", plan]
    lower, upper, _ = sizes.estimate(ctx, SECTION, clip, options)
    bounds = {"lowerBound": lower, "upperBound": upper}
    if (clip.name, plan) in ctx.encoded:
        # The size prediction's encode of this clip and plan, made by the same command in this run.
        out, output, encode = ctx.encoded.pop((clip.name, plan))
        outputs = [output] if output else []
    else:
        out = os.path.join(ctx.work, "plans", f"{clip.name}-{plan}")
        shutil.rmtree(out, ignore_errors=True)
        encode = measure.run([ctx.cli, "compress"] + options + ["-o", out, clip.path], check=False)
        outputs = os.listdir(out) if os.path.isdir(out) else []
    ctx.log.command(SECTION, [ctx.cli, "compress"] + options + ["-o", "OUT", "CLIP"], "for each clip and plan")
    row = {"clip": clip, "plan": plan, "size": None, "ssim": None, "height": None, "wall": encode.wall,
           "cpu": encode.cpu, "lower": bounds.get("lowerBound"), "upper": bounds.get("upperBound"),
           "failure": None if outputs else (encode.stdout.strip().splitlines() or ["no output"])[-1]}
    if outputs:
        path = os.path.join(out, outputs[0])
        row["size"] = os.path.getsize(path)
        row["ssim"], row["height"] = _ssim(path, clip.path)
        if row["lower"] is not None:
            row["inside"] = row["lower"] <= row["size"] <= row["upper"]
    shutil.rmtree(out, ignore_errors=True)
    ctx.log.command(SECTION, ["ffmpeg", "-hide_banner", "-nostdin", "-i", "OUTPUT", "-i", "CLIP", "-lavfi",
                              "[1:v]scale=-2:HEIGHT[ref];[0:v][ref]ssim", "-f", "null", "-"], "SSIM of each output")
    ctx.progress(f"plans {clip.name} {plan}: {report.megabytes(row['size'])}, SSIM {report.ratio(row['ssim'], 4)}, "
                 f"{report.seconds(row['wall'], 1)}")
    return row


def run(ctx, clips):
    return {"rows": [_one(ctx, clip, plan) for clip in clips for plan in PLANS]}


def _by_clip(result):
    clips = {}
    for r in result["rows"]:
        clips.setdefault(r["clip"].name, {})[r["plan"]] = r
    return clips


def summary(result):
    clips = _by_clip(result)
    smaller = close = inside = judged = 0
    for plans in clips.values():
        mine = plans.get("smallest", {})
        # A plan without output wrote nothing smaller than the source, which the smallest plan's output is.
        others = [plans[p]["size"] for p in PLANS[:3] if plans.get(p, {}).get("size")]
        if mine.get("size") and mine["size"] < min(others, default=mine["size"] + 1):
            smaller += 1
        reference = plans.get("recommended", {}).get("ssim")
        if mine.get("ssim") is not None and reference is not None and mine["ssim"] >= reference - SSIM_SLACK:
            close += 1
        if "inside" in mine:
            judged += 1
            inside += mine["inside"]
    return {"clips": len(clips), "smaller": smaller, "close": close, "inside": inside, "judged": judged}


def markdown(result):
    rows = []
    for r in result["rows"]:
        where = "—" if "inside" not in r else ("inside" if r["inside"] else
                                                ("**above**" if r["size"] > r["upper"] else "**below**"))
        rows.append([r["clip"].name, r["plan"], report.megabytes(r["size"]) if r["size"] else f"failed: {r['failure']}",
                     report.ratio(r["ssim"], 4), r["height"] or "—", report.seconds(r["wall"], 1),
                     report.seconds(r["cpu"], 1), f"{report.megabytes(r['lower'])}–{report.megabytes(r['upper'])}",
                     where])
    s = summary(result)
    totals = []
    for plan in PLANS:
        mine = [r for r in result["rows"] if r["plan"] == plan and r["size"]]
        totals.append([plan, report.megabytes(sum(r["size"] for r in mine)),
                       report.ratio(measure.median([r["ssim"] for r in mine]), 4),
                       report.seconds(sum(r["wall"] for r in mine), 0), report.seconds(sum(r["cpu"] for r in mine), 0),
                       f"{sum(1 for r in mine if r.get('inside'))} of {sum(1 for r in mine if 'inside' in r)}"])
    text = ("`slimreel-cli compress --plan P` on every clip of the corpus, with the software encoders of this machine "
            "(no GPU: SVT-AV1 for the smallest plan); SSIM of the output at its own size against the source scaled "
            "the same way; the range is `slimreel-cli estimate --json --plan P` (the five-second sample). Where the size "
            "prediction above encoded or estimated a clip with a plan in this run, its output and range are the "
            "ones measured here.\n\n")
    text += report.table(["Plan", "Total size", "Median SSIM", "Encode wall, all clips", "Encode CPU, all clips",
                          "Real size inside the range"], totals)
    text += "\n" + report.table(["Clip", "Plan", "Size", "SSIM", "Output height", "Encode wall", "Encode CPU",
                                 "Estimate", "Real size is"], rows)
    text += (f"\nThe smallest plan is smaller than each of the three others on {s['smaller']} of {s['clips']} clips, "
             f"at an SSIM at most {SSIM_SLACK} below the recommended plan's on {s['close']} of {s['clips']}; its real "
             f"size lies inside its estimate's range on {s['inside']} of {s['judged']}.\n")
    return text


def verdicts(result):
    s = summary(result)
    return [
        ("Smallest plan, smaller than every other plan", f"{s['smaller']} of {s['clips']} clips", "every clip",
         s["clips"] > 0 and s["smaller"] == s["clips"]),
        ("Smallest plan, SSIM against the recommended plan's", f"within {SSIM_SLACK} on {s['close']} of {s['clips']}",
         "every clip", s["clips"] > 0 and s["close"] == s["clips"]),
        ("Smallest plan, real size inside the estimate", f"{s['inside']} of {s['judged']} clips", "every clip",
         s["judged"] > 0 and s["inside"] == s["judged"]),
    ]
