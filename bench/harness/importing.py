"""Import speed: many short files through the controller (in-process
inspection) against running ffprobe on each in turn."""
import json
import time

from . import corpus, measure, report

SECTION = "Import speed"
# What the probe service runs for each file when it falls back to ffprobe.
FFPROBE = ["ffprobe", "-v", "error", "-show_streams", "-show_format", "-of", "json"]


def run(ctx, count):
    files = corpus.short_files(ctx.work + "/import", count, ctx.log)
    controller_cmd = [ctx.bench, "import"] + files
    service_cmd = [ctx.cli, "probe", "--json", "--backend", "ffprobe"] + files
    ctx.log.command(SECTION, [ctx.bench, "import", "FILE..."], f"the {count} files through the controller")
    ctx.log.command(SECTION, FFPROBE + ["FILE"], f"bare: for each of the {count} files in turn")
    ctx.log.command(SECTION, [ctx.cli, "probe", "--json", "--backend", "ffprobe", "FILE..."],
                    "the program's ffprobe path, for comparison")

    controller, bare, service = [], [], []
    kinds = ["controller", "bare", "service"]
    for repetition in range(ctx.import_reps):
        for kind in kinds[repetition % 3:] + kinds[:repetition % 3]:
            if kind == "controller":
                process = measure.run(controller_cmd)
                line = json.loads(process.stdout.splitlines()[-1])
                if line["imported"] != count:
                    raise measure.Failed(f"only {line['imported']} of {count} files imported")
                controller.append((line, process))
            elif kind == "bare":
                load = measure.load_average()[0]
                start = time.monotonic()
                runs = [measure.run(FFPROBE + [path]) for path in files]
                bare.append({"wall": time.monotonic() - start, "cpu": sum(r.cpu for r in runs), "load": load})
            else:
                service.append(measure.run(service_cmd))

    result = {
        "count": count,
        "kinds": "four kinds of 2-second clip (H.264/AAC 720p MP4, H.264 1080p MP4 without audio, "
                 "HEVC/AAC 720p MOV, VP9/Opus 360p WebM), copied to " + str(count) + " files",
        "runs": len(controller),
        "controller_wall": measure.median([line["wall_s"] for line, _ in controller]),
        "controller_cpu": measure.median([line["cpu_self_s"] + line["cpu_children_s"] for line, _ in controller]),
        "controller_children": measure.median([line["child_commands"] for line, _ in controller]),
        "controller_process_wall": measure.median([p.wall for _, p in controller]),
        "controller_process_cpu": measure.median([p.cpu for _, p in controller]),
        "controller_rss": measure.median([line["rss_kb"] for line, _ in controller]),
        "bare_wall": measure.median([b["wall"] for b in bare]),
        "bare_cpu": measure.median([b["cpu"] for b in bare]),
        "service_wall": measure.median([s.wall for s in service]),
        "service_cpu": measure.median([s.cpu for s in service]),
        "load": (min(b["load"] for b in bare), max(b["load"] for b in bare)),
    }
    result["ratio"] = result["controller_wall"] / result["bare_wall"]
    result["process_ratio"] = result["controller_process_wall"] / result["bare_wall"]
    ctx.progress(f"import: {result['controller_wall']:.2f} s against {result['bare_wall']:.2f} s bare ffprobe")
    return result


def markdown(r):
    n = r["count"]
    rows = [
        ["Controller import (`importVideos`, to idle)", report.seconds(r["controller_wall"]),
         report.seconds(r["controller_cpu"]), f"{1000 * r['controller_wall'] / n:.1f} ms",
         report.ratio(r["ratio"])],
        ["The same, whole process (start, import, exit)", report.seconds(r["controller_process_wall"]),
         report.seconds(r["controller_process_cpu"]), f"{1000 * r['controller_process_wall'] / n:.1f} ms",
         report.ratio(r["process_ratio"])],
        ["`ffprobe` on each file in turn (bare)", report.seconds(r["bare_wall"]), report.seconds(r["bare_cpu"]),
         f"{1000 * r['bare_wall'] / n:.1f} ms", "1.000"],
        ["`slimreel-cli probe --backend ffprobe` (the program's fallback)", report.seconds(r["service_wall"]),
         report.seconds(r["service_cpu"]), f"{1000 * r['service_wall'] / n:.1f} ms",
         report.ratio(r["service_wall"] / r["bare_wall"])],
    ]
    text = (f"{n} files: {r['kinds']}. {r['runs']} rounds, the three ways interleaved; medians. "
            f"The controller started {r['controller_children']:g} child processes for the import "
            f"(inspection runs in process through GStreamer's discoverer); its resident size after the "
            f"import was {report.resident(r['controller_rss'])}. Load {r['load'][0]:.1f}–{r['load'][1]:.1f}.\n\n")
    return text + report.table(["Way", "Wall", "CPU (user + system)", "Per file", "÷ bare ffprobe"], rows)


def verdicts(r):
    return [("Import speed", f"{r['ratio']:.3f} × bare ffprobe ({r['controller_wall']:.2f} s against "
             f"{r['bare_wall']:.2f} s, {r['count']} files)", "≤ 0.5 ×", r["ratio"] <= 0.5)]
