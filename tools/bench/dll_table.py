#!/usr/bin/env python3
"""Prints the table of the plug-in file timed through its exports: the native .so beside
the 32-bit DLL under Wine, per case and SIMD level, with the DLL's ratio judged against its
target (at most 1.25 times the .so). Takes the outputs of kvx_dll_bench, each file holding
one or more rounds of one plug-in file; a case keeps its fastest round."""
import sys


def read(path):
    times = {}
    with open(path) as f:
        for line in f:
            parts = line.split()
            if len(parts) == 5:
                # A case timed in several rounds keeps its fastest.
                key, t = tuple(parts[:4]), float(parts[4])
                times[key] = min(t, times.get(key, t))
    return times


CASES = {"zoom110": "zoom 110 %", "shrink90": "shrink 90 %",
         "zoom110-interlaced": "zoom 110 % by field, blended"}


def main():
    if len(sys.argv) != 3:
        sys.exit("usage: dll_table.py SO_TIMES DLL_TIMES")
    native, dll = read(sys.argv[1]), read(sys.argv[2])
    print("\nThe plug-in file through its exports (the .so natively, the 32-bit DLL under "
          "Wine): median \u00b5s per frame written just before the call, the fastest of five "
          "rounds, the .so and the DLL alternated case by case:\n")
    print("| Frame | Case | Level | .so | DLL | DLL \u00f7 .so (target \u2264 1.25) |")
    print("|---|---|---|---|---|---|")
    met = total = 0
    for key in native:
        if key not in dll:
            continue
        ratio = dll[key] / native[key] if native[key] > 0 else 0
        ok = 0 < ratio <= 1.25
        met += ok
        total += 1
        print("| %s %s | %s | %s | %.0f | %.0f | %.2f %s |" % (
            key[0], key[1].replace("x", "\u00d7"), CASES.get(key[2], key[2]), key[3].upper(),
            native[key], dll[key], ratio,
            "\u2713" if ok else "\u2717"))
    print("\nDLL targets met: %d of %d." % (met, total))


if __name__ == "__main__":
    main()
