// The interrupt handler over a socket pair standing in for the driver's event channel:
// 4-byte and short events, stop without re-arming, the name limit, the START, STOP and
// ENQ records, and destruction with a read pending.
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <boost/asio/io_context.hpp>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "child_output.h"
#include "kvix_standin.h"
#include "xqv/device.h"

namespace {

using namespace XqvUtils;
using Bytes = std::vector<uint8_t>;

struct Rig {
  std::string dir;
  boost::asio::io_context io;
  int peer = -1;
  IrqHandler::Descriptor descriptor;
  Rig() {
    char tmpl[] = "/dev/shm/xqv-irq-XXXXXX";
    dir = mkdtemp(tmpl);
    mkdir((dir + "/dev").c_str(), 0755);
    std::ofstream(dir + "/dev/kvix").put('\0');
    setenv("TARNVIK_ROOT", dir.c_str(), 1);
    int sv[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv) != 0) abort();
    descriptor = std::make_shared<boost::asio::posix::stream_descriptor>(io, sv[0]);
    peer = sv[1];
  }
  ~Rig() {
    descriptor.reset();
    close(peer);
    unsetenv("TARNVIK_ROOT");
    std::string cmd = "rm -rf '" + dir + "'";
    if (system(cmd.c_str()) != 0) abort();
  }
  void send(const Bytes& b) {
    if (write(peer, b.data(), b.size()) != static_cast<ssize_t>(b.size())) abort();
  }
  // Sends the bytes and runs the event loop until the handler has read them and its
  // completion has run: waits on the socket, not on a time (the deadline only keeps a
  // broken handler from hanging the test).
  void deliver(const Bytes& b) {
    send(b);
    io.restart();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (unread() > 0 && std::chrono::steady_clock::now() < deadline)
      io.run_one_for(std::chrono::milliseconds(50));
    io.poll();
  }
  int unread() {
    int n = 0;
    if (ioctl(descriptor->native_handle(), FIONREAD, &n) != 0) abort();
    return n;
  }
  // Runs the event loop until it has nothing left to do (no read pending) or the time is
  // up; for checks that nothing more happens.
  void drain() {
    io.restart();
    io.run_for(std::chrono::milliseconds(200));
  }
};

TEST(XqvIrq, FourByteAndShortEvents) {
  const std::string out = testsupport_ccvt::child_stdout([] {
    Rig rig;
    kvix::KvixStandin driver;
    IrqHandler h(3, "vsync", 1, 2);
    h.set_descriptor(rig.descriptor);
    h.set_callback([](uint32_t w) { printf("event %08X\n", w); });
    h.PostRead();
    rig.deliver({0x44, 0x33, 0x22, 0x11});
    rig.deliver({0xAA, 0xBB});  // short: reported, still delivered over the last word's bytes
    rig.deliver({1, 0, 0, 0});
  });
  const size_t first = out.find("event 11223344\n");
  const size_t warn = out.find("OnHandleEvent(");
  const size_t second = out.find("event 1122BBAA\n");
  const size_t third = out.find("event 00000001\n");
  ASSERT_NE(first, std::string::npos) << out;
  ASSERT_NE(warn, std::string::npos) << out;
  EXPECT_NE(out.find("): bytes_transferred(2) != 4\n", warn), std::string::npos) << out;
  ASSERT_NE(second, std::string::npos) << out;
  ASSERT_NE(third, std::string::npos) << out;
  EXPECT_LT(first, warn);
  EXPECT_LT(warn, second);
  EXPECT_LT(second, third);
}

TEST(XqvIrq, StopCancelsWithoutRearmingAndSendsStop) {
  Rig rig;
  kvix::KvixStandin driver;
  int events = 0;
  {
    IrqHandler h(1, "irq", 0, 0);
    h.set_descriptor(rig.descriptor);
    h.set_callback([&](uint32_t) { ++events; });
    h.PostRead();
    h.Stop();
    EXPECT_FALSE(h.descriptor());
    rig.drain();  // the cancelled read completes with operation aborted
    rig.send({1, 2, 3, 4});
    rig.drain();
    EXPECT_EQ(events, 0);  // not re-armed
    ASSERT_EQ(driver.requests.size(), 1u);
    EXPECT_EQ(driver.requests[0].code, 0x40026704u);
    EXPECT_EQ(driver.requests[0].bytes, (Bytes{0, 0}));
  }
  // The aborted read logged nothing.
  const std::string out = testsupport_ccvt::child_stdout([] {
    Rig r;
    kvix::KvixStandin d;
    IrqHandler h(1, "irq", 0, 0);
    h.set_descriptor(r.descriptor);
    h.PostRead();
    h.Stop();
    r.drain();
  });
  EXPECT_EQ(out, "");
}

TEST(XqvIrq, StartRecordAndNameLimit) {
  Rig rig;
  kvix::KvixStandin driver;
  const std::string name31(31, 'n');
  IrqHandler ok(9, name31.c_str(), 0x1122334455667788ull, 0xAABBCCDD00000001ull);
  ok._Start(0x42);
  ASSERT_EQ(driver.requests.size(), 1u);
  EXPECT_EQ(driver.requests[0].code, 0x402A6703u);
  Bytes want = {9};
  for (int i = 0; i < 31; ++i) want.push_back('n');
  want.push_back(0);  // the terminating NUL ends the 32 name bytes
  for (uint8_t b : {0x88, 0x77, 0x66, 0x55, 0x01, 0x00, 0x00, 0x00, 0x42}) want.push_back(b);
  EXPECT_EQ(driver.requests[0].bytes, want);

  IrqHandler shortname(2, "ab", 5, 6);
  shortname._Start(1);
  ASSERT_EQ(driver.requests.size(), 2u);
  Bytes want2(42, 0);  // bytes after the NUL are cleared
  want2[0] = 2;
  want2[1] = 'a';
  want2[2] = 'b';
  want2[33] = 5;
  want2[37] = 6;
  want2[41] = 1;
  EXPECT_EQ(driver.requests[1].bytes, want2);

  const std::string out = testsupport_ccvt::child_stdout([] {
    Rig r;
    kvix::KvixStandin d;
    const std::string name32(32, 'x');
    IrqHandler refused(1, name32.c_str(), 0, 0);
    refused._Start(0);
    printf("requests=%zu\n", d.requests.size());
  });
  EXPECT_NE(out.find("_Start("), std::string::npos) << out;
  EXPECT_NE(out.find("): unexpected value, 33 > 32\n"), std::string::npos) << out;
  EXPECT_NE(out.find("requests=0"), std::string::npos) << out;
}

TEST(XqvIrq, EnqueueRecordAndFailures) {
  Rig rig;
  kvix::KvixStandin driver;
  IrqHandler h(1, "irq", 0, 0);
  uint8_t record[16];
  for (int i = 0; i < 16; ++i) record[i] = static_cast<uint8_t>(0xF0 + i);
  h.EnqueueFrameBuffer(0x01020304, record, 0xBEEF);
  ASSERT_EQ(driver.requests.size(), 1u);
  EXPECT_EQ(driver.requests[0].code, 0x40166705u);
  Bytes want = {0xEF, 0xBE, 0x04, 0x03, 0x02, 0x01};
  want.insert(want.end(), record, record + 16);
  EXPECT_EQ(driver.requests[0].bytes, want);

  const std::string out = testsupport_ccvt::child_stdout([] {
    Rig r;
    kvix::KvixStandin d;
    for (unsigned long code : {0x402A6703ul, 0x40026704ul, 0x40166705ul}) d.fail(code, EIO);
    IrqHandler f(1, "irq", 0, 0);
    uint8_t rec[16] = {};
    f._Start(0);
    f.EnqueueFrameBuffer(1, rec, 2);
    f.Stop();
  });
  for (const char* m : {"_Start(", "): KVIX_IOCTL_START_IRQ_HANDLING failed, err=5\n", "EnqueueFrameBuffer(",
                        "): KVIX_IOCTL_ENQ_FRMBUF_ADDR failed, err=5\n", "Stop(",
                        "): KVIX_IOCTL_STOP_IRQ_HANDLING failed, err=5\n"})
    EXPECT_NE(out.find(m), std::string::npos) << m << "\n" << out;
}

TEST(XqvIrq, MissingDescriptorOrCallbackIsLoggedAndSkipped) {
  const std::string out = testsupport_ccvt::child_stdout([] {
    Rig rig;
    kvix::KvixStandin driver;
    IrqHandler h(1, "irq", 0, 0);
    h.PostRead();  // no descriptor yet
    h.set_descriptor(rig.descriptor);
    h.PostRead();  // no callback: events are logged and the loop goes on
    rig.deliver({1, 0, 0, 0});
    h.set_callback([](uint32_t w) { printf("event %u\n", w); });
    rig.deliver({2, 0, 0, 0});
  });
  EXPECT_NE(out.find("): no descriptor\n"), std::string::npos) << out;
  EXPECT_NE(out.find("): no callback\n"), std::string::npos) << out;
  EXPECT_NE(out.find("event 2\n"), std::string::npos) << out;
}

TEST(XqvIrq, DestroyedWithAReadPending) {
  Rig rig;
  kvix::KvixStandin driver;
  int events = 0;
  {
    IrqHandler h(1, "irq", 0, 0);
    h.set_descriptor(rig.descriptor);
    h.set_callback([&](uint32_t) { ++events; });
    h.PostRead();
  }
  rig.send({1, 2, 3, 4});
  rig.drain();  // the pending read completes into state the handler no longer owns
  EXPECT_EQ(events, 0);
}

}  // namespace
