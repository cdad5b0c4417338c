// The cache AviSynth+ puts in front of a clip and its Prefetch, both on real threads, so that a
// clip meets the concurrency and request orders of a multithreaded script.
#include <climits>

#include "avs_host.h"

namespace avshost {

// ---- Cache ----
Cache::Cache(Clip clip, int capacity)
    : clip_(std::move(clip)), capacity_(capacity < 0 ? 0 : capacity), mode_(clip_.ThreadMode()) {}

Frame Cache::GetFrame(int n) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (mode_ == MT_MULTI_INSTANCE) {
    if (!haveCaller_) {
      caller_ = std::this_thread::get_id();
      haveCaller_ = true;
    } else if (caller_ != std::this_thread::get_id()) {
      throw HostError("avshost: a clip of thread mode " + std::to_string(mode_) +
                      " needs an instance per thread, which this host does not make");
    }
  }
  for (auto it = frames_.begin(); it != frames_.end(); ++it) {
    if (it->first == n) {
      frames_.splice(frames_.begin(), frames_, it);
      return frames_.front().second;
    }
  }
  ++requests_;
  Frame frame;
  if (mode_ == MT_NICE_FILTER) {
    lock.unlock();
    frame = clip_.GetFrame(n);
    lock.lock();
    for (const auto& kept : frames_)
      if (kept.first == n) return kept.second;  // another thread made it meanwhile
  } else {
    frame = clip_.GetFrame(n);  // under the lock: one caller at a time
  }
  if (capacity_ > 0) {
    frames_.emplace_front(n, frame);
    if (static_cast<int>(frames_.size()) > capacity_) frames_.pop_back();
  }
  return frame;
}

int Cache::ClipRequests() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

// ---- Prefetch ----
Prefetch::Prefetch(Source source, int threads, int frames)
    : source_(std::move(source)), ahead_(frames > 0 ? frames : 2 * (threads > 0 ? threads : 1)) {
  for (int i = 0; i < threads; ++i) workers_.emplace_back([this] { Work(); });
}

Prefetch::~Prefetch() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  for (std::thread& worker : workers_) worker.join();
}

void Prefetch::Run(int n, Job& job, std::unique_lock<std::mutex>& lock) {
  lock.unlock();
  Frame frame;
  std::exception_ptr error;
  try {
    frame = source_(n);
  } catch (...) {
    error = std::current_exception();
  }
  lock.lock();
  job.frame = std::move(frame);
  job.error = error;
  job.done = true;
  changed_.notify_all();
}

void Prefetch::Work() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    auto waiting = jobs_.end();
    changed_.wait(lock, [&] {
      waiting = jobs_.begin();
      while (waiting != jobs_.end() && waiting->second.taken) ++waiting;
      return stopping_ || waiting != jobs_.end();
    });
    if (stopping_) return;
    waiting->second.taken = true;
    Run(waiting->first, waiting->second, lock);
  }
}

Frame Prefetch::GetFrame(int n) {
  std::unique_lock<std::mutex> lock(mutex_);
  // Requests the script has passed are dropped, except those a worker is still making.
  for (auto it = jobs_.begin(); it != jobs_.end() && it->first < n;)
    it = it->second.taken && !it->second.done ? std::next(it) : jobs_.erase(it);
  Job& job = jobs_[n];
  const bool mine = !job.taken;
  job.taken = true;
  for (long long next = n + 1LL; next <= static_cast<long long>(n) + ahead_ && next <= INT_MAX; ++next)
    jobs_.try_emplace(static_cast<int>(next));
  changed_.notify_all();
  if (mine) Run(n, job, lock);
  changed_.wait(lock, [&] { return job.done; });
  Frame frame = std::move(job.frame);
  const std::exception_ptr error = job.error;
  jobs_.erase(n);
  lock.unlock();
  if (error) std::rethrow_exception(error);
  return frame;
}

}  // namespace avshost
