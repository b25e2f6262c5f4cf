// Links and images.
//
// A link is not written around its content as a whole: WriteLink records the
// target, and every text node and image written meanwhile becomes a link of
// its own, so formatting inside a link ends up around it ("**[[a|b]]**"),
// which is the form DokuWiki accepts.
#include "Tamsel_Internal.h"
#include "Tamsel_Url.h"

#include <cstring>

namespace tamsel {

namespace {
bool EqualsNoCase(std::string_view s, std::string_view lower) {
  if (s.size() != lower.size()) return false;
  for (std::size_t i = 0; i < s.size(); ++i) {
    char c = s[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    if (c != lower[i]) return false;
  }
  return true;
}

// An address that DokuWiki links as one: a scheme and "://" (DokuWiki takes
// any scheme written so).
bool IsAddress(std::string_view s) {
  const std::string_view scheme = SchemeOf(s);
  return !scheme.empty() && s.substr(scheme.size(), 3) == "://";
}

// A network path ("//host/x") leads where the page's own scheme leads; the
// page's scheme being unknown, it is taken for https, which most sites serve.
std::string WithScheme(std::string value) {
  if (value.rfind("//", 0) == 0) value.insert(0, "https:");
  return value;
}

// A media id for a local image source: the path as a browser resolves it,
// its folders namespaces, its name with its extension.
std::string LocalMediaId(const TReference& ref) {
  if (ref.SamePage || ref.Path.empty()) return {};
  std::string out;
  if (ref.Absolute) out += ':';
  for (std::size_t i = 0; i < ref.Above; ++i)
    out += "..:";
  for (char c : ref.Path)
    out += c == '/' ? ':' : c;
  return out;
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

namespace detail {

void TConverter::WriteLink(TidyNode node, std::uint8_t& state, const TBlockSet& blocks) {
  std::string target;
  bool isUrl = false;
  const bool anyLinks = Options.LocalLinks || Options.MailLinks || Options.ExternalLinks;
  if (TidyAttr href = anyLinks ? tidyAttrGetById(node, TidyAttr_HREF) : nullptr) {
    const std::string value =
        WithScheme(AttrText(reinterpret_cast<const char*>(tidyAttrValue(href))));
    const std::string_view scheme = SchemeOf(value);
    if (EqualsNoCase(scheme, "mailto")) {
      if (Options.MailLinks) target = PercentDecode(std::string_view(value).substr(7));
      isUrl = true;
    } else if (IsAddress(value)) {
      if (Options.ExternalLinks) target = value;
      isUrl = true;
    } else if (!scheme.empty()) {
      // "tel:", "javascript:" and the like: nothing DokuWiki links, and no
      // page either.
    } else if (!Options.LocalLinks) {
    } else if (std::string resolved;
               Owner.ResolveLocalLink && Owner.ResolveLocalLink(value, resolved)) {
      target = std::move(resolved);
    } else if (const auto ref = ResolveReference("", value)) {
      target = LocalPageTarget(*ref);
    }
  }
  // The link's text is written as link titles, in which DokuWiki reads no
  // markup; without a target (a named anchor, links switched off) it is
  // ordinary text again and protected as such.
  Out.SetLinkTarget(std::move(target), isUrl);
  if (Out.Linking()) {
    const TScope noDash(NoDashDepth);
    WriteInlineChildren(node, state, blocks);
  } else {
    WriteInlineChildren(node, state, blocks);
  }
  Out.ClearLinkTarget();
}

void TConverter::WriteLinkedImage(TidyNode node) {
  Out.OpenLinkWrap();
  WriteImage(node);
  Out.CloseLinkWrap();
}

void TConverter::WriteImage(TidyNode node) {
  const char* src = AttrValue(node, TidyAttr_SRC);
  if (!src || !*src) return;
  std::string source = WithScheme(AttrText(src));
  const bool isUrl = IsAddress(source);
  if (!isUrl) {
    std::string resolved;
    if (Owner.ResolveLocalImage && Owner.ResolveLocalImage(source, resolved))
      source = std::move(resolved);
    else if (const auto ref = ResolveReference("", source))
      source = LocalMediaId(*ref);
    else
      source.clear();
    if (source.empty()) return;
  }
  Out.Write(TContext::Markup, "{{");
  const std::uint8_t align = ParseAlign(AttrValue(node, TidyAttr_ALIGN));
  if (align == 3) Out.Put(' ');
  Out.Write(isUrl ? TContext::Url : TContext::WikiId, source);
  // Sizes are digits, as ParseInt has made sure, and trailing spaces.
  const char* width = AttrValue(node, TidyAttr_WIDTH);
  if (ParseInt(width, -1) >= 0) {
    Out.Put('?');
    Out.Write(TContext::Markup, width);
    const char* height = AttrValue(node, TidyAttr_HEIGHT);
    if (ParseInt(height, -1) >= 0) {
      Out.Put('x');
      Out.Write(TContext::Markup, height);
    }
  }
  if (align == 1) Out.Put(' ');
  if (const char* alt = AttrValue(node, TidyAttr_ALT)) {
    Out.Put('|');
    Out.Write(TContext::ImageTitle, AttrText(alt));
  }
  Out.Write(TContext::Markup, "}}");
}

} // namespace detail
} // namespace tamsel
