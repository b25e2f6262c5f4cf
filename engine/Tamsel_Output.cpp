// SPDX-License-Identifier: GPL-2.0-or-later
// The output channel: the one place where each context's escaping is called
// (Write) and the one place where line breaks and prefixes are written (Flush).
#include "Tamsel_Internal.h"

#include "Tamsel_Ascii.h"
#include "Tamsel_Utf8.h"

#include <algorithm>
#include <cstring>

namespace tamsel {

namespace detail {

namespace {

using byte = unsigned char;

// White space at the edge of a pair's content: ASCII white space and the
// no-break space U+00A0.
std::size_t LeadingEdge(const char* text, std::size_t n) {
  const auto* p = reinterpret_cast<const byte*>(text);
  std::size_t i = 0;
  while (i < n) {
    if (p[i] == ' ' || p[i] == '\t' || p[i] == '\n' || p[i] == '\r')
      ++i;
    else if (p[i] == 0xC2 && i + 1 < n && p[i + 1] == 0xA0)
      i += 2;
    else
      break;
  }
  return i;
}

std::size_t TrailingEdge(const char* text, std::size_t n) {
  const auto* p = reinterpret_cast<const byte*>(text);
  std::size_t i = n;
  while (i > 0) {
    const byte c = p[i - 1];
    if (c == ' ' || c == '\t' || c == '\n' || c == '\r')
      --i;
    else if (c == 0xA0 && i >= 2 && p[i - 2] == 0xC2)
      i -= 2;
    else
      break;
  }
  return n - i;
}

bool HasVisible(std::string_view bytes) {
  for (char c : bytes)
    if (static_cast<byte>(c) > 0x20) return true;
  return false;
}

bool IsImageName(std::string_view id) {
  const std::size_t dot = id.rfind('.');
  if (dot == std::string_view::npos) return false;
  for (const char* image : {"png", "jpg", "jpeg", "gif", "svg", "webp", "ico", "bmp"})
    if (EqualsNoCase(id.substr(dot + 1), image)) return true;
  return false;
}

} // namespace

TOutput::TOutput() = default;

TOutput::~TOutput() {
  Abandon();
}

TOutput::TRun TOutput::Begin(Utf8StrAllocator& record, std::string_view lineBreak) {
  Abandon();
  tidyBufInitWithAllocator(&Buffer, &record);
  Live = true;
  LineBreak.assign(lineBreak);
  static_cast<TOutputState&>(*this) = TOutputState{};
  return TRun(*this);
}

void TOutput::DeferTarget(std::uint32_t slot) {
  if (!LinkTarget.empty() && !LinkIsMedia) DeferredSlot = slot + 1;
}

std::size_t TOutput::Finish() {
  Deferred = 0;
  if (HeldBracket) {
    HeldBracket = false;
    Append("[", 1);
  }
  CodeSpace.clear();
  Held.clear();
  EdgeSpace.clear();
  PendingMarks.clear();
  OpenMarkCount = 0;
  while (Buffer.size > 0 && Buffer.bp[Buffer.size - 1] <= 0x20)
    --Buffer.size;
  return Buffer.size;
}

void TOutput::Abandon() {
  if (Live) tidyBufFree(&Buffer);
  Live = false;
}

void TOutput::Reserve(std::size_t n) {
  MakeRoom(Buffer, n);
}

std::size_t TOutput::Count() const {
  return Buffer.size + Held.size() + CodeSpace.size() + EdgeSpace.size() + HeldBracket +
         Deferred * LineBreak.size();
}

void TOutput::Append(const char* p, std::size_t n) {
  if (!n) return;
  if (HeldBracket) {
    HeldBracket = false;
    Append("[", 1);
  }
  // MakeRoom leaves room for n bytes and the terminating zero that Tidy's
  // own appending keeps after them.
  MakeRoom(Buffer, n);
  std::memcpy(Buffer.bp + Buffer.size, p, n);
  Buffer.size += static_cast<uint>(n);
  Buffer.bp[Buffer.size] = 0;
}

void TOutput::Flush() {
  if (Deferred == 0) return;
  // White space held at the end of a line ends it; a forced line break
  // there is kept, as it would have been written. What was held at the
  // start of the next line goes on that line, after the breaks.
  if (!EdgeOnNewLine) {
    if (EdgeSpace.find('\\') != std::string::npos) Append(EdgeSpace.data(), EdgeSpace.size());
    EdgeSpace.clear();
  }
  for (; Deferred > 0; --Deferred)
    Append(LineBreak.data(), LineBreak.size());
  if (QuoteDepth > 0 && CodeDepth == 0) {
    const std::uint32_t levels = QuoteLevels();
    MakeRoom(Buffer, levels + 1);
    for (std::uint32_t i = 0; i < levels; ++i)
      tidyBufPutByte(&Buffer, '>');
    tidyBufPutByte(&Buffer, ' ');
    BreakCount = 0;
  }
}

void TOutput::Emit(const char* p, std::size_t n) {
  if (!n) return;
  Flush();
  // Two spaces or a tab at the start of a line would make DokuWiki show it
  // as preformatted text: only a list item's indentation starts a line so.
  if (!Indenting && CodeDepth == 0 && (Buffer.size == 0 || Buffer.bp[Buffer.size - 1] == '\n')) {
    while (n > 0 && (*p == ' ' || *p == '\t')) {
      ++p;
      --n;
    }
    if (n == 0) return;
  }
  if (AfterLink) {
    AfterLink = false;
    // A ']' right after "]]" would be read into the link: it is protected
    // itself, which reads as the bracket it is.
    if (*p == ']') {
      Append("%%]%%", 5);
      if (--n == 0) return;
      ++p;
    }
  }
  const char* from = p;
  const char* const end = p + n;
  const char* q = p;
  while (q < end) {
    // Eight bytes at a time while all of them are printable ASCII.
    if (end - q >= 8) {
      std::uint64_t word;
      std::memcpy(&word, q, 8);
      constexpr std::uint64_t kOnes = 0x0101010101010101, kHigh = 0x8080808080808080;
      const std::uint64_t del = word ^ (0x7F * kOnes);
      if ((((word - 0x20 * kOnes) | (del - kOnes) | word) & kHigh) == 0) {
        q += 8;
        continue;
      }
    }
    const byte c = static_cast<byte>(*q);
    if (c < 0x80) {
      if (kByteClasses.Control[c] || c == 0x7F) {
        Append(from, static_cast<std::size_t>(q - from));
        from = q + 1;
        ++Controls;
      }
      ++q;
      continue;
    }
    const std::ptrdiff_t length =
        Utf8Length(reinterpret_cast<const byte*>(q), reinterpret_cast<const byte*>(end));
    if (length < 0) {
      Append(from, static_cast<std::size_t>(q - from));
      Append("\xEF\xBF\xBD", 3);
      q -= length;
      from = q;
      ++Replaced;
    } else if (c == 0xC2 && static_cast<byte>(q[1]) < 0xA0) {
      // A C1 control character, U+0080 to U+009F.
      Append(from, static_cast<std::size_t>(q - from));
      q += 2;
      from = q;
      ++Controls;
    } else {
      q += length;
    }
  }
  Append(from, static_cast<std::size_t>(end - from));
}

void TOutput::OpenPendingWrap(const char*& p, std::size_t& n) {
  std::size_t blank = 0;
  while (blank < n && static_cast<byte>(p[blank]) <= 0x20)
    ++blank;
  Held.append(p, blank);
  if (blank == n) {
    n = 0;
    return;
  }
  Wrap = TWrap::Open;
  ++OpenedWraps;
  if (LinkIsMedia) {
    Emit("{{", 2);
    WriteTarget(LinkTarget, false);
    // An image's media link shows the image unless told otherwise.
    if (IsImageName(LinkTarget)) Emit("?linkonly", 9);
  } else {
    Flush();
    if (HeldBracket) {
      HeldBracket = false;
      Append("%%[%%", 5);
    } else if (Buffer.size > 0 && Buffer.bp[Buffer.size - 1] == '[') {
      Append("%%%%", 4);
    }
    Emit("[[", 2);
    if (DeferredSlot > 0)
      HoleList.push_back({Buffer.size, DeferredSlot - 1});
    else
      WriteTarget(LinkTarget, LinkIsUrl);
  }
  Emit("|", 1);
  Emit(Held.data(), Held.size());
  Held.clear();
  p += blank;
  n -= blank;
}

void TOutput::PutRepeated(char c, std::int32_t count) {
  if (count <= 0) return;
  Scratch.assign(static_cast<std::size_t>(count), c);
  Write(TContext::Markup, Scratch);
}

void TOutput::SpaceOnce(char c) {
  char last;
  if (HeldBracket)
    last = '[';
  else if (!EdgeSpace.empty())
    last = EdgeSpace.back();
  else if (!Held.empty())
    last = Held.back();
  else if (!CodeSpace.empty())
    last = CodeSpace.back();
  else if (Deferred > 0)
    last = QuoteDepth > 0 && CodeDepth == 0 ? ' ' : '\n';
  else if (Buffer.size > 0)
    last = static_cast<char>(Buffer.bp[Buffer.size - 1]);
  else
    return;
  if (last != c) Write(TContext::Markup, std::string_view(&c, 1));
}

void TOutput::NeedBreaks(std::uint32_t n) {
  if (Wrap != TWrap::None && ImageWrapDepth == 0) CloseLinkWrap();
  // A line that held nothing but white space ends unwritten.
  if (EdgeOnNewLine) EdgeSpace.clear();
  if (Count() == 0) return;
  while (BreakCount < n && Deferred < 2) {
    ++Deferred;
    ++BreakCount;
  }
}

void TOutput::StartQuoteLine() {
  if (Deferred > 0) {
    Flush();
    return;
  }
  PutRepeated('>', static_cast<std::int32_t>(QuoteLevels()));
  Put(' ');
}

std::uint32_t TOutput::QuoteLevels() {
  if (QuoteDepth <= kMaxQuoteLevels) return QuoteDepth;
  QuoteFlattened = true;
  return kMaxQuoteLevels;
}

void TOutput::StartItem(char bullet) {
  NeedBreaks(1);
  // The line before ends with what it held; the item's line starts with
  // its indentation, which no pair's edge may take.
  Flush();
  EdgeSpace.clear();
  if (IndentDepth > kMaxListLevels) ListFlattened = true;
  Scratch.assign(static_cast<std::size_t>(2 * std::min(IndentDepth, kMaxListLevels)), ' ');
  if (bullet) Scratch += bullet;
  Scratch += ' ';
  Indenting = true;
  Emit(Scratch.data(), Scratch.size());
  Indenting = false;
  BreakCount = 0;
}

void TOutput::OpenMark(std::string_view open) {
  PendingMarks.push_back(open);
  if (!open.empty()) ++NamedMarks;
}

void TOutput::CloseMark(std::string_view close) {
  if (!close.empty()) --NamedMarks;
  if (!PendingMarks.empty()) {
    PendingMarks.pop_back();
    return;
  }
  if (OpenMarkCount == 0) return;
  --OpenMarkCount;
  if (close.empty()) return;
  // A marker ends a link's wrap: DokuWiki reads no formatting in a title.
  if (Wrap != TWrap::None && ImageWrapDepth == 0) CloseLinkWrap();
  PartFromText(close);
  // Written at once, without the breaks asked for since: the marker ends
  // the line its pair began on.
  Append(close.data(), close.size());
  MarkEnd = Buffer.size;
}

void TOutput::PartFromText(std::string_view marker) {
  const byte c = static_cast<byte>(marker[0]);
  if (Buffer.size > 0 && Buffer.size == TextEnd && kByteClasses.Run[c] &&
      Buffer.bp[Buffer.size - 1] == c)
    Append("%%%%", 4);
}

void TOutput::EmitMarker(std::string_view marker) {
  if (marker.empty()) return;
  PartFromText(marker);
  Emit(marker.data(), marker.size());
  MarkEnd = Buffer.size;
}

void TOutput::ReleaseEdge() {
  // Markers opening inside a link go outside its wrap; its text goes on in
  // a wrap of its own after them.
  const bool parts = Wrap != TWrap::None && ImageWrapDepth == 0 &&
                     std::any_of(PendingMarks.begin(), PendingMarks.end(),
                                 [](std::string_view m) { return !m.empty(); });
  if (parts) CloseLinkWrap();
  Flush();
  if (!EdgeSpace.empty()) {
    // A space already written makes another one before the marker redundant.
    std::size_t from = 0;
    if (Buffer.size > 0 && Buffer.bp[Buffer.size - 1] == ' ')
      while (from < EdgeSpace.size() && EdgeSpace[from] == ' ')
        ++from;
    Emit(EdgeSpace.data() + from, EdgeSpace.size() - from);
    EdgeSpace.clear();
  }
  for (const std::string_view marker : PendingMarks) {
    EmitMarker(marker);
    ++OpenMarkCount;
  }
  PendingMarks.clear();
  if (parts) OpenLinkWrap();
}

void TOutput::Visited(const char* p, std::size_t n) {
  std::size_t i = 0;
  while (i < n && static_cast<byte>(p[i]) <= 0x20)
    ++i;
  if (i == n) return;
  ++Visible;
  CellFresh = false;
  const byte c = static_cast<byte>(p[0]);
  if (i == 0 && Buffer.size > 0 && Buffer.size == MarkEnd && Deferred == 0 && kByteClasses.Run[c] &&
      Buffer.bp[Buffer.size - 1] == c)
    Append("%%%%", 4);
}

void TOutput::MarkedPiece(const char* p, std::size_t n) {
  const std::size_t lead = LeadingEdge(p, n);
  HoldEdge(p, lead);
  if (lead == n) return;
  p += lead;
  n -= lead;
  ReleaseEdge();
  if (Wrap == TWrap::Pending) OpenPendingWrap(p, n);
  const std::size_t trail = OpenMarkCount > 0 ? TrailingEdge(p, n) : 0;
  Visited(p, n - trail);
  Emit(p, n - trail);
  HoldEdge(p + n - trail, trail);
}

void TOutput::HoldEdge(const char* p, std::size_t n) {
  if (n == 0) return;
  if (EdgeSpace.empty())
    EdgeOnNewLine = Deferred > 0 || Buffer.size == 0 || Buffer.bp[Buffer.size - 1] == '\n';
  EdgeSpace.append(p, n);
}

void TOutput::ForcedBreak() {
  if (TableDepth > 0 && CellFresh) return;
  if (Marking() || TableDepth > 0) {
    HoldEdge("\\\\ ", 3);
    return;
  }
  Write(TContext::Markup, "\\\\ ");
}

void TOutput::EndCell() {
  CellFresh = false;
  std::size_t w = 0;
  for (const char c : EdgeSpace)
    if (c != '\\') EdgeSpace[w++] = c;
  EdgeSpace.resize(w);
}

void TOutput::DropTrailingCodeSpace() {
  CodeSpace.clear();
  // The breaks taken back leave the code (or its opening tag) the last text.
  Deferred = BreakCount = 0;
}

void TOutput::SetLinkTarget(std::string target, bool isUrl, bool media) {
  CloseLinkWrap();
  LinkTarget = std::move(target);
  LinkIsUrl = isUrl;
  LinkIsMedia = media;
  DeferredSlot = 0;
}

void TOutput::ClearLinkTarget() {
  CloseLinkWrap();
  LinkTarget.clear();
  DeferredSlot = 0;
}

// An open wrap goes on: the texts of one link, whatever elements part them,
// are one link's title.
void TOutput::OpenLinkWrap() {
  if (!LinkTarget.empty() && Wrap == TWrap::None) Wrap = TWrap::Pending;
}

void TOutput::BeginWrappedImage() {
  CloseLinkWrap();
  OpenLinkWrap();
  ++ImageWrapDepth;
}

void TOutput::EndWrappedImage() {
  --ImageWrapDepth;
  CloseLinkWrap();
}

void TOutput::CloseLinkWrap() {
  const TWrap was = Wrap;
  Wrap = TWrap::None;
  if (was == TWrap::Open) {
    Emit(LinkIsMedia ? "}}" : "]]", 2);
    AfterLink = !LinkIsMedia;
  } else if (was == TWrap::Pending && !Held.empty()) {
    // Only white space was written: it stays, without a link around it,
    // which would show the target's name instead. Not through Scratch: a
    // text being written may stand there (an image title's does).
    std::string held;
    held.swap(Held);
    Emit(held.data(), held.size());
  }
}

void TOutput::Write(TContext context, std::string_view bytes) {
  if (bytes.empty()) return;
  // Only a link's text goes on in its wrap: markers, breaks and other markup
  // end it (an image in a link has a wrap of its own).
  if (Wrap != TWrap::None && context != TContext::LinkTitle && ImageWrapDepth == 0) CloseLinkWrap();
  switch (context) {
  case TContext::Text: {
    const auto* text = reinterpret_cast<const byte*>(bytes.data());
    const std::size_t k = bytes.size();
    // White space alone (a no-break space between blocks, in an empty
    // division) at the start of a line is held: it shows only if something
    // visible follows on the line, and writes no line of blanks.
    if (Wrap == TWrap::None && !HeldBracket && CodeTextDepth == 0 &&
        (Deferred > 0 || Buffer.size == 0 || Buffer.bp[Buffer.size - 1] == '\n') &&
        LeadingEdge(bytes.data(), k) == k) {
      HoldEdge(bytes.data(), bytes.size());
      return;
    }
    BreakCount = 0;
    // Two texts written one after the other ("[" and "[" of separate
    // elements) would make a run that neither holds: "[[" opens a link that
    // swallows what follows, "**" bold. An empty nowiki parts them.
    if (TextEnd > 0 && Buffer.size == TextEnd && Deferred == 0 && Wrap != TWrap::Pending &&
        EdgeSpace.empty() && PendingMarks.empty() &&
        kByteClasses.Run[static_cast<byte>(Buffer.bp[TextEnd - 1])] && kByteClasses.Run[text[0]])
      Emit("%%%%", 4);
    if (HeldBracket && Deferred == 0 && kByteClasses.Run[text[0]]) {
      HeldBracket = false;
      Append("[%%%%", 5);
    }
    // A '[' that ends the text is held: right before a link it is
    // protected itself ("%%[%%[[...]]"), anywhere else written as it is.
    std::size_t keep = k;
    if (k > 0 && text[k - 1] == '[' && (k == 1 || text[k - 2] != '[') && TableDepth == 0 &&
        CodeTextDepth == 0 && EdgeSpace.empty() && Wrap == TWrap::None)
      --keep;
    const TTextPlace place{.Table = TableDepth > 0,
                           .InlineCode = CodeTextDepth > 0,
                           .InPair = NamedMarks > 0,
                           .BracketHeld = keep < k};
    TextEscaper.Escape(bytes.substr(0, keep), place, *this);
    if (keep < k) {
      // White space held before the bracket is no pair's edge any more.
      Flush();
      if (!EdgeSpace.empty()) {
        Emit(EdgeSpace.data(), EdgeSpace.size());
        EdgeSpace.clear();
      }
      HeldBracket = true;
    }
    TextEnd = Buffer.size;
    return;
  }
  case TContext::Plain:
    BreakCount = 0;
    Piece(bytes.data(), bytes.size());
    return;
  case TContext::Code:
    BreakCount = 0;
    WriteCodeBytes(bytes);
    return;
  case TContext::Markup:
    if (HasVisible(bytes)) BreakCount = 0;
    Piece(bytes.data(), bytes.size());
    return;
  case TContext::WikiId:
  case TContext::Url:
    BreakCount = 0;
    WriteTarget(bytes, context == TContext::Url);
    return;
  case TContext::LinkTitle:
    BreakCount = 0;
    if (!LinkIsMedia) {
      WriteLinkTitle(bytes);
      return;
    }
    [[fallthrough]];
  case TContext::ImageTitle:
    BreakCount = 0;
    Scratch.clear();
    EscapeImageTitle(bytes, Wrap != TWrap::None && !LinkIsMedia, Scratch);
    Piece(Scratch.data(), Scratch.size());
    return;
  case TContext::FontValue:
    Scratch.clear();
    EscapeFontValue(bytes, Scratch);
    if (HasVisible(Scratch)) BreakCount = 0;
    Piece(Scratch.data(), Scratch.size());
    return;
  }
}

void TOutput::WriteTarget(std::string_view target, bool isUrl) {
  // Not through Scratch: a wrap opens here, in the middle of writing an
  // image title that stands there.
  std::string out;
  EscapeTarget(target, isUrl, out);
  Piece(out.data(), out.size());
}

void TOutput::WriteLinkTitle(std::string_view bytes) {
  EscapeLinkTitle(bytes, Wrap == TWrap::Pending && Held.empty(), *this);
}

bool TOutput::EndLinkPiece() {
  if (Wrap == TWrap::Open) {
    Emit("]]", 2);
    Wrap = TWrap::Pending;
  }
  return Wrap == TWrap::Pending && Held.empty();
}

void TOutput::WriteImageSize(const char* width, const char* height) {
  std::string size;
  EscapeImageSize(width ? width : "", height ? height : "", size);
  Write(TContext::Markup, size);
}

void TOutput::WriteCodeBytes(std::string_view bytes) {
  std::string& out = Scratch;
  out.assign(CodeSpace);
  CodeSpace.clear();
  EscapeCode(bytes, LineBreak, out);
  std::size_t keep = out.size();
  while (keep > 0 && static_cast<byte>(out[keep - 1]) <= 0x20)
    --keep;
  CodeSpace.assign(out, keep, std::string::npos);
  Emit(out.data(), keep);
}

} // namespace detail
} // namespace tamsel
