#!/usr/bin/env python3
"""kvx-host IN OUT as a user meets it, with short clips made by ffmpeg: lip-sync on a recording
that starts mid-GOP, audio shorter or longer than the video, what a failure and a normal run
print, the encode's quality options, subtitles, --detect's samples, and that OUT shows what
IN shows: its shape, a picture stored on its side, every stream ending with the picture.

usage: video_file_mode.py BUILD_DIR
       video_file_mode.py --wine WIN32_BUILD_DIR WINDOWS_FFMPEG_DIR
With --wine, kvx-host.exe runs under Wine (environment from ./run) with the ffmpeg.exe and
ffprobe.exe of WINDOWS_FFMPEG_DIR on Windows' PATH (./run setup fetches ffmpeg 4.1 and
ffprobe 5.1): the same checks (but those that need a stand-in ffmpeg), then Ctrl+C and a
kill. The clips are made and measured with this machine's own ffmpeg either way.
"""
import os, re, shutil, signal, subprocess, sys, tempfile, time

sys.dont_write_bytecode = True  # no __pycache__ left in the source tree by the import below
from hostile_files import alive, proc_file

RATE = 25
FRAME = 1.0 / RATE
failures = []


def check(what, ok, detail=""):
    print(("ok   " if ok else "FAIL ") + what + ("" if ok else "  " + detail[:600]))
    if not ok:
        failures.append(what)


def ffmpeg(*args, level="error"):
    subprocess.run(["ffmpeg", "-v", level, "-y"] + list(args), check=True)


def probe(path, entries, streams=None):
    cmd = ["ffprobe", "-v", "error", "-show_entries", entries, "-of", "csv=p=0"]
    if streams:
        cmd += ["-select_streams", streams]
    return subprocess.run(cmd + [path], capture_output=True, text=True).stdout.split()


TURNS = (90, 180, 270)

# ffmpeg as it behaves when something goes wrong, chosen by $FAKE_FFMPEG: "no frame", the
# decoder (it writes to standard output) ends at once without a frame; "full disk", OUT lies
# on a full disk (Matroska's writer then ends with exit 0).
FAKE_FFMPEG = """#!%s
import os, sys
args, fault = sys.argv[1:], os.environ["FAKE_FFMPEG"]
if fault == "no frame" and args[-1] == "-":
    sys.exit(0)
if fault == "full disk" and args[-1] != "-":
    args[-1:] = ["-f", "matroska" if args[-1].endswith(".mkv") else "mp4", "/dev/full"]
os.execv(%r, ["ffmpeg"] + args)
"""

# Flash and beep together at these times (whole frames at 25 fps), gaps all different, so the
# offset between picture and sound is found without ambiguity.
EVENTS = (1.0, 2.32, 3.92, 5.6)


def make_clips():
    """H.264 with B-frames and a key frame every 2 s, in MPEG-TS as a TV card writes it, cut at
    a frame that is no key frame; clips with sound shorter and longer than the video;
    one with a subtitle stream."""
    def flash(seconds):
        frames = "+".join("eq(N\\,%d)" % round(t * RATE) for t in EVENTS)
        return "color=black:s=320x240:r=%d:d=%g,geq=lum='if(%s\\,235\\,16)':cb=128:cr=128" % (RATE, seconds, frames)

    def beep(seconds, lead=0.0):
        times = "+".join("between(t\\,%g\\,%g)" % (t + lead, t + lead + 0.039) for t in EVENTS)
        return "aevalsrc='if(%s\\,0.8*sin(2*PI*1000*t)\\,0)':s=48000:d=%g" % (times, seconds + lead)

    # The sound starts 0.2 s before the picture, as in broadcast recordings.
    ffmpeg("-itsoffset", "0.2", "-f", "lavfi", "-i", flash(6), "-f", "lavfi", "-i", beep(6, 0.2), "-c:v", "libx264",
           "-bf", "3", "-x264-params", "keyint=50:min-keyint=50:scenecut=0", "-c:a", "mp2", "full.ts")
    # A TV card's recording starts at any transport packet: here 1 s into the clip, mid-GOP,
    # where the sound starts 0.2 s before the first picture that can be decoded.
    with open("full.ts", "rb") as f:
        data = f.read()
    with open("cut.ts", "wb") as f:
        f.write(data[len(data) * 15 // 100 // 188 * 188:])
    # 6 s of video against 1 s of sound, and the other way round.
    for name, video, sound in (("short_audio", 6, 1), ("long_audio", 1, 6)):
        ffmpeg("-f", "lavfi", "-i", flash(video), "-f", "lavfi", "-i", beep(sound), "-c:v", "libx264",
               "-preset", "ultrafast", "-c:a", "mp2", name + ".ts")
    # Matroska keeps a stream's length only as a tag.
    ffmpeg("-i", "long_audio.ts", "-c", "copy", "long_audio.mkv")
    # 3 s with Opus sound (as a .webm has it) and a subtitle from 0.5 s to 2.5 s; the same as MP4 and
    # as MPEG-TS (without the subtitle).
    with open("words.srt", "w") as f:
        f.write("1\n00:00:00,500 --> 00:00:02,500\nHello\n\n")
    ffmpeg("-f", "lavfi", "-i", flash(3), "-f", "lavfi", "-i", beep(3), "-i", "words.srt", "-map", "0", "-map", "1",
           "-map", "2", "-c:v", "libx264", "-preset", "ultrafast", "-c:a", "libopus", "-c:s", "srt", "subtitled.mkv")
    ffmpeg("-i", "subtitled.mkv", "-map", "0", "-c:v", "copy", "-c:a", "aac", "-c:s", "mov_text", "subtitled.mp4")
    ffmpeg("-i", "subtitled.mkv", "-map", "0:v", "-map", "0:a", "-c", "copy", "opus.ts")
    # Two subtitle streams, the first closed captions ("HEllo"), which no container kvx-host
    # writes but QuickTime takes; the second text.
    with open("captions.scc", "w") as f:
        f.write("Scenarist_SCC V1.0\n\n00:00:00:12\t9420 9420 94ae 94ae 9452 9452 97a1 97a1 c845 ecec ef80 942c "
                "942c 942f 942f\n")
    with open("second.srt", "w") as f:
        f.write("1\n00:00:00,500 --> 00:00:01,500\nSecond\n\n")
    ffmpeg("-f", "lavfi", "-i", flash(2), "-i", "captions.scc", "-i", "second.srt", "-map", "0", "-map", "1", "-map",
           "2", "-c:v", "libx264", "-preset", "ultrafast", "-c:s:0", "copy", "-c:s:1", "mov_text", "captions.mov")
    # Standard-definition broadcasts, 16:9 and 4:3 in the same 720x576 interlaced frames: only
    # the shape of their samples tells them apart.
    for name, shape in (("wide", "64/45"), ("narrow", "16/15")):
        ffmpeg("-f", "lavfi", "-i", "testsrc2=size=720x576:rate=25:duration=0.4", "-f", "lavfi", "-i",
               "sine=duration=0.4", "-vf", "setsar=%s,setfield=tff" % shape, "-c:v", "mpeg2video", "-flags",
               "+ilme+ildct", "-top", "1", "-c:a", "mp2", name + ".ts")
    # A phone's video: the picture stored on its side, shown turned by its display matrix.
    ffmpeg("-f", "lavfi", "-i", "testsrc2=size=320x176:rate=25:duration=1", "-c:v", "libx264", "-preset",
           "ultrafast", "stored.mp4")
    for turn in TURNS:
        ffmpeg("-i", "stored.mp4", "-c", "copy", "-metadata:s:v:0", "rotate=%d" % turn, "turned%d.mp4" % turn)


def onsets(path, graph, key, threshold):
    """The times a measure of the frames rises above `threshold`, in the file's own timeline."""
    out = subprocess.run(["ffprobe", "-v", "fatal", "-f", "lavfi", "-i", graph % path, "-show_entries",
                          "frame=pts_time:frame_tags=" + key, "-of", "csv=p=0"], capture_output=True, text=True).stdout
    found, before = [], False
    for line in out.split():
        time, _, value = line.partition(",")
        on = value not in ("", "-inf") and float(value) > threshold
        if on and not before:
            found.append(float(time))
        before = on
    return found


def playing_time(path):
    """How long a file plays: its longest stream (Matroska keeps the lengths as tags). The
    container's own total may add an encoder's padding: ffmpeg 4's MP4 counts AAC's last frame."""
    seconds = lambda v: sum(float(p) * 60 ** i for i, p in enumerate(reversed(v.split(":")))) if v != "N/A" else 0
    return max((seconds(v) for line in probe(path, "stream=duration:stream_tags=DURATION") for v in line.split(",")),
               default=0)


def stream_ends(path):
    """When each kind of stream of `path` ends: its last packet's time plus length."""
    kinds = dict(l.split(",") for l in probe(path, "stream=index,codec_type"))
    ends = {}
    for line in probe(path, "packet=stream_index,pts_time,dts_time,duration_time"):
        index, pts, dts, length = line.split(",")[:4]
        time = pts if pts != "N/A" else dts  # an AVI's video has no presentation times
        if time != "N/A":
            end = float(time) + (float(length) if length != "N/A" else 0)
            ends[kinds[index]] = max(ends.get(kinds[index], 0), end)
    return ends


def subtitle_text(path):
    """The first subtitle stream of `path` as SubRip."""
    return subprocess.run(["ffmpeg", "-v", "error", "-i", path, "-map", "0:s:0", "-f", "srt", "-"],
                          capture_output=True, text=True).stdout


def first_subtitle_start(path):
    """When the first subtitle of `path` is shown, in seconds; -1 without one."""
    found = re.search(r"(\d+):(\d+):(\d+),(\d+) -->", subtitle_text(path))
    return int(found[1]) * 3600 + int(found[2]) * 60 + int(found[3]) + int(found[4]) / 1000 if found else -1


def psnr(a, b):
    """How alike two videos of one size are, in dB (0 when they cannot be compared)."""
    out = subprocess.run(["ffmpeg", "-i", a, "-i", b, "-lavfi", "psnr", "-f", "null", "-"], capture_output=True,
                         text=True).stderr
    found = re.search(r"PSNR .* average:(\S+)", out)
    return float(found.group(1)) if found else 0.0


def audio_minus_video(path):
    """Beep minus flash: the offset that pairs the most flashes with a beep (a first frame held
    from time 0 in an MP4 is a flash no beep pairs with)."""
    flashes = onsets(path, "movie=%s,signalstats", "lavfi.signalstats.YAVG", 100)
    beeps = onsets(path, "amovie=%s,asetnsamples=240,astats=metadata=1:reset=1",
                   "lavfi.astats.Overall.RMS_level", -30)
    pairs = lambda d: sum(any(abs(b - f - d) < 0.03 for b in beeps) for f in flashes)
    offsets = sorted((b - f for b in beeps for f in flashes), key=lambda d: (-pairs(d), abs(d)))
    return offsets[0] if offsets and pairs(offsets[0]) >= 2 else None


def windows_path(path):
    """A path of this machine as Wine names it (drive Z: is /)."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


WINE = False  # kvx-host.exe under Wine, with ffmpeg.exe 4.1


def main():
    global WINE
    wine = WINE = sys.argv[1] == "--wine"
    build = os.path.abspath(sys.argv[2 if wine else 1])
    host, plugin = ("kvx-host.exe", "KVX_Scaler.dll") if wine else ("kvx-host", "KVX_Scaler.so")
    env = dict(os.environ)
    if wine:  # the Windows programs from PATH alone, as kvx-host.exe looks for them
        env["WINEPATH"] = windows_path(sys.argv[3])
    work = tempfile.mkdtemp(prefix="kvx-video-")
    try:
        os.chdir(work)
        for f in (host, plugin):
            shutil.copy(os.path.join(build, f), work)
        make_clips()

        os.mkdir("fake")
        with open("fake/ffmpeg", "w") as f:
            f.write(FAKE_FFMPEG % (sys.executable, shutil.which("ffmpeg")))
        os.chmod("fake/ffmpeg", 0o755)

        def command(*args):
            return (["wine"] if wine else []) + ["./" + host, "--plugin", plugin] + list(args)

        def run(*args, fake=None):
            """kvx-host's run; with `fake`, natively only, beside a stand-in ffmpeg (None under Wine)."""
            if fake and wine:
                return None
            faked = dict(env, PATH=os.path.abspath("fake") + os.pathsep + env["PATH"], FAKE_FFMPEG=fake)
            return subprocess.run(command(*args), capture_output=True, text=True, env=faked if fake else env,
                                  timeout=120)

        scenarios(run)
        if wine:  # started as a terminal starts a program: in a process group of its own
            windows_runs(lambda args, err: subprocess.Popen(command(*args), env=env, stdin=subprocess.DEVNULL,
                                                            stdout=subprocess.DEVNULL, stderr=err,
                                                            start_new_session=True))
    finally:
        os.chdir("/")
        shutil.rmtree(work, ignore_errors=True)
    return 1 if failures else 0


def scenarios(run):
    starts = dict(l.split(",") for l in probe("cut.ts", "stream=codec_type,start_time") if "," in l)
    check("the cut clip starts mid-GOP with sound before picture (what the next checks need)",
          float(starts["video"]) - float(starts["audio"]) > 0.1, str(starts))
    # Lip-sync on the mid-GOP cut, against plain ffmpeg on the same file; and nothing printed.
    for ext in ("mp4", "mkv"):
        ffmpeg("-i", "cut.ts", "plain." + ext, level="fatal")  # quiet about the frames before the key frame
        p = run("cut.ts", "out." + ext)
        plain, ours = audio_minus_video("plain." + ext), audio_minus_video("out." + ext)
        check("%s: a recording cut mid-GOP keeps its lip-sync within a frame of plain ffmpeg" % ext,
              p.returncode == 0 and ours is not None and plain is not None and abs(ours - plain) <= FRAME,
              "exit %d, audio minus video %s s, plain ffmpeg %s s" % (p.returncode, ours, plain))
        check("%s: a normal run on a mid-GOP recording prints nothing" % ext, p.stderr == "", p.stderr)

    # Audio shorter or longer than the video: OUT is as long as the video, all of its frames.
    for name, source, ext in (("short_audio", "ts", "mp4"), ("short_audio", "ts", "mkv"), ("long_audio", "ts", "mp4"),
                              ("long_audio", "ts", "mkv"), ("long_audio", "mkv", "mp4")):
        out = "%s_%s.%s" % (name, source, ext)
        p = run(name + "." + source, out)
        video = float((probe(name + ".ts", "stream=duration", "v:0") or ["0"])[0])
        length = playing_time(out)
        check("%s.%s into %s: exit 0, OUT as long as the video (%.2f s)" % (name, source, ext, video),
              p.returncode == 0 and abs(length - video) <= 2 * FRAME,
              "exit %d, OUT %.3f s %s" % (p.returncode, length, p.stderr))

    # --frames 25 of 3 s with sound and a subtitle until 2.5 s: every stream of OUT ends with the
    # picture, whatever the containers; sound OUT's cannot hold (Opus in AVI) is converted, and
    # subtitles converted (text into MP4, MP4's into Matroska) keep their start.
    for source, ext, subtitles in (("opus.ts", "mkv", False), ("subtitled.mkv", "avi", False),
                                   ("subtitled.mkv", "mp4", True), ("subtitled.mp4", "mkv", True)):
        out = "part_%s.%s" % (source.replace(".", "_"), ext)
        p = run("--frames", "25", "--preset", "ultrafast", source, out)
        ends = stream_ends(out) if p.returncode == 0 else {}
        video = ends.get("video", 0)
        check("--frames 25, %s into %s: OUT is 1 s long, its sound%s cut with the picture" %
              (source, ext, " and subtitle" if subtitles else ""),
              abs(video - 1) <= FRAME and abs(ends.get("audio", 0) - video) <= 0.05 and
              ("subtitle" in ends) == subtitles and
              # ffmpeg.exe 4.1 cannot shorten a subtitle, and kvx-host says so
              (ends.get("subtitle", 0) <= video + FRAME if not WINE or not subtitles else
               "cannot end the subtitles" in p.stderr) and
              (not subtitles or abs(first_subtitle_start(out) - 0.5) <= FRAME),
              "exit %d, ends %s, subtitle from %s %s" % (p.returncode, ends, subtitles and first_subtitle_start(out),
                                                       p.stderr))

    # Nothing of the video, no OUT: --frames 0 is refused before any work, and a decoder that
    # ends without a frame fails the run.
    p = run("--frames", "0", "cut.ts", "nothing.mp4")
    check("--frames 0 with a video IN: refused before any work", p.returncode == 2 and
          p.stderr.startswith("kvx-host: --frames 0") and not os.path.exists("nothing.mp4"), p.stderr)
    p = run("cut.ts", "nothing.mp4", fake="no frame")
    if p:
        check("a decoder that ends without a frame: the run fails, no OUT of sound alone",
              p.returncode == 1 and "no frame" in p.stderr and not os.path.exists("nothing.mp4"), p.stderr)

    # A failure only ffmpeg finds (a full disk): its reason, one kvx-host line, no broken pipes
    # and none of the decoder's complaints about the frames before the key frame.
    for ext in ("mp4", "mkv"):
        p = run("cut.ts", "failed." + ext, fake="full disk")
        lines = p.stderr.splitlines() if p else []
        if p:
            check("a failed encode (.%s): ffmpeg's reason, then one kvx-host line; no 'Broken pipe', no OUT" % ext,
                  p.returncode == 1 and [l for l in lines if l.startswith("kvx-host:")] == lines[-1:] and
                  "could not encode failed." + ext in p.stderr and "roken pipe" not in p.stderr and
                  "h264 @" not in p.stderr and len(lines) <= 4 and not os.path.exists("failed." + ext), p.stderr)

    # IN that ffprobe cannot read: its reason, then the kvx-host line.
    with open("notes.ts", "w") as f:
        f.write("no video here\n")
    p = run("notes.ts", "notes.mp4")
    lines = p.stderr.splitlines()
    check("an IN that is no video: ffprobe's reason, then one kvx-host line",
          p.returncode == 1 and len(lines) == 2 and "Invalid data" in lines[0] and
          lines[1].startswith("kvx-host: ffprobe cannot read notes.ts"), p.stderr)

    # The encode's quality: x264 keeps its options in the stream, "crf=18.0" by default.
    def x264_options(path):
        with open(path, "rb") as f:
            text = f.read().decode("latin-1")
        return re.search(r"x264 - core .*? options: (.*?)\x00", text, re.S).group(1)
    run("cut.ts", "default.mkv")
    check("the default encode keeps the source's look: crf 18, preset medium (subme=7)",
          "crf=18.0" in x264_options("default.mkv") and "subme=7" in x264_options("default.mkv"))
    p = run("--crf", "30", "--preset", "ultrafast", "cut.ts", "chosen.mkv")
    check("--crf 30 --preset ultrafast reach x264", p.returncode == 0 and "crf=30.0" in x264_options("chosen.mkv")
          and "subme=0" in x264_options("chosen.mkv"), p.stderr)

    # Subtitles: copied into mkv, converted to mov_text for mp4, a note where they cannot go; of
    # two streams, the one the container takes (the second) with its own words.
    for source, ext, codec, words in (("subtitled.mkv", "mkv", "subrip", "Hello"),
                                      ("subtitled.mkv", "mp4", "mov_text", "Hello"),
                                      ("captions.mov", "mkv", "subrip", "Second")):
        out = "sub_%s.%s" % (source.replace(".", "_"), ext)
        p = run("--preset", "ultrafast", source, out)
        check("subtitles of %s into %s as %s" % (source, ext, codec), p.returncode == 0 and
              probe(out, "stream=codec_name", "s") == [codec] and words in subtitle_text(out), p.stderr)
    p = run("subtitled.mkv", "sub_out.ts")
    check("subtitles a container cannot hold: a one-line note, the run goes on",
          p.returncode == 0 and p.stderr.startswith("kvx-host: note: ") and len(p.stderr.splitlines()) == 1
          and "subrip" in p.stderr, p.stderr)


    # OUT shows what IN shows: an SD broadcast's shape (16:9 or 4:3 in the same frames) and its
    # top field first (Matroska's "tb", as ffmpeg writes it) in every container kvx-host
    # writes, and a picture stored on its side upright, as plain ffmpeg shows it.
    for name, samples, shape in (("wide", "64:45", "16:9"), ("narrow", "16:15", "4:3")):
        wrong = {}
        for ext in ("mp4", "mkv", "ts", "mov", "avi"):
            out = "%s_out.%s" % (name, ext)
            p = run("--preset", "ultrafast", name + ".ts", out)
            got = (probe(out, "stream=sample_aspect_ratio,display_aspect_ratio,field_order", "v:0") or [""])[0]
            if p.returncode != 0 or got.split(",")[:3] not in ([samples, shape, "tt"], [samples, shape, "tb"]):
                wrong[ext] = (p.returncode, got, p.stderr)
        check("SD of samples %s (%s), interlaced: shape and fields kept in .mp4, .mkv, .ts, .mov, .avi" %
              (samples, shape), not wrong, str(wrong))
    for turn in TURNS:
        name = "turned%d" % turn
        ffmpeg("-i", name + ".mp4", "-preset", "ultrafast", "plain_%s.mp4" % name)
        p = run("--preset", "ultrafast", name + ".mp4", "out_%s.mp4" % name)
        turned = probe(name + ".mp4", "stream_side_data=rotation", "v:0")
        alike = psnr("out_%s.mp4" % name, "plain_%s.mp4" % name)
        check("a picture shown turned by %d degrees: OUT shows it as plain ffmpeg does" % turn,
              p.returncode == 0 and turned != [] and alike > 30,
              "exit %d, IN's rotation %s, %.1f dB PSNR against plain ffmpeg %s" % (p.returncode, turned, alike,
                                                                                    p.stderr))

    # --detect on more than 100 frames: ffmpeg samples them, reading its filter from its
    # standard input; at 29.97 frames a second, so that a sample handed on twice shows.
    ffmpeg("-f", "lavfi", "-i", "testsrc2=size=720x360:rate=30000/1001:duration=8", "-vf", "pad=720:480:0:60:black",
           "-c:v", "mpeg2video", "-q:v", "3", "letterbox.ts")
    p = run("--detect", "letterbox.ts")
    check("--detect on a letterboxed recording finds the 60-line bars in 50 samples, each once",
          p.returncode == 0 and "50 sampled frames" in p.stdout and "top 60, right 0, bottom 60" in p.stdout,
          p.stdout + p.stderr)


def windows_runs(start):
    """Under Wine: the programs that ran are the Windows ones of PATH; Ctrl+C and a kill during
    an encode end the run and every program it started."""
    encoder = probe("out.mp4", "format_tags=encoder")
    check("wine: OUT was written by the ffmpeg.exe on PATH, an ffmpeg 4 (Lavf58) that knows no -fps_mode",
          encoder[:1] and encoder[0].startswith("Lavf58."), repr(encoder))
    # An encode at x264's slowest preset outlasts any stop; its programs are found by the
    # recording's full name in their command lines.
    ffmpeg("-f", "lavfi", "-i", "testsrc2=size=640x480:rate=25", "-f", "lavfi", "-i", "sine", "-t", "20",
           "-c:v", "libx264", "-preset", "ultrafast", "-c:a", "aac", "long.ts")
    name = windows_path("long.ts").encode()
    programs = lambda: [pid for pid in map(int, filter(str.isdigit, os.listdir("/proc"))) if name in proc_file(pid, "cmdline")]
    stopped = lambda: [f for f in os.listdir(".") if "stopped" in f]
    # Ctrl+C in a Windows console reaches every program attached to it; Wine turns SIGINT
    # into that console event, so the group gets it as a terminal sends it. A kill ends
    # kvx-host.exe alone, without a word; the job its copy runs in ends the rest.
    for what, stop in (("Ctrl+C", lambda p: os.killpg(p.pid, signal.SIGINT)), ("a kill", lambda p: p.kill())):
        with open("stop.txt", "w+") as err:  # a file: a pipe would wait for whatever still holds it
            p = start(("--preset", "veryslow", windows_path("long.ts"), "stopped.mp4"), err)
            deadline = time.time() + 60
            while sum(proc_file(pid, "cmdline").startswith(b"ffmpeg") for pid in programs()) < 2 and time.time() < deadline:
                time.sleep(0.2)
            time.sleep(1)  # the encoder has begun to write
            running = programs()
            stop(p)
            try:
                p.wait(timeout=30)
            except subprocess.TimeoutExpired:
                p.kill()
            deadline = time.time() + 5
            while any(alive(pid) for pid in running) and time.time() < deadline:
                time.sleep(0.2)
            left = [proc_file(pid, "cmdline")[:40] for pid in running if alive(pid)]
            for pid in left and programs():  # the test's own programs, so that a failure ends here
                try:
                    os.kill(pid, signal.SIGKILL)
                except ProcessLookupError:
                    pass
            err.seek(0)
            message = err.read()
        check("wine: %s during the encode ends kvx-host.exe, its copy and both ffmpeg.exe (%d programs): none "
              "left running, no OUT" % (what, len(running)),
              len(running) >= 4 and not left and "stopped.mp4" not in stopped(), repr((left, stopped(), message)))
        if what == "Ctrl+C":
            check("wine: Ctrl+C: the run says so and removes its temporary file",
                  p.returncode == 1 and message.startswith("kvx-host: interrupted") and not stopped(), message)
    for f in stopped():
        os.remove(f)  # the killed run's hidden temporary beside OUT: nothing of it was left to remove it



if __name__ == "__main__":
    sys.exit(main())
