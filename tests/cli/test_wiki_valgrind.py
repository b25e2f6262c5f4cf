# SPDX-License-Identifier: GPL-2.0-or-later
"""A real manual, as Debian installs it, pushed into a running DokuWiki.

Usage: test_wiki_valgrind.py TAMSEL_CLI [SRC_DIR [NAMESPACE]]
(SRC_DIR defaults to the valgrind manual, /usr/share/doc/valgrind/html,
NAMESPACE to "valgrind"; exit 77 when SRC_DIR or DokuWiki is missing)

Starts the wiki of wiki_server.py (TAMSEL_DOKUWIKI chooses the install) and
migrates the manual into NAMESPACE through the API. A user who may edit but
not upload is refused before anything is written, when the manual has images. Every HTML file must arrive as a page, every image
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

import dokuwiki
import site_links
import test_wiki_dokuwiki as wikitest
import wiki_server
from checks import check, report  # noqa: E402

IMG = re.compile(rb"<img\s[^>]*?src=\"([^\"]+)\"", re.I)


def shown_images(src, namespace, pages):
    """used_images, less those no converted page (pages: {path: text}) shows:
    the arrows of navigation bars go with the bars, the site's chrome."""
    return {m: data for m, data in used_images(src, namespace).items()
            if any(":" + m in text for text in pages.values())}


def used_images(src, namespace):
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
                        found[namespace + ":" + rel.lower().replace(os.sep, ":")] = f.read()
    return found


def state(api, pages, media):
    """What a rerun must leave as it is: every page's revisions, every file's time."""
    return ({p: (api.wiki.getPageInfo(p)["version"], len(api.wiki.getPageVersions(p, 0)))
             for p in pages},
            {m: str(api.wiki.getAttachmentInfo(m)["lastModified"]) for m in media})


def summary_line(result):
    lines = [line for line in result.stderr.splitlines() if "pages written" in line]
    return lines[-1] if lines else ""


def media_files(wiki):
    media = os.path.join(wiki.data, "media")
    return sorted(os.path.relpath(os.path.join(d, f), media)
                  for d, _, fs in os.walk(media) for f in fs)


def main():
    cli = sys.argv[1]
    src = sys.argv[2] if len(sys.argv) > 2 else "/usr/share/doc/valgrind/html"
    namespace = sys.argv[3] if len(sys.argv) > 3 else "valgrind"
    if not wiki_server.available() or not os.path.isdir(src):
        print("skipped: " + (dokuwiki.skip_reason() if not dokuwiki.available() else src + " missing"))
        return 77
    wikitest.CLI = cli
    run = wikitest.run
    work = tempfile.mkdtemp(prefix="tamsel-valgrind-")
    wiki = wiki_server.WikiServer()
    try:
        expected = wikitest.file_migration(src, os.path.join(work, "files"),
                                           ["--namespace", namespace])
        html_files = sum(1 for _, _, names in os.walk(src) for n in names
                         if n.lower().endswith((".html", ".htm")))
        images = shown_images(src, namespace, expected)
        push = ["--site", src, "--wiki", wiki.url, "--user", "tester", "--namespace", namespace]

        wrong = run(push, password="wrong")
        check(wrong.returncode == 1 and "wrong user name or password" in wrong.stderr
              and wiki.page_files() == [],
              "wrong password: %d %s %s" % (wrong.returncode, wrong.stderr, wiki.page_files()))
        if images:
            writer = run(["--site", src, "--wiki", wiki.url, "--user", "writer",
                          "--namespace", namespace])
            check(writer.returncode == 1
                  and "may not upload media files into namespace :%s:" % namespace
                  in writer.stderr and "nothing was written" in writer.stderr
                  and "pages written" not in writer.stderr
                  and wiki.page_files() == [] and media_files(wiki) == [],
                  "no upload permission: %d %s %s" % (writer.returncode, writer.stderr,
                                                       wiki.page_files()))

        start = time.time()
        first = run(push, timeout=600)
        seconds = time.time() - start
        print("first run:  " + summary_line(first))
        check(first.returncode == 0, "first run: %d %s" % (first.returncode, first.stderr))

        api = wiki.client("tester")
        pages = [p["id"] for p in api.dokuwiki.getPagelist(namespace, {"depth": 0})]
        check(len(pages) == html_files == len(expected),
              "%d HTML files, %d pages in the wiki, %d by the file migration"
              % (html_files, len(pages), len(expected)))
        if os.path.exists(os.path.join(src, "index.html")):
            check(namespace + ":start" in pages, "no start page %s:start" % namespace)
        differ = [p for p in expected if api.wiki.getPage(p) != expected[p]]
        check(not differ, "pages other than the file migration's: %s" % differ[:5])
        missing = [m for m, data in images.items()
                   if api.wiki.getAttachmentInfo(m).get("size") != len(data)
                   or wikitest.attachment(api, m) != data]
        check(not missing, "images missing or different: %s" % missing)

        figures, bad = wikitest.follow_links(wiki, api, pages)
        ok = site_links.good_enough(dict(figures, exit=first.returncode, pages=len(pages),
                                         html_files=html_files))
        check(ok, "links: %s %s" % (figures, bad[:10]))

        before = state(api, pages, images)
        again = run(push, timeout=600)
        print("second run: " + summary_line(again))
        check(again.returncode == 0 and "(%d unchanged)" % len(pages) in again.stderr,
              "second run: %d %s" % (again.returncode, again.stderr))
        check(state(api, pages, images) == before, "the second run made new revisions")

        edited = "Edited in the wiki\n"
        victim = namespace + ":faq" if namespace + ":faq" in pages else sorted(pages)[-1]
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

        print("DokuWiki %s (%s)" % (dokuwiki.NAME, dokuwiki.VERSION))
        print("HTML files -> pages:   %d -> %d" % (html_files, len(pages)))
        print("images used -> in wiki: %d -> %d" % (len(images), len(images) - len(missing)))
        print("page links landing:    " + site_links.percent(figures["links_ok"], figures["links"]))
        print("fragments landing:     "
              + site_links.percent(figures["fragments_ok"], figures["fragments"]))
        print("media present:         " + site_links.percent(figures["media_ok"], figures["media"]))
        print("first run took %.1f s" % seconds)
    except Exception as e:  # reported with the checks that failed before it
        check(False, repr(e))
    finally:
        wiki.close()
        shutil.rmtree(work, ignore_errors=True)
    return report()


if __name__ == "__main__":
    sys.exit(main())
