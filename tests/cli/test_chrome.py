#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-2.0-or-later
"""The site's chrome left out, the content kept: one small site per rule.

Usage: test_chrome.py TAMSEL_CLI
"""
import os
import subprocess
import sys
import tempfile

CLI = None
FAILURES = []


def page(body, title="t"):
    return f"<!DOCTYPE html><html><head><title>{title}</title></head><body>{body}</body></html>"


def run(args, input=None):
    return subprocess.run([CLI, *args], capture_output=True, text=True, input=input)


def migrate(files, *extra):
    """Writes files into a fresh site, migrates it; returns pages, stderr, status."""
    with tempfile.TemporaryDirectory(prefix="tamsel-chrome-") as work:
        src, out = os.path.join(work, "src"), os.path.join(work, "out")
        for name, text in files.items():
            os.makedirs(os.path.dirname(os.path.join(src, name)), exist_ok=True)
            with open(os.path.join(src, name), "w", encoding="utf-8") as f:
                f.write(text)
        done = run(["--site", src, "--out", out, "--jobs", "2", *extra])
        pages = {}
        for folder, _, names in os.walk(out):
            for name in names:
                with open(os.path.join(folder, name), encoding="utf-8") as f:
                    pages[os.path.relpath(os.path.join(folder, name), out)] = f.read()
        return pages, done.stderr, done.returncode


def expect(case, text, has=(), lacks=()):
    for s in has:
        if s not in text:
            FAILURES.append(f"{case}: {s!r} missing in:\n{text}")
    for s in lacks:
        if s in text:
            FAILURES.append(f"{case}: {s!r} should be left out of:\n{text}")


NAMES = ["alpha", "beta", "gamma", "delta"]


def landmark_site():
    nav = "".join(f'<li><a href="{n}.html">{n.title()}</a></li>' for n in NAMES)
    return {f"{n}.html": page(
        f'<header><a href="alpha.html">Sitename Home</a></header><nav><ul>{nav}</ul></nav>'
        f'<main><h1>Page {n}</h1><p>The {n} text is here, long enough to count as the page.</p>'
        f'<article><header><h2>Article of {n}</h2></header><p>Its words.</p>'
        f'<footer>Posted by {n}</footer></article></main>'
        f'<footer>Copyright Sitename</footer>') for n in NAMES}


def sidebar_site():
    files = {}
    for i, n in enumerate(NAMES):
        nxt = NAMES[(i + 1) % len(NAMES)]
        files[f"{n}.html"] = page(
            f'<div class="document"><div class="body"><h1>Topic {n}</h1>'
            f'<p>All about {n}: a paragraph of its own with words no other page has, {n}{n}.</p>'
            f'<p>More on {n} follows here.</p></div>'
            f'<div class="sphinxsidebar"><h3>Next topic</h3><p><a href="{nxt}.html">{nxt.title()} '
            f'chapter</a></p><h3>This Page</h3><ul><li><a href="_sources/{n}.txt">Show Source</a>'
            f'</li></ul><h3>Quick search</h3></div></div>')
    return files


def cases():
    # Landmarks: the page's header, nav and footer go; main stays, with the
    # header and footer of its article.
    pages, err, status = migrate(landmark_site(), "-v")
    expect("landmarks", pages.get("beta.txt", ""),
           has=["Page beta", "The beta text", "Article of beta", "Posted by beta"],
           lacks=["Copyright", "Sitename Home", "[[:gamma|Gamma]]"])
    expect("landmarks -v", err, has=["beta.html: left out", "pages without the site's chrome"])
    if status != 0:
        FAILURES.append(f"landmarks: exit {status}: {err}")

    # The same site twice: with --keep-chrome every page is whole, and the
    # page without chrome has no line the whole one lacks.
    whole, err, _ = migrate(landmark_site(), "--keep-chrome")
    expect("--keep-chrome", whole.get("beta.txt", ""), has=["Copyright Sitename", "Page beta"])
    expect("--keep-chrome summary", err, lacks=["without the site's chrome"])
    for name, text in pages.items():
        lines = {line.strip() for line in whole.get(name, "").splitlines()}
        for line in text.splitlines():
            if line.strip() and line.strip() not in lines:
                FAILURES.append(f"twice: {name}: {line!r} only without chrome")

    # A sidebar of no landmark that every page has, its "Next topic"
    # different on each.
    pages, err, _ = migrate(sidebar_site(), "-v")
    for n in NAMES:
        expect("sidebar " + n, pages.get(f"{n}.txt", ""),
               has=[f"Topic {n}", f"{n}{n}", f"More on {n}"],
               lacks=["Next topic", "Show Source", "Quick search", "chapter]]"])
    expect("sidebar -v", err, has=["div.sphinxsidebar: Next topic"])

    # A block every page has that holds the page's own title stays.
    files = {f"{n}.html": page(f'<div class="header"><h1>Title {n}</h1><p>Site</p></div>'
                               f'<p>Text of {n} that is long enough.</p>') for n in NAMES}
    pages, _, _ = migrate(files)
    expect("own heading", pages.get("gamma.txt", ""), has=["Title gamma", "Text of gamma"])

    # Generated tables of contents, MediaWiki's edit links, permalinks.
    toc = page('<h1>Guide</h1><div class="toc"><p>Contents</p><ul>'
               '<li><a href="#one">One</a></li><li><a href="guide.html#two">Two</a></li></ul></div>'
               '<h2 id="one">One<a class="headerlink" href="#one">\u00b6</a></h2><p>First.</p>'
               '<h2><span class="mw-headline" id="two">Two</span><span class="mw-editsection">'
               '<span>[</span><a href="index.php?action=edit&amp;section=2">edit</a>'
               '<span>]</span></span></h2><p>Second, see <a href="other.html">other</a>.</p>')
    pages, err, _ = migrate({"guide.html": toc, "other.html": page("<p>Other page.</p>")}, "-v")
    expect("toc", pages.get("guide.txt", ""),
           has=["====== Guide ======", "===== One =====", "===== Two =====", "First.",
                "[[:other|other]]"],
           lacks=["Contents", "[[#one", "edit", "\u00b6"])
    expect("toc -v", err, has=["(table of contents): Contents One Two"])

    # A MediaWiki page as Vector renders it: its own table of contents
    # beside DokuWiki's, [edit] in every heading, the panels around; inside
    # the main element the tagline, jump links, a redirect's note, the footer
    # for print and the categories box.
    files = {}
    for n in NAMES:
        files[f"{n}.html"] = page(
            f'<div id="mw-page-base"></div><div id="content" class="mw-body" role="main">'
            f'<div class="mw-indicators"><div id="mw-indicator-mw-helplink">'
            f'<a href="https://www.mediawiki.org/wiki/Help:Categories">Help</a></div></div>'
            f'<h1 id="firstHeading">{n.title()}</h1><div id="bodyContent" class="vector-body">'
            f'<div id="siteSub" class="noprint">From Wikiname</div><div id="contentSub">'
            f'<span class="mw-redirectedfrom">(Redirected from <a href="/index.php?title=Old'
            f'&amp;redirect=no">Old</a>)</span></div><a class="mw-jump-link" href="#mw-head">'
            f'Jump to navigation</a><div id="mw-content-text" class="mw-body-content">'
            f'<div class="mw-parser-output">'
            f'<p>Lead of {n}.</p><div id="toc" class="toc"><div class="toctitle"><h2>Contents</h2>'
            f'</div><ul><li><a href="#Geografie"><span class="tocnumber">1</span> '
            f'<span class="toctext">Geografie</span></a></li><li><a href="#Geschichte">'
            f'<span class="tocnumber">2</span> <span class="toctext">Geschichte</span></a></li>'
            f'</ul></div><h2><span class="mw-headline" id="Geografie">Geografie</span>'
            f'<span class="mw-editsection"><span class="mw-editsection-bracket">[</span>'
            f'<a href="/index.php?title={n}&amp;action=edit&amp;section=1">edit</a>'
            f'<span class="mw-editsection-bracket">]</span></span></h2><p>Land of {n}.</p>'
            f'<h2><span class="mw-headline" id="Geschichte">Geschichte</span></h2>'
            f'<p>Past of {n}.</p></div><div class="printfooter">Retrieved from "<a href='
            f'"http://w.example/index.php?title={n}&amp;oldid=5">http://w.example/index.php?'
            f'title={n}&amp;oldid=5</a>"</div></div><div id="catlinks" class="catlinks">'
            f'<a href="/index.php/Special:Categories">Category</a>: <ul><li><a href="c.html">'
            f'Lands</a></li></ul></div></div></div><div id="mw-navigation"><div id="mw-panel">'
            f'<a href="alpha.html">Main page</a></div></div><div id="footer" role="contentinfo">'
            f'<ul><li>This page was last edited on 1 May.</li></ul></div>')
    pages, _, _ = migrate(files)
    expect("mediawiki", pages.get("beta.txt", ""),
           has=["====== Beta ======", "==== Geografie ====", "Land of beta.", "Past of beta."],
           lacks=["edit", "Contents", "Main page", "last edited", "[[#geografie", "Help",
                  "Wikiname", "Redirected", "Jump to", "Retrieved", "Lands"])

    # Lists of links into the page that are its text, not its table of
    # contents: a few of many sections, a type linked in a parameter list.
    # A table of contents whose titles have no-break spaces where the
    # headings have spaces is one all the same.
    heads = "".join(f'<h3 id="m{k}">assert.m{k}(actual, expected)</h3><p>Does {k}.</p>'
                    for k in range(6))
    text = page('<h1>Assert</h1><div class="toc"><dl><dt><a href="#m0">1. assert.m0(actual, '
                'expected)</a></dt><dt><a href="#m1">assert.m1(actual, expected)</a></dt></dl></div>'
                '<p>Legacy mode uses == in:</p><ul><li><a href="#m1">assert.m1()</a></li>'
                '<li><a href="#m4">assert.m4()</a></li></ul>'
                '<ul><li>Type: <a href="#m2">&lt;m2&gt;</a></li><li>Type: <a href="#m3">&lt;m3&gt;'
                '</a></li></ul>' + heads)
    pages, _, _ = migrate({"assert.html": text, "other.html": page("<p>Other.</p>")})
    expect("lists of own links", pages.get("assert.txt", ""),
           has=["Legacy mode uses == in:", "|assert.m1()]]", "|assert.m4()]]", "Type: [[#"],
           lacks=["1. assert.m0", "\u00a0"])

    # A single article is the content.
    files = {f"{n}.html": page(f'<div class="top">Menu</div><article><h1>{n}</h1>'
                               f'<p>Story {n}.</p></article><div class="end">Legal</div>')
             for n in NAMES}
    pages, _, _ = migrate(files)
    expect("article", pages.get("delta.txt", ""), has=["Story delta"], lacks=["Menu", "Legal"])

    # An index page that is all navigation keeps its links, whole; so does
    # a single-page site whose nav is all there is.
    files = landmark_site()
    files["index.html"] = page("<nav><ul>" + "".join(
        f'<li><a href="{n}.html">{n.title()} chapter</a></li>' for n in NAMES) + "</ul></nav>")
    pages, err, _ = migrate(files)
    expect("index of links", pages.get("start.txt", ""),
           has=["[[:alpha|Alpha chapter]]", "[[:delta|Delta chapter]]"])
    pages, err, _ = migrate({"only.html": page(
        '<header><h1>Only page</h1></header><nav><p>Everything: <a href="#a">A</a>, '
        '<a href="#b">B</a>, and a long description of the whole thing.</p></nav>')})
    expect("single page", pages.get("only.txt", ""), has=["Only page", "long description"])
    pages, err, _ = migrate({"one.html": page(
        '<nav><a href="x.html">Home</a></nav><main><h1>One</h1><p>Main text.</p></main>')})
    expect("single page with main", pages.get("one.txt", ""), has=["Main text"], lacks=["Home"])

    # Content that would be a sliver of the page's text: the page converts
    # whole, and says so.
    long_nav = " ".join(f"Entry{k}" for k in range(200))
    pages, err, _ = migrate({"thin.html": page(
        f'<div class="menu">{long_nav}</div><main><p>Tiny.</p></main>')})
    expect("sliver", pages.get("thin.txt", ""), has=["Tiny.", "Entry199"])
    expect("sliver message", err, has=["thin.html: the content found holds 0% of the page's text; "
                                       "converted whole"])

    # --content for a site: pages it misses convert whole, with a message.
    files = sidebar_site()
    files["odd.html"] = page("<p>No body class here at all.</p><p>Second.</p>")
    pages, err, _ = migrate(files, "--content", "div.body")
    expect("--content site", pages.get("beta.txt", ""), has=["Topic beta"], lacks=["Next topic"])
    expect("--content miss", pages.get("odd.txt", ""), has=["No body class", "Second."])
    expect("--content miss message", err, has=["odd.html: --content 'div.body' matches nothing"])

    # One document converts whole unless --content says otherwise.
    doc = page('<div id="nav">Menu</div><div id="c" class="x y"><p>Kept <b>here</b>.</p>'
               '<div role="main"><p>Inner.</p></div></div><p data-k="v">Data.</p>')
    for args, has, lacks in [
            ([], ["Menu", "Kept", "Data."], []),
            (["--content", "#c"], ["Kept **here**.", "Inner."], ["Menu", "Data."]),
            (["--content", "div.x.y"], ["Kept"], ["Menu"]),
            (["--content", "[role=main]"], ["Inner."], ["Kept", "Menu"]),
            (["--content", "div#c div"], ["Inner."], ["Kept", "Menu"]),
            (["--content", "[data-k='v'], #nav"], ["Menu", "Data."], ["Kept"]),
            (["--content", "section"], ["Menu", "Kept", "Data."], [])]:
        done = run(["-", *args], input=doc)
        expect("document " + " ".join(args), done.stdout, has=has, lacks=lacks)
    done = run(["-", "--content", "section"], input=doc)
    expect("document no match", done.stderr, has=["matches nothing"])
    for bad in ["", "a >b", "[x", "div..y", "a,"]:
        done = run(["-", "--content", bad], input=doc)
        if done.returncode != 2 or "--content" not in done.stderr:
            FAILURES.append(f"--content {bad!r}: exit {done.returncode}, {done.stderr!r}")
    done = run(["-", "--keep-chrome"], input=doc)
    if done.returncode != 2:
        FAILURES.append(f"--keep-chrome without --site: exit {done.returncode}")


def main():
    global CLI
    if len(sys.argv) != 2:
        print(__doc__)
        return 2
    CLI = sys.argv[1]
    cases()
    for failure in FAILURES:
        print("FAIL", failure)
    print(f"{len(FAILURES)} failures")
    return 1 if FAILURES else 0


if __name__ == "__main__":
    sys.exit(main())
