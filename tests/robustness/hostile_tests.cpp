// SPDX-License-Identifier: GPL-2.0-or-later
// Input that once made Tidy loop, or spend time and memory growing with the
// square of the input: each converts, or is refused with a clear message,
// within a bound far above the time measured for it (hangs show, a slow
// machine does not), on the byte path and on the window's UTF-16 path.
#include "Robust_Input.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <stdexcept>
#include <string>

#include <sys/resource.h>

using namespace tamsel;
using namespace tamsel::robust;

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

struct THostile {
  const char* Name;
  std::function<std::string()> Make;
  // What the output must hold when the input converts.
  const char* Kept;
  // What the message must say when it is refused; null: it must convert.
  const char* Refusal;
  double Seconds;
};

std::string FontDivs(std::size_t n) {
  return Repeat("<font><div>", n) + "x";
}

std::string ManyAttributes(std::size_t n) {
  std::string html = "<p";
  for (std::size_t i = 0; i < n; ++i)
    html += " a" + std::to_string(i) + "=v";
  return html + ">x</p>";
}

const THostile kHostile[] = {
    {"Tidy loops after 100 KB of text",
     [] { return "<p>" + std::string(102400, 'a') + "</p><tr><dl></table>"; }, nullptr,
     "too deeply tangled", 10},
    {"Tidy loops after 1 MB of text",
     [] { return "<p>" + std::string(1 << 20, 'a') + "</p><tr><dl></table>"; }, nullptr,
     "too deeply tangled", 20},
    {"2,500 fonts opened before blocks", [] { return FontDivs(2500); }, "x", nullptr, 10},
    {"100,000 fonts opened before blocks", [] { return FontDivs(100000); }, "x", nullptr, 10},
    {"100,000 attributes", [] { return ManyAttributes(100000); }, "x", nullptr, 10},
    {"1,000,000 attributes", [] { return ManyAttributes(1000000); }, "x", nullptr, 30},
    {"44,000 nested quotations", [] { return Repeat("<blockquote>", 44000) + "deep"; }, "deep",
     nullptr, 10},
};

std::u16string Widen(const std::string& ascii) {
  return std::u16string(ascii.begin(), ascii.end());
}

void Check(const THostile& input, bool wide) {
  const std::string html = input.Make();
  const auto start = std::chrono::steady_clock::now();
  std::string out, refusal;
  RunWithLargeStack([&] {
    TTamsel converter;
    try {
      out = wide ? converter.ConvertWide(Widen(html)) : converter.ConvertAnsi(html, kEncUtf8);
    } catch (const std::exception& e) {
      refusal = e.what();
    }
  });
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const char* path = wide ? "ConvertWide" : "ConvertAnsi";
  if (input.Refusal) {
    EXPECT_NE(refusal.find(input.Refusal), std::string::npos)
        << input.Name << " (" << path << "): " << (refusal.empty() ? out.substr(0, 80) : refusal);
  } else {
    EXPECT_EQ(refusal, "") << input.Name << " (" << path << ")";
    EXPECT_NE(out.find(input.Kept), std::string::npos) << input.Name << " (" << path << ")";
  }
  EXPECT_LT(seconds, input.Seconds * (kSanitized ? 4 : 1)) << input.Name << " (" << path << ")";
}

// The largest the process has been, in bytes; its tests run one to a process.
std::size_t PeakBytes() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<std::size_t>(usage.ru_maxrss) * 1024;
}

class Hostile : public ::testing::TestWithParam<std::size_t> {};

} // namespace

TEST_P(Hostile, ConvertsOrIsRefusedInBoundedTimeAndMemory) {
  const THostile& input = kHostile[GetParam()];
  Check(input, false);
  Check(input, true);
  // Memory under sanitizers says nothing about the converter's own.
  if (!kSanitized) {
    EXPECT_LT(PeakBytes(), std::size_t{1} << 30) << input.Name;
  }
}

INSTANTIATE_TEST_SUITE_P(Table, Hostile, ::testing::Range<std::size_t>(0, std::size(kHostile)));

TEST(Hostile, ConverterStaysUsableAfterARefusal) {
  TTamsel converter;
  EXPECT_THROW(converter.ConvertAnsi("<p>a</p><tr><dl></table>", kEncUtf8), std::runtime_error);
  EXPECT_EQ(converter.ConvertAnsi("<p><b>fine</b></p>", kEncUtf8), "**fine**");
}

TEST(Hostile, RepairsKeepWhatTheWritersRead) {
  // Past the first 256 attributes only those a writer reads stay, the last
  // of each, as Tidy keeps the last of repeated attributes.
  std::string img = "<img";
  for (int i = 0; i < 300; ++i)
    img += " data-" + std::to_string(i) + "=v";
  img += " src=first.png alt='a > b' src=last.png width=20>";
  EXPECT_EQ(Convert(img), "{{last.png?20|a > b}}");
  // A comment or a script before it does not hide it.
  EXPECT_EQ(Convert("<!-- <b --><script>if (a < b) s = '<p';</script>" + img),
            "{{last.png?20|a > b}}");
  std::u16string wide(img.begin(), img.end());
  TTamsel converter;
  EXPECT_EQ(converter.ConvertWide(wide), "{{last.png?20|a > b}}");

  // Fonts nested beyond four: the text and the blocks stay, in order.
  const std::string fonts =
      Repeat("<font color=red>", 10) + "a<div>b</div>" + Repeat("</font>", 10) + "<p>c</p>";
  EXPECT_EQ(Convert(fonts), "a\r\n\r\nb\r\n\r\nc");

  // Divs nested past a thousand: every word stays, in order.
  const std::string divs = Repeat("<div>w", 1500) + Repeat("</div>", 1500) + "<p>end</p>";
  const std::string out = Convert(divs);
  EXPECT_EQ(Count(out, "w"), 1500u);
  EXPECT_EQ(out.substr(out.size() - 3), "end");
}
