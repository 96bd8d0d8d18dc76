#!/usr/bin/env python3
"""Times whole programs that patch the same target: ombrix-patch-cli and what a user would write
instead (Python scripts, perl -0777, bbe). Each round runs every program once, in an order
that changes from round to round, on a fresh copy of the same target, so that the machine's
swings fall on all alike; the medians of the times, of each program's time over ours, and of
the peak memory are written as JSON. Every program's result is checked against ours."""

import argparse
import hashlib
import json
import os
import random
import shutil
import subprocess
import sys
import tempfile
import time

# The three pairs, as the engine holds them (engine/search/patch_table.h).
PAIRS = [
    (" " * 28 + "Work with Submitted Jobs" + " " * 19,
     " " * 24 + "Arbeide med jobber som er sendt" + " " * 16),
    (" " * 29 + "Display Module Source" + " " * 30,
     " " * 32 + "Vise modulkilde" + " " * 33),
    ("English" + " " * 8, "Norwegian" + " " * 6),
]

# Reads the whole file and finds each text with bytes.find, as the run does.
PYTHON_FIND = r"""
import os, sys
pairs = %r
path = sys.argv[1]
data = open(path, 'rb').read()
ranges = []
for english, norwegian in pairs:
    e, n = english.encode('utf-16-le'), norwegian.encode('utf-16-le')
    i = data.find(e)
    if i < 0:
        sys.exit('not found')
    data = data[:i] + n + data[i + len(e):]
    ranges.append((i, n))
""" % (PAIRS,)

# Then writes a new file beside the target, flushes it and renames it over: as safe as the run.
PYTHON_NEW_FILE_SYNCED = PYTHON_FIND + r"""
with open(path + '.tmp', 'wb') as f:
    f.write(data)
    f.flush()
    os.fsync(f.fileno())
os.replace(path + '.tmp', path)
"""

# The same without flushing, as most scripts do.
PYTHON_NEW_FILE = PYTHON_FIND + r"""
with open(path + '.tmp', 'wb') as f:
    f.write(data)
os.replace(path + '.tmp', path)
"""

# Writes just the three ranges into the file itself.
PYTHON_IN_PLACE = PYTHON_FIND + r"""
with open(path, 'r+b') as f:
    for i, n in ranges:
        f.seek(i)
        f.write(n)
"""


def escaped(text):
    """The text's UTF-16LE image as \\xHH escapes, which perl and bbe both read."""
    return "".join("\\x%02x" % b for b in text.encode("utf-16-le"))


def perl_command(path):
    script = "".join("s/%s/%s/;" % (escaped(e), escaped(n)) for e, n in PAIRS)
    return ["perl", "-0777", "-pi", "-e", script, path]


def bbe_command(path):
    commands = []
    for e, n in PAIRS:
        commands += ["-e", "s/%s/%s/" % (escaped(e), escaped(n))]
    return ["sh", "-c", 'bbe "$@" -o "$0.tmp" "$0" && mv "$0.tmp" "$0"', path] + commands


def programs(cli, size):
    found = {
        "ombrix-patch-cli": lambda p: [cli, p],
        "python3: new file, fsync, rename": lambda p: [sys.executable, "-c", PYTHON_NEW_FILE_SYNCED, p],
        "python3: new file, rename": lambda p: [sys.executable, "-c", PYTHON_NEW_FILE, p],
        "python3: in place": lambda p: [sys.executable, "-c", PYTHON_IN_PLACE, p],
        "perl -0777 -pi": perl_command,
    }
    if shutil.which("bbe") and size <= 256:  # bbe takes most of a minute for a GiB
        found["bbe, then mv"] = bbe_command
    return found


def digest(path):
    hash = hashlib.sha256()
    with open(path, "rb") as f:
        for chunk in iter(lambda: f.read(1 << 20), b""):
            hash.update(chunk)
    return hash.hexdigest()


def timed(command):
    """Runs `command`; returns (seconds, peak resident memory in KiB). GNU time measures the
    memory: a child forked from this Python process would count Python's own."""
    with tempfile.NamedTemporaryFile("r") as report:
        start = time.perf_counter()
        finished = subprocess.run(["/usr/bin/time", "-f", "%M", "-o", report.name] + command,
                                  stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        elapsed = time.perf_counter() - start
        if finished.returncode != 0:
            raise RuntimeError("%s failed: %s" % (command[0], finished.stderr.decode()))
        return elapsed, int(report.read().split()[-1])


def median(values):
    values = sorted(values)
    middle = len(values) // 2
    return values[middle] if len(values) % 2 else (values[middle - 1] + values[middle]) / 2


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--cli", required=True)
    parser.add_argument("--make-target", required=True)
    parser.add_argument("--folder", required=True, help="where the targets are written")
    parser.add_argument("--sizes", default="1,64,256,1024", help="MiB, comma-separated")
    parser.add_argument("--rounds", type=int, default=0, help="rounds per size (0: by size)")
    parser.add_argument("--out", required=True)
    args = parser.parse_args()

    results = []
    shuffle = random.Random(1)
    for size in [int(s) for s in args.sizes.split(",")]:
        base = os.path.join(args.folder, "peers-%d.base" % size)
        work = os.path.join(args.folder, "peers-%d.exe" % size)
        subprocess.run([args.make_target, str(size), base], check=True)
        shutil.copyfile(base, work)
        subprocess.run([args.cli, work], check=True, stdout=subprocess.DEVNULL)
        expected = digest(work)
        rounds = args.rounds or (15 if size <= 1 else 7 if size <= 256 else 3)
        times, memory = {}, {}
        for round in range(rounds):
            order = list(programs(args.cli, size).items())
            shuffle.shuffle(order)
            for name, command in order:
                shutil.copyfile(base, work)
                os.sync()  # the copy's writing is not charged to the program
                elapsed, peak = timed(command(work))
                if digest(work) != expected:
                    raise RuntimeError("%s wrote other bytes than ombrix-patch-cli" % name)
                times.setdefault(name, []).append(elapsed)
                memory.setdefault(name, []).append(peak)
            print("  %d MiB: round %d of %d" % (size, round + 1, rounds), file=sys.stderr)
        ours = times["ombrix-patch-cli"]
        for name in times:
            results.append({
                "size_mib": size,
                "program": name,
                "rounds": rounds,
                "median_s": median(times[name]),
                "median_over_ours": median([t / o for t, o in zip(times[name], ours)]),
                "peak_mib": median(memory[name]) / 1024,
            })
        os.remove(base)
        os.remove(work)
    with open(args.out, "w") as f:
        json.dump(results, f, indent=1)


if __name__ == "__main__":
    main()
