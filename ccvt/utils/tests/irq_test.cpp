// The interrupt handler over a socket pair standing in for the driver's event channel:
// 4-byte and short events, stop without re-arming, the name limit, the START, STOP and
// ENQ records, destruction with a read pending, and stop or delete from inside the
// callback.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "child_output.h"
#include "irq_rig.h"
#include "kvix_standin.h"
#include "xqv/device.h"

namespace {

using namespace XqvUtils;
using testsupport_ccvt::Bytes;
using testsupport_ccvt::Rig;

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

TEST(XqvIrq, StopAfterAnEventWasReadDeliversNothing) {
  // The event is read at once when the read is armed; its completion waits in the event
  // loop when Stop runs, and must not reach the callback after Stop has returned.
  Rig rig;
  kvix::KvixStandin driver;
  int events = 0;
  IrqHandler h(1, "irq", 0, 0);
  h.set_descriptor(rig.descriptor);
  h.set_callback([&](uint32_t) { ++events; });
  rig.send({1, 2, 3, 4});
  h.PostRead();
  EXPECT_EQ(rig.unread(), 0);  // taken off the channel already
  h.Stop();
  rig.drain();
  EXPECT_EQ(events, 0);
}

TEST(XqvIrq, StopOrDeleteInsideTheCallback) {
  struct Case {
    const char* name;
    bool destroy;  // delete the handler instead of stopping it
  };
  for (const Case& c : {Case{"stop", false}, Case{"delete", true}}) {
    const std::string out = testsupport_ccvt::child_stdout([&c] {
      alarm(10);  // a handler that deadlocks ends the child instead of the test
      Rig rig;
      kvix::KvixStandin driver;
      int events = 0;
      IrqHandler* h = new IrqHandler(1, "irq", 0, 0);
      h->set_descriptor(rig.descriptor);
      h->set_callback([&](uint32_t) {
        ++events;
        if (c.destroy) {
          delete h;
          h = nullptr;
        } else {
          h->Stop();
        }
      });
      h->PostRead();
      rig.deliver({1, 0, 0, 0});
      rig.send({2, 0, 0, 0});
      rig.drain();
      printf("events=%d unread=%d requests=%zu\n", events, rig.unread(), driver.requests.size());
      delete h;
    });
    // One event delivered, the next one left unread, STOP sent by Stop alone, no error logged.
    EXPECT_EQ(out, std::string("events=1 unread=4 requests=") + (c.destroy ? "0" : "1") + "\n") << c.name;
  }
}

}  // namespace
