// SPDX-License-Identifier: GPL-2.0-or-later
// Tamsel: HTML to DokuWiki markup.
//
// A TTamsel parses HTML with HTML Tidy and walks the repaired tree below <body>,
// writing DokuWiki markup in UTF-8. One object serves any number of independent
// runs, one at a time; separate objects share nothing observable and may run
// on separate threads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace tamsel {

inline constexpr const char* kVersion = "2012-08-13";

// Input encodings for ConvertAnsi and ConvertBuffer (Tidy's encoding numbers).
inline constexpr int kEncUtf8 = 4;
inline constexpr int kEncUtf16le = 9;

// Widest column span written for one table cell. Each unit of span writes one
// separator, so an absurd colspan would otherwise fill memory; no real DokuWiki
// table has more columns than this.
inline constexpr std::int32_t kMaxColSpan = 1000;

// Largest input that a run accepts, in bytes. Tidy counts the bytes of its
// buffers in 32-bit unsigned integers that double when they grow, and its
// lexer holds the whole text of the document as UTF-8, up to three bytes for
// one input byte; below this size none of them comes near 2^31.
inline constexpr std::size_t kMaxInputBytes = std::size_t{64} << 20;
// Largest storage of the result. Nesting makes markup grow faster than its
// input (every quotation level writes its '>' again), the output buffer, a
// TidyBuffer, would loop for ever when asked to grow past 2^31 bytes, and a
// run with its input, Tidy's tree and the result stays within 1 GB.
inline constexpr std::size_t kMaxOutputBytes = std::size_t{256} << 20;
// Within that, the result of one run may take this much plus so many bytes
// per input byte: only nesting makes markup outgrow its input (each level of
// a quotation or list writes its prefix again, up to ten), and the run stops
// it before it takes far more memory than the page it came from.
inline constexpr std::size_t kOutputFloorBytes = std::size_t{16} << 20;
inline constexpr std::size_t kOutputPerInputByte = 16;

// The most memory one run of a converter may take for an input of so many
// bytes (its parse, its result and their copies, not the caller's input),
// so that callers that convert several inputs at once can share a budget.
std::size_t MemoryBoundFor(std::size_t inputBytes);

// What a conversion writes. Read afresh at the start of every run.
struct TOptions {
  // Which links become wiki links; the others give their text alone.
  bool LocalLinks = true;    // pages of the HTML's own site
  bool MailLinks = true;     // mailto: addresses
  bool ExternalLinks = true; // addresses with a scheme DokuWiki links
  // The colour and size of <font> as the "[color=...]" and "[size=...]"
  // markup of DokuWiki's colour and size plugins.
  bool FontColor = false;
  bool FontSize = false;
  // em, cite, var and dfn as "//", ins as "__", kbd and samp as "''", q
  // between quotation marks; without it they are plain text.
  bool Emphasis = false;
  // Where local links lead (one policy for the window, single documents and
  // sites). Namespace: the page lies in this namespace (cleaned as DokuWiki
  // cleans ids), and its links and images become whole ids below it; empty:
  // ids relative to the page, as written. StartPage: what a folder's index
  // page becomes. PagePath: the page's path below its site's root, against
  // which its links resolve (set for a site's pages; links then become whole
  // ids too). BaseUrl: the address the HTML was published at; every local
  // link and image source that leads to no page of a site becomes an
  // absolute address resolved against it, its query kept.
  std::string Namespace;
  std::string StartPage = "start";
  std::string PagePath;
  std::string BaseUrl;
  // Work out where every id of the page lands (TTamsel::Anchors), as a
  // site's first pass needs for the links of other pages.
  bool ReportAnchors = false;
  // Written between lines, also inside code blocks: "\r\n" or "\n" (any
  // other value is taken for "\r\n"). No other line end is ever written.
  std::string LineBreak = "\r\n";

  void SetLinks(bool on) { LocalLinks = MailLinks = ExternalLinks = on; }
};

// Where an id of a converted page lands in its DokuWiki page.
struct TAnchorTarget {
  // The anchor of the heading the element is on or in, or that follows it
  // with at most navigation between (OnHeading); else of the heading of its
  // section; empty before the first heading (the top of the page).
  std::string Section;
  bool OnHeading = false;
};

// The anchors of one page as the conversion wrote its headings.
struct TDocumentAnchors {
  // The anchor of every heading written, in order, numbered as DokuWiki
  // numbers a title met again.
  std::vector<std::string> Headings;
  // Every element id, and every name of an a, with where it lands; the
  // first element of a name wins, as in browsers.
  std::unordered_map<std::string, TAnchorTarget> Targets;
};

// Rewrites a local link target or image source. Returns false to keep the
// converter's own rewriting. Unset by default; the site migration sets it so
// that links resolve to absolute page and media ids.
using TLocalResolver = std::function<bool(std::string_view original, std::string& result)>;

// Where a local link leads: a page (and section), or a media file, which
// DokuWiki links as {{id|text}}.
struct TLinkTarget {
  std::string Target;
  bool Media = false;
};
using TLinkResolver = std::function<bool(std::string_view original, TLinkTarget& result)>;

// A parsed page as a caller sees it when it chooses which parts to convert:
// the body and every element and text below it that a browser would show, in
// document order. The entries of a node's subtree follow it, up to End.
struct TOutlineNode {
  std::string Tag;                                             // lower case; empty for text
  std::string Text;                                            // of a text node
  std::vector<std::pair<std::string, std::string>> Attributes; // names in lower case
  std::uint32_t Parent = 0; // the body (entry 0) is its own parent
  std::uint32_t End = 0;    // one past the last entry of the subtree

  // The attribute's value; empty when absent.
  std::string_view Attribute(std::string_view name) const {
    for (const auto& [key, value] : Attributes)
      if (key == name) return value;
    return {};
  }
};
using TOutline = std::vector<TOutlineNode>;

// Which parts of a page a run converts: the subtrees of Content's entries
// (none: the whole body), without those of LeaveOut's.
struct TRegion {
  std::vector<std::uint32_t> Content;
  std::vector<std::uint32_t> LeaveOut;
};
using TRegionChooser = std::function<TRegion(const TOutline&)>;

// The outline of a document, parsed as a conversion parses it. Throws as
// TTamsel::ConvertBuffer does.
TOutline OutlineDocument(std::string_view bytes, int encoding);

namespace detail {
class TConverter;
}

class TTamsel {
public:
  // Throws std::runtime_error when the escaping pattern does not compile.
  TTamsel();
  ~TTamsel();
  TTamsel(const TTamsel&) = delete;
  TTamsel& operator=(const TTamsel&) = delete;

  // bytes are read by Tidy in place, never copied; encoding is kEncUtf8,
  // kEncUtf16le or another of Tidy's encoding numbers. Throws
  // std::length_error when size is negative or above kMaxInputBytes, and when
  // the result would outgrow kMaxOutputBytes; std::runtime_error when Tidy
  // cannot make a document or gets stuck, or the escaping fails. Runs on a
  // thread of its own when the input may nest deeper than the caller's stack
  // allows.
  std::string ConvertBuffer(const void* bytes, std::int32_t size, int encoding);
  // Throws as ConvertBuffer does.
  std::string ConvertAnsi(std::string_view text, int encoding);
  // UTF-16 code units, read by Tidy as UTF-16LE. Throws as ConvertBuffer does.
  std::string ConvertWide(std::u16string_view text);

  TOptions Options;

  // The anchors of the last run's page; filled with Options.ReportAnchors.
  const TDocumentAnchors& Anchors() const;

  // What the last run changed to stay within its bounds (nesting too deep
  // dropped or written shallower, characters that are not text), one
  // sentence each, for a verbose report; empty for a real page.
  std::vector<std::string> Notes;

  // Extension points for the site migration; see TLinkResolver and
  // TLocalResolver.
  TLinkResolver ResolveLocalLink;
  TLocalResolver ResolveLocalImage;
  // Called once per run with the page's outline, before anything is
  // written; unset, the whole body converts.
  TRegionChooser ChooseRegion;

private:
  std::unique_ptr<detail::TConverter> Impl;
};

} // namespace tamsel
