#!/usr/bin/env python3
"""Writes docs/RELIABILITY.md (to standard output) from what scripts/reliability collected in
the folder given: the tests' JSON results natively and under Wine, the fault matrix rows, the
kill test's summary and the last fuzzing run's log."""

import datetime
import json
import os
import re
import sys

# The tests that make real faults, and what each does.
REAL_FAULTS = [
    ("FullDisk", "disk full: a 1.5x-the-target tmpfs mounted in a mount namespace of the test's "
                 "own: patched in place, no copy left"),
    ("FileSizeLimit", "file-size limit (RLIMIT_FSIZE, as `ulimit -f`) below the target's size"),
    ("ReadOnlyMount", "read-only bind mount of the target's folder"),
    ("Immutable", "immutable target (`chattr +i`)"),
    ("Unreadable", "unreadable target, run as an ordinary user (root reads everything)"),
    ("ReadOnlyFolderWithWritable", "read-only folder, writable target, as an ordinary user"),
    ("ReadOnlyFolderAndTarget", "read-only folder and target, as an ordinary user"),
    ("TargetInUse", "target held open as Windows holds a running program's file"),
    ("RunningProgram", "target that is a running program (a copy of the test program, started)"),
    ("ReadOnlyTarget", "target with the read-only attribute"),
    ("AppendOnlyFolder", "append-only folder (`chattr +a`): patched in place, no copy left"),
    ("MayNotChange", "a file of root's in a folder open to all, run as an ordinary user"),
    ("ReplacedMeanwhile", "the file replaced meanwhile by another of the same length and times"),
    ("SignalThatEnds", "twelve signals that end the program, while the copy exists or the file "
                       "is written in place, and taken by another thread"),
    ("NameTakenOver", "the new copy's name taken over by the folder's owner (a FIFO, a link)"),
    ("FolderRenamed", "the target's folder renamed during the run"),
    ("SharedFolder", "a group member patching root's file in shared and sticky folders"),
    ("NoWayCanKeep", "an owner's file whose group and set-group-ID bit no way of writing keeps"),
    ("SameSecond", "another program's change within the same second (ext4, one-second times)"),
    ("InPlaceFailureThatChangedNothing", "an in-place write refused by a file-size limit"),
]


def results(path):
    """{(suite, name): (status, value_param)} of a GoogleTest JSON report."""
    if not os.path.exists(path):
        return {}
    found = {}
    for suite in json.load(open(path))["testsuites"]:
        for test in suite["testsuite"]:
            if test.get("status") != "RUN":
                continue
            status = "skipped" if test.get("result") == "SKIPPED" else (
                "**failed**" if test.get("failures") else "passed")
            found[(suite["name"], test["name"])] = (status, test.get("value_param", ""))
    return found


def main():
    folder = sys.argv[1]
    # Which Windows build ran, and under which Wine loader: "win32 under wine", say.
    windows_build = open(os.path.join(folder, "windows-build.txt")).read().strip()
    platforms = {"Linux": results(os.path.join(folder, "linux.json")),
                 "Windows (%s)" % windows_build: results(os.path.join(folder, "windows.json"))}
    matrix = []
    for name in ("matrix-linux.md", "matrix-windows.md"):
        path = os.path.join(folder, name)
        if os.path.exists(path):
            matrix += [line.rstrip() for line in open(path, encoding="utf-8") if line.strip()]
    kill = open(os.path.join(folder, "kill.txt")).read().strip()
    kill_in_place = open(os.path.join(folder, "kill-in-place.txt")).read().strip()
    fuzz_log = open(os.path.join(folder, "fuzz.log"), errors="replace").read()
    out = []
    say = out.append

    say("# Reliability")
    say("")
    say("Written by `scripts/reliability` on %s. A run must never lose or half-write the user's"
        " file: whatever fails, the target holds exactly its old bytes or exactly its new"
        " bytes, nothing is left beside it, and the error names the step that failed."
        % datetime.date.today().isoformat())
    say("")

    damaged = [row for row in matrix if "**" in row]
    say("## Summary")
    say("")
    say("- Fault matrix: %d failing file-system calls, natively and under Wine; %s." % (
        len(matrix), "every one left the old or the new bytes and nothing beside the target"
        if not damaged else "**%d left something else**" % len(damaged)))
    for platform, found in platforms.items():
        bad = [v for k, v in found.items() if k[0].startswith("Kinds/")]
        failed = [v for v in bad if v[0] != "passed"]
        say("- Bad paths, %s: %d kinds, %s." % (
            platform, len(bad), "each answered as listed, without hang or crash, touching"
            " nothing" if not failed else "**%d not as listed**" % len(failed)))
    say("- Kill test: %s." % kill)
    say("- Kill test of the write in place: %s." % kill_in_place)
    executions = re.search(r"stat::number_of_executed_units:\s*(\d+)", fuzz_log)
    seconds = re.search(r"-max_total_time=(\d+)|fuzzing the replacement for (\d+) s", fuzz_log)
    crashed = re.search(r"ERROR: |deadly signal|SUMMARY: ", fuzz_log)
    say("- Fuzzing: %s executions of the replacement against the plain definition%s, %s." % (
        "{:,}".format(int(executions[1])) if executions else "no",
        " in %s s" % (seconds[1] or seconds[2]) if seconds else "",
        "**with a difference or a memory error**" if crashed else "with no difference"))
    say("- `scripts/test` also runs every engine test under AddressSanitizer and"
        " UndefinedBehaviorSanitizer (the `linux-asan` preset) and under valgrind's memcheck,"
        " and short runs of the kill test and the fuzzer.")
    say("")

    say("## Fault matrix")
    say("")
    say("Every file-system call of a run on a 64 KiB target goes through one interface"
        " (`engine/platform/file_system.h`), which the tests wrap to make any call fail"
        " (`engine/testing/faulty_file_system.h`). The test fails call 1, 2, ... in turn, once that call"
        " alone and once that call and every later one, until a run makes no more calls than"
        " the number failed (`RunPatchTest.EveryFailingCallLeavesOldOrNewBytesAndNoLeftover`)."
        " A failure to create the new copy makes the run overwrite the three ranges in place"
        " instead; the failures of that path are tested in `RunPatchPosixTest.FailuresWhile"
        "OverwritingInPlaceAreUndone`.")
    say("")
    say("| Platform | Failing | Call | Which | Answer | Target afterwards | Left beside it | Error |")
    say("|---|---|---|---|---|---|---|---|")
    out.extend(matrix)
    say("")

    say("## Real faults on this machine")
    say("")
    say("| Fault | " + " | ".join(platforms) + " |")
    say("|---|" + "---|" * len(platforms))
    for key, description in REAL_FAULTS:
        cells = []
        for found in platforms.values():
            hits = [v[0] for k, v in found.items() if key in k[1]]
            cells.append(", ".join(sorted(set(hits))) if hits else "n/a")
        say("| %s | %s |" % (description, " | ".join(cells)))
    say("")
    say("Each passed test checked that the run failed with an error (or, for the read-only and"
        " the append-only folder, completed in place), that the target held its old bytes (or"
        " the other program's), and that nothing was left beside it. A skipped test needs root"
        " (mounts, `chattr`).")
    say("")

    say("## Bad paths")
    say("")
    say("Each path is answered without hang or crash and touches nothing in its folder"
        " (`engine/run/bad_paths_test.cc`).")
    say("")
    say("| Path | Answer | " + " | ".join(platforms) + " |")
    say("|---|---|" + "---|" * len(platforms))
    kinds = {}
    for index, found in enumerate(platforms.values()):
        for (suite, _), (status, param) in found.items():
            if suite.startswith("Kinds/") and " -> " in param:
                kind, answer = param.rsplit(" -> ", 1)
                kinds.setdefault((kind, answer), [None] * len(platforms))[index] = status
    for (kind, answer), cells in kinds.items():
        say("| %s | %s | %s |" % (kind, answer, " | ".join(c or "n/a" for c in cells)))
    say("")
    say("A file that another program changes while a run works on it is an error that leaves"
        " it as that program made it"
        " (`RunPatchTest.ChangeByAnotherProgramDuringTheRunIsAnErrorAndKeptAsTheyMadeIt`)."
        " On Windows a trailing blank or dot is dropped, as everywhere in Windows, so"
        " \"Ombrix.exe \" beside Ombrix.exe patches Ombrix.exe"
        " (`RunPatchWin32Test.TrailingBlankOrDotNamesTheFileWithoutIt`).")
    say("")

    say("## Kill test")
    say("")
    say("`scripts/kill-test` starts `ombrix-patch-cli` on an executable-like target and kills it"
        " with SIGKILL at a random moment within 1.3 times the longest of three whole runs,"
        " over and over, checking the target's SHA-256 after each: %s. A new copy left by a"
        " killed run is named like the target with `.ombrix-patch-XXXXXX.tmp` appended; the"
        " README says that it may be deleted." % kill)
    say("")
    say("With `--in-place` the program runs as a user who may write the target through its group"
        " but may not make files in its folder, so that it writes the three texts in place: %s."
        " A run killed while it writes may leave some texts Norwegian and the others English, or"
        " one text cut short, part English and part Norwegian; the test then runs the program"
        " again on that state, which must finish the patch to exactly the new bytes, and"
        " `--restore` on a copy of the same state, which must give back exactly the old ones."
        % kill_in_place)
    say("")

    say("## Fuzzing")
    say("")
    say("`scripts/fuzz SECONDS` builds `fuzz/replace_fuzzer` with clang, libFuzzer,"
        " AddressSanitizer and UndefinedBehaviorSanitizer. Each input is a recipe of bytes and"
        " the patch's images, whole, cut at either end and overlapping; the buffer it makes is"
        " searched for every image, and scanned for a run in both directions, whole and in"
        " parts of a size the input chooses down to one byte, and must give exactly what the"
        " plain definition over the whole buffer gives (`std::search`, pair by pair). The corpus starts from seeds with the images at every alignment and"
        " overlapping each other.")
    say("")
    final = [line for line in fuzz_log.splitlines() if "DONE" in line or line.startswith("stat::")]
    if final:
        say("The last run:")
        say("")
        say("```")
        out.extend(final)
        say("```")
    say("")
    say("To reproduce: `scripts/reliability` (`--kill RUNS MIB` to change the kill test,"
        " `--fuzz SECONDS` to fuzz first).")
    print("\n".join(out))


if __name__ == "__main__":
    main()
