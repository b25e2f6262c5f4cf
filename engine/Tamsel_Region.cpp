// SPDX-License-Identifier: GPL-2.0-or-later
// A page's outline, and the removal of what a caller leaves out of it.
#include "Tamsel_Heap.h"
#include "Tamsel_Ascii.h"
#include "Tamsel_Internal.h"

#include <stdexcept>

namespace tamsel {

namespace {

struct TOutlineWalk {
  TOutline Outline;
  std::vector<TidyNode> Nodes; // the node of every entry
};

// Tidy names no text node.
std::string Lower(const char* name) {
  return LowerAscii(name ? name : "");
}

std::uint32_t AddEntry(TOutlineWalk& walk, TidyNode node, std::uint32_t parent) {
  const auto index = static_cast<std::uint32_t>(walk.Outline.size());
  walk.Outline.emplace_back();
  walk.Nodes.push_back(node);
  TOutlineNode& entry = walk.Outline.back();
  entry.Parent = parent;
  entry.End = index + 1;
  return index;
}

// Without recursion: the nesting is as deep as the input makes it.
TOutlineWalk WalkOutline(TidyDoc doc, TidyNode body) {
  TOutlineWalk walk;
  AddEntry(walk, body, 0);
  walk.Outline[0].Tag = "body";
  TTidyBuffer owned;
  TidyBuffer& value = owned.Buffer;
  std::vector<std::uint32_t> open{0};
  TidyNode node = tidyGetChild(body);
  while (!open.empty()) {
    if (!node) {
      const std::uint32_t done = open.back();
      open.pop_back();
      walk.Outline[done].End = static_cast<std::uint32_t>(walk.Outline.size());
      if (done != 0) node = tidyGetNext(walk.Nodes[done]);
      continue;
    }
    const TidyNodeType type = tidyNodeGetType(node);
    if (type == TidyNode_Text) {
      const std::uint32_t index = AddEntry(walk, node, open.back());
      tidyBufClear(&value);
      if (tidyNodeGetValue(doc, node, &value) && value.bp)
        walk.Outline[index].Text.assign(reinterpret_cast<const char*>(value.bp), value.size);
    } else if ((type == TidyNode_Start || type == TidyNode_StartEnd) && !IsUnseen(node)) {
      const std::uint32_t index = AddEntry(walk, node, open.back());
      TOutlineNode& entry = walk.Outline[index];
      entry.Tag = Lower(tidyNodeGetName(node));
      for (TidyAttr attr = tidyAttrFirst(node); attr; attr = tidyAttrNext(attr)) {
        const char* v = tidyAttrValue(attr);
        entry.Attributes.emplace_back(Lower(tidyAttrName(attr)), v ? v : "");
      }
      if (TidyNode child = tidyGetChild(node)) {
        open.push_back(index);
        node = child;
        continue;
      }
    }
    node = tidyGetNext(node);
  }
  return walk;
}

} // namespace

void KeepRegion(TidyDoc doc, TidyNode body, const TRegionChooser& chooser) {
  TOutlineWalk walk = WalkOutline(doc, body);
  const TRegion region = chooser(walk.Outline);
  const std::size_t count = walk.Outline.size();
  std::vector<std::uint8_t> drop(count, 0);
  if (!region.Content.empty()) {
    // Everything goes but the content and the elements that hold it.
    std::vector<std::uint8_t> keep(count, 0);
    for (std::uint32_t root : region.Content) {
      if (root >= count) continue;
      for (std::uint32_t i = root; i < walk.Outline[root].End; ++i)
        keep[i] = 1;
      for (std::uint32_t up = root; up != 0 && keep[walk.Outline[up].Parent] != 1;) {
        up = walk.Outline[up].Parent;
        keep[up] = 2;
      }
    }
    for (std::size_t i = 1; i < count; ++i)
      drop[i] = keep[i] == 0;
  }
  for (std::uint32_t out : region.LeaveOut)
    if (out > 0 && out < count) drop[out] = 1;
  // The first of a subtree frees all of it: nothing below it is touched again.
  for (std::uint32_t i = 1; i < count;) {
    if (drop[i]) {
      tidyDiscardElement(doc, walk.Nodes[i]);
      i = walk.Outline[i].End;
    } else {
      ++i;
    }
  }
}

TOutline OutlineDocument(std::string_view bytes, int encoding) {
  if (bytes.size() > kMaxInputBytes) throw std::length_error("tamsel: input larger than 64 MiB");
  TOutline outline;
  WithStackForInput(bytes.data(), static_cast<std::int32_t>(bytes.size()), encoding,
                    [&](const void* input, std::int32_t length) {
                      TTidyHeap heap(static_cast<std::size_t>(length));
                      const TTidyDoc doc(ParseDocument(heap, input, length, encoding));
                      TidyNode body = tidyGetBody(doc.Get());
                      if (body && tidyNodeGetId(body) == TidyTag_BODY)
                        outline = WalkOutline(doc.Get(), body).Outline;
                    });
  return outline;
}

} // namespace tamsel
