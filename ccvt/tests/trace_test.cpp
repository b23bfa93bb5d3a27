// The trace line of vomf_ccvt_yv12_rgb32 and its gating by the shared log level, in a
// child process each.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "utils/tests/child_output.h"
#include "vomf_ccvt.h"
#include "xqv/log.h"

namespace {

long long monotonic_ms() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<long long>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

std::string convert_in_child(const char* level) {
  return testsupport_ccvt::child_stdout([level] {
    if (level) setenv("KVIX_LOG_LEVEL", level, 1); else unsetenv("KVIX_LOG_LEVEL");
    XqvUtils::log_level_init();
    std::vector<uint8_t> y(64 * 2, 16), u(48, 128), v(48, 128), dst(200 * 2);
    vomf_ccvt_yv12_rgb32(32, 2, y.data(), u.data(), v.data(), 64, 24, 48, dst.data(), 200, 3);
    // Only this converter traces.
    vomf_ccvt_yv12_bgr32(32, 2, y.data(), u.data(), v.data(), 64, 24, 48, dst.data(), 200, 3);
    vomf_ccvt_yv12_rgb24(32, 2, y.data(), u.data(), v.data(), 64, 24, 48, dst.data(), 200, 3);
    vomf_ccvt_yv12_rgb32_sony(32, 2, y.data(), u.data(), v.data(), 64, 24, 48, dst.data(), 200, 3);
  });
}

TEST(CcvtTrace, LineLayout) {
  const long long before = monotonic_ms();
  const std::string out = convert_in_child(nullptr);
  const long long after = monotonic_ms();
  // One line, ending with a newline and the colour reset.
  ASSERT_EQ(out.size() > 5 ? out.substr(out.size() - 5) : "", "\n\033[0m") << out;
  const auto lines = testsupport_ccvt::log_lines(out);
  ASSERT_EQ(lines.size(), 1u) << out;
  long long stamp = 0;
  std::string rest;
  ASSERT_TRUE(testsupport_ccvt::split_stamp(lines[0], &stamp, &rest)) << out;
  EXPECT_EQ(rest,
            "\033[0mINFO[ccvt]: vomf_ccvt_yv12_rgb32(1051): Y_stride=64, U_stride=24, V_stride=48, "
            "RGB_stride=200, yuv_type=3");
  EXPECT_GE(stamp, before);
  EXPECT_LE(stamp, after);
}

TEST(CcvtTrace, PrintsOnlyWhileTheLevelIsAtMostFour) {
  struct Case {
    const char* level;
    bool prints;
  };
  const Case cases[] = {{nullptr, true}, {"4", true}, {"3", true}, {"0", true},
                        {"5", false},    {"6", false}, {"0x7", false}, {"junk", true}};
  for (const Case& c : cases) {
    const std::string out = convert_in_child(c.level);
    EXPECT_EQ(out.find("INFO[ccvt]") != std::string::npos, c.prints) << (c.level ? c.level : "unset");
    if (c.prints) {
      EXPECT_EQ(out.find("INFO[ccvt]"), out.rfind("INFO[ccvt]")) << "one line per call";
    }
  }
}

}  // namespace
