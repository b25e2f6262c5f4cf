// SPDX-License-Identifier: GPL-2.0-or-later
#include "Tamsel_Worker.h"

#include "Tamsel.h"

#include <QCoreApplication>
#include <QMetaObject>

#include <cstring>
#if defined(__GLIBC__)
#include <malloc.h>
#endif
#include <exception>
#include <memory>
#include <stdexcept>

namespace tamsel {

namespace {

QString Tr(const char* text) {
  return QCoreApplication::translate("tamsel::TfrmMain", text);
}

} // namespace

QString RefusalReason(const std::exception* error) {
  const char* what = error ? error->what() : "";
  if (std::strstr(what, "larger than"))
    return Tr("This HTML is too long to convert: at most %1 million characters.")
        .arg(kMaxInputBytes / 2 / 1000000);
  if (std::strstr(what, "tangled"))
    return Tr("This HTML is too tangled to convert. Look for tables or lists left open.");
  if (std::strstr(what, "nesting") || std::strstr(what, "deep"))
    return Tr("This HTML is nested too deeply to convert.");
  if (dynamic_cast<const std::length_error*>(error) || dynamic_cast<const std::bad_alloc*>(error))
    return Tr("This HTML would give a result too large to show.");
  return Tr("This HTML could not be converted.");
}

void KeepFreedMemory() {
#if defined(__GLIBC__)
  mallopt(M_TRIM_THRESHOLD, 512 << 20);
#endif
}

TConversionWorker::TConversionWorker(TConvertStep step, QObject* parent)
    : QObject(parent), Step(std::move(step)), Thread([this] { Run(); }) {}

TConversionWorker::~TConversionWorker() {
  {
    const std::lock_guard lock(Mutex);
    Stopping = true;
  }
  Wake.notify_one();
  Thread.join();
}

void TConversionWorker::Start(TConversionRequest request) {
  {
    const std::lock_guard lock(Mutex);
    Waiting = std::move(request);
  }
  Wake.notify_one();
}

void TConversionWorker::Run() {
  std::unique_ptr<TTamsel> converter;
  for (;;) {
    TConversionRequest request;
    {
      std::unique_lock lock(Mutex);
      Wake.wait(lock, [this] { return Stopping || Waiting; });
      if (Stopping) return;
      request = std::move(*Waiting);
      Waiting.reset();
    }
    QString text;
    std::optional<QString> refusal;
    try {
      if (!converter) converter = std::make_unique<TTamsel>();
      text = Step(*converter, request);
    } catch (const std::exception& e) {
      refusal = RefusalReason(&e);
    } catch (...) {
      refusal = RefusalReason(nullptr);
    }
    // Queued to the window's thread; dropped there with this object when the
    // window has gone.
    if (refusal)
      QMetaObject::invokeMethod(
          this, [this, reason = *refusal] { emit Refused(reason); }, Qt::QueuedConnection);
    else
      QMetaObject::invokeMethod(
          this, [this, text = std::move(text)] { emit Finished(text); }, Qt::QueuedConnection);
  }
}

} // namespace tamsel
