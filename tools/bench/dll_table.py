#!/usr/bin/env python3
"""Prints the table of the plug-in file timed through its exports: the native .so beside
the 32-bit DLL under Wine, per case and SIMD level, with the DLL's ratio judged against its
target (at most 1.25 times the .so); then auto-fit's cost in each, judged against at most
3 % of the frame's processing. Takes the outputs of kvx_dll_bench, each file holding one or
more rounds of one plug-in file; a case keeps its fastest round, auto-fit its median."""
import sys


AUTO_FIT = "auto-fit-"


def read(path):
    times = {}
    with open(path) as f:
        for line in f:
            parts = line.split()
            if len(parts) == 5 and not parts[2].startswith(AUTO_FIT):
                # A case timed in several rounds keeps its fastest.
                key, t = tuple(parts[:4]), float(parts[4])
                times[key] = min(t, times.get(key, t))
    return times


def read_auto_fit(path):
    """(format, size) -> [(level, microseconds off, on)], one per round."""
    rounds = {}
    with open(path) as f:
        for line in f:
            parts = line.split()
            if len(parts) == 5 and parts[2] == AUTO_FIT + "off":
                off = (parts[3], float(parts[4]))
            elif len(parts) == 5 and parts[2] == AUTO_FIT + "on":
                rounds.setdefault((parts[0], parts[1]), []).append((off[0], off[1], float(parts[4])))
    return rounds


def auto_fit_table(native, dll):
    print("\nAuto-fit's cost through the exports: \u00b5s per frame at zoom 110 % with it off and on, "
          "channels alternated block by block in one session (the median of five rounds); its share of "
          "the frame's processing, target \u2264 3 %:\n")
    print("| Frame | Level | .so off | .so on | .so share | DLL off | DLL on | DLL share |")
    print("|---|---|---|---|---|---|---|---|")
    met = total = 0
    for key in native:
        cells = []
        for rounds in (native[key], dll.get(key, [])):
            if not rounds:
                cells += ["-", "-", "-"]
                continue
            level, off, on = sorted(rounds, key=lambda r: (r[2] - r[1]) / r[1])[len(rounds) // 2]
            share = (on - off) / off
            ok = share <= 0.03
            met += ok
            total += 1
            cells += ["%.1f" % off, "%.1f" % on, "%.1f %% %s" % (100 * share, "\u2713" if ok else "\u2717")]
        print("| %s %s | %s | %s |" % (key[0], key[1].replace("x", "\u00d7"), level.upper(), " | ".join(cells)))
    print("\nAuto-fit targets met: %d of %d." % (met, total))


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
    auto_fit_table(read_auto_fit(sys.argv[1]), read_auto_fit(sys.argv[2]))


if __name__ == "__main__":
    main()
