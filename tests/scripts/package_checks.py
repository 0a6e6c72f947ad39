#!/usr/bin/env python3
"""Builds the distribution twice and checks it is reproducible and well formed.

usage: package_checks.py MAKE_DIST_COMMAND... --version X.Y.Z --version-text TEXT
(the make_dist.py command line without its output folders).
"""

import os
import struct
import subprocess
import sys
import tempfile
import time
import zipfile

EPOCH = 1700000000  # 2023-11-14 22:13:20 UTC
EXPECTED_FILES = ["Licences/GCC.txt", "Licences/Korvane TV.txt", "Licences/MinGW-w64.txt",
                  "Licences/libavcodec (LGPL 2.1).txt", "Licences/libavcodec.txt",
                  "Lisez-moi.txt", "canaux.ini", "korvane-tv.exe"]

failures = []


def check(condition, message):
    if not condition:
        failures.append(message)


def build(command, root, name):
    out = os.path.join(root, name)
    env = dict(os.environ, SOURCE_DATE_EPOCH=str(EPOCH))
    subprocess.run(command + ["--out-dir", out, "--work-dir", os.path.join(root, name + "-work")],
                   check=True, env=env, stdout=subprocess.DEVNULL)
    return out


def pe_timestamp(exe):
    (pe,) = struct.unpack_from("<I", exe, 0x3C)
    check(exe[pe:pe + 4] == b"PE\0\0", "korvane-tv.exe is no PE file")
    return struct.unpack_from("<I", exe, pe + 8)[0]


def args_value(name):
    return sys.argv[sys.argv.index(name) + 1]


def library_version():
    pc = os.path.join(args_value("--libavcodec-dir"), "lib", "pkgconfig", "libavcodec.pc")
    with open(pc, encoding="utf-8") as f:
        return next(line.split(":", 1)[1].strip() for line in f if line.startswith("Version:"))


def check_zip(path, version_text):
    top = "korvane-tv-%s/" % version_text
    with zipfile.ZipFile(path) as archive:
        infos = archive.infolist()
        names = [info.filename for info in infos]
        check(names == sorted(names), "zip entries are not sorted: %s" % names)
        files = [n[len(top):] for n in names if not n.endswith("/")]
        check(all(n.startswith(top) for n in names), "entries outside %s: %s" % (top, names))
        check(files == EXPECTED_FILES, "zip holds %s" % files)
        stamp = time.gmtime(EPOCH)[:6]
        for info in infos:
            check(info.date_time == stamp, "%s is dated %s" % (info.filename, info.date_time))
            check(info.extra == b"", "%s has extra fields" % info.filename)
            check(info.create_system == 0, "%s carries Unix attributes" % info.filename)
        exe = archive.read(top + "korvane-tv.exe")
        readme = archive.read(top + "Lisez-moi.txt")
        lgpl = archive.read(top + "Licences/libavcodec (LGPL 2.1).txt").decode("utf-8-sig")
        note = archive.read(top + "Licences/libavcodec.txt").decode("utf-8-sig")
    check("GNU LESSER GENERAL PUBLIC LICENSE" in lgpl and "Version 2.1, February 1999" in lgpl,
          "the libavcodec licence is not the LGPL 2.1 text")
    source = args_value("--libavcodec-source-version")
    check("@" not in note, "the libavcodec note keeps a placeholder")
    for needed in ("libavcodec " + library_version(), "FFmpeg " + source.rsplit("-", 1)[0],
                   "version " + source, "apt-get source ffmpeg", "statiquement",
                   "scripts/build_libavcodec.sh"):
        check(needed in note, "the libavcodec note does not say %r" % needed)
    check(pe_timestamp(exe) == EPOCH, "the program's PE timestamp is not SOURCE_DATE_EPOCH")
    check(b".debug_" not in exe, "the shipped program carries debug information")
    check(readme.startswith(("\ufeffKorvane TV %s\r\n" % version_text).encode()),
          "Lisez-moi.txt does not start with a BOM and its title line")
    check(b"\n" not in readme.replace(b"\r\n", b""), "Lisez-moi.txt has bare LF line ends")


def main():
    args = sys.argv[1:]
    version_text = args[args.index("--version-text") + 1]
    with tempfile.TemporaryDirectory() as root:
        first = build(args, root, "first")
        time.sleep(1.1)  # a date taken from the clock would now differ
        second = build(args, root, "second")
        for name in ("korvane-tv-%s-win64.zip" % version_text,
                     "korvane-tv-%s-setup.exe" % version_text):
            with open(os.path.join(first, name), "rb") as a, open(os.path.join(second, name), "rb") as b:
                check(a.read() == b.read(), "%s differs between two builds" % name)
        check_zip(os.path.join(first, "korvane-tv-%s-win64.zip" % version_text), version_text)
    for failure in failures:
        print("FAIL:", failure)
    print("package checks: %d failed" % len(failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
