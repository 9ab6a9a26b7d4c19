#!/usr/bin/env python3
"""The live fit (auto-fit), measured on broadcast-like sequences made with ffmpeg.

usage: live_fit.py NATIVE_BUILD_DIR [WIN32_BUILD_DIR]

Each sequence is a run of parts (an advert, a letterboxed film, a night scene, subtitles in
a bar, a channel switch, ...) with a known picture rectangle per frame, piped as raw frames
through kvx-host --auto-fit on --fit-log, whose JSON lines give the part of the frame the
plug-in shows from each change on. Counted per frame against the truth (the picture, and a
bar from the moment text or a logo shows in it, for as long as the picture keeps its
format), with a line of slack on every side:
  cut   frames that lose picture (or a bar's text) more than 0.5 s (12 frames) after the
        truth last changed: must be 0;
  bars  frames that show a bar more than 2.5 s (62 frames) after the truth last changed:
        must be 0;
  changes of the fit: at most one per change of the truth (the first frame counts as one
        when it is not the whole frame), none in a sequence without one;
  early zooms: a zoom in for bars (not a channel's own fit) less than 48 frames (about 2 s)
        after the truth last changed: must be 0;
  zoomed frames of a full-frame programme: must be 0.
It also checks that kvx-host's OUT holds what a viewer sees (each frame equal to the frame
run with the logged settings as the profile's own), and with WIN32_BUILD_DIR that the DLL
under Wine logs the same changes as the .so.
"""
import json, os, shutil, subprocess, sys, tempfile

import border_detection as bd  # the picture sources and overlays of the border-detection clips

RATE = 25
SD = (720, 576)
CUT_GRACE, BAR_GRACE, HOLD = 12, 62, 48  # frames: 0.5 s, 2.5 s, about 2 s
LB = (0, 72, 0, 72)  # 16:9 letterboxed in 4:3


class Part:
    """`seconds` of picture `kind` inside `borders` (l, t, r, b; None: the whole frame), on
    channel `channel`; `text` = (side, second): text or a logo shows in that bar from that
    second of the part on; `overlays` and `fade` are ffmpeg filters over the frame."""

    def __init__(self, seconds, kind="testsrc2", borders=None, channel=1, text=None, overlays=""):
        self.seconds, self.kind, self.borders, self.channel = seconds, kind, borders, channel
        self.text, self.overlays = text, overlays

    def frames(self):
        return int(self.seconds * RATE)

    def picture(self, size):
        w, h = size
        l, t, r, b = self.borders or (0, 0, 0, 0)
        return (l, t, w - r, h - b)


class Sequence:
    def __init__(self, name, parts, size=SD, fmt="yuyv", options=(), full_frame=False, mpeg2=False):
        self.name, self.parts, self.size, self.fmt = name, parts, size, fmt
        self.options, self.full_frame, self.mpeg2 = list(options), full_frame, mpeg2

    def frames(self):
        return sum(p.frames() for p in self.parts)

    def graph(self):
        chains = []
        for i, p in enumerate(self.parts):
            clip = bd.Clip("live", self.name, p.kind, p.borders, size=self.size, overlays=p.overlays)
            g = clip.graph().replace("[bars]", "[bars%d]" % i).replace("[pic]", "[pic%d]" % i)
            chains.append("%s,trim=end_frame=%d,setpts=PTS-STARTPTS[p%d]" % (g, p.frames(), i))
        joined = "".join("[p%d]" % i for i in range(len(self.parts)))
        pix = "yuyv422" if self.fmt == "yuyv" else "bgr24"
        return ";".join(chains) + ";%sconcat=n=%d:v=1,format=%s" % (joined, len(self.parts), pix)

    def channel_options(self):
        options, frame, shown = [], 0, None
        for p in self.parts:
            if p.channel != shown:
                options += ["--channel", "%d@%d" % (p.channel, frame)]
                shown = p.channel
            frame += p.frames()
        return options

    def truth(self):
        """Per frame, the part of the frame a viewer must see: the picture, and from the first
        frame with text in a bar that bar too, while the picture keeps its format."""
        w, h = self.size
        rects, kept, last = [], set(), None
        for p in self.parts:
            picture = p.picture(self.size)
            if (picture, p.channel) != last:
                kept = set()
            last = (picture, p.channel)
            for f in range(p.frames()):
                if p.text and f >= p.text[1] * RATE:
                    kept.add(p.text[0])
                l, t, r, b = picture
                rects.append((0 if "left" in kept else l, 0 if "top" in kept else t,
                              w if "right" in kept else r, h if "bottom" in kept else b))
        return rects


SUBTITLES = ",".join(bd.sub(a, b, 520) for a, b in ((5, 7), (8, 10), (12, 14)))
NIGHT_AND_FADES = [Part(4, "testsrc2", LB), Part(4, "night", LB),
                   Part(2, "testsrc2", LB, overlays="fade=out:st=1:d=1"), Part(1, "black", LB),
                   Part(4, "mandelbrot", LB, overlays="fade=in:st=0:d=1")]
SEQUENCES = [
    Sequence("advert, letterboxed film, advert", [Part(5.8), Part(10, "testsrc2", LB), Part(6, "mandelbrot")]),
    Sequence("the same through MPEG-2 at 4 Mbit/s", [Part(5.8), Part(10, "testsrc2", LB), Part(6, "mandelbrot")],
             mpeg2=True),
    Sequence("letterboxed film with night scenes and fades", NIGHT_AND_FADES),
    Sequence("subtitles appearing in the lower bar", [Part(15, "testsrc2", LB, text=("bottom", 5), overlays=SUBTITLES)]),
    Sequence("a logo and a clock in the top bar",
             [Part(8, "mandelbrot", LB, text=("top", 0), overlays=bd.LOGO + "," + bd.CLOCK)]),
    Sequence("pillarbox (4:3 in anamorphic 16:9)", [Part(6, "testsrc2", (90, 0, 90, 0))]),
    Sequence("windowbox, KeepAspect off", [Part(6, "mandelbrot", (90, 72, 90, 72))], options=["--keep-aspect", "off"]),
    Sequence("channel switch: letterboxed and full-frame channels",
             [Part(5, "testsrc2", LB, channel=1), Part(3, "mandelbrot", None, channel=2),
              Part(3, "testsrc2", LB, channel=1), Part(3, "mandelbrot", None, channel=2)]),
    Sequence("full-frame programme: night, dark edges, fades",
             [Part(3), Part(3, "night"), Part(3, "mandelbrot"), Part(3, "testsrc2", overlays="fade=out:st=2:d=1"),
              Part(2, "dark")], full_frame=True),
    Sequence("pillarbox in 1080p, BGR24", [Part(5, "mandelbrot", (240, 0, 240, 0))], size=(1920, 1080), fmt="bgr24"),
]


def run_through(host, seq, log, cwd=None):
    """Pipes the sequence's frames through kvx-host with the live fit on (through an MPEG-2
    encode at a broadcast bitrate first, for an `mpeg2` sequence); returns the changes as
    (frame, shown rectangle or None for the whole frame, settings, reason)."""
    w, h = seq.size
    ff = subprocess.Popen(["ffmpeg", "-v", "error", "-filter_complex", seq.graph(), "-f", "rawvideo", "-"],
                          stdout=subprocess.PIPE)
    if seq.mpeg2:
        encode = ["ffmpeg", "-v", "error", "-f", "rawvideo", "-pix_fmt", "yuyv422", "-s", "%dx%d" % (w, h), "-r",
                  str(RATE), "-i", "-", "-c:v", "mpeg2video", "-b:v", "4M", "-maxrate", "4M", "-bufsize", "2M",
                  "-g", "12", "-bf", "2", "-f", "mpegts", "-"]
        decode = ["ffmpeg", "-v", "error", "-i", "-", "-f", "rawvideo", "-pix_fmt", "yuyv422", "-"]
        coded = subprocess.Popen(encode, stdin=ff.stdout, stdout=subprocess.PIPE)
        ff.stdout.close()
        ff = subprocess.Popen(decode, stdin=coded.stdout, stdout=subprocess.PIPE)
        coded.stdout.close()
    args = host + ["--size", "%dx%d" % (w, h), "--format", "yuyv" if seq.fmt == "yuyv" else "bgr24",
                   "--input", "-", "--output", "none", "--auto-fit", "on", "--fit-log", log, "--quiet",
                   "--stats"] + seq.channel_options() + seq.options
    p = subprocess.run(args, stdin=ff.stdout, capture_output=True, timeout=240, cwd=cwd)
    ff.stdout.close()
    ff.wait()
    if p.returncode != 0 or ("%d frames" % seq.frames()).encode() not in p.stderr:
        raise RuntimeError("%s: kvx-host failed (%d): %s" % (seq.name, p.returncode, p.stderr.decode(errors="replace")))
    changes = []
    with open(os.path.join(cwd or "", log)) as f:
        for line in f:
            c = json.loads(line)
            s = c["shown"]
            rect = (s["left"], s["top"], s["right"], s["bottom"]) if c["fit"] else None
            changes.append((c["frame"], rect, c["settings"], c["reason"]))
    return changes


def judge(seq, changes):
    w, h = seq.size
    whole = (0, 0, w, h)
    truth = seq.truth()
    shown = [whole] * len(truth)
    for frame, rect, _, _ in changes:
        for f in range(frame, len(truth)):
            shown[f] = rect or whole
    changed = [f for f in range(len(truth)) if truth[f] != (truth[f - 1] if f else whole)]
    cut = bars = zoomed = 0
    delays = {"in": [], "out": []}
    early = sum(1 for frame, _, _, reason in changes
                if reason == "bars held" and frame - max([c for c in changed if c <= frame] or [0]) < HOLD)
    since, waiting = 0, None
    for f, (t, s) in enumerate(zip(truth, shown)):
        before = truth[f - 1] if f else whole
        if t != before:  # zoom out when the picture grew on a side, else in
            since = f
            grew = t[0] < before[0] or t[1] < before[1] or t[2] > before[2] or t[3] > before[3]
            waiting = "out" if grew else "in"
        loses = s[0] > t[0] + 1 or s[1] > t[1] + 1 or s[2] < t[2] - 1 or s[3] < t[3] - 1
        shows_bar = s[0] < t[0] - 1 or s[1] < t[1] - 1 or s[2] > t[2] + 1 or s[3] > t[3] + 1
        cut += loses and f - since >= CUT_GRACE
        bars += shows_bar and f - since > BAR_GRACE
        zoomed += seq.full_frame and s != whole
        if waiting and not loses and not shows_bar:
            delays[waiting].append(f - since)
            waiting = None
    return {"frames": len(truth), "format changes": len(changed), "fit changes": len(changes), "cut": cut,
            "bars": bars, "zoomed": zoomed, "early": early, "in": max(delays["in"], default=None),
            "out": max(delays["out"], default=None)}


def check_output(host, work):
    """IN OUT with a video IN: each frame of OUT equals the same frame run through the plug-in
    with the settings the log gives as the profile's own."""
    seq = Sequence("file mode", [Part(3, "testsrc2", LB)])
    w, h = seq.size
    clip = os.path.join(work, "film.mkv")
    subprocess.run(["ffmpeg", "-v", "error", "-y", "-filter_complex", seq.graph().replace("format=yuyv422", "format=yuv444p"),
                    "-c:v", "ffv1", clip], check=True)
    out, log = os.path.join(work, "out.yuv"), os.path.join(work, "file.jsonl")
    subprocess.run(host + ["--auto-fit", "on", "--fit-log", log, "--quiet", clip, out], check=True, timeout=120,
                   capture_output=True)
    changes = [json.loads(line) for line in open(log)]
    if len(changes) != 1 or not changes[0]["fit"]:
        return ["file mode: one zoom in expected, the log has %s" % changes]
    first, settings = changes[0]["frame"], changes[0]["settings"]
    options = ["--scale-x", str(settings["ScaleX"]), "--scale-y", str(settings["ScaleY"]),
               "--offset-x", str(settings["OffsetX"]), "--offset-y", str(settings["OffsetY"])]
    ref = os.path.join(work, "ref.yuv")
    subprocess.run(host + options + ["--quiet", clip, ref], check=True, timeout=120, capture_output=True)
    size = w * h * 2
    got, want = open(out, "rb").read(), open(ref, "rb").read()
    frames = len(want) // size
    same = len(got) == len(want) and got[first * size:] == want[first * size:]
    print(("ok  " if same else "FAIL") + " file mode: OUT's frames %d to %d equal the frames run with the logged "
          "settings (%s)" % (first, frames - 1, " ".join(options)))
    return [] if same else ["file mode: OUT differs from the frames run with the logged settings"]


def check_dll(win32, seq, native_changes, work):
    """The DLL under Wine logs the same changes as the .so."""
    host = ["wine", os.path.join(win32, "kvx-host.exe"), "--plugin", os.path.join(win32, "KVX_Scaler.dll")]
    changes = run_through(host, seq, "dll.jsonl", cwd=work)
    same = changes == native_changes
    print(("ok  " if same else "FAIL") + " the DLL under Wine makes the same %d changes as the .so on \"%s\"" %
          (len(changes), seq.name))
    return [] if same else ["DLL: %s against %s" % (changes, native_changes)]


def seconds(frames):
    return "-" if frames is None else "%.2f s" % (frames / RATE)


def main():
    build = os.path.abspath(sys.argv[1])
    win32 = os.path.abspath(sys.argv[2]) if len(sys.argv) > 2 else None
    host = [os.path.join(build, "kvx-host"), "--plugin", os.path.join(build, "KVX_Scaler.so")]
    work = tempfile.mkdtemp(prefix="kvx-live-fit-")
    failures, rows, logged = [], [], {}
    try:
        for i, seq in enumerate(SEQUENCES):
            changes = run_through(host, seq, os.path.join(work, "%d.jsonl" % i))
            logged[seq.name] = changes
            r = judge(seq, changes)
            rows.append((seq, r))
            bad = r["cut"] or r["bars"] or r["zoomed"] or r["early"] or r["fit changes"] > r["format changes"]
            if bad:
                failures.append("%s: %s; changes %s" % (seq.name, r, [(c[0], c[1], c[3]) for c in changes]))
        failures += check_output(host, work)
        if win32:
            failures += check_dll(win32, SEQUENCES[7], logged[SEQUENCES[7].name], work)
    finally:
        shutil.rmtree(work, ignore_errors=True)

    print("\n| sequence | frames | format changes | fit changes | cut frames | bar frames | zoomed frames "
          "| zoom in after | zoom out after |")
    print("|---|---|---|---|---|---|---|---|---|")
    for seq, r in rows:
        print("| %s | %d | %d | %d | %d | %d | %s | %s | %s |" % (
            seq.name, r["frames"], r["format changes"], r["fit changes"], r["cut"], r["bars"],
            r["zoomed"] if seq.full_frame else "-", seconds(r["in"]), seconds(r["out"])))
    if failures:
        print("FAILED: " + "\n".join(failures))
        return 1
    print("\nevery target met in %d sequences" % len(SEQUENCES))
    return 0


if __name__ == "__main__":
    sys.exit(main())
