# SPDX-License-Identifier: GPL-2.0-or-later
"""Heading anchors against DokuWiki's own renderer.

Usage: test_anchors_dokuwiki.py ID_TOOL TAMSEL_CLI

Each document goes through tamsel-cli and DokuWiki's renderer; the anchors
DokuWiki gives the headings, in order, must be those the anchor function
predicts, and every element name must land on one of them.
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile

import dokuwiki
from checks import check, report  # noqa: E402

DOCUMENTS = [
    ("duplicates", "<h2>Intro</h2><p>a</p><h2>Intro</h2><h3>Intro</h3><h2>Intro 1</h2>", {}),
    ("non-ASCII", "<h2>Über uns</h2><h2>Ελληνικά</h2><h2>日本語</h2><h2>Ça va?</h2>", {}),
    ("numbers", "<h2>1.2 Setup</h2><h2>1.2</h2><h2>2</h2><h2>section2</h2><h2>3.</h2>", {}),
    ("references", "<h2>A &amp; B &lt;c&gt;</h2><h2>a &ndash; b</h2><h2>a \u2013 b</h2>"
                   "<h2>x&nbsp;y</h2><h2>\u201cQuoted\u201d \u2014 dash</h2>", {}),
    ("breaks and blocks", "<h2>One<br>Two</h2><h2><span>x</span><div>y</div>z</h2>"
                          "<h3>a<br><br>b</h3>", {}),
    ("blank headings", "<h2> </h2><h2>Real</h2><h2><img src='a.png'></h2><h2>Real</h2>", {}),
    ("headings that are no headings",
     "<table><tr><td><h2>In table</h2></td></tr></table><ul><li><h3>In list</h3></li></ul>"
     "<blockquote><h2>Quoted</h2></blockquote><h2>In table</h2><h2>In list</h2><h6>Six</h6>", {}),
    ("headings in list items",
     "<ul><li><div><h3>In div</h3></div><section><h4>In section</h4></section></li>"
     "<ul><li><h3>Nested</h3></li></ul></ul><dl><dt><h3>Term</h3></dt><dd><h3>Def</h3>"
     "<table><tr><td><h3>Cell</h3></td></tr></table></dd></dl>", {}),
    ("nested in blocks", "<div><section><article><h3>Deep</h3></article></section></div>"
                         "<center><h4>Centred</h4></center><form><h5>Form</h5></form>", {}),
    ("equals signs", "<h2>a = b</h2><h2>== x ==</h2><h1>=</h1><h3>trailing ==</h3>", {}),
    ("markup inside", "<h2><a href='x.html'>Link text</a> more</h2><h2><code>--opt=value</code>"
                      "</h2><h2><b>Bold</b> <i>it</i> %% **</h2><h2>a<script>b</script>c</h2>", {}),
    ("anchors",
     "<a name='top'></a><h1>Title</h1><p id='p1'>text</p>"
     "<div id='wrap'><h2 id='h'>Sub <a id='inner'></a></h2></div><p>x<a name='mid'></a>y</p><p>x<a name='later'></a></p>"
     "<div class='sect1'><div class='titlepage'><div><div><h2 class='title'>"
     "<a name='manual-core.whatis'></a>2.1.&nbsp;What Valgrind does</h2></div></div></div></div>"
     "<p id='first'>x</p><span id='first'>second of a name</span><a name='x' id='y'></a>"
     "<p><img src='i.png' id='img'></p><h2>After image</h2>",
     {"top": ("title", 1), "p1": ("title", 0), "wrap": ("sub", 1), "h": ("sub", 1),
      "inner": ("sub", 1), "mid": ("sub", 0), "later": ("what_valgrind_does", 1), "manual-core.whatis": ("what_valgrind_does", 1),
      "first": ("what_valgrind_does", 0), "x": ("what_valgrind_does", 0),
      "y": ("what_valgrind_does", 0), "img": ("what_valgrind_does", 0)}),
    ("before any heading", "<p id='a'>x</p><h2>Later</h2>", {"a": ("", 0)}),
    # Names as links spell them, references read: MediaWiki's headline
    # beside its edit link.
    ("references in names",
     "<h2><span id='A_&amp;_B'>A &amp; B</span><span>[edit]</span></h2>"
     "<p id='x&lt;y&#34;z'>t</p>",
     {"A_&_B": ("a_b_edit", 1), "x<y\"z": ("a_b_edit", 0)}),
    # A footnote mark at a paragraph's end stays where it is; an anchor that
    # is itself the link before a title still marks the title.
    ("marks that hold a link",
     "<h1>Title</h1><p>Text.<sup id='r1'><a href='#n1'>[1]</a></sup></p>"
     "<div><ul><li><a href='#s'>S</a></li></ul></div><h2>Next</h2>"
     "<p><a id='self' href='#self'>\u00a7</a></p><h2>Last</h2>",
     {"r1": ("title", 0), "self": ("last", 1)}),
]

HEADING = re.compile(r'<h[1-6][^>]*\sid="([^"]*)"')


def anchors(tool, paths):
    out = subprocess.run([tool, "--anchors"] + paths, capture_output=True, check=True,
                         timeout=60).stdout.decode()
    result, current = {}, None
    for line in out.splitlines():
        kind, *rest = line.split("\t")
        if kind == "F":
            current = result.setdefault(rest[0], ([], {}))
        elif kind == "H":
            current[0].append(bytes.fromhex(rest[0]).decode())
        else:
            current[1][bytes.fromhex(rest[0]).decode()] = (bytes.fromhex(rest[1]).decode(),
                                                           int(rest[2]))
    return result


def main():
    tool, cli = sys.argv[1], sys.argv[2]
    if not dokuwiki.available():
        print("skipped: " + dokuwiki.skip_reason())
        return 77
    work = tempfile.mkdtemp(prefix="tamsel-anchors-")
    wiki = dokuwiki.Wiki(os.path.join(work, "wiki"))
    try:
        paths = []
        for n, (_, html, _) in enumerate(DOCUMENTS):
            paths.append(os.path.join(work, "%d.html" % n))
            with open(paths[-1], "w") as f:
                f.write("<html><body>%s</body></html>" % html)
        predicted = anchors(tool, paths)
        for path, (name, _, expected) in zip(paths, DOCUMENTS):
            headings, targets = predicted[path]
            text = subprocess.run([cli, path], capture_output=True, check=True).stdout
            rendered = HEADING.findall(wiki.render(text))
            check(rendered == headings,
                  "%s: DokuWiki %s, predicted %s" % (name, rendered, headings))
            for element, (section, _) in targets.items():
                check(not section or section in rendered,
                      "%s: %s lands on %r, which DokuWiki lacks" % (name, element, section))
            for element, want in expected.items():
                check(targets.get(element) == want,
                      "%s: %s lands on %s, not %s" % (name, element, targets.get(element), want))
    finally:
        wiki.close()
        shutil.rmtree(work, ignore_errors=True)
    return report()


if __name__ == "__main__":
    sys.exit(main())
