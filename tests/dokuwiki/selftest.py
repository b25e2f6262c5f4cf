#!/usr/bin/env python3
"""The fidelity comparison must see faults: each row gives HTML, markup that
gets it wrong on purpose, and the checks that have to fail (none where the
difference is DokuWiki's own typography)."""

import argparse
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
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


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--driver", required=True)
    ap.add_argument("--work", required=True)
    args = ap.parse_args()
    if not fidelity.dokuwiki_available():
        print("SKIP: needs php-cli and the dokuwiki package")
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
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main())
