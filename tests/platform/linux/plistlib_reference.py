#!/usr/bin/env python3
"""Reads property lists with CPython's plistlib, the reference of the
Info.plist differential test.

Input (the file named as the only argument): records of a 4-byte big-endian
length and that many bytes. Output: one line per record, either "ok",
the identifier, executable and package type, each as the hex digits of its
UTF-8 bytes or "-" when it is missing or not a string, and the whole tree in
the canonical form below; or "refused" and the reason; separated by tabs.

The canonical form (the test writes ours the same way): a dictionary is
"{" then "k<hex key>:<value>," per entry in byte order of the keys, then "}";
an array "[" then "<value>," per item, then "]"; a string "s<hex>"; an
integer "i<value modulo 2^64>"; a real "r<hex of its 64 IEEE bits>"; true
"t", false "f"; a date "d<whole seconds since 2001>"; data "x<hex>". In text read from XML every
CR LF and lone CR counts as a line feed, on both sides: expat turns most of
them into line feeds, Foundation and libplist keep them.
"""
import datetime
import plistlib
import struct
import sys

REFERENCE_DATE = datetime.datetime(2001, 1, 1)

KEYS = ("CFBundleIdentifier", "CFBundleExecutable", "CFBundlePackageType")


def hexed(text):
    return text.encode("utf-8", "surrogatepass").hex()


def lines(text, xml):
    return text.replace("\r\n", "\n").replace("\r", "\n") if xml else text


def canonical(value, xml):
    if isinstance(value, dict):
        items = [(lines(k, xml), v) for k, v in value.items()]
        items.sort(key=lambda item: item[0].encode("utf-8", "surrogatepass"))
        return "{" + "".join("k%s:%s," % (hexed(k), canonical(v, xml)) for k, v in items) + "}"
    if isinstance(value, list):
        return "[" + "".join(canonical(v, xml) + "," for v in value) + "]"
    if isinstance(value, str):
        return "s" + hexed(lines(value, xml))
    if isinstance(value, bool):
        return "t" if value else "f"
    if isinstance(value, int):
        return "i%d" % (value % (1 << 64))
    if isinstance(value, float):
        return "r" + struct.pack(">d", value).hex()
    if isinstance(value, datetime.datetime):
        return "d%d" % round((value.replace(tzinfo=None) - REFERENCE_DATE).total_seconds())
    if isinstance(value, bytes):
        return "x" + value.hex()
    return "?" + type(value).__name__


def read(data):
    xml = not data.startswith(b"bplist00")
    fmt = plistlib.FMT_XML if xml else plistlib.FMT_BINARY
    try:
        value = plistlib.loads(data, fmt=fmt)
    except Exception as error:  # every failure is a refusal here
        return ["refused", type(error).__name__]
    fields = [value.get(key) for key in KEYS] if isinstance(value, dict) else [None] * 3
    return ["ok"] + [hexed(f) if isinstance(f, str) else "-" for f in fields] + [canonical(value, xml)]


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
