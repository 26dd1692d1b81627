"""The generated videos the benchmarks run on.

Every clip is made by ffmpeg from its built-in sources, so a fresh clone makes
the same corpus. Camera-like clips are encoded the way phones record (H.264 at
a steady bit rate, AAC audio); the screen recording like a screen recorder's
default (a lower steady rate, no audio).
"""
import json
import os
import random

from . import measure

FPS = 30
FONT_CANDIDATES = [
    "/usr/share/fonts/truetype/noto/NotoSansMono-Regular.ttf",
    "/usr/share/fonts/truetype/dejavu/DejaVuSansMono.ttf",
]


class Clip:
    def __init__(self, name, kind, width, height, seconds, audio, graph, rate):
        self.name = name
        self.kind = kind          # what the picture shows, for the tables
        self.width = width
        self.height = height
        self.seconds = seconds
        self.audio = audio
        self.graph = graph        # lavfi filter graph of the picture
        self.rate = rate          # source video bit rate, bits per second
        self.path = None

    @property
    def resolution(self):
        return f"{self.width}×{self.height}"

    def describe(self):
        sound = "AAC audio" if self.audio else "no audio"
        return f"{self.kind}, {self.resolution}, {self.seconds:g} s, {sound}"


def _still(width, height, scale=0.3):
    """One rendered fractal frame, repeated: a picture with fine detail and flat areas."""
    return (f"mandelbrot=size={width}x{height}:rate={FPS}:start_scale={scale}:end_scale={scale},"
            f"trim=end_frame=1,loop=loop=-1:size=1,setpts=N/{FPS}/TB")


def _pan(width, height, seconds, grain):
    """A camera moving slowly across a picture twice the frame's size, with sensor grain."""
    return (_still(2 * width, 2 * height) +
            f",crop={width}:{height}:x='(iw-ow)*t/{seconds}':y='(ih-oh)*0.5*(1-cos(PI*t/{seconds}))'"
            f",noise=alls={grain}:allf=t")


def _motion(width, height):
    """The whole frame turning and changing colour: every block moves every frame."""
    return (f"testsrc2=size={width}x{height}:rate={FPS},rotate=a='1.3*t':fillcolor=0x303030,"
            f"hue=h='40*t'")


def _noise(width, height):
    """Heavy random noise over slow gradients: nothing predictable between frames."""
    return f"gradients=size={width}x{height}:rate={FPS}:speed=0.02,noise=alls=30:allf=t+u"


def _grain(width, height, seconds):
    """A slow zoom into a picture with film grain, which encoders cannot predict."""
    return (f"mandelbrot=size={width}x{height}:rate={FPS}:start_scale=0.35:end_scale=0.2,"
            f"noise=alls=12:allf=t")


def _screen(width, height, textfile, font):
    """A code editor: text scrolling a few lines at a time, a title bar, a wandering cursor."""
    return (f"color=c=0xf4f4f4:size={width}x{height}:rate={FPS},"
            f"drawtext=fontfile={font}:textfile={textfile}:fontsize=26:fontcolor=0x202020:line_spacing=5:"
            f"x=80:y='h*0.1-floor(t*1.5)*93',"
            f"drawbox=x=0:y=0:w=iw:h=64:color=0x2d2d30:t=fill,"
            f"drawbox=x='400+300*sin(t)':y='500+120*cos(0.7*t)':w=14:h=22:color=black:t=fill")


def _mixed(width, height, part):
    """Four scenes of `part` seconds: still, pan, motion, grain."""
    scenes = [
        _still(width, height) + f",trim=duration={part}",
        _pan(width, height, part, 4) + f",trim=duration={part}",
        _motion(width, height) + f",trim=duration={part}",
        _grain(width, height, part) + f",trim=duration={part}",
    ]
    chains = [f"{s},format=yuv420p,setsar=1[s{i}]" for i, s in enumerate(scenes)]
    labels = "".join(f"[s{i}]" for i in range(len(scenes)))
    return ";".join(chains) + f";{labels}concat=n={len(scenes)}:v=1:a=0"


def clips(quick, textfile, font):
    if quick:
        return [
            Clip("pan-720p", "slow pan", 1280, 720, 10, True, _pan(1280, 720, 10, 4), 8_000_000),
            Clip("grain-1080p", "film grain", 1920, 1080, 10, True, _grain(1920, 1080, 10), 16_000_000),
            Clip("portrait-1080x1920", "portrait phone clip, slow pan", 1080, 1920, 10, True,
                 _pan(1080, 1920, 10, 4), 16_000_000),
        ]
    return [
        Clip("static-720p", "static picture", 1280, 720, 10, True, _still(1280, 720), 8_000_000),
        Clip("pan-720p", "slow pan", 1280, 720, 10, True, _pan(1280, 720, 10, 4), 8_000_000),
        Clip("motion-720p", "high motion", 1280, 720, 10, False, _motion(1280, 720), 8_000_000),
        Clip("noise-720p", "noise", 1280, 720, 10, True, _noise(1280, 720), 8_000_000),
        Clip("mixed-720p", "four scenes: still, pan, motion, grain", 1280, 720, 60, True,
             _mixed(1280, 720, 15), 8_000_000),
        Clip("grain-1080p", "film grain", 1920, 1080, 10, True, _grain(1920, 1080, 10), 16_000_000),
        Clip("screen-1080p", "screen recording (scrolling text)", 1920, 1080, 15, False,
             _screen(1920, 1080, textfile, font), 4_000_000),
        Clip("portrait-1080x1920", "portrait phone clip, slow pan", 1080, 1920, 10, True,
             _pan(1080, 1920, 10, 4), 16_000_000),
    ]


def source_command(clip, path):
    # A graph of several chains ends in its own format step.
    picture = clip.graph if ";" in clip.graph else clip.graph + ",format=yuv420p,setsar=1"
    args = ["ffmpeg", "-hide_banner", "-loglevel", "error", "-nostdin", "-y", "-f", "lavfi", "-i", picture]
    if clip.audio:
        # Music-like sound: a chord over pink noise, so that AAC has real work.
        args += ["-f", "lavfi", "-i",
                 f"sine=frequency=220:sample_rate=48000,volume=0.3[a0];"
                 f"sine=frequency=277:sample_rate=48000,volume=0.2[a1];"
                 f"anoisesrc=color=pink:amplitude=0.08:sample_rate=48000[a2];"
                 f"[a0][a1][a2]amix=inputs=3,aformat=channel_layouts=stereo"]
    args += ["-t", f"{clip.seconds}", "-map", "0:v"]
    if clip.audio:
        args += ["-map", "1:a", "-c:a", "aac", "-b:a", "160k"]
    args += ["-c:v", "libx264", "-preset", "veryfast", "-b:v", str(clip.rate),
             "-maxrate", str(clip.rate * 3 // 2), "-bufsize", str(clip.rate * 2), "-g", str(2 * FPS),
             "-pix_fmt", "yuv420p", "-movflags", "+faststart", path]
    return args


def code_text(path):
    """Lines that look like source code, the same on every run."""
    rng = random.Random(7)
    words = ("def class return if else for while import from yield async await self None True False "
             "print len range open read write").split()
    lines = []
    for number in range(1, 401):
        indent = "    " * rng.randint(0, 3)
        lines.append(f"{number:4d}  {indent}" + " ".join(rng.choice(words) for _ in range(rng.randint(2, 9))))
    with open(path, "w") as out:
        out.write("\n".join(lines) + "\n")


def font():
    for candidate in FONT_CANDIDATES:
        if os.path.exists(candidate):
            return candidate
    raise SystemExit("bench: no monospace font found (fonts-noto-core or fonts-dejavu-core)")


def make(directory, quick, log):
    """Makes (or reuses) the corpus in `directory`; returns the clips with their paths."""
    os.makedirs(directory, exist_ok=True)
    textfile = os.path.join(directory, "code.txt")
    code_text(textfile)
    made = []
    for clip in clips(quick, textfile, font()):
        clip.path = os.path.join(directory, clip.name + ".mp4")
        command = source_command(clip, clip.path)
        _reuse_or_run(command, clip.path, log)
        made.append(clip)
    return made


def short_files(directory, count, log):
    """`count` short files for the import figure: four kinds of 2-second clip, copied."""
    os.makedirs(directory, exist_ok=True)
    kinds = [
        ("h264-aac.mp4", ["-f", "lavfi", "-i", f"testsrc2=size=1280x720:rate={FPS}:duration=2",
                          "-f", "lavfi", "-i", "sine=frequency=440:duration=2",
                          "-c:v", "libx264", "-preset", "ultrafast", "-c:a", "aac", "-shortest"]),
        ("h264-silent.mp4", ["-f", "lavfi", "-i", f"testsrc2=size=1920x1080:rate={FPS}:duration=2",
                             "-c:v", "libx264", "-preset", "ultrafast"]),
        ("hevc-aac.mov", ["-f", "lavfi", "-i", f"testsrc2=size=1280x720:rate={FPS}:duration=2",
                          "-f", "lavfi", "-i", "sine=frequency=330:duration=2",
                          "-c:v", "libx265", "-preset", "ultrafast", "-x265-params", "log-level=error",
                          "-tag:v", "hvc1", "-c:a", "aac", "-shortest"]),
        ("vp9-opus.webm", ["-f", "lavfi", "-i", f"testsrc2=size=640x360:rate={FPS}:duration=2",
                           "-f", "lavfi", "-i", "sine=frequency=550:duration=2",
                           "-c:v", "libvpx-vp9", "-deadline", "realtime", "-cpu-used", "8",
                           "-c:a", "libopus", "-shortest"]),
    ]
    templates = []
    for name, args in kinds:
        path = os.path.join(directory, "template-" + name)
        _reuse_or_run(["ffmpeg", "-hide_banner", "-loglevel", "error", "-nostdin", "-y"] + args + [path], path, log)
        templates.append(path)
    files = []
    for index in range(count):
        template = templates[index % len(templates)]
        extension = os.path.splitext(template)[1]
        path = os.path.join(directory, f"clip-{index + 1:03d}{extension}")
        if not os.path.exists(path) or os.path.getsize(path) != os.path.getsize(template):
            with open(template, "rb") as source, open(path, "wb") as copy:
                copy.write(source.read())
        files.append(path)
    return files


def _reuse_or_run(command, path, log):
    """Runs `command` unless `path` was already made by exactly this command."""
    stamp = path + ".command.json"
    log.command("corpus", command)
    if os.path.exists(path) and os.path.exists(stamp):
        with open(stamp) as f:
            if json.load(f) == command:
                return
    measure.run_checked(command)
    with open(stamp, "w") as f:
        json.dump(command, f)
