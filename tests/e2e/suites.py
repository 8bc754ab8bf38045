"""The end-to-end cases: tables of situations a user meets, each run in its
own sandbox against the real, unchanged uninstaller."""

import hashlib
import os
import plistlib
import shutil
import signal
import subprocess
import time

import window
from sandbox import CODESIGN, GENUINE_INFO, HOME, HOME_APPLICATIONS, LSREGISTER, TRASH
from terminal import (CHANGED, FAILED_TITLE, FINDER_LINE, MOVE_ADVICE, MOVED_TITLE, NOT_FOUND,
                      NOT_THE_VERIFIED_FOLDER, QUIT, UNKNOWN_RUNNING, TerminalRun, confirmation,
                      report, transcript_matches)

A = "/Applications/Kellix.app"
H = HOME_APPLICATIONS + "/Kellix.app"


# -- running the uninstaller and the checks every run shares ----------------------------


def uninstall(sandbox, failures, options, answers, alerts, while_confirming=None, **start):
    """Runs the uninstaller without a display, reads each expected alert and
    gives the next answer line; after the answers, standard input ends. Checks
    what every run must show: the exact alerts, exit status 0, nothing on
    standard error, the .kelx archives untouched, and every tool started with
    nothing but its three standard descriptors (output and errors to the null
    device, input the uninstaller's own)."""
    run = TerminalRun(sandbox, options.program, **start)
    try:
        for index, line in enumerate(answers):
            run.read_until(alerts[index].block())
            if index == 0 and while_confirming is not None:
                while_confirming()
            run.answer(line)
    finally:
        status = run.finish()
    failures.equal(status, 0, "exit status")
    failures.check(transcript_matches(run.transcript(), alerts), "the alerts on standard output",
                   "expected, each followed by a prompt:\n" +
                   "".join(alert.block() + "<prompt>\n" for alert in alerts) +
                   f"actual:\n{run.transcript()}")
    failures.equal(run.err.decode(errors="replace"), "", "standard error")
    failures.equal(sandbox.kelx_changes(), [], ".kelx archives changed")
    for call in sandbox.calls():
        failures.equal(call.fds, {0: run.stdin_target, 1: "/dev/null", 2: "/dev/null"},
                       f"descriptors of {call.tool}")
    return run


def tool_runs(sandbox, tool):
    return [call.args for call in sandbox.calls(tool)]


def codesign_checks(*paths):
    return [["--verify", "--strict", path] for path in paths]


def snapshot(sandbox, *bundles):
    return {bundle: sandbox.tree(bundle) for bundle in bundles}


def check_in_place(sandbox, failures, before):
    for bundle, tree in before.items():
        failures.check(sandbox.exists(bundle) and sandbox.tree(bundle) == tree,
                       f"{bundle} still in place, unchanged")


def check_trashed(sandbox, failures, before):
    """Each bundle left its place and lies in the home trash byte for byte,
    with a .trashinfo naming where it was."""
    found, texts = sandbox.trashed()
    for bundle, tree in before.items():
        failures.check(not sandbox.exists(bundle), f"{bundle} gone from its folder")
        name = found.get(bundle)
        if not failures.check(name is not None, f"a .trashinfo with Path={bundle}", repr(texts)):
            continue
        lines = texts[name + ".trashinfo"].splitlines()
        failures.equal(lines[0], "[Trash Info]", "first line of the .trashinfo")
        failures.check(any(line.startswith("DeletionDate=") for line in lines),
                       "the .trashinfo has a DeletionDate", repr(lines))
        failures.check(sandbox.tree(f"{TRASH}/files/{name}") == tree,
                       f"{bundle} in the trash byte for byte")
    failures.equal(sorted(found), sorted(before), "what the trash holds")


def check_trash_empty(sandbox, failures):
    failures.equal(sandbox.trashed()[0], {}, "what the trash holds")


# -- discovery: which copies the confirmation lists -------------------------------------


def with_info(**changes):
    info = dict(GENUINE_INFO)
    for key, value in changes.items():
        if value is None:
            info.pop(key)
        else:
            info[key] = value
    return info


def discovery_case(layout, listed, checked, plan=()):
    """`layout` lays out the folders; `listed` is what the confirmation must
    list (nothing: the not-found alert); `checked` the bundles whose code
    signature is checked, in order. The answer is an empty line: "Cancel"
    (or "OK"), and nothing may change."""

    def case(sandbox, failures, options):
        layout(sandbox)
        if plan:
            sandbox.plan(CODESIGN, *plan)
        bundles = [b for b in (A, H) if sandbox.exists(b) and not os.path.islink(sandbox.path(b))]
        before = snapshot(sandbox, *bundles)
        alert = confirmation(listed) if listed else NOT_FOUND
        uninstall(sandbox, failures, options, [""], [alert])
        failures.equal(tool_runs(sandbox, CODESIGN), codesign_checks(*checked), "code-signature checks")
        failures.equal(tool_runs(sandbox, LSREGISTER), [], "Launch Services runs")
        check_in_place(sandbox, failures, before)
        check_trash_empty(sandbox, failures)

    return case


def nothing(sandbox):
    pass


def empty_folders(sandbox):
    os.makedirs(sandbox.path("/Applications"), exist_ok=True)
    os.makedirs(sandbox.path(HOME_APPLICATIONS), exist_ok=True)


def bundles(*placements):
    def layout(sandbox):
        for folder, info in placements:
            sandbox.make_bundle(folder, info)
    return layout


def home_applications_linked_to_system(sandbox):
    sandbox.make_bundle("/Applications")
    sandbox.move_kelx(HOME_APPLICATIONS + "/Notes.kelx", HOME + "/Notes.kelx")
    shutil.rmtree(sandbox.path(HOME_APPLICATIONS))
    os.symlink("/Applications", sandbox.path(HOME_APPLICATIONS))


def executable_named_elsewhere(sandbox):
    bundle = sandbox.make_bundle("/Applications", with_info(CFBundleExecutable="Other"))
    shutil.copy(sandbox.path(bundle + "/Contents/MacOS/Kellix"),
                sandbox.path(bundle + "/Contents/MacOS/Other"))


DISCOVERY = [
    ("nothing installed", discovery_case(nothing, [], [])),
    ("both Applications folders empty", discovery_case(empty_folders, [], [])),
    ("only /Applications", discovery_case(bundles(("/Applications", None)), [A], [A])),
    ("only the home Applications folder", discovery_case(bundles((HOME_APPLICATIONS, None)), [H], [H])),
    ("both folders, /Applications listed first",
     discovery_case(bundles((HOME_APPLICATIONS, None), ("/Applications", None)), [A, H], [A, H])),
    ("wrong identifier in /Applications beside a genuine home copy",
     discovery_case(bundles(("/Applications", with_info(CFBundleIdentifier="test.kellix.archiver")),
                            (HOME_APPLICATIONS, None)), [H], [H])),
    ("no package type: not genuine, and no signature check",
     discovery_case(bundles(("/Applications", with_info(CFBundlePackageType=None))), [], [])),
    ("Info.plist naming another executable",
     discovery_case(executable_named_elsewhere, [], [])),
    ("signature of the /Applications copy rejected beside a genuine home copy",
     discovery_case(bundles(("/Applications", None), (HOME_APPLICATIONS, None)), [H], [A, H],
                    plan=[(f"--verify --strict {A}", "exit 1")])),
    ("signature tool killed while checking the home copy",
     discovery_case(bundles(("/Applications", None), (HOME_APPLICATIONS, None)), [A], [A, H],
                    plan=[(f"* {H}", "signal 9")])),
    ("both signatures rejected",
     discovery_case(bundles(("/Applications", None), (HOME_APPLICATIONS, None)), [], [A, H],
                    plan=[("*", "exit 1")])),
    ("home Applications folder is a link to /Applications",
     discovery_case(home_applications_linked_to_system, [A], [A])),
]


# -- answering the confirmation with anything but "Move to Trash" -----------------------


def cancel_case(answers):
    def case(sandbox, failures, options):
        sandbox.make_bundle("/Applications")
        before = snapshot(sandbox, A)
        run = TerminalRun(sandbox, options.program)
        try:
            run.read_until(confirmation([A]).block())
            for line in answers:
                run.answer(line)
        finally:
            status = run.finish()
        transcript = run.transcript()
        failures.equal(status, 0, "exit status")
        failures.check(transcript.startswith(confirmation([A]).block()), "the confirmation first",
                       transcript)
        if not any(line.strip() not in ("", "1") for line in answers):
            failures.check(transcript_matches(transcript, [confirmation([A])]),
                           "the confirmation and nothing after it", transcript)
        failures.check(MOVED_TITLE not in transcript and FAILED_TITLE not in transcript,
                       "no report", transcript)
        failures.equal(run.err.decode(), "", "standard error")
        failures.equal(tool_runs(sandbox, LSREGISTER), [], "Launch Services runs")
        failures.equal(tool_runs(sandbox, CODESIGN), codesign_checks(A), "code-signature checks")
        check_in_place(sandbox, failures, before)
        check_trash_empty(sandbox, failures)
        failures.equal(sandbox.kelx_changes(), [], ".kelx archives changed")

    return case


CANCEL = [
    ("an empty line chooses Cancel (the Return button)", cancel_case([""])),
    ("1 chooses Cancel", cancel_case(["1"])),
    ("end of input acts as Escape: Cancel", cancel_case([])),
    ("unknown answers ask again, then an empty line", cancel_case(["x", "3", "0", ""])),
    ("unknown answer, then end of input", cancel_case(["Move to Trash"])),
]


# -- "Move to Trash" -------------------------------------------------------------------


def ignoring_sigchld_and_sigpipe():
    """A parent that ignores SIGCHLD and SIGPIPE hands both on through exec."""
    signal.signal(signal.SIGCHLD, signal.SIG_IGN)
    signal.signal(signal.SIGPIPE, signal.SIG_IGN)


def move_case(folders, lsregister_plan=(), remove_lsregister=False, extra="", **start):
    def case(sandbox, failures, options):
        paths = [sandbox.make_bundle(folder) for folder in folders]
        if lsregister_plan:
            sandbox.plan(LSREGISTER, *lsregister_plan)
        if remove_lsregister:
            os.remove(sandbox.path(LSREGISTER))
        before = snapshot(sandbox, *paths)
        outcome = report(MOVED_TITLE, [f"Moved to Trash: {path}{extra}" for path in paths])
        uninstall(sandbox, failures, options, ["2", ""], [confirmation(paths), outcome], **start)
        check_trashed(sandbox, failures, before)
        failures.equal(tool_runs(sandbox, LSREGISTER),
                       [] if remove_lsregister else [["-u", path] for path in paths],
                       "Launch Services runs")
        failures.equal(tool_runs(sandbox, CODESIGN), codesign_checks(*paths, *paths),
                       "code-signature checks: discovery, then again before each move")
        for call in sandbox.calls():
            failures.equal(call.argv0, call.tool, "the tool's own path as argv[0]")

    return case


MOVE = [
    ("the /Applications copy", move_case(["/Applications"])),
    ("the home copy", move_case([HOME_APPLICATIONS])),
    ("both copies, in list order", move_case(["/Applications", HOME_APPLICATIONS])),
    # Every tool's exit must still be waited for and read: with SIGCHLD left
    # ignored the code-signature check would fail and nothing would be found.
    ("started by a parent that ignores SIGCHLD and SIGPIPE",
     move_case(["/Applications"], preexec_fn=ignoring_sigchld_and_sigpipe, restore_signals=False)),
]

LAUNCH_SERVICES_FAILS = [
    ("registration tool exits 1", move_case(["/Applications"], [("*", "exit 1")], extra=FINDER_LINE)),
    ("registration tool killed by SIGKILL", move_case(["/Applications"], [("*", "signal 9")], extra=FINDER_LINE)),
    ("registration tool killed by SIGTERM", move_case(["/Applications"], [("*", "signal 15")], extra=FINDER_LINE)),
    ("registration tool missing", move_case(["/Applications"], remove_lsregister=True, extra=FINDER_LINE)),
    ("fails for the first copy only",
     lambda sandbox, failures, options: move_mixed_refresh(sandbox, failures, options)),
]


def move_mixed_refresh(sandbox, failures, options):
    sandbox.make_bundle("/Applications")
    sandbox.make_bundle(HOME_APPLICATIONS)
    sandbox.plan(LSREGISTER, (f"-u {A}", "exit 1"))
    before = snapshot(sandbox, A, H)
    outcome = report(MOVED_TITLE, [f"Moved to Trash: {A}{FINDER_LINE}", f"Moved to Trash: {H}"])
    uninstall(sandbox, failures, options, ["2", ""], [confirmation([A, H]), outcome])
    check_trashed(sandbox, failures, before)
    failures.equal(tool_runs(sandbox, LSREGISTER), [["-u", A], ["-u", H]], "Launch Services runs")


# -- a copy that is running ------------------------------------------------------------


def start_app(sandbox, bundle, resolved=None):
    """Starts the bundle's own executable as a real process and waits until
    the process is that executable (not the chroot that starts it), which the
    kernel names by its `resolved` bundle path when that is given."""
    executable = bundle + "/Contents/MacOS/Kellix"
    process = sandbox.start([executable, "600"])
    link = sandbox.proc(f"{process.pid}/exe")
    for _ in range(600):
        if os.readlink(link).endswith((resolved or bundle) + "/Contents/MacOS/Kellix"):
            return process
        time.sleep(0.05)
    raise AssertionError(f"{executable} did not start")


def running_case(installed, running, paragraphs, title, unregistered, moved):
    def case(sandbox, failures, options):
        paths = [sandbox.make_bundle(folder) for folder in installed]
        for bundle in running:
            if not sandbox.exists(bundle):
                sandbox.make_bundle(os.path.dirname(bundle))
            start_app(sandbox, bundle)
        before = snapshot(sandbox, *paths)
        uninstall(sandbox, failures, options, ["2", ""],
                  [confirmation(paths), report(title, paragraphs)])
        failures.equal(tool_runs(sandbox, LSREGISTER), [["-u", p] for p in unregistered],
                       "Launch Services runs")
        check_trashed(sandbox, failures, {p: before[p] for p in moved})
        check_in_place(sandbox, failures, {p: before[p] for p in paths if p not in moved})

    return case


ELSEWHERE = "/opt/Kellix Beta/Kellix.app"
RUNNING = [
    ("running from its own bundle",
     running_case(["/Applications"], [A], [f"{A}\n{QUIT}"], FAILED_TITLE, [], [])),
    ("running from a copy elsewhere does not count",
     running_case(["/Applications"], [ELSEWHERE], [f"Moved to Trash: {A}"], MOVED_TITLE, [A], [A])),
    ("home copy running, /Applications copy still moved",
     running_case(["/Applications", HOME_APPLICATIONS], [H],
                  [f"Moved to Trash: {A}", f"{H}\n{QUIT}"], FAILED_TITLE, [A], [A])),
]


# -- the bundle changes while the confirmation waits -----------------------------------


def replace_with_fresh_copy(sandbox):
    # The fresh copy is made before the old one goes, so it cannot get the
    # old folder's inode number back.
    fresh = sandbox.make_bundle("/Applications", name="Kellix.fresh")
    os.rename(sandbox.path(A), sandbox.path("/Applications/Kellix.old"))
    os.rename(sandbox.path(fresh), sandbox.path(A))
    shutil.rmtree(sandbox.path("/Applications/Kellix.old"))


def delete_bundle(sandbox):
    shutil.rmtree(sandbox.path(A))


def change_identifier_in_place(sandbox):
    with open(sandbox.path(A + "/Contents/Info.plist"), "wb") as file:
        file.write(plistlib.dumps(with_info(CFBundleIdentifier="test.kellix.Other")))


def signature_now_rejected(sandbox):
    sandbox.plan(CODESIGN, ("*", "exit 1"))


def changed_case(change, checked):
    def case(sandbox, failures, options):
        sandbox.make_bundle("/Applications")
        uninstall(sandbox, failures, options, ["2", ""],
                  [confirmation([A]), report(FAILED_TITLE, [f"{A}\n{CHANGED}"])],
                  while_confirming=lambda: change(sandbox))
        failures.equal(tool_runs(sandbox, LSREGISTER), [], "Launch Services runs")
        failures.equal(tool_runs(sandbox, CODESIGN), codesign_checks(*checked), "code-signature checks")
        check_trash_empty(sandbox, failures)
        if change is replace_with_fresh_copy:
            failures.check(sandbox.exists(A + "/Contents/MacOS/Kellix"), "the replacement left in place")

    return case


CHANGED_WHILE_CONFIRMING = [
    ("replaced by a fresh copy (another inode)", changed_case(replace_with_fresh_copy, [A, A])),
    ("deleted", changed_case(delete_bundle, [A])),
    ("identifier changed in place", changed_case(change_identifier_in_place, [A])),
    ("code signature no longer accepted", changed_case(signature_now_rejected, [A, A])),
]


# -- the move to the Trash fails -------------------------------------------------------


def read_only_applications(sandbox):
    """/Applications becomes a read-only mount: the bundle cannot leave it."""
    target = sandbox.path("/Applications")
    subprocess.run(["mount", "--bind", target, target], check=True)
    subprocess.run(["mount", "-o", "remount,bind,ro", target], check=True)


def move_fails_case(lsregister_plan, registrations, checked, taken_away=False):
    def case(sandbox, failures, options):
        sandbox.make_bundle("/Applications")
        before = snapshot(sandbox, A)
        if not taken_away:
            read_only_applications(sandbox)
        sandbox.plan(LSREGISTER, *lsregister_plan)
        # GIO's own words for this failure, asked after the run in the same
        # state, are the first part of the message.
        outcome = {}

        def expected_report():
            return report(FAILED_TITLE, [f"{A}\n{outcome['gio']}{MOVE_ADVICE}"])

        # The report's text depends on GIO's message, known only afterwards:
        # read the run first, compare the report after.
        alerts_seen = TerminalRun(sandbox, options.program)
        try:
            alerts_seen.read_until(confirmation([A]).block())
            alerts_seen.answer("2")
            alerts_seen.read_until(FAILED_TITLE)
            alerts_seen.answer("")
        finally:
            status = alerts_seen.finish()
        failures.equal(status, 0, "exit status")
        failures.equal(alerts_seen.err.decode(), "", "standard error")
        failures.equal(tool_runs(sandbox, LSREGISTER), registrations, "Launch Services runs")
        failures.equal(tool_runs(sandbox, CODESIGN), codesign_checks(*checked), "code-signature checks")
        for call in sandbox.calls():
            failures.equal(call.fds, {0: alerts_seen.stdin_target, 1: "/dev/null", 2: "/dev/null"},
                           f"descriptors of {call.tool}")
        check_trash_empty(sandbox, failures)
        if taken_away:
            failures.check(not sandbox.exists(A), "the bundle gone from its place")
            check_in_place(sandbox, failures, {"/Applications/Kellix-old.app": before[A]})
        else:
            check_in_place(sandbox, failures, before)
        failures.equal(sandbox.kelx_changes(), [], ".kelx archives changed")
        # A bundle taken away is not handed to the trash at all: the folder
        # at its place is no longer the verified one.
        outcome["gio"] = NOT_THE_VERIFIED_FOLDER if taken_away else sandbox.gio_trash_message(A)
        if failures.check(outcome["gio"], "gio trash fails the same way here"):
            failures.check(transcript_matches(alerts_seen.transcript(), [confirmation([A]), expected_report()]),
                           "the alerts on standard output",
                           f"expected report:\n{expected_report().block()}actual:\n{alerts_seen.transcript()}")

    return case


MOVE_FAILS = [
    ("read-only /Applications: unregistered, then registered again once",
     move_fails_case([("*", "exit 0")], [["-u", A], ["-f", A]], [A, A, A])),
    ("read-only /Applications and unregistration failed: no second check, no -f",
     move_fails_case([("-u *", "exit 1")], [["-u", A]], [A, A])),
    ("bundle taken away during unregistration: no -f",
     move_fails_case([("-u *", f"rename {A} /Applications/Kellix-old.app 0")], [["-u", A]], [A, A],
                     taken_away=True)),
]


# -- guards that hold under any spelling of a path -------------------------------------


LINKED_HOME = "/users/ada"
LINKED_H = LINKED_HOME + "/Applications/Kellix.app"


def running_through_linked_home(sandbox, failures, options):
    """HOME lies under a linked folder (/users -> home), as on systems whose
    /home is a link. Kellix runs from the home copy; the kernel names its
    executable by the resolved path, which differs from the path the
    uninstaller found. It must still count as running from that copy."""
    os.symlink("home", sandbox.path("/users"))
    sandbox.extra_environment["HOME"] = LINKED_HOME
    sandbox.make_bundle(HOME_APPLICATIONS)
    # Started by the path the uninstaller finds; the kernel names it by H.
    start_app(sandbox, LINKED_H, resolved=H)
    before = snapshot(sandbox, H)
    uninstall(sandbox, failures, options, ["2", ""],
              [confirmation([LINKED_H]), report(FAILED_TITLE, [f"{LINKED_H}\n{QUIT}"])])
    failures.equal(tool_runs(sandbox, LSREGISTER), [], "Launch Services runs")
    check_in_place(sandbox, failures, before)
    check_trash_empty(sandbox, failures)


def process_list_unreadable(sandbox, failures, options):
    """The uninstaller cannot read /proc (opening it as a folder fails, though
    /proc/self still works): whether Kellix runs is unknown, so nothing is
    unregistered or moved, and the report says why."""
    sandbox.make_bundle("/Applications")
    sandbox.make_bundle(HOME_APPLICATIONS)
    before = snapshot(sandbox, A, H)
    sandbox.hide_proc()
    argv = sandbox.without_folder_reading([options.program])
    uninstall(sandbox, failures, options, ["2", ""],
              [confirmation([A, H]),
               report(FAILED_TITLE, [f"{A}\n{UNKNOWN_RUNNING}", f"{H}\n{UNKNOWN_RUNNING}"])],
              argv=argv)
    failures.equal(tool_runs(sandbox, LSREGISTER), [], "Launch Services runs")
    failures.equal(tool_runs(sandbox, CODESIGN), codesign_checks(A, H, A, H),
                   "code-signature checks: discovery, then again before each refusal")
    check_in_place(sandbox, failures, before)
    check_trash_empty(sandbox, failures)
    # The fixture holds: with the same privileges, listing /proc fails.
    rc, _, err = sandbox.run(sandbox.without_folder_reading(["ls", "/proc"]))
    failures.check(rc != 0, "/proc cannot be listed without those capabilities", err)


CONTROL_HOME = "/home/ada\x1b[2J\x1b]0;owned\x07\rX\x1b[1Ahidden"
CONTROL_HOME_SHOWN = "/home/ada\\x1b[2J\\x1b]0;owned\\x07\\x0dX\\x1b[1Ahidden"


def home_named_with_controls(sandbox, failures, options):
    """A home folder whose name holds escape sequences, a bell and a carriage
    return: the terminal gets each of them written out, never the bytes."""
    sandbox.extra_environment["HOME"] = CONTROL_HOME
    sandbox.make_bundle(CONTROL_HOME + "/Applications")
    before = snapshot(sandbox, CONTROL_HOME + "/Applications/Kellix.app")
    run = uninstall(sandbox, failures, options, [""],
                    [confirmation([CONTROL_HOME_SHOWN + "/Applications/Kellix.app"])])
    for byte in (b"\x1b", b"\x07", b"\r"):
        failures.check(byte not in run.out, f"no {byte!r} on standard output", repr(run.out))
    failures.equal(tool_runs(sandbox, LSREGISTER), [], "Launch Services runs")
    check_in_place(sandbox, failures, before)


SAFETY = [
    ("Kellix running through a linked parent of the home folder is refused",
     running_through_linked_home),
    ("an unreadable process list refuses every copy", process_list_unreadable),
    ("a home folder named with escape, bell and carriage return stays inert on the terminal",
     home_named_with_controls),
]


SUITES = {
    "discovery": DISCOVERY,
    "cancel": CANCEL,
    "move_to_trash": MOVE,
    "launch_services_fails": LAUNCH_SERVICES_FAILS,
    "running": RUNNING,
    "changed_while_confirming": CHANGED_WHILE_CONFIRMING,
    "move_fails": MOVE_FAILS,
    "window": window.CASES,
    "safety": SAFETY,
}


# -- what was verified is what is moved, into the searched home's own Trash -------------


def moved_into(sandbox, failures, bundle, home, original=None):
    """`bundle` lies in the Trash of `home` with a .trashinfo naming `original`
    (where the kernel found it; `bundle` unless told), and trash-cli lists it
    there. Gives its place in the Trash, or nothing."""
    original = original or bundle
    trash = f"{home}/.local/share/Trash"
    found, texts = sandbox.trashed(trash)
    name = found.get(original)
    if not failures.check(name is not None, f"a .trashinfo in {trash} naming {original}", repr(texts)):
        return
    listed = sandbox.trash_list(home)
    failures.check(original in listed, f"trash-cli lists {original}", repr(listed))
    return f"{trash}/files/{name}"


LINK_HOME = "/home/link/../tester"  # /home/link -> /srv/a/b, so this is /srv/a/tester
LINK_HOME_REAL = "/srv/a/tester"


def home_through_link_and_dotdot(sandbox, failures, options):
    """HOME spelt through a linked folder and "..": the kernel reaches
    /srv/a/tester, while the text would cancel out to /home/tester, where a
    user's own folder happens to be named Kellix.app. The verified copy is the
    one moved; the other folder stays byte for byte."""
    os.makedirs(sandbox.path("/srv/a/b"))
    os.symlink("/srv/a/b", sandbox.path("/home/link"))
    sandbox.make_bundle(LINK_HOME_REAL + "/Applications")
    decoy = "/home/tester/Applications/Kellix.app"
    sandbox.write(decoy + "/Letter to Grandma.txt", b"Dear Grandma,\n")
    sandbox.extra_environment["HOME"] = LINK_HOME
    real = LINK_HOME_REAL + "/Applications/Kellix.app"
    spelt = LINK_HOME + "/Applications/Kellix.app"
    before = snapshot(sandbox, real, decoy)
    uninstall(sandbox, failures, options, ["2", ""],
              [confirmation([spelt]), report(MOVED_TITLE, [f"Moved to Trash: {spelt}"])])
    check_in_place(sandbox, failures, {decoy: before[decoy]})
    failures.check(not sandbox.exists(real), "the verified copy left its place")
    moved = moved_into(sandbox, failures, real, LINK_HOME_REAL)
    if moved:
        failures.check(sandbox.tree(moved) == before[real], "the verified copy in the trash byte for byte")
    failures.equal(tool_runs(sandbox, LSREGISTER), [["-u", spelt]], "Launch Services runs")


def home_case(environment, searched, not_trashes):
    """The environment names no usable home folder or data folder: the copy in
    the home folder that was searched lands in that folder's own Trash, and
    nothing lands relative to the working folder (/)."""

    def case(sandbox, failures, options):
        sandbox.extra_environment.update(environment)
        bundle = sandbox.make_bundle(searched + "/Applications")
        before = snapshot(sandbox, bundle)
        uninstall(sandbox, failures, options, ["2", ""],
                  [confirmation([bundle]), report(MOVED_TITLE, [f"Moved to Trash: {bundle}"])])
        moved = moved_into(sandbox, failures, bundle, searched)
        if moved:
            failures.check(sandbox.tree(moved) == before[bundle], "in the trash byte for byte")
        for folder in not_trashes:
            failures.check(not sandbox.exists(folder), f"nothing at {folder}")

    return case



def unseen_confirmation_case(output):
    """Standard output takes no writes, and "2" waits on standard input: the
    confirmation never reached the screen, so nothing is unregistered or
    moved, and the run still ends with status 0."""

    def case(sandbox, failures, options):
        sandbox.make_bundle("/Applications")
        sandbox.make_bundle(HOME_APPLICATIONS)
        before = snapshot(sandbox, A, H)
        if output == "full":
            out = os.open("/dev/full", os.O_WRONLY)
        else:
            reader, out = os.pipe()
            os.close(reader)
        try:
            process = sandbox.start([options.program], stdin=subprocess.PIPE, stdout=out,
                                    stderr=subprocess.PIPE)
        finally:
            os.close(out)
        _, err = process.communicate(b"2\n\n", timeout=120)
        failures.equal(process.returncode, 0, "exit status")
        failures.equal(err.decode(errors="replace"), "", "standard error")
        failures.equal(tool_runs(sandbox, LSREGISTER), [], "Launch Services runs")
        check_in_place(sandbox, failures, before)
        check_trash_empty(sandbox, failures)
        failures.equal(sandbox.kelx_changes(), [], ".kelx archives changed")

    return case


FULL_HOME = "/home/full"


def full_disk_under_the_home_trash(sandbox, failures, options):
    """The home folder is a tiny volume, filled before the move: GLib's write
    of the .trashinfo fails, and it moves the bundle all the same. Nothing can
    be written there, so no .trashinfo can be mended either; the bundle is in
    the Trash byte for byte and the report says so, as the move did happen."""
    os.makedirs(sandbox.path(FULL_HOME))
    subprocess.run(["mount", "-t", "tmpfs", "-o", "size=512k,mode=0755", "uk-e2e-full",
                    sandbox.path(FULL_HOME)], check=True)
    sandbox.extra_environment["HOME"] = FULL_HOME
    bundle = sandbox.make_bundle(FULL_HOME + "/Applications")
    os.makedirs(sandbox.path(FULL_HOME + "/.local/share/Trash/files"))
    os.makedirs(sandbox.path(FULL_HOME + "/.local/share/Trash/info"))
    before = snapshot(sandbox, bundle)
    try:
        with open(sandbox.path(FULL_HOME + "/filler"), "wb") as filler:
            while True:
                filler.write(b"x" * 4096)
                filler.flush()
    except OSError:
        pass
    failures.equal(os.statvfs(sandbox.path(FULL_HOME)).f_bavail, 0, "the volume is full")
    uninstall(sandbox, failures, options, ["2", ""],
              [confirmation([bundle]), report(MOVED_TITLE, [f"Moved to Trash: {bundle}"])])
    failures.check(not sandbox.exists(bundle), "the bundle left its place")
    failures.check(sandbox.tree(FULL_HOME + "/.local/share/Trash/files/Kellix.app") == before[bundle],
                   "the bundle in the trash byte for byte")


VERIFIED_IS_MOVED = [
    ("a home spelt through a linked folder and '..' moves the verified copy, not the text's",
     home_through_link_and_dotdot),
    ("relative HOME: the searched home's Trash, nothing under the working folder",
     home_case({"HOME": "tmp"}, "/root", ["/tmp/.local", "/.local"])),
    ("empty HOME: the searched home's Trash",
     home_case({"HOME": ""}, "/root", ["/.local"])),
    ("relative XDG_DATA_HOME is ignored",
     home_case({"XDG_DATA_HOME": "data"}, HOME, ["/data"])),
    ("standard output on /dev/full: the unseen confirmation moves nothing",
     unseen_confirmation_case("full")),
    ("standard output on a pipe whose reader has gone: nothing moves",
     unseen_confirmation_case("closed pipe")),
    ("a full disk under the home Trash: moved, and reported so", full_disk_under_the_home_trash),
]

SUITES["verified_is_moved"] = VERIFIED_IS_MOVED


# -- every file call of the confirmation and the move failed in turn --------------------

TRACED = ("write", "openat", "close", "rename")


def traced_run(sandbox, options, strace_options):
    """The uninstaller under strace, "2" then an empty line on standard input;
    gives the exit status and standard output."""
    argv = ["strace", "-f", "-qq", *strace_options, "--", options.program]
    process = sandbox.start(argv, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE)
    out, _ = process.communicate(b"2\n\n", timeout=120)
    return process.returncode, out.decode(errors="replace")


def calls_from_confirmation(sandbox, options):
    """For each traced system call, the numbers (counted in the uninstaller's
    own process, as strace's when= counts) of its calls from the confirmation's
    first write to the end of the run."""
    log = "/tmp/uk-e2e-trace"
    traced_run(sandbox, options, ["-e", "trace=" + ",".join(TRACED), "-o", log])
    with open(sandbox.path(log), encoding="utf-8", errors="replace") as file:
        lines = file.read().splitlines()
    os.remove(sandbox.path(log))
    main = lines[0].split()[0]
    counts = {name: 0 for name in TRACED}
    first = None
    for line in lines:
        pid, _, call = line.partition(" ")
        name = call.lstrip().partition("(")[0]
        if pid != main or name not in counts:
            continue
        if first is None and name == "write" and "Move Kellix to the Trash?" in call:
            first = dict(counts)
        counts[name] += 1
    first = first or counts
    return {name: range(first[name] + 1, counts[name] + 1) for name in TRACED}


def report_of(out):
    """The report as it reached standard output, or nothing."""
    starts = [out.find(title) for title in (MOVED_TITLE, FAILED_TITLE) if title in out]
    return out[min(starts):] if starts else ""


def fresh_copies(sandbox):
    for bundle in (A, H):
        if sandbox.exists(bundle):
            shutil.rmtree(sandbox.path(bundle))
        sandbox.make_bundle(os.path.dirname(bundle))
    if sandbox.exists(TRASH):
        shutil.rmtree(sandbox.path(TRASH))
    return snapshot(sandbox, A, H)


def every_file_call_failed_in_turn(sandbox, failures, options):
    """Each write, openat, close and rename that the uninstaller makes from the
    confirmation on fails once (EIO), one run each, children included. After
    every run: exit status 0; each copy is either in place byte for byte, or in
    the Trash byte for byte with a .trashinfo that names it (so that the user's
    Trash lists it); a copy reported moved is in the Trash and one reported
    failed is in place; and nothing moved unless the confirmation was shown."""
    # strace stops LeakSanitizer (it cannot run under ptrace); the other suites
    # keep the leak checks.
    sandbox.extra_environment["ASAN_OPTIONS"] = "detect_leaks=0:fast_unwind_on_malloc=0"
    fresh_copies(sandbox)
    runs = calls_from_confirmation(sandbox, options)
    failures.check(all(runs[name] for name in TRACED), "each traced call is made", repr(runs))
    print("calls failed in turn:", {name: len(numbers) for name, numbers in runs.items()}, flush=True)
    question = confirmation([A, H]).block()
    for name in TRACED:
        for number in runs[name]:
            where = f"{name} #{number} failed"
            before = fresh_copies(sandbox)
            status, out = traced_run(sandbox, options,
                                     ["-o", "/dev/null", "-e", f"trace={name}",
                                      "-e", f"inject={name}:error=EIO:when={number}"])
            failures.equal(status, 0, f"{where}: exit status")
            shown = out.startswith(question) and "Choose" in out[len(question):]
            found, texts = sandbox.trashed()
            for bundle in (A, H):
                if sandbox.exists(bundle):
                    failures.check(sandbox.tree(bundle) == before[bundle],
                                   f"{where}: {bundle} in place, unchanged")
                    failures.check(f"Moved to Trash: {bundle}" not in out,
                                   f"{where}: {bundle} not reported moved", out)
                    continue
                failures.check(shown, f"{where}: {bundle} moved only after the confirmation", out)
                name_in_trash = found.get(bundle)
                if failures.check(name_in_trash is not None,
                                  f"{where}: a .trashinfo names {bundle}", repr(texts)):
                    failures.check(sandbox.tree(f"{TRASH}/files/{name_in_trash}") == before[bundle],
                                   f"{where}: {bundle} in the trash byte for byte")
                failures.check(f"\n{bundle}\n" not in report_of(out),
                               f"{where}: {bundle} not reported failed", out)
            failures.equal(sandbox.kelx_changes(), [], f"{where}: .kelx archives changed")


SUITES["fault_injection"] = [
    ("every write, openat, close and rename from the confirmation on, failed in turn",
     every_file_call_failed_in_turn),
]


# -- the home folder afterwards: nothing of the uninstaller's own ----------------------


def home_entries(sandbox):
    """Every entry of the home folder: type, permissions and a digest of the
    content (short enough to show in a failure)."""
    return {path: (kind, mode, None if content is None else
                   hashlib.sha256(content if isinstance(content, bytes) else
                                  content.encode(errors="surrogateescape")).hexdigest()[:16])
            for path, (kind, mode, content) in sandbox.tree(HOME).items()}


def home_unchanged_case(installed, answers):
    """A run that moves nothing (the not-found alert, or a cancelled
    confirmation) leaves the home folder entry for entry as it was: no
    ~/.cache, no settings, no Trash folders."""

    def case(sandbox, failures, options):
        paths = [sandbox.make_bundle(folder) for folder in installed]
        before = home_entries(sandbox)
        alerts = [confirmation(paths)] if paths else [NOT_FOUND]
        uninstall(sandbox, failures, options, answers, alerts)
        after = home_entries(sandbox)
        failures.equal(sorted(set(after) - set(before)), [], "entries added to the home folder")
        failures.equal(after, before, "the home folder, entry for entry")

    return case


def home_after_move(sandbox, failures, options):
    """A run that moved a copy adds the Trash folders and nothing else."""
    sandbox.make_bundle("/Applications")
    before = home_entries(sandbox)
    uninstall(sandbox, failures, options, ["2", ""],
              [confirmation([A]), report(MOVED_TITLE, [f"Moved to Trash: {A}"])])
    added = sorted(set(home_entries(sandbox)) - set(before))
    trash = os.path.relpath(TRASH, HOME)
    failures.check(added and all(path == trash or path.startswith(trash + "/") or
                                 trash.startswith(path + "/") for path in added),
                   "only the Trash folders added to the home folder", repr(added))
    failures.equal({path: entry for path, entry in home_entries(sandbox).items() if path in before},
                   before, "what the home folder held before")


def home_unchanged_with_window(sandbox, failures, options):
    """With a display (GTK started for real) the not-found window, answered
    with Return, leaves the home folder as it was."""
    display = window.Display(sandbox)
    before = home_entries(sandbox)
    process = window.start_uninstaller(sandbox, options, display)
    display.press(display.window_of(process), "Return")
    window.finish(process, failures)
    failures.equal(home_entries(sandbox), before, "the home folder, entry for entry")


HOME_LEFT_ALONE = [
    ("nothing installed: the not-found alert leaves the home folder as it was",
     home_unchanged_case([], [""])),
    ("a cancelled confirmation leaves the home folder as it was",
     home_unchanged_case(["/Applications", HOME_APPLICATIONS], [""])),
    ("end of input at the confirmation leaves the home folder as it was",
     home_unchanged_case([HOME_APPLICATIONS], [])),
    ("a moved copy adds the Trash folders and nothing else", home_after_move),
    ("a GTK window session leaves the home folder as it was", home_unchanged_with_window),
]

SUITES["home_left_alone"] = HOME_LEFT_ALONE
