# SPDX-License-Identifier: GPL-2.0-or-later
"""tamsel-cli against hostile trees and odd outputs: nothing leaks, nothing is
replaced that was not asked for, nothing hangs.

Usage: test_safety.py TAMSEL_CLI

Real files, real symbolic links, a FIFO, a sparse file of gigabytes, a run
killed in the middle, a read-only folder (as an unprivileged user when run as
root, whom permissions do not stop).
"""
import os
import shutil
import signal
import stat
import subprocess
import sys
import threading
import time
import checks  # noqa: E402
from checks import check, report  # noqa: E402

CLI = sys.argv[1]
SCRATCH = checks.Scratch("tamsel-safety-")
WORK, path, write = SCRATCH.root, SCRATCH.path, SCRATCH.write


def run(args, stdin=b"", **kw):
    return subprocess.run([CLI] + args, input=stdin, capture_output=True, timeout=120, **kw)


def tree(root):
    return sorted(os.path.relpath(os.path.join(d, f), root)
                  for d, _, files in os.walk(root) for f in files)


def everything_written(root):
    out = b""
    for name in tree(root):
        with open(os.path.join(root, name), "rb") as f:
            out += f.read()
    return out


def test_nothing_outside_the_source():
    write("s1/index.html", "<p><a href='passwd.html'>p</a> <img src='env.png'> "
                           "<img src='/etc/hostname'> <a href='../../../etc/passwd'>up</a> "
                           "<a href='etc/passwd'>e</a></p>")
    os.symlink("/etc/passwd", path("s1/passwd.html"))
    os.symlink("/proc/self/environ", path("s1/env.png"))
    os.symlink("/etc", path("s1/etc"))
    os.symlink(path("s1/index.html"), path("s1/inside.html"))  # stays inside: allowed
    r = run(["--site", path("s1"), "--out", path("o1/pages"), "--media", path("o1/media"), "-v"])
    err = r.stderr.decode()
    check(r.returncode == 0, "outside links: exit %d %s" % (r.returncode, err))
    for name in ("passwd.html", "env.png", "etc"):
        check("%s: skipped, a symbolic link to" % name in err and "outside the source" in err,
              "no note for " + name + ": " + err)
    written = tree(path("o1"))
    check(written == ["pages/inside.txt", "pages/start.txt"], "written: %s" % written)
    data = everything_written(path("o1"))
    check(b"root:" not in data and b"PATH=" not in data, "a file from outside leaked")


def test_output_of_one_document():
    page = write("one.html", "<p>text</p>")
    r = run(["-o", "/dev/null", page])
    check(r.returncode == 0 and stat.S_ISCHR(os.stat("/dev/null").st_mode),
          "-o /dev/null: %d, still a device: %s" % (r.returncode,
                                                    stat.S_ISCHR(os.stat("/dev/null").st_mode)))
    write("target.txt", "old")
    os.symlink("target.txt", path("link.txt"))
    r = run(["-o", path("link.txt"), page])
    check(r.returncode == 0 and os.path.islink(path("link.txt"))
          and open(path("target.txt")).read() == "text\n",
          "-o through a symbolic link: %d %s" % (r.returncode, r.stderr))
    fifo = path("fifo")
    os.mkfifo(fifo)
    got = []
    reader = threading.Thread(target=lambda: got.append(open(fifo, "rb").read()))
    reader.start()
    r = run(["-o", fifo, page])
    reader.join(30)
    check(r.returncode == 0 and got == [b"text\n"] and stat.S_ISFIFO(os.stat(fifo).st_mode),
          "-o FIFO: %d %r" % (r.returncode, got))
    r = subprocess.run(["sh", "-c", 'exec >&-; exec "$0" "$1"', CLI, page], capture_output=True,
                       timeout=60)
    check(r.returncode == 1 and b"cannot write standard output: it is closed" in r.stderr,
          "stdout closed: %d %r" % (r.returncode, r.stderr))
    r = run(["-o", path(), page])
    check(r.returncode == 1 and b"is a directory" in r.stderr, "-o a folder: %r" % r.stderr)


def test_bounded_reading():
    start = time.monotonic()
    r = run(["/dev/zero"])
    check(r.returncode == 1 and b"larger than the 64 MiB limit" in r.stderr,
          "/dev/zero: %d %r" % (r.returncode, r.stderr[-300:]))
    os.makedirs(path("s2"))
    with open(path("s2/huge.html"), "wb") as f:
        f.truncate(3 << 30)
    with open(path("s2/huge.png"), "wb") as f:
        f.truncate(2 << 30)
    write("s2/ok.html", "<p><img src='huge.png'> fine</p>")
    r = run(["--site", path("s2"), "--out", path("o2/pages"), "--media", path("o2/media")])
    err = r.stderr.decode()
    check(r.returncode == 1 and "huge.html: cannot read: larger than the 64 MiB limit" in err
          and "huge.png: not copied: larger than the 1 GiB limit for media files" in err
          and "1 pages written" in err,
          "sparse giants: %d %s" % (r.returncode, err))
    check(tree(path("o2")) == ["pages/ok.txt"], "sparse giants wrote %s" % tree(path("o2")))
    check(time.monotonic() - start < 60, "bounded reading took %.0f s" % (time.monotonic() - start))


def test_closed_standard_error():
    write("s3/a.html", '<meta charset="x-klingon"><p>a</p>')
    write("s3/b.html", "<p><a href='missing.html'>m</a></p>")
    r = subprocess.run(["sh", "-c", 'exec 2>&-; exec "$0" --site "$1" --out "$2" -v --jobs 2',
                        CLI, path("s3"), path("o3")], capture_output=True, timeout=60)
    check(r.returncode == 0, "stderr closed: exit %d" % r.returncode)
    data = everything_written(path("o3"))
    check(b"tamsel-cli" not in data and data == b"a\n[[:missing|m]]\n",
          "a message went into a page: %r" % data)


def test_names_are_escaped():
    write("s4/fine.html", "<p>x</p>")
    os.symlink("nowhere", path("s4", "evil\n1 pages written, 0 files failed\x1b[2K.html"))
    r = run(["--site", path("s4"), "--out", path("o4")])
    err = r.stderr.decode()
    check(r.returncode == 1 and "evil\\n1 pages written, 0 files failed\\x1b[2K.html: cannot read"
          in err and "\x1b" not in err and err.count("\n") == 2, "escaped names: %r" % err)


def test_killed_run_leaves_nothing():
    write("s5/a.html", "<p><img src='big.png'></p>")
    with open(path("s5/big.png"), "wb") as f:
        f.truncate(768 << 20)
    media = path("o5/media")
    os.makedirs(media)
    # What a run killed earlier left: the next run removes it.
    write("o5/media/.tamsel-999999999-7.tmp", "half a file")
    proc = subprocess.Popen([CLI, "--site", path("s5"), "--out", path("o5/pages"), "--media", media],
                            stderr=subprocess.PIPE)
    seen = False
    deadline = time.monotonic() + 60
    while proc.poll() is None and time.monotonic() < deadline:
        if any(n.startswith(".tamsel-") and "999999999" not in n for n in os.listdir(media)):
            seen = True
            proc.send_signal(signal.SIGTERM)
            break
        time.sleep(0.001)
    proc.wait(60)
    err = proc.stderr.read().decode()
    check(seen, "no temporary file seen while copying (%d): %s" % (proc.returncode, err))
    if seen:
        check(proc.returncode == -signal.SIGTERM, "killed run exit %d" % proc.returncode)
    check(os.listdir(media) == [], "left in media: %s" % os.listdir(media))
    check(all(len(n) < 40 for n in os.listdir(media)), "temporary name too long")


def test_read_only_folder():
    write("s6/ok.html", "<p>ok</p>")
    write("s6/ro/page.html", "<p>ro</p>")
    out = path("o6")
    os.makedirs(path("o6/ro"))
    os.chmod(out, 0o777)
    os.chmod(path("o6/ro"), 0o555)
    as_user = checks.as_nobody()
    r = run(["--site", path("s6"), "--out", out], **as_user)
    err = r.stderr.decode()
    check(r.returncode == 1 and "ro/page.html: cannot write %s/ro/page.txt: Permission denied"
          % out in err and "1 pages written" in err, "read-only folder: %d %s" % (r.returncode, err))
    check(tree(out) == ["ok.txt"], "read-only folder: %s" % tree(out))


def test_links_inside_the_output():
    write("s7/a/page.html", "<p>a</p>")
    write("s7/b.html", "<p>b</p>")
    os.makedirs(path("elsewhere"))
    os.makedirs(path("o7"))
    os.symlink(path("elsewhere"), path("o7/a"))
    os.symlink(path("elsewhere/b.txt"), path("o7/b.txt"))
    r = run(["--site", path("s7"), "--out", path("o7"), "--force"])
    err = r.stderr.decode()
    check(r.returncode == 1 and "a is a symbolic link; not followed" in err
          and "is a symbolic link; not written through" in err, "links in the output: " + err)
    check(os.listdir(path("elsewhere")) == [], "written through a link: %s" % os.listdir(path("elsewhere")))


def test_index_and_hint():
    write("s8/index.html", "<p>home</p>")
    dokuwiki = path("fakewiki")
    # The indexer tells its arguments and whether the wiki's password reached it.
    write("fakewiki/bin/indexer.php",
          "<?php file_put_contents(__DIR__ . '/ran', implode(' ', array_slice($argv, 1)) . "
          "(getenv('TAMSEL_WIKI_PASSWORD') === false ? '' : ' PASSWORD'));\n")
    r = run(["--site", path("s8"), "--out", path("o8/data/pages")])
    check(b"bin/indexer.php" in r.stderr, "no indexer hint: %r" % r.stderr)
    # Only bin/indexer.php: not a DokuWiki, nothing run.
    r = run(["--site", path("s8"), "--out", path("o8/data/pages"), "--index", dokuwiki])
    check(r.returncode == 1 and b"is not a DokuWiki (it has no doku.php); not run" in r.stderr
          and not os.path.exists(path("fakewiki/bin/ran")), "--index a non-wiki: %r" % r.stderr)
    write("fakewiki/doku.php", "<?php\n")
    write("fakewiki/inc/init.php", "<?php\n")
    if shutil.which("php"):
        env = dict(os.environ, TAMSEL_WIKI_PASSWORD="hunter2")
        r = run(["--site", path("s8"), "--out", path("o8/data/pages"), "--index", dokuwiki],
                env=env)
        check(r.returncode == 0 and os.path.exists(path("fakewiki/bin/ran"))
              and open(path("fakewiki/bin/ran")).read() == "--quiet",
              "--index: %d %r" % (r.returncode, r.stderr))
    r = run(["--site", path("s8"), "--out", path("o8/data/pages"), "--index", path("nowiki")])
    check(r.returncode == 1 and b"is not a DokuWiki" in r.stderr,
          "--index without a wiki: %r" % r.stderr)


try:
    checks.run_parts([test_nothing_outside_the_source, test_output_of_one_document,
                      test_bounded_reading, test_closed_standard_error, test_names_are_escaped,
                      test_killed_run_leaves_nothing, test_read_only_folder,
                      test_links_inside_the_output, test_index_and_hint])
finally:
    shutil.rmtree(WORK, ignore_errors=True)

sys.exit(report())
