#!/usr/bin/env python3
"""Benchmark of the tool on the simulated host (standard library only).

Per kind of drive of the default host: a full quiet run (`veltrane <n>Y`,
with the simulator's trace on) against a minimal C++ program started the
same way -- wall time (median of several runs) and peak memory (the child's
maximum resident set from wait4) -- and the device requests and disk reads each run makes,
from the trace, with the time the read-back (sampling before the erase, the
check after it) adds: the run's wall time less that of the same run whose
first read fails, which skips both. Then each Windows program's size and imported DLLs when it
has been built, and the CPU time the final key wait uses while it waits (a run
on a pseudo-terminal, which is the simulator's console).

Then the check at each --verify level on a simulated 8 GiB namespace whose
reads follow the host contract's read model (80 us a request, 3000 MB/s):
the time and rate the tool's Verify line reports for the pass after the
erase against the model's time for the same requests, and the rate at which
the tool classes what it reads (bench/classing.cpp, built like the tool).

Usage: bench/bench.py [--build DIR] [--runs N] [--readme README.md]
"""
import argparse
import json
import os
import pty
import re
import select
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
QUERY_PROPERTY = 0x002D1400
WALL_RATIO_TARGET = 1.5
PEAK_TARGET_KIB = 4 * 1024
EXE_TARGET_BYTES = 160 * 1024
SYSTEM_DLLS = {"kernel32.dll", "msvcrt.dll", "advapi32.dll"}
# The two Windows programs: their place in the build and their objdump.
EXES = [("win/veltrane.exe", "i686-w64-mingw32-objdump"),
        ("win64/veltrane64.exe", "x86_64-w64-mingw32-objdump")]


def default_host():
    text = open(os.path.join(ROOT, "sim", "default_host.cpp")).read()
    return json.loads(text[text.index('R"JSON(') + 7:text.index(')JSON"')])


# The tool's exit statuses of an outcome (2 is a host file the simulator
# refused); the minimal program always ends with 0.
TOOL_STATUSES = {0, 1, 3, 4, 5, 6, 7, 8, 9, 10}


def timed_run(argv, cwd, env, statuses, stdin_data=b""):
    """Wall seconds, peak resident KiB and exit status of one child run.

    The peak comes from GNU time (%M) when it is there: a child forked from
    this Python process would count Python's pages as its own until exec.
    """
    peak_file = os.path.join(cwd, ".peak")
    timer = ["/usr/bin/time", "-f", "%M", "-o", peak_file] if os.path.exists("/usr/bin/time") else []
    start = time.perf_counter()
    proc = subprocess.Popen(timer + argv, cwd=cwd, env=env, stdin=subprocess.PIPE,
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    proc.stdin.write(stdin_data)
    proc.stdin.close()
    _, status, usage = os.wait4(proc.pid, 0)
    wall = time.perf_counter() - start
    proc.returncode = os.waitstatus_to_exitcode(status)
    if proc.returncode not in statuses:
        sys.exit("bench: %s exited with %d" % (argv[0], proc.returncode))
    if timer:
        with open(peak_file) as f:
            return wall, int(f.read().split()[-1]), proc.returncode
    return wall, usage.ru_maxrss, proc.returncode


def measure(argv, runs, env, statuses, trace=None):
    """Median wall seconds, peak KiB and the exit status (the same each run)."""
    walls, peaks, seen = [], [], set()
    for _ in range(runs):
        with tempfile.TemporaryDirectory() as cwd:
            if trace is not None:
                env = dict(env, VELTRANE_SIM_TRACE=os.path.join(cwd, "trace.jsonl"))
            wall, peak, status = timed_run(argv, cwd, env, statuses)
            walls.append(wall)
            peaks.append(peak)
            seen.add(status)
            if trace is not None and not trace:
                with open(os.path.join(cwd, "trace.jsonl")) as f:
                    trace.extend(json.loads(line) for line in f if line.strip())
    if len(seen) != 1:
        sys.exit("bench: %s ended with different statuses %s" % (argv[0], sorted(seen)))
    return statistics.median(walls), max(peaks), seen.pop()


def request_counts(trace):
    ioctls = [t for t in trace if t["op"] == "ioctl"]
    descriptor = sum(1 for t in ioctls if t["code"] == QUERY_PROPERTY
                     and t["in"][:8] == "00000000")
    reads = sum(1 for t in trace if t["op"] == "read")
    return len(ioctls), descriptor, reads


def without_reads(drive_number, cwd):
    """A host file: the default host, the drive's first read failing."""
    host = default_host()
    for d in host["drives"]:
        if d["number"] == drive_number:
            d["read_fail"] = [{"nth": 1, "error": 23}]
    path = os.path.join(cwd, "no-reads.json")
    with open(path, "w") as f:
        json.dump(host, f)
    return path


def exe_facts(build, place, objdump_name):
    exe = os.path.join(build, place)
    objdump = shutil.which(objdump_name)
    if not os.path.exists(exe) or not objdump:
        return None
    dump = subprocess.run([objdump, "-p", exe], capture_output=True, text=True).stdout
    dlls = sorted(set(m.lower() for m in re.findall(r"DLL Name: (\S+)", dump)))
    return os.path.getsize(exe), dlls


def proc_cpu_ticks(pid):
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return int(fields[11]) + int(fields[12])  # utime + stime


def key_wait_cpu(binary, wait_seconds=1.0):
    """CPU milliseconds the key wait uses while waiting, on a pseudo-terminal."""
    with tempfile.TemporaryDirectory() as cwd:
        pid, master = pty.fork()
        if pid == 0:
            os.chdir(cwd)
            os.execv(binary, [binary, "2", "1", "2"])
        out = b""
        deadline = time.time() + 20
        while b"Press any key to exit" not in out and time.time() < deadline:
            if b"for cancel" in out and b"Y\n" not in out:
                os.write(master, b"Y\n")
                out += b"Y\n"
            ready, _, _ = select.select([master], [], [], 0.1)
            if ready:
                try:
                    out += os.read(master, 4096)
                except OSError:
                    break
        if b"Press any key to exit" not in out:
            os.kill(pid, 9)
            os.waitpid(pid, 0)
            sys.exit("bench: the key wait was not reached:\n" + out.decode(errors="replace"))
        before = proc_cpu_ticks(pid)
        time.sleep(wait_seconds)
        after = proc_cpu_ticks(pid)
        still_waiting = os.waitpid(pid, os.WNOHANG)[0] == 0
        os.write(master, b"k")
        os.waitpid(pid, 0)
        os.close(master)
    tick_ms = 1000.0 / os.sysconf("SC_CLK_TCK")
    return (after - before) * tick_ms, still_waiting, tick_ms


# The levels' namespace: 8 GiB in 512-byte blocks, read as the contract's
# example drive reads.
LEVEL_LATENCY_US = 80
LEVEL_MB_S = 3000
LEVEL_BYTES = 8 << 30
LEVEL_RUNS = [("1Y", "quick"), ("1Y", "0.1%"), ("1Y", "1%"), ("1Y", "10%"), ("1Y", "full"),
              ("1VY", "full")]
CLASSING_TARGET_GBS = 4.0
TIME_BOUND = 1.05  # the Verify line's time against the model's


def model_us(size):
    return LEVEL_LATENCY_US + (size + LEVEL_MB_S - 1) // LEVEL_MB_S


def level_rows(binary, env, scratch):
    """Per level: units read after the erase, requests, the Verify line's
    ms and MB/s, the model's ms for those requests, their ratio, wall s."""
    host = {"drives": [{"number": 1, "path": "ofa",
                        "controller": {"nsze": LEVEL_BYTES // 512, "lbads": [9, 12]},
                        "read_model": {"latency_us": LEVEL_LATENCY_US, "mb_s": LEVEL_MB_S}}]}
    path = os.path.join(scratch, "levels.json")
    with open(path, "w") as f:
        json.dump(host, f)
    # The trace goes nowhere: without a file the simulator would keep it.
    run_env = dict(env, VELTRANE_SIM_HOST=path, VELTRANE_SIM_TRACE=os.devnull)
    rows = []
    for drive, level in LEVEL_RUNS:
        with tempfile.TemporaryDirectory() as cwd:
            start = time.perf_counter()
            out = subprocess.run([binary, drive, "--verify=" + level], cwd=cwd, env=run_env,
                                 stdin=subprocess.DEVNULL, capture_output=True,
                                 text=True).stdout
            wall = time.perf_counter() - start
        line = re.search(r"Verify  : \S+, (\d+) units of 4096 bytes read in (\d+) ms "
                         r"\((\d+) MB/s\)", out)
        samples = re.search(r"Verify  : (\d+) samples", out)
        if level == "full":
            requests = (LEVEL_BYTES + (1 << 20) - 1) >> 20
            model = requests * model_us(1 << 20) / 1000
        else:
            requests = int(line.group(1)) if line else int(samples.group(1))
            model = requests * model_us(4096) / 1000
        mode = "check alone" if "V" in drive else "after the erase"
        if line:
            units, ms, rate = int(line.group(1)), int(line.group(2)), int(line.group(3))
            rows.append((level, mode, units, requests, ms, rate, model, ms / model, wall))
        else:  # quick: no level line, the pass's time is not shown
            rows.append((level, mode, requests, requests, None, None, model, None, wall))
    return rows


def classing_rates(build):
    program = os.path.join(build, "bench-classing")
    subprocess.run([os.environ.get("CXX", "c++"), "-O2", "-g", "-std=c++17", "-I", ROOT, "-o",
                    program, os.path.join(ROOT, "bench", "classing.cpp"),
                    os.path.join(ROOT, "dialogue", "verify_unit.cpp")], check=True)
    fill, hashed = subprocess.run([program], capture_output=True, text=True,
                                  check=True).stdout.split()
    return float(fill), float(hashed)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--build", default=os.path.join(ROOT, "build"))
    parser.add_argument("--runs", type=int, default=15)
    parser.add_argument("--readme", help="write the figures into this README's Benchmark section")
    args = parser.parse_args()

    binary = os.path.join(args.build, "veltrane")
    if not os.path.exists(binary):
        sys.exit("bench: build the tool first (%s missing)" % binary)
    minimal = os.path.join(args.build, "bench-minimal")
    subprocess.run([os.environ.get("CXX", "c++"), "-O2", "-g", "-std=c++17", "-o", minimal,
                    os.path.join(ROOT, "bench", "minimal.cpp")], check=True)

    env = {k: v for k, v in os.environ.items() if not k.startswith("VELTRANE_SIM_")}
    rows, failed = [], []
    scratch = tempfile.mkdtemp()
    for drive in default_host()["drives"]:
        n = drive["number"]
        trace = []
        wall, peak, status = measure([binary, "%dY" % n], args.runs, env, TOOL_STATUSES, trace)
        base_wall, base_peak, _ = measure([minimal], args.runs, env, {0})
        total, descriptor, reads = request_counts(trace)
        bare_wall = wall
        if reads:
            quiet_env = dict(env, VELTRANE_SIM_HOST=without_reads(n, scratch))
            bare_wall, _, _ = measure([binary, "%dY" % n], args.runs, quiet_env, TOOL_STATUSES)
        check_ms = max(0.0, wall - bare_wall) * 1000
        # The read-back's time is mostly the simulated disk's (each unit's
        # content made, each read traced); the target is the tool's own.
        ratio = bare_wall / base_wall
        ok = ratio <= WALL_RATIO_TARGET and peak <= PEAK_TARGET_KIB
        if not ok:
            failed.append("drive %d (%s)" % (n, drive["path"]))
        rows.append((n, drive["path"], status, wall * 1000, base_wall * 1000, ratio, peak,
                     base_peak, total, descriptor, reads, check_ms, "yes" if ok else "NO"))

    lines = ["| drive | path | exit | wall ms | minimal ms | ratio | peak KiB | minimal KiB "
             "| requests | of which descriptor | reads | read-back ms | within targets |",
             "|---|---|---|---|---|---|---|---|---|---|---|---|---|"]
    for r in rows:
        lines.append("| %d | %s | %d | %.2f | %.2f | %.2f | %d | %d | %d | %d | %d | %.2f | %s |"
                     % r)
    lines.append("")
    lines.append("Load average when measured: %.1f on %d cores (wall times grow with it; the "
                 "ratios hold)." % (os.getloadavg()[0], os.cpu_count()))
    lines.append("")
    lines.append("Targets: wall time without the read-back <= %.1fx the minimal program's "
                 "(ratio), peak memory <= %d KiB (median of %d runs each). Reads: the read-back's "
                 "disk reads; read-back ms: the run's wall time less that of the same run whose "
                 "first read fails." % (WALL_RATIO_TARGET, PEAK_TARGET_KIB, args.runs))

    lines.append("")
    for place, objdump in EXES:
        name = os.path.basename(place)
        exe = exe_facts(args.build, place, objdump)
        if not exe:
            lines.append("- %s: not built (%s missing)."
                         % (name, os.path.relpath(os.path.join(args.build, place), ROOT)))
            continue
        size, dlls = exe
        system_only = set(dlls) <= SYSTEM_DLLS
        lines.append("- %s: %d bytes (%.1f KiB, target <= 160 KiB: %s); imports %s "
                     "(system DLLs only: %s)." % (name, size, size / 1024,
                                                   "yes" if size <= EXE_TARGET_BYTES else "NO",
                                                   ", ".join(dlls), "yes" if system_only else "NO"))
        if size > EXE_TARGET_BYTES or not system_only:
            failed.append(name)

    lines.append("")
    lines.append("The check at each level, 8 GiB namespace (2097152 units of 4 KiB), read model "
                 "%d us a request and %d MB/s; `veltrane 1Y --verify=LEVEL` and, for the check "
                 "alone, `veltrane 1VY --verify=full`:" % (LEVEL_LATENCY_US, LEVEL_MB_S))
    lines.append("")
    lines.append("| level | pass | units read | requests | Verify ms | achieved MB/s | model ms "
                 "| Verify / model | model bandwidth MB/s | wall s |")
    lines.append("|---|---|---|---|---|---|---|---|---|---|")
    for level, mode, units, requests, ms, rate, model, ratio, wall in level_rows(binary, env,
                                                                                   scratch):
        lines.append("| %s | %s | %d | %d | %s | %s | %.0f | %s | %d | %.1f |"
                     % (level, mode, units, requests, "-" if ms is None else ms,
                        "-" if rate is None else rate, model,
                        "-" if ratio is None else "%.3f" % ratio, LEVEL_MB_S, wall))
        if ratio is not None and ratio > TIME_BOUND:
            failed.append("level %s (%s)" % (level, mode))
    shutil.rmtree(scratch)
    fill, hashed = classing_rates(args.build)
    lines.append("")
    lines.append("Verify / model: the Verify line's time against the read model's for the same "
                 "requests (bound %.2f). Classing a 4 KiB unit of a 1 MiB request (the "
                 "process's CPU time): %.1f GB/s testing every byte for a blank fill (an erased "
                 "drive), %.1f GB/s hashing (a sample); target %.0f GB/s each: %s."
                 % (TIME_BOUND, fill, hashed, CLASSING_TARGET_GBS,
                    "yes" if min(fill, hashed) >= CLASSING_TARGET_GBS else "NO"))
    if min(fill, hashed) < CLASSING_TARGET_GBS:
        failed.append("classing rate")

    cpu_ms, waited, tick_ms = key_wait_cpu(binary)
    lines.append("")
    lines.append("Key wait: %.0f ms of CPU during 1 s of waiting (resolution %.0f ms; "
                 "still waiting at the end: %s)." % (cpu_ms, tick_ms, "yes" if waited else "NO"))
    if cpu_ms > tick_ms or not waited:
        failed.append("key wait")

    table = "\n".join(lines)
    print(table)
    if args.readme:
        write_readme(args.readme, table)
    if failed:
        print("\nbench: outside the targets: " + ", ".join(failed))
        return 1
    return 0


def write_readme(path, table):
    text = open(path).read()
    section = ("## Benchmark\n\nFigures of `python3 bench/bench.py` on the simulated host "
               "(full quiet run `veltrane <n>Y` per drive of the default host, against a "
               "minimal C++ program started the same way):\n\n" + table + "\n")
    at = text.find("\n## Benchmark\n")
    if at >= 0:
        end = text.find("\n## ", at + 1)
        text = text[:at + 1] + section + (text[end:] if end >= 0 else "")
    else:
        text = text.rstrip("\n") + "\n\n" + section
    with open(path, "w") as f:
        f.write(text)


if __name__ == "__main__":
    sys.exit(main())
