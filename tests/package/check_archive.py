#!/usr/bin/env python3
"""Makes the release archive of this build into a temporary folder and checks it: exactly the files a user should
get, in order; QTX.exe and its translation byte for byte the built ones, the tests ran on, both stamped with the
build's time stamp as is every entry; the texts as Notepad shows them; SHA256SUMS agreeing with the files.

usage: check_archive.py make_package.py INPUTS.json
"""

import hashlib
import json
import os
import struct
import subprocess
import sys
import tempfile
import time
import zipfile

ENTRIES = ["QTX.exe", "README.txt", "LICENSE.txt", "THIRD-PARTY-NOTICES.txt", "BUILDINFO.txt",
           "translations/en/QTX.exe.mui"]
failures = []


def expect(condition, message):
    if not condition:
        failures.append(message)


def pe_time_stamp(image):
    (pe_at,) = struct.unpack_from("<I", image, 0x3C)
    return struct.unpack_from("<I", image, pe_at + 8)[0]


def read(path):
    with open(path, "rb") as f:
        return f.read()


def check(inputs, folder):
    version = inputs["version"]
    archive_name = "QTX-" + ".".join(version.split(".")[:3]) + "-win64.zip"
    with open(inputs["time_stamp_file"], encoding="ascii") as f:
        epoch = int(f.read())
    built = {"QTX.exe": read(inputs["exe"]), "translations/en/QTX.exe.mui": read(inputs["translations"]["en"])}

    expect(sorted(os.listdir(folder)) == sorted([archive_name, "SHA256SUMS"]), f"output: {os.listdir(folder)}")
    with zipfile.ZipFile(os.path.join(folder, archive_name)) as archive:
        infos = archive.infolist()
        expect([i.filename for i in infos] == ENTRIES, f"entries: {[i.filename for i in infos]}")
        files = {i.filename: archive.read(i) for i in infos}
        for i in infos:
            expect(i.date_time == time.gmtime(epoch - epoch % 2)[:6], f"{i.filename}: dated {i.date_time}, not {epoch}")
            expect(i.external_attr >> 16 == 0o100644, f"{i.filename}: mode {i.external_attr >> 16:o}")
            expect(i.compress_type == zipfile.ZIP_DEFLATED, f"{i.filename}: compression {i.compress_type}")

    for name, data in built.items():
        expect(files.get(name) == data, f"{name} differs from the built one")
        expect(pe_time_stamp(data) == epoch, f"{name}: PE time stamp {pe_time_stamp(data)}, not {epoch}")
    for name in (n for n in files if n.endswith(".txt")):
        data = files[name]
        expect(data.count(b"\n") == data.count(b"\r\n") > 0, f"{name}: not CRLF line ends")
    readme = files.get("README.txt", b"")
    expect(readme.startswith(b"\xef\xbb\xbf"), "README.txt: no UTF-8 signature")
    expect(f"QTX {version}".encode() in readme and archive_name.encode() in readme, "README.txt: not this version")
    expect(b"Commit:     " in files.get("BUILDINFO.txt", b""), "BUILDINFO.txt: no commit")

    with open(os.path.join(folder, "SHA256SUMS"), encoding="ascii") as f:
        sums = f.read().splitlines()
    expected = [f"{hashlib.sha256(read(os.path.join(folder, archive_name))).hexdigest()}  {archive_name}"]
    expected += [f"{hashlib.sha256(data).hexdigest()}  {name}" for name, data in built.items()]
    expect(sums == expected, f"SHA256SUMS: {sums}")


def main(argv):
    if len(argv) != 3:
        sys.exit(__doc__.strip().splitlines()[-1])
    with open(argv[2], encoding="utf-8") as f:
        inputs = json.load(f)
    with tempfile.TemporaryDirectory() as folder:
        subprocess.run([sys.executable, argv[1], argv[2], folder], check=True, stdout=subprocess.DEVNULL)
        check(inputs, folder)
    for failure in failures:
        print(f"FAILED: {failure}")
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main(sys.argv)
