#!/usr/bin/env python3
"""Makes the release archive of QTX, NAME.zip, and SHA256SUMS for it, for QTX.exe and for its translations.

The archive is the same to the byte whenever the same commit is built with the same tools: its entries come in a
fixed order, all dated at the build's time stamp (UTC), with fixed permissions and compression level. The text
files get Windows line ends (README.txt also a UTF-8 signature) so that Notepad shows them.

usage: make_package.py INPUTS.json OUTPUT_DIR

INPUTS.json, written by the build, names the package and its version, the source folder, the build's time-stamp
file, the configured README.txt, QTX.exe and its translations (language: file).
"""

import hashlib
import json
import os
import platform
import subprocess
import sys
import time
import zipfile
import zlib

import source_state

# What built the bytes: with these Debian packages at the versions recorded, a build of the same commit gives the
# same files.
TOOLCHAIN = [
    ("g++-mingw-w64-x86-64-posix", "compiler"),
    ("binutils-mingw-w64-x86-64", "linker, resource compiler"),
    ("mingw-w64-x86-64-dev", "Windows headers and import libraries"),
    ("libopencc-data", "OpenCC dictionaries, source of the conversion tables"),
    ("opencc", "opencc_dict, which dumps those dictionaries for the table generator"),
]
UTF8_SIGNATURE = b"\xef\xbb\xbf"
FILE_MODE = 0o100644  # a regular file, readable by all: Unix permissions, as the archive says it was made on Unix
MADE_ON_UNIX = 3


def debian_version(package):
    try:
        result = subprocess.run(["dpkg-query", "-W", "-f=${Version}", package], capture_output=True, text=True)
    except OSError:
        sys.exit("make_package: dpkg-query not found; the release is built on Debian (scripts/setup)")
    if result.returncode != 0 or not result.stdout:
        sys.exit(f"make_package: the Debian package {package} is not installed (scripts/setup installs it)")
    return result.stdout


def windows_text(data, signature=False):
    """CRLF line ends whatever the checkout's; with the UTF-8 signature if asked."""
    text = data.replace(b"\r\n", b"\n").replace(b"\n", b"\r\n")
    return UTF8_SIGNATURE + text if signature else text


def build_info(inputs, epoch):
    source = inputs["source"]
    commit_time = source_state.git(source, "log", "-1", "--format=%ct")
    origin = "the last commit's time" if commit_time == str(epoch) else "from SOURCE_DATE_EPOCH"
    stamp = time.strftime("%Y-%m-%d %H:%M:%S UTC", time.gmtime(epoch))
    lines = [
        f"QTX {inputs['version']} ({inputs['name']}.zip)",
        "",
        f"Commit:     {source_state.commit_description(source)}",
        f"Time stamp: {stamp}, SOURCE_DATE_EPOCH={epoch} ({origin})",
        "",
        "Built with scripts/package on Debian. The same commit, built with the same",
        "versions of these packages, gives the same bytes:",
        "",
    ]
    rows = [(package, debian_version(package), role) for package, role in TOOLCHAIN]
    rows.append(("(archive)", f"Python {platform.python_version()}, zlib {zlib.ZLIB_RUNTIME_VERSION}",
                 "wrote this archive"))
    name_width = max(len(row[0]) for row in rows)
    version_width = max(len(row[1]) for row in rows)
    lines += [f"  {name:<{name_width}}  {version:<{version_width}}  {role}" for name, version, role in rows]
    return "\n".join(lines).encode("ascii") + b"\n"


def read(path):
    with open(path, "rb") as f:
        return f.read()


def entries(inputs, epoch):
    """The archive's (name, bytes), in archive order."""
    source = inputs["source"]
    result = [
        ("QTX.exe", read(inputs["exe"])),
        ("README.txt", windows_text(read(inputs["readme"]), signature=True)),
        ("LICENSE.txt", windows_text(read(os.path.join(source, "LICENSE")))),
        ("THIRD-PARTY-NOTICES.txt", windows_text(read(os.path.join(source, "THIRD-PARTY-NOTICES.txt")))),
        ("BUILDINFO.txt", windows_text(build_info(inputs, epoch))),
    ]
    for language, path in sorted(inputs["translations"].items()):
        result.append((f"translations/{language}/QTX.exe.mui", read(path)))
    return result


def write_zip(path, files, epoch):
    # Zip times have no time zone and a two-second step: the UTC time is stored, so that every build agrees.
    year, month, day, hour, minute, second = time.gmtime(max(epoch, source_state.FALLBACK_EPOCH))[:6]
    date_time = (year, month, day, hour, minute, second - second % 2)
    with zipfile.ZipFile(path, "w") as archive:
        for name, data in files:
            info = zipfile.ZipInfo(name, date_time)
            info.create_system = MADE_ON_UNIX
            info.external_attr = FILE_MODE << 16
            archive.writestr(info, data, compress_type=zipfile.ZIP_DEFLATED, compresslevel=9)


def main(argv):
    if len(argv) != 3:
        sys.exit(__doc__.strip().splitlines()[-1])
    with open(argv[1], encoding="utf-8") as f:
        inputs = json.load(f)
    output = argv[2]
    with open(inputs["time_stamp_file"], encoding="ascii") as f:
        epoch = int(f.read())

    files = entries(inputs, epoch)
    os.makedirs(output, exist_ok=True)
    archive = inputs["name"] + ".zip"
    write_zip(os.path.join(output, archive), files, epoch)

    sums = [(archive, read(os.path.join(output, archive)))]
    sums += [(name, data) for name, data in files if name.endswith((".exe", ".mui"))]
    with open(os.path.join(output, "SHA256SUMS"), "w", encoding="ascii", newline="\n") as f:
        for name, data in sums:
            f.write(f"{hashlib.sha256(data).hexdigest()}  {name}\n")
    print(f"make_package: {os.path.join(output, archive)}")


if __name__ == "__main__":
    main(sys.argv)
