"""Every script in scripts/ answers --help and -h with its usage at once, and
refuses an unknown option with that usage and status 2. Each runs from a copy
of the scripts folder with a PATH that holds only a shell and a few harmless
tools: any build, install or test command it tried would not be found, and
anything it wrote would show in the copy."""

import os
import shutil
import subprocess
import sys
import tempfile

HARMLESS = ["bash", "env", "dirname", "cat", "id", "uname", "head", "grep", "tail"]


def listing(top):
    return sorted(os.path.relpath(os.path.join(folder, name), top)
                  for folder, folders, files in os.walk(top) for name in folders + files)


def main(source):
    failures = []
    with tempfile.TemporaryDirectory() as work:
        tools = os.path.join(work, "tools")
        os.mkdir(tools)
        for tool in HARMLESS:
            os.symlink(shutil.which(tool), os.path.join(tools, tool))
        shutil.copytree(os.path.join(source, "scripts"), os.path.join(work, "repo", "scripts"))
        scripts = sorted(os.listdir(os.path.join(work, "repo", "scripts")))
        before = listing(work)
        cases = [(args, name) for name in scripts
                 for args in (["--help"], ["-h"], ["--no-such-option"])]
        for args, name in cases:
            script = os.path.join(work, "repo", "scripts", name)
            result = subprocess.run([script, *args], env={"PATH": tools, "HOME": work},
                                    stdin=subprocess.DEVNULL, capture_output=True, text=True,
                                    timeout=60)
            asked = args[0] in ("--help", "-h")
            shown = result.stdout if asked else result.stderr
            problems = []
            if result.returncode != (0 if asked else 2):
                problems.append(f"status {result.returncode}")
            if not shown.startswith(f"usage: scripts/{name}"):
                problems.append("no usage line first")
            if asked and result.stderr:
                problems.append("standard error not empty")
            if not asked and result.stdout:
                problems.append("standard output not empty")
            if problems:
                failures.append(f"{name} {' '.join(args)}: {', '.join(problems)}\n"
                                f"  out: {result.stdout!r}\n  err: {result.stderr!r}")
        if listing(work) != before:
            failures.append(f"files made: {sorted(set(listing(work)) - set(before))}")
    for failure in failures:
        print("FAILED", failure)
    print(f"{len(cases)} cases over {len(scripts)} scripts, {len(failures)} failed")
    return 1 if failures or not scripts else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
