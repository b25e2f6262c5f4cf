// SPDX-License-Identifier: GPL-2.0-or-later
// The window's response to one keystroke with a large document in the input
// editor: from the key press until the editor has taken it, until the output
// editor holds the new result, and until the window has repainted, plus the
// parts that make it up; and a typist's ten keys at eight a second, with how
// far the editor falls behind them.
//
// Runs the real window on Qt's offscreen platform unless QT_QPA_PLATFORM says
// otherwise. As the program tamsel does, the C library keeps freed memory
// (M_TRIM_THRESHOLD) rather than hand it back to the system, which the
// conversion thread would pay for in page faults when it allocates again;
// --return-freed-memory measures the library's default. Each timed keystroke
// types a letter into a paragraph in the middle of the document, the next one
// deletes it again with Backspace, so the document keeps its size.
// --document-kb=N sets the size of the document (1024 unless told).
#include "Tamsel_FormMain.h"
#include "Tamsel_Worker.h"
#include "bench_doc.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QSettings>
#include <QTemporaryDir>
#include <QTextCursor>
#include <QThread>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <malloc.h>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace tamsel;
using namespace Qt::StringLiterals;

std::size_t DocumentBytes = 1u << 20;

struct TWindow {
  std::unique_ptr<TfrmMain> Form;
  int Presses = 0;

  TfrmMain& Get() {
    if (!Form) {
      Form = std::make_unique<TfrmMain>();
      Form->show();
      const QString html = QString::fromUtf8(bench::MakeDocument(DocumentBytes));
      Form->memoHtml->setPlainText(html); // converts once, as a paste would
      // Into the text of a paragraph near the middle.
      QTextCursor cursor = Form->memoHtml->textCursor();
      cursor.setPosition(static_cast<int>(html.indexOf(u"<p>", html.size() / 2) + 4));
      Form->memoHtml->setTextCursor(cursor);
      Form->memoHtml->setFocus();
      Settle();
    }
    return *Form;
  }

  // A letter on even presses, Backspace on odd ones.
  void Press() {
    const bool type = Presses++ % 2 == 0;
    const auto key = type ? Qt::Key_X : Qt::Key_Backspace;
    const QString text = type ? QStringLiteral("x") : QString(QChar(0x08));
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
    QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, text);
    QApplication::sendEvent(Form->memoHtml, &press);
    QApplication::sendEvent(Form->memoHtml, &release);
  }

  // Layout, repaint and whatever else the change left queued.
  static void Settle() {
    for (int i = 0; i < 3; ++i)
      QApplication::processEvents();
  }

  // Until the output shows the conversion of the input as it stands. A window
  // that converts inside the key event is there as soon as it has settled.
  void AwaitResult() {
    Settle();
    // Sleeps until the worker's result is posted.
    while (!Idle(*Form))
      QApplication::processEvents(QEventLoop::WaitForMoreEvents);
  }
  template <class TForm> static bool Idle(TForm& form) {
    if constexpr (requires { form.Idle(); })
      return form.Idle();
    else
      return true;
  }
};

TWindow& Window() {
  static TWindow window;
  return window;
}

void SetCounters(benchmark::State& state) {
  state.counters["input_chars"] =
      static_cast<double>(Window().Get().memoHtml->document()->characterCount());
  state.counters["output_chars"] =
      static_cast<double>(Window().Get().memoDokuWiki->document()->characterCount());
}

// CPU time of the whole process, the converter's own thread included: on a
// machine busy with other work it tells more than the time on the clock.
double ProcessCpuMs() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

// One key per iteration; cpu_ms is the process's CPU time per key. With
// toResult the time runs until the output editor holds the new result,
// otherwise until the window answers again (where the conversion runs inside
// the key event, that includes it).
void MeasureKeystrokes(benchmark::State& state, bool toResult) {
  TWindow& w = Window();
  w.Get();
  double cpu = 0;
  for (auto _ : state) {
    const double start = ProcessCpuMs();
    w.Press();
    if (toResult) w.AwaitResult();
    cpu += ProcessCpuMs() - start;
    if (!toResult) {
      state.PauseTiming();
      w.AwaitResult();
      state.ResumeTiming();
    }
  }
  SetCounters(state);
  state.counters["cpu_ms"] = cpu / static_cast<double>(state.iterations());
}

void BM_Keystroke(benchmark::State& state) {
  MeasureKeystrokes(state, false);
}

void BM_KeystrokeToResult(benchmark::State& state) {
  MeasureKeystrokes(state, true);
}

// Ten keys at eight a second, each sent when it is due or as soon as the
// window answers again. lag_ms: how late the latest key reached the editor
// (0 for an editor that keeps up with the typist); result_ms: from the last
// key until the output shows its result.
void BM_Typing8PerSecond(benchmark::State& state) {
  TWindow& w = Window();
  w.Get();
  w.AwaitResult();
  double lag = 0;
  double result = 0;
  for (auto _ : state) {
    QElapsedTimer clock;
    clock.start();
    double worst = 0;
    for (int key = 0; key < 10; ++key) {
      const qint64 due = key * 125;
      while (clock.elapsed() < due) {
        QApplication::processEvents(QEventLoop::AllEvents, 5);
        if (clock.elapsed() < due) QThread::msleep(1);
      }
      worst = std::max(worst, static_cast<double>(clock.elapsed() - due));
      w.Press();
    }
    const qint64 last = clock.elapsed();
    w.AwaitResult();
    result += static_cast<double>(clock.elapsed() - last);
    lag += worst;
    if (w.Presses % 2) w.Press(); // even: the document as it was
    w.AwaitResult();
  }
  const auto n = static_cast<double>(state.iterations());
  state.counters["lag_ms"] = lag / n;
  state.counters["result_ms"] = result / n;
}

// The same until the window has laid out and painted the change.
void BM_KeystrokeRepainted(benchmark::State& state) {
  TWindow& w = Window();
  w.Get();
  for (auto _ : state) {
    w.Press();
    w.AwaitResult();
    TWindow::Settle();
  }
  SetCounters(state);
}

// The parts: the input editor taking the key without a conversion, reading its
// whole text, the conversion, and replacing the output editor's text.
void BM_TypeOnly(benchmark::State& state) {
  TWindow& w = Window();
  TfrmMain& form = w.Get();
  form.memoHtml->blockSignals(true);
  for (auto _ : state) {
    w.Press();
    state.PauseTiming();
    TWindow::Settle();
    state.ResumeTiming();
  }
  form.memoHtml->blockSignals(false);
  if (w.Presses % 2) w.Press(); // leave the document as it was
  w.AwaitResult();
}

void BM_ReadInput(benchmark::State& state) {
  TfrmMain& form = Window().Get();
  for (auto _ : state)
    benchmark::DoNotOptimize(EditorText(*form.memoHtml).size());
}

void BM_Convert(benchmark::State& state) {
  TfrmMain& form = Window().Get();
  const QString html = EditorText(*form.memoHtml);
  const TConvertChoices choices = form.Choices();
  for (auto _ : state)
    benchmark::DoNotOptimize(ConvertForDisplay(html, choices).size());
}

void BM_SetOutput(benchmark::State& state) {
  TfrmMain& form = Window().Get();
  const QString result = ConvertForDisplay(EditorText(*form.memoHtml), form.Choices());
  for (auto _ : state) {
    form.memoDokuWiki->setPlainText(result);
    state.PauseTiming();
    TWindow::Settle();
    state.ResumeTiming();
  }
}

// Not what the window does: the output editor changed only where the new
// result differs from the one it shows (common head and tail kept), to tell
// what replacing the whole text costs against an edit of the same outcome.
void BM_SetOutputChangedPart(benchmark::State& state) {
  TfrmMain& form = Window().Get();
  const QString html = EditorText(*form.memoHtml);
  const qsizetype middle = html.indexOf(u"<p>", html.size() / 2) + 4;
  // As the document holds them: a CR LF, like a lone CR or LF, ends a block.
  auto asDocument = [](QString text) {
    return text.replace(u"\r\n"_s, u"\n"_s).replace(u'\r', u'\n');
  };
  const QString results[2] = {
      asDocument(ConvertForDisplay(html, form.Choices())),
      asDocument(ConvertForDisplay(QString(html).insert(middle, u'x'), form.Choices()))};
  form.memoDokuWiki->setPlainText(results[0]);
  TWindow::Settle();
  int shown = 0;
  for (auto _ : state) {
    const QString& from = results[shown];
    const QString& to = results[1 - shown];
    qsizetype head = 0;
    const qsizetype most = std::min(from.size(), to.size());
    while (head < most && from[head] == to[head])
      ++head;
    qsizetype tail = 0;
    while (tail < most - head && from[from.size() - 1 - tail] == to[to.size() - 1 - tail])
      ++tail;
    QTextCursor cursor(form.memoDokuWiki->document());
    cursor.setPosition(static_cast<int>(head));
    cursor.setPosition(static_cast<int>(from.size() - tail), QTextCursor::KeepAnchor);
    cursor.insertText(to.mid(head, to.size() - tail - head));
    shown = 1 - shown;
    state.PauseTiming();
    TWindow::Settle();
    state.ResumeTiming();
  }
  if (EditorText(*form.memoDokuWiki) != results[shown]) state.SkipWithError("edit went wrong");
}

// Of repeated runs on a machine shared with other work, the least is the one
// least disturbed.
double Least(const std::vector<double>& v) {
  return *std::min_element(v.begin(), v.end());
}

} // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  KeepFreedMemory();
  for (int i = 1; i < argc;) {
    if (std::strcmp(argv[i], "--keep-freed-memory") == 0)
      KeepFreedMemory(); // the default, as the program tamsel does
    else if (std::strcmp(argv[i], "--return-freed-memory") == 0)
      mallopt(M_TRIM_THRESHOLD, 128 << 10);
    else if (std::strncmp(argv[i], "--document-kb=", 14) == 0)
      DocumentBytes = std::size_t{1024} * std::strtoul(argv[i] + 14, nullptr, 10);
    else {
      ++i;
      continue;
    }
    std::memmove(argv + i, argv + i + 1, sizeof(char*) * static_cast<std::size_t>(argc - i));
    --argc;
  }
  if (DocumentBytes == 0) return 1;
  const std::string size = DocumentBytes % (1u << 20) == 0
                               ? std::to_string(DocumentBytes >> 20) + "MB"
                               : std::to_string(DocumentBytes >> 10) + "KB";
  QApplication app(argc, argv);
  // The window remembers its size and boxes; not in the user's settings.
  QTemporaryDir settings;
  QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings.path());
  const auto name = [&](const char* part) { return "Window" + size + "/" + part; };
  for (auto* b :
       {benchmark::RegisterBenchmark(name("Keystroke").c_str(), BM_Keystroke),
        benchmark::RegisterBenchmark(name("KeystrokeToResult").c_str(), BM_KeystrokeToResult),
        benchmark::RegisterBenchmark(name("KeystrokeRepainted").c_str(), BM_KeystrokeRepainted),
        benchmark::RegisterBenchmark(name("Typing8PerSecond").c_str(), BM_Typing8PerSecond),
        benchmark::RegisterBenchmark(name("TypeOnly").c_str(), BM_TypeOnly),
        benchmark::RegisterBenchmark(name("ReadInput").c_str(), BM_ReadInput),
        benchmark::RegisterBenchmark(name("Convert").c_str(), BM_Convert),
        benchmark::RegisterBenchmark(name("SetOutput").c_str(), BM_SetOutput),
        benchmark::RegisterBenchmark(name("SetOutputChangedPart").c_str(),
                                     BM_SetOutputChangedPart)})
    b->Unit(benchmark::kMillisecond)->UseRealTime()->ComputeStatistics("min", Least);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  Window().Form.reset();
  benchmark::Shutdown();
  return 0;
}
