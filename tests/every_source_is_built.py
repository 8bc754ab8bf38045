#!/usr/bin/env python3
"""Fails when a source file in the tree is compiled by no target.

CMake lists every source by name, so a new file that nobody adds to a list
is not built, and a new test file is not run, without any error. This check
compares the tree with the build's compile_commands.json. The few files that
this build never compiles are named below, each with the reason.

Usage: every_source_is_built.py SOURCE_ROOT COMPILE_COMMANDS_JSON
"""

import fnmatch
import json
import os
import sys

SOURCE_SUFFIXES = (".c", ".cc", ".cpp", ".mm", ".m")

# Relative paths (shell patterns) that a Linux build does not compile.
NOT_BUILT_HERE = {
    "platform/cocoa/*.mm": "the Mac platform; on Linux the Cocoa type check reads them",
    "tests/trash/mac_trash_main.cpp": "the Mac trash tests' main()",
    "fuzz/info_plist_fuzzer.cpp": "built by clang only, in scripts/fuzz",
    "fuzz/property_list_benchmark.cpp": "built only where Google Benchmark is installed",
}


def main(root, commands_path):
    with open(commands_path, encoding="utf-8") as commands:
        built = {os.path.realpath(entry["file"]) for entry in json.load(commands)}
    missing = []
    for folder, subfolders, files in os.walk(root):
        relative_folder = os.path.relpath(folder, root)
        # Not the build folders, nor .git and the like.
        subfolders[:] = [
            name
            for name in subfolders
            if not name.startswith(".") and not (relative_folder == "." and name == "build")
        ]
        for name in files:
            if not name.endswith(SOURCE_SUFFIXES):
                continue
            relative = os.path.normpath(os.path.join(relative_folder, name))
            if any(fnmatch.fnmatch(relative, pattern) for pattern in NOT_BUILT_HERE):
                continue
            if os.path.realpath(os.path.join(folder, name)) not in built:
                missing.append(relative)
    for relative in sorted(missing):
        print(f"NOT BUILT: {relative} (list it in the CMake file of its folder)", file=sys.stderr)
    print(f"{len(built)} compiled files; {len(missing)} sources in no target")
    return 1 if missing else 0


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    sys.exit(main(sys.argv[1], sys.argv[2]))
