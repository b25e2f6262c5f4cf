#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-2.0-or-later
"""The fidelity comparison must see faults: each row gives HTML, markup that
gets it wrong on purpose, and the checks that have to fail (none where the
difference is DokuWiki's own typography). The corpus measurement likewise:
its rows give the figures such markup must produce."""

import argparse
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import corpus  # noqa: E402
import fidelity  # noqa: E402

ROWS = [
    ("<p>Hello <b>world</b></p>", "Hello world", {"strong"}),
    ("<p>Hello <b>world</b></p>", "Hello **world", {"text", "strong"}),
    ("<p>one two three</p>", "one three", {"text"}),
    ("<p>one two</p>", "onetwo", {"text"}),
    ("<h2>Title</h2>", "==== Title ====", {"h2", "h3"}),
    ("<ul><li>a</li><li>b</li></ul>", "  * a b", {"li"}),
    ("<ul><li>a</li></ul><p>x</p>", "  * a\n\n  * x", {"li"}),
    ("<ol><li>a<ul><li>b</li></ul></li></ol>", "  - a\n  - b", {"li"}),
    ("<ol><li>a<ul><li>b</li></ul></li></ol>", "  - a\n    - b", {"li"}),
    ("<ol><li>a<ul><li>b</li></ul></li></ol>", "  - a\n    * b", set()),
    ('<p><a href="docs/x.html#s">t</a></p>', "[[docs:y#s|t]]", {"a"}),
    ('<p><a href="http://example.com/">t</a></p>', "t", {"a"}),
    ('<p><a href="p.html">a b</a></p>', "[[p|a]] b", {"a"}),
    ('<p><img src="a.png" width="20" align="right"></p>', "{{a.png?20}}", {"img"}),
    ('<p><img src="a.png" alt="A"></p>', "A", {"img", "text"}),
    ("<table><tr><th>h</th><td>d</td></tr></table>", "|h|d|", {"th", "td"}),
    ('<table><tr><td colspan="2">x</td></tr></table>', "|x|", {"td"}),
    ('<table><tr><td align="right">x</td></tr></table>', "|x|", {"td"}),
    ("<table><tr><td>a</td></tr><tr><td>b</td></tr></table>", "|a|b|", {"tr"}),
    ("<pre>a\n  b</pre>", "<code>\na\nb\n</code>", {"pre"}),
    ("<blockquote>q</blockquote>", "q", {"blockquote"}),
    ("<p>a</p><hr><p>b</p>", "a\n\nb", {"hr"}),
    ("<p><i>i</i> <u>u</u> <code>c</code> <del>d</del> x<sub>s</sub> y<sup>p</sup></p>",
     "i u c d xs yp", {"em", "u", "code", "del", "sub", "sup"}),
    ("<dl><dt>T</dt><dd>d</dd></dl>", "  * T d", {"strong"}),
    ("<p>a -- b ... (c) \"q\" -&gt; 2x3</p>", "a – b … © “q” → 2×3", set()),
    ("<p>x</p>", "x\n\n  * y", {"text", "li"}),
]

# (HTML, markup, figures expected; figures not named must be 0)
MEASURE_ROWS = [
    ("<p>one two</p>", "one two", {}),
    ("<p>one two three</p>", "one three", {"lost": 1}),
    ("<p>a<br>b</p>", "ab", {"lost": 2, "added": 1}),
    ("<p>a -- b ... x</p>", "a -- b ... x", {}),
    ("<p>a</p><script>var answer = fortyTwo();</script>", "a\n\nvar answer = fortyTwo();",
     {"added": 4, "leaked": 4}),
    ("<p>a</p><style>p { color: red; }</style>", "a", {}),
    ("<p>x</p>", "x %%", {"added": 1, "garbage": 1}),
    ("<p>x</p>", "x ** y", {"added": 2, "garbage": 1}),
    ('<p><a href="p.html">x</a> <a href="http://e.org/">y</a></p>', "[[p|x]] y",
     {"links": 2, "links_kept": 1, "links_lost": 1}),
    ('<p><a href="p.html#s">x</a></p>', "[[p#other|x]]", {"links": 1, "links_kept": 1}),
    ('<pre><a href="p.html">x</a></pre>', "<code>\nx\n</code>",
     {"links": 1, "links_cannot": 1, "html_pre": 1, "dw_pre": 1}),
    ('<p><a href="javascript:go()">x</a></p>', "x", {"links": 1, "links_cannot": 1}),
    ('<h2 id="a">T<a href="#a">\u00b6</a></h2>', "===== T =====", {"html_h": 1, "dw_h": 1}),
    ('<h2 id="a">T<a href="#a">\u00b6</a></h2>', "===== T\u00b6 =====",
     {"lost": 1, "added": 1, "html_h": 1, "dw_h": 1}),
    ('<section id="s"><h2><a href="#s">T</a></h2></section>', "===== T =====",
     {"links": 1, "links_cannot": 1, "html_h": 1, "dw_h": 1}),
    ('<h2>T <a href="p.html">p</a></h2>', "===== T p =====",
     {"links": 1, "links_lost": 1, "html_h": 1, "dw_h": 1}),
    ("<p><code>--x</code></p>", "''--x''", {"code": 1, "code_changed": 1, "typo": 1}),
    # An option's dashes and an arrow that DokuWiki's typography turned into
    # one character each; a dash between spaces is prose.
    ("<p>use --check a -> b</p>", "use --check a -> b", {"typo": 2}),
    ("<p>use --check a -> b</p>", "use %%--check%% a %%->%% b", {}),
    ("<p>a -- b</p>", "a -- b", {}),
    ("<p><code>--x</code></p>", "''%%--x%%''", {"code": 1}),
    ("<p>a</p><p>b</p>", "%%a\n\nb%%", {"runaway": 1, "runaway_lines": 2}),
    ('<p><a href="#s">go</a></p><h2 id="s">Intro</h2>', "[[#intro|go]]\n\n===== Intro =====",
     {"links": 1, "links_kept": 1, "frag": 1, "frag_land": 1, "html_h": 1, "dw_h": 1}),
    ('<p><a href="#s">go</a></p><h2 id="s">Intro</h2>', "[[#s|go]]\n\n===== Intro =====",
     {"links": 1, "links_kept": 1, "frag": 1, "frag_lost": 1, "frag_dangling": 1, "html_h": 1,
      "dw_h": 1}),
    ('<table><tr><td rowspan="2">a</td><td>b</td></tr><tr><td>c</td></tr></table>',
     "|a|b|\n|:::|c|", {"html_table": 1, "dw_table": 1, "html_rowspan": 1, "dw_rowspan": 1}),
    ('<table><tr><td rowspan="2">a</td><td>b</td></tr><tr><td>c</td></tr></table>',
     "|a|b|\n|c|", {"html_table": 1, "dw_table": 1, "html_rowspan": 1, "off_rowspan": 1}),
    ("<ul><li>a</li><li>b</li></ul>", "a b", {"html_li": 2, "off_li": 2}),
    ("<table><tr><td>a</td></tr></table>", "a", {"html_table": 1, "off_table": 1}),
]


def check_measure(driver, work):
    cases = [fidelity.Case(f"measure{i + 1}", html, "selftest")
             for i, (html, _, _) in enumerate(MEASURE_ROWS)]
    fidelity.convert(cases, driver, work)
    for case, (_, wiki, _) in zip(cases, MEASURE_ROWS):
        case.wiki = wiki
    fidelity.render(cases, work, nowiki_spans=True)
    bad = 0
    for case, (html, wiki, expected) in zip(cases, MEASURE_ROWS):
        fig, _ = corpus.measure(case)
        fig["words"] = expected.get("words", 0)  # not what the rows are about
        wrong = {k: v for k, v in fig.items() if v != expected.get(k, 0)}
        if wrong:
            bad += 1
            print(f"FAIL  {case.name}: {html!r} as {wiki!r}: got {wrong}, "
                  f"expected {dict((k, expected.get(k, 0)) for k in wrong)}")
        else:
            print(f"PASS  {case.name}: {expected or 'nothing'}")
    print(f"{len(MEASURE_ROWS)} measurement rows, {bad} wrong")
    # The baseline check: worse beyond the tolerance fails, better is reported.
    base = {"documents": {"d": {"lost": 100, "garbage": 0}, "gone": {}}}
    worse, better = corpus.compare({"d": {**dict.fromkeys(corpus.FIGURES, 0), "lost": 102,
                                          "garbage": 3}}, base)
    want_worse = ["d: garbage 0 -> 3", "gone: in the baseline but not measured"]
    if worse != want_worse or better:
        bad += 1
        print(f"FAIL  baseline check: worse {worse}, better {better}")
    worse, better = corpus.compare({"d": dict.fromkeys(corpus.FIGURES, 0)},
                                   {"documents": {"d": {"lost": 3}}})
    if worse or better != ["d: lost 3 -> 0"]:
        bad += 1
        print(f"FAIL  baseline check: worse {worse}, better {better}")
    return bad


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--driver", required=True)
    ap.add_argument("--work", required=True)
    args = ap.parse_args()
    if not fidelity.dokuwiki_available():
        print(fidelity.skip_message())
        return 77
    cases = []
    for i, (html, _, _) in enumerate(ROWS):
        cases.append(fidelity.Case(f"row{i + 1}", html, "selftest"))
    fidelity.convert(cases, args.driver, args.work)
    for case, (_, wiki, _) in zip(cases, ROWS):
        case.wiki = wiki
    fidelity.render(cases, args.work)
    bad = 0
    for case, (html, wiki, expected) in zip(cases, ROWS):
        found = set(fidelity.compare(case))
        if found != expected:
            bad += 1
            print(f"FAIL  {case.name}: {html!r} as {wiki!r}: failing checks {sorted(found)}, "
                  f"expected {sorted(expected)}")
        else:
            print(f"PASS  {case.name}: {sorted(expected) or 'no difference'}")
    print(f"{len(ROWS)} rows, {bad} wrong")
    bad += check_measure(args.driver, os.path.join(args.work, "measure"))
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main())
