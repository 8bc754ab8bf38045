#!/usr/bin/env python3
"""Configures the project as a Mac's universal release build would be, here on
Linux, and checks the compile commands that CMake writes, without compiling
anything: every file carries the deployment target and both architectures,
the bundle's Info.plist states the same minimum macOS,
every Objective-C++ file of platform/cocoa is built and carries ARC, no
C++ file does, and nothing is instrumented. A deployment target below the floor must stop the configure.

Usage: check_darwin_configure.py SOURCE_ROOT WORK_DIR
"""

import pathlib
import plistlib
import shutil
import subprocess
import sys

# What a Mac's configure finds by itself; here nothing is searched or run.
DARWIN = [
    "-G", "Ninja",
    "-DCMAKE_SYSTEM_NAME=Darwin",
    "-DCMAKE_OSX_SYSROOT=/",
    "-DCMAKE_C_COMPILER=" + (shutil.which("clang") or "clang"),
    "-DCMAKE_CXX_COMPILER=" + (shutil.which("clang++") or "clang++"),
    "-DCMAKE_OBJCXX_COMPILER=" + (shutil.which("clang++") or "clang++"),
    "-DCMAKE_C_COMPILER_WORKS=1",
    "-DCMAKE_CXX_COMPILER_WORKS=1",
    "-DCMAKE_OBJCXX_COMPILER_WORKS=1",
    "-DCMAKE_INSTALL_NAME_TOOL=/bin/true",
    "-DUK_FOUNDATION=/System/Library/Frameworks/Foundation.framework",
    "-DUK_APPKIT=/System/Library/Frameworks/AppKit.framework",
]

# The universal release, as the packaging configures it.
RELEASE = [
    "-DCMAKE_OSX_ARCHITECTURES=arm64;x86_64",
    "-DUK_TESTS=OFF",
    "-DCMAKE_BUILD_TYPE=Release",
]


def configure(root, build, extra):
    shutil.rmtree(build, ignore_errors=True)
    return subprocess.run(
        ["cmake", "-S", str(root), "-B", str(build), *DARWIN, *extra],
        capture_output=True, text=True, check=False)


def compile_flags(build_ninja):
    """Maps each compiled source path to the FLAGS of its build statement."""
    flags = {}
    source = None
    for line in build_ninja.read_text().splitlines():
        if line.startswith("build "):
            head, _, inputs = line.partition(": ")
            rule, _, rest = inputs.partition(" ")
            source = rest.split(" ")[0] if "_COMPILER__" in rule else None
        elif source and line.strip().startswith("FLAGS = "):
            flags[source] = line.strip()[len("FLAGS = "):].split()
    return flags


def main():
    root = pathlib.Path(sys.argv[1]).resolve()
    work = pathlib.Path(sys.argv[2])
    problems = []

    result = configure(root, work / "release", RELEASE)
    if result.returncode != 0:
        print(result.stdout, result.stderr, sep="\n")
        print("FAIL: the universal release does not configure")
        return 1
    flags = compile_flags(work / "release" / "build.ninja")
    if not flags:
        problems.append("no compile commands found in build.ninja")

    for source, words in sorted(flags.items()):
        name = pathlib.Path(source).name
        if "-mmacosx-version-min=11.0" not in words:
            problems.append(f"{name}: no -mmacosx-version-min=11.0")
        arches = [words[i + 1] for i, w in enumerate(words[:-1]) if w == "-arch"]
        if sorted(arches) != ["arm64", "x86_64"]:
            problems.append(f"{name}: architectures {arches}, not arm64 and x86_64")
        if any(w.startswith("-fsanitize") for w in words):
            problems.append(f"{name}: instrumented ({[w for w in words if w.startswith('-fsanitize')]})")
        arc = "-fobjc-arc" in words
        if source.endswith(".mm") and not arc:
            problems.append(f"{name}: Objective-C++ without -fobjc-arc")
        if not source.endswith(".mm") and arc:
            problems.append(f"{name}: -fobjc-arc on a file that is not Objective-C++")

    compiled = {pathlib.Path(s).resolve() for s in flags}
    for mm in sorted((root / "platform" / "cocoa").glob("*.mm")):
        if mm.resolve() not in compiled:
            problems.append(f"{mm.name}: not in platform/cocoa/sources.cmake, so never built")

    def minimum_system(build):
        plist = build / "UninstallKellix.app" / "Contents" / "Info.plist"
        return plistlib.loads(plist.read_bytes()).get("LSMinimumSystemVersion")

    if minimum_system(work / "release") != "11.0":
        problems.append(f"Info.plist states {minimum_system(work / 'release')}, not 11.0")

    # A later target chosen at configure time reaches both places.
    later = configure(root, work / "later", RELEASE + ["-DCMAKE_OSX_DEPLOYMENT_TARGET=12.0"])
    if later.returncode != 0:
        problems.append("a deployment target of 12.0 does not configure")
    else:
        later_flags = compile_flags(work / "later" / "build.ninja")
        if not later_flags or any("-mmacosx-version-min=12.0" not in w for w in later_flags.values()):
            problems.append("a deployment target of 12.0 does not reach every compile command")
        if minimum_system(work / "later") != "12.0":
            problems.append("a deployment target of 12.0 does not reach Info.plist")

    low = configure(root, work / "too_old", RELEASE + ["-DCMAKE_OSX_DEPLOYMENT_TARGET=10.15"])
    if low.returncode == 0 or "needs 11.0 or later" not in low.stderr:
        problems.append("a deployment target of 10.15 was accepted")

    # The SDK must be the macOS 14 one or later: an older one is refused at
    # configure time, with the reason, and a newer one is taken.
    for version, accepted in (("13.3", False), ("14.0", True), ("15.2", True)):
        sdk = work / f"sdk-{version}"
        sdk.mkdir(parents=True, exist_ok=True)
        (sdk / "SDKSettings.json").write_text('{"Version": "%s"}' % version)
        sdk_run = configure(root, work / f"with_sdk_{version}",
                            RELEASE + ["-DCMAKE_OSX_SYSROOT=" + str(sdk)])
        if accepted and sdk_run.returncode != 0:
            problems.append(f"the macOS {version} SDK was refused: {sdk_run.stderr.strip()[-300:]}")
        if not accepted and (sdk_run.returncode == 0 or "macOS 14 SDK" not in sdk_run.stderr):
            problems.append(f"the macOS {version} SDK was accepted")

    for problem in problems:
        print("FAIL:", problem)
    print(f"checked {len(flags)} compile commands")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
