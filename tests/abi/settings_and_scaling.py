#!/usr/bin/env python3
"""The settings file and the scaled picture, end to end through kvx-host and the real plug-in.

usage: settings_and_scaling.py NATIVE_BUILD_DIR [WIN32_BUILD_DIR]
With a Win32 build dir the same scenarios also run with the DLL under Wine (environment from
./run), and the two plug-ins must produce byte-identical frames.
"""
import glob, os, random, shutil, subprocess, sys, tempfile

W, H = 720, 576
FOURTEEN_LINES = (b"[DIALOG]\r\nDlgWndPosX=-100\r\nDlgWndPosY=-100\r\n[SETTINGS]\r\nCommon=1\r\n"
                  b"[COMMON]\r\nProcEnable=0\r\nOffsetX=0\r\nOffsetY=0\r\nScaleX=1000\r\nScaleY=1000\r\n"
                  b"KeepAspect=1\r\nInterlace=1\r\nDeinterlace=0\r\n")
failures = []


def check(what, ok, detail=""):
    print(("ok   " if ok else "FAIL ") + what + ("" if ok else "  " + detail))
    if not ok:
        failures.append(what)


class Host:
    """A folder of its own with kvx-host and the plug-in; settings come from --settings FILE."""

    def __init__(self, build, wine):
        self.wine = wine
        self.dir = tempfile.mkdtemp(prefix="kvx-")
        exe, plugin = ("kvx-host.exe", "KVX_Scaler.dll") if wine else ("kvx-host", "KVX_Scaler.so")
        for f in (exe, plugin):
            shutil.copy(os.path.join(build, f), self.dir)
        self.cmd = (["wine"] if wine else []) + ["./" + exe, "--plugin", plugin]
        # Private folders are made under TMPDIR natively, in the prefix's Temp folder under Wine.
        self.temp = os.path.join(self.dir, "tmp")
        os.mkdir(self.temp)
        self.env = dict(os.environ) if wine else dict(os.environ, TMPDIR=self.temp)

    def ini(self, name="settings.ini"):
        return os.path.join(self.dir, name)

    def write_ini(self, text, name="settings.ini"):
        with open(self.ini(name), "wb") as f:
            f.write(text.replace(b"\n", b"\r\n"))

    def run(self, frames_in=b"", args=(), fmt="yuyv", size=(W, H), settings="settings.ini", check=True):
        cmd = self.cmd + ["--size", "%dx%d" % size, "--format", fmt] + list(args)
        if settings and os.path.exists(self.ini(settings)) and "--settings" not in args:
            cmd += ["--settings", settings]
        if not frames_in:
            cmd += ["--pattern", "--frames", "0", "--output", "none"]
        p = subprocess.run(cmd, input=frames_in, cwd=self.dir, env=self.env, capture_output=True)
        if check and p.returncode != 0:
            raise RuntimeError("kvx-host failed: %s" % p.stderr.decode(errors="replace"))
        return p.stdout if check else p

    def left_behind(self):
        """Whatever runs left beside the two programs and the settings files given, and
        private folders not removed."""
        temp = glob.glob(os.path.join(os.environ.get("WINEPREFIX", "/nonexistent"), "drive_c", "users", "*", "Temp",
                                      "kvx-host-*")) if self.wine else os.listdir(self.temp)
        return temp + sorted(f for f in os.listdir(self.dir) if not f.endswith((".ini", ".exe", ".dll", ".so"))
                             and f not in ("kvx-host", "tmp"))

    def close(self):
        shutil.rmtree(self.dir, ignore_errors=True)


def random_frame(seed, bpp, size=(W, H)):
    rng = random.Random(seed)
    return bytes(rng.getrandbits(8) for _ in range(size[0] * size[1] * bpp))


def settings(common, mode=1, extra=b""):
    return b"[SETTINGS]\nCommon=%d\n[COMMON]\n%s\n%s" % (mode, common, extra)


def is_black_yuyv(frame):
    return all(frame[i:i + 4] == b"\x00\x80\x00\x80" for i in range(0, len(frame), 4))


def scenarios(build, wine):
    tag = "wine" if wine else "native"
    outputs = {}

    h = Host(build, wine)
    try:
        h.run(args=["--settings", "new.ini", "--save"])
        check(tag + ": --save to a new file writes exactly the fourteen lines",
              open(h.ini("new.ini"), "rb").read() == FOURTEEN_LINES, repr(open(h.ini("new.ini"), "rb").read()))
        os.utime(h.ini("new.ini"), (1000000000, 1000000000))
        h.run(args=["--settings", "new.ini", "--save"])
        check(tag + ": an unchanged file is not rewritten", os.stat(h.ini("new.ini")).st_mtime == 1000000000)
        check(tag + ": runs leave nothing beside kvx-host", h.left_behind() == [], repr(h.left_behind()))

        # The picture: identity leaves every byte, in both layouts, interlaced or not.
        for fmt, bpp in (("yuyv", 2), ("bgr24", 3)):
            frame = random_frame(fmt, bpp)
            for interlace in (0, 1):
                h.write_ini(settings(b"ProcEnable=1\nInterlace=%d\nDeinterlace=0" % interlace))
                out = h.run(frame, ["--channel", "1"], fmt)
                check("%s: %s identity, Interlace=%d, leaves the frame unchanged" % (tag, fmt, interlace),
                      out == frame)
        # Settings from the file change the picture: OffsetX 1000 moves it out entirely.
        frame = random_frame("off", 2)
        h.write_ini(settings(b"ProcEnable=1\nOffsetX=1000"))
        check(tag + ": OffsetX=1000 from the file gives an all-black frame", is_black_yuyv(h.run(frame, [], "yuyv")))
        # Shrink 90 % interlaced: the bands of the worked example are black, the picture is not.
        h.write_ini(settings(b"ProcEnable=1\nScaleX=900\nScaleY=900\nInterlace=1"))
        grey = bytes([200, 90, 200, 160]) * (W * H // 2)
        out = h.run(grey, [], "yuyv")
        row = lambda y: out[y * W * 2:(y + 1) * W * 2]
        check(tag + ": shrink 90 %: rows 0-27 and 546-575 black",
              all(is_black_yuyv(row(y)) for y in list(range(28)) + list(range(546, 576))))
        check(tag + ": shrink 90 %: columns 0-35 and 684-719 black, the picture inside untouched grey",
              all(is_black_yuyv(row(y)[:72]) and is_black_yuyv(row(y)[1368:]) and
                  row(y)[72:1368] == grey[:1296] for y in range(28, 546)))
        # Several geometries, kept for the native/Wine comparison.
        for name, common in (("zoom", b"ScaleX=1100\nScaleY=1100\nInterlace=0"),
                             ("zoom-fields", b"ScaleX=1100\nScaleY=1050\nOffsetY=-37\nInterlace=1\nDeinterlace=1"),
                             ("shrink-offset", b"ScaleX=873\nScaleY=911\nOffsetX=51\nOffsetY=33\nInterlace=0")):
            for fmt, bpp in (("yuyv", 2), ("bgr24", 3)):
                h.write_ini(settings(b"ProcEnable=1\n" + common))
                outputs[(name, fmt)] = h.run(random_frame(name + fmt, bpp), [], fmt)
    finally:
        h.close()

    # Per-channel mode: every channel its own settings; channels the host forgot are dropped.
    h = Host(build, wine)
    try:
        h.write_ini(settings(b"ProcEnable=0", mode=0,
                             extra=b"[5]\nProcEnable=1\nOffsetX=1000\n[6]\nProcEnable=0\n"))
        frames = random_frame("a", 2) + random_frame("b", 2) + random_frame("c", 2)
        out = h.run(frames, ["--channel", "5:Five", "--channel", "6:Six@1", "--channel", "3@2",
                             "--forget-channels", "--save"], "yuyv")
        n = W * H * 2
        check(tag + ": per-channel: channel 5 is shifted out (black)", is_black_yuyv(out[:n]))
        check(tag + ": per-channel: channel 6 stays untouched", out[n:2 * n] == frames[n:2 * n])
        saved = open(h.ini(), "rb").read()
        check(tag + ": channels the host no longer knows are dropped, key 3 kept",
              b"[5]" not in saved and b"[6]" not in saved and b"[3]\r\n" in saved, repr(saved))
        check(tag + ": per-channel mode is saved", b"Common=0\r\n" in saved)
    finally:
        h.close()

    # The instance switch: the plug-in looks in Instances/X of the private folder, where
    # kvx-host puts the --settings FILE, so the file's OffsetX=1000 blacks the frame out.
    for switch in ("/inst:7", "-INST:B"):
        h = Host(build, wine)
        try:
            h.write_ini(settings(b"ProcEnable=1\nOffsetX=1000"))
            out = h.run(random_frame("inst", 2), [switch], "yuyv")
            check("%s: %s: the plug-in reads the --settings FILE in its instance folder" % (tag, switch),
                  is_black_yuyv(out) and h.left_behind() == [], repr(h.left_behind()))
        finally:
            h.close()

    isolation(build, wine, tag)
    return outputs


def isolation(build, wine, tag):
    """A run's settings come from its command line alone; --settings FILE --save on purpose."""
    h = Host(build, wine)
    try:
        frame = random_frame("iso", 2)
        fresh = h.run(frame, ["--scale", "105"])
        h.run(frame, ["--offset-x", "5", "--offset-y", "3", "--scale", "90"])
        check(tag + ": an earlier run's settings do not carry over", h.run(frame, ["--scale", "105"]) == fresh)
        # Three runs at once, each with its own scale, each as it would be alone.
        scales = ("80", "100", "120")
        alone = [h.run(frame, ["--scale", s]) for s in scales]
        cmds = [h.cmd + ["--size", "%dx%d" % (W, H), "--scale", s] for s in scales]
        procs = [subprocess.Popen(c, cwd=h.dir, env=h.env, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                  stderr=subprocess.DEVNULL) for c in cmds]
        together = [p.communicate(frame)[0] for p in procs]
        check(tag + ": runs in parallel never take each other's settings", together == alone,
              repr([a == t for a, t in zip(alone, together)]))
        check(tag + ": parallel runs leave nothing beside kvx-host", h.left_behind() == [], repr(h.left_behind()))

        # --show-settings in the dialog's units: rounded, and --scale sets both scales.
        shown = h.run(args=["--show-settings", "--scale", "0.15", "--offset-y=-1.25"], settings=None).decode()
        check(tag + ": --show-settings rounds half away (0.15 -> 0.2, -1.25 -> -1.3) and --scale sets both",
              "scale-x       0.2 %" in shown and "scale-y       0.2 %" in shown and "offset-y      -1.3 %" in shown,
              shown)

        # A hand-edited file: --show-settings says, one line each, what the plug-in reads
        # otherwise than it looks, and shows what it reads.
        h.write_ini(b"[SETTINGS]\nCommon=1\n[common]\nScaleX=1100\n[COMMON]\nscalex=1100\nScaleX=11O0\n"
                    b"ScaleY=5000\n", "hand.ini")
        p = h.run(args=["--settings", "hand.ini", "--show-settings"], settings=None, check=False)
        said, shown = p.stderr.decode(), p.stdout.decode()
        check(tag + ": --show-settings warns of [common], scalex=, ScaleX=11O0 and ScaleY=5000, one line each, "
              "and shows the plug-in's reading",
              p.returncode == 0 and len(said.splitlines()) == 4 and
              all(line.startswith("kvx-host: warning: hand.ini: " + w) for line, w in
                  zip(said.splitlines(), ("[common]", "scalex=", "ScaleX=11O0", "ScaleY=5000"))) and
              "scale-x       1.1 %" in shown and "scale-y       500.0 %" in shown, said + shown)

        # A prepared file: per-channel on, channel 12345's record gets the values; hand-added
        # records of other channels are kept, also under headers the plug-in reads although
        # they are not written as it writes them (indented, a plus sign); the file the TV
        # application will read is complete.
        h.write_ini(settings(b"ProcEnable=0", mode=1, extra=b"[777]\nProcEnable=1\nOffsetX=250\n"
                             b"  [778]\nOffsetX=260\n[+779]\nOffsetX=270\n"), "tv.ini")
        if not wine:  # a file kept private stays private (Wine has no permissions to keep)
            os.chmod(h.ini("tv.ini"), 0o600)
        h.run(args=["--settings", "tv.ini", "--save", "--per-channel", "on", "--channel", "12345",
                    "--scale", "110", "--auto-fit", "on"], settings=None)
        saved = open(h.ini("tv.ini"), "rb").read()
        check(tag + ": --auto-fit on goes into the --channel record alone, after Deinterlace",
              saved.count(b"AutoFit") == 1 and b"[12345]\r\n" in saved and
              saved.endswith(b"Deinterlace=0\r\nAutoFit=1\r\n"), repr(saved))
        shown = h.run(args=["--settings", "tv.ini", "--show-settings", "--channel", "12345"], settings=None).decode()
        check(tag + ": --show-settings shows auto-fit", "auto-fit      on" in shown, shown)
        check(tag + ": --save keeps the hand-added channel records and writes the --channel record",
              b"Common=0\r\n" in saved and b"[777]\r\nProcEnable=1\r\nOffsetX=250\r\n" in saved and
              b"[778]\r\nProcEnable=0\r\nOffsetX=260\r\n" in saved and
              b"[779]\r\nProcEnable=0\r\nOffsetX=270\r\n" in saved and
              b"[12345]\r\nProcEnable=1\r\nOffsetX=0\r\nOffsetY=0\r\nScaleX=1100\r\nScaleY=1100\r\n" in saved,
              repr(saved))
        if not wine:
            check(tag + ": --save keeps the file's permissions", os.stat(h.ini("tv.ini")).st_mode & 0o777 == 0o600,
                  oct(os.stat(h.ini("tv.ini")).st_mode))
        # Requests that cannot be carried out: an error, and the file stays as it was.
        os.mkdir(h.ini("folder.ini"))
        for what, args in (("a missing --settings FILE without --save", ["--settings", "missing.ini"]),
                           ("a folder as --settings FILE", ["--settings", "folder.ini", "--save"]),
                           ("a --settings FILE in a missing folder", ["--settings", "no/such.ini", "--save"]),
                           ("--save without --settings", ["--save"])):
            p = h.run(args=args + ["--scale", "110"], settings=None, check=False)
            check("%s: %s is an error" % (tag, what), p.returncode != 0 and p.stderr.startswith(b"kvx-host: "),
                  repr((p.returncode, p.stderr)))
        check(tag + ": failed runs leave the settings file as it was", open(h.ini("tv.ini"), "rb").read() == saved)
    finally:
        h.close()



def users_folder_under_wine(build):
    """With the machine-wide switch on, the plug-in would use the user's application-data
    folder, shared by every run and by the TV application: kvx-host refuses and touches nothing."""
    reg = ["wine", "reg"]
    key = r"HKLM\SOFTWARE\Korvanta"
    subprocess.run(reg + ["add", key, "/v", "StoreInUsersFolder", "/t", "REG_DWORD", "/d", "1", "/f"],
                   capture_output=True, check=True)
    h = Host(build, True)
    try:
        appdata = subprocess.run(["wine", "cmd", "/c", "echo %APPDATA%"], capture_output=True,
                                 text=True).stdout.strip()
        unix = subprocess.run(["winepath", "-u", appdata], capture_output=True, text=True).stdout.strip()
        target = os.path.join(unix, "Korvanta", "Plugins", "KVX_Scaler.ini")
        if os.path.exists(target):
            os.remove(target)
        p = h.run(args=["--scale", "110"], check=False)
        check("wine: StoreInUsersFolder=1: kvx-host refuses, names the switch and the file, touches nothing",
              p.returncode == 1 and b"StoreInUsersFolder" in p.stderr and
              b"Korvanta\\Plugins\\KVX_Scaler.ini" in p.stderr and not os.path.exists(target),
              repr(p.stderr))
    finally:
        subprocess.run(reg + ["delete", key, "/v", "StoreInUsersFolder", "/f"], capture_output=True)
        h.close()


def main():
    native = os.path.abspath(sys.argv[1])
    native_out = scenarios(native, False)
    if len(sys.argv) > 2:
        win32 = os.path.abspath(sys.argv[2])
        wine_out = scenarios(win32, True)
        for key in sorted(native_out):
            check("the DLL under Wine and the native .so give identical frames: %s %s" % key,
                  native_out[key] == wine_out[key])
        users_folder_under_wine(win32)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
