#include "xqv/parallels.h"

#include <unistd.h>

#include <algorithm>
#include <boost/asio/post.hpp>
#include <boost/asio/thread_pool.hpp>

namespace XqvUtils {

namespace {
int online_processors() { return static_cast<int>(sysconf(_SC_NPROCESSORS_ONLN)); }
}  // namespace

void split_tiles(int width, int height, int tile_width, int tile_height, std::vector<tile_rect>* out) {
  // A tile size below 1 would never advance.
  if (width < 1 || height < 1 || tile_width < 1 || tile_height < 1) return;
  for (int top = 0; top < height;) {
    const int h = std::min(height - top, tile_height);
    for (int left = 0; left < width;) {
      const int w = std::min(width - left, tile_width);
      out->push_back({left, top, left + w, top + h});
      left += w;
    }
    top += h;
  }
}

ThreadedParallels::ThreadedParallels(int workers) {
  const int cpus = online_processors();
  pool_ = std::make_unique<boost::asio::thread_pool>(cpus > 0 ? 2 * cpus : 2);
  workers_ = workers >= 1 ? workers : std::max(cpus, 0);
  for (int i = 0; i < workers_; ++i) boost::asio::post(*pool_, [this] { worker_loop(); });
}

ThreadedParallels::~ThreadedParallels() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  work_cv_.notify_all();
  pool_->join();
}

ThreadedParallels& ThreadedParallels::instance() {
  thread_local ThreadedParallels pool(0);
  return pool;
}

void ThreadedParallels::worker_loop() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    work_cv_.wait(lock, [this] { return stop_ || !queue_.empty(); });
    if (queue_.empty()) return;  // stopping
    Task task = std::move(queue_.front());
    queue_.pop_front();
    lock.unlock();
    run_task(task);
    lock.lock();
  }
}

void ThreadedParallels::run_task(const Task& task) {
  std::exception_ptr error;
  try {
    task.body(task.from, task.to);
  } catch (...) {
    error = std::current_exception();
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    // A piece that threw still counts as done, so run never waits for it forever.
    if (error && !error_) error_ = error;
    done_ += task.to - task.from;
  }
  done_cv_.notify_all();
}

void ThreadedParallels::run(const Body& body, int count) {
  if (count <= 0) return;
  if (workers_ < 1) {  // no worker threads: the caller does the work
    body(0, count);
    return;
  }
  std::unique_lock<std::mutex> lock(mutex_);
  done_ = 0;
  error_ = nullptr;
  // At least one index per piece: with fewer indices than workers the cut would not end.
  const int chunk = std::max(1, count / workers_);
  int remaining = count;
  while (chunk < remaining) {
    queue_.push_back({body, remaining - chunk, remaining});
    remaining -= chunk;
  }
  queue_.push_back({body, 0, remaining});
  work_cv_.notify_all();
  done_cv_.wait(lock, [this, count] { return done_ == count; });
  if (error_) {
    std::exception_ptr error = error_;
    error_ = nullptr;
    std::rethrow_exception(error);
  }
}

}  // namespace XqvUtils
