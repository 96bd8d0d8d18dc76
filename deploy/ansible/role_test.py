#!/usr/bin/env python3
"""Runs the collection's playbook (ombrix.language_patch.site, which names the role
ombrix.language_patch.ombrix_patch) for real through ansible-playbook, on an inventory of hosts
that are all this machine (ansible_connection=local), each with its own target in its own
folder, and checks what Ansible reports, what --diff shows and what became of every file: in
check mode set by --check and by check_mode on the role, with a mistyped variable, and where
become fails for a user whom sudo asks for a password. Runs as root, and makes that user
(ombrix-role-test, with no sudo rule) where it is missing.

    role_test.py BIN_FOLDER WORK_FOLDER [COLLECTIONS_PATH]

BIN_FOLDER holds ombrix-patch-cli and ombrix-make-target. The collection is taken from
COLLECTIONS_PATH, else from where Ansible looks by itself (where the package ombrix-patch-cli
installs it); no roles path is set. Exits non-zero on the first difference, saying what differed."""

import hashlib
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
from pathlib import Path

COLLECTION = "ombrix.language_patch"
ROLE = COLLECTION + ".ombrix_patch"
# The three texts, English and Norwegian, in the order the program reports them.
TEXTS = (("Work with Submitted Jobs", "Arbeide med jobber som er sendt"),
         ("Display Module Source", "Vise modulkilde"), ("English", "Norwegian"))
PLAYBOOK = COLLECTION + ".site"
DESKS = ["desk1", "desk2", "desk3"]
# A user with no sudo rule, whose become therefore fails.
USER = "ombrix-role-test"


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


def play(env, inventory, *options, playbook=PLAYBOOK, user=None):
    """Runs the playbook (as the given user, else as this one); answers each host's counts, the
    message of the task that failed and the diff it showed."""
    command = ["ansible-playbook", "-i", str(inventory), playbook, *options]
    if user:
        command = ["setpriv", f"--reuid={user}", f"--regid={user}", "--clear-groups"] + command
    done = subprocess.run(command, env=env, capture_output=True, text=True)
    try:
        report = json.loads(done.stdout)
    except json.JSONDecodeError:
        fail(f"ansible-playbook {' '.join(options)} printed no report:\n{done.stdout}\n{done.stderr}")
    messages, diffs = {}, {}
    for task in report["plays"][0]["tasks"]:
        for host, result in task["hosts"].items():
            if result.get("failed"):
                messages[host] = result.get("msg", "")
            if result.get("diff"):
                diffs[host] = result["diff"]
    return report["stats"], messages, diffs


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


def english_offsets(program, path):
    """Where ombrix-patch-cli --check --json finds each English text of an unpatched file."""
    done = subprocess.run([program, "--check", "--json", path], capture_output=True, text=True)
    return [where["english"] for where in json.loads(done.stdout)["offsets"]]


def expect_diff(diff, program, base, label):
    """The diff must show each text in its language, English before and Norwegian after, at the
    byte where ombrix-patch-cli --check --json finds the English text."""
    offsets = english_offsets(program, base)
    before = "".join(f'{n}. English "{en}" at byte {at}\n'
                     for n, ((en, _), at) in enumerate(zip(TEXTS, offsets), 1))
    after = "".join(f'{n}. Norwegian "{no}" at byte {at}\n'
                    for n, ((_, no), at) in enumerate(zip(TEXTS, offsets), 1))
    if len(offsets) != 3 or (diff.get("before"), diff.get("after")) != (before, after):
        fail(f"{label}: the diff was {diff!r}, not {before!r} then {after!r}")


def documented(env):
    """ansible-doc lists the role and shows every variable its meta/argument_specs.yml declares,
    and shows the module."""
    def doc(*options):
        done = subprocess.run(["ansible-doc", *options], env=env, capture_output=True, text=True)
        if done.returncode != 0:
            fail(f"ansible-doc {' '.join(options)}: {done.stderr}")
        return done.stdout
    if ROLE not in doc("-t", "role", "-l"):
        fail(f"ansible-doc -t role -l does not list {ROLE}")
    shown = doc("-t", "role", ROLE)
    for variable, kind in [("ombrix_patch_target", "str"), ("ombrix_patch_restore", "bool"),
                           ("ombrix_patch_program", "str")]:
        if not re.search(rf"- {variable}\n(.+\n)*? +type: {kind}\n", shown):
            fail(f"ansible-doc -t role {ROLE} does not show {variable} of type {kind}:\n{shown}")
    doc("-t", "module", COLLECTION + ".patch")


def user_play(env, folder, collections, target):
    """Ansible's settings and an inventory for USER (made where missing): in a folder of its own
    that the user may read, with the collection copied there where it is not installed."""
    if subprocess.run(["getent", "passwd", USER], capture_output=True).returncode != 0:
        subprocess.run(["useradd", "--system", "--user-group", "--no-create-home",
                        "--shell", "/usr/sbin/nologin", USER], check=True)
    folder.chmod(0o755)
    home = folder / "home"
    home.mkdir()
    shutil.chown(home, USER, USER)
    env = dict(env, HOME=str(home), TMPDIR=str(home), ANSIBLE_LOCAL_TEMP=str(home / "local"),
               ANSIBLE_REMOTE_TEMP=str(home / "remote"))
    if collections:
        shutil.copytree(collections, folder / "collections")
        env["ANSIBLE_COLLECTIONS_PATH"] = str(folder / "collections")
    inventory = folder / "hosts.ini"
    # Where sudo asks for a password, and where there is no sudo to run.
    inventory.write_text(
        f"asks ombrix_patch_target={target}\n"
        f"nosudo ombrix_patch_target={target} ansible_become_exe=/nonexistent/sudo\n"
        "[all:vars]\nansible_connection=local\nansible_python_interpreter=/usr/bin/python3\n"
        "ansible_become=true\n")
    return env, inventory


def lock(path, locked):
    """Makes a file immutable (chattr +i), or no longer; False where the system does not let it
    (not root, a file system without the flag)."""
    done = subprocess.run(["chattr", "+i" if locked else "-i", str(path)], capture_output=True)
    return done.returncode == 0


def main():
    bin_folder, work = Path(sys.argv[1]), Path(sys.argv[2])
    program = bin_folder / "ombrix-patch-cli"
    collections = sys.argv[3] if len(sys.argv) > 3 else None
    env = ansible_environment(collections)
    folder = collection_folder(env)
    documented(env)
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
              f"ombrix_patch_program={program}"]
    inventory.write_text("\n".join(lines) + "\n")
    # The role in check mode set by the play, not by --check (which alone sets ansible_check_mode).
    role_in_check_mode = work / "check_mode.yml"
    role_in_check_mode.write_text(
        f"- name: The role with check_mode\n  hosts: all\n  gather_facts: false\n"
        f"  roles:\n    - role: {ROLE}\n      check_mode: true\n")
    # The program's sentences: a check's verdict, a run's sentence and what the file is.
    checked = {"wrong": "not the expected program: none of the texts is there",
               "missing": "invalid path: No such file or directory"}
    ran = checked

    # A mistyped boolean (which a bare "| bool" would take for false, and patch) stops every
    # host before the role's first task.
    before = {host: snapshot(path) for host, path in targets.items()}
    stats, messages, _ = play(env, inventory, "-e", "ombrix_patch_restore=ture")
    expect(stats, messages, [], list(targets),
           dict.fromkeys(targets, "argument 'ombrix_patch_restore'"), "a mistyped boolean")
    if {host: snapshot(path) for host, path in targets.items()} != before:
        fail("a play with a mistyped variable changed a file")

    for way, playbook, options in [("--check", PLAYBOOK, ["--check"]),
                                   ("check_mode on the role", str(role_in_check_mode), [])]:
        stats, messages, diffs = play(env, inventory, *options, "--diff", "--limit",
                                      "desks:others", playbook=playbook)
        expect(stats, messages, DESKS, checked, checked, f"{way} on fresh targets")
        expect_diff(diffs.get("desk1", {}), program, base, f"{way}, --diff")
        if {host: snapshot(path) for host, path in targets.items()} != before:
            fail(f"{way} changed a file's bytes or its time of last change")

    stats, messages, diffs = play(env, inventory, "--limit", "desks:others", "--diff")
    expect(stats, messages, DESKS, ran, ran, "first run")
    expect_diff(diffs.get("desk1", {}), program, base, "first run, --diff")
    patched = targets["desk1"].read_bytes()
    if patched == original or any(targets[h].read_bytes() != patched for h in DESKS):
        fail("the first run did not patch every desk alike")

    # Text 1 English, texts 2 and 3 Norwegian: what a patch cut short leaves.
    split = english_offsets(program, base)[1]
    targets["both"].write_bytes(original[:split] + patched[split:])
    before = snapshot(targets["both"])
    restore = ["--limit", "mixed", "-e", "ombrix_patch_restore=true"]
    stats, messages, _ = play(env, inventory, *restore, "--check")
    expect(stats, messages, ["both"], [], {}, "check mode of a restore that would change a file")
    if snapshot(targets["both"]) != before:
        fail("check mode of a restore changed the file")
    stats, messages, _ = play(env, inventory, *restore)
    expect(stats, messages, ["both"], [], {}, "restore of a file with both languages")
    if targets["both"].read_bytes() != original:
        fail("the restore did not turn back every Norwegian text")

    stats, messages, _ = play(env, inventory, "--limit", "desks")
    expect(stats, messages, [], [], {}, "second run")
    stats, messages, _ = play(env, inventory, "--limit", "desks", "--check")
    expect(stats, messages, [], [], {}, "check mode on patched targets")

    stats, messages, _ = play(env, inventory, "--limit", "desks", "-e", "ombrix_patch_restore=true")
    expect(stats, messages, DESKS, [], {}, "restore")
    if any(targets[h].read_bytes() != original for h in DESKS):
        fail("the restore did not give back the original bytes")
    stats, messages, _ = play(env, inventory, "--limit", "desks", "-e", "ombrix_patch_restore=true")
    expect(stats, messages, [], [], {}, "second restore")

    # A file that no one may change until its flag is removed: check mode says that a run would
    # fail, with the program's sentence, and the run fails so, changing nothing.
    targets["locked"].write_bytes(original)
    if not lock(targets["locked"], True):
        fail("chattr +i failed: the role test runs as root, on a file system with the flag")
    try:
        immutable = "Could not change the file: it is immutable (chattr +i)"
        stats, messages, _ = play(env, inventory, "--limit", "locked", "--check")
        expect(stats, messages, [], ["locked"],
               {"locked": "but this user could not change it: " + immutable},
               "check mode on an immutable file")
        stats, messages, _ = play(env, inventory, "--limit", "locked")
        expect(stats, messages, [], ["locked"], {"locked": immutable}, "run on an immutable file")
    finally:
        lock(targets["locked"], False)
    if targets["locked"].read_bytes() != original:
        fail("a run changed the immutable file")

    # Where become fails, the program never runs: the failure says what sudo said.
    user_folder = Path(tempfile.mkdtemp(prefix="ombrix-role-test."))
    try:
        user_env, user_inventory = user_play(env, user_folder, collections, targets["desk1"])
        stats, messages, _ = play(user_env, user_inventory, user=USER)
        expect(stats, messages, [], ["asks", "nosudo"],
               {"asks": "ombrix-patch-cli did not run: sudo: a password is required",
                "nosudo": "/nonexistent/sudo: not found"},
               "become as a user with no sudo rule, and with no sudo")
    finally:
        shutil.rmtree(user_folder)
    if targets["desk1"].read_bytes() != original:
        fail("a play whose become failed changed a file")
    print(f"the role on {len(targets) + 2} hosts, from {folder}: a mistyped variable, check mode "
          "(--check and check_mode), diffs, runs, restores and a failed become, as expected")


if __name__ == "__main__":
    main()
