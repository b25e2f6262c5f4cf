#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-2.0-or-later
"""How much of real sites' chrome and content arrives in their wiki pages.

For every documentation tree below that is installed (and the MediaWiki
export kept in the source tree), the site is migrated twice (as it comes, and
with --keep-chrome), and each page's words are compared with the HTML's: its
content region is known here per generator,
everything else that a browser shows is chrome. Permalinks and tables of
contents of the page's own sections count as chrome. The figures:

  content  the share of the content's words that arrive (goal: 99% or more)
  chrome   the share of the chrome's words that arrive beyond the content's
           (goal: 5% or less)

Usage: chrome_sites.py [--check] TAMSEL_CLI [SITE...]
With --check, exits 1 when a site misses a goal, or when the two migrations
differ in more than the chrome; 77 when no site is installed.
"""
import collections
import html.parser
import os
import re
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))

VOID = {"area", "base", "br", "col", "embed", "hr", "img", "input", "link", "meta", "param",
        "source", "track", "wbr"}
UNSEEN = {"script", "style", "template", "svg", "title", "head", "noscript"}
# Elements an open <p> or <li> ends at, as browsers end them.
CLOSES_P = {"p", "div", "ul", "ol", "dl", "table", "pre", "blockquote", "h1", "h2", "h3", "h4",
            "h5", "h6", "section", "nav", "header", "footer", "aside", "main", "form", "hr"}
# Elements whose text a browser never runs into its neighbour's.
BLOCKS = CLOSES_P | {"li", "dt", "dd", "tr", "td", "th", "caption", "br"}


class Node:
    def __init__(self, tag, attrs, parent):
        self.tag, self.attrs, self.parent, self.children = tag, dict(attrs), parent, []

    def cls(self):
        return (self.attrs.get("class") or "").split()

    def walk(self):
        yield self
        for c in self.children:
            if isinstance(c, Node):
                yield from c.walk()

    def text(self):
        out = []
        for c in self.children:
            if isinstance(c, Node):
                if not hidden(c):
                    out.append(c.text())
            else:
                out.append(c)
        return "".join(out)


def hidden(node):
    style = (node.attrs.get("style") or "").replace(" ", "").lower()
    return node.tag in UNSEEN or "hidden" in node.attrs or "display:none" in style


class Tree(html.parser.HTMLParser):
    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.root = Node("#root", {}, None)
        self.open = [self.root]

    def handle_starttag(self, tag, attrs):
        if tag in CLOSES_P or tag == "li":
            for i in range(len(self.open) - 1, 0, -1):
                t = self.open[i].tag
                if t == "p" or (tag == "li" and t == "li"):
                    del self.open[i:]
                    break
                if t in ("div", "ul", "ol", "table", "section", "main", "body"):
                    break
        node = Node(tag, attrs, self.open[-1])
        self.open[-1].children.append(node)
        if tag not in VOID:
            self.open.append(node)

    def handle_startendtag(self, tag, attrs):
        self.open[-1].children.append(Node(tag, attrs, self.open[-1]))

    def handle_endtag(self, tag):
        for i in range(len(self.open) - 1, 0, -1):
            if self.open[i].tag == tag:
                del self.open[i:]
                return

    def handle_data(self, data):
        self.open[-1].children.append(data)


def parse(path):
    with open(path, "rb") as f:
        raw = f.read()
    text = raw.decode("utf-8", errors="replace")
    tree = Tree()
    tree.feed(text)
    tree.close()
    return tree.root


def own_links(node, page):
    """Whether node's links all lead into the page itself."""
    links = [n.attrs.get("href") or "" for n in node.walk() if n.tag == "a" and n.attrs.get("href")]
    if len(links) < 2:
        return False
    own = [h for h in links if "#" in h and h.split("#")[0] in ("", page, "./" + page)]
    linked = sum(len(n.text().split()) for n in node.walk() if n.tag == "a")
    return len(own) * 5 >= len(links) * 4 and linked * 10 >= len(node.text().split()) * 6


def permalink(node):
    if node.tag != "a" or not (node.attrs.get("href") or "").startswith("#"):
        return False
    up = node.parent
    while up is not None and up.tag not in ("h1", "h2", "h3", "h4", "h5", "h6", "dt"):
        up = up.parent
    return up is not None and node.text().strip() in ("¶", "#", "§", "")


def role(node, name):
    return name in (node.attrs.get("role") or "").split()


# Per generator: the content roots of a page, and what inside them is chrome.
SITES = {
    "sphinx": dict(
        folder="/usr/share/doc/python-jinja2-doc/html", package="python-jinja2-doc",
        root=lambda n: role(n, "main"),
        chrome=lambda n, page: "headerlink" in n.cls()),
    "mkdocs": dict(
        folder="/usr/share/doc/python-markdown-doc/docs", package="python-markdown-doc",
        root=lambda n: role(n, "main"),
        chrome=lambda n, page: "headerlink" in n.cls()),
    "docbook": dict(
        folder="/usr/share/doc/valgrind/html", package="valgrind",
        root=lambda n: n.tag == "body",
        chrome=lambda n, page: (n.tag == "div" and any(
            isinstance(c, Node) and c.tag == "table" and "nav" in c.cls() for c in n.children))
        or ("toc" in n.cls() and own_links(n, page))),
    "texinfo": dict(
        folder="/usr/share/doc/libffi8/html", package="libffi8",
        root=lambda n: n.tag == "body",
        chrome=lambda n, page: "header" in n.cls() or "nav-panel" in n.cls()
        or ("section-toc" in n.cls() and own_links(n, page)) or permalink(n)),
    "texinfo-manual": dict(
        folder="/usr/share/doc/texinfo/html", package="texinfo",
        root=lambda n: n.tag == "body",
        chrome=lambda n, page: "header" in n.cls() or "nav-panel" in n.cls()
        or ("section-toc" in n.cls() and own_links(n, page)) or permalink(n)),
    "javadoc": dict(
        folder="/usr/share/doc/junit4/api", package="junit4-doc",
        root=lambda n: n.tag == "main",
        chrome=lambda n, page: n.tag == "ul" and own_links(n, page)),
    # Saved from Debian's MediaWiki by sites/make-mediawiki-site. The article
    # is its title and the parser's output; its own table of contents, edit
    # links and the "Retrieved from" line for print are MediaWiki's. The
    # categories box, the "Redirected from" line and the tagline go with the
    # skin: they are the wiki's bookkeeping about the page, not its text.
    "mediawiki": dict(
        folder=os.path.join(HERE, "sites", "mediawiki"), package="in the source tree",
        root=lambda n: n.attrs.get("id") in ("firstHeading", "mw-content-text"),
        chrome=lambda n, page: n.attrs.get("id") == "toc"
        or bool({"mw-editsection", "printfooter"} & set(n.cls()))),
}

WORD = re.compile(r"\w+")


def words(text):
    return collections.Counter(w.lower() for w in WORD.findall(text))


def split_page(path, spec):
    """The page's content and chrome words."""
    root = parse(path)
    page = os.path.basename(path)
    body = next((n for n in root.walk() if n.tag == "body"), root)
    content, chrome = [], []

    def visit(node, inside):
        if hidden(node):
            return
        if inside and node is not body and spec["chrome"](node, page):
            chrome.append(node.text())
            return
        inside = inside or spec["root"](node)
        if node.tag in BLOCKS:
            (content if inside else chrome).append(" ")
        for c in node.children:
            if isinstance(c, Node):
                visit(c, inside)
            else:
                (content if inside else chrome).append(c)

    visit(body, False)
    # Text nodes side by side show as one word ("037" "public" in a source
    # listing's line), those of blocks side by side do not ("</li></ul></div>
    # <div><h3>F" in MediaWiki's category listings).
    return words("".join(content)), words(" ".join(chrome))


LINK = re.compile(r"\[\[[^|\]]*\|?([^\]]*)\]\]")
# Images as the converter writes them; "{{ row }}" in a code block is text.
MEDIA = re.compile(r"\{\{ ?[\w./-]*[.:][\w:./?=&-]* ?(?:\|([^}]*))?\}\}")


def wiki_words(text):
    text = LINK.sub(r" \1 ", text)
    text = MEDIA.sub(r" \1 ", text)
    return words(text)


def migrate(cli, folder, out, *extra):
    run = subprocess.run([cli, "--site", folder, "--out", out, "--jobs", "2", "-q", *extra],
                         capture_output=True, text=True)
    if run.returncode != 0:
        raise SystemExit(f"{folder}: tamsel-cli failed ({run.returncode}): {run.stderr[-2000:]}")


def outputs(out):
    pages = {}
    for folder, _, files in os.walk(out):
        for name in files:
            with open(os.path.join(folder, name), encoding="utf-8") as f:
                pages[os.path.relpath(os.path.join(folder, name), out)] = f.read()
    return pages


def page_of(html_rel, pages):
    """The wiki page a source page became (ids are lower case, start pages)."""
    stem = re.sub(r"\.html?$", "", html_rel).lower()
    stem = re.sub(r"[^a-z0-9/._-]+", "_", stem).strip("_")
    for candidate in (stem + ".txt", re.sub(r"(^|/)index$", r"\1start", stem) + ".txt"):
        if candidate in pages:
            return candidate
    return None


def measure(name, spec, cli, work):
    folder = spec["folder"]
    out = {}
    for mode, extra in (("before", ["--keep-chrome"]), ("after", [])):
        target = os.path.join(work, name + "-" + mode)
        migrate(cli, folder, target, *extra)
        out[mode] = outputs(target)
    figures = {}
    worst = []
    # Names that differ only in case share an id: one of them is renamed,
    # and which is which is not measured here.
    stems = collections.Counter()
    for base, _, files in os.walk(folder):
        for file in files:
            stems[os.path.relpath(os.path.join(base, file), folder).lower()] += 1
    for mode in ("before", "after"):
        c_all = c_got = k_all = k_got = 0
        for base, _, files in os.walk(folder):
            for file in files:
                if not re.search(r"\.html?$", file):
                    continue
                rel = os.path.relpath(os.path.join(base, file), folder)
                if stems[rel.lower()] > 1:
                    continue
                wiki = page_of(rel, out[mode])
                if wiki is None:
                    continue
                content, chrome = split_page(os.path.join(base, file), spec)
                got = wiki_words(out[mode][wiki])
                arrived = content & got
                beyond = got - content
                c_all += sum(content.values())
                c_got += sum(arrived.values())
                k_all += sum(chrome.values())
                k_got += sum((chrome & beyond).values())
                if mode == "after" and sum(content.values()):
                    share = sum(arrived.values()) / sum(content.values())
                    if share < 0.99:
                        worst.append(f"{rel}: content {share:.1%}")
                if mode == "after" and sum(chrome.values()):
                    share = sum((chrome & beyond).values()) / sum(chrome.values())
                    if share > 0.05:
                        worst.append(f"{rel}: chrome {share:.1%} of {sum(chrome.values())} words")
        figures[mode] = (c_got / max(c_all, 1), k_got / max(k_all, 1), c_all, k_all)
    return figures, worst, out


PERMALINK = re.compile(r"\s*\[\[#[^|\]]*\|(\u00b6|#|\u00a7)\]\]")
# MediaWiki's edit links kept: "[edit]" in the heading, and in its anchor
# where a link leads to it.
EDIT_LINK = re.compile(r"\[edit\](?= =+$)|_edit(?=\|)")


# Forced breaks and white space that end a line: at the end of a page they
# are trimmed, before the chrome that followed them they stay.
LINE_END = re.compile(r"(?:\s|\\\\)+$")


def comparable(line):
    return LINE_END.sub("", EDIT_LINK.sub("", PERMALINK.sub("", line))).strip()


def differs_only_in_chrome(before, after):
    """Every line the migration without chrome writes, the one with it writes too
    (but for the permalinks and edit links it leaves out and the breaks that end
    a line)."""
    problems = []
    for page, text in after.items():
        whole = {comparable(line) for line in before.get(page, "").splitlines()}
        extra = [line for line in text.splitlines()
                 if line.strip() and comparable(line) not in whole]
        if extra:
            problems.append(f"{page}: {len(extra)} lines not in the whole page, first: {extra[0][:120]!r}")
    return problems


def main():
    args = sys.argv[1:]
    check = "--check" in args
    args = [a for a in args if a != "--check"]
    if not args:
        print(__doc__)
        return 2
    cli, wanted = args[0], args[1:] or list(SITES)
    failed, measured = False, 0
    with tempfile.TemporaryDirectory(prefix="tamsel-chrome-") as work:
        for name in wanted:
            spec = SITES[name]
            if not os.path.isdir(spec["folder"]):
                print(f"{name}: skipped, {spec['folder']} not installed (package {spec['package']})")
                continue
            measured += 1
            figures, worst, out = measure(name, spec, cli, work)
            b, a = figures["before"], figures["after"]
            print(f"{name}: {a[2]} content words, {a[3]} chrome words; before: content {b[0]:.1%}, "
                  f"chrome {b[1]:.1%}; after: content {a[0]:.1%}, chrome {a[1]:.1%}")
            for line in worst[:5]:
                print("   ", line)
            problems = differs_only_in_chrome(out["before"], out["after"])
            for line in problems[:5]:
                print("    differs:", line)
            if a[0] < 0.99 or a[1] > 0.05 or problems:
                failed = True
    if measured == 0:
        print("no documentation site installed")
        return 77
    return 1 if check and failed else 0


if __name__ == "__main__":
    sys.exit(main())
