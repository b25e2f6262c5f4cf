// SPDX-License-Identifier: GPL-2.0-or-later
// Links and images.
//
// A link is not written around its content as a whole: WriteLink records the
// target, and every text node and image written meanwhile becomes a link of
// its own, so formatting inside a link ends up around it ("**[[a|b]]**"),
// which is the form DokuWiki accepts.
#include "Tamsel_Ascii.h"
#include "Tamsel_Internal.h"
#include "Tamsel_Url.h"

#include <algorithm>
#include <cstring>

namespace tamsel {

namespace {
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

// A link around an image stays a page link: DokuWiki's media link cannot
// show an image.
bool HoldsImage(TidyNode node) {
  for (TidyNode child = tidyGetChild(node); child; child = tidyGetNext(child))
    if (tidyNodeGetId(child) == TidyTag_IMG || HoldsImage(child)) return true;
  return false;
}
} // namespace

namespace detail {

void TConverter::WriteLink(TidyNode node, bool& afterBlock, const TBlockSet& blocks) {
  // Documentation generators end a term with a "¶" linking to it; on the
  // page it would be glued to the term's last word.
  if (Context.Term) {
    const char* href = AttrValue(node, TidyAttr_HREF);
    if (href && href[0] == '#' && IsPermalinkMark(Doc, node)) return;
  }
  std::string target;
  std::optional<std::uint32_t> deferred;
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
      target = FragmentTarget(std::string_view(value).substr(1), deferred);
    } else {
      TPolicyTarget policy = LocalLinkTarget(value, Place(), HoldsImage(node));
      target = std::move(policy.Target);
      media = policy.Kind == TPolicyTarget::TKind::Media;
      isUrl = policy.Kind == TPolicyTarget::TKind::Url;
    }
  }
  // The link's text is written as link titles, in which DokuWiki reads no
  // markup; without a target (a named anchor, links switched off) it is
  // ordinary text again and protected as such.
  Out.SetLinkTarget(std::move(target), isUrl, media);
  if (deferred) Out.DeferTarget(*deferred);
  if (Out.Linking()) {
    const TLocal local(Context);
    Context.NoDash = true;
    const std::size_t wraps = Out.WrapsOpened();
    MediaImage = false;
    WriteInlineChildren(node, afterBlock, blocks);
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
    WriteInlineChildren(node, afterBlock, blocks);
  }
  Out.ClearLinkTarget();
}

// A fragment of this document lands on the heading it names, is inside or
// stands before (with at most navigation between), else on the heading of
// its section, else at the top of the page ("#", which DokuWiki links to the
// page itself): DokuWiki's page has no other anchors. Which headings there
// are and their anchors is known once the heading writer has written them
// all, so the target is put in at the end of the run.
std::string TConverter::FragmentTarget(std::string_view fragment,
                                       std::optional<std::uint32_t>& slot) {
  if (fragment.empty()) return "#";
  const TIdPlaces& places = IdPlaces();
  const std::string name(fragment);
  auto found = places.Ids.find(name);
  if (found == places.Ids.end()) found = places.Ids.find(PercentDecode(name));
  slot = static_cast<std::uint32_t>(Deferred.size());
  if (found != places.Ids.end())
    Deferred.push_back({&found->second, {}});
  else
    Deferred.push_back({nullptr, SectionId(PercentDecode(name))});
  // Stands for the target until it is put in; never written.
  return "#";
}

const TIdPlaces& TConverter::IdPlaces() {
  if (!PlacesFound) {
    Places = FindIdPlaces(Doc);
    PlacesFound = true;
  }
  return Places;
}

TAnchorTarget TConverter::Land(const TIdPlace& place) const {
  for (TidyNode heading : {place.On, place.Next}) {
    if (!heading) continue;
    if (auto it = HeadingAnchors.find(heading); it != HeadingAnchors.end())
      return {it->second, true};
  }
  for (std::size_t i = std::min(place.Before, Places.Headings.size()); i-- > 0;)
    if (auto it = HeadingAnchors.find(Places.Headings[i]); it != HeadingAnchors.end())
      return {it->second, false};
  return {};
}

void TConverter::FinishAnchors(std::string& result) {
  if (Out.Holes().empty() && !Options.ReportAnchors) return;
  for (const THeadingLine& line : HeadingLines)
    if (std::string anchor = SectionIds.Next(HeadingTitle(std::string_view(result).substr(
            std::min(line.From, result.size()), line.To - line.From)));
        !anchor.empty())
      HeadingAnchors.emplace(line.Node, std::move(anchor));
  if (!Out.Holes().empty()) {
    std::vector<std::string> targets;
    targets.reserve(Deferred.size());
    for (const TDeferredFragment& fragment : Deferred) {
      std::string anchor;
      if (fragment.Place) {
        anchor = Land(*fragment.Place).Section;
      } else {
        // An id no element has may still be a heading's anchor as DokuWiki
        // spells it.
        const auto& taken = SectionIds.Taken();
        if (std::find(taken.begin(), taken.end(), fragment.Name) != taken.end())
          anchor = fragment.Name;
      }
      targets.push_back("#" + anchor);
    }
    std::size_t size = result.size();
    for (const TOutput::THole& hole : Out.Holes())
      size += targets[hole.Slot].size();
    std::string spliced;
    spliced.reserve(size);
    std::size_t from = 0;
    for (const TOutput::THole& hole : Out.Holes()) {
      spliced.append(result, from, hole.At - from);
      spliced += targets[hole.Slot];
      from = hole.At;
    }
    spliced.append(result, from, std::string::npos);
    result = std::move(spliced);
  }
  if (Options.ReportAnchors) {
    Report.Headings = SectionIds.Taken();
    for (const auto& [name, place] : IdPlaces().Ids)
      Report.Targets.emplace(name, Land(place));
  }
}

void TConverter::WriteLinkedImage(TidyNode node) {
  if (Out.LinkingMedia()) {
    WriteImage(node);
    MediaImage = true;
    return;
  }
  Out.BeginWrappedImage();
  WriteImage(node);
  Out.EndWrappedImage();
}

void TConverter::WriteImage(TidyNode node) {
  const char* src = AttrValue(node, TidyAttr_SRC);
  if (!src || !*src) return;
  std::string source = WithScheme(AttrText(src));
  bool isUrl = IsAddress(source);
  if (!isUrl) {
    std::string resolved;
    if (Owner.ResolveLocalImage && Owner.ResolveLocalImage(source, resolved)) {
      source = std::move(resolved);
    } else if (!SchemeOf(source).empty()) {
      source.clear();
    } else {
      TPolicyTarget policy = LocalImageTarget(source, Place());
      source = std::move(policy.Target);
      isUrl = policy.Kind == TPolicyTarget::TKind::Url;
    }
    if (source.empty()) return;
  }
  Out.Write(TContext::Markup, "{{");
  const TAlign align = ParseAlign(AttrValue(node, TidyAttr_ALIGN));
  if (align == TAlign::Right) Out.Put(' ');
  Out.Write(isUrl ? TContext::Url : TContext::WikiId, source);
  Out.WriteImageSize(AttrValue(node, TidyAttr_WIDTH), AttrValue(node, TidyAttr_HEIGHT));
  if (align == TAlign::Left) Out.Put(' ');
  if (const char* alt = AttrValue(node, TidyAttr_ALT)) {
    Out.Put('|');
    Out.Write(TContext::ImageTitle, AttrText(alt));
  }
  Out.Write(TContext::Markup, "}}");
}

} // namespace detail
} // namespace tamsel
