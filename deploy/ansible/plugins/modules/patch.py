# Copyright: 2026 The Ombrix Norwegian Language Patch developers (see LICENSE)

DOCUMENTATION = r"""
module: patch
short_description: Patch Ombrix 2000 into Norwegian, or restore it, with ombrix-patch-cli
description:
  - Runs C(ombrix-patch-cli) on one Ombrix 2000 executable and reads the state it answers in.
  - Reports I(changed) only where the file was patched (or restored); a file that already is
    as wanted is I(ok). A file that is not the expected program, a partly patched file when
    patching, an invalid path or an error that stopped the run fails with the program's own
    sentence, and the state the file is in.
  - In check mode, whether set by C(--check) or by the task's C(check_mode), the file is only
    read (C(ombrix-patch-cli --check)), and the module says whether a run would change it, or fail.
  - In diff mode the three texts are shown before and after, each with its byte offset.
author: Ombrix Norwegian Language Patch developers
options:
  path:
    description:
      - The Ombrix 2000 executable. A path with a drive letter (C(C:\...)) is looked up in the
        Wine prefix of the user the task runs as (C($WINEPREFIX), else C(~/.wine)); any other
        path is used as it stands.
    type: str
    required: true
  restore:
    description:
      - Turn the Norwegian texts back into English (undo the patch) instead of patching.
    type: bool
    default: false
  program:
    description:
      - The console program, a name looked up in C(PATH) or a path.
    type: str
    default: ombrix-patch-cli
attributes:
  check_mode:
    support: full
  diff_mode:
    support: full
notes:
  - The program is C(ombrix-patch-cli) from the Debian package of the same name.
"""

EXAMPLES = r"""
- name: Patch Ombrix 2000 in the Wine prefix of the user the task runs as
  ombrix.language_patch.patch:
    path: 'C:\Programfiler\Ombrix\Ombrix.exe'

- name: Turn a copy under /opt back into English
  ombrix.language_patch.patch:
    path: /opt/ombrix/drive_c/Programfiler/Ombrix/Ombrix.exe
    restore: true
"""

RETURN = r"""
result:
  description: The file's result, as a state (the report of the check in check mode).
  returned: where the program answered
  type: str
  sample: already_patched
state:
  description: What the file holds afterwards; null where unknown.
  returned: where the program answered
  type: str
  sample: patched
status:
  description: The program's status for the file (0 to 5).
  returned: where the program answered
  type: int
  sample: 0
message:
  description: The program's sentence for the file.
  returned: where the program answered
  type: str
  sample: "already patched: nothing to do"
restorable:
  description: Whether a restore would complete; null where unknown.
  returned: where the program answered
  type: bool
offsets:
  description: The byte offset of each text pair's English and Norwegian text (null, not there).
  returned: where the program answered
  type: list
  elements: dict
  sample: [{"english": null, "norwegian": 988575}]
"""

import json

from ansible.module_utils.basic import AnsibleModule

# The three texts, English and Norwegian, in the order of ombrix-patch-cli's offsets.
TEXTS = (
    ("Work with Submitted Jobs", "Arbeide med jobber som er sendt"),
    ("Display Module Source", "Vise modulkilde"),
    ("English", "Norwegian"),
)
LANGUAGES = ("english", "norwegian")
# The results that leave the file as wanted, or say that a run would make it so.
CHANGED = ("patched", "restored", "would_patch", "would_restore")
FINE = CHANGED + ("already_patched", "already_english")
FIELDS = ("result", "state", "status", "message", "restorable", "offsets")


def ask(module, program, options):
    """Runs the program on the path; answers its report, or fails with what it said instead."""
    path = module.params["path"]
    argv = [program] + options + ["--json", "--", path]
    rc, out, err = module.run_command(argv, expand_user_and_vars=False)
    for line in out.splitlines():
        if line.startswith("{"):
            try:
                return json.loads(line)
            except ValueError:
                break
    module.fail_json(msg="%s: %s ended with status %d: %s" % (
        path, program, rc, err.strip() or out.strip() or "no report"), rc=rc, stderr=err)


def texts(report, first, second):
    """One line per text pair: the text found in the first language, else in the second, and
    its byte offset, in the words of ombrix-patch-cli --check."""
    lines = []
    for number, (pair, where) in enumerate(zip(TEXTS, report.get("offsets") or []), 1):
        language = next((name for name in (first, second) if where.get(name) is not None), None)
        if language is None:
            lines.append("%d. not found" % number)
        else:
            lines.append('%d. %s "%s" at byte %d' % (number, language.capitalize(),
                                                     pair[LANGUAGES.index(language)],
                                                     where[language]))
    return "\n".join(lines) + "\n"


def predicted(report, unwanted, wanted, state):
    """The report a run would give: each unwanted text turned into the wanted one in place."""
    offsets = [{wanted: where[unwanted] if where.get(unwanted) is not None else where.get(wanted),
                unwanted: None} for where in report.get("offsets") or []]
    return dict(report, offsets=offsets, state=state)


def main():
    module = AnsibleModule(
        argument_spec=dict(path=dict(type="str", required=True),
                           restore=dict(type="bool", default=False),
                           program=dict(type="str", default="ombrix-patch-cli")),
        supports_check_mode=True)
    path, restore = module.params["path"], module.params["restore"]
    program = module.get_bin_path(module.params["program"])
    if program is None:
        module.fail_json(msg="%s: %s is not installed (not found, or not a program)" % (
            path, module.params["program"]))
    mode = ["--restore"] if restore else []
    wanted, unwanted = LANGUAGES if restore else LANGUAGES[::-1]
    wanted_state = "unpatched" if restore else "patched"

    before = None
    if module.check_mode or module._diff:
        before = ask(module, program, ["--check"] + mode)
    if module.check_mode:
        after = predicted(before, unwanted, wanted, wanted_state)
    else:
        after = ask(module, program, mode)
    report = before if module.check_mode else after
    outcome = dict((name, report.get(name)) for name in FIELDS)
    if report.get("result") not in FINE:
        state = report.get("state")
        kept = "" if state in (None, wanted_state) else (
            " (the file is %s)" % state.replace("_", " "))
        module.fail_json(msg="%s: %s%s" % (path, report.get("message"), kept), **outcome)
    changed = report.get("result") in CHANGED
    if changed and module._diff:
        outcome["diff"] = dict(
            before_header="%s (%s)" % (path, before.get("state")),
            after_header="%s (%s)" % (path, after.get("state")),
            before=texts(before, unwanted, wanted), after=texts(after, wanted, unwanted))
    module.exit_json(changed=changed, **outcome)


if __name__ == "__main__":
    main()
