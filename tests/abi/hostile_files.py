#!/usr/bin/env python3
"""kvx-host among hostile files: names that are one file, planted links, odd settings
sources, runs that end badly. Each check is a way a user's file was once lost or a run got
out of hand; none may come back.

usage: hostile_files.py NATIVE_BUILD_DIR [WIN32_BUILD_DIR]
With a Win32 build dir the checks that are about Windows run kvx-host.exe under Wine
(environment from ./run).
"""
import fcntl, glob, os, resource, shutil, signal, stat, struct, subprocess, sys, tempfile, termios, time

failures = []


def check(what, ok, detail=""):
    print(("ok   " if ok else "FAIL ") + what + ("" if ok else "  " + detail))
    if not ok:
        failures.append(what)


def write(path, data):
    with open(path, "wb") as f:
        f.write(data)


def read(path):
    with open(path, "rb") as f:
        return f.read()


def holds(path, data):
    """Whether the file `path` is there with `data` in it."""
    return os.path.isfile(path) and read(path) == data


class Host:
    """kvx-host and the plug-in in a folder of their own, with a TMPDIR of their own."""

    def __init__(self, build, wine=False):
        self.wine = wine
        self.dir = tempfile.mkdtemp(prefix="kvx-hostile-")
        exe, self.plugin = ("kvx-host.exe", "KVX_Scaler.dll") if wine else ("kvx-host", "KVX_Scaler.so")
        for f in (exe, self.plugin):
            shutil.copy(os.path.join(build, f), self.dir)
        self.exe = os.path.join(self.dir, exe)
        self.temp = os.path.join(self.dir, "tmp")
        os.mkdir(self.temp)
        self.env = dict(os.environ, TMPDIR=self.temp)
        self.tag = "wine: " if wine else ""

    def path(self, name):
        return os.path.join(self.dir, name)

    def cmd(self, args):
        return (["wine"] if self.wine else []) + [self.exe, "--plugin", self.plugin] + list(args)

    def run(self, *args, env=None, cwd=None, timeout=60, stdin=subprocess.DEVNULL):
        return subprocess.run(self.cmd(args), cwd=cwd or self.dir, env=env or self.env, capture_output=True,
                              timeout=timeout, stdin=stdin)

    def start(self, *args, env=None):
        """In a process group of its own, as a terminal starts it (Ctrl+C goes to the group)."""
        return subprocess.Popen(self.cmd(args), cwd=self.dir, env=env or self.env, stdin=subprocess.DEVNULL,
                                stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, start_new_session=True)

    def temp_folder(self):
        """Where the private folders go."""
        if self.wine:
            return glob.glob(os.path.join(os.environ["WINEPREFIX"], "drive_c", "users", "*", "Temp"))[0]
        return self.temp

    def private_folders(self):
        return glob.glob(os.path.join(self.temp_folder(), "kvx-host-*"))


def left_beside(folder, word=None):
    """Names in `folder` a run left: the hidden private folders its outputs are written in
    (glob skips names with a leading dot, so it cannot see them), or any holding `word`."""
    return [n for n in os.listdir(folder) if n.startswith(".kvx-host-") or (word and word in n)]


def file_size_limit(size):
    """What `ulimit -f` sets, for a child process."""
    return lambda: resource.setrlimit(resource.RLIMIT_FSIZE, (size, size))


def refused(p, code, words):
    return p.returncode == code and words.encode() in p.stderr and p.stderr.startswith(b"kvx-host: ")


def descendants(pid):
    """Processes started (directly or not) by `pid`, from /proc."""
    children = {}
    for entry in os.listdir("/proc"):
        if entry.isdigit():
            try:
                fields = read("/proc/%s/stat" % entry).rsplit(b")", 1)[1].split()
                children.setdefault(int(fields[1]), []).append(int(entry))
            except (OSError, IndexError):
                pass
    found, todo = [], [pid]
    while todo:
        for child in children.get(todo.pop(), []):
            found.append(child)
            todo.append(child)
    return found


def wait_for_family(pid, count=3, seconds=30):
    """The processes of a run once it works: its copy and the two ffmpegs."""
    deadline = time.time() + seconds
    family = descendants(pid)
    while len(family) < count and time.time() < deadline:
        time.sleep(0.2)
        family = descendants(pid)
    time.sleep(0.5)  # the encoder has begun to write
    return descendants(pid)


def copies(h, p):
    """The copy of kvx-host that the run `p` started in its private run folder."""
    if h.wine:  # a process of Wine's own, not one of p's: known by this host's TMPDIR
        own = b"\0TMPDIR=" + h.temp.encode() + b"\0"
        return [pid for pid in map(int, filter(str.isdigit, os.listdir("/proc")))
                if b"Temp\\kvx-host-" in proc_file(pid, "cmdline") and own in b"\0" + proc_file(pid, "environ")]
    program = os.path.join(h.temp, "kvx-host-").encode()
    return [pid for pid in descendants(p.pid) if proc_file(pid, "cmdline").startswith(program)]


def started_with_copy(h, output):
    """A long run of the pattern into `output`, once its copy has started (polled every 10 ms,
    so a kill can land as the copy starts), and the copy's processes."""
    p = h.start("--size", "1920x1080", "--pattern", "--frames", "5000", "--scale", "110", "--output", output)
    deadline = time.time() + 30
    found = []
    while not found and time.time() < deadline:
        time.sleep(0.01)
        found = copies(h, p)
    return p, found


def unread(pipe):
    """How many bytes written to `pipe` its reader has not taken yet."""
    return struct.unpack("i", fcntl.ioctl(pipe.fileno(), termios.FIONREAD, b"\0\0\0\0"))[0]


def alive(pid):
    try:
        return read("/proc/%d/stat" % pid).rsplit(b")", 1)[1].split()[0] != b"Z"
    except OSError:
        return False


def proc_file(pid, name):
    """/proc/PID/NAME (cmdline, environ), empty once the process is gone."""
    try:
        return read("/proc/%d/%s" % (pid, name))
    except OSError:
        return b""


def make_recording(path, seconds=2, size="160x120"):
    subprocess.run(["ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i", "testsrc=size=%s:rate=25" % size,
                    "-f", "lavfi", "-i", "sine", "-t", str(seconds), "-c:v", "libx264", "-c:a", "aac", path],
                   check=True)


def same_file_names(h):
    """Two names of one file: the source recording must survive whatever the spelling."""
    rec = h.path("rec.ts")
    make_recording(rec)
    original = read(rec)
    os.mkdir(h.path("media"))
    os.symlink(rec, h.path("link.ts"))
    os.link(rec, h.path("hard.ts"))
    for out in ("./rec.ts", "../%s/rec.ts" % os.path.basename(h.dir), "link.ts", "hard.ts", rec):
        p = h.run("--scale", "110", "rec.ts", out, "-y")
        check("IN rec.ts, OUT %s: refused as the same file, the recording kept" % out,
              refused(p, 2, "are the same file") and read(rec) == original, p.stderr.decode(errors="replace"))
    raw = h.path("r.yuv")
    write(raw, bytes(64 * 32 * 2 * 3))
    p = h.run("--size", "64x32", "--input", "r.yuv", "--output", "./r.yuv", "-y")
    check("--input r.yuv --output ./r.yuv: refused, the frames kept",
          refused(p, 2, "are the same file") and len(read(raw)) == 64 * 32 * 2 * 3)
    appended_to_input(h)
    write(h.path("s.ini"), b"[SETTINGS]\r\nCommon=1\r\n")
    p = h.run("--settings", "s.ini", "--size", "8x8", "--pattern", "--output", "./s.ini", "-y")
    check("--settings s.ini --output ./s.ini: refused, the settings kept",
          refused(p, 2, "are the same file") and read(h.path("s.ini")) == b"[SETTINGS]\r\nCommon=1\r\n")
    p = h.run("--size", "8x8", "--pattern", "--output", "./" + h.plugin, "-y")
    check("--output naming the plug-in: refused", refused(p, 2, "are the same file"))


def appended_to_input(h, tag=""):
    """Standard output that is the input would grow it without end: refused as cat does."""
    raw = h.path("r.yuv")
    write(raw, bytes(64 * 32 * 2 * 3))
    args = [os.path.basename(h.exe), "--plugin", h.plugin, "--size", "64x32", "--input", "r.yuv"]
    # Under Wine as a Windows user runs it: cmd opens the file (Wine's handles on Unix files tell
    # no identity). At most 64 MiB if it is not refused.
    command = ["wine", "cmd", "/c", " ".join(args + [">>", "r.yuv"])] if h.wine else [h.exe] + args[1:]
    with open(raw, "ab") as appended:
        p = subprocess.run(command, cwd=h.dir, env=h.env, timeout=60, stdin=subprocess.DEVNULL,
                           stdout=None if h.wine else appended, stderr=subprocess.PIPE,
                           preexec_fn=file_size_limit(64 << 20))
    check(tag + "--input r.yuv >> r.yuv: refused before any frame, the input not grown",
          refused(p, 2, "standard output is --input r.yuv") and len(read(raw)) == 64 * 32 * 2 * 3,
          p.stderr.decode(errors="replace"))


def existing_outputs(h):
    """An existing OUT is never replaced by surprise; a bad OUT is refused before any work."""
    rec = h.path("rec.ts")
    if not os.path.exists(rec):
        make_recording(rec)
    write(h.path("old.mp4"), b"keep me")
    p = h.run("rec.ts", "old.mp4")
    check("an existing OUT without -y: refused, kept", refused(p, 2, "already exists") and
          read(h.path("old.mp4")) == b"keep me")
    p = h.run("rec.ts", "old.mp4", "-y")
    check("an existing OUT with -y: replaced by the result", p.returncode == 0 and read(h.path("old.mp4")) != b"keep me",
          p.stderr.decode(errors="replace"))
    for out, words in (("missing/x.mp4", "does not exist"), ("x.webm", "cannot write H.264"),
                       ("noextension", "has no extension")):
        p = h.run("rec.ts", out)
        check("OUT %s: refused before any work, nothing left" % out,
              p.returncode != 0 and words.encode() in p.stderr and p.stderr.count(b"\n") == 1 and
              not left_beside(h.dir, out.split("/")[-1]), p.stderr.decode(errors="replace"))


def protocol_names(h):
    """Names reach ffmpeg as files: no protocol reads or writes what the user did not name."""
    for f in ("a.ts", "b.ts"):
        make_recording(h.path(f), 1)
    p = h.run("--scale", "110", "concat:a.ts|b.ts", "joined.mp4")
    check("IN concat:a.ts|b.ts is a file name (there is none), not two files joined",
          p.returncode != 0 and not os.path.exists(h.path("joined.mp4")))
    p = h.run("a.ts", "tee:x.mkv|y.mkv")
    check("OUT tee:x.mkv|y.mkv writes that one file, not x.mkv and y.mkv",
          p.returncode == 0 and os.path.exists(h.path("tee:x.mkv|y.mkv")) and
          not os.path.exists(h.path("x.mkv")) and not os.path.exists(h.path("y.mkv")),
          p.stderr.decode(errors="replace"))


def temporary_folders(h):
    """Any spelling of TMPDIR gives one private run, and killed runs leave nothing for long."""
    os.symlink(h.temp, h.path("tmp-link"))
    for tmpdir in (h.temp + "/", h.path("tmp-link"), "tmp"):
        env = dict(h.env, TMPDIR=tmpdir)
        try:
            p = h.run("--size", "8x8", "--pattern", "--output", "none", env=env, timeout=20)
            ok = p.returncode == 0 and not h.private_folders()
        except subprocess.TimeoutExpired:
            ok = False
        check("TMPDIR=%s: one private run, its folder removed" % tmpdir, ok)
        subprocess.run(["pkill", "-f", h.temp], check=False)  # whatever a failure left running
    # Another file system than kvx-host's own: the copy cannot be a hard link there.
    other = tempfile.mkdtemp(dir="/dev/shm")
    try:
        p = h.run("--size", "8x8", "--pattern", "--output", "none", env=dict(h.env, TMPDIR=other), timeout=20)
        check("TMPDIR on another file system (/dev/shm): the copy is copied and runs",
              p.returncode == 0 and not os.listdir(other), p.stderr.decode(errors="replace"))
    finally:
        shutil.rmtree(other, ignore_errors=True)
    # A TMPDIR that may not run programs (needs the right to mount; skipped without it).
    noexec = os.path.join(h.dir, "noexec")
    os.mkdir(noexec)
    if subprocess.run(["mount", "-t", "tmpfs", "-o", "noexec,size=64m", "tmpfs", noexec],
                      capture_output=True).returncode == 0:
        try:
            p = h.run("--size", "8x8", "--pattern", "--output", "none", env=dict(h.env, TMPDIR=noexec), timeout=20)
            check("a noexec TMPDIR: said so, with what to set",
                  refused(p, 1, "mounted noexec") and b"set TMPDIR" in p.stderr and not os.listdir(noexec))
        finally:
            subprocess.run(["umount", noexec])
    else:
        print("skip a noexec TMPDIR (no right to mount one here)")
    env = dict(h.env, KVX_HOST_PRIVATE_DIR=h.temp)
    p = h.run("--size", "8x8", "--pattern", "--output", "none", env=env, timeout=20)
    check("a stray KVX_HOST_PRIVATE_DIR: an error, never a copy that starts copies",
          refused(p, 1, "unset it") and not h.private_folders())


def user_folders(h):
    """Only what kvx-host made is removed: folders named like its private ones that no run
    made survive every run, new or old, whatever they hold; a live run's folder survives a
    run beside it, which does not wait for it; a killed run's folder goes."""
    live = subprocess.Popen(h.cmd(("--size", "8x8", "--input", "-", "--output", "none")), cwd=h.dir, env=h.env,
                            stdin=subprocess.PIPE, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    locks, deadline = [], time.time() + 30
    while not (locks and os.path.getsize(locks[0])) and time.time() < deadline:
        time.sleep(0.1)
        locks = glob.glob(os.path.join(h.temp_folder(), "kvx-host-*", "run.lock"))
    marker = read(locks[0]) if locks else b"(no live run)"
    temp, old, made = h.temp_folder(), time.time() - 7200, []
    target = h.path("linked-folder")  # what a link in TMPDIR points to

    def folder(path, mode, lock, owners=None):
        os.mkdir(path)
        write(os.path.join(path, "keep.txt"), b"keep")
        if lock == "link":
            write(h.path("marker.txt"), marker)
            os.symlink(h.path("marker.txt"), os.path.join(path, "run.lock"))
        elif lock is not None:
            write(os.path.join(path, "run.lock"), lock)
        os.chmod(path, mode)
        for name, owner in zip((path, os.path.join(path, "run.lock")), owners or ()):
            os.chown(name, owner, owner)
        os.utime(path, (old, old))

    # (name, what it is, how it is made): none is a folder a run of kvx-host made.
    rows = [("kvx-host-out", "an output folder", lambda p: folder(p, 0o755, None)),
            ("kvx-host-1.02-linux", "the unpacked release", lambda p: folder(p, 0o755, None)),
            ("kvx-host-new", "a new folder closed to others", lambda p: (folder(p, 0o700, None), os.utime(p))),
            ("kvx-host-a1b2c3", "a folder with a run.lock of its own (as long as the marker)",
             lambda p: folder(p, 0o700, marker.swapcase()))]
    if os.getuid() == 0:
        rows += [("kvx-host-others", "another user's folder with the marker",
                  lambda p: folder(p, 0o700, marker, (65534, 0))),
                 ("kvx-host-theirs", "a folder with another user's marker",
                  lambda p: folder(p, 0o700, marker, (0, 65534)))]
    if not h.wine:  # Wine knows no modes and shows a Unix link as what it points to
        rows += [("kvx-host-open", "a folder open to others with the marker", lambda p: folder(p, 0o755, marker)),
                 ("kvx-host-linked", "a folder whose run.lock links to the marker", lambda p: folder(p, 0o700, "link")),
                 ("kvx-host-link", "a link to a folder with the marker",
                  lambda p: (folder(target, 0o700, marker), os.symlink(target, p)))]
    for name, what, make in rows:
        make(os.path.join(temp, name))
        made.append(os.path.join(temp, name))
    start = time.time()
    try:
        p = h.run("--size", "8x8", "--pattern", "--output", "none", timeout=20)
        ok = p.returncode == 0 and time.time() - start < 10
    except subprocess.TimeoutExpired:
        ok = False
    check(h.tag + "a run beside a live one: done at once, the live run's folder kept",
          ok and locks and os.path.exists(locks[0]), repr(locks))
    live.kill()  # its copy ends with it; its folder is left over
    live.wait()
    time.sleep(1)
    h.run("--size", "8x8", "--pattern", "--output", "none")
    check(h.tag + "the killed run's folder is removed at the next start", locks and not os.path.exists(locks[0]))
    for (name, what, make), path in zip(rows, made):
        kept = os.path.join(target if os.path.islink(path) else path, "keep.txt")
        check(h.tag + "%s in TMPDIR (%s): kept with what it holds" % (what, name),
              os.path.exists(kept) and read(kept) == b"keep")
        if os.path.islink(path):
            os.remove(path)
        shutil.rmtree(path, ignore_errors=True)


def stops(h):
    """A stop ends the run within 3 s whatever its programs do, and none outlives it:
    ffprobe waiting on a FIFO named as IN, a decoder that ignores SIGTERM, the copy itself
    stuck; kvx-host stopped (SIGTERM) or killed (SIGKILL: its copy stops by itself, holding
    its folder till then)."""
    os.mkfifo(h.path("fifo.ts"))
    make_recording(h.path("stuck.ts"), 1)
    # A decoder (the ffmpeg writing frames to its standard output) that hangs and ignores
    # SIGTERM; the encoder is the real ffmpeg.
    stuck = h.path("stuck-bin")
    os.mkdir(stuck)
    write(os.path.join(stuck, "ffmpeg"), b'#!/bin/sh\ncase "$*" in *" -") trap "" TERM; exec sleep 60;; esac\n'
          b'exec %s "$@"\n' % shutil.which("ffmpeg").encode())
    os.chmod(os.path.join(stuck, "ffmpeg"), 0o755)
    stuck_env = dict(h.env, PATH=stuck + os.pathsep + h.env["PATH"])
    # (the case, IN and OUT, PATH, the processes to wait for, the stops, the seconds they may
    # take: ffprobe ends at once on its SIGTERM, what ignores it is killed after 2 s)
    for what, args, env, programs, signals, limit in (
            ("ffprobe waits on a FIFO as IN", ("fifo.ts", "f.mp4"), h.env, 2, (signal.SIGTERM, signal.SIGKILL), 1),
            ("a decoder ignores SIGTERM", ("stuck.ts", "s.mp4"), stuck_env, 3, (signal.SIGTERM, signal.SIGKILL), 3),
            ("the copy is stuck (SIGSTOP)", ("stuck.ts", "c.mp4"), stuck_env, 3, (signal.SIGSTOP,), 3)):
        for sig in signals:
            p = h.start(*args, env=env)
            family = wait_for_family(p.pid, programs)
            if sig == signal.SIGSTOP:
                os.kill(family[0], signal.SIGSTOP)
            p.send_signal(signal.SIGTERM if sig == signal.SIGSTOP else sig)
            start = time.time()
            if sig == signal.SIGKILL:  # a run beside the copy while it stops leaves its folder
                folders = h.private_folders()
                h.run("--size", "8x8", "--pattern", "--output", "none")
                copy_alive = alive(family[0])
                check("%s, kvx-host killed: a run beside its stopping copy leaves the copy's folder" % what,
                      not copy_alive or (folders and all(map(os.path.exists, folders))), repr(folders))
            while time.time() - start < limit and (p.poll() is None or any(alive(c) for c in family)):
                time.sleep(0.05)
            ended = p.poll() is not None and not any(alive(c) for c in family)
            took = "%.2f s" % (time.time() - start) if ended else "more"
            for c in family:
                if alive(c):
                    os.kill(c, signal.SIGKILL)
            err = p.communicate(timeout=20)[1]
            if sig == signal.SIGKILL:
                check("%s, SIGKILL: the copy and what it started (%d processes) end within %d s (%s)" %
                      (what, len(family), limit, took), ended)
            else:
                said = b"kvx-host: interrupted" in err
                check("%s, SIGTERM: kvx-host and its %d processes end within %d s (%s), say so, leave no folder" %
                      (what, len(family), limit, took), ended and said and not h.private_folders(),
                      err.decode(errors="replace"))
    h.run("--size", "8x8", "--pattern", "--output", "none")
    check("the stopped runs' folders are gone after the next run", not h.private_folders(), repr(h.private_folders()))


def killed_runs(h):
    """Killing kvx-host ends its copy and both ffmpegs; its folder goes at the next start;
    SIGTERM leaves no OUT and no temporary file."""
    rec = h.path("long.ts")
    make_recording(rec, 60, "320x240")
    p = h.start("--scale", "110", "long.ts", "killed.mp4")
    family = wait_for_family(p.pid)
    p.kill()
    p.wait()
    deadline = time.time() + 3  # far less than the job takes
    while time.time() < deadline and any(alive(c) for c in family):
        time.sleep(0.2)
    check("SIGKILL of kvx-host ends its copy and the ffmpegs (%d processes)" % len(family),
          len(family) >= 3 and not any(alive(c) for c in family))
    check("SIGKILL: no OUT", not os.path.exists(h.path("killed.mp4")))
    left = h.private_folders()
    h.run("--size", "8x8", "--pattern", "--output", "none")
    check("the killed run's private folder is removed at the next start",
          len(left) == 1 and not h.private_folders(), repr(left))
    # SIGTERM reaches kvx-host alone; Ctrl+C the whole group, so the encoder ends with it.
    for what, stop in (("SIGTERM", lambda p: p.send_signal(signal.SIGTERM)),
                       ("Ctrl+C", lambda p: os.killpg(p.pid, signal.SIGINT))):
        p = h.start("--scale", "110", "long.ts", "stopped.mp4")
        wait_for_family(p.pid)
        stop(p)
        err = p.communicate(timeout=20)[1]
        check(what + ": the run stops and says so, no OUT and no temporary file beside it",
              p.returncode != 0 and b"kvx-host: interrupted" in err and not left_beside(h.dir, "stopped") and
              not h.private_folders(), err.decode(errors="replace"))
    # Stopped while ffprobe reads IN: an ffprobe that then ends "successfully" with part of
    # its answer (here: none) is not taken for IN's ("holds no video stream").
    fake = h.path("fakebin")
    os.makedirs(fake, exist_ok=True)
    write(os.path.join(fake, "ffprobe"), b"#!/bin/sh\ntrap 'exit 0' INT TERM\nprintf '[STREAM]\\ncodec_type=audio\\n'\n"
          b"i=0; while [ $i -lt 30 ]; do sleep 0.1; i=$((i + 1)); done\n")
    os.chmod(os.path.join(fake, "ffprobe"), 0o755)
    p = h.start("--scale", "110", "long.ts", "probed.mp4", env=dict(h.env, PATH=fake + os.pathsep + os.environ["PATH"]))
    deadline = time.time() + 20
    while time.time() < deadline and not any(b"fakebin/ffprobe" in proc_file(c, "cmdline") for c in descendants(p.pid)):
        time.sleep(0.05)
    p.send_signal(signal.SIGINT)
    err = p.communicate(timeout=20)[1]
    check("Ctrl+C while ffprobe reads IN: says interrupted, not that IN holds no video",
          b"kvx-host: interrupted" in err and b"video stream" not in err, err.decode(errors="replace"))
    killed_copy(h)
    copy_killed_alone(h)
    # Stopped while it waits for frames: a read cut short by the signal, or an input that
    # then ends cleanly, is not taken for the input's end or blamed for the stop.
    write(h.path("kept.ini"), b"[SETTINGS]\r\nCommon=1\r\n")
    p = subprocess.Popen(h.cmd(("--detect", "-", "--size", "64x48", "--settings", "kept.ini", "--save")),
                         cwd=h.dir, env=h.env, stdin=subprocess.PIPE, stdout=subprocess.DEVNULL,
                         stderr=subprocess.PIPE)
    p.stdin.write(bytes([16, 128]) * 64 * 48 * 2)
    p.stdin.flush()
    deadline = time.time() + 30  # until the copy has read the frame, so it catches signals
    while unread(p.stdin) and time.time() < deadline:
        time.sleep(0.1)
    p.send_signal(signal.SIGTERM)
    time.sleep(0.5)
    p.stdin.close()
    err = p.stderr.read()
    p.wait(timeout=20)
    check("SIGTERM to --detect --save: says it was interrupted, the settings file stays as it was",
          p.returncode != 0 and b"kvx-host: interrupted" in err and
          read(h.path("kept.ini")) == b"[SETTINGS]\r\nCommon=1\r\n", err.decode(errors="replace"))


def copy_killed_alone(h, tag=""):
    """The copy killed from outside (out of memory, a kill): the program the user started says
    the run did not finish and fails, never exit 0 without OUT (Wine gives a killed process 0)."""
    p, found = started_with_copy(h, "alone.yuv")
    time.sleep(0.5)
    for pid in found:
        os.kill(pid, signal.SIGKILL)
    err = p.communicate(timeout=30)[1]
    check(tag + "the copy killed alone: the run fails and says it did not finish, no OUT",
          found and p.returncode != 0 and b"kvx-host: the run did not finish" in err and
          not os.path.exists(h.path("alone.yuv")), err.decode(errors="replace"))
    for f in left_beside(h.dir):  # the killed copy's; the next run writing there would remove it
        shutil.rmtree(os.path.join(h.dir, f), ignore_errors=True)


def killed_copy(h, tag=""):
    """Killed itself (SIGKILL, out of memory), the copy leaves OUT's private folder beside OUT;
    the next run writing into that folder removes what the run made there (not a link put in
    among it, nor what it points to), and nothing that only looks like such a folder."""
    p = subprocess.Popen(h.cmd(["--size", "64x32", "--input", "-", "--output", "lost.yuv"]), cwd=h.dir, env=h.env,
                         stdin=subprocess.PIPE, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    deadline = time.time() + 30
    while not glob.glob(os.path.join(h.dir, ".kvx-host-*", "lost.yuv")) and time.time() < deadline:
        time.sleep(0.1)
    time.sleep(0.5)  # the run has gone on to wait for its frames
    for pid in copies(h, p):
        os.kill(pid, signal.SIGKILL)
    p.wait(timeout=30)
    p.stdin.close()
    left = [os.path.join(h.dir, f) for f in left_beside(h.dir)]
    mine = h.path(".kvx-host-mine")
    os.mkdir(mine)
    write(os.path.join(mine, "notes"), b"mine")
    elsewhere = shutil.copytree(left[0], h.path("elsewhere")) if left else h.path("elsewhere")
    os.symlink(elsewhere, h.path(".kvx-host-link"))
    write(h.path("kept.txt"), b"kept")
    for f in left:
        os.symlink(h.path("kept.txt"), os.path.join(f, "planted"))
    temps = [os.listdir(f) for f in left]
    p = h.run("--size", "8x8", "--pattern", "--output", "next.yuv")
    inside = os.listdir(left[0]) if left else []
    check(tag + "SIGKILL of the copy leaves OUT's temporary; the next run in that folder removes what the run "
          "made there, not a link planted among it, a user's folder of that name nor one a link leads to",
          len(left) == 1 and "lost.yuv" in temps[0] and p.returncode == 0 and
          "planted" in inside and "lost.yuv" not in inside and
          holds(h.path("kept.txt"), b"kept") and
          sorted(left_beside(h.dir)) == sorted([".kvx-host-link", ".kvx-host-mine", os.path.basename(left[0])]) and
          holds(os.path.join(mine, "notes"), b"mine") and os.path.isdir(elsewhere) and len(os.listdir(elsewhere)) == 2,
          p.stderr.decode(errors="replace") + repr((left, left_beside(h.dir))))
    for f in [mine, elsewhere] + left:
        shutil.rmtree(f, ignore_errors=True)
    for f in (".kvx-host-link", "next.yuv", "kept.txt"):
        if os.path.lexists(h.path(f)):
            os.remove(h.path(f))


def outputs_at_the_end(h, tag=""):
    """The outputs take their names only when everything else has succeeded, and only as the
    files the run made: something that happens while a run waits for its frames on standard
    input, what the run must then have done, and what it leaves beside OUT (a planted link is
    not the run's to remove)."""
    write(h.path("old.yuv"), b"old")
    write(h.path("precious.txt"), b"precious")

    def edit_settings():
        write(h.path("s.ini"), b"[SETTINGS]\r\nCommon=1\r\n; edited meanwhile\r\n")

    def swap_for_link():
        for temp in glob.glob(os.path.join(h.dir, ".kvx-host-*", "swap.yuv")):
            os.remove(temp)
            os.symlink(h.path("precious.txt"), temp)

    def old_kept(p):
        return p.returncode == 1 and holds(h.path("old.yuv"), b"old")

    cases = (
        ("OUT created by someone else meanwhile, without -y: theirs is kept, the run fails",
         ["--output", "new.yuv"], lambda: write(h.path("new.yuv"), b"theirs"),
         lambda p: refused(p, 1, "created by someone else") and holds(h.path("new.yuv"), b"theirs"), []),
        ("--save then refuses (FILE edited meanwhile), with -y: the existing OUT is kept",
         ["--output", "old.yuv", "-y", "--settings", "s.ini", "--save", "--scale", "105"], edit_settings, old_kept, []),
        ("the PNG cannot be written (its folder removed meanwhile), with -y: the existing OUT is kept",
         ["--output", "old.yuv", "-y", "--compare", "pics/c.png"], lambda: os.rmdir(h.path("pics")), old_kept, []),
        ("the temporary swapped for a link meanwhile: refused, no link put in place of OUT, the link left",
         ["--output", "swap.yuv"], swap_for_link,
         lambda p: refused(p, 1, "was replaced by another program") and not os.path.lexists(h.path("swap.yuv")) and
         holds(h.path("precious.txt"), b"precious"), ["swap.yuv"]),
        ("another run writing beside it meanwhile: each keeps its own private folder",
         ["--output", "mine.yuv"], lambda: h.run("--size", "8x8", "--pattern", "--output", "other.yuv"),
         lambda p: p.returncode == 0 and os.path.isfile(h.path("mine.yuv")) and
         os.path.getsize(h.path("mine.yuv")) == 64 * 32 * 2 and os.path.exists(h.path("other.yuv")), []),
    )
    for what, args, during, expect, leaves in cases:
        write(h.path("s.ini"), b"[SETTINGS]\r\nCommon=1\r\n")
        os.makedirs(h.path("pics"), exist_ok=True)
        p = subprocess.Popen(h.cmd(["--size", "64x32", "--input", "-"] + args), cwd=h.dir, env=h.env,
                             stdin=subprocess.PIPE, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        p.stdin.write(bytes(64 * 32 * 2))
        p.stdin.flush()
        deadline = time.time() + 30  # until the output is begun in its private folder
        while not glob.glob(os.path.join(h.dir, ".kvx-host-*", args[1])) and time.time() < deadline:
            time.sleep(0.1)
        during()
        p.stdin.close()
        err = p.stderr.read()
        done = subprocess.CompletedProcess(p.args, p.wait(timeout=60), None, err)
        wanted, deadline = ([leaves] if leaves else []), time.time() + 3  # Wine may end a removal late
        while True:
            left = [sorted(os.listdir(os.path.join(h.dir, f))) for f in left_beside(h.dir)]
            if left == wanted or time.time() > deadline:
                break
            time.sleep(0.1)
        check(tag + what, expect(done) and left == wanted, err.decode(errors="replace") + repr(left_beside(h.dir)))
        for f in left_beside(h.dir):
            shutil.rmtree(os.path.join(h.dir, f))
    for f in ("new.yuv", "mine.yuv", "other.yuv"):
        if os.path.exists(h.path(f)):
            os.remove(h.path(f))


def output_limits(h):
    """A write that fails at the end is reported, never a short file put in place; names as
    long as the system takes work."""
    long_name = "x" * 251 + ".mp4"
    for what, args, preexec, ok in (
            ("a file size limit hit by the last flush (ulimit -f): reported, no short OUT",
             ("--size", "10x10", "--pattern", "--frames", "3", "--output", "short.yuv"), file_size_limit(300),
             lambda p: refused(p, 1, "File too large") and not os.path.exists(h.path("short.yuv"))),
            ("a file size limit hit by ffmpeg: reported, no short OUT",
             ("--scale", "110", "rec.ts", "short.mp4"), file_size_limit(8192),
             lambda p: p.returncode == 1 and not os.path.exists(h.path("short.mp4"))),
            ("an OUT name of 255 bytes, the system's limit", ("rec.ts", long_name), None,
             lambda p: p.returncode == 0 and os.path.getsize(h.path(long_name)) > 0)):
        p = subprocess.run(h.cmd(args), cwd=h.dir, env=h.env, capture_output=True, timeout=60,
                           stdin=subprocess.DEVNULL, preexec_fn=preexec)
        check(what, ok(p) and not left_beside(h.dir), p.stderr.decode(errors="replace"))
    if os.path.exists(h.path(long_name)):
        os.remove(h.path(long_name))


def settings_sources(h):
    """--settings takes settings files only: no endless read, no hang, no silent defaults, and
    no file of another kind, which --save would turn into a settings file."""
    os.mkfifo(h.path("fifo.ini"))
    with open(h.path("sparse.ini"), "wb") as f:
        f.truncate(2 << 30)
    for name, words in (("/dev/zero", "not a regular file"), ("fifo.ini", "not a regular file"),
                        ("sparse.ini", "far more than any settings file"), (h.dir, "a folder")):
        start = time.time()
        try:
            p = h.run("--settings", name, "--show-settings", timeout=20)
            ok = refused(p, 1, words) and time.time() - start < 10
        except subprocess.TimeoutExpired:
            ok = False
        check("--settings %s: refused at once" % os.path.basename(name), ok)
    make_recording(h.path("media.ts"), 1)
    write(h.path("unicode.ini"), "[COMMON]\r\nScaleX=1100\r\n".encode("utf-16"))
    write(h.path("notes.txt"), b"Things to take\nthe remote\n")
    write(h.path("picture.png"), b"\x89PNG\r\n\x1a\n" + bytes(64))
    shutil.copy(h.path(h.plugin), h.path("plugin-copy"))
    for name, words in (("media.ts", "an MPEG transport stream"), ("plugin-copy", "program or library"),
                        ("unicode.ini", "UTF-16"), ("notes.txt", "[SECTION] header or a Key=value line"),
                        ("picture.png", "a PNG picture")):
        before = read(h.path(name))
        for args in (("--save", "--scale", "105"), ("--show-settings",)):
            p = h.run("--settings", name, *args)
            check("--settings %s %s: refused as no settings file, the file kept" % (name, args[0]),
                  refused(p, 1, "is not a settings file: ") and words.encode() in p.stderr and
                  read(h.path(name)) == before, p.stderr.decode(errors="replace"))
    write(h.path("empty.ini"), b"")
    p = h.run("--settings", "empty.ini", "--save", "--scale", "105")
    check("--settings of an empty file --save: taken, the settings written",
          p.returncode == 0 and b"ScaleX=1050" in read(h.path("empty.ini")), p.stderr.decode(errors="replace"))


def settings_saves(h):
    """--save writes to what FILE is, and never over an edit made during the run."""
    write(h.path("target.ini"), b"[SETTINGS]\r\nCommon=1\r\n")
    os.symlink("target.ini", h.path("link.ini"))
    p = h.run("--settings", "link.ini", "--save", "--scale", "105")
    check("--save through a symlink: the link stays, its target gets the settings",
          p.returncode == 0 and os.path.islink(h.path("link.ini")) and b"ScaleX=1050" in read(h.path("target.ini")),
          p.stderr.decode(errors="replace"))
    os.link(h.path("target.ini"), h.path("twin.ini"))
    before = read(h.path("target.ini"))
    p = h.run("--settings", "twin.ini", "--save", "--scale", "95")
    check("--save to a hard-linked FILE: refused, both names unchanged",
          refused(p, 1, "hard links") and read(h.path("twin.ini")) == before)
    write(h.path("locked.ini"), b"[SETTINGS]\r\nCommon=1\r\n")
    os.chmod(h.path("locked.ini"), 0o444)
    p = h.run("--settings", "locked.ini", "--save", "--scale", "95")
    check("--save to a read-only FILE: refused, unchanged",
          (os.getuid() == 0 or refused(p, 1, "read-only")) and read(h.path("locked.ini")) == b"[SETTINGS]\r\nCommon=1\r\n"
          and (p.returncode != 0))
    # A null device of the test's own (a FIFO where devices cannot be made): a faulty
    # kvx-host must not be able to replace the system's /dev/null.
    device = h.path("null")
    try:
        os.mknod(device, 0o666 | stat.S_IFCHR, os.makedev(1, 3))
    except OSError:
        os.mkfifo(device)
    p = h.run("--settings", device, "--save", "--scale", "95")
    check("--save to a device: refused, the device left as it is",
          refused(p, 1, "not a regular file") and not stat.S_ISREG(os.lstat(device).st_mode))
    os.symlink("gone.ini", h.path("dangling.ini"))
    p = h.run("--settings", "dangling.ini", "--save", "--scale", "95")
    check("--save through a link to nothing: refused, the link kept, no file made where it points",
          refused(p, 1, "does not exist") and os.path.islink(h.path("dangling.ini")) and
          not os.path.exists(h.path("gone.ini")), p.stderr.decode(errors="replace"))
    # FILE changed while the run works, checked again at the moment of writing: an edit is
    # not overwritten with what the run started from, a deleted FILE is not made again, and
    # a FILE made read-only, given a second name or replaced by a link is not replaced.
    original, edited = b"[SETTINGS]\r\nCommon=1\r\n", b"[SETTINGS]\r\nCommon=1\r\n; edited meanwhile\r\n"

    def linked(target):
        def change(f):
            os.remove(f)
            os.symlink(target, f)
        return change
    write(h.path("copy.ini"), original)
    for n, (what, start, change, words, after) in enumerate((
            ("edited", original, lambda f: write(f, edited), "changed by someone else", lambda f: read(f) == edited),
            ("deleted", original, os.remove, "deleted or renamed", lambda f: not os.path.lexists(f)),
            ("made read-only", original, lambda f: os.chmod(f, 0o444), "read-only", lambda f: read(f) == original),
            ("given a second name", original, lambda f: os.link(f, f + ".twin"), "hard links",
             lambda f: read(f) == original),
            ("replaced by a link to a copy", original, linked("copy.ini"), "changed by someone else",
             lambda f: os.path.islink(f) and read(f) == original),
            ("replaced by a link to nothing", original, linked("gone.ini"), "does not exist",
             lambda f: os.path.islink(f) and not os.path.exists(h.path("gone.ini"))),
            ("made (it was new at the start)", None, lambda f: write(f, edited), "made by someone else",
             lambda f: read(f) == edited))):
        name = "changing%d.ini" % n
        if start is not None:
            write(h.path(name), start)
        p = subprocess.Popen(h.cmd(["--settings", name, "--save", "--scale", "105", "--size", "64x32",
                                    "--input", "-", "--output", "none"]), cwd=h.dir, env=h.env,
                             stdin=subprocess.PIPE, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        p.stdin.write(bytes(64 * 32 * 2))
        p.stdin.flush()
        # Once the copy has put FILE where the plug-in reads it, the run has read FILE.
        deadline = time.time() + 30
        while not glob.glob(os.path.join(h.temp, "kvx-host-*", "Plugins", "*.ini")) and time.time() < deadline:
            time.sleep(0.1)
        change(h.path(name))
        err = p.communicate(timeout=60)[1]
        check("FILE %s during --save's run: left as it is, and the run says so" % what,
              p.returncode == 1 and words.encode() in err and after(h.path(name)), err.decode(errors="replace"))
    parallel_saves(h, 16, "")


def parallel_saves(h, count, tag):
    """Runs saving to one file at once take turns, also while the file is new: each either
    lands or says it did not; none is lost silently."""
    for start in (b"[SETTINGS]\r\nCommon=0\r\n", None):
        if start is None:
            os.remove(h.path("many.ini"))
        else:
            write(h.path("many.ini"), start)
        runs = [h.start("--settings", "many.ini", "--save", "--per-channel", "on", "--channel", str(100 + i),
                        "--scale", "105") for i in range(count)]
        codes = [r.wait(timeout=120) for r in runs]
        text = read(h.path("many.ini"))
        kept = [i for i in range(count) if b"[%d]" % (100 + i) in text]
        check("%s%d parallel --save runs to a%s file: every run that succeeded kept its record (%d did)" %
              (tag, count, " new" if start is None else "n existing", codes.count(0)),
              kept and sorted(kept) == [i for i, c in enumerate(codes) if c == 0] and set(codes) <= {0, 1},
              repr((codes, kept)))


def save_turns(h):
    """A save waits for another's turn, but not for ever and not through Ctrl+C. A save
    killed meanwhile leaves its marked folder beside FILE, which the next save there removes;
    nothing else is removed: not by its name alone, not another user's, not a live save's."""
    folder = h.path("turns")
    os.mkdir(folder)
    ini = os.path.join(folder, "t.ini")
    write(ini, b"[SETTINGS]\r\nCommon=1\r\n")
    held = os.open(folder, os.O_RDONLY)
    fcntl.flock(held, fcntl.LOCK_EX)  # the turn of a save that does not end
    runs = {what: h.start("--settings", "turns/t.ini", "--save", "--scale", "105")
            for what in ("killed", "stopped", "waiting")}
    saves = lambda: glob.glob(os.path.join(folder, ".kvx-host-save-*"))
    deadline = time.time() + 30  # each writes its new text, then waits for its turn
    while len(saves()) < 3 and time.time() < deadline:
        time.sleep(0.1)
    for pid in descendants(runs["killed"].pid):
        os.kill(pid, signal.SIGKILL)
    runs["killed"].wait(timeout=20)

    def finish(p, seconds):
        try:
            return p.communicate(timeout=seconds)[1]
        except subprocess.TimeoutExpired:
            os.killpg(p.pid, signal.SIGKILL)
            p.wait()
            return b"(still running after %d s)" % seconds
    os.killpg(runs["stopped"].pid, signal.SIGINT)
    err = finish(runs["stopped"], 3)
    check("Ctrl+C while a save waits for its turn: it ends at once and says so",
          runs["stopped"].returncode != 0 and b"kvx-host: interrupted" in err, err.decode(errors="replace"))
    err = finish(runs["waiting"], 60)
    check("a save that waits for its turn longer than any save gives up and says so",
          runs["waiting"].returncode == 1 and err.startswith(b"kvx-host: ") and
          b"is being saved by another program" in err and b"try again" in err,
          err.decode(errors="replace"))
    left = saves()
    check("FILE is kept, and only the killed save left its folder",
          read(ini) == b"[SETTINGS]\r\nCommon=1\r\n" and len(left) == 1, repr(left))
    marker = read(os.path.join(left[0], "kvx-host.save")) if len(left) == 1 else b"(none)"
    # Folders that are not provably a killed save's: each is kept with all it holds.
    kept = []

    def plant(name, files, owner=None):
        path = os.path.join(folder, ".kvx-host-save-" + name)
        os.mkdir(path, 0o700)
        for f, data in files.items():
            write(os.path.join(path, f), data)
            kept.append(os.path.join(path, f))
        if owner is not None:
            os.chown(path, owner, owner)
        return path
    plant("nomarker", {"settings.new": b"x"})
    plant("otherwords", {"kvx-host.save": marker.replace(b"kvx-host", b"somebody")})
    plant("extra", {"kvx-host.save": marker, "notes.txt": b"keep"})
    live = os.open(os.path.join(plant("live", {"kvx-host.save": marker}), "kvx-host.save"), os.O_RDONLY)
    fcntl.flock(live, fcntl.LOCK_EX)
    if os.getuid() == 0:
        plant("otheruser", {"kvx-host.save": marker}, owner=65534)
    elsewhere = h.path("elsewhere")
    os.mkdir(elsewhere)
    write(os.path.join(elsewhere, "kvx-host.save"), marker)
    os.symlink(elsewhere, os.path.join(folder, ".kvx-host-save-link"))
    kept += [os.path.join(folder, ".kvx-host-save-link"), os.path.join(elsewhere, "kvx-host.save")]
    os.close(held)
    p = h.run("--settings", "turns/t.ini", "--save", "--scale", "105")
    check("the next save there removes the killed save's folder",
          p.returncode == 0 and len(left) == 1 and not os.path.exists(left[0]) and b"ScaleX=1050" in read(ini),
          p.stderr.decode(errors="replace"))
    check("... and keeps every folder that is not provably one (no marker, other words, more files, a live "
          "save's, another user's, a link)", all(os.path.lexists(k) for k in kept),
          repr([k for k in kept if not os.path.lexists(k)]))
    os.close(live)
    global SAVE_MARKER
    SAVE_MARKER = marker


SAVE_MARKER = b""  # what a killed save's marker holds, for the Windows side


def planted_links(h):
    """Temporary files beside FILE get names nobody can plant a link under ahead of time."""
    victim = h.path("victim.txt")
    write(victim, b"precious")
    write(h.path("plant.ini"), b"[SETTINGS]\r\nCommon=1\r\n")
    last = int(read("/proc/sys/kernel/ns_last_pid"))
    for pid in range(last + 1, last + 400):
        os.symlink(victim, h.path("plant.ini.kvx-host-%d.tmp" % pid))
    p = h.run("--settings", "plant.ini", "--save", "--scale", "105")
    check("links planted under the old temporary names: the file they point to is untouched",
          p.returncode == 0 and read(victim) == b"precious" and b"ScaleX=1050" in read(h.path("plant.ini")),
          p.stderr.decode(errors="replace"))


def settings_workflow(h):
    """Setting options say where they go; allowed hand edits never make a run fail."""
    per_channel = b"[SETTINGS]\r\nCommon=0\r\n[COMMON]\r\nScaleX=1000\r\n[42]\r\nScaleX=1100\r\n"
    write(h.path("tv.ini"), per_channel)
    p = h.run("--settings", "tv.ini", "--save", "--scale", "95")
    check("setting options on a per-channel FILE without --channel: refused with a hint, FILE unchanged",
          refused(p, 2, "--channel KEY") and read(h.path("tv.ini")) == per_channel)
    p = h.run("--settings", "tv.ini", "--scale", "95", "--size", "8x8", "--pattern", "--output", "none")
    check("... and without --save too, before any frame", refused(p, 2, "--channel KEY"))
    p = h.run("--settings", "tv.ini", "--save", "--per-channel", "off", "--scale", "95")
    saved = read(h.path("tv.ini"))
    check("--per-channel off on a per-channel FILE: one set for all channels, saved",
          p.returncode == 0 and b"Common=1\r\n" in saved and b"[COMMON]\r\nProcEnable=1\r\nOffsetX=0\r\nOffsetY=0\r\n"
          b"ScaleX=950\r\n" in saved and b"[42]\r\nProcEnable=0\r\nOffsetX=0\r\nOffsetY=0\r\nScaleX=1100\r\n" in saved,
          p.stderr.decode(errors="replace") + repr(saved))
    # A run that fails part-way (input ending inside a frame) leaves FILE as it was.
    write(h.path("partial.raw"), bytes(64 * 32 * 2 + 100))
    write(h.path("keep.ini"), b"[SETTINGS]\r\nCommon=1\r\n")
    p = h.run("--settings", "keep.ini", "--save", "--scale", "105", "--size", "64x32", "--input", "partial.raw",
              "--output", "none")
    check("a run that fails part-way: --settings FILE --save leaves FILE unsaved",
          refused(p, 1, "ends inside frame") and read(h.path("keep.ini")) == b"[SETTINGS]\r\nCommon=1\r\n",
          p.stderr.decode(errors="replace"))
    write(h.path("default.ini"), b"[SETTINGS]\r\nCommon=0\r\n[DEFAULT]\r\nScaleX=1200\r\nScaleY=1200\r\n")
    p = h.run("--settings", "default.ini", "--show-settings", "--channel", "7")
    check("a [DEFAULT] section: --show-settings works and shows its values for a new channel",
          p.returncode == 0 and b"scale-x       120.0 %" in p.stdout, p.stderr.decode(errors="replace"))
    p = h.run("--settings", "default.ini", "--per-channel", "on", "--channel", "7", "--size", "8x8", "--pattern",
              "--output", "none")
    check("a [DEFAULT] section: --per-channel on --channel K runs", p.returncode == 0,
          p.stderr.decode(errors="replace"))


def windows_names(h):
    """Under Wine: case, .\\ and the full Z:\\ path name one file; ffmpeg is never taken
    from the current folder."""
    rec = h.path("case.ts")
    make_recording(rec, 1)
    original = read(rec)
    for out in ("CASE.TS", ".\\case.ts", "Z:" + rec.replace("/", "\\")):
        p = h.run("case.ts", out, "-y")
        check("wine: IN case.ts, OUT %s: refused as the same file" % out,
              refused(p, 2, "are the same file") and read(rec) == original, p.stderr.decode(errors="replace"))
    # A link placed in the private folder during a run is removed, not followed.
    victim = h.path("victim")
    os.mkdir(victim)
    write(os.path.join(victim, "keep.txt"), b"precious")
    p = h.start("--size", "1920x1080", "--pattern", "--frames", "2000", "--scale", "110", "--output", "none")
    deadline = time.time() + 30
    while not h.private_folders() and time.time() < deadline:
        time.sleep(0.2)
    planted = []
    for f in h.private_folders():
        try:
            os.symlink(victim, os.path.join(f, "link"))
            planted.append(f)
        except OSError:
            pass  # the run ended meanwhile
    p.wait(timeout=120)
    # (Wine cannot remove a Unix link to a folder through RemoveDirectoryW, so the link and
    # its folder may stay, and with them the folder's lock file, by which a later run knows
    # the folder; Windows removes a junction or folder link that way.)
    left = [os.path.join(f, n) for f in h.private_folders() for n in os.listdir(f)]
    check("wine: a link planted in the private folder is not followed: what it points to is kept",
          planted and os.path.exists(os.path.join(victim, "keep.txt")) and
          all(os.path.islink(f) or f.endswith("run.lock") for f in left), repr(left))
    kept = [f for f in planted if os.path.exists(f)]
    check("wine: a private folder that could not be removed whole keeps its lock file",
          kept and all(os.path.exists(os.path.join(f, "run.lock")) for f in kept), repr(left))
    for f in h.private_folders():
        shutil.rmtree(f, ignore_errors=True)
    # Killing kvx-host.exe ends its copy, the moment the copy exists or while it works (the
    # run is a job that dies with it); the folder it leaves goes at the next start.
    for when, delay in (("as its copy starts", 0), ("while its copy works", 1)):
        p, found = started_with_copy(h, "none")
        time.sleep(delay)
        p.kill()
        p.wait()
        deadline = time.time() + 10
        while time.time() < deadline and any(alive(c) for c in found):
            time.sleep(0.2)
        check("wine: killing kvx-host.exe %s ends the copy" % when, found and not any(alive(c) for c in found),
              repr(found))
        h.run("--size", "8x8", "--pattern", "--output", "none")
        check("wine: the killed run's folder is removed at the next start", not h.private_folders(),
              repr(h.private_folders()))
    parallel_saves(h, 6, "wine: ")
    appended_to_input(h, "wine: ")
    copy_killed_alone(h, "wine: ")
    outputs_at_the_end(h, "wine: ")
    killed_copy(h, "wine: ")
    p = h.run("--settings", "case.ts", "--save", "--scale", "105")
    check("wine: --settings of a recording --save: refused, the recording kept",
          refused(p, 1, "is not a settings file") and read(rec) == original, p.stderr.decode(errors="replace"))
    # A killed save's folder under Windows' rules: a proven one goes, one holding more stays.
    planted = {}
    for name, files in (("killed", {"kvx-host.save": SAVE_MARKER, "settings.new": b"x"}),
                        ("extra", {"kvx-host.save": SAVE_MARKER, "notes.txt": b"keep"})):
        planted[name] = h.path(".kvx-host-save-" + name)
        os.mkdir(planted[name])
        for f, data in files.items():
            write(os.path.join(planted[name], f), data)
    p = h.run("--settings", "w.ini", "--save", "--scale", "105")
    check("wine: the next save removes a killed save's folder and keeps one that holds more",
          p.returncode == 0 and not os.path.exists(planted["killed"]) and os.path.exists(planted["extra"]),
          p.stderr.decode(errors="replace"))
    shutil.rmtree(planted["extra"], ignore_errors=True)
    # A decoy ffprobe.exe beside the recording: kvx-host.exe itself, which would complain
    # about its command line if it were run.
    shutil.copy(h.exe, h.path("ffprobe.exe"))
    shutil.copy(h.exe, h.path("ffmpeg.exe"))
    p = h.run("case.ts", "decoy.mp4")
    check("wine: ffprobe.exe in the current folder is not run",
          p.returncode != 0 and b"is required" not in p.stderr and b"PATH" in p.stderr,
          p.stderr.decode(errors="replace"))


def main():
    native = Host(sys.argv[1])
    try:
        for group in (same_file_names, existing_outputs, output_limits, outputs_at_the_end, protocol_names,
                      temporary_folders, user_folders, stops, killed_runs, settings_sources, settings_saves,
                      save_turns, planted_links, settings_workflow):
            group(native)
    finally:
        subprocess.run(["pkill", "-f", native.dir], check=False)
        shutil.rmtree(native.dir, ignore_errors=True)
    if len(sys.argv) > 2:
        wine = Host(sys.argv[2], wine=True)
        try:
            windows_names(wine)
            user_folders(wine)
        finally:
            shutil.rmtree(wine.dir, ignore_errors=True)
    print("%d checks failed" % len(failures) if failures else "every hostile-file check passed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
