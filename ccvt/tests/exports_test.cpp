// The dynamic symbol table of libvomf_ccvt, read back with objdump: the 18 converters and
// the utility layer at VER_1.0, nothing else of the library.
#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <sstream>
#include <string>

namespace {

TEST(CcvtExports, ConvertersAndUtilityLayerAtVer10Only) {
  FILE* f = popen("objdump -T -C '" CCVT_LIBRARY_FILE "'", "r");
  ASSERT_NE(f, nullptr);
  std::string text;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
  ASSERT_EQ(pclose(f), 0);

  const std::set<std::string> converters = {
      "vomf_ccvt_yv12_rgb24",      "vomf_ccvt_yv12_bgr24",      "vomf_ccvt_yv12_rgb32",
      "vomf_ccvt_yv12_bgr32",      "vomf_ccvt_yv12_rgb24_sony", "vomf_ccvt_yv12_bgr24_sony",
      "vomf_ccvt_yv12_rgb32_sony", "vomf_ccvt_yv12_bgr32_sony", "vomf_ccvt_yuy2_rgb24",
      "vomf_ccvt_yuy2_bgr24",      "vomf_ccvt_yuy2_rgb32",      "vomf_ccvt_yuy2_bgr32",
      "vomf_ccvt_yuy2_rgb24_sony", "vomf_ccvt_yuy2_bgr24_sony", "vomf_ccvt_yuy2_rgb32_sony",
      "vomf_ccvt_yuy2_bgr32_sony", "vomf_ccvt_yv12_bt2020",     "vomf_ccvt_yv12_sony"};
  std::set<std::string> found;
  int utils = 0;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    // "<addr> g    DF .text <size>  VER_1.0     <name>"; undefined imports are not ours.
    if (line.find("*UND*") != std::string::npos) continue;
    std::istringstream cols(line);
    std::string addr, bind;
    if (!(cols >> addr >> bind) || addr.size() != 16 || (bind != "g" && bind != "w" && bind != "u")) continue;
    const size_t ver = line.find("VER_1.0");
    ASSERT_NE(ver, std::string::npos) << "unversioned export: " << line;
    std::string name = line.substr(ver + 7);
    name.erase(0, name.find_first_not_of(' '));
    if (name == "VER_1.0") continue;  // the version definition itself
    if (name.rfind("XqvUtils::", 0) == 0 || name.rfind("vtable for XqvUtils::", 0) == 0 ||
        name.rfind("typeinfo for XqvUtils::", 0) == 0 ||
        name.rfind("typeinfo name for XqvUtils::", 0) == 0) {
      ++utils;
      continue;
    }
    ASSERT_TRUE(converters.count(name)) << "unexpected export: " << line;
    found.insert(name);
  }
  EXPECT_EQ(found, converters);
  EXPECT_GT(utils, 10);
}

}  // namespace
