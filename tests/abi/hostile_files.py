#!/usr/bin/env python3
"""kvx-host among hostile files: names that are one file, planted links, odd settings
sources, runs that end badly. Each check is a way a user's file was once lost or a run got
out of hand; none may come back.

usage: hostile_files.py NATIVE_BUILD_DIR [WIN32_BUILD_DIR]
With a Win32 build dir the checks that are about Windows run kvx-host.exe under Wine
(environment from ./run).
"""
import fcntl, glob, os, shutil, signal, stat, struct, subprocess, sys, tempfile, termios, time

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


def unread(pipe):
    """How many bytes written to `pipe` its reader has not taken yet."""
    return struct.unpack("i", fcntl.ioctl(pipe.fileno(), termios.FIONREAD, b"\0\0\0\0"))[0]


def alive(pid):
    try:
        return read("/proc/%d/stat" % pid).rsplit(b")", 1)[1].split()[0] != b"Z"
    except OSError:
        return False


def read_proc(pid, what):
    """/proc/PID/WHAT ("cmdline", "environ"); b"" once the process is gone."""
    try:
        return read("/proc/%d/%s" % (pid, what))
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
    write(h.path("s.ini"), b"[SETTINGS]\r\nCommon=1\r\n")
    p = h.run("--settings", "s.ini", "--size", "8x8", "--pattern", "--output", "./s.ini", "-y")
    check("--settings s.ini --output ./s.ini: refused, the settings kept",
          refused(p, 2, "are the same file") and read(h.path("s.ini")) == b"[SETTINGS]\r\nCommon=1\r\n")
    p = h.run("--size", "8x8", "--pattern", "--output", "./" + h.plugin, "-y")
    check("--output naming the plug-in: refused", refused(p, 2, "are the same file"))


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
              not glob.glob(h.path("*" + out.split("/")[-1] + "*")), p.stderr.decode(errors="replace"))


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
    for f in glob.glob(h.path(".killed.mp4.kvx-*")):
        os.remove(f)  # the copy, killed by the test's own clean-up below if need be
    # SIGTERM reaches kvx-host alone; Ctrl+C the whole group, so the encoder ends with it.
    for what, stop in (("SIGTERM", lambda p: p.send_signal(signal.SIGTERM)),
                       ("Ctrl+C", lambda p: os.killpg(p.pid, signal.SIGINT))):
        p = h.start("--scale", "110", "long.ts", "stopped.mp4")
        wait_for_family(p.pid)
        stop(p)
        err = p.communicate(timeout=20)[1]
        check(what + ": the run stops and says so, no OUT and no temporary file beside it",
              p.returncode != 0 and b"kvx-host: interrupted" in err and not glob.glob(h.path("*stopped*")) and
              not h.private_folders(), err.decode(errors="replace"))
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


def settings_sources(h):
    """--settings takes settings files only: no endless read, no hang, no silent defaults."""
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
    # An edit made while the run works is not overwritten with what the run started from.
    write(h.path("shared.ini"), b"[SETTINGS]\r\nCommon=1\r\n")
    p = subprocess.Popen(h.cmd(["--settings", "shared.ini", "--save", "--scale", "105", "--size", "64x32",
                                "--input", "-", "--output", "none"]), cwd=h.dir, env=h.env,
                         stdin=subprocess.PIPE, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    p.stdin.write(bytes(64 * 32 * 2))
    p.stdin.flush()
    # Once the copy has put FILE where the plug-in reads it, the run has read FILE.
    deadline = time.time() + 30
    while not glob.glob(os.path.join(h.temp, "kvx-host-*", "Plugins", "*.ini")) and time.time() < deadline:
        time.sleep(0.1)
    write(h.path("shared.ini"), b"[SETTINGS]\r\nCommon=1\r\n; edited meanwhile\r\n")
    err = p.communicate(timeout=60)[1]
    check("an edit made during --save's run is kept, and the run says so",
          p.returncode == 1 and b"changed by someone else" in err and b"edited meanwhile" in read(h.path("shared.ini")),
          err.decode(errors="replace"))
    parallel_saves(h, 16, "")


def parallel_saves(h, count, tag):
    """Runs saving to one file at once take turns: each either lands or says it did not;
    none is lost silently."""
    write(h.path("many.ini"), b"[SETTINGS]\r\nCommon=0\r\n")
    runs = [h.start("--settings", "many.ini", "--save", "--channel", str(100 + i), "--scale", "105")
            for i in range(count)]
    codes = [r.wait(timeout=120) for r in runs]
    text = read(h.path("many.ini"))
    kept = [i for i in range(count) if b"[%d]" % (100 + i) in text]
    check("%s%d parallel --save runs: every run that succeeded kept its record (%d did)" % (tag, count, codes.count(0)),
          kept and sorted(kept) == [i for i, c in enumerate(codes) if c == 0] and set(codes) <= {0, 1},
          repr((codes, kept)))


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
        p = h.start("--size", "1920x1080", "--pattern", "--frames", "5000", "--scale", "110", "--output", "none")
        deadline = time.time() + 30
        copies = []
        while not copies and time.time() < deadline:
            time.sleep(0.01)
            copies = [pid for pid in map(int, filter(str.isdigit, os.listdir("/proc")))
                      if b"Temp\\kvx-host-" in read_proc(pid, "cmdline") and
                      h.temp.encode() in read_proc(pid, "environ")]  # not another test's
        time.sleep(delay)
        p.kill()
        p.wait()
        deadline = time.time() + 10
        while time.time() < deadline and any(alive(c) for c in copies):
            time.sleep(0.2)
        check("wine: killing kvx-host.exe %s ends the copy" % when, copies and not any(alive(c) for c in copies),
              repr(copies))
        h.run("--size", "8x8", "--pattern", "--output", "none")
        check("wine: the killed run's folder is removed at the next start", not h.private_folders(),
              repr(h.private_folders()))
    parallel_saves(h, 6, "wine: ")
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
        for group in (same_file_names, existing_outputs, protocol_names, temporary_folders, user_folders, stops,
                      killed_runs, settings_sources, settings_saves, planted_links, settings_workflow):
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
