#!/usr/bin/env python3
"""The state of the source tree that a release records: its commit, whether it has uncommitted changes, and the
time stamp that the build writes into QTX.exe, its translations and the archive.

The time stamp is SOURCE_DATE_EPOCH from the environment if set, else the time of the last commit, in seconds
since 1970 (UTC); never the clock, so that two builds of one commit give the same bytes. Run as a program, this
writes the time stamp to OUTPUT, rewriting it only when it changes, so that only a new time relinks.

usage: source_state.py SOURCE_DIR OUTPUT
"""

import os
import subprocess
import sys

# Used when the tree is not a git checkout and SOURCE_DATE_EPOCH is not set: the earliest time a zip entry holds.
FALLBACK_EPOCH = 315532800  # 1980-01-01 00:00:00 UTC


def git(source, *args):
    """Output of a git command in the source tree, or None when there is no git or no repository."""
    try:
        # The tree may belong to another user (a CI checkout read as root); these commands only read it.
        result = subprocess.run(["git", "-c", "safe.directory=*", "-C", source, *args],
                                capture_output=True, text=True, check=False)
    except OSError:
        return None
    return result.stdout.strip() if result.returncode == 0 else None


def source_date_epoch(source):
    """The build's time stamp and where it comes from."""
    value = os.environ.get("SOURCE_DATE_EPOCH")
    if value:
        if not value.isdigit():
            sys.exit(f"SOURCE_DATE_EPOCH must be a number of seconds, not {value!r}")
        return int(value), "SOURCE_DATE_EPOCH"
    commit_time = git(source, "log", "-1", "--format=%ct")
    if commit_time:
        return int(commit_time), "the last commit's time"
    return FALLBACK_EPOCH, "no commit found; a fixed time"


def commit_description(source):
    """'<sha>', '<sha> (modified)' when the tree differs from it, or why there is none."""
    sha = git(source, "rev-parse", "HEAD")
    if not sha:
        return "unknown (not built from a git checkout)"
    # Changes to tracked files only: build folders and other untracked files do not go into the program.
    status = git(source, "status", "--porcelain", "--untracked-files=no")
    if status is None:
        return f"{sha} (unknown whether modified)"
    return f"{sha} (modified)" if status else sha


def main(argv):
    if len(argv) != 3:
        sys.exit(__doc__.strip().splitlines()[-1])
    source, output = argv[1], argv[2]
    epoch, origin = source_date_epoch(source)
    text = f"{epoch}\n"
    try:
        with open(output, encoding="ascii") as f:
            if f.read() == text:
                return
    except FileNotFoundError:
        pass
    if origin.startswith("no commit"):
        print(f"source_state: {origin} ({epoch}) for the time stamps of the build", file=sys.stderr)
    with open(output, "w", encoding="ascii") as f:
        f.write(text)


if __name__ == "__main__":
    main(sys.argv)
