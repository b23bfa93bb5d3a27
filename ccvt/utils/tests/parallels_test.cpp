// Worker pool and tile split.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <set>
#include <stdexcept>
#include <thread>
#include <utility>
#include <vector>

#include "xqv/parallels.h"

namespace {

using namespace XqvUtils;
using Range = std::pair<int, int>;

std::vector<Range> pieces_of(ThreadedParallels& pool, int count, std::vector<int>* visits) {
  std::mutex m;
  std::vector<Range> pieces;
  visits->assign(static_cast<size_t>(std::max(count, 0)), 0);
  pool.run(
      [&](int from, int to) {
        std::lock_guard<std::mutex> lock(m);
        pieces.push_back({from, to});
        for (int i = from; i < to; ++i) ++(*visits)[static_cast<size_t>(i)];
      },
      count);
  std::sort(pieces.begin(), pieces.end());
  return pieces;
}

TEST(XqvParallels, EveryIndexOnceBelowAtAndAboveTheWorkerCount) {
  ThreadedParallels pool(4);
  for (int count : {1, 2, 3, 4, 5, 10, 97, 1000}) {
    std::vector<int> visits;
    pieces_of(pool, count, &visits);
    for (int i = 0; i < count; ++i) ASSERT_EQ(visits[static_cast<size_t>(i)], 1) << count << " index " << i;
  }
}

TEST(XqvParallels, CuttingFromTheTop) {
  ThreadedParallels pool(4);
  std::vector<int> visits;
  EXPECT_EQ(pieces_of(pool, 10, &visits), (std::vector<Range>{{0, 2}, {2, 4}, {4, 6}, {6, 8}, {8, 10}}));
  EXPECT_EQ(pieces_of(pool, 4, &visits), (std::vector<Range>{{0, 1}, {1, 2}, {2, 3}, {3, 4}}));
  // Chunk 2: the lowest piece takes what is left after the cut.
  EXPECT_EQ(pieces_of(pool, 11, &visits), (std::vector<Range>{{0, 1}, {1, 3}, {3, 5}, {5, 7}, {7, 9}, {9, 11}}));
  EXPECT_EQ(pieces_of(pool, 13, &visits), (std::vector<Range>{{0, 1}, {1, 4}, {4, 7}, {7, 10}, {10, 13}}));
  // Fewer indices than workers: one index a piece.
  EXPECT_EQ(pieces_of(pool, 3, &visits), (std::vector<Range>{{0, 1}, {1, 2}, {2, 3}}));
}

TEST(XqvParallels, CountZeroPostsNothing) {
  ThreadedParallels pool(3);
  std::atomic<int> calls{0};
  pool.run([&](int, int) { ++calls; }, 0);
  pool.run([&](int, int) { ++calls; }, -4);
  EXPECT_EQ(calls.load(), 0);
}

TEST(XqvParallels, ExceptionPropagatesAndEveryOtherPieceRuns) {
  ThreadedParallels pool(4);
  std::atomic<int> visited{0};
  EXPECT_THROW(pool.run(
                   [&](int from, int to) {
                     if (from <= 5 && 5 < to) throw std::runtime_error("piece 5");
                     visited += to - from;
                   },
                   12),
               std::runtime_error);
  EXPECT_EQ(visited.load(), 12 - 3);  // pieces of 3: [3,6) threw
  // The pool still works afterwards.
  std::vector<int> visits;
  pieces_of(pool, 8, &visits);
  EXPECT_EQ(std::count(visits.begin(), visits.end(), 1), 8);
}

TEST(XqvParallels, BodiesRunOnWorkerThreads) {
  ThreadedParallels pool(4);
  std::mutex m;
  std::set<std::thread::id> ids;
  pool.run(
      [&](int, int) {
        std::lock_guard<std::mutex> lock(m);
        ids.insert(std::this_thread::get_id());
      },
      4);
  EXPECT_EQ(ids.count(std::this_thread::get_id()), 0u);
}

TEST(XqvParallels, OneInstancePerThread) {
  ThreadedParallels* mine = &ThreadedParallels::instance();
  EXPECT_EQ(mine, &ThreadedParallels::instance());
  EXPECT_GE(mine->workers(), 1);
  ThreadedParallels* other = nullptr;
  std::thread t([&] {
    other = &ThreadedParallels::instance();
    std::vector<int> visits;
    pieces_of(*other, 20, &visits);
    EXPECT_EQ(std::count(visits.begin(), visits.end(), 1), 20);
  });
  t.join();
  EXPECT_NE(other, mine);
}

TEST(XqvTiles, SplitTable) {
  std::vector<tile_rect> tiles;
  split_tiles(1920, 1080, 512, 512, &tiles);
  ASSERT_EQ(tiles.size(), 12u);
  const int heights[3] = {512, 512, 56}, widths[4] = {512, 512, 512, 384};
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 4; ++c) {
      const tile_rect& t = tiles[static_cast<size_t>(r * 4 + c)];
      EXPECT_EQ(t.left, c * 512);
      EXPECT_EQ(t.top, r * 512);
      EXPECT_EQ(t.right - t.left, widths[c]);
      EXPECT_EQ(t.bottom - t.top, heights[r]);
    }
  struct Case {
    int w, h, tw, th;
    size_t n;
  };
  const Case cases[] = {{0, 10, 4, 4, 0}, {10, 0, 4, 4, 0}, {10, 10, 0, 4, 0}, {10, 10, 4, -1, 0},
                        {1, 1, 4, 4, 1},  {8, 8, 4, 4, 4},  {9, 8, 4, 4, 6}};
  for (const Case& c : cases) {
    std::vector<tile_rect> out = {{-1, -1, -1, -1}};
    split_tiles(c.w, c.h, c.tw, c.th, &out);
    EXPECT_EQ(out.size(), c.n + 1) << c.w << "x" << c.h;  // appended after what was there
  }
}

}  // namespace
