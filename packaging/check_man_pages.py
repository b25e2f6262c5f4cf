#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-2.0-or-later
"""Keeps a man page true to its program's --help, and renders it.

    check_man_pages.py MAN_PAGE PROGRAM [--may-lack-help]

Every option that "PROGRAM --help" lists must have its .TP entry under
OPTIONS in MAN_PAGE, and every entry there must still be in --help, so an
option added, renamed or removed in one place fails here until the other
follows. The page must also render through man(1) without a warning.
With --may-lack-help, a PROGRAM that prints no options (or does not return
from --help within a few seconds) skips the comparison with status 77.
"""
import gzip
import os
import re
import subprocess
import sys

SKIP = 77


def leading_options(words):
    """The option names that open a help line or a man page tag."""
    names = []
    for word in words:
        word = word.rstrip(",")
        if not re.fullmatch(r"--?[A-Za-z0-9?][A-Za-z0-9-]*(=\S*)?", word):
            break
        names.append(word.split("=")[0])
    return names


def help_options(text):
    options = set()
    for line in text.splitlines():
        if re.match(r" {1,6}-", line):  # deeper lines continue a description
            options.update(leading_options(line.split()))
    return options


def roff_plain(line):
    """A roff line as text: no macro name, quotes, font changes or escapes."""
    line = re.sub(r"^\.[A-Z]{1,2}\s*", "", line)
    line = re.sub(r"\\f(\[[A-Z]*\]|[BIRP])", "", line)
    return line.replace("\\-", "-").replace('"', " ").replace("\\e", "\\")


def man_options(source):
    options, in_options, take = {}, False, False
    for number, line in enumerate(source.splitlines(), 1):
        if line.startswith(".SH"):
            in_options = line.split(None, 1)[1:] == ["OPTIONS"]
        elif in_options and line.startswith(".TP"):
            take = True
        elif take:
            take = False
            for name in leading_options(roff_plain(line).split()):
                options[name] = number
    return options


def main(argv):
    may_lack_help = "--may-lack-help" in argv
    args = [a for a in argv if a != "--may-lack-help"]
    if len(args) != 2:
        print(__doc__.strip().splitlines()[2], file=sys.stderr)
        return 2
    page, program = args
    opener = gzip.open if page.endswith(".gz") else open
    with opener(page, "rt", encoding="utf-8") as f:
        source = f.read()
    faults = []

    env = dict(os.environ, LC_ALL="C.UTF-8", MANWIDTH="80", MAN_KEEP_FORMATTING="")
    rendered = subprocess.run(["man", "--warnings", "-l", page], env=env,
                              capture_output=True, text=True)
    if rendered.returncode != 0 or rendered.stderr.strip():
        faults.append("man -l %s: %s" % (page, rendered.stderr.strip() or "failed"))
    elif "OPTIONS" not in rendered.stdout:
        faults.append("man -l %s: no OPTIONS section in the output" % page)

    listed = man_options(source)
    try:
        run = subprocess.run([program, "--help"], capture_output=True, text=True, timeout=5,
                             env=dict(os.environ, QT_QPA_PLATFORM="offscreen"))
        helped = help_options(run.stdout) if run.returncode == 0 else set()
    except subprocess.TimeoutExpired:
        helped = set()
    if not helped:
        if may_lack_help and not faults:
            print("%s --help lists no options yet; man page not compared" % program)
            return SKIP
        faults.append("%s --help lists no options" % program)
    else:
        for name in sorted(helped - listed.keys()):
            faults.append("%s: %s is in --help but has no .TP entry under OPTIONS"
                          % (page, name))
        for name in sorted(listed.keys() - helped):
            faults.append("%s:%d: %s is no longer in --help" % (page, listed[name], name))

    for fault in faults:
        print(fault, file=sys.stderr)
    if not faults:
        print("%s: %d options, all in --help; renders cleanly" % (page, len(listed)))
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
