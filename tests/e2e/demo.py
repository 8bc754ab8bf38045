#!/usr/bin/python3
"""Shows the whole uninstall flow on this machine without touching it.

    demo.py --program BIN --stub STUB --work DIR

runs the real UninstallKellix in a sandbox (sandbox.py) holding a sample
Kellix.app in /Applications, a .kelx archive in the home folder, and stand-in
code-signature and Launch Services tools that accept everything. With DISPLAY
set the alerts are windows on that display; otherwise they are answered in
this terminal. Afterwards it tells what happened in the sandbox, which then
vanishes. Needs root (namespaces, overlayfs, chroot).
"""

import argparse
import os
import re
import shutil
import socket
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from sandbox import HOME, Sandbox, TRASH  # noqa: E402


def show_display(sandbox, display):
    """Makes the machine's X server reachable from inside the sandbox."""
    sockets = "/tmp/.X11-unix"
    if os.path.isdir(sockets):
        os.makedirs(sandbox.path(sockets), exist_ok=True)
        subprocess.run(["mount", "--bind", sockets, sandbox.path(sockets)], check=True)
    authority = os.environ.get("XAUTHORITY") or os.path.expanduser("~/.Xauthority")
    if os.path.isfile(authority):
        shutil.copy(authority, sandbox.path("/tmp/.Xauthority"))
        sandbox.extra_environment["XAUTHORITY"] = "/tmp/.Xauthority"


def reachable(display):
    """Whether an X server answers at `display` (":N", "unix:N" or "host:N"),
    as GTK will find out when the program opens it: the alerts are windows
    then, and terminal prompts otherwise."""
    match = re.fullmatch(r"(.*):(\d+)(\.\d+)?", display or "")
    if not match:
        return False
    host, number = match.group(1), int(match.group(2))
    try:
        if host in ("", "unix"):
            with socket.socket(socket.AF_UNIX) as connection:
                connection.settimeout(2)
                connection.connect(f"/tmp/.X11-unix/X{number}")
        else:
            socket.create_connection((host, 6000 + number), timeout=2).close()
        return True
    except OSError:
        return False


def demo(options):
    display = os.environ.get("DISPLAY")
    if display and not reachable(display):
        print(f"DISPLAY={display} names no X server that answers: the alerts appear in this terminal.")
    with Sandbox(options.work, options.program, options.stub) as sandbox:
        bundle = sandbox.make_bundle("/Applications")
        if display:
            show_display(sandbox, display)
        print(f"Sandbox ready: {bundle} and {HOME}/Holiday photos.kelx are waiting.")
        windows = bool(display) and reachable(display)
        print(f"Answer in the window on {display}." if windows else
              "Answer below (a number, or Return).")
        print(flush=True)
        process = sandbox.start([options.program], display=display)
        status = process.wait()

        print(f"\nUninstallKellix exited with status {status}.")
        print(f"{bundle}: {'still in place' if sandbox.exists(bundle) else 'gone'}")
        trashed, texts = sandbox.trashed()
        for original, name in trashed.items():
            print(f"In the Trash ({TRASH}/files/{name}), from {original}:")
            print("  " + texts[name + ".trashinfo"].strip().replace("\n", "\n  "))
        untouched = not sandbox.kelx_changes()
        print(f".kelx archives: {'untouched' if untouched else 'CHANGED'}")
        print("Tools the uninstaller ran:")
        for call in sandbox.calls():
            print(f"  {call.tool} {' '.join(call.args)}")
        if any(call.tool.endswith("/codesign") for call in sandbox.calls()):
            print("  (codesign checks each copy twice: once while searching, and again just before"
                  " the move, so a copy changed in between is not moved)")
        print("The sandbox is gone now; nothing on this machine changed.")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--program", required=True)
    parser.add_argument("--stub", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("--inside", action="store_true")
    options = parser.parse_args()
    for name in ("program", "stub", "work"):
        setattr(options, name, os.path.abspath(getattr(options, name)))
    if options.inside:
        demo(options)
        return 0

    if os.geteuid() != 0:
        print("The demo needs root: it builds its sandbox with namespaces, overlayfs and chroot.")
        return 1
    work = os.path.join(options.work, f"demo.{os.getpid()}")
    os.makedirs(work)
    try:
        # A private mount and PID namespace; the network is kept so that a
        # window can reach the machine's X server.
        return subprocess.run(["unshare", "--mount", "--propagation", "private", "--pid",
                               "--fork", "--kill-child", sys.executable, os.path.abspath(__file__),
                               "--inside", "--program", options.program, "--stub", options.stub,
                               "--work", work]).returncode
    finally:
        os.rmdir(work)


if __name__ == "__main__":
    sys.exit(main())
