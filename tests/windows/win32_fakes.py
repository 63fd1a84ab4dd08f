#!/usr/bin/env python3
"""Runs veltrane-win32-fakes.exe (the Win32 layer against recording fakes)
under Wine, after checking that the program fakes every function the layer
imports: a call without a fake would reach Wine's real one unrecorded.

usage: win32_fakes.py --exe EXE --prefix DIR [--arch win32|win64] [--wine LOADER]
                      --objects LIST --nm NM

LIST names the program's object files, one a line; the one built from
win32_fakes.cpp holds the fakes, the others are the layer. Without a usable
Wine the test exits 77 (skip), or 1 when VELTRANE_REQUIRE_WINE=1.
"""
import argparse
import os
import subprocess
import sys

import wine_tests

IMPORT_SLOT = "__imp_"


def slots(nm, obj, undefined):
    """Import slots an object file refers to (undefined) or defines."""
    out = subprocess.run([nm, "-u" if undefined else "--defined-only", obj],
                         capture_output=True, text=True, check=True).stdout
    return {line.split()[-1] for line in out.splitlines()
            if line.split() and line.split()[-1].startswith(IMPORT_SLOT)}


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--exe", required=True)
    p.add_argument("--prefix", required=True)
    p.add_argument("--arch", choices=["win32", "win64"], default="win32")
    p.add_argument("--wine", default="wine")
    p.add_argument("--objects", required=True)
    p.add_argument("--nm", required=True)
    a = p.parse_args()

    with open(a.objects) as f:
        objects = [line.strip() for line in f if line.strip()]
    fakes = [o for o in objects if os.path.basename(o).startswith("win32_fakes.")]
    layer = [o for o in objects if o not in fakes]
    if len(fakes) != 1 or not layer:
        print("FAIL: no fakes object or no layer objects in " + a.objects)
        return 1
    faked = slots(a.nm, fakes[0], False)
    used = set()
    for obj in layer:
        used |= slots(a.nm, obj, True)
    missing = sorted(used - faked)
    if missing:
        print("FAIL: the Win32 layer calls functions without a fake: " + ", ".join(missing))
        return 1

    env = wine_tests.wine_env(os.path.abspath(a.prefix), a.arch)
    wine_tests.check_wine(env, a.wine)
    try:
        r = subprocess.run([a.wine, os.path.abspath(a.exe)], env=env, stdin=subprocess.DEVNULL,
                           capture_output=True, text=True, timeout=wine_tests.RUN_TIMEOUT)
    except subprocess.TimeoutExpired:
        print("FAIL: the fakes test did not end within %d s" % wine_tests.RUN_TIMEOUT)
        return 1
    sys.stdout.write(r.stdout + r.stderr)
    return 0 if r.returncode == 0 and "all checks passed" in r.stdout else 1


if __name__ == "__main__":
    sys.exit(main())
