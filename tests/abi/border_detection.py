#!/usr/bin/env python3
"""Border detection, measured on clips built the way channels send them.

usage: border_detection.py NATIVE_BUILD_DIR [KEEP_DIR]

Every clip is made with ffmpeg (letterbox, pillarbox, windowbox, 2.39:1, overlays in the bars,
night and dark scenes, credits, bars above video black with noise, MPEG-2 and H.264 at
broadcast bitrates, 25i, one and two aspect changes, a dark band across the picture, grey
and blue bars, a score box across the picture's edge, short clips, full frames) with a known
picture rectangle, and kvx-host --detect --json is run on the recording itself. An answer is
  right     the settings, applied by the plug-in, leave no black line at the frame's edges on
            frames with picture, and lose at most 1 % of the picture beyond an exact fill
            (or, without a border, "no border");
  not sure  "not sure" or no suggestion (exit 4): nothing is applied, nothing saved;
  wrong     anything else: black lines left, picture cut, or "no border" beside a border.
The test fails on any wrong answer of ours, on a "not sure" whose reasons lack what the clip
says of itself, and when the --black suggested for flat edges does not find them right.
ffmpeg's cropdetect on the same clips is shown beside it (it has no "not sure"). With KEEP_DIR
the clips stay there.
"""
import concurrent.futures, json, os, re, shutil, subprocess, sys, tempfile

RATE = 25
SD, HD = (720, 576), (1920, 1080)
MAX_LOSS = 0.01  # of the picture's width or height beyond an exact fill
FONT = "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf"

EXIT_FOUND, EXIT_NO_BORDER, EXIT_NOT_SURE = 0, 3, 4


def run(cmd, ok=(0,), **kw):
    p = subprocess.run(cmd, capture_output=True, **kw)
    if p.returncode not in ok:
        raise RuntimeError("%s failed (%d): %s" % (cmd[0], p.returncode, p.stderr.decode(errors="replace")[-2000:]))
    return p


def text(s):
    return "drawtext=fontfile=%s:%s" % (FONT, s)


# Picture sources of w x h (yuv420p), n frames.
def picture(kind, w, h):
    if kind == "testsrc2":
        return "testsrc2=s=%dx%d:r=%d" % (w, h, RATE)
    if kind == "mandelbrot":
        return "mandelbrot=s=%dx%d:r=%d:end_scale=0.05" % (w, h, RATE)
    if kind == "dark":  # a dark film: the test picture at a fifth of its light, with grain
        return "testsrc2=s=%dx%d:r=%d,lutyuv=y=16+(val-16)/5,noise=alls=6:allf=t" % (w, h, RATE)
    if kind == "night":  # a night city: dark sky, buildings with lit windows, a lit street below
        return ("color=c=black:s=%dx%d:r=%d,format=yuv420p,geq="
                "lum='if(lt(Y,H*0.35+H*0.12*sin(X/41)+H*0.05*sin(X/13)),18+mod(X*7+Y*3,5),"
                "if(lt(Y,H*0.82),if(lt(mod(X,29),9)*lt(mod(Y,23),9)*gt(mod(X*13+Y*7+N,17),10),170,24),"
                "40+60*abs(sin(X/50+N/10))))':cb=128:cr=128" % (w, h, RATE))
    if kind == "stars":  # white cells on black, like stars in a night sky
        return ("life=s=%dx%d:r=%d:mold=10:ratio=0.15:death_color=black:life_color=white,"
                "scale=%d:%d:flags=neighbor" % (w // 2, h // 2, RATE, w, h))
    if kind == "black":
        return "color=c=black:s=%dx%d:r=%d" % (w, h, RATE)
    if kind == "dark middle":  # the test picture with a black band across its middle two fifths
        return "testsrc2=s=%dx%d:r=%d,drawbox=x=0:y=ih*0.3:w=iw:h=ih*0.42:c=black:t=fill" % (w, h, RATE)
    if kind == "cartoon":  # flat sky and meadow, a black horizon over half the height, a moving sun
        return ("color=c=0x7ec8f0:s=%dx%d:r=%d,drawbox=x=0:y=ih*0.74:w=iw:h=ih*0.26:c=0x3c9a3c:t=fill,"
                "drawbox=x=0:y=ih*0.22:w=iw:h=ih*0.52:c=black:t=fill,%s" %
                (w, h, RATE, text("text='O':fontcolor=yellow:fontsize=%d:x=20+t*200:y=h*0.02" % (h // 6))))
    if kind == "credits":  # two columns of white names on black, rolling up
        lines = ",".join(text("text='%s':fontcolor=white:fontsize=%d:x=%s:y=h-t*60+%d" %
                              (name, h // 22, x, i * h // 12))
                         for i in range(14) for name, x in (("Director of photography", "w*0.05"),
                                                           ("Anna Petrova %d" % i, "w*0.55")))
        return "color=c=black:s=%dx%d:r=%d,%s" % (w, h, RATE, lines)
    raise ValueError(kind)


class Clip:
    """kind: the picture; borders (l, t, r, b) or None (full frame); frames; bar luma;
    overlays: filters drawn over the whole frame after the bars (logo, subtitles);
    codec: mpeg2, h264 or raw; advert, advert_after: the shares of the frames that a full-frame
    advert takes first and last; bar_uv: the bars' colour; says: words the reasons of a "not sure"
    answer must hold."""

    def __init__(self, cls, name, kind, borders=None, size=SD, frames=25, bar=16, noise=0, codec="mpeg2",
                 overlays="", interlaced=False, advert=0.0, vignette=False, overscan=0, advert_after=0.0,
                 bar_uv=(128, 128), says=""):
        self.cls, self.name, self.kind, self.borders, self.size = cls, name, kind, borders, size
        self.frames, self.bar, self.noise, self.codec, self.overlays = frames, bar, noise, codec, overlays
        self.interlaced, self.advert, self.vignette, self.overscan = interlaced, advert, vignette, overscan
        self.advert_after, self.bar_uv, self.says = advert_after, bar_uv, says

    def parts(self):
        """The film's first frame and the frame after its last (the second advert's first)."""
        return int(self.frames * self.advert), self.frames - int(self.frames * self.advert_after)

    def truth(self):
        w, h = self.size
        if not self.borders:
            return (0, 0, w, h)
        l, t, r, b = self.borders
        return (l, t, w - r, h - b)

    def graph(self):
        w, h = self.size
        l, t, r, b = self.borders or (0, 0, 0, 0)
        rate = RATE * 2 if self.interlaced else RATE
        pic = picture(self.kind, w - l - r, h - t - b).replace("r=%d" % RATE, "r=%d" % rate)
        if self.vignette:
            pic += ",vignette=angle=PI/3"
        # Composed in 4:4:4, so a picture edge on an odd line stays there.
        g = "color=c=black:s=%dx%d:r=%d,format=yuv444p,lutyuv=y=%d:u=%d:v=%d[bars];" % (
            (w, h, rate, self.bar) + self.bar_uv)
        g += "%s,format=yuv444p[pic];[bars][pic]overlay=%d:%d:shortest=1:format=yuv444,format=yuv444p" % (pic, l, t)
        if self.overscan:  # head-switching noise: bright noisy lines at the very top and bottom
            g += (",drawbox=y=0:w=iw:h=%d:c=gray:t=fill,drawbox=y=ih-%d:w=iw:h=%d:c=gray:t=fill"
                  % (self.overscan, self.overscan, self.overscan))
        if self.advert:  # a full-frame advert first, then the picture in its bars (then an advert again)
            n, end = self.parts()
            ad = "testsrc2=s=%dx%d:r=%d,format=yuv420p,trim=end_frame=%%d" % (w, h, rate)
            g = "%s[ad];%s,trim=end_frame=%d,setpts=PTS-STARTPTS[film];" % (ad % n, g, end - n)
            if end < self.frames:
                g += "%s,setpts=PTS-STARTPTS[after];[ad][film][after]concat=n=3" % (ad % (self.frames - end))
            else:
                g += "[ad][film]concat=n=2"
            g += ":v=1,format=yuv420p"
        if self.overlays:
            g += "," + self.overlays
        if self.noise:
            g += ",noise=alls=%d:allf=t" % self.noise
        if self.interlaced:
            g += ",tinterlace=mode=interleave_top"
        return g + ",format=yuv420p"


def sub(t0, t1, y, size=26, box=False, second=None):
    """Subtitle text in a bar between seconds t0 and t1 at row y."""
    s = text("text='%s':fontcolor=white:fontsize=%d:x=(w-tw)/2:y=%d:enable='between(t,%g,%g)'%s" %
             ("I will never tell you where it is.", size, y, t0, t1,
              ":box=1:boxcolor=black:boxborderw=4" if box else ""))
    if second is not None:
        s += "," + text("text='Not in a hundred years.':fontcolor=white:fontsize=%d:x=(w-tw)/2:y=%d:"
                        "enable='between(t,%g,%g)'" % (size, second, t0, t1))
    return s


LOGO = "drawbox=x=40:y=18:w=110:h=44:c=white@0.5:t=fill," + text(
    "text='TV5':fontcolor=white@0.6:fontsize=34:x=60:y=22")
CLOCK = text("text='%{localtime\\:%H\\\\\\:%M\\\\\\:%S}':fontcolor=white@0.7:fontsize=24:x=w-140:y=30")
LB = (0, 72, 0, 72)  # 16:9 in 4:3


def score_box(y):
    """A score box from row y to y + 40: across the top edge of a picture starting at row y + 18."""
    return "drawbox=x=40:y=%d:w=210:h=40:c=0x203080:t=fill," % y + text(
        "text='MOS 2 - 1 SPB':fontcolor=white:fontsize=26:x=52:y=%d" % (y + 6))


CLIPS = [
    Clip("letterbox", "16:9 in 4:3, MPEG-2", "testsrc2", LB),
    Clip("letterbox", "16:9 in 4:3, H.264", "testsrc2", LB, codec="h264"),
    Clip("letterbox", "14:9 in 4:3, MPEG-2", "testsrc2", (0, 41, 0, 41)),
    Clip("letterbox", "16:9 in 4:3, 25i MPEG-2", "testsrc2", LB, interlaced=True),
    Clip("letterbox", "16:9 in 4:3, 25i H.264", "mandelbrot", LB, interlaced=True, codec="h264"),
    Clip("letterbox", "16:9 in 4:3, noisy overscan lines", "testsrc2", LB, overscan=4),
    Clip("letterbox", "2.39:1 in 4:3, H.264", "testsrc2", (0, 128, 0, 128), codec="h264"),
    Clip("letterbox", "2.39:1 in 1080, H.264", "testsrc2", (0, 138, 0, 138), size=HD, frames=10, codec="h264"),
    Clip("pillarbox", "4:3 in 16:9 1080, H.264", "mandelbrot", (240, 0, 240, 0), size=HD, frames=10, codec="h264"),
    Clip("pillarbox", "4:3 in anamorphic 16:9, MPEG-2", "testsrc2", (90, 0, 90, 0)),
    Clip("pillarbox", "right side only, raw", "testsrc2", (0, 0, 31, 0), codec="raw"),
    Clip("windowbox", "windowbox, H.264", "testsrc2", (90, 72, 90, 72), codec="h264"),
    Clip("windowbox", "asymmetric 7/13/0/21, raw", "testsrc2", (7, 13, 0, 21), codec="raw"),
    Clip("overlay", "subtitles 17 % of the time", "testsrc2", LB, frames=50, overlays=sub(0, 0.34, 520)),
    Clip("overlay", "two-line subtitles 60 % of the time", "testsrc2", LB, frames=50,
         overlays=sub(0.2, 1.4, 508, second=540)),
    Clip("overlay", "teletext subtitles (boxed)", "testsrc2", LB, frames=50, overlays=sub(0.5, 1.2, 525, box=True)),
    Clip("overlay", "half-transparent logo in the top bar", "testsrc2", LB, overlays=LOGO),
    Clip("overlay", "logo and clock in the bars, H.264", "testsrc2", LB, codec="h264", overlays=LOGO + "," + CLOCK),
    Clip("overlay", "logo in a side bar", "testsrc2", (90, 0, 90, 0),
         overlays="drawbox=x=20:y=30:w=56:h=40:c=white@0.6:t=fill"),
    Clip("dark", "night city, full frame", "night", None, frames=50),
    Clip("dark", "night city in a letterbox", "night", LB, frames=50),
    Clip("dark", "dark film, full frame, H.264", "dark", None, codec="h264"),
    Clip("dark", "dark film in a letterbox", "dark", LB),
    Clip("dark", "stars, full frame", "stars", None),
    Clip("dark", "fade to black, full frame", "testsrc2", None, overlays="fade=out:st=0.5:d=0.5"),
    Clip("dark", "all black", "black", None),
    Clip("credits", "two-column credits in a letterbox", "credits", LB, frames=50),
    Clip("bars", "bars at Y 20 with noise, MPEG-2", "testsrc2", LB, bar=20, noise=6),
    Clip("bars", "bars at Y 24 with noise, H.264", "testsrc2", LB, bar=24, noise=6, codec="h264"),
    Clip("bars", "bars at Y 16, heavy noise", "mandelbrot", (90, 0, 90, 0), noise=12, codec="h264"),
    Clip("change", "4:3 advert, then letterboxed film", "testsrc2", LB, frames=50, advert=0.4),
    Clip("change", "4:3 advert, then pillarboxed film, H.264", "mandelbrot", (90, 0, 90, 0), frames=50, advert=0.7,
         codec="h264"),
    Clip("changes", "advert, letterboxed film, advert", "testsrc2", LB, frames=50, advert=0.3, advert_after=0.3),
    Clip("changes", "advert, pillarboxed film, advert, H.264", "mandelbrot", (90, 0, 90, 0), frames=50, advert=0.2,
         advert_after=0.4, codec="h264"),
    Clip("dark band", "2.39:1 in 4:3 with a dark middle, H.264", "dark middle", (0, 128, 0, 128), codec="h264"),
    Clip("dark band", "2.39:1 in 1080 with a dark middle", "dark middle", (0, 138, 0, 138), size=HD, frames=10),
    Clip("cartoon", "black horizon, full frame", "cartoon", None),
    Clip("cartoon", "black horizon in a letterbox, H.264", "cartoon", LB, codec="h264"),
    Clip("grey bars", "dark grey bars at Y 44", "testsrc2", LB, bar=44, says="flat at Y"),
    Clip("grey bars", "blue side bars at Y 56 with noise, H.264", "testsrc2", (90, 0, 90, 0), bar=56, bar_uv=(170, 110),
         noise=4, codec="h264", says="flat at Y"),
    Clip("score box", "score box across the top edge", "testsrc2", LB, overlays=score_box(54), says="overlay"),
    Clip("score box", "score box across the top edge of 2.39:1, H.264", "testsrc2", (0, 128, 0, 128), codec="h264",
         overlays=score_box(110), says="overlay"),
    Clip("short", "2 frames, letterbox", "testsrc2", LB, frames=2),
    Clip("short", "2 frames, full frame", "testsrc2", None, frames=2, codec="h264"),
    Clip("full", "full frame, H.264", "testsrc2", None, codec="h264"),
    Clip("full", "full frame with a vignette", "testsrc2", None, vignette=True),
    Clip("full", "full frame, mandelbrot (dark edges)", "mandelbrot", None, codec="h264"),
]


def make(clip, base):
    w, h = clip.size
    ff = ["ffmpeg", "-v", "error", "-y", "-filter_complex", clip.graph(), "-frames:v", str(clip.frames), "-an"]
    il = ["-flags", "+ildct+ilme", "-top", "1"] if clip.interlaced else []
    if clip.codec == "mpeg2":
        path = base + ".ts"
        rate = "15M" if w > 1000 else "4M"
        run(ff + ["-c:v", "mpeg2video", "-b:v", rate, "-maxrate", rate, "-bufsize", "2M", "-g", "12", "-bf", "2"]
            + il + ["-pix_fmt", "yuv420p", path])
    elif clip.codec == "h264":
        path = base + ".mp4"
        rate = "6M" if w > 1000 else "2M"
        run(ff + ["-c:v", "libx264", "-preset", "veryfast", "-b:v", rate, "-maxrate", rate, "-bufsize", "2M"]
            + il + ["-pix_fmt", "yuv420p", path])
    else:
        path = base + ".yuv"
        run(ff + ["-pix_fmt", "yuyv422", "-f", "rawvideo", path])
    return path


def decode_raw(clip, path, out):
    if clip.codec == "raw":
        return path
    run(["ffmpeg", "-v", "error", "-y", "-i", path, "-f", "rawvideo", "-pix_fmt", "yuyv422", out])
    return out


def frames_of(path, w, h):
    data = open(path, "rb").read()
    size = w * h * 2
    return [data[i:i + size] for i in range(0, len(data) - size + 1, size)]


def edge_lines(frame, w, h):
    """Callables giving the mean luma of row y / column x of a yuyv frame."""
    rowmean = lambda y: sum(frame[y * w * 2:(y + 1) * w * 2:2]) / w
    colmean = lambda x: sum(frame[x * 2::w * 2]) / h
    return rowmean, colmean


def black_lines_after(src, out, clip):
    """The most black lines at an edge of the processed frames, counting only frames and sides
    whose picture reaches that edge in the source (the truth's edge line is not black)."""
    w, h = clip.size
    L, T, R, B = clip.truth()
    limit = clip.bar + 6
    worst = 0
    for f in range(0, min(len(src), len(out)), max(1, len(src) // 8)):
        srow, scol = edge_lines(src[f], w, h)
        orow, ocol = edge_lines(out[f], w, h)
        if srow((T + B) // 2) <= limit and scol((L + R) // 2) <= limit:
            continue  # no picture in this frame
        sides = ((srow(T), lambda i: orow(i), h), (srow(B - 1), lambda i: orow(h - 1 - i), h),
                 (scol(L), lambda i: ocol(i), w), (scol(R - 1), lambda i: ocol(w - 1 - i), w))
        for source_edge, line, length in sides:
            if source_edge <= limit:
                continue
            n = 0
            while n < length // 4 and line(n) <= limit:
                n += 1
            worst = max(worst, n)
    return worst


def loss(cut, clip):
    """Picture lost beyond an exact fill, as a share of the picture's width and height (worst),
    and whether the shown part reaches beyond the picture (black lines)."""
    w, h = clip.size
    L, T, R, B = clip.truth()
    lx = (cut["left"] - L) + (cut["right"] - (w - R))
    ly = (cut["top"] - T) + (cut["bottom"] - (h - B))
    beyond = cut["left"] < L or cut["top"] < T or cut["right"] < w - R or cut["bottom"] < h - B
    return max(lx / (R - L), ly / (B - T)), beyond


def cropdetect(clip, path):
    w, h = clip.size
    inp = ["-f", "rawvideo", "-pix_fmt", "yuyv422", "-s", "%dx%d" % (w, h), "-i", path] if clip.codec == "raw" \
        else ["-i", path]
    p = run(["ffmpeg", "-hide_banner", "-nostdin"] + inp + ["-vf", "cropdetect=round=2:reset=0", "-f", "null", "-"])
    found = re.findall(r"crop=(\d+):(\d+):(\d+):(\d+)", p.stderr.decode(errors="replace"))
    if not found:
        return "not sure"
    cw, ch, cx, cy = (int(v) for v in found[-1])
    if (cw, ch) == (w, h):
        return "right" if clip.truth() == (0, 0, w, h) else "wrong"
    cut = {"left": cx, "top": cy, "right": w - cx - cw, "bottom": h - cy - ch}
    lost, beyond = loss(cut, clip)
    return "right" if not beyond and lost <= MAX_LOSS else "wrong"


def judge_change(clip, report, code, src, host, path, raw, work):
    """A format change must be reported with every format in time order, and --take 2 must apply
    the film's."""
    w, h = clip.size
    if code == EXIT_NOT_SURE and report["verdict"] == "not sure":
        return "not sure", "; ".join(report["confidence"]["reasons"])
    first, end = clip.parts()
    full = (0, 0, w, h)
    expected, starts = [full, clip.truth()], [0, first]
    if end < clip.frames:
        expected, starts = expected + [full], starts + [end]
    formats = report.get("formats") or []
    if report["verdict"] != "format change" or code != EXIT_NOT_SURE or len(formats) != len(expected) or report["saved"]:
        return "wrong", "%s (exit %d), not a format change" % (report["verdict"], code)
    rects = [tuple(f["picture"][k] for k in ("left", "top", "right", "bottom")) for f in formats]
    if rects != expected or any(abs(f["first_frame"] - s) > 1 for f, s in zip(formats, starts)):
        return "wrong", "formats %s from frames %s" % (rects, [f["first_frame"] for f in formats])
    p = run(host + ["--detect", "--quiet", "--json", "--take", "2", path], ok=(0, 3, 4), cwd=work)
    ours, why = judge(clip, json.loads(p.stdout), p.returncode, src[first:end], host, raw, work, skip=first)
    return ours, "%s; --take 2: %s" % (" then ".join("%d %%" % (100 * f["frames"] // clip.frames) for f in formats), why)


def judge(clip, report, code, src, host, raw, work, skip=0):
    w, h = clip.size
    full = clip.truth() == (0, 0, w, h)
    if code == EXIT_NOT_SURE:
        if report["settings"] is not None or report["saved"]:
            return "wrong", "exit 4 with settings"
        return "not sure", "; ".join(report["confidence"]["reasons"]) or report["verdict"]
    if code == EXIT_NO_BORDER:
        return ("right" if full else "wrong"), "no border"
    if code != EXIT_FOUND or report["settings"] is None:
        return "wrong", "exit %d" % code
    lost, beyond = loss(report["cut"], clip)
    if beyond or lost > MAX_LOSS:
        return "wrong", "cut %s: %.1f %% lost%s" % (report["cut"], lost * 100, ", bars shown" if beyond else "")
    out = os.path.join(work, "out.yuv")
    run(host + ["--size", "%dx%d" % (w, h), "--input", raw, "--output", out, "-y", "--quiet"] + report["options"].split())
    lines = black_lines_after(src, frames_of(out, w, h)[skip:], clip)
    if lines > 1:
        return "wrong", "%d black lines at an edge after the settings" % lines
    return "right", "%s, %.1f %% lost" % (report["options"], lost * 100)


def check_long_recording(host, work):
    """A recording longer than the sample is thinned evenly in time (B-frames and all) and still
    gives the picture; nothing reaches standard error. The same with an ffmpeg that lacks
    -filter_script, as 9.0 and later do."""
    path = os.path.join(work, "long.mp4")
    run(["ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i", "testsrc2=s=360x216:r=25,pad=360:288:0:36:black",
         "-frames:v", "300", "-c:v", "libx264", "-preset", "veryfast", "-bf", "3", "-pix_fmt", "yuv420p", path])
    newer = os.path.join(work, "ffmpeg9")
    os.makedirs(newer, exist_ok=True)
    with open(os.path.join(newer, "ffmpeg"), "w") as f:
        f.write('#!/bin/sh\nfor a; do [ "$a" = "-filter_script:v" ] && '
                '{ echo "Unrecognized option \'filter_script:v\'." >&2; exit 8; }; done\n'
                'exec %s "$@"\n' % shutil.which("ffmpeg"))
    os.chmod(os.path.join(newer, "ffmpeg"), 0o755)
    failures = []
    for which, env in (("", None), (", ffmpeg without -filter_script", dict(os.environ, PATH=newer + ":" + os.environ["PATH"]))):
        p = run(host + ["--detect", "--quiet", "--json", path], ok=(0, 1, 3, 4), cwd=work, env=env)
        report = json.loads(p.stdout) if p.returncode != 1 else {"frames": {"sampled": 0}, "picture": None}
        sampled = report["frames"]["sampled"]
        ok = p.returncode == 0 and not p.stderr and 45 <= sampled <= 50 and \
            report["picture"] == {"left": 0, "top": 36, "right": 360, "bottom": 252}
        print(("ok  " if ok else "FAIL") + " a 300-frame recording with B-frames%s: %d frames sampled, %s" %
              (which, sampled, report["picture"]))
        if not ok:
            failures.append("a 300-frame recording%s: %s %s" % (which, p.stdout.decode(), p.stderr.decode()))
    return failures


def check_refused_after_probe(host, work):
    """A recording refused once ffprobe has measured it (an odd width for YUY2 frames) ends the
    run at once: the ffmpeg started beside ffprobe, still waiting for its filter, is let go."""
    path = os.path.join(work, "odd.mp4")
    run(["ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i", "testsrc2=s=400x240:r=25",
         "-vf", "format=yuv444p,crop=321:240:0:0", "-t", "5", "-c:v", "libx264", path])
    try:
        p = subprocess.run(host + ["--detect", "--quiet", path], capture_output=True, cwd=work, timeout=30)
    except subprocess.TimeoutExpired:
        print("FAIL a recording 321 pixels wide: --detect did not end within 30 s")
        return ["a recording refused after ffprobe hangs"]
    ok = p.returncode == 2 and b"width 321 is odd" in p.stderr and not p.stdout
    print(("ok  " if ok else "FAIL") + " a recording 321 pixels wide is refused at once (exit %d)" % p.returncode)
    return [] if ok else ["a recording 321 pixels wide: %d %s" % (p.returncode, p.stderr.decode())]


def check_save(host, work):
    """--save writes only a suggestion, into the channel's record or [COMMON]; exit codes."""
    failures = []
    lb = Clip("save", "save", "testsrc2", LB, codec="raw", frames=10)
    plain = Clip("save", "save", "testsrc2", None, codec="raw", frames=10)
    paths = {"letterbox": make(lb, os.path.join(work, "save-lb")), "plain": make(plain, os.path.join(work, "save-plain"))}

    def detect(name, *args):
        cmd = host + ["--size", "720x576", "--input", paths[name], "--quiet", "--detect"] + list(args)
        return subprocess.run(cmd, capture_output=True, cwd=work)

    ini = os.path.join(work, "save.ini")
    per_channel = b"[SETTINGS]\r\nCommon=0\r\n[COMMON]\r\nProcEnable=0\r\n[77]\r\nScaleX=900\r\n[5]\r\nOffsetX=33\r\n"
    with open(ini, "wb") as f:
        f.write(per_channel)
    p = detect("letterbox", "--settings", ini, "--save")
    if p.returncode != 2 or open(ini, "rb").read() != per_channel:
        failures.append("--save to a per-channel file without --channel must be refused, the file left as it was")
    p = detect("letterbox", "--settings", ini, "--channel", "77", "--save")
    text_ = open(ini, "rb").read().decode()
    record = text_[text_.find("[77]"):].split("\r\n[")[0]
    if p.returncode != 0 or "ScaleY=1338" not in record or "ProcEnable=1" not in record or \
            "OffsetX=33" not in text_[text_.find("[5]"):]:
        failures.append("--save --channel 77 must write the suggestion into [77] and keep [5]: " + repr(text_))
    if b"ScaleY 133.8 % is beyond the dialog's 70.0 to 130.0 %" not in p.stdout:
        failures.append("ScaleY 133.8 % must come with the note on the dialog's range: " + p.stdout.decode())
    fresh = os.path.join(work, "fresh.ini")
    p = detect("plain", "--settings", fresh, "--save")
    if p.returncode != EXIT_NO_BORDER or os.path.exists(fresh) or b"nothing saved" not in p.stdout:
        failures.append("without a border --save must write nothing and exit 3: %d %s" % (p.returncode, p.stdout))
    p = detect("letterbox", "--settings", fresh, "--save", "--json")
    text_ = open(fresh, "rb").read().decode() if os.path.exists(fresh) else ""
    try:
        report = json.loads(p.stdout)
    except ValueError:
        report = {}
    if p.returncode != 0 or "Common=1" not in text_ or "ScaleY=1338" not in text_.split("[COMMON]")[-1] or \
            not report.get("saved") or report.get("picture") != {"left": 0, "top": 72, "right": 720, "bottom": 504}:
        failures.append("--save --json to a one-set file must write [COMMON] and say so: %r %r" % (text_, p.stdout))
    print("ok   --save: a suggestion only, into the --channel record or [COMMON]; exit codes 0, 3" if not failures
          else "\n".join("FAIL " + f for f in failures))
    return failures


def evaluate(i, clip, host, work, keep):
    """Makes clip i, runs --detect on it and judges the answer and cropdetect's, in a folder
    of its own: (row, ours, cropdetect's, failures)."""
    w, h = clip.size
    own = os.path.join(work, "%02d" % i)
    os.makedirs(own)
    base = os.path.join(keep or own, "%02d-" % i + re.sub(r"[^a-z0-9]+", "-", clip.name.lower()).strip("-"))
    path = make(clip, base)
    raw = decode_raw(clip, path, os.path.join(own, "src.yuv"))
    src = frames_of(raw, w, h)
    args = ["--size", "%dx%d" % (w, h), "--input", path] if clip.codec == "raw" else [path]
    p = run(host + ["--detect", "--quiet", "--json"] + args, ok=(0, 3, 4), cwd=own)
    failures = []
    if p.stderr.strip():
        failures.append(clip.name + ": text on standard error: " + p.stderr.decode(errors="replace"))
    report = json.loads(p.stdout)
    if clip.advert:
        ours, why = judge_change(clip, report, p.returncode, src, host, path, raw, own)
    else:
        ours, why = judge(clip, report, p.returncode, src, host, raw, own)
    if clip.says and ours == "not sure" and clip.says not in why:
        failures.append("%s: the reasons must say \"%s\": %s" % (clip.name, clip.says, why))
    black = re.findall(r"--black (\d+)", " ".join(report["notes"])) if "flat at Y" in why else []
    if black:  # the --black suggested for flat edges must find them as bars
        p = run(host + ["--detect", "--quiet", "--json", "--black", black[0]] + args, ok=(0, 3, 4), cwd=own)
        again, how = judge(clip, json.loads(p.stdout), p.returncode, src, host, raw, own)
        why = "with --black %s: %s; %s" % (black[0], again, why)
        if again != "right":
            failures.append("%s: with the --black %s suggested: %s" % (clip.name, black[0], how))
    theirs = cropdetect(clip, path)
    if ours == "wrong":
        failures.append("%s: %s" % (clip.name, why))
    return [clip.cls, clip.name, ours, theirs, why[:110]], ours, theirs, failures


def main():
    build = os.path.abspath(sys.argv[1])
    keep = sys.argv[2] if len(sys.argv) > 2 else None
    if keep:
        os.makedirs(keep, exist_ok=True)
    work = tempfile.mkdtemp(prefix="kvx-borders-")
    host = [os.path.join(build, "kvx-host"), "--plugin", os.path.join(build, "KVX_Scaler.so")]
    failures, rows, tally = [], [], {}
    try:
        # Two clips at a time: most of the time goes to waiting for ffmpeg and kvx-host.
        with concurrent.futures.ThreadPoolExecutor(max_workers=2) as pool:
            results = list(pool.map(lambda ic: evaluate(ic[0], ic[1], host, work, keep), enumerate(CLIPS)))
        for clip, (row, ours, theirs, clip_failures) in zip(CLIPS, results):
            t = tally.setdefault(clip.cls, {"right": 0, "not sure": 0, "wrong": 0, "cd right": 0, "cd wrong": 0,
                                            "cd not sure": 0})
            t[ours] += 1
            t["cd " + theirs] += 1
            rows.append(row)
            failures += clip_failures
        failures += check_long_recording(host, work)
        failures += check_refused_after_probe(host, work)
        failures += check_save(host, work)
    finally:
        shutil.rmtree(work, ignore_errors=True)

    head = ["class", "clip", "ours", "cropdetect", "answer"]
    table = [head] + rows
    widths = [max(len(r[i]) for r in table) for i in range(len(head))]
    for r in table:
        print("  ".join(c.ljust(widths[i]) for i, c in enumerate(r)).rstrip())
    print()
    print("%-10s %5s %9s %5s   %s" % ("class", "right", "not sure", "wrong", "cropdetect right / wrong or none"))
    total = {"right": 0, "not sure": 0, "wrong": 0, "cd right": 0, "cd wrong": 0, "cd not sure": 0}
    for cls, t in tally.items():
        print("%-10s %5d %9d %5d   %d / %d" % (cls, t["right"], t["not sure"], t["wrong"], t["cd right"],
                                            t["cd wrong"] + t["cd not sure"]))
        for k in total:
            total[k] += t[k]
    print("%-10s %5d %9d %5d   %d / %d" % ("all %d" % len(CLIPS), total["right"], total["not sure"], total["wrong"],
                                        total["cd right"], total["cd wrong"] + total["cd not sure"]))
    if failures:
        print("FAILED: " + "; ".join(failures))
        return 1
    print("no wrong answer in %d clips" % len(CLIPS))
    return 0


if __name__ == "__main__":
    sys.exit(main())
