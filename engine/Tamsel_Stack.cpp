// SPDX-License-Identifier: GPL-2.0-or-later
#include "Tamsel_Stack.h"

#include <algorithm>
#include <exception>
#include <limits>
#include <pthread.h>
#include <sys/mman.h>
#include <unistd.h>

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

std::size_t StackLeft() {
  // A thread's stack never moves; asking for the main thread's reads
  // /proc/self/maps, so the answer is kept.
  thread_local char* low = nullptr;
  thread_local bool known = false;
  if (!known) {
    known = true;
    pthread_attr_t attr;
    if (pthread_getattr_np(pthread_self(), &attr) == 0) {
      void* addr = nullptr;
      std::size_t size = 0, guard = 0;
      if (pthread_attr_getstack(&attr, &addr, &size) == 0) {
        pthread_attr_getguardsize(&attr, &guard);
        // The kernel keeps a growing main stack a gap (1 MiB by default)
        // away from the mapping below it, which the size reported here
        // does not leave out.
        low = static_cast<char*>(addr) + std::max<std::size_t>(guard, std::size_t{1} << 20);
      }
      pthread_attr_destroy(&attr);
    }
  }
  char* here = static_cast<char*>(__builtin_frame_address(0));
  if (!low) return std::numeric_limits<std::size_t>::max();
  return here > low ? static_cast<std::size_t>(here - low) : 0;
}

bool RunOnReservedStack(const std::function<void()>& work, std::size_t stackBytes) {
  const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
  const std::size_t size = (stackBytes + page - 1) / page * page + page;
  // MAP_NORESERVE: only the pages that the work touches take memory, so the
  // reservation may be far larger than the machine has.
  void* base = mmap(nullptr, size, PROT_READ | PROT_WRITE,
                    MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE | MAP_STACK, -1, 0);
  if (base == MAP_FAILED) return false;
  // The lowest page stays inaccessible, so that an overflow faults at once;
  // without that guard the work must not run on this stack at all.
  if (mprotect(base, page, PROT_NONE) != 0) {
    munmap(base, size);
    return false;
  }
  TStackJob job{&work, nullptr};
  pthread_attr_t attr;
  bool started = false;
  pthread_t thread;
  if (pthread_attr_init(&attr) == 0) {
    started = pthread_attr_setstack(&attr, base, size) == 0 &&
              pthread_create(&thread, &attr, RunJob, &job) == 0;
    pthread_attr_destroy(&attr);
  }
  if (started) pthread_join(thread, nullptr);
  munmap(base, size);
  if (!started) return false;
  if (job.Error) std::rethrow_exception(job.Error);
  return true;
}

} // namespace tamsel
