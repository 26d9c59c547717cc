#!/usr/bin/python3
"""Writes a vxUpgrade program folder with a deterministic sample tree.

    make_tree.py PROFILE DIR [--upload-view DIR2] [--seed N]

PROFILE is one of:
  demo   three modules (KRN3 and LPS3 with SIGNAL folders, QMX53 without)
         and a few system files; small, for ./demo.sh
  mixed  five modules with SIGNAL folders, about 300 files from 1 KiB to
         8 MiB in a few levels, about 150 MiB in all
  many   2,000 files of 4 KiB in three levels below one module
  huge   20,000 files of 1 KiB in three levels below one module

DIR receives target/<module>/..., MainFrame/... and vxUpgrade.ini (the
catalogue, with the ids 1 to 5). File contents come from a random generator
seeded with --seed (default 1), so every run writes the same bytes, and no
file is all zeros (which a compressing link could pass for free).

--upload-view DIR2 also writes what the instrument's drive root "/F0:/"
holds after a full upgrade with every SIGNAL folder ticked: <module>/...
and SYSTEM/... as hard links to the files in DIR (no second copy), NAME
files left out. Tools that upload a tree as it is (lftp, curl) upload this.

The last line on standard output reads "files N bytes B".
"""

import argparse
import math
import os
import random
import sys

KIB = 1024
MIB = 1024 * KIB
MODULE_IDS = {"KRN3": 1, "LPS3": 2, "QMX53": 3, "SBX3": 4, "PRZ53": 5}


def demo_files(rng):
    """(relative path, size) for the demo: readable names, modest sizes."""
    files = []
    for module, with_signal in (("KRN3", True), ("LPS3", True), ("QMX53", False)):
        low = module.lower()
        files.append(("target/%s/%s.bin" % (module, low), rng.randint(40, 200) * KIB))
        files.append(("target/%s/CAL/%s_cal.dat" % (module, low), rng.randint(2, 16) * KIB))
        if with_signal:
            for n in range(1, 4):
                files.append(("target/%s/SIGNAL/%s_sig%02d.wfm" % (module, low, n),
                              rng.randint(20, 120) * KIB))
    files.append(("MainFrame/vx900.bin", 300 * KIB))
    files.append(("MainFrame/FONTS/fixed.fnt", 24 * KIB))
    files.append(("MainFrame/HELP/index.hlp", 9 * KIB))
    return list(MODULE_IDS)[:3], files


def mixed_files(rng):
    """About 300 files, 1 KiB to 8 MiB (log-uniform, scaled to about
    150 MiB), spread over folders up to three levels deep."""
    modules = list(MODULE_IDS)
    folders = []
    for module in modules:
        for sub in ("", "DATA", "DATA/CAL", "SIGNAL", "SIGNAL/WAVE"):
            folders.append("target/%s/%s" % (module, sub) if sub else "target/" + module)
    folders += ["MainFrame", "MainFrame/FONTS", "MainFrame/HELP/EN"]

    count = 300
    raw = [math.exp(rng.uniform(math.log(KIB), math.log(8 * MIB))) for _ in range(count)]
    # Both ends of the range are always present; the others are scaled so
    # that the whole comes to about 150 MiB.
    scale = (150 * MIB - 8 * MIB - KIB) / sum(raw[2:])
    sizes = [8 * MIB, KIB] + [min(8 * MIB, max(KIB, int(s * scale))) for s in raw[2:]]
    files = []
    for n, size in enumerate(sizes):
        folder = folders[rng.randrange(len(folders))]
        files.append(("%s/f%03d.bin" % (folder, n), size))
    return modules, files


def many_files(_rng):
    """2,000 files of 4 KiB: target/KRN3/Dxx/Eyy/fzz.bin (three levels)."""
    files = []
    for d in range(10):
        for e in range(10):
            for f in range(20):
                files.append(("target/KRN3/D%02d/E%02d/f%02d.bin" % (d, e, f), 4 * KIB))
    return ["KRN3"], files


def huge_files(_rng):
    """20,000 files of 1 KiB: target/KRN3/Dxx/Eyy/fzzz.bin (three levels)."""
    files = []
    for d in range(20):
        for e in range(10):
            for f in range(100):
                files.append(("target/KRN3/D%02d/E%02d/f%03d.bin" % (d, e, f), KIB))
    return ["KRN3"], files


PROFILES = {"demo": demo_files, "mixed": mixed_files, "many": many_files, "huge": huge_files}


def write_ini(path, modules):
    with open(path, "w", newline="\r\n") as ini:
        for n, module in enumerate(modules, start=1):
            ini.write("[ENTRY %d]\nid=%d\nname=%s\nhasSignal=0\n\n" % (n, MODULE_IDS[module], module))


def write_file(path, size, rng):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as out:
        left = size
        while left > 0:
            chunk = min(left, MIB)
            out.write(rng.randbytes(chunk))
            left -= chunk


def upload_path(relative):
    """Where the upgrade puts a local file on the drive root."""
    head, _, rest = relative.partition("/")
    if head == "target":
        return rest                      # <module>/...
    return "SYSTEM/" + rest              # MainFrame/... -> SYSTEM/...


def main(argv):
    parser = argparse.ArgumentParser(description="Writes a deterministic vxUpgrade program folder.")
    parser.add_argument("profile", choices=sorted(PROFILES))
    parser.add_argument("dir")
    parser.add_argument("--upload-view", metavar="DIR2")
    parser.add_argument("--seed", type=int, default=1)
    args = parser.parse_args(argv)

    rng = random.Random(args.seed)
    modules, files = PROFILES[args.profile](rng)
    for target in (args.dir, args.upload_view):
        if target and os.path.exists(target) and os.listdir(target):
            parser.error("%s exists and is not empty" % target)

    os.makedirs(args.dir, exist_ok=True)
    write_ini(os.path.join(args.dir, "vxUpgrade.ini"), modules)
    total = 0
    for relative, size in files:
        write_file(os.path.join(args.dir, relative), size, rng)
        total += size
    if args.upload_view:
        os.makedirs(os.path.join(args.upload_view, "SYSTEM"), exist_ok=True)
        for relative, _size in files:
            destination = os.path.join(args.upload_view, upload_path(relative))
            os.makedirs(os.path.dirname(destination), exist_ok=True)
            os.link(os.path.join(args.dir, relative), destination)
    print("files %d bytes %d" % (len(files), total))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
