// Tidy set up as TTamsel::ConvertBuffer sets it up; keep the two in step.
#pragma once

#include <tidy/tidy.h>
#include <tidy/tidybuffio.h>

namespace tamsel::bench {

inline Bool TIDY_CALL DeclineMessage(TidyMessage) {
  return no;
}

inline void SetConverterOptions(TidyDoc doc, int encoding) {
  tidyOptSetInt(doc, TidyInCharEncoding, static_cast<ulong>(encoding));
  tidyOptSetBool(doc, TidyDropEmptyElems, no);
  tidyOptSetBool(doc, TidyDropEmptyParas, no);
  tidyOptSetBool(doc, TidyFixUri, no);
  tidyOptSetInt(doc, TidyOutCharEncoding, TidyEncUtf8);
  tidyOptSetBool(doc, TidyQuoteAmpersand, no);
  tidyOptSetBool(doc, TidyQuoteNbsp, no);
  tidyOptSetInt(doc, TidyVertSpace, TidyNoState);
  tidyOptSetInt(doc, TidyWrapLen, 0);
  tidyOptSetInt(doc, TidyNewline, TidyCRLF);
  tidySetMessageCallback(doc, DeclineMessage);
}

} // namespace tamsel::bench
