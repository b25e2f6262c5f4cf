"""A small site migrated and then rendered by the real DokuWiki.

Usage: test_site_dokuwiki.py TAMSEL_CLI

The site has nested folders, links with "..", absolute paths, a query, a
fragment, a folder link, a link to a page that does not exist, an image
linked through "../" and through "/", and file names with spaces and capitals.
Every link between existing pages must come out of DokuWiki as wikilink1 to
the page meant, the missing one as wikilink2, and the image as existing media.
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile

import dokuwiki

PNG = bytes.fromhex(
    "89504e470d0a1a0a0000000d4948445200000001000000010806000000"
    "1f15c4890000000d49444154789c6360000002000154a24f5d0000000049454e44ae426082")

SITE = {
    "index.html": """<html><head><title>Home</title></head><body>
<h1>Welcome</h1>
<p><a href="Docs/Getting%20Started.html">Start</a>
<a href="Docs/">Docs</a>
<a href="Docs/Sub/Deep%20Dive.HTM#Part-Two">Part two</a>
<a href="./About Us.html?lang=en">About</a>
<a href="missing.html">Missing</a>
<a href="http://example.com/">Elsewhere</a></p>
<p><img src="Images/Logo%20Big.PNG" alt="Logo" width="40"></p>
</body></html>""",
    "About Us.html": '<p>About. <a href="index.html#top">Home</a></p>',
    "Docs/index.html": '<p>Docs start. <a href="getting started.html">Start, in lower case</a></p>',
    "Docs/Getting Started.html": """<p><a href="../index.html">Home</a>
<a href="Sub/Deep Dive.HTM">Deep</a> <a href="/Docs/index.html">Docs</a>
<img src="../Images/Logo Big.PNG"></p>""",
    "Docs/Sub/Deep Dive.HTM": """<h2>Part Two</h2><p><a href="../../index.html">Home</a>
<a href="../Getting%20Started.html">Back</a> <a href="/About%20Us.html">About</a>
<img src="/Images/Logo Big.PNG" alt="again"></p>""",
}

# page file -> the ids its links must reach as existing pages
EXPECTED_LINKS = {
    "index.txt": {"docs:getting_started", "docs:index", "docs:sub:deep_dive", "about_us"},
    "about_us.txt": {"index"},
    "docs/index.txt": {"docs:getting_started"},
    "docs/getting_started.txt": {"index", "docs:sub:deep_dive", "docs:index"},
    "docs/sub/deep_dive.txt": {"index", "docs:getting_started", "about_us"},
}
LINK = re.compile(r'<a href="[^"]*" class="(wikilink[12])"[^>]*data-wiki-id="([^"]*)"')
MEDIA = re.compile(r'<a href="[^"]*media=([^"&]*)" class="([^"]*)"[^>]*><img src="[^"]*"')


def build_site(root):
    for name, html in SITE.items():
        path = os.path.join(root, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "w") as f:
            f.write(html)
    os.makedirs(os.path.join(root, "Images"))
    with open(os.path.join(root, "Images", "Logo Big.PNG"), "wb") as f:
        f.write(PNG)


def main():
    cli = sys.argv[1]
    if not dokuwiki.available():
        print("dokuwiki or php-cli missing; skipped")
        return 77
    work = tempfile.mkdtemp(prefix="tamsel-site-")
    wiki = dokuwiki.Wiki(os.path.join(work, "wiki"))
    failures = []
    checks = 0

    def check(ok, message):
        nonlocal checks
        checks += 1
        if not ok:
            failures.append(message)

    try:
        src = os.path.join(work, "site")
        build_site(src)
        run = subprocess.run([cli, "--site", src, "--out", wiki.pages, "--media", wiki.media,
                              "--jobs", "2"], capture_output=True, text=True, timeout=60)
        check(run.returncode == 0, "exit code %d: %s" % (run.returncode, run.stderr))
        check("5 pages written" in run.stderr and "1 images copied" in run.stderr
              and "1 to missing pages" in run.stderr, "summary: " + run.stderr)

        written = sorted(os.path.relpath(os.path.join(d, f), wiki.pages)
                         for d, _, fs in os.walk(wiki.pages) for f in fs)
        check(written == sorted(EXPECTED_LINKS), "pages written: %s" % written)
        check(os.path.isfile(os.path.join(wiki.media, "images", "logo_big.png")),
              "image not copied under its media id")

        for page, wanted in EXPECTED_LINKS.items():
            path = os.path.join(wiki.pages, page)
            if not os.path.isfile(path):
                continue
            with open(path, "rb") as f:
                text = f.read()
            check(b"\r" not in text and text.endswith(b"\n"), page + ": line ends")
            html = wiki.render(text)
            links = LINK.findall(html)
            good = {target for kind, target in links if kind == "wikilink1"}
            bad = {target for kind, target in links if kind == "wikilink2"}
            check(wanted <= good, "%s: links to %s missing, rendered %s" % (page, wanted - good, links))
            if page == "index.txt":
                check(bad == {"missing"}, "index: unexpected red links %s" % bad)
                check('doku.php?id=docs:sub:deep_dive#part-two"' in html,
                      "index: fragment lost: " + html)
                check('href="http://example.com/"' in html, "index: external link lost")
            else:
                check(not bad, "%s: red links %s" % (page, bad))
            media = MEDIA.findall(html)
            if page in ("index.txt", "docs/getting_started.txt", "docs/sub/deep_dive.txt"):
                check(media and all(m == ("images:logo_big.png", "media") for m in media),
                      "%s: image does not resolve: %s" % (page, media))

        # A second run finds every file as it would write it, so it loses nothing and fails not.
        again = subprocess.run([cli, "--site", src, "--out", wiki.pages, "--media", wiki.media],
                               capture_output=True, text=True, timeout=60)
        check(again.returncode == 0 and "(5 unchanged)" in again.stderr,
              "second run: %d %s" % (again.returncode, again.stderr))
    finally:
        wiki.close()
        shutil.rmtree(work, ignore_errors=True)

    for message in failures:
        print("FAIL:", message)
    print("%d passed, %d failed" % (checks - len(failures), len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
