"""scripts/test ends with a summary that tells the truth: each build's totals,
the fuzz run's executions and crashes, a verdict, and last a plain
"total: N passed, N failed" line, with a non-zero exit on any failure.

The real scripts/test runs from a copy of a small tree of its own: a CMake
project with "test" and "sanitize" presets whose CTest tests pass, are
skipped or fail as each case lays out, and stand-ins for the steps around
them (installing packages, the libc++ compile, the fuzzer). shellcheck is the
real one."""

import os
import re
import shutil
import subprocess
import sys
import tempfile

STUBS = {
    "install-deps": "exit 0\n",
    "check-libcxx": 'echo "libc++: 2 files compiled, 0 failed"\n',
    # The fuzzer's statistics as libFuzzer writes them, one block per encoding;
    # a crash leaves libFuzzer's own line and a failed status.
    "fuzz": """mkdir -p build/fuzz
{
  echo "stat::number_of_executed_units: 120"
  echo "stat::number_of_executed_units: 180"
  if [[ -e crash ]]; then echo "Test unit written to build/fuzz/artifacts/crash-1"; fi
} >build/fuzz/fuzz.log
[[ ! -e crash ]]
""",
}

CMAKE = """cmake_minimum_required(VERSION 3.25)
project(summary_fixture NONE)
enable_testing()
add_test(NAME passes COMMAND true)
add_test(NAME skipped COMMAND sh -c "exit 77")
set_tests_properties(skipped PROPERTIES SKIP_RETURN_CODE 77)
if(EXISTS ${CMAKE_SOURCE_DIR}/fail-test-${PRESET})
  add_test(NAME fails COMMAND false)
endif()
if(EXISTS ${CMAKE_SOURCE_DIR}/fail-build-${PRESET})
  add_custom_target(broken ALL COMMAND false)
endif()
"""

PRESETS = """{
  "version": 6,
  "configurePresets": [
    {"name": "test", "generator": "Ninja", "binaryDir": "${sourceDir}/build/test",
     "cacheVariables": {"PRESET": "test"}},
    {"name": "sanitize", "generator": "Ninja", "binaryDir": "${sourceDir}/build/sanitize",
     "cacheVariables": {"PRESET": "sanitize"}}
  ],
  "buildPresets": [{"name": "test", "configurePreset": "test"},
                   {"name": "sanitize", "configurePreset": "sanitize"}],
  "testPresets": [{"name": "test", "configurePreset": "test"},
                  {"name": "sanitize", "configurePreset": "sanitize"}]
}
"""

# name, marker files, expected exit (0 or not), lines the summary must hold
CASES = [
    ("everything passes", [], True,
     ["shellcheck: 4 scripts clean", "libc++: 2 files compiled, 0 failed",
      "test: 2 of 2 tests passed, 0 failed, 1 skipped",
      "sanitize: 2 of 2 tests passed, 0 failed, 1 skipped",
      "fuzz: 300 executions, 0 crashes (statistics in build/fuzz/fuzz.log)",
      "verdict: passed", "total: 7 passed, 0 failed"]),
    ("a failing test in one build", ["fail-test-sanitize"], False,
     ["test: 2 of 2 tests passed, 0 failed, 1 skipped",
      "sanitize: 2 of 3 tests passed, 1 failed, 1 skipped",
      "verdict: FAILED: sanitize (1 of 3 tests)", "total: 7 passed, 1 failed"]),
    ("a build that does not build", ["fail-build-test"], False,
     ["test: build FAILED", "sanitize: 2 of 2 tests passed, 0 failed, 1 skipped",
      "verdict: FAILED: test", "total: 5 passed, 1 failed"]),
    ("a fuzz crash", ["crash"], False,
     ["fuzz: 300 executions, 1 crashes, FAILED (statistics in build/fuzz/fuzz.log)",
      "verdict: FAILED: fuzz", "total: 6 passed, 1 failed"]),
    ("a script shellcheck refuses", ["unclean.sh"], False,
     ["shellcheck: FAILED over 5 scripts", "verdict: FAILED: shellcheck",
      "total: 6 passed, 1 failed"]),
]


def summary_of(output):
    """The lines after "=== summary", without the time (which varies)."""
    tail = output.split("\n=== summary\n", 1)
    if len(tail) < 2:
        return None
    return [line for line in tail[1].splitlines() if line and not line.startswith("time: ")]


def run_case(source, work, markers):
    repo = os.path.join(work, "repo")
    os.makedirs(os.path.join(repo, "scripts"))
    shutil.copy(os.path.join(source, "scripts", "test"), os.path.join(repo, "scripts", "test"))
    for name, body in STUBS.items():
        path = os.path.join(repo, "scripts", name)
        with open(path, "w") as file:
            file.write("#!/usr/bin/env bash\nset -euo pipefail\n" + body)
        os.chmod(path, 0o755)
    with open(os.path.join(repo, "CMakeLists.txt"), "w") as file:
        file.write(CMAKE)
    with open(os.path.join(repo, "CMakePresets.json"), "w") as file:
        file.write(PRESETS)
    for marker in markers:
        with open(os.path.join(repo, marker), "w") as file:
            # The one marker that is a script holds what shellcheck refuses.
            file.write('#!/bin/bash\necho $1\n' if marker.endswith(".sh") else "")
    return subprocess.run(["bash", os.path.join(repo, "scripts", "test")], cwd=repo,
                          stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=300)


def main(source):
    failures = []
    for name, markers, passes, expected in CASES:
        with tempfile.TemporaryDirectory() as work:
            result = run_case(source, work, markers)
        summary = summary_of(result.stdout)
        problems = []
        if (result.returncode == 0) != passes:
            problems.append(f"exit status {result.returncode}")
        if summary is None:
            problems.append("no summary")
        else:
            problems += [f"no line {line!r}" for line in expected if line not in summary]
            if not re.fullmatch(r"total: \d+ passed, \d+ failed", summary[-1]):
                problems.append(f"last line {summary[-1]!r}")
        if problems:
            failures.append(f"{name}: {', '.join(problems)}\n  summary: {summary!r}\n"
                            f"  stderr tail: {result.stderr[-600:]!r}")
    for failure in failures:
        print("FAILED", failure)
    print(f"{len(CASES)} cases, {len(failures)} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
