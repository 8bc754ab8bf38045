"""Driving the uninstaller through its terminal alerts, and what they must say.

Without a display every alert is printed on standard output: the message text
alone on a line; an empty line and the informative text when there is one; an
empty line and one line per button, "  N. Title", " (Return)" after the button
that Return chooses; then a prompt line, after which one answer line is read.
"""

import array
import fcntl
import os
import re
import select
import subprocess
import termios
import threading
import time


class Alert:
    def __init__(self, message, informative, buttons, return_button=0):
        self.message, self.informative = message, informative
        self.buttons, self.return_button = buttons, return_button

    def block(self):
        """The exact text the alert prints before its prompt."""
        text = self.message + "\n"
        if self.informative:
            text += "\n" + self.informative + "\n"
        text += "\n"
        for number, title in enumerate(self.buttons, start=1):
            mark = " (Return)" if number - 1 == self.return_button else ""
            text += f"  {number}. {title}{mark}\n"
        return text


NOT_FOUND = Alert("No verified Kellix installation found",
                  "The uninstaller looked for Kellix.app in Applications and in your home "
                  "Applications folder.", ["OK"])
CONFIRM_PREFIX = "Review the installed copies below. Your .kelx archives stay where they are.\n\n"
MOVED_TITLE = "Kellix moved to the Trash"
FAILED_TITLE = "Some apps could not be removed"
FINDER_LINE = "\nFinder could not refresh its file association. Eject the disk image and reopen Finder."
CHANGED = "This installation changed. Reopen the uninstaller to check it again."
QUIT = "Quit Kellix and open the uninstaller again."
UNKNOWN_RUNNING = ("The uninstaller could not check whether Kellix is running, so it left this "
                   "copy in place.")
NOT_THE_VERIFIED_FOLDER = ("The uninstaller could not confirm that the folder it was about to move "
                           "is the copy it checked, so it left it in place.")
MOVE_ADVICE = " You can move this app to the Trash in Finder and approve any permission request."


def confirmation(paths):
    return Alert("Move Kellix to the Trash?", CONFIRM_PREFIX + "\n".join(paths),
                 ["Cancel", "Move to Trash"])


def report(title, paragraphs):
    return Alert(title, "\n\n".join(paragraphs), ["OK"])


# The prompt's wording is the alert's own business: any non-blank text on the
# line after the buttons, perhaps ended by line breaks.
PROMPT = r"[^\n]*?\S[^\n]*?\n*"


def transcript_matches(transcript, alerts):
    """True when the output is exactly these alerts, each with its prompt."""
    pattern = "".join(re.escape(alert.block()) + PROMPT for alert in alerts)
    return re.fullmatch(pattern, transcript) is not None


class TerminalRun:
    """The uninstaller started with piped standard streams and no display."""

    def __init__(self, sandbox, program, argv=None, **start):
        """`argv`, when given, is the command that runs `program`."""
        self.sandbox = sandbox
        self.process = sandbox.start(argv or [program], stdin=subprocess.PIPE,
                                     stdout=subprocess.PIPE, stderr=subprocess.PIPE, **start)
        # What the tools it starts must inherit as their standard input.
        self.stdin_target = os.readlink(sandbox.proc(f"{self.process.pid}/fd/0"))
        self.out = b""
        self.err = b""
        self._err_reader = threading.Thread(target=self._read_errors, daemon=True)
        self._err_reader.start()

    def _read_errors(self):
        self.err = self.process.stderr.read()

    def transcript(self):
        return self.out.decode(errors="replace")

    def waiting_for_input(self):
        """True while the program is blocked reading its standard input with
        nothing left to read there: a program that has not yet been scheduled
        to take the answer just written is not waiting for another."""
        try:
            with open(self.sandbox.proc(f"{self.process.pid}/syscall")) as file:
                if file.read().split()[:2] != ["0", "0x0"]:
                    return False
        except OSError:
            return False
        if self.process.stdin.closed:
            return True
        unread = array.array("i", [0])
        fcntl.ioctl(self.process.stdin.fileno(), termios.FIONREAD, unread)
        return unread[0] == 0

    def read_until(self, text, limit=60):
        """Reads standard output until `text` has appeared. Fails if the
        program ends, or waits for an answer, first; `limit` seconds of
        silence are a hang guard, not a measurement."""
        wanted = text.encode()
        deadline = time.monotonic() + limit
        while wanted not in self.out:
            ready, _, _ = select.select([self.process.stdout], [], [], 0.1)
            if not ready:
                if self.waiting_for_input() or time.monotonic() > deadline:
                    raise AssertionError(f"no {text!r} on standard output; so far:\n{self.transcript()}")
                continue
            chunk = os.read(self.process.stdout.fileno(), 65536)
            if not chunk:
                raise AssertionError(f"output ended before {text!r}; got:\n{self.transcript()}")
            self.out += chunk

    def answer(self, line):
        try:
            self.process.stdin.write(line.encode() + b"\n")
            self.process.stdin.flush()
        except BrokenPipeError:
            pass

    def finish(self):
        """Closes standard input (end of input from here on), waits for the
        exit and answers the exit status."""
        try:
            self.process.stdin.close()
        except BrokenPipeError:
            pass
        self.out += self.process.stdout.read()
        self.process.wait(timeout=120)
        self._err_reader.join()
        return self.process.returncode
