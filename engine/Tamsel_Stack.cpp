#include "Tamsel_Stack.h"

#include <exception>
#include <pthread.h>

namespace tamsel {

namespace {
struct TStackJob {
  const std::function<void()>* Work;
  std::exception_ptr Error;
};

void* RunJob(void* arg) {
  auto* job = static_cast<TStackJob*>(arg);
  try {
    (*job->Work)();
  } catch (...) {
    job->Error = std::current_exception();
  }
  return nullptr;
}
} // namespace

void RunWithLargeStack(const std::function<void()>& work, std::size_t stackBytes) {
  TStackJob job{&work, nullptr};
  pthread_attr_t attr;
  if (pthread_attr_init(&attr) != 0) {
    work();
    return;
  }
  pthread_t thread;
  bool started = pthread_attr_setstacksize(&attr, stackBytes) == 0 &&
                 pthread_create(&thread, &attr, RunJob, &job) == 0;
  pthread_attr_destroy(&attr);
  if (!started) {
    work();
    return;
  }
  pthread_join(thread, nullptr);
  if (job.Error) std::rethrow_exception(job.Error);
}

} // namespace tamsel
