#!/usr/bin/env python3
"""Border detection, measured: clips generated with ffmpeg, each with a known picture rectangle.

usage: border_detection.py NATIVE_BUILD_DIR [KEEP_DIR]

For every clip kvx-host --detect must find the picture within 2 pixels on every side; the
settings it suggests (--fit fill and --fit aspect), applied by the plug-in, must leave at most
one black row or column at each edge of every frame; clips without a border must give no
suggestion. Prints a table. With KEEP_DIR the raw clips and a --compare picture stay there.
"""
import os, re, shutil, subprocess, sys, tempfile

FRAMES = 10
RATE = 25
MAX_ERROR = 2        # pixels per side
MAX_BLACK_LINES = 1  # black rows/columns left at an edge after the suggestion


def source(kind, w, h):
    """A picture source of w x h in rgb24."""
    if kind == "testsrc2":
        return "testsrc2=s=%dx%d:r=%d,format=rgb24" % (w, h, RATE)
    if kind == "mandelbrot":  # rendered at half size: the fractal is slow at full HD
        return "mandelbrot=s=%dx%d:r=%d,scale=%d:%d,format=rgb24" % (w // 2, h // 2, RATE, w, h)
    if kind == "life":  # white cells on black, like stars in a night sky
        return ("life=s=%dx%d:r=%d:mold=10:ratio=0.2:death_color=black:life_color=white,"
                "scale=%d:%d:flags=neighbor,format=rgb24" % (w // 2, h // 2, RATE, w, h))
    if kind == "black":
        return "color=c=black:s=%dx%d:r=%d,format=rgb24" % (w, h, RATE)
    raise ValueError(kind)


class Clip:
    def __init__(self, name, size, fmt, kind, borders=None, overscan=0, noise=0, x264=False, extra=""):
        self.name, self.size, self.fmt = name, size, fmt
        self.kind, self.borders, self.overscan = kind, borders, overscan
        self.noise, self.x264, self.extra = noise, x264, extra

    def truth(self):
        if self.borders is None:
            return None
        w, h = self.size
        l, t, r, b = self.borders
        return (l, t, w - r, h - b)

    def graph(self):
        w, h = self.size
        if self.borders is None:
            g = source(self.kind, w, h) + self.extra
        else:
            l, t, r, b = self.borders
            g = source(self.kind, w - l - r, h - t - b) + self.extra + ",pad=%d:%d:%d:%d:black" % (w, h, l, t)
        if self.overscan:  # noisy lines at the very top and bottom, over the black bars
            g += ("[p];color=c=gray:s=%dx%d:r=%d,format=rgb24,noise=alls=100:allf=t+u[n];"
                  "[p][n]overlay=0:0,format=rgb24[q];color=c=gray:s=%dx%d:r=%d,format=rgb24,"
                  "noise=alls=100:allf=t+u[m];[q][m]overlay=0:%d,format=rgb24"
                  % (w, self.overscan, RATE, w, self.overscan - 1, RATE, h - self.overscan + 1))
        if self.noise:
            g += ",noise=alls=%d:allf=t" % self.noise
        return g


W1, H1, W2, H2 = 720, 576, 1920, 1080
CLIPS = [
    Clip("16:9 letterbox in 4:3, testsrc2", (W1, H1), "yuyv", "testsrc2", (0, 86, 0, 86)),
    Clip("4:3 pillarbox in 16:9, mandelbrot", (W2, H2), "bgr24", "mandelbrot", (240, 0, 240, 0)),
    Clip("asymmetric 7/13/0/21, testsrc2", (W1, H1), "bgr24", "testsrc2", (7, 13, 0, 21)),
    Clip("asymmetric 7/13/0/21, mandelbrot", (W2, H2), "yuyv", "mandelbrot", (7, 13, 0, 21)),
    Clip("letterbox, 4 noisy overscan lines", (W1, H1), "yuyv", "testsrc2", (0, 72, 0, 72), overscan=4),
    Clip("letterbox, 6 noisy lines, mandelbrot", (W2, H2), "bgr24", "mandelbrot", (0, 138, 0, 138), overscan=6),
    Clip("2.39:1 letterbox, H.264 round trip", (W2, H2), "yuyv", "testsrc2", (0, 138, 0, 138), x264=True),
    Clip("pillarbox, noise and H.264", (W1, H1), "bgr24", "mandelbrot", (90, 0, 90, 0), noise=10, x264=True),
    Clip("right side only, noise", (W1, H1), "yuyv", "testsrc2", (0, 0, 31, 0), noise=8),
    Clip("no border, testsrc2", (W1, H1), "yuyv", "testsrc2"),
    Clip("no border, mandelbrot (dark edges)", (W2, H2), "bgr24", "mandelbrot"),
    Clip("no border, life (night sky)", (W1, H1), "yuyv", "life"),
    Clip("no border, dark scene", (W1, H1), "bgr24", "testsrc2", extra=",lutrgb=r=val/4:g=val/4:b=val/4"),
    Clip("no border, fade to black", (W1, H1), "yuyv", "testsrc2",
         extra=",fade=out:st=%f:d=%f" % (FRAMES / 2 / RATE, FRAMES / 2 / RATE)),
    Clip("all black", (W1, H1), "yuyv", "black"),
]

PIX_FMT = {"yuyv": "yuyv422", "bgr24": "bgr24"}


def run(cmd, **kw):
    p = subprocess.run(cmd, capture_output=True, **kw)
    if p.returncode != 0:
        raise RuntimeError("%s failed (%d): %s" % (cmd[0], p.returncode, p.stderr.decode(errors="replace")))
    return p.stdout.decode()


def make_clip(clip, path, work):
    w, h = clip.size
    ff = ["ffmpeg", "-v", "error", "-y", "-filter_complex", clip.graph(), "-frames:v", str(FRAMES)]
    coded = None
    if clip.x264:
        coded = os.path.join(work, "coded-%d.mkv" % CLIPS.index(clip))
        run(ff + ["-c:v", "libx264", "-preset", "veryfast", "-crf", "26", "-pix_fmt", "yuv420p", coded])
        run(["ffmpeg", "-v", "error", "-y", "-i", coded, "-pix_fmt", PIX_FMT[clip.fmt], "-f", "rawvideo", path])
    else:
        run(ff + ["-pix_fmt", PIX_FMT[clip.fmt], "-f", "rawvideo", path])
    if os.path.getsize(path) != FRAMES * w * h * (2 if clip.fmt == "yuyv" else 3):
        raise RuntimeError("ffmpeg made %d bytes for %s" % (os.path.getsize(path), clip.name))
    return coded


def luma_lines(frame, clip):
    """Rows (top-down) and columns as callables giving a line's luma values."""
    w, h = clip.size
    if clip.fmt == "yuyv":
        row = lambda y: frame[y * w * 2:(y + 1) * w * 2:2]
        col = lambda x: frame[x * 2::w * 2]
        return row, col
    luma = lambda px: [(66 * px[i + 2] + 129 * px[i + 1] + 25 * px[i] + 128) // 256 + 16 for i in range(0, len(px), 3)]
    row = lambda y: luma(frame[y * w * 3:(y + 1) * w * 3])
    col = lambda x: luma(b"".join(frame[r * w * 3 + x * 3:r * w * 3 + x * 3 + 3] for r in range(h)))
    return row, col


def black(values):
    return sum(values) <= 24 * len(values)  # mean luma within 8 of video black


def black_edge_lines(frame, clip):
    """The most black lines counted from any of the four edges."""
    w, h = clip.size
    row, col = luma_lines(frame, clip)
    worst = 0
    for line, length in ((lambda i: row(i), h), (lambda i: row(h - 1 - i), h),
                         (lambda i: col(i), w), (lambda i: col(w - 1 - i), w)):
        n = 0
        while n < length and black(line(n)):
            n += 1
        worst = max(worst, n)
    return worst


def picture_found(report):
    found = re.search(r"^picture +left (-?\d+), top (-?\d+), right (-?\d+), bottom (-?\d+)", report, re.M)
    return tuple(int(v) for v in found.groups()) if found else None


def check_recording_spread(host, work):
    """A longer recording is read without its B-frames: fewer frames than it holds, same picture."""
    frames, truth = 120, (0, 86, 720, 490)
    clip = os.path.join(work, "long.mp4")
    run(["ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i", "testsrc2=s=720x404:r=25,pad=720:576:0:86:black",
         "-frames:v", str(frames), "-c:v", "libx264", "-preset", "veryfast", "-bf", "3", "-pix_fmt", "yuv420p",
         clip])
    report = run(host + ["--detect", "--quiet", clip], cwd=work)
    sampled = re.search(r"^frames +(\d+) sampled", report, re.M)
    found = picture_found(report)
    if not sampled or not 25 <= int(sampled.group(1)) < frames or found is None or \
            max(abs(a - b) for a, b in zip(found, truth)) > MAX_ERROR:
        return ["a %d-frame recording read without its B-frames: %s" % (frames, report.strip())]
    return []


def check_save(host, work):
    """--save writes only a suggestion, into the channel's record or [COMMON], keeping the rest."""
    failures = []
    w, h = 720, 576
    letterbox = Clip("save", (w, h), "yuyv", "testsrc2", (0, 72, 0, 72))
    plain = Clip("save", (w, h), "yuyv", "testsrc2")
    frames = {}
    for name, clip in (("letterbox", letterbox), ("plain", plain)):
        frames[name] = os.path.join(work, name + ".raw")
        make_clip(clip, frames[name], work)

    def detect(name, *args):
        cmd = host + ["--size", "%dx%d" % (w, h), "--input", frames[name], "--quiet", "--detect"] + list(args)
        return subprocess.run(cmd, capture_output=True, cwd=work)

    ini = os.path.join(work, "save.ini")
    per_channel = b"[SETTINGS]\r\nCommon=0\r\n[COMMON]\r\nProcEnable=0\r\n[77]\r\nScaleX=900\r\n[5]\r\nOffsetX=33\r\n"
    with open(ini, "wb") as f:
        f.write(per_channel)
    p = detect("letterbox", "--settings", ini, "--save")
    if p.returncode != 2 or open(ini, "rb").read() != per_channel:
        failures.append("--save to a per-channel file without --channel must be refused, the file left as it was")
    p = detect("letterbox", "--settings", ini, "--channel", "77", "--save")
    text = open(ini, "rb").read().decode()
    record = text[text.find("[77]"):].split("\r\n[")[0]
    if p.returncode != 0 or "ScaleY=1338" not in record or "ProcEnable=1" not in record or "OffsetX=33" not in text[text.find("[5]"):]:
        failures.append("--save --channel 77 must write the suggestion into [77] and keep [5]: " + repr(text))
    fresh = os.path.join(work, "fresh.ini")
    p = detect("plain", "--settings", fresh, "--save")
    if p.returncode != 0 or os.path.exists(fresh) or b"nothing saved" not in p.stdout:
        failures.append("without a border --save must write nothing")
    p = detect("letterbox", "--settings", fresh, "--save")
    text = open(fresh, "rb").read().decode() if os.path.exists(fresh) else ""
    if p.returncode != 0 or "Common=1" not in text or "ScaleY=1338" not in text.split("[COMMON]")[-1]:
        failures.append("--save to a file with one set for all channels must write [COMMON]: " + repr(text))
    print("ok   --save: a suggestion only, into the --channel record or [COMMON]" if not failures else
          "\n".join("FAIL " + f for f in failures))
    return failures


def main():
    build = os.path.abspath(sys.argv[1])
    keep = sys.argv[2] if len(sys.argv) > 2 else None
    work = tempfile.mkdtemp(prefix="kvx-borders-")
    # Every kvx-host run works in a private folder of its own: no settings carry over.
    host = [os.path.join(build, "kvx-host"), "--plugin", os.path.join(build, "KVX_Scaler.so")]
    failures, rows = [], []
    try:
        for clip in CLIPS:
            w, h = clip.size
            raw = os.path.join(keep or work, re.sub(r"[^a-z0-9]+", "-", clip.name.lower()) + ".raw")
            coded = make_clip(clip, raw, work)
            frame_args = ["--size", "%dx%d" % (w, h), "--format", clip.fmt, "--input", raw, "--quiet"]
            report = run(host + frame_args + ["--detect"], cwd=work)
            found = picture_found(report)
            truth = clip.truth()
            if coded:  # the recording itself, decoded by kvx-host's own ffmpeg
                from_file = picture_found(run(host + ["--detect", "--quiet", coded], cwd=work))
                if from_file != found:
                    failures.append(clip.name + ": IN gives %s, the raw frames %s" % (from_file, found))
            row = [clip.name, "%dx%d %s" % (w, h, clip.fmt), truth or "none", found or "none"]
            if truth is None:
                ok = found is None and "no border found" in report and "options" not in report
                row += ["-", "no suggestion" if ok else "suggested!"]
            else:
                error = max(abs(a - b) for a, b in zip(found, truth)) if found else None
                ok = error is not None and error <= MAX_ERROR
                edges = []
                for fit in ("fill", "aspect"):
                    report = run(host + frame_args + ["--detect", "--fit", fit], cwd=work)
                    options = re.search(r"^options +(.*)$", report, re.M)
                    if not options:
                        ok = False
                        edges.append("%s: none" % fit)
                        continue
                    out = os.path.join(work, "out.raw")
                    run(host + frame_args + ["--output", out, "-y"] + options.group(1).split(), cwd=work)
                    data = open(out, "rb").read()
                    size = len(data) // FRAMES
                    lines = max(black_edge_lines(data[i * size:(i + 1) * size], clip) for i in range(FRAMES))
                    ok = ok and lines <= MAX_BLACK_LINES
                    edges.append("%s: %d" % (fit, lines))
                row += ["-" if error is None else str(error), ", ".join(edges)]
            row.append("ok" if ok else "FAIL")
            if not ok:
                failures.append(clip.name)
            rows.append(row)
            if keep and clip is CLIPS[0]:
                run(host + frame_args + ["--detect", "-y", "--compare", os.path.join(keep, "compare.png")], cwd=work)
        failures += check_recording_spread(host, work)
        failures += check_save(host, work)
    finally:
        shutil.rmtree(work, ignore_errors=True)

    head = ["clip", "frames", "truth (l, t, r, b)", "found", "error px", "black edge lines after", ""]
    table = [head] + [[str(c) for c in r] for r in rows]
    widths = [max(len(r[i]) for r in table) for i in range(len(head))]
    for r in table:
        print("  ".join(c.ljust(widths[i]) for i, c in enumerate(r)).rstrip())
    if failures:
        print("FAILED: " + "; ".join(failures))
        return 1
    print("all %d clips within %d px (the H.264 ones read as recordings too), at most %d black edge "
          "line after the suggestion, no suggestion without a border" % (len(CLIPS), MAX_ERROR, MAX_BLACK_LINES))
    return 0


if __name__ == "__main__":
    sys.exit(main())
