#!/usr/bin/env python3
"""kvx-host IN OUT as a user meets it, with short clips made by ffmpeg: lip-sync on a recording
that starts mid-GOP, audio shorter or longer than the video, what a failure and a normal run
print, the encode's quality options, subtitles and --detect's samples.

usage: video_file_mode.py BUILD_DIR
       video_file_mode.py --wine WIN32_BUILD_DIR WINDOWS_FFMPEG_DIR
With --wine, kvx-host.exe runs under Wine (environment from ./run) with the ffmpeg.exe and
ffprobe.exe of WINDOWS_FFMPEG_DIR on Windows' PATH (./run setup fetches ffmpeg 4.1 and
ffprobe 5.1): the same checks, then Ctrl+C and a kill. The clips are made and measured
with this machine's own ffmpeg either way.
"""
import os, re, shutil, signal, subprocess, sys, tempfile, time

sys.dont_write_bytecode = True  # no __pycache__ left in the source tree by the import below
from hostile_files import alive, read_cmdline

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


def playing_time(path):
    """How long a file plays: its longest stream (Matroska keeps the lengths as tags). The
    container's own total may add an encoder's padding: ffmpeg 4's MP4 counts AAC's last frame."""
    seconds = lambda v: sum(float(p) * 60 ** i for i, p in enumerate(reversed(v.split(":")))) if v != "N/A" else 0
    return max((seconds(v) for line in probe(path, "stream=duration:stream_tags=DURATION") for v in line.split(",")),
               default=0)


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
    with open("words.srt", "w") as f:
        f.write("1\n00:00:00,500 --> 00:00:01,500\nHello\n\n")
    ffmpeg("-f", "lavfi", "-i", flash(2), "-f", "lavfi", "-i", beep(2), "-i", "words.srt", "-map", "0", "-map", "1",
           "-map", "2", "-c:v", "libx264", "-preset", "ultrafast", "-c:a", "mp2", "-c:s", "srt", "subtitled.mkv")


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


def main():
    wine = sys.argv[1] == "--wine"
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

        def command(*args):
            return (["wine"] if wine else []) + ["./" + host, "--plugin", plugin] + list(args)

        def run(*args):
            return subprocess.run(command(*args), capture_output=True, text=True, env=env, timeout=120)

        scenarios(run)
        if wine:  # started as a terminal starts a program: in a process group of its own
            windows_runs(lambda args, err: subprocess.Popen(command(*args), env=env, stdin=subprocess.DEVNULL,
                                                            stdout=subprocess.DEVNULL, stderr=err,
                                                            start_new_session=True))
    finally:
        os.chdir("/")
        shutil.rmtree(work, ignore_errors=True)
    return 1 if failures else 0


# What OUT shows of IN as plain ffmpeg's OUT of the same recording shows it: what it is, how
# it is read from a file, and whether kvx-host's OUT shows it as plain ffmpeg's does.
SHOWN = (
    ("sound in lip-sync (within a frame)", audio_minus_video,
     lambda ours, plain: None not in (ours, plain) and abs(ours - plain) <= FRAME),
)


def scenarios(run):
    starts = dict(l.split(",") for l in probe("cut.ts", "stream=codec_type,start_time") if "," in l)
    check("the cut clip starts mid-GOP with sound before picture (what the next checks need)",
          float(starts["video"]) - float(starts["audio"]) > 0.1, str(starts))
    # The mid-GOP cut against plain ffmpeg on the same file; and nothing printed.
    for ext in ("mp4", "mkv"):
        ffmpeg("-i", "cut.ts", "plain." + ext, level="fatal")  # quiet about the frames before the key frame
        p = run("cut.ts", "out." + ext)
        for what, measure, same in SHOWN:
            plain, ours = measure("plain." + ext), measure("out." + ext)
            check("%s: a recording cut mid-GOP keeps its %s as plain ffmpeg does" % (ext, what),
                  p.returncode == 0 and same(ours, plain), "exit %d, OUT %s, plain ffmpeg %s %s" %
                  (p.returncode, ours, plain, p.stderr))
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

    p = run("--frames", "25", "short_audio.ts", "part.mkv")
    length = playing_time("part.mkv")
    check("--frames 25: OUT is 1 s long, its sound cut with the picture", p.returncode == 0 and
          abs(length - 1) <= 2 * FRAME, "exit %d, OUT %.3f s %s" % (p.returncode, length, p.stderr))

    # A failure only ffmpeg finds (FLV takes no MP2 sound): its reason, one kvx-host line, no
    # broken pipes and none of the decoder's complaints about the frames before the key frame.
    p = run("cut.ts", "failed.flv")
    lines = p.stderr.splitlines()
    check("a failed encode: ffmpeg's reason, then one kvx-host line; no 'Broken pipe'",
          p.returncode == 1 and [l for l in lines if l.startswith("kvx-host:")] == lines[-1:] and
          "could not encode failed.flv" in p.stderr and "roken pipe" not in p.stderr and "h264 @" not in p.stderr
          and len(lines) <= 4, p.stderr)

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

    # Subtitles: copied into mkv, converted to mov_text for mp4, a note where they cannot go.
    for ext, codec in (("mkv", "subrip"), ("mp4", "mov_text")):
        p = run("subtitled.mkv", "sub_out." + ext)
        check("subtitles into %s as %s" % (ext, codec),
              p.returncode == 0 and probe("sub_out." + ext, "stream=codec_name", "s") == [codec], p.stderr)
    p = run("subtitled.mkv", "sub_out.ts")
    check("subtitles a container cannot hold: a one-line note, the run goes on",
          p.returncode == 0 and p.stderr.startswith("kvx-host: note: ") and len(p.stderr.splitlines()) == 1
          and "subrip" in p.stderr, p.stderr)

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
    programs = lambda: [pid for pid in map(int, filter(str.isdigit, os.listdir("/proc"))) if name in read_cmdline(pid)]
    stopped = lambda: [f for f in os.listdir(".") if "stopped" in f]
    # Ctrl+C in a Windows console reaches every program attached to it; Wine turns SIGINT
    # into that console event, so the group gets it as a terminal sends it. A kill ends
    # kvx-host.exe alone, without a word; the job its copy runs in ends the rest.
    for what, stop in (("Ctrl+C", lambda p: os.killpg(p.pid, signal.SIGINT)), ("a kill", lambda p: p.kill())):
        with open("stop.txt", "w+") as err:  # a file: a pipe would wait for whatever still holds it
            p = start(("--preset", "veryslow", windows_path("long.ts"), "stopped.mp4"), err)
            deadline = time.time() + 60
            while sum(read_cmdline(pid).startswith(b"ffmpeg") for pid in programs()) < 2 and time.time() < deadline:
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
            left = [read_cmdline(pid)[:40] for pid in running if alive(pid)]
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
