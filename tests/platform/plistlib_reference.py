#!/usr/bin/env python3
"""Reads property lists with CPython's plistlib, the reference of the
Info.plist differential test.

Input (the file named as the only argument): records of a 4-byte big-endian
length and that many bytes. Output: one line per record, either "ok"
and the identifier, executable and package type, each as the hex digits of
its UTF-8 bytes or "-" when it is missing or not a string, or "refused" and
the reason, separated by tabs.
"""
import plistlib
import struct
import sys

KEYS = ("CFBundleIdentifier", "CFBundleExecutable", "CFBundlePackageType")


def read(data):
    fmt = plistlib.FMT_BINARY if data.startswith(b"bplist00") else plistlib.FMT_XML
    try:
        value = plistlib.loads(data, fmt=fmt)
    except Exception as error:  # every failure is a refusal here
        return ["refused", type(error).__name__]
    if not isinstance(value, dict):
        return ["ok", "-", "-", "-"]
    fields = [value.get(key) for key in KEYS]
    return ["ok"] + [f.encode("utf-8", "surrogatepass").hex() if isinstance(f, str) else "-"
                     for f in fields]


def main():
    with open(sys.argv[1], "rb") as records:
        blob = records.read()
    out = sys.stdout
    at = 0
    while at < len(blob):
        (length,) = struct.unpack_from(">I", blob, at)
        at += 4
        out.write("\t".join(read(blob[at:at + length])) + "\n")
        at += length


if __name__ == "__main__":
    main()
