# SPDX-License-Identifier: GPL-2.0-or-later
"""What the command-line test scripts share: one tally of checks and its
summary line (which ctest's log is read by), a scratch folder, a tiny image."""
import os
import struct
import tempfile
import zlib

failures = []
_count = 0


def check(ok, message):
    """Counts one check; a failed one keeps its message for the summary."""
    global _count
    _count += 1
    if not ok:
        failures.append(message)
    return ok


def report():
    """Prints the failures and the tally; returns the script's exit code."""
    for message in failures:
        print("FAIL:", message)
    print("%d passed, %d failed" % (_count - len(failures), len(failures)))
    return 1 if failures else 0


def run_parts(parts):
    """Runs each part of a test; one that raises is a failure with its reason,
    and the parts after it still run, so every failure shows."""
    for part in parts:
        try:
            part()
        except Exception as e:
            check(False, "%s: %r" % (getattr(part, "__name__", part), e))


def as_nobody():
    """subprocess arguments that run a child as nobody when the test runs as
    root, whose rights would pass every permission check under test."""
    if os.geteuid() != 0:
        return {}

    def drop():
        os.setgid(65534)
        os.setuid(65534)
    return {"preexec_fn": drop}


class Scratch:
    """A private folder of files a test writes, readable by a server started
    as another user (DokuWiki's PHP reads the media from it)."""

    def __init__(self, prefix):
        self.root = tempfile.mkdtemp(prefix=prefix)
        os.chmod(self.root, 0o755)

    def path(self, *names):
        return os.path.join(self.root, *names)

    def write(self, name, data):
        p = self.path(name)
        os.makedirs(os.path.dirname(p), exist_ok=True)
        with open(p, "wb") as f:
            f.write(data if isinstance(data, bytes) else data.encode())
        return p


def tiny_png():
    """A 1x1 image that a wiki takes for one."""

    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data
                + struct.pack(">I", zlib.crc32(kind + data)))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", 1, 1, 8, 0, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(b"\0\0")) + chunk(b"IEND", b""))
