#!/usr/bin/env python3
"""Writes docs/PERFORMANCE.md (to standard output) from the results of scripts/bench: the
searches, the run against the floor, the whole programs, peak memory and the profile, each goal
with the figure that meets or misses it."""

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
        m = re.match(r"File/RunPatch_vs_floor/MiB:(\d+)", b["name"])
        if m:
            runs[int(m[1])] = b
    return runs


def mark(ok):
    if ok is None:
        return "not measurable here"
    return "met" if ok else "**missed**"


def steady(run):
    """Whether the medians of a size are ordered as the work is: more work never took less time.
    Where they are not, the machine's swings at that size exceed the differences measured."""
    return run["floor_ms"] <= run["floor_verify_ms"] <= run["RunPatch_ms"]


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--results", required=True)
    parser.add_argument("--folder", required=True)
    parser.add_argument("--command", required=True)
    args = parser.parse_args()
    engine = load(os.path.join(args.results, "engine.json"))
    peers = {where: load(os.path.join(args.results, "peers-%s.json" % where))
             for where in ("disk", "tmpfs")}
    with open(os.path.join(args.results, "profile.txt")) as f:
        profile = f.read().rstrip()
    search = searches(engine["benchmarks"])
    runs = file_runs(engine["benchmarks"])
    tmpfs_runs = file_runs(load(os.path.join(args.results, "engine-tmpfs.json"))["benchmarks"])
    out = []
    say = out.append

    say("# Performance")
    say("")
    say("Measured by `%s` on %s, %s. Whole-process times on this machine swing widely (the disk"
        " most of all), so every comparison runs its contenders pair by pair, in an order that"
        " changes from round to round, and quotes medians; ratios are medians of the per-round"
        " ratios." % (args.command, engine["context"]["date"][:10],
                      machine(engine["context"], args.folder)))
    say("")
    say("To reproduce: `scripts/bench` (about half an hour; `scripts/bench --quick` for the 1 and"
        " 64 MiB targets only). It builds the `bench` preset, makes executable-like targets"
        " (`ombrix-make-target`: runs of zeros, blank pairs, UTF-16 words, random bytes) with the"
        " three English texts in their last 64 KiB, so that every search scans nearly all of the"
        " file, and writes this page.")
    say("")

    say("## Goals")
    say("")
    goals = []
    for size in [size for size in (256, 1024) if size in runs]:
        r, t = runs[size], tmpfs_runs.get(size)
        for where, run in (("on this disk", r), ("on a tmpfs", t)):
            if run:
                goals.append(("`RunPatch` within 1.10x of the floor at %d MiB, %s" % (size, where),
                              "%.2fx (%.2fx of the floor that also reads back and compares)"
                              % (run["RunPatch_per_floor"], run["RunPatch_per_floor_verify"]),
                              run["RunPatch_per_floor"] <= 1.10 if steady(run) else None))
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
    worst_memory = max(ours, key=lambda r: r["peak_mib"] - r["size_mib"])
    goals.append(("peak memory at most the file size plus 16 MiB",
                  "file size plus %.1f MiB at the most (%d MiB)"
                  % (worst_memory["peak_mib"] - worst_memory["size_mib"],
                     worst_memory["size_mib"]),
                  worst_memory["peak_mib"] - worst_memory["size_mib"] <= 16))
    if len(runs) >= 2:
        per_mib = {size: r["RunPatch_ms"] / size for size, r in runs.items()
                   if size >= 64 and steady(r)}
        spread = max(per_mib.values()) / min(per_mib.values()) if per_mib else 1
        goals.append(("time linear in size (ms per MiB from 64 MiB up)",
                      ", ".join("%.2f at %d MiB" % (v, k) for k, v in sorted(per_mib.items())),
                      spread <= 1.5))
    say("| Goal | Measured | |")
    say("|---|---|---|")
    for goal, figure, ok in goals:
        say("| %s | %s | %s |" % (goal, figure, mark(ok)))
    say("")

    say("## The run against the floor")
    say("")
    say("The floor is the same work without the search: read the whole file into a buffer"
        " allocated as the run allocates it, write it to a new file beside it, flush it, rename"
        " it over the file, flush the folder. The run also reads its new copy back and compares"
        " it before the rename; the floor with the same read-back shows what that costs alone."
        " On the disk, flushing dominates and the disk's own swings are large (it slows down"
        " after much writing); on a tmpfs the same work shows the cost of the processor's part"
        " alone.")
    say("")
    for title, table in (("On this disk", runs), ("On a tmpfs", tmpfs_runs)):
        say("### %s" % title)
        say("")
        say("| Size | RunPatch | Floor | Floor + read-back | RunPatch / floor |"
            " (floor + read-back) / floor | RunPatch / (floor + read-back) | Pairs |")
        say("|---|---|---|---|---|---|---|---|")
        for size, r in sorted(table.items()):
            say("| %d MiB%s | %.1f ms | %.1f ms | %.1f ms | %.2fx | %.2fx | %.2fx | %d |"
                % (size, "" if steady(r) else " (unsteady)", r["RunPatch_ms"], r["floor_ms"],
                   r["floor_verify_ms"], r["RunPatch_per_floor"], r["verify_per_floor"],
                   r["RunPatch_per_floor_verify"], r["iterations"]))
        say("")
        if not all(steady(r) for r in table.values()):
            say("Unsteady: at that size, work that does more took less time in the medians, so"
                " the machine's swings exceed the differences measured; its ratios mean"
                " nothing here.")
            say("")
    for size, r in sorted(tmpfs_runs.items()):
        if size < 256 or not steady(r):
            continue
        above = r["RunPatch_ms"] - r["floor_ms"]
        read_back = r["floor_verify_ms"] - r["floor_ms"]
        disk = runs.get(size)
        say("At %d MiB on the tmpfs the run takes %.0f ms more than the floor: the read-back and"
            " compare about %.0f ms of it, the search and everything else about %.0f ms.%s"
            % (size, above, read_back, above - read_back,
               " On the disk the floor takes %.0f ms, so these %.0f ms are %.0f%% of it."
               % (disk["floor_ms"], above, 100 * above / disk["floor_ms"]) if disk else ""))
        say("")
    say("Why the 1.10x goal is missed where it is: the read-back is the price of never replacing"
        " a file with a copy that differs from what was meant. No peer pays it, and on its own"
        " it takes more than the 10% the goal allows over a floor without it, as the"
        " (floor + read-back) / floor column shows. Against the floor that also reads back, the"
        " run stays near or within 1.10x. The search itself runs while the file is read, a"
        " megabyte at a time, while each part is still in the cache; the profile below shows"
        " the kernel's copying (reading, writing, reading back) above everything of ours.")
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
    if profile:
        say("`perf record` of one `ombrix-patch-cli` run on a 256 MiB target (self time, top 15):")
        say("")
        say("```")
        say(profile)
        say("```")
    else:
        say("No profile: perf cannot count on this machine.")
    say("")
    print("\n".join(out))


if __name__ == "__main__":
    main()
