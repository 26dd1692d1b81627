"""Pictures for results.md, drawn with matplotlib when it is installed."""
import os

try:
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
except ImportError:  # the tables still hold every number
    plt = None

MARKERS = {"fastest": "o", "recommended": "s", "highQuality": "^", "smallest": "D"}


def available():
    return plt is not None


def prediction(result, path):
    if plt is None:
        return None
    figure, axes = plt.subplots(figsize=(7, 6))
    for plan, marker in MARKERS.items():
        rows = [r for r in result["rows"] if r["plan"] == plan and r["actual"] and r["lower"] is not None]
        if not rows:
            continue
        actual = [r["actual"] / 1e6 for r in rows]
        middle = [(r["lower"] + r["upper"]) / 2e6 for r in rows]
        below = [m - r["lower"] / 1e6 for m, r in zip(middle, rows)]
        above = [r["upper"] / 1e6 - m for m, r in zip(middle, rows)]
        axes.errorbar(actual, middle, yerr=[below, above], fmt=marker, capsize=3, label=plan, alpha=0.85)
    low, high = axes.get_xlim()
    low = min(low, axes.get_ylim()[0])
    high = max(high, axes.get_ylim()[1])
    axes.plot([low, high], [low, high], color="gray", linewidth=0.8, label="estimate = real size")
    axes.set_xscale("log")
    axes.set_yscale("log")
    axes.set_xlabel("real output size (MB)")
    axes.set_ylabel("estimate: range from the 5-second sample (MB)")
    axes.set_title("Size estimate against the real output, quality mode")
    axes.legend()
    axes.grid(True, which="both", linewidth=0.3)
    figure.tight_layout()
    figure.savefig(path, dpi=110)
    plt.close(figure)
    return os.path.basename(path)


def target(result, path):
    if plt is None:
        return None
    rows = [r for r in result["rows"] if r["actual"]]
    if not rows:
        return None
    figure, axes = plt.subplots(figsize=(8, 4.5))
    labels = [f"{r['clip'].name}\n{int(r['share'] * 100)} %" for r in rows]
    values = [r["of_target"] for r in rows]
    colours = ["#c0392b" if v > 1 else ("#e67e22" if v < 0.85 else "#2e86c1") for v in values]
    axes.bar(range(len(rows)), values, color=colours)
    axes.axhline(1.0, color="black", linewidth=0.8)
    axes.axhline(0.85, color="gray", linewidth=0.8, linestyle="--")
    axes.set_xticks(range(len(rows)))
    axes.set_xticklabels(labels, rotation=60, ha="right", fontsize=7)
    axes.set_ylabel("real size ÷ target")
    axes.set_ylim(0, max(1.1, max(values) * 1.05))
    axes.set_title("Target-size mode: output against target (goal between the lines)")
    figure.tight_layout()
    figure.savefig(path, dpi=110)
    plt.close(figure)
    return os.path.basename(path)


def plans(result, path):
    """Size against SSIM of every plan on every clip, a clip's four points joined."""
    if plt is None:
        return None
    rows = [r for r in result["rows"] if r["size"] and r["ssim"] is not None]
    if not rows:
        return None
    figure, axes = plt.subplots(figsize=(8, 6))
    clips = sorted({r["clip"].name for r in rows})
    colours = plt.get_cmap("tab10")
    for index, clip in enumerate(clips):
        mine = sorted((r for r in rows if r["clip"].name == clip), key=lambda r: r["size"])
        axes.plot([r["size"] / 1e6 for r in mine], [r["ssim"] for r in mine], color=colours(index), linewidth=0.6,
                  alpha=0.6)
        for r in mine:
            axes.scatter(r["size"] / 1e6, r["ssim"], marker=MARKERS.get(r["plan"], "x"), color=colours(index), s=40)
        axes.annotate(clip, (mine[0]["size"] / 1e6, mine[0]["ssim"]), fontsize=7, xytext=(4, -8),
                      textcoords="offset points")
    for plan, marker in MARKERS.items():
        axes.scatter([], [], marker=marker, color="gray", label=plan)
    axes.set_xscale("log")
    axes.set_xlabel("output size (MB)")
    axes.set_ylabel("SSIM against the source")
    axes.set_title("The four plans on the bench corpus: size against SSIM")
    axes.legend(loc="lower right")
    axes.grid(True, which="both", linewidth=0.3)
    figure.tight_layout()
    figure.savefig(path, dpi=110)
    plt.close(figure)
    return os.path.basename(path)
