#!/usr/bin/env python3
"""QTX against a careful Python script on the same small files, in one run.

Makes each tree once, then for every measurement an identical copy of it:
  QTX      walk_bench under Wine converting the copy in one Folder-mode request (Simplified GB2312 to
           Traditional Big5: decode, map the script, encode, safe rewrite with its checks);
  Python   one Python process that, per file, reads it, decodes and encodes it with Python's codecs
           (errors="replace", no script mapping, so it does less), writes a temporary file beside it,
           fsyncs it and renames it over the original;
  floor    walk_bench doing only the fewest platform calls a safe rewrite needs under Wine (open, read,
           new file beside it, write, flush, ReplaceFileW), around the same conversion;
  lookup   walk_bench looking up one missing name per file: Wine reads the whole folder for each new
           name, so this is what each name created costs there.
Rows: 10,000 files of 256 B to 4 KiB in 100 folders; 10,000 files of 2 KiB in one folder against the
same files in 100 folders of 100. Each figure is the median of --runs runs (3), the methods taking turns.
Finally walk_bench's own run (small files and one 64 MiB file against its floor) unless --no-walk-bench.

usage: bench/compare_python.py [--build build] [--runs 3] [--parent /tmp] [--no-walk-bench]
"""

import argparse
import os
import random
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def gb2312_text(rng, size):
    """GB2312 text of `size` bytes: level-1 hanzi, some ASCII, line ends (as bench_support's Gb2312Text)."""
    out = bytearray()
    while len(out) + 2 <= size:
        roll = rng.randrange(100)
        if roll < 4:
            out += b"\r\n"
        elif roll < 12:
            out += rng.choice(b" ,.abcxyz").to_bytes(1, "little")
        else:
            lead = 0xB0 + rng.randrange(40)
            out += bytes((lead, 0xA1 + rng.randrange(89 if lead == 0xD7 else 94)))
    return bytes(out.ljust(size, b" "))


def make_tree(root, folders, per_folder, size_of, seed):
    rng = random.Random(seed)
    for d in range(folders):
        folder = os.path.join(root, "d%03d" % d) if folders > 1 else root
        os.makedirs(folder, exist_ok=True)
        for f in range(per_folder):
            with open(os.path.join(folder, "f%05d.txt" % f), "wb") as out:
                out.write(gb2312_text(rng, size_of(rng)))


def tree_files(root):
    return sorted(os.path.join(d, n) for d, _, names in os.walk(root) for n in names)


def python_rewrite(root):
    """The durable rewrite, timed as one process would run it over the tree."""
    start = time.perf_counter()
    for folder, _, names in os.walk(root):
        for name in names:
            path = os.path.join(folder, name)
            with open(path, "rb") as source:
                data = source.read()
            out = data.decode("gb2312", errors="replace").encode("big5", errors="replace")
            temp = os.path.join(folder, "." + name + ".tmp")
            fd = os.open(temp, os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o644)
            try:
                view = memoryview(out)
                while view:
                    view = view[os.write(fd, view):]
                os.fsync(fd)
            finally:
                os.close(fd)
            os.replace(temp, path)
    return time.perf_counter() - start


def settle():
    """Lets the disk finish what came before (thousands of files just written or deleted) before a
    measurement starts."""
    subprocess.run(["sync"], check=True)
    time.sleep(1)


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def walk_bench(build, method, root):
    """Runs one walk_bench measurement under Wine; returns the seconds it measured."""
    result = root + ".result"
    subprocess.run(
        [os.path.join(REPO, "tests", "wine-run.sh"), os.path.join(build, "wineprefix"),
         os.path.join(build, "bench", "walk_bench.exe"), "--measure", method, "tree",
         windows_path(root), windows_path(result)],
        check=True, stdout=subprocess.DEVNULL)
    with open(result) as figures:
        seconds = float(figures.read().split()[0])
    os.remove(result)
    return seconds


def check(method, source, copy):
    """Every file is still there, nothing else is, and each changed as its method changes it."""
    before, after = tree_files(source), tree_files(copy)
    relative = lambda paths, root: [os.path.relpath(p, root) for p in paths]
    if relative(before, source) != relative(after, copy):
        return "files lost or left over"
    for old_path, new_path in zip(before, after):
        old = open(old_path, "rb").read()
        new = open(new_path, "rb").read()
        if method == "lookup":
            ok = new == old
        elif method == "python":
            ok = new == old.decode("gb2312", errors="replace").encode("big5", errors="replace")
        else:  # QTX and the floor map the script too: the text must read back as Big5 of the same length
            ok = new != old and len(new.decode("cp950")) == len(old.decode("gb2312"))
        if not ok:
            return "wrong content: " + new_path
    return None


ROWS = [
    ("10,000 files of 256 B to 4 KiB, 100 folders of 100", "small", (100, 100, lambda r: 256 + r.randrange(3841)),
     ["qtx", "python"]),
    ("10,000 files of 2 KiB in 100 folders of 100", "spread", (100, 100, lambda r: 2048),
     ["qtx", "python", "floor", "lookup"]),
    ("10,000 files of 2 KiB in one folder", "one", (1, 10000, lambda r: 2048), ["qtx", "python", "floor", "lookup"]),
]
NAMES = {"qtx": "QTX", "python": "Python durable rewrite", "floor": "safe-rewrite floor", "lookup": "missing-name lookup"}


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--build", default=os.path.join(REPO, "build"))
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--parent", default=tempfile.gettempdir())
    parser.add_argument("--no-walk-bench", action="store_true")
    parser.add_argument("--rows", default="small,spread,one", help="rows to run, by key")
    args = parser.parse_args()
    build = os.path.abspath(args.build)
    base = tempfile.mkdtemp(prefix="qtx-compare-", dir=args.parent)
    wanted = args.rows.split(",")
    rows = [row for row in ROWS if row[1] in wanted]
    failures = 0
    try:
        with open("/proc/cpuinfo") as cpu:
            model = next((l.split(":", 1)[1].strip() for l in cpu if l.startswith("model name")), "?")
        print("QTX against a durable Python rewrite, %d runs each, median; %d cores, %s; load %s" %
              (args.runs, os.cpu_count(), model, " ".join("%.2f" % l for l in os.getloadavg())))
        seconds = {}
        for title, key, (folders, per_folder, size_of), methods in rows:
            make_tree(os.path.join(base, key), folders, per_folder, size_of, seed=20241208)
        for run in range(args.runs):
            for title, key, _, methods in rows:
                source = os.path.join(base, key)
                copies = {method: os.path.join(base, "%s-%s" % (key, method)) for method in methods}
                for copy in copies.values():
                    shutil.copytree(source, copy)
                # Each run starts with another method, so that none always comes first.
                for method in methods[run % len(methods):] + methods[:run % len(methods)]:
                    settle()
                    if method == "python":
                        took = python_rewrite(copies[method])
                    else:
                        took = walk_bench(build, {"floor": "safe-floor"}.get(method, method), copies[method])
                    problem = check(method, source, copies[method])
                    if problem:
                        failures += 1
                        print("  %s, %s: %s" % (key, method, problem))
                    seconds.setdefault((key, method), []).append(took)
                for copy in copies.values():
                    shutil.rmtree(copy)
            print("  run %d done, load %.2f" % (run + 1, os.getloadavg()[0]), file=sys.stderr)

        rate = lambda key, method: 10000 / statistics.median(seconds[(key, method)])
        for title, key, _, methods in rows:
            print("\n%s" % title)
            print("  %-24s %9s %10s   %s" % ("", "seconds", "files/s", "runs (s)"))
            for method in methods:
                runs = seconds[(key, method)]
                print("  %-24s %9.2f %10.0f   %s" % (NAMES[method], statistics.median(runs), rate(key, method),
                                                      " ".join("%.2f" % s for s in runs)))
            print("  QTX: %.2fx the Python rewrite's files per second" % (rate(key, "qtx") / rate(key, "python")))
        if "spread" in wanted and "one" in wanted:
            print("\nscaling: files per second in one folder of 10,000 / in 100 folders of 100")
            for method in ["qtx", "python", "floor"]:
                print("  %-24s %.2f" % (NAMES[method], rate("one", method) / rate("spread", method)))
            for key in ["spread", "one"]:
                print("  one missing-name lookup, %-16s %.3f ms" %
                      ("100 files a folder:" if key == "spread" else "10,000 a folder:",
                       statistics.median(seconds[(key, "lookup")]) / 10000 * 1000))
        print("\nchecks: %s" % ("every file converted as expected, nothing lost or left over" if failures == 0
                                else "%d FAILED" % failures))
    finally:
        shutil.rmtree(base, ignore_errors=True)
    if not args.no_walk_bench:
        print("\nwalk_bench:", flush=True)
        subprocess.run([os.path.join(REPO, "tests", "wine-run.sh"), os.path.join(build, "wineprefix"),
                        os.path.join(build, "bench", "walk_bench.exe")], check=True)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
