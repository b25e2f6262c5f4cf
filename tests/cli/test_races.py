# SPDX-License-Identifier: GPL-2.0-or-later
"""tamsel-cli against a source tree that changes under it, and what surrounds
a run: nothing outside the source is read whatever is swapped in after the
scan, nothing hangs, no page is lost in silence.

Usage: test_races.py TAMSEL_CLI

The races are deterministic: with TAMSEL_TEST_STOP_AFTER_SCAN set, a site run
stops itself (SIGSTOP) between the scan and the first read; the test changes
the tree and lets it go on.
"""
import os
import pty
import shutil
import signal
import subprocess
import sys
import termios
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import wiki_server  # noqa: E402
import checks  # noqa: E402
from checks import check, report  # noqa: E402

CLI = sys.argv[1]
SCRATCH = checks.Scratch("tamsel-races-")
WORK, path, write = SCRATCH.root, SCRATCH.path, SCRATCH.write
SECRET = "tamsel-secret-4711"


def everything_in(root):
    out = b""
    for d, _, files in os.walk(root):
        for f in files:
            with open(os.path.join(d, f), "rb") as handle:
                out += handle.read()
    return out


def stopped(pid):
    try:
        with open("/proc/%d/stat" % pid) as f:
            return f.read().rsplit(")", 1)[1].split()[0] == "T"
    except OSError:
        return False


def run_changed(args, change, password=SECRET):
    """Runs a site migration with password in its environment, calls change()
    between its scan and its reading, and returns (exit code, stderr)."""
    env = dict(os.environ, TAMSEL_TEST_STOP_AFTER_SCAN="1", TAMSEL_WIKI_PASSWORD=password)
    proc = subprocess.Popen([CLI] + args, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, env=env)
    deadline = time.monotonic() + 60
    while not stopped(proc.pid) and proc.poll() is None and time.monotonic() < deadline:
        time.sleep(0.005)
    was_stopped = stopped(proc.pid)
    if was_stopped:
        change()
    os.kill(proc.pid, signal.SIGCONT)
    try:
        _, err = proc.communicate(timeout=60)
    except subprocess.TimeoutExpired:
        proc.kill()
        _, err = proc.communicate()
        return None, "hung: " + err.decode(errors="replace")
    if not was_stopped:
        return None, "never stopped after the scan: " + err.decode(errors="replace")
    return proc.returncode, err.decode(errors="replace")


def outside_tree(name):
    write(name + "/page.html", "<p>OUTSIDE page %s</p>" % SECRET)
    write(name + "/f.pdf", "OUTSIDE pdf " + SECRET)
    write(name + "/shadow", "root:OUTSIDE:" + SECRET)


def test_folder_swapped_for_a_link():
    write("s1/index.html", "<p><a href='docs/page.html'>p</a> <a href='docs/f.pdf'>f</a></p>")
    write("s1/docs/page.html", "<p>inside page</p>")
    write("s1/docs/f.pdf", "inside pdf")
    outside_tree("outside1")

    def swap():
        os.rename(path("s1/docs"), path("docs1.old"))
        os.symlink(path("outside1"), path("s1/docs"))

    code, err = run_changed(["--site", path("s1"), "--out", path("o1/pages"),
                             "--media", path("o1/media"), "--jobs", "1"], swap)
    data = everything_in(path("o1"))
    check(SECRET.encode() not in data, "folder swap leaked: %r" % data)
    # The folder the scan saw is the one read, wherever it went.
    check(code == 0 and b"inside page" in data and b"inside pdf" in data,
          "folder swap: %s %s %r" % (code, err, data))


def test_files_swapped_after_the_scan():
    write("s2/index.html", "<p><a href='f.pdf'>f</a> <img src='i.png'> <a href='b.html'>b</a> "
                           "<a href='g.pdf'>g</a></p>")
    write("s2/b.html", "<p>b</p>")
    write("s2/f.pdf", "pdf")
    write("s2/i.png", "png")
    write("s2/g.pdf", "pdf")
    outside_tree("outside2")

    def swap():
        os.remove(path("s2/f.pdf"))
        os.symlink("/proc/self/environ", path("s2/f.pdf"))
        os.remove(path("s2/i.png"))
        os.symlink(path("outside2/shadow"), path("s2/i.png"))
        os.remove(path("s2/b.html"))
        os.mkfifo(path("s2/b.html"))  # nobody writes: an open() that blocks waits forever
        os.remove(path("s2/g.pdf"))
        os.mkfifo(path("s2/g.pdf"))

    code, err = run_changed(["--site", path("s2"), "--out", path("o2/pages"),
                             "--media", path("o2/media"), "--jobs", "2"], swap)
    data = everything_in(path("o2"))
    check(SECRET.encode() not in data, "swapped files leaked: %r" % data)
    for expected in ("f.pdf: cannot read: is a symbolic link; not followed",
                     "i.png: cannot read: is a symbolic link; not followed",
                     "b.html: cannot read: is not a regular file (a FIFO)",
                     "g.pdf: cannot read: is not a regular file (a FIFO)", "4 files failed"):
        check(expected in err, "swapped files: no %r in %s" % (expected, err))
    check(code == 1, "swapped files: exit %s" % code)


def test_media_swapped_before_an_upload():
    if not wiki_server.available():
        print("skipped: no DokuWiki to upload to")
        return
    write("s3/index.html", "<p><a href='f.pdf'>f</a> <a href='g.pdf'>g</a></p>")
    write("s3/f.pdf", "pdf")
    write("s3/g.pdf", "pdf")
    outside_tree("outside3")
    wiki = wiki_server.WikiServer(workers=1)
    try:
        def swap():
            os.remove(path("s3/f.pdf"))
            os.symlink("/proc/self/environ", path("s3/f.pdf"))
            os.remove(path("s3/g.pdf"))
            os.symlink(path("outside3/shadow"), path("s3/g.pdf"))

        code, err = run_changed(["--site", path("s3"), "--wiki", wiki.url, "--user", "tester"],
                                swap, wiki_server.PASSWORD)
        data = everything_in(os.path.join(wiki.data, "media"))
        check(SECRET.encode() not in data and b"TAMSEL_WIKI_PASSWORD" not in data,
              "upload leaked: %r" % data[:200])
        check(code == 1 and "f.pdf: cannot read: is a symbolic link; not followed" in err
              and "g.pdf: cannot read: is a symbolic link; not followed" in err,
              "upload of swapped media: %s %s" % (code, err))
    finally:
        wiki.close()


def test_deep_tree_loses_no_page():
    # Paths three times PATH_MAX: every folder is reached from the one above it.
    os.makedirs(path("s4"))
    write("s4/top.html", "<p>top</p>")
    fd = os.open(path("s4"), os.O_RDONLY)
    for level in range(500):
        name = "folder-with-a-long-name-%03d" % level
        os.mkdir(name, dir_fd=fd)
        inner = os.open(name, os.O_RDONLY, dir_fd=fd)
        os.close(fd)
        fd = inner
        if level % 100 == 99:
            page = os.open("p%d.html" % level, os.O_WRONLY | os.O_CREAT, 0o644, dir_fd=fd)
            os.write(page, b"<p>deep</p>")
            os.close(page)
    # A symbolic link down there cannot be resolved by its path: said and counted.
    os.symlink("p499.html", "link.html", dir_fd=fd)
    os.close(fd)
    r = subprocess.run([CLI, "--site", path("s4"), "--out", path("o4")], capture_output=True,
                       timeout=300)
    err = r.stderr.decode()
    check(r.returncode == 1 and "6 pages written" in err and "1 files failed" in err
          and "/link.html: cannot read: symbolic link not followed: File name too long" in err,
          "deep tree: %d %s" % (r.returncode, err[-500:]))


def test_unreadable_entries_are_counted():
    # A folder that can be listed but not entered: each name in it is a
    # failure with its reason, counted, never skipped in silence.
    write("s5/ok.html", "<p>ok</p>")
    write("s5/closed/page.html", "<p>closed</p>")
    write("s5/closed/sub/inner.html", "<p>inner</p>")
    os.chmod(path("s5/closed"), 0o444)
    as_user = checks.as_nobody()
    os.makedirs(path("o5"))
    os.chmod(path("o5"), 0o777)
    r = subprocess.run([CLI, "--site", path("s5"), "--out", path("o5")], capture_output=True,
                       timeout=60, **as_user)
    err = r.stderr.decode()
    check(r.returncode == 1 and "closed/page.html: cannot read: Permission denied" in err
          and "closed/sub: cannot read: Permission denied" in err and "2 files failed" in err,
          "unreadable entries: %d %s" % (r.returncode, err))
    os.chmod(path("s5/closed"), 0o755)


def test_echo_back_after_ctrl_c_at_the_prompt():
    write("s6.html", "<p>x</p>")
    master, slave = os.openpty()
    env = dict(os.environ)
    env.pop("TAMSEL_WIKI_PASSWORD", None)
    proc = subprocess.Popen([CLI, path("s6.html"), "--wiki", "http://127.0.0.1:9/", "--user",
                             "tester", "--page", "x"], stdin=slave, stdout=slave, stderr=slave,
                            env=env, start_new_session=True)
    shown = b""
    deadline = time.monotonic() + 30
    while b"Password for" not in shown and time.monotonic() < deadline:
        shown += os.read(master, 1000)
    echo_while_asked = termios.tcgetattr(slave)[3] & termios.ECHO
    proc.send_signal(signal.SIGINT)
    proc.wait(30)
    echo_after = termios.tcgetattr(slave)[3] & termios.ECHO
    os.close(master)
    os.close(slave)
    check(b"Password for" in shown and not echo_while_asked, "no silent prompt: %r" % shown)
    check(proc.returncode == -signal.SIGINT, "Ctrl+C at the prompt: exit %s" % proc.returncode)
    check(echo_after, "echo left off after Ctrl+C at the password prompt")


try:
    checks.run_parts([test_folder_swapped_for_a_link, test_files_swapped_after_the_scan,
                      test_media_swapped_before_an_upload, test_deep_tree_loses_no_page,
                      test_unreadable_entries_are_counted,
                      test_echo_back_after_ctrl_c_at_the_prompt])
finally:
    # Deeper than shutil.rmtree can go.
    subprocess.run(["rm", "-rf", WORK])

sys.exit(report())
