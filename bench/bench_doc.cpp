// SPDX-License-Identifier: GPL-2.0-or-later
#include "bench_doc.h"

#include "Tamsel_Utf8.h"

#include <array>
#include <string_view>
#include <vector>

namespace tamsel::bench {

namespace {

// splitmix64: tiny, fast and the same on every platform, unlike <random>'s
// distributions, whose results the standard leaves to the library.
class TRandom {
public:
  explicit TRandom(std::uint64_t seed) : State(seed) {}
  std::uint64_t Next() {
    std::uint64_t z = (State += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
  }
  // 0 <= result < n
  unsigned Below(unsigned n) { return static_cast<unsigned>(Next() % n); }
  bool Percent(unsigned p) { return Below(100) < p; }
  template <std::size_t N> std::string_view Pick(const std::array<std::string_view, N>& a) {
    return a[Below(N)];
  }

private:
  std::uint64_t State;
};

constexpr std::array<std::string_view, 64> kWords = {
    "the",    "of",      "and",      "a",        "to",      "in",        "is",    "you",
    "that",   "it",      "he",       "was",      "for",     "on",        "are",   "as",
    "with",   "his",     "they",     "at",       "be",      "this",      "have",  "from",
    "or",     "one",     "had",      "by",       "word",    "but",       "not",   "what",
    "all",    "were",    "we",       "when",     "your",    "can",       "said",  "there",
    "use",    "an",      "each",     "which",    "she",     "do",        "how",   "their",
    "if",     "will",    "up",       "other",    "about",   "out",       "many",  "then",
    "server", "release", "document", "settings", "version", "migration", "table", "converter"};

// Text in other scripts: two- and three-byte UTF-8 sequences, and the lead
// byte 0xE2 that the en dash repair looks at, in characters that are not one.
constexpr std::array<std::string_view, 16> kForeign = {
    "Grüße", "naïve",    "façade", "Ελληνικά", "Привет", "日本語",   "중국어", "Zürich",
    "€ 42",  "“quoted”", "…",      "señor",    "Ærø",    "İstanbul", "mañana", "→ next"};

// Runs DokuWiki would read as markup, and references Tidy prints back.
constexpr std::array<std::string_view, 30> kTricky = {"**bold**",
                                                      "//italic//",
                                                      "[[not a link]]",
                                                      "%%",
                                                      "50%",
                                                      "a|b",
                                                      "x^2",
                                                      "----",
                                                      "\xE2\x80\x93",
                                                      "1\xE2\x80\x93"
                                                      "2",
                                                      "&amp;",
                                                      "&lt;b&gt;",
                                                      "a/b/c",
                                                      "http://example.org/a//b",
                                                      "C:\\\\ dir",
                                                      "it''s",
                                                      "{{image}}",
                                                      "((note))",
                                                      "__under__",
                                                      "&lt;nowiki&gt;",
                                                      "&lt;code&gt;",
                                                      "&ndash;",
                                                      "&mdash;",
                                                      "&nbsp;",
                                                      "==",
                                                      "(*)",
                                                      "\"quote\"",
                                                      "'single'",
                                                      "&lt;/nowiki&gt;",
                                                      "100%%"};

constexpr std::array<std::string_view, 6> kHosts = {"https://example.org/",
                                                    "http://www.example.com/docs/",
                                                    "ftp://files.example.net/pub/",
                                                    "https://wiki.example.de/doku.php?id=",
                                                    "http://intranet/",
                                                    "https://example.org/a%20b/"};

constexpr std::array<std::string_view, 6> kPaths = {"page.html",      "docs/install.html",
                                                    "../up/one.htm",  "news/2012/08/13.html",
                                                    "index.html#top", "faq.php"};

class TWriter {
public:
  TWriter(std::size_t bytes, std::uint64_t seed) : Target(bytes), R(seed) {}

  std::string Document() {
    Out.reserve(Target + 4096);
    Out += "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n<title>";
    Words(4);
    Out += "</title>\n</head>\n<body>\n";
    while (Out.size() + 20 < Target)
      Block(0);
    Out += "</body>\n</html>\n";
    return std::move(Out);
  }

private:
  void Word() {
    const unsigned roll = R.Below(100);
    if (roll < 86)
      Out += R.Pick(kWords);
    else if (roll < 93)
      Out += R.Pick(kForeign);
    else
      Out += R.Pick(kTricky);
  }

  void Words(unsigned n) {
    for (unsigned i = 0; i < n; ++i) {
      if (i) Out += ' ';
      Word();
    }
  }

  void Sentence() {
    const std::size_t first = Out.size();
    Words(4 + R.Below(12));
    if (first < Out.size() && Out[first] >= 'a' && Out[first] <= 'z') Out[first] -= 32;
    Out += R.Percent(85) ? ". " : (R.Percent(50) ? "? " : ": ");
  }

  void Link() {
    const unsigned kind = R.Below(10);
    Out += "<a href=\"";
    if (kind < 5) {
      Out += R.Pick(kHosts);
      Words(1);
    } else if (kind < 9) {
      Out += R.Pick(kPaths);
    } else {
      Out += "mailto:someone@example.org";
    }
    Out += "\">";
    if (R.Percent(15)) {
      Out += "<b>";
      Words(1);
      Out += "</b> ";
    }
    Words(1 + R.Below(3));
    Out += "</a>";
  }

  void Image() {
    Out += "<img src=\"";
    Out += R.Percent(50) ? "images/pic" : "https://example.org/img/pic";
    Out += std::to_string(R.Below(100));
    Out += ".png\"";
    if (R.Percent(60)) Out += " width=\"" + std::to_string(50 + R.Below(400)) + "\"";
    if (R.Percent(40)) Out += " height=\"" + std::to_string(50 + R.Below(300)) + "\"";
    if (R.Percent(30)) Out += R.Percent(50) ? " align=\"left\"" : " align=\"right\"";
    Out += " alt=\"";
    Words(2);
    Out += "\">";
  }

  // A stretch of running text with inline elements between the words.
  void Inline(unsigned sentences) {
    static constexpr std::array<std::string_view, 12> kTags = {
        "b", "i", "em", "strong", "u", "code", "span", "tt", "sub", "sup", "del", "small"};
    for (unsigned s = 0; s < sentences; ++s) {
      const unsigned roll = R.Below(100);
      if (roll < 22) {
        const std::string_view tag = R.Pick(kTags);
        Out += '<';
        Out += tag;
        Out += '>';
        Words(1 + R.Below(4));
        if (R.Percent(15)) {
          Out += " <i>";
          Words(2);
          Out += "</i>";
        }
        Out += "</";
        Out += tag;
        Out += "> ";
      } else if (roll < 32) {
        Link();
        Out += ' ';
      } else if (roll < 35) {
        Image();
        Out += ' ';
      } else if (roll < 39) {
        Out += "<br>\n";
      }
      Sentence();
      if (R.Percent(20)) Out += '\n';
    }
  }

  void Paragraph() {
    Out += "<p>";
    Inline(2 + R.Below(6));
    Out += "</p>\n";
  }

  void Heading() {
    const char level = static_cast<char>('1' + R.Below(5));
    Out += "<h";
    Out += level;
    Out += '>';
    Words(2 + R.Below(5));
    Out += "</h";
    Out += level;
    Out += ">\n";
  }

  void List(unsigned depth) {
    const bool ordered = R.Percent(40);
    Out += ordered ? "<ol>\n" : "<ul>\n";
    const unsigned items = 2 + R.Below(6);
    for (unsigned i = 0; i < items; ++i) {
      Out += "<li>";
      Inline(1 + R.Below(2));
      if (depth < 3 && R.Percent(25)) List(depth + 1);
      Out += "</li>\n";
    }
    Out += ordered ? "</ol>\n" : "</ul>\n";
  }

  void Table() {
    const unsigned cols = 2 + R.Below(5);
    const unsigned rows = 2 + R.Below(9);
    Out += R.Percent(50) ? "<table border=\"1\">\n" : "<table>\n";
    if (R.Percent(70)) {
      Out += "<thead><tr>";
      for (unsigned c = 0; c < cols; ++c) {
        Out += "<th>";
        Words(1 + R.Below(2));
        Out += "</th>";
      }
      Out += "</tr></thead>\n";
    }
    Out += "<tbody>\n";
    for (unsigned r = 0; r < rows; ++r) {
      Out += "<tr>";
      for (unsigned c = 0; c < cols; ++c) {
        unsigned span = 1;
        if (c + 1 < cols && R.Percent(8)) span = 2;
        Out += "<td";
        if (span > 1) Out += " colspan=\"2\"";
        if (R.Percent(15)) Out += R.Percent(50) ? " align=\"right\"" : " align=\"center\"";
        Out += '>';
        if (R.Percent(10)) Out += "a | b ^ c ";
        if (R.Percent(20))
          Inline(1);
        else
          Words(1 + R.Below(3));
        Out += "</td>";
        c += span - 1;
      }
      Out += "</tr>\n";
    }
    Out += "</tbody>\n</table>\n";
  }

  void Code() {
    static constexpr std::array<std::string_view, 10> kLines = {
        "int main(int argc, char** argv) {",
        "  if (a &lt; b &amp;&amp; b &gt; c) return 0; // done",
        "  printf(\"%d%%\\n\", x ** 2);",
        "  std::cout &lt;&lt; \"[[x]]\" &lt;&lt; '|';",
        "}",
        "$ make -j2 &amp;&amp; ./run --all",
        "    x = y ^ z | w;",
        "# comment \xE2\x80\x93 with a dash",
        "&lt;div class=\"x\"&gt;**not bold**&lt;/div&gt;",
        "path = C:\\\\Users\\\\me"};
    Out += "<pre>";
    const unsigned lines = 3 + R.Below(10);
    for (unsigned i = 0; i < lines; ++i) {
      Out += R.Pick(kLines);
      Out += '\n';
    }
    Out += "</pre>\n";
  }

  void Quote() {
    Out += "<blockquote>";
    Paragraph();
    if (R.Percent(20)) {
      Out += "<blockquote>";
      Inline(1);
      Out += "</blockquote>";
    }
    Out += "</blockquote>\n";
  }

  void Definitions() {
    Out += "<dl>\n";
    const unsigned items = 1 + R.Below(4);
    for (unsigned i = 0; i < items; ++i) {
      Out += "<dt>";
      Words(1 + R.Below(3));
      Out += "</dt><dd>";
      Inline(1 + R.Below(2));
      Out += "</dd>\n";
    }
    Out += "</dl>\n";
  }

  void Block(unsigned depth) {
    const unsigned roll = R.Below(100);
    if (roll < 44)
      Paragraph();
    else if (roll < 56)
      Heading();
    else if (roll < 70)
      List(1);
    else if (roll < 80)
      Table();
    else if (roll < 87)
      Code();
    else if (roll < 92)
      Quote();
    else if (roll < 95)
      Definitions();
    else if (roll < 97)
      Out += "<hr>\n";
    else if (depth == 0) {
      // Page builders wrap content in containers the converter walks through.
      Out += "<div class=\"section\">\n";
      for (unsigned i = 0, n = 1 + R.Below(4); i < n; ++i)
        Block(depth + 1);
      Out += "</div>\n";
    } else {
      Paragraph();
    }
  }

  const std::size_t Target;
  TRandom R;
  std::string Out;
};

constexpr std::array<std::string_view, 58> kDense = {"*",
                                                     "_",
                                                     "'",
                                                     "{",
                                                     "[",
                                                     "(",
                                                     "/",
                                                     "\\",
                                                     "\\\\ ",
                                                     "&lt;",
                                                     "&gt;",
                                                     "&amp;",
                                                     "%",
                                                     "%%",
                                                     "|",
                                                     "^",
                                                     "-",
                                                     "----",
                                                     "=",
                                                     "==",
                                                     " ",
                                                     "  ",
                                                     "a",
                                                     "b",
                                                     "http:",
                                                     "https:",
                                                     "HTTP:",
                                                     "ftp:",
                                                     "file:",
                                                     "ed2k:",
                                                     "x:",
                                                     "&lt;code&gt;",
                                                     "&lt;CODE&gt;",
                                                     "&lt;del&gt;",
                                                     "&lt;sub&gt;",
                                                     "&lt;Sup&gt;",
                                                     "&lt;nowiki&gt;",
                                                     "&lt;/NoWiki&gt;",
                                                     "&ndash;",
                                                     "\xE2\x80\x93",
                                                     "\xE2\x80",
                                                     "\xC3\xBC",
                                                     "&nbsp;",
                                                     "&ndash",
                                                     "&amp;lt;",
                                                     "**",
                                                     "//",
                                                     "[[",
                                                     "]]",
                                                     "{{",
                                                     "((",
                                                     "''",
                                                     "__",
                                                     "\n",
                                                     "  *",
                                                     "  -",
                                                     " ----",
                                                     " ==="};

class TDenseWriter {
public:
  TDenseWriter(std::size_t bytes, std::uint64_t seed) : Target(bytes), R(seed) {}

  std::string Document() {
    Out += "<html><body>\n";
    while (Out.size() < Target)
      Block();
    Out += "</body></html>\n";
    return std::move(Out);
  }

private:
  void Text() {
    for (unsigned i = 0, n = R.Below(8); i < n; ++i)
      Out += R.Pick(kDense);
  }

  void Inline() {
    static constexpr std::array<std::string_view, 8> kTags = {"b",   "i",  "code", "span",
                                                              "sub", "em", "u",    "del"};
    for (unsigned i = 0, n = 1 + R.Below(5); i < n; ++i) {
      Text();
      const unsigned roll = R.Below(10);
      if (roll < 4) {
        const std::string_view tag = R.Pick(kTags);
        Out += '<';
        Out += tag;
        Out += '>';
        Text();
        Out += "</";
        Out += tag;
        Out += '>';
      } else if (roll < 5) {
        Out += R.Percent(50) ? "<a href=\"http://x.org/a\">" : "<a href=\"p/q.html\">";
        Text();
        Out += "</a>";
      } else if (roll < 6) {
        Out += "<br>";
      }
    }
  }

  void Block() {
    switch (R.Below(8)) {
    case 0:
      Out += "<table><tr><td>";
      Inline();
      Out += "</td><th>";
      Inline();
      Out += "</th></tr></table>\n";
      break;
    case 1:
      Out += "<ul><li>";
      Inline();
      Out += "</li></ul>\n";
      break;
    case 2:
      Out += "<pre>";
      Text();
      Out += "</pre>\n";
      break;
    case 3:
      Out += "<h3>";
      Inline();
      Out += "</h3>\n";
      break;
    case 4:
      Out += "<blockquote>";
      Inline();
      Out += "</blockquote>\n";
      break;
    case 5:
      Out += "<dl><dt>";
      Text();
      Out += "</dt><dd>";
      Inline();
      Out += "</dd></dl>\n";
      break;
    default:
      Out += "<p>";
      Inline();
      Out += "</p>\n";
      break;
    }
  }

  const std::size_t Target;
  TRandom R;
  std::string Out;
};

} // namespace

std::string MakeDenseDocument(std::size_t bytes, std::uint64_t seed) {
  return TDenseWriter(bytes, seed).Document();
}

std::string MakeDocument(std::size_t bytes, std::uint64_t seed) {
  return TWriter(bytes, seed).Document();
}

std::string MakeMessyDocument(std::size_t bytes, std::uint64_t seed) {
  const std::string clean = MakeDocument(bytes, seed);
  struct TEdit {
    std::string_view From, To;
  };
  static constexpr TEdit kEdits[] = {{"</i>", ""},
                                     {"</li>", ""},
                                     {"</strong>", "</b>"},
                                     {"<p>", "<p foo=\"1\" style=x>"},
                                     {"<td>", "<td><font face=x>"},
                                     {"</h2>", "</h3>"}};
  std::string out;
  out.reserve(clean.size() + clean.size() / 8);
  for (std::size_t i = 0; i < clean.size();) {
    bool edited = false;
    if (clean[i] == '<')
      for (const TEdit& e : kEdits)
        if (clean.compare(i, e.From.size(), e.From) == 0) {
          out += e.To;
          i += e.From.size();
          edited = true;
          break;
        }
    if (!edited) out += clean[i++];
  }
  return out;
}

std::string MakeEdgeDocument() {
  std::string out = "<html><head><title>t&lt;x&gt;</title><style>p>a{}</style></head><body>\n";
  std::vector<unsigned> points;
  for (unsigned c = 1; c < 0x3000; ++c)
    points.push_back(c);
  for (unsigned c = 0xF000; c < 0x10000; ++c)
    points.push_back(c);
  for (unsigned c : {0x10000u, 0x1F600u, 0x10FFFFu})
    points.push_back(c);
  for (std::string_view tag : {"p", "pre", "td"}) {
    for (std::size_t i = 0; i < points.size(); i += 64) {
      out += '<';
      out += tag;
      out += ">a";
      for (std::size_t j = i; j < i + 64 && j < points.size(); ++j) {
        const unsigned c = points[j];
        if (c == '<' || c == '&') continue; // would start markup; as references below
        AppendUtf8(out, c);
        out += "&#" + std::to_string(c) + ";";
      }
      out += "b</";
      out += tag;
      out += ">\n";
    }
  }
  static constexpr std::string_view kBody =
      "a<b && c>d\n  line2\t&amp; &lt;x&gt; \r\n third  &nbsp; end&#10;&#13;&#9;x";
  for (std::string_view tag : {"script", "style", "textarea", "xmp", "listing", "pre", "code", "td",
                               "li", "option", "button", "noscript", "title", "center"}) {
    out += '<';
    out += tag;
    out += '>';
    out += kBody;
    out += "</";
    out += tag;
    out += ">\n";
  }
  out += "<pre>\n\nleading newlines\n  indented\n\n</pre>\n<pre>tabs\tand\ttabs</pre>\n";
  out += "<![CDATA[ x<y ]]><!-- c --><p>after</p>\n";
  out += "<p>" + std::string(300000, 'x') + "</p>\n<p>";
  for (int i = 0; i < 50000; ++i)
    out += i % 7 ? "word " : "&lt;&amp;&gt; \xE2\x80\x93 ";
  out += "</p>\n</body></html>\n";
  return out;
}

std::string SizeName(std::size_t bytes) {
  if (bytes >= (1u << 20) && bytes % (1u << 20) == 0) return std::to_string(bytes >> 20) + "MB";
  if (bytes >= 1024 && bytes % 1024 == 0) return std::to_string(bytes >> 10) + "KB";
  return std::to_string(bytes) + "B";
}

} // namespace tamsel::bench
