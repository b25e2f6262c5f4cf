# SPDX-License-Identifier: GPL-2.0-or-later
"""The page id cleaner against DokuWiki's own cleanID and sectionID.

Usage: test_ids_dokuwiki.py ID_TOOL

Every name goes through both, byte for byte: a table of names that have
tripped migrations up, every single character of the first two Unicode
planes between two letters, and a few thousand random mixtures of the
characters that cleanID treats specially.

DokuWiki's cleanID lower-cases with mbstring where PHP has it and brings the
result to Unicode's composed form (NFC) where PHP has intl; Tamsel makes the
ids of that usual setup. On a PHP without either the test skips, saying so:
DokuWiki's ids there are another setup's, not a fault of either side.
"""
import random
import subprocess
import sys

import dokuwiki

TRICKY = [
    "Start", "My Page", "  padded  ", "UPPER:lower", "Äpfel und Birnen", "Größe",
    "ÆØÅ æøå", "Ça va", "Ŝtono", "日本語のページ", "Ελληνικά", "Русский Текст", "עברית",
    "a.b.c", "..dots..", "file.tar.gz", "v1.2-rc.3", "trailing.", ".hidden",
    "a__b", "a - b", "a--b", "a_-_b", "___", "-lead", "trail-", "_x_",
    "ns:page", "ns::page", ":absolute", "trailing:", "::", "a:.b", "a.:b", "a:_b", "a_:b",
    "a:-:b", "a;b;c", "a/b/c", "a\\b", "semi;colon/slash", "a*b", "star*", "100%", "a%20b",
    "a+b", "a&b", "a#b", "a?b", "a=b", "a@b", "a!b", "(parens)", "[brackets]", "{braces}",
    "quote's", 'double"quote', "a`b", "a~b", "a^b", "a|b", "a<b>c", "tab\there",
    "new\nline", "cr\rhere", "nul\x00byte", "\x0bvt", "\x1a\x1b\x1c", "\x7f", "a\u00a0b",
    "a\u2009b", "a\u200bb", "a\ufeffb", "a\u2013b\u2014c", "«quoted»", "„Zitat“",
    "€uro", "£", "©2012", "x²", "½", "ǅ", "İstanbul", "ß", "ẞ", "Ω", "ﬁ", "𝜋", "𝔸",
    "cafe\u0301", "Cafe\u0301s", "a\u0323\u0302b", "a\u0302\u0323b", "q\u0307\u0323",
    "\u1100\u1161\u11a8", "\uac00\u11a8", "\u212b", "\u2126", "x\u037ey", "\u0344",
    "e\u0301\u0301", "\u0f73", "\u1e9b\u0323", "I\u0307", "\u0130\u0301",
    "😀 smile", "1.2.3", "123", "_1", "-1-", "0", "0x", "section", "1 Intro", "1.1 Setup",
    "#frag", "Some Heading", "Über uns", "docs:Getting Started", "Docs:Sub:deep",
    "", " ", ":", ".", "-", "_",
]
INVALID_UTF8 = [b"caf\xe9", b"\xff", b"ok\xc3(", b"\xed\xa0\x80", b"\xf4\x90\x80\x80",
                b"\xc0\xaf", b"a\xe2\x82"]
SPECIAL = list("  .:-_;/*%#?&=+!@$,'\"`~^|<>()[]{}\\\t\n\x00") + [
    "ä", "Ä", "é", "ß", "Æ", "ł", "ñ", "ő", "\u00a0", "\u2013", "日", "Ω", "A", "b", "1", "Z"]


def names():
    out = [s.encode("utf-8") for s in TRICKY] + INVALID_UTF8
    for cp in list(range(1, 0xD800)) + list(range(0xE000, 0x20000)):
        out.append(("A" + chr(cp) + "b").encode("utf-8"))
    rng = random.Random(20120813)
    for _ in range(5000):
        out.append("".join(rng.choice(SPECIAL) for _ in range(rng.randint(1, 10))).encode())
    return out


def main():
    tool = sys.argv[1]
    if not dokuwiki.available():
        print("skipped: " + dokuwiki.skip_reason())
        return 77
    missing = dokuwiki.missing_extensions()
    if missing:
        print("skipped: PHP lacks %s; DokuWiki cleans ids differently there than in the usual "
              "setup (mbstring and intl) that Tamsel follows" % " and ".join(missing))
        return 77
    all_names = names()
    stdin = b"".join(n.hex().encode() + b"\n" for n in all_names)
    ours = subprocess.run([tool], input=stdin, capture_output=True, check=True).stdout.decode()
    ours = [tuple(bytes.fromhex(x) for x in line.split("\t")) for line in ours.split("\n") if line]
    # One long page of headings: titles met again, titles that clean alike,
    # numbers that make "section" anchors, and titles ending in digits, so
    # that numbered duplicates meet the anchors of other titles.
    rng = random.Random(7)
    pool = [t.encode() for t in TRICKY[:60]] + [b"intro", b"intro1", b"Intro", b"1", b"2.", b"",
                                                b"section1", b"a 1", b"a1", b"A_1"]
    titles = [rng.choice(pool) for _ in range(3000)]
    sections = subprocess.run([tool, "--sections"], input=b"".join(t.hex().encode() + b"\n"
                                                                   for t in titles),
                              capture_output=True, check=True).stdout.decode().split("\n")
    ours_sections = [bytes.fromhex(x) for x in sections[:len(titles)]]
    wiki = dokuwiki.Wiki()
    try:
        theirs = wiki.clean_ids(all_names)
        theirs_sections = wiki.section_ids(titles)
    finally:
        wiki.close()
    failures = []
    for name, mine, real in zip(all_names, ours, theirs):
        if mine != real:
            failures.append("%r: ours %r, DokuWiki %r" % (name, mine, real))
    for n, (title, mine, real) in enumerate(zip(titles, ours_sections, theirs_sections)):
        if mine != real:
            failures.append("heading %d %r: ours %r, DokuWiki %r" % (n, title, mine, real))
    for line in failures[:40]:
        print(line)
    compared = len(all_names) + len(titles)
    print("%d names and headings compared, %d differ" % (compared, len(failures)))
    print("%d passed, %d failed" % (compared - len(failures), len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
