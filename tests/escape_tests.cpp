// SPDX-License-Identifier: GPL-2.0-or-later
// The escaping of each context on its own, without a document around it.
#include "Tamsel_Ascii.h"
#include "Tamsel_Escape.h"
#include "Tamsel_Utf8.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

using namespace tamsel;
using namespace tamsel::detail;

namespace {

// Joins the pieces; a link piece ended by a title's "]]" run is written as
// the channel goes on, with a new link's opening.
class TRecord final : public TPieceSink {
public:
  std::string Out;
  void Piece(const char* p, std::size_t n) override { Out.append(p, n); }
  bool EndLinkPiece() override {
    Out += "]][[|";
    return true;
  }
};

std::string Text(std::string_view text, TTextPlace place = {}) {
  static TTextEscaper escaper;
  TRecord record;
  escaper.Escape(text, place, record);
  return record.Out;
}

constexpr TTextPlace kTable{.Table = true};
constexpr TTextPlace kCode{.InlineCode = true};
constexpr TTextPlace kPair{.InPair = true};
constexpr TTextPlace kHeld{.BracketHeld = true};

struct TTextCase {
  const char* In;
  TTextPlace Place;
  const char* Out;
};

TEST(Escape, DocumentText) {
  const TTextCase cases[] = {
      {"plain words", {}, "plain words"},
      {"x **y** z", {}, "x %%**%%y%%**%% z"},
      {"a //b// c __d__ ''e''", {}, "a %%//%%b%%//%% c %%__%%d%%__%% %%''%%e%%''%%"},
      {"[[x]] {{y}} ((z))", {}, "%%[[%%x]] %%{{%%y}} %%((%%z))"},
      // Markup that only the start of a line makes.
      {"----", {}, "%%----%%"},
      {"a ----", {}, "a ----"},
      {"== x", {}, "%%==%% x"},
      {"  * item", {}, "%%  *%% item"},
      {"> quoted", {}, "%%>%% quoted"},
      {"a > b", {}, "a > b"},
      {"title ==", {}, "title %%==%%"},
      // Cell separators: markup in a table only, and at a text's start.
      {"a|b^c", {}, "a|b^c"},
      {"a|b^^c", kTable, "a%%|%%b%%^^%%c"},
      {"|a", {}, "%%|%%a"},
      // "%%" itself, and the nowiki tags.
      {"50%% off", {}, "50<nowiki>%%</nowiki> off"},
      {"<nowiki>x</NOWIKI>", {}, "%%<nowiki>%%x%%</NOWIKI>%%"},
      {"<code> and <file> <html> <php> <sub>",
       {},
       "%%<code>%% and %%<file%%> %%<html%%> %%<php%%> %%<sub>%%"},
      {"mail <a@b.org>", {}, "mail %%<%%a@b.org>"},
      {"~~NOTOC~~", {}, "%%~~NOTOC~~%%"},
      {"a\\\\ b \\\\server", {}, "a%%\\\\%% b %%\\\\%%server"},
      // "//" after a scheme DokuWiki links belongs to the address; not where
      // no address follows, nor after a scheme it does not link.
      {"see http://example.com/a and HTTPS://x.org",
       {},
       "see http://example.com/a and HTTPS://x.org"},
      {"see http://", {}, "see http:%%//%%"},
      {"a//b", {}, "a%%//%%b"},
      {"tel://x", {}, "tel:%%//%%x"},
      {"x file://h/a", {}, "x file:%%//%%h/a"},
      // An address DokuWiki links takes '[' and markup runs into itself.
      {"http://x.org/a**b", {}, "%%http://x.org/a**b%%"},
      {"see www.x.org/~a", kPair, "see %%www.x.org/~a%%"},
      {"see www.x.org/~a", {}, "see www.x.org/~a"},
      // Typography in words; prose keeps it.
      {"use --check now", {}, "use %%--check%% now"},
      {"a -- b", {}, "a -- b"},
      {"a -> b", {}, "a %%->%% b"},
      {"640x480 and 0x1F", {}, "%%640x480%% and 0x1F"},
      {"(c) 2012", {}, "%%(c)%% 2012"},
      {"a -- b \"c\"", kCode, "a %%--%% b %%\"c\"%%"},
      // The text judged whole, a '[' after it held back by the channel.
      {"www.x.org", TTextPlace{.InPair = true, .BracketHeld = true}, "%%www.x.org%%"},
      {"a ==", kHeld, "a %%==%%"},
      // Bytes above 0x7F, valid or not, pass as they are: the channel
      // replaces what is no UTF-8, never split by the escaping.
      {"\xC3\xA9**\xFF", {}, "\xC3\xA9%%**%%\xFF"},
  };
  for (const TTextCase& c : cases)
    EXPECT_EQ(Text(c.In, c.Place), c.Out) << c.In;
}

TEST(Escape, LongRunsAreProtectedWhole) {
  const std::string run(200000, '*');
  EXPECT_EQ(Text(run), "%%" + run + "%%");
}

// The classes let the escaping skip bytes: at no byte they skip may the
// pattern match.
TEST(Escape, ByteClassesCoverThePattern) {
  const std::string pattern = TTextEscaper::Pattern();
  int error = 0;
  PCRE2_SIZE offset = 0;
  std::unique_ptr<pcre2_code, decltype(&pcre2_code_free)> code(
      pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern.c_str()), PCRE2_ZERO_TERMINATED,
                    PCRE2_CASELESS, &error, &offset, nullptr),
      pcre2_code_free);
  ASSERT_TRUE(code);
  std::unique_ptr<pcre2_match_data, decltype(&pcre2_match_data_free)> data(
      pcre2_match_data_create(3, nullptr), pcre2_match_data_free);
  const char* const tails[] = {"", " ", "-", "=", "*", "/", "\\ ", "ode>", "el>", "ub>", "up>"};
  std::string subject;
  for (int a = 0; a < 256; ++a)
    for (int b = 0; b < 256; ++b)
      for (const char* tail : tails) {
        subject = "x";
        subject += static_cast<char>(a);
        subject += static_cast<char>(b);
        subject += tail;
        const auto* p = reinterpret_cast<const unsigned char*>(subject.data());
        for (std::size_t at : {std::size_t{0}, std::size_t{1}}) {
          const std::size_t from = at == 0 ? 1 : 0;
          const int rc = pcre2_match(code.get(), p + from, subject.size() - from, at,
                                     PCRE2_ANCHORED | PCRE2_NOTEMPTY, data.get(), nullptr);
          if (rc <= 0) continue;
          const unsigned char c = p[from + at];
          EXPECT_TRUE(at == 0 ? kByteClasses.FirstByte[c] : kByteClasses.MatchStart[c]) << a;
          EXPECT_TRUE(TTextEscaper::CanStartMatch(p + from, subject.size() - from, at))
              << a << ' ' << b << ' ' << tail;
        }
      }
}

TEST(Escape, Targets) {
  const struct {
    const char* In;
    bool Url;
    const char* Out;
  } cases[] = {
      {"ns:page", false, "ns:page"},
      {"a|b[c]{d}", false, "a_b_c__d_"},
      {" a\tb", false, "_a_b"},
      {"http://x.org/?q=a|b[1]", true, "http://x.org/?q=a%7Cb%5B1%5D"},
      {"http://x.org/a b\"<>", true, "http://x.org/a%20b%22%3C%3E"},
      {"http://x.org/\ta\r\nb\x01", true, "http://x.org/ab%01"},
      {"mail@x.org", true, "mail@x.org"},
  };
  for (const auto& c : cases) {
    std::string out;
    EscapeTarget(c.In, c.Url, out);
    EXPECT_EQ(out, c.Out) << c.In;
  }
}

TEST(Escape, LinkTitles) {
  const struct {
    const char* In;
    bool Opens;
    const char* Out;
  } cases[] = {
      {"a **b** <c>", true, "a **b** <c>"},
      {"a]]b", true, "a]]]][[|b"},
      {"a]]]b", false, "a]]]]][[|b"},
      {"{{x}}", true, "{\xE2\x80\x8B{x}}"},
      {"{{x}}", false, "{{x}}"},
      {"a]]{{x}}", false, "a]]]][[|{\xE2\x80\x8B{x}}"},
  };
  for (const auto& c : cases) {
    TRecord record;
    EscapeLinkTitle(c.In, c.Opens, record);
    EXPECT_EQ(record.Out, c.Out) << c.In;
  }
}

TEST(Escape, ImageTitles) {
  const struct {
    const char* In;
    bool InLink;
    const char* Out;
  } cases[] = {
      {"a|b **c**", false, "a|b **c**"},
      {"a}}b", false, "a}\xE2\x80\x8B}b"},
      {"a}", false, "a}\xE2\x80\x8B"},
      {"a]]b", false, "a]\xE2\x80\x8B]b"},
      {"a}b", true,
       "a\xEF\xBD\x9D"
       "b"},
      {"a\r\nb\tc", false, "a  b c"},
  };
  for (const auto& c : cases) {
    std::string out;
    EscapeImageTitle(c.In, c.InLink, out);
    EXPECT_EQ(out, c.Out) << c.In;
  }
}

TEST(Escape, CodeFontAndSize) {
  std::string out;
  EscapeCode("a\nb **c**\n", "\r\n", out);
  EXPECT_EQ(out, "a\r\nb **c**\r\n");
  out.clear();
  EscapeFontValue("#f00]x[\n", out);
  EXPECT_EQ(out, "#f00x");
  const struct {
    const char* Width;
    const char* Height;
    const char* Out;
  } sizes[] = {
      {"640", "480", "?640x480"},
      {"640  ", "", "?640"},
      {"640", "4.5", "?640"},
      {"+5", "4", ""},
      {" 5", "", ""},
      {"", "480", ""},
  };
  for (const auto& c : sizes) {
    out.clear();
    EscapeImageSize(c.Width, c.Height, out);
    EXPECT_EQ(out, c.Out) << c.Width << 'x' << c.Height;
  }
}

TEST(Utf8, DecodesAsBrowsersDo) {
  const struct {
    const char* In;
    std::ptrdiff_t Length; // Utf8Length at the first byte
    char32_t First;        // DecodeUtf8 at the first byte
  } cases[] = {
      {"\xC3\xA9", 2, 0xE9},
      {"\xE2\x82\xAC", 3, 0x20AC},
      {"\xF0\x9F\x98\x80", 4, 0x1F600},
      {"\xC0\xAF", -1, 0xFFFD}, // overlong
      {"\xE0\x80\xAF", -1, 0xFFFD},
      {"\xED\xA0\x80", -1, 0xFFFD},     // surrogate
      {"\xF4\x90\x80\x80", -1, 0xFFFD}, // above U+10FFFF
      {"\xE2\x82", -2, 0xFFFD},         // cut short: one U+FFFD for both
      {"\xF0\x9F\x98", -3, 0xFFFD},
      {"\x80", -1, 0xFFFD},
  };
  for (const auto& c : cases) {
    const std::string_view s = c.In;
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    EXPECT_EQ(Utf8Length(p, p + s.size()), c.Length) << s;
    std::size_t pos = 0;
    EXPECT_EQ(DecodeUtf8(s, pos), c.First) << s;
    EXPECT_EQ(pos, c.Length > 0 ? s.size() : 1u) << s;
    EXPECT_EQ(IsValidUtf8(s), c.Length > 0) << s;
    EXPECT_EQ(IsValidUtf8("plain ascii text " + std::string(s)), c.Length > 0) << s;
  }
  std::string out;
  for (const char32_t c : {U'a', U'\u00E9', U'\u20AC', U'\U0001F600'})
    AppendUtf8(out, c);
  EXPECT_EQ(out, "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80");
}

TEST(Ascii, CaseOfAsciiLettersAlone) {
  EXPECT_EQ(LowerAscii("MailTo:\xC3\x89-Z@"), "mailto:\xC3\x89-z@");
  EXPECT_TRUE(EqualsNoCase("CENTER", "center"));
  EXPECT_FALSE(EqualsNoCase("cente", "center"));
  EXPECT_FALSE(EqualsNoCase("@", "`"));
  EXPECT_EQ(LowerAscii(U'Q'), U'q');
  EXPECT_EQ(LowerAscii(U'\u00C9'), U'\u00C9');
  EXPECT_TRUE(StartsWithNoCase("WWW.x", "www."));
  EXPECT_FALSE(StartsWithNoCase("ww", "www."));
}

} // namespace
