// Device access against the driver stand-in and files in a temporary root: each request's
// code and record bytes, the failure paths with their messages and empty states, DMA
// buffer views, descriptor counts, the pid lock, timerfd arming and UIO enabling.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>
#include <string>
#include <type_traits>
#include <vector>

#include "child_output.h"
#include "kvix_standin.h"
#include "xqv/device.h"
#include "xqv/log.h"

namespace {

using namespace XqvUtils;
using Bytes = std::vector<uint8_t>;
using testsupport_ccvt::child_stdout;

// TARNVIK_ROOT on tmpfs with dev/ and var/run/; "/dev/kvix" is a plain file there.
struct TempRoot {
  std::string dir;
  TempRoot() {
    char tmpl[] = "/dev/shm/xqv-device-XXXXXX";
    dir = mkdtemp(tmpl);
    mkdir((dir + "/dev").c_str(), 0755);
    mkdir((dir + "/var").c_str(), 0755);
    mkdir((dir + "/var/run").c_str(), 0755);
    std::ofstream(dir + "/dev/kvix").put('\0');
    setenv("TARNVIK_ROOT", dir.c_str(), 1);
  }
  ~TempRoot() {
    unsetenv("TARNVIK_ROOT");
    std::string cmd = "rm -rf '" + dir + "'";
    if (system(cmd.c_str()) != 0) ADD_FAILURE() << cmd;
  }
  std::string path(const std::string& p) const { return dir + p; }
};

int open_fds() {
  int n = 0;
  DIR* d = opendir("/proc/self/fd");
  while (readdir(d)) ++n;
  closedir(d);
  return n;
}

Bytes le32(uint32_t v) { return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)}; }
Bytes cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

// Strips the time stamps; each line "<tag>message".
std::vector<std::string> messages(const std::string& out) {
  std::vector<std::string> lines;
  for (const std::string& l : testsupport_ccvt::log_lines(out)) {
    long long ms;
    std::string rest;
    lines.push_back(testsupport_ccvt::split_stamp(l, &ms, &rest) ? rest : "<bad stamp>" + l);
  }
  return lines;
}

// A message "<function>(<line>): <text>" of the layer is in the output.
bool has_message(const std::string& out, const std::string& function, const std::string& text) {
  for (const std::string& m : messages(out)) {
    const size_t f = m.find("]: " + function + "(");
    if (f == std::string::npos) continue;
    const size_t c = m.find("): ", f);
    if (c != std::string::npos && m.substr(c + 3) == text) return true;
  }
  return false;
}

TEST(XqvDevice, DmaBufferOfOneBytePageAllocatedMappedAndRecorded) {
  TempRoot root;
  kvix::KvixStandin driver;
  const int before = open_fds();
  {
    DMABuffer b(1, true, 7);
    ASSERT_EQ(driver.requests.size(), 3u);
    EXPECT_EQ(driver.requests[0].code, 0xC00D6701u);
    EXPECT_EQ(driver.requests[0].bytes, cat({le32(0), le32(4096), {7}, le32(0)}));
    const uint32_t fd = static_cast<uint32_t>(driver.buffers.at(0));
    EXPECT_EQ(driver.requests[1].code, 0xC00C6700u);
    EXPECT_EQ(driver.requests[1].bytes, cat({le32(fd), le32(0), le32(0)}));
    EXPECT_EQ(driver.requests[2].code, 0xC0046702u);
    EXPECT_EQ(driver.requests[2].bytes, le32(fd));
    EXPECT_EQ(b.fd(), static_cast<int>(fd));
    EXPECT_EQ(b.length(), 4096u);
    EXPECT_EQ(b.size(), 1u);
    EXPECT_EQ(b.device_value(), 0x80000000u);
    EXPECT_FALSE(b.borrowed());
    ASSERT_NE(b.address(), MAP_FAILED);
    // The mapping is the handed-out buffer: a byte written shows in the buffer's file.
    static_cast<uint8_t*>(b.address())[4095] = 0x5A;
    uint8_t back = 0;
    ASSERT_EQ(pread(b.fd(), &back, 1, 4095), 1);
    EXPECT_EQ(back, 0x5A);
  }
  EXPECT_EQ(open_fds(), before);  // device and buffer descriptors closed once
}

TEST(XqvDevice, DmaBufferWithoutMapSkipsTheMapRequest) {
  TempRoot root;
  kvix::KvixStandin driver;
  DMABuffer b(5000, false, 0);
  ASSERT_EQ(driver.requests.size(), 2u);
  EXPECT_EQ(driver.requests[0].bytes, cat({le32(0), le32(8192), {0}, le32(0)}));
  EXPECT_EQ(b.address(), MAP_FAILED);
  EXPECT_GE(b.fd(), 0);
}

TEST(XqvDevice, DmaBufferFailurePaths) {
  struct Case {
    const char* name;
    unsigned long fail;  // request that fails, 0: none
    bool no_device;
    int size;
    const char* message;
    bool has_fd;
  };
  const Case cases[] = {
      {"alloc", 0xC00D6701, false, 4096, "KVIX_IOCTL_ALLOC_DMABUF failed, err=12", false},
      {"info", 0xC00C6700, false, 4096, "KVIX_IOCTL_GET_DMABUF_INFO failed, err=12", true},
      {"map", 0xC0046702, false, 4096, "KVIX_IOCTL_MAP_DMABUF failed, err=12", true},
      {"zero", 0, false, 0, "dmabuf_size=0!!!", true},
      {"negative", 0, false, -3, "dmabuf_size=0!!!", true},
      {"no device", 0, true, 4096, "open failed, err=2", false},
  };
  for (const Case& c : cases) {
    TempRoot root;
    if (c.no_device) unlink(root.path("/dev/kvix").c_str());
    const int before = open_fds();
    const std::string out = child_stdout([&] {
      kvix::KvixStandin driver;
      if (c.fail) driver.fail(c.fail, ENOMEM);
      DMABuffer b(c.size, true, 1);
      printf("fd=%d mapped=%d\n", b.fd() >= 0, b.address() != MAP_FAILED);
      if (c.size <= 0) printf("asked=%u\n", driver.requests.empty() ? 99u : driver.requests[0].bytes[4]);
    });
    EXPECT_TRUE(has_message(out, "DMABuffer", c.message)) << c.name << "\n" << out;
    EXPECT_NE(out.find(std::string("fd=") + (c.has_fd ? "1" : "0") + " mapped=0"), std::string::npos) << c.name << out;
    if (c.size <= 0) {
      EXPECT_NE(out.find("asked=0"), std::string::npos) << out;  // 0 bytes asked
    }
    EXPECT_EQ(open_fds(), before);
  }
}

// Hands out mappings one byte past a page start, so that the buffer's own munmap fails.
struct MisalignedMaps : kvix::KvixStandin {
  void* map(int fd, size_t length) override {
    void* p = KvixStandin::map(fd, length);
    return p == MAP_FAILED ? p : static_cast<uint8_t*>(p) + 1;
  }
};

TEST(XqvDevice, DmaBufferFailedUnmapIsReportedByTheDestructor) {
  struct Case {
    const char* name;
    bool by_move;  // ended by a move assignment instead of going out of scope
  };
  for (const Case& c : {Case{"scope", false}, Case{"move", true}}) {
    TempRoot root;
    const std::string out = child_stdout([&] {
      MisalignedMaps driver;
      DMABuffer b(4096, true, 0);
      if (c.by_move) {
        b = DMABuffer(4096, false, 0);
        printf("moved\n");
      }
    });
    EXPECT_TRUE(has_message(out, "~DMABuffer", "munmap failed, err=22")) << c.name << "\n" << out;
    if (c.by_move) {
      EXPECT_LT(out.find("~DMABuffer("), out.find("moved\n")) << out;
    }
  }
}

// Owns a descriptor and a mapping: a copy would close and unmap them twice.
static_assert(!std::is_copy_constructible_v<DMABuffer> && !std::is_copy_assignable_v<DMABuffer>);
static_assert(std::is_nothrow_move_constructible_v<DMABuffer> && std::is_nothrow_move_assignable_v<DMABuffer>);

TEST(XqvDevice, DmaBufferViewsAndMoves) {
  TempRoot root;
  kvix::KvixStandin driver;
  const int before = open_fds();
  {
    DMABuffer parent(3 * 4096, true, 0);
    {
      DMABuffer view(parent, 100);
      EXPECT_TRUE(view.borrowed());
      EXPECT_EQ(view.fd(), parent.fd());
      EXPECT_EQ(view.length(), parent.length());
      EXPECT_EQ(view.address(), static_cast<uint8_t*>(parent.address()) + 100);
      EXPECT_EQ(view.device_value(), parent.device_value() + 100);
      EXPECT_EQ(view.size(), parent.size());
    }
    // The view owned nothing: the parent's mapping and descriptor are still there.
    static_cast<uint8_t*>(parent.address())[0] = 1;
    EXPECT_EQ(fcntl(parent.fd(), F_GETFD), FD_CLOEXEC);

    DMABuffer unmapped(4096, false, 0);
    DMABuffer view2(unmapped, 64);
    EXPECT_EQ(view2.address(), MAP_FAILED);  // a view of an unmapped parent stays unmapped

    uint8_t memory[256];
    DMABuffer borrowed(memory, 0x1234, sizeof memory);
    EXPECT_TRUE(borrowed.borrowed());
    EXPECT_EQ(borrowed.address(), memory);
    EXPECT_EQ(borrowed.fd(), -1);

    DMABuffer moved(std::move(parent));
    EXPECT_EQ(parent.fd(), -1);
    EXPECT_EQ(parent.address(), MAP_FAILED);
    EXPECT_NE(moved.address(), MAP_FAILED);
    DMABuffer target(4096, true, 0);
    target = std::move(moved);
  }
  EXPECT_EQ(open_fds(), before);
}

TEST(XqvDevice, MemoryMapCoversTheWholeRange) {
  TempRoot root;
  Bytes pattern(4 * 4096);
  for (size_t i = 0; i < pattern.size(); ++i) pattern[i] = static_cast<uint8_t>(i * 7 + i / 4096);
  std::ofstream(root.path("/dev/mem"), std::ios::binary).write(reinterpret_cast<char*>(pattern.data()), pattern.size());

  uint64_t length = 20;
  void* base = nullptr;
  auto* p = static_cast<uint8_t*>(memory_map(2 * 4096 - 10, &length, &base));
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(base, p - (4096 - 10));
  EXPECT_EQ(length, 2 * 4096u);  // both pages the range touches
  for (int i = 0; i < 20; ++i) EXPECT_EQ(p[i], pattern[2 * 4096 - 10 + i]) << i;
  EXPECT_EQ(munmap(base, length), 0);

  unlink(root.path("/dev/mem").c_str());
  const std::string out = child_stdout([] {
    g_log_level = 3;
    uint64_t len = 10;
    void* b = nullptr;
    printf("p=%p\n", memory_map(0, &len, &b));
  });
  EXPECT_TRUE(has_message(out, "memory_map", "open failed")) << out;
  EXPECT_NE(out.find("p=(nil)"), std::string::npos) << out;
}

TEST(XqvDevice, UserMmWindowAndItsChecks) {
  TempRoot root;
  Bytes pattern(3 * 4096);
  for (size_t i = 0; i < pattern.size(); ++i) pattern[i] = static_cast<uint8_t>(i ^ (i >> 8));
  std::ofstream(root.path("/dev/mem"), std::ios::binary).write(reinterpret_cast<char*>(pattern.data()), pattern.size());
  const int before = open_fds();
  const std::string out = child_stdout([&] {
    g_log_level = 3;
    UserMM w(4096, 4096 + 99, true);
    printf("ok=%d len=%zu first=%d last=%d\n", w.fd() >= 0, w.length(),
           static_cast<uint8_t*>(w.address())[0] == pattern[4096],
           w.last_byte() == static_cast<uint8_t*>(w.address()) + 4095);
  });
  EXPECT_NE(out.find("ok=1 len=4096 first=1 last=1"), std::string::npos) << out;
  bool debug_line = false;
  for (const std::string& m : messages(out))
    debug_line |= m.find("DEBUG[XqvUtils]: UserMM: 0x1000 ~ 0x1063(0x1000) ==> fd=") != std::string::npos;
  EXPECT_TRUE(debug_line) << out;

  enum MemFile { kKeep, kRemove, kFifo };  // what "/dev/mem" is for the case
  struct Bad {
    uint64_t first, last;
    MemFile mem;
    const char* message;
  };
  const Bad bad[] = {{8192, 4096, kKeep, "bad range 0x2000 ~ 0x1000"},
                     {4097, 8191, kKeep, "bad range 0x1001 ~ 0x1FFF"},
                     {0, 4095, kRemove, "open failed, err=2"},
                     {0, 4095, kFifo, "mmap failed, err=19"}};  // opens, but cannot be mapped
  for (const Bad& b : bad) {
    if (b.mem != kKeep) unlink(root.path("/dev/mem").c_str());
    if (b.mem == kFifo) {
      ASSERT_EQ(mkfifo(root.path("/dev/mem").c_str(), 0600), 0);
    }
    const std::string o = child_stdout([&] {
      UserMM w(b.first, b.last, false);
      printf("fd=%d mapped=%d\n", w.fd(), w.address() != MAP_FAILED);
    });
    EXPECT_TRUE(has_message(o, "UserMM", b.message)) << o;
    EXPECT_NE(o.find("fd=-1 mapped=0"), std::string::npos) << o;
  }
  EXPECT_EQ(open_fds(), before);
}

TEST(XqvDevice, UioEnableWritesOneWord) {
  int p[2];
  ASSERT_EQ(pipe(p), 0);
  uio_enable_irq(p[1], 0xA7);
  uint8_t word[8] = {};
  EXPECT_EQ(read(p[0], word, sizeof word), 4);
  EXPECT_EQ(Bytes(word, word + 4), le32(0xA7));
  close(p[0]);
  close(p[1]);
  const std::string out = child_stdout([] { uio_enable_irq(-1, 1); });
  EXPECT_TRUE(has_message(out, "uio_enable_irq", "write(), err=9")) << out;
}

long long monotonic_ns() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec * 1000000000LL + ts.tv_nsec;
}

TEST(XqvDevice, TimerArmedOnce) {
  const int fd = timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC);
  ASSERT_GE(fd, 0);
  // What is left of 1.5 s, less at most the time between the two clock reads around
  // arming and reading back (no assumption on how long that takes).
  const long long t0 = monotonic_ns();
  SetNextTimer(fd, 1500000);
  itimerspec now{};
  ASSERT_EQ(timerfd_gettime(fd, &now), 0);
  const long long t1 = monotonic_ns();
  EXPECT_EQ(now.it_interval.tv_sec, 0);
  EXPECT_EQ(now.it_interval.tv_nsec, 0);
  const long long left = now.it_value.tv_sec * 1000000000LL + now.it_value.tv_nsec;
  EXPECT_LE(left, 1500000000LL);
  EXPECT_GE(left, 1500000000LL - (t1 - t0));
  SetNextTimer(fd, 0);
  ASSERT_EQ(timerfd_gettime(fd, &now), 0);
  EXPECT_EQ(now.it_value.tv_sec, 0);
  EXPECT_EQ(now.it_value.tv_nsec, 0);
  close(fd);
  const std::string out = child_stdout([] { SetNextTimer(-1, 5); });
  EXPECT_TRUE(has_message(out, "SetNextTimer", "timerfd_settime failed, err = 9")) << out;
}

std::string read_file(const std::string& path) {
  std::ifstream f(path);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

TEST(XqvDevice, SingletonLocksAndHoldsThePidAlone) {
  TempRoot root;
  const std::string pidfile = root.path("/var/run/xqv-test.pid");
  std::ofstream(pidfile) << "1234567890123\n";  // longer than any pid: no stale digits may stay
  int fd = -1;
  Singleton(&fd, "xqv-test");
  ASSERT_GE(fd, 0);
  const std::string mine = std::to_string(getpid()) + "\n";
  EXPECT_EQ(read_file(pidfile), mine);

  // A second instance fails and leaves the file alone.
  const std::string out = child_stdout([] {
    int other = 7;
    Singleton(&other, "xqv-test");
    printf("fd=%d\n", other);
  });
  EXPECT_TRUE(has_message(out, "Singleton", "flock failed, err=11")) << out;
  EXPECT_NE(out.find("fd=-1"), std::string::npos);
  EXPECT_EQ(read_file(pidfile), mine);

  SingletonRelease(&fd);
  EXPECT_EQ(fd, -1);
  const std::string after = child_stdout([] {
    int again = -1;
    Singleton(&again, "xqv-test");
    printf("fd=%d pid=%d\n", again >= 0, static_cast<int>(getpid()));
  });
  EXPECT_NE(after.find("fd=1"), std::string::npos) << after;
  const std::string child_pid = after.substr(after.find("pid=") + 4, after.find('\n', after.find("pid=")) - after.find("pid=") - 4);
  EXPECT_EQ(read_file(pidfile), child_pid + "\n");

  rmdir(root.path("/var/run").c_str());  // nothing to write into: open fails
  std::string cmd = "rm -rf '" + root.path("/var") + "'";
  ASSERT_EQ(system(cmd.c_str()), 0);
  const std::string failed = child_stdout([] {
    int f = 3;
    Singleton(&f, "xqv-test");
    printf("fd=%d\n", f);
  });
  EXPECT_TRUE(has_message(failed, "Singleton", "open failed, err=2")) << failed;
  EXPECT_NE(failed.find("fd=-1"), std::string::npos);
}

}  // namespace
