# SPDX-License-Identifier: GPL-2.0-or-later
"""tamsel-cli from the outside: options, exit codes, messages, encodings.

Usage: test_cli.py TAMSEL_CLI
"""
import os
import re
import shutil
import subprocess
import sys

import checks

CLI = sys.argv[1]
SCRATCH = checks.Scratch("tamsel-cli-")
WORK, path, write = SCRATCH.root, SCRATCH.path, SCRATCH.write


def run(args, stdin=b""):
    return subprocess.run([CLI] + args, input=stdin, capture_output=True, timeout=60)


def check(name, result, code, out=None, out_has=(), err_has=(), err_lacks=()):
    problems = []
    if result.returncode != code:
        problems.append("exit %d, not %d" % (result.returncode, code))
    if out is not None and result.stdout != out:
        problems.append("stdout %r, not %r" % (result.stdout, out))
    for part in out_has:
        if part not in result.stdout:
            problems.append("stdout lacks %r: %r" % (part, result.stdout))
    err = result.stderr.decode("utf-8", "replace")
    for part in err_has:
        if part not in err:
            problems.append("stderr lacks %r: %r" % (part, err))
    for part in err_lacks:
        if part in err:
            problems.append("stderr has %r: %r" % (part, err))
    checks.check(not problems, "%s: %s" % (name, "; ".join(problems)))


USAGE = "Try 'tamsel-cli --help'."
PAGE = write("page.html", "<h2>Intro</h2><p>Hello <b>world</b> <a href='docs/setup.html#s2'>Setup</a></p>")


def test_options():
    help_text = run(["--help"])
    check("--help", help_text, 0, out_has=[b"Usage: tamsel-cli"])
    for option in ["--encoding", "--newline", "--no-links", "--output", "--site", "--out",
                   "--media", "--jobs", "--force", "--namespace", "--start-page", "--index",
                   "--verbose", "--quiet", "--help", "--version"]:
        listed = any(re.match(r"\s+(-\w, )?%s\b" % option, line)
                     for line in help_text.stdout.decode().splitlines())
        check("--help lists " + option, subprocess.CompletedProcess([], 0 if listed else 1, b"", b""), 0)
    check("--version", run(["--version"]), 0, out=b"tamsel-cli 2012-08-13\n")

    lf = b"===== Intro =====\n\nHello **world** [[docs:setup#s2|Setup]]\n"
    check("file, lf by default", run([PAGE]), 0, out=lf)
    check("stdin", run([], open(PAGE, "rb").read()), 0, out=lf)
    check("- is stdin", run(["-"], open(PAGE, "rb").read()), 0, out=lf)
    check("--newline crlf", run(["--newline", "crlf", PAGE]), 0, out=lf.replace(b"\n", b"\r\n"))
    check("--newline=lf", run(["--newline=lf", PAGE]), 0, out=lf)
    check("--no-links", run(["--no-links", PAGE]), 0,
          out=b"===== Intro =====\n\nHello **world** Setup\n")
    check("empty input, empty output", run([], b""), 0, out=b"")
    check("&#13; is a space, not a line end", run([], b"<table><tr><td>a&#13;b</td></tr></table>"),
          0, out=b"|a b|\n")
    check("-- ends options", run(["--", PAGE]), 0, out=lf)
    out = path("out/result.txt")
    check("--output", run(["-o", out, PAGE]), 0, out=b"")
    check("--output wrote", subprocess.CompletedProcess([], 0, open(out, "rb").read(), b""), 0,
          out=lf)
    check("--namespace for one document", run(["--namespace", "Old Site:Web", PAGE]), 0,
          out=b"===== Intro =====\n\nHello **world** [[:old_site:web:docs:setup#s2|Setup]]\n")
    check("--namespace with images and folders",
          run(["--namespace", "ns", "--start-page", "home"], b"<a href='d/'>d</a> <img src='i/A.png'>"),
          0, out=b"[[:ns:d:home|d]] {{:ns:i:a.png}}\n")
    check("--namespace without an id", run(["--namespace", "::"]), 2,
          err_has=["--namespace '::' leaves no DokuWiki id"])
    check("--start-page with a namespace", run(["--start-page", "a:b"]), 2,
          err_has=["--start-page takes a page name"])
    deep = b"<div>" * 20000 + b"deep" + b"</div>" * 20000
    check("deep nesting", run([], deep), 0, out_has=[b"deep"])


def test_errors():
    check("missing file", run([path("nope.html")]), 1,
          err_has=["cannot read " + path("nope.html") + ": No such file or directory"])
    check("directory as file", run([WORK]), 1, err_has=["cannot read %s: is a directory" % WORK])
    check("unknown option", run(["--bogus"]), 2, err_has=["unknown option '--bogus'", USAGE])
    check("unknown encoding", run(["--encoding", "klingon", PAGE]), 2,
          err_has=["unknown encoding 'klingon'", USAGE])
    check("bad --newline", run(["--newline", "cr", PAGE]), 2,
          err_has=["--newline takes lf or crlf, not 'cr'", USAGE])
    for value in ["0", "-1", "two", "", "99999"]:
        check("--jobs " + value, run(["--site", WORK, "--out", path("x"), "--jobs", value]), 2,
              err_has=["--jobs takes a number from 1 to 1024", USAGE])
    check("option without its value", run(["--encoding"]), 2,
          err_has=["option '--encoding' needs a value", USAGE])
    check("flag with a value", run(["--force=yes"]), 2, err_has=["takes no value"])
    check("two files", run([PAGE, PAGE]), 2, err_has=["one FILE at a time"])
    check("--jobs without --site", run(["--jobs", "2", PAGE]), 2,
          err_has=["--jobs works only with --site"])
    check("--site without --out", run(["--site", WORK]), 2, err_has=["--site needs --out"])
    check("--site with a FILE", run(["--site", WORK, "--out", path("p"), PAGE]), 2,
          err_has=["--site takes no FILE"])
    check("unwritable --output", run(["-o", "/proc/nope/x.txt", PAGE]), 1,
          err_has=["cannot write /proc/nope/x.txt"])
    if os.path.exists("/dev/full"):
        result = subprocess.run([CLI, PAGE], stdout=open("/dev/full", "wb"), stderr=subprocess.PIPE)
        check("full disk", subprocess.CompletedProcess([], result.returncode, b"", result.stderr),
              1, err_has=["cannot write standard output: No space left on device"])


def test_encodings():
    cafe = "<p>café “quoted” – 5 €</p>"
    expect = "café “quoted” -- 5 €\n".encode()  # the converter writes an en dash as "--"
    cases = [
        # name, bytes, extra args, expected stdout, stderr parts with -v
        ("Windows-1252 undeclared", cafe.encode("cp1252"), [], expect, ["win1252 (not valid UTF-8)"]),
        ("UTF-8 undeclared", cafe.encode(), [], expect, ["utf8 (valid UTF-8)"]),
        ("UTF-8 with BOM", b"\xef\xbb\xbf" + cafe.encode(), [], expect, ["utf8 (byte order mark)"]),
        ("UTF-16LE with BOM", cafe.encode("utf-16"), [], expect, ["utf16le (byte order mark)"]),
        ("UTF-16BE with BOM", b"\xfe\xff" + cafe.encode("utf-16-be"), [], expect,
         ["utf16be (byte order mark)"]),
        ("UTF-16LE without BOM", cafe.encode("utf-16-le"), [], expect, ["utf16le (no byte order"]),
        ("UTF-16BE without BOM", ("\n" + cafe).encode("utf-16-be"), [], expect,
         ["utf16be (no byte order"]),
        ("meta charset iso-8859-1", ('<meta charset="iso-8859-1">' + "<p>café à</p>").encode("latin-1"),
         [], "café à\n".encode(), ["win1252 (declared iso-8859-1)"]),
        ("meta http-equiv", ('<meta http-equiv="Content-Type" content="text/html; charset=windows-1252">'
                             + cafe).encode("cp1252"), [], expect, ["declared windows-1252"]),
        ("XML declaration", ('<?xml version="1.0" encoding="ISO-8859-15"?><p>5 €</p>').encode("iso-8859-15"),
         [], "5 €\n".encode(), ["latin0 (declared ISO-8859-15)"]),
        ("meta koi8-r through iconv", '<meta charset="koi8-r"><p>Привет</p>'.encode("koi8-r"), [],
         "Привет\n".encode(), ["declared koi8-r"]),
        ("meta shift_jis", '<meta charset="shift_jis"><p>日本語</p>'.encode("shift_jis"), [],
         "日本語\n".encode(), ["declared shift_jis"]),
        ("declared charset nobody knows", '<meta charset="x-klingon"><p>café</p>'.encode(), [],
         "café\n".encode(), ["charset 'x-klingon', which no decoder here knows", "utf8 (valid"]),
        ("declared UTF-8, is Windows-1252", ('<meta charset="utf-8">' + cafe).encode("cp1252"), [],
         expect, ["is not UTF-8 at all; reading it as win1252"]),
        ("meta in a comment does not count", ('<!-- <meta charset="koi8-r"> -->' + cafe).encode(),
         [], expect, ["utf8 (valid UTF-8)"]),
        ("--encoding latin1 as told", "<p>é</p>".encode(), ["--encoding", "latin1"],
         "Ã©\n".encode(), ["latin1 (as told)"]),
        ("--encoding shiftjis", "<p>日本</p>".encode("shift_jis"), ["--encoding", "shiftjis"],
         "日本\n".encode(), ["shiftjis (as told)"]),
        ("--encoding an iconv name", "<p>Ελλάδα</p>".encode("iso-8859-7"), ["--encoding", "ISO-8859-7"],
         "Ελλάδα\n".encode(), []),
        ("--encoding utf8 against a UTF-16 BOM", cafe.encode("utf-16"), ["--encoding", "utf8"],
         expect, ["starts with a utf16le byte order mark; reading it as utf16le, not as utf8"]),
        ("--encoding auto", cafe.encode("cp1252"), ["--encoding", "auto"], expect, []),
    ]
    for name, data, args, out, err in cases:
        f = write("enc/%d.html" % len(name), data)
        check(name, run(["-v"] + args + [f]), 0, out=out, err_has=err)
        check(name + ", no BOM in output", run(args + [f]), 0, err_lacks=["\ufeff"])


def test_site_errors():
    src = path("site")
    write("site/A.html", "<p><a href='b.html'>b</a></p>")
    write("site/b.html", "<p>b</p>")
    out = path("pages")
    check("site", run(["--site", src, "--out", out]), 0, err_has=["2 pages written (0 unchanged)"],
          err_lacks=["pages/s"])
    check("site again, unchanged", run(["--site", src, "--out", out]), 0,
          err_has=["2 pages written (2 unchanged)"])
    check("site -v gives the rate", run(["--site", src, "--out", out, "-v"]), 0,
          err_has=["2 pages, 0.0 MB of HTML in ", " pages/s, ", " MB/s"])
    write("site/b.html", "<p>b, changed</p>")
    check("no overwrite without --force", run(["--site", src, "--out", out]), 1,
          err_has=["b.html: %s/b.txt exists with other content; not overwritten" % out,
                   "1 files failed"])
    check("--force overwrites", run(["--site", src, "--out", out, "--force"]), 0,
          err_has=["2 pages written (1 unchanged)"])
    check("--force wrote", subprocess.CompletedProcess([], 0, open(out + "/b.txt", "rb").read(), b""),
          0, out=b"b, changed\n")

    write("site/B.htm", "<p>another b</p>")
    check("two files, one id: both arrive", run(["--site", src, "--out", out, "--force"]), 0,
          err_has=["B.htm: page id 'b' belongs to b.html; this one becomes 'b_2'", "1 renamed"])
    check("the renamed page", subprocess.CompletedProcess(
        [], 0, open(out + "/b_2.txt", "rb").read(), b""), 0, out=b"another b\n")
    os.remove(path("site/B.htm"))

    write("site/sub/c.html", "<p>c</p>")
    os.symlink("sub", path("site/alias"))
    os.symlink(".", path("site/loop"))
    os.symlink("..", path("site/up"))
    os.symlink("nowhere.html", path("site/broken.html"))
    check("symbolic links", run(["--site", src, "--out", path("pages2")]), 1,
          err_has=["alias: skipped, the same folder as one read before",
                   "loop: skipped, the same folder as one read before",
                   "up: skipped, a symbolic link to %s, outside the source" % WORK,
                   "broken.html: cannot read: broken symbolic link", "3 pages written"])
    os.remove(path("site/broken.html"))
    check("loops alone lose nothing", run(["--site", src, "--out", path("pages3")]), 0)
    os.remove(path("site/loop"))
    os.remove(path("site/up"))
    os.remove(path("site/alias"))
    shutil.rmtree(path("site/sub"))

    check("--out inside the source", run(["--site", src, "--out", src + "/pages"]), 2,
          err_has=["overlap"])
    check("--out is the source", run(["--site", src, "--out", src]), 2, err_has=["overlap"])
    check("source inside --out", run(["--site", src, "--out", WORK]), 2, err_has=["overlap"])
    check("--media inside the source", run(["--site", src, "--out", out, "--media", src + "/m"]),
          2, err_has=["overlap"])
    check("--media is --out", run(["--site", src, "--out", out, "--media", out]), 2,
          err_has=["must be different folders"])
    check("missing source", run(["--site", path("none"), "--out", out]), 1,
          err_has=["cannot read folder: No such file or directory"])
    check("--quiet", run(["--site", src, "--out", out, "-q"]), 0, out=b"", err_lacks=["pages"])
    write("site/---.html", "<p>x</p>")
    check("name without id still arrives", run(["--site", src, "--out", out]), 0,
          err_has=["3 pages written"])
    check("as page", subprocess.CompletedProcess([], 0, open(out + "/page.txt", "rb").read(), b""),
          0, out=b"x\n")
    check("--out inside --media", run(["--site", src, "--out", path("m/pages"), "--media",
                                       path("m")]), 2, err_has=["one inside the other"])
    check("--media inside --out", run(["--site", src, "--out", path("o"), "--media",
                                       path("o/media")]), 2, err_has=["one inside the other"])
    check("nothing made when refused", subprocess.CompletedProcess(
        [], int(os.path.exists(path("m")) or os.path.exists(path("site/pages"))), b"", b""), 0)


def test_wiki_usage():
    wiki = ["--wiki", "http://127.0.0.1:9/", "--user", "ann"]
    cases = [
        # name, arguments, stderr parts
        ("--wiki without --user", ["--site", WORK, "--wiki", "http://w/"], ["--wiki needs --user"]),
        ("--wiki and --out", ["--site", WORK, "--out", path("o")] + wiki, ["not into --out"]),
        ("FILE without --page", [PAGE] + wiki, ["--wiki with a FILE needs --page ID"]),
        ("--page without --wiki", [PAGE, "--page", "x"], ["--page works only with --wiki"]),
        ("--dry-run without --wiki", [PAGE, "--dry-run"], ["--dry-run works only with --wiki"]),
        ("--page of nothing", [PAGE, "--page", "::"] + wiki, ["--page '::' gives no page id"]),
        ("--index with --wiki", ["--site", WORK, "--index", path("dw")] + wiki,
         ["the wiki indexes what its API saves"]),
        ("--force for one FILE to a file", [PAGE, "--force"], ["--force works only with --site or --wiki"]),
        ("--timeout 0", [PAGE, "--page", "x", "--timeout", "0"] + wiki, ["--timeout takes"]),
        ("no password in the address",
         [PAGE, "--page", "x", "--user", "ann", "--wiki", "https://ann:Sesame@w/"],
         ["without a user or password"]),
        ("not a web address", [PAGE, "--page", "x", "--user", "ann", "--wiki", "w.example"],
         ["--wiki takes the wiki's http:// or https:// address"]),
    ]
    for name, args, parts in cases:
        env_password = os.environ.pop("TAMSEL_WIKI_PASSWORD", None)
        os.environ["TAMSEL_WIKI_PASSWORD"] = "Sesame"
        try:
            result = run(args)
        finally:
            os.environ.pop("TAMSEL_WIKI_PASSWORD")
            if env_password is not None:
                os.environ["TAMSEL_WIKI_PASSWORD"] = env_password
        check(name, result, 2, err_has=parts, err_lacks=["Sesame"])


try:
    test_options()
    test_errors()
    test_encodings()
    test_site_errors()
    test_wiki_usage()
finally:
    shutil.rmtree(WORK, ignore_errors=True)

sys.exit(checks.report())
