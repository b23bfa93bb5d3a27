// The exports under test, with the layout each one writes.
#pragma once

#include <vector>

#include "reference.h"
#include "vomf_ccvt.h"

namespace ccvt_test {

using Yv12Fn = void (*)(int, int, const uint8_t*, const uint8_t*, const uint8_t*, int, int, int,
                        uint8_t*, int, int);
using Yuy2Fn = void (*)(int, int, const uint8_t*, int, uint8_t*, int, int);
using RematrixFn = void (*)(int, int, const uint8_t*, const uint8_t*, const uint8_t*, int, int, int,
                            uint8_t*, uint8_t*, uint8_t*, int, int, int, int);

struct Yv12Conv {
  const char* name;
  Yv12Fn fn;
  ref::Layout layout;
};
struct Yuy2Conv {
  const char* name;
  Yuy2Fn fn;
  ref::Layout layout;
};
struct RematrixConv {
  const char* name;
  RematrixFn fn;
  bool sony;
};

inline const std::vector<Yv12Conv>& yv12_converters() {
  static const std::vector<Yv12Conv> v = {
      {"yv12_rgb24", vomf_ccvt_yv12_rgb24, {false, 3, false}},
      {"yv12_bgr24", vomf_ccvt_yv12_bgr24, {true, 3, false}},
      {"yv12_rgb32", vomf_ccvt_yv12_rgb32, {false, 4, false}},
      {"yv12_bgr32", vomf_ccvt_yv12_bgr32, {true, 4, false}},
      {"yv12_rgb24_sony", vomf_ccvt_yv12_rgb24_sony, {false, 3, true}},
      {"yv12_bgr24_sony", vomf_ccvt_yv12_bgr24_sony, {true, 3, true}},
      {"yv12_rgb32_sony", vomf_ccvt_yv12_rgb32_sony, {false, 4, true}},
      {"yv12_bgr32_sony", vomf_ccvt_yv12_bgr32_sony, {true, 4, true}},
  };
  return v;
}

inline const std::vector<Yuy2Conv>& yuy2_converters() {
  static const std::vector<Yuy2Conv> v = {
      {"yuy2_rgb24", vomf_ccvt_yuy2_rgb24, {false, 3, false}},
      {"yuy2_bgr24", vomf_ccvt_yuy2_bgr24, {true, 3, false}},
      {"yuy2_rgb32", vomf_ccvt_yuy2_rgb32, {false, 4, false}},
      {"yuy2_bgr32", vomf_ccvt_yuy2_bgr32, {true, 4, false}},
      {"yuy2_rgb24_sony", vomf_ccvt_yuy2_rgb24_sony, {false, 3, true}},
      {"yuy2_bgr24_sony", vomf_ccvt_yuy2_bgr24_sony, {true, 3, true}},
      {"yuy2_rgb32_sony", vomf_ccvt_yuy2_rgb32_sony, {false, 4, true}},
      {"yuy2_bgr32_sony", vomf_ccvt_yuy2_bgr32_sony, {true, 4, true}},
  };
  return v;
}

inline const std::vector<RematrixConv>& rematrix_converters() {
  static const std::vector<RematrixConv> v = {
      {"yv12_bt2020", vomf_ccvt_yv12_bt2020, false},
      {"yv12_sony", vomf_ccvt_yv12_sony, true},
  };
  return v;
}

}  // namespace ccvt_test
