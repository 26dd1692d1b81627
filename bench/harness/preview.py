"""Preview latency: generatePreview() on a 1080p clip, timed in the controller,
against the same five-second encode run directly with ffmpeg."""
import json
import os

from . import measure, report

SECTION = "Preview latency"
# The window's default plan, and the quickest encode, where a fixed cost shows most.
PLANS = ["fastest", "recommended"]


def _direct(words, destination):
    words = list(words)
    words[-1] = destination
    return words


def run(ctx, clip):
    rows = []
    for plan in PLANS:
        command = [ctx.bench, "preview", "--plan", plan, "--repeat", "1", clip.path]
        ctx.log.command(SECTION, command, f"{ctx.reps} times, interleaved with the direct encode below")
        destination = os.path.join(ctx.work, "preview-direct.mp4")
        program, direct, packets, lines = [], [], [], []
        encode = probe = None
        for repetition in range(ctx.reps):
            order = ["program", "direct"] if repetition % 2 == 0 else ["direct", "program"]
            if encode is None:
                order = ["program", "direct"]
            for kind in order:
                if kind == "program":
                    process = measure.run(command)
                    line = json.loads(process.stdout.splitlines()[-1])
                    lines.append(line)
                    program.append(line["wall_s"])
                    if encode is None:
                        encode = _direct(line["commands"][0], destination)
                        probe = _direct(line["commands"][1], destination)
                        ctx.log.command(SECTION, encode, "the sample's encode, as the controller ran it")
                        ctx.log.command(SECTION, probe, "its packet read, timed apart for the breakdown")
                else:
                    direct.append(measure.run(encode).wall)
                    packets.append(measure.run(probe).wall)
        if os.path.exists(destination):
            os.remove(destination)
        differences = [p - d for p, d in zip(program, direct)]
        before = [l["launched_s"][0] for l in lines]
        after = [l["wall_s"] - l["launched_s"][1] for l in lines if len(l["launched_s"]) > 1]
        rows.append({"plan": plan, "runs": len(program), "program": measure.median(program),
                     "program_walls": program, "direct_walls": direct,
                     "before": measure.median(before), "after": measure.median(after),
                     "added": measure.median([b + a for b, a in zip(before, after)]),
                     "direct": measure.median(direct), "difference": measure.median(program) - measure.median(direct),
                     "paired": measure.median(differences), "packets": measure.median(packets),
                     "encoders": lines[0]["encoders"],
                     "program_cpu_self": measure.median([l["cpu_self_s"] for l in lines])})
        ctx.progress(f"preview {plan}: {rows[-1]['program']:.2f} s against {rows[-1]['direct']:.2f} s direct")
    return {"clip": clip, "rows": rows}


def markdown(result):
    clip = result["clip"]
    rows = [[r["plan"], r["runs"], report.seconds(r["program"]), report.seconds(r["direct"]),
             f"{r['difference']:+.2f} s", f"{r['paired']:+.2f} s", report.seconds(r["before"]),
             report.seconds(r["after"]), report.seconds(r["added"]), report.seconds(r["packets"])]
            for r in result["rows"]]
    every = [[r["plan"], ", ".join(f"{w:.2f}" for w in r["program_walls"]),
              ", ".join(f"{w:.2f}" for w in r["direct_walls"])] for r in result["rows"]]
    text = (f"Clip: `{clip.name}` ({clip.describe()}). `slimreel-bench preview` imports the clip, waits for the "
            "encoder choice (the window makes it at start), then times `generatePreview()` until the controller "
            "is idle again: the sample's encode, then the `ffprobe` read of its packets and the estimate. The "
            "direct run is the sample's ffmpeg command line exactly as the controller ran it, interleaved with the "
            "program's runs; medians. Inside the program the launch of each child is timed too: *before the "
            "encode* is from the call to the ffmpeg launch, *after* from the ffprobe launch to idle; their sum is "
            "the time the program adds to the encode, which wall-time differences on a loaded machine cannot "
            f"resolve to a tenth of a second. Encoders: {result['rows'][0]['encoders']}.\n\n")
    text += report.table(["Plan", "Runs", "generatePreview()", "ffmpeg direct", "Difference of medians",
                          "Median paired difference", "Before the encode", "After it (packets, estimate)",
                          "Added by the program", "Packet read alone (ffprobe, direct)"], rows)
    text += "\nEvery run, in order (seconds):\n\n" + report.table(["Plan", "generatePreview()", "ffmpeg direct"],
                                                                    every)
    return text


def verdicts(result):
    worst = max(result["rows"], key=lambda r: r["added"])
    widest = max(result["rows"], key=lambda r: r["difference"])
    return [("Preview latency", f"adds {worst['added']:.2f} s to the encode (worst plan, timed inside); "
             f"wall medians {widest['difference']:+.2f} s apart at most", "≤ + 0.3 s", worst["added"] <= 0.3)]
