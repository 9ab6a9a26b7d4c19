#!/usr/bin/env python3
"""kvx-host IN OUT as a user meets it, with short clips made by ffmpeg: lip-sync on a recording
that starts mid-GOP, audio shorter or longer than the video, what a failure and a normal run
print, the encode's quality options and subtitles.

usage: video_file_mode.py BUILD_DIR
Native only: under Wine, kvx-host.exe needs an ffmpeg for Windows, which this machine lacks.
"""
import os, re, shutil, subprocess, sys, tempfile

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


def main():
    build = os.path.abspath(sys.argv[1])
    work = tempfile.mkdtemp(prefix="kvx-video-")
    try:
        os.chdir(work)
        for f in ("kvx-host", "KVX_Scaler.so"):
            shutil.copy(os.path.join(build, f), work)
        make_clips()

        def run(*args):
            return subprocess.run(["./kvx-host", "--plugin", "KVX_Scaler.so"] + list(args), capture_output=True,
                                  text=True)

        scenarios(run)
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
        length = float((probe(out, "format=duration") or ["0"])[0])
        check("%s.%s into %s: exit 0, OUT as long as the video (%.2f s)" % (name, source, ext, video),
              p.returncode == 0 and abs(length - video) <= 2 * FRAME,
              "exit %d, OUT %.3f s %s" % (p.returncode, length, p.stderr))

    p = run("--frames", "25", "short_audio.ts", "part.mkv")
    length = float((probe("part.mkv", "format=duration") or ["0"])[0])
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


if __name__ == "__main__":
    sys.exit(main())
