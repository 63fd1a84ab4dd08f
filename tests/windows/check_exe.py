#!/usr/bin/env python3
"""Checks a built veltrane.exe or veltrane64.exe: a 32-bit x86 (PE32) or an
x86-64 (PE32+) console image that imports only the system DLLs it needs,
carries the administrator manifest as resource type 24 and is small enough to
hand out as one file.

usage: check_exe.py ARCH EXE [OBJDUMP]    (ARCH: i686 or x86_64)

The PE headers and the resource directory are read directly; objdump, when
given, is asked for the same facts as a second opinion.
"""
import os
import re
import struct
import subprocess
import sys

MAX_SIZE = 160 * 1024
SUPPORTED_OS = [
    "e2011457-1546-43c5-a5fe-008deee3d3f0",  # Vista
    "35138b9a-5d96-4fbd-8e2d-a2440225f93a",  # 7
    "4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38",  # 8
    "1f676c76-80e1-4239-95bb-83d0f6d0da78",  # 8.1
    "8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a",  # 10
]
# KERNEL32 and msvcrt for everything, ADVAPI32 for the registry.
SYSTEM_DLLS = {"kernel32.dll", "msvcrt.dll", "advapi32.dll"}
# Optional-header magic, machine and objdump's name of each build.
BUILDS = {"i686": (0x10B, 0x14C, r"010b\s+\(PE32\)"),
          "x86_64": (0x20B, 0x8664, r"020b\s+\(PE32\+\)")}
RT_MANIFEST = 24

failures = []


def check(cond, what):
    if not cond:
        failures.append(what)


class Pe:
    def __init__(self, data):
        self.data = data
        if data[:2] != b"MZ":
            raise ValueError("no MZ header")
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[pe:pe + 4] != b"PE\0\0":
            raise ValueError("no PE signature")
        self.machine, nsections = struct.unpack_from("<HH", data, pe + 4)
        opt_size = struct.unpack_from("<H", data, pe + 20)[0]
        opt = pe + 24
        self.magic = struct.unpack_from("<H", data, opt)[0]
        self.subsystem = struct.unpack_from("<H", data, opt + 68)[0]
        # PE32+ has no BaseOfData and 8-byte stack and heap sizes: its data
        # directories start 16 bytes further on.
        dirs = opt + (112 if self.magic == 0x20B else 96)
        ndirs = struct.unpack_from("<I", data, dirs - 4)[0]
        self.dirs = [struct.unpack_from("<II", data, dirs + 8 * i) for i in range(ndirs)]
        self.sections = []
        for i in range(nsections):
            s = opt + opt_size + 40 * i
            vsize, va, rawsize, rawptr = struct.unpack_from("<IIII", data, s + 8)
            self.sections.append((va, max(vsize, rawsize), rawptr))

    def off(self, rva):
        for va, size, raw in self.sections:
            if va <= rva < va + size:
                return rva - va + raw
        raise ValueError("RVA 0x%x outside every section" % rva)

    def cstr(self, rva):
        o = self.off(rva)
        return self.data[o:self.data.index(b"\0", o)].decode("ascii")

    def imports(self):
        rva, size = self.dirs[1]
        names, o = [], self.off(rva)
        while True:
            name_rva = struct.unpack_from("<I", self.data, o + 12)[0]
            if name_rva == 0:
                return names
            names.append(self.cstr(name_rva))
            o += 20

    def resources(self, type_id):
        """The data of every resource of one numeric type, as bytes."""
        if len(self.dirs) < 3 or self.dirs[2][0] == 0:
            return
        base = self.off(self.dirs[2][0])

        def entries(d):
            named, ids = struct.unpack_from("<HH", self.data, d + 12)
            for i in range(named + ids):
                yield struct.unpack_from("<II", self.data, d + 16 + 8 * i)

        def leaves(d):
            for _, target in entries(d):
                if target & 0x80000000:
                    yield from leaves(base + (target & 0x7FFFFFFF))
                else:
                    rva, size = struct.unpack_from("<II", self.data, base + target)
                    o = self.off(rva)
                    yield self.data[o:o + size]

        for ident, target in entries(base):
            if ident == type_id and target & 0x80000000:
                yield from leaves(base + (target & 0x7FFFFFFF))


def main():
    magic, machine, objdump_magic = BUILDS[sys.argv[1]]
    exe = sys.argv[2]
    objdump = sys.argv[3] if len(sys.argv) > 3 and not sys.argv[3].endswith("NOTFOUND") else None
    with open(exe, "rb") as f:
        data = f.read()
    pe = Pe(data)

    check(pe.magic == magic, "optional header magic 0x%x, got 0x%x" % (magic, pe.magic))
    check(pe.machine == machine, "machine 0x%x, got 0x%x" % (machine, pe.machine))
    check(pe.subsystem == 3, "console subsystem (3), got %d" % pe.subsystem)

    imports = pe.imports()
    check(sorted(d.lower() for d in imports) == sorted(SYSTEM_DLLS),
          "imports exactly %s, got %s" % (sorted(SYSTEM_DLLS), imports))

    manifests = list(pe.resources(RT_MANIFEST))
    check(len(manifests) == 1, "one manifest resource (type 24), found %d" % len(manifests))
    text = manifests[0].decode("utf-8", "replace") if manifests else ""
    level = re.search(r"<requestedExecutionLevel\b([^>]*)>", text)
    attrs = dict(re.findall(r'(\w+)="([^"]*)"', level.group(1))) if level else {}
    check(attrs.get("level") == "requireAdministrator",
          "requestedExecutionLevel level=requireAdministrator, got %r" % attrs.get("level"))
    check(attrs.get("uiAccess") == "false", "uiAccess=false, got %r" % attrs.get("uiAccess"))
    ids = [i.lower() for i in re.findall(r'<supportedOS\s+Id="\{([^}]*)\}"', text)]
    check(sorted(ids) == sorted(SUPPORTED_OS), "the five supportedOS Ids, got %s" % ids)

    if objdump:
        out = subprocess.run([objdump, "-p", exe], capture_output=True, text=True).stdout
        check(re.search(r"^Magic\s+" + objdump_magic, out, re.M), "objdump: " + objdump_magic)
        check(re.search(r"^Subsystem\s+00000003", out, re.M), "objdump: subsystem 3")
        dlls = re.findall(r"DLL Name: (\S+)", out)
        check(sorted(d.lower() for d in dlls) == sorted(d.lower() for d in imports),
              "objdump imports %s match the header's %s" % (dlls, imports))

    print("%s: %d bytes (%.1f KiB), imports %s" % (os.path.basename(exe), len(data), len(data) / 1024,
                                                            ", ".join(imports)))
    check(len(data) <= MAX_SIZE, "size at most %d bytes, got %d" % (MAX_SIZE, len(data)))
    # The simulated storage stack belongs to veltrane-sim.exe only.
    check(b"VELTRANE_SIM_HOST" not in data, "no simulated storage stack in the product")

    for f in failures:
        print("FAIL: " + f)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
