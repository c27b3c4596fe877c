"""Every entry of the converter's viridis and cividis tables against the
published tables as matplotlib ships them (components 0 to 1, times 255
rounded to the nearest integer).

    perceptual_maps_check.py converter/perceptual_maps.h
"""
import re
import sys

from matplotlib import _cm_listed as published


def tables(header):
    text = open(header, encoding="utf-8").read()
    found = {}
    for name, body in re.findall(r"(\w+)_entries\{\{(.*?)\}\};", text, re.S):
        found[name] = [tuple(map(int, e)) for e in re.findall(r"\{(\d+), (\d+), (\d+)\}", body)]
    return found


def main():
    ours = tables(sys.argv[1])
    failures = 0
    for name in ("viridis", "cividis"):
        want = [tuple(int(round(x * 255)) for x in e) for e in getattr(published, f"_{name}_data")]
        got = ours.get(name, [])
        if len(got) != 256 or len(want) != 256:
            print(f"{name}: {len(got)} entries, published {len(want)}")
            failures += 1
            continue
        for k, (g, w) in enumerate(zip(got, want)):
            if g != w:
                print(f"{name} entry {k}: {g}, published {w}")
                failures += 1
    print(f"{failures} entries differ")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
