#!/usr/bin/env python3
"""Runs the real veltrane.exe (or veltrane64.exe) under Wine, each run in a
fresh directory.

usage: wine_tests.py --exe EXE --prefix DIR [--arch win32|win64] [--wine LOADER] COMMAND

The 32-bit program runs under 32-bit Wine (`wine`, a win32 prefix), the
64-bit one under wine64 in a win64 prefix of its own.

COMMAND is `start` (create the Wine prefix when missing, set it to Windows 10
and start a persistent wineserver), `stop` (end that wineserver) or one of the
test cases below. Without a usable Wine every command exits 77 (skip), or 1
when VELTRANE_REQUIRE_WINE=1.

Facts of Wine that the expectations rest on: its stub disk answers as
\\\\.\\PhysicalDrive0 (the device descriptor query succeeds with no vendor or
product text; the SCSI address query fails), other drive numbers do not open,
the system volume \\\\.\\C: opens and its disk extents query succeeds with no
extent (so no drive is refused as the system disk),
console output lines end in CRLF, and the log is a text-mode file, so its
lines end in CRLF as well.

Where the kernel runs no 32-bit programs, Wine runs under qemu's i386
user-mode emulator (scripts/setup.sh installs and registers it); the
expectations are the same there.
"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile

SKIP = 77
BANNER = "Veltrane (FormatUnit) v0.7a by Brastel\r\n"
# 10.0 only when the manifest's supportedOS entries are embedded; without
# them Windows (and Wine) report 6.2 build 9200.
OS_LINE = "OS: 10.0 build 18362 \r\n"
LOG_NAME = "veltrane-log.txt"
KEY_WAIT = "\r\nPress any key to exit\r\n"
# Wine's one disk, drive 0, with neither vendor nor product text; it is not
# on USB and fails the SCSI address query.
DRIVE0_ROW = " 0: \r\n"
DRIVE0_SCSI_ERROR = "IOCTL: Error scsi get address\r\n"
# Exit statuses of the paths Wine reaches: a bad drive number, and a drive
# that cannot be opened or whose SCSI address cannot be read.
BAD_INPUT = 5
NOT_REACHED = 6
# Making the prefix takes about 5 s natively, under a minute under emulation.
PREFIX_TIMEOUT = 600
# A run takes under a second, a few under emulation; one that hangs is caught.
RUN_TIMEOUT = int(os.environ.get("VELTRANE_WINE_RUN_TIMEOUT", "120"))


def wine_env(prefix, arch="win32"):
    env = dict(os.environ)
    env.update(WINEPREFIX=prefix, WINEARCH=arch, WINEDEBUG="-all",
               # No Mono or Gecko installer dialogs while the prefix is made.
               WINEDLLOVERRIDES="mscoree,mshtml=")
    env.pop("DISPLAY", None)
    env.pop("WAYLAND_DISPLAY", None)
    return env


def unusable(reason):
    if os.environ.get("VELTRANE_REQUIRE_WINE") == "1":
        print("FAIL: Wine is required (VELTRANE_REQUIRE_WINE=1) but " + reason)
        sys.exit(1)
    print("SKIP: " + reason)
    sys.exit(SKIP)


def check_wine(env, wine="wine"):
    if not shutil.which(wine) or not shutil.which("wineserver"):
        unusable("%s is not installed (scripts/setup.sh installs it)" % wine)
    try:
        r = subprocess.run([wine, "--version"], env=env, stdin=subprocess.DEVNULL,
                           capture_output=True, text=True, timeout=120)
    except subprocess.TimeoutExpired:
        unusable("`%s --version` does not finish" % wine)
    if r.returncode != 0:
        unusable("`%s --version` fails: %s" % (wine, (r.stderr or r.stdout).strip()))


def quiet_call(args, env, timeout):
    """The command's exit status, or None when it did not end in time."""
    try:
        return subprocess.run(args, env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL, timeout=timeout).returncode
    except subprocess.TimeoutExpired:
        print("`%s` did not end within %d s" % (" ".join(args), timeout), flush=True)
        return None


def start(prefix, env, wine):
    ready = os.path.join(prefix, ".veltrane-ready")
    if not os.path.exists(ready):
        shutil.rmtree(prefix, ignore_errors=True)
        print("creating the Wine prefix " + prefix, flush=True)
        # wineboot's status says little: the server's end and the files left
        # say whether the prefix is there.
        quiet_call([wine, "wineboot", "-i"], env, PREFIX_TIMEOUT)
        if quiet_call(["wineserver", "-w"], env, PREFIX_TIMEOUT) is None:
            quiet_call(["wineserver", "-k"], env, 120)
            print("FAIL: Wine's processes did not end after wineboot -i")
            return 1
        if not os.path.exists(os.path.join(prefix, "drive_c/windows/system32/kernel32.dll")):
            print("FAIL: wineboot -i left no usable prefix in " + prefix)
            return 1
    # A persistent server, detached from every pipe: otherwise each run whose
    # output is captured waits for Wine's background processes to let go.
    subprocess.Popen(["wineserver", "-p"], env=env, stdin=subprocess.DEVNULL,
                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                     start_new_session=True).wait(timeout=120)
    # Windows 10, so that the version the tool sees depends on its manifest.
    # This also starts Wine's background services once, before the runs.
    if quiet_call([wine, "winecfg", "-v", "win10"], env, PREFIX_TIMEOUT) != 0:
        print("FAIL: %s winecfg -v win10" % wine)
        return 1
    open(ready, "w").close()
    return 0


def stop(env):
    quiet_call(["wineserver", "-k"], env, 120)
    return 0


class Run:
    def __init__(self, exe, env, args, stdin):
        self.cwd = tempfile.mkdtemp(prefix="veltrane-wine-")
        try:
            r = subprocess.run([env["VELTRANE_WINE"], exe] + args, cwd=self.cwd, env=env, input=stdin,
                               capture_output=True, timeout=RUN_TIMEOUT)
            self.timed_out = False
            self.status = r.returncode
            self.out = r.stdout.decode("latin-1")
            self.err = r.stderr.decode("latin-1")
        except subprocess.TimeoutExpired as e:
            self.timed_out = True
            self.status = None
            self.out = (e.stdout or b"").decode("latin-1")
            self.err = (e.stderr or b"").decode("latin-1")
        self.files = sorted(os.listdir(self.cwd))
        self.log = None
        if LOG_NAME in self.files:
            with open(os.path.join(self.cwd, LOG_NAME), "rb") as f:
                self.log = f.read().decode("latin-1")
        shutil.rmtree(self.cwd, ignore_errors=True)


class Case:
    def __init__(self, name):
        self.name = name
        self.failures = []

    def expect(self, cond, what, got=None):
        if not cond:
            self.failures.append(what + ("" if got is None else "\n    got: %r" % (got,)))

    def expect_eq(self, got, want, what):
        self.expect(got == want, "%s\n    want: %r" % (what, want), got)

    def common(self, run, want_out, want_status=None):
        self.expect(not run.timed_out, "the run ends within %d s" % RUN_TIMEOUT)
        self.expect_eq(run.out, want_out, "standard output")
        if want_status is not None:
            self.expect_eq(run.status, want_status, "exit status")
        # Every text of the tool goes to standard output.
        for line in want_out.split("\r\n"):
            if line.strip():
                self.expect(line not in run.err, "%r not on standard error" % line, run.err)

    def report(self):
        for f in self.failures:
            print("FAIL: " + f)
        return 1 if self.failures else 0


def case_bad_drive_number(exe, env):
    """Interactive: banner, OS line, the drive list, the prompt; a typed 100
    is refused at once, before the log is opened."""
    c = Case("bad_drive_number")
    run = Run(exe, env, [], b"100\n")
    c.common(run, BANNER + OS_LINE + DRIVE0_ROW + "Please select drive number:"
             + "Error: bad drive number\r\n", BAD_INPUT)
    c.expect_eq(run.files, [], "files left in the run's directory")
    return c.report()


def case_quiet_stub_disk(exe, env):
    """Quiet run on Wine's stub disk: not on USB, so the SCSI address is
    asked for, and that query fails; no key wait."""
    c = Case("quiet_stub_disk")
    run = Run(exe, env, ["0Y"], b"")
    c.common(run, BANNER + OS_LINE + "Drive   : 0(NVME)\r\n" + DRIVE0_SCSI_ERROR, NOT_REACHED)
    c.expect_eq(run.files, [LOG_NAME], "files left in the run's directory")
    c.expect_eq(run.log, "v0.7a\r\nOS: 10.0 build 18362 \r\nDrive   : 0(NVME)\r\n"
                + DRIVE0_SCSI_ERROR,
                "log block")
    return c.report()


def case_quiet_missing_drive(exe, env):
    """Quiet run on a drive that does not exist: the drive line, then the
    open fails; the open failure is console-only."""
    c = Case("quiet_missing_drive")
    run = Run(exe, env, ["55Y"], b"")
    c.common(run, BANNER + OS_LINE + "Drive   : 55(NVME)\r\nError open disk\r\n", NOT_REACHED)
    c.expect_eq(run.files, [LOG_NAME], "files left in the run's directory")
    c.expect_eq(run.log, "v0.7a\r\nOS: 10.0 build 18362 \r\nDrive   : 55(NVME)\r\n", "log block")
    return c.report()


def case_key_wait_no_console(exe, env):
    """Interactive run (no Y) that reaches the final key wait with answers
    from a pipe: standard input is no console, so it must end by itself."""
    c = Case("key_wait_no_console")
    run = Run(exe, env, ["0"], b"")
    c.common(run, BANNER + OS_LINE + "Drive   : 0(NVME)\r\n" + DRIVE0_SCSI_ERROR + KEY_WAIT,
             NOT_REACHED)
    c.expect_eq(run.files, [LOG_NAME], "files left in the run's directory")
    return c.report()


CASES = {
    "bad_drive_number": case_bad_drive_number,
    "quiet_stub_disk": case_quiet_stub_disk,
    "quiet_missing_drive": case_quiet_missing_drive,
    "key_wait_no_console": case_key_wait_no_console,
}


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--exe", required=True)
    p.add_argument("--prefix", required=True)
    p.add_argument("--arch", choices=["win32", "win64"], default="win32")
    p.add_argument("--wine", default="wine")
    p.add_argument("command", choices=["start", "stop"] + sorted(CASES))
    a = p.parse_args()
    prefix = os.path.abspath(a.prefix)
    env = wine_env(prefix, a.arch)
    check_wine(env, a.wine)
    env["VELTRANE_WINE"] = a.wine
    if a.command == "start":
        return start(prefix, env, a.wine)
    if a.command == "stop":
        return stop(env)
    if not os.path.exists(a.exe):
        print("FAIL: %s was not built" % a.exe)
        return 1
    return CASES[a.command](os.path.abspath(a.exe), env)


if __name__ == "__main__":
    sys.exit(main())
