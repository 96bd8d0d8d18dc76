#!/usr/bin/env python3
"""Writes docs/PERFORMANCE.md (to standard output) from the results of scripts/bench: the
searches, the run against its floors on each file system, the whole programs, peak memory and
the profiles, each goal with the figure that meets or misses it."""

import argparse
import json
import os
import platform
import re
import subprocess


def load(path):
    with open(path) as f:
        return json.load(f)


def machine(context, folder):
    cpu = "unknown processor"
    with open("/proc/cpuinfo") as f:
        for line in f:
            if line.startswith("model name"):
                cpu = line.split(":", 1)[1].strip()
                break
    memory = os.sysconf("SC_PAGE_SIZE") * os.sysconf("SC_PHYS_PAGES") / 2**30
    filesystem = subprocess.run(["df", "--output=fstype,source", folder],
                                capture_output=True, text=True).stdout.split("\n")[1].split()
    return ("%s, %d cores, %.0f GiB of memory, Linux %s; the search uses %s; targets on %s (%s)"
            % (cpu, context["num_cpus"], memory, platform.release(), context.get("anchor_scan"),
               filesystem[0], filesystem[1]))


def searches(benchmarks):
    rows = {}
    for b in benchmarks:
        m = re.match(r"Search/(.+)/MiB:(\d+)/pair:(\d)", b["name"])
        if m:
            rows.setdefault((int(m[2]), int(m[3])), {})[m[1]] = b["bytes_per_second"] / 2**30
    return rows


def file_runs(benchmarks):
    runs = {}
    for b in benchmarks:
        m = re.match(r"File/RunPatch_vs_floors/MiB:(\d+)", b["name"])
        if m:
            runs[int(m[1])] = b
    return runs


def mark(ok):
    if ok is None:
        return "not measurable here"
    return "met" if ok else "**missed**"


def steady(run):
    """Whether the medians of a size are ordered as the work is: reading the file alone never
    took longer than reading it and copying it. Where they are not, the machine's swings at that
    size exceed the differences measured."""
    return run["scan_floor_ms"] <= run["copy_floor_ms"] and run["scan_floor_ms"] <= run["RunPatch_ms"]


# The file systems measured, as scripts/bench names their results, and how the page names them.
FILE_SYSTEMS = [("disk", "this disk"), ("tmpfs", "a tmpfs"), ("xfs", "XFS"), ("btrfs", "btrfs")]


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--results", required=True)
    parser.add_argument("--folder", required=True)
    parser.add_argument("--command", required=True)
    args = parser.parse_args()
    engine = load(os.path.join(args.results, "engine.json"))
    peers = {where: load(os.path.join(args.results, "peers-%s.json" % where))
             for where in ("disk", "tmpfs")}
    profiles = {}
    for where in ("disk", "xfs"):
        path = os.path.join(args.results, "profile-%s.txt" % where)
        if os.path.exists(path):
            with open(path) as f:
                profiles[where] = f.read().rstrip()
    search = searches(engine["benchmarks"])
    runs = {"disk": file_runs(engine["benchmarks"])}
    for where, _ in FILE_SYSTEMS[1:]:
        path = os.path.join(args.results, "engine-%s.json" % where)
        if os.path.exists(path):
            runs[where] = file_runs(load(path)["benchmarks"])
    out = []
    say = out.append

    say("# Performance")
    say("")
    say("Measured by `%s` on %s, %s. Whole-process times on this machine swing widely (the disk"
        " most of all), so every comparison runs its contenders side by side, in an order that"
        " changes from round to round, and quotes medians; ratios are medians of the per-round"
        " ratios." % (args.command, engine["context"]["date"][:10],
                      machine(engine["context"], args.folder)))
    say("")
    say("To reproduce: `scripts/bench` as root (about an hour; `scripts/bench --quick` for the 1"
        " and 64 MiB targets only; XFS and btrfs are loop-mounted images, measured only as"
        " root). It builds the `bench` preset, makes executable-like targets"
        " (`ombrix-make-target`: runs of zeros, blank pairs, UTF-16 words, random bytes) with the"
        " three English texts in their last 64 KiB, so that the run reads nearly all of the"
        " file, and writes this page.")
    say("")

    say("## Goals")
    say("")
    goals = []
    for size in (64, 256, 1024):
        run = runs["disk"].get(size)
        if run:
            goals.append(("`RunPatch` within 1.3x of the copy floor at %d MiB, on this disk" % size,
                          "%.2fx" % run["RunPatch_per_copy_floor"],
                          run["RunPatch_per_copy_floor"] <= 1.3 if steady(run) else None))
            goals.append(("`RunPatch` at least 3x faster than the whole-buffer run at %d MiB, on"
                          " this disk" % size, "%.2fx" % run["whole_buffer_per_RunPatch"],
                          run["whole_buffer_per_RunPatch"] >= 3 if steady(run) else None))
    run = runs["disk"].get(256)
    if run:
        goals.append(("`RunPatch` within 1.2x of the copy floor with read-back at 256 MiB, on"
                      " this disk", "%.2fx" % run["RunPatch_per_copy_floor_read_back"],
                      run["RunPatch_per_copy_floor_read_back"] <= 1.2 if steady(run) else None))
    for where, name in FILE_SYSTEMS[2:]:
        for size in (64, 256, 1024):
            run = runs.get(where, {}).get(size)
            if run:
                goals.append(("`RunPatch` within 1.5x of the scan floor at %d MiB, on %s"
                              % (size, name), "%.2fx" % run["RunPatch_per_scan_floor"],
                              run["RunPatch_per_scan_floor"] <= 1.5 if steady(run) else None))
        run = runs.get(where, {}).get(256)
        if run:
            goals.append(("a run and its restore within 1.2x of two clone floors at 256 MiB, on"
                          " %s" % name, "%.2fx" % run["run_restore_per_two_clone_floors"],
                          run["run_restore_per_two_clone_floors"] <= 1.2 if steady(run)
                          else None))
        if where not in runs:
            goals.append(("`RunPatch` within 1.5x of the scan floor on %s" % name,
                          "not measured (needs root)", None))
    slowest = min((v["ours"] / max(v["std::boyer_moore"], v["memmem"]), key)
                  for key, v in search.items())
    goals.append(("each search at least as fast as std::boyer_moore_searcher and memmem",
                  "%.2fx the faster of them at the least (%d MiB, pair %d)"
                  % (slowest[0], slowest[1][0], slowest[1][1] + 1), slowest[0] >= 1.0))
    for where in ("disk", "tmpfs"):
        rows = [r for r in peers[where] if r["size_mib"] >= 64]
        synced = [r for r in rows if r["program"] == "python3: new file, fsync, rename"]
        if synced:
            worst = min(synced, key=lambda r: r["median_over_ours"])
            goals.append(("at least 2.5x faster than the Python script that writes a new file"
                          " (as safely: fsync, rename), %s" % where,
                          "%.2fx at the least (%d MiB)" % (worst["median_over_ours"],
                                                           worst["size_mib"]),
                          worst["median_over_ours"] >= 2.5))
        in_place = [r for r in rows if r["program"] == "python3: in place"]
        if in_place:
            worst = min(in_place, key=lambda r: r["median_over_ours"])
            goals.append(("faster than the Python script that writes in place, %s" % where,
                          "%.2fx at the least (%d MiB)" % (worst["median_over_ours"],
                                                           worst["size_mib"]),
                          worst["median_over_ours"] > 1.0))
    ours = [r for r in peers["disk"] + peers["tmpfs"] if r["program"] == "ombrix-patch-cli"]
    worst_memory = max(ours, key=lambda r: r["peak_mib"])
    goals.append(("peak memory at most 16 MiB at any size",
                  "%.1f MiB at the most (%d MiB)" % (worst_memory["peak_mib"],
                                                      worst_memory["size_mib"]),
                  worst_memory["peak_mib"] <= 16))
    if len(runs["disk"]) >= 2:
        per_mib = {size: r["RunPatch_ms"] / size for size, r in runs["disk"].items()
                   if size >= 64 and steady(r)}
        spread = max(per_mib.values()) / min(per_mib.values()) if per_mib else 1
        goals.append(("time linear in size (ms per MiB from 64 MiB up, this disk)",
                      ", ".join("%.2f at %d MiB" % (v, k) for k, v in sorted(per_mib.items())),
                      spread <= 1.5))
    say("| Goal | Measured | |")
    say("|---|---|---|")
    for goal, figure, ok in goals:
        say("| %s | %s | %s |" % (goal, figure, mark(ok)))
    say("")

    say("## The run against its floors")
    say("")
    say("The run reads the target once through a 256 KiB buffer while it searches it, makes the"
        " new copy in the kernel (a clone where the file system shares blocks, else"
        " `copy_file_range`), writes the three ranges, gives the copy the file's identity,"
        " flushes it, reads back from the device what it must check and renames it over the"
        " file. What it reads back depends on the way: a copy's every block is new, written by"
        " the kernel on the run's behalf, so all its data is read back and compared; a clone"
        " shares every block with the file but those the run wrote, and the file system keeps"
        " the shared ones the file's own, so only the blocks holding the three ranges are read"
        " back (reading the rest would read the file's own blocks again). Its floors do the least"
        " of that work: the *scan floor* reads the file once through a 1 MiB buffer; the *copy"
        " floor* adds `copy_file_range` into a new file, `fsync` and `rename`; the *clone floor*"
        " a clone (`FICLONE`) instead, where the file system has it. The copy floor with"
        " read-back also drops the copy's cached pages and reads it back from the device and"
        " compares it, as the run checks a copy: the difference between the two copy floors is"
        " what that check costs. The *whole-buffer run* is"
        " how a run worked before: the whole file read into memory, searched, written to a new"
        " file, flushed, read back from the cache and compared, renamed. Ratios above 1 mean"
        " the run took longer than the floor; the last column, how many times longer the"
        " whole-buffer run took than the run.")
    say("")
    for where, name in FILE_SYSTEMS:
        table = runs.get(where)
        if not table:
            continue
        say("### On %s" % name)
        say("")
        say("| Size | RunPatch | Scan floor | Copy floor | Copy floor + read-back | Clone floor |"
            " Whole-buffer run | Run / scan | Run / copy | Run / clone | Whole-buffer / run |"
            " Rounds |")
        say("|---|---|---|---|---|---|---|---|---|---|---|---|")
        for size, r in sorted(table.items()):
            clone = r.get("clone_floor_ms")
            say("| %d MiB%s | %.1f ms | %.1f ms | %.1f ms | %.1f ms | %s | %.1f ms | %.2fx |"
                " %.2fx | %s | %.2fx | %d |"
                % (size, "" if steady(r) else " (unsteady)", r["RunPatch_ms"], r["scan_floor_ms"],
                   r["copy_floor_ms"], r["copy_floor_read_back_ms"],
                   "%.1f ms" % clone if clone else "no clones", r["whole_buffer_ms"],
                   r["RunPatch_per_scan_floor"], r["RunPatch_per_copy_floor"],
                   "%.2fx" % r["RunPatch_per_clone_floor"] if clone else "-",
                   r["whole_buffer_per_RunPatch"], r["iterations"]))
        say("")
        if not all(steady(r) for r in table.values()):
            say("Unsteady: at that size, reading the file alone took longer in the medians than"
                " work that includes it, so the machine's swings exceed the differences"
                " measured; its ratios mean nothing here.")
            say("")
    say("## A run and the restore after it")
    say("")
    say("A run, then a restore of what it wrote, against two floors one after the other (the"
        " second reads the file the first renamed into place, as the restore reads the run's):"
        " two clone floors where the file system clones, two copy floors with read-back"
        " everywhere. Ratios above 1 mean the run and the restore took longer.")
    say("")
    say("| File system | Size | Run + restore | Two clone floors | Two copy floors + read-back |"
        " Run + restore / clones | Run + restore / copies | Rounds |")
    say("|---|---|---|---|---|---|---|---|")
    for where, name in FILE_SYSTEMS:
        for size, r in sorted(runs.get(where, {}).items()):
            if "run_restore_ms" not in r:
                continue
            clones = r.get("two_clone_floors_ms")
            say("| %s | %d MiB%s | %.1f ms | %s | %.1f ms | %s | %.2fx | %d |"
                % (name, size, "" if steady(r) else " (unsteady)", r["run_restore_ms"],
                   "%.1f ms" % clones if clones else "no clones",
                   r["two_copy_floors_read_back_ms"],
                   "%.2fx" % r["run_restore_per_two_clone_floors"] if clones else "-",
                   r["run_restore_per_two_copy_floors_read_back"], r["iterations"]))
    say("")

    say("## Each search alone, over the same buffer in memory (GiB/s)")
    say("")
    names = ["ours", "std::boyer_moore", "std::boyer_moore_horspool", "memmem"]
    say("| Size | Text | " + " | ".join(names) + " | ours / Boyer-Moore | ours / memmem |")
    say("|---|---|" + "---|" * (len(names) + 2))
    for (size, pair), v in sorted(search.items()):
        say("| %d MiB | %d | %s | %.2fx | %.2fx |"
            % (size, pair + 1, " | ".join("%.2f" % v[n] for n in names),
               v["ours"] / v["std::boyer_moore"], v["ours"] / v["memmem"]))
    say("")

    for where, title in (("disk", "on this disk"),
                         ("tmpfs", "on a tmpfs, where writing costs no disk time")):
        say("## Whole programs %s" % title)
        say("")
        say("Each program patches a fresh copy of the same target; its result is checked against"
            " ours byte for byte. Time over ours above 1 means slower than ours.")
        say("")
        say("| Size | Program | Median time | Time over ours | Peak memory | Rounds |")
        say("|---|---|---|---|---|---|")
        for r in sorted(peers[where], key=lambda r: (r["size_mib"], r["median_over_ours"])):
            say("| %d MiB | %s | %.3f s | %.2fx | %.0f MiB | %d |"
                % (r["size_mib"], r["program"], r["median_s"], r["median_over_ours"],
                   r["peak_mib"], r["rounds"]))
        say("")

    say("## Where the time goes")
    say("")
    for where, name in (("disk", "this disk"), ("xfs", "XFS")):
        if profiles.get(where):
            say("`perf record` of one `ombrix-patch-cli` run on a 256 MiB target on %s (self time,"
                " top 15):" % name)
            say("")
            say("```")
            say(profiles[where])
            say("```")
            say("")
    if not profiles:
        say("No profile: perf cannot count on this machine.")
        say("")
    print("\n".join(out))


if __name__ == "__main__":
    main()
