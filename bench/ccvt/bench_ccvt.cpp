// libvomf_ccvt beside libyuv (its best path on this processor), 1920x1080, one thread:
// YV12 to RGB32 and RGB24, YUY2 to RGB32, and re-matrixing beside a plain plane copy.
// Run pinned to one core: taskset -c 2 build/bench/ccvt/bench_ccvt
#include <benchmark/benchmark.h>
#include <libyuv/convert_argb.h>
#include <libyuv/convert_from.h>
#include <libyuv/cpu_id.h>
#include <libyuv/planar_functions.h>

#include <cstring>
#include <random>
#include <vector>

#include "vomf_ccvt.h"
#include "xqv/log.h"

namespace {

constexpr int kW = 1920, kH = 1080;

struct Frame {
  std::vector<uint8_t> y, u, v, yuy2, out, oy, ou, ov;
  Frame()
      : y(kW * kH), u(kW * kH / 4), v(kW * kH / 4), yuy2(kW * kH * 2), out(kW * kH * 4),
        oy(kW * kH), ou(kW * kH / 4), ov(kW * kH / 4) {
    std::mt19937 rng(1);
    for (auto* p : {&y, &u, &v, &yuy2})
      for (auto& b : *p) b = static_cast<uint8_t>(rng());
  }
};

Frame& frame() {
  static Frame f;
  return f;
}

// Time is per 1920x1080 frame; items are frames.
void finish(benchmark::State& state) { state.SetItemsProcessed(state.iterations()); }

// libyuv held to the instruction sets our converters may use (SSE2, SSSE3), for reference
// beside its best path.
struct LibyuvSsse3Only {
  LibyuvSsse3Only() {
    libyuv::MaskCpuFlags(libyuv::kCpuInitialized | libyuv::kCpuHasX86 | libyuv::kCpuHasSSE2 |
                         libyuv::kCpuHasSSSE3);
  }
  ~LibyuvSsse3Only() { libyuv::MaskCpuFlags(-1); }
};

void BM_ccvt_yv12_rgb32(benchmark::State& state) {
  XqvUtils::g_log_level = 5;  // no trace line per call
  Frame& f = frame();
  for (auto _ : state) {
    vomf_ccvt_yv12_rgb32(kW, kH, f.y.data(), f.u.data(), f.v.data(), kW, kW / 2, kW / 2, f.out.data(), kW * 4, 1);
    benchmark::ClobberMemory();
  }
  finish(state);
}
void BM_libyuv_I420ToARGB(benchmark::State& state) {
  Frame& f = frame();
  for (auto _ : state) {
    libyuv::I420ToARGB(f.y.data(), kW, f.u.data(), kW / 2, f.v.data(), kW / 2, f.out.data(), kW * 4, kW, kH);
    benchmark::ClobberMemory();
  }
  finish(state);
}
void BM_ccvt_yv12_rgb24(benchmark::State& state) {
  Frame& f = frame();
  for (auto _ : state) {
    vomf_ccvt_yv12_rgb24(kW, kH, f.y.data(), f.u.data(), f.v.data(), kW, kW / 2, kW / 2, f.out.data(), kW * 3, 1);
    benchmark::ClobberMemory();
  }
  finish(state);
}
void BM_libyuv_I420ToRGB24(benchmark::State& state) {
  Frame& f = frame();
  for (auto _ : state) {
    libyuv::I420ToRGB24(f.y.data(), kW, f.u.data(), kW / 2, f.v.data(), kW / 2, f.out.data(), kW * 3, kW, kH);
    benchmark::ClobberMemory();
  }
  finish(state);
}
void BM_ccvt_yv12_rgb32_sony(benchmark::State& state) {
  Frame& f = frame();
  for (auto _ : state) {
    vomf_ccvt_yv12_rgb32_sony(kW, kH, f.y.data(), f.u.data(), f.v.data(), kW, kW / 2, kW / 2, f.out.data(), kW * 4, 1);
    benchmark::ClobberMemory();
  }
  finish(state);
}
void BM_ccvt_yuy2_rgb32(benchmark::State& state) {
  Frame& f = frame();
  for (auto _ : state) {
    vomf_ccvt_yuy2_rgb32(kW, kH, f.yuy2.data(), kW * 2, f.out.data(), kW * 4, 1);
    benchmark::ClobberMemory();
  }
  finish(state);
}
void BM_libyuv_YUY2ToARGB(benchmark::State& state) {
  Frame& f = frame();
  for (auto _ : state) {
    libyuv::YUY2ToARGB(f.yuy2.data(), kW * 2, f.out.data(), kW * 4, kW, kH);
    benchmark::ClobberMemory();
  }
  finish(state);
}
void BM_ccvt_yv12_bt2020(benchmark::State& state) {
  Frame& f = frame();
  for (auto _ : state) {
    vomf_ccvt_yv12_bt2020(kW, kH, f.y.data(), f.u.data(), f.v.data(), kW, kW / 2, kW / 2, f.oy.data(),
                          f.ou.data(), f.ov.data(), kW, kW / 2, kW / 2, 4);
    benchmark::ClobberMemory();
  }
  finish(state);
}
void BM_ccvt_yv12_sony(benchmark::State& state) {
  Frame& f = frame();
  for (auto _ : state) {
    vomf_ccvt_yv12_sony(kW, kH, f.y.data(), f.u.data(), f.v.data(), kW, kW / 2, kW / 2, f.oy.data(),
                        f.ou.data(), f.ov.data(), kW, kW / 2, kW / 2, 4);
    benchmark::ClobberMemory();
  }
  finish(state);
}
void BM_copy_memcpy_planes(benchmark::State& state) {
  Frame& f = frame();
  for (auto _ : state) {
    memcpy(f.oy.data(), f.y.data(), f.y.size());
    memcpy(f.ou.data(), f.u.data(), f.u.size());
    memcpy(f.ov.data(), f.v.data(), f.v.size());
    benchmark::ClobberMemory();
  }
  finish(state);
}
void BM_libyuv_I420Copy(benchmark::State& state) {
  Frame& f = frame();
  for (auto _ : state) {
    libyuv::I420Copy(f.y.data(), kW, f.u.data(), kW / 2, f.v.data(), kW / 2, f.oy.data(), kW, f.ou.data(),
                     kW / 2, f.ov.data(), kW / 2, kW, kH);
    benchmark::ClobberMemory();
  }
  finish(state);
}

void BM_libyuv_I420ToARGB_ssse3(benchmark::State& state) {
  const LibyuvSsse3Only ssse3;
  BM_libyuv_I420ToARGB(state);
}
void BM_libyuv_I420ToRGB24_ssse3(benchmark::State& state) {
  const LibyuvSsse3Only ssse3;
  BM_libyuv_I420ToRGB24(state);
}
void BM_libyuv_YUY2ToARGB_ssse3(benchmark::State& state) {
  const LibyuvSsse3Only ssse3;
  BM_libyuv_YUY2ToARGB(state);
}

BENCHMARK(BM_ccvt_yv12_rgb32);
BENCHMARK(BM_libyuv_I420ToARGB);
BENCHMARK(BM_libyuv_I420ToARGB_ssse3);
BENCHMARK(BM_ccvt_yv12_rgb24);
BENCHMARK(BM_libyuv_I420ToRGB24);
BENCHMARK(BM_libyuv_I420ToRGB24_ssse3);
BENCHMARK(BM_ccvt_yv12_rgb32_sony);
BENCHMARK(BM_ccvt_yuy2_rgb32);
BENCHMARK(BM_libyuv_YUY2ToARGB);
BENCHMARK(BM_libyuv_YUY2ToARGB_ssse3);
BENCHMARK(BM_ccvt_yv12_bt2020);
BENCHMARK(BM_ccvt_yv12_sony);
BENCHMARK(BM_copy_memcpy_planes);
BENCHMARK(BM_libyuv_I420Copy);

}  // namespace

BENCHMARK_MAIN();
