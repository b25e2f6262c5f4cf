# SPDX-License-Identifier: GPL-2.0-or-later
"""A small site migrated under a namespace and rendered by the real DokuWiki.

Usage: test_site_dokuwiki.py TAMSEL_CLI

The site has two pages whose names clean to one id (FAQ.html, faq.html), an
index in a folder, fragments between pages (on a heading's id, on an anchor
just before a heading, inside a section), links with "..", absolute paths, a
query, a folder link, a link to a page that does not exist, images through
"../" and "/", a linked PDF, and names with spaces and capitals. Every link
must reach an existing page in DokuWiki's renderer (but the one to the missing
page), every fragment an anchor of its page, every image and file its media.
"""
import os
import shutil
import subprocess
import sys
import tempfile

import dokuwiki
import site_links
from checks import check, report  # noqa: E402

PNG = bytes.fromhex(
    "89504e470d0a1a0a0000000d4948445200000001000000010806000000"
    "1f15c4890000000d49444154789c6360000002000154a24f5d0000000049454e44ae426082")
PDF = b"%PDF-1.4\n1 0 obj<<>>endobj\ntrailer<<>>\n%%EOF\n"

SITE = {
    "index.html": """<html><head><title>Home</title></head><body>
<h1>Welcome</h1>
<p><a href="Docs/Getting%20Started.html#install">Install</a>
<a href="Docs/">Docs</a>
<a href="Docs/Sub/Deep%20Dive.HTM#Part-Two">Part two</a>
<a href="./About Us.html?lang=en">About</a>
<a href="FAQ.html">Big FAQ</a> <a href="faq.html#q2">Second question</a>
<a href="files/Manual.PDF">The manual</a>
<a href="missing.html">Missing</a>
<a href="http://example.com/">Elsewhere</a></p>
<p><img src="Images/Logo%20Big.PNG" alt="Logo" width="40"></p>
</body></html>""",
    "About Us.html": '<p>About. <a href="index.html#top">Home</a> <a href="/">Home again</a></p>',
    "FAQ.html": """<h1>Big FAQ</h1><p><a href="faq.html#q2">The other FAQ's second</a>
<a href="faq.html#a1">An answer</a> <a href="files/Manual.PDF#page=2">Page two</a></p>""",
    "faq.html": """<h2>Questions</h2><p><a href="#q2">Below</a></p>
<a name="q2"></a><h2>Second question</h2><p id="a1">The answer.</p>
<p><a href="FAQ.html#top">The big FAQ</a></p>""",
    "Docs/index.html": '<p>Docs start. <a href="getting started.html">Start, in lower case</a></p>',
    "Docs/Getting Started.html": """<h2 id="install">Install it</h2><p><a href="../index.html">Home</a>
<a href="Sub/Deep Dive.HTM">Deep</a> <a href="/Docs/index.html">Docs</a>
<a href="../files/Manual.PDF"><img src="../Images/Logo Big.PNG"></a></p>""",
    "Docs/Sub/Deep Dive.HTM": """<h2 id="Part-Two">Part Two</h2><p><a href="../../index.html">Home</a>
<a href="../Getting%20Started.html#install">Back</a> <a href="/About%20Us.html">About</a>
<img src="/Images/Logo Big.PNG" alt="again"></p>""",
}

EXPECTED_PAGES = ["about_us.txt", "docs/getting_started.txt", "docs/start.txt",
                  "docs/sub/deep_dive.txt", "faq.txt", "faq_2.txt", "start.txt"]


def build_site(root):
    for name, html in SITE.items():
        path = os.path.join(root, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "w") as f:
            f.write(html)
    for name, data in (("Images/Logo Big.PNG", PNG), ("files/Manual.PDF", PDF)):
        os.makedirs(os.path.dirname(os.path.join(root, name)), exist_ok=True)
        with open(os.path.join(root, name), "wb") as f:
            f.write(data)


def main():
    cli = sys.argv[1]
    if not dokuwiki.available():
        print("skipped: " + dokuwiki.skip_reason())
        return 77
    work = tempfile.mkdtemp(prefix="tamsel-site-")
    wiki = dokuwiki.Wiki(os.path.join(work, "wiki"))
    try:
        src = os.path.join(work, "site")
        build_site(src)
        run, figures, bad = site_links.migrate_and_follow(
            cli, src, wiki, ["--namespace", "Old Site", "--jobs", "2"])
        check(run.returncode == 0, "exit code %d: %s" % (run.returncode, run.stderr))
        check("7 pages written" in run.stderr and "2 media files copied" in run.stderr
              and "1 to missing pages" in run.stderr and "1 renamed" in run.stderr,
              "summary: " + run.stderr)
        pages = os.path.join(wiki.pages, "old_site")
        written = sorted(os.path.relpath(os.path.join(d, f), pages)
                         for d, _, fs in os.walk(pages) for f in fs)
        check(written == EXPECTED_PAGES, "pages written: %s" % written)
        with open(os.path.join(pages, "faq.txt")) as f:
            check("Questions" in f.read(), "faq.html did not keep the id faq")
        for media in ("images/logo_big.png", "files/manual.pdf"):
            check(os.path.isfile(os.path.join(wiki.media, "old_site", media)), media + " missing")

        check(figures["pages"] == figures["html_files"] == 7, "pages: %s" % figures)
        check(figures["links"] >= 15 and figures["links_ok"] == figures["links"] - 1,
              "links: %s %s" % (figures, bad))
        check(bad.count("old_site:start: link to missing page old_site:missing") == 1,
              "the missing page: %s" % bad)
        check(figures["fragments"] >= 7 and figures["fragments_ok"] == figures["fragments"],
              "fragments: %s %s" % (figures, bad))
        check(figures["media"] >= 5 and figures["media_ok"] == figures["media"],
              "media: %s %s" % (figures, bad))

        with open(os.path.join(pages, "start.txt")) as f:
            start = f.read()
        for link in ("[[:old_site:docs:getting_started#install_it|Install]]",
                     "[[:old_site:docs:start|Docs]]",
                     "[[:old_site:docs:sub:deep_dive#part_two|Part two]]",
                     "[[:old_site:faq_2|Big FAQ]]",
                     "[[:old_site:faq#second_question|Second question]]",
                     "{{:old_site:files:manual.pdf|The manual}}",
                     "{{:old_site:images:logo_big.png?40|Logo}}"):
            check(link in start, "start page lacks %s:\n%s" % (link, start))

        # A second run finds every file as it would write it, so it loses nothing and fails not.
        again = subprocess.run([cli, "--site", src, "--out", wiki.pages, "--media", wiki.media,
                                "--namespace", "Old Site"],
                               capture_output=True, text=True, timeout=60)
        check(again.returncode == 0 and "(7 unchanged)" in again.stderr,
              "second run: %d %s" % (again.returncode, again.stderr))
    finally:
        wiki.close()
        shutil.rmtree(work, ignore_errors=True)

    return report()


if __name__ == "__main__":
    sys.exit(main())
