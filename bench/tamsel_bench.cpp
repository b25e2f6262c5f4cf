// SPDX-License-Identifier: GPL-2.0-or-later
// Conversion speed against the floor set by Tidy's parse of the same bytes.
//
// For every document size the program times Tidy alone (a document created
// with the converter's options, the bytes parsed, the document released) and
// the whole conversion with a fresh converter, as the window runs it on every
// keystroke. A conversion can never be cheaper than the parse inside it, so
// the ratio of the two says how much the walk and the text emission add; the
// cost per byte at growing sizes says whether anything scales worse than
// linearly. Both are printed as counters per row and once more as a table at
// the end.
#include "Tamsel.h"
#include "bench_doc.h"
#include "bench_tidy.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

using tamsel::bench::MakeDocument;
using tamsel::bench::SizeName;

const std::vector<std::size_t> kSizes = {10u << 10, 100u << 10, 1u << 20, 10u << 20};

// The documents by the name the benchmarks carry after their family: "1MB",
// and "1MB-messy" for the sloppy form of the same page.
struct TInput {
  std::string Name;
  std::size_t Size;
  bool Messy;
  std::string Html;
};

std::vector<TInput>& Inputs() {
  static std::vector<TInput> inputs;
  return inputs;
}

const TInput* FindInput(const std::string& name) {
  for (const TInput& input : Inputs())
    if (input.Name == name) return &input;
  return nullptr;
}

const std::string& Document(const std::string& name) {
  TInput& input = const_cast<TInput&>(*FindInput(name));
  if (input.Html.empty())
    input.Html =
        input.Messy ? tamsel::bench::MakeMessyDocument(input.Size) : MakeDocument(input.Size);
  return input.Html;
}

// Tidy's share of a conversion: what ConvertBuffer does before its walk and
// after it.
void ParseOnly(const std::string& html) {
  TidyDoc doc = tidyCreate();
  tamsel::bench::SetConverterOptions(doc, TidyEncUtf8);
  TidyBuffer errors;
  tidyBufInit(&errors);
  tidySetErrorBuffer(doc, &errors);
  TidyBuffer input;
  tidyBufInit(&input);
  tidyBufAttach(&input, reinterpret_cast<byte*>(const_cast<char*>(html.data())),
                static_cast<uint>(html.size()));
  tidyParseBuffer(doc, &input);
  tidyBufDetach(&input);
  tidyBufFree(&input);
  tidyBufFree(&errors);
  benchmark::DoNotOptimize(tidyGetBody(doc));
  tidyRelease(doc);
}

void BM_TidyParse(benchmark::State& state, const std::string& input) {
  const std::string& html = Document(input);
  for (auto _ : state)
    ParseOnly(html);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * html.size()));
}

// A new converter for every conversion, as the window does it: the pattern is
// compiled inside the timed loop.
void BM_Convert(benchmark::State& state, const std::string& input) {
  const std::string& html = Document(input);
  std::size_t out = 0;
  for (auto _ : state) {
    tamsel::TTamsel converter;
    std::string result = converter.ConvertAnsi(html, tamsel::kEncUtf8);
    out = result.size();
    benchmark::DoNotOptimize(result.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * html.size()));
  state.counters["out_bytes"] = static_cast<double>(out);
}

// The same with one converter for all conversions: the difference to Convert
// is what setting up a converter costs.
void BM_ConvertReused(benchmark::State& state, const std::string& input) {
  const std::string& html = Document(input);
  tamsel::TTamsel converter;
  for (auto _ : state) {
    std::string result = converter.ConvertAnsi(html, tamsel::kEncUtf8);
    benchmark::DoNotOptimize(result.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * html.size()));
}

// The window hands the converter UTF-16, which Tidy reads as UTF-16LE.
void BM_ConvertWide(benchmark::State& state, const std::string& input) {
  const std::string& html = Document(input);
  std::u16string wide;
  for (std::size_t i = 0; i < html.size();) {
    // The generator writes well-formed UTF-8 only.
    const auto c = static_cast<unsigned char>(html[i]);
    const int n = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
    char32_t cp = n == 1 ? c : c & (0x7F >> n);
    for (int k = 1; k < n; ++k)
      cp = cp << 6 | (static_cast<unsigned char>(html[i + k]) & 0x3F);
    i += n;
    if (cp >= 0x10000) {
      wide += static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10));
      wide += static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
    } else {
      wide += static_cast<char16_t>(cp);
    }
  }
  for (auto _ : state) {
    tamsel::TTamsel converter;
    std::string result = converter.ConvertWide(wide);
    benchmark::DoNotOptimize(result.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * html.size()));
}

void BM_NewConverter(benchmark::State& state) {
  for (auto _ : state) {
    tamsel::TTamsel converter;
    benchmark::DoNotOptimize(&converter);
  }
}

struct TFigures {
  std::string Input;
  double ParseSeconds = 0;
  double ConvertSeconds = 0;
};

// The console report plus the two derived figures: ratio conversion/parse and
// CPU nanoseconds per input byte. The CPU time of the whole process (the
// converter may work on a thread of its own) rather than wall time, because the
// machines this runs on are shared with builds.
class TReporter : public benchmark::ConsoleReporter {
public:
  explicit TReporter(OutputOptions options) : ConsoleReporter(options) {}

  void ReportRuns(const std::vector<Run>& runs) override {
    std::vector<Run> shown = runs;
    for (Run& run : shown) {
      if (run.error_occurred) continue;
      if (run.run_type == Run::RT_Aggregate && run.aggregate_name != "mean" &&
          run.aggregate_name != "median")
        continue;
      const std::string name = run.run_name.function_name;
      const auto slash = name.find('/');
      if (slash == std::string::npos) continue;
      const std::string family = name.substr(0, slash), input = name.substr(slash + 1);
      if (!FindInput(input)) continue;
      // The process's CPU time: the converter may run on a thread of its own.
      const double seconds =
          run.GetAdjustedCPUTime() / benchmark::GetTimeUnitMultiplier(run.time_unit);
      run.counters["ns/B"] = seconds * 1e9 / static_cast<double>(Document(input).size());
      // Only the plain rows (or the medians of repeated ones) go to the table.
      const bool tabled =
          run.run_type == Run::RT_Iteration ? run.repetitions <= 1 : run.aggregate_name == "median";
      const std::string key = input + "/" + run.aggregate_name;
      if (family == "TidyParse") {
        Parse[key] = seconds;
        if (tabled) Row(input).ParseSeconds = seconds;
      } else if (family == "Convert") {
        if (auto it = Parse.find(key); it != Parse.end())
          run.counters["ratio"] = seconds / it->second;
        if (tabled) Row(input).ConvertSeconds = seconds;
      }
    }
    ConsoleReporter::ReportRuns(shown);
  }

  void Finalize() override {
    std::ostream& out = GetOutputStream();
    if (Table.empty()) return;
    char line[160];
    out << "\nConversion against Tidy's parse of the same bytes (process CPU time, fresh "
           "converter):\n";
    std::snprintf(line, sizeof line, "%10s %10s %12s %12s %12s %12s %8s\n", "input", "bytes",
                  "parse MB/s", "convert MB/s", "parse ns/B", "convert ns/B", "ratio");
    out << line;
    for (const TFigures& f : Table) {
      const double n = static_cast<double>(Document(f.Input).size());
      auto rate = [n](double s) { return s > 0 ? n / s / 1e6 : 0.0; };
      auto perByte = [n](double s) { return s * 1e9 / n; };
      std::snprintf(line, sizeof line, "%10s %10.0f %12.1f %12.1f %12.1f %12.1f %8.2f\n",
                    f.Input.c_str(), n, rate(f.ParseSeconds), rate(f.ConvertSeconds),
                    perByte(f.ParseSeconds), perByte(f.ConvertSeconds),
                    f.ParseSeconds > 0 ? f.ConvertSeconds / f.ParseSeconds : 0.0);
      out << line;
    }
    const TFigures* one = Find("1MB");
    if (one && one->ParseSeconds > 0 && one->ConvertSeconds > 0) {
      std::snprintf(line, sizeof line, "ratio at 1MB: %.2f (goal: at most 1.30)\n",
                    one->ConvertSeconds / one->ParseSeconds);
      out << line;
    }
    const TFigures *small = Find("100KB"), *big = Find("10MB");
    if (small && big && small->ConvertSeconds > 0 && big->ConvertSeconds > 0) {
      const double a = small->ConvertSeconds / static_cast<double>(Document("100KB").size());
      const double b = big->ConvertSeconds / static_cast<double>(Document("10MB").size());
      std::snprintf(line, sizeof line,
                    "cost per byte, 10MB against 100KB: %.2fx (goal: at most 1.20x)\n", b / a);
      out << line;
    }
  }

private:
  TFigures& Row(const std::string& input) {
    for (TFigures& f : Table)
      if (f.Input == input) return f;
    Table.push_back(TFigures{input});
    return Table.back();
  }
  const TFigures* Find(const std::string& input) const {
    for (const TFigures& f : Table)
      if (f.Input == input) return &f;
    return nullptr;
  }

  std::map<std::string, double> Parse;
  std::vector<TFigures> Table;
};

} // namespace

int main(int argc, char** argv) {
  for (std::size_t bytes : kSizes)
    Inputs().push_back({SizeName(bytes), bytes, false, {}});
  Inputs().push_back({"1MB-messy", 1u << 20, true, {}});
  for (const TInput& input : Inputs()) {
    const auto unit = input.Size >= (1u << 20) ? benchmark::kMillisecond : benchmark::kMicrosecond;
    // Parse first: the conversion row of the same input reads its time.
    benchmark::RegisterBenchmark(("TidyParse/" + input.Name).c_str(), BM_TidyParse, input.Name)
        ->Unit(unit)
        ->MeasureProcessCPUTime();
    benchmark::RegisterBenchmark(("Convert/" + input.Name).c_str(), BM_Convert, input.Name)
        ->Unit(unit)
        ->MeasureProcessCPUTime();
  }
  benchmark::RegisterBenchmark("ConvertReused/10KB", BM_ConvertReused, std::string("10KB"))
      ->Unit(benchmark::kMicrosecond)
      ->MeasureProcessCPUTime();
  benchmark::RegisterBenchmark("ConvertWide/1MB", BM_ConvertWide, std::string("1MB"))
      ->Unit(benchmark::kMillisecond)
      ->MeasureProcessCPUTime();
  benchmark::RegisterBenchmark("NewConverter", BM_NewConverter)->Unit(benchmark::kMicrosecond);

  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  int options = benchmark::ConsoleReporter::OO_None;
  if (isatty(STDOUT_FILENO)) options |= benchmark::ConsoleReporter::OO_Color;
  TReporter reporter(static_cast<benchmark::ConsoleReporter::OutputOptions>(options));
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
