// The dynamic symbol table of libvomf_ccvt, read back with objdump and nm: the 18
// converters and the utility layer at VER_1.0, nothing else of the library, and the
// utility layer's classes and functions under their own names.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
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

std::string run(const std::string& command) {
  FILE* f = popen(command.c_str(), "r");
  if (!f) return "";
  std::string text;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
  if (pclose(f) != 0) return "";
  return text;
}

// Demangled names of the defined dynamic symbols, without their version.
std::set<std::string> exported_names() {
  const std::string text = run("nm -DC --defined-only '" CCVT_LIBRARY_FILE "'");
  std::set<std::string> names;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    // "<address> <type> <name>@@VER_1.0"
    const size_t a = line.find(' '), b = a == std::string::npos ? a : line.find(' ', a + 1);
    if (b == std::string::npos) continue;
    std::string name = line.substr(b + 1);
    const size_t at = name.find("@@");
    if (at != std::string::npos) name.erase(at);
    names.insert(name);
  }
  return names;
}

// The layer's entity a demangled name belongs to: "XqvUtils::DMABuffer::~DMABuffer()" and
// "vtable for XqvUtils::DMABuffer" give "DMABuffer"; "" outside the layer.
std::string layer_entity(std::string name) {
  for (const char* prefix : {"vtable for ", "typeinfo name for ", "typeinfo for "})
    if (name.rfind(prefix, 0) == 0) name.erase(0, strlen(prefix));
  if (name.rfind("XqvUtils::", 0) != 0) return "";
  name.erase(0, strlen("XqvUtils::"));
  const size_t end = name.find_first_of(":(<");
  return name.substr(0, end);
}

TEST(CcvtExports, AudioFamilyUnderItsOwnNames) {
  const std::set<std::string> names = exported_names();
  ASSERT_FALSE(names.empty());
  const std::set<std::string> family = {
      "audio_sampler",   "audio_dup_u8c1",     "audio_dup_u8c2",     "audio_dup_s16c1",   "audio_dup_s16c2",
      "audio_dup_s16p2", "audio_dup_fltc1",    "audio_dup_fltc2",    "audio_dup_fltp2",   "audio_scaler_s16c1",
      "audio_scaler_s16c2", "audio_scaler_s16p2", "audio_scale_s16", "audio_mix_s16"};
  std::set<std::string> found;
  for (const std::string& n : names) {
    const std::string e = layer_entity(n);
    if (e.rfind("audio", 0) == 0) found.insert(e);
  }
  EXPECT_EQ(found, family);  // no template or alias standing in for a member
  const char* kProcess = "::process(void const* const*, int, void* const*, int, int)";
  for (const char* c : {"audio_dup_u8c1", "audio_dup_u8c2", "audio_dup_s16c1", "audio_dup_s16c2", "audio_dup_s16p2",
                        "audio_dup_fltc1", "audio_dup_fltc2", "audio_dup_fltp2", "audio_scaler_s16c1",
                        "audio_scaler_s16c2", "audio_scaler_s16p2"}) {
    const std::string cls = std::string("XqvUtils::") + c;
    for (const std::string& want : {cls + kProcess, "vtable for " + cls, "typeinfo for " + cls, "typeinfo name for " + cls})
      EXPECT_TRUE(names.count(want)) << want;
  }
}

TEST(CcvtExports, EveryNamedEntityOfTheUtilityLayer) {
  const std::set<std::string> names = exported_names();
  std::set<std::string> entities;
  for (const std::string& n : names) entities.insert(layer_entity(n));
  for (const char* e :
       {"log_debug", "log_error", "logger_init", "logger_print", "log_level_init", "parse_uint", "env_get_int",
        "fill_planes", "color_rgb_to_yuv", "find_start_code", "is_h264_idr", "is_hevc_idr", "make_h264_extra_data",
        "make_hevc_extra_data", "dump_extra_data", "make_aac_config", "pixel_format_name", "memory_map", "UserMM",
        "DMABuffer", "uio_enable_irq", "SetNextTimer", "IrqHandler", "Singleton", "GenericClock", "StepClock",
        "SmoothClock", "PerfectClock", "TimeFilter", "FramePacer", "monotonic_us", "volume_db_16s", "volume_db_32f",
        "ThreadedParallels", "split_tiles"})
    EXPECT_TRUE(entities.count(e)) << e;
}

}  // namespace
