// SPDX-License-Identifier: GPL-2.0-or-later
// The window's conversions, run on a thread of their own so that the input
// editor answers while a large document converts.
#pragma once

#include <QObject>
#include <QString>
#include <QUrl>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

namespace tamsel {

class TTamsel;

// How text crosses between the editors (UTF-16) and the converter (bytes), and
// what the converter writes.
struct TConvertChoices {
  bool HtmlUtf8 = false;     // the input shows UTF-8 bytes as 8-bit characters
  bool DokuWikiUtf8 = false; // show the result's UTF-8 bytes as 8-bit characters
  bool NoLinks = false;      // write no wiki links at all
  bool Emphasis = false;     // em, cite, ins, kbd, q as tamsel-cli writes them
};

struct TConversionRequest {
  QString Html;
  TConvertChoices Choices;
  QUrl BaseUrl; // the page a paste came from; relative links lead there
};

// One conversion with the window's converter, as the worker runs it: the
// converter's options set from the request, the input handed over as the
// "&UTF-8" box says, the result decoded for the output editor. Throws what the
// converter throws.
using TConvertStep = std::function<QString(TTamsel& converter, const TConversionRequest& request)>;

// A thread that owns one converter (made once, with its compiled patterns) and
// runs one conversion at a time. Results come back on the thread that made the
// worker, as signals.
class TConversionWorker : public QObject {
  Q_OBJECT
public:
  explicit TConversionWorker(TConvertStep step, QObject* parent = nullptr);
  // Waits for a conversion still running; its result is not delivered.
  ~TConversionWorker() override;

  // Starts a conversion. Only one runs at a time: call again after Finished
  // or Refused.
  void Start(TConversionRequest request);

signals:
  void Finished(const QString& text);
  // reason: in words a user understands.
  void Refused(const QString& reason);

private:
  void Run();

  TConvertStep Step;
  std::mutex Mutex;
  std::condition_variable Wake;
  std::optional<TConversionRequest> Waiting;
  bool Stopping = false;
  std::thread Thread;
};

// Has the C library keep memory that conversions free for the next one
// rather than hand it back to the system, which the worker's thread otherwise
// pays for in page faults on every conversion (twice the time of a 1 MB
// keystroke's result). For the process that shows the window.
void KeepFreedMemory();

// The message shown for an input the converter refuses, from what it threw.
QString RefusalReason(const std::exception* error);

} // namespace tamsel
