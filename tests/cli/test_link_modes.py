# SPDX-License-Identifier: GPL-2.0-or-later
"""The same links through every mode of tamsel-cli, against one table.

Usage: test_link_modes.py TAMSEL_CLI

One page (docs/page.html of a small site) holds every kind of link: relative,
"..", a folder, queries, fragments, start pages, colliding names, media,
schemes. It is converted as the window converts (--no-emphasis, from
standard input), as a single document, as a single document under
--namespace, in a site migrated into folders and in the same site pushed
into a running DokuWiki (wiki_server.py; that mode is skipped without one).
The window and the single document must write the same; the site on disk
and the site in the wiki must write the same; each mode must write what the
table says, and where the table gives one value for --namespace and the
sites, they agree (the README says where a site knows more: files that
exist, collisions, pages saved under a query, other pages' anchors). With
--base-url, a single document and a site on disk are held to a table of
their own: addresses for what leads to no page of the site.
"""
import os
import shutil
import subprocess
import sys
import tempfile

import wiki_server
from checks import check, report, tiny_png  # noqa: E402

CLI = sys.argv[1]
NS = "ns"

# name, href, window and single document, --namespace, site (None: as --namespace)
CASES = [
    ("relative", "other.html", "[[other|t]]", "[[:ns:other|t]]", "[[:ns:docs:other|t]]"),
    ("no-extension", "other", "[[other|t]]", "[[:ns:other|t]]", "[[:ns:docs:other|t]]"),
    ("php", "x.php", "[[x|t]]", "[[:ns:x|t]]", "[[:ns:docs:x|t]]"),
    ("dotdot", "../index.html", "[[..:start|t]]", "[[:ns:start|t]]", None),
    ("root", "/docs/other.html", "[[:docs:other|t]]", "[[:ns:docs:other|t]]", None),
    ("folder", "sub/", "[[sub:|t]]", "[[:ns:sub:start|t]]", "[[:ns:docs:sub:start|t]]"),
    ("index", "sub/index.html", "[[sub:start|t]]", "[[:ns:sub:start|t]]",
     "[[:ns:docs:sub:start|t]]"),
    ("query-12", "/show.php?id=12", "[[:show.php_id_12|t]]", "[[:ns:show.php_id_12|t]]", None),
    ("query-13", "/show.php?id=13", "[[:show.php_id_13|t]]", "[[:ns:show.php_id_13|t]]", None),
    ("query-escaped", "/index.php?title=Einwohner", "[[:index.php_title_einwohner|t]]",
     "[[:ns:index.php_title_einwohner|t]]", "[[:ns:index.php_3ftitle_einwohner|t]]"),
    ("fragment-heading", "#intro", "[[#introduction|t]]", "[[#introduction|t]]", None),
    ("fragment-section", "#each", "[[#introduction|t]]", "[[#introduction|t]]", None),
    ("fragment-missing", "#nowhere", "[[#|t]]", "[[#|t]]", "[[:ns:docs:page|t]]"),
    ("other-page-fragment", "other.html#p2", "[[other#p2|t]]", "[[:ns:other#p2|t]]",
     "[[:ns:docs:other#part_two|t]]"),
    ("collision", "FAQ.html", "[[FAQ|t]]", "[[:ns:faq|t]]", "[[:ns:docs:faq_2|t]]"),
    ("media", "files/r.pdf", "{{files:r.pdf|t}}", "{{:ns:files:r.pdf|t}}",
     "{{:ns:docs:files:r.pdf|t}}"),
    ("image", "", "{{..:img:a.png}}", "{{:ns:img:a.png}}", None),
    ("external", "https://example.org/a?b=1", "[[https://example.org/a?b=1|t]]", None, None),
    ("mail", "mailto:a@example.org", "[[a@example.org|t]]", None, None),
    ("scheme", "tel:123", "t", None, None),
]

# With --base-url: a single document (published at docs/page.html) makes every
# local link an address; a site keeps the links to its own pages and files.
BASE = "https://example.org/"
BASE_CASES = [
    ("relative", BASE + "docs/other.html", "[[:ns:docs:other|t]]"),
    ("php", BASE + "docs/x.php", "[[https://example.org/docs/x.php|t]]"),
    ("query-12", BASE + "show.php?id=12", "[[:ns:show.php_id_12|t]]"),
    ("query-13", BASE + "show.php?id=13", "[[:ns:show.php_id_13|t]]"),
    ("fragment-heading", None, "[[#introduction|t]]"),
    ("folder", BASE + "docs/sub/", "[[:ns:docs:sub:start|t]]"),
    ("image", None, "{{:ns:img:a.png}}"),
]

PAGE = ("<html><body><h2 id='intro'>Introduction</h2><p>The <span id='each'>each</span> "
        "function.</p>"
        + "".join(
            "<p>CASE %s: %s</p>" % (name, "<img src='../img/a.png'>" if name == "image"
                                     else "<a href='%s'>t</a>" % href)
            for name, href, *_ in CASES)
        + "</body></html>")

FILES = {
    "index.html": "<p>home</p>",
    "docs/page.html": PAGE,
    "docs/other.html": "<h2 id='p2'>Part Two</h2><p>x</p>",
    "docs/faq.html": "<p>faq</p>",
    "docs/FAQ.html": "<p>FAQ</p>",
    "docs/sub/index.html": "<p>sub</p>",
    "show.php?id=12.html": "<p>twelve</p>",
    "show.php?id=13.html": "<p>thirteen</p>",
    "index.php%3Ftitle=Einwohner.html": "<p>Einwohner</p>",
    "docs/files/r.pdf": "%PDF-1.4",
}


def run(args, stdin=None):
    env = dict(os.environ, TAMSEL_WIKI_PASSWORD=wiki_server.PASSWORD)
    result = subprocess.run([CLI] + args, input=stdin, capture_output=True, text=True, env=env,
                            timeout=120)
    check(result.returncode == 0, "%s: exit %d: %s" % (args, result.returncode, result.stderr))
    return result.stdout


def cases_of(text):
    """{case name: markup} from a converted docs/page."""
    found = {}
    for line in text.splitlines():
        if line.startswith("CASE "):
            name, _, markup = line[len("CASE "):].partition(": ")
            found[name] = markup
    return found


def main():
    work = tempfile.mkdtemp(prefix="tamsel-link-modes-")
    wiki = None
    try:
        src = os.path.join(work, "site")
        for path, text in FILES.items():
            full = os.path.join(src, path)
            os.makedirs(os.path.dirname(full), exist_ok=True)
            with open(full, "w", encoding="latin-1") as f:
                f.write(text)
        os.makedirs(os.path.join(src, "img"))
        with open(os.path.join(src, "img", "a.png"), "wb") as f:
            f.write(tiny_png())
        page = os.path.join(src, "docs", "page.html")
        modes = {
            "window": cases_of(run(["--no-emphasis"], stdin=PAGE)),
            "document": cases_of(run([page])),
            "namespace": cases_of(run(["--namespace", NS, page])),
        }
        out = os.path.join(work, "out")
        run(["--site", src, "--out", os.path.join(out, "pages"), "--media",
             os.path.join(out, "media"), "--namespace", NS, "-q"])
        with open(os.path.join(out, "pages", NS, "docs", "page.txt"), encoding="utf-8") as f:
            modes["site"] = cases_of(f.read())
        if wiki_server.available():
            wiki = wiki_server.WikiServer()
            run(["--site", src, "--wiki", wiki.url, "--user", "tester", "--namespace", NS, "-q"])
            modes["wiki"] = cases_of(wiki.client("tester").wiki.getPage(NS + ":docs:page"))
        else:
            print("dokuwiki or php-cli missing; the pushed site is not compared")

        single = cases_of(run(["--base-url", BASE + "docs/page.html", page]))
        run(["--site", src, "--out", os.path.join(out, "based"), "--media",
             os.path.join(out, "based-media"), "--namespace", NS, "--base-url", BASE, "-q"])
        with open(os.path.join(out, "based", NS, "docs", "page.txt"), encoding="utf-8") as f:
            based = cases_of(f.read())
        for name, url, site in BASE_CASES:
            if url:
                want = "[[%s|t]]" % url
            else:
                want = {"fragment-heading": "[[#introduction|t]]",
                        "image": "{{https://example.org/img/a.png}}"}[name]
            check(single.get(name) == want,
                  "%s with --base-url: %r, expected %r" % (name, single.get(name), want))
            check(based.get(name) == site,
                  "%s in a site with --base-url: %r, expected %r" % (name, based.get(name), site))

        for name, _, lone, below, site in CASES:
            below = below or lone
            site = site or below
            want = {"window": lone, "document": lone, "namespace": below, "site": site,
                    "wiki": site}
            for mode, found in modes.items():
                check(found.get(name) == want[mode],
                      "%s in %s: %r, expected %r" % (name, mode, found.get(name), want[mode]))
    finally:
        if wiki:
            wiki.close()
        shutil.rmtree(work, ignore_errors=True)
    return report()


if __name__ == "__main__":
    sys.exit(main())
