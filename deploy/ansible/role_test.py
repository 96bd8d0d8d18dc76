#!/usr/bin/env python3
"""Runs the collection's playbook (ombrix.language_patch.site, which names the role
ombrix.language_patch.ombrix_patch) for real through ansible-playbook, on an inventory of hosts
that are all this machine (ansible_connection=local), each with its own target in its own
folder, and checks what Ansible reports and what became of every file.

    role_test.py BIN_FOLDER WORK_FOLDER [COLLECTIONS_PATH]

BIN_FOLDER holds ombrix-patch-cli and ombrix-make-target. The collection is taken from
COLLECTIONS_PATH, else from where Ansible looks by itself (where the .deb installs it); no roles
path is set. Exits non-zero on the first difference, saying what differed."""

import hashlib
import json
import os
import subprocess
import sys
from pathlib import Path

COLLECTION = "ombrix.language_patch"
PLAYBOOK = COLLECTION + ".site"
DESKS = ["desk1", "desk2", "desk3"]


def fail(what):
    print(f"role test: {what}", file=sys.stderr)
    sys.exit(1)


def snapshot(path):
    """The bytes and the time of last change of a file, or None where there is none."""
    if not path.exists():
        return None
    return hashlib.sha256(path.read_bytes()).hexdigest(), path.stat().st_mtime_ns


def ansible_environment(collections):
    """Ansible's settings for every command: no roles path, and the given collections path."""
    env = {name: value for name, value in os.environ.items()
           if name not in ("ANSIBLE_ROLES_PATH", "ANSIBLE_COLLECTIONS_PATH",
                           "ANSIBLE_COLLECTIONS_PATHS")}
    if collections:
        env["ANSIBLE_COLLECTIONS_PATH"] = collections
    return dict(env, ANSIBLE_STDOUT_CALLBACK="json", ANSIBLE_LOCALHOST_WARNING="false",
                ANSIBLE_NOCOLOR="1", ANSIBLE_RETRY_FILES_ENABLED="false")


def collection_folder(env):
    """Where Ansible finds the collection."""
    done = subprocess.run(["ansible-galaxy", "collection", "list", COLLECTION, "--format",
                           "json"], env=env, capture_output=True, text=True)
    found = json.loads(done.stdout or "{}") if done.returncode == 0 else {}
    if not found:
        fail(f"ansible-galaxy finds no {COLLECTION}: {done.stderr.strip()}")
    return next(iter(found))


def play(env, inventory, *options):
    """Runs the playbook; answers each host's counts and the message of the task that failed."""
    done = subprocess.run(["ansible-playbook", "-i", str(inventory), PLAYBOOK, *options],
                          env=env, capture_output=True, text=True)
    try:
        report = json.loads(done.stdout)
    except json.JSONDecodeError:
        fail(f"ansible-playbook {' '.join(options)} printed no report:\n{done.stdout}\n{done.stderr}")
    messages = {}
    for task in report["plays"][0]["tasks"]:
        for host, result in task["hosts"].items():
            if result.get("failed"):
                messages[host] = result.get("msg", "")
    return report["stats"], messages


def expect(stats, messages, changed, failed, sentences, label):
    for host, counts in stats.items():
        want_changed = 1 if host in changed else 0
        want_failed = 1 if host in failed else 0
        if counts["changed"] != want_changed or counts["failures"] != want_failed:
            fail(f"{label}: {host} reported changed={counts['changed']} "
                 f"failed={counts['failures']}, not changed={want_changed} "
                 f"failed={want_failed} ({messages.get(host, '')})")
    for host, sentence in sentences.items():
        if sentence not in messages.get(host, ""):
            fail(f"{label}: {host} failed with {messages.get(host)!r}, not {sentence!r}")


def lock(path, locked):
    """Makes a file immutable (chattr +i), or no longer; False where the system does not let it
    (not root, a file system without the flag)."""
    done = subprocess.run(["chattr", "+i" if locked else "-i", str(path)], capture_output=True)
    return done.returncode == 0


def main():
    bin_folder, work = Path(sys.argv[1]), Path(sys.argv[2])
    env = ansible_environment(sys.argv[3] if len(sys.argv) > 3 else None)
    folder = collection_folder(env)
    targets = {}
    for host in DESKS + ["wrong", "missing", "both", "locked"]:
        (work / host).mkdir()
        targets[host] = work / host / "Ombrix.exe"
    base = work / "base.exe"
    subprocess.run([bin_folder / "ombrix-make-target", "1", base], check=True)
    original = base.read_bytes()
    for host in DESKS:
        targets[host].write_bytes(original)
    targets["wrong"].write_bytes(b"MZ" + bytes(65536))

    inventory = work / "hosts.ini"
    lines = ["[desks]"] + [f"{host} ombrix_patch_target={targets[host]}" for host in DESKS]
    lines += ["[others]"] + [f"{host} ombrix_patch_target={targets[host]}"
                             for host in ["wrong", "missing"]]
    # Every English text, and after it every Norwegian one: a file that a patch would change,
    # and a restore too.
    lines += ["[mixed]", f"both ombrix_patch_target={targets['both']}"]
    lines += ["[locked]", f"locked ombrix_patch_target={targets['locked']}"]
    lines += ["[all:vars]", "ansible_connection=local",
              f"ansible_python_interpreter={sys.executable}",
              f"ombrix_patch_program={bin_folder / 'ombrix-patch-cli'}"]
    inventory.write_text("\n".join(lines) + "\n")
    # The program's sentences: a check's verdict, a run's sentence and what the file is.
    checked = {"wrong": "not the expected program: none of the texts is there",
               "missing": "invalid path: No such file or directory"}
    ran = checked

    before = {host: snapshot(path) for host, path in targets.items()}
    stats, messages = play(env, inventory, "--check", "--diff", "--limit", "desks:others")
    expect(stats, messages, DESKS, checked, checked, "check mode on fresh targets")
    after = {host: snapshot(path) for host, path in targets.items()}
    if after != before:
        fail("check mode changed a file's bytes or its time of last change")

    stats, messages = play(env, inventory, "--limit", "desks:others")
    expect(stats, messages, DESKS, ran, ran, "first run")
    patched = targets["desk1"].read_bytes()
    if patched == original or any(targets[h].read_bytes() != patched for h in DESKS):
        fail("the first run did not patch every desk alike")

    targets["both"].write_bytes(original + patched)
    before = snapshot(targets["both"])
    restore = ["--limit", "mixed", "-e", "ombrix_patch_restore=true"]
    stats, messages = play(env, inventory, *restore, "--check")
    expect(stats, messages, ["both"], [], {}, "check mode of a restore that would change a file")
    if snapshot(targets["both"]) != before:
        fail("check mode of a restore changed the file")
    stats, messages = play(env, inventory, *restore)
    expect(stats, messages, ["both"], [], {}, "restore of a file with both languages")
    if targets["both"].read_bytes() != original + original:
        fail("the restore did not turn back every Norwegian text")

    stats, messages = play(env, inventory, "--limit", "desks")
    expect(stats, messages, [], [], {}, "second run")
    stats, messages = play(env, inventory, "--limit", "desks", "--check")
    expect(stats, messages, [], [], {}, "check mode on patched targets")

    stats, messages = play(env, inventory, "--limit", "desks", "-e", "ombrix_patch_restore=true")
    expect(stats, messages, DESKS, [], {}, "restore")
    if any(targets[h].read_bytes() != original for h in DESKS):
        fail("the restore did not give back the original bytes")
    stats, messages = play(env, inventory, "--limit", "desks", "-e", "ombrix_patch_restore=true")
    expect(stats, messages, [], [], {}, "second restore")

    # A file that no one may change until its flag is removed: check mode says that a run would
    # fail, with the program's sentence, and the run fails so, changing nothing.
    targets["locked"].write_bytes(original)
    if not lock(targets["locked"], True):
        fail("chattr +i failed: the role test runs as root, on a file system with the flag")
    try:
        immutable = "Could not change the file: it is immutable (chattr +i)"
        stats, messages = play(env, inventory, "--limit", "locked", "--check")
        expect(stats, messages, [], ["locked"],
               {"locked": "but this user could not change it: " + immutable},
               "check mode on an immutable file")
        stats, messages = play(env, inventory, "--limit", "locked")
        expect(stats, messages, [], ["locked"], {"locked": immutable}, "run on an immutable file")
    finally:
        lock(targets["locked"], False)
    if targets["locked"].read_bytes() != original:
        fail("a run changed the immutable file")
    print(f"the role on {len(targets)} hosts, from {folder}: check mode, runs and restores, "
          "as expected")


if __name__ == "__main__":
    main()
