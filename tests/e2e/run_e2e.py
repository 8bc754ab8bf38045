#!/usr/bin/python3
"""End-to-end tests of the built UninstallKellix, each case in its own sandbox.

    run_e2e.py --program BIN --stub STUB --work DIR --artifacts DIR SUITE

runs one suite (a table of cases). It must run as root: it enters a private
mount, PID and network namespace (unshare), where every case gets a fresh
overlay of the machine's root (sandbox.py). When the suite ends, however it
ends, the namespace and everything in it is gone; only the empty mount-point
folders under --work are left, and those are removed too. Without root the
suite is skipped (exit 77).
"""

import argparse
import os
import subprocess
import sys
import traceback

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from sandbox import Sandbox  # noqa: E402

SKIPPED = 77


class Failures:
    """Collects the failed checks of every case so one run shows them all."""

    def __init__(self):
        self.items = []
        self.case = None

    def check(self, condition, what, detail=""):
        if not condition:
            self.items.append(f"[{self.case}] {what}" + (f"\n{detail}" if detail else ""))
        return condition

    def equal(self, actual, expected, what):
        return self.check(actual == expected, what,
                          f"  expected: {expected!r}\n  actual:   {actual!r}")


def run_suite(options):
    import suites  # noqa: E402  (only inside the namespace)

    cases = suites.SUITES[options.suite]
    failures = Failures()
    for index, (name, case) in enumerate(cases):
        failures.case = name
        base = os.path.join(options.work, f"case{index}")
        os.makedirs(base, exist_ok=True)
        print(f"--- {name}", flush=True)
        try:
            with Sandbox(base, options.program, options.stub) as sandbox:
                case(sandbox, failures, options)
        except Exception:
            failures.items.append(f"[{name}] raised:\n{traceback.format_exc()}")
    for item in failures.items:
        print(f"FAILED {item}\n", flush=True)
    print(f"{len(cases)} cases, {len(failures.items)} failed checks", flush=True)
    return 1 if failures.items else 0


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--program", required=True)
    parser.add_argument("--stub", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("--artifacts", required=True)
    parser.add_argument("--inside", action="store_true")
    parser.add_argument("suite")
    options = parser.parse_args()
    for name in ("program", "stub", "work", "artifacts"):
        setattr(options, name, os.path.abspath(getattr(options, name)))

    if options.inside:
        return run_suite(options)

    if os.geteuid() != 0:
        print("skipped: the end-to-end sandbox needs root (mount namespaces, overlayfs, chroot)")
        return SKIPPED
    work = os.path.join(options.work, f"{options.suite}.{os.getpid()}")
    os.makedirs(work)
    os.makedirs(options.artifacts, exist_ok=True)
    try:
        # --kill-child: if this process goes (a ctest timeout), the namespace
        # and every process in it go too.
        command = ["unshare", "--mount", "--propagation", "private", "--pid", "--fork",
                   "--kill-child", "--net", sys.executable, os.path.abspath(__file__), "--inside",
                   "--program", options.program, "--stub", options.stub, "--work", work,
                   "--artifacts", options.artifacts, options.suite]
        return subprocess.run(command, stdin=subprocess.DEVNULL).returncode
    finally:
        # Only empty mount-point folders are left here; rmdir (never a
        # recursive delete) removes exactly those.
        for name in os.listdir(work):
            os.rmdir(os.path.join(work, name))
        os.rmdir(work)


if __name__ == "__main__":
    sys.exit(main())
