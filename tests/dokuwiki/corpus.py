#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-2.0-or-later
"""Real documents through the converter and the real DokuWiki, measured.

Every HTML file of the corpus (corpus/*.html, listed in corpus/SOURCES.md) is
converted by the tamsel_dw_convert driver and rendered by the installed
DokuWiki in one batch, as fidelity.py does. Unlike the fidelity cases, which
must render exactly, a real document is measured: the figures say how much of
what a reader sees in a browser the wiki page still shows, and how much the
page shows that the HTML does not. Per document and in total:

  words     words the HTML shows. Shown is the text of the body as a browser
            lays it out, without script, style, template, svg and elements a
            browser never shows (the hidden attribute, an inline
            display:none), and without permalink marks (the '¶' or '#' that
            Sphinx and Node.js add to headings, see links); a q gets its
            quotation marks. noscript text is neither required nor counted as added.
            Typography is folded on both sides as in fidelity.py, so an en
            dash and "--" are one word.
  lost      words the HTML shows that the rendered page lacks (a multiset
            difference: a word counts once per occurrence; glued words count
            as lost, and as added in their glued form).
  added     words the rendered page shows that the HTML does not.
  garbage   DokuWiki markup shown as text: occurrences of ** // __ '' [[ ]]
            {{ }} %% <nowiki> </nowiki> <code </code> <file <html \\\\ ~~ ==
            ^ | in the rendered page's text, less those the HTML shows.
  leaked    words of script, style, template, svg or hidden text that reach
            the page (lines of at least 12 characters found on the page more
            often than the HTML shows them).
  links     links the HTML shows (an a with href and visible text or an
            image); kept: those the page has with the same target (a wiki
            page without its section, which DokuWiki names by its own rules)
            and the same text; cannot: links DokuWiki cannot hold, inside
            preformatted text, javascript: links and heading permalinks (a
            link in a heading to the heading's own anchor: its id, an id
            inside it, that of an element it is the first heading of, or of
            an empty element right before it); lost: links - cannot - kept.
            A link whose text is only a permalink mark (¶ # § and the like)
            in a heading, or to a fragment anywhere, is not counted, nor is
            its mark a word.
  dangle    links on the rendered page to "#x" where the page has no
            element with id x: in-page links that go nowhere.
  frag      links to a heading of the same page (its id, or one that names
            it as for permalinks); land: links on the page to a fragment that
            is an id on the page (DokuWiki gives headings their own ids, so
            an HTML id only lands where it is written as DokuWiki's).
  typo      characters DokuWiki's typography made that the HTML does not
            show: an arrow, guillemet, (c), (r), (tm) or the x of "640x480"
            turned into one character, and en or em dashes joined to a
            letter or digit (an option's "--"). A dash between spaces, "..."
            and quotation marks are prose and not counted.
  code      inline code spans (code, tt, kbd, samp outside pre) and changed:
            those whose exact characters the page does not show (DokuWiki's
            typography turns "--" into an en dash inside '' too).
  runaway   unformatted stretches (%%...%%, <nowiki>) that DokuWiki's parser
            ran over a line end, and the lines they swallowed.
  layout    tables used for layout (fidelity.is_layout_table), which the
            page shows as their content, block after block.
  h li table pre img rowspan
            structure counts, HTML -> rendered: headings, list items (li and
            definition terms), tables (outermost, layout tables not counted:
            the tables in them are), code blocks (outermost
            pre), images, cells spanning rows.

The HTML side is Tidy's tree of the body, the one the converter walks; on
this corpus a browser-like parse (Python's html.parser) gives the same words.
A browser's style sheets are not applied: text that a class hides (menus
folded away, for instance) counts as shown.

With --baseline FILE the figures are compared with a checked-in baseline:
any figure of a document that got worse by more than 2 (or 2% of its
baseline, when that is more) fails the run (exit 1): words lost and added,
garbage, leaked, links lost, fragments not landing (frag - land), code
changed, runaway and the structure counts' differences.
After an improvement, write the new figures with --update-baseline (and
commit the file). Exit 77 when DokuWiki or PHP is missing.

  corpus.py --driver BUILD/tests/dokuwiki/tamsel_dw_convert --work /tmp/c \\
            --baseline tests/dokuwiki/corpus/baseline.debian.json [--update-baseline]
            [--details NAME] [FILES...]
"""

import argparse
import collections
import glob
import json
import os
import re
import sys
from html import unescape

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import fidelity  # noqa: E402
from fidelity import IMG_MARK, Elem, fold, norm  # noqa: E402

CORPUS = os.path.join(HERE, "corpus")

NEVER_SHOWN = {"script", "style", "template", "svg"}
OPTIONAL = {"noscript"}  # shown only when scripting is off
CODE_SPAN = {"code", "tt", "kbd", "samp"}
HEADING = {"h1", "h2", "h3", "h4", "h5", "h6"}
GARBAGE = ["**", "//", "__", "''", "[[", "]]", "{{", "}}", "%%", "<nowiki>", "</nowiki>",
           "<code", "</code>", "<file", "<html", "\\\\", "~~", "==", "^", "|"]
STRUCTURE = ("h", "li", "table", "pre", "img", "rowspan")
LEAK_MIN = 12

# Figures that must not grow; each compared per document.
FIGURES = ("lost", "added", "garbage", "typo", "leaked", "links_lost", "frag_lost",
           "frag_dangling", "code_changed",
           "runaway", "runaway_lines") + tuple("off_" + s for s in STRUCTURE)


def tolerance(base):
    return max(2, base // 50)


def collapse(s):
    return re.sub(r"\s+", " ", s).strip()


PERMALINK_MARKS = set("¶#§\u204b\u2693\U0001f517")  # ¶ # § ⁋ ⚓ 🔗


def is_mark_only(text):
    return set(text) <= PERMALINK_MARKS | {" "}


class View:
    """What a reader gets from one side: text, links, code spans, structure."""

    def __init__(self):
        self.parts = []
        self.size = 0
        self.optional = []  # text neither required nor counted as added
        self.hidden = []  # texts of what a browser never shows
        self.links = []  # [target, start, end, context, to a heading of this page]
        self.code = []  # [start, end]
        self.structure = collections.Counter()
        self.dangling = 0  # in-page links to an id the page lacks

    def put(self, s):
        self.parts.append(s)
        self.size += len(s)

    def finish(self):
        self.flow = "".join(self.parts)
        self.words = collections.Counter(norm(self.flow).split())
        self.raw = collapse(self.flow.replace(IMG_MARK, " "))
        self.folded = collapse(fold(self.flow.replace(IMG_MARK, " ")))
        # A link cut into pieces, or two side by side to one target, is one
        # link to the reader. Links into the page itself only when nothing
        # parts them: several ids land on one heading of the wiki page, and
        # a table of contents' entries are links of their own.
        merged = []
        for link in self.links:
            text = norm(self.flow[link[1]:link[2]], images=True)
            if not text:
                continue
            last = merged[-1] if merged else None
            gap = self.flow[last[2]:link[1]] if last else ""
            if (last and last[0] == link[0] and last[3] == link[3]
                    and not (gap if link_key(link[0]) == "page " else gap.strip())):
                last[2] = link[2]
                continue
            merged.append(list(link))
        self.link_list = [(t, norm(self.flow[a:b], images=True), ctx, frag)
                          for t, a, b, ctx, frag in merged]
        return self


def link_key(target):
    # DokuWiki names sections by their heading text, so a fragment to a page
    # does not tell whether the link was kept; an external address does.
    kind, _, rest = target.partition(" ")
    if kind == "page":
        # A folder's index is its namespace's start page.
        page = rest.partition("#")[0]
        if page == "index" or page.endswith(":index"):
            page = page[:-len("index")] + "start"
        # The page is rendered as the start page: a link to the top of the
        # page itself ("[[#|...]]") shows as one to it.
        if page == "start":
            page = ""
        return "page " + page
    return target


# ------------------------------------------------------------- HTML side


def hidden_by_attrs(node):
    if "hidden" in node.attrs:
        return True
    style = (node.attrs.get("style") or "").replace(" ", "").lower()
    return "display:none" in style or "visibility:hidden" in style


def element_text(node):
    if isinstance(node, str):
        return node
    return "".join(element_text(k) for k in node.kids)


def heading_anchors(root):
    """For each heading, the ids that name it: its own and its content's,
    those of the elements it is the first heading in (a section wrapper),
    and those of empty elements right before it (an <a name> before it)."""
    own = {}
    pending = []  # ids with no text after them yet
    enclosing = []  # [id, whether a heading came in it already]

    def walk(node):
        if isinstance(node, str):
            if node.strip():
                pending.clear()
            return
        if node.tag in NEVER_SHOWN or hidden_by_attrs(node):
            return
        ident = node.attrs.get("id") or node.attrs.get("name")
        if node.tag in HEADING:
            ids = set(pending) | {e[0] for e in enclosing if not e[1]}
            for e in enclosing:
                e[1] = True
            stack = [node]
            while stack:
                n = stack.pop()
                if isinstance(n, Elem):
                    for a in ("id", "name"):
                        if n.attrs.get(a):
                            ids.add(n.attrs[a])
                    stack.extend(n.kids)
            own[id(node)] = ids
            pending.clear()
            return
        if node.tag == "img":
            pending.clear()
        if ident:
            enclosing.append([ident, False])
        for k in node.kids:
            walk(k)
        if ident:
            enclosing.pop()
            pending.append(ident)

    walk(root)
    return own


def html_view(tree):
    v = View()
    if tree is None:
        return v.finish()
    own = heading_anchors(tree)
    heading_ids = set().union(*own.values())

    def walk(node, pre=False, heading=None, code=False):
        if isinstance(node, str):
            v.put(node)
            return
        tag = node.tag
        if tag in NEVER_SHOWN or hidden_by_attrs(node):
            v.hidden.append(element_text(node))
            return
        if tag in OPTIONAL:
            v.optional.append(element_text(node))
            return
        if tag == "br":
            v.put("\n")
            return
        if tag == "img":
            if node.attrs.get("src"):
                v.put(IMG_MARK)
                v.structure["img"] += 1
            return
        if tag in HEADING:
            v.structure["h"] += 1
            heading = node
        elif tag in ("li", "dt"):
            v.structure["li"] += 1
        # A table used for layout is its content (fidelity.is_layout_table).
        elif tag == "table" and not walk.tables and fidelity.is_layout_table(node):
            tag = "layout-table"
            v.structure["layout"] += 1
        elif tag == "table" and not walk.tables:
            v.structure["table"] += 1
        elif tag == "pre" and not pre:
            v.structure["pre"] += 1
        elif tag in ("td", "th") and (node.attrs.get("rowspan") or "1").strip() not in ("", "1"):
            v.structure["rowspan"] += 1
        link = None
        href = node.attrs.get("href") if tag == "a" else None
        if href is not None:
            text = norm(element_text(node))
            context = "pre" if pre else "normal"
            mark = is_mark_only(text) and not fidelity.contains_image(node)
            if href.strip().lower().startswith("javascript:"):
                context = "script"  # does nothing without the page's scripts
            elif mark and (heading is not None or href.startswith("#")):
                # A permalink mark (Sphinx puts them on headings, terms and
                # captions): nothing a reader needs, kept or not.
                v.optional.append(element_text(node))
                return
            elif heading is not None:
                # A heading that is one link into the page is the heading
                # alone, its anchor standing for the link.
                self_anchor = href in ("", "#") or (
                    href.startswith("#") and href[1:] in own.get(id(heading), ())) or (
                    href.startswith("#") and text == norm(element_text(heading)))
                context = "permalink" if self_anchor else "heading"
            target = fidelity.html_link_target(href, 7, fidelity.contains_image(node))
            if target is not None:
                frag = href.startswith("#") and href[1:] in heading_ids
                link = [target, v.size, None, context, frag]
                v.links.append(link)
        span = None
        if tag in CODE_SPAN and not (pre or code):
            span = [v.size, None]
            v.code.append(span)
        # A box of its own by CSS (display: block, a float) stands apart.
        block = tag not in fidelity.HTML_INLINE or fidelity.css_marks(
            node.attrs.get("style") or "").get("apart", False)
        if block:
            v.put("\n")
        if tag == "q":
            v.put('"')
        if tag == "table":
            walk.tables += 1
        for k in node.kids:
            walk(k, pre or tag == "pre", heading, code or span is not None)
        if tag == "table":
            walk.tables -= 1
        if tag == "q":
            v.put('"')
        if link:
            link[2] = v.size
        if span:
            span[1] = v.size
        if block:
            v.put("\n")

    walk.tables = 0
    for k in tree.kids:
        walk(k)
    return v.finish()


# -------------------------------------------------------- rendered side


def rendered_view(xhtml):
    v = View()
    ids = set(re.findall(r'\bid="([^"]*)"', xhtml))
    plain_ids = {unescape(i) for i in ids}

    def walk(node, pre=False, code=False):
        if isinstance(node, str):
            v.put(node)
            return
        tag, cls = node.tag, node.cls()
        if tag == "br":
            v.put("\n")
            return
        if tag == "img":
            if "smiley" in cls or "icon" in cls:
                v.put(node.attrs.get("alt", ""))
            else:
                v.put(IMG_MARK)
                v.structure["img"] += 1
            return
        if tag in HEADING:
            v.structure["h"] += 1
        elif tag == "li":
            v.structure["li"] += 1
        elif tag == "table" and not walk.tables:
            v.structure["table"] += 1
        elif tag == "pre" and not pre:
            v.structure["pre"] += 1
        elif tag in ("td", "th") and node.attrs.get("rowspan", "1") != "1":
            v.structure["rowspan"] += 1
        link = None
        href = node.attrs.get("href")
        if tag == "a" and href is not None and (
                "mediafile" in cls or ("/lib/exe/detail.php" not in href
                                       and "/lib/exe/fetch.php" not in href)):
            link = [fidelity.rendered_link_target(href, cls), v.size, None,
                    "pre" if pre else "normal", href.startswith("#") and href[1:] in ids]
            v.links.append(link)
            if href.startswith("#") and len(href) > 1 and unescape(href[1:]) not in plain_ids:
                v.dangling += 1
        span = None
        if tag == "code" and not (pre or code):
            span = [v.size, None]
            v.code.append(span)
        block = tag not in fidelity.HTML_INLINE
        if block:
            v.put("\n")
        if tag == "table":
            walk.tables += 1
        for k in node.kids:
            walk(k, pre or tag == "pre", code or span is not None)
        if tag == "table":
            walk.tables -= 1
        if link:
            link[2] = v.size
        if span:
            span[1] = v.size
        if block:
            v.put("\n")

    walk.tables = 0
    walk(fidelity.XhtmlTree(xhtml).root)
    return v.finish()


# --------------------------------------------------------------- measure


TYPO_CHARS = "\u2194\u2192\u2190\u21d4\u21d2\u21d0\u00bb\u00ab\u00a9\u2122\u00ae\u00d7"
JOINED_DASH = re.compile(r"[\u2013\u2014](?=\w)|(?<=\w)[\u2013\u2014]")


def count_typography(want, got):
    """Characters of the rendering that DokuWiki's typography made out of
    a word, an option, an arrow or a size: those it shows more often than
    the HTML does."""
    n = sum(max(0, got.count(c) - want.count(c)) for c in TYPO_CHARS)
    return n + max(0, len(JOINED_DASH.findall(got)) - len(JOINED_DASH.findall(want)))


def count_garbage(text):
    return collections.Counter({t: text.count(t) for t in GARBAGE if t in text})


def measure(case):
    want = html_view(fidelity.tree_from_json(case.tree))
    got = rendered_view(case.xhtml)
    optional = collections.Counter(norm(" ".join(want.optional)).split())
    lost = want.words - got.words
    added = got.words - want.words - optional
    garbage = count_garbage(got.flow) - count_garbage(want.flow)

    leaked_lines = []
    for block in want.hidden:
        for line in fold(block).split("\n"):
            line = collapse(line)
            if len(line) >= LEAK_MIN and got.folded.count(line) > want.folded.count(line):
                leaked_lines.append(line)
    leaked = sum(len(line.split()) for line in leaked_lines)

    have = collections.Counter((link_key(t), text) for t, text, _, _ in got.link_list)
    kept, unkept, unholdable = 0, [], 0
    frags = sum(1 for _, _, context, frag in want.link_list
                if frag and context not in ("pre", "permalink", "script"))
    landing = sum(1 for _, _, _, frag in got.link_list if frag)
    for target, text, context, _ in want.link_list:
        if context in ("pre", "permalink", "script"):
            unholdable += 1
            continue
        key = (link_key(target), text)
        if have[key] > 0:
            have[key] -= 1
            kept += 1
        else:
            unkept.append(f"{target} <- {text}")

    changed, pos = [], 0
    for a, b in want.code:
        span = collapse(want.flow[a:b].replace(IMG_MARK, " "))
        if not span:
            continue
        at = got.raw.find(span, pos)
        if at < 0:
            at = got.raw.find(span)
        if at < 0:
            changed.append(span)
        else:
            pos = at + len(span)
    code_spans = sum(1 for a, b in want.code if want.flow[a:b].strip())

    fig = {
        "words": sum(want.words.values()),
        "lost": sum(lost.values()),
        "added": sum(added.values()),
        "garbage": sum(garbage.values()),
        "typo": count_typography(want.raw, got.raw),
        "leaked": leaked,
        "links": len(want.link_list),
        "links_kept": kept,
        "links_cannot": unholdable,
        "links_lost": len(want.link_list) - unholdable - kept,
        "frag": frags,
        "frag_land": landing,
        "frag_lost": max(0, frags - landing),
        "frag_dangling": got.dangling,
        "code": code_spans,
        "code_changed": len(changed),
        "layout": want.structure["layout"],
        "runaway": len(case.nowiki),
        "runaway_lines": sum(n for n, _ in case.nowiki),
    }
    for s in STRUCTURE:
        fig["html_" + s] = want.structure[s]
        fig["dw_" + s] = got.structure[s]
        fig["off_" + s] = abs(want.structure[s] - got.structure[s])
    details = {
        "lost": lost, "added": added, "garbage": garbage, "leaked": leaked_lines,
        "unkept": unkept, "changed": changed, "runaway": case.nowiki,
    }
    return fig, details


# ---------------------------------------------------------------- report

COLUMNS = [("words", "words"), ("lost", "lost"), ("added", "added"), ("garbage", "garb"),
           ("typo", "typo"),
           ("leaked", "leak"), ("links", "links"), ("links_kept", "kept"),
           ("links_cannot", "cannot"), ("links_lost", "l.lost"), ("frag", "frag"),
           ("frag_land", "land"), ("frag_dangling", "dangle"), ("code", "code"),
           ("code_changed", "c.chg"), ("runaway", "runaway")]


def print_table(rows, totals):
    name_w = max(len(n) for n in list(rows) + ["total"])
    head = f"{'document':<{name_w}}" + "".join(f" {h:>7}" for _, h in COLUMNS)
    head += "".join(f" {s + ' html>dw':>14}" for s in STRUCTURE)
    print(head)
    for name, fig in list(rows.items()) + [("total", totals)]:
        line = f"{name:<{name_w}}"
        for key, _ in COLUMNS:
            value = fig[key]
            if key == "runaway":
                value = f"{fig['runaway']}/{fig['runaway_lines']}"
            line += f" {value:>7}"
        for s in STRUCTURE:
            line += f" {str(fig['html_' + s]) + '>' + str(fig['dw_' + s]):>14}"
        print(line)
    words = totals["words"] or 1
    links = totals["links"] - totals["links_cannot"] or 1
    print(f"total: {totals['lost']} of {totals['words']} words lost "
          f"({100 * totals['lost'] / words:.2f}%), {totals['added']} added, "
          f"{totals['garbage']} garbage tokens, {totals['typo']} typography changes, "
          f"{totals['layout']} layout tables written as their content, "
          f"{totals['leaked']} words of scripts and styles; "
          f"links kept {totals['links_kept']} of {totals['links'] - totals['links_cannot']} "
          f"DokuWiki can hold ({100 * totals['links_kept'] / links:.1f}%; "
          f"{totals['links_cannot']} it cannot); {totals['frag_land']} of {totals['frag']} links "
          f"to a heading of the page land; {totals['code_changed']} of {totals['code']} "
          f"code spans changed; {totals['runaway']} runaway nowiki over "
          f"{totals['runaway_lines']} lines")


def print_details(name, details, limit):
    print(f"--- {name}")
    print("  words lost (most frequent): " + ", ".join(
        f"{w!r}x{n}" for w, n in details["lost"].most_common(limit)))
    print("  words added (most frequent): " + ", ".join(
        f"{w!r}x{n}" for w, n in details["added"].most_common(limit)))
    print("  garbage: " + ", ".join(f"{t!r}x{n}" for t, n in details["garbage"].most_common()))
    for line in details["leaked"][:limit]:
        print(f"  leaked: {line[:100]!r}")
    for link in details["unkept"][:limit]:
        print(f"  link not kept: {link[:120]}")
    for span in details["changed"][:limit]:
        print(f"  code changed: {span[:100]!r}")
    for lines, start in details["runaway"][:limit]:
        print(f"  runaway nowiki over {lines} lines: {start[:80]!r}")


def compare(rows, baseline):
    """Messages for figures worse than the baseline, and for those better."""
    worse, better = [], []
    base_docs = baseline.get("documents", {})
    for name in sorted(set(rows) | set(base_docs)):
        if name not in base_docs:
            worse.append(f"{name}: not in the baseline (new document? run --update-baseline)")
            continue
        if name not in rows:
            worse.append(f"{name}: in the baseline but not measured")
            continue
        for key in FIGURES:
            now, then = rows[name][key], base_docs[name].get(key, 0)
            if now > then + tolerance(then):
                worse.append(f"{name}: {key} {then} -> {now}")
            elif now < then:
                better.append(f"{name}: {key} {then} -> {now}")
    return worse, better


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--driver", required=True, help="the tamsel_dw_convert executable")
    ap.add_argument("--work", required=True, help="directory for the pages and renderings")
    ap.add_argument("--baseline", help="figures to compare with (json)")
    ap.add_argument("--update-baseline", action="store_true",
                    help="write today's figures to --baseline instead of comparing")
    ap.add_argument("--details", action="append", default=[], metavar="NAME",
                    help="show what was lost for this document ('all' for every one)")
    ap.add_argument("--limit", type=int, default=15, help="examples per kind in --details")
    ap.add_argument("files", nargs="*", help="HTML documents (default: the corpus)")
    args = ap.parse_args()
    if args.update_baseline and not args.baseline:
        ap.error("--update-baseline needs --baseline FILE")
    if not fidelity.dokuwiki_available():
        print(fidelity.skip_message())
        return 77

    files = args.files or sorted(glob.glob(os.path.join(CORPUS, "*.html")))
    cases = []
    for path in files:
        with open(path, encoding="utf-8", errors="replace") as f:
            cases.append(fidelity.Case(os.path.splitext(os.path.basename(path))[0], f.read(), path))
    print(fidelity.describe_install())
    fidelity.convert(cases, args.driver, args.work)
    fidelity.render(cases, args.work, nowiki_spans=True)

    rows, totals = {}, collections.Counter()
    for case in cases:
        fig, details = measure(case)
        rows[case.name] = fig
        totals.update(fig)
        if "all" in args.details or case.name in args.details:
            print_details(case.name, details, args.limit)
    totals = {k: totals[k] for k in next(iter(rows.values()))} if rows else {}
    print_table(rows, totals)

    if not args.baseline:
        return 0
    if args.update_baseline:
        with open(args.baseline, "w", encoding="utf-8") as f:
            json.dump({"totals": totals, "documents": rows}, f, indent=1, sort_keys=True)
            f.write("\n")
        print(f"baseline written to {args.baseline}")
        return 0
    with open(args.baseline, encoding="utf-8") as f:
        baseline = json.load(f)
    worse, better = compare(rows, baseline)
    for msg in better:
        print(f"BETTER {msg}")
    for msg in worse:
        print(f"WORSE  {msg}")
    if better and not worse:
        print("Better than the baseline: record it with --update-baseline and commit "
              "corpus/baseline.INSTALL.json (TAMSEL_DOKUWIKI names the install).")
    print(f"{len(rows)} documents: {len(worse)} figures worse than the baseline, "
          f"{len(better)} better")
    return 1 if worse else 0


if __name__ == "__main__":
    sys.exit(main())
