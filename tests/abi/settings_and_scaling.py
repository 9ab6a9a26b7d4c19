#!/usr/bin/env python3
"""The settings file and the scaled picture, end to end through kvx-host and the real plug-in.

usage: settings_and_scaling.py NATIVE_BUILD_DIR [WIN32_BUILD_DIR]
With a Win32 build dir the same scenarios also run with the DLL under Wine (environment from
./run), and the two plug-ins must produce byte-identical frames.
"""
import os, random, shutil, subprocess, sys, tempfile

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
    """A host folder of its own (kvx-host + plug-in; the settings live in Plugins/ beside them)."""

    def __init__(self, build, wine):
        self.wine = wine
        self.dir = tempfile.mkdtemp(prefix="kvx-")
        exe, plugin = ("kvx-host.exe", "KVX_Scaler.dll") if wine else ("kvx-host", "KVX_Scaler.so")
        for f in (exe, plugin):
            shutil.copy(os.path.join(build, f), self.dir)
        self.cmd = (["wine"] if wine else []) + ["./" + exe, "--plugin", plugin]

    def ini(self, sub="Plugins"):
        return os.path.join(self.dir, sub, "KVX_Scaler.ini")

    def write_ini(self, text, sub="Plugins"):
        os.makedirs(os.path.dirname(self.ini(sub)), exist_ok=True)
        with open(self.ini(sub), "wb") as f:
            f.write(text.replace(b"\n", b"\r\n"))

    def run(self, frames_in=b"", args=(), fmt="yuyv", size=(W, H)):
        cmd = self.cmd + ["--size", "%dx%d" % size, "--format", fmt] + list(args)
        if not frames_in:
            cmd += ["--pattern", "--frames", "0", "--output", "none"]
        p = subprocess.run(cmd, input=frames_in, cwd=self.dir, capture_output=True)
        if p.returncode != 0:
            raise RuntimeError("kvx-host failed: %s" % p.stderr.decode(errors="replace"))
        return p.stdout

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
        h.run()
        check(tag + ": a fresh start writes exactly the fourteen lines",
              open(h.ini(), "rb").read() == FOURTEEN_LINES, repr(open(h.ini(), "rb").read()))
        os.utime(h.ini(), (1000000000, 1000000000))
        h.run()
        check(tag + ": an unchanged file is not rewritten", os.stat(h.ini()).st_mtime == 1000000000)

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
                             "--forget-channels"], "yuyv")
        n = W * H * 2
        check(tag + ": per-channel: channel 5 is shifted out (black)", is_black_yuyv(out[:n]))
        check(tag + ": per-channel: channel 6 stays untouched", out[n:2 * n] == frames[n:2 * n])
        saved = open(h.ini(), "rb").read()
        check(tag + ": channels the host no longer knows are dropped, key 3 kept",
              b"[5]" not in saved and b"[6]" not in saved and b"[3]\r\n" in saved, repr(saved))
        check(tag + ": per-channel mode is saved", b"Common=0\r\n" in saved)
    finally:
        h.close()

    # The instance switch on the host's command line.
    for switch, folder in (("/inst:7", "Instances/7/Plugins"), ("-INST:B", "Instances/b/Plugins")):
        h = Host(build, wine)
        try:
            h.run(args=[switch])
            check("%s: %s keeps the settings in %s" % (tag, switch, folder),
                  os.path.exists(h.ini(folder)) and not os.path.exists(h.ini()))
        finally:
            h.close()
    return outputs


def users_folder_under_wine(build):
    """The machine-wide registry switch moves the file to the user's application-data folder."""
    prefix = os.environ["WINEPREFIX"]
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
        h.run()
        check("wine: StoreInUsersFolder=1 keeps the settings in %APPDATA%\\Korvanta\\Plugins",
              os.path.exists(target) and not os.path.exists(h.ini()), target)
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
