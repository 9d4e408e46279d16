// A decoder's or an encoder's own threads: a fixed team that runs one job at a time, the calling
// thread taking part as worker 0, so that a call with n threads starts n - 1 of them once (at the
// object's first parallel call) and wakes them at every call after that.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace rlegolomb {

// The processors this process may run on (its affinity mask), at least 1.
unsigned ProcessorsAvailable();

// The thread count a caller asked for as the count an object will use: 0 is one per processor,
// and no count passes kMostThreads. -1 for a negative count.
inline constexpr int kMostThreads = 256;
int ThreadsToUse(int asked);

class Workers {
 public:
  // A job: called once on each worker, with the worker's number (0 is the calling thread).
  using Job = void (*)(void* context, unsigned worker);

  // A team of up to `count` workers (the calling thread and count - 1 threads); null when even
  // the first thread cannot be started (the caller then works alone). Fewer threads than asked
  // start when the system refuses more: count() says how many there are.
  static std::unique_ptr<Workers> Start(unsigned count) noexcept;
  ~Workers();
  Workers(const Workers&) = delete;
  Workers& operator=(const Workers&) = delete;

  unsigned count() const { return static_cast<unsigned>(threads_.size()) + 1; }

  // Runs job(context, w) for every worker w at once and returns when all have returned.
  void Run(Job job, void* context) noexcept;

 private:
  Workers() = default;
  void Serve(unsigned worker) noexcept;

  std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable finished_;
  std::vector<std::thread> threads_;
  Job job_ = nullptr;
  void* context_ = nullptr;
  std::size_t round_ = 0;  // counts the jobs handed out, so a worker runs each once
  unsigned running_ = 0;   // threads still inside the current job
  bool stopping_ = false;
};

}  // namespace rlegolomb
