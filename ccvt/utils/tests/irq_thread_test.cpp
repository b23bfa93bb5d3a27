// The interrupt handler with its I/O context on an event thread of its own, as an owner
// runs it: Stop and delete from the owner's thread while events flow or a callback runs,
// and delete from inside the callback. Meant for ThreadSanitizer as well: what a
// callback writes is read by the stopping thread without a lock of the test's own, so
// only the handler's ordering makes it race-free.
#include <gtest/gtest.h>
#include <sys/socket.h>

#include <atomic>
#include <boost/asio/executor_work_guard.hpp>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "irq_rig.h"
#include "kvix_standin.h"
#include "xqv/device.h"

namespace {

using namespace XqvUtils;
using testsupport_ccvt::Rig;
using Clock = std::chrono::steady_clock;

// Runs the rig's I/O context on a thread until destroyed.
struct EventThread {
  Rig& rig;
  boost::asio::executor_work_guard<boost::asio::io_context::executor_type> work;
  std::thread thread;
  explicit EventThread(Rig& r) : rig(r), work(boost::asio::make_work_guard(r.io)), thread([this] { rig.io.run(); }) {}
  ~EventThread() {
    work.reset();
    rig.io.stop();
    thread.join();
  }
};

// Waits for a condition that the event thread makes true; a broken handler that never
// does ends the program instead of hanging it (its event thread cannot be joined).
template <typename Pred>
void await(Pred done, const char* what) {
  const auto deadline = Clock::now() + std::chrono::seconds(20);
  while (!done()) {
    if (Clock::now() > deadline) {
      fprintf(stderr, "gave up waiting for: %s\n", what);
      abort();
    }
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
}

// One event without blocking: the channel may be full once nothing reads it.
void send_event(int peer) {
  const uint8_t word[4] = {1, 0, 0, 0};
  (void)!::send(peer, word, sizeof word, MSG_DONTWAIT);
}

TEST(XqvIrqThreads, StopFromTheOwnersThreadWhileEventsFlow) {
  for (int round = 0; round < 20; ++round) {
    Rig rig;
    kvix::KvixStandin driver;
    std::atomic<int> events{0};
    std::atomic<bool> returned{false};
    std::atomic<int> late{0};
    int written = 0;  // the callback's own data, read below without a lock
    IrqHandler h(1, "irq", 0, 0);
    h.set_descriptor(rig.descriptor);
    h.set_callback([&](uint32_t) {
      ++written;
      if (returned.load()) ++late;
      ++events;
    });
    h.PostRead();
    EventThread thread(rig);
    std::atomic<bool> writing{true};
    std::thread writer([&] {
      while (writing.load()) {
        // A few events queued at a time, so the channel never fills.
        if (rig.unread() < 64) send_event(rig.peer);
        std::this_thread::yield();
      }
    });
    await([&] { return events.load() >= 3 + round % 5; }, "events before Stop");
    h.Stop();
    returned = true;
    const int seen = written;  // every callback has finished
    writing = false;
    writer.join();
    // Nothing reads the channel any more.
    const int unread = rig.unread();
    send_event(rig.peer);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(rig.unread(), unread + 4) << "round " << round;
    EXPECT_EQ(late.load(), 0) << "round " << round;
    EXPECT_EQ(written, seen) << "round " << round;
    EXPECT_FALSE(h.descriptor());
  }
}

TEST(XqvIrqThreads, StopAndDeleteWaitForARunningCallback) {
  struct Case {
    const char* name;
    bool destroy;
  };
  for (const Case& c : {Case{"stop", false}, Case{"delete", true}}) {
    Rig rig;
    kvix::KvixStandin driver;
    std::atomic<bool> inside{false};
    bool finished = false;  // written at the callback's end, read after Stop or delete
    auto* h = new IrqHandler(1, "irq", 0, 0);
    h->set_descriptor(rig.descriptor);
    h->set_callback([&](uint32_t) {
      inside = true;
      std::this_thread::sleep_for(std::chrono::milliseconds(30));
      finished = true;
    });
    h->PostRead();
    EventThread thread(rig);
    send_event(rig.peer);
    await([&] { return inside.load(); }, "the callback");
    if (c.destroy) {
      delete h;
      h = nullptr;
    } else {
      h->Stop();
    }
    EXPECT_TRUE(finished) << c.name;
    delete h;
  }
}

TEST(XqvIrqThreads, DeletedInsideItsCallbackOnTheEventThread) {
  Rig rig;
  kvix::KvixStandin driver;
  std::atomic<int> events{0};
  std::atomic<bool> deleted{false};
  IrqHandler* h = new IrqHandler(1, "irq", 0, 0);
  h->set_descriptor(rig.descriptor);
  h->set_callback([&](uint32_t) {
    ++events;
    delete h;
    deleted = true;
  });
  h->PostRead();
  EventThread thread(rig);
  send_event(rig.peer);
  await([&] { return deleted.load(); }, "the callback's delete to return");
  send_event(rig.peer);
  std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_EQ(events.load(), 1);
  EXPECT_EQ(rig.unread(), 4);
}

}  // namespace
