# SPDX-License-Identifier: GPL-2.0-or-later
"""Migrates a site with tamsel-cli and follows every link in the real renderer.

Usage: site_links.py [--check] TAMSEL_CLI SRC_DIR NAMESPACE [more tamsel-cli options]
(NAMESPACE "-": none, for builds that lack --namespace)

With --check, exits 1 unless the migration exits 0, every HTML file becomes a
page, at least 98% of page links and 95% of fragment links land and every
media reference is there; 77 when SRC_DIR or DokuWiki is missing.

Every page is rendered by DokuWiki; a link between pages counts as landing
when DokuWiki shows it as an existing page (wikilink1), a fragment link when
its target page exists and has an element with that id, and an image or media
link when the media file is there. Prints the figures; exit 0.
"""
import os
import re
import subprocess
import sys
import tempfile
from urllib.parse import unquote

import dokuwiki

RENDER_PHP = r"""<?php
if (!defined('DOKU_INC')) define('DOKU_INC', %s);
define('NOSESSION', 1);
require_once(DOKU_INC . 'inc/init.php');
while (($line = fgets(STDIN)) !== false) {
    global $ID;
    $ID = rtrim($line, "\n");
    $info = array();
    $html = p_render('xhtml', p_get_instructions(rawWiki($ID)), $info);
    echo "\x01PAGE ", $ID, "\n", $html, "\n";
}
"""

ANCHOR = re.compile(r"<a\s([^>]*)>")
ATTR = re.compile(r'([a-z-]+)="([^"]*)"')
ELEMENT_ID = re.compile(r'\sid="([^"]*)"')
MEDIA_REF = re.compile(r'(?:src|href)="[^"]*?[?&;]media=([^"&#]*)')


def ids_below(root, strip_txt):
    found = set()
    for folder, _, files in os.walk(root):
        for name in files:
            rel = os.path.relpath(os.path.join(folder, name), root)
            if strip_txt:
                if not rel.endswith(".txt"):
                    continue
                rel = rel[:-4]
            found.add(unquote(rel.replace("+", " ")).replace(os.sep, ":"))
    return found


def render_all(wiki, page_ids):
    script = os.path.join(wiki.root, "render_all.php")
    with open(script, "w") as f:
        f.write(RENDER_PHP % dokuwiki.php_string(dokuwiki.DOKU_INC + "/"))
    out = wiki.php([script], "".join(p + "\n" for p in page_ids).encode()).decode("utf-8")
    pages = {}
    for chunk in out.split("\x01PAGE ")[1:]:
        page, _, html = chunk.partition("\n")
        pages[page] = html
    return pages


def follow(wiki, pages_html):
    """Counts of links, fragments and media references and the failures."""
    media = ids_below(wiki.media, False)
    anchors = {page: set(ELEMENT_ID.findall(html)) for page, html in pages_html.items()}
    figures = dict(links=0, links_ok=0, fragments=0, fragments_ok=0, media=0, media_ok=0)
    bad = []
    for page, html in pages_html.items():
        for tag in ANCHOR.findall(html):
            attrs = dict(ATTR.findall(tag))
            classes = attrs.get("class", "").split()
            href = attrs.get("href", "")
            if "wikilink1" in classes or "wikilink2" in classes:
                target = attrs.get("data-wiki-id")
                if target is None and href.startswith("#"):
                    target = page
                if target is None:
                    continue
                fragment = unquote(href.partition("#")[2]) if "#" in href else None
                if target != page or not href.startswith("#"):
                    figures["links"] += 1
                    if "wikilink1" in classes:
                        figures["links_ok"] += 1
                    else:
                        bad.append("%s: link to missing page %s" % (page, target))
                if fragment:
                    figures["fragments"] += 1
                    if fragment in anchors.get(target, ()):
                        figures["fragments_ok"] += 1
                    else:
                        bad.append("%s: fragment %s#%s lands nowhere" % (page, target, fragment))
        for ref in MEDIA_REF.findall(html):
            figures["media"] += 1
            if unquote(ref) in media:
                figures["media_ok"] += 1
            else:
                bad.append("%s: media %s missing" % (page, unquote(ref)))
    return figures, bad


def migrate_and_follow(cli, src, wiki, extra):
    run = subprocess.run([cli, "--site", src, "--out", wiki.pages, "--media", wiki.media] + extra,
                         capture_output=True, text=True, timeout=600)
    page_ids = sorted(ids_below(wiki.pages, True))
    figures, bad = follow(wiki, render_all(wiki, page_ids))
    figures["html_files"] = sum(1 for _, _, files in os.walk(src) for f in files
                                if f.lower().endswith((".html", ".htm")))
    figures["pages"] = len(page_ids)
    figures["exit"] = run.returncode
    return run, figures, bad


def percent(ok, total):
    return "%d of %d (%.1f%%)" % (ok, total, 100.0 * ok / total if total else 100.0)


def good_enough(f):
    return (f["exit"] == 0 and f["pages"] == f["html_files"]
            and f["links_ok"] >= 0.98 * f["links"] and f["fragments_ok"] >= 0.95 * f["fragments"]
            and f["media_ok"] == f["media"])


def main():
    args = sys.argv[1:]
    check = args[:1] == ["--check"]
    if check:
        args = args[1:]
    cli, src, namespace = args[:3]
    if not dokuwiki.available() or not os.path.isdir(src):
        print("skipped: " + (dokuwiki.skip_reason() if not dokuwiki.available() else src + " missing"))
        return 77
    wiki = dokuwiki.Wiki(tempfile.mkdtemp(prefix="tamsel-measure-"))
    try:
        extra = ([] if namespace == "-" else ["--namespace", namespace]) + args[3:]
        run, figures, bad = migrate_and_follow(cli, src, wiki, extra)
        print(run.stderr.strip().splitlines()[-1] if run.stderr.strip() else "")
        print("exit code:           %d" % figures["exit"])
        print("HTML files -> pages: %d -> %d" % (figures["html_files"], figures["pages"]))
        print("page links landing:  " + percent(figures["links_ok"], figures["links"]))
        print("fragments landing:   " + percent(figures["fragments_ok"], figures["fragments"]))
        print("media present:       " + percent(figures["media_ok"], figures["media"]))
        for line in bad[:15]:
            print("  " + line)
    finally:
        wiki.close()
    return 1 if check and not good_enough(figures) else 0


if __name__ == "__main__":
    sys.exit(main())
