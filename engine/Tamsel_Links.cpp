// SPDX-License-Identifier: GPL-2.0-or-later
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
// A file that is no page: the last part of its path has an extension that
// no web page has. Such links go to the file as a media file, with its
// extension, not to a page named without it.
bool IsFileName(const TReference& ref) {
  if (ref.SamePage || ref.Directory || ref.Path.empty()) return false;
  const std::string_view path = ref.Path;
  const std::size_t slash = path.rfind('/');
  const std::size_t dot = path.rfind('.');
  const std::size_t start = slash == std::string_view::npos ? 0 : slash + 1;
  if (dot == std::string_view::npos || dot <= start || dot + 1 == path.size()) return false;
  std::string ext(path.substr(dot + 1));
  for (char& c : ext)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  for (const char* page : {"html", "htm", "xhtml", "shtml", "php", "asp", "aspx", "jsp", "cgi"})
    if (ext == page) return false;
  return true;
}

// A link around an image stays a page link: DokuWiki's media link cannot
// show an image.
bool HoldsImage(TidyNode node) {
  for (TidyNode child = tidyGetChild(node); child; child = tidyGetNext(child))
    if (tidyNodeGetId(child) == TidyTag_IMG || HoldsImage(child)) return true;
  return false;
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
  // Documentation generators end a term with a "¶" linking to it; on the
  // page it would be glued to the term's last word.
  if (InTerm) {
    const char* href = AttrValue(node, TidyAttr_HREF);
    if (href && href[0] == '#' && IsPermalinkMark(Doc, node)) return;
  }
  std::string target;
  bool isUrl = false;
  bool media = false;
  const bool anyLinks = Options.LocalLinks || Options.MailLinks || Options.ExternalLinks;
  if (TidyAttr href = anyLinks ? tidyAttrGetById(node, TidyAttr_HREF) : nullptr) {
    const std::string value =
        WithScheme(AttrText(reinterpret_cast<const char*>(tidyAttrValue(href))));
    const std::string_view scheme = SchemeOf(value);
    if (EqualsNoCase(scheme, "mailto")) {
      // DokuWiki takes a target for an address only when it holds an '@';
      // anything else would become a link to a page that is not there.
      if (std::string address = PercentDecode(std::string_view(value).substr(7));
          Options.MailLinks && address.find('@') != std::string::npos)
        target = std::move(address);
      isUrl = true;
    } else if (IsAddress(value)) {
      if (Options.ExternalLinks) target = value;
      isUrl = true;
    } else if (!scheme.empty()) {
      // "tel:", "javascript:" and the like: nothing DokuWiki links, and no
      // page either.
    } else if (!Options.LocalLinks) {
    } else if (TLinkTarget resolved;
               Owner.ResolveLocalLink && Owner.ResolveLocalLink(value, resolved)) {
      target = std::move(resolved.Target);
      media = resolved.Media;
    } else if (value.starts_with('#') && value.find('#', 1) == std::string::npos) {
      target = FragmentTarget(std::string_view(value).substr(1));
    } else if (const auto ref = ResolveReference("", value)) {
      if (IsFileName(*ref) && !HoldsImage(node)) {
        target = LocalMediaId(*ref);
        media = !target.empty();
      } else {
        target = LocalPageTarget(*ref);
      }
    }
  }
  // The link's text is written as link titles, in which DokuWiki reads no
  // markup; without a target (a named anchor, links switched off) it is
  // ordinary text again and protected as such.
  Out.SetLinkTarget(std::move(target), isUrl, media);
  if (Out.Linking()) {
    const TScope noDash(NoDashDepth);
    const std::size_t wraps = Out.WrapsOpened();
    MediaImage = false;
    WriteInlineChildren(node, state, blocks);
    // A media link cannot hold an image: the image stands alone, and the
    // link follows it under the file's name.
    if (media && MediaImage && Out.WrapsOpened() == wraps) {
      const std::string& file = Out.Target();
      const std::size_t colon = file.rfind(':');
      const std::string name = file.substr(colon == std::string::npos ? 0 : colon + 1);
      Out.SpaceOnce();
      Out.OpenLinkWrap();
      Out.Write(TContext::LinkTitle, name);
      Out.CloseLinkWrap();
    }
  } else {
    WriteInlineChildren(node, state, blocks);
  }
  Out.ClearLinkTarget();
}

// A fragment of this document lands on the heading it names, is inside or
// just before; any other stays as written. An empty one
// names the page itself, which "#" alone leads to in DokuWiki.
std::string TConverter::FragmentTarget(std::string_view fragment) {
  if (fragment.empty()) return "#";
  if (!AnchorsFound) {
    Anchors = FindAnchors(Doc);
    AnchorsFound = true;
  }
  const std::string name(fragment);
  auto found = Anchors.Targets.find(name);
  if (found == Anchors.Targets.end()) found = Anchors.Targets.find(PercentDecode(name));
  if (found != Anchors.Targets.end() && found->second.OnHeading && !found->second.Section.empty())
    return "#" + found->second.Section;
  if (const auto ref = ResolveReference("", "#" + name)) return LocalPageTarget(*ref);
  return {};
}

void TConverter::WriteLinkedImage(TidyNode node) {
  if (Out.LinkingMedia()) {
    WriteImage(node);
    MediaImage = true;
    return;
  }
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
