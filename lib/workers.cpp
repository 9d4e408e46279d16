#include "workers.h"

#include <algorithm>
#include <system_error>

#if defined(__linux__)
#include <sched.h>
#endif

namespace rlegolomb {

unsigned ProcessorsAvailable() {
#if defined(__linux__)
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) == 0) {
    const int count = CPU_COUNT(&set);
    if (count > 0) {
      return static_cast<unsigned>(count);
    }
  }
#endif
  return std::max(1u, std::thread::hardware_concurrency());
}

int ThreadsToUse(int asked) {
  if (asked < 0) {
    return -1;
  }
  const int count = asked == 0 ? static_cast<int>(std::min<unsigned>(
                                     ProcessorsAvailable(), static_cast<unsigned>(kMostThreads)))
                               : asked;
  return std::min(count, kMostThreads);
}

std::unique_ptr<Workers> Workers::Start(unsigned count) noexcept {
  std::unique_ptr<Workers> team;
  try {
    team.reset(new Workers);
    team->threads_.reserve(count > 0 ? count - 1 : 0);
    for (unsigned worker = 1; worker < count; ++worker) {
      team->threads_.emplace_back([t = team.get(), worker] { t->Serve(worker); });
    }
  } catch (...) {
    // No memory or no more threads: work with those that started, if any.
    if (team == nullptr || team->threads_.empty()) {
      return nullptr;
    }
  }
  return team;
}

Workers::~Workers() {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  for (std::thread& thread : threads_) {
    thread.join();
  }
}

void Workers::Run(Job job, void* context) noexcept {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    job_ = job;
    context_ = context;
    running_ = static_cast<unsigned>(threads_.size());
    ++round_;
  }
  wake_.notify_all();
  job(context, 0);
  std::unique_lock<std::mutex> lock(mutex_);
  finished_.wait(lock, [this] { return running_ == 0; });
  job_ = nullptr;
  context_ = nullptr;
}

void Workers::Serve(unsigned worker) noexcept {
  std::size_t done = 0;
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    wake_.wait(lock, [&] { return stopping_ || round_ != done; });
    if (stopping_) {
      return;
    }
    done = round_;
    const Job job = job_;
    void* const context = context_;
    lock.unlock();
    job(context, worker);
    lock.lock();
    if (--running_ == 0) {
      finished_.notify_one();
    }
  }
}

}  // namespace rlegolomb
