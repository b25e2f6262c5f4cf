// Links and images.
//
// A link is not written around its content as a whole: WriteLink records the
// target, and every text node and image written meanwhile becomes a link of
// its own, so formatting inside a link ends up around it ("**[[a|b]]**"),
// which is the form DokuWiki accepts.
#include "Tamsel_Internal.h"

#include <cstring>

namespace tamsel {

using namespace detail;

namespace {
bool StartsWithMailto(std::string_view s) {
  constexpr std::string_view kMailto = "mailto:";
  if (s.size() < kMailto.size()) return false;
  for (std::size_t i = 0; i < kMailto.size(); ++i) {
    char c = s[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    if (c != kMailto[i]) return false;
  }
  return true;
}
// Tidy hands attribute values over with every '&' spelled "&amp;"; a URL or
// title written so would reach DokuWiki, and the browser, with "&amp;" in it.
std::string AttrText(const char* value) {
  std::string out = value ? value : "";
  std::size_t at = out.find("&amp;");
  if (at == std::string::npos) return out;
  std::size_t w = at;
  for (std::size_t r = at; r < out.size();) {
    out[w++] = out[r];
    r += out.compare(r, 5, "&amp;") == 0 ? 5 : 1;
  }
  out.resize(w);
  return out;
}
} // namespace

bool HasScheme(std::string_view s) {
  return s.find("://") != std::string_view::npos;
}

std::string PathToNamespace(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c == '/' || c == '\\') c = ':';
  return out;
}

void TTamsel::WriteLink(TidyNode node, std::uint8_t& state, const TBlockSet& blocks) {
  LinkTarget.clear();
  if (LinkOptions != 0) {
    if (TidyAttr href = tidyAttrGetById(node, TidyAttr_HREF)) {
      LinkTarget = AttrText(reinterpret_cast<const char*>(tidyAttrValue(href)));
      if (StartsWithMailto(LinkTarget)) {
        if (LinkOptions & kLinkMail)
          LinkTarget.erase(0, 7);
        else
          LinkTarget.clear();
      } else if (HasScheme(LinkTarget)) {
        if (!(LinkOptions & kLinkExternal)) LinkTarget.clear();
      } else if (!(LinkOptions & kLinkLocal)) {
        LinkTarget.clear();
      } else if (std::string resolved; ResolveLocalLink && ResolveLocalLink(LinkTarget, resolved)) {
        LinkTarget = std::move(resolved);
      } else {
        std::string fragment;
        if (auto hash = LinkTarget.rfind('#'); hash != std::string::npos) {
          fragment = LinkTarget.substr(hash);
          LinkTarget.resize(hash);
        }
        if (auto dot = LinkTarget.rfind('.'); dot != std::string::npos) LinkTarget.resize(dot);
        LinkTarget = PathToNamespace(LinkTarget) + fragment;
      }
    }
  }
  // Inside a wiki link DokuWiki reads no markup, so its text is written raw;
  // without a target (a named anchor, links switched off) the text is
  // ordinary text again and must be protected as such.
  const bool linked = !LinkTarget.empty();
  if (linked) {
    BeginRaw();
    BeginNoDash();
  }
  WriteInlineChildren(node, state, blocks);
  if (linked) {
    EndNoDash();
    EndRaw();
  }
  LinkTarget.clear();
}

void TTamsel::OpenLinkWrap() {
  if (LinkTarget.empty()) return;
  AppendString(Output, "[[");
  AppendString(Output, LinkTarget);
  PutByte('|');
}

// A link around nothing visible would show the target's name instead, so such
// a wrap is taken back and only its white space, if any, stays.
void TTamsel::CloseLinkWrap(std::uint32_t wrapAt, std::uint32_t contentAt) {
  if (LinkTarget.empty()) return;
  if (HasVisibleByte(Output, contentAt, Output.size)) {
    AppendString(Output, "]]");
    return;
  }
  const uint blank = Output.size - contentAt;
  std::memmove(Output.bp + wrapAt, Output.bp + contentAt, blank);
  Output.size = wrapAt + blank;
}

void TTamsel::WriteLinkedImage(TidyNode node) {
  const uint wrapAt = Output.size;
  OpenLinkWrap();
  const uint contentAt = Output.size;
  WriteImage(node);
  CloseLinkWrap(wrapAt, contentAt);
}

void TTamsel::WriteImage(TidyNode node) {
  const char* src = AttrValue(node, TidyAttr_SRC);
  if (!src || !*src) return;
  std::string source = AttrText(src);
  if (!HasScheme(source)) {
    std::string resolved;
    if (ResolveLocalImage && ResolveLocalImage(source, resolved))
      source = std::move(resolved);
    else
      source = PathToNamespace(source);
  }
  AppendString(Output, "{{");
  const std::uint8_t align = ParseAlign(AttrValue(node, TidyAttr_ALIGN));
  if (align == 3) PutByte(' ');
  AppendString(Output, source);
  const char* width = AttrValue(node, TidyAttr_WIDTH);
  if (ParseInt(width, -1) >= 0) {
    PutByte('?');
    AppendCString(Output, width);
    const char* height = AttrValue(node, TidyAttr_HEIGHT);
    if (ParseInt(height, -1) >= 0) {
      PutByte('x');
      AppendCString(Output, height);
    }
  }
  if (align == 1) PutByte(' ');
  if (const char* alt = AttrValue(node, TidyAttr_ALT)) {
    PutByte('|');
    AppendString(Output, AttrText(alt));
  }
  AppendString(Output, "}}");
}

} // namespace tamsel
