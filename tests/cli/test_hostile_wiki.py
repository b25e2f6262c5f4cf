# SPDX-License-Identifier: GPL-2.0-or-later
"""A wiki that attacks its client (hostile_wiki.py): every answer is refused
cleanly, in bounded time and memory, or a lost answer is recovered.

Usage: test_hostile_wiki.py TAMSEL_CLI

Prints the time and peak memory of every attack.
"""
import os
import shutil
import subprocess
import sys
import tempfile
import threading
import time

import hostile_wiki
from checks import check, report  # noqa: E402

CLI = sys.argv[1]
# Generous bounds: a hang or an unbounded answer is far beyond them.
SECONDS = 60
MEGABYTES = 700


def run(args):
    """(exit code, stderr, seconds, peak memory in MB) of one run."""
    env = dict(os.environ, TAMSEL_WIKI_PASSWORD="secret")
    start = time.time()
    process = subprocess.Popen([CLI] + args, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                               stderr=subprocess.PIPE, env=env)
    # Read as it comes, so that a flood of messages cannot block the tool; a
    # hang is ended after three minutes.
    timer = threading.Timer(180, process.kill)
    timer.start()
    stderr = b""
    while True:
        chunk = process.stderr.read1(65536)
        if not chunk:
            break
        stderr += chunk[:100000 - len(stderr)]
    timer.cancel()
    _, status, usage = os.wait4(process.pid, 0)
    process.returncode = os.waitstatus_to_exitcode(status)
    return (process.returncode, stderr.decode("utf-8", "replace"), time.time() - start,
            usage.ru_maxrss // 1024)


def attack(name, wiki, args, expect, code=1):
    result, stderr, seconds, megabytes = run(args)
    print("%-28s exit %d, %5.1f s, %4d MB: %s" % (name, result, seconds, megabytes,
                                                   stderr.strip().splitlines()[-1:]))
    check(result == code and all(e in stderr for e in expect) and seconds < SECONDS
          and megabytes < MEGABYTES,
          "%s: exit %d in %.1f s, %d MB: %s" % (name, result, seconds, megabytes, stderr[-1500:]))
    return stderr


def main():
    work = tempfile.mkdtemp(prefix="tamsel-hostile-wiki-")
    try:
        page = os.path.join(work, "one.html")
        with open(page, "w") as f:
            f.write("<p>A page.</p>")
        site = os.path.join(work, "site")
        os.makedirs(site)
        with open(os.path.join(site, "index.html"), "w") as f:
            f.write('<p>Text and a picture: <img src="pic.png"></p>')
        with open(os.path.join(site, "pic.png"), "wb") as f:
            f.write(b"\x89PNG\r\n\x1a\n" + os.urandom(5000))

        def one(wiki, *extra):
            return [page, "--wiki", wiki.url, "--user", "tester", "--page", "x"] + list(extra)

        def whole(wiki):
            return ["--site", site, "--wiki", wiki.url, "--user", "tester", "--jobs", "1"]

        cases = [
            ("gzip bomb (1 GiB)", "gzip-bomb", "dokuwiki.getXMLRPCAPIVersion", None, one,
             ["answer grew past 16 MiB"]),
            ("gzip bomb in a page's text", "gzip-bomb", "wiki.getPage", None, one,
             ["cannot write page :x", "answer grew past 16 MiB"]),
            ("huge answer (200 MB)", "huge", "dokuwiki.getXMLRPCAPIVersion", 200 << 20, one,
             ["answer grew past 16 MiB"]),
            ("huge answer (1 GiB)", "huge", "dokuwiki.login", 1 << 30, one,
             ["answer grew past 16 MiB"]),
            ("billion laughs", "laughs", "dokuwiki.getXMLRPCAPIVersion", None, one,
             ["declares entities"]),
            ("billion laughs in a fault", "laughs", "wiki.putPage", None, one,
             ["cannot write page :x", "declares entities"]),
        ]
        for name, mode, at, size, args, expect in cases:
            wiki = hostile_wiki.HostileWiki(mode, at, size)
            if at == "wiki.getPage":
                wiki.pages["x"] = "An older text\n"
            try:
                attack(name, wiki, args(wiki), expect)
            finally:
                wiki.close()

        # 4 bytes a second: --timeout 3 allows a request 11 s in all.
        wiki = hostile_wiki.HostileWiki("trickle", "dokuwiki.login")
        try:
            attack("trickle, --timeout 3", wiki, one(wiki, "--timeout", "3"),
                   ["no whole answer within 11 s"])
        finally:
            wiki.close()

        # A fault text with C1 controls (the CSI of a terminal) shows escaped,
        # for one document as for a site.
        wiki = hostile_wiki.HostileWiki("fault", "wiki.putPage")
        try:
            for how, args in (("one document", one(wiki)), ("site", whole(wiki))):
                stderr = attack("control codes in a fault, " + how, wiki, args,
                                ["\\xc2\\x9b2J"])
                check(not any(0x80 <= ord(c) < 0xA0 or c == "\x1b" for c in stderr),
                      "control characters reach the terminal (%s): %r" % (how, stderr))
        finally:
            wiki.close()

        # Answers lost after the wiki saved the write: once (libcurl repeats
        # the request on a fresh connection by itself), twice (read back
        # before sending again), and always (read back finds it each time).
        for at, lost in (("wiki.putPage", 1), ("wiki.putPage", 2), ("wiki.putAttachment", 1),
                         ("wiki.putAttachment", 2), ("wiki.putAttachment", 99)):
            wiki = hostile_wiki.HostileWiki("lost", at, lost)
            try:
                name = "%d lost answer%s of %s" % (lost, "s" if lost > 1 else "", at)
                stderr = attack(name, wiki, whole(wiki),
                                ["1 pages written", "1 media files uploaded", "0 files failed"],
                                code=0)
                check(list(wiki.pages) == ["start"] and list(wiki.media) == ["pic.png"]
                      and wiki.calls.count(at) <= 2,
                      "%s: %s %s %s" % (name, list(wiki.pages), list(wiki.media), wiki.calls))
            finally:
                wiki.close()
    finally:
        shutil.rmtree(work, ignore_errors=True)
    return report()


if __name__ == "__main__":
    sys.exit(main())
