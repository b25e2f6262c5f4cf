// SPDX-License-Identifier: GPL-2.0-or-later
// tamsel-parse-only: the floor for a whole tamsel-cli process. Reads a file,
// parses it with Tidy set up as a conversion sets it up (same options,
// messages declined), visits every node once and writes nothing. Kept free of
// the engine, the C++ streams and anything else a process would have to load
// or initialise, so that the difference to tamsel-cli on the same file is
// what the converter costs on top of Tidy.
//
//   tamsel-parse-only FILE
#include <tidy/tidy.h>
#include <tidy/tidybuffio.h>

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

Bool TIDY_CALL DeclineMessage(TidyMessage) {
  return no;
}

// The options of SetTidyOptions (engine/Tamsel.cpp), repeated here so that
// this program needs nothing of the engine.
void SetOptions(TidyDoc doc) {
  tidyOptSetInt(doc, TidyInCharEncoding, 4);
  tidyOptSetBool(doc, TidyDropEmptyElems, no);
  tidyOptSetBool(doc, TidyDropEmptyParas, no);
  tidyOptSetBool(doc, TidyFixUri, no);
  tidyOptSetInt(doc, TidyOutCharEncoding, 4);
  tidyOptSetBool(doc, TidyQuoteAmpersand, no);
  tidyOptSetBool(doc, TidyQuoteNbsp, no);
  tidyOptSetInt(doc, TidyVertSpace, TidyNoState);
  tidyOptSetInt(doc, TidyWrapLen, 0);
  tidyOptSetInt(doc, TidyNewline, TidyCRLF);
  tidySetMessageCallback(doc, DeclineMessage);
}

} // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: tamsel-parse-only FILE\n", stderr);
    return 2;
  }
  const int fd = open(argv[1], O_RDONLY | O_CLOEXEC);
  struct stat st;
  if (fd < 0 || fstat(fd, &st) != 0) {
    std::perror(argv[1]);
    return 1;
  }
  const auto size = static_cast<std::size_t>(st.st_size);
  auto* bytes = static_cast<unsigned char*>(std::malloc(size ? size : 1));
  std::size_t got = 0;
  while (got < size) {
    const ssize_t n = read(fd, bytes + got, size - got);
    if (n <= 0) break;
    got += static_cast<std::size_t>(n);
  }
  close(fd);

  TidyDoc doc = tidyCreate();
  SetOptions(doc);
  TidyBuffer input;
  tidyBufInit(&input);
  tidyBufAttach(&input, bytes, static_cast<uint>(got));
  tidyParseBuffer(doc, &input);
  tidyBufDetach(&input);

  // Every node once, without recursion, as the converter's walks visit them.
  unsigned long nodes = 0, ids = 0;
  TidyNode node = tidyGetBody(doc);
  const TidyNode top = node;
  while (node) {
    ++nodes;
    ids += static_cast<unsigned long>(tidyNodeGetId(node)) + tidyNodeGetType(node);
    TidyNode next = tidyGetChild(node);
    while (!next && node && node != top) {
      next = tidyGetNext(node);
      if (!next) node = tidyGetParent(node);
    }
    node = next;
  }
  tidyRelease(doc);
  std::free(bytes);
  // Keeps the walk from being optimised away; nothing goes to stdout.
  return nodes == 0 && ids == 1 ? 3 : 0;
}
