// The command line's pieces, one table each.
#include "Cli_DokuId.h"
#include "Cli_Encoding.h"
#include "Cli_Files.h"
#include "Cli_Options.h"
#include "Cli_Progress.h"
#include "Cli_SiteIndex.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace tamsel::cli {
namespace {

TEST(DokuId, CleansLikeDokuWiki) {
  // The whole of it is held against DokuWiki itself in test_ids_dokuwiki.py;
  // these show what the rules do.
  const std::pair<const char*, const char*> cases[] = {
      {"My Page", "my_page"},
      {"Docs:Getting Started", "docs:getting_started"},
      {"Äpfel/Birnen", "aepfel_birnen"},
      {"a;b", "a:b"},
      {"  __a__  ", "a"},
      {"a  -  b", "a_-_b"},
      {"ns:.hidden", "ns:hidden"},
      {"ns._:page", "ns:page"},
      {"::a::b::", "a:b"},
      {"v1.2", "v1.2"},
      {"Ελληνικά", "ελληνικά"},
      {"100% *sure*?", "100_sure"},
      {"caf\xE9", ""},
      {"", ""},
  };
  for (const auto& [raw, id] : cases)
    EXPECT_EQ(CleanId(raw), id) << raw;
}

TEST(DokuId, SectionIds) {
  EXPECT_EQ(SectionId("Part Two"), "part_two");
  EXPECT_EQ(SectionId("1.2 Setup"), "setup");
  EXPECT_EQ(SectionId("1.2"), "section12");
  EXPECT_EQ(SectionId("ns:a.b"), "nsab");
}

TEST(DokuId, FileNamesAreUrlEncodedUnlessPlain) {
  EXPECT_EQ(EncodeFileName("docs/getting_started"), "docs/getting_started");
  EXPECT_EQ(EncodeFileName("ελ/a b"), "%CE%B5%CE%BB/a+b");
  EXPECT_EQ(EncodeFileName("a~b"), "a%7Eb");
}

TEST(SiteIndex, LinksBecomeAbsolutePageIds) {
  std::vector<TSiteFile> files;
  for (const char* path :
       {"index.html", "Docs/Index.HTM", "Docs/Getting Started.html", "Docs/Sub/deep.htm",
        "about.html", "About.htm", "files/report.pdf", "img/Logo.PNG", "Caf\xC3\xA9.html"})
    files.push_back(TSiteFile{path, path, false, {}, {}});
  const TSiteIndex index(std::move(files));

  struct Case {
    const char* Page;
    const char* Href;
    const char* Result; // null: the converter's own form stays
  };
  const Case cases[] = {
      {"index.html", "Docs/Getting%20Started.html#Step 2", ":docs:getting_started#step_2"},
      {"Docs/Sub/deep.htm", "../../index.html", ":index"},
      {"Docs/Sub/deep.htm", "/docs/getting started.HTML", ":docs:getting_started"},
      {"index.html", "Docs/", ":docs:index"},
      {"index.html", "Docs", ":docs:index"},
      {"index.html", "docs/sub/deep", ":docs:sub:deep"},
      {"index.html", "About.htm", ":about"},
      {"index.html", "about.html", nullptr}, // About.htm sorts first and took the id
      {"index.html", "#Top", "#top"},
      {"index.html", "#", nullptr},
      {"index.html", "?page=2", ":index"},
      {"index.html", "new/Page.html#x", ":new:page#x"},
      {"index.html", "files/report.pdf", nullptr},
      {"index.html", "nothing/", nullptr},
      {"index.html", "mailto-like:x", nullptr},
      {"index.html", "caf%C3%A9.html", ":cafe"},
      {"index.html", "caf%E9.html", ":cafe"}, // a link written in Windows-1252
  };
  TLinkCounts counts;
  for (const Case& c : cases) {
    std::string result, note;
    const bool resolved = index.ResolveLink(c.Page, c.Href, result, counts, note);
    EXPECT_EQ(resolved, c.Result != nullptr) << c.Href;
    if (resolved && c.Result) {
      EXPECT_EQ(result, c.Result) << c.Href;
    }
  }
  EXPECT_EQ(counts.Resolved, 11u);
  EXPECT_EQ(counts.MissingPages, 1u);
  EXPECT_EQ(counts.Kept, 5u);

  std::string result, note;
  std::size_t file = 0;
  EXPECT_TRUE(index.ResolveImage("Docs/Sub/deep.htm", "../../img/logo.png?v=2", result, file,
                                 counts, note));
  EXPECT_EQ(result, ":img:logo.png");
  EXPECT_EQ(index.Files()[file].Path, "img/Logo.PNG");
  EXPECT_FALSE(index.ResolveImage("index.html", "img/none.png", result, file, counts, note));
  EXPECT_FALSE(
      index.ResolveImage("index.html", "data:image/png;base64,AAAA", result, file, counts, note));
}

TEST(Encoding, FindsDeclarations) {
  const std::pair<const char*, const char*> cases[] = {
      {"<meta charset=\"ISO-8859-1\">", "ISO-8859-1"},
      {"<META CHARSET=koi8-r>", "koi8-r"},
      {"<meta http-equiv='Content-Type' content='text/html; charset=windows-1251'>",
       "windows-1251"},
      {"<meta content=\"text/html;charset='utf-8'\" http-equiv=content-type>", "utf-8"},
      {"<meta content='text/html; charset = \"big5\"' http-equiv=\"CONTENT-TYPE\">", "big5"},
      {"<?xml version=\"1.0\" encoding=\"iso-8859-15\"?><html>", "iso-8859-15"},
      {"<!-- <meta charset=koi8-r> --><p>", ""},
      {"<p title='<meta charset=koi8-r>'>", ""},
      {"<meta name=description content='charset=x'>", ""},
      {"<p>no declaration</p>", ""},
  };
  for (const auto& [html, charset] : cases)
    EXPECT_EQ(FindDeclaredCharset(html), charset) << html;
  const std::string late = std::string(5000, ' ') + "<meta charset=koi8-r>";
  EXPECT_EQ(FindDeclaredCharset(late), "");
}

TEST(Encoding, ReadsLabelsAsBrowsersDo) {
  EXPECT_EQ(LookupCharsetLabel("ISO-8859-1")->Name, "win1252");
  EXPECT_EQ(LookupCharsetLabel(" us-ascii ")->Name, "win1252");
  EXPECT_EQ(LookupCharsetLabel("utf-16")->Name, "utf8");
  EXPECT_EQ(LookupCharsetLabel("gb2312")->Iconv, "GB18030");
  EXPECT_EQ(LookupCharsetLabel("windows-1251")->Iconv, "windows-1251");
  EXPECT_FALSE(LookupCharsetLabel("x-klingon"));
  EXPECT_FALSE(ParseEncodingName("auto"));
  EXPECT_EQ(ParseEncodingName("UTF-8")->Tidy, 4);
  EXPECT_EQ(ParseEncodingName("shiftjis")->Iconv, "SHIFT_JIS");
}

TEST(Encoding, StripsByteOrderMarks) {
  const std::string utf16 = std::string("\xFF\xFE<\0p\0>\0", 8);
  const TPreparedInput input = PrepareInput(utf16, std::nullopt);
  EXPECT_EQ(input.TidyEncoding, 9);
  EXPECT_EQ(input.Bytes, std::string_view(utf16).substr(2));
  const TPreparedInput utf8 = PrepareInput("\xEF\xBB\xBF<p>", ParseEncodingName("utf8"));
  EXPECT_EQ(utf8.Bytes, "<p>");
  EXPECT_TRUE(utf8.Warnings.empty());
}

TEST(Output, LineEnds) {
  const std::tuple<const char*, TNewline, const char*> cases[] = {
      {"a\r\n\r\nb", TNewline::Lf, "a\n\nb\n"},
      {"a\r\nb", TNewline::CrLf, "a\r\nb\r\n"},
      {"a\rb\r\r\n", TNewline::Lf, "a b \n\n"},
      {"a\nb", TNewline::CrLf, "a\r\nb\r\n"},
      {"", TNewline::Lf, ""},
  };
  for (const auto& [in, newline, out] : cases)
    EXPECT_EQ(FinishText(in, newline), out) << in;
}

TEST(Options, ReadsTheCommandLine) {
  const TOptions site = ParseOptions({"--site", "src", "--out=pages", "--media", "m", "-j", "3",
                                      "--force", "--encoding", "latin1", "--newline", "crlf"});
  EXPECT_EQ(site.Mode, TMode::Site);
  EXPECT_EQ(site.PagesDir, "pages");
  EXPECT_EQ(site.Jobs, 3u);
  EXPECT_TRUE(site.Force);
  EXPECT_EQ(site.Document.Encoding->Tidy, 3);
  EXPECT_EQ(site.Document.Newline, TNewline::CrLf);

  const TOptions one = ParseOptions({"--no-links", "--", "-odd-name.html"});
  EXPECT_EQ(one.Mode, TMode::Document);
  EXPECT_EQ(one.Input, "-odd-name.html");
  EXPECT_EQ(one.Document.LinkOptions, 0);
  EXPECT_EQ(ParseOptions({"-"}).Input, "-");
  EXPECT_EQ(ParseOptions({"x", "--help"}).Mode, TMode::Help);

  for (const std::vector<std::string>& bad :
       std::vector<std::vector<std::string>>{{"--jobs", "0"},
                                             {"--site", "s", "--out", "o", "--jobs", "1x"},
                                             {"--media", "m"},
                                             {"--newline"},
                                             {"--output", ""},
                                             {"-x"},
                                             {"a", "b"}})
    EXPECT_THROW(ParseOptions(bad), TUsageError) << bad.front();
}

TEST(Progress, BarFitsItsWidth) {
  EXPECT_EQ(TProgress::FormatBar(5, 10, 2.0, 40), "[======>      ] 5/10  2.0 s  2.5 files/s");
  EXPECT_EQ(TProgress::FormatBar(0, 0, 0.0, 12).size(), 12u);
  for (unsigned width : {20u, 60u, 200u})
    EXPECT_LE(TProgress::FormatBar(7, 1000, 12.5, width).size(), width);
}

TEST(Files, NeverOverwriteWithoutForce) {
  namespace fs = std::filesystem;
  const fs::path dir = fs::temp_directory_path() / ("tamsel-files-" + std::to_string(::getpid()));
  const fs::path file = dir / "a" / "b.txt";
  std::string error;
  EXPECT_EQ(WriteWholeFile(file, "one", false, error), TWriteResult::Written);
  EXPECT_EQ(WriteWholeFile(file, "one", false, error), TWriteResult::Unchanged);
  EXPECT_EQ(WriteWholeFile(file, "two", false, error), TWriteResult::Exists);
  std::string content;
  ASSERT_TRUE(ReadWholeFile(file.string(), content, error));
  EXPECT_EQ(content, "one");
  EXPECT_EQ(WriteWholeFile(file, "two", true, error), TWriteResult::Written);
  ASSERT_TRUE(ReadWholeFile(file.string(), content, error));
  EXPECT_EQ(content, "two");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir / "a"), fs::directory_iterator()), 1);
  EXPECT_EQ(WriteWholeFile(dir / "a", "x", true, error), TWriteResult::Failed);
  EXPECT_FALSE(ReadWholeFile(dir.string(), content, error));
  EXPECT_EQ(error, "is a directory");
  fs::remove_all(dir);
}

} // namespace
} // namespace tamsel::cli
