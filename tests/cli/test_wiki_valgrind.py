# SPDX-License-Identifier: GPL-2.0-or-later
"""The valgrind manual, as Debian installs it, pushed into a running DokuWiki.

Usage: test_wiki_valgrind.py TAMSEL_CLI [SRC_DIR]
(SRC_DIR defaults to /usr/share/doc/valgrind/html; exit 77 when it or
DokuWiki is missing)

Starts the wiki of wiki_server.py and migrates the manual into the namespace
"valgrind" through the API. Every HTML file must arrive as a page, every image
the pages show as an attachment with the same bytes, the root index as the
namespace's start page, and the links, fragments and media of the rendered
pages must land as in the file migration. A second run must change nothing
(no new revision of a page or a media file), a page edited in the wiki must
be kept and reported, and a wrong password must be refused with nothing
written. Prints the figures.
"""
import os
import re
import shutil
import sys
import tempfile
import time
from urllib.parse import unquote, urljoin

import site_links
import test_wiki_dokuwiki as wikitest
import wiki_server

NAMESPACE = "valgrind"
IMG = re.compile(rb"<img\s[^>]*?src=\"([^\"]+)\"", re.I)


def used_images(src):
    """{media id: bytes} of every image an HTML file of src shows."""
    found = {}
    for folder, _, names in os.walk(src):
        for name in names:
            if not name.lower().endswith((".html", ".htm")):
                continue
            page = os.path.relpath(os.path.join(folder, name), src)
            with open(os.path.join(folder, name), "rb") as f:
                html = f.read()
            for ref in IMG.findall(html):
                ref = ref.decode("utf-8", "replace")
                if re.match(r"[a-z]+:", ref):
                    continue
                rel = os.path.normpath(unquote(urljoin(page, ref.split("#")[0])))
                path = os.path.join(src, rel)
                if os.path.isfile(path):
                    with open(path, "rb") as f:
                        found[NAMESPACE + ":" + rel.lower().replace(os.sep, ":")] = f.read()
    return found


def state(api, pages, media):
    """What a rerun must leave as it is: every page's revisions, every file's time."""
    return ({p: (api.wiki.getPageInfo(p)["version"], len(api.wiki.getPageVersions(p, 0)))
             for p in pages},
            {m: str(api.wiki.getAttachmentInfo(m)["lastModified"]) for m in media})


def main():
    cli = sys.argv[1]
    src = sys.argv[2] if len(sys.argv) > 2 else "/usr/share/doc/valgrind/html"
    if not wiki_server.available() or not os.path.isdir(src):
        print("dokuwiki, php-cli or %s missing; skipped" % src)
        return 77
    wikitest.CLI = cli
    run = wikitest.run
    failures = []

    def check(ok, message):
        if not ok:
            failures.append(message)

    work = tempfile.mkdtemp(prefix="tamsel-valgrind-")
    wiki = wiki_server.WikiServer()
    try:
        expected = wikitest.file_migration(src, os.path.join(work, "files"),
                                           ["--namespace", NAMESPACE])
        html_files = sum(1 for _, _, names in os.walk(src) for n in names
                         if n.lower().endswith((".html", ".htm")))
        # Those the pages show: the arrows of the navigation bars go with the
        # bars, the site's chrome.
        images = {m: data for m, data in used_images(src).items()
                  if any(":" + m in text for text in expected.values())}
        push = ["--site", src, "--wiki", wiki.url, "--user", "tester", "--namespace", NAMESPACE]

        wrong = run(push, password="wrong")
        check(wrong.returncode == 1 and "wrong user name or password" in wrong.stderr
              and wiki.page_files() == [],
              "wrong password: %d %s %s" % (wrong.returncode, wrong.stderr, wiki.page_files()))

        start = time.time()
        first = run(push, timeout=600)
        seconds = time.time() - start
        print("first run:  " + (first.stderr.strip().splitlines() or [""])[-1])
        check(first.returncode == 0, "first run: %d %s" % (first.returncode, first.stderr))

        api = wiki.client("tester")
        pages = [p["id"] for p in api.dokuwiki.getPagelist(NAMESPACE, {"depth": 0})]
        check(len(pages) == html_files == len(expected),
              "%d HTML files, %d pages in the wiki, %d by the file migration"
              % (html_files, len(pages), len(expected)))
        check(NAMESPACE + ":start" in pages, "no start page %s:start" % NAMESPACE)
        differ = [p for p in expected if api.wiki.getPage(p) != expected[p]]
        check(not differ, "pages other than the file migration's: %s" % differ[:5])
        missing = [m for m, data in images.items()
                   if api.wiki.getAttachmentInfo(m).get("size") != len(data)
                   or wikitest.attachment(api, m) != data]
        check(images and not missing, "images missing or different: %s" % missing)

        figures, bad = wikitest.follow_links(wiki, api, pages)
        ok = site_links.good_enough(dict(figures, exit=first.returncode, pages=len(pages),
                                         html_files=html_files))
        check(ok, "links: %s %s" % (figures, bad[:10]))

        before = state(api, pages, images)
        again = run(push, timeout=600)
        print("second run: " + (again.stderr.strip().splitlines() or [""])[-1])
        check(again.returncode == 0 and "(%d unchanged)" % len(pages) in again.stderr,
              "second run: %d %s" % (again.returncode, again.stderr))
        check(state(api, pages, images) == before, "the second run made new revisions")

        edited = "Edited in the wiki\n"
        victim = NAMESPACE + ":faq"
        api.wiki.putPage(victim, edited, {"sum": "by hand", "minor": False})
        kept = run(push, timeout=600)
        check(kept.returncode == 1 and "page :%s exists with other content" % victim in kept.stderr
              and "1 files failed" in kept.stderr,
              "conflict: %d %s" % (kept.returncode, kept.stderr))
        check(api.wiki.getPage(victim) == edited, "the edited page was overwritten")

        revisions = state(api, pages, images)
        wrong = run(push + ["--force"], password="wrong")
        check(wrong.returncode == 1 and "wrong user name or password" in wrong.stderr
              and state(api, pages, images) == revisions,
              "wrong password after the import: %d %s" % (wrong.returncode, wrong.stderr))

        print("HTML files -> pages:   %d -> %d (start page %s:start)"
              % (html_files, len(pages), NAMESPACE))
        print("images used -> in wiki: %d -> %d" % (len(images), len(images) - len(missing)))
        print("page links landing:    " + site_links.percent(figures["links_ok"], figures["links"]))
        print("fragments landing:     "
              + site_links.percent(figures["fragments_ok"], figures["fragments"]))
        print("media present:         " + site_links.percent(figures["media_ok"], figures["media"]))
        print("first run took %.1f s" % seconds)
    except Exception as e:  # reported with the checks that failed before it
        failures.append(repr(e))
    finally:
        wiki.close()
        shutil.rmtree(work, ignore_errors=True)
    for message in failures:
        print("FAIL:", message)
    print("%d failed" % len(failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
