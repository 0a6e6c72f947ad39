#!/usr/bin/env python3
"""Builds the Windows distribution from a built program: the per-user installer (NSIS) and
the portable zip, both from one staging folder and both reproducible.

Every date that ends up in an output is SOURCE_DATE_EPOCH (from the environment, else the
time of the checked-out commit), so two builds of the same commit give the same bytes.
"""

import argparse
import os
import shutil
import subprocess
import sys
import time
import zipfile

# The program's own licence, then the statically linked runtimes' licence texts, as the
# toolchain's Debian packages give them; the first is the installer's licence page.
PROGRAM_LICENCE = "Korvane TV.txt"
LICENCES = {
    "MinGW-w64.txt": "/usr/share/doc/mingw-w64-x86-64-dev/copyright",
    "GCC.txt": "/usr/share/doc/g++-mingw-w64-x86-64-posix/copyright",
}
# The subtitle decoder's libavcodec, linked statically: its licence text from the cached build
# and a note saying what it is and where its source comes from.
LIBAVCODEC_LICENCE = "libavcodec (LGPL 2.1).txt"
LIBAVCODEC_NOTE = "libavcodec.txt"
ZIP_EPOCH_MIN = 315532800  # 1980-01-01, the earliest date a zip entry can hold


def source_date_epoch(source_dir):
    if os.environ.get("SOURCE_DATE_EPOCH"):
        return int(os.environ["SOURCE_DATE_EPOCH"])
    try:
        out = subprocess.run(["git", "-C", source_dir, "log", "-1", "--format=%ct"],
                             capture_output=True, text=True, check=True).stdout.strip()
        return int(out)
    except (OSError, subprocess.CalledProcessError, ValueError):
        # A source tree without its history: its top file's date is the next best fixed point.
        return int(os.stat(os.path.join(source_dir, "CMakeLists.txt")).st_mtime)


def windows_text(text):
    """Notepad-friendly: UTF-8 with a byte order mark and CRLF line ends."""
    return b"\xef\xbb\xbf" + text.replace("\r\n", "\n").replace("\n", "\r\n").encode("utf-8")


def stage(args, epoch, folder):
    """Fills the folder with what is shipped; returns the relative paths, sorted."""
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(os.path.join(folder, "Licences"))
    exe = os.path.join(folder, "korvane-tv.exe")
    # The debug information holds build paths and is of no use to users; strip writes a new
    # PE timestamp, which it takes from SOURCE_DATE_EPOCH.
    subprocess.run([args.strip, "-o", exe, args.exe], check=True,
                   env=dict(os.environ, SOURCE_DATE_EPOCH=str(epoch)))
    shutil.copyfile(os.path.join(args.source_dir, "data", "canaux.ini"),
                    os.path.join(folder, "canaux.ini"))
    with open(os.path.join(args.source_dir, "packaging", "Lisez-moi.txt"), encoding="utf-8") as f:
        readme = f.read().replace("@VERSION@", args.version_text)
    with open(os.path.join(folder, "Lisez-moi.txt"), "wb") as f:
        f.write(windows_text(readme))
    licences = {PROGRAM_LICENCE: os.path.join(args.source_dir, "LICENSE"), **LICENCES}
    for name, path in licences.items():
        with open(path, encoding="utf-8") as f:
            text = f.read()
        with open(os.path.join(folder, "Licences", name), "wb") as f:
            f.write(windows_text(text))

    stage_libavcodec(args, os.path.join(folder, "Licences"))

    files = []
    for root, _, names in os.walk(folder):
        for name in names:
            path = os.path.join(root, name)
            os.chmod(path, 0o644)
            os.utime(path, (epoch, epoch))
            files.append(os.path.relpath(path, folder).replace(os.sep, "/"))
    return sorted(files)


def library_version(prefix):
    """The version pkg-config gives for the built libavcodec (major.minor.micro)."""
    with open(os.path.join(prefix, "lib", "pkgconfig", "libavcodec.pc"), encoding="utf-8") as f:
        for line in f:
            if line.startswith("Version:"):
                return line.split(":", 1)[1].strip()
    raise OSError("no version in libavcodec.pc of %s" % prefix)


def stage_libavcodec(args, licences):
    with open(os.path.join(args.libavcodec_dir, "COPYING.LGPLv2.1"), encoding="utf-8") as f:
        licence = f.read()
    with open(os.path.join(licences, LIBAVCODEC_LICENCE), "wb") as f:
        f.write(windows_text(licence))
    with open(os.path.join(args.source_dir, "packaging", LIBAVCODEC_NOTE), encoding="utf-8") as f:
        note = f.read()
    # Debian's version is upstream's, then the Debian revision after the last hyphen.
    source = args.libavcodec_source_version
    note = (note.replace("@LIBAVCODEC_VERSION@", library_version(args.libavcodec_dir))
            .replace("@FFMPEG_VERSION@", source.rsplit("-", 1)[0])
            .replace("@SOURCE_VERSION@", source))
    with open(os.path.join(licences, LIBAVCODEC_NOTE), "wb") as f:
        f.write(windows_text(note))


def write_zip(path, top, folder, files, epoch):
    """Sorted entries, one fixed date, DOS attributes only, no extra fields."""
    date = time.gmtime(max(epoch, ZIP_EPOCH_MIN))[:6]
    dirs = sorted({top + "/"} | {f"{top}/{os.path.dirname(f)}/" for f in files if "/" in f})
    entries = sorted(dirs + [f"{top}/{f}" for f in files])
    tmp = path + ".tmp"
    with zipfile.ZipFile(tmp, "w") as archive:
        for name in entries:
            info = zipfile.ZipInfo(name, date_time=date)
            info.create_system = 0
            if name.endswith("/"):
                info.external_attr = 0x10  # directory
                archive.writestr(info, b"")
                continue
            info.external_attr = 0x20  # archive bit, as Windows sets it
            info.compress_type = zipfile.ZIP_DEFLATED
            with open(os.path.join(folder, name[len(top) + 1:]), "rb") as f:
                archive.writestr(info, f.read(), compresslevel=9)
    os.replace(tmp, path)


def write_file_list(path, folder, files):
    """The installer's INSTALL_FILES and REMOVE_FILES macros, from the staged files."""

    def windows(relative):
        return "$INSTDIR" + "".join("\\" + part for part in relative.split("/") if part)

    lines = ["!macro INSTALL_FILES"]
    current = None
    for name in files:
        if os.path.dirname(name) != current:
            current = os.path.dirname(name)
            lines.append('    SetOutPath "%s"' % windows(current))
        lines.append('    File "%s"' % os.path.join(folder, name))
    lines.append("!macroend")
    lines.append("!macro REMOVE_FILES")
    lines += ['    Delete "%s"' % windows(name) for name in files]
    subfolders = sorted({os.path.dirname(name) for name in files} - {""}, reverse=True)
    lines += ['    RMDir "%s"' % windows(sub) for sub in subfolders]
    lines.append("!macroend")
    with open(path, "w", encoding="utf-8") as f:
        f.write("\n".join(lines) + "\n")


def write_installer(args, path, file_list, licence):
    major, minor, patch = args.version.split(".")
    defines = {
        "VERSION_TEXT": args.version_text, "VERSION_MAJOR": major, "VERSION_MINOR": minor,
        "VERSION_PATCH": patch, "PUBLISHER": args.publisher, "FILE_LIST": file_list,
        "LEGAL_COPYRIGHT": args.legal_copyright, "LICENCE_FILE": licence,
        "ICON": os.path.join(args.source_dir, "src", "res", "korvane.ico"), "OUT_FILE": path,
    }
    command = [args.makensis, "-V2", "-WX", "-INPUTCHARSET", "UTF8"]
    command += ["-D%s=%s" % item for item in defines.items()]
    command.append(os.path.join(args.source_dir, "packaging", "korvane-tv.nsi"))
    subprocess.run(command, check=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--source-dir", required=True)
    parser.add_argument("--exe", required=True, help="the built korvane-tv.exe")
    parser.add_argument("--strip", default="x86_64-w64-mingw32-strip")
    parser.add_argument("--makensis", default="makensis")
    parser.add_argument("--version", required=True, help="major.minor.patch")
    parser.add_argument("--version-text", required=True, help="the version users read")
    parser.add_argument("--publisher", required=True)
    parser.add_argument("--legal-copyright", required=True, help="with the licence's identifier")
    parser.add_argument("--libavcodec-dir", required=True,
                        help="the subtitle decoder's libavcodec build (with COPYING.LGPLv2.1)")
    parser.add_argument("--libavcodec-source-version", required=True,
                        help="the Debian ffmpeg source package it was built from")
    parser.add_argument("--out-dir", required=True)
    parser.add_argument("--work-dir", required=True)
    parser.add_argument("--no-zip", action="store_true")
    args = parser.parse_args()
    # makensis works from the script's folder.
    for name in ("source_dir", "exe", "libavcodec_dir", "out_dir", "work_dir"):
        setattr(args, name, os.path.abspath(getattr(args, name)))

    epoch = source_date_epoch(args.source_dir)
    os.makedirs(args.out_dir, exist_ok=True)
    folder = os.path.join(args.work_dir, "stage")
    files = stage(args, epoch, folder)
    base = "korvane-tv-" + args.version_text
    outputs = []
    if not args.no_zip:
        outputs.append(os.path.join(args.out_dir, base + "-win64.zip"))
        write_zip(outputs[-1], base, folder, files, epoch)
    file_list = os.path.join(args.work_dir, "files.nsh")
    write_file_list(file_list, folder, files)
    outputs.append(os.path.join(args.out_dir, base + "-setup.exe"))
    write_installer(args, outputs[-1], file_list,
                    os.path.join(folder, "Licences", PROGRAM_LICENCE))
    for path in outputs:
        print("%s: %d bytes" % (path, os.path.getsize(path)))
    return 0


if __name__ == "__main__":
    try:
        sys.exit(main())
    except (OSError, subprocess.CalledProcessError) as error:
        sys.exit("make_dist: %s" % error)
