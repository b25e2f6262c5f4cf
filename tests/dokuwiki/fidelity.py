#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-2.0-or-later
"""DokuWiki fidelity check: HTML in, DokuWiki's own rendering out, compared.

Every case is converted by the tamsel_dw_convert driver, which also dumps the
element tree that Tidy built for the converter. The markup is rendered by the
installed DokuWiki (render_pages.php, one PHP process for all pages), and the
rendered XHTML is compared with the Tidy tree:

- text: the visible text, white space collapsed and DokuWiki's typography
  folded back to ASCII on both sides ("--" and the en dash compare equal);
- one check per element class (strong, em, u, code, del, sub, sup, h1 to h5,
  pre, blockquote, hr, li, th, td, tr, a, img): the list of texts of all
  elements of the class, in document order, so that a count mismatch, a
  construct that swallowed a neighbour's text or a link with a wrong target
  all show.

The HTML side is modelled as a browser shows it, limited to what DokuWiki can
express at all: a heading cannot hold links or formatting, a table cell cannot
hold a list, and so on (see ALLOWED_INSIDE). Everything else that goes missing
is a failure.

Case files (*.cases) hold many cases:

    === name
    !links 0                      kinds of link by bits: 1 local, 2 e-mail, 4 external (default 7)
    !browser-styles               also expect what browsers make of em, ins, kbd,
                                  samp, var, cite, dfn and q
    !xfail CHECK[,CHECK] reason   these checks are known to fail, see FINDINGS.md;
                                  CHECK@WORD covers only differences whose report
                                  holds WORD (an underscore stands for a space)
    !xfail:INSTALL CHECK reason   the same for one install only (debian, release)
    <p>HTML ...

Document files (*.html) are one case each and take the same "!" lines inside
HTML comments at their top: <!-- !xfail text reason -->.

An expected failure counts as passing and is reported as XFAIL; a check marked
as expected to fail that passes is reported as XPASS, a warning. Exit status 1
when any unexpected failure occurs, 77 when DokuWiki or PHP is missing.
"""

import argparse
import difflib
import html
import json
import os
import re
import shutil
import subprocess
import sys
import unicodedata
import urllib.parse
from html.parser import HTMLParser

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import installs  # noqa: E402

# ---------------------------------------------------------------- case files


class Case:
    def __init__(self, name, html_text, source):
        self.name = name
        self.html = html_text
        self.source = source
        self.links = 7
        self.browser_styles = False
        self.xfail = []  # [check, fragment or None, reason, times matched]

    def option(self, line):
        words = line[1:].split(None, 2)
        if words and words[0] == "links" and len(words) == 2:
            self.links = int(words[1])
        elif words == ["browser-styles"]:
            self.browser_styles = True
        elif words and words[0].partition(":")[0] == "xfail" and len(words) == 3:
            # "!xfail:release ..." holds for that install only (installs.py).
            install = words[0].partition(":")[2]
            if install and install not in installs.NAMES:
                raise ValueError(f"{self.source}: unknown install in {self.name}: {line}")
            if install and install != installs.selected_name():
                return
            for check in words[1].split(","):
                check, _, fragment = check.partition("@")
                self.xfail.append([check, fragment.replace("_", " ") or None, words[2], 0])
        else:
            raise ValueError(f"{self.source}: bad option line in {self.name}: {line}")


def load_cases(path):
    base = os.path.splitext(os.path.basename(path))[0]
    with open(path, encoding="utf-8") as f:
        content = f.read()
    if path.endswith(".html"):
        case = Case(base, content, path)
        for m in re.finditer(r"<!--\s*(![^\n]*?)\s*-->", content):
            case.option(m.group(1))
        return [case]
    cases = []
    case, lines = None, []
    for line in content.split("\n"):
        if line.startswith("=== "):
            if case:
                case.html = "\n".join(lines).strip("\n")
            case, lines = Case(f"{base}/{line[4:].strip()}", "", path), []
            cases.append(case)
        elif case is None:
            continue  # comments before the first case
        elif line.startswith("!") and not lines:
            case.option(line)
        else:
            lines.append(line)
    if case:
        case.html = "\n".join(lines).strip("\n")
    names = [c.name for c in cases]
    dupes = {n for n in names if names.count(n) > 1}
    if dupes:
        raise ValueError(f"{path}: duplicate case names {sorted(dupes)}")
    return cases


# ------------------------------------------------------- convert and render


def convert(cases, driver, work):
    os.makedirs(work, exist_ok=True)
    manifest = []
    for i, case in enumerate(cases):
        stem = os.path.join(work, f"{i:03d}")
        with open(stem + ".html", "w", encoding="utf-8") as f:
            f.write(case.html)
        manifest.append(f"{case.links}\t{stem}.html\t{stem}\n")
        case.stem = stem
    subprocess.run([driver], input="".join(manifest), text=True, check=True)
    for case in cases:
        with open(case.stem + ".txt", "rb") as f:
            case.wiki = f.read().decode("utf-8", errors="replace")
        with open(case.stem + ".tree.json", "rb") as f:
            case.tree = json.loads(f.read().decode("utf-8", errors="replace"))


def render(cases, work, nowiki_spans=False):
    """Each case's rendering into case.xhtml; with nowiki_spans also the
    unformatted stretches that ran over a line end into case.nowiki."""
    pages = {case.stem: case.wiki for case in cases}
    install = installs.require()
    install.prepare_conf(os.path.join(work, "dokuwiki", "conf"))
    php = subprocess.run(
        ["php", os.path.join(HERE, "render_pages.php"), os.path.join(work, "dokuwiki")]
        + (["--nowiki-spans"] if nowiki_spans else []),
        input=json.dumps(pages),
        capture_output=True,
        text=True,
        env=dict(os.environ, TAMSEL_DOKU_INC=install.inc),
    )
    try:
        if php.returncode != 0:
            raise ValueError(f"exit status {php.returncode}")
        out = json.loads(php.stdout)
    except ValueError as e:  # DokuWiki reports set-up errors as an HTML page
        sys.exit(f"render_pages.php failed ({e}):\n{php.stderr}\n{php.stdout[:2000]}")
    for case in cases:
        if nowiki_spans:
            case.xhtml, case.nowiki = out[case.stem]["xhtml"], out[case.stem]["nowiki"]
        else:
            case.xhtml = out[case.stem]
        with open(case.stem + ".xhtml", "w", encoding="utf-8") as f:
            f.write(case.xhtml)


# ------------------------------------------------------------------- trees


class Elem:
    def __init__(self, tag, attrs, kids=None):
        self.tag = tag
        self.attrs = attrs
        self.kids = kids if kids is not None else []

    def cls(self):
        return (self.attrs.get("class") or "").split()


def tree_from_json(j):
    # Tidy keeps an ampersand that came from a reference as "&amp;" in the
    # text, and attribute values as written in the source.
    if isinstance(j, str):
        return j.replace("&amp;", "&")
    attrs = {k: html.unescape(v) if v is not None else None for k, v in j["attrs"].items()}
    return Elem(j["tag"], attrs, [tree_from_json(k) for k in j["kids"]])


VOID = {"area", "base", "br", "col", "embed", "hr", "img", "input", "link", "meta", "source", "wbr"}


class XhtmlTree(HTMLParser):
    def __init__(self, xhtml):
        super().__init__(convert_charrefs=True)
        self.root = Elem("body", {})
        self.stack = [self.root]
        self.feed(xhtml)
        self.close()

    def handle_starttag(self, tag, attrs):
        e = Elem(tag, {k: (v if v is not None else "") for k, v in attrs})
        self.stack[-1].kids.append(e)
        if tag not in VOID:
            self.stack.append(e)

    def handle_startendtag(self, tag, attrs):
        self.stack[-1].kids.append(Elem(tag, {k: (v if v is not None else "") for k, v in attrs}))

    def handle_endtag(self, tag):
        for i in range(len(self.stack) - 1, 0, -1):
            if self.stack[i].tag == tag:
                del self.stack[i:]
                return

    def handle_data(self, data):
        self.stack[-1].kids.append(data)


# ------------------------------------------------------------ normalising

# DokuWiki's typography (conf/entities.conf, the multiply entity and the
# "typography" quotes), folded back to what an author types. Both sides are
# folded, so an en dash in the HTML and the "--" that DokuWiki turns into one
# compare equal.
TYPOGRAPHY = [
    ("\u2194", "<->"), ("\u2192", "->"), ("\u2190", "<-"), ("\u21d4", "<=>"),
    ("\u21d2", "=>"), ("\u21d0", "<="), ("\u00bb", ">>"), ("\u00ab", "<<"),
    ("\u2014", "---"), ("\u2013", "--"), ("\u00a9", "(c)"), ("\u2122", "(tm)"),
    ("\u00ae", "(r)"), ("\u2026", "..."), ("\u00d7", "x"),
    ("\u201c", '"'), ("\u201d", '"'), ("\u201e", '"'), ("\u2018", "'"), ("\u2019", "'"),
]
IMG_MARK = "\ue000"  # an image's place in the text flow; shown in link texts only


def fold(s):
    for a, b in TYPOGRAPHY:
        s = s.replace(a, b)
    return s


def norm(s, images=False):
    # C0 control characters other than white space show as nothing, and so
    # does U+200B, with which the converter parts braces.
    s = re.sub(r"[\x00-\x08\x0b\x0c\x0e-\x1f\u200b]", "", fold(s))
    s = s.replace(IMG_MARK, " [img] " if images else " ")
    return re.sub(r"\s+", " ", s).strip()


def norm_pre(s):
    # Browsers drop one line end right after <pre>, in the HTML and in the
    # rendering alike; trailing white space is not seen.
    s = s.replace("\r\n", "\n")
    if s.startswith("\n"):
        s = s[1:]
    lines = [line.rstrip() for line in s.split("\n")]
    while lines and not lines[-1]:
        lines.pop()
    return "\n".join(lines)


def clean_id(s):
    """Roughly DokuWiki's cleanID for the plain ids the cases use."""
    s = s.lower().replace(" ", "_")
    for a, b in (("ä", "ae"), ("ö", "oe"), ("ü", "ue"), ("ß", "ss")):
        s = s.replace(a, b)
    s = "".join(c for c in unicodedata.normalize("NFKD", s) if not unicodedata.combining(c))
    s = re.sub(r"[^a-z0-9_.:\-]", "_", s)
    s = re.sub(r"_+", "_", s)
    s = re.sub(r"[:_.]*:[:_.]*", ":", s)
    return s.strip(":_")


def resolve_path(path):
    """A site path as a page or media id: root-relative, '.' and '..' resolved."""
    parts = []
    for seg in re.split(r"[/\\]", path):
        if seg in ("", "."):
            continue
        if seg == "..":
            if parts:
                parts.pop()
            continue
        parts.append(seg)
    return parts


PAGE_EXTENSIONS = {"html", "htm", "xhtml", "shtml", "php", "asp", "aspx", "jsp", "cgi"}


def html_link_target(href, links, has_image=False):
    """Where a browser's link goes, as DokuWiki would name it; None for no link."""
    # A browser drops tabs and line ends from an address.
    href = re.sub(r"[\t\r\n]", "", href)
    if href.lower().startswith("mailto:"):
        return "mail " + urllib.parse.unquote(href[7:]) if links & 2 else None
    if "://" in href or re.match(r"[A-Za-z][A-Za-z0-9+.\-]*:", href):
        # A percent-escape and the byte it stands for lead to the same place.
        return "url " + urllib.parse.unquote(href) if links & 4 else None  # tel: and the like are no pages either
    if not links & 1:
        return None
    path, _, frag = href.partition("#")
    path, _, query = path.partition("?")
    path = urllib.parse.unquote(path)
    # A fragment of the page itself lands on one of the page's headings, or
    # its top (DokuWiki has no other anchors): which one, corpus.py and the
    # golden cases hold; here it is a link into this page.
    if not path and not query:
        return "page #"
    # DokuWiki's section ids have no '.' and ':'.
    frag = "#" + re.sub(r"[.:]", "", clean_id(frag)) if frag else ""
    parts = resolve_path(path)
    if query and parts and not re.search(r"(?i)\.html?$", parts[-1]):
        # A query picks a page of its own: the one wget saves as "x.php?q.html".
        parts[-1] += "?" + query.replace("/", "%2F")
        return "page " + clean_id(":".join(parts)) + frag
    if not parts:
        return "page " + (frag or "start")
    if re.fullmatch(r"(?i)index\.html?", parts[-1]):
        # A folder's index is its namespace's start page.
        parts[-1] = "start.html"
    ext = re.search(r"\.([A-Za-z0-9]+)$", parts[-1])
    if ext and ext.group(1).lower() not in PAGE_EXTENSIONS and not has_image:
        # A PDF or an archive is a file to DokuWiki, linked as {{:ns:file.pdf|text}}.
        return "media " + clean_id(":".join(parts))
    if ext:
        parts[-1] = parts[-1][:ext.start()]
    return "page " + clean_id(":".join(parts)) + frag


def html_image_source(src):
    src = re.sub(r"[\t\r\n]", "", src)
    if "://" in src:
        return src
    return clean_id(":".join(resolve_path(urllib.parse.unquote(src.split("?", 1)[0]))))


def rendered_link_target(href, cls):
    if "mediafile" in cls:
        return "media " + rendered_image_source(href)
    if href.startswith("/doku.php?id="):
        page, _, frag = href[len("/doku.php?id="):].partition("#")
        return "page " + urllib.parse.unquote(page) + ("#" + frag if frag else "")
    if href.startswith("#"):
        return "page #"
    if href.lower().startswith("mailto:"):
        return "mail " + href[7:]
    return "url " + urllib.parse.unquote(href)


def rendered_image_source(src):
    query = urllib.parse.urlparse(src).query
    media = urllib.parse.parse_qs(query).get("media")
    return media[0] if media else src


def is_autolink(target, text):
    # DokuWiki links bare URLs, www. names and e-mail addresses in text by
    # itself; such links are left out on both sides.
    address = target.partition(" ")[2]
    return text == address or "http://" + text == address


# ----------------------------------------------------------------- models

HTML_INLINE = {
    "a", "abbr", "acronym", "b", "bdi", "bdo", "big", "button", "cite", "code", "data", "del",
    "dfn", "em", "font", "i", "img", "input", "ins", "kbd", "label", "map", "mark", "nobr",
    "object", "output", "q", "s", "samp", "select", "small", "span", "strike", "strong", "sub",
    "sup", "textarea", "time", "tt", "u", "var", "wbr",
}
HIDDEN = {"script", "style", "template", "head", "title", "svg"}
HEADINGS = ("h1", "h2", "h3", "h4", "h5")
CHECKS = ("text",) + HEADINGS + ("strong", "em", "u", "code", "del", "sub", "sup", "pre",
                                 "blockquote", "hr", "li", "tr", "th", "td", "a", "img")
INLINE_CLASSES = {"strong", "em", "u", "code", "del", "sub", "sup", "a", "img"}
ALL_CLASSES = set(CHECKS) - {"text"} | {"table"}
# What DokuWiki can hold inside a construct at all. A class missing here is
# not expected inside the element, however the HTML nests it.
ALLOWED_INSIDE = {
    **{h: set() for h in HEADINGS},
    "h6": set(),
    "pre": set(),
    "li": INLINE_CLASSES | {"pre", "li"},
    "dd": INLINE_CLASSES | {"pre", "li"},
    "dt": INLINE_CLASSES - {"strong"},  # a term is bold already
    "td": INLINE_CLASSES | {"pre"},
    "th": INLINE_CLASSES | {"pre"},
    "caption": INLINE_CLASSES,
    "blockquote": INLINE_CLASSES | {"pre", "blockquote"},
    "a": INLINE_CLASSES - {"a"},
}
HTML_CLASS = {
    **{h: h for h in HEADINGS},
    "h6": "h5",  # DokuWiki's smallest heading is h5's
    "b": "strong", "strong": "strong", "i": "em", "u": "u", "code": "code", "tt": "code",
    "del": "del", "s": "del", "strike": "del", "sub": "sub", "sup": "sup", "pre": "pre",
    "blockquote": "blockquote", "hr": "hr",
    "caption": "strong",  # DokuWiki has no caption: a bold line before the table
}
# Elements without markup of their own in DokuWiki that browsers still show
# in italics, underlined or monospaced; checked with !browser-styles.
BROWSER_CLASS = {"em": "em", "cite": "em", "var": "em", "dfn": "em", "ins": "u", "kbd": "code",
                 "samp": "code"}
ALIGN_CLASS = {"left": "leftalign", "center": "centeralign", "right": "rightalign"}


class Record:
    """One element of a checked class: its text is taken from the text flow."""

    def __init__(self, check, start, extra=""):
        self.check = check
        self.segments = [[start, None]]
        self.extra = extra
        self.has_image = False
        self.row = None  # the row record of a table cell

    def text(self, flow):
        raw = "".join(flow[a:b] for a, b in self.segments)
        if self.check == "pre":
            return norm_pre(fold(raw).replace(IMG_MARK, ""))
        return norm(raw, images=self.check == "a")

    def label(self, flow):
        t = self.text(flow)
        extra = self.extra
        if self.check in ("th", "td") and not t and not self.has_image:
            extra = re.sub(r" align=\w+", "", extra)  # nobody sees how nothing is aligned
        return t + extra


class Model:
    def __init__(self, tag_class=None, quotes=False):
        self.flow = []  # text pieces; positions are offsets into "".join
        self.size = 0
        self.records = []
        self.links = []  # (target, Record)
        self.open_stack = []  # records whose element is being walked
        self.row = None
        self.lists = []  # bullets of the enclosing lists: '*' or '-'
        self.tag_class = tag_class  # HTML element -> checked class
        self.css_rules = {}  # class -> looks its rules give (css_marks)
        self.in_quote = False  # tables met in a quotation follow it
        self.quote_tables = []
        self.quotes = quotes  # show q as browsers do

    def open_item(self):
        """A list line, labelled with its bullet and depth."""
        return self.open("li", f" [{self.lists[-1] if self.lists else '?'}{len(self.lists)}]")

    def put(self, s):
        self.flow.append(s)
        self.size += len(s)

    def open(self, check, extra=""):
        r = Record(check, self.size, extra)
        self.records.append(r)
        if check in ("th", "td"):
            r.row = self.row
        elif check == "tr":
            self.row = r
        return r

    def close(self, r):
        r.segments[-1][1] = self.size

    def end_element(self, opened, block):
        """Closes the records an element opened; a block ends its line."""
        for r in opened:
            self.close(r)
            self.open_stack.remove(r)
        if block:
            self.put("\n")

    def mark_image(self):
        """An image's place in the flow; the records open around it hold one."""
        self.put(IMG_MARK)
        for r in self.open_stack:
            r.has_image = True

    def add_image(self, extra):
        self.records.append(Record("img", self.size, extra))
        self.close(self.records[-1])

    def finish(self):
        flow = "".join(self.flow)
        self.text = norm(flow.replace(IMG_MARK, " "))
        # A link cut into pieces around formatting or images, or two links
        # side by side to one target, is one link to the reader.
        merged = []
        for target, r in self.links:
            last = merged[-1] if merged else None
            between = flow[last[1].segments[-1][1]:r.segments[0][0]] if last else ""
            if last and last[0] == target and not between.strip():
                last[1].segments[-1][1] = r.segments[-1][1]
                continue
            merged.append((target, r))
        out = {c: [] for c in CHECKS if c != "text"}
        self.checked = out
        # DokuWiki fills short rows up with empty cells; a browser leaves the
        # space blank. Trailing empty cells are therefore not compared.
        padding, rows_seen = set(), set()
        for r in reversed(self.records):
            if r.check in ("th", "td") and id(r.row) not in rows_seen:
                if not r.label(flow) and not r.has_image:
                    padding.add(id(r))
                else:
                    rows_seen.add(id(r.row))
        for r in self.records:
            if r.check == "a" or id(r) in padding:
                continue
            if r.check in ("hr", "tr", "th", "td", "img") or r.text(flow) or r.has_image:
                out[r.check].append(r.label(flow))
        for target, r in merged:
            text = r.text(flow)
            if (text and not is_autolink(target, text)) or r.has_image:
                out["a"].append(f"{target} <- {text}")
        return self


def contains_image(node):
    return any(isinstance(k, Elem) and (k.tag == "img" or contains_image(k)) for k in node.kids)


# ------------------------------------------------- CSS and layout tables


def css_marks(declarations):
    """What CSS declarations say of the looks DokuWiki has: {class: on}."""
    marks = {}
    for decl in declarations.split(";"):
        name, _, value = decl.partition(":")
        name, value = name.strip().lower(), value.split("!")[0].strip().lower()
        if name == "font-weight":
            if value in ("bold", "bolder") or (value.isdigit() and int(value) >= 600):
                marks["strong"] = True
            elif value in ("normal", "lighter") or (value.isdigit() and int(value) <= 500):
                marks["strong"] = False
        elif name == "font-style":
            if value == "italic" or value.startswith("oblique"):
                marks["em"] = True
            elif value == "normal":
                marks["em"] = False
        elif name == "font-family":
            if any(w in value for w in ("mono", "courier", "consolas", "menlo", "monaco")):
                marks["code"] = True
        elif name in ("text-decoration", "text-decoration-line"):
            if "underline" in value:
                marks["u"] = True
            if "line-through" in value:
                marks["del"] = True
            if value == "none":
                marks["u"] = marks["del"] = False
        elif name == "display":
            if value in ("block", "flex", "grid", "list-item", "table"):
                marks["apart"] = True
        elif name == "float" and value in ("left", "right"):
            marks["apart"] = True
    return marks


def class_rules(tree, source=""):
    """Rules ".name" and "element.name" of the page's style elements (the
    tree is the body's: those of the head are read from the source)."""
    rules = {}

    def sheets(node):
        for k in node.kids:
            if isinstance(k, Elem):
                if k.tag == "style":
                    yield "".join(x for x in k.kids if isinstance(x, str))
                else:
                    yield from sheets(k)

    head = re.findall(r"<style[^>]*>(.*?)</style>", source.split("<body", 1)[0], re.S | re.I)
    for sheet in head + (list(sheets(tree)) if tree is not None else []):
        sheet = re.sub(r"/\*.*?\*/|<!--|-->", "", sheet, flags=re.S)
        sheet = re.sub(r"@[^{]*\{", "", sheet)
        for selectors, body in re.findall(r"([^{}]*)\{([^{}]*)\}", sheet):
            marks = css_marks(body)
            for sel in selectors.split(","):
                m = re.fullmatch(r"\s*[\w-]*\.([\w-]+)\s*", sel)
                if m and marks:
                    rules.setdefault(m.group(1), {}).update(marks)
    return rules


def element_marks(node, rules):
    marks = {}
    for c in (node.attrs.get("class") or "").split():
        marks.update(rules.get(c, {}))
    marks.update(css_marks(node.attrs.get("style") or ""))
    return marks


def cells_of(table):
    for k in table.kids:
        if not isinstance(k, Elem):
            continue
        rows = [k] if k.tag == "tr" else [r for r in k.kids if isinstance(r, Elem) and r.tag == "tr"] \
            if k.tag in ("thead", "tbody", "tfoot") else []
        for row in rows:
            yield from (c for c in row.kids if isinstance(c, Elem) and c.tag in ("td", "th"))


def is_layout_table(table):
    """A table used for layout, as the converter tells it: marked so, one
    cell holding blocks, or cells holding headings or tables; lists,
    quotations and several paragraphs only where no cell is a header."""
    if (table.attrs.get("role") or "").lower() in ("presentation", "none"):
        return True
    cells = list(cells_of(table))
    header = any(c.tag == "th" for c in cells)
    loose = block = False

    def scan(node):
        nonlocal loose, block
        paragraphs = 0
        for k in node.kids:
            if not isinstance(k, Elem):
                continue
            if k.tag not in HTML_INLINE and k.tag != "br":
                block = True
            if k.tag in ("table", "h1", "h2", "h3", "h4", "h5", "h6"):
                return True
            if k.tag in ("ul", "ol", "dl", "blockquote"):
                loose = True
            elif k.tag == "p":
                paragraphs += 1
                loose = loose or paragraphs > 1
            elif scan(k):
                return True
        return False

    if any(scan(c) for c in cells):
        return True
    return (len(cells) == 1 and block) or (loose and not header)


def has_line_break(node):
    return any(isinstance(k, Elem) and (k.tag == "br" or has_line_break(k)) for k in node.kids)


def walk_html(node, m, allowed, links, in_li=None):
    """The browser's view of Tidy's tree."""
    if isinstance(node, str):
        m.put(node)
        return
    tag = node.tag
    if tag in HIDDEN or "hidden" in node.attrs or re.search(
            r"display\s*:\s*none", node.attrs.get("style") or "", re.I):
        return
    if tag == "table" and "table" in allowed and is_layout_table(node):
        # Its content, block after block.
        for cell in cells_of(node):
            m.put("\n")
            walk_html(Elem("div", {}, cell.kids), m, allowed, links, in_li)
            m.put("\n")
        return
    if tag == "blockquote" and "table" in allowed and not m.in_quote:
        # DokuWiki holds no table in a quotation: its tables (and code
        # blocks) follow it.
        m.in_quote, m.quote_tables = True, []
        walk_html(node, m, allowed, links, in_li)
        m.in_quote, tables = False, m.quote_tables
        for t in tables:
            m.put("\n")
            walk_html(t, m, allowed, links)
        return
    if tag in ("table", "pre") and m.in_quote:
        # Nor a code block that both its parsers read alike.
        m.quote_tables.append(node)
        return
    marks = element_marks(node, m.css_rules) if tag in HTML_INLINE or tag == "p" else {}
    if tag == "p" and marks.get("code") and has_line_break(node):
        # Word processors' preformatted text: a code block.
        walk_html(Elem("pre", {}, node.kids), m, allowed, links, in_li)
        return
    if marks:
        opened = []
        if marks.get("apart"):
            m.put(" ")
        for cls in ("strong", "em", "u", "del", "code"):
            if (marks.get(cls) and cls in allowed
                    and not any(r.check == cls for r in m.open_stack)):
                opened.append(m.open(cls))
        m.open_stack.extend(opened)
        off = {cls for cls, on in marks.items() if on is False}
        shown = Elem("span", {}, node.kids) if m.tag_class.get(tag) in off else Elem(
            tag, {k: v for k, v in node.attrs.items() if k not in ("style", "class")}, node.kids)
        walk_html(shown, m, allowed, links, in_li)
        for r in opened:
            m.close(r)
            m.open_stack.remove(r)
        if marks.get("apart"):
            m.put(" ")
        return
    if tag == "br":
        m.put("\n")
        return
    if tag == "img":
        if node.attrs.get("src"):
            m.mark_image()
            if "img" in allowed:
                align = (node.attrs.get("align") or "").lower()
                extra = html_image_source(node.attrs["src"])
                extra += " align=" + (align if align in ALIGN_CLASS else "none")
                for dim in ("width", "height"):
                    v = (node.attrs.get(dim) or "").strip()
                    if v.isdigit():
                        extra += f" {dim}={v}"
                if "alt" in node.attrs:  # Tidy reports alt="" as an attribute without value
                    extra += " alt=" + re.sub(r"[\x00-\x08\x0b\x0c\x0e-\x1f]", "",
                                              node.attrs["alt"] or "")
                m.add_image(extra)
        return
    block = tag not in HTML_INLINE
    if block:
        m.put("\n")
    inner = allowed & ALLOWED_INSIDE.get(tag, ALL_CLASSES)
    opened = []
    cls = m.tag_class.get(tag)
    # A bold inside a bold shows as one bold: the same look cannot start twice.
    if cls and cls in allowed and not (cls in INLINE_CLASSES
                                       and any(r.check == cls for r in m.open_stack)):
        opened.append(m.open(cls))
    if tag == "a" and "a" in allowed and node.attrs.get("href") is not None:
        target = html_link_target(node.attrs["href"], links, contains_image(node))
        if target is not None:
            r = Record("a", m.size)
            m.links.append((target, r))
            opened.append(r)
    if tag in ("th", "td") and "table" in allowed:
        extra = cell_extra(node.attrs.get("colspan"), node.attrs.get("rowspan"),
                           node.attrs.get("align") or getattr(node, "row_align", ""))
        opened.append(m.open(tag, extra))
    if tag == "tr" and "table" in allowed:
        opened.append(m.open("tr"))
        for k in node.kids:
            if isinstance(k, Elem) and k.tag in ("td", "th"):
                k.row_align = node.attrs.get("align") or ""
    m.open_stack.extend(opened)
    if tag == "q" and m.quotes:
        m.put('"')
    is_list = tag in ("ul", "ol", "dl") and "li" in allowed
    if is_list:
        m.lists.append("-" if tag == "ol" else "*")
    if tag == "li" and "li" in allowed:
        in_li = [m.open_item()]
        m.open_stack.append(in_li[0])

    if tag == "dl" and "li" in allowed:
        walk_definitions(node, m, inner, links)
    else:
        for k in node.kids:
            if (isinstance(k, Elem) and k.tag in ("ul", "ol", "dl", "table", *HEADINGS)
                    and in_li is not None and "li" in inner):
                # A nested list's lines are items of their own, and DokuWiki
                # cannot go on with the outer item after them: what follows
                # the nested list is a line of its own. A heading or a table,
                # which no list item can hold, ends the list and follows it.
                m.close(in_li[0])
                m.open_stack.remove(in_li[0])
                walk_html(k, m, inner if k.tag in ("ul", "ol", "dl") else ALL_CLASSES, links)
                in_li[0] = m.open_item()
                m.open_stack.append(in_li[0])
            else:
                walk_html(k, m, inner, links, in_li)
    if tag == "li" and "li" in allowed:
        m.close(in_li[0])
        m.open_stack.remove(in_li[0])
    if tag == "q" and m.quotes:
        m.put('"')
    if is_list:
        m.lists.pop()
    m.end_element(opened, block)


def walk_definitions(dl, m, inner, links):
    # A term and its definitions read as one bulleted line with a bold term;
    # definitions before any term make a line of their own.
    item = None
    for k in dl.kids:
        if not isinstance(k, Elem) or k.tag not in ("dt", "dd"):
            walk_html(k, m, inner, links)
            continue
        if k.tag == "dt" or item is None:
            item = [m.open_item()]
        else:
            item[0].segments.append([m.size, None])
        m.open_stack.append(item[0])
        if k.tag == "dt":
            term = m.open("strong")
            m.open_stack.append(term)
            walk_html(k, m, inner, links)
            m.close(term)
            m.open_stack.remove(term)
        else:
            walk_html(k, m, inner, links, in_li=item)
        m.close(item[0])
        m.open_stack.remove(item[0])


def cell_extra(colspan, rowspan, align):
    extra = ""
    for name, v in (("colspan", colspan), ("rowspan", rowspan)):
        v = (v or "").strip()
        if v.isdigit() and int(v) > 1:
            extra += f" {name}={int(v)}"
    align = (align or "").lower()
    if align in ALIGN_CLASS:
        extra += " align=" + align
    return extra


def html_model(tree, links, browser_styles, source=""):
    m = Model({**HTML_CLASS, **BROWSER_CLASS} if browser_styles else HTML_CLASS, browser_styles)
    m.css_rules = class_rules(tree, source)
    if tree is not None:
        for k in tree.kids:
            walk_html(k, m, ALL_CLASSES, links)
    return m.finish()


def walk_xhtml(node, m):
    """DokuWiki's rendering, read with the same eyes."""
    if isinstance(node, str):
        m.put(node)
        return
    tag, cls = node.tag, node.cls()
    if tag == "br":
        m.put("\n")
        return
    if tag == "img":
        if "smiley" in cls or "icon" in cls:
            m.put(node.attrs.get("alt", ""))
            return
        m.mark_image()
        align = next((a for a, c in (("left", "medialeft"), ("right", "mediaright"),
                                     ("center", "mediacenter")) if c in cls), "none")
        extra = rendered_image_source(node.attrs.get("src", "")) + " align=" + align
        for dim in ("width", "height"):
            if node.attrs.get(dim):
                extra += f" {dim}={node.attrs[dim]}"
        # An invisible U+200B may part "}}" in a title; no reader sees it.
        extra += " alt=" + node.attrs.get("alt", "").replace("\u200b", "")
        m.add_image(extra)
        return
    block = tag not in HTML_INLINE
    if block:
        m.put("\n")
    opened = []
    check = {"em": "u" if "u" in cls else "em"}.get(tag, tag)
    if check in ALL_CLASSES and check not in ("li", "a", "th", "td", "table"):
        opened.append(m.open(check))
    if tag in ("th", "td"):
        align = next((a for a, c in ALIGN_CLASS.items() if c in cls), "")
        opened.append(m.open(tag, cell_extra(node.attrs.get("colspan"),
                                             node.attrs.get("rowspan"), align)))
    href = node.attrs.get("href", "")
    # Not links: DokuWiki's own links from an image to its detail page or file.
    if tag == "a" and ("mediafile" in cls or ("/lib/exe/detail.php" not in href
                                             and "/lib/exe/fetch.php" not in href)):
        r = Record("a", m.size)
        m.links.append((rendered_link_target(href, cls), r))
        opened.append(r)
    m.open_stack.extend(opened)
    if tag in ("ul", "ol"):
        m.lists.append("-" if tag == "ol" else "*")
    for k in node.kids:
        if tag == "li" and isinstance(k, Elem) and k.tag == "div" and "li" in k.cls():
            r = m.open_item()
            m.open_stack.append(r)
            walk_xhtml(k, m)
            m.close(r)
            m.open_stack.remove(r)
        else:
            walk_xhtml(k, m)
    if tag in ("ul", "ol"):
        m.lists.pop()
    m.end_element(opened, block)


def xhtml_model(xhtml):
    m = Model()
    walk_xhtml(XhtmlTree(xhtml).root, m)
    return m.finish()


# ---------------------------------------------------------------- compare


def differences(want, got, describe):
    """One message per stretch where the two sequences part."""
    out = []
    matcher = difflib.SequenceMatcher(None, want, got, autojunk=False)
    for op, i1, i2, j1, j2 in matcher.get_opcodes():
        if op != "equal":
            out.append(describe(want, i1, i2, got, j1, j2))
    return out


def describe_words(a, i1, i2, b, j1, j2):
    ctx = " ".join(a[max(0, i1 - 4):i1])
    return (f"after '...{ctx}': HTML shows {' '.join(a[i1:i2])!r}, "
            f"DokuWiki shows {' '.join(b[j1:j2])!r}")


def describe_items(a, i1, i2, b, j1, j2):
    return (f"#{i1 + 1}: HTML {a[i1:i2]!r}, DokuWiki {b[j1:j2]!r} "
            f"({len(a)} in HTML, {len(b)} rendered)")


def compare(case):
    want = html_model(tree_from_json(case.tree), case.links, case.browser_styles, case.html)
    got = xhtml_model(case.xhtml)
    case.counts = {c: len(v) for c, v in want.checked.items() if v}
    case.words = len(want.text.split())
    failures = {}  # check -> messages
    if want.text != got.text:
        failures["text"] = differences(want.text.split(" "), got.text.split(" "), describe_words)
    images = want.checked["img"], got.checked["img"]
    if len(images[0]) == len(images[1]):
        # Without an alt in the HTML, whatever DokuWiki makes up for it is fine.
        got.checked["img"] = [g if " alt=" in w else g.split(" alt=")[0] for w, g in zip(*images)]
    for check in CHECKS[1:]:
        if want.checked[check] != got.checked[check]:
            failures[check] = differences(want.checked[check], got.checked[check], describe_items)
    return failures


# ------------------------------------------------------------------- main


def dokuwiki_available():
    return installs.get()[0] is not None


def describe_install():
    install = installs.get()[0]
    return "DokuWiki %s (%s)" % (install.name, install.version)


def skip_message():
    return "SKIP: DokuWiki %s: %s" % (installs.selected_name(), installs.get()[1])


def show(case):
    print(f"  --- HTML\n{indent(case.html)}\n  --- DokuWiki markup\n{indent(case.wiki)}")
    print(f"  --- rendered\n{indent(case.xhtml.strip())}")


def indent(s):
    return "\n".join("    " + line for line in s.replace("\r\n", "\n").split("\n"))


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--driver", required=True, help="the tamsel_dw_convert executable")
    ap.add_argument("--work", required=True, help="directory for the pages and renderings")
    ap.add_argument("--verbose", action="store_true", help="show markup and rendering of failures")
    ap.add_argument("--counts", action="store_true",
                    help="show how much of each class was compared")
    ap.add_argument("files", nargs="+")
    args = ap.parse_args()
    if not dokuwiki_available():
        print(skip_message())
        return 77

    cases = [c for path in args.files for c in load_cases(path)]
    print(describe_install())
    convert(cases, args.driver, args.work)
    render(cases, args.work)
    failed = xfailed = xpassed = 0
    for case in cases:
        failures = compare(case)
        unexpected, reasons = [], set()
        for check, messages in failures.items():
            for msg in messages:
                marks = [x for x in case.xfail if x[0] == check and (x[1] is None or x[1] in msg)]
                for x in marks:
                    x[3] += 1
                    reasons.add(x[2])
                if not marks:
                    unexpected.append(f"{check}: {msg}")
        unexpected += [f"{x[0]}: unknown check name in !xfail" for x in case.xfail
                       if x[0] not in CHECKS]
        if unexpected:
            failed += 1
            print(f"FAIL  {case.name}")
            for msg in unexpected:
                print(f"      {msg}")
            if args.verbose:
                show(case)
        elif failures:
            xfailed += 1
            print(f"XFAIL {case.name}: {'; '.join(sorted(reasons))}")
        else:
            print(f"PASS  {case.name}")
        if args.counts:
            print(f"      {case.words} words; " +
                  " ".join(f"{c}={n}" for c, n in case.counts.items()))
        for check, fragment, reason, matched in case.xfail:
            if not matched and check in CHECKS:
                xpassed += 1
                what = check + (f"@{fragment}" if fragment else "")
                print(f"XPASS {case.name}: '{what}' passes although marked: {reason}"
                      " -- WARNING: remove the mark?")
    print(f"{len(cases)} cases: {len(cases) - failed - xfailed} passed, {xfailed} expected "
          f"failures, {failed} failed, {xpassed} unexpected passes")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
