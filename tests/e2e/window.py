"""The uninstaller's alerts as real GTK windows on an Xvfb display inside the
sandbox, answered with real key presses (xdotool), each window kept as a
screenshot in the artifacts folder."""

import os
import shutil
import subprocess
import time

from sandbox import CODESIGN, LSREGISTER

A = "/Applications/Kellix.app"


class Display:
    """An Xvfb server started inside the sandbox. Its socket lies in the
    sandbox's own /tmp and the sandbox has its own network namespace, so the
    display number never collides with one of the machine's."""

    def __init__(self, sandbox):
        self.sandbox = sandbox
        reader, writer = os.pipe()
        # -noreset: otherwise the server resets whenever its last client (such
        # as xdotool) leaves, and a program connecting just then finds no
        # display and answers in the terminal instead.
        self.server = sandbox.start(["Xvfb", "-displayfd", str(writer), "-nolisten", "tcp",
                                     "-noreset", "-screen", "0", "800x600x24"],
                                    pass_fds=(writer,), stdout=subprocess.DEVNULL,
                                    stderr=subprocess.DEVNULL)
        os.close(writer)
        with os.fdopen(reader) as announced:
            number = announced.readline().strip()  # written once the server accepts clients
        if not number:
            raise AssertionError("Xvfb did not start")
        self.name = f":{number}"

    def tool(self, *argv):
        status, out, err = self.sandbox.run(list(argv), display=self.name)
        if status != 0:
            raise AssertionError(f"{argv} failed ({status}): {err}")
        return out

    def window_of(self, process, other_than=()):
        """Waits for a visible window of `process` (not one of `other_than`)."""
        for _ in range(600):
            if process.poll() is not None:
                raise AssertionError(f"the uninstaller ended ({process.returncode}) without a window")
            status, out, _ = self.sandbox.run(["xdotool", "search", "--onlyvisible", "--pid",
                                               str(process.pid)], display=self.name)
            windows = [w for w in out.split() if w not in other_than]
            if status == 0 and windows:
                return windows[-1]
            time.sleep(0.05)
        raise AssertionError("no window appeared")

    def screenshot(self, artifacts, name):
        """Saves the screen once two captures in a row agree (the window has
        finished drawing), and answers the number of colours in it."""
        inside = f"/tmp/{name}.png"
        previous = None
        for _ in range(100):
            self.tool("import", "-window", "root", inside)
            with open(self.sandbox.path(inside), "rb") as file:
                current = file.read()
            if current == previous:
                break
            previous = current
            time.sleep(0.1)
        os.makedirs(artifacts, exist_ok=True)
        shutil.copy(self.sandbox.path(inside), os.path.join(artifacts, f"{name}.png"))
        return int(self.tool("identify", "-format", "%k", inside))

    def press(self, window, *keys):
        self.tool("xdotool", "windowfocus", "--sync", window)
        for key in keys:
            self.tool("xdotool", "key", "--clearmodifiers", key)


def start_uninstaller(sandbox, options, display):
    return sandbox.start([options.program], display=display.name, stdin=subprocess.DEVNULL,
                         stdout=subprocess.PIPE, stderr=subprocess.PIPE)


def finish(process, failures):
    out, err = process.communicate(timeout=120)
    failures.equal(process.returncode, 0, "exit status")
    failures.equal(out.decode(errors="replace"), "", "standard output (no terminal alert in a window session)")
    if err:
        print(f"standard error of the uninstaller:\n{err.decode(errors='replace')}")


def artifacts_of(options):
    return os.path.join(options.artifacts, "window")


def not_found(sandbox, failures, options):
    display = Display(sandbox)
    process = start_uninstaller(sandbox, options, display)
    window = display.window_of(process)
    colours = display.screenshot(artifacts_of(options), "not-found")
    failures.check(colours > 2, "the not-found window shows its contents", f"{colours} colours")
    display.press(window, "Return")
    finish(process, failures)
    failures.equal(sandbox.calls(), [], "tool runs")


def return_cancels(sandbox, failures, options):
    sandbox.make_bundle("/Applications")
    before = sandbox.tree(A)
    display = Display(sandbox)
    process = start_uninstaller(sandbox, options, display)
    window = display.window_of(process)
    colours = display.screenshot(artifacts_of(options), "confirmation")
    failures.check(colours > 2, "the confirmation shows its contents", f"{colours} colours")
    # Return is "Cancel"'s key: the run ends without a report window.
    display.press(window, "Return")
    finish(process, failures)
    failures.check(sandbox.exists(A) and sandbox.tree(A) == before, "the bundle left in place")
    failures.equal(sandbox.trashed()[0], {}, "what the trash holds")
    failures.equal([c.args for c in sandbox.calls(LSREGISTER)], [], "Launch Services runs")
    failures.equal(sandbox.kelx_changes(), [], ".kelx archives changed")


def move_by_keyboard(sandbox, failures, options):
    sandbox.make_bundle("/Applications")
    before = sandbox.tree(A)
    display = Display(sandbox)
    process = start_uninstaller(sandbox, options, display)
    confirmation = display.window_of(process)
    # Tab leaves "Cancel" for "Move to Trash"; space presses the focused button.
    display.press(confirmation, "Tab")
    display.screenshot(artifacts_of(options), "confirmation-move-focused")
    display.press(confirmation, "space")
    report = display.window_of(process, other_than=(confirmation,))
    colours = display.screenshot(artifacts_of(options), "report")
    failures.check(colours > 2, "the report shows its contents", f"{colours} colours")
    display.press(report, "Return")
    finish(process, failures)
    failures.check(not sandbox.exists(A), "the bundle left /Applications")
    found, _ = sandbox.trashed()
    name = found.get(A)
    if failures.check(name is not None, "the bundle in the trash", repr(found)):
        failures.check(sandbox.tree(f"/home/ada/.local/share/Trash/files/{name}") == before,
                       "the bundle in the trash byte for byte")
    failures.equal([c.args for c in sandbox.calls(LSREGISTER)], [["-u", A]], "Launch Services runs")
    failures.equal([c.args for c in sandbox.calls(CODESIGN)],
                   [["--verify", "--strict", A]] * 2, "code-signature checks")
    failures.equal(sandbox.kelx_changes(), [], ".kelx archives changed")


def display_lost_under_confirmation(sandbox, failures, options):
    """The X server goes away while the confirmation is open: the run ends at
    once with status 0, and the unanswered confirmation removes nothing."""
    sandbox.make_bundle("/Applications")
    before = sandbox.tree(A)
    display = Display(sandbox)
    process = start_uninstaller(sandbox, options, display)
    display.window_of(process)
    display.server.kill()
    display.server.wait()
    out, err = process.communicate(timeout=60)
    failures.equal(process.returncode, 0, "exit status")
    failures.equal(out.decode(errors="replace"), "", "standard output")
    failures.check(sandbox.exists(A) and sandbox.tree(A) == before, "the bundle left in place")
    failures.equal(sandbox.trashed()[0], {}, "what the trash holds")
    failures.equal([c.args for c in sandbox.calls(LSREGISTER)], [], "Launch Services runs")
    failures.equal([c.args for c in sandbox.calls(CODESIGN)], [["--verify", "--strict", A]],
                   "code-signature checks: discovery only")
    failures.equal(sandbox.kelx_changes(), [], ".kelx archives changed")


CASES = [
    ("not-found alert, OK by Return", not_found),
    ("confirmation: Return chooses Cancel", return_cancels),
    ("confirmation: Tab to Move to Trash, space; then the report", move_by_keyboard),
    ("the X server killed under the confirmation: status 0, nothing moved",
     display_lost_under_confirmation),
]
