#!/usr/bin/env python3
"""Builds the release archive: dist/KVX_Scaler-<version>-win32.zip with the DLL, kvx-host.exe
beside it, the read-me (Russian and English: the settings, the file format and the rules for
editing it by hand; Windows line ends, UTF-8 with a byte-order mark so Notepad shows the
Cyrillic) and the licence.

usage: package.py WIN32_BUILD_DIR DIST_DIR VERSION
"""
import os, subprocess, sys, tempfile, time, zipfile

build, dist, version = sys.argv[1:4]
root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def windows_text(path):
    with open(path, encoding="utf-8") as f:
        return f.read().replace("\n", "\r\n").encode("utf-8")


def read_bytes(path):
    with open(path, "rb") as f:
        return f.read()


def stripped(path):
    """The program without its symbol table and debug sections (the build's own copy keeps
    them for the tests): a user needs neither, and they were half of the DLL."""
    with tempfile.TemporaryDirectory() as folder:
        out = os.path.join(folder, os.path.basename(path))
        subprocess.run(["i686-w64-mingw32-strip", "--strip-all", "-o", out, path], check=True)
        return read_bytes(out)


def add(z, name, data):
    """Stores `data` as `name`, readable by everyone who unpacks it on a Unix system (0644):
    zipfile would give text written from memory 0600 and files the build's own mode."""
    entry = zipfile.ZipInfo(name, time.localtime()[:6])
    entry.compress_type = zipfile.ZIP_DEFLATED
    entry.external_attr = 0o100644 << 16
    z.writestr(entry, data)


os.makedirs(dist, exist_ok=True)
archive = os.path.join(dist, "KVX_Scaler-%s-win32.zip" % version)
with zipfile.ZipFile(archive, "w", zipfile.ZIP_DEFLATED) as z:
    add(z, "KVX_Scaler/KVX_Scaler.dll", stripped(os.path.join(build, "KVX_Scaler.dll")))
    add(z, "KVX_Scaler/kvx-host.exe", stripped(os.path.join(build, "kvx-host.exe")))
    add(z, "KVX_Scaler/README.txt", b"\xef\xbb\xbf" + windows_text(os.path.join(root, "dist-template", "README.txt")))
    add(z, "KVX_Scaler/LICENSE.txt", windows_text(os.path.join(root, "LICENSE")))
print(archive)
