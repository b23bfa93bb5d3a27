// Logger line layout and level gating, in child processes (the level is process-wide).
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "child_output.h"
#include "xqv/codec.h"
#include "xqv/log.h"

namespace {

using testsupport_ccvt::child_stdout;

std::string with_level(const char* level, void (*fn)()) {
  return child_stdout([level, fn] {
    if (level) setenv("KVIX_LOG_LEVEL", level, 1); else unsetenv("KVIX_LOG_LEVEL");
    XqvUtils::log_level_init();
    fn();
  });
}

constexpr int kErrorLine = __LINE__ + 9;

TEST(XqvLog, LineLayoutOfTheThreePrinters) {
  const std::string out = with_level("0", [] {
    XqvUtils::log_debug("debug %d", 1);
    XqvUtils::log_error("error %s", "two");
    XqvUtils::Logger logger;
    XqvUtils::logger_init(&logger, 5, "[0;32mCAP");
    XqvUtils::logger_print(&logger, "tagged %x", 255);
    XQV_ERROR("failed, err=%d", 5);  // line kErrorLine
  });
  const auto lines = testsupport_ccvt::log_lines(out);
  ASSERT_EQ(lines.size(), 4u) << out;
  EXPECT_EQ(out.substr(out.size() - 5), "\n\033[0m");
  const std::string error_line =
      "\033[1;31mERROR[XqvUtils]: operator()(" + std::to_string(kErrorLine) + "): failed, err=5";
  const std::string want[4] = {
      "\033[0;36mDEBUG[XqvUtils]: debug 1",
      "\033[1;31mERROR[XqvUtils]: error two",
      "\033[0;32mCAP: tagged ff",
      error_line,
  };
  for (int i = 0; i < 4; ++i) {
    long long ms = 0;
    std::string rest;
    ASSERT_TRUE(testsupport_ccvt::split_stamp(lines[i], &ms, &rest)) << lines[i];
    EXPECT_EQ(rest, want[i]);
  }
}

TEST(XqvLog, LongMessagesPrintWhole) {
  // Lengths on both sides of what fits one line buffer, through a plain and a tagged printer.
  for (int length : {10, 990, 1000, 1010, 1024, 5000, 70000}) {
    const std::string out = child_stdout([length] {
      const std::string text(static_cast<size_t>(length), 'm');
      XqvUtils::log_error("<%s>", text.c_str());
      XqvUtils::Logger logger;
      XqvUtils::logger_init(&logger, 9, "[0;35mLONG");
      XqvUtils::logger_print(&logger, "<%s>", text.c_str());
    });
    const std::string text(static_cast<size_t>(length), 'm');
    const auto lines = testsupport_ccvt::log_lines(out);
    ASSERT_EQ(lines.size(), 2u) << length;
    EXPECT_EQ(out.substr(out.size() - 5), "\n\033[0m") << length;
    const std::string want[2] = {"\033[1;31mERROR[XqvUtils]: <" + text + ">", "\033[0;35mLONG: <" + text + ">"};
    for (int i = 0; i < 2; ++i) {
      long long ms = 0;
      std::string rest;
      ASSERT_TRUE(testsupport_ccvt::split_stamp(lines[i], &ms, &rest)) << length;
      EXPECT_EQ(rest, want[i]) << length;
    }
  }
}

TEST(XqvLog, StampSplitsTheMonotonicClock) {
  long long ms = 0;
  std::string rest;
  ASSERT_TRUE(testsupport_ccvt::split_stamp("[27:05:09:042] x", &ms, &rest));
  EXPECT_EQ(ms, ((27 * 60 + 5) * 60 + 9) * 1000LL + 42);
  EXPECT_EQ(rest, "x");
  EXPECT_FALSE(testsupport_ccvt::split_stamp("[1:5:09:042] x", &ms, &rest));
  EXPECT_FALSE(testsupport_ccvt::split_stamp("[1:05:09:42] x", &ms, &rest));
}

void print_all() {
  XqvUtils::log_debug("D");
  XqvUtils::log_error("E");
  XqvUtils::Logger l4, l6;
  XqvUtils::logger_init(&l4, 4, "[0mL4");
  XqvUtils::logger_init(&l6, 6, "[0mL6");
  XqvUtils::logger_print(&l4, "x");
  XqvUtils::logger_print(&l6, "y");
}

TEST(XqvLog, LevelGatingByEnvironment) {
  struct Case {
    const char* level;
    bool debug, error, l4, l6;
  };
  const Case cases[] = {
      {nullptr, false, true, true, true},  // initial level 4: errors, not debug
      {"3", true, true, true, true},      {"4", false, true, true, true},
      {"5", false, true, false, true},    {"6", false, true, false, true},
      {"7", false, false, false, false},  {"0x3", true, true, true, true},
      {"bad", false, true, true, true},
  };
  for (const Case& c : cases) {
    const std::string out = with_level(c.level, print_all);
    const char* name = c.level ? c.level : "unset";
    EXPECT_EQ(out.find("DEBUG[XqvUtils]: D\n") != std::string::npos, c.debug) << name;
    EXPECT_EQ(out.find("ERROR[XqvUtils]: E\n") != std::string::npos, c.error) << name;
    EXPECT_EQ(out.find("L4: x\n") != std::string::npos, c.l4) << name;
    EXPECT_EQ(out.find("L6: y\n") != std::string::npos, c.l6) << name;
  }
}

TEST(XqvLog, LogLevelInitReturnsTheLevel) {
  const std::string out = child_stdout([] {
    setenv("KVIX_LOG_LEVEL", "2", 1);
    const int level = XqvUtils::log_level_init();
    printf("%d %d", level, XqvUtils::g_log_level);
    unsetenv("KVIX_LOG_LEVEL");
    printf(" %d", XqvUtils::log_level_init());
  });
  EXPECT_EQ(out, "2 2 4");
}

TEST(XqvLog, DumpExtraData) {
  const std::string out = with_level("3", [] {
    const uint8_t bytes[] = {0x00, 0x0A, 0xFF};
    XqvUtils::dump_extra_data(bytes, 3);
  });
  EXPECT_NE(out.find("DEBUG[XqvUtils]: extra_data[3]=  0   A  FF \n"), std::string::npos) << out;
}

}  // namespace
