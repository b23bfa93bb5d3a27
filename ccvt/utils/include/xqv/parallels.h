// Worker pool of the capture utility layer: one loop body over a range of indices on
// several threads, and the cutting of a picture into tiles for such work.
#pragma once

#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "xqv/export.h"

namespace boost::asio {
class thread_pool;
}

namespace XqvUtils {

struct tile_rect {
  int left, top, right, bottom;  // right and bottom exclusive
};

// Appends the tiles, rows from the top, tiles from the left; edge tiles are cut short.
XQV_API void split_tiles(int width, int height, int tile_width, int tile_height,
                         std::vector<tile_rect>* out);

class XQV_API ThreadedParallels {
 public:
  using Body = std::function<void(int from, int to)>;

  // workers < 1: the number of online processors; none started when that is below 1.
  explicit ThreadedParallels(int workers);
  ~ThreadedParallels();
  ThreadedParallels(const ThreadedParallels&) = delete;
  ThreadedParallels& operator=(const ThreadedParallels&) = delete;

  // The calling thread's pool, made on first use and destroyed when the thread ends.
  static ThreadedParallels& instance();

  // Runs body over [0, count) and returns when all of it is done; rethrows the first
  // exception a piece threw.
  void run(const Body& body, int count);

  int workers() const { return workers_; }

  struct Task {
    Body body;
    int from, to;
  };
  // Executes one piece and counts it as done (used by the workers).
  void run_task(const Task& task);

 private:
  void worker_loop();

  std::unique_ptr<boost::asio::thread_pool> pool_;
  std::mutex mutex_;                  // guards everything below
  std::condition_variable done_cv_;   // a piece finished
  std::condition_variable work_cv_;   // a piece was queued, or stop
  std::deque<Task> queue_;
  int workers_ = 0;
  int done_ = 0;
  bool stop_ = false;
  std::exception_ptr error_;
};

}  // namespace XqvUtils
