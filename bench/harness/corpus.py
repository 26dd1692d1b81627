"""The videos the benchmarks run on.

Most clips are made by ffmpeg from its built-in sources, so a fresh clone makes
the same corpus. Camera-like clips are encoded the way phones record (H.264 at
a steady bit rate, AAC audio); the screen recording like a screen recorder's
default (a lower steady rate, no audio). Real footage for the size estimate
comes from Debian packages: photographs of mate-backgrounds animated with pans,
zooms, sensor noise and hard cuts, and the small real clips of gem-doc.
"""
import json
import os
import random

from . import measure

FPS = 30
PHOTOS = "/usr/share/backgrounds/mate/nature"
GEM_CLIPS = "/usr/share/gem/examples/data"
PHOTO_FPS = 25
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
        if self.graph is None:
            return self.kind
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


def _photo_scene(photo, width, height, seconds, motion, grain):
    """One photograph filmed for `seconds`: still, panned or zoomed, with sensor grain."""
    frames = seconds * PHOTO_FPS
    # Twice the frame's size, so that a pan or a zoom never runs out of picture.
    fit = f"scale={2 * width}:{2 * height}:force_original_aspect_ratio=increase,crop={2 * width}:{2 * height}"
    moves = {
        "still": "z=1:x=0:y=0",
        "pan": f"z=2:x='(iw-iw/zoom)*on/{frames}':y='(ih-ih/zoom)/2'",
        "fast pan": f"z=1.6:x='(iw-iw/zoom)*(0.5+0.5*sin(on/9))':y='(ih-ih/zoom)*(0.5+0.5*cos(on/13))'",
        "zoom": f"z='1+on/{frames}':x='iw/2-iw/zoom/2':y='ih/2-ih/zoom/2'",
    }
    chain = f"{fit},zoompan={moves[motion]}:d={frames}:s={width}x{height}:fps={PHOTO_FPS}"
    if grain:
        chain += f",noise=alls={grain}:allf=t"
    return chain + ",format=yuv420p,setsar=1"


class PhotoClip(Clip):
    """Photographs in hard cuts; `scenes` are (photo, seconds, motion, grain)."""
    def __init__(self, name, kind, width, height, scenes, encoding, rate):
        seconds = sum(s[1] for s in scenes)
        super().__init__(name, kind, width, height, seconds, True, "", rate)
        self.scenes = scenes
        self.encoding = encoding

    def describe(self):
        return f"{self.kind}, {self.resolution}, {self.seconds:g} s, AAC audio"

    def command(self, path):
        args = ["ffmpeg", "-hide_banner", "-loglevel", "error", "-nostdin", "-y"]
        for photo, *_ in self.scenes:
            args += ["-i", os.path.join(PHOTOS, photo)]
        chains = [f"[{i}:v]" + _photo_scene(photo, self.width, self.height, seconds, motion, grain) + f"[s{i}]"
                  for i, (photo, seconds, motion, grain) in enumerate(self.scenes)]
        labels = "".join(f"[s{i}]" for i in range(len(self.scenes)))
        graph = ";".join(chains) + f";{labels}concat=n={len(self.scenes)}:v=1:a=0[v]"
        args += _music() + ["-filter_complex", graph, "-map", "[v]", "-map", f"{len(self.scenes)}:a",
                            "-t", f"{self.seconds}", "-c:a", "aac", "-b:a", "160k", "-c:v", "libx264"]
        return args + self.encoding + ["-pix_fmt", "yuv420p", "-movflags", "+faststart", path]


class FileClip(Clip):
    """A real clip of an installed package, used as it is."""
    def __init__(self, name, kind, source):
        super().__init__(name, kind, 0, 0, 0, False, None, 0)
        self.source = source


def footage():
    """Real pictures: the photographs' clips and gem-doc's own clips."""
    phone = ["-preset", "veryfast", "-b:v", "6000000", "-maxrate", "9000000", "-bufsize", "12000000",
             "-g", str(2 * PHOTO_FPS)]
    # A camera's variable rate: the bytes follow what is filmed.
    camcorder = ["-preset", "veryfast", "-crf", "19", "-maxrate", "5000000", "-bufsize", "10000000",
                 "-g", str(2 * PHOTO_FPS)]
    long_scenes = [
        ("Aqua.jpg", 30, "still", 0), ("Dune.jpg", 30, "pan", 3), ("RainDrops.jpg", 30, "zoom", 10),
        ("Storm.jpg", 30, "still", 22), ("Wood.jpg", 30, "fast pan", 6), ("LadyBird.jpg", 30, "still", 2),
        ("TwoWings.jpg", 30, "zoom", 4), ("GreenMeadow.jpg", 30, "fast pan", 16), ("Garden.jpg", 30, "pan", 0),
        ("YellowFlower.jpg", 30, "zoom", 28),
    ]
    return [
        PhotoClip("photos-720p", "photographs: zoom, pan, still, noisy zoom, hard cuts", 1280, 720,
                  [("RainDrops.jpg", 6, "zoom", 3), ("Dune.jpg", 6, "pan", 5), ("Storm.jpg", 6, "still", 2),
                   ("GreenMeadow.jpg", 6, "fast pan", 12)], phone, 6_000_000),
        PhotoClip("photos-long-360p", "photographs: ten scenes from a still picture to heavy grain", 640, 360,
                  long_scenes, camcorder, 0),
        FileClip("gem-anim-256", "gem-doc's anim-1.mov (Motion JPEG 256×256, 3 s, no audio)", "anim-1.mov"),
        FileClip("gem-homer-160", "gem-doc's homer.avi (Indeo 3 160×120, 3.4 s, no audio)", "homer.avi"),
    ]


def make_footage(directory, log):
    """Makes (or reuses) the real-footage clips; the packages must be installed."""
    for folder, package in ((PHOTOS, "mate-backgrounds"), (GEM_CLIPS, "gem-doc")):
        if not os.path.isdir(folder):
            raise SystemExit(f"bench: {folder} is missing; apt-get install {package}")
    os.makedirs(directory, exist_ok=True)
    made = []
    for clip in footage():
        if isinstance(clip, FileClip):
            source = os.path.join(GEM_CLIPS, clip.source)
            clip.path = os.path.join(directory, clip.name + os.path.splitext(source)[1])
            _reuse_or_run(["cp", source, clip.path], clip.path, log)
        else:
            clip.path = os.path.join(directory, clip.name + ".mp4")
            _reuse_or_run(clip.command(clip.path), clip.path, log)
        made.append(clip)
    return made


def _music():
    """Music-like sound: a chord over pink noise, so that AAC has real work."""
    return ["-f", "lavfi", "-i",
            "sine=frequency=220:sample_rate=48000,volume=0.3[a0];"
            "sine=frequency=277:sample_rate=48000,volume=0.2[a1];"
            "anoisesrc=color=pink:amplitude=0.08:sample_rate=48000[a2];"
            "[a0][a1][a2]amix=inputs=3,aformat=channel_layouts=stereo"]


def source_command(clip, path):
    # A graph of several chains ends in its own format step.
    picture = clip.graph if ";" in clip.graph else clip.graph + ",format=yuv420p,setsar=1"
    args = ["ffmpeg", "-hide_banner", "-loglevel", "error", "-nostdin", "-y", "-f", "lavfi", "-i", picture]
    if clip.audio:
        args += _music()
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
