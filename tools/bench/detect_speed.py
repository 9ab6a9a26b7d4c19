#!/usr/bin/env python3
"""Times kvx-host --detect against ffmpeg's plain decode of the same recording, as whole
processes, the two alternated pair by pair so that both meet the same load, and judges the
median ratio of wall times against its target (at most 1).

usage: detect_speed.py NATIVE_BUILD_DIR [PAIRS]

The recording is made here: 10 seconds of 1920x1080 at 25 frames per second, a 4:3 picture
pillarboxed, x264 at its default settings (B-frames referred to by other frames included),
AAC sound, in MP4. The decode it is compared with is `ffmpeg -v error -i clip.mp4 -f null -`.
CPU time counts the processes each command starts (ffprobe, ffmpeg)."""
import os, resource, statistics, subprocess, sys, tempfile, time

TARGET = 1.0


def timed(cmd):
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.monotonic()
    p = subprocess.run(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    wall = time.monotonic() - start
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    return p, wall, cpu


def main():
    if len(sys.argv) not in (2, 3):
        sys.exit("usage: detect_speed.py NATIVE_BUILD_DIR [PAIRS]")
    build = os.path.abspath(sys.argv[1])
    pairs = int(sys.argv[2]) if len(sys.argv) == 3 else 9
    with tempfile.TemporaryDirectory() as folder:
        clip = os.path.join(folder, "clip.mp4")
        subprocess.run(["ffmpeg", "-v", "error", "-f", "lavfi", "-i",
                        "testsrc2=size=1440x1080:rate=25,pad=1920:1080:240:0:black",
                        "-f", "lavfi", "-i", "sine", "-t", "10", "-c:v", "libx264", "-c:a", "aac", clip],
                       check=True)
        detect = [os.path.join(build, "kvx-host"), "--plugin", os.path.join(build, "KVX_Scaler.so"),
                  "--detect", clip, "--quiet"]
        decode = ["ffmpeg", "-v", "error", "-i", clip, "-f", "null", "-"]
        for cmd in (detect, decode):  # one warm-up run each
            timed(cmd)
        walls, cpus = [], []
        print("\nkvx-host --detect beside ffmpeg's plain decode, 10 s of 1080p x264 with B-frames, "
              "whole processes alternated:\n")
        print("| Pair | --detect wall s | decode wall s | wall ratio | CPU ratio |")
        print("|---|---|---|---|---|")
        for n in range(1, pairs + 1):
            a, wall_a, cpu_a = timed(detect)
            b, wall_b, cpu_b = timed(decode)
            if a.returncode != 0 or b.returncode != 0:
                sys.exit("detect_speed.py: a run failed (kvx-host %d, ffmpeg %d): %s" %
                         (a.returncode, b.returncode, (a.stderr + b.stderr).decode(errors="replace")[-2000:]))
            walls.append(wall_a / wall_b)
            cpus.append(cpu_a / cpu_b)
            print("| %d | %.3f | %.3f | %.2f | %.2f |" % (n, wall_a, wall_b, walls[-1], cpus[-1]))
    wall, cpu = statistics.median(walls), statistics.median(cpus)
    ok = wall <= TARGET
    print("\nmedian of %d pairs: wall %.2f x (%.2f to %.2f), CPU %.2f x; target at most %.2f x: %s" %
          (pairs, wall, min(walls), max(walls), cpu, TARGET, "met" if ok else "NOT MET"))
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
