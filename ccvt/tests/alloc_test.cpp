// Converters allocate nothing: every export runs once at the default log level (so the
// trace line of vomf_ccvt_yv12_rgb32 is formatted and printed) while every heap
// allocation of the process is counted.
//
// Counting: this program replaces malloc and its relatives with forwarders to glibc's
// own entry points. Under a sanitizer, whose allocator already owns those names, the
// count comes from the sanitizer's allocation hooks instead.
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "converters.h"
#include "utils/tests/child_output.h"
#include "xqv/log.h"

namespace {

std::atomic<bool> g_counting{false};
std::atomic<long> g_allocations{0};

void count_one() {
  if (g_counting.load(std::memory_order_relaxed)) g_allocations.fetch_add(1, std::memory_order_relaxed);
}

}  // namespace

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)

extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*malloc_hook)(const volatile void*, size_t),
                                                         void (*free_hook)(const volatile void*));

namespace {
void on_malloc(const volatile void*, size_t) { count_one(); }
void on_free(const volatile void*) {}
void install_counter() { __sanitizer_install_malloc_and_free_hooks(on_malloc, on_free); }
}  // namespace

#else

extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t n, size_t size);
void* __libc_realloc(void* p, size_t size);
void* __libc_memalign(size_t alignment, size_t size);
void __libc_free(void* p);

void* malloc(size_t size) {
  count_one();
  return __libc_malloc(size);
}
void* calloc(size_t n, size_t size) {
  count_one();
  return __libc_calloc(n, size);
}
void* realloc(void* p, size_t size) {
  count_one();
  return __libc_realloc(p, size);
}
void* memalign(size_t alignment, size_t size) {
  count_one();
  return __libc_memalign(alignment, size);
}
void* aligned_alloc(size_t alignment, size_t size) {
  count_one();
  return __libc_memalign(alignment, size);
}
int posix_memalign(void** out, size_t alignment, size_t size) {
  count_one();
  void* p = __libc_memalign(alignment, size);
  if (!p) return ENOMEM;
  *out = p;
  return 0;
}
void free(void* p) { __libc_free(p); }
}  // extern "C"

namespace {
void install_counter() {}
}  // namespace

#endif

namespace {

using namespace ccvt_test;

// A 64 x 4 picture in every layout, 64-byte aligned, strides multiples of 16.
struct Buffers {
  static constexpr int kW = 64, kH = 4;
  std::vector<uint8_t> store;
  uint8_t *y, *u, *v, *yuy2, *rgb, *oy, *ou, *ov;
  Buffers() : store(64 * 1024 + 64, 0x80) {
    uint8_t* p = store.data() + (64 - reinterpret_cast<uintptr_t>(store.data()) % 64);
    auto take = [&p](size_t n) {
      uint8_t* q = p;
      p += (n + 63) / 64 * 64;
      return q;
    };
    y = take(kW * kH);
    u = take(kW / 2 * kH / 2);
    v = take(kW / 2 * kH / 2);
    yuy2 = take(kW * 2 * kH);
    rgb = take(kW * 4 * kH);
    oy = take(kW * kH);
    ou = take(kW / 2 * kH / 2);
    ov = take(kW / 2 * kH / 2);
  }
};

TEST(CcvtAllocations, NoConverterAllocatesAtTheDefaultLogLevel) {
  install_counter();
  const std::string out = testsupport_ccvt::child_stdout([] {
    unsetenv("KVIX_LOG_LEVEL");
    printf("level=%d\n", XqvUtils::log_level_init());
    // stdio allocates the stream's buffer at its first output: let that happen here.
    fflush(stdout);
    Buffers b;
    const int w = Buffers::kW, h = Buffers::kH;
    auto counted = [](const char* name, auto&& call) {
      g_allocations.store(0);
      g_counting.store(true);
      call();
      g_counting.store(false);
      printf("count %s=%ld\n", name, g_allocations.load());
    };
    for (const Yv12Conv& c : yv12_converters())
      counted(c.name, [&] { c.fn(w, h, b.y, b.u, b.v, w, w / 2, w / 2, b.rgb, w * 4, 1); });
    for (const Yuy2Conv& c : yuy2_converters())
      counted(c.name, [&] { c.fn(w, h, b.yuy2, w * 2, b.rgb, w * 4, 1); });
    for (const RematrixConv& c : rematrix_converters())
      counted(c.name, [&] {
        c.fn(w, h, b.y, b.u, b.v, w, w / 2, w / 2, b.oy, b.ou, b.ov, w, w / 2, w / 2, 4);
      });
  });
  EXPECT_NE(out.find("level=4\n"), std::string::npos) << out;
  // The trace line was formatted and written inside the counted call.
  EXPECT_NE(out.find("INFO[ccvt]: vomf_ccvt_yv12_rgb32(1051): Y_stride=64, U_stride=32, V_stride=32, "
                     "RGB_stride=256, yuv_type=1\n"),
            std::string::npos)
      << out;
  std::vector<std::string> names;
  for (const Yv12Conv& c : yv12_converters()) names.push_back(c.name);
  for (const Yuy2Conv& c : yuy2_converters()) names.push_back(c.name);
  for (const RematrixConv& c : rematrix_converters()) names.push_back(c.name);
  ASSERT_EQ(names.size(), 18u);
  for (const std::string& name : names)
    EXPECT_NE(out.find("count " + name + "=0\n"), std::string::npos) << name << "\n" << out;
  // The counter does count: one allocation of the test's own is seen.
  g_allocations.store(0);
  g_counting.store(true);
  void* volatile p = malloc(32);
  g_counting.store(false);
  free(p);
  EXPECT_EQ(g_allocations.load(), 1);
}

}  // namespace
